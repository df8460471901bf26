#include "core/substituir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "apoio/pasta_temporaria.h"
#include "core/log.h"

namespace velorin {
namespace {

using teste::Existe;
using teste::GravarArquivo;
using teste::LerArquivo;
using teste::TPastaTemporaria;

// Records every wait instead of sleeping, and can stand in for the move with a script of
// results (the last one repeats).
class Substituir : public ::testing::Test {
  protected:
    void SetUp() override {
        AbrirLog(pasta.Caminho());
        DefinirEsperaParaTeste([this](std::int32_t ms) { esperas.push_back(ms); });
    }
    void TearDown() override {
        FecharLog();
        DefinirMoverParaTeste({});
        DefinirEsperaParaTeste({});
    }
    void Roteiro(std::vector<int> resultados) {
        DefinirMoverParaTeste([this, resultados](const char*, const char*) {
            const std::size_t i = std::min(movimentos++, resultados.size() - 1);
            return resultados[i];
        });
    }
    std::string Log() const { return LerArquivo(pasta / "log.txt"); }

    TPastaTemporaria pasta;
    std::vector<std::int32_t> esperas;
    std::size_t movimentos = 0;
};

TEST_F(Substituir, AlvoLivreNaPrimeiraTentativaSemLog) {
    GravarArquivo(pasta / "novo.tmp", "novo");
    GravarArquivo(pasta / "config.ini", "antigo");
    std::int32_t tentativas = -1, erro = -1;
    ASSERT_TRUE(
        SubstituirArquivoDetalhado(pasta / "novo.tmp", pasta / "config.ini", tentativas, erro));
    EXPECT_EQ(tentativas, 1);
    EXPECT_EQ(erro, 0);
    EXPECT_EQ(LerArquivo(pasta / "config.ini"), "novo");
    EXPECT_FALSE(Existe(pasta / "novo.tmp"));
    EXPECT_TRUE(esperas.empty());
    EXPECT_EQ(Log(), "");

    // Also onto a target that does not exist yet.
    GravarArquivo(pasta / "b.tmp", "b");
    errno = EINVAL;
    ASSERT_TRUE(SubstituirArquivo(pasta / "b.tmp", pasta / "b.json"));
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(LerArquivo(pasta / "b.json"), "b");
}

TEST_F(Substituir, OrigemAusenteFalhaLogoComEnoent) {
    GravarArquivo(pasta / "config.ini", "antigo");
    std::int32_t tentativas = 0, erro = 0;
    EXPECT_FALSE(
        SubstituirArquivoDetalhado(pasta / "nao-existe", pasta / "config.ini", tentativas, erro));
    EXPECT_EQ(tentativas, 1);
    EXPECT_EQ(erro, ENOENT);
    EXPECT_TRUE(esperas.empty());
    EXPECT_EQ(LerArquivo(pasta / "config.ini"), "antigo");

    EXPECT_FALSE(SubstituirArquivo(pasta / "nao-existe", pasta / "config.ini"));
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(Substituir, OutroErroRealNaoRepete) {
    // A file cannot replace a folder; that is no "in use" case.
    GravarArquivo(pasta / "novo.tmp", "novo");
    ASSERT_EQ(::mkdir((pasta / "alvo").c_str(), 0700), 0);
    GravarArquivo(pasta / "alvo/dentro", "x");
    std::int32_t tentativas = 0, erro = 0;
    EXPECT_FALSE(SubstituirArquivoDetalhado(pasta / "novo.tmp", pasta / "alvo", tentativas, erro));
    EXPECT_EQ(tentativas, 1);
    EXPECT_EQ(erro, EISDIR);
    EXPECT_TRUE(esperas.empty());
    EXPECT_EQ(LerArquivo(pasta / "alvo/dentro"), "x");
    EXPECT_EQ(LerArquivo(pasta / "novo.tmp"), "novo");
}

TEST_F(Substituir, AgendaDeTentativas) {
    struct Caso {
        const char* nome;
        std::vector<int> roteiro;
        bool ok;
        std::int32_t tentativas;
        std::int32_t erro;
        std::vector<std::int32_t> esperas;
        std::string linha;  // expected log line, empty for none
    };
    const std::vector<std::int32_t> todas = {25, 50, 100, 200, 400};
    const Caso casos[] = {
        {"ocupado uma vez",
         {EBUSY, 0},
         true,
         2,
         0,
         {25},
         "config.ini em uso (erro 16), gravado na tentativa 2"},
        {"acesso negado tres vezes",
         {EACCES, EACCES, EACCES, 0},
         true,
         4,
         0,
         {25, 50, 100},
         "config.ini em uso (erro 13), gravado na tentativa 4"},
        {"primeiro erro e o registrado",
         {ETXTBSY, EACCES, 0},
         true,
         3,
         0,
         {25, 50},
         "config.ini em uso (erro 26), gravado na tentativa 3"},
        {"sexta tentativa ainda vale",
         {EACCES, EACCES, EACCES, EACCES, EACCES, 0},
         true,
         6,
         0,
         todas,
         "config.ini em uso (erro 13), gravado na tentativa 6"},
        {"preso para sempre", {EACCES}, false, 6, EACCES, todas, ""},
        {"EPERM nao e em uso", {EPERM}, false, 1, EPERM, {}, ""},
        {"EXDEV nao e em uso", {EXDEV}, false, 1, EXDEV, {}, ""},
        {"em uso e depois outro erro", {EBUSY, ENOSPC}, false, 2, ENOSPC, {25}, ""},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        GravarArquivo(pasta / "log.txt", "");
        esperas.clear();
        movimentos = 0;
        Roteiro(c.roteiro);
        std::int32_t tentativas = 0, erro = 0;
        EXPECT_EQ(SubstituirArquivoDetalhado(pasta / "config.ini.tmp", pasta / "config.ini",
                                             tentativas, erro),
                  c.ok);
        EXPECT_EQ(tentativas, c.tentativas);
        EXPECT_EQ(movimentos, static_cast<std::size_t>(c.tentativas));
        EXPECT_EQ(erro, c.erro);
        EXPECT_EQ(esperas, c.esperas);
        const std::string log = Log();
        if (c.linha.empty()) {
            EXPECT_EQ(log, "");
        } else {
            EXPECT_NE(log.find("  " + c.linha + "\r\n"), std::string::npos) << log;
        }

        movimentos = 0;
        errno = 0;
        EXPECT_EQ(SubstituirArquivo(pasta / "config.ini.tmp", pasta / "config.ini"), c.ok);
        EXPECT_EQ(errno, c.erro);
    }
}

TEST_F(Substituir, NomeNoLogEOUltimoPedacoDoDestino) {
    Roteiro({EBUSY, 0});
    EXPECT_TRUE(SubstituirArquivo("/x/y/atalhos.json.tmp", "/x/y/atalhos.json"));
    EXPECT_NE(Log().find("  atalhos.json em uso (erro 16), gravado na tentativa 2\r\n"),
              std::string::npos)
        << Log();
}

}  // namespace
}  // namespace velorin
