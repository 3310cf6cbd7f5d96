#include "pocket/leveltable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "kernel/base/rng.h"

namespace {

struct Row {
    double top, bottom;
    int32_t flag;
};

std::vector<double> planesOf(const std::vector<Row>& rows, double infeed) {
    LevelTable* t = levelTableCreate(16);
    if (!t) return {-1};
    for (size_t i = 0; i < rows.size(); ++i)
        levelTableSet(t, int32_t(i), rows[i].top, rows[i].bottom, rows[i].flag, 0);
    PlaneList* p = levelTableFromRange(t, infeed);
    std::vector<double> z;
    if (p) z.assign(p->z, p->z + p->used);
    planeListFree(p);
    levelTableFree(t);
    return z;
}

TEST(LevelTable, PlanesAndSelection) {
    struct Case {
        std::vector<Row> rows;
        double infeed;
        std::vector<double> planes;
    } cases[] = {{{{10, 0, 0}}, 4, {10, 6, 2, 0}},
                 {{{10, 0, 0}}, 0, {10, 0}},
                 {{{10, 0, 0}, {12, 8, 1}}, -5, {10, 5, 0}},
                 {{}, 1, {}},
                 {{{1e8 / 65536, 0, 0}}, 1.0 / 65536, {}}};  // exactly 1e8 steps: refused, not allocated
    for (const Case& c : cases) EXPECT_EQ(planesOf(c.rows, c.infeed), c.planes);
    const LevelRow bounded{10, 5, 0, 0}, open{10, 5, 1, 0};
    EXPECT_EQ(levelRowContains(&bounded, 10), 0);  // its top is not a plane of the row
    EXPECT_EQ(levelRowContains(&bounded, 5), 1);
    EXPECT_EQ(levelRowContains(&bounded, 4.99), 0);
    EXPECT_EQ(levelRowContains(&open, -100), 1);
    EXPECT_EQ(levelTableSet(nullptr, 0, 1, 0, 0, 0), -1);
    EXPECT_EQ(levelTableCreate(-1), nullptr);
    // The range spans row 0 (even when it is open) and the bounded rows; the next boundary below z
    // lies more than 1e-5 under it; a row set past the capacity is refused.
    LevelTable* t = levelTableCreate(3);
    ASSERT_NE(t, nullptr);
    double top = 0, bottom = 0, next = 0;
    EXPECT_EQ(levelTableRange(t, &top, &bottom), -1);
    EXPECT_EQ(levelTableSet(t, 3, 1, 0, 0, 0), -1);
    EXPECT_EQ(levelTableSet(t, -1, 1, 0, 0, 0), -1);
    ASSERT_EQ(levelTableSet(t, 0, 6, 4, 1, 0), 1);
    ASSERT_EQ(levelTableSet(t, 2, 9, 5, 0, 2), 1);
    EXPECT_EQ(t->used, 3);
    EXPECT_EQ(t->rows[1].ref, -1);
    EXPECT_EQ(levelTableRange(t, &top, &bottom), 1);
    EXPECT_EQ(std::pair(top, bottom), std::pair(9.0, 0.0));  // row 1, never set, is a bounded row at 0
    const struct {
        double z;
        int32_t row;
        double below;
    } steps[] = {{10, 2, 9}, {9, 2, 5}, {5.00002, 2, 5}, {5.000005, 1, 0}, {0, -1, 0}};
    for (const auto& c : steps) {
        next = -99;
        EXPECT_EQ(levelNextBelow(t, c.z, &next), c.row) << c.z;
        EXPECT_EQ(next, c.row < 0 ? -99 : c.below) << c.z;
    }
    ASSERT_EQ(levelTableSet(t, 1, 5, 0, 0, 1), 1);
    EXPECT_EQ(levelNextBelow(t, 6, &next), 1);  // a level two rows share: the first row's
    levelTableFree(t);
}

// Independent answer: every bounded top and bottom, and equal steps down from each (also
// infeeds beyond a row's height and rows sharing a top).
TEST(LevelTable, RandomRowsAgainstBoundaries) {
    rngResetState();
    for (int run = 0; run < 200; ++run) {
        std::vector<Row> rows;
        std::set<double> bounds;
        for (int i = 0, n = 1 + rngBelow(6); i < n; ++i) {
            const double a = rngBelow(40) / 2.0, b = rngBelow(40) / 2.0;
            rows.push_back({std::max(a, b), std::min(a, b), i > 0 && rngBelow(4) == 0});
            if (!rows.back().flag) bounds.insert({a, b});
        }
        const double top = *bounds.rbegin(), bottom = *bounds.begin(), s = 0.3 + rngUniform() * 6;
        const double step = std::min(s, top - bottom);
        std::vector<double> expected{top};
        for (auto it = ++bounds.rbegin(); it != bounds.rend(); ++it) {
            const double c = expected.back();
            for (int k = 1; c - k * step > *it + 1e-5; ++k) expected.push_back(c - k * step);
            expected.push_back(*it);
        }
        const std::vector<double> z = planesOf(rows, s);
        ASSERT_EQ(z.size(), expected.size()) << run;
        for (size_t i = 0; i < z.size(); ++i) EXPECT_NEAR(z[i], expected[i], 1e-9);
    }
}

}  // namespace
