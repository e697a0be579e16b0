#include "core/site/startup.h"

#include <chrono>

uint32_t TickCountMs() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    return static_cast<uint32_t>(ms);
}
