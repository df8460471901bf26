// XTest backend for synthetic input, and the "is input possible" check through logind and the
// screensaver.
//
// Each batch opens its own display connection (never shared with other modules, so a stuck
// request here cannot stall them) and runs under a watchdog that shuts the socket down when
// the server stops answering; Xlib then reports an I/O error on this connection only.

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "actions/barramento_linux.h"
#include "actions/entrada.h"
#include "core/log.h"

namespace velorin {

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t PRAZO_ABRIR_X_MS = 2000;
constexpr std::uint32_t PRAZO_LOTE_X_MS = 10000;
constexpr auto ESPERA_ANTES_RESTAURAR = 80ms;
constexpr std::uint32_t PRAZO_DBUS_MS = 500;
// A single record may ask for this many wheel notches at most; the rest is dropped rather
// than spinning through millions of button events.
constexpr std::int32_t MAXIMO_PASSOS_RODA = 1000;

// Opens the display and checks for XTest, bounded in time.
bool AbrirDisplayXTest(TDisplayX& x) {
    if (!x.Abrir()) return false;
    int ev = 0, err = 0, maior = 0, menor = 0;
    bool xtest = false;
    {
        TVigiaX vigia(x, PRAZO_ABRIR_X_MS);
        xtest = XTestQueryExtension(x.Get(), &ev, &err, &maior, &menor) != 0;
    }
    if (x.Falhou()) return false;
    if (!xtest) Log("AVISO: servidor X sem a extensao XTest");
    return xtest;
}

std::mutex trava_x;  // guards the carried-over remainders below
TRestoAceleracao resto_aceleracao;
std::int32_t resto_roda = 0;

std::mutex trava_espera;
std::function<void()> espera_restaurar_teste;

// ---- keys ----

KeySym KeysymDeVk(std::uint16_t vk) {
    switch (vk) {
        case 8:
            return XK_BackSpace;
        case 9:
            return XK_Tab;
        case 13:
            return XK_Return;
        case 16:
            return XK_Shift_L;
        case 17:
            return XK_Control_L;
        case 18:
            return XK_Alt_L;
        case 27:
            return XK_Escape;
        case 32:
            return XK_space;
        case 33:
            return XK_Prior;
        case 34:
            return XK_Next;
        case 35:
            return XK_End;
        case 36:
            return XK_Home;
        case 37:
            return XK_Left;
        case 38:
            return XK_Up;
        case 39:
            return XK_Right;
        case 40:
            return XK_Down;
        case 46:
            return XK_Delete;
        case 91:
            return XK_Super_L;
        default:
            break;
    }
    if (vk >= '0' && vk <= '9') return XK_0 + (vk - '0');
    // Letters as lower-case keysyms: Ctrl+C must not gain a Shift.
    if (vk >= 'A' && vk <= 'Z') return XK_a + (vk - 'A');
    if (vk >= 112 && vk <= 123) return XK_F1 + (vk - 112);
    return NoSymbol;
}

struct TTeclaX {
    KeyCode Codigo = 0;
    bool Shift = false;
};

// One batch of records replayed on the display. Keeps a snapshot of the keyboard mapping, the
// keycodes borrowed for symbols the layout lacks, and what is currently held down.
class TLoteX {
  public:
    explicit TLoteX(Display* d) : dpy_(d) {}

    ~TLoteX() { Terminar(); }

    bool Aplicar(const TRegistroEntrada& r) {
        return r.Tipo == TIPO_ENTRADA_TECLADO ? Teclado(r) : Mouse(r);
    }

