#include "plot/colormap.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// Viridis at sixteen evenly spaced positions, as published (van der Walt
// and Smith, 2015).
constexpr uint32_t kViridis[] = {0x440154, 0x481A6C, 0x472F7D, 0x414487, 0x39568C, 0x31688E, 0x2A788E, 0x23888E,
                                 0x1F988B, 0x22A884, 0x35B779, 0x54C568, 0x7AD151, 0xA5DB36, 0xD2E21B, 0xFDE725};

double Channel(uint32_t rgb, int shift) { return static_cast<double>((rgb >> shift) & 0xFF); }

uint8_t Mix(uint32_t a, uint32_t b, int shift, double f) {
    return static_cast<uint8_t>(std::lround(Channel(a, shift) + (Channel(b, shift) - Channel(a, shift)) * f));
}

}  // namespace

TRgb Viridis(double t) {
    constexpr int last = static_cast<int>(std::size(kViridis)) - 1;
    if (!(t > 0)) t = 0;
    if (t > 1) t = 1;
    const double x = t * last;
    const int i = std::min(static_cast<int>(x), last - 1);
    const double f = x - i;
    const uint32_t a = kViridis[i], b = kViridis[i + 1];
    return {Mix(a, b, 16, f), Mix(a, b, 8, f), Mix(a, b, 0, f)};
}
