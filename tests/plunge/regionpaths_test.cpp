#include "plunge/regionpaths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "channeltest.h"
#include "geometry/plist.h"
#include "plunge/pathlink.h"
#include "plunge/pathspace.h"

namespace {

// Along the radius at angle a on height z, parameter = radius - 10, unit spacing; `lead` leading and
// `trail` trailing link points.
Plist* sidePath(double a, int n, int lead, int trail, double z = 1) {
    Plist* l = plistCreate(256, 1);
    const Vec3 up{0, 0, 1};
    for (int i = 0; i < n; ++i) {
        const Vec3 p{(10 + i) * std::cos(a), (10 + i) * std::sin(a), z};
        const bool link = i < lead || i >= n - trail;
        plistAppend(l, i, &p, static_cast<uint16_t>((link ? 2 : 0) << 8), &up, 1);
    }
    return l;
}

PlistArray* arrayOf(std::vector<Plist*> lists) {
    PlistArray* array = plistArrayCreate(4);
    for (Plist* l : lists) {
        plistArrayAdd(array, l);
        plistFree(l);
    }
    return array;
}

double cutStart(const Plist* l) {
    int32_t f, e;
    firstLastCutIndex(l, &f, &e);
    return l->parameters[f];
}
double cutEnd(const Plist* l) {
    int32_t f, e;
    firstLastCutIndex(l, &f, &e);
    return l->parameters[e];
}

}  // namespace

TEST(RegionPaths, ExtensionGrowsTheCutRangeByTheLengths) {
    struct Case {
        double lead, trail, start, end;
    } cases[] = {{0, 0, 3, 15}, {1.5, 0, 1.5, 15}, {0, 2.25, 3, 17.25}, {10, 10, 0, 19}};
    for (const Case& c : cases) {
        PlistArray* lists =
            arrayOf({sidePath(0, 20, 3, 4), plistCreate(4, 1), plistCreate(4, 1), sidePath(0.4, 20, 3, 4)});
        const int32_t before = lists->lists[0]->count;
        EXPECT_EQ(extendSidePaths(lists, c.lead, c.trail), 1);
        for (int k : {0, 3}) {
            EXPECT_NEAR(cutStart(lists->lists[k]), c.start, 1e-9);
            EXPECT_NEAR(cutEnd(lists->lists[k]), c.end, 1e-9);
        }
        if (c.lead == 0 && c.trail == 0) {
            EXPECT_EQ(lists->lists[0]->count, before);
        }
        EXPECT_EQ(lists->lists[1]->count, 0);
        plistArrayFree(lists);
    }
}

TEST(RegionPaths, ShroudTrimsLevelCutsAndClearance) {
    HubShroud* pair = flatChannel(10);
    ASSERT_NE(pair, nullptr);
    // A path climbing through the shroud loses the points beyond half a unit past it.
    Plist* path = plistCreate(64, 1);
    for (int i = 0; i <= 20; ++i) {
        const Vec3 p{30, 0, double(i)};
        plistAppend(path, i, &p, 0, nullptr, 0);
    }
    Plist* copy = plistCreate(64, 1);
    plistCopyPoints(copy, path);
    ASSERT_EQ(trimPathAtShroud(path, pair, 0, 0.0), 1);
    for (int i = 0; i <= 20; ++i) EXPECT_EQ(path->flags[i] >> 8, i > 10 ? 3 : 0) << i;
    // Reversed: the marks are counted from the other end, and a path wholly beyond is emptied.
    plistReverse(copy);
    EXPECT_EQ(trimPathAtShroud(copy, pair, 1, 0.0), 1);
    EXPECT_EQ(copy->flags[0] >> 8, 3);
    Plist* above = sidePath(0, 10, 0, 0, 15);
    EXPECT_EQ(trimPathAtShroud(above, pair, 0, 0.0), 0);
    EXPECT_EQ(above->count, 0);
    plistFree(above);

    PlistArray* lists = arrayOf(
        {sidePath(0, 20, 0, 0, 10), plistCreate(4, 1), plistCreate(4, 1), sidePath(0.4, 20, 0, 0, 5)});
    EXPECT_EQ(pathsEndClearOfShroud(lists, pair, 0), 0);
    lists->lists[0]->points[19].z = 9;
    EXPECT_EQ(pathsEndClearOfShroud(lists, pair, 0), 1);
    EXPECT_EQ(cutPathsAtLevel(lists, pair, 0), 0);
    EXPECT_EQ(lists->lists[0]->count, 20);
    plistArrayFree(lists);
    plistFree(path);
    plistFree(copy);
    freeHubShroud(pair);
}

