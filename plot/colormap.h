#pragma once
// The perceptual colour map of the many-night picture: viridis, dark purple
// to yellow, evenly spaced in lightness, readable in grey and by most
// colour-blind readers.
#include <cstdint>

struct TRgb {
    uint8_t R = 0, G = 0, B = 0;
};

// t in 0..1 (clamped; NaN gives the start); linear between the control points.
TRgb Viridis(double t);
