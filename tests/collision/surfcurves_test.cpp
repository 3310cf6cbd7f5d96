#include "collision/surfcurves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "collision/tprof.h"
#include "geometry/frames.h"
#include "geometry/msg_capture.h"
#include "geometry/rng.h"
#include "geometry/seg3d.h"
#include "meshutil.h"
#include "surfaces/KVWISO/surfiso.h"
#include "surfaces/deboor.h"
#include "surfaces/kvxsurf.h"
#include "surfaces/meshfiles/meshtest.h"

namespace {

struct SurfCurvesTest : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        meshSetResetState();
        isoResetState();
        meshSetSetFolders(dir.path.c_str(), KV_BIN_DIR);
    }
    void TearDown() override { meshSetResetState(); }
    // Plane patches z = 0, 100 x 100 and 200 apart in x, trimmed to the parameter square 0.1 .. 0.9.
    std::string planeFile(const std::string& name, int count) {
        SurfList* list = newSurfList(3);
        for (int k = 0; k < count; k++) {
            TrimSurface rec;
            kvxInitTrimSurface(&rec);
            bsplSurfaceAlloc(&rec.surface, 2, 2, 2, 2, 0);
            for (int i = 0; i < 4; i++) rec.surface.uKnots[i] = rec.surface.vKnots[i] = i / 2;
            for (int i = 0; i < 4; i++)
                rec.surface.rows[i / 2][i % 2] = {200.0 * k + 100 * (i / 2), 100.0 * (i % 2), 0};
            const Vec2 loop[5] = {{0.1, 0.1}, {0.9, 0.1}, {0.9, 0.9}, {0.1, 0.9}, {0.1, 0.1}};
            trimSurfaceAddLoop(&rec, loop, 5);
            surfListAppend(list, &rec);
        }
        writeSurfObjects(dir.file(name).c_str(), list);
        freeSurfList(list);
        return dir.file(name);
    }
};

}  // namespace

// One surface: its trim loop and the iso lines of both directions; two: the loops only. Every curve lies
// on the plane inside the trim square, parametrised by its length; loops are refined to the tolerance.
TEST_F(SurfCurvesTest, OneSurfaceGivesItsLoopAndIsoLines) {
    for (int surfaces : {1, 2}) {
        const std::string path = planeFile("plane" + std::to_string(surfaces) + ".kvx", surfaces);
        int isoLines = 0;  // as the iso-line generator writes them at the spacing of 20
        for (int32_t d : {kIsoAlongU, kIsoAlongV}) {
            ASSERT_EQ(surfIsolines(path.c_str(), d, kSurfIsoSpacing, 0.0, 0.01,
                                   dir.file(std::to_string(surfaces) + ".bnd").c_str()),
                      1);
        }
        isoLines = isoFileCountBnd(dir.file(std::to_string(surfaces) + ".bnd").c_str());
        ASSERT_GT(isoLines, 4);
        PlistArray* curves = meshFromSurfaceFile(path.c_str(), 3.0);
        ASSERT_NE(curves, nullptr);
        EXPECT_EQ(curves->count, surfaces + (surfaces == 1 ? isoLines : 0));
        for (int32_t k = 0; k < curves->count; k++) {
            const Plist* l = curves->lists[k];
            for (int32_t i = 0; i < l->count; i++) {
                EXPECT_TRUE(l->points[i].z == 0.0 && std::fabs(l->points[i].y - 50) <= 40 + 1e-6);
                const double step = i ? dist3D(&l->points[i - 1], &l->points[i]) : 0.0;
                EXPECT_NEAR(l->parameters[i] - (i ? l->parameters[i - 1] : 0.0), step, 1e-9);
                EXPECT_TRUE(k >= surfaces || step <= 3.0);
            }
        }
        plistArrayFree(curves);
    }
    EXPECT_EQ(meshFromSurfaceFile(dir.file("none.kvx").c_str(), 1.0), nullptr);
}

