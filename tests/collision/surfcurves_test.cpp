#include "collision/surfcurves.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Controls only: nomemory_test.cpp defines the hooks.
#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "collision/tprof.h"
#include "geometry/frames.h"
#include "geometry/msg_capture.h"
#include "geometry/seg3d.h"
#include "kernel/base/rng.h"
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
    const std::string plane = dir.file("plane1.kvx");
    allocfail::arm(0);
    PlistArray* whole = meshFromSurfaceFile(plane.c_str(), 3.0);
    const long total = allocfail::count();
    ASSERT_NE(whole, nullptr);
    // Memory short at a spread of allocations: null, or every curve (a refinement keeps what it has).
    for (long n = 1; n <= total; n += 1 + n / 3) {
        allocfail::arm(n);
        PlistArray* curves = meshFromSurfaceFile(plane.c_str(), 3.0);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_TRUE(curves == nullptr ? fired : curves->count == whole->count) << n;
        EXPECT_TRUE(n > 2 || curves == nullptr);  // no memory for the surface list itself
        plistArrayFree(curves);
    }
    plistArrayFree(whole);
}

// Refinement keeps the list in parameter order, also where neighbouring parameters lie closer than the
// list's own tolerance, keeps every given point, and leaves each gap within the tolerance or too short
// (below 1e-5) to split. Seeded points on a 100 x 100 plane, parameters unrelated to the lengths.
TEST_F(SurfCurvesTest, RefinementKeepsParameterOrder) {
    TrimSurface rec;
    kvxInitTrimSurface(&rec);
    bsplSurfaceAlloc(&rec.surface, 2, 2, 2, 2, 0);
    for (int i = 0; i < 4; i++) rec.surface.uKnots[i] = rec.surface.vKnots[i] = i / 2;
    for (int i = 0; i < 4; i++) rec.surface.rows[i / 2][i % 2] = {100.0 * (i / 2), 100.0 * (i % 2), 0};
    rngResetState();
    for (int trial = 0; trial < 40; trial++) {
        Plist* curve = plistCreate(8, 1);
        ASSERT_NE(curve, nullptr);
        std::vector<Vec3> given;
        double t = 0.0;
        for (int i = 0, n = 2 + rngBelow(6); i < n; i++) {
            t += trial % 2 ? 1e-5 * (1.2 + 0.6 * rngUniform()) : 1e-5 + 10 * rngUniform();
            const Vec3 uv{rngUniform(), rngUniform(), 0.0};
            Vec3 p;
            ASSERT_EQ(surfEvalPoint(&rec, uv.x, uv.y, &p), 0);
            pointWorldToFrameA(&p);
            plistAppend(curve, t, &p, 0, &uv, 5);
            given.push_back(p);
        }
        const double tol = 0.5 + 5 * rngUniform();
        const int32_t added = curveRefineOnSurface(tol, &rec, curve);
        EXPECT_EQ(curve->count, static_cast<int32_t>(given.size()) + added);
        size_t found = 0;
        for (int32_t i = 0; i < curve->count; i++) {
            const Vec3& p = curve->points[i];
            const bool old = found < given.size() && p.x == given[found].x && p.y == given[found].y;
            found += old;
            EXPECT_EQ(curve->bytes[i], old ? 5 : 0);  // a midpoint carries no byte of its own
            if (i == 0) continue;
            const double gap = curve->parameters[i] - curve->parameters[i - 1];
            EXPECT_GT(gap, 0.0) << "trial " << trial << " point " << i;
            EXPECT_TRUE(gap < 1e-5 || dist3D(&curve->points[i - 1], &p) <= tol) << "trial " << trial;
        }
        EXPECT_EQ(found, given.size()) << "trial " << trial;
        plistFree(curve);
    }
    // A curve of short steps but a last gap that would need some 140 000 points keeps what a list can
    // hold, in order.
    Plist* curve = plistCreate(kPlistMaxPoints, 1);
    ASSERT_NE(curve, nullptr);
    const int32_t given = kPlistMaxPoints - 9;
    for (int32_t i = 0; i < given; i++) {
        const double u = i < given - 1 ? 1e-6 * i : 1.0;
        const Vec3 uv{u, u, 0.0}, p{100 * u, 100 * u, 0.0};
        ASSERT_GE(plistAppend(curve, i < given - 1 ? i : 1e6, &p, 0, &uv, 0), 0);
    }
    EXPECT_EQ(curveRefineOnSurface(1e-3, &rec, curve), 9);
    ASSERT_EQ(curve->count, kPlistMaxPoints);
    for (int32_t i = 1; i < curve->count; i++) ASSERT_GT(curve->parameters[i], curve->parameters[i - 1]);
    plistFree(curve);
    // A gap is halved until no piece exceeds tol: ends 50 apart take 2^ceil(log2(50 / tol)) - 1 points.
    for (const double tol : {60.0, 50.0, 25.0, 12.5, 12.4}) {
        Plist* line = plistCreate(2, 1);
        ASSERT_NE(line, nullptr);
        for (const double u : {0.0, 0.5}) {
            Vec3 p, uv{u, 0, 0};
            ASSERT_EQ(surfEvalPoint(&rec, u, 0, &p), 0);
            pointWorldToFrameA(&p);
            plistAppend(line, u, &p, 0, &uv, 0);
        }
        const int32_t want = (1 << std::max(0, int(std::ceil(std::log2(50 / tol))))) - 1;
        EXPECT_EQ(curveRefineOnSurface(tol, &rec, line), want) << tol;
        plistFree(line);
    }
    // Memory short at each allocation in turn: the number told is the number the curve holds beyond its
    // two ends, still first and last, in parameter order.
    for (long k = 1; k == 1 || allocfail::fired(); ++k) {
        Plist* line = plistCreate(2, 1);
        ASSERT_NE(line, nullptr);
        const Vec3 ends[2] = {{0, 0, 0}, {50, 0, 0}}, uv[2] = {{0, 0, 0}, {0.5, 0, 0}};
        for (int e = 0; e < 2; e++) plistAppend(line, e, &ends[e], 0, &uv[e], 0);
        allocfail::arm(k);
        const int32_t added = curveRefineOnSurface(12.4, &rec, line);
        allocfail::disarm();
        ASSERT_EQ(line->count, 2 + added) << k;
        EXPECT_TRUE(line->points[0].x == 0 && line->points[line->count - 1].x == 50) << k;
        for (int32_t i = 1; i < line->count; i++) EXPECT_GT(line->parameters[i], line->parameters[i - 1]);
        plistFree(line);
    }
    // An empty curve, a missing surface or curve: nothing inserted, nothing changed.
    Plist* empty = plistCreate(4, 1);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(curveRefineOnSurface(1, &rec, empty) + curveRefineOnSurface(1, nullptr, empty) +
                  curveRefineOnSurface(1, &rec, nullptr),
              0);
    EXPECT_EQ(empty->count, 0);
    plistFree(empty);
    kvxFreeTrimSurface(&rec);
}

