// The program's life without any toolkit: start-up in order, the once-a-second housekeeping,
// the reactions to the state's events and the orderly stop. A front end (the terminal one, or
// the desktop tray) drives it from its main thread and shows what it asks to be shown.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "state/estado.h"

namespace velorin {

class TServidorHttp;
class TGestorAtalhos;

// What the front end offers. Every member is called on the main thread except Enfileirar,
// which any thread may call to have work run on the main thread later.
struct TFrenteApp {
    std::function<void(std::function<void()>)> Enfileirar;
    // icone: 1 information, 2 warning, 3 error
    std::function<void(const std::string& titulo, const std::string& texto, int icone)> Balao;
    std::function<void()> MostrarPareamento;
    std::function<void(const std::string& nome)> PareamentoConcluido;
    std::function<void(const TAgendamento& agendamento, std::int32_t segundos)> MostrarContagem;
    std::function<void()> EsconderContagem;
    // The server's state changed (the pairing view shows it).
    std::function<void()> AtualizarStatus;
    // Ends the front end's main loop (after Encerrar).
    std::function<void()> Terminar;
};

// How far shutdown may wait before giving up on connections, and how often the timer runs.
inline constexpr std::uint64_t INTERVALO_TIMER_MS = 1000;
inline constexpr std::uint64_t SALTO_SUSPENSAO_MS = 30000;
inline constexpr std::uint64_t INTERVALO_SALVAR_MS = 60000;

class TAplicacao {
public:
    explicit TAplicacao(TFrenteApp frente);
    ~TAplicacao();
    TAplicacao(const TAplicacao&) = delete;
    TAplicacao& operator=(const TAplicacao&) = delete;

    // Starts everything in order: log, configuration, state, catalog, API, panel, server.
    void Iniciar();
    // The once-a-second housekeeping.
    void Tique();
    // The shutdown sequence; runs once.
    void Encerrar();
    // Encerrar, then end the front end's loop.
    void Sair();
    // Frees what Encerrar left standing and closes the log ("Encerrado").
    void Finalizar();

    void SalvarSeNecessario(bool forcar);
    // The one-line summary (tray tip; the terminal's status line).
    [[nodiscard]] std::string TextoDica() const;
    // The event sink handed to the state; safe from any thread.
    void ReceberEvento(std::unique_ptr<TEvento> evento);
    // Opens the pairing session when the front end shows the pairing view.
    void AbrirPareamento();

    [[nodiscard]] TEstado* Estado() const { return estado_.get(); }
    [[nodiscard]] bool ServidorOk() const { return servidorOk_; }
    [[nodiscard]] const std::string& ErroServidor() const { return erroServidor_; }
    [[nodiscard]] bool Iniciado() const { return iniciado_; }
    // The address phones should use: the main local address, else 127.0.0.1.
    [[nodiscard]] std::string EnderecoParaCelular() const;

private:
    void TratarEvento(std::unique_ptr<TEvento> evento);
    void AoMudarEstadoServidor(bool ok, const std::string& texto);

    TFrenteApp frente_;
    std::unique_ptr<TEstado> estado_;
    std::unique_ptr<TGestorAtalhos> atalhos_;
    std::unique_ptr<TServidorHttp> servidor_;
    std::string erroServidor_;
    std::atomic<bool> encerrando_{false};
    bool iniciado_ = false;
    bool servidorOk_ = false;
    bool servidorLiberado_ = true;
    bool apiIniciada_ = false;
    std::uint64_t ultimoTick_ = 0;
    std::uint64_t ultimoSalvamento_ = 0;
    // Lets queued calls find out that the application is gone before they run.
    std::shared_ptr<TAplicacao*> vivo_;
};

}  // namespace velorin
