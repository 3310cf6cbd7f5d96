#include "KVWOG5/geocalc.h"

#include <cmath>
#include <utility>

#include "KVWOG5/pred2d.h"
#include "KVWOG5/wogerr.h"

int lineCircleIntersect2D(double a, double b, double c, const ToolCircle* circle, Vec2* p1, Vec2* p2) {
    if (a == 0.0 && b == 0.0) return kGeoNoLine;
    const double cx = circle->cx, cy = circle->cy, r = circle->radius;
    // Solve for the coordinate with the larger coefficient: u = m*v + q, then
    // (1 + m^2) v^2 + 2(m(q - cu) - cv) v + (q - cu)^2 + cv^2 - r^2 = 0.
    const bool solveX = std::fabs(a) > std::fabs(b);
    const double m = solveX ? -b / a : -a / b;
    const double q = solveX ? -c / a : -c / b;
    const double cu = solveX ? cx : cy, cv = solveX ? cy : cx;
    double v1 = 0.0, v2 = 0.0;
    int n = wogSolveQuadratic(1.0 + m * m, 2.0 * (m * (q - cu) - cv), (q - cu) * (q - cu) + cv * cv - r * r,
                              &v1, &v2);
    if (n <= 0) return 0;
    const double u1 = m * v1 + q, u2 = m * v2 + q;
    if (solveX) {
        *p1 = Vec2{u1, v1};
        *p2 = Vec2{u2, v2};
    } else {
        *p1 = Vec2{v1, u1};
        *p2 = Vec2{v2, u2};
    }
    return n;
}

int arcAngleOf2D(const Vec2* a, const Vec2* centre, const Vec2* b, int32_t direction, double* angle) {
    Vec2 ca = *a, cc = *centre, cb = *b;
    arcPointsCenter2D(&ca, &cc, &cb, direction, angle);
    return 0;
}

