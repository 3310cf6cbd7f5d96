// Vectors, segments and angles: stateless, allocation-free helpers of the inner loops.
#include "geometry/vec.h"

#include <cmath>
#include <cstring>

#include "kernel/base/constants.h"

namespace {

constexpr double kTol = 1e-5;
constexpr double kDirTol = 1e-7;    // shortest segment that still has a direction
constexpr double kZeroTol = 1e-13;  // "zero" of polar angles

bool isPoint(const Seg2D* s) {
    return std::fabs(s->x2 - s->x1) < kTol && std::fabs(s->y2 - s->y1) < kTol;
}

bool samePoint(double ax, double ay, double bx, double by) {
    return std::fabs(ax - bx) < kTol && std::fabs(ay - by) < kTol;
}

double hyp(double x, double y) {
    return std::sqrt(x * x + y * y);
}

}  // namespace

void vecScale2D(double factor, const Vec2* v, Vec2* out) {
    *out = Vec2{factor * v->x, factor * v->y};
}

int vecAddSub2D(const Vec2* a, const Vec2* b, Vec2* out, int mode) {
    if (mode == 1) {
        *out = Vec2{a->x + b->x, a->y + b->y};
        return 1;
    }
    if (mode == -1) {
        *out = Vec2{a->x - b->x, a->y - b->y};
        return 1;
    }
    return 0;
}

int crossUnit3D(const Vec3* a, const Vec3* b, Vec3* out) {
    Vec3 c;
    cross3D(a, b, &c);
    const double len = vecLen3D(&c);
    if (len < kTol) {
        *out = c;
        return -1;
    }
    *out = Vec3{c.x / len, c.y / len, c.z / len};
    return 0;
}

int vecNormalize3D(const Vec3* v, Vec3* out) {
    const double len = vecLen3D(v);
    if (len < kTol) {
        *out = Vec3{0, 0, 0};
        return -1;
    }
    *out = Vec3{v->x / len, v->y / len, v->z / len};
    return 1;
}

int vecUnitXY3D(const Vec3* v, Vec3* out) {
    const double len = hyp(v->x, v->y);
    if (len < kTol) {
        *out = *v;
        return 0;
    }
    *out = Vec3{v->x / len, v->y / len, 0.0};
    return 1;
}

void vecFlattenXY3D(Vec3* v) {
    const double len = hyp(v->x, v->y);
    if (len >= kTol) *v = Vec3{v->x / len, v->y / len, 0.0};
}

double sqrtPos(double x) {
    return x < 0 ? 0.0 : std::sqrt(x);
}

double acosClamped(double c) {
    if (c > 1.0) c = 1.0;
    if (c < -1.0) c = -1.0;
    return std::acos(c);
}

double polarAngle2D(double y, double x) {
    if (std::fabs(x) < kZeroTol) {
        if (std::fabs(y) < kZeroTol) return 0.0;
        return y < 0 ? 1.5 * kPi : 0.5 * kPi;
    }
    double a = std::atan(y / x);
    if (x < 0)
        a += kPi;
    else if (y < 0)
        a += 2 * kPi;
    return a;
}

int isEqualTol(double a, double b) {
    return std::fabs(a - b) < 1e-4 ? 1 : 0;
}

int isectRecordEqual(const IsectRecord* r1, const IsectRecord* r2) {
    // The record type belongs to the contour code; its layout starts with x, y.
    double a[2], b[2];
    std::memcpy(a, r1, sizeof a);
    std::memcpy(b, r2, sizeof b);
    return isEqualTol(a[0], b[0]) && isEqualTol(a[1], b[1]) ? 1 : 0;
}

double turnAngle2D(double x0, double y0, double x1, double y1, double x2, double y2) {
    const double ax = x1 - x0, ay = y1 - y0;
    const double bx = x2 - x1, by = y2 - y1;
    const double cross = ax * by - ay * bx;
    if (cross == 0.0) return 0.0;
    double d = polarAngle2D(by, bx) - polarAngle2D(ay, ax);
    if (cross > 0 && d < -kZeroTol) d += 2 * kPi;
    if (cross < 0 && d > kZeroTol) d -= 2 * kPi;
    return d;
}

