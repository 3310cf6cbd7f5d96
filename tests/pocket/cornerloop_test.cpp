// Corner loops into the corners of a square ring, against the closed form of
// the bisector reach, clipped at the source ring, within the capacity.
#include "pocket/cornerloop.h"

#include "pocket/regiontree.h"
#include "pocket_util.h"

TEST(CornerLoop, SquareCornersAgainstClosedForm) {
    struct Case {
        double step, margin;
        int32_t side, edge, room;
        int setupOn, loops;
    } cases[] = {
        {8, 5, 1, 1, 100, 1, 4},   // reach 8 sqrt2 - 2r = 1.31
        {9, 1, 1, 1, 100, 1, 4},   // 2.73 clipped by the source ring 1.41 away
        {8, 5, -1, 1, 100, 1, 0},  // the corners turn away from the side
        {7, 5, 1, 1, 100, 1, 0},   // 7 sqrt2 < 2r: the tool reaches into the corner
        {4, 5, 1, 1, 100, 0, 0},   // a step below the radius: loops off
        {4, 5, 1, 2, 100, 1, 0},   // forced on, no corner needs one
        {8, 5, 1, 0, 100, 1, 0},   // edge movement off
        {8, 5, 1, 1, 3, 1, 1},     // room for one loop
    };
    for (const Case& c : cases) {
        PocketErrors errors;
        regionTreeResetState();
        ASSERT_EQ(regionTreeInit(1), 1);
        std::vector<ContourElement> src = polygon({{-c.margin, -c.margin},
                                                   {40 + c.margin, -c.margin},
                                                   {40 + c.margin, 40 + c.margin},
                                                   {-c.margin, 40 + c.margin}});
        ContourHeader h{};
        h.elementCount = 4;
        int32_t node = regionAttachContour(src.data(), &h, 0, 0);
        kvCCPParams.edgeMovement = c.edge;
        EXPECT_EQ(cornerLoopSetup(5, c.step, c.side), c.setupOn);
        std::vector<ContourElement> ring = polygon({{0, 0}, {40, 0}, {40, 40}, {0, 40}});
        for (int i = 0; i < 4; ++i) ring[i].sourceTag = 10 + i;
        ring.resize(24);
        int32_t n = cornerLoopInsert(node, ring.data(), 4, 4 + c.room);
        ASSERT_EQ(n, 4 + 2 * c.loops) << c.step << " " << c.side << " " << c.edge;
        const double reach = c.margin < 2 ? 1.0 : (c.step * std::sqrt(2.0) - 10 + 1e-4) / std::sqrt(2.0);
        for (int32_t i = 0; i + 2 < n; ++i) {
            const ContourElement &a = ring[i], &next = ring[i + 2];
            if (a.g[kLx1] != ring[i + 1].g[kLx2] || a.g[kLy1] != ring[i + 1].g[kLy2]) continue;
            // Out along the bisector, away from the square's centre; tagged as the element it precedes.
            EXPECT_NEAR(a.g[kLx2], a.g[kLx1] + (a.g[kLx1] > 20 ? reach : -reach), 1e-9);
            EXPECT_NEAR(a.g[kLy2], a.g[kLy1] + (a.g[kLy1] > 20 ? reach : -reach), 1e-9);
            EXPECT_TRUE(a.sourceTag == next.sourceTag && next.g[kLx1] == a.g[kLx1] &&
                        next.g[kLy1] == a.g[kLy1]);
        }
        regionTreeFree();
    }
}

// A source circle across the loop at (40, 40) is met twice: the loop stops at the nearer point, 1 short
// of the circle's centre (42.5, 42.5) on the bisector; the other loops reach their full 6.97.
TEST(CornerLoop, ClippedAtTheNearerOfTwoCrossings) {
    PocketErrors errors;
    regionTreeResetState();
    ASSERT_EQ(regionTreeInit(1), 1);
    ContourElement src = arcElem(42.5, 42.5, 1, 0, 2 * M_PI, 1);
    ContourHeader h{};
    h.elementCount = 1;
    const int32_t node = regionAttachContour(&src, &h, 0, 0);
    kvCCPParams.edgeMovement = 1;
    ASSERT_EQ(cornerLoopSetup(5, 12, 1), 1);
    for (const int32_t at : {node, node + 5}) {  // a node not in the tree has no ring to clip at
        std::vector<ContourElement> ring = polygon({{0, 0}, {40, 0}, {40, 40}, {0, 40}});
        ring.resize(12);
        ASSERT_EQ(cornerLoopInsert(at, ring.data(), 4, 12), 12);
        for (int k = 0; k < 4; ++k) {
            const double reach = k == 2 && at == node ? 2.5 - std::sqrt(0.5)
                                                      : (12 * std::sqrt(2.0) - 10 + 1e-4) / std::sqrt(2.0);
            const ContourElement& a = ring[3 * k];
            EXPECT_NEAR(std::fabs(a.g[kLx2] - a.g[kLx1]), reach, 1e-9) << k << at;
            EXPECT_NEAR(std::fabs(a.g[kLy2] - a.g[kLy1]), reach, 1e-9) << k << at;
        }
    }
    // A ring out and back turns to the side at both ends, yet a reversal has no bisector: no loop.
    ASSERT_EQ(cornerLoopSetup(5, 12, -1), 1);
    std::vector<ContourElement> back = {lineElem(0, 0, 10, 0), lineElem(10, 0, 0, 0)};
    back.resize(8);
    EXPECT_EQ(cornerLoopInsert(node, back.data(), 2, 8), 2);
    regionTreeFree();
}
