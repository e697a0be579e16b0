#pragma once
// The fast sine and cosine's table, generated with the term tables.

namespace ah_math_detail {

struct TrigEntry {
    long double Cos, Sin;
};
extern const TrigEntry kTrigTable[128];  // j pi / 64

}  // namespace ah_math_detail
