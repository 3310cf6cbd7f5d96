#include "collision/stepover.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

ToolGeom tool(uint16_t type, double R, double r = 0) {
    ToolGeom t{};
    t.toolType = type;
    t.radius = R;
    t.cornerRadius = r;
    return t;
}

}  // namespace

TEST(Stepover, ClosedFormsAndCaps) {
    const double deg = M_PI / 180;
    struct Case {
        uint16_t type;
        double R, r, h, angle, want;
    } cases[] = {
        {1, 5, 0, 0.01, 0.3, 2 * std::sqrt(0.1 - 0.0001)},
        {1, 5, 0, 6, 0, 9.0},
        {1, 5, 0, 5, 0, 9.0},  // h = R is evaluated: 2R, capped
        {1, 5, 0, 0, 0, 0.0},
        {2, 5, 0, 0.3, 0, 9.0},       // untilted flat end
        {2, 5, 0, 2, 10 * deg, 9.0},  // h above R sin(angle)
        {2, 5, 0, 0.01, 30 * deg, (10 / 2.5) * std::sqrt(2 * 2.5 * 0.01 - 0.0001)},
        {2, 1e-5, 0, 0.5e-5, 90 * deg, 2 * std::sqrt(0.75e-10)},  // R sin(angle) of exactly 1e-5 is evaluated
        {10, 5, 0, 0.01, 30 * deg, (10 / 2.5) * std::sqrt(2 * 2.5 * 0.01 - 0.0001)},
        {3, 5, 1, 0.1, 0, 9.0},    // untilted torus
        {3, 5, 5, 0.1, 0.5, 9.0},  // r = R
        {1, 5, 0, -0.01, 0, -1.0},
        {3, 5, 1, -1e-3, 0.5, -1.0},
        {2, 5, 0, NAN, 0.5, -1.0},  // refused
    };
    for (const Case& c : cases) {
        const ToolGeom t = tool(c.type, c.R, c.r);
        EXPECT_NEAR(stepover_for_tool(&t, c.h, c.angle), c.want, 1e-9) << c.type << " " << c.h;
    }
    // A corner ellipse of exactly 1e-5 across (R - r at 90 degrees) is evaluated: narrower than the cap.
    const ToolGeom thin = tool(3, 1e-5);
    EXPECT_TRUE(stepover_for_tool(&thin, 0.5e-5, M_PI / 2) < 1.7e-5 &&
                stepover_for_tool(&thin, 0.5e-5, M_PI / 2) > 0);
    EXPECT_NEAR(stepover_ball(5, 0.01), 0.632139, 1e-6);
    for (const double bad : {-0.01, double(INFINITY)}) EXPECT_EQ(stepover_ball(5, bad), -1.0) << bad;
    EXPECT_EQ(stepover_for_tool(nullptr, 0.1, 0), -1.0);
}

// The torus width, checked against the profile itself: the offset ellipse sampled densely, its height
// at the half-width must be the cusp height (to the bisection's 1e-5).
TEST(Stepover, TorusWidthMeetsTheCuspHeight) {
    for (double angle : {0.2, 0.5, 1.0}) {
        for (double h : {0.001, 0.01, 0.1, 10.0}) {  // 10: beyond the cap of 0.9 (b + r)
            const double R = 5, r = 1, a = R - r, b = a * std::sin(angle);
            const ToolGeom t = tool(3, R, r);
            const double half = 0.5 * stepover_for_tool(&t, h, angle);
            double yAt = 0, bestDx = 1e9;
            for (int i = 0; i <= 200000; ++i) {
                const double tt = M_PI / 2 * i / 200000;
                const double D =
                    std::sqrt(a * a * std::sin(tt) * std::sin(tt) + b * b * std::cos(tt) * std::cos(tt));
                const double x = a * std::cos(tt) + r * b * std::cos(tt) / D;
                const double y = b * std::sin(tt) + r * a * std::sin(tt) / D;
                if (std::fabs(x - half) < bestDx) bestDx = std::fabs(x - half), yAt = y;
            }
            EXPECT_NEAR((b + r) - yAt, std::min(h, 0.9 * (b + r)), 2e-4) << angle << " " << h;
        }
    }
}
