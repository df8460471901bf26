// Audio and media keys: the percent mapping, the switching rules, simulation, and the real
// backends against a private PulseAudio, dbusmock MPRIS players and a private Xvfb.

#include "actions/audio.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "apoio/dbusmock.h"
#include "apoio/pasta_temporaria.h"
#include "apoio/pulseaudio.h"
#include "core/log.h"
#include "core/parametros.h"

// Xlib's macros (None, Bool, Status) collide with gtest's names: include it last.
#include <X11/XF86keysym.h>
#include <X11/Xlib.h>

#include "apoio/xvfb.h"

namespace velorin {
namespace {

using teste::TBarramentoPrivado;
using teste::TDbusMock;
using teste::TPastaTemporaria;
using teste::TPulseAudioPrivado;
using teste::TVariavelAmbiente;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// ---- pure logic ----

TEST(VolumePulse, MapeiaComoPactl) {
    // Every level survives the round trip, so what the phone sets is what it reads back.
    for (std::int32_t p = 0; p <= 100; ++p) {
        EXPECT_EQ(VolumePulseParaPercent(PercentParaVolumePulse(p)), p) << p;
    }
    struct Caso {
        std::int32_t percent;
        std::uint32_t volume;
    };
    for (const Caso c : {Caso{0, 0}, Caso{37, 24248}, Caso{50, 32768}, Caso{100, 65536},
                         Caso{-5, 0}, Caso{150, 65536}}) {
        EXPECT_EQ(PercentParaVolumePulse(c.percent), c.volume) << c.percent;
    }
    struct Leitura {
        std::uint32_t volume;
        std::int32_t percent;
    };
    for (const Leitura l : {Leitura{0, 0}, Leitura{327, 0}, Leitura{328, 1}, Leitura{24248, 37},
                            Leitura{65536, 100}, Leitura{98304, 100}, Leitura{0xFFFFFFFFu, 100}}) {
        EXPECT_EQ(VolumePulseParaPercent(l.volume), l.percent) << l.volume;
    }
}

TEST(TeclaVirtualMidia, CodigosDoWindows) {
    EXPECT_EQ(TeclaVirtualMidia(MIDIA_TOCAR_PAUSAR), 0xB3);
    EXPECT_EQ(TeclaVirtualMidia(MIDIA_PROXIMA), 0xB0);
    EXPECT_EQ(TeclaVirtualMidia(MIDIA_ANTERIOR), 0xB1);
    EXPECT_EQ(TeclaVirtualMidia(9), 0xB3);
    EXPECT_EQ(TeclaVirtualMidia(-1), 0xB3);
}

// A backend made of recorded steps; each step's answer is set per case.
struct TPassosFalsos {
    TEstadoAudio saidas{true, {{"a", "A", true}, {"b", "B", false}}};
    bool pode_trocar = true;
    bool ativa = true;
    bool primeiro = true;
    bool segundo = true;
    std::string padrao_final = "b";
    std::vector<std::string> chamadas;

