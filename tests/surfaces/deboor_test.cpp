#include "surfaces/deboor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "kernel/base/abort.h"
#include "kernel/base/msg.h"
#include "surf_fixtures.h"
#include "surfaces/geofiletest.h"
#include "surfaces/nurbs.h"

namespace {

int gAbortAfter = 0;
int abortCountdown() {
    return --gAbortAfter <= 0 ? 1 : 0;
}

}  // namespace

// Nothing is traced on the way: every span is well formed and every weight sum far from zero.
TEST(DeBoor, RationalCylinderIsExactWithRadialUnitNormals) {
    MessageLog log;
    setMessageLevel(nullptr, 9 | kMsgTraceBit);
    RecGuard g;
    makeCylinder(&g.rec, 50, 30);
    std::mt19937 rng(50);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 500; ++i) {
        const double u = unit(rng), v = unit(rng);
        Vec3 p, n;
        ASSERT_EQ(evalNurbsSurfPoint(&g.rec.surface, u, v, &p), 1);
        ASSERT_EQ(evalNurbsSurfDeriv(&g.rec.surface, u, v, nullptr, nullptr, &n), 1);
        EXPECT_NEAR(std::hypot(p.x, p.y), 50.0, 1e-12);
        EXPECT_NEAR(p.z, 30 * v, 1e-12);
        EXPECT_NEAR(vecLen3D(&n), 1.0, 1e-12);
        // Radial: parallel to (x, y, 0), either sense.
        EXPECT_NEAR(std::fabs(n.x * p.x + n.y * p.y) / 50.0, 1.0, 1e-9);
        EXPECT_NEAR(n.z, 0.0, 1e-12);
    }
    EXPECT_EQ(log.count(kMsgPrintfNumber), 0);
}

TEST(DeBoor, ParametersArePulledWrappedOrRefused) {
    RecGuard g;
    makeCylinder(&g.rec, 50, 30);
    BsplSurface& s = g.rec.surface;
    // Same point as `same`; NaN: refused (-1, output untouched).
    const double cases[][3] = {{0, -3.0, 1e-8}, {0, 7.0, 1.0 - 1e-8}, {1, -0.25, 0.75},
                               {1, 1.25, 0.25}, {1, -7.75, 0.25},     {0, NAN, NAN}};
    for (const auto& c : cases) {
        s.periodicU = static_cast<int32_t>(c[0]);
        Vec3 a{7, 7, 7}, b{7, 7, 7};
        const int expect = std::isnan(c[1]) ? -1 : 1;
        ASSERT_EQ(evalNurbsSurfPoint(&s, c[1], 0.5, &a), expect);
        ASSERT_EQ(evalNurbsSurfDeriv(&s, 0.5, c[1], &b, nullptr, nullptr), expect);
        if (expect > 0) {
            ASSERT_EQ(evalNurbsSurfPoint(&s, c[2], 0.5, &b), 1);
        }
        EXPECT_LT(maxDiff(a, b), 1e-9) << c[1];
    }
    Vec3 p{7, 7, 7};
    EXPECT_EQ(evalNurbsSurfPoint(&s, 0.5, 0.5, nullptr), -1);  // nowhere to put the point
    // NaN refused in v as well.
    EXPECT_TRUE(evalNurbsSurfPoint(&s, 0.5, NAN, &p) == -1 && p.x == 7);
    s.periodicU = 1, s.uKnots[9] = 0.0;  // period 0 would never wrap
    EXPECT_EQ(evalNurbsSurfPoint(&s, -0.5, 0.5, &p), -1);
    std::mt19937 rng(1);
    for (int order : {49, 50}) {
        RecGuard big;
        makeRandomSurface(&big.rec, rng, order, 2, order, 2, false);
        EXPECT_EQ(evalNurbsSurfPoint(&big.rec.surface, 0.5, 0.5, &p), order < 50 ? 1 : -1);
        EXPECT_EQ(evalNurbsSurfDeriv(&big.rec.surface, 0.5, 0.5, &p, nullptr, nullptr), order < 50 ? 1 : -1);
    }
    // Nor is a surface of an order below 2, or missing its knots, rows or weights, in either direction,
    // by either evaluator: each lack alone is enough.
    using Break = void (*)(BsplSurface*);
    const Break breaks[] = {
        [](BsplSurface* b) { b->uOrder = 1; },        [](BsplSurface* b) { b->vOrder = 1; },
        [](BsplSurface* b) { b->uKnots = nullptr; },  [](BsplSurface* b) { b->vKnots = nullptr; },
        [](BsplSurface* b) { b->rows = nullptr; },    [](BsplSurface* b) { b->rows[0] = nullptr; },
        [](BsplSurface* b) { b->weights = nullptr; }, [](BsplSurface* b) { b->weights[0] = nullptr; }};
    for (size_t k = 0; k < std::size(breaks); ++k) {
        RecGuard bad;
        makeCylinder(&bad.rec, 2, 3);
        BsplSurface& b = bad.rec.surface;
        const BsplSurface kept = b;
        Vec3* const row0 = b.rows[0];
        double* const weight0 = b.weights[0];
        breaks[k](&b);
        EXPECT_EQ(evalNurbsSurfPoint(&b, 0.5, 0.5, &p), -1) << k;
        EXPECT_EQ(evalNurbsSurfDeriv(&b, 0.5, 0.5, &p, nullptr, nullptr), -1) << k;
        EXPECT_EQ(nurbsSurfEval(&b, 0.5, 0.5, &p), -1) << k;
        b = kept, b.rows[0] = row0, b.weights[0] = weight0;
    }
}

