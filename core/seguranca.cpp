#include "core/seguranca.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <atomic>
#include <climits>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "core/relogio.h"

namespace velorin {

namespace {

constexpr char ALFABETO_URL[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr char ALFABETO_PADRAO[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char HEX[] = "0123456789abcdef";

constexpr std::size_t TAMANHO_TOKEN = 43;
constexpr std::size_t TAMANHO_SHA256 = 32;
// Streams are hashed in blocks of this size so a large file never sits in memory whole.
constexpr std::size_t BLOCO_ARQUIVO = 65536;

std::atomic<TFonteAleatoria> fonte_teste{nullptr};

bool SortearBytes(std::uint8_t* destino, std::size_t n) {
    if (const TFonteAleatoria fonte = fonte_teste.load(std::memory_order_acquire)) {
        return fonte(destino, n);
    }
    return n <= static_cast<std::size_t>(INT_MAX) && RAND_bytes(destino, static_cast<int>(n)) == 1;
}

std::string Base64Com(const std::uint8_t* p, std::size_t n, const char* alfabeto, bool preencher) {
    std::string saida;
    saida.reserve((n + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t v =
            (std::uint32_t{p[i]} << 16) | (std::uint32_t{p[i + 1]} << 8) | p[i + 2];
        saida += alfabeto[v >> 18];
        saida += alfabeto[(v >> 12) & 63];
        saida += alfabeto[(v >> 6) & 63];
        saida += alfabeto[v & 63];
    }
    if (n - i == 1) {
        saida += alfabeto[p[i] >> 2];
        saida += alfabeto[(p[i] & 3) << 4];
        if (preencher) saida += "==";
    } else if (n - i == 2) {
        const std::uint32_t v = (std::uint32_t{p[i]} << 16) | (std::uint32_t{p[i + 1]} << 8);
        saida += alfabeto[v >> 18];
        saida += alfabeto[(v >> 12) & 63];
        saida += alfabeto[(v >> 6) & 63];
        if (preencher) saida += '=';
    }
    return saida;
}

int ValorBase64(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string Hex(const std::uint8_t* p, std::size_t n) {
    std::string saida;
    saida.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        saida += HEX[p[i] >> 4];
        saida += HEX[p[i] & 15];
    }
    return saida;
}

struct TLiberaMd {
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct TLiberaMdCtx {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using TMd = std::unique_ptr<EVP_MD, TLiberaMd>;
using TMdCtx = std::unique_ptr<EVP_MD_CTX, TLiberaMdCtx>;

TMd AbrirSha256() {
    TMd md(EVP_MD_fetch(nullptr, "SHA256", nullptr));
    if (!md) throw std::runtime_error("BCryptOpenAlgorithmProvider(SHA256) falhou");
    return md;
}

// Incremental digest shared by both stream overloads.
class THashIncremental {
  public:
    THashIncremental() : md_(AbrirSha256()), ctx_(EVP_MD_CTX_new()) {
        if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), md_.get(), nullptr) != 1) {
            throw std::runtime_error("BCryptCreateHash falhou");
        }
    }
    void Adicionar(const void* p, std::size_t n) {
        if (EVP_DigestUpdate(ctx_.get(), p, n) != 1)
            throw std::runtime_error("BCryptHashData falhou");
    }
    std::string FinalizarHex() {
        std::array<std::uint8_t, EVP_MAX_MD_SIZE> d{};
        unsigned int n = 0;
        if (EVP_DigestFinal_ex(ctx_.get(), d.data(), &n) != 1 || n != TAMANHO_SHA256) {
            throw std::runtime_error("BCryptFinishHash falhou");
        }
        return Hex(d.data(), n);
    }

  private:
    TMd md_;
    TMdCtx ctx_;
};

[[noreturn]] void FalhaLeitura() {
    throw std::runtime_error("Falha ao ler arquivo para SHA256");
}

}  // namespace

void DefinirFonteAleatoriaTeste(TFonteAleatoria fonte) {
    fonte_teste.store(fonte, std::memory_order_release);
}

TBytes BytesAleatorios(std::int32_t n) {
    if (n <= 0) return {};
    TBytes saida(static_cast<std::size_t>(n));
    if (!SortearBytes(saida.data(), saida.size()))
        throw std::runtime_error("BCryptGenRandom falhou");
    return saida;
}

std::uint32_t AleatorioAbaixo(std::uint32_t n) {
    if (n < 2) return 0;
    // Largest multiple of n not above 2^32-1: values at or above it would favour the low
    // residues, so they are drawn again.
    const std::uint32_t limite = 0xFFFFFFFFu - (0xFFFFFFFFu % n);
    for (;;) {
        const TBytes b = BytesAleatorios(4);
        const std::uint32_t x = std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) |
                                (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[3]} << 24);
        if (x < limite) return x % n;
    }
}

std::string CodigoSeisDigitos() {
    char texto[16];
    std::snprintf(texto, sizeof texto, "%.6u", static_cast<unsigned>(AleatorioAbaixo(1000000)));
    return texto;
}

std::string NovoToken() {
    return Base64Url(BytesAleatorios(32));
}

bool TokenValido(std::string_view texto) {
    if (texto.size() != TAMANHO_TOKEN) return false;
    for (const char c : texto) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

std::string IdAleatorio() {
    const TBytes b = BytesAleatorios(4);
    return Hex(b.data(), b.size());
}

std::string Base64Url(const TBytes& bytes) {
    return Base64Com(bytes.data(), bytes.size(), ALFABETO_URL, false);
}

std::string Base64Url(std::string_view bytes) {
    return Base64Com(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                     ALFABETO_URL, false);
}

std::string Base64(const TBytes& bytes) {
    return Base64Com(bytes.data(), bytes.size(), ALFABETO_PADRAO, true);
}

TBytes Base64Leniente(std::string_view texto) {
    // Line breaks, blanks and other stray characters are skipped; the first "=" ends the data,
    // and a missing padding simply leaves the last group short.
    TBytes saida;
    saida.reserve(texto.size() / 4 * 3 + 3);
    std::uint32_t acumulado = 0;
    int bits = 0;
    for (const char c : texto) {
        if (c == '=') break;
        const int v = ValorBase64(c);
        if (v < 0) continue;
        acumulado = ((acumulado << 6) | static_cast<std::uint32_t>(v)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            saida.push_back(static_cast<std::uint8_t>(acumulado >> bits));
        }
    }
    return saida;
}

TBytes Sha256Bytes(std::string_view texto) {
    const TMd md = AbrirSha256();
    TBytes d(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    if (EVP_Digest(texto.data(), texto.size(), d.data(), &n, md.get(), nullptr) != 1 ||
        n != TAMANHO_SHA256) {
        throw std::runtime_error("BCryptHash falhou");
    }
    d.resize(n);
    return d;
}

std::string Sha256Hex(std::string_view texto) {
    const TBytes d = Sha256Bytes(texto);
    return Hex(d.data(), d.size());
}

std::string Sha256Arquivo(std::istream& fluxo) {
    THashIncremental hash;
    // A stream that is already failed (a file that did not open, say) must not pass for an
    // empty file: its digest would look valid.
    if (fluxo.fail()) FalhaLeitura();
    std::unique_ptr<char[]> bloco(new char[BLOCO_ARQUIVO]);
    for (;;) {
        try {
            fluxo.read(bloco.get(), static_cast<std::streamsize>(BLOCO_ARQUIVO));
        } catch (const std::ios_base::failure&) {
            // Only reached when the caller enabled stream exceptions; the state bits below
            // tell an end of file from a read error.
        }
        if (fluxo.bad()) FalhaLeitura();
        const std::streamsize lidos = fluxo.gcount();
        if (lidos < 0) FalhaLeitura();
        if (lidos == 0) break;
        hash.Adicionar(bloco.get(), static_cast<std::size_t>(lidos));
        if (fluxo.eof()) break;
    }
    return hash.FinalizarHex();
}

std::string Sha256Arquivo(std::FILE* arquivo) {
    THashIncremental hash;
    if (arquivo == nullptr) FalhaLeitura();
    std::unique_ptr<std::uint8_t[]> bloco(new std::uint8_t[BLOCO_ARQUIVO]);
    for (;;) {
        const std::size_t lidos = std::fread(bloco.get(), 1, BLOCO_ARQUIVO, arquivo);
        // A read error part-way would otherwise yield the digest of a truncated file.
        if (std::ferror(arquivo)) FalhaLeitura();
        if (lidos == 0) break;
        hash.Adicionar(bloco.get(), lidos);
    }
    return hash.FinalizarHex();
}

bool IguaisTempoConstante(std::string_view a, std::string_view b) {
    // Lengths are not secret; the contents are compared without stopping at the first
    // difference, so the time spent tells nothing about where they differ.
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;
    return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

void ApagarSegredo(std::string& segredo) {
    // Growing to the capacity (no reallocation) makes the whole buffer ours to wipe, including
    // bytes left over from a longer value that the string once held.
    segredo.resize(segredo.capacity());
    OPENSSL_cleanse(segredo.data(), segredo.size());
    segredo.clear();
}

TLimitador::TLimitador(std::int32_t limite, std::int32_t janela_segundos,
                       std::int32_t bloqueio_segundos)
    : Limite(limite),
      Janela(janela_segundos > 0 ? static_cast<std::uint64_t>(janela_segundos) * 1000u : 0),
      Bloqueio(bloqueio_segundos > 0 ? static_cast<std::uint64_t>(bloqueio_segundos) * 1000u : 0) {}

bool TLimitador::Bloqueado(const std::string& chave, std::int32_t& segundos) const {
    const std::uint64_t t = AgoraMs();
    std::lock_guard<std::mutex> trava(trava_);
    segundos = 0;
    for (const TEntrada& e : Entradas) {
        if (e.Chave != chave) continue;
        if (t >= e.BloqueadoAte) return false;
        const std::uint64_t restante = (e.BloqueadoAte - t + 999) / 1000;
        segundos = restante > static_cast<std::uint64_t>(INT32_MAX)
                       ? INT32_MAX
                       : static_cast<std::int32_t>(restante);
        return true;
    }
    return false;
}

void TLimitador::RegistrarFalha(const std::string& chave) {
    const std::uint64_t t = AgoraMs();
    std::lock_guard<std::mutex> trava(trava_);
    TEntrada* entrada = nullptr;
    for (TEntrada& e : Entradas) {
        if (e.Chave == chave) {
            entrada = &e;
            break;
        }
    }
    if (entrada == nullptr) {
        if (Entradas.size() >= MAXIMO_ENTRADAS) {
            std::erase_if(Entradas, [&](const TEntrada& e) {
                return !(t < e.BloqueadoAte || t - e.InicioJanela < Janela);
            });
        }
        // Still full: the table stays bounded however many addresses a flood brings.
        if (Entradas.size() >= MAXIMO_ENTRADAS) return;
        Entradas.push_back(TEntrada{chave, 0, t, 0});
        entrada = &Entradas.back();
    }
    if (t - entrada->InicioJanela >= Janela) {
        entrada->Tentativas = 0;
        entrada->InicioJanela = t;
    }
    ++entrada->Tentativas;
    if (entrada->Tentativas >= Limite) {
        entrada->BloqueadoAte = t + Bloqueio;
        entrada->Tentativas = 0;
        entrada->InicioJanela = t;
    }
}

std::size_t TLimitador::ContarEntradas() const {
    std::lock_guard<std::mutex> trava(trava_);
    return Entradas.size();
}

}  // namespace velorin
