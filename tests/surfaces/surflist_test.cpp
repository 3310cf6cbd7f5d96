#include "surfaces/surflist.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <string>
#include <vector>

#include "allocfail.h"
#include "geometry/bspl.h"
#include "heapbytes.h"
#include "kernel/base/msg.h"
#include "surf_fixtures.h"
#include "surfaces/KVWISO/surfiso.h"
#include "surfaces/deboor.h"
#include "surfaces/facet.h"
#include "surfaces/kvxcontour.h"
#include "surfaces/kvxsurf.h"
#include "surfaces/meshfiles/bndfile.h"
#include "surfaces/meshfiles/meshtest.h"
#include "surfaces/meshfiles/pointsets.h"
#include "surfaces/meshfiles/polynode.h"
#include "surfaces/meshfiles/stl.h"
#include "surfaces/nurbs.h"
#include "surfaces/polyimport.h"
#include "surfaces/revmesh.h"

TEST(SurfList, ShortKnotRangesAreStretchedToUnit) {
    struct Case {
        double uEnd, vEnd;  // knot ranges 2..2 + uEnd and 1..1 + vEnd
        bool uMoves, vMoves;
        bool sameU = false;  // both loop points at one u: a box without width still moves
    };
    const Case cases[] = {{10, 10, false, false},
                          {0.25, 10, true, false},
                          {0.25, 0.125, true, true},
                          {0.5, 1e-9, false, false},
                          {0.25, 10, true, false, true}};
    for (const Case& c : cases) {
        SurfList* list = newSurfList(0);
        ASSERT_NE(list, nullptr);
        TrimSurface recs[2];
        for (TrimSurface& rec : recs) {
            kvxInitTrimSurface(&rec);
            ASSERT_EQ(bsplSurfaceAlloc(&rec.surface, 2, 2, 3, 2, 0), 1);
            const double uk[] = {2, 2, 2 + 0.4 * c.uEnd, 2 + c.uEnd, 2 + c.uEnd},
                         vk[] = {1, 1, 1 + c.vEnd, 1 + c.vEnd};
            std::copy(uk, uk + 5, rec.surface.uKnots);
            std::copy(vk, vk + 4, rec.surface.vKnots);
        }
        const double u1 = c.sameU ? 0.1 : 0.6;
        const Vec2 loop[] = {{2 + 0.1 * c.uEnd, 1 + 0.5 * c.vEnd}, {2 + u1 * c.uEnd, 1 + c.vEnd}};
        ASSERT_EQ(trimSurfaceAddLoop(&recs[0], loop, 2), 1);
        ASSERT_EQ(surfListAppend(list, &recs[0]), 1);
        ASSERT_EQ(surfListAppend(list, &recs[1]), 1);
        normSurfListKnots(list);
        const TrimSurface& r = list->entries[0];
        EXPECT_NEAR(r.surface.uKnots[2], c.uMoves ? 0.4 : 2 + 0.4 * c.uEnd, 1e-12);
        EXPECT_NEAR(r.loops[0].points[1].x, c.uMoves ? u1 : 2 + u1 * c.uEnd, 1e-12);  // scaled by 4
        EXPECT_NEAR(r.loops[0].points[0].x, c.uMoves ? 0.1 : loop[0].x, 1e-12);  // every point, the first too
        EXPECT_NEAR(r.loops[0].points[0].y, c.vMoves ? 0.5 : loop[0].y, 1e-12);
        EXPECT_NEAR(r.umin, c.uMoves ? 0.1 : loop[0].x, 1e-12);
        EXPECT_NEAR(r.umax, c.uMoves ? u1 : loop[1].x, 1e-12);
        EXPECT_DOUBLE_EQ(r.surface.vKnots[0], c.vMoves ? 0.0 : 1.0);
        EXPECT_DOUBLE_EQ(r.vmin, c.vMoves ? 0.5 : loop[0].y);
        EXPECT_DOUBLE_EQ(r.vmax, c.vMoves ? 1.0 : loop[1].y);
        // A surface without loops keeps its empty box.
        EXPECT_EQ(list->entries[1].umin, DBL_MAX);
        EXPECT_EQ(list->entries[1].vmax, -DBL_MAX);
        EXPECT_EQ(freeSurfList(list), 1);
    }
    EXPECT_EQ(freeSurfList(nullptr), 1);
}

