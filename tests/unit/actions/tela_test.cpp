// Display power: the Windows notification parser, simulation, and the Linux backends (GNOME's
// display configuration through dbusmock, DPMS on a private Xvfb, nothing at all).

#include "actions/tela.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "apoio/dbusmock.h"
#include "apoio/pasta_temporaria.h"
#include "core/log.h"
#include "core/parametros.h"

// Includes Xlib, whose macros collide with gtest's names: last.
#include "apoio/xvfb.h"

namespace velorin {
namespace {

using teste::TBarramentoPrivado;
using teste::TDbusMock;
using teste::TPastaTemporaria;
using teste::TVariavelAmbiente;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A POWERBROADCAST_SETTING as Windows lays it out: GUID, data length, data bytes.
struct TRegistroBytes {
    alignas(TConfiguracaoEnergiaWindows) unsigned char bytes[32] = {};

    TRegistroBytes(const TGuidWindows& guid, std::uint32_t comprimento, std::uint32_t valor) {
        std::memcpy(bytes, &guid, sizeof guid);
        std::memcpy(bytes + 16, &comprimento, sizeof comprimento);
        std::memcpy(bytes + 20, &valor, sizeof valor);
    }
    const TConfiguracaoEnergiaWindows* Registro() const {
        return reinterpret_cast<const TConfiguracaoEnergiaWindows*>(bytes);
    }
};

constexpr TGuidWindows OUTRO_GUID = {  // GUID_ACDC_POWER_SOURCE
    0x5D3E9A59,
    0xE9D5,
    0x4B00,
    {0xA6, 0xBD, 0xFF, 0x34, 0xFF, 0x51, 0x65, 0x48}};

TEST(EstadoDaNotificacao, SoOEstadoDaTelaComQuatroBytes) {
    static_assert(offsetof(TConfiguracaoEnergiaWindows, DataLength) == 16);
    static_assert(offsetof(TConfiguracaoEnergiaWindows, Data) == 20);
    struct Caso {
        const char* nome;
        std::uintptr_t codigo;
        TGuidWindows guid;
        std::uint32_t comprimento;
        std::uint32_t valor;
        std::optional<std::int32_t> estado;
    };
    const Caso casos[] = {
        {"desligada", 0x8013, GUID_ESTADO_TELA_CONSOLE, 4, 0, TELA_DESLIGADA},
        {"ligada", 0x8013, GUID_ESTADO_TELA_CONSOLE, 4, 1, TELA_LIGADA},
        {"escurecida conta como ligada", 0x8013, GUID_ESTADO_TELA_CONSOLE, 4, 2, TELA_LIGADA},
        {"valor desconhecido", 0x8013, GUID_ESTADO_TELA_CONSOLE, 4, 3, std::nullopt},
        {"comprimento 1", 0x8013, GUID_ESTADO_TELA_CONSOLE, 1, 0, std::nullopt},
        {"comprimento 8", 0x8013, GUID_ESTADO_TELA_CONSOLE, 8, 0, std::nullopt},
        {"outra configuracao", 0x8013, OUTRO_GUID, 4, 0, std::nullopt},
        {"outro evento (retomada)", 0x0012, GUID_ESTADO_TELA_CONSOLE, 4, 0, std::nullopt},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        const TRegistroBytes r(c.guid, c.comprimento, c.valor);
        EXPECT_EQ(EstadoDaNotificacao(c.codigo, r.Registro()), c.estado);
    }
    EXPECT_EQ(EstadoDaNotificacao(0x8013, nullptr), std::nullopt);
}

class Tela : public ::testing::Test {
  protected:
    void SetUp() override {
        AbrirLog(pasta.Caminho());
        ReiniciarTelaTeste();
    }
    void TearDown() override {
        ReiniciarTelaTeste();
        Parametros.Simular = false;
        FecharLog();
    }
    std::vector<std::string> Log() const { return teste::MensagensLog(pasta / "log.txt"); }

