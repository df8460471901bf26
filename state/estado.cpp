// Construction, events, the configuration as a whole, the simple settings, internet mouse and
// keyboard use and the cloud credentials.
#include "state/estado.h"

#include <utility>

#include "core/log.h"
#include "core/parametros.h"
#include "core/relogio.h"
#include "core/seguranca.h"

namespace velorin {

namespace {

// A continuous session of internet mouse and keyboard use gives one notice; the next one needs
// a full quiet minute.
constexpr std::uint64_t MINUTO_ENTRADA_INTERNET_MS = 60000;

}  // namespace

TEstado::TEstado(const TConfig& config) : config_(config) {}

TEstado::~TEstado() {
    // Secrets held only in memory go with the object.
    for (TTransferencia& t : transferencias_) {
        ApagarSegredo(t.Token);
        ApagarSegredo(t.Chave);
    }
    ApagarSegredo(config_.Token);
}

// ---------------------------------------------------------------------------------------------
// Events

void TEstado::DefinirAoEvento(TAoEvento sink) {
    TAoEvento antigo;
    {
        TTrava g(trava_);
        antigo = std::exchange(aoEvento_, std::move(sink));
    }
    // The old sink's captures are released here, outside the lock.
}

void TEstado::EmitirTextos(TTipoEvento tipo, const std::string& texto, const std::string& texto2,
                           const std::string& texto3) {
    auto evento = std::make_unique<TEvento>();
    evento->Tipo = tipo;
    evento->Texto = texto;
    evento->Texto2 = texto2;
    evento->Texto3 = texto3;
    Entregar(std::move(evento));
}

void TEstado::Emitir(TTipoEvento tipo, const std::string& texto) {
    EmitirTextos(tipo, texto, {}, {});
}

void TEstado::EmitirAgendamento(TTipoEvento tipo, const TAgendamento& agendamento) {
    auto evento = std::make_unique<TEvento>();
    evento->Tipo = tipo;
    evento->Agendamento = agendamento;
    Entregar(std::move(evento));
}

void TEstado::Entregar(std::unique_ptr<TEvento> evento) {
    // The sink is copied under the lock and called outside it: a sink that reads the state (or
    // is replaced concurrently) cannot deadlock or run half-replaced.
    TAoEvento sink;
    {
        TTrava g(trava_);
        sink = aoEvento_;
    }
    if (sink) sink(std::move(evento));
}

void TEstado::DefinirRelogio(TRelogio relogio) {
    TRelogio antigo;
    {
        TTrava g(trava_);
        antigo = std::exchange(relogio_, std::move(relogio));
    }
}

std::uint64_t TEstado::AgoraTransferencias() const {
    return relogio_ ? relogio_() : AgoraMs();
}

// ---------------------------------------------------------------------------------------------
// Configuration and simple settings

TConfig TEstado::ObterConfig() const {
    TTrava g(trava_);
    return config_;
}

bool TEstado::ConfigFoiAlterada() const {
    TTrava g(trava_);
    return configAlterada_;
}

void TEstado::LimparConfigAlterada() {
    TTrava g(trava_);
    configAlterada_ = false;
}

std::int32_t TEstado::Porta() const {
    TTrava g(trava_);
    return config_.Porta;
}

std::string TEstado::Endereco() const {
    TTrava g(trava_);
    return config_.Endereco;
}

std::string TEstado::NomeExibicao() const {
    {
        TTrava g(trava_);
        if (!config_.NomeExibicao.empty()) return config_.NomeExibicao;
    }
    // Asking the system for its name is a call out of the object: not under the lock.
    return NomeComputador();
}

void TEstado::DefinirIdioma(const std::string& codigo) {
    TTrava g(trava_);
    config_.Idioma = codigo;
    configAlterada_ = true;
}

bool TEstado::Pausado() const {
    TTrava g(trava_);
    return config_.Pausado;
}

void TEstado::DefinirPausado(bool valor) {
    {
        TTrava g(trava_);
        config_.Pausado = valor;
        configAlterada_ = true;
    }
    LogFmt("Controle remoto %s", valor ? "pausado" : "retomado");
}

bool TEstado::MouseTecladoInternet() const {
    TTrava g(trava_);
    return config_.MouseTecladoInternet;
}

void TEstado::DefinirMouseTecladoInternet(bool valor) {
    {
        TTrava g(trava_);
        config_.MouseTecladoInternet = valor;
        configAlterada_ = true;
        if (!valor) {
            ultimaEntradaInternet_ = 0;
            usuarioEntradaInternet_.clear();
        }
    }
    LogFmt("Mouse e teclado pela internet %s", valor ? "ligados" : "desligados");
}

void TEstado::RegistrarEntradaInternet(const std::string& nome) {
    bool novidade;
    {
        TTrava g(trava_);
        const std::uint64_t agora = AgoraMs();
        novidade = ultimaEntradaInternet_ == 0 || agora < ultimaEntradaInternet_ ||
                   agora - ultimaEntradaInternet_ >= MINUTO_ENTRADA_INTERNET_MS;
        ultimaEntradaInternet_ = agora;
        usuarioEntradaInternet_ = nome;
    }
    if (!novidade) return;
    LogFmt("Mouse e teclado pela internet em uso por %s", TextoParaLog(nome, 120).c_str());
    Emitir(teEntradaInternet, nome);
}

std::string TEstado::UsuarioEntradaInternet() const {
    TTrava g(trava_);
    if (ultimaEntradaInternet_ == 0) return {};
    const std::uint64_t agora = AgoraMs();
    if (agora < ultimaEntradaInternet_ ||
        agora - ultimaEntradaInternet_ >= MINUTO_ENTRADA_INTERNET_MS)
        return {};
    return usuarioEntradaInternet_;
}

// ---------------------------------------------------------------------------------------------
// Cloud credentials

std::string TEstado::UrlNuvem() const {
    TTrava g(trava_);
    return config_.Url;
}

std::string TEstado::TokenNuvem() const {
    TTrava g(trava_);
    return config_.Token;
}

void TEstado::DefinirNuvem(const std::string& url, const std::string& token,
                           const std::string& conta, const std::string& aparelho) {
    bool desligou = false;
    {
        TTrava g(trava_);
        config_.Url = url;
        ApagarSegredo(config_.Token);
        config_.Token = token;
        config_.Conta = conta;
        config_.Aparelho = aparelho;
        // Without cloud access nobody can use mouse and keyboard over the internet; the option
        // must not silently come back on with the next activation.
        if (token.empty()) {
            desligou = config_.MouseTecladoInternet;
            config_.MouseTecladoInternet = false;
            ultimaEntradaInternet_ = 0;
            usuarioEntradaInternet_.clear();
        }
        configAlterada_ = true;
    }
    if (desligou) Log("Mouse e teclado pela internet desligados");
}

}  // namespace velorin
