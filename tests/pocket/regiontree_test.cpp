#include "pocket/regiontree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "kernel/base/rng.h"
#include "pocket/pocket_util.h"
#include "pocket/regionstack.h"
#include "ringtest_util.h"

namespace {

struct Box {
    double x0, y0, x1, y1;
};

int32_t attach(const Box& b, int32_t level, int32_t tag = 0) {
    return attachBox(b.x0, b.y0, b.x1, b.y1, level, true, {0, 0, tag, 0});
}

std::vector<int32_t> parentsOf(int32_t n) {
    std::vector<int32_t> out;
    for (int32_t i = 1; regionParent(n, i) >= 0; ++i) out.push_back(regionParent(n, i));
    return out;
}

// Nested squares linked to the smallest square holding them, found by brute force.
TEST(RegionTree, NestedSquaresParents) {
    PocketErrors errors;
    ASSERT_EQ(regionTreeInit(1), 1);
    const Box boxes[] = {{0, 0, 100, 100}, {10, 10, 60, 90}, {70, 10, 90, 40}, {20, 20, 50, 50},
                         {20, 60, 50, 80}, {25, 25, 30, 30}, {200, 0, 250, 50}};
    const int n = 7;
    auto inside = [&](int a, int b) {
        return boxes[a].x0 > boxes[b].x0 && boxes[a].y0 > boxes[b].y0 && boxes[a].x1 < boxes[b].x1 &&
               boxes[a].y1 < boxes[b].y1;
    };
    std::vector<int32_t> expected(n, -1);
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(attach(boxes[i], 0), i);
        for (int j = 0; j < n; ++j)
            if (inside(i, j) && (expected[i] < 0 || inside(j, expected[i]))) expected[i] = j;
    }
    for (int i = 0; i < n; ++i) EXPECT_EQ(regionAddLink(i, expected[i]), expected[i] < 0 ? 0 : 1);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(parentsOf(i), expected[i] < 0 ? std::vector<int32_t>{} : std::vector<int32_t>{expected[i]});
        for (int j = 0; j < n; ++j) EXPECT_EQ(regionIsChild(j, i), expected[i] == j ? 1 : 0);
        EXPECT_EQ(regionRootOf(i), i == 0 || i == 6 ? -1 : 0);
    }
    EXPECT_EQ(regionAddLink(1, 3), 0);  // 3 is a child of 1: no two-node cycle
    EXPECT_EQ(regionChild(0, 3), -1);
    std::vector<ContourElement> buf(4);
    ASSERT_EQ(regionLoadElements(buf.data(), 4, regionNode(3)->elements), 1);
    EXPECT_EQ(buf[2].g[kLx1], 50);
    EXPECT_EQ(regionLoadElements(buf.data(), 0, regionNode(3)->elements), 1);  // nothing to copy
    EXPECT_EQ(regionLoadElements(buf.data(), 4, nullptr), 0);
    SavedBlock* held = regionNode(3)->elements;  // no buffer or a negative count: refused both ways
    EXPECT_EQ(
        std::vector<int>({regionLoadElements(nullptr, 4, held), regionLoadElements(buf.data(), -1, held),
                          regionSaveElements(nullptr, 4, held), regionSaveElements(buf.data(), -1, held)}),
        std::vector<int>(4, 0));
    // Nodes outside the tree have no children and take no count.
    for (const int32_t outside : {-1, n}) {
        EXPECT_EQ(regionIsChild(outside, 0), 0);
        EXPECT_EQ(regionIsParent(outside, 0), 0);
        EXPECT_EQ(regionSetElementCount(outside, 5), 0);
        EXPECT_EQ(regionIsDone(outside), 0);
    }
    // A header that counts elements it does not come with attaches nothing.
    ContourHeader h{};
    h.elementCount = 4;
    EXPECT_EQ(regionAttachContour(nullptr, &h, 0, 0), -1);
    EXPECT_EQ(regionAttachContour(buf.data(), nullptr, 0, 0), -1);
    EXPECT_EQ(regionNodeCount(), n);
    EXPECT_EQ(regionTreeFree(), 1);
    // A freed tree has no nodes at all.
    EXPECT_EQ(regionNodeCount(), 0);
    EXPECT_EQ(regionNode(0), nullptr);
    EXPECT_EQ(regionIsChild(0, 1), 0);
    EXPECT_EQ(regionIsParent(0, 1), 0);
    EXPECT_EQ(regionChild(0, 1), -1);
    EXPECT_EQ(regionParent(0, 1), -1);
    EXPECT_EQ(regionIsDone(0), 0);
    EXPECT_EQ(regionFirstKind1Parent(0), -1);
    EXPECT_EQ(regionRootOf(0), -1);
    regionSetDone(0, kRegionFinished);
}

