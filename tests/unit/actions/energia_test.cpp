// Power actions: the Windows shutdown flags, simulation, and the logind backend against
// python3-dbusmock on a private system bus.

#include "actions/energia.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "apoio/dbusmock.h"
#include "apoio/pasta_temporaria.h"
#include "core/log.h"
#include "core/parametros.h"

namespace velorin {
namespace {

using teste::TBarramentoPrivado;
using teste::TDbusMock;
using teste::TPastaTemporaria;
using teste::TVariavelAmbiente;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(FlagsSaidaWindows, CombinaAcaoComForca) {
    struct Caso {
        std::int32_t acao;
        bool forcar;
        std::uint32_t flags;
    };
    const Caso casos[] = {
        {ACAO_DESLIGAR, false, 0x18},  // power off + force-if-hung
        {ACAO_DESLIGAR, true, 0x0C},   // power off + force
        {ACAO_REINICIAR, false, 0x12}, {ACAO_REINICIAR, true, 0x06},
        {ACAO_SUSPENDER, false, 0},  // sleep is not an ExitWindowsEx request
        {ACAO_NENHUMA, true, 0},       {7, false, 0},
    };
    for (const auto& c : casos) {
        EXPECT_EQ(FlagsSaidaWindows(c.acao, c.forcar), c.flags) << c.acao << " " << c.forcar;
    }
    EXPECT_EQ(MOTIVO_SAIDA_PLANEJADA, 0x80000000u);
}

TEST(NomeAcao, NomesDoAgendamento) {
    EXPECT_EQ(NomeAcao(1), "desligar");
    EXPECT_EQ(NomeAcao(2), "reiniciar");
    EXPECT_EQ(NomeAcao(3), "suspender");
    EXPECT_EQ(NomeAcao(0), "");
    EXPECT_EQ(NomeAcao(4), "");
    EXPECT_EQ(NomeAcao(-1), "");
}

class Energia : public ::testing::Test {
  protected:
    void SetUp() override { AbrirLog(pasta.Caminho()); }
    void TearDown() override {
        FecharLog();
        Parametros.Simular = false;
    }
    std::vector<std::string> Log() const { return teste::MensagensLog(pasta / "log.txt"); }

    TPastaTemporaria pasta;
    TVariavelAmbiente sessao{"XDG_SESSION_ID", "teste-sessao"};
};

// Starts dbusmock's logind on a private system bus and points the backend at it.
class EnergiaLogind : public Energia {
  protected:
    void Iniciar(const std::string& parametros = "{}") {
        EXIGIR_FERRAMENTA("/usr/bin/dbus-daemon", "dbus");
        EXIGIR_FERRAMENTA("/usr/bin/python3", "python3-dbusmock");
        barramento = std::make_unique<TBarramentoPrivado>(TBarramentoPrivado::TTipo::Sistema);
        ASSERT_TRUE(barramento->Ativo());
        endereco =
            std::make_unique<TVariavelAmbiente>("DBUS_SYSTEM_BUS_ADDRESS", barramento->Endereco());
        logind = std::make_unique<TDbusMock>(*barramento, "logind", "org.freedesktop.login1",
                                             parametros);
        ASSERT_TRUE(logind->Ativo());
    }
    // The manager's calls that act on the PC (Can* queries are questions, not actions).
    std::vector<std::string> Acoes() const {
        std::vector<std::string> acoes;
        for (const char* m : {"PowerOff", "Reboot", "Suspend", "LockSession"}) {
            for (auto& c : logind->ChamadasDe(m)) acoes.push_back(c);
        }
        return acoes;
    }

