// Cut records: lists, sets, coverage, gaps and bottom raising.
#include "plunge/cutlist.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "memshort.h"
#include "plunge/profile2d.h"
#include "workfolder.h"

namespace {

Plist* pointsList(int n) {
    Plist* p = plistCreate(n, 1);
    for (int i = 0; p != nullptr && i < n; ++i) {
        const Vec3 q{double(i), 2.0 * i, 0.5};
        plistAppend(p, i, &q, 0, nullptr, 0);
    }
    return p;
}

}  // namespace

TEST(CutList, LineDistanceAgainstTheCrossProduct) {
    std::mt19937 rng(29);
    std::uniform_real_distribution<double> u(-50, 50);
    for (int k = 0; k < 500; ++k) {
        const Vec3 x{u(rng), u(rng), u(rng)}, s{u(rng), u(rng), u(rng)}, e{u(rng), u(rng), u(rng)};
        Vec3 foot;
        const double d = cutLineDistance(&x, &s, &e, &foot);
        const Vec3 se{e.x - s.x, e.y - s.y, e.z - s.z}, sx{x.x - s.x, x.y - s.y, x.z - s.z};
        Vec3 c;
        cross3D(&se, &sx, &c);
        EXPECT_NEAR(d, vecLen3D(&c) / vecLen3D(&se), 1e-9);
        EXPECT_NEAR(dist3D(&x, &foot), d, 1e-9);
    }
    // A cut without length measures to its top point, which is then the foot; the foot may be left out.
    const Vec3 x{4, 6, 3}, s{1, 2, 3}, e{1, 2, 3 + 5e-6}, far{1, 2, 13};
    Vec3 foot{9, 9, 9};
    EXPECT_DOUBLE_EQ(cutLineDistance(&x, &s, &e, &foot), 5.0);
    EXPECT_TRUE(foot.x == 1 && foot.y == 2 && foot.z == 3);
    EXPECT_DOUBLE_EQ(cutLineDistance(&x, &s, &e, nullptr), 5.0);
    EXPECT_DOUBLE_EQ(cutLineDistance(&x, &s, &far, nullptr), 5.0);
}

TEST(CutList, CopiesOwnTheirPointListsAndSetsGrow) {
    CutRecordList* list = idx5CutListCreate(1);
    ASSERT_NE(list, nullptr);
    const Vec3 t0{0, 0, 10}, b0{0, 0, 0}, t1{1, 0, 10}, b1{1, 0, 0}, t2{2, 0, 10}, b2{2, 0, 0};
    ASSERT_EQ(idx5CutListAdd(list, &t0, &b0, 1), 1);
    ASSERT_EQ(idx5CutListAdd(list, &t2, &b2, 3), 1);
    ASSERT_EQ(idx5CutListInsert(list, 1, &t1, &b1, 2), 1);
    EXPECT_EQ(idx5CutListInsert(list, 5, &t1, &b1, 2), -1);
    ASSERT_EQ(list->count, 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list->records[i].kind, i + 1);
    list->records[1].list1 = pointsList(4);
    list->records[2].list2 = pointsList(7);
    CutRecordList* copy = idx5CutListCopy(list);
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy->records[1].list1, nullptr);
    EXPECT_NE(copy->records[1].list1, list->records[1].list1);
    EXPECT_EQ(copy->records[2].list2->count, 7);
    EXPECT_DOUBLE_EQ(copy->records[2].list2->points[6].y, 12.0);
    idx5CutListReverse(copy);
    EXPECT_EQ(copy->records[0].kind, 3);
    CutListSet* set = cutListSetCreate(1);
    ASSERT_NE(set, nullptr);
    // The room doubles whenever an add finds the set full: 1, 2, 4, 4, 8.
    for (int k = 0; k < 5; ++k) {
        ASSERT_EQ(cutListSetAdd(set, list, k, 0.5 * k), 1);
        EXPECT_EQ(set->capacity, k == 0 ? 1 : k == 1 ? 2 : k < 4 ? 4 : 8) << k;
        EXPECT_EQ(set->keys[k], k);
        EXPECT_EQ(set->values[k], 0.5 * k);
    }
    EXPECT_EQ(set->count, 5);
    // Each owner frees its own point lists (a shared list would be freed twice here).
    idx5CutListFree(list);
    idx5CutListFree(copy);
    cutListSetFree(set);
}

