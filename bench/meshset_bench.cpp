// Swing queries of a mesh set: box-tree pruning against the plain loop over every edge, on a wavy
// wire model of crossing polylines (about 2 n^2 edges).
#include <benchmark/benchmark.h>

#include <cmath>
#include <utility>
#include <vector>

#include "collision/meshset.h"
#include "collision/toolseg.h"
#include "kernel/base/rng.h"

namespace {

double height(double x, double y) {
    return 5 * std::sin(x / 17) * std::cos(y / 23);
}

MeshSet* waveSet(int n, bool tree) {
    PlistArray* lines = plistArrayCreate(2 * n);
    for (int dir = 0; dir < 2; dir++)
        for (int i = 0; i < n; i++) {
            Plist* l = plistCreate(n, 0);
            for (int j = 0; j < n; j++) {
                const double x = dir ? i : j, y = dir ? j : i;
                const Vec3 p{x, y, height(x, y)};
                plistAppend(l, j, &p, 0, nullptr, 0);
            }
            plistArrayAdd(lines, l);
            plistFree(l);
        }
    MeshSet* set = meshSetFromList(lines, 0, 0.0, 1e-3);
    plistArrayFree(lines);
    if (set && !tree)
        for (CollMesh* m : set->meshes)
            if (m) collMeshTreeFree(std::exchange(m->tree, nullptr));
    return set;
}

void tool() {
    ToolDescription t{};
    t.toolType = 1, t.radius = 5, t.cornerRadius = 5, t.tipTop = 20, t.chamferTop = 20, t.cutterTop = 50;
    t.shaftDiameter = 10, t.stage2Top = 60, t.stage2Diameter = 20, t.stage1Top = 80, t.stage1Diameter = 20;
    t.stage3Top = 90, t.stage3Diameter = 30, t.stage4Top = 100, t.stage4Diameter = 30;
    toolSegProfileInit(&t, 0, 0.005);
}

void swing(benchmark::State& state, bool tree) {
    const int n = static_cast<int>(state.range(0));
    tool();
    MeshSet* set = waveSet(n, tree);
    rngResetState();
    const Vec3 dir{0, 0.5, 0.8660254037844386}, ref{0, 0.8660254037844386, -0.5}, axis{-1, 0, 0};
    for (auto _ : state) {
        const double x = n * rngUniform(), y = n * rngUniform();
        const Vec3 pivot{x, y, height(x, y) + 5};
        double angle;
        benchmark::DoNotOptimize(meshSetCollide(&pivot, &dir, &ref, &axis, set, 1, &angle, 1.5));
    }
    state.counters["edges"] = set->meshes[0]->edgeCount;
    meshSetFree(set);
}

void BM_SwingTree(benchmark::State& state) {
    swing(state, true);
}
void BM_SwingPlain(benchmark::State& state) {
    swing(state, false);
}
void BM_BuildSet(benchmark::State& state) {
    for (auto _ : state) meshSetFree(waveSet(static_cast<int>(state.range(0)), true));
}

}  // namespace

BENCHMARK(BM_SwingTree)->Arg(100)->Arg(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SwingPlain)->Arg(100)->Arg(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildSet)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
