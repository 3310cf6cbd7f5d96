// The independent judge of a pocket run: the moves of channel 31 measured
// against the job's own contours (test-only). The tool disk never leaves the
// pocket less the allowance at any height it stands at (its depth beyond that
// measured exactly between the moves and the job's lines and arcs); every arc
// has both ends on its circle; no rapid below the top crosses uncut material;
// where the job asks for the complete pocket, nothing the tool can reach is
// left uncut (areas by GEOS, arcs divided here). Nothing of the cycle is used.
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "pocketjob_util.h"

#ifdef KV_HAVE_GEOS
#include <geos_c.h>

namespace pocketoracle {

constexpr double kGougeDepth = 1e-3;  // mm
constexpr double kGougeArea = 1e-3;   // mm2
constexpr double kArcEnds = 1e-6;     // mm
constexpr double kSliver = 0.1;       // uncut strips narrower than this are not counted

struct Move {
    int type = 0;  // 3101, 3102 rapid; 3111, 3112, 3113, 3121 feed
    Vec2 from{}, to{};
    double z0 = 0, z1 = 0;
    Vec2 c{};  // arcs
    bool cw = false;
    bool known = false;  // the start in the plane is known
    bool rapid() const { return type == 3101 || type == 3102; }
    double minZ() const { return std::min(z0, z1); }
    double maxZ() const { return std::max(z0, z1); }
};

// Channel 31's moves, each from where the previous one left the tool.
inline std::vector<Move> movesOf(const std::vector<pocketnctest::Rec>& records) {
    std::vector<Move> out;
    Vec2 at{0, 0};
    double z = 1e9;
    bool known = false;
    for (const pocketnctest::Rec& r : records) {
        if (r.channel != 31 || r.type < 3101 || r.type > 3121) continue;
        Move m;
        m.type = r.type;
        m.from = at;
        m.z0 = z;
        m.known = known;
        switch (r.type) {
            case 3101:
            case 3111:
                at = {r.x, r.y};
                known = true;
                break;
            case 3102:
            case 3112:
                z = r.z;
                break;
            case 3113:
                at = {r.x, r.y};
                z = r.z;
                known = true;
                break;
            case 3121:
                at = {r.x, r.y};
                m.c = {r.cx, r.cy};
                m.cw = r.clockwise == 1;
                break;
            default:
                continue;
        }
        m.to = at;
        m.z1 = z;
        out.push_back(m);
    }
    return out;
}

// Signed sweep of an arc from a to b about c; a closed arc is a full turn.
inline double arcSweep(Vec2 a, Vec2 b, Vec2 c, bool cw) {
    const double a0 = std::atan2(a.y - c.y, a.x - c.x), a1 = std::atan2(b.y - c.y, b.x - c.x);
    double d = std::fmod(cw ? a0 - a1 : a1 - a0, 2 * M_PI);
    if (d <= 1e-12) d += 2 * M_PI;
    return cw ? -d : d;
}

// Points of an arc after a (a excluded, b included), no chord farther than sag from the arc.
// The radius runs from |a - c| to |b - c| (a bad arc is drawn as the spiral between them).
inline void arcPoints(Vec2 a, Vec2 b, Vec2 c, double sweep, double sag, std::vector<Vec2>& out) {
    const double r0 = std::hypot(a.x - c.x, a.y - c.y), r1 = std::hypot(b.x - c.x, b.y - c.y);
    const double step = std::sqrt(8 * sag / std::max(std::max(r0, r1), 1e-9));
    const int n = std::clamp(static_cast<int>(std::ceil(std::fabs(sweep) / step)), 1, 20000);
    const double a0 = std::atan2(a.y - c.y, a.x - c.x);
    for (int k = 1; k < n; ++k) {
        const double t = static_cast<double>(k) / n, r = r0 + (r1 - r0) * t;
        out.push_back({c.x + r * std::cos(a0 + sweep * t), c.y + r * std::sin(a0 + sweep * t)});
    }
    out.push_back(b);
}

// The move's track in the plane (one point for a move along the axis).
inline std::vector<Vec2> track(const Move& m, double sag) {
    std::vector<Vec2> p{m.from};
    if (m.type == 3121)
        arcPoints(m.from, m.to, m.c, arcSweep(m.from, m.to, m.c, m.cw), sag, p);
    else if (m.type != 3102 && m.type != 3112)
        p.push_back(m.to);
    return p;
}

inline double shoelace(const std::vector<Vec2>& p) {
    double a = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const Vec2 &u = p[i], &v = p[(i + 1) % p.size()];
        a += u.x * v.y - v.x * u.y;
    }
    return a / 2;
}

