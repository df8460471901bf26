// The kinds of power action, shared by the schedule that holds them and the actions that run
// them.
#pragma once

#include <cstdint>
#include <string>

namespace velorin {

inline constexpr std::int32_t ACAO_NENHUMA = 0;
inline constexpr std::int32_t ACAO_DESLIGAR = 1;
inline constexpr std::int32_t ACAO_REINICIAR = 2;
inline constexpr std::int32_t ACAO_SUSPENDER = 3;

// "desligar", "reiniciar", "suspender" for 1, 2, 3; empty for anything else.
std::string NomeAcao(std::int32_t acao);

}  // namespace velorin
