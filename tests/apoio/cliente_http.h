// A raw HTTP client for tests: exact bytes out, status, headers and body back, from any
// 127.0.0.x address (all of them are ours on loopback).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/recursos.h"
#include "http/mensagem_http.h"

namespace velorin::teste {

// What came back over the socket. Status 0 means no parsable answer arrived.
struct TRespostaBruta {
    int Status = 0;
    std::vector<TCabecalhoHttp> Cabecalhos;  // in received order, names lower-case
    std::string Corpo;
    std::string Falha;  // with status 0: which step of the client failed, and errno

    // First value of a header (name in lower case); empty when absent.
    [[nodiscard]] std::string Cabecalho(std::string_view nome) const;
    [[nodiscard]] int ContarCabecalho(std::string_view nome) const;
    // The body as JSON; a discarded value when it is not JSON.
    [[nodiscard]] nlohmann::ordered_json Json() const;
    // The `erro` member of an error answer; empty otherwise.
    [[nodiscard]] std::string Erro() const;
};

// Connects from `origem` to 127.0.0.1:porta, sends the bytes and reads one answer (its head and
// the body its Content-Length announces, or up to the server's close).
TRespostaBruta EnviarBytes(std::uint16_t porta, const std::string& bytes,
                           const std::string& origem = "127.0.0.1");

// A TCP port on loopback, below the ephemeral range, that nothing holds right now (for programs
// that take a port).
std::uint16_t PortaLivre();

// A socket listening on a port the system chose (on every address, or loopback only), for tests
// of a busy port; `porta` receives the port. Closed when the owner goes.
TDescritor OcuparPorta(std::uint16_t& porta, bool todosEnderecos);

// One request as the tests describe it; MontarRequisicao turns it into bytes.
struct TPedido {
    std::string Metodo = "GET";
    std::string Caminho = "/api/ping";
    std::string Corpo;
    std::string TipoConteudo = "application/json";  // sent for POST and PUT; empty: none
    std::string Token;                              // "Authorization: Bearer <token>" when set
    std::string Host;                               // empty: "127.0.0.1:<port>"
    bool SemHost = false;
    std::vector<std::pair<std::string, std::string>> Cabecalhos;  // extra lines, as given
    std::string De = "127.0.0.1";                                 // client address
};

std::string MontarRequisicao(const TPedido& pedido, std::uint16_t porta);

}  // namespace velorin::teste
