#include "plunge/tiltseq.h"

#include <gtest/gtest.h>

#include <cmath>

#include "geometry/rng.h"

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
        ASSERT_EQ(tiltSeqCommonTilt(s, 0, 2, kTiltSideLower), 1) << c.overlap;
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(s->tilt[i], 0.1 + c.expected, 1e-12) << c.overlap;
        freeTiltSeq(s);
    }
    TiltSeq* apart = windows({{0.0, 0.1}, {0.2, 0.3}});
    EXPECT_EQ(tiltSeqCommonTilt(apart, 0, 1, kTiltSideLower), 0);
    freeTiltSeq(apart);
}

TEST(TiltSeq, FitFailsWithoutValidPointsAndSmoothingStaysInsideRandomWindows) {
    TiltSeq* none = windows({{0, 1}, {0, 1}});
    none->skip[0] = none->skip[1] = 1;
    EXPECT_EQ(tiltSeqFit(none, kTiltSideLower), -1);
    EXPECT_EQ(tiltSeqFitRetry(none, kTiltSideLower, 0), -1);
    freeTiltSeq(none);
    rngResetState();
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<std::pair<double, double>> w;
        double centre = 0;
        for (int i = 0; i < 30; ++i) {
            centre += (-0.05 + 0.1 * rngUniform());
            double half = (0.05 + 0.15 * rngUniform());
            w.push_back({centre - half, centre + half});
        }
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
