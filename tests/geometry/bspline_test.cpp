#include "geometry/bspline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "geometry/bspl.h"

namespace {

struct Fit {
    std::vector<Vec2> pts;
    std::vector<double> segLen;
};

Fit makeFit(const std::vector<Vec2>& pts) {
    Fit f{pts, std::vector<double>(pts.size(), 0.0)};
    for (size_t i = 1; i < pts.size(); ++i)
        f.segLen[i] = std::hypot(pts[i].x - pts[i - 1].x, pts[i].y - pts[i - 1].y);
    return f;
}

// A clamped cubic record with the given control points and knots.
BSplineRec makeRecord(const std::vector<Vec3>& ctrl, const std::vector<double>& knots, bool is2D) {
    BSplineRec rec;
    const int order = static_cast<int>(knots.size() - ctrl.size());
    EXPECT_EQ(bsplineCreate(order, static_cast<int>(ctrl.size()), &rec), 0);
    for (size_t i = 0; i < knots.size(); ++i) rec.knots[i] = knots[i];
    for (size_t i = 0; i < ctrl.size(); ++i)
        rec.cx[i] = ctrl[i].x, rec.cy[i] = ctrl[i].y, rec.cz[i] = ctrl[i].z;
    rec.is2D = is2D ? 1 : 0;
    return rec;
}

double distToPolyline(const Vec3& p, const Vec3* pts, int32_t n) {
    double best = 1e300;
    for (int32_t i = 0; i + 1 < n; ++i) {
        const Vec3 a = pts[i], b = pts[i + 1];
        const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
        const double len2 = dx * dx + dy * dy + dz * dz;
        double s = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy + (p.z - a.z) * dz) / len2 : 0.0;
        s = std::fmin(1.0, std::fmax(0.0, s));
        best = std::fmin(best, std::hypot(p.x - a.x - s * dx, p.y - a.y - s * dy, p.z - a.z - s * dz));
    }
    return best;
}

}  // namespace

TEST(BSplineRec, CreateAndFree) {
    BSplineRec rec;
    ASSERT_EQ(bsplineCreate(4, 6, &rec), 0);
    EXPECT_EQ(rec.count, 6);
    EXPECT_EQ(rec.order, 4);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(rec.knots[i], 0.0);
    EXPECT_NE(rec.cz, nullptr);
    EXPECT_EQ(rec.aux, nullptr);
    EXPECT_EQ(rec.tStart, 0.0);
    EXPECT_EQ(rec.tEnd, 0.0);
    EXPECT_EQ(rec.is2D, 0);
    EXPECT_EQ(rec.extra[0], 0.0);
    EXPECT_EQ(rec.extra[2], 1.0);
    bsplineFree(&rec);
    EXPECT_EQ(rec.knots, nullptr);
    bsplineFree(&rec);
    bsplineFree(nullptr);
    EXPECT_EQ(bsplineCreate(0, 6, &rec), -1);
    EXPECT_EQ(bsplineCreate(4, 0, &rec), -1);
}

TEST(BSplineBasis, OrderOneSpansAndEndInclusion) {
    const double knots[] = {0, 0, 0, 0, 1, 2, 2, 2, 2};  // count 5, order 4
    // An interior knot belongs to the span that starts there.
    EXPECT_EQ(bsplineBasis(knots, 5, 4, 4, 1, 1.0), 1.0);
    EXPECT_EQ(bsplineBasis(knots, 5, 4, 3, 1, 1.0), 0.0);
    // The last span includes its end, with 1e-6 slack.
    EXPECT_EQ(bsplineBasis(knots, 5, 4, 4, 1, 2.0), 1.0);
    EXPECT_EQ(bsplineBasis(knots, 5, 4, 4, 1, 2.0 + 5e-7), 1.0);
    EXPECT_EQ(bsplineBasis(knots, 5, 4, 3, 1, 0.5), 1.0);
    EXPECT_EQ(bsplineBasis(knots, 5, 4, -1, 1, 0.5), 0.0);
    EXPECT_EQ(bsplineBasis(knots, 5, 4, 8, 1, 0.5), 0.0);
}

