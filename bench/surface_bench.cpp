// Cost of surface evaluation and of the closest-point search on a bicubic 20 x 20 surface, in
// points per second (items_per_second).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "surfaces/deboor.h"
#include "surfaces/facet.h"
#include "surfaces/nurbs.h"
#include "surfaces/surflist.h"

namespace {

// A wavy 100 x 100 mm sheet, uniform clamped knots; built once.
const TrimSurface& bicubic() {
    static TrimSurface rec = [] {
        TrimSurface r;
        kvxInitTrimSurface(&r);
        const int n = 20, order = 4;
        bsplSurfaceAlloc(&r.surface, order, order, n, n, 0);
        for (double* k : {r.surface.uKnots, r.surface.vKnots})
            for (int i = 0; i < n + order; ++i)
                k[i] = std::clamp(i - order + 1, 0, n - order + 1) / double(n - order + 1);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                r.surface.rows[i][j] = {5.0 * i, 5.0 * j, 8 * std::sin(0.4 * i) * std::cos(0.3 * j)};
        return r;
    }();
    return rec;
}

std::vector<std::pair<double, double>> params(int n) {
    std::mt19937 rng(20);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<std::pair<double, double>> v(n);
    for (auto& p : v) p = {u(rng), u(rng)};
    return v;
}

void BM_DeBoorPoint(benchmark::State& state) {
    const auto& s = bicubic().surface;
    const auto uv = params(1024);
    size_t i = 0;
    for (auto _ : state) {
        Vec3 p;
        const auto& q = uv[i++ & 1023];
        benchmark::DoNotOptimize(evalNurbsSurfPoint(&s, q.first, q.second, &p));
        benchmark::DoNotOptimize(p);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DeBoorPoint);

// The same points from the explicit basis functions, for comparison.
void BM_BasisPoint(benchmark::State& state) {
    const auto& s = bicubic().surface;
    const auto uv = params(1024);
    size_t i = 0;
    for (auto _ : state) {
        Vec3 p;
        const auto& q = uv[i++ & 1023];
        benchmark::DoNotOptimize(nurbsSurfEval(&s, q.first, q.second, &p));
        benchmark::DoNotOptimize(p);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BasisPoint);

void BM_DeBoorNormal(benchmark::State& state) {
    const auto& s = bicubic().surface;
    const auto uv = params(1024);
    size_t i = 0;
    for (auto _ : state) {
        Vec3 su, sv, n;
        const auto& q = uv[i++ & 1023];
        benchmark::DoNotOptimize(evalNurbsSurfDeriv(&s, q.first, q.second, &su, &sv, &n));
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DeBoorNormal);

// Targets 2 mm off the surface along its normal; range(0) = 1 starts from the true parameters
// nudged by 0.02, 0 from the coarse grid.
void BM_ClosestPoint(benchmark::State& state) {
    const auto& rec = bicubic();
    const auto uv = params(256);
    std::vector<Vec3> targets;
    for (const auto& q : uv) {
        Vec3 p, n;
        evalNurbsSurfPoint(&rec.surface, q.first, q.second, &p);
        evalNurbsSurfDeriv(&rec.surface, q.first, q.second, nullptr, nullptr, &n);
        targets.push_back({p.x + 2 * n.x, p.y + 2 * n.y, p.z + 2 * n.z});
    }
    const bool withStart = state.range(0) == 1;
    size_t i = 0;
    for (auto _ : state) {
        const size_t k = i++ & 255;
        SurfFoot start{std::fmin(uv[k].first + 0.02, 1.0), std::fmax(uv[k].second - 0.02, 0.0), {}};
        evalNurbsSurfPoint(&rec.surface, start.u, start.v, &start.point);
        SurfFoot foot;
        double d;
        benchmark::DoNotOptimize(
            projectPointNurbsSurf(&rec, withStart ? &start : nullptr, &targets[k], &foot, &d));
        benchmark::DoNotOptimize(d);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ClosestPoint)->Arg(0)->Arg(1);

// Area of the bicubic sheet trimmed to a disc; range(0) is the tolerance in thousandths. At 10 (0.01, the
// plunge cycle's tolerance) the refinement reaches its cell bound.
void BM_FacetArea(benchmark::State& state) {
    TrimSurface rec = bicubic();  // shares the surface arrays; only the loops are its own
    rec.loopCount = 0, rec.loops = nullptr;
    Vec2 disc[64];
    for (int i = 0; i < 64; ++i)
        disc[i] = {0.5 + 0.4 * std::cos(i * M_PI / 32), 0.5 + 0.4 * std::sin(i * M_PI / 32)};
    trimSurfaceAddLoop(&rec, disc, 64);
    for (auto _ : state) {
        double area, rel;
        benchmark::DoNotOptimize(facetSurface(&rec, state.range(0) / 1000.0, &area, &rel));
        state.counters["cells"] = facetLastStats()->cells;
    }
    for (int32_t i = 0; i < rec.loopCount; ++i) std::free(rec.loops[i].points);
    std::free(rec.loops);
}
BENCHMARK(BM_FacetArea)->Arg(1000)->Arg(100)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