int segDir2D(const Seg2D* seg, Vec2* out) {
    const double dx = seg->x2 - seg->x1, dy = seg->y2 - seg->y1;
    const double len = hyp(dx, dy);
    if (len < kDirTol) return 0;
    *out = Vec2{dx / len, dy / len};
    return 1;
}

int segNormal2D(const Seg2D* seg, Vec2* out, int side) {
    Vec2 d;
    if (!segDir2D(seg, &d)) return 0;
    *out = side == 1 ? Vec2{-d.y, d.x} : Vec2{d.y, -d.x};
    return 1;
}

int segSetPoint2D(Seg2D* seg, const Vec2* p, int which) {
    if (which == 1) {
        seg->x1 = p->x;
        seg->y1 = p->y;
    } else {
        seg->x2 = p->x;
        seg->y2 = p->y;
    }
    return 1;
}

int segGetPoint2D(const Seg2D* seg, Vec2* out, int which) {
    switch (which) {
        case 1:
            *out = Vec2{seg->x1, seg->y1};
            return 1;
        case 2:
            *out = Vec2{seg->x2, seg->y2};
            return 1;
        case 3:
            *out = Vec2{0.5 * (seg->x1 + seg->x2), 0.5 * (seg->y1 + seg->y2)};
            return 1;
        default:
            return 0;
    }
}

int segListClosed2D(const Seg2D* segs, int32_t n) {
    if (segs == nullptr || n < 1) return 0;
    return samePoint(segs[0].x1, segs[0].y1, segs[n - 1].x2, segs[n - 1].y2) ? 1 : 0;
}

int footOnLine2D(const Seg2D* seg, double px, double py, double* outX, double* outY) {
    const double dx = seg->x2 - seg->x1, dy = seg->y2 - seg->y1;
    const double len2 = dx * dx + dy * dy;
    if (len2 < kTol) return 0;
    const double t = ((px - seg->x1) * dx + (py - seg->y1) * dy) / len2;
    *outX = seg->x1 + t * dx;
    *outY = seg->y1 + t * dy;
    return 1;
}

int pointInSegBox2D(const Vec2* p, const Seg2D* seg) {
    if (isPoint(seg)) return samePoint(p->x, p->y, seg->x1, seg->y1) ? 1 : 0;
    if (samePoint(p->x, p->y, seg->x1, seg->y1) || samePoint(p->x, p->y, seg->x2, seg->y2)) return 1;
    return (seg->x2 - p->x) * (seg->x1 - p->x) < kTol && (seg->y1 - p->y) * (seg->y2 - p->y) < kTol ? 1 : 0;
}

double distPointLine2D(double px, double py, const Seg2D* seg) {
    double fx = seg->x1, fy = seg->y1;
    footOnLine2D(seg, px, py, &fx, &fy);
    return hyp(px - fx, py - fy);
}

double distPointSegNear2D(const Vec2* p, const Seg2D* seg, Vec2* outNear) {
    if (isPoint(seg)) {
        *outNear = Vec2{seg->x1, seg->y1};
        return hyp(p->x - seg->x1, p->y - seg->y1);
    }
    Vec2 foot{seg->x1, seg->y1};
    footOnLine2D(seg, p->x, p->y, &foot.x, &foot.y);
    if (pointInSegBox2D(&foot, seg)) {
        *outNear = foot;
        return dist2D(p, &foot);
    }
    const double d1 = hyp(p->x - seg->x1, p->y - seg->y1);
    const double d2 = hyp(p->x - seg->x2, p->y - seg->y2);
    if (d1 < d2) {
        *outNear = Vec2{seg->x1, seg->y1};
        return d1;
    }
    *outNear = Vec2{seg->x2, seg->y2};
    return d2;
}

