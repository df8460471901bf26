// The real executable, started the way a user or the panel's browser tests start it: terminal
// front end, simulation mode, a private data folder and a free port.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "apoio/cliente_http.h"
#include "apoio/pasta_temporaria.h"
#include "apoio/processos.h"

namespace velorin {
namespace {

using teste::EnviarBytes;
using teste::LerArquivo;
using teste::MontarRequisicao;
using teste::PortaLivre;
using teste::TPastaTemporaria;
using teste::TPedido;
using teste::TRespostaBruta;

// One run of the program, its output collected in a file; killed by pid if still running.
class Programa {
public:
    Programa(const std::vector<std::string>& args, const TPastaTemporaria& pasta)
        : saida_(pasta / ("saida-" + std::to_string(++contador_) + ".txt")) {
        std::vector<std::string> argv{VELORIN_EXECUTAVEL};
        argv.insert(argv.end(), args.begin(), args.end());
        const teste::TAmbiente amb{{"XDG_RUNTIME_DIR", pasta.Caminho()},
                                   {"HOME", pasta.Caminho()},
                                   {"LC_ALL", "pt_BR.UTF-8"}};
        EXPECT_TRUE(processo_.Iniciar(argv, amb, saida_));
    }
    // Waits for `padrao` in output not yet matched (ten seconds by default); its first group.
    std::string Esperar(const std::string& padrao, int segundos = 10) {
        const std::regex re(padrao);
        const auto fim = std::chrono::steady_clock::now() + std::chrono::seconds(segundos);
        std::string texto;
        std::smatch m;
        while (std::chrono::steady_clock::now() < fim) {
            texto = LerArquivo(saida_);
            if (texto.size() > lido_ && std::regex_search(texto.cbegin() + static_cast<long>(lido_), texto.cend(), m, re)) {
                lido_ += static_cast<std::size_t>(m.position(0) + m.length(0));
                return m.size() > 1 ? m[1].str() : m[0].str();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "sem \"" << padrao << "\" na saida:\n" << texto;
        return {};
    }
    std::string Saida() const { return LerArquivo(saida_); }
    // Waits up to ten seconds for the exit status (-1: still running or killed).
    int Fim() { return processo_.Esperar(10000); }
    void Sinal(int s) { processo_.Sinal(s); }

private:
    static inline int contador_ = 0;
    std::string saida_;
    teste::TProcesso processo_;
    std::size_t lido_ = 0;
};

class ProgramaTeste : public ::testing::Test {
protected:
    std::vector<std::string> Args(bool simular = true) {
        std::vector<std::string> a{"--terminal", "--dados", pasta / "dados", "--porta", std::to_string(porta)};
        if (simular) a.insert(a.begin(), "--simular");
        return a;
    }
    TRespostaBruta Pedir(TPedido p) { return EnviarBytes(porta, MontarRequisicao(p, porta)); }
    std::string Log() { return LerArquivo(pasta / "dados/log.txt"); }

    TPastaTemporaria pasta;
    std::uint16_t porta = PortaLivre();
};

TEST_F(ProgramaTeste, PareiaComandaEEncerraComSigterm) {
    Programa pc(Args(), pasta);
    const std::string codigo = pc.Esperar(R"(#parear=(\d{6}))");
    ASSERT_EQ(codigo.size(), 6u);
    // The link is printed once the server listens, so it works the moment a person sees it.
    EXPECT_EQ(Pedir(TPedido{}).Status, 200);
    EXPECT_EQ(pc.Esperar(R"(e digite o código: (\d{3} \d{3}))"), codigo.substr(0, 3) + " " + codigo.substr(3));

    TPedido par;
    par.Metodo = "POST";
    par.Caminho = "/api/parear";
    par.Corpo = R"({"codigo":" )" + codigo.substr(0, 3) + " " + codigo.substr(3) + R"( ","nomeDispositivo":"Celular Teste"})";
    const TRespostaBruta r = Pedir(par);
    ASSERT_EQ(r.Status, 200) << r.Corpo;
    const std::string token = r.Json().value("token", "");
    ASSERT_EQ(token.size(), 43u);
    pc.Esperar("Pareado com Celular Teste!");

    TPedido vol;
    vol.Metodo = "PUT";
    vol.Caminho = "/api/volume";
    vol.Corpo = R"({"nivel":37})";
    vol.Token = token;
    const TRespostaBruta v = Pedir(vol);
    EXPECT_EQ(v.Status, 200);
    EXPECT_EQ(v.Json().value("nivel", -1), 37);

    TPedido bloq;
    bloq.Metodo = "POST";
    bloq.Caminho = "/api/energia";
    bloq.Corpo = R"({"acao":"bloquear"})";
    bloq.Token = token;
    EXPECT_EQ(Pedir(bloq).Status, 204);

    TPedido st;
    st.Caminho = "/api/status";
    st.Token = token;
    const TRespostaBruta s = Pedir(st);
    EXPECT_EQ(s.Status, 200);
    EXPECT_EQ(s.Json()["volume"].value("nivel", -1), 37);

    // The panel is compiled in (or, when it was not built, its absence is reported).
    TPedido painel;
    painel.Caminho = "/panel/";
    const TRespostaBruta pn = Pedir(painel);
    EXPECT_TRUE(pn.Status == 200 || pn.Corpo == "O painel não foi incluído neste build.") << pn.Status;

    pc.Sinal(SIGTERM);
    EXPECT_EQ(pc.Fim(), 0);
    const std::string log = Log();
    EXPECT_NE(log.find("SIMULADO: bloquear"), std::string::npos);
    EXPECT_NE(log.find("Bloquear pedido por Celular Teste"), std::string::npos);
    EXPECT_NE(log.rfind("Encerrado\r\n"), std::string::npos);
    // Nothing secret reaches the log.
    EXPECT_EQ(log.find(token), std::string::npos);
    EXPECT_EQ(log.find(codigo), std::string::npos);
    // The pairing survived the restart of the program: config.ini has the device.
    EXPECT_NE(LerArquivo(pasta / "dados/config.ini").find("[Dispositivo."), std::string::npos);
}

TEST_F(ProgramaTeste, SegundaCopiaMostraPareamentoESairEncerra) {
    Programa pc(Args(), pasta);
    const std::string primeiro = pc.Esperar(R"(#parear=(\d{6}))");
    {
        Programa segunda(Args(), pasta);
        EXPECT_EQ(segunda.Fim(), 0);  // only signals the running copy
    }
    // The running copy opens a fresh pairing session: a new code is printed.
    const std::string novo = pc.Esperar(R"(#parear=(\d{6}))");
    EXPECT_EQ(novo.size(), 6u);
    {
        Programa sair({"--dados", pasta / "dados", "--sair"}, pasta);
        EXPECT_EQ(sair.Fim(), 0);
    }
    EXPECT_EQ(pc.Fim(), 0);
    EXPECT_NE(Log().find("Saida pedida por outra instancia (--sair)"), std::string::npos);
}

TEST_F(ProgramaTeste, PortaOcupadaInformaAFalha) {
    TDescritor ocupada = teste::OcuparPorta(porta, true);
    ASSERT_TRUE(ocupada.Valido());
    Programa pc(Args(), pasta);
    // The server retries for ten seconds before it gives up and says why.
    pc.Esperar("porta " + std::to_string(porta) + R"( indisponivel \(erro \d+\))", 20);
    // A link to a port that never opened would only mislead.
    EXPECT_EQ(pc.Saida().find("#parear="), std::string::npos);
    pc.Sinal(SIGINT);
    EXPECT_EQ(pc.Fim(), 0);
    EXPECT_NE(Log().find("ERRO no servidor: porta " + std::to_string(porta) + " indisponivel"), std::string::npos);
}

TEST_F(ProgramaTeste, AutotesteDizOQueFunciona) {
    Programa pc({"--autoteste", "--dados", pasta / "dados"}, pasta);
    pc.Esperar(R"(\[ok\] +criptografia)");
    pc.Esperar("Autoteste concluido: pode rodar.");
    EXPECT_EQ(pc.Fim(), 0);
}

}  // namespace
}  // namespace velorin
