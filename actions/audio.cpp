#include "actions/audio.h"

#include <algorithm>
#include <mutex>

#include "core/log.h"
#include "core/parametros.h"

namespace velorin {

namespace {

// Switches run one at a time (real or simulated). When simulating, the simulation lock is
// taken inside this one, never the other way round.
std::mutex trava_troca;

// Simulated values, for the whole process.
std::mutex trava_simulacao;
std::int32_t nivel_simulado = 50;
bool mudo_simulado = false;
std::string padrao_simulado = "sim-caixa";

struct TSaidaSimulada {
    const char* id;
    const char* nome;
};
constexpr TSaidaSimulada SAIDAS_SIMULADAS[] = {
    {"sim-caixa", "Alto-falantes (simulado)"},
    {"sim-fone", "Fone Bluetooth (simulado)"},
    {"sim-hdmi", "TV HDMI (simulado)"},
};

}  // namespace

std::uint8_t TeclaVirtualMidia(int tipo) {
    switch (tipo) {
        case MIDIA_PROXIMA:
            return 0xB0;
        case MIDIA_ANTERIOR:
            return 0xB1;
        default:
            return 0xB3;
    }
}

std::uint32_t PercentParaVolumePulse(std::int32_t percent) {
    percent = std::clamp(percent, 0, 100);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(percent) * VOLUME_PULSE_NORMAL /
                                      100u);
}

std::int32_t VolumePulseParaPercent(std::uint32_t volume) {
    const std::uint64_t pct =
        (static_cast<std::uint64_t>(volume) * 100u + VOLUME_PULSE_NORMAL / 2) / VOLUME_PULSE_NORMAL;
    return static_cast<std::int32_t>(std::min<std::uint64_t>(pct, 100));
}

int ExecutarTroca(const TPassosTroca& passos, const std::string& id) {
    TEstadoAudio estado;
    passos.LerSaidas(estado);
    std::string anterior;
    bool existe = false;
    for (const auto& s : estado.saidas) {
        if (s.padrao) anterior = s.id;
        if (s.id == id) existe = true;
    }
    if (!existe) return TROCA_SAIDA_AUSENTE;
    if (!estado.podeTrocar || !passos.PodeTrocar()) return TROCA_NAO_SUPORTADA;
    if (!passos.SaidaAtiva(id)) return TROCA_SAIDA_AUSENTE;
    if (!passos.PrimeiroPasso(id)) return TROCA_FALHOU;
    if (!passos.SegundoPasso(id, anterior)) {
        if (!anterior.empty()) passos.Desfazer(anterior, id);
        return TROCA_FALHOU;
    }
    return passos.PadraoAtual() == id ? TROCA_FEITA : TROCA_FALHOU;
}

void ReiniciarSimulacaoAudioTeste() {
    std::lock_guard<std::mutex> g(trava_simulacao);
    nivel_simulado = 50;
    mudo_simulado = false;
    padrao_simulado = "sim-caixa";
}

void LerSaidasAudio(TEstadoAudio& estado) {
    estado = TEstadoAudio();
    if (!Parametros.Simular) {
        LerSaidasAudioSistema(estado);
        return;
    }
    std::lock_guard<std::mutex> g(trava_simulacao);
    estado.podeTrocar = true;
    for (const auto& s : SAIDAS_SIMULADAS) {
        estado.saidas.push_back({s.id, s.nome, padrao_simulado == s.id});
    }
}

void AjustarVolume(bool mudar_nivel, std::int32_t nivel, bool mudar_mudo, bool mudo,
                   TVolume& volume) {
    nivel = std::clamp(nivel, 0, 100);
    volume = TVolume();
    if (!Parametros.Simular) {
        AjustarVolumeSistema(mudar_nivel, nivel, mudar_mudo, mudo, volume);
        return;
    }
    std::lock_guard<std::mutex> g(trava_simulacao);
    if (mudar_nivel) nivel_simulado = nivel;
    if (mudar_mudo) mudo_simulado = mudo;
    volume.disponivel = true;
    volume.nivel = nivel_simulado;
    volume.mudo = mudo_simulado;
}

void LerVolume(TVolume& volume) {
    AjustarVolume(false, 0, false, false, volume);
}

int TrocarSaidaAudio(const std::string& id) {
    std::lock_guard<std::mutex> troca(trava_troca);
    if (!Parametros.Simular) return TrocarSaidaAudioSistema(id);
    const bool conhecida = std::any_of(std::begin(SAIDAS_SIMULADAS), std::end(SAIDAS_SIMULADAS),
                                       [&id](const TSaidaSimulada& s) { return id == s.id; });
    if (!conhecida) return TROCA_SAIDA_AUSENTE;
    {
        std::lock_guard<std::mutex> g(trava_simulacao);
        padrao_simulado = id;
    }
    Log("SIMULADO: trocar saida de audio");
    return TROCA_FEITA;
}

void TeclaMidia(int tipo) {
    if (Parametros.Simular) {
        LogFmt("SIMULADO: tecla de midia $%02X", static_cast<unsigned>(TeclaVirtualMidia(tipo)));
        return;
    }
    TeclaMidiaSistema(tipo);
}

}  // namespace velorin
