#include "plunge/tiltseq.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernel/base/rng.h"
#include "memshort.h"

namespace {

TiltSeq* windows(const std::vector<std::pair<double, double>>& w) {
    std::vector<double> x;
    for (size_t i = 0; i < w.size(); ++i) x.push_back(static_cast<double>(i));
    TiltSeq* s = newTiltSeq(static_cast<int32_t>(w.size()), x.data());
    for (size_t i = 0; s && i < w.size(); ++i) {
        s->lower[i] = w[i].first;
        s->upper[i] = w[i].second;
    }
    return s;
}

}  // namespace

TEST(TiltSeq, CommonTiltByOverlap) {
    // overlap of the windows -> tilt relative to the largest lower edge (side 1)
    struct Case {
        double overlap, expected;
    } cases[] = {{0.5, 0.035}, {0.35, 0.035}, {0.2, 0.02}, {0.1, 0.01}, {0.03, 0.015}, {0.0, 0.0}};
    for (const Case& c : cases) {
        TiltSeq* s = windows({{-0.3, 0.1 + c.overlap}, {0.1, 0.4 + c.overlap}, {-0.2, 0.1 + c.overlap}});
        ASSERT_NE(s, nullptr);
        // The upper side mirrors it below the smallest upper edge.
        ASSERT_EQ(tiltSeqCommonTilt(s, 0, 2, kTiltSideUpper), 1) << c.overlap;
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(s->tilt[i], 0.1 + c.overlap - c.expected, 1e-12) << c.overlap;
        ASSERT_EQ(tiltSeqCommonTilt(s, 0, 2, kTiltSideLower), 1) << c.overlap;
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(s->tilt[i], 0.1 + c.expected, 1e-12) << c.overlap;
        // The fit takes the common tilt as it is: code 0, solved.
        for (int i = 0; i < 3; ++i) s->tilt[i] = 9;
        ASSERT_EQ(tiltSeqFit(s, kTiltSideLower), 0);
        EXPECT_EQ(s->solved, 1);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(s->tilt[i], 0.1 + c.expected, 1e-12) << c.overlap;
        freeTiltSeq(s);
    }
    // The tightest window decides wherever it lies, the first and the last too.
    for (int tight = 0; tight < 3; ++tight) {
        std::vector<std::pair<double, double>> w(3, {-0.3, 0.5});
        w[size_t(tight)] = {0.1, 0.2};
        TiltSeq* s = windows(w);
        ASSERT_EQ(tiltSeqCommonTilt(s, 0, 2, kTiltSideLower), 1);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(s->tilt[i], 0.11, 1e-12) << tight;
        freeTiltSeq(s);
    }
    // Without one the band fit takes over: its positive code, every tilt inside its window; a band
    // rising gently is held by a straight line (the fit's first candidate), a zigzag by a curve.
    for (bool gentle : {false, true}) {
        TiltSeq* apart =
            gentle ? windows({{0.0, 0.004}, {0.003, 0.007}, {0.006, 0.01}, {0.009, 0.013}, {0.012, 0.016}})
                   : windows({{0.0, 0.1}, {0.2, 0.3}, {0.1, 0.2}});
        EXPECT_EQ(tiltSeqCommonTilt(apart, 0, apart->count - 1, kTiltSideLower), 0);
        EXPECT_GT(tiltSeqFit(apart, kTiltSideLower), 0);
        EXPECT_EQ(apart->solved, 1) << gentle;
        for (int i = 0; i < apart->count; ++i) {
            EXPECT_GE(apart->tilt[i], apart->lower[i] - 1e-9) << i;
            EXPECT_LE(apart->tilt[i], apart->upper[i] + 1e-9) << i;
            const double bend = i > 1 ? apart->tilt[i] - 2 * apart->tilt[i - 1] + apart->tilt[i - 2] : 0.0;
            EXPECT_NEAR(gentle ? bend : 0.0, 0.0, 1e-12) << i;
        }
        freeTiltSeq(apart);
    }
}

