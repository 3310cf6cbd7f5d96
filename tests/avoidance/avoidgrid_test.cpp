#include "avoidance/avoidgrid.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "avoidance/avoidtilt.h"
#include "avoidance/toolline.h"
#include "geometry/msg_capture.h"
#include "geometry/plist.h"
#include "kernel/base/rng.h"
#include "kernel/base/runreset.h"
#include "near.h"

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
        {{-30, -30, 0}, {-25, -25, 0}, 1, {0, 0, 0, 0}},  // wholly before the grid: its first cell
        {{nan, 0, 0}, {1, 1, 0}, -1, {}},
        {{0, nan, 0}, {1, 1, 0}, -1, {}},
        {{0, 0, 0}, {nan, 1, 0}, -1, {}},
        {{0, 0, 0}, {1, nan, 0}, -1, {}},
        {{5, 5, 0}, {-5, -5, 0}, -1, {}},
        {{5, -5, 0}, {-5, 5, 0}, -1, {}},  // x alone reversed
        {{-5, 5, 0}, {5, -5, 0}, -1, {}},  // y alone reversed
    };
    for (const Case& c : cases) {
        int32_t cells[4] = {};
        ASSERT_EQ(gridCellRange(&f.g, &c.lo, &c.hi, cells), c.result) << c.lo.x;
        for (int k = 0; k < 4 && c.result > 0; k++) EXPECT_EQ(cells[k], c.cells[k]) << c.lo.x << " " << k;
    }
    // A grid without rows, columns or a positive cell has no cells; one row or column has one.
    const Vec3 lo{-3.5, -1.2, 0}, hi{2.5, 4.9, 0};
    const struct {
        int32_t rows, columns;
        double cell;
        int result;
    } grids[] = {{0, 41, 1, -1},   {41, 0, 1, -1},    {41, 41, 0, -1},
                 {41, 41, -1, -1}, {41, 41, NAN, -1}, {1, 1, 1, 1}};
    for (const auto& g : grids) {
        HeightGrid h = f.g;
        h.rows = g.rows, h.columns = g.columns, h.cell = g.cell;
        int32_t cells[4] = {7, 7, 7, 7};
        EXPECT_EQ(gridCellRange(&h, &lo, &hi, cells), g.result)
            << g.rows << " " << g.columns << " " << g.cell;
        if (g.result > 0) {
            EXPECT_EQ(cells[0] + cells[1] + cells[2] + cells[3], 0);
        }
    }
    int32_t cells[4];
    EXPECT_EQ(gridCellRange(nullptr, &lo, &hi, cells), -1);
    // Far past the end of a grid as wide as an int32 allows, the last cell still stands.
    HeightGrid wide = f.g;
    wide.rows = wide.columns = INT32_MAX - 2;
    const Vec3 far{1e300, 1e300, 0};
    ASSERT_EQ(gridCellRange(&wide, &lo, &far, cells), 1);
    EXPECT_EQ(cells[2], INT32_MAX - 3);
    EXPECT_EQ(cells[3], INT32_MAX - 3);
    // A grid without heights has nothing to tilt against.
    HeightGrid bare = f.g;
    bare.heights = nullptr;
    const ToolDescription t{};
    Vec3 a{0, 0, 1};
    EXPECT_EQ(avoidCollisionTilt(&lo, &bare, &t, &a, 1, 0), -1);
}

TEST(AvoidGrid, TiltClearsTheGridOrGivesUp) {
    runResetAll();
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
    // An upright axis whose z overshoots 1 by rounding comes back with z = 1.
    const Vec3 p{0, 0, 0};
    Vec3 over{0, 0, 1 + 1e-15};
    FlatGrid none(-100);
    EXPECT_EQ(avoidCollisionTilt(&p, &none.g, &t, &over, 0, 0), 0);
    EXPECT_EQ(over.z, 1.0);
}

namespace {

ToolDescription gridTool() {
    ToolDescription t{};
    t.radius = 2, t.cutterTop = 20, t.stage2Top = 30, t.stage1Top = 40, t.stage3Top = 50, t.stage4Top = 60;
    t.stage2Diameter = 8, t.stage1Diameter = 10, t.stage3Diameter = 16, t.stage4Diameter = 20;
    return t;
}

// Sets the tilt limit the way a run does.
void setTiltLimit(double limit) {
    const ToolDescription t = gridTool();
    FlatGrid none(-100);
    AvoidContext ctx{};
    ctx.obstacle = &none.g, ctx.tool = &t, ctx.tiltMax = limit;
    Plist* empty = plistCreate(1, 1);
    ASSERT_NE(empty, nullptr);
    avoidCollisionRun(&ctx, empty, 1);
    plistFree(empty);
}

}  // namespace

