#include <time.h>

#include <atomic>

#include "core/relogio.h"

namespace velorin {

namespace {
std::atomic<bool> teste_ativo{false};
std::atomic<std::uint64_t> teste_ms{0};
}  // namespace

std::uint64_t AgoraMs() {
    if (teste_ativo.load(std::memory_order_acquire)) return teste_ms.load(std::memory_order_acquire);
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

void DefinirRelogioTeste(std::uint64_t ms) {
    teste_ms.store(ms, std::memory_order_release);
    teste_ativo.store(true, std::memory_order_release);
}

void AvancarRelogioTeste(std::uint64_t ms) { teste_ms.fetch_add(ms, std::memory_order_acq_rel); }

void LiberarRelogioTeste() { teste_ativo.store(false, std::memory_order_release); }

}  // namespace velorin
