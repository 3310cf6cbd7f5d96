#include "surfaces/nurbs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "geometry/bspl.h"
#include "surf_fixtures.h"
#include "surfaces/deboor.h"
#include "surfaces/facet.h"

TEST(Nurbs, AgreesWithDeBoorAndDifferencesOnSeededSurfaces) {
    std::mt19937 rng(103);
    std::uniform_real_distribution<double> unit(0.02, 0.98);
    for (int k = 0; k < 12; ++k) {
        RecGuard g;
        const int uo = 2 + k % 4, vo = 2 + (k / 3) % 3;
        makeRandomSurface(&g.rec, rng, uo, vo, uo + 2 + k % 3, vo + 3, k % 2 == 1);
        const BsplSurface* s = &g.rec.surface;
        for (int i = 0; i < 30; ++i) {
            const double u = unit(rng), v = unit(rng), h = 1e-6;
            Vec3 p, su, sv, q, qu, qv, suu, suv, svv, a, b;
            ASSERT_EQ(nurbsSurfEval(s, u, v, &p), 1);
            ASSERT_EQ(nurbsSurfDu(s, u, v, &su), 1);
            ASSERT_EQ(nurbsSurfDv(s, u, v, &sv), 1);
            ASSERT_EQ(evalNurbsSurfPoint(s, u, v, &q), 1);
            ASSERT_EQ(evalNurbsSurfDeriv(s, u, v, &qu, &qv, nullptr), 1);
            EXPECT_LT(maxDiff(p, q), 1e-10);
            // First derivatives also against central differences of the points.
            evalNurbsSurfPoint(s, u + h, v, &a), evalNurbsSurfPoint(s, u - h, v, &b);
            EXPECT_LT(maxDiff(qu, {(a.x - b.x) / (2 * h), (a.y - b.y) / (2 * h), (a.z - b.z) / (2 * h)}),
                      1e-5 * (1 + vecLen3D(&qu)));
            EXPECT_LT(maxDiff(su, qu), 1e-10 * (1 + vecLen3D(&qu)));
            EXPECT_LT(maxDiff(sv, qv), 1e-10 * (1 + vecLen3D(&qv)));
            // The first form hands back the same derivatives.
            Vec3 fu{}, fv{};
            double E = 0, F = 0, G = 0;
            nurbsSurfFirstForm(s, u, v, &E, &F, &G, &fu, &fv, nullptr, 1.0);
            EXPECT_EQ(maxDiff(fu, su) + maxDiff(fv, sv), 0.0);
            // Second derivatives against central differences of the De Boor first derivatives.
            ASSERT_EQ(nurbsSurfDuu(s, u, v, &suu), 1);
            ASSERT_EQ(nurbsSurfDuv(s, u, v, &suv), 1);
            ASSERT_EQ(nurbsSurfDvv(s, u, v, &svv), 1);
            evalNurbsSurfDeriv(s, u + h, v, &a, nullptr, nullptr),
                evalNurbsSurfDeriv(s, u - h, v, &b, nullptr, nullptr);
            const double tol = 1e-4 * (1 + vecLen3D(&suu) + vecLen3D(&suv));
            EXPECT_LT(maxDiff(suu, {(a.x - b.x) / (2 * h), (a.y - b.y) / (2 * h), (a.z - b.z) / (2 * h)}),
                      tol);
            evalNurbsSurfDeriv(s, u, v + h, &a, &q, nullptr),
                evalNurbsSurfDeriv(s, u, v - h, &b, &qv, nullptr);
            EXPECT_LT(maxDiff(suv, {(a.x - b.x) / (2 * h), (a.y - b.y) / (2 * h), (a.z - b.z) / (2 * h)}),
                      tol);
            EXPECT_LT(maxDiff(svv, {(q.x - qv.x) / (2 * h), (q.y - qv.y) / (2 * h), (q.z - qv.z) / (2 * h)}),
                      1e-4 * (1 + vecLen3D(&svv)));
            if (k % 2 == 1) {
                // The weight sum's first derivatives against its central differences.
                double wu = 0, wv = 0, w1 = 0, w0 = 0;
                ASSERT_EQ(nurbsSurfWeightDu(s, u, v, &wu), 1);
                ASSERT_EQ(nurbsSurfWeightDv(s, u, v, &wv), 1);
                nurbsSurfWeight(s, u + h, v, &w1), nurbsSurfWeight(s, u - h, v, &w0);
                EXPECT_NEAR(wu, (w1 - w0) / (2 * h), 1e-5 * (1 + std::fabs(wu)));
                nurbsSurfWeight(s, u, v + h, &w1), nurbsSurfWeight(s, u, v - h, &w0);
                EXPECT_NEAR(wv, (w1 - w0) / (2 * h), 1e-5 * (1 + std::fabs(wv)));
                continue;
            }
            // Without weights the homogeneous second derivatives are these, with a weight term of 0.
            using H = int (*)(const BsplSurface*, double, double, Vec3*, double*);
            const H hom[] = {nurbsSurfHomDuu, nurbsSurfHomDuv, nurbsSurfHomDvv};
            const Vec3* plain[] = {&suu, &suv, &svv};
            for (int j = 0; j < 3; ++j) {
                double w = 7;
                ASSERT_EQ(hom[j](s, u, v, &a, &w), 1);
                EXPECT_EQ(w, 0.0);
                EXPECT_LT(maxDiff(a, *plain[j]), 1e-12 * (1 + vecLen3D(plain[j])));
            }
        }
        // A first knot moved out (unclamped): a parameter below it is pulled inside as De Boor pulls it.
        g.rec.surface.uKnots[0] = -0.25;
        Vec3 p, q;
        ASSERT_TRUE(nurbsSurfEval(s, -1.0, 0.5, &p) == 1 && evalNurbsSurfPoint(s, -1.0, 0.5, &q) == 1);
        EXPECT_LT(maxDiff(p, q), 1e-9 * (1 + vecLen3D(&q))) << k;
    }
}

