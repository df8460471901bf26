// A small INI reader and writer of our own. General INI libraries cut a value at " ;" (an
// inline comment) or trim blanks a device name may need, so this one keeps values whole:
//
// Reading
// - A UTF-8 byte order mark at the start is skipped; lines end in LF or CR LF.
// - "[name]" (after trimming codes 0-32) opens a section; the name runs to the last "]" of the
//   line and is trimmed. Lines before the first section belong to no section and are ignored.
// - "key=value" splits at the first "="; the key is trimmed, and a line without "=" or with an
//   empty key is ignored, as are comment lines starting with ";" or "#". Nothing after the
//   first "=" is a comment: "a ; b" is a value.
// - The value is trimmed (codes 0-32); if it then starts and ends with a double quote, that one
//   pair is removed, which is how the writer keeps blanks at the edges of a value.
// - Section names and keys compare exactly (case-sensitive), as the file is our own.
// - A section that appears again is merged into its first occurrence (it keeps that place in
//   the order); a key that appears again in one section is ignored: the first one wins, as in
//   the classic INI readers, so a hand-edited duplicate further down changes nothing.
//
// Writing
// - Sections in insertion order, keys in insertion order, LF line ends, a blank line between
//   sections. A value with a byte of code 0-32 at either edge, or one that starts and ends with
//   a double quote, is written inside double quotes, so the reader returns it unchanged.
// - CR and LF cannot live inside one line: in section names, keys and values they are written
//   as blanks, so a value can never smuggle a section or a key of its own into the file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velorin {

class TIni {
  public:
    struct TSecao {
        std::string Nome;
        std::vector<std::pair<std::string, std::string>> Chaves;
    };

    // Parses `texto` (any bytes: junk lines are skipped, nothing fails).
    static TIni Ler(std::string_view texto);

    // The document as INI text (see the writing rules above).
    [[nodiscard]] std::string Texto() const;

    // Value of `chave` in `secao`; false when the section or the key is missing.
    [[nodiscard]] bool Valor(std::string_view secao, std::string_view chave,
                             std::string& valor) const;
    // Value of `chave` in `secao`, or `padrao` when missing.
    [[nodiscard]] std::string Texto(std::string_view secao, std::string_view chave,
                                    std::string_view padrao = {}) const;

    // Sets `chave` in `secao` (created at the end when new); an existing key keeps its place.
    void Escrever(std::string_view secao, std::string_view chave, std::string_view valor);

    // Value of `chave` in one section; false when missing.
    [[nodiscard]] static bool Valor(const TSecao& secao, std::string_view chave,
                                    std::string& valor);

    // Sections in file order (duplicates already merged).
    [[nodiscard]] const std::vector<TSecao>& Secoes() const { return secoes_; }

  private:
    TSecao* Achar(std::string_view secao);
    const TSecao* Achar(std::string_view secao) const;

    std::vector<TSecao> secoes_;
};

}  // namespace velorin
