#include "collision/meshset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "collision/toolassembly.h"
#include "collision/toolseg.h"
#include "collision/toolshape.h"

namespace {

void resetAll() {
    meshSetResetState();
    toolSegResetState();
    toolAssemblyResetState();
    rngResetState();
}
struct MeshSetTest : ::testing::Test {
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }
};

// Owns point lists built from plain point vectors.
struct Lines {
    PlistArray* array = plistArrayCreate(4);
    void add(const std::vector<Vec3>& pts) {
        Plist* l = plistCreate(static_cast<int32_t>(pts.size()) + 1, 0);
        for (size_t i = 0; i < pts.size(); i++)
            plistAppend(l, static_cast<double>(i), &pts[i], 0, nullptr, 0);
        plistArrayAdd(array, l);
        plistFree(l);
    }
    ~Lines() { plistArrayFree(array); }
};

Vec3 randomPoint(double half) {
    return {(2 * rngUniform() - 1) * half, (2 * rngUniform() - 1) * half, (2 * rngUniform() - 1) * half};
}

int leaves(const CollTreeNode* n) {
    return !n ? 0 : (!n->left && !n->right) ? 1 : leaves(n->left) + leaves(n->right);
}

}  // namespace

// A repeated point adds no edge; vertices stay sorted by their plan distance; a leaf holds 99 edges.
TEST_F(MeshSetTest, LeafSizeAndMergedPoints) {
    const struct { int edges, leaves; } cases[] = {{99, 1}, {100, 2}, {250, 4}};
    for (const auto& c : cases) {
        Lines lines;
        std::vector<Vec3> pts;
        for (int i = 0; i <= c.edges; i++) pts.push_back({10.0 + i, 0.5 * (i % 7), 0});
        pts.insert(pts.begin() + 5, pts[5]);
        lines.add(pts);
        MeshSet* set = meshSetFromList(lines.array, 1, 0.5, 1e-3);
        ASSERT_TRUE(set && set->meshes[0]);
        EXPECT_EQ(set->meshes[0]->edgeCount, c.edges);
        EXPECT_EQ(leaves(set->meshes[0]->tree), c.leaves) << c.edges;
        const CollMesh* m = set->meshes[0];
        EXPECT_TRUE(std::is_sorted(m->vertices, m->vertices + m->vertexCount,
                                   [](const CollVertex& x, const CollVertex& y) { return x.key < y.key; }));
        meshSetFree(set);
    }
}

// Every tree query against the exhaustive loop over the same copies without trees, on seeded meshes,
// tools, pivots, frames and selectors, with the profile and with the assembly shape.
TEST_F(MeshSetTest, TreeQueriesEqualTheExhaustiveAnswer) {
    int hits = 0;
    for (int n = 0; n < 300; n++) {
        const ToolDescription t = randomTool();
        toolSegProfileInit(&t, 2 * rngUniform(), 0.02);
        toolAssemblyFree();
        if (n % 2) toolAssemblyCreate(&t, nullptr, 0, 0.01, 0);  // the assembly's contour decides
        Lines lines;
        const double half = 40 + 120 * rngUniform();
        for (int k = 0; k < 12; k++) {
            std::vector<Vec3> pts{randomPoint(half)};
            for (int j = 0; j < 25; j++) {
                const Vec3 step = randomPoint(8);
                pts.push_back({pts.back().x + step.x, pts.back().y + step.y, pts.back().z + step.z});
            }
            lines.add(pts);
        }
        const double angle = 0.3 + rngUniform();
        MeshSet* withTree = meshSetFromList(lines.array, 1, angle, 1e-3);
        MeshSet* plain = meshSetFromList(lines.array, 1, angle, 1e-3);
        ASSERT_TRUE(withTree && plain);
        for (CollMesh* m : plain->meshes) collMeshTreeFree(std::exchange(m->tree, nullptr));
        const Vec3 pivot = randomPoint(half / 2);
        const Frame f = randomFrame();
        const int32_t selector = 1 + rngBelow(9);
        double swing[2];
        Vec3 hit[2];
        int32_t index[2];
        for (int k = 0; k < 2; k++) {
            ASSERT_EQ(meshSetCollide(&pivot, &f.dir, &f.ref, &f.axis, k ? plain : withTree, selector,
                                     &swing[k], 1.5),
                      1);
            index[k] = meshSetHitPoint(&hit[k]);
        }
        EXPECT_EQ(swing[0], swing[1]) << n;
        EXPECT_EQ(index[0], index[1]) << n;
        EXPECT_TRUE(hit[0].x == hit[1].x && hit[0].y == hit[1].y && hit[0].z == hit[1].z) << n;
        hits += index[0] >= 0;
        meshSetFree(withTree);
        meshSetFree(plain);
    }
    EXPECT_GT(hits, 60);
}

