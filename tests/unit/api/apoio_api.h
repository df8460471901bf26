// The local API as a phone reaches it: the real server on 127.0.0.1 with a port the system
// chose, wired to the gate, over a fresh state in a temporary data folder (simulation mode,
// test clock), and a raw client that sends bytes from any 127.0.0.x address.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api/api.h"
#include "apoio/cliente_http.h"
#include "apoio/pasta_temporaria.h"
#include "http/mensagem_http.h"
#include "http/servidor_http.h"

namespace velorin {

class TEstado;
class TGestorAtalhos;

namespace teste {

class TesteApi : public ::testing::Test {
  protected:
    TesteApi();
    ~TesteApi() override;

    // The clock the fixture starts at; tests move it with AvancarRelogioTeste.
    static constexpr std::uint64_t INICIO_RELOGIO_MS = 50'000'000;

    void SetUp() override;
    void TearDown() override;

    // Stops and starts everything again, with or without a shortcut catalog.
    void Reiniciar(bool comAtalhos);

    // The server's limits for the next (re)start. A connection thread stays registered for a
    // moment after its client has the answer, so on a busy machine quick successive requests
    // can meet the product's connection caps; those belong to the server's own tests, and here
    // they are raised out of the way.
    TLimitesServidorHttp limites_{.MaxConexoes = 256, .MaxPorEndereco = 64};

    TRespostaBruta Pedir(const TPedido& pedido);
    TRespostaBruta Get(const std::string& caminho, const std::string& token = {},
                       const std::string& de = "127.0.0.1");
    TRespostaBruta Post(const std::string& caminho, const std::string& corpo,
                        const std::string& token = {}, const std::string& de = "127.0.0.1");

    // Opens a pairing session and pairs through the API; the new token (empty on failure) and
    // the device's identifier.
    std::string Parear(const std::string& nome, std::string* id = nullptr,
                       const std::string& de = "127.0.0.1");

    TEstado& Estado() { return *estado_; }
    TGestorAtalhos* Atalhos() { return atalhos_.get(); }
    std::uint16_t Porta() const { return porta_; }
    // The log lines written so far.
    std::string Log() const;

    TPastaTemporaria pasta_;

  private:
    void Iniciar(bool comAtalhos);
    void Parar();

    bool simularAnterior_ = false;
    std::unique_ptr<TEstado> estado_;
    std::unique_ptr<TGestorAtalhos> atalhos_;
    std::unique_ptr<TServidorHttp> servidor_;
    std::uint16_t porta_ = 0;
};

}  // namespace teste
}  // namespace velorin
