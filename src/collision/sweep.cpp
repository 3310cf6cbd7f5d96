#include "collision/sweep.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

Vec3 gDir{0.0, 0.0, -1.0};

inline Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 add(const Vec3& a, const Vec3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 mul(double k, const Vec3& a) {
    return {k * a.x, k * a.y, k * a.z};
}
inline double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Derivative of the lag with respect to rho.
double lagSlope(const SweepShape* sh, double rho) {
    switch (sh->kind) {
        case kShapeSphere: {
            const double q = sh->a * sh->a - rho * rho;
            return q > 0 ? rho / std::sqrt(q) : std::numeric_limits<double>::infinity();
        }
        case kShapeTorus: {
            if (rho <= sh->a) return 0.0;
            const double h = rho - sh->a;
            const double q = sh->r * sh->r - h * h;
            return q > 0 ? h / std::sqrt(q) : std::numeric_limits<double>::infinity();
        }
        case kShapeFrustum:
            if (sh->r1 >= sh->r2 || rho <= sh->r1) return 0.0;
            return (sh->z2 - sh->z1) / (sh->r2 - sh->r1);
        default:
            return 0.0;
    }
}

// Second derivative of the lag with respect to rho (0 where it is linear or constant).
double lagCurve(const SweepShape* sh, double rho) {
    if (sh->kind == kShapeTorus && rho > sh->a) {
        const double h = rho - sh->a;
        const double q = sh->r * sh->r - h * h;
        return q > 0 ? sh->r * sh->r / (q * std::sqrt(q)) : std::numeric_limits<double>::infinity();
    }
    if (sh->kind == kShapeSphere) {
        const double q = sh->a * sh->a - rho * rho;
        return q > 0 ? sh->a * sh->a / (q * std::sqrt(q)) : std::numeric_limits<double>::infinity();
    }
    return 0.0;
}

// The plane of a triangle, with its normal turned along the motion.
struct Plane {
    Vec3 q0, e1, e2, n;
    double c, D, sn;
    int mode;  // 0 motion parallel to the plane (or a degenerate triangle), 1 oblique, 2 along the normal
    double d00, d01, d11, denom;
};

// The ball reads no sine (it costs a square root and a library call).
void planeOf(const KernelBlock* b, const Vec3& d, Plane* p, bool sine = true) {
    p->q0 = b->tri[0];
    p->e1 = sub(b->tri[1], b->tri[0]);
    p->e2 = sub(b->tri[2], b->tri[0]);
    const Vec3 cr = cross(p->e1, p->e2);
    const double len = std::sqrt(dot(cr, cr));
    p->mode = 0;
    p->c = 0.0;
    p->n = {0, 0, 0};
    if (len >= 1e-5) {
        p->n = mul(1.0 / len, cr);
        if (dot(p->n, d) < 0) p->n = mul(-1.0, p->n);
        p->c = dot(p->n, d);
        if (p->c >= 1e-7) p->mode = p->c <= 0.9999999 ? 1 : 2;
    }
    p->D = -dot(p->n, p->q0);
    p->sn = sine ? std::sqrt(std::fmax(0.0, 1.0 - p->c * p->c)) : 0.0;
    p->d00 = dot(p->e1, p->e1);
    p->d01 = dot(p->e1, p->e2);
    p->d11 = dot(p->e2, p->e2);
    p->denom = p->d00 * p->d11 - p->d01 * p->d01;
}

bool insideFace(const Plane* p, const Vec3& x) {
    if (p->denom == 0.0) return false;
    const Vec3 w = sub(x, p->q0);
    const double d20 = dot(w, p->e1), d21 = dot(w, p->e2);
    const double u = (p->d11 * d20 - p->d01 * d21) / p->denom;
    const double v = (p->d00 * d21 - p->d01 * d20) / p->denom;
    return u >= 0 && v >= 0 && u <= 1 && v <= 1 && u + v <= 1;
}

// The feature tests of a kernel: every edge (corners come with the edge ends) against the shape.
// The contact class of a feature contact: 2 where the flat bottom of a flat end or radius mill
// touched (an edge across the axis, a corner under the bottom), else 1.
int32_t featureClass(const SweepShape* shape, const SweepHit& hit, const Vec3& a, const Vec3& b) {
    const Vec3 e = sub(b, a);
    const double along = std::fabs(dot(e, gDir));
    if (shape->kind == kShapeDisc) return along < 1e-6 * std::sqrt(dot(e, e)) ? 2 : 1;
    if (shape->kind == kShapeTorus)
        return (along < 1e-5 || (hit.flat && (hit.t == 0.0 || hit.t == 1.0))) ? 2 : 1;
    return 1;
}

bool edgeTests(const SweepShape* shape, const KernelBlock* b, const int order[3][2], double reach,
               double* local, Vec3* contact, int32_t* cls) {
    bool found = false;
    for (int k = 0; k < 3; ++k) {
        const Vec3& qa = b->tri[order[k][0]];
        const Vec3& qb = b->tri[order[k][1]];
        SweepHit hit;
        if (!sweepSegment(shape, &qa, &qb, &b->start, &gDir, reach, &hit)) continue;
        found = true;
        if (-hit.travel > *local) {
            *local = -hit.travel;
            *contact = hit.point;
            *cls = featureClass(shape, hit, qa, qb);
        }
    }
    return found;
}

const int kOrder012[3][2] = {{0, 1}, {0, 2}, {1, 2}};
const int kOrderRing[3][2] = {{0, 1}, {1, 2}, {2, 0}};

uint16_t handBack(KernelBlock* b, bool found, uint16_t code, double local, const Vec3& contact, bool strict) {
    if (!found) return kSweepNone;
    if (strict ? local > b->best : local >= b->best) {
        b->best = local;
        b->contact = contact;
        return code;
    }
    return kSweepNone;
}

// A face contact at travel s and point x: true when x lies inside (the features are then skipped).
bool faceTest(const Plane* p, double s, const Vec3& x, double* local, Vec3* contact, uint16_t* code) {
    if (!insideFace(p, x)) return false;
    if (-s > *local) {
        *local = -s;
        *contact = x;
        *code = kSweepFace;
    } else {
        *code = kSweepEdge;
    }
    return true;
}

}  // namespace

