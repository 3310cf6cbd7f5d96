#include "kernel/ncout/sbsout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "kernel/cycle/nccapture.h"

namespace {

class SbsOut : public NcWriterTest {
  protected:
    void TearDown() override {
        sbsResetState();
        NcWriterTest::TearDown();
    }
};

std::vector<std::map<std::string, double>> sbsPoints() {
    std::vector<std::map<std::string, double>> out;
    for (const auto& v : variables())
        if (v.rfind("proc=SBS_point,", 0) == 0) out.push_back(sbsFields(v));
    return out;
}

int flushPath(const std::vector<Vec3>& tips, const Vec3& axis = {0, 0, 1}) {
    EXPECT_EQ(sbsBufferCreate(), 1);
    for (const auto& t : tips) EXPECT_EQ(sbsBufferAdd(&t, &axis), 1);
    return ncSbsFlush();
}

std::vector<Vec3> bend(double degrees) {
    double a = degrees * M_PI / 180.0;
    return {{0, 0, 0}, {10, 0, 0}, {10 + 10 * std::cos(a), 10 * std::sin(a), 0}};
}

}  // namespace

TEST_F(SbsOut, NearTipsMerge) {
    Vec3 axis = {0, 0, 1}, p = {1, 2, 3}, q = {1 + 1e-6, 2, 3}, r = {2, 2, 3};
    EXPECT_EQ(sbsBufferAdd(&p, &axis), -1);  // no buffer
    EXPECT_EQ(sbsBufferCount(), -1);
    ASSERT_EQ(sbsBufferCreate(), 1);
    EXPECT_EQ(sbsBufferAdd(&p, &axis), 1);
    EXPECT_EQ(sbsBufferAdd(&q, &axis), 0);
    EXPECT_EQ(sbsBufferCount(), 1);
    EXPECT_EQ(sbsBufferAdd(&r, &axis), 1);
    EXPECT_EQ(sbsBufferAdd(nullptr, &axis), -1);
    EXPECT_EQ(sbsBufferCount(), 2);
}

TEST_F(SbsOut, SharpCornersStandTwice) {
    // Statements are the tip curve's control points 1 .. count-1: one more than the tip sequence.
    struct Case {
        const char* what;
        std::vector<Vec3> tips;
        int statements;
    } cases[] = {
        {"single point", {{1, 2, 3}}, 0},
        {"two points: no spline", {{0, 0, 0}, {10, 0, 0}}, 0},
        {"straight", {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}}, 4},
        {"90 degree corner", bend(90), 5},
        {"20 degree bend", bend(20), 4},
        {"29 degree bend", bend(29), 4},
        {"31 degree bend", bend(31), 5},
        {"two corners", {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {20, 10, 0}}, 7},
        {"reversal", {{0, 0, 0}, {10, 0, 0}, {5, 0.001, 0}}, 5},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        captured().clear();
        EXPECT_EQ(flushPath(k.tips), k.statements);
        EXPECT_EQ(sbsPoints().size(), static_cast<size_t>(k.statements));
        EXPECT_EQ(sbsBufferCount(), 0);
        for (const auto& s : sbsPoints())
            for (const auto& [key, v] : s) EXPECT_TRUE(std::isfinite(v)) << key;
    }
}

TEST_F(SbsOut, StatementsCarryTipAndAxisCurves) {
    const std::vector<Vec3> tips = {{0, 0, 0}, {5, 1, 0}, {10, 3, 1}, {15, 4, 1}, {20, 4, 2}};
    const Vec3 axis = {0.6, 0, 0.8};
    int written = flushPath(tips, axis);
    auto points = sbsPoints();
    ASSERT_EQ(written, 6);
    ASSERT_EQ(points.size(), 6u);
    double total = 0.0;
    for (size_t i = 1; i < tips.size(); ++i) total += dist3D(&tips[i - 1], &tips[i]);
    double inner = 0.0;
    for (size_t i = 0; i < points.size(); ++i) {
        auto& s = points[i];
        // The axis curve is the tip curve shifted 10 along the constant axis.
        EXPECT_NEAR(s["v_xh"] - s["v_x"], 6.0, 2e-6);
        EXPECT_NEAR(s["v_yh"] - s["v_y"], 0.0, 2e-6);
        EXPECT_NEAR(s["v_zh"] - s["v_z"], 8.0, 2e-6);
        if (i == 0 || i + 1 == points.size())
            EXPECT_EQ(s["v_pl"], -1.0);
        else
            inner += s["v_pl"];
    }
    EXPECT_NEAR(inner, total, 1e-5);  // the inner parameters share out the path length
    EXPECT_NEAR(points.back()["v_x"], 20.0, 1e-6);
    EXPECT_NEAR(points.back()["v_z"], 2.0, 1e-6);
}

TEST_F(SbsOut, FlushFreeReleasesTheBuffer) {
    EXPECT_EQ(sbsBufferFlushFree(), 0);
    EXPECT_EQ(ncSbsFlush(), -1);
    ASSERT_EQ(sbsBufferCreate(), 1);
    EXPECT_EQ(sbsBufferFlushFree(), 1);  // empty: nothing written
    EXPECT_TRUE(captured().empty());
    EXPECT_EQ(sbsBufferCount(), -1);
    ASSERT_EQ(sbsBufferCreate(), 1);
    for (const Vec3& t : bend(90)) {
        Vec3 axis = {0, 0, 1};
        sbsBufferAdd(&t, &axis);
    }
    EXPECT_EQ(sbsBufferFlushFree(), 1);
    EXPECT_EQ(sbsPoints().size(), 5u);
    EXPECT_EQ(sbsBufferCount(), -1);
}
