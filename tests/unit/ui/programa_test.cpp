// The real executable, started the way a user or the panel's browser tests start it: terminal
// front end, simulation mode, a private data folder and a free port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "apoio/cliente_http.h"
#include "apoio/pasta_temporaria.h"

extern char** environ;

namespace velorin {
namespace {

using teste::EnviarBytes;
using teste::LerArquivo;
using teste::MontarRequisicao;
using teste::TPastaTemporaria;
using teste::TPedido;
using teste::TRespostaBruta;

std::uint16_t PortaLivre() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t t = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &t);
    ::close(s);
    return ntohs(a.sin_port);
}

// One run of the program; its output is collected from a pipe. Killed by pid if still running.
class Programa {
public:
    Programa(const std::vector<std::string>& args, const std::string& runtime) {
        int p[2];
        if (::pipe2(p, O_CLOEXEC) != 0) std::abort();
        posix_spawn_file_actions_t acoes;
        posix_spawn_file_actions_init(&acoes);
        posix_spawn_file_actions_adddup2(&acoes, p[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&acoes, p[1], STDERR_FILENO);
        std::vector<std::string> amb{"XDG_RUNTIME_DIR=" + runtime, "HOME=" + runtime, "LC_ALL=pt_BR.UTF-8",
                                     "PATH=/usr/bin:/bin"};
        std::vector<char*> envp;
        for (auto& a : amb) envp.push_back(a.data());
        envp.push_back(nullptr);
        std::vector<std::string> todos{VELORIN_EXECUTAVEL};
        todos.insert(todos.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : todos) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, VELORIN_EXECUTAVEL, &acoes, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&acoes);
        ::close(p[1]);
        leitura_ = p[0];
    }
    ~Programa() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(leitura_);
    }
    // Reads output until `padrao` matches (or ten seconds pass); the first group.
    std::string Esperar(const std::string& padrao, int segundos = 10) {
        const std::regex re(padrao);
        const auto fim = std::chrono::steady_clock::now() + std::chrono::seconds(segundos);
        std::smatch m;
        while (std::chrono::steady_clock::now() < fim) {
            if (std::regex_search(saida_.cbegin() + static_cast<long>(lido_), saida_.cend(), m, re)) {
                lido_ = static_cast<std::size_t>(m.position(0)) + lido_ + static_cast<std::size_t>(m.length(0));
                return m.size() > 1 ? m[1].str() : m[0].str();
            }
            pollfd pfd{leitura_, POLLIN, 0};
            if (::poll(&pfd, 1, 100) > 0) {
                char buf[4096];
                const ssize_t n = ::read(leitura_, buf, sizeof buf);
                if (n > 0) saida_.append(buf, static_cast<std::size_t>(n));
            }
        }
        ADD_FAILURE() << "sem \"" << padrao << "\" na saida:\n" << saida_;
        return {};
    }
    // Waits up to ten seconds for the exit; its status, or -1.
    int Fim() {
        for (int i = 0; i < 1000; ++i) {
            int st = 0;
            if (::waitpid(pid_, &st, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    void Sinal(int s) { ::kill(pid_, s); }

private:
    pid_t pid_ = -1;
    int leitura_ = -1;
    std::string saida_;
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
    Programa pc(Args(), pasta.Caminho());
    const std::string codigo = pc.Esperar(R"(#parear=(\d{6}))");
    ASSERT_EQ(codigo.size(), 6u);
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
    Programa pc(Args(), pasta.Caminho());
    const std::string primeiro = pc.Esperar(R"(#parear=(\d{6}))");
    {
        Programa segunda(Args(), pasta.Caminho());
        EXPECT_EQ(segunda.Fim(), 0);  // only signals the running copy
    }
    // The running copy opens a fresh pairing session: a new code is printed.
    const std::string novo = pc.Esperar(R"(#parear=(\d{6}))");
    EXPECT_EQ(novo.size(), 6u);
    {
        Programa sair({"--dados", pasta / "dados", "--sair"}, pasta.Caminho());
        EXPECT_EQ(sair.Fim(), 0);
    }
    EXPECT_EQ(pc.Fim(), 0);
    EXPECT_NE(Log().find("Saida pedida por outra instancia (--sair)"), std::string::npos);
}

TEST_F(ProgramaTeste, PortaOcupadaInformaAFalha) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(porta);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(s, 1), 0);
    Programa pc(Args(), pasta.Caminho());
    // The server retries for ten seconds before it gives up and says why.
    pc.Esperar("porta " + std::to_string(porta) + R"( indisponivel \(erro \d+\))", 20);
    pc.Sinal(SIGINT);
    EXPECT_EQ(pc.Fim(), 0);
    ::close(s);
    EXPECT_NE(Log().find("ERRO no servidor: porta " + std::to_string(porta) + " indisponivel"), std::string::npos);
}

TEST_F(ProgramaTeste, AutotesteDizOQueFunciona) {
    Programa pc({"--autoteste", "--dados", pasta / "dados"}, pasta.Caminho());
    pc.Esperar(R"(\[ok\] +criptografia)");
    pc.Esperar("Autoteste concluido: pode rodar.");
    EXPECT_EQ(pc.Fim(), 0);
}

}  // namespace
}  // namespace velorin
