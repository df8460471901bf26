// The state object itself: event delivery, the configuration copy and its change flag, the
// simple settings, internet mouse and keyboard use and the cloud credentials.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>

#include "apoio_estado.h"
#include "core/parametros.h"

namespace velorin {
namespace {

using teste::Dispositivo;
using teste::Segredo;

using ::testing::ElementsAre;

class Estado : public teste::TBaseEstado {};

// ---------------------------------------------------------------------------------------------
// Events

TEST_F(Estado, EventosChegamEmOrdemUmaVezCadaComSeusDados) {
    TConfig cfg;
    cfg.Dispositivos = {Dispositivo("0000000a", "Moto", Segredo('a'))};
    TEstado& e = Criar(cfg);
    e.Emitir(teServidorOk);
    TAgendamento ag;
    e.Agendar(ACAO_REINICIAR, 300, "Moto", true, ag);
    ASSERT_TRUE(e.Cancelar(true));
    ASSERT_TRUE(e.RemoverDispositivo("0000000a"));
    e.EmitirTextos(teNuvemAtivada, "t", "conta", "aparelho");

    const auto ev = Eventos();
    ASSERT_EQ(ev.size(), 5u);
    EXPECT_EQ(ev[0].Tipo, teServidorOk);
    EXPECT_EQ(ev[1].Tipo, teAgendado);
    EXPECT_EQ(ev[1].Agendamento.Acao, ACAO_REINICIAR);
    EXPECT_EQ(ev[1].Agendamento.PedidoPor, "Moto");
    EXPECT_EQ(ev[2].Tipo, teCancelado);
    EXPECT_EQ(ev[2].Agendamento.VenceEm, ev[1].Agendamento.VenceEm);  // the cancelled one
    EXPECT_EQ(ev[3].Tipo, teDispositivosMudaram);
    EXPECT_EQ(ev[3].Texto, "Moto");
    EXPECT_EQ(ev[4].Tipo, teNuvemAtivada);
    EXPECT_EQ(ev[4].Texto, "t");
    EXPECT_EQ(ev[4].Texto2, "conta");
    EXPECT_EQ(ev[4].Texto3, "aparelho");
}

// A sink that reads and even changes the state from inside the call proves that no event is
// delivered while the lock is held (with a held lock this would deadlock, and TSan would flag
// the double lock).
TEST_F(Estado, SinkPodeUsarOEstadoDuranteAEntrega) {
    TEstado e(TConfig{});
    std::vector<std::int32_t> restantes;
    int entregas = 0;
    e.DefinirAoEvento([&](std::unique_ptr<TEvento> ev) {
        ++entregas;
        restantes.push_back(SegundosRestantes(e.ObterAgendamento()));
        EXPECT_FALSE(e.ConfigFoiAlterada());
        if (ev->Tipo == teAgendado) {
            EXPECT_TRUE(e.Cancelar(false));
        }
        e.DefinirAoEvento([&](std::unique_ptr<TEvento>) { ++entregas; });
    });
    TAgendamento ag;
    e.Agendar(ACAO_DESLIGAR, 120, "x", false, ag);
    EXPECT_THAT(restantes, ElementsAre(120));
    EXPECT_EQ(e.ObterAgendamento().Acao, ACAO_NENHUMA);
    e.Emitir(teNuvemMudou);  // reaches the sink the first one installed
    EXPECT_EQ(entregas, 2);
}

TEST_F(Estado, SemSinkEventosSaoDescartados) {
    TEstado e(TConfig{});
    TAgendamento ag;
    e.Agendar(ACAO_DESLIGAR, 60, "x", false, ag);  // nothing to deliver to
    e.Emitir(teServidorErro, "porta ocupada");
    int entregas = 0;
    e.DefinirAoEvento([&](std::unique_ptr<TEvento>) { ++entregas; });
    e.Emitir(teNuvemMudou);
    e.DefinirAoEvento({});
    e.Emitir(teNuvemMudou);
    EXPECT_EQ(entregas, 1);
    EXPECT_EQ(e.ObterAgendamento().Acao, ACAO_DESLIGAR);
}

// Producers on several threads: each event reaches the sink once, and each event's storage is
// released once (ASan would catch a double free or a leak).
TEST_F(Estado, EventosDeVariasThreadsChegamUmaVezCada) {
    TEstado& e = Criar();
    constexpr int THREADS = 8, POR_THREAD = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([&e, t] {
            for (int i = 0; i < POR_THREAD; ++i)
                e.Emitir(teNuvemEvento, std::to_string(t * POR_THREAD + i));
        });
    for (auto& th : threads) th.join();
    std::set<std::string> vistos;
    for (const TEvento& ev : Eventos()) vistos.insert(ev.Texto);
    EXPECT_EQ(Eventos().size(), static_cast<std::size_t>(THREADS * POR_THREAD));
    EXPECT_EQ(vistos.size(), static_cast<std::size_t>(THREADS * POR_THREAD));
}

// ---------------------------------------------------------------------------------------------
// Configuration

TEST_F(Estado, ObterConfigEntregaUmaCopiaIndependente) {
    TConfig cfg;
    cfg.Porta = 9000;
    cfg.Endereco = "127.0.0.1";
    cfg.Dispositivos = {Dispositivo("0000000a", "Moto", Segredo('a'))};
    TEstado& e = Criar(cfg);
    cfg.Dispositivos.clear();  // the state keeps its own array
    TConfig copia = e.ObterConfig();
    ASSERT_EQ(copia.Dispositivos.size(), 1u);
    copia.Dispositivos[0].Nome = "mudado";
    copia.Pausado = true;
    EXPECT_EQ(e.Dispositivos()[0].Nome, "Moto");
    EXPECT_FALSE(e.Pausado());
    EXPECT_EQ(e.Porta(), 9000);
    EXPECT_EQ(e.Endereco(), "127.0.0.1");
    EXPECT_FALSE(e.ConfigFoiAlterada());
}

// Every change that belongs in config.ini raises the flag; reads and refusals do not.
TEST_F(Estado, ConfigAlteradaSobeSoComMudancasDoArquivo) {
    struct TCaso {
        const char* nome;
        bool altera;
        std::function<void(TEstado&)> fazer;
    };
    const std::vector<TCaso> casos = {
        {"idioma", true, [](TEstado& e) { e.DefinirIdioma("en"); }},
        {"pausa", true, [](TEstado& e) { e.DefinirPausado(true); }},
        {"internet", true, [](TEstado& e) { e.DefinirMouseTecladoInternet(true); }},
        {"nuvem", true, [](TEstado& e) { e.DefinirNuvem("u", "t", "c", "a"); }},
        {"remover", true, [](TEstado& e) { EXPECT_TRUE(e.RemoverDispositivo("0000000a")); }},
        {"leituras", false,
         [](TEstado& e) {
             (void)e.ObterConfig();
             (void)e.Dispositivos();
             (void)e.Pausado();
             (void)e.NomeExibicao();
         }},
        {"remover desconhecido", false,
         [](TEstado& e) { EXPECT_FALSE(e.RemoverDispositivo("ffffffff")); }},
        {"agendar", false,
         [](TEstado& e) {
             TAgendamento ag;
             e.Agendar(ACAO_DESLIGAR, 60, "x", false, ag);
         }},
        {"entrada pela internet", false, [](TEstado& e) { e.RegistrarEntradaInternet("Ana"); }},
    };
    TConfig cfg;
    cfg.Dispositivos = {Dispositivo("0000000a", "Moto", Segredo('a'))};
    for (const TCaso& c : casos) {
        SCOPED_TRACE(c.nome);
        TEstado e(cfg);
        c.fazer(e);
        EXPECT_EQ(e.ConfigFoiAlterada(), c.altera);
        e.LimparConfigAlterada();
        EXPECT_FALSE(e.ConfigFoiAlterada());
    }
}

TEST_F(Estado, NomeExibicaoVazioDaONomeDoComputador) {
    TConfig cfg;
    EXPECT_EQ(TEstado(cfg).NomeExibicao(), NomeComputador());
    cfg.NomeExibicao = "Sala";
    EXPECT_EQ(TEstado(cfg).NomeExibicao(), "Sala");
}

TEST_F(Estado, PausaEOpcaoDeInternetRegistramNoLog) {
    TEstado& e = Criar();
    e.DefinirPausado(true);
    EXPECT_TRUE(e.Pausado());
    e.DefinirPausado(false);
    e.DefinirMouseTecladoInternet(true);
    EXPECT_TRUE(e.MouseTecladoInternet());
    e.DefinirMouseTecladoInternet(false);
    EXPECT_THAT(Linhas(), ElementsAre("Controle remoto pausado", "Controle remoto retomado",
                                      "Mouse e teclado pela internet ligados",
                                      "Mouse e teclado pela internet desligados"));
    EXPECT_TRUE(Eventos().empty());
}

// ---------------------------------------------------------------------------------------------
// Internet mouse and keyboard

TEST_F(Estado, UsoContinuoPelaInternetDaUmAvisoSo) {
    TConfig cfg;
    cfg.MouseTecladoInternet = true;
    TEstado& e = Criar(cfg);
    EXPECT_EQ(e.UsuarioEntradaInternet(), "");
    e.RegistrarEntradaInternet("Ana");
    AvancarRelogioTeste(10000);
    e.RegistrarEntradaInternet("Rui");  // another name within the minute: no new notice
    EXPECT_THAT(Linhas(), ElementsAre("Mouse e teclado pela internet em uso por Ana"));
    ASSERT_EQ(Eventos().size(), 1u);
    EXPECT_EQ(Eventos()[0].Tipo, teEntradaInternet);
    EXPECT_EQ(Eventos()[0].Texto, "Ana");

    AvancarRelogioTeste(59999);
    EXPECT_EQ(e.UsuarioEntradaInternet(), "Rui");
    AvancarRelogioTeste(1);  // 60 s after Rui's command
    EXPECT_EQ(e.UsuarioEntradaInternet(), "");
    e.RegistrarEntradaInternet("Rui\nX");  // after a quiet minute: news again, name sanitised
    EXPECT_EQ(Linhas().back(), "Mouse e teclado pela internet em uso por Rui?X");
    ASSERT_EQ(Eventos().size(), 2u);
    EXPECT_EQ(Eventos()[1].Texto, "Rui\nX");
}

TEST_F(Estado, DesligarAOpcaoEsqueceOUsoNaHora) {
    TConfig cfg;
    cfg.MouseTecladoInternet = true;
    TEstado& e = Criar(cfg);
    e.RegistrarEntradaInternet("Ana");
    e.DefinirMouseTecladoInternet(false);
    EXPECT_EQ(e.UsuarioEntradaInternet(), "");
    e.DefinirMouseTecladoInternet(true);
    AvancarRelogioTeste(1000);
    e.RegistrarEntradaInternet("Ana");  // forgotten, so this is news again
    EXPECT_EQ(Eventos().size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// Cloud credentials

TEST_F(Estado, NuvemSemTokenDesligaMouseETecladoEAvisaSoSeEstavaLigado) {
    TConfig cfg;
    cfg.MouseTecladoInternet = true;
    TEstado& e = Criar(cfg);
    e.DefinirNuvem("https://n.example", "agente", "conta@x", "PC");
    EXPECT_EQ(e.UrlNuvem(), "https://n.example");
    EXPECT_EQ(e.TokenNuvem(), "agente");
    EXPECT_TRUE(e.MouseTecladoInternet());  // a token keeps the option
    EXPECT_EQ(e.ObterConfig().Conta, "conta@x");
    EXPECT_EQ(e.ObterConfig().Aparelho, "PC");
    EXPECT_TRUE(Linhas().empty());

    e.RegistrarEntradaInternet("Ana");
    e.DefinirNuvem("", "", "", "");
    EXPECT_FALSE(e.MouseTecladoInternet());
    EXPECT_EQ(e.TokenNuvem(), "");
    EXPECT_EQ(e.UsuarioEntradaInternet(), "");
    EXPECT_EQ(Linhas().back(), "Mouse e teclado pela internet desligados");

    const std::size_t antes = Linhas().size();
    e.DefinirNuvem("", "", "", "");  // already off: nothing to say
    EXPECT_EQ(Linhas().size(), antes);
    EXPECT_EQ(TextoLog().find("agente"), std::string::npos);
}

}  // namespace
}  // namespace velorin
