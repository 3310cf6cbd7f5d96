#include "surfaces/Implib/meshlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "geometry/vec.h"
#include "openfiles.h"
#include "platform/module.h"
#include "surfaces/deboor.h"
#include "surfaces/kvxsurf.h"
#include "surfaces/meshfiles/facetfile.h"
#include "surfaces/meshfiles/polyread.h"
#include "surfaces/surf_fixtures.h"

namespace {

namespace fs = std::filesystem;

// Even-odd crossing test of the trimmed region, written here independently of the libraries.
bool insideRegion(const TrimSurface& s, double u, double v) {
    bool inside = false;
    for (int32_t k = 0; k < s.loopCount; ++k) {
        const TrimLoop& l = s.loops[k];
        for (int32_t i = 0; i < l.count; ++i) {
            const Vec2 a = l.points[i], b = l.points[(i + 1) % l.count];
            if ((a.y <= v) != (b.y <= v) && a.x + (v - a.y) / (b.y - a.y) * (b.x - a.x) > u) inside = !inside;
        }
    }
    return inside;
}

// Distance to the surface: the library's closest point (it stops within 1e-3), then Gauss-Newton
// steps of its own down to the true foot.
double distanceTo(const TrimSurface& t, const Vec3& p, SurfFoot* foot) {
    const BsplSurface& s = t.surface;
    double d = 0;
    if (projectPointNurbsSurf(&t, nullptr, &p, foot, &d) != 1) return 1e300;
    Vec3 S{}, Su{}, Sv{};
    for (int it = 0; it < 30; ++it) {
        if (evalNurbsSurfPoint(&s, foot->u, foot->v, &S) != 1 ||
            evalNurbsSurfDeriv(&s, foot->u, foot->v, &Su, &Sv, nullptr) != 1)
            break;
        const Vec3 r{p.x - S.x, p.y - S.y, p.z - S.z};
        const double a = vecDot3D(&Su, &Su), b = vecDot3D(&Su, &Sv), c = vecDot3D(&Sv, &Sv);
        const double ru = vecDot3D(&Su, &r), rv = vecDot3D(&Sv, &r), det = a * c - b * b;
        if (std::fabs(det) < 1e-30) break;
        foot->u = std::clamp(foot->u + (c * ru - b * rv) / det, s.uKnots[s.uOrder - 1], s.uKnots[s.uNum]);
        foot->v = std::clamp(foot->v + (a * rv - b * ru) / det, s.vKnots[s.vOrder - 1], s.vKnots[s.vNum]);
    }
    evalNurbsSurfPoint(&s, foot->u, foot->v, &S);
    return std::min(
        d, std::sqrt((p.x - S.x) * (p.x - S.x) + (p.y - S.y) * (p.y - S.y) + (p.z - S.z) * (p.z - S.z)));
}

// A seeded bicubic height field over 100 x 100 mm, trimmed by a circle with a circular hole.
SurfList* samplePatch(uint32_t seed) {
    SurfList* list = newSurfList(4);
    if (list == nullptr) return nullptr;
    std::mt19937 rng(seed);
    TrimSurface patch;
    makeRandomSurface(&patch, rng, 4, 4, 6, 5, seed % 2 == 1);
    std::uniform_real_distribution<double> height(0.0, 20.0);
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 5; ++j) patch.surface.rows[i][j] = Vec3{20.0 * i, 25.0 * j, height(rng)};
    for (const auto& [cu, r, n] : {std::tuple{0.5, 0.45, 40}, std::tuple{0.55, -0.15, 24}}) {
        std::vector<Vec2> loop;  // a negative radius runs clockwise
        for (int i = 0; i < n; ++i)
            loop.push_back(
                Vec2{cu + r * std::cos(2 * M_PI * i / n), 0.5 + std::fabs(r) * std::sin(2 * M_PI * i / n)});
        trimSurfaceAddLoop(&patch, loop.data(), n);
    }
    surfListAppend(list, &patch);
    return list;
}

struct MeshLibTest : ::testing::Test {
    fs::path dir;
    std::string in;
    void SetUp() override {
        dir = tempDir();
        facetFileResetState();
        SurfList* list = samplePatch(2);
        ASSERT_NE(list, nullptr);
        in = file("blade.kvx");
        ASSERT_EQ(writeSurfObjects(in.c_str(), list), 1);
        freeSurfList(list);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string file(const char* name) const { return (dir / name).string(); }
};

}  // namespace

