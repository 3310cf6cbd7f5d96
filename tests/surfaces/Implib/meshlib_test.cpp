#include "surfaces/Implib/meshlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "geometry/vec.h"
#include "platform/module.h"
#include "surfaces/deboor.h"
#include "surfaces/kvxsurf.h"
#include "surfaces/meshfiles/facetfile.h"
#include "surfaces/meshfiles/polyread.h"
#include "surfaces/surf_fixtures.h"

namespace {

namespace fs = std::filesystem;

// Crossing test of the trimmed region, written here independently of the library.
bool insideRegion(const TrimSurface& s, double u, double v) {
    auto in = [&](const TrimLoop& l) {
        int crossings = 0;
        for (int32_t i = 0; i < l.count; ++i) {
            const Vec2 a = l.points[i], b = l.points[(i + 1) % l.count];
            if ((a.y <= v) == (b.y <= v)) continue;
            const double x = a.x + (v - a.y) / (b.y - a.y) * (b.x - a.x);
            if (x > u) ++crossings;
        }
        return crossings % 2 == 1;
    };
    if (s.loopCount == 0) return true;
    if (!in(s.loops[0])) return false;
    for (int32_t k = 1; k < s.loopCount; ++k)
        if (in(s.loops[k])) return false;
    return true;
}

std::vector<Vec2> circle(double cu, double cv, double r, int n, bool ccw) {
    std::vector<Vec2> pts;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * i / n * (ccw ? 1 : -1);
        pts.push_back(Vec2{cu + r * std::cos(a), cv + r * std::sin(a)});
    }
    return pts;
}

struct Nearest {
    double distance;
    int surface;
    SurfFoot foot;
};

// Gauss-Newton steps from the library's foot (which stops within 1e-3) down to the true foot.
double polish(const BsplSurface& s, const Vec3& p, SurfFoot* foot) {
    const double ulo = s.uKnots[s.uOrder - 1], uhi = s.uKnots[s.uNum];
    const double vlo = s.vKnots[s.vOrder - 1], vhi = s.vKnots[s.vNum];
    double u = foot->u, v = foot->v;
    Vec3 S{}, Su{}, Sv{};
    for (int it = 0; it < 30; ++it) {
        if (evalNurbsSurfPoint(&s, u, v, &S) != 1 || evalNurbsSurfDeriv(&s, u, v, &Su, &Sv, nullptr) != 1)
            break;
        const Vec3 r{p.x - S.x, p.y - S.y, p.z - S.z};
        const double a = vecDot3D(&Su, &Su), b = vecDot3D(&Su, &Sv), c = vecDot3D(&Sv, &Sv);
        const double ru = vecDot3D(&Su, &r), rv = vecDot3D(&Sv, &r), det = a * c - b * b;
        if (std::fabs(det) < 1e-30) break;
        u = std::clamp(u + (c * ru - b * rv) / det, ulo, uhi);
        v = std::clamp(v + (a * rv - b * ru) / det, vlo, vhi);
    }
    evalNurbsSurfPoint(&s, u, v, &S);
    foot->u = u;
    foot->v = v;
    return std::sqrt((p.x - S.x) * (p.x - S.x) + (p.y - S.y) * (p.y - S.y) + (p.z - S.z) * (p.z - S.z));
}

Nearest nearest(const SurfList* list, const Vec3& p) {
    Nearest best{1e300, -1, {}};
    for (int32_t i = 0; i < list->count; ++i) {
        SurfFoot foot;
        double d = 0;
        if (projectPointNurbsSurf(&list->entries[i], nullptr, &p, &foot, &d) != 1) continue;
        d = std::min(d, polish(list->entries[i].surface, p, &foot));
        if (d < best.distance) best = Nearest{d, i, foot};
    }
    return best;
}

// A cylinder and a trimmed random bicubic patch (outer circle, one hole) in one exchange file.
SurfList* sampleSurfaces(uint32_t seed) {
    SurfList* list = newSurfList(4);
    if (list == nullptr) return nullptr;
    TrimSurface cyl;
    makeCylinder(&cyl, 50, 30);
    surfListAppend(list, &cyl);
    std::mt19937 rng(seed);
    TrimSurface patch;
    makeRandomSurface(&patch, rng, 4, 4, 6, 5, seed % 2 == 1);
    // A height field over a 100 mm square beside the cylinder: random heights, no folds, so that
    // the closest point of the checks is unique.
    std::uniform_real_distribution<double> height(0.0, 20.0);
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 5; ++j) patch.surface.rows[i][j] = Vec3{100 + 20.0 * i, 25.0 * j, height(rng)};
    const std::vector<Vec2> outer = circle(0.5, 0.5, 0.45, 40, true),
                            hole = circle(0.55, 0.5, 0.15, 24, false);
    trimSurfaceAddLoop(&patch, outer.data(), static_cast<int32_t>(outer.size()));
    trimSurfaceAddLoop(&patch, hole.data(), static_cast<int32_t>(hole.size()));
    surfListAppend(list, &patch);
    return list;
}

