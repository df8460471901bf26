// Protection of stored secrets (the cloud token in config.ini) for this user on this machine.
//
// A blob is AES-256-GCM under a key derived from a random 32-byte per-user master key and this
// machine's application-specific id, so a copied config.ini opens neither on another machine nor
// for another user. The master key lives in the desktop keyring (Secret Service) when the session
// has one that answers quickly, else in a 0600 file inside a 0700 folder of the user's data
// directory, outside the program's data folder so a copied data folder carries no key.
//
// Blob layout (then standard base64 with padding):
//   version (1) | key store (1) | nonce (12) | ciphertext | tag (16)
// The version, the store byte, the fixed entropy text and the uid are authenticated as
// additional data, so changing any of them makes the blob fail to open.

#include <fcntl.h>
#include <libsecret/secret.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <pwd.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-id128.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/log.h"
#include "core/recursos.h"
#include "core/relogio.h"
#include "core/seguranca.h"

namespace velorin {

namespace {

constexpr char ENTROPIA[] = "Kestrel.fog.q9x2";
constexpr std::uint8_t VERSAO_BLOB = 1;
constexpr std::uint8_t ARMAZEM_CHAVEIRO = 1;
constexpr std::uint8_t ARMAZEM_ARQUIVO = 2;
constexpr std::size_t TAMANHO_CHAVE = 32;
constexpr std::size_t TAMANHO_NONCE = 12;
constexpr std::size_t TAMANHO_TAG = 16;
constexpr std::size_t TAMANHO_CABECALHO = 2;
constexpr char NOME_ARQUIVO_CHAVE[] = "chave";
constexpr char INFO_DERIVACAO[] = "velorin protecao de segredos v1";

// Our application id for sd_id128_get_machine_app_specific(): the raw machine id never enters the
// key, only an HMAC of it under this id.
constexpr sd_id128_t ID_APLICACAO =
    SD_ID128_MAKE(0f, 32, 8e, 6b, 4c, be, 49, 2a, 83, be, 72, ac, 8b, f9, 4d, c8);

// Protection runs during start-up and from the main thread, so the keyring gets little time: the
// name check its own short limit, lookup and store together one second, then the key file is used.
constexpr auto PRAZO_NOME_CHAVEIRO = std::chrono::milliseconds(300);
constexpr auto PRAZO_CHAVEIRO = std::chrono::milliseconds(1000);
// After the keyring failed to answer, new secrets go to the key file for this long instead of
// paying the wait again on every save.
constexpr std::uint64_t PAUSA_CHAVEIRO_MS = 5 * 60 * 1000;

constexpr char NOME_CHAVEIRO[] = "org.freedesktop.secrets";

const SecretSchema ESQUEMA_CHAVEIRO = {
    "org.velorin.ChaveProtecao",
    SECRET_SCHEMA_NONE,
    {{"uso", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr};

// A key that wipes itself.
struct TChave {
    std::array<std::uint8_t, TAMANHO_CHAVE> b{};
    TChave() = default;
    TChave(const TChave& o) = default;
    TChave& operator=(const TChave& o) = default;
    ~TChave() { OPENSSL_cleanse(b.data(), b.size()); }
};

std::mutex trava_config;
std::string pasta_chave_definida;  // guarded by trava_config
std::atomic<bool> usar_chaveiro{true};

// Serialises key-file creation inside this process (other processes are handled by linkat).
std::mutex trava_arquivo;

std::mutex trava_chaveiro;
std::optional<TChave> chave_chaveiro;  // guarded by trava_chaveiro
std::uint64_t chaveiro_falhou_em = 0;  // guarded by trava_chaveiro
bool chaveiro_ja_falhou = false;       // guarded by trava_chaveiro

void ApagarBytes(TBytes& b) {
    b.resize(b.capacity());
    OPENSSL_cleanse(b.data(), b.size());
    b.clear();
}

// ---- key file -----------------------------------------------------------------------------

std::string PastaChavePadrao() {
    std::string base;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home != nullptr && home[0] == '/') {
            base = home;
        } else {
            passwd pw{};
            passwd* resultado = nullptr;
            std::array<char, 4096> buffer{};
            if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &resultado) != 0 ||
                resultado == nullptr || pw.pw_dir == nullptr || pw.pw_dir[0] != '/') {
                return {};
            }
            base = pw.pw_dir;
        }
        base += "/.local/share";
    }
    return base + "/velorin";
}

