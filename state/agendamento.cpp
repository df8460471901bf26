// The one schedule slot for a power action, and the flag that keeps schedules and updates apart.
#include <algorithm>

#include "core/log.h"
#include "core/relogio.h"
#include "core/texto.h"
#include "state/estado.h"

namespace velorin {

namespace {

constexpr double SEGUNDOS_POR_DIA = 86400;

bool AcaoConhecida(std::int32_t acao) {
    return acao >= ACAO_DESLIGAR && acao <= ACAO_SUSPENDER;
}

}  // namespace

std::int32_t SegundosRestantes(const TAgendamento& agendamento, std::uint64_t agora) {
    if (agendamento.Acao == ACAO_NENHUMA || agendamento.VenceEm <= agora) return 0;
    // Rounded up: 59.2 s left shows as 60, and 0 only once the time has come.
    const std::uint64_t segundos = (agendamento.VenceEm - agora + 999) / 1000;
    return static_cast<std::int32_t>(std::min<std::uint64_t>(segundos, INT32_MAX));
}

std::int32_t SegundosRestantes(const TAgendamento& agendamento) {
    return SegundosRestantes(agendamento, AgoraMs());
}

void TEstado::Agendar(std::int32_t acao, std::int64_t segundos, const std::string& pedidoPor,
                      bool forcar, TAgendamento& agendamento) {
    agendamento = TAgendamento{};
    // An unknown action would sit in the slot as something the timer cannot carry out (or, as
    // 0, look like nothing at all while being announced); it is refused like a busy update.
    if (!AcaoConhecida(acao)) return;
    const double agoraData = AgoraData();
    {
        TTrava g(trava_);
        if (atualizando_) return;
        segundos = std::max<std::int64_t>(segundos, config_.SegundosCarencia);
        segundos = std::min<std::int64_t>(segundos, ATRASO_MAXIMO_SEGUNDOS);
        agendamento_.Acao = acao;
        agendamento_.VenceEm = AgoraMs() + static_cast<std::uint64_t>(segundos) * 1000;
        // Suspending never closes applications; they are all there after the resume.
        agendamento_.Forcar = forcar && acao != ACAO_SUSPENDER;
        agendamento_.PedidoPor = pedidoPor;
        agendamento_.Horario = agoraData + static_cast<double>(segundos) / SEGUNDOS_POR_DIA;
        agendamento = agendamento_;
    }
    LogFmt("Agendado: %s em %d s (forcar=%s) por %s", NomeAcao(acao).c_str(),
           static_cast<int>(segundos), agendamento.Forcar ? "True" : "False",
           TextoParaLog(pedidoPor, 120).c_str());
    EmitirAgendamento(teAgendado, agendamento);
}

bool TEstado::Cancelar(bool avisar) {
    TAgendamento antigo;
    {
        TTrava g(trava_);
        antigo = agendamento_;
        agendamento_ = TAgendamento{};
    }
    if (antigo.Acao == ACAO_NENHUMA) return false;
    LogFmt("Cancelado: %s", NomeAcao(antigo.Acao).c_str());
    if (avisar) EmitirAgendamento(teCancelado, antigo);
    return true;
}

bool TEstado::Adiar(std::int32_t segundos) {
    // A negative delay would pull the action forward, or wrap the deadline far into the future.
    const std::int32_t s = std::max<std::int32_t>(segundos, 0);
    const double agoraData = AgoraData();
    {
        TTrava g(trava_);
        if (agendamento_.Acao == ACAO_NENHUMA) return false;
        const std::uint64_t agora = AgoraMs();
        if (agendamento_.VenceEm < agora) {
            // Postponing an overdue action counts from now; the shown time follows, or it would
            // still name the moment that already passed.
            agendamento_.VenceEm = agora;
            agendamento_.Horario = agoraData;
        }
        agendamento_.VenceEm += static_cast<std::uint64_t>(s) * 1000;
        agendamento_.Horario += static_cast<double>(s) / SEGUNDOS_POR_DIA;
    }
    LogFmt("Agendamento adiado em %d s", static_cast<int>(s));
    return true;
}

TAgendamento TEstado::ObterAgendamento() const {
    TTrava g(trava_);
    return agendamento_;
}

bool TEstado::RetirarVencido(std::uint64_t agora, TAgendamento& agendamento) {
    TTrava g(trava_);
    agendamento = agendamento_;
    if (agendamento_.Acao == ACAO_NENHUMA || agora < agendamento_.VenceEm) return false;
    agendamento_ = TAgendamento{};
    return true;
}

bool TEstado::IniciarAtualizacao() {
    TTrava g(trava_);
    if (atualizando_ || agendamento_.Acao != ACAO_NENHUMA) return false;
    atualizando_ = true;
    return true;
}

void TEstado::TerminarAtualizacao() {
    TTrava g(trava_);
    atualizando_ = false;
}

bool TEstado::EstaAtualizando() const {
    TTrava g(trava_);
    return atualizando_;
}

}  // namespace velorin
