#include "geometry/bandhelp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

std::vector<Vec2> points(const std::vector<double>& x, const std::vector<double>& y) {
    std::vector<Vec2> p;
    for (size_t i = 0; i < x.size(); ++i) p.push_back(Vec2{x[i], y[i]});
    return p;
}

std::vector<Vec2> hull(bool above, const std::vector<Vec2>& p) {
    Vec2* h = nullptr;
    int32_t n = 0;
    const int rc = above ? hullAbove(p.data(), static_cast<int32_t>(p.size()), &h, &n)
                         : hullBelow(p.data(), static_cast<int32_t>(p.size()), &h, &n);
    EXPECT_EQ(rc, 1);
    std::vector<Vec2> out(h, h + n);
    std::free(h);
    return out;
}

}  // namespace

TEST(BandHelp, MinGapAndExtremaTakeTheFirstIndexOnTies) {
    const std::vector<double> a = {1, 0, 2, 0, 3}, b = {2, 1, 3, 5, 4};
    double v = 0;
    EXPECT_EQ(bandMinGap(a.data(), b.data(), 5, &v), 0);  // gaps 1, 1, 1, 5, 1
    EXPECT_EQ(v, 1.0);
    EXPECT_EQ(fitArrayMinIndex(a.data(), 5, &v), 1);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(fitArrayMaxIndex(b.data(), 5, &v), 3);
    EXPECT_EQ(v, 5.0);
    const std::vector<double> c = {4, 7, 7, 1, 1};
    EXPECT_EQ(fitArrayMaxIndex(c.data(), 5, &v), 1);
    EXPECT_EQ(fitArrayMinIndex(c.data(), 5, &v), 3);
    EXPECT_EQ(bandMinGap(a.data(), b.data(), 0, &v), -1);
}