TEST(CutList, RaiseBottomAndGap) {
    // Record 0 of list: a cut from z 10 down to 0 at the origin. Neighbours: active cuts beside it.
    auto single = [](double x, double top, double bottom, int active) {
        CutRecordList* l = idx5CutListCreate(1);
        const Vec3 t{x, 0, top}, b{x, 0, bottom};
        idx5CutListAdd(l, &t, &b, 0);
        l->records[0].active = active;
        return l;
    };
    struct Case {
        double nx, nBottom;
        int active;
        double m;
        int expected;
        double newBottom;
    };
    const Case cases[] = {
        {0.5, 4.0, 1, 0.0, 1, 4.0},     // lifted to the neighbour's bottom
        {0.5, 4.0, 0, 0.0, 0, 0.0},     // inactive neighbour: nothing
        {3.0, 4.0, 1, 0.0, 0, 0.0},     // neighbour farther than r
        {0.5, 4.0, 1, 5.0, 0, 0.0},     // lift below the minimum
        {0.5, 12.0, 1, 0.0, -2, 12.0},  // past the top
    };
    for (const Case& c : cases) {
        CutRecordList* mine = single(0.0, 10.0, 0.0, 0);
        CutRecordList* other = single(c.nx, 20.0, c.nBottom, c.active);
        CutListSet* set = cutListSetCreate(2);
        ASSERT_NE(set, nullptr);
        cutListSetAdd(set, other, 0, 0.0);
        EXPECT_EQ(cutRaiseBottom(mine, 0, set, 0, 1.0, c.m), c.expected);
        EXPECT_DOUBLE_EQ(mine->records[0].bottom.z, c.newBottom);
        EXPECT_DOUBLE_EQ(mine->records[0].bottom2.z, c.newBottom);
        // Gap: the largest distance from mine's samples to other's nearest axis line.
        EXPECT_NEAR(cutListGap(mine, other, 2, nullptr), c.nx, 1e-12);
        idx5CutListFree(mine);
        idx5CutListFree(other);
        cutListSetFree(set);
    }
    // The side test right at its 2, on a profile along r at z 0 (a point's parameter is its radius):
    // side 0 takes a neighbour line at most 2 beyond the cut at r 10, side 1 one at most 2 before it.
    Profile2D* flat = newProfile2D(2);
    ASSERT_NE(flat, nullptr);
    flat->points[0] = {0, 0}, flat->points[1] = {64, 0}, flat->count = 2;
    recomputeProfile2DParams(flat);
    const double sides[][3] = {{12, 0, 2}, {12.5, 0, 0}, {8, 1, 2}, {7.5, 1, 0}};  // r, side, gap
    for (const auto& c : sides) {
        CutRecordList *mine = single(10, 5, -5, 0), *other = single(c[0], 5, -5, 1);
        EXPECT_NEAR(cutListGap(mine, other, int32_t(c[1]), flat), c[2], 1e-9) << c[0];
        idx5CutListFree(mine);
        idx5CutListFree(other);
    }
    freeProfile2D(flat);
}

