// The hub of a generated impeller as a solid, from its design alone: the region of the meridian half
// plane below the hub's cubic Bezier, closed by the inlet's end face (the disc z = z0, r <= r0) and the
// outlet's rim (the cylinder r = r1 below z1). Distances of points and of tool stages (capsules along
// the tool axis) to it, measured in the meridian plane, where a solid of revolution keeps them.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/vec.h"

namespace hubclear {

struct Hub {
    double p[4][2];  // Bezier control points (r, z), inlet first

    Vec2 at(double t) const {
        const double s = 1 - t, b[4] = {s * s * s, 3 * s * s * t, 3 * s * t * t, t * t * t};
        Vec2 q{0, 0};
        for (int k = 0; k < 4; ++k) q.x += b[k] * p[k][0], q.y += b[k] * p[k][1];
        return q;
    }
    Vec2 tangent(double t) const {
        const double s = 1 - t, d[3] = {3 * s * s, 6 * s * t, 3 * t * t};
        Vec2 q{0, 0};
        for (int k = 0; k < 3; ++k)
            q.x += d[k] * (p[k + 1][0] - p[k][0]), q.y += d[k] * (p[k + 1][1] - p[k][1]);
        return q;
    }
    // Unit normal out of the solid (the curve runs from the inlet down and out; the solid lies on its
    // right).
    Vec2 normal(double t) const {
        const Vec2 d = tangent(t);
        const double l = std::hypot(d.x, d.y);
        return {-d.y / l, d.x / l};
    }
};

// The hub of mkimpeller's design: it leaves the inlet axially and reaches the outlet radially.
inline Hub designHub(double r0, double z0, double r1, double z1) {
    return Hub{{{r0, z0}, {r0, 0.5 * (z0 + z1)}, {0.5 * (r0 + r1), z1}, {r1, z1}}};
}

inline double segmentDistance2(Vec2 q, Vec2 a, Vec2 b) {
    const double dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
    const double f = l2 > 0 ? std::clamp(((q.x - a.x) * dx + (q.y - a.y) * dy) / l2, 0.0, 1.0) : 0.0;
    const double ex = q.x - a.x - f * dx, ey = q.y - a.y - f * dy;
    return ex * ex + ey * ey;
}

// The curve as a fine polyline (its chords leave the curve by far less than a micrometre) in runs of
// segments with their boxes, so that a distance query skips the runs it cannot reach.
struct Solid {
    static constexpr int kSegments = 2048, kRun = 32;
    Hub h;
    std::vector<Vec2> p;
    std::vector<double> box;  // r0, r1, z0, z1 per run

    explicit Solid(const Hub& hub) : h(hub) {
        for (int i = 0; i <= kSegments; ++i) p.push_back(h.at(double(i) / kSegments));
        for (int k = 0; k < kSegments; k += kRun) {
            double b[4] = {1e300, -1e300, 1e300, -1e300};
            for (int i = k; i <= k + kRun; ++i)
                b[0] = std::min(b[0], p[i].x), b[1] = std::max(b[1], p[i].x), b[2] = std::min(b[2], p[i].y),
                b[3] = std::max(b[3], p[i].y);
            box.insert(box.end(), b, b + 4);
        }
    }

    // Squared distances throughout: the query runs millions of times.
    double curveDistance2(double r, double z) const {
        double d = 1e300;
        for (int k = 0; k < kSegments / kRun; ++k) {
            const double* b = &box[4 * k];
            const double dr = std::max({b[0] - r, 0.0, r - b[1]}), dz = std::max({b[2] - z, 0.0, z - b[3]});
            if (dr * dr + dz * dz >= d) continue;
            for (int i = k * kRun; i < (k + 1) * kRun; ++i)
                d = std::min(d, segmentDistance2({r, z}, p[i], p[i + 1]));
        }
        return d;
    }

    // Signed distance of the point (r, z) from the solid: negative inside.
    double distance(double r, double z) const {
        const double r0 = h.p[0][0], z0 = h.p[0][1], r1 = h.p[3][0], z1 = h.p[3][1];
        double d2 = curveDistance2(r, z);
        d2 = std::min(d2, segmentDistance2({r, z}, {0, z0}, {r0, z0}));
        d2 = std::min(d2, segmentDistance2({r, z}, {r1, z1}, {r1, z1 - 1e4}));
        const double d = std::sqrt(d2);
        bool inside = false;
        if (r <= r0) {
            inside = z < z0;
        } else if (r <= r1) {
            // r grows strictly along the curve: the surface's height over r from the polyline.
            const auto it =
                std::lower_bound(p.begin(), p.end(), r, [](const Vec2& q, double v) { return q.x < v; });
            const Vec2 &b = *it, &a = *(it - 1);
            inside = z < a.y + (b.y - a.y) * (r - a.x) / (b.x - a.x);
        }
        return inside ? -d : d;
    }
};

inline double pointDistance(const Solid& s, const Vec3& q) {
    return s.distance(std::sqrt(q.x * q.x + q.y * q.y), q.z);
}

// The smallest distance from the solid of the points c + s a, s in [s0, s1], when it lies below floor
// (else a value at or above floor): the distance moves no faster than the point, so a stretch whose
// ends lie farther than its half length plus the best so far (less tol) holds nothing nearer.
inline double axisDistance(const Solid& h, const Vec3& c, const Vec3& a, double s0, double s1, double floor,
                           double tol = 1e-3) {
    auto at = [&](double s) { return pointDistance(h, {c.x + s * a.x, c.y + s * a.y, c.z + s * a.z}); };
    struct Span {
        double s0, s1, d0, d1;
    };
    const double e0 = at(s0), e1 = at(s1);
    double best = std::min({floor, e0, e1});
    std::vector<Span> stack{{s0, s1, e0, e1}};
    while (!stack.empty()) {
        const Span sp = stack.back();
        stack.pop_back();
        if (std::min(sp.d0, sp.d1) - 0.5 * (sp.s1 - sp.s0) >= best - tol) continue;
        const double m = 0.5 * (sp.s0 + sp.s1), dm = at(m);
        best = std::min(best, dm);
        stack.push_back({sp.s0, m, sp.d0, dm});
        stack.push_back({m, sp.s1, dm, sp.d1});
    }
    return best;
}

}  // namespace hubclear
