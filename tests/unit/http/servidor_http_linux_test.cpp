// The server through real sockets on loopback: raw bytes in, raw bytes out.
#include "http/servidor_http.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "apoio/pasta_temporaria.h"
#include "core/log.h"
#include "core/recursos.h"

namespace velorin {
namespace {

using namespace std::chrono_literals;

// Long enough that nothing in a healthy run gets near it; only a broken server waits this long.
constexpr int ESPERA_CLIENTE_MS = 5000;

// Waits for a condition with a generous deadline; returns whether it came true.
template <typename F>
bool Aguardar(F condicao, std::chrono::milliseconds limite = 5000ms) {
    const auto fim = std::chrono::steady_clock::now() + limite;
    while (!condicao()) {
        if (std::chrono::steady_clock::now() > fim) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Records the status notifications and lets the test wait for the first one.
struct TEstadoNotificado {
    std::mutex trava;
    std::condition_variable mudou;
    std::vector<std::pair<bool, std::string>> recebidos;

    TServidorHttp::TAoMudarEstado Funcao() {
        return [this](bool ok, const std::string& texto) {
            {
                std::lock_guard<std::mutex> g(trava);
                recebidos.emplace_back(ok, texto);
            }
            mudou.notify_all();
        };
    }
    bool Esperar(std::pair<bool, std::string>& primeiro, std::chrono::milliseconds limite = 5000ms) {
        std::unique_lock<std::mutex> g(trava);
        if (!mudou.wait_for(g, limite, [this] { return !recebidos.empty(); })) return false;
        primeiro = recebidos.front();
        return true;
    }
};

void ErroPadrao(int status, TRespostaHttp& resp) {
    resp.Definir(status, "application/json", "{\"erro\":" + std::to_string(status) + "}");
}

// A started server on 127.0.0.1 with a port the system chose.
class TServidorTeste {
public:
    explicit TServidorTeste(TServidorHttp::TTratador tratador, TLimitesServidorHttp limites = {},
                            std::string endereco = "127.0.0.1")
        : servidor(std::move(endereco), estado.Funcao(), ErroPadrao, std::move(tratador), 0, limites) {
        servidor.Iniciar();
        std::pair<bool, std::string> primeiro;
        iniciou = estado.Esperar(primeiro) && primeiro.first;
    }
    std::uint16_t Porta() const { return servidor.PortaLocal(); }

    TEstadoNotificado estado;
    TServidorHttp servidor;
    bool iniciou = false;
};

void DefinirEsperaCliente(int fd, int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// A client socket bound to `origem` (any 127.x address is ours on loopback), connected to
// `destino`:porta.
TDescritor Conectar(std::uint16_t porta, const char* origem = "127.0.0.1",
                    const char* destino = "127.0.0.1") {
    TDescritor fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return fd;
    sockaddr_in de{};
    de.sin_family = AF_INET;
    inet_pton(AF_INET, origem, &de.sin_addr);
    if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&de), sizeof de) != 0) return TDescritor();
    sockaddr_in para{};
    para.sin_family = AF_INET;
    para.sin_port = htons(porta);
    inet_pton(AF_INET, destino, &para.sin_addr);
    if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&para), sizeof para) != 0) return TDescritor();
    DefinirEsperaCliente(fd.Get(), ESPERA_CLIENTE_MS);
    return fd;
}

