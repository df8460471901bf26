// A private X server for system tests: Xvfb on a free display number it picks itself
// (-displayfd), so parallel tests never meet and the machine's own session is never touched.
// DISPLAY points at it while the fixture lives; the server is killed by its pid at the end.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// Xlib stays out of this header: its macros (None, Bool, Status) break gtest headers.
struct _XDisplay;

namespace velorin::teste {

class TXvfb {
  public:
    TXvfb();
    ~TXvfb();
    TXvfb(const TXvfb&) = delete;
    TXvfb& operator=(const TXvfb&) = delete;

    // False when the server could not be started; Motivo() says why.
    bool Ativo() const { return pid_ > 0 && !nome_.empty(); }
    const std::string& Motivo() const { return motivo_; }
    const std::string& Nome() const { return nome_; }  // ":N"

  private:
    pid_t pid_ = -1;
    std::string nome_;
    std::string motivo_;
    std::string display_anterior_;
    bool havia_display_ = false;
};

// Skips the test when Xvfb is missing, but fails it in CI (env CI set), where a missing tool
// means a broken machine rather than a developer's laptop.
#define VELORIN_EXIGIR_XVFB(x)                                                    \
    do {                                                                          \
        if (!(x).Ativo()) {                                                       \
            if (std::getenv("CI") != nullptr) FAIL() << "Xvfb: " << (x).Motivo(); \
            GTEST_SKIP() << "Xvfb: " << (x).Motivo();                             \
        }                                                                         \
    } while (0)

// One event seen by the test window.
struct TEventoX {
    int tipo = 0;               // KeyPress, KeyRelease, ButtonPress, ButtonRelease
    unsigned long simbolo = 0;  // keys: the keysym the key had when the event was handled
    unsigned botao = 0;
};

// A full-screen window that takes the keyboard focus and records key and button events,
// resolving each key to its symbol at once (the mapping of a borrowed keycode may change
// right after).
class TJanelaTeste {
  public:
    TJanelaTeste();
    ~TJanelaTeste();
    TJanelaTeste(const TJanelaTeste&) = delete;
    TJanelaTeste& operator=(const TJanelaTeste&) = delete;

    bool Ativa() const { return dpy_ != nullptr; }
    _XDisplay* Get() const { return dpy_; }
    // Takes every event the server has sent so far (a round trip first, so nothing still in
    // flight is missed).
    void Drenar();
    const std::vector<TEventoX>& Eventos() const { return eventos_; }
    // Keysyms of the key presses, in order.
    std::vector<unsigned long> TeclasPressionadas() const;
    // Pointer position on the root window.
    void Ponteiro(int& x, int& y) const;
    // The whole keyboard mapping, to compare before and after.
    std::vector<unsigned long> MapaTeclado() const;

  private:
    _XDisplay* dpy_ = nullptr;
    unsigned long janela_ = 0;
    std::vector<TEventoX> eventos_;
};

}  // namespace velorin::teste
