// Power actions on the PC: shut down, restart, sleep and lock the session.
//
// Shutdown, restart and sleep only ever run when a schedule falls due (main thread); locking
// runs at once on the thread that asked. In simulation mode nothing touches the PC: each
// action writes a "SIMULADO: " line and reports success.
#pragma once

#include <cstdint>
#include <string>

#include "core/acao_energia.h"

namespace velorin {

// Performs a shutdown, restart or sleep; true on success. Failures are logged, never raised.
[[nodiscard]] bool ExecutarAcaoEnergia(std::int32_t acao, bool forcar);
// Locks the session; true on success (the API answers alike either way).
bool BloquearSessao();
// Whether the PC can sleep (suspend to RAM) without asking anyone.
[[nodiscard]] bool PodeSuspender();
// Makes sure this process may shut the system down. Windows enables the shutdown privilege of
// the process token; Linux has nothing to enable (logind's policy decides per call).
[[nodiscard]] bool HabilitarPrivilegioDesligar();

// ---- Windows shutdown request (pure; used by the Windows backend) ----

inline constexpr std::uint32_t SAIDA_REINICIAR = 0x2;                 // EWX_REBOOT
inline constexpr std::uint32_t SAIDA_FORCAR = 0x4;                    // EWX_FORCE
inline constexpr std::uint32_t SAIDA_DESLIGAR = 0x8;                  // EWX_POWEROFF
inline constexpr std::uint32_t SAIDA_FORCAR_SE_TRAVADO = 0x10;        // EWX_FORCEIFHUNG
inline constexpr std::uint32_t MOTIVO_SAIDA_PLANEJADA = 0x80000000u;  // SHTDN_REASON_FLAG_PLANNED

// ExitWindowsEx flags for a shutdown (1) or restart (2): power off or reboot, with force when
// `forcar`, else force-if-hung. 0 for any other kind.
[[nodiscard]] std::uint32_t FlagsSaidaWindows(std::int32_t acao, bool forcar);

// ---- backend seam: one implementation per OS (energia_<os>.cpp) ----

// Shutdown (1) or restart (2). On failure `erro` gets the system's error code.
[[nodiscard]] bool DesligarSistema(std::int32_t acao, bool forcar, int& erro);
[[nodiscard]] bool SuspenderSistema(int& erro);
[[nodiscard]] bool BloquearSessaoSistema();
[[nodiscard]] bool PodeSuspenderSistema();
[[nodiscard]] bool HabilitarPrivilegioDesligarSistema();

}  // namespace velorin
