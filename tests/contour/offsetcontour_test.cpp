#include "contour/offsetcontour.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "chain_util.h"

using ctest::chain;

namespace {

struct Result {
    int rc;
    std::vector<Seg2D> out;
};

// out sized exactly 2n + 1, so that the address checker sees any write beyond the documented room.
Result offset(const std::vector<Seg2D>& in, double d, int side) {
    Result r;
    r.out.resize(2 * in.size() + 1);
    r.rc = offsetContour2D(in.data(), static_cast<int32_t>(in.size()), d, r.out.data(), side, 0.0);
    r.out.resize(r.rc > 0 ? static_cast<size_t>(r.rc) : 0);
    return r;
}

void expectChain(const std::vector<Seg2D>& got, const std::vector<Vec2>& pts, double tol) {
    ASSERT_EQ(got.size() + 1, pts.size());
    for (size_t k = 0; k < got.size(); k++) {
        EXPECT_NEAR(got[k].x1, pts[k].x, tol) << k;
        EXPECT_NEAR(got[k].y1, pts[k].y, tol) << k;
        EXPECT_NEAR(got[k].x2, pts[k + 1].x, tol) << k;
        EXPECT_NEAR(got[k].y2, pts[k + 1].y, tol) << k;
    }
}

const std::vector<Vec2> kSquare{{0, 0}, {100, 0}, {100, 100}, {0, 100}, {0, 0}};

class OffsetContour : public ::testing::Test {
  protected:
    void SetUp() override { offsetContourResetState(); }
    void TearDown() override { offsetContourResetState(); }
};

}  // namespace

TEST_F(OffsetContour, OpenUTrimsBothInnerCorners) {
    auto r = offset(chain({{0, 10}, {0, 0}, {10, 0}, {10, 10}}), 2, 1);
    ASSERT_EQ(r.rc, 3);
    expectChain(r.out, {{2, 10}, {2, 2}, {8, 2}, {8, 10}}, 1e-12);
    EXPECT_EQ(offsetContourRetryFlag(), 0);
}

TEST_F(OffsetContour, ClosedSquareChamfersOrMitresByFactor) {
    const double c = 5 * (std::sqrt(2.0) - 1);  // chamfer points lie 5 * (sqrt 2 - 1) past the edge
    auto r = offset(chain(kSquare), 5, -1);
    ASSERT_EQ(r.rc, 8);
    EXPECT_NEAR(r.out[0].x2, 102.0711, 1e-4);
    EXPECT_NEAR(r.out[0].y2, -5, 1e-12);
    EXPECT_NEAR(r.out[1].x1, 102.0711, 1e-4);
    EXPECT_NEAR(r.out[1].x2, 105, 1e-12);
    EXPECT_NEAR(r.out[1].y2, -2.0711, 1e-4);
    EXPECT_NEAR(r.out[1].y2, -c, 1e-12);
    for (size_t k = 0; k < r.out.size(); k++) {
        const Seg2D& a = r.out[k];
        const Seg2D& b = r.out[(k + 1) % r.out.size()];
        EXPECT_NEAR(a.x2, b.x1, 1e-12);
        EXPECT_NEAR(a.y2, b.y1, 1e-12);
    }
    setContourCornerFactor(1);
    r = offset(chain(kSquare), 5, -1);
    ASSERT_EQ(r.rc, 4);
    expectChain(r.out, {{-5, -5}, {105, -5}, {105, 105}, {-5, 105}, {-5, -5}}, 1e-12);
    setContourCornerFactor(7);  // any other mode is the default again
    EXPECT_EQ(offset(chain(kSquare), 5, -1).rc, 8);
}

TEST_F(OffsetContour, CornerOffsetTable) {
    struct Case {
        int mode;
        Seg2D a, b;
        int expect;
        Vec2 aEnd, bStart;
    };
    const Case cases[] = {
        {0,
         {0, 0, 10, 0},
         {10, 0, 10, 10},
         1,
         {10 + 2 * (std::sqrt(2.0) - 1), -2},
         {12, -2 * (std::sqrt(2.0) - 1)}},
        {1, {0, 0, 10, 0}, {10, 0, 10, 10}, 2, {12, -2}, {12, -2}},
        {0, {0, 0, 10, 0}, {10, 0, 20, 0}, 2, {10, -2}, {10, -2}},  // straight on mitres
        {0, {0, 0, 10, 0}, {10, 0, 0, 0}, -1, {0, 0}, {0, 0}},      // reversal has no bisector
        {0, {0, 0, 0, 0}, {0, 0, 10, 0}, -1, {0, 0}, {0, 0}},       // zero length
    };
    for (const Case& c : cases) {
        setContourCornerFactor(c.mode);
        Seg2D a = c.a, b = c.b, bridge{};
        EXPECT_EQ(contour_corner_offset(&a, &b, 2, &bridge, -1), c.expect);
        if (c.expect < 0) continue;
        EXPECT_NEAR(a.x2, c.aEnd.x, 1e-12);
        EXPECT_NEAR(a.y2, c.aEnd.y, 1e-12);
        EXPECT_NEAR(b.x1, c.bStart.x, 1e-12);
        EXPECT_NEAR(b.y1, c.bStart.y, 1e-12);
        EXPECT_NEAR(bridge.x1, a.x2, 1e-12);
        EXPECT_NEAR(bridge.x2, b.x1, 1e-12);
    }
}

