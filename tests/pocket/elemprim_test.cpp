#include "pocket/elemprim.h"

#include <gtest/gtest.h>

#include <cmath>

#include "kernel/base/rng.h"
#include "offset_util.h"
#include "vecnear.h"

using offsettest::kPi;

TEST(ElemPrim, PointBeyondASegmentEndDependsOnTheScale) {
    PocketErrors state;
    const struct {
        double scale, length;
        double t;  // the point's parameter along the segment
        int on;
        double rise = 0;  // a slanted segment also keeps its points within the tolerance of its x range
    } cases[] = {{1, 1, 1.00015, 1},
                 {25, 1, 1.00015, 0},
                 {1, 1, 1.00025, 0},
                 {25, 1, 1.00005, 1},
                 {1, 1, -0.00015, 1},
                 {25, 1, -0.00015, 0},
                 {1, 1, 0.5, 1},
                 {50, 1, 0.5, 1},
                 // From a length of 10 on the range is widened in steps of 10: its ends' slack shrinks.
                 {1, 9.5, 1.00015, 1},
                 {1, 10, 1.00015, 0},
                 {1, 10, 1.00009, 1},
                 {1, 19.5, 1.00009, 1},
                 {1, 20, 1.00009, 0},
                 {1, 9.5, 1.00015, 0, 1}};
    for (const auto& c : cases) {
        pocketKernel().geometryScale = c.scale;
        const double line[4] = {0, 0, c.length, c.rise};
        const Vec2 p{c.t * c.length, c.t * c.rise};
        EXPECT_EQ(pointOnSegmentParam(&p, line), c.on) << c.scale << " " << c.length << " " << c.t;
    }
}

TEST(ElemPrim, SegmentPairs) {
    PocketErrors state;
    const struct {
        double a[4], b[4];
        int code;
        double x, y;
    } cases[] = {
        {{0, 0, 2, 0}, {2, 0, 5, 0}, 1, 2, 0},   // end to end on one line: one point
        {{0, 0, 2, 0}, {1, 0, 5, 0}, -1, 0, 0},  // overlap
        {{0, 0, 2, 0}, {3, 0, 5, 0}, 0, 0, 0},   // same line, apart
        {{0, 0, 2, 2}, {0, 2, 2, 0}, 1, 1, 1},   // crossing
        {{0, 0, 1, 0}, {2, -1, 2, 1}, 0, 0, 0},  // the lines cross outside the first
        // Ends within the point tolerance, apart or overlapping along the line: the first one's own end.
        {{0, 0, 2, 0}, {2.00006, 0, 5, 0}, 1, 2, 0},
        {{0, 0, 2, 0}, {1.99994, 0, 5, 0}, 1, 2, 0},
        {{2, 0, 5, 0}, {0, 0, 2.00006, 0}, 1, 2, 0},
        {{0, 0, 0, 2}, {0, 2.00006, 0, 5}, 1, 0, 2},
        // Overlapping by exactly the tolerance is an overlap; apart by exactly it, apart.
        {{-1, 0, 1e-4, 0}, {0, 0, 5, 0}, -1, 0, 0},
        {{-1, 0, 0, 0}, {1e-4, 0, 5, 0}, 0, 0, 0},
    };
    for (const auto& c : cases) {
        Vec2 p{};
        EXPECT_EQ(isectLineLine(c.a, c.b, &p), c.code);
        if (c.code == 1) {
            EXPECT_XY(EXPECT_NEAR, p, c.x, c.y, 1e-12);
        }
    }
}

TEST(ElemPrim, LinesAgainstArcs) {
    PocketErrors state;
    const ContourElement arc = arcElem(0, 0, 1, 0, kPi / 2, 1);  // first quadrant, ccw
    const struct {
        double line[4];
        int arcCode, circleCode;
    } cases[] = {
        {{3, -1, 3, 1}, 0, 0},      // misses
        {{-2, 0.5, 2, 0.5}, 1, 2},  // one point on the arc, two on the circle
        {{1, -1, 1, 1}, -1, -1},    // tangent at the arc's start
        {{-1, -1, -1, 1}, 0, -1},   // tangent outside the sweep
        {{0.5, 0.5, 0, 0}, 0, 0},   // ends inside the circle
    };
    for (const auto& c : cases) {
        Vec2 p[2];
        EXPECT_EQ(isectLineArc(c.line, &arc, p), c.arcCode) << c.line[0];
        EXPECT_EQ(isectLineFullCircle(c.line, &arc, p), c.circleCode) << c.line[0];
    }
}

