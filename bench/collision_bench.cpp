// Tool-against-mesh queries of the check model (the lift of a ball or a radius mill swept down onto a
// mesh) beside FCL's distance query of a sphere (ball) or a cylinder (radius mill; FCL has no torus)
// against the same mesh in a bounding-volume tree. Meshes are wavy height fields of 2 thousand to 2
// million triangles; the bucket grid (and FCL's tree) is built once per mesh, outside the timing.
// The tool-assembly check (shank, extension, holder and head as revolved meshes under box trees)
// runs over 10 000 seeded tool poses beside a two-sided blade of 200 000 triangles, next to FCL
// checking the same assembly as cylinders and a cone against the blade in its own tree.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "collision/chkmodel.h"
#include "wavymesh.h"
#include "collision/collassembly.h"
#include "geometry/grid2d.h"

#ifdef KV_HAVE_FCL
#include <fcl/fcl.h>
#endif

namespace {

using namespace wavymesh;


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

namespace {

// Blade: the sheet x = 20 sin(y / 30) + 5 sin(z / 10) +- 1.5 over y in [0, 200], z in [0, 100].
constexpr int kBladeU = 316, kBladeV = 158;

double bladeX(double y, double z) {
    return 20 * std::sin(y / 30) + 5 * std::sin(z / 10);
}

std::vector<float> bladeTriangles() {
    std::vector<float> t;
    for (int side = -1; side <= 1; side += 2)
        for (int i = 0; i < kBladeU; ++i)
            for (int j = 0; j < kBladeV; ++j) {
                auto p = [&](int a, int b) {
                    const double y = 200.0 * a / kBladeU, z = 100.0 * b / kBladeV;
                    return std::vector<float>{float(bladeX(y, z) + 1.5 * side), float(y), float(z)};
                };
                for (const auto& q :
                     {p(i, j), p(i + 1, j), p(i + 1, j + 1), p(i, j), p(i + 1, j + 1), p(i, j + 1)})
                    t.insert(t.end(), q.begin(), q.end());
            }
    return t;
}

void putU32(FILE* f, uint32_t v) {
    for (int k = 0; k < 4; ++k) std::fputc(int((v >> (8 * k)) & 0xff), f);
}

void putF32(FILE* f, float x) {
    uint32_t v;
    std::memcpy(&v, &x, 4);
    putU32(f, v);
}

// Ball R 2 with a shank 6 wide from 12 to 40; extension r 5 to 60, holder r 10 to 80, head r 20 to 120.
struct AssemblyScene {
    std::filesystem::path dir;
    ToolDescription tool{};
    std::vector<Vec3> tips, axes;
    bool ok = false;
    AssemblyScene() {
        dir = std::filesystem::temp_directory_path() / ("kvbench_asm_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        const std::string stl = (dir / "blade.stl").string(), kvx = (dir / "parts.kvx").string();
        const std::vector<float> t = bladeTriangles();
        FILE* f = std::fopen(stl.c_str(), "wb");
        if (!f) return;
        for (int k = 0; k < 80; ++k) std::fputc(' ', f);
        putU32(f, uint32_t(t.size() / 9));
        for (size_t i = 0; i < t.size(); i += 9) {
            for (int k = 0; k < 3; ++k) putF32(f, 0);
            for (int k = 0; k < 9; ++k) putF32(f, t[i + k]);
            std::fputc(0, f), std::fputc(0, f);
        }
        std::fclose(f);
        f = std::fopen(kvx.c_str(), "wb");
        if (!f) return;
        std::fputs("kVX-Exchange-File\nkVX-Version: 1.0\nthird line\nfourth line\n", f);
        for (auto [name, r, len] : {std::tuple{"Extension", 5, 20}, {"Holder", 10, 20}, {"Head", 20, 40}})
            std::fprintf(f, "o Contour[%s]()\n{\no L(x[0/%d] y[0/0] z[0/0])\no L(x[/%d] y[/%d] z[/0])\n}\n",
                         name, r, r, len);
        std::fclose(f);
        tool.toolType = 1, tool.radius = 2, tool.cornerRadius = 2, tool.cutterTop = 40, tool.tipTop = 10;
        tool.chamferTop = 2, tool.shaftDiameter = 6;
        CollSetup setup{kvx.c_str(), 1,   stl.c_str(), stl.c_str(), stl.c_str(),
                        stl.c_str(), 0.5, 0.5,         0.5,         0.2};
        ok = coll_setup_assembly(nullptr, &tool, 0, &setup) == 1;
        std::mt19937 gen(11);
        std::uniform_real_distribution<double> u(0, 1);
        for (int i = 0; i < 10000; ++i) {
            const double y = 20 + 160 * u(gen), z = 100 * u(gen), d = 4 + 36 * u(gen);
            const double tilt = 0.7 * u(gen), turn = 6.283185307179586 * u(gen);
            tips.push_back({bladeX(y, z) + 1.5 + d, y, z});
            axes.push_back(
                {std::sin(tilt) * std::cos(turn), std::sin(tilt) * std::sin(turn), std::cos(tilt)});
        }
    }
    ~AssemblyScene() {
        coll_free_models();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

AssemblyScene& scene() {
    static AssemblyScene s;
    return s;
}

void BM_AssemblyCheck(benchmark::State& state) {
    AssemblyScene& s = scene();
    if (!s.ok) {
        state.SkipWithError("assembly set-up failed");
        return;
    }
    size_t k = 0, hits = 0;
    for (auto _ : state) {
        const size_t i = k++ % s.tips.size();
        hits += coll_check_full(&s.tips[i], &s.axes[i], nullptr) < 0;
    }
    state.counters["poses/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["hit%"] = 100.0 * double(hits) / double(std::max<int64_t>(1, state.iterations()));
}

#ifdef KV_HAVE_FCL
// The same assembly as FCL shapes: the chamfer as a cone, shank, extension, holder and head as
// cylinders, each grown by the clearances the set-up gives its mesh; the first contact ends a pose.
void BM_FclAssembly(benchmark::State& state) {
    AssemblyScene& s = scene();
    const std::vector<float> t = bladeTriangles();
    auto bvh = std::make_shared<fcl::BVHModel<fcl::OBBRSSd>>();
    std::vector<fcl::Vector3d> v;
    std::vector<fcl::Triangle> f;
    for (size_t i = 0; i < t.size(); i += 3) v.emplace_back(t[i], t[i + 1], t[i + 2]);
    for (size_t i = 0; i < v.size(); i += 3) f.emplace_back(i, i + 1, i + 2);
    bvh->beginModel();
    bvh->addSubModel(v, f);
    bvh->endModel();
    fcl::CollisionObjectd blade(bvh, fcl::Transform3d::Identity());
    struct Part {
        std::shared_ptr<fcl::CollisionGeometryd> shape;
        double mid;
    };
    const std::vector<Part> parts = {{std::make_shared<fcl::Coned>(3.44, 4.0), 11.0},
                                     {std::make_shared<fcl::Cylinderd>(3.44, 28), 26.0},
                                     {std::make_shared<fcl::Cylinderd>(5.8, 20), 50.0},
                                     {std::make_shared<fcl::Cylinderd>(10.8, 20), 70.0},
                                     {std::make_shared<fcl::Cylinderd>(20.8, 40), 100.0}};
    size_t k = 0, hits = 0;
    for (auto _ : state) {
        const size_t i = k++ % s.tips.size();
        const Vec3& a = s.axes[i];
        const fcl::Vector3d z(a.x, a.y, a.z), x = z.unitOrthogonal();
        fcl::Matrix3d r;
        r.col(0) = x, r.col(1) = z.cross(x), r.col(2) = z;
        bool hit = false;
        for (const Part& p : parts) {
            fcl::Transform3d tf = fcl::Transform3d::Identity();
            tf.linear() = r;
            tf.translation() = fcl::Vector3d(s.tips[i].x, s.tips[i].y, s.tips[i].z) + z * p.mid;
            fcl::CollisionObjectd o(p.shape, tf);
            fcl::CollisionRequestd req;
            fcl::CollisionResultd res;
            if (fcl::collide(&o, &blade, req, res)) {
                hit = true;
                break;
            }
        }
        hits += hit;
    }
    state.counters["poses/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["hit%"] = 100.0 * double(hits) / double(std::max<int64_t>(1, state.iterations()));
}
#endif

}  // namespace

BENCHMARK(BM_AssemblyCheck)->Iterations(10000)->Unit(benchmark::kMicrosecond);
#ifdef KV_HAVE_FCL
BENCHMARK(BM_FclAssembly)->Iterations(10000)->Unit(benchmark::kMicrosecond);
#endif

BENCHMARK_CAPTURE(BM_CheckModelPath, ball, kBallMill)->Apply(sizes);
BENCHMARK_CAPTURE(BM_CheckModelPath, torus, kRadiusMill)->Apply(sizes);
#ifdef KV_HAVE_FCL
BENCHMARK_CAPTURE(BM_FclDistance, sphere, kBallMill)->Apply(sizes);
BENCHMARK_CAPTURE(BM_FclDistance, cylinder, kRadiusMill)->Apply(sizes);
#endif

BENCHMARK_MAIN();