TEST(BSplineBasis, AgreesWithTriangularBasisAndSumsToOne) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int order = 4, count = 8;
    std::vector<double> knots(count + order, 0.0);
    for (int i = order; i < count; ++i) knots[i] = knots[i - 1] + 0.1 + unit(rng);
    for (int i = count; i < count + order; ++i) knots[i] = knots[count - 1] + 0.5;
    for (int trial = 0; trial < 200; ++trial) {
        const double t = unit(rng) * knots[count] * 0.999999;
        int span = order - 1;
        while (span + 1 < count && knots[span + 1] <= t) ++span;
        double N[4];
        ASSERT_EQ(bsplBasis(knots.data(), count, order, span, t, N), 0);
        double sum = 0.0;
        for (int i = 0; i < count; ++i) {
            const double v = bsplineBasis(knots.data(), count, order, i, order, t);
            sum += v;
            const int local = i - (span - order + 1);
            EXPECT_NEAR(v, local >= 0 && local < order ? N[local] : 0.0, 1e-13) << t << " " << i;
        }
        EXPECT_NEAR(sum, 1.0, 1e-13);
    }
    // The end parameter of the clamped curve: only the last function.
    EXPECT_NEAR(bsplineBasis(knots.data(), count, order, count - 1, order, knots[count]), 1.0, 1e-13);
}

TEST(BSplineEval, BezierRecordMatchesBernsteinForm) {
    const std::vector<Vec3> P = {{0, 0, 1}, {1, 2, 0}, {3, 3, -1}, {4, 0, 2}};
    BSplineRec rec = makeRecord(P, {0, 0, 0, 0, 2, 2, 2, 2}, false);
    for (double t : {0.0, 0.3, 1.0, 1.7, 2.0}) {
        const double s = t / 2, r = 1 - s;
        const double b[4] = {r * r * r, 3 * s * r * r, 3 * s * s * r, s * s * s};
        Vec3 want{0, 0, 0}, got;
        for (int i = 0; i < 4; ++i) want.x += b[i] * P[i].x, want.y += b[i] * P[i].y, want.z += b[i] * P[i].z;
        ASSERT_EQ(bsplineEval(&rec, t, &got), 0) << t;
        EXPECT_NEAR(got.x, want.x, 1e-13);
        EXPECT_NEAR(got.y, want.y, 1e-13);
        EXPECT_NEAR(got.z, want.z, 1e-13);
    }
    Vec3 p{7, 7, 7};
    EXPECT_EQ(bsplineEval(&rec, 2.0 + 1e-9, &p), -1);
    EXPECT_EQ(p.x, 7);
    rec.is2D = 1;
    ASSERT_EQ(bsplineEval(&rec, 1.0, &p), 0);
    EXPECT_EQ(p.z, 0.0);
    bsplineFree(&rec);
}

TEST(ApproxPlist2D, ReproducesEvenlySpacedCollinearPoints) {
    bsplineResetState();
    std::vector<Vec2> pts;
    for (int i = 0; i < 14; ++i) pts.push_back(Vec2{1.0 + 0.6 * i, -2.0 + 0.8 * i});  // steps of length 1
    const Fit f = makeFit(pts);
    BSplineRec rec;
    ASSERT_EQ(bsplineCreate(4, 6, &rec), 0);
    // Points 2..11: q = 10 and k = 6, so d = 10/3 and the interior knots sit at 10/3 and 20/3.
    ASSERT_EQ(approxPlist2D(f.pts.data(), f.segLen.data(), 14, 2, 10, 4, 6, &rec), 0);
    EXPECT_NEAR(rec.knots[4], 10.0 / 3, 1e-12);
    EXPECT_NEAR(rec.knots[5], 20.0 / 3, 1e-12);
    for (int j : {0, 1, 2, 3}) EXPECT_EQ(rec.knots[j], 0.0);
    for (int j : {6, 7, 8, 9}) EXPECT_NEAR(rec.knots[j], 9.0, 1e-12);
    EXPECT_NEAR(rec.tEnd, 9.0, 1e-12);
    EXPECT_EQ(rec.is2D, 1);
    EXPECT_EQ(rec.cz, nullptr);
    EXPECT_EQ(bsplineCurrent(), &rec);
    for (int j = 0; j < 10; ++j) {
        Vec3 p;
        ASSERT_EQ(bsplineEval(&rec, j, &p), 0);
        EXPECT_NEAR(p.x, pts[2 + j].x, 1e-12) << j;
        EXPECT_NEAR(p.y, pts[2 + j].y, 1e-12) << j;
    }
    bsplineFree(&rec);
    EXPECT_EQ(bsplineCurrent(), nullptr);
}