TEST(ElemPrim, ArcsOnOneCircleOverlapBelowMinusOne) {
    PocketErrors state;
    const ContourElement a = arcElem(0, 0, 2, 0, kPi / 2, 1);
    const struct {
        ContourElement b;
        int code;
    } cases[] = {
        {arcElem(0, 0, 2, kPi / 4, kPi, 1), -4},   // partly
        {arcElem(0, 0, 2, 0.2, 0.4, 1), -2},       // inside a
        {arcElem(0, 0, 2, -0.5, 2.5, 1), -3},      // holds a
        {arcElem(0, 0, 2, kPi / 2, kPi, 1), 1},    // shares one end
        {arcElem(0, 0, 2, 2.0, 3.0, 1), 0},        // apart
        {arcElem(0, 0, 2, kPi, kPi / 4, -1), -4},  // partly, other sense
    };
    for (const auto& c : cases) {
        Vec2 p[2];
        EXPECT_EQ(isectArcArc(&a, &c.b, p), c.code);
    }
    Vec2 p[2];
    const ContourElement b = arcElem(2, 0, 2, kPi / 2, 3 * kPi / 2, 1);
    EXPECT_EQ(isectArcArc(&a, &b, p), 1);
    EXPECT_XY(EXPECT_NEAR, p[0], 1, std::sqrt(3.0), 1e-12);
    // Radii apart by exactly the tolerance (0.25, exact in binary) are two concentric circles: no point.
    pocketKernel().tolerance = 0.25;
    const ContourElement outer = arcElem(0, 0, 10.25, 0, kPi, 1), inner = arcElem(0, 0, 10, 0, kPi, 1);
    EXPECT_EQ(isectArcArc(&outer, &inner, p), 0);
}

TEST(ElemPrim, OrderAlongElements) {
    PocketErrors state;
    const ContourElement ccw = arcElem(0, 0, 1, 0, kPi, 1), cw = arcElem(0, 0, 1, kPi, 0, -1);
    const ContourElement line = lineElem(0, 0, 0, 5);
    const Vec2 a{std::cos(0.3), std::sin(0.3)}, b{std::cos(2.0), std::sin(2.0)}, s{-1, 0};
    const Vec2 l1{0, 1}, l2{0, 4};
    EXPECT_EQ(pointOrderOnElem(&ccw, &b, &a), 1);
    EXPECT_EQ(pointOrderOnElem(&ccw, &a, &b), 2);
    EXPECT_EQ(pointOrderOnElem(&cw, &a, &b), 1);
    EXPECT_EQ(pointOrderOnElem(&cw, &a, &s), 1);  // the start of a clockwise arc comes first
    EXPECT_EQ(pointOrderOnElem(&cw, &s, &a), 2);
    EXPECT_EQ(pointOrderOnElem(&line, &l2, &l1), 1);
    EXPECT_EQ(pointOrderOnElem(&line, &l1, &l1), 2);
}

// Full circles against each other, at and near the touching distances; the count and the points
// follow from the centre distance alone.
TEST(ElemPrim, CirclePairsTouchWithinTheTolerance) {
    PocketErrors state;
    const struct {
        double r1, d, r2;
        int code;
        double x;  // the touching point's distance from the first centre along the line of the centres
    } cases[] = {
        {3, 5, 2, 1, 3},         {3, 5 + 5e-5, 2, 1, 3}, {3, 5 - 5e-5, 2, 1, 3},  // outside
        {3, 5 + 3e-4, 2, 0, 0},  {3, 1, 2, 1, 3},        {3, 1 + 5e-5, 2, 1, 3},  // inside
        {2, 1 - 5e-5, 3, 1, -2}, {3, 1 - 3e-4, 2, 0, 0}, {3, 0, 3, 0, 0},         // concentric
        {3, 4, 2, 2, 0},         {1, 0.01, 1.005, 0, 0}, {1, 0.02, 1.005, 2, 0},  // d^2 at the tolerance 1e-4
    };
    // The centres along the x axis and along (0.6, 0.8).
    for (const Vec2 u : {Vec2{1, 0}, Vec2{0.6, 0.8}}) {
        for (const auto& c : cases) {
            const ContourElement a = arcElem(0, 0, c.r1, 0, kPi, 1),
                                 b = arcElem(c.d * u.x, c.d * u.y, c.r2, 0, kPi, 1);
            Vec2 p[2];
            ASSERT_EQ(isectCircleCircle(&a, &b, p), c.code)
                << c.r1 << " " << c.d << " " << c.r2 << " " << u.y;
            if (c.code == 1) EXPECT_XY(EXPECT_NEAR, p[0], c.x * u.x, c.x * u.y, 1e-9);
        }
    }
    // Seeded pairs that cross well apart from touching: both points on both circles, mirrored in
    // the centre line.
    Rng rng{64};
    for (int i = 0; i < 200; ++i) {
        auto u = [&] { return rngStep(&rng) / double(kRngMax); };
        const double r1 = 0.5 + 5 * u(), r2 = 0.5 + 5 * u(), lo = std::fabs(r1 - r2), hi = r1 + r2;
        const double d = lo + (hi - lo) * (0.05 + 0.9 * u()), t = 2 * kPi * u();
        const double cx = 10 * u() - 5, cy = 10 * u() - 5;
        const ContourElement a = arcElem(cx, cy, r1, 0, 1, 1);
        const ContourElement b = arcElem(cx + d * std::cos(t), cy + d * std::sin(t), r2, 0, 1, -1);
        Vec2 p[2];
        ASSERT_EQ(isectCircleCircle(&a, &b, p), 2) << i;
        for (const Vec2& q : p) {
            EXPECT_NEAR(std::hypot(q.x - cx, q.y - cy), r1, 1e-9);
            EXPECT_NEAR(std::hypot(q.x - b.g[kAcx], q.y - b.g[kAcy]), r2, 1e-9);
        }
    }
}

