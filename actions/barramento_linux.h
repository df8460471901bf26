// Connections to the session's servers for the Linux backends: D-Bus (system and session bus)
// through sd-bus, and the X display.
//
// Every helper here is bounded in time: a bus or display that is missing answers at once, and
// one that accepts the connection and then stops answering is given up after the caller's
// deadline instead of sd-bus's or Xlib's own (25 s, or forever). Addresses come only from the
// standard environment (DBUS_SYSTEM_BUS_ADDRESS, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR,
// DISPLAY), so tests point the backends at private servers.
//
// sd-bus connections and Xlib displays are not shared between threads: each operation opens
// its own and drops it at the end.
#pragma once

#include <X11/Xlib.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velorin {

// ---- D-Bus ----

// Owns one sd-bus connection; closed once. Not flushed: every call here waits for its reply,
// so nothing is left queued, and a flush on a bus that never finished the handshake would wait
// for sd-bus's own authentication time-out (90 s).
class TBarramento {
  public:
    TBarramento() = default;
    explicit TBarramento(sd_bus* b) : bus_(b) {}
    [[nodiscard]] sd_bus* Get() const { return bus_.get(); }
    explicit operator bool() const { return bus_ != nullptr; }

  private:
    struct TFechar {
        void operator()(sd_bus* b) const { sd_bus_close_unref(b); }
    };
    std::unique_ptr<sd_bus, TFechar> bus_;
};

// Owns one sd-bus message reference.
class TMensagemBus {
  public:
    TMensagemBus() = default;
    ~TMensagemBus() { sd_bus_message_unref(m_); }
    TMensagemBus(const TMensagemBus&) = delete;
    TMensagemBus& operator=(const TMensagemBus&) = delete;
    [[nodiscard]] sd_bus_message* Get() const { return m_; }
    // For the out-parameter of sd-bus calls; drops what was held.
    sd_bus_message** Receber() {
        m_ = sd_bus_message_unref(m_);
        return &m_;
    }

  private:
    sd_bus_message* m_ = nullptr;
};

// Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS, else the standard socket) or the
// session bus (DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus), waiting at most
// `prazo_ms` for the bus to accept us. Empty on any failure; `erro` (optional) gets the
// negative errno.
[[nodiscard]] TBarramento AbrirBarramentoSistema(std::uint32_t prazo_ms, int* erro = nullptr);
[[nodiscard]] TBarramento AbrirBarramentoSessao(std::uint32_t prazo_ms, int* erro = nullptr);

// Fills the arguments of a method call; returns a negative errno on failure.
using TArgumentosBus = std::function<int(sd_bus_message*)>;

// One method call with its own time-out. Returns 0 or a negative errno (-ETIMEDOUT when the
// peer did not answer in time; a D-Bus error reply maps to its errno). `resposta` may be null;
// `nome_erro` (optional) receives the D-Bus error name.
[[nodiscard]] int ChamarMetodo(const TBarramento& bus, const char* destino, const char* caminho,
                               const char* interface, const char* metodo, std::uint32_t prazo_ms,
                               const TArgumentosBus& argumentos, TMensagemBus* resposta,
                               std::string* nome_erro = nullptr);

// Whether someone owns `nome` right now. Calls to an absent name can wait for bus activation
// or a time-out, so backends ask this first.
[[nodiscard]] bool NomeTemDono(const TBarramento& bus, const char* nome, std::uint32_t prazo_ms);

// Every name on the bus (ListNames); false when the call failed.
[[nodiscard]] bool ListarNomes(const TBarramento& bus, std::uint32_t prazo_ms,
                               std::vector<std::string>& nomes);

// org.freedesktop.DBus.Properties Get/Set for the property types the backends use.
[[nodiscard]] int LerPropriedadeTexto(const TBarramento& bus, const char* destino,
                                      const char* caminho, const char* interface,
                                      const char* propriedade, std::uint32_t prazo_ms,
                                      std::string& valor);
[[nodiscard]] int LerPropriedadeInt32(const TBarramento& bus, const char* destino,
                                      const char* caminho, const char* interface,
                                      const char* propriedade, std::uint32_t prazo_ms,
                                      std::int32_t& valor);
[[nodiscard]] int DefinirPropriedadeInt32(const TBarramento& bus, const char* destino,
                                          const char* caminho, const char* interface,
                                          const char* propriedade, std::uint32_t prazo_ms,
                                          std::int32_t valor);

// The logind session this program acts for: XDG_SESSION_ID when the session exported it, else
// the session of this process, else (started by the user's service manager through the
// session's autostart, outside any session) the user's graphical session. Empty when none.
[[nodiscard]] std::string SessaoLogind();

// ---- X display ----

// One connection to the display named by DISPLAY. Xlib's default error handlers end the
// process on a protocol error or a lost connection; opening installs handlers that only
// record the failure (chaining to any handler another module installed first).
class TDisplayX {
  public:
    TDisplayX() = default;
    ~TDisplayX();
    TDisplayX(const TDisplayX&) = delete;
    TDisplayX& operator=(const TDisplayX&) = delete;

    // False when DISPLAY is unset or the server cannot be reached. Connecting itself is left
    // to Xlib (a local socket that refuses or accepts at once); the requests that follow are
    // bounded with TVigiaX.
    [[nodiscard]] bool Abrir();
    [[nodiscard]] Display* Get() const { return dpy_; }
    // True once the connection broke (I/O error or a watchdog shut it down); the display is
    // then unusable except for closing.
    [[nodiscard]] bool Falhou() const { return estado_ && estado_->Falhou; }

  private:
    struct TEstado {
        bool Falhou = false;
    };
    Display* dpy_ = nullptr;
    std::unique_ptr<TEstado> estado_;
};

// Guards a run of Xlib calls: if they are still running after the deadline, the display's
// socket is shut down, which turns a blocked read into an I/O error on that connection only.
// The watchdog thread ends when the guard goes out of scope.
class TVigiaX {
  public:
    TVigiaX(const TDisplayX& x, std::uint32_t prazo_ms);
    ~TVigiaX();
    TVigiaX(const TVigiaX&) = delete;
    TVigiaX& operator=(const TVigiaX&) = delete;

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool fim_ = false;
    std::thread fio_;
};

}  // namespace velorin
