// Low-degree fits of y(x) and the shape measures of 2D polylines used by the band fit and the
// polyline approximation.
#include "geometry/curvefit.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "geometry/solve.h"

namespace {

template <typename T>
T* allocArray(int32_t n) {
    return static_cast<T*>(std::malloc(static_cast<size_t>(n > 0 ? n : 1) * sizeof(T)));
}

// Solves the square system rows . coef = rhs (rows row-major, size x size) for up to 4 unknowns.
int gaussSolve(double* rows, double* rhs, int size, double* coef) {
    if (gaussJordan(rows, static_cast<uint16_t>(size), rhs, 1) != 0) return -1;
    for (int i = 0; i < size; ++i) {
        if (!std::isfinite(rhs[i])) return -1;
        coef[i] = rhs[i];
    }
    return 1;
}

void cubicRow(double x, double* row) {
    row[0] = x * x * x;
    row[1] = x * x;
    row[2] = x;
    row[3] = 1.0;
}

void slopeRow(double x, double* row) {
    row[0] = 3.0 * x * x;
    row[1] = 2.0 * x;
    row[2] = 1.0;
    row[3] = 0.0;
}

double cubicAt(const double* c, double x) {
    return ((c[0] * x + c[1]) * x + c[2]) * x + c[3];
}

Vec2 unitOrZero(double dx, double dy) {
    Vec3 v{dx, dy, 0.0}, u;
    vecNormalize3D(&v, &u);
    return Vec2{u.x, u.y};
}

}  // namespace

double dist2DEps(const Vec2* a, const Vec2* b) {
    const double dx = b->x - a->x, dy = b->y - a->y;
    const double d2 = dx * dx + dy * dy;
    if (d2 < 1e-12) return 0.0;
    const double d = std::sqrt(d2);
    return d < 1e-12 ? 0.0 : d;
}

int32_t thinPoints2D(const Vec2* pts, int32_t n, double tol, Vec2** kept, double** steps, int32_t* count,
                     int32_t* keptIndex) {
    if (kept == nullptr || steps == nullptr || count == nullptr) return -1;
    *kept = nullptr;
    *steps = nullptr;
    *count = 0;
    if (pts == nullptr || n < 1) return -1;
    Vec2* k = allocArray<Vec2>(n);
    double* s = allocArray<double>(n);
    if (k == nullptr || s == nullptr) {
        std::free(k);
        std::free(s);
        return -1;
    }
    int32_t m = 0;
    k[m] = pts[0];
    s[m] = 0.0;
    if (keptIndex) keptIndex[m] = 0;
    ++m;
    for (int32_t i = 1; i < n; ++i) {
        const double d = dist2DEps(&k[m - 1], &pts[i]);
        if (d > tol) {
            k[m] = pts[i];
            s[m] = d;
            if (keptIndex) keptIndex[m] = i;
            ++m;
        }
    }
    *kept = k;
    *steps = s;
    *count = m;
    return n - m;
}

int splitPoints3(const TolPoint* pts, int32_t n, Vec2* pts2D, double* w) {
    for (int32_t i = 0; i < n; ++i) {
        pts2D[i] = Vec2{pts[i].x, pts[i].y};
        w[i] = pts[i].w;
    }
    return 0;
}

int lineThrough2(const Vec2* p0, const Vec2* p1, double* m, double* c) {
    const double dx = p1->x - p0->x;
    if (!(std::fabs(dx) >= 1e-6)) return -1;
    *m = (p1->y - p0->y) / dx;
    *c = p0->y - *m * p0->x;
    return 1;
}

int fitSolve2x2(double a, double b, double c, double d, double e, double f, double* u, double* v) {
    const double det = a * d - b * c;
    if (!(std::fabs(det) >= 1e-6)) return -1;
    *u = (e * d - b * f) / det;
    *v = (a * f - e * c) / det;
    return 1;
}

