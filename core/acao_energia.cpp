#include "core/acao_energia.h"

namespace velorin {

std::string NomeAcao(std::int32_t acao) {
    switch (acao) {
        case ACAO_DESLIGAR: return "desligar";
        case ACAO_REINICIAR: return "reiniciar";
        case ACAO_SUSPENDER: return "suspender";
        default: return {};
    }
}

}  // namespace velorin