TEST(DeBoor, DegenerateCornerHasTheZeroNormal) {
    RecGuard g;
    makePlane(&g.rec, 6, 8, 0);
    g.rec.surface.rows[1][0] = g.rec.surface.rows[0][0];  // the edge v = 0 collapses to a point
    Vec3 n{7, 7, 7};
    ASSERT_EQ(evalNurbsSurfDeriv(&g.rec.surface, 0.0, 0.0, nullptr, nullptr, &n), 1);
    EXPECT_EQ(vecLen3D(&n), 0.0);
    ASSERT_EQ(evalNurbsSurfDeriv(&g.rec.surface, 0.5, 0.5, nullptr, nullptr, &n), 1);
    EXPECT_NEAR(std::fabs(n.z), 1.0, 1e-12);
}

// A u span shorter than 1e-6 gives a zero derivative; only a rational surface traces it.
TEST(DeBoor, ShortSpanIsTracedOnRationalSurfacesOnly) {
    for (const bool rational : {false, true}) {
        MessageLog log;
        setMessageLevel(nullptr, 9 | kMsgTraceBit);
        RecGuard g;
        std::mt19937 rng(3);
        makeRandomSurface(&g.rec, rng, 2, 2, 3, 2, rational);
        g.rec.surface.uKnots[2] = 1e-7;
        Vec3 du{7, 7, 7};
        ASSERT_EQ(evalNurbsSurfDeriv(&g.rec.surface, 5e-8, 0.5, &du, nullptr, nullptr), 1);
        EXPECT_EQ(vecLen3D(&du), 0.0);
        EXPECT_EQ(log.count(kMsgPrintfNumber) > 0, rational) << rational;
    }
}

