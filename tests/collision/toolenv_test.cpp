#include "collision/toolenv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "kernel/base/rng.h"

namespace {

ToolDescription raw(uint16_t type, double R, double corner, double total, double tip) {
    ToolDescription d{};
    d.toolType = type, d.radius = R, d.cornerRadius = corner, d.cutterTop = total, d.tipTop = tip;
    d.shaftDiameter = 2 * R;
    return d;
}

}  // namespace

// Type, R, corner, total, tip, allowance -> cutterTop, tipTop, corner radius.
TEST(ToolEnv, FillTable) {
    const double cases[][9] = {
        {1, 5, 0, 80, 30, 0, 75, 25, 5},    // ball: the reference point is the ball's centre
        {2, 5, 3, 80, 30, 0, 80, 30, 0},    // flat: no corner
        {3, 5, 2, 80, 30, 0, 78, 28, 2},    // radius mill keeps its corner
        {12, 4, 0, 50, 3, 0, 46, 0, 4},     // a tip below the corner radius is floored
        {1, 5, 0, 80, 30, 100, 0, 0, 105},  // an allowance beyond every height floors them
    };
    for (const auto& c : cases) {
        ToolDescription d = raw(static_cast<uint16_t>(c[0]), c[1], c[2], c[3], c[4]);
        toolenv_fill(&d, 1);
        toolenv_offset(&d, c[5], 0.0);
        EXPECT_TRUE(d.cutterTop == c[6] && d.tipTop == c[7] && d.cornerRadius == c[8]) << c[0];
    }
    // A flat end mill's cutting length, and the next stage's height above the tip, from 1e-5 up see
    // their stages (diameter 30, then the given one) from the tip; below it at no angle.
    const double lengths[][4] = {{1e-5, 0, 10, std::atan2(10, 1e-5)},
                                 {0.5e-5, 0, 10, 0},
                                 {0, 1e-5, 40, std::atan2(15, 1e-5)},
                                 {0, 0.5e-5, 40, 0}};
    for (const auto& l : lengths) {
        ToolDescription d = raw(2, 5, 0, l[0], 0);
        d.stage2Top = l[1], d.stage2Diameter = 30, d.stage1Diameter = l[2];
        toolenv_fill(&d, 1);
        EXPECT_EQ(d.maxSideAngle, l[3]) << l[0] << " " << l[1];
    }
}

// The stacked heights and grown diameters against their closed forms, on seeded raw values.
TEST(ToolEnv, StackedBuildMatchesClosedForm) {
    rngResetState();
    for (int n = 0; n < 200; n++) {
        const uint16_t type = static_cast<uint16_t>(1 + rngBelow(3));
        const double R = 1 + 9 * rngUniform(), corner = type == 3 ? R * rngUniform() : 0.0;
        const double total = 40 + 60 * rngUniform(), tip = 20 * rngUniform(), chamfer = 5 * rngUniform();
        const double L2 = 30 * rngUniform(), L1 = 30 * rngUniform(), L34 = 20 * rngUniform();
        const double D = 2 * R + 5 * rngUniform(), allow = 0.5 * rngUniform(), shaft = 0.3 * rngUniform();
        ToolDescription d = raw(type, R, corner, total, tip);
        d.chamferTop = chamfer, d.shaftDiameter = D, d.stage2Top = L2, d.stage1Top = L1;
        d.stage3Top = d.stage4Top = L34, d.stage2Diameter = 30, d.stage1Diameter = 40;
        const int tipMode = rngBelow(2);
        toolenv_fill(&d, tipMode);
        toolenv_offset(&d, allow, 0.01);
        toolenv_offset_b(&d, shaft);
        const double c = type == 1 ? R : type == 2 ? 0.0 : corner;
        auto h = [&](double v) { return std::max(std::max(v - allow, 0.0) - shaft, 0.0); };
        const double top = std::max(total - c, 0.0), tipTop = std::max(tip - c, 0.0);
        EXPECT_NEAR(d.cutterTop, h(top), 1e-12);
        EXPECT_NEAR(d.tipTop, h(tipTop), 1e-12);
        EXPECT_NEAR(d.chamferTop, h(chamfer + tipTop), 1e-12);
        EXPECT_NEAR(d.stage1Top, h(top + L2 + L1), 1e-12);
        EXPECT_NEAR(d.stage4Top, h(top + L2 + L1 + 2 * L34), 1e-12);
        EXPECT_NEAR(d.radius, R + allow, 1e-12);
        EXPECT_NEAR(d.shaftDiameter, D + 2 * (allow + 0.01) + 2 * shaft, 1e-12);
        EXPECT_NEAR(d.stage1Diameter, 40 + 2 * (allow + 0.01) + 2 * shaft, 1e-12);
        EXPECT_EQ(d.tipOffset, tipMode ? c : 0.0);
        EXPECT_NEAR(d.maxSideAngle, std::max(std::atan2(15 - R, top), std::atan2(20 - R, top + L2)), 1e-12);
    }
}

