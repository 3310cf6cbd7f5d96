#include "KVWOG5/pred2d.h"

#include <cmath>
#include <numbers>

#include "kernel/base/constants.h"

namespace {

const double kDegenerate = 1e-12;
const double kOnSegTol = 1e-3;

bool boxesOverlap(double ax0, double ax1, double ay0, double ay1, double bx0, double bx1, double by0,
                  double by1) {
    return std::fmin(ax0, ax1) <= std::fmax(bx0, bx1) && std::fmin(bx0, bx1) <= std::fmax(ax0, ax1) &&
           std::fmin(ay0, ay1) <= std::fmax(by0, by1) && std::fmin(by0, by1) <= std::fmax(ay0, ay1);
}

bool within(double v, double e0, double e1) {
    return v >= std::fmin(e0, e1) && v <= std::fmax(e0, e1);
}

int linesIntersect(const Seg2D* s, const Seg2D* t, double tolerance, Vec2* out) {
    double as, bs, cs, at, bt, ct;
    if (!segLineEquation2D(s, &as, &bs, &cs) || !segLineEquation2D(t, &at, &bt, &ct)) return 0;
    const double det = as * bt - at * bs;
    if (std::fabs(det) <= tolerance) return 0;
    out->x = (bs * ct - bt * cs) / det;
    out->y = (at * cs - as * ct) / det;
    return 1;
}

}  // namespace

int segLineEquation2D(const Seg2D* seg, double* a, double* b, double* c) {
    const double len = std::hypot(seg->x2 - seg->x1, seg->y2 - seg->y1);
    if (len < kDegenerate) {
        *a = *b = *c = 0.0;
        return 0;
    }
    *a = (seg->y2 - seg->y1) / len;
    *b = (seg->x1 - seg->x2) / len;
    *c = -(*a * seg->x1 + *b * seg->y1);
    return 1;
}

int sideOfLine2D(const Vec2* p, double a, double b, double c) {
    const double v = a * p->x + b * p->y + c;
    return v < 0.0 ? -1 : (v > 0.0 ? 1 : 0);
}

double triArea2D(const Vec2* a, const Vec2* b, const Vec2* c) {
    return ((b->y - c->y) * (a->x - c->x) - (a->y - c->y) * (b->x - c->x)) / 2.0;
}

double wogDist2D(const Vec2* a, const Vec2* b) {
    return std::hypot(a->x - b->x, a->y - b->y);
}

int pointsNear2D(const Vec2* a, const Vec2* b, double tolerance) {
    return std::fabs(a->x - b->x) <= tolerance && std::fabs(a->y - b->y) <= tolerance;
}

int ccw2D(const Vec2* p0, const Vec2* p1, const Vec2* p2) {
    const double d1x = p1->x - p0->x, d1y = p1->y - p0->y;
    const double d2x = p2->x - p0->x, d2y = p2->y - p0->y;
    if (d1x * d2y > d1y * d2x) return 1;
    if (d1x * d2y < d1y * d2x) return -1;
    if (d1x * d2x < 0.0 || d1y * d2y < 0.0) return -1;
    if (d1x * d1x + d1y * d1y < d2x * d2x + d2y * d2y) return 1;
    return 0;
}

int segsIntersect2D(const Seg2D* s, const Seg2D* t) {
    if (!boxesOverlap(s->x1, s->x2, s->y1, s->y2, t->x1, t->x2, t->y1, t->y2)) return 0;
    const Vec2 s1{s->x1, s->y1}, s2{s->x2, s->y2}, t1{t->x1, t->y1}, t2{t->x2, t->y2};
    return ccw2D(&s1, &s2, &t1) * ccw2D(&s1, &s2, &t2) <= 0 &&
           ccw2D(&t1, &t2, &s1) * ccw2D(&t1, &t2, &s2) <= 0;
}

int segLinesIntersect2D(const Seg2D* s, const Seg2D* t, Vec2* out) {
    return linesIntersect(s, t, 0.0, out);
}

int lineLineIntersectTol2D(const Seg2D* s, const Seg2D* t, double tolerance, Vec2* out) {
    return linesIntersect(s, t, tolerance, out);
}

int pointOnSeg2D(const Vec2* p, const Seg2D* seg) {
    // The end test is per coordinate, like pointsNear2D but strict.
    if ((std::fabs(p->x - seg->x1) < kOnSegTol && std::fabs(p->y - seg->y1) < kOnSegTol) ||
        (std::fabs(p->x - seg->x2) < kOnSegTol && std::fabs(p->y - seg->y2) < kOnSegTol))
        return 1;
    double a, b, c;
    // A degenerate segment has no line; only its end counts.
    if (!segLineEquation2D(seg, &a, &b, &c)) return 0;
    if (std::fabs(a * p->x + b * p->y + c) > kOnSegTol) return 0;
    return std::fabs(b) > std::fabs(a) ? within(p->x, seg->x1, seg->x2) : within(p->y, seg->y1, seg->y2);
}

int footOnSeg2D(const Vec2* p, const Seg2D* seg, Vec2* out) {
    double a, b, c;
    if (!segLineEquation2D(seg, &a, &b, &c)) return 0;
    const double d = a * p->x + b * p->y + c;
    out->x = p->x - d * a;
    out->y = p->y - d * b;
    return std::fabs(b) > std::fabs(a) ? within(out->x, seg->x1, seg->x2) : within(out->y, seg->y1, seg->y2);
}

