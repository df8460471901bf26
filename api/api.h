// The local API's gate: security headers, Host and Origin checks, CORS for the product's web
// origin, the route table, authentication and the JSON conventions every endpoint uses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/config.h"
#include "http/mensagem_http.h"

namespace velorin {

class TEstado;
struct TAgendamento;
struct TEstadoAudio;
class TGestorAtalhos;
class TLimitador;

using TJson = nlohmann::ordered_json;

// The product's web origin (scheme and host, no port, no trailing slash), fixed at build time.
const std::string& OrigemWeb();

// Everything the endpoints reach. `estado` must outlive EncerrarApi; `atalhos` may be null
// (then shortcuts are "unavailable").
void IniciarApi(TEstado& estado, TGestorAtalhos* atalhos);
void EncerrarApi();

// The listener's two handlers.
void TratarRequisicao(const TRequisicaoHttp& req, TRespostaHttp& resp);
void TratarErroHttp(int status, TRespostaHttp& resp);

[[nodiscard]] bool HostPermitido(std::string_view valor);

void ResponderJson(TRespostaHttp& resp, int status, const TJson& objeto);
void ResponderErro(TRespostaHttp& resp, int status, const std::string& codigo,
                   const std::string& mensagem);
void ResponderLimite(TRespostaHttp& resp, std::int32_t segundos);

[[nodiscard]] bool Autenticar(const TRequisicaoHttp& req, TRespostaHttp& resp, TDispositivo& dispositivo);
[[nodiscard]] bool LerCorpoJson(const TRequisicaoHttp& req, TRespostaHttp& resp, TJson& objeto);

// Member readers: null counts as absent; false when present with the wrong type or range.
[[nodiscard]] bool LerTexto(const TJson& objeto, const char* nome, std::string& valor, bool& presente);
[[nodiscard]] bool LerInteiro(const TJson& objeto, const char* nome, std::int64_t minimo,
                              std::int64_t maximo, std::int64_t& valor, bool& presente);
[[nodiscard]] bool LerLogico(const TJson& objeto, const char* nome, bool& valor, bool& presente);

// The API's own reach into the process (set by IniciarApi; null outside it).
TEstado* EstadoApi();
TGestorAtalhos* AtalhosApi();

// Whether the PC can sleep, as read once by IniciarApi (false outside it).
[[nodiscard]] bool SuspensaoDisponivel();

// The PC's status as a phone sees it, built afresh on every call; the relay sends the same
// object as the PC's snapshot. Only between IniciarApi and EncerrarApi.
TJson ObjetoStatus();
// The audio outputs as phones see them: {podeTrocar, saidas: [{id, nome, padrao}]}.
TJson ObjetoSaidas(const TEstadoAudio& audio);
// A scheduled power action as phones see it; null when nothing is scheduled.
TJson ObjetoAgendamento(const TAgendamento& agendamento);

// ---- used by the dispatcher and its endpoints ----

// The limiters the pairing and ticket handlers consult and feed (null outside IniciarApi).
TLimitador* LimitadorPareamento();
TLimitador* LimitadorTransferencia();

// The bearer token of the authorization header, trimmed; empty without the "Bearer " scheme.
[[nodiscard]] std::string TokenDoCabecalho(const TRequisicaoHttp& req);

// An answer with a status and no body.
void ResponderVazio(TRespostaHttp& resp, int status);

// Endpoint handlers; each writes the whole answer. The dispatcher has already applied the
// method, content-type, pause and authentication rules of its route.
void TratarPing(TRespostaHttp& resp);
void TratarParear(const TRequisicaoHttp& req, TRespostaHttp& resp);
void TratarDesparear(const TDispositivo& dispositivo, TRespostaHttp& resp);
void TratarStatus(const TDispositivo& dispositivo, TRespostaHttp& resp);
void TratarCriarTransferencia(const TRequisicaoHttp& req, TRespostaHttp& resp);
void TratarConsumirTransferencia(const TRequisicaoHttp& req, TRespostaHttp& resp);

}  // namespace velorin