TEST(DeBoor, ClosestPointOnCylinder) {
    RecGuard g;
    makeCylinder(&g.rec, 50, 30);
    std::mt19937 rng(55);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 20; ++i) {
        const double a = 2 * M_PI * unit(rng), z = 5 + 20 * unit(rng), r = i % 2 ? 55 : 45;
        const Vec3 target{r * std::cos(a), r * std::sin(a), z};
        SurfFoot foot;
        double d = 0;
        ASSERT_EQ(projectPointNurbsSurf(&g.rec, nullptr, &target, &foot, &d), 1);
        EXPECT_NEAR(d, 5.0, 1e-3) << i;
        EXPECT_NEAR(std::hypot(foot.point.x, foot.point.y), 50.0, 1e-9);
        EXPECT_NEAR(foot.point.z, z, 1e-3);
        EXPECT_NEAR(dist3D(&foot.point, &target), d, 1e-12);
    }
    // A target beyond the surface's end: the foot stays on the boundary, its parameters inside.
    const Vec3 beyond{60, 0, 80};
    SurfFoot foot;
    double d = 0;
    ASSERT_EQ(projectPointNurbsSurf(&g.rec, nullptr, &beyond, &foot, &d), 1);
    EXPECT_LE(foot.v, 1.0);
    EXPECT_NEAR(foot.point.z, 30, 1e-6);
    EXPECT_NEAR(d, std::hypot(10, 50), 1e-3);
}

TEST(DeBoor, AbortDuringSearchReturnsMinusOne) {
    RecGuard g;
    makeCylinder(&g.rec, 50, 30);
    const Vec3 target{0, 55, 10};
    const SurfFoot start{0.0, 0.2, {50, 0, 6}}, bad{NAN, 0.2, {50, 0, 6}};
    SurfFoot foot{};
    double d = -1;
    gAbortAfter = 3;
    setAbortHook(abortCountdown);
    EXPECT_EQ(projectPointNurbsSurf(&g.rec, &start, &target, &foot, &d), -1);
    setAbortHook(nullptr);
    EXPECT_EQ(d, -1.0);
    EXPECT_EQ(projectPointNurbsSurf(nullptr, &start, &target, &foot, &d), 0);
    EXPECT_EQ(projectPointNurbsSurf(&g.rec, &bad, &target, &foot, &d), -1);
    // Near the axis each step turns the foot by about r / R of the angle left: 0.05 mm off it, a quarter
    // turn takes far more than the 1000 steps the search allows, looking at the hook once a step.
    const Vec3 axis{0.05, 0, 10};
    const SurfFoot quarter{0.25, 0.2, {0, 50, 6}};
    gAbortAfter = 1 << 20;
    setAbortHook(abortCountdown);
    EXPECT_EQ(projectPointNurbsSurf(&g.rec, &quarter, &axis, &foot, &d), 1);
    setAbortHook(nullptr);
    EXPECT_EQ((1 << 20) - gAbortAfter, 1000);
    EXPECT_NEAR(d, dist3D(&axis, &foot.point), 1e-12);
}

