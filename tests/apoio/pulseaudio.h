// A private PulseAudio daemon for system tests: three null sinks, a socket in its own folder,
// PULSE_SERVER pointing at it while the object lives, and helpers that look at the daemon
// through pactl (an oracle independent of the code under test).
#pragma once

#include <signal.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apoio/dbusmock.h"
#include "apoio/pasta_temporaria.h"

namespace velorin::teste {

class TPulseAudioPrivado {
  public:
    // Sinks, in the order the daemon enumerates them; "caixa" is the default.
    static constexpr const char* SINKS[3] = {"caixa", "fone", "hdmi"};
    static constexpr const char* DESCRICOES[3] = {"Caixa de Teste", "Fone de Teste", "TV de Teste"};

    TPulseAudioPrivado();

    // True when the daemon answers and has exactly the three sinks.
    [[nodiscard]] bool Ativo() const { return pronto_; }
    [[nodiscard]] const std::string& Servidor() const { return servidor_; }

    // pactl against this daemon; its stdout, or nullopt when it failed.
    [[nodiscard]] std::optional<std::string> Pactl(
        const std::vector<std::string>& argumentos) const;
    [[nodiscard]] std::string SinkPadrao() const;
    // Index of a sink by name; -1 when absent.
    [[nodiscard]] long IndiceSink(const std::string& nome) const;
    // The sink index of every playing stream, in the daemon's order.
    [[nodiscard]] std::vector<long> SinksDosFluxos() const;

    // Starts a stream playing silence (on `sink`, or following the default when empty) and
    // waits until the daemon lists it.
    [[nodiscard]] std::unique_ptr<TProcesso> Tocar(const std::string& sink = "") const;

    // SIGSTOP / SIGCONT / kill: a hung or vanished sound server.
    void Pausar() { processo_.Sinal(SIGSTOP); }
    void Continuar() { processo_.Sinal(SIGCONT); }
    void Matar() { processo_.Parar(); }

  private:
    TPastaTemporaria pasta_;
    TProcesso processo_;
    std::string servidor_;
    bool pronto_ = false;
    std::unique_ptr<TVariavelAmbiente> variavel_;
};

}  // namespace velorin::teste
