// Polynomials in one variable and the arc-length groups of the curve output.
#pragma once

#include <cstdint>

// coef[k] belongs to x^k (lowest degree first).
struct Polynomial {
    int32_t count;
    double* coef;
};

// The value at x by Horner's rule. 0, or -1 (out untouched) for a missing polynomial or count < 1.
int polyEvalHorner(const Polynomial* poly, double x, double* out);

// One curve segment's arc-length polynomial; owns coef.
struct ArcLenEntry {
    int16_t order;  // 4
    double* coef;
    double start;   // 0.0
    double length;  // the segment's length L
};

// The arc-length entries of one curve; owns the parameter array and the entries (all malloc'd).
struct SplineSet {
    int32_t count;
    double* params;
    ArcLenEntry* entries;
};

// Frees the parameters, each entry's coefficients, the entries and the record. Null-safe.
void splineSetFree(SplineSet* set);