TEST(RegionTree, PickOrderKindAndStartRing) {
    PocketErrors errors;
    ASSERT_EQ(regionTreeInit(1), 1);
    for (int32_t level : {0, 2, 2, 1}) attach({0, 0, 1, 1}, level);
    EXPECT_EQ(regionPickDeepest(), 1);
    EXPECT_EQ(regionPickShallowest(), 0);
    regionSetDone(1, kRegionFinished);
    regionSetDone(1, kRegionOpen);  // finished stays finished
    EXPECT_EQ(regionPickDeepest(), 2);
    for (int32_t i : {0, 2, 3}) regionSetDone(i, kRegionFinished);
    EXPECT_EQ(regionPickDeepest(), -1);
    EXPECT_EQ(regionPickShallowest(), -1);

    // With the open-pocket setting an open-side choice is replaced only by an open-side node.
    ASSERT_EQ(regionTreeInit(1), 1);
    pocketKernel().openMode = 1;
    const int32_t levels[] = {0, 1, 3, 2};  // nodes 1 and 3 hold an open side
    for (int i = 0; i < 4; ++i) attach({0, 0, 1, 1}, levels[i], i % 2 ? -1 : 0);
    EXPECT_EQ(regionPickDeepest(), 3);
    pocketKernel().openMode = 0;
    EXPECT_EQ(regionPickDeepest(), 2);
    // A second parent moves the first into the pool; a node with one parent loses it whatever is asked.
    EXPECT_EQ(regionAddLink(0, 2), 1);
    EXPECT_EQ(regionAddLink(0, 3), 2);
    EXPECT_EQ(parentsOf(0), (std::vector<int32_t>{2, 3}));
    EXPECT_EQ(regionRemoveParent(0, 2), 1);
    EXPECT_EQ(regionRemoveParent(0, 1), 0);
    EXPECT_EQ(parentsOf(0), std::vector<int32_t>{});
    // Up a cycle of links 1 -> 2 -> 3 -> 1 the walk stops once it has gone more steps than the tree has
    // nodes (5 of 4), at 3; another mode of init keeps the tree.
    for (const auto& [a, b] : {std::pair{1, 2}, {2, 3}, {3, 1}}) ASSERT_EQ(regionAddLink(a, b), 1);
    EXPECT_EQ(regionRootOf(1), 3);
    EXPECT_EQ(regionTreeInit(0), 1);
    EXPECT_EQ(regionNodeCount(), 4);

    regionTreeResetState();
}

