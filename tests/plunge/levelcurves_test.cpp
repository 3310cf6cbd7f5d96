// Depth levels: floors of flat channels against the step rule of each strategy, of a sloped channel and of
// profiles in closed form; the example's levels in its channel.
#include "plunge/levelcurves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "channeltest.h"
#include "kernel/base/rng.h"
#include "memshort.h"
#include "plunge/cycparams.h"

TEST(LevelCurves, FloorsAndHeightsOfEveryStrategyAndTheExamplesLevelsInItsChannel) {
    // strategy, channel height, step, depth, start and end factors; then each level's floor and what is
    // left above it.
    const std::vector<double> rows[][3] = {
        {{0, 20.05, 10, 0, 1, 0}, {0, 10}, {20.05, 10.05}},  // a last step leaving 0.05 is not taken
        {{0, 10, 0.1, 0.10001, 1, 0}, {0}, {0.10001}},       // nor one leaving 1e-5 under the depth
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

namespace {

// A channel of two polylines (r, z), owned by the caller.
HubShroud* polyChannel(const std::vector<Vec2>& hub, const std::vector<Vec2>& shroud) {
    Profile2D *h = profileOf(hub), *s = profileOf(shroud);
    std::vector<double> extra(hub.size(), 0.0);
    HubShroud tmp{h, s, extra.data()};
    HubShroud* pair = h != nullptr && s != nullptr ? copyHubShroud(&tmp) : nullptr;
    freeProfile2D(h);
    freeProfile2D(s);
    return pair;
}

double polylineLength(const Plist3D* l) {
    double len = 0;
    for (int32_t i = 1; i < l->count; ++i) len += dist3D(&l->points[i - 1], &l->points[i]);
    return len;
}

}  // namespace

// Seeded flat channels against the plain rule of each strategy: from the hub floors at k v up to the
// top (the channel or the depth) while more than 1e-5 is left and a level keeps a tenth; from the shroud
// depths k v and then the depth itself, deepest first; under the band floors at k v above the depth
// below the shroud while more than 1e-5 is left.
TEST(LevelCurves, FlatChannelLevelsFollowTheStepRule) {
    rngResetState();
    int multi = 0;
    for (int round = 0; round < 90; ++round) {
        const int32_t strategy = round % 3;
        const double H = 5 + 45 * rngUniform(), v = 0.8 + 12 * rngUniform();
        const double depth = strategy == 0 && round % 2 ? 0.0 : (0.1 + 0.85 * rngUniform()) * H;
        // H a whole number of steps every fourth round, the depth that and 5e-5 in others: exact counts.
        const double step = round % 4 == 3                ? H / std::ceil(H / v)
                            : round % 4 == 1 && depth > 0 ? (depth - 5e-5) / std::ceil(depth / v)
                                                          : v;
        std::vector<double> floors, heights;
        if (strategy == 0) {
            const double top = depth > 1e-5 && H > depth ? depth : H;
            for (int k = 0; k * step <= top - 1e-5 && (k == 0 || top - k * step >= 0.1); ++k)
                floors.push_back(k * step), heights.push_back(top - k * step);
        } else if (strategy == 1) {
            for (int k = 1;; ++k) {
                const double a = std::min(k * step, depth);
                floors.insert(floors.begin(), H - a), heights.insert(heights.begin(), a);
                if (k * step > depth - 1e-5) break;
            }
        } else {
            for (int k = 0; k * step <= depth - 1e-5; ++k)
                floors.push_back(H - depth + k * step), heights.push_back(depth - k * step);
        }
        HubShroud* pair = flatChannel(H);
        ASSERT_NE(pair, nullptr);
        LevelCurves* set = buildLevelCurves(pair, step, strategy, depth);
        ASSERT_NE(set, nullptr);
        ASSERT_EQ(set->count, static_cast<int32_t>(floors.size()))
            << round << " H " << H << " v " << step << " depth " << depth;
        multi += set->count > 2;
        for (int32_t k = 0; k < set->count; ++k) {
            const Profile2D* floor = set->curves[k]->hub;
            ASSERT_GE(floor->count, 2);
            for (int32_t i = 0; i < floor->count; ++i)
                EXPECT_NEAR(floor->points[i].y, floors[k], 1e-9) << round;
            EXPECT_NEAR(floor->points[0].x, 10.0, 1e-9) << round;
            EXPECT_NEAR(floor->points[floor->count - 1].x, 60.0, 1e-9) << round;
            EXPECT_NEAR(channelHeight(set->curves[k]), heights[k], 1e-9) << round << " level " << k;
            EXPECT_TRUE(strategy == kLevelFromShroud || set->params[k] == -1.0) << round;
        }
        freeLevelCurves(set);
        freeHubShroud(pair);
    }
    EXPECT_GT(multi, 30);
}

// Under a flat shroud 55 high a hub rising at 45 degrees from (10, 0) to (60, 50): each level from the
// shroud runs at 55 - a until it meets the hub and then along it, and takes the length along its floor
// to where it rises through the floor of the level above (none for the first level). The channel is
// 55 / sqrt 2 high: a step of that height is enlarged by 1e-5.
TEST(LevelCurves, FromTheShroudFloorsFollowTheHubAndKeepWhereTheLevelAboveCrosses) {
    HubShroud* pair = polyChannel({{10, 0}, {60, 50}}, {{10, 55}, {60, 55}});
    ASSERT_NE(pair, nullptr);
    const double H = 55 / std::sqrt(2.0);
    ASSERT_NEAR(channelHeight(pair), H, 1e-12);
    const double rows[][4] = {{10, 30, 10, 30}, {H, 50, H + 1e-5, 50}};  // step, depth, step taken, depth
    for (const auto& r : rows) {
        LevelCurves* set = buildLevelCurves(pair, r[0], kLevelFromShroud, r[1]);
        ASSERT_NE(set, nullptr);
        std::vector<double> depths;
        for (double a = r[2];; a += r[2]) {
            depths.insert(depths.begin(), std::min(a, r[3]));
            if (a > r[3] - 1e-5) break;
        }
        ASSERT_EQ(set->count, static_cast<int32_t>(depths.size())) << r[0];
        for (int32_t k = 0; k < set->count; ++k) {
            const double a = depths[k], z = 55 - a;
            const Profile2D* floor = set->curves[k]->hub;
            for (int32_t i = 0; i < floor->count; ++i) {
                const Vec2& p = floor->points[i];
                EXPECT_NEAR(p.y, std::max(z, p.x - 10), 1e-9) << a << " " << i;
            }
            EXPECT_NEAR(floor->points[0].x, 10, 1e-9);
            EXPECT_NEAR(floor->points[floor->count - 1].x, 60, 1e-9) << a;
            // Flat from r = 10 to the hub at r = z + 10, then up the hub to where it reaches z + step.
            const double crossing = k == set->count - 1 ? -1.0 : z + std::sqrt(2.0) * r[2];
            EXPECT_NEAR(set->params[k], crossing, 1e-6) << a;
        }
        freeLevelCurves(set);
    }
    freeHubShroud(pair);
}

// One profile of a channel with a hub bent toward the channel: the hub (or the shroud) offset and its
// parameters the offset's own arc length times L(offset) / L(hub); or the hub moved toward the shroud point
// at the same share of length, with the hub's parameters.
TEST(LevelCurves, ProfileFromThePairByMode) {
    // The hub runs flat and then climbs at 45 degrees; the shroud, 30 long, lies 20 above its start.
    HubShroud* pair = polyChannel({{10, 0}, {35, 0}, {60, 25}}, {{20, 20}, {50, 20}});
    ASSERT_NE(pair, nullptr);
    const double lHub = 25 + 25 * std::sqrt(2.0);
    Plist3D* l = newPlist3D(4);
    ASSERT_NE(l, nullptr);
    const struct {
        int32_t mode;
        double h, t, offset;  // signed offset to the left of the profile's direction
    } rows[] = {{0, 20, 0.25, 5}, {0, 8, 1.0, 8}, {0, 6, 0.5, 3}, {1, 20, 0.75, 5}, {1, 12, 0.5, 6}};
    for (const auto& r : rows) {
        ASSERT_EQ(levelCurveFromPair(pair, r.h, r.mode, r.t, l), 1) << r.mode << " " << r.t;
        ASSERT_GE(l->count, 2);
        const Profile2D* base = r.mode == 0 ? pair->hub : pair->shroud;
        const double lNew = polylineLength(l);
        double arc = 0;
        for (int32_t i = 0; i < l->count; ++i) {
            if (i > 0) arc += dist3D(&l->points[i - 1], &l->points[i]);
            const Vec3& p = l->points[i];
            EXPECT_EQ(p.y, 0.0);
            EXPECT_NEAR(closestPointProfile2D(base, &p, nullptr, nullptr), r.offset, 1e-9)
                << r.mode << " " << i;
            EXPECT_NEAR(l->param[i], arc * lNew / lHub, 1e-9) << r.mode << " " << i;
        }
    }
    // Mode 2: the shroud is 30 long against the hub's lHub, so hub length s meets shroud r = 20 + 30 s /
    // lHub.
    for (const double t : {0.0, 0.3, 1.0}) {
        ASSERT_EQ(levelCurveFromPair(pair, 99, 2, t, l), 1);
        ASSERT_EQ(l->count, 3);
        for (int32_t i = 0; i < 3; ++i) {
            const Vec2& h = pair->hub->points[i];
            const double s = pair->hub->param[i], sr = 20 + 30 * s / lHub;
            EXPECT_NEAR(l->points[i].x, (1 - t) * h.x + t * sr, 1e-9) << t << " " << i;
            EXPECT_NEAR(l->points[i].z, (1 - t) * h.y + t * 20, 1e-9) << t << " " << i;
            EXPECT_EQ(l->param[i], s);
        }
    }
    // A hub without length meets the shroud at its start; short of memory, the answer is -1.
    HubShroud* dot = polyChannel({{10, 0}}, {{20, 20}, {50, 20}});
    ASSERT_NE(dot, nullptr);
    ASSERT_EQ(levelCurveFromPair(dot, 99, 2, 0.5, l), 1);
    EXPECT_TRUE(l->count == 1 && l->points[0].x == 15 && l->points[0].z == 10);
    for (long n = 1;; ++n) {  // each allocation short in turn
        allocfail::arm(n);
        const int rc = levelCurveFromPair(dot, 99, 2, 0.5, l);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_EQ(rc, fired ? -1 : 1) << n;
        if (!fired) break;
    }
    freeHubShroud(dot);
    for (const int32_t mode : {-1, 3}) {
        EXPECT_EQ(levelCurveFromPair(pair, 10, mode, 0.5, l), -1) << mode;
        EXPECT_EQ(l->count, 0);
    }
    freePlist3D(l);
    freeHubShroud(pair);
}

namespace {

// A set grown from one slot by five copies of a channel, then reversed: its parameters and hub points.
AllocMade grownSet() {
    std::vector<double> v;
    v.reserve(1024);
    HubShroud* pair = flatChannel(20);
    LevelCurves* set = pair ? newLevelCurves(0) : nullptr;
    int rc = set != nullptr ? 1 : -1;
    for (int k = 0; rc == 1 && k < 5; ++k) rc = addLevelCurve(set, pair, 0.5 * k);
    if (rc != 1 && rc != -1) v.push_back(1000 + rc);  // a failure answers exactly -1
    const bool ok = rc == 1;
    if (ok) {
        reverseLevelCurves(set);
        for (int32_t k = 0; k < set->count; ++k) {
            v.push_back(set->params[k]);
            const Profile2D* h = set->curves[k]->hub;
            v.insert(v.end(), {double(h->count), h->points[0].x, h->points[h->count - 1].y});
        }
        v.push_back(set->capacity >= set->count);
    }
    freeLevelCurves(set);
    freeHubShroud(pair);
    return ok || rc != -1 ? AllocMade(v) : std::nullopt;
}

}  // namespace

TEST(LevelCurves, GrowingSetRefusesEachFailedAllocation) {
    failEachAllocation("grown level set", grownSet);
    HubShroud* pair = flatChannel(20);
    EXPECT_EQ(addLevelCurve(nullptr, pair, 1), -1);
    LevelCurves* set = newLevelCurves(-3);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->capacity, 1);
    EXPECT_EQ(set->params[0], -1.0);  // none assigned yet
    EXPECT_EQ(addLevelCurve(set, nullptr, 1), -1);
    EXPECT_EQ(set->count, 0);
    reverseLevelCurves(nullptr);
    freeLevelCurves(set);
    // A pair short of a profile or of two points in either, or a step that is not positive: no levels.
    Profile2D one = *pair->hub;
    one.count = 1;
    const HubShroud bad[] = {{pair->hub, nullptr, nullptr},
                             {nullptr, pair->shroud, nullptr},
                             {&one, pair->shroud, nullptr},
                             {pair->hub, &one, nullptr}};
    EXPECT_EQ(buildLevelCurves(nullptr, 1.0, 0, 0.0), nullptr);
    for (const HubShroud& b : bad) EXPECT_EQ(buildLevelCurves(&b, 1.0, 0, 0.0), nullptr);
    for (const double v : {0.0, -1.0, double(NAN)})
        EXPECT_EQ(buildLevelCurves(pair, v, 0, 0.0), nullptr) << v;
    freeHubShroud(pair);
}
