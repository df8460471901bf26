#include "apoio/cliente_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>
#include <cerrno>
#include <cstring>

#include "core/recursos.h"
#include "core/texto.h"

namespace velorin::teste {

namespace {

// Only a broken server makes a client wait this long.
constexpr int ESPERA_CLIENTE_MS = 5000;

TRespostaBruta Analisar(const std::string& bytes) {
    TRespostaBruta r;
    const std::size_t fimCabeca = bytes.find("\r\n\r\n");
    if (fimCabeca == std::string::npos || !bytes.starts_with("HTTP/1.1 ")) return r;
    std::size_t linha = bytes.find("\r\n");
    r.Status = std::stoi(bytes.substr(9, 3));
    while (linha < fimCabeca) {
        const std::size_t inicio = linha + 2;
        linha = bytes.find("\r\n", inicio);
        const std::string texto = bytes.substr(inicio, linha - inicio);
        const std::size_t doisPontos = texto.find(':');
        if (doisPontos == std::string::npos) continue;
        std::string nome = texto.substr(0, doisPontos);
        for (char& c : nome) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string valor = texto.substr(doisPontos + 1);
        while (!valor.empty() && valor.front() == ' ') valor.erase(0, 1);
        r.Cabecalhos.push_back({nome, valor});
    }
    r.Corpo = bytes.substr(fimCabeca + 4);
    return r;
}

}  // namespace

std::string TRespostaBruta::Cabecalho(std::string_view nome) const {
    for (const auto& c : Cabecalhos)
        if (c.Nome == nome) return c.Valor;
    return {};
}

int TRespostaBruta::ContarCabecalho(std::string_view nome) const {
    int n = 0;
    for (const auto& c : Cabecalhos) n += c.Nome == nome ? 1 : 0;
    return n;
}

nlohmann::ordered_json TRespostaBruta::Json() const {
    return nlohmann::ordered_json::parse(Corpo, nullptr, false);
}

std::string TRespostaBruta::Erro() const {
    const nlohmann::ordered_json j = Json();
    if (!j.is_object() || !j.contains("erro") || !j["erro"].is_string()) return {};
    return j["erro"].get<std::string>();
}

TRespostaBruta EnviarBytes(std::uint16_t porta, const std::string& bytes,
                           const std::string& origem) {
    const auto falhou = [](const char* passo) {
        TRespostaBruta r;
        r.Falha = std::string(passo) + ": " + std::strerror(errno);
        return r;
    };
    TDescritor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return falhou("socket");
    sockaddr_in de{};
    de.sin_family = AF_INET;
    if (::inet_pton(AF_INET, origem.c_str(), &de.sin_addr) != 1 ||
        ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&de), sizeof de) != 0)
        return falhou("bind");
    sockaddr_in para{};
    para.sin_family = AF_INET;
    para.sin_port = htons(porta);
    ::inet_pton(AF_INET, "127.0.0.1", &para.sin_addr);
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&para), sizeof para) != 0)
        return falhou("connect");
    timeval tv{};
    tv.tv_sec = ESPERA_CLIENTE_MS / 1000;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (!EscreverTudo(fd.Get(), bytes.data(), bytes.size())) return falhou("send");
    // Read as a browser does: the head, then as many body bytes as it announces, then close.
    // Waiting for the server to close first would stall both sides, since the server lingers
    // for the client's close before it lets go of the connection.
    std::string recebido;
    char bloco[4096];
    std::size_t esperado = std::string::npos;
    while (recebido.size() < esperado) {
        const ssize_t n = ::recv(fd.Get(), bloco, sizeof bloco, 0);
        if (n < 0 && recebido.empty()) return falhou("recv");
        if (n <= 0) break;
        recebido.append(bloco, static_cast<std::size_t>(n));
        const std::size_t fimCabeca = recebido.find("\r\n\r\n");
        if (esperado == std::string::npos && fimCabeca != std::string::npos) {
            const TRespostaBruta cabeca = Analisar(recebido.substr(0, fimCabeca + 4));
            long long tamanho = 0;
            if (!LerInteiro(cabeca.Cabecalho("content-length"), tamanho)) tamanho = 0;
            esperado = fimCabeca + 4 + static_cast<std::size_t>(tamanho);
        }
    }
    TRespostaBruta r = Analisar(recebido);
    if (r.Status == 0)
        r.Falha = recebido.empty() ? "closed without an answer" : "unreadable answer";
    return r;
}

std::string MontarRequisicao(const TPedido& p, std::uint16_t porta) {
    std::string texto = p.Metodo + " " + p.Caminho + " HTTP/1.1\r\n";
    if (!p.SemHost)
        texto +=
            "Host: " + (p.Host.empty() ? "127.0.0.1:" + std::to_string(porta) : p.Host) + "\r\n";
    if (!p.Token.empty()) texto += "Authorization: Bearer " + p.Token + "\r\n";
    const bool comCorpo = p.Metodo == "POST" || p.Metodo == "PUT";
    if (comCorpo && !p.TipoConteudo.empty()) texto += "Content-Type: " + p.TipoConteudo + "\r\n";
    for (const auto& [nome, valor] : p.Cabecalhos) texto += nome + ": " + valor + "\r\n";
    if (comCorpo || !p.Corpo.empty())
        texto += "Content-Length: " + std::to_string(p.Corpo.size()) + "\r\n";
    texto += "\r\n" + p.Corpo;
    return texto;
}

std::uint16_t PortaLivre() {
    // Below the ephemeral range: a port from that range can be taken, between this check and the
    // program's bind, as the local port of any outgoing connection, and then stays busy for as long
    // as that connection lives.
    int baixo = 32768;
    if (std::FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        int b = 0, a = 0;
        if (std::fscanf(f, "%d %d", &b, &a) == 2 && b > 1024) baixo = b;
        std::fclose(f);
    }
    const int inicio = std::max(1024, baixo - 12000);
    std::random_device aleatorio;
    std::uniform_int_distribution<int> faixa(inicio, baixo - 1);
    for (int tentativa = 0; tentativa < 200; ++tentativa) {
        TDescritor s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!s) return 0;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(faixa(aleatorio)));
        if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return ntohs(a.sin_port);
    }
    return 0;
}

TDescritor OcuparPorta(std::uint16_t& porta, bool todosEnderecos) {
    // Port 0 lets the system pick one that is really free: a port chosen earlier and bound again
    // could meanwhile be held by another test or by a connection in TIME_WAIT.
    TDescritor s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(todosEnderecos ? INADDR_ANY : INADDR_LOOPBACK);
    socklen_t t = sizeof a;
    porta = 0;
    if (!s || ::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s.Get(), 1) != 0 ||
        ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &t) != 0)
        return TDescritor();
    porta = ntohs(a.sin_port);
    return s;
}

}  // namespace velorin::teste
