#include "geometry/vec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

const double kPi = std::acos(-1.0);

Seg2D sq(int i, bool ccw) {
    // Unit-square loop of four elements around (0.5, 0.5).
    static const double ccwPts[5][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
    static const double cwPts[5][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}};
    const double(*p)[2] = ccw ? ccwPts : cwPts;
    return Seg2D{p[i][0], p[i][1], p[i + 1][0], p[i + 1][1]};
}

}  // namespace

TEST(Vec, ProductsAndLengths) {
    const Vec3 a{1, 2, 3}, b{4, -5, 6};
    EXPECT_DOUBLE_EQ(vecDot3D(&a, &b), 12.0);
    EXPECT_DOUBLE_EQ(dist3D(&a, &b), std::sqrt(9.0 + 49.0 + 9.0));
    EXPECT_DOUBLE_EQ(dist2D(&a, &b), std::sqrt(9.0 + 49.0));
    const Vec2 p{3, 4}, q{0, 0};
    EXPECT_DOUBLE_EQ(vecLen2D(&p), 5.0);
    EXPECT_DOUBLE_EQ(dist2D(&p, &q), 5.0);
    Vec3 c;
    EXPECT_EQ(cross3D(&a, &b, &c), 0);
    EXPECT_DOUBLE_EQ(vecDot3D(&c, &a), 0.0);
    EXPECT_DOUBLE_EQ(vecDot3D(&c, &b), 0.0);
    EXPECT_DOUBLE_EQ(crossLen3D(&a, &b), vecLen3D(&c));
}

TEST(Vec, AddSubModes) {
    const Vec2 a{1, 2}, b{3, 5};
    Vec2 out{9, 9};
    EXPECT_EQ(vecAddSub2D(&a, &b, &out, 1), 1);
    EXPECT_EQ(out.x, 4.0);
    EXPECT_EQ(out.y, 7.0);
    EXPECT_EQ(vecAddSub2D(&a, &b, &out, -1), 1);
    EXPECT_EQ(out.x, -2.0);
    EXPECT_EQ(out.y, -3.0);
    EXPECT_EQ(vecAddSub2D(&a, &b, &out, 0), 0);
    EXPECT_EQ(out.x, -2.0);  // left alone
    vecScale2D(-2.0, &a, &out);
    EXPECT_EQ(out.x, -2.0);
    EXPECT_EQ(out.y, -4.0);
}

TEST(Vec, DegenerateUnitVectors) {
    const Vec3 x{1, 0, 0}, x2{2e-6, 0, 0}, y{0, 1, 0};
    Vec3 out;
    EXPECT_EQ(crossUnit3D(&x, &x2, &out), -1);  // parallel: product kept unnormalised
    EXPECT_EQ(out.x, 0.0);
    EXPECT_EQ(crossUnit3D(&x, &y, &out), 0);
    EXPECT_EQ(out.z, 1.0);

    const Vec3 tiny{5e-6, 0, 0}, v{0, 3, 4};
    EXPECT_EQ(vecNormalize3D(&tiny, &out), -1);
    EXPECT_EQ(out.x, 0.0);
    EXPECT_EQ(vecNormalize3D(&v, &out), 1);
    EXPECT_DOUBLE_EQ(out.z, 0.8);

    const Vec3 tilted{3, 4, 7}, vertical{1e-6, 0, 5};
    EXPECT_EQ(vecUnitXY3D(&tilted, &out), 1);
    EXPECT_DOUBLE_EQ(out.x, 0.6);
    EXPECT_EQ(out.z, 0.0);
    EXPECT_EQ(vecUnitXY3D(&vertical, &out), 0);
    EXPECT_EQ(out.z, 5.0);

    Vec3 f = tilted;
    vecFlattenXY3D(&f);
    EXPECT_DOUBLE_EQ(f.x, 0.6);
    EXPECT_DOUBLE_EQ(f.y, 0.8);
    EXPECT_EQ(f.z, 0.0);
    f = vertical;
    vecFlattenXY3D(&f);
    EXPECT_EQ(f.z, 5.0);  // unchanged
}

