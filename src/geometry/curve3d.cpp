// Adaptive bisection of polynomial curves into polylines and the connecting curves on top of it.
#include "geometry/curve3d.h"

#include <cmath>
#include <cstdlib>

#include "kernel/base/msg.h"

namespace {

constexpr double kThresholdDefault = 1e-5;
constexpr int32_t kFirstCapacity = 51;
constexpr int kStackMax = 11;  // entries; an entry taken with this many stacked is not split
// Backstop for a chord test that never passes (a zero threshold, non-finite coefficients): without
// it the right halves could be split until the parameters underflow.
constexpr int32_t kMaxSplitsPerSegment = 65536;

double gThreshold = kThresholdDefault;  // squared length below which a chord or cross product is degenerate
double gTangentFactor = 1.0;
double gChord = 0.0;

struct StackEntry {
    Vec3 a, b;
    double u0, u1;
};
StackEntry gStack[kStackMax];

Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

void warnStack() {
    msgPrintfDouble(9, "* Warning: converting spline to polyline: Stack Overflow", 0.0);
}

// Appends p, doubling the array when full. false (array freed, message sent) on memory failure.
bool append(Vec3** pts, int32_t* n, int32_t* cap, const Vec3& p) {
    if (*n == *cap) {
        msgPrintfDouble(3, "*  curveApprox: realloc", 0.0);
        auto* grown = static_cast<Vec3*>(std::realloc(*pts, 2 * static_cast<size_t>(*cap) * sizeof(Vec3)));
        if (grown == nullptr) {
            msgDouble(9, 2, "* Error: no memory", 0.0);
            std::free(*pts);
            *pts = nullptr;
            return false;
        }
        *pts = grown;
        *cap *= 2;
    }
    (*pts)[(*n)++] = p;
    return true;
}

}  // namespace

int approxChordOk(const Vec3* a, const Vec3* m, const Vec3* b, double tol, double* dist) {
    if (dist != nullptr) *dist = 0.0;
    const Vec3 d1 = sub(*m, *a), d2 = sub(*b, *m);
    if (dot(d1, d2) < 0.0) return 0;
    Vec3 c;
    cross3D(&d1, &d2, &c);
    const double c2 = dot(c, c);
    if (c2 < gThreshold) return 1;
    const Vec3 s = {d1.x + d2.x, d1.y + d2.y, d1.z + d2.z};
    const double s2 = dot(s, s);
    if (s2 < gThreshold) return 1;
    if (dist != nullptr) *dist = std::sqrt(c2 / s2);
    return tol * tol * s2 >= c2 ? 1 : 0;
}

int curve3DApprox(const PolyCurve* curve, double tol, Vec3** points, int32_t* count) {
    if (points == nullptr || count == nullptr) return -1;
    msgPrintfDouble(3, "* curve3DApprox: start", 0.0);
    *count = 0;
    *points = nullptr;
    if (curve == nullptr || curve->count < 1 || curve->segs == nullptr) return 0;
    int32_t cap = kFirstCapacity;
    auto* pts = static_cast<Vec3*>(std::malloc(static_cast<size_t>(cap) * sizeof(Vec3)));
    if (pts == nullptr) {
        msgDouble(9, 2, "* Error: no memory", 0.0);
        return -1;
    }
    msgPrintf(3, "* curve3DApprox: %10d", cap);
    int32_t n = 0;
    polyEvalHorner3D(&curve->segs[0], 0.0, &pts[n++]);
    for (int32_t s = 0; s < curve->count; ++s) {
        const PolySeg* seg = &curve->segs[s];
        int depth = 1;
        gStack[0].u0 = 0.0;
        gStack[0].u1 = 1.0;
        polyEvalHorner3D(seg, 0.0, &gStack[0].a);
        polyEvalHorner3D(seg, 1.0, &gStack[0].b);
        int32_t splits = 0;
        while (depth > 0) {
            StackEntry& top = gStack[depth - 1];
            const double um = 0.5 * (top.u0 + top.u1);
            Vec3 m;
            polyEvalHorner3D(seg, um, &m);
            const bool ok = approxChordOk(&top.a, &m, &top.b, tol, nullptr) == 1;
            if (!ok && depth < kStackMax && splits < kMaxSplitsPerSegment) {
                const StackEntry left = {top.a, m, top.u0, um};
                top.a = m;
                top.u0 = um;
                gStack[depth++] = left;
                if (++splits == kMaxSplitsPerSegment) warnStack();
                continue;
            }
            if (depth == kStackMax) warnStack();
            if (!append(&pts, &n, &cap, top.b)) return -1;
            --depth;
        }
    }
    msgPrintf(3, "* curve3DApprox: %10d", n);
    *points = pts;
    *count = n;
    return 0;
}