std::string PastaChave() {
    std::string pasta;
    {
        std::lock_guard<std::mutex> t(trava_config);
        pasta = pasta_chave_definida;
    }
    if (pasta.empty()) pasta = PastaChavePadrao();
    // A trailing "/" would make open() follow a symbolic link despite O_NOFOLLOW.
    while (pasta.size() > 1 && pasta.back() == '/') pasta.pop_back();
    return pasta;
}

// mkdir -p with 0700 for every folder we have to create.
void CriarPastas(const std::string& caminho) {
    for (std::size_t i = 1; i <= caminho.size(); ++i) {
        if (i == caminho.size() || caminho[i] == '/') {
            const std::string parte = caminho.substr(0, i);
            if (::mkdir(parte.c_str(), 0700) != 0 && errno != EEXIST) return;
        }
    }
}

// The folder that holds the key: ours, not a symbolic link, and kept at 0700.
TDescritor AbrirPastaChave(const std::string& pasta, bool criar) {
    if (pasta.empty() || pasta[0] != '/') {
        Log("ERRO: pasta da chave de protecao indefinida");
        return {};
    }
    if (criar) CriarPastas(pasta);
    TDescritor fd(::open(pasta.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        if (errno != ENOENT || criar) {
            LogFmt("ERRO ao abrir a pasta da chave de protecao %s (errno %d)",
                   TextoParaLog(pasta, 260).c_str(), errno);
        }
        return {};
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || st.st_uid != ::geteuid()) {
        LogFmt("ERRO: pasta da chave de protecao %s pertence a outro usuario",
               TextoParaLog(pasta, 260).c_str());
        return {};
    }
    if ((st.st_mode & 07777) != 0700) {
        // Others could have swapped files in it; the key file's own checks still decide whether
        // its content is trusted, so tightening the folder is enough here.
        if (::fchmod(fd.Get(), 0700) != 0) {
            LogFmt("ERRO ao restringir a pasta da chave de protecao (errno %d)", errno);
            return {};
        }
        LogFmt("AVISO: permissoes da pasta da chave de protecao corrigidas para 0700");
    }
    return fd;
}

enum class TLeituraChave { lcOk, lcAusente, lcTamanhoErrado, lcRecusada };

TLeituraChave LerArquivoChave(int pasta, TChave& chave) {
    TDescritor fd(
        ::openat(pasta, NOME_ARQUIVO_CHAVE, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) return TLeituraChave::lcAusente;
        LogFmt("ERRO: arquivo da chave de protecao recusado (errno %d)", errno);
        return TLeituraChave::lcRecusada;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        Log("ERRO: arquivo da chave de protecao recusado (nao e um arquivo comum)");
        return TLeituraChave::lcRecusada;
    }
    if (st.st_uid != ::geteuid()) {
        Log("ERRO: arquivo da chave de protecao recusado (pertence a outro usuario)");
        return TLeituraChave::lcRecusada;
    }
    if ((st.st_mode & 077) != 0) {
        // A key others could read protects nothing; it is left as found for the user to judge.
        LogFmt("ERRO: arquivo da chave de protecao recusado (permissoes %03o, esperado 600)",
               static_cast<unsigned>(st.st_mode & 0777));
        return TLeituraChave::lcRecusada;
    }
    if (st.st_size != static_cast<off_t>(TAMANHO_CHAVE)) return TLeituraChave::lcTamanhoErrado;
    std::size_t lidos = 0;
    while (lidos < TAMANHO_CHAVE) {
        const ssize_t n = ::pread(fd.Get(), chave.b.data() + lidos, TAMANHO_CHAVE - lidos,
                                  static_cast<off_t>(lidos));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return TLeituraChave::lcTamanhoErrado;
        lidos += static_cast<std::size_t>(n);
    }
    return TLeituraChave::lcOk;
}

// Writes a fresh key beside the final name and puts it in place in one step, so a reader never
// sees half a key. Without `substituir` an existing key (another copy of the program won the
// race) is kept and read instead.
bool CriarArquivoChave(int pasta, bool substituir, TChave& chave) {
    TBytes novo = BytesAleatorios(static_cast<std::int32_t>(TAMANHO_CHAVE));
    const std::string temporario = std::string(NOME_ARQUIVO_CHAVE) + ".tmp-" + IdAleatorio();
    TDescritor fd(::openat(pasta, temporario.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        ApagarBytes(novo);
        LogFmt("ERRO ao criar a chave de protecao (errno %d)", errno);
        return false;
    }
    TAoSair remover([&] { ::unlinkat(pasta, temporario.c_str(), 0); });
    const bool gravado = ::fchmod(fd.Get(), 0600) == 0 &&
                         EscreverTudo(fd.Get(), novo.data(), novo.size()) && ::fsync(fd.Get()) == 0;
    fd.Fechar();
    if (!gravado) {
        ApagarBytes(novo);
        LogFmt("ERRO ao gravar a chave de protecao (errno %d)", errno);
        return false;
    }
    if (substituir) {
        if (::renameat(pasta, temporario.c_str(), pasta, NOME_ARQUIVO_CHAVE) != 0) {
            ApagarBytes(novo);
            LogFmt("ERRO ao substituir a chave de protecao (errno %d)", errno);
            return false;
        }
        remover.Cancelar();
    } else if (::linkat(pasta, temporario.c_str(), pasta, NOME_ARQUIVO_CHAVE, 0) != 0) {
        const int erro = errno;
        ApagarBytes(novo);
        if (erro == EEXIST) return LerArquivoChave(pasta, chave) == TLeituraChave::lcOk;
        LogFmt("ERRO ao instalar a chave de protecao (errno %d)", erro);
        return false;
    }
    ::fsync(pasta);
    std::memcpy(chave.b.data(), novo.data(), TAMANHO_CHAVE);
    ApagarBytes(novo);
    return true;
}

bool ChaveArquivo(bool criar, TChave& chave) {
    std::lock_guard<std::mutex> t(trava_arquivo);
    const TDescritor pasta = AbrirPastaChave(PastaChave(), criar);
    if (!pasta) return false;
    switch (LerArquivoChave(pasta.Get(), chave)) {
        case TLeituraChave::lcOk:
            return true;
        case TLeituraChave::lcAusente:
            return criar && CriarArquivoChave(pasta.Get(), false, chave);
        case TLeituraChave::lcTamanhoErrado:
            // Our own files are written whole in one step, so this one was damaged or planted.
            // It can open nothing; when a new secret is being protected it is replaced.
            Log("ERRO: arquivo da chave de protecao com tamanho invalido");
            if (!criar) return false;
            Log("AVISO: nova chave de protecao criada no lugar da invalida");
            return CriarArquivoChave(pasta.Get(), true, chave);
        case TLeituraChave::lcRecusada:
            return false;
    }
    return false;
}

// ---- desktop keyring ----------------------------------------------------------------------

struct TLiberaBus {
    void operator()(sd_bus* b) const { sd_bus_flush_close_unref(b); }
};
struct TLiberaMensagem {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};

// Calls to an unowned name can wait for D-Bus activation or a time-out; asking the bus first
// costs one quick round trip.
bool ChaveiroPresente() {
    sd_bus* bruto = nullptr;
    if (sd_bus_open_user(&bruto) < 0) return false;
    std::unique_ptr<sd_bus, TLiberaBus> bus(bruto);
    sd_bus_set_method_call_timeout(
        bus.get(),
        static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(PRAZO_NOME_CHAVEIRO).count()));
    sd_bus_error erro = SD_BUS_ERROR_NULL;
    sd_bus_message* resposta_bruta = nullptr;
    const int r = sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "NameHasOwner", &erro, &resposta_bruta,
                                     "s", NOME_CHAVEIRO);
    sd_bus_error_free(&erro);
    if (r < 0) return false;
    std::unique_ptr<sd_bus_message, TLiberaMensagem> resposta(resposta_bruta);
    int tem_dono = 0;
    if (sd_bus_message_read(resposta.get(), "b", &tem_dono) < 0) return false;
    return tem_dono != 0;
}

