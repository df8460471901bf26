// The XTest backend against a private X server: what reaches a real window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "actions/entrada.h"
#include "apoio/dbusmock.h"
#include "apoio/pasta_temporaria.h"
#include "apoio/xvfb.h"
#include "core/parametros.h"

// After gtest: Xlib's macros would break its headers.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

namespace velorin {
namespace {

using teste::TJanelaTeste;
using teste::TXvfb;

class EntradaXvfb : public ::testing::Test {
  protected:
    void SetUp() override {
        Parametros.Simular = false;
        VELORIN_EXIGIR_XVFB(xvfb);
        // No logind or screensaver for this process: point the buses at nothing.
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/velorin-system", 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velorin-session", 1);
        janela = std::make_unique<TJanelaTeste>();
        ASSERT_TRUE(janela->Ativa());
        // The test window resolves each key while its borrowed mapping is still in place.
        DefinirEsperaAntesRestaurarTeclado([this] { janela->Drenar(); });
    }
    void TearDown() override {
        DefinirEsperaAntesRestaurarTeclado({});
        janela.reset();
    }
    TXvfb xvfb;
    std::unique_ptr<TJanelaTeste> janela;
};

TEST_F(EntradaXvfb, PonteiroSeMoveDeVerdade) {
    ASSERT_TRUE(EntradaDisponivel());
    XWarpPointer(janela->Get(), None, DefaultRootWindow(janela->Get()), 0, 0, 0, 0, 640, 400);
    XSync(janela->Get(), False);
    int x0 = 0, y0 = 0, x = 0, y = 0;
    janela->Ponteiro(x0, y0);
    ASSERT_EQ(x0, 640);
    ASSERT_TRUE(AcaoMouse("mover", 2, -1, 0));
    janela->Ponteiro(x, y);
    // Slow moves are 1:1 (a carried fraction may add one pixel).
    EXPECT_NEAR(x - x0, 2, 1);
    EXPECT_NEAR(y - y0, -1, 1);
    ASSERT_TRUE(AcaoMouse("mover", 40, 0, 0));
    int x2 = 0, y2 = 0;
    janela->Ponteiro(x2, y2);
    EXPECT_NEAR(x2 - x, 100, 1);  // a fast move is accelerated
}

TEST_F(EntradaXvfb, CliquesERodaChegamNaJanela) {
    ASSERT_TRUE(AcaoMouse("clique", 0, 0, 0));
    ASSERT_TRUE(AcaoMouse("direito", 0, 0, 0));
    ASSERT_TRUE(AcaoMouse("duplo", 0, 0, 0));
    ASSERT_TRUE(AcaoMouse("rolar", 0, 0, -2));
    ASSERT_TRUE(AcaoMouse("rolar", 0, 0, 1));
    janela->Drenar();
    std::vector<std::pair<int, unsigned>> vistos;
    for (const auto& e : janela->Eventos()) vistos.emplace_back(e.tipo, e.botao);
    const std::vector<std::pair<int, unsigned>> esperados = {
        {ButtonPress, 1}, {ButtonRelease, 1}, {ButtonPress, 3}, {ButtonRelease, 3},
        {ButtonPress, 1}, {ButtonRelease, 1}, {ButtonPress, 1}, {ButtonRelease, 1},
        {ButtonPress, 5}, {ButtonRelease, 5}, {ButtonPress, 5}, {ButtonRelease, 5},
        {ButtonPress, 4}, {ButtonRelease, 4}};
    EXPECT_EQ(vistos, esperados);
}

TEST_F(EntradaXvfb, TeclasNomeadasECombinacoes) {
    for (const char* n : {"enter", "esquerda", "copiar", "mostrarDesktop", "alternarJanela", "f5"})
        ASSERT_TRUE(PressionarTecla(n)) << n;
    janela->Drenar();
    const std::vector<unsigned long> esperadas = {
        XK_Return, XK_Left, XK_Control_L, XK_c, XK_Super_L, XK_d, XK_Alt_L, XK_Tab, XK_F5};
    EXPECT_EQ(janela->TeclasPressionadas(), esperadas);
    // Modifiers are released last, after their key.
    std::vector<std::pair<int, unsigned long>> copiar;
    for (const auto& e : janela->Eventos()) {
        if (e.simbolo == XK_Control_L || e.simbolo == XK_c) copiar.emplace_back(e.tipo, e.simbolo);
    }
    const std::vector<std::pair<int, unsigned long>> ordem = {
        {KeyPress, XK_Control_L}, {KeyPress, XK_c}, {KeyRelease, XK_c}, {KeyRelease, XK_Control_L}};
    EXPECT_EQ(copiar, ordem);
}

TEST_F(EntradaXvfb, TextoComAcentosEuroEmojiEQuebraChegaComOsSimbolosCertos) {
    const auto mapa_antes = janela->MapaTeclado();
    ASSERT_TRUE(DigitarTexto(u"Olá ç€\U0001F600\r\nA\tZ"));
    janela->Drenar();
    // Capitals come with Shift held, as a typist would press them.
    const std::vector<unsigned long> esperadas = {
        XK_Shift_L, XK_O,      XK_l,       XK_aacute, XK_space, XK_ccedilla, XK_EuroSign,
        0x101F600,  XK_Return, XK_Shift_L, XK_A,      XK_Tab,   XK_Shift_L,  XK_Z};
    EXPECT_EQ(janela->TeclasPressionadas(), esperadas);
    EXPECT_EQ(janela->MapaTeclado(), mapa_antes);
}

TEST_F(EntradaXvfb, MaisSimbolosQueTeclasLivresReaproveitaSemPerderNenhum) {
    const auto mapa_antes = janela->MapaTeclado();
    std::u16string texto;
    std::vector<unsigned long> esperadas;
    for (char16_t c = 0x0410; c < 0x0410 + 40; ++c) {  // 40 Cyrillic letters, none in the layout
        texto += c;
        esperadas.push_back(xkb_utf32_to_keysym(c));
    }
    ASSERT_TRUE(DigitarTexto(texto));
    janela->Drenar();
    EXPECT_EQ(janela->TeclasPressionadas(), esperadas);
    EXPECT_EQ(janela->MapaTeclado(), mapa_antes);
}

}  // namespace
}  // namespace velorin

