#include "avoidance/avoidtable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "kernel/base/rng.h"
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
        {{3.0, 0.0, -2.0}, {0, -1, 0}, {3.0, 0.0, -2.0 + 2 * kPi}},  // a failed entry is no reference
        {{3.0, 0.0, -2.0}, {0, -2, 0}, {3.0, 0.0, -2.0}},            // only -1 marks one failed
        {{-3.0, 3.0, -3.0}, {0, 0, 0}, {-3.0, 3.0 - 2 * kPi, -3.0}},
        {{0.0, kPi - 2e-5, 0.0, kPi}, {0, 0, 0, 0}, {0.0, kPi - 2e-5, 0.0, -kPi}},  // threshold just under pi
        {{1.0, NAN, 1.0 + 4 * kPi}, {0, 0, 0}, {1.0, NAN, 1.0}},
        {{0.0, 0.1, -0.1}, {0, 0, 0}, {0.0, 0.1, -0.1}},  // within reach: not touched, to the last bit
    };
    for (const Case& c : cases) {
        std::vector<double> v = c.in;
        avoidUnwrapValues(v.data(), c.flags.data(), static_cast<int32_t>(v.size()));
        for (size_t i = 0; i < v.size(); ++i) {
            if (std::isnan(c.want[i]))
                EXPECT_TRUE(std::isnan(v[i]));
            else if (c.want[i] == c.in[i])
                EXPECT_EQ(v[i], c.in[i]) << i;
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
    // An axis counts as vertical (no azimuth) while both horizontal parts stay below 1e-5 (one at 1e-5 is
    // tilted); so does a tilt whose sine is below 1e-5.
    const struct {
        Vec3 v;
        int azimuth;
    } axes[] = {{{5e-6, -5e-6, 1}, 0}, {{1e-5, 0, 1}, 1}, {{0, -1e-5, 1}, 1}, {{9.9e-6, 9.9e-6, -1}, 0}};
    for (const auto& a : axes) {
        double c = 7;
        EXPECT_EQ(vecAzimuth(&a.v, &c), a.azimuth) << a.v.x;
        EXPECT_EQ(c == 7, a.azimuth == 0);
    }
    Vec3 w;
    EXPECT_EQ(dirFromAngles(&w, 1.0, 5e-6), 0);
    ASSERT_EQ(std::sin(std::asin(1e-5)), 1e-5);
    EXPECT_EQ(dirFromAngles(&w, 1.0, std::asin(1e-5)), 1);  // a sine of exactly 1e-5 is tilted
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
        EXPECT_LE(t->capacity, 3 * t->count / 2 + 1);  // grown by half at a time
        t->entries[11].c = 42.0;                       // spare room past the last entry
        EXPECT_EQ(avoidBuildTables(t), 1);
        EXPECT_NEAR(t->entries[10].c, t->entries[9].c - 0.1, 1e-12);
        EXPECT_EQ(t->entries[11].c, 42.0);
        // Beyond either end there is nothing to interpolate towards: the end entry's limits.
        ASSERT_EQ(avoidTableInsert(t, -step, nullptr), 0);
        EXPECT_EQ(t->entries[0].cLow, -1.0);
        t->entries[11].cLow = 0.5;
        ASSERT_EQ(avoidTableInsert(t, 2 * step, nullptr), 12);
        EXPECT_EQ(t->entries[12].cLow, 0.5);
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
    Plist* empty = plistCreate(2, 1);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(avoidTableCreate(empty, 0, 1), nullptr);  // no points, no table
    plistFree(empty);
    EXPECT_EQ(avoidUnwrapColumn(nullptr, kAvoidColumnC), nullptr);
    EXPECT_EQ(avoidTableInsert(nullptr, 0.5, nullptr), -1);
    Plist* l = axisList({tilted(0.2, 0.0), tilted(0.4, 1.0)});
    ASSERT_NE(l, nullptr);
    AvoidTable* t = avoidTableCreate(l, 0.0, 1.0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(avoidUnwrapColumn(t, kAvoidColumnC + 1), nullptr);
    EXPECT_EQ(avoidTableInsert(t, NAN, nullptr), -1);
    // A single entry has no neighbour to blend with: the new one after it copies it. With room for the
    // one alone, the table grows to take the second.
    t->count = t->capacity = 1;
    ASSERT_EQ(avoidTableInsert(t, t->entries[0].parameter + 1, nullptr), 1);
    EXPECT_GE(t->capacity, 2);
    EXPECT_TRUE(t->entries[1].b == t->entries[0].b && t->entries[1].c == t->entries[0].c);
    avoidTableFree(t);
    avoidTableFree(nullptr);
    plistFree(l);
    plistFree(noVectors);
}

// A B band about each entry's B: the band's ends are B -+ w, and the limits move inside it only where
// they lay outside.
TEST(AvoidTable, ShiftLimitsNarrowIntoTheBand) {
    const struct {
        double b, bMin, bMax, w, wantMin, wantMax;
    } cases[] = {
        {0.5, 0.1, 1.0, 0.2, 0.3, 0.7},   {0.5, 0.4, 0.6, 0.2, 0.4, 0.6},    // outside, inside
        {0.5, 0.3, 0.7, 0.2, 0.3, 0.7},   {0.5, 0.0, 0.55, 0.2, 0.3, 0.55},  // on the ends, one side
        {0.5, 0.45, 1.2, 0.2, 0.45, 0.7},
    };
    std::vector<Vec3> axes;
    for (size_t i = 0; i < std::size(cases); ++i) axes.push_back(tilted(0.3, 0.1 * i));
    Plist* l = axisList(axes);
    ASSERT_NE(l, nullptr);
    AvoidTable* t = avoidTableCreate(l, 0.0, 1.0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->bBandSet, 0);
    for (size_t i = 0; i < std::size(cases); ++i)
        t->entries[i].b = cases[i].b, t->entries[i].bMin = cases[i].bMin, t->entries[i].bMax = cases[i].bMax;
    avoidShiftLimits(t, 0.2);
    EXPECT_EQ(t->bBandSet, 1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const AvoidEntry& e = t->entries[i];
        EXPECT_NEAR(e.bBandLow, cases[i].b - 0.2, 1e-15) << i;
        EXPECT_NEAR(e.bBandHigh, cases[i].b + 0.2, 1e-15) << i;
        EXPECT_NEAR(e.bMin, cases[i].wantMin, 1e-15) << i;
        EXPECT_NEAR(e.bMax, cases[i].wantMax, 1e-15) << i;
    }
    avoidTableFree(t);
    plistFree(l);
}

// A new table: one entry per point at its parameter, B at the lead angle, B max at the tilt limit, room
// for 2n + 2 entries; C filled only over the points the table has.
TEST(AvoidTable, CreateAndFillTakeTheListsPoints) {
    const Vec3 z{0, 0, 1};
    Plist* l = axisList({tilted(0.3, 0.4), z, tilted(0.2, -1.0), z}, -0.5);
    ASSERT_NE(l, nullptr);
    AvoidTable* t = avoidTableCreate(l, 0.25, 1.1);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->count, 4);
    EXPECT_EQ(t->capacity, 10);
    EXPECT_EQ(t->leadAngle, 0.25);
    EXPECT_EQ(t->maxTilt, 1.1);
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(t->entries[i].parameter, -0.5 * i);
        EXPECT_EQ(t->entries[i].bMax, 1.1);
        EXPECT_EQ(t->entries[i].b, 0.25);  // every B starts at the lead angle
        // B min near upright, yet tilted enough for C to be defined there.
        EXPECT_TRUE(std::sin(t->entries[i].bMin) >= 1e-5 && t->entries[i].bMin < 0.01) << i;
    }
    EXPECT_NEAR(t->entries[1].c, 0.4, 1e-12);
    EXPECT_NEAR(t->entries[3].c, -1.0, 1e-12);
    // Three entries over four points: the last point is left without an azimuth.
    l->bytes[1] = l->bytes[3] = 0;
    t->entries[1].c = t->entries[3].c = 9.0;
    t->count = 3;
    EXPECT_EQ(avoidFillAzimuth(l, t), 1);
    EXPECT_NEAR(t->entries[1].c, 0.4, 1e-12);
    EXPECT_EQ(t->entries[3].c, 9.0);
    EXPECT_EQ(l->bytes[3], 0);
    l->count = 2;  // and two points under three entries: only the list's points are read
    l->bytes[1] = 0;
    t->entries[1].c = 9.0;
    EXPECT_EQ(avoidFillAzimuth(l, t), 1);
    EXPECT_NEAR(t->entries[1].c, 0.4, 1e-12);
    avoidTableFree(t);
    plistFree(l);
}

