// The endpoints that are not commands: ping, pairing and unpairing, the status object, and the
// install transfers that hand a phone's session over to an installed copy of the panel. Each is
// thin: it checks its body, calls one operation of the shared state and maps the outcome.
#include <string>

#include "actions/atalhos.h"
#include "actions/audio.h"
#include "actions/tela.h"
#include "api/api.h"
#include "core/parametros.h"
#include "core/seguranca.h"
#include "core/texto.h"
#include "core/textos.h"
#include "state/estado.h"

namespace velorin {

namespace {

constexpr const char* MENSAGEM_TRANSFERENCIA_EXPIRADA =
    "Abra a instalacao novamente pelo painel do PC.";

// An optional secret the phone sends (identity key, previous or current token): absent and ""
// mean the same, anything else must have the token format.
bool LerSegredoOpcional(const TJson& corpo, const char* nome, std::string& valor) {
    bool presente = false;
    return LerTexto(corpo, nome, valor, presente) && (valor.empty() || TokenValido(valor));
}

// The limiter's block, answered; false when the address may go on.
bool RespondeuBloqueio(TLimitador& limitador, const std::string& ip, TRespostaHttp& resp) {
    std::int32_t segundos = 0;
    if (!limitador.Bloqueado(ip, segundos)) return false;
    ResponderLimite(resp, segundos);
    return true;
}

void ResponderInvalida(TRespostaHttp& resp) {
    ResponderErro(resp, 400, "requisicao_invalida", serrorequisicaoinvalida);
}

// Codes are read aloud and typed on phones; "123 456" and " 123456 " mean 123456.
std::string NormalizarCodigo(std::string_view codigo) {
    std::string limpo = Aparar(codigo);
    std::erase(limpo, ' ');
    return limpo;
}

}  // namespace

TJson ObjetoSaidas(const TEstadoAudio& audio) {
    TJson saidas = TJson::array();
    for (const TSaidaAudio& s : audio.saidas) {
        TJson item = TJson::object();
        item["id"] = s.id;
        item["nome"] = s.nome;
        item["padrao"] = s.padrao;
        saidas.push_back(std::move(item));
    }
    TJson objeto = TJson::object();
    objeto["podeTrocar"] = audio.podeTrocar;
    objeto["saidas"] = std::move(saidas);
    return objeto;
}

TJson ObjetoAgendamento(const TAgendamento& agendamento) {
    if (agendamento.Acao == ACAO_NENHUMA) return nullptr;
    TJson objeto = TJson::object();
    objeto["acao"] = NomeAcao(agendamento.Acao);
    objeto["segundosRestantes"] = SegundosRestantes(agendamento);
    objeto["pedidoPor"] = agendamento.PedidoPor;
    objeto["forcar"] = agendamento.Forcar;
    return objeto;
}

TJson ObjetoStatus() {
    TEstado& estado = *EstadoApi();
    TGestorAtalhos* atalhos = AtalhosApi();

    TEstadoAudio audio;
    LerSaidasAudio(audio);
    TVolume volume;
    LerVolume(volume);

    TJson status = TJson::object();
    status["nomePc"] = estado.NomeExibicao();
    status["versao"] = VERSAO_PROGRAMA;
    status["pausado"] = estado.Pausado();
    status["simulacao"] = Parametros.Simular;
    if (atalhos != nullptr) status["atalhosRevisao"] = atalhos->Revisao();

    TJson recursos = TJson::object();
    recursos["suspender"] = SuspensaoDisponivel();
    recursos["entrada"] = true;
    recursos["entradaInternet"] = EdicaoInternet() && estado.MouseTecladoInternet();
    recursos["tela"] = true;
    recursos["saidaAudio"] = audio.podeTrocar;
    recursos["atalhos"] = atalhos != nullptr;
    status["recursos"] = std::move(recursos);

    status["audio"] = ObjetoSaidas(audio);

    TJson tela = TJson::object();
    switch (EstadoTela()) {
        case TELA_LIGADA:
            tela["ligada"] = true;
            break;
        case TELA_DESLIGADA:
            tela["ligada"] = false;
            break;
        default:
            tela["ligada"] = nullptr;
            break;
    }
    status["tela"] = std::move(tela);

    TJson objetoVolume = TJson::object();
    objetoVolume["disponivel"] = volume.disponivel;
    if (volume.disponivel) {
        objetoVolume["nivel"] = volume.nivel;
        objetoVolume["mudo"] = volume.mudo;
    }
    status["volume"] = std::move(objetoVolume);

    status["agendamento"] = ObjetoAgendamento(estado.ObterAgendamento());
    return status;
}

void TratarPing(TRespostaHttp& resp) {
    TJson ping = TJson::object();
    ping["app"] = TITULO_APLICACAO;
    ping["versao"] = VERSAO_PROGRAMA;
    ResponderJson(resp, 200, ping);
}

void TratarParear(const TRequisicaoHttp& req, TRespostaHttp& resp) {
    TLimitador& limitador = *LimitadorPareamento();
    if (RespondeuBloqueio(limitador, req.IpCliente, resp)) return;
    TJson corpo;
    if (!LerCorpoJson(req, resp, corpo)) return;

    // Here an explicit null is refused too: the phone either states the choice or leaves it out.
    bool substituir = false;
    const auto membroSubstituir = corpo.find("substituirMesmoNome");
    if (membroSubstituir != corpo.end()) {
        if (!membroSubstituir->is_boolean()) {
            ResponderInvalida(resp);
            return;
        }
        substituir = membroSubstituir->get<bool>();
    }
    std::string codigo, nome, chave, anterior;
    bool temCodigo = false, temNome = false;
    if (!LerTexto(corpo, "codigo", codigo, temCodigo) || !temCodigo ||
        !LerTexto(corpo, "nomeDispositivo", nome, temNome) ||
        !LerSegredoOpcional(corpo, "chaveDispositivo", chave) ||
        !LerSegredoOpcional(corpo, "tokenAnterior", anterior)) {
        ResponderInvalida(resp);
        return;
    }

    TDispositivo dispositivo;
    std::string token;
    const TResultadoPareamento resultado =
        EstadoApi()->Parear(NormalizarCodigo(codigo), nome, req.IpCliente, substituir, anterior,
                            chave, dispositivo, token);
    ApagarSegredo(anterior);
    ApagarSegredo(chave);
    switch (resultado) {
        case rpPareado: {
            TJson resposta = TJson::object();
            resposta["token"] = token;
            resposta["dispositivoId"] = dispositivo.Id;
            resposta["nomePc"] = EstadoApi()->NomeExibicao();
            ApagarSegredo(token);
            ResponderJson(resp, 200, resposta);
            return;
        }
        case rpSemSessao:
            ResponderErro(resp, 410, "pareamento_fechado", serropareamentofechado);
            return;
        default:
            limitador.RegistrarFalha(req.IpCliente);
            ResponderErro(resp, 403, "codigo_invalido", serrocodigoinvalido);
            return;
    }
}

void TratarDesparear(const TDispositivo& dispositivo, TRespostaHttp& resp) {
    // Already gone (removed on the PC a moment ago) is as good as removed now.
    (void)EstadoApi()->RemoverDispositivo(dispositivo.Id);
    ResponderVazio(resp, 204);
}

void TratarStatus(const TDispositivo& dispositivo, TRespostaHttp& resp) {
    TJson status = ObjetoStatus();
    TJson quem = TJson::object();
    quem["id"] = dispositivo.Id;
    quem["nome"] = dispositivo.Nome;
    status["dispositivo"] = std::move(quem);
    ResponderJson(resp, 200, status);
}

void TratarCriarTransferencia(const TRequisicaoHttp& req, TRespostaHttp& resp) {
    TJson corpo;
    if (!LerCorpoJson(req, resp, corpo)) return;
    std::string chave;
    if (!LerSegredoOpcional(corpo, "chaveDispositivo", chave)) {
        ResponderInvalida(resp);
        return;
    }
    std::string token = TokenDoCabecalho(req);
    std::string ticket;
    EstadoApi()->CriarTransferencia(token, req.IpCliente, chave, ticket);
    ApagarSegredo(token);
    ApagarSegredo(chave);
    // Authentication passed a moment ago, so an empty ticket means the device was removed in
    // between.
    if (ticket.empty()) {
        ResponderErro(resp, 401, "nao_autorizado", serronaoautorizado);
        return;
    }
    TJson resposta = TJson::object();
    resposta["ticket"] = ticket;
    ApagarSegredo(ticket);
    ResponderJson(resp, 200, resposta);
}

void TratarConsumirTransferencia(const TRequisicaoHttp& req, TRespostaHttp& resp) {
    TLimitador& limitador = *LimitadorTransferencia();
    if (RespondeuBloqueio(limitador, req.IpCliente, resp)) return;
    TJson corpo;
    if (!LerCorpoJson(req, resp, corpo)) return;
    std::string ticket, atual;
    bool temTicket = false;
    if (!LerTexto(corpo, "ticket", ticket, temTicket) || !temTicket || !TokenValido(ticket) ||
        !LerSegredoOpcional(corpo, "tokenAtual", atual)) {
        ResponderInvalida(resp);
        return;
    }

    TEstado& estado = *EstadoApi();
    TDispositivo dispositivo;
    std::string token, chave;
    const bool usado = estado.UsarTransferencia(ticket, req.IpCliente, dispositivo, token, chave);
    ApagarSegredo(ticket);
    if (!usado) {
        ApagarSegredo(atual);
        limitador.RegistrarFalha(req.IpCliente);
        ResponderErro(resp, 410, "transferencia_expirada", MENSAGEM_TRANSFERENCIA_EXPIRADA);
        return;
    }
    // The installed panel may already hold a pairing of its own for the same phone; that record
    // goes, so the phone is listed once.
    if (!atual.empty()) (void)estado.ConsolidarRepetido(atual, dispositivo.Id);
    ApagarSegredo(atual);

    TJson resposta = TJson::object();
    resposta["token"] = token;
    resposta["nomePc"] = estado.NomeExibicao();
    resposta["nomeDispositivo"] = dispositivo.Nome;
    resposta["chaveDispositivo"] = chave;
    ApagarSegredo(token);
    ApagarSegredo(chave);
    ResponderJson(resp, 200, resposta);
}

}  // namespace velorin
