#include "collision/polymesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "collision/conesection.h"
#include "collision/meshindex.h"
#include "collision/meshset.h"
#include "geometry/frames.h"
#include "kernel/base/rng.h"
#include "kernel/base/runreset.h"
#include "meshutil.h"
#include "surfaces/geofiletest.h"
#include "surfaces/meshfiles/facetfile.h"

// The allocation controls alone: the hook itself is the no-memory tests'.
#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"

namespace {

struct Polymesh : ::testing::Test {
    TempDir dir;
    CheckModel model{};
    void SetUp() override {
        runResetAll();
    }
    void TearDown() override {
        polymeshFree(&model);
        chkModelFreeParts(&model);
        polymeshResetState();
    }
};

Facet98 facetOf(const std::vector<Vec3>& p) {
    Facet98 f{};
    for (int k = 0; k < 4; ++k) f.p[k] = p[static_cast<size_t>(std::min(k, static_cast<int>(p.size()) - 1))];
    return f;
}

std::string write3df(const TempDir& dir, const std::string& name, const std::vector<Facet98>& facets) {
    const std::string path = dir.file(name);
    EXPECT_EQ(polymeshWrite3df(kFacetMeshFacets, nullptr, facets.data(), static_cast<int32_t>(facets.size()),
                               path.c_str()),
              static_cast<int>(facets.size()));
    return path;
}

std::string writeStl(const TempDir& dir, const std::string& name, const std::vector<Triangle3D>& tris) {
    const std::string path = dir.file(name);
    writeTextFile(path, testmesh::stlText(tris));
    return path;
}

// Seeded triangles with float-exact coordinates in a box.
std::vector<Triangle3D> randomTriangles(Rng* rng, int n, double x0, double x1) {
    std::vector<Triangle3D> out(static_cast<size_t>(n));
    for (Triangle3D& t : out)
        for (Vec3& p : t.p)
            p = Vec3{x0 + (x1 - x0) * rngStep(rng) / 32768.0, 25.0 * rngStep(rng) / 32768.0,
                     rngStep(rng) / 1024.0};
    return out;
}

// The same triangle, up to a cyclic turn of b's vertices when cyclic (3df facets keep their first vertex).
bool sameTriangle(const Triangle3D& a, const Triangle3D& b, double tol, bool cyclic = false) {
    for (int r = 0; r < (cyclic ? 3 : 1); ++r)
        if (dist3D(&a.p[0], &b.p[r]) <= tol && dist3D(&a.p[1], &b.p[(r + 1) % 3]) <= tol &&
            dist3D(&a.p[2], &b.p[(r + 2) % 3]) <= tol)
            return true;
    return false;
}

double topZ(const Triangle3D& t) {
    return std::max({t.p[0].z, t.p[1].z, t.p[2].z});
}

}  // namespace

TEST_F(Polymesh, FacetFileFacetsBecomeOneOrTwoTriangles) {
    const Vec3 a{0, 0, 3}, b{4, 0, 2}, c{4, 4, 1}, d{0, 4, 0};
    const Vec3 low{0, 0, 10.0}, high{5, 0, 10.00005}, top{5, 0, 10.00005}, lifted{0, 0, 10.00005};
    const Vec3 aside{1e-5, 4, 0}, apart{0, 4, 1e-4};  // just not the same point, just not one height
    struct Case {
        std::vector<Vec3> facet;
        std::vector<Triangle3D> expected;
    } cases[] = {
        {{a, b, c, c}, {{{a, b, c}}}},
        {{a, b, c, d}, {{{a, b, c}}, {{a, c, d}}}},
        {{a, a, c, d}, {{{d, a, c}}}},           // point 1 = point 0: points 3, 1, 2
        {{a, b, b, d}, {{{a, b, d}}}},           // point 2 = point 1: points 2 and 3 exchanged
        {{a, b, a, d}, {{{a, b, d}}}},           // point 2 = point 0: the same
        {{low, high, d}, {{{lifted, top, d}}}},  // heights within 0.0001 take the larger, the earlier leads
        {{a, b, d, aside}, {{{a, b, d}}, {{a, d, aside}}}},
        {{d, b, apart}, {{{d, b, apart}}}},
    };
    for (const Case& c : cases) {
        const std::string path = write3df(dir, "f.3df", {facetOf(c.facet)});
        polymeshFree(&model);
        chkModelInit(&model, kMeshTriangles);
        ASSERT_EQ(polymeshLoad(&model, path.c_str()), kPolymeshOk);
        ASSERT_NE(model.triangles, nullptr);
        ASSERT_EQ(model.triangles->count, static_cast<int32_t>(c.expected.size()));
        EXPECT_EQ(model.triangles->capacity, 2);  // room for two triangles a facet, taken at once
        for (const Triangle3D& e : c.expected)
            EXPECT_TRUE(std::any_of(model.triangles->data, model.triangles->data + model.triangles->count,
                                    [&](const Triangle3D& t) { return sameTriangle(t, topFirst(e), 0.0); }));
        // A shift moves the list's and the model's heights too, for one triangle as for more.
        const double lo[2] = {model.triangles->zmin, model.bounds[2]},
                     hi[2] = {model.triangles->zmax, model.bounds[5]};
        polymeshOffsetZ(&model, 2.5);
        EXPECT_TRUE(model.triangles->zmin == lo[0] + 2.5 && model.triangles->zmax == hi[0] + 2.5);
        EXPECT_TRUE(model.bounds[2] == lo[1] + 2.5 && model.bounds[5] == hi[1] + 2.5);
    }
    const std::string path = write3df(dir, "a.3df", {facetOf({a, b, c})});
    const Vec3 origin{1, 2, 3}, x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
    frameSetA(&origin, &x, &y, &z);
    ASSERT_EQ(framesInit(), 1);
    polymeshFree(&model);
    ASSERT_EQ(polymeshLoad(&model, path.c_str()), kPolymeshOk);
    const Vec3 moved{a.x - 1, a.y - 2, a.z - 3};
    EXPECT_EQ(dist3D(&model.triangles->data[0].p[0], &moved), 0.0);  // world into frame A
    polymeshFree(&model);
    chkModelInit(&model, kMeshFacets);  // a facet model read for its elements alone: its facets
    ASSERT_EQ(polymeshLoadTriangles(&model, path.c_str()), kPolymeshOk);
    EXPECT_TRUE(model.facetCount == 1 && model.facets && !model.triangles && !model.boxMin);
    // A mirror made but switched off for meshes leaves the facets in frame A alone.
    const Vec3 at{1, 0, 0}, axis{1, 0.5, 0}, o{};
    ASSERT_EQ(framePairCreate(&at, &axis, &o, &o), 1);
    framePairSetFlag(kFramePairMeshes, 0);
    polymeshFree(&model);
    ASSERT_EQ(polymeshLoad(&model, path.c_str()), kPolymeshOk);
    const Vec3 first = model.facets[0].p[0];
    EXPECT_EQ(dist3D(&first, &moved), 0.0);
}