TEST_F(OffsetContour, TinyDistanceCopiesAndBadSideFails) {
    auto in = chain({{0, 0}, {3, 1}, {5, -2}});
    auto r = offset(in, 0.000005, 1);
    ASSERT_EQ(r.rc, 2);
    EXPECT_EQ(r.out[1].x2, 5);
    EXPECT_EQ(offset(chain(kSquare), 5, 2).rc, 0);
    EXPECT_EQ(offset(in, 1, 2).rc, 0);
}

TEST_F(OffsetContour, RetriesWorkOnACopyOfTheInput) {
    // A slot narrower than 2d with a few tiny elements: every pass is refused and retried.
    std::vector<Vec2> p{{0, 10}, {0, 0}, {0.004, 0}, {0.008, 0}, {3, 0}, {3, 10}};
    auto in = chain(p);
    const auto before = in;
    auto r = offset(in, 2, 1);
    EXPECT_GE(r.rc, 0);
    EXPECT_EQ(offsetContourRetryFlag(), 1);  // every retry was refused; the last pass's result stands
    ASSERT_EQ(in.size(), before.size());
    for (size_t k = 0; k < in.size(); k++) {
        EXPECT_EQ(in[k].x1, before[k].x1);
        EXPECT_EQ(in[k].y2, before[k].y2);
    }
}

TEST_F(OffsetContour, SimplificationsTable) {
    std::vector<Seg2D> e = chain({{0, 0}, {1, 0}, {1.005, 0}, {2, 0}, {2, 0.00001}, {3, 0}});
    EXPECT_EQ(dropShortElements2D(e.data(), 5, 0.01), 3);
    EXPECT_EQ(e[1].x1, 1.005);
    e = chain({{0, 0}, {1, 0}, {1.00001, 0}, {2, 0}});
    EXPECT_EQ(seglist_drop_zero2D(e.data(), 3), 2);
    EXPECT_EQ(e[1].x1, 1.00001);

    // A short element between a left and a right turn; 49 elements are never merged, 50 are.
    auto steps = [](int n) {
        std::vector<Vec2> p{{0, 0}};
        for (int k = 0; p.size() <= static_cast<size_t>(n); k++) {
            p.push_back(Vec2{p.back().x + 1, p.back().y});
            if (p.size() <= static_cast<size_t>(n)) p.push_back(Vec2{p.back().x, p.back().y + 0.1});
        }
        return chain(p);
    };
    auto s49 = steps(49);
    int32_t n = 49;
    EXPECT_EQ(mergeElements2D(s49.data(), &n, 0.2), 0);
    EXPECT_EQ(n, 49);
    auto s50 = steps(50);
    n = 50;
    EXPECT_EQ(mergeElements2D(s50.data(), &n, 0.2), 1);
    EXPECT_LT(n, 50);
    for (int32_t k = 1; k < n; k++) {
        EXPECT_NEAR(s50[k - 1].x2, s50[k].x1, 1e-12);
        EXPECT_NEAR(s50[k - 1].y2, s50[k].y1, 1e-12);
    }
}

