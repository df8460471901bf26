// Random values, tokens, hashes, constant-time comparison, protection of stored secrets and the
// per-client failure limiter.
#pragma once

#include <cstdint>
#include <cstdio>
#include <istream>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace velorin {

using TBytes = std::vector<std::uint8_t>;

// Cryptographic random bytes; raises std::runtime_error("BCryptGenRandom falhou") on failure.
TBytes BytesAleatorios(std::int32_t n);
// Uniform in 0..n-1 without modulo bias; 0 for n < 2.
std::uint32_t AleatorioAbaixo(std::uint32_t n);
// Six decimal digits, leading zeros kept.
std::string CodigoSeisDigitos();
// 43-character base64url text of 32 random bytes.
std::string NovoToken();
// True iff exactly 43 characters of the base64url alphabet.
[[nodiscard]] bool TokenValido(std::string_view texto);
// 8 lower-case hexadecimal digits of 4 random bytes.
std::string IdAleatorio();
// Base64url (RFC 4648 section 5) without padding.
std::string Base64Url(const TBytes& bytes);
std::string Base64Url(std::string_view bytes);
// Standard base64 with padding, and its lenient decoder (characters outside the alphabet
// skipped, missing padding tolerated).
std::string Base64(const TBytes& bytes);
TBytes Base64Leniente(std::string_view texto);

TBytes Sha256Bytes(std::string_view texto);
std::string Sha256Hex(std::string_view texto);
// Digest of everything from the stream's position to its end, read in 64 KiB blocks.
std::string Sha256Arquivo(std::istream& fluxo);
std::string Sha256Arquivo(std::FILE* arquivo);

[[nodiscard]] bool IguaisTempoConstante(std::string_view a, std::string_view b);

// Protects a secret for this user on this machine (base64 text); empty on failure or empty input.
std::string ProtegerTexto(std::string_view texto);
// Opens what ProtegerTexto produced; false and empty output on any failure.
[[nodiscard]] bool DesprotegerTexto(std::string_view protegido, std::string& texto);

// Overwrites a secret's bytes before the memory is released.
void ApagarSegredo(std::string& segredo);

// Where the per-user protection key file lives (a folder kept at 0700); empty restores the
// default, $XDG_DATA_HOME/velorin/ (~/.local/share/velorin/). Tests point it at a temporary
// folder so they never touch the real home.
void DefinirPastaChaveProtecao(const std::string& pasta);
// false keeps the desktop keyring out of ProtegerTexto/DesprotegerTexto (only the key file is
// used); true (the default) uses it when the session offers one. Either call forgets the keyring
// key and any earlier keyring failure.
void DefinirUsoChaveiro(bool usar);

// Test seam: replaces the system's random generator (nullptr restores it). The source fills
// `n` bytes and returns false to simulate a generator failure.
using TFonteAleatoria = bool (*)(std::uint8_t* destino, std::size_t n);
void DefinirFonteAleatoriaTeste(TFonteAleatoria fonte);

struct TEntrada {
    std::string Chave;
    std::int32_t Tentativas = 0;
    std::uint64_t InicioJanela = 0;
    std::uint64_t BloqueadoAte = 0;
};

// Counts failures per key (a client address) and blocks a key that fails too often.
class TLimitador {
public:
    static constexpr std::size_t MAXIMO_ENTRADAS = 512;

    TLimitador(std::int32_t limite, std::int32_t janela_segundos, std::int32_t bloqueio_segundos);

    [[nodiscard]] bool Bloqueado(const std::string& chave, std::int32_t& segundos) const;
    void RegistrarFalha(const std::string& chave);
    std::size_t ContarEntradas() const;

private:
    mutable std::mutex trava_;
    std::vector<TEntrada> Entradas;
    std::int32_t Limite;
    std::uint64_t Janela;
    std::uint64_t Bloqueio;
};

}  // namespace velorin
