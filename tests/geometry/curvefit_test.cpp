#include "geometry/curvefit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<Vec2> sampled(double x0, double step, int n, const std::function<double(double)>& f) {
    std::vector<Vec2> p;
    for (int i = 0; i < n; ++i) p.push_back(Vec2{x0 + i * step, f(x0 + i * step)});
    return p;
}

double cubicAt(const double* c, double x) {
    return ((c[0] * x + c[1]) * x + c[2]) * x + c[3];
}

}  // namespace

TEST(CurveFit, DistanceBelowAMicronIsExactlyZero) {
    const Vec2 a{1, 1}, b{1 + 5e-7, 1 + 5e-7}, c{1.003, 1.004};
    EXPECT_EQ(dist2DEps(&a, &b), 0.0);
    EXPECT_NEAR(dist2DEps(&a, &c), 0.005, 1e-15);
}

TEST(CurveFit, ThinningKeepsPositionsOfTheKeptPoints) {
    const std::vector<Vec2> p = {{0, 0}, {0, 0}, {1, 0}, {1, 1e-9}, {1, 1}, {1, 1}};
    Vec2* kept = nullptr;
    double* steps = nullptr;
    int32_t count = 0;
    std::vector<int32_t> index(p.size(), -1);
    EXPECT_EQ(thinPoints2D(p.data(), 6, 1e-9, &kept, &steps, &count, index.data()), 3);
    ASSERT_EQ(count, 3);
    const int32_t expectIndex[] = {0, 2, 4};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(index[i], expectIndex[i]);
    EXPECT_EQ(steps[0], 0.0);
    EXPECT_EQ(steps[1], 1.0);
    EXPECT_EQ(steps[2], 1.0);
    EXPECT_EQ(kept[2].y, 1.0);
    std::free(kept);
    std::free(steps);
}

TEST(CurveFit, SmallSolversAndTheirSingularCases) {
    double u, v;
    EXPECT_EQ(fitSolve2x2(2, 1, 1, 3, 5, 10, &u, &v), 1);
    EXPECT_DOUBLE_EQ(u, 1.0);
    EXPECT_DOUBLE_EQ(v, 3.0);
    EXPECT_EQ(fitSolve2x2(1, 2, 2, 4.0000001, 1, 1, &u, &v), -1);

    const double rows[3][3] = {{1, 2, 3}, {0, 1, 4}, {5, 6, 0}};
    const double rhs[3] = {14, 14, 17};  // (1, 2, 3)
    double out[3];
    ASSERT_EQ(fitSolve3x3(rows, rhs, out), 1);
    EXPECT_NEAR(out[0], 1, 1e-12);
    EXPECT_NEAR(out[1], 2, 1e-12);
    EXPECT_NEAR(out[2], 3, 1e-12);
    const double flat[3][3] = {{1, 2, 0}, {3, 4, 0}, {5, 6, 0}};
    EXPECT_EQ(fitSolve3x3(flat, rhs, out), -1);
    const double twin[3][3] = {{1, 2, 3}, {2, 4, 6}, {0, 1, 1}};
    EXPECT_EQ(fitSolve3x3(twin, rhs, out), -1);
}

TEST(CurveFit, FifthRuleChoosesTheAnchor) {
    struct Case {
        int32_t n, k, m;
    } cases[] = {{101, 0, 20}, {101, 3, 20}, {101, 4, 4}, {101, 50, 50}, {101, 97, 97}, {101, 98, 80},
                 {10, 0, 2},   {10, 8, 8},   {5, 0, 1},   {4, 0, 0},     {4, 9, 3}};
    for (const auto& c : cases) EXPECT_EQ(fitAnchorIndex(c.n, c.k), c.m) << c.n << " " << c.k;
}

