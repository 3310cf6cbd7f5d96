#include "collision/toolenv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "geometry/rng.h"

namespace {

struct ToolEnvTest : ::testing::Test {
    void SetUp() override { toolenvResetState(); }
    void TearDown() override { toolenvResetState(); }
};

ToolDescription raw(uint16_t type, double R, double corner, double total, double tip, double chamfer) {
    ToolDescription d{};
    d.toolType = type;
    d.radius = R;
    d.cornerRadius = corner;
    d.cutterTop = total;
    d.tipTop = tip;
    d.chamferTop = chamfer;
    d.shaftDiameter = 2 * R;
    return d;
}

}  // namespace

TEST_F(ToolEnvTest, FillTable) {
    const struct {
        uint16_t type;
        double R, corner, total, tip, allowance;
        double cutterTop, tipTop, cornerAfter;
    } cases[] = {
        {1, 5, 0, 80, 30, 0, 75, 25, 5},    // ball: the reference point is the ball's centre
        {2, 5, 3, 80, 30, 0, 80, 30, 0},    // flat: no corner
        {3, 5, 2, 80, 30, 0, 78, 28, 2},    // radius mill keeps its corner
        {12, 4, 0, 50, 3, 0, 46, 0, 4},     // a tip below the corner radius is floored
        {1, 5, 0, 80, 30, 100, 0, 0, 105},  // an allowance beyond every height floors them
    };
    for (const auto& c : cases) {
        ToolDescription d = raw(c.type, c.R, c.corner, c.total, c.tip, 0);
        toolenv_fill(&d, 1);
        toolenv_offset(&d, c.allowance, 0.0);
        EXPECT_DOUBLE_EQ(d.cutterTop, c.cutterTop) << c.type;
        EXPECT_DOUBLE_EQ(d.tipTop, c.tipTop) << c.type;
        EXPECT_DOUBLE_EQ(d.cornerRadius, c.cornerAfter) << c.type;
    }
}

// The stacked heights and grown diameters against their closed forms, on seeded raw values.
TEST_F(ToolEnvTest, StackedBuildMatchesClosedForm) {
    rngResetState();
    for (int n = 0; n < 200; n++) {
        const uint16_t type = static_cast<uint16_t>(1 + rngBelow(3));
        const double R = 1 + 9 * rngUniform(), corner = type == 3 ? R * rngUniform() : 0.0;
        const double total = 40 + 60 * rngUniform(), tip = 20 * rngUniform(), chamfer = 5 * rngUniform();
        const double L2 = 30 * rngUniform(), L1 = 30 * rngUniform(), L3 = 20 * rngUniform(),
                     L4 = 20 * rngUniform();
        const double D = 2 * R + 5 * rngUniform(), allow = 0.5 * rngUniform(), shaft = 0.3 * rngUniform();
        ToolDescription d = raw(type, R, corner, total, tip, chamfer);
        d.shaftDiameter = D;
        d.stage2Top = L2, d.stage1Top = L1, d.stage3Top = L3, d.stage4Top = L4;
        d.stage2Diameter = 30, d.stage1Diameter = 40;
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
        EXPECT_NEAR(d.stage2Top, h(top + L2), 1e-12);
        EXPECT_NEAR(d.stage1Top, h(top + L2 + L1), 1e-12);
        EXPECT_NEAR(d.stage4Top, h(top + L2 + L1 + L3 + L4), 1e-12);
        EXPECT_NEAR(d.shaftDiameter, D + 2 * (allow + 0.01) + 2 * shaft, 1e-12);
        EXPECT_NEAR(d.stage1Diameter, 40 + 2 * (allow + 0.01) + 2 * shaft, 1e-12);
        EXPECT_EQ(d.tipOffset, tipMode ? c : 0.0);
        EXPECT_NEAR(d.maxSideAngle, std::max(std::atan2(15 - R, top), std::atan2(20 - R, top + L2)), 1e-12);
    }
}

