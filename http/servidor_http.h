// The local API's TCP listener and its connection threads. The server knows nothing about the
// API: it reads one request per connection, hands it to the request handler and writes the
// answer, while enforcing the transport rules (local peers only, connection caps, a time budget
// per request, an orderly stop).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "http/mensagem_http.h"

namespace velorin {

// Time and count limits of the server. The defaults are the product's; tests and benchmarks
// may shorten the waits (a silent client, a busy port) or raise the caps.
struct TLimitesServidorHttp {
    std::uint64_t PrazoRequisicaoMs = 10000;  // head and body together, from the thread's start
    std::uint64_t JanelaBindMs = 10000;       // keep retrying a busy port this long
    std::uint64_t IntervaloBindMs = 500;      // between two bind attempts
    std::uint64_t EsperaPararMs = 3000;       // Parar() waits this long for connections
    int MaxConexoes = 32;
    int MaxPorEndereco = 8;
};

struct TNucleoServidorHttp;

class TServidorHttp {
public:
    // Fills the response for a request; runs on the connection thread, may throw.
    using TTratador = std::function<void(const TRequisicaoHttp&, TRespostaHttp&)>;
    // Fills the response for a transport-level error status (a parser status or 500).
    using TTratadorErro = std::function<void(int status, TRespostaHttp&)>;
    // (true, "") once listening; (false, reason) when the server gives up. Runs on the listener
    // thread: the owner must pass it on to its own thread.
    using TAoMudarEstado = std::function<void(bool ok, const std::string& texto)>;

    // Nothing runs until Iniciar(). Porta 0 lets the system choose (see PortaLocal()).
    TServidorHttp(std::string endereco, TAoMudarEstado aoMudarEstado, TTratadorErro tratadorErro,
                  TTratador tratador, std::uint16_t porta, TLimitesServidorHttp limites = {});
    // Stops the server if the owner did not. Connections that outlive the stop keep what they
    // need alive and end on their own; the object itself may go.
    ~TServidorHttp();
    TServidorHttp(const TServidorHttp&) = delete;
    TServidorHttp& operator=(const TServidorHttp&) = delete;

    // Starts the listener thread; a second call does nothing.
    void Iniciar();
    // Stops listening, cuts every live connection and waits for them; returns how many are still
    // registered after the wait (0 means every connection thread has ended).
    [[nodiscard]] int Parar();
    [[nodiscard]] int ContarConexoes() const;
    [[nodiscard]] bool Escutando() const;
    // The port actually bound, once listening; 0 before.
    [[nodiscard]] std::uint16_t PortaLocal() const;

private:
    std::shared_ptr<TNucleoServidorHttp> nucleo_;
    std::thread ouvinte_;
    bool iniciado_ = false;
};

}  // namespace velorin