TEST(Nurbs, ConstantWeightsGiveTheNonRationalTwin) {
    std::mt19937 rng(2);
    RecGuard plain, twin;
    makeRandomSurface(&plain.rec, rng, 4, 3, 6, 5, false);
    rng.seed(2);
    makeRandomSurface(&twin.rec, rng, 4, 3, 6, 5, true);
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 5; ++j) {
            twin.rec.surface.rows[i][j] = plain.rec.surface.rows[i][j];
            twin.rec.surface.weights[i][j] = 2.0;
        }
    using Fn = int (*)(const BsplSurface*, double, double, Vec3*);
    for (Fn f : {nurbsSurfEval, nurbsSurfDu, nurbsSurfDv, nurbsSurfDuu, nurbsSurfDuv, nurbsSurfDvv})
        for (double u : {0.0, 0.3, 0.77, 1.0}) {
            Vec3 a, b;
            ASSERT_EQ(f(&plain.rec.surface, u, 0.4, &a), 1);
            ASSERT_EQ(f(&twin.rec.surface, u, 0.4, &b), 1);
            EXPECT_LT(maxDiff(a, b), 1e-9 * (1 + vecLen3D(&a)));
        }
    double w = 0;
    EXPECT_EQ(nurbsSurfWeight(&twin.rec.surface, 0.5, 0.5, &w), 1);
    EXPECT_NEAR(w, 2.0, 1e-14);
    EXPECT_EQ(nurbsSurfWeightDu(&plain.rec.surface, 0.5, 0.5, &w), -1);
}

