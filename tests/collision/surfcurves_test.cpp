#include "collision/surfcurves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "collision/meshset.h"
#include "collision/tprof.h"
#include "geometry/msg_capture.h"
#include "geometry/seg3d.h"
#include "surfaces/KVWISO/surfiso.h"
#include "surfaces/kvxsurf.h"
#include "surfaces/meshfiles/meshtest.h"
#include "surfaces/polymesh.h"

namespace {

struct SurfCurvesTest : ::testing::Test {
    TempDir dir;
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    void reset() {
        meshSetResetState();
        isoResetState();
        polymeshResetState();
        meshSetSetFolders(dir.path.c_str(), KV_BIN_DIR);
    }
};

// Plane patches z = 0 over x0 .. x0 + 100, y 0 .. 100, trimmed to the square 0.1 .. 0.9 of the parameters.
std::string planeFile(const std::string& path, int count) {
    SurfList* list = newSurfList(3);
    for (int k = 0; k < count; k++) {
        TrimSurface rec;
        kvxInitTrimSurface(&rec);
        bsplSurfaceAlloc(&rec.surface, 2, 2, 2, 2, 0);
        const double knots[4] = {0, 0, 1, 1};
        for (int i = 0; i < 4; i++) rec.surface.uKnots[i] = rec.surface.vKnots[i] = knots[i];
        for (int i = 0; i < 2; i++)
            for (int j = 0; j < 2; j++) rec.surface.rows[i][j] = {200.0 * k + 100 * i, 100.0 * j, 0};
        const Vec2 loop[5] = {{0.1, 0.1}, {0.9, 0.1}, {0.9, 0.9}, {0.1, 0.9}, {0.1, 0.1}};
        trimSurfaceAddLoop(&rec, loop, 5);
        surfListAppend(list, &rec);
    }
    writeSurfObjects(path.c_str(), list);
    freeSurfList(list);
    return path;
}

double distToCurves(const PlistArray* curves, const Vec3& p) {
    double best = 1e300;
    for (int32_t k = 0; k < curves->count; k++) {
        const Plist* c = curves->lists[k];
        for (int32_t i = 0; i + 1 < c->count; i++)
            best = std::min(best, distPointSeg3D(&c->points[i], &c->points[i + 1], &p, nullptr));
    }
    return best;
}

}  // namespace

TEST_F(SurfCurvesTest, OneSurfaceGivesItsLoopAndIsoLines) {
    const struct {
        int surfaces;
        bool iso;
    } cases[] = {{1, true}, {2, false}};
    for (const auto& c : cases) {
        const std::string path =
            planeFile(dir.file("plane" + std::to_string(c.surfaces) + ".kvx"), c.surfaces);
        // The iso lines the iso-line generator writes for both directions at the spacing of 20.
        int isoLines = 0;
        for (int32_t d : {kIsoAlongU, kIsoAlongV}) {
            const std::string bnd = dir.file("count" + std::to_string(d) + ".bnd");
            ASSERT_EQ(surfIsolines(path.c_str(), d, kSurfIsoSpacing, 0.0, 0.01, bnd.c_str()), 1);
            isoLines += isoFileCountBnd(bnd.c_str());
        }
        ASSERT_GT(isoLines, 4);
        PlistArray* curves = meshFromSurfaceFile(path.c_str(), 3.0);
        ASSERT_NE(curves, nullptr);
        EXPECT_EQ(curves->count, c.surfaces + (c.iso ? isoLines : 0)) << c.surfaces;
        for (int32_t k = 0; k < curves->count; k++) {
            const Plist* l = curves->lists[k];
            ASSERT_GE(l->count, 2);
            for (int32_t i = 0; i < l->count; i++) {
                EXPECT_NEAR(l->points[i].z, 0.0, 1e-9);
                const double x = std::fmod(l->points[i].x, 200.0);
                EXPECT_TRUE(x > 10 - 1e-6 && x < 90 + 1e-6 && l->points[i].y > 10 - 1e-6 &&
                            l->points[i].y < 90 + 1e-6);
                if (i == 0) continue;
                const double step = dist3D(&l->points[i - 1], &l->points[i]);
                EXPECT_NEAR(l->parameters[i] - l->parameters[i - 1], step, 1e-9);
                EXPECT_TRUE(k >= c.surfaces || step <= 3.0);  // loops are refined
            }
        }
        plistArrayFree(curves);
    }
    EXPECT_EQ(meshFromSurfaceFile(dir.file("none.kvx").c_str(), 1.0), nullptr);
}