TEST(Vec, TriangleAndQuadNormals) {
    const Vec3 a{0, 0, 0}, b{1, 0, 0}, c{1, 1, 0}, d{0, 1, 0};
    Vec3 n;
    double len = 0;
    EXPECT_EQ(quadNormal(&a, &b, &c, &d, &n, &len), 1);
    EXPECT_DOUBLE_EQ(n.z, 2.0);
    EXPECT_DOUBLE_EQ(len, 2.0);
    EXPECT_EQ(triNormal3D(&a, &b, &c, &n), 0);
    EXPECT_DOUBLE_EQ(n.z, 1.0);
}

TEST(Vec, ScalarHelpers) {
    EXPECT_EQ(sqrtPos(-4.0), 0.0);
    EXPECT_EQ(sqrtPos(9.0), 3.0);
    EXPECT_EQ(acosClamped(1.0000001), 0.0);
    EXPECT_DOUBLE_EQ(acosClamped(-1.5), kPi);
    EXPECT_EQ(isEqualTol(1.0, 1.00009), 1);
    EXPECT_EQ(isEqualTol(1.0, 1.00011), 0);
    const double r1[3] = {1.0, 2.0, 7.0}, r2[3] = {1.00005, 1.99995, -3.0}, r3[3] = {1.0, 2.0002, 7.0};
    EXPECT_EQ(
        isectRecordEqual(reinterpret_cast<const IsectRecord*>(r1), reinterpret_cast<const IsectRecord*>(r2)),
        1);
    EXPECT_EQ(
        isectRecordEqual(reinterpret_cast<const IsectRecord*>(r1), reinterpret_cast<const IsectRecord*>(r3)),
        0);
}

TEST(Vec, PolarAngleQuadrantsAndZeros) {
    const struct {
        double y, x, angle;
    } cases[] = {
        {-1, 1e-14, 1.5 * kPi}, {0, 0, 0.0},         {1, 0, 0.5 * kPi},    {0, 2, 0.0},          {0, -1, kPi},
        {1, 1, 0.25 * kPi},     {-1, 1, 1.75 * kPi}, {-1, -1, 1.25 * kPi}, {1e-14, -1e-14, 0.0},
    };
    for (const auto& c : cases) EXPECT_NEAR(polarAngle2D(c.y, c.x), c.angle, 1e-12) << c.y << " " << c.x;
}

TEST(Vec, TurnAngleSignAndCollinear) {
    EXPECT_EQ(turnAngle2D(0, 0, 1, 0, 2, 0), 0.0);
    EXPECT_EQ(turnAngle2D(0, 0, 1, 0, -3, 0), 0.0);  // doubling back is still exactly 0
    EXPECT_NEAR(turnAngle2D(0, 0, 1, 0, 1, 1), 0.5 * kPi, 1e-12);
    EXPECT_NEAR(turnAngle2D(0, 0, 1, 0, 1, -1), -0.5 * kPi, 1e-12);
    // Crossing the angle seam at 0 keeps the sign of the turn.
    EXPECT_NEAR(turnAngle2D(0, 0, 1, -1, 2, -1), 0.25 * kPi, 1e-12);
    EXPECT_NEAR(turnAngle2D(0, 0, 1, 1, 2, 1), -0.25 * kPi, 1e-12);
}

TEST(Vec, SegmentDirectionNeedsLength) {
    Vec2 d{7, 7};
    const Seg2D tooShort{0, 0, 5e-8, 0}, shortOk{0, 0, 0, 2e-7};
    EXPECT_EQ(segDir2D(&tooShort, &d), 0);
    EXPECT_EQ(d.x, 7.0);
    EXPECT_EQ(segDir2D(&shortOk, &d), 1);
    EXPECT_EQ(d.x, 0.0);
    EXPECT_DOUBLE_EQ(d.y, 1.0);

    const Seg2D s{0, 0, 2, 0};
    Vec2 n;
    EXPECT_EQ(segNormal2D(&s, &n, 1), 1);
    EXPECT_EQ(n.y, 1.0);
    EXPECT_EQ(segNormal2D(&s, &n, 2), 1);
    EXPECT_EQ(n.y, -1.0);
    EXPECT_EQ(segNormal2D(&tooShort, &n, 1), 0);
}