// Exactly the triangle edges whose two ends lie within the reach of a curve (by brute force over every
// curve segment) are taken, at a reach of 0 too, where only the ends on a trim loop count.
TEST_F(SurfCurvesTest, EdgesWithBothEndsInReachAreTakenExactly) {
    const std::string path = planeFile("reach.kvx", 1);
    for (const double reach : {0.0, 3.0}) {
        CollMesh* mesh = collMeshFromSurfaceFile(path.c_str(), 1e-3, reach);
        CheckModel* model = meshLoadViaTmp3dfTriangles(path.c_str(), 1e-3);
        PlistArray* curves = meshFromSurfaceFile(path.c_str(), 1.0);
        ASSERT_TRUE(mesh && model && curves);
        if (reach > 0) {
            ASSERT_EQ(surfIsoCurves(path.c_str(), curves, reach), 1);
            EXPECT_EQ(surfIsoCurves(nullptr, curves, reach) + surfIsoCurves(path.c_str(), nullptr, reach),
                      -2);
        }
        auto near = [&](const Vec3& p) {
            for (int32_t k = 0; k < curves->count; k++)
                for (int32_t i = 0; i + 1 < curves->lists[k]->count; i++)
                    if (distPointSeg3D(&curves->lists[k]->points[i], &curves->lists[k]->points[i + 1], &p,
                                       nullptr) <= reach)
                        return true;
            return false;
        };
        using Ends = std::pair<std::array<double, 3>, std::array<double, 3>>;
        auto ends = [](const Vec3& a, const Vec3& b) {
            std::array<double, 3> x{a.x, a.y, a.z}, y{b.x, b.y, b.z};
            return x < y ? Ends{x, y} : Ends{y, x};
        };
        std::set<Ends> want, got;
        for (int32_t t = 0; t < model->triangles->count; t++) {
            const Vec3* v = model->triangles->data[t].p;
            const bool in[3] = {near(v[0]), near(v[1]), near(v[2])};
            for (int k = 0; k < 3; k++)
                if (in[k] && in[(k + 1) % 3]) want.insert(ends(v[k], v[(k + 1) % 3]));
        }
        for (int32_t e = 0; e < mesh->edgeCount; e++)
            got.insert(ends(mesh->vertices[mesh->edges[e].a].point, mesh->vertices[mesh->edges[e].b].point));
        EXPECT_GT(want.size(), 3u) << reach;
        EXPECT_EQ(got, want) << reach;
        plistArrayFree(curves);
        polymeshDelete(model);
        collMeshFree(mesh);
    }
}