// Sizes up to their bounds are taken and one beyond is refused: 400000 knots in a direction and 400000
// control points (an order of 200000 over as many points reaches both at once), 400000 loop points.
TEST(SurfList, SizesUpToTheirBoundsAreTaken) {
    const struct {
        int32_t uOrder, vOrder, uNum, vNum;
        int rc;
    } cases[] = {{200000, 2, 200000, 2, 1}, {2, 200000, 2, 200000, 1}, {2, 2, 200000, 2, 1},
                 {2, 2, 200001, 2, -1},     {2, 3, 3, 133334, -1},     {200001, 2, 200001, 2, -1}};
    for (const auto& c : cases) {
        BsplSurface s{};
        EXPECT_EQ(bsplSurfaceAlloc(&s, c.uOrder, c.vOrder, c.uNum, c.vNum, 0), c.rc)
            << c.uNum << " " << c.vNum;
        EXPECT_EQ(s.uKnots != nullptr, c.rc == 1);
        bsplSurfaceFree(&s);
    }
    std::vector<Vec2> points(kSurfMaxLoopPoints, Vec2{0.5, 0.25});
    TrimLoop loop{nullptr, 0};
    EXPECT_EQ(trimLoopAppend(&loop, points.data(), kSurfMaxLoopPoints - 1), 1);
    EXPECT_EQ(trimLoopAppend(&loop, points.data(), 1), 1);
    EXPECT_EQ(trimLoopAppend(&loop, nullptr, 0), 1);  // nothing more fits, and nothing is asked
    EXPECT_EQ(trimLoopAppend(&loop, points.data(), 1), -1);
    EXPECT_EQ(loop.count, kSurfMaxLoopPoints);
    std::free(loop.points);
}

