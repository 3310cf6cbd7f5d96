// De Boor triangle evaluation of B-spline surfaces and the closest-point search built on it.
#include "surfaces/deboor.h"

#include <algorithm>
#include <cmath>

#include "KVWOG5/geocalc.h"
#include "kernel/base/abort.h"
#include "kernel/base/msg.h"

namespace {

constexpr int kWork = kDeBoorMaxOrder + 1;
constexpr int kTrace = 3;

bool isRational(const BsplSurface* s) {
    return s->rational || s->rational2;
}

bool usable(const BsplSurface* s) {
    if (s == nullptr || s->uOrder > kDeBoorMaxOrder || s->vOrder > kDeBoorMaxOrder) return false;
    if (s->uOrder < 2 || s->vOrder < 2 || s->uNum < s->uOrder || s->vNum < s->vOrder) return false;
    if (s->uKnots == nullptr || s->vKnots == nullptr || s->rows == nullptr || s->rows[0] == nullptr)
        return false;
    return !isRational(s) || (s->weights != nullptr && s->weights[0] != nullptr);
}

// The evaluator's own copy of a parameter: pulled inside the knot range, or wrapped by the period
// knots[num]. false for a parameter that is not finite or a period that is not positive.
bool wrapParam(double* t, const double* knots, int32_t num, int32_t periodic) {
    if (!std::isfinite(*t)) return false;
    if (periodic) {
        const double period = knots[num];
        if (!(period > 0.0) || !std::isfinite(period)) return false;
        if (*t < knots[0]) *t += std::ceil((knots[0] - *t) / period) * period;
        *t = std::fmod(*t, period);
        return true;
    }
    if (*t <= knots[0]) *t = knots[0] + 1e-8;
    if (*t >= knots[num]) *t = knots[num] - 1e-8;
    return true;
}

// Spans are kept inside order-1 .. num-1 whatever the knots hold, so that the triangle never
// reaches outside the control net.
int32_t clampSpan(int64_t span, int32_t order, int32_t num) {
    return static_cast<int32_t>(std::clamp<int64_t>(span, order - 1, num - 1));
}

// Points: the span whose knot interval holds t.
int32_t pointSpan(const double* knots, int32_t num, int32_t order, double t) {
    const double* hit = std::upper_bound(knots + order, knots + order + num, t);
    return clampSpan((hit - knots) - 1, order, num);
}

// Derivatives: a parameter within 1e-8 below an inner knot counts to the next span.
int32_t derivSpan(const double* knots, int32_t num, int32_t order, double t) {
    const double* hit = std::upper_bound(knots + order, knots + num, t + 1e-8);
    return clampSpan((hit - knots) - 1, order, num);
}

double getAlpha2(const double* knots, int32_t num, int32_t p, double t, int32_t i, int32_t r) {
    if (i < 0) return msgPrintf(kTrace, "*** F1 : get_alpha2", i), 0.0;
    if (p + i + 1 < r) return msgPrintf(kTrace, "*** F2 : get_alpha2", i), 0.0;
    if (i > num + p) return msgPrintf(kTrace, "*** F3 : get_alpha2", i), 0.0;
    const int32_t hi = i - r + 1 > num ? num + p - 1 : i + p + 1 - r;
    const double den = knots[hi] - knots[i];
    if (std::fabs(den) < 1e-8) return 0.0;
    return (t - knots[i]) / den;
}

// Element k holds the control value of index span - k; the value at t ends in element 0. Each
// element takes its neighbour's value of the previous level, so k runs upward.
void deBoorPoint(Vec3* d, int32_t p, const double* knots, int32_t num, double t, int32_t span) {
    for (int32_t r = 1; r <= p; ++r)
        for (int32_t k = 0; k <= p - r; ++k) {
            const double a = getAlpha2(knots, num, p, t, span - k, r), b = 1.0 - a;
            d[k] = {a * d[k].x + b * d[k + 1].x, a * d[k].y + b * d[k + 1].y, a * d[k].z + b * d[k + 1].z};
        }
}

void deBoorScalar(double* d, int32_t p, const double* knots, int32_t num, double t, int32_t span) {
    for (int32_t r = 1; r <= p; ++r)
        for (int32_t k = 0; k <= p - r; ++k) {
            const double a = getAlpha2(knots, num, p, t, span - k, r);
            d[k] = a * d[k] + (1.0 - a) * d[k + 1];
        }
}

// Cartesian points with weights; the weight at t ends in w[0]. alpha(r, k) gives the factor of
// level r and element k.
template <class AlphaOf>
void deBoorRationalBy(Vec3* d, double* w, int32_t p, AlphaOf alpha) {
    for (int32_t r = 1; r <= p; ++r)
        for (int32_t k = 0; k <= p - r; ++k) {
            const double a = alpha(r, k), b = 1.0 - a;
            const double wk = w[k], wn = w[k + 1], wr = a * wk + b * wn;
            if (std::fabs(wr) < 1e-5) {
                msgPrintf(kTrace, "De Boor Gewicht null!", 0);
                d[k] = {0.0, 0.0, 0.0};
            } else {
                const double fa = a * wk / wr, fb = b * wn / wr;
                d[k] = {fa * d[k].x + fb * d[k + 1].x, fa * d[k].y + fb * d[k + 1].y,
                        fa * d[k].z + fb * d[k + 1].z};
            }
            w[k] = wr;
        }
}

void deBoorRational(Vec3* d, double* w, int32_t p, const double* knots, int32_t num, double t, int32_t span) {
    deBoorRationalBy(d, w, p, [&](int32_t r, int32_t k) { return getAlpha2(knots, num, p, t, span - k, r); });
}

// The factors getAlpha2 gives a triangle of degree p at t in span, level r (1..p) and element k
// (0..p-r) at [r][k]: every row of a surface point runs the same triangle in v.
struct Alphas {
    double a[kWork][kWork];
};

// getAlpha2's factors for a span within p .. num - 1, where none of its index checks can fail and its
// upper index is i + p + 1 - r: the same difference, test and quotient.
template <int P>
void alphasFixed(Alphas* al, const double* knots, double t, int32_t span) {
#pragma GCC unroll 8
    for (int r = 1; r <= P; ++r)
#pragma GCC unroll 8
        for (int k = 0; k <= P - r; ++k) {
            const int32_t i = span - k;
            const double den = knots[i + P + 1 - r] - knots[i];
            al->a[r][k] = std::fabs(den) < 1e-8 ? 0.0 : (t - knots[i]) / den;
        }
}

void alphasOf(Alphas* al, int32_t p, const double* knots, int32_t num, double t, int32_t span) {
    if (span >= p && span <= num - 1) {
        switch (p) {
            case 1:
                return alphasFixed<1>(al, knots, t, span);
            case 2:
                return alphasFixed<2>(al, knots, t, span);
            case 3:
                return alphasFixed<3>(al, knots, t, span);
            default:
                break;
        }
    }
    for (int32_t r = 1; r <= p; ++r)
        for (int32_t k = 0; k <= p - r; ++k) al->a[r][k] = getAlpha2(knots, num, p, t, span - k, r);
}

// deBoorPoint with the factors given, on the points at(k) (k = 0..p), each coordinate in its own array:
// the same products. With the degree fixed the triangle lives in registers (in arrays the compiler
// paired neighbouring elements in loads that straddle the last level's stores).
template <int P, class At>
Vec3 deBoorFixed(At at, const Alphas& al) {
    double x[P + 1], y[P + 1], z[P + 1];
    for (int k = 0; k <= P; ++k) {
        const Vec3& c = at(k);
        x[k] = c.x, y[k] = c.y, z[k] = c.z;
    }
#pragma GCC unroll 8
    for (int r = 1; r <= P; ++r)
#pragma GCC unroll 8
        for (int k = 0; k <= P - r; ++k) {
            const double a = al.a[r][k], b = 1.0 - a;
            x[k] = a * x[k] + b * x[k + 1];
            y[k] = a * y[k] + b * y[k + 1];
            z[k] = a * z[k] + b * z[k + 1];
        }
    return {x[0], y[0], z[0]};
}

template <class At>
Vec3 deBoorWith(At at, int32_t p, const Alphas& al) {
    switch (p) {
        case 1:
            return deBoorFixed<1>(at, al);
        case 2:
            return deBoorFixed<2>(at, al);
        case 3:
            return deBoorFixed<3>(at, al);
        case 4:
            return deBoorFixed<4>(at, al);
        case 5:
            return deBoorFixed<5>(at, al);
        default:
            break;
    }
    Vec3 d[kWork];
    d[0] = {};  // the copy below overwrites it (p >= 0); the compiler cannot tell
    for (int32_t k = 0; k <= p; ++k) d[k] = at(k);
    for (int32_t r = 1; r <= p; ++r)
        for (int32_t k = 0; k <= p - r; ++k) {
            const double a = al.a[r][k], b = 1.0 - a;
            d[k] = {a * d[k].x + b * d[k + 1].x, a * d[k].y + b * d[k + 1].y, a * d[k].z + b * d[k + 1].z};
        }
    return d[0];
}

// The control points row[span - k] (k = 0..p).
Vec3 deBoorRowWith(const Vec3* row, int32_t span, int32_t p, const Alphas& al) {
    return deBoorWith([row, span](int32_t k) -> const Vec3& { return row[span - k]; }, p, al);
}

void deBoorRationalWith(Vec3* d, double* w, int32_t p, const Alphas& al) {
    deBoorRationalBy(d, w, p, [&](int32_t r, int32_t k) { return al.a[r][k]; });
}

// Control point (i, j) and its weight.
void loadPoint(const BsplSurface* s, int32_t i, int32_t j, Vec3* p, double* w) {
    *p = s->rows[i][j];
    *w = isRational(s) ? s->weights[i][j] : 1.0;
}

// The row of control index `row` in the v span, evaluated at v.
void evalRowInV(const BsplSurface* s, int32_t row, int32_t sv, double v, Vec3* out, double* wout) {
    Vec3 d[kWork];
    double w[kWork];
    const int32_t q = s->vOrder - 1;
    for (int32_t k = 0; k <= q; ++k) loadPoint(s, row, sv - k, &d[k], &w[k]);
    if (isRational(s)) {
        deBoorRational(d, w, q, s->vKnots, s->vNum, v, sv);
    } else {
        deBoorPoint(d, q, s->vKnots, s->vNum, v, sv);
    }
    *out = d[0];
    *wout = w[0];
}

// The column of control index `col` in the u span, evaluated at u.
void evalColInU(const BsplSurface* s, int32_t col, int32_t su, double u, Vec3* out, double* wout) {
    Vec3 d[kWork];
    double w[kWork];
    const int32_t p = s->uOrder - 1;
    for (int32_t k = 0; k <= p; ++k) loadPoint(s, su - k, col, &d[k], &w[k]);
    if (isRational(s)) {
        deBoorRational(d, w, p, s->uKnots, s->uNum, u, su);
    } else {
        deBoorPoint(d, p, s->uKnots, s->uNum, u, su);
    }
    *out = d[0];
    *wout = w[0];
}

// Derivative at t of the curve whose p + 1 Cartesian points (element k = index span - k) and
// weights are given, of degree p on the knots.
Vec3 curveDerivative(Vec3* c, double* w, int32_t p, const double* knots, int32_t num, double t, int32_t span,
                     bool rational) {
    Vec3 dc[kWork];
    double dw[kWork];
    for (int32_t k = 0; k < p; ++k) {
        const int32_t idx = span - k;
        const double interval = knots[idx + p] - knots[idx];
        double f = 0.0;
        if (std::fabs(interval) >= 1e-6) {
            f = 1.0 / interval;
        } else if (rational) {
            msgPrintf(kTrace, "W : gewicht null", 0);
        }
        if (rational) {
            dc[k] = {f * (w[k] * c[k].x - w[k + 1] * c[k + 1].x), f * (w[k] * c[k].y - w[k + 1] * c[k + 1].y),
                     f * (w[k] * c[k].z - w[k + 1] * c[k + 1].z)};
            dw[k] = f * (w[k] - w[k + 1]);
        } else {
            dc[k] = {f * (c[k].x - c[k + 1].x), f * (c[k].y - c[k + 1].y), f * (c[k].z - c[k + 1].z)};
        }
    }
    const double pd = p;
    deBoorPoint(dc, p - 1, knots, num, t, span);
    if (!rational) return {pd * dc[0].x, pd * dc[0].y, pd * dc[0].z};
    deBoorScalar(dw, p - 1, knots, num, t, span);
    for (int32_t k = 0; k <= p; ++k) c[k] = {w[k] * c[k].x, w[k] * c[k].y, w[k] * c[k].z};
    deBoorPoint(c, p, knots, num, t, span);
    deBoorScalar(w, p, knots, num, t, span);
    const double wt = w[0];
    if (std::fabs(wt) < 1e-6) {
        msgPrintf(kTrace, "W : gewicht null", 0);
        return {0.0, 0.0, 0.0};
    }
    const double g = pd * dw[0] / wt;
    return {(pd * dc[0].x - g * c[0].x) / wt, (pd * dc[0].y - g * c[0].y) / wt,
            (pd * dc[0].z - g * c[0].z) / wt};
}

}  // namespace