double wogDist3D(const Vec3* p, const Vec3* q) {
    const double dx = p->x - q->x, dy = p->y - q->y, dz = p->z - q->z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

double distPointLine3D(const Vec3* p, const double* seg) {
    const Vec3 s1{seg[0], seg[1], seg[2]}, s2{seg[3], seg[4], seg[5]};
    const double dx = s2.x - s1.x, dy = s2.y - s1.y, dz = s2.z - s1.z;
    const double len2 = dx * dx + dy * dy + dz * dz;
    if (len2 < 1e-6) return std::fmin(wogDist3D(p, &s1), wogDist3D(p, &s2));
    const double wx = p->x - s1.x, wy = p->y - s1.y, wz = p->z - s1.z;
    const double cx = wy * dz - wz * dy, cy = wz * dx - wx * dz, cz = wx * dy - wy * dx;
    return std::sqrt(cx * cx + cy * cy + cz * cz) / std::sqrt(len2);
}

namespace {

const char kSourceFile[] = "GEOCALC";
const int32_t kLineStartSign = 1857, kLineEndSign = 1861, kLineNoBracket = 1879, kLineContact = 1912;
// Regula falsi converges to rounding level in a few dozen steps; a bracket that keeps creeping
// by one unit in the last place must still end.
const int kIllinoisMaxSteps = 100;

Vec3 segEnd(const double* seg, int which) {
    return which == 0 ? Vec3{seg[0], seg[1], seg[2]} : Vec3{seg[3], seg[4], seg[5]};
}

// Root of f in [lo, hi] where f(lo) and f(hi) differ in sign, by regula falsi with the Illinois
// modification: the value of an end that stays twice in a row is halved.
template <class F>
double illinoisRoot(F f, double lo, double hi, double flo, double fhi) {
    if (flo == 0.0) return lo;
    if (fhi == 0.0) return hi;
    int kept = 0;  // -1: lo stayed last time, +1: hi stayed
    double t = lo;
    for (int step = 0; step < kIllinoisMaxSteps; step++) {
        const double next = (lo * fhi - hi * flo) / (fhi - flo);
        if (!(next > lo && next < hi)) return std::fmin(std::fmax(next, lo), hi);  // no movement left
        t = next;
        const double ft = f(t);
        if (ft == 0.0) return t;
        if ((ft < 0.0) == (flo < 0.0)) {
            lo = t;
            flo = ft;
            if (kept == 1) fhi *= 0.5;
            kept = 1;
        } else {
            hi = t;
            fhi = ft;
            if (kept == -1) flo *= 0.5;
            kept = -1;
        }
    }
    return t;
}

// Nearest point in the ellipse's own frame to (u, v) in that frame.
int nearestInFrame(double u, double v, double a, double b, Vec2* q) {
    if (!(a > 0.0) || !(b > 0.0)) return 0;
    const double sx = u < 0.0 ? -1.0 : 1.0, sy = v < 0.0 ? -1.0 : 1.0;
    u = std::fabs(u);
    v = std::fabs(v);
    if (u < 1e-5 && v < 1e-5) return 0;
    double x, y;
    if (v < 1e-10) {
        // On the a axis: a foot off the axis exists only inside the evolute's cusp.
        const double k = a * a - b * b;
        if (k > 0.0 && u < k / a) {
            x = a * a * u / k;
            y = b * std::sqrt(std::fmax(0.0, 1.0 - (x / a) * (x / a)));
        } else {
            x = a;
            y = 0.0;
        }
    } else if (u < 1e-10) {
        const double k = b * b - a * a;
        if (k > 0.0 && v < k / b) {
            y = b * b * v / k;
            x = a * std::sqrt(std::fmax(0.0, 1.0 - (y / b) * (y / b)));
        } else {
            x = 0.0;
            y = b;
        }
    } else {
        // x = a(1 - t^2)/(1 + t^2), y = 2bt/(1 + t^2); the normal through (u, v) gives
        // -bv t^4 - 2(a^2 - b^2 + au) t^3 + 2(a^2 - b^2 - au) t + bv = 0, positive at 0, negative at 1.
        const double k = a * a - b * b;
        const double c4 = -b * v, c3 = -2.0 * (k + a * u), c1 = 2.0 * (k - a * u), c0 = b * v;
        auto poly = [&](double t) { return (((c4 * t + c3) * t) * t + c1) * t + c0; };
        static const double kBrackets[4][2] = {{0.499, 0.501}, {0.49, 0.51}, {0.4, 0.6}, {0.0, 1.0}};
        double lo = 0.0, hi = 1.0, flo = poly(0.0), fhi = poly(1.0);
        for (const auto& br : kBrackets) {
            const double f0 = poly(br[0]), f1 = poly(br[1]);
            if ((f0 <= 0.0) != (f1 <= 0.0) || f0 == 0.0 || f1 == 0.0) {
                lo = br[0], hi = br[1], flo = f0, fhi = f1;
                break;
            }
        }
        const double t = illinoisRoot(poly, lo, hi, flo, fhi);
        x = a * (1.0 - t * t) / (1.0 + t * t);
        y = 2.0 * b * t / (1.0 + t * t);
    }
    q->x = sx * x;
    q->y = sy * y;
    return 1;
}

void toFrame(const Ellipse2D* e, const Vec2* p, double* u, double* v) {
    const double c = std::cos(e->angle), s = std::sin(e->angle);
    const double dx = p->x - e->cx, dy = p->y - e->cy;
    *u = c * dx + s * dy;
    *v = -s * dx + c * dy;
}

Vec2 fromFrame(const Ellipse2D* e, double u, double v) {
    const double c = std::cos(e->angle), s = std::sin(e->angle);
    return Vec2{e->cx + c * u - s * v, e->cy + s * u + c * v};
}

}  // namespace

int trianglePlane3D(const double* tri, double* a, double* b, double* c, double* d) {
    const double ux = tri[3] - tri[0], uy = tri[4] - tri[1], uz = tri[5] - tri[2];
    const double vx = tri[6] - tri[0], vy = tri[7] - tri[1], vz = tri[8] - tri[2];
    double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
    const int ok = len >= 1e-12;
    if (ok) nx /= len, ny /= len, nz /= len;
    *a = nx;
    *b = ny;
    *c = nz;
    *d = -(nx * tri[0] + ny * tri[1] + nz * tri[2]);
    return ok;
}

int sideOfPlane3D(const Vec3* p, double a, double b, double c, double d) {
    const double v = a * p->x + b * p->y + c * p->z + d;
    return v < 0.0 ? -1 : (v > 0.0 ? 1 : 0);
}

int footOnSeg3D(const Vec3* p, const double* seg, Vec3* out) {
    const Vec3 s1 = segEnd(seg, 0), s2 = segEnd(seg, 1);
    const double dx = s2.x - s1.x, dy = s2.y - s1.y, dz = s2.z - s1.z;
    const double len2 = dx * dx + dy * dy + dz * dz;
    if (len2 < 1e-12) {
        *out = wogDist3D(p, &s1) < wogDist3D(p, &s2) ? s1 : s2;
        return 1;
    }
    const double t = ((p->x - s1.x) * dx + (p->y - s1.y) * dy + (p->z - s1.z) * dz) / len2;
    *out = Vec3{s1.x + t * dx, s1.y + t * dy, s1.z + t * dz};
    return t >= 0.0 && t <= 1.0;
}

int pointInTriangle3D(const Vec3* p, const double* tri, Vec3* out) {
    double a, b, c, d;
    *out = *p;
    if (!trianglePlane3D(tri, &a, &b, &c, &d)) return 0;
    const double dist = a * p->x + b * p->y + c * p->z + d;
    *out = Vec3{p->x - dist * a, p->y - dist * b, p->z - dist * c};
    if (std::fabs(a * out->x + b * out->y + c * out->z + d) >= 1e-6) return 0;
    // Work in the coordinate plane the triangle is least tilted against.
    const double ax = std::fabs(a), ay = std::fabs(b), az = std::fabs(c);
    const int drop = (ax >= ay && ax >= az) ? 0 : (ay >= az ? 1 : 2);
    auto plan = [drop](double x, double y, double z) {
        return drop == 0 ? Vec2{y, z} : (drop == 1 ? Vec2{x, z} : Vec2{x, y});
    };
    const Vec2 q = plan(out->x, out->y, out->z);
    Vec2 v[3];
    for (int i = 0; i < 3; i++) v[i] = plan(tri[3 * i], tri[3 * i + 1], tri[3 * i + 2]);
    for (int i = 0; i < 3; i++) {
        const Vec2& e1 = v[i];
        const Vec2& e2 = v[(i + 1) % 3];
        const Vec2& opposite = v[(i + 2) % 3];
        const Seg2D edge{e1.x, e1.y, e2.x, e2.y};
        double la, lb, lc;
        segLineEquation2D(&edge, &la, &lb, &lc);
        const int sideV = sideOfLine2D(&opposite, la, lb, lc);
        if (sideV == 0) return 0;
        const int sideQ = sideOfLine2D(&q, la, lb, lc);
        if (sideQ != 0 && sideQ != sideV) return 0;
    }
    return 1;
}

int cylinderSliceZ(const double* seg, double r, double h, Seg2D* line1, Seg2D* line2, Ellipse2D* ellipse) {
    Vec3 lo = segEnd(seg, 0), up = segEnd(seg, 1);
    if (up.z < lo.z) std::swap(lo, up);
    const double dx = up.x - lo.x, dy = up.y - lo.y, dz = up.z - lo.z;
    const double len = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (len < 1e-12) return 0;
    const double s = dz / len;
    if (s >= 1e-5) {
        const double k = (h - lo.z) / dz;
        ellipse->cx = lo.x + k * dx;
        ellipse->cy = lo.y + k * dy;
        ellipse->a = r / s;
        ellipse->b = r;
        ellipse->angle = dx == 0.0 ? std::acos(0.0) : std::atan2(dy, dx);
        return 3;
    }
    const double e = std::fabs(h - up.z);
    if (r < e + 1e-6) return 0;
    const Seg2D axis{lo.x, lo.y, up.x, up.y};
    if (r < e + 0.001) {
        *line1 = axis;
        return 1;
    }
    const double w = std::sqrt(r * r - e * e), plan = std::hypot(dx, dy);
    const double ox = -dy / plan * w, oy = dx / plan * w;
    *line1 = Seg2D{axis.x1 + ox, axis.y1 + oy, axis.x2 + ox, axis.y2 + oy};
    *line2 = Seg2D{axis.x1 - ox, axis.y1 - oy, axis.x2 - ox, axis.y2 - oy};
    return 2;
}

int torusFaceContact(const Vec3* p, double R, double r, const double* tri, Vec3* out) {
    double a, b, c, d;
    if (!trianglePlane3D(tri, &a, &b, &c, &d)) return kGeoDegenerateTri;
    const int s = sideOfPlane3D(p, a, b, c, d);
    if (s == 0) return 0;
    d -= s * r;
    Vec3 q;
    if (std::fmax(std::fabs(a), std::fabs(b)) < 1e-12) {
        // A level face has no trace line at p's height: only p's own height can touch it.
        if (std::fabs(a * p->x + b * p->y + c * p->z + d) >= 1e-5) return 0;
        q = *p;
    } else {
        double trace[6];
        if (std::fabs(a) > std::fabs(b)) {
            const double y1 = p->y - R, y2 = p->y + R;
            trace[0] = -(b * y1 + c * p->z + d) / a, trace[1] = y1;
            trace[3] = -(b * y2 + c * p->z + d) / a, trace[4] = y2;
        } else {
            const double x1 = p->x - R, x2 = p->x + R;
            trace[0] = x1, trace[1] = -(a * x1 + c * p->z + d) / b;
            trace[3] = x2, trace[4] = -(a * x2 + c * p->z + d) / b;
        }
        trace[2] = trace[5] = p->z;
        footOnSeg3D(p, trace, &q);
    }
    return pointInTriangle3D(&q, tri, out);
}

int ellipseNearestPoint(const Vec2* p, const Ellipse2D* ellipse, Vec2* out) {
    double u, v;
    toFrame(ellipse, p, &u, &v);
    Vec2 q;
    if (!nearestInFrame(u, v, ellipse->a, ellipse->b, &q)) return 0;
    *out = fromFrame(ellipse, q.x, q.y);
    return 1;
}

int ellipseCurvatureCircle(const Ellipse2D* ellipse, double offset, const Vec2* p, ToolCircle* circle) {
    double u, v;
    toFrame(ellipse, p, &u, &v);
    Vec2 q;
    const int found = nearestInFrame(u, v, ellipse->a, ellipse->b, &q);
    if (found != 1) {
        circle->radius = offset;
        return found - 12;
    }
    const double a = ellipse->a, b = ellipse->b;
    const double ex = (1.0 - (b / a) * (b / a)) * (q.x / a) * (q.x / a) * q.x;
    const double ey = (1.0 - (a / b) * (a / b)) * (q.y / b) * (q.y / b) * q.y;
    const Vec2 centre = fromFrame(ellipse, ex, ey);
    circle->cx = centre.x;
    circle->cy = centre.y;
    circle->radius = std::hypot(q.x - ex, q.y - ey) + offset;
    circle->flag = 1;
    return 1;
}

int geoCurvedToolContact(const Vec3* p, double R, double r, const double* seg, Vec3* out) {
    const Vec3 s1 = segEnd(seg, 0);
    const double dx = seg[3] - seg[0], dy = seg[4] - seg[1], dz = seg[5] - seg[2];
    const double wx = s1.x - p->x, wy = s1.y - p->y, wz = s1.z - p->z;
    // The torus' implicit function (|X|^2 + R^2 - r^2)^2 - 4R^2 (X.x^2 + X.y^2) along X = w + t*d is
    // the quartic A^2 t^4 + K t^3 + M t^2 + N t + const; G is its derivative.
    const double A = dx * dx + dy * dy + dz * dz, B = wx * dx + wy * dy + wz * dz;
    const double Ah = dx * dx + dy * dy, Bh = wx * dx + wy * dy;
    const double E = wx * wx + wy * wy + wz * wz + R * R - r * r;
    const double K = 4.0 * A * B, M = 4.0 * B * B + 2.0 * A * E - 4.0 * R * R * Ah;
    const double N = 4.0 * B * E - 8.0 * R * R * Bh;
    double x1, x2;
    if (wogSolveQuadratic(12.0 * A * A, 6.0 * K, 2.0 * M, &x1, &x2) != 0) {
        Seg2D l1, l2;
        Ellipse2D el;
        const int slice = cylinderSliceZ(seg, r, p->z, &l1, &l2, &el);
        if (slice == 1 || slice == 2) return footOnSeg3D(p, seg, out);
        if (slice != 3) return slice;
        const Vec2 pp{p->x, p->y};
        Vec2 q;
        const int found = ellipseNearestPoint(&pp, &el, &q);
        if (found != 1) return found;
        const Vec3 q3{q.x, q.y, p->z};
        return footOnSeg3D(&q3, seg, out);
    }
    // G rises monotonically: the contact is its one sign change inside the segment.
    auto G = [&](double t) { return ((4.0 * A * A * t + 3.0 * K) * t + 2.0 * M) * t + N; };
    const double g0 = G(0.0), g1 = G(1.0);
    auto miss = [](int32_t line) {
        wogError(0, kSourceFile, line);
        return 0;
    };
    if (!(g0 < -0.01)) return miss(kLineStartSign);
    if (!(g1 > 0.01)) return miss(kLineEndSign);
    if ((g0 < 0.0) == (g1 < 0.0)) return miss(kLineNoBracket);
    const double t = illinoisRoot(G, 0.0, 1.0, g0, g1);
    *out = Vec3{s1.x + t * dx, s1.y + t * dy, s1.z + t * dz};
    wogError(1, kSourceFile, kLineContact);
    return 1;
}