void sweepSetDirection(const Vec3* d) {
    gDir = *d;
}
const Vec3* sweepDirection() {
    return &gDir;
}

namespace {

// Inlined into the segment contact, which the departure sweeps call about a million times a run.
[[gnu::always_inline]] inline double reachOf(const SweepShape* sh) {
    switch (sh->kind) {
        case kShapeTorus:
            return sh->a + sh->r;
        case kShapeFrustum:
            return std::fmax(sh->r1, sh->r2);
        default:
            return sh->a;
    }
}

[[gnu::always_inline]] inline double lagOf(const SweepShape* sh, double rho) {
    if (rho > reachOf(sh)) return std::numeric_limits<double>::infinity();
    switch (sh->kind) {
        case kShapeSphere:
            return -std::sqrt(std::fmax(0.0, sh->a * sh->a - rho * rho));
        case kShapeTorus: {
            if (rho <= sh->a) return -sh->r;
            const double h = rho - sh->a;
            return -std::sqrt(std::fmax(0.0, sh->r * sh->r - h * h));
        }
        case kShapeFrustum:
            if (sh->r1 >= sh->r2 || rho <= sh->r1) return sh->z1;
            return sh->z1 + (rho - sh->r1) * (sh->z2 - sh->z1) / (sh->r2 - sh->r1);
        default:
            return 0.0;
    }
}

}  // namespace

double sweepShapeReach(const SweepShape* sh) {
    return reachOf(sh);
}

double sweepShapeLag(const SweepShape* sh, double rho) {
    return lagOf(sh, rho);
}

