#include "surfaces/meshfiles/pointsets.h"

#include <gtest/gtest.h>

#include <map>

#include "surfaces/meshfiles/meshtest.h"

TEST(PointSets, Ranges) {
    PointSets* s = pointSetsCreate();
    ASSERT_NE(s, nullptr);
    const Vec3 a{1, 2, 3};
    const struct {
        int32_t set, point;
        int ok;
    } puts[] = {{2, 3, 1},        {-1, 1, 0}, {kPointSetsMaxSet + 1, 1, 0},
                {30000000, 1, 0}, {1, 0, 0},  {1, kPointSetsMaxPoint + 1, 0}};
    for (const auto& c : puts)
        EXPECT_EQ(pointSetsPut(s, c.set, c.point, &a), c.ok) << c.set << "/" << c.point;
    Vec3 out;
    EXPECT_EQ(pointSetsGet(s, 2, 1, &out), 1);  // unset points below the count are zero
    EXPECT_EQ(out.z, 0.0);
    for (const auto& miss : {std::pair{2, 4}, {2, 0}, {1, 1}, {3, 1}, {-1, 1}})
        EXPECT_EQ(pointSetsGet(s, miss.first, miss.second, &out), 0);
    for (const auto& [i, count] : {std::pair{5, 6}, {2, 6}, {6, 7}, {kPointSetsMaxSet, kPointSetsMaxSet + 1}})
        EXPECT_TRUE(pointSetsReserve(s, i) == 1 && s->count == count) << i;  // the count is the last + 1
    EXPECT_EQ(pointSetsReserve(s, kPointSetsMaxSet + 1), 0);
    pointSetsFree(s);
    for (int32_t j : {1, 17, 64, 65, 257, 2049, 5000}) {
        PointSet set{};
        ASSERT_EQ(pointSetsGrowPoints(&set, j), 1);
        EXPECT_GE(set.capacity, j);
        set.points[j - 1] = a;  // the room is there
        free(set.points);
    }
    // Growth by 16 below 64 points, by 64 below 256, by 256 below 2048, else by 2048; the new room
    // is zero.
    const struct {
        int32_t from, j, capacity;
    } growth[] = {{0, 1, 16},    {0, 17, 32},     {0, 64, 64},     {0, 65, 128},       {63, 64, 79},
                  {64, 65, 128}, {255, 256, 319}, {256, 257, 512}, {2047, 2048, 2303}, {2048, 2049, 4096}};
    for (const auto& g : growth) {
        PointSet set{};
        set.points = static_cast<Vec3*>(malloc(sizeof(Vec3) * (g.from + 1)));
        ASSERT_NE(set.points, nullptr);
        set.capacity = g.from;
        ASSERT_EQ(pointSetsGrowPoints(&set, g.j), 1);
        EXPECT_EQ(set.capacity, g.capacity) << g.from << " " << g.j;
        for (int32_t k = g.from; k < set.capacity; ++k) {
            const Vec3& p = set.points[k];
            ASSERT_TRUE(p.x == 0 && p.y == 0 && p.z == 0) << k;
        }
        free(set.points);
    }
}