TEST(Nurbs, CurvaturesOfSphereAndCylinderAndTheOffsetPlane) {
    RecGuard sphere, cyl, plane;
    makeSphereOctant(&sphere.rec, 10);
    makeCylinder(&cyl.rec, 50, 30);
    makePlane(&plane.rec, 10, 10, 0);
    for (double u : {0.1, 0.4, 0.7})
        for (double v : {0.0, 0.35, 0.9}) {
            double k1 = 7, k2 = 7;
            ASSERT_EQ(nurbsSurfCurvature(&sphere.rec.surface, u, v, &k1, &k2), 1);
            EXPECT_NEAR(std::fabs(k1), 0.1, 1e-9);
            EXPECT_NEAR(std::fabs(k2), 0.1, 1e-9);
            ASSERT_EQ(nurbsSurfCurvature(&cyl.rec.surface, u, v, &k1, &k2), 1);
            EXPECT_NEAR(std::min(std::fabs(k1), std::fabs(k2)), 0.0, 1e-9);
            EXPECT_NEAR(std::max(std::fabs(k1), std::fabs(k2)), 0.02, 1e-9);
            ASSERT_EQ(nurbsSurfCurvature(&plane.rec.surface, u, v, &k1, &k2), 1);
            EXPECT_EQ(k1, 0.0);
        }
    plane.rec.hasOffset = 1, plane.rec.offset = 2.0;
    Vec3 p;
    EXPECT_EQ(nurbsSurfPoint(&plane.rec, 0.3, 0.6, &p), 0);
    EXPECT_LT(maxDiff(p, {3, 6, 2}), 1e-12);
    double k1 = 7, k2 = 7;
    EXPECT_EQ(curvatureFromDerivs(1, 1, 1, 1, 0, 1, &k1, &k2), 0);  // EG - F^2 = 0
    EXPECT_EQ(k1, 7.0);
    // A patch folded onto a line has no normal: its curvatures fail with its first form.
    RecGuard line;
    makePlane(&line.rec, 1, 1, 0);
    line.rec.surface.rows[0][1] = {2, 0, 0}, line.rec.surface.rows[1][1] = {3, 0, 0};
    EXPECT_EQ(nurbsSurfCurvature(&line.rec.surface, 0.3, 0.6, &k1, &k2), -1);
}

TEST(Nurbs, RefusesOrdersAndSpansBeyondItsTables) {
    std::mt19937 rng(31);
    for (int order : {30, 31}) {
        for (const bool inV : {false, true}) {
            RecGuard g;
            if (inV) {
                makeRandomSurface(&g.rec, rng, 2, order, 2, order, false);
            } else {
                makeRandomSurface(&g.rec, rng, order, 2, order, 2, false);
            }
            Vec3 p;
            EXPECT_EQ(nurbsSurfDuu(&g.rec.surface, 0.5, 0.5, &p), order <= 30 ? 1 : -1) << order << inV;
        }
    }
    const double knots[] = {0, 0, 0, 1, 2, 2, 2};
    double ders[3][kBsplMaxOrder];
    for (int span = 0; span < 6; ++span)
        EXPECT_EQ(bsplBasisDerivs(span, knots, 4, 3, 2, 1.5, ders), span >= 2 && span <= 3 ? 0 : -1) << span;
    // Derivatives of a partition of unity sum to zero.
    ASSERT_EQ(bsplBasisDerivs(3, knots, 4, 3, 2, 1.5, ders), 0);
    EXPECT_NEAR(ders[1][0] + ders[1][1] + ders[1][2], 0.0, 1e-14);
    EXPECT_NEAR(ders[2][0] + ders[2][1] + ders[2][2], 0.0, 1e-14);
    RecGuard g;
    makePlane(&g.rec, 1, 1, 0);
    Vec3 p;
    EXPECT_EQ(nurbsSurfEval(&g.rec.surface, NAN, 0.5, &p), -1);
}

// The point evaluation has its own paths per degree in v: every degree from 1 to 7, plain and
// rational, against the basis sums.
TEST(Nurbs, PointsOfEveryDegreeInVAgreeWithTheBasisSums) {
    std::mt19937 rng(881);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int vo = 2; vo <= 8; ++vo)
        for (int kind = 0; kind < 4; ++kind) {
            RecGuard g;
            const int uo = 2 + kind;
            makeRandomSurface(&g.rec, rng, uo, vo, uo + 3, vo + 2 + kind, kind % 2 == 1);
            const BsplSurface* s = &g.rec.surface;
            for (int i = 0; i < 25; ++i) {
                const double u = unit(rng), v = i < 2 ? i : unit(rng);
                Vec3 p{}, q{};
                ASSERT_EQ(nurbsSurfEval(s, u, v, &p), 1);
                ASSERT_EQ(evalNurbsSurfPoint(s, u, v, &q), 1);
                EXPECT_LT(maxDiff(p, q), 1e-9 * (1 + vecLen3D(&p)))
                    << vo << " " << kind << " " << u << " " << v;
            }
        }
}

