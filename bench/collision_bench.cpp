// Tool-against-mesh queries of the check model (the lift of a ball or a radius mill swept down onto a
// mesh) beside FCL's distance query of a sphere (ball) or a cylinder (radius mill; FCL has no torus)
// against the same mesh in a bounding-volume tree. Meshes are wavy height fields of 2 thousand to 2
// million triangles; the bucket grid (and FCL's tree) is built once per mesh, outside the timing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "collision/chkmodel.h"
#include "geometry/grid2d.h"

#ifdef KV_HAVE_FCL
#include <fcl/fcl.h>
#endif

namespace {

constexpr double kR = 3.0, kCorner = 1.0;

double height(double x, double y) {
    return 3 * std::sin(x / 7) * std::cos(y / 5) + 0.5 * std::sin(x / 2 + y / 3);
}

struct Mesh {
    int n = 0;  // cells per side; side length n
    TriList* tris = nullptr;
    std::vector<Vec3> lo, hi;
    Grid2D* grid = nullptr;
    double zmin = 1e300, zmax = -1e300;
#ifdef KV_HAVE_FCL
    std::shared_ptr<fcl::BVHModel<fcl::OBBRSSd>> bvh;
#endif
    ~Mesh() {
        triListFree(tris);
        grid2DFree(grid);
    }
};

// Triangles sorted by decreasing top, with their boxes and a bucket grid of cells about 3 wide.
Mesh* buildMesh(int64_t triangles) {
    auto* m = new Mesh;
    m->n = static_cast<int>(std::lround(std::sqrt(triangles / 2.0)));
    const int n = m->n;
    std::vector<Triangle3D> t;
    t.reserve(size_t(2) * n * n);
    auto p = [](int i, int j) { return Vec3{double(i), double(j), height(i, j)}; };
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            t.push_back({{p(i, j), p(i + 1, j), p(i + 1, j + 1)}});
            t.push_back({{p(i, j), p(i + 1, j + 1), p(i, j + 1)}});
        }
    auto top = [](const Triangle3D& a) { return std::max({a.p[0].z, a.p[1].z, a.p[2].z}); };
    std::sort(t.begin(), t.end(), [&](const Triangle3D& a, const Triangle3D& b) { return top(a) > top(b); });
    m->tris = triListCreate(static_cast<int32_t>(t.size()));
    for (const Triangle3D& a : t) {
        triListAdd(m->tris, &a);
        Vec3 l = a.p[0], h = a.p[0];
        for (const Vec3& q : a.p) {
            l = {std::min(l.x, q.x), std::min(l.y, q.y), std::min(l.z, q.z)};
            h = {std::max(h.x, q.x), std::max(h.y, q.y), std::max(h.z, q.z)};
        }
        m->lo.push_back(l);
        m->hi.push_back(h);
        m->zmin = std::min(m->zmin, l.z);
        m->zmax = std::max(m->zmax, h.z);
    }
    const int cells = std::max(1, n / 3);
    m->grid = grid2DCreate(cells, cells, 16);
    const Vec3 gl{0, 0, 0}, gh{double(n), double(n), 0};
    grid2DFillSegs(m->grid, m->tris->count, &gl, &gh, m->lo.data(), m->hi.data(), kR);
#ifdef KV_HAVE_FCL
    std::vector<fcl::Vector3d> v;
    std::vector<fcl::Triangle> f;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j) v.emplace_back(i, j, height(i, j));
    auto id = [n](int i, int j) { return i * (n + 1) + j; };
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            f.emplace_back(id(i, j), id(i + 1, j), id(i + 1, j + 1));
            f.emplace_back(id(i, j), id(i + 1, j + 1), id(i, j + 1));
        }
    m->bvh = std::make_shared<fcl::BVHModel<fcl::OBBRSSd>>();
    m->bvh->beginModel();
    m->bvh->addSubModel(v, f);
    m->bvh->endModel();
#endif
    return m;
}

Mesh* meshOf(int64_t triangles) {
    static std::map<int64_t, std::unique_ptr<Mesh>> cache;
    auto& slot = cache[triangles];
    if (!slot) slot.reset(buildMesh(triangles));
    return slot.get();
}

std::vector<Vec2> queryPoints(int n, int count) {
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(kR, n - kR);
    std::vector<Vec2> q(count);
    for (Vec2& p : q) p = {u(gen), u(gen)};
    return q;
}

void BM_CheckModelPath(benchmark::State& state, uint16_t type) {
    Mesh* mesh = meshOf(state.range(0));
    ToolGeom tool{};
    tool.toolType = type;
    tool.radius = kR;
    tool.cornerRadius = type == kRadiusMill ? kCorner : 0.0;
    CheckModel model;
    chkModelInit(&model, kMeshTriangles);
    model.triangles = mesh->tris;
    model.boxMin = mesh->lo.data();
    model.boxMax = mesh->hi.data();
    model.tool = &tool;
    const std::vector<Vec2> pts = queryPoints(mesh->n, 4096);
    const Vec3 down{0, 0, -1};
    const double length = mesh->zmax - mesh->zmin + 2 * kR + 2;
    size_t k = 0, hits = 0;
    for (auto _ : state) {
        const Vec2& q = pts[k++ & 4095];
        const GridCell* cell = grid2DCellAt(mesh->grid, q.x, q.y);
        const Vec3 p{q.x, q.y, height(q.x, q.y)};  // a path point on the surface, lifted clear
        double lift;
        Vec3 c;
        hits += chkModelPath(&model, cell->items, cell->count, &p, &down, length, &lift, &c);
        benchmark::DoNotOptimize(lift);
    }
    model.tool = nullptr;
    state.counters["points/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["hit%"] = 100.0 * double(hits) / double(std::max<int64_t>(1, state.iterations()));
}

#ifdef KV_HAVE_FCL
void BM_FclDistance(benchmark::State& state, uint16_t type) {
    Mesh* mesh = meshOf(state.range(0));
    std::shared_ptr<fcl::CollisionGeometryd> shape;
    if (type == kBallMill)
        shape = std::make_shared<fcl::Sphered>(kR);
    else
        shape = std::make_shared<fcl::Cylinderd>(kR, 2 * kCorner);
    fcl::CollisionObjectd meshObj(mesh->bvh, fcl::Transform3d::Identity());
    const std::vector<Vec2> pts = queryPoints(mesh->n, 4096);
    size_t k = 0;
    for (auto _ : state) {
        const Vec2& q = pts[k++ & 4095];
        fcl::Transform3d tf = fcl::Transform3d::Identity();
        tf.translation() = fcl::Vector3d(q.x, q.y, height(q.x, q.y) + kR + 0.5);
        fcl::CollisionObjectd toolObj(shape, tf);
        fcl::DistanceRequestd req;
        fcl::DistanceResultd res;
        fcl::distance(&toolObj, &meshObj, req, res);
        benchmark::DoNotOptimize(res.min_distance);
    }
    state.counters["points/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
#endif

void sizes(benchmark::internal::Benchmark* b) {
    for (int64_t n : {2000, 20000, 200000, 2000000}) b->Arg(n);
    b->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK_CAPTURE(BM_CheckModelPath, ball, kBallMill)->Apply(sizes);
BENCHMARK_CAPTURE(BM_CheckModelPath, torus, kRadiusMill)->Apply(sizes);
#ifdef KV_HAVE_FCL
BENCHMARK_CAPTURE(BM_FclDistance, sphere, kBallMill)->Apply(sizes);
BENCHMARK_CAPTURE(BM_FclDistance, cylinder, kRadiusMill)->Apply(sizes);
#endif

BENCHMARK_MAIN();
