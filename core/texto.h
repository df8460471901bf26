// Text helpers shared by every module. Texts are UTF-8 std::string throughout the program;
// counts and cuts that the protocol defines in UTF-16 units go through these helpers.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace velorin {

// UTF-8 -> UTF-16. Invalid or truncated sequences, overlong forms and encoded surrogates each
// become U+FFFD, so hostile bytes never survive into a converted text.
std::u16string Utf8ParaUtf16(std::string_view texto);

// UTF-16 -> UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Utf16ParaUtf8(std::u16string_view texto);

// Length of the text in UTF-16 units (what a "character" counts as in our limits).
std::size_t ContarUnidadesUtf16(std::string_view texto);

// Number of Unicode code points (an invalid byte counts as one).
std::size_t ContarCodepoints(std::string_view texto);

// Removes leading and trailing bytes with codes 0-32.
std::string Aparar(std::string_view texto);

// Lower-cases ASCII letters only; every other byte is kept.
std::string MinusculasAscii(std::string_view texto);

// Lower-cases every letter Unicode knows a simple lower case for (É -> é, Ä -> ä, Σ -> σ).
// Invalid UTF-8 is replaced by U+FFFD first.
std::string MinusculasUnicode(std::string_view texto);

// Prepares an outside value for a log line: codes below 32 become "?", invalid UTF-8 becomes
// U+FFFD, and a text longer than `maximo` UTF-16 units is cut there (never inside a surrogate
// pair) with "..." appended.
std::string TextoParaLog(std::string_view texto, std::size_t maximo);

// printf-style formatting (%s, %d, ...) into a string.
std::string Formatar(const char* formato, ...) __attribute__((format(printf, 1, 2)));
std::string FormatarV(const char* formato, std::va_list args);

// Decimal text to int; false when empty, not all digits (an optional leading '-' or '+'
// allowed) or out of range. No blanks are skipped.
bool LerInteiro(std::string_view texto, long long& valor);

}  // namespace velorin