// The plain point in two steps (a basis row per parameter, then the sums) against the point in one:
// every order pair up to 6 x 5, plain and rational, parameters inside, beyond and on the knots, knots
// 1e-9 apart where the basis fails, and parameters that are not numbers.
TEST(Nurbs, PointsFromBasisRowsEqualThePlainPoint) {
    std::mt19937 rng(613);
    std::uniform_real_distribution<double> unit(-0.1, 1.1);
    int failures = 0;
    for (int k = 0; k < 40; ++k) {
        RecGuard g;
        const int uo = 2 + k % 5, vo = 2 + (k / 5) % 4;
        makeRandomSurface(&g.rec, rng, uo, vo, uo + 2 + k % 3, vo + 2, k % 3 == 2);
        BsplSurface* s = &g.rec.surface;
        if (k % 4 == 1) s->uKnots[uo + 1] = s->uKnots[uo] + 1e-9;
        std::vector<double> us{NAN, INFINITY, -INFINITY}, vs{NAN};
        for (int i = 0; i <= s->uNum + uo - 1; ++i) us.push_back(s->uKnots[i]);
        for (int i = 0; i < 40; ++i) us.push_back(unit(rng)), vs.push_back(unit(rng));
        for (const double u : us)
            for (const double v : vs) {
                Vec3 p{1, 2, 3}, q{1, 2, 3};
                double Nu[kBsplMaxOrder], Nv[kBsplMaxOrder];
                int32_t su = -1, sv = -1;
                const int rc = nurbsSurfEval(s, u, v, &p);
                const bool rows =
                    nurbsSurfBasisRow(s, 0, u, &su, Nu) == 1 && nurbsSurfBasisRow(s, 1, v, &sv, Nv) == 1;
                ASSERT_EQ(rc, rows ? 1 : -1) << k << " " << u << " " << v;
                failures += rows ? 0 : 1;
                if (!rows) continue;
                ASSERT_EQ(nurbsSurfEvalRows(s, su, Nu, sv, Nv, &q), 1);
                EXPECT_EQ(std::memcmp(&p, &q, sizeof p), 0) << k << " " << u << " " << v;
            }
    }
    EXPECT_GT(failures, 400);  // the rows' failures were met, not only their points
}

