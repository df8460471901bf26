// What the listener and the connection threads share. Connection threads hold it by shared
// pointer, so a connection that outlives Parar() never touches a freed server.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/servidor_http.h"

namespace velorin {

// Fixed transport constants (the adjustable ones are in TLimitesServidorHttp).
inline constexpr int BACKLOG_ESCUTA = 16;
inline constexpr int ESPERA_ACEITE_MS = 250;
inline constexpr std::size_t TAMANHO_RECEPCAO = 4096;
inline constexpr std::uint64_t MAXIMO_ESPERA_RECEPCAO_MS = 60000;
inline constexpr std::uint64_t TEMPO_ENVIO_MS = 5000;
inline constexpr std::uint64_t DRENO_RESPOSTA_MS = 2000;
inline constexpr std::uint64_t DRENO_ERRO_MS = 1000;
inline constexpr std::size_t LIMITE_DRENO = 65536;
inline constexpr int INTERVALO_PARAR_MS = 20;

struct TConexaoRegistrada {
    int Socket = -1;
    std::uint32_t Ip = 0;
    std::thread Linha;  // the connection's thread, stored by the listener under the lock
};

struct TNucleoServidorHttp {
    std::string Endereco;
    std::uint16_t Porta = 0;
    TServidorHttp::TTratador Tratador;
    TServidorHttp::TTratadorErro TratadorErro;
    TServidorHttp::TAoMudarEstado AoMudarEstado;
    TLimitesServidorHttp Limites;

    std::atomic<bool> Escutando{false};
    std::atomic<std::uint16_t> PortaLocal{0};

    mutable std::mutex Trava;
    std::condition_variable Mudou;  // stop requested, or a connection left
    // Guarded by Trava.
    bool Parando = false;
    std::vector<TConexaoRegistrada> Conexoes;
    std::vector<std::thread> Terminadas;  // ended connection threads not yet joined
    bool Abandonado = false;              // the server object is gone: threads detach themselves

    // Under Trava: false when the caps refuse the peer, else appends an entry (without thread).
    [[nodiscard]] bool RegistrarTravado(int socket, std::uint32_t ip);
    // Called by a connection thread as its last act before closing its socket.
    void Desregistrar(int socket) noexcept;
    [[nodiscard]] int ContarConexoes() const;
    [[nodiscard]] bool PedidoParar() const;
    // Waits up to `ms` or until a stop is asked; true when a stop was asked.
    bool EsperarParada(std::uint64_t ms);
    // Joins connection threads that have ended.
    void ColherTerminadas();
};

// OS side (servidor_http_<os>.cpp).
void ExecutarOuvinte(std::shared_ptr<TNucleoServidorHttp> nucleo) noexcept;
void DesligarSocket(int socket) noexcept;

}  // namespace velorin