TEST(TiltSeq, FitFailsWithoutValidPointsAndSmoothingStaysInsideRandomWindows) {
    TiltSeq* none = windows({{0, 1}, {0, 1}});
    none->skip[0] = none->skip[1] = 1;
    EXPECT_EQ(tiltSeqFit(none, kTiltSideLower), -1);
    EXPECT_EQ(tiltSeqFitRetry(none, kTiltSideLower, 0), -1);
    freeTiltSeq(none);
    TiltSeq* inside = windows({{0.6, 0.4}});  // a lone window inside out: no tilt, and no curve to fit
    EXPECT_EQ(tiltSeqFit(inside, kTiltSideLower) * 10 + inside->solved, -10);
    freeTiltSeq(inside);
    // One valid point is no curve to smooth: its tilt is only clamped a degree inside its window.
    TiltSeq* lone = windows({{0, 1}, {0, 1}});
    lone->skip[0] = 1, lone->tilt[1] = 2;
    EXPECT_EQ(tiltSeqSmooth(lone), 1);
    EXPECT_NEAR(lone->tilt[1], 1 - 0.01745, 1e-15);
    freeTiltSeq(lone);
    TiltSeq* inverted = windows({{0, 1}, {0.6, 0.4}, {0, 1}});  // a window inside out: nothing fits
    EXPECT_EQ(tiltSeqSmooth(inverted), -1);
    freeTiltSeq(inverted);
    // The middle side is fitted once as it is, with no widened retries.
    const std::vector<std::pair<double, double>> w = {
        {0, 0.1}, {0.5, 0.6}, {0.05, 0.1}, {0.7, 0.8}, {0.1, 0.2}};
    TiltSeq *once = windows(w), *retried = windows(w);
    ASSERT_TRUE(once && retried);
    retried->count = -1;  // cannot be copied for the retries: refused, its windows untouched
    EXPECT_EQ(tiltSeqFitRetry(retried, kTiltSideLower, 0), -2);
    retried->count = 5;
    EXPECT_EQ(tiltSeqFitRetry(retried, kTiltSideMiddle, 0), tiltSeqFit(once, kTiltSideMiddle));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(retried->tilt[i], once->tilt[i]) << i;
        EXPECT_EQ(retried->lower[i] * 10 + retried->upper[i], w[i].first * 10 + w[i].second) << i;
    }
    freeTiltSeq(once);
    freeTiltSeq(retried);
    rngResetState();
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<std::pair<double, double>> w;
        double centre = 0;
        for (int i = 0; i < 30; ++i) {
            centre += (-0.05 + 0.1 * rngUniform());
            double half = (0.05 + 0.15 * rngUniform());
            w.push_back({centre - half, centre + half});
        }
        if (trial % 4 == 0) w[7] = {w[7].first, w[7].first};  // a window of no width is not inverted
        TiltSeq* t = windows(w);
        for (int i = 0; i < 30; ++i) t->tilt[i] = 0.5 * (w[i].first + w[i].second);
        ASSERT_EQ(tiltSeqSmooth(t), 1);
        for (int i = 0; i < 30; ++i) {
            // Clamped a margin inside, then smoothed by at most that margin: inside the window.
            EXPECT_GE(t->tilt[i], w[i].first - 1e-6) << trial << " " << i;
            EXPECT_LE(t->tilt[i], w[i].second + 1e-6) << trial << " " << i;
        }
        freeTiltSeq(t);
    }
}

// Within windows wide enough for every value, smoothing holds the first and last fifth of a ramp at
// the value where each ends: both ends come out level, the middle still climbs.
TEST(TiltSeq, SmoothingLevelsTheEndsOfARampInWideWindows) {
    const int n = 21;
    TiltSeq* t = windows(std::vector<std::pair<double, double>>(n, {-1.0, 1.0}));
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < n; ++i) t->tilt[i] = -0.5 + double(i) / (n - 1);
    ASSERT_EQ(tiltSeqSmooth(t), 1);
    // The ramp turned end for end and negated is itself: so is its smoothing.
    for (int i = 0; i < n; ++i) EXPECT_NEAR(t->tilt[i], -t->tilt[n - 1 - i], 1e-9) << i;
    const double middle = t->tilt[n / 2 + 1] - t->tilt[n / 2];
    EXPECT_GT(middle, 0.04);
    EXPECT_LT(t->tilt[1] - t->tilt[0], 0.25 * middle);
    EXPECT_LT(t->tilt[n - 1] - t->tilt[n - 2], 0.25 * middle);
    // Skipped points take no part: the same ramp between two skipped at either end smooths alike.
    TiltSeq* padded = windows(std::vector<std::pair<double, double>>(n + 4, {-1.0, 1.0}));
    ASSERT_NE(padded, nullptr);
    for (int i = 0; i < n + 4; ++i) {
        padded->tilt[i] = i < 2 || i >= n + 2 ? 5.0 : -0.5 + double(i - 2) / (n - 1);
        padded->skip[i] = i < 2 || i >= n + 2;
    }
    ASSERT_EQ(tiltSeqSmooth(padded), 1);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(padded->tilt[i + 2], t->tilt[i], 1e-9) << i;
    freeTiltSeq(padded);
    freeTiltSeq(t);
}