// One long edge through the shaft, its ends far out of reach and on one side of the swing plane, among
// a hundred far edges: neither the box corners nor the edge's ends are within reach.
TEST_F(MeshSetTest, EdgeCrossingTheToolBetweenFarEnds) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    Lines lines;
    for (int k = 0; k < 150; k++) lines.add({{-200.0 + k, 150.0 + k, 0}, {-199.0 + k, 151.0 + k, 0}});
    lines.add({{-200, 2, 30}, {200, 2, 30}});
    MeshSet* set = meshSetFromList(lines.array, 0, 0.0, 1e-3);
    ASSERT_NE(set, nullptr);
    ASSERT_GT(leaves(set->meshes[0]->tree), 1);
    const Vec3 pivot{0, 0, 0}, dir{0, 0, 1}, ref{1, 0, 0}, axis{0, -1, 0};
    double angle = 0;
    ASSERT_EQ(meshSetCollide(&pivot, &dir, &ref, &axis, set, 1, &angle, 1.5), 1);
    EXPECT_EQ(meshSetHitIndex(), 0);
    // A dense walk along the edge with the point test itself.
    double best = 1.5;
    for (int i = 0; i <= 400000; i++) {
        const Vec3 p{-200 + 0.001 * i, 2, 30};
        toolSegPointTest(&pivot, &dir, &ref, &axis, &p, &best, 1.5, 1);
    }
    EXPECT_LT(best, 0.0);
    EXPECT_NEAR(angle, best, 1e-4);
    double depth = -1;
    const Vec3 toward{1, 0, 0};
    ASSERT_EQ(meshSetCollideAll(&pivot, &dir, &toward, set, 1, &depth), 1);
    EXPECT_GT(depth, 0.0);
    meshSetFree(set);
}

namespace {
int crossesAxisPlane(const Vec3*, const Vec3*, const ToolDescription*, const Vec3* a, const Vec3* b,
                     Vec3* out) {
    if (a->x * b->x > 0) return 0;
    *out = {0, a->y, a->z};
    return 1;
}
}  // namespace

// Selectors outside the table test nothing and leave the angle at 1.5; the point check takes vertices
// first, then edges through the installed cone test.
TEST_F(MeshSetTest, SelectorsAndPointChecks) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    Lines lines;
    lines.add({{-20, 0, 10}, {20, 0, 10}});
    MeshSet* set = meshSetFromList(lines.array, 1, 0.5, 1e-3);
    ASSERT_NE(set, nullptr);
    const Vec3 pivot{0, 0, 0}, dir{0, 0, 1}, ref{1, 0, 0}, axis{0, -1, 0}, aside{20, 0, 0};
    const int32_t cases[][2] = {{0, -1}, {10, -1}, {1, 0}, {6, 0}, {4, 2}, {7, 1}};
    for (const auto& c : cases) {
        double angle = 0;
        ASSERT_EQ(meshSetCollide(&pivot, &dir, &ref, &axis, set, c[0], &angle, 1.5), 1);
        EXPECT_EQ(meshSetHitIndex(), c[1]) << c[0];
        EXPECT_TRUE(c[1] >= 0 || angle == 1.5);
    }
    // Of two copies within reach, the one with the smaller angle names the hit.
    double first, second, both;
    meshSetCollide(&pivot, &dir, &ref, &axis, set, 1, &first, 1.5);
    meshSetCollide(&pivot, &dir, &ref, &axis, set, 7, &second, 1.5);
    meshSetCollide(&pivot, &dir, &ref, &axis, set, 3, &both, 1.5);
    EXPECT_TRUE(first < second && meshSetHitIndex() == 0 && both == first) << first << " " << second;
    Vec3 out{};
    EXPECT_EQ(meshSetCheckPoints(&pivot, &dir, set, &out), -1);  // edges need the cone test
    EXPECT_EQ(meshSetCheckPoints(&aside, &dir, set, &out), 1);   // a vertex inside the tool
    EXPECT_EQ(out.x, 20.0);
    toolSegSetLineConeTest(crossesAxisPlane);
    EXPECT_EQ(meshSetCheckPoints(&pivot, &dir, set, &out), 1);
    EXPECT_EQ(out.x, 0.0);
    meshSetFree(set);
}
