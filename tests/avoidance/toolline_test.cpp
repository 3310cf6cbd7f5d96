#include "avoidance/toolline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "avoidance/avoidtilt.h"
#include "avoidance/machinecheck.h"
#include "collision/toolseg.h"
#include "kernel/base/rng.h"
#include "kernel/base/runreset.h"
#include "toolsolid.h"

namespace {

Vec3 randomAxis(double minZ) {
    const Vec3 v{O::uni(-1, 1), O::uni(-1, 1), O::uni(minZ, 1)};
    const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return n > 0.2 ? Vec3{v.x / n, v.y / n, v.z / n} : Vec3{0, 0, 1};
}

// Axial height s and distance d from the axis of x for a tool standing on p.
void axial(const Vec3& p, const Vec3& a, const Vec3& x, double* s, double* d) {
    const Vec3 w{x.x - p.x, x.y - p.y, x.z - p.z};
    *s = a.x * w.x + a.y * w.y + a.z * w.z;
    *d = std::sqrt(std::max(0.0, w.x * w.x + w.y * w.y + w.z * w.z - *s * *s));
}

// Most depth over n + 1 samples of the segment a-b inside the solid depth(s, d) (negative outside).
template <class F>
double deepestOnSegment(const Vec3& p, const Vec3& ax, const Vec3& a, const Vec3& b, F depth, int n) {
    double best = -1e9, s, d;
    for (int i = 0; i <= n; i++) {
        const double u = double(i) / n;
        axial(p, ax, Vec3{a.x + u * (b.x - a.x), a.y + u * (b.y - a.y), a.z + u * (b.z - a.z)}, &s, &d);
        best = std::max(best, depth(s, d));
    }
    return best;
}

}  // namespace

TEST(ToolLine, QuadraticIntervals) {
    struct Case {
        double a, b, c;
        int n;
        LineInterval iv[2];
    } cases[] = {
        {1, 0, -1, 1, {{-1, 1}, {}}},
        {-1, 0, 1, 2, {{kLineOpenLow, -1}, {1, kLineOpenHigh}}},
        {1, 0, 1, 0, {}},
        {-1, 0, -1, 1, {{kLineOpenLow, kLineOpenHigh}, {}}},
        {0, -2, 4, 1, {{2, kLineOpenHigh}, {}}},
        {0, 0, 1, 0, {}},
        // Each coefficient counts from 1e-5 on, the discriminant too.
        {0, 0, -1, 1, {{kLineOpenLow, kLineOpenHigh}, {}}},
        {0, 0, -0.5e-5, 0, {}},
        {0, 2, 4, 1, {{kLineOpenLow, -2}, {}}},
        {0, 1e-5, -1, 1, {{kLineOpenLow, 1 / 1e-5}, {}}},
        {0.5e-5, 0.5e-5, -1, 1, {{kLineOpenLow, kLineOpenHigh}, {}}},
        {1, 0, -0.2e-5, 0, {}},
        {-1, 0, 0.2e-5, 1, {{kLineOpenLow, kLineOpenHigh}, {}}},
    };
    for (const Case& c : cases) {
        LineInterval iv[2];
        ASSERT_EQ(solveQuadraticInterval(c.a, c.b, c.c, iv), c.n) << c.a << " " << c.b << " " << c.c;
        for (int i = 0; i < c.n; i++)
            EXPECT_TRUE(iv[i].lo == c.iv[i].lo && iv[i].hi == c.iv[i].hi) << c.a << i;
    }
}

