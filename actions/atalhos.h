// The shortcut catalog: programs, sites and the browser that a paired phone may open on this
// PC by identifier. The catalog is edited only on the PC and stored in atalhos.json; a phone
// sees names and identifiers, never a destination, and can only ask for an identifier.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace velorin {

struct TAtalho {
    std::string id;
    std::string nome;
    std::string tipo;     // "programa", "site" or "navegador"
    std::string destino;  // program path, site address, or empty for the browser item
    bool comum = false;
    bool visivel = true;

    bool operator==(const TAtalho&) const = default;
};

using TAtalhos = std::vector<TAtalho>;

struct TCatalogoAtalhos {
    TAtalhos itens;
    std::string navegador;  // chosen browser, empty for the desktop's default
    std::int32_t revisao = 1;

    bool operator==(const TCatalogoAtalhos&) const = default;
};

inline constexpr std::size_t MINIMO_ITENS_ATALHOS = 4;
inline constexpr std::size_t MAXIMO_ITENS_ATALHOS = 54;
inline constexpr std::size_t MAXIMO_NOME_ATALHO = 60;             // UTF-16 units
inline constexpr std::size_t MAXIMO_URL_SITE = 2048;              // bytes
inline constexpr std::size_t MAXIMO_CAMINHO_PROGRAMA = 4096;      // bytes
inline constexpr std::uintmax_t MAXIMO_ARQUIVO_ATALHOS = 262144;  // bytes
inline constexpr std::uint64_t INTERVALO_ABERTURAS_MS = 700;

// Error codes.
inline constexpr const char* ERRO_ATALHO_INVALIDO = "atalho_invalido";
inline constexpr const char* ERRO_ATALHOS_CONFLITO = "atalhos_conflito";
inline constexpr const char* ERRO_ATALHOS_SALVAR_FALHOU = "atalhos_salvar_falhou";
inline constexpr const char* ERRO_ATALHOS_INVALIDOS = "atalhos_invalidos";
inline constexpr const char* ERRO_ATALHO_NAO_ENCONTRADO = "atalho_nao_encontrado";
inline constexpr const char* ERRO_ATALHO_OCUPADO = "atalho_ocupado";
inline constexpr const char* ERRO_ATALHO_AUSENTE = "atalho_ausente";
inline constexpr const char* ERRO_NAVEGADOR_AUSENTE = "navegador_ausente";
inline constexpr const char* ERRO_ATALHO_ABERTURA_FALHOU = "atalho_abertura_falhou";

// ---- free operations ----

// False when the UTF-16 form of the text has a unit below 32, 127, or 128 to 159.
[[nodiscard]] bool TextoSemControles(std::string_view texto);
[[nodiscard]] bool UrlSiteValida(std::string_view endereco);
// The path rule of this platform: CaminhoProgramaValidoLinux here, the Windows rule there.
[[nodiscard]] bool CaminhoProgramaValido(std::string_view caminho, bool permitir_lnk);
// Windows: a drive-letter path to an .exe (or .lnk when allowed). Never looks at the disk.
[[nodiscard]] bool CaminhoProgramaValidoWindows(std::string_view caminho, bool permitir_lnk);
// Linux: an absolute path to a file; a ".desktop" launcher only when allowed. Whether it is an
// executable regular file is checked when opening.
[[nodiscard]] bool CaminhoProgramaValidoLinux(std::string_view caminho, bool permitir_lancador);
[[nodiscard]] bool ValidarCatalogo(const TCatalogoAtalhos& catalogo, std::string& erro);
TCatalogoAtalhos CatalogoPadrao();
std::string NovoIdAtalho();
// The desktop's default https handler as an executable path, or empty.
std::string NavegadorPadraoWindows();
[[nodiscard]] bool AbrirAtalho(const TAtalho& atalho, const std::string& navegador,
                               std::string& erro);

// atalhos.json as written: one line, the JSON writer's spacing, no final line break.
std::string EscreverCatalogoJson(const TCatalogoAtalhos& catalogo);
// Reads a catalog from the file's bytes (strict reading, migration and validation).
[[nodiscard]] bool LerCatalogoJson(std::string_view texto, TCatalogoAtalhos& catalogo);

// ---- the manager ----

class TGestorAtalhos {
  public:
    explicit TGestorAtalhos(const std::string& pasta_dados);
    TGestorAtalhos(const TGestorAtalhos&) = delete;
    TGestorAtalhos& operator=(const TGestorAtalhos&) = delete;

    TCatalogoAtalhos Catalogo() const;
    std::int32_t Revisao() const;
    bool Invalido() const;
    [[nodiscard]] bool Salvar(const TCatalogoAtalhos& catalogo, std::string& erro);
    nlohmann::ordered_json ListaPublica() const;
    [[nodiscard]] bool Abrir(const std::string& id, std::string& erro);

  private:
    bool Carregar();

    mutable std::mutex trava_;
    TCatalogoAtalhos catalogo_;
    std::string arquivo_;
    bool invalido_ = false;
    std::uint64_t ultima_abertura_ = 0;
    bool ocupado_ = false;
};

// ---- platform pieces (atalhos_<os>.cpp) ----

// What AbrirAtalho decided to start.
struct TAbertura {
    std::string arquivo;        // program, launcher, browser; empty with padrao_https
    std::string parametro;      // the site address, when a browser gets one
    bool padrao_https = false;  // let the desktop's default https handler take `parametro`,
                                // or start that handler bare when `parametro` is empty
};
// The file exists (following links).
bool ArquivoExiste(const std::string& caminho);
// An existing regular file this user may execute.
bool ExecutavelExiste(const std::string& caminho);
// Starts what `abertura` says, detached; on failure sets `erro` and logs with the id.
[[nodiscard]] bool IniciarAbertura(const TAbertura& abertura, const std::string& id,
                                   std::string& erro);

// Linux launcher (.desktop) pieces, exposed for tests.
struct TLancador {
    std::vector<std::string> argumentos;  // argv, program first (as written in Exec)
    std::string pasta;                    // working folder (Path=), may be empty
};
// Parses a launcher file's text. `endereco`, when not empty, fills the %u/%U/%f/%F field code
// (or is appended when Exec has none). False for anything that is not an application entry
// with a usable Exec.
[[nodiscard]] bool LerLancador(std::string_view texto, const std::string& caminho_arquivo,
                               const std::string& endereco, TLancador& lancador);
// Splits an Exec value (already unescaped as a desktop-entry string) into arguments.
[[nodiscard]] bool DividirExec(std::string_view exec, std::vector<std::string>& argumentos);
// The launcher file of the default https handler, or empty.
std::string LancadorPadraoHttps();

}  // namespace velorin
