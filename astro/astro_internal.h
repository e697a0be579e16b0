/*
 * Helpers shared by every function of the library and kept out of its
 * interface. Header-only so the unit tests can reach them.
 */
#ifndef ASTRO_INTERNAL_H
#define ASTRO_INTERNAL_H

#include <math.h>
#include <stdint.h>

static inline double range360(double x)
{
    return x - 360.0 * floor(x / 360.0);
}

/*
 * Brings a time into [0, 24]; 24 itself stays 24 and NaN passes through.
 * Same result as subtracting or adding 24 until the value is in range
 * (those steps are exact in double), without looping over huge values.
 * An infinite value has no time of day and gives NaN.
 */
static inline double range24h(double t)
{
    if (isnan(t))
        return t;
    if (isinf(t))
        return NAN;
    if (t > 24.0) {
        t = fmod(t, 24.0);
        return t == 0.0 ? 24.0 : t;
    }
    if (t < 0.0) {
        t = fmod(t, 24.0);
        return t == 0.0 ? 0.0 : t + 24.0;
    }
    return t;
}

/*
 * floor above 0.5, ceil otherwise: truncation for x >= 1 and x <= 0, but
 * (0, 0.5] gives 1 and (0.5, 1) gives 0. Callers rely on that exact split.
 * NaN gives 0 and values beyond 32 bits saturate; every caller that can
 * see NaN keeps the NaN in its own arithmetic.
 */
static inline int32_t round_int(double x)
{
    double r = x > 0.5 ? floor(x) : ceil(x);
    if (isnan(r))
        return 0;
    if (r >= 2147483647.0)
        return INT32_MAX;
    if (r <= -2147483648.0)
        return INT32_MIN;
    return (int32_t)r;
}

#endif /* ASTRO_INTERNAL_H */
