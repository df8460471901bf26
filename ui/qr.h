// The QR symbol of a pairing link, shared by every front end.
#pragma once

#include <string>
#include <vector>

namespace velorin {

// Modules of the symbol (true = dark), error correction M, versions 1-40, automatic mask, no
// correction boost. Empty when the text does not fit.
std::vector<std::vector<bool>> MatrizQr(const std::string& texto);

// The symbol drawn with Unicode half blocks, two module rows per text line, with a quiet zone
// of `margem` modules. With `ansi`, colours are forced (dark on light) so the symbol scans on
// any terminal theme; without, dark modules are drawn as blocks.
std::string QrEmTexto(const std::vector<std::vector<bool>>& matriz, int margem, bool ansi);

}  // namespace velorin