int fitSolve3x3(const double rows[3][3], const double rhs[3], double out[3]) {
    // Eliminate the third unknown with the row that carries its largest coefficient.
    int p = 0;
    for (int i = 1; i < 3; ++i) {
        if (std::fabs(rows[i][2]) > std::fabs(rows[p][2])) p = i;
    }
    if (!(std::fabs(rows[p][2]) > 1e-6)) return -1;
    double r[2][3];
    int j = 0;
    for (int i = 0; i < 3; ++i) {
        if (i == p) continue;
        const double f = rows[i][2] / rows[p][2];
        r[j][0] = rows[i][0] - f * rows[p][0];
        r[j][1] = rows[i][1] - f * rows[p][1];
        r[j][2] = rhs[i] - f * rhs[p];
        ++j;
    }
    double u, v;
    if (fitSolve2x2(r[0][0], r[0][1], r[1][0], r[1][1], r[0][2], r[1][2], &u, &v) < 0) return -1;
    for (int i = 0; i < 3; ++i) {
        if (std::fabs(rows[i][2]) > 1e-6) {
            out[0] = u;
            out[1] = v;
            out[2] = (rhs[i] - rows[i][0] * u - rows[i][1] * v) / rows[i][2];
            return std::isfinite(out[0]) && std::isfinite(out[1]) && std::isfinite(out[2]) ? 1 : -1;
        }
    }
    return -1;
}

int32_t fitAnchorIndex(int32_t n, int32_t k) {
    int32_t m = k;
    if (k < 4) m = n / 5;
    if (m > n - 4) m = (4 * n) / 5;
    return m;
}

int parabolaThrough3(const Vec2* p0, const Vec2* p1, const Vec2* p2, double* a, double* b, double* c) {
    const Vec2* p[3] = {p0, p1, p2};
    double rows[9], rhs[3], coef[3];
    for (int i = 0; i < 3; ++i) {
        rows[3 * i] = p[i]->x * p[i]->x;
        rows[3 * i + 1] = p[i]->x;
        rows[3 * i + 2] = 1.0;
        rhs[i] = p[i]->y;
    }
    if (gaussSolve(rows, rhs, 3, coef) < 0) return -1;
    *a = coef[0];
    *b = coef[1];
    *c = coef[2];
    return 1;
}

int parabolaEnds(const Vec2* pts, int32_t n, int32_t k, double* a, double* b, double* c) {
    if (pts == nullptr || n < 3) return -1;
    const int32_t m = fitAnchorIndex(n, k);
    const Vec2* p[3] = {&pts[0], &pts[m], &pts[n - 1]};
    double rows[3][3], rhs[3], out[3];
    for (int i = 0; i < 3; ++i) {
        rows[i][0] = p[i]->x * p[i]->x;
        rows[i][1] = p[i]->x;
        rows[i][2] = 1.0;
        rhs[i] = p[i]->y;
    }
    if (fitSolve3x3(rows, rhs, out) < 0) return -1;
    *a = out[0];
    *b = out[1];
    *c = out[2];
    return 1;
}

int parabolaLsqThrough(const Vec2* pts, int32_t n, int32_t k, double* a, double* b, double* c) {
    if (pts == nullptr || n < 3) return -1;
    const int32_t m = fitAnchorIndex(n, k);
    double S[5] = {}, Sy[3] = {};  // S[j] = sum x^j, Sy[j] = sum x^j y
    for (int32_t i = 0; i < n; ++i) {
        double xp = 1.0;
        for (int j = 0; j < 5; ++j) {
            S[j] += xp;
            if (j < 3) Sy[j] += xp * pts[i].y;
            xp *= pts[i].x;
        }
    }
    const double xm = pts[m].x;
    const double rows[3][3] = {
        {xm * xm, xm, 1.0}, {S[3] / n, S[2] / n, S[1] / n}, {S[4] / n, S[3] / n, S[2] / n}};
    const double rhs[3] = {pts[m].y, Sy[1] / n, Sy[2] / n};
    double out[3];
    if (fitSolve3x3(rows, rhs, out) < 0) return -1;
    *a = out[0];
    *b = out[1];
    *c = out[2];
    return 1;
}

