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
    pointSetsFree(s);
    for (int32_t j : {1, 17, 64, 65, 257, 2049, 5000}) {
        PointSet set{};
        ASSERT_EQ(pointSetsGrowPoints(&set, j), 1);
        EXPECT_GE(set.capacity, j);
        set.points[j - 1] = a;  // the room is there
        free(set.points);
    }
}