// Cancels `cancelavel` when the time runs out before the owner is destroyed; the timer thread is
// always joined, so nothing outlives the call it guards.
class TPrazoCancelamento {
  public:
    TPrazoCancelamento(GCancellable* cancelavel, std::chrono::milliseconds prazo)
        : cancelavel_(cancelavel), fio_([this, prazo] {
              std::unique_lock<std::mutex> l(trava_);
              if (!cv_.wait_for(l, prazo, [this] { return fim_; }))
                  g_cancellable_cancel(cancelavel_);
          }) {}
    ~TPrazoCancelamento() {
        {
            std::lock_guard<std::mutex> l(trava_);
            fim_ = true;
        }
        cv_.notify_all();
        fio_.join();
    }
    TPrazoCancelamento(const TPrazoCancelamento&) = delete;
    TPrazoCancelamento& operator=(const TPrazoCancelamento&) = delete;

  private:
    GCancellable* cancelavel_;
    std::mutex trava_;
    std::condition_variable cv_;
    bool fim_ = false;
    std::thread fio_;  // last: starts only after the members it uses exist
};

struct TLiberaObjeto {
    void operator()(gpointer o) const { g_object_unref(o); }
};
struct TLiberaSenha {
    void operator()(gchar* s) const { secret_password_free(s); }
};

