#include "pocket/leveltable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
    EXPECT_NE(t, nullptr);
    if (!t) return {};
    for (size_t i = 0; i < rows.size(); ++i)
        levelTableSet(t, int32_t(i), rows[i].top, rows[i].bottom, rows[i].flag, int32_t(i));
    PlaneList* p = levelTableFromRange(t, infeed);
    std::vector<double> z;
    if (p) z.assign(p->z, p->z + p->used);
    planeListFree(p);
    levelTableFree(t);
    return z;
}

TEST(LevelTable, PlanesTable) {
    struct Case {
        std::vector<Row> rows;
        double infeed;
        std::vector<double> planes;
    } cases[] = {
        {{{10, 0, 0}}, 4, {10, 6, 2, 0}},
        {{{10, 0, 0}}, -4, {10, 6, 2, 0}},
        {{{10, 0, 0}}, 0, {10, 0}},
        {{{10, 0, 0}}, 15, {10, 0}},
        {{{10, 0, 0}, {10, 5, 0}}, 4, {10, 6, 5, 1, 0}},
        {{{10, 0, 0}, {12, 8, 1}}, 5, {10, 5, 0}},  // a row reaching down is not a boundary
        {{{3, 3, 0}}, 1, {3}},
    };
    for (const Case& c : cases) {
        std::vector<double> z = planesOf(c.rows, c.infeed);
        ASSERT_EQ(z.size(), c.planes.size());
        for (size_t i = 0; i < z.size(); ++i) EXPECT_NEAR(z[i], c.planes[i], 1e-9);
    }
    EXPECT_EQ(levelTableFromRange(nullptr, 1), nullptr);
    LevelTable* empty = levelTableCreate(4);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(levelTableFromRange(empty, 1), nullptr);
    EXPECT_EQ(levelTableSet(empty, 4, 1, 0, 0, 0), -1);
    EXPECT_EQ(levelTableSet(empty, -1, 1, 0, 0, 0), -1);
    levelTableFree(empty);
}

TEST(LevelTable, RowSelection) {
    const LevelRow bounded{10, 5, 0, 0}, open{10, 5, 1, 0};
    struct Case {
        const LevelRow* row;
        double z;
        int expected;
    } cases[] = {{&bounded, 10, 0},   {&bounded, 9.999995, 0}, {&bounded, 9.9, 1}, {&bounded, 5, 1},
                 {&bounded, 4.99, 0}, {&open, 10, 0},          {&open, -100, 1}};
    for (const Case& c : cases) EXPECT_EQ(levelRowContains(c.row, c.z), c.expected) << c.z;
}

// Independent answer: the boundaries of bounded rows within the range, and
// between two neighbours equal steps counted from the upper one.
TEST(LevelTable, RandomRowsAgainstBoundaries) {
    rngResetState();
    for (int run = 0; run < 200; ++run) {
        std::vector<Row> rows;
        const int n = 1 + int(rngBelow(6));
        for (int i = 0; i < n; ++i) {
            const double a = std::round(rngUniform() * 40) / 2, b = std::round(rngUniform() * 40) / 2;
            rows.push_back({std::max(a, b), std::min(a, b), i > 0 && rngBelow(4) == 0 ? 1 : 0});
        }
        const double s = 0.3 + rngUniform() * 6;
        std::set<double> bounds;
        double top = rows[0].top, bottom = rows[0].bottom;
        for (const Row& r : rows)
            if (r.flag == 0) top = std::max(top, r.top), bottom = std::min(bottom, r.bottom);
        for (const Row& r : rows)
            if (r.flag == 0) bounds.insert(r.top), bounds.insert(r.bottom);
        std::vector<double> expected{top};
        const double step = std::min(s, top - bottom);
        for (auto it = bounds.rbegin(); it != bounds.rend() && top > bottom; ++it) {
            if (*it >= expected.back()) continue;
            const double c = expected.back();
            for (int k = 1; c - k * step > *it + 1e-5; ++k) expected.push_back(c - k * step);
            expected.push_back(*it);
        }
        std::vector<double> z = planesOf(rows, s);
        ASSERT_EQ(z.size(), expected.size()) << run;
        for (size_t i = 0; i < z.size(); ++i) EXPECT_NEAR(z[i], expected[i], 1e-9);
    }
}

}  // namespace