int cubicThrough4(const Vec2* p0, const Vec2* p1, const Vec2* p2, const Vec2* p3, double coef[4]) {
    const Vec2* p[4] = {p0, p1, p2, p3};
    double rows[16], rhs[4];
    for (int i = 0; i < 4; ++i) {
        cubicRow(p[i]->x, &rows[4 * i]);
        rhs[i] = p[i]->y;
    }
    return gaussSolve(rows, rhs, 4, coef);
}

int cubicThrough3Slope(const Vec2* p0, const Vec2* p1, double s, const Vec2* p2, double coef[4]) {
    double rows[16], rhs[4];
    cubicRow(p0->x, &rows[0]);
    cubicRow(p1->x, &rows[4]);
    cubicRow(p2->x, &rows[8]);
    slopeRow(p1->x, &rows[12]);
    rhs[0] = p0->y;
    rhs[1] = p1->y;
    rhs[2] = p2->y;
    rhs[3] = s;
    return gaussSolve(rows, rhs, 4, coef);
}

int cubicHermite(const Vec2* p0, double s0, const Vec2* p1, double s1, double coef[4]) {
    // Closed form in t = x - x0, shifted to powers of x: exact for any abscissa scale, where the
    // pivot threshold of the general solver would refuse short steps.
    const double h = p1->x - p0->x;
    if (!(std::fabs(h) >= 1e-12)) return -1;
    const double dl = (p1->y - p0->y) / h;
    const double c2 = (3.0 * dl - 2.0 * s0 - s1) / h;
    const double c3 = (s0 + s1 - 2.0 * dl) / (h * h);
    const double x0 = p0->x;
    coef[0] = c3;
    coef[1] = c2 - 3.0 * c3 * x0;
    coef[2] = s0 - 2.0 * c2 * x0 + 3.0 * c3 * x0 * x0;
    coef[3] = p0->y - s0 * x0 + c2 * x0 * x0 - c3 * x0 * x0 * x0;
    for (int i = 0; i < 4; ++i) {
        if (!std::isfinite(coef[i])) return -1;
    }
    return 1;
}

int cubicLsqThrough(const Vec2* pts, int32_t n, int32_t k, double coef[4]) {
    if (pts == nullptr || n < 4) return -1;
    const int32_t m = fitAnchorIndex(n, k);
    double S[7] = {}, A[4] = {}, Sy[4] = {};  // A[j] = sum |x|^j, the scale of S[j]
    for (int32_t i = 0; i < n; ++i) {
        double xp = 1.0, ap = 1.0;
        for (int j = 0; j < 7; ++j) {
            S[j] += xp;
            if (j < 4) {
                A[j] += ap;
                Sy[j] += xp * pts[i].y;
            }
            xp *= pts[i].x;
            ap *= std::fabs(pts[i].x);
        }
    }
    // Each moment equation is divided by its own sum; symmetric abscissae make the odd sums
    // vanish (up to rounding), which would turn the system into noise.
    const int moments[3] = {3, 1, 2};
    for (int j : moments) {
        if (!(std::fabs(S[j]) > 1e-12 * A[j]) || !std::isfinite(S[j])) return -1;
    }
    const double xm = pts[m].x, ym = pts[m].y;
    const double xm2 = xm * xm, xm3 = xm2 * xm;
    double rows[3][3], rhs[3];
    for (int r = 0; r < 3; ++r) {
        const int j = moments[r];
        rows[r][0] = S[j + 3] / S[j] - xm3;
        rows[r][1] = S[j + 2] / S[j] - xm2;
        rows[r][2] = S[j + 1] / S[j] - xm;
        rhs[r] = Sy[j] / S[j] - ym;
    }
    double out[3];
    if (fitSolve3x3(rows, rhs, out) < 0) return -1;
    coef[0] = out[0];
    coef[1] = out[1];
    coef[2] = out[2];
    coef[3] = ym - (out[0] * xm3 + out[1] * xm2 + out[2] * xm);
    return std::isfinite(coef[3]) ? 1 : -1;
}

