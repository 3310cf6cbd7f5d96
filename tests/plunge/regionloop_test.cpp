#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "geometry/plist.h"
#include "kernel/base/rng.h"
#include "plunge/plungerun.h"

namespace {

// Lists of random kinds (0 to 3); the answers are counted here from the kinds alone.
Plist* kindList(const std::vector<int>& kinds) {
    Plist* l = plistCreate(16, 1);
    for (size_t i = 0; l && i < kinds.size(); ++i) {
        const Vec3 p{static_cast<double>(i), 0.0, 0.0};
        plistAppend(l, static_cast<double>(i), &p, static_cast<uint16_t>(kinds[i] << 8), nullptr, 0);
    }
    return l;
}

int cutCount(const std::vector<int>& kinds) {
    int n = 0;
    for (int k : kinds) n += k != 2 && k != 3;
    return n;
}

TEST(RegionLoop, FirstPathEmptyAndSidesUsableFollowTheCutCounts) {
    rngResetState();
    for (int trial = 0; trial < 200; ++trial) {
        PlistArray* a = plistArrayCreate(10);
        ASSERT_NE(a, nullptr);
        std::vector<std::vector<int>> kinds(4);
        for (auto& k : kinds) {
            const int n = rngBelow(6);
            for (int i = 0; i < n; ++i) k.push_back(rngBelow(4));
            Plist* l = kindList(k);
            ASSERT_NE(l, nullptr);
            ASSERT_GE(plistArrayAdd(a, l), 0);
            plistFree(l);
        }
        EXPECT_EQ(regionFirstPathEmpty(a), cutCount(kinds[0]) == 0 ? 1 : 0);
        EXPECT_EQ(regionSidesUsable(a), cutCount(kinds[0]) > 2 && cutCount(kinds[3]) > 2 ? 1 : 0);
        plistArrayFree(a);
    }
}

TEST(RegionLoop, SharpCases) {
    EXPECT_EQ(regionFirstPathEmpty(nullptr), 1);
    EXPECT_EQ(regionSidesUsable(nullptr), 0);
    PlistArray* a = plistArrayCreate(10);
    ASSERT_NE(a, nullptr);
    Plist* three = kindList({0, 1, 0});
    ASSERT_NE(three, nullptr);
    plistArrayAdd(a, three);
    EXPECT_EQ(regionSidesUsable(a), 0);  // fewer than four side paths
    // A list left in its slot but no longer counted is no first path.
    a->count = 0;
    EXPECT_EQ(regionFirstPathEmpty(a), 1);
    a->count = 1;
    EXPECT_EQ(writeCutRangePolyline(nullptr, 1), -1);
    Plist* none = kindList({3, 2, 3});
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(writeCutRangePolyline(none, 1), 0);  // nothing to cut writes nothing
    Plist* one = kindList({3, 0, 2});
    ASSERT_NE(one, nullptr);
    EXPECT_GE(writeCutRangePolyline(one, 1), 0);  // a range of one cut point is no error
    plistFree(one);
    plistFree(three);
    plistFree(none);
    plistArrayFree(a);
}

}  // namespace
