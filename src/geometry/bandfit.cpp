// The band-constrained profile fit: the candidate cascade, the polynomial candidates and the
// smoothing of the band's midline.
#include "geometry/bandfit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "geometry/bandhelp.h"
#include "geometry/polyapprox.h"

namespace {

constexpr double kRadToDeg = 57.29577952383886;
constexpr double kMaxLineSlope = 0.36;  // end slope of an accepted line, after kRadToDeg
constexpr double kMaxTurnDeg = 30.0;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Buf = std::unique_ptr<T, FreeDeleter>;

template <typename T>
T* allocArray(int32_t n) {
    return static_cast<T*>(std::malloc(static_cast<size_t>(n > 0 ? n : 1) * sizeof(T)));
}

// Accepts a fit's n points as out when they lie inside the band.
using PolyFit = int (*)(const TolPoint*, int32_t, int32_t, int32_t, BandPoly*, Vec2**, int32_t*);

int tryPolyFit(PolyFit fit, int code, const TolPoint* midPts, const double* lower, const double* upper,
               int32_t gapIndex, int32_t upperMinIndex, double* out, int32_t n, BandPoly* record) {
    Vec2* res = nullptr;
    int32_t count = 0;
    const int rc = fit(midPts, n, gapIndex, upperMinIndex, record, &res, &count);
    Buf<Vec2> guard(res);
    if (rc < 0 || count != n || res == nullptr) return 0;
    points2DY(res, n, out);
    return bandContains(lower, upper, out, n) ? code : 0;
}

// y of the line through (x[a], ya) and (x[b], yb) at xv.
double lineAt(double xa, double ya, double xb, double yb, double xv) {
    return ya + (yb - ya) * (xv - xa) / (xb - xa);
}

int32_t reversalCount(const TolPoint* pts, int32_t n) {
    Circle2D* radii = nullptr;
    if (polyRadii2D(pts, n, &radii) < 0) return -1;
    double sum;
    const int32_t count = polyReversalCount2D(pts, n, radii, &sum);
    std::free(radii);
    return count;
}

}  // namespace

int bandStraightLine(const double* x, const double* lo, const double* hi, double* out, int32_t n, int32_t k) {
    if (n < 4) return 0;
    k = std::min(k, n - 3);
    k = std::max(k, 3);
    // With four samples the neighbour k+1 would lie past the end.
    if (k + 1 > n - 1) return 0;
    const double sL1 = fitSlope2(x[k - 1], lo[k - 1], x[k], lo[k]);
    const double sL2 = fitSlope2(x[k], lo[k], x[k + 1], lo[k + 1]);
    const double sU1 = fitSlope2(x[k - 1], hi[k - 1], x[k], hi[k]);
    const double sU2 = fitSlope2(x[k], hi[k], x[k + 1], hi[k + 1]);
    const double mL = (sL1 + sL2) / 2.0, mU = (sU1 + sU2) / 2.0;
    double m;
    if (fitValueBetween(mU, sL1, sL2)) {
        m = mU;
    } else if (fitValueBetween(mL, sU1, sU2)) {
        m = mL;
    } else {
        m = (mL + mU) / 2.0;
    }
    const double c = (hi[k] + lo[k]) / 2.0 - m * x[k];
    for (int32_t i = 0; i < n; ++i) {
        const double y = m * x[i] + c;
        if (!(y >= lo[i] && y <= hi[i])) return 0;
    }
    evalLineAt(x, n, m, c, out);  // out may be lo: written only after the test
    return 1;
}

int bandSmoothPass(const double* lower, const double* upper, TolPoint* pts, int32_t n) {
    auto relax = [&](int32_t i) {
        const double v = (pts[i - 1].y + pts[i + 1].y) / 2.0;
        if (lower[i] < v && v < upper[i]) pts[i].y = v;
    };
    for (int32_t i = 1; i < n - 2; i += 2) relax(i);
    for (int32_t i = 2; i < n - 2; i += 2) relax(i);
    return 1;
}

