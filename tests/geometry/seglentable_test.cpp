#include "geometry/seglentable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

Plist* lineOf(const std::vector<double>& xs, const std::vector<int>& kinds) {
    Plist* l = plistCreate(static_cast<int32_t>(xs.size()), 0);
    for (size_t i = 0; i < xs.size(); ++i) {
        const Vec3 p{xs[i], 0, 0};
        plistAppend(l, double(i), &p, static_cast<uint16_t>(kinds[i] << 8), nullptr, 0);
    }
    return l;
}

SegLenTable* tableOf(const std::vector<double>& lengths) {
    SegLenTable* t = static_cast<SegLenTable*>(calloc(1, sizeof(SegLenTable)));
    t->capacity = static_cast<int32_t>(lengths.size()) + 1;
    t->entries = static_cast<SegLenEntry*>(calloc(static_cast<size_t>(t->capacity), sizeof(SegLenEntry)));
    for (double len : lengths) {
        const int32_t i = t->count++;
        t->entries[i] = SegLenEntry{len, i, i + 1};
    }
    return t;
}

bool sorted(const SegLenTable* t) {
    return std::is_sorted(t->entries, t->entries + t->count,
                          [](const SegLenEntry& a, const SegLenEntry& b) { return a.length < b.length; });
}

}  // namespace

TEST(SegLenTable, BuildSkipsSegmentsWithOtherKindsAndSorts) {
    //                  0  1  2  3  4  5   6
    Plist* l = lineOf({0, 3, 4, 6, 7, 12, 12.5}, {0, 1, 0, 2, 0, 4, 0});
    SegLenTable* t = segLenTableBuild(l, 0, 6);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->capacity, 7);
    ASSERT_EQ(t->count, 2);  // (2,3), (3,4) touch the link, (4,5), (5,6) the kind 4
    EXPECT_EQ(t->entries[0].length, 1);
    EXPECT_EQ(t->entries[0].i0, 1);
    EXPECT_EQ(t->entries[1].length, 3);
    EXPECT_EQ(t->entries[1].i1, 1);
    segLenTableFree(t);
    SegLenTable* part = segLenTableBuild(l, 1, 2);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->count, 1);
    segLenTableFree(part);
    EXPECT_EQ(segLenTableBuild(l, 3, 9), nullptr);
    EXPECT_EQ(segLenTableBuild(l, -1, 2), nullptr);
    plistFree(l);
    Plist* empty = plistCreate(4, 0);
    EXPECT_EQ(segLenTableBuild(empty, 0, 0), nullptr);
    plistFree(empty);
    segLenTableFree(nullptr);
}

TEST(SegLenTable, FindAndLowerBound) {
    SegLenTable* t = tableOf({1, 2, 2, 3, 5, 8});
    const struct {
        double length;
        int32_t i0, i1, found;
    } finds[] = {{2, 2, 3, 2}, {2, 1, 2, 1}, {8, 5, 6, 5}, {1, 0, 1, 0}, {3, 9, 9, -1}};
    for (const auto& c : finds) EXPECT_EQ(segLenTableFind(t, c.length, c.i0, c.i1), c.found) << c.i0;
    const struct {
        double length;
        int32_t bound;
    } bounds[] = {{0.5, 0}, {1, 1}, {2, 3}, {2.5, 3}, {4, 4}, {8, 6}, {9, 6}};
    for (const auto& c : bounds) EXPECT_EQ(segLenTableLowerBound(t, c.length), c.bound) << c.length;
    segLenTableFree(t);
    SegLenTable* empty = tableOf({});
    EXPECT_EQ(segLenTableLowerBound(empty, 3.0), 0);
    EXPECT_EQ(segLenTableFind(empty, 3.0, 0, 1), -1);
    segLenTableFree(empty);
    SegLenTable* two = tableOf({1, 5});
    EXPECT_EQ(segLenTableLowerBound(two, 0.5), 0);
    EXPECT_EQ(segLenTableLowerBound(two, 3), 1);
    segLenTableFree(two);
}

TEST(SegLenTable, MoveKeepsTheTableSorted) {
    const struct {
        int32_t from;
        double length;
        std::vector<double> after;
    } cases[] = {
        {1, 6, {1, 3, 4, 5, 6}}, {4, 2.5, {1, 2, 2.5, 3, 4}}, {2, 3.5, {1, 2, 3.5, 4, 5}},
        {0, 9, {2, 3, 4, 5, 9}}, {4, 0.5, {0.5, 1, 2, 3, 4}}, {2, 3, {1, 2, 3, 4, 5}},
    };
    for (const auto& c : cases) {
        SegLenTable* t = tableOf({1, 2, 3, 4, 5});
        ASSERT_NE(t, nullptr);
        const SegLenEntry e{c.length, 40, 41};
        EXPECT_EQ(segLenTableMove(t, c.from, segLenTableLowerBound(t, c.length), &e), 1);
        std::vector<double> got;
        for (int32_t i = 0; i < t->count; ++i) got.push_back(t->entries[i].length);
        EXPECT_EQ(got, c.after) << c.from << " " << c.length;
        EXPECT_GE(segLenTableFind(t, c.length, 40, 41), 0);
        segLenTableFree(t);
    }
    SegLenTable* t = tableOf({1, 2});
    const SegLenEntry e{1, 0, 0};
    EXPECT_EQ(segLenTableMove(t, 2, 0, &e), -1);
    EXPECT_EQ(segLenTableMove(t, 0, 3, &e), -1);
    segLenTableFree(t);

    std::mt19937 rng(99);
    std::uniform_real_distribution<double> u(0.0, 10.0);
    std::vector<double> lengths;
    for (int i = 0; i < 60; ++i) lengths.push_back(std::round(u(rng)));  // many ties
    std::sort(lengths.begin(), lengths.end());
    SegLenTable* r = tableOf(lengths);
    ASSERT_NE(r, nullptr);
    for (int round = 0; round < 500; ++round) {
        const int32_t from = static_cast<int32_t>(rng() % static_cast<uint32_t>(r->count));
        const SegLenEntry old = r->entries[from];
        ASSERT_GE(segLenTableFind(r, old.length, old.i0, old.i1), 0);
        const SegLenEntry moved{std::round(u(rng)), old.i0, old.i1};
        ASSERT_EQ(segLenTableMove(r, from, segLenTableLowerBound(r, moved.length), &moved), 1);
        ASSERT_TRUE(sorted(r));
        ASSERT_EQ(r->count, 60);
    }
    segLenTableFree(r);
}