// Every limit of a new entry is interpolated at its parameter's share of the gap; a given axis sets B
// and C; an entry a hair off an existing parameter goes before it.
TEST(AvoidTable, InsertInterpolatesEveryLimit) {
    for (double step : {2.0, -2.0}) {
        Plist* l = axisList({tilted(0.2, 0.0), tilted(0.4, 1.0), tilted(0.4, 1.0)}, step);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = avoidTableCreate(l, 0.0, 1.0);
        ASSERT_NE(t, nullptr);
        const double lo[8] = {0.1, 0.5, 0.2, 0.3, -0.4, -0.1, 0.05, 0.6},
                     hi[8] = {0.3, 0.9, 0.4, 0.7, 0.0, 0.5, 0.15, 0.8};
        for (int32_t i = 0; i < 2; ++i) {
            const double* v = i == 0 ? lo : hi;
            AvoidEntry& e = t->entries[i];
            e.bMin = v[0], e.bMax = v[1], e.b = v[2], e.bBandLow = v[3], e.cLow = v[4], e.cHigh = v[5];
            e.bBandHigh = v[6], e.c = v[7];
        }
        const int32_t at = avoidTableInsert(t, 0.25 * step, nullptr);
        ASSERT_EQ(at, 1);
        const AvoidEntry& e = t->entries[1];
        const double got[8] = {e.bMin, e.bMax, e.b, e.bBandLow, e.cLow, e.cHigh, e.bBandHigh, e.c};
        for (int k = 0; k < 8; ++k) EXPECT_NEAR(got[k], 0.75 * lo[k] + 0.25 * hi[k], 1e-12) << k;
        EXPECT_EQ(e.parameter, 0.25 * step);
        EXPECT_EQ(t->entries[2].bMin, hi[0]);  // the old second entry, moved up
        const Vec3 axis = tilted(0.6, -2.0);
        ASSERT_EQ(avoidTableInsert(t, step * (1 + 4e-6), &axis), 2);
        EXPECT_NEAR(t->entries[2].b, 0.6, 1e-12);
        EXPECT_NEAR(t->entries[2].c, -2.0, 1e-12);
        EXPECT_EQ(t->entries[3].parameter, step);
        ASSERT_EQ(avoidTableInsert(t, step * (1 - 4e-6), nullptr), 2);
        EXPECT_EQ(t->count, 6);
        avoidTableFree(t);
        plistFree(l);
    }
}