// The contour as a polygon. Lenient: every arc divided on its material side (inscribed where
// the material lies towards the centre, circumscribed where it lies away), so that the polygon
// leaves the tool at least the room the true contour leaves it, by at most 0.1 um more.
inline std::vector<Vec2> contourPoints(const JobContour& c, bool lenient) {
    std::vector<Vec2> plain;
    for (const JobSeg& s : c.segs) {
        plain.push_back(s.a);
        if (!s.arc) continue;
        arcPoints(s.a, s.b, s.c, arcSweep(s.a, s.b, s.c, s.dir < 0), 1e-4, plain);
        plain.pop_back();
    }
    if (!lenient) return plain;
    const bool ccw = shoelace(plain) > 0;
    std::vector<Vec2> out;
    for (const JobSeg& s : c.segs) {
        out.push_back(s.a);
        if (!s.arc) continue;
        const double sweep = arcSweep(s.a, s.b, s.c, s.dir < 0), r = std::hypot(s.a.x - s.c.x, s.a.y - s.c.y);
        const bool centreInside = (s.dir > 0) == ccw;
        if (centreInside == c.island) {
            arcPoints(s.a, s.b, s.c, sweep, 1e-4, out);
            out.pop_back();
            continue;
        }
        const int n =
            std::clamp(static_cast<int>(std::ceil(std::fabs(sweep) / std::sqrt(8e-4 / r))), 1, 20000);
        const double d = sweep / n, a0 = std::atan2(s.a.y - s.c.y, s.a.x - s.c.x), far = r / std::cos(d / 2);
        for (int k = 0; k < n; ++k)
            out.push_back(
                {s.c.x + far * std::cos(a0 + d * (k + 0.5)), s.c.y + far * std::sin(a0 + d * (k + 0.5))});
    }
    return out;
}

// Exact distances between lines and arcs, for the depth of a gouge: GEOS simplifies what it buffers by a
// hundredth of the distance, which turns a corner rounded by 0.01 into a chamfer 8 um off.
struct Prim {
    bool arc = false;
    Vec2 a{}, b{}, c{};
    double r = 0, a0 = 0, sweep = 0;  // arcs: from angle a0 by the signed sweep
};

inline Prim linePrim(Vec2 a, Vec2 b) {
    Prim p;
    p.a = a;
    p.b = b;
    return p;
}

inline Prim arcPrim(Vec2 a, Vec2 b, Vec2 c, bool cw) {
    Prim p;
    p.arc = true;
    p.a = a;
    p.b = b;
    p.c = c;
    p.r = (std::hypot(a.x - c.x, a.y - c.y) + std::hypot(b.x - c.x, b.y - c.y)) / 2;
    p.a0 = std::atan2(a.y - c.y, a.x - c.x);
    p.sweep = arcSweep(a, b, c, cw);
    return p;
}

inline double dist(Vec2 p, Vec2 q) {
    return std::hypot(p.x - q.x, p.y - q.y);
}

// The point at angle t lies on the arc.
inline bool onArc(const Prim& p, double t) {
    double d = std::fmod(p.sweep > 0 ? t - p.a0 : p.a0 - t, 2 * M_PI);
    if (d < 0) d += 2 * M_PI;
    return d <= std::fabs(p.sweep) + 1e-12 || d >= 2 * M_PI - 1e-12;
}