// The tolerant comparisons on each side of their thresholds and right at them (not beyond), and the end
// test of a chain.
TEST(ElemPrim, ComparisonsAtTheirThresholds) {
    const struct {
        int (*f)(double, double);
        double a, b;
        int want;
    } cases[] = {
        {isEqualCoarse, 1, 1.0049, 1}, {isEqualCoarse, 1.0051, 1, 0},  {isLessTol, 0, 0.00011, 1},
        {isLessTol, 0, 0.00009, 0},    {isLessTol, 1, 0, 0},           {isLessCoarse, 5, 5.0011, 1},
        {isLessCoarse, 5, 5.0009, 0},  {isNotAboveTol, 0.00009, 0, 1}, {isNotAboveTol, 0.00011, 0, 0},
        {isNotAboveTol, 0, 1, 1},      {isEqualCoarse, 0, 0.005, 0},   {isLessTol, 0, 1e-4, 0},
        {isLessCoarse, 0, 0.001, 0},   {isNotAboveTol, 1e-4, 0, 0}};
    for (const auto& c : cases) EXPECT_EQ(c.f(c.a, c.b), c.want) << c.a << " " << c.b;
    const Vec2 o{1, 1};
    for (const auto& [q, equal] : {std::pair{Vec2{1.00019, 0.99981}, 1}, std::pair{Vec2{1.00021, 1}, 0},
                                   std::pair{Vec2{1, 0.99979}, 0}})
        EXPECT_EQ(pointsEqualCoarse2D(&o, &q), equal) << q.x << " " << q.y;
    const ContourElement l = elemLineOf({1, 2}, {3, 4}, -7);
    EXPECT_TRUE(l.type == kElemLine && l.sourceTag == -7 && l.g[kLx1] == 1 && l.g[kLy1] == 2 &&
                l.g[kLx2] == 3 && l.g[kLy2] == 4);
    for (const auto& [end, closed] : {std::pair{Vec2{0.0099, -0.0099}, 1}, std::pair{Vec2{0.0101, 0}, 0},
                                      std::pair{Vec2{0, 0.0101}, 0}}) {
        const std::vector<ContourElement> c = {lineElem(0, 0, 5, 0), lineElem(5, 0, 5, 5),
                                               lineElem(5, 5, end.x, end.y)};
        EXPECT_EQ(contourIsClosed(c.data(), 3), closed) << end.x << " " << end.y;
    }
    EXPECT_EQ(contourIsClosed(nullptr, 0), 0);
}

