// Interval chains of the head avoidance's per-point searches.
#include "avoidance/avoidsearch.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr double kTwoPi = 6.283185307179586;

// Marks -2 then turns every mark into -1, so that a marked entry still counts as a neighbour.
int markMisses(AvoidTable* table, const double* lo, const double* hi) {
    AvoidEntry* e = table->entries;
    int result = 1;
    for (int32_t i = 0; i + 1 < table->count; ++i) {
        const bool missPrev = i > 0 && (lo[i] > hi[i - 1] || hi[i] < lo[i - 1]);
        const bool missNext = lo[i] > hi[i + 1] || hi[i] < lo[i + 1];
        if (missPrev || missNext) {
            e[i].flag = -2;
            result = 0;
        }
    }
    for (int32_t i = 0; i < table->count; ++i)
        if (e[i].flag == -2) e[i].flag = -1;
    return result;
}

}  // namespace

int avoidCheckIntervalChain(AvoidTable* table) {
    const int32_t n = table->count;
    double* lo = static_cast<double*>(std::malloc(sizeof(double) * (n > 0 ? n : 1)));
    double* hi = static_cast<double*>(std::malloc(sizeof(double) * (n > 0 ? n : 1)));
    int r = -1;
    if (lo && hi) {
        for (int32_t i = 0; i < n; ++i) lo[i] = table->entries[i].bMin, hi[i] = table->entries[i].bMax;
        r = markMisses(table, lo, hi);
    }
    std::free(lo);
    std::free(hi);
    return r;
}

int avoidCheckCBandChain(AvoidTable* table) {
    double* lo = avoidUnwrapColumn(table, kAvoidColumnCLow);
    double* hi = avoidUnwrapColumn(table, kAvoidColumnCHigh);
    const int r = lo && hi ? markMisses(table, lo, hi) : -1;
    std::free(lo);
    std::free(hi);
    return r;
}

int avoidCInBand(const AvoidEntry* entry, double c) {
    const double lo = entry->cLow, hi = entry->cHigh;
    if (!std::isfinite(c) || !std::isfinite(lo) || !std::isfinite(hi)) return 0;
    if (hi - lo < 1e-5) return std::fabs(std::remainder(c - lo, kTwoPi)) <= 1e-5;
    if (hi - lo >= kTwoPi) return 1;  // a full turn holds every C
    // Both brought to the largest value not above C high.
    const double low = hi - std::fmod(hi - lo, kTwoPi);
    const double cc = hi - std::fmod(std::fmod(hi - c, kTwoPi) + kTwoPi, kTwoPi);
    return low <= cc;
}