TEST_F(Polymesh, FacetGroupHookSeesTheStagesAndCanRefuse) {
    static std::vector<int32_t> stages;
    static int refuse = 0;
    stages.clear();
    polymeshSetGroupHook([](const PolymeshGroup* g) {
        stages.push_back(g->stage);
        return g->stage == 1 ? refuse : 0;
    });
    const std::string path = write3df(dir, "g.3df", {facetOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}})});
    chkModelInit(&model, kMeshTriangles);
    ASSERT_EQ(polymeshLoad(&model, path.c_str()), kPolymeshOk);
    EXPECT_EQ(stages, (std::vector<int32_t>{1, 3, 4}));
    refuse = -1;
    polymeshFree(&model);
    EXPECT_EQ(polymeshLoad(&model, path.c_str()), kPolymeshNoMemory);
    EXPECT_EQ(model.triangles, nullptr);
    clear_user_callback();
}

// Groups start at facets flagged 0x0008; only those whose triangles lie flat within 0.001 reach the hook,
// at their first point's height.
TEST_F(Polymesh, FlatFacetGroupsReachTheHook) {
    static std::vector<std::tuple<int32_t, int32_t, double>> groups;
    groups.clear();
    polymeshSetGroupHook([](const PolymeshGroup* g) {
        if (g->stage == 2) groups.emplace_back(g->first, g->end, g->height);
        return 0;
    });
    const std::vector<Facet98> facets = {
        facetOf({{0, 0, 5}, {1, 0, 5.0009}, {0, 1, 5}}),        // flat, starts a group
        facetOf({{2, 0, 5}, {3, 0, 5}, {3, 1, 5}, {2, 1, 5}}),  // flat quadrilateral in it
        facetOf({{0, 0, 7.002}, {1, 0, 7}, {0, 1, 7}}),         // its top corner first: not flat
        facetOf({{0, 0, 9}, {1, 0, 9}, {0, 1, 9}}),             // flat, but its group is not
        facetOf({{5, 0, 2}, {6, 0, 2}, {5, 1, 2}}),             // flat
        facetOf({{0, 0, 4}, {1, 0, 3}, {0, 1, 4}}),             // its low corner second: not flat
    };
    const std::string path = write3df(dir, "groups.3df", facets);
    {  // the writer writes flag 0: set the group starts in place
        std::FILE* f = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fseek(f, 0, SEEK_END);
        const long header = std::ftell(f) - 98L * static_cast<long>(facets.size());
        for (long i : {0L, 2L, 4L, 5L}) {
            std::fseek(f, header + 98 * i, SEEK_SET);
            std::fputc(0x08, f);
        }
        std::fclose(f);
    }
    chkModelInit(&model, kMeshTriangles);
    ASSERT_EQ(polymeshLoad(&model, path.c_str()), kPolymeshOk);
    clear_user_callback();
    using G = std::tuple<int32_t, int32_t, double>;
    EXPECT_EQ(groups, (std::vector<G>{G{0, 3, 5.0}, G{5, 6, 2.0}}));
}

