// The session's interface language on Linux. The language rules are written in terms of Windows
// language identifiers, so the locale is turned into the same primary language number that
// Windows would report and those rules apply unchanged.
#include <cstdlib>
#include <string>

#include "core/texto.h"
#include "core/textos.h"

namespace velorin {

namespace {

struct TIdiomaLocale {
    std::string_view codigo;  // ISO 639-1, as the locale names it
    std::uint16_t windows;    // primary language number
};

// Enough languages that the number is right for any common desktop, not only for the three the
// interface speaks; Serbian, Croatian and Bosnian share one number on Windows, as do the three
// Norwegian codes.
constexpr TIdiomaLocale IDIOMAS[] = {
    {"af", 0x36},
    {"ar", 0x01},
    {"az", 0x2C},
    {"be", 0x23},
    {"bg", 0x02},
    {"bn", 0x45},
    {"bs", 0x1A},
    {"ca", 0x03},
    {"cs", 0x05},
    {"cy", 0x52},
    {"da", 0x06},
    {"de", 0x07},
    {"el", 0x08},
    {"en", IDIOMA_WINDOWS_INGLES},
    {"es", IDIOMA_WINDOWS_ESPANHOL},
    {"et", 0x25},
    {"eu", 0x2D},
    {"fa", 0x29},
    {"fi", 0x0B},
    {"fr", 0x0C},
    {"ga", 0x3C},
    {"gl", 0x56},
    {"he", 0x0D},
    {"hi", 0x39},
    {"hr", 0x1A},
    {"hu", 0x0E},
    {"hy", 0x2B},
    {"id", 0x21},
    {"is", 0x0F},
    {"it", 0x10},
    {"ja", 0x11},
    {"ka", 0x37},
    {"kk", 0x3F},
    {"ko", 0x12},
    {"lt", 0x27},
    {"lv", 0x26},
    {"mk", 0x2F},
    {"ms", 0x3E},
    {"nb", 0x14},
    {"nl", 0x13},
    {"nn", 0x14},
    {"no", 0x14},
    {"pl", 0x15},
    {"pt", IDIOMA_WINDOWS_PORTUGUES},
    {"ro", 0x18},
    {"ru", 0x19},
    {"sk", 0x1B},
    {"sl", 0x24},
    {"sq", 0x1C},
    {"sr", 0x1A},
    {"sv", 0x1D},
    {"sw", 0x41},
    {"ta", 0x49},
    {"th", 0x1E},
    {"tr", 0x1F},
    {"uk", 0x22},
    {"ur", 0x20},
    {"vi", 0x2A},
    {"zh", 0x04},
};

}  // namespace

std::uint16_t IdiomaWindowsDoLocale(std::string_view locale) {
    std::string idioma = MinusculasAscii(Aparar(locale));
    idioma = idioma.substr(0, idioma.find_first_of("_-.@"));
    // "C" and "POSIX" are what a session without a language runs in; its programs speak English.
    if (idioma.empty() || idioma == "c" || idioma == "posix") return IDIOMA_WINDOWS_INGLES;
    for (const TIdiomaLocale& i : IDIOMAS) {
        if (i.codigo == idioma) return i.windows;
    }
    return IDIOMA_WINDOWS_NEUTRO;
}

std::uint16_t IdiomaInterfaceUsuario() {
    // The order in which the C library picks the locale for messages: LC_ALL overrides
    // everything, LANG is the fallback.
    for (const char* variavel : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* valor = std::getenv(variavel);
        if (valor != nullptr && *valor != '\0') return IdiomaWindowsDoLocale(valor);
    }
    return IdiomaWindowsDoLocale("");
}

}  // namespace velorin