int sweepSegment(const SweepShape* sh, const Vec3* a, const Vec3* b, const Vec3* s, const Vec3* d,
                 double reach, SweepHit* hit) {
    if (!(reach > 0)) return 0;
    // reach bounds the distance of the segment's line from the axis (and of a corner touching a curved
    // shape); the contact itself may lie anywhere on the shape.
    const double full = reachOf(sh);
    const Vec3 ev = sub(*b, *a);
    const Vec3 w0 = sub(*a, *s);
    const double e0 = dot(w0, *d), ed = dot(ev, *d);
    const Vec3 p0 = sub(w0, mul(e0, *d));
    const Vec3 pe = sub(ev, mul(ed, *d));
    const double A = dot(pe, pe), B = dot(p0, pe), C = dot(p0, p0);
    double t;
    if (A < 1e-20) {
        // Along the axis (or a point): every point of it lies at the same distance from the axis.
        if (C > reach * reach) return 0;
        t = ed >= 0 ? 0.0 : 1.0;
        if (A == 0.0) t = 0.0;
    } else {
        const double delta2 = std::fmax(0.0, C - B * B / A);
        if (delta2 > reach * reach) return 0;
        const double sa = std::sqrt(A);
        const double tc = -B / A;
        const double half = std::sqrt(std::fmax(0.0, full * full - delta2) / A);
        const double lo = std::fmax(0.0, tc - half), hi = std::fmin(1.0, tc + half);
        if (lo > hi) return 0;
        // Along the segment, in plan distance u from the point nearest the axis: g(u) = k u + lag(rho(u))
        // is convex, so its least value on [uLo, uHi] is at the clipped root of g'.
        const double k = ed / sa;
        double uLo = (lo - tc) * sa, uHi = (hi - tc) * sa;
        double u;
        if (sh->kind == kShapeSphere) {
            const double rr = std::sqrt(std::fmax(0.0, sh->a * sh->a - delta2));
            u = -k * rr / std::sqrt(1.0 + k * k);
        } else if (sh->kind == kShapeDisc) {
            u = k > 0 ? uLo : (k < 0 ? uHi : 0.0);
        } else {
            auto slope = [&](double uu) {
                const double rho = std::sqrt(delta2 + uu * uu);
                return rho > 0 ? k + lagSlope(sh, rho) * uu / rho : k;
            };
            if (slope(uLo) >= 0) {
                u = uLo;
            } else if (slope(uHi) <= 0) {
                u = uHi;
            } else {
                // Newton on the monotone slope, kept inside the shrinking bracket: where the lag bends
                // sharply (the torus rim, the frustum's kink) a step that leaves it falls back to bisection.
                auto curve = [&](double uu) {
                    const double rho = std::sqrt(delta2 + uu * uu);
                    if (rho <= 0) return 0.0;
                    const double c = uu / rho;
                    return lagCurve(sh, rho) * c * c + lagSlope(sh, rho) * delta2 / (rho * rho * rho);
                };
                u = 0.5 * (uLo + uHi);
                for (int it = 0; it < 200; ++it) {
                    const double g1 = slope(u);
                    if (g1 == 0) break;
                    if (g1 < 0)
                        uLo = u;
                    else
                        uHi = u;
                    if (uHi - uLo <= 1e-15 * (1.0 + std::fabs(uLo) + std::fabs(uHi))) break;
                    const double g2 = curve(u);
                    double next = g2 > 0 ? u - g1 / g2 : 0.5 * (uLo + uHi);
                    if (!(next > uLo && next < uHi)) next = 0.5 * (uLo + uHi);
                    const bool settled = std::fabs(next - u) <= 1e-15 * (1.0 + std::fabs(u));
                    u = next;
                    if (settled) break;
                }
            }
        }
        if (u < (lo - tc) * sa) u = (lo - tc) * sa;
        if (u > (hi - tc) * sa) u = (hi - tc) * sa;
        t = tc + u / sa;
        if (t < lo) t = lo;
        if (t > hi) t = hi;
    }
    const Vec3 x = add(*a, mul(t, ev));
    const Vec3 wx = sub(x, *s);
    const double e = dot(wx, *d);
    const Vec3 px = sub(wx, mul(e, *d));
    const double rho = std::sqrt(dot(px, px));
    if ((t == 0.0 || t == 1.0) && sh->kind != kShapeDisc && rho > reach) return 0;
    hit->t = t;
    hit->point = x;
    hit->travel = e + lagOf(sh, std::fmin(rho, reachOf(sh)));
    hit->flat = sh->kind == kShapeDisc || (sh->kind == kShapeTorus && rho <= sh->a) ||
                (sh->kind == kShapeFrustum && (sh->r1 >= sh->r2 || rho <= sh->r1));
    return 1;
}

static uint16_t kernelBall(KernelBlock* b, int32_t* cls) {
    Plane p;
    planeOf(b, gDir, &p, false);
    const double R = b->radius;
    double local = -1e6;
    Vec3 contact{};
    uint16_t code = kSweepNone;
    bool found = false;
    if (p.mode >= 1) {
        const double s = -(dot(p.n, b->start) + p.D + R) / p.c;
        const Vec3 x = add(add(b->start, mul(s, gDir)), mul(R, p.n));
        found = faceTest(&p, s, x, &local, &contact, &code);
        *cls = 1;
    }
    if (!found) {
        const SweepShape sh{kShapeSphere, R, 0, 0, 0, 0, 0};
        found = edgeTests(&sh, b, kOrder012, R - 1e-7, &local, &contact, cls);
        code = kSweepEdge;
    }
    return handBack(b, found, code, local, contact, true);
}

