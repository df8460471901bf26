#include "core/texto.h"

#include <charconv>
#include <cstdio>
#include <clocale>
#include <cwctype>
#include <locale.h>

namespace velorin {

namespace {

constexpr char32_t SUBSTITUTO = 0xFFFD;

// Decodes one code point at `i`, advancing `i`; invalid input yields U+FFFD and consumes the
// longest invalid prefix of at most the sequence length (at least one byte).
char32_t DecodificarUtf8(std::string_view t, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(t[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    std::size_t n;
    char32_t cp;
    char32_t minimo;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
        cp = b0 & 0x1Fu;
        minimo = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        cp = b0 & 0x0Fu;
        minimo = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        cp = b0 & 0x07u;
        minimo = 0x10000;
    } else {
        ++i;
        return SUBSTITUTO;
    }
    std::size_t j = 1;
    for (; j < n; ++j) {
        if (i + j >= t.size()) break;
        const auto b = static_cast<unsigned char>(t[i + j]);
        if ((b & 0xC0) != 0x80) break;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (j < n) {
        i += j;
        return SUBSTITUTO;
    }
    i += n;
    if (cp < minimo || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return SUBSTITUTO;
    return cp;
}

void AcrescentarUtf8(std::string& s, char32_t cp) {
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (cp >> 18));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AcrescentarUtf16(std::u16string& s, char32_t cp) {
    if (cp < 0x10000) {
        s += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        s += static_cast<char16_t>(0xD800 + (cp >> 10));
        s += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

// A locale object of its own, so lower-casing never depends on (or changes) the process
// locale that the rest of the program runs with.
locale_t LocaleUtf8() {
    static const locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
        return l;
    }();
    return loc;
}

}  // namespace

std::u16string Utf8ParaUtf16(std::string_view texto) {
    std::u16string r;
    r.reserve(texto.size());
    for (std::size_t i = 0; i < texto.size();) AcrescentarUtf16(r, DecodificarUtf8(texto, i));
    return r;
}

std::string Utf16ParaUtf8(std::u16string_view texto) {
    std::string r;
    r.reserve(texto.size());
    for (std::size_t i = 0; i < texto.size(); ++i) {
        char32_t c = texto[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < texto.size() && texto[i + 1] >= 0xDC00 &&
            texto[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (texto[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = SUBSTITUTO;
        }
        AcrescentarUtf8(r, c);
    }
    return r;
}

std::size_t ContarUnidadesUtf16(std::string_view texto) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < texto.size();) n += DecodificarUtf8(texto, i) >= 0x10000 ? 2 : 1;
    return n;
}

std::size_t ContarCodepoints(std::string_view texto) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < texto.size(); ++n) DecodificarUtf8(texto, i);
    return n;
}

std::string Aparar(std::string_view texto) {
    std::size_t a = 0;
    std::size_t b = texto.size();
    while (a < b && static_cast<unsigned char>(texto[a]) <= 32) ++a;
    while (b > a && static_cast<unsigned char>(texto[b - 1]) <= 32) --b;
    return std::string(texto.substr(a, b - a));
}

std::string MinusculasAscii(std::string_view texto) {
    std::string r(texto);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string MinusculasUnicode(std::string_view texto) {
    const locale_t loc = LocaleUtf8();
    std::string r;
    r.reserve(texto.size());
    for (std::size_t i = 0; i < texto.size();) {
        char32_t cp = DecodificarUtf8(texto, i);
        if (loc) {
            cp = static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), loc));
        } else if (cp >= 'A' && cp <= 'Z') {
            cp += 32;
        }
        AcrescentarUtf8(r, cp);
    }
    return r;
}

std::string TextoParaLog(std::string_view texto, std::size_t maximo) {
    std::string r;
    r.reserve(texto.size() < maximo ? texto.size() : maximo + 3);
    std::size_t unidades = 0;
    for (std::size_t i = 0; i < texto.size();) {
        char32_t cp = DecodificarUtf8(texto, i);
        const std::size_t largura = cp >= 0x10000 ? 2 : 1;
        if (unidades + largura > maximo) {
            r += "...";
            return r;
        }
        unidades += largura;
        AcrescentarUtf8(r, cp < 32 ? U'?' : cp);
    }
    return r;
}

std::string FormatarV(const char* formato, std::va_list args) {
    char pequeno[512];
    std::va_list copia;
    va_copy(copia, args);
    const int n = std::vsnprintf(pequeno, sizeof pequeno, formato, args);
    if (n < 0) {
        va_end(copia);
        return {};
    }
    if (static_cast<std::size_t>(n) < sizeof pequeno) {
        va_end(copia);
        return std::string(pequeno, static_cast<std::size_t>(n));
    }
    std::string grande(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(grande.data(), grande.size(), formato, copia);
    va_end(copia);
    grande.resize(static_cast<std::size_t>(n));
    return grande;
}

std::string Formatar(const char* formato, ...) {
    std::va_list args;
    va_start(args, formato);
    std::string r = FormatarV(formato, args);
    va_end(args);
    return r;
}

bool LerInteiro(std::string_view texto, long long& valor) {
    if (texto.empty()) return false;
    if (texto[0] == '+') texto.remove_prefix(1);
    if (texto.empty() || texto[0] == '+') return false;
    const auto [p, ec] = std::from_chars(texto.data(), texto.data() + texto.size(), valor);
    return ec == std::errc() && p == texto.data() + texto.size();
}

}  // namespace velorin
