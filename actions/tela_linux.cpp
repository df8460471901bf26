// Display power on Linux: GNOME's display configuration service when it runs (it works on
// X11 and Wayland alike and keeps the desktop's own idea of the display state), else X11 DPMS.
// Neither notifies us of changes we can rely on, so the main timer polls.

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

#include "actions/barramento_linux.h"
#include "actions/tela.h"

namespace velorin {

namespace {

constexpr const char* MUTTER = "org.gnome.Mutter.DisplayConfig";
constexpr const char* MUTTER_CAMINHO = "/org/gnome/Mutter/DisplayConfig";
constexpr const char* MUTTER_INTERFACE = "org.gnome.Mutter.DisplayConfig";
constexpr std::int32_t MUTTER_LIGADA = 0;
constexpr std::int32_t MUTTER_DESLIGADA = 3;
constexpr std::int32_t MUTTER_SEM_SUPORTE = -1;

// A change gets 2 s in all, as the phone's request waits for it: the desktop's D-Bus steps
// (connect, look for the name, read, set) share half of that in 500 ms slices, and DPMS, tried
// only without the desktop service, gets its own watchdog. The once-a-second poll runs on the
// main thread and must stay short.
constexpr std::uint32_t PRAZO_MUDAR_MS = 2000;
constexpr std::uint32_t PRAZO_PASSO_DBUS_MS = 500;
constexpr std::uint32_t PRAZO_CONSULTA_MS = 250;

// PowerSaveMode through the desktop; nullopt when the service is absent or reports no support.
std::optional<std::int32_t> ModoMutter(const TBarramento& bus, std::uint32_t prazo_ms) {
    if (!bus || !NomeTemDono(bus, MUTTER, prazo_ms)) return std::nullopt;
    std::int32_t modo = MUTTER_SEM_SUPORTE;
    if (LerPropriedadeInt32(bus, MUTTER, MUTTER_CAMINHO, MUTTER_INTERFACE, "PowerSaveMode",
                            prazo_ms, modo) < 0 ||
        modo == MUTTER_SEM_SUPORTE) {
        return std::nullopt;
    }
    return modo;
}

// False when the server lacks DPMS or the monitor cannot do it (Xvfb, a nested server).
bool DpmsDisponivel(Display* d) {
    int ev = 0, err = 0;
    return DPMSQueryExtension(d, &ev, &err) && DPMSCapable(d);
}

bool DefinirDpms(bool ligada) {
    TDisplayX x;
    if (!x.Abrir()) return false;
    TVigiaX vigia(x, PRAZO_MUDAR_MS);
    Display* d = x.Get();
    if (!DpmsDisponivel(d) || x.Falhou()) return false;
    // Forcing a level needs DPMS switched on; a user who disabled it still gets the command.
    DPMSEnable(d);
    DPMSForceLevel(d, ligada ? DPMSModeOn : DPMSModeOff);
    XSync(d, False);
    return !x.Falhou();
}

std::int32_t EstadoDpms() {
    TDisplayX x;
    if (!x.Abrir()) return TELA_DESCONHECIDA;
    TVigiaX vigia(x, PRAZO_CONSULTA_MS * 4);
    Display* d = x.Get();
    if (!DpmsDisponivel(d) || x.Falhou()) return TELA_DESCONHECIDA;
    CARD16 nivel = DPMSModeOn;
    BOOL ativo = False;
    if (!DPMSInfo(d, &nivel, &ativo) || x.Falhou()) return TELA_DESCONHECIDA;
    // With DPMS off the server never blanks the monitor: it is on.
    if (!ativo) return TELA_LIGADA;
    return nivel == DPMSModeOn ? TELA_LIGADA : TELA_DESLIGADA;
}

}  // namespace

bool RegistrarTelaSistema(TJanelaTela) {
    return true;
}

void CancelarRegistroTelaSistema() {}

bool DefinirTelaSistema(TJanelaTela, bool ligada) {
    {
        const TBarramento bus = AbrirBarramentoSessao(PRAZO_PASSO_DBUS_MS);
        if (ModoMutter(bus, PRAZO_PASSO_DBUS_MS)) {
            return DefinirPropriedadeInt32(bus, MUTTER, MUTTER_CAMINHO, MUTTER_INTERFACE,
                                           "PowerSaveMode", PRAZO_PASSO_DBUS_MS,
                                           ligada ? MUTTER_LIGADA : MUTTER_DESLIGADA) >= 0;
        }
    }
    return DefinirDpms(ligada);
}

bool LerEstadoTelaSistema(std::int32_t& estado) {
    {
        const TBarramento bus = AbrirBarramentoSessao(PRAZO_CONSULTA_MS);
        if (const auto modo = ModoMutter(bus, PRAZO_CONSULTA_MS)) {
            // Standby and suspend are DPMS's intermediate blanked levels: the picture is gone.
            estado = *modo == MUTTER_LIGADA ? TELA_LIGADA : TELA_DESLIGADA;
            return true;
        }
    }
    estado = EstadoDpms();
    return true;
}

}  // namespace velorin
