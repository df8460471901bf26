// One running copy per data folder, and the two signals another copy can send it.
#pragma once

#include <cstdint>
#include <string>

namespace velorin {

// FNV-1a (32 bits) of the UTF-8 bytes of the text.
std::uint32_t HashFnv1a(const std::string& texto);

// Name shared by every copy that uses the same data folder (in any letter case):
// "Local\Velorin." + sufixo + "." + 8 upper-case hex digits of the hash of the lower-cased
// Parametros.Dados. The OS backend derives its lock file and socket names from it.
std::string NomeObjetoInstancia(const std::string& sufixo);

// True when this process is the one copy for its data folder (it then receives signals).
[[nodiscard]] bool AdquirirInstancia();
// Ask the copy that runs on this data folder to show its pairing window / to quit. Nothing
// happens when no copy runs.
void SinalizarMostrar();
void SinalizarSair();
// Whether the signal arrived since the last query; each signal is reported once.
[[nodiscard]] bool PedidoMostrar();
[[nodiscard]] bool PedidoSair();
// Gives the instance up (end of the main loop, also after an exception).
void LiberarInstancia();

}  // namespace velorin