    // Releases what is still down and gives the borrowed keycodes back. The mapping is put
    // back only after the server has handled the keys and the receiving window had time to
    // look them up; a window that sees the key after the restore would read NoSymbol.
    void Terminar() {
        if (terminado_) return;
        terminado_ = true;
        for (const KeyCode kc : pressionadas_) XTestFakeKeyEvent(dpy_, kc, False, CurrentTime);
        pressionadas_.clear();
        for (const unsigned b : botoes_) XTestFakeButtonEvent(dpy_, b, False, CurrentTime);
        botoes_.clear();
        if (!emprestadas_.empty()) {
            XSync(dpy_, False);
            EsperarAntesRestaurar();
            for (const auto& [kc, ks] : emprestadas_) {
                (void)ks;
                KeySym nada = NoSymbol;
                XChangeKeyboardMapping(dpy_, kc, 1, &nada, 1);
            }
            emprestadas_.clear();
        }
        XSync(dpy_, False);
    }

  private:
    static void EsperarAntesRestaurar() {
        std::function<void()> espera;
        {
            std::lock_guard<std::mutex> g(trava_espera);
            espera = espera_restaurar_teste;
        }
        if (espera) {
            espera();
        } else {
            std::this_thread::sleep_for(ESPERA_ANTES_RESTAURAR);
        }
    }

    bool Mouse(const TRegistroEntrada& r) {
        if (r.Flags & MOUSE_MOVER) {
            std::int32_t x = 0, y = 0;
            AcelerarMovimento(r.Dx, r.Dy, resto_aceleracao, x, y);
            if ((x != 0 || y != 0) && !XTestFakeRelativeMotionEvent(dpy_, x, y, CurrentTime))
                return false;
        }
        if (r.Flags & MOUSE_RODA) {
            // One notch is one click of button 4 (away from the user) or 5; partial notches
            // are carried over to the next wheel record.
            const std::int64_t total = static_cast<std::int64_t>(resto_roda) + r.DadosMouse;
            std::int64_t passos = total / UNIDADES_POR_PASSO_RODA;
            resto_roda = static_cast<std::int32_t>(total % UNIDADES_POR_PASSO_RODA);
            passos = std::clamp<std::int64_t>(passos, -MAXIMO_PASSOS_RODA, MAXIMO_PASSOS_RODA);
            const unsigned botao = passos > 0 ? 4 : 5;
            for (std::int64_t i = 0; i < (passos < 0 ? -passos : passos); ++i) {
                if (!XTestFakeButtonEvent(dpy_, botao, True, CurrentTime) ||
                    !XTestFakeButtonEvent(dpy_, botao, False, CurrentTime))
                    return false;
            }
        }
        if (r.Flags & MOUSE_ESQUERDO_DESCE && !Botao(1, true)) return false;
        if (r.Flags & MOUSE_ESQUERDO_SOBE && !Botao(1, false)) return false;
        if (r.Flags & MOUSE_DIREITO_DESCE && !Botao(3, true)) return false;
        if (r.Flags & MOUSE_DIREITO_SOBE && !Botao(3, false)) return false;
        return true;
    }

    bool Botao(unsigned b, bool desce) {
        if (!XTestFakeButtonEvent(dpy_, b, desce ? True : False, CurrentTime)) return false;
        if (desce) {
            botoes_.push_back(b);
        } else {
            botoes_.erase(std::remove(botoes_.begin(), botoes_.end(), b), botoes_.end());
        }
        return true;
    }

    bool Teclado(const TRegistroEntrada& r) {
        const bool solta = (r.Flags & TECLA_SOBE) != 0;
        KeySym ks = NoSymbol;
        if (r.Flags & TECLA_UNICODE) {
            const char16_t u = r.Scan;
            if (u >= 0xD800 && u <= 0xDBFF) {
                // The high half only announces the pair; the low half carries the key.
                if (!solta) alto_ = u;
                return true;
            }
            char32_t cp = u;
            if (u >= 0xDC00 && u <= 0xDFFF) {
                if (alto_ == 0) return false;
                cp = 0x10000 + ((static_cast<char32_t>(alto_) - 0xD800) << 10) + (u - 0xDC00);
                if (solta) alto_ = 0;
            }
            ks = xkb_utf32_to_keysym(static_cast<std::uint32_t>(cp));
        } else {
            ks = KeysymDeVk(r.Vk);
        }
        if (ks == NoSymbol) return false;
        TTeclaX t;
        if (!Localizar(ks, t)) return false;
        const KeyCode shift = XKeysymToKeycode(dpy_, XK_Shift_L);
        if (!solta) {
            if (t.Shift && (shift == 0 || !Tecla(shift, true))) return false;
            return Tecla(t.Codigo, true);
        }
        const bool ok = Tecla(t.Codigo, false);
        if (t.Shift && shift != 0) (void)Tecla(shift, false);
        return ok;
    }

