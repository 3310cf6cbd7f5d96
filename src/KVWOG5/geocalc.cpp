#include "KVWOG5/geocalc.h"

#include <cmath>

#include "KVWOG5/pred2d.h"

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
