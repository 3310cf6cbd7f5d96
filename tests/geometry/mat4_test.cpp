#include "geometry/mat4.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

const double kPi = std::acos(-1.0);

Mat4 fromRows(const double (&v)[4][4]) {
    Mat4 m;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m.m[i][j] = v[i][j];
    return m;
}

void expectIdentity(const Mat4& m, double tol) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(m.m[i][j], i == j ? 1.0 : 0.0, tol) << i << "," << j;
}

Vec3 randomUnit(std::mt19937& rng) {
    std::normal_distribution<double> n(0.0, 1.0);
    Vec3 v{n(rng), n(rng), n(rng)};
    Vec3 u;
    vecNormalize3D(&v, &u);
    return u;
}

}  // namespace

TEST(Mat4, InvertLiftsZeroPivotByRowAddition) {
    const Mat4 m = fromRows({{0, 2, 0, 0}, {1, 0, 0, 0}, {0, 0, 3, 0}, {4, 5, 6, 1}});
    Mat4 inv, prod;
    ASSERT_EQ(mat4Invert(&m, &inv), 0);
    mat4Mult(&m, &inv, &prod);
    expectIdentity(prod, 1e-12);
    mat4Mult(&inv, &m, &prod);
    expectIdentity(prod, 1e-12);
}

TEST(Mat4, InvertRejectsSingular) {
    const Mat4 zeroColumn = fromRows({{1, 0, 0, 0}, {2, 0, 1, 0}, {3, 0, 0, 1}, {4, 0, 5, 6}});
    const Mat4 equalRows = fromRows({{1, 2, 3, 0}, {1, 2, 3, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}});
    Mat4 inv;
    EXPECT_EQ(mat4Invert(&zeroColumn, &inv), -1);
    EXPECT_EQ(mat4Invert(&equalRows, &inv), -1);
}

TEST(Mat4, InverseTimesMatrixIsIdentity) {
    std::mt19937 rng(2102);
    std::uniform_real_distribution<double> u(-3.0, 3.0);
    int inverted = 0;
    for (int i = 0; i < 300; ++i) {
        Mat4 m;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) m.m[r][c] = u(rng);
        Mat4 inv, prod;
        if (mat4Invert(&m, &inv) != 0) continue;
        ++inverted;
        mat4Mult(&inv, &m, &prod);
        expectIdentity(prod, 1e-6);
    }
    EXPECT_GT(inverted, 250);
}

TEST(Mat4, EqualWithinTolerance) {
    Mat4 a, b;
    mat4Identity(&a);
    mat4Copy(&b, &a);
    EXPECT_EQ(mat4Equal(&a, &b), 1);
    b.m[3][1] += 0.9e-5;
    EXPECT_EQ(mat4Equal(&a, &b), 1);
    b.m[3][1] = 1e-5;
    EXPECT_EQ(mat4Equal(&a, &b), 0);
}

TEST(Mat4, RotationCodes) {
    const struct {
        int code;
        Vec3 in, out;
    } cases[] = {
        {0, {1, 0, 0}, {0, 1, 0}},
        {1, {0, 1, 0}, {0, 0, 1}},
        {2, {1, 0, 0}, {0, 0, 1}},
    };
    for (const auto& c : cases) {
        Mat4 m;
        EXPECT_EQ(mat4Rotation(c.code, 0.5 * kPi, &m), 0);
        Vec3 p;
        mat4XformPoint(&c.in, &m, &p);
        EXPECT_NEAR(p.x, c.out.x, 1e-12) << c.code;
        EXPECT_NEAR(p.y, c.out.y, 1e-12) << c.code;
        EXPECT_NEAR(p.z, c.out.z, 1e-12) << c.code;
    }
    Mat4 m;
    EXPECT_NE(mat4Rotation(3, 1.0, &m), 0);
    expectIdentity(m, 0.0);
}

TEST(Mat4, ProductAppliesLeftFactorFirst) {
    Mat4 rot, move, rm, mr;
    mat4Rotation(0, 0.5 * kPi, &rot);
    const Vec3 t{10, 0, 0};
    mat4Translation(&t, &move);
    mat4Mult(&rot, &move, &rm);
    mat4Mult(&move, &rot, &mr);
    const Vec3 p{1, 0, 0};
    Vec3 q;
    mat4XformPoint(&p, &rm, &q);  // rotate, then move
    EXPECT_NEAR(q.x, 10.0, 1e-12);
    EXPECT_NEAR(q.y, 1.0, 1e-12);
    mat4XformPoint(&p, &mr, &q);  // move, then rotate
    EXPECT_NEAR(q.x, 0.0, 1e-12);
    EXPECT_NEAR(q.y, 11.0, 1e-12);

    const Vec3 x{0, 1, 0}, y{-1, 0, 0}, z{0, 0, 1};
    Mat4 axes;
    mat4FromAxes(&x, &y, &z, &axes);
    EXPECT_EQ(axes.m[1][0], -1.0);
    EXPECT_EQ(axes.m[1][3], 0.0);
    EXPECT_EQ(axes.m[3][3], 1.0);
}