    TPassosTroca Passos() {
        TPassosTroca p;
        p.LerSaidas = [this](TEstadoAudio& e) { e = saidas; };
        p.PodeTrocar = [this] { return pode_trocar; };
        p.SaidaAtiva = [this](const std::string&) { return ativa; };
        p.PrimeiroPasso = [this](const std::string& id) {
            chamadas.push_back("primeiro " + id);
            return primeiro;
        };
        p.SegundoPasso = [this](const std::string& id, const std::string& anterior) {
            chamadas.push_back("segundo " + id + " de " + anterior);
            return segundo;
        };
        p.Desfazer = [this](const std::string& anterior, const std::string& id) {
            chamadas.push_back("desfazer " + id + " para " + anterior);
        };
        p.PadraoAtual = [this] { return padrao_final; };
        return p;
    }
};

TEST(ExecutarTroca, ResultadosEDesfazer) {
    struct Caso {
        const char* nome;
        std::function<void(TPassosFalsos&)> preparar;
        std::string id;
        int resultado;
        std::vector<std::string> chamadas;
    };
    const std::vector<Caso> casos = {
        {"feita", [](TPassosFalsos&) {}, "b", TROCA_FEITA, {"primeiro b", "segundo b de a"}},
        {"ja padrao",
         [](TPassosFalsos& f) { f.padrao_final = "a"; },
         "a",
         TROCA_FEITA,
         {"primeiro a", "segundo a de a"}},
        {"desconhecida", [](TPassosFalsos&) {}, "x", TROCA_SAIDA_AUSENTE, {}},
        {"id difere so na caixa", [](TPassosFalsos&) {}, "B", TROCA_SAIDA_AUSENTE, {}},
        {"sem suporte na lista",
         [](TPassosFalsos& f) { f.saidas.podeTrocar = false; },
         "b",
         TROCA_NAO_SUPORTADA,
         {}},
        {"sem suporte agora",
         [](TPassosFalsos& f) { f.pode_trocar = false; },
         "b",
         TROCA_NAO_SUPORTADA,
         {}},
        {"saida inativa", [](TPassosFalsos& f) { f.ativa = false; }, "b", TROCA_SAIDA_AUSENTE, {}},
        {"primeiro passo falha",
         [](TPassosFalsos& f) { f.primeiro = false; },
         "b",
         TROCA_FALHOU,
         {"primeiro b"}},
        {"segundo passo falha desfaz",
         [](TPassosFalsos& f) { f.segundo = false; },
         "b",
         TROCA_FALHOU,
         {"primeiro b", "segundo b de a", "desfazer b para a"}},
        {"sem padrao anterior nada a desfazer",
         [](TPassosFalsos& f) {
             f.segundo = false;
             f.saidas.saidas[0].padrao = false;
         },
         "b",
         TROCA_FALHOU,
         {"primeiro b", "segundo b de "}},
        {"padrao final diferente",
         [](TPassosFalsos& f) { f.padrao_final = "a"; },
         "b",
         TROCA_FALHOU,
         {"primeiro b", "segundo b de a"}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        TPassosFalsos f;
        c.preparar(f);
        EXPECT_EQ(ExecutarTroca(f.Passos(), c.id), c.resultado);
        EXPECT_EQ(f.chamadas, c.chamadas);
    }
}

// ---- simulation ----

class AudioSimulado : public ::testing::Test {
  protected:
    void SetUp() override {
        AbrirLog(pasta.Caminho());
        Parametros.Simular = true;
        ReiniciarSimulacaoAudioTeste();
    }
    void TearDown() override {
        Parametros.Simular = false;
        ReiniciarSimulacaoAudioTeste();
        FecharLog();
    }
    std::vector<std::string> Log() const { return teste::MensagensLog(pasta / "log.txt"); }

    TPastaTemporaria pasta;
    // Nothing real may be reached while simulating.
    TVariavelAmbiente sem_pulse{"PULSE_SERVER", "unix:/nada/native"};
};

TEST_F(AudioSimulado, ValoresIniciais) {
    TEstadoAudio estado;
    LerSaidasAudio(estado);
    EXPECT_TRUE(estado.podeTrocar);
    EXPECT_THAT(estado.saidas,
                ElementsAre(TSaidaAudio{"sim-caixa", "Alto-falantes (simulado)", true},
                            TSaidaAudio{"sim-fone", "Fone Bluetooth (simulado)", false},
                            TSaidaAudio{"sim-hdmi", "TV HDMI (simulado)", false}));
    TVolume v;
    LerVolume(v);
    EXPECT_TRUE(v.disponivel);
    EXPECT_EQ(v.nivel, 50);
    EXPECT_FALSE(v.mudo);
}

TEST_F(AudioSimulado, VolumeGuardaSoOQueFoiPedidoELimita) {
    struct Passo {
        bool mudar_nivel;
        std::int32_t nivel;
        bool mudar_mudo;
        bool mudo;
        std::int32_t nivel_esperado;
        bool mudo_esperado;
    };
    const Passo passos[] = {
        {true, 30, false, false, 30, false},   // mute untouched
        {false, 99, true, true, 30, true},     // level untouched
        {true, 150, false, false, 100, true},  // clamped above
        {true, -20, true, false, 0, false},    // clamped below
    };
    for (const auto& p : passos) {
        TVolume v;
        AjustarVolume(p.mudar_nivel, p.nivel, p.mudar_mudo, p.mudo, v);
        EXPECT_TRUE(v.disponivel);
        EXPECT_EQ(v.nivel, p.nivel_esperado);
        EXPECT_EQ(v.mudo, p.mudo_esperado);
        TVolume lido;
        LerVolume(lido);
        EXPECT_EQ(lido.nivel, p.nivel_esperado);
        EXPECT_EQ(lido.mudo, p.mudo_esperado);
    }
    EXPECT_THAT(Log(), IsEmpty());
}

TEST_F(AudioSimulado, TrocaDeSaida) {
    EXPECT_EQ(TrocarSaidaAudio("sim-fone"), TROCA_FEITA);
    TEstadoAudio estado;
    LerSaidasAudio(estado);
    ASSERT_EQ(estado.saidas.size(), 3u);
    EXPECT_FALSE(estado.saidas[0].padrao);
    EXPECT_TRUE(estado.saidas[1].padrao);
    EXPECT_FALSE(estado.saidas[2].padrao);

    EXPECT_EQ(TrocarSaidaAudio("sim-fone"), TROCA_FEITA);  // already the default
    for (const char* id : {"", "sim-tv", "SIM-HDMI", "sim-caixa "}) {
        EXPECT_EQ(TrocarSaidaAudio(id), TROCA_SAIDA_AUSENTE) << id;
    }
    LerSaidasAudio(estado);
    EXPECT_TRUE(estado.saidas[1].padrao);
    EXPECT_THAT(Log(),
                ElementsAre("SIMULADO: trocar saida de audio", "SIMULADO: trocar saida de audio"));
}

TEST_F(AudioSimulado, TeclasDeMidia) {
    TeclaMidia(MIDIA_TOCAR_PAUSAR);
    TeclaMidia(MIDIA_PROXIMA);
    TeclaMidia(MIDIA_ANTERIOR);
    TeclaMidia(42);
    EXPECT_THAT(Log(), ElementsAre("SIMULADO: tecla de midia $B3", "SIMULADO: tecla de midia $B0",
                                   "SIMULADO: tecla de midia $B1", "SIMULADO: tecla de midia $B3"));
}

// ---- PulseAudio ----

class AudioPulse : public ::testing::Test {
  protected:
    void SetUp() override {
        EXIGIR_FERRAMENTA("/usr/bin/pulseaudio", "pulseaudio");
        EXIGIR_FERRAMENTA("/usr/bin/pactl", "pulseaudio-utils");
        EXIGIR_FERRAMENTA("/usr/bin/pacat", "pulseaudio-utils");
        pulse = std::make_unique<TPulseAudioPrivado>();
        ASSERT_TRUE(pulse->Ativo());
    }

    std::unique_ptr<TPulseAudioPrivado> pulse;
};

TEST_F(AudioPulse, ListaSaidasComPadrao) {
    TEstadoAudio estado;
    LerSaidasAudio(estado);
    EXPECT_TRUE(estado.podeTrocar);
    EXPECT_THAT(estado.saidas, ElementsAre(TSaidaAudio{"caixa", "Caixa de Teste", true},
                                           TSaidaAudio{"fone", "Fone de Teste", false},
                                           TSaidaAudio{"hdmi", "TV de Teste", false}));
}

TEST_F(AudioPulse, VolumeEMudoNaSaidaPadrao) {
    TVolume v;
    AjustarVolume(true, 37, false, false, v);
    EXPECT_TRUE(v.disponivel);
    EXPECT_EQ(v.nivel, 37);
    EXPECT_FALSE(v.mudo);
    // pactl sees the same level on the default sink only.
    EXPECT_THAT(pulse->Pactl({"get-sink-volume", "caixa"}).value_or(""),
                ::testing::HasSubstr("/  37% /"));
    EXPECT_THAT(pulse->Pactl({"get-sink-volume", "fone"}).value_or(""),
                ::testing::Not(::testing::HasSubstr("37%")));

    AjustarVolume(false, 0, true, true, v);
    EXPECT_TRUE(v.disponivel);
    EXPECT_EQ(v.nivel, 37);
    EXPECT_TRUE(v.mudo);
    EXPECT_THAT(pulse->Pactl({"get-sink-mute", "caixa"}).value_or(""), ::testing::HasSubstr("yes"));

    TVolume lido;
    LerVolume(lido);
    EXPECT_TRUE(lido.disponivel);
    EXPECT_EQ(lido.nivel, 37);
    EXPECT_TRUE(lido.mudo);

    AjustarVolume(true, 250, true, false, v);  // clamped to 100 %, never amplified beyond
    EXPECT_EQ(v.nivel, 100);
    EXPECT_FALSE(v.mudo);
}

TEST_F(AudioPulse, VolumeMantemEquilibrioDosCanais) {
    ASSERT_TRUE(pulse->Pactl({"set-sink-volume", "caixa", "60%", "30%"}));
    TVolume v;
    AjustarVolume(true, 80, false, false, v);
    EXPECT_EQ(v.nivel, 80);
    const std::string volume = pulse->Pactl({"get-sink-volume", "caixa"}).value_or("");
    EXPECT_THAT(volume, ::testing::HasSubstr("/  80% /"));
    EXPECT_THAT(volume, ::testing::HasSubstr("/  40% /"));
}

TEST_F(AudioPulse, TrocaSaidaMoveOsFluxos) {
    // One stream following the default and one placed on the default output by hand: both
    // play on the new output after the switch.
    auto seguindo = pulse->Tocar();
    auto fixo = pulse->Tocar("caixa");
    ASSERT_TRUE(seguindo && fixo);
    const long caixa = pulse->IndiceSink("caixa");
    const long fone = pulse->IndiceSink("fone");
    ASSERT_THAT(pulse->SinksDosFluxos(), ElementsAre(caixa, caixa));

    EXPECT_EQ(TrocarSaidaAudio("fone"), TROCA_FEITA);
    EXPECT_EQ(pulse->SinkPadrao(), "fone");
    EXPECT_THAT(pulse->SinksDosFluxos(), ElementsAre(fone, fone));
    TEstadoAudio estado;
    LerSaidasAudio(estado);
    ASSERT_EQ(estado.saidas.size(), 3u);
    EXPECT_FALSE(estado.saidas[0].padrao);
    EXPECT_TRUE(estado.saidas[1].padrao);

    EXPECT_EQ(TrocarSaidaAudio("fone"), TROCA_FEITA);  // already the default
    EXPECT_EQ(TrocarSaidaAudio("nao-existe"), TROCA_SAIDA_AUSENTE);
    EXPECT_EQ(TrocarSaidaAudio("Fone"), TROCA_SAIDA_AUSENTE);
    EXPECT_EQ(pulse->SinkPadrao(), "fone");
    EXPECT_THAT(pulse->SinksDosFluxos(), ElementsAre(fone, fone));
}

TEST_F(AudioPulse, ServidorMortoOuTravadoFicaIndisponivel) {
    // Stopped: the socket accepts and nothing answers. Only our own deadline can end the wait
    // (libpulse has none for this); the bound checked is generous on purpose.
    pulse->Pausar();
    const auto inicio = std::chrono::steady_clock::now();
    TVolume v;
    LerVolume(v);
    EXPECT_FALSE(v.disponivel);
    TEstadoAudio estado;
    LerSaidasAudio(estado);
    EXPECT_FALSE(estado.podeTrocar);
    EXPECT_THAT(estado.saidas, IsEmpty());
    EXPECT_EQ(TrocarSaidaAudio("fone"), TROCA_SAIDA_AUSENTE);
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(15));

    pulse->Matar();
    AjustarVolume(true, 10, true, true, v);
    EXPECT_FALSE(v.disponivel);
    EXPECT_EQ(v.nivel, 0);
    LerSaidasAudio(estado);
    EXPECT_FALSE(estado.podeTrocar);
    EXPECT_THAT(estado.saidas, IsEmpty());
    EXPECT_EQ(TrocarSaidaAudio("fone"), TROCA_SAIDA_AUSENTE);
}

// ---- media keys ----

// An MPRIS player answering on a private session bus.
std::string ModeloPlayer(const TPastaTemporaria& pasta, const std::string& nome) {
    return teste::GravarModeloDbusMock(
        pasta, nome + ".py",
        "BUS_NAME = 'org.mpris.MediaPlayer2." + nome +
            "'\n"
            "MAIN_OBJ = '/org/mpris/MediaPlayer2'\n"
            "MAIN_IFACE = 'org.mpris.MediaPlayer2.Player'\n"
            "SYSTEM_BUS = False\n\n"
            "def load(mock, parameters):\n"
            "    mock.AddMethods(MAIN_IFACE, [('PlayPause', '', '', ''), ('Next', '', '', ''),\n"
            "                                 ('Previous', '', '', '')])\n"
            "    mock.AddProperties(MAIN_IFACE, dbus.Dictionary(\n"
            "        {'PlaybackStatus': parameters.get('status', 'Stopped')}, signature='sv'))\n");
}

class MidiaMpris : public ::testing::Test {
  protected:
    void SetUp() override {
        EXIGIR_FERRAMENTA("/usr/bin/dbus-daemon", "dbus");
        EXIGIR_FERRAMENTA("/usr/bin/python3", "python3-dbusmock");
        barramento = std::make_unique<TBarramentoPrivado>(TBarramentoPrivado::TTipo::Sessao);
        ASSERT_TRUE(barramento->Ativo());
        endereco =
            std::make_unique<TVariavelAmbiente>("DBUS_SESSION_BUS_ADDRESS", barramento->Endereco());
    }
    std::unique_ptr<TDbusMock> Player(const std::string& nome, const std::string& status) {
        auto p = std::make_unique<TDbusMock>(*barramento, ModeloPlayer(pasta, nome),
                                             "org.mpris.MediaPlayer2." + nome,
                                             "{\"status\": \"" + status + "\"}");
        EXPECT_TRUE(p->Ativo());
        return p;
    }
    static std::vector<std::string> Comandos(const TDbusMock& m) {
        std::vector<std::string> c;
        for (auto& linha : m.Chamadas()) {
            if (linha == "PlayPause" || linha == "Next" || linha == "Previous") c.push_back(linha);
        }
        return c;
    }

