#include "geometry/bspl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

TEST(BsplBasis, BezierKnotsGiveBernsteinPolynomials) {
    const double knots[] = {0, 0, 0, 0, 1, 1, 1, 1};
    for (double t : {0.0, 0.1, 0.25, 0.5, 0.8, 0.999}) {
        double N[4];
        ASSERT_EQ(bsplBasis(knots, 4, 4, 3, t, N), 0) << t;
        const double s = 1 - t;
        EXPECT_NEAR(N[0], s * s * s, 1e-14);
        EXPECT_NEAR(N[1], 3 * t * s * s, 1e-14);
        EXPECT_NEAR(N[2], 3 * t * t * s, 1e-14);
        EXPECT_NEAR(N[3], t * t * t, 1e-14);
    }
}

TEST(BsplBasis, UniformKnotsGiveUniformCubic) {
    const double knots[] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    for (double s : {0.0, 0.3, 0.5, 0.9}) {
        double N[4];
        ASSERT_EQ(bsplBasis(knots, 5, 4, 4, 4 + s, N), 0);
        EXPECT_NEAR(N[0], (1 - s) * (1 - s) * (1 - s) / 6, 1e-14);
        EXPECT_NEAR(N[1], (3 * s * s * s - 6 * s * s + 4) / 6, 1e-14);
        EXPECT_NEAR(N[2], (-3 * s * s * s + 3 * s * s + 3 * s + 1) / 6, 1e-14);
        EXPECT_NEAR(N[3], s * s * s / 6, 1e-14);
    }
}

TEST(BsplBasis, SpanValuesSumToOne) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int order = 2; order <= 6; ++order) {
        const int num = order + 5;
        std::vector<double> knots(num + order);
        for (int i = 0; i < order; ++i) knots[i] = 0.0, knots[num + i] = 10.0;
        for (int i = order; i < num; ++i)
            knots[i] = knots[i - 1] + 0.2 + unit(rng) * (10.0 - knots[i - 1]) / 4;
        for (int span = order - 1; span < num; ++span) {
            const double t = knots[span] + unit(rng) * (knots[span + 1] - knots[span]);
            double N[8];
            ASSERT_EQ(bsplBasis(knots.data(), num, order, span, t, N), 0);
            double sum = 0;
            for (int i = 0; i < order; ++i) {
                EXPECT_GE(N[i], -1e-15);
                sum += N[i];
            }
            EXPECT_NEAR(sum, 1.0, 1e-13) << order << " " << span;
        }
    }
}

TEST(BsplBasis, RejectsBadSpansAndFlagsDegenerateKnots) {
    const double knots[] = {0, 0, 0, 0, 1, 1, 1, 1, 1};
    double N[4] = {7, 7, 7, 7};
    EXPECT_EQ(bsplBasis(knots, 5, 4, -1, 0.5, N), -1);
    EXPECT_EQ(bsplBasis(knots, 5, 4, 5, 0.5, N), -1);
    EXPECT_EQ(bsplBasis(knots, 5, 4, 2, 0.5, N), -1);  // would reach before knots[0]
    EXPECT_EQ(bsplBasis(knots, 5, 31, 30, 0.5, N), -1);
    EXPECT_EQ(N[0], 7);
    // An empty span: its differences vanish, the result is -1 but the values are finite.
    EXPECT_EQ(bsplBasis(knots, 5, 4, 4, 1.0, N), -1);
    for (double v : N) EXPECT_TRUE(std::isfinite(v));
    // So for every order: the empty span after a clamped Bezier span.
    for (int order = 2; order <= 8; ++order) {
        std::vector<double> k(2 * order + 1, 1.0);
        std::fill(k.begin(), k.begin() + order, 0.0);
        double row[8];
        EXPECT_EQ(bsplBasis(k.data(), order + 1, order, order - 1, 0.5, row), 0) << order;
        EXPECT_EQ(bsplBasis(k.data(), order + 1, order, order, 1.0, row), -1) << order;
    }
    // The derivative rows refuse no knots or rows, an order outside 1..kBsplMaxOrder, a negative count
    // and a span outside order - 1..num - 1 (3..4 here), and take the bounds themselves.
    const struct {
        const double* k;
        int32_t span, order, n;
        int rc;
    } derivCases[] = {{nullptr, 3, 4, 1, -1},
                      {knots, 2, 4, 1, -1},
                      {knots, 5, 4, 1, -1},
                      {knots, 3, 0, 1, -1},
                      {knots, 3, kBsplMaxOrder + 1, 1, -1},
                      {knots, 3, 4, -1, -1},
                      {knots, 3, 4, 0, 0},
                      {knots, 4, 4, 2, 0}};
    for (const auto& c : derivCases) {
        double rows[3][kBsplMaxOrder] = {};
        EXPECT_EQ(bsplBasisDerivs(c.span, c.k, 5, c.order, c.n, 0.5, rows), c.rc) << c.span << c.order << c.n;
    }
    EXPECT_EQ(bsplBasisDerivs(3, knots, 5, 4, 0, 0.5, nullptr), -1);
    // A span of 1e-8 exactly is still divided by: halfway the two linear functions are 1/2 each, with
    // slopes of -1e8 and 1e8.
    const double tiny[] = {0, 0, 1e-8, 1, 1};
    double ders[2][kBsplMaxOrder] = {};
    ASSERT_EQ(bsplBasisDerivs(1, tiny, 3, 2, 1, 0.5 * 1e-8, ders), 0);
    EXPECT_EQ(ders[0][0], 0.5);
    EXPECT_EQ(ders[0][1], 0.5);
    EXPECT_NEAR(ders[1][0], -1e8, 1e-3);
    EXPECT_NEAR(ders[1][1], 1e8, 1e-3);
    // Order 1: only N[0].
    N[1] = 7;
    EXPECT_EQ(bsplBasis(knots, 5, 1, 3, 0.5, N), 0);
    EXPECT_EQ(N[0], 1.0);
    EXPECT_EQ(N[1], 7);
    // Rows above the degree are zero: the slope of an order-1 piece among them.
    double flat[3][kBsplMaxOrder] = {{NAN}, {NAN}, {NAN}};
    ASSERT_EQ(bsplBasisDerivs(3, knots, 5, 1, 2, 0.5, flat), 0);
    EXPECT_TRUE(flat[0][0] == 1 && flat[1][0] == 0 && flat[2][0] == 0);
}

