#include "pocket/elemdist.h"

#include <gtest/gtest.h>

#include <cmath>

#include "kernel/base/rng.h"
#include "offset_util.h"
#include "pocket/elemaccess.h"

using namespace offsettest;

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
        {arcElem(1, 2, 1, -kPi / 2, kPi / 2, 1), arcElem(6, 2, 1, kPi / 2, 1.5 * kPi, 1),
         3},                                                                     // on the centre line
        {arcElem(1, 1, 1, -0.07, 1.93, 1), arcElem(4, 5, 1, 3.07, 5.07, 1), 3},  // the centre line tilted
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
    EXPECT_EQ(arcOrder(&line, &q, &p), 1);  // behind by less than the tie tolerance
    EXPECT_EQ((std::vector{arcOrder(&line, &p, &p), arcOrder(&line, &r, &p), arcOrder(&line, &p, &r)}),
              (std::vector{0, -1, 1}));
    // Behind an arc's start by less than rounding is at the start, not a full turn on.
    const ContourElement arc = arcElem(0, 0, 1, 0, 2, 1);
    const Vec2 start{1, 0}, hair{1, -1e-300};
    EXPECT_EQ(std::pair(arcOrder(&arc, &start, &hair), arcOrder(&arc, &hair, &start)), std::pair(0, 0));
    const ContourElement low = arcElem(0, -3, 1, 0, 3, 1);  // angles about its own centre, below the axis
    const Vec2 a{std::cos(0.2), std::sin(0.2) - 3}, b{std::cos(2.5), std::sin(2.5) - 3};
    EXPECT_EQ(arcOrder(&low, &a, &b), 1);
}

TEST(ElemDist, PointDistancesMatchTheClosedForm) {
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
        EXPECT_NEAR(d, distanceTo(p, e), 1e-9) << i;
        EXPECT_NEAR(std::hypot(p.x - near.x, p.y - near.y), d, 1e-9);
    }
}

namespace {

ContourElement randomElement(double span) {
    const double a0 = rngUniform() * 2 * kPi, sweep = 0.2 + rngUniform() * 5;
    const int dir = rngBelow(2) ? 1 : -1;
    return rngBelow(2)
               ? lineElem(rngUniform() * span, rngUniform() * span, rngUniform() * span, rngUniform() * span)
               : arcElem(rngUniform() * span, rngUniform() * span, 0.5 + rngUniform() * 4, a0,
                         a0 + dir * sweep, dir);
}

}  // namespace

// Two elements apart: the distance lies between the least distance (sampled points of one against the
// closed form of the other) and that plus the tie tolerance, and is the distance of the two points given,
// which lie on their elements.
TEST(ElemDist, ElementPairsAgainstSampledLeastDistance) {
    PocketErrors state;
    rngResetState();
    int pairs = 0;
    for (int run = 0; run < 300 && pairs < 100; ++run) {
        const ContourElement a = randomElement(12), b = randomElement(12);
        double least = 1e300;
        for (int i = 0; i <= 2000; ++i) {
            least = std::fmin(least, distanceTo(pointAlong(a, i / 2000.0), b));
            least = std::fmin(least, distanceTo(pointAlong(b, i / 2000.0), a));
        }
        if (least < 0.05) continue;  // crossing or nearly: not what the measure is for
        ++pairs;
        Vec2 onA, onB;
        const double d = elemElemDistance(&a, &b, &onA, &onB);
        EXPECT_GE(d, least - 5e-4) << run;  // the samples may straddle the nearest point
        EXPECT_LE(d, least + kPocketTieTol + 1e-6) << run;
        EXPECT_NEAR(std::hypot(onA.x - onB.x, onA.y - onB.y), d, 1e-9) << run;
        EXPECT_NEAR(distanceTo(onA, a), 0, 1e-9) << run;
        EXPECT_NEAR(distanceTo(onB, b), 0, 1e-9) << run;
        Vec2 backA, backB;
        EXPECT_NEAR(elemElemDistance(&b, &a, &backB, &backA), least, kPocketTieTol + 5e-4) << run;
    }
    EXPECT_EQ(pairs, 100);
}

// The contour measures against the least closed-form distance over the elements: the exact minimum,
// the first element reaching it, the early stop, and the below test at limits just either side.
TEST(ElemDist, ContourMeasuresAgainstTheLeastOverElements) {
    PocketErrors state;
    rngResetState();
    for (int run = 0; run < 200; ++run) {
        std::vector<ContourElement> chain;
        for (int i = 0, n = 1 + static_cast<int>(rngBelow(6)); i < n; ++i) chain.push_back(randomElement(10));
        const int32_t n = static_cast<int32_t>(chain.size());
        const Vec2 p{rngUniform() * 14 - 2, rngUniform() * 14 - 2};
        double least = 1e300;
        int32_t first = -1;
        for (int32_t i = 0; i < n; ++i) {
            const double d = distanceTo(p, chain[i]);
            if (d < least - 1e-12) least = d, first = i;
        }
        EXPECT_NEAR(contourDistance(&p, chain.data(), n), least, 1e-9) << run;
        int32_t index = -2;
        Vec2 near;
        EXPECT_NEAR(contourNearestElement(&p, chain.data(), n, &index, &near), least, 1e-9) << run;
        EXPECT_EQ(index, first) << run;
        EXPECT_NEAR(std::hypot(near.x - p.x, near.y - p.y), least, 1e-9) << run;
        for (const double limit : {least + 1e-6, least - 1e-6, least * 2 * rngUniform()}) {
            EXPECT_EQ(contourDistanceBelow(&p, chain.data(), n, limit), least < limit ? 1 : 0) << run;
            const double until = contourDistanceUntil(&p, chain.data(), n, limit);
            if (least <= limit) {
                EXPECT_LE(until, limit) << run;
                EXPECT_GE(until, least - 1e-9) << run;
            } else {
                EXPECT_NEAR(until, least, 1e-9) << run;
            }
        }
    }
    const Vec2 p{1, 1};
    EXPECT_EQ(contourDistance(&p, nullptr, 0), -1);
    int32_t none = 7;
    Vec2 unset{};
    EXPECT_TRUE(contourNearestElement(&p, nullptr, 0, &none, &unset) == -1 && none == -1);
    EXPECT_EQ(contourDistanceBelow(&p, nullptr, 0, -0.5), 1);
    EXPECT_EQ(contourDistanceBelow(&p, nullptr, 0, -1), 0);
    // A first element that gives no number keeps the distance so, and nothing then counts as below.
    const double nan = std::nan("");
    const std::vector<ContourElement> odd = {lineElem(nan, 0, nan, 2), lineElem(1, 1.5, 2, 1.5)};
    EXPECT_TRUE(std::isnan(contourDistance(&p, odd.data(), 2)));
    EXPECT_EQ(contourDistanceBelow(&p, odd.data(), 2, 10), 0);
}
