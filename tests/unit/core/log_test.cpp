#include "core/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "apoio/pasta_temporaria.h"

namespace velorin {
namespace {

using teste::Existe;
using teste::GravarArquivo;
using teste::LerArquivo;
using teste::TPastaTemporaria;

class LogTeste : public ::testing::Test {
protected:
    void SetUp() override { AbrirLog(pasta.Caminho()); }
    void TearDown() override { FecharLog(); }
    std::string Atual() const { return LerArquivo(pasta / "log.txt"); }
    TPastaTemporaria pasta;
};

// Splits on CR LF, which must end every line.
std::vector<std::string> Linhas(const std::string& texto) {
    std::vector<std::string> r;
    std::size_t i = 0;
    while (i < texto.size()) {
        const auto fim = texto.find("\r\n", i);
        if (fim == std::string::npos) {
            ADD_FAILURE() << "linha sem CR LF: " << texto.substr(i);
            break;
        }
        r.push_back(texto.substr(i, fim - i));
        i = fim + 2;
    }
    return r;
}

TEST_F(LogTeste, FormatoDaLinha) {
    Log("Iniciado");
    LogFmt("porta %d, nome %s", 8765, "pc");
    const auto linhas = Linhas(Atual());
    ASSERT_EQ(linhas.size(), 2u);
    const std::regex hora(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  )");
    for (const auto& l : linhas) EXPECT_TRUE(std::regex_search(l, hora, std::regex_constants::match_continuous)) << l;
    EXPECT_EQ(linhas[0].substr(25), "Iniciado");
    EXPECT_EQ(linhas[1].substr(25), "porta 8765, nome pc");
}

TEST_F(LogTeste, MensagemLongaEQuebraSemAlteracao) {
    const std::string longa(5000, 'z');
    LogFmt("[%s]", longa.c_str());
    Log("a\r\nb");
    const std::string t = Atual();
    EXPECT_NE(t.find("[" + longa + "]\r\n"), std::string::npos);
    EXPECT_NE(t.find("  a\r\nb\r\n"), std::string::npos);
}

TEST(LogFechado, NadaAntesDeAbrirNemDepoisDeFechar) {
    TPastaTemporaria pasta;
    FecharLog();
    Log("antes");
    EXPECT_FALSE(Existe(pasta / "log.txt"));
    AbrirLog(pasta.Caminho().substr(0, pasta.Caminho().size() - 1));  // without the final "/"
    EXPECT_EQ(CaminhoLog(), pasta / "log.txt");
    Log("durante");
    FecharLog();
    Log("depois");
    const std::string t = LerArquivo(pasta / "log.txt");
    EXPECT_EQ(t.find("antes"), std::string::npos);
    EXPECT_NE(t.find("durante"), std::string::npos);
    EXPECT_EQ(t.find("depois"), std::string::npos);
}

TEST_F(LogTeste, RotacaoSoAcimaDoLimite) {
    // Exactly at the limit: appended, no rotation.
    GravarArquivo(pasta / "log.txt", std::string(LIMITE_LOG, 'a'));
    Log("cabe");
    EXPECT_FALSE(Existe(pasta / "log.old.txt"));
    const std::string t = Atual();
    EXPECT_EQ(t.size(), static_cast<std::size_t>(LIMITE_LOG) + 25 + 4 + 2);
    EXPECT_EQ(t.substr(t.size() - 6), "cabe\r\n");

    // Now above it: the next line rotates first, replacing an existing old file.
    GravarArquivo(pasta / "log.old.txt", "geracao anterior");
    Log("nova");
    EXPECT_EQ(LerArquivo(pasta / "log.old.txt"), t);
    const auto linhas = Linhas(Atual());
    ASSERT_EQ(linhas.size(), 1u);
    EXPECT_EQ(linhas[0].substr(25), "nova");
}

TEST_F(LogTeste, ArquivoOcupadoPerdeSoAquelaLinha) {
    Log("um");
    {
        const int fd = ::open((pasta / "log.txt").c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // another program writing the file
        Log("perdida");
        ::close(fd);
    }
    Log("tres");
    const auto linhas = Linhas(Atual());
    ASSERT_EQ(linhas.size(), 2u);
    EXPECT_EQ(linhas[0].substr(25), "um");
    EXPECT_EQ(linhas[1].substr(25), "tres");
}

TEST_F(LogTeste, PastaInexistenteNaoFalha) {
    AbrirLog(pasta / "nao/existe");
    Log("sem lugar");  // must simply return
    AbrirLog(pasta.Caminho());
    Log("de volta");
    EXPECT_NE(Atual().find("de volta"), std::string::npos);
}

TEST_F(LogTeste, OitoThreadsNuncaMisturamLinhas) {
    constexpr int THREADS = 8;
    constexpr int LINHAS = 300;
    std::vector<std::thread> ts;
    for (int t = 0; t < THREADS; ++t) {
        ts.emplace_back([t] {
            const std::string corpo(200, static_cast<char>('A' + t));
            for (int i = 0; i < LINHAS; ++i) LogFmt("t%d %04d %s", t, i, corpo.c_str());
        });
    }
    for (auto& t : ts) t.join();
    const auto linhas = Linhas(Atual());
    ASSERT_EQ(linhas.size(), static_cast<std::size_t>(THREADS * LINHAS));
    std::vector<int> proxima(THREADS, 0);
    for (const auto& l : linhas) {
        const std::string msg = l.substr(25);
        ASSERT_EQ(msg.size(), 2u + 1 + 4 + 1 + 200) << msg;
        const int t = msg[1] - '0';
        ASSERT_TRUE(t >= 0 && t < THREADS);
        EXPECT_EQ(msg.substr(8), std::string(200, static_cast<char>('A' + t)));
        // Each thread's own lines keep their order.
        EXPECT_EQ(std::stoi(msg.substr(3, 4)), proxima[static_cast<std::size_t>(t)]++);
    }
}

}  // namespace
}  // namespace velorin
