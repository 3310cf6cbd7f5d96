// Fallback strategies of the band fit: plateau joins, the taut path and the chord subdivision.
#include "geometry/bandfallback.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "geometry/bandhelp.h"
#include "geometry/curvefit.h"
#include "geometry/ivstack.h"

namespace {

struct Band {
    const double* x;
    const double* lo;
    const double* hi;
    double* out;
    int32_t n;

    bool inside(int32_t from, int32_t to) const {  // out[from..to] within the bounds, inclusive
        if (from > to) std::swap(from, to);
        return bandContains(lo + from, hi + from, out + from, to - from + 1) != 0;
    }
    bool insideAll() const { return bandContains(lo, hi, out, n) != 0; }
    void fill(int32_t from, int32_t to, double v) const {  // out[from..to-1] := v
        for (int32_t i = std::max(from, 0); i < std::min(to, n); ++i) out[i] = v;
    }
    // The line through (x[a], ya) and (x[b], yb) over the samples from..to.
    void line(int32_t a, double ya, int32_t b, double yb, int32_t from, int32_t to) const {
        const double s = fitSlope2(x[a], ya, x[b], yb);
        for (int32_t i = from; i <= to; ++i) out[i] = ya + s * (x[i] - x[a]);
    }
};

struct Plateau {
    const Band& b;
    double levL, levR;
};

// The plateau levels joined by a line over a..b-1 and held outside it.
int plateauLine(const Plateau& P, int32_t a, int32_t b) {
    const Band& B = P.b;
    if (!(std::fabs(B.x[a] - B.x[b]) >= 0.001)) return 0;
    if (a > b) std::swap(a, b);
    B.line(a, P.levL, b, P.levR, a, b - 1);
    B.fill(0, a, P.levL);
    B.fill(b, B.n, P.levR);
    return B.insideAll() ? 1 : 0;
}

// The flattest straight link between the plateaus that stays inside the band, found by widening
// the link alternately to the left and to the right.
int plateauLink(const Plateau& P, int32_t iL, int32_t iR, int32_t* i1, int32_t* i2) {
    const Band& B = P.b;
    const double* x = B.x;
    int32_t a = iL, b = iR - 1;
    if (a < 0 || b < -1 || iR > B.n) return 0;
    double bestSlope = 100.0;
    int32_t bestA = -1, bestB = -1, bestStep = 0;
    bool success = false, haveBest = false;
    int fails[2] = {0, 0};
    bool canMove[2] = {true, true};  // 0 left, 1 right
    for (int step = 1; step <= 100; ++step) {
        if (!canMove[0] && !canMove[1]) break;
        const int side = step % 2 == 0 ? 0 : 1;
        if (!canMove[side]) continue;
        if (side == 0) {
            --a;
        } else {
            ++b;
        }
        if (a < 0 || b > B.n - 1) {
            if (side == 0) ++a;
            if (side == 1) --b;
            break;
        }
        if (!(std::fabs(x[a] - x[b]) >= 0.001)) break;
        B.line(a, P.levL, b, P.levR, a, b);
        if (B.inside(a, b)) {
            success = true;
            const double s = (P.levR - P.levL) / (x[b] - x[a]);
            if (std::fabs(x[a] - x[b]) > 0.001 && std::fabs(s) < std::fabs(bestSlope)) {
                bestSlope = s;
                bestA = a;
                bestB = b;
                bestStep = step;
                haveBest = true;
            }
        } else {
            if (side == 0) ++a;
            if (side == 1) --b;
            ++fails[side];
            canMove[side] = false;
            if (fails[1 - side] < 2) canMove[1 - side] = true;
        }
    }
    if (!success) return 0;
    if (haveBest && std::fabs(bestSlope) < 50.0) {
        a = bestA;
        b = bestB;
        if (std::abs(bestStep - bestA) < 3 || std::abs(bestStep - bestB) < 3) {
            a = (3 * bestA + bestB) / 4;
            b = (bestA + 3 * bestB) / 4;
        }
    }
    if (a < 0 || b < 0 || a > B.n - 1 || b > B.n - 1) return 0;
    *i1 = std::min(a, b);
    *i2 = std::max(a, b);
    if (!(std::fabs(x[a] - x[b]) >= 0.001)) return 0;
    const double d = x[b] - x[a];
    const double rise = std::fabs(P.levR - P.levL);
    const double e = std::fabs((P.levR - P.levL) / d) >= 1.0 ? 0.1 * std::fabs(d) : (d - rise) / 2.0;
    const int32_t p = fitFindInterval(x, B.n, x[a] + e);
    const int32_t q = fitFindInterval(x, B.n, x[b] - e);
    if (plateauLine(P, p, q)) {
        *i1 = std::min(p, q);
        *i2 = std::max(p, q);
        return 1;
    }
    return plateauLine(P, a, b);
}

// A line through the band's middle at k, met by both plateaus, with rounded meeting corners.
int plateauLinkMid(Plateau& P, int32_t k, int32_t* i1, int32_t* i2) {
    const Band& B = P.b;
    const double* x = B.x;
    const int32_t n = B.n;
    if (k < 1 || k > n - 2) return 0;
    auto mid = [&](int32_t i) { return (B.lo[i] + B.hi[i]) / 2.0; };
    const double s = (mid(k + 1) - mid(k - 1)) / (x[k + 1] - x[k - 1]);
    // A level line never meets the plateaus.
    if (!std::isfinite(s) || s == 0.0) return 0;
    const double c = mid(k) - s * x[k];
    evalLineAt(x, n, s, c, B.out);
    const int32_t pL = fitFindInterval(x, n, (P.levL - c) / s);
    const int32_t pR = k + fitFindInterval(x + k, n - k, (P.levR - c) / s) + 1;
    if (pR > n - 1) return 0;
    const double valL = s * x[pL] + c, valR = s * x[pR] + c;
    B.fill(0, pL, valL);
    B.fill(pR, n, valR);
    const Vec2 inner{x[k], s * x[k] + c};
    int32_t oL = pL, oR = pR;
    const int32_t l = fitFindInterval(x, n, 2.0 * x[pL] - x[k]);
    if (l < pL && pL < k) {
        oL = l;
        const Vec2 p0{x[oL], valL}, p1{x[pL], valL};
        quadBezierSample(x + oL, k - oL + 1, &p0, &p1, &inner, B.out + oL);
    }
    int32_t r = fitFindInterval(x, n, 2.0 * x[pR] - x[k]);
    if (r < n - 1 && x[r] < 2.0 * x[pR] - x[k]) ++r;
    if (k < pR && pR < r) {
        oR = r;
        const Vec2 p1{x[pR], valR}, p2{x[oR], valR};
        quadBezierSample(x + k, oR - k + 1, &inner, &p1, &p2, B.out + k);
    }
    *i1 = oL;
    *i2 = oR;
    return B.insideAll() ? 1 : 0;
}

// Largest slope from (x[i], v) to a later lower bound (smallest to an upper bound), first index
// on ties; i itself when no sample qualifies.
int32_t slopeToLowerMax(const double* x, const double* lower, int32_t n, int32_t i, double v, double* slope) {
    double best = -1000.0;
    int32_t k = i;
    for (int32_t j = i + 1; j < n; ++j) {
        const double dx = x[j] - x[i];
        if (!(std::fabs(dx) >= 1e-8)) continue;
        const double s = (lower[j] - v) / dx;
        if (s > best) {
            best = s;
            k = j;
        }
    }
    *slope = best;
    return k;
}

int32_t slopeToUpperMin(const double* x, const double* upper, int32_t n, int32_t i, double v, double* slope) {
    double best = 1000.0;
    int32_t k = i;
    for (int32_t j = i + 1; j < n; ++j) {
        const double dx = x[j] - x[i];
        if (!(std::fabs(dx) >= 1e-8)) continue;
        const double s = (upper[j] - v) / dx;
        if (s < best) {
            best = s;
            k = j;
        }
    }
    *slope = best;
    return k;
}

int tautPathWalk(const Band& B, double levL, double levR) {
    const double* x = B.x;
    const double* lower = B.lo;
    const double* upper = B.hi;
    const int32_t n = B.n;
    int32_t i = 0, p = 0;
    double v = levL;
    while (i < n - 1) {
        // Aim straight at the right plateau; done when that already fits.
        const double mA = (levR - v) / (x[n - 1] - x[i]);
        const double cA = v - mA * x[i];
        evalLineAt(x + i, n - i, mA, cA, B.out + i);
        bandRoundCorner(x, lower, upper, B.out, n, p, i, n - 1);
        if (B.insideAll()) return kBandTaut;

        double sL, sU;
        const int32_t jL = slopeToLowerMax(x, lower, n, i, v, &sL);
        const int32_t jU = slopeToUpperMin(x, upper, n, i, v, &sU);
        int32_t j = std::min(jL, jU), e = j;
        const double d = x[j] - x[i];
        double w;
        if (jL < jU) {
            double sU2;
            const int32_t jU2 = slopeToUpperMin(x, upper, j + 1, i, v, &sU2);
            if (sU2 <= sL) {
                // The corridor closes before the lower blocker: turn below the upper one.
                e = j = jU2;
                w = 0.9 * upper[e] + 0.1 * lower[e];
            } else {
                w = (0.66 * sL + 0.34 * sU2) * d + v;
                const double aim = mA * x[j] + cA;
                if (j > i && aim < lower[j] && aim > w) w = aim;
                while (e + 2 < n && lower[e + 1] > lower[e]) ++e;
            }
        } else if (jU < jL) {
            double sL2;
            const int32_t jL2 = slopeToLowerMax(x, lower, j + 1, i, v, &sL2);
            if (sL2 < sU) {
                w = (0.66 * sU + 0.34 * sL2) * d + v;
                const double aim = mA * x[j] + cA;
                if (j > i && aim < upper[j] && aim > w) w = aim;
                while (e + 1 < n && upper[e + 1] < upper[e]) ++e;
            } else {
                e = j = jL2;
                w = 0.2 * upper[e] + 0.8 * lower[e];
            }
        } else {
            w = (lower[j] + upper[j]) / 2.0;
        }
        if (j <= i) break;

        const double s = (w - v) / (x[j] - x[i]);
        for (int32_t t = i; t <= e; ++t) B.out[t] = v + s * (x[t] - x[i]);
        if (B.inside(j, e)) {
            w = B.out[e];
            j = e;
        } else {
            e = (j + e) / 2;
            if (B.inside(j, e)) {
                w = B.out[e];
                j = e;
            }
        }

        if (p < i) bandRoundCorner(x, lower, upper, B.out, n, p, i, j);
        int32_t first, last;
        insideRun(lower + i, upper + i, B.out + i, j - i + 1, 0, &first, &last);
        last += i;
        if (last < j) {
            j = last;
            if (j >= 0) w = B.out[j];
        }
        if (j <= i) return 0;
        p = i;
        i = j;
        v = w;
    }
    return B.insideAll() ? kBandTaut : 0;
}

// The value at the split sample k of a chord s..e that left the band: the first rule whose
// candidate fits. The rule number.
int chordSplitValue(const Band& B, int32_t s, int32_t e, int32_t k) {
    const double lo = std::min(B.out[s], B.out[e]), hi = std::max(B.out[s], B.out[e]);
    double maxLower, minUpper;
    fitArrayMaxIndex(B.lo + s, e - s + 1, &maxLower);
    fitArrayMinIndex(B.hi + s, e - s + 1, &minUpper);
    const double lk = B.lo[k], uk = B.hi[k];
    auto strictly = [&](double v) { return lk < v && v < uk; };
    double v = (lo + hi) / 2.0;
    if (maxLower < v && v < minUpper) {
        B.out[k] = v;
        return 1;
    }
    const double v2 = maxLower < minUpper ? (maxLower + minUpper) / 2.0 : (lk + uk) / 2.0;
    if (lo <= v2 && v2 <= hi) {
        B.out[k] = v2;
        return 2;
    }
    if (v2 > hi) {
        if (strictly(hi)) {
            B.out[k] = hi;
            return 3;
        }
        v = 0.9 * maxLower + 0.1 * minUpper;
        if (strictly(v)) {
            B.out[k] = v;
            return 5;
        }
        B.out[k] = 0.9 * lk + 0.1 * uk;
        return 6;
    }
    if (strictly(lo)) {
        B.out[k] = lo;
        return 7;
    }
    v = 0.9 * minUpper + 0.1 * maxLower;
    if (strictly(v)) {
        B.out[k] = v;
        return 8;
    }
    B.out[k] = 0.1 * lk + 0.9 * uk;
    return 9;
}

constexpr int32_t kMaxChords = 28;

int chordSubdivide(const Band& B) {
    const double* x = B.x;
    const int32_t n = B.n;
    double gap;
    const int32_t g = bandMinGap(B.lo, B.hi, n, &gap);
    if (!(gap >= 0.0)) return -3;
    IvStack stack;
    if (ivStackCreate(&stack, 10) < 0) return -1;
    struct Guard {
        IvStack* s;
        ~Guard() { ivStackFree(s); }
    } guard{&stack};

    if (g >= 3 && g <= n - 4) {
        B.out[g] = (B.lo[g] + B.hi[g]) / 2.0;
        if (ivStackPush(&stack, g, n - g) < 0 || ivStackPush(&stack, 0, g + 1) < 0) return -1;
    } else if (ivStackPush(&stack, 0, n) < 0) {
        return -1;
    }
    std::vector<int32_t> breaks;
    int32_t lastEnd = 0;
    while (!ivStackEmpty(&stack)) {
        int32_t s, c;
        if (ivStackPop(&stack, &s, &c) < 0 || c < 2) break;
        const int32_t e = s + c - 1;
        B.line(s, B.out[s], e, B.out[e], s, e);
        if (B.inside(s, e)) {
            // Stop at the first chord beyond the limit instead of collecting them all.
            if (static_cast<int32_t>(breaks.size()) >= kMaxChords) return 0;
            breaks.push_back(s);
            lastEnd = e;
            continue;
        }
        // Two samples that leave the band cannot be split any further.
        if (c < 3) return 0;
        int32_t k = s + fitFindInterval(x + s, c, (x[s] + x[e]) / 2.0) + 1;
        if (k - s < 2 || e - k < 2) k = (s + e) / 2;
        chordSplitValue(B, s, e, k);
        if (ivStackPush(&stack, k, e - k + 1) < 0 || ivStackPush(&stack, s, k - s + 1) < 0) return -1;
    }
    breaks.push_back(lastEnd);
    for (size_t i = 1; i + 1 < breaks.size(); ++i)
        bandRoundCorner(x, B.lo, B.hi, B.out, n, breaks[i - 1], breaks[i], breaks[i + 1]);
    return B.insideAll() ? kBandChords : 0;
}

bool validArgs(const double* x, const double* lower, const double* upper, const double* out, int32_t n) {
    return x != nullptr && lower != nullptr && upper != nullptr && out != nullptr && n >= 2;
}

}  // namespace

