#include "pocket/regiontree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "geometry/rng.h"
#include "pocket/pocket_util.h"
#include "pocket/regionstack.h"

namespace {

std::vector<ContourElement> square(double x0, double y0, double x1, double y1) {
    return polygon({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}});
}

int32_t attach(const std::vector<ContourElement>& c, int32_t level, uint8_t leftSide = 1) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(c.size());
    h.leftSide = leftSide;
    return regionAttachContour(c.data(), &h, 0, level);
}

std::vector<int32_t> parentsOf(int32_t n) {
    std::vector<int32_t> out;
    for (int32_t i = 1; regionParent(n, i) >= 0; ++i) out.push_back(regionParent(n, i));
    return out;
}

struct Box {
    double x0, y0, x1, y1;
};

// Nested squares linked to the smallest square holding them (found by brute force).
TEST(RegionTree, NestedSquaresParents) {
    PocketErrors errors;
    ASSERT_EQ(regionTreeInit(1), 1);
    const Box boxes[] = {{0, 0, 100, 100}, {10, 10, 60, 90}, {70, 10, 90, 40}, {20, 20, 50, 50},
                         {20, 60, 50, 80}, {25, 25, 30, 30}, {200, 0, 250, 50}};
    auto inside = [](const Box& a, const Box& b) {
        return a.x0 > b.x0 && a.y0 > b.y0 && a.x1 < b.x1 && a.y1 < b.y1;
    };
    const int n = sizeof boxes / sizeof boxes[0];
    for (int i = 0; i < n; ++i) {
        int depth = 0;
        for (int j = 0; j < n; ++j) depth += inside(boxes[i], boxes[j]);
        ASSERT_EQ(attach(square(boxes[i].x0, boxes[i].y0, boxes[i].x1, boxes[i].y1), depth), i);
    }
    std::vector<int32_t> expected(n, -1);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            if (inside(boxes[i], boxes[j]) &&
                (expected[i] < 0 ||
                 (boxes[j].x1 - boxes[j].x0) < (boxes[expected[i]].x1 - boxes[expected[i]].x0)))
                expected[i] = j;
        if (expected[i] >= 0) {
            EXPECT_EQ(regionAddLink(i, expected[i]), 1);
        }
    }
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(parentsOf(i), expected[i] < 0 ? std::vector<int32_t>{} : std::vector<int32_t>{expected[i]});
        for (int j = 0; j < n; ++j) EXPECT_EQ(regionIsChild(j, i), expected[i] == j ? 1 : 0);
        EXPECT_EQ(regionRootOf(i), i == 0 || i == 6 ? -1 : 0);
        EXPECT_EQ(regionNode(i)->kind, 1);
    }
    EXPECT_EQ(regionAddLink(1, 3), 0);  // 3 is a child of 1: no two-node cycle
    EXPECT_EQ(regionAddLink(1, 1), 0);
    EXPECT_EQ(regionAddLink(1, n), 0);
    EXPECT_EQ(regionChild(0, 3), -1);
    EXPECT_EQ(regionChild(0, 0), -1);
    std::vector<ContourElement> buf(4);
    ASSERT_EQ(regionLoadElements(buf.data(), 4, regionNode(3)->elements), 1);
    EXPECT_EQ(buf[2].g[kLx1], 50);
    EXPECT_EQ(regionLoadElements(buf.data(), 4, nullptr), 0);
    regionTreeFree();
}

TEST(RegionTree, ParentListsAgainstModel) {
    PocketErrors errors;
    rngResetState();
    for (int run = 0; run < 20; ++run) {
        ASSERT_EQ(regionTreeInit(1), 1);
        const int n = 2 + rngBelow(30);
        for (int i = 0; i < n; ++i) ASSERT_EQ(attach(square(i, 0, i + 1, 1), 0), i);
        std::map<int, std::vector<int32_t>> parents, children;
        int cells = 0;
        for (int step = 0; step < 1500; ++step) {
            const int32_t a = rngBelow(n), b = rngBelow(n + 1) - 1;
            if (rngBelow(4) == 0) {
                std::vector<int32_t>& p = parents[a];
                int32_t want = p.size() == 1 ? 0 : static_cast<int32_t>(p.size());
                const int32_t q = p.empty() || rngBelow(3) == 0 ? b : p[rngBelow(int32_t(p.size()))];
                if (p.size() == 1) {
                    p.clear();
                } else if (auto it = std::find(p.begin(), p.end(), q); it != p.end()) {
                    p.erase(it);
                    want = static_cast<int32_t>(p.size());
                }
                EXPECT_EQ(regionRemoveParent(a, q), want);
                continue;
            }
            std::vector<int32_t>& ca = children[a];
            if (b < 0 || a == b || std::find(ca.begin(), ca.end(), b) != ca.end()) {
                EXPECT_EQ(regionAddLink(a, b), 0);
                continue;
            }
            // Cells of the pool this link would take (removals leave theirs behind).
            const int need = (parents[a].size() == 1 ? 2
                              : parents[a].empty()   ? 0
                                                     : 1) +
                             (children[b].size() == 1 ? 2
                              : children[b].empty()   ? 0
                                                      : 1);
            const int32_t r = regionAddLink(a, b);
            if (cells + need > kRegionPoolWords / 2) {
                EXPECT_EQ(r, -1);
                continue;
            }
            cells += need;
            parents[a].push_back(b);
            children[b].push_back(a);
            EXPECT_EQ(r, static_cast<int32_t>(parents[a].size()));
        }
        for (int i = 0; i < n; ++i) EXPECT_EQ(parentsOf(i), parents[i]) << run << " " << i;
        regionTreeFree();
    }
}

