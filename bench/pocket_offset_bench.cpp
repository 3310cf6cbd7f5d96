// The pocket contour offset beside GEOS buffer (round joins) on the same contours, side by side. The
// pocket offset works on one contour at a time: a shape with islands is offset contour by contour, as
// the pocket cycle does, while GEOS buffers the polygon with its holes in one call. GEOS gets 20
// segments per quarter circle; the pocket offset writes exact arcs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "pocket/clist.h"
#include "pocket/contouroffset.h"

#ifdef KV_HAVE_GEOS
#include <geos_c.h>
#endif

namespace {

struct Point {
    double x, y;
};

using Ring = std::vector<Point>;

struct Input {
    std::string name;
    Ring outer;                 // counter-clockwise
    std::vector<Ring> islands;  // clockwise
};

Ring rect(double x0, double y0, double x1, double y1, bool ccw) {
    return ccw ? Ring{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}} : Ring{{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}};
}

Ring circleRing(double cx, double cy, double r, int n, bool ccw) {
    Ring p;
    for (int i = 0; i < n; i++) {
        const double a = (ccw ? 1 : -1) * 2 * std::numbers::pi * i / n;
        p.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    return p;
}

// The shapes of the offset library's benchmark, and a 1000-element contour with five islands.
std::vector<Input> inputs() {
    std::vector<Input> v;
    v.push_back({"square", rect(0, 0, 100, 100, true), {}});
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Ring star;
    for (int i = 0; i < 16; i++) {
        const double a = 2 * std::numbers::pi * i / 16,
                     r = 100 * ((i % 2) ? 0.5 + 0.1 * u(rng) : 0.8 + 0.2 * u(rng));
        star.push_back({r * std::cos(a), r * std::sin(a)});
    }
    v.push_back({"star16", star, {}});
    Ring ellipse;
    for (int i = 0; i < 400; i++) {
        const double a = 2 * std::numbers::pi * i / 400;
        ellipse.push_back({100 * std::cos(a), 60 * std::sin(a)});
    }
    v.push_back({"ellipse400", ellipse, {}});
    v.push_back({"rect+2islands",
                 rect(0, 0, 200, 120, true),
                 {rect(20, 20, 70, 60, false), rect(120, 50, 170, 100, false)}});
    // A wavy outline of 1000 lines around five round islands.
    Ring wavy;
    for (int i = 0; i < 1000; i++) {
        const double a = 2 * std::numbers::pi * i / 1000,
                     r = 200 + 15 * std::sin(12 * a) + 5 * std::sin(37 * a);
        wavy.push_back({r * std::cos(a), r * std::sin(a)});
    }
    std::vector<Ring> holes;
    for (int k = 0; k < 5; k++) {
        const double a = 2 * std::numbers::pi * k / 5;
        holes.push_back(circleRing(100 * std::cos(a), 100 * std::sin(a), 25, 40, false));
    }
    v.push_back({"wavy1000+5islands", wavy, holes});
    return v;
}

std::vector<ContourElement> elementsOf(const Ring& r) {
    std::vector<ContourElement> out;
    for (size_t i = 0; i < r.size(); i++) {
        const Point& a = r[i];
        const Point& b = r[(i + 1) % r.size()];
        ContourElement e{};
        e.type = kElemLine;
        e.g[kLx1] = a.x;
        e.g[kLy1] = a.y;
        e.g[kLx2] = b.x;
        e.g[kLy2] = b.y;
        out.push_back(e);
    }
    return out;
}

// Every contour offset into the material: the outer one inward for d > 0, the islands outward.
void benchPocket(benchmark::State& state, const Input& in, double d) {
    std::vector<std::vector<ContourElement>> contours{elementsOf(in.outer)};
    for (const Ring& r : in.islands) contours.push_back(elementsOf(r));
    std::vector<ContourElement> out(kClistMaxElements);
    std::vector<int32_t> start(kOffsetMaxRings), count(kOffsetMaxRings);
    int64_t elements = 0, rings = 0;
    for (auto _ : state) {
        elements = rings = 0;
        for (size_t c = 0; c < contours.size(); c++) {
            int32_t end = 0;
            // The material lies left of the counter-clockwise outline and left of the clockwise islands.
            const int32_t n = offsetContour(contours[c].data(), static_cast<int32_t>(contours[c].size()), 1,
                                            d, out.data(), &end, start.data(), count.data());
            if (n < 0) state.SkipWithError("offsetContour failed");
            rings += n;
            elements += end;
        }
    }
    state.counters["rings"] = static_cast<double>(rings);
    state.counters["elements"] = static_cast<double>(elements);
}

#ifdef KV_HAVE_GEOS
void benchGeos(benchmark::State& state, const Input& in, double d) {
    GEOSContextHandle_t h = GEOS_init_r();
    auto ring = [h](const Ring& r) {
        GEOSCoordSequence* cs = GEOSCoordSeq_create_r(h, static_cast<unsigned>(r.size() + 1), 2);
        for (unsigned i = 0; i <= r.size(); i++)
            GEOSCoordSeq_setXY_r(h, cs, i, r[i % r.size()].x, r[i % r.size()].y);
        return GEOSGeom_createLinearRing_r(h, cs);
    };
    std::vector<GEOSGeometry*> holes;
    for (const Ring& r : in.islands) holes.push_back(ring(r));
    GEOSGeometry* g =
        GEOSGeom_createPolygon_r(h, ring(in.outer), holes.data(), static_cast<unsigned>(holes.size()));
    int64_t vertices = 0;
    for (auto _ : state) {
        GEOSGeometry* b = GEOSBufferWithStyle_r(h, g, -d, 20, GEOSBUF_CAP_ROUND, GEOSBUF_JOIN_ROUND, 5.0);
        vertices = GEOSGetNumCoordinates_r(h, b);
        GEOSGeom_destroy_r(h, b);
    }
    state.counters["vertices"] = static_cast<double>(vertices);
    GEOSGeom_destroy_r(h, g);
    GEOS_finish_r(h);
}
#endif

const int kRegistered = [] {
    static const std::vector<Input> all = inputs();
    for (const Input& in : all) {
        for (double d : {5.0, -5.0, 20.0}) {
            const std::string tag = in.name + "/d=" + std::to_string(static_cast<int>(d));
            benchmark::RegisterBenchmark(("pocket/" + tag).c_str(), benchPocket, in, d)
                ->Unit(benchmark::kMicrosecond);
#ifdef KV_HAVE_GEOS
            benchmark::RegisterBenchmark(("geos/" + tag).c_str(), benchGeos, in, d)
                ->Unit(benchmark::kMicrosecond);
#endif
        }
    }
    return 0;
}();

}  // namespace

BENCHMARK_MAIN();