// Ball R 5, total length 80, diameters 30 and d1 below; clearance max(0.2 R, 0.025 d1) without the
// envelope mode.
TEST(ToolEnv, ProvisionalEnvelopeTable) {
    // Mode, tip, shaft, chamfer, d1 -> cutterTop, tipTop, chamferTop, shaftDiameter.
    const double cases[][9] = {
        {1, 0, 10, 0, 20, 75, 0, 0, 10},    // the report's reducible length is 75
        {1, 90, 10, 4, 20, 75, 75, 0, 10},  // a tip beyond the cutter is cut, no room for the chamfer
        {1, 20, 0, 4, 20, 75, 20, 4, 10},   // shaft diameter 0 stands for the cutter's own: no shank angle
        {0, 20, 14, 4, 20, 74, 20, 4, 14},  // clearance 1
        {0, 20, 14, 4, 80, 73, 20, 4, 14},  // clearance 2
        {1, 5, 15, 0, 20, 75, 5, 0, 15},    // a shank of three radii rises steeper than the stages
    };
    for (const auto& c : cases) {
        toolenvResetState();
        set_toolenv_mode(static_cast<int32_t>(c[0]));
        const CutterShape cutter{1, 5, 5, 0, c[1], c[2], c[3], 0, 0};
        ToolDescription d{};
        toolenv_create(&d, &cutter, 0, 10, 10, 80, c[4], 30, 1);
        EXPECT_TRUE(d.cutterTop == c[5] && d.tipTop == c[6] && d.chamferTop == c[7] &&
                    d.shaftDiameter == c[8])
            << c[1];
        EXPECT_EQ(d.stage1Top, c[5] + 20);  // lengths 2 and 1 (10 each) stack above the cutter
        const double e = c[0] ? 0.0 : std::max(1.0, 0.025 * c[4]);
        const double base = std::max(std::atan2(10 + e, c[5]), std::atan2(c[4] / 2 + e - 5, c[5] + 10));
        const double shank = c[8] == 10 ? 0.0 : std::atan2(c[8] / 2 - 5, c[6] + c[7]);
        EXPECT_DOUBLE_EQ(d.maxSideAngle, std::max(base, shank));
        toolenv_add_holder(&d, 0, 100, 10, 120, 25);  // the clearance grows the head stages too
        EXPECT_TRUE(d.stage3Diameter == 100 + 2 * e && d.stage4Diameter == 120 + 2 * e) << c[4];
    }
    // Head stages never narrower than the stage below (less than 1e-5 wider gives way to it); each one
    // standing from a height of 1e-5 raises the side angle of the radius 5 tool, unless both gave way.
    // Stage 1 top, diameter 3, length 3, diameter 4 -> diameters 3, 4, angle.
    const double a = 1e-5, w = 40 + 1e-5;
    const double holders[][7] = {
        {50, 60, 10, 80, 60, 80, std::atan2(35, 60)},
        {50, 20, 10, 60, 40, 60, std::atan2(25, 60)},
        {50, w, 10, 60, w, 60, std::atan2(25, 60)},
        {50, 40 + 5e-6, 10, 60, 40, 60, std::atan2(25, 60)},
        {50, 60, 10, 60 + 5e-6, 60, 60, std::atan2(25, 50)},
        {50, 20, 10, 30, 40, 40, 0},
        {a, 60, 0, 80, 60, 80, std::atan2(35, a)},
        {a / 2, 60, a / 2, 80, 60, 80, std::atan2(35, a)},
        {a / 2, 60, 0, 80, 60, 80, 0},
    };
    for (const auto& h : holders) {
        ToolDescription d{};
        d.radius = 5, d.stage1Diameter = 40, d.stage1Top = h[0];
        set_toolenv_mode(1);
        toolenv_add_holder(&d, 0, h[1], h[2], h[3], 25);
        EXPECT_TRUE(d.stage3Diameter == h[4] && d.stage4Diameter == h[5]) << h[0] << " " << h[1];
        EXPECT_EQ(d.stage4Top, h[0] + h[2] + 25);
        EXPECT_DOUBLE_EQ(d.maxSideAngle, h[6]) << h[0] << " " << h[1];
    }
    toolenvResetState();
}

// A missing description is passed over by every step that fills or offsets one.
TEST(ToolEnv, MissingDescriptionIsPassedOver) {
    const CutterShape cutter{1, 5, 5, 0, 20, 10, 0, 0, 0};
    toolenv_create(nullptr, &cutter, 0, 10, 10, 80, 20, 30, 1);
    toolenv_add_shank(nullptr, 20, 10, 0, 0);
    toolenv_add_holder(nullptr, 0, 20, 15, 60, 25);
    toolenv_fill(nullptr, 1);
    toolenv_offset(nullptr, 0.5, 0.1);
    toolenv_offset_b(nullptr, 0.5);
    ToolDescription d = raw(1, 5, 0, 80, 30);
    toolenv_offset_b(&d, 0.5);
    EXPECT_TRUE(d.cutterTop == 79.5 && d.tipTop == 29.5 && d.shaftDiameter == 11);
    // A shank less than 1e-5 wider than the cutter (radius, shank) adds no side angle.
    for (const auto& [R, shank] : {std::pair{5.0, 10 + 5e-6}, {5.0, 10 + 2e-5}, {0.0, 1e-5}, {0.0, 0.9e-5}}) {
        ToolDescription s = raw(1, R, 0, 80, 30);
        toolenv_add_shank(&s, 20, shank, 0, 0);
        EXPECT_NEAR(s.maxSideAngle, shank - 2 * R < 1e-5 ? 0.0 : std::atan2(shank / 2 - R, 20), 1e-15)
            << shank;
    }
}
