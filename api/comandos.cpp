// The command executor: where a command came from, the pause and update rules, the body's
// members, then the PC action and the answer. The local API and the cloud relay both come
// through here, so a phone gets the same codes and messages on either path.
#include "api/comandos.h"

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "actions/atalhos.h"
#include "actions/audio.h"
#include "actions/energia.h"
#include "actions/entrada.h"
#include "actions/tela.h"
#include "core/log.h"
#include "core/parametros.h"
#include "core/texto.h"
#include "core/textos.h"
#include "state/estado.h"

namespace velorin {

namespace {

// Answers with fixed texts (the others come from the shared API messages).
constexpr const char* MSG_INTERNET_DESATIVADA =
    "O controle pela internet esta desativado nesta versao.";
constexpr const char* MSG_ATALHOS_SO_LOCAL = "Atalhos disponiveis somente na rede local.";
constexpr const char* MSG_ATALHOS_INDISPONIVEIS = "Atalhos indisponiveis neste PC.";
constexpr const char* MSG_TELA_INDISPONIVEL = "Nao foi possivel controlar a tela.";
constexpr const char* MSG_SAIDA_AUSENTE = "A saida foi desconectada.";
constexpr const char* MSG_TROCA_FALHOU = "Nao foi possivel trocar a saida.";
constexpr const char* MSG_ATALHO_FALHOU = "Nao foi possivel abrir o atalho no PC.";

// Limits of the body members.
constexpr std::int64_t VOLUME_MAXIMO = 100;
constexpr std::int64_t MOUSE_DESLOCAMENTO_MAXIMO = 2000;
constexpr std::int64_t MOUSE_PASSOS_MAXIMO = 10;
constexpr std::size_t ID_SAIDA_MAXIMO = 512;  // bytes
constexpr std::size_t ID_ATALHO_MAXIMO = 24;  // bytes
constexpr std::size_t SOLICITANTE_LOG_MAXIMO = 120;

TResultadoComando Invalida() {
    return ErroComando(400, "requisicao_invalida", serrorequisicaoinvalida);
}

TResultadoComando Vazio(int status) {
    return TResultadoComando{status, std::nullopt};
}

TResultadoComando ComCorpo(int status, TJson corpo) {
    return TResultadoComando{status, std::move(corpo)};
}

TResultadoComando EntradaIndisponivel() {
    return ErroComando(409, "entrada_indisponivel", serroentradaindisponivel);
}

// ---- handlers ----

TResultadoComando Energia(TEstado& estado, const TJson& corpo, const std::string& solicitante) {
    std::string acao;
    bool temAcao = false;
    std::int64_t atraso = 0;
    bool temAtraso = false;
    bool forcar = false;
    bool temForcar = false;
    const bool lidos = LerTexto(corpo, "acao", acao, temAcao);
    const bool atrasoOk =
        LerInteiro(corpo, "atrasoSegundos", 0, ATRASO_MAXIMO_SEGUNDOS, atraso, temAtraso);
    const bool forcarOk = LerLogico(corpo, "forcar", forcar, temForcar);
    if (!(lidos && atrasoOk && forcarOk && temAcao)) return Invalida();

    if (acao == "bloquear") {
        LogFmt("Bloquear pedido por %s", TextoParaLog(solicitante, SOLICITANTE_LOG_MAXIMO).c_str());
        (void)BloquearSessao();  // the phone cannot do anything about a refusal
        return Vazio(204);
    }

    std::int32_t tipo = ACAO_NENHUMA;
    if (acao == "desligar") {
        tipo = ACAO_DESLIGAR;
    } else if (acao == "reiniciar") {
        tipo = ACAO_REINICIAR;
    } else if (acao == "suspender") {
        tipo = ACAO_SUSPENDER;
    } else {
        return Invalida();
    }
    if (tipo == ACAO_SUSPENDER && !SuspensaoDisponivel())
        return ErroComando(409, "indisponivel", serroindisponivel);

    TAgendamento agendamento;
    estado.Agendar(tipo, atraso, solicitante, forcar, agendamento);
    if (agendamento.Acao == ACAO_NENHUMA) return ErroComando(503, "atualizando", serroatualizando);

    TJson resposta = TJson::object();
    resposta["agendamento"] = ObjetoAgendamento(agendamento);
    return ComCorpo(202, std::move(resposta));
}

TResultadoComando Volume(const TJson& corpo) {
    std::int64_t nivel = 0;
    bool temNivel = false;
    bool mudo = false;
    bool temMudo = false;
    const bool nivelOk = LerInteiro(corpo, "nivel", 0, VOLUME_MAXIMO, nivel, temNivel);
    const bool mudoOk = LerLogico(corpo, "mudo", mudo, temMudo);
    if (!nivelOk || !mudoOk || (!temNivel && !temMudo)) return Invalida();

    TVolume volume;
    AjustarVolume(temNivel, static_cast<std::int32_t>(nivel), temMudo, mudo, volume);
    if (!volume.disponivel) return ErroComando(409, "sem_audio", serrosemaudio);
    TJson resposta = TJson::object();
    resposta["nivel"] = volume.nivel;
    resposta["mudo"] = volume.mudo;
    return ComCorpo(200, std::move(resposta));
}

TResultadoComando Tela(const TJson& corpo) {
    std::string acao;
    bool temAcao = false;
    if (!LerTexto(corpo, "acao", acao, temAcao) || !temAcao) return Invalida();
    if (acao != "apagar" && acao != "acender") return Invalida();
    if (!DefinirTela(acao == "acender"))
        return ErroComando(409, "tela_indisponivel", MSG_TELA_INDISPONIVEL);
    TJson resposta = TJson::object();
    resposta["solicitado"] = acao;
    return ComCorpo(202, std::move(resposta));
}

TResultadoComando SaidaAudio(const TJson& corpo) {
    std::string id;
    bool temId = false;
    if (!LerTexto(corpo, "id", id, temId) || !temId) return Invalida();
    if (id.empty() || id.size() > ID_SAIDA_MAXIMO || id.find('\0') != std::string::npos)
        return Invalida();

    switch (TrocarSaidaAudio(id)) {
        case TROCA_FEITA: {
            TEstadoAudio audio;
            LerSaidasAudio(audio);
            return ComCorpo(200, ObjetoSaidas(audio));
        }
        case TROCA_SAIDA_AUSENTE:
            return ErroComando(409, "saida_audio_ausente", MSG_SAIDA_AUSENTE);
        case TROCA_NAO_SUPORTADA:
            return ErroComando(409, "indisponivel", serroindisponivel);
        default:
            return ErroComando(409, "troca_audio_falhou", MSG_TROCA_FALHOU);
    }
}

TResultadoComando Midia(const TJson& corpo) {
    std::string acao;
    bool temAcao = false;
    if (!LerTexto(corpo, "acao", acao, temAcao)) acao.clear();
    int tipo = 0;
    if (acao == "tocarPausar") {
        tipo = MIDIA_TOCAR_PAUSAR;
    } else if (acao == "proxima") {
        tipo = MIDIA_PROXIMA;
    } else if (acao == "anterior") {
        tipo = MIDIA_ANTERIOR;
    } else {
        return Invalida();
    }
    TeclaMidia(tipo);
    return Vazio(204);
}

TResultadoComando Mouse(const TJson& corpo) {
    std::string acao;
    bool temAcao = false;
    if (!LerTexto(corpo, "acao", acao, temAcao) || !temAcao) return Invalida();

    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t passos = 0;
    if (acao == "mover") {
        bool temX = false;
        bool temY = false;
        if (!LerInteiro(corpo, "x", -MOUSE_DESLOCAMENTO_MAXIMO, MOUSE_DESLOCAMENTO_MAXIMO, x,
                        temX) ||
            !LerInteiro(corpo, "y", -MOUSE_DESLOCAMENTO_MAXIMO, MOUSE_DESLOCAMENTO_MAXIMO, y,
                        temY) ||
            !temX || !temY)
            return Invalida();
    } else if (acao == "rolar") {
        bool temPassos = false;
        if (!LerInteiro(corpo, "passos", -MOUSE_PASSOS_MAXIMO, MOUSE_PASSOS_MAXIMO, passos,
                        temPassos) ||
            !temPassos || passos == 0)
            return Invalida();
    } else if (acao != "clique" && acao != "direito" && acao != "duplo") {
        return Invalida();
    }

    if (!AcaoMouse(acao, static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                   static_cast<std::int32_t>(passos)))
        return EntradaIndisponivel();
    return Vazio(204);
}

TResultadoComando Teclado(const TJson& corpo) {
    std::string texto;
    bool temTexto = false;
    std::string tecla;
    bool temTecla = false;
    if (!LerTexto(corpo, "texto", texto, temTexto) || !LerTexto(corpo, "tecla", tecla, temTecla))
        return Invalida();
    if (temTexto == temTecla) return Invalida();  // exactly one of the two

    bool feito = false;
    if (temTexto) {
        const std::u16string unidades = Utf8ParaUtf16(texto);
        if (!TextoValido(unidades)) return Invalida();
        feito = DigitarTexto(unidades);
    } else {
        if (!TeclaValida(tecla)) return Invalida();
        feito = PressionarTecla(tecla);
    }
    return feito ? Vazio(204) : EntradaIndisponivel();
}

TResultadoComando AbrirAtalhoPedido(const TJson& corpo) {
    // Nothing but the identifier: a phone never sends anything that could shape what runs.
    const auto membro = corpo.find("id");
    if (corpo.size() != 1 || membro == corpo.end() || !membro->is_string()) return Invalida();
    const std::string& id = membro->get_ref<const std::string&>();
    if (id.empty() || id.size() > ID_ATALHO_MAXIMO) return Invalida();

    TGestorAtalhos* atalhos = AtalhosApi();
    if (atalhos == nullptr) return ErroComando(503, "indisponivel", MSG_ATALHOS_INDISPONIVEIS);

    std::string erro;
    if (atalhos->Abrir(id, erro)) {
        TJson resposta = TJson::object();
        resposta["solicitado"] = id;
        return ComCorpo(202, std::move(resposta));
    }
    // A failure must carry a code the phone can show; the catalog always names one, but an
    // empty code would read as no error at all.
    if (erro.empty()) erro = ERRO_ATALHO_ABERTURA_FALHOU;
    const int status = erro == ERRO_ATALHO_NAO_ENCONTRADO ? 404 : 409;
    return ErroComando(status, erro, MSG_ATALHO_FALHOU);
}

bool EhEntrada(const std::string& comando) {
    return comando == "mouse" || comando == "teclado";
}

TResultadoComando Executar(const std::string& comando, const TJson& corpo,
                           const std::string& solicitante, TOrigemComando origem) {
    const bool relay = origem != ocLocal;
    if (relay && !EdicaoInternet())
        return ErroComando(403, "internet_desativada", MSG_INTERNET_DESATIVADA);
    if (relay && comando == "atalhos/abrir")
        return ErroComando(403, "proibido", MSG_ATALHOS_SO_LOCAL);

    TEstado* estado = EstadoApi();
    // Only possible when a command arrives outside the API's lifetime; refuse it rather than
    // act without the schedule and the pause flag.
    if (estado == nullptr) {
        Log("ERRO: comando recebido sem a API iniciada");
        return ErroComando(500, "erro_interno", serrointerno);
    }

    // Cancelling comes before the pause and update checks: stopping a pending shutdown must
    // always be possible.
    if (comando == "energia/cancelar") {
        TJson resposta = TJson::object();
        resposta["cancelado"] = estado->Cancelar(true);
        return ComCorpo(200, std::move(resposta));
    }
    if (estado->EstaAtualizando()) return ErroComando(503, "atualizando", serroatualizando);
    if (estado->Pausado()) return ErroComando(503, "pausado", serropausado);

    using THandler = TResultadoComando (*)(const TJson&);
    THandler handler = nullptr;
    if (comando == "volume") {
        handler = Volume;
    } else if (comando == "tela") {
        handler = Tela;
    } else if (comando == "audio/saida") {
        handler = SaidaAudio;
    } else if (comando == "midia") {
        handler = Midia;
    } else if (comando == "mouse") {
        handler = Mouse;
    } else if (comando == "teclado") {
        handler = Teclado;
    } else if (comando == "atalhos/abrir") {
        handler = AbrirAtalhoPedido;
    } else if (comando != "energia") {
        return ErroComando(404, "nao_encontrado", serronaoencontrado);
    }

    if (relay && EhEntrada(comando) && !estado->MouseTecladoInternet())
        return ErroComando(403, "entrada_internet_desligada", serroentradainternetdesligada);
    // The relay passes an empty object when it has no body; anything else is not a request.
    if (!corpo.is_object()) return Invalida();

    TResultadoComando resultado =
        handler != nullptr ? handler(corpo) : Energia(*estado, corpo, solicitante);
    if (relay && EhEntrada(comando) && resultado.Status == 204)
        estado->RegistrarEntradaInternet(solicitante);
    return resultado;
}

}  // namespace

TResultadoComando ErroComando(int status, const std::string& codigo, const std::string& mensagem) {
    TJson erro = TJson::object();
    erro["erro"] = codigo;
    erro["mensagem"] = mensagem;
    return TResultadoComando{status, std::move(erro)};
}

TResultadoComando ExecutarComando(const std::string& comando, const TJson& corpo,
                                  const std::string& solicitante, TOrigemComando origem) {
    // The relay calls this on the cloud agent's thread, where nothing above would turn an
    // escaped error into an answer; catch it here for both paths.
    try {
        return Executar(comando, corpo, solicitante, origem);
    } catch (const std::exception& e) {
        LogFmt("ERRO no comando %s: %s", TextoParaLog(comando, 40).c_str(),
               TextoParaLog(e.what(), 200).c_str());
        return ErroComando(500, "erro_interno", serrointerno);
    }
}

TResultadoComando ListarAtalhos() {
    TGestorAtalhos* atalhos = AtalhosApi();
    if (atalhos == nullptr) return ErroComando(503, "indisponivel", MSG_ATALHOS_INDISPONIVEIS);
    return TResultadoComando{200, atalhos->ListaPublica()};
}

}  // namespace velorin
