#include "surfaces/facet.h"

#include <gtest/gtest.h>

#include <cmath>

#include "surf_fixtures.h"

namespace {

struct RecGuard {
    TrimSurface rec;
    ~RecGuard() { kvxFreeTrimSurface(&rec); }
};

}  // namespace

// The reported area is twice the geometric one.
TEST(Facet, AreaAgainstClosedForms) {
    struct Case {
        const char* what;
        int shape;  // 0 plane 10 x 10, 1 the plane trimmed to a disc r = 4, 2 cylinder R 50 x 30
        double tol, area;
        int passLimit;
    };
    const Case cases[] = {
        {"untrimmed patch 0.5", 0, 0.5, 200, 4},    {"untrimmed patch 0.6", 0, 0.6, 200, 2},
        {"disc 0.6", 1, 0.6, 2 * M_PI * 16, 2},     {"disc 0.05", 1, 0.05, 2 * M_PI * 16, 6},
        {"disc 0.001", 1, 0.001, 2 * M_PI * 16, 8}, {"cylinder", 2, 1.0, 2 * 2 * M_PI * 50 * 30, 2},
    };
    for (const Case& c : cases) {
        RecGuard g;
        if (c.shape == 2) {
            makeCylinder(&g.rec, 50, 30);
        } else {
            makePlane(&g.rec, 10, 10, 3);
        }
        if (c.shape == 1) {
            Vec2 disc[64];
            for (int i = 0; i < 64; ++i)
                disc[i] = {0.5 + 0.4 * std::cos(i * M_PI / 32), 0.5 + 0.4 * std::sin(i * M_PI / 32)};
            ASSERT_EQ(trimSurfaceAddLoop(&g.rec, disc, 64), 1);
        }
        double area = 0, rel = -1;
        ASSERT_EQ(facetSurface(&g.rec, c.tol, &area, &rel), 1) << c.what;
        const FacetStats* st = facetLastStats();
        EXPECT_EQ(st->passLimit, c.passLimit) << c.what;
        if (c.shape == 1) {
            // The 64-gon's own area, within the estimate's own error bound.
            const double polygon = 2 * 0.5 * 64 * 16 * std::sin(M_PI / 32);
            EXPECT_NEAR(area, polygon, rel * area + 1e-9) << c.what;
            EXPECT_GT(rel, 0.0);
            EXPECT_LT(rel, c.tol < 0.01 ? 0.02 : 0.4) << c.what;
        } else {
            // Cells are flat within tol: the chords of the cylinder lose a little.
            EXPECT_NEAR(area, c.area, (c.shape == 2 ? 3e-4 : 1e-6) * c.area) << c.what;
            EXPECT_EQ(rel, 0.0) << c.what;
            EXPECT_EQ(st->passesRun, 0);
        }
    }
}

TEST(Facet, RefusesToleranceThatCannotConverge) {
    RecGuard g;
    makePlane(&g.rec, 10, 10, 0);
    double area = 5, rel = 5;
    for (double tol : {0.0, -0.1, double(NAN)}) EXPECT_EQ(facetSurface(&g.rec, tol, &area, &rel), -1) << tol;
    // A loop lying outside the surface's parameter box leaves no cell.
    const Vec2 away[] = {{5, 5}, {6, 5}, {6, 6}};
    ASSERT_EQ(trimSurfaceAddLoop(&g.rec, away, 3), 1);
    g.rec.umin = 0, g.rec.vmin = 0, g.rec.umax = 1, g.rec.vmax = 1;
    EXPECT_EQ(facetSurface(&g.rec, 0.1, &area, &rel), 0);
}