// Outward the chain stays closed at no less than d (corners chamfered or mitred); with GEOS it is the
// boundary of the mitre buffer (limit 1 clips a mitre as the chamfer does). Inward every corner is inner.
TEST_F(OffsetContour, RandomConvexPolygonsOffsetOutwardStayClosedAtDistance) {
#ifdef KV_HAVE_GEOS
    ctest::Geos g;
#endif
    std::mt19937 rng(3140);
    std::uniform_real_distribution<double> dist(0.5, 8);
    for (int round = 0; round < 40; round++) {
        auto p = ctest::convexPolygon(rng, 10, -20, 50, 20, 80);
        auto in = chain(p);
        const double d = dist(rng);
        setContourCornerFactor(round % 2);
        auto r = offset(in, d, -1);
        ASSERT_GT(r.rc, 0) << round;
        EXPECT_LE(r.rc, static_cast<int>(2 * in.size()));
        for (size_t k = 0; k < r.out.size(); k++) {
            const Seg2D& a = r.out[k];
            const Seg2D& b = r.out[(k + 1) % r.out.size()];
            EXPECT_NEAR(a.x2, b.x1, 1e-9);
            EXPECT_NEAR(a.y2, b.y1, 1e-9);
            const Vec2 q{a.x2, a.y2};
            int32_t idx = 0;
            const double gap = nearestSeg2D(&q, in.data(), static_cast<int32_t>(in.size()), &idx);
            EXPECT_GE(gap, d - 1e-9);
            EXPECT_LE(gap, d * 1.4143);
        }
#ifdef KV_HAVE_GEOS
        GEOSGeometry* poly = g.read(ctest::polygonWkt(p));
        GEOSGeometry* buf = GEOSBufferWithStyle_r(g.h, poly, d, 8, GEOSBUF_CAP_FLAT, GEOSBUF_JOIN_MITRE,
                                                  round % 2 ? 10.0 : 1.0);
        GEOSGeometry* ring = GEOSBoundary_r(g.h, buf);
        GEOSGeometry* ours = g.read(ctest::lineWkt(ctest::points(r.out.data(), r.rc)));
        EXPECT_LT(g.hausdorff(ring, ours), 1e-7) << round;
        g.free(ours);
        g.free(ring);
        g.free(buf);
        g.free(poly);
#endif
        r = offset(in, d, 1);
        EXPECT_EQ(r.rc, static_cast<int>(in.size())) << round;
    }
}

#ifdef KV_HAVE_GEOS
TEST_F(OffsetContour, OpenChainsMatchGeosOffsetCurve) {
    ctest::Geos g;
    std::mt19937 rng(31402);
    std::uniform_real_distribution<double> dist(0.3, 3), gap(20, 40);
    for (int round = 0; round < 25; round++) {
        // A counter-clockwise arc: left is its concave side, right its convex side.
        std::vector<Vec2> p;
        double a = 0;
        for (int k = 0; k < 5; k++, a += gap(rng) * 3.14159265358979323846 / 180)
            p.push_back(Vec2{50 * std::cos(a), 50 * std::sin(a)});
        auto in = chain(p);
        const double d = dist(rng);
        for (int side : {1, -1}) {
            auto r = offset(in, d, side);
            ASSERT_GT(r.rc, 0);
            GEOSGeometry* line = g.read(ctest::lineWkt(p));
            GEOSGeometry* curve = GEOSOffsetCurve_r(g.h, line, side * d, 8, GEOSBUF_JOIN_MITRE, 1.0);
            GEOSGeometry* ours = g.read(ctest::lineWkt(ctest::points(r.out.data(), r.rc)));
            EXPECT_LT(g.hausdorff(curve, ours), 1e-7) << round << " side " << side;
            g.free(ours);
            g.free(curve);
            g.free(line);
        }
    }
}
#else
TEST(OffsetContourGeos, Unavailable) {
    GTEST_SKIP() << "GEOS not found";
}
#endif

TEST_F(OffsetContour, NarrowNotchIsCutOutOfTheOffset) {
    // Counter-clockwise 20 x 20 square with a notch 2 wide and 5 deep: offset outward by 3 the notch
    // walls' offsets cross and the loop between them drops out.
    auto in = chain({{0, 0}, {9, 0}, {9, 5}, {11, 5}, {11, 0}, {20, 0}, {20, 20}, {0, 20}, {0, 0}});
    auto r = offset(in, 3, -1);
    ASSERT_GT(r.rc, 0);
    EXPECT_EQ(offsetContourRetryFlag(), 0);
    double minY = 1e9;
    for (size_t k = 0; k < r.out.size(); k++) {
        const Seg2D& a = r.out[k];
        const Seg2D& b = r.out[(k + 1) % r.out.size()];
        EXPECT_NEAR(a.x2, b.x1, 1e-9) << k;
        EXPECT_NEAR(a.y2, b.y1, 1e-9) << k;
        const Vec2 q{a.x2, a.y2};
        int32_t idx = 0;
        EXPECT_GE(nearestSeg2D(&q, in.data(), static_cast<int32_t>(in.size()), &idx), 3 - 1e-9) << k;
        minY = std::min(minY, a.y2);
    }
    EXPECT_NEAR(minY, -3, 1e-12);
    for (const Seg2D& e : r.out)
        EXPECT_FALSE(e.y1 > -2.9 && e.y1 < 5 && e.x1 > 5 && e.x1 < 15) << e.x1 << " " << e.y1;
}