// The gap equals the plain scan over every sample and line (the first nearest line gives the foot):
// seeded lists with records too short for a direction and just long enough for one, with and without a
// profile, on every side.
TEST(CutList, GapEqualsThePlainScan) {
    std::mt19937 rng(9172);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Profile2D* profile = newProfile2D(40);
    ASSERT_NE(profile, nullptr);
    for (int i = 0; i < 40; ++i) profile->points[i] = {30.0 + 0.5 * i + u(rng), 40.0 - 0.6 * i};
    profile->count = 40;
    recomputeProfile2DParams(profile);
    auto randomList = [&](int n, double shift) {
        CutRecordList* l = idx5CutListCreate(n);
        for (int i = 0; l != nullptr && i < n; ++i) {
            const Vec3 top{30 + 5 * u(rng), 10 * u(rng), 30 + shift + 5 * u(rng)};
            const double len = i % 5 == 2 ? 0.0 : i % 5 == 3 ? 4e-6 : i % 5 == 4 ? 5e-5 : 15 * (1 + u(rng));
            const Vec3 bottom{top.x + len * u(rng), top.y + len * u(rng), top.z - len};
            idx5CutListAdd(l, &top, &bottom, 0);
        }
        return l;
    };
    auto counts = [&](const Vec3& x, const Vec3& foot, int side) {
        double px = 0, pf = 0;
        int32_t seg = 0;
        closestPointProfile2D(profile, &x, &px, &seg);
        closestPointProfile2D(profile, &foot, &pf, &seg);
        return side == 0 ? pf - 2.0 <= px : px <= pf + 2.0;
    };
    for (int round = 0; round < 60; ++round) {
        CutRecordList *a = randomList(1 + round % 7, 0.0),
                      *b = randomList(1 + round % 5, 6.0 * (round % 3) - 6.0);
        ASSERT_TRUE(a != nullptr && b != nullptr);
        for (int side = 0; side < 3; ++side) {
            double want = 0.0;
            for (const CutRecord* r = a->records; r < a->records + a->count; ++r) {
                const Vec3 d{r->bottom.x - r->top.x, r->bottom.y - r->top.y, r->bottom.z - r->top.z};
                const int n =
                    std::max(10, static_cast<int>(std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z)) + 1);
                for (int k = 0; k <= n; ++k) {
                    const double f = static_cast<double>(k) / n;
                    const Vec3 x{r->top.x + f * d.x, r->top.y + f * d.y, r->top.z + f * d.z};
                    double best = 1e300;
                    Vec3 foot{}, g;
                    for (const CutRecord* o = b->records; o < b->records + b->count; ++o)
                        if (const double dist = cutLineDistance(&x, &o->top, &o->bottom, &g); dist < best)
                            best = dist, foot = g;
                    if (best > want && (round % 2 == 0 || side == 2 || counts(x, foot, side))) want = best;
                }
            }
            EXPECT_EQ(cutListGap(a, b, side, round % 2 ? profile : nullptr), want) << round << " " << side;
        }
        idx5CutListFree(a);
        idx5CutListFree(b);
    }
    freeProfile2D(profile);
}