bool Enviar(int fd, std::string_view dados) {
    while (!dados.empty()) {
        const ssize_t n = send(fd, dados.data(), dados.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        dados.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Everything until the server closes. `fechou` tells an orderly close or reset from a time-out.
std::string LerAteFechar(int fd, bool* fechou = nullptr) {
    std::string tudo;
    char bloco[4096];
    for (;;) {
        const ssize_t n = recv(fd, bloco, sizeof bloco, 0);
        if (n > 0) {
            tudo.append(bloco, static_cast<std::size_t>(n));
            continue;
        }
        if (fechou) *fechou = n == 0 || errno == ECONNRESET;
        return tudo;
    }
}

// Exactly `n` bytes, or fewer when the server closes or goes quiet.
std::string LerBytes(int fd, std::size_t n) {
    std::string s;
    char bloco[4096];
    while (s.size() < n) {
        const ssize_t k = recv(fd, bloco, std::min(sizeof bloco, n - s.size()), 0);
        if (k <= 0) break;
        s.append(bloco, static_cast<std::size_t>(k));
    }
    return s;
}

// One response: the head, then as many body bytes as its Content-Length says. Reading by
// length matters: the server keeps the connection open (draining) until we close.
std::string LerResposta(int fd) {
    std::string s;
    char bloco[4096];
    std::size_t fim = std::string::npos;
    while ((fim = s.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t k = recv(fd, bloco, sizeof bloco, 0);
        if (k <= 0) return s;
        s.append(bloco, static_cast<std::size_t>(k));
    }
    std::size_t comprimento = 0;
    const std::size_t p = s.find("Content-Length: ");
    if (p != std::string::npos && p < fim) comprimento = std::stoul(s.substr(p + 16));
    const std::size_t total = fim + 4 + comprimento;
    if (s.size() < total) s += LerBytes(fd, total - s.size());
    return s;
}

// The server closed this connection without sending one byte (and did not just go quiet).
bool FechadoSemResposta(int fd) {
    bool fechou = false;
    const std::string dados = LerAteFechar(fd, &fechou);
    return fechou && dados.empty();
}

std::string StatusDe(const std::string& resposta) { return resposta.substr(0, resposta.find("\r\n")); }

std::string CorpoDe(const std::string& resposta) {
    const std::size_t p = resposta.find("\r\n\r\n");
    return p == std::string::npos ? std::string() : resposta.substr(p + 4);
}

int ContarEntradas(const char* pasta) {
    DIR* d = opendir(pasta);
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}

// The threads of this process before a test starts its own. A sanitizer runtime starts a helper
// thread of its own at the first thread the process creates; one thread made and joined here
// brings that in before the count, so it is not taken for one of ours left running.
int TarefasDeBase() {
    std::thread([] {}).join();
    return ContarEntradas("/proc/self/task");
}

void TratadorEco(const TRequisicaoHttp& req, TRespostaHttp& resp) {
    resp.Definir(200, "text/plain", req.Metodo + " " + req.Alvo + " " + req.IpCliente + " [" + req.Corpo + "]");
}

TEST(ServidorHttp, RespondeUmaRequisicaoEFecha) {
    TServidorTeste s(TratadorEco);
    ASSERT_TRUE(s.iniciou);
    EXPECT_TRUE(s.servidor.Escutando());
    TDescritor c = Conectar(s.Porta());
    ASSERT_TRUE(c);
    ASSERT_TRUE(Enviar(c.Get(), "POST /eco?q=1 HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nabcde"));
    const std::string resposta = LerResposta(c.Get());
    EXPECT_EQ(resposta,
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 31\r\n"
              "Connection: close\r\n\r\nPOST /eco?q=1 127.0.0.1 [abcde]");
    c.Fechar();
    EXPECT_TRUE(Aguardar([&] { return s.servidor.ContarConexoes() == 0; }));
    EXPECT_EQ(s.servidor.Parar(), 0);
    EXPECT_FALSE(s.servidor.Escutando());
}

TEST(ServidorHttp, ErrosDoAnalisadorPassamPeloRespondedorDeErro) {
    std::atomic<int> chamadas{0};
    TServidorTeste s([&](const TRequisicaoHttp&, TRespostaHttp&) { ++chamadas; });
    ASSERT_TRUE(s.iniciou);
    const std::vector<std::pair<std::string, int>> casos = {
        {"get / HTTP/1.1\r\nHost: x\r\n\r\n", 400},
        {"GET / HTTP/2.0\r\nHost: x\r\n\r\n", 505},
        {"PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n", 505},
        {"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 501},
        {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 9000\r\n\r\n", 413},
        {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", 400},
        {"GET /" + std::string(1024, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", 414},
        {"GET / HTTP/1.1\r\nX: " + std::string(9000, 'a'), 431},
    };
    for (const auto& [bruto, status] : casos) {
        SCOPED_TRACE(status);
        TDescritor c = Conectar(s.Porta());
        ASSERT_TRUE(c);
        ASSERT_TRUE(Enviar(c.Get(), bruto));
        bool fechou = false;
        // The error path half-closes after the answer, so the read ends without our close.
        const std::string resposta = LerAteFechar(c.Get(), &fechou);
        EXPECT_TRUE(fechou);
        EXPECT_EQ(StatusDe(resposta), "HTTP/1.1 " + std::to_string(status) + " " + FraseStatus(status));
        EXPECT_EQ(CorpoDe(resposta), "{\"erro\":" + std::to_string(status) + "}");
    }
    EXPECT_EQ(chamadas.load(), 0);
    EXPECT_EQ(s.servidor.Parar(), 0);
}

TEST(ServidorHttp, DuasRequisicoesNumaEscritaSoAPrimeiraRoda) {
    std::mutex m;
    std::vector<std::string> alvos;
    TServidorTeste s([&](const TRequisicaoHttp& req, TRespostaHttp& resp) {
        std::lock_guard<std::mutex> g(m);
        alvos.push_back(req.Alvo + "|" + req.Corpo);
        resp.Definir(200, "", "ok");
    });
    ASSERT_TRUE(s.iniciou);
    TDescritor c = Conectar(s.Porta());
    ASSERT_TRUE(Enviar(c.Get(),
                       "POST /a HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nxyGET /b HTTP/1.1\r\n"
                       "Host: x\r\n\r\nDELETE /c HTTP/1.1\r\nHost: x\r\n\r\n"));
    const std::string resposta = LerResposta(c.Get());
    EXPECT_EQ(StatusDe(resposta), "HTTP/1.1 200 OK");
    EXPECT_EQ(CorpoDe(resposta), "ok");
    c.Fechar();
    ASSERT_TRUE(Aguardar([&] { return s.servidor.ContarConexoes() == 0; }));
    EXPECT_EQ(s.servidor.Parar(), 0);
    std::lock_guard<std::mutex> g(m);
    EXPECT_EQ(alvos, std::vector<std::string>{"/a|xy"});
}

TEST(ServidorHttp, CorpoEmVariasEscritasEContinue) {
    TServidorTeste s(TratadorEco);
    ASSERT_TRUE(s.iniciou);
    const std::string final = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: ";

    {  // body missing: the interim answer comes first, then the real one
        TDescritor c = Conectar(s.Porta());
        ASSERT_TRUE(Enviar(c.Get(), "POST /p HTTP/1.1\r\nHost: x\r\nExpect: 100-CONTINUE\r\nContent-Length: 6\r\n\r\n"));
        EXPECT_EQ(LerBytes(c.Get(), 25), "HTTP/1.1 100 Continue\r\n\r\n");
        ASSERT_TRUE(Enviar(c.Get(), "abc"));
        ASSERT_TRUE(Enviar(c.Get(), "def"));
        const std::string r = LerResposta(c.Get());
        EXPECT_EQ(r.substr(0, final.size()), final);
        EXPECT_EQ(CorpoDe(r), "POST /p 127.0.0.1 [abcdef]");
    }
    {  // body already there: no interim answer
        TDescritor c = Conectar(s.Porta());
        ASSERT_TRUE(Enviar(c.Get(), "POST /p HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: 3\r\n\r\nxyz"));
        const std::string r = LerBytes(c.Get(), final.size());
        EXPECT_EQ(r, final);
    }
    {  // part of the body there: still missing, so the interim answer is due
        TDescritor c = Conectar(s.Porta());
        ASSERT_TRUE(Enviar(c.Get(), "POST /p HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: 3\r\n\r\nx"));
        EXPECT_EQ(LerBytes(c.Get(), 25), "HTTP/1.1 100 Continue\r\n\r\n");
        ASSERT_TRUE(Enviar(c.Get(), "yz"));
        EXPECT_EQ(LerBytes(c.Get(), final.size()), final);
    }
    {  // no Expect: the body is just awaited across writes
        TDescritor c = Conectar(s.Porta());
        ASSERT_TRUE(Enviar(c.Get(), "PUT /v HTTP/1.0\r\nContent-Length: 4\r\n\r\n1"));
        ASSERT_TRUE(Enviar(c.Get(), "234"));
        const std::string r = LerResposta(c.Get());
        EXPECT_EQ(CorpoDe(r), "PUT /v 127.0.0.1 [1234]");
    }
    EXPECT_EQ(s.servidor.Parar(), 0);
}

TEST(ServidorHttp, TratadorQueLancaDa500ELogaUmaLinha) {
    teste::TPastaTemporaria pasta;
    AbrirLog(pasta.Caminho());
    TAoSair fecharLog([] { FecharLog(); });
    TServidorTeste s([](const TRequisicaoHttp& req, TRespostaHttp& resp) {
        resp.Definir(201, "text/plain", "parcial");
        resp.DefinirCabecalho("X-Sumir", "1");
        if (req.Caminho == "/int") throw 42;
        throw std::runtime_error("falhou\nde vez");
    });
    ASSERT_TRUE(s.iniciou);
    for (const char* caminho : {"/quebra", "/int"}) {
        TDescritor c = Conectar(s.Porta());
        ASSERT_TRUE(Enviar(c.Get(), std::string("GET ") + caminho + " HTTP/1.1\r\nHost: x\r\n\r\n"));
        const std::string r = LerResposta(c.Get());
        // The half-filled response is dropped: only the error responder's answer goes out.
        EXPECT_EQ(r, "HTTP/1.1 500 Internal Server Error\r\nContent-Type: application/json\r\n"
                     "Content-Length: 12\r\nConnection: close\r\n\r\n{\"erro\":500}");
    }
    ASSERT_TRUE(Aguardar([&] { return s.servidor.ContarConexoes() == 0; }));
    EXPECT_EQ(s.servidor.Parar(), 0);
    const std::string log = teste::LerArquivo(pasta / "log.txt");
    EXPECT_NE(log.find("  ERRO no tratador HTTP (GET /quebra): falhou?de vez\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("  ERRO no tratador HTTP (GET /int): "), std::string::npos) << log;
    std::size_t linhas = 0;
    for (std::size_t p = log.find("ERRO"); p != std::string::npos; p = log.find("ERRO", p + 1)) ++linhas;
    EXPECT_EQ(linhas, 2u) << log;
}

TEST(ServidorHttp, ClienteLentoECortadoNoPrazoSemResposta) {
    TLimitesServidorHttp limites;
    limites.PrazoRequisicaoMs = 300;
    std::atomic<int> chamadas{0};
    TServidorTeste s([&](const TRequisicaoHttp&, TRespostaHttp&) { ++chamadas; }, limites);
    ASSERT_TRUE(s.iniciou);
    for (const char* parcial : {"", "GET / HTTP/1.1\r\n", "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\n12345"}) {
        SCOPED_TRACE(parcial);
        TDescritor c = Conectar(s.Porta());
        ASSERT_TRUE(Enviar(c.Get(), parcial));
        EXPECT_TRUE(FechadoSemResposta(c.Get()));
    }
    EXPECT_EQ(chamadas.load(), 0);
    EXPECT_EQ(s.servidor.Parar(), 0);
}

TEST(ServidorHttp, LimitesPorEnderecoETotal) {
    TLimitesServidorHttp limites;
    limites.PrazoRequisicaoMs = 60000;  // idle connections must stay registered during the test
    TServidorTeste s([](const TRequisicaoHttp&, TRespostaHttp& resp) { resp.Definir(200, "", "ok"); }, limites);
    ASSERT_TRUE(s.iniciou);
    std::vector<TDescritor> abertas;
    for (int i = 0; i < 8; ++i) {
        abertas.push_back(Conectar(s.Porta(), "127.0.0.2"));
        ASSERT_TRUE(abertas.back());
    }
    ASSERT_TRUE(Aguardar([&] { return s.servidor.ContarConexoes() == 8; }));

    TDescritor nona = Conectar(s.Porta(), "127.0.0.2");
    ASSERT_TRUE(nona);
    EXPECT_TRUE(FechadoSemResposta(nona.Get()));

    {  // another address is still served meanwhile
        TDescritor outra = Conectar(s.Porta(), "127.0.0.3");
        ASSERT_TRUE(Enviar(outra.Get(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        EXPECT_EQ(StatusDe(LerResposta(outra.Get())), "HTTP/1.1 200 OK");
    }
    ASSERT_TRUE(Aguardar([&] { return s.servidor.ContarConexoes() == 8; }));

    for (const char* origem : {"127.0.0.3", "127.0.0.4", "127.0.0.5"})
        for (int i = 0; i < 8; ++i) {
            abertas.push_back(Conectar(s.Porta(), origem));
            ASSERT_TRUE(abertas.back());
        }
    ASSERT_TRUE(Aguardar([&] { return s.servidor.ContarConexoes() == 32; }));
    TDescritor excedente = Conectar(s.Porta(), "127.0.0.6");
    ASSERT_TRUE(excedente);
    EXPECT_TRUE(FechadoSemResposta(excedente.Get()));
    EXPECT_EQ(s.servidor.ContarConexoes(), 32);

    // Freed slots are usable again.
    abertas.front().Fechar();
    ASSERT_TRUE(Aguardar([&] { return s.servidor.ContarConexoes() == 31; }));
    TDescritor denovo = Conectar(s.Porta(), "127.0.0.2");
    ASSERT_TRUE(Enviar(denovo.Get(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(StatusDe(LerResposta(denovo.Get())), "HTTP/1.1 200 OK");

    abertas.clear();
    denovo.Fechar();
    ASSERT_TRUE(Aguardar([&] { return s.servidor.ContarConexoes() == 0; }));
    EXPECT_EQ(s.servidor.Parar(), 0);
}

TEST(ServidorHttp, FalhasDePartida) {
    // A port held by a live listener: retried, then given up with the port and the error.
    TDescritor dono(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(dono.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(dono.Get(), 1), 0);
    socklen_t t = sizeof a;
    ASSERT_EQ(getsockname(dono.Get(), reinterpret_cast<sockaddr*>(&a), &t), 0);
    const std::uint16_t porta = ntohs(a.sin_port);

    TLimitesServidorHttp limites;
    limites.JanelaBindMs = 300;
    limites.IntervaloBindMs = 50;
    {
        TEstadoNotificado estado;
        TServidorHttp s("127.0.0.1", estado.Funcao(), nullptr, nullptr, porta, limites);
        s.Iniciar();
        std::pair<bool, std::string> r;
        ASSERT_TRUE(estado.Esperar(r));
        EXPECT_FALSE(r.first);
        EXPECT_EQ(r.second, "porta " + std::to_string(porta) + " indisponivel (erro " +
                                std::to_string(EADDRINUSE) + ")");
        EXPECT_FALSE(s.Escutando());
        EXPECT_EQ(s.Parar(), 0);
        std::lock_guard<std::mutex> g(estado.trava);
        EXPECT_EQ(estado.recebidos.size(), 1u);
    }
    {  // freed while the server is still retrying: it gets the port
        limites.JanelaBindMs = 10000;
        TEstadoNotificado estado;
        TServidorHttp s("127.0.0.1", estado.Funcao(), nullptr, TratadorEco, porta, limites);
        s.Iniciar();
        std::this_thread::sleep_for(150ms);  // let a few attempts fail first
        dono.Fechar();
        std::pair<bool, std::string> r;
        ASSERT_TRUE(estado.Esperar(r));
        EXPECT_TRUE(r.first);
        EXPECT_EQ(r.second, "");
        EXPECT_EQ(s.PortaLocal(), porta);
        EXPECT_EQ(s.Parar(), 0);
    }
    for (const char* endereco : {"localhost", "256.0.0.1", ""}) {
        TEstadoNotificado estado;
        TServidorHttp s(endereco, estado.Funcao(), nullptr, nullptr, 0);
        s.Iniciar();
        std::pair<bool, std::string> r;
        ASSERT_TRUE(estado.Esperar(r));
        EXPECT_FALSE(r.first);
        EXPECT_EQ(r.second, std::string("endereco invalido: ") + endereco);
        EXPECT_EQ(s.Parar(), 0);
    }
    {  // an address that is not ours
        TEstadoNotificado estado;
        TServidorHttp s("192.0.2.1", estado.Funcao(), nullptr, nullptr, 0);
        s.Iniciar();
        std::pair<bool, std::string> r;
        ASSERT_TRUE(estado.Esperar(r));
        EXPECT_EQ(r.second, "porta 0 indisponivel (erro " + std::to_string(EADDRNOTAVAIL) + ")");
    }
    {  // stopping during the retries ends at once, without a notification
        limites.JanelaBindMs = 60000;
        limites.IntervaloBindMs = 60000;
        TDescritor outro(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        a.sin_port = 0;
        ASSERT_EQ(bind(outro.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(listen(outro.Get(), 1), 0);
        t = sizeof a;
        ASSERT_EQ(getsockname(outro.Get(), reinterpret_cast<sockaddr*>(&a), &t), 0);
        TEstadoNotificado estado;
        TServidorHttp s("127.0.0.1", estado.Funcao(), nullptr, nullptr, ntohs(a.sin_port), limites);
        s.Iniciar();
        EXPECT_EQ(s.Parar(), 0);
        std::lock_guard<std::mutex> g(estado.trava);
        EXPECT_TRUE(estado.recebidos.empty());
    }
}

TEST(ServidorHttp, PararCortaConexaoBloqueadaNaRecepcao) {
    TLimitesServidorHttp limites;
    limites.PrazoRequisicaoMs = 60000;
    TServidorTeste s(TratadorEco, limites);
    ASSERT_TRUE(s.iniciou);
    TDescritor c = Conectar(s.Porta());
    ASSERT_TRUE(Enviar(c.Get(), "GET / HTTP/1.1\r\n"));
    ASSERT_TRUE(Aguardar([&] { return s.servidor.ContarConexoes() == 1; }));
    EXPECT_EQ(s.servidor.Parar(), 0);
    EXPECT_TRUE(FechadoSemResposta(c.Get()));
    EXPECT_FALSE(s.servidor.Escutando());
    EXPECT_FALSE(Conectar(s.Porta()));  // nobody listens any more
    EXPECT_EQ(s.servidor.Parar(), 0);   // a second stop is harmless
}

TEST(ServidorHttp, PararComTratadorPresoDevolveOsQueFicaram) {
    TLimitesServidorHttp limites;
    limites.EsperaPararMs = 100;
    std::promise<void> soltar;
    std::shared_future<void> solto = soltar.get_future().share();
    std::atomic<bool> entrou{false};
    TServidorTeste s(
        [&, solto](const TRequisicaoHttp&, TRespostaHttp& resp) {
            entrou = true;
            solto.wait_for(10s);
            resp.Definir(200, "", "tarde");
        },
        limites);
    ASSERT_TRUE(s.iniciou);
    TDescritor c = Conectar(s.Porta());
    ASSERT_TRUE(Enviar(c.Get(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(Aguardar([&] { return entrou.load(); }));
    EXPECT_EQ(s.servidor.Parar(), 1);
    soltar.set_value();
    // Its socket was shut down, so the late answer goes nowhere and the thread ends.
    EXPECT_EQ(s.servidor.Parar(), 0);
    EXPECT_TRUE(FechadoSemResposta(c.Get()));
}

TEST(ServidorHttp, ServidorDestruidoComConexaoViva) {
    // The owner may drop the server while a handler still runs; the thread must not touch freed
    // memory (the sanitizer builds watch this) and must end by itself.
    TLimitesServidorHttp limites;
    limites.EsperaPararMs = 40;
    std::promise<void> soltar;
    std::shared_future<void> solto = soltar.get_future().share();
    std::atomic<bool> entrou{false};
    std::atomic<bool> saiu{false};
    const int tarefas = TarefasDeBase();
    TDescritor c;
    {
        TServidorTeste s(
            [&, solto](const TRequisicaoHttp&, TRespostaHttp&) {
                entrou = true;
                solto.wait_for(10s);
                saiu = true;
            },
            limites);
        ASSERT_TRUE(s.iniciou);
        c = Conectar(s.Porta());
        ASSERT_TRUE(Enviar(c.Get(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        ASSERT_TRUE(Aguardar([&] { return entrou.load(); }));
        EXPECT_EQ(s.servidor.Parar(), 1);
    }
    soltar.set_value();
    EXPECT_TRUE(FechadoSemResposta(c.Get()));
    EXPECT_TRUE(Aguardar([&] { return saiu.load(); }));
    EXPECT_TRUE(Aguardar([&] { return ContarEntradas("/proc/self/task") == tarefas; }));
}

TEST(ServidorHttp, MilharesDeConexoesAbortadasNaoDeixamRastros) {
    const int descritores = ContarEntradas("/proc/self/fd");
    const int tarefas = TarefasDeBase();
    {
        TServidorTeste s([](const TRequisicaoHttp&, TRespostaHttp& resp) { resp.Definir(200, "", "ok"); });
        ASSERT_TRUE(s.iniciou);
        for (int i = 0; i < 10000; ++i) {
            TDescritor c = Conectar(s.Porta(), i % 2 ? "127.0.0.1" : "127.0.0.7");
            ASSERT_TRUE(c) << i;
            switch (i % 4) {
                case 0: break;  // connect and abort
                case 1: (void)Enviar(c.Get(), "GET / HTTP/1.1\r\n"); break;
                case 2: (void)Enviar(c.Get(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n"); break;
                case 3: (void)Enviar(c.Get(), "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 9\r\n\r\n12"); break;
            }
            // An abortive close (RST), so neither side keeps TIME_WAIT state around.
            linger l{1, 0};
            setsockopt(c.Get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
            c.Fechar();
            // The accept queue is first in, first out: once a probe is answered, everything
            // before it was accepted. Without this pacing the client outruns the listener, the
            // 16-deep queue overflows and the kernel drops SYNs (each costing a 1 s resend).
            if (i % 8 == 7) {
                TDescritor sonda = Conectar(s.Porta(), "127.0.0.8");
                ASSERT_TRUE(sonda) << i;
                (void)Enviar(sonda.Get(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
                // Answered, or refused by a cap while earlier threads are still ending: either
                // way the listener has taken it, and so everything queued before it.
                const std::string r = LerResposta(sonda.Get());
                ASSERT_TRUE(r.empty() || StatusDe(r) == "HTTP/1.1 200 OK") << i;
                setsockopt(sonda.Get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
            }
        }
        ASSERT_TRUE(Aguardar([&] { return s.servidor.ContarConexoes() == 0; }, 20000ms));
        EXPECT_EQ(s.servidor.Parar(), 0);
        // Every connection thread has been joined by now; only the listening socket is gone too.
        EXPECT_EQ(ContarEntradas("/proc/self/task"), tarefas);
        EXPECT_EQ(ContarEntradas("/proc/self/fd"), descritores);
    }
    EXPECT_EQ(ContarEntradas("/proc/self/fd"), descritores);
}

// Peers outside the local ranges need an address that is not on this machine. A private user
// and network namespace in a child process gives us one: there 8.8.8.8 can sit on the loopback
// interface, and a client bound to it looks exactly like a public peer.
int ConfigurarRedePrivada() {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return 77;
    TDescritor s(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (ioctl(s.Get(), SIOCGIFFLAGS, &ifr) != 0) return 10;
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    if (ioctl(s.Get(), SIOCSIFFLAGS, &ifr) != 0) return 11;
    const char* apelidos[][2] = {{"lo:1", "8.8.8.8"}, {"lo:2", "100.64.0.1"}};
    for (const auto& [nome, ip] : apelidos) {
        ifreq a{};
        std::strncpy(a.ifr_name, nome, IFNAMSIZ - 1);
        auto* sin = reinterpret_cast<sockaddr_in*>(&a.ifr_addr);
        sin->sin_family = AF_INET;
        inet_pton(AF_INET, ip, &sin->sin_addr);
        if (ioctl(s.Get(), SIOCSIFADDR, &a) != 0) return 12;
    }
    return 0;
}

int VerificarParesNaoLocais() {
    if (const int r = ConfigurarRedePrivada(); r != 0) return r;
    std::atomic<int> chamadas{0};
    TServidorTeste s(
        [&](const TRequisicaoHttp&, TRespostaHttp& resp) {
            ++chamadas;
            resp.Definir(200, "", "ok");
        },
        {}, "0.0.0.0");
    if (!s.iniciou) return 20;
    {
        TDescritor c = Conectar(s.Porta(), "8.8.8.8", "8.8.8.8");
        if (!c) return 21;
        (void)Enviar(c.Get(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
        if (!FechadoSemResposta(c.Get())) return 22;
    }
    {
        TDescritor c = Conectar(s.Porta(), "100.64.0.1", "100.64.0.1");
        if (!c) return 23;
        (void)Enviar(c.Get(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
        const std::string r = LerResposta(c.Get());
        if (r.empty() != (VELORIN_EDICAO_INTERNET == 0)) return 24;
    }
    {
        TDescritor c = Conectar(s.Porta(), "127.0.0.1", "8.8.8.8");
        if (!c) return 25;
        (void)Enviar(c.Get(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
        if (StatusDe(LerResposta(c.Get())) != "HTTP/1.1 200 OK") return 26;
    }
    if (chamadas.load() != (VELORIN_EDICAO_INTERNET ? 2 : 1)) return 27;
    if (s.servidor.Parar() != 0) return 28;
    return 0;
}

TEST(ServidorHttp, ParNaoLocalEFechadoSemResposta) {
    const pid_t filho = fork();
    ASSERT_GE(filho, 0);
    if (filho == 0) {
        // The child has one thread, as unshare(CLONE_NEWUSER) requires.
        int codigo = 99;
        try {
            codigo = VerificarParesNaoLocais();
        } catch (...) {
        }
        _exit(codigo);
    }
    int estado = 0;
    const bool terminou = Aguardar([&] { return waitpid(filho, &estado, WNOHANG) == filho; }, 30000ms);
    if (!terminou) {
        kill(filho, SIGKILL);
        waitpid(filho, &estado, 0);
        FAIL() << "o processo filho nao terminou";
    }
    ASSERT_TRUE(WIFEXITED(estado));
    if (WEXITSTATUS(estado) == 77) GTEST_SKIP() << "sem namespaces de usuario nesta maquina";
    EXPECT_EQ(WEXITSTATUS(estado), 0) << "passo que falhou (codigo do filho)";
}

}  // namespace
}  // namespace velorin
