#include "plunge/cornerround.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/plist.h"
#include "geometry/rng.h"
#include "geometry/seg3d.h"

namespace {

// Two straight legs of the given lengths meeting at the origin with a turn of `turnDeg`, sampled
// every `step`, arc-length parameters.
Plist* bentPath(double turnDeg, double legIn, double legOut, double step, int kind = 0) {
    const double a = turnDeg * M_PI / 180;
    std::vector<Vec3> pts;
    for (double s = -legIn; s < -1e-9; s += step) pts.push_back({s, 0, 0});
    for (double s = 0; s <= legOut + 1e-9; s += step) pts.push_back({s * std::cos(a), s * std::sin(a), 0});
    Plist* list = plistCreate(4000, 1);
    double t = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        if (i > 0) t += dist3D(&pts[i - 1], &pts[i]);
        plistAppend(list, t, &pts[i], static_cast<uint16_t>(kind << 8), nullptr, 0);
    }
    return list;
}

double maxTurn(const Plist* p) {
    double m = 0;
    for (int32_t i = 1; i + 1 < p->count; ++i)
        m = std::max(m, turnAngleDeg(&p->points[i - 1], &p->points[i], &p->points[i + 1]));
    return m;
}

}  // namespace

TEST(CornerRound, TurnAngleAndCornerSearch) {
    struct Case {
        Vec3 a, b, c;
        double deg;
    } cases[] = {
        {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, 0},   {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, 90},
        {{0, 0, 0}, {1, 0, 0}, {0, 0, 0}, 180}, {{0, 0, 0}, {1, 0, 0}, {1, 0, 1e-6}, 0},
        {{0, 0, 0}, {1, 0, 0}, {2, 0, 1}, 45},
    };
    for (const Case& c : cases) EXPECT_NEAR(turnAngleDeg(&c.a, &c.b, &c.c), c.deg, 1e-9);
    Plist* p = bentPath(60, 3, 3, 1);
    EXPECT_EQ(findCorner(p, 0, 60 - 1e-9), 3);
    EXPECT_EQ(findCorner(p, 4, 30), -1);
    EXPECT_EQ(findCorner(p, 0, 61), -1);
    plistFree(p);
}

TEST(CornerRound, StraightPathUnchanged) {
    Plist* p = bentPath(0, 5, 5, 0.5);
    const int32_t n = p->count;
    p->flags[3] = static_cast<uint16_t>(3 << 8);
    EXPECT_EQ(plistProcessRuns(p, 30, 0.2), 0);
    EXPECT_EQ(p->count, n);
    for (int32_t i = 0; i < n; ++i) EXPECT_NE(p->flags[i] >> 8, 3);
    plistFree(p);
}

TEST(CornerRound, RandomCornersAreRoundedWithinTheTolerance) {
    rngResetState();
    for (int trial = 0; trial < 12; ++trial) {
        const double turn = 40 + 100 * rngUniform(), tol = 0.05 + 0.3 * rngUniform();
        Plist* p = bentPath(turn, 4, 4, 0.5);
        Plist* original = bentPath(turn, 4, 4, 0.5);
        // The transition's own polygon may turn by more than the threshold again and be rounded too.
        EXPECT_GE(plistProcessRuns(p, 30, tol), 1);
        EXPECT_LT(maxTurn(p), turn * 0.75) << turn << " " << maxTurn(p);
        const Vec3 corner{0, 0, 0};
        double nearest = 1e300;
        for (int32_t i = 0; i < p->count; ++i) {
            // Every point stays on or beside the original legs, within the transition's reach.
            Vec3 q;
            EXPECT_LE(nearestOnPolyline3D(original->points, original->count, &p->points[i], &q, nullptr),
                      1.5 * tol + 1e-6);
            nearest = std::min(nearest, dist3D(&p->points[i], &corner));
        }
        EXPECT_GT(nearest, 1e-3);  // the corner itself is cut
        EXPECT_LE(nearest, 1.5 * tol + 1e-6);
        for (int32_t i = 1; i < p->count; ++i) EXPECT_GT(p->parameters[i], p->parameters[i - 1]);
        plistFree(p);
        plistFree(original);
    }
}

TEST(CornerRound, CornerNextToAnEndStaysSharp) {
    Plist* p = bentPath(90, 0.01, 4, 0.01);
    EXPECT_EQ(filletCorner(1, p, 0.5), -1);
    EXPECT_EQ(plistProcessRuns(p, 45, 0.5), 1);
    EXPECT_NEAR(maxTurn(p), 90, 1e-6);
    plistFree(p);
}
