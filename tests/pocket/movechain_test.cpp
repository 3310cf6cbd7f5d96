#include "pocket/movechain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "kernel/base/rng.h"
#include "pocket/feedhelpers.h"
#include "pocketnc_util.h"

namespace {

TEST(MoveChain, ChunksAndQueries) {
    PocketErrors errors;
    MoveChain* chain = moveChainCreate(1000);
    ASSERT_NE(chain, nullptr);
    for (int i = 0; i < 1001; ++i) {
        const ContourElement e = lineElem(i, 0, i + 1, 0, 7);
        ASSERT_EQ(moveChainAppend(chain, &e, i), 1);
    }
    ASSERT_NE(chain->head->next, nullptr);
    EXPECT_EQ(chain->head->count, 1);
    EXPECT_EQ(chain->head->elements[0].sourceTag, 1000);
    EXPECT_EQ(chain->head->next->count, 1000);
    const Vec2 joint{500, 0}, between{500.5, 0};
    EXPECT_EQ(moveChainHasPoint(chain, &joint), 1);
    EXPECT_EQ(moveChainHasPoint(chain, &between), 0);
    // Covered: both ends within 1e-5 of one element, at that distance included.
    const struct {
        ContourElement e;
        int covers;
    } cases[] = {{lineElem(3.2, 0, 3.9, 0), 1},
                 {lineElem(1000.2, 0, 1000.7, 0), 1},  // the first chunk's only element
                 {lineElem(3.2, 1e-5, 3.9, -1e-5), 1},
                 {lineElem(3.2, 0, 3.9, 1.1e-5), 0},
                 {lineElem(3.2, 1.1e-5, 3.9, 0), 0}};
    for (const auto& c : cases) EXPECT_EQ(moveChainCovers(chain->head, &c.e), c.covers) << c.e.g[kLy2];
    EXPECT_EQ(moveChainCovers(chain->head, nullptr), 0);
    moveChainReverseEach(chain);
    EXPECT_EQ(chain->head->next->elements[0].g[kLx1], 1000);
    moveChainFree(chain);
}

TEST(FeedHelpers, HelixPointsClosedForm) {
    PocketErrors errors;
    clistCreate("INPUT");
    const Vec2 c{3, 4};
    EXPECT_EQ(helixPoints(&c, 2, 0.3, 0.1, 1, 5, 5), nullptr);
    // So high up that a rise of 0.06 per step is below half an ulp: z never climbs, and no helix is built.
    EXPECT_EQ(helixPoints(&c, 2, 0.3, 0.1, 1, 1e15 + 0.125, 1e15), nullptr);
    rngResetState();
    for (int run = 0; run < 50; ++run) {
        const double r = 0.5 + 3 * rngUniform(), step = 0.05 + rngUniform(), ramp = 0.02 + 0.5 * rngUniform();
        const int32_t dir = rngBelow(2) ? 1 : -1;
        const double dz = 2 * r * std::sin(step / 2) * std::tan(ramp);
        const double height = run == 0 ? 0.5 * dz : 10 * rngUniform() + 1e-3;
        HelixPoints* h = helixPoints(&c, r, step, ramp, dir, height, 0);
        ASSERT_NE(h, nullptr);
        // centre and start at the bottom, the turned points, the centre at the top: 4 below one dz
        ASSERT_EQ(h->count, static_cast<int>(std::ceil(height / dz - 1e-9)) + 3);
        EXPECT_TRUE(h->points[0].x == 3 && h->points[h->count - 1].z == height);
        for (int i = 1; i < h->count - 1; ++i) {
            const double a = dir * step * (i - 1);
            EXPECT_NEAR(
                std::hypot(h->points[i].x - 3 - r * std::cos(a), h->points[i].y - 4 - r * std::sin(a)), 0,
                1e-9);
            EXPECT_NEAR(h->points[i].z, std::fmin(height, (i - 1) * dz), 1e-9);
        }
        if (run < 2) {  // sent from the top down; with a reduced feed set, its ratio to the plane feed first
            pocketnctest::NcPlane nc;
            kvCCPParams.reducedFeedrate = 400.0 * run;
            ASSERT_EQ(emitReducedFeed(&kvCCP, h), 0);
            const std::vector<pocketnctest::Rec> moves = pocketnctest::records(31);
            ASSERT_EQ(moves.size(), static_cast<size_t>(h->count));
            for (int i = 0; i < h->count; ++i) EXPECT_EQ(moves[i].z, h->points[h->count - 1 - i].z);
            EXPECT_EQ(pocketnctest::indexOf("tr", "FX*0.5") >= 0, run == 1);
        }
        helixPointsFree(h);
    }
}

TEST(FeedHelpers, FeedBufferGapRuleAndCapacity) {
    PocketErrors errors;
    feedHelpersResetState();
    PocketKernel& k = pocketKernel();
    k.stepFactor = 0.5;
    // The widest gap bridged is one step, 2 R k = 5 in output units; a scale left at 0 counts as 1.
    struct Case {
        double gap;
        int result;
        int32_t count;
    } cases[] = {{5e-5, 1, 2}, {0.5, 1, 3}, {5.00005, 1, 3}, {5.0002, -2, 1}};
    for (const double scale : {25.0, 0.0}) {
        const double s = scale > 0 ? scale : 1;
        k.geometryScale = scale;
        k.toolRadius = 5 * s;
        k.tolerance = 1e-4 * s;
        for (const Case& c : cases) {
            feedBufferClear();
            const ContourElement a = lineElem(0, 0, 1, 0), b = lineElem(1 + c.gap, 0, 3, 0);
            ASSERT_EQ(feedBufferAppend(&a), 1);
            EXPECT_EQ(feedBufferAppend(&b), c.result) << scale << " " << c.gap;
            EXPECT_EQ(feedBufferCount(), c.count) << scale << " " << c.gap;
            EXPECT_EQ(c.count < 2 ? 0 : feedBufferElements()[1].sourceTag, c.count == 3 ? 1 : 0);
        }
    }
    // Full at 500 elements; an element behind a gap goes in with its bridge only while both fit.
    for (const int32_t before :
         {int32_t{kFeedBufferSize} - 2, int32_t{kFeedBufferSize} - 1, int32_t{kFeedBufferSize}}) {
        feedBufferClear();
        for (int i = 0; i < before; ++i) {
            const ContourElement e = lineElem(i, 0, i + 1, 0);
            ASSERT_EQ(feedBufferAppend(&e), 1);
        }
        const ContourElement joined = lineElem(before, 0, before + 1, 0),
                             apart = lineElem(before + 1, 0, before + 2, 0);
        const int fits = before + 2 <= kFeedBufferSize;
        EXPECT_EQ(feedBufferAppend(&apart), fits ? 1 : -1) << before;
        EXPECT_EQ(feedBufferCount(), fits ? before + 2 : before);
        if (!fits) {
            EXPECT_EQ(feedBufferAppend(&joined), before < kFeedBufferSize ? 1 : -1) << before;
        }
    }
    feedHelpersResetState();
    EXPECT_EQ(feedBufferCount(), 0);
}

}  // namespace
