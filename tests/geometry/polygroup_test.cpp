#include "geometry/polygroup.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "heapbytes.h"

TEST(PolyGroup, FreeReleasesEveryArray) {
    if (!heapBytesCounted()) GTEST_SKIP() << "no exact heap count in this build";
    const size_t before = heapBytesInUse();
    PolyGroup* g = static_cast<PolyGroup*>(std::calloc(1, sizeof(PolyGroup)));
    ASSERT_NE(g, nullptr);
    g->count = 2;
    g->ids = static_cast<int32_t*>(std::calloc(2, sizeof(int32_t)));
    g->lines = static_cast<PolyGroupLine*>(std::calloc(2, sizeof(PolyGroupLine)));
    g->lines[0].count = 3;
    g->lines[0].points = static_cast<Vec2*>(std::calloc(3, sizeof(Vec2)));
    g->lines[0].z = static_cast<double*>(std::calloc(3, sizeof(double)));
    const size_t built = heapBytesInUse();
    polyGroupFree(g);
    const size_t after = heapBytesInUse();
    EXPECT_GT(built, before);
    EXPECT_EQ(after, before);
    polyGroupFree(nullptr);
}