int lineWithinTol(const Vec2* pts, int32_t n, const double* w, double m, double c) {
    for (int32_t i = 0; i < n; ++i) {
        if (!(std::fabs(m * pts[i].x + c - pts[i].y) <= w[i])) return 0;
    }
    return 1;
}

int parabolaWithinTol(const Vec2* pts, int32_t n, const double* w, double a, double b, double c) {
    if (!(std::fabs(a) <= 1e10 && std::fabs(b) <= 1e10 && std::fabs(c) <= 1e10)) return 0;
    for (int32_t i = 0; i < n; ++i) {
        const double x = pts[i].x;
        if (!(std::fabs((a * x + b) * x + c - pts[i].y) <= w[i])) return 0;
    }
    return 1;
}

int cubicWithinTol(const Vec2* pts, int32_t n, const double* w, const double coef[4]) {
    for (int i = 0; i < 4; ++i) {
        if (!(std::fabs(coef[i]) <= 1e10)) return 0;
    }
    for (int32_t i = 0; i < n; ++i) {
        if (!(std::fabs(cubicAt(coef, pts[i].x) - pts[i].y) <= w[i])) return 0;
    }
    return 1;
}

int evalLine2D(const Vec2* pts, int32_t n, double m, double c, Vec2* out) {
    for (int32_t i = 0; i < n; ++i) out[i] = Vec2{pts[i].x, m * pts[i].x + c};
    return 1;
}

int evalParabola2D(const Vec2* pts, int32_t n, double a, double b, double c, Vec2* out) {
    for (int32_t i = 0; i < n; ++i) {
        const double x = pts[i].x;
        out[i] = Vec2{x, (a * x + b) * x + c};
    }
    return 1;
}

int evalCubic2D(const Vec2* pts, int32_t n, const double coef[4], Vec2* out) {
    for (int32_t i = 0; i < n; ++i) out[i] = Vec2{pts[i].x, cubicAt(coef, pts[i].x)};
    return 1;
}

int fitUnit2D(const Vec2* v, Vec2* u) {
    const double l2 = v->x * v->x + v->y * v->y;
    if (!(l2 >= 1e-6)) {
        *u = Vec2{0.0, 0.0};
        return -1;
    }
    const double l = std::sqrt(l2);
    *u = Vec2{v->x / l, v->y / l};
    return 0;
}

int fitCrossZ2D(const Vec2* a, const Vec2* b, Vec3* out) {
    *out = Vec3{0.0, 0.0, a->x * b->y - a->y * b->x};
    return 0;
}

int turnCosines2D(const Vec2* pts, int32_t n, double** cos) {
    if (cos == nullptr) return -1;
    *cos = nullptr;
    if (pts == nullptr || n < 1) return -1;
    double* c = allocArray<double>(n);
    if (c == nullptr) return -1;
    c[0] = 0.0;
    c[n - 1] = 0.0;
    for (int32_t i = 1; i + 1 < n; ++i) {
        const double ax = pts[i].x - pts[i - 1].x, ay = pts[i].y - pts[i - 1].y;
        const double bx = pts[i + 1].x - pts[i].x, by = pts[i + 1].y - pts[i].y;
        const double la = ax * ax + ay * ay, lb = bx * bx + by * by;
        if (la < 1e-9 || lb < 1e-9) {
            c[i] = 0.0;
            continue;
        }
        c[i] = (ax * bx + ay * by) / std::sqrt(la * lb);
    }
    *cos = c;
    return 0;
}

