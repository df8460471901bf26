#include "core/inicio.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "apoio/pasta_temporaria.h"
#include "core/parametros.h"

namespace velorin {
namespace {

using teste::Existe;
using teste::GravarArquivo;
using teste::LerArquivo;
using teste::TPastaTemporaria;

TEST(EntradaInicio, CitacaoDoExec) {
    struct Caso {
        std::string caminho;
        std::string no_arquivo;
    };
    const Caso casos[] = {
        {"/usr/bin/velorin", R"("/usr/bin/velorin")"},
        {"/opt/Meu App/velorin", R"("/opt/Meu App/velorin")"},
        {"/o\"p/v", R"("/o\\"p/v")"},
        {"/a$b/`c`", R"("/a\\$b/\\`c\\`")"},
        {"/a\\b", R"("/a\\\\b")"},
        {"/100%/v", R"("/100%%/v")"},
    };
    for (const auto& c : casos) EXPECT_EQ(CitarArgumentoExec(c.caminho), c.no_arquivo) << c.caminho;
    EXPECT_EQ(LinhaExecInicio("/x y/v"), "\"/x y/v\" --inicio-windows");
}

class InicioTeste : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("XDG_CONFIG_HOME")) antigo = v;
        ::setenv("XDG_CONFIG_HOME", pasta.Caminho().c_str(), 1);
        salvo = Parametros;
        Parametros.Simular = false;
        Parametros.DadosPadrao = true;
    }
    void TearDown() override {
        Parametros = salvo;
        if (antigo.empty())
            ::unsetenv("XDG_CONFIG_HOME");
        else
            ::setenv("XDG_CONFIG_HOME", antigo.c_str(), 1);
    }
    TPastaTemporaria pasta;
    std::string antigo;
    TParametros salvo;
};

TEST_F(InicioTeste, LigarConferirDesligar) {
    const std::string arquivo = pasta / "autostart/velorin.desktop";
    EXPECT_EQ(CaminhoEntradaInicio(), arquivo);
    EXPECT_FALSE(IniciaComWindows());
    ASSERT_TRUE(DefinirInicioWindows(true));
    const std::string texto = LerArquivo(arquivo);
    EXPECT_NE(texto.find("Exec=" + LinhaExecInicio(CaminhoExecutavel()) + "\n"), std::string::npos);
    EXPECT_TRUE(IniciaComWindows());
    EXPECT_FALSE(Existe(arquivo + ".tmp"));

    ASSERT_TRUE(DefinirInicioWindows(false));
    EXPECT_FALSE(Existe(arquivo));
    EXPECT_FALSE(IniciaComWindows());
    EXPECT_TRUE(DefinirInicioWindows(false));  // already gone counts as success
}

TEST_F(InicioTeste, EntradaAlheiaOuDesativadaNaoConta) {
    ASSERT_TRUE(DefinirInicioWindows(true));
    const std::string arquivo = CaminhoEntradaInicio();
    const std::string bom = LerArquivo(arquivo);
    GravarArquivo(arquivo, bom + "Hidden=true\n");
    EXPECT_FALSE(IniciaComWindows());
    GravarArquivo(arquivo, "[Desktop Entry]\nExec=\"/outro/programa\" --inicio-windows\n");
    EXPECT_FALSE(IniciaComWindows());
    GravarArquivo(arquivo, "[Outra]\nExec=" + LinhaExecInicio(CaminhoExecutavel()) + "\n");
    EXPECT_FALSE(IniciaComWindows());
    GravarArquivo(arquivo, bom + std::string(3000, '#'));  // too large to be ours
    EXPECT_FALSE(IniciaComWindows());
    // Letter case of the path is not significant, as with the value it replaces.
    std::string maiusculo = bom;
    for (char& c : maiusculo)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    std::string linha = maiusculo.substr(maiusculo.find("EXEC="));
    GravarArquivo(arquivo, "[Desktop Entry]\nExec=" + linha.substr(5));
    EXPECT_TRUE(IniciaComWindows());
}

TEST_F(InicioTeste, SimulacaoOuPastaPropriaNuncaEscrevem) {
    for (int caso = 0; caso < 2; ++caso) {
        Parametros.Simular = caso == 0;
        Parametros.DadosPadrao = caso != 0 ? false : true;
        EXPECT_FALSE(PodeIniciarComWindows());
        EXPECT_FALSE(DefinirInicioWindows(true));
        EXPECT_FALSE(DefinirInicioWindows(false));
        EXPECT_FALSE(Existe(pasta / "autostart/velorin.desktop"));
    }
}

// The desktop's own launcher is the judge of the quoting: it must hand the program exactly
// its path, however odd, and the one argument.
TEST_F(InicioTeste, LancadorDaSessaoEntendeOExec) {
    if (::access("/usr/bin/gio", X_OK) != 0) GTEST_SKIP() << "gio ausente";
    // '%' is left out: the session launcher cannot start a program whose path holds one in any
    // spelling, while the file format demands "%%" (checked in the table above).
    const std::string estranha = pasta / "a b$c`d\"e\\f";
    ASSERT_EQ(::mkdir(estranha.c_str(), 0700), 0);
    const std::string programa = estranha + "/prog";
    const std::string saida = pasta / "saida.txt";
    GravarArquivo(programa, "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > '" + saida + "'\n");
    ASSERT_EQ(::chmod(programa.c_str(), 0700), 0);
    const std::string entrada = pasta / "teste.desktop";
    std::string texto = TextoEntradaInicio(programa);
    GravarArquivo(entrada, texto);
    const std::string cmd = "cd / && HOME='" + pasta.Caminho() + "' gio launch '" + entrada + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string lido;
    for (int i = 0; i < 300 && (lido = LerArquivo(saida)).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(lido, programa + "\n--inicio-windows\n");
}

}  // namespace
}  // namespace velorin
