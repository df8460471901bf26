// The request gate and the API dispatcher: every request the listener parsed passes through
// TratarRequisicao, which decides in a fixed order whether it may be served at all and then
// hands it to an endpoint or to the panel files.
#include "api/api.h"

#include <array>
#include <cmath>
#include <memory>
#include <string_view>

#include "actions/energia.h"
#include "api/comandos.h"
#include "core/log.h"
#include "core/parametros.h"
#include "core/seguranca.h"
#include "core/texto.h"
#include "core/textos.h"
#include "http/painel.h"
#include "state/estado.h"

namespace velorin {

namespace {

constexpr const char* TIPO_JSON = "application/json; charset=utf-8";
constexpr std::string_view PREFIXO_API = "/api/";
// Deeper bodies never reach the JSON parser: no endpoint reads more than a few levels, and a
// recursive parser fed thousands of brackets is a stack to exhaust.
constexpr int PROFUNDIDADE_MAXIMA = 4;
constexpr std::size_t MAXIMO_DIGITOS_PORTA = 5;

constexpr const char* POLITICA_CONTEUDO =
    "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' "
    "data:; connect-src 'self'; manifest-src 'self'; frame-ancestors 'none'; base-uri 'none'; "
    "form-action 'none'; object-src 'none'";

// Failures of a bearer token (per client address), of pairing codes and of transfer tickets.
constexpr std::int32_t LIMITE_TOKEN = 20;
constexpr std::int32_t LIMITE_PAREAMENTO = 10;
constexpr std::int32_t LIMITE_TRANSFERENCIA = 10;
constexpr std::int32_t JANELA_LIMITE_S = 600;
constexpr std::int32_t BLOQUEIO_LIMITE_S = 600;

// Set by IniciarApi before the listener starts and cleared by EncerrarApi after it stopped;
// connection threads only read them (the limiters lock themselves).
TEstado* estado_api = nullptr;
TGestorAtalhos* atalhos_api = nullptr;
std::unique_ptr<TLimitador> limitador_token;
std::unique_ptr<TLimitador> limitador_pareamento;
std::unique_ptr<TLimitador> limitador_transferencia;
std::string nome_proprio;
bool pode_suspender = false;

enum TMetodoApi : unsigned { mGet = 1, mPost = 2, mPut = 4, mDelete = 8 };

enum TManipulador { hPing, hParear, hStatus, hTransferencia, hConsumir, hAtalhos, hComando };

struct TRota {
    std::string_view Caminho;
    unsigned Metodos;       // TMetodoApi bits
    unsigned Autenticados;  // the methods that need a bearer token
    TManipulador Manipulador;
};

constexpr std::array<TRota, 15> ROTAS{{
    {"/api/ping", mGet, 0, hPing},
    {"/api/parear", mPost | mDelete, mDelete, hParear},
    {"/api/status", mGet, mGet, hStatus},
    {"/api/transferencia", mPost, mPost, hTransferencia},
    {"/api/transferencia/consumir", mPost, 0, hConsumir},
    {"/api/atalhos", mGet, mGet, hAtalhos},
    {"/api/atalhos/abrir", mPost, mPost, hComando},
    {"/api/energia", mPost, mPost, hComando},
    {"/api/energia/cancelar", mPost, mPost, hComando},
    {"/api/tela", mPost, mPost, hComando},
    {"/api/audio/saida", mPut, mPut, hComando},
    {"/api/volume", mPut, mPut, hComando},
    {"/api/midia", mPost, mPost, hComando},
    {"/api/mouse", mPost, mPost, hComando},
    {"/api/teclado", mPost, mPost, hComando},
}};

unsigned BitMetodo(std::string_view metodo) {
    if (metodo == "GET") return mGet;
    if (metodo == "POST") return mPost;
    if (metodo == "PUT") return mPut;
    if (metodo == "DELETE") return mDelete;
    return 0;
}

const TRota* ProcurarRota(std::string_view caminho) {
    for (const TRota& r : ROTAS)
        if (r.Caminho == caminho) return &r;
    return nullptr;
}

void DefinirCabecalhosSeguranca(TRespostaHttp& resp) {
    resp.DefinirCabecalho("X-Content-Type-Options", "nosniff");
    resp.DefinirCabecalho("Referrer-Policy", "no-referrer");
    resp.DefinirCabecalho("X-Frame-Options", "DENY");
    resp.DefinirCabecalho("Content-Security-Policy", POLITICA_CONTEUDO);
}

bool SoDigitos(std::string_view texto) {
    for (char c : texto)
        if (c < '0' || c > '9') return false;
    return true;
}

// Nesting depth of a JSON text, counted without parsing: brackets inside strings do not count.
// False as soon as the depth exceeds the maximum.
bool ProfundidadeAceitavel(std::string_view texto) {
    int profundidade = 0;
    bool emTexto = false;
    bool escapado = false;
    for (char c : texto) {
        if (emTexto) {
            if (escapado)
                escapado = false;
            else if (c == '\\')
                escapado = true;
            else if (c == '"')
                emTexto = false;
            continue;
        }
        if (c == '"') {
            emTexto = true;
        } else if (c == '{' || c == '[') {
            if (++profundidade > PROFUNDIDADE_MAXIMA) return false;
        } else if (c == '}' || c == ']') {
            --profundidade;
        }
    }
    return true;
}

// Every item of the preflight's requested header list must be one the API reads. Items are
// separated by commas and may be spaced and in any letter case; empty items are ignored.
bool CabecalhosPedidosPermitidos(const TRequisicaoHttp& req) {
    for (const TCabecalhoHttp& c : req.Cabecalhos) {
        if (c.Nome != "access-control-request-headers") continue;
        std::string_view resto = c.Valor;
        for (;;) {
            const std::size_t virgula = resto.find(',');
            const std::string item = MinusculasAscii(Aparar(resto.substr(0, virgula)));
            if (!item.empty() && item != "authorization" && item != "content-type") return false;
            if (virgula == std::string_view::npos) break;
            resto.remove_prefix(virgula + 1);
        }
    }
    return true;
}

void ResponderPreflight(const TRequisicaoHttp& req, TRespostaHttp& resp) {
    if (req.ContarCabecalho("access-control-request-method") != 1 ||
        BitMetodo(req.Cabecalho("access-control-request-method")) == 0) {
        ResponderErro(resp, 405, "metodo_nao_permitido", serrometodo);
        return;
    }
    if (!CabecalhosPedidosPermitidos(req)) {
        ResponderErro(resp, 403, "origem_invalida", serroorigeminvalida);
        return;
    }
    resp.DefinirCabecalho("Access-Control-Allow-Methods", "GET, POST, PUT, DELETE");
    resp.DefinirCabecalho("Access-Control-Allow-Headers", "Authorization, Content-Type");
    ResponderVazio(resp, 204);
}

void EscreverResultado(const TResultadoComando& resultado, TRespostaHttp& resp) {
    if (resultado.Corpo)
        ResponderJson(resp, resultado.Status, *resultado.Corpo);
    else
        ResponderVazio(resp, resultado.Status);
}

void DespacharApi(const TRequisicaoHttp& req, TRespostaHttp& resp) {
    resp.DefinirCabecalho("Cache-Control", "no-store");
    if (req.Metodo == "OPTIONS") {
        ResponderErro(resp, 405, "metodo_nao_permitido", serrometodo);
        return;
    }
    const bool comCorpo = req.Metodo == "POST" || req.Metodo == "PUT";
    // Before the route is known, so an unknown path cannot tell a form post apart from a miss.
    if (comCorpo &&
        !MinusculasAscii(req.Cabecalho("content-type")).starts_with("application/json")) {
        ResponderErro(resp, 415, "tipo_invalido", serrotipoinvalido);
        return;
    }
    const TRota* rota = ProcurarRota(req.Caminho);
    if (rota == nullptr) {
        ResponderErro(resp, 404, "nao_encontrado", serronaoencontrado);
        return;
    }
    const unsigned metodo = BitMetodo(req.Metodo);
    if ((rota->Metodos & metodo) == 0) {
        ResponderErro(resp, 405, "metodo_nao_permitido", serrometodo);
        return;
    }
    if (rota->Manipulador == hParear && estado_api->Pausado()) {
        ResponderErro(resp, 503, "pausado", serropausado);
        return;
    }
    TDispositivo dispositivo;
    if ((rota->Autenticados & metodo) != 0 && !Autenticar(req, resp, dispositivo)) return;

    switch (rota->Manipulador) {
        case hPing:
            TratarPing(resp);
            return;
        case hParear:
            if (metodo == mPost)
                TratarParear(req, resp);
            else
                TratarDesparear(dispositivo, resp);
            return;
        case hStatus:
            TratarStatus(dispositivo, resp);
            return;
        case hTransferencia:
            TratarCriarTransferencia(req, resp);
            return;
        case hConsumir:
            TratarConsumirTransferencia(req, resp);
            return;
        case hAtalhos:
            EscreverResultado(ListarAtalhos(), resp);
            return;
        case hComando: {
            TJson corpo;
            if (!LerCorpoJson(req, resp, corpo)) return;
            const std::string comando = req.Caminho.substr(PREFIXO_API.size());
            EscreverResultado(ExecutarComando(comando, corpo, dispositivo.Nome, ocLocal), resp);
            return;
        }
    }
}

}  // namespace

const std::string& OrigemWeb() {
    static const std::string origem = VELORIN_ORIGEM_WEB;
    return origem;
}

void IniciarApi(TEstado& estado, TGestorAtalhos* atalhos) {
    estado_api = &estado;
    atalhos_api = atalhos;
    limitador_token =
        std::make_unique<TLimitador>(LIMITE_TOKEN, JANELA_LIMITE_S, BLOQUEIO_LIMITE_S);
    limitador_pareamento =
        std::make_unique<TLimitador>(LIMITE_PAREAMENTO, JANELA_LIMITE_S, BLOQUEIO_LIMITE_S);
    limitador_transferencia =
        std::make_unique<TLimitador>(LIMITE_TRANSFERENCIA, JANELA_LIMITE_S, BLOQUEIO_LIMITE_S);
    nome_proprio = MinusculasAscii(NomeComputador());
    pode_suspender = PodeSuspender();
}

void EncerrarApi() {
    limitador_token.reset();
    limitador_pareamento.reset();
    limitador_transferencia.reset();
    estado_api = nullptr;
    atalhos_api = nullptr;
    pode_suspender = false;
}

TEstado* EstadoApi() {
    return estado_api;
}
TGestorAtalhos* AtalhosApi() {
    return atalhos_api;
}
bool SuspensaoDisponivel() {
    return pode_suspender;
}
TLimitador* LimitadorPareamento() {
    return limitador_pareamento.get();
}
TLimitador* LimitadorTransferencia() {
    return limitador_transferencia.get();
}

bool HostPermitido(std::string_view valor) {
    const std::string texto = MinusculasAscii(Aparar(valor));
    // IPv6 literals are never ours to accept: the server listens on IPv4 only.
    if (texto.empty() || texto.front() == '[') return false;
    std::string_view host = texto;
    const std::size_t doisPontos = host.find(':');
    if (doisPontos != std::string_view::npos) {
        const std::string_view porta = host.substr(doisPontos + 1);
        if (porta.empty() || porta.size() > MAXIMO_DIGITOS_PORTA || !SoDigitos(porta)) return false;
        host = host.substr(0, doisPontos);
    }
    if (host.empty()) return false;
    std::uint32_t ip = 0;
    if (LerIpv4(host, ip)) return true;
    if (host == "localhost") return true;
    // A DNS name is only ours when it is this computer's own name; anything else may be a
    // rebinding name that points a foreign page at us.
    return !nome_proprio.empty() &&
           (host == nome_proprio || (host.size() == nome_proprio.size() + 6 &&
                                     host.starts_with(nome_proprio) && host.ends_with(".local")));
}

void TratarRequisicao(const TRequisicaoHttp& req, TRespostaHttp& resp) {
    DefinirCabecalhosSeguranca(resp);

    // The parser already refuses a repeated Host; the count is checked again because a second
    // value is exactly what a rebinding attempt through a confused proxy would look like.
    const std::string host = req.Cabecalho("host");
    if (req.ContarCabecalho("host") > 1 || !HostPermitido(host)) {
        ResponderErro(resp, 421, "host_invalido", serrohostinvalido);
        return;
    }

    const bool caminhoApi = req.Caminho.starts_with(PREFIXO_API);
    const int origens = req.ContarCabecalho("origin");
    const std::string origem = req.Cabecalho("origin");
    const bool chamadaCruzada =
        origens == 1 && !origem.empty() && origem == OrigemWeb() && caminhoApi;
    if (origens > 1 || (origens == 1 && !chamadaCruzada &&
                        MinusculasAscii(origem) != MinusculasAscii("http://" + host))) {
        ResponderErro(resp, 403, "origem_invalida", serroorigeminvalida);
        return;
    }

    if (chamadaCruzada) {
        resp.DefinirCabecalho("Cache-Control", "no-store");
        resp.DefinirCabecalho("Vary", "Origin");
        resp.DefinirCabecalho("Access-Control-Allow-Origin", origem);
        if (req.Metodo == "OPTIONS") {
            ResponderPreflight(req, resp);
            return;
        }
    }

    if (caminhoApi)
        DespacharApi(req, resp);
    else
        ServirArquivo(req, resp);
}

void TratarErroHttp(int status, TRespostaHttp& resp) {
    DefinirCabecalhosSeguranca(resp);
    resp.DefinirCabecalho("Cache-Control", "no-store");
    switch (status) {
        case 413:
            ResponderErro(resp, 413, "corpo_grande", serrocorpogrande);
            break;
        case 431:
            ResponderErro(resp, 431, "cabecalho_grande", serrocabecalhogrande);
            break;
        case 500:
            ResponderErro(resp, 500, "erro_interno", serrointerno);
            break;
        case 501:
            ResponderErro(resp, 501, "nao_suportado", serronaosuportado);
            break;
        default:
            ResponderErro(resp, status, "requisicao_invalida", serrorequisicaoinvalida);
            break;
    }
}

void ResponderJson(TRespostaHttp& resp, int status, const TJson& objeto) {
    // Texts that reach an answer (device and PC names from config.ini, say) are not all ours;
    // a stray invalid byte becomes U+FFFD instead of an exception that loses the answer.
    resp.Definir(status, TIPO_JSON, objeto.dump(-1, ' ', false, TJson::error_handler_t::replace));
}

void ResponderErro(TRespostaHttp& resp, int status, const std::string& codigo,
                   const std::string& mensagem) {
    TJson erro = TJson::object();
    erro["erro"] = codigo;
    erro["mensagem"] = mensagem;
    ResponderJson(resp, status, erro);
}

void ResponderLimite(TRespostaHttp& resp, std::int32_t segundos) {
    resp.DefinirCabecalho("Retry-After", std::to_string(segundos));
    ResponderErro(resp, 429, "limite", serrolimite);
}

void ResponderVazio(TRespostaHttp& resp, int status) {
    resp.Definir(status, "", "");
}

std::string TokenDoCabecalho(const TRequisicaoHttp& req) {
    constexpr std::string_view ESQUEMA = "bearer ";
    const std::string valor = req.Cabecalho("authorization");
    if (valor.size() < ESQUEMA.size() ||
        MinusculasAscii(valor.substr(0, ESQUEMA.size())) != ESQUEMA)
        return {};
    return Aparar(std::string_view(valor).substr(ESQUEMA.size()));
}

bool Autenticar(const TRequisicaoHttp& req, TRespostaHttp& resp, TDispositivo& dispositivo) {
    dispositivo = TDispositivo{};
    std::int32_t segundos = 0;
    if (limitador_token->Bloqueado(req.IpCliente, segundos)) {
        ResponderLimite(resp, segundos);
        return false;
    }
    // Only the Authorization header carries a token: a query string or a cookie would leak it
    // into histories and logs, and a cookie would ride along with cross-site requests.
    std::string token = TokenDoCabecalho(req);
    const bool apresentado = !token.empty();
    const bool ok = apresentado && estado_api->AutenticarToken(token, req.IpCliente, dispositivo);
    ApagarSegredo(token);
    if (ok) return true;
    limitador_token->RegistrarFalha(req.IpCliente);
    if (apresentado) LogFmt("Token invalido de %s", TextoParaLog(req.IpCliente, 64).c_str());
    ResponderErro(resp, 401, "nao_autorizado", serronaoautorizado);
    return false;
}

bool LerCorpoJson(const TRequisicaoHttp& req, TRespostaHttp& resp, TJson& objeto) {
    objeto = TJson::object();
    // The JSON parser takes a NUL byte for the end of its input and would accept whatever
    // follows it unread; valid JSON never holds a raw NUL, so such a body is refused whole.
    const bool semNulo = req.Corpo.find('\0') == std::string::npos;
    if (semNulo && ProfundidadeAceitavel(req.Corpo)) {
        TJson lido = TJson::parse(req.Corpo, nullptr, /*allow_exceptions=*/false);
        if (lido.is_object()) {
            objeto = std::move(lido);
            return true;
        }
    }
    ResponderErro(resp, 400, "requisicao_invalida", serrorequisicaoinvalida);
    return false;
}

namespace {

// The member when present and not null; nullptr otherwise.
const TJson* Membro(const TJson& objeto, const char* nome) {
    if (!objeto.is_object()) return nullptr;
    const auto it = objeto.find(nome);
    if (it == objeto.end() || it->is_null()) return nullptr;
    return &*it;
}

}  // namespace

bool LerTexto(const TJson& objeto, const char* nome, std::string& valor, bool& presente) {
    valor.clear();
    const TJson* m = Membro(objeto, nome);
    presente = m != nullptr;
    if (m == nullptr) return true;
    if (!m->is_string()) return false;
    valor = m->get<std::string>();
    return true;
}

bool LerInteiro(const TJson& objeto, const char* nome, std::int64_t minimo, std::int64_t maximo,
                std::int64_t& valor, bool& presente) {
    valor = 0;
    const TJson* m = Membro(objeto, nome);
    presente = m != nullptr;
    if (m == nullptr) return true;
    std::int64_t lido = 0;
    if (m->is_number_unsigned()) {
        const auto u = m->get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(INT64_MAX)) return false;
        lido = static_cast<std::int64_t>(u);
    } else if (m->is_number_integer()) {
        lido = m->get<std::int64_t>();
    } else if (m->is_number_float()) {
        // 50.0 is the number 50 as some JSON writers spell it; 50.5 is not an integer.
        // The bounds are 2^63 exactly; anything outside would not convert.
        const double d = m->get<double>();
        if (!std::isfinite(d) || std::trunc(d) != d) return false;
        if (d < -9223372036854775808.0 || d >= 9223372036854775808.0) return false;
        lido = static_cast<std::int64_t>(d);
    } else {
        return false;
    }
    if (lido < minimo || lido > maximo) return false;
    valor = lido;
    return true;
}

bool LerLogico(const TJson& objeto, const char* nome, bool& valor, bool& presente) {
    valor = false;
    const TJson* m = Membro(objeto, nome);
    presente = m != nullptr;
    if (m == nullptr) return true;
    if (!m->is_boolean()) return false;
    valor = m->get<bool>();
    return true;
}

}  // namespace velorin