int32_t inflectionCount2D(const Vec2* pts, int32_t n, double** prod) {
    if (prod == nullptr) return -1;
    *prod = nullptr;
    if (pts == nullptr || n < 1) return -1;
    double* p = allocArray<double>(n);
    if (p == nullptr) return -1;
    p[0] = 0.0;
    p[n - 1] = 0.0;
    int32_t count = 0;
    double zPrev = 0.0;
    for (int32_t i = 1; i + 1 < n; ++i) {
        const Vec2 a{pts[i].x - pts[i - 1].x, pts[i].y - pts[i - 1].y};
        const Vec2 b{pts[i + 1].x - pts[i].x, pts[i + 1].y - pts[i].y};
        Vec3 z;
        fitCrossZ2D(&a, &b, &z);
        p[i] = zPrev * z.z;
        if (p[i] < -1e-12) ++count;
        zPrev = z.z;
    }
    *prod = p;
    return count;
}

int circumCircle2D(const Vec2* a, const Vec2* b, const Vec2* c, Vec2* centre, double* radius) {
    double d1x = b->x - a->x, d1y = b->y - a->y;
    double d2x = c->x - a->x, d2y = c->y - a->y;
    double q1 = (d1x * d1x + d1y * d1y) / 2.0, q2 = (d2x * d2x + d2y * d2y) / 2.0;
    // Small figures are scaled up so that the fixed determinant threshold still separates
    // collinear from curved; the centre offset is scale-free.
    if (std::fabs(d1x) + std::fabs(d2x) < 10.0) {
        d1x *= 100.0, d1y *= 100.0, d2x *= 100.0, d2y *= 100.0, q1 *= 100.0, q2 *= 100.0;
    }
    const double det = d2y * d1x - d2x * d1y;
    if (!(std::fabs(det) >= 1e-7) || !(det * det >= 1e-14)) return -1;
    *centre = Vec2{a->x + (q1 * d2y - q2 * d1y) / det, a->y - (q1 * d2x - q2 * d1x) / det};
    *radius = std::hypot(centre->x - a->x, centre->y - a->y);
    return 1;
}

int polyRadii2D(const TolPoint* pts, int32_t n, Circle2D** out) {
    if (out == nullptr) return -1;
    *out = nullptr;
    if (pts == nullptr || n < 3) return -1;
    Circle2D* r = allocArray<Circle2D>(n);
    if (r == nullptr) return -1;
    r[0] = Circle2D{pts[0].x, pts[0].y, 0.0};
    r[n - 1] = Circle2D{pts[n - 1].x, pts[n - 1].y, pts[n - 1].w};
    Vec2 A{pts[0].x, pts[0].y}, B{pts[1].x, pts[1].y};
    Vec2 u = unitOrZero(B.x - A.x, B.y - A.y);
    int32_t p = 0, q = 0;
    for (int32_t i = 2; i < n; ++i) {
        const Vec2 C{pts[i].x, pts[i].y};
        Vec3 v3{C.x - B.x, C.y - B.y, 0.0}, v;
        if (vecNormalize3D(&v3, &v) < 0) {
            r[i - 1] = Circle2D{B.x, B.y, 0.0};
            A = B;
            B = C;
            continue;
        }
        const Vec3 u3{u.x, u.y, 0.0};
        Vec3 axis;
        if (crossUnit3D(&u3, &v, &axis) != 0) {
            // Parallel chords: alternately keep B and advance it, so that a long straight run
            // still finds a circle once the polyline bends.
            r[i - 1] = Circle2D{B.x, B.y, 0.0};
            if (q < p) {
                ++q;
            } else {
                ++p;
                B = C;
            }
            continue;
        }
        Vec2 centre;
        double radius = 0.0;
        if (circumCircle2D(&A, &B, &C, &centre, &radius) < 0 || radius < 1e-6) {
            r[i - 1] = Circle2D{B.x, B.y, 0.0};
            A = B;
            B = C;
            continue;
        }
        r[i - 1] = Circle2D{centre.x, centre.y, radius};
        p = q = 0;
        A = B;
        B = C;
        u = Vec2{v.x, v.y};
    }
    *out = r;
    return 1;
}

