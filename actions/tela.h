// Display power: turns the PC's displays off and on, and keeps track of whether they are on.
//
// The state is one atomic value: -1 unknown, 0 off, 1 on. Windows reports display changes to
// the main window, which forwards them to NotificacaoEnergia. X11 has no such notification, so
// on Linux the main timer calls AtualizarEstadoTela once a second instead.
#pragma once

#include <cstdint>
#include <optional>

namespace velorin {

inline constexpr std::int32_t TELA_DESCONHECIDA = -1;
inline constexpr std::int32_t TELA_DESLIGADA = 0;
inline constexpr std::int32_t TELA_LIGADA = 1;

// The main window's native handle (HWND on Windows; on Linux the value is only remembered:
// any value, 0 included, registers, since the display is reached without the window).
using TJanelaTela = std::uintptr_t;

// Called once by the main window after it exists. In simulation mode the state becomes 1.
void RegistrarTela(TJanelaTela janela);
// Called when the main window goes away; DefinirTela then fails.
void CancelarRegistroTela();
// Windows: the two parameters of every WM_POWERBROADCAST message of the main window.
void NotificacaoEnergia(std::uintptr_t codigo, std::intptr_t configuracao);
// -1 unknown, 0 off, 1 on.
[[nodiscard]] std::int32_t EstadoTela();
// Turns the displays on or off; false when no window is registered or the system refused or
// did not answer in time. The state follows from the system's report, not from this call.
[[nodiscard]] bool DefinirTela(bool ligada);
// Linux: asks the system for the display state and stores it (main timer, once a second).
void AtualizarEstadoTela();

// Tests: forgets the state and the registration, as at program start.
void ReiniciarTelaTeste();

// ---- Windows display notification (pure) ----

inline constexpr std::uintptr_t PBT_MUDANCA_CONFIGURACAO_ENERGIA =
    0x8013;  // PBT_POWERSETTINGCHANGE

// GUID layout as Windows stores it.
struct TGuidWindows {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

// GUID_CONSOLE_DISPLAY_STATE {6FE69556-704A-47A0-8F24-C28D936FDA47}
inline constexpr TGuidWindows GUID_ESTADO_TELA_CONSOLE = {
    0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6D, 0xFA, 0x47}};

// Head of POWERBROADCAST_SETTING: the setting, the data length, then the data bytes.
struct TConfiguracaoEnergiaWindows {
    TGuidWindows PowerSetting;
    std::uint32_t DataLength;
    std::uint8_t Data[1];
};

// The display state a notification reports, or nothing when it must be ignored (another
// message or setting, no record, a length other than 4, an unknown value). 2 (dimmed) is on.
[[nodiscard]] std::optional<std::int32_t> EstadoDaNotificacao(
    std::uintptr_t codigo, const TConfiguracaoEnergiaWindows* configuracao);

// ---- backend seam: one implementation per OS (tela_<os>.cpp) ----

[[nodiscard]] bool RegistrarTelaSistema(TJanelaTela janela);
void CancelarRegistroTelaSistema();
[[nodiscard]] bool DefinirTelaSistema(TJanelaTela janela, bool ligada);
// False when the system reports changes by notification instead (nothing to poll); otherwise
// `estado` gets -1, 0 or 1.
[[nodiscard]] bool LerEstadoTelaSistema(std::int32_t& estado);

}  // namespace velorin