    bool Tecla(KeyCode kc, bool desce) {
        if (!XTestFakeKeyEvent(dpy_, kc, desce ? True : False, CurrentTime)) return false;
        if (desce) {
            pressionadas_.push_back(kc);
        } else {
            auto it = std::find(pressionadas_.begin(), pressionadas_.end(), kc);
            if (it != pressionadas_.end()) pressionadas_.erase(it);
        }
        return true;
    }

    void LerMapa() {
        if (lido_) return;
        lido_ = true;
        XDisplayKeycodes(dpy_, &min_, &max_);
        int por = 0;
        KeySym* m = XGetKeyboardMapping(dpy_, static_cast<KeyCode>(min_), max_ - min_ + 1, &por);
        if (m == nullptr) return;
        por_ = por;
        mapa_.assign(m, m + static_cast<std::size_t>((max_ - min_ + 1) * por));
        XFree(m);
        for (int kc = min_; kc <= max_; ++kc) {
            bool vazia = true;
            for (int c = 0; c < por_; ++c) vazia = vazia && Simbolo(kc, c) == NoSymbol;
            if (vazia) livres_.push_back(static_cast<KeyCode>(kc));
        }
    }

    KeySym Simbolo(int kc, int coluna) const {
        return mapa_[static_cast<std::size_t>((kc - min_) * por_ + coluna)];
    }

    // Finds the key for a symbol: plain first, then with Shift; a symbol on no such level gets
    // a spare keycode for the rest of the batch.
    bool Localizar(KeySym ks, TTeclaX& t) {
        LerMapa();
        for (const auto& [kc, sym] : emprestadas_) {
            if (sym == ks) {
                t = {kc, false};
                return true;
            }
        }
        for (int coluna = 0; coluna < std::min(por_, 2); ++coluna) {
            for (int kc = min_; kc <= max_; ++kc) {
                if (Simbolo(kc, coluna) == ks) {
                    t = {static_cast<KeyCode>(kc), coluna == 1};
                    return true;
                }
            }
        }
        return Emprestar(ks, t);
    }

    bool Emprestar(KeySym ks, TTeclaX& t) {
        if (livres_.empty() && !emprestadas_.empty()) {
            // Every spare is in use: the oldest may be re-pointed once it is not held and the
            // window had its chance to read the old symbol.
            const auto it =
                std::find_if(emprestadas_.begin(), emprestadas_.end(), [this](const auto& p) {
                    return std::find(pressionadas_.begin(), pressionadas_.end(), p.first) ==
                           pressionadas_.end();
                });
            if (it == emprestadas_.end()) return false;
            XSync(dpy_, False);
            EsperarAntesRestaurar();
            livres_.push_back(it->first);
            emprestadas_.erase(it);
        }
        if (livres_.empty()) return false;
        const KeyCode kc = livres_.front();
        livres_.erase(livres_.begin());
        KeySym par[2] = {ks, ks};  // same symbol with or without Shift
        XChangeKeyboardMapping(dpy_, kc, 2, par, 1);
        emprestadas_.emplace_back(kc, ks);
        // Read the key back: a refused change arrives as an error event that we do not see
        // here, and typing on a key that still says NoSymbol would type nothing.
        int por = 0;
        KeySym* lido = XGetKeyboardMapping(dpy_, kc, 1, &por);
        const bool ok = lido != nullptr && por > 0 && lido[0] == ks;
        if (lido != nullptr) XFree(lido);
        if (!ok) return false;
        t = {kc, false};
        return true;
    }

