#include "core/instancia.h"

#include <cstdio>

#include "core/parametros.h"
#include "core/texto.h"

namespace velorin {

std::uint32_t HashFnv1a(const std::string& texto) {
    std::uint32_t h = 0x811C9DC5u;
    for (const char c : texto) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    return h;
}

std::string NomeObjetoInstancia(const std::string& sufixo) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", HashFnv1a(MinusculasUnicode(Parametros.Dados)));
    return "Local\\Velorin." + sufixo + "." + hex;
}

}  // namespace velorin