// A mesh loaded into a clone of a model with an index (the stock of a run, cloned from its part model)
// has no index until one is built for it: the template's index stays the template's alone.
TEST_F(Polymesh, MeshLoadedIntoACloneLeavesTheTemplatesIndexAlone) {
    Rng rng{5};
    const std::string part = writeStl(dir, "part.stl", randomTriangles(&rng, 40, -20, 30));
    const std::string stock = writeStl(dir, "stock.stl", randomTriangles(&rng, 7, -20, 30));
    chkModelInit(&model, kMeshTriangles);
    ASSERT_EQ(polymeshLoad(&model, part.c_str()), kPolymeshOk);
    model.index = meshIndexBuild(40, model.boxMin, model.boxMax);
    ASSERT_NE(model.index, nullptr);
    ToolGeom tool{};
    tool.radius = 2, model.tool = &tool;
    // The clone's own tool grows by the distance, unless it is below 1e-5; the template's stays.
    for (const double dist : {0.0, 9.9e-6, 1e-5, -1e-5, 5e-5, 1.0}) {
        polymeshSetFreeShared(1);  // a run's loads own their buffers: the shared switch is turned off
        CheckModel* clone = polymeshLoadWithGrid(stock.c_str(), &model, dist);
        ASSERT_TRUE(clone && clone->tool && clone->tool != &tool);
        EXPECT_TRUE(!clone->index && clone->grid && polymeshFreeShared() == 0 && clone->facetCount == 0);
        EXPECT_EQ(clone->tool->radius, 2 + (std::fabs(dist) < 1e-5 ? 0.0 : dist)) << dist;
        polymeshDelete(clone);
    }
    EXPECT_EQ(tool.radius, 2.0);
    polymeshSetFreeShared(1);  // a call refused for want of a template changes nothing
    EXPECT_EQ(polymeshLoadWithGrid(stock.c_str(), nullptr, 0.0), nullptr);
    EXPECT_EQ(polymeshFreeShared(), 1);
    EXPECT_EQ(polymeshLoadWithGrid(dir.file("none.stl").c_str(), &model, 0.0), nullptr);
    model.tool = nullptr;
    EXPECT_EQ(meshIndexCount(model.index), 40);
}

TEST_F(Polymesh, MeshesLoadSortedWithBoxesThatFollowAZShift) {
    Rng rng{17};
    const std::vector<Triangle3D> input = randomTriangles(&rng, 60, -20, 30);
    const std::string path = writeStl(dir, "m.stl", input);
    for (int32_t kind : {kMeshTriangles, kMeshFacets}) {
        polymeshFree(&model);
        chkModelInit(&model, kind);
        polymeshSetFreeShared(kind == kMeshFacets);
        ASSERT_EQ(polymeshLoad(&model, path.c_str()), kPolymeshOk);
        polymeshOffsetZ(&model, -7.25);
        const Vec2 *up45 = nullptr, *lo45 = nullptr;
        ASSERT_EQ(polymeshBox45(&up45, &lo45), kind == kMeshFacets ? 60 : 0);
        const int32_t n = chkMeshCount(kind, model.facets, model.facetCount, model.triangles);
        ASSERT_EQ(n, 60);
        ASSERT_NE(model.boxMin, nullptr);
        double zlo = 1e30, zhi = -1e30, prevTop = 1e30;
        for (int32_t i = 0; i < n; ++i) {
            Vec3 e[6];
            ASSERT_EQ(chkElementTriangles(kind, model.facets, model.triangles, i, e), 1);
            Triangle3D t{{e[0], e[1], e[2]}};
            EXPECT_EQ(topZ(t), t.p[0].z);  // the highest vertex first
            EXPECT_LE(topZ(t), prevTop + 1e-5);
            prevTop = topZ(t);
            for (Vec3& p : t.p) p.z += 7.25;
            EXPECT_TRUE(std::any_of(input.begin(), input.end(), [&](const Triangle3D& in) {
                return sameTriangle(t, topFirst(in), 1e-6);
            })) << i;
            const double lo = std::min({e[0].z, e[1].z, e[2].z}), hi = topZ({{e[0], e[1], e[2]}});
            EXPECT_DOUBLE_EQ(model.boxMin[i].z, lo);
            EXPECT_DOUBLE_EQ(model.boxMax[i].z, hi);
            EXPECT_DOUBLE_EQ(model.boxMin[i].x, std::min({e[0].x, e[1].x, e[2].x}));
            if (kind == kMeshFacets) {  // plan boxes turned by 45 degrees: (x - y, x + y) / sqrt 2
                ASSERT_TRUE(up45 != nullptr && lo45 != nullptr);
                EXPECT_EQ(model.facets[i].flag, 0);  // an STL file carries no facet flags
                const double u[3] = {e[0].x - e[0].y, e[1].x - e[1].y, e[2].x - e[2].y},
                             v[3] = {e[0].x + e[0].y, e[1].x + e[1].y, e[2].x + e[2].y};
                EXPECT_DOUBLE_EQ(up45[i].x, std::max({u[0], u[1], u[2]}) * 0.70710678);
                EXPECT_DOUBLE_EQ(up45[i].y, std::max({v[0], v[1], v[2]}) * 0.70710678);
                EXPECT_DOUBLE_EQ(lo45[i].x, std::min({u[0], u[1], u[2]}) * 0.70710678);
                EXPECT_DOUBLE_EQ(lo45[i].y, std::min({v[0], v[1], v[2]}) * 0.70710678);
            }
            zlo = std::min(zlo, lo), zhi = std::max(zhi, hi);
        }
        EXPECT_DOUBLE_EQ(model.bounds[2], zlo);
        EXPECT_DOUBLE_EQ(model.bounds[5], zhi);
    }
    polymeshFree(&model);  // with the switch on the 45-degree boxes go with the mesh, which holds none
    EXPECT_EQ(polymeshBox45(nullptr, nullptr) + model.facetCount, 0);
}

