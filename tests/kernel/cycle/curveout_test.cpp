#include "kernel/ncout/curveout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "kernel/cycle/nccapture.h"

namespace {

using CurveOut = NcWriterTest;

PointArray* arrayOf(const std::vector<Vec3>& points) {
    PointArray* a = pointArrayCreate(static_cast<int32_t>(points.size()));
    for (const auto& p : points) {
        const double xyz[3] = {p.x, p.y, p.z};
        pointArrayAppend(a, xyz);
    }
    return a;
}

std::string fmt4(const double* c) {
    char buf[160];
    snprintf(buf, sizeof buf, "%.4lf %.4lf %.4lf %.4lf", c[0], c[1], c[2], c[3]);
    return buf;
}

std::string fmt1(const char* format, double v) {
    char buf[64];
    snprintf(buf, sizeof buf, format, v);
    return buf;
}

}  // namespace

TEST_F(CurveOut, DSplineLinesComeInOrder) {
    const std::vector<Vec3> pts = {{0, 0, 0}, {10, 2, 1}, {20, 0, 3}, {30, 5, 3}};
    PointArray* a = arrayOf(pts);
    ASSERT_EQ(writeCurveOutput(a, 1200.0), 1);
    pointArrayFree(a);

    PolyCurve* curve = splineThroughPoints(pts.data(), 4, kSplineChord);
    SplineSet* group = splineToPoly(curve);
    ASSERT_TRUE(curve && group);
    std::vector<std::string> expected = {"#D_SPLINE[0,1]", "#D_SPLINE[2,3]", "#D_SPLINE[4,5]",
                                         "(------ DATA -----)"};
    const double zero[4] = {0, 0, 0, 0}, unit[4] = {1, 0, 0, 0};
    for (int k = 0; k < 3; ++k) {
        const PolySeg& s = curve->segs[k];
        const ArcLenEntry& e = group->entries[k];
        std::vector<std::string> seg = {std::to_string(2 * k),
                                        "t0.0000",
                                        fmt4(s.cx),
                                        fmt4(s.cy),
                                        fmt4(s.cz),
                                        "t1.0000",
                                        fmt1("%.4lf", e.length),
                                        fmt4(e.coef),
                                        "F1200.0000",
                                        std::to_string(2 * k + 1),
                                        fmt4(zero),
                                        fmt4(zero),
                                        fmt4(unit)};
        expected.insert(expected.end(), seg.begin(), seg.end());
    }
    EXPECT_EQ(commentLines(), expected);
    for (const auto& c : captured()) EXPECT_EQ(c.channel, 32);
    splineSetFree(group);
    polyCurveFree(curve);
}

TEST_F(CurveOut, ArcLengthCubicRunsFromZeroToOne) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> coord(-50.0, 50.0);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<Vec3> pts(3 + trial % 5);
        for (auto& p : pts) p = {coord(rng), coord(rng), coord(rng)};
        PolyCurve* curve = splineThroughPoints(pts.data(), static_cast<int32_t>(pts.size()), kSplineChord);
        ASSERT_NE(curve, nullptr);
        SplineSet* group = splineToPoly(curve);
        ASSERT_NE(group, nullptr);
        ASSERT_EQ(group->count, curve->count);
        for (int32_t k = 0; k < curve->count; ++k) {
            const ArcLenEntry& e = group->entries[k];
            EXPECT_EQ(e.order, 4);
            EXPECT_EQ(e.start, 0.0);
            EXPECT_EQ(e.coef[0], 0.0);  // t(0) = 0
            double L = e.length;
            EXPECT_NEAR(e.coef[1] * L + e.coef[2] * L * L + e.coef[3] * L * L * L, 1.0, 1e-9);
            // L is the length of the 20-chord polygon of the segment.
            double s = 0.0;
            Vec3 prev, p;
            polySegEval3D(&curve->segs[k], 0.0, &prev);
            for (int i = 1; i <= 20; ++i) {
                polySegEval3D(&curve->segs[k], i / 20.0, &p);
                s += dist3D(&prev, &p);
                prev = p;
            }
            EXPECT_NEAR(L, s, 1e-9 * (1 + s));
        }
        splineSetFree(group);
        polyCurveFree(curve);
    }
    // A segment run at constant speed has t(s) = s / L.
    Vec3 p0 = {0, 0, 0}, p1 = {0.001, 0, 0}, p2 = {0.002, 0, 0}, p3 = {0.003, 0, 0};
    PolyCurve* line = polyCurveFromBezier(&p0, &p1, &p2, &p3, 1.0);
    SplineSet* group = splineToPoly(line);
    ASSERT_NE(group, nullptr);
    EXPECT_NEAR(group->entries[0].length, 0.003, 1e-15);
    EXPECT_NEAR(group->entries[0].coef[1] * 0.003, 1.0, 1e-9);  // short segments fit as well
    EXPECT_NEAR(group->entries[0].coef[2] * 0.003 * 0.003, 0.0, 1e-9);
    EXPECT_NEAR(group->entries[0].coef[3] * 0.003 * 0.003 * 0.003, 0.0, 1e-9);
    splineSetFree(group);
    polyCurveFree(line);
}

