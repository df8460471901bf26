#include "ui/aplicacao.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "apoio/cliente_http.h"
#include "apoio/pasta_temporaria.h"
#include "core/config.h"
#include "core/parametros.h"
#include "core/relogio.h"

namespace velorin {
namespace {

using teste::Existe;
using teste::LerArquivo;
using teste::PortaLivre;
using teste::TPastaTemporaria;

struct Balao {
    std::string titulo, texto;
    int icone;
};

// The application in simulation mode on a temporary data folder, with a front end that records
// what it is asked to show and runs queued work when the test says so.
class AplicacaoTeste : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", (pasta / "xdg").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", pasta.Caminho().c_str(), 1);
        ::setenv("LC_ALL", "pt_BR.UTF-8", 1);  // "auto" language follows the session: Portuguese
        salvo = Parametros;
        LerParametros(std::vector<std::string>{"--simular", "--dados", pasta / "dados", "--porta",
                                               std::to_string(PortaLivre()), "--endereco", "127.0.0.1"});
        DefinirRelogioTeste(10'000'000);
    }
    void TearDown() override {
        app.reset();
        LiberarRelogioTeste();
        Parametros = salvo;
    }
    void Criar() {
        TFrenteApp f;
        f.Enfileirar = [this](std::function<void()> fn) {
            std::lock_guard<std::mutex> g(trava);
            fila.push_back(std::move(fn));
        };
        f.Balao = [this](const std::string& t, const std::string& x, int i) { baloes.push_back({t, x, i}); };
        f.MostrarPareamento = [this] { ++pareamentos; };
        f.MostrarContagem = [this](const TAgendamento&, std::int32_t s) { contagem = s; };
        f.EsconderContagem = [this] { contagem = -1; };
        f.Terminar = [this] { terminou = true; };
        app = std::make_unique<TAplicacao>(f);
        app->Iniciar();
    }
    // Runs what other threads queued, waiting up to two seconds for `condicao`.
    void Processar(const std::function<bool()>& condicao = [] { return true; }) {
        for (int i = 0; i < 200; ++i) {
            std::vector<std::function<void()>> lote;
            {
                std::lock_guard<std::mutex> g(trava);
                lote.swap(fila);
            }
            for (auto& f : lote) f();
            if (condicao()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::string Log() const { return LerArquivo(pasta / "dados/log.txt"); }

    TPastaTemporaria pasta;
    TParametros salvo;
    std::unique_ptr<TAplicacao> app;
    std::mutex trava;
    std::vector<std::function<void()>> fila;
    std::vector<Balao> baloes;
    int pareamentos = 0;
    std::int32_t contagem = -1;
    bool terminou = false;
};

TEST_F(AplicacaoTeste, PrimeiroInicioGravaConfigEAbrePareamento) {
    Criar();
    EXPECT_TRUE(Existe(pasta / "dados/config.ini"));
    // Simulation never writes the session's autostart entry.
    EXPECT_FALSE(Existe(pasta / "xdg/autostart/velorin.desktop"));
    Processar([this] { return app->ServidorOk() && pareamentos > 0; });
    EXPECT_TRUE(app->ServidorOk());
    EXPECT_EQ(pareamentos, 1);
    const std::string log = Log();
    EXPECT_NE(log.find("Iniciando Velorin 1.0.7 (simulacao=True, dados=" + pasta / "dados/)"), std::string::npos);
    EXPECT_NE(log.find("Servidor escutando em 127.0.0.1:" + std::to_string(Parametros.Porta)), std::string::npos);
    EXPECT_EQ(app->TextoDica(), "Velorin — SIMULAÇÃO");
}

TEST_F(AplicacaoTeste, InicioComASessaoNaoAbrePareamento) {
    Parametros.InicioWindows = true;
    Criar();
    Processar([this] { return app->ServidorOk(); });
    EXPECT_EQ(pareamentos, 0);
}

TEST_F(AplicacaoTeste, AgendamentoBalaoContagemEExecucao) {
    Criar();
    Processar();
    TAgendamento ag;
    app->Estado()->Agendar(ACAO_DESLIGAR, 300, "Celular da Ana", false, ag);
    Processar([this] { return !baloes.empty(); });
    ASSERT_EQ(baloes.size(), 1u);
    EXPECT_EQ(baloes[0].titulo, "Agendado pelo celular");
    EXPECT_NE(baloes[0].texto.find("Desligar às "), std::string::npos);
    EXPECT_NE(baloes[0].texto.find("(pedido por Celular da Ana)."), std::string::npos);

    // A schedule inside the last minute raises no balloon: the countdown takes over.
    app->Estado()->Agendar(ACAO_REINICIAR, 30, "x", false, ag);
    Processar();
    EXPECT_EQ(baloes.size(), 1u);
    app->Tique();
    EXPECT_EQ(contagem, 30);

    // Ticks a second apart (a larger jump would count as the PC having slept).
    for (int i = 0; i < 31; ++i) {
        AvancarRelogioTeste(1'000);
        app->Tique();
    }
    EXPECT_EQ(contagem, -1);
    EXPECT_EQ(app->Estado()->ObterAgendamento().Acao, ACAO_NENHUMA);
    EXPECT_NE(Log().find("SIMULADO: reiniciar"), std::string::npos);
}

TEST_F(AplicacaoTeste, AgendamentoVencidoDuranteSuspensaoNuncaExecuta) {
    Criar();
    Processar();
    app->Tique();
    TAgendamento ag;
    app->Estado()->Agendar(ACAO_DESLIGAR, 120, "x", false, ag);
    Processar();
    baloes.clear();
    AvancarRelogioTeste(3'600'000);  // the PC slept an hour
    app->Tique();
    EXPECT_EQ(app->Estado()->ObterAgendamento().Acao, ACAO_NENHUMA);
    const std::string log = Log();
    EXPECT_NE(log.find("Agendamento vencido durante a suspensao: cancelado"), std::string::npos);
    EXPECT_EQ(log.find("SIMULADO: desligar"), std::string::npos);
    ASSERT_FALSE(baloes.empty());
    EXPECT_EQ(baloes.back().texto, "O PC ficou suspenso e o horário passou; nada foi executado.");
    EXPECT_EQ(baloes.back().icone, 2);
}

TEST_F(AplicacaoTeste, EncerrarCancelaAgendamentoSalvaEFechaOLog) {
    Criar();
    Processar();
    TAgendamento ag;
    app->Estado()->Agendar(ACAO_DESLIGAR, 300, "x", false, ag);
    app->Estado()->DefinirPausado(true);
    app->Sair();
    EXPECT_TRUE(terminou);
    EXPECT_EQ(app->Estado()->ObterAgendamento().Acao, ACAO_NENHUMA);
    app->Finalizar();
    const std::string log = Log();
    EXPECT_NE(log.find("Encerrando"), std::string::npos);
    EXPECT_NE(log.rfind("Encerrado\r\n"), std::string::npos);
    // The pause made before quitting reached config.ini.
    DefinirPastaConfig(pasta / "dados");
    TConfig cfg;
    CarregarConfig(cfg);
    EXPECT_TRUE(cfg.Pausado);
}

TEST_F(AplicacaoTeste, PortaOcupadaViraErroDoServidor) {
    // Another socket listens on our port: the server reports it and the tip says so.
    std::uint16_t porta = 0;
    TDescritor ocupada = teste::OcuparPorta(porta, false);
    ASSERT_TRUE(ocupada.Valido());
    Parametros.Porta = porta;
    Parametros.Simular = false;  // the tip shows the server state only outside simulation
    Parametros.DadosPadrao = false;
    LiberarRelogioTeste();  // the server's retry window runs on the real clock
    Criar();
    // The server retries a busy port for ten seconds before giving up.
    for (int i = 0; i < 8 && app->ErroServidor().empty(); ++i)
        Processar([this] { return !app->ErroServidor().empty(); });
    EXPECT_NE(app->ErroServidor().find("indisponivel"), std::string::npos) << app->ErroServidor();
    EXPECT_EQ(app->TextoDica(), "Velorin — servidor parado");
    ASSERT_FALSE(baloes.empty());
    EXPECT_EQ(baloes.back().titulo, "Não foi possível iniciar");
    EXPECT_EQ(baloes.back().icone, 3);
}

}  // namespace
}  // namespace velorin