TEST_F(Polymesh, MergedLoadHoldsBothMeshesAndKeepsTheFirstWhenTheSecondFails) {
    Rng rng{3};
    const std::vector<Triangle3D> first = randomTriangles(&rng, 25, 0, 50);
    const std::vector<Triangle3D> second = randomTriangles(&rng, 15, 100, 120);
    std::vector<Facet98> facets;
    for (const Triangle3D& t : second) facets.push_back(facetOf({t.p[0], t.p[1], t.p[2]}));
    const std::string stl = writeStl(dir, "a.stl", first), f3d = write3df(dir, "b.3df", facets);
    // The third pass with the shared boxes: the facets of both files turn counterclockwise in plan (an STL
    // file's only by the merge, so it comes second there).
    for (int pass = 0; pass < 3; ++pass) {
        const int32_t kind = pass ? kMeshFacets : kMeshTriangles;
        const bool shared = pass == 2;
        MessageLog log;
        polymeshFree(&model);
        polymeshSetFreeShared(shared);
        chkModelInit(&model, kind);
        const double lift = pass == 1 ? 5e-6 : 0.5;  // a shift under the library's 1e-5 is none
        polymeshSetSecondOffsetZ(lift);
        ASSERT_EQ(polymeshLoadMerged(&model, (shared ? f3d : stl).c_str(), (shared ? stl : f3d).c_str()),
                  kPolymeshOk);
        const int32_t n = chkMeshCount(kind, model.facets, model.facetCount, model.triangles);
        EXPECT_EQ(n, 40);
        int shifted = 0, clockwise = 0;
        for (int32_t i = 0; shared && i < n; ++i) {
            const Facet98 f = model.facets[i];
            const Vec3 q[4] = {f.p[0], f.p[1], f.p[2], f.p[3]};
            double area = 0;
            for (int k = 0; k < 4; ++k) area += q[k].x * q[(k + 1) % 4].y - q[(k + 1) % 4].x * q[k].y;
            clockwise += area < -1e-9;
        }
        EXPECT_EQ(clockwise, 0);
        EXPECT_EQ(polymeshBox45(nullptr, nullptr),
                  shared ? n : 0);  // the merged mesh's, not the freed file's
        // A facet model's box is that of all its points, the second file's among them.
        double box[6] = {1e300, 1e300, 1e300, -1e300, -1e300, -1e300};
        for (int32_t i = 0; kind == kMeshFacets && i < n; ++i)
            for (int k = 0; k < 4; ++k) {
                const Vec3 q = model.facets[i].p[k];
                const double c[3] = {q.x, q.y, q.z};
                for (int a = 0; a < 3; ++a)
                    box[a] = std::min(box[a], c[a]), box[a + 3] = std::max(box[a + 3], c[a]);
            }
        for (int a = 0; kind == kMeshFacets && a < 6; ++a)
            EXPECT_EQ(model.bounds[a], box[a]) << pass << " " << a;
        for (int32_t i = 0; !shared && i < n; ++i) {
            Vec3 e[6];
            chkElementTriangles(kind, model.facets, model.triangles, i, e);
            for (Triangle3D s : second) {
                for (Vec3& p : s.p) p.z += pass == 1 ? 0.0 : lift;
                shifted += sameTriangle({{e[0], e[1], e[2]}}, s, 1e-6, true);
            }
        }
        EXPECT_EQ(shifted, shared ? 0 : 15);
        polymeshSetSecondOffsetZ(0.0);

        // A second file without elements adds none, and its empty box widens nothing (x within 0 to 50).
        const std::string missing = dir.file("none.3df"), empty = dir.file("empty.stl");
        writeTextFile(empty, std::string(84, '\0'));
        for (const auto& [a, b, code, count] :
             {std::tuple{stl, missing, kPolymeshOk, 25}, std::tuple{missing, stl, kPolymeshNoFile, 0},
              std::tuple{stl, empty, kPolymeshOk, 25}}) {
            polymeshFree(&model);
            chkModelInit(&model, kind);
            EXPECT_EQ(polymeshLoadMerged(&model, a.c_str(), b.c_str()), code);
            EXPECT_EQ(chkMeshCount(kind, model.facets, model.facetCount, model.triangles), count);
            EXPECT_TRUE(count == 0 || (model.bounds[0] >= 0 && model.bounds[3] <= 50));
        }
        EXPECT_EQ(log.count(5200), 1);
    }
}

