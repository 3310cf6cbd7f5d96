#include "surfaces/surflist.h"

#include <gtest/gtest.h>

#include <cfloat>

#include "surf_fixtures.h"
#include "surfaces/KVWISO/surfiso.h"
#include "surfaces/bspl.h"
#include "surfaces/deboor.h"
#include "surfaces/facet.h"
#include "surfaces/kvxcontour.h"
#include "surfaces/kvxsurf.h"
#include "surfaces/meshfiles/bndfile.h"
#include "surfaces/meshfiles/pointsets.h"
#include "surfaces/meshfiles/polynode.h"
#include "surfaces/meshfiles/stl.h"
#include "surfaces/revmesh.h"

TEST(SurfList, ShortKnotRangesAreStretchedToUnit) {
    struct Case {
        double uEnd, vEnd;  // knot ranges 0..uEnd and 1..1 + vEnd
        bool uMoves, vMoves;
    };
    const Case cases[] = {{10, 10, false, false},
                          {0.25, 10, true, false},
                          {0.25, 0.125, true, true},
                          {0.5, 1e-9, false, false}};
    for (const Case& c : cases) {
        SurfList* list = newSurfList(0);
        ASSERT_NE(list, nullptr);
        TrimSurface recs[2];
        for (TrimSurface& rec : recs) {
            kvxInitTrimSurface(&rec);
            ASSERT_EQ(bsplSurfaceAlloc(&rec.surface, 2, 2, 3, 2, 0), 1);
            const double uk[] = {0, 0, 0.4 * c.uEnd, c.uEnd, c.uEnd}, vk[] = {1, 1, 1 + c.vEnd, 1 + c.vEnd};
            std::copy(uk, uk + 5, rec.surface.uKnots);
            std::copy(vk, vk + 4, rec.surface.vKnots);
        }
        const Vec2 loop[] = {{0.1 * c.uEnd, 1 + 0.5 * c.vEnd}, {0.6 * c.uEnd, 1 + c.vEnd}};
        ASSERT_EQ(trimSurfaceAddLoop(&recs[0], loop, 2), 1);
        ASSERT_EQ(surfListAppend(list, &recs[0]), 1);
        ASSERT_EQ(surfListAppend(list, &recs[1]), 1);
        normSurfListKnots(list);
        const TrimSurface& r = list->entries[0];
        EXPECT_DOUBLE_EQ(r.surface.uKnots[2], c.uMoves ? 0.4 : 0.4 * c.uEnd);
        EXPECT_DOUBLE_EQ(r.loops[0].points[1].x, c.uMoves ? 0.6 : 0.6 * c.uEnd);  // a loop in u scaled by 4
        EXPECT_DOUBLE_EQ(r.umax, r.loops[0].points[1].x);
        EXPECT_DOUBLE_EQ(r.surface.vKnots[0], c.vMoves ? 0.0 : 1.0);
        EXPECT_DOUBLE_EQ(r.vmin, c.vMoves ? 0.5 : loop[0].y);
        // A surface without loops keeps its empty box.
        EXPECT_EQ(list->entries[1].umin, DBL_MAX);
        EXPECT_EQ(list->entries[1].vmax, -DBL_MAX);
        EXPECT_EQ(freeSurfList(list), 1);
    }
    EXPECT_EQ(freeSurfList(nullptr), 1);
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
    kvxInitTrimSurface(nullptr);
    kvxFreeTrimSurface(nullptr);
    bsplSurfaceFree(nullptr);
    trimSurfaceUpdateBox(nullptr);
    normSurfListKnots(nullptr);
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
    EXPECT_EQ(parseXyzTriple(nullptr, &q), -1);
    EXPECT_EQ(parseXyzTriple("1,2", &q), -1);
    EXPECT_EQ(kvxContourAddArc(nullptr, 0.1, &a, &b, 0, &a, 1), 0);
    EXPECT_EQ(kvxContourToFrame(nullptr, 0, 1), nullptr);
    EXPECT_EQ(parseXyPair(nullptr, x), 0);
    EXPECT_EQ(parseXyPair("12", x), 0);  // no separator
    EXPECT_EQ(writeBoundaryFromFile("", &w, &w), -1);
    int32_t lines = 0;
    EXPECT_EQ(bnd_read("", nullptr, 0, &lines), -1);
    EXPECT_EQ(pointSetsReserve(nullptr, 0), 0);
    EXPECT_EQ(pointSetsGet(nullptr, 0, 0, &q), 0);
    EXPECT_EQ(polyNodeAddFacet(nullptr, &p, 3), 0);
    EXPECT_EQ(stl_read(""), nullptr);
    EXPECT_EQ(stl_is_binary(nullptr), -1);
    EXPECT_EQ(revMeshSegment(&a, &b, nullptr, 0.1), -1);
    EXPECT_EQ(revMeshSweep(nullptr, 2, 0.1), nullptr);
    EXPECT_EQ(isoFileCountBnd(nullptr), -1);
    EXPECT_EQ(isoWriteBnd(nullptr, "x.bnd"), 0);
    EXPECT_EQ(LESE_KONTUREN(nullptr, nullptr), -1);
    EXPECT_EQ(isoParamsTwoSided(&plane.rec, 0, 0.1, nullptr), -1);
}