// Columns by name: the unwrapped C low, C high and C of each entry; no column outside the three.
TEST(AvoidTable, ColumnsByName) {
    Plist* l = axisList({tilted(0.2, 0.0), tilted(0.4, 1.0)});
    ASSERT_NE(l, nullptr);
    AvoidTable* t = avoidTableCreate(l, 0.0, 1.0);
    ASSERT_NE(t, nullptr);
    t->entries[0].cLow = 1, t->entries[0].cHigh = 2, t->entries[0].c = 3;
    t->entries[1].cLow = 1.5, t->entries[1].cHigh = 2.5 - 2 * kPi, t->entries[1].c = 3.5 + 2 * kPi;
    const double want[3][2] = {{1, 1.5}, {2, 2.5}, {3, 3.5}};
    for (int32_t which = kAvoidColumnCLow - 1; which <= kAvoidColumnC + 1; ++which) {
        double* v = avoidUnwrapColumn(t, which);
        EXPECT_EQ(v != nullptr, which >= kAvoidColumnCLow && which <= kAvoidColumnC) << which;
        for (int i = 0; v && i < 2; ++i) EXPECT_NEAR(v[i], want[which - kAvoidColumnCLow][i], 1e-12);
        std::free(v);
    }
    avoidTableFree(t);
    plistFree(l);
}

// Values any number of turns away, however many, come back within pi of the last one kept.
TEST(AvoidTable, UnwrapBringsFarTurnsBack) {
    rngResetState();
    for (int k = 0; k < 50; ++k) {
        const double turns = std::round(std::pow(10.0, 1 + 11 * rngUniform())) * (k % 2 ? 1 : -1);
        const double r = 6 * rngUniform() - 3, d = 6 * rngUniform() - 3;
        std::vector<double> v = {r, r + d + 2 * kPi * turns};
        avoidUnwrapValues(v.data(), nullptr, 2);
        const double want = d > kPi ? r + d - 2 * kPi : d < -kPi ? r + d + 2 * kPi : r + d;
        EXPECT_NEAR(v[1], want, 1e-3) << turns << " " << d;
    }
}
