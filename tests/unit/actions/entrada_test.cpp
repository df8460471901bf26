#include "actions/entrada.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "apoio/pasta_temporaria.h"
#include "core/log.h"
#include "core/parametros.h"

namespace velorin {
namespace {

using teste::LerArquivo;
using teste::TPastaTemporaria;

TRegistroEntrada M(std::uint32_t flags, std::int32_t dx = 0, std::int32_t dy = 0,
                   std::int32_t dados = 0) {
    TRegistroEntrada r;
    r.Tipo = TIPO_ENTRADA_MOUSE;
    r.Flags = flags;
    r.Dx = dx;
    r.Dy = dy;
    r.DadosMouse = dados;
    return r;
}

TRegistroEntrada K(std::uint16_t vk, std::uint32_t flags) {
    TRegistroEntrada r;
    r.Tipo = TIPO_ENTRADA_TECLADO;
    r.Vk = vk;
    r.Flags = flags;
    return r;
}

TRegistroEntrada U(char16_t unidade, bool sobe) {
    TRegistroEntrada r;
    r.Tipo = TIPO_ENTRADA_TECLADO;
    r.Scan = unidade;
    r.Flags = TECLA_UNICODE | (sobe ? TECLA_SOBE : 0);
    return r;
}

constexpr std::uint32_t E = TECLA_ESTENDIDA, S = TECLA_SOBE;

// A backend that records every call instead of touching the machine; it can accept only the
// first N records of a batch to play a partial send.
class EntradaTeste : public ::testing::Test {
  protected:
    void SetUp() override {
        Parametros.Simular = false;
        DefinirBackendEntradaTeste(
            [this](const TEntradas& r) {
                std::lock_guard<std::mutex> g(m);
                chamadas.push_back(r);
                return std::min(r.size(), aceitar);
            },
            [this] { return disponivel; });
    }
    void TearDown() override {
        DefinirBackendEntradaTeste({}, {});
        Parametros.Simular = false;
        FecharLog();
    }
    std::mutex m;
    std::vector<TEntradas> chamadas;
    std::size_t aceitar = SIZE_MAX;
    bool disponivel = true;
};

struct TCasoRegistros {
    const char* nome;
    std::function<bool()> acao;
    TEntradas esperado;
};

TEST_F(EntradaTeste, CadaComandoViraUmLoteComOsRegistrosCertos) {
    const std::u16string emoji = u"\U0001F600";
    const std::vector<TCasoRegistros> casos = {
        {"duplo",
         [] { return AcaoMouse("duplo", 0, 0, 0); },
         {M(MOUSE_ESQUERDO_DESCE), M(MOUSE_ESQUERDO_SOBE), M(MOUSE_ESQUERDO_DESCE),
          M(MOUSE_ESQUERDO_SOBE)}},
        {"clique",
         [] { return AcaoMouse("clique", 5, 5, 5); },
         {M(MOUSE_ESQUERDO_DESCE), M(MOUSE_ESQUERDO_SOBE)}},
        {"direito",
         [] { return AcaoMouse("direito", 0, 0, 0); },
         {M(MOUSE_DIREITO_DESCE), M(MOUSE_DIREITO_SOBE)}},
        {"rolar -3", [] { return AcaoMouse("rolar", 0, 0, -3); }, {M(MOUSE_RODA, 0, 0, -360)}},
        {"mover 10/-5", [] { return AcaoMouse("mover", 10, -5, 0); }, {M(MOUSE_MOVER, 10, -5)}},
        {"copiar",
         [] { return PressionarTecla("copiar"); },
         {K(17, 0), K(67, 0), K(67, S), K(17, S)}},
        {"mostrarDesktop",
         [] { return PressionarTecla("mostrarDesktop"); },
         {K(91, E), K(68, 0), K(68, S), K(91, E | S)}},
        {"alternarJanela",
         [] { return PressionarTecla("alternarJanela"); },
         {K(18, 0), K(9, 0), K(9, S), K(18, S)}},
        {"esquerda estendida",
         [] { return PressionarTecla("esquerda"); },
         {K(37, E), K(37, E | S)}},
        {"delete estendida", [] { return PressionarTecla("delete"); }, {K(46, E), K(46, E | S)}},
        {"pageUp estendida", [] { return PressionarTecla("pageUp"); }, {K(33, E), K(33, E | S)}},
        {"enter sem estendida", [] { return PressionarTecla("enter"); }, {K(13, 0), K(13, S)}},
        {"f5", [] { return PressionarTecla("f5"); }, {K(116, 0), K(116, S)}},
        {"a CR LF b",
         [] { return DigitarTexto(u"a\r\nb"); },
         {U(u'a', false), U(u'a', true), K(13, 0), K(13, S), U(u'b', false), U(u'b', true)}},
        {"LF e CR sozinhos e tab",
         [] { return DigitarTexto(u"\n\r\t"); },
         {K(13, 0), K(13, S), K(13, 0), K(13, S), K(9, 0), K(9, S)}},
        {"emoji",
         [emoji] { return DigitarTexto(emoji); },
         {U(emoji[0], false), U(emoji[0], true), U(emoji[1], false), U(emoji[1], true)}},
        {"C1 permitido", [] { return DigitarTexto(u"\u0085"); }, {U(0x85, false), U(0x85, true)}},
    };
    for (const auto& c : casos) {
        chamadas.clear();
        EXPECT_TRUE(c.acao()) << c.nome;
        ASSERT_EQ(chamadas.size(), 1u) << c.nome;
        EXPECT_EQ(chamadas[0], c.esperado) << c.nome;
    }
}

TEST_F(EntradaTeste, PedidosInvalidosNaoEnviamNada) {
    const std::u16string longo(513, u'x');
    const std::u16string no_limite(512, u'x');
    EXPECT_FALSE(AcaoMouse("arrastar", 1, 1, 1));
    EXPECT_FALSE(AcaoMouse("Clique", 0, 0, 0));
    EXPECT_FALSE(PressionarTecla("Enter"));  // names are case-sensitive
    EXPECT_FALSE(PressionarTecla(""));
    for (const std::u16string& t :
         {std::u16string(), longo, std::u16string(u"a\x7f"), std::u16string(u"\x1b"),
          std::u16string(1, u'\xDC00'), std::u16string(1, u'\xD800'),
          std::u16string(u"a\xD800"
                         u"b"),
          std::u16string(u"\xDC00\xD800")}) {
        EXPECT_FALSE(TextoValido(t)) << t.size();
        EXPECT_FALSE(DigitarTexto(t));
    }
    EXPECT_TRUE(chamadas.empty());
    EXPECT_TRUE(TextoValido(no_limite));
    ASSERT_TRUE(DigitarTexto(no_limite));
    ASSERT_EQ(chamadas.size(), 1u);
    EXPECT_EQ(chamadas[0].size(), 1024u);
    EXPECT_TRUE(TeclaValida("selecionarTudo"));
    EXPECT_FALSE(TeclaValida("f6"));
}

TEST_F(EntradaTeste, SessaoIndisponivelRecusaTudoSemEnviar) {
    disponivel = false;
    EXPECT_FALSE(AcaoMouse("clique", 0, 0, 0));
    EXPECT_FALSE(AcaoMouse("mover", 1, 1, 0));
    EXPECT_FALSE(PressionarTecla("enter"));
    EXPECT_FALSE(DigitarTexto(u"oi"));
    EXPECT_TRUE(chamadas.empty());
}

TEST_F(EntradaTeste, EnvioParcialSoltaCadaTeclaEBotaoUmAUm) {
    aceitar = 1;
    EXPECT_FALSE(PressionarTecla("copiar"));
    // The batch, then one single release per keyboard record.
    ASSERT_EQ(chamadas.size(), 5u);
    const TEntradas soltas[] = {{K(17, S)}, {K(67, S)}, {K(67, S)}, {K(17, S)}};
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(chamadas[i + 1], soltas[i]) << i;

    chamadas.clear();
    EXPECT_FALSE(AcaoMouse("duplo", 0, 0, 0));
    ASSERT_EQ(chamadas.size(), 3u);  // two left-downs become left-ups; the ups are skipped
    EXPECT_EQ(chamadas[1], TEntradas{M(MOUSE_ESQUERDO_SOBE)});
    EXPECT_EQ(chamadas[2], TEntradas{M(MOUSE_ESQUERDO_SOBE)});

    chamadas.clear();
    aceitar = 0;
    EXPECT_FALSE(AcaoMouse("direito", 0, 0, 0));
    ASSERT_EQ(chamadas.size(), 2u);
    EXPECT_EQ(chamadas[1], TEntradas{M(MOUSE_DIREITO_SOBE)});

    chamadas.clear();
    EXPECT_FALSE(AcaoMouse("mover", 3, 3, 0));
    EXPECT_EQ(chamadas.size(), 1u);  // a move leaves nothing pressed
}

TEST_F(EntradaTeste, SimulacaoRegistraNoLogESucedeMesmoBloqueada) {
    TPastaTemporaria pasta;
    AbrirLog(pasta.Caminho());
    Parametros.Simular = true;
    disponivel = false;
    EXPECT_TRUE(DigitarTexto(u"a\r\nb\U0001F600"));
    EXPECT_TRUE(AcaoMouse("rolar", 0, 0, -2));
    EXPECT_TRUE(PressionarTecla("copiar"));
    EXPECT_FALSE(PressionarTecla("nada"));
    EXPECT_TRUE(chamadas.empty());
    const std::string log = LerArquivo(pasta / "log.txt");
    EXPECT_NE(log.find("SIMULADO: texto (6 unidades UTF-16)"), std::string::npos) << log;
    EXPECT_NE(log.find("SIMULADO: mouse rolar x=0 y=0 passos=-2"), std::string::npos) << log;
    EXPECT_NE(log.find("SIMULADO: tecla copiar"), std::string::npos) << log;
    EXPECT_EQ(log.find("nada"), std::string::npos);
}

TEST(AceleracaoPonteiro, MovimentoLentoEhExatoERapidoGanhaAlcanceLimitado) {
    struct TCaso {
        int dx, dy, min_x, max_x;
    };
    // Small moves are 1:1; the gain grows with speed and then stops growing.
    const TCaso casos[] = {{1, 0, 1, 1},        {-2, 0, -2, -2},   {3, 0, 3, 3},
                           {10, 0, 15, 16},     {40, 0, 100, 100}, {400, 0, 1000, 1000},
                           {-40, 0, -100, -100}};
    for (const auto& c : casos) {
        TRestoAceleracao resto;
        std::int32_t x = 0, y = 0;
        AcelerarMovimento(c.dx, c.dy, resto, x, y);
        EXPECT_GE(x, c.min_x) << c.dx;
        EXPECT_LE(x, c.max_x) << c.dx;
        EXPECT_EQ(y, 0);
    }
    // The gain is monotonic in speed, so a faster swipe never travels less.
    std::int32_t anterior = 0;
    for (int v = 0; v <= 200; ++v) {
        TRestoAceleracao resto;
        std::int32_t x = 0, y = 0;
        AcelerarMovimento(v, 0, resto, x, y);
        EXPECT_GE(x, anterior) << v;
        anterior = x;
    }
    // Fractions are carried: a hundred moves of (4, 1) add up to exactly their scaled sum.
    TRestoAceleracao resto;
    std::int64_t sx = 0, sy = 0;
    for (int i = 0; i < 100; ++i) {
        std::int32_t x = 0, y = 0;
        AcelerarMovimento(4, 1, resto, x, y);
        sx += x;
        sy += y;
    }
    const double fator = 1.0 + (std::sqrt(17.0) - 3.0) * 0.08;
    EXPECT_NEAR(static_cast<double>(sx), 400 * fator, 1.0);
    EXPECT_NEAR(static_cast<double>(sy), 100 * fator, 1.0);
    // Absurd inputs stay inside the 16-bit coordinate range.
    TRestoAceleracao r2;
    std::int32_t x = 0, y = 0;
    AcelerarMovimento(INT32_MAX, INT32_MIN, r2, x, y);
    EXPECT_EQ(x, 32767);
    EXPECT_EQ(y, -32767);
}

TEST(RegistrosEntrada, RodaSaturaEmVezDeEstourar) {
    TEntradas r;
    ASSERT_TRUE(RegistrosMouse("rolar", 0, 0, INT32_MIN, r));
    EXPECT_EQ(r.at(0).DadosMouse, INT32_MIN);
    ASSERT_TRUE(RegistrosMouse("rolar", 0, 0, INT32_MAX, r));
    EXPECT_EQ(r.at(0).DadosMouse, INT32_MAX);
}

TEST(EntradaSemDisplay, SemDisplayNaoHaEntrada) {
    const char* antes = std::getenv("DISPLAY");
    const std::string salvo = antes != nullptr ? antes : "";
    ::unsetenv("DISPLAY");
    EXPECT_FALSE(EntradaDisponivel());
    EXPECT_EQ(InjetarEntradasSistema({TRegistroEntrada{}}), 0u);
    if (antes != nullptr) ::setenv("DISPLAY", salvo.c_str(), 1);
}

}  // namespace
}  // namespace velorin