int bandEndFix(const double* x, const double* lower, const double* upper, TolPoint* pts, int32_t n) {
    if (n < 3) return 0;
    std::vector<int> cls(static_cast<size_t>(n - 1), 0);
    for (int32_t i = 0; i + 1 < n; ++i) {
        const double dx = x[i + 1] - x[i];
        if (!(dx >= 1e-9)) continue;
        const double s = (pts[i + 1].y - pts[i].y) / dx;
        cls[i] = s > 10.0 ? 1 : (s < -10.0 ? -1 : 0);
    }
    // Runs are closed by the first segment of another class; one still open at the end does not
    // count, nor does segment 0 start one.
    int32_t bestStart = -1, bestEnd = -1;
    int cur = 0;
    int32_t start = 0;
    for (int32_t i = 1; i < n - 1; ++i) {
        if (cls[i] == cur) continue;
        if (cur != 0 && (bestStart < 0 || i - start > bestEnd - bestStart)) {
            bestStart = start;
            bestEnd = i;
        }
        cur = cls[i];
        start = i;
    }
    if (bestStart < 0 || bestEnd - bestStart < 11) return 0;
    const int32_t s0 = bestStart, e0 = bestEnd;

    std::vector<double> y(static_cast<size_t>(n)), copy(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) y[i] = pts[i].y;
    auto stretchInside = [&](int32_t from, int32_t to) {
        return to < from || bandContains(lower + from, upper + from, copy.data() + from, to - from + 1);
    };
    auto commit = [&]() {
        if (!bandContains(lower, upper, copy.data(), n)) return 0;
        for (int32_t i = 0; i < n; ++i) pts[i].y = copy[i];
        return 1;
    };

    // Left repair: a straight approach to the run's end from as far left as the band allows.
    copy = y;
    int32_t k = (2 * s0) / 3 - 1;
    for (; k >= 0; --k) {
        for (int32_t i = k; i < e0; ++i) copy[i] = lineAt(x[k], y[k], x[e0], y[e0], x[i]);
        if (!stretchInside(k, e0 - 1)) break;
    }
    {
        const int32_t a = k + 1;
        copy = y;
        for (int32_t i = a; i < e0; ++i) copy[i] = lineAt(x[a], y[a], x[e0], y[e0], x[i]);
        if (commit()) return 1;
    }

    // Right repair: a straight departure from the run's start as far right as the band allows.
    copy = y;
    k = e0 + (n - e0 - 1) / 3 + 1;
    for (; k <= n - 1; ++k) {
        for (int32_t i = s0; i < k; ++i) copy[i] = lineAt(x[s0], y[s0], x[k], y[k], x[i]);
        if (!stretchInside(s0, k - 1)) break;
    }
    {
        const int32_t b = k - 1;
        if (b <= s0) return 0;
        copy = y;
        for (int32_t i = s0; i < b; ++i) copy[i] = lineAt(x[s0], y[s0], x[b], y[b], x[i]);
        return commit();
    }
}

int bandSmooth(const double* x, const double* lower, const double* upper, TolPoint* pts, int32_t n,
               int32_t passes, int endFix) {
    for (int32_t p = 0; p < passes; ++p) bandSmoothPass(lower, upper, pts, n);
    if (endFix) bandEndFix(x, lower, upper, pts, n);
    bandClearance(lower, upper, pts, n);
    return 1;
}

int32_t bandSmoothSettle(const double* x, const double* lower, const double* upper, TolPoint* pts, int32_t n,
                         int32_t passes, int endFix) {
    int32_t prev = reversalCount(pts, n);
    int32_t count = prev;
    for (int rep = 0; rep < 10; ++rep) {
        bandSmooth(x, lower, upper, pts, n, passes, endFix);
        count = reversalCount(pts, n);
        if (count == prev) break;
        prev = count;
    }
    return count;
}

int bandCurveOk(const double* x, const double* lower, const double* upper, const double* y, int32_t n) {
    if (n < 3 || !bandContains(lower, upper, y, n)) return 0;
    double angle = 0.0;
    polyMaxTurn2D(x, y, n, &angle);
    return angle * 57.2957795130823 <= kMaxTurnDeg ? 1 : 0;
}

