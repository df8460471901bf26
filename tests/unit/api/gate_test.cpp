// The request gate through the real server: Host and Origin rules, preflights, the dispatcher's
// method and content-type order, authentication and its limiter, the headers on every answer,
// and the JSON body rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/api.h"
#include "apoio_api.h"
#include "core/parametros.h"
#include "core/relogio.h"
#include "core/seguranca.h"
#include "core/texto.h"
#include "state/estado.h"

namespace velorin {
namespace {

using teste::TPedido;
using teste::TRespostaBruta;

std::string MaiusculasAscii(std::string texto) {
    for (char& c : texto)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return texto;
}

class Portao : public teste::TesteApi {};

// ---------------------------------------------------------------------------------------------
// Host

TEST_F(Portao, HostPermitidoPorValor) {
    const std::string proprio = MinusculasAscii(NomeComputador());
    struct Caso {
        std::string valor;
        bool aceito;
    };
    const std::vector<Caso> casos = {
        {"127.0.0.1:8765", true},
        {"127.0.0.1", true},
        {"192.168.0.10", true},
        {"8.8.8.8:80", true},  // any IPv4 literal: the check is about names, not ranges
        {"localhost", true},
        {"LocalHost:8765", true},
        {" \t127.0.0.1:8765 ", true},
        {"127.0.0.1:65535", true},
        {"127.0.0.1:99999", true},  // the port's value is never compared
        {proprio, true},
        {proprio + ":8765", true},
        {proprio + ".local", true},
        {MinusculasAscii(proprio) + ".LOCAL:80", true},
        {"", false},
        {"   ", false},
        {"[::1]:8765", false},
        {"[::1]", false},
        {"127.0.0.1:80x", false},
        {"127.0.0.1:", false},
        {"127.0.0.1:123456", false},
        {"127.0.0.1:+80", false},
        {":8765", false},
        {"localhost:8765:1", false},
        {"256.1.1.1", false},
        {"1.2.3", false},
        {"1.2.3.4.5", false},
        {"a.b.c.d", false},
        {"192.168.1.5.nip.io", false},
        {"localhost.attacker.example", false},
        {"attacker.example", false},
        {"localhost.", false},
        {proprio + ".attacker.example", false},
        {proprio + ".local.attacker.example", false},
        {"x" + proprio + ".local", false},
    };
    for (const auto& c : casos)
        EXPECT_EQ(HostPermitido(c.valor), c.aceito) << "[" << c.valor << "]";
}

TEST_F(Portao, HostPeloServidor) {
    struct Caso {
        std::string linhas;  // the Host line(s), or none
        int status;
    };
    const std::string proprio = NomeComputador();
    const std::vector<Caso> casos = {
        {"Host: 127.0.0.1:8765\r\n", 200},
        {"Host: localhost\r\n", 200},
        {"Host: " + proprio + ":8765\r\n", 200},
        {"Host: " + proprio + ".local\r\n", 200},
        {"Host: 192.168.1.5.nip.io\r\n", 421},
        {"Host: localhost.attacker.example:8765\r\n", 421},
        {"Host: [::1]:8765\r\n", 421},
        {"Host: 127.0.0.1:80x\r\n", 421},
        {"Host:\r\n", 421},
        // Two Host lines never reach the gate: the parser refuses the request itself.
        {"Host: 127.0.0.1\r\nHost: attacker.example\r\n", 400},
    };
    for (const auto& c : casos) {
        const TRespostaBruta r =
            teste::EnviarBytes(Porta(), "GET /api/ping HTTP/1.1\r\n" + c.linhas + "\r\n");
        EXPECT_EQ(r.Status, c.status) << c.linhas;
        if (c.status == 421) {
            EXPECT_EQ(r.Erro(), "host_invalido") << c.linhas;
        }
        if (c.status == 400) {
            EXPECT_EQ(r.Erro(), "requisicao_invalida") << c.linhas;
        }
    }
    // HTTP/1.0 may leave Host out; the gate then has no name to trust.
    const TRespostaBruta semHost = teste::EnviarBytes(Porta(), "GET /api/ping HTTP/1.0\r\n\r\n");
    EXPECT_EQ(semHost.Status, 421);
    // Nor do panel paths escape the check.
    const TRespostaBruta painel =
        teste::EnviarBytes(Porta(), "GET / HTTP/1.1\r\nHost: attacker.example\r\n\r\n");
    EXPECT_EQ(painel.Status, 421);
}

// ---------------------------------------------------------------------------------------------
// Origin and CORS

TEST_F(Portao, Origem) {
    const std::string host = "127.0.0.1:" + std::to_string(Porta());
    struct Caso {
        std::string caminho;
        std::vector<std::string> origens;
        int status;
        bool cors;  // the product's CORS headers expected
    };
    const std::vector<Caso> casos = {
        {"/api/ping", {}, 200, false},
        {"/api/ping", {"http://" + host}, 200, false},
        {"/api/ping", {"HTTP://127.0.0.1:" + std::to_string(Porta())}, 200, false},
        {"/index.html", {"http://" + host}, 200, false},
        {"/api/ping", {OrigemWeb()}, 200, true},
        {"/api/nada", {OrigemWeb()}, 404, true},
        {"/api/ping", {OrigemWeb() + "/"}, 403, false},
        {"/api/ping", {OrigemWeb() + ":443"}, 403, false},
        {"/api/ping", {MaiusculasAscii(OrigemWeb())}, 403, false},  // compared case-sensitively
        {"/index.html", {OrigemWeb()}, 403, false},
        {"/api", {OrigemWeb()}, 403, false},
        {"/api/ping", {"http://127.0.0.1"}, 403, false},  // the port is part of the origin
        {"/api/ping", {"https://" + host}, 403, false},
        {"/api/ping", {"http://attacker.example"}, 403, false},
        {"/api/ping", {"null"}, 403, false},
        {"/api/ping", {""}, 403, false},
        {"/api/ping", {"http://" + host, "http://" + host}, 403, false},
        {"/api/ping", {OrigemWeb(), OrigemWeb()}, 403, false},
    };
    for (const auto& c : casos) {
        TPedido p;
        p.Caminho = c.caminho;
        for (const auto& o : c.origens) p.Cabecalhos.emplace_back("Origin", o);
        const TRespostaBruta r = Pedir(p);
        const std::string rotulo = c.caminho + " " + (c.origens.empty() ? "-" : c.origens[0]);
        EXPECT_EQ(r.Status, c.status) << rotulo;
        if (c.status == 403) {
            EXPECT_EQ(r.Erro(), "origem_invalida") << rotulo;
        }
        if (c.cors) {
            EXPECT_EQ(r.Cabecalho("access-control-allow-origin"), OrigemWeb()) << rotulo;
            EXPECT_EQ(r.Cabecalho("vary"), "Origin") << rotulo;
            EXPECT_EQ(r.Cabecalho("cache-control"), "no-store") << rotulo;
        } else {
            EXPECT_EQ(r.ContarCabecalho("access-control-allow-origin"), 0) << rotulo;
        }
    }
}

TEST_F(Portao, Preflight) {
    struct Caso {
        std::vector<std::string> metodos;     // access-control-request-method lines
        std::vector<std::string> cabecalhos;  // access-control-request-headers lines
        int status;
    };
    const std::vector<Caso> casos = {
        {{"PUT"}, {"authorization, content-type"}, 204},
        {{"GET"}, {"Authorization"}, 204},
        {{"DELETE"}, {}, 204},
        {{"POST"}, {" Content-Type ,AUTHORIZATION "}, 204},
        {{"POST"}, {"authorization,,content-type"}, 204},
        {{"POST"}, {"authorization, content-type, x-custom"}, 403},
        {{"POST"}, {"authorization", "cookie"}, 403},
        {{"POST"}, {"content-type;x"}, 403},
        {{"PATCH"}, {"authorization"}, 405},
        {{"put"}, {"authorization"}, 405},  // method names are case-sensitive
        {{"OPTIONS"}, {}, 405},
        {{""}, {}, 405},
        {{}, {"authorization"}, 405},
        {{"GET", "GET"}, {}, 405},
    };
    for (const char* caminho : {"/api/volume", "/api/nao-existe"}) {
        for (const auto& c : casos) {
            TPedido p;
            p.Metodo = "OPTIONS";
            p.Caminho = caminho;
            p.Cabecalhos.emplace_back("Origin", OrigemWeb());
            for (const auto& m : c.metodos)
                p.Cabecalhos.emplace_back("Access-Control-Request-Method", m);
            for (const auto& h : c.cabecalhos)
                p.Cabecalhos.emplace_back("access-control-request-headers", h);
            const TRespostaBruta r = Pedir(p);
            const std::string rotulo = std::string(caminho) + " " +
                                       (c.metodos.empty() ? "-" : c.metodos[0]) + " " +
                                       (c.cabecalhos.empty() ? "-" : c.cabecalhos[0]);
            EXPECT_EQ(r.Status, c.status) << rotulo;
            EXPECT_EQ(r.Cabecalho("access-control-allow-origin"), OrigemWeb()) << rotulo;
            if (c.status == 204) {
                EXPECT_EQ(r.Cabecalho("access-control-allow-methods"), "GET, POST, PUT, DELETE");
                EXPECT_EQ(r.Cabecalho("access-control-allow-headers"),
                          "Authorization, Content-Type");
                EXPECT_TRUE(r.Corpo.empty());
            } else {
                EXPECT_EQ(r.Erro(), c.status == 405 ? "metodo_nao_permitido" : "origem_invalida")
                    << rotulo;
                EXPECT_EQ(r.ContarCabecalho("access-control-allow-methods"), 0) << rotulo;
            }
        }
    }
    // The preflight answer is never authenticated, so it must not feed the token limiter.
    const std::string token = Parear("Ana");
    EXPECT_EQ(Get("/api/status", token).Status, 200);
}

// ---------------------------------------------------------------------------------------------
// Dispatcher order

TEST_F(Portao, MetodoTipoERota) {
    struct Caso {
        std::string metodo;
        std::string caminho;
        std::string tipo;
        int status;
        std::string erro;
    };
    const std::vector<Caso> casos = {
        {"POST", "/api/nao-existe", "text/plain; charset=utf-8", 415, "tipo_invalido"},
        {"POST", "/api/parear", "text/plain", 415, "tipo_invalido"},
        {"PUT", "/api/volume", "", 415, "tipo_invalido"},
        {"POST", "/api/parear", "application/x-www-form-urlencoded", 415, "tipo_invalido"},
        {"POST", "/api/ping", "Application/JSON; Charset=UTF-8", 405, "metodo_nao_permitido"},
        {"POST", "/api/nao-existe", "application/json", 404, "nao_encontrado"},
        {"GET", "/api/nao-existe", "", 404, "nao_encontrado"},
        {"DELETE", "/api/nao-existe", "", 404, "nao_encontrado"},
        {"GET", "/api/Ping", "", 404, "nao_encontrado"},
        {"GET", "/api/ping/", "", 404, "nao_encontrado"},
        {"GET", "/api/", "", 404, "nao_encontrado"},
        {"DELETE", "/api/status", "", 405, "metodo_nao_permitido"},
        {"PATCH", "/api/status", "", 405, "metodo_nao_permitido"},
        {"HEAD", "/api/ping", "", 405, "metodo_nao_permitido"},
        {"GET", "/api/volume", "", 405, "metodo_nao_permitido"},
        {"POST", "/api/volume", "application/json", 405, "metodo_nao_permitido"},
        {"OPTIONS", "/api/status", "", 405, "metodo_nao_permitido"},
        {"GET", "/api/ping", "", 200, ""},
        {"GET", "/api/ping?x=1", "", 200, ""},
    };
    for (const auto& c : casos) {
        TPedido p;
        p.Metodo = c.metodo;
        p.Caminho = c.caminho;
        p.TipoConteudo = c.tipo;
        p.Corpo = c.metodo == "POST" || c.metodo == "PUT" ? "{}" : "";
        const TRespostaBruta r = Pedir(p);
        EXPECT_EQ(r.Status, c.status) << c.metodo << " " << c.caminho << " " << c.tipo;
        EXPECT_EQ(r.Erro(), c.erro) << c.metodo << " " << c.caminho;
    }
    // OPTIONS from the same host is no preflight either.
    TPedido mesmoHost;
    mesmoHost.Metodo = "OPTIONS";
    mesmoHost.Caminho = "/api/status";
    mesmoHost.Cabecalhos.emplace_back("Origin", "http://127.0.0.1:" + std::to_string(Porta()));
    mesmoHost.Cabecalhos.emplace_back("Access-Control-Request-Method", "GET");
    EXPECT_EQ(Pedir(mesmoHost).Status, 405);
}

TEST_F(Portao, CaminhosForaDaApiVaoAoPainel) {
    const TRespostaBruta indice = Get("/index.html");
    EXPECT_EQ(indice.Status, 200);
    EXPECT_NE(indice.Corpo.find("painel"), std::string::npos);
    // "/api" alone and other letter cases are panel paths, not API routes.
    for (const char* caminho : {"/api", "/API/ping", "/apix"}) {
        const TRespostaBruta r = Get(caminho);
        EXPECT_EQ(r.Status, 404) << caminho;
        EXPECT_NE(r.Cabecalho("content-type").rfind("text/plain", 0), std::string::npos) << caminho;
    }
}

// ---------------------------------------------------------------------------------------------
// Headers on every answer

TEST_F(Portao, CabecalhosDeSegurancaEmTodaResposta) {
    const std::string token = Parear("Ana");
    struct Caso {
        std::string bytes;
        int status;
        bool api;
    };
    const std::string host = "Host: 127.0.0.1\r\n";
    const std::vector<Caso> casos = {
        {"GET /api/ping HTTP/1.1\r\n" + host + "\r\n", 200, true},
        {"GET /api/status HTTP/1.1\r\n" + host + "Authorization: Bearer " + token + "\r\n\r\n", 200,
         true},
        {"GET /api/status HTTP/1.1\r\n" + host + "\r\n", 401, true},
        {"GET /api/ping HTTP/1.1\r\nHost: attacker.example\r\n\r\n", 421, false},
        {"GET /api/ping HTTP/1.1\r\n" + host + "Origin: null\r\n\r\n", 403, false},
        {"GET /api/x HTTP/1.1\r\n" + host + "\r\n", 404, true},
        {"POST /api/x HTTP/1.1\r\n" + host + "Content-Length: 0\r\n\r\n", 415, true},
        {"GET /index.html HTTP/1.1\r\n" + host + "\r\n", 200, false},
        {"GET /nada.js HTTP/1.1\r\n" + host + "\r\n", 404, false},
        // Refused by the parser: the error handler answers.
        {"GET /api/ping HTTP/1.1\r\n\r\n", 400, true},
        {"GET /api/ping HTTP/2.0\r\n" + host + "\r\n", 505, true},
        {"POST /api/parear HTTP/1.1\r\n" + host + "Content-Length: 999999\r\n\r\n", 413, true},
        {"POST /api/parear HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n", 501, true},
    };
    for (const auto& c : casos) {
        const TRespostaBruta r = teste::EnviarBytes(Porta(), c.bytes);
        const std::string rotulo = c.bytes.substr(0, c.bytes.find("\r\n"));
        EXPECT_EQ(r.Status, c.status) << rotulo;
        EXPECT_EQ(r.ContarCabecalho("x-content-type-options"), 1) << rotulo;
        EXPECT_EQ(r.Cabecalho("x-content-type-options"), "nosniff") << rotulo;
        EXPECT_EQ(r.Cabecalho("referrer-policy"), "no-referrer") << rotulo;
        EXPECT_EQ(r.Cabecalho("x-frame-options"), "DENY") << rotulo;
        EXPECT_NE(r.Cabecalho("content-security-policy").find("frame-ancestors 'none'"),
                  std::string::npos)
            << rotulo;
        if (c.api) {
            EXPECT_EQ(r.Cabecalho("cache-control"), "no-store") << rotulo;
            EXPECT_EQ(r.ContarCabecalho("cache-control"), 1) << rotulo;
            EXPECT_EQ(r.Cabecalho("content-type"), "application/json; charset=utf-8") << rotulo;
            EXPECT_TRUE(r.Json().is_object()) << rotulo;
        }
        EXPECT_EQ(r.Cabecalho("connection"), "close") << rotulo;
    }
}

TEST(PortaoSemServidor, ErrosDoParser) {
    struct Caso {
        int status;
        const char* erro;
        const char* mensagem;
    };
    const Caso casos[] = {
        {400, "requisicao_invalida", "Requisição inválida."},
        {413, "corpo_grande", "Requisição grande demais."},
        {414, "requisicao_invalida", "Requisição inválida."},
        {431, "cabecalho_grande", "Cabeçalhos grandes demais."},
        {500, "erro_interno", "Erro inesperado no PC."},
        {501, "nao_suportado", "Não suportado."},
        {505, "requisicao_invalida", "Requisição inválida."},
    };
    for (const auto& c : casos) {
        TRespostaHttp resp;
        TratarErroHttp(c.status, resp);
        EXPECT_EQ(resp.Status, c.status);
        // Exactly the two members, in this order.
        EXPECT_EQ(resp.Corpo, TJson({{"erro", c.erro}, {"mensagem", c.mensagem}}).dump())
            << c.status;
        EXPECT_EQ(resp.TipoConteudo, "application/json; charset=utf-8");
    }
}

// ---------------------------------------------------------------------------------------------
// Authentication

struct TRotaAutenticada {
    const char* metodo;
    const char* caminho;
};
constexpr TRotaAutenticada ROTAS_AUTENTICADAS[] = {
    {"DELETE", "/api/parear"},
    {"GET", "/api/status"},
    {"POST", "/api/transferencia"},
    {"GET", "/api/atalhos"},
    {"POST", "/api/atalhos/abrir"},
    {"POST", "/api/energia"},
    {"POST", "/api/energia/cancelar"},
    {"POST", "/api/tela"},
    {"PUT", "/api/audio/saida"},
    {"PUT", "/api/volume"},
    {"POST", "/api/midia"},
    {"POST", "/api/mouse"},
    {"POST", "/api/teclado"},
};

// A body each route would act on, so a missed check shows as a side effect.
std::string CorpoQueAgiria(const std::string& caminho) {
    if (caminho == "/api/energia") return R"({"acao":"desligar","atrasoSegundos":600})";
    if (caminho == "/api/volume") return R"({"nivel":7,"mudo":true})";
    if (caminho == "/api/tela") return R"({"acao":"apagar"})";
    if (caminho == "/api/audio/saida") return R"({"id":"sim-fone"})";
    if (caminho == "/api/midia") return R"({"acao":"proxima"})";
    if (caminho == "/api/mouse") return R"({"acao":"clique"})";
    if (caminho == "/api/teclado") return R"({"tecla":"enter"})";
    return "{}";
}

TEST_F(Portao, RotasAutenticadasRecusamSemTokenValido) {
    std::string idAna;
    const std::string token = Parear("Ana", &idAna);
    ASSERT_FALSE(token.empty());
    std::string idRevogado;
    const std::string revogado = Parear("Bia", &idRevogado);
    ASSERT_TRUE(Estado().RemoverDispositivo(idRevogado));
    const std::size_t logAntes = Log().size();

    struct Variante {
        const char* nome;
        std::vector<std::pair<std::string, std::string>> cabecalhos;
        std::string consulta;
        bool registra;  // a token was presented, so the failure is logged
    };
    const std::vector<Variante> variantes = {
        {"sem cabecalho", {}, "", false},
        {"outro esquema", {{"Authorization", "Basic " + token}}, "", false},
        {"sem espaco", {{"Authorization", "Bearer" + token}}, "", false},
        {"token malformado", {{"Authorization", "Bearer abc"}}, "", true},
        {"token com sobra", {{"Authorization", "Bearer " + token + "x"}}, "", true},
        {"token desconhecido", {{"Authorization", "Bearer " + NovoToken()}}, "", true},
        {"token revogado", {{"Authorization", "Bearer " + revogado}}, "", true},
        {"so na consulta", {}, "?token=" + token + "&access_token=" + token, false},
        {"so em cookie", {{"Cookie", "token=" + token}}, "", false},
    };
    // One client address per variant keeps every address below the limiter's threshold.
    int indice = 0;
    for (const auto& v : variantes) {
        const std::string de = "127.0.0." + std::to_string(10 + indice++);
        for (const auto& rota : ROTAS_AUTENTICADAS) {
            TPedido p;
            p.Metodo = rota.metodo;
            p.Caminho = std::string(rota.caminho) + v.consulta;
            p.Corpo = p.Metodo == "POST" || p.Metodo == "PUT" ? CorpoQueAgiria(rota.caminho) : "";
            p.Cabecalhos = v.cabecalhos;
            p.De = de;
            const TRespostaBruta r = Pedir(p);
            EXPECT_EQ(r.Status, 401) << v.nome << " " << rota.metodo << " " << rota.caminho;
            EXPECT_EQ(r.Erro(), "nao_autorizado") << v.nome << " " << rota.caminho;
        }
        const std::string novo = Log().substr(logAntes);
        EXPECT_EQ(novo.find("Token invalido de " + de) != std::string::npos, v.registra) << v.nome;
    }
    // Nothing happened: the device is still paired, nothing scheduled, volume as it was.
    ASSERT_EQ(Estado().Dispositivos().size(), 1u);
    EXPECT_EQ(Estado().Dispositivos()[0].Id, idAna);
    EXPECT_EQ(Estado().ObterAgendamento().Acao, ACAO_NENHUMA);
    const TJson status = Get("/api/status", token).Json();
    EXPECT_EQ(status["volume"]["nivel"], 50);
    EXPECT_EQ(status["volume"]["mudo"], false);
    EXPECT_EQ(status["tela"]["ligada"], nullptr);
    EXPECT_EQ(status["audio"]["saidas"][0]["padrao"], true);
    // Tokens never reach the log.
    EXPECT_EQ(Log().find(token), std::string::npos);
    EXPECT_EQ(Log().find(revogado), std::string::npos);
}

TEST_F(Portao, EsquemaEmQualquerCaixa) {
    const std::string token = Parear("Ana");
    for (const std::string& esquema :
         std::vector<std::string>{"Bearer ", "bearer ", "BEARER ", "bEaReR \t "}) {
        TPedido p;
        p.Caminho = "/api/status";
        p.Cabecalhos.emplace_back("Authorization", esquema + token + " ");
        EXPECT_EQ(Pedir(p).Status, 200) << "[" << esquema << "]";
    }
}

TEST_F(Portao, LimitadorDeTokenPorEnderecoDoCliente) {
    const std::string token = Parear("Ana");
    const std::string errado = NovoToken();
    // Nineteen failures leave the address usable, the twentieth blocks it; missing headers
    // count as failures too.
    for (int i = 0; i < 19; ++i)
        ASSERT_EQ(Get("/api/status", i % 2 ? errado : "", "127.0.0.2").Status, 401) << i;
    EXPECT_EQ(Get("/api/status", token, "127.0.0.2").Status, 200);
    EXPECT_EQ(Get("/api/atalhos", errado, "127.0.0.2").Status, 401);

    const TRespostaBruta bloqueado = Get("/api/status", token, "127.0.0.2");
    EXPECT_EQ(bloqueado.Status, 429);
    EXPECT_EQ(bloqueado.Erro(), "limite");
    EXPECT_EQ(bloqueado.Cabecalho("retry-after"), "600");
    // Any authenticated route, and a forwarded-for header claiming another client changes nothing.
    TPedido encaminhado;
    encaminhado.Metodo = "PUT";
    encaminhado.Caminho = "/api/volume";
    encaminhado.Corpo = R"({"nivel":10})";
    encaminhado.Token = token;
    encaminhado.De = "127.0.0.2";
    encaminhado.Cabecalhos = {{"X-Forwarded-For", "127.0.0.3"}, {"X-Real-IP", "127.0.0.3"}};
    EXPECT_EQ(Pedir(encaminhado).Status, 429);
    // Routes without authentication stay open to it.
    EXPECT_EQ(Get("/api/ping", "", "127.0.0.2").Status, 200);
    // Another address is served.
    EXPECT_EQ(Get("/api/status", token, "127.0.0.3").Status, 200);

    AvancarRelogioTeste(100'000);
    EXPECT_EQ(Get("/api/status", token, "127.0.0.2").Cabecalho("retry-after"), "500");
    AvancarRelogioTeste(499'500);
    EXPECT_EQ(Get("/api/status", token, "127.0.0.2").Cabecalho("retry-after"), "1");
    AvancarRelogioTeste(500);
    EXPECT_EQ(Get("/api/status", token, "127.0.0.2").Status, 200);
}

TEST_F(Portao, EncaminhadoNaoMudaAChave) {
    const std::string token = Parear("Ana");
    // Failures that claim to come from 127.0.0.5 are counted against the real peer.
    for (int i = 0; i < 20; ++i) {
        TPedido p;
        p.Caminho = "/api/status";
        p.Token = NovoToken();
        p.De = "127.0.0.4";
        p.Cabecalhos = {{"X-Forwarded-For", "127.0.0.5"}, {"Forwarded", "for=127.0.0.5"}};
        ASSERT_EQ(Pedir(p).Status, 401);
    }
    EXPECT_EQ(Get("/api/status", token, "127.0.0.5").Status, 200);
    EXPECT_EQ(Get("/api/status", token, "127.0.0.4").Status, 429);
}

// ---------------------------------------------------------------------------------------------
// JSON body and member readers

TEST(CorpoJson, ProfundidadeTipoEVazio) {
    struct Caso {
        std::string corpo;
        bool aceito;
    };
    const std::vector<Caso> casos = {
        {R"({"a":{"b":{"c":{"d":1}}}})", true},
        {R"({"a":{"b":{"c":{"d":{"e":1}}}}})", false},
        {R"({"a":[[[1]]]})", true},
        {R"({"a":[[[[1]]]]})", false},
        {R"({"a":"{{{{{{[[[[["})", true},
        {R"({"a":"\"{{{{{{[[[[["})", true},  // an escaped quote does not end the string
        {R"({"a":"\\","b":{"c":{"d":{"e":{}}}}})", false},      // an escaped backslash does
        {R"({"a":{}, "b":{}, "c":{}, "d":{}, "e":{}})", true},  // breadth is not depth
        {R"({})", true},
        {" \r\n{\"x\":1}\t", true},
        {"[]", false},
        {R"([{"a":1}])", false},
        {"", false},
        {" ", false},
        {"null", false},
        {"1", false},
        {R"("texto")", false},
        {R"({"a":1)", false},
        {R"({"a":1}{})", false},
        {R"({"a":1} x)", false},
        {"{\"a\":\"\xff\"}", false},                          // not UTF-8
        {std::string("{\"a\":1}\0{\"b\":[[[[[", 18), false},  // nothing hides behind a NUL
        {std::string("{\"a\":1}\0", 8), false},
        {std::string("{\"a\":\"x\0y\"}", 11), false},
        {R"({a:1})", false},
        {std::string(5000, '[') + std::string(5000, ']'), false},
    };
    for (const auto& c : casos) {
        TRequisicaoHttp req;
        req.Corpo = c.corpo;
        TRespostaHttp resp;
        TJson objeto;
        EXPECT_EQ(LerCorpoJson(req, resp, objeto), c.aceito) << c.corpo.substr(0, 60);
        if (c.aceito) {
            EXPECT_TRUE(objeto.is_object());
        } else {
            EXPECT_EQ(resp.Status, 400);
            EXPECT_EQ(resp.Corpo,
                      R"({"erro":"requisicao_invalida","mensagem":"Requisição inválida."})");
        }
    }
}

TEST(CorpoJson, LeitoresDeMembros) {
    const TJson j = TJson::parse(R"({
        "texto": "olá", "vazio": "", "nulo": null, "n50": 50, "n50f": 50.0, "n50m": 50.5,
        "neg": -3, "grande": 18446744073709551615, "exp": 1e2, "verdade": true, "falso": false,
        "lista": [1], "obj": {}, "numTexto": "10", "zero": 0, "menosZero": -0.0,
        "enorme": 1e300, "Texto": 1
    })");
    std::string s;
    bool presente = true;
    EXPECT_TRUE(LerTexto(j, "texto", s, presente));
    EXPECT_TRUE(presente);
    EXPECT_EQ(s, "olá");
    EXPECT_TRUE(LerTexto(j, "vazio", s, presente));
    EXPECT_TRUE(presente);
    EXPECT_EQ(s, "");
    for (const char* ausente : {"nulo", "falta", "TEXTO"}) {
        s = "x";
        EXPECT_TRUE(LerTexto(j, ausente, s, presente)) << ausente;
        EXPECT_FALSE(presente) << ausente;
        EXPECT_EQ(s, "") << ausente;
    }
    for (const char* errado : {"n50", "verdade", "lista", "obj", "Texto"})
        EXPECT_FALSE(LerTexto(j, errado, s, presente)) << errado;

    struct CasoInteiro {
        const char* nome;
        std::int64_t minimo, maximo;
        bool ok;
        bool presente;
        std::int64_t valor;
    };
    const CasoInteiro inteiros[] = {
        {"n50", 0, 100, true, true, 50},          {"n50f", 0, 100, true, true, 50},
        {"exp", 0, 100, true, true, 100},         {"zero", 0, 0, true, true, 0},
        {"menosZero", 0, 10, true, true, 0},      {"neg", -10, 10, true, true, -3},
        {"nulo", 0, 100, true, false, 0},         {"falta", 0, 100, true, false, 0},
        {"n50m", 0, 100, false, true, 0},         {"n50", 0, 49, false, true, 0},
        {"n50", 51, 100, false, true, 0},         {"neg", 0, 10, false, true, 0},
        {"grande", 0, INT64_MAX, false, true, 0}, {"enorme", INT64_MIN, INT64_MAX, false, true, 0},
        {"numTexto", 0, 100, false, true, 0},     {"verdade", 0, 100, false, true, 0},
        {"lista", 0, 100, false, true, 0},
    };
    for (const auto& c : inteiros) {
        std::int64_t v = -99;
        const bool ok = LerInteiro(j, c.nome, c.minimo, c.maximo, v, presente);
        EXPECT_EQ(ok, c.ok) << c.nome;
        EXPECT_EQ(presente, c.presente) << c.nome;
        if (ok) {
            EXPECT_EQ(v, c.valor) << c.nome;
        }
    }

    bool b = true;
    EXPECT_TRUE(LerLogico(j, "verdade", b, presente));
    EXPECT_TRUE(b && presente);
    EXPECT_TRUE(LerLogico(j, "falso", b, presente));
    EXPECT_FALSE(b);
    EXPECT_TRUE(presente);
    EXPECT_TRUE(LerLogico(j, "nulo", b, presente));
    EXPECT_FALSE(b || presente);
    for (const char* errado : {"zero", "texto", "numTexto", "obj"})
        EXPECT_FALSE(LerLogico(j, errado, b, presente)) << errado;

    // A reader pointed at something that is no object finds nothing.
    EXPECT_TRUE(LerTexto(TJson::array(), "texto", s, presente));
    EXPECT_FALSE(presente);
}

TEST_F(Portao, CorpoRecusadoPeloServidor) {
    const std::string token = Parear("Ana");
    for (const char* corpo : {"", "[]", "[1,2]", R"({"a":{"b":{"c":{"d":{"e":1}}}}})", "{"}) {
        TPedido p;
        p.Metodo = "POST";
        p.Caminho = "/api/transferencia";
        p.Token = token;
        p.Corpo = corpo;
        const TRespostaBruta r = Pedir(p);
        EXPECT_EQ(r.Status, 400) << corpo;
        EXPECT_EQ(r.Erro(), "requisicao_invalida") << corpo;
    }
}

}  // namespace
}  // namespace velorin
