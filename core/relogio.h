// The program's one clock for time-outs, windows, expiries and limits.
#pragma once

#include <cstdint>

namespace velorin {

// Milliseconds since the system started, counting time spent suspended (CLOCK_BOOTTIME), so a
// deadline set before a suspend has passed after a long one.
std::uint64_t AgoraMs();

// Test clock: while set, AgoraMs() returns this value instead of the system's. One override for
// the whole process, safe to change from any thread.
void DefinirRelogioTeste(std::uint64_t ms);
void AvancarRelogioTeste(std::uint64_t ms);
void LiberarRelogioTeste();

}  // namespace velorin
