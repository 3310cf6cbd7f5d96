// Independent collision oracle of the avoidance tests: a tool as frusta between rings (height along the
// axis, radius), tested against a triangle by minimising a convex slack over it.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "KVWOG5/lists.h"
#include "geometry/vec.h"
#include "kernel/base/rng.h"

namespace toolsolid {

struct Ops {  // vector helpers of the oracle
    static Vec3 add(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    static Vec3 mul(double k, Vec3 a) { return {k * a.x, k * a.y, k * a.z}; }
    static Vec3 sub(Vec3 a, Vec3 b) { return add(a, mul(-1.0, b)); }
    static double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
    static Vec3 cross(Vec3 a, Vec3 b) {
        return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    }
    static double uni(double a, double b) { return a + (b - a) * rngUniform(); }
};
using O = Ops;

struct Tool {
    std::vector<double> z, r;
};

// Convex slack of the frustum i at X for axis a: <= 0 inside.
inline double slack(const Tool& tool, int i, Vec3 P, Vec3 a, Vec3 X) {
    const Vec3 d = O::sub(X, P), radial = O::sub(d, O::mul(O::dot(d, a), a));
    const double u = O::dot(d, a);
    const double r = tool.r[i] + (tool.r[i + 1] - tool.r[i]) * (u - tool.z[i]) / (tool.z[i + 1] - tool.z[i]);
    return std::max({std::sqrt(O::dot(radial, radial)) - r, tool.z[i] - u, u - tool.z[i + 1]});
}

// Least of a convex function on [lo, hi] by ternary search.
template <class F>
double convexMin(F f, double lo, double hi) {
    for (int k = 0; k < 30; ++k) {
        const double m1 = lo + (hi - lo) / 3, m2 = hi - (hi - lo) / 3;
        const bool left = f(m1) < f(m2);
        (left ? hi : lo) = left ? m2 : m1;
    }
    return f(0.5 * (lo + hi));
}

// The slack is convex, so its least value over the triangle comes from nested searches.
inline bool frustumHits(const Tool& tool, int i, Vec3 P, Vec3 a, const Triangle3D& t) {
    const Vec3 e1 = O::sub(t.p[1], t.p[0]), e2 = O::sub(t.p[2], t.p[0]);
    auto g = [&](double al, double be) {
        return slack(tool, i, P, a, O::add(t.p[0], O::add(O::mul(al, e1), O::mul(be, e2))));
    };
    auto inner = [&](double al) { return convexMin([&](double be) { return g(al, be); }, 0.0, 1.0 - al); };
    return convexMin(inner, 0.0, 1.0) <= 0.0;
}

// Whether any frustum of the tool at point P with unit axis a meets any triangle.
inline bool toolHits(const Tool& tool, Vec3 P, Vec3 a, const std::vector<Triangle3D>& tris) {
    for (const Triangle3D& t : tris)
        for (size_t i = 0; i + 1 < tool.z.size(); ++i)
            if (frustumHits(tool, static_cast<int>(i), P, a, t)) return true;
    return false;
}

}  // namespace toolsolid
using namespace toolsolid;