inline double distPoint(Vec2 q, const Prim& p) {
    if (p.arc) {
        const double d = dist(q, p.c);
        if (d < 1e-12) return p.r;
        if (onArc(p, std::atan2(q.y - p.c.y, q.x - p.c.x))) return std::fabs(d - p.r);
        return std::min(dist(q, p.a), dist(q, p.b));
    }
    const double dx = p.b.x - p.a.x, dy = p.b.y - p.a.y, l2 = dx * dx + dy * dy;
    const double t = l2 > 0 ? std::clamp(((q.x - p.a.x) * dx + (q.y - p.a.y) * dy) / l2, 0.0, 1.0) : 0;
    return dist(q, {p.a.x + t * dx, p.a.y + t * dy});
}

inline double cross(Vec2 o, Vec2 a, Vec2 b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Points where the primitive's line or circle meets a circle (c, r).
inline std::vector<Vec2> meetCircle(const Prim& p, Vec2 c, double r) {
    std::vector<Vec2> out;
    if (p.arc) {
        const double d = dist(p.c, c);
        if (d < 1e-12 || d > p.r + r || d < std::fabs(p.r - r)) return out;
        const double x = (d * d + p.r * p.r - r * r) / (2 * d),
                     h = std::sqrt(std::max(p.r * p.r - x * x, 0.0));
        const Vec2 u{(c.x - p.c.x) / d, (c.y - p.c.y) / d}, m{p.c.x + u.x * x, p.c.y + u.y * x};
        out = {{m.x - u.y * h, m.y + u.x * h}, {m.x + u.y * h, m.y - u.x * h}};
        return out;
    }
    const double dx = p.b.x - p.a.x, dy = p.b.y - p.a.y, l2 = dx * dx + dy * dy;
    if (l2 <= 0) return out;
    const double t = ((c.x - p.a.x) * dx + (c.y - p.a.y) * dy) / l2;
    const Vec2 f{p.a.x + t * dx, p.a.y + t * dy};
    const double h2 = r * r - dist(f, c) * dist(f, c);
    if (h2 < 0) return out;
    const double k = std::sqrt(h2 / l2);
    return {{f.x - k * dx, f.y - k * dy}, {f.x + k * dx, f.y + k * dy}};
}

// The point lies on the primitive (it is known to lie on its line or circle).
inline bool within(const Prim& p, Vec2 q) {
    if (p.arc) return onArc(p, std::atan2(q.y - p.c.y, q.x - p.c.x));
    const double dx = p.b.x - p.a.x, dy = p.b.y - p.a.y, l2 = dx * dx + dy * dy;
    const double t = l2 > 0 ? ((q.x - p.a.x) * dx + (q.y - p.a.y) * dy) / l2 : 0;
    return t >= -1e-12 && t <= 1 + 1e-12;
}

// The least distance between two lines or arcs: their ends against each other, their crossings, and
// the points of closest approach inside both (the foot of a circle's centre on a line, the points on
// the line through two centres).
inline double distPrims(const Prim& p, const Prim& q) {
    double d = std::min({distPoint(p.a, q), distPoint(p.b, q), distPoint(q.a, p), distPoint(q.b, p)});
    if (!p.arc && !q.arc) {
        const double d1 = cross(p.a, p.b, q.a), d2 = cross(p.a, p.b, q.b), d3 = cross(q.a, q.b, p.a),
                     d4 = cross(q.a, q.b, p.b);
        if (((d1 > 0) != (d2 > 0)) && ((d3 > 0) != (d4 > 0)) && d1 != 0 && d2 != 0) return 0;
        return d;
    }
    const Prim& k = p.arc ? p : q;  // an arc
    const Prim& o = p.arc ? q : p;  // the other
    for (const Vec2& x : meetCircle(o, k.c, k.r))
        if (within(o, x) && within(k, x)) return 0;
    std::vector<Vec2> near;  // points of o nearest to k's circle
    if (o.arc) {
        const double cd = dist(o.c, k.c);
        if (cd > 1e-12) {
            const Vec2 u{(k.c.x - o.c.x) / cd, (k.c.y - o.c.y) / cd};
            for (double s : {1.0, -1.0}) near.push_back({o.c.x + s * u.x * o.r, o.c.y + s * u.y * o.r});
        }
    } else {
        const double dx = o.b.x - o.a.x, dy = o.b.y - o.a.y, l2 = dx * dx + dy * dy;
        if (l2 > 0) {
            const double t = ((k.c.x - o.a.x) * dx + (k.c.y - o.a.y) * dy) / l2;
            near.push_back({o.a.x + t * dx, o.a.y + t * dy});
        }
    }
    for (const Vec2& x : near)
        if (within(o, x)) {
            const double cd = dist(x, k.c);
            if (cd > 1e-12 && onArc(k, std::atan2(x.y - k.c.y, x.x - k.c.x)))
                d = std::min(d, std::fabs(cd - k.r));
            if (cd > 1e-12 && onArc(k, std::atan2(k.c.y - x.y, k.c.x - x.x))) d = std::min(d, cd + k.r);
        }
    if (o.arc && dist(o.c, k.c) <= 1e-12) {
        // Concentric: the radial gap wherever the two arcs share a direction.
        for (const Prim* e : {&o, &k})
            for (Vec2 end : {e->a, e->b}) {
                const double t = std::atan2(end.y - e->c.y, end.x - e->c.x);
                if (onArc(o, t) && onArc(k, t)) d = std::min(d, std::fabs(o.r - k.r));
            }
    }
    return d;
}

inline bool insidePolygon(const std::vector<Vec2>& poly, Vec2 q) {
    bool in = false;
    for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
        if ((poly[i].y > q.y) != (poly[j].y > q.y) &&
            q.x < (poly[j].x - poly[i].x) * (q.y - poly[i].y) / (poly[j].y - poly[i].y) + poly[i].x)
            in = !in;
    return in;
}

// A GEOS context that owns every geometry made through it.
class Geos {
  public:
    Geos() : h(GEOS_init_r()) {}
    ~Geos() {
        for (const GEOSPreparedGeometry* p : prepared_) GEOSPreparedGeom_destroy_r(h, p);
        for (GEOSGeometry* g : owned_) GEOSGeom_destroy_r(h, g);
        GEOS_finish_r(h);
    }
    Geos(const Geos&) = delete;
    Geos& operator=(const Geos&) = delete;

    GEOSGeometry* keep(GEOSGeometry* g) {
        if (g) owned_.push_back(g);
        return g;
    }
    const GEOSPreparedGeometry* prepare(const GEOSGeometry* g) {
        const GEOSPreparedGeometry* p = GEOSPrepare_r(h, g);
        prepared_.push_back(p);
        return p;
    }
    GEOSCoordSequence* seq(const std::vector<Vec2>& p, bool close) {
        const unsigned n = static_cast<unsigned>(p.size() + (close ? 1 : 0));
        GEOSCoordSequence* s = GEOSCoordSeq_create_r(h, n, 2);
        for (unsigned i = 0; i < n; ++i) GEOSCoordSeq_setXY_r(h, s, i, p[i % p.size()].x, p[i % p.size()].y);
        return s;
    }
    GEOSGeometry* polygon(const std::vector<Vec2>& ring) {
        GEOSGeometry* shell = GEOSGeom_createLinearRing_r(h, seq(ring, true));
        GEOSGeometry* poly = GEOSGeom_createPolygon_r(h, shell, nullptr, 0);
        // A ring given clockwise or slightly self-touching is made valid, not refused.
        return keep(GEOSMakeValid_r(h, keep(poly)));
    }
    // A track as a line (a point stretched by a nanometre).
    GEOSGeometry* line(std::vector<Vec2> p) {
        if (p.size() == 1) p.push_back({p[0].x + 1e-9, p[0].y});
        return keep(GEOSGeom_createLineString_r(h, seq(p, false)));
    }
    GEOSGeometry* empty() { return keep(GEOSGeom_createEmptyPolygon_r(h)); }
    GEOSGeometry* buffer(const GEOSGeometry* g, double d, int q) { return keep(GEOSBuffer_r(h, g, d, q)); }
    GEOSGeometry* unite(const GEOSGeometry* a, const GEOSGeometry* b) { return keep(GEOSUnion_r(h, a, b)); }
    GEOSGeometry* minus(const GEOSGeometry* a, const GEOSGeometry* b) {
        return keep(GEOSDifference_r(h, a, b));
    }
    GEOSGeometry* meet(const GEOSGeometry* a, const GEOSGeometry* b) {
        return keep(GEOSIntersection_r(h, a, b));
    }
    double area(const GEOSGeometry* g) {
        double a = 0;
        return g && GEOSArea_r(h, g, &a) ? a : 0;
    }
    double distance(const GEOSGeometry* a, const GEOSGeometry* b) {
        double d = 0;
        return GEOSDistance_r(h, a, b, &d) ? d : 0;
    }

    GEOSContextHandle_t h;

  private:
    std::vector<GEOSGeometry*> owned_;
    std::vector<const GEOSPreparedGeometry*> prepared_;
};

struct Verdict {
    int32_t status = -1;
    bool path = false;      // a cutting move below the top
    bool message = false;   // a numbered error message
    int badArcs = 0;        // arcs whose ends are not on one circle
    double worstArc = 0;    // their largest radius difference
    double gougeDepth = 0;  // deepest reach of the tool beyond the pocket less the allowance
    double gougeArea = 0;   // swept area beyond the depth tolerance outside the pocket less the allowance
    int gougeMove = -1;     // first move that gouges
    double rapidUncut = 0;  // area of uncut material crossed by rapids below the top
    double uncutArea = 0;   // reachable area left uncut (strips of kSliver and more)
    double uncutAt = 0;     // the height where it was found
    bool complete = true;

    bool sound() const {
        return badArcs == 0 && gougeDepth <= kGougeDepth && gougeArea <= kGougeArea &&
               rapidUncut <= kGougeArea;
    }
    // Status 0 is a complete, sound path; status 1 a numbered message and nothing unsound written.
    bool honest(bool wantComplete) const {
        if (status == 0) return path && sound() && (!wantComplete || complete);
        return status == 1 && message && sound();
    }
    std::string text() const {
        char t[400];
        snprintf(t, sizeof t,
                 "status %d path %d msg %d arcs %d (%.3g) gouge %.4g mm / %.4g mm2 (move %d) rapid %.3g mm2 "
                 "uncut %.4g mm2 at z %.3g",
                 status, path, message, badArcs, worstArc, gougeDepth, gougeArea, gougeMove, rapidUncut,
                 uncutArea, uncutAt);
        return t;
    }
};

// The job's room at every height: the region the tool centre may take and the region the tool may sweep.
class Room {
  public:
    Room(Geos& g, const PocketJob& job) : g_(g), job_(job) {
        radius_ = std::stod(job.key("toolDiameter", "10")) / 2;
        allowance_ = std::stod(job.key("planeAllowance", "0"));
        for (const JobContour& c : job.contours) {
            plain_.push_back(contourPoints(c, false));
            polys_.push_back(g_.polygon(contourPoints(c, true)));
            prims_.emplace_back();
            for (const JobSeg& e : c.segs)
                prims_.back().push_back(e.arc ? arcPrim(e.a, e.b, e.c, e.dir < 0) : linePrim(e.a, e.b));
            top_ = std::max(top_, c.top);
            for (double z : {c.top, c.bottom}) breaks_.push_back(z);
        }
        std::sort(breaks_.begin(), breaks_.end());
        breaks_.erase(std::unique(breaks_.begin(), breaks_.end()), breaks_.end());
    }
    double top() const { return top_; }
    double radius() const { return radius_; }
    const std::vector<double>& levels() const { return breaks_; }

    // How far the tool at the move reaches beyond its room (the pocket less the allowance, at every
    // height from the move's lowest up): negative when it keeps clear.
    double depth(const Move& m) const {
        return depthOf(m.type == 3121 ? arcPrim(m.from, m.to, m.c, m.cw) : linePrim(m.from, m.to), m.minZ());
    }
    // The area the tool sweeps beyond its room grown by the depth tolerance: the excess depth integrated
    // along the move (a tool that runs a depth into a wall along a length sweeps that depth times that
    // length). The kernel joins rings within a micrometre; a long drift within that is no gouge.
    double area(const Move& m) const {
        const std::vector<Vec2> t = track(m, 1e-4);
        double a = 0;
        for (size_t i = 1; i < t.size(); ++i) {
            const double l = dist(t[i - 1], t[i]);
            const int n = std::max(1, static_cast<int>(l / 0.02));
            for (int k = 0; k < n; ++k) {
                const double u = (k + 0.5) / n;
                const Vec2 p{t[i - 1].x + (t[i].x - t[i - 1].x) * u, t[i - 1].y + (t[i].y - t[i - 1].y) * u};
                a += std::max(0.0, depthOf(linePrim(p, p), m.minZ()) - kGougeDepth) * l / n;
            }
        }
        return a;
    }
    // Where the tool centre may stand at height z (the tool reaches up from z).
    const GEOSGeometry* centre(double z) { return region(z, radius_, centre_); }
    // Where the tool may cut at height z.
    const GEOSGeometry* sweep(double z) { return region(z, 0, sweep_); }

  private:
    double allowance(size_t i) const {
        return job_.contours[i].allowance >= 0 ? job_.contours[i].allowance : allowance_;
    }
    double depthOf(const Prim& path, double z) const {
        double worst = -1e300;
        for (const std::vector<size_t>& set : sets(z)) {
            bool inPocket = false, inIsland = false;
            // Each wall keeps the tool off by the radius and its own allowance.
            double need = -1e300, nearest = 1e300, nearRoom = 0;
            for (size_t i : set) {
                const bool in = insidePolygon(plain_[i], path.a);
                (job_.contours[i].island ? inIsland : inPocket) |= in;
                double clear = 1e300;
                for (const Prim& e : prims_[i]) clear = std::min(clear, distPrims(path, e));
                const double room = radius_ + allowance(i);
                need = std::max(need, room - clear);
                if (clear < nearest) nearest = clear, nearRoom = room;
            }
            worst = std::max(worst, inPocket && !inIsland ? need : nearRoom + nearest);
        }
        return worst;
    }
    // The contours standing at height h.
    std::vector<size_t> active(double h) const {
        std::vector<size_t> s;
        for (size_t i = 0; i < job_.contours.size(); ++i)
            if (job_.contours[i].bottom <= h + 1e-9 && h < job_.contours[i].top - 1e-9) s.push_back(i);
        return s;
    }
    // Those standing at every height from z up to the top, one set per stretch of heights.
    std::vector<std::vector<size_t>> sets(double z) const {
        std::vector<std::vector<size_t>> out{active(z + 1e-6)};
        for (double b : breaks_)
            if (b > z && b < top_ - 1e-9) out.push_back(active(b + 1e-6));
        return out;
    }
    // The contours grown inwards by base and each one's allowance.
    const GEOSGeometry* at(const std::vector<size_t>& set, double base) {
        GEOSGeometry *in = g_.empty(), *out = g_.empty();
        for (size_t i : set) {
            const bool island = job_.contours[i].island;
            const double d = base + allowance(i);
            GEOSGeometry* grown = d > 0 ? g_.buffer(polys_[i], island ? d : -d, 64) : polys_[i];
            if (island)
                out = g_.unite(out, grown);
            else
                in = g_.unite(in, grown);
        }
        return g_.minus(in, out);
    }
    static std::string text(const std::vector<size_t>& set) {
        std::string t;
        for (size_t i : set) t += std::to_string(i) + ",";
        return t;
    }
    const GEOSGeometry* region(double z, double d, std::map<std::string, const GEOSGeometry*>& cache) {
        const std::vector<std::vector<size_t>> all = sets(z);
        std::string key;
        for (const auto& s : all) key += text(s) + "|";
        auto it = cache.find(key);
        if (it != cache.end()) return it->second;
        const GEOSGeometry* r = nullptr;
        for (const auto& s : all) {
            auto one = cache.find(text(s));
            const GEOSGeometry* part = one != cache.end() ? one->second : (cache[text(s)] = at(s, d));
            r = r ? g_.meet(r, part) : part;
        }
        return cache[key] = r;
    }

    Geos& g_;
    const PocketJob& job_;
    std::vector<GEOSGeometry*> polys_;
    std::vector<std::vector<Vec2>> plain_;
    std::vector<std::vector<Prim>> prims_;
    std::vector<double> breaks_;
    double radius_ = 5, allowance_ = 0, top_ = -1e300;
    std::map<std::string, const GEOSGeometry*> centre_, sweep_;
};

struct Box {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    explicit Box(const std::vector<Vec2>& p, double grow = 0) {
        for (const Vec2& q : p)
            x0 = std::min(x0, q.x), y0 = std::min(y0, q.y), x1 = std::max(x1, q.x), y1 = std::max(y1, q.y);
        x0 -= grow, y0 -= grow, x1 += grow, y1 += grow;
    }
    bool meets(const Box& o) const { return x0 <= o.x1 && o.x0 <= x1 && y0 <= o.y1 && o.y0 <= y1; }
};

struct Track {
    std::vector<Vec2> p;  // coarse: chords within 0.005 of the arcs
    double zMax;
    Box box;
    bool flat;                  // a move in a plane (the plane's height zMax)
    const GEOSGeometry* swept;  // the tool's sweep along it
};

inline Verdict judge(const PocketJob& job, const JobRun& run) {
    Verdict v;
    v.status = run.status;
    for (const pocketnctest::Rec& r : run.records)
        if (r.channel == 0 && r.type == 101 && !r.value.empty() &&
            std::isdigit(static_cast<unsigned char>(r.value[0])))
            v.message = true;
    Geos g;
    Room room(g, job);
    const double R = room.radius(), top = room.top() - 1e-9;
    const std::vector<Move> moves = movesOf(run.records);
    // A plane is a height the tool feeds down to (a plunge, ramp or helix); a path move at another height
    // is a link (the tool lifted by the clearance between planes).
    std::vector<double> floors;
    for (const Move& m : moves)
        if ((m.type == 3112 || m.type == 3113) && m.z1 < m.z0 - 1e-9) floors.push_back(m.z1);
    auto inPlane = [&](const Move& m) {
        return (m.type == 3111 || m.type == 3121) && std::fabs(m.z1 - m.z0) < 1e-9 &&
               std::any_of(floors.begin(), floors.end(),
                           [&](double f) { return std::fabs(f - m.z0) < 1e-6; });
    };
    std::vector<Track> cuts;
    // The cut moves before a move, at or below the height (or, for a plane, in it), near the box.
    auto cutBelow = [&](double z, const Box& box, size_t count, bool plane = false) {
        std::vector<const GEOSGeometry*> below;
        for (size_t k = 0; k < count; ++k) {
            const bool at =
                plane ? cuts[k].flat && std::fabs(cuts[k].zMax - z) < 1e-6 : cuts[k].zMax <= z + 1e-6;
            if (at && cuts[k].box.meets(box)) below.push_back(cuts[k].swept);
        }
        if (below.empty()) return static_cast<const GEOSGeometry*>(g.empty());
        // Each track's sweep on its own, then one union: far quicker than the sweep of all at once.
        std::vector<GEOSGeometry*> parts;
        for (const GEOSGeometry* b : below) parts.push_back(GEOSGeom_clone_r(g.h, b));
        GEOSGeometry* all = g.keep(GEOSGeom_createCollection_r(g.h, GEOS_GEOMETRYCOLLECTION, parts.data(),
                                                               static_cast<unsigned>(parts.size())));
        return static_cast<const GEOSGeometry*>(g.keep(GEOSUnaryUnion_r(g.h, all)));
    };
    for (size_t i = 0; i < moves.size(); ++i) {
        const Move& m = moves[i];
        if (m.type == 3121) {
            const double d = std::fabs(std::hypot(m.from.x - m.c.x, m.from.y - m.c.y) -
                                       std::hypot(m.to.x - m.c.x, m.to.y - m.c.y));
            if (d > kArcEnds) ++v.badArcs;
            v.worstArc = std::max(v.worstArc, d);
        }
        if (!m.known || m.minZ() >= top) continue;
        const std::vector<Vec2> t = track(m, 1e-4);
        GEOSGeometry* line = g.line(t);
        const double depth = room.depth(m);
        if (depth > v.gougeDepth) v.gougeDepth = depth;
        if (depth > kGougeDepth && v.gougeMove < 0) v.gougeMove = static_cast<int>(i);
        if (depth > kGougeDepth) v.gougeArea += room.area(m);
        // A rapid may only cross what the moves before it have cut (at its height or deeper).
        if (m.type == 3101 || (m.type == 3102 && m.z1 < m.z0)) {
            // 0.05 short of the tool: the sweeps here are polygons of 8 segments a quarter (0.024 off for R
            // 5).
            const GEOSGeometry* swept = g.meet(g.buffer(line, R - 0.05, 8), room.sweep(m.minZ()));
            v.rapidUncut += g.area(g.minus(swept, cutBelow(m.minZ(), Box(t, 2 * R), cuts.size())));
        }
        if (!m.rapid()) {
            v.path = true;
            std::vector<Vec2> coarse = track(m, 0.005);
            cuts.push_back({coarse, m.maxZ(), Box(coarse), inPlane(m), g.buffer(g.line(coarse), R, 8)});
        }
    }
    // Nothing the tool can reach left uncut, at every floor and island top of the job (by all cuts), and
    // at every plane by its own moves (a plane after it takes the material above as gone: its entry
    // comes down at rapid to it).
    std::vector<std::pair<double, bool>> checks;
    for (double z : room.levels()) checks.push_back({z, false});
    for (const Track& t : cuts) {
        auto same = [&](const std::pair<double, bool>& c) {
            return c.second && std::fabs(c.first - t.zMax) < 1e-6;
        };
        if (t.flat && std::find_if(checks.begin(), checks.end(), same) == checks.end())
            checks.push_back({t.zMax, true});
    }
    const Box everywhere({{-1e300, -1e300}, {1e300, 1e300}});
    for (const auto& [z, plane] : checks) {
        if (z >= top || !v.complete) continue;
        const GEOSGeometry* reach = g.buffer(room.centre(z), R, 8);
        const GEOSGeometry* left = g.minus(reach, cutBelow(z, everywhere, cuts.size(), plane));
        const double core = g.area(g.buffer(left, -kSliver / 2, 8));
        if (core > 1e-6) {
            v.complete = false;
            v.uncutArea = g.area(left);
            v.uncutAt = z;
        }
    }
    return v;
}

// The feed length of the moves in the plane and the part of it that runs again along a move already
// cut at the same height (removing nothing), each within 1 um of it.
inline std::pair<double, double> retracedFeed(const JobRun& run) {
    std::vector<std::pair<Prim, double>> cut;
    double feed = 0, again = 0;
    for (const Move& m : movesOf(run.records)) {
        if (!m.known || (m.type != 3111 && m.type != 3121)) continue;
        const std::vector<Vec2> t = track(m, 1e-3);
        for (size_t i = 1; i < t.size(); ++i) {
            const double l = dist(t[i - 1], t[i]);
            const Vec2 mid{(t[i - 1].x + t[i].x) / 2, (t[i - 1].y + t[i].y) / 2};
            feed += l;
            for (const auto& [p, z] : cut)
                if (std::fabs(z - m.z0) < 1e-6 && distPoint(mid, p) < 1e-3) {
                    again += l;
                    break;
                }
        }
        cut.push_back({m.type == 3121 ? arcPrim(m.from, m.to, m.c, m.cw) : linePrim(m.from, m.to), m.z0});
    }
    return {feed, again};
}

}  // namespace pocketoracle
using namespace pocketoracle;
#endif
