#include "contour/contourisect.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "chain_util.h"
#include "contour/chainindex.h"
#include "vecnear.h"

using ctest::chain;

namespace {

std::vector<IsectRecord> selfIsect(const std::vector<Seg2D>& c, int mode = 1, int* rc = nullptr) {
    std::vector<IsectRecord> t(kSelfIsectMax + 1);
    int r = contour_self_isect2D(c.data(), static_cast<int32_t>(c.size()), t.data(),
                                 static_cast<int32_t>(t.size()), mode);
    if (rc) *rc = r;
    t.resize(r > 0 ? static_cast<size_t>(r) : 0);
    return t;
}

// A zigzag over y = 0 whose teeth - 1 elements are all crossed by one straight element.
std::vector<Seg2D> comb(int teeth) {
    std::vector<Vec2> p;
    for (int k = 0; k < teeth; k++) p.push_back(Vec2{0.5 * k, k % 2 ? -1.0 : 1.0});
    p.push_back(Vec2{0.5 * teeth, 3});
    p.push_back(Vec2{-1, 3});
    p.push_back(Vec2{-1, 0});
    p.push_back(Vec2{0.5 * (teeth - 1) + 0.1, 0});
    return chain(p);
}

}  // namespace

TEST(ContourSelfIsect, SimpleChainsHaveNone) {
    const std::vector<std::vector<Vec2>> cases = {
        {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}},          // closed square
        {{0, 0}, {10, 0}, {10, 10}, {0, 10}},                  // open square
        {{0, 10}, {0, 0}, {10, 0}, {10, 10}},                  // U
        {{0, 0}, {5, 5}, {10, 0}, {15, 5}, {20, 0}, {25, 5}},  // zigzag
    };
    for (const auto& p : cases) {
        int rc = -9;
        auto t = selfIsect(chain(p), 1, &rc);
        EXPECT_EQ(rc, 0) << p.size();
    }
    int rc = -9;
    EXPECT_EQ(contour_self_isect2D(nullptr, 0, nullptr, 0, 1), 0);
    selfIsect({}, 1, &rc);
    EXPECT_EQ(rc, 0);
}

// Records sorted by element: the figure eight crosses once at its middle; each tooth of the comb is
// crossed once by the straight return, at x = 0.5k + 0.25.
TEST(ContourSelfIsect, FigureEightAndCombCountEveryCrossing) {
    auto eight = selfIsect(chain({{0, 0}, {10, 10}, {10, 0}, {0, 10}, {0, 0}}));
    ASSERT_EQ(eight.size(), 1u);
    EXPECT_EQ(eight[0].i, 1);
    EXPECT_EQ(eight[0].j, 3);
    EXPECT_XY(EXPECT_NEAR, eight[0], 5, 5, 1e-12);
    EXPECT_NEAR(eight[0].t, 0.5, 1e-12);
    auto t = selfIsect(comb(10));
    ASSERT_EQ(t.size(), 9u);
    for (size_t k = 0; k < t.size(); k++) {
        EXPECT_EQ(t[k].i, static_cast<int32_t>(k) + 1);
        EXPECT_EQ(t[k].j, 13);
        EXPECT_XY(EXPECT_NEAR, t[k], 0.5 * k + 0.25, 0, 1e-12);
    }
}

TEST(ContourSelfIsect, TooManyCrossingsOrTooSmallTableFail) {
    int rc = 0;
    selfIsect(comb(4097), 1, &rc);  // 4096 crossings
    EXPECT_EQ(rc, -1);
    selfIsect(comb(4001), 1, &rc);  // exactly 4000
    EXPECT_EQ(rc, 4000);
    auto c = comb(10);
    std::vector<IsectRecord> small(5);
    EXPECT_EQ(contour_self_isect2D(c.data(), static_cast<int32_t>(c.size()), small.data(), 5, 1), -1);
}

TEST(ContourSelfIsect, RandomPolylinesMatchBruteForce) {
    std::mt19937 rng(1401);
    std::uniform_real_distribution<double> u(0, 100);
    for (int round = 0; round < 40; round++) {
        std::vector<Vec2> p;
        int n = 3 + round % 25;
        for (int k = 0; k <= n; k++) p.push_back(Vec2{u(rng), u(rng)});
        auto c = chain(p);
        size_t expect = 0;
        for (size_t a = 0; a < c.size(); a++)
            for (size_t b = a + 2; b < c.size(); b++) {
                Vec2 q;
                if (segSegIsect2D(&c[a], &c[b], &q) == 1) expect++;
            }
        auto t = selfIsect(c);
        ASSERT_EQ(t.size(), expect) << "round " << round;
        for (size_t k = 0; k < t.size(); k++) {
            const Vec2 q{t[k].x, t[k].y};
            EXPECT_LT(t[k].i, t[k].j);
            EXPECT_LT(distPointSeg2D(&q, &c[t[k].i - 1]), 1e-7);
            EXPECT_LT(distPointSeg2D(&q, &c[t[k].j - 1]), 1e-7);
            if (k > 0) {
                EXPECT_LE(isectRecordCompare(&t[k - 1], &t[k]), 0);
            }
        }
    }
}