TEST(Mat4, FrameFromAxisSpecialCases) {
    Mat4 m, inv;
    const Vec3 zero{0, 0, 0}, nearZ{0, 0, 1.000001};
    EXPECT_EQ(frameFromAxis(&zero, &nearZ, &m, &inv), 1);
    expectIdentity(m, 0.0);
    expectIdentity(inv, 0.0);

    const Vec3 down{0, 0, -1};
    EXPECT_EQ(frameFromAxis(&zero, &down, &m, &inv), 1);
    // The reference (0, 1, 0) gives y = axis x (0, 1, 0) = (1, 0, 0) and x = y x axis = (0, 1, 0).
    EXPECT_NEAR(m.m[0][1], 1.0, 1e-12);
    EXPECT_NEAR(m.m[1][0], 1.0, 1e-12);
    EXPECT_NEAR(m.m[2][2], -1.0, 1e-12);

    const Vec3 none{0, 0, 0};
    EXPECT_EQ(frameFromAxis(&zero, &none, &m, &inv), -1);
}

TEST(Mat4, FrameFromAxisIsOrthonormalAndPlaced) {
    std::mt19937 rng(1021);
    std::uniform_real_distribution<double> u(-50.0, 50.0);
    for (int i = 0; i < 200; ++i) {
        const Vec3 axis = randomUnit(rng);
        const Vec3 origin{u(rng), u(rng), u(rng)};
        Mat4 m, inv, prod;
        ASSERT_EQ(frameFromAxis(&origin, &axis, &m, &inv), 1);
        const Vec3 row[3] = {{m.m[0][0], m.m[0][1], m.m[0][2]},
                             {m.m[1][0], m.m[1][1], m.m[1][2]},
                             {m.m[2][0], m.m[2][1], m.m[2][2]}};
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) EXPECT_NEAR(vecDot3D(&row[a], &row[b]), a == b ? 1.0 : 0.0, 1e-12);
        EXPECT_NEAR(vecDot3D(&row[2], &axis), 1.0, 1e-12);
        Vec3 cr;
        cross3D(&row[0], &row[1], &cr);  // right-handed
        EXPECT_NEAR(vecDot3D(&cr, &row[2]), 1.0, 1e-12);
        const Vec3 o{0, 0, 0};
        Vec3 w;
        mat4XformPoint(&o, &m, &w);
        EXPECT_NEAR(dist3D(&w, &origin), 0.0, 1e-9);
        mat4Mult(&m, &inv, &prod);
        expectIdentity(prod, 1e-9);
    }
}

TEST(Mat4, RotateVectorAboutAxis) {
    const Vec3 z{0, 0, 1};
    Vec3 v{1, 0, 0};
    EXPECT_EQ(vecRotateInFrame3D(&v, &z, 0.5 * kPi), 1);
    EXPECT_NEAR(v.x, 0.0, 1e-12);
    EXPECT_NEAR(v.y, 1.0, 1e-12);

    Vec3 along{0, 0, 2};
    EXPECT_EQ(vecRotateInFrame3D(&along, &z, 1.0), 0);
    EXPECT_EQ(along.z, 2.0);

    std::mt19937 rng(3102);
    std::uniform_real_distribution<double> ang(-3.0, 3.0);
    for (int i = 0; i < 200; ++i) {
        const Vec3 axis = randomUnit(rng);
        const Vec3 v0 = randomUnit(rng);
        const double a = ang(rng);
        Vec3 w = v0;
        ASSERT_EQ(vecRotateInFrame3D(&w, &axis, a), 1);
        EXPECT_NEAR(vecLen3D(&w), 1.0, 1e-12);
        EXPECT_NEAR(vecDot3D(&w, &axis), vecDot3D(&v0, &axis), 1e-12);
        // The turn is right-handed about the axis by a.
        Vec3 p0{v0.x - vecDot3D(&v0, &axis) * axis.x, v0.y - vecDot3D(&v0, &axis) * axis.y,
                v0.z - vecDot3D(&v0, &axis) * axis.z};
        Vec3 p1{w.x - vecDot3D(&w, &axis) * axis.x, w.y - vecDot3D(&w, &axis) * axis.y,
                w.z - vecDot3D(&w, &axis) * axis.z};
        Vec3 c;
        cross3D(&p0, &p1, &c);
        EXPECT_NEAR(std::atan2(vecDot3D(&c, &axis), vecDot3D(&p0, &p1)), a, 1e-9);
    }
}

TEST(Mat4, RotatePointAboutLine) {
    Vec3 p{2, 0, 5};
    const Vec3 origin{1, 0, 0}, z{0, 0, 1};
    EXPECT_EQ(vecRotateAboutAxis3D(&p, &origin, &z, kPi), 1);
    EXPECT_NEAR(p.x, 0.0, 1e-12);
    EXPECT_NEAR(p.y, 0.0, 1e-12);
    EXPECT_NEAR(p.z, 5.0, 1e-12);

    p = Vec3{0, 3, 0};
    const Vec3 x{1, 0, 0}, atOrigin{0, 0, 0};
    EXPECT_EQ(vecRotateAboutAxis3D(&p, &atOrigin, &x, 0.5 * kPi), 1);
    EXPECT_NEAR(p.z, 3.0, 1e-12);

    const Vec3 none{0, 0, 0};
    Vec3 q{1, 2, 3};
    EXPECT_EQ(vecRotateAboutAxis3D(&q, &origin, &none, 1.0), -1);
    EXPECT_EQ(q.x, 1.0);
}