// Lists and sets refuse what is not there; an index outside 0..count is no place to insert at.
TEST(CutList, MissingArgumentsAreRefused) {
    const Vec3 top{0, 0, 10}, bottom{0, 0, 0};
    EXPECT_EQ(idx5CutListAdd(nullptr, &top, &bottom, 0), -1);
    EXPECT_EQ(idx5CutListCopy(nullptr), nullptr);
    CutRecordList* l = idx5CutListCreate(0);
    ASSERT_TRUE(l && l->capacity == 1);  // room for one record at least
    EXPECT_EQ(idx5CutListInsert(l, 0, nullptr, &bottom, 0), -1);
    EXPECT_EQ(idx5CutListInsert(l, 1, &top, &bottom, 0), -1);
    EXPECT_EQ(idx5CutListInsert(l, -1, &top, &bottom, 0), -1);
    EXPECT_EQ(idx5CutListInsert(l, 0, &top, &bottom, 0), 1);
    EXPECT_EQ(idx5CutListAdd(l, &top, &bottom, 0), 1);
    EXPECT_EQ(l->count, 2);
    EXPECT_EQ(cutListCovers(nullptr, &top, &bottom, 1), 1);
    EXPECT_EQ(cutListGap(l, nullptr, 0, nullptr), 0.0);
    CutListSet* set = cutListSetCreate(1);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(cutListSetAdd(set, nullptr, 0, 0), -1);
    EXPECT_EQ(cutListSetAdd(nullptr, l, 0, 0), -1);
    EXPECT_EQ(cutRaiseBottom(l, 5, set, 0, 1, 1), 0);  // bad indices leave it unchanged
    EXPECT_EQ(cutRaiseBottom(nullptr, 0, set, 0, 1, 1), 0);
    EXPECT_EQ(cutRaiseBottom(l, 0, set, 0, 1, 1), 0);  // the set has no list 0
    // Full at a room whose double no int32 holds: refused before any memory is asked for.
    const int32_t huge = INT32_MAX / 2 + 1, count = l->count, room = l->capacity;
    l->count = l->capacity = set->count = set->capacity = huge;
    EXPECT_EQ(idx5CutListAdd(l, &top, &bottom, 0), -1);
    EXPECT_EQ(cutListSetAdd(set, l, 0, 0), -1);
    EXPECT_TRUE(l->capacity == huge && set->capacity == huge);
    l->count = count, l->capacity = room, set->count = 0, set->capacity = 1;
    cutListSetFree(set);
    idx5CutListFree(l);
    cutListSetFree(nullptr);
    idx5CutListFree(nullptr);
}

// Seeded inserts at random places against a plain vector of the same records: order, ends, the unit axis
// from bottom to top (none for a cut without length) and the fields a new record starts with.
TEST(CutList, InsertsKeepOrderEndsAndUnitAxis) {
    std::mt19937 rng(4711);
    std::uniform_real_distribution<double> u(-20, 20);
    CutRecordList* list = idx5CutListCreate(1);
    ASSERT_NE(list, nullptr);
    std::vector<std::pair<Vec3, Vec3>> model;
    for (int k = 0; k < 40; ++k) {
        const Vec3 top{u(rng), u(rng), u(rng)};
        const Vec3 bottom = k % 7 == 3 ? top : Vec3{u(rng), u(rng), u(rng)};
        const int32_t at = static_cast<int32_t>(rng() % static_cast<unsigned>(list->count + 1));
        ASSERT_EQ(idx5CutListInsert(list, at, &top, &bottom, k), 1);
        model.insert(model.begin() + at, {top, bottom});
        EXPECT_GE(list->capacity, list->count);
    }
    ASSERT_EQ(list->count, 40);
    EXPECT_EQ(list->capacity, 64);
    for (int32_t i = 0; i < list->count; ++i) {
        const CutRecord& r = list->records[i];
        const auto& [top, bottom] = model[static_cast<size_t>(i)];
        EXPECT_EQ(std::memcmp(&r.top, &top, sizeof top), 0) << i;
        EXPECT_EQ(std::memcmp(&r.top2, &top, sizeof top), 0) << i;
        EXPECT_EQ(std::memcmp(&r.top3, &top, sizeof top), 0) << i;
        EXPECT_EQ(std::memcmp(&r.bottom, &bottom, sizeof bottom), 0) << i;
        EXPECT_EQ(std::memcmp(&r.bottom2, &bottom, sizeof bottom), 0) << i;
        const double len = dist3D(&top, &bottom);
        const Vec3 want =
            len > 0 ? Vec3{(top.x - bottom.x) / len, (top.y - bottom.y) / len, (top.z - bottom.z) / len}
                    : Vec3{0, 0, 0};
        EXPECT_NEAR(dist3D(&r.axis, &want), 0.0, 1e-12) << i;
        EXPECT_TRUE(r.vector2.x == 0 && r.vector2.y == 0 && r.vector2.z == 1) << i;
        EXPECT_TRUE(r.list1 == nullptr && r.list2 == nullptr && r.active == 0 && r.mark == 0 && r.value == 0)
            << i;
    }
    idx5CutListFree(list);
}