struct MeshLibTest : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = tempDir();
        facetFileResetState();
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string file(const char* name) const { return (dir / name).string(); }
};

}  // namespace

TEST(MeshLibPath, FolderRuleTable) {
    const std::string here = moduleDirectory();
    const struct {
        const char* folder;
        std::string path;
    } cases[] = {{"/opt/kv", "/opt/kv/libkvx3dfdll.so"},  {"/opt/kv/", "/opt/kv/libkvx3dfdll.so"},
                 {"C:\\kv\\", "C:\\kv\\libkvx3dfdll.so"}, {"", here + "libkvx3dfdll.so"},
                 {" /opt", here + "libkvx3dfdll.so"},     {nullptr, here + "libkvx3dfdll.so"}};
    for (const auto& c : cases) EXPECT_EQ(meshLibPath(c.folder, kKvx3dfDllName), c.path);
    EXPECT_FALSE(here.empty());
}

TEST_F(MeshLibTest, FacetFileWithinToleranceAndInsideTrimLoops) {
    for (uint32_t seed : {3u, 8u}) {
        SurfList* list = sampleSurfaces(seed);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->count, 2);
        const std::string in = file("blade.kvx"), out = file("bld.3df");
        ASSERT_EQ(writeSurfObjects(in.c_str(), list), 1);
        const double tol = 0.1;
        const int n = loadMeshHelperLib(in.c_str(), out.c_str(), KV_BIN_DIR, tol);
        ASSERT_GT(n, 0);
        FacetList* facets = nullptr;
        ASSERT_EQ(facetFileLoad(out.c_str(), &facets), n);
        ASSERT_NE(facets, nullptr);
        int onPatch = 0;
        // A spread sample of the facets, to keep the run short.
        for (int32_t i = 0; i < facets->count; i += 1 + facets->count / 80) {
            const Facet98 f = facets->data[i];
            const Vec3 p[3] = {f.p[0], f.p[1], f.p[2]};
            EXPECT_EQ(std::memcmp(&f.p[2], &f.p[3], sizeof(Vec3)), 0);
            for (int k = 0; k < 3; ++k) {
                const Nearest v = nearest(list, p[k]);
                ASSERT_GE(v.surface, 0);
                EXPECT_LT(v.distance, 1e-6) << i;
                const Vec3 m{(p[k].x + p[(k + 1) % 3].x) / 2, (p[k].y + p[(k + 1) % 3].y) / 2,
                             (p[k].z + p[(k + 1) % 3].z) / 2};
                EXPECT_LE(nearest(list, m).distance, tol) << i;
            }
            const Vec3 c{(p[0].x + p[1].x + p[2].x) / 3, (p[0].y + p[1].y + p[2].y) / 3,
                         (p[0].z + p[1].z + p[2].z) / 3};
            const Nearest cn = nearest(list, c);
            if (cn.surface == 1) {
                ++onPatch;
                EXPECT_TRUE(insideRegion(list->entries[1], cn.foot.u, cn.foot.v))
                    << cn.foot.u << " " << cn.foot.v;
            }
        }
        EXPECT_GT(onPatch, 10);
        facetListFree(facets);
        freeSurfList(list);
    }
}