TEST(AvoidGrid, OnePostDecidesTheDirectionAndTheReach) {
    const ToolDescription t = gridTool();
    struct Case {
        int i, j;   // the post's grid point (i - 20, j - 20)
        double z;   // its height
        double t0;  // the axis' tilt towards +x
        int32_t tilt, mode;
        int result;             // 1 steeper, 2 flatter, 0 untouched, -2 unresolved with the post as reference
        double px = 0, py = 0;  // the tool point
        int32_t vertical = 0;   // vertical mode: steeper axes only, whatever the mode
    } cases[] = {
        {28, 20, 60, 0.5, 1, 0, 2},   // in the way of every steeper axis: only tilting away clears it
        {28, 20, 60, 0.5, 1, 1, -2},  // steeper only: none
        {28, 20, 60, 0.5, 1, 2, 2},
        {28, 20, 60, 0.5, 0, 0, -2},         // no tilting allowed
        {36, 29, 52.5, 0.3, 1, 0, 1},        // 9 beside the tilt plane, inside the head's radius of 10
        {36, 31, 52.5, 0.3, 1, 0, 0},        // 11 beside it: outside
        {40, 7, 52.5, 0.3, 1, 0, 1, 4, -4},  // 9 on the other side, in the first row of the point's reach
        {20, 20, 5, 0, 1, 0, 0},             // a vertical tool's own cutter length is left to the cutter
        {20, 20, 15, 0, 1, 0, -2},           // above it the post is tested, and a vertical axis cannot tilt
        {28, 20, 60, 0.5, 1, 0, -2, 0, 0, 1},
        // A level axis: its head of radius 10 reaches 10 below the point, so a post 8 below is in its way.
        {35, 20, -8, std::acos(0.0), 0, 1, -2, -40, 0},
        // Nearly upright, a post 0.01 inside a rim: the free tilt moves cos by under the 1e-5 that counts.
        {11, 20, 60, 0.005, 1, 0, 0, 10 * std::cos(0.005) - 50 * std::sin(0.005) - 9 - 0.01},
        {29, 20, 65, 0.005, 1, 1, 0, 9 - 60 * std::sin(0.005) - 10 * std::cos(0.005) + 0.01},
    };
    // Each case also turned by quarter turns about the z axis: the answer turns with them.
    const auto turn = [](double x, double y, int k) {
        for (int n = 0; n < k; n++) std::swap(x, y), x = -x;
        return std::array<double, 2>{x, y};
    };
    for (int k = 0; k < 4; k++)
        for (const Case& c : cases) {
            avoidTiltResetState();
            setTiltLimit(1.2);
            AvoidSwitches sw{};
            sw.verticalMode = c.vertical;
            avoidSetSwitches(&sw);
            const auto pt = turn(c.px, c.py, k), post = turn(c.i - 20, c.j - 20, k), h = turn(1, 0, k);
            const Vec3 p{pt[0], pt[1], 0};
            FlatGrid f(-100);
            f.z[static_cast<int>(post[1]) + 20][static_cast<int>(post[0]) + 20] = c.z;
            const Vec3 q{post[0], post[1], c.z},
                before{std::sin(c.t0) * h[0], std::sin(c.t0) * h[1], std::cos(c.t0)};
            Vec3 a = before, ref{};
            const int r = avoidCollisionTilt(&p, &f.g, &t, &a, c.tilt, c.mode);
            ASSERT_EQ(r, c.result) << c.i << " " << c.j << " " << c.mode << " " << k;
            if (r < 0) {
                ASSERT_EQ(avoidReference(&ref), 1);
                EXPECT_VEC_NEAR(ref, q, 0);
            }
            if (r <= 0) {
                EXPECT_VEC_NEAR(a, before, 0);
                continue;
            }
            // Tilted in its plane to the first free angle, within the bisection's 0.001.
            const double s = std::atan2(a.x * h[0] + a.y * h[1], a.z), back = r == 2 ? -0.002 : 0.002;
            const Vec3 nearer{std::sin(s + back) * h[0], std::sin(s + back) * h[1], std::cos(s + back)};
            EXPECT_NEAR(a.y * h[0] - a.x * h[1], 0.0, 1e-12);
            EXPECT_TRUE(r == 2 ? s > c.t0 : s < c.t0) << s;
            EXPECT_EQ(toolLineHit(&p, &a, &t, &q), 0) << s;
            EXPECT_EQ(toolLineHit(&p, &nearer, &t, &q), 1) << s;
        }
    // A post reached only once the axis has turned flatter for another one: the scan starts over after
    // each tilt, from its first column and row. From (15, -8) the scan's first column (x = -10) lies
    // after its first row (y = -18); the head meets the late post there from a tilt of 0.29 to 0.82.
    for (const auto& [p, late] :
         {std::pair{Vec3{0, 0, 0}, Vec3{-20, -9, 58}}, {{15, -8, 0}, {-10, -13, 55}}}) {
        avoidTiltResetState();
        setTiltLimit(1.2);
        FlatGrid two(-100);
        const Vec3 early{p.x - 13, p.y + 8, 48.7};  // met up to a tilt of 0.38
        for (const Vec3& q : {late, early}) two.z[int(q.y) + 20][int(q.x) + 20] = q.z;
        Vec3 flat{-std::sin(0.24), 0, std::cos(0.24)};
        EXPECT_EQ(avoidCollisionTilt(&p, &two.g, &t, &flat, 1, 2), 2);
        for (const Vec3& q : {late, early}) EXPECT_EQ(toolLineHit(&p, &flat, &t, &q), 0) << p.x;
    }
    avoidTiltResetState();
}

