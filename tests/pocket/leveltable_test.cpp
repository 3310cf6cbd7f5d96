#include "pocket/leveltable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "geometry/rng.h"

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
                 {{}, 1, {}}};
    for (const Case& c : cases) EXPECT_EQ(planesOf(c.rows, c.infeed), c.planes);
    const LevelRow bounded{10, 5, 0, 0}, open{10, 5, 1, 0};
    EXPECT_EQ(levelRowContains(&bounded, 10), 0);  // its top is not a plane of the row
    EXPECT_EQ(levelRowContains(&bounded, 5), 1);
    EXPECT_EQ(levelRowContains(&bounded, 4.99), 0);
    EXPECT_EQ(levelRowContains(&open, -100), 1);
    EXPECT_EQ(levelTableSet(nullptr, 0, 1, 0, 0, 0), -1);
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
