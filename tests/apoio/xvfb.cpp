#include "apoio/xvfb.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace velorin::teste {

namespace {

bool NoPath(const char* nome) {
    const char* path = std::getenv("PATH");
    std::string p = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t i = 0;
    while (i <= p.size()) {
        std::size_t f = p.find(':', i);
        if (f == std::string::npos) f = p.size();
        const std::string c = p.substr(i, f - i) + "/" + nome;
        if (::access(c.c_str(), X_OK) == 0) return true;
        i = f + 1;
    }
    return false;
}

// Waits for the child to end within `ms`; true when it was reaped.
bool EsperarFim(pid_t pid, int ms) {
    const auto fim = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < fim) {
        int st = 0;
        const pid_t r = ::waitpid(pid, &st, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) return true;
        ::usleep(10000);
    }
    return false;
}

}  // namespace

TXvfb::TXvfb() {
    if (!NoPath("Xvfb")) {
        motivo_ = "Xvfb nao instalado (apt-get install xvfb)";
        return;
    }
    int canal[2];
    if (::pipe(canal) != 0) {
        motivo_ = "pipe falhou";
        return;
    }
    ::fcntl(canal[0], F_SETFD, FD_CLOEXEC);
    const std::string fd = std::to_string(canal[1]);
    const char* argv[] = {"Xvfb",        "-displayfd", fd.c_str(), "-screen",  "0",
                          "1280x800x24", "-nolisten",  "tcp",      "-noreset", nullptr};
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_addopen(&acoes, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&acoes, 2, "/dev/null", O_WRONLY, 0);
    const int r = ::posix_spawnp(&pid_, "Xvfb", &acoes, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&acoes);
    ::close(canal[1]);
    if (r != 0) {
        pid_ = -1;
        ::close(canal[0]);
        motivo_ = std::string("nao iniciou: ") + std::strerror(r);
        return;
    }
    // The server writes its display number once it accepts connections.
    std::string lido;
    const auto fim = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (lido.find('\n') == std::string::npos && std::chrono::steady_clock::now() < fim) {
        pollfd p{canal[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char b[32];
        const ssize_t n = ::read(canal[0], b, sizeof b);
        if (n <= 0) break;
        lido.append(b, static_cast<std::size_t>(n));
    }
    ::close(canal[0]);
    if (lido.find('\n') == std::string::npos) {
        motivo_ = "nao informou o display";
        return;
    }
    nome_ = ":" + lido.substr(0, lido.find('\n'));
    if (const char* d = std::getenv("DISPLAY")) {
        havia_display_ = true;
        display_anterior_ = d;
    }
    ::setenv("DISPLAY", nome_.c_str(), 1);
}

TXvfb::~TXvfb() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        if (!EsperarFim(pid_, 5000)) {
            ::kill(pid_, SIGKILL);
            (void)EsperarFim(pid_, 5000);
        }
    }
    if (!nome_.empty()) {
        if (havia_display_) {
            ::setenv("DISPLAY", display_anterior_.c_str(), 1);
        } else {
            ::unsetenv("DISPLAY");
        }
    }
}

TJanelaTeste::TJanelaTeste() {
    dpy_ = XOpenDisplay(nullptr);
    if (dpy_ == nullptr) return;
    const int tela = DefaultScreen(dpy_);
    janela_ = XCreateSimpleWindow(dpy_, RootWindow(dpy_, tela), 0, 0,
                                  static_cast<unsigned>(DisplayWidth(dpy_, tela)),
                                  static_cast<unsigned>(DisplayHeight(dpy_, tela)), 0, 0, 0);
    XSelectInput(
        dpy_, janela_,
        KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);
    XMapRaised(dpy_, janela_);
    // Without a window manager the focus must be set by hand, once the window is viewable.
    for (;;) {
        XEvent e;
        XNextEvent(dpy_, &e);
        if (e.type == MapNotify) break;
    }
    XSetInputFocus(dpy_, janela_, RevertToParent, CurrentTime);
    XSync(dpy_, False);
}

TJanelaTeste::~TJanelaTeste() {
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
}

void TJanelaTeste::Drenar() {
    XSync(dpy_, False);
    while (XPending(dpy_) > 0) {
        XEvent e;
        XNextEvent(dpy_, &e);
        TEventoX ev;
        ev.tipo = e.type;
        if (e.type == KeyPress || e.type == KeyRelease) {
            int por = 0;
            KeySym* m = XGetKeyboardMapping(dpy_, static_cast<KeyCode>(e.xkey.keycode), 1, &por);
            if (m != nullptr) {
                const int coluna =
                    (e.xkey.state & ShiftMask) && por > 1 && m[1] != NoSymbol ? 1 : 0;
                ev.simbolo = m[coluna];
                XFree(m);
            }
        } else if (e.type == ButtonPress || e.type == ButtonRelease) {
            ev.botao = e.xbutton.button;
        } else {
            continue;
        }
        eventos_.push_back(ev);
    }
}

std::vector<unsigned long> TJanelaTeste::TeclasPressionadas() const {
    std::vector<unsigned long> r;
    for (const auto& e : eventos_) {
        if (e.tipo == KeyPress) r.push_back(e.simbolo);
    }
    return r;
}

void TJanelaTeste::Ponteiro(int& x, int& y) const {
    Window raiz = 0, filho = 0;
    int wx = 0, wy = 0;
    unsigned mascara = 0;
    XQueryPointer(dpy_, DefaultRootWindow(dpy_), &raiz, &filho, &x, &y, &wx, &wy, &mascara);
}

std::vector<unsigned long> TJanelaTeste::MapaTeclado() const {
    int min = 0, max = 0, por = 0;
    XDisplayKeycodes(dpy_, &min, &max);
    KeySym* m = XGetKeyboardMapping(dpy_, static_cast<KeyCode>(min), max - min + 1, &por);
    std::vector<unsigned long> r(m, m + (max - min + 1) * por);
    XFree(m);
    r.push_back(static_cast<unsigned long>(por));
    return r;
}

}  // namespace velorin::teste