    TPastaTemporaria pasta;
    // No real display or desktop is ever reached unless a test provides its own.
    TVariavelAmbiente sem_display{"DISPLAY", std::nullopt};
    TVariavelAmbiente sem_sessao{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nada/bus"};
};

TEST_F(Tela, NotificacoesMudamOEstado) {
    RegistrarTela(1);
    EXPECT_EQ(EstadoTela(), TELA_DESCONHECIDA);  // nothing known before the first report
    const TRegistroBytes desligada(GUID_ESTADO_TELA_CONSOLE, 4, 0);
    const TRegistroBytes escurecida(GUID_ESTADO_TELA_CONSOLE, 4, 2);
    const TRegistroBytes curta(GUID_ESTADO_TELA_CONSOLE, 2, 1);
    NotificacaoEnergia(0x8013, reinterpret_cast<std::intptr_t>(desligada.Registro()));
    EXPECT_EQ(EstadoTela(), TELA_DESLIGADA);
    NotificacaoEnergia(0x8013, reinterpret_cast<std::intptr_t>(curta.Registro()));
    EXPECT_EQ(EstadoTela(), TELA_DESLIGADA);
    NotificacaoEnergia(0x8013, reinterpret_cast<std::intptr_t>(escurecida.Registro()));
    EXPECT_EQ(EstadoTela(), TELA_LIGADA);
    NotificacaoEnergia(0x8013, 0);
    EXPECT_EQ(EstadoTela(), TELA_LIGADA);
}

TEST_F(Tela, SimulacaoGuardaOPedidoENaoOuveNotificacoes) {
    Parametros.Simular = true;
    EXPECT_EQ(EstadoTela(), TELA_DESCONHECIDA);
    RegistrarTela(0);
    EXPECT_EQ(EstadoTela(), TELA_LIGADA);
    EXPECT_TRUE(DefinirTela(false));
    EXPECT_EQ(EstadoTela(), TELA_DESLIGADA);
    const TRegistroBytes ligada(GUID_ESTADO_TELA_CONSOLE, 4, 1);
    NotificacaoEnergia(0x8013, reinterpret_cast<std::intptr_t>(ligada.Registro()));
    AtualizarEstadoTela();
    EXPECT_EQ(EstadoTela(), TELA_DESLIGADA);
    EXPECT_TRUE(DefinirTela(true));
    EXPECT_EQ(EstadoTela(), TELA_LIGADA);
    EXPECT_THAT(Log(),
                ElementsAre("SIMULADO: tela (ligada=False)", "SIMULADO: tela (ligada=True)"));
}

TEST_F(Tela, SemJanelaRegistradaNaoControla) {
    EXPECT_FALSE(DefinirTela(false));
    RegistrarTela(7);
    CancelarRegistroTela();
    EXPECT_FALSE(DefinirTela(false));
    AtualizarEstadoTela();
    EXPECT_EQ(EstadoTela(), TELA_DESCONHECIDA);
}

TEST_F(Tela, SemDisplayNemDesktopFicaIndisponivel) {
    RegistrarTela(1);
    EXPECT_FALSE(DefinirTela(false));
    EXPECT_FALSE(DefinirTela(true));
    AtualizarEstadoTela();
    EXPECT_EQ(EstadoTela(), TELA_DESCONHECIDA);
    EXPECT_THAT(Log(), IsEmpty());
}

TEST_F(Tela, XvfbSemDpmsResponde) {
    teste::TXvfb xvfb;
    VELORIN_EXIGIR_XVFB(xvfb);
    RegistrarTela(1);
    EXPECT_FALSE(DefinirTela(false));
    AtualizarEstadoTela();
    EXPECT_EQ(EstadoTela(), TELA_DESCONHECIDA);
}

// GNOME's display configuration, as far as the power-save mode goes.
std::string ModeloMutter(const TPastaTemporaria& pasta) {
    return teste::GravarModeloDbusMock(
        pasta, "mutter.py",
        "BUS_NAME = 'org.gnome.Mutter.DisplayConfig'\n"
        "MAIN_OBJ = '/org/gnome/Mutter/DisplayConfig'\n"
        "MAIN_IFACE = 'org.gnome.Mutter.DisplayConfig'\n"
        "SYSTEM_BUS = False\n\n"
        "def load(mock, parameters):\n"
        "    mock.AddProperties(MAIN_IFACE, dbus.Dictionary(\n"
        "        {'PowerSaveMode': dbus.Int32(parameters.get('modo', 0))}, signature='sv'))\n");
}

class TelaMutter : public Tela {
  protected:
    void Iniciar(int modo) {
        EXIGIR_FERRAMENTA("/usr/bin/dbus-daemon", "dbus");
        EXIGIR_FERRAMENTA("/usr/bin/python3", "python3-dbusmock");
        barramento = std::make_unique<TBarramentoPrivado>(TBarramentoPrivado::TTipo::Sessao);
        ASSERT_TRUE(barramento->Ativo());
        endereco =
            std::make_unique<TVariavelAmbiente>("DBUS_SESSION_BUS_ADDRESS", barramento->Endereco());
        mutter = std::make_unique<TDbusMock>(*barramento, ModeloMutter(pasta),
                                             "org.gnome.Mutter.DisplayConfig",
                                             "{\"modo\": " + std::to_string(modo) + "}");
        ASSERT_TRUE(mutter->Ativo());
    }
    std::vector<std::string> Mudancas() const {
        return mutter->ChamadasDe("Set /org/gnome/Mutter/DisplayConfig");
    }

    std::unique_ptr<TBarramentoPrivado> barramento;
    std::unique_ptr<TVariavelAmbiente> endereco;
    std::unique_ptr<TDbusMock> mutter;
};

TEST_F(TelaMutter, ApagaEAcendePeloModoDeEconomia) {
    ASSERT_NO_FATAL_FAILURE(Iniciar(0));
    if (IsSkipped()) return;
    RegistrarTela(1);
    AtualizarEstadoTela();
    EXPECT_EQ(EstadoTela(), TELA_LIGADA);

    EXPECT_TRUE(DefinirTela(false));
    EXPECT_EQ(EstadoTela(), TELA_LIGADA);  // changes only when the system reports it
    AtualizarEstadoTela();
    EXPECT_EQ(EstadoTela(), TELA_DESLIGADA);

    EXPECT_TRUE(DefinirTela(true));
    AtualizarEstadoTela();
    EXPECT_EQ(EstadoTela(), TELA_LIGADA);
    const std::string prefixo =
        "Set /org/gnome/Mutter/DisplayConfig org.gnome.Mutter.DisplayConfig.PowerSaveMode ";
    EXPECT_THAT(Mudancas(), ElementsAre(prefixo + "3", prefixo + "0"));
}

TEST_F(TelaMutter, ModoSemSuporteCaiParaDpms) {
    // The desktop says it cannot do it (-1), and there is no X display either.
    ASSERT_NO_FATAL_FAILURE(Iniciar(-1));
    if (IsSkipped()) return;
    RegistrarTela(1);
    EXPECT_FALSE(DefinirTela(false));
    AtualizarEstadoTela();
    EXPECT_EQ(EstadoTela(), TELA_DESCONHECIDA);
    EXPECT_THAT(Mudancas(), IsEmpty());
}

}  // namespace
}  // namespace velorin
