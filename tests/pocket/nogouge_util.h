// The independent no-gouge check of the pocket tests: channel 31 parsed into
// per-pass centre paths, and the area that the tool swept along them leaves
// outside the allowed region (GEOS, test-only).
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "pocketnc_util.h"

#ifdef KV_HAVE_GEOS
#include <geos_c.h>
#endif

namespace nogougetest {

// The cutting moves of each pass (3001 .. 3002) as polylines of centre points, arcs divided finely.
inline std::vector<std::vector<Vec2>> passes() {
    std::vector<std::vector<Vec2>> out;
    Vec2 at{0, 0};
    bool open = false;
    for (const Rec& r : records(31)) {
        if (r.type == 3101) at = {r.x, r.y};
        if (r.type == 3001) {
            out.push_back({at});
            open = true;
        }
        if (r.type == 3002) open = false;
        if (r.type == 3111 && open) out.back().push_back({r.x, r.y});
        if (r.type == 3121 && open) {
            double rad = std::hypot(at.x - r.cx, at.y - r.cy);
            double a0 = std::atan2(at.y - r.cy, at.x - r.cx), a1 = std::atan2(r.y - r.cy, r.x - r.cx);
            double sweep = r.clockwise == 1 ? -std::fmod(a0 - a1 + 4 * M_PI, 2 * M_PI)
                                            : std::fmod(a1 - a0 + 4 * M_PI, 2 * M_PI);
            for (int k = 1; k <= 64; ++k)
                out.back().push_back(
                    {r.cx + rad * std::cos(a0 + sweep * k / 64), r.cy + rad * std::sin(a0 + sweep * k / 64)});
        }
        if (r.type == 3111 || r.type == 3121) at = {r.x, r.y};
    }
    return out;
}

inline void wktAppendPoint(std::string& wkt, const Vec2& p) {
    wkt += std::to_string(p.x);
    wkt += ' ';
    wkt += std::to_string(p.y);
}

// WKT of a polygon: the outer ring, then the islands, each closed on its first point.
// Built by appending only: "(" + a temporary string trips GCC 12's -Wrestrict in release builds.
inline std::string wktPolygon(const std::vector<Vec2>& outer,
                              const std::vector<std::vector<Vec2>>& islands = {}) {
    std::string wkt = "POLYGON(";
    auto ring = [&wkt](const std::vector<Vec2>& p) {
        wkt += '(';
        for (size_t i = 0; i <= p.size() && !p.empty(); ++i) {
            if (i) wkt += ',';
            wktAppendPoint(wkt, p[i % p.size()]);
        }
        wkt += ')';
    };
    ring(outer);
    for (const auto& island : islands) {
        wkt += ',';
        ring(island);
    }
    wkt += ')';
    return wkt;
}

// A pass as a line; a one-point pass repeats its point, the only way GEOS reads a line of no length.
inline std::string wktLine(const std::vector<Vec2>& path) {
    std::string wkt = "LINESTRING(";
    for (size_t i = 0; i < path.size() + (path.size() == 1); ++i) {
        if (i) wkt += ',';
        wktAppendPoint(wkt, path[std::min(i, path.size() - 1)]);
    }
    return wkt + ')';
}

#ifdef KV_HAVE_GEOS
// Area of the tool (radius r) swept along the passes that lies outside the polygon.
inline double sweptOutside(const std::vector<std::vector<Vec2>>& paths, double r,
                           const std::string& allowedWkt) {
    GEOSContextHandle_t h = GEOS_init_r();
    GEOSWKTReader* reader = GEOSWKTReader_create_r(h);
    GEOSGeometry* allowed = GEOSWKTReader_read_r(h, reader, allowedWkt.c_str());
    double total = 0;
    for (const auto& path : paths) {
        GEOSGeometry* line = GEOSWKTReader_read_r(h, reader, wktLine(path).c_str());
        GEOSGeometry* swept = line ? GEOSBuffer_r(h, line, r, 32) : nullptr;
        GEOSGeometry* outside = swept && allowed ? GEOSDifference_r(h, swept, allowed) : nullptr;
        double a = 0;
        if (outside) GEOSArea_r(h, outside, &a);
        total += outside ? a : 1e9;
        for (GEOSGeometry* g : {line, swept, outside})
            if (g) GEOSGeom_destroy_r(h, g);
    }
    if (allowed) GEOSGeom_destroy_r(h, allowed);
    GEOSWKTReader_destroy_r(h, reader);
    GEOS_finish_r(h);
    return total;
}

// What a round tool of radius r cannot take out of the corners of a polygon: r^2 (cot(t/2) - (pi - t)/2)
// at each convex corner of inner angle t (the reflex ones leave nothing).
inline double cornerCusps(const std::vector<Vec2>& p, double r) {
    double area = 0, sum = 0;
    for (size_t i = 0; i < p.size(); ++i)
        area += p[i].x * p[(i + 1) % p.size()].y - p[(i + 1) % p.size()].x * p[i].y;
    for (size_t i = 0; i < p.size(); ++i) {
        const Vec2 a = p[(i + p.size() - 1) % p.size()], b = p[i], c = p[(i + 1) % p.size()];
        if (((b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x)) * area <= 0) continue;
        const double t = std::acos(((a.x - b.x) * (c.x - b.x) + (a.y - b.y) * (c.y - b.y)) /
                                   std::hypot(a.x - b.x, a.y - b.y) / std::hypot(c.x - b.x, c.y - b.y));
        sum += r * r * (1 / std::tan(t / 2) - (M_PI - t) / 2);
    }
    return sum;
}

// Area of the polygon that the tool (radius r) swept along the passes leaves uncut.
inline double leftUncut(const std::vector<std::vector<Vec2>>& paths, double r,
                        const std::string& allowedWkt) {
    GEOSContextHandle_t h = GEOS_init_r();
    GEOSWKTReader* reader = GEOSWKTReader_create_r(h);
    GEOSGeometry* left = GEOSWKTReader_read_r(h, reader, allowedWkt.c_str());
    for (const auto& path : paths) {
        GEOSGeometry* line = GEOSWKTReader_read_r(h, reader, wktLine(path).c_str());
        GEOSGeometry* swept = line ? GEOSBuffer_r(h, line, r, 16) : nullptr;
        GEOSGeometry* rest = swept && left ? GEOSDifference_r(h, left, swept) : nullptr;
        for (GEOSGeometry* g : {line, swept, left})
            if (g) GEOSGeom_destroy_r(h, g);
        left = rest;
    }
    double a = 1e9;
    if (left) GEOSArea_r(h, left, &a), GEOSGeom_destroy_r(h, left);
    GEOSWKTReader_destroy_r(h, reader);
    GEOS_finish_r(h);
    return a;
}
#endif

}  // namespace nogougetest
using namespace nogougetest;
