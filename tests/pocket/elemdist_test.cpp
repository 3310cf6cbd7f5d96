#include "pocket/elemdist.h"

#include <gtest/gtest.h>

#include <cmath>

#include "geometry/rng.h"
#include "offset_util.h"
#include "pocket/elemaccess.h"

using namespace offsettest;

namespace {

// Nearest of many samples along the element: the brute-force answer.
double sampledDistance(const Vec2& p, const ContourElement& e) {
    double best = 1e300;
    for (int i = 0; i <= 20000; ++i) {
        const Vec2 q = pointAlong(e, i / 20000.0);
        best = std::fmin(best, std::hypot(p.x - q.x, p.y - q.y));
    }
    return best;
}

}  // namespace

TEST(ElemDist, ClosedFormsAndDegenerateElements) {
    PocketErrors state;
    const ContourElement arc = arcElem(1, 1, 2, 0.5, 2.0, 1), dot = lineElem(4, 4, 4, 4);
    Vec2 near, onA, onB;
    const Vec2 centre{1, 1}, far{7, 8};
    EXPECT_NEAR(elemDistance(&centre, &arc, &near), 2.0, 1e-12);  // the centre gives the start
    EXPECT_EQ(near.x, arc.g[kAsx]);
    EXPECT_NEAR(elemDistance(&far, &dot, &near), 5.0, 1e-12);
    const struct {
        ContourElement a, b;
        double d;
    } pairs[] = {
        {lineElem(0, 0, 4, 0), lineElem(1, 3, 3, 3), 3},
        {lineElem(-5, 6, 5, 6), arcElem(0, 0, 2, 0, kPi, 1), 4},  // the foot of the centre
        {arcElem(0, 0, 1, 0, kPi / 2, 1), lineElem(3, 3, 3, 3),
         std::hypot(3 - std::sqrt(0.5), 3 - std::sqrt(0.5))},
    };
    for (const auto& p : pairs) {
        EXPECT_NEAR(elemElemDistance(&p.a, &p.b, &onA, &onB), p.d, 1e-9);
        EXPECT_NEAR(std::hypot(onA.x - onB.x, onA.y - onB.y), p.d, 1e-9);
    }
}

TEST(ElemDist, TolerantMinimumKeepsTheEarlierOfNearTies) {
    const struct {
        std::vector<double> v;
        int32_t index;
    } cases[] = {{{1.0, 0.96}, 0}, {{1.0, 0.9515}, 0},   {{1.0, 0.95}, 1},     {{3, 2, 1.97, 1.9}, 3},
                 {{}, -1},         {{2, 1.96, 1.92}, 2}, {{2, 1.96, 1.955}, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(minWithTolerance(c.v.data(), static_cast<int32_t>(c.v.size())), c.index);
    const ContourElement line = lineElem(0, 0, 10, 0);
    const Vec2 p{2, 0}, q{2.03, 0}, r{5, 0};
    EXPECT_EQ(arcOrder(&line, &p, &p), 0);
    EXPECT_EQ(arcOrder(&line, &q, &p), 1);  // behind by less than the tie tolerance
    EXPECT_EQ(arcOrder(&line, &r, &p), -1);
    EXPECT_EQ(arcOrder(&line, &p, &r), 1);
}

TEST(ElemDist, PointDistancesMatchDenseSampling) {
    PocketErrors state;
    rngResetState();
    for (int i = 0; i < 300; ++i) {
        const double a0 = rngUniform() * 2 * kPi, sweep = 0.2 + rngUniform() * 5;
        const int dir = rngBelow(2) ? 1 : -1;
        const ContourElement e =
            rngBelow(2) ? lineElem(rngUniform() * 10, rngUniform() * 10, rngUniform() * 10, rngUniform() * 10)
                        : arcElem(rngUniform() * 10, rngUniform() * 10, 0.5 + rngUniform() * 4, a0,
                                  a0 + dir * sweep, dir);
        const Vec2 p{rngUniform() * 14 - 2, rngUniform() * 14 - 2};
        Vec2 near;
        const double d = elemDistance(&p, &e, &near);
        EXPECT_NEAR(d, sampledDistance(p, e), 2e-3) << i;
        EXPECT_NEAR(std::hypot(p.x - near.x, p.y - near.y), d, 1e-9);
    }
}
