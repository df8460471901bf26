// Power actions through systemd-logind on the system bus.
//
// Calls are made with interactive = false: the program runs unattended and must never wait for
// a password dialog on the PC. What logind's policy refuses without asking fails, with the
// errno of the D-Bus error in the log line.

#include <cerrno>
#include <string>

#include "actions/barramento_linux.h"
#include "actions/energia.h"
#include "core/log.h"

namespace velorin {

namespace {

constexpr const char* LOGIND = "org.freedesktop.login1";
constexpr const char* LOGIND_CAMINHO = "/org/freedesktop/login1";
constexpr const char* LOGIND_GERENTE = "org.freedesktop.login1.Manager";

// logind answers quickly, but polkit may be consulted first.
constexpr std::uint32_t PRAZO_ACAO_MS = 5000;
// Read at start-up on the main thread: keep it short.
constexpr std::uint32_t PRAZO_CONSULTA_MS = 1500;

int ChamarLogind(const char* metodo, const TArgumentosBus& argumentos, std::uint32_t prazo_ms,
                 TMensagemBus* resposta) {
    int r = 0;
    const TBarramento bus = AbrirBarramentoSistema(prazo_ms, &r);
    if (!bus) return r;
    std::string nome_erro;
    r = ChamarMetodo(bus, LOGIND, LOGIND_CAMINHO, LOGIND_GERENTE, metodo, prazo_ms, argumentos,
                     resposta, &nome_erro);
    if (r < 0 && !nome_erro.empty()) {
        LogFmt("AVISO: logind recusou %s: %s", metodo, TextoParaLog(nome_erro, 120).c_str());
    }
    return r;
}

bool AcaoSemInteracao(const char* metodo, int& erro) {
    const int r = ChamarLogind(
        metodo, [](sd_bus_message* m) { return sd_bus_message_append(m, "b", 0); }, PRAZO_ACAO_MS,
        nullptr);
    erro = r < 0 ? -r : 0;
    return r >= 0;
}

}  // namespace

bool DesligarSistema(std::int32_t acao, bool forcar, int& erro) {
    // Ignoring other users' block inhibitors is decided by logind's policy for the caller;
    // without an interactive prompt a forced request can do no more than a plain one.
    (void)forcar;
    if (acao != ACAO_DESLIGAR && acao != ACAO_REINICIAR) {
        erro = EINVAL;
        return false;
    }
    return AcaoSemInteracao(acao == ACAO_DESLIGAR ? "PowerOff" : "Reboot", erro);
}

bool SuspenderSistema(int& erro) {
    return AcaoSemInteracao("Suspend", erro);
}

bool BloquearSessaoSistema() {
    const std::string sessao = SessaoLogind();
    if (sessao.empty()) {
        Log("ERRO ao bloquear: sessao do logind nao encontrada");
        return false;
    }
    const int r = ChamarLogind(
        "LockSession",
        [&sessao](sd_bus_message* m) { return sd_bus_message_append(m, "s", sessao.c_str()); },
        PRAZO_ACAO_MS, nullptr);
    if (r < 0) LogFmt("ERRO ao bloquear (%d)", -r);
    return r >= 0;
}

bool PodeSuspenderSistema() {
    TMensagemBus resposta;
    if (ChamarLogind("CanSuspend", {}, PRAZO_CONSULTA_MS, &resposta) < 0) return false;
    const char* valor = nullptr;
    if (sd_bus_message_read(resposta.Get(), "s", &valor) < 0 || valor == nullptr) return false;
    // "challenge" needs someone to authenticate on the PC, which an unattended request cannot
    // do; only a plain "yes" means the phone's request will work.
    return std::string(valor) == "yes";
}

bool HabilitarPrivilegioDesligarSistema() {
    return true;
}

}  // namespace velorin
