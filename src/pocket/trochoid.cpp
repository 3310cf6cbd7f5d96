#include "pocket/trochoid.h"

#include <cmath>
#include <cstdlib>

#include "pocket/linkmove.h"
#include "pocket/pocketstate.h"

namespace {

constexpr double kMinWidth = 0.01;
constexpr double kDirMin = 1e-5;

Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double norm(const Vec3& a) {
    return std::sqrt(dot(a, a));
}

// The middle point lies within eps of the chord and does not double back.
bool flatEnough(const Vec3& s, const Vec3& m, const Vec3& e, double eps) {
    const Vec3 a = sub(m, s), b = sub(e, m), chord = sub(e, s);
    if (dot(b, a) < 0) return false;
    const Vec3 c = cross(b, a);
    const double chord2 = dot(chord, chord);
    if (dot(c, c) < 1e-5 || chord2 < 1e-5) return true;
    return norm(cross(chord, a)) / std::sqrt(chord2) <= eps;
}

struct Points {
    Vec3* p = nullptr;
    int32_t n = 0, cap = 0;
    bool push(const Vec3& q) {
        if (n == cap) {
            const int32_t c = cap ? cap * 2 : kTrochoidPointsFirst;
            auto* grown = static_cast<Vec3*>(realloc(p, static_cast<size_t>(c) * sizeof(Vec3)));
            if (!grown) return false;
            p = grown;
            cap = c;
        }
        p[n++] = q;
        return true;
    }
};

int32_t install(const Vec2* p1, const Vec2*, const Vec2* p2, const Vec2*, double, int32_t steps,
                ContourElement* out) {
    const double len = std::hypot(p2->x - p1->x, p2->y - p1->y);
    if (len < 1e-9) return 0;
    const PocketKernel& k = pocketKernel();
    const Vec2 d{(p2->x - p1->x) / len, (p2->y - p1->y) / len};
    // A loop as wide as one step between rings; its flatness tolerance a small
    // share of the width keeps a loop to a few dozen lines.
    const double w = 2 * k.toolRadius * k.stepFactor;
    const double eps = std::fmax(k.tolerance, 0.01 * w);
    const int32_t n = trochoidLinkSearch(p1, p2, &d, w, steps, eps, out, kTrochoidMaxElements);
    return n > 0 ? n : 0;
}

}  // namespace

PolyCurve* bezierUTurn(const Vec3* p0, const Vec3* p3, const Vec3* u, const Vec3* a, double h) {
    if (!p0 || !p3 || !u || !a) return nullptr;
    const double lu = norm(*u), la = norm(*a);
    if (lu < kDirMin || la < kDirMin) return nullptr;
    const Vec3 uu{u->x / lu, u->y / lu, u->z / lu};
    Vec3 v{-a->x / la, -a->y / la, -a->z / la};
    Vec3 s{uu.x + v.x, uu.y + v.y, uu.z + v.z};
    if (norm(s) < kDirMin) {
        v = {-v.x, -v.y, -v.z};
        s = {uu.x + v.x, uu.y + v.y, uu.z + v.z};
    }
    const double k = 8 * h / (3 * norm(s));
    const Vec3 p1{p0->x + k * uu.x, p0->y + k * uu.y, p0->z + k * uu.z};
    const Vec3 p2{p3->x + k * v.x, p3->y + k * v.y, p3->z + k * v.z};
    return polyCurveFromBezier(p0, &p1, &p2, p3, 1.0);
}

int32_t curve3DPointList(const PolyCurve* curve, double eps, Vec3** points, int32_t* count) {
    if (!curve || !points || curve->count < 1) return -1;
    Points list;
    Vec3 start;
    if (polyEvalHorner3D(&curve->segs[0], 0, &start) != 1 || !list.push(start)) {
        free(list.p);
        return -1;
    }
    struct Interval {
        double u0, u1;
        int depth;
    };
    for (int32_t s = 0; s < curve->count; ++s) {
        const PolySeg* seg = &curve->segs[s];
        // Depth first, so at most one pending interval per depth: a fixed stack that cannot run short of
        // memory (a growing one could throw past the point list and leak it).
        Interval stack[kTrochoidMaxDepth + 2] = {{0.0, 1.0, 0}};
        int32_t top = 1;
        while (top > 0) {
            const Interval iv = stack[--top];
            Vec3 a, m, e;
            polyEvalHorner3D(seg, iv.u0, &a);
            polyEvalHorner3D(seg, 0.5 * (iv.u0 + iv.u1), &m);
            polyEvalHorner3D(seg, iv.u1, &e);
            if (iv.depth >= kTrochoidMaxDepth || flatEnough(a, m, e, eps)) {
                if (!list.push(e)) {
                    free(list.p);
                    return -1;
                }
                continue;
            }
            const double um = 0.5 * (iv.u0 + iv.u1);
            stack[top++] = {um, iv.u1, iv.depth + 1};
            stack[top++] = {iv.u0, um, iv.depth + 1};
        }
    }
    *points = list.p;
    if (count) *count = list.n;
    return list.n;
}

