#pragma once
// The term of a VSOP87 series, shared by the evaluator and the generated tables.

// One VSOP87 term; its value at tau (Julian millennia from J2000.0) is
// A cos(B + C tau). A is in 1e-8 rad (L, B) or 1e-8 au (R).
struct VSOPTerm {
    long double A = 0;
    long double B = 0;  // rad
    long double C = 0;  // rad per Julian millennium
};