int levelRunLeft(const double* lower, const double* upper, int32_t n, double v, int32_t* index) {
    *index = n - 1;
    for (int32_t i = 1; i < n; ++i) {
        if (!(lower[i] < v && v < upper[i])) {
            *index = i - 1;
            break;
        }
    }
    return 1;
}

int levelRunRight(const double* lower, const double* upper, int32_t n, double v, int32_t* index) {
    *index = 0;
    for (int32_t i = n - 2; i >= 0; --i) {
        if (!(lower[i] < v && v < upper[i])) {
            *index = i + 1;
            break;
        }
    }
    return 1;
}

int levelReachLeft(const double* x, const double* lower, const double* upper, int32_t n, double* level,
                   double* reach, int32_t* index, int32_t k) {
    *level = 0.0;
    *reach = 0.0;
    *index = 0;
    bool any = false;
    for (int32_t j = 1; j < k; ++j) {
        const double v = lower[0] + j * (upper[0] - lower[0]) / k;
        int32_t i;
        levelRunLeft(lower, upper, n, v, &i);
        if (!any || x[i] > *reach) {
            *level = v;
            *reach = x[i];
            *index = i;
            any = true;
        }
    }
    return 1;
}

int levelReachRight(const double* x, const double* lower, const double* upper, int32_t n, double* level,
                    double* reach, int32_t* index, int32_t k) {
    *level = 0.0;
    *reach = x[n - 1];
    *index = n - 1;
    bool any = false;
    for (int32_t j = 1; j < k; ++j) {
        const double v = lower[n - 1] + j * (upper[n - 1] - lower[n - 1]) / k;
        int32_t i;
        levelRunRight(lower, upper, n, v, &i);
        if (!any || x[i] < *reach) {
            *level = v;
            *reach = x[i];
            *index = i;
            any = true;
        }
    }
    return 1;
}