enum class TResultadoChaveiro { rcOk, rcSemChave, rcFalhou };

TResultadoChaveiro ConsultarChaveiro(bool criar, TChave& chave) {
    std::unique_ptr<GCancellable, TLiberaObjeto> cancelavel(g_cancellable_new());
    TPrazoCancelamento prazo(cancelavel.get(), PRAZO_CHAVEIRO);

    GError* erro = nullptr;
    // libsecret shares GLib's session-bus connection, which by default ends the process when the
    // bus goes away; a restarted bus must not take the program with it.
    if (GDBusConnection* sessao = g_bus_get_sync(G_BUS_TYPE_SESSION, cancelavel.get(), &erro)) {
        g_dbus_connection_set_exit_on_close(sessao, FALSE);
        g_object_unref(sessao);
    } else {
        g_clear_error(&erro);
        return TResultadoChaveiro::rcFalhou;
    }

    std::unique_ptr<gchar, TLiberaSenha> guardada(secret_password_lookup_sync(
        &ESQUEMA_CHAVEIRO, cancelavel.get(), &erro, "uso", "protecao", nullptr));
    if (erro != nullptr) {
        g_clear_error(&erro);
        return TResultadoChaveiro::rcFalhou;
    }
    if (guardada) {
        TBytes b = Base64Leniente(guardada.get());
        const bool ok = b.size() == TAMANHO_CHAVE;
        if (ok) std::memcpy(chave.b.data(), b.data(), TAMANHO_CHAVE);
        ApagarBytes(b);
        if (ok) return TResultadoChaveiro::rcOk;
        // Not ours to overwrite blindly: secrets made with the file key stay readable instead.
        Log("ERRO: chave de protecao no chaveiro invalida");
        return TResultadoChaveiro::rcFalhou;
    }
    if (!criar) return TResultadoChaveiro::rcSemChave;

    TBytes novo = BytesAleatorios(static_cast<std::int32_t>(TAMANHO_CHAVE));
    std::string texto = Base64(novo);
    const gboolean guardou = secret_password_store_sync(
        &ESQUEMA_CHAVEIRO, SECRET_COLLECTION_DEFAULT, "Velorin: chave de protecao", texto.c_str(),
        cancelavel.get(), &erro, "uso", "protecao", nullptr);
    ApagarSegredo(texto);
    if (!guardou || erro != nullptr) {
        g_clear_error(&erro);
        ApagarBytes(novo);
        return TResultadoChaveiro::rcFalhou;
    }
    std::memcpy(chave.b.data(), novo.data(), TAMANHO_CHAVE);
    ApagarBytes(novo);
    return TResultadoChaveiro::rcOk;
}