// Infinite lines, a line against a full circle, an arc against a circle, angle ranges and feet, by hand.
TEST(ElemPrim, InfiniteLinesCirclesAndFeet) {
    PocketErrors state;
    const double x[4] = {0, 0, 1, 0}, slant[4] = {5, 1, 6, 2}, parallel[4] = {0, 1, 3, 1},
                 same[4] = {7, 0, 9, 0};
    Vec2 p[2];
    EXPECT_EQ(isectLinesInfinite(x, slant, &p[0]), 1);
    EXPECT_XY(EXPECT_NEAR, p[0], 4, 0, 1e-12);
    EXPECT_EQ(isectLinesInfinite(x, parallel, &p[0]), 0);
    EXPECT_EQ(isectLinesInfinite(x, same, &p[0]), -1);
    // Lines apart whose directions' sine is exactly the tolerance 1e-4 are parallel; at 2e-4 they cross.
    const double low[4] = {0, -3, 1, -3}, tilted[4] = {0, 0, 0.999999995, 1e-4}, more[4] = {0, 0, 1, 2e-4};
    EXPECT_EQ(isectLinesInfinite(low, tilted, &p[0]), 0);
    EXPECT_EQ(isectLinesInfinite(low, more, &p[0]), 1);
    EXPECT_XY(EXPECT_NEAR, p[0], -15000, -3, 1e-6);

    const ContourElement quarter = arcElem(1, 3, 2, 0, kPi / 2, 1);  // from (3, 3) to (1, 5)
    const struct {
        double line[4];
        int code;
        double x0, x1;  // the points' x, in either order
    } lines[] = {{{-5, 4, -4, 4}, 2, 1 - std::sqrt(3.0), 1 + std::sqrt(3.0)},
                 {{-5, 5.00005, -4, 5.00005}, 1, 0, 0},
                 {{-5, 4.99995, -4, 4.99995}, 1, 0, 0},  // cutting by less than the tolerance: a touch
                 {{-5, 5.001, -4, 5.001}, 0, 0, 0}};
    for (const auto& c : lines) {
        ASSERT_EQ(isectLineCircle(c.line, &quarter, p), c.code) << c.line[1];
        if (c.code == 1) {
            EXPECT_NEAR(p[0].x, 1, 1e-9);
        }
        if (c.code < 2) continue;
        EXPECT_NEAR(std::min(p[0].x, p[1].x), c.x0, 1e-9);
        EXPECT_NEAR(std::max(p[0].x, p[1].x), c.x1, 1e-9);
    }
    // An arc below 0.001 has no span and holds no point, not even its own start; one of 0.001 holds it.
    for (const double r : {0.0005, 0.001}) {
        const ContourElement speck = arcElem(0, 0, r, 0, kPi / 2, 1);
        const Vec2 start{r, 0};
        EXPECT_EQ(pointInArcSpan(&start, &speck, arcSpanOf(&speck)), r >= 0.001 ? 1 : 0) << r;
    }
    const struct {
        ContourElement circle;
        int code;
    } circles[] = {{arcElem(3, 5, 2, 0, 2 * kPi, 1), 2},    // meets the quarter at its ends
                   {arcElem(1, 7, 2, 0, 2 * kPi, 1), -1},   // touches it at its end (1, 5)
                   {arcElem(-2, 0, 1, 0, 2 * kPi, 1), 0},   // far
                   {arcElem(-1, 1, 2, 0, 2 * kPi, 1), 0}};  // crosses the circle outside the sweep
    for (const auto& c : circles)
        EXPECT_EQ(isectArcCircle(&quarter, &c.circle, p), c.code) << c.circle.g[kAcx];

    const Vec2 centre{1, 1};
    const struct {
        Vec2 at;
        double a0, a1;
        int in;
    } angles[] = {{{2, 2}, 0.5, 1.0, 1},           {{2, 2}, 0.8, 1.0, 0},
                  {{1, 0}, 4.0, 5.0, 1},           {{2, 0.99}, 6.0, 6.5, 1},
                  {{2, 1.01}, 6.0, 6.2, 0},        {{2, 1}, 1e-4, 1, 1},
                  {{2, 2}, kPi / 4 + 2e-4, 1, 0},  {{2, 2}, 0.5, kPi / 4 - 5e-5, 1},
                  {{2, 2}, 0.5, kPi / 4 - 2e-4, 0}};
    for (const auto& a : angles)
        EXPECT_EQ(angleInRange(&a.at, &centre, a.a0, a.a1), a.in) << a.at.x << a.at.y << a.a0;
    // A range of no width holds its own angle only, not the whole turn.
    const Vec2 diagonal{2, 2}, up{1, 2};
    EXPECT_EQ(std::pair(angleInRange(&diagonal, &centre, kPi / 4, kPi / 4), angleInRange(&up, &centre, 1, 1)),
              std::pair(1, 0));

    const double line[4] = {0, 0, 4, 4}, dot[4] = {3, 3, 3.005, 3.002};
    Vec2 foot;
    EXPECT_EQ(projectOnLine(line, 4, 0, &foot), 1);
    EXPECT_XY(EXPECT_NEAR, foot, 2, 2, 1e-12);
    EXPECT_EQ(projectOnLine(dot, 9, 9, &foot), 0);
    EXPECT_XY(EXPECT_EQ, foot, 3.005, 3.002);
    EXPECT_NEAR(distPointLine(4, 0, line), 2 * std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(distPointLine(10, 10, line), 0, 1e-12);
    // A line of no length orders nothing after anything.
    const ContourElement point = lineElem(2, 2, 2, 2);
    const Vec2 a{2, 3}, b{2, 1};
    EXPECT_EQ(pointOrderOnElem(&point, &a, &b), 2);
    EXPECT_EQ(pointOrderOnElem(&point, &b, &a), 2);
}