int32_t polyReversalCount2D(const TolPoint* pts, int32_t n, const Circle2D* radii, double* sum) {
    if (sum) *sum = 0.0;
    if (pts == nullptr || radii == nullptr || n < 3) return -1;
    auto toCentre = [&](int32_t i) {
        if (radii[i].r > 0.0) return Vec2{radii[i].cx - pts[i].x, radii[i].cy - pts[i].y};
        return Vec2{0.0, 0.0};
    };
    int32_t count = 0;
    double s = 0.0;
    for (int32_t i = 2; i <= n - 2; ++i) {
        const Vec2 a = toCentre(i - 1), b = toCentre(i);
        if (a.x * b.x + a.y * b.y < -0.001) ++count;
        if (radii[i].r > 1e-6) s += (pts[i].x - pts[i - 1].x) / radii[i].r;
    }
    if (sum) *sum = s;
    return count;
}

int polyMaxTurn2D(const double* x, const double* y, int32_t n, double* angle) {
    if (x == nullptr || y == nullptr || n < 3) return -1;
    double cmin = 1.0;
    int rc = 1;
    Vec3 prev, cur;
    Vec3 d{x[1] - x[0], y[1] - y[0], 0.0};
    rc = vecNormalize3D(&d, &prev);
    for (int32_t i = 1; i + 1 < n; ++i) {
        d = Vec3{x[i + 1] - x[i], y[i + 1] - y[i], 0.0};
        rc = vecNormalize3D(&d, &cur);
        const double c = prev.x * cur.x + prev.y * cur.y;
        if (c >= -1.0 && c <= 1.0 && c < cmin) cmin = c;
        prev = cur;
    }
    if (angle) *angle = std::acos(cmin);
    return rc;
}

int quadBezier2D(const Vec2* p0, const Vec2* p1, const Vec2* p2, double t, Vec2* out) {
    const double s = 1.0 - t;
    *out = Vec2{s * s * p0->x + 2.0 * t * s * p1->x + t * t * p2->x,
                s * s * p0->y + 2.0 * t * s * p1->y + t * t * p2->y};
    return 1;
}

int quadBezierAtX(const Vec2* p0, const Vec2* p1, const Vec2* p2, double tol, double xv, double* y) {
    Vec2 q;
    const double span = p2->x - p0->x;
    if (span != 0.0) {
        quadBezier2D(p0, p1, p2, (xv - p0->x) / span, &q);
        if (std::fabs(q.x - xv) <= tol) {
            *y = q.y;
            return 1;
        }
    }
    double t0 = 0.0, t1 = 1.0;
    Vec2 a = *p0;
    while (true) {
        const double tm = 0.5 * (t0 + t1);
        quadBezier2D(p0, p1, p2, tm, &q);
        if (std::fabs(q.x - xv) <= tol || t1 - t0 < 1e-9) break;
        // The half whose x range holds xv, in either direction of x.
        if ((a.x <= xv && xv <= q.x) || (q.x <= xv && xv <= a.x)) {
            t1 = tm;
        } else {
            t0 = tm;
            a = q;
        }
    }
    *y = q.y;
    return 1;
}

int quadBezierSample(const double* x, int32_t n, const Vec2* p0, const Vec2* p1, const Vec2* p2,
                     double* out) {
    if (n < 2) return -1;
    out[0] = p0->y;
    out[n - 1] = p2->y;
    for (int32_t i = 1; i + 1 < n; ++i) quadBezierAtX(p0, p1, p2, 1e-6, x[i], &out[i]);
    return 1;
}
