#include "http/painel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string_view>
#include <vector>

#include "core/log.h"
#include "core/recursos.h"
#include "core/textos.h"

namespace velorin {

namespace {

constexpr const char* TIPO_TEXTO = "text/plain; charset=utf-8";
// A panel file is a few hundred KiB at most; anything far larger in the folder is not ours.
constexpr off_t LIMITE_ARQUIVO_PAINEL = 16 * 1024 * 1024;

constexpr std::array<TArquivoWeb, 13> ARQUIVOS{{
    {"/", "WEB_INDEX", "index.html", "text/html; charset=utf-8", true},
    {"/index.html", "WEB_INDEX", "index.html", "text/html; charset=utf-8", true},
    {"/app.js", "WEB_APP_JS", "app.js", "text/javascript; charset=utf-8", true},
    {"/app.css", "WEB_APP_CSS", "app.css", "text/css; charset=utf-8", true},
    {"/fontes-OFL.txt", "WEB_FONTES_OFL", "fontes-OFL.txt", "text/plain; charset=utf-8", true},
    {"/manrope.woff2", "WEB_MANROPE", "manrope.woff2", "font/woff2", true},
    {"/ibm-plex-mono.woff2", "WEB_MONO", "ibm-plex-mono.woff2", "font/woff2", true},
    {"/sw.js", "WEB_SW", "sw.js", "text/javascript; charset=utf-8", true},
    {"/manifest.webmanifest", "WEB_MANIFEST", "manifest.webmanifest", "application/manifest+json", true},
    {"/icone-32.png", "WEB_ICONE_32", "icone-32.png", "image/png", false},
    {"/icone-180.png", "WEB_ICONE_180", "icone-180.png", "image/png", false},
    {"/icone-192.png", "WEB_ICONE_192", "icone-192.png", "image/png", false},
    {"/icone-512.png", "WEB_ICONE_512", "icone-512.png", "image/png", false},
}};

constexpr std::array<std::string_view, 6> ALIASES{
    "/panel", "/panel/", "/panel/index.html", "/painel", "/painel/", "/painel/index.html"};

// Written once on the main thread at start-up, only read afterwards by connection threads.
const TRecursoEmbutido* recursos_embutidos = nullptr;
std::size_t quantidade_recursos = 0;
std::string pasta_desenvolvimento;
std::array<const TRecursoEmbutido*, ARQUIVOS.size()> carregados{};

const TRecursoEmbutido* ProcurarRecurso(const char* nome) {
    for (std::size_t i = 0; i < quantidade_recursos; ++i)
        if (std::string_view(recursos_embutidos[i].Nome) == nome) return &recursos_embutidos[i];
    return nullptr;
}

// Reads a regular file whole; false for anything missing, unreadable, special or oversized.
bool LerArquivoPainel(const std::string& caminho, std::string& bytes) {
    TDescritor fd(::open(caminho.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st{};
    if (!fd || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > LIMITE_ARQUIVO_PAINEL)
        return false;
    bytes.assign(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t lidos = 0;
    while (lidos < bytes.size()) {
        const ssize_t n = ::read(fd.Get(), bytes.data() + lidos, bytes.size() - lidos);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        lidos += static_cast<std::size_t>(n);
    }
    bytes.resize(lidos);  // a file cut short while we read is served as it now is
    return true;
}

}  // namespace

void DefinirRecursosPainel(const TRecursoEmbutido* recursos, std::size_t quantidade) {
    recursos_embutidos = recursos;
    quantidade_recursos = recursos ? quantidade : 0;
}

void CarregarPainel(const std::string& pasta) {
    pasta_desenvolvimento = pasta;
    if (!pasta_desenvolvimento.empty() && pasta_desenvolvimento.back() != '/') pasta_desenvolvimento += '/';
    carregados.fill(nullptr);
    if (!pasta_desenvolvimento.empty()) {
        LogFmt("Painel web lido da pasta %s", TextoParaLog(pasta_desenvolvimento, 300).c_str());
        return;
    }
    int ausentes = 0;
    for (std::size_t i = 0; i < ARQUIVOS.size(); ++i) {
        carregados[i] = ProcurarRecurso(ARQUIVOS[i].Recurso);
        if (!carregados[i]) ++ausentes;
    }
    if (ausentes > 0) LogFmt("AVISO: %d arquivo(s) do painel ausentes no .exe", ausentes);
}

bool ProcurarArquivoWeb(const std::string& caminho, std::string& bytes, TArquivoWeb& arquivo) {
    for (std::size_t i = 0; i < ARQUIVOS.size(); ++i) {
        if (caminho != ARQUIVOS[i].Caminho) continue;
        arquivo = ARQUIVOS[i];
        if (!pasta_desenvolvimento.empty())
            return LerArquivoPainel(pasta_desenvolvimento + ARQUIVOS[i].NomeArquivo, bytes);
        if (!carregados[i]) return false;
        bytes.assign(reinterpret_cast<const char*>(carregados[i]->Dados), carregados[i]->Tamanho);
        return true;
    }
    return false;
}

bool PainelPresente() {
    if (!pasta_desenvolvimento.empty()) {
        struct stat st{};
        return ::stat((pasta_desenvolvimento + "index.html").c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }
    return carregados[0] != nullptr;
}

void ServirArquivo(const TRequisicaoHttp& req, TRespostaHttp& resp) {
    if (req.Metodo != "GET") {
        resp.Definir(405, TIPO_TEXTO, serrometodo);
        return;
    }
    std::string caminho = req.Caminho;
    for (const auto alias : ALIASES)
        if (caminho == alias) caminho = "/index.html";
    std::string bytes;
    TArquivoWeb arquivo{};
    if (ProcurarArquivoWeb(caminho, bytes, arquivo)) {
        resp.DefinirCabecalho("Cache-Control", arquivo.SemCache ? "no-cache" : "public, max-age=86400");
        resp.Definir(200, arquivo.TipoConteudo, std::move(bytes));
        return;
    }
    const bool inicio = caminho == "/" || caminho == "/index.html";
    resp.Definir(404, TIPO_TEXTO, inicio && !PainelPresente() ? serropainelausente : serronaoencontrado);
}

}  // namespace velorin