// Links against a count of the pool's two-word cells: a list's first entry is held in the node, its
// second moves both into cells, each later one takes a cell. For a with 0, 1 or 2 parents and b with 0, 1
// or 2 children the link fits with exactly its cells left, and with one cell fewer changes neither list.
TEST(RegionTree, LinksAtTheEdgeOfThePool) {
    PocketErrors errors;
    auto cellsFor = [](int32_t count) { return count == 0 ? 0 : count == 1 ? 2 : 1; };
    const int32_t m = 60;  // a = 0, b = 1, a's parents 2, 3, b's children 4, 5, the rest fill the pool
    for (int32_t pa = 0; pa < 3; ++pa)
        for (int32_t cb = 0; cb < 3; ++cb)
            for (int32_t shortBy = 0; shortBy < 2; ++shortBy) {
                const int32_t cells = cellsFor(pa) + cellsFor(cb);
                if (cells == 0 && shortBy) continue;
                ASSERT_EQ(regionTreeInit(1), 1);
                for (int32_t i = 0; i < m; ++i) ASSERT_EQ(attach({0, 0, 1, 1}, 0), i);
                std::vector<int32_t> parents(m), children(m);
                int32_t used = 0;
                auto cost = [&](int32_t a, int32_t b) {
                    return cellsFor(parents[a]) + cellsFor(children[b]);
                };
                auto link = [&](int32_t a, int32_t b) {
                    used += cost(a, b);
                    ASSERT_EQ(regionAddLink(a, b), ++parents[a]) << a << " " << b;
                    ++children[b];
                };
                for (int32_t k = 0; k < pa; ++k) link(0, 2 + k);
                for (int32_t k = 0; k < cb; ++k) link(4 + k, 1);
                const int32_t target = kRegionPoolWords / 2 - cells + shortBy;
                for (int32_t a = 7; a < m - 3; ++a)
                    for (int32_t b = 6; b < a; ++b)
                        if (used + cost(a, b) <= target) link(a, b);
                // The last cells one at a time: a node of many parents linked to childless ones.
                for (int32_t f = m - 3; used < target && f < m; ++f) link(m - 4, f);
                ASSERT_EQ(used, target) << pa << cb;
                EXPECT_EQ(regionAddLink(0, 1), shortBy ? -1 : pa + 1) << pa << " " << cb;
                EXPECT_EQ(parentsOf(0).size(), static_cast<size_t>(pa + 1 - shortBy)) << pa << " " << cb;
                EXPECT_EQ(regionChild(1, cb + 1), shortBy ? -1 : 0) << pa << " " << cb;
                EXPECT_EQ(regionChild(1, cb), cb ? 4 + cb - 1 : -1);
            }
    regionTreeResetState();
}