TEST(ToolLine, SegmentAgainstConeMatchesSampling) {
    runResetAll();
    int hits = 0;
    for (int k = 0; k < 400; k++) {
        ToolDescription t{};
        t.radius = O::uni(1, 5), t.taperAngle = O::uni(0, 20), t.tipTop = O::uni(5, 30);
        const double phi = t.taperAngle * 0.017453292519943295;
        const double h0 = -t.radius * std::sin(phi), r0 = t.radius * std::cos(phi);
        const auto depth = [&](double s, double d) {
            return s >= h0 && s <= t.tipTop ? r0 + (s - h0) * std::tan(phi) - d : -1e9;
        };
        const Vec3 o{O::uni(-5, 5), O::uni(-5, 5), O::uni(-5, 5)}, a = randomAxis(-1);
        const auto near = [&] {
            const double h = O::uni(-3, 30);
            return Vec3{o.x + O::uni(-8, 8) + a.x * h, o.y + O::uni(-8, 8) + a.y * h,
                        o.z + O::uni(-8, 8) + a.z * h};
        };
        const Vec3 A = near(), B = k % 10 ? near() : Vec3{A.x + a.y, A.y - a.x, A.z};  // some at one height
        Vec3 out{}, back{};
        const int hit = avoidLineCone(&o, &a, &t, &A, &B, &out);
        EXPECT_EQ(avoidLineCone(&o, &a, &t, &B, &A, &back), hit) << k;  // either way along the axis
        const double deepest = deepestOnSegment(o, a, A, B, depth, 2000);
        // The test point is the middle of the inside stretch: at least half as deep as the deepest.
        EXPECT_TRUE(deepest <= 0.2 + 1e-3 || hit == 1) << k;
        EXPECT_TRUE(deepest >= 0.005 || hit == 0) << k;
        double s, d;
        axial(o, a, out, &s, &d);
        EXPECT_TRUE(!hit || depth(s, d) > (std::fabs(s) >= 0.2 ? 0.005 : 0.1) - 1e-9) << k;
        hits += hit;
    }
    EXPECT_GT(hits, 40);
    toolSegResetState();  // the mesh queries reach the test once it is handed down
    const Vec3 o{0, 0, 0}, up{0, 0, 1};
    EXPECT_EQ(toolSegEdgeHits(&o, &up, &o, &up), -1);
    avoidInstallHooks();
    EXPECT_EQ(toolSegEdgeHits(&o, &up, &o, &up), 0);
}

TEST(ToolLine, VerticalLineAgainstHolderMatchesSampling) {
    runResetAll();
    int hits = 0;
    for (int k = 0; k < 300; k++) {
        ToolDescription t{};
        t.radius = 2, t.cutterTop = O::uni(20, 40);
        double top = t.cutterTop, sec[4][4];  // per section: bottom, top, radii at both ends
        const double r[5] = {O::uni(3, 10), O::uni(3, 10), O::uni(3, 10), O::uni(10, 20), O::uni(10, 20)};
        // Every third holder has one section of no length, which holds nothing.
        for (int i = 0; i < 4; i++)
            sec[i][0] = top, top = sec[i][1] = top + (k % 12 == 3 * i ? 0 : O::uni(5, 15));
        sec[0][2] = r[0], sec[0][3] = sec[1][2] = sec[1][3] = r[1], sec[2][2] = r[3],
        sec[2][3] = sec[3][2] = sec[3][3] = r[4];
        t.stage2Top = sec[0][1], t.stage1Top = sec[1][1], t.stage3Top = sec[2][1], t.stage4Top = sec[3][1];
        t.stage2Diameter = 2 * r[0], t.stage1Diameter = 2 * r[1], t.stage3Diameter = 2 * r[3],
        t.stage4Diameter = 2 * r[4];
        const auto depth = [&](double s, double d) {
            double best = -1e9;
            for (const auto& q : sec)
                if (s >= q[0] && s <= q[1])
                    best = std::max(best, q[2] + (q[3] - q[2]) * (s - q[0]) / (q[1] - q[0]) - d);
            return best;
        };
        const Vec3 p{O::uni(-5, 5), O::uni(-5, 5), O::uni(-5, 5)}, a = randomAxis(0.3);
        const double reach = O::uni(0, t.stage4Top);
        const Vec3 q{p.x + a.x * reach + O::uni(-25, 25), p.y + a.y * reach + O::uni(-25, 25),
                     p.z + O::uni(0.01, 90)};
        const int hit = toolLineHit(&p, &a, &t, &q);
        const double deepest = deepestOnSegment(p, a, Vec3{q.x, q.y, p.z}, q, depth, 4000);
        EXPECT_TRUE(deepest <= 1e-2 || hit == 1) << k;
        EXPECT_TRUE(deepest >= -1e-2 || hit == 0) << k;
        hits += hit;
    }
    EXPECT_GT(hits, 30);
}

