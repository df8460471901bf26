#include "actions/tela.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>

#include "core/log.h"
#include "core/parametros.h"

namespace velorin {

namespace {

std::atomic<std::int32_t> estado_tela{TELA_DESCONHECIDA};

// Written by the main thread, read by connection threads.
std::atomic<bool> registrada{false};
std::atomic<TJanelaTela> janela_registrada{0};
// Whether the system registration succeeded (and must be undone).
std::atomic<bool> registro_sistema{false};

// Display changes run one at a time.
std::mutex trava_tela;

bool MesmoGuid(const TGuidWindows& a, const TGuidWindows& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

}  // namespace

std::optional<std::int32_t> EstadoDaNotificacao(std::uintptr_t codigo,
                                                const TConfiguracaoEnergiaWindows* configuracao) {
    if (codigo != PBT_MUDANCA_CONFIGURACAO_ENERGIA || configuracao == nullptr) return std::nullopt;
    if (!MesmoGuid(configuracao->PowerSetting, GUID_ESTADO_TELA_CONSOLE)) return std::nullopt;
    if (configuracao->DataLength != 4) return std::nullopt;
    // The data runs past the declared one-byte array; read it through the record's bytes.
    std::uint32_t valor = 0;
    std::memcpy(&valor,
                reinterpret_cast<const unsigned char*>(configuracao) +
                    offsetof(TConfiguracaoEnergiaWindows, Data),
                sizeof valor);
    switch (valor) {
        case 0:
            return TELA_DESLIGADA;
        case 1:
        case 2:
            return TELA_LIGADA;  // 2 is dimmed: still showing
        default:
            return std::nullopt;
    }
}

void RegistrarTela(TJanelaTela janela) {
    janela_registrada.store(janela);
    registrada.store(true);
    if (Parametros.Simular) {
        estado_tela.store(TELA_LIGADA);
        return;
    }
    registro_sistema.store(RegistrarTelaSistema(janela));
}

void CancelarRegistroTela() {
    if (registro_sistema.exchange(false)) CancelarRegistroTelaSistema();
    registrada.store(false);
    janela_registrada.store(0);
}

void NotificacaoEnergia(std::uintptr_t codigo, std::intptr_t configuracao) {
    if (Parametros.Simular) return;
    const auto novo = EstadoDaNotificacao(
        codigo, reinterpret_cast<const TConfiguracaoEnergiaWindows*>(configuracao));
    if (novo) estado_tela.store(*novo);
}

void ReiniciarTelaTeste() {
    CancelarRegistroTela();
    estado_tela.store(TELA_DESCONHECIDA);
}

std::int32_t EstadoTela() {
    return estado_tela.load();
}

bool DefinirTela(bool ligada) {
    std::lock_guard<std::mutex> g(trava_tela);
    if (Parametros.Simular) {
        estado_tela.store(ligada ? TELA_LIGADA : TELA_DESLIGADA);
        LogFmt("SIMULADO: tela (ligada=%s)", ligada ? "True" : "False");
        return true;
    }
    if (!registrada.load()) return false;
    return DefinirTelaSistema(janela_registrada.load(), ligada);
}

void AtualizarEstadoTela() {
    if (Parametros.Simular || !registrada.load()) return;
    std::int32_t estado = TELA_DESCONHECIDA;
    if (LerEstadoTelaSistema(estado)) estado_tela.store(estado);
}

}  // namespace velorin