// The record: four times the room, the first n entries cleared, parameters copied; copies carry every
// array and the solved flag; the narrowest valid window and the valid range skip skipped points.
TEST(TiltSeq, RecordCopyRangeAndScale) {
    const double x[] = {2, 3, 5, 8};
    TiltSeq* s = newTiltSeq(4, x);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->capacity, 16);
    EXPECT_EQ(s->count, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(s->param[i], x[i]);
        EXPECT_EQ(s->lower[i] + s->upper[i] + s->tilt[i], 0.0);
        EXPECT_EQ(s->hitLower[i] + s->hitUpper[i] + s->skip[i], 0);
        s->lower[i] = -0.1 * i, s->upper[i] = 0.2 * i + 0.05, s->tilt[i] = 0.01 * i;
        s->hitLower[i] = i, s->hitUpper[i] = 10 + i;
    }
    s->skip[0] = s->skip[3] = 1;
    s->solved = 1;
    int32_t first = -1, last = -1;
    EXPECT_EQ(tiltSeqValidRange(s, &first, &last), 1);
    EXPECT_EQ(first * 10 + last, 12);
    EXPECT_NEAR(tiltSeqMinWindow(s), 0.35, 1e-15);  // point 0 (0.05) is skipped
    s->skip[0] = 0;                                 // taking part, it is the narrowest
    EXPECT_NEAR(tiltSeqMinWindow(s), 0.05, 1e-15);
    s->skip[0] = 1;
    EXPECT_EQ(copyTiltSeq(nullptr), nullptr);
    TiltSeq* c = copyTiltSeq(s);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->count, 4);
    EXPECT_EQ(c->solved, 1);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(c->param[i], s->param[i]);
        EXPECT_EQ(c->lower[i], s->lower[i]);
        EXPECT_EQ(c->upper[i], s->upper[i]);
        EXPECT_EQ(c->tilt[i], s->tilt[i]);
        EXPECT_EQ(c->hitLower[i], s->hitLower[i]);
        EXPECT_EQ(c->hitUpper[i], s->hitUpper[i]);
        EXPECT_EQ(c->skip[i], s->skip[i]);
    }
    tiltSeqScale(c, 10.0);
    for (int i = 0; i < 4; ++i)  // every entry, the first too; the parameters stay
        EXPECT_TRUE(c->lower[i] == 10 * s->lower[i] && c->upper[i] == 10 * s->upper[i] &&
                    c->tilt[i] == 10 * s->tilt[i] && c->param[i] == s->param[i])
            << i;
    c->lower[1] = 7, c->upper[1] = 8;
    tiltSeqRestoreLimit(c, s, 0);
    tiltSeqRestoreLimit(c, nullptr, 1);  // no backup: nothing to restore
    EXPECT_EQ(c->lower[1], s->lower[1]);
    EXPECT_EQ(c->upper[1], 8.0);
    tiltSeqRestoreLimit(c, s, 1);
    EXPECT_EQ(c->upper[1], s->upper[1]);
    for (int i = 0; i < 4; ++i) s->skip[i] = 1;
    EXPECT_EQ(tiltSeqMinWindow(s), 10000.0);
    EXPECT_EQ(tiltSeqMinWindow(nullptr), 10000.0);
    EXPECT_EQ(tiltSeqValidRange(s, &first, &last), -1);
    // Null or out-of-range arguments: the documented answers, nothing touched.
    EXPECT_EQ(tiltSeqValidRange(nullptr, &first, &last) * 100 + first * 10 + last, -111);
    EXPECT_EQ(tiltSeqFit(nullptr, 1) * 10 + tiltSeqFitRetry(nullptr, 1, 0), -11);
    tiltSeqScale(nullptr, 2), tiltSeqExtendEnds(nullptr), tiltSeqRaiseLimits(nullptr, 1, 0.1);
    tiltSeqRestoreLimit(nullptr, s, 0), tiltSeqPropagateLimit(nullptr, 1, 0, 0, 0.1);
    for (const auto& [k1, k2] : {std::pair{-1, 2}, {1, 4}, {2, 1}}) {
        EXPECT_EQ(tiltSeqCommonTilt(s, k1, k2, kTiltSideLower), 0);
        tiltSeqPropagateLimit(c, kTiltSideLower, k1, k2, 0.0);
        tiltSeqPropagateLimit(c, kTiltSideUpper, k1, k2, 0.0);
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(c->lower[i] == s->lower[i] && c->upper[i] == s->upper[i]) << i;
    }
    freeTiltSeq(c);
    freeTiltSeq(s);
    // Counts outside [0, 2^26] are refused before any memory is asked for; 2^26 itself asks (and,
    // its first allocation failing, gets nothing).
    for (const auto& [n, asked] : {std::pair{-1, 0L}, {1 << 26, 1L}, {(1 << 26) + 1, 0L}}) {
        allocfail::arm(1);
        EXPECT_EQ(newTiltSeq(n, nullptr), nullptr) << n;
        EXPECT_EQ(allocfail::count(), asked) << n;
        allocfail::disarm();
    }
    s = newTiltSeq(2, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->param[1], 0.0);
    freeTiltSeq(s);
    freeTiltSeq(nullptr);
}

