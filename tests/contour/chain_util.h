// Builders and GEOS helpers shared by the contour tests.
#pragma once

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "geometry/vec.h"

#ifdef KV_HAVE_GEOS
#include <geos_c.h>
#endif

namespace ctest {

inline std::vector<Seg2D> chain(const std::vector<Vec2>& p) {
    std::vector<Seg2D> e;
    for (size_t k = 1; k < p.size(); k++) e.push_back(Seg2D{p[k - 1].x, p[k - 1].y, p[k].x, p[k].y});
    return e;
}

// Counter-clockwise convex polygon on a circle, angular gaps in [minGap, maxGap] degrees; first point
// repeated last.
inline std::vector<Vec2> convexPolygon(std::mt19937& rng, double cx, double cy, double r, double minGap,
                                       double maxGap) {
    std::uniform_real_distribution<double> gap(minGap, maxGap), start(0, 360);
    const double kDeg = 3.14159265358979323846 / 180;
    std::vector<double> ang;
    double a = 0;
    // Close the circle with a last gap inside the range as well.
    for (;;) {
        double g = gap(rng);
        if (360 - (a + g) < minGap) break;
        a += g;
        ang.push_back(a);
    }
    if (360 - a > maxGap) ang.push_back(a + (360 - a) / 2);
    double s = start(rng);
    std::vector<Vec2> p{{cx + r * std::cos(s * kDeg), cy + r * std::sin(s * kDeg)}};
    for (double v : ang)
        p.push_back(Vec2{cx + r * std::cos((s + v) * kDeg), cy + r * std::sin((s + v) * kDeg)});
    p.push_back(p.front());
    return p;
}

#ifdef KV_HAVE_GEOS
struct Geos {
    GEOSContextHandle_t h = GEOS_init_r();
    ~Geos() { GEOS_finish_r(h); }
    GEOSGeometry* read(const std::string& wkt) {
        GEOSWKTReader* r = GEOSWKTReader_create_r(h);
        GEOSGeometry* g = GEOSWKTReader_read_r(h, r, wkt.c_str());
        GEOSWKTReader_destroy_r(h, r);
        return g;
    }
    void free(GEOSGeometry* g) {
        if (g) GEOSGeom_destroy_r(h, g);
    }
    double hausdorff(const GEOSGeometry* a, const GEOSGeometry* b) {
        double d = -1;
        GEOSHausdorffDistance_r(h, a, b, &d);
        return d;
    }
};

inline std::string coords(const std::vector<Vec2>& p) {
    std::string s;
    char buf[96];
    for (size_t k = 0; k < p.size(); k++) {
        std::snprintf(buf, sizeof buf, "%s%.17g %.17g", k ? ", " : "", p[k].x, p[k].y);
        s += buf;
    }
    return s;
}
inline std::string polygonWkt(const std::vector<Vec2>& p) {
    return "POLYGON((" + coords(p) + "))";
}
inline std::string lineWkt(const std::vector<Vec2>& p) {
    return "LINESTRING(" + coords(p) + ")";
}
inline std::vector<Vec2> points(const Seg2D* e, int n) {
    std::vector<Vec2> p{{e[0].x1, e[0].y1}};
    for (int k = 0; k < n; k++) p.push_back(Vec2{e[k].x2, e[k].y2});
    return p;
}
#endif

}  // namespace ctest
