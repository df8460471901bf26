#include "http/servidor_http.h"

#include <chrono>

#include "core/log.h"
#include "http/nucleo_servidor_http.h"

namespace velorin {

bool TNucleoServidorHttp::RegistrarTravado(int socket, std::uint32_t ip) {
    if (static_cast<int>(Conexoes.size()) >= Limites.MaxConexoes) return false;
    int doMesmo = 0;
    for (const TConexaoRegistrada& c : Conexoes)
        if (c.Ip == ip) ++doMesmo;
    if (doMesmo >= Limites.MaxPorEndereco) return false;
    Conexoes.push_back(TConexaoRegistrada{socket, ip, {}});
    return true;
}

void TNucleoServidorHttp::Desregistrar(int socket) noexcept {
    std::thread linha;
    {
        std::lock_guard<std::mutex> g(Trava);
        for (std::size_t i = 0; i < Conexoes.size(); ++i) {
            if (Conexoes[i].Socket != socket) continue;
            linha = std::move(Conexoes[i].Linha);
            if (i + 1 != Conexoes.size()) Conexoes[i] = std::move(Conexoes.back());
            Conexoes.pop_back();
            break;
        }
        if (linha.joinable()) {
            bool guardada = false;
            if (!Abandonado) {
                try {
                    Terminadas.push_back(std::move(linha));
                    guardada = true;
                } catch (...) {
                    // Out of memory: nobody will join this thread, so let it go on its own.
                }
            }
            if (!guardada) linha.detach();
        }
    }
    Mudou.notify_all();
}

int TNucleoServidorHttp::ContarConexoes() const {
    std::lock_guard<std::mutex> g(Trava);
    return static_cast<int>(Conexoes.size());
}

bool TNucleoServidorHttp::PedidoParar() const {
    std::lock_guard<std::mutex> g(Trava);
    return Parando;
}

bool TNucleoServidorHttp::EsperarParada(std::uint64_t ms) {
    std::unique_lock<std::mutex> g(Trava);
    return Mudou.wait_for(g, std::chrono::milliseconds(ms), [this] { return Parando; });
}

void TNucleoServidorHttp::ColherTerminadas() {
    std::vector<std::thread> prontas;
    {
        std::lock_guard<std::mutex> g(Trava);
        prontas.swap(Terminadas);
    }
    // A thread lands here only after its last use of the registry; what is left for it is
    // closing its socket, so these joins are short.
    for (std::thread& t : prontas) t.join();
}

TServidorHttp::TServidorHttp(std::string endereco, TAoMudarEstado aoMudarEstado,
                             TTratadorErro tratadorErro, TTratador tratador, std::uint16_t porta,
                             TLimitesServidorHttp limites)
    : nucleo_(std::make_shared<TNucleoServidorHttp>()) {
    nucleo_->Endereco = std::move(endereco);
    nucleo_->Porta = porta;
    nucleo_->Tratador = std::move(tratador);
    nucleo_->TratadorErro = std::move(tratadorErro);
    nucleo_->AoMudarEstado = std::move(aoMudarEstado);
    nucleo_->Limites = limites;
}

TServidorHttp::~TServidorHttp() {
    (void)Parar();
    {
        std::lock_guard<std::mutex> g(nucleo_->Trava);
        nucleo_->Abandonado = true;
    }
    nucleo_->ColherTerminadas();
}

void TServidorHttp::Iniciar() {
    if (iniciado_) return;
    iniciado_ = true;
    try {
        ouvinte_ = std::thread(ExecutarOuvinte, nucleo_);
    } catch (const std::exception& e) {
        // Reported like any other start failure: the owner shows it and carries on without us.
        LogFmt("ERRO ao criar thread do servidor HTTP: %s", e.what());
        if (nucleo_->AoMudarEstado)
            nucleo_->AoMudarEstado(false, std::string("thread do servidor falhou: ") + e.what());
    }
}

int TServidorHttp::Parar() {
    {
        std::lock_guard<std::mutex> g(nucleo_->Trava);
        nucleo_->Parando = true;
    }
    nucleo_->Mudou.notify_all();
    if (ouvinte_.joinable()) ouvinte_.join();

    // The listener is gone, so no connection can register any more. Shutting the sockets down
    // makes every blocked receive or send return at once.
    {
        std::lock_guard<std::mutex> g(nucleo_->Trava);
        for (const TConexaoRegistrada& c : nucleo_->Conexoes) DesligarSocket(c.Socket);
    }

    // Counted in checks rather than clock time, so a stopped test clock cannot make it hang.
    const std::uint64_t checagens = nucleo_->Limites.EsperaPararMs / INTERVALO_PARAR_MS;
    {
        std::unique_lock<std::mutex> g(nucleo_->Trava);
        for (std::uint64_t i = 0; i < checagens && !nucleo_->Conexoes.empty(); ++i)
            nucleo_->Mudou.wait_for(g, std::chrono::milliseconds(INTERVALO_PARAR_MS),
                                    [this] { return nucleo_->Conexoes.empty(); });
    }
    nucleo_->ColherTerminadas();
    return nucleo_->ContarConexoes();
}

int TServidorHttp::ContarConexoes() const { return nucleo_->ContarConexoes(); }

bool TServidorHttp::Escutando() const { return nucleo_->Escutando.load(); }

std::uint16_t TServidorHttp::PortaLocal() const { return nucleo_->PortaLocal.load(); }

}  // namespace velorin