TEST(Vec, SegmentPointAccess) {
    Seg2D s{0, 0, 0, 0};
    const Vec2 a{1, 2}, b{3, 6};
    EXPECT_EQ(segSetPoint2D(&s, &a, 1), 1);
    EXPECT_EQ(segSetPoint2D(&s, &b, 7), 1);  // anything but 1 sets the end
    Vec2 out;
    const struct {
        int which, result;
        double x, y;
    } cases[] = {{1, 1, 1, 2}, {2, 1, 3, 6}, {3, 1, 2, 4}, {4, 0, 2, 4}, {0, 0, 2, 4}};
    for (const auto& c : cases) {
        EXPECT_EQ(segGetPoint2D(&s, &out, c.which), c.result) << c.which;
        EXPECT_EQ(out.x, c.x) << c.which;
        EXPECT_EQ(out.y, c.y) << c.which;
    }
}

TEST(Vec, SegmentListClosed) {
    const Seg2D open[2] = {{0, 0, 1, 0}, {1, 0, 1, 1}};
    const Seg2D closed[3] = {{0, 0, 1, 0}, {1, 0, 1, 1}, {1, 1, 5e-6, -5e-6}};
    EXPECT_EQ(segListClosed2D(open, 2), 0);
    EXPECT_EQ(segListClosed2D(closed, 3), 1);
    EXPECT_EQ(segListClosed2D(closed, 0), 0);
}

TEST(Vec, FootAndLineDistance) {
    const Seg2D s{0, 0, 4, 0};
    double fx = 0, fy = 0;
    EXPECT_EQ(footOnLine2D(&s, 7, 3, &fx, &fy), 1);
    EXPECT_EQ(fx, 7.0);
    EXPECT_EQ(fy, 0.0);
    EXPECT_EQ(distPointLine2D(7, 3, &s), 3.0);

    const Seg2D shortSeg{1, 1, 1.003, 1};  // squared length below 1e-5
    EXPECT_EQ(footOnLine2D(&shortSeg, 5, 4, &fx, &fy), 0);
    EXPECT_DOUBLE_EQ(distPointLine2D(5, 4, &shortSeg), 5.0);  // measured to the start
}

TEST(Vec, PointToSegmentDistance) {
    const Seg2D s{0, 0, 4, 0};
    Vec2 near;
    const struct {
        Vec2 p;
        double dist;
        Vec2 near;
    } cases[] = {
        {{2, 3}, 3.0, {2, 0}},    // foot inside
        {{7, 4}, 5.0, {4, 0}},    // beyond the end
        {{-3, -4}, 5.0, {0, 0}},  // before the start
        {{4, 0}, 0.0, {4, 0}},    // on the end point
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(distPointSegNear2D(&c.p, &s, &near), c.dist);
        EXPECT_DOUBLE_EQ(near.x, c.near.x);
        EXPECT_DOUBLE_EQ(near.y, c.near.y);
        EXPECT_DOUBLE_EQ(distPointSeg2D(&c.p, &s), c.dist);
    }
    const Seg2D point{1, 1, 1 + 5e-6, 1};
    const Vec2 p{1, 4};
    EXPECT_DOUBLE_EQ(distPointSegNear2D(&p, &point, &near), 3.0);
    EXPECT_EQ(near.x, 1.0);
}

TEST(Vec, NearestSegmentFirstOfEqualWins) {
    const Seg2D segs[3] = {{0, 2, 4, 2}, {0, -2, 4, -2}, {0, 1, 4, 1}};
    const Vec2 p{2, 0};
    int32_t idx = -1;
    EXPECT_DOUBLE_EQ(nearestSeg2D(&p, segs, 2, &idx), 2.0);
    EXPECT_EQ(idx, 0);
    EXPECT_DOUBLE_EQ(nearestSeg2D(&p, segs, 3, &idx), 1.0);
    EXPECT_EQ(idx, 2);
    EXPECT_EQ(nearestSeg2D(&p, segs, 0, &idx), 1e10);
    EXPECT_EQ(idx, 0);
}