int insideRun(const double* lower, const double* upper, const double* y, int32_t n, int32_t k, int32_t* first,
              int32_t* last) {
    auto in = [&](int32_t i) { return lower[i] < y[i] && y[i] < upper[i]; };
    if (k < 0 || k >= n || !in(k)) {
        *first = k + 1;
        *last = k - 1;
        return 0;
    }
    int32_t a = k, b = k;
    while (a > 0 && in(a - 1)) --a;
    while (b < n - 1 && in(b + 1)) ++b;
    *first = a;
    *last = b;
    return 1;
}

int bandBezierCorner(const double* x, const double* lower, const double* upper, double* y, int32_t n,
                     int32_t a, int32_t b, int32_t c, double t, double* scratch) {
    if (!(0 <= a && a < b && b < c && c < n) || scratch == nullptr) return 0;
    const int32_t i1 = fitFindInterval(x, n, t * x[a] + (1.0 - t) * x[b]);
    int32_t i2 = fitFindInterval(x, n, (1.0 - t) * x[b] + t * x[c]);
    if (i2 < c) ++i2;
    if (!(i1 < b && b < i2)) return 0;
    const Vec2 p0{x[i1], y[i1]}, p1{x[b], y[b]}, p2{x[i2], y[i2]};
    const int32_t cnt = i2 - i1 + 1;
    quadBezierSample(x + i1, cnt, &p0, &p1, &p2, scratch + i1);
    if (!bandContains(lower + i1, upper + i1, scratch + i1, cnt)) return 0;
    for (int32_t i = i1; i <= i2; ++i) y[i] = scratch[i];
    return 1;
}