TEST(ContourPairIsect, VertexTouchesAndCrossings) {
    struct Case {
        const char* name;
        std::vector<Vec2> a, b;
        int expect;
    };
    const Case cases[] = {
        {"touch at shared vertex", {{-1, 0}, {0, 0}, {1, 0}}, {{-1, -1}, {0, 0}, {1, -1}}, 0},
        {"cross at shared vertex", {{-1, 0}, {0, 0}, {1, 0}}, {{0, -1}, {0, 0}, {0, 1}}, 1},
        {"cross at bent vertices", {{-1, -1}, {0, 0}, {1, -1}}, {{-1, 1}, {0, 0}, {1, -1.5}}, 1},
        {"interior crossing", {{0, 0}, {10, 10}}, {{0, 10}, {10, 0}}, 1},
        {"apart", {{0, 0}, {10, 0}}, {{0, 1}, {10, 1}}, 0},
        {"two crossings", {{0, 0}, {10, 0}}, {{1, -1}, {2, 1}, {3, -1}}, 2},
    };
    for (const Case& c : cases) {
        auto a = chain(c.a), b = chain(c.b);
        std::vector<IsectRecord> t(8);
        int r = contour_pair_isect2D(a.data(), static_cast<int32_t>(a.size()), b.data(),
                                     static_cast<int32_t>(b.size()), t.data(), 8);
        EXPECT_EQ(r, c.expect) << c.name;
        for (int k = 0; k < r; k++) EXPECT_EQ(t[k].mark, 1) << c.name;
        IsectList* list = isectListCreate(0);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(contour_pair_isect2D_b(a.data(), static_cast<int32_t>(a.size()), b.data(),
                                         static_cast<int32_t>(b.size()), list),
                  c.expect)
            << c.name;
        for (int k = 0; k < r && k < list->count; k++) {
            EXPECT_DOUBLE_EQ(list->data[k].x, t[k].x);
            EXPECT_EQ(list->data[k].j, t[k].j);
        }
        isectListFree(list);
    }
}

TEST(ContourPairIsect, IdenticalOrEmptyChainsGiveNothingAndFullTableFails) {
    auto a = chain({{0, 0}, {10, 10}, {20, 0}});
    std::vector<IsectRecord> t(4);
    EXPECT_EQ(contour_pair_isect2D(a.data(), 2, a.data(), 2, t.data(), 4), 0);
    EXPECT_EQ(contour_pair_isect2D(a.data(), 2, a.data(), 0, t.data(), 4), 0);
    auto b = chain({{1, -1}, {2, 1}, {3, -1}, {4, 1}});
    auto line = chain({{0, 0}, {10, 0}});
    EXPECT_EQ(contour_pair_isect2D(line.data(), 1, b.data(), 3, t.data(), 4), 3);
    EXPECT_EQ(contour_pair_isect2D(line.data(), 1, b.data(), 3, t.data(), 2), -1);
    // Sorted along the element of the first chain.
    EXPECT_EQ(contour_pair_isect2D(line.data(), 1, b.data(), 3, t.data(), 4), 3);
    EXPECT_LT(t[0].t, t[1].t);
    EXPECT_LT(t[1].t, t[2].t);
    EXPECT_NEAR(t[0].x, 1.5, 1e-12);
    EXPECT_NEAR(t[2].x, 3.5, 1e-12);
}

TEST(IsectList, GrowsFromZeroAndKeepsRecords) {
    for (int32_t start : {0, -5}) {
        IsectList* list = isectListCreate(start);
        ASSERT_NE(list, nullptr);
        for (int k = 0; k < 5; k++) {
            IsectRecord r{double(k), 0, 0, k, k + 1, 1};
            ASSERT_EQ(isectListAdd(list, &r), 1);
        }
        for (int k = 0; k < 5; k++) EXPECT_EQ(list->data[k].i, k);
        EXPECT_EQ(isectListAdd(nullptr, &list->data[0]), -1);
        isectListFree(list);
    }
    isectListFree(nullptr);
}

TEST(IsectRecordCompare, OrdersByElementThenParameter) {
    struct Case {
        int32_t ia;
        double ta;
        int32_t ib;
        double tb;
        int expect;
    };
    const Case cases[] = {
        {1, 0.9, 2, 0.1, -1}, {2, 0.1, 1, 0.9, 1}, {3, 0.2, 3, 0.7, -1},
        {3, 0.7, 3, 0.2, 1},  {3, 0.5, 3, 0.5, 0},
    };
    for (const Case& c : cases) {
        IsectRecord a{0, 0, c.ta, c.ia, 0, 0}, b{0, 0, c.tb, c.ib, 0, 0};
        EXPECT_EQ(isectRecordCompare(&a, &b), c.expect);
        EXPECT_EQ(isectRecordCompare(&b, &a), -c.expect);
    }
}

