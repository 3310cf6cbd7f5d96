#include "collision/meshset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "collision/toolassembly.h"
#include "collision/toolseg.h"
#include "collision/toolshape.h"

namespace {

struct MeshSetTest : ::testing::Test {
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        meshSetResetState();
        toolSegResetState();
        toolAssemblyResetState();
        rngResetState();
    }
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

TEST_F(MeshSetTest, VerticesMergeAndEdgesStaySorted) {
    Lines lines;
    lines.add({{0, 0, 0}, {0, 0, 0}, {1, 0, 0}});            // a repeated point adds no edge
    lines.add({{1, 0, 0.0004}, {1, 1, 0}, {0, 0, 0.0003}});  // both ends merge within 0.001
    lines.add({{1, 1, 0}, {1, 0, 0}});                       // an edge already present
    CollMesh* m = collMeshFromPolylines(lines.array, 0.001);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->vertexCount, 3);
    EXPECT_EQ(m->edgeCount, 3);
    for (int32_t i = 0; i + 1 < m->vertexCount; i++) EXPECT_LE(m->vertices[i].key, m->vertices[i + 1].key);
    for (int32_t i = 0; i < m->edgeCount; i++) {
        EXPECT_LT(m->edges[i].a, m->edges[i].b);
        if (i > 0) {
            EXPECT_LE(m->edges[i - 1].a, m->edges[i].a);
        }
    }
    collMeshFree(m);
}

// Seeded grids of jittered points: the merged vertices and distinct edges equal those of the grid.
TEST_F(MeshSetTest, MergeCountsMatchTheGrid) {
    for (int n = 0; n < 20; n++) {
        Lines lines;
        const int cells = 3 + rngBelow(6);
        std::vector<std::pair<int, int>> used;
        for (int k = 0; k < 30; k++) {
            std::vector<Vec3> pts;
            int x = rngBelow(cells), y = rngBelow(cells);
            for (int j = 0; j < 6; j++) {
                pts.push_back({x + 1e-4 * rngUniform(), y + 1e-4 * rngUniform(), x * y * 0.1});
                (rngBelow(2) ? x : y) = rngBelow(cells);
            }
            lines.add(pts);
        }
        // Brute force over the lattice positions.
        std::vector<int> seen(cells * cells, 0);
        std::vector<int> edges(cells * cells * cells * cells, 0);
        int vertices = 0, edgeCount = 0;
        for (int32_t k = 0; k < lines.array->count; k++) {
            const Plist* l = lines.array->lists[k];
            for (int32_t i = 0; i < l->count; i++) {
                const int id = static_cast<int>(std::lround(l->points[i].x)) * cells +
                               static_cast<int>(std::lround(l->points[i].y));
                vertices += !seen[id]++;
                if (i == 0) continue;
                const int prev = static_cast<int>(std::lround(l->points[i - 1].x)) * cells +
                                 static_cast<int>(std::lround(l->points[i - 1].y));
                if (prev != id)
                    edgeCount += !edges[std::min(prev, id) * cells * cells + std::max(prev, id)]++;
            }
        }
        CollMesh* m = collMeshFromPolylines(lines.array, 0.01);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->vertexCount, vertices);
        EXPECT_EQ(m->edgeCount, edgeCount);
        collMeshFree(m);
    }
}

