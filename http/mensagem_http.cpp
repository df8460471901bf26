#include "http/mensagem_http.h"

#include <cstdio>

#include "core/parametros.h"
#include "core/texto.h"

namespace velorin {

namespace {

constexpr std::string_view FIM_LINHA = "\r\n";
constexpr std::string_view FIM_CABECA = "\r\n\r\n";

bool EhMaiuscula(char c) { return c >= 'A' && c <= 'Z'; }
bool EhDigito(char c) { return c >= '0' && c <= '9'; }

// RFC 7230 token characters: the only ones a header name may hold.
bool EhCaractereToken(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || EhDigito(c)) return true;
    switch (c) {
        case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
        case '-': case '.': case '^': case '_': case '`': case '|': case '~':
            return true;
        default:
            return false;
    }
}

bool ValorTemControle(std::string_view valor) {
    for (char c : valor) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 && c != '\t') return true;
    }
    return false;
}

bool IguaisSemCaixaAscii(std::string_view a, std::string_view b) {
    return a.size() == b.size() && MinusculasAscii(a) == MinusculasAscii(b);
}

// Writer-side guard: a CR or LF that slipped into a field by direct assignment would split the
// response, so the writer drops them as DefinirCabecalho does.
std::string SemQuebras(std::string_view texto) {
    std::string s;
    s.reserve(texto.size());
    for (char c : texto)
        if (c != '\r' && c != '\n') s += c;
    return s;
}

int Recusar(int codigo, int& status) {
    status = codigo;
    return CABECA_RECUSADA;
}

// Request line: "METHOD SP target SP version", single blanks only.
bool AnalisarLinhaPedido(std::string_view linha, TRequisicaoHttp& req, int& status) {
    const std::size_t b1 = linha.find(' ');
    if (b1 == std::string_view::npos) return (status = 400), false;
    const std::size_t b2 = linha.find(' ', b1 + 1);
    if (b2 == std::string_view::npos) return (status = 400), false;
    if (linha.find(' ', b2 + 1) != std::string_view::npos) return (status = 400), false;
    const std::string_view metodo = linha.substr(0, b1);
    const std::string_view alvo = linha.substr(b1 + 1, b2 - b1 - 1);
    const std::string_view versao = linha.substr(b2 + 1);

    if (metodo.empty() || metodo.size() > LIMITE_METODO) return (status = 400), false;
    for (char c : metodo)
        if (!EhMaiuscula(c)) return (status = 400), false;

    if (versao != "HTTP/1.1" && versao != "HTTP/1.0") return (status = 505), false;

    if (alvo.size() > LIMITE_ALVO) return (status = 414), false;
    if (alvo.empty() || alvo.front() != '/') return (status = 400), false;
    for (char c : alvo) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 33 || u > 126) return (status = 400), false;
    }

    req.Metodo.assign(metodo);
    req.Alvo.assign(alvo);
    req.Versao.assign(versao);
    const std::size_t q = alvo.find('?');
    if (q == std::string_view::npos) {
        req.Caminho.assign(alvo);
    } else {
        req.Caminho.assign(alvo.substr(0, q));
        req.Consulta.assign(alvo.substr(q + 1));
    }
    return true;
}

// One header line. Returns 0 when stored, else the refusal status.
int AnalisarLinhaCabecalho(std::string_view linha, TRequisicaoHttp& req) {
    // Folded continuation lines are obsolete and a classic way to hide a header from one parser
    // but not another.
    if (linha.empty() || linha.front() == ' ' || linha.front() == '\t') return 400;
    const std::size_t doisPontos = linha.find(':');
    if (doisPontos == std::string_view::npos || doisPontos == 0) return 400;
    const std::string_view nome = linha.substr(0, doisPontos);
    for (char c : nome)
        if (!EhCaractereToken(c)) return 400;
    const std::string_view bruto = linha.substr(doisPontos + 1);
    // Checked before trimming: a bare LF or CR at the edge of a value would otherwise be trimmed
    // away silently, while a front-end that ends lines at a bare LF would read a different head.
    if (ValorTemControle(bruto)) return 400;
    if (req.Cabecalhos.size() >= LIMITE_LINHAS_CABECALHO) return 431;
    req.Cabecalhos.push_back({MinusculasAscii(nome), Aparar(bruto)});
    return 0;
}