// Against the plain scan of distPointSeg2D: seeded chains of long, short and near-point segments
// (whose foot test reaches past their ends), repeated segments (ties), points on and near them.
TEST(Vec, NearestSegmentEqualsTheFullScan) {
    std::mt19937 rng(3434);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int round = 0; round < 300; ++round) {
        const double scale = round % 3 == 0 ? 1e-3 : round % 3 == 1 ? 0.05 : 5.0;
        std::vector<Seg2D> segs{{0, 0, 0, 0}};
        for (int i = 0; i < (round % 2 == 0 ? 40 : 90); ++i) {
            const Seg2D& b = segs.back();
            segs.push_back(
                i % 7 == 3 ? b
                           : Seg2D{b.x2, b.y2, b.x2 + scale * u(rng), b.y2 + (i % 5 ? scale * u(rng) : 0)});
        }
        for (int k = 0; k < 20; ++k) {
            const Seg2D& s = segs[rng() % segs.size()];
            const double t = 1.5 * u(rng);
            const Vec2 p{s.x1 + t * (s.x2 - s.x1) + 1e-3 * scale * u(rng),
                         s.y1 + t * (s.y2 - s.y1) + 1e-3 * u(rng)};
            double best = 0;
            int32_t want = 0, got = -1;
            for (int32_t i = 0; i < static_cast<int32_t>(segs.size()); ++i) {
                const double d = distPointSeg2D(&p, &segs[i]);
                if (i == 0 || d < best) best = d, want = i;
            }
            ASSERT_EQ(nearestSeg2D(&p, segs.data(), static_cast<int32_t>(segs.size()), &got), best);
            ASSERT_EQ(got, want) << round << " " << k;
        }
    }
}

TEST(Vec, SegmentTurnClasses) {
    const Seg2D a{0, 0, 1, 0};
    const struct {
        Seg2D b;
        int result, out;
    } cases[] = {
        {{1, 0, 2, 1}, 1, 1},      // left
        {{1, 0, 2, -1}, 1, -1},    // right
        {{1, 0, 3, 0.001}, 1, 0},  // nearly the same direction
        {{5, 0, 2, 0}, 1, -2},     // collinear, pointing apart
        {{1, 0, 1, 5e-8}, 0, 99},  // no direction
    };
    for (const auto& c : cases) {
        int out = 99;
        EXPECT_EQ(segTurn2D(&a, &c.b, &out), c.result);
        EXPECT_EQ(out, c.out);
    }
}

TEST(Vec, WindingInsideOutsideAndSense) {
    Seg2D ccw[4], cw[4];
    for (int i = 0; i < 4; ++i) {
        ccw[i] = sq(i, true);
        cw[i] = sq(i, false);
    }
    const Vec2 centre{0.5, 0.5}, farSide{3.0, 0.5}, below{0.5, -2.0};
    EXPECT_EQ(pointInPolyWinding2D(ccw, 4, &centre), 1);
    EXPECT_EQ(pointInPolyWinding2D(cw, 4, &centre), -1);
    EXPECT_EQ(pointInPolyWinding2D(ccw, 4, &farSide), 0);
    EXPECT_EQ(pointInPolyWinding2D(cw, 4, &below), 0);
    EXPECT_EQ(pointInPolyWinding2D(ccw, 0, &centre), 0);

    EXPECT_EQ(polyOrient2D(ccw, 4), 1);
    EXPECT_EQ(polyOrient2D(cw, 4), -1);
    EXPECT_EQ(polyOrient2D(ccw, 1), 0);
    const Seg2D flat[2] = {{0, 0, 2, 0}, {2, 0, 0, 0}};
    EXPECT_EQ(polyOrient2D(flat, 2), 0);
}

TEST(Vec, LineLineIntersection) {
    const Seg2D a{0, 0, 2, 0};
    const struct {
        Seg2D b;
        int result;
        double x, y;
    } cases[] = {
        {{1, -1, 1, 5}, 1, 1, 0},       // crossing, beyond b's end is fine for lines
        {{5, 3, 6, 4}, 1, 2, 0},        // lines meet outside both segments
        {{0, 1, 2, 1}, 0, 0, 0},        // parallel
        {{7, 0, 9, 0}, -1, 0, 0},       // same line
        {{1.5, 0, 1.5, 0}, 1, 1.5, 0},  // b is a point on a
        {{1.5, 1, 1.5, 1}, 0, 0, 0},    // b is a point off a
    };
    for (const auto& c : cases) {
        Vec2 out{-99, -99};
        EXPECT_EQ(lineLineIsect2D(&a, &c.b, &out), c.result);
        if (c.result == 1) {
            EXPECT_NEAR(out.x, c.x, 1e-12);
            EXPECT_NEAR(out.y, c.y, 1e-12);
        }
    }
}

