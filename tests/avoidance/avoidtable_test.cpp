#include "avoidance/avoidtable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/rng.h"
#include "near.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

Vec3 tilted(double b, double c) {
    return {std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)};
}

// Points along x with the given axes, parameters step apart.
Plist* axisList(const std::vector<Vec3>& axes, double step = 1.0) {
    Plist* l = plistCreate(static_cast<int32_t>(axes.size()), 1);
    for (size_t i = 0; l && i < axes.size(); ++i) {
        const Vec3 p = {static_cast<double>(i), 0.0, 0.0};
        plistAppend(l, step * static_cast<double>(i), &p, 0, &axes[i], 0);
    }
    return l;
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
        ASSERT_EQ(t == nullptr, c.c.empty());
        for (int32_t i = 0; t && i < t->count; ++i) {
            EXPECT_NEAR(t->entries[i].c, c.c[i], 1e-12) << i;
            EXPECT_EQ(l->bytes[i], 1);
            EXPECT_EQ(t->entries[i].b, 0.25);
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
        {{3.1, -3.1}, {0, 0}, {3.1, 3.1832}},
        {{3.0, 1.0, -3.0}, {0, -1, 0}, {3.0, 1.0, -3.0 + 2 * kPi}},
        {{-3.0, 3.0, -3.0}, {0, 0, 0}, {-3.0, 3.0 - 2 * kPi, -3.0}},
        {{0.0, kPi - 2e-5, 0.0, kPi}, {0, 0, 0, 0}, {0.0, kPi - 2e-5, 0.0, -kPi}},  // threshold just under pi
        {{1.0, NAN, 1.0 + 4 * kPi}, {0, 0, 0}, {1.0, NAN, 1.0}},
    };
    for (const Case& c : cases) {
        std::vector<double> v = c.in;
        avoidUnwrapValues(v.data(), c.flags.data(), static_cast<int32_t>(v.size()));
        for (size_t i = 0; i < v.size(); ++i) {
            if (std::isnan(c.want[i]))
                EXPECT_TRUE(std::isnan(v[i]));
            else
                EXPECT_NEAR(v[i], c.want[i], 1e-4) << i;
        }
    }
}

// Seeded axes: angles and direction convert back and forth; B = 0 gives Z whatever C is.
TEST(AvoidTable, AnglesAndDirectionsRoundTrip) {
    rngResetState();
    for (int k = 0; k < 200; ++k) {
        const double b = 0.001 + 3.1 * rngUniform(), c = -kPi + 2 * kPi * rngUniform();
        const Vec3 v = tilted(b, c);
        double bb = 0, cc = 0;
        Vec3 w;
        ASSERT_EQ(vecTiltAngle(&v, &bb) + vecAzimuth(&v, &cc) + dirFromAngles(&w, cc, bb), 3);
        EXPECT_NEAR(cc, c, 1e-9);
        EXPECT_VEC_NEAR(w, v, 1e-12);
        EXPECT_EQ(dirFromAngles(&w, c, 0.0), 0);
        EXPECT_VEC_NEAR(w, (Vec3{0, 0, 1}), 0.0);
    }
    // An axis counts as vertical (no azimuth) while both horizontal parts stay below 1e-5; so does a
    // tilt whose sine is below 1e-5.
    const struct {
        Vec3 v;
        int azimuth;
    } axes[] = {{{5e-6, -5e-6, 1}, 0}, {{2e-5, 0, 1}, 1}, {{0, -2e-5, 1}, 1}, {{9.9e-6, 9.9e-6, -1}, 0}};
    for (const auto& a : axes) {
        double c = 7;
        EXPECT_EQ(vecAzimuth(&a.v, &c), a.azimuth) << a.v.x;
        EXPECT_EQ(c == 7, a.azimuth == 0);
    }
    Vec3 w;
    EXPECT_EQ(dirFromAngles(&w, 1.0, 5e-6), 0);
    EXPECT_EQ(dirFromAngles(&w, 1.0, 2e-5), 1);
    EXPECT_NEAR(w.x, 2e-5 * std::cos(1.0), 1e-15);
}

