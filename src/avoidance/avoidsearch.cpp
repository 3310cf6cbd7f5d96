// Per-point angle searches of the head avoidance and the interval chains.
#include "avoidance/avoidsearch.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "avoidance/axisintervals.h"
#include "collision/collassembly.h"
#include "kernel/base/constants.h"
#include "kernel/base/runreset.h"

namespace {

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

namespace {

constexpr double kBStep = 0.05;
constexpr double kCStep = 0.087;
constexpr double kCFine = 0.0436;
constexpr double kBisectEnd = 0.005;
constexpr double kMidCheck = 0.348;

int gAnalytic = 0;

bool freeAt(const Vec3* p, double c, double b) {
    Vec3 a;
    dirFromAngles(&a, c, b);
    return coll_check_full(p, &a, nullptr) == 1;
}

// The C searches need a tilted axis: with sin B tiny every C names the same (vertical) axis.
bool cDefined(double b) {
    return std::fabs(std::sin(b)) >= 1e-5;
}

// Shared shapes of the B and C searches: free(x) tests the candidate angle x.
template <class Free>
int spanFree(Free free, double from, double to, double step, double* hit) {
    for (int k = 0;; ++k) {
        const double x = from + k * step;
        if (!(x < to - step + 1e-5)) return 1;
        if (!free(x)) {
            if (hit) *hit = x;
            return 0;
        }
    }
}

template <class Free>
int bisect(Free free, double f, double h, double* out) {
    const double start = f;
    while (std::fabs(h - f) > kBisectEnd) {
        const double m = 0.5 * (f + h);
        (free(m) ? f : h) = m;
    }
    *out = f;
    if (std::fabs(f - start) > kMidCheck && !free(0.5 * (start + f))) return 0;
    return 1;
}

template <class Free>
int findFree(Free free, double a, double b, double* out) {
    if (!(b - a >= kBisectEnd)) return -1;
    const double m = 0.5 * (a + b);
    if (free(m)) {
        *out = m;
        return 1;
    }
    if (findFree(free, a, m, out) == 1) return 1;
    return findFree(free, m, b, out);
}

}  // namespace

void avoidSetAnalytic(int on) {
    gAnalytic = on != 0;
}
void avoidSearchResetState() {
    gAnalytic = 0;
}
static const RunReset gRunReset(kRunResetAvoidance, "avoidSearch", avoidSearchResetState);

int avoidSpanFreeB(const Vec3* p, double bFrom, double bTo, double c, double* hit) {
    return spanFree([&](double b) { return freeAt(p, c, b); }, bFrom, bTo, kBStep, hit);
}

int avoidSpanFreeC(const Vec3* p, double cFrom, double cTo, double b, double* hit) {
    return spanFree([&](double c) { return freeAt(p, c, b); }, cFrom, cTo, kCStep, hit);
}

int avoidBisectB(const Vec3* p, double freeB, double hitB, double c, double* out) {
    return bisect([&](double b) { return freeAt(p, c, b); }, freeB, hitB, out);
}

int avoidBisectC(const Vec3* p, double freeC, double hitC, double b, double* out) {
    if (!cDefined(b)) return 0;
    return bisect([&](double c) { return freeAt(p, c, b); }, freeC, hitC, out);
}

int avoidFindFreeB(const Vec3* p, double a, double b, double c, double* out) {
    return findFree([&](double x) { return freeAt(p, c, x); }, a, b, out);
}

int avoidFindFreeC(const Vec3* p, double a, double b, double bAngle, double* out) {
    if (!cDefined(bAngle)) return -1;
    return findFree([&](double x) { return freeAt(p, x, bAngle); }, a, b, out);
}

bool avoidIntervalPass(AvoidEntry* e, const Vec3* p, double c) {
    if (gAnalytic) {
        Vec3 a;
        dirFromAngles(&a, c, e->b);
        double lo = 0.0, hi = 0.0;
        if (axisIntervalsOverMesh(p, &a, e->bMin - e->b, e->bMax - e->b, &lo, &hi) < 0) return false;
        lo += e->b;
        hi += e->b;
        e->bMin = std::max(e->bMin, lo);
        e->bMax = std::min(e->bMax, hi);
        return lo < hi;
    }
    const bool loFree = freeAt(p, c, e->bMin), hiFree = freeAt(p, c, e->bMax);
    double out = 0.0;
    if (loFree && hiFree) {
        double h = 0.0;
        if (avoidSpanFreeB(p, e->bMin, e->bMax, c, &h)) return true;
        if (h > e->b) {
            const int ok = avoidBisectB(p, e->bMin, h, c, &out);
            e->bMax = out;
            return ok == 1;
        }
        const int ok = avoidBisectB(p, e->bMax, h, c, &out);
        e->bMin = out;
        return ok == 1;
    }
    if (loFree || hiFree) {
        const int ok = avoidBisectB(p, loFree ? e->bMin : e->bMax, loFree ? e->bMax : e->bMin, c, &out);
        (loFree ? e->bMax : e->bMin) = out;
        return ok == 1;
    }
    double start = e->b;
    if (e->state == 1 && !freeAt(p, c, start) && avoidFindFreeB(p, e->bMin, e->bMax, c, &start) != 1)
        return false;
    double lo = 0.0, hi = 0.0;
    const int okLo = avoidBisectB(p, start, e->bMin, c, &lo);
    const int okHi = avoidBisectB(p, start, e->bMax, c, &hi);
    e->bMin = lo;
    e->bMax = hi;
    if (okLo != 1 || okHi != 1) return false;
    return e->state != 1 || avoidSpanFreeB(p, lo, hi, c, nullptr) == 1;
}

int avoidGrowIntervalB(const AvoidEntry* prev, AvoidEntry* e, const Vec3* p, double bMaxLimit) {
    double b0 = 0.0;
    if (avoidFindFreeB(p, prev->bMin, prev->bMax, e->c, &b0) != 1) return 0;
    e->bMin = e->bMax = b0;
    for (double b = b0 - kBStep; b > 0.0; b -= kBStep) {
        if (freeAt(p, e->c, b)) continue;
        avoidBisectB(p, b0, b, e->c, &e->bMin);
        break;
    }
    for (double b = b0 + kBStep; b <= bMaxLimit; b += kBStep) {
        if (freeAt(p, e->c, b)) continue;
        avoidBisectB(p, b0, b, e->c, &e->bMax);
        break;
    }
    return 1;
}

int avoidCInterval(AvoidEntry* e, const Vec3* p, double w1, double w2) {
    e->flag = 0;
    if (!cDefined(e->b)) {
        e->flag = -1;
        return 0;
    }
    const double lo = e->c - w2, hi = e->c + w1;
    const bool loFree = freeAt(p, lo, e->b), hiFree = freeAt(p, hi, e->b);
    if (loFree) e->cLow = lo;
    if (hiFree) e->cHigh = hi;
    int ok = 1;
    if (loFree && hiFree) {
        double h = 0.0;
        if (!avoidSpanFreeC(p, lo, hi, e->b, &h)) {
            if (h > e->c)
                ok = avoidBisectC(p, lo, h, e->b, &e->cHigh);
            else
                ok = avoidBisectC(p, hi, h, e->b, &e->cLow);
        }
    } else if (loFree) {
        ok = avoidBisectC(p, lo, hi, e->b, &e->cHigh);
    } else if (hiFree) {
        ok = avoidBisectC(p, hi, lo, e->b, &e->cLow);
    } else {
        double c0 = 0.0;
        ok = avoidFindFreeC(p, lo, hi, e->b, &c0) == 1;
        ok = ok && avoidBisectC(p, c0, lo, e->b, &e->cLow) == 1;
        ok = ok && avoidBisectC(p, c0, hi, e->b, &e->cHigh) == 1;
    }
    if (ok != 1) {
        e->flag = -1;
        return 0;
    }
    return 1;
}

int avoidWidenC(AvoidEntry* e, const Vec3* p, double w1, double w2) {
    if (!cDefined(e->b)) return 0;
    const double lo = e->c - w2, hi = e->c + w1;
    if (freeAt(p, lo, e->b))
        e->cLow = lo;
    else
        avoidBisectC(p, e->c, lo, e->b, &e->cLow);
    if (freeAt(p, hi, e->b))
        e->cHigh = hi;
    else
        avoidBisectC(p, e->c, hi, e->b, &e->cHigh);
    if (freeAt(p, 0.5 * (e->cLow + e->cHigh), e->b)) return 1;
    avoidBisectC(p, e->cLow, e->cHigh, e->b, &e->cHigh);
    return freeAt(p, 0.5 * (e->cLow + e->cHigh), e->b) ? 1 : 0;
}

int avoidFindCAndB(const AvoidEntry* e, const Vec3* p, double w1, double w2, double* outC, double* outB) {
    Vec3 a;
    dirFromAngles(&a, e->c, e->b);
    Vec3 v = *p;  // a hit that names no triangle leaves the point: the side test then turns upwards
    if (coll_check_where(p, &a, &v) >= 1) {
        *outC = e->c;
        *outB = e->b;
        return 1;
    }
    const double side = a.x * (v.y - p->y) - a.y * (v.x - p->x);
    const double dirs[2] = {side >= 0.0 ? 1.0 : -1.0, side >= 0.0 ? -1.0 : 1.0};
    for (double dir : dirs) {
        const double width = dir > 0.0 ? w1 : w2;
        for (int k = 1; k * kCStep < width; ++k) {
            const double c1 = e->c + dir * k * kCStep;
            double b1 = 0.0;
            if (freeAt(p, c1, e->bMin))
                b1 = e->bMin;
            else if (freeAt(p, c1, e->bMax))
                b1 = e->bMax;
            else if (avoidFindFreeB(p, e->bMin, e->bMax, c1, &b1) != 1)
                continue;
            const double c2 = c1 + dir * kCFine;
            double b2 = 0.0;
            if (freeAt(p, c2, e->bMin))
                b2 = e->bMin;
            else if (freeAt(p, c2, e->bMax))
                b2 = e->bMax;
            else if (avoidFindFreeB(p, e->bMin, e->bMax, c2, &b2) != 1) {
                *outC = c1;  // the half step found nothing: C' with the B that freed it
                *outB = b1;
                return 1;
            }
            *outC = c2;
            *outB = b2;
            return 1;
        }
    }
    return -1;
}
