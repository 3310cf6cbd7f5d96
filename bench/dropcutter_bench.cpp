// Drop-cutter placement (a ball or a radius mill with a vertical axis placed on a mesh): engine B over
// the bucket grid in batches of 10 000 and 100 000 points, beside the brute-force drop that runs the
// kernel on every triangle of the mesh, and FCL's distance query of a sphere where FCL is found.
// Meshes are wavy height fields of 20 thousand and 2 million triangles; grids and trees are built once.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "collision/chkmodel.h"
#include "wavymesh.h"
#include "collision/dropcut.h"
#include "geometry/grid2d.h"

#ifdef KV_HAVE_FCL
#include <fcl/fcl.h>
#endif

namespace {

using namespace wavymesh;


ToolGeom toolOf(uint16_t type) {
    ToolGeom t{};
    t.toolType = type;
    t.radius = kR;
    t.cornerRadius = type == kRadiusMill ? kCorner : 0.0;
    t.size2 = 2 * kR;
    return t;
}

// Arguments: mesh triangles, points per batch.
void BM_DropEngine(benchmark::State& state, uint16_t type) {
    Mesh* mesh = meshOf(state.range(0));
    ToolGeom tool = toolOf(type);
    CheckModel model;
    chkModelInit(&model, kMeshTriangles);
    model.triangles = mesh->tris;
    model.boxMin = mesh->lo.data();
    model.boxMax = mesh->hi.data();
    model.bounds[2] = mesh->zmin;
    model.bounds[5] = mesh->zmax;
    model.tool = &tool;
    model.grid = mesh->grid;
    const int batch = static_cast<int>(state.range(1));
    const std::vector<Vec2> pts = queryPoints(mesh->n, batch);
    for (auto _ : state) {
        for (const Vec2& q : pts) {
            Vec3 p{q.x, q.y, mesh->zmin - 10}, c;
            int32_t cls;
            benchmark::DoNotOptimize(chkModelPlaceTool(&model, &p, &c, &cls));
            benchmark::DoNotOptimize(p.z);
        }
    }
    model.tool = nullptr;
    state.counters["points/s"] =
        benchmark::Counter(double(state.iterations()) * batch, benchmark::Counter::kIsRate);
}

// The kernel on every triangle of the mesh: one point per iteration.
void BM_DropBrute(benchmark::State& state, uint16_t type) {
    Mesh* mesh = meshOf(state.range(0));
    const ToolGeom tool = toolOf(type);
    const std::vector<Vec2> pts = queryPoints(mesh->n, 64);
    size_t k = 0;
    for (auto _ : state) {
        const Vec2& q = pts[k++ & 63];
        DropState s{};
        s.x = q.x;
        s.y = q.y;
        s.z0 = mesh->zmax + kR;
        s.best = mesh->zmin - 10;
        s.radius = s.radius2 = type == kRadiusMill ? kR - kCorner : kR;
        s.cornerRadius = tool.cornerRadius;
        for (int32_t j = 0; j < mesh->tris->count; ++j) {
            const Triangle3D& t = mesh->tris->data[j];
            s.tri[0] = t.p[0];
            s.tri[1] = t.p[1];
            s.tri[2] = t.p[2];
            if (type == kBallMill)
                toolPartLift3(&s);
            else
                toolPartLift1(&s);
        }
        benchmark::DoNotOptimize(s.best);
    }
    state.counters["points/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["tri-tests/s"] = benchmark::Counter(double(state.iterations()) * double(mesh->tris->count),
                                                       benchmark::Counter::kIsRate);
}

#ifdef KV_HAVE_FCL
void BM_FclSphereDistance(benchmark::State& state) {
    Mesh* mesh = meshOf(state.range(0));
    auto shape = std::make_shared<fcl::Sphered>(kR);
    fcl::CollisionObjectd meshObj(mesh->bvh, fcl::Transform3d::Identity());
    const int batch = static_cast<int>(state.range(1));
    const std::vector<Vec2> pts = queryPoints(mesh->n, batch);
    for (auto _ : state) {
        for (const Vec2& q : pts) {
            fcl::Transform3d tf = fcl::Transform3d::Identity();
            tf.translation() = fcl::Vector3d(q.x, q.y, height(q.x, q.y) + kR + 0.5);
            fcl::CollisionObjectd toolObj(shape, tf);
            fcl::DistanceRequestd req;
            fcl::DistanceResultd res;
            fcl::distance(&toolObj, &meshObj, req, res);
            benchmark::DoNotOptimize(res.min_distance);
        }
    }
    state.counters["points/s"] =
        benchmark::Counter(double(state.iterations()) * batch, benchmark::Counter::kIsRate);
}
#endif

void batches(benchmark::internal::Benchmark* b) {
    for (int64_t tri : {20000, 2000000})
        for (int64_t pts : {10000, 100000}) b->Args({tri, pts});
    b->Unit(benchmark::kMillisecond)->Iterations(1);
}

void brute(benchmark::internal::Benchmark* b) {
    b->Args({20000, 1})->Args({2000000, 1});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_CAPTURE(BM_DropEngine, ball, kBallMill)->Apply(batches);
BENCHMARK_CAPTURE(BM_DropEngine, torus, kRadiusMill)->Apply(batches);
BENCHMARK_CAPTURE(BM_DropBrute, ball, kBallMill)->Apply(brute);
BENCHMARK_CAPTURE(BM_DropBrute, torus, kRadiusMill)->Apply(brute);
#ifdef KV_HAVE_FCL
BENCHMARK(BM_FclSphereDistance)->Apply(batches);
#endif

BENCHMARK_MAIN();
