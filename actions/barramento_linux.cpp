#include "actions/barramento_linux.h"

#include <X11/Xlibint.h>
#include <sys/socket.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/recursos.h"

namespace velorin {

namespace {

// Deadlines of I/O waits run on the monotonic clock, not on AgoraMs(): a test that freezes the
// program's clock must not turn a bounded wait into an endless one.
using TRelogioEspera = std::chrono::steady_clock;

std::uint64_t Microssegundos(std::uint32_t ms) {
    return static_cast<std::uint64_t>(ms) * 1000u;
}

// D-Bus address values allow only a few bytes unescaped; everything else is %XX.
std::string EscaparEndereco(const std::string& valor) {
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (unsigned char c : valor) {
        const bool livre = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z') || std::strchr("-_/.\\*", c) != nullptr;
        if (livre && c != '\0') {
            s += static_cast<char>(c);
        } else {
            s += '%';
            s += hex[c >> 4];
            s += hex[c & 15];
        }
    }
    return s;
}

std::string Ambiente(const char* nome) {
    const char* v = std::getenv(nome);
    return v != nullptr ? std::string(v) : std::string();
}

TBarramento Conectar(const std::string& endereco, std::uint32_t prazo_ms, int* erro) {
    auto falhar = [erro](int r) {
        if (erro != nullptr) *erro = r;
        return TBarramento();
    };
    if (endereco.empty()) return falhar(-ENOENT);
    sd_bus* b = nullptr;
    int r = sd_bus_new(&b);
    if (r < 0) return falhar(r);
    TBarramento bus(b);
    // The Hello call that sd_bus_start sends takes the connection's default time-out; ours
    // replaces sd-bus's 25 s.
    if ((r = sd_bus_set_address(b, endereco.c_str())) < 0 ||
        (r = sd_bus_set_bus_client(b, 1)) < 0 ||
        (r = sd_bus_set_method_call_timeout(b, Microssegundos(prazo_ms))) < 0 ||
        (r = sd_bus_start(b)) < 0) {
        return falhar(r);
    }
    // sd_bus_call would wait for authentication and Hello without any bound of its own; do
    // that part here against our deadline.
    const auto fim = TRelogioEspera::now() + std::chrono::milliseconds(prazo_ms);
    while (sd_bus_is_ready(b) <= 0) {
        r = sd_bus_process(b, nullptr);
        if (r < 0) return falhar(r);
        if (r > 0) continue;
        const auto agora = TRelogioEspera::now();
        if (agora >= fim) return falhar(-ETIMEDOUT);
        const auto resta =
            std::chrono::duration_cast<std::chrono::microseconds>(fim - agora).count();
        r = sd_bus_wait(b, static_cast<std::uint64_t>(resta));
        if (r < 0 && r != -EINTR) return falhar(r);
    }
    if (erro != nullptr) *erro = 0;
    return bus;
}

int LerVariante(const TBarramento& bus, const char* destino, const char* caminho,
                const char* interface, const char* propriedade, std::uint32_t prazo_ms,
                const char* tipo, void* valor) {
    TMensagemBus resposta;
    int r = ChamarMetodo(
        bus, destino, caminho, "org.freedesktop.DBus.Properties", "Get", prazo_ms,
        [&](sd_bus_message* m) { return sd_bus_message_append(m, "ss", interface, propriedade); },
        &resposta);
    if (r < 0) return r;
    r = sd_bus_message_enter_container(resposta.Get(), 'v', tipo);
    if (r < 0) return r;
    if (r == 0) return -EBADMSG;
    r = sd_bus_message_read_basic(resposta.Get(), tipo[0], valor);
    return r < 0 ? r : 0;
}

}  // namespace

TBarramento AbrirBarramentoSistema(std::uint32_t prazo_ms, int* erro) {
    std::string endereco = Ambiente("DBUS_SYSTEM_BUS_ADDRESS");
    if (endereco.empty()) endereco = "unix:path=/run/dbus/system_bus_socket";
    return Conectar(endereco, prazo_ms, erro);
}

TBarramento AbrirBarramentoSessao(std::uint32_t prazo_ms, int* erro) {
    std::string endereco = Ambiente("DBUS_SESSION_BUS_ADDRESS");
    if (endereco.empty()) {
        const std::string runtime = Ambiente("XDG_RUNTIME_DIR");
        if (!runtime.empty()) endereco = "unix:path=" + EscaparEndereco(runtime + "/bus");
    }
    return Conectar(endereco, prazo_ms, erro);
}

int ChamarMetodo(const TBarramento& bus, const char* destino, const char* caminho,
                 const char* interface, const char* metodo, std::uint32_t prazo_ms,
                 const TArgumentosBus& argumentos, TMensagemBus* resposta, std::string* nome_erro) {
    if (!bus) return -ENOTCONN;
    TMensagemBus pedido;
    int r = sd_bus_message_new_method_call(bus.Get(), pedido.Receber(), destino, caminho, interface,
                                           metodo);
    if (r < 0) return r;
    if (argumentos && (r = argumentos(pedido.Get())) < 0) return r;
    sd_bus_error erro = SD_BUS_ERROR_NULL;
    TAoSair liberar([&] { sd_bus_error_free(&erro); });
    TMensagemBus local;
    TMensagemBus* destino_resposta = resposta != nullptr ? resposta : &local;
    r = sd_bus_call(bus.Get(), pedido.Get(), Microssegundos(prazo_ms), &erro,
                    destino_resposta->Receber());
    if (r < 0 && nome_erro != nullptr && erro.name != nullptr) *nome_erro = erro.name;
    return r < 0 ? r : 0;
}

bool NomeTemDono(const TBarramento& bus, const char* nome, std::uint32_t prazo_ms) {
    TMensagemBus resposta;
    if (ChamarMetodo(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "NameHasOwner", prazo_ms,
            [nome](sd_bus_message* m) { return sd_bus_message_append(m, "s", nome); },
            &resposta) < 0) {
        return false;
    }
    int tem = 0;
    return sd_bus_message_read(resposta.Get(), "b", &tem) >= 0 && tem != 0;
}

bool ListarNomes(const TBarramento& bus, std::uint32_t prazo_ms, std::vector<std::string>& nomes) {
    nomes.clear();
    TMensagemBus resposta;
    if (ChamarMetodo(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                     "ListNames", prazo_ms, {}, &resposta) < 0) {
        return false;
    }
    char** lista = nullptr;
    if (sd_bus_message_read_strv(resposta.Get(), &lista) < 0) return false;
    for (char** p = lista; p != nullptr && *p != nullptr; ++p) {
        nomes.emplace_back(*p);
        std::free(*p);
    }
    std::free(lista);
    return true;
}

int LerPropriedadeTexto(const TBarramento& bus, const char* destino, const char* caminho,
                        const char* interface, const char* propriedade, std::uint32_t prazo_ms,
                        std::string& valor) {
    const char* texto = nullptr;  // points into `resposta`; copied before it goes
    TMensagemBus resposta;
    int r = ChamarMetodo(
        bus, destino, caminho, "org.freedesktop.DBus.Properties", "Get", prazo_ms,
        [&](sd_bus_message* m) { return sd_bus_message_append(m, "ss", interface, propriedade); },
        &resposta);
    if (r < 0) return r;
    r = sd_bus_message_read(resposta.Get(), "v", "s", &texto);
    if (r < 0) return r;
    valor = texto != nullptr ? texto : "";
    return 0;
}

int LerPropriedadeInt32(const TBarramento& bus, const char* destino, const char* caminho,
                        const char* interface, const char* propriedade, std::uint32_t prazo_ms,
                        std::int32_t& valor) {
    return LerVariante(bus, destino, caminho, interface, propriedade, prazo_ms, "i", &valor);
}

int DefinirPropriedadeInt32(const TBarramento& bus, const char* destino, const char* caminho,
                            const char* interface, const char* propriedade, std::uint32_t prazo_ms,
                            std::int32_t valor) {
    return ChamarMetodo(
        bus, destino, caminho, "org.freedesktop.DBus.Properties", "Set", prazo_ms,
        [&](sd_bus_message* m) {
            return sd_bus_message_append(m, "ssv", interface, propriedade, "i", valor);
        },
        nullptr);
}

std::string SessaoLogind() {
    const std::string exportada = Ambiente("XDG_SESSION_ID");
    if (!exportada.empty()) return exportada;
    char* s = nullptr;
    std::string id;
    if (sd_pid_get_session(0, &s) >= 0 || sd_uid_get_display(getuid(), &s) >= 0) {
        if (s != nullptr) id = s;
    }
    std::free(s);
    return id;
}

// ---- X display ----

namespace {

XErrorHandler tratador_erro_anterior = nullptr;
XIOErrorHandler tratador_io_anterior = nullptr;

// A refused request (DPMS on a server that lacks it, say) is reported to the caller through
// the request's own result; it must not end the process as the default handler would.
int AoErroX(Display* d, XErrorEvent* e) {
    if (tratador_erro_anterior != nullptr) return tratador_erro_anterior(d, e);
    return 0;
}

int AoErroIoX(Display* d) {
    if (tratador_io_anterior != nullptr) return tratador_io_anterior(d);
    return 0;
}

void AoSairErroIo(Display*, void* dados) {
    *static_cast<bool*>(dados) = true;
}

void InstalarTratadoresX() {
    static std::once_flag uma;
    std::call_once(uma, [] {
        XErrorHandler anterior = XSetErrorHandler(AoErroX);
        // Chain only to a handler another module installed; Xlib's defaults exit.
        if (anterior != _XDefaultError) tratador_erro_anterior = anterior;
        XIOErrorHandler anterior_io = XSetIOErrorHandler(AoErroIoX);
        if (anterior_io != _XDefaultIOError) tratador_io_anterior = anterior_io;
    });
}

}  // namespace

TDisplayX::~TDisplayX() {
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
}

bool TDisplayX::Abrir() {
    const char* nome = std::getenv("DISPLAY");
    if (nome == nullptr || *nome == '\0') return false;
    InstalarTratadoresX();
    dpy_ = XOpenDisplay(nome);
    if (dpy_ == nullptr) return false;
    estado_ = std::make_unique<TEstado>();
    XSetIOErrorExitHandler(dpy_, AoSairErroIo, &estado_->Falhou);
    return true;
}

TVigiaX::TVigiaX(const TDisplayX& x, std::uint32_t prazo_ms) {
    if (x.Get() == nullptr) return;
    const int fd = ConnectionNumber(x.Get());
    fio_ = std::thread([this, fd, prazo_ms] {
        std::unique_lock<std::mutex> l(m_);
        if (!cv_.wait_for(l, std::chrono::milliseconds(prazo_ms), [this] { return fim_; })) {
            ::shutdown(fd, SHUT_RDWR);
        }
    });
}

TVigiaX::~TVigiaX() {
    {
        std::lock_guard<std::mutex> g(m_);
        fim_ = true;
    }
    cv_.notify_all();
    if (fio_.joinable()) fio_.join();
}

}  // namespace velorin
