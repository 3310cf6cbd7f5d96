// Revolved meshes: a meridional (r, z) profile swept about the z axis into triangles whose chords
// stay within a tolerance of the surface of revolution. The check-model forms of these meshes
// (built from a template model, merged, written as a check file) live with the cycle
// (plunge/revmeshmodel.h).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "KVWOG5/lists.h"
#include "geometry/vec.h"

// More angular steps than this per band are refused: the tolerance is then meaninglessly small
// for the radius (and the count would overflow).
constexpr int32_t kRevMeshMaxSteps = 1000000;

// The angular step about the axis at radius r whose chord stays within tol of the circle,
// alpha = 2 acos((r - tol) / r) (cosine clamped to [-1, 1]), and the steps that cover a full turn,
// n = 1 - trunc(-2 pi / alpha). A radius of 0 gives alpha = 2 pi and n = 2. 1, or -1 for a
// tolerance that is not positive, a negative radius, or more than kRevMeshMaxSteps steps.
int revMeshAngleStep(double radius, double tol, double* alpha, int32_t* steps);

// Appends the band swept by the segment a-b ((r, z) points): n times the triangles (P, Q, P') and
// (P', Q, Q'), P = (rA, 0, zA) and Q = (rB, 0, zB) turned step by step counter-clockwise about z,
// with the step of the smaller radius. 1, or -1 when the step is refused or an append fails.
int revMeshSegment(const Vec2* a, const Vec2* b, TriList* list, double tol);
// The same band handed step by step to step(k, P, Q, P', Q') (the points of the band's k-th step before
// and after the turn: its triangles are (P, Q, P') and (P', Q, Q')), which answers false to stop (then
// -1), for a caller that keeps only some of them.
template <typename Step>
int revMeshSegmentSteps(const Vec2* a, const Vec2* b, double tol, Step step) {
    if (a == nullptr || b == nullptr) return -1;
    double alpha = 0.0;
    int32_t n = 0;
    if (revMeshAngleStep(std::min(a->x, b->x), tol, &alpha, &n) != 1) return -1;
    const double c = std::cos(alpha), s = std::sin(alpha);
    Vec3 p{a->x, 0.0, a->y}, q{b->x, 0.0, b->y};
    for (int32_t k = 0; k < n; ++k) {
        const Vec3 p1{p.x * c - p.y * s, p.x * s + p.y * c, p.z},
            q1{q.x * c - q.y * s, q.x * s + q.y * c, q.z};
        if (!step(k, p, q, p1, q1)) return -1;
        p = p1;
        q = q1;
    }
    return 1;
}
// The same band handed triangle by triangle, in the same order, to take(const Triangle3D&), which
// answers false to stop (then -1).
template <typename Take>
int revMeshSegmentEach(const Vec2* a, const Vec2* b, double tol, Take take) {
    return revMeshSegmentSteps(
        a, b, tol, [&take](int32_t, const Vec3& p, const Vec3& q, const Vec3& p1, const Vec3& q1) {
            return take(Triangle3D{{p, q, p1}}) && take(Triangle3D{{p1, q, q1}});
        });
}

// The triangles of a whole profile, band after band, sorted by their highest z (highest first).
// A profile of fewer than two points gives an empty list. Null when a band fails: a mesh with a
// missing band would hide the hub from every check.
TriList* revMeshSweep(const Vec2* points, int32_t count, double tol);