// Seeded knot vectors with repeated and nearly repeated knots (1e-8 apart, just around the limit),
// every span and order: where bsplBasisSure answers 1, bsplBasis gives 0 at every t drawn in the span.
// Clean spans are sure, an empty one is not.
TEST(BsplBasis, SureSpansNeverFail) {
    std::mt19937 rng(3434);
    std::uniform_real_distribution<double> u(0, 1);
    int sure = 0, unsure = 0;
    for (int round = 0; round < 300; ++round) {
        const int32_t order = 2 + round % 4, num = order + 3 + round % 5;
        std::vector<double> knots(static_cast<size_t>(num + order));
        double k = round % 3 == 0 ? 1000 * u(rng) : 0;
        for (double& x : knots) {
            const int gap = static_cast<int>(rng() % 6);
            k += gap == 0 ? 0 : gap == 1 ? 1e-8 * (0.5 + u(rng)) : gap == 2 ? 1e-8 + 1e-12 : u(rng);
            x = k;
        }
        // The span of t, by scan: the last of order - 1 .. num - 1 whose knot is at or below t.
        for (const double t :
             {knots[0] - 1, knots[order], knots[(order + num) / 2], knots[num], knots[num] + 1}) {
            int32_t want = order - 1;
            for (int32_t s = order; s < num; ++s) want = knots[s] <= t ? s : want;
            EXPECT_EQ(knotSpan(knots.data(), num, order, t), want) << round << " " << t;
        }
        for (int32_t span = order - 1; span < num; ++span) {
            if (!(knots[span + 1] > knots[span])) continue;
            for (int draw = 0; draw < 20; ++draw) {
                const double t = knots[span] + u(rng) * (knots[span + 1] - knots[span]);
                double N[8];
                const bool isSure = bsplBasisSure(knots.data(), num, order, span, t) == 1;
                (isSure ? sure : unsure)++;
                ASSERT_TRUE(!isSure || bsplBasis(knots.data(), num, order, span, t, N) == 0)
                    << round << " " << span;
            }
        }
    }
    EXPECT_GT(sure, 1000);
    EXPECT_GT(unsure, 100);
    const double clean[] = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, empty[] = {0, 0, 0, 0, 1, 1, 1, 1, 1};
    EXPECT_EQ(bsplBasisSure(clean, 6, 4, 4, 1.5), 1);
    EXPECT_EQ(bsplBasisSure(empty, 5, 4, 4, 1.0), 0);  // the empty last span
    EXPECT_EQ(bsplBasisSure(clean, 6, 0, 4, 1.5), 0);  // no order, no basis
}

TEST(NurbsFreeCurve, ReleasesArraysAndKeepsRecord) {
    for (int rational : {0, 1}) {
        BsplCurve c{4,
                    5,
                    rational,
                    static_cast<double*>(std::malloc(9 * sizeof(double))),
                    static_cast<Vec3*>(std::malloc(5 * sizeof(Vec3))),
                    rational ? static_cast<double*>(std::malloc(5 * sizeof(double))) : nullptr};
        nurbsFreeCurve(&c);  // the leak checker proves the weights went too
        EXPECT_EQ(c.knots, nullptr);
        EXPECT_EQ(c.ctrl, nullptr);
        EXPECT_EQ(c.weights, nullptr);
        EXPECT_EQ(c.count, 5);
        nurbsFreeCurve(&c);  // a second call is harmless
    }
    nurbsFreeCurve(nullptr);
}