// The fit is the least-squares optimum with fixed ends: residuals are orthogonal to every free
// basis function, also for intervals far longer than the control polygon.
TEST(ApproxPlist2D, ResidualsOrthogonalToFreeBasis) {
    for (int q : {8, 40, 1000}) {
        std::vector<Vec2> pts;
        for (int i = 0; i < q; ++i) {
            const double a = 2.5 * i / (q - 1);
            pts.push_back(Vec2{10 * std::cos(a) + 0.01 * std::sin(37.0 * i), 10 * std::sin(a)});
        }
        const Fit f = makeFit(pts);
        const int k = q < 20 ? 6 : 20;
        BSplineRec rec;
        ASSERT_EQ(bsplineCreate(4, k, &rec), 0);
        ASSERT_EQ(approxPlist2D(f.pts.data(), f.segLen.data(), q, 0, q, 4, k, &rec), 0) << q;
        EXPECT_EQ(rec.cx[0], pts[0].x);
        EXPECT_EQ(rec.cy[k - 1], pts[q - 1].y);
        std::vector<double> u(q, 0.0);
        for (int i = 1; i < q; ++i) u[i] = u[i - 1] + f.segLen[i];
        double maxDev = 0.0;
        std::vector<double> gx(k, 0.0), gy(k, 0.0);
        for (int r = 1; r < q - 1; ++r) {
            Vec3 p;
            ASSERT_EQ(bsplineEval(&rec, u[r], &p), 0);
            maxDev = std::fmax(maxDev, std::hypot(p.x - pts[r].x, p.y - pts[r].y));
            for (int c = 1; c < k - 1; ++c) {
                const double n = bsplineBasis(rec.knots, k, 4, c, 4, u[r]);
                gx[c] += n * (pts[r].x - p.x);
                gy[c] += n * (pts[r].y - p.y);
            }
        }
        for (int c = 1; c < k - 1; ++c) {
            EXPECT_NEAR(gx[c], 0.0, 1e-9) << q << " " << c;
            EXPECT_NEAR(gy[c], 0.0, 1e-9) << q << " " << c;
        }
        EXPECT_LT(maxDev, 0.05) << q;
        bsplineFree(&rec);
    }
}

TEST(ApproxPlist2D, RejectsBadIntervalsAndSingularSystems) {
    std::vector<Vec2> pts(10, Vec2{1, 1});
    Fit f = makeFit(pts);
    BSplineRec rec;
    ASSERT_EQ(bsplineCreate(4, 6, &rec), 0);
    EXPECT_EQ(approxPlist2D(f.pts.data(), f.segLen.data(), 10, 1, 10, 4, 6, &rec), -1);  // past n
    EXPECT_EQ(approxPlist2D(f.pts.data(), f.segLen.data(), 10, 0, 10, 4, 5, &rec), -1);  // record has 6
    EXPECT_EQ(approxPlist2D(f.pts.data(), f.segLen.data(), 10, 0, 10, 4, 6, &rec), -1);  // all equal
    for (int i = 0; i < 10; ++i) pts[i] = Vec2{double(i), 0.0};
    f = makeFit(pts);
    EXPECT_EQ(approxPlist2D(f.pts.data(), f.segLen.data(), 10, 0, 4, 4, 6, &rec), -1);  // too few points
    bsplineFree(&rec);
}