TEST_F(ToolEnvTest, ProvisionalEnvelopeTable) {
    const struct {
        int mode;
        double tipLength, shaftDiameter, chamfer, length1;
        double cutterTop, tipTop, chamferTop, shaftOut;
    } cases[] = {
        {1, 0, 10, 0, 20, 75, 0, 0, 10},    // envelope mode: no clearance
        {1, 90, 10, 4, 20, 75, 75, 0, 10},  // a tip beyond the cutter is cut, nothing left for the chamfer
        {1, 20, 0, 4, 20, 75, 20, 4, 10},   // shaft diameter 0 stands for the cutter's own
        {0, 20, 14, 4, 20, 74, 20, 4, 14},  // clearance max(0.2 R, 0.025 D1) = 1
        {0, 20, 14, 4, 80, 73, 20, 4, 14},  // clearance 0.025 * 80 = 2
    };
    for (const auto& c : cases) {
        toolenvResetState();
        set_toolenv_mode(c.mode);
        const CutterShape cutter{1, 5, 5, 0, c.tipLength, c.shaftDiameter, c.chamfer, 0, 0};
        ToolDescription d{};
        toolenv_create(&d, &cutter, 0, 10, 10, 80, c.length1, 30, 1);
        EXPECT_DOUBLE_EQ(d.cutterTop, c.cutterTop);
        EXPECT_DOUBLE_EQ(d.tipTop, c.tipTop);
        EXPECT_DOUBLE_EQ(d.chamferTop, c.chamferTop);
        EXPECT_DOUBLE_EQ(d.shaftDiameter, c.shaftOut);
        EXPECT_EQ(d.thickShaft, 1);
        const double e = c.mode ? 0.0 : std::max(1.0, 0.025 * c.length1);
        const double base = std::max(std::atan2((30 + 2 * e) / 2 - 5, c.cutterTop),
                                     std::atan2((c.length1 + 2 * e) / 2 - 5, c.cutterTop + 10));
        const double shank = std::atan2(c.shaftOut / 2 - 5, c.tipTop + c.chamferTop);
        EXPECT_DOUBLE_EQ(d.maxSideAngle, c.shaftOut == 10 ? base : std::max(base, shank));
    }
}

TEST_F(ToolEnvTest, HolderStagesNeverNarrowerThanTheStageBelow) {
    set_toolenv_mode(1);
    const CutterShape cutter{1, 5, 5, 0, 0, 0, 0, 0, 0};
    ToolDescription d{};
    toolenv_create(&d, &cutter, 0, 10, 10, 80, 40, 30, 0);
    toolenv_add_holder(&d, 0, 20, 15, 60, 25);
    EXPECT_DOUBLE_EQ(d.stage3Diameter, 40);  // 20 replaced by the stage below
    EXPECT_DOUBLE_EQ(d.stage4Diameter, 60);
    EXPECT_DOUBLE_EQ(d.stage3Top, 95 + 15);
    EXPECT_DOUBLE_EQ(d.stage4Top, 95 + 40);
    EXPECT_DOUBLE_EQ(d.maxSideAngle, std::atan2(25, 110));
}

TEST_F(ToolEnvTest, KeywordsNameTheStackedFields) {
    ToolDescription d{};
    const struct {
        const char* key;
        double* field;
    } cases[] = {{"*TOTAL_TOOL_LENGTH", &d.cutterTop},
                 {"TIP_LENGTH", &d.tipTop},
                 {"*HEAD_LENGTH1", &d.stage4Top},
                 {"*length4", &d.stage4Top},
                 {"*HEAD_DIAMETER2", &d.stage3Diameter},
                 {"*DIAMETER1", &d.stage1Diameter},
                 {"*FRRADIUSX", nullptr},
                 {"", nullptr}};
    for (const auto& c : cases) EXPECT_EQ(toolenvField(&d, c.key), c.field) << c.key;
}