TEST(MeshLibPath, FolderRuleTable) {
    const std::string here = moduleDirectory();
    ASSERT_FALSE(here.empty());
    const struct {
        const char* folder;
        std::string path;
    } cases[] = {{"/opt/kv", "/opt/kv/libkvx3dfdll.so"},  {"/opt/kv/", "/opt/kv/libkvx3dfdll.so"},
                 {"C:\\kv\\", "C:\\kv\\libkvx3dfdll.so"}, {"", here + "libkvx3dfdll.so"},
                 {" /opt", here + "libkvx3dfdll.so"},     {nullptr, here + "libkvx3dfdll.so"}};
    for (const auto& c : cases) EXPECT_EQ(meshLibPath(c.folder, kKvx3dfDllName), c.path);
}

TEST_F(MeshLibTest, FacetsWithinToleranceInsideTrimLoopsAndPolyhedraAlike) {
    for (uint32_t seed : {3u, 8u}) {
        SurfList* list = samplePatch(seed);
        ASSERT_NE(list, nullptr);
        const TrimSurface& s = list->entries[0];
        ASSERT_EQ(writeSurfObjects(in.c_str(), list), 1);
        const double tol = 0.1;
        const std::string out3df = file("bld.3df"), outKvx = file("bld2.kvx");
        const int n = loadMeshHelperLib(in.c_str(), out3df.c_str(), KV_BIN_DIR, tol);
        ASSERT_GT(n, 0);
        EXPECT_EQ(kvx_to_facets(in.c_str(), outKvx.c_str(), KV_BIN_DIR, tol), n);
        FacetList* facets = nullptr;
        ASSERT_EQ(facetFileLoad(out3df.c_str(), &facets), n);
        PolyNode* nodes = nullptr;
        ASSERT_EQ(readPolyhedronB(outKvx.c_str(), &nodes), 0);
        ASSERT_NE(nodes, nullptr);
        ASSERT_EQ(nodes->used, n);
        for (int32_t i = 0; i < n; ++i) {
            const Facet98 f = facets->data[i];
            const Vec3 p[3] = {f.p[0], f.p[1], f.p[2]};
            EXPECT_EQ(std::memcmp(p, nodes->triangles[i].p, sizeof p), 0) << i;  // both files, same bits
            if (i % (1 + n / 120) != 0) continue;  // a spread sample for the closest-point checks
            SurfFoot foot;
            for (int k = 0; k < 3; ++k) {
                EXPECT_LT(distanceTo(s, p[k], &foot), 1e-6) << i;
                EXPECT_TRUE(insideRegion(s, foot.u, foot.v)) << foot.u << " " << foot.v;
                const Vec3& q = p[(k + 1) % 3];
                EXPECT_LE(
                    distanceTo(s, Vec3{(p[k].x + q.x) / 2, (p[k].y + q.y) / 2, (p[k].z + q.z) / 2}, &foot),
                    tol);
            }
        }
        polyNodeFreeList(nodes);
        facetListFree(facets);
        freeSurfList(list);
    }
}

// The library writes each grid cell (or cell part along a trim loop) as two triangles a b c, a c d:
// their corners, found on the surface by projection, span a rectangle of the parameters.
TEST_F(MeshLibTest, QuadCornersSpanParameterRectangles) {
    for (uint32_t seed : {3u, 8u}) {
        SurfList* list = samplePatch(seed);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(writeSurfObjects(in.c_str(), list), 1);
        const std::string out3df = file("quads.3df");
        const int n = loadMeshHelperLib(in.c_str(), out3df.c_str(), KV_BIN_DIR, 0.02);
        FacetList* facets = nullptr;
        ASSERT_EQ(facetFileLoad(out3df.c_str(), &facets), n);
        ASSERT_TRUE(n > 0 && n % 2 == 0);
        for (int32_t i = 0; i < n; i += 2 * (1 + n / 800)) {
            const Facet98 &f = facets->data[i], &g = facets->data[i + 1];
            EXPECT_TRUE(std::memcmp(&f.p[0], &g.p[0], sizeof(Vec3)) == 0 &&
                        std::memcmp(&f.p[2], &g.p[1], sizeof(Vec3)) == 0);
            SurfFoot a, b, c, d;
            for (const auto& [p, foot] : {std::pair{f.p[0], &a}, {f.p[1], &b}, {f.p[2], &c}, {g.p[2], &d}})
                EXPECT_LT(distanceTo(list->entries[0], p, foot), 1e-6) << i;
            EXPECT_TRUE(std::fabs(a.u - d.u) < 1e-7 && std::fabs(b.u - c.u) < 1e-7 && a.u < b.u)
                << seed << " " << i;
            EXPECT_TRUE(std::fabs(a.v - b.v) < 1e-7 && std::fabs(c.v - d.v) < 1e-7 && a.v < d.v)
                << seed << " " << i;
        }
        facetListFree(facets);
        freeSurfList(list);
    }
}