// The readers, writers and evaluators of surfaces and mesh files refuse what is not there with the codes
// their headers name.
TEST(SurfList, MissingArgumentsAreRefused) {
    RecGuard plane;
    makePlane(&plane.rec, 1, 1, 0);
    const Vec2 a{0, 0}, b{1, 1};
    const Vec3 p{0, 0, 0};
    Vec3 q{};
    double x[2] = {0, 0}, w = 0;
    EXPECT_EQ(surfListAppend(nullptr, &plane.rec), -1);
    EXPECT_EQ(freeSurfList(nullptr), 1);
    EXPECT_EQ(bsplSurfaceAlloc(nullptr, 2, 2, 2, 2, 0), -1);
    EXPECT_EQ(trimSurfaceAddLoop(nullptr, &a, 1), -1);
    surfToFrameM1(nullptr);
    surfListToFrameM1(nullptr);
    kvxInitTrimSurface(nullptr);
    kvxFreeTrimSurface(nullptr);
    bsplSurfaceFree(nullptr);
    freeMeshPatchList(nullptr);
    freeMeshNodeList(nullptr);
    trimSurfaceUpdateBox(nullptr);
    normSurfListKnots(nullptr);
    scalePointAxes(nullptr);
    EXPECT_EQ(readSurfObjects(nullptr, nullptr), 0);
    EXPECT_EQ(writeSurfObjects(nullptr, nullptr), 0);
    EXPECT_EQ(kvxReadTrimSurface(nullptr, nullptr), -1);
    EXPECT_EQ(kvxReadParCurve(nullptr, 2, nullptr), -1);
    EXPECT_EQ(kvxReadLine(nullptr, nullptr), -1);
    kvxBlankBrackets(nullptr);
    EXPECT_EQ(bsplBasis(nullptr, 2, 2, 1, 0.5, x), -1);
    EXPECT_EQ(evalNurbsSurfPointsAtV(&plane.rec.surface, nullptr, 1, 0.5, &q), -1);
    SurfFoot foot{};
    EXPECT_EQ(surfClosestGridPoint(nullptr, &p, &foot), -1);
    EXPECT_EQ(projectPointNurbsSurf(&plane.rec, nullptr, nullptr, &foot, &w), 0);
    EXPECT_EQ(facetSurface(nullptr, 0.1, &w, &w), -1);
    EXPECT_EQ(facetSurface(&plane.rec, 0.1, nullptr, &w), -1);
    EXPECT_EQ(curvatureFromDerivs(1, 0, 1, 1, 0, 1, nullptr, &w), -1);
    EXPECT_EQ(nurbsSurfCurvature(&plane.rec.surface, 0.5, 0.5, &w, nullptr), -1);
    EXPECT_EQ(nurbsSurfCurvature(&plane.rec.surface, 0.5, 0.5, nullptr, &w), -1);
    EXPECT_EQ(parseXyzTriple(nullptr, &q), -1);
    EXPECT_EQ(parseXyzTriple("1,2", &q), -1);
    EXPECT_EQ(kvxContourAddArc(nullptr, 0.1, &a, &b, 0, &a, 1), 0);
    EXPECT_EQ(kvxContourAddLine(0, 0, 0, 1, 1, 1, nullptr), 0);
    EXPECT_EQ(kvxContourToFrame(nullptr, 0, 1), nullptr);
    EXPECT_EQ(parseXyPair(nullptr, x), 0);
    EXPECT_EQ(parseXyPair("12", x), 0);  // no separator
    EXPECT_EQ(writeBoundaryFromFile("", &w, &w), -1);
    int32_t lines = 0;
    EXPECT_EQ(bnd_read("", nullptr, 0, &lines), -1);
    EXPECT_EQ(pointSetsReserve(nullptr, 0), 0);
    EXPECT_EQ(pointSetsGet(nullptr, 0, 0, &q), 0);
    EXPECT_EQ(polyNodeAddFacet(nullptr, &p, 3), 0);
    EXPECT_EQ(polyNodeAddTriangles(nullptr, &p, 3), 0);
    EXPECT_EQ(stl_read(""), nullptr);
    EXPECT_EQ(stl_is_binary(nullptr), -1);
    EXPECT_EQ(revMeshSegment(&a, &b, nullptr, 0.1), -1);
    EXPECT_EQ(revMeshSweep(nullptr, 2, 0.1), nullptr);
    EXPECT_EQ(isoFileCountBnd(nullptr), -1);
    EXPECT_EQ(isoWriteBnd(nullptr, "x.bnd"), 0);
    EXPECT_EQ(LESE_KONTUREN(nullptr, nullptr), -1);
    EXPECT_EQ(isoParamsTwoSided(&plane.rec, 0, 0.1, nullptr), -1);
}

namespace {

// Runs step(n) for n = 1, 2, ... with the n-th allocation of its armed part failing, until a run
// meets no failure; step returns whether its allocation failed.
template <class Step>
void failEachAllocation(Step step) {
    for (long n = 1; n < 10000; ++n) {
        allocfail::arm(n);
        const bool failed = step();
        allocfail::disarm();
        if (!failed) return;
    }
    ADD_FAILURE() << "no run without a failure";
}

bool armedFired() {
    const bool fired = allocfail::fired();
    allocfail::disarm();
    return fired;
}

}  // namespace

