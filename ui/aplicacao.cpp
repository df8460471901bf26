#include "ui/aplicacao.h"

#include <ctime>

#include "actions/atalhos.h"
#include "actions/energia.h"
#include "actions/tela.h"
#include "api/api.h"
#include "api/enderecos.h"
#include "core/config.h"
#include "core/inicio.h"
#include "core/instancia.h"
#include "core/log.h"
#include "core/parametros.h"
#include "core/relogio.h"
#include "core/textos.h"
#include "http/painel.h"
#include "http/servidor_http.h"

namespace velorin {

namespace {

std::string HoraMinuto(double data) {
    const std::time_t t = TempoUnixDeData(data);
    std::tm local{};
    if (data <= 0 || !localtime_r(&t, &local)) return "--:--";
    return Formatar("%02d:%02d", local.tm_hour, local.tm_min);
}

std::string NomeMenuAcao(std::int32_t acao) {
    switch (acao) {
        case ACAO_DESLIGAR: return Traduzir(std::string_view(sacaodesligar));
        case ACAO_REINICIAR: return Traduzir(std::string_view(sacaoreiniciar));
        case ACAO_SUSPENDER: return Traduzir(std::string_view(sacaosuspender));
        default: return {};
    }
}

}  // namespace

TAplicacao::TAplicacao(TFrenteApp frente)
    : frente_(std::move(frente)), vivo_(std::make_shared<TAplicacao*>(this)) {}

TAplicacao::~TAplicacao() {
    vivo_.reset();
    Finalizar();
}

void TAplicacao::Iniciar() {
    const TParametros& p = Parametros;
    AbrirLog(p.Dados);
    LogFmt("Iniciando %s %s (simulacao=%s, dados=%s)", TITULO_APLICACAO, VERSAO_PROGRAMA,
           p.Simular ? "True" : "False", TextoParaLog(p.Dados, 300).c_str());

    DefinirPastaConfig(p.Dados);
    const bool existia = ConfigExiste();
    TConfig cfg;
    CarregarConfig(cfg);
    SelecionarIdioma(cfg.Idioma);
    if (p.Porta > 0) cfg.Porta = p.Porta;
    if (!p.Endereco.empty()) cfg.Endereco = p.Endereco;

    estado_ = std::make_unique<TEstado>(cfg);
    std::weak_ptr<TAplicacao*> vivo = vivo_;
    estado_->DefinirAoEvento([vivo](std::unique_ptr<TEvento> ev) {
        if (auto a = vivo.lock()) (*a)->ReceberEvento(std::move(ev));
    });

    if (!existia) {
        if (PodeIniciarComWindows() && !DefinirInicioWindows(true))
            Log("AVISO: nao foi possivel alterar o \"iniciar com o Windows\"");
        if (SalvarConfig(estado_->ObterConfig())) estado_->LimparConfigAlterada();
    }

    RegistrarTela(0);
    atalhos_ = std::make_unique<TGestorAtalhos>(p.Dados);
    IniciarApi(*estado_, atalhos_.get());
    apiIniciada_ = true;
    CarregarPainel(p.Web);

    erroServidor_.clear();
    servidor_ = std::make_unique<TServidorHttp>(
        estado_->Endereco(),
        [vivo](bool ok, const std::string& texto) {
            if (auto a = vivo.lock()) (*a)->AoMudarEstadoServidor(ok, texto);
        },
        TratarErroHttp, TratarRequisicao, static_cast<std::uint16_t>(estado_->Porta()));
    servidorLiberado_ = false;
    servidor_->Iniciar();

    ultimoTick_ = ultimoSalvamento_ = AgoraMs();
    iniciado_ = true;

    if (estado_->Dispositivos().empty() && !p.InicioWindows && frente_.Enfileirar) {
        frente_.Enfileirar([vivo] {
            if (auto a = vivo.lock(); a && !(*a)->encerrando_ && (*a)->frente_.MostrarPareamento)
                (*a)->frente_.MostrarPareamento();
        });
    }
}

void TAplicacao::AoMudarEstadoServidor(bool ok, const std::string& texto) {
    auto ev = std::make_unique<TEvento>();
    ev->Tipo = ok ? teServidorOk : teServidorErro;
    ev->Texto = texto;
    ReceberEvento(std::move(ev));
}

void TAplicacao::ReceberEvento(std::unique_ptr<TEvento> evento) {
    if (encerrando_ || !frente_.Enfileirar) return;  // dropped: freed here
    std::weak_ptr<TAplicacao*> vivo = vivo_;
    auto caixa = std::make_shared<std::unique_ptr<TEvento>>(std::move(evento));
    frente_.Enfileirar([vivo, caixa] {
        if (auto a = vivo.lock()) (*a)->TratarEvento(std::move(*caixa));
    });
}

void TAplicacao::TratarEvento(std::unique_ptr<TEvento> evento) {
    if (encerrando_ || !evento || !estado_) return;
    auto balao = [this](const char* titulo, const std::string& texto, int icone) {
        if (frente_.Balao) frente_.Balao(Traduzir(std::string_view(titulo)), texto, icone);
    };
    const TEvento& e = *evento;
    switch (e.Tipo) {
        case teServidorOk:
            servidorOk_ = true;
            erroServidor_.clear();
            LogFmt("Servidor escutando em %s:%d", estado_->Endereco().c_str(), estado_->Porta());
            if (frente_.AtualizarStatus) frente_.AtualizarStatus();
            break;
        case teServidorErro:
            erroServidor_ = e.Texto;
            LogFmt("ERRO no servidor: %s", e.Texto.c_str());
            if (frente_.AtualizarStatus) frente_.AtualizarStatus();
            balao(sbalaoerroservidortitulo,
                  Formatar(Traduzir(sbalaoerroservidortexto), estado_->Porta()), 3);
            break;
        case teParearOk:
            SalvarSeNecessario(true);
            balao(sbalaopareadotitulo, Formatar(Traduzir(sbalaopareadotexto), e.Texto.c_str()), 1);
            if (frente_.PareamentoConcluido) frente_.PareamentoConcluido(e.Texto);
            break;
        case teParearEncerrado:
            balao(sbalaopareamentofechadotitulo, Traduzir(std::string_view(sbalaopareamentofechadotexto)), 2);
            break;
        case teAgendado:
            // Inside the last minute the countdown takes over from the balloon.
            if (SegundosRestantes(e.Agendamento) >= 61)
                balao(sbalaoagendadotitulo,
                      Formatar(Traduzir(sbalaoagendadotexto), NomeMenuAcao(e.Agendamento.Acao).c_str(),
                               HoraMinuto(e.Agendamento.Horario).c_str(), e.Agendamento.PedidoPor.c_str()),
                      1);
            break;
        case teCancelado:
            if (frente_.EsconderContagem) frente_.EsconderContagem();
            balao(sbalaocanceladotitulo,
                  Formatar(Traduzir(sbalaocanceladotexto), NomeMenuAcao(e.Agendamento.Acao).c_str(),
                           HoraMinuto(e.Agendamento.Horario).c_str()),
                  1);
            break;
        case teDispositivosMudaram:
            SalvarSeNecessario(true);
            balao(sbalaoremovidotitulo, Formatar(Traduzir(sbalaoremovidotexto), e.Texto.c_str()), 1);
            break;
        case teEntradaInternet:
            balao(TITULO_APLICACAO, Formatar(Traduzir(sbalaoentradainternet), e.Texto.c_str()), 1);
            break;
        default:
            // Cloud events come only from the internet edition's agent, which this build lacks.
            break;
    }
}

void TAplicacao::Tique() {
    if (encerrando_ || !iniciado_) return;
    const std::uint64_t agora = AgoraMs();

    // A jump of the clock means the PC slept: a schedule that fell due meanwhile is dropped,
    // never run late.
    if (ultimoTick_ != 0 && agora - ultimoTick_ > SALTO_SUSPENSAO_MS) {
        const TAgendamento ag = estado_->ObterAgendamento();
        if (ag.Acao != ACAO_NENHUMA && ag.VenceEm <= agora) {
            (void)estado_->Cancelar(false);
            Log("Agendamento vencido durante a suspensao: cancelado");
            if (frente_.Balao)
                frente_.Balao(Traduzir(std::string_view(sbalaosuspensaotitulo)),
                              Traduzir(std::string_view(sbalaosuspensaotexto)), 2);
        }
    }
    ultimoTick_ = agora;

    TAgendamento vencido;
    if (estado_->RetirarVencido(AgoraMs(), vencido)) {
        if (frente_.EsconderContagem) frente_.EsconderContagem();
        SalvarSeNecessario(true);
        (void)ExecutarAcaoEnergia(vencido.Acao, vencido.Forcar);
    }

    const TAgendamento ag = estado_->ObterAgendamento();
    const std::int32_t restantes = ag.Acao != ACAO_NENHUMA ? SegundosRestantes(ag) : 0;
    if (ag.Acao != ACAO_NENHUMA && restantes <= 60) {
        if (frente_.MostrarContagem) frente_.MostrarContagem(ag, restantes);
    } else if (frente_.EsconderContagem) {
        frente_.EsconderContagem();
    }

    if (PedidoMostrar() && frente_.MostrarPareamento) frente_.MostrarPareamento();

    SalvarSeNecessario(false);
    AtualizarEstadoTela();

    if (PedidoSair()) {
        Log("Saida pedida por outra instancia (--sair)");
        Sair();
    }
}

void TAplicacao::SalvarSeNecessario(bool forcar) {
    if (!estado_) return;
    const std::uint64_t agora = AgoraMs();
    if (!forcar && agora - ultimoSalvamento_ < INTERVALO_SALVAR_MS) return;
    // The flag is cleared only after a good save, so a failed one is tried again later.
    if (estado_->ConfigFoiAlterada() && SalvarConfig(estado_->ObterConfig())) estado_->LimparConfigAlterada();
    ultimoSalvamento_ = agora;
}

std::string TAplicacao::EnderecoParaCelular() const {
    if (estado_) {
        const std::string e = estado_->Endereco();
        if (!e.empty() && e != "0.0.0.0") return e;
    }
    const auto locais = EnderecosLocais();
    return locais.empty() ? std::string("127.0.0.1") : locais.front();
}

std::string TAplicacao::TextoDica() const {
    if (Parametros.Simular) return Traduzir(std::string_view(sdicasimulacao));
    if (!erroServidor_.empty()) return Traduzir(std::string_view(sdicaerro));
    if (estado_ && estado_->Pausado()) return Traduzir(std::string_view(sdicapausado));
    if (estado_) {
        const std::string usuario = estado_->UsuarioEntradaInternet();
        if (!usuario.empty()) return Formatar(Traduzir(sdicaentradainternet), usuario.c_str());
    }
    const auto locais = EnderecosLocais();
    const std::string endereco = locais.empty() ? std::string("127.0.0.1") : locais.front();
    return Formatar(Traduzir(sdicabandeja),
                    Formatar("%s:%d", endereco.c_str(), estado_ ? estado_->Porta() : 0).c_str());
}

void TAplicacao::AbrirPareamento() {
    if (estado_ && !encerrando_) estado_->AbrirPareamento();
}

void TAplicacao::Encerrar() {
    if (encerrando_ || !iniciado_) return;
    encerrando_ = true;
    Log("Encerrando");
    if (estado_) (void)estado_->Cancelar(false);  // a scheduled action never outlives the program
    if (servidor_) {
        if (servidor_->Parar() == 0) {
            servidor_.reset();
            servidorLiberado_ = true;
        } else {
            Log("AVISO: conexoes ainda ativas no encerramento");
        }
    }
    SalvarSeNecessario(true);
}

void TAplicacao::Sair() {
    Encerrar();
    if (frente_.Terminar) frente_.Terminar();
}

void TAplicacao::Finalizar() {
    if (!iniciado_) return;
    Encerrar();
    iniciado_ = false;
    CancelarRegistroTela();
    if (servidorLiberado_) {
        if (apiIniciada_) EncerrarApi();
        atalhos_.reset();
        estado_.reset();
    } else {
        // Connection threads may still run handlers that use these; leave them allocated for
        // the few moments until the process ends.
        (void)servidor_.release();
        (void)atalhos_.release();
        (void)estado_.release();
    }
    apiIniciada_ = false;
    Log("Encerrado");
    FecharLog();
}

}  // namespace velorin
