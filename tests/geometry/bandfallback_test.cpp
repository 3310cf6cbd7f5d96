#include "geometry/bandfallback.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "geometry/bandhelp.h"

namespace {

struct BandCase {
    std::vector<double> x, lo, hi;
    int32_t n() const { return static_cast<int32_t>(x.size()); }
};

BandCase around(int n, double step, const std::function<double(double)>& f, double half) {
    BandCase b;
    for (int i = 0; i < n; ++i) {
        const double x = i * step;
        b.x.push_back(x);
        b.lo.push_back(f(x) - half);
        b.hi.push_back(f(x) + half);
    }
    return b;
}

bool inside(const BandCase& b, const std::vector<double>& y) {
    return bandContains(b.lo.data(), b.hi.data(), y.data(), b.n()) == 1;
}

std::vector<double> nanOut(const BandCase& b) {
    return std::vector<double>(b.x.size(), std::numeric_limits<double>::quiet_NaN());
}

}  // namespace

TEST(BandFallback, LevelRunsFromEitherEnd) {
    const std::vector<double> lo = {0, 0, 0, 1, 0, 0}, hi = {2, 2, 2, 2, 2, 0.5};
    struct Case {
        double v;
        int32_t left, right;
    } cases[] = {{0.5, 2, 4}, {1.5, 4, 0}, {0.2, 2, 4}, {2.0, 0, 5}};
    for (const auto& c : cases) {
        int32_t i = -9;
        levelRunLeft(lo.data(), hi.data(), 6, c.v, &i);
        EXPECT_EQ(i, c.left) << c.v;
        levelRunRight(lo.data(), hi.data(), 6, c.v, &i);
        EXPECT_EQ(i, c.right) << c.v;
    }
    int32_t i = -9;
    levelRunLeft(lo.data(), hi.data(), 6, std::numeric_limits<double>::quiet_NaN(), &i);
    EXPECT_EQ(i, 0);
}

TEST(BandFallback, LevelReachTakesTheFarthestLevel) {
    const std::vector<double> x = {0, 1, 2, 3, 4, 5}, lo = {0, 0, 0.5, 1, 0, 0}, hi = {2, 2, 2, 2, 1.2, 2};
    double level, reach;
    int32_t index;
    levelReachLeft(x.data(), lo.data(), hi.data(), 6, &level, &reach, &index, 4);  // levels 0.5, 1, 1.5
    EXPECT_EQ(level, 1.5);  // 0.5 stops at sample 1, 1.0 at 2, 1.5 at 3
    EXPECT_EQ(reach, 3.0);
    EXPECT_EQ(index, 3);
    levelReachRight(x.data(), lo.data(), hi.data(), 6, &level, &reach, &index, 4);
    EXPECT_EQ(level, 0.5);  // 0.5 and 1.0 run back to sample 4, 1.5 not at all; the first wins
    EXPECT_EQ(index, 4);
    // No level gets past the first sample: the level is still one of the band's own.
    const std::vector<double> lo2 = {0, 5, 5, 5, 5, 5}, hi2 = {1, 6, 6, 6, 6, 6};
    levelReachLeft(x.data(), lo2.data(), hi2.data(), 6, &level, &reach, &index, 4);
    EXPECT_EQ(level, 0.25);
    EXPECT_EQ(index, 0);
    levelReachRight(x.data(), lo2.data(), hi2.data(), 6, &level, &reach, &index, 4);
    EXPECT_GT(level, 5.0);
    EXPECT_EQ(index, 1);
}

TEST(BandFallback, InsideRunIsStrict) {
    const std::vector<double> lo(6, 0.0), hi(6, 1.0), y = {0.5, 0.5, 0.5, 1.0, 0.5, 0.5};
    int32_t first, last;
    EXPECT_EQ(insideRun(lo.data(), hi.data(), y.data(), 6, 1, &first, &last), 1);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 2);
    EXPECT_EQ(insideRun(lo.data(), hi.data(), y.data(), 6, 3, &first, &last), 0);
    EXPECT_EQ(last, 2);
    EXPECT_EQ(first, 4);
}