// Only triangle edges whose both ends lie within the curve tolerance of the curves.
TEST_F(SurfCurvesTest, CollisionMeshRunsAlongTheCurves) {
    const std::string path = planeFile("plane.kvx", 1);
    CollMesh* mesh = collMeshFromSurfaceFile(path.c_str(), 1e-3, 0.5);
    PlistArray* curves = meshFromSurfaceFile(path.c_str(), 1.0);
    ASSERT_TRUE(mesh && curves);
    ASSERT_EQ(surfIsoCurves(path.c_str(), curves, 0.5), 1);
    EXPECT_GT(mesh->edgeCount, 10);
    for (int32_t v = 0; v < mesh->vertexCount; v++) {
        double best = 1e300;
        for (int32_t k = 0; k < curves->count; k++)
            for (int32_t i = 0; i + 1 < curves->lists[k]->count; i++)
                best = std::min(best,
                                distPointSeg3D(&curves->lists[k]->points[i], &curves->lists[k]->points[i + 1],
                                               &mesh->vertices[v].point, nullptr));
        EXPECT_LE(best, 0.5);
    }
    plistArrayFree(curves);
    collMeshFree(mesh);
}

TEST_F(SurfCurvesTest, MeshFileEdgesAndObstacles) {
    const std::string stl = dir.file("two.stl");
    writeTextFile(stl, testmesh::stlText(
                           {{{{0, 0, 0}, {10, 0, 0}, {0, 10, 0}}}, {{{10, 0, 0}, {10, 10, 1}, {0, 10, 0}}}}));
    MeshSet* set = meshSetFromFile(stl.c_str(), "", 0.5, 1e-3);
    ASSERT_TRUE(set && set->meshes[0]);
    EXPECT_EQ(set->meshes[0]->vertexCount, 4);
    EXPECT_EQ(set->meshes[0]->edgeCount, 5);  // the shared diagonal once
    EXPECT_TRUE(!set->meshes[1] && !set->meshes[4] && set->meshes[3]);
    meshSetFree(set);
    EXPECT_EQ(meshSetFromFile(stl.c_str(), dir.file("missing.stl").c_str(), 0.5, 1e-3), nullptr);
    FTriList* obstacle = coll_obstacle_from_file(stl.c_str(), 0, 2.0);
    ASSERT_NE(obstacle, nullptr);
    ASSERT_EQ(obstacle->count, 2);
    EXPECT_EQ(obstacle->data[0].v[2] + obstacle->data[0].v[5] + obstacle->data[0].v[8] +
                  obstacle->data[1].v[2] + obstacle->data[1].v[5] + obstacle->data[1].v[8],
              1.0f);
    ftriListFree(obstacle);
    MessageCapture capture(9);  // a file that does not load is said so
    EXPECT_EQ(coll_obstacle_from_file(dir.file("gone.3df").c_str(), 0, 2.0), nullptr);
    EXPECT_EQ(capture.countOf("5200," + dir.file("gone.3df")), 1);
}

// Every seeded point of the example blade and splitter faces lies within twice the triangle tolerance of a
// wire, also with a reach below the triangles' size (trim loops alone left the faces bare).
TEST_F(SurfCurvesTest, ExampleBladesAreCoveredByTheWires) {
    const std::string root = std::string(KV_SOURCE_DIR) + "/examples/plunge/",
                      name[2] = {"blade.kvx", "split.kvx"};
    MeshSet* set =
        meshSetFromSurfaces((root + name[0]).c_str(), (root + name[1]).c_str(), 2 * M_PI / 8, 0.05, 1.0);
    ASSERT_TRUE(set && set->meshes[0] && set->meshes[1]);
    rngResetState();
    for (int b = 0; b < 2; ++b) {
        SurfList* list = newSurfList(4);
        ASSERT_EQ(readSurfObjects((root + name[b]).c_str(), list), 1);
        const CollMesh* m = set->meshes[b];
        for (int32_t i = 0; i < 40 * list->count; ++i) {  // trim loops = whole parameter squares
            Vec3 p;
            ASSERT_EQ(evalNurbsSurfPoint(&list->entries[i / 40].surface, rngUniform(), rngUniform(), &p), 1);
            pointWorldToFrameA(&p);
            double best = 1e300;
            for (int32_t e = 0; e < m->edgeCount; ++e)
                best = std::min(best, distPointSeg3D(&m->vertices[m->edges[e].a].point,
                                                     &m->vertices[m->edges[e].b].point, &p, nullptr));
            EXPECT_LE(best, 0.1) << b << " " << i;
        }
        freeSurfList(list);
    }
    meshSetFree(set);
}
