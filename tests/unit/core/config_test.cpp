#include "core/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

#include "apoio/pasta_temporaria.h"
#include "core/log.h"
#include "core/seguranca.h"
#include "core/substituir.h"

namespace velorin {
namespace {

using teste::Existe;
using teste::GravarArquivo;
using teste::LerArquivo;
using teste::TPastaTemporaria;

const std::string HASH_A(64, 'a');
const std::string HASH_B = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

class Config : public ::testing::Test {
  protected:
    void SetUp() override {
        DefinirPastaConfig(pasta.Caminho());
        AbrirLog(pasta.Caminho());
        // The token's protection key goes to this test's folder, never the real keyring.
        DefinirPastaChaveProtecao(pasta / "chave");
        DefinirUsoChaveiro(false);
    }
    void TearDown() override {
        FecharLog();
        DefinirPastaChaveProtecao("");
        DefinirUsoChaveiro(true);
        DefinirPastaConfig("");
        DefinirMoverParaTeste({});
        DefinirEsperaParaTeste({});
    }
    std::string Log() const { return LerArquivo(pasta / "log.txt"); }
    std::string Arquivo() const { return LerArquivo(pasta / "config.ini"); }

    TPastaTemporaria pasta;
};

// The protected token differs on every save (fresh nonce); the rest of the file must not.
std::string SemToken(std::string texto) {
    const std::size_t pos = texto.find("\nToken=");
    if (pos != std::string::npos) texto.erase(pos + 1, texto.find('\n', pos + 1) - pos);
    return texto;
}

TConfig CarregarDeTexto(const std::string& texto) {
    TConfig cfg;
    LerConfigDeTexto(texto, cfg);
    return cfg;
}

TConfig ConfigCheia() {
    TConfig cfg;
    cfg.Porta = 9123;
    cfg.Endereco = "192.168.0.10";
    cfg.NomeExibicao = "Sala de estar";
    cfg.Idioma = "es";
    cfg.SegundosCarencia = 45;
    cfg.Pausado = true;
    cfg.MouseTecladoInternet = true;
    cfg.Url = "https://nuvem.example";
    cfg.Token = "token-da-nuvem-0123456789";
    cfg.Conta = "conta@example";
    cfg.Aparelho = "PC do escritorio";
    TDispositivo a;
    a.Id = "0a1b2c3d";
    a.Nome = " Celular ; x ";  // blanks and " ;" kept exactly
    a.TokenHash = HASH_A;
    a.ChaveHash = HASH_B;
    a.CriadoEm = CodificarData(2024, 5, 1, 13, 7, 9);
    a.UltimoAcesso = CodificarData(2024, 12, 31, 23, 59, 59);
    a.UltimoIp = "192.168.0.20";
    TDispositivo b;
    b.Id = "ffff0000";
    b.Nome = "Tablet \xC3\xA9";
    b.TokenHash = HASH_B;
    cfg.Dispositivos = {a, b};
    return cfg;
}

void EsperarIguais(const TConfig& e, const TConfig& c) {
    EXPECT_EQ(c.Porta, e.Porta);
    EXPECT_EQ(c.Endereco, e.Endereco);
    EXPECT_EQ(c.NomeExibicao, e.NomeExibicao);
    EXPECT_EQ(c.Idioma, e.Idioma);
    EXPECT_EQ(c.SegundosCarencia, e.SegundosCarencia);
    EXPECT_EQ(c.Pausado, e.Pausado);
    EXPECT_EQ(c.MouseTecladoInternet, e.MouseTecladoInternet);
    EXPECT_EQ(c.Url, e.Url);
    EXPECT_EQ(c.Token, e.Token);
    EXPECT_EQ(c.Conta, e.Conta);
    EXPECT_EQ(c.Aparelho, e.Aparelho);
    ASSERT_EQ(c.Dispositivos.size(), e.Dispositivos.size());
    for (std::size_t i = 0; i < e.Dispositivos.size(); ++i) {
        const TDispositivo& x = e.Dispositivos[i];
        const TDispositivo& y = c.Dispositivos[i];
        EXPECT_EQ(y.Id, x.Id);
        EXPECT_EQ(y.Nome, x.Nome);
        EXPECT_EQ(y.TokenHash, x.TokenHash);
        EXPECT_EQ(y.ChaveHash, x.ChaveHash);
        EXPECT_DOUBLE_EQ(y.CriadoEm, x.CriadoEm);
        EXPECT_DOUBLE_EQ(y.UltimoAcesso, x.UltimoAcesso);
        EXPECT_EQ(y.UltimoIp, x.UltimoIp);
    }
}

TEST_F(Config, ArquivoAusenteDaPadraoSemMensagem) {
    EXPECT_EQ(CaminhoConfig(), pasta / "config.ini");
    EXPECT_FALSE(ConfigExiste());
    TConfig cfg = ConfigCheia();
    CarregarConfig(cfg);
    EsperarIguais(ConfigPadrao(), cfg);
    EXPECT_EQ(cfg.Porta, 8765);
    EXPECT_EQ(cfg.Endereco, "0.0.0.0");
    EXPECT_EQ(cfg.Idioma, "auto");
    EXPECT_EQ(cfg.SegundosCarencia, 10);
    EXPECT_EQ(Log(), "");
}

TEST_F(Config, SalvarECarregarGuardaCadaCampo) {
    const TConfig original = ConfigCheia();
    ASSERT_TRUE(SalvarConfig(original));
    EXPECT_TRUE(ConfigExiste());
    EXPECT_FALSE(Existe(pasta / "config.ini.tmp"));
    struct stat st {};
    ASSERT_EQ(::stat((pasta / "config.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "holds hashes and the protected token";

    TConfig lido;
    CarregarConfig(lido);
    EsperarIguais(original, lido);

    // Saving what was loaded changes nothing but the token's fresh protection.
    const std::string primeiro = SemToken(Arquivo());
    ASSERT_TRUE(SalvarConfig(lido));
    EXPECT_EQ(SemToken(Arquivo()), primeiro);
    EXPECT_EQ(Log(), "");
}

TEST_F(Config, TokenDaNuvemNuncaEmClaroNoArquivo) {
    TConfig cfg = ConfigCheia();
    ASSERT_TRUE(SalvarConfig(cfg));
    const std::string texto = Arquivo();
    EXPECT_EQ(texto.find(cfg.Token), std::string::npos);
    EXPECT_NE(texto.find("[Nuvem]"), std::string::npos);
    // The file holds exactly what the protection gave, which opens to the token.
    const std::string inicio = "\nToken=";
    const std::size_t pos = texto.find(inicio);
    ASSERT_NE(pos, std::string::npos);
    const std::size_t fim = texto.find('\n', pos + 1);
    const std::string protegido = texto.substr(pos + inicio.size(), fim - pos - inicio.size());
    EXPECT_FALSE(protegido.empty());
    std::string aberto;
    EXPECT_TRUE(DesprotegerTexto(protegido, aberto));
    EXPECT_EQ(aberto, cfg.Token);

    cfg.Token.clear();
    EXPECT_NE(TextoDeConfig(cfg).find("\nToken=\n"), std::string::npos);
}

TEST_F(Config, TokenQueNaoAbreFicaVazioComAviso) {
    GravarArquivo(pasta / "config.ini", "[Nuvem]\nUrl=https://x.example\nToken=bm90IGEgYmxvYg==\n");
    TConfig cfg;
    CarregarConfig(cfg);
    EXPECT_EQ(cfg.Token, "");
    EXPECT_EQ(cfg.Url, "https://x.example");
    EXPECT_NE(Log().find("  AVISO: token da nuvem nao pode ser aberto (DPAPI); acesso pela "
                         "internet desativado\r\n"),
              std::string::npos)
        << Log();

    // An empty stored value is simply "no token".
    GravarArquivo(pasta / "log.txt", "");
    GravarArquivo(pasta / "config.ini", "[Nuvem]\nToken=\n");
    CarregarConfig(cfg);
    EXPECT_EQ(cfg.Token, "");
    EXPECT_EQ(Log(), "");
}

TEST(ConfigLeitura, ValoresDeGeralComLimitesERegras) {
    struct Caso {
        std::string linha;
        std::int32_t porta;
        std::int32_t carencia;
        std::string idioma;
    };
    const Caso casos[] = {
        {"Porta=0", 8765, 10, "auto"},
        {"Porta=70000", 8765, 10, "auto"},
        {"Porta=-1", 8765, 10, "auto"},
        {"Porta=65535", 65535, 10, "auto"},
        {"Porta=1", 1, 10, "auto"},
        {"Porta= 8080 ", 8080, 10, "auto"},
        {"Porta=80x", 8765, 10, "auto"},
        {"Porta=4294975061", 8765, 10, "auto"},  // 8765 + 2^32 must not wrap into range
        {"Porta=", 8765, 10, "auto"},
        {"SegundosCarencia=5", 8765, 10, "auto"},
        {"SegundosCarencia=500", 8765, 120, "auto"},
        {"SegundosCarencia=60", 8765, 60, "auto"},
        {"SegundosCarencia=-30", 8765, 10, "auto"},
        {"SegundosCarencia=abc", 8765, 10, "auto"},
        {"SegundosCarencia=99999999999", 8765, 10, "auto"},
        {"Idioma=PT ", 8765, 10, "pt"},
        {"Idioma= En", 8765, 10, "en"},
        {"Idioma=es", 8765, 10, "es"},
        {"Idioma=fr", 8765, 10, "auto"},
        {"Idioma=", 8765, 10, "auto"},
        {"Idioma=pt-BR", 8765, 10, "auto"},
    };
    for (const Caso& c : casos) {
        const TConfig cfg = CarregarDeTexto("[Geral]\n" + c.linha + "\n");
        EXPECT_EQ(cfg.Porta, c.porta) << c.linha;
        EXPECT_EQ(cfg.SegundosCarencia, c.carencia) << c.linha;
        EXPECT_EQ(cfg.Idioma, c.idioma) << c.linha;
    }
}

TEST(ConfigLeitura, BooleanosETextosAparados) {
    struct Caso {
        std::string valor;
        bool esperado;
    };
    const Caso casos[] = {{"1", true},     {"10", true}, {" 1 ", true}, {"0", false},
                          {"true", false}, {"x", false}, {"", false}};
    for (const Caso& c : casos) {
        const TConfig cfg = CarregarDeTexto("[Geral]\nPausado=" + c.valor +
                                            "\nMouseTecladoInternet=" + c.valor + "\n");
        EXPECT_EQ(cfg.Pausado, c.esperado) << c.valor;
        EXPECT_EQ(cfg.MouseTecladoInternet, c.esperado) << c.valor;
    }

    const TConfig cfg = CarregarDeTexto(
        "[Geral]\nEndereco=\" 10.0.0.1\t\"\nNomeExibicao=\"  PC  \"\n"
        "[Nuvem]\nUrl= https://a.example \nConta=\" c \"\nAparelho=\" a\"\n");
    EXPECT_EQ(cfg.Endereco, "10.0.0.1");
    EXPECT_EQ(cfg.NomeExibicao, "PC");
    EXPECT_EQ(cfg.Url, "https://a.example");
    EXPECT_EQ(cfg.Conta, "c");
    EXPECT_EQ(cfg.Aparelho, "a");
    EXPECT_EQ(CarregarDeTexto("[Geral]\nEndereco=\n").Endereco, "");
    EXPECT_EQ(CarregarDeTexto("[Geral]\n").Endereco, "0.0.0.0");
}

TEST(ConfigLeitura, SecoesDeDispositivo) {
    const std::string hash63(63, 'c');
    const std::string texto = "[Dispositivo.00000001]\nNome=Bom\nTokenHash=" + HASH_A +
                              "\nChaveHash=" + HASH_B +
                              "\nUltimoIp=10.0.0.2\n"
                              "[Dispositivo.00000002]\nNome=Hash curto\nTokenHash=" +
                              hash63 +
                              "\n"
                              "[Dispositivo.00000003]\nNome=Chave curta\nTokenHash=  " +
                              std::string(64, 'D') +
                              "  \nChaveHash=0123456789\n"
                              "[dispositivo.00000004]\nNome=Minusculo\nTokenHash=" +
                              HASH_A +
                              "\n"
                              "[Dispositivo.]\nNome=Sem id\nTokenHash=" +
                              HASH_A +
                              "\n"
                              "[Dispositivo.00000005]\nNome=Sem hash\n"
                              "[Geral]\nPorta=1234\n"
                              "[Dispositivo.00000006]\nTokenHash=" +
                              HASH_B + "\n";
    const TConfig cfg = CarregarDeTexto(texto);
    EXPECT_EQ(cfg.Porta, 1234);
    ASSERT_EQ(cfg.Dispositivos.size(), 3u);
    EXPECT_EQ(cfg.Dispositivos[0].Id, "00000001");
    EXPECT_EQ(cfg.Dispositivos[0].Nome, "Bom");
    EXPECT_EQ(cfg.Dispositivos[0].ChaveHash, HASH_B);
    EXPECT_EQ(cfg.Dispositivos[0].UltimoIp, "10.0.0.2");
    EXPECT_EQ(cfg.Dispositivos[0].CriadoEm, 0.0);
    EXPECT_EQ(cfg.Dispositivos[1].Id, "00000003");
    EXPECT_EQ(cfg.Dispositivos[1].TokenHash, std::string(64, 'd'));  // trimmed, lower-cased
    EXPECT_EQ(cfg.Dispositivos[1].ChaveHash, "");
    EXPECT_EQ(cfg.Dispositivos[2].Id, "00000006");
    EXPECT_EQ(cfg.Dispositivos[2].Nome, "");
}

TEST(ConfigLeitura, ValorMalicosoNaoInventaDispositivo) {
    // Labels come from the cloud service; a line break in one must not become a section.
    TConfig cfg;
    cfg.Conta = "x\n[Dispositivo.deadbeef]\nTokenHash=" + HASH_A + "\n";
    cfg.Dispositivos.push_back(TDispositivo{"abc\n[Geral]", "n\nPorta=1", HASH_A, "", 0, 0, ""});
    const TConfig lido = CarregarDeTexto(TextoDeConfig(cfg));
    ASSERT_EQ(lido.Dispositivos.size(), 1u);
    EXPECT_EQ(lido.Dispositivos[0].Id, "abc [Geral]");
    EXPECT_EQ(lido.Dispositivos[0].Nome, "n Porta=1");
    EXPECT_EQ(lido.Porta, 8765);
    EXPECT_EQ(lido.Conta, "x [Dispositivo.deadbeef] TokenHash=" + HASH_A);
}

TEST(ConfigLeitura, ArquivoEstranhoCarregaComPadroes) {
    std::string texto = "\xEF\xBB\xBF[Geral]\r\nPorta=9000\r\nNomeExibicao=";
    texto += std::string(2 * 1024 * 1024, 'n');
    texto += std::string("\r\n\xFF\xFE\x00lixo\x00\r\n", 12);
    texto += std::string("Idioma=e\0s\r\n", 12);
    texto +=
        "[Nuvem\r\nSegundosCarencia=30\r\n[Dispositivo.\xC3\xA9]\r\nTokenHash=" + HASH_A + "\r\n";
    const TConfig cfg = CarregarDeTexto(texto);
    EXPECT_EQ(cfg.Porta, 9000);
    EXPECT_EQ(cfg.NomeExibicao.size(), 2u * 1024 * 1024);
    EXPECT_EQ(cfg.Idioma, "auto");
    EXPECT_EQ(cfg.SegundosCarencia, 30);
    ASSERT_EQ(cfg.Dispositivos.size(), 1u);
    EXPECT_EQ(cfg.Dispositivos[0].Id, "\xC3\xA9");
}

TEST(ConfigDatas, LerDataIso) {
    struct Caso {
        std::string texto;
        double esperado;
    };
    const Caso casos[] = {
        {"2024-05-01T13:07:09", CodificarData(2024, 5, 1, 13, 7, 9)},
        {"2024-02-30T10:00:00", 0},
        {"2024-02-01T25:61:61", CodificarData(2024, 2, 1, 1, 1, 1)},
        {"2024-02-29T00:00:00", CodificarData(2024, 2, 29, 0, 0, 0)},
        {"2023-02-29T00:00:00", 0},
        {"1900-02-29T00:00:00", 0},
        {"2000-02-29T12:00:00", CodificarData(2000, 2, 29, 12, 0, 0)},
        {"2024-13-01T00:00:00", 0},
        {"0000-01-01T00:00:00", 0},
        {"9999-12-31T23:59:59", CodificarData(9999, 12, 31, 23, 59, 59)},
        {"", 0},
        {"2024-05-01T13:07", 0},                                       // too short
        {"2024/05/01 13.07.09", CodificarData(2024, 5, 1, 13, 7, 9)},  // separators unchecked
        {"2024-05-01T13:07:09.123+02:00", CodificarData(2024, 5, 1, 13, 7, 9)},
        {"2024-05-01Txx:07:09", CodificarData(2024, 5, 1, 0, 7, 9)},  // no number counts 0
        {"2024-05-01T-1:07:09", 0},                                   // negative field
        {"2024-05-01T13: 7:09", CodificarData(2024, 5, 1, 13, 0, 9)},
        {"abcd-ef-ghTij:kl:mn", 0},
    };
    for (const Caso& c : casos) EXPECT_DOUBLE_EQ(LerDataIso(c.texto), c.esperado) << c.texto;
}

TEST(ConfigDatas, TextoIso) {
    EXPECT_EQ(TextoIso(45000.5), "2023-03-15T12:00:00");
    EXPECT_EQ(TextoIso(CodificarData(2024, 5, 1, 13, 7, 9)), "2024-05-01T13:07:09");
    EXPECT_EQ(TextoIso(CodificarData(9999, 12, 31, 23, 59, 59)), "9999-12-31T23:59:59");
    // A value a hair below a whole second still shows that second.
    EXPECT_EQ(TextoIso(45413.0 + 47229.0 / 86400.0 - 1e-10), "2024-05-01T13:07:09");
    EXPECT_EQ(TextoIso(1.0 / 86400.0), "1899-12-30T00:00:01");
    const double sem_texto[] = {0,
                                -1,
                                -0.5,
                                2958466.0,
                                1e300,
                                std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN()};
    for (double d : sem_texto) EXPECT_EQ(TextoIso(d), "") << d;
    EXPECT_EQ(CodificarData(2024, 2, 30, 0, 0, 0), 0.0);
}

TEST(ConfigDatas, DataVaziaVoltaVazia) {
    const std::string texto = "[Dispositivo.0a0a0a0a]\nTokenHash=" + HASH_A +
                              "\nCriadoEm=\nUltimoAcesso=2024-02-30T10:00:00\n";
    const TConfig cfg = CarregarDeTexto(texto);
    ASSERT_EQ(cfg.Dispositivos.size(), 1u);
    EXPECT_EQ(cfg.Dispositivos[0].CriadoEm, 0.0);
    EXPECT_EQ(cfg.Dispositivos[0].UltimoAcesso, 0.0);
    const std::string salvo = TextoDeConfig(cfg);
    EXPECT_NE(salvo.find("\nCriadoEm=\nUltimoAcesso=\n"), std::string::npos) << salvo;
}

TEST(ConfigDatas, TempoUnixIdaEVolta) {
    const std::time_t agora = ::time(nullptr);
    const double d = DataDeTempoUnix(agora);
    EXPECT_GT(d, 40000.0);
    // In the repeated hour when clocks go back, either instant is a right answer.
    const std::time_t volta = TempoUnixDeData(d);
    EXPECT_TRUE(volta == agora || std::llabs(static_cast<long long>(volta - agora)) == 3600)
        << volta << " " << agora;
    EXPECT_NEAR(AgoraData(), d, 60.0 / 86400.0);
    tm local{};
    localtime_r(&agora, &local);
    char esperado[32];
    std::strftime(esperado, sizeof esperado, "%Y-%m-%dT%H:%M:%S", &local);
    EXPECT_EQ(TextoIso(d), esperado);
    EXPECT_EQ(TempoUnixDeData(0), 0);
}

TEST_F(Config, SalvarInterrompidoAntesDaTrocaMantemArquivoAntigo) {
    ASSERT_TRUE(SalvarConfig(ConfigCheia()));
    const std::string antigo = Arquivo();
    DefinirMoverParaTeste([](const char*, const char*) { return EXDEV; });
    TConfig novo = ConfigCheia();
    novo.Porta = 1111;
    EXPECT_FALSE(SalvarConfig(novo));
    EXPECT_EQ(Arquivo(), antigo);
    EXPECT_FALSE(Existe(pasta / "config.ini.tmp"));
    EXPECT_NE(Log().find("  ERRO ao salvar config (MoveFileEx " + std::to_string(EXDEV) + ")\r\n"),
              std::string::npos)
        << Log();
}

TEST_F(Config, TemporarioQueEPastaFalhaSemEstragarOAntigo) {
    ASSERT_TRUE(SalvarConfig(ConfigCheia()));
    const std::string antigo = Arquivo();
    ASSERT_EQ(::mkdir((pasta / "config.ini.tmp").c_str(), 0700), 0);
    GravarArquivo(pasta / "config.ini.tmp/dentro", "x");
    EXPECT_FALSE(SalvarConfig(TConfig{}));
    EXPECT_EQ(Arquivo(), antigo);
    EXPECT_NE(Log().find("  ERRO ao salvar config: "), std::string::npos) << Log();
    EXPECT_EQ(Log().find("MoveFileEx"), std::string::npos);
}

TEST_F(Config, PastaDeDadosQueEArquivoFalhaComMensagem) {
    GravarArquivo(pasta / "arquivo", "x");
    DefinirPastaConfig(pasta / "arquivo");
    EXPECT_EQ(CaminhoConfig(), pasta / "arquivo/config.ini");
    EXPECT_FALSE(ConfigExiste());
    EXPECT_FALSE(SalvarConfig(ConfigCheia()));
    const std::string log = Log();
    EXPECT_NE(log.find("  ERRO ao salvar config: "), std::string::npos) << log;
    EXPECT_NE(log.find("(errno " + std::to_string(ENOTDIR) + ")"), std::string::npos) << log;
    EXPECT_EQ(LerArquivo(pasta / "arquivo"), "x");
    TConfig cfg;
    CarregarConfig(cfg);  // no folder: defaults, quietly
    EXPECT_EQ(cfg.Porta, 8765);
}

TEST_F(Config, ArquivoGrandeDemaisOuNaoComumDaPadrao) {
    std::string grande = "[Geral]\nPorta=1234\nNomeExibicao=";
    grande.append(static_cast<std::size_t>(LIMITE_CONFIG), 'x');
    GravarArquivo(pasta / "config.ini", grande);
    TConfig cfg;
    CarregarConfig(cfg);
    EXPECT_EQ(cfg.Porta, 8765);
    EXPECT_NE(Log().find("AVISO: config.ini maior que"), std::string::npos) << Log();

    // A FIFO in place of the file must not block the start.
    ASSERT_EQ(::unlink((pasta / "config.ini").c_str()), 0);
    ASSERT_EQ(::mkfifo((pasta / "config.ini").c_str(), 0600), 0);
    EXPECT_FALSE(ConfigExiste());
    CarregarConfig(cfg);
    EXPECT_EQ(cfg.Porta, 8765);
}

}  // namespace
}  // namespace velorin