// The first point of a path has no result before it, so it may tilt either way; a later point keeps
// the direction of the one before.
// A tilt tells the host once, at level 9: unseen at level 8.
TEST(AvoidGrid, PathsFirstPointTiltsEitherWay) {
    for (int32_t level : {8, 9}) {
        MessageCapture cap(level);
        avoidTiltResetState();
        setTiltLimit(1.2);
        const ToolDescription t = gridTool();
        FlatGrid f(-100);
        f.z[20][28] = 60;  // the post only a flatter axis clears
        Plist* L = plistCreate(2, 1);
        ASSERT_NE(L, nullptr);
        const Vec3 p{0, 0, 0}, a{std::sin(0.5), 0, std::cos(0.5)};
        for (int k = 0; k < 2; ++k) plistAppend(L, k, &p, 0, &a, 0);
        EXPECT_EQ(avoidCollisionPath(L, &f.g, &t, 1), 1);
        ASSERT_EQ(L->count, 2);
        EXPECT_GT(std::atan2(L->vectors[0].x, L->vectors[0].z), 0.5);
        const Vec3 q{8, 0, 60};
        EXPECT_EQ(toolLineHit(&p, &L->vectors[0], &t, &q), 0);
        EXPECT_EQ(cap.countOf("6011,0"), level == 9 ? 1 : 0);
        plistFree(L);
    }
}

// One post against one tilt direction: either way (0) answers the way that cleared it, a fixed way
// answers itself, and the tilt found clears the post. The holder meets the column below (44, 0, 25) from
// a tilt of 0.86 to past 1.49: flatter only, up to the limit of 1.2, finds nothing, though 0.7 is free.
TEST(AvoidGrid, PointTiltAnswersItsDirection) {
    avoidTiltResetState();
    setTiltLimit(1.2);
    ToolDescription t = gridTool();
    const Vec3 p{0, 0, 0}, h{1, 0, 0};
    struct Case {
        Vec3 q;
        double t0;
        int32_t dir;
        int result;
        double side = 0;  // the tool's largest side angle: tried first when the tilt lies past it
    } cases[] = {
        {{8, 0, 60}, 0.5, 0, 2},         {{8, 0, 60}, 0.5, 2, 2},         {{8, 0, 60}, 0.5, 1, -2},
        {{16, 9, 52.5}, 0.3, 0, 1},      {{16, 9, 52.5}, 0.3, 1, 1},      {{16, 9, 52.5}, 0.3, 2, 2},
        {{16, 9, 52.5}, 0.3, 1, 1, 0.5}, {{16, 9, 52.5}, 0.3, 0, 1, 0.5}, {{16, 9, 52.5}, 0.3, 1, 1, 0.29},
        {{44, 0, 25}, 0.9, 2, -2},
    };
    for (const Case& c : cases) {
        t.maxSideAngle = c.side;
        double tilt = c.t0;
        const int r = gridPointTilt(&p, &tilt, 1, c.dir, &c.q, &t, &h);
        EXPECT_EQ(r, c.result) << c.q.x << " " << c.dir;
        if (r <= 0) continue;
        const Vec3 a{std::sin(tilt), 0, std::cos(tilt)};
        EXPECT_EQ(toolLineHit(&p, &a, &t, &c.q), 0) << c.q.x << " " << c.dir;
        EXPECT_TRUE(r == 1 ? tilt < c.t0 : tilt > c.t0) << tilt;
    }
    // Without leave to tilt, a blocked point is unresolved and its tilt stays.
    double kept = 0.5;
    EXPECT_EQ(gridPointTilt(&p, &kept, 0, 0, &cases[0].q, &t, &h), kAvoidUnresolved);
    EXPECT_EQ(kept, 0.5);
    // In lift mode a blocked upright tool is not tilted: the lift measure takes how far the post lies
    // above the first cone's foot (20), and a post inside the cutter's radius (2) answers -2.
    AvoidSwitches sw{};
    sw.unresolvedMode = 4;
    avoidSetSwitches(&sw);
    t.maxSideAngle = 0;
    for (const auto& [x, want] : {std::pair{3.0, 0}, {1.0, -2}}) {
        toolLiftReset();
        const Vec3 q{x, 0, 25};
        double tilt = 0.0;
        EXPECT_EQ(gridPointTilt(&p, &tilt, 1, 0, &q, &t, &h), want) << x;
        EXPECT_EQ(tilt, 0.0);
        EXPECT_NEAR(toolLiftMax(), want ? 0.0 : 5.0, 1e-12) << x;
    }
    avoidTiltResetState();
}