// Seeded link graphs (a child always ranks above its parents: no cycles) against a list model: links in
// order, refusals, the first kind-1 parent, the root as the smallest parentless ancestor found by brute
// force, the pick order by level, and parents removed one at a time.
TEST(RegionTree, SeededLinksAgainstAModel) {
    PocketErrors errors;
    pocketKernel().openMode = 0;
    rngResetState();
    for (int round = 0; round < 30; ++round) {
        ASSERT_EQ(regionTreeInit(1), 1);
        const int32_t n = 2 + rngBelow(10);
        std::vector<int32_t> rank(n), level(n);
        std::vector<bool> kind1(n), done(n);
        for (int32_t i = 0; i < n; ++i) {
            rank[i] = i;
            std::swap(rank[i], rank[rngBelow(i + 1)]);
        }
        for (int32_t i = 0; i < n; ++i) {
            kind1[i] = rngBelow(2) == 1;
            level[i] = rngBelow(4);
            ASSERT_EQ(attachBox(0, 0, 1, 1, level[i], kind1[i]), i);
            EXPECT_EQ(regionNode(i)->kind, kind1[i] ? 1 : 2);
        }
        std::vector<std::vector<int32_t>> parents(n), children(n);
        auto has = [](const std::vector<int32_t>& v, int32_t x) {
            return std::count(v.begin(), v.end(), x) > 0;
        };
        for (int32_t k = 0; k < 3 * n; ++k) {
            const int32_t a = rngBelow(n), b = rngBelow(n);
            if (a == b || has(parents[b], a)) {
                EXPECT_EQ(regionAddLink(a, b), 0);
            } else if (rank[a] > rank[b]) {
                parents[a].push_back(b);
                children[b].push_back(a);
                EXPECT_EQ(regionAddLink(a, b), static_cast<int32_t>(parents[a].size()));
            }
        }
        for (int32_t i = 0; i < n; ++i) {
            EXPECT_EQ(parentsOf(i), parents[i]);
            const int32_t nc = static_cast<int32_t>(children[i].size());
            for (int32_t c = 0; c <= nc + 1; ++c)
                EXPECT_EQ(regionChild(i, c), c >= 1 && c <= nc ? children[i][c - 1] : -1);
            for (int32_t j = 0; j < n; ++j) {
                EXPECT_EQ(regionIsParent(i, j), has(parents[i], j) ? 1 : 0);
                EXPECT_EQ(regionIsChild(i, j), has(children[i], j) ? 1 : 0);
            }
            int32_t k1 = -1;
            for (int32_t p : parents[i])
                if (k1 < 0 && kind1[p]) k1 = p;
            EXPECT_EQ(regionFirstKind1Parent(i), k1);
            std::vector<int32_t> todo = parents[i];
            std::vector<bool> seen(n);
            int32_t root = -1;
            while (!todo.empty()) {
                const int32_t a = todo.back();
                todo.pop_back();
                if (seen[a]) continue;
                seen[a] = true;
                if (parents[a].empty() && (root < 0 || a < root)) root = a;
                todo.insert(todo.end(), parents[a].begin(), parents[a].end());
            }
            EXPECT_EQ(regionRootOf(i), root) << round << " " << i;
        }
        // Finishing nodes in a seeded order: the picks are the first deepest and first shallowest open node.
        for (int32_t step = 0; step <= n; ++step) {
            int32_t deep = -1, shallow = -1;
            for (int32_t i = 0; i < n; ++i) {
                if (done[i]) continue;
                if (deep < 0 || level[i] > level[deep]) deep = i;
                if (shallow < 0 || level[i] < level[shallow]) shallow = i;
            }
            EXPECT_EQ(regionPickDeepest(), deep);
            EXPECT_EQ(regionPickShallowest(), shallow);
            const int32_t f = rngBelow(n);
            regionSetDone(f, rngBelow(2) ? kRegionFinished : kRegionStacked);
            done[f] = true;
        }
        for (int32_t i = 0; i < n; ++i) {
            const int32_t asked = rngBelow(n);
            std::vector<int32_t>& p = parents[i];
            if (p.size() <= 1) {
                p.clear();
            } else if (has(p, asked)) {
                p.erase(std::find(p.begin(), p.end(), asked));
            }
            EXPECT_EQ(regionRemoveParent(i, asked), static_cast<int32_t>(p.size()));
            EXPECT_EQ(parentsOf(i), p);
        }
    }
    regionTreeResetState();
}

// The walk stack against a vector model, well past its first thousand entries.
TEST(RegionTree, WalkStackGrowsAndMarks) {
    PocketErrors errors;
    ASSERT_EQ(regionTreeInit(1), 1);
    for (int i = 0; i < 3; ++i) attach({0, 0, 1, 1}, 0);
    regionSetDone(2, kRegionFinished);
    rngResetState();
    std::vector<WalkEntry> model;
    WalkEntry got{};
    for (int step = 0; step < 5000; ++step) {
        if (rngBelow(3) > 0 || model.empty()) {
            const WalkEntry e{rngBelow(3), {rngBelow(9) - 1, rngUniform(), 0}, {step, 0, 0}};
            ASSERT_EQ(regionStackPush(&e), 1);
            model.push_back(e);
            continue;
        }
        ASSERT_EQ(regionStackPeek(&got), 1);
        EXPECT_EQ(got.to.element, model.back().to.element);
        ASSERT_EQ(regionStackPop(&got), 1);
        EXPECT_TRUE(got.to.element == model.back().to.element && got.from.x == model.back().from.x);
        model.pop_back();
    }
    EXPECT_EQ(regionStackDepth(), static_cast<int32_t>(model.size()));
    EXPECT_GT(model.size(), 1000u);
    // Without a place to copy to, a peek leaves the top and a pop drops it; nothing is no entry.
    const int32_t depth = regionStackDepth();
    EXPECT_EQ(regionStackPush(nullptr), -1);
    EXPECT_EQ(regionStackPeek(nullptr), 1);
    EXPECT_EQ(regionStackDepth(), depth);
    EXPECT_EQ(regionStackPop(nullptr), 1);
    EXPECT_EQ(regionStackDepth(), depth - 1);
    ASSERT_EQ(regionStackPeek(&got), 1);
    EXPECT_EQ(got.to.element, model[model.size() - 2].to.element);
    EXPECT_EQ(regionIsDone(0), kRegionStacked);
    EXPECT_EQ(regionIsDone(2), kRegionFinished);
    regionStackClear();
    EXPECT_EQ(regionStackDepth(), 0);
    EXPECT_EQ(regionStackPeek(&got), 0);
    EXPECT_EQ(regionStackPop(&got), 0);
    regionStackResetState();
    EXPECT_EQ(regionStackPop(&got), 0);
    regionTreeResetState();
}

}  // namespace

