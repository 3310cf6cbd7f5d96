#include "KVWOG5/pred2d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "vecnear.h"

namespace {

const double kPi = std::numbers::pi;

TEST(Pred2D, SegLineEquation) {
    const struct {
        Seg2D s;
        int result;
        double a, b, c;
    } cases[] = {
        {{0, 0, 1, 0}, 1, 0, -1, 0},
        {{1, 1, 1, 3}, 1, 1, 0, -1},
        {{0, 2, 4, 2}, 1, 0, -1, 2},
        {{0, 0, 1e-13, 0}, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        double a = 9, b = 9, cc = 9;
        EXPECT_EQ(segLineEquation2D(&c.s, &a, &b, &cc), c.result);
        EXPECT_EQ(a, c.a);
        EXPECT_EQ(b, c.b);
        EXPECT_EQ(cc, c.c);
    }
}

TEST(Pred2D, SidesAreasAndNearness) {
    const Vec2 o{0, 0}, x{1, 0}, y{0, 1};
    EXPECT_EQ(triArea2D(&o, &x, &y), 0.5);
    EXPECT_EQ(triArea2D(&o, &y, &x), -0.5);
    // Line of (0,0)-(1,0): the normal (0, -1) points to the right of the direction.
    const Vec2 below{0, -1}, above{0, 1}, on{5, 0};
    EXPECT_EQ(sideOfLine2D(&below, 0, -1, 0), 1);
    EXPECT_EQ(sideOfLine2D(&above, 0, -1, 0), -1);
    EXPECT_EQ(sideOfLine2D(&on, 0, -1, 0), 0);
    const Vec2 d1{1e-6, 1e-6}, d2{1e-6, 2e-6}, p34{3, 4};
    EXPECT_EQ(pointsNear2D(&o, &d1, 1e-6), 1);
    EXPECT_EQ(pointsNear2D(&o, &d2, 1e-6), 0);
    EXPECT_EQ(wogDist2D(&o, &p34), 5);
}

TEST(Pred2D, Ccw) {
    const struct {
        Vec2 p0, p1, p2;
        int expected;
    } cases[] = {
        {{0, 0}, {1, 0}, {1, 1}, 1},    // left turn
        {{0, 0}, {1, 0}, {1, -1}, -1},  // right turn
        {{0, 0}, {1, 0}, {2, 0}, 1},    // collinear, p2 beyond p1
        {{0, 0}, {1, 0}, {-1, 0}, -1},  // collinear, p0 between
        {{0, 0}, {2, 0}, {1, 0}, 0},    // collinear, p2 between
        {{0, 0}, {1, 1}, {1, 1}, 0},    // p2 on p1
    };
    for (const auto& c : cases) EXPECT_EQ(ccw2D(&c.p0, &c.p1, &c.p2), c.expected);
}

TEST(Pred2D, SegsIntersect) {
    const struct {
        Seg2D s, t;
        int expected;
    } cases[] = {
        {{0, 0, 1, 0}, {1, 0, 1, 1}, 1},         // touch at an end
        {{0, 0, 1, 0}, {2, 0, 3, 0}, 0},         // collinear, apart
        {{0, 0, 2, 0}, {1, 0, 3, 0}, 1},         // collinear overlap
        {{0, 0, 2, 2}, {0, 2, 2, 0}, 1},         // cross
        {{0, 0, 2, 0}, {1, 0, 1, 1}, 1},         // T
        {{0, 0, 2, 0}, {0, 1, 2, 1}, 0},         // parallel
        {{0, 0, 1, 0}, {1.01, -1, 1.01, 1}, 0},  // near miss
        {{0, 0, 2, 2}, {1.5, 0, 3, 0.5}, 0},     // boxes overlap, no contact
    };
    for (const auto& c : cases) {
        EXPECT_EQ(segsIntersect2D(&c.s, &c.t), c.expected);
        EXPECT_EQ(segsIntersect2D(&c.t, &c.s), c.expected);
    }
}

TEST(Pred2D, LineIntersections) {
    const Seg2D s{0, 0, 2, 2}, t{0, 2, 2, 0};
    Vec2 p{-7, -7};
    ASSERT_EQ(segLinesIntersect2D(&s, &t, &p), 1);
    EXPECT_XY(EXPECT_NEAR, p, 1, 1, 1e-12);
    // The lines, not the segments, are intersected.
    const Seg2D u{0, 0, 1, 0}, v{5, 1, 5, 2};
    ASSERT_EQ(segLinesIntersect2D(&u, &v, &p), 1);
    EXPECT_XY(EXPECT_NEAR, p, 5, 0, 1e-12);

    const Seg2D par{0, 1, 1, 1}, tiny{0, 0, 1e-13, 0};
    p = Vec2{-7, -7};
    EXPECT_EQ(segLinesIntersect2D(&u, &par, &p), 0);
    EXPECT_EQ(segLinesIntersect2D(&tiny, &v, &p), 0);
    EXPECT_XY(EXPECT_EQ, p, -7, -7);

    const Seg2D almost{0, 1, 1, 1 + 1e-13};
    EXPECT_EQ(lineLineIntersectTol2D(&u, &almost, 1e-12, &p), 0);
    EXPECT_EQ(lineLineIntersectTol2D(&u, &almost, 0, &p), 1);
    EXPECT_EQ(lineLineIntersectTol2D(&s, &t, 1e-12, &p), 1);
}

TEST(Pred2D, PointOnSeg) {
    const Seg2D s{0, 0, 1, 0}, vert{0, 0, 0, 1}, point{1, 1, 1, 1};
    const struct {
        Vec2 p;
        const Seg2D* seg;
        int expected;
    } cases[] = {
        {{0.5, 0.0009}, &s, 1},    {{0.5, 0.0011}, &s, 0}, {{1.0009, 0.0005}, &s, 1},  // near the end point
        {{1.0011, 0.0}, &s, 0},    {{-0.5, 0.0}, &s, 0},   {{1.0, 0.0}, &s, 1},
        {{0.0005, 0.5}, &vert, 1}, {{0.0, 1.5}, &vert, 0}, {{1.0005, 1.0}, &point, 1},
        {{5.0, 1.0}, &point, 0},  // a point has no line through it
    };
    for (const auto& c : cases) EXPECT_EQ(pointOnSeg2D(&c.p, c.seg), c.expected) << c.p.x << " " << c.p.y;
}

TEST(Pred2D, FootAndProjection) {
    const Seg2D s{0, 0, 1, 0};
    Vec2 foot{-7, -7};
    const Vec2 inside{0.5, 3}, beyond{2, 3};
    EXPECT_EQ(footOnSeg2D(&inside, &s, &foot), 1);
    EXPECT_XY(EXPECT_EQ, foot, 0.5, 0);
    EXPECT_EQ(footOnSeg2D(&beyond, &s, &foot), 0);
    EXPECT_XY(EXPECT_EQ, foot, 2, 0);
    const Seg2D tiny{1, 1, 1, 1};
    foot = Vec2{-7, -7};
    EXPECT_EQ(footOnSeg2D(&inside, &tiny, &foot), 0);
    EXPECT_EQ(foot.x, -7);

    const Seg2D ten{0, 0, 10, 0}, shortSeg{0, 0, 0.0005, 0}, dot{0, 0, 0, 9e-6};
    const struct {
        const Seg2D* seg;
        Vec2 p;
        int expected;
    } cases[] = {
        {&ten, {5, 3}, 1},  {&ten, {-1, 0}, 0},      {&ten, {10, 0}, 1}, {&ten, {0, -2}, 1},
        {&ten, {11, 0}, 0}, {&shortSeg, {0, 0}, -3}, {&dot, {0, 0}, -3},
    };
    for (const auto& c : cases) EXPECT_EQ(segProjectInside2D(c.seg, &c.p), c.expected);
}

TEST(Pred2D, PseudoAngleDiff) {
    const struct {
        double dx, dy, ref;
        int dir;
        double expected;
    } cases[] = {
        {0, 1, 0, 1, 2},    {1, 0, 8, 1, 0},   {-1, 0, 0, 1, 4},    {0, -1, 0, 1, 6},
        {1, 1, 0, 1, 1},    {-1, -1, 0, 1, 5}, {0, 1, 0, -1, 6},    {0, 0, 0, 1, 0},
        {1, 0, 1e-6, 1, 0}, {0, 1, 3, 1, 7},   {1, 0.5, 0, 1, 0.5},
    };
    for (const auto& c : cases) EXPECT_EQ(pseudoAngleDiff2D(c.dx, c.dy, c.ref, c.dir), c.expected);
    const double justBelow = pseudoAngleDiff2D(1, -1e-9, 0, 1);
    EXPECT_LT(justBelow, 8.0);
    EXPECT_NEAR(justBelow, 8.0, 1e-8);
}

TEST(Pred2D, ArcAngles) {
    const Vec2 o{0, 0};
    const struct {
        Vec2 a, b;
        int dir;
        double expected;
    } cases[] = {
        {{1, 0}, {0, 1}, 1, kPi / 2},
        {{1, 0}, {0, 1}, -1, 3 * kPi / 2},
        {{1, 0}, {-1, 0}, 1, kPi},
        {{1, 0}, {0, -1}, 1, 3 * kPi / 2},
        {{2, 0}, {0, 5}, 1, kPi / 2},
        {{1, 0}, {1, 1}, 1, kPi / 4},
        {{1, 0}, {-1, -1}, 1, 5 * kPi / 4},
        {{1, 0}, {1, -1}, 1, 7 * kPi / 4},
        {{1, 0}, {-1, 1}, 1, 3 * kPi / 4},
        {{1, 0}, {3, 0}, 1, 0},
        {{1, 0}, {3, 0}, -1, 0},
    };
    for (const auto& c : cases) {
        double angle = -1;
        EXPECT_EQ(arcPointsCenter2D(&c.a, &o, &c.b, c.dir, &angle), 1);
        EXPECT_NEAR(angle, c.expected, 1e-7) << c.b.x << " " << c.b.y << " " << c.dir;
        angle = -1;
        EXPECT_EQ(arcAngleOf2D(&c.a, &o, &c.b, c.dir, &angle), 0);
        EXPECT_NEAR(angle, c.expected, 1e-7);
    }
    double angle = -1;
    EXPECT_EQ(arcPointsCenter2D(&o, &o, &cases[0].b, 1, &angle), 0);
    EXPECT_EQ(angle, 0);
}

TEST(Pred2D, EquationRoots) {
    const struct {
        double a, b, c;
        int result;
        double x1, x2;
    } cases[] = {
        {1, -3, 2, 2, 2, 1},  {1, 0, -4, 2, 2, -2}, {0, 2, -4, 1, 2, 0}, {1, 0, 1, 0, 0, 0},
        {1, 2, 1, 2, -1, -1}, {0, 0, 1, 0, 0, 0},   {0, 0, 0, -1, 0, 0}, {2, 4, -6, 2, -3, 1},
    };
    for (const auto& c : cases) {
        double x1 = 9, x2 = 9;
        EXPECT_EQ(wogSolveQuadratic(c.a, c.b, c.c, &x1, &x2), c.result);
        EXPECT_EQ(x1, c.x1);
        EXPECT_EQ(x2, c.x2);
    }
    double x = 9;
    EXPECT_EQ(wogSolveLinear(2, -4, &x), 1);
    EXPECT_EQ(x, 2);
    EXPECT_EQ(wogSolveLinear(0, 3, &x), 0);
    EXPECT_EQ(x, 0);
    x = 9;
    EXPECT_EQ(wogSolveLinear(0, 0, &x), -1);
    EXPECT_EQ(x, 0);
}

TEST(Pred2D, CircleIntersections) {
    Vec2 p1{}, p2{};
    const ToolCircle c5{0, 0, 5, 0}, d5{6, 0, 5, 0};
    ASSERT_EQ(circleCircleIntersect2D(&c5, &d5, &p1, &p2), 2);
    EXPECT_XY(EXPECT_EQ, p1, 3, 4);
    EXPECT_XY(EXPECT_EQ, p2, 3, -4);
    const ToolCircle u{0, 0, 1, 0}, far{5, 0, 1, 0}, touch{2, 0, 1, 0}, inner{0, 0, 0.5, 0};
    EXPECT_EQ(circleCircleIntersect2D(&u, &far, &p1, &p2), 0);
    EXPECT_EQ(circleCircleIntersect2D(&u, &inner, &p1, &p2), 0);  // concentric
    EXPECT_EQ(circleCircleIntersect2D(&u, &u, &p1, &p2), 0);
    ASSERT_EQ(circleCircleIntersect2D(&u, &touch, &p1, &p2), 2);
    EXPECT_XY(EXPECT_EQ, p1, 1, 0);
    EXPECT_EQ(p2.x, 1);

    // Line x = 1 touches the unit circle: two equal points.
    EXPECT_EQ(lineCircleIntersect2D(1, 0, -1, &u, &p1, &p2), 2);
    EXPECT_XY(EXPECT_EQ, p1, 1, 0);
    EXPECT_EQ(p2.y, 0);
    EXPECT_EQ(lineCircleIntersect2D(0, 1, -2, &u, &p1, &p2), 0);
    EXPECT_EQ(lineCircleIntersect2D(0, 0, 1, &u, &p1, &p2), kGeoNoLine);
    // y = x through the circle of radius 2 about (1, 1).
    const ToolCircle off{1, 1, 2, 0};
    ASSERT_EQ(lineCircleIntersect2D(1, -1, 0, &off, &p1, &p2), 2);
    EXPECT_XY(EXPECT_NEAR, p1, 1 + std::sqrt(2.0), 1 + std::sqrt(2.0), 1e-12);
    EXPECT_XY(EXPECT_NEAR, p2, 1 - std::sqrt(2.0), 1 - std::sqrt(2.0), 1e-12);
}

TEST(Pred2D, SegmentLineMeetsCircle) {
    const ToolCircle c2{0, 0, 2, 0};
    Vec2 p1{-7, -7}, p2{-7, -7};
    const Seg2D horiz{-10, 0, 10, 0};
    ASSERT_EQ(segCircleIntersect2D(&horiz, &c2, &p1, &p2), 2);
    EXPECT_XY(EXPECT_EQ, p1, 2, 0);
    EXPECT_EQ(p2.x, -2);
    const Seg2D vert{1, -10, 1, 10};
    ASSERT_EQ(segCircleIntersect2D(&vert, &c2, &p1, &p2), 2);
    EXPECT_EQ(p1.x, 1);
    EXPECT_NEAR(p1.y, std::sqrt(3.0), 1e-15);
    EXPECT_NEAR(p2.y, -std::sqrt(3.0), 1e-15);
    // Not clipped to the segment.
    const ToolCircle c5{0, 0, 5, 0};
    const Seg2D stub{0, 0, 1, 0};
    ASSERT_EQ(segCircleIntersect2D(&stub, &c5, &p1, &p2), 2);
    EXPECT_EQ(p1.x, 5);
    EXPECT_EQ(p2.x, -5);

    p1 = Vec2{-7, -7};
    const Seg2D away{10, 10, 20, 10}, diag{-3, -3, 3, 3}, dot{1, 1, 1, 1};
    const ToolCircle side{3, -3, 2, 0};
    EXPECT_EQ(segCircleIntersect2D(&away, &c2, &p1, &p2), 0);    // boxes miss
    EXPECT_EQ(segCircleIntersect2D(&diag, &side, &p1, &p2), 0);  // boxes meet, line misses
    EXPECT_EQ(segCircleIntersect2D(&dot, &c2, &p1, &p2), 0);
    EXPECT_EQ(p1.x, -7);
}

}  // namespace