    std::unique_ptr<TBarramentoPrivado> barramento;
    std::unique_ptr<TVariavelAmbiente> endereco;
    std::unique_ptr<TDbusMock> logind;
};

TEST_F(EnergiaLogind, SimulacaoSoEscreveNoLog) {
    ASSERT_NO_FATAL_FAILURE(Iniciar());
    if (IsSkipped()) return;
    Parametros.Simular = true;
    EXPECT_TRUE(ExecutarAcaoEnergia(ACAO_REINICIAR, true));
    EXPECT_TRUE(ExecutarAcaoEnergia(ACAO_DESLIGAR, false));
    EXPECT_TRUE(ExecutarAcaoEnergia(ACAO_SUSPENDER, false));
    EXPECT_TRUE(BloquearSessao());
    EXPECT_THAT(
        Log(), ElementsAre("SIMULADO: reiniciar (forcar=True)", "SIMULADO: desligar (forcar=False)",
                           "SIMULADO: suspender (forcar=False)", "SIMULADO: bloquear"));
    EXPECT_THAT(Acoes(), IsEmpty());
}

TEST_F(EnergiaLogind, AcoesChamamLogindSemInteracao) {
    ASSERT_NO_FATAL_FAILURE(Iniciar());
    if (IsSkipped()) return;
    EXPECT_TRUE(ExecutarAcaoEnergia(ACAO_DESLIGAR, false));
    EXPECT_TRUE(ExecutarAcaoEnergia(ACAO_REINICIAR, true));
    EXPECT_TRUE(ExecutarAcaoEnergia(ACAO_SUSPENDER, false));
    EXPECT_TRUE(BloquearSessao());
    // A kind the schedule never stores is refused without reaching the system.
    EXPECT_FALSE(ExecutarAcaoEnergia(ACAO_NENHUMA, false));
    EXPECT_THAT(Acoes(), ElementsAre("PowerOff False", "Reboot False", "Suspend False",
                                     "LockSession \"teste-sessao\""));
    EXPECT_THAT(Log(), ElementsAre("Executando: desligar (forcar=False)",
                                   "Executando: reiniciar (forcar=True)",
                                   "Executando: suspender (forcar=False)", "Executando: bloquear",
                                   "Executando:  (forcar=False)", "ERRO ao executar  (22)"));
}

TEST_F(EnergiaLogind, PodeSuspenderSoComYes) {
    struct Caso {
        const char* resposta;
        bool pode;
    };
    for (const Caso c :
         {Caso{"yes", true}, Caso{"no", false}, Caso{"challenge", false}, Caso{"na", false}}) {
        SCOPED_TRACE(c.resposta);
        ASSERT_NO_FATAL_FAILURE(Iniciar(std::string("{\"CanSuspend\": \"") + c.resposta + "\"}"));
        if (IsSkipped()) return;
        EXPECT_EQ(PodeSuspender(), c.pode);
        logind.reset();
        endereco.reset();
        barramento.reset();
    }
}

TEST_F(Energia, SemBarramentoDoSistemaFalhaComCodigo) {
    TVariavelAmbiente endereco("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + pasta.Caminho() + "nada");
    EXPECT_FALSE(ExecutarAcaoEnergia(ACAO_DESLIGAR, false));
    EXPECT_FALSE(BloquearSessao());
    EXPECT_FALSE(PodeSuspender());
    const auto log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "Executando: desligar (forcar=False)");
    EXPECT_EQ(log[1], "ERRO ao executar desligar (2)");  // ENOENT: no socket there
}

TEST_F(EnergiaLogind, BarramentoTravadoNaoPrendeQuemChama) {
    ASSERT_NO_FATAL_FAILURE(Iniciar());
    if (IsSkipped()) return;
    // The daemon accepts connections but never answers: only our own deadline ends the wait.
    // (The bound checked is generous; sd-bus's own default would be 25 s.)
    barramento->Pausar();
    const auto inicio = std::chrono::steady_clock::now();
    EXPECT_FALSE(PodeSuspender());
    EXPECT_FALSE(ExecutarAcaoEnergia(ACAO_SUSPENDER, false));
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(15));
    EXPECT_EQ(Log().back(), "ERRO ao executar suspender (110)");  // ETIMEDOUT
}

}  // namespace
}  // namespace velorin