PolyCurve* curveBezierBetween(const Vec3* A, const Vec3* PA, const Vec3* B, const Vec3* PB, double h) {
    if (A == nullptr || PA == nullptr || B == nullptr || PB == nullptr) return nullptr;
    const Vec3 ra = sub(*A, *PA), rb = sub(*B, *PB);
    const double la = vecLen3D(&ra), lb = vecLen3D(&rb);
    if (la < 1e-5 || lb < 1e-5) return nullptr;
    const Vec3 dA = {ra.x / la, ra.y / la, ra.z / la};
    Vec3 dB = {rb.x / lb, rb.y / lb, rb.z / lb};
    Vec3 s = {dA.x + dB.x, dA.y + dB.y, dA.z + dB.z};
    if (vecLen3D(&s) < 1e-5) {
        dB = {-dB.x, -dB.y, -dB.z};
        s = {dA.x + dB.x, dA.y + dB.y, dA.z + dB.z};
    }
    // This handle length puts the curve's middle h away from the chord's middle.
    const double l = 8.0 * h / (3.0 * vecLen3D(&s));
    const Vec3 p1 = {A->x + l * dA.x, A->y + l * dA.y, A->z + l * dA.z};
    const Vec3 p2 = {B->x + l * dB.x, B->y + l * dB.y, B->z + l * dB.z};
    return polyCurveFromBezier(A, &p1, &p2, B, 1.0);
}

int curveApproxBetween(const Vec3* A, const Vec3* PA, const Vec3* B, const Vec3* PB, double h, double tol,
                       Vec3** points, int32_t* count) {
    if (points == nullptr || count == nullptr) return -1;
    *points = nullptr;
    *count = 0;
    PolyCurve* curve = curveBezierBetween(A, PA, B, PB, h);
    if (curve == nullptr) return -1;
    const int rc = curve3DApprox(curve, tol, points, count);
    polyCurveFree(curve);
    if (rc != 0 || polylineWithinLength(*points, *count, dist3D(A, B) + 2.0 * h, nullptr) != 0) {
        std::free(*points);
        *points = nullptr;
        *count = 0;
        return -1;
    }
    return 0;
}

ProfileCurve* approxProfilePath(const Vec3* A, const Vec3* PA, const Vec3* B, const Vec3* PB, int dip) {
    if (A == nullptr || B == nullptr) return nullptr;
    const double d = dist3D(A, B);
    if (d < 0.01 * gChord) return nullptr;
    const double h = 0.5 * d * gTangentFactor;
    Vec3* pts = nullptr;
    int32_t n = 0;
    if (curveApproxBetween(A, PA, B, PB, h, 0.01, &pts, &n) != 0) return nullptr;
    auto* pts2 = static_cast<Vec2*>(std::malloc(static_cast<size_t>(n) * sizeof(Vec2)));
    auto* z = static_cast<double*>(std::malloc(static_cast<size_t>(n) * sizeof(double)));
    if (pts2 == nullptr || z == nullptr) {
        std::free(pts);
        std::free(pts2);
        std::free(z);
        return nullptr;
    }
    for (int32_t i = 0; i < n; ++i) {
        pts2[i] = {pts[i].x, pts[i].y};
        z[i] = pts[i].z;
    }
    std::free(pts);
    const int32_t half = (n - 1) / 2;
    if (dip && half > 0) {
        for (int32_t i = 0; i < n; ++i) z[i] -= i <= half ? h * i / half : h * (n - 1 - i) / half;
    }
    ProfileCurve* p = profileCreate(pts2, n, kProfilePoints);
    if (p == nullptr) {
        std::free(pts2);
        std::free(z);
        return nullptr;
    }
    p->ownsPoints = 1;
    p->z = z;
    if (!approxProfileLengthOk(p)) {
        profileFreeList(p);
        return nullptr;
    }
    return p;
}

int polylineWithinLength(const Vec3* points, int32_t n, double limit, double* length) {
    double total = 0.0;
    for (int32_t i = 1; points != nullptr && i < n; ++i) {
        total += dist3D(&points[i - 1], &points[i]);
        if (total > limit) {
            if (length != nullptr) *length = total;
            return -1;
        }
    }
    if (length != nullptr) *length = total;
    return 0;
}

int approxProfileLengthOk(const ProfileCurve* profile) {
    if (std::fabs(gChord) < 1e-5) return 1;
    return profileLength3D(profile) <= 6.0 * gChord ? 1 : 0;
}

void approxScaleTol(double factor) {
    gThreshold *= factor;
}

void approxSetChord(double value) {
    gChord = value;
}

void curve3DResetState() {
    gThreshold = kThresholdDefault;
    gTangentFactor = 1.0;
    gChord = 0.0;
}
