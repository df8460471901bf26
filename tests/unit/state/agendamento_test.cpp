// The schedule slot for power actions and the update flag.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <thread>

#include "apoio_estado.h"

namespace velorin {
namespace {

using ::testing::ElementsAre;

class Agendamento : public teste::TBaseEstado {
  protected:
    TAgendamento Agendar(std::int32_t acao, std::int64_t segundos, bool forcar = false,
                         const std::string& por = "Moto") {
        TAgendamento ag;
        ag.Acao = 99;
        estado->Agendar(acao, segundos, por, forcar, ag);
        return ag;
    }
};

TEST(NomeAcao, Nomes) {
    EXPECT_EQ(NomeAcao(ACAO_DESLIGAR), "desligar");
    EXPECT_EQ(NomeAcao(ACAO_REINICIAR), "reiniciar");
    EXPECT_EQ(NomeAcao(ACAO_SUSPENDER), "suspender");
    EXPECT_EQ(NomeAcao(0), "");
    EXPECT_EQ(NomeAcao(4), "");
    EXPECT_EQ(NomeAcao(-1), "");
}

// The delay is kept between the grace period and 24 hours, and suspending never forces.
TEST_F(Agendamento, LimitesDoAtrasoEForcar) {
    struct {
        std::int32_t acao;
        std::int64_t pedido;
        std::int32_t carencia;
        bool forcar;
        std::int64_t guardado;
        bool forcarGuardado;
        const char* linha;
    } casos[] = {
        {ACAO_DESLIGAR, 0, 10, false, 10, false,
         "Agendado: desligar em 10 s (forcar=False) por Moto"},
        {ACAO_DESLIGAR, 100000, 10, true, 86400, true,
         "Agendado: desligar em 86400 s (forcar=True) por Moto"},
        {ACAO_REINICIAR, 86400, 10, true, 86400, true,
         "Agendado: reiniciar em 86400 s (forcar=True) por Moto"},
        {ACAO_REINICIAR, 30, 60, false, 60, false,
         "Agendado: reiniciar em 60 s (forcar=False) por Moto"},
        {ACAO_REINICIAR, 61, 60, false, 61, false,
         "Agendado: reiniciar em 61 s (forcar=False) por Moto"},
        {ACAO_SUSPENDER, 300, 10, true, 300, false,
         "Agendado: suspender em 300 s (forcar=False) por Moto"},
        {ACAO_DESLIGAR, -5, 10, false, 10, false,
         "Agendado: desligar em 10 s (forcar=False) por Moto"},
        {ACAO_DESLIGAR, std::numeric_limits<std::int64_t>::max(), 10, false, 86400, false,
         "Agendado: desligar em 86400 s (forcar=False) por Moto"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.linha);
        TConfig cfg;
        cfg.SegundosCarencia = c.carencia;
        Criar(cfg);
        const double antes = AgoraData();
        const TAgendamento ag = Agendar(c.acao, c.pedido, c.forcar);
        EXPECT_EQ(ag.Acao, c.acao);
        EXPECT_EQ(ag.VenceEm, INICIO + static_cast<std::uint64_t>(c.guardado) * 1000);
        EXPECT_EQ(ag.Forcar, c.forcarGuardado);
        EXPECT_EQ(ag.PedidoPor, "Moto");
        EXPECT_NEAR(ag.Horario, antes + static_cast<double>(c.guardado) / 86400, 5.0 / 86400);
        const TAgendamento slot = estado->ObterAgendamento();
        EXPECT_EQ(slot.VenceEm, ag.VenceEm);
        EXPECT_EQ(slot.Forcar, ag.Forcar);
        EXPECT_EQ(SegundosRestantes(slot), c.guardado);
        EXPECT_EQ(Linhas().back(), c.linha);
        ASSERT_FALSE(Eventos().empty());
        EXPECT_EQ(Eventos().back().Tipo, teAgendado);
        EXPECT_EQ(Eventos().back().Agendamento.VenceEm, ag.VenceEm);
        EXPECT_EQ(Eventos().back().Agendamento.Forcar, ag.Forcar);
    }
}

TEST_F(Agendamento, PedidoPorVaiLimpoParaOLog) {
    Criar();
    const TAgendamento ag = Agendar(ACAO_DESLIGAR, 60, false, "Ana\r\n" + std::string(200, 'x'));
    EXPECT_EQ(ag.PedidoPor, "Ana\r\n" + std::string(200, 'x'));  // stored as given
    EXPECT_EQ(Linhas().back(), "Agendado: desligar em 60 s (forcar=False) por Ana??" +
                                   std::string(115, 'x') + "...");
}

// An action the timer could not carry out is never stored (nor announced).
TEST_F(Agendamento, AcaoDesconhecidaERecusada) {
    Criar();
    const TAgendamento valido = Agendar(ACAO_REINICIAR, 60);
    for (std::int32_t acao : {0, 4, -1}) {
        const TAgendamento ag = Agendar(acao, 60);
        EXPECT_EQ(ag.Acao, ACAO_NENHUMA) << acao;
    }
    EXPECT_EQ(estado->ObterAgendamento().Acao, ACAO_REINICIAR);
    EXPECT_EQ(estado->ObterAgendamento().VenceEm, valido.VenceEm);
    EXPECT_EQ(Linhas().size(), 1u);
    EXPECT_EQ(Eventos().size(), 1u);
}

TEST_F(Agendamento, NovoPedidoSubstituiSemAviso) {
    Criar();
    Agendar(ACAO_DESLIGAR, 300, true, "Ana");
    AvancarRelogioTeste(5000);
    const TAgendamento segundo = Agendar(ACAO_REINICIAR, 45, false, "Rui");
    const TAgendamento slot = estado->ObterAgendamento();
    EXPECT_EQ(slot.Acao, ACAO_REINICIAR);
    EXPECT_EQ(slot.PedidoPor, "Rui");
    EXPECT_EQ(slot.VenceEm, INICIO + 5000 + 45000);
    EXPECT_EQ(SegundosRestantes(slot), 45);
    EXPECT_THAT(Tipos(), ElementsAre(teAgendado, teAgendado));
    EXPECT_THAT(Linhas(), ElementsAre("Agendado: desligar em 300 s (forcar=True) por Ana",
                                      "Agendado: reiniciar em 45 s (forcar=False) por Rui"));
    EXPECT_EQ(segundo.VenceEm, slot.VenceEm);
}

TEST_F(Agendamento, Cancelar) {
    Criar();
    EXPECT_FALSE(estado->Cancelar(true));  // nothing scheduled: no line, no event
    EXPECT_TRUE(Linhas().empty());
    EXPECT_TRUE(Eventos().empty());

    Agendar(ACAO_SUSPENDER, 120);
    EXPECT_TRUE(estado->Cancelar(false));  // tray, countdown, shutdown: no notice
    EXPECT_EQ(estado->ObterAgendamento().Acao, ACAO_NENHUMA);
    EXPECT_EQ(SegundosRestantes(estado->ObterAgendamento()), 0);
    EXPECT_THAT(Tipos(), ElementsAre(teAgendado));

    Agendar(ACAO_DESLIGAR, 120);
    EXPECT_TRUE(estado->Cancelar(true));  // a phone: notice with the cancelled schedule
    EXPECT_FALSE(estado->Cancelar(true));
    EXPECT_THAT(Tipos(), ElementsAre(teAgendado, teAgendado, teCancelado));
    EXPECT_EQ(Eventos().back().Agendamento.Acao, ACAO_DESLIGAR);
    EXPECT_THAT(
        Linhas(),
        ElementsAre("Agendado: suspender em 120 s (forcar=False) por Moto", "Cancelado: suspender",
                    "Agendado: desligar em 120 s (forcar=False) por Moto", "Cancelado: desligar"));
}

TEST_F(Agendamento, Adiar) {
    Criar();
    EXPECT_FALSE(estado->Adiar(900));
    EXPECT_TRUE(Linhas().empty());

    // 30 s from now, postponed by 15 minutes: 930 s from now.
    const TAgendamento ag = Agendar(ACAO_DESLIGAR, 30);
    ASSERT_TRUE(estado->Adiar(900));
    TAgendamento slot = estado->ObterAgendamento();
    EXPECT_EQ(slot.VenceEm, INICIO + 930000);
    EXPECT_NEAR(slot.Horario, ag.Horario + 900.0 / 86400, 1e-9);
    EXPECT_EQ(Linhas().back(), "Agendamento adiado em 900 s");
    EXPECT_THAT(Tipos(), ElementsAre(teAgendado));  // no event for a postponement

    // Overdue (the timer has not taken it yet): counts from now, shown time included.
    AvancarRelogioTeste(940000);
    ASSERT_TRUE(estado->Adiar(900));
    slot = estado->ObterAgendamento();
    EXPECT_EQ(slot.VenceEm, INICIO + 940000 + 900000);
    EXPECT_EQ(SegundosRestantes(slot), 900);
    EXPECT_NEAR(slot.Horario, AgoraData() + 900.0 / 86400, 5.0 / 86400);

    // A negative postponement never pulls the action forward.
    ASSERT_TRUE(estado->Adiar(-60));
    EXPECT_EQ(estado->ObterAgendamento().VenceEm, slot.VenceEm);
}

TEST(SegundosRestantes, ArredondaParaCima) {
    const std::uint64_t agora = 1'000'000;
    struct {
        std::int32_t acao;
        std::uint64_t venceEm;
        std::int32_t esperado;
    } casos[] = {
        {ACAO_DESLIGAR, agora + 59200, 60}, {ACAO_DESLIGAR, agora + 60000, 60},
        {ACAO_DESLIGAR, agora + 60001, 61}, {ACAO_DESLIGAR, agora + 1, 1},
        {ACAO_DESLIGAR, agora, 0},          {ACAO_DESLIGAR, agora - 5000, 0},
        {ACAO_NENHUMA, agora + 30000, 0},   {ACAO_SUSPENDER, agora + 86'400'000, 86400},
    };
    for (const auto& c : casos) {
        TAgendamento ag;
        ag.Acao = c.acao;
        ag.VenceEm = c.venceEm;
        EXPECT_EQ(SegundosRestantes(ag, agora), c.esperado) << c.venceEm - agora;
    }
}

TEST_F(Agendamento, RetirarVencidoEsvaziaOSlotUmaVez) {
    Criar();
    TAgendamento tirado;
    EXPECT_FALSE(estado->RetirarVencido(INICIO + 10'000'000, tirado));
    EXPECT_EQ(tirado.Acao, ACAO_NENHUMA);

    const TAgendamento ag = Agendar(ACAO_REINICIAR, 60, true);
    EXPECT_FALSE(estado->RetirarVencido(ag.VenceEm - 1, tirado));
    EXPECT_EQ(tirado.Acao, ACAO_REINICIAR);  // a copy of the slot
    EXPECT_EQ(estado->ObterAgendamento().Acao, ACAO_REINICIAR);

    ASSERT_TRUE(estado->RetirarVencido(ag.VenceEm, tirado));
    EXPECT_EQ(tirado.Acao, ACAO_REINICIAR);
    EXPECT_TRUE(tirado.Forcar);
    EXPECT_EQ(tirado.VenceEm, ag.VenceEm);
    EXPECT_EQ(estado->ObterAgendamento().Acao, ACAO_NENHUMA);
    EXPECT_FALSE(estado->RetirarVencido(ag.VenceEm + 1000, tirado));
    EXPECT_FALSE(estado->Cancelar(true));  // nothing left to cancel
    EXPECT_THAT(Tipos(), ElementsAre(teAgendado));
}

// The timer taking the due action and a phone cancelling it race: exactly one of them wins.
TEST_F(Agendamento, RetirarVencidoContraCancelarUmVence) {
    Criar();
    int retiradas = 0, cancelamentos = 0;
    for (int rodada = 0; rodada < 200; ++rodada) {
        const TAgendamento ag = Agendar(ACAO_DESLIGAR, 10);
        std::atomic<bool> largada{false};
        bool retirou = false, cancelou = false;
        std::thread timer([&] {
            while (!largada.load()) std::this_thread::yield();
            TAgendamento t;
            retirou = estado->RetirarVencido(ag.VenceEm, t);
        });
        std::thread celular([&] {
            while (!largada.load()) std::this_thread::yield();
            cancelou = estado->Cancelar(true);
        });
        largada = true;
        timer.join();
        celular.join();
        ASSERT_NE(retirou, cancelou) << rodada;
        retiradas += retirou;
        cancelamentos += cancelou;
        EXPECT_EQ(estado->ObterAgendamento().Acao, ACAO_NENHUMA);
    }
    long cancelados = 0;
    for (TTipoEvento t : Tipos()) cancelados += t == teCancelado;
    EXPECT_EQ(cancelados, cancelamentos);
    EXPECT_EQ(retiradas + cancelamentos, 200);
}

// ---------------------------------------------------------------------------------------------
// Update flag

TEST_F(Agendamento, AtualizacaoEAgendamentoSeExcluem) {
    Criar();
    Agendar(ACAO_DESLIGAR, 60);
    EXPECT_FALSE(estado->IniciarAtualizacao());  // the update waits for the schedule
    EXPECT_FALSE(estado->EstaAtualizando());
    ASSERT_TRUE(estado->Cancelar(false));

    ASSERT_TRUE(estado->IniciarAtualizacao());
    EXPECT_TRUE(estado->EstaAtualizando());
    EXPECT_FALSE(estado->IniciarAtualizacao());  // one at a time
    const std::size_t nLinhas = Linhas().size(), nEventos = Eventos().size();
    const TAgendamento recusado = Agendar(ACAO_REINICIAR, 60);
    EXPECT_EQ(recusado.Acao, ACAO_NENHUMA);
    EXPECT_EQ(estado->ObterAgendamento().Acao, ACAO_NENHUMA);
    EXPECT_EQ(Linhas().size(), nLinhas);
    EXPECT_EQ(Eventos().size(), nEventos);

    estado->TerminarAtualizacao();  // the update failed: scheduling works again
    EXPECT_FALSE(estado->EstaAtualizando());
    EXPECT_EQ(Agendar(ACAO_REINICIAR, 60).Acao, ACAO_REINICIAR);
}

}  // namespace
}  // namespace velorin