int polylineLengthReaches(const Vec3* points, int32_t count, double limit, double* sum) {
    double total = 0;
    int reached = 0;
    for (int32_t i = 1; points && i < count; ++i) {
        total += norm(sub(points[i], points[i - 1]));
        if (total >= limit) reached = 1;
    }
    if (sum) *sum = total;
    return reached;
}

int32_t trochoidHalfLoop(const Vec2* p, const Vec2* m, const Vec2* dirP, const Vec2* dirM, double eps,
                         ContourElement* out, int32_t capacity) {
    if (!p || !m || !dirP || !dirM || !out) return -1;
    const Vec3 p0{p->x, p->y, 0}, p3{m->x, m->y, 0}, u{dirP->x, dirP->y, 0}, a{dirM->x, dirM->y, 0};
    const double dist = std::hypot(m->x - p->x, m->y - p->y);
    const double h = 0.5 * dist;
    PolyCurve* curve = bezierUTurn(&p0, &p3, &u, &a, h);
    if (!curve) return -1;
    Vec3* pts = nullptr;
    int32_t n = 0;
    const int32_t got = curve3DPointList(curve, eps, &pts, &n);
    polyCurveFree(curve);
    if (got < 2) {
        free(pts);
        return -1;
    }
    double length = 0;
    polylineLengthReaches(pts, n, dist + 2 * h, &length);
    if (length > dist + 2 * h || n - 1 > capacity) {
        free(pts);
        return -1;
    }
    for (int32_t i = 0; i + 1 < n; ++i) {
        ContourElement e{};
        e.type = kElemLine;
        e.g[kLx1] = pts[i].x;
        e.g[kLy1] = pts[i].y;
        e.g[kLx2] = pts[i + 1].x;
        e.g[kLy2] = pts[i + 1].y;
        out[i] = e;
    }
    free(pts);
    return n - 1;
}

int32_t trochoidLoop(const Vec2* d, const Vec2* p, const Vec2* q, double w, double eps, ContourElement* out,
                     int32_t capacity) {
    if (!d || !p || !q || !out) return -1;
    const Vec2 m{p->x - w * d->y, p->y + w * d->x};
    const Vec2 back{-d->x, -d->y};
    const int32_t first = trochoidHalfLoop(p, &m, d, &back, eps, out, capacity);
    if (first < 0) return -1;
    const int32_t second = trochoidHalfLoop(&m, q, &back, d, eps, out + first, capacity - first);
    return second < 0 ? -1 : first + second;
}

int32_t trochoidLinkBuild(const Vec2* a, const Vec2* b, const Vec2* d, double w, int32_t n, double eps,
                          ContourElement* out, int32_t capacity) {
    if (!a || !b || !d || !out) return -1;
    if (n < 1) n = 1;
    int32_t total = 0;
    Vec2 from = *a;
    for (int32_t i = 1; i <= n; ++i) {
        const double t = static_cast<double>(i) / n;
        const Vec2 to = i == n ? *b : Vec2{a->x + t * (b->x - a->x), a->y + t * (b->y - a->y)};
        const int32_t k = trochoidLoop(d, &from, &to, w, eps, out + total, capacity - total);
        if (k < 0) return -1;
        total += k;
        from = to;
    }
    return total;
}

int32_t trochoidLinkSearch(const Vec2* a, const Vec2* b, const Vec2* d, double w, int32_t steps, double eps,
                           ContourElement* out, int32_t capacity) {
    if (!a || !b || !d || !out) return -1;
    for (; w > kMinWidth; w *= 0.5) {
        const int32_t n = trochoidLinkBuild(a, b, d, w, steps, eps, out, capacity);
        if (n < 0) return -1;
        bool hit = false;
        for (int32_t i = 0; i < n && !hit; ++i) {
            const int r = linkLineHitsInput(&out[i]);
            if (r < 0) return -1;
            hit = r > 0;
        }
        if (!hit) return n;
    }
    return -1;
}

void trochoidInstall() {
    linkSetTrochoidSearch(install);
}
