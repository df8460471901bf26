// Master volume and mute of the default output, the list of outputs, switching the default
// output, and the media keys.
//
// Nothing is cached: every call asks the sound system afresh. In simulation mode a simulated
// volume, mute and three outputs live in memory and behave like real ones.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velorin {

// One playback output.
struct TSaidaAudio {
    std::string id;    // the system's identifier of the output
    std::string nome;  // friendly name; the identifier when the system has none
    bool padrao = false;

    bool operator==(const TSaidaAudio&) const = default;
};

using TSaidasAudio = std::vector<TSaidaAudio>;

struct TEstadoAudio {
    bool podeTrocar = false;  // switching the default output is possible here
    TSaidasAudio saidas;
};

struct TVolume {
    bool disponivel = false;  // the default output's volume could be read
    std::int32_t nivel = 0;   // 0 to 100
    bool mudo = false;
};

// Results of TrocarSaidaAudio.
inline constexpr int TROCA_FEITA = 0;
inline constexpr int TROCA_SAIDA_AUSENTE = 1;
inline constexpr int TROCA_NAO_SUPORTADA = 2;
inline constexpr int TROCA_FALHOU = 3;

// Media key kinds.
inline constexpr int MIDIA_TOCAR_PAUSAR = 0;
inline constexpr int MIDIA_PROXIMA = 1;
inline constexpr int MIDIA_ANTERIOR = 2;

void LerSaidasAudio(TEstadoAudio& estado);
void LerVolume(TVolume& volume);
// Sets what is flagged (the level clamped to 0..100), then reads the state back.
void AjustarVolume(bool mudar_nivel, std::int32_t nivel, bool mudar_mudo, bool mudo,
                   TVolume& volume);
// Makes `id` the default output: TROCA_FEITA .. TROCA_FALHOU. One switch at a time.
[[nodiscard]] int TrocarSaidaAudio(const std::string& id);
// Sends play/pause, next or previous (any other kind counts as play/pause).
void TeclaMidia(int tipo);

// Tests: puts the simulated level, mute and default output back to their start values.
void ReiniciarSimulacaoAudioTeste();

// ---- pure logic ----

// The Windows virtual key of a media key kind: 0xB0 next, 0xB1 previous, else 0xB3 play/pause.
[[nodiscard]] std::uint8_t TeclaVirtualMidia(int tipo);

// Volume percent <-> PulseAudio volume, the way pactl maps them: pct * NORM / 100 when
// setting; max channel * 100 / NORM rounded to the nearest when reading (above 100 % reads as
// 100, the highest level we report).
inline constexpr std::uint32_t VOLUME_PULSE_NORMAL = 0x10000;  // PA_VOLUME_NORM
[[nodiscard]] std::uint32_t PercentParaVolumePulse(std::int32_t percent);
[[nodiscard]] std::int32_t VolumePulseParaPercent(std::uint32_t volume);

// The steps of one switch, supplied by the backend. The switch sets the new default in two
// steps (Windows: the multimedia role, then the console role; Linux: the default sink, then
// moving the streams that were playing on the old one) and undoes the first when the second
// fails, so the PC never stays half switched.
struct TPassosTroca {
    std::function<void(TEstadoAudio&)> LerSaidas;
    // Whether switching can be done right now (the component that switches is there).
    std::function<bool()> PodeTrocar;
    // Whether the output can take the role (present and active).
    std::function<bool(const std::string& id)> SaidaAtiva;
    std::function<bool(const std::string& id)> PrimeiroPasso;
    std::function<bool(const std::string& id, const std::string& anterior)> SegundoPasso;
    std::function<void(const std::string& anterior, const std::string& id)> Desfazer;
    std::function<std::string()> PadraoAtual;
};
[[nodiscard]] int ExecutarTroca(const TPassosTroca& passos, const std::string& id);

// ---- backend seam: one implementation per OS (audio_<os>.cpp) ----

void LerSaidasAudioSistema(TEstadoAudio& estado);
void AjustarVolumeSistema(bool mudar_nivel, std::int32_t nivel, bool mudar_mudo, bool mudo,
                          TVolume& volume);
[[nodiscard]] int TrocarSaidaAudioSistema(const std::string& id);
void TeclaMidiaSistema(int tipo);

}  // namespace velorin