// Memory that cannot be had gives each function's failure code and leaves its records as they were
// (what was taken is given back: the sanitized build checks for leaks).
TEST(SurfList, EachFailedAllocationLeavesTheRecordsAsTheyWere) {
    failEachAllocation([] {
        SurfList* list = newSurfList(3);
        if (!armedFired()) {
            EXPECT_NE(list, nullptr);
            freeSurfList(list);
            return false;
        }
        EXPECT_EQ(list, nullptr);
        freeSurfList(list);
        return true;
    });
    SurfList* list = newSurfList(3);
    ASSERT_NE(list, nullptr);
    for (int k = 0; k < 3; ++k) {
        TrimSurface rec;
        makePlane(&rec, 1 + k, 1, 0);
        ASSERT_EQ(surfListAppend(list, &rec), 1);
    }
    TrimSurface extra;
    makePlane(&extra, 9, 1, 0);
    allocfail::arm(1);
    EXPECT_EQ(surfListAppend(list, &extra), -1);
    allocfail::disarm();
    EXPECT_EQ(list->count, 3);
    EXPECT_EQ(list->capacity, 3);
    EXPECT_EQ(list->entries[2].surface.rows[1][0].x, 3.0);
    ASSERT_EQ(surfListAppend(list, &extra), 1);
    EXPECT_EQ(list->capacity, 6);
    EXPECT_EQ(list->entries[3].surface.rows[1][0].x, 9.0);
    freeSurfList(list);

    for (const int rational : {0, 1}) {
        for (long n = 1;; ++n) {
            BsplSurface s{};
            allocfail::arm(n);
            const int rc = bsplSurfaceAlloc(&s, 3, 2, 4, 3, rational);
            if (!armedFired()) {
                ASSERT_EQ(rc, 1);
                EXPECT_EQ(s.weights != nullptr, rational == 1);
                for (int k = 0; rational && k < 12; ++k) EXPECT_EQ(s.weights[k / 3][k % 3], 1.0) << k;
                bsplSurfaceFree(&s);
                break;
            }
            EXPECT_EQ(rc, -1) << n;
            EXPECT_EQ(s.uKnots, nullptr);
            EXPECT_EQ(s.rows, nullptr);
            EXPECT_EQ(s.weights, nullptr);
        }
    }

    RecGuard g;
    makePlane(&g.rec, 1, 1, 0);
    const Vec2 first[] = {{0, 0}, {1, 0}, {1, 1}}, hole[] = {{0.2, 0.2}, {0.4, 0.2}, {0.3, 0.5}};
    ASSERT_EQ(trimSurfaceAddLoop(&g.rec, first, 3), 1);
    failEachAllocation([&] {
        const int rc = trimSurfaceAddLoop(&g.rec, hole, 3);
        if (!armedFired()) {
            EXPECT_EQ(rc, 1);
            return false;
        }
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(g.rec.loopCount, 1);
        EXPECT_EQ(g.rec.umax, 1.0);
        return true;
    });
    EXPECT_EQ(g.rec.loopCount, 2);
    // A measure short of memory fails whole (each run from empty scratch lists), also where the
    // contour that could not be had is that of a loop without points.
    ASSERT_EQ(trimSurfaceAddLoop(&g.rec, nullptr, 0), 1);
    double area = 0, rel = 0, whole = 0;
    ASSERT_EQ(facetSurface(&g.rec, 0.05, &whole, &rel), 1);
    failEachAllocation([&] {
        facetReleaseScratch();
        const int rc = facetSurface(&g.rec, 0.05, &area, &rel);
        if (!armedFired()) {
            EXPECT_EQ(rc, 1);
            EXPECT_EQ(area, whole);
            return false;
        }
        EXPECT_EQ(rc, -1);
        return true;
    });
    allocfail::arm(1);
    EXPECT_EQ(trimLoopAppend(&g.rec.loops[1], first, 2), -1);
    allocfail::disarm();
    EXPECT_EQ(g.rec.loops[1].count, 3);
    EXPECT_EQ(trimLoopAppend(&g.rec.loops[1], first, 2), 1);
    EXPECT_EQ(g.rec.loops[1].count, 5);
    EXPECT_EQ(g.rec.loops[1].points[4].x, 1.0);
    kvxFreeTrimSurface(&g.rec);
    EXPECT_EQ(g.rec.loopCount, 0);
    EXPECT_EQ(g.rec.loops, nullptr);
    EXPECT_EQ(g.rec.surface.rows, nullptr);
    EXPECT_EQ(g.rec.umin, DBL_MAX);
}