TEST(ToolLine, PointInsideTheAssembly) {
    avoidTiltResetState();
    ToolDescription t{};
    t.radius = 3, t.cutterTop = 30, t.stage2Top = 40, t.stage1Top = 50, t.stage3Top = 60, t.stage4Top = 70;
    t.stage3Diameter = 20, t.stage4Diameter = 30;
    const Vec3 p{0, 0, 0}, up{0, 0, 1};
    struct Case {
        double d2, d1, x, s;
        int inside;
    } cases[] = {
        {16, 10, 6.4, 35, 1},
        {16, 10, 6.4, 30, 0},  // it begins above the cutter's top
        {16, 10, 6.6, 35, 0},  // a narrowing first cone (radius 6.5 there) holds points
                               // too
        {4, 10, 3.4, 35, 1},
        {10, 10, 2.9, 10, 1},
        {10, 10, 14.9, 90, 1},
        {10, 10, 4.9, 45, 1},
        {10, 10, 5, 45, 0},                 // the first cylinder only inside its radius
        {10, 40, 14, 45, 1},                // wider than the head: the whole head's reach belongs to it
        {10, 40, 16, 45, 0},                // but nothing beyond the head's radius
        {10, 30 - 1e-5, 14.999998, 45, 0},  // 1e-5 narrower than the head: its own radius only
        {10, 10, 14, 60, 1},                // the top cylinder from its foot on
        {10, 10, 15, 65, 0},                // but not on its radius
        {10, 10, 1, 0.02, 0},               // the cutter holds points above 0.02 only
        {10, 10, 1, 0.021, 1},
    };
    for (const Case& c : cases) {
        t.stage2Diameter = c.d2, t.stage1Diameter = c.d1;
        const Vec3 q{c.x, 0, c.s};
        EXPECT_EQ(toolPointInside(&p, &up, &t, &q), c.inside) << c.d2 << " " << c.x << " " << c.s;
    }
}