namespace {

// The p + 1 rows of u span su, each taken in v at span sv (their factors inV shared).
void spanRows(const BsplSurface* s, int32_t su, int32_t sv, const Alphas& inV, bool rational, Vec3* c,
              double* w) {
    const int32_t p = s->uOrder - 1, q = s->vOrder - 1;
    for (int32_t i = 0; i <= p; ++i) {
        if (!rational) {
            c[i] = deBoorRowWith(s->rows[su - i], sv, q, inV);
            w[i] = 1.0;
            continue;
        }
        Vec3 d[kWork];
        double dw[kWork];
        d[0] = {}, dw[0] = 0.0;  // the load below overwrites them (q >= 1); the compiler cannot tell
        for (int32_t k = 0; k <= q; ++k) loadPoint(s, su - i, sv - k, &d[k], &dw[k]);
        deBoorRationalWith(d, dw, q, inV);
        c[i] = d[0];
        w[i] = dw[0];
    }
}

// The point at u from the rows of its span (spanRows); c and w are worked in place.
Vec3 pointFromRows(const BsplSurface* s, Vec3* c, double* w, double u, int32_t su, bool rational) {
    const int32_t p = s->uOrder - 1;
    if (rational) {
        deBoorRational(c, w, p, s->uKnots, s->uNum, u, su);
        return c[0];
    }
    // The triangle in u as deBoorPoint runs it, with its factors taken first.
    Alphas inU;
    alphasOf(&inU, p, s->uKnots, s->uNum, u, su);
    return deBoorWith([c](int32_t k) -> const Vec3& { return c[k]; }, p, inU);
}

}  // namespace