int RegrasDaCabeca(const TRequisicaoHttp& req) {
    const int hosts = req.ContarCabecalho("host");
    if (hosts > 1 || (req.Versao == "HTTP/1.1" && hosts != 1)) return 400;
    // We never take chunked bodies; refusing every Transfer-Encoding also keeps a request with
    // both framings from being read two ways.
    if (req.TemCabecalho("transfer-encoding")) return 501;
    const std::string* primeiro = nullptr;
    for (const TCabecalhoHttp& c : req.Cabecalhos) {
        if (c.Nome != "content-length") continue;
        if (c.Valor.empty() || c.Valor.size() > LIMITE_DIGITOS_TAMANHO) return 400;
        for (char d : c.Valor)
            if (!EhDigito(d)) return 400;
        if (primeiro != nullptr && *primeiro != c.Valor) return 400;
        primeiro = &c.Valor;
    }
    if (primeiro != nullptr) {
        long long tamanho = 0;
        if (!LerInteiro(*primeiro, tamanho)) return 400;
        if (tamanho > static_cast<long long>(LIMITE_CORPO)) return 413;
    }
    return 0;
}

}  // namespace

void TRequisicaoHttp::Limpar() {
    Metodo.clear();
    Alvo.clear();
    Caminho.clear();
    Consulta.clear();
    Versao.clear();
    Cabecalhos.clear();
    Corpo.clear();
}

std::string TRequisicaoHttp::Cabecalho(std::string_view nome) const {
    for (const TCabecalhoHttp& c : Cabecalhos)
        if (c.Nome == nome) return c.Valor;
    return {};
}

int TRequisicaoHttp::ContarCabecalho(std::string_view nome) const {
    int n = 0;
    for (const TCabecalhoHttp& c : Cabecalhos)
        if (c.Nome == nome) ++n;
    return n;
}

bool TRequisicaoHttp::TemCabecalho(std::string_view nome) const { return ContarCabecalho(nome) > 0; }

void TRespostaHttp::Limpar() {
    Status = 200;
    TipoConteudo.clear();
    Corpo.clear();
    Cabecalhos.clear();
}

void TRespostaHttp::Definir(std::int32_t status, std::string tipoConteudo, std::string corpo) {
    Status = status;
    TipoConteudo = std::move(tipoConteudo);
    Corpo = std::move(corpo);
}

void TRespostaHttp::DefinirCabecalho(std::string_view nome, std::string_view valor) {
    std::string limpo = SemQuebras(valor);
    for (TCabecalhoHttp& c : Cabecalhos) {
        if (IguaisSemCaixaAscii(c.Nome, nome)) {
            c.Valor = std::move(limpo);
            return;
        }
    }
    Cabecalhos.push_back({std::string(nome), std::move(limpo)});
}

int AnalisarCabeca(std::string_view buffer, TRequisicaoHttp& req, std::size_t& tamanhoCabeca,
                   int& status) {
    status = 0;
    tamanhoCabeca = 0;
    const std::size_t fim = buffer.find(FIM_CABECA);
    if (fim == std::string_view::npos) {
        // Without this cap a peer could grow our buffer forever by never sending a blank line.
        if (buffer.size() > LIMITE_CABECA) return Recusar(431, status);
        return CABECA_INCOMPLETA;
    }
    const std::size_t tamanho = fim + FIM_CABECA.size();
    if (tamanho > LIMITE_CABECA) return Recusar(431, status);

    req.Limpar();
    const std::string_view cabeca = buffer.substr(0, fim);
    std::size_t pos = cabeca.find(FIM_LINHA);
    const std::string_view linhaPedido = cabeca.substr(0, pos);
    int codigo = 0;
    if (!AnalisarLinhaPedido(linhaPedido, req, codigo)) return Recusar(codigo, status);

    while (pos != std::string_view::npos) {
        const std::size_t inicio = pos + FIM_LINHA.size();
        pos = cabeca.find(FIM_LINHA, inicio);
        const std::string_view linha =
            cabeca.substr(inicio, pos == std::string_view::npos ? std::string_view::npos : pos - inicio);
        codigo = AnalisarLinhaCabecalho(linha, req);
        if (codigo != 0) return Recusar(codigo, status);
    }

    codigo = RegrasDaCabeca(req);
    if (codigo != 0) return Recusar(codigo, status);
    tamanhoCabeca = tamanho;
    return CABECA_PRONTA;
}