TEST(Vec, DegenerateSegmentIntersection) {
    const Seg2D p{1, 1, 1, 1}, q{1 + 5e-6, 1, 1 + 5e-6, 1}, far{3, 3, 3, 3}, s{0, 0, 2, 2};
    Vec2 out{0, 0};
    EXPECT_EQ(segIsectDegenerate2D(&p, &q, &out), 1);
    EXPECT_EQ(out.x, 1.0);
    EXPECT_EQ(segIsectDegenerate2D(&p, &far, &out), 0);
    EXPECT_EQ(segIsectDegenerate2D(&s, &p, &out), 1);
    EXPECT_EQ(segIsectDegenerate2D(&far, &s, &out), 0);
    EXPECT_EQ(segIsectDegenerate2D(&s, &s, &out), 0);
}

TEST(Vec, SegmentSegmentIntersection) {
    const struct {
        Seg2D a, b;
        int result;
        double x, y;
    } cases[] = {
        {{0, 0, 2, 2}, {0, 2, 2, 0}, 1, 1, 1},              // crossing
        {{0, 0, 2, 0}, {1, 1, 1, 3}, 0, 0, 0},              // line crosses, segment does not
        {{0, 0, 2, 0}, {2, 0, 5, 0}, 1, 2, 0},              // collinear, touching at an end
        {{3, 0, 5, 0}, {0, 0, 3, 0}, 1, 3, 0},              // touching from the other side
        {{0, 0, 2, 0}, {1, 0, 4, 0}, -1, 0, 0},             // overlap by 1.0
        {{0, 0, 2, 0}, {2.5, 0, 4, 0}, 0, 0, 0},            // gap
        {{0, 0, 0, 2}, {0, 2.00005, 0, 4}, 1, 0, 2.00005},  // vertical, touching within 1e-4: b's end
        {{0, 0, 0, 2}, {0, -1, 0, 1}, -1, 0, 0},            // vertical overlap
        {{0, 0, 2, 0}, {0, 1, 2, 1}, 0, 0, 0},              // parallel
    };
    for (const auto& c : cases) {
        Vec2 out{-99, -99};
        EXPECT_EQ(segSegIsect2D(&c.a, &c.b, &out), c.result) << c.b.x1 << "," << c.b.y1;
        EXPECT_NEAR(out.x, c.x, 1e-12);
        EXPECT_NEAR(out.y, c.y, 1e-12);
    }
}

TEST(Vec, LineCircleTangentAndSecants) {
    const double circle[7] = {0, 0, 0, 0, 0, 0, 1.0};
    Vec2 p1{9, 9}, p2{9, 9};
    const Seg2D nearTangent{-2, 1 + 5e-6, 2, 1 + 5e-6};
    EXPECT_EQ(lineCircleIsect2D(&nearTangent, circle, &p1, &p2), 1);
    EXPECT_NEAR(p1.x, 0.0, 1e-12);
    EXPECT_NEAR(p1.y, 1 + 5e-6, 1e-12);

    const Seg2D missing{-2, 1.001, 2, 1.001}, point{0.5, 0, 0.5, 0};
    EXPECT_EQ(lineCircleIsect2D(&missing, circle, &p1, &p2), 0);
    EXPECT_EQ(lineCircleIsect2D(&point, circle, &p1, &p2), 0);

    const Seg2D horizontal{-2, 0, 2, 0};
    EXPECT_EQ(lineCircleIsect2D(&horizontal, circle, &p1, &p2), 2);
    EXPECT_DOUBLE_EQ(p1.x, -1.0);
    EXPECT_DOUBLE_EQ(p2.x, 1.0);
    const Seg2D vertical{0.6, -3, 0.6, 3};
    EXPECT_EQ(lineCircleIsect2D(&vertical, circle, &p1, &p2), 2);
    EXPECT_DOUBLE_EQ(p1.y, -0.8);
    EXPECT_DOUBLE_EQ(p2.y, 0.8);
}

