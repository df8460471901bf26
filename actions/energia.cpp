#include "actions/energia.h"

#include <cerrno>

#include "core/log.h"
#include "core/parametros.h"

namespace velorin {

namespace {

const char* TextoBool(bool v) {
    return v ? "True" : "False";
}

}  // namespace

std::uint32_t FlagsSaidaWindows(std::int32_t acao, bool forcar) {
    std::uint32_t base = 0;
    if (acao == ACAO_DESLIGAR) {
        base = SAIDA_DESLIGAR;
    } else if (acao == ACAO_REINICIAR) {
        base = SAIDA_REINICIAR;
    } else {
        return 0;
    }
    return base | (forcar ? SAIDA_FORCAR : SAIDA_FORCAR_SE_TRAVADO);
}

bool ExecutarAcaoEnergia(std::int32_t acao, bool forcar) {
    const std::string nome = NomeAcao(acao);
    if (Parametros.Simular) {
        LogFmt("SIMULADO: %s (forcar=%s)", nome.c_str(), TextoBool(forcar));
        return true;
    }
    LogFmt("Executando: %s (forcar=%s)", nome.c_str(), TextoBool(forcar));
    bool ok = false;
    int erro = 0;
    if (acao == ACAO_DESLIGAR || acao == ACAO_REINICIAR) {
        // Without the privilege the request usually fails, but it is still worth trying: the
        // system may allow it anyway, and the failure is then logged with its code.
        if (!HabilitarPrivilegioDesligar())
            Log("AVISO: nao foi possivel habilitar SeShutdownPrivilege");
        ok = DesligarSistema(acao, forcar, erro);
    } else if (acao == ACAO_SUSPENDER) {
        ok = SuspenderSistema(erro);
    } else {
        erro = EINVAL;  // the schedule never stores another kind; refuse rather than guess
    }
    if (!ok) LogFmt("ERRO ao executar %s (%d)", nome.c_str(), erro);
    return ok;
}

bool BloquearSessao() {
    if (Parametros.Simular) {
        Log("SIMULADO: bloquear");
        return true;
    }
    Log("Executando: bloquear");
    return BloquearSessaoSistema();
}

bool PodeSuspender() {
    return PodeSuspenderSistema();
}

bool HabilitarPrivilegioDesligar() {
    return HabilitarPrivilegioDesligarSistema();
}

}  // namespace velorin