// Every evaluation refuses what it cannot evaluate with -1 (the spans 0): no surface, fewer control
// points than the order, a parameter that is not a number; the weights refuse a surface without them.
TEST(Nurbs, UnusableInputIsRefusedByEveryEvaluation) {
    RecGuard few, plane, cyl;
    makePlane(&plane.rec, 1, 1, 0);
    makeCylinder(&cyl.rec, 2, 3);
    makePlane(&few.rec, 1, 1, 0);
    few.rec.surface.uNum = 1;  // fewer control points than its order of 2
    struct Case {
        const BsplSurface* s;
        double u;
    } cases[] = {{nullptr, 0.5}, {&few.rec.surface, 0.5}, {&plane.rec.surface, NAN}};
    for (const Case& c : cases) {
        Vec3 p{};
        double w = 7;
        using V = int (*)(const BsplSurface*, double, double, Vec3*);
        for (V f : {nurbsSurfEval, nurbsSurfDu, nurbsSurfDv, nurbsSurfDuu, nurbsSurfDuv, nurbsSurfDvv})
            EXPECT_EQ(f(c.s, c.u, 0.5, &p), -1);
        using H = int (*)(const BsplSurface*, double, double, Vec3*, double*);
        for (H f : {nurbsSurfHomDuu, nurbsSurfHomDuv, nurbsSurfHomDvv}) {
            EXPECT_EQ(f(c.s, c.u, 0.5, &p, &w), -1);
            EXPECT_EQ(f(&plane.rec.surface, 0.5, 0.5, nullptr, &w), -1);  // a good surface, an output missing
            EXPECT_EQ(f(&plane.rec.surface, 0.5, 0.5, &p, nullptr), -1);
        }
        EXPECT_EQ(nurbsSurfOffsetPoint(c.s, c.u, 0.5, 1.0, &p, nullptr, nullptr), -1);
        double E, F, G, k1, k2;
        EXPECT_EQ(nurbsSurfFirstForm(c.s, c.u, 0.5, &E, &F, &G, nullptr, nullptr, nullptr, 1.0), -1);
        const Vec3 n{0, 0, 1};
        EXPECT_EQ(nurbsSurfSecondForm(c.s, &n, c.u, 0.5, &E, &F, &G, nullptr, 1.0), -1);
        EXPECT_EQ(nurbsSurfCurvature(c.s, c.u, 0.5, &k1, &k2), -1);
        int32_t span = -1;
        double N[kBsplMaxOrder];
        EXPECT_EQ(nurbsSurfBasisRow(c.s, 0, c.u, &span, N), -1);
    }
    int32_t su = 0, sv = 0;
    EXPECT_EQ(nurbsSurfPointSpans(&few.rec, 0.5, 0.5, &su, &sv), 0);
    EXPECT_EQ(nurbsSurfPointSpans(&plane.rec, NAN, 0.5, &su, &sv), 0);
    EXPECT_EQ(nurbsSurfPointSpans(&plane.rec, 0.5, 0.5, &su, &sv), 1);
    EXPECT_EQ(nurbsSurfPointSpans(&plane.rec, 0.5, 0.5, &su, nullptr), 0);
    EXPECT_EQ(nurbsSurfPointSpans(&plane.rec, 0.5, 0.5, nullptr, &sv), 0);
    using W = int (*)(const BsplSurface*, double, double, double*);
    for (W f : {nurbsSurfWeight, nurbsSurfWeightDu, nurbsSurfWeightDv}) {
        double w = 7;
        EXPECT_EQ(f(&plane.rec.surface, 0.5, 0.5, &w), -1);  // no weights
        EXPECT_EQ(w, 0.0);
        EXPECT_EQ(f(&cyl.rec.surface, NAN, 0.5, &w), -1);
        EXPECT_EQ(f(&cyl.rec.surface, 0.125, 0.5, &w), 1);
        EXPECT_EQ(f(&cyl.rec.surface, 0.125, 0.5, nullptr), -1);
    }
    // A point inside a knot span shorter than 1e-8 fails, as its basis does.
    RecGuard nearly;
    std::mt19937 rng(5);
    makeRandomSurface(&nearly.rec, rng, 2, 2, 4, 3, false);
    const double uk[] = {0, 0, 0.5, 0.5 + 1e-9, 1, 1};
    std::copy(uk, uk + 6, nearly.rec.surface.uKnots);
    Vec3 q;
    EXPECT_EQ(nurbsSurfEval(&nearly.rec.surface, 0.5 + 5e-10, 0.5, &q), -1);
    EXPECT_EQ(nurbsSurfEval(&nearly.rec.surface, 0.25, 0.5, &q), 1);
    double w = 0;
    ASSERT_EQ(nurbsSurfWeight(&cyl.rec.surface, 0.25, 0.5, &w), 1);  // at a knot of weight 1
    EXPECT_NEAR(w, 1.0, 1e-12);
    Vec3 p;
    EXPECT_EQ(nurbsSurfPoint(nullptr, 0.5, 0.5, &p), -1);
}

// The first derivatives divide by a weight sum down to 1e-10, the second ones down to 1e-8; below,
// the division is refused. Weights scaled alike keep the point while their sum can be divided by.
TEST(Nurbs, SmallWeightSumsFailOnlyTheDerivativesThatDivideByThem) {
    struct Case {
        double weight;
        int first, second;  // results of the first and second derivatives
    };
    // At (0.5, 0.5) the four basis products are 1/4 each: the weight sum is the weight, 1e-8 exactly too.
    const Case cases[] = {{1.0, 1, 1}, {1e-8, 1, 1}, {5e-9, 1, -1}, {1e-10, 1, -1}, {5e-11, -1, -1}};
    for (const Case& c : cases) {
        RecGuard g;
        makePlane(&g.rec, 4, 2, 0);
        BsplSurface& s = g.rec.surface;
        s.rows[1][1].z = 1;  // a hyperbolic paraboloid: Suv does not vanish
        s.rational = s.rational2 = 1;
        s.weights = static_cast<double**>(std::calloc(2, sizeof(double*)));
        s.weights[0] = static_cast<double*>(std::calloc(4, sizeof(double)));
        s.weights[1] = s.weights[0] + 2;
        for (int k = 0; k < 4; ++k) s.weights[0][k] = c.weight;
        Vec3 p, d;
        ASSERT_EQ(nurbsSurfEval(&s, 0.5, 0.5, &p), 1);
        EXPECT_NEAR(p.x, c.weight < 1e-10 ? 2.0 * c.weight : 2.0, 1e-9) << c.weight;  // undivided below
        double len = 0;
        Vec3 n{};
        ASSERT_EQ(nurbsSurfOffsetPoint(&s, 0.5, 0.5, 0.0, &d, &len, &n), 0);  // the same point
        EXPECT_LT(maxDiff(d, p), 1e-12) << c.weight;
        // Su x Sv of (4u, 2v, uv), where the first derivatives are divided.
        EXPECT_LT(c.first < 0 ? 0.0 : maxDiff(n, {-1, -2, 8}) + std::fabs(len - std::sqrt(69.0)), 1e-6);
        Vec3 dd;
        EXPECT_EQ(nurbsSurfDuu(&s, 0.5, 0.5, &dd), c.second) << c.weight;
        EXPECT_EQ(nurbsSurfDu(&s, 0.5, 0.5, &d), c.first) << c.weight;
        EXPECT_EQ(nurbsSurfDuv(&s, 0.5, 0.5, &d), c.second) << c.weight;
        double E, F, G, L, M, N, LNM, k1, k2;
        Vec3 normal{};
        EXPECT_EQ(nurbsSurfFirstForm(&s, 0.5, 0.5, &E, &F, &G, nullptr, nullptr, &normal, 1.0), c.first);
        const Vec3 up{0, 0, 1};
        EXPECT_EQ(nurbsSurfSecondForm(&s, &up, 0.5, 0.5, &L, &M, &N, &LNM, 1.0), c.second) << c.weight;
        EXPECT_EQ(nurbsSurfCurvature(&s, 0.5, 0.5, &k1, &k2) < 0, c.second < 0) << c.weight;
        if (c.second < 0) continue;
        // z = uv on 4 x 2: Suv = (0, 0, 1), M = 1, L = N = 0.
        EXPECT_NEAR(M, 1.0, 1e-12);
        EXPECT_NEAR(LNM, -1.0, 1e-12);
    }
}

