#include "collision/conesection.h"

#include <gtest/gtest.h>

#include <cmath>

#include "collision/sweep.h"
#include "kernel/base/rng.h"
#include "meshutil.h"

namespace {

const Vec3 kOrigin{0, 0, 0}, kDown{0, 0, -1};

// A small horizontal triangle around (x, 0) at height z.
Triangle3D post(double x, double z) {
    return {{{x - 0.05, -0.05, z}, {x + 0.05, -0.05, z}, {x, 0.05, z}}};
}

// A speck 2e-3 across at radius x and height z: the flank's height varies little over it.
Triangle3D speck(double x, double z) {
    return {{{x - 1e-3, -1e-3, z}, {x + 1e-3, -1e-3, z}, {x, 1e-3, z}}};
}

}  // namespace

TEST(ConeSection, SectionsAgainstPlanesAndPosts) {
    struct Case {
        Triangle3D tri;
        double r1, r2, z1, z2;
        int want;
    } cases[] = {
        {testmesh::slopeTri(1.0, 0), 3, 3, 2, 10, 0},    // below the cylinder's lower end
        {testmesh::slopeTri(2.5, 0), 3, 3, 2, 10, 1},    // its lower disc goes through the plane
        {testmesh::slopeTri(2.007, 0), 3, 3, 2, 10, 0},  // shallower than the tolerance
        {testmesh::slopeTri(40, 0), 3, 3, 2, 10, 1},
        {post(2.0, 0.5), 1, 3, 0, 5, 0},  // under the cone's flank, below its surface
        {post(2.0, 3.0), 1, 3, 0, 5, 1},  // above the flank's height 2.5 at radius 2
        {post(0.5, 0.5), 1, 3, 0, 5, 1},  // under the lower disc of radius r1
        {post(3.5, 9.0), 1, 3, 0, 5, 0},  // outside the widest radius
        // Into the flank (height 2.5 at radius 2) by less and by more than the tolerance 0.008 taken
        // along the axis over the flank's slope 5 / 2: 0.02; the same on a flank twice as steep.
        {speck(2.0, 2.516), 1, 3, 0, 5, 0},
        {speck(2.0, 2.526), 1, 3, 0, 5, 1},
        {speck(2.0, 5.032), 1, 3, 0, 10, 0},
        {speck(2.0, 5.052), 1, 3, 0, 10, 1},
        {testmesh::slopeTri(-20, 0), 1, 3, 0, 5, 0},
        // Only the middle of one edge, at radius 2.5 (flank height 3.75), dips into the flank: as the
        // first, second or third edge; 0.01 lower it stays under.
        {{{{2.5, -1, 3.8}, {2.5, 1, 3.8}, {6, 0, 3.8}}}, 1, 3, 0, 5, 1},
        {{{{6, 0, 3.8}, {2.5, -1, 3.8}, {2.5, 1, 3.8}}}, 1, 3, 0, 5, 1},
        {{{{2.5, 1, 3.8}, {6, 0, 3.8}, {2.5, -1, 3.8}}}, 1, 3, 0, 5, 1},
        {{{{2.5, -1, 3.74}, {2.5, 1, 3.74}, {6, 0, 3.74}}}, 1, 3, 0, 5, 0},
        {testmesh::slopeTri(40, 0), 3, 3, 10, 10 - 5e-5, 0},  // upside down beyond the tolerance: empty
        {testmesh::slopeTri(40, 0), 3, 3, 10, 10 - 5e-6, 1},  // a disc within it
        {testmesh::slopeTri(40, 0), 1e-7, 1e-7, 2, 10, 0},    // a needle: discs from a radius over 1e-7
        {testmesh::slopeTri(40, 0), 2e-7, 2e-7, 2, 10, 1},
    };
    // Whatever motion the kernels were last given, the section moves along its own axis, and the
    // caller's direction is given back.
    const Vec3 tilted{0.6, 0, -0.8};
    for (const Vec3& before : {kDown, tilted}) {
        for (const Case& c : cases) {
            testmesh::Model t({c.tri}, kBallMill, 5.0);
            sweepSetDirection(&before);
            EXPECT_EQ(coneSectionHit(&t.m, &kOrigin, &kDown, 50, c.r1, c.r2, c.z1, c.z2), c.want)
                << c.tri.p[0].z << " " << c.r1 << " " << before.x;
            EXPECT_EQ(sweepDirection()->x, before.x);
        }
    }
    sweepSetDirection(&kDown);
}

TEST(ConeSection, TiltedAxisStillSeesLowElements) {
    // Axis 60 degrees from the vertical: the section from 10 to 20 up the axis dips to z = 5 - 0.87.
    const double s = std::sin(M_PI / 3), c = std::cos(M_PI / 3);
    const Vec3 d{s, 0, -c};
    testmesh::Model t({testmesh::slopeTri(6.0, 0, 200)}, kBallMill, 1.0);
    EXPECT_EQ(coneSectionHit(&t.m, &kOrigin, &d, 50, 1, 1, 10, 20), 1);
    testmesh::Model low({testmesh::slopeTri(3.0, 0, 200)}, kBallMill, 1.0);
    EXPECT_EQ(coneSectionHit(&low.m, &kOrigin, &d, 50, 1, 1, 10, 20), 0);
    // A wide section from 1 up dips below the reference, to 0.5 - 5 sin 60 = -3.83.
    for (const double z : {-3.7, -3.95}) {
        testmesh::Model under({testmesh::slopeTri(z, 0, 200)}, kBallMill, 1.0);
        EXPECT_EQ(coneSectionHit(&under.m, &kOrigin, &d, 50, 5, 5, 1, 11), z > -3.83 ? 1 : 0) << z;
    }
    // An axis rising by 5e-6: the disc of radius 5 at the reference crosses x = -500 with its lowest
    // point at -500 * 5e-6 - 5 = -5.0025, so an upright fin topping out above that is met, one below not.
    const Vec3 rise{std::sqrt(1 - 25e-12), 0, 5e-6};
    for (const double top : {-5.001, -5.004}) {
        testmesh::Model fin({{{{-500, -10, -6}, {-500, 10, -6}, {-500, 0, top}}}}, kBallMill, 1.0);
        EXPECT_EQ(coneSectionHit(&fin.m, &kOrigin, &rise, 1000, 5, 5, 0, 0), top > -5.0025 ? 1 : 0) << top;
    }
}

