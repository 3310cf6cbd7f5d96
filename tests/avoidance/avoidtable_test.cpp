#include "avoidance/avoidtable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/rng.h"
#include "near.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A list of n points along x with the given axes (parameters rising, or falling with step < 0).
Plist* axisList(const std::vector<Vec3>& axes, double step = 1.0) {
    Plist* l = plistCreate(static_cast<int32_t>(axes.size()), 1);
    if (!l) return nullptr;
    for (size_t i = 0; i < axes.size(); ++i) {
        const Vec3 p = {static_cast<double>(i), 0.0, 0.0};
        plistAppend(l, step * static_cast<double>(i), &p, 0, &axes[i], 0);
    }
    return l;
}

Vec3 tilted(double b, double c) {
    return {std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)};
}

}  // namespace

TEST(AvoidTable, VerticalAxesTakeANeighboursAzimuth) {
    const Vec3 z = {0, 0, 1};
    struct Case {
        std::vector<Vec3> axes;
        std::vector<double> c;  // expected C per entry; empty: no table
    } cases[] = {
        {{z, z, z}, {}},
        {{z, z, z, tilted(0.3, 1.0)}, {1.0, 1.0, 1.0, 1.0}},
        {{tilted(0.3, -2.0), z, z, tilted(0.2, 0.5), z}, {-2.0, -2.0, -2.0, 0.5, 0.5}},
    };
    for (const Case& c : cases) {
        Plist* l = axisList(c.axes);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = avoidTableCreate(l, 0.25, 1.1);
        if (c.c.empty()) {
            EXPECT_EQ(t, nullptr);
        } else {
            ASSERT_NE(t, nullptr);
            EXPECT_EQ(t->capacity, 2 * l->count + 2);
            for (int32_t i = 0; i < t->count; ++i) {
                EXPECT_NEAR(t->entries[i].c, c.c[i], 1e-12) << i;
                EXPECT_EQ(l->bytes[i], 1);
                EXPECT_EQ(t->entries[i].b, 0.25);
                EXPECT_EQ(t->entries[i].bMin, 1e-4);
                EXPECT_EQ(t->entries[i].bMax, 1.1);
            }
        }
        avoidTableFree(t);
        plistFree(l);
    }
}

TEST(AvoidTable, UnwrapFollowsTheChainAndSkipsFailedEntries) {
    struct Case {
        std::vector<double> in;
        std::vector<int32_t> flags;
        std::vector<double> want;
    } cases[] = {
        {{3.1, -3.1}, {0, 0}, {3.1, -3.1 + 2 * kPi}},
        {{3.0, 1.0, -3.0}, {0, -1, 0}, {3.0, 1.0, -3.0 + 2 * kPi}},
        {{-3.0, 3.0, -3.0, 3.0}, {0, 0, 0, 0}, {-3.0, 3.0 - 2 * kPi, -3.0, 3.0 - 2 * kPi}},
        {{0.0, kPi - 2e-5}, {0, 0}, {0.0, kPi - 2e-5}},
        {{0.0, kPi}, {0, 0}, {0.0, -kPi}},  // the threshold lies just under pi
        {{1.0, NAN, 1.0 + 4 * kPi}, {0, 0, 0}, {1.0, NAN, 1.0}},
    };
    for (const Case& c : cases) {
        std::vector<double> v = c.in;
        avoidUnwrapValues(v.data(), c.flags.data(), static_cast<int32_t>(v.size()));
        for (size_t i = 0; i < v.size(); ++i) {
            if (std::isnan(c.want[i]))
                EXPECT_TRUE(std::isnan(v[i]));
            else
                EXPECT_NEAR(v[i], c.want[i], 1e-12) << i;
        }
    }
    // The three columns of a table unwrap independently.
    Plist* l = axisList({tilted(0.3, 3.1), tilted(0.3, -3.1)});
    ASSERT_NE(l, nullptr);
    AvoidTable* t = avoidTableCreate(l, 0.0, 1.0);
    ASSERT_NE(t, nullptr);
    t->entries[0].cLow = -3.0, t->entries[1].cLow = 3.0;
    t->entries[0].cHigh = 0.0, t->entries[1].cHigh = 0.1;
    ASSERT_EQ(avoidBuildTables(t), 1);
    EXPECT_NEAR(t->entries[1].c, 3.1832, 1e-4);
    EXPECT_NEAR(t->entries[1].cLow, 3.0 - 2 * kPi, 1e-12);
    EXPECT_EQ(t->entries[1].cHigh, 0.1);
    avoidTableFree(t);
    plistFree(l);
}

