// Puts a finished temporary file in place of a data file in one atomic step, retrying for a
// short while when another program holds the target.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velorin {

inline constexpr std::int32_t MAXIMO_TENTATIVAS_SUBSTITUIR = 6;

// Moves `origem` onto `destino`, replacing it, with the data on disk before and the new name
// on disk after. Retries only while the error says "in use"; sleeps 25, 50, 100, 200 and
// 400 ms between attempts (at most 6). Logs a line when it took more than one attempt.
// errno is left at the final error (0 on success).
[[nodiscard]] bool SubstituirArquivo(const std::string& origem, const std::string& destino);
// The same, reporting the attempts made and the final error code (errno; 0 on success).
[[nodiscard]] bool SubstituirArquivoDetalhado(const std::string& origem, const std::string& destino,
                                              std::int32_t& tentativas, std::int32_t& erro);

// Test seams. The move returns 0 or an errno value; the wait receives milliseconds. An empty
// function restores the real one. A replace already running keeps the ones it started with.
using TMoverArquivo = std::function<int(const char* origem, const char* destino)>;
using TEsperarMs = std::function<void(std::int32_t ms)>;
void DefinirMoverParaTeste(TMoverArquivo mover);
void DefinirEsperaParaTeste(TEsperarMs esperar);

}  // namespace velorin
