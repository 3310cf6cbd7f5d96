// Closed-form geometry of line and arc elements for the offset tests: points,
// sweeps, distances, enclosed areas and lengths, written apart from the library.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/vec.h"
#include "pocket/clist.h"
#include "pocket/pocket_util.h"

#ifdef KV_HAVE_GEOS
#include <geos_c.h>
#endif

namespace offsettest {

constexpr double kPi = 3.141592653589793;

inline Vec2 startPoint(const ContourElement& e) {
    return e.type == kElemArc ? Vec2{e.g[kAsx], e.g[kAsy]} : Vec2{e.g[kLx1], e.g[kLy1]};
}

inline Vec2 endPoint(const ContourElement& e) {
    return e.type == kElemArc ? Vec2{e.g[kAex], e.g[kAey]} : Vec2{e.g[kLx2], e.g[kLy2]};
}

// Counter-clockwise sweep of an arc from its start to its end in its own direction, (0, 2 pi].
inline double sweepOf(const ContourElement& e) {
    const double a0 = std::atan2(e.g[kAsy] - e.g[kAcy], e.g[kAsx] - e.g[kAcx]);
    const double a1 = std::atan2(e.g[kAey] - e.g[kAcy], e.g[kAex] - e.g[kAcx]);
    double w = e.direction > 0 ? a1 - a0 : a0 - a1;
    while (w <= 1e-12) w += 2 * kPi;
    return w;
}

// The point at fraction t along an element.
inline Vec2 pointAlong(const ContourElement& e, double t) {
    if (e.type == kElemLine)
        return {e.g[kLx1] + t * (e.g[kLx2] - e.g[kLx1]), e.g[kLy1] + t * (e.g[kLy2] - e.g[kLy1])};
    const double a = std::atan2(e.g[kAsy] - e.g[kAcy], e.g[kAsx] - e.g[kAcx]) + e.direction * t * sweepOf(e);
    return {e.g[kAcx] + e.g[kAr] * std::cos(a), e.g[kAcy] + e.g[kAr] * std::sin(a)};
}

// Closest distance from p to an element, in closed form.
inline double distanceTo(const Vec2& p, const ContourElement& e) {
    const Vec2 s = startPoint(e), t = endPoint(e);
    if (e.type == kElemLine) {
        const double dx = t.x - s.x, dy = t.y - s.y, l2 = dx * dx + dy * dy;
        const double u = l2 > 0 ? std::clamp(((p.x - s.x) * dx + (p.y - s.y) * dy) / l2, 0.0, 1.0) : 0.0;
        return std::hypot(p.x - s.x - u * dx, p.y - s.y - u * dy);
    }
    const double a0 = std::atan2(s.y - e.g[kAcy], s.x - e.g[kAcx]);
    double u = e.direction * (std::atan2(p.y - e.g[kAcy], p.x - e.g[kAcx]) - a0);
    while (u < 0) u += 2 * kPi;
    while (u >= 2 * kPi) u -= 2 * kPi;
    if (u <= sweepOf(e)) return std::fabs(std::hypot(p.x - e.g[kAcx], p.y - e.g[kAcy]) - e.g[kAr]);
    return std::min(std::hypot(p.x - s.x, p.y - s.y), std::hypot(p.x - t.x, p.y - t.y));
}

inline double distanceTo(const Vec2& p, const std::vector<ContourElement>& chain) {
    double best = 1e300;
    for (const ContourElement& e : chain) best = std::min(best, distanceTo(p, e));
    return best;
}

// Signed area enclosed by a chain of lines and arcs: the polygon of the end
// points plus each arc's circular segment.
inline double signedArea(const std::vector<ContourElement>& chain) {
    double a = 0;
    for (const ContourElement& e : chain) {
        const Vec2 s = startPoint(e), t = endPoint(e);
        a += 0.5 * (s.x * t.y - t.x * s.y);
        if (e.type == kElemArc) {
            const double w = sweepOf(e), r = e.g[kAr];
            a += e.direction * 0.5 * r * r * (w - std::sin(w));
        }
    }
    return a;
}

inline double perimeter(const std::vector<ContourElement>& chain) {
    double p = 0;
    for (const ContourElement& e : chain) {
        const Vec2 s = startPoint(e), t = endPoint(e);
        p += e.type == kElemArc ? e.g[kAr] * sweepOf(e) : std::hypot(t.x - s.x, t.y - s.y);
    }
    return p;
}

// Points along a chain, arcs divided in steps of at most maxSweep radians; the
// first point again at the end when closed.
inline std::vector<Vec2> samples(const std::vector<ContourElement>& chain, double maxSweep,
                                 bool closed = true) {
    std::vector<Vec2> pts;
    for (const ContourElement& e : chain) {
        const int steps = e.type == kElemArc ? std::max(1, static_cast<int>(sweepOf(e) / maxSweep)) : 1;
        for (int k = 0; k < steps; ++k) pts.push_back(pointAlong(e, static_cast<double>(k) / steps));
    }
    if (!chain.empty()) pts.push_back(closed ? pts.front() : endPoint(chain.back()));
    return pts;
}

// Crossing-number test of a point against a polygon.
inline bool insidePolygon(const std::vector<Vec2>& poly, const Vec2& p) {
    bool in = false;
    for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
        if ((poly[i].y > p.y) != (poly[j].y > p.y) &&
            p.x < (poly[j].x - poly[i].x) * (p.y - poly[i].y) / (poly[j].y - poly[i].y) + poly[i].x)
            in = !in;
    return in;
}

// A circle of radius r as n arcs.
inline std::vector<ContourElement> circle(double cx, double cy, double r, int n, int dir) {
    std::vector<ContourElement> c;
    for (int i = 0; i < n; ++i)
        c.push_back(arcElem(cx, cy, r, dir * 2 * kPi * i / n, dir * 2 * kPi * (i + 1) / n, dir));
    return c;
}

#ifdef KV_HAVE_GEOS
// A GEOS context and chains given to it, their arcs in steps of at most step radians.
struct Geos {
    GEOSContextHandle_t h = GEOS_init_r();
    Geos() = default;
    ~Geos() { GEOS_finish_r(h); }
    Geos(const Geos&) = delete;
    Geos& operator=(const Geos&) = delete;
    GEOSGeometry* line(const std::vector<ContourElement>& chain, double step, bool closed = true) {
        const std::vector<Vec2> pts = samples(chain, step, closed);
        GEOSCoordSequence* cs = GEOSCoordSeq_create_r(h, static_cast<unsigned>(pts.size()), 2);
        for (unsigned i = 0; i < pts.size(); ++i) GEOSCoordSeq_setXY_r(h, cs, i, pts[i].x, pts[i].y);
        return closed ? GEOSGeom_createLinearRing_r(h, cs) : GEOSGeom_createLineString_r(h, cs);
    }
    GEOSGeometry* polygon(const std::vector<ContourElement>& outer,
                          const std::vector<std::vector<ContourElement>>& holes, double step) {
        std::vector<GEOSGeometry*> in;
        for (const auto& hole : holes) in.push_back(line(hole, step));
        return GEOSGeom_createPolygon_r(h, line(outer, step), in.data(), static_cast<unsigned>(in.size()));
    }
    // The area of a result, which is destroyed; 1e9 for none.
    double area(GEOSGeometry* g) {
        double a = 1e9;
        if (g) GEOSArea_r(h, g, &a), GEOSGeom_destroy_r(h, g);
        return a;
    }
};
#endif

}  // namespace offsettest
