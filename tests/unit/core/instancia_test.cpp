#include "core/instancia.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "apoio/pasta_temporaria.h"
#include "core/parametros.h"

namespace velorin {
namespace {

using teste::TPastaTemporaria;

TEST(NomeInstancia, HashFnv1aDaPastaEmMinusculas) {
    struct Caso {
        std::string dados;
        std::string nome;
    };
    const Caso casos[] = {
        {"/home/ana/.config/Velorin/", "Local\\Velorin.Instancia.00E1A01E"},
        {"/HOME/ANA/.CONFIG/VELORIN/", "Local\\Velorin.Instancia.00E1A01E"},
        {"/home/jos\xC3\xA9/dados/", "Local\\Velorin.Instancia.AFCB9F7F"},
        {"/HOME/JOS\xC3\x89/DADOS/", "Local\\Velorin.Instancia.AFCB9F7F"},  // É lower-cases to é
        {"/tmp/x/", "Local\\Velorin.Instancia.CFDFA019"},
    };
    const std::string antigo = Parametros.Dados;
    for (const auto& c : casos) {
        Parametros.Dados = c.dados;
        EXPECT_EQ(NomeObjetoInstancia("Instancia"), c.nome) << c.dados;
    }
    Parametros.Dados = "/tmp/x/";
    EXPECT_EQ(NomeObjetoInstancia("Mostrar"), "Local\\Velorin.Mostrar.CFDFA019");
    EXPECT_EQ(HashFnv1a(""), 0x811C9DC5u);
    Parametros.Dados = antigo;
}

// A second process for the instance tests: runs `corpo` after fork and reports its exit code.
class Processo {
public:
    explicit Processo(const std::function<int(int)>& corpo) {
        int p[2];
        if (::pipe(p) != 0) std::abort();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(p[0]);
            ::_exit(corpo(p[1]));
        }
        ::close(p[1]);
        leitura_ = p[0];
    }
    ~Processo() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(leitura_);
    }
    // Waits (bounded) for one byte from the child.
    char Ler() {
        char c = 0;
        for (int i = 0; i < 100; ++i) {
            pollfd p{leitura_, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) return ::read(leitura_, &c, 1) == 1 ? c : '?';
        }
        return 'T';
    }
    int Esperar() {
        int st = 0;
        for (int i = 0; i < 500; ++i) {
            if (::waitpid(pid_, &st, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : 100;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return 101;
    }
    void Matar() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int leitura_ = -1;
};

void Avisar(int fd, char c) { (void)!::write(fd, &c, 1); }

// Polls a signal for up to five seconds.
bool EsperarPedido(bool (*pedido)()) {
    for (int i = 0; i < 500; ++i) {
        if (pedido()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class InstanciaTeste : public ::testing::Test {
protected:
    void SetUp() override {
        antigo_runtime = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
        ::setenv("XDG_RUNTIME_DIR", runtime.Caminho().c_str(), 1);
        antigo_dados = Parametros.Dados;
        Parametros.Dados = dados / "Velorin/";
    }
    void TearDown() override {
        LiberarInstancia();
        Parametros.Dados = antigo_dados;
        if (antigo_runtime.empty())
            ::unsetenv("XDG_RUNTIME_DIR");
        else
            ::setenv("XDG_RUNTIME_DIR", antigo_runtime.c_str(), 1);
    }
    TPastaTemporaria runtime, dados;
    std::string antigo_runtime, antigo_dados;
};

std::string Maiusculas(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

TEST_F(InstanciaTeste, SegundaCopiaSoSinalizaEPrimeiraVeMostrarUmaVez) {
    Processo primeira([](int fd) {
        if (!AdquirirInstancia()) return 1;
        Avisar(fd, 'A');
        if (!EsperarPedido(PedidoMostrar)) return 2;
        if (PedidoMostrar() || PedidoSair()) return 3;  // consumed by the first poll
        return 0;
    });
    ASSERT_EQ(primeira.Ler(), 'A');
    // The same folder written in other letter case is the same instance.
    Parametros.Dados = Maiusculas(Parametros.Dados);
    EXPECT_FALSE(AdquirirInstancia());
    SinalizarMostrar();
    EXPECT_EQ(primeira.Esperar(), 0);
}

TEST_F(InstanciaTeste, SairChegaACopiaEmExecucao) {
    Processo primeira([](int fd) {
        if (!AdquirirInstancia()) return 1;
        Avisar(fd, 'A');
        if (!EsperarPedido(PedidoSair)) return 2;
        return PedidoMostrar() ? 3 : 0;
    });
    ASSERT_EQ(primeira.Ler(), 'A');
    SinalizarSair();
    EXPECT_EQ(primeira.Esperar(), 0);
}

TEST_F(InstanciaTeste, PastasDiferentesRodamJuntas) {
    TPastaTemporaria outra;
    const std::string pasta_filho = outra / "Velorin/";
    Processo primeira([&](int fd) {
        Parametros.Dados = pasta_filho;
        if (!AdquirirInstancia()) return 1;
        Avisar(fd, 'A');
        // A signal meant for the other folder's copy never reaches this one.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return PedidoMostrar() ? 2 : 0;
    });
    ASSERT_EQ(primeira.Ler(), 'A');
    EXPECT_TRUE(AdquirirInstancia());
    SinalizarMostrar();  // to our own folder: arrives here
    EXPECT_TRUE(EsperarPedido(PedidoMostrar));
    EXPECT_EQ(primeira.Esperar(), 0);
}

TEST_F(InstanciaTeste, CopiaMortaLiberaAInstancia) {
    Processo primeira([](int fd) {
        if (!AdquirirInstancia()) return 1;
        Avisar(fd, 'A');
        for (;;) ::pause();
    });
    ASSERT_EQ(primeira.Ler(), 'A');
    EXPECT_FALSE(AdquirirInstancia());
    primeira.Matar();
    EXPECT_TRUE(AdquirirInstancia());
    SinalizarMostrar();
    EXPECT_TRUE(EsperarPedido(PedidoMostrar));
}

TEST_F(InstanciaTeste, SemCopiaSinalNaoFazNada) {
    SinalizarSair();
    SinalizarMostrar();
    ASSERT_TRUE(AdquirirInstancia());
    EXPECT_FALSE(PedidoSair());
    EXPECT_FALSE(PedidoMostrar());
    LiberarInstancia();
    EXPECT_TRUE(AdquirirInstancia());  // released for good
}

}  // namespace
}  // namespace velorin
