#include "avoidance/avoidgrid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "avoidance/avoidtilt.h"
#include "avoidance/toolline.h"
#include "geometry/rng.h"

namespace {

// A 41 x 41 grid of cell 1 from (-20, -20), flat at z0.
struct FlatGrid {
    std::vector<std::vector<double>> z;
    std::vector<double*> rows;
    HeightGrid g{};
    explicit FlatGrid(double z0) : z(41, std::vector<double>(41, z0)) {
        for (auto& r : z) rows.push_back(r.data());
        g = HeightGrid{41, 41, -20, -20, 1.0, rows.data(), nullptr};
    }
};

}  // namespace

TEST(AvoidGrid, CellRangeClampsEveryBox) {
    FlatGrid f(0);
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    struct Case {
        Vec3 lo, hi;
        int result;
        int32_t cells[4];
    } cases[] = {
        {{-3.5, -1.2, 0}, {2.5, 4.9, 0}, 1, {16, 18, 23, 25}},
        {{-1e300, -1e300, 0}, {1e300, 1e300, 0}, 1, {0, 0, 40, 40}},
        {{-inf, -5, 0}, {inf, 5, 0}, 1, {0, 15, 40, 26}},
        {{nan, 0, 0}, {1, 1, 0}, -1, {}},
        {{5, 5, 0}, {-5, -5, 0}, -1, {}},
    };
    for (const Case& c : cases) {
        int32_t cells[4] = {};
        ASSERT_EQ(gridCellRange(&f.g, &c.lo, &c.hi, cells), c.result) << c.lo.x;
        for (int k = 0; k < 4 && c.result > 0; k++) EXPECT_EQ(cells[k], c.cells[k]) << c.lo.x << " " << k;
    }
}

TEST(AvoidGrid, TiltClearsTheGridOrGivesUp) {
    avoidTiltResetState();
    rngResetState();
    ToolDescription t{};
    t.radius = 2, t.cutterTop = 20, t.stage2Top = 30, t.stage1Top = 40, t.stage3Top = 50, t.stage4Top = 60;
    t.stage2Diameter = 8, t.stage1Diameter = 10, t.stage3Diameter = 16, t.stage4Diameter = 20;
    int tilted = 0;
    for (int k = 0; k < 60; k++) {
        FlatGrid f(-100);  // below the tool's reach but for up to three posts
        for (int n = 0; n < k % 4; n++) f.z[20 + rngBelow(21)][20 + rngBelow(21)] = 10 + 40 * rngUniform();
        const Vec3 p{0, 0, 0}, before{std::sin(0.5), 0, std::cos(0.5)};
        Vec3 a = before;
        const int r = avoidCollisionTilt(&p, &f.g, &t, &a, 1, 0);
        EXPECT_TRUE(k % 4 != 0 || (r == 0 && a.x == before.x)) << k;
        if (r < 0) continue;
        tilted += r > 0;
        for (int i = 0; i < 41; i++)
            for (int j = 0; j < 41; j++) {
                const Vec3 q{f.g.x0 + i, f.g.y0 + j, f.z[j][i]};
                EXPECT_TRUE(q.z < -50 || toolLineHit(&p, &a, &t, &q) == 0) << k << " " << i << " " << j;
            }
    }
    EXPECT_GT(tilted, 5);
    FlatGrid wall(100);  // no tilt clears a grid high everywhere
    for (int32_t tilt : {0, 1}) {
        avoidTiltResetState();
        const Vec3 p{0, 0, 0};
        Vec3 a{std::sin(0.5), 0, std::cos(0.5)}, ref{};
        EXPECT_EQ(avoidCollisionTilt(&p, &wall.g, &t, &a, tilt, 1), kAvoidUnresolved) << tilt;
        ASSERT_EQ(avoidReference(&ref), 1);
        EXPECT_EQ(ref.z, 100.0);
    }
}