int bandTryApprox(const TolPoint* midPts, const double* x, const double* lower, const double* upper,
                  int32_t index, double* out, int32_t n) {
    Vec2* res = nullptr;
    int32_t count = 0;
    const int rc = approximatePolyline2D(midPts, n, index, 1000, 1, 0.01, &res, &count);
    Buf<Vec2> guard(res);
    if (rc < 0 || count != n || res == nullptr) return 0;
    points2DY(res, n, out);
    return bandCurveOk(x, lower, upper, out, n) ? rc : 0;
}

int bandParabolaFit(const TolPoint* pts, int32_t n, int32_t gapIndex, int32_t upperMinIndex, BandPoly* record,
                    Vec2** result, int32_t* count) {
    if (result == nullptr || count == nullptr) return -1;
    *result = nullptr;
    *count = 0;
    if (pts == nullptr || n < 4) return -1;
    std::vector<Vec2> P(static_cast<size_t>(n));
    std::vector<double> w(static_cast<size_t>(n));
    splitPoints3(pts, n, P.data(), w.data());
    double a = 0.0, b = 0.0, c = 0.0;
    bool ok = false;
    const bool inRange = gapIndex >= 0 && gapIndex < n && upperMinIndex >= 0 && upperMinIndex < n;
    if (inRange) {
        const Vec2 raised{P[upperMinIndex].x, P[upperMinIndex].y + 0.75 * w[upperMinIndex]};
        const bool upperRight = upperMinIndex >= gapIndex;
        const Vec2 p0 = upperRight ? P[0] : raised;
        const Vec2 p2 = upperRight ? raised : P[n - 1];
        ok = parabolaThrough3(&p0, &P[gapIndex], &p2, &a, &b, &c) > 0 &&
             parabolaWithinTol(P.data(), n, w.data(), a, b, c);
    }
    if (!ok)
        ok = parabolaEnds(P.data(), n, gapIndex, &a, &b, &c) > 0 &&
             parabolaWithinTol(P.data(), n, w.data(), a, b, c);
    if (!ok)
        ok = parabolaLsqThrough(P.data(), n, gapIndex, &a, &b, &c) > 0 &&
             parabolaWithinTol(P.data(), n, w.data(), a, b, c);
    if (!ok) return -1;
    Vec2* res = allocArray<Vec2>(n);
    if (res == nullptr) return -1;
    evalParabola2D(P.data(), n, a, b, c, res);
    if (record) *record = BandPoly{{c, b, a, 0.0}, 3};
    *result = res;
    *count = n;
    return 0;
}

int bandCubicFit(const TolPoint* pts, int32_t n, int32_t gapIndex, int32_t upperMinIndex, BandPoly* record,
                 Vec2** result, int32_t* count) {
    if (result == nullptr || count == nullptr) return -1;
    *result = nullptr;
    *count = 0;
    if (pts == nullptr || n < 4) return -1;
    std::vector<Vec2> P(static_cast<size_t>(n));
    std::vector<double> w(static_cast<size_t>(n));
    splitPoints3(pts, n, P.data(), w.data());
    const Vec2 F = P[0];
    Vec2 E = P[n - 1];
    double coef[4];
    bool ok = false;

    int32_t i1 = std::min(gapIndex, upperMinIndex), i2 = std::max(gapIndex, upperMinIndex);
    if (i1 == i2) {
        i1 = gapIndex - 1;
        i2 = upperMinIndex + 1;
    }
    // Anchors outside the samples or on one abscissa give no slope: skip these candidates.
    if (i1 >= 0 && i2 <= n - 1 && P[i2].x != P[i1].x) {
        Vec2 A = P[i1], B = P[i2];
        if (upperMinIndex < gapIndex) {
            A.y += 0.75 * w[i1];
        } else {
            B.y += 0.75 * w[i2];
        }
        const double s = (B.y - A.y) / (B.x - A.x);
        const double predicted = A.y + s * (E.x - A.x);
        if (std::fabs(predicted - E.y) < w[n - 1]) E.y = (E.y + predicted) / 2.0;
        for (int k = 0; k <= 4 && !ok; ++k) {
            const double slope = s - k * (s - 1.0) * 0.1;
            ok = cubicThrough3Slope(&F, &B, slope, &E, coef) > 0 &&
                 cubicWithinTol(P.data(), n, w.data(), coef);
        }
    }
    if (!ok) {
        const int32_t m = fitAnchorIndex(n, gapIndex);
        if (m - 2 >= 0 && m + 2 <= n - 1)
            ok = cubicThrough4(&F, &P[m - 2], &P[m + 2], &E, coef) > 0 &&
                 cubicWithinTol(P.data(), n, w.data(), coef);
    }
    if (!ok)
        ok = cubicLsqThrough(P.data(), n, gapIndex, coef) > 0 && cubicWithinTol(P.data(), n, w.data(), coef);
    if (!ok) return -1;
    Vec2* res = allocArray<Vec2>(n);
    if (res == nullptr) return -1;
    evalCubic2D(P.data(), n, coef, res);
    if (record) *record = BandPoly{{coef[3], coef[2], coef[1], coef[0]}, 4};
    *result = res;
    *count = n;
    return 0;
}