TEST_F(Polymesh, FileKindsByNameAndWhatCannotBeRead) {
    writeTextFile(dir.file("junk.3df"), "not a facet file at all, just text");
    writeTextFile(dir.file("empty.stl"), "");
    writeTextFile(dir.file("none.stl"), std::string(84, '\0'));  // binary, without a facet
    writeTextFile(dir.file("p.Kvx"),
                  kvxText("o Polyhedron[a]()\n{\no Pset[1]()\n{\no P[1](x[0] y[0] z[0])\n"
                          "o P[2](x[10] y[0] z[1])\no P[3](x[10] y[10] z[2])\no P[4](x[0] y[10] z[3])\n}\n"
                          "o Face(vx[1/1] vx[1/2] vx[1/3])\no Face(vx[1/1] vx[1/3] vx[1/4])\n}\n"));
    TriList* none = triListCreate(1);  // a well-formed file of no facet
    ASSERT_NE(none, nullptr);
    ASSERT_EQ(polymeshWrite3df(kMeshTriangles, none, nullptr, 0, dir.file("nothing.3df").c_str()), 0);
    triListFree(none);
    const struct {
        std::string name;
        int code, count;
    } cases[] = {{"", kPolymeshNoFile, 0},
                 {dir.file("nothing.3df"), kPolymeshNotFacets, 0},
                 {dir.file("missing.3df"), kPolymeshNoFile, 0},
                 {dir.file("junk.3df"), kPolymeshNotFacets, 0},
                 {dir.file("empty.stl"), kPolymeshNoFile, 0},
                 {dir.file("none.stl"), kPolymeshOk, 0},
                 {dir.file("missing.KVX"), kPolymeshNoFile, 0},
                 {dir.file("p.Kvx"), kPolymeshOk, 2}};
    ToolGeom tool{};  // the loaders write the bounds beside it: it must stay
    for (const auto& c : cases)
        for (int32_t kind : {kMeshTriangles, kMeshFacets}) {
            polymeshFree(&model);
            chkModelInit(&model, kind);
            model.tool = &tool;
            EXPECT_EQ(polymeshLoad(&model, c.name.c_str()), c.code) << c.name;
            EXPECT_EQ(model.tool, &tool);
            EXPECT_EQ(chkMeshCount(kind, model.facets, model.facetCount, model.triangles), c.count);
            EXPECT_EQ(model.boxMin != nullptr, c.code == kPolymeshOk);
            if (c.count > 0) {
                EXPECT_EQ(model.bounds[5], 3.0);
            } else if (c.code == kPolymeshOk) {  // no element: the empty box, which no shift moves
                const double listTop = model.triangles ? model.triangles->zmax : 0.0;
                polymeshOffsetZ(&model, 2.5);
                EXPECT_TRUE(!model.triangles || model.triangles->zmax == listTop);
                for (int k = 0; k < 3; ++k)
                    EXPECT_TRUE(model.bounds[k] == 1e10 && model.bounds[3 + k] == -1e10);
            }
        }
    // A corner that is not a number merges with nothing, not even itself: the triangle's ends no longer
    // fit the room of three per triangle, and the file's mesh is refused, not half made.
    const std::string one = writeStl(dir, "one.stl", {{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}}});
    writeTextFile(dir.file("nan.stl"), testmesh::stlText({{{{NAN, 0, 0}, {1, 0, 0}, {0, 1, 0}}}}));
    CollMesh* mesh = collMeshFromMeshFile(one.c_str(), 1e-3);
    EXPECT_TRUE(mesh && mesh->vertexCount == 3 && mesh->edgeCount == 3);
    collMeshFree(mesh);
    EXPECT_EQ(collMeshFromMeshFile(dir.file("nan.stl").c_str(), 1e-3), nullptr);
    // The loaders refuse a missing model or name before any file is tried, yet read a name of one
    // character (in the folder the test moves to for it).
    CheckModel bare{};
    chkModelInit(&bare, kMeshTriangles);
    write3df(dir, "d", {facetOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}})});
    std::filesystem::copy_file(one, dir.file("s"));
    std::filesystem::copy_file(dir.file("p.Kvx"), dir.file("k"));
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    const std::pair<int (*)(CheckModel*, const char*), const char*> readers[] = {
        {polymeshRead3dfTriangles, "d"}, {polymeshRead3dfFacets, "d"},    {polymeshReadStlTriangles, "s"},
        {polymeshReadStlFacets, "s"},    {polymeshReadKvxTriangles, "k"}, {polymeshReadKvxFacets, "k"}};
    for (const auto& [read, shortName] : readers) {
        EXPECT_EQ(read(nullptr, one.c_str()), kPolymeshNoMemory);
        EXPECT_EQ(read(&bare, nullptr), kPolymeshNoFile);
        EXPECT_EQ(read(&bare, ""), kPolymeshNoFile);
        EXPECT_TRUE(!bare.triangles && !bare.facets && !bare.boxMin);
        CheckModel m{};
        chkModelInit(&m, kMeshTriangles);
        EXPECT_EQ(read(&m, shortName), kPolymeshOk) << shortName;
        EXPECT_TRUE(m.boxMin && (m.triangles || m.facets)) << shortName;
        polymeshFree(&m);
        chkModelFreeParts(&m);
    }
    std::filesystem::current_path(home);
    // Memory refused at each allocation of a load in turn: null, or the whole mesh.
    for (long n = 1;; ++n) {
        allocfail::arm(n);
        CheckModel* m = nullptr;
        try {
            m = meshLoadViaTmp3df(one.c_str(), 1e-3);
        } catch (const std::bad_alloc&) {
        }
        const bool fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_TRUE(m ? m->triangles->count == 1 && m->boxMin : fired) << n;
        polymeshDelete(m);
        if (!fired) break;
    }
}