// The first form's normal: the unit normal above a cross product of length 1e-6, the zero vector up to
// it, and a failure up to 1e-8 (the planes a x b have |Su x Sv| = a b).
TEST(Nurbs, FirstFormNormalFadesAndFailsWithTheCrossProduct) {
    const struct {
        double side;
        int rc, curvature;  // curvatures work at a tenth of the scale: EG - F^2 and Su x Sv far smaller
        double nz;
    } cases[] = {{0.03, 1, 0, 1}, {2e-3, 1, 0, 1}, {2e-4, 1, -1, 0}, {7e-5, -1, -1, 0}};
    for (const auto& c : cases) {
        RecGuard g;
        makePlane(&g.rec, c.side, c.side, 0);
        double E = 0, F = 1, G = 0;
        Vec3 N{7, 7, 7};
        EXPECT_EQ(nurbsSurfFirstForm(&g.rec.surface, 0.3, 0.6, &E, &F, &G, nullptr, nullptr, &N, 1.0), c.rc)
            << c.side;
        EXPECT_EQ(N.x, 0.0);
        EXPECT_NEAR(N.z, c.nz, 1e-12) << c.side;
        EXPECT_NEAR(E, c.side * c.side, 1e-20);
        EXPECT_EQ(F, 0.0);
        double k1 = 7, k2 = 7;
        EXPECT_EQ(nurbsSurfCurvature(&g.rec.surface, 0.3, 0.6, &k1, &k2), c.curvature) << c.side;
        EXPECT_TRUE(k1 == 0 && k2 == 0) << c.side;
    }
}

// Where Su x Sv vanishes (here Sv everywhere: each row's points coincide) the offset point is the plain
// point S, with -1.
TEST(Nurbs, OffsetPointAtAVanishingNormalIsThePlainPoint) {
    RecGuard g;
    makePlane(&g.rec, 4, 2, 1);
    BsplSurface& s = g.rec.surface;
    s.rows[0][1] = s.rows[0][0], s.rows[1][1] = s.rows[1][0];
    for (const double u : {0.0, 0.3, 1.0}) {
        Vec3 plain{}, p{7, 7, 7};
        double len = 5;
        ASSERT_EQ(nurbsSurfEval(&s, u, 0.5, &plain), 1);
        EXPECT_EQ(nurbsSurfOffsetPoint(&s, u, 0.5, 2.0, &p, &len, nullptr), -1) << u;
        EXPECT_EQ(p.x, plain.x) << u;
        EXPECT_EQ(p.y, plain.y) << u;
        EXPECT_EQ(p.z, plain.z) << u;
    }
}
