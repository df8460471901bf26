#include "ui/terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "core/log.h"
#include "core/recursos.h"
#include "core/relogio.h"
#include "core/textos.h"
#include "ui/aplicacao.h"
#include "ui/qr.h"

namespace velorin {

namespace {

// Work handed to the main thread by other threads (the state's events, the server's status).
class TFilaPrincipal {
public:
    TFilaPrincipal() : aviso_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    void Enfileirar(std::function<void()> f) {
        {
            std::lock_guard<std::mutex> g(trava_);
            fila_.push_back(std::move(f));
        }
        const std::uint64_t um = 1;
        (void)!::write(aviso_.Get(), &um, sizeof um);
    }
    void Executar() {
        std::uint64_t n = 0;
        (void)!::read(aviso_.Get(), &n, sizeof n);
        std::deque<std::function<void()>> lote;
        {
            std::lock_guard<std::mutex> g(trava_);
            lote.swap(fila_);
        }
        for (auto& f : lote) f();
    }
    int Descritor() const { return aviso_.Get(); }

private:
    TDescritor aviso_;
    std::mutex trava_;
    std::deque<std::function<void()>> fila_;
};

void Imprimir(const std::string& texto) {
    std::fputs(texto.c_str(), stdout);
    std::fflush(stdout);
}

class TTerminal {
public:
    TTerminal() : app_(Frente()) {}