// On a plane the tangent plane is the surface: one step reaches a target on it whichever way it lies,
// before a second look at the abort hook; so too on the plane turned 45 degrees about z, where both
// derivatives have x and y.
TEST(DeBoor, OnAPlaneOneStepReachesATargetOnIt) {
    RecGuard g;
    makePlane(&g.rec, 10, 20, 3);
    const auto turn = [](const Vec3& p, bool on) { return on ? Vec3{p.x - p.y, p.x + p.y, p.z} : p; };
    const Vec3 targets[] = {{8, 17, 3}, {1, 17, 3}, {8, 2, 3}, {1, 2, 3}};
    for (const bool turned : {false, true}) {
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) g.rec.surface.rows[i][j] = turn(g.rec.surface.rows[i][j], turned);
        const SurfFoot start{0.5, 0.5, turn({5, 10, 3}, turned)};
        for (const Vec3& t : targets) {
            SurfFoot foot{};
            double d = -1;
            gAbortAfter = 2;
            setAbortHook(abortCountdown);
            const Vec3 at = turn(t, turned);
            EXPECT_EQ(projectPointNurbsSurf(&g.rec, &start, &at, &foot, &d), 1) << t.x << " " << t.y;
            setAbortHook(nullptr);
            EXPECT_NEAR(foot.u, t.x / 10, 1e-12) << turned;
            EXPECT_NEAR(foot.v, t.y / 20, 1e-12) << turned;
            EXPECT_LT(d, 1e-9);
        }
    }
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) g.rec.surface.rows[i][j] = {10.0 * i, 20.0 * j, 3};  // turned back
    // A target whose projection lies 1e-6 exactly from the start is still stepped to; a nearer one is
    // taken as reached.
    const SurfFoot corner{0.0, 0.0, {0, 0, 3}};
    SurfFoot foot{};
    double d = -1;
    for (const double x : {1e-6, 5e-7}) {
        const Vec3 near{x, 0, 7};
        ASSERT_EQ(projectPointNurbsSurf(&g.rec, &corner, &near, &foot, &d), 1);
        EXPECT_NEAR(foot.point.x, x < 1e-6 ? 0.0 : x, 1e-9);
        EXPECT_NEAR(d, 4.0, 1e-9);
    }
    // A plane only 5e-12 wide along one parameter is stepped across along that one too; 5e-13 wide, it
    // has no derivative there and the start is kept.
    for (const double w : {5e-12, 5e-13})
        for (const bool thinU : {false, true}) {
            RecGuard thin;
            makePlane(&thin.rec, thinU ? w : 10, thinU ? 10 : w, 0);
            const SurfFoot mid{0.5, 0.5, {thinU ? w / 2 : 5, thinU ? 5 : w / 2, 0}};
            const Vec3 to{thinU ? 0.8 * w : 8, thinU ? 8 : 0.8 * w, 0};
            ASSERT_EQ(projectPointNurbsSurf(&thin.rec, &mid, &to, &foot, &d), 1);
            const double want = w > 1e-12 ? 0.8 : 0.5;
            EXPECT_LT(std::fabs(foot.u - want) + std::fabs(foot.v - want), 1e-9) << thinU << " " << w;
        }
}

TEST(DeBoor, GridStartUsesTheFirstLoopOrTheKnotRange) {
    RecGuard g;
    makeCylinder(&g.rec, 50, 30);
    // Without loops the grid spans the knot range in 12 x 4 samples: aim just off one of them.
    Vec3 target;
    ASSERT_EQ(evalNurbsSurfPoint(&g.rec.surface, 5.0 / 11, 1.0 / 3, &target), 1);
    target.x *= 1.1, target.y *= 1.1;
    SurfFoot foot;
    ASSERT_EQ(surfClosestGridPoint(&g.rec, &target, &foot), 1);
    EXPECT_NEAR(foot.u, 5.0 / 11, 1e-15);
    EXPECT_NEAR(foot.v, 1.0 / 3, 1e-15);
    target = {-50, 0, 15};                                                  // u = 0.5, outside the loop below
    const Vec2 loop[] = {{0.3, 0.5}, {0.0, 1.0}, {0.0, 0.0}, {0.25, 0.0}};  // the first point alone at 0.3
    ASSERT_EQ(trimSurfaceAddLoop(&g.rec, loop, 4), 1);
    ASSERT_EQ(surfClosestGridPoint(&g.rec, &target, &foot), 1);
    EXPECT_NEAR(foot.u, 0.29, 1e-12);  // the loop's box less 0.01
    // A plane patch's 4 x 4 samples, its edges included: a point above each sample finds that sample.
    RecGuard plane;
    makePlane(&plane.rec, 30, 12, 2);
    for (double* k : {plane.rec.surface.uKnots, plane.rec.surface.vKnots})
        k[0] = -1, k[3] = 2;  // range 0..1 still
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            const Vec3 above{10.0 * i + 0.4, 4.0 * j - 0.3, 7};
            ASSERT_EQ(surfClosestGridPoint(&plane.rec, &above, &foot), 1);
            EXPECT_EQ(foot.u * 3 + foot.v * 30, i + 10 * j) << i << " " << j;
            EXPECT_NEAR(foot.point.x + foot.point.y + foot.point.z, 10.0 * i + 4.0 * j + 2,
                        1e-6);  // ends 1e-8 in
        }
}

