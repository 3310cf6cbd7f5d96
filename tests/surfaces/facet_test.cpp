#include "surfaces/facet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <utility>
#include <vector>

#include "surf_fixtures.h"
#include "surfaces/nurbs.h"

// The reported area is twice the geometric one.
TEST(Facet, AreaAgainstClosedForms) {
    struct Case {
        const char* what;
        int shape;  // 0 plane 10 x 10, 1 the plane trimmed to a 64-gon r = 4, 2 cylinder R 50 x 30, 3 a thin
                    // strip
        double tol;
        int passLimit;
    };
    const Case cases[] = {
        {"untrimmed patch 0.5", 0, 0.5, 4}, {"untrimmed patch 0.6", 0, 0.6, 2},   {"disc 0.6", 1, 0.6, 2},
        {"disc 0.05", 1, 0.05, 6},          {"disc 0.001", 1, 0.001, 8},          {"cylinder", 2, 1.0, 2},
        {"strip 0.6", 3, 0.6, 2},           {"disc with two holes", 4, 0.001, 8},
    };
    for (const Case& c : cases) {
        RecGuard g;
        if (c.shape == 2) {
            makeCylinder(&g.rec, 50, 30);
        } else {
            makePlane(&g.rec, 10, 10, 3);
        }
        std::vector<Vec2> loop;
        if (c.shape == 1)
            for (int i = 0; i < 64; ++i)
                loop.push_back({0.5 + 0.4 * std::cos(i * M_PI / 32), 0.5 + 0.4 * std::sin(i * M_PI / 32)});
        if (c.shape == 3) loop = {{0.1, 0.1}, {0.9, 0.88}, {0.9, 0.9}, {0.1, 0.12}};
        // The outer loop first, then holes; each hole's area is taken away.
        std::vector<std::vector<Vec2>> holes;
        if (c.shape == 4) {
            for (int i = 0; i < 64; ++i)
                loop.push_back({0.5 + 0.45 * std::cos(i * M_PI / 32), 0.5 + 0.45 * std::sin(i * M_PI / 32)});
            holes = {{{0.2, 0.25}, {0.2, 0.5}, {0.45, 0.5}, {0.45, 0.25}},
                     {{0.55, 0.55}, {0.55, 0.8}, {0.8, 0.8}}};
        }
        if (!loop.empty()) {
            ASSERT_EQ(trimSurfaceAddLoop(&g.rec, loop.data(), static_cast<int32_t>(loop.size())), 1);
        }
        for (const auto& h : holes) {
            ASSERT_EQ(trimSurfaceAddLoop(&g.rec, h.data(), static_cast<int32_t>(h.size())), 1);
        }
        double area = 0, rel = -1;
        ASSERT_EQ(facetSurface(&g.rec, c.tol, &area, &rel), 1) << c.what;
        const FacetStats* st = facetLastStats();
        EXPECT_EQ(st->passLimit, c.passLimit) << c.what;
        if (!loop.empty()) {
            // The trim polygon's own area (shoelace, 10 mm per parameter unit), within the estimate's bound.
            auto shoelace = [](const std::vector<Vec2>& l) {
                double a = 0;
                for (size_t i = 0; i < l.size(); ++i) {
                    const Vec2 &p = l[i], &q = l[(i + 1) % l.size()];
                    a += 100 * (p.x * q.y - q.x * p.y);
                }
                return std::fabs(a);
            };
            double polygon = shoelace(loop);
            for (const auto& h : holes) polygon -= shoelace(h);
            EXPECT_NEAR(area, polygon, rel * area + 1e-9) << c.what;
            EXPECT_GT(rel, 0.0);
            EXPECT_LT(rel, c.shape == 3 ? 1.0 : c.shape == 4 ? 0.04 : c.tol < 0.01 ? 0.02 : 0.4) << c.what;
            EXPECT_EQ(st->passesRun > 0, c.shape == 3) << c.what;  // only the boundary-heavy strip is refined
        } else {
            // Cells are flat within tol: the chords of the cylinder lose a little.
            const double exact = c.shape == 2 ? 2 * 2 * M_PI * 50 * 30 : 200;
            EXPECT_NEAR(area, exact, (c.shape == 2 ? 3e-4 : 1e-6) * exact) << c.what;
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
    // Nor can a surface without knots or with a single control point in a direction be measured.
    RecGuard bad;
    makePlane(&bad.rec, 10, 10, 0);
    bad.rec.surface.vNum = 1;
    EXPECT_EQ(facetSurface(&bad.rec, 0.1, &area, &rel), -1);
    bad.rec.surface.vNum = 2;
    double* knots = bad.rec.surface.uKnots;
    bad.rec.surface.uKnots = nullptr;
    EXPECT_EQ(facetSurface(&bad.rec, 0.1, &area, &rel), -1);
    bad.rec.surface.uKnots = knots;
    // A loop lying outside the surface's parameter box leaves no cell.
    const Vec2 away[] = {{5, 5}, {6, 5}, {6, 6}};
    ASSERT_EQ(trimSurfaceAddLoop(&g.rec, away, 3), 1);
    g.rec.umin = 0, g.rec.vmin = 0, g.rec.umax = 1, g.rec.vmax = 1;
    EXPECT_EQ(facetSurface(&g.rec, 0.1, &area, &rel), 0);

    // A point that cannot be evaluated fails the measure, also when only the boundary passes reach
    // it: a knot span of 8e-9 at u = 0.5 lies between the points of the first cover (sixths of the
    // trimmed box) and its thirds (sides below the tolerance: no midpoint taken), on their halves.
    RecGuard gap;
    kvxInitTrimSurface(&gap.rec);
    ASSERT_EQ(bsplSurfaceAlloc(&gap.rec.surface, 2, 2, 4, 2, 0), 1);
    BsplSurface& s = gap.rec.surface;
    const double uk[] = {0, 0, 0.5 - 4e-9, 0.5 + 4e-9, 1, 1}, vk[] = {0, 0, 1, 1};
    std::copy(std::begin(uk), std::end(uk), s.uKnots);
    std::copy(std::begin(vk), std::end(vk), s.vKnots);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 2; ++j) s.rows[i][j] = {10 * uk[i + 1], 10.0 * j, 0};
    std::vector<Vec2> disc;
    for (int i = 0; i < 32; ++i)
        disc.push_back({0.5 + 0.25 * std::cos(i * M_PI / 16), 0.5 + 0.25 * std::sin(i * M_PI / 16)});
    ASSERT_EQ(trimSurfaceAddLoop(&gap.rec, disc.data(), 32), 1);
    EXPECT_EQ(facetSurface(&gap.rec, 0.6, &area, &rel), -1);
}

// A measure taken after others (the cell lists kept between calls) equals the same measure taken alone.
TEST(Facet, MeasuresInARowEqualEachMeasureAlone) {
    RecGuard cyl, disc;
    makeCylinder(&cyl.rec, 50, 30);
    makePlane(&disc.rec, 10, 10, 3);
    const std::vector<Vec2> loop{{0.1, 0.2}, {0.9, 0.1}, {0.8, 0.9}, {0.5, 0.6}, {0.2, 0.8}};
    ASSERT_EQ(trimSurfaceAddLoop(&disc.rec, loop.data(), static_cast<int32_t>(loop.size())), 1);
    const std::pair<TrimSurface*, double> row[] = {
        {&cyl.rec, 0.05}, {&disc.rec, 0.01}, {&cyl.rec, 0.2}, {&disc.rec, 0.05}, {&cyl.rec, 0.05}};
    double kept[std::size(row)][2], alone[2];
    for (size_t k = 0; k < std::size(row); ++k)
        ASSERT_EQ(facetSurface(row[k].first, row[k].second, &kept[k][0], &kept[k][1]), 1);
    for (size_t k = 0; k < std::size(row); ++k) {
        facetReleaseScratch();
        ASSERT_EQ(facetSurface(row[k].first, row[k].second, &alone[0], &alone[1]), 1);
        EXPECT_TRUE(alone[0] == kept[k][0] && alone[1] == kept[k][1]) << k;
    }
}

// A curved surface refined by curvature and then by boundary passes: a strip of the cylinder between
// u = 0.1 and 0.9 whose height v spans 0.02 at every u has the area h 0.02 R (theta(0.9) - theta(0.1)).
TEST(Facet, BoundaryPassesAfterCurvatureRefinement) {
    for (const double tol : {0.6, 0.3, 0.1}) {
        RecGuard g;
        makeCylinder(&g.rec, 50, 30);
        const std::vector<Vec2> loop{{0.1, 0.1}, {0.9, 0.88}, {0.9, 0.9}, {0.1, 0.12}};
        ASSERT_EQ(trimSurfaceAddLoop(&g.rec, loop.data(), static_cast<int32_t>(loop.size())), 1);
        double area = 0, rel = -1;
        ASSERT_EQ(facetSurface(&g.rec, tol, &area, &rel), 1) << tol;
        EXPECT_GT(facetLastStats()->passesRun, 0) << tol;
        Vec3 a, b;
        ASSERT_GE(nurbsSurfPoint(&g.rec, 0.1, 0, &a), 0);
        ASSERT_GE(nurbsSurfPoint(&g.rec, 0.9, 0, &b), 0);
        const double turn = std::atan2(b.y, b.x) + 2 * M_PI - std::atan2(a.y, a.x);
        const double exact = 2 * 30 * 0.02 * 50 * turn;
        EXPECT_NEAR(area, exact, rel * area + 1e-9) << tol;
        EXPECT_LT(rel, 0.2) << tol;
    }
}

// The first cover: n = max(trunc(-10 log10 tol), 2) cells of the knot range per direction, laid over
// the trimmed box (the knot range without loops) in trunc(box / cell) + 2 even columns and rows.
TEST(Facet, FirstCoverFollowsTheToleranceAndTheTrimmedBox) {
    struct Case {
        double tol;
        double u0, u1, v0, v1;  // the loop's box; 0 0 0 0: untrimmed
        int columns, rows;
    };
    const Case cases[] = {
        {0.15, 0.25, 0.75, 0.125, 0.5, 6, 5},  // level 8: cells of 0.125
        {0.05, 0, 0, 0, 0, 15, 15},            // level 13 over the whole range
        {0.6, 0, 0, 0, 0, 4, 4},               // level 2
        {2.0, 0.5, 1.0, 0.0, 0.25, 3, 2},      // level -3 taken as 2
        {0.09, 0.0, 0.3125, 0.5, 1.0, 5, 7},   // level 10: 0.3125 / 0.1 = 3.125
    };
    for (const Case& c : cases) {
        RecGuard g;
        makePlane(&g.rec, 1, 1, 0);
        if (c.u1 > 0) {
            const Vec2 loop[] = {{c.u0, c.v0}, {c.u1, c.v0}, {c.u1, c.v1}, {c.u0, c.v1}};
            ASSERT_EQ(trimSurfaceAddLoop(&g.rec, loop, 4), 1);
        }
        double area = 0, rel = -1;
        ASSERT_EQ(facetSurface(&g.rec, c.tol, &area, &rel), 1) << c.tol;
        EXPECT_EQ(facetLastStats()->initialCells, c.columns * c.rows) << c.tol;
        // The trim rectangle's area, twice (the cells' corners lie on its sides at worst; the range's ends
        // are evaluated 1e-8 inside).
        const double want = c.u1 > 0 ? 2 * (c.u1 - c.u0) * (c.v1 - c.v0) : 2 * (1 - 2e-8) * (1 - 2e-8);
        EXPECT_NEAR(area, want, rel * want + 1e-12) << c.tol;
    }
    // Knots 0 1 2 3 of order 2: the cells span the knot range 0..3 in n = 2 (1.5 each), laid over the
    // parameters of the surface, 1..2: trunc(1 / 1.5) + 2 = 2 columns and rows.
    RecGuard g;
    makePlane(&g.rec, 1, 1, 0);
    for (int k = 0; k < 4; ++k) g.rec.surface.uKnots[k] = g.rec.surface.vKnots[k] = k;
    double area = 0, rel = -1;
    ASSERT_EQ(facetSurface(&g.rec, 0.6, &area, &rel), 1);
    EXPECT_EQ(facetLastStats()->initialCells, 4);
    EXPECT_NEAR(area, 2.0, 1e-7);
    // Knots 2 2 3 3: cells of 1/8 at level 8, whatever the range's start.
    for (int k = 0; k < 4; ++k) g.rec.surface.uKnots[k] = g.rec.surface.vKnots[k] = k < 2 ? 2 : 3;
    ASSERT_EQ(facetSurface(&g.rec, 0.15, &area, &rel), 1);
    EXPECT_EQ(facetLastStats()->initialCells, 10 * 10);
}

// Principal curvatures are the roots k of det(II - k I) = 0: for the unit first form the eigenvalues
// of the second; a first form scaled in u scales the curvatures along u.
TEST(Facet, PrincipalCurvaturesAreTheRootsOfTheFormPencil) {
    const struct {
        double E, F, G, L, M, N;
        double k1, k2;  // in either order
    } cases[] = {
        {1, 0, 1, 0, 1, 0, 1, -1},      {1, 0, 1, 2, 1, 2, 3, 1}, {1, 0, 1, 3, 2, 0, 4, -1},
        {4, 0, 1, 4, 0, 1, 1, 1},       {2, 1, 2, 2, 1, 2, 1, 1}, {4, 0, 1, 0, 2, 0, 1, -1},
        {1, 0, 1, -2, 0, 0.5, 0.5, -2},
    };
    for (const auto& c : cases) {
        double k1 = 7, k2 = 7;
        ASSERT_EQ(curvatureFromDerivs(c.E, c.F, c.G, c.L, c.M, c.N, &k1, &k2), 1);
        const double lo = std::min(k1, k2), hi = std::max(k1, k2);
        EXPECT_NEAR(lo, std::min(c.k1, c.k2), 1e-12) << c.L << " " << c.M << " " << c.N;
        EXPECT_NEAR(hi, std::max(c.k1, c.k2), 1e-12) << c.L << " " << c.M << " " << c.N;
    }
}