TEST(ChainIndex, NeverSkipsAnElementThatReachesTheRange) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<double> u(-50, 50);
    for (int round = 0; round < 30; round++) {
        std::vector<Vec2> p;
        double x = 0;
        for (int k = 0; k < 40; k++) {
            x += u(rng) * (round % 3 == 0 ? 0.1 : 1);
            p.push_back(Vec2{x, u(rng)});
        }
        auto c = chain(p);
        for (int mode : {1, 2}) {
            ChainIndex* ix = chainIndexCreate(c.data(), static_cast<int32_t>(c.size()), mode, 0);
            if (mode == 1) {
                ASSERT_NE(ix, nullptr);
            }
            if (ix) {
                EXPECT_LE(ix->chainCount, kChainIndexMaxChains);
                EXPECT_EQ(ix->chains[ix->chainCount - 1].last, static_cast<int32_t>(c.size()) - 1);
            }
            for (size_t e = 0; e < c.size(); e++) {
                const double lo = std::min(c[e].x1, c[e].x2), hi = std::max(c[e].x1, c[e].x2);
                for (int32_t from = 0; from < static_cast<int32_t>(c.size()); from++) {
                    int32_t r = chainIndexFindCrossing(&c[e], ix, from);
                    int32_t stop = r < 0 ? static_cast<int32_t>(c.size()) : r;
                    ASSERT_GE(stop, from);
                    for (int32_t k = from; k < stop; k++) {
                        bool reach = std::min(c[k].x1, c[k].x2) <= hi && std::max(c[k].x1, c[k].x2) >= lo;
                        ASSERT_FALSE(reach)
                            << "mode " << mode << " e " << e << " from " << from << " skipped " << k;
                    }
                }
            }
            chainIndexFree(ix);
        }
    }
}

TEST(ChainIndex, ModesAndSplit) {
    auto c = chain({{0, 0}, {5, 1}, {10, 0}, {4, -1}, {1, -3}});
    EXPECT_EQ(chainIndexCreate(c.data(), 4, 3, 0), nullptr);
    EXPECT_EQ(chainIndexCreate(c.data(), 0, 1, 0), nullptr);
    ChainIndex* ix = chainIndexCreate(c.data(), 4, 1, 0);
    ASSERT_NE(ix, nullptr);
    ASSERT_EQ(ix->chainCount, 2);
    EXPECT_EQ(ix->chains[0].last, 1);  // up to the element that reaches x = 10
    EXPECT_EQ(ix->chains[1].first, 2);
    EXPECT_EQ(ix->chains[1].direction, -1);
    chainIndexFree(ix);
    ix = chainIndexCreate(c.data(), 4, 2, 0);
    ASSERT_NE(ix, nullptr);
    EXPECT_EQ(ix->chainCount, 2);
    chainIndexFree(ix);
    // A missing index makes the caller test every element.
    EXPECT_EQ(chainIndexFindCrossing(&c[0], nullptr, 3), 3);
    // 31 monotone runs need more than 30 chains.
    std::vector<Vec2> zig;
    for (int k = 0; k < 32; k++) zig.push_back(Vec2{double(k % 2), double(k)});
    auto z = chain(zig);
    EXPECT_EQ(chainIndexCreate(z.data(), static_cast<int32_t>(z.size()), 2, 0), nullptr);
    chainIndexFree(nullptr);
}

// Element numbers beyond 16 bits: a run of 40000 unit elements, crossed near its end by the return.
TEST(ChainIndex, ChainsBeyondSixteenBitCounts) {
    const int32_t n = 40000;
    std::vector<Vec2> p;
    for (int32_t k = 0; k <= n; k++) p.push_back(Vec2{double(k), 0});
    p.push_back(Vec2{double(n), 5});
    p.push_back(Vec2{39000.5, 5});
    p.push_back(Vec2{39000.5, -5});
    auto c = chain(p);
    const int32_t m = static_cast<int32_t>(c.size());
    ChainIndex* ix = chainIndexCreate(c.data(), m, 1, 0);
    ASSERT_NE(ix, nullptr);
    EXPECT_EQ(ix->n, m);
    EXPECT_EQ(ix->chains[0].first, 0);
    EXPECT_EQ(ix->chains[ix->chainCount - 1].last, m - 1);
    const int32_t hit = chainIndexFindCrossing(&c[m - 1], ix, 0);
    EXPECT_GE(hit, 0);
    EXPECT_LE(hit, 39000);
    EXPECT_EQ(chainIndexFindCrossing(&c[m - 1], ix, 39000), 39000);
    const int32_t after = chainIndexFindCrossing(&c[m - 1], ix, 39001);
    EXPECT_GE(after, 39001);
    EXPECT_LE(after, n + 1);  // the return along y = 5 reaches x = 39000.5
    chainIndexFree(ix);

    auto t = selfIsect(c);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].i, 39001);
    EXPECT_EQ(t[0].j, m);
    EXPECT_NEAR(t[0].x, 39000.5, 1e-9);
    EXPECT_NEAR(t[0].y, 0, 1e-12);
    EXPECT_NEAR(t[0].t, 0.5, 1e-9);
}