TEST(ToolLine, LiftMeasureRunsUpTheCones) {
    avoidTiltResetState();
    ToolDescription t{};
    t.radius = 3, t.cutterTop = 30, t.stage2Top = 40, t.stage1Top = 50, t.stage3Top = 60, t.stage4Top = 70;
    t.stage2Diameter = 10, t.stage1Diameter = 14, t.stage3Diameter = 20, t.stage4Diameter = 30;
    // First cone 5 -> 7 over 30..40, second 10 -> 15 over 50..60: the lift is how far the point lies above
    // the height where the cone's radius equals its distance from the axis.
    struct Case {
        double d, s;
        int result;
        double lift;
    } cases[] = {
        {4, 35, 0, 5},         {6, 38, 0, 3},          {6, 34, 0, 0},     {6.5, 45, 0, 7.5},
        {8, 55, 0, 5},         {12, 58, 0, 4},         {12, 52, 0, 0},    {16, 55, 0, 0},
        {2, 10, -2, 0},        {2.99, 0.01, 0, 0},     {2, 0.021, -2, 0}, {2, 0.019, 0, 0},
        {3 - 2e-5, 10, -2, 0}, {3 - 0.5e-5, 10, 0, 0},  // at the edges
    };
    const Vec3 p{1, 2, 3}, up{0, 0, 1};
    for (const Case& c : cases) {
        toolLiftReset();
        const Vec3 q{p.x + c.d, p.y, p.z + c.s};
        EXPECT_EQ(toolLiftInside(&p, &up, &t, &q), c.result) << c.d << " " << c.s;
        EXPECT_NEAR(toolLiftMax(), c.lift, 1e-9) << c.d << " " << c.s;
    }
    toolLiftReset();
    for (const Case& c : cases) {  // the measure keeps the largest
        const Vec3 q{p.x, p.y - c.d, p.z + c.s};
        toolLiftInside(&p, &up, &t, &q);
    }
    EXPECT_NEAR(toolLiftMax(), 7.5, 1e-9);
    // A first cone only 1e-5 high still widens (4 -> 6): a point 5 from the axis just above it lies
    // above the height where the cone reaches 5.
    t.cutterTop = 0, t.stage2Top = 1e-5, t.stage2Diameter = 8, t.stage1Diameter = 12;
    toolLiftReset();
    const Vec3 q{p.x + 5, p.y, p.z + 0.5};
    EXPECT_EQ(toolLiftInside(&p, &up, &t, &q), 0);
    EXPECT_NEAR(toolLiftMax(), 0.5 - 0.5e-5, 1e-9);
    // A first cone of no height has no slope to run up: a point between its two radii is not lifted.
    t.cutterTop = t.stage2Top = 30;
    toolLiftReset();
    const Vec3 r{p.x + 5, p.y, p.z + 35};
    EXPECT_EQ(toolLiftInside(&p, &up, &t, &r), 0);
    EXPECT_EQ(toolLiftMax(), 0.0);
    // Beyond the head's radius nothing lifts, not even inside a second cone wider than the head.
    t.stage3Diameter = 40;
    const Vec3 far{p.x + 16, p.y, p.z + 55};
    EXPECT_EQ(toolLiftInside(&p, &up, &t, &far), 0);
    EXPECT_EQ(toolLiftMax(), 0.0);
}

TEST(ToolLine, ConeToleranceIsWiderNearTheTip) {
    avoidTiltResetState();
    ToolDescription t{};
    t.radius = 2, t.taperAngle = 0, t.tipTop = 10;  // a cylinder of radius 2 from the tip up to 10
    const Vec3 o{0, 0, 0}, up{0, 0, 1};
    struct Case {
        double h, y;  // a chord at height h and distance y from the axis
        int hit;
    } cases[] = {
        {0.1, 1.85, 1}, {0.1, 1.95, 0}, {0.2, 1.95, 1}, {0.19, 1.95, 0}, {5, 1.99, 1},
        {5, 1.997, 0},  {10.5, 1.0, 0}, {-0.5, 1.0, 0}, {10, 1.0, 1},    {0, 1.0, 1},
    };
    for (const Case& c : cases) {
        const Vec3 A{5, c.y, c.h}, B{-5, c.y, c.h};
        Vec3 out{};
        EXPECT_EQ(avoidLineCone(&o, &up, &t, &A, &B, &out), c.hit) << c.h << " " << c.y;
        if (c.hit) {
            EXPECT_NEAR(out.x, 0.0, 1e-9);  // the middle of the stretch inside
        }
    }
    // A chord starting just below the tip and rising by exactly 1e-12 is not level: its part above the
    // tip's height counts; rising by less it is level, and wholly below.
    for (const double top : {9e-13, 4e-13}) {
        const Vec3 A{5, 1, top}, B{-5, 1, -1e-13};
        EXPECT_EQ(avoidLineCone(&o, &up, &t, &A, &B, nullptr), top > 5e-13 ? 1 : 0) << top;
    }
}

