// Band tests, convex envelopes of sampled bounds and small array helpers of the band fit.
#include "geometry/bandhelp.h"

#include <cmath>
#include <cstdlib>

namespace {

// The walk of both hulls: from each taken point, the later point of the extreme slope; `sign`
// +1 takes the largest slope (hull above), -1 the smallest (hull below). A start of +-1000 keeps
// near-vertical steps out, and only a strictly better slope replaces the best, so of several
// points on one line the nearest is taken; "better" beyond rounding noise, so that sampled
// straight bounds keep every sample as a vertex and their envelope reproduces them exactly.
int hullWalk(const Vec2* pts, int32_t n, double sign, Vec2** hull, int32_t* count) {
    if (hull == nullptr || count == nullptr) return -1;
    *hull = nullptr;
    *count = 0;
    if (pts == nullptr || n < 2) return 0;
    Vec2* h = static_cast<Vec2*>(std::malloc(static_cast<size_t>(n) * sizeof(Vec2)));
    if (h == nullptr) return -1;
    int32_t m = 0, i = 0;
    h[m++] = pts[0];
    while (i < n - 1) {
        double best = -1000.0;
        int32_t next = -1;
        for (int32_t j = i + 1; j < n; ++j) {
            const double dx = pts[j].x - pts[i].x;
            if (!(std::fabs(dx) >= 1e-8)) continue;
            const double s = sign * (pts[j].y - pts[i].y) / dx;
            if (s > best + 1e-12 * (1.0 + std::fabs(best))) {
                best = s;
                next = j;
            }
        }
        if (next < 0) break;
        h[m++] = pts[next];
        i = next;
    }
    *hull = h;
    *count = m;
    return 1;
}

using HullFn = int (*)(const Vec2*, int32_t, Vec2**, int32_t*);

// Hull of pts[from..to] sampled at x[from..to] into out[from..to].
int hullPart(HullFn fn, const double* x, const Vec2* pts, int32_t from, int32_t to, double* out) {
    Vec2* hull = nullptr;
    int32_t cnt = 0;
    const int rc = fn(pts + from, to - from + 1, &hull, &cnt);
    if (rc < 0) return -1;
    const int s = rc > 0 ? polylineSampleAt(x + from, to - from + 1, hull, cnt, out + from) : 0;
    std::free(hull);
    return s;
}

int envelopeSplit(HullFn fn, const double* x, const Vec2* pts, int32_t n, int32_t k, double* out) {
    if (x == nullptr || pts == nullptr || out == nullptr || n < 2 || k < 0 || k > n - 1) return 0;
    if (k == 0 || k == n - 1) return hullPart(fn, x, pts, 0, n - 1, out);
    const int a = hullPart(fn, x, pts, 0, k, out);
    if (a <= 0) return a;
    return hullPart(fn, x, pts, k, n - 1, out);  // written second: at k this part's value stands
}

}  // namespace

int bandAtLeast(const double* a, const double* b, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        if (!(b[i] >= a[i])) return 0;
    }
    return 1;
}

int bandContains(const double* lower, const double* upper, const double* y, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        if (!(lower[i] <= y[i] && y[i] <= upper[i])) return 0;
    }
    return 1;
}

int32_t bandMinGap(const double* a, const double* b, int32_t n, double* gap) {
    if (n < 1) {
        if (gap) *gap = 0.0;
        return -1;
    }
    int32_t k = 0;
    double g = b[0] - a[0];
    for (int32_t i = 1; i < n; ++i) {
        const double d = b[i] - a[i];
        // Equal gaps up to rounding are ties (the first stays); a NaN gap wins, so that a broken
        // band never looks open.
        const double noise = 1e-12 * (1.0 + std::fabs(a[i]) + std::fabs(b[i]));
        if (d < g - noise || (std::isnan(d) && !std::isnan(g))) {
            g = d;
            k = i;
        }
    }
    if (gap) *gap = g;
    return k;
}

int32_t fitArrayMinIndex(const double* a, int32_t n, double* value) {
    if (n < 1) {
        if (value) *value = 0.0;
        return -1;
    }
    int32_t k = 0;
    for (int32_t i = 1; i < n; ++i) {
        if (a[i] < a[k]) k = i;
    }
    if (value) *value = a[k];
    return k;
}

int32_t fitArrayMaxIndex(const double* a, int32_t n, double* value) {
    if (n < 1) {
        if (value) *value = 0.0;
        return -1;
    }
    int32_t k = 0;
    for (int32_t i = 1; i < n; ++i) {
        if (a[i] > a[k]) k = i;
    }
    if (value) *value = a[k];
    return k;
}

int fitArrayFill(double* out, int32_t n, double v) {
    for (int32_t i = 0; i < n; ++i) out[i] = v;
    return 1;
}

int bandFillLevel(const double*, int32_t n, double lo, double hi, double f, double* out) {
    return fitArrayFill(out, n, lo + (hi - lo) * f);
}

