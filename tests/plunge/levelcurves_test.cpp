// Depth levels: closed-form floors of flat channels per strategy, and the example impeller's levels
// between its hub and shroud.
#include "plunge/levelcurves.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "geometry/profile.h"
#include "plunge/cycparams.h"

namespace {

// Hub at z = 0 and shroud at z = height, both running outwards from r = 10 to 50.
HubShroud* flatChannel(double height) {
    const Vec3 h0{10, 0, 0}, h1{50, 0, 0}, s0{10, 0, height}, s1{50, 0, height};
    ProfileCurve* hub = profileLine(&h0, &h1);
    ProfileCurve* shroud = profileLine(&s0, &s1);
    HubShroud* pair = makeHubShroudPair(hub, shroud);
    profileFreeList(hub);
    profileFreeList(shroud);
    return pair;
}

}  // namespace

TEST(LevelCurves, ChannelHeightOfParallelProfiles) {
    for (const double h : {10.0, 3.5}) {
        HubShroud* pair = flatChannel(h);
        ASSERT_NE(pair, nullptr);
        EXPECT_NEAR(channelHeight(pair), h, 1e-12);
        freeHubShroud(pair);
    }
}

TEST(LevelCurves, FloorsAndHeightsOfEveryStrategy) {
    struct Case {
        int32_t strategy;
        double height, step, depth, top, bottom;
        std::vector<double> floors, heights;
    };
    const Case cases[] = {
        {0, 25, 10, 0, 1, 0, {0, 10, 20}, {25, 15, 5}},
        {0, 20.05, 10, 0, 1, 0, {0, 10}, {20.05, 10.05}},
        {0, 10, 10, 0, 1, 0, {0}, {10}},          // the step equal to the height: one level
        {0, 25, 10, 12, 1, 0, {0, 10}, {12, 2}},  // the depth limit lowers the top
        {1, 40, 10, 25, 1, 0, {15, 20, 30}, {25, 20, 10}},
        {2, 40, 10, 25, 1, 0, {15, 25, 35}, {25, 15, 5}},
        {3, 30, 10, 0, 1, 0, {0, 7.5, 15, 22.5}, {30, 30, 30, 30}},
        {3, 10, 10, 0, 1, 0, {0}, {10}},  // the step is enlarged first: one level, not two
        {3, 30, 10, 0, 0.5, 0.5, {}, {}},
        {4, 30, 10, 10, 1, 0, {}, {}},
        {-1, 30, 10, 10, 1, 0, {}, {}},
    };
    for (const Case& c : cases) {
        cycleParamsResetState();
        cycleParams()->startFactor = c.top;
        cycleParams()->endFactor = c.bottom;
        HubShroud* pair = flatChannel(c.height);
        ASSERT_NE(pair, nullptr);
        LevelCurves* set = buildLevelCurves(pair, c.step, c.strategy, c.depth);
        ASSERT_NE(set, nullptr) << c.strategy;
        ASSERT_EQ(set->count, static_cast<int32_t>(c.floors.size())) << c.strategy << " " << c.height;
        for (int32_t k = 0; k < set->count; ++k) {
            const HubShroud* level = set->curves[k];
            for (int32_t i = 0; i < level->hub->count; ++i)
                EXPECT_NEAR(level->hub->points[i].y, c.floors[k], 1e-9) << c.strategy << " level " << k;
            EXPECT_NEAR(channelHeight(level), c.heights[k], 1e-9) << c.strategy << " level " << k;
            // The top spans the floor and shares its parameter range.
            EXPECT_NEAR(level->shroud->points[0].x, level->hub->points[0].x, 1e-9);
            EXPECT_NEAR(level->shroud->param[level->shroud->count - 1],
                        level->hub->param[level->hub->count - 1], 1e-9);
            // Flat floors never cross the one above.
            EXPECT_EQ(set->params[k], -1.0);
        }
        freeLevelCurves(set);
        freeHubShroud(pair);
    }
    cycleParamsResetState();
}

TEST(LevelCurves, InterpolatedCurveAndBadRequests) {
    HubShroud* pair = flatChannel(20);
    ASSERT_NE(pair, nullptr);
    Plist3D* list = newPlist3D(1);
    ASSERT_NE(list, nullptr);
    // mode, t -> height of every point; the hub and shroud offsets meet at t h and h - t h.
    const double table[][3] = {{0, 0.25, 5}, {1, 0.25, 35}, {2, 0.25, 5}, {2, 1.0, 20}};
    for (const auto& row : table) {
        ASSERT_EQ(levelCurveFromPair(pair, 20, static_cast<int32_t>(row[0]), row[1], list), 1);
        ASSERT_EQ(list->count, 2);
        for (int32_t i = 0; i < list->count; ++i) {
            EXPECT_NEAR(list->points[i].z, row[2], 1e-9) << row[0];
            EXPECT_EQ(list->points[i].y, 0.0);
        }
        EXPECT_NEAR(list->param[1], 40.0, 1e-9);
    }
    EXPECT_EQ(levelCurveFromPair(pair, 20, 3, 0.5, list), -1);
    EXPECT_EQ(list->count, 0);
    EXPECT_EQ(buildLevelCurves(pair, 0.0, 0, 0), nullptr);
    EXPECT_EQ(buildLevelCurves(pair, 1e-5, 0, 0), nullptr);  // more levels than any machining asks
    freePlist3D(list);
    freeHubShroud(pair);
}

TEST(LevelCurves, ExampleLevelsLieBetweenHubAndShroud) {
    cycleParamsResetState();
    const auto file = [](const char* name) {
        return (std::filesystem::path(KV_SOURCE_DIR) / "examples" / "plunge" / name).string();
    };
    ProfileCurve* hub = idx5CreateHubShroudCurve(file("hub.kvx").c_str(), 0.5);
    ProfileCurve* shroud = idx5CreateHubShroudCurve(file("shroud.kvx").c_str(), 0.5);
    HubShroud* pair = makeHubShroudPair(hub, shroud);
    ASSERT_NE(pair, nullptr);
    for (int32_t strategy = 0; strategy <= 3; ++strategy) {
        LevelCurves* set = buildLevelCurves(pair, 4.0, strategy, 10.0);
        ASSERT_NE(set, nullptr) << strategy;
        EXPECT_GE(set->count, 2) << strategy;
        for (int32_t k = 0; k < set->count; ++k) {
            const Profile2D* floor = set->curves[k]->hub;
            for (int32_t i = 0; i < floor->count; ++i) {
                const Vec3 p{floor->points[i].x, 0, floor->points[i].y};
                // The channel lies left of the hub and right of the shroud.
                EXPECT_GT(closestPointProfile2D(pair->hub, &p, nullptr, nullptr), -0.01)
                    << strategy << " " << k;
                EXPECT_LT(closestPointProfile2D(pair->shroud, &p, nullptr, nullptr), 0.01)
                    << strategy << " " << k;
            }
        }
        freeLevelCurves(set);
    }
    freeHubShroud(pair);
    profileFreeList(hub);
    profileFreeList(shroud);
}
