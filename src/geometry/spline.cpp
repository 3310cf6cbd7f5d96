// Cubic spline interpolation: Hermite segment chains and B-spline interpolation.
#include "geometry/spline.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "geometry/solve.h"
#include "kernel/base/msg.h"

namespace {

constexpr int kCoefs = 4;

double coord(const Vec3& p, int c) {
    return c == 0 ? p.x : (c == 1 ? p.y : p.z);
}

double& coordRef(Vec3& p, int c) {
    return c == 0 ? p.x : (c == 1 ? p.y : p.z);
}

Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

Vec3 addScaled(const Vec3& a, double s, const Vec3& b) {
    return {a.x + s * b.x, a.y + s * b.y, a.z + s * b.z};
}

double intervalFor(int mode, double chord) {
    if (mode == kSplineUniform) return 1.0;
    if (mode == kSplineCentripetal) return std::sqrt(chord);
    return chord;
}

void noMemory() {
    msgPrintfDouble(9, "*** ERROR : NO MEMORY", 0.0);
}

// Header, parameters and segments with their coefficient arrays; null (all released) on failure.
PolyCurve* polyCurveAlloc(int32_t count) {
    auto* curve = static_cast<PolyCurve*>(std::calloc(1, sizeof(PolyCurve)));
    if (curve == nullptr) return nullptr;
    curve->params = static_cast<double*>(std::calloc(static_cast<size_t>(count) + 1, sizeof(double)));
    curve->segs = static_cast<PolySeg*>(std::calloc(static_cast<size_t>(count), sizeof(PolySeg)));
    if (curve->params == nullptr || curve->segs == nullptr) {
        polyCurveFree(curve);
        return nullptr;
    }
    curve->count = count;  // from here polyCurveFree walks the (zeroed) segments
    for (int32_t i = 0; i < count; ++i) {
        PolySeg& s = curve->segs[i];
        s.coefCount = kCoefs;
        s.cx = static_cast<double*>(std::calloc(kCoefs, sizeof(double)));
        s.cy = static_cast<double*>(std::calloc(kCoefs, sizeof(double)));
        s.cz = static_cast<double*>(std::calloc(kCoefs, sizeof(double)));
        if (s.cx == nullptr || s.cy == nullptr || s.cz == nullptr) {
            polyCurveFree(curve);
            return nullptr;
        }
    }
    return curve;
}

void setCoefs(PolySeg* s, int k, const Vec3& v) {
    s->cx[k] = v.x;
    s->cy[k] = v.y;
    s->cz[k] = v.z;
}

// Unit derivative estimate at c from the point after it (a) and the point before it (b), the chord
// directions weighted by the neighbouring chord lengths. 1, or -1 with a zero vector.
int tangentEstimate(const Vec3& c, const Vec3& a, const Vec3& b, Vec3* out) {
    const Vec3 v = sub(a, b);
    const Vec3 cb = sub(c, b), ac = sub(a, c);
    const double lcb = vecLen3D(&cb), lac = vecLen3D(&ac);
    if (lcb < 1e-6 || lac < 1e-6) return vecNormalize3D(&v, out);
    const double w = lcb / (lcb + lac);
    const Vec3 mix = {(1.0 - w) * cb.x / lcb + w * ac.x / lac, (1.0 - w) * cb.y / lcb + w * ac.y / lac,
                      (1.0 - w) * cb.z / lcb + w * ac.z / lac};
    return vecNormalize3D(&mix, out);
}

// The three basis values at knots[span] that can be nonzero there.
void basisAt(const double* knots, int32_t count, int32_t span, double abc[3]) {
    double N[4] = {0.0, 0.0, 0.0, 0.0};
    // A -1 only flags a vanishing term of the triangle (clamped ends); the values are complete.
    bsplBasis(knots, count, 4, span, knots[span], N);
    abc[0] = N[0];
    abc[1] = N[1];
    abc[2] = N[2];
}

double safeDen(double d) {
    return std::fabs(d) < 1e-10 ? 1.0 : d;
}

// Shared body of the two B-spline interpolations; otherKnots null: spacing by mode.
BsplCurve* interpolate3D(const Vec3* P, int32_t n, int mode, const double* otherKnots) {
    // The tangent rules read P[n-3]: fewer than 3 points cannot be interpolated this way.
    if (P == nullptr || n < 3) return nullptr;
    Vec3 d0{}, d1{};
    int rc;
    if (dist3D(&P[0], &P[n - 1]) < 0.1) {
        rc = tangentEstimate(P[0], P[1], P[n - 3], &d0);
        d1 = d0;
    } else {
        tangentEstimate(P[1], P[2], P[0], &d0);
        rc = tangentEstimate(P[n - 2], P[n - 1], P[n - 3], &d1);
    }
    if (rc < 0) return nullptr;
    const double scale = 0.5 * dist3D(&P[0], &P[(n - 1) / 2]);
    d0 = {d0.x * scale, d0.y * scale, d0.z * scale};
    d1 = {d1.x * scale, d1.y * scale, d1.z * scale};

    std::vector<double> dd;
    try {
        dd.assign(static_cast<size_t>(n) + 1, 0.0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const int32_t count = n + 2;
    const int32_t nk = n + 6;
    auto* curve = static_cast<BsplCurve*>(std::calloc(1, sizeof(BsplCurve)));
    if (curve == nullptr) return nullptr;
    curve->order = 4;
    curve->count = count;
    curve->rational = 0;
    curve->knots = static_cast<double*>(std::calloc(static_cast<size_t>(nk), sizeof(double)));
    curve->ctrl = static_cast<Vec3*>(std::calloc(static_cast<size_t>(count), sizeof(Vec3)));
    if (curve->knots == nullptr || curve->ctrl == nullptr) {
        nurbsFreeCurve(curve);
        std::free(curve);
        return nullptr;
    }
    double* K = curve->knots;
    Vec3* Q = curve->ctrl;
    if (otherKnots == nullptr) {
        for (int32_t i = 1; i <= n - 1; ++i)
            K[3 + i] = K[2 + i] + intervalFor(mode, dist3D(&P[i], &P[i - 1]));
    } else {
        for (int32_t j = 4; j <= n + 2; ++j) K[j] = K[j - 1] + (otherKnots[j] - otherKnots[j - 1]);
    }
    const double T = K[n + 2];
    if (T < 1e-9) {
        nurbsFreeCurve(curve);
        std::free(curve);
        return nullptr;
    }
    for (int32_t j = 4; j <= n + 1; ++j) K[j] /= T;
    for (int32_t j = n + 2; j <= n + 5; ++j) K[j] = 1.0;

    Q[0] = P[0];
    Q[1] = addScaled(P[0], K[4] / 3.0, d0);
    Q[n] = addScaled(P[n - 1], -(K[n + 2] - K[n + 1]) / 3.0, d1);
    Q[n + 1] = P[n - 1];

    // Thomas elimination of P[i] = a Q[i] + b Q[i+1] + c Q[i+2], i = 1..n-2, Q[1] and Q[n] known.
    double abc[3];
    basisAt(K, count, 4, abc);
    double den = safeDen(abc[1]);
    Q[2] = addScaled(P[1], -abc[0], Q[1]);
    Q[2] = {Q[2].x / den, Q[2].y / den, Q[2].z / den};
    if (n == 3) {
        Q[2] = addScaled(Q[2], -abc[2] / den, Q[3]);
        return curve;
    }
    for (int32_t i = 3; i <= n - 2; ++i) {
        dd[i] = abc[2] / den;
        basisAt(K, count, i + 2, abc);
        den = safeDen(abc[1] - abc[0] * dd[i]);
        const Vec3 r = addScaled(P[i - 1], -abc[0], Q[i - 1]);
        Q[i] = {r.x / den, r.y / den, r.z / den};
    }
    dd[n - 1] = abc[2] / den;
    basisAt(K, count, n + 1, abc);
    den = safeDen(abc[1] - abc[0] * dd[n - 1]);
    const Vec3 r = addScaled(addScaled(P[n - 2], -abc[2], Q[n]), -abc[0], Q[n - 2]);
    Q[n - 1] = {r.x / den, r.y / den, r.z / den};
    for (int32_t i = n - 2; i >= 2; --i) Q[i] = addScaled(Q[i], -dd[i + 1], Q[i + 1]);
    return curve;
}

}  // namespace

PolyCurve* splineThroughPoints(const Vec3* points, int32_t n, int mode) {
    if (points == nullptr || n < 2) return nullptr;
    std::vector<Vec3> kept;
    std::vector<double> h, lambda, mu, lower, diag, upper, rhs, rowFill, colFill;
    std::vector<Vec3> tangents;
    try {
        kept.reserve(static_cast<size_t>(n));
        h.reserve(static_cast<size_t>(n));
        kept.push_back(points[0]);
        h.push_back(dist3D(&points[0], &points[n - 1]));
        for (int32_t i = 1; i < n; ++i) {
            const double d = dist3D(&points[i], &kept.back());
            if (d > 1e-5) {
                kept.push_back(points[i]);
                h.push_back(intervalFor(mode, d));
            }
        }
        const size_t m = kept.size();
        lambda.assign(m, 0.0);
        mu.assign(m, 0.0);
        lower.assign(m, 0.0);
        diag.assign(m, 0.0);
        upper.assign(m, 0.0);
        rhs.assign(m, 0.0);
        rowFill.assign(m, 0.0);
        colFill.assign(m, 0.0);
        tangents.assign(m, Vec3{0.0, 0.0, 0.0});
    } catch (const std::bad_alloc&) {
        noMemory();
        return nullptr;
    }
    const int32_t m = static_cast<int32_t>(kept.size());
    if (m < 2) return nullptr;
    cycTraceNop(3, "* spline points = %lf", static_cast<double>(m));
    // A cyclic system of order 2 or less is degenerate: such a loop is interpolated as open.
    const bool closed = h[0] < 1e-6 && m >= 4;

    for (int32_t i = 1; i <= m - 2; ++i) {
        const double s = h[i] + h[i + 1];
        if (s >= 1e-7) {
            lambda[i] = h[i + 1] / s;
            mu[i] = h[i] / s;
        }
    }
    lambda[0] = 0.0;
    mu[0] = 1.0;
    if (closed) {
        const double s = h[m - 1] + h[1];
        lambda[m - 1] = s < 1e-7 ? 0.0 : h[1] / s;
        mu[m - 1] = s < 1e-7 ? 0.0 : h[m - 1] / s;
    } else {
        lambda[m - 1] = 1.0;
        mu[m - 1] = 0.0;
    }

    for (int c = 0; c < 3; ++c) {
        auto y = [&](int32_t i) { return coord(kept[static_cast<size_t>(i)], c); };
        auto interior = [&](int32_t i) {
            if (h[i] > 1e-5 && h[i + 1] > 1e-5)
                return 3.0 * (lambda[i] * (y(i) - y(i - 1)) / h[i] + mu[i] * (y(i + 1) - y(i)) / h[i + 1]);
            return 3.0 * (y(i + 1) - y(i - 1));
        };
        std::fill(rowFill.begin(), rowFill.end(), 0.0);
        std::fill(colFill.begin(), colFill.end(), 0.0);
        int rc;
        if (!closed) {
            diag[0] = 2.0;
            upper[0] = 1.0;
            rhs[0] = h[1] > 1e-5 ? 1.5 * (y(1) - y(0)) / h[1] : 1.5;
            for (int32_t i = 1; i <= m - 2; ++i) {
                lower[i] = lambda[i];
                diag[i] = 2.0;
                upper[i] = mu[i];
                rhs[i] = interior(i);
            }
            lower[m - 1] = 1.0;
            diag[m - 1] = 2.0;
            upper[m - 1] = 0.0;
            rhs[m - 1] = 3.0 * (y(m - 1) - y(m - 2)) / h[m - 1];
            rc = solveTridiag(m, lower.data(), diag.data(), upper.data(), rhs.data(), 0);
            for (int32_t i = 0; i < m; ++i) coordRef(tangents[i], c) = rhs[i];
        } else {
            // Unknown j is d[j + 1]; d[0] = d[m-1] closes the loop through the two corners.
            const int32_t ns = m - 1;
            for (int32_t i = 1; i <= m - 2; ++i) {
                const int32_t j = i - 1;
                lower[j] = lambda[i];
                diag[j] = 2.0;
                upper[j] = mu[i];
                rhs[j] = interior(i);
            }
            colFill[0] = lambda[1];
            lower[0] = 0.0;
            lower[ns - 1] = lambda[m - 1];
            diag[ns - 1] = 2.0;
            upper[ns - 1] = 0.0;
            rowFill[0] = mu[m - 1];
            rhs[ns - 1] = 3.0 * (lambda[m - 1] * (y(m - 1) - y(m - 2)) / h[m - 1] +
                                 mu[m - 1] * (y(1) - y(m - 1)) / h[1]);
            rc = solveCyclicTridiag(ns, lower.data(), diag.data(), upper.data(), rowFill.data(),
                                    colFill.data(), rhs.data(), 0);
            for (int32_t i = 1; i < m; ++i) coordRef(tangents[i], c) = rhs[i - 1];
            coordRef(tangents[0], c) = rhs[ns - 1];
        }
        // A failing solver leaves no usable tangents.
        if (rc != kSolveOk) return nullptr;
    }
    PolyCurve* curve = polyCurveFromHermite(kept.data(), tangents.data(), m, h.data());
    if (curve == nullptr) noMemory();
    return curve;
}

PolyCurve* polyCurveFromHermite(const Vec3* points, const Vec3* tangents, int32_t m, const double* h) {
    if (points == nullptr || tangents == nullptr || h == nullptr || m < 2) return nullptr;
    PolyCurve* curve = polyCurveAlloc(m - 1);
    if (curve == nullptr) return nullptr;
    curve->params[0] = 0.0;
    for (int32_t i = 0; i + 1 < m; ++i) {
        curve->params[i + 1] = curve->params[i] + h[i + 1];
        const double H = h[i + 1];
        const Vec3& p = points[i];
        const Vec3& q = points[i + 1];
        const Vec3& a = tangents[i];
        const Vec3& b = tangents[i + 1];
        PolySeg* s = &curve->segs[i];
        for (int c = 0; c < 3; ++c) {
            const double D = coord(p, c) - coord(q, c);
            const double ta = coord(a, c), tb = coord(b, c);
            double* k = c == 0 ? s->cx : (c == 1 ? s->cy : s->cz);
            k[0] = coord(p, c);
            k[1] = H * ta;
            k[2] = -3.0 * D - (2.0 * ta + tb) * H;
            k[3] = H * (ta + tb) + 2.0 * D;
        }
    }
    return curve;
}

PolyCurve* polyCurveFromBezier(const Vec3* p0, const Vec3* p1, const Vec3* p2, const Vec3* p3,
                               double length) {
    if (p0 == nullptr || p1 == nullptr || p2 == nullptr || p3 == nullptr) return nullptr;
    PolyCurve* curve = polyCurveAlloc(1);
    if (curve == nullptr) return nullptr;
    curve->params[0] = 0.0;
    curve->params[1] = length;
    PolySeg* s = &curve->segs[0];
    setCoefs(s, 0, *p0);
    setCoefs(s, 1, {3.0 * (p1->x - p0->x), 3.0 * (p1->y - p0->y), 3.0 * (p1->z - p0->z)});
    setCoefs(s, 2,
             {3.0 * (p0->x - 2.0 * p1->x + p2->x), 3.0 * (p0->y - 2.0 * p1->y + p2->y),
              3.0 * (p0->z - 2.0 * p1->z + p2->z)});
    setCoefs(s, 3,
             {3.0 * (p1->x - p2->x) - p0->x + p3->x, 3.0 * (p1->y - p2->y) - p0->y + p3->y,
              3.0 * (p1->z - p2->z) - p0->z + p3->z});
    return curve;
}

void polyCurveFree(PolyCurve* curve) {
    if (curve == nullptr) return;
    for (int32_t i = 0; curve->segs != nullptr && i < curve->count; ++i) {
        std::free(curve->segs[i].cx);
        std::free(curve->segs[i].cy);
        std::free(curve->segs[i].cz);
    }
    std::free(curve->segs);
    std::free(curve->params);
    std::free(curve);
}

int polySegEval3D(const PolySeg* seg, double u, Vec3* point) {
    if (seg == nullptr || point == nullptr || seg->coefCount < 1) return -1;
    double x = 0.0, y = 0.0, z = 0.0;
    for (int k = seg->coefCount - 1; k >= 0; --k) {
        x = x * u + seg->cx[k];
        y = y * u + seg->cy[k];
        z = z * u + seg->cz[k];
    }
    *point = {x, y, z};
    return 1;
}

int polyEvalHorner3D(const PolySeg* seg, double u, Vec3* point) {
    return polySegEval3D(seg, u, point);
}

int splineEval(const PolyCurve* curve, double t, Vec3* point, Vec3* deriv) {
    if (curve == nullptr || curve->count < 1 || curve->params == nullptr) return -1;
    int32_t i = 0;
    while (i < curve->count && !(curve->params[i + 1] + 1e-5 >= t)) ++i;
    if (i == curve->count) return -1;
    const double span = curve->params[i + 1] - curve->params[i];
    const double u = span > 0.0 ? (t - curve->params[i]) / span : 0.0;
    if (u < -1e-5) return -1;
    const PolySeg* s = &curve->segs[i];
    if (point != nullptr) polySegEval3D(s, u, point);
    if (deriv != nullptr) {
        double dx = 0.0, dy = 0.0, dz = 0.0;
        for (int k = s->coefCount - 1; k >= 1; --k) {
            dx = dx * u + k * s->cx[k];
            dy = dy * u + k * s->cy[k];
            dz = dz * u + k * s->cz[k];
        }
        *deriv = {dx, dy, dz};
    }
    return 1;
}

BsplCurve* splineThroughPoints3D(const Vec3* points, int32_t n, int mode) {
    return interpolate3D(points, n, mode, nullptr);
}

BsplCurve* splineThroughPoints3DKnots(const Vec3* points, int32_t n, const double* knots) {
    if (knots == nullptr) return nullptr;
    return interpolate3D(points, n, kSplineChord, knots);
}

int copyToHandle(void** handle, const void* data, size_t size) {
    if (handle == nullptr || (size > 0 && (*handle == nullptr || data == nullptr))) return -1;
    if (size > 0) std::memcpy(*handle, data, size);
    return 0;
}

void cycTraceNop(int32_t, const char*, double) {}