TEST_F(MeshLibTest, PolyhedronOutputReadsBackAsTheSameTriangles) {
    SurfList* list = sampleSurfaces(5);
    ASSERT_NE(list, nullptr);
    const std::string in = file("blade.kvx"), out3df = file("bld.3df"), outKvx = file("bld2.kvx");
    ASSERT_EQ(writeSurfObjects(in.c_str(), list), 1);
    freeSurfList(list);
    const double tol = 0.2;
    const int n = loadMeshHelperLib(in.c_str(), out3df.c_str(), KV_BIN_DIR, tol);
    ASSERT_GT(n, 0);
    EXPECT_EQ(kvx_to_facets(in.c_str(), outKvx.c_str(), KV_BIN_DIR, tol), n);
    FacetList* facets = nullptr;
    ASSERT_EQ(facetFileLoad(out3df.c_str(), &facets), n);
    ASSERT_NE(facets, nullptr);
    PolyNode* nodes = nullptr;
    ASSERT_EQ(readPolyhedronB(outKvx.c_str(), &nodes), 0);
    std::vector<const PolyNode*> inOrder;
    for (const PolyNode* p = nodes; p != nullptr; p = p->next) inOrder.insert(inOrder.begin(), p);
    ASSERT_EQ(inOrder.size(), 2u);
    int32_t k = 0;
    for (const PolyNode* p : inOrder) {
        for (int32_t t = 0; t < p->used && k < facets->count; ++t, ++k) {
            const Facet98 f = facets->data[k];
            const Vec3 q[3] = {f.p[0], f.p[1], f.p[2]};
            EXPECT_EQ(std::memcmp(q, p->triangles[t].p, sizeof q), 0) << k;
        }
    }
    EXPECT_EQ(k, n);
    polyNodeFreeList(nodes);
    facetListFree(facets);
}

TEST_F(MeshLibTest, MissingLibraryEntryOrInputGivesMinusOne) {
    SurfList* list = sampleSurfaces(2);
    ASSERT_NE(list, nullptr);
    const std::string in = file("b.kvx");
    ASSERT_EQ(writeSurfObjects(in.c_str(), list), 1);
    freeSurfList(list);
    // A folder without the libraries; one whose files lack the entries.
    const fs::path empty = dir / "empty", wrong = dir / "wrong";
    fs::create_directories(empty);
    fs::create_directories(wrong);
    const fs::path core = fs::path(KV_BIN_DIR) / "libkvcore.so";
    ASSERT_TRUE(fs::exists(core));
    fs::copy_file(core, wrong / kKvx3dfDllName);
    fs::copy_file(core, wrong / kKvx3dfMtName);
    const std::string out = file("o.3df");
    EXPECT_EQ(loadMeshHelperLib(in.c_str(), out.c_str(), empty.c_str(), 0.1), -1);
    EXPECT_EQ(kvx_to_facets(in.c_str(), out.c_str(), empty.c_str(), 0.1), -1);
    EXPECT_EQ(loadMeshHelperLib(in.c_str(), out.c_str(), wrong.c_str(), 0.1), -1);
    EXPECT_EQ(kvx_to_facets(in.c_str(), out.c_str(), wrong.c_str(), 0.1), -1);
    EXPECT_FALSE(fs::exists(out));
    // The libraries themselves refuse what they cannot convert.
    const std::string absent = file("absent.kvx");
    EXPECT_LT(loadMeshHelperLib(absent.c_str(), out.c_str(), KV_BIN_DIR, 0.1), 0);
    EXPECT_LT(kvx_to_facets(absent.c_str(), out.c_str(), KV_BIN_DIR, 0.1), 0);
    EXPECT_LT(loadMeshHelperLib(in.c_str(), out.c_str(), KV_BIN_DIR, 0.0), 0);
    EXPECT_LT(loadMeshHelperLib(in.c_str(), file("no/such/dir.3df").c_str(), KV_BIN_DIR, 0.1), 0);
}

TEST_F(MeshLibTest, ALoadHeldByTheHostSurvivesTheCall) {
    SurfList* list = sampleSurfaces(4);
    ASSERT_NE(list, nullptr);
    const std::string in = file("b.kvx"), path = meshLibPath(KV_BIN_DIR, kKvx3dfDllName);
    ASSERT_EQ(writeSurfObjects(in.c_str(), list), 1);
    freeSurfList(list);
    void* held = moduleLoad(path.c_str());
    ASSERT_NE(held, nullptr);
    for (int round = 0; round < 3; ++round)
        EXPECT_GT(loadMeshHelperLib(in.c_str(), file("o.3df").c_str(), KV_BIN_DIR, 0.5), 0);
    auto fn = reinterpret_cast<FacetKvxFileFn>(moduleEntry(held, "facet_kvx_file"));
    ASSERT_NE(fn, nullptr);
    EXPECT_GT(fn(in.c_str(), 0.5, file("o2.3df").c_str(), 100), 0);  // still mapped and working
    EXPECT_EQ(moduleUnload(held), 1);
}
