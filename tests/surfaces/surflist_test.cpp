#include "surfaces/surflist.h"

#include <gtest/gtest.h>

#include <cfloat>

#include "surf_fixtures.h"

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