TEST(RegionPaths, SecondListsMeetTheShroudAlongTheAxes) {
    HubShroud* pair = flatChannel(10);
    ASSERT_NE(pair, nullptr);
    PlistArray* lists =
        arrayOf({sidePath(0, 20, 2, 0, 4), plistCreate(4, 1), plistCreate(4, 1), sidePath(0.4, 20, 0, 0, 4)});
    PlistArray* second = plistArrayCreate(4);
    ASSERT_EQ(buildSecondRegionLists(second, lists, pair), 4);
    for (int k : {0, 3}) {
        const Plist* s = second->lists[k];
        ASSERT_EQ(s->count, 20);
        for (int i = 0; i < 20; ++i) {
            EXPECT_NEAR(s->points[i].z, 10, 1e-3);  // the crossing is found by bisection
            EXPECT_NEAR(std::hypot(s->points[i].x - lists->lists[k]->points[i].x,
                                   s->points[i].y - lists->lists[k]->points[i].y),
                        0, 1e-6);
            EXPECT_EQ(s->flags[i] >> 8, k == 0 && i < 2 ? 2 : 0);
        }
    }
    EXPECT_EQ(second->lists[1]->count, 0);
    plistArrayFree(second);
    plistArrayFree(lists);
    freeHubShroud(pair);
}

TEST(RegionPaths, SplitterKindsAndLinksAcrossTheBlade) {
    PlistArray* none =
        arrayOf({sidePath(0, 10, 2, 0), plistCreate(4, 1), plistCreate(4, 1), sidePath(0.4, 10, 2, 0)});
    EXPECT_EQ(resetSplitterKinds(none), 0);
    plistArrayFree(none);
    // Inner paths uncut up to 6; the outer ones cut from 2.5 (a vertex is added there).
    PlistArray* lists = arrayOf(
        {sidePath(0, 10, 2, 0), sidePath(0.1, 10, 6, 0), sidePath(0.2, 10, 6, 0), sidePath(0.4, 10, 2, 0)});
    lists->lists[0]->parameters[2] = 2.5;
    lists->lists[0]->parameters[1] = 1.5;
    ASSERT_EQ(resetSplitterKinds(lists), 1);
    const Plist* inner = lists->lists[1];
    ASSERT_EQ(inner->count, 11);
    for (int32_t i = 0; i < inner->count; ++i) {
        const double t = inner->parameters[i];
        EXPECT_EQ(inner->flags[i] >> 8, t < 2.5 - 1e-9 ? 2 : 0) << i;
        EXPECT_EQ(inner->bytes[i], t < 6 - 1e-9 ? 0 : 1) << i;  // the splitter's own cut starts at 6
    }
    plistArrayFree(lists);

    // Across the blade: the fourth path is linked where it lies a pitch further round.
    const double pitch = 0.785;
    Plist *first = sidePath(0, 8, 2, 0), *fourth = sidePath(0.1 + pitch, 8, 2, 0);
    Plist *a = sidePath(0, 8, 2, 0), *b = sidePath(0.1, 8, 2, 0);
    ASSERT_EQ(linkAcrossBlade(first, fourth, pitch), 1);
    ASSERT_EQ(linkPathEnds(a, b), 1);
    for (int i = 0; i < 8; ++i) {
        Vec3 q = b->points[i];
        pathRotateZ(&q, pitch);
        EXPECT_NEAR(dist3D(&first->points[i], &a->points[i]), 0, 1e-9);
        EXPECT_NEAR(dist3D(&fourth->points[i], &q), 0, 1e-9);
    }
    for (Plist* l : {first, fourth, a, b}) plistFree(l);
}