double distPointSeg2D(const Vec2* p, const Seg2D* seg) {
    Vec2 near;
    return distPointSegNear2D(p, seg, &near);
}

double nearestSeg2D(const Vec2* p, const Seg2D* segs, int32_t n, int32_t* outIndex) {
    double best = 1e10;
    int32_t bestIndex = 0;
    // The distance distPointSeg2D gives is that of a point within the segment's box grown by
    // sqrt(kTol) (where its foot test still takes the foot on the line): a segment whose grown box lies
    // farther than a distance some segment has (with room for rounding) cannot be the first nearest,
    // and is passed over. Every 16th segment's distance bounds the scan from its start.
    constexpr double kGrow = 3.2e-3;
    constexpr int32_t kStride = 16;
    double bound = INFINITY;
    for (int32_t i = 0; segs != nullptr && n >= 4 * kStride && i < n; i += kStride) {
        const double d = distPointSeg2D(p, &segs[i]);
        if (d < bound) bound = d;
    }
    auto limitOf = [](double d) {
        const double grown = d * (1.0 + 1e-9) + 1e-12;
        return grown * grown;
    };
    double limit2 = limitOf(bound);
    for (int32_t i = 0; segs != nullptr && i < n; ++i) {
        const Seg2D& s = segs[i];
        const double xlo = s.x1 < s.x2 ? s.x1 : s.x2, xhi = s.x1 < s.x2 ? s.x2 : s.x1;
        const double ylo = s.y1 < s.y2 ? s.y1 : s.y2, yhi = s.y1 < s.y2 ? s.y2 : s.y1;
        const double ax = xlo - kGrow - p->x, bx = p->x - xhi - kGrow;
        const double ay = ylo - kGrow - p->y, by = p->y - yhi - kGrow;
        const double dx = ax > 0.0 ? ax : bx > 0.0 ? bx : 0.0, dy = ay > 0.0 ? ay : by > 0.0 ? by : 0.0;
        if (i > 0 && dx * dx + dy * dy > limit2) continue;
        const double d = distPointSeg2D(p, &s);
        if (i == 0 || d < best) {
            best = d;
            bestIndex = i;
            if (d < bound) limit2 = limitOf(d);
        }
    }
    if (outIndex) *outIndex = bestIndex;
    return best;
}

int segTurn2D(const Seg2D* segA, const Seg2D* segB, int* out) {
    Vec2 u, w;
    if (!segDir2D(segA, &u) || !segDir2D(segB, &w)) return 0;
    const double c = u.x * w.y - u.y * w.x;
    if (std::fabs(c) >= 0.005)
        *out = c > 0 ? 1 : -1;
    else
        *out = vecDot2D(&u, &w) >= 0 ? 0 : -2;
    return 1;
}

int pointInPolyWinding2D(const Seg2D* segs, int32_t n, const Vec2* p) {
    if (segs == nullptr || n < 1) return 0;
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i)
        sum +=
            turnAngle2D(p->x - segs[i].x1, p->y - segs[i].y1, 0.0, 0.0, segs[i].x2 - p->x, segs[i].y2 - p->y);
    if (sum < -0.01) return -1;
    if (sum > 0.01) return 1;
    return 0;
}

int polyOrient2D(const Seg2D* segs, int32_t n) {
    if (segs == nullptr || n < 2) return 0;
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const Seg2D& next = segs[(i + 1) % n];
        const Seg2D& prev = segs[(i + n - 1) % n];
        sum += segs[i].x1 * (next.y1 - prev.y1);
    }
    if (std::fabs(sum) < kTol) return 0;
    return sum > 0 ? 1 : -1;
}