std::string EscreverResposta(const TRespostaHttp& resp) {
    const bool semCorpo = resp.Status == 204;
    std::string s;
    s.reserve(128 + resp.Corpo.size());
    s += "HTTP/1.1 ";
    s += std::to_string(resp.Status);
    s += ' ';
    s += FraseStatus(resp.Status);
    s += FIM_LINHA;
    if (!semCorpo) {
        if (!resp.TipoConteudo.empty()) {
            s += "Content-Type: ";
            s += SemQuebras(resp.TipoConteudo);
            s += FIM_LINHA;
        }
        s += "Content-Length: ";
        s += std::to_string(resp.Corpo.size());
        s += FIM_LINHA;
    }
    s += "Connection: close";
    s += FIM_LINHA;
    for (const TCabecalhoHttp& c : resp.Cabecalhos) {
        s += SemQuebras(c.Nome);
        s += ": ";
        s += SemQuebras(c.Valor);
        s += FIM_LINHA;
    }
    s += FIM_LINHA;
    if (!semCorpo) s += resp.Corpo;
    return s;
}

std::string FraseStatus(int codigo) {
    switch (codigo) {
        case 100: return "Continue";
        case 200: return "OK";
        case 202: return "Accepted";
        case 204: return "No Content";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 409: return "Conflict";
        case 410: return "Gone";
        case 413: return "Content Too Large";
        case 414: return "URI Too Long";
        case 415: return "Unsupported Media Type";
        case 421: return "Misdirected Request";
        case 429: return "Too Many Requests";
        case 431: return "Request Header Fields Too Large";
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 503: return "Service Unavailable";
        case 505: return "HTTP Version Not Supported";
        default: return "Unknown";
    }
}

std::string TextoIpv4(std::uint32_t endereco) {
    char texto[16];
    std::snprintf(texto, sizeof texto, "%d.%d.%d.%d", static_cast<int>((endereco >> 24) & 0xFF),
                  static_cast<int>((endereco >> 16) & 0xFF), static_cast<int>((endereco >> 8) & 0xFF),
                  static_cast<int>(endereco & 0xFF));
    return texto;
}

bool LerIpv4(std::string_view texto, std::uint32_t& endereco) {
    std::uint32_t resultado = 0;
    std::size_t inicio = 0;
    for (int parte = 0; parte < 4; ++parte) {
        const std::size_t ponto = texto.find('.', inicio);
        const bool ultima = parte == 3;
        if (ultima != (ponto == std::string_view::npos)) return false;
        const std::string_view p =
            texto.substr(inicio, ultima ? std::string_view::npos : ponto - inicio);
        if (p.empty() || p.size() > 3) return false;
        std::uint32_t valor = 0;
        for (char c : p) {
            if (!EhDigito(c)) return false;
            valor = valor * 10 + static_cast<std::uint32_t>(c - '0');
        }
        if (valor > 255) return false;
        resultado = (resultado << 8) | valor;
        inicio = ponto + 1;
    }
    endereco = resultado;
    return true;
}

bool EnderecoLocal(std::uint32_t endereco) {
    const auto na = [endereco](std::uint32_t rede, int bits) {
        const std::uint32_t mascara = 0xFFFFFFFFu << (32 - bits);
        return (endereco & mascara) == rede;
    };
    if (na(0x7F000000u, 8)) return true;    // 127.0.0.0/8
    if (na(0x0A000000u, 8)) return true;    // 10.0.0.0/8
    if (na(0xAC100000u, 12)) return true;   // 172.16.0.0/12
    if (na(0xC0A80000u, 16)) return true;   // 192.168.0.0/16
    if (na(0xA9FE0000u, 16)) return true;   // 169.254.0.0/16
    if (EdicaoInternet() && na(0x64400000u, 10)) return true;  // 100.64.0.0/10
    return false;
}

}  // namespace velorin
