#include "kernel/ncout/pointarray.h"

#include <gtest/gtest.h>

TEST(PointArray, GrowsByAThousandAndKeepsThePoints) {
    PointArray* a = pointArrayCreate(2);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->capacity, 2);
    for (int i = 0; i < 3; ++i) {
        const double p[3] = {1.0 * i, 2.0 * i, 3.0 * i};
        ASSERT_EQ(pointArrayAppend(a, p), 1);
    }
    EXPECT_EQ(a->count, 3);
    EXPECT_EQ(a->capacity, 1002);
    EXPECT_EQ(a->data[3 * 2 + 2], 6.0);
    EXPECT_EQ(pointArrayAppend(a, nullptr), -1);
    EXPECT_EQ(a->count, 3);
    pointArrayFree(a);

    PointArray* b = pointArrayCreate(0);
    EXPECT_EQ(b->capacity, 1);
    pointArrayFree(b);
    const double p[3] = {0, 0, 0};
    EXPECT_EQ(pointArrayAppend(nullptr, p), -1);
    PointArray noData = {4, 0, nullptr};
    EXPECT_EQ(pointArrayAppend(&noData, p), -1);
    pointArrayFree(nullptr);
}
