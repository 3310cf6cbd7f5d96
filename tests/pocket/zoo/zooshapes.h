// The pocket zoo's seeded jobs: pockets of lines and arcs, stars, circles of two
// arcs, rounded rectangles, L-shapes and slots a little wider than the tool,
// with islands placed 0.02 to 1 mm from a wall or from each other, deeper
// pockets with tall islands and islands lower than the surface; every
// strategy, both directions, stepovers 0.3 to 0.9, allowances 0, 0.2 and 1,
// straight, ramp and helical entries, one to three planes; some walls with an
// allowance of their own. A seed picks one job.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "kernel/base/rng.h"
#include "pocket/whole/pocketjob_util.h"
#include "pocket/whole/pocketoracle_util.h"

#ifdef KV_HAVE_GEOS

namespace zoo {

struct Rand {
    Rng rng;
    explicit Rand(uint32_t seed) : rng{seed * 2654435761u + 977u} {}
    double uniform() { return (rngStep(&rng) * 32768.0 + rngStep(&rng)) / 1073741824.0; }
    double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    int below(int n) { return std::min(n - 1, static_cast<int>(uniform() * n)); }
    bool chance(double p) { return uniform() < p; }
};

inline Vec2 turned(Vec2 p, Vec2 about, double angle) {
    const double c = std::cos(angle), s = std::sin(angle), x = p.x - about.x, y = p.y - about.y;
    return {about.x + c * x - s * y, about.y + s * x + c * y};
}

inline JobContour turnedBy(JobContour c, Vec2 about, double angle) {
    for (JobSeg& s : c.segs) {
        s.a = turned(s.a, about, angle);
        s.b = turned(s.b, about, angle);
        s.c = turned(s.c, about, angle);
    }
    return c;
}

inline JobContour movedBy(JobContour c, Vec2 d) {
    for (JobSeg& s : c.segs)
        for (Vec2* p : {&s.a, &s.b, &s.c}) *p = {p->x + d.x, p->y + d.y};
    return c;
}

inline std::vector<Vec2> box(Vec2 lo, Vec2 hi) {
    return {lo, {hi.x, lo.y}, hi, {lo.x, hi.y}};
}

inline JobContour circle(Vec2 c, double r, double split) {
    return {{segArc(c, r, split, split + M_PI, 1), segArc(c, r, split + M_PI, split + 2 * M_PI, 1)}};
}

// A w x h rectangle about c with corners of radius cr (a stadium when cr is half the height).
inline JobContour roundedRect(Vec2 c, double w, double h, double cr) {
    const double x = w / 2 - cr, y = h / 2 - cr;
    const Vec2 k[4] = {{c.x + x, c.y - y}, {c.x + x, c.y + y}, {c.x - x, c.y + y}, {c.x - x, c.y - y}};
    JobContour out;
    for (int i = 0; i < 4; ++i) {
        const double a = M_PI / 2 * (i - 1);
        const Vec2 from{k[(i + 3) % 4].x + cr * std::cos(a), k[(i + 3) % 4].y + cr * std::sin(a)};
        const Vec2 to{k[i].x + cr * std::cos(a), k[i].y + cr * std::sin(a)};
        if (std::hypot(to.x - from.x, to.y - from.y) > 1e-9) out.segs.push_back(segLine(from, to));
        if (cr > 0) out.segs.push_back(segArc(k[i], cr, a, a + M_PI / 2, 1));
    }
    return out;
}

// A polygon about c whose edges bulge outwards or inwards by up to a fifth of their length.
inline JobContour polygonWithArcs(Rand& r, Vec2 c) {
    const int n = 5 + r.below(5);
    const double size = r.range(28, 42), a0 = r.range(0, 2 * M_PI);
    std::vector<Vec2> p;
    for (int i = 0; i < n; ++i) {
        const double a = a0 + 2 * M_PI * (i + r.range(-0.2, 0.2)) / n, rad = size * r.range(0.8, 1.0);
        p.push_back({c.x + rad * std::cos(a), c.y + rad * std::sin(a)});
    }
    JobContour out;
    for (int i = 0; i < n; ++i) {
        const Vec2 a = p[i], b = p[(i + 1) % n];
        const double chord = std::hypot(b.x - a.x, b.y - a.y);
        if (!r.chance(0.5)) {
            out.segs.push_back(segLine(a, b));
            continue;
        }
        // Sagitta h (outwards when positive) of the arc through a and b.
        const double h = chord * r.range(0.06, 0.2) * (r.chance(0.6) ? 1 : -1);
        const double rad = (chord * chord / 4 + h * h) / (2 * std::fabs(h));
        const Vec2 mid{(a.x + b.x) / 2, (a.y + b.y) / 2}, right{(b.y - a.y) / chord, -(b.x - a.x) / chord};
        const double toCentre = h > 0 ? -(rad - h) : rad + h;
        out.segs.push_back(
            {true, a, b, {mid.x + right.x * toCentre, mid.y + right.y * toCentre}, h > 0 ? 1 : -1});
    }
    return out;
}

inline JobContour star(Rand& r, Vec2 c) {
    const int n = 5 + r.below(3);
    const double outer = r.range(32, 45), inner = outer * r.range(0.45, 0.65), a0 = r.range(0, M_PI);
    std::vector<Vec2> p;
    for (int i = 0; i < 2 * n; ++i) {
        const double a = a0 + M_PI * i / n, rad = i % 2 ? inner : outer;
        p.push_back({c.x + rad * std::cos(a), c.y + rad * std::sin(a)});
    }
    return {polyline(p)};
}

inline JobContour lShape(Rand& r, Vec2 c) {
    const double a = r.range(60, 90), b = r.range(50, 80), t1 = r.range(20, 35), t2 = r.range(20, 35);
    const Vec2 o{c.x - a / 2, c.y - b / 2};
    return turnedBy({polyline({o,
                               {o.x + a, o.y},
                               {o.x + a, o.y + t1},
                               {o.x + t2, o.y + t1},
                               {o.x + t2, o.y + b},
                               {o.x, o.y + b}})},
                    c, r.range(0, 2 * M_PI));
}

// Places the island inside the pocket, clear of the others; near a wall or the last island
// with a gap of 0.02 to 1 when asked: false when no try fits.
inline bool placeIsland(Rand& r, Geos& g, const JobContour& outer, std::vector<JobContour>& islands,
                        JobContour island, int mode) {
    const GEOSGeometry* pocket = g.polygon(contourPoints(outer, false));
    double x0, y0, x1, y1;
    GEOSGeom_getXMin_r(g.h, pocket, &x0);
    GEOSGeom_getYMin_r(g.h, pocket, &y0);
    GEOSGeom_getXMax_r(g.h, pocket, &x1);
    GEOSGeom_getYMax_r(g.h, pocket, &y1);
    const GEOSGeometry* wall = g.keep(GEOSBoundary_r(g.h, pocket));
    if (mode == 2 && islands.empty()) mode = 1;
    for (int attempt = 0; attempt < 40; ++attempt) {
        const double gap = r.range(0.02, 1.0);
        JobContour c = movedBy(island, {r.range(x0, x1), r.range(y0, y1)});
        const GEOSGeometry* shape = g.polygon(contourPoints(c, false));
        if (!GEOSContains_r(g.h, pocket, shape)) continue;
        if (mode) {
            const GEOSGeometry* target = mode == 1 ? wall : g.polygon(contourPoints(islands.back(), false));
            GEOSCoordSequence* np = GEOSNearestPoints_r(g.h, shape, target);
            if (!np) continue;
            double ax, ay, bx, by;
            GEOSCoordSeq_getXY_r(g.h, np, 0, &ax, &ay);
            GEOSCoordSeq_getXY_r(g.h, np, 1, &bx, &by);
            GEOSCoordSeq_destroy_r(g.h, np);
            const double d = std::hypot(bx - ax, by - ay);
            if (d < 1e-6) continue;
            c = movedBy(c, {(bx - ax) * (d - gap) / d, (by - ay) * (d - gap) / d});
            shape = g.polygon(contourPoints(c, false));
        }
        if (!GEOSContains_r(g.h, pocket, shape)) continue;
        double nearest = g.distance(shape, wall);
        for (const JobContour& other : islands) {
            const GEOSGeometry* o = g.polygon(contourPoints(other, false));
            if (GEOSIntersects_r(g.h, o, shape)) nearest = 0;
            nearest = std::min(nearest, g.distance(shape, o));
        }
        if (nearest < 0.015 || (!mode && nearest < 1.5)) continue;
        c.island = true;
        islands.push_back(c);
        return true;
    }
    return false;
}

inline std::string fixed2(double v) {
    char t[32];
    snprintf(t, sizeof t, "%.2f", v);
    return t;
}

// The job of one seed.
inline PocketJob zooJob(uint32_t seed) {
    Rand r(seed);
    Geos g;
    PocketJob job;
    const double diameters[] = {4, 6, 8, 10, 12}, allowances[] = {0, 0.2, 1};
    const double D = diameters[r.below(5)], a = allowances[r.below(3)];
    const double T = r.chance(0.3) ? 10 : 0, depth = r.range(4, 9);
    const Vec2 c{60, 50};
    const char* const kinds[] = {"polygon", "star", "circle", "rounded", "slot", "L"};
    const int kind = r.below(6);
    JobContour outer;
    std::string what = kinds[kind];
    switch (kind) {
        case 0:
            outer = polygonWithArcs(r, c);
            break;
        case 1:
            outer = star(r, c);
            break;
        case 2:
            outer = circle(c, r.range(15, 40), r.range(0, 2 * M_PI));
            break;
        case 3: {
            const double w = r.range(40, 100), h = r.range(30, 70);
            outer =
                turnedBy(roundedRect(c, w, h, r.range(2, std::min(20.0, h / 2 - 0.5))), c, r.range(0, M_PI));
            break;
        }
        case 4: {
            const double width = D + 2 * a + r.range(0.05, 2.0);
            const bool round = r.chance(0.5);
            outer =
                turnedBy(roundedRect(c, r.range(30, 90), width, round ? width / 2 : 0), c, r.range(0, M_PI));
            what += " width D+2a+" + fixed2(width - D - 2 * a) + (round ? " round" : " square");
            break;
        }
        default:
            outer = lShape(r, c);
    }
    outer.top = T;
    outer.bottom = T - depth;
    std::vector<JobContour> islands;
    if (kind != 4) {
        const int count = r.below(4);
        for (int i = 0; i < count; ++i) {
            const int mode = r.below(3);  // free, near a wall, near the last island
            JobContour shape = r.chance(0.5)
                                   ? circle({0, 0}, r.range(2.5, 8), r.range(0, 2 * M_PI))
                                   : turnedBy(roundedRect({0, 0}, r.range(4, 14), r.range(4, 14), 0), {0, 0},
                                              r.range(0, M_PI));
            if (!placeIsland(r, g, outer, islands, shape, mode)) continue;
            islands.back().top = T;
            islands.back().bottom = outer.bottom;
            what += std::string(" island ") + (shape.segs.size() == 2 ? "round" : "box") +
                    (mode == 0   ? " free"
                     : mode == 1 ? " at wall"
                                 : " at island");
        }
        if (!islands.empty() && r.chance(0.2)) {
            islands.back().top = T - depth * r.range(0.3, 0.7);
            what += " (lower top)";
        }
    }
    std::vector<JobContour> deeper;
    if (kind != 4 && r.chance(0.2)) {
        // A deeper pocket in the floor, sometimes with an island standing up to the surface.
        std::vector<JobContour> placed = islands;
        JobContour box = roundedRect({0, 0}, r.range(20, 35), r.range(16, 28), r.range(0, 6));
        if (placeIsland(r, g, outer, placed, box, 0)) {
            JobContour inner = placed.back();
            inner.island = false;
            inner.top = outer.bottom;
            inner.bottom = outer.bottom - r.range(2, 4);
            deeper.push_back(inner);
            what += " deeper pocket";
            if (r.chance(0.5)) {
                double cx = 0, cy = 0;
                for (const JobSeg& s : inner.segs)
                    cx += s.a.x / inner.segs.size(), cy += s.a.y / inner.segs.size();
                JobContour tall = circle({cx, cy}, r.range(2, 4), r.range(0, M_PI));
                tall.island = true;
                tall.top = T;
                tall.bottom = inner.bottom;
                deeper.push_back(tall);
                what += " with tall island";
            }
        }
    }
    // The input's own direction is the nesting's business: some contours come reversed.
    job.contours.push_back(outer);
    for (const JobContour& i : islands) job.contours.push_back(i);
    for (const JobContour& d : deeper) job.contours.push_back(d);
    for (JobContour& k : job.contours)
        if (r.chance(0.5)) k.segs = reversed(k.segs);
    // Some walls keep an allowance of their own, drawn apart so that the rest of the job stays the seed's.
    Rand own(seed ^ 0x9e3779b9u);
    const double owns[] = {0, 0.1, 0.5, 1.5};
    for (size_t i = 0; i < job.contours.size(); ++i)
        if (own.chance(0.25)) {
            job.contours[i].allowance = owns[own.below(4)];
            what += " wall " + std::to_string(i) + " allowance " + fixed2(job.contours[i].allowance);
        }

    const char* const strategies[] = {"contourParallel", "outsideIn",  "outsideInDirect",
                                      "axisParallel",    "stockOutin", "openPocket"};
    const char* const plunges[] = {"straight", "ramp", "helical"};
    const std::string strategy = strategies[r.below(6)], plunge = plunges[r.below(3)];
    const double step = r.range(0.3, 0.9);
    const int planes = 1 + r.below(3);
    const bool complete = r.chance(0.5), eachPlane = r.chance(0.7);
    double lowest = outer.bottom;
    for (const JobContour& d : deeper) lowest = std::min(lowest, d.bottom);
    job.keys = {{"toolDiameter", fixed2(D)},
                {"infeedFactor", fixed2(step)},
                {"planeAllowance", fixed2(a)},
                {"surface", num(T)},
                {"depth", num(T - lowest)},
                {"infeedDepth", num(depth / planes)},
                {"clearancePlane", num(T + 50)},
                {"retractPlane", num(T + 20)},
                {"clearanceDistance", "2"},
                {"planeFeedrate", "800"},
                {"zFeedrate", "200"},
                {"oriAutomatic", "full"},
                {"orientation", r.chance(0.5) ? "clockwise" : "counterClockwise"},
                {"strategy", strategy},
                {"plungeType", plunge},
                {"completePocket", complete ? "true" : "false"}};
    if (plunge == "helical") job.set("helixRadius", fixed2(D * r.range(0.2, 1.0)));
    if (!eachPlane) job.set("retractEachPlane", "false");
    job.describe = what + "; D " + fixed2(D) + " a " + fixed2(a) + " T " + num(T) + " " + strategy + " " +
                   job.key("orientation") + " step " + fixed2(step) + " " + plunge +
                   (plunge == "helical" ? " r " + job.key("helixRadius") : "") + " planes " +
                   std::to_string(planes) + (complete ? " complete" : "") + (eachPlane ? "" : " noRetract");
    return job;
}

}  // namespace zoo

#endif
