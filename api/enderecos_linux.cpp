#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "api/enderecos.h"
#include "core/recursos.h"

namespace velorin {

std::string EnderecoPrincipal() {
    TDescritor s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!s) return {};
    // Connecting a datagram socket sends nothing; it only makes the kernel pick the route and
    // with it the outgoing interface's address.
    sockaddr_in destino{};
    destino.sin_family = AF_INET;
    destino.sin_port = htons(53);
    destino.sin_addr.s_addr = htonl(0x08080808u);
    if (::connect(s.Get(), reinterpret_cast<const sockaddr*>(&destino), sizeof destino) != 0) return {};
    sockaddr_in local{};
    socklen_t tam = sizeof local;
    if (::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&local), &tam) != 0) return {};
    if (local.sin_addr.s_addr == 0) return {};
    char texto[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &local.sin_addr, texto, sizeof texto) ? texto : std::string();
}

std::vector<std::string> EnderecosLocais() {
    std::vector<std::string> resolvidos;
    char nome[256] = {};
    if (::gethostname(nome, sizeof nome - 1) == 0 && nome[0] != '\0') {
        addrinfo dica{};
        dica.ai_family = AF_INET;
        dica.ai_socktype = SOCK_STREAM;
        addrinfo* lista = nullptr;
        if (::getaddrinfo(nome, nullptr, &dica, &lista) == 0) {
            for (addrinfo* a = lista; a; a = a->ai_next) {
                char texto[INET_ADDRSTRLEN] = {};
                const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
                if (::inet_ntop(AF_INET, &sin->sin_addr, texto, sizeof texto)) resolvidos.emplace_back(texto);
            }
            ::freeaddrinfo(lista);
        }
    }
    return MontarEnderecosLocais(EnderecoPrincipal(), resolvidos);
}

}  // namespace velorin