TEST_F(MeshLibTest, MissingLibraryEntryOrInputGivesMinusOne) {
    const fs::path empty = dir / "empty", wrong = dir / "wrong", core = fs::path(KV_BIN_DIR) / "libkvcore.so";
    fs::create_directories(empty);
    fs::create_directories(wrong);
    ASSERT_TRUE(fs::exists(core));  // a library without the entries
    fs::copy_file(core, wrong / kKvx3dfDllName);
    fs::copy_file(core, wrong / kKvx3dfMtName);
    const std::string out = file("o.3df");
    for (const fs::path& folder : {empty, wrong}) {
        EXPECT_EQ(loadMeshHelperLib(in.c_str(), out.c_str(), folder.c_str(), 0.1), -1);
        EXPECT_EQ(kvx_to_facets(in.c_str(), out.c_str(), folder.c_str(), 0.1), -1);
    }
    EXPECT_FALSE(fs::exists(out));
    const std::string absent = file("absent.kvx");
    meshLibKeepConversions(1);  // an input that is not there is no key either
    EXPECT_LT(loadMeshHelperLib(absent.c_str(), out.c_str(), KV_BIN_DIR, 0.1), 0);
    meshLibKeepConversions(0);
    EXPECT_LT(kvx_to_facets(absent.c_str(), out.c_str(), KV_BIN_DIR, 0.1), 0);
    EXPECT_LT(loadMeshHelperLib(in.c_str(), out.c_str(), KV_BIN_DIR, 0.0), 0);
    EXPECT_LT(loadMeshHelperLib(in.c_str(), file("no/such/dir.3df").c_str(), KV_BIN_DIR, 0.1), 0);
    // A library replaced by a file of the same size, written later, is not the one a kept conversion
    // was made with: the call goes to the file, which is no library.
    const fs::path copy = dir / "lib", lib = copy / kKvx3dfDllName;
    fs::create_directories(copy);
    fs::create_symlink(fs::path(KV_BIN_DIR) / kKvx3dfDllName, lib);
    meshLibKeepConversions(1);
    const int made = loadMeshHelperLib(in.c_str(), out.c_str(), copy.c_str(), 0.5);
    EXPECT_GT(made, 0);
    const auto size = fs::file_size(lib);
    const auto written = fs::last_write_time(lib);
    const auto madeBytes = fs::file_size(out);
    fs::remove(lib);
    std::ofstream(lib, std::ios::binary).close();
    fs::resize_file(lib, size);  // zeros, without writing them
    // Of the same size and time it is taken for the library: the kept answer is written, not asked for.
    fs::last_write_time(lib, written);
    fs::remove(out);
    EXPECT_EQ(loadMeshHelperLib(in.c_str(), out.c_str(), copy.c_str(), 0.5), made);
    EXPECT_EQ(fs::exists(out) ? fs::file_size(out) : 0, madeBytes);
    fs::last_write_time(lib, written + std::chrono::seconds(1));
    EXPECT_EQ(loadMeshHelperLib(in.c_str(), out.c_str(), copy.c_str(), 0.5), -1);
    fs::resize_file(lib, size + 1);
    fs::last_write_time(lib, written);  // nor is one of another size with the library's time
    EXPECT_EQ(loadMeshHelperLib(in.c_str(), out.c_str(), copy.c_str(), 0.5), -1);
    meshLibKeepConversions(0);
}