TEST(BSplineDiscretize, ShortRangeFails) {
    BSplineRec rec = makeRecord({{0, 0, 0}, {1, 1, 0}, {2, 0, 0}, {3, 1, 0}},
                                {0, 0, 0, 0, 0.019, 0.019, 0.019, 0.019}, true);
    Vec3 sentinel{};
    Vec3* pts = &sentinel;  // must be reset
    int32_t n = 5;
    EXPECT_EQ(bsplineDiscretize(&rec, 0.01, &pts, &n), -1);
    EXPECT_EQ(pts, nullptr);
    EXPECT_EQ(n, 0);
    for (int j = 4; j < 8; ++j) rec.knots[j] = 0.021;
    ASSERT_EQ(bsplineDiscretize(&rec, 0.01, &pts, &n), 0);
    EXPECT_GE(n, 2);
    std::free(pts);
    bsplineFree(&rec);
}

TEST(BSplineDiscretize, CollinearGivesEndPoints) {
    BSplineRec rec = makeRecord({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {4, 4, 4}, {5, 5, 5}},
                                {0, 0, 0, 0, 1, 3, 3, 3, 3}, false);
    Vec3* pts = nullptr;
    int32_t n = 0;
    ASSERT_EQ(bsplineDiscretize(&rec, 0.001, &pts, &n), 0);
    ASSERT_EQ(n, 2);
    EXPECT_NEAR(pts[0].x, 0.0, 1e-12);
    EXPECT_NEAR(pts[1].z, 5.0, 1e-12);
    std::free(pts);
    bsplineFree(&rec);
}

TEST(BSplineDiscretize, StaysWithinToleranceAndHonoursRange) {
    // A quarter-circle-like cubic arc of radius about 10.
    const double c = 0.5523 * 10;
    BSplineRec rec =
        makeRecord({{10, 0, 0}, {10, c, 0}, {c, 10, 0}, {0, 10, 0}}, {0, 0, 0, 0, 4, 4, 4, 4}, true);
    for (double tol : {0.1, 0.01, 0.001}) {
        Vec3* pts = nullptr;
        int32_t n = 0;
        ASSERT_EQ(bsplineDiscretize(&rec, tol, &pts, &n), 0);
        EXPECT_GT(n, 2);
        EXPECT_NEAR(pts[0].x, 10.0, 1e-12);
        EXPECT_NEAR(pts[n - 1].y, 10.0, 1e-12);
        for (int i = 0; i <= 400; ++i) {
            Vec3 p;
            ASSERT_EQ(bsplineEval(&rec, 4.0 * i / 400, &p), 0);
            EXPECT_LE(distToPolyline(p, pts, n), 1.5 * tol) << tol << " " << i;
        }
        std::free(pts);
    }
    rec.tStart = 1.0;
    rec.tEnd = 3.0;
    Vec3 a, b;
    ASSERT_EQ(bsplineEval(&rec, 1.0, &a), 0);
    ASSERT_EQ(bsplineEval(&rec, 3.0, &b), 0);
    Vec3* pts = nullptr;
    int32_t n = 0;
    ASSERT_EQ(bsplineDiscretize(&rec, 0.01, &pts, &n), 0);
    EXPECT_NEAR(pts[0].x, a.x, 1e-12);
    EXPECT_NEAR(pts[n - 1].y, b.y, 1e-12);
    std::free(pts);
    bsplineFree(&rec);
}

TEST(BSplineDiscretize, LinearRecordsAndBadRecords) {
    BSplineRec rec = makeRecord({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {0, 0, 1, 2, 2}, true);
    Vec3* pts = nullptr;
    int32_t n = 0;
    ASSERT_EQ(bsplineDiscretize(&rec, 0.01, &pts, &n), 0);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(pts[1].x, 1.0);
    EXPECT_EQ(pts[2].y, 1.0);
    std::free(pts);
    rec.count = 1;
    EXPECT_EQ(bsplineDiscretize(&rec, 0.01, &pts, &n), -1);
    rec.count = 3;
    rec.order = 1;
    EXPECT_EQ(bsplineDiscretize(&rec, 0.01, &pts, &n), -1);
    rec.order = 2;
    bsplineFree(&rec);
}