// `insistir` asks the keyring even within the pause after a failure: opening a secret that was
// made with the keyring key has no other way to succeed.
bool ChaveChaveiro(bool criar, bool insistir, TChave& chave) {
    if (!usar_chaveiro.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> t(trava_chaveiro);
    if (chave_chaveiro) {
        chave = *chave_chaveiro;
        return true;
    }
    const std::uint64_t agora = AgoraMs();
    if (!insistir && chaveiro_ja_falhou && agora - chaveiro_falhou_em < PAUSA_CHAVEIRO_MS)
        return false;
    if (!ChaveiroPresente()) return false;
    switch (ConsultarChaveiro(criar, chave)) {
        case TResultadoChaveiro::rcOk:
            chave_chaveiro = chave;
            chaveiro_ja_falhou = false;
            return true;
        case TResultadoChaveiro::rcSemChave:
            return false;
        case TResultadoChaveiro::rcFalhou:
            Log("AVISO: chaveiro da sessao nao respondeu; usando o arquivo da chave de protecao");
            chaveiro_ja_falhou = true;
            chaveiro_falhou_em = agora;
            return false;
    }
    return false;
}

// ---- cipher -------------------------------------------------------------------------------

struct TLiberaKdf {
    void operator()(EVP_KDF* k) const { EVP_KDF_free(k); }
};
struct TLiberaKdfCtx {
    void operator()(EVP_KDF_CTX* c) const { EVP_KDF_CTX_free(c); }
};
struct TLiberaCifra {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using TCifra = std::unique_ptr<EVP_CIPHER_CTX, TLiberaCifra>;

// The AES key: HKDF-SHA256 of the master key with this machine's id for our application as salt.
bool DerivarChave(const TChave& mestra, TChave& efetiva) {
    sd_id128_t maquina{};
    const int r = sd_id128_get_machine_app_specific(ID_APLICACAO, &maquina);
    if (r < 0) {
        LogFmt("ERRO: identificador da maquina indisponivel (%d)", r);
        return false;
    }
    std::unique_ptr<EVP_KDF, TLiberaKdf> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
    if (!kdf) return false;
    std::unique_ptr<EVP_KDF_CTX, TLiberaKdfCtx> ctx(EVP_KDF_CTX_new(kdf.get()));
    if (!ctx) return false;
    std::string digesto = "SHA256";
    std::string info = INFO_DERIVACAO;
    const OSSL_PARAM parametros[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digesto.data(), 0),
        OSSL_PARAM_construct_octet_string(
            OSSL_KDF_PARAM_KEY, const_cast<std::uint8_t*>(mestra.b.data()), mestra.b.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, maquina.bytes, sizeof maquina.bytes),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.data(), info.size()),
        OSSL_PARAM_construct_end()};
    const bool ok = EVP_KDF_derive(ctx.get(), efetiva.b.data(), efetiva.b.size(), parametros) == 1;
    OPENSSL_cleanse(&maquina, sizeof maquina);
    return ok;
}

TBytes DadosAutenticados(std::uint8_t armazem) {
    TBytes aad;
    aad.reserve(TAMANHO_CABECALHO + sizeof ENTROPIA + 4);
    aad.push_back(VERSAO_BLOB);
    aad.push_back(armazem);
    for (const char c : std::string_view(ENTROPIA)) aad.push_back(static_cast<std::uint8_t>(c));
    const std::uint32_t uid = static_cast<std::uint32_t>(::geteuid());
    for (int i = 0; i < 4; ++i) aad.push_back(static_cast<std::uint8_t>(uid >> (8 * i)));
    return aad;
}

std::string Proteger(std::string_view texto) {
    if (texto.size() > static_cast<std::size_t>(INT_MAX) - 64) return {};
    TChave mestra;
    std::uint8_t armazem = ARMAZEM_CHAVEIRO;
    if (!ChaveChaveiro(true, false, mestra)) {
        armazem = ARMAZEM_ARQUIVO;
        if (!ChaveArquivo(true, mestra)) return {};
    }
    TChave chave;
    if (!DerivarChave(mestra, chave)) return {};

    const TBytes nonce = BytesAleatorios(static_cast<std::int32_t>(TAMANHO_NONCE));
    const TBytes aad = DadosAutenticados(armazem);
    const std::size_t inicio_cifra = TAMANHO_CABECALHO + TAMANHO_NONCE;
    TBytes blob(inicio_cifra + texto.size() + TAMANHO_TAG);
    blob[0] = VERSAO_BLOB;
    blob[1] = armazem;
    std::memcpy(blob.data() + TAMANHO_CABECALHO, nonce.data(), TAMANHO_NONCE);

    TCifra ctx(EVP_CIPHER_CTX_new());
    int n = 0;
    int n_final = 0;
    if (!ctx ||
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, chave.b.data(), nonce.data()) !=
            1 ||
        EVP_EncryptUpdate(ctx.get(), nullptr, &n, aad.data(), static_cast<int>(aad.size())) != 1 ||
        EVP_EncryptUpdate(ctx.get(), blob.data() + inicio_cifra, &n,
                          reinterpret_cast<const std::uint8_t*>(texto.data()),
                          static_cast<int>(texto.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), blob.data() + inicio_cifra + n, &n_final) != 1 ||
        static_cast<std::size_t>(n + n_final) != texto.size() ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(TAMANHO_TAG),
                            blob.data() + inicio_cifra + texto.size()) != 1) {
        Log("ERRO ao proteger segredo (cifra)");
        return {};
    }
    return Base64(blob);
}