// Insertion keeps the parameter order either way, interpolates the limits and grows the table.
TEST(AvoidTable, InsertKeepsOrderAndInterpolates) {
    for (double step : {1.0, -1.0}) {
        Plist* l = axisList({tilted(0.2, 0.0), tilted(0.4, 1.0)}, step);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = avoidTableCreate(l, 0.0, 1.0);
        ASSERT_NE(t, nullptr);
        t->entries[0].cLow = -1.0, t->entries[1].cLow = 0.0;
        for (int k = 1; k <= 9; ++k) {
            const Vec3 axis = tilted(0.7, -0.5);
            const int32_t at = avoidTableInsert(t, step * k / 10.0, k % 2 ? &axis : nullptr);
            ASSERT_GE(at, 0);
            EXPECT_NEAR(t->entries[at].cLow, -1.0 + k / 10.0, 1e-12);
            if (k % 2) {
                EXPECT_NEAR(t->entries[at].c, -0.5, 1e-12);  // from the given axis
            }
        }
        ASSERT_EQ(t->count, 11);
        for (int32_t i = 1; i < t->count; ++i)
            EXPECT_GT(step * (t->entries[i].parameter - t->entries[i - 1].parameter), 0.0) << i;
        // Building the tables unwraps the C columns along the table: 1 when all three were made.
        t->entries[10].c = t->entries[9].c + 2 * kPi - 0.1;
        ASSERT_GT(t->capacity, 11);
        t->entries[11].c = 42.0;  // spare room past the last entry
        EXPECT_EQ(avoidBuildTables(t), 1);
        EXPECT_NEAR(t->entries[10].c, t->entries[9].c - 0.1, 1e-12);
        EXPECT_EQ(t->entries[11].c, 42.0);
        // Beyond either end there is nothing to interpolate towards: the end entry's limits.
        ASSERT_EQ(avoidTableInsert(t, -step, nullptr), 0);
        EXPECT_EQ(t->entries[0].cLow, -1.0);
        ASSERT_EQ(avoidTableInsert(t, 2 * step, nullptr), 12);
        EXPECT_EQ(t->entries[12].cLow, 0.0);
        avoidTableFree(t);
        plistFree(l);
    }
}

// Pass A opens B to [0, max tilt] at every entry, but never past a B band once one is set.
TEST(AvoidTable, PassAOpensBInsideTheBands) {
    const double b[3] = {0.2, 0.5, 1.1};
    Plist* l = axisList({tilted(0.3, 0.0), tilted(0.3, 0.5), tilted(0.3, 1.0)});
    ASSERT_NE(l, nullptr);
    AvoidTable* t = avoidTableCreate(l, 0.0, 1.0);
    ASSERT_NE(t, nullptr);
    for (int32_t i = 0; i < 3; ++i) t->entries[i].b = b[i];
    for (int band = 0; band < 2; ++band) {
        if (band) avoidShiftLimits(t, 0.3);
        for (int32_t i = 0; i < 3; ++i) t->entries[i].bMin = 0.7, t->entries[i].bMax = 0.05;
        avoidLimitPassA(t, 1.0);
        for (int32_t i = 0; i < 3; ++i) {
            EXPECT_NEAR(t->entries[i].bMin, band ? std::fmax(0.0, b[i] - 0.3) : 0.0, 1e-12) << band << i;
            EXPECT_NEAR(t->entries[i].bMax, band ? std::fmin(1.0, b[i] + 0.3) : 1.0, 1e-12) << band << i;
        }
    }
    avoidTableFree(t);
    plistFree(l);
}

// Missing tables and lists: no table, no column, no insertion.
TEST(AvoidTable, MissingArgumentsGiveNothing) {
    Plist* noVectors = plistCreate(2, 0);
    ASSERT_NE(noVectors, nullptr);
    const Vec3 p{0, 0, 0};
    plistAppend(noVectors, 0, &p, 0, nullptr, 0);
    EXPECT_EQ(avoidTableCreate(nullptr, 0, 1), nullptr);
    EXPECT_EQ(avoidTableCreate(noVectors, 0, 1), nullptr);
    EXPECT_EQ(avoidUnwrapColumn(nullptr, kAvoidColumnC), nullptr);
    EXPECT_EQ(avoidTableInsert(nullptr, 0.5, nullptr), -1);
    Plist* l = axisList({tilted(0.2, 0.0), tilted(0.4, 1.0)});
    ASSERT_NE(l, nullptr);
    AvoidTable* t = avoidTableCreate(l, 0.0, 1.0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(avoidUnwrapColumn(t, kAvoidColumnC + 1), nullptr);
    EXPECT_EQ(avoidTableInsert(t, NAN, nullptr), -1);
    avoidTableFree(t);
    avoidTableFree(nullptr);
    plistFree(l);
    plistFree(noVectors);
}