// A copy's point lists hold every field of the original's (and no vectors where it has none), and a copy
// of an empty list keeps the capacity.
TEST(CutList, CopiedPointListsMatchFieldByField) {
    CutRecordList* list = idx5CutListCreate(5);
    ASSERT_NE(list, nullptr);
    const Vec3 t{0, 0, 10}, b{0, 0, 0};
    ASSERT_EQ(idx5CutListAdd(list, &t, &b, 0), 1);
    Plist* with = plistCreate(9, 1);
    Plist* without = plistCreate(6, 0);
    ASSERT_TRUE(with && without);
    for (int i = 0; i < 5; ++i) {
        const Vec3 p{1.0 * i, -2.0 * i, 0.25 * i}, v{0.5, -0.5, 1.0 * i};
        plistAppend(with, 0.5 * i, &p, static_cast<uint16_t>(i << 8 | i), &v, static_cast<uint8_t>(7 + i));
        plistAppend(without, 2.0 * i, &p, static_cast<uint16_t>(i), nullptr, 0);
    }
    with->direction = -1, with->reserved = 17;
    without->direction = 3, without->reserved = -4;
    list->records[0].list1 = with;
    list->records[0].list2 = without;
    CutRecordList* copy = idx5CutListCopy(list);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->capacity, 5);
    for (const auto& [src, dst] :
         {std::pair{with, copy->records[0].list1}, {without, copy->records[0].list2}}) {
        ASSERT_NE(dst, nullptr);
        EXPECT_NE(dst, src);
        ASSERT_EQ(dst->count, src->count);
        const size_t n = static_cast<size_t>(src->count);
        EXPECT_EQ(dst->direction, src->direction);
        EXPECT_EQ(dst->reserved, src->reserved);
        EXPECT_EQ(std::memcmp(dst->points, src->points, n * sizeof(Vec3)), 0);
        EXPECT_EQ(std::memcmp(dst->parameters, src->parameters, n * sizeof(double)), 0);
        EXPECT_EQ(std::memcmp(dst->flags, src->flags, n * sizeof(uint16_t)), 0);
        ASSERT_EQ(dst->vectors != nullptr, src->vectors != nullptr);
        if (src->vectors != nullptr) {
            EXPECT_EQ(std::memcmp(dst->vectors, src->vectors, n * sizeof(Vec3)), 0);
            EXPECT_EQ(std::memcmp(dst->bytes, src->bytes, n), 0);
        }
    }
    idx5CutListFree(copy);
    idx5CutListFree(list);
}

// Vertical cut lines at the samples of a P-Q 30.5 long (31 steps: one per whole unit of length and one)
// cover it within a hair; without one, or with all of them exactly r away, they do not.
// Cut lines at n equal steps along P-Q (one skipped, all moved off it): a segment is sampled every unit of
// length, and at eleven points at least (a missing line at 0.5 of 5 falls out; six would not see it).
TEST(CutList, CoverageSamplesEveryUnitOfLengthAndAtLeastElevenPoints) {
    struct Case {
        double length;
        int n, skip;
        double off, r;
        int expected;
    } cases[] = {{5, 10, -1, 0, 0.01, 1},     {5, 10, 1, 0, 0.01, 0},
                 {30.5, 31, -1, 0, 1e-9, 1},  {30.5, 31, 17, 0, 1e-9, 0},
                 {30.5, 31, 0, 0, 1e-9, 0},   {30.5, 31, 31, 0, 1e-9, 0},
                 {30.5, 31, -1, 0.5, 0.5, 0}, {30.5, 31, -1, 0.5, 0.5 + 1e-9, 1}};
    for (const Case& c : cases) {
        const Vec3 p{0, 0, 0}, q{c.length, 0, 0};
        CutRecordList* list = idx5CutListCreate(4);
        ASSERT_NE(list, nullptr);
        for (int k = 0; k <= c.n; ++k) {
            if (k == c.skip) continue;
            const double x = c.length * k / c.n;
            const Vec3 top{x, c.off, 5}, bottom{x, c.off, -5};
            ASSERT_EQ(idx5CutListAdd(list, &top, &bottom, 0), 1);
        }
        EXPECT_EQ(cutListCovers(list, &p, &q, c.r), c.expected) << c.length << " " << c.skip << " " << c.off;
        idx5CutListFree(list);
    }
    const Vec3 p{0, 0, 0}, q{5, 0, 0};
    EXPECT_EQ(cutListCovers(nullptr, &p, &q, 1.0), 1);
    CutRecordList* empty = idx5CutListCreate(3);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(cutListCovers(empty, &p, &q, 100.0), 0);
    idx5CutListFree(empty);
}