TEST(RegionTree, PickOrderAndStartRing) {
    PocketErrors errors;
    ASSERT_EQ(regionTreeInit(1), 1);
    for (int32_t level : {0, 2, 2, 1}) attach(square(0, 0, 1, 1), level);
    EXPECT_EQ(regionPickDeepest(), 1);
    EXPECT_EQ(regionPickShallowest(), 0);
    regionSetDone(1, kRegionStacked);
    EXPECT_EQ(regionPickDeepest(), 2);
    regionSetDone(1, kRegionFinished);
    regionSetDone(1, kRegionOpen);  // finished stays finished
    EXPECT_EQ(regionIsDone(1), kRegionFinished);
    EXPECT_EQ(regionIsDone(99), 0);
    for (int32_t i : {0, 2, 3}) regionSetDone(i, kRegionFinished);
    EXPECT_EQ(regionPickDeepest(), -1);
    EXPECT_EQ(regionPickShallowest(), -1);

    // With the open-pocket setting an open-side choice is replaced only by an open-side node.
    ASSERT_EQ(regionTreeInit(1), 1);
    pocketKernel().openMode = 1;
    std::vector<ContourElement> open = square(0, 0, 1, 1);
    open[2].sourceTag = -1;
    attach(square(0, 0, 1, 1), 0);
    attach(open, 1);
    attach(square(0, 0, 1, 1), 3);
    attach(open, 2);
    EXPECT_EQ(regionNode(1)->openSide, 1);
    EXPECT_EQ(regionNode(2)->openSide, 0);
    EXPECT_EQ(regionPickDeepest(), 3);
    pocketKernel().openMode = 0;
    EXPECT_EQ(regionPickDeepest(), 2);

    // A second parent moves the first into the pool; removing from one parent clears it.
    attach(square(0, 0, 1, 1), 0);
    EXPECT_EQ(regionAddLink(4, 2), 1);
    EXPECT_EQ(regionAddLink(4, 3), 2);
    EXPECT_EQ(regionParent(4, 1), 2);
    EXPECT_EQ(regionParent(4, 2), 3);
    EXPECT_EQ(regionRemoveParent(4, 2), 1);
    EXPECT_EQ(regionParent(4, 1), 3);
    EXPECT_EQ(regionRemoveParent(4, 0), 0);
    EXPECT_EQ(regionParent(4, 1), -1);

    // Kind by orientation and leftSide; the start ring is the first strictly nearest.
    ASSERT_EQ(regionTreeInit(1), 1);
    PocketKernel& k = pocketKernel();
    k.startGiven = 1;
    k.startX = 5;
    k.startY = 5;
    std::vector<ContourElement> cw = square(0, 0, 10, 10);
    std::reverse(cw.begin(), cw.end());
    for (ContourElement& e : cw) std::swap(e.g[kLx1], e.g[kLx2]), std::swap(e.g[kLy1], e.g[kLy2]);
    attach(square(0, 0, 20, 20), 0, 1);  // 5 away
    attach(cw, 0, 1);                    // 5 away, but not nearer
    attach(cw, 0, 0);
    attach(square(2, 2, 8, 8), 0, 0);  // 3 away, on its left edge
    attach(square(4, 4, 12, 12), 0, 1);
    EXPECT_EQ(regionNode(0)->kind, 1);
    EXPECT_EQ(regionNode(1)->kind, 2);
    EXPECT_EQ(regionNode(2)->kind, 1);
    EXPECT_EQ(regionNode(3)->kind, 2);
    const RegionBestStart* best = regionBestStart();
    EXPECT_EQ(best->found, 1);
    EXPECT_EQ(best->node, 4);
    EXPECT_NEAR(best->distance, 1, 1e-12);
    EXPECT_EQ(best->element, 1);
    EXPECT_NEAR(best->point.y, 4, 1e-12);
    regionTreeResetState();
}

}  // namespace

namespace {

// The walk stack against a vector model, well past its first thousand entries.
TEST(RegionTree, WalkStackGrowsAndMarks) {
    PocketErrors errors;
    ASSERT_EQ(regionTreeInit(1), 1);
    for (int i = 0; i < 3; ++i) attach(square(0, 0, 1, 1), 0);
    regionSetDone(2, kRegionFinished);
    rngResetState();
    std::vector<WalkEntry> model;
    WalkEntry got{};
    for (int step = 0; step < 5000; ++step) {
        if (rngBelow(3) > 0 || model.empty()) {
            const WalkEntry e{rngBelow(3), {rngBelow(9) - 1, rngUniform(), rngUniform()}, {step, 0, 0}};
            ASSERT_EQ(regionStackPush(&e), 1);
            model.push_back(e);
        } else {
            ASSERT_EQ(regionStackPeek(&got), 1);
            EXPECT_EQ(got.to.element, model.back().to.element);
            ASSERT_EQ(regionStackPop(&got), 1);
            EXPECT_EQ(got.to.element, model.back().to.element);
            EXPECT_EQ(got.from.x, model.back().from.x);
            model.pop_back();
        }
        ASSERT_EQ(regionStackDepth(), static_cast<int32_t>(model.size()));
    }
    EXPECT_GT(model.size(), 1000u);
    EXPECT_EQ(regionIsDone(0), kRegionStacked);
    EXPECT_EQ(regionIsDone(2), kRegionFinished);
    regionStackClear();
    EXPECT_EQ(regionStackPop(&got), 0);
    EXPECT_EQ(regionStackPeek(&got), 0);
    regionStackResetState();
    regionTreeResetState();
}

}  // namespace