int segIsectDegenerate2D(const Seg2D* segA, const Seg2D* segB, Vec2* out) {
    const bool aPoint = isPoint(segA), bPoint = isPoint(segB);
    if (aPoint && bPoint) {
        if (!samePoint(segA->x1, segA->y1, segB->x1, segB->y1)) return 0;
        *out = Vec2{segA->x1, segA->y1};
        return 1;
    }
    if (aPoint || bPoint) {
        const Seg2D* pt = aPoint ? segA : segB;
        const Seg2D* other = aPoint ? segB : segA;
        const Vec2 p{pt->x1, pt->y1};
        if (distPointSeg2D(&p, other) >= kTol) return 0;
        *out = p;
        return 1;
    }
    return 0;
}

int lineLineIsect2D(const Seg2D* segA, const Seg2D* segB, Vec2* out) {
    if (isPoint(segA) || isPoint(segB)) return segIsectDegenerate2D(segA, segB, out);
    // Each line as n . q = c with its unit normal n.
    const double dxA = segA->x2 - segA->x1, dyA = segA->y2 - segA->y1;
    const double dxB = segB->x2 - segB->x1, dyB = segB->y2 - segB->y1;
    const double lenA = hyp(dxA, dyA), lenB = hyp(dxB, dyB);
    const double nAx = dyA / lenA, nAy = -dxA / lenA;
    const double nBx = dyB / lenB, nBy = -dxB / lenB;
    const double cA = nAx * segA->x1 + nAy * segA->y1;
    const double cB = nBx * segB->x1 + nBy * segB->y1;
    const double det = nAx * nBy - nAy * nBx;
    const double numX = cA * nBy - cB * nAy;
    const double numY = nAx * cB - nBx * cA;
    if (std::fabs(det) >= kTol) {
        *out = Vec2{numX / det, numY / det};
        return 1;
    }
    return std::fabs(numX) < kTol && std::fabs(numY) < kTol ? -1 : 0;
}

int segSegIsect2D(const Seg2D* segA, const Seg2D* segB, Vec2* out) {
    *out = Vec2{0, 0};
    Vec2 p{0, 0};
    const int r = lineLineIsect2D(segA, segB, &p);
    if (r == 0) return 0;
    if (r == 1) {
        if (!pointInSegBox2D(&p, segA) || !pointInSegBox2D(&p, segB)) return 0;
        *out = p;
        return 1;
    }
    // Same line: compare the spans on the axis along which segA extends more.
    const bool onX = std::fabs(segA->y2 - segA->y1) <= std::fabs(segA->x2 - segA->x1);
    const double a1 = onX ? segA->x1 : segA->y1, a2 = onX ? segA->x2 : segA->y2;
    const double b1 = onX ? segB->x1 : segB->y1, b2 = onX ? segB->x2 : segB->y2;
    const double aLo = a1 <= a2 ? a1 : a2, aHi = a1 <= a2 ? a2 : a1;
    const double bLo = b1 <= b2 ? b1 : b2, bHi = b1 <= b2 ? b2 : b1;
    if (std::fabs(bHi - aLo) < 1e-4) {
        *out = a1 <= a2 ? Vec2{segA->x1, segA->y1} : Vec2{segA->x2, segA->y2};
        return 1;
    }
    if (isEqualTol(bLo, aHi)) {
        *out = b1 <= b2 ? Vec2{segB->x1, segB->y1} : Vec2{segB->x2, segB->y2};
        return 1;
    }
    if (bHi >= aLo && aHi >= bLo) return -1;
    return 0;
}