TEST_F(Polymesh, GridsOfTheExampleBoxOfEmptyModelsAndOfToolReaches) {
    ToolGeom tool{};
    tool.radius = 3.0;
    tool.size2 = 6.0;
    const std::string box = writeStl(
        dir, "box.stl", {{{{0, 0, 4}, {100, 0, 4}, {100, 25, 4}}}, {{{0, 0, 4}, {100, 25, 4}, {0, 25, 4}}}});
    chkModelInit(&model, kMeshTriangles);
    model.tool = &tool;
    EXPECT_EQ(polymeshBuildGrid(&model), 1);  // empty: no grid, no square root of a negative aspect
    EXPECT_EQ(model.grid, nullptr);
    testmesh::Model wall({{{{0, 0, 0}, {0, 25, 0}, {0, 25, 10}}}}, kBallMill, 1.0);  // no width: a grid still
    EXPECT_EQ(polymeshBuildGrid(&wall.m), 1);
    EXPECT_TRUE(wall.m.grid && wall.m.grid->rows * wall.m.grid->cols >= 400);
    grid2DFree(wall.m.grid);
    ASSERT_EQ(polymeshLoad(&model, box.c_str()), kPolymeshOk);
    ASSERT_EQ(polymeshBuildGrid(&model), 1);
    ASSERT_NE(model.grid, nullptr);
    EXPECT_EQ(model.grid->rows, 11);
    EXPECT_EQ(model.grid->cols, 43);  // a plan grid: the box's height counts for nothing

    Rng rng{29};
    int sweepHits = 0;
    // The reach beyond an item's box: the radius, widened over the cutting length by a taper below 90
    // degrees, at least half the second size.
    const struct {
        uint16_t taper;
        double angle, height, size2, margin;
    } reaches[] = {{0, 10, 20, 6, 3},
                   {1, 10, 20, 6, 3 + std::tan(10 * M_PI / 180) * 20},
                   {0, 0, 0, 14, 7},
                   {1, 90, 20, 6, 3},
                   {1, 10, -5, 6, 3}};
    for (int round = 0; round < 5; ++round) {
        tool.taperFlag = reaches[round].taper, tool.taperAngle = reaches[round].angle;
        tool.height = reaches[round].height, tool.size2 = reaches[round].size2;
        const double m = reaches[round].margin * (1 - 1e-9);
        polymeshFree(&model);
        const std::string path =
            writeStl(dir, "r.stl", randomTriangles(&rng, 80, 0, 5.0 + rngStep(&rng) / 100.0));
        ASSERT_EQ(polymeshLoad(&model, path.c_str()), kPolymeshOk);
        ASSERT_EQ(polymeshBuildGrid(&model), 1);
        ASSERT_NE(model.grid, nullptr);
        const int32_t cells = model.grid->rows * model.grid->cols;
        EXPECT_GE(cells, 400);
        EXPECT_LE(cells, 400 + 2 * (model.grid->rows + model.grid->cols) + 1);
        // Every item whose box, widened by the tool's reach, holds a point is in that point's cell.
        for (int q = 0; q < 200; ++q) {
            const double x = model.bounds[0] + (model.bounds[3] - model.bounds[0]) * rngStep(&rng) / 32768.0;
            const double y = model.bounds[1] + (model.bounds[4] - model.bounds[1]) * rngStep(&rng) / 32768.0;
            const GridCell* cell = grid2DCellAt(model.grid, x, y);
            ASSERT_NE(cell, nullptr);
            for (int32_t i = 0; i < model.triangles->count; ++i) {
                if (model.boxMin[i].x - m <= x && x <= model.boxMax[i].x + m && model.boxMin[i].y - m <= y &&
                    y <= model.boxMax[i].y + m) {
                    EXPECT_NE(std::find(cell->items, cell->items + cell->count, i),
                              cell->items + cell->count);
                }
            }
        }
        for (int i = 0; i < 6; ++i) {
            tool.radius = i < 2 ? 0.0 : rngStep(&rng) / 1000.0;
            const double length = i == 0 ? 0.0 : rngStep(&rng) / 100.0,
                         angle = i < 3 ? 0.0 : rngStep(&rng) / 10000.0;
            Grid2D* grid = polymeshBuildToolGrid(&model, length, angle);
            ASSERT_NE(grid, nullptr);
            EXPECT_TRUE(grid->rows <= 30 && grid->cols <= 30);
            const double* b = model.bounds;  // over the model's plan box
            EXPECT_TRUE(grid->x0 == b[0] && grid->y0 == b[1] && grid->x1 == b[3] && grid->y1 == b[4]);
            // A section no wider than the tool, swept within the grid's angle of straight down: the
            // elements of the grid's cell answer as every element does.
            for (int q = 0; q < 40; ++q) {
                const double tilt = angle * rngStep(&rng) / 32768.0, az = rngStep(&rng) / 5000.0;
                const Vec3 d{std::sin(tilt) * std::cos(az), std::sin(tilt) * std::sin(az), -std::cos(tilt)};
                const Vec3 p{seededIn(&rng, model.bounds[0], model.bounds[3]),
                             seededIn(&rng, model.bounds[1], model.bounds[4]), seededIn(&rng, -2, 12)};
                const double r = tool.radius * rngStep(&rng) / 32768.0, z1 = seededIn(&rng, 0, 2),
                             z2 = z1 + seededIn(&rng, 0, 3);
                const int all = coneSectionHit(&model, &p, &d, length, r, r, z1, z2);
                EXPECT_EQ(coneSectionHitAll(&model, &p, &d, length, angle, grid,
                                            kConeDiscUpper | kConeDiscLower, r, r, z1, z2),
                          all)
                    << round << " " << i << " " << q;
                sweepHits += all;
            }
            grid2DFree(grid);
        }
        tool.radius = 3.0;
    }
    EXPECT_GT(sweepHits, 100);
    model.tool = nullptr;
}