TEST_F(CurveOut, StraightSegmentHasNoHigherPolyParts) {
    Vec3 p0 = {0, 0, 0}, p1 = {1, 2, 3}, p2 = {2, 4, 6}, p3 = {3, 6, 9};
    PolyCurve* line = polyCurveFromBezier(&p0, &p1, &p2, &p3, 1.0);
    ASSERT_EQ(writePolySpline(line), 1);
    polyCurveFree(line);
    EXPECT_EQ(commentLines(),
              (std::vector<std::string>{"G1 X0.000 Y0.000 Z0.000",
                                        "POLY PO[X]=( 3.0000, 0.0000, 0.0000)PO[Y]=( 6.0000, 0.0000, 0.0000)"
                                        "PO[Z]=( 9.0000, 0.0000, 0.0000)"}));
}

TEST_F(CurveOut, NonCubicSegmentEndsTheOutput) {
    setMessageLevel(nullptr, 9 | kMsgTraceBit);
    double c[2][3][4] = {{{0, 1, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},
                         {{1, 1, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}};
    PolySeg segs[2] = {{4, c[0][0], c[0][1], c[0][2]}, {3, c[1][0], c[1][1], c[1][2]}};
    double params[3] = {0, 1, 2};
    PolyCurve curve = {2, params, segs};
    SplineSet* group = splineToPoly(&curve);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(writeDSpline(&curve, group, 100.0), 1);
    EXPECT_EQ(commentLines().size(), 3u + 13u);  // the first segment's block, then it stops
    EXPECT_EQ(variables(0), (std::vector<std::string>{"error=9999,Spline ist nicht kubisch : 3"}));
    splineSetFree(group);

    captured().clear();
    ASSERT_EQ(writePolySpline(&curve), 1);
    EXPECT_EQ(commentLines().size(), 2u);
    EXPECT_EQ(variables(0).size(), 1u);
}

TEST_F(CurveOut, MissingInputIsRefused) {
    EXPECT_EQ(writeCurveOutput(nullptr, 1.0), -1);
    EXPECT_EQ(writePolyOutput(nullptr, 1.0), -1);
    PointArray empty = {0, 0, nullptr};
    EXPECT_EQ(writeCurveOutput(&empty, 1.0), -1);
    EXPECT_EQ(writeDSpline(nullptr, nullptr, 1.0), -1);
    EXPECT_EQ(writePolySpline(nullptr), -1);
    EXPECT_EQ(splineToPoly(nullptr), nullptr);

    const std::vector<Vec3> pts = {{0, 0, 0}, {1, 0, 0}, {2, 1, 0}};
    PolyCurve* curve = splineThroughPoints(pts.data(), 3, kSplineChord);
    SplineSet* group = splineToPoly(curve);
    group->count = 1;  // fewer entries than segments
    EXPECT_EQ(writeDSpline(curve, group, 1.0), -1);
    group->count = curve->count;
    splineSetFree(group);
    polyCurveFree(curve);

    PointArray* same = arrayOf({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}});  // no curve through one point
    EXPECT_EQ(writeCurveOutput(same, 1.0), 0);
    EXPECT_EQ(writePolyOutput(same, 1.0), 0);
    pointArrayFree(same);
    EXPECT_TRUE(captured().empty());
}
