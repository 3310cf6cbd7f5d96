#include "collision/toolseg.h"

#include <gtest/gtest.h>

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
