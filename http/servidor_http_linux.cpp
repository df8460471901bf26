#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "core/log.h"
#include "core/recursos.h"
#include "core/relogio.h"
#include "core/texto.h"
#include "http/nucleo_servidor_http.h"

namespace velorin {

namespace {

void DefinirEspera(int fd, int opcao, std::uint64_t ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    (void)::setsockopt(fd, SOL_SOCKET, opcao, &tv, sizeof tv);
}

std::string MensagemDe(const std::exception_ptr& erro) {
    try {
        std::rethrow_exception(erro);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "erro desconhecido";
    }
}

}  // namespace

// One accepted client: reads one request within its budget, answers it, and goes.
class TConexaoHttp {
public:
    TConexaoHttp(TNucleoServidorHttp& servidor, int socket, std::uint32_t ip)
        : Servidor(servidor), Socket(socket), Ip(ip) {}

    void Executar();

private:
    TNucleoServidorHttp& Servidor;
    int Socket;
    std::uint32_t Ip;
    std::uint64_t Prazo = 0;  // AgoraMs() after which nothing more is read

    // Appends at most min(pedido, 4096) bytes; the count, or 0 / -1 when the peer closed, the
    // receive failed or the budget is used up.
    long Receber(std::string& buffer, std::size_t pedido);
    void Enviar(std::string_view dados);
    void Drenar(std::uint64_t ms);
    void ResponderErro(int status);
};

long TConexaoHttp::Receber(std::string& buffer, std::size_t pedido) {
    for (;;) {
        const std::uint64_t agora = AgoraMs();
        if (agora >= Prazo) return -1;
        DefinirEspera(Socket, SO_RCVTIMEO, std::clamp<std::uint64_t>(Prazo - agora, 1, MAXIMO_ESPERA_RECEPCAO_MS));
        const std::size_t quanto = std::min(pedido, TAMANHO_RECEPCAO);
        const std::size_t antes = buffer.size();
        buffer.resize(antes + quanto);
        const ssize_t n = ::recv(Socket, buffer.data() + antes, quanto, 0);
        buffer.resize(antes + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n < 0 && errno == EINTR) continue;
        return static_cast<long>(n);
    }
}

void TConexaoHttp::Enviar(std::string_view dados) {
    DefinirEspera(Socket, SO_SNDTIMEO, TEMPO_ENVIO_MS);
    std::size_t enviado = 0;
    while (enviado < dados.size()) {
        // MSG_NOSIGNAL: a peer that is already gone must not kill the process with SIGPIPE.
        const ssize_t n = ::send(Socket, dados.data() + enviado, dados.size() - enviado, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the rest is dropped; the peer will see the short answer
        enviado += static_cast<std::size_t>(n);
    }
}

// Reads and discards what the peer still sends, so closing with unread data does not reset the
// connection before the peer has read our answer. Bounded in time as a whole, not per receive,
// so a peer trickling a byte now and then cannot keep the thread.
void TConexaoHttp::Drenar(std::uint64_t ms) {
    const std::uint64_t fim = AgoraMs() + ms;
    std::size_t descartado = 0;
    char bloco[TAMANHO_RECEPCAO];
    while (descartado <= LIMITE_DRENO) {
        const std::uint64_t agora = AgoraMs();
        const std::uint64_t resta = agora < fim ? fim - agora : 0;
        if (resta == 0) return;
        DefinirEspera(Socket, SO_RCVTIMEO, resta);
        const ssize_t n = ::recv(Socket, bloco, sizeof bloco, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        descartado += static_cast<std::size_t>(n);
    }
}

void TConexaoHttp::ResponderErro(int status) {
    std::string bytes;
    {
        TRespostaHttp resp;
        resp.Status = status;
        if (Servidor.TratadorErro) Servidor.TratadorErro(status, resp);
        bytes = EscreverResposta(resp);
    }
    Enviar(bytes);
    ::shutdown(Socket, SHUT_WR);
    Drenar(DRENO_ERRO_MS);
}

void TConexaoHttp::Executar() {
    TRequisicaoHttp req;
    TRespostaHttp resp;
    Prazo = AgoraMs() + Servidor.Limites.PrazoRequisicaoMs;
    std::string buffer;

    std::size_t tamanhoCabeca = 0;
    int status = 0;
    int resultado = CABECA_INCOMPLETA;
    do {
        if (Receber(buffer, TAMANHO_RECEPCAO) <= 0) return;
        resultado = AnalisarCabeca(buffer, req, tamanhoCabeca, status);
    } while (resultado == CABECA_INCOMPLETA);
    if (resultado == CABECA_RECUSADA) {
        ResponderErro(status);
        return;
    }

    req.IpCliente = TextoIpv4(Ip);

    long long comprimento = 0;
    const std::string valorTamanho = req.Cabecalho("content-length");
    if (!valorTamanho.empty() && !LerInteiro(valorTamanho, comprimento)) comprimento = 0;
    const auto falta = static_cast<std::size_t>(comprimento);
    // Bytes past the declared body (a second request in the same packet, say) are ignored:
    // one request per connection.
    req.Corpo = buffer.substr(tamanhoCabeca, falta);
    buffer = std::string();
    if (req.Corpo.size() < falta && MinusculasAscii(req.Cabecalho("expect")) == "100-continue")
        Enviar("HTTP/1.1 100 Continue\r\n\r\n");
    while (req.Corpo.size() < falta)
        if (Receber(req.Corpo, falta - req.Corpo.size()) <= 0) return;

    try {
        if (!Servidor.Tratador) throw std::runtime_error("sem tratador");
        Servidor.Tratador(req, resp);
    } catch (...) {
        const std::string mensagem = MensagemDe(std::current_exception());
        LogFmt("ERRO no tratador HTTP (%s %s): %s", req.Metodo.c_str(),
               TextoParaLog(req.Caminho, 120).c_str(), TextoParaLog(mensagem, 120).c_str());
        resp.Limpar();
        resp.Status = 500;
        if (Servidor.TratadorErro) Servidor.TratadorErro(500, resp);
    }

    Enviar(EscreverResposta(resp));
    Drenar(DRENO_RESPOSTA_MS);
}

namespace {

void ExecutarConexao(const std::shared_ptr<TNucleoServidorHttp>& nucleo, int fd,
                     std::uint32_t ip) noexcept {
    TDescritor socket(fd);
    // Declared after the descriptor so it runs first: the registry must never name a closed
    // socket number, which the system could hand to someone else.
    TAoSair desregistrar([&] { nucleo->Desregistrar(fd); });
    try {
        TConexaoHttp conexao(*nucleo, fd, ip);
        conexao.Executar();
    } catch (...) {
        try {
            LogFmt("ERRO na conexao HTTP: %s",
                   TextoParaLog(MensagemDe(std::current_exception()), 120).c_str());
        } catch (...) {
        }
    }
}

void Notificar(TNucleoServidorHttp& n, bool ok, const std::string& texto) {
    if (n.AoMudarEstado) n.AoMudarEstado(ok, texto);
}

// Hands an accepted socket to a new connection thread, or closes it without a byte.
void Acolher(const std::shared_ptr<TNucleoServidorHttp>& nucleo, TDescritor cliente, std::uint32_t ip) {
    if (!EnderecoLocal(ip)) return;
    std::unique_lock<std::mutex> g(nucleo->Trava);
    if (nucleo->Parando || !nucleo->RegistrarTravado(cliente.Get(), ip)) return;
    // The thread is created under the lock so that it cannot reach Desregistrar before its
    // handle is stored in its entry.
    try {
        const int fd = cliente.Get();
        nucleo->Conexoes.back().Linha =
            std::thread([nucleo, fd, ip] { ExecutarConexao(nucleo, fd, ip); });
        (void)cliente.Soltar();
    } catch (const std::exception& e) {
        nucleo->Conexoes.pop_back();
        g.unlock();
        LogFmt("ERRO ao criar thread de conexao: %s", e.what());
    }
}

}  // namespace

void DesligarSocket(int socket) noexcept { ::shutdown(socket, SHUT_RDWR); }

void ExecutarOuvinte(std::shared_ptr<TNucleoServidorHttp> nucleo) noexcept {
    TNucleoServidorHttp& n = *nucleo;
    try {
        std::uint32_t endereco = 0;
        if (!LerIpv4(n.Endereco, endereco)) {
            Notificar(n, false, Formatar("endereco invalido: %s", n.Endereco.c_str()));
            return;
        }
        TDescritor escuta(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!escuta) {
            Notificar(n, false, Formatar("socket falhou (%d)", errno));
            return;
        }
        // SO_REUSEADDR on Linux never lets us bind over a live listener (the exclusive use we
        // want) and lets a restart bind through the TIME_WAIT our own closes leave behind.
        // SO_REUSEPORT would share the port, so it is never set.
        const int um = 1;
        (void)::setsockopt(escuta.Get(), SOL_SOCKET, SO_REUSEADDR, &um, sizeof um);

        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(n.Porta);
        local.sin_addr.s_addr = htonl(endereco);
        const std::uint64_t primeira = AgoraMs();
        int erro = 0;
        for (;;) {
            if (::bind(escuta.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) {
                erro = 0;
                break;
            }
            erro = errno;
            if (erro != EADDRINUSE) break;
            if (n.EsperarParada(n.Limites.IntervaloBindMs)) return;
            if (AgoraMs() - primeira > n.Limites.JanelaBindMs) break;
        }
        if (erro != 0) {
            Notificar(n, false, Formatar("porta %d indisponivel (erro %d)", static_cast<int>(n.Porta), erro));
            return;
        }
        if (::listen(escuta.Get(), BACKLOG_ESCUTA) != 0) {
            Notificar(n, false, Formatar("listen falhou (%d)", errno));
            return;
        }
        sockaddr_in ligado{};
        socklen_t tam = sizeof ligado;
        if (::getsockname(escuta.Get(), reinterpret_cast<sockaddr*>(&ligado), &tam) == 0)
            n.PortaLocal.store(ntohs(ligado.sin_port));

        n.Escutando.store(true);
        TAoSair fimEscuta([&n] { n.Escutando.store(false); });
        Notificar(n, true, std::string());

        while (!n.PedidoParar()) {
            n.ColherTerminadas();
            pollfd p{escuta.Get(), POLLIN, 0};
            const int pronto = ::poll(&p, 1, ESPERA_ACEITE_MS);
            if (pronto <= 0) continue;
            sockaddr_in par{};
            socklen_t tamPar = sizeof par;
            TDescritor cliente(::accept4(escuta.Get(), reinterpret_cast<sockaddr*>(&par), &tamPar, SOCK_CLOEXEC));
            if (!cliente) {
                const int e = errno;
                // Out of descriptors or memory: the socket stays readable, so back off instead
                // of spinning until something is freed.
                if (e != EAGAIN && e != EWOULDBLOCK && e != EINTR && e != ECONNABORTED)
                    (void)n.EsperarParada(ESPERA_ACEITE_MS);
                continue;
            }
            if (par.sin_family != AF_INET) continue;
            Acolher(nucleo, std::move(cliente), ntohl(par.sin_addr.s_addr));
        }
    } catch (...) {
        try {
            LogFmt("ERRO no servidor HTTP: %s", TextoParaLog(MensagemDe(std::current_exception()), 120).c_str());
        } catch (...) {
        }
    }
}

}  // namespace velorin
