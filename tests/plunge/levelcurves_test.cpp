// Depth levels: closed-form floors of flat channels per strategy; the example's levels in its channel.
#include "plunge/levelcurves.h"

#include <gtest/gtest.h>

#include "channeltest.h"
#include "plunge/cycparams.h"

TEST(LevelCurves, FloorsAndHeightsOfEveryStrategyAndTheExamplesLevelsInItsChannel) {
    // strategy, channel height, step, depth, start and end factors; then each level's floor and what is
    // left above it.
    const std::vector<double> rows[][3] = {
        {{0, 25, 10, 0, 1, 0}, {0, 10, 20}, {25, 15, 5}},
        {{0, 20.05, 10, 0, 1, 0}, {0, 10}, {20.05, 10.05}},  // a last step leaving 0.05 is not taken
        {{0, 25, 10, 12, 1, 0}, {0, 10}, {12, 2}},
        {{1, 40, 10, 25, 1, 0}, {15, 20, 30}, {25, 20, 10}},
        {{2, 40, 10, 25, 1, 0}, {15, 25, 35}, {25, 15, 5}},
        {{3, 30, 10, 0, 1, 0}, {0, 7.5, 15, 22.5}, {30, 30, 30, 30}},
        {{3, 10, 10, 0, 1, 0}, {0}, {10}},              // a step equal to the height is enlarged: one level
        {{3, 30, 10, 0, 0.8, 0.2}, {6, 15}, {30, 30}},  // two steps of 0.3 from 0.2
        {{3, 30, 10, 0, 0.2, 0.2}, {}, {}},
        {{4, 30, 10, 10, 1, 0}, {}, {}},
    };
    for (const auto& r : rows) {
        cycleParams()->startFactor = r[0][4];
        cycleParams()->endFactor = r[0][5];
        HubShroud* pair = flatChannel(r[0][1]);
        EXPECT_NEAR(channelHeight(pair), r[0][1], 1e-12);
        LevelCurves* set = buildLevelCurves(pair, r[0][2], static_cast<int32_t>(r[0][0]), r[0][3]);
        ASSERT_NE(set, nullptr);
        ASSERT_EQ(set->count, static_cast<int32_t>(r[1].size())) << r[0][0] << " " << r[0][1];
        EXPECT_EQ(set->capacity, 100);
        for (int32_t k = 0; k < set->count; ++k) {
            const HubShroud* level = set->curves[k];
            // Only the strategy from the shroud sets a parameter.
            EXPECT_TRUE(r[0][0] == 1 || set->params[k] == -1.0);
            for (int32_t i = 0; i < level->hub->count; ++i)
                EXPECT_NEAR(level->hub->points[i].y, r[1][k], 1e-9);
            EXPECT_NEAR(channelHeight(level), r[2][k], 1e-9) << r[0][0] << " level " << k;
        }
        freeLevelCurves(set);
        freeHubShroud(pair);
    }
    cycleParamsResetState();
    // A set doubles when full and keeps each level's parameter with it, also reversed.
    LevelCurves* grown = newLevelCurves(0);
    HubShroud* channel = flatChannel(5);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(grown->capacity, 1);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(addLevelCurve(grown, channel, 0.5 * k), 1);
    EXPECT_EQ(addLevelCurve(grown, nullptr, 1.0), -1);
    EXPECT_EQ(grown->count, 3);
    EXPECT_EQ(grown->capacity, 4);
    reverseLevelCurves(grown);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(grown->params[k], 0.5 * (2 - k));
        EXPECT_NE(grown->curves[k], channel);  // a copy
        EXPECT_NEAR(channelHeight(grown->curves[k]), 5.0, 1e-12);
    }
    EXPECT_EQ(grown->params[3], -1.0);
    freeLevelCurves(grown);
    freeHubShroud(channel);
    // On the example impeller every level of every strategy lies inside the channel.
    HubShroud* pair = exampleChannel();
    ASSERT_NE(pair, nullptr);
    for (int32_t strategy = 0; strategy <= 3; ++strategy) {
        LevelCurves* set = buildLevelCurves(pair, 4.0, strategy, 10.0);
        ASSERT_NE(set, nullptr);
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
    // A step that cannot be made (a shroud of one point cannot be lowered) hands out no partial set.
    pair = flatChannel(20, 60);
    EXPECT_EQ(buildLevelCurves(pair, 5.0, 1, 10.0), nullptr);
    freeHubShroud(pair);
}