TEST(CurveFit, ExactFitsReproduceTheirPolynomials) {
    const auto par = [](double x) { return 0.5 * x * x - 3 * x + 2; };
    const auto p = sampled(-2.0, 0.5, 13, par);
    double a, b, c;
    ASSERT_EQ(parabolaThrough3(&p[0], &p[5], &p[12], &a, &b, &c), 1);
    EXPECT_NEAR(a, 0.5, 1e-12);
    EXPECT_NEAR(b, -3, 1e-12);
    EXPECT_NEAR(c, 2, 1e-12);
    for (int k : {0, 6, 11}) {
        ASSERT_EQ(parabolaEnds(p.data(), 13, k, &a, &b, &c), 1);
        EXPECT_NEAR(a, 0.5, 1e-9);
        ASSERT_EQ(parabolaLsqThrough(p.data(), 13, k, &a, &b, &c), 1);
        EXPECT_NEAR(a, 0.5, 1e-9);
        EXPECT_NEAR(b, -3, 1e-9);
        EXPECT_NEAR(c, 2, 1e-9);
    }
    EXPECT_EQ(parabolaThrough3(&p[0], &p[0], &p[12], &a, &b, &c), -1);

    const double want[4] = {0.1, -0.5, 2, -1};
    const auto cub = [&](double x) { return cubicAt(want, x); };
    const auto q = sampled(0.5, 0.75, 12, cub);
    double coef[4];
    struct Case {
        const char* name;
        std::function<int()> fit;
    } cases[] = {
        {"through4", [&] { return cubicThrough4(&q[0], &q[3], &q[7], &q[11], coef); }},
        {"slope",
         [&] {
             return cubicThrough3Slope(&q[0], &q[5], 3 * 0.1 * q[5].x * q[5].x - q[5].x + 2, &q[11], coef);
         }},
        {"hermite",
         [&] {
             const double s0 = 0.3 * q[2].x * q[2].x - q[2].x + 2, s1 = 0.3 * q[9].x * q[9].x - q[9].x + 2;
             return cubicHermite(&q[2], s0, &q[9], s1, coef);
         }},
        {"lsq", [&] { return cubicLsqThrough(q.data(), 12, 0, coef); }},
    };
    for (auto& c4 : cases) {
        coef[0] = coef[1] = coef[2] = coef[3] = kNaN;
        ASSERT_EQ(c4.fit(), 1) << c4.name;
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(coef[i], want[i], 1e-8) << c4.name << " " << i;
    }
    const Vec2 same{1, 1};
    EXPECT_EQ(cubicHermite(&same, 0, &same, 0, coef), -1);
}

TEST(CurveFit, CubicLsqRejectsSymmetricAbscissae) {
    // The x and x^3 moment sums vanish: the normal equations cannot be scaled by them.
    const auto p = sampled(-5.0, 1.0, 11, [](double x) { return x * x; });
    double coef[4] = {7, 7, 7, 7};
    EXPECT_EQ(cubicLsqThrough(p.data(), 11, 5, coef), -1);
    // Slightly shifted, the same points are fitted.
    const auto q = sampled(-4.5, 1.0, 11, [](double x) { return x * x; });
    ASSERT_EQ(cubicLsqThrough(q.data(), 11, 5, coef), 1);
    const std::vector<double> w(11, 1e-6);
    EXPECT_EQ(cubicWithinTol(q.data(), 11, w.data(), coef), 1);
}

TEST(CurveFit, ToleranceTestsRejectHugeAndNaNCoefficients) {
    const auto p = sampled(0.0, 1e-6, 4, [](double) { return 0.0; });
    const std::vector<double> w(4, 1.0);
    EXPECT_EQ(parabolaWithinTol(p.data(), 4, w.data(), 1e9, 0, 0), 1);
    EXPECT_EQ(parabolaWithinTol(p.data(), 4, w.data(), 2e10, 0, 0), 0);
    EXPECT_EQ(parabolaWithinTol(p.data(), 4, w.data(), kNaN, 0, 0), 0);
    const double big[4] = {0, 0, -2e10, 0}, nan[4] = {0, 0, 0, kNaN}, ok[4] = {1, 0, 0, 0.5};
    EXPECT_EQ(cubicWithinTol(p.data(), 4, w.data(), big), 0);
    EXPECT_EQ(cubicWithinTol(p.data(), 4, w.data(), nan), 0);
    EXPECT_EQ(cubicWithinTol(p.data(), 4, w.data(), ok), 1);
    EXPECT_EQ(lineWithinTol(p.data(), 4, w.data(), kNaN, 0), 0);
    EXPECT_EQ(lineWithinTol(p.data(), 4, w.data(), 0, 1.0), 1);
    EXPECT_EQ(lineWithinTol(p.data(), 4, w.data(), 0, 1.0000001), 0);
    double m, c;
    const Vec2 a{0, 0}, b{9e-7, 1}, d{1e-6, 1};
    EXPECT_EQ(lineThrough2(&a, &b, &m, &c), -1);
    EXPECT_EQ(lineThrough2(&a, &d, &m, &c), 1);
}

TEST(CurveFit, CircumCircle) {
    struct Case {
        Vec2 a, b, c;
        int rc;
        double cx, cy, r;
    } cases[] = {
        {{0, 0}, {1, 1}, {2, 0}, 1, 1, 0, 1},
        {{100, 0}, {101, 1}, {102, 0}, 1, 101, 0, 1},
        {{0, 0}, {0.01, 0.01}, {0.02, 0}, 1, 0.01, 0, 0.01},
        {{0, 0}, {1, 1}, {2, 2}, -1, 0, 0, 0},
        {{5, 5}, {5, 5}, {7, 1}, -1, 0, 0, 0},
    };
    for (const auto& t : cases) {
        Vec2 centre{kNaN, kNaN};
        double r = kNaN;
        ASSERT_EQ(circumCircle2D(&t.a, &t.b, &t.c, &centre, &r), t.rc);
        if (t.rc < 0) continue;
        EXPECT_NEAR(centre.x, t.cx, 1e-12);
        EXPECT_NEAR(centre.y, t.cy, 1e-12);
        EXPECT_NEAR(r, t.r, 1e-12);
    }
}