    TPastaTemporaria pasta;
    TVariavelAmbiente sem_display{"DISPLAY", std::nullopt};
    std::unique_ptr<TBarramentoPrivado> barramento;
    std::unique_ptr<TVariavelAmbiente> endereco;
};

TEST_F(MidiaMpris, VaiParaOPlayerQueToca) {
    auto pausado = Player("pausado", "Paused");
    auto tocando = Player("tocando", "Playing");
    TeclaMidia(MIDIA_TOCAR_PAUSAR);
    TeclaMidia(MIDIA_PROXIMA);
    TeclaMidia(MIDIA_ANTERIOR);
    EXPECT_THAT(Comandos(*tocando), ElementsAre("PlayPause", "Next", "Previous"));
    EXPECT_THAT(Comandos(*pausado), IsEmpty());
}

TEST_F(MidiaMpris, SemNenhumTocandoPrefereOPausado) {
    auto parado = Player("parado", "Stopped");
    auto pausado = Player("pausado", "Paused");
    TeclaMidia(MIDIA_TOCAR_PAUSAR);
    EXPECT_THAT(Comandos(*pausado), ElementsAre("PlayPause"));
    EXPECT_THAT(Comandos(*parado), IsEmpty());
}

// Without any player the key goes to the X server, where the desktop's media-key daemon
// would pick it up.
TEST(MidiaX, SemPlayerEnviaTeclaXF86) {
    TPastaTemporaria pasta;
    TVariavelAmbiente sem_sessao("DBUS_SESSION_BUS_ADDRESS",
                                 "unix:path=" + pasta.Caminho() + "nada");
    teste::TXvfb xvfb;
    VELORIN_EXIGIR_XVFB(xvfb);
    teste::TJanelaTeste janela;
    ASSERT_TRUE(janela.Ativa());

    TeclaMidia(MIDIA_PROXIMA);
    TeclaMidia(MIDIA_TOCAR_PAUSAR);
    TeclaMidia(MIDIA_ANTERIOR);

    janela.Drenar();
    EXPECT_THAT(janela.TeclasPressionadas(),
                ElementsAre(static_cast<unsigned long>(XF86XK_AudioNext),
                            static_cast<unsigned long>(XF86XK_AudioPlay),
                            static_cast<unsigned long>(XF86XK_AudioPrev)));
}

}  // namespace
}  // namespace velorin
