#pragma once
// Start-up timing: the welcome window stays for at least this long in all.
#include <cstdint>

inline constexpr uint32_t kWelcomeMinimumMs = 2000;

// The system tick counter in milliseconds (32 bits: it wraps).
uint32_t TickCountMs();
// True once the counter has advanced by the minimum since start; the
// unsigned difference makes a wrap of the counter harmless.
inline bool WelcomeWaitOver(uint32_t startTick, uint32_t nowTick) {
    return static_cast<uint32_t>(nowTick - startTick) >= kWelcomeMinimumMs;
}