// The temporary file's path: the folder, a separator unless it ends in one, the name; a path without
// room for its terminator is not given (an empty text), and an exchange file is then not converted.
TEST_F(SurfCurvesTest, TemporaryPathsFitTheirRoomOrAreRefused) {
    const struct {
        const char* folder;
        size_t size;
        int want;
        const char* path;
    } cases[] = {{"", 64, 1, "tmp.3df"},       {"/w", 64, 1, "/w/tmp.3df"},
                 {"/w/", 64, 1, "/w/tmp.3df"}, {"c:\\w\\", 64, 1, "c:\\w\\tmp.3df"},
                 {"/w", 11, 1, "/w/tmp.3df"},  {"/w", 10, 0, ""}};
    for (const auto& c : cases) {
        meshSetSetFolders(c.folder, nullptr);
        char out[64];
        std::memset(out, 'x', sizeof out);
        EXPECT_EQ(meshSetTmpPath("tmp.3df", out, c.size), c.want) << c.folder << " " << c.size;
        EXPECT_STREQ(out, c.path);
    }
    // No room at all: nothing is written, not even the empty text.
    char none[4] = {'x', 'x', 'x', '\0'};
    EXPECT_EQ(meshSetTmpPath("tmp.3df", none, 0), 0);
    EXPECT_STREQ(none, "xxx");
    const std::string path = planeFile("long.kvx", 1);
    meshSetSetFolders((dir.path + "/" + std::string(1100, 'd')).c_str(), KV_BIN_DIR);
    EXPECT_EQ(meshLoadViaTmp3df(path.c_str(), 0.01), nullptr);
    // Nor are the wires of two surfaces taken, though their loops are read without the folder.
    EXPECT_EQ(collMeshFromSurfaceFile(planeFile("two.kvx", 2).c_str(), 1e-3, 0.0), nullptr);
    meshSetSetFolders(dir.path.c_str(), KV_BIN_DIR);
    CheckModel* model = meshLoadViaTmp3df(path.c_str(), 0.01);
    EXPECT_TRUE(model && model->triangles && model->triangles->count > 0);
    polymeshDelete(model);
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
