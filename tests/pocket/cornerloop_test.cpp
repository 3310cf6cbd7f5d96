// Corner loops into the corners of a square ring, against the closed form of
// the bisector reach, with clipping at the source ring and the capacity.
#include "pocket/cornerloop.h"

#include "pocket/regiontree.h"
#include "pocket_util.h"

TEST(CornerLoop, SquareCornersAgainstClosedForm) {
    struct Case {
        double radius, step, margin;
        int32_t side, edge, extra;
        int setupOn, loops;
        bool clipped;
    } cases[] = {
        {5, 8, 5, 1, 1, 100, 1, 4, false},   // reach 8 sqrt2 beyond the diameter: 1.31
        {5, 9, 1, 1, 1, 100, 1, 4, true},    // 2.73 would pass the source ring 1.41 away
        {5, 8, 5, -1, 1, 100, 1, 0, false},  // the corners turn away from the side
        {5, 7, 5, 1, 1, 100, 1, 0, false},   // 7 sqrt2 < 2r: the tool reaches the corner
        {5, 4, 5, 1, 1, 100, 0, 0, false},   // a step below the radius: loops off
        {5, 4, 5, 1, 2, 100, 1, 0, false},   // forced on, but no corner needs one
        {5, 8, 5, 1, 0, 100, 1, 0, false},   // edge movement off
        {5, 8, 5, 1, 1, 3, 1, 1, false},     // room for one loop only
    };
    for (const Case& c : cases) {
        PocketErrors errors;
        regionTreeResetState();
        cornerLoopResetState();
        ASSERT_EQ(regionTreeInit(1), 1);
        double m = c.margin;
        std::vector<ContourElement> src = polygon({{-m, -m}, {40 + m, -m}, {40 + m, 40 + m}, {-m, 40 + m}});
        ContourHeader h{};
        h.elementCount = 4;
        h.leftSide = 1;
        int32_t node = regionAttachContour(src.data(), &h, 0, 0);
        ASSERT_GE(node, 0);
        kvCCPParams.edgeMovement = c.edge;
        EXPECT_EQ(cornerLoopSetup(c.radius, c.step, c.side), c.setupOn);
        std::vector<ContourElement> ring = polygon({{0, 0}, {40, 0}, {40, 40}, {0, 40}});
        for (int i = 0; i < 4; ++i) ring[i].sourceTag = 10 + i;
        ring.resize(4 + 20);
        int32_t n = cornerLoopInsert(node, ring.data(), 4, 4 + c.extra);
        ASSERT_EQ(n, 4 + 2 * c.loops) << c.step << " " << c.side << " " << c.edge;
        const double reach = c.clipped ? std::sqrt(2.0) : c.step * std::sqrt(2.0) - 2 * c.radius + 1e-4;
        int loops = 0;
        for (int32_t i = 0; i + 1 < n; ++i) {
            const ContourElement& a = ring[i];
            const ContourElement& b = ring[i + 1];
            if (!(a.g[kLx1] == b.g[kLx2] && a.g[kLy1] == b.g[kLy2] && a.g[kLx2] == b.g[kLx1])) continue;
            ++loops;
            Vec2 p{a.g[kLx1], a.g[kLy1]}, q{a.g[kLx2], a.g[kLy2]};
            // Outwards along the corner's bisector: away from the square's centre.
            Vec2 out{p.x > 20 ? 1.0 : -1.0, p.y > 20 ? 1.0 : -1.0};
            EXPECT_NEAR(q.x, p.x + out.x * reach / std::sqrt(2.0), 1e-9);
            EXPECT_NEAR(q.y, p.y + out.y * reach / std::sqrt(2.0), 1e-9);
            // The loop carries the tag of the element it precedes, which starts at the corner.
            const ContourElement& next = ring[i + 2];
            EXPECT_EQ(a.sourceTag, next.sourceTag);
            EXPECT_EQ(next.g[kLx1], p.x);
            EXPECT_EQ(next.g[kLy1], p.y);
        }
        EXPECT_EQ(loops, c.loops);
        regionTreeFree();
    }
}
