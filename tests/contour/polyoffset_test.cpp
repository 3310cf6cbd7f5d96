#include "contour/polyoffset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "chain_util.h"
#include "contour/looplist.h"
#include "vecnear.h"

namespace {

const std::vector<Vec2> kSquare10{{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};
// Two 10 x 10 squares joined by a neck 2 wide, counter-clockwise.
const std::vector<Vec2> kDumbbell{{0, 0},   {10, 0}, {10, 4}, {20, 4},  {20, 0}, {30, 0}, {30, 10},
                                  {20, 10}, {20, 6}, {10, 6}, {10, 10}, {0, 10}, {0, 0}};

struct Result {
    int rc;
    std::vector<Vec2> out;
};

Result offset(std::vector<Vec2>& p, double d, int side, LoopList* loops = nullptr, int32_t cap = -1) {
    Result r;
    r.out.resize(cap < 0 ? 3 * p.size() + 10 : static_cast<size_t>(cap));
    r.rc = poly_offset2D(p.data(), static_cast<int32_t>(p.size()), r.out.data(),
                         static_cast<int32_t>(r.out.size()), d, side, loops);
    r.out.resize(r.rc > 0 ? static_cast<size_t>(r.rc) : 0);
    return r;
}

double area(const std::vector<Vec2>& p) {
    double s = 0;
    for (size_t k = 1; k < p.size(); k++) s += p[k - 1].x * p[k].y - p[k].x * p[k - 1].y;
    return 0.5 * s;
}

}  // namespace

TEST(PolyOffset, SquareShrinksVanishesOrIsTooSmall) {
    struct Case {
        double d;
        int expect;
    };
    for (const Case& c : {Case{3, 5}, Case{6, 0}, Case{7.07, 0}, Case{7.08, -2}}) {
        auto p = kSquare10;
        auto r = offset(p, c.d, 1);
        EXPECT_EQ(r.rc, c.expect) << c.d;
    }
    auto p = kSquare10;
    auto r = offset(p, 3, 1);
    ASSERT_EQ(r.rc, 5);
    const std::vector<Vec2> expect{{3, 3}, {7, 3}, {7, 7}, {3, 7}, {3, 3}};
    for (int k = 0; k < 5; k++) {
        EXPECT_XY(EXPECT_NEAR, r.out[k], expect[k].x, expect[k].y, 1e-12);
    }
}

TEST(PolyOffset, DumbbellSplitsIntoTwoLoops) {
    LoopList* loops = looplist_create();
    ASSERT_NE(loops, nullptr);
    auto p = kDumbbell;
    auto r = offset(p, 2, 1, loops);
    ASSERT_GT(r.rc, 0);
    ASSERT_NE(loops->first, nullptr);
    EXPECT_EQ(loops->first->next, nullptr);
    std::vector<Vec2> second(loops->first->points, loops->first->points + loops->first->count);
    // Each loop is one end shrunk by 2: about 6.4 x 6 with the neck's notch.
    for (const auto* loop : {&r.out, &second}) {
        EXPECT_GT(area(*loop), 30);
        EXPECT_LT(area(*loop), 40);
        EXPECT_XY(EXPECT_NEAR, loop->front(), loop->back().x, loop->back().y, 1e-12);
    }
    const bool firstLeft = r.out[0].x < 15;
    EXPECT_NE(firstLeft, second[0].x < 15);
    looplist_free(loops);
}

TEST(PolyOffset, RightSideWorksReversedAndRestoresTheInput) {
    auto cw = kSquare10;
    std::reverse(cw.begin(), cw.end());
    const auto before = cw;
    auto r = offset(cw, 3, -1);
    ASSERT_EQ(r.rc, 5);
    EXPECT_LT(area(r.out), -15.9);
    EXPECT_GT(area(r.out), -16.1);
    for (size_t k = 0; k < cw.size(); k++) EXPECT_EQ(cw[k].x, before[k].x);
    // Failures leave the points as they were too.
    for (double d : {8.0, 3.0}) {
        cw = before;
        int32_t cap = d == 3.0 ? 2 : -1;  // too small an out fails with -1
        r = offset(cw, d, -1, nullptr, cap);
        EXPECT_EQ(r.rc, d == 3.0 ? -1 : -2);
        for (size_t k = 0; k < cw.size(); k++) {
            EXPECT_XY(EXPECT_EQ, cw[k], before[k].x, before[k].y);
        }
    }
}

TEST(PolyOffset, RawOffsetCornersTable) {
    struct Case {
        std::vector<Vec2> in;
        double d;
        int expect;
        std::vector<Vec2> out;
    };
    const Case cases[] = {
        // Open: ends shifted along their own edge's left normal; one mitre.
        {{{0, 0}, {10, 0}, {10, 10}}, 1, 3, {{0, 1}, {9, 1}, {9, 10}}},
        // Right turn: one point along the bisector's normal.
        {{{0, 0}, {10, 0}, {10, -10}}, 1, 3, {{0, 1}, {10 + std::sqrt(0.5), std::sqrt(0.5)}, {11, -10}}},
        // Left turn with a short edge: two points instead of the mitre.
        {{{0, 0}, {10, 0}, {10, 0.5}}, 1, 4, {{0, 1}, {10, 1}, {9, 0}, {9, 0.5}}},
        // Near duplicates collapse, a lone point gives nothing, a zero turn keeps one point.
        {{{0, 0}, {0.005, 0}}, 1, 0, {}},
        {{{0, 0}, {5, 0}, {10, 0}}, 1, 3, {{0, 1}, {5, 1}, {10, 1}}},
    };
    for (const Case& c : cases) {
        std::vector<Vec2> out(10);
        int r = poly_offset_raw(c.in.data(), static_cast<int32_t>(c.in.size()), out.data(), 10, c.d);
        ASSERT_EQ(r, c.expect);
        for (int k = 0; k < r; k++) {
            EXPECT_NEAR(out[k].x, c.out[k].x, 1e-12) << k;
            EXPECT_NEAR(out[k].y, c.out[k].y, 1e-12) << k;
        }
    }
    std::vector<Vec2> out(2);
    const std::vector<Vec2> in{{0, 0}, {10, 0}, {10, 10}};
    EXPECT_EQ(poly_offset_raw(in.data(), 3, out.data(), 2, 1), -1);
}

TEST(PolyOffset, CrossingsOfABowTie) {
    const std::vector<Vec2> bow{{0, 0}, {10, 10}, {10, 0}, {0, 10}, {0, 0}};
    CrossingList* list = crossingListCreate(5);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(polyFindCrossings(list, bow.data(), 5), 1);
    EXPECT_NEAR(list->data[0].x, 5, 1e-12);
    EXPECT_EQ(list->data[0].first.index, 1);
    EXPECT_EQ(list->data[0].second.index, 3);
    EXPECT_NEAR(list->data[0].first.dist, std::sqrt(50.0), 1e-12);
    crossingListFree(list);
}

TEST(PolyOffset, UntanglingKeepsOnlyLoopsOfPositiveArea) {
    // Bow ties crossing once: one lobe turns counter-clockwise, the other clockwise. Only a
    // counter-clockwise lobe of more than 0.1 survives; the lobe of the left tie with its corner at
    // (0, 0.4) has 0.5 * 0.4 * 0.4 / 1.04 of area.
    struct Case {
        std::vector<Vec2> tie, kept;  // kept: the surviving lobe, first point repeated last, or none
    } cases[] = {
        {{{0, 0}, {10, 10}, {10, 0}, {0, 10}, {0, 0}}, {{5, 5}, {0, 10}, {0, 0}, {5, 5}}},
        {{{0, 0}, {0, 10}, {10, 0}, {10, 10}, {0, 0}}, {{5, 5}, {10, 0}, {10, 10}, {5, 5}}},
        {{{0, 0}, {10, 10}, {10, 0}, {0, 0.4}, {0, 0}}, {}},
    };
    for (const auto& c : cases) {
        auto p = c.tie;
        p.resize(20);
        LoopList* loops = looplist_create();
        ASSERT_NE(loops, nullptr);
        const int rc = poly_offset_resolve(p.data(), 5, 20, loops, 1);
        EXPECT_EQ(loops->first, nullptr);
        looplist_free(loops);
        ASSERT_EQ(rc, static_cast<int>(c.kept.size())) << c.tie[3].y;
        if (rc == 0) continue;
        // The same closed loop, from whichever of its points it starts.
        int shift = 0;
        while (shift < rc - 1 && std::hypot(p[0].x - c.kept[shift].x, p[0].y - c.kept[shift].y) > 1e-9)
            shift++;
        for (int k = 0; k < rc; k++) {
            const Vec2& q = c.kept[(shift + k) % (rc - 1)];
            EXPECT_NEAR(p[k].x, q.x, 1e-9) << k;
            EXPECT_NEAR(p[k].y, q.y, 1e-9) << k;
        }
    }
}

// Whether the graph's records, in index order, walk forward along the polygon: each lies on an
// edge no earlier than the one before (a crossing lies on two edges; the first possible one counts).
bool walksForward(const std::vector<Vec2>& poly, const PieceGraph* g) {
    double pos = 0, before = 0;
    std::vector<double> at{0};  // length along the polygon up to each point
    for (size_t k = 1; k < poly.size(); k++)
        at.push_back(at.back() + std::hypot(poly[k].x - poly[k - 1].x, poly[k].y - poly[k - 1].y));
    for (int32_t r = 0; r < g->count; r++) {
        const Vec2 q{g->data[r].x, g->data[r].y};
        double best = INFINITY;
        for (size_t k = 1; k < poly.size(); k++) {
            const Seg2D e{poly[k - 1].x, poly[k - 1].y, poly[k].x, poly[k].y};
            const double p = at[k - 1] + std::hypot(q.x - e.x1, q.y - e.y1);
            if (distPointSeg2D(&q, &e) < 1e-9 && p >= pos - 1e-9 && p < best) best = p;
        }
        if (best == INFINITY) return false;
        before = pos;
        pos = best;
    }
    return pos > before;
}

// A pentagram has as many crossings as edges, two on every edge: its graph needs n + 2 * 5 = 16
// records for n = 6 points, more than 2n, and keeps each edge's two crossings in their order.
TEST(PolyOffset, PentagramGraphTakesEveryCrossingNodeInOrder) {
    std::vector<Vec2> star;
    for (int k = 0; k <= 5; k++) {
        const double a = (90.0 + 144.0 * (k % 5)) * 3.14159265358979323846 / 180;
        star.push_back(Vec2{10 * std::cos(a), 10 * std::sin(a)});
    }
    CrossingList* list = crossingListCreate(6);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(polyFindCrossings(list, star.data(), 6), 5);
    PieceGraph* g = pieceGraphCreate(star.data(), 6);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->capacity, 18);
    for (int32_t c = 0; c < 5; c++)
        for (int half = 0; half < 2; half++)
            EXPECT_EQ(pieceGraphInsert(g, list, c, half), 1) << c << " " << half;
    ASSERT_EQ(g->count, 16);
    EXPECT_TRUE(walksForward(star, g));
    // The two records of a crossing point at each other.
    for (int32_t r = 0; r < g->count; r++) {
        const int32_t o = g->data[r].next;
        if (o < 0) continue;
        ASSERT_LT(o, g->count);
        EXPECT_EQ(g->data[o].next, r);
        EXPECT_XY(EXPECT_NEAR, g->data[o], g->data[r].x, g->data[r].y, 1e-9);
    }
    pieceGraphFree(g);
    crossingListFree(list);

