#include "surfaces/meshfiles/pointsets.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "surfaces/meshfiles/meshtest.h"

TEST(PointSets, PutGetAndRangesTable) {
    PointSets* s = pointSetsCreate();
    ASSERT_NE(s, nullptr);
    const Vec3 a{1, 2, 3}, b{4, 5, 6};
    EXPECT_EQ(pointSetsPut(s, 2, 3, &a), 1);
    EXPECT_EQ(pointSetsPut(s, 0, 1, &b), 1);
    EXPECT_EQ(s->count, 3);
    EXPECT_EQ(s->capacity, 16);
    const struct {
        int32_t set, point;
        int ok;
        Vec3 value;
    } cases[] = {
        {2, 3, 1, a}, {2, 1, 1, {0, 0, 0}}, {2, 4, 0, {}},  {2, 0, 0, {}},  {1, 1, 0, {}},  // set 1 is empty
        {0, 1, 1, b}, {3, 1, 0, {}},        {-1, 1, 0, {}}, {0, -5, 0, {}},
    };
    for (const auto& c : cases) {
        Vec3 out{-9, -9, -9};
        EXPECT_EQ(pointSetsGet(s, c.set, c.point, &out), c.ok) << c.set << "/" << c.point;
        if (c.ok) {
            EXPECT_EQ(out.x, c.value.x);
            EXPECT_EQ(out.z, c.value.z);
        }
    }
    EXPECT_EQ(pointSetsPut(s, -1, 1, &a), 0);
    EXPECT_EQ(pointSetsPut(s, kPointSetsMaxSet + 1, 1, &a), 0);
    EXPECT_EQ(pointSetsPut(s, 30000000, 1, &a), 0);
    EXPECT_EQ(pointSetsPut(s, 1, 0, &a), 0);
    EXPECT_EQ(pointSetsPut(s, 1, kPointSetsMaxPoint + 1, &a), 0);
    EXPECT_EQ(pointSetsReserve(s, 40), 1);
    EXPECT_EQ(s->capacity, 48);
    pointSetsFree(s);
}

TEST(PointSets, PointArraysGrowInTheirSteps) {
    // The capacity reached by growing one point at a time, from the step rule itself.
    auto stepped = [](int32_t j) {
        int32_t cap = 0;
        while (cap < j) cap += cap < 64 ? 16 : cap < 256 ? 64 : cap < 2048 ? 256 : 2048;
        return cap;
    };
    const struct {
        int32_t j, capacity;
    } cases[] = {{1, 16},    {16, 16},   {17, 32},     {64, 64},    {65, 128},
                 {256, 256}, {257, 512}, {2049, 4096}, {5000, 6144}};
    for (const auto& c : cases) {
        PointSet set{};
        ASSERT_EQ(pointSetsGrowPoints(&set, c.j), 1);
        EXPECT_EQ(set.capacity, c.capacity) << c.j;
        EXPECT_EQ(set.capacity, stepped(c.j));
        for (int32_t i = 0; i < set.capacity; ++i) EXPECT_EQ(set.points[i].y, 0.0);
        free(set.points);
    }
}

TEST(PointSets, SeededAgainstAMap) {
    for (uint32_t seed = 1; seed <= 5; ++seed) {
        Rng rng{seed};
        PointSets* s = pointSetsCreate();
        ASSERT_NE(s, nullptr);
        std::map<std::pair<int, int>, Vec3> oracle;
        for (int k = 0; k < 2000; ++k) {
            const int i = rngStep(&rng) % 40, j = 1 + rngStep(&rng) % 3000;
            const Vec3 p{seededIn(&rng, -1, 1), double(i), double(j)};
            ASSERT_EQ(pointSetsPut(s, i, j, &p), 1);
            oracle[{i, j}] = p;
        }
        for (const auto& [key, p] : oracle) {
            Vec3 out;
            ASSERT_EQ(pointSetsGet(s, key.first, key.second, &out), 1);
            EXPECT_EQ(out.x, p.x);
        }
        pointSetsFree(s);
    }
}
