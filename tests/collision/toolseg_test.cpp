#include "collision/toolseg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "collision/chkmodel.h"
#include "toolshape.h"

// Off the swing plane by s, a section of largest radius rho counts while s (1 - 1e-7) - 1e-9, the
// distance less its slack, is at most rho (1 + 1e-9) + 1e-12: at 20 exactly the stage of radius 20
// still takes off an angle, a hair beyond the radius's own slack nothing does.
TEST(ToolSeg, HalfAngleBoundAtTheWidestRadius) {
    toolSegResetState();
    ToolDescription t = toolshape::stackedTool();
    t.stage1Diameter = 40;
    toolSegProfileInit(&t, 0, 0.005);
    double in2, out2, radius;
    toolSegReach(&in2, &out2, &radius);
    ASSERT_EQ(radius, 20.0);
    const double atRadius = (20 + 1e-9) / (1 - 1e-7), pastSlack = (20 * (1 + 3e-9) + 1e-9) / (1 - 1e-7);
    EXPECT_GE(toolSegHalfAngleBound(0, out2, atRadius), 0.0);
    EXPECT_EQ(toolSegHalfAngleBound(0, out2, pastSlack), -1.0);
    toolSegResetState();
}

// A step out from the shaft (radius 5 to 15 at height 50) narrowing above it (to 10): a point 12 off the
// swing plane, as far from the pivot as the step at radius 14, is reached there; the bound over its
// distance and that far off the plane covers the angle its test takes off.
TEST(ToolSeg, HalfAngleBoundCoversAStepNarrowingAbove) {
    toolSegResetState();
    ToolDescription t = toolshape::stackedTool();
    t.stage2Diameter = 30, t.stage1Diameter = 20;
    toolSegProfileInit(&t, 0, 0.005);
    const Vec3 o{0, 0, 0}, dir{0, 0, 1}, ref{1, 0, 0}, axis{0, -1, 0}, p{std::sqrt(436.0), -12, 46};
    const double d2 = 436 + 144 + 46 * 46;
    double angle = 0;
    ASSERT_EQ(toolSegPointAngle(&o, &dir, &ref, &axis, &p, 0, &angle), kToolSegReach);
    const double off = std::atan2(p.x, p.z) - angle;
    EXPECT_NEAR(off, std::atan2(std::sqrt(14.0 * 14 - 144), 50.0), 1e-9);
    EXPECT_GE(toolSegHalfAngleBound(d2, d2, 12), off);
    toolSegResetState();
}

// A tool of no length at all: its tip is a flat disc of radius R, inside up to R less the margin 0.1.
TEST(ToolSeg, FlatTipOfNoLengthIsInsideToItsRadius) {
    toolSegResetState();
    ToolDescription t{};
    t.toolType = kEndMill, t.radius = 5, t.shaftDiameter = 10, t.stage4Top = 100;
    toolSegProfileInit(&t, 0, 0.005);
    const Vec3 tip{0, 0, 0}, axis{0, 0, 1};
    for (const auto& [q, want] : {std::pair{4.8, 1}, {4.95, 0}, {6.0, 0}}) {
        const Vec3 p{q, 0, 0};
        EXPECT_EQ(toolSegPointInside(&p, &tip, &axis), want) << q;
    }
    toolSegResetState();
}