// A row of points at one v equals the points taken one by one, bit for bit: seeded surfaces of
// orders 2 to 7 (rational or not, periodic in u or not), parameters in the same span in runs, on
// knots, outside the range, and a parameter that is not finite (refused, as one by one).
TEST(DeBoor, PointsAtOneVAreThePointsOneByOne) {
    std::mt19937 rng(108);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 200; ++round) {
        RecGuard g;
        const int uOrder = 2 + round % 6, vOrder = 2 + (round / 6) % 6;
        makeRandomSurface(&g.rec, rng, uOrder, vOrder, uOrder + 1 + round % 9, vOrder + 2, round % 3 == 0);
        BsplSurface& s = g.rec.surface;
        s.periodicU = round % 5 == 4;
        std::vector<double> us(1 + rng() % 60);
        for (size_t k = 0; k < us.size(); ++k) {
            const int kind = static_cast<int>(rng() % 8);
            us[k] = kind == 0   ? s.uKnots[rng() % (s.uNum + s.uOrder)]
                    : kind == 1 ? -0.5 + 2 * unit(rng)
                    : k > 0     ? us[k - 1] + 0.01 * unit(rng)
                                : unit(rng);
        }
        const bool refuse = round % 17 == 16;
        if (refuse) us[rng() % us.size()] = NAN;
        const double v = round % 7 == 0 ? s.vKnots[s.vOrder] : -0.1 + 1.2 * unit(rng);
        std::vector<Vec3> row(us.size());
        const int rc = evalNurbsSurfPointsAtV(&s, us.data(), static_cast<int32_t>(us.size()), v, row.data());
        ASSERT_EQ(rc, refuse ? -1 : 1) << round;
        for (size_t k = 0; !refuse && k < us.size(); ++k) {
            Vec3 one{};
            ASSERT_EQ(evalNurbsSurfPoint(&s, us[k], v, &one), 1);
            EXPECT_EQ(std::memcmp(&one, &row[k], sizeof one), 0) << round << " " << k;
        }
    }
}

// A rational triangle whose weight falls below 1e-5 gives the point 0, and so the columns the
// derivatives are taken from; above, equal weights give the plain point and derivatives.
TEST(DeBoor, WeightsBelow1e5GiveThePointZero) {
    for (const double w : {5e-6, 2e-5, 1.0}) {
        RecGuard g;
        makePlane(&g.rec, 4, 2, 3);
        BsplSurface& s = g.rec.surface;
        s.rational = s.rational2 = 1;
        s.weights = static_cast<double**>(std::calloc(2, sizeof(double*)));
        s.weights[0] = static_cast<double*>(std::calloc(4, sizeof(double)));
        s.weights[1] = s.weights[0] + 2;
        for (int k = 0; k < 4; ++k) s.weights[0][k] = w;
        Vec3 p{};
        ASSERT_EQ(evalNurbsSurfPoint(&s, 0.5, 0.25, &p), 1);
        const Vec3 want = w < 1e-5 ? Vec3{0, 0, 0} : Vec3{2, 0.5, 3};
        EXPECT_LT(maxDiff(p, want), 1e-9) << w;
        Vec3 su{}, sv{}, n{};
        ASSERT_EQ(evalNurbsSurfDeriv(&s, 0.5, 0.25, &su, &sv, &n), 1);
        const double f = w < 1e-5 ? 0.0 : 1.0;
        EXPECT_LT(maxDiff(su, {4 * f, 0, 0}), 1e-6) << w;
        EXPECT_LT(maxDiff(sv, {0, 2 * f, 0}), 1e-6) << w;
        EXPECT_LT(maxDiff(n, {0, 0, f}), 1e-9) << w;
        if (w != 1.0) continue;
        // At a corner of weight 0 the weight sum vanishes: the derivatives there are 0, not a quotient.
        s.weights[0][0] = 0.0;
        ASSERT_EQ(evalNurbsSurfDeriv(&s, 0.0, 0.0, &su, &sv, nullptr), 1);
        EXPECT_EQ(maxDiff(su, {0, 0, 0}) + maxDiff(sv, {0, 0, 0}), 0.0);
    }
}

