// offset2d against GEOS buffer (round joins) on the same contours, side by side. GEOS gets 20 segments
// per quarter circle, which makes its arc chords about as fine as offset2d's (0.08 % of d).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "KVWOG5/kont2d.h"
#include "KVWOG5/offset2d.h"

#ifdef KV_HAVE_GEOS
#include <geos_c.h>
#endif

namespace {

using Ring = std::vector<Vec2>;

struct Input {
    std::string name;
    Ring outer;
    std::vector<Ring> islands;  // clockwise
};

Ring rect(double x0, double y0, double x1, double y1, bool ccw) {
    return ccw ? Ring{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}} : Ring{{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}};
}

Ring ellipse(int n) {
    Ring e;
    for (int i = 0; i < n; i++) {
        const double a = 2 * std::numbers::pi * i / n;
        e.push_back({100 * std::cos(a), 60 * std::sin(a)});
    }
    return e;
}

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
    v.push_back({"ellipse400", ellipse(400), {}});
    v.push_back({"rect+2islands",
                 rect(0, 0, 200, 120, true),
                 {rect(20, 20, 70, 60, false), rect(120, 50, 170, 100, false)}});
    return v;
}

Kont2d* contourOf(const Input& in) {
    auto make = [](const Ring& r) {
        Kont2d* k = kont2dCreate(nullptr, static_cast<int32_t>(r.size()));
        for (size_t i = 0; i < r.size(); i++) {
            const Vec2& a = r[i];
            const Vec2& b = r[(i + 1) % r.size()];
            const Seg2D s{a.x, a.y, b.x, b.y};
            kont2dAppendElement(k, &s);
        }
        k->closed = 1;
        return k;
    };
    Kont2d* k = make(in.outer);
    Kont2d* last = nullptr;
    for (const Ring& r : in.islands) {
        Kont2d* i = make(r);
        if (!last) {
            k->firstIsland = i;
            i->prev = k;
        } else {
            last->next = i;
            i->prev = last;
        }
        last = i;
    }
    return k;
}

// Elements of every outer contour and island, as GEOS counts the coordinates of every ring.
int64_t elementCount(const Kont2d* set) {
    int64_t n = 0;
    for (const Kont2d* outer = set; outer; outer = outer->next) {
        n += outer->count;
        for (const Kont2d* island = outer->firstIsland; island; island = island->next) n += island->count;
    }
    return n;
}

void benchOffset2d(benchmark::State& state, const Input& in, double d) {
    Kont2d* k = contourOf(in);
    int64_t vertices = 0;
    for (auto _ : state) {
        Kont2d* res = nullptr;
        if (offset2d(k, d, &res) != 1) state.SkipWithError("offset2d failed");
        vertices = elementCount(res);
        kont2dFree(res);
    }
    state.counters["vertices"] = static_cast<double>(vertices);
    kont2dFree(k);
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
        GEOSGeometry* b = GEOSBufferWithStyle_r(h, g, d, 20, GEOSBUF_CAP_ROUND, GEOSBUF_JOIN_ROUND, 5.0);
        vertices = GEOSGetNumCoordinates_r(h, b);
        GEOSGeom_destroy_r(h, b);
    }
    state.counters["vertices"] = static_cast<double>(vertices);
    GEOSGeom_destroy_r(h, g);
    GEOS_finish_r(h);
}
#endif

// Distance as written in a case name: 5, -5, 0.1, 0.001.
std::string distanceTag(double d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", d);
    return buf;
}

void registerPair(const Input& in, double d) {
    const std::string tag = in.name + "/d=" + distanceTag(d);
    benchmark::RegisterBenchmark(("offset2d/" + tag).c_str(), benchOffset2d, in, d)
        ->Unit(benchmark::kMicrosecond);
#ifdef KV_HAVE_GEOS
    benchmark::RegisterBenchmark(("geos/" + tag).c_str(), benchGeos, in, d)->Unit(benchmark::kMicrosecond);
#endif
}

const int kRegistered = [] {
    static const std::vector<Input> all = inputs();
    for (const Input& in : all)
        for (double d : {5.0, -5.0, 20.0}) registerPair(in, d);
    // Growth with the input's size at a fixed distance, and with extent over distance on one shape.
    static std::vector<Input> scaling;
    for (int n : {100, 400, 1600, 6400}) scaling.push_back({"ellipse" + std::to_string(n), ellipse(n), {}});
    for (const Input& in : scaling) registerPair(in, 5.0);
    static const Input square{"square", rect(0, 0, 100, 100, true), {}};
    for (double d : {1.0, 0.1, 0.01, 0.001}) registerPair(square, d);
    return 0;
}();

}  // namespace

BENCHMARK_MAIN();
