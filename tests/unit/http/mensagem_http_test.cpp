#include "http/mensagem_http.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velorin {
namespace {

struct TCasoCabeca {
    const char* nome;
    std::string bruto;
    int resultado;
    int status;
};

std::string Linhas(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "X-" + std::to_string(i) + ": v\r\n";
    return s;
}

// A complete head of exactly `total` bytes: the filler header's value is sized to fit.
std::string CabecaComTamanho(std::size_t total) {
    const std::string inicio = "GET / HTTP/1.1\r\nHost: x\r\nX-Encher: ";
    const std::string fim = "\r\n\r\n";
    return inicio + std::string(total - inicio.size() - fim.size(), 'a') + fim;
}

std::string ComAlvo(std::size_t tamanho) {
    return "GET /" + std::string(tamanho - 1, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n";
}

const std::string H = "Host: x\r\n";

TEST(AnalisarCabeca, TabelaDeCabecas) {
    const std::vector<TCasoCabeca> casos = {
        // Incomplete heads ask for more, until the buffer passes the head limit.
        {"sem linha em branco", "GET / HTTP/1.1\r\nHost: x\r\n", 0, 0},
        {"vazio", "", 0, 0},
        {"LF nu como fim de cabeca nunca termina", "GET / HTTP/1.1\nHost: x\n\n", 0, 0},
        {"8192 bytes sem linha em branco", "GET / HTTP/1.1\r\nX: " + std::string(8192 - 19, 'a'), 0, 0},
        {"8193 bytes sem linha em branco", "GET / HTTP/1.1\r\nX: " + std::string(8193 - 19, 'a'), 2, 431},
        {"linha de cabecalho maior que o limite", "GET / HTTP/1.1\r\nX: " + std::string(9000, 'a'), 2, 431},
        // Head size.
        {"cabeca de 8192 bytes", CabecaComTamanho(8192), 1, 0},
        {"cabeca de 8193 bytes", CabecaComTamanho(8193), 2, 431},
        // Request line.
        {"minima", "GET / HTTP/1.1\r\n" + H + "\r\n", 1, 0},
        {"HTTP/1.0 sem Host", "GET / HTTP/1.0\r\n\r\n", 1, 0},
        {"metodo minusculo", "get / HTTP/1.1\r\n" + H + "\r\n", 2, 400},
        {"metodo de 10 letras", "ABCDEFGHIJ / HTTP/1.1\r\n" + H + "\r\n", 1, 0},
        {"metodo de 11 letras", "ABCDEFGHIJK / HTTP/1.1\r\n" + H + "\r\n", 2, 400},
        {"metodo com digito", "GET2 / HTTP/1.1\r\n" + H + "\r\n", 2, 400},
        {"dois brancos seguidos", "GET  / HTTP/1.1\r\n" + H + "\r\n", 2, 400},
        {"quatro partes", "GET / x HTTP/1.1\r\n" + H + "\r\n", 2, 400},
        {"duas partes", "GET /\r\n" + H + "\r\n", 2, 400},
        {"tab como separador", "GET\t/ HTTP/1.1\r\n" + H + "\r\n", 2, 400},
        {"HTTP/2.0", "GET / HTTP/2.0\r\n" + H + "\r\n", 2, 505},
        {"prefacio HTTP/2", std::string("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n"), 2, 505},
        {"versao minuscula", "GET / http/1.1\r\n" + H + "\r\n", 2, 505},
        {"metodo invalido vence versao invalida", "get / HTTP/2.0\r\n\r\n", 2, 400},
        {"alvo sem barra", "GET api HTTP/1.1\r\n" + H + "\r\n", 2, 400},
        {"alvo asterisco", "OPTIONS * HTTP/1.1\r\n" + H + "\r\n", 2, 400},
        {"alvo absoluto", "GET http://x/ HTTP/1.1\r\n" + H + "\r\n", 2, 400},
        {"alvo de 1024", ComAlvo(1024), 1, 0},
        {"alvo de 1025", ComAlvo(1025), 2, 414},
        {"alvo com byte alto", "GET /\xC3\xA9 HTTP/1.1\r\n" + H + "\r\n", 2, 400},
        {"alvo com NUL", std::string("GET /a\0b HTTP/1.1\r\n", 19) + H + "\r\n", 2, 400},
        {"LF nu na linha de pedido", "GET / HTTP/1.1\nHost: x\r\n\r\n", 2, 400},
        // Header lines.
        {"dobra com branco", "GET / HTTP/1.1\r\n" + H + "X: a\r\n b\r\n\r\n", 2, 400},
        {"dobra com tab", "GET / HTTP/1.1\r\n" + H + "X: a\r\n\tb\r\n\r\n", 2, 400},
        {"sem dois pontos", "GET / HTTP/1.1\r\n" + H + "Xa\r\n\r\n", 2, 400},
        {"nome vazio", "GET / HTTP/1.1\r\n" + H + ": a\r\n\r\n", 2, 400},
        {"branco antes dos dois pontos", "GET / HTTP/1.1\r\nHost : x\r\n\r\n", 2, 400},
        {"nome com barra", "GET / HTTP/1.1\r\n" + H + "X/Y: a\r\n\r\n", 2, 400},
        {"simbolos de token", "GET / HTTP/1.1\r\n" + H + "!#$%&'*+-.^_`|~: a\r\n\r\n", 1, 0},
        {"valor com NUL no meio", std::string("GET / HTTP/1.1\r\nX: a\0b\r\n", 25) + H + "\r\n", 2, 400},
        {"valor com NUL no fim", std::string("GET / HTTP/1.1\r\nX: a\0\r\n", 24) + H + "\r\n", 2, 400},
        {"valor com LF nu no meio", "GET / HTTP/1.1\r\n" + H + "X: a\nContent-Length: 5\r\n\r\n", 2, 400},
        // A bare LF before the CR LF would end the head early for a parser that accepts bare LF.
        {"valor com LF nu no fim", "GET / HTTP/1.1\r\n" + H + "X: a\n\r\nContent-Length: 5\r\n\r\n", 2, 400},
        {"valor com CR nu", "GET / HTTP/1.1\r\n" + H + "X: a\rb\r\n\r\n", 2, 400},
        {"valor com tab", "GET / HTTP/1.1\r\n" + H + "X: a\tb\r\n\r\n", 1, 0},
        {"linha so com LF", "GET / HTTP/1.1\r\n" + H + "\n\r\n\r\n", 2, 400},
        {"LF nu antes do fim da cabeca", "GET / HTTP/1.1\r\n" + H + "\n\r\n", 0, 0},
        {"50 cabecalhos", "GET / HTTP/1.1\r\n" + H + Linhas(49) + "\r\n", 1, 0},
        {"51 cabecalhos", "GET / HTTP/1.1\r\n" + H + Linhas(50) + "\r\n", 2, 431},
        {"51a linha malformada da 400", "GET / HTTP/1.1\r\n" + H + Linhas(49) + " x\r\n\r\n", 2, 400},
        // Whole-head rules.
        {"HTTP/1.1 sem Host", "GET / HTTP/1.1\r\n\r\n", 2, 400},
        {"dois Host", "GET / HTTP/1.1\r\n" + H + H + "\r\n", 2, 400},
        {"dois Host em HTTP/1.0", "GET / HTTP/1.0\r\n" + H + H + "\r\n", 2, 400},
        {"Host em caixa mista", "GET / HTTP/1.1\r\nHOST: x\r\n\r\n", 1, 0},
        {"chunked", "POST / HTTP/1.1\r\n" + H + "Transfer-Encoding: chunked\r\n\r\n", 2, 501},
        {"Transfer-Encoding com Content-Length", "POST / HTTP/1.1\r\n" + H + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n", 2, 501},
        {"Transfer-Encoding identity", "POST / HTTP/1.1\r\n" + H + "Transfer-Encoding: identity\r\n\r\n", 2, 501},
        {"Content-Length 8192", "POST / HTTP/1.1\r\n" + H + "Content-Length: 8192\r\n\r\n", 1, 0},
        {"Content-Length 8193", "POST / HTTP/1.1\r\n" + H + "Content-Length: 8193\r\n\r\n", 2, 413},
        {"Content-Length 9000", "POST / HTTP/1.1\r\n" + H + "Content-Length: 9000\r\n\r\n", 2, 413},
        {"Content-Length de 7 digitos", "POST / HTTP/1.1\r\n" + H + "Content-Length: 0000001\r\n\r\n", 1, 0},
        {"Content-Length de 8 digitos", "POST / HTTP/1.1\r\n" + H + "Content-Length: 00000001\r\n\r\n", 2, 400},
        {"Content-Length que transborda", "POST / HTTP/1.1\r\n" + H + "Content-Length: 99999999999999999999999\r\n\r\n", 2, 400},
        {"Content-Length 1x", "POST / HTTP/1.1\r\n" + H + "Content-Length: 1x\r\n\r\n", 2, 400},
        {"Content-Length com sinal +", "POST / HTTP/1.1\r\n" + H + "Content-Length: +5\r\n\r\n", 2, 400},
        {"Content-Length negativo", "POST / HTTP/1.1\r\n" + H + "Content-Length: -1\r\n\r\n", 2, 400},
        {"Content-Length vazio", "POST / HTTP/1.1\r\n" + H + "Content-Length:\r\n\r\n", 2, 400},
        {"Content-Length com branco interno", "POST / HTTP/1.1\r\n" + H + "Content-Length: 1 2\r\n\r\n", 2, 400},
        {"Content-Length em lista", "POST / HTTP/1.1\r\n" + H + "Content-Length: 5, 5\r\n\r\n", 2, 400},
        {"Content-Length com brancos nas pontas", "POST / HTTP/1.1\r\n" + H + "Content-Length: \t 5 \r\n\r\n", 1, 0},
        {"dois Content-Length diferentes", "POST / HTTP/1.1\r\n" + H + "Content-Length: 1\r\nContent-Length: 2\r\n\r\n", 2, 400},
        {"dois Content-Length iguais", "POST / HTTP/1.1\r\n" + H + "Content-Length: 2\r\nContent-Length: 2\r\n\r\n", 1, 0},
        {"mesmo valor escrito diferente", "POST / HTTP/1.1\r\n" + H + "Content-Length: 2\r\nContent-Length: 02\r\n\r\n", 2, 400},
        // A head that is complete is judged even when a body or a second request follows it.
        {"corpo depois da cabeca", "POST / HTTP/1.1\r\n" + H + "Content-Length: 2\r\n\r\nab", 1, 0},
        {"segunda requisicao colada", "GET /a HTTP/1.1\r\n" + H + "\r\nGET /b HTTP/1.1\r\n" + H + "\r\n", 1, 0},
    };
    for (const TCasoCabeca& c : casos) {
        SCOPED_TRACE(c.nome);
        TRequisicaoHttp req;
        std::size_t tamanho = 99;
        int status = -1;
        EXPECT_EQ(AnalisarCabeca(c.bruto, req, tamanho, status), c.resultado);
        EXPECT_EQ(status, c.status);
        if (c.resultado == 1) {
            const std::size_t esperado = c.bruto.find("\r\n\r\n") + 4;
            EXPECT_EQ(tamanho, esperado);
        }
    }
}

TEST(AnalisarCabeca, PreencheCamposSemAlterarValores) {
    const std::string bruto =
        "GET /api/status?x=1&y=?z HTTP/1.1\r\n"
        "Host: 127.0.0.1:8765\r\n"
        "Authorization: Bearer abc.DEF_123\r\n"
        "X-Vazio:\r\n"
        "X-Brancos: \t  a  b \t\r\n"
        "x-repetido: 1\r\n"
        "X-Repetido: 2\r\n"
        "\r\n"
        "resto";
    TRequisicaoHttp req;
    req.Corpo = "velho";
    req.IpCliente = "10.0.0.9";
    std::size_t tamanho = 0;
    int status = -1;
    ASSERT_EQ(AnalisarCabeca(bruto, req, tamanho, status), 1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(tamanho, bruto.size() - 5);
    EXPECT_EQ(req.Metodo, "GET");
    EXPECT_EQ(req.Alvo, "/api/status?x=1&y=?z");
    EXPECT_EQ(req.Caminho, "/api/status");
    EXPECT_EQ(req.Consulta, "x=1&y=?z");
    EXPECT_EQ(req.Versao, "HTTP/1.1");
    EXPECT_EQ(req.Corpo, "");  // the body is the connection's business, never the parser's
    EXPECT_EQ(req.Cabecalho("host"), "127.0.0.1:8765");
    EXPECT_EQ(req.Cabecalho("authorization"), "Bearer abc.DEF_123");
    EXPECT_EQ(req.Cabecalho("Host"), "");  // callers pass lower-case names
    EXPECT_TRUE(req.TemCabecalho("x-vazio"));
    EXPECT_EQ(req.Cabecalho("x-vazio"), "");
    EXPECT_EQ(req.Cabecalho("x-brancos"), "a  b");
    EXPECT_EQ(req.ContarCabecalho("x-repetido"), 2);
    EXPECT_EQ(req.Cabecalho("x-repetido"), "1");
    EXPECT_FALSE(req.TemCabecalho("ausente"));
    ASSERT_EQ(req.Cabecalhos.size(), 6u);
    EXPECT_EQ(req.Cabecalhos[1].Nome, "authorization");
    EXPECT_EQ(req.Cabecalhos[5].Nome, "x-repetido");
    EXPECT_EQ(req.Cabecalhos[5].Valor, "2");
}

TEST(AnalisarCabeca, SemEstadoEntreChamadas) {
    // Fed one byte more each time, as receives would, the answer only turns to 1 at the end.
    const std::string bruto = "POST /a?b HTTP/1.0\r\nContent-Length: 3\r\n\r\n";
    TRequisicaoHttp req;
    std::size_t tamanho = 0;
    int status = 0;
    for (std::size_t n = 0; n < bruto.size(); ++n)
        ASSERT_EQ(AnalisarCabeca(std::string_view(bruto).substr(0, n), req, tamanho, status), 0) << n;
    ASSERT_EQ(AnalisarCabeca(bruto, req, tamanho, status), 1);
    // A previous, different request leaves nothing behind.
    ASSERT_EQ(AnalisarCabeca("GET / HTTP/1.0\r\n\r\n", req, tamanho, status), 1);
    EXPECT_EQ(req.Consulta, "");
    EXPECT_TRUE(req.Cabecalhos.empty());
    EXPECT_EQ(req.Metodo, "GET");
}

TEST(EscreverResposta, FormatoExato) {
    TRespostaHttp r;
    r.Definir(200, "application/json; charset=utf-8", "{\"a\":1}");
    r.DefinirCabecalho("Cache-Control", "no-store");
    r.DefinirCabecalho("X-Frame-Options", "DENY");
    EXPECT_EQ(EscreverResposta(r),
              "HTTP/1.1 200 OK\r\n"
              "Content-Type: application/json; charset=utf-8\r\n"
              "Content-Length: 7\r\n"
              "Connection: close\r\n"
              "Cache-Control: no-store\r\n"
              "X-Frame-Options: DENY\r\n"
              "\r\n"
              "{\"a\":1}");

    TRespostaHttp semTipo;
    semTipo.Status = 404;
    EXPECT_EQ(EscreverResposta(semTipo),
              "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");

    TRespostaHttp vazia;
    vazia.Definir(204, "application/json", "nao vai");
    vazia.DefinirCabecalho("X-A", "1");
    EXPECT_EQ(EscreverResposta(vazia), "HTTP/1.1 204 No Content\r\nConnection: close\r\nX-A: 1\r\n\r\n");

    TRespostaHttp estranha;
    estranha.Status = 299;
    EXPECT_EQ(EscreverResposta(estranha).substr(0, 26), "HTTP/1.1 299 Unknown\r\nCont");
}

TEST(EscreverResposta, CabecalhosNaoQuebramAResposta) {
    TRespostaHttp r;
    r.DefinirCabecalho("X-A", "1");
    r.DefinirCabecalho("X-B", "2");
    r.DefinirCabecalho("x-a", "um\r\nSet-Cookie: mau\r\n");  // replaced in place, name kept
    ASSERT_EQ(r.Cabecalhos.size(), 2u);
    EXPECT_EQ(r.Cabecalhos[0].Nome, "X-A");
    EXPECT_EQ(r.Cabecalhos[0].Valor, "umSet-Cookie: mau");
    // A value assigned directly still cannot open a new line.
    r.Cabecalhos.push_back({"X-C", "a\r\nb"});
    r.TipoConteudo = "text/plain\r\nX-D: e";
    const std::string bytes = EscreverResposta(r);
    EXPECT_EQ(bytes,
              "HTTP/1.1 200 OK\r\nContent-Type: text/plainX-D: e\r\nContent-Length: 0\r\n"
              "Connection: close\r\nX-A: umSet-Cookie: mau\r\nX-B: 2\r\nX-C: ab\r\n\r\n");

    r.Limpar();
    EXPECT_EQ(r.Status, 200);
    EXPECT_TRUE(r.Cabecalhos.empty());
    EXPECT_TRUE(r.TipoConteudo.empty());
}

TEST(FraseStatus, Tabela) {
    const std::vector<std::pair<int, const char*>> casos = {
        {100, "Continue"}, {200, "OK"}, {202, "Accepted"}, {204, "No Content"},
        {400, "Bad Request"}, {401, "Unauthorized"}, {403, "Forbidden"}, {404, "Not Found"},
        {405, "Method Not Allowed"}, {409, "Conflict"}, {410, "Gone"},
        {413, "Content Too Large"}, {414, "URI Too Long"}, {415, "Unsupported Media Type"},
        {421, "Misdirected Request"}, {429, "Too Many Requests"},
        {431, "Request Header Fields Too Large"}, {500, "Internal Server Error"},
        {501, "Not Implemented"}, {503, "Service Unavailable"},
        {505, "HTTP Version Not Supported"}, {302, "Unknown"}, {0, "Unknown"}, {-1, "Unknown"}};
    for (const auto& [codigo, frase] : casos) EXPECT_EQ(FraseStatus(codigo), frase) << codigo;
}

TEST(Ipv4, LerETexto) {
    const std::vector<std::pair<const char*, std::uint32_t>> validos = {
        {"192.168.1.5", 0xC0A80105u}, {"0.0.0.0", 0u}, {"255.255.255.255", 0xFFFFFFFFu},
        {"010.001.0.1", 0x0A010001u}, {"127.0.0.1", 0x7F000001u}};
    for (const auto& [texto, valor] : validos) {
        std::uint32_t e = 1;
        EXPECT_TRUE(LerIpv4(texto, e)) << texto;
        EXPECT_EQ(e, valor) << texto;
    }
    EXPECT_EQ(TextoIpv4(0x0A010001u), "10.1.0.1");
    EXPECT_EQ(TextoIpv4(0xFFFFFFFFu), "255.255.255.255");
    EXPECT_EQ(TextoIpv4(0u), "0.0.0.0");

    for (const char* texto : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "a.b.c.d", "", "1..2.3",
                              "1.2.3.", ".1.2.3", "1.2.3.0004", " 1.2.3.4", "1.2.3.4 ",
                              "+1.2.3.4", "1.2.3.-4", "localhost"}) {
        std::uint32_t e = 7;
        EXPECT_FALSE(LerIpv4(texto, e)) << texto;
        EXPECT_EQ(e, 7u) << texto;
    }
    std::uint32_t e = 7;
    EXPECT_FALSE(LerIpv4(std::string_view("1.2.3.4\0", 8), e));
}

TEST(Ipv4, EnderecoLocal) {
    const auto local = [](const char* texto) {
        std::uint32_t e = 0;
        EXPECT_TRUE(LerIpv4(texto, e)) << texto;
        return EnderecoLocal(e);
    };
    for (const char* t : {"192.168.1.5", "10.0.0.1", "172.16.0.1", "127.0.0.1", "127.255.255.255",
                          "172.31.255.255", "169.254.1.1", "10.255.255.255", "192.168.0.0"})
        EXPECT_TRUE(local(t)) << t;
    for (const char* t : {"172.32.0.1", "172.15.255.255", "8.8.8.8", "0.0.0.0", "255.255.255.255",
                          "192.169.0.1", "169.253.0.1", "11.0.0.1", "126.255.255.255", "128.0.0.1",
                          "100.63.255.255", "100.128.0.0"})
        EXPECT_FALSE(local(t)) << t;
    // The carrier-grade NAT range belongs to the internet edition only.
    for (const char* t : {"100.64.0.1", "100.127.255.255"})
        EXPECT_EQ(local(t), VELORIN_EDICAO_INTERNET != 0) << t;
}

}  // namespace
}  // namespace velorin