// A vertical cut at the origin among seeded sets of lists, their values on a half-unit grid so that
// distances and heights land exactly on the limits; every other scene turned as a whole into a slanted
// frame (its cases on a limit left out there): the bottom rises to the lowest bottom of an active cut
// within r of its line in the lists whose values lie within 3 r of list j's, when that is more than m.
TEST(CutList, RaiseBottomAgainstTheNeighbourScan) {
    std::mt19937 rng(5150);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const double r = 0.5, len = 10.0;
    // A turn by 0.7 about (1, 2, 3) / sqrt(14), the same for every point of a slanted scene.
    const Vec3 k{1 / std::sqrt(14.0), 2 / std::sqrt(14.0), 3 / std::sqrt(14.0)};
    const double c = std::cos(0.7), sn = std::sin(0.7);
    auto turn = [&](const Vec3& v, bool slanted) {
        if (!slanted) return v;
        Vec3 kxv;
        cross3D(&k, &v, &kxv);
        const double kv = vecDot3D(&k, &v) * (1 - c);
        return Vec3{v.x * c + kxv.x * sn + k.x * kv, v.y * c + kxv.y * sn + k.y * kv,
                    v.z * c + kxv.z * sn + k.z * kv};
    };
    int raised = 0, past = 0, kept = 0;
    for (int round = 0; round < 300; ++round) {
        const bool slanted = round % 2 == 1;
        bool onLimit = false;
        const int lists = 1 + pick(6);
        CutListSet* set = cutListSetCreate(1);
        ASSERT_NE(set, nullptr);
        double value = 0.5 * pick(4);
        std::vector<double> values;
        std::vector<std::vector<CutRecord>> cuts;
        for (int k = 0; k < lists; ++k) {
            CutRecordList* l = idx5CutListCreate(1);
            ASSERT_NE(l, nullptr);
            const int n = pick(4);
            Vec3 bottomOf[4];
            for (int i = 0; i < n; ++i) {
                // Bottoms on a quarter-unit grid off the line, from 2 under the bottom to 4 over the top.
                const Vec3 bottom{0.25 * (pick(7) - 3), 0.25 * (pick(5) - 2), 0.5 * (pick(33) - 4)};
                const Vec3 top = turn({bottom.x, bottom.y, bottom.z + 5}, slanted),
                           low = turn(bottom, slanted);
                bottomOf[i] = bottom;
                ASSERT_EQ(idx5CutListAdd(l, &top, &low, 0), 1);
                l->records[i].active = pick(4) != 0;
            }
            ASSERT_EQ(cutListSetAdd(set, l, k, value), 1);
            values.push_back(value);
            cuts.emplace_back(l->records, l->records + l->count);
            for (int i = 0; i < n; ++i) cuts.back()[static_cast<size_t>(i)].bottom = bottomOf[i];
            idx5CutListFree(l);
            value += 0.5 * (1 + pick(4));
        }
        const int j = pick(lists);
        double lowest = INFINITY;
        for (int k = 0; k < lists; ++k) {
            if (std::fabs(values[k] - values[j]) > 3 * r) continue;
            for (const CutRecord& o : cuts[k])
                if (o.active) {
                    onLimit = onLimit || std::fabs(std::hypot(o.bottom.x, o.bottom.y) - r) < 1e-6;
                    if (std::hypot(o.bottom.x, o.bottom.y) <= r) lowest = std::min(lowest, o.bottom.z);
                }
        }
        const double h = std::isfinite(lowest) ? lowest : 0.0;
        // The minimum lift is at times the very lift found.
        const double m = round % 3 == 0 ? std::max(h, 0.0) : 0.5 * pick(8);
        const int want = h < m + 1e-5 ? 0 : h > len + 1e-5 ? -2 : 1;
        onLimit = slanted && (onLimit || std::fabs(h - m) < 1e-6 || std::fabs(h - len) < 1e-6);
        CutRecordList* mine = idx5CutListCreate(1);
        const Vec3 top = turn({0, 0, len}, slanted), bottom{0, 0, 0};
        ASSERT_EQ(idx5CutListAdd(mine, &top, &bottom, 0), 1);
        const int rc = cutRaiseBottom(mine, 0, set, j, r, m);
        const Vec3 at = turn({0, 0, want == 0 ? 0.0 : h}, slanted);
        if (!onLimit) {
            EXPECT_EQ(rc, want) << round;
            for (const Vec3& p : {mine->records[0].bottom, mine->records[0].bottom2})
                EXPECT_LE(dist3D(&p, &at), slanted ? 1e-9 : 0.0) << round << " " << p.z << " " << at.z;
        }
        EXPECT_EQ(dist3D(&mine->records[0].top, &top), 0.0);
        raised += want == 1, past += want == -2, kept += want == 0;
        idx5CutListFree(mine);
        cutListSetFree(set);
    }
    EXPECT_GT(raised, 40);
    EXPECT_GT(past, 15);
    EXPECT_GT(kept, 40);
}