int evalNurbsSurfPoint(const BsplSurface* surface, double u, double v, Vec3* point) {
    return point == nullptr ? -1 : evalNurbsSurfPointsAtV(surface, &u, 1, v, point);
}

int evalNurbsSurfPointsAtV(const BsplSurface* surface, const double* us, int32_t n, double v, Vec3* points) {
    if (!usable(surface) || us == nullptr || points == nullptr) return -1;
    const BsplSurface* s = surface;
    if (!wrapParam(&v, s->vKnots, s->vNum, s->periodicV)) return -1;
    const int32_t sv = pointSpan(s->vKnots, s->vNum, s->vOrder, v);
    // The rows in v share their factors, taken once; the spans stay within the control net, so no
    // factor is out of range.
    Alphas inV;
    alphasOf(&inV, s->vOrder - 1, s->vKnots, s->vNum, v, sv);
    const bool rational = isRational(s);
    Vec3 rows[kWork];
    double rowW[kWork];
    int32_t rowSpan = -1;
    for (int32_t k = 0; k < n; ++k) {
        double u = us[k];
        if (!wrapParam(&u, s->uKnots, s->uNum, s->periodicU)) return -1;
        const int32_t su = pointSpan(s->uKnots, s->uNum, s->uOrder, u);
        if (su != rowSpan) spanRows(s, su, sv, inV, rational, rows, rowW), rowSpan = su;
        Vec3 c[kWork];
        double w[kWork];
        std::copy(rows, rows + s->uOrder, c), std::copy(rowW, rowW + s->uOrder, w);
        points[k] = pointFromRows(s, c, w, u, su, rational);
    }
    return 1;
}

