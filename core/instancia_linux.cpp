// The single instance on Linux: an flock'ed lock file in the user's runtime folder stands for
// the named mutex, and an abstract UNIX socket carries the "Mostrar" and "Sair" signals. Both
// vanish with the process, so a crashed copy never blocks the next start.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <string>

#include "core/instancia.h"
#include "core/log.h"
#include "core/recursos.h"

namespace velorin {

namespace {

constexpr int ESPERA_MENSAGEM_MS = 200;
constexpr const char* MSG_MOSTRAR = "Mostrar";
constexpr const char* MSG_SAIR = "Sair";

std::mutex trava;
TDescritor trava_arquivo;
TDescritor escuta;
bool pendente_mostrar = false;
bool pendente_sair = false;

// "Local\Velorin.Instancia.ABCD1234" -> "Velorin.Instancia.ABCD1234"
std::string NomeBase(const std::string& sufixo) {
    std::string n = NomeObjetoInstancia(sufixo);
    const auto barra = n.find('\\');
    return barra == std::string::npos ? n : n.substr(barra + 1);
}

std::string PastaTravas() {
    const char* rt = std::getenv("XDG_RUNTIME_DIR");
    if (rt && rt[0] == '/') return std::string(rt) + "/";
    // Without a runtime folder, a private folder of ours under /tmp.
    std::string p = "/tmp/velorin-" + std::to_string(::getuid()) + "/";
    ::mkdir(p.c_str(), 0700);
    struct stat st{};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return {};
    return p;
}

// The abstract namespace is shared by every user of the network namespace, so the uid is part
// of the name, and every peer's uid is checked on accept.
sockaddr_un EnderecoSinal(socklen_t& tamanho) {
    const std::string nome = NomeBase("Sinal") + "." + std::to_string(::getuid());
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const std::size_t n = std::min(nome.size(), sizeof a.sun_path - 1);
    std::memcpy(a.sun_path + 1, nome.data(), n);
    tamanho = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    return a;
}

void Enviar(const char* mensagem) {
    TDescritor s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s) return;
    socklen_t tam = 0;
    const sockaddr_un a = EnderecoSinal(tam);
    if (::connect(s.Get(), reinterpret_cast<const sockaddr*>(&a), tam) != 0) return;
    (void)EscreverTudo(s.Get(), mensagem, std::strlen(mensagem));
}

// Takes every waiting signal off the socket; called with `trava` held.
void ColherSinais() {
    if (!escuta) return;
    for (;;) {
        TDescritor c(::accept4(escuta.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!c) return;  // EAGAIN: nothing more waiting
        ucred cred{};
        socklen_t tam = sizeof cred;
        if (::getsockopt(c.Get(), SOL_SOCKET, SO_PEERCRED, &cred, &tam) != 0 || cred.uid != ::getuid())
            continue;
        pollfd p{c.Get(), POLLIN, 0};
        if (::poll(&p, 1, ESPERA_MENSAGEM_MS) <= 0) continue;
        char buf[16] = {};
        const ssize_t n = ::recv(c.Get(), buf, sizeof buf - 1, MSG_DONTWAIT);
        if (n <= 0) continue;
        const std::string m(buf, static_cast<std::size_t>(n));
        if (m == MSG_MOSTRAR) pendente_mostrar = true;
        if (m == MSG_SAIR) pendente_sair = true;
    }
}

}  // namespace

bool AdquirirInstancia() {
    std::lock_guard<std::mutex> g(trava);
    const std::string pasta = PastaTravas();
    if (!pasta.empty()) {
        TDescritor fd(::open((pasta + NomeBase("Instancia") + ".lock").c_str(),
                             O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (fd && ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) return false;
            fd.Fechar();
        }
        trava_arquivo = std::move(fd);
    }
    // As with a mutex that cannot be created, a missing lock file does not stop the start.
    TDescritor s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    socklen_t tam = 0;
    const sockaddr_un a = EnderecoSinal(tam);
    if (s && ::bind(s.Get(), reinterpret_cast<const sockaddr*>(&a), tam) == 0 &&
        ::listen(s.Get(), 8) == 0) {
        escuta = std::move(s);
    } else {
        LogFmt("AVISO: sinais entre instancias indisponiveis (erro %d)", errno);
    }
    pendente_mostrar = pendente_sair = false;
    return true;
}

void SinalizarMostrar() { Enviar(MSG_MOSTRAR); }
void SinalizarSair() { Enviar(MSG_SAIR); }

bool PedidoMostrar() {
    std::lock_guard<std::mutex> g(trava);
    ColherSinais();
    return std::exchange(pendente_mostrar, false);
}

bool PedidoSair() {
    std::lock_guard<std::mutex> g(trava);
    ColherSinais();
    return std::exchange(pendente_sair, false);
}

void LiberarInstancia() {
    std::lock_guard<std::mutex> g(trava);
    escuta.Fechar();
    trava_arquivo.Fechar();
    pendente_mostrar = pendente_sair = false;
}

}  // namespace velorin