// A contour read short of memory fails whole or gives every point (a record the reader could not
// take ends the file as an error does, and is reported as a fault): a half turn finer than the first
// room of its point list grows the list three times.
TEST(SurfList, AContourReadShortOfMemoryFailsWhole) {
    TempDir dir;
    const std::string path = dir.file("c.kvx");
    writeTextFile(path, kvxText("o Contour[a]()\n{\no A(x[10/-10/0] y[0/0/0] z[0/0])\n}\n"));
    ProfileCurve* whole = readKvxContour(path.c_str(), 1e-6);
    ASSERT_NE(whole, nullptr);
    ASSERT_GT(whole->count, 3000);
    failEachAllocation([&] {
        const uint32_t faults = msgFaultCount();
        ProfileCurve* p = readKvxContour(path.c_str(), 1e-6);
        const bool fired = armedFired();
        if (p != nullptr && msgFaultCount() == faults) {
            EXPECT_EQ(p->count, whole->count);
        }
        profileFreeList(p);
        return fired;
    });
    profileFreeList(whole);
}

TEST(SurfList, EachFailedAllocationOfAMeshNodeLeavesItAsItWas) {
    const Vec3 quad[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 1}};
    failEachAllocation([&] {
        PolyNode* node = polyNodeCreateFacets("a", 5);
        const bool fired = armedFired();
        EXPECT_EQ(node == nullptr, fired);
        polyNodeFreeList(node);
        return fired;
    });
    PolyNode* facets = polyNodeCreateFacets("a", 1);
    PolyNode* tris = polyNodeCreateTriangles("b", 1);
    ASSERT_NE(facets, nullptr);
    ASSERT_NE(tris, nullptr);
    ASSERT_EQ(polyNodeAddFacet(facets, quad, 3), 1);
    ASSERT_EQ(polyNodeAddTriangles(tris, quad, 3), 1);
    allocfail::arm(1);
    EXPECT_EQ(polyNodeAddFacet(facets, quad, 4), 0);
    allocfail::arm(1);
    EXPECT_EQ(polyNodeAddTriangles(tris, quad, 4), 0);
    allocfail::disarm();
    EXPECT_EQ(facets->used, 1);
    EXPECT_EQ(facets->capacity, 1);
    EXPECT_EQ(facets->facets[0].p[3].y, 1.0);  // a triangle repeats its third point
    EXPECT_EQ(tris->used, 1);
    // Growth steps: 128 facets, 65536 triangles; a resize trims to the used count.
    ASSERT_EQ(polyNodeAddFacet(facets, quad, 4), 1);
    EXPECT_EQ(facets->capacity, 129);
    EXPECT_EQ(facets->facets[1].p[3].z, 1.0);
    ASSERT_EQ(polyNodeAddTriangles(tris, quad, 4), 1);
    EXPECT_EQ(tris->capacity, 65537);
    EXPECT_EQ(tris->used, 3);
    EXPECT_EQ(tris->triangles[2].p[1].z, 1.0);
    EXPECT_EQ(polyNodeResizeTriangles(tris), 1);
    EXPECT_EQ(tris->capacity, 3);
    allocfail::arm(1);
    ASSERT_EQ(polyNodeAddTriangles(tris, quad, 3), 0);
    allocfail::disarm();
    EXPECT_EQ(polyNodeResizeTriangles(facets), 0);
    // A node holds one kind: the other is refused and leaves it as it was.
    EXPECT_EQ(polyNodeAddTriangles(facets, quad, 3), 0);
    EXPECT_EQ(polyNodeAddFacet(tris, quad, 3), 0);
    EXPECT_TRUE(facets->triangles == nullptr && tris->facets == nullptr);
    EXPECT_EQ(facets->used + tris->used, 2 + 3);
    // A trim the heap refuses keeps the larger array, still valid.
    ASSERT_EQ(polyNodeAddTriangles(tris, quad, 3), 1);
    allocfail::arm(1);
    EXPECT_EQ(polyNodeResizeTriangles(tris), 1);
    allocfail::disarm();
    EXPECT_EQ(tris->capacity, 3 + 65536);
    EXPECT_EQ(tris->triangles[3].p[2].y, 1.0);
    polyNodeFreeList(facets);
    polyNodeFreeList(tris);

    // A polyhedron file read short of memory at any step throws nothing: it gives the whole mesh, none,
    // or a memory fault for the run (short for the mesh's own arrays, its last allocations, none).
    const std::string poly = writeText(
        "p.kvx", kvxText("o Polyhedron[m]()\n{\nm P[1](+0+0+0+1+0+0+0+1+0)\nm V(1/1/1/2/1/3)\n}\n"));
    allocfail::arm(0);
    freeMeshNodeList(meshFromPolyFileA(poly.c_str(), "m", 1, 0));
    const long all = allocfail::count();
    for (long n = 1; n <= all; ++n) {
        const uint32_t faults = msgFaultCount();
        allocfail::arm(n);
        PolyFacetMesh* mesh = nullptr;
        EXPECT_NO_THROW(mesh = meshFromPolyFileA(poly.c_str(), "m", 1, 0)) << n;
        allocfail::disarm();
        const bool whole = mesh && mesh->facets->count == 1 && mesh->upper[0].x == 1 && mesh->upper[0].y == 1;
        EXPECT_TRUE(n < all - 3 || mesh == nullptr) << n;
        EXPECT_TRUE(!mesh || whole || msgFaultCount() > faults) << n;
        freeMeshNodeList(mesh);
    }

    PointSets* sets = pointSetsCreate();
    ASSERT_NE(sets, nullptr);
    const Vec3 p{1, 2, 3};
    ASSERT_EQ(pointSetsPut(sets, 0, 1, &p), 1);
    for (const int set : {0, 20}) {
        allocfail::arm(1);
        EXPECT_EQ(pointSetsPut(sets, set, 40, &p), 0) << set;
        allocfail::disarm();
    }
    EXPECT_EQ(sets->capacity, 16);
    EXPECT_EQ(sets->count, 1);  // only set 0 exists
    Vec3 q{};
    EXPECT_EQ(pointSetsGet(sets, 0, 1, &q), 1);
    EXPECT_EQ(q.z, 3.0);
    EXPECT_EQ(pointSetsGet(sets, 0, 2, &q), 0);
    pointSetsFree(sets);
}