TEST(BandHelp, ContainsIncludesTheBoundsAndRejectsNaN) {
    const std::vector<double> lo = {0, 1, 2}, hi = {1, 1, 3};
    struct Case {
        std::vector<double> y;
        int expect;
    } cases[] = {
        {{0, 1, 3}, 1},
        {{1, 1, 2}, 1},
        {{-1e-12, 1, 2}, 0},
        {{0.5, 1.0000001, 2}, 0},
        {{0.5, std::numeric_limits<double>::quiet_NaN(), 2}, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(bandContains(lo.data(), hi.data(), c.y.data(), 3), c.expect);
    EXPECT_EQ(bandAtLeast(lo.data(), hi.data(), 3), 1);
    EXPECT_EQ(bandAtLeast(hi.data(), lo.data(), 3), 0);
}

TEST(BandHelp, FindIntervalBrackets) {
    const std::vector<double> x = {0, 1, 2, 3, 4};
    struct Case {
        double v;
        int32_t index;
    } cases[] = {{-1, 0}, {0, 0}, {0.5, 0}, {1, 0}, {1.5, 1}, {2, 1}, {3.9, 3}, {4, 4}, {7, 4}};
    for (const auto& c : cases) EXPECT_EQ(fitFindInterval(x.data(), 5, c.v), c.index) << c.v;
}

TEST(BandHelp, HullsAreTheConvexEnvelopes) {
    const std::vector<double> x = {0, 1, 2, 3, 4};
    const auto p = points(x, {0, 3, 1, 4, 0});
    const auto above = hull(true, p);
    ASSERT_EQ(above.size(), 4u);
    const double ax[] = {0, 1, 3, 4};
    for (size_t i = 0; i < above.size(); ++i) EXPECT_EQ(above[i].x, ax[i]);
    const auto below = hull(false, p);
    ASSERT_EQ(below.size(), 2u);
    EXPECT_EQ(below[1].x, 4.0);

    std::vector<double> out(5);
    ASSERT_EQ(polylineSampleAt(x.data(), 5, above.data(), 4, out.data()), 1);
    const double expect[] = {0, 3, 3.5, 4, 0};
    for (int i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(out[i], expect[i]);
    EXPECT_EQ(polylineSampleAt(x.data(), 1, above.data(), 4, out.data()), 0);
}

TEST(BandHelp, HullOverCollinearPointsTakesEveryPointNearestFirst) {
    const std::vector<double> x = {0, 1, 2, 3, 4, 5};
    const auto p = points(x, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(hull(true, p).size(), 6u);
    EXPECT_EQ(hull(false, p).size(), 6u);
    Vec2* h = reinterpret_cast<Vec2*>(1);
    int32_t n = 5;
    EXPECT_EQ(hullAbove(p.data(), 1, &h, &n), 0);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(n, 0);
}

TEST(BandHelp, SplitEnvelopesHullEachSideOfTheNarrowPlace) {
    const std::vector<double> x = {0, 1, 2, 3, 4, 5, 6};
    const auto lo = points(x, {0, 2, 0, 0, 0, 2, 0});
    std::vector<double> whole(7), split(7);
    ASSERT_EQ(envelopeLowerSplit(x.data(), lo.data(), 7, 0, whole.data()), 1);
    const double w[] = {0, 2, 2, 2, 2, 2, 0};
    for (int i = 0; i < 7; ++i) EXPECT_DOUBLE_EQ(whole[i], w[i]) << i;
    ASSERT_EQ(envelopeLowerSplit(x.data(), lo.data(), 7, 3, split.data()), 1);
    // Left part: hull of (0,0) (1,2) (2,0) (3,0); right part: (3,0) (4,0) (5,2) (6,0).
    const double s[] = {0, 2, 1, 0, 1, 2, 0};
    for (int i = 0; i < 7; ++i) EXPECT_DOUBLE_EQ(split[i], s[i]) << i;

    std::vector<double> untouched(7, -9.0);
    EXPECT_EQ(envelopeUpperSplit(x.data(), lo.data(), 7, 7, untouched.data()), 0);
    EXPECT_EQ(envelopeUpperSplit(x.data(), lo.data(), 7, -1, untouched.data()), 0);
    for (double v : untouched) EXPECT_EQ(v, -9.0);
}

TEST(BandHelp, SmallArrayHelpers) {
    EXPECT_EQ(fitSlope2(2, 1, 2, 5), 0.0);
    EXPECT_EQ(fitSlope2(0, 1, 2, 5), 2.0);
    EXPECT_EQ(fitValueBetween(1, 2, 0), 1);
    EXPECT_EQ(fitValueBetween(2, 2, 0), 1);
    EXPECT_EQ(fitValueBetween(3, 2, 0), 0);
    const std::vector<double> x = {0, 1, 2, 3}, lo = {0, 0, 2.5, 0}, hi = {1, 1, 1.5, 1};
    EXPECT_EQ(lineAboveCount(x.data(), lo.data(), 4, 1.0, 0.0), 2);
    EXPECT_EQ(lineBelowCount(x.data(), hi.data(), 4, 1.0, 0.0), 2);
    EXPECT_EQ(lineAboveCount(x.data(), lo.data(), 2, 1.0, 0.0), 2);

    std::vector<double> out(4);
    bandFillLevel(x.data(), 4, 1.0, 3.0, 0.3, out.data());
    for (double v : out) EXPECT_DOUBLE_EQ(v, 1.6);
    evalCubicAt(x.data(), 4, 1, -2, 0, 5, out.data());
    EXPECT_DOUBLE_EQ(out[3], 27 - 18 + 5);

    TolPoint* mid = nullptr;
    const std::vector<double> a = {0, 1, 2, 3}, b = {2, 2, 2, 4};
    ASSERT_EQ(bandMidPoints(x.data(), a.data(), b.data(), &mid, 4), 1);
    EXPECT_EQ(mid[1].y, 1.5);
    EXPECT_EQ(mid[1].w, 0.5);
    mid[1].y = 1.8;
    bandClearance(a.data(), b.data(), mid, 4);
    EXPECT_NEAR(mid[1].w, 0.2, 1e-15);
    std::free(mid);
}