TEST(Vec, LineCirclePointsLieOnBoth) {
    std::mt19937 rng(4101);
    std::uniform_real_distribution<double> u(-5.0, 5.0);
    int secants = 0;
    for (int i = 0; i < 500; ++i) {
        const double circle[7] = {u(rng), u(rng), 0, 0, 0, 0, 1.0 + 0.5 * (u(rng) + 5.0)};
        const Seg2D s{u(rng), u(rng), u(rng), u(rng)};
        Vec2 p[2];
        const int n = lineCircleIsect2D(&s, circle, &p[0], &p[1]);
        for (int k = 0; k < n; ++k) {
            EXPECT_NEAR(std::hypot(p[k].x - circle[0], p[k].y - circle[1]), circle[6], 1e-6);
            EXPECT_LT(distPointLine2D(p[k].x, p[k].y, &s), 1e-6);
        }
        if (n == 2) {
            ++secants;
            EXPECT_LE(p[0].x, p[1].x + 1e-5);
        }
    }
    EXPECT_GT(secants, 50);
}

TEST(Vec, SegmentCircleCounts) {
    const double circle[7] = {0, 0, 0, 0, 0, 0, 1.0};
    const struct {
        Seg2D s;
        int result;
        double x0;
    } cases[] = {
        {{-1, 1, 1, 1}, -1, 0.0},   // tangent point on the segment
        {{2, 1, 3, 1}, 0, 0.0},     // tangent point outside the segment
        {{-2, 0, 2, 0}, 2, -1.0},   // both points
        {{0, 0, 2, 0}, 1, 1.0},     // only the second: moved to out[0]
        {{-2, 0, 0, 0}, 1, -1.0},   // only the first
        {{-0.5, 0, 0.5, 0}, 0, 0},  // inside, no crossing
    };
    for (const auto& c : cases) {
        Vec2 out[2] = {{9, 9}, {9, 9}};
        EXPECT_EQ(segCircleIsect2D(&c.s, circle, out), c.result) << c.s.x1;
        if (c.result != 0) {
            EXPECT_NEAR(out[0].x, c.x0, 1e-12) << c.s.x1;
        }
    }
}

TEST(Vec, RotateTowardUnitVectors) {
    const Vec3 x{1, 0, 0}, y{0, 1, 0};
    Vec3 out;
    EXPECT_EQ(vecRotateToward3D(&out, &x, &x, 0.3), -1);
    EXPECT_EQ(out.x, 1.0);
    EXPECT_EQ(vecRotateToward3D(&out, &x, &y, 0.5 * kPi), 0);
    EXPECT_NEAR(out.x, 0.0, 1e-12);
    EXPECT_NEAR(out.y, 1.0, 1e-12);

    EXPECT_EQ(vecRotateTowardClamped3D(&out, &x, &y, 2.0), 1);  // within the step: w itself
    EXPECT_EQ(out.y, 1.0);
    EXPECT_EQ(vecRotateTowardClamped3D(&out, &x, &y, 0.25 * kPi), 0);
    EXPECT_NEAR(out.x, std::sqrt(0.5), 1e-12);

    Vec3 v = x;  // out may be the input
    EXPECT_EQ(vecRotateToward3D(&v, &v, &y, 0.5 * kPi), 0);
    EXPECT_NEAR(v.y, 1.0, 1e-12);
}

TEST(Vec, StepTowardPolarKeepsInclination) {
    std::mt19937 rng(2101);
    std::uniform_real_distribution<double> az(0.0, 2 * kPi), inc(0.2, 1.3);
    for (int i = 0; i < 200; ++i) {
        const double t = inc(rng), a1 = az(rng), a2 = az(rng);
        const Vec3 v{std::sin(t) * std::cos(a1), std::sin(t) * std::sin(a1), std::cos(t)};
        const Vec3 w{std::sin(t) * std::cos(a2), std::sin(t) * std::sin(a2), std::cos(t)};
        Vec3 out;
        const int r = vecStepTowardPolar3D(&out, &v, &w, 0.01);
        if (r == 1) {
            EXPECT_EQ(out.x, w.x);
            continue;
        }
        EXPECT_EQ(r, 0);
        EXPECT_NEAR(out.z, v.z, 1e-12);
        EXPECT_NEAR(vecLen3D(&out), 1.0, 1e-12);
    }
    const Vec3 up{0, 0, 1}, side{1, 0, 0}, near{std::sin(1e-6), 0, std::cos(1e-6)};
    Vec3 out;
    EXPECT_EQ(vecStepTowardPolar3D(&out, &up, &side, 0.1), -1);  // no azimuth for the vertical
    EXPECT_EQ(vecStepTowardPolar3D(&out, &up, &near, 0.1), 1);
    EXPECT_EQ(out.x, near.x);
}