namespace velorin {
namespace {

using teste::GravarModeloDbusMock;
using teste::TBarramentoPrivado;
using teste::TDbusMock;
using teste::TPastaTemporaria;
using teste::TVariavelAmbiente;

// A session of ours on a fake logind, and a fake screensaver, each on a private bus.
class EntradaSessaoBloqueada : public EntradaXvfb {
  protected:
    void Iniciar(bool travada, bool protetor_ativo) {
        EXIGIR_FERRAMENTA("/usr/bin/dbus-daemon", "dbus");
        EXIGIR_FERRAMENTA("/usr/bin/python3", "python3-dbusmock");
        sistema = std::make_unique<TBarramentoPrivado>(TBarramentoPrivado::TTipo::Sistema);
        sessao = std::make_unique<TBarramentoPrivado>(TBarramentoPrivado::TTipo::Sessao);
        ASSERT_TRUE(sistema->Ativo() && sessao->Ativo());
        variaveis.push_back(
            std::make_unique<TVariavelAmbiente>("DBUS_SYSTEM_BUS_ADDRESS", sistema->Endereco()));
        variaveis.push_back(
            std::make_unique<TVariavelAmbiente>("DBUS_SESSION_BUS_ADDRESS", sessao->Endereco()));
        variaveis.push_back(std::make_unique<TVariavelAmbiente>("XDG_SESSION_ID", "c1"));
        const std::string logind_py = GravarModeloDbusMock(
            pasta, "logind_sessao.py",
            "BUS_NAME = 'org.freedesktop.login1'\nMAIN_OBJ = '/org/freedesktop/login1'\n"
            "MAIN_IFACE = 'org.freedesktop.login1.Manager'\nSYSTEM_BUS = True\n\n"
            "def load(mock, parameters):\n"
            "    mock.AddObject('/org/freedesktop/login1/session/c1', "
            "'org.freedesktop.login1.Session',\n"
            "                   {'LockedHint': dbus.Boolean(parameters.get('travada', False))}, "
            "[])\n");
        const std::string protetor_py = GravarModeloDbusMock(
            pasta, "protetor.py",
            "BUS_NAME = 'org.freedesktop.ScreenSaver'\nMAIN_OBJ = '/org/freedesktop/ScreenSaver'\n"
            "MAIN_IFACE = 'org.freedesktop.ScreenSaver'\nSYSTEM_BUS = False\n\n"
            "def load(mock, parameters):\n"
            "    mock.AddMethods(MAIN_IFACE, [('GetActive', '', 'b',\n"
            "                    'ret = %s' % bool(parameters.get('ativo', False)))])\n");
        const auto json = [](bool b) { return b ? "true" : "false"; };
        logind = std::make_unique<TDbusMock>(*sistema, logind_py, "org.freedesktop.login1",
                                             std::string("{\"travada\": ") + json(travada) + "}");
        protetor =
            std::make_unique<TDbusMock>(*sessao, protetor_py, "org.freedesktop.ScreenSaver",
                                        std::string("{\"ativo\": ") + json(protetor_ativo) + "}");
        ASSERT_TRUE(logind->Ativo() && protetor->Ativo());
    }
    // Everything the window saw after trying every kind of command.
    std::size_t EventosDepoisDeTentarTudo() {
        (void)AcaoMouse("clique", 0, 0, 0);
        (void)PressionarTecla("enter");
        (void)DigitarTexto(u"x");
        janela->Drenar();
        return janela->Eventos().size();
    }
    TPastaTemporaria pasta;
    std::unique_ptr<TBarramentoPrivado> sistema, sessao;
    std::vector<std::unique_ptr<TVariavelAmbiente>> variaveis;
    std::unique_ptr<TDbusMock> logind, protetor;
};

TEST_F(EntradaSessaoBloqueada, SessaoTravadaRecusaTudo) {
    Iniciar(true, false);
    EXPECT_FALSE(EntradaDisponivel());
    EXPECT_FALSE(AcaoMouse("clique", 0, 0, 0));
    EXPECT_FALSE(PressionarTecla("enter"));
    EXPECT_EQ(EventosDepoisDeTentarTudo(), 0u);
}

TEST_F(EntradaSessaoBloqueada, ProtetorDeTelaAtivoRecusaTudo) {
    Iniciar(false, true);
    EXPECT_FALSE(EntradaDisponivel());
    EXPECT_EQ(EventosDepoisDeTentarTudo(), 0u);
}

TEST_F(EntradaSessaoBloqueada, SessaoLivreAceita) {
    Iniciar(false, false);
    EXPECT_TRUE(EntradaDisponivel());
    EXPECT_EQ(EventosDepoisDeTentarTudo(), 6u);
}

}  // namespace
}  // namespace velorin