static uint16_t kernelDisc(KernelBlock* b, int32_t* cls) {
    Plane p;
    planeOf(b, gDir, &p);
    const double R = b->radius;
    double local = -1e6;
    Vec3 contact{};
    uint16_t code = kSweepNone;
    bool found = false;
    if (p.mode == 1) {
        const double s = -(dot(p.n, b->start) + p.D + R * p.sn) / p.c;
        const Vec3 w = mul(1.0 / p.sn, sub(p.n, mul(p.c, gDir)));
        const Vec3 x = add(add(b->start, mul(s, gDir)), mul(R, w));
        found = faceTest(&p, s, x, &local, &contact, &code);
        *cls = 1;
    } else if (p.mode == 2) {
        const double s = dot(sub(p.q0, b->start), gDir);
        found = faceTest(&p, s, add(b->start, mul(s, gDir)), &local, &contact, &code);
        *cls = 1;
    }
    if (!found) {
        const SweepShape sh{kShapeDisc, R, 0, 0, 0, 0, 0};
        found = edgeTests(&sh, b, kOrderRing, R - 1e-7, &local, &contact, cls);
        code = kSweepEdge;
    }
    return handBack(b, found, code, local, contact, false);
}

static uint16_t kernelTorus(KernelBlock* b, int32_t* cls) {
    Plane p;
    planeOf(b, gDir, &p);
    const double a = b->radius, r = b->cornerRadius;
    double local = -1e6;
    Vec3 contact{};
    uint16_t code = kSweepNone;
    bool found = false;
    if (p.mode == 1) {
        const double s = -(dot(p.n, b->start) + p.D + a * p.sn + r) / p.c;
        const Vec3 w = mul(1.0 / p.sn, sub(p.n, mul(p.c, gDir)));
        const Vec3 x = add(add(add(b->start, mul(s, gDir)), mul(a, w)), mul(r, p.n));
        found = faceTest(&p, s, x, &local, &contact, &code);
        *cls = 1;
    } else if (p.mode == 2) {
        const double s = -(dot(p.n, b->start) + p.D) / p.c - r;
        const Vec3 foot = add(b->start, mul(dot(sub(p.q0, b->start), gDir), gDir));
        found = faceTest(&p, s, foot, &local, &contact, &code);
        *cls = 1;
    }
    if (!found) {
        const SweepShape sh{kShapeTorus, a, r, 0, 0, 0, 0};
        found = edgeTests(&sh, b, kOrder012, a + r - 1e-7, &local, &contact, cls);
        code = kSweepEdge;
    }
    return handBack(b, found, code, local, contact, false);
}

uint16_t sweepBall(KernelBlock* block) {
    int32_t cls = 0;
    return kernelBall(block, &cls);
}

uint16_t sweepDisc(KernelBlock* block) {
    int32_t cls = 0;
    return kernelDisc(block, &cls);
}

uint16_t sweepTorus(KernelBlock* block) {
    int32_t cls = 0;
    return kernelTorus(block, &cls);
}

uint16_t sweepKernelClass(uint16_t toolType, KernelBlock* block, int32_t* cls) {
    int32_t c = 0;
    uint16_t code = kSweepNone;
    switch (toolType) {
        case 1:
            code = kernelBall(block, &c);
            c = 1;
            break;
        case 2:
            code = kernelDisc(block, &c);
            break;
        case 3:
            code = kernelTorus(block, &c);
            break;
        default:
            break;
    }
    if (cls) *cls = c;
    return code;
}

