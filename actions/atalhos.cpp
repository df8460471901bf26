#include "actions/atalhos.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <limits>

#include "core/log.h"
#include "core/parametros.h"
#include "core/recursos.h"
#include "core/relogio.h"
#include "core/seguranca.h"
#include "core/substituir.h"
#include "core/texto.h"

#ifndef VELORIN_URL_YOUTUBE
#define VELORIN_URL_YOUTUBE "https://www.youtube.com/"
#endif
#ifndef VELORIN_URL_NETFLIX
#define VELORIN_URL_NETFLIX "https://www.netflix.com/"
#endif
#ifndef VELORIN_URL_HBOMAX
#define VELORIN_URL_HBOMAX "https://www.hbomax.com/"
#endif

namespace velorin {

namespace {

// The loader refuses this revision, so no save may produce it.
constexpr std::int32_t REVISAO_PROIBIDA = std::numeric_limits<std::int32_t>::max();

bool Utf8Valido(std::string_view s) {
    // Invalid sequences turn into U+FFFD on the way to UTF-16, so a text that does not come
    // back byte for byte was not valid UTF-8.
    return Utf16ParaUtf8(Utf8ParaUtf16(s)) == s;
}

bool TerminaCom(std::string_view s, std::string_view fim) {
    return s.size() >= fim.size() && MinusculasAscii(s.substr(s.size() - fim.size())) == fim;
}

const TAtalho* ComumPadrao(std::string_view id) {
    static const TCatalogoAtalhos padrao = CatalogoPadrao();
    for (const auto& a : padrao.itens) {
        if (a.id == id) return &a;
    }
    return nullptr;
}

bool IdPersonalizadoValido(std::string_view id) {
    if (id.size() != 24) return false;
    for (const char c : id) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// ---- writer ----

std::string TextoJson(const std::string& s) {
    // Validated catalogs hold valid UTF-8; dump() raises otherwise, which Salvar reports.
    return nlohmann::json(s).dump();
}

std::string Membro(const char* chave, const std::string& valor) {
    return std::string("\"") + chave + "\" : " + valor;
}

std::string Booleano(bool b) {
    return b ? "true" : "false";
}

}  // namespace

bool TextoSemControles(std::string_view texto) {
    for (const char16_t u : Utf8ParaUtf16(texto)) {
        if (u < 32 || u == 127 || (u >= 128 && u <= 159)) return false;
    }
    return true;
}

bool UrlSiteValida(std::string_view endereco) {
    if (endereco.size() > MAXIMO_URL_SITE || !TextoSemControles(endereco)) return false;
    const std::string minusculo = MinusculasAscii(endereco);
    std::size_t inicio = 0;
    if (minusculo.rfind("https://", 0) == 0) {
        inicio = 8;
    } else if (minusculo.rfind("http://", 0) == 0) {
        inicio = 7;
    } else {
        return false;
    }
    if (endereco.find_first_of(" \"<>\\") != std::string_view::npos) return false;
    const std::size_t fim = endereco.find_first_of("/?#", inicio);
    const std::string_view autoridade = endereco.substr(
        inicio, fim == std::string_view::npos ? std::string_view::npos : fim - inicio);
    if (autoridade.empty() || autoridade.find('@') != std::string_view::npos ||
        autoridade.front() == ':')
        return false;
    return true;
}

bool CaminhoProgramaValidoWindows(std::string_view caminho, bool permitir_lnk) {
    if (caminho.size() < 4 || caminho.size() > MAXIMO_CAMINHO_PROGRAMA) return false;
    if (!TextoSemControles(caminho)) return false;
    const char letra = caminho[0];
    if (!((letra >= 'A' && letra <= 'Z') || (letra >= 'a' && letra <= 'z'))) return false;
    if (caminho[1] != ':' || (caminho[2] != '\\' && caminho[2] != '/')) return false;
    if (caminho.find(':', 2) != std::string_view::npos) return false;
    if (caminho.find('"') != std::string_view::npos) return false;
    const std::size_t barra = caminho.find_last_of("\\/");
    const std::string_view nome = caminho.substr(barra + 1);
    const std::size_t ponto = nome.rfind('.');
    if (ponto == std::string_view::npos) return false;
    const std::string extensao = MinusculasAscii(nome.substr(ponto));
    return extensao == ".exe" || (permitir_lnk && extensao == ".lnk");
}

bool CaminhoProgramaValidoLinux(std::string_view caminho, bool permitir_lancador) {
    if (caminho.size() < 2 || caminho.size() > MAXIMO_CAMINHO_PROGRAMA) return false;
    if (!TextoSemControles(caminho) || !Utf8Valido(caminho)) return false;
    if (caminho.front() != '/' || caminho.back() == '/') return false;
    // Kept from the Windows rule: a quote has no business in a program path and would only
    // invite quoting mistakes wherever the path is shown or passed on.
    if (caminho.find('"') != std::string_view::npos) return false;
    const std::string_view nome = caminho.substr(caminho.rfind('/') + 1);
    if (nome == "." || nome == "..") return false;
    if (!permitir_lancador && TerminaCom(nome, ".desktop")) return false;
    return true;
}

bool CaminhoProgramaValido(std::string_view caminho, bool permitir_lnk) {
#ifdef _WIN32
    return CaminhoProgramaValidoWindows(caminho, permitir_lnk);
#else
    return CaminhoProgramaValidoLinux(caminho, permitir_lnk);
#endif
}

bool ValidarCatalogo(const TCatalogoAtalhos& catalogo, std::string& erro) {
    erro = ERRO_ATALHO_INVALIDO;
    const auto& itens = catalogo.itens;
    if (itens.size() < MINIMO_ITENS_ATALHOS || itens.size() > MAXIMO_ITENS_ATALHOS) return false;
    if (!catalogo.navegador.empty() && !CaminhoProgramaValido(catalogo.navegador, false))
        return false;
    std::size_t comuns = 0;
    for (std::size_t i = 0; i < itens.size(); ++i) {
        const TAtalho& a = itens[i];
        // Everything is stored as JSON text; bytes that are not UTF-8 could be neither written
        // nor read back.
        if (!Utf8Valido(a.id) || !Utf8Valido(a.nome) || !Utf8Valido(a.tipo) ||
            !Utf8Valido(a.destino))
            return false;
        if (Aparar(a.nome).empty() || ContarUnidadesUtf16(a.nome) > MAXIMO_NOME_ATALHO ||
            !TextoSemControles(a.nome))
            return false;
        for (std::size_t j = 0; j < i; ++j) {
            if (itens[j].id == a.id) return false;
        }
        if (a.comum) {
            const TAtalho* p = ComumPadrao(a.id);
            if (p == nullptr || a.nome != p->nome || a.tipo != p->tipo || a.destino != p->destino)
                return false;
            ++comuns;
        } else {
            if (!IdPersonalizadoValido(a.id)) return false;
            if (a.tipo == "site") {
                if (!UrlSiteValida(a.destino)) return false;
            } else if (a.tipo == "programa") {
                if (!CaminhoProgramaValido(a.destino, true)) return false;
            } else {
                return false;
            }
        }
    }
    if (comuns != 4) return false;
    erro.clear();
    return true;
}

TCatalogoAtalhos CatalogoPadrao() {
    TCatalogoAtalhos c;
    c.itens = {
        {"navegador", "Navegador", "navegador", "", true, true},
        {"youtube", "YouTube", "site", VELORIN_URL_YOUTUBE, true, true},
        {"netflix", "Netflix", "site", VELORIN_URL_NETFLIX, true, true},
        {"hbomax", "HBO Max", "site", VELORIN_URL_HBOMAX, true, true},
    };
    c.navegador.clear();
    c.revisao = 1;
    return c;
}

std::string NovoIdAtalho() {
    return Sha256Hex(NovoToken()).substr(0, 24);
}

std::string EscreverCatalogoJson(const TCatalogoAtalhos& c) {
    std::string itens = "[";
    for (std::size_t i = 0; i < c.itens.size(); ++i) {
        const TAtalho& a = c.itens[i];
        if (i > 0) itens += ", ";
        itens += "{ " + Membro("id", TextoJson(a.id)) + ", " + Membro("nome", TextoJson(a.nome)) +
                 ", " + Membro("tipo", TextoJson(a.tipo)) + ", " +
                 Membro("destino", TextoJson(a.destino)) + ", " +
                 Membro("comum", Booleano(a.comum)) + ", " +
                 Membro("visivel", Booleano(a.visivel)) + " }";
    }
    itens += "]";
    return "{ " + Membro("versao", "1") + ", " + Membro("revisao", std::to_string(c.revisao)) +
           ", " + Membro("navegador", TextoJson(c.navegador)) + ", " + Membro("itens", itens) +
           " }";
}

bool LerCatalogoJson(std::string_view texto, TCatalogoAtalhos& saida) {
    try {
        const nlohmann::json raiz = nlohmann::json::parse(texto);
        if (!raiz.is_object()) return false;
        const auto versao = raiz.find("versao");
        if (versao == raiz.end() || !versao->is_number() || *versao != 1) return false;
        const auto navegador = raiz.find("navegador");
        if (navegador == raiz.end() || !navegador->is_string()) return false;
        std::int64_t revisao = 1;
        if (const auto r = raiz.find("revisao"); r != raiz.end() && r->is_number()) {
            if (r->is_number_float()) {
                const double d = r->get<double>();
                // Only whole numbers in range; anything else cannot be a revision we wrote.
                if (!(d >= 1 && d < REVISAO_PROIBIDA) ||
                    d != static_cast<double>(static_cast<std::int64_t>(d)))
                    return false;
                revisao = static_cast<std::int64_t>(d);
            } else if (r->is_number_unsigned()) {
                const auto u = r->get<std::uint64_t>();
                if (u >= static_cast<std::uint64_t>(REVISAO_PROIBIDA)) return false;
                revisao = static_cast<std::int64_t>(u);
            } else {
                revisao = r->get<std::int64_t>();
            }
        }
        if (revisao < 1 || revisao >= REVISAO_PROIBIDA) return false;
        const auto itens = raiz.find("itens");
        if (itens == raiz.end() || !itens->is_array() || itens->size() > MAXIMO_ITENS_ATALHOS)
            return false;
        TCatalogoAtalhos c;
        c.navegador = navegador->get<std::string>();
        c.revisao = static_cast<std::int32_t>(revisao);
        for (const auto& e : *itens) {
            if (!e.is_object()) return false;
            TAtalho a;
            const std::pair<const char*, std::string*> textos[] = {
                {"id", &a.id}, {"nome", &a.nome}, {"tipo", &a.tipo}, {"destino", &a.destino}};
            for (const auto& [chave, campo] : textos) {
                const auto v = e.find(chave);
                if (v == e.end() || !v->is_string()) return false;
                *campo = v->get<std::string>();
            }
            const std::pair<const char*, bool*> marcas[] = {{"visivel", &a.visivel},
                                                            {"comum", &a.comum}};
            for (const auto& [chave, campo] : marcas) {
                const auto v = e.find(chave);
                if (v == e.end() || !v->is_boolean()) return false;
                *campo = v->get<bool>();
            }
            c.itens.push_back(std::move(a));
        }
        bool tem_hbomax = false;
        for (const auto& a : c.itens) tem_hbomax = tem_hbomax || a.id == "hbomax";
        if (!tem_hbomax) {
            // Catalogs written before HBO Max became a common item get it appended, visible.
            if (c.itens.size() >= MAXIMO_ITENS_ATALHOS || c.revisao >= REVISAO_PROIBIDA - 1)
                return false;
            c.itens.push_back(*ComumPadrao("hbomax"));
            c.revisao += 1;
        }
        std::string erro;
        if (!ValidarCatalogo(c, erro)) return false;
        saida = std::move(c);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

TGestorAtalhos::TGestorAtalhos(const std::string& pasta_dados) {
    std::string pasta = pasta_dados;
    if (!pasta.empty() && pasta.back() != '/') pasta += '/';
    arquivo_ = pasta + "atalhos.json";
    catalogo_ = CatalogoPadrao();
    struct stat st {};
    if (::stat(arquivo_.c_str(), &st) != 0 && errno == ENOENT) return;
    if (!Carregar()) {
        invalido_ = true;
        Log("AVISO: catalogo de atalhos invalido; aberturas desativadas ate salvar no PC");
    }
}

bool TGestorAtalhos::Carregar() {
    try {
        TDescritor fd(::open(arquivo_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!fd) return false;
        struct stat st {};
        if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        if (static_cast<std::uintmax_t>(st.st_size) > MAXIMO_ARQUIVO_ATALHOS) return false;
        // Read at most one byte past the cap, so a file that grows while we read is still
        // refused instead of being read without end.
        std::string texto;
        char bloco[16384];
        while (texto.size() <= MAXIMO_ARQUIVO_ATALHOS) {
            const ssize_t n = ::read(fd.Get(), bloco, sizeof bloco);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) break;
            texto.append(bloco, static_cast<std::size_t>(n));
        }
        if (texto.size() > MAXIMO_ARQUIVO_ATALHOS) return false;
        TCatalogoAtalhos c;
        if (!LerCatalogoJson(texto, c)) return false;
        catalogo_ = std::move(c);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

TCatalogoAtalhos TGestorAtalhos::Catalogo() const {
    std::lock_guard<std::mutex> g(trava_);
    return catalogo_;
}

std::int32_t TGestorAtalhos::Revisao() const {
    std::lock_guard<std::mutex> g(trava_);
    return catalogo_.revisao;
}

bool TGestorAtalhos::Invalido() const {
    std::lock_guard<std::mutex> g(trava_);
    return invalido_;
}

bool TGestorAtalhos::Salvar(const TCatalogoAtalhos& catalogo, std::string& erro) {
    if (!ValidarCatalogo(catalogo, erro)) return false;
    std::lock_guard<std::mutex> g(trava_);
    if (catalogo_.revisao != catalogo.revisao) {
        erro = ERRO_ATALHOS_CONFLITO;
        return false;
    }
    erro = ERRO_ATALHOS_SALVAR_FALHOU;
    // A revision the loader would refuse must never reach the disk.
    if (catalogo_.revisao >= REVISAO_PROIBIDA - 1) return false;
    try {
        TCatalogoAtalhos novo = catalogo;
        novo.revisao = catalogo_.revisao + 1;
        const std::string texto = EscreverCatalogoJson(novo);
        const std::string temporario = arquivo_ + ".tmp";
        {
            TDescritor fd(::open(temporario.c_str(),
                                 O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
            if (!fd) return false;
            if (!EscreverTudo(fd.Get(), texto.data(), texto.size())) return false;
            if (::fsync(fd.Get()) != 0) return false;
            if (::close(fd.Soltar()) != 0) return false;
        }
        if (!SubstituirArquivo(temporario, arquivo_)) return false;
        catalogo_ = std::move(novo);
        invalido_ = false;
        erro.clear();
        return true;
    } catch (const std::exception&) {
        Log("Falha ao salvar catalogo de atalhos");
        erro = ERRO_ATALHOS_SALVAR_FALHOU;
        return false;
    }
}

nlohmann::ordered_json TGestorAtalhos::ListaPublica() const {
    const TCatalogoAtalhos c = Catalogo();
    nlohmann::ordered_json lista = nlohmann::ordered_json::object();
    lista["revisao"] = c.revisao;
    lista["itens"] = nlohmann::ordered_json::array();
    for (const auto& a : c.itens) {
        if (!a.visivel) continue;
        nlohmann::ordered_json item = nlohmann::ordered_json::object();
        item["id"] = a.id;
        item["nome"] = a.nome;
        item["tipo"] = a.tipo;
        item["comum"] = a.comum;
        lista["itens"].push_back(std::move(item));
    }
    return lista;
}

bool TGestorAtalhos::Abrir(const std::string& id, std::string& erro) {
    erro = ERRO_ATALHO_NAO_ENCONTRADO;
    TAtalho item;
    std::string navegador;
    {
        std::lock_guard<std::mutex> g(trava_);
        if (invalido_) {
            erro = ERRO_ATALHOS_INVALIDOS;
            return false;
        }
        const TAtalho* achado = nullptr;
        for (const auto& a : catalogo_.itens) {
            if (a.id == id && a.visivel) {
                achado = &a;
                break;
            }
        }
        if (achado == nullptr) return false;
        const std::uint64_t agora = AgoraMs();
        if (ocupado_ ||
            (ultima_abertura_ != 0 && agora - ultima_abertura_ < INTERVALO_ABERTURAS_MS)) {
            erro = ERRO_ATALHO_OCUPADO;
            return false;
        }
        ultima_abertura_ = agora;
        ocupado_ = true;
        item = *achado;
        navegador = catalogo_.navegador;
    }
    bool ok = false;
    try {
        ok = AbrirAtalho(item, navegador, erro);
    } catch (const std::exception&) {
        ok = false;
        erro = ERRO_ATALHO_ABERTURA_FALHOU;
    }
    std::lock_guard<std::mutex> g(trava_);
    ocupado_ = false;
    ultima_abertura_ = AgoraMs();
    return ok;
}

bool AbrirAtalho(const TAtalho& atalho, const std::string& navegador, std::string& erro) {
    erro = ERRO_ATALHO_INVALIDO;
    TAbertura abertura;
    if (atalho.tipo == "programa") {
        if (!CaminhoProgramaValido(atalho.destino, true)) return false;
        if (!ArquivoExiste(atalho.destino)) {
            erro = ERRO_ATALHO_AUSENTE;
            return false;
        }
        abertura.arquivo = atalho.destino;
    } else if (atalho.tipo == "site" || atalho.tipo == "navegador") {
        const bool site = atalho.tipo == "site";
        if (site && !UrlSiteValida(atalho.destino)) return false;
        const auto navegador_usavel = [](const std::string& n) {
            return CaminhoProgramaValido(n, false) && ExecutavelExiste(n);
        };
        if (!navegador.empty() && !navegador_usavel(navegador)) {
            erro = ERRO_NAVEGADOR_AUSENTE;
            return false;
        }
        if (!site) {
            if (!navegador.empty()) {
                abertura.arquivo = navegador;
            } else if (!Parametros.Simular) {
                // The desktop's choice: it must resolve to a real executable, and it is then
                // started through its own launcher so the launcher's arguments apply.
                if (!navegador_usavel(NavegadorPadraoWindows())) {
                    erro = ERRO_NAVEGADOR_AUSENTE;
                    return false;
                }
                abertura.padrao_https = true;
            }
        } else if (navegador.empty()) {
            abertura.padrao_https = true;
            abertura.parametro = atalho.destino;
        } else {
            abertura.arquivo = navegador;
            abertura.parametro = atalho.destino;
        }
    } else {
        return false;
    }
    if (Parametros.Simular) {
        LogFmt("SIMULAR abrir atalho id=%s", TextoParaLog(atalho.id, 24).c_str());
        erro.clear();
        return true;
    }
    return IniciarAbertura(abertura, atalho.id, erro);
}

}  // namespace velorin