int lineCircleIsect2D(const Seg2D* seg, const double* circle, Vec2* out1, Vec2* out2) {
    const double cx = circle[0], cy = circle[1], r = circle[6];
    if (isPoint(seg)) return 0;
    const double d = distPointLine2D(cx, cy, seg);
    if (r + kTol < d) return 0;
    if (std::fabs(d - r) < kTol) {
        double fx = 0, fy = 0;
        if (!footOnLine2D(seg, cx, cy, &fx, &fy)) return 0;
        *out1 = Vec2{fx, fy};
        return 1;
    }
    const double x1 = seg->x1, y1 = seg->y1, x2 = seg->x2, y2 = seg->y2;
    if (std::fabs(x1 - x2) < kTol) {
        const double D = r * r - (x1 - cx) * (x1 - cx);
        if (D < 0) return 0;
        const double s = std::sqrt(D);
        *out1 = Vec2{x1, cy - s};
        if (s < kTol) return 1;
        *out2 = Vec2{x2, cy + s};
        return 2;
    }
    const double m = (y2 - y1) / (x2 - x1);
    const double b = (x1 * y2 - x2 * y1) / (x1 - x2);
    const double D = r * r * (1 + m * m) - (b + m * cx - cy) * (b + m * cx - cy);
    if (D < 0) return 0;
    const double sD = std::sqrt(D);
    const double xm = (cx + m * (cy - b) - sD) / (1 + m * m);
    const double xp = (cx + m * (cy - b) + sD) / (1 + m * m);
    if (std::fabs(m) >= kTol) {
        // y from the inverse slope keeps steep lines accurate.
        const double k = 1 / m;
        const double D2 = r * r * (1 + k * k) - (k * (cy - b) - cx) * (k * (cy - b) - cx);
        if (D2 < 0) return 0;
        const double sD2 = std::sqrt(D2);
        const double ym = b + (k * cx + (cy - b) - sD2) / (1 + k * k);
        const double yp = b + (k * cx + (cy - b) + sD2) / (1 + k * k);
        *out1 = Vec2{xm, m > 0 ? ym : yp};
        *out2 = Vec2{xp, m > 0 ? yp : ym};
        return 2;
    }
    *out1 = Vec2{xm, b};
    if (sD < kTol) return 1;
    *out2 = Vec2{xp, b};
    return 2;
}

int segCircleIsect2D(const Seg2D* seg, const double* circle, Vec2 out[2]) {
    const int n = lineCircleIsect2D(seg, circle, &out[0], &out[1]);
    if (n == 0) return 0;
    if (n == 1) return pointInSegBox2D(&out[0], seg) ? -1 : 0;
    const bool first = pointInSegBox2D(&out[0], seg), second = pointInSegBox2D(&out[1], seg);
    if (first && second) return 2;
    if (first) return 1;
    if (second) {
        out[0] = out[1];
        return 1;
    }
    return 0;
}

int vecRotateToward3D(Vec3* out, const Vec3* v, const Vec3* w, double angle) {
    Vec3 b1, b2;
    if (crossUnit3D(v, w, &b1) != 0 || crossUnit3D(&b1, v, &b2) != 0) {
        *out = *v;
        return -1;
    }
    const double c = std::cos(angle), s = std::sin(angle);
    *out = Vec3{v->x * c + b2.x * s, v->y * c + b2.y * s, v->z * c + b2.z * s};
    return 0;
}

int vecRotateTowardClamped3D(Vec3* out, const Vec3* v, const Vec3* w, double step) {
    if (acosClamped(vecDot3D(v, w)) < step) {
        *out = *w;
        return 1;
    }
    return vecRotateToward3D(out, v, w, step);
}

int vecStepTowardPolar3D(Vec3* out, const Vec3* v, const Vec3* w, double step) {
    const double a = acosClamped(vecDot3D(v, w));
    if (!(a - kTol >= step && a >= kTol)) {
        *out = *w;
        return 1;
    }
    Vec3 hv, hw;
    if (vecUnitXY3D(v, &hv) != 1 || vecUnitXY3D(w, &hw) != 1) return -1;
    const double f = step / a;
    const double phi = acosClamped(vecDot3D(&hv, &hw)) * f;
    Vec3 h;
    vecRotateTowardClamped3D(&h, &hv, &hw, phi);
    // Clamped: a z a hair beyond +-1 would otherwise turn the whole result into NaN.
    const double tv = acosClamped(v->z), tw = acosClamped(w->z);
    const double t = tw * f + tv * (1 - f);
    const double z = std::cos(t), s = sqrtPos(1 - z * z);
    *out = Vec3{h.x * s, h.y * s, z};
    return 0;
}