// The stretch of points whose hit index matches, each end moved inwards by up to the length (at most
// 0.3 of the stretch); the margins test; the ends flattened to the first tilt outside its window.
TEST(TiltSeq, HitRangeMarginsAndEnds) {
    TiltSeq* s = windows({{0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}});
    ASSERT_NE(s, nullptr);
    for (int i = 0; i < 10; ++i) s->hitLower[i] = i >= 2 && i <= 8 ? 4 : 0, s->hitUpper[i] = i == 5 ? 4 : 1;
    const struct {
        int32_t side, hit;
        double length;
        int result;
        int32_t first, last;
    } cases[] = {
        {kTiltSideLower, 4, 0.0, 1, 2, 8},  {kTiltSideLower, 4, 1.0, 1, 3, 7},
        {kTiltSideLower, 4, 1.5, 1, 3, 7},  {kTiltSideLower, 4, 9.0, 1, 3, 7},  // capped at 0.3 x 6
        {kTiltSideUpper, 4, 9.0, 1, 5, 5},  {kTiltSideUpper, 7, 1.0, -1, 0, 9},
        {kTiltSideMiddle, 1, 0.0, 1, 0, 9},  // not the lower side: the upper hits
    };
    for (const auto& c : cases) {
        int32_t first = -5, last = -5;
        EXPECT_EQ(tiltSeqHitRange(s, c.side, c.hit, c.length, &first, &last), c.result) << c.length;
        EXPECT_EQ(first, c.first) << c.side << " " << c.length;
        EXPECT_EQ(last, c.last) << c.side << " " << c.length;
    }
    // A lone hit beside a point of the same parameter: that end moves onto it (0 away), at either end.
    for (const int32_t at : {1, 3}) {
        TiltSeq* twin = windows({{0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}});
        ASSERT_NE(twin, nullptr);
        for (int i = 0; i < 5; ++i) twin->param[i] = at == 1 ? std::max(i - 1, 0) : std::min(i, 3);
        twin->hitLower[at] = 4;
        int32_t first = -5, last = -5;
        EXPECT_EQ(tiltSeqHitRange(twin, kTiltSideLower, 4, 1.0, &first, &last), 1);
        EXPECT_EQ(first, at == 1 ? 1 : 4);
        EXPECT_EQ(last, at == 1 ? 0 : 3);
        freeTiltSeq(twin);
    }
    s->lower[3] = 0.2, s->upper[6] = 0.7;
    const struct {
        int32_t i0, i1;
        double value, margin;
        int fits;
    } margins[] = {{0, 9, 0.5, 0.1, 1}, {0, 9, 0.5, 0.25, 0}, {0, 9, 0.31, 0.1, 1}, {0, 9, 0.31, 0.12, 0},
                   {4, 9, 0.1, 0.1, 1}, {0, 2, 0.9, 0.1, 1},  {0, 6, 0.9, 0.0, 0},  {0, 6, 0.7, 0.0, 1}};
    for (const auto& m : margins)
        EXPECT_EQ(tiltSeqFitsMargins(s, m.i0, m.i1, m.value, m.margin), m.fits) << m.value << " " << m.margin;
    const double tilts[] = {0.5, 0.5, 1.5, 0.5, -0.5, 0.5, 0.5, 2.0, 0.5, 0.5};
    for (int i = 0; i < 10; ++i) s->tilt[i] = tilts[i];
    s->skip[0] = s->skip[9] = 1;
    tiltSeqExtendEnds(s);
    const double want[] = {0.5, 1.5, 1.5, 0.5, -0.5, 0.5, 0.5, 2.0, 2.0, 0.5};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(s->tilt[i], want[i]) << i;
    for (const int out : {1, 8}) {  // only the first, or only the last, unskipped station outside
        for (int i = 0; i < 10; ++i) s->tilt[i] = i == out ? 1.5 : 0.5;
        tiltSeqExtendEnds(s);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(s->tilt[i], i % 9 == 0 ? 0.5 : 1.5) << out << " " << i;  // the rest follow
    }
    freeTiltSeq(s);
    // The retry spreads the lower edges from the hit stretch trimmed by a twentieth of the whole span
    // (the last, long step too) or 0.3 of the stretch, and raises an edge to a tilt with more than the
    // widening above it (point 10's 0.5); a first widening of 10 degrees already fits.
    const double x[] = {10, 11, 11.25, 11.5, 11.75, 12, 12.25, 12.5, 13, 14, 30};
    const double edge[] = {0, 0.05, 0.1, 0.15, 0.2, 0.25, 0.2, 0.15, 0.1, 0.05, 0};
    const std::pair<int32_t, std::vector<double>> spreads[] = {
        {4, {.15, .15, .15, .15, .2, .25, .2, .15, .15, .15, .5}},  // 1-8 to 3-7 by 0.6
        {0, {.05, .05, .1, .15, .2, .25, .2, .15, .1, .05, .5}}};   // 0-10 to 1-10 by 1
    for (const auto& c : spreads) {
        TiltSeq* r = newTiltSeq(11, x);
        ASSERT_NE(r, nullptr);
        for (int i = 0; i < 11; ++i)
            r->lower[i] = edge[i], r->upper[i] = 2.0, r->hitLower[i] = i && i < 9 ? 4 : 0,
            r->tilt[i] = i / 10 * 0.5;
        EXPECT_GE(tiltSeqFitRetry(r, kTiltSideLower, c.first), 0) << c.first;
        for (int i = 0; i < 11; ++i) EXPECT_NEAR(r->lower[i], c.second[i], 1e-12) << c.first << " " << i;
        freeTiltSeq(r);
    }
    TiltSeq *none = newTiltSeq(0, nullptr), *one = windows({{0.0, 1.0}});  // they span nothing
    EXPECT_EQ(tiltSeqFitRetry(none, kTiltSideUpper, 0) * 10 + tiltSeqFitRetry(one, kTiltSideUpper, 0), -10);
    freeTiltSeq(none), freeTiltSeq(one);
    // No sequence: the whole range of none, [0, -1].
    int32_t first = 5, last = 5;
    EXPECT_EQ(tiltSeqHitRange(nullptr, 1, 0, 1.0, &first, &last), -1);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, -1);
}