int bandRoundCorner(const double* x, const double* lower, const double* upper, double* y, int32_t n,
                    int32_t a, int32_t b, int32_t c) {
    if (!(0 <= a && a < b && b < c && c < n)) return 0;
    double* scratch = static_cast<double*>(std::malloc(static_cast<size_t>(n) * sizeof(double)));
    if (scratch == nullptr) return 0;
    int rc = 0;
    for (double t : {0.5, 0.4, 0.3, 0.2, 0.1}) {
        if (bandBezierCorner(x, lower, upper, y, n, a, b, c, t, scratch)) {
            rc = 1;
            break;
        }
    }
    std::free(scratch);
    return rc;
}

int bandPlateauJoin(const double* x, const double* lower, const double* upper, double* out, int32_t n,
                    int32_t gapIndex) {
    if (!validArgs(x, lower, upper, out, n)) return 0;
    const Band B{x, lower, upper, out, n};
    double levL, reachL, levR, reachR;
    int32_t iL, iR;
    levelReachLeft(x, lower, upper, n, &levL, &reachL, &iL, 20);
    levelReachRight(x, lower, upper, n, &levR, &reachR, &iR, 20);
    B.fill(0, iL, levL);
    B.fill(iR, n, levR);
    if (iL > iR) {
        // Overlapping plateaus meet where their reaches average.
        const int32_t k = fitFindInterval(x, n, (reachL + reachR) / 2.0);
        iL = k - 1;
        iR = k + 1;
        if (iL < 0 || iR > n - 1) return 0;
    }
    Plateau P{B, levL, levR};
    int32_t i1 = 0, i2 = 0;
    if (!plateauLink(P, iL, iR, &i1, &i2)) {
        if (!plateauLinkMid(P, gapIndex, &i1, &i2)) return 0;
        P.levL = out[i1];
        P.levR = out[i2];
    }
    if (i2 <= i1) return 0;

    // The step in the local abscissa x - x[i1]: no cancellation far from the origin, so the
    // plateau ends are met exactly.
    const Vec2 a{0.0, P.levL}, b{x[i2] - x[i1], P.levR};
    double h[4];
    if (cubicHermite(&a, 0.0, &b, 0.0, h) > 0) {
        for (int32_t i = i1; i < i2; ++i) {
            const double t = x[i] - x[i1];
            out[i] = ((h[0] * t + h[1]) * t + h[2]) * t + h[3];
        }
        if (B.insideAll()) return kBandPlateau;
    }

    // Wide step: the same rise spread over three times the gap.
    const double d = x[i2] - x[i1];
    const int32_t k1 = fitFindInterval(x, n, x[i1] - d);
    const int32_t k2 = fitFindInterval(x, n, x[i2] + d);
    for (int32_t i = k1; i < k2; ++i) {
        const double u = 2.0 * (x[i] - (x[i1] - d)) / (3.0 * d) - 1.0;
        const double s = -0.5 * u * u * u + 1.5 * u + 1.0;
        out[i] = P.levL + (P.levR - P.levL) * s / 2.0;
    }
    B.fill(0, k1, P.levL);
    B.fill(k2, n, P.levR);
    return B.insideAll() ? kBandPlateauWide : 0;
}

int bandTautPath(const double* x, const double* lower, const double* upper, double* out, int32_t n) {
    if (!validArgs(x, lower, upper, out, n)) return 0;
    double levL, levR, reach;
    int32_t idx;
    levelReachLeft(x, lower, upper, n, &levL, &reach, &idx, 20);
    levelReachRight(x, lower, upper, n, &levR, &reach, &idx, 20);
    return tautPathWalk(Band{x, lower, upper, out, n}, levL, levR);
}

int bandChordSplit(const double* x, const double* lower, const double* upper, double* out, int32_t n) {
    if (!validArgs(x, lower, upper, out, n)) return 0;
    double levL, levR, reach;
    int32_t idx;
    levelReachLeft(x, lower, upper, n, &levL, &reach, &idx, 10);
    levelReachRight(x, lower, upper, n, &levR, &reach, &idx, 10);
    out[0] = levL;
    out[n - 1] = levR;
    return chordSubdivide(Band{x, lower, upper, out, n});
}