    auto p = star;
    p.resize(20);
    LoopList* loops = looplist_create();
    ASSERT_NE(loops, nullptr);
    const int rc = poly_offset_resolve(p.data(), 6, 20, loops, 1);
    ASSERT_GT(rc, 0);
    // The first loop is the inner pentagon of the crossing points, counter-clockwise.
    const double ri = 10 * std::cos(0.4 * M_PI) / std::cos(0.2 * M_PI);
    ASSERT_EQ(rc, 6);
    for (int k = 0; k < rc; k++) EXPECT_NEAR(std::hypot(p[k].x, p[k].y), ri, 1e-9) << k;
    EXPECT_NEAR(area(std::vector<Vec2>(p.begin(), p.begin() + 6)), 2.5 * ri * ri * std::sin(0.4 * M_PI),
                1e-9);
    looplist_free(loops);
}

// Every point of the shrunk polygon lies inside it at the distance; with GEOS, the negative mitre buffer
// has the same area and shape.
TEST(PolyOffset, RandomConvexPolygonsShrinkInsideAtDistance) {
#ifdef KV_HAVE_GEOS
    ctest::Geos g;
#endif
    std::mt19937 rng(3142);
    std::uniform_real_distribution<double> dist(0.5, 2);
    for (int round = 0; round < 40; round++) {
        auto p = ctest::convexPolygon(rng, 5, 5, 50, 20, 80);
        const double d = dist(rng);
        auto r = offset(p, d, 1);
        ASSERT_EQ(r.rc, static_cast<int>(p.size())) << round;
        auto edges = ctest::chain(p);
        for (const Vec2& q : r.out) {
            int32_t idx = 0;
            EXPECT_NEAR(nearestSeg2D(&q, edges.data(), static_cast<int32_t>(edges.size()), &idx), d, 1e-9);
            EXPECT_EQ(pointInPolyWinding2D(edges.data(), static_cast<int32_t>(edges.size()), &q), 1);
        }
#ifdef KV_HAVE_GEOS
        GEOSGeometry* poly = g.read(ctest::polygonWkt(p));
        GEOSGeometry* buf =
            GEOSBufferWithStyle_r(g.h, poly, -d, 8, GEOSBUF_CAP_ROUND, GEOSBUF_JOIN_MITRE, 5.0);
        GEOSGeometry* ours = g.read(ctest::polygonWkt(r.out));
        double a1 = 0, a2 = 0;
        GEOSArea_r(g.h, buf, &a1);
        GEOSArea_r(g.h, ours, &a2);
        EXPECT_NEAR(a1, a2, 1e-7) << round;
        EXPECT_LT(g.hausdorff(buf, ours), 1e-7) << round;
        g.free(ours);
        g.free(buf);
        g.free(poly);
#endif
    }
}

