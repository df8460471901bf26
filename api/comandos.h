// The one executor of commands that act on the PC, shared by the local API and the relay.
#pragma once

#include <optional>
#include <string>

#include "api/api.h"

namespace velorin {

enum TOrigemComando : int { ocLocal = 0, ocRelay = 1 };

struct TResultadoComando {
    int Status = 200;
    std::optional<TJson> Corpo;  // none: an empty answer with this status
};

// `corpo` is always a JSON object (an empty one when the request had none).
TResultadoComando ExecutarComando(const std::string& comando, const TJson& corpo,
                                  const std::string& solicitante, TOrigemComando origem);

// An error result in the API's error-object form.
TResultadoComando ErroComando(int status, const std::string& codigo, const std::string& mensagem);

// GET /api/atalhos after authentication.
TResultadoComando ListarAtalhos();

}  // namespace velorin
