// The command executor, called directly: the origin, pause and update rules, the body rules of
// every command, the answers in simulation mode, and how action failures become answers.

#include "api/comandos.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "actions/atalhos.h"
#include "actions/audio.h"
#include "actions/entrada.h"
#include "actions/tela.h"
#include "apoio/dbusmock.h"
#include "apoio/pasta_temporaria.h"
#include "apoio_api.h"
#include "core/config.h"
#include "core/log.h"
#include "core/parametros.h"
#include "core/relogio.h"
#include "core/textos.h"
#include "state/estado.h"

namespace velorin {
namespace {

using teste::GravarArquivo;
using teste::MensagensLog;
using teste::TBarramentoPrivado;
using teste::TDbusMock;
using teste::TesteApi;
using teste::TPastaTemporaria;
using teste::TPedido;
using teste::TRespostaBruta;
using teste::TVariavelAmbiente;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr const char* QUEM = "Celular da Ana";

TJson Json(const std::string& texto) {
    return TJson::parse(texto);
}

std::string Erro(const std::string& codigo, const std::string& mensagem) {
    TJson e = TJson::object();
    e["erro"] = codigo;
    e["mensagem"] = mensagem;
    return e.dump();
}

// The body as text ("" for an empty answer), so a mismatch shows the whole answer.
std::string Corpo(const TResultadoComando& r) {
    return r.Corpo ? r.Corpo->dump() : "";
}

#define ESPERAR_ERRO(resultado, status, codigo, mensagem) \
    do {                                                  \
        const TResultadoComando r_ = (resultado);         \
        EXPECT_EQ(r_.Status, status);                     \
        EXPECT_EQ(Corpo(r_), Erro(codigo, mensagem));     \
    } while (0)

// Simulation mode, a state and a shortcut catalog on a temporary data folder, the log in that
// folder and the test clock. No real bus or sound server can be reached.
class Comandos : public ::testing::Test {
  protected:
    static constexpr std::uint64_t INICIO = 7'000'000'000ULL;

    void SetUp() override {
        Parametros.Simular = true;
        AbrirLog(pasta.Caminho());
        DefinirRelogioTeste(INICIO);
        ReiniciarSimulacaoAudioTeste();
        ReiniciarTelaTeste();
        estado = std::make_unique<TEstado>(TConfig{});
        estado->DefinirAoEvento([this](std::unique_ptr<TEvento> e) {
            std::lock_guard<std::mutex> g(travaEventos);
            eventos.push_back(e->Tipo);
        });
        atalhos = std::make_unique<TGestorAtalhos>(pasta.Caminho());
        IniciarApi(*estado, atalhos.get());
    }
    void TearDown() override {
        EncerrarApi();
        estado->DefinirAoEvento({});
        FecharLog();
        LiberarRelogioTeste();
        Parametros.Simular = false;
        ReiniciarSimulacaoAudioTeste();
        ReiniciarTelaTeste();
        DefinirBackendEntradaTeste({}, {});
    }

    // Restarts the API with another catalog manager (or none).
    void ReiniciarApi(TGestorAtalhos* gestor) {
        EncerrarApi();
        IniciarApi(*estado, gestor);
    }

    TResultadoComando Executar(const std::string& comando, const std::string& corpo,
                               TOrigemComando origem = ocLocal,
                               const std::string& solicitante = QUEM) {
        return ExecutarComando(comando, Json(corpo), solicitante, origem);
    }

    std::vector<std::string> Log() const { return MensagensLog(pasta / "log.txt"); }
    std::vector<std::string> Simulados() const {
        std::vector<std::string> s;
        for (const auto& l : Log())
            if (l.rfind("SIMULADO: ", 0) == 0 || l.rfind("SIMULAR ", 0) == 0) s.push_back(l);
        return s;
    }
    std::vector<TTipoEvento> Eventos() {
        std::lock_guard<std::mutex> g(travaEventos);
        return eventos;
    }