int evalNurbsSurfDeriv(const BsplSurface* surface, double u, double v, Vec3* Su, Vec3* Sv, Vec3* N) {
    if (!usable(surface)) return -1;
    const BsplSurface* s = surface;
    if (!wrapParam(&u, s->uKnots, s->uNum, s->periodicU) || !wrapParam(&v, s->vKnots, s->vNum, s->periodicV))
        return -1;
    const int32_t su = derivSpan(s->uKnots, s->uNum, s->uOrder, u);
    const int32_t sv = derivSpan(s->vKnots, s->vNum, s->vOrder, v);
    const int32_t p = s->uOrder - 1, q = s->vOrder - 1;
    const bool rational = isRational(s);
    Vec3 du{}, dv{};
    Vec3 c[kWork];
    double w[kWork];
    if (Su != nullptr || N != nullptr) {
        for (int32_t i = 0; i <= p; ++i) evalRowInV(s, su - i, sv, v, &c[i], &w[i]);
        du = curveDerivative(c, w, p, s->uKnots, s->uNum, u, su, rational);
    }
    if (Sv != nullptr || N != nullptr) {
        for (int32_t j = 0; j <= q; ++j) evalColInU(s, sv - j, su, u, &c[j], &w[j]);
        dv = curveDerivative(c, w, q, s->vKnots, s->vNum, v, sv, rational);
    }
    if (Su != nullptr) *Su = du;
    if (Sv != nullptr) *Sv = dv;
    if (N != nullptr) {
        Vec3 n{};
        cross3D(&du, &dv, &n);
        const double len = vecLen3D(&n);
        *N = len < 1e-6 ? Vec3{0.0, 0.0, 0.0} : Vec3{n.x / len, n.y / len, n.z / len};
    }
    return 1;
}

