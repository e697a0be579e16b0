#pragma once
// Term tables of the engine, generated into astro_tables.cpp by
// tools/gen_astro_tables from the published text tables. Internal header.
#include <cstdint>

#include "core/astronomy/trig_table.h"
#include "core/astronomy/vsop_term.h"

namespace astro_tables {

inline constexpr int kVSOPPowers = 6;
inline constexpr int kMoonTerms = 60;
inline constexpr int kNutationTerms = 31;

struct VSOPSeries {
    const VSOPTerm* terms;  // nullptr when the body has no series of this power
    int count;
};
// Index = power of tau.
extern const VSOPSeries kEarthLongitude[kVSOPPowers];
extern const VSOPSeries kEarthLatitude[kVSOPPowers];
extern const VSOPSeries kEarthRadius[kVSOPPowers];

// Multipliers of D, M, M', F.
struct LunarArgument {
    std::int8_t d, m, mp, f;
};
extern const LunarArgument kMoonLongitudeDistanceArgs[kMoonTerms];
extern const std::int32_t kMoonLongitudeCoefs[kMoonTerms];  // 1e-6 degree, sine
extern const std::int32_t kMoonDistanceCoefs[kMoonTerms];   // 1e-3 km, cosine
extern const LunarArgument kMoonLatitudeArgs[kMoonTerms];
extern const std::int32_t kMoonLatitudeCoefs[kMoonTerms];   // 1e-6 degree, sine

struct NutationTerm {
    std::int8_t d, m, mp, f, omega;
    std::int32_t S, S1, C, C1;  // 1e-4 arcsec, 1e-5 arcsec per century
};
extern const NutationTerm kNutation[kNutationTerms];

}  // namespace astro_tables