TEST(CurveFit, TurnMeasuresOfAZigzagAndAnSCurve) {
    const std::vector<Vec2> zig = {{0, 0}, {1, 1}, {2, 0}, {3, 1}, {4, 0}};
    double* cos = nullptr;
    ASSERT_EQ(turnCosines2D(zig.data(), 5, &cos), 0);
    EXPECT_EQ(cos[0], 0.0);
    EXPECT_NEAR(cos[2], 0.0, 1e-15);  // right angles
    std::free(cos);
    double* prod = nullptr;
    EXPECT_EQ(inflectionCount2D(zig.data(), 5, &prod), 2);
    EXPECT_EQ(prod[1], 0.0);
    EXPECT_LT(prod[2], 0.0);
    std::free(prod);

    // Half a circle turning right, then a smaller half circle turning left: one reversal.
    std::vector<TolPoint> s;
    const double pi = std::acos(-1.0);
    for (int i = 0; i <= 10; ++i)
        s.push_back({5 - 5 * std::cos(pi * i / 10), 5 * std::sin(pi * i / 10), 0.25});
    for (int i = 1; i <= 8; ++i)
        s.push_back({14 - 4 * std::cos(pi * i / 8), -4 * std::sin(pi * i / 8), 0.25});
    Circle2D* radii = nullptr;
    ASSERT_EQ(polyRadii2D(s.data(), 19, &radii), 1);
    for (int i = 1; i < 18; ++i) {
        if (i == 10) continue;  // the joint lies on neither circle's three points
        EXPECT_NEAR(radii[i].r, i < 10 ? 5.0 : 4.0, 1e-9) << i;
    }
    EXPECT_EQ(radii[18].r, 0.25);  // the last input record as it was
    double sum = 0;
    EXPECT_EQ(polyReversalCount2D(s.data(), 19, radii, &sum), 1);
    EXPECT_GT(sum, 0.0);
    std::free(radii);

    std::vector<TolPoint> line;
    for (int i = 0; i < 6; ++i) line.push_back({double(i), 2.0 * i, 0});
    ASSERT_EQ(polyRadii2D(line.data(), 6, &radii), 1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(radii[i].r, 0.0);
    EXPECT_EQ(polyReversalCount2D(line.data(), 6, radii, &sum), 0);
    EXPECT_EQ(sum, 0.0);
    std::free(radii);
    EXPECT_EQ(polyRadii2D(line.data(), 2, &radii), -1);
    EXPECT_EQ(radii, nullptr);
}

TEST(CurveFit, MaxTurnOfAPolyline) {
    const std::vector<double> x = {0, 1, 2, 3}, y = {0, 0, 1, 1};
    double angle = kNaN;
    EXPECT_EQ(polyMaxTurn2D(x.data(), y.data(), 4, &angle), 1);
    EXPECT_NEAR(angle, std::acos(-1.0) / 4, 1e-12);
    EXPECT_EQ(polyMaxTurn2D(x.data(), y.data(), 2, &angle), -1);
}

TEST(CurveFit, QuadraticBezierAtAbscissa) {
    const Vec2 p0{0, 0}, p1{1, 2}, p2{2, 0};
    double y = kNaN;
    quadBezierAtX(&p0, &p1, &p2, 1e-9, 1.0, &y);
    EXPECT_NEAR(y, 1.0, 1e-12);
    // Skewed control point: x(t) is not linear, the bisection finds the abscissa.
    const Vec2 q1{1.8, 2};
    quadBezierAtX(&p0, &q1, &p2, 1e-9, 1.0, &y);
    Vec2 check;
    const double t = (3.6 - std::sqrt(3.6 * 3.6 - 4 * 1.6)) / 3.2;  // x(t) = 3.6t - 1.6t^2 = 1
    quadBezier2D(&p0, &q1, &p2, t, &check);
    EXPECT_NEAR(check.x, 1.0, 1e-12);
    EXPECT_NEAR(y, check.y, 1e-8);

    const std::vector<double> x = {0, 0.5, 1, 1.5, 2};
    std::vector<double> out(5, kNaN);
    ASSERT_EQ(quadBezierSample(x.data(), 5, &p0, &p1, &p2, out.data()), 1);
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[4], 0.0);
    EXPECT_NEAR(out[1], 0.75, 1e-6);
    EXPECT_EQ(quadBezierSample(x.data(), 1, &p0, &p1, &p2, out.data()), -1);
}