int surfClosestGridPoint(const TrimSurface* surface, const Vec3* target, SurfFoot* result) {
    if (surface == nullptr || target == nullptr || result == nullptr) return -1;
    const BsplSurface* s = &surface->surface;
    if (!usable(s)) return -1;
    // The first loop bounds the trimmed face; an untrimmed surface uses its knot range.
    double u0 = s->uKnots[s->uOrder - 1], u1 = s->uKnots[s->uNum];
    double v0 = s->vKnots[s->vOrder - 1], v1 = s->vKnots[s->vNum];
    if (surface->loopCount > 0 && surface->loops != nullptr && surface->loops[0].count > 0) {
        const TrimLoop& loop = surface->loops[0];
        u0 = v0 = HUGE_VAL;
        u1 = v1 = -HUGE_VAL;
        for (int32_t k = 0; k < loop.count; ++k) {
            u0 = std::min(u0, loop.points[k].x), u1 = std::max(u1, loop.points[k].x);
            v0 = std::min(v0, loop.points[k].y), v1 = std::max(v1, loop.points[k].y);
        }
        u0 += 0.01, u1 -= 0.01, v0 += 0.01, v1 -= 0.01;
    }
    const int32_t nu = s->uNum + s->uOrder, nv = s->vNum + s->vOrder;
    double best = HUGE_VAL;
    for (int32_t i = 0; i < nu; ++i) {
        const double u = u0 + (u1 - u0) * i / (nu - 1);
        for (int32_t j = 0; j < nv; ++j) {
            const double v = v0 + (v1 - v0) * j / (nv - 1);
            Vec3 p{};
            const int rc = evalNurbsSurfPoint(s, u, v, &p);
            if (rc < 0) return rc;
            const double d = dist3D(&p, target);
            if (d < best) {
                best = d;
                *result = {u, v, p};
            }
        }
    }
    return 1;
}