// The companions take one mode each: 100 for the facet file, 111 with flag 1 for Polyhedron objects.
TEST_F(MeshLibTest, EntriesAreCalledWithTheirModes) {
    const fs::path stub = dir / "stub", lib = fs::path(KV_BIN_DIR) / "libkvmodestub.so";
    fs::create_directories(stub);
    fs::copy_file(lib, stub / kKvx3dfDllName);
    fs::copy_file(lib, stub / kKvx3dfMtName);
    EXPECT_EQ(loadMeshHelperLib(in.c_str(), file("o.3df").c_str(), stub.c_str(), 0.1), 100);
    EXPECT_EQ(kvx_to_facets(in.c_str(), file("o.kvx").c_str(), stub.c_str(), 0.1), 1111);  // mode, flag
    // Kept, a conversion answers only an input of the very same bytes (here two of one length that differ
    // in their last byte): the stub writes nothing, so the output shows when the kept bytes come back.
    const std::string out = file("kept.3df"), one = file("one.kvx"), two = file("two.kvx");
    const auto put = [](const std::string& name, const char* text) { std::ofstream(name) << text; };
    const auto got = [&out] {
        std::ifstream f(out);
        return std::string(std::istreambuf_iterator<char>(f), {});
    };
    meshLibKeepConversions(1);
    put(one, "surfaces 1\n"), put(two, "surfaces 2\n"), put(out, "kept");
    EXPECT_EQ(loadMeshHelperLib(one.c_str(), out.c_str(), stub.c_str(), 0.1), 100);
    put(out, "fresh");
    EXPECT_EQ(loadMeshHelperLib(two.c_str(), out.c_str(), stub.c_str(), 0.1), 100);
    EXPECT_EQ(got(), "fresh");
    EXPECT_EQ(loadMeshHelperLib(one.c_str(), out.c_str(), stub.c_str(), 0.1), 100);
    EXPECT_EQ(got(), "kept");
    meshLibKeepConversions(0);
}

TEST_F(MeshLibTest, ALoadHeldByTheHostSurvivesTheCall) {
    void* held = moduleLoad(meshLibPath(KV_BIN_DIR, kKvx3dfDllName).c_str());
    ASSERT_NE(held, nullptr);
    for (int round = 0; round < 3; ++round)
        EXPECT_GT(loadMeshHelperLib(in.c_str(), file("o.3df").c_str(), KV_BIN_DIR, 0.5), 0);
    auto fn = reinterpret_cast<FacetKvxFileFn>(moduleEntry(held, "facet_kvx_file"));
    ASSERT_NE(fn, nullptr);
    EXPECT_GT(fn(in.c_str(), 0.5, file("o2.3df").c_str(), 100), 0);  // still mapped and working
    EXPECT_EQ(moduleUnload(held), 1);
}

// While kept, every call writes the very bytes the library itself writes for that input and
// tolerance: repeated, changed under the same name, other tolerances, in any order.
TEST_F(MeshLibTest, KeptConversionsWriteWhatTheLibraryWrites) {
    void* lib = moduleLoad(meshLibPath(KV_BIN_DIR, kKvx3dfDllName).c_str());
    ASSERT_NE(lib, nullptr);
    auto fn = reinterpret_cast<FacetKvxFileFn>(moduleEntry(lib, "facet_kvx_file"));
    ASSERT_NE(fn, nullptr);
    auto bytes = [](const std::string& name) {
        std::ifstream f(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    };
    const long before = openFileCount();
    std::mt19937 rng(34);
    meshLibKeepConversions(1);
    for (int call = 0; call < 12; ++call) {
        const uint32_t seed = 1 + rng() % 3;
        const double tol = call % 4 == 3 ? 0.25 : 0.5;
        SurfList* list = samplePatch(seed);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(writeSurfObjects(in.c_str(), list), 1);
        freeSurfList(list);
        const std::string got = file("kept.3df"), want = file("direct.3df");
        const int n = loadMeshHelperLib(in.c_str(), got.c_str(), KV_BIN_DIR, tol);
        EXPECT_EQ(n, fn(in.c_str(), tol, want.c_str(), 100)) << call;
        EXPECT_EQ(bytes(got), bytes(want)) << call;
        EXPECT_EQ(fs::status(got).permissions(), fs::status(want).permissions()) << call;  // as "wb" makes it
        fs::remove(got);
    }
    EXPECT_GT(openFileCount(), before);
    meshLibKeepConversions(0);  // forgotten: what they held is given back
    EXPECT_EQ(openFileCount(), before);
    EXPECT_EQ(moduleUnload(lib), 1);
}