bool Desproteger(std::string_view protegido, std::string& texto) {
    const TBytes blob = Base64Leniente(protegido);
    // Every blob we write carries at least one byte of ciphertext.
    if (blob.size() < TAMANHO_CABECALHO + TAMANHO_NONCE + 1 + TAMANHO_TAG) return false;
    if (blob[0] != VERSAO_BLOB) return false;
    const std::uint8_t armazem = blob[1];
    TChave mestra;
    if (armazem == ARMAZEM_CHAVEIRO) {
        if (!ChaveChaveiro(false, true, mestra)) return false;
    } else if (armazem == ARMAZEM_ARQUIVO) {
        if (!ChaveArquivo(false, mestra)) return false;
    } else {
        return false;
    }
    TChave chave;
    if (!DerivarChave(mestra, chave)) return false;

    const TBytes aad = DadosAutenticados(armazem);
    const std::uint8_t* nonce = blob.data() + TAMANHO_CABECALHO;
    const std::uint8_t* cifra = nonce + TAMANHO_NONCE;
    const std::size_t tamanho = blob.size() - TAMANHO_CABECALHO - TAMANHO_NONCE - TAMANHO_TAG;
    if (tamanho > static_cast<std::size_t>(INT_MAX)) return false;
    std::array<std::uint8_t, TAMANHO_TAG> tag{};
    std::memcpy(tag.data(), cifra + tamanho, TAMANHO_TAG);

    texto.resize(tamanho);
    TCifra ctx(EVP_CIPHER_CTX_new());
    int n = 0;
    int n_final = 0;
    const bool ok =
        ctx &&
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, chave.b.data(), nonce) == 1 &&
        EVP_DecryptUpdate(ctx.get(), nullptr, &n, aad.data(), static_cast<int>(aad.size())) == 1 &&
        EVP_DecryptUpdate(ctx.get(), reinterpret_cast<std::uint8_t*>(texto.data()), &n, cifra,
                          static_cast<int>(tamanho)) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(TAMANHO_TAG),
                            tag.data()) == 1 &&
        // The tag is checked here: until then the output is unauthenticated and must not leak out.
        EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<std::uint8_t*>(texto.data()) + n,
                            &n_final) == 1 &&
        static_cast<std::size_t>(n + n_final) == tamanho;
    if (!ok) ApagarSegredo(texto);
    return ok;
}

}  // namespace

void DefinirPastaChaveProtecao(const std::string& pasta) {
    std::lock_guard<std::mutex> t(trava_config);
    pasta_chave_definida = pasta;
}

void DefinirUsoChaveiro(bool usar) {
    // A change of mind starts afresh: no remembered key and no remembered failure.
    std::lock_guard<std::mutex> t(trava_chaveiro);
    usar_chaveiro.store(usar, std::memory_order_release);
    chave_chaveiro.reset();
    chaveiro_ja_falhou = false;
}

std::string ProtegerTexto(std::string_view texto) {
    if (texto.empty()) return {};
    try {
        return Proteger(texto);
    } catch (const std::exception& e) {
        LogFmt("ERRO ao proteger segredo: %s", e.what());
    } catch (...) {
        Log("ERRO ao proteger segredo");
    }
    return {};
}

bool DesprotegerTexto(std::string_view protegido, std::string& texto) {
    ApagarSegredo(texto);
    if (protegido.empty()) return false;
    try {
        if (Desproteger(protegido, texto)) return true;
    } catch (const std::exception& e) {
        LogFmt("ERRO ao abrir segredo protegido: %s", e.what());
    } catch (...) {
        Log("ERRO ao abrir segredo protegido");
    }
    ApagarSegredo(texto);
    return false;
}

}  // namespace velorin