// Limits spread from the anchored points outwards, never closer than the slack to the other edge;
// limits raised to the tilt where the window leaves room.
TEST(TiltSeq, PropagateAndRaiseLimits) {
    // lower, upper per point; the anchors 2 and 3 have lower 0.5.
    const std::vector<std::pair<double, double>> w = {{0.0, 2.0}, {0.7, 0.9}, {0.5, 2.0},
                                                      {0.5, 2.0}, {0.0, 0.6}, {0.1, 2.0}};
    TiltSeq* s = windows(w);
    ASSERT_NE(s, nullptr);
    tiltSeqPropagateLimit(s, kTiltSideLower, 2, 3, 0.2);
    // Down from 2: point 1's upper 0.9 >= 0.5 + 0.2, its lower 0.7 > 0.5 stays and carries on; point 0
    // takes 0.7. Up from 3: point 4's upper 0.6 < 0.5 + 0.2 pulls the value to 0.4, below its lower 0
    // ... which it replaces; point 5 takes 0.4.
    const double lower[] = {0.7, 0.7, 0.5, 0.5, 0.4, 0.4};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(s->lower[i], lower[i], 1e-15) << i;
    freeTiltSeq(s);
    s = windows({{0.0, 2.0}, {0.0, 1.2}, {0.0, 1.5}, {0.0, 1.5}, {1.4, 1.6}, {0.0, 1.0}});
    ASSERT_NE(s, nullptr);
    tiltSeqPropagateLimit(s, kTiltSideUpper, 2, 3, 0.2);
    const double upper[] = {1.2, 1.2, 1.5, 1.5, 1.6, 1.0};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(s->upper[i], upper[i], 1e-15) << i;
    freeTiltSeq(s);
    // A window edge exactly the slack away leaves the carried value as it is, to the last bit
    // ((v - slack) + slack is not v here).
    const double v = -0.009, slack = 0.17453292519943295;
    for (const int32_t side : {kTiltSideLower, kTiltSideUpper}) {
        const bool up = side == kTiltSideUpper;
        s = up ? windows({{v - slack, 2.0}, {-2.0, v}, {-2.0, v}})
               : windows({{-2.0, v + slack}, {v, 2.0}, {v, 2.0}});
        ASSERT_NE(s, nullptr);
        tiltSeqPropagateLimit(s, side, 1, 2, slack);
        EXPECT_EQ(up ? s->upper[0] : s->lower[0], v) << side;
        freeTiltSeq(s);
    }

    // Point 4 stands exactly the slack from the other edge in both passes: left as it is.
    s = windows({{0.0, 1.0}, {0.0, 1.0}, {0.0, 1.0}, {0.5, 1.0}, {0.0, 0.625}});
    ASSERT_NE(s, nullptr);
    const double tilt[] = {0.5, 0.85, 0.1, 0.4, 0.5};
    for (int i = 0; i < 5; ++i) s->tilt[i] = tilt[i];
    tiltSeqRaiseLimits(s, kTiltSideLower, 0.125);
    const double raised[] = {0.5, 0.85, 0.1, 0.5, 0.0};  // point 3's tilt lies below its window
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s->lower[i], raised[i]) << i;
    for (int i = 0; i < 5; ++i) s->lower[i] = 0.0;
    s->tilt[4] = 0.25;
    tiltSeqRaiseLimits(s, kTiltSideUpper, 0.25);
    const double lowered[] = {0.5, 0.85, 1.0, 0.4, 0.625};  // point 2 has less than the slack below its tilt
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s->upper[i], lowered[i]) << i;
    freeTiltSeq(s);
}