namespace {

// Distance of p from the line through a along dir; the direction is used at unit length because
// the shared helper measures from the ends of short segments.
double distToLine(const Vec3& p, const Vec3& a, const Vec3& dir, double dirLen) {
    const double seg[6] = {a.x, a.y, a.z, a.x + dir.x / dirLen, a.y + dir.y / dirLen, a.z + dir.z / dirLen};
    return distPointLine3D(&p, seg);
}

}  // namespace

int projectPointNurbsSurf(const TrimSurface* surface, const SurfFoot* start, const Vec3* target,
                          SurfFoot* result, double* distance) {
    if (surface == nullptr || target == nullptr || result == nullptr || distance == nullptr) return 0;
    const BsplSurface* s = &surface->surface;
    SurfFoot cur{};
    if (start != nullptr) {
        cur = *start;
    } else {
        const int rc = surfClosestGridPoint(surface, target, &cur);
        if (rc < 0) return rc;
    }
    const Vec3& P = *target;
    double dPrev = 0.0;
    for (int step = 0; step < 1000; ++step) {
        if (callAbortHook() != 0) return -1;
        Vec3 Su{}, Sv{}, N{};
        int rc = evalNurbsSurfDeriv(s, cur.u, cur.v, &Su, &Sv, &N);
        if (rc < 0) return rc;
        const Vec3& S = cur.point;
        const double h = (P.x - S.x) * N.x + (P.y - S.y) * N.y + (P.z - S.z) * N.z;
        const Vec3 Pt{P.x - h * N.x, P.y - h * N.y, P.z - h * N.z};
        // A point off the surface never meets the distance tests below; its foot is reached when
        // the target projects onto the tangent plane at S itself.
        if (wogDist3D(&Pt, &S) < 1e-6) break;
        const double lu = vecLen3D(&Su), lv = vecLen3D(&Sv);
        const double du = lu > 1e-12 && lv > 1e-12 ? distToLine(Pt, S, Sv, lv) / lu : 0.0;
        const double dv = lu > 1e-12 && lv > 1e-12 ? distToLine(Pt, S, Su, lu) / lv : 0.0;
        if (du == 0.0 && dv == 0.0) break;  // a degenerate point offers no direction to move in
        double bestDist = HUGE_VAL, bu = 0.0, bv = 0.0;
        for (const double su : {1.0, -1.0})
            for (const double sv : {1.0, -1.0}) {
                const Vec3 c{S.x + su * du * Su.x + sv * dv * Sv.x, S.y + su * du * Su.y + sv * dv * Sv.y,
                             S.z + su * du * Su.z + sv * dv * Sv.z};
                const double d = wogDist3D(&c, &Pt);
                if (d < bestDist) bestDist = d, bu = su * du, bv = sv * dv;
            }
        // The iterate stays where the evaluator evaluates it, so the result's parameters and point agree.
        double u = cur.u + bu, v = cur.v + bv;
        if (!wrapParam(&u, s->uKnots, s->uNum, s->periodicU) ||
            !wrapParam(&v, s->vKnots, s->vNum, s->periodicV))
            return -1;
        Vec3 next{};
        rc = evalNurbsSurfPoint(s, u, v, &next);
        if (rc < 0) return rc;
        cur = {u, v, next};
        const double d = std::fabs(next.x - P.x) + std::fabs(next.y - P.y) + std::fabs(next.z - P.z);
        if (d < 0.001) break;
        if (step > 0 && d < 0.09 && std::fabs(d - dPrev) < 1e-4) break;
        dPrev = d;
    }
    *result = cur;
    *distance = dist3D(&P, &cur.point);
    return 1;
}