// The nearest element of a square to seeded points against the distance to each side in closed form (the
// first side on ties), also as a ring attached with the point as the job's start keeps it (element 1-based);
// a negative tag found wherever it stands, and nothing read past the chain.
TEST(RegionTree, NearestElementAndNegativeTag) {
    PocketErrors errors;
    std::vector<ContourElement> sq = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    const ContourHeader h = header(sq, true, true);
    rngResetState();
    Vec2 at{};
    int32_t index = -1;
    for (int i = 0; i < 200; ++i) {
        const Vec2 p{-5 + 20 * rngUniform(), -5 + 20 * rngUniform()};
        const double cx = std::clamp(p.x, 0.0, 10.0), cy = std::clamp(p.y, 0.0, 10.0);
        const double side[4] = {std::hypot(p.x - cx, p.y), std::hypot(p.x - 10, p.y - cy),
                                std::hypot(p.x - cx, p.y - 10), std::hypot(p.x, p.y - cy)};
        const int32_t want = static_cast<int32_t>(std::min_element(side, side + 4) - side);
        EXPECT_NEAR(contourNearestToPoint(sq.data(), 4, &p, &at, &index), side[want], 1e-12);
        EXPECT_EQ(index, want);
        EXPECT_NEAR(std::hypot(at.x - p.x, at.y - p.y), side[want], 1e-12);
        if (i % 8) continue;  // a fresh tree per point costs more than the rest of the loop
        ASSERT_EQ(regionTreeInit(1), 1);
        pocketKernel().startX = p.x, pocketKernel().startY = p.y, pocketKernel().startGiven = 1;
        ASSERT_EQ(regionAttachContour(sq.data(), &h, 0, 0), 0);
        const RegionBestStart& best = *regionBestStart();
        EXPECT_TRUE(best.found && best.node == 0 && best.element == want + 1);
        EXPECT_NEAR(best.distance, side[want], 1e-12);
    }
    regionTreeResetState();
    EXPECT_EQ(contourNearestToPoint(sq.data(), 0, &at, nullptr, nullptr), 0.0);
    EXPECT_EQ(contourNearestToPoint(nullptr, 4, &at, nullptr, nullptr), 0.0);
    EXPECT_EQ(contourNearestToPoint(sq.data(), 4, nullptr, nullptr, nullptr), 0.0);
    const Vec2 left{-1, 5};  // by the fourth side, which a count of 3 leaves out: the first side on a tie
    EXPECT_NEAR(contourNearestToPoint(sq.data(), 3, &left, nullptr, &index), std::sqrt(26.0), 1e-12);
    EXPECT_EQ(index, 0);
    for (int32_t k = -1; k < 4; ++k) {
        std::vector<ContourElement> tagged = sq;
        if (k >= 0) tagged[static_cast<size_t>(k)].sourceTag = -1;
        EXPECT_EQ(contourHasNegativeTag(k < 0 ? nullptr : tagged.data(), 4), k >= 0 ? 1 : 0) << k;
        EXPECT_EQ(contourHasNegativeTag(tagged.data(), k >= 0 ? k : 0), 0) << k;
    }
}