// The converted triangles' edges with both ends within the curve tolerance, and no other edge.
TEST_F(SurfCurvesTest, CollisionMeshKeepsTheEdgesAlongTheCurves) {
    const std::string path = planeFile(dir.file("plane.kvx"), 1);
    CollMesh* mesh = collMeshFromSurfaceFile(path.c_str(), 1e-3, 0.5);
    ASSERT_NE(mesh, nullptr);
    PlistArray* curves = meshFromSurfaceFile(path.c_str(), 1.0);
    CheckModel* model = meshLoadViaTmp3df(path.c_str(), 1.0);
    ASSERT_NE(curves, nullptr);
    ASSERT_NE(model, nullptr);
    std::set<std::tuple<double, double, double, double>> want, got;
    auto key = [](const Vec3& a, const Vec3& b) {
        const double ka = std::round(a.x * 1e3) + 1e6 * std::round(a.y * 1e3),
                     kb = std::round(b.x * 1e3) + 1e6 * std::round(b.y * 1e3);
        return ka < kb ? std::make_tuple(a.x, a.y, b.x, b.y) : std::make_tuple(b.x, b.y, a.x, a.y);
    };
    for (int32_t t = 0; t < model->triangles->count; t++) {
        const Vec3* v = model->triangles->data[t].p;
        bool near[3];
        for (int k = 0; k < 3; k++) near[k] = distToCurves(curves, v[k]) <= 0.5;
        for (int k = 0; k < 3; k++)
            if (near[k] && near[(k + 1) % 3]) want.insert(key(v[k], v[(k + 1) % 3]));
    }
    for (int32_t e = 0; e < mesh->edgeCount; e++)
        got.insert(key(mesh->vertices[mesh->edges[e].a].point, mesh->vertices[mesh->edges[e].b].point));
    EXPECT_GT(got.size(), 10u);
    EXPECT_EQ(got, want);
    polymeshDelete(model);
    plistArrayFree(curves);
    collMeshFree(mesh);
}

TEST_F(SurfCurvesTest, MeshFileEdgesAndObstacles) {
    const std::string stl = dir.file("two.stl");
    writeTextFile(stl,
                  "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 10 0 0\nvertex 0 10 "
                  "0\nendloop\nendfacet\n"
                  "facet normal 0 0 1\nouter loop\nvertex 10 0 0\nvertex 10 10 1\nvertex 0 10 "
                  "0\nendloop\nendfacet\nendsolid t\n");
    MeshSet* set = meshSetFromFile(stl.c_str(), "", 0.5, 1e-3);
    ASSERT_NE(set, nullptr);
    ASSERT_NE(set->meshes[0], nullptr);
    EXPECT_EQ(set->meshes[0]->vertexCount, 4);
    EXPECT_EQ(set->meshes[0]->edgeCount, 5);  // the shared diagonal once
    EXPECT_EQ(set->meshes[1], nullptr);
    EXPECT_EQ(set->meshes[4], nullptr);
    EXPECT_NE(set->meshes[3], nullptr);
    meshSetFree(set);
    EXPECT_EQ(meshSetFromFile(stl.c_str(), dir.file("missing.stl").c_str(), 0.5, 1e-3), nullptr);

    FTriList* obstacle = coll_obstacle_from_file(stl.c_str(), 0, 2.0);
    ASSERT_NE(obstacle, nullptr);
    ASSERT_EQ(obstacle->count, 2);
    float zs = 0;
    for (int32_t i = 0; i < 2; i++)
        zs += obstacle->data[i].v[2] + obstacle->data[i].v[5] + obstacle->data[i].v[8];
    EXPECT_EQ(zs, 1.0f);
    ftriListFree(obstacle);
    MessageCapture capture(9);
    const std::string missing = dir.file("gone.3df");
    EXPECT_EQ(coll_obstacle_from_file(missing.c_str(), 0, 2.0), nullptr);
    EXPECT_EQ(capture.countOf("5200," + missing), 1);
}