int fitArrayCopy(const double* src, int32_t n, double* dst) {
    for (int32_t i = 0; i < n; ++i) dst[i] = src[i];
    return 1;
}

int32_t fitFindInterval(const double* x, int32_t n, double v) {
    if (n < 2 || !(v > x[0])) return 0;
    if (v >= x[n - 1]) return n - 1;
    int32_t lo = 0, hi = n - 1, mid = (lo + hi) / 2;
    while (lo < mid) {
        if (v <= x[mid]) {
            hi = mid;
        } else {
            lo = mid;
        }
        mid = (lo + hi) / 2;
    }
    return lo;
}

int bandPoints2D(Vec2** pts, int32_t n, const double* x, const double* y) {
    if (pts == nullptr) return -1;
    *pts = nullptr;
    if (n < 2 || x == nullptr || y == nullptr) return -1;
    Vec2* p = static_cast<Vec2*>(std::malloc(static_cast<size_t>(n) * sizeof(Vec2)));
    if (p == nullptr) return -1;
    for (int32_t i = 0; i < n; ++i) p[i] = Vec2{x[i], y[i]};
    *pts = p;
    return 1;
}

int bandMidPoints(const double* x, const double* a, const double* b, TolPoint** pts, int32_t n) {
    if (pts == nullptr) return -1;
    *pts = nullptr;
    if (n < 1 || x == nullptr || a == nullptr || b == nullptr) return -1;
    TolPoint* p = static_cast<TolPoint*>(std::malloc(static_cast<size_t>(n) * sizeof(TolPoint)));
    if (p == nullptr) return -1;
    for (int32_t i = 0; i < n; ++i) p[i] = TolPoint{x[i], (a[i] + b[i]) / 2.0, (b[i] - a[i]) / 2.0};
    *pts = p;
    return 1;
}

int bandClearance(const double* lower, const double* upper, TolPoint* pts, int32_t n) {
    for (int32_t i = 0; i < n; ++i) pts[i].w = std::fmin(pts[i].y - lower[i], upper[i] - pts[i].y);
    return 1;
}

int hullAbove(const Vec2* pts, int32_t n, Vec2** hull, int32_t* count) {
    return hullWalk(pts, n, 1.0, hull, count);
}

int hullBelow(const Vec2* pts, int32_t n, Vec2** hull, int32_t* count) {
    return hullWalk(pts, n, -1.0, hull, count);
}

int polylineSampleAt(const double* x, int32_t n, const Vec2* poly, int32_t polyCount, double* out) {
    if (x == nullptr || poly == nullptr || out == nullptr || n < 2 || polyCount < 1) return 0;
    out[0] = poly[0].y;
    if (polyCount == 1) {
        for (int32_t i = 1; i < n; ++i) out[i] = poly[0].y;
        return 1;
    }
    int32_t k = 0;  // segment from poly[k] to poly[k+1]
    for (int32_t i = 1; i < n; ++i) {
        while (k < polyCount - 2 && poly[k + 1].x < x[i]) ++k;
        out[i] =
            poly[k].y + (x[i] - poly[k].x) * fitSlope2(poly[k].x, poly[k].y, poly[k + 1].x, poly[k + 1].y);
    }
    return 1;
}

int envelopeLowerSplit(const double* x, const Vec2* pts, int32_t n, int32_t k, double* out) {
    return envelopeSplit(hullAbove, x, pts, n, k, out);
}

int envelopeUpperSplit(const double* x, const Vec2* pts, int32_t n, int32_t k, double* out) {
    return envelopeSplit(hullBelow, x, pts, n, k, out);
}

int evalLineAt(const double* x, int32_t n, double m, double c, double* out) {
    for (int32_t i = 0; i < n; ++i) out[i] = m * x[i] + c;
    return 1;
}

int evalCubicAt(const double* x, int32_t n, double a, double b, double c, double d, double* out) {
    for (int32_t i = 0; i < n; ++i) out[i] = ((a * x[i] + b) * x[i] + c) * x[i] + d;
    return 1;
}

int32_t lineAboveCount(const double* x, const double* lo, int32_t n, double m, double c) {
    for (int32_t i = 0; i < n; ++i) {
        if (m * x[i] + c < lo[i]) return i;
    }
    return n;
}

int32_t lineBelowCount(const double* x, const double* hi, int32_t n, double m, double c) {
    for (int32_t i = 0; i < n; ++i) {
        if (m * x[i] + c > hi[i]) return i;
    }
    return n;
}

int fitValueBetween(double v, double a, double b) {
    return (a <= v && v <= b) || (b <= v && v <= a) ? 1 : 0;
}

double fitSlope2(double x1, double y1, double x2, double y2) {
    if (x2 == x1) return 0.0;
    return (y2 - y1) / (x2 - x1);
}

int points2DY(const Vec2* pts, int32_t n, double* out) {
    for (int32_t i = 0; i < n; ++i) out[i] = pts[i].y;
    return 1;
}