// Every free gives back all its create took: the bytes the C heap holds are the same before and after.
// (The address sanitizer serves the heap itself, so the figure stays still there; its leak check
// covers that build.)
TEST(SurfList, FreesGiveBackAllTheirCreatesTook) {
    const auto round = [] {
        SurfList* list = newSurfList(3);
        ASSERT_NE(list, nullptr);
        for (int k = 0; k < 4; ++k) {
            TrimSurface rec;
            if (k % 2) {
                makeCylinder(&rec, 2, 3);
            } else {
                makePlane(&rec, 1, 1, 0);
            }
            const Vec2 loop[] = {{0, 0}, {1, 0}, {1, 1}};
            ASSERT_EQ(trimSurfaceAddLoop(&rec, loop, 3), 1);
            ASSERT_EQ(surfListAppend(list, &rec), 1);
        }
        freeSurfList(list);
        PointSets* sets = pointSetsCreate();
        const Vec3 p{1, 2, 3};
        ASSERT_EQ(pointSetsPut(sets, 3, 70, &p), 1);
        pointSetsFree(sets);
        PolyNode* node = polyNodeCreateTriangles("n", 2);
        ASSERT_EQ(polyNodeAddTriangles(node, &p, 0), 0);
        node->next = polyNodeCreateFacets("m", 2);
        polyNodeFreeList(node);
        auto* mesh = static_cast<PolyTriMesh*>(std::calloc(1, sizeof(PolyTriMesh)));
        mesh->triangles = triListCreate(4);
        mesh->lower = static_cast<Vec3*>(std::calloc(4, sizeof(Vec3)));
        mesh->upper = static_cast<Vec3*>(std::calloc(4, sizeof(Vec3)));
        freeMeshPatchList(mesh);
    };
    round();  // first uses of the library's own buffers are not the units' to give back
    const size_t before = heapBytesHeld();
    round();
    EXPECT_EQ(heapBytesHeld(), before);
}
