// The link layer wired to the NC output as the plunge cycle registers it.
#include <gtest/gtest.h>

#include <cmath>

#include "avoidance/linkout.h"
#include "kernel/idx5.h"
#include "kernel/nccapture.h"

namespace {

class LinkToNc : public NcWriterTest {
  protected:
    void SetUp() override {
        NcWriterTest::SetUp();
        linkOutResetState();
        linkSetPointCallbacks(ncPointOut, ncListBegin, ncListEnd);
        linkSetSectionCallbacks(33, ncSectionBegin, ncSectionEnd);
        linkSetAxisCallback(idx5SetPivotCallback);
    }
    void TearDown() override {
        linkOutResetState();
        idx5PivotResetState();
        NcWriterTest::TearDown();
    }
};

TEST_F(LinkToNc, EveryMoveCarriesThePointAndTheAxisSentBeforeIt) {
    struct Step {
        Vec3 p, axis;
        int32_t cls;
    } steps[] = {
        {{1, 2, 3}, {0, 0, 1}, 0},
        {{2, 3, 5}, {0.6, 0, 0.8}, 1},
        {{3, 5, 4}, {0, 0.6, 0.8}, 0},
        {{4, 4, 2}, {0.48, 0.36, 0.8}, 1},
    };
    int32_t types[2] = {0, 0};
    for (const Step& s : steps) {
        captured().clear();
        linkSetToolAxis(&s.axis);
        ASSERT_EQ(linkEmitPosition(&s.p, s.cls), 0);
        const auto moves = onChannel(31);
        ASSERT_FALSE(moves.empty());
        const Captured& m = moves.back();
        if (types[s.cls] == 0) types[s.cls] = m.type();
        EXPECT_EQ(m.type(), types[s.cls]);  // the move class reaches the output unchanged
        EXPECT_DOUBLE_EQ(m.f64(KVNC_MOVE5_X), s.p.x);
        EXPECT_DOUBLE_EQ(m.f64(KVNC_MOVE5_Y), s.p.y);
        EXPECT_DOUBLE_EQ(m.f64(KVNC_MOVE5_Z), s.p.z);
        EXPECT_DOUBLE_EQ(m.f64(KVNC_MOVE5_I), s.axis.x);
        EXPECT_DOUBLE_EQ(m.f64(KVNC_MOVE5_J), s.axis.y);
        EXPECT_DOUBLE_EQ(m.f64(KVNC_MOVE5_K), s.axis.z);
    }
    EXPECT_NE(types[0], types[1]);
    // Only the 3D path section passes the mask of the plunge cycle.
    ncSectionBegin(1, 0.0, 0.0);
    captured().clear();
    linkCallSectionEnd(64);
    EXPECT_TRUE(onChannel(12).empty());
    linkCallSectionEnd(1);
    ASSERT_EQ(onChannel(12).size(), 1u);
    EXPECT_EQ(onChannel(12)[0].type(), 5002);
}

}  // namespace