TEST(ToolLine, TiltedVerticalLineMeetsOneSection) {
    // Axis tilted 45 degrees in x-z: along the vertical line at x = X the axial height is s = (X + z)/sqrt2
    // and the distance from the axis sqrt2 X - s, so the line closes in on the axis as it rises and
    // meets a section only where sqrt2 X - s drops below that section's radius.
    avoidTiltResetState();
    const double h = std::sqrt(0.5);
    const Vec3 p{0, 0, 0}, a{h, 0, h};
    struct Case {
        double top, x, z;
        int hit;
        double s3 = 60;  // without the second cone at 50: the top cylinder alone above 50
    } cases[] = {
        {70, 58, 100, 1},    // the top cylinder (radius 15) only: 12.0 from the axis at its top
        {70, 62, 100, 0},    // 17.7 at the top: outside it
        {60, 51.5, 100, 1},  // no top cylinder: the cone widening from 10 to 15 only, 12.8 at its top
        {60, 54, 100, 0},    // 16.4 there
        // A line whose top is not above the tip is that point alone, inside the cutter (radius 3) too:
        {70, 2, 0, 1},   // s = d = 1.4
        {70, 3, -1, 1},  // s 1.4, d 2.8
        {70, 5, 0, 0},   // s = d = 3.5
        // Lines that end 1 above the top cylinder's foot, 13 and 16 from the axis there.
        {70, 64 / std::sqrt(2.0), 51 * std::sqrt(2.0) - 64 / std::sqrt(2.0), 1, 50},
        {70, 67 / std::sqrt(2.0), 51 * std::sqrt(2.0) - 67 / std::sqrt(2.0), 0, 50},
    };
    for (const Case& c : cases) {
        ToolDescription t{};
        t.radius = 3, t.cutterTop = 30, t.stage2Top = 40, t.stage1Top = 50, t.stage3Top = c.s3,
        t.stage4Top = c.top;
        t.stage2Diameter = 10, t.stage1Diameter = 10, t.stage3Diameter = 20, t.stage4Diameter = 30;
        const Vec3 tip{0, 0, 5}, q{c.x, 0, 5 + c.z};  // heights count from the tip, wherever it stands
        EXPECT_EQ(toolLineHit(&tip, &a, &t, &q), c.hit) << c.top << " " << c.x << " " << c.z;
    }
    // Sections widening upwards (cone 3 -> 5, cylinder 5, cone 10 -> 15, cylinder 15): a line ending at
    // axial height s and distance d meets only the section at its top, by that section's radius there.
    ToolDescription t{};
    t.radius = 3, t.cutterTop = 30, t.stage2Top = 40, t.stage1Top = 50, t.stage3Top = 60, t.stage4Top = 70;
    t.stage2Diameter = 6, t.stage1Diameter = 10, t.stage3Diameter = 20, t.stage4Diameter = 30;
    const double ends[][3] = {{35, 3.9, 1},  {35, 4.1, 0},  {45, 4.9, 1},  {45, 5.1, 0},
                              {55, 12.4, 1}, {55, 12.6, 0}, {65, 14.9, 1}, {65, 15.1, 0}};
    // With the machine check on, a position the host accepts (this one reaches every axis) is decided
    // by the geometry alone.
    machineCheckResetState();
    for (const int32_t check : {0, 1}) {
        AvoidSwitches sw{};
        sw.machineCheck = check;
        avoidSetSwitches(&sw);
        for (const auto& e : ends) {
            const Vec3 q{(e[0] + e[1]) * h, 0, (e[0] - e[1]) * h};
            EXPECT_EQ(toolLineHit(&p, &a, &t, &q), e[2]) << e[0] << " " << e[1] << " " << check;
        }
    }
    // A first cone exactly 1e-5 high is a section: the line crosses it 1.41 from the axis, inside its 2.
    t = ToolDescription{};
    t.radius = 1, t.stage2Top = t.stage1Top = t.stage3Top = t.stage4Top = 1e-5, t.stage2Diameter = 4;
    t.stage1Diameter = t.stage3Diameter = t.stage4Diameter = 4;
    const Vec3 q{-1, 0, 2};
    EXPECT_EQ(toolLineHit(&p, &a, &t, &q), 1);
    avoidTiltResetState();
}
