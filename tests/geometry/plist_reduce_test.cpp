#include "geometry/plist_reduce.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

struct ListFree {
    void operator()(Plist* l) const { plistFree(l); }
};
using ListPtr = std::unique_ptr<Plist, ListFree>;

struct Pt {
    double x, y;
    int kind;
    int low;
};

ListPtr makePath(const std::vector<Pt>& pts) {
    ListPtr l(plistCreate(static_cast<int32_t>(pts.size()), 0));
    for (size_t i = 0; i < pts.size(); ++i) {
        const Vec3 p{pts[i].x, pts[i].y, 0};
        plistAppend(l.get(), double(i), &p, static_cast<uint16_t>(pts[i].kind << 8 | pts[i].low), nullptr, 0);
    }
    return l;
}

std::vector<int> kindsOf(const Plist* l) {
    std::vector<int> k;
    for (int32_t i = 0; i < l->count; ++i) k.push_back(l->flags[i] >> 8);
    return k;
}

// Each mode with the state it needs.
struct ModeGuard {
    explicit ModeGuard(int32_t mode) {
        plistReduceResetState();
        plistReduceSetMode(mode);
    }
    ~ModeGuard() { plistReduceResetState(); }
};

const int32_t kModes[] = {1, 2, 3};

// Every point marked between two kept ones lies within tol2 of their chord, which is at most tol1.
void expectWithinTolerances(const Plist* l, double tol1, double tol2) {
    int32_t s = -1;
    for (int32_t t = 0; t < l->count; ++t) {
        if ((l->flags[t] >> 8) == kPointMarked) continue;
        if (s >= 0 && t > s + 1) {
            const Vec3 &a = l->points[s], &b = l->points[t];
            const double chord = dist3D(&a, &b);
            ASSERT_LE(chord, tol1 + 1e-12) << s << "-" << t;
            const Vec3 u{(b.x - a.x) / chord, (b.y - a.y) / chord, (b.z - a.z) / chord};
            for (int32_t k = s + 1; k < t; ++k) {
                const Vec3 w{l->points[k].x - a.x, l->points[k].y - a.y, l->points[k].z - a.z};
                ASSERT_LE(crossLen3D(&w, &u), tol2 + 1e-12) << k;
            }
        }
        s = t;
    }
}

}  // namespace

TEST(PlistReduce, SmallCasesInEveryMode) {
    const struct {
        const char* name;
        std::vector<Pt> pts;
        double tol1, tol2;
        std::vector<int> kinds;
    } cases[] = {
        {"collinear middle goes", {{0, 0, 0, 0}, {0.1, 0, 0, 0}, {0.2, 0, 0, 0}}, 1, 0.01, {0, 3, 0}},
        {"kind 1 may go", {{0, 0, 0, 0}, {0.1, 0, 1, 0}, {0.2, 0, 0, 0}}, 1, 0.01, {0, 3, 0}},
        {"off the chord stays", {{0, 0, 0, 0}, {0.1, 0.02, 0, 0}, {0.2, 0, 0, 0}}, 1, 0.01, {0, 0, 0}},
        {"kept kind 1 stays kind 1", {{0, 0, 0, 0}, {0.1, 0.02, 1, 0}, {0.2, 0, 0, 0}}, 1, 0.01, {0, 1, 0}},
        {"chord longer than tol1", {{0, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}}, 1, 0.01, {0, 0, 0}},
        {"doubling back", {{0, 0, 0, 0}, {0.001, 0.005, 0, 0}, {0.5, 0, 0, 0}}, 1, 0.01, {0, 0, 0}},
        {"link and its neighbours stay",
         {{0, 0, 0, 0}, {0.1, 0, 0, 0}, {0.2, 0, 2, 0}, {0.3, 0, 0, 0}, {0.4, 0, 0, 0}},
         1,
         0.01,
         {0, 0, 2, 0, 0}},
        {"sub-code 100 is not mixed", {{0, 0, 0, 100}, {0.1, 0, 0, 0}, {0.2, 0, 0, 0}}, 1, 0.01, {0, 0, 0}},
        {"sub-code 100 among itself",
         {{0, 0, 0, 100}, {0.1, 0, 0, 100}, {0.2, 0, 0, 100}},
         1,
         0.01,
         {0, 3, 0}},
        {"old marks are cleared first", {{0, 0, 3, 0}, {1, 0, 0, 0}, {3, 0, 3, 0}}, 1, 0.01, {0, 0, 0}},
    };
    for (const int32_t mode : kModes) {
        ModeGuard guard(mode);
        for (const auto& c : cases) {
            ListPtr l = makePath(c.pts);
            plistReducePoints(l.get(), c.tol1, c.tol2);
            EXPECT_EQ(kindsOf(l.get()), c.kinds) << c.name << ", mode " << mode;
            EXPECT_EQ(l->count, static_cast<int32_t>(c.pts.size()));
        }
    }
}