// A tool grid over a box 40 x 10 has about extent / (2 s) + 1 cells a side (at most 30), s the reach
// of a tool of the given length tilted by the angle (taken as 0.001 below 1e-5, widened by a taper,
// at most a right angle) plus its radius; a reach of 0 or less takes 30.
TEST_F(Polymesh, ToolGridCellsFollowTheTiltedReach) {
    const struct {
        double angle, length, radius, taper;
        int32_t rows, cols;
    } cases[] = {{0, 1000, 0, 0, 6, 21},     {1e-5, 1e5, 0, 0, 6, 21}, {1e-5, 1e5, 0.5, 0, 4, 14},
                 {-1e-5, 1e5, 0, 0, 30, 30}, {0, 100, 0, 1, 3, 11},    {2, 4, 1, 0, 2, 5}};
    for (const auto& c : cases) {
        testmesh::Model t({{{{0, 0, 0}, {40, 0, 0}, {40, 10, 0}}}}, kBallMill, c.radius);
        t.m.tool->taperFlag = c.taper > 0, t.m.tool->taperAngle = c.taper;
        Grid2D* grid = polymeshBuildToolGrid(&t.m, c.length, c.angle);
        ASSERT_NE(grid, nullptr);
        EXPECT_EQ(grid->rows, c.rows) << c.angle << " " << c.length;
        EXPECT_EQ(grid->cols, c.cols) << c.angle << " " << c.length;
        grid2DFree(grid);
    }
}

namespace {

// A 3df file image (layout by version) of triangles, quads and facets with each repeat the loader
// knows, heights often within its snap, some group starts; the header's count as given.
std::vector<uint8_t> seededImage(Rng* rng, float version, int n, int64_t announced) {
    std::vector<uint8_t> bytes(version < 2.0f ? kFacetHeader1Bytes : kFacetHeader2Bytes, 0);
    rawPut(bytes, 0, version);
    rawPut(bytes, kFacetHeaderCountAt, static_cast<uint32_t>(announced < 0 ? n : announced));
    for (int i = 0; i < n; ++i) {
        Vec3 p[4];
        for (Vec3& q : p) q = Vec3{seededIn(rng, -40, 40), seededIn(rng, -40, 40), rngStep(rng) / 4096.0};
        const int shape = rngStep(rng) % 6;  // 5: a quad
        if (shape < 3) p[3] = p[2 - shape];
        if (shape == 3) p[2] = p[1];
        if (shape == 4) p[1] = p[0];
        Facet98 f = facetOf({p[0], p[1], p[2], p[3]});
        f.flag = rngStep(rng) % 7 == 0 ? kFacetGroupStart : 0;
        uint8_t record[kFacet98Bytes];
        facet98Encode(&f, record);
        bytes.insert(bytes.end(), record, record + kFacet98Bytes);
    }
    return bytes;
}

}  // namespace