int segProjectInside2D(const Seg2D* seg, const Vec2* p) {
    const double dx = seg->x2 - seg->x1, dy = seg->y2 - seg->y1;
    const double len = std::hypot(dx, dy);
    if ((std::fabs(dx) < 1e-5 && std::fabs(dy) < 1e-5) || len < 0.001) return kPredDegenerate;
    const double t = ((p->x - seg->x1) * dx + (p->y - seg->y1) * dy) / len;
    return t >= 0.0 && t <= len;
}

double pseudoAngleDiff2D(double dx, double dy, double reference, int32_t direction) {
    double p;
    if (std::fabs(dy) < std::fabs(dx)) {
        p = dy / dx;
        if (dx > 0.0) {
            if (dy < 0.0) p += 8.0;
        } else {
            p += 4.0;
        }
    } else if (dy == 0.0) {
        p = 0.0;
    } else {
        p = 2.0 - dx / dy;
        if (dy < 0.0) p += 4.0;
    }
    if (direction == -1) p = 8.0 - p;
    const double d = p - reference;
    if (std::fabs(d) >= 1e-5) return d < 0.0 ? d + 8.0 : d;
    return d >= 0.0 ? d : 0.0;
}

int arcPointsCenter2D(const Vec2* a, const Vec2* centre, const Vec2* b, int32_t direction, double* angle) {
    const double la = wogDist2D(a, centre), lb = wogDist2D(b, centre);
    if (la < 1e-10 || lb < 1e-10) {
        *angle = 0.0;
        return 0;
    }
    const double ux = (a->x - centre->x) / la, uy = (a->y - centre->y) / la;
    const double vx = (b->x - centre->x) / lb, vy = (b->y - centre->y) / lb;
    double cross = ux * vy - uy * vx;
    if (std::fabs(cross) < 1e-13) cross = 0.0;
    const double dot = ux * vx + uy * vy;
    // Pulled just inside [-1, 1] so that rounding never leaves acos's domain.
    const double base = std::acos(std::fabs(std::fabs(dot) - 1e-15));
    double ang;
    if (dot > -1e-7 && cross > -1e-7)
        ang = base;
    else if (dot <= 0.0 && cross >= 0.0)
        ang = kPi - base;
    else if (dot <= 0.0 && cross < 0.0)
        ang = kPi + base;
    else
        ang = 2.0 * kPi - base;
    if (direction == -1 && std::fabs(ang) >= 1e-5) ang = 2.0 * kPi - ang;
    *angle = ang;
    return 1;
}

int wogSolveLinear(double a, double b, double* x) {
    if (a != 0.0) {
        *x = -b / a;
        return 1;
    }
    *x = 0.0;
    return b != 0.0 ? 0 : -1;
}

int wogSolveQuadratic(double a, double b, double c, double* x1, double* x2) {
    if (a == 0.0) {
        *x2 = 0.0;
        return wogSolveLinear(b, c, x1);
    }
    const double disc = b * b - 4.0 * a * c;
    if (disc < 0.0) {
        *x1 = *x2 = 0.0;
        return 0;
    }
    const double s = std::sqrt(disc);
    if (b != 0.0) {
        // The root of larger magnitude first avoids cancellation; the other follows from x1*x2 = c/a.
        const double q = -0.5 * (b + std::copysign(s, b));
        *x1 = q / a;
        *x2 = c / q;
    } else {
        *x1 = 0.5 * s / a;
        *x2 = -0.5 * s / a;
    }
    return 2;
}

int circleCircleIntersect2D(const ToolCircle* c1, const ToolCircle* c2, Vec2* p1, Vec2* p2) {
    const double a = 2.0 * (c2->cx - c1->cx), b = 2.0 * (c2->cy - c1->cy);
    const double c = c2->radius * c2->radius + c1->cx * c1->cx + c1->cy * c1->cy - c1->radius * c1->radius -
                     c2->cx * c2->cx - c2->cy * c2->cy;
    // Concentric circles have no radical line.
    if (a == 0.0 && b == 0.0) return 0;
    return lineCircleIntersect2D(a, b, c, c2, p1, p2);
}

int segCircleIntersect2D(const Seg2D* seg, const ToolCircle* circle, Vec2* p1, Vec2* p2) {
    const double cx = circle->cx, cy = circle->cy, r = circle->radius;
    if (!boxesOverlap(seg->x1, seg->x2, seg->y1, seg->y2, cx - r, cx + r, cy - r, cy + r)) return 0;
    const double dx = seg->x2 - seg->x1, dy = seg->y2 - seg->y1;
    // A point has no line to meet the circle with.
    if (std::hypot(dx, dy) < kDegenerate) return 0;
    // u = m*v + q with v the coordinate of the larger extent.
    const bool alongX = std::fabs(dx) > std::fabs(dy);
    const double m = alongX ? dy / dx : dx / dy;
    const double q = alongX ? seg->y1 - m * seg->x1 : seg->x1 - m * seg->y1;
    const double cv = alongX ? cx : cy, cu = alongX ? cy : cx;
    double v1 = 0.0, v2 = 0.0;
    int n = wogSolveQuadratic(1.0 + m * m, 2.0 * (m * (q - cu) - cv), cv * cv + (q - cu) * (q - cu) - r * r,
                              &v1, &v2);
    if (n <= 0) return 0;
    const double u1 = m * v1 + q, u2 = m * v2 + q;
    *p1 = alongX ? Vec2{v1, u1} : Vec2{u1, v1};
    *p2 = alongX ? Vec2{v2, u2} : Vec2{u2, v2};
    return 2;
}