TEST(PlistReduce, ChordDeviationAndShortestSegment) {
    ListPtr l = makePath(
        {{0, 0, 0, 0}, {1, 0.5, 0, 0}, {2, -0.25, 0, 0}, {4, 0, 0, 0}, {4.1, 0, 2, 0}, {4.15, 0, 0, 0}});
    EXPECT_DOUBLE_EQ(plistChordDeviation(l.get(), 0, 3), 0.5);
    EXPECT_DOUBLE_EQ(plistChordDeviation(l.get(), 0, 1), 0.0);
    ListPtr off = makePath({{0, 0, 0, 0}, {0.1, 0.5, 0, 0}, {1, 0, 0, 0}});
    EXPECT_DOUBLE_EQ(plistChordDeviation(off.get(), 0, 2), 100000.0);  // more than 60 degrees off
    double len = 0;
    int32_t i = -1, j = -1;
    EXPECT_EQ(plistShortestSegment(l.get(), &len, &i, &j), 1);
    EXPECT_EQ(i, 3);  // the pair (3, 5) skips the link at 4
    EXPECT_EQ(j, 5);
    EXPECT_NEAR(len, 0.15, 1e-12);
    ListPtr one = makePath({{0, 0, 0, 0}});
    EXPECT_EQ(plistShortestSegment(one.get(), &len, &i, &j), 0);
    ListPtr kept = makePath({{0, 0, 11, 0}, {1, 0, 11, 0}});
    EXPECT_EQ(plistShortestSegment(kept.get(), &len, &i, &j), 0);
}

TEST(PlistReduce, WindowsOfLongListsKeepTheirBorders) {
    ModeGuard guard(1);
    const int32_t n = 25000;
    ListPtr l(plistCreate(n, 0));
    for (int32_t i = 0; i < n; ++i) {
        const Vec3 p{0.1 * i, 0, 0};
        const int kind = i % 997 == 500 ? 2 : 0;
        ASSERT_EQ(plistAppend(l.get(), 0.1 * i, &p, static_cast<uint16_t>(kind << 8), nullptr, 0), i);
    }
    plistReducePoints(l.get(), 1.0, 0.01);
    ASSERT_EQ(l->count, n);
    int marked = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int kind = l->flags[i] >> 8;
        ASSERT_NE(kind, kPointKeep) << i;
        if (i % 997 == 500) {
            ASSERT_EQ(kind, kPointLink) << i;
        }
        if (kind == kPointMarked) ++marked;
    }
    EXPECT_NE(l->flags[10000] >> 8, kPointMarked);
    EXPECT_NE(l->flags[20000] >> 8, kPointMarked);
    EXPECT_GT(marked, n * 8 / 10);  // chords of up to ten steps replace the rest
    expectWithinTolerances(l.get(), 1.0, 0.01);
}

TEST(PlistReduce, RandomThinningSkipsWhenTheGeneratorSaysSo) {
    ModeGuard guard(3);
    std::vector<Pt> pts;
    for (int i = 0; i < 200; ++i) pts.push_back({0.1 * i, 0.001 * (i % 2), 0, 0});
    ListPtr plain = makePath(pts);
    plistReducePoints(plain.get(), 1.0, 0.01);
    const std::vector<int> base = kindsOf(plain.get());

    struct Source {
        uint32_t value;
        int calls;
    };
    const auto fn = [](void* user) {
        auto* s = static_cast<Source*>(user);
        ++s->calls;
        return s->value;
    };
    plistReduceSetRandomSkip(1);
    Source never{7, 0};
    plistReduceSetRandom(fn, &never);
    ListPtr same = makePath(pts);
    plistReducePoints(same.get(), 1.0, 0.01);
    EXPECT_EQ(kindsOf(same.get()), base);
    EXPECT_GT(never.calls, 0);

    Source always{30, 0};
    plistReduceSetRandom(fn, &always);
    ListPtr none = makePath(pts);
    plistReducePoints(none.get(), 1.0, 0.01);
    for (int k : kindsOf(none.get())) EXPECT_EQ(k, 0);

    // The built-in generator: the same seed gives the same marks, and it skips some.
    plistReduceSetRandom(nullptr, nullptr);
    std::vector<int> runs[2];
    for (auto& run : runs) {
        plistReduceSeedRandom(12345);
        ListPtr l = makePath(pts);
        plistReducePoints(l.get(), 1.0, 0.01);
        run = kindsOf(l.get());
        expectWithinTolerances(l.get(), 1.0, 0.01);
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_NE(runs[0], base);
}

TEST(PlistReduce, RandomPathsStayWithinTolerances) {
    std::mt19937 rng(4242);
    std::normal_distribution<double> wobble(0.0, 0.004);
    std::uniform_real_distribution<double> step(0.01, 0.3);
    for (const int32_t mode : kModes) {
        ModeGuard guard(mode);
        for (int round = 0; round < 20; ++round) {
            std::vector<Pt> pts;
            double x = 0, heading = 0;
            for (int i = 0; i < 300; ++i) {
                heading += wobble(rng) * 20;
                x += step(rng);
                const int r = static_cast<int>(rng() % 40);
                pts.push_back({x * std::cos(heading), x * std::sin(heading) + wobble(rng),
                               r == 0   ? 2
                               : r == 1 ? 10
                               : r == 2 ? 1
                                        : 0,
                               r == 3 ? 100 : 0});
            }
            ListPtr l = makePath(pts);
            plistReducePoints(l.get(), 1.0, 0.01);
            ASSERT_EQ(l->count, 300);
            for (int32_t i = 0; i < l->count; ++i) {
                const int kind = l->flags[i] >> 8;
                ASSERT_TRUE(kind == pts[i].kind || kind == kPointMarked) << i << " mode " << mode;
                if (pts[i].kind == 2 || pts[i].kind == 10) {
                    ASSERT_EQ(kind, pts[i].kind);
                }
                ASSERT_EQ(l->flags[i] & 0xFF, pts[i].low);
            }
            expectWithinTolerances(l.get(), 1.0, 0.01);
        }
    }
}
