#include "KVWOG5/geocalc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "KVWOG5/wogerr.h"
#include "vecnear.h"

namespace {

TEST(Geocalc, Distances3D) {
    const Vec3 a{1, 2, 3}, b{4, 6, 3};
    EXPECT_EQ(wogDist3D(&a, &b), 5);
    EXPECT_EQ(wogDist3D(&a, &a), 0);

    const struct {
        Vec3 p;
        double seg[6];
        double expected;
    } cases[] = {
        {{0, 1, 0}, {0, 0, 0, 2, 0, 0}, 1},
        {{5, 1, 0}, {0, 0, 0, 2, 0, 0}, 1},  // the line, not the segment
        {{1, 1, 1}, {0, 0, 0, 1, 0, 0}, std::sqrt(2.0)},
        {{0, 0, 5}, {0, 0, 0, 1, 1, 0}, 5},
        {{3, 0, 0}, {0, 0, 0, 0, 0.0005, 0}, 3},  // too short for a line: nearer end
        {{3, 1, 0}, {0, 0, 0, 0.0005, 0, 0}, std::hypot(2.9995, 1.0)},
        {{3, 1, 0}, {0, 0, 0, 0.002, 0, 0}, 1},  // just long enough
    };
    for (const auto& c : cases) EXPECT_NEAR(distPointLine3D(&c.p, c.seg), c.expected, 1e-12) << c.p.x;
}

const double kUnitTri[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};

TEST(Geocalc, TrianglePlane) {
    const struct {
        double tri[9];
        int result;
        double a, b, c, d;
    } cases[] = {
        {{0, 0, 0, 1, 0, 0, 0, 1, 0}, 1, 0, 0, 1, 0},
        {{0, 0, 2, 0, 1, 2, 1, 0, 2}, 1, 0, 0, -1, 2},  // clockwise seen from above: normal down
        {{3, 0, 0, 3, 2, 0, 3, 0, 5}, 1, 1, 0, 0, -3},
        {{0, 0, 0, 1, 1, 1, 2, 2, 2}, 0, 0, 0, 0, 0},  // collinear
        {{1, 2, 3, 1, 2, 3, 4, 5, 6}, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        double a, b, cc, d;
        EXPECT_EQ(trianglePlane3D(c.tri, &a, &b, &cc, &d), c.result) << c.tri[0];
        EXPECT_NEAR(a, c.a, 1e-15);
        EXPECT_NEAR(b, c.b, 1e-15);
        EXPECT_NEAR(cc, c.c, 1e-15);
        EXPECT_NEAR(d, c.d, 1e-15);
    }
    const double tilted[9] = {0, 0, 0, 2, 0, 0, 0, 0, 3};  // the xz plane, normal -y
    double a, b, c, d;
    ASSERT_EQ(trianglePlane3D(tilted, &a, &b, &c, &d), 1);
    const Vec3 above{0, -4, 0}, on{5, 0, 7}, below{0, 4, 0};
    EXPECT_EQ(sideOfPlane3D(&above, a, b, c, d), 1);
    EXPECT_EQ(sideOfPlane3D(&on, a, b, c, d), 0);
    EXPECT_EQ(sideOfPlane3D(&below, a, b, c, d), -1);
}

TEST(Geocalc, FootOnSegment) {
    const struct {
        Vec3 p;
        double seg[6];
        int result;
        Vec3 foot;
    } cases[] = {
        {{3, 1, 0}, {0, 0, 0, 2, 0, 0}, 0, {3, 0, 0}},
        {{1, 1, 0}, {0, 0, 0, 2, 0, 0}, 1, {1, 0, 0}},
        {{-1, 0, 4}, {0, 0, 0, 2, 0, 0}, 0, {-1, 0, 0}},
        {{0, 0, 0}, {0, 0, 0, 2, 0, 0}, 1, {0, 0, 0}},  // an end counts as inside
        {{1, 1, 1}, {0, 0, 0, 2, 2, 2}, 1, {1, 1, 1}},
        {{5, 0, 0}, {0, 0, 0, 1e-7, 0, 0}, 1, {1e-7, 0, 0}},  // too short: nearer end
        {{-5, 0, 0}, {0, 0, 0, 1e-7, 0, 0}, 1, {0, 0, 0}},
        {{0, 5, 0}, {-5e-8, 0, 0, 5e-8, 0, 0}, 1, {5e-8, 0, 0}},  // a tie takes the second end
    };
    for (const auto& c : cases) {
        Vec3 out{-9, -9, -9};
        EXPECT_EQ(footOnSeg3D(&c.p, c.seg, &out), c.result) << c.p.x << " " << c.p.y;
        EXPECT_XYZ(EXPECT_NEAR, out, c.foot.x, c.foot.y, c.foot.z, 1e-15);
    }
}

TEST(Geocalc, PointInTriangle) {
    const double vertical[9] = {0, 0, 0, 0, 2, 0, 0, 0, 2};  // in the plane x = 0
    const double flat[9] = {0, 0, 0, 1, 1, 1, 2, 2, 2};
    const struct {
        Vec3 p;
        const double* tri;
        int result;
        Vec3 projection;
    } cases[] = {
        {{0.2, 0.2, 5}, kUnitTri, 1, {0.2, 0.2, 0}},
        {{1, 1, 0}, kUnitTri, 0, {1, 1, 0}},
        {{0.5, 0.5, -3}, kUnitTri, 1, {0.5, 0.5, 0}},  // on the slanted edge
        {{0, 0, 2}, kUnitTri, 1, {0, 0, 0}},           // on a vertex
        {{-0.01, 0.5, 0}, kUnitTri, 0, {-0.01, 0.5, 0}},
        {{7, 0.5, 0.5}, vertical, 1, {0, 0.5, 0.5}},
        {{7, 1.5, 1.5}, vertical, 0, {0, 1.5, 1.5}},
        {{1, 1, 1}, flat, 0, {1, 1, 1}},  // a triangle without a plane holds nothing
    };
    for (const auto& c : cases) {
        Vec3 out;
        EXPECT_EQ(pointInTriangle3D(&c.p, c.tri, &out), c.result) << c.p.x << " " << c.p.y << " " << c.p.z;
        EXPECT_XYZ(EXPECT_NEAR, out, c.projection.x, c.projection.y, c.projection.z, 1e-12);
    }
}

TEST(Geocalc, PointInTriangleAgreesWithBarycentricOnRandomInput) {
    std::mt19937 rng(15);
    std::uniform_real_distribution<double> u(-10, 10);
    int inside = 0;
    for (int i = 0; i < 2000; i++) {
        double tri[9];
        for (double& v : tri) v = u(rng);
        const Vec3 p{u(rng), u(rng), u(rng)};
        double a, b, c, d;
        ASSERT_EQ(trianglePlane3D(tri, &a, &b, &c, &d), 1);
        Vec3 out;
        const int r = pointInTriangle3D(&p, tri, &out);
        EXPECT_NEAR(a * out.x + b * out.y + c * out.z + d, 0.0, 1e-9);
        // Barycentric coordinates of the projection from sub-triangle areas along the normal.
        const Vec3 v0{tri[0], tri[1], tri[2]}, v1{tri[3], tri[4], tri[5]}, v2{tri[6], tri[7], tri[8]};
        auto area = [&](const Vec3& x, const Vec3& y, const Vec3& z) {
            const double ux = y.x - x.x, uy = y.y - x.y, uz = y.z - x.z;
            const double wx = z.x - x.x, wy = z.y - x.y, wz = z.z - x.z;
            return a * (uy * wz - uz * wy) + b * (uz * wx - ux * wz) + c * (ux * wy - uy * wx);
        };
        const double total = area(v0, v1, v2);
        const double l0 = area(out, v1, v2) / total, l1 = area(v0, out, v2) / total,
                     l2 = area(v0, v1, out) / total;
        const double least = std::fmin(l0, std::fmin(l1, l2));
        if (std::fabs(least) < 1e-9) continue;  // on an edge: rounding decides
        EXPECT_EQ(r, least > 0 ? 1 : 0) << i;
        inside += r;
    }
    EXPECT_GT(inside, 50);
}

TEST(Geocalc, CylinderSlice) {
    const double vertical[6] = {0, 0, 0, 0, 0, 10};
    const double horizontal[6] = {0, 0, 0, 10, 0, 0};
    Seg2D l1{}, l2{};
    Ellipse2D e{};
    ASSERT_EQ(cylinderSliceZ(vertical, 2, 5, &l1, &l2, &e), 3);
    EXPECT_NEAR(e.cx, 0, 1e-15);
    EXPECT_NEAR(e.cy, 0, 1e-15);
    EXPECT_NEAR(e.a, 2, 1e-15);
    EXPECT_NEAR(e.b, 2, 1e-15);

    ASSERT_EQ(cylinderSliceZ(horizontal, 2, 1, &l1, &l2, &e), 2);
    const double w = std::sqrt(3.0);
    EXPECT_NEAR(l1.x1, 0, 1e-15);
    EXPECT_NEAR(l1.x2, 10, 1e-15);
    EXPECT_NEAR(l1.y1, w, 1e-15);
    EXPECT_NEAR(l1.y2, w, 1e-15);
    EXPECT_NEAR(l2.y1, -w, 1e-15);
    EXPECT_NEAR(l2.y2, -w, 1e-15);
    EXPECT_EQ(cylinderSliceZ(horizontal, 2, 2, &l1, &l2, &e), 0);  // tangent plane
    EXPECT_EQ(cylinderSliceZ(horizontal, 2, -3, &l1, &l2, &e), 0);
    ASSERT_EQ(cylinderSliceZ(horizontal, 2, 1.9995, &l1, &l2, &e), 1);
    EXPECT_EQ(l1.x1, 0);
    EXPECT_EQ(l1.y1, 0);
    EXPECT_EQ(l1.x2, 10);
    EXPECT_EQ(l1.y2, 0);

    // Rising at 45 degrees towards -y, given upper end first.
    const double inclined[6] = {0, -4, 4, 0, 0, 0};
    ASSERT_EQ(cylinderSliceZ(inclined, 1, 2, &l1, &l2, &e), 3);
    EXPECT_NEAR(e.cx, 0, 1e-12);
    EXPECT_NEAR(e.cy, -2, 1e-12);
    EXPECT_NEAR(e.a, std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(e.b, 1, 1e-15);
    EXPECT_NEAR(e.angle, std::numbers::pi / 2, 1e-15);

    const double point[6] = {1, 1, 1, 1, 1, 1};
    EXPECT_EQ(cylinderSliceZ(point, 1, 1, &l1, &l2, &e), 0);
}

// Every point of the section lies r from the axis.
TEST(Geocalc, CylinderSliceLiesOnTheCylinderOnRandomInput) {
    std::mt19937 rng(105);
    std::uniform_real_distribution<double> u(-5, 5), ur(0.5, 3);
    for (int i = 0; i < 300; i++) {
        double seg[6];
        for (double& v : seg) v = u(rng);
        if (i % 3 == 0) seg[5] = seg[2];  // some level axes
        const double r = ur(rng), h = seg[2] + u(rng) * 0.5;
        Seg2D l1, l2;
        Ellipse2D e;
        const int n = cylinderSliceZ(seg, r, h, &l1, &l2, &e);
        if (n == 3) {
            for (int k = 0; k < 16; k++) {
                const double t = k * std::numbers::pi / 8, ca = std::cos(e.angle), sa = std::sin(e.angle);
                const double x = e.a * std::cos(t), y = e.b * std::sin(t);
                const Vec3 p{e.cx + ca * x - sa * y, e.cy + sa * x + ca * y, h};
                EXPECT_NEAR(distPointLine3D(&p, seg), r, 1e-9 * e.a) << i;
            }
        } else if (n == 2) {
            for (const Seg2D* l : {&l1, &l2}) {
                const Vec3 p{l->x1, l->y1, h}, q{l->x2, l->y2, h};
                EXPECT_NEAR(distPointLine3D(&p, seg), r, 1e-9) << i;
                EXPECT_NEAR(distPointLine3D(&q, seg), r, 1e-9) << i;
            }
        } else {
            ASSERT_EQ(seg[2], seg[5]);
            EXPECT_EQ(n, std::fabs(h - seg[2]) < r ? 1 : 0) << i;
        }
    }
}

TEST(Geocalc, EllipseNearestPoint) {
    const Ellipse2D e{0, 0, 3, 1, 0};
    const double xIn = 9.0 / 8.0;
    const struct {
        Vec2 p;
        int result;
        Vec2 nearest;
    } cases[] = {
        {{5, 0}, 1, {3, 0}},
        {{-5, 0}, 1, {-3, 0}},
        {{0, 4}, 1, {0, 1}},
        {{0, -0.5}, 1, {0, -1}},
        {{1, 0}, 1, {xIn, std::sqrt(1 - xIn * xIn / 9)}},  // inside the cusp: off the axis
        {{2.9, 0}, 1, {3, 0}},                             // beyond it: the vertex
        {{0, 0}, 0, {0, 0}},
        {{9e-6, -9e-6}, 0, {0, 0}},
    };
    for (const auto& c : cases) {
        Vec2 out{0, 0};
        EXPECT_EQ(ellipseNearestPoint(&c.p, &e, &out), c.result) << c.p.x << " " << c.p.y;
        EXPECT_XY(EXPECT_NEAR, out, c.nearest.x, c.nearest.y, 1e-12);
    }
    const Ellipse2D flat{0, 0, 3, 0, 0};
    Vec2 out;
    const Vec2 p{1, 1};
    EXPECT_EQ(ellipseNearestPoint(&p, &flat, &out), 0);
}

// The answer lies on the ellipse and no sampled point of it is nearer.
TEST(Geocalc, EllipseNearestPointBeatsSamplingOnRandomInput) {
    std::mt19937 rng(3105);
    std::uniform_real_distribution<double> u(-6, 6), ua(0.2, 4), ang(-4, 4);
    for (int i = 0; i < 200; i++) {
        const Ellipse2D e{u(rng), u(rng), ua(rng), ua(rng), ang(rng)};
        const Vec2 p{e.cx + u(rng), e.cy + u(rng)};
        Vec2 q;
        ASSERT_EQ(ellipseNearestPoint(&p, &e, &q), 1);
        const double ca = std::cos(e.angle), sa = std::sin(e.angle);
        const double lx = ca * (q.x - e.cx) + sa * (q.y - e.cy), ly = -sa * (q.x - e.cx) + ca * (q.y - e.cy);
        EXPECT_NEAR(lx * lx / (e.a * e.a) + ly * ly / (e.b * e.b), 1.0, 1e-9) << i;
        const double found = std::hypot(q.x - p.x, q.y - p.y);
        double best = 1e300;
        for (int k = 0; k < 4000; k++) {
            const double t = k * 2 * std::numbers::pi / 4000, x = e.a * std::cos(t), y = e.b * std::sin(t);
            best = std::fmin(best, std::hypot(e.cx + ca * x - sa * y - p.x, e.cy + sa * x + ca * y - p.y));
        }
        EXPECT_LE(found, best + 1e-9) << i;
        EXPECT_GT(found, best - 1e-2) << i;
    }
}

// The radius of curvature at (a cos t, b sin t) is (a^2 sin^2 t + b^2 cos^2 t)^1.5 / (ab); the circle
// about the centre of curvature has that radius plus the tool's, and a point at the centre has none.
TEST(Geocalc, EllipseCurvatureCircleMatchesTheRadiusOfCurvatureOnRandomInput) {
    std::mt19937 rng(106);
    std::uniform_real_distribution<double> u(-6, 6), ua(0.3, 4), ang(-4, 4);
    for (int i = 0; i < 200; i++) {
        const Ellipse2D e{u(rng), u(rng), ua(rng), ua(rng), ang(rng)};
        const Vec2 p{e.cx + u(rng), e.cy + u(rng)};
        Vec2 q;
        ToolCircle c;
        ASSERT_EQ(ellipseNearestPoint(&p, &e, &q), 1);
        const double tool = i % 2 ? 0.0 : ua(rng);
        ASSERT_EQ(ellipseCurvatureCircle(&e, tool, &p, &c), 1);
        const double ca = std::cos(e.angle), sa = std::sin(e.angle);
        const double lx = ca * (q.x - e.cx) + sa * (q.y - e.cy), ly = -sa * (q.x - e.cx) + ca * (q.y - e.cy);
        const double t = std::atan2(ly / e.b, lx / e.a), st = std::sin(t), ct = std::cos(t);
        const double rho = std::pow(e.a * e.a * st * st + e.b * e.b * ct * ct, 1.5) / (e.a * e.b);
        EXPECT_NEAR(c.radius, rho + tool, 1e-8 * (1 + rho)) << i;
        EXPECT_EQ(c.flag, 1);
        EXPECT_NEAR(std::hypot(q.x - c.cx, q.y - c.cy), rho, 1e-8 * (1 + rho)) << i;
    }
    const Ellipse2D e{10, 0, 3, 1, std::numbers::pi / 2};
    ToolCircle failed{7, 7, 7, 0};
    const Vec2 centre{10, 0};
    EXPECT_EQ(ellipseCurvatureCircle(&e, 0.25, &centre, &failed), kGeoNoNearestPoint);
    EXPECT_EQ(failed.radius, 0.25);
}

TEST(Geocalc, TorusFaceContact) {
    const double wall[9] = {0, -10, -10, 0, 10, -10, 0, 0, 10};  // in the plane x = 0
    const double floor[9] = {-5, -5, 0, 5, -5, 0, 0, 5, 0};
    const double flat[9] = {0, 0, 0, 1, 0, 0, 2, 0, 0};
    const struct {
        Vec3 p;
        double R, r;
        const double* tri;
        int result;
        Vec3 contact;
    } cases[] = {
        {{3, 0, 0}, 2, 1, wall, 1, {0, 0, 0}},   {{-3, 3, 2}, 2, 1, wall, 1, {0, 3, 2}},
        {{3, 0, 20}, 2, 1, wall, 0, {0, 0, 20}},  // beside the triangle
        {{0, 1, 1}, 2, 1, wall, 0, {0, 1, 1}},    // p on the plane
        {{0, 0, 1}, 2, 1, floor, 1, {0, 0, 0}},   // a level face at the tube's reach
        {{0, 0, 3}, 2, 1, floor, 0, {0, 0, 3}},  {{0, 0, 1}, 2, 1, flat, kGeoDegenerateTri, {0, 0, 1}},
    };
    for (const auto& c : cases) {
        Vec3 out = c.p;
        EXPECT_EQ(torusFaceContact(&c.p, c.R, c.r, c.tri, &out), c.result) << c.p.x << " " << c.p.z;
        if (c.result == 1) {
            EXPECT_XYZ(EXPECT_NEAR, out, c.contact.x, c.contact.y, c.contact.z, 1e-12);
        }
    }
    // A 45 degree face: the trace point nearest p, put back onto the face.
    const double slope[9] = {0, -10, 0, 0, 10, 0, 10, 0, -10};  // z = -x
    const Vec3 p{3, 0, 0};
    Vec3 out;
    ASSERT_EQ(torusFaceContact(&p, 2, 1, slope, &out), 1);
    const double k = std::sqrt(0.5);
    EXPECT_XYZ(EXPECT_NEAR, out, std::sqrt(2.0) - k, 0, -k, 1e-12);
}

TEST(Geocalc, CurvedToolContact) {
    wogErrorReset();
    Vec3 out{};
    // A line beside the torus: the implicit function falls and rises once, its low at x = 0.
    const double beside[6] = {-5, 3, 0, 5, 3, 0};
    const Vec3 origin{0, 0, 0};
    ASSERT_EQ(geoCurvedToolContact(&origin, 2, 1, beside, &out), 1);
    EXPECT_NEAR(out.x, 0, 1e-9);
    EXPECT_NEAR(out.y, 3, 1e-15);
    EXPECT_NEAR(out.z, 0, 1e-15);
    EXPECT_EQ(wogErrorState()->code, 1);
    EXPECT_EQ(wogErrorState()->line, 1912);

    // The low lies before the segment's start: marked, no contact.
    const double after[6] = {1, 3, 0, 5, 3, 0};
    EXPECT_EQ(geoCurvedToolContact(&origin, 2, 1, after, &out), 0);
    EXPECT_EQ(wogErrorState()->code, 0);
    EXPECT_EQ(wogErrorState()->line, 1857);
    const double before[6] = {-5, 3, 0, -1, 3, 0};
    EXPECT_EQ(geoCurvedToolContact(&origin, 2, 1, before, &out), 0);
    EXPECT_EQ(wogErrorState()->line, 1861);

    // A line through the hole: the function has two lows, so the slice decides (foot of p).
    const double through[6] = {-5, 0, 0, 5, 0, 0};
    ASSERT_EQ(geoCurvedToolContact(&origin, 2, 1, through, &out), 1);
    EXPECT_XY(EXPECT_NEAR, out, 0, 0, 1e-15);
    const Vec3 far{20, 0, 0};
    EXPECT_EQ(geoCurvedToolContact(&far, 2, 1, through, &out), 0);  // the foot lies beyond the end

    // A vertical line through the hole: one low, level with p.
    const double pole[6] = {0.5, 0, -5, 0.5, 0, 5};
    const Vec3 low{0, 0, 1};
    ASSERT_EQ(geoCurvedToolContact(&low, 2, 1, pole, &out), 1);
    EXPECT_XYZ(EXPECT_NEAR, out, 0.5, 0, 1, 1e-12);

    // A 45 degree line through the torus: two lows, the slice is an ellipse (a = sqrt 2, b = 1)
    // whose point nearest p = (0.5, 0, 0) is (1, sqrt 0.5); its foot on the line is the contact.
    const double diagonal[6] = {-3, 0, -3, 3, 0, 3};
    const Vec3 q{0.5, 0, 0};
    ASSERT_EQ(geoCurvedToolContact(&q, 2, 1, diagonal, &out), 1);
    EXPECT_NEAR(out.x, 0.5, 1e-9);
    EXPECT_NEAR(out.y, 0, 1e-12);
    EXPECT_NEAR(out.z, 0.5, 1e-9);
}

// Whatever branch answers, a contact lies on the segment.
TEST(Geocalc, CurvedToolContactLiesOnTheSegmentOnRandomInput) {
    std::mt19937 rng(1912);
    std::uniform_real_distribution<double> u(-6, 6), ur(0.1, 1.5);
    int found = 0;
    for (int i = 0; i < 500; i++) {
        double seg[6];
        for (double& v : seg) v = u(rng);
        const Vec3 p{u(rng) * 0.3, u(rng) * 0.3, u(rng) * 0.3};
        const double r = ur(rng), R = r + ur(rng);
        Vec3 out;
        if (geoCurvedToolContact(&p, R, r, seg, &out) != 1) continue;
        found++;
        const Vec3 a{seg[0], seg[1], seg[2]}, b{seg[3], seg[4], seg[5]};
        EXPECT_NEAR(wogDist3D(&a, &out) + wogDist3D(&out, &b), wogDist3D(&a, &b), 1e-9) << i;
    }
    EXPECT_GT(found, 50);
}

}  // namespace
