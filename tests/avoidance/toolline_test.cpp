#include "avoidance/toolline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "avoidance/avoidtilt.h"
#include "geometry/rng.h"

namespace {

double uni(double lo, double hi) {
    return lo + (hi - lo) * rngUniform();
}

Vec3 randomAxis(double minZ) {
    for (;;) {
        Vec3 v{uni(-1, 1), uni(-1, 1), uni(minZ, 1)};
        const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        if (n > 0.2) return Vec3{v.x / n, v.y / n, v.z / n};
    }
}

// Axial height and distance from the axis of x for a tool standing on p.
void axial(const Vec3& p, const Vec3& a, const Vec3& x, double* s, double* d) {
    const Vec3 w{x.x - p.x, x.y - p.y, x.z - p.z};
    *s = a.x * w.x + a.y * w.y + a.z * w.z;
    *d = std::sqrt(std::max(0.0, w.x * w.x + w.y * w.y + w.z * w.z - *s * *s));
}

ToolDescription randomAssembly() {
    ToolDescription t{};
    t.radius = uni(1, 4);
    t.cutterTop = uni(20, 40);
    t.stage2Top = t.cutterTop + uni(5, 15);
    t.stage1Top = t.stage2Top + uni(5, 15);
    t.stage3Top = t.stage1Top + uni(5, 15);
    t.stage4Top = t.stage3Top + uni(5, 15);
    t.stage2Diameter = uni(6, 20);
    t.stage1Diameter = uni(6, 20);
    t.stage3Diameter = uni(20, 40);
    t.stage4Diameter = uni(20, 40);
    return t;
}

// How deep x lies inside a holder section (negative outside all of them).
double holderDepth(const ToolDescription& t, double s, double d) {
    const double sec[4][4] = {{t.cutterTop, t.stage2Top, t.stage2Diameter / 2, t.stage1Diameter / 2},
                              {t.stage2Top, t.stage1Top, t.stage1Diameter / 2, t.stage1Diameter / 2},
                              {t.stage1Top, t.stage3Top, t.stage3Diameter / 2, t.stage4Diameter / 2},
                              {t.stage3Top, t.stage4Top, t.stage4Diameter / 2, t.stage4Diameter / 2}};
    double best = -1e9;
    for (const auto& q : sec) {
        if (s < q[0] || s > q[1]) continue;
        best = std::max(best, q[2] + (q[3] - q[2]) * (s - q[0]) / (q[1] - q[0]) - d);
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
        {0, 2, -4, 1, {{kLineOpenLow, 2}, {}}},
        {0, -2, 4, 1, {{2, kLineOpenHigh}, {}}},
        {0, 0, -1, 1, {{kLineOpenLow, kLineOpenHigh}, {}}},
        {0, 0, 1, 0, {}},
        {2, -10, 8, 1, {{1, 4}, {}}},
    };
    for (const Case& c : cases) {
        LineInterval iv[2];
        ASSERT_EQ(solveQuadraticInterval(c.a, c.b, c.c, iv), c.n) << c.a << " " << c.b << " " << c.c;
        for (int i = 0; i < c.n; i++) {
            EXPECT_DOUBLE_EQ(iv[i].lo, c.iv[i].lo);
            EXPECT_DOUBLE_EQ(iv[i].hi, c.iv[i].hi);
        }
    }
}

TEST(ToolLine, SegmentAgainstConeMatchesSampling) {
    rngResetState();
    avoidTiltResetState();
    int hits = 0;
    for (int k = 0; k < 400; k++) {
        ToolDescription t{};
        t.radius = uni(1, 5);
        t.taperAngle = uni(0, 20);
        t.tipTop = uni(5, 30);
        const double phi = t.taperAngle * 0.017453292519943295;
        const double h0 = -t.radius * std::sin(phi), r0 = t.radius * std::cos(phi);
        const Vec3 o{uni(-5, 5), uni(-5, 5), uni(-5, 5)}, a = randomAxis(-1);
        const auto near = [&] {
            return Vec3{o.x + uni(-8, 8) + a.x * uni(-3, 30), o.y + uni(-8, 8) + a.y * uni(-3, 30),
                        o.z + uni(-8, 8) + a.z * uni(-3, 30)};
        };
        const Vec3 A = near(), B = near();
        Vec3 out{};
        const int hit = avoidLineCone(&o, &a, &t, &A, &B, &out);
        Vec3 back{};
        EXPECT_EQ(avoidLineCone(&o, &a, &t, &B, &A, &back), hit) << k;  // either way along the axis
        double deepest = -1e9;
        for (int i = 0; i <= 2000; i++) {
            const double u = i / 2000.0;
            const Vec3 x{A.x + u * (B.x - A.x), A.y + u * (B.y - A.y), A.z + u * (B.z - A.z)};
            double s, d;
            axial(o, a, x, &s, &d);
            if (s >= h0 && s <= t.tipTop) deepest = std::max(deepest, r0 + (s - h0) * std::tan(phi) - d);
        }
        // The test point is the middle of the inside stretch, at least half as deep as the deepest.
        if (deepest > 0.2 + 1e-3) {
            EXPECT_EQ(hit, 1) << k;
        }
        if (deepest < 0.005) {
            EXPECT_EQ(hit, 0) << k;
        }
        if (hit) {
            double s, d;
            axial(o, a, out, &s, &d);
            EXPECT_LT(d, r0 + (s - h0) * std::tan(phi) - (std::fabs(s) >= 0.2 ? 0.005 : 0.1) + 1e-9);
        }
        hits += hit;
    }
    EXPECT_GT(hits, 40);
    // Within 0.1 of the surface near the tip counts as touching, not entering.
    ToolDescription t{};
    t.radius = 2, t.tipTop = 10;
    const Vec3 o{0, 0, 0}, up{0, 0, 1}, A{-3, 1.95, 0.05}, B{3, 1.95, 0.05};
    EXPECT_EQ(avoidLineCone(&o, &up, &t, &A, &B, nullptr), 0);
}

TEST(ToolLine, VerticalLineAgainstHolderMatchesSampling) {
    rngResetState();
    avoidTiltResetState();
    int hits = 0;
    for (int k = 0; k < 300; k++) {
        const ToolDescription t = randomAssembly();
        const Vec3 p{uni(-5, 5), uni(-5, 5), uni(-5, 5)}, a = randomAxis(0.3);
        const double reach = uni(0, t.stage4Top);
        const Vec3 q{p.x + a.x * reach + uni(-25, 25), p.y + a.y * reach + uni(-25, 25), p.z + uni(0.01, 90)};
        const int hit = toolLineHit(&p, &a, &t, &q);
        double deepest = -1e9;
        for (int i = 0; i <= 4000; i++) {
            double s, d;
            axial(p, a, Vec3{q.x, q.y, p.z + i / 4000.0 * (q.z - p.z)}, &s, &d);
            deepest = std::max(deepest, holderDepth(t, s, d));
        }
        if (deepest > 1e-2) {
            EXPECT_EQ(hit, 1) << k;
        }
        if (deepest < -1e-2) {
            EXPECT_EQ(hit, 0) << k;
        }
        hits += hit;
    }
    EXPECT_GT(hits, 30);
}

TEST(ToolLine, PointInsideTheAssembly) {
    avoidTiltResetState();
    ToolDescription t{};
    t.radius = 3, t.cutterTop = 30, t.stage2Top = 40, t.stage1Top = 50, t.stage3Top = 60, t.stage4Top = 70;
    t.stage1Diameter = 10, t.stage3Diameter = 20, t.stage4Diameter = 30;
    const Vec3 p{0, 0, 0}, up{0, 0, 1};
    struct Case {
        double d2, x, s;
        int inside;
    } cases[] = {
        {16, 6.4, 35, 1},   // narrowing first cone, radius 6.5 there: inside
        {16, 6.6, 35, 0},   //
        {4, 3.4, 35, 1},    // widening first cone, radius 3.5 there
        {4, 3.6, 35, 0},    //
        {10, 4.9, 45, 1},   // first cylinder
        {10, 5.1, 45, 0},   //
        {10, 2.9, 10, 1},   // the cutter
        {10, 14.9, 65, 1},  // head cylinder
        {10, 15.1, 65, 0},  //
        {10, 14.9, 90, 1},  // above the head with a vertical axis
    };
    for (const Case& c : cases) {
        t.stage2Diameter = c.d2;
        const Vec3 q{c.x, 0, c.s};
        EXPECT_EQ(toolPointInside(&p, &up, &t, &q), c.inside) << c.d2 << " " << c.x << " " << c.s;
    }
}