// A knot span of 5e-8 is still a span: a point inside it lies between its two control points as far
// as its parameter lies between the span's knots (plain triangles and rational ones, in u and in v).
TEST(DeBoor, KnotSpansAbove1e8AreInterpolatedAcross) {
    const double k4[] = {0, 0, 0.5, 0.5 + 5e-8, 1, 1}, k2[] = {0, 0, 1, 1};
    for (const int rational : {0, 1})
        for (const bool inV : {false, true}) {
            RecGuard g;
            kvxInitTrimSurface(&g.rec);
            BsplSurface& s = g.rec.surface;
            ASSERT_EQ(bsplSurfaceAlloc(&s, 2, 2, inV ? 2 : 4, inV ? 4 : 2, rational), 1);
            std::copy(inV ? k2 : k4, (inV ? k2 : k4) + (inV ? 4 : 6), s.uKnots);
            std::copy(inV ? k4 : k2, (inV ? k4 : k2) + (inV ? 6 : 4), s.vKnots);
            for (int i = 0; i < s.uNum; ++i)
                for (int j = 0; j < s.vNum; ++j) s.rows[i][j] = {10.0 * i, 10.0 * j, 0};
            for (const double f : {0.25, 0.75}) {
                const double t = 0.5 + f * 5e-8;
                Vec3 p{};
                ASSERT_EQ(evalNurbsSurfPoint(&s, inV ? 0.5 : t, inV ? t : 0.5, &p), 1);
                EXPECT_NEAR(inV ? p.y : p.x, 10 * (1 + f), 1e-6) << rational << inV << f;
            }
            // Derivatives: the short span's (none, under 1e-6) up to 1e-8 below the knot, lower the first's.
            for (const double t : {0.5, 0.5 - 5e-9, 0.5 - 2e-8}) {
                Vec3 du{}, dv{};
                ASSERT_EQ(evalNurbsSurfDeriv(&s, inV ? 0.5 : t, inV ? t : 0.5, &du, &dv, nullptr), 1);
                EXPECT_NEAR(inV ? dv.y : du.x, t > 0.5 - 1e-8 ? 0 : 20, 1e-6) << rational << inV << t;
            }
        }
}

// Knots near 1e9, where the pull of an end parameter 1e-8 inside rounds back onto the end knot: a
// clamped surface still ends in its corner control points, whichever side the parameter comes from
// (plain and rational, seeded).
TEST(DeBoor, FarKnotsStillEndInTheCornerPoints) {
    std::mt19937 rng(88);
    for (const bool rational : {false, true}) {
        RecGuard g;
        makeRandomSurface(&g.rec, rng, 3, 4, 5, 6, rational);
        BsplSurface& s = g.rec.surface;
        for (int k = 0; k < s.uNum + s.uOrder; ++k) s.uKnots[k] += 1e9;
        for (int k = 0; k < s.vNum + s.vOrder; ++k) s.vKnots[k] += 1e9;
        for (const int cu : {0, 1})
            for (const int cv : {0, 1})
                for (const double beyond : {0.0, 3.0}) {
                    const double u = 1e9 + cu + (cu ? beyond : -beyond),
                                 v = 1e9 + cv + (cv ? beyond : -beyond);
                    const Vec3 want = s.rows[cu ? s.uNum - 1 : 0][cv ? s.vNum - 1 : 0];
                    Vec3 p{};
                    ASSERT_EQ(evalNurbsSurfPoint(&s, u, v, &p), 1);
                    EXPECT_LT(maxDiff(p, want), 1e-9) << rational << cu << cv << beyond;
                }
    }
}