namespace {

// Lists grown from one slot by adds and inserts, a record with a point list, a copy and a set grown from
// one slot. A failure must answer exactly -1 (or null); any other answer is recorded, to differ from the
// whole run's.
AllocMade grownCutLists() {
    std::vector<double> v;
    v.reserve(4096);
    CutRecordList* list = idx5CutListCreate(0);
    if (list == nullptr) return std::nullopt;
    int rc = 1;
    for (int k = 0; rc == 1 && k < 6; ++k) {
        const Vec3 top{double(k), 1, 10}, bottom{double(k), 1, 0};
        rc = k % 2 ? idx5CutListInsert(list, 0, &top, &bottom, k) : idx5CutListAdd(list, &top, &bottom, k);
    }
    if (rc == 1) list->records[2].list1 = pointsList(5);
    CutRecordList* copy = rc == 1 && list->records[2].list1 ? idx5CutListCopy(list) : nullptr;
    CutListSet* set = copy ? cutListSetCreate(0) : nullptr;
    for (int k = 0; set != nullptr && rc == 1 && k < 3; ++k)
        rc = cutListSetAdd(set, k % 2 ? copy : list, k, 0.5 * k);
    if (rc != 1 && rc != -1) v.push_back(1000 + rc);
    const bool ok = set != nullptr && rc == 1;
    for (int32_t j = 0; ok && j < set->count; ++j) {
        const CutRecordList* l = set->lists[j];
        v.insert(v.end(), {double(set->keys[j]), set->values[j], double(l->count)});
        for (int32_t i = 0; i < l->count; ++i)
            v.insert(v.end(), {l->records[i].top.x, double(l->records[i].kind),
                               l->records[i].list1 ? l->records[i].list1->points[4].y : -1.0});
    }
    cutListSetFree(set);
    idx5CutListFree(copy);
    idx5CutListFree(list);
    return ok || (rc != 1 && rc != -1) ? AllocMade(v) : std::nullopt;
}

}  // namespace

TEST(CutList, EveryFailedAllocationAnswersMinusOneOrChangesNothing) {
    failEachAllocation("grown cut lists", grownCutLists);
}