// The band rounding clips each upper edge to the lower edge's curve offset by the angle: the highest
// point of the circles of that radius about the lower polyline (side 1), sampled here densely.
TEST(TiltSeq, RoundBandClipsToTheOffsetLowerEdge) {
    // A small angle as well: the band's closing edges below the lower one must stay out of its way, also
    // where the first lower edge lies less than a degree above the lowest.
    for (const auto& [a, first] : {std::pair{1.5, 0.0}, {10.0, 0.0}, {1.5, -1.5}}) {
        const std::vector<double> lower = {first, 0, 4, 12, 3, 0, -2, -2, 6, 0};
        std::vector<std::pair<double, double>> w;
        for (double l : lower) w.push_back({l, 30.0});
        w[4].second = 8.0;  // a window already narrower than the offset stays as it is
        TiltSeq* s = windows(w);
        ASSERT_NE(s, nullptr);
        for (int i = 0; i < 10; ++i) s->param[i] = 3.0 * i;
        ASSERT_EQ(tiltSeqRoundBand(s, a, kTiltSideLower), 1);
        for (int i = 0; i < 10; ++i) {
            const double x = s->param[i];
            double top = -1e300;
            for (int k = 0; k + 1 < 10; ++k)
                for (int j = 0; j <= 400; ++j) {
                    const double px = 3.0 * (k + j / 400.0),
                                 py = lower[k] + (lower[k + 1] - lower[k]) * j / 400.0;
                    if (std::fabs(x - px) <= a)
                        top = std::max(top, py + std::sqrt(a * a - (x - px) * (x - px)));
                }
            EXPECT_NEAR(s->upper[i], std::min(w[i].second, top), 0.05) << a << " " << i;
            EXPECT_EQ(s->lower[i], lower[i]);
        }
        if (a < 10) {
            freeTiltSeq(s);
            continue;
        }
        // The middle side has no band to round: nothing changes.
        const std::vector<double> upper(s->upper, s->upper + 10);
        EXPECT_EQ(tiltSeqRoundBand(s, a, kTiltSideMiddle), 1);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(s->upper[i], upper[i]) << i;
        for (int i = 0; i < 10; ++i) s->skip[i] = 1;
        EXPECT_EQ(tiltSeqRoundBand(s, a, kTiltSideLower), -1);
        freeTiltSeq(s);
    }
}