    int Executar() {
        sigset_t sinais;
        sigemptyset(&sinais);
        sigaddset(&sinais, SIGINT);
        sigaddset(&sinais, SIGTERM);
        sigaddset(&sinais, SIGHUP);
        TDescritor sfd(::signalfd(-1, &sinais, SFD_CLOEXEC | SFD_NONBLOCK));

        app_.Iniciar();
        statusImpresso_ = app_.TextoDica();
        Imprimir(statusImpresso_ + "\n");
        std::uint64_t proximo = AgoraMs() + INTERVALO_TIMER_MS;
        while (!terminar_) {
            const std::uint64_t agora = AgoraMs();
            const int espera = agora >= proximo ? 0 : static_cast<int>(proximo - agora);
            pollfd fds[2] = {{fila_.Descritor(), POLLIN, 0}, {sfd.Get(), POLLIN, 0}};
            (void)::poll(fds, sfd ? 2 : 1, espera);
            if (sfd && (fds[1].revents & POLLIN)) {
                signalfd_siginfo info{};
                if (::read(sfd.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                    LogFmt("Sinal %u recebido; encerrando", info.ssi_signo);
                app_.Sair();
                break;
            }
            if (fds[0].revents & POLLIN) fila_.Executar();
            if (AgoraMs() >= proximo) {
                proximo = AgoraMs() + INTERVALO_TIMER_MS;
                app_.Tique();
                if (!terminar_) AtualizarPareamento();
            }
        }
        app_.Finalizar();
        Imprimir("Encerrado.\n");
        return 0;
    }

private:
    TFrenteApp Frente() {
        TFrenteApp f;
        f.Enfileirar = [this](std::function<void()> fn) { fila_.Enfileirar(std::move(fn)); };
        f.Balao = [](const std::string& titulo, const std::string& texto, int) {
            Imprimir("[" + titulo + "] " + texto + "\n");
        };
        f.MostrarPareamento = [this] {
            app_.AbrirPareamento();
            codigoImpresso_.clear();
            if (!app_.ErroServidor().empty()) ImprimirStatus(true);
            AtualizarPareamento();
        };
        f.PareamentoConcluido = [this](const std::string& nome) {
            codigoImpresso_.clear();
            Imprimir(Formatar(Traduzir(sparearsucesso), nome.c_str()) + "\n");
        };
        f.MostrarContagem = [this](const TAgendamento& ag, std::int32_t s) { Contagem(ag, s); };
        f.EsconderContagem = [this] { ultimaContagem_ = -1; };
        f.AtualizarStatus = [this] {
            ImprimirStatus(false);
            AtualizarPareamento();
        };
        f.Terminar = [this] { terminar_ = true; };
        return f;
    }

    // The server's error, else the usual hint once it listens; printed again only when it says
    // something new, unless `sempre`.
    void ImprimirStatus(bool sempre) {
        std::string linha;
        if (!app_.ErroServidor().empty())
            linha = Formatar(Traduzir(sparearerroservidor), app_.ErroServidor().c_str());
        else if (app_.ServidorOk())
            linha = app_.TextoDica();
        if (linha.empty()) return;
        if (sempre || linha != statusImpresso_) Imprimir(linha + "\n");
        statusImpresso_ = linha;
    }

    // Prints the code and its QR symbol whenever the code changes; an expired code is renewed,
    // as the pairing window does.
    // Nothing is printed until the server listens: a link shown earlier would not open yet, and
    // one shown on a port that turned out busy would never open.
    void AtualizarPareamento() {
        TEstado* estado = app_.Estado();
        if (!estado || !app_.ServidorOk()) return;
        TPareamento p = estado->ObterPareamento();
        if (!p.Ativo) {
            codigoImpresso_.clear();
            return;
        }
        if (AgoraMs() >= p.ExpiraEm) {
            estado->RenovarCodigo();
            p = estado->ObterPareamento();
        }
        if (p.Codigo == codigoImpresso_) return;
        codigoImpresso_ = p.Codigo;
        const std::string link = Formatar("http://%s:%d/#parear=%s", app_.EnderecoParaCelular().c_str(),
                                          estado->Porta(), p.Codigo.c_str());
        const std::uint64_t agora = AgoraMs();
        const std::uint64_t resta = p.ExpiraEm > agora ? (p.ExpiraEm - agora) / 1000 : 0;
        std::string s = "\n== " + Traduzir(std::string_view(spareartitulo)) + " ==\n";
        s += QrEmTexto(MatrizQr(link), 2, ::isatty(STDOUT_FILENO) == 1);
        s += Traduzir(std::string_view(sparearouacesse)) + " " + link + "\n";
        s += Traduzir(std::string_view(spareardigitecodigo)) + " " + p.Codigo.substr(0, 3) + " " +
             p.Codigo.substr(3) + "\n";
        s += Formatar(Traduzir(sparearexpiraem),
                      Formatar("%d:%.2d", static_cast<int>(resta / 60), static_cast<int>(resta % 60)).c_str()) +
             "\n";
        Imprimir(s);
    }

    void Contagem(const TAgendamento& ag, std::int32_t segundos) {
        if (segundos == ultimaContagem_) return;
        const bool imprimir = ultimaContagem_ < 0 || segundos <= 10 || segundos % 10 == 0;
        ultimaContagem_ = segundos;
        if (!imprimir) return;
        const char* frase = ag.Acao == ACAO_REINICIAR   ? scontagemreiniciar
                            : ag.Acao == ACAO_SUSPENDER ? scontagemsuspender
                                                        : scontagemdesligar;
        std::string s = Traduzir(std::string_view(frase)) + " " + std::to_string(segundos) + " s — " +
                        Formatar(Traduzir(scontagempedidopor), ag.PedidoPor.c_str());
        Imprimir(s + "\n");
    }

    TFilaPrincipal fila_;
    TAplicacao app_;
    bool terminar_ = false;
    std::string codigoImpresso_;
    std::string statusImpresso_;
    std::int32_t ultimaContagem_ = -1;
};

}  // namespace

int ExecutarTerminal() {
    // Signals are taken through a descriptor by the main loop; block them before any thread
    // starts so that no other thread is picked to receive them.
    sigset_t sinais;
    sigemptyset(&sinais);
    sigaddset(&sinais, SIGINT);
    sigaddset(&sinais, SIGTERM);
    sigaddset(&sinais, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &sinais, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    TTerminal terminal;
    return terminal.Executar();
}

}  // namespace velorin