// The pass's end check against the plain definition: some end of out nearer than r to an element.
// Seeded chains of micron to centimetre steps (with repeated points); each out is a far chain with
// one end moved to a drawn distance from a drawn element, a hair inside or outside r, or left far.
TEST(OffsetEndsNearer, EqualsTheFullScan) {
    std::mt19937 rng(3407);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int yes = 0, no = 0;
    for (int round = 0; round < 300; round++) {
        const double step = round % 3 == 0 ? 1e-3 : round % 3 == 1 ? 0.5 : 10.0;
        const int32_t n = round % 5 == 0 ? 20 : 64 + static_cast<int32_t>(u(rng) * 400);
        std::vector<Seg2D> in;
        double x = u(rng) * 100, y = u(rng) * 100, a = 0;
        for (int32_t k = 0; k < n; k++) {
            a += (u(rng) - 0.5) * 1.5;
            const double s = k % 37 == 5 ? 0.0 : step * (0.2 + u(rng));
            in.push_back(Seg2D{x, y, x + s * std::cos(a), y + s * std::sin(a)});
            x = in.back().x2, y = in.back().y2;
        }
        const double r = step * (0.05 + 3 * u(rng));
        std::vector<Seg2D> out;
        const int32_t c = round % 7 == 0 ? 30 : 64 + static_cast<int32_t>(u(rng) * 300);
        for (int32_t m = 0; m < c; m++) {
            const double px = 1e4 + u(rng) * 1e3, py = -1e4 + u(rng) * 1e3;
            out.push_back(Seg2D{px, py, px + 1, py});
        }
        if (round % 4 != 3) {
            // One end at about r from an element: on its normal, beyond an end, or on a point element.
            const Seg2D& s = in[static_cast<size_t>(u(rng) * n)];
            const double f = round % 4 == 0 ? 1 - 1e-9 : round % 4 == 1 ? 1 + 1e-9 : u(rng) * 2;
            const double t = u(rng) * 1.4 - 0.2, ang = u(rng) * 6.283;
            Seg2D& e = out[static_cast<size_t>(u(rng) * c)];
            e.x2 = s.x1 + t * (s.x2 - s.x1) + f * r * std::cos(ang);
            e.y2 = s.y1 + t * (s.y2 - s.y1) + f * r * std::sin(ang);
        }
        bool want = false;
        for (const Seg2D& e : out) {
            const Vec2 p{e.x2, e.y2};
            double best = 1e10;
            for (const Seg2D& s : in) best = std::min(best, distPointSeg2D(&p, &s));
            want = want || best < r;
        }
        EXPECT_EQ(offsetEndsNearer2D(in.data(), n, out.data(), c, r), want) << round;
        (want ? yes : no)++;
    }
    EXPECT_GT(yes, 60);
    EXPECT_GT(no, 60);
}

// An end just past a chain's last element, off its line by about r: the distance is taken to the line's
// foot while that foot is within the end test's reach, so the end may be nearer than r though farther
// than r from the element's own box.
TEST(OffsetEndsNearer, EndsPastAnElementWithinTheFootReach) {
    struct Case {
        double len, r, past, side;
    };
    const Case cases[] = {{0.5, 0.05, 1e-5, 1 - 1e-9},   {0.5, 0.05, 1e-5, 1 + 1e-9},
                          {0.5, 0.05, 3e-5, 1 - 1e-9},   {2.0, 1.0, 4e-6, 1 - 1e-9},
                          {0.01, 0.002, 5e-4, 1 - 1e-9}, {0.5, 0.05, 0.0, 1 - 1e-9}};
    for (const Case& k : cases)
        for (int dir = 0; dir < 4; dir++) {
            // The chain runs along +x, -x, +y or -y; the end sits past its last point.
            const double ux = dir == 0 ? 1 : dir == 1 ? -1 : 0, uy = dir == 2 ? 1 : dir == 3 ? -1 : 0;
            std::vector<Seg2D> in;
            for (int32_t i = 0; i < 80; i++)
                in.push_back(Seg2D{7 + ux * k.len * i, 3 + uy * k.len * i, 7 + ux * k.len * (i + 1),
                                   3 + uy * k.len * (i + 1)});
            std::vector<Seg2D> out;
            for (int32_t m = 0; m < 70; m++) out.push_back(Seg2D{-50.0 - m, -50.0, -50.0 - m, -60.0 - m});
            const Seg2D& last = in.back();
            out[33].x2 = last.x2 + ux * k.past - uy * k.side * k.r;
            out[33].y2 = last.y2 + uy * k.past + ux * k.side * k.r;
            bool want = false;
            for (const Seg2D& e : out) {
                const Vec2 p{e.x2, e.y2};
                int32_t idx = 0;
                want = want || nearestSeg2D(&p, in.data(), static_cast<int32_t>(in.size()), &idx) < k.r;
            }
            EXPECT_EQ(offsetEndsNearer2D(in.data(), 80, out.data(), 70, k.r), want) << k.len << " " << dir;
        }
}