// Seeded axes: angles and direction convert back and forth; B = 0 gives Z whatever C is.
TEST(AvoidTable, AnglesAndDirectionsRoundTrip) {
    rngResetState();
    for (int k = 0; k < 200; ++k) {
        const double b = 0.001 + 3.1 * rngUniform(), c = -kPi + 2 * kPi * rngUniform();
        const Vec3 v = tilted(b, c);
        double bb = 0, cc = 0;
        EXPECT_EQ(vecTiltAngle(&v, &bb), 1);
        ASSERT_EQ(vecAzimuth(&v, &cc), 1);
        EXPECT_NEAR(bb, b, 1e-9);
        EXPECT_NEAR(cc, c, 1e-9);
        Vec3 w;
        EXPECT_EQ(dirFromAngles(&w, cc, bb), 1);
        EXPECT_VEC_NEAR(w, v, 1e-12);
        EXPECT_EQ(dirFromAngles(&w, c, 0.0), 0);
        EXPECT_VEC_NEAR(w, (Vec3{0, 0, 1}), 0.0);
    }
    const Vec3 z = {0, 0, 1};
    double keep = 7.0;
    EXPECT_EQ(vecAzimuth(&z, &keep), 0);
    EXPECT_EQ(keep, 7.0);
}

TEST(AvoidTable, LimitsAndBands) {
    Plist* l = axisList({tilted(0.3, 0.0), tilted(0.5, 0.0)});
    ASSERT_NE(l, nullptr);
    AvoidTable* t = avoidTableCreate(l, 0.4, 0.9);
    ASSERT_NE(t, nullptr);
    avoidLimitPassA(t, 0.9);
    EXPECT_EQ(t->entries[0].bMin, 0.0);
    EXPECT_EQ(t->entries[0].bMax, 0.9);
    t->entries[1].b = 0.8;
    avoidShiftLimits(t, 0.2);
    avoidLimitPassA(t, 0.9);
    const double want[2][2] = {{0.2, 0.6}, {0.6, 0.9}};  // B 0.4 and 0.8 with half-width 0.2
    for (int i = 0; i < 2; ++i) {
        EXPECT_NEAR(t->entries[i].bMin, want[i][0], 1e-12);
        EXPECT_NEAR(t->entries[i].bMax, want[i][1], 1e-12);
    }
    avoidTableFree(t);
    plistFree(l);
}

// Insertion keeps the parameter order in both directions, interpolates the limits and grows the
// table past its capacity.
TEST(AvoidTable, InsertKeepsOrderAndInterpolates) {
    for (double step : {1.0, -1.0}) {
        Plist* l = axisList({tilted(0.2, 0.0), tilted(0.4, 1.0)}, step);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = avoidTableCreate(l, 0.0, 1.0);
        ASSERT_NE(t, nullptr);
        t->entries[0].cLow = -1.0, t->entries[1].cLow = 0.0;
        t->entries[0].bMax = 0.5, t->entries[1].bMax = 1.0;
        for (int k = 1; k <= 9; ++k) {
            const double f = k / 10.0;
            const Vec3 axis = tilted(0.7, -0.5);
            const int32_t at = avoidTableInsert(t, step * f, k % 2 ? &axis : nullptr);
            ASSERT_GE(at, 0);
            const AvoidEntry& e = t->entries[at];
            EXPECT_DOUBLE_EQ(e.parameter, step * f);
            EXPECT_NEAR(e.cLow, -1.0 + f, 1e-12);
            EXPECT_NEAR(e.bMax, 0.5 + 0.5 * f, 1e-12);
            EXPECT_EQ(e.flag, 0);
            if (k % 2) {
                EXPECT_NEAR(e.b, 0.7, 1e-12);
                EXPECT_NEAR(e.c, -0.5, 1e-12);
            }
        }
        ASSERT_EQ(t->count, 11);
        EXPECT_GE(t->capacity, 11);
        for (int32_t i = 1; i < t->count; ++i)
            EXPECT_GT(step * (t->entries[i].parameter - t->entries[i - 1].parameter), 0.0) << i;
        avoidTableFree(t);
        plistFree(l);
    }
}