    TPastaTemporaria pasta;
    // Whatever the machine offers, the power module finds no logind here, so the PC "cannot
    // suspend" and a lock request fails unless a test starts its own.
    TVariavelAmbiente semBarramento{"DBUS_SYSTEM_BUS_ADDRESS",
                                    "unix:path=" + pasta.Caminho() + "sem-barramento"};
    TVariavelAmbiente semPulse{"PULSE_SERVER", "unix:" + pasta.Caminho() + "sem-pulse"};
    std::unique_ptr<TEstado> estado;
    std::unique_ptr<TGestorAtalhos> atalhos;
    std::mutex travaEventos;
    std::vector<TTipoEvento> eventos;
};

// A valid body for every command, for the rules that come before the body is looked at.
struct TComandoValido {
    const char* comando;
    const char* corpo;
};
constexpr TComandoValido COMANDOS_VALIDOS[] = {
    {"energia", R"({"acao":"desligar","atrasoSegundos":600})"},
    {"volume", R"({"nivel":40})"},
    {"tela", R"({"acao":"apagar"})"},
    {"audio/saida", R"({"id":"sim-fone"})"},
    {"midia", R"({"acao":"tocarPausar"})"},
    {"mouse", R"({"acao":"clique"})"},
    {"teclado", R"({"tecla":"enter"})"},
    {"atalhos/abrir", R"({"id":"youtube"})"},
};

// ---- power ----

TEST_F(Comandos, EnergiaAgendaEDevolveOAgendamento) {
    struct Caso {
        const char* corpo;
        const char* esperado;
    };
    const Caso casos[] = {
        // No delay: the grace period (10 s by default) applies.
        {R"({"acao":"desligar"})",
         R"({"agendamento":{"acao":"desligar","segundosRestantes":10,"pedidoPor":"Celular da Ana","forcar":false}})"},
        {R"({"acao":"reiniciar","atrasoSegundos":600,"forcar":true})",
         R"({"agendamento":{"acao":"reiniciar","segundosRestantes":600,"pedidoPor":"Celular da Ana","forcar":true}})"},
        {R"({"acao":"desligar","atrasoSegundos":86400.0,"forcar":null})",
         R"({"agendamento":{"acao":"desligar","segundosRestantes":86400,"pedidoPor":"Celular da Ana","forcar":false}})"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.corpo);
        const auto r = Executar("energia", c.corpo);
        EXPECT_EQ(r.Status, 202);
        EXPECT_EQ(Corpo(r), Json(c.esperado).dump());
        const TAgendamento ag = estado->ObterAgendamento();
        EXPECT_NE(ag.Acao, ACAO_NENHUMA);
        EXPECT_EQ(ag.PedidoPor, QUEM);
    }
    EXPECT_THAT(Eventos(), ElementsAre(teAgendado, teAgendado, teAgendado));
    // Scheduling is all a phone does: the action itself waits for the timer.
    EXPECT_THAT(Simulados(), IsEmpty());
}

TEST_F(Comandos, BloquearEImediatoEIgnoraAtrasoEForca) {
    const auto r = Executar("energia", R"({"acao":"bloquear","atrasoSegundos":600,"forcar":true})",
                            ocLocal, "Ana\nInjetada");
    EXPECT_EQ(r.Status, 204);
    EXPECT_FALSE(r.Corpo.has_value());
    EXPECT_EQ(estado->ObterAgendamento().Acao, ACAO_NENHUMA);
    // The requester's name cannot start a line of its own in the log.
    EXPECT_THAT(Log(), ElementsAre("Bloquear pedido por Ana?Injetada", "SIMULADO: bloquear"));
}

TEST_F(Comandos, BloquearResponde204MesmoQuandoOSistemaRecusa) {
    Parametros.Simular = false;  // no logind is reachable: the lock fails
    const auto r = Executar("energia", R"({"acao":"bloquear"})");
    EXPECT_EQ(r.Status, 204);
    EXPECT_FALSE(r.Corpo.has_value());
    EXPECT_THAT(Log(), Contains("Bloquear pedido por Celular da Ana"));
}

TEST_F(Comandos, SuspenderSoQuandoOPcConsegue) {
    // The API was started without any logind to ask: the PC cannot suspend.
    ESPERAR_ERRO(Executar("energia", R"({"acao":"suspender","atrasoSegundos":60})"), 409,
                 "indisponivel", serroindisponivel);
    EXPECT_EQ(estado->ObterAgendamento().Acao, ACAO_NENHUMA);

    EXIGIR_FERRAMENTA("/usr/bin/dbus-daemon", "dbus");
    EXIGIR_FERRAMENTA("/usr/bin/python3", "python3-dbusmock");
    TBarramentoPrivado barramento(TBarramentoPrivado::TTipo::Sistema);
    ASSERT_TRUE(barramento.Ativo());
    TVariavelAmbiente endereco("DBUS_SYSTEM_BUS_ADDRESS", barramento.Endereco());
    TDbusMock logind(barramento, "logind", "org.freedesktop.login1", R"({"CanSuspend": "yes"})");
    ASSERT_TRUE(logind.Ativo());
    ReiniciarApi(atalhos.get());  // the capability is read when the API starts

    const auto r = Executar("energia", R"({"acao":"suspender","atrasoSegundos":60,"forcar":true})");
    EXPECT_EQ(r.Status, 202);
    // Suspending never closes programs, whatever the phone asked.
    EXPECT_EQ(
        Corpo(r),
        Json(
            R"({"agendamento":{"acao":"suspender","segundosRestantes":60,"pedidoPor":"Celular da Ana","forcar":false}})")
            .dump());
    EXPECT_THAT(logind.ChamadasDe("Suspend"), IsEmpty());
}

TEST_F(Comandos, CancelarFuncionaSempre) {
    EXPECT_EQ(Corpo(Executar("energia/cancelar", "{}")), R"({"cancelado":false})");

    ASSERT_EQ(Executar("energia", R"({"acao":"desligar","atrasoSegundos":300})").Status, 202);
    estado->DefinirPausado(true);
    const auto r = Executar("energia/cancelar", "{}");
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(Corpo(r), R"({"cancelado":true})");
    EXPECT_EQ(estado->ObterAgendamento().Acao, ACAO_NENHUMA);
    // A phone's cancellation is announced on the PC.
    EXPECT_THAT(Eventos(), ElementsAre(teAgendado, teCancelado));

    // Also while an update is being applied (the body is not looked at).
    ASSERT_TRUE(estado->IniciarAtualizacao());
    EXPECT_EQ(Corpo(Executar("energia/cancelar", "[1]")), R"({"cancelado":false})");
    estado->TerminarAtualizacao();
}

// ---- invalid bodies ----

TEST_F(Comandos, CorposInvalidosRespondem400SemAgir) {
    const std::string longo513(513, 'a');
    const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
    struct Caso {
        const char* comando;
        std::string corpo;
    };
    const Caso casos[] = {
        {"energia", "{}"},
        {"energia", R"({"acao":null})"},
        {"energia", R"({"acao":5})"},
        {"energia", R"({"acao":"hibernar"})"},
        {"energia", R"({"acao":"Desligar"})"},
        {"energia", R"({"acao":"desligar","atrasoSegundos":86401})"},
        {"energia", R"({"acao":"desligar","atrasoSegundos":-1})"},
        {"energia", R"({"acao":"desligar","atrasoSegundos":1.5})"},
        {"energia", R"({"acao":"desligar","atrasoSegundos":"10"})"},
        {"energia", R"({"acao":"desligar","forcar":"sim"})"},
        {"energia", R"({"acao":"desligar","forcar":1})"},
        // A lock with a bad member is no lock.
        {"energia", R"({"acao":"bloquear","atrasoSegundos":86401})"},
        {"volume", "{}"},
        {"volume", R"({"nivel":null,"mudo":null})"},
        {"volume", R"({"nivel":101})"},
        {"volume", R"({"nivel":-1})"},
        {"volume", R"({"nivel":50.5})"},
        {"volume", R"({"nivel":"50"})"},
        {"volume", R"({"nivel":50,"mudo":1})"},
        {"volume", R"({"mudo":"true"})"},
        {"tela", "{}"},
        {"tela", R"({"acao":"desligar"})"},
        {"tela", R"({"acao":"Apagar"})"},
        {"tela", R"({"acao":true})"},
        {"audio/saida", "{}"},
        {"audio/saida", R"({"id":""})"},
        {"audio/saida", R"({"id":5})"},
        {"audio/saida", R"({"id":"sim\u0000fone"})"},
        {"audio/saida", R"({"id":")" + longo513 + R"("})"},
        {"midia", "{}"},
        {"midia", R"({"acao":"parar"})"},
        {"midia", R"({"acao":1})"},
        {"midia", R"({"acao":"TocarPausar"})"},
        {"mouse", "{}"},
        {"mouse", R"({"acao":"arrastar"})"},
        {"mouse", R"({"acao":"Clique"})"},
        {"mouse", R"({"acao":"mover","x":0})"},
        {"mouse", R"({"acao":"mover","y":0})"},
        {"mouse", R"({"acao":"mover","x":2001,"y":0})"},
        {"mouse", R"({"acao":"mover","x":0,"y":-2001})"},
        {"mouse", R"({"acao":"mover","x":"1","y":0})"},
        {"mouse", R"({"acao":"mover","x":0.5,"y":0})"},
        {"mouse", R"({"acao":"rolar"})"},
        {"mouse", R"({"acao":"rolar","passos":0})"},
        {"mouse", R"({"acao":"rolar","passos":11})"},
        {"mouse", R"({"acao":"rolar","passos":-11})"},
        {"teclado", "{}"},
        {"teclado", R"({"texto":null,"tecla":null})"},
        {"teclado", R"({"texto":"a","tecla":"enter"})"},
        {"teclado", R"({"texto":5})"},
        {"teclado", R"({"texto":"a","tecla":5})"},
        {"teclado", R"({"texto":""})"},
        {"teclado", R"({"texto":")" + longo513 + R"("})"},
        // 511 units plus a pair: 513 UTF-16 units in only 512 characters.
        {"teclado", R"({"texto":")" + std::string(511, 'a') + emoji + R"("})"},
        {"teclado", R"({"texto":"a\bb"})"},
        {"teclado", R"({"texto":"a\u007fb"})"},
        {"teclado", R"({"texto":"a\u001bb"})"},
        {"teclado", R"({"tecla":"Enter"})"},
        {"teclado", R"({"tecla":"ctrl+alt+del"})"},
        {"atalhos/abrir", "{}"},
        {"atalhos/abrir", R"({"id":""})"},
        {"atalhos/abrir", R"({"id":5})"},
        {"atalhos/abrir", R"({"id":null})"},
        {"atalhos/abrir", R"({"id":"youtube","x":1})"},
        {"atalhos/abrir", R"({"id":"youtube","id2":"netflix"})"},
        {"atalhos/abrir", R"({"id":")" + std::string(25, 'a') + R"("})"},
        // Not an object at all.
        {"volume", "[]"},
        {"energia", R"("desligar")"},
        {"atalhos/abrir", R"(["youtube"])"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(std::string(c.comando) + " " + c.corpo.substr(0, 80));
        ESPERAR_ERRO(Executar(c.comando, c.corpo), 400, "requisicao_invalida",
                     serrorequisicaoinvalida);
    }
    EXPECT_EQ(estado->ObterAgendamento().Acao, ACAO_NENHUMA);
    EXPECT_THAT(Log(), IsEmpty());
    TVolume v;
    LerVolume(v);
    EXPECT_EQ(v.nivel, 50);
    EXPECT_FALSE(v.mudo);
}

// ---- answers of the other commands ----

TEST_F(Comandos, VolumeMudaSoOQueVeioEDevolveOEstado) {
    struct Caso {
        const char* corpo;
        const char* esperado;
    };
    const Caso casos[] = {
        {R"({"nivel":40})", R"({"nivel":40,"mudo":false})"},
        {R"({"mudo":true})", R"({"nivel":40,"mudo":true})"},
        {R"({"nivel":100.0,"mudo":null})", R"({"nivel":100,"mudo":true})"},
        {R"({"nivel":0,"mudo":false})", R"({"nivel":0,"mudo":false})"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.corpo);
        const auto r = Executar("volume", c.corpo);
        EXPECT_EQ(r.Status, 200);
        EXPECT_EQ(Corpo(r), Json(c.esperado).dump());
    }
}

TEST_F(Comandos, TelaApagaEAcende) {
    const auto apagar = Executar("tela", R"({"acao":"apagar"})");
    EXPECT_EQ(apagar.Status, 202);
    EXPECT_EQ(Corpo(apagar), R"({"solicitado":"apagar"})");
    EXPECT_EQ(EstadoTela(), TELA_DESLIGADA);
    const auto acender = Executar("tela", R"({"acao":"acender"})");
    EXPECT_EQ(acender.Status, 202);
    EXPECT_EQ(Corpo(acender), R"({"solicitado":"acender"})");
    EXPECT_EQ(EstadoTela(), TELA_LIGADA);
    EXPECT_THAT(Simulados(),
                ElementsAre("SIMULADO: tela (ligada=False)", "SIMULADO: tela (ligada=True)"));
}

TEST_F(Comandos, SaidaDeAudioTrocaEDevolveAListaNova) {
    const auto r = Executar("audio/saida", R"({"id":"sim-fone"})");
    EXPECT_EQ(r.Status, 200);
    TJson esperado = TJson::object();
    esperado["podeTrocar"] = true;
    esperado["saidas"] = TJson::array();
    for (const auto& [id, nome, padrao] :
         {std::tuple{"sim-caixa", "Alto-falantes (simulado)", false},
          std::tuple{"sim-fone", "Fone Bluetooth (simulado)", true},
          std::tuple{"sim-hdmi", "TV HDMI (simulado)", false}}) {
        TJson item = TJson::object();
        item["id"] = id;
        item["nome"] = nome;
        item["padrao"] = padrao;
        esperado["saidas"].push_back(item);
    }
    EXPECT_EQ(Corpo(r), esperado.dump());
    EXPECT_THAT(Simulados(), ElementsAre("SIMULADO: trocar saida de audio"));

    ESPERAR_ERRO(Executar("audio/saida", R"({"id":"sim-nenhuma"})"), 409, "saida_audio_ausente",
                 "A saida foi desconectada.");
    // 512 bytes is still a well-formed request; such an output just does not exist.
    ESPERAR_ERRO(Executar("audio/saida", R"({"id":")" + std::string(512, 'x') + R"("})"), 409,
                 "saida_audio_ausente", "A saida foi desconectada.");
}

TEST_F(Comandos, TeclasDeMidia) {
    for (const char* acao : {"tocarPausar", "proxima", "anterior"}) {
        const auto r = Executar("midia", std::string(R"({"acao":")") + acao + R"("})");
        EXPECT_EQ(r.Status, 204) << acao;
        EXPECT_FALSE(r.Corpo.has_value()) << acao;
    }
    EXPECT_THAT(Simulados(),
                ElementsAre("SIMULADO: tecla de midia $B3", "SIMULADO: tecla de midia $B0",
                            "SIMULADO: tecla de midia $B1"));
}

TEST_F(Comandos, MouseETeclado) {
    const std::string emoji = "\xF0\x9F\x98\x80";
    const TComandoValido casos[] = {
        {"mouse", R"({"acao":"mover","x":0,"y":0})"},
        {"mouse", R"({"acao":"mover","x":-2000,"y":2000.0})"},
        {"mouse", R"({"acao":"rolar","passos":-10})"},
        {"mouse", R"({"acao":"clique","x":"ignorado"})"},
        {"mouse", R"({"acao":"direito"})"},
        {"mouse", R"({"acao":"duplo"})"},
        {"teclado", R"({"tecla":"enter"})"},
        {"teclado", R"({"tecla":"alternarJanela","texto":null})"},
        {"teclado", R"({"texto":"olá\tmundo\r\n"})"},
    };
    for (const auto& c : casos) {
        const auto r = Executar(c.comando, c.corpo);
        EXPECT_EQ(r.Status, 204) << c.corpo;
        EXPECT_FALSE(r.Corpo.has_value()) << c.corpo;
    }
    // The limit counts UTF-16 units: 510 + one pair is 512.
    EXPECT_EQ(Executar("teclado", R"({"texto":")" + std::string(510, 'a') + emoji + R"("})").Status,
              204);
    EXPECT_THAT(Simulados(), ElementsAre("SIMULADO: mouse mover x=0 y=0 passos=0",
                                         "SIMULADO: mouse mover x=-2000 y=2000 passos=0",
                                         "SIMULADO: mouse rolar x=0 y=0 passos=-10",
                                         "SIMULADO: mouse clique x=0 y=0 passos=0",
                                         "SIMULADO: mouse direito x=0 y=0 passos=0",
                                         "SIMULADO: mouse duplo x=0 y=0 passos=0",
                                         "SIMULADO: tecla enter", "SIMULADO: tecla alternarJanela",
                                         "SIMULADO: texto (11 unidades UTF-16)",
                                         "SIMULADO: texto (512 unidades UTF-16)"));
    // Local input is not internet input.
    EXPECT_EQ(estado->UsuarioEntradaInternet(), "");
}

// ---- failures of the PC actions ----

TEST_F(Comandos, FalhasDasAcoesViramErros) {
    // Real backends, none of which can act here: no sound server, no display registered, and
    // an input backend that reports the desktop as unavailable (a lock screen).
    Parametros.Simular = false;
    std::size_t injetados = 0;
    DefinirBackendEntradaTeste(
        [&injetados](const TEntradas& r) {
            injetados += r.size();
            return r.size();
        },
        [] { return false; });

    ESPERAR_ERRO(Executar("volume", R"({"nivel":40})"), 409, "sem_audio", serrosemaudio);
    ESPERAR_ERRO(Executar("tela", R"({"acao":"apagar"})"), 409, "tela_indisponivel",
                 "Nao foi possivel controlar a tela.");
    ESPERAR_ERRO(Executar("audio/saida", R"({"id":"fone"})"), 409, "saida_audio_ausente",
                 "A saida foi desconectada.");
    for (const char* corpo : {R"({"acao":"mover","x":5,"y":5})", R"({"acao":"clique"})"}) {
        ESPERAR_ERRO(Executar("mouse", corpo), 409, "entrada_indisponivel",
                     serroentradaindisponivel);
    }
    for (const char* corpo : {R"({"tecla":"enter"})", R"({"texto":"oi"})"}) {
        ESPERAR_ERRO(Executar("teclado", corpo), 409, "entrada_indisponivel",
                     serroentradaindisponivel);
    }
    EXPECT_EQ(injetados, 0u);
}

// ---- shortcuts ----

TEST_F(Comandos, AbrirAtalhoDoCatalogo) {
    // A program whose file is gone, and a hidden site, next to the built-in items.
    TCatalogoAtalhos catalogo = atalhos->Catalogo();
    const std::string idPrograma = NovoIdAtalho();
    const std::string idOculto = NovoIdAtalho();
    catalogo.itens.push_back({idPrograma, "Editor", "programa", pasta / "sumiu", false, true});
    catalogo.itens.push_back({idOculto, "Oculto", "site", "https://exemplo.com/", false, false});
    std::string erroSalvar;
    ASSERT_TRUE(atalhos->Salvar(catalogo, erroSalvar)) << erroSalvar;

    const auto r = Executar("atalhos/abrir", R"({"id":"youtube"})");
    EXPECT_EQ(r.Status, 202);
    EXPECT_EQ(Corpo(r), R"({"solicitado":"youtube"})");
    EXPECT_THAT(Simulados(), ElementsAre("SIMULAR abrir atalho id=youtube"));

    const std::string falhou = "Nao foi possivel abrir o atalho no PC.";
    // A second opening right away is refused; once the pause has passed it works again.
    ESPERAR_ERRO(Executar("atalhos/abrir", R"({"id":"navegador"})"), 409, "atalho_ocupado", falhou);
    AvancarRelogioTeste(INTERVALO_ABERTURAS_MS);
    EXPECT_EQ(Executar("atalhos/abrir", R"({"id":"navegador"})").Status, 202);

    struct Caso {
        std::string id;
        int status;
        const char* codigo;
    };
    const Caso casos[] = {
        {"nada", 404, "atalho_nao_encontrado"},
        {"YouTube", 404, "atalho_nao_encontrado"},
        {idOculto, 404, "atalho_nao_encontrado"},
        {idPrograma, 409, "atalho_ausente"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.id);
        AvancarRelogioTeste(INTERVALO_ABERTURAS_MS);
        ESPERAR_ERRO(Executar("atalhos/abrir", R"({"id":")" + c.id + R"("})"), c.status, c.codigo,
                     falhou);
    }
}

TEST_F(Comandos, CatalogoInvalidoNaoAbreNada) {
    GravarArquivo(pasta / "atalhos.json", "{ isto nao e json");
    TGestorAtalhos invalido(pasta.Caminho());
    ReiniciarApi(&invalido);
    ESPERAR_ERRO(Executar("atalhos/abrir", R"({"id":"youtube"})"), 409, "atalhos_invalidos",
                 "Nao foi possivel abrir o atalho no PC.");
    ReiniciarApi(atalhos.get());  // the manager above goes away first
}

TEST_F(Comandos, ListaDeAtalhos) {
    const auto r = ListarAtalhos();
    EXPECT_EQ(r.Status, 200);
    ASSERT_TRUE(r.Corpo.has_value());
    EXPECT_EQ(*r.Corpo, atalhos->ListaPublica());
    EXPECT_EQ(r.Corpo->at("revisao"), 1);
    EXPECT_EQ(r.Corpo->at("itens").size(), 4u);
    // The list names items; where they lead stays on the PC.
    EXPECT_THAT(r.Corpo->dump(), Not(HasSubstr("https://")));
}

TEST_F(Comandos, SemGestorDeAtalhos) {
    ReiniciarApi(nullptr);
    const std::string msg = "Atalhos indisponiveis neste PC.";
    ESPERAR_ERRO(ListarAtalhos(), 503, "indisponivel", msg);
    ESPERAR_ERRO(Executar("atalhos/abrir", R"({"id":"youtube"})"), 503, "indisponivel", msg);
    // The body is still judged first.
    ESPERAR_ERRO(Executar("atalhos/abrir", R"({"id":""})"), 400, "requisicao_invalida",
                 serrorequisicaoinvalida);
    EXPECT_THAT(Simulados(), IsEmpty());
}

// ---- rules before the command ----

TEST_F(Comandos, PausaEAtualizacaoRecusamTudoMenosCancelar) {
    struct Caso {
        bool pausado;
        bool atualizando;
        int status;
        const char* codigo;
        const char* mensagem;
    };
    const Caso casos[] = {
        {true, false, 503, "pausado", serropausado},
        {false, true, 503, "atualizando", serroatualizando},
        {true, true, 503, "atualizando", serroatualizando},  // the update is named first
    };
    for (const auto& c : casos) {
        estado->DefinirPausado(c.pausado);
        if (c.atualizando) {
            ASSERT_TRUE(estado->IniciarAtualizacao());
        }
        for (const auto& cmd : COMANDOS_VALIDOS) {
            SCOPED_TRACE(std::string(cmd.comando) + (c.pausado ? " pausado" : "") +
                         (c.atualizando ? " atualizando" : ""));
            ESPERAR_ERRO(Executar(cmd.comando, cmd.corpo), c.status, c.codigo, c.mensagem);
        }
        // Even an unknown command or a bad body gets the same answer.
        ESPERAR_ERRO(Executar("desconhecido", "{}"), c.status, c.codigo, c.mensagem);
        ESPERAR_ERRO(Executar("volume", "{}"), c.status, c.codigo, c.mensagem);
        EXPECT_EQ(Executar("energia/cancelar", "{}").Status, 200);
        estado->TerminarAtualizacao();
    }
    EXPECT_EQ(estado->ObterAgendamento().Acao, ACAO_NENHUMA);
    EXPECT_THAT(Simulados(), IsEmpty());
}

TEST_F(Comandos, ComandoDesconhecido) {
    for (const char* comando : {"", "desligar", "Volume", "energia/", "/energia", "api/volume",
                                "atalhos", "energia/cancelar/"}) {
        SCOPED_TRACE(comando);
        ESPERAR_ERRO(Executar(comando, "{}"), 404, "nao_encontrado", serronaoencontrado);
    }
}

// ---- the relay origin ----

TEST_F(Comandos, PelaInternet) {
    ASSERT_EQ(Executar("energia", R"({"acao":"desligar","atrasoSegundos":300})").Status, 202);
    if (!EdicaoInternet()) {
        // Nothing from the relay runs in this edition, cancelling included.
        for (const auto& cmd : COMANDOS_VALIDOS) {
            SCOPED_TRACE(cmd.comando);
            ESPERAR_ERRO(Executar(cmd.comando, cmd.corpo, ocRelay), 403, "internet_desativada",
                         "O controle pela internet esta desativado nesta versao.");
        }
        estado->DefinirMouseTecladoInternet(true);
        for (const char* comando : {"energia/cancelar", "mouse", "desconhecido"}) {
            ESPERAR_ERRO(Executar(comando, "{}", ocRelay), 403, "internet_desativada",
                         "O controle pela internet esta desativado nesta versao.");
        }
        EXPECT_EQ(estado->ObterAgendamento().Acao, ACAO_DESLIGAR);
        EXPECT_EQ(estado->UsuarioEntradaInternet(), "");
        EXPECT_THAT(Simulados(), IsEmpty());
        return;
    }

    // Shortcuts open only from the local network; the pause rule does not even get a say.
    estado->DefinirPausado(true);
    ESPERAR_ERRO(Executar("atalhos/abrir", R"({"id":"youtube"})", ocRelay), 403, "proibido",
                 "Atalhos disponiveis somente na rede local.");
    EXPECT_EQ(Corpo(Executar("energia/cancelar", "{}", ocRelay)), R"({"cancelado":true})");
    estado->DefinirPausado(false);

    // The rest behaves as it does locally.
    EXPECT_EQ(Corpo(Executar("volume", R"({"nivel":30})", ocRelay)),
              R"({"nivel":30,"mudo":false})");

    // Mouse and keyboard need the PC user's consent.
    estado->DefinirMouseTecladoInternet(false);
    for (const char* comando : {"mouse", "teclado"}) {
        ESPERAR_ERRO(Executar(comando, R"({"acao":"clique","tecla":"enter"})", ocRelay), 403,
                     "entrada_internet_desligada", serroentradainternetdesligada);
    }
    EXPECT_EQ(estado->UsuarioEntradaInternet(), "");

    estado->DefinirMouseTecladoInternet(true);
    // A refused body is no use of the PC.
    EXPECT_EQ(Executar("mouse", R"({"acao":"rolar","passos":0})", ocRelay, "Bruno").Status, 400);
    EXPECT_EQ(estado->UsuarioEntradaInternet(), "");
    EXPECT_EQ(Executar("teclado", R"({"tecla":"enter"})", ocRelay, "Bruno").Status, 204);
    EXPECT_EQ(estado->UsuarioEntradaInternet(), "Bruno");
    EXPECT_THAT(Eventos(), Contains(teEntradaInternet));
}

// ---- through the server ----

// The road of one request: the gate hands the command to the executor with the paired
// device's name, and writes its answer as JSON or as an empty status.
using ComandosPeloServidor = TesteApi;

TEST_F(ComandosPeloServidor, RespostasChegamComoOExecutorDecidiu) {
    const std::string token = Parear("Celular da Bia");
    ASSERT_FALSE(token.empty());

    TPedido volume;
    volume.Metodo = "PUT";
    volume.Caminho = "/api/volume";
    volume.Corpo = R"({"nivel": 40})";
    volume.Token = token;
    const TRespostaBruta r = Pedir(volume);
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Json().dump(), R"({"nivel":40,"mudo":false})");
    EXPECT_EQ(r.Cabecalho("content-type"), "application/json; charset=utf-8");
    EXPECT_EQ(r.Cabecalho("cache-control"), "no-store");

    const TRespostaBruta bloquear = Post("/api/energia", R"({"acao":"bloquear"})", token);
    EXPECT_EQ(bloquear.Status, 204);
    EXPECT_EQ(bloquear.Corpo, "");
    EXPECT_EQ(bloquear.ContarCabecalho("content-type"), 0);
    EXPECT_NE(Log().find("Bloquear pedido por Celular da Bia"), std::string::npos);

    const TRespostaBruta midia = Post("/api/midia", R"({"acao":"parar"})", token);
    EXPECT_EQ(midia.Status, 400);
    EXPECT_EQ(midia.Erro(), "requisicao_invalida");
}

}  // namespace
}  // namespace velorin