double sweepPlaneTravel(uint16_t toolType, const KernelBlock* b) {
    // planeOf's normal, cosine and offset, without the parts the travel does not read (its sine serves
    // the flat kernels alone).
    Plane p;
    p.q0 = b->tri[0];
    const Vec3 cr = cross(sub(b->tri[1], b->tri[0]), sub(b->tri[2], b->tri[0]));
    const double len = std::sqrt(dot(cr, cr));
    // Nearly along the plane its travel would be the quotient of rounding errors (a degenerate
    // triangle or a motion along the plane has none).
    if (!(len >= 1e-5)) return -std::numeric_limits<double>::infinity();
    p.n = mul(1.0 / len, cr);
    if (dot(p.n, gDir) < 0) p.n = mul(-1.0, p.n);
    p.c = dot(p.n, gDir);
    if (!(p.c >= 1e-7) || p.c < 1e-3) return -std::numeric_limits<double>::infinity();
    p.mode = p.c <= 0.9999999 ? 1 : 2;
    p.D = -dot(p.n, p.q0);
    p.sn = toolType == 2 || toolType == 3 ? std::sqrt(std::fmax(0.0, 1.0 - p.c * p.c)) : 0.0;
    const double h = dot(p.n, b->start) + p.D;
    // The support of each shape along the plane normal; across the motion the flat kernels take the
    // plane's travel on the axis, which a slightly tilted plane reaches later than the rim.
    switch (toolType) {
        case 1:
            return -(h + b->radius) / p.c;
        case 2: {
            const double s = -(h + b->radius * p.sn) / p.c;
            return p.mode == 2 ? std::fmin(s, dot(sub(p.q0, b->start), gDir)) : s;
        }
        case 3: {
            const double s = -(h + b->radius * p.sn + b->cornerRadius) / p.c;
            return p.mode == 2 ? std::fmin(s, -h / p.c - b->cornerRadius) : s;
        }
        default:
            return -std::numeric_limits<double>::infinity();
    }
}

double sweepReachTravel(uint16_t toolType, const KernelBlock* b) {
    // A shape of negative size reaches beyond its reference: no bound then.
    if (toolType < 1 || toolType > 3 || !(b->radius >= 0) || (toolType == 3 && !(b->cornerRadius >= 0)))
        return -std::numeric_limits<double>::infinity();
    // Each corner along the motion and across it, in the plane through the start.
    double e[3];
    Vec3 p[3];
    double scale = 0.0;
    for (int k = 0; k < 3; ++k) {
        const Vec3 w = sub(b->tri[k], b->start);
        e[k] = dot(w, gDir);
        p[k] = sub(w, mul(e[k], gDir));
        scale += std::fabs(w.x) + std::fabs(w.y) + std::fabs(w.z) + std::fabs(e[k]);
    }
    if (!(scale <= std::numeric_limits<double>::max())) return -std::numeric_limits<double>::infinity();
    // The triangle's distance from the axis: none when the axis passes through it across the motion.
    const double c0 = dot(cross(p[0], p[1]), gDir), c1 = dot(cross(p[1], p[2]), gDir),
                 c2 = dot(cross(p[2], p[0]), gDir);
    double nearest = 0.0;
    if (!((c0 >= 0 && c1 >= 0 && c2 >= 0) || (c0 <= 0 && c1 <= 0 && c2 <= 0))) {
        nearest = std::numeric_limits<double>::infinity();
        for (int k = 0; k < 3; ++k) {
            const Vec3& a = p[k];
            const Vec3 ab = sub(p[k == 2 ? 0 : k + 1], a);
            const double len = dot(ab, ab);
            const double t = len > 0 ? std::min(1.0, std::max(0.0, -dot(a, ab) / len)) : 0.0;
            const Vec3 q = add(a, mul(t, ab));
            nearest = std::min(nearest, dot(q, q));
        }
    }
    // The slack covers the rounding of the kernels' contact points, also near the rim, where the
    // shape's height changes steeply with rho.
    const double slack = 1e-7 + 1e-12 * scale;
    const double rho = std::max(0.0, std::sqrt(nearest) - slack);
    double ahead = 0.0;  // the shape's height ahead of its reference at rho
    if (toolType == 1) {
        const double a = std::min(rho, b->radius);
        ahead = std::sqrt(std::max(0.0, b->radius * b->radius - a * a));
    } else if (toolType == 3) {
        const double r = b->cornerRadius, h = std::min(rho, b->radius + r) - b->radius;
        ahead = h <= 0.0 ? r : std::sqrt(std::max(0.0, r * r - h * h));
    }
    return std::min(e[0], std::min(e[1], e[2])) - ahead - slack;
}

uint16_t sweepKernel(uint16_t toolType, KernelBlock* block) {
    return sweepKernelClass(toolType, block, nullptr);
}