int bandTryPolynomial(const TolPoint* midPts, const double* x, const double* lower, const double* upper,
                      int32_t gapIndex, int32_t upperMinIndex, double* out, int32_t n, BandPoly* record) {
    (void)x;
    const int rc = tryPolyFit(bandParabolaFit, kBandFitParabola, midPts, lower, upper, gapIndex,
                              upperMinIndex, out, n, record);
    if (rc > 0) return rc;
    return tryPolyFit(bandCubicFit, kBandFitCubic, midPts, lower, upper, gapIndex, upperMinIndex, out, n,
                      record);
}

int16_t bandFit(const double* x, const double* lower, const double* upper, double* out, int32_t n) {
    if (n < 2) return kBandFitNone;
    return bandFitDrive(x, lower, upper, out, n);
}

int16_t bandFitDrive(const double* x, const double* lower, const double* upper, double* out, int32_t n) {
    if (x == nullptr || lower == nullptr || upper == nullptr || out == nullptr || n < 2)
        return kBandFitInverted;
    for (int32_t i = 0; i < n; ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(lower[i]) || !std::isfinite(upper[i]))
            return kBandFitInverted;
        if (i > 0 && !(x[i] > x[i - 1])) return kBandFitInverted;
    }
    // 1. The narrowest place; an inverted band is refused before anything is written.
    double minGap;
    int32_t gapIndex = bandMinGap(lower, upper, n, &minGap);
    if (minGap < 0.0) return kBandFitInverted;
    Vec2* lowerRaw = nullptr;
    Vec2* upperRaw = nullptr;
    bandPoints2D(&lowerRaw, n, x, lower);
    bandPoints2D(&upperRaw, n, x, upper);
    Buf<Vec2> lowerPts(lowerRaw), upperPts(upperRaw);
    Buf<double> U(allocArray<double>(n)), L2(allocArray<double>(n));
    if (!lowerPts || !upperPts || !U || !L2) return kBandFitNoMemory;

    // 2. The ends start at the band's middle.
    out[0] = (lower[0] + upper[0]) / 2.0;
    out[n - 1] = (lower[n - 1] + upper[n - 1]) / 2.0;

    // 3. A level fits when every lower bound lies below every upper bound.
    double maxLower, minUpper;
    fitArrayMaxIndex(lower, n, &maxLower);
    const int32_t upperMinIndex = fitArrayMinIndex(upper, n, &minUpper);
    if (maxLower < minUpper) {
        bandFillLevel(x, n, maxLower, minUpper, 0.3, out);
        return kBandFitLine;
    }

    // 4. A nearly level line between the convex envelopes of the bounds.
    {
        Vec2* hull = nullptr;
        int32_t cnt = 0;
        if (hullAbove(lowerPts.get(), n, &hull, &cnt) < 0) return kBandFitNoMemory;
        polylineSampleAt(x, n, hull, cnt, out);
        std::free(hull);
        hull = nullptr;
        if (hullBelow(upperPts.get(), n, &hull, &cnt) < 0) return kBandFitNoMemory;
        polylineSampleAt(x, n, hull, cnt, U.get());
        std::free(hull);
    }
    if (bandAtLeast(out, U.get(), n)) {
        double g;
        gapIndex = bandMinGap(out, U.get(), n, &g);
        if (bandStraightLine(x, out, U.get(), out, n, gapIndex) && bandContains(lower, upper, out, n)) {
            const double s = (out[n - 1] - out[0]) * kRadToDeg / (x[n - 1] - x[0]);
            if (s >= -kMaxLineSlope && s <= kMaxLineSlope) return kBandFitLine;
        }
    }

    // 5. Polynomials through the smoothed midline.
    TolPoint* midRaw = nullptr;
    if (bandMidPoints(x, lower, upper, &midRaw, n) < 0) return kBandFitNoMemory;
    Buf<TolPoint> mid(midRaw);
    bandSmoothSettle(x, lower, upper, mid.get(), n, 10, 1);
    BandPoly record{};
    int rc = bandTryPolynomial(mid.get(), x, lower, upper, gapIndex, upperMinIndex, out, n, &record);
    if (rc > 0) return static_cast<int16_t>(rc);

    // 6.-8. The constructive fallbacks.
    if ((rc = bandPlateauJoin(x, lower, upper, out, n, gapIndex)) > 0) return static_cast<int16_t>(rc);
    if (bandTautPath(x, lower, upper, out, n) > 0) return kBandTaut;
    if (bandChordSplit(x, lower, upper, out, n) > 0) return kBandChords;

    // 9. Envelopes split at the narrowest place.
    if (envelopeLowerSplit(x, lowerPts.get(), n, gapIndex, L2.get()) < 0 ||
        envelopeUpperSplit(x, upperPts.get(), n, gapIndex, U.get()) < 0)
        return kBandFitNoMemory;
    const bool crossFree = bandAtLeast(L2.get(), U.get(), n) != 0;

    // Mid-band points built and smoothed on the pair (a, b).
    auto midOn = [&](const double* a, const double* b) {
        TolPoint* p = nullptr;
        if (bandMidPoints(x, a, b, &p, n) < 0) return false;
        mid.reset(p);
        bandSmooth(x, a, b, mid.get(), n, 10, 1);
        return true;
    };
    double g;
    // 10.
    if (crossFree) {
        if (!midOn(L2.get(), U.get())) return kBandFitNoMemory;
        const int32_t index = bandMinGap(L2.get(), U.get(), n, &g);
        rc = bandTryPolynomial(mid.get(), x, lower, upper, index, upperMinIndex, out, n, &record);
        if (rc > 0) return static_cast<int16_t>(rc);
    }
    // 11.
    double gA, gB;
    const int32_t iB = bandMinGap(L2.get(), upper, n, &gB);
    const int32_t iA = bandMinGap(lower, U.get(), n, &gA);
    if (gA <= gB && gB >= 0.0) {
        if (!midOn(L2.get(), upper)) return kBandFitNoMemory;
        if ((rc = bandTryApprox(mid.get(), x, lower, upper, iB, out, n)) > 0) return static_cast<int16_t>(rc);
    }
    if (gB <= gA && gA >= 0.0) {
        if (!midOn(lower, U.get())) return kBandFitNoMemory;
        if ((rc = bandTryApprox(mid.get(), x, lower, upper, iA, out, n)) > 0) return static_cast<int16_t>(rc);
    }
    // 12.
    if (crossFree) {
        gapIndex = bandMinGap(L2.get(), U.get(), n, &g);
        if (!midOn(L2.get(), U.get())) return kBandFitNoMemory;
        if ((rc = bandTryApprox(mid.get(), x, lower, upper, gapIndex, out, n)) > 0)
            return static_cast<int16_t>(rc);
    }
    // 13.
    if (!midOn(lower, upper)) return kBandFitNoMemory;
    if ((rc = bandTryApprox(mid.get(), x, lower, upper, gapIndex, out, n)) > 0)
        return static_cast<int16_t>(rc);

    // 14. The smoothed midline never leaves the band: smoothing only moves a point strictly
    // inside it and the end fix only writes stretches that stay inside.
    bandSmooth(x, lower, upper, mid.get(), n, 30, 0);
    for (int32_t i = 0; i < n; ++i) out[i] = mid.get()[i].y;
    return kBandFitMidline;
}