TEST(LoopList, AddPopCopyAndBounds) {
    LoopList* a = looplist_create();
    LoopList* b = looplist_create();
    ASSERT_TRUE(a && b);
    const Vec2 p1[2] = {{1, 1}, {2, 2}}, p2[3] = {{3, 3}, {4, 4}, {5, 5}};
    EXPECT_EQ(looplist_add(a, p1, 2), 1);
    EXPECT_EQ(looplist_add(a, p2, 3), 1);
    EXPECT_EQ(looplist_add(a, p2, 0), 0);
    EXPECT_EQ(looplist_add(nullptr, p2, 3), 0);
    EXPECT_EQ(looplist_copy(b, a), 1);
    EXPECT_EQ(b->first->count, 2);  // the copy is in reverse order
    EXPECT_EQ(looplist_copy(a, a), 1);
    EXPECT_EQ(a->first->count, 3);
    Vec2 buf[3];
    int32_t n = 0;
    EXPECT_EQ(looplist_pop(a, buf, 2, &n), -2);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(looplist_pop(a, buf, 3, &n), 1);
    EXPECT_EQ(buf[2].x, 5);
    EXPECT_EQ(looplist_pop(a, buf, 3, &n), 1);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(looplist_pop(a, buf, 3, &n), -1);
    EXPECT_EQ(looplist_pop(nullptr, buf, 3, &n), 0);
    EXPECT_EQ(looplist_copy(nullptr, a), 0);
    looplist_free(a);
    looplist_free(b);
    looplist_free(nullptr);
}