// Swept down a tilted axis, a section is lowest at the end of its motion, at the lower of its rims'
// lowest points (z |d.z| - r sin tilt above the reference): a speck 1e-3 above that point is met, one
// 1e-3 below it is not. Seeded tilts, headings and sections widening or narrowing up the axis.
TEST(ConeSection, SpecksAboutTheLowestPointOfATiltedSection) {
    rngResetState();
    int upperLowest = 0;
    for (int n = 0; n < 60; ++n) {
        const double tilt = 0.05 + 1.3 * rngUniform(), heading = 2 * M_PI * rngUniform();
        const double sn = std::sin(tilt), up = std::cos(tilt), ch = std::cos(heading), sh = std::sin(heading);
        const Vec3 d{sn * ch, sn * sh, -up};
        const double z1 = 3 * rngUniform(), z2 = z1 + 0.3 + 3 * rngUniform();
        const double r1 = 0.5 + 4 * rngUniform(), r2 = 0.5 + 4 * rngUniform();
        const bool upper = z2 * up - sn * r2 < z1 * up - sn * r1;
        upperLowest += upper;
        const double z = upper ? z2 : z1, r = upper ? r2 : r1;
        // Up the axis by z, then r along the rim's most downward direction.
        const Vec3 low{-z * sn * ch - r * up * ch, -z * sn * sh - r * up * sh, z * up - r * sn};
        for (const double eps : {1e-3, -1e-3}) {
            const double h = low.z + eps;
            testmesh::Model t({{{{low.x - 1e-3, low.y - 1e-3, h},
                                 {low.x + 1e-3, low.y - 1e-3, h},
                                 {low.x, low.y + 1e-3, h}}}},
                              kBallMill, 1.0);
            t.m.tolerance = 1e-9;
            EXPECT_EQ(coneSectionHit(&t.m, &kOrigin, &d, 30, r1, r2, z1, z2), eps > 0 ? 1 : 0)
                << n << " " << upper << " " << eps;
        }
    }
    EXPECT_GT(upperLowest, 5);
}

// With a grid only the cell under P moved half the length back along the motion (times the sine of the
// angle) is scanned: a plane that only the far cell lists is met from there alone.
TEST(ConeSection, GridCellUpTheAxisDecides) {
    testmesh::Model t({testmesh::slopeTri(2.0, 0)}, kBallMill, 1.0);
    Grid2D* grid = testmesh::farCellGrid();
    ASSERT_NE(grid, nullptr);
    const Vec3 p{-1, -1, 0}, d{-0.6, -0.48, -0.64};
    const int32_t flags = kConeDiscUpper | kConeDiscLower;
    EXPECT_EQ(coneSectionHitAll(&t.m, &p, &d, 10, 0, nullptr, flags, 3, 3, 2, 10), 1);  // every element
    const struct {
        double angle;
        int want;
    } cases[] = {{M_PI / 2, 1}, {std::asin(0.45), 1}, {std::asin(0.4), 0}, {0, 0}};  // (2, 1.4), (.2, -.04)
    for (const auto& c : cases)
        EXPECT_EQ(coneSectionHitAll(&t.m, &p, &d, 10, c.angle, grid, flags, 3, 3, 2, 10), c.want) << c.angle;
    grid2DFree(grid);
}

// A missing model, point or direction is no hit, whatever the section, with or without a grid.
TEST(ConeSection, MissingArgumentsAreNoHit) {
    testmesh::Model t({testmesh::slopeTri(40, 0)}, kBallMill, 1.0);
    ASSERT_EQ(coneSectionHit(&t.m, &kOrigin, &kDown, 50, 3, 3, 2, 10), 1);  // the full call does hit
    for (const int given : {3, 5, 6, 0}) {                                  // bits: model, point, direction
        const CheckModel* m = given & 4 ? &t.m : nullptr;
        const Vec3* p = given & 2 ? &kOrigin : nullptr;
        const Vec3* d = given & 1 ? &kDown : nullptr;
        EXPECT_EQ(coneSectionHit(m, p, d, 50, 3, 3, 2, 10), 0);
        EXPECT_EQ(coneSectionHitAll(m, p, d, 50, 0, nullptr, kConeDiscLower, 3, 3, 2, 10), 0);
    }
    EXPECT_EQ(coneSectionHitAll(&t.m, &kOrigin, &kDown, 50, 0, nullptr, kConeDiscLower, 3, 3, 2, 10), 1);
}

// Without end discs only the flank meets what lies above it, out to 1e-5 inside its widest radius 3.
TEST(ConeSection, FlankAloneReachesToItsRim) {
    for (const auto& [rho, want] : {std::pair{2.5, 1}, {2.99995, 1}, {2.999995, 0}}) {
        // Upright in the plane x = rho: every edge's line lies rho from the axis in plan.
        testmesh::Model t({{{{rho, 0, 10}, {rho, 0, 12}, {rho, 1e-7, 11}}}}, kBallMill, 1.0);
        EXPECT_EQ(coneSectionHitAll(&t.m, &kOrigin, &kDown, 50, 0, nullptr, 0, 1, 3, 0, 5), want) << rho;
    }
}