TEST_F(MeshSetTest, LeafSizeAndRotatedCopies) {
    const struct { int edges, leaves; } cases[] = {{99, 1}, {100, 2}, {250, 4}};
    for (const auto& c : cases) {
        Lines lines;
        std::vector<Vec3> pts;
        for (int i = 0; i <= c.edges; i++) pts.push_back({10.0 + i, 0.5 * i, 0});
        lines.add(pts);
        MeshSet* set = meshSetFromList(lines.array, 1, 0.5, 1e-3);
        ASSERT_NE(set, nullptr);
        ASSERT_NE(set->meshes[0], nullptr);
        EXPECT_EQ(set->meshes[0]->edgeCount, c.edges);
        EXPECT_EQ(leaves(set->meshes[0]->tree), c.leaves) << c.edges;
        const double turn[5] = {0, 0.25, 0.5, -0.5, -0.25};
        for (int s = 1; s < 5; s++) {
            const CollMesh* m = set->meshes[s];
            ASSERT_NE(m, nullptr);
            ASSERT_EQ(m->vertexCount, set->meshes[0]->vertexCount);
            for (int32_t i = 0; i < m->vertexCount; i++) {
                const Vec3& p = set->meshes[0]->vertices[i].point;
                EXPECT_NEAR(m->vertices[i].point.x, p.x * std::cos(turn[s]) - p.y * std::sin(turn[s]), 1e-9);
                EXPECT_NEAR(m->vertices[i].point.y, p.x * std::sin(turn[s]) + p.y * std::cos(turn[s]), 1e-9);
            }
        }
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
        if (n % 2)
            ASSERT_NE(toolAssemblyCreate(&t, nullptr, 0, 0.01, 0), nullptr);
        else
            toolAssemblyFree();
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
        ASSERT_NE(withTree, nullptr);
        ASSERT_NE(plain, nullptr);
        for (CollMesh* m : plain->meshes) {
            collMeshTreeFree(m->tree);
            m->tree = nullptr;
        }
        const Vec3 pivot = randomPoint(half / 2);
        const Frame f = randomFrame();
        const int32_t selector = 1 + rngBelow(9);
        double a1 = 0, a2 = 0;
        Vec3 p1, p2;
        ASSERT_EQ(meshSetCollide(&pivot, &f.dir, &f.ref, &f.axis, withTree, selector, &a1, 1.5), 1);
        const int32_t i1 = meshSetHitPoint(&p1);
        ASSERT_EQ(meshSetCollide(&pivot, &f.dir, &f.ref, &f.axis, plain, selector, &a2, 1.5), 1);
        const int32_t i2 = meshSetHitPoint(&p2);
        EXPECT_EQ(a1, a2) << n;
        EXPECT_EQ(i1, i2) << n;
        EXPECT_EQ(p1.x, p2.x) << n;
        EXPECT_EQ(p1.z, p2.z) << n;
        hits += i1 >= 0;
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

TEST_F(MeshSetTest, SelectorsOutsideTheTableTestNothing) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    Lines lines;
    lines.add({{-20, 0, 30}, {20, 0, 30}});
    MeshSet* set = meshSetFromList(lines.array, 1, 0.5, 1e-3);
    ASSERT_NE(set, nullptr);
    const Vec3 pivot{0, 0, 0}, dir{0, 0, 1}, ref{1, 0, 0}, axis{0, -1, 0};
    const struct { int32_t selector, index; } cases[] = {{0, -1}, {10, -1}, {1, 0}, {6, 0}, {4, 2}, {7, 1}};
    for (const auto& c : cases) {
        double angle = 0;
        ASSERT_EQ(meshSetCollide(&pivot, &dir, &ref, &axis, set, c.selector, &angle, 1.5), 1);
        EXPECT_EQ(meshSetHitIndex(), c.index) << c.selector;
        if (c.index < 0) {
            EXPECT_EQ(angle, 1.5);
        }
    }
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

TEST_F(MeshSetTest, CheckPointsVerticesThenEdges) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    Lines lines;
    lines.add({{-20, 0, 10}, {20, 0, 10}});
    MeshSet* set = meshSetFromList(lines.array, 0, 0.5, 1e-3);
    ASSERT_NE(set, nullptr);
    const Vec3 tip{0, 0, 0}, axis{0, 0, 1}, inside{20, 0, 0};
    Vec3 out{};
    EXPECT_EQ(meshSetCheckPoints(&tip, &axis, set, &out), -1);  // edges need the cone test
    EXPECT_EQ(meshSetCheckPoints(&inside, &axis, set, &out), 1);
    EXPECT_EQ(out.x, 20.0);
    toolSegSetLineConeTest(crossesAxisPlane);
    EXPECT_EQ(meshSetCheckPoints(&tip, &axis, set, &out), 1);
    EXPECT_EQ(out.x, 0.0);
    meshSetFree(set);
}
