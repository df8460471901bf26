#include "core/parametros.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cstdlib>
#include <functional>

#include "apoio/pasta_temporaria.h"
#include "core/inicio.h"

namespace velorin {
namespace {

using teste::TPastaTemporaria;

// Runs the parser with a private XDG_CONFIG_HOME so the default folder lands in a temp dir.
class ParametrosTeste : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("XDG_CONFIG_HOME")) antigo = v;
        ::setenv("XDG_CONFIG_HOME", pasta.Caminho().c_str(), 1);
    }
    void TearDown() override {
        if (antigo.empty())
            ::unsetenv("XDG_CONFIG_HOME");
        else
            ::setenv("XDG_CONFIG_HOME", antigo.c_str(), 1);
        LerParametros(std::vector<std::string>{"--dados", pasta / "fim"});
    }
    TPastaTemporaria pasta;
    std::string antigo;
};

TEST_F(ParametrosTeste, Tabela) {
    const std::string exe = PastaExecutavel();
    const std::string abs = pasta / "abs/dados";
    struct Caso {
        std::vector<std::string> args;
        std::function<void(const TParametros&)> confere;
    };
    const Caso casos[] = {
        {{}, [&](const TParametros& p) {
             EXPECT_EQ(p.Dados, pasta / "Velorin/");
             EXPECT_TRUE(p.DadosPadrao);
             EXPECT_EQ(p.Porta, 0);
             EXPECT_FALSE(p.Simular);
         }},
        {{"--PORTA", "9000"}, [](const TParametros& p) { EXPECT_EQ(p.Porta, 9000); }},
        {{"--porta", "0"}, [](const TParametros& p) { EXPECT_EQ(p.Porta, 0); }},
        {{"--porta", "70000"}, [](const TParametros& p) { EXPECT_EQ(p.Porta, 0); }},
        {{"--porta", "abc"}, [](const TParametros& p) { EXPECT_EQ(p.Porta, 0); }},
        {{"--porta", "65535"}, [](const TParametros& p) { EXPECT_EQ(p.Porta, 65535); }},
        {{"--porta=9000"}, [](const TParametros& p) { EXPECT_EQ(p.Porta, 0); }},
        {{"--porta"}, [](const TParametros& p) { EXPECT_EQ(p.Porta, 0); }},
        {{"--Simular", "--Inicio-Windows", "--SAIR", "--autoteste", "--sem-atualizacoes"},
         [](const TParametros& p) {
             EXPECT_TRUE(p.Simular);
             EXPECT_TRUE(p.InicioWindows);
             EXPECT_TRUE(p.Sair);
             EXPECT_TRUE(p.AutoTeste);
             EXPECT_TRUE(p.SemAtualizacoes);
         }},
        {{"--aprovar-automatico"}, [](const TParametros& p) { EXPECT_FALSE(p.AprovarAutomatico); }},
        // A value is taken as is, even when it looks like an option; values keep their case.
        {{"--endereco", "--simular"}, [](const TParametros& p) {
             EXPECT_EQ(p.Endereco, "--simular");
             EXPECT_FALSE(p.Simular);
         }},
        {{"--endereco", " \t127.0.0.1\r\n", "--nuvem", " https://X.example ", "--atualizacoes",
          "\x01https://u\x1f", "--confirmar-atualizacao", " Ab ", "--versao-confirmacao", " 1.0.8 "},
         [](const TParametros& p) {
             EXPECT_EQ(p.Endereco, "127.0.0.1");
             EXPECT_EQ(p.Nuvem, "https://X.example");
             EXPECT_EQ(p.Atualizacoes, "https://u");
             EXPECT_EQ(p.ConfirmarAtualizacao, "Ab");
             EXPECT_EQ(p.VersaoConfirmacao, "1.0.8");
         }},
        {{"--nuvem"}, [](const TParametros& p) { EXPECT_EQ(p.Nuvem, ""); }},
        {{"--dados", "sub/pasta"}, [&](const TParametros& p) {
             EXPECT_EQ(p.Dados, exe + "sub/pasta/");
             EXPECT_FALSE(p.DadosPadrao);
         }},
        {{"--dados", abs}, [&](const TParametros& p) { EXPECT_EQ(p.Dados, abs + "/"); }},
        {{"--dados", abs + "/x/../"}, [&](const TParametros& p) { EXPECT_EQ(p.Dados, abs + "/"); }},
        {{"--web", "painel"}, [&](const TParametros& p) { EXPECT_EQ(p.Web, exe + "painel/"); }},
        {{"--web", ""}, [](const TParametros& p) { EXPECT_EQ(p.Web, ""); }},
        {{"--auxiliar-atualizacao", "/a/b/../c.bin", "--verificar-atualizacao", "v.bin"},
         [&](const TParametros& p) {
             EXPECT_EQ(p.AuxiliarAtualizacao, "/a/c.bin");
             EXPECT_EQ(p.VerificarAtualizacao, exe + "v.bin");
         }},
        {{"desconhecido", "--porta", "81", "-x"}, [](const TParametros& p) { EXPECT_EQ(p.Porta, 81); }},
    };
    for (const auto& c : casos) {
        std::string nome;
        for (const auto& a : c.args) nome += "[" + a + "]";
        SCOPED_TRACE(nome);
        LerParametros(c.args);
        c.confere(Parametros);
    }
    ::rmdir((exe + "sub/pasta").c_str());
    ::rmdir((exe + "sub").c_str());
}

TEST_F(ParametrosTeste, CriaPastaDeDadosComOsPais) {
    LerParametros(std::vector<std::string>{"--dados", pasta / "a/b/c"});
    struct stat st{};
    ASSERT_EQ(::stat((pasta / "a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(ParametrosTeste, PastaPadraoSemXdgUsaHome) {
    ::unsetenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(PastaDadosPadrao(), std::string(home) + "/.config/Velorin/");
    ::setenv("XDG_CONFIG_HOME", "relativo", 1);  // not absolute: ignored
    EXPECT_EQ(PastaDadosPadrao(), std::string(home) + "/.config/Velorin/");
}

TEST(Processo, CaminhoFisicoENome) {
    TPastaTemporaria pasta;
    ASSERT_EQ(::mkdir((pasta / "real").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((pasta / "real").c_str(), (pasta / "atalho").c_str()), 0);
    const std::string real = CaminhoFisico(pasta / "real");
    EXPECT_EQ(CaminhoFisico(pasta / "atalho"), real);
    EXPECT_EQ(CaminhoFisico(pasta / "atalho/../atalho"), real);
    EXPECT_EQ(CaminhoFisico(pasta / "falta"), "");
    EXPECT_EQ(CaminhoFisico(""), "");
    EXPECT_FALSE(NomeComputador().empty());
    EXPECT_EQ(EdicaoInternet(), VELORIN_EDICAO_INTERNET != 0);
}

}  // namespace
}  // namespace velorin