// Read a block at a time straight into triangles (no hook), a file gives every byte the whole-list
// read behind a hook gives, or the same code with nothing attached; loaded without corners, the same
// triangles and bounds.
TEST_F(Polymesh, StreamedTriangleLoadEqualsTheWholeListRead) {
    Rng rng{41};
    const Vec3 origin{3, -2, 1}, x{0.6, 0.8, 0}, y{-0.8, 0.6, 0}, z{0, 0, 1}, at{1, 0, 0}, axis{1, 0.5, 0},
        o{};
    const struct {
        float version;
        int facets, announced;  // -1: the records' number
        bool framed;
        int code;
    } cases[] = {
        {1.0f, 1, -1, false, kPolymeshOk},          {1.0f, 300, -1, true, kPolymeshOk},
        {2.0f, 300, -1, true, kPolymeshOk},         {1.0f, 23000, -1, true, kPolymeshOk},  // three blocks
        {2.0f, 23000, -1, false, kPolymeshOk},      {1.0f, 300, 299, false, kPolymeshOk},
        {1.0f, 300, 301, true, kPolymeshNotFacets}, {2.0f, 0, 0, false, kPolymeshNotFacets},
        {3.0f, 10, -1, false, kPolymeshNotFacets}};
    for (const auto& c : cases) {
        runResetAll();
        if (c.framed) {  // frame A and a mirror
            frameSetA(&origin, &x, &y, &z);
            ASSERT_EQ(framesInit(), 1);
            ASSERT_EQ(framePairCreate(&at, &axis, &o, &o), 1);
            framePairSetFlag(kFramePairMeshes, 1);
        }
        const std::string path = dir.file("s.3df");
        writeBytes(path, seededImage(&rng, c.version, c.facets, c.announced));
        // 0 streamed, 1 behind a hook, 2 and 3 without corners (3 behind a hook).
        CheckModel m[4]{};
        static int calls;  // the hook sees the read behind it, with corners or without
        int seen[4] = {0, 0, 0, 0};
        for (int k = 0; k < 4; ++k) {
            chkModelInit(&m[k], kMeshTriangles);
            calls = 0;
            if (k % 2 == 1) polymeshSetGroupHook([](const PolymeshGroup*) { return ++calls, 0; });
            EXPECT_EQ(k < 2 ? polymeshLoad(&m[k], path.c_str()) : polymeshLoadTriangles(&m[k], path.c_str()),
                      c.code)
                << c.facets;
            clear_user_callback();
            seen[k] = calls;
            EXPECT_EQ(m[k].triangles == nullptr, c.code != kPolymeshOk);
            EXPECT_EQ(m[k].boxMin == nullptr, k >= 2 || c.code != kPolymeshOk);
        }
        EXPECT_TRUE(seen[0] == 0 && seen[2] == 0 && seen[3] == seen[1] &&
                    (seen[1] > 0) == (c.code == kPolymeshOk))
            << c.facets << " " << seen[1] << " " << seen[3];
        for (int k = 1; k < 4 && c.code == kPolymeshOk; ++k) {
            const TriList &a = *m[0].triangles, &b = *m[k].triangles;
            const size_t n = static_cast<size_t>(a.count);
            ASSERT_EQ(a.count, b.count);
            EXPECT_GE(a.count, c.announced < 0 ? c.facets : c.announced);
            EXPECT_EQ(std::memcmp(&a, &b, offsetof(TriList, data)), 0);  // count, capacity, box
            EXPECT_EQ(std::memcmp(a.data, b.data, n * sizeof(Triangle3D)), 0);
            EXPECT_EQ(std::memcmp(m[0].bounds, m[k].bounds, sizeof m[0].bounds), 0);
            if (k == 1) {
                EXPECT_EQ(std::memcmp(m[0].boxMin, m[1].boxMin, n * sizeof(Vec3)), 0);
                EXPECT_EQ(std::memcmp(m[0].boxMax, m[1].boxMax, n * sizeof(Vec3)), 0);
            }
        }
        if (c.code == kPolymeshOk) {
            // The bounds and each triangle's box against the vertices themselves.
            const TriList& a = *m[0].triangles;
            double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
            for (int32_t i = 0; i < a.count; ++i) {
                double blo[3] = {1e300, 1e300, 1e300}, bhi[3] = {-1e300, -1e300, -1e300};
                for (const Vec3& q : a.data[i].p)
                    for (int k = 0; k < 3; ++k) {
                        const double v = (&q.x)[k];
                        lo[k] = std::min(lo[k], v), hi[k] = std::max(hi[k], v);
                        blo[k] = std::min(blo[k], v), bhi[k] = std::max(bhi[k], v);
                    }
                for (int k = 0; k < 3; ++k) {
                    EXPECT_EQ((&m[0].boxMin[i].x)[k], blo[k]) << i;
                    EXPECT_EQ((&m[0].boxMax[i].x)[k], bhi[k]) << i;
                }
            }
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(m[0].bounds[k], lo[k]) << k;
                EXPECT_EQ(m[0].bounds[3 + k], hi[k]) << k;
                EXPECT_EQ((&a.xmin)[k], lo[k]);
                EXPECT_EQ((&a.xmin)[3 + k], hi[k]);
            }
            // Read as facets the file lands in the same frame: the same bounds, up to the triangles'
            // levelling of nearly equal heights (the small files only: the frames are the same).
            CheckModel f{};
            chkModelInit(&f, kMeshFacets);
            if (c.facets <= 300) {
                EXPECT_EQ(polymeshRead3dfFacets(&f, path.c_str()), kPolymeshOk);
                EXPECT_EQ(f.facetCount, c.announced < 0 ? c.facets : c.announced);
                for (int k = 0; k < 6; ++k) EXPECT_NEAR(f.bounds[k], m[0].bounds[k], 1e-3) << k;
            }
            polymeshFree(&f);
        }
        for (CheckModel& mk : m) polymeshFree(&mk);
    }
    framePairResetState();
}