    Display* dpy_;
    bool terminado_ = false;
    bool lido_ = false;
    int min_ = 0, max_ = -1, por_ = 0;
    std::vector<KeySym> mapa_;
    std::vector<KeyCode> livres_;
    std::vector<std::pair<KeyCode, KeySym>> emprestadas_;
    std::vector<KeyCode> pressionadas_;
    std::vector<unsigned> botoes_;
    char16_t alto_ = 0;
};

// ---- locked session ----

// -1 unknown, 0 no, 1 yes.
int LockedHintLogind() {
    const std::string id = SessaoLogind();
    if (id.empty()) return -1;
    TBarramento bus = AbrirBarramentoSistema(PRAZO_DBUS_MS);
    if (!bus) return -1;
    char* caminho = nullptr;
    if (sd_bus_path_encode("/org/freedesktop/login1/session", id.c_str(), &caminho) < 0) return -1;
    const std::string objeto = caminho;
    std::free(caminho);
    TMensagemBus resposta;
    const char* interface = "org.freedesktop.login1.Session";
    if (ChamarMetodo(
            bus, "org.freedesktop.login1", objeto.c_str(), "org.freedesktop.DBus.Properties", "Get",
            PRAZO_DBUS_MS,
            [&](sd_bus_message* m) {
                return sd_bus_message_append(m, "ss", interface, "LockedHint");
            },
            &resposta) < 0)
        return -1;
    int travada = 0;
    if (sd_bus_message_read(resposta.Get(), "v", "b", &travada) < 0) return -1;
    return travada ? 1 : 0;
}

int ProtetorTelaAtivo() {
    TBarramento bus = AbrirBarramentoSessao(PRAZO_DBUS_MS);
    if (!bus || !NomeTemDono(bus, "org.freedesktop.ScreenSaver", PRAZO_DBUS_MS)) return -1;
    TMensagemBus resposta;
    if (ChamarMetodo(bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                     "org.freedesktop.ScreenSaver", "GetActive", PRAZO_DBUS_MS, {}, &resposta) < 0)
        return -1;  // NotImplemented and friends: unknown
    int ativo = 0;
    if (sd_bus_message_read(resposta.Get(), "b", &ativo) < 0) return -1;
    return ativo ? 1 : 0;
}

}  // namespace

void DefinirEsperaAntesRestaurarTeclado(std::function<void()> esperar) {
    std::lock_guard<std::mutex> g(trava_espera);
    espera_restaurar_teste = std::move(esperar);
}

std::size_t InjetarEntradasSistema(const TEntradas& registros) {
    std::lock_guard<std::mutex> g(trava_x);
    TDisplayX x;
    if (!AbrirDisplayXTest(x)) return 0;
    std::size_t feitos = 0;
    {
        TVigiaX vigia(x, PRAZO_LOTE_X_MS);
        TLoteX lote(x.Get());
        for (const auto& r : registros) {
            if (x.Falhou() || !lote.Aplicar(r)) break;
            ++feitos;
        }
        lote.Terminar();
    }
    if (x.Falhou()) {
        Log("ERRO: conexao com o servidor X perdida ao enviar entrada");
        return 0;
    }
    return feitos;
}

bool EntradaDisponivelSistema() {
    {
        TDisplayX x;
        if (!AbrirDisplayXTest(x)) return false;
    }
    // Unknown answers (no logind, no screensaver service) allow input: only a positive
    // "locked" or "active" blocks it.
    if (LockedHintLogind() == 1) return false;
    if (ProtetorTelaAtivo() == 1) return false;
    return true;
}

}  // namespace velorin