TEST(BandFallback, CornerRoundingStaysInside) {
    const BandCase b = around(
        11, 1.0, [](double x) { return std::fabs(x - 5); }, 1.0);
    std::vector<double> y(11);
    for (int i = 0; i < 11; ++i) y[i] = std::fabs(b.x[i] - 5);
    EXPECT_EQ(bandRoundCorner(b.x.data(), b.lo.data(), b.hi.data(), y.data(), 11, 0, 5, 10), 1);
    EXPECT_GT(y[5], 0.0);
    EXPECT_EQ(y[0], 5.0);
    EXPECT_TRUE(inside(b, y));
    EXPECT_EQ(bandRoundCorner(b.x.data(), b.lo.data(), b.hi.data(), y.data(), 11, 5, 5, 10), 0);
    // A tight band refuses every arc: the corner stays.
    const BandCase tight = around(
        11, 1.0, [](double x) { return std::fabs(x - 5); }, 1e-3);
    for (int i = 0; i < 11; ++i) y[i] = std::fabs(b.x[i] - 5);
    EXPECT_EQ(bandRoundCorner(tight.x.data(), tight.lo.data(), tight.hi.data(), y.data(), 11, 0, 5, 10), 0);
    EXPECT_EQ(y[5], 0.0);
}

TEST(BandFallback, PlateausJoinedByASmoothStep) {
    const BandCase b = around(
        41, 1.0, [](double x) { return 2 * std::tanh(x - 20); }, 0.5);
    for (int32_t gap : {0, 20, 40}) {
        auto out = nanOut(b);
        ASSERT_EQ(bandPlateauJoin(b.x.data(), b.lo.data(), b.hi.data(), out.data(), b.n(), gap),
                  kBandPlateau);
        EXPECT_TRUE(inside(b, out));
        EXPECT_EQ(out[0], out[1]);
        EXPECT_EQ(out[39], out[40]);
        for (int i = 1; i < 41; ++i) EXPECT_GE(out[i], out[i - 1] - 1e-12) << i;
    }
}

TEST(BandFallback, TautPathThroughABentBand) {
    for (double half : {1.0, 0.3}) {
        const BandCase b = around(
            41, 1.0, [](double x) { return std::fabs(x - 20); }, half);
        auto out = nanOut(b);
        ASSERT_EQ(bandTautPath(b.x.data(), b.lo.data(), b.hi.data(), out.data(), b.n()), kBandTaut) << half;
        EXPECT_TRUE(inside(b, out));
    }
}

TEST(BandFallback, ChordSubdivision) {
    // A step band of zero width but at its ends: the chords fit one after another.
    BandCase step;
    for (int i = 0; i < 41; ++i) {
        step.x.push_back(i);
        const double v = i < 20 ? 0.0 : 4.0;
        step.lo.push_back(i == 0 || i == 40 ? v - 1 : v);
        step.hi.push_back(i == 0 || i == 40 ? v + 1 : v);
    }
    auto out = nanOut(step);
    ASSERT_EQ(bandChordSplit(step.x.data(), step.lo.data(), step.hi.data(), out.data(), step.n()),
              kBandChords);
    EXPECT_TRUE(inside(step, out));

    // A zigzag band needs a chord per sample: more than 28 are refused.
    const BandCase zig = around(
        60, 1.0, [](double x) { return static_cast<int>(x) % 2 ? 5.0 : -5.0; }, 0.1);
    out = nanOut(zig);
    EXPECT_EQ(bandChordSplit(zig.x.data(), zig.lo.data(), zig.hi.data(), out.data(), zig.n()), 0);
    // 28 chords are still accepted.
    const BandCase zig29 = around(
        29, 1.0, [](double x) { return static_cast<int>(x) % 2 ? 5.0 : -5.0; }, 0.1);
    out = nanOut(zig29);
    EXPECT_EQ(bandChordSplit(zig29.x.data(), zig29.lo.data(), zig29.hi.data(), out.data(), zig29.n()),
              kBandChords);
    EXPECT_TRUE(inside(zig29, out));

    BandCase inverted = zig29;
    std::swap(inverted.lo[7], inverted.hi[7]);
    out = nanOut(inverted);
    EXPECT_EQ(
        bandChordSplit(inverted.x.data(), inverted.lo.data(), inverted.hi.data(), out.data(), inverted.n()),
        -3);
}

TEST(BandFallback, ChordLimitIsTwentyEightExactly) {
    // 29 chords (30 samples of a zigzag) are one too many: refused without writing past the limit.
    const BandCase zig = around(
        30, 1.0, [](double x) { return static_cast<int>(x) % 2 ? 5.0 : -5.0; }, 0.1);
    auto out = nanOut(zig);
    EXPECT_EQ(bandChordSplit(zig.x.data(), zig.lo.data(), zig.hi.data(), out.data(), zig.n()), 0);
}
