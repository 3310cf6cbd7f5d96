#include "collision/meshset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "collision/toolassembly.h"
#include "collision/toolseg.h"
#include "collision/toolshape.h"
#include "kernel/base/rng.h"

// The allocation controls alone: the hook itself is the no-memory tests'.
#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "kernel/base/runreset.h"

namespace {

void resetAll() {
    runResetAll();
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

// Count seeded walks of 26 points, steps of up to 8 from a start within half of the origin.
void randomWalks(Lines* lines, double half, int count) {
    for (int k = 0; k < count; k++) {
        std::vector<Vec3> pts{randomPoint(half)};
        for (int j = 0; j < 25; j++) {
            const Vec3 step = randomPoint(8);
            pts.push_back({pts.back().x + step.x, pts.back().y + step.y, pts.back().z + step.z});
        }
        lines->add(pts);
    }
}

// A seed of the run generator whose first draw is `draw`, found by trying them in turn.
uint32_t seedDrawing(int32_t draw) {
    for (uint32_t s = 0;; s++) {
        Rng r{s};
        if (rngStep(&r) == draw) return s;
    }
}

int leaves(const CollTreeNode* n) {
    return !n ? 0 : (!n->left && !n->right) ? 1 : leaves(n->left) + leaves(n->right);
}

// One seeded swing question (frame, selector, limit) put to the tree, to the exhaustive loop and to
// every end and sample of every edge one by one: the last shares none of the queries' reach filters.
struct TwoAnswers {
    double swing[3];
    int32_t index[2];
    Vec3 hit[2];
};

double pointByPoint(const MeshSet* set, int32_t selector, const Vec3& pivot, const Frame& f, double limit) {
    static const int8_t kPicks[10][5] = {{-1},       {0, -1}, {2, 1, -1}, {0, 1, -1},   {2, -1},
                                         {3, 4, -1}, {0, -1}, {1, -1},    {2, 3, 1, 4}, {0, 2, -1}};
    double angle = 0;
    EXPECT_EQ(meshSetCollide(&pivot, &f.dir, &f.ref, &f.axis, set, 0, &angle, limit), 1);  // the start
    const double w = toolSegSampleWidth();
    for (int k = 0; k < 5 && kPicks[selector][k] >= 0; k++) {
        const CollMesh* m = set->meshes[kPicks[selector][k]];
        for (int32_t e = 0; m && e < m->edgeCount; e++) {
            const Vec3 a = m->vertices[m->edges[e].a].point, b = m->vertices[m->edges[e].b].point;
            std::vector<Vec3> pts{a, b};
            if (m->samples && m->edges[e].sampleCount > 0) {
                for (int32_t j = 0; j < m->edges[e].sampleCount; j++)
                    pts.push_back(m->samples[m->edges[e].firstSample + j]);
            } else {
                const int32_t n = static_cast<int32_t>(std::floor(dist3D(&a, &b) / w)) + 1;
                for (int32_t j = 1; j < n; j++) {
                    const double t = static_cast<double>(j) / n;
                    pts.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)});
                }
            }
            for (const Vec3& q : pts) toolPointTest(&pivot, &f.dir, &f.ref, &f.axis, &q, &angle, limit);
        }
    }
    return angle;
}

TwoAnswers askBoth(const MeshSet* withTree, const MeshSet* plain, const Vec3& pivot, bool third = false) {
    const Frame f = randomFrame();
    const int32_t selector = 1 + rngBelow(9);
    const double limit = 0.2 + 1.3 * rngUniform();  // angles at or below -limit do not count
    TwoAnswers a{};
    for (int k = 0; k < 2; k++) {
        EXPECT_EQ(meshSetCollide(&pivot, &f.dir, &f.ref, &f.axis, k ? plain : withTree, selector, &a.swing[k],
                                 limit),
                  1);
        a.index[k] = meshSetHitPoint(&a.hit[k]);
    }
    a.swing[2] = third ? pointByPoint(plain, selector, pivot, f, limit) : a.swing[1];
    return a;
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
        // The copies are the base turned about z: the second by half the angle, then the base by the
        // angle either way and the second back by it.
        const double turns[5] = {0, 0.25, 0.5, -0.5, -0.25};
        for (int k = 1; k < 5; k++)
            for (int32_t i = 0; i < m->vertexCount; i++) {
                const Vec3 p = m->vertices[i].point, q = set->meshes[k]->vertices[i].point;
                EXPECT_NEAR(q.x, p.x * std::cos(turns[k]) - p.y * std::sin(turns[k]), 1e-9) << k;
                EXPECT_NEAR(q.y, p.x * std::sin(turns[k]) + p.y * std::cos(turns[k]), 1e-9) << k;
            }
        // Leaves are numbered in edge order; an edge that starts none has no leaf.
        std::vector<int32_t> firsts;
        std::vector<const CollTreeNode*> stack{m->tree};
        while (!stack.empty()) {
            const CollTreeNode* node = stack.back();
            stack.pop_back();
            if (node->left)
                stack.push_back(node->right), stack.push_back(node->left);
            else
                firsts.push_back(node->first);
        }
        for (int32_t e = -1; e <= m->edgeCount + 1; e++) {
            const auto at = std::find(firsts.begin(), firsts.end(), e);
            EXPECT_EQ(collMeshLeafAt(m, e),
                      at == firsts.end() ? -1 : static_cast<int32_t>(at - firsts.begin()))
                << e;
        }
        meshSetFree(set);
    }
}

// In a query mode a point the profile meets near the tip (below a tenth of the radius) is out of reach
// for the mesh queries, while the same point higher up is measured.
TEST_F(MeshSetTest, PointsNearTheTipAreOutOfReach) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    const int32_t mode = toolSegProfileSetMode(1);
    const Vec3 pivot{0, 0, 0}, dir{0, 0, 1}, ref{1, 0, 0}, axis{0, -1, 0};
    for (const double z : {0.2, 0.6}) {
        const Vec3 p{5, 0, z};  // on the shank (radius 5), z above the pivot
        double angle = 1.5, plain = 1.5;
        const int profile = toolSegPointTest(&pivot, &dir, &ref, &axis, &p, &plain, 1.5, 1);
        ASSERT_EQ(profile == kToolSegNearTip, z < 0.5) << z;
        EXPECT_EQ(toolPointTest(&pivot, &dir, &ref, &axis, &p, &angle, 1.5), z < 0.5 ? 0 : profile);
        EXPECT_EQ(angle, plain);
        EXPECT_TRUE(z < 0.5 ? angle == 1.5 : angle < 1.5);
    }
    toolSegProfileSetMode(mode);
    // Outside the query modes the rim itself, exactly the reach's least distance away, is measured.
    Lines lines;
    lines.add({{5, 0, 0}, {2.5, 0, 0}});
    MeshSet* set = meshSetFromList(lines.array, 0, 0.0, 1e-3);
    double angle = 1.5;
    EXPECT_TRUE(set && meshSetCollide(&pivot, &dir, &ref, &axis, set, 1, &angle, 1.5) == 1);
    EXPECT_NEAR(angle, 0.0, 1e-12);
    meshSetFree(set);
}

// A point within the tolerance (strictly) of a vertex is that vertex, the lower key first; any other
// goes in at its key's place, moving the later vertices and the edges' indices up; a full mesh takes none.
TEST_F(MeshSetTest, FindVertexMergesBelowTheToleranceInKeyOrder) {
    CollMesh* m = collMeshCreate(4);
    ASSERT_NE(m, nullptr);
    m->tolerance = 0.5;
    const struct {
        Vec3 p;
        int32_t want;
        int inserted;
    } steps[] = {{{1, 0, 0}, 0, 0},   {{1.5, 0, 0}, 1, 0}, {{1.25, 0, 0}, 0, 0}, {{0.5, 0, 0}, 0, 1},
                 {{1, 0.4, 0}, 1, 0}, {{0, 0, 3}, 0, 1},   {{5, 0, 0}, -1, 0}};
    for (const auto& st : steps) {
        if (m->vertexCount == 2 && m->edgeCount == 0) {
            ASSERT_EQ(collMeshFindEdge(m, 0, 1), 1);
        }
        int inserted = 7;
        EXPECT_EQ(collMeshFindVertex(m, &st.p, &inserted), st.want) << st.p.x << " " << st.p.y;
        EXPECT_EQ(inserted, st.inserted) << st.p.x << " " << st.p.y;
    }
    ASSERT_EQ(m->vertexCount, 4);
    const double xs[4] = {0, 0.5, 1, 1.5};
    for (int i = 0; i < 4; i++) {  // keyed by plan distance, linked to nothing
        const CollVertex& v = m->vertices[i];
        EXPECT_TRUE(v.point.x == xs[i] && v.key == xs[i] && v.link == -1 && !v.spare[0] && !v.spare[1]) << i;
    }
    EXPECT_TRUE(m->edgeCount == 1 && m->edges[0].a == 2 && m->edges[0].b == 3);  // still 1 to 1.5
    collMeshFree(m);
    // One put first while the edges fill their room: every edge's ends move up by one.
    CollMesh* full = collMeshCreate(4);
    ASSERT_NE(full, nullptr);
    full->tolerance = 0.5;
    const Vec3 at[3] = {{1, 0, 0}, {2, 0, 0}, {0, 0, 0}};
    ASSERT_TRUE(collMeshFindVertex(full, &at[0], nullptr) == 0 &&
                collMeshFindVertex(full, &at[1], nullptr) == 1);
    for (int32_t e = 0; e < 4; e++) full->edges[e] = CollEdge{e % 2, 1 - e % 2, 0, 0};
    full->edgeCount = 4;
    ASSERT_EQ(collMeshFindVertex(full, &at[2], nullptr), 0);
    for (int32_t e = 0; e < 4; e++)
        EXPECT_TRUE(full->edges[e].a == 1 + e % 2 && full->edges[e].b == 2 - e % 2) << e;
    collMeshFree(full);
}

// The one-pass build of a wire model against edge-by-edge insertion, on seeded points that repeat
// within and beyond the merge tolerance and at their very coordinates, up to an exhausted capacity.
TEST_F(MeshSetTest, OnePassBuildEqualsEdgeByEdge) {
    const double tolerances[] = {0.003, 0.003, 0.003, 0.0};
    for (int n = 0; n < 60; n++) {
        std::vector<Vec3> ends, base;
        for (int i = 0; i < 30; i++) base.push_back(randomPoint(5));
        for (int i = 0; i < 400; i++) {
            const Vec3 b = base[rngBelow(30)], j = randomPoint(rngBelow(2) ? 0.004 : 0.0004);
            ends.push_back(i > 0 && rngBelow(3) == 0 ? ends[rngBelow(i)]
                                                     : Vec3{b.x + j.x, b.y + j.y, b.z + j.z});
        }
        // Coordinates far beyond the tolerance's scale, or not numbers, take the edge-by-edge way.
        if (n % 6 == 4)
            for (Vec3& e : ends) e = {e.x * 1e12, e.y * 1e12, e.z * 1e12};
        if (n % 6 == 5) ends[7].y = NAN;
        const int32_t cap = n % 5 ? 400 : 100;
        CollMesh* single = collMeshCreate(cap);
        single->tolerance = tolerances[n % 4];
        int r = 1;
        for (int32_t i = 0; i < 200 && r > 0; i++)
            r = collMeshAddEdge(single, &ends[2 * i], &ends[2 * i + 1]);
        // With all the memory asked for, then short at a sampled allocation: -1 and nothing written where
        // every end fits the one-pass build's range, else the edge-by-edge mesh, which needs none.
        for (int k = 0; k < 3; k++) {
            CollMesh* bulk = collMeshCreate(cap);
            ASSERT_TRUE(bulk);
            bulk->tolerance = single->tolerance;
            allocfail::arm(k == 0 ? 0 : 1 + rngBelow(k == 1 ? 4 : 60));
            const int got = collMeshAddEdges(bulk, ends.data(), 200);
            const bool none = allocfail::fired() && n % 6 < 4;
            allocfail::disarm();
            EXPECT_EQ(got, none ? -1 : r) << n << " " << k;
            ASSERT_EQ(bulk->vertexCount, none ? 0 : single->vertexCount);
            ASSERT_EQ(bulk->edgeCount, none ? 0 : single->edgeCount);
            for (int32_t i = 0; i < bulk->vertexCount; i++)
                EXPECT_EQ(std::memcmp(&bulk->vertices[i].point, &single->vertices[i].point, sizeof(Vec3)), 0);
            EXPECT_EQ(std::memcmp(bulk->edges, single->edges, sizeof(CollEdge) * bulk->edgeCount), 0);
            collMeshFree(bulk);
        }
        // The same points read as triangles give the mesh of their six ends each.
        std::vector<Triangle3D> tris(ends.size() / 3);
        std::vector<Vec3> sides;
        for (size_t t = 0; t < tris.size(); t++) {
            const Vec3* v = &ends[3 * t];
            tris[t] = {{v[0], v[1], v[2]}};
            sides.insert(sides.end(), {v[0], v[1], v[1], v[2], v[2], v[0]});
        }
        CollMesh *fromTris = collMeshCreate(cap), *fromSides = collMeshCreate(cap);
        ASSERT_TRUE(fromTris && fromSides);
        fromTris->tolerance = fromSides->tolerance = single->tolerance;
        const int32_t count = static_cast<int32_t>(tris.size());
        EXPECT_EQ(collMeshAddTriangleEdges(fromTris, tris.data(), count),
                  collMeshAddEdges(fromSides, sides.data(), 3 * count));
        ASSERT_EQ(fromTris->vertexCount, fromSides->vertexCount);
        ASSERT_EQ(fromTris->edgeCount, fromSides->edgeCount);
        for (int32_t i = 0; i < fromTris->vertexCount; i++) {
            const CollVertex &x = fromTris->vertices[i], &y = fromSides->vertices[i];
            EXPECT_EQ(std::memcmp(&x.point, &y.point, sizeof(Vec3)), 0);
            EXPECT_EQ(std::memcmp(&x.key, &y.key, sizeof(double)), 0);
        }
        EXPECT_EQ(std::memcmp(fromTris->edges, fromSides->edges, sizeof(CollEdge) * fromTris->edgeCount), 0);
        collMeshFree(fromTris);
        collMeshFree(fromSides);
        collMeshFree(single);
    }
    // Capacities that run out at an edge's second end, a new point after a known one, or at its first end
    // before a known one (no edge to nowhere); tolerances whose extents of 1e12 tolerances (or squares)
    // leave the one-pass build's range; a point within the tolerance of two whose first met in the cells
    // is not the one to take (keys above, keys below, equal keys below and above: the first stored, the
    // last stored); memory short for the one-pass build (-1, nothing written), which ends out of its
    // range never need.
    const std::vector<Vec3> chain = {{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2, 0, 0}, {3, 0, 0}};
    const Vec3 o{0, 0, 0}, x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1}, nan{NAN, 0, 0};
    const std::vector<Vec3> pairs = {o, x, o, y, o, z, x, y, x, z, y, z}, nanChain = {nan, x, x, y};
    const double tiny = std::numeric_limits<double>::denorm_min(), big = 1e12 * tiny;
    const std::vector<Vec3> tinyEnds = {{big, 0, 0},    {4e-312, 0, 0}, {big, 0, 0},
                                        {1e-313, 0, 0}, {big, 0, 0},    {2e-320, 0, 0}};
    const struct {
        int32_t cap;
        double tol;
        std::vector<Vec3> ends;
        int r;
        bool starved;
    } rows[] = {{1, 0, chain, -1, false},
                {3, 0, chain, -1, false},
                {4, 0, pairs, -1, false},
                {2, 0.5, {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 0, 0}}, -1, false},
                {4, tiny, tinyEnds, 1, false},
                {4, NAN, chain, -1, false},
                {2, 0, {{1, 0, 0}, {std::nextafter(1.0, 2.0), 0, 0}}, 1, false},  // keys a last bit apart
                {4, 1, {{15.8, 0, 0}, {16.4, 0.85, 0}, {15.75, 0.45, 0}, {100, 0, 0}}, 1, false},
                {4, 1, {{10, 7.5, 0}, {9.2, 8.2, 0}, {10, 8.3, 0}, {100, 0, 0}}, 1, false},
                {4, 1, {{7, 8, 0}, {8, 7, 0}, {7.6, 7.6, 0}, {100, 0, 0}}, 1, false},
                {4, 1, {{8, 7, 0}, {7, 8, 0}, {7.3, 7.3, 0}, {100, 0, 0}}, 1, false},
                {4, 1.5e307, {{-1, 0, 0}, {1, 0, 0}, {1, 0, 0}, {3, 0, 0}}, 1, false},  // reach near overflow
                {6, 1e-3, chain, 1, true},
                {6, 0, chain, 1, true},
                {6, 1e-3, nanChain, 1, true}};
    for (const auto& c : rows) {
        CollMesh *bulk = collMeshCreate(c.cap), *single = collMeshCreate(c.cap);
        ASSERT_TRUE(bulk && single);
        bulk->tolerance = single->tolerance = c.tol;
        const int32_t n = static_cast<int32_t>(c.ends.size() / 2);
        int r = 1;
        for (int32_t i = 0; i < n && r > 0; i++)
            r = collMeshAddEdge(single, &c.ends[2 * i], &c.ends[2 * i + 1]);
        EXPECT_EQ(r, c.r);
        allocfail::arm(c.starved);
        const int got = collMeshAddEdges(bulk, c.ends.data(), n);
        allocfail::disarm();
        const bool none = c.starved && c.ends[0].x == 0;
        EXPECT_EQ(got, none ? -1 : c.r) << c.cap << " " << c.tol;
        ASSERT_EQ(bulk->vertexCount, none ? 0 : single->vertexCount) << c.tol;
        ASSERT_EQ(bulk->edgeCount, none ? 0 : single->edgeCount) << c.tol;
        EXPECT_EQ(std::memcmp(bulk->edges, single->edges, sizeof(CollEdge) * bulk->edgeCount), 0);
        for (int32_t i = 0; i < bulk->vertexCount; i++)
            EXPECT_EQ(std::memcmp(&bulk->vertices[i].point, &single->vertices[i].point, sizeof(Vec3)), 0);
        collMeshFree(bulk);
        collMeshFree(single);
    }
}

namespace meshtreetest {

// The tree as plainly built: the box end by end, the longer side's median by the three-way scan with
// the generator's pivots, comparing the key sums taken from the points at every step.
struct PlainTree {
    const CollMesh* mesh;
    std::vector<CollEdge> edges;
    std::vector<std::vector<double>> nodes;  // preorder: box, first, last

    double key(int32_t i, int c) const {
        return (&mesh->vertices[edges[i].a].point.x)[c] + (&mesh->vertices[edges[i].b].point.x)[c];
    }
    void build(int32_t first, int32_t last) {
        std::vector<double> box = {1e35, -1e35, 1e35, -1e35, 1e35, -1e35};
        for (int32_t i = first; i <= last; i++)
            for (const int32_t v : {edges[i].a, edges[i].b})
                for (int c = 0; c < 3; c++) {
                    const double x = (&mesh->vertices[v].point.x)[c];
                    box[2 * c] = std::min(box[2 * c], x), box[2 * c + 1] = std::max(box[2 * c + 1], x);
                }
        box.insert(box.end(), {double(first), double(last)});
        nodes.push_back(box);
        if (last - first + 1 < kCollMeshLeafEdges) return;
        const double ex = box[1] - box[0], ey = box[3] - box[2], ez = box[5] - box[4];
        const int c = (ex > ey && ex > ez) ? 0 : (ey >= ex && ey > ez) ? 1 : 2;
        const int32_t m = first + (last - first) / 2;
        for (int32_t lo = first, hi = last; lo < hi;) {
            const double pivot = key(lo + int32_t(int64_t(rngNext()) * (hi - lo) / kRngMax), c);
            int32_t lt = lo, i = lo, gt = hi;
            while (i <= gt) {
                const double k = key(i, c);
                if (k < pivot)
                    std::swap(edges[lt++], edges[i++]);
                else if (k > pivot)
                    std::swap(edges[gt--], edges[i]);
                else
                    i++;
            }
            if (m >= lt && m <= gt) break;
            (m < lt ? hi : lo) = m < lt ? lt - 1 : gt + 1;
        }
        build(first, m), build(m + 1, last);
    }
};

}  // namespace meshtreetest
using namespace meshtreetest;

// A leaf's box is the running std::min / std::max over its edges' ends in edge order (bit for bit,
// so the sign a zero keeps is the first end's), an inner node's holds the same values; and the whole
// tree (edge order, ranges, boxes, the generator's draws) is the plain build's; seeded meshes whose
// coordinates repeat, zeros of both signs among them, now and then a NaN.
TEST_F(MeshSetTest, TreeBoxesAreTheRunningExtremesOfTheirEnds) {
    const double values[] = {0.0, -0.0, 1.0, -1.0, 2.5};
    for (int n = 0; n < 120; n++) {
        collMeshUseWide(n % 2);  // the processor's wide compares and the narrow ones alike
        // A third of the runs start at a pivot on the run's last element (or its first), the run of odd
        // length: the last one then falls to the scan's single tail compare.
        const bool endPivot = n % 12 < 4;
        const int32_t vertices = 20 + rngBelow(n % 3 ? 2000 : 200);
        const int32_t edges = endPivot ? 101 + 2 * rngBelow(300) : 1 + rngBelow(n % 3 ? 4000 : 900);
        CollMesh* mesh = collMeshCreate(std::max(vertices, edges));
        ASSERT_TRUE(mesh);
        for (int32_t v = 0; v < vertices; v++) {
            double c[3];
            for (double& x : c)
                x = rngBelow(n % 3 ? 50 : 3) ? 2 * rngUniform() - 1 : values[rngBelow(n % 2 ? 5 : 2)];
            if (n % 7 == 3 && rngBelow(500) == 0) c[rngBelow(3)] = std::nan("");
            if (n % 9 == 5)  // far out, yet below the boxes' starting extremes of 1e35
                for (double& x : c) x = 3e34 + 1e34 * x;
            if (n % 9 == 7)  // beyond them (x above, y below), z at times on 0 of either sign or above
                c[0] = 3e35 + 1e35 * c[0], c[1] = -3e35 - 1e35 * c[1],
                c[2] = n % 4 == 3 || (n % 4 == 1 && rngBelow(2)) ? values[rngBelow(2)]
                       : n % 4 == 1                              ? std::fabs(c[2])
                                                                 : c[2];
            mesh->vertices[v].point = {c[0], c[1], c[2]};
        }
        for (int32_t e = 0; e < edges; e++) {
            const int32_t a = rngBelow(vertices - 1);
            mesh->edges[e] = CollEdge{a, a + 1 + rngBelow(vertices - 1 - a), 0, 0};
        }
        mesh->vertexCount = vertices, mesh->edgeCount = edges;
        PlainTree plain{mesh, std::vector<CollEdge>(mesh->edges, mesh->edges + edges), {}};
        const uint32_t seed =
            endPivot ? seedDrawing(n % 12 < 2 ? kRngMax : 0) : static_cast<uint32_t>(rngNext());
        rngSeed(seed);
        plain.build(0, edges - 1);
        const int32_t plainDraw = rngNext();
        rngSeed(seed);
        ASSERT_EQ(collMeshTreeBuildOne(mesh), 1);
        ASSERT_TRUE(mesh->treePoints && mesh->treeEnds);
        EXPECT_EQ(rngNext(), plainDraw) << n;
        EXPECT_EQ(std::memcmp(plain.edges.data(), mesh->edges, sizeof(CollEdge) * edges), 0) << n;
        for (int32_t i = 0; i < 2 * edges; i++) {
            const CollEdge& e = mesh->edges[i / 2];
            ASSERT_TRUE(mesh->treeEnds[i] >= 0 && mesh->treeEnds[i] < vertices);
            EXPECT_EQ(std::memcmp(&mesh->treePoints[mesh->treeEnds[i]],
                                  &mesh->vertices[i % 2 ? e.b : e.a].point, sizeof(Vec3)),
                      0);
        }
        std::vector<const CollTreeNode*> stack{mesh->tree};
        for (size_t k = 0; !stack.empty(); k++) {
            const CollTreeNode* node = stack.back();
            stack.pop_back();
            ASSERT_LT(k, plain.nodes.size());
            EXPECT_EQ(std::memcmp(&node->xmin, plain.nodes[k].data(), 6 * sizeof(double)), 0)
                << n << " " << k;
            EXPECT_EQ(node->first, plain.nodes[k][6]);
            EXPECT_EQ(node->last, plain.nodes[k][7]);
            double box[6] = {1e35, -1e35, 1e35, -1e35, 1e35, -1e35};
            for (int32_t i = node->first; i <= node->last; i++)
                for (const int32_t v : {mesh->edges[i].a, mesh->edges[i].b})
                    for (int c = 0; c < 3; c++) {
                        const double x = (&mesh->vertices[v].point.x)[c];
                        box[2 * c] = std::min(box[2 * c], x), box[2 * c + 1] = std::max(box[2 * c + 1], x);
                    }
            if (!node->left) {
                EXPECT_EQ(std::memcmp(box, &node->xmin, sizeof box), 0) << n;
                continue;
            }
            // The split has moved an inner node's edges since its box was taken: equal values only.
            for (int c = 0; c < 6; c++) EXPECT_EQ(box[c], (&node->xmin)[c]) << n;
            stack.push_back(node->right), stack.push_back(node->left);
        }
        collMeshFree(mesh);
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
        // The assembly's contour decides; with heights out of order its rule of segments differs.
        ToolDescription u = t;
        if (n % 4 == 3) u.chamferTop = 0, u.stage2Top = u.cutterTop - 5;
        if (n % 2) toolAssemblyCreate(&u, nullptr, 0, 0.01, 0);
        Lines lines;
        const double half = 40 + 120 * rngUniform();
        randomWalks(&lines, half, 12);
        const double angle = 0.3 + rngUniform();
        MeshSet* withTree = meshSetFromList(lines.array, 1, angle, 1e-3);
        MeshSet* plain = meshSetFromList(lines.array, 1, angle, 1e-3);
        ASSERT_TRUE(withTree && plain);
        for (CollMesh* m : plain->meshes) {
            // Without the tree's point numbering too: the loop reads the vertices themselves.
            collMeshTreeFree(std::exchange(m->tree, nullptr));
            std::free(std::exchange(m->treePoints, nullptr));
            std::free(std::exchange(m->treeEnds, nullptr));
        }
        const TwoAnswers a = askBoth(withTree, plain, randomPoint(half / 2), n % 2 == 0);
        EXPECT_EQ(a.swing[0], a.swing[1]) << n;
        EXPECT_NEAR(a.swing[1], a.swing[2], 1e-12) << n;
        EXPECT_EQ(a.index[0], a.index[1]) << n;
        EXPECT_TRUE(a.hit[0].x == a.hit[1].x && a.hit[0].y == a.hit[1].y && a.hit[0].z == a.hit[1].z) << n;
        hits += a.index[0] >= 0;
        meshSetFree(withTree);
        meshSetFree(plain);
    }
    EXPECT_GT(hits, 60);
}

// Asked only below an angle, a swing query answers the full query's angle when that lies below it,
// else the angle itself (seeded wire sets, tools and frames; the tree's and the loop's sets alike).
TEST_F(MeshSetTest, QueriesBelowAnAngleCapTheFullAnswer) {
    int below = 0;
    for (int n = 0; n < 200; n++) {
        const ToolDescription t = randomTool();
        toolSegProfileInit(&t, 2 * rngUniform(), 0.02);
        Lines lines;
        const double half = 40 + 120 * rngUniform();
        randomWalks(&lines, half, 8);
        MeshSet* set = meshSetFromList(lines.array, 1, 0.3 + rngUniform(), 1e-3);
        ASSERT_TRUE(set);
        const Vec3 pivot = randomPoint(half / 2);
        const Frame f = randomFrame();
        const int32_t selector = 1 + rngBelow(9);
        const double limit = 0.2 + 1.3 * rngUniform(), cap = -0.5 + 1.5 * rngUniform();
        double full = 0, capped = 0;
        ASSERT_EQ(meshSetCollide(&pivot, &f.dir, &f.ref, &f.axis, set, selector, &full, limit), 1);
        ASSERT_EQ(meshSetCollideBelow(&pivot, &f.dir, &f.ref, &f.axis, set, selector, cap, &capped, limit),
                  1);
        EXPECT_EQ(capped, std::min(full, cap)) << n;
        below += full < cap;
        double again = 0;  // the cap does not stay behind
        ASSERT_EQ(meshSetCollide(&pivot, &f.dir, &f.ref, &f.axis, set, selector, &again, limit), 1);
        EXPECT_EQ(again, full);
        meshSetFree(set);
    }
    EXPECT_GT(below, 20);
}

// Seeded bent (or flat) grids with their diagonals, tilted at random, whose leaves fill little of their
// axis-aligned boxes: the tree queries (which then take the leaves' turned boxes) give the exhaustive
// loop's answer, and every turned box taken holds the ends of its leaf's edges, flat for a flat grid.
TEST_F(MeshSetTest, LeafHullsHoldTheirEndsAndKeepTheAnswer) {
    int taken = 0, hits = 0;
    for (int n = 0; n < 24; n++) {
        const ToolDescription t = randomTool();
        toolSegProfileInit(&t, 2 * rngUniform(), 0.02);
        const Frame g = randomFrame();  // the grid spans dir and ref and bends along axis
        const Vec3 o{30 + 30 * rngUniform(), 20 * rngUniform() - 10, 20 * rngUniform()};
        const double step = 0.4 + 1.2 * rngUniform(), bend = (n % 4 ? 0.03 : 0.0) * rngUniform();
        const int size = 30 + rngBelow(12);  // points a side
        const auto at = [&](int i, int j) {
            const double u = (i - size / 2) * step, v = (j - size / 2) * step, w = bend * (u * u + v * v);
            return Vec3{o.x + u * g.dir.x + v * g.ref.x + w * g.axis.x,
                        o.y + u * g.dir.y + v * g.ref.y + w * g.axis.y,
                        o.z + u * g.dir.z + v * g.ref.z + w * g.axis.z};
        };
        Lines lines;
        for (int i = 0; i < size; i++) {
            std::vector<Vec3> row, column, diagonal, other;
            for (int j = 0; j < size; j++) row.push_back(at(i, j)), column.push_back(at(j, i));
            for (int j = 0; i + j < size; j++)
                diagonal.push_back(at(i + j, j)), other.push_back(at(j, i + j));
            for (const auto* l : {&row, &column, &diagonal, &other}) lines.add(*l);
        }
        const double angle = 0.3 + rngUniform();
        MeshSet* withTree = meshSetFromList(lines.array, 1, angle, 1e-3);
        MeshSet* plain = meshSetFromList(lines.array, 1, angle, 1e-3);
        ASSERT_TRUE(withTree && plain);
        for (CollMesh* m : plain->meshes) collMeshTreeFree(std::exchange(m->tree, nullptr));
        for (int q = 0; q < 25; q++) {
            const Vec3 c = at(rngBelow(size), rngBelow(size)), off = randomPoint(12);
            const TwoAnswers a = askBoth(withTree, plain, {c.x + off.x, c.y + off.y, c.z + off.z});
            EXPECT_TRUE(a.swing[0] == a.swing[1] && a.index[0] == a.index[1]) << n << " " << q;
            hits += a.index[0] >= 0;
        }
        for (const CollMesh* m : withTree->meshes) {
            ASSERT_TRUE(m && m->tree && m->leafHulls && m->leafHullState);
            std::vector<const CollTreeNode*> stack{m->tree};
            while (!stack.empty()) {
                const CollTreeNode* node = stack.back();
                stack.pop_back();
                const int32_t leaf = collMeshLeafAt(m, node->first);
                if (node->left) stack.push_back(node->left), stack.push_back(node->right);
                ASSERT_TRUE(node->left || leaf >= 0);
                if (node->left || m->leafHullState[leaf] != 1) continue;
                const CollLeafHull& h = m->leafHulls[leaf];
                taken++;
                // Held and tight: along each axis the ends reach both faces, up to the growth for rounding.
                double reach[6] = {0, 0, 0, 0, 0, 0};
                for (int32_t i = node->first; i <= node->last; i++)
                    for (const int32_t v : {m->edges[i].a, m->edges[i].b}) {
                        const Vec3& p = m->vertices[v].point;
                        const Vec3 d{p.x - h.centre.x, p.y - h.centre.y, p.z - h.centre.z};
                        for (int k = 0; k < 3; k++) {
                            const double t = vecDot3D(&d, &h.axis[k]);
                            EXPECT_LE(std::fabs(t), h.half[k]) << n << " " << leaf;
                            reach[k] = std::max(reach[k], t), reach[k + 3] = std::max(reach[k + 3], -t);
                        }
                    }
                const double size =
                    std::max({std::fabs(node->xmin), std::fabs(node->xmax), std::fabs(node->ymin),
                              std::fabs(node->ymax), std::fabs(node->zmin), std::fabs(node->zmax)});
                for (int k = 0; k < 6; k++) EXPECT_GE(reach[k], h.half[k % 3] - 2e-9 * size - 1e-11) << n;
                // The principal axes of a flat patch hold its normal: across it the box is its growth alone.
                if (bend == 0) {
                    EXPECT_LT(std::min({h.half[0], h.half[1], h.half[2]}), 2e-9 * size + 1e-11)
                        << n << " " << leaf;
                }
            }
        }
        meshSetFree(withTree);
        meshSetFree(plain);
    }
    EXPECT_GT(taken, 1200);
    EXPECT_GT(hits, 180);
}

// 200 seeded tools, each in a seeded frame about the origin, with 200 point indices k each.
template <class Check>
void forSeededToolPoints(Check check) {
    for (int n = 0; n < 200; n++) {
        const ToolDescription t = randomTool();
        toolSegProfileInit(&t, 2 * rngUniform(), 0.02);
        const Frame f = randomFrame();
        for (int k = 0; k < 200; k++) check(t, f, n, k);
    }
}

// The bound of the angle taken off, over a distance range and off the swing plane by at least sMin,
// against the point test itself on seeded points, many of them near the profile's radius (s = rho),
// tapered tools reaching below the tip's height among them: it is never exceeded, and -1 (no reach)
// only where the test reaches nothing. With positive radii no point's angle exceeds its polar angle.
TEST_F(MeshSetTest, HalfAngleBoundHoldsOffTheSwingPlane) {
    int reached = 0;
    const Vec3 pivot{0, 0, 0};
    forSeededToolPoints([&](const ToolDescription& t, const Frame& f, int n, int k) {
        const double d = t.stage4Top * 1.1 * rngUniform(), s = d * (2 * rngUniform() - 1);
        const double lat = std::sqrt(d * d - s * s), phi = 2 * M_PI * rngUniform();
        const double a = lat * std::cos(phi), b = lat * std::sin(phi);
        const Vec3 p{a * f.dir.x + b * f.ref.x + s * f.axis.x, a * f.dir.y + b * f.ref.y + s * f.axis.y,
                     a * f.dir.z + b * f.ref.z + s * f.axis.z};
        double angle;
        const int r = toolSegPointAngle(&pivot, &f.dir, &f.ref, &f.axis, &p, 0, &angle);
        const double d2 = d * d, sMin = std::fabs(s) * (k % 3 ? rngUniform() : 1.0);
        const double d2lo = d2 * (1 - 0.3 * rngUniform()), d2hi = d2 * (1 + rngUniform());
        const double bound = toolSegHalfAngleBound(d2lo, d2hi, sMin);
        // The tabulated bound over the same ranges, where the table answers.
        const ToolSegTakeoff* table = toolSegTakeoff();
        ASSERT_TRUE(table);
        const double tabled = toolSegTakeoffOver(table, d2lo, d2hi, sMin);
        if (r != kToolSegReach) return;
        reached++;
        const double polar = std::atan2(b, a);
        ASSERT_GE(bound, 0.0) << n << " " << k;
        EXPECT_LE(polar - angle, bound + 1e-9) << n << " " << k;
        EXPECT_TRUE(std::isnan(tabled) || polar - angle <= tabled + 1e-9) << n << " " << k;
        if (toolSegMinRadius() > 1e-6) {
            EXPECT_LE(angle, polar + 1e-9) << n << " " << k;
        }
    });
    EXPECT_GT(reached, 5000);
}

// Ranges that meet the swing plane (sMin = 0, every bin's slot 0) against the largest bound over the
// table's own cells bin by bin: the same value, also for ranges past either end of the table and for
// a single distance.
TEST_F(MeshSetTest, TakeoffOverThePlaneIsTheLargestCellBound) {
    for (int n = 0; n < 300; n++) {
        const ToolDescription t = randomTool();
        toolSegProfileInit(&t, 2 * rngUniform(), 0.02);
        const ToolSegTakeoff* table = toolSegTakeoff();
        ASSERT_TRUE(table);
        for (int k = 0; k < 300; k++) {
            const double top = t.stage4Top * 1.2, d2lo = std::pow(top * rngUniform(), 2);
            // Every fifth range a single distance.
            const double d2hi = k % 5 == 0 ? d2lo
                                : k % 4    ? d2lo * (1 + rngUniform() * rngUniform())
                                           : std::max(d2lo, top * top * rngUniform());
            const auto binOf = [&](double d2) {
                const int64_t key = std::bit_cast<uint32_t>(static_cast<float>(d2)) >> ToolSegTakeoff::kShift;
                return std::clamp<int64_t>(key - table->base, -1, table->bins);
            };
            double plain = -1.0;
            for (int64_t i = std::max<int64_t>(binOf(d2lo), 0);
                 i <= std::min<int64_t>(binOf(d2hi), table->bins - 1); i++) {
                const double off = table->bound[i * ToolSegTakeoff::kSlots];
                plain = std::isnan(off) ? NAN : std::max(plain, off);  // a NaN stays
            }
            const double got = toolSegTakeoffOver(table, d2lo, d2hi, 0.0);
            if (std::isnan(plain))
                EXPECT_TRUE(std::isnan(got)) << n << " " << k;
            else
                EXPECT_EQ(got, plain) << n << " " << k;
        }
    }
}

// The point test's cheap lower bound: never above the angle the arc functions give, given only when
// it is not below the floor asked, the angle itself otherwise; its arc tangent against the library's
// in every quadrant, near the axes and on signed zeros.
TEST_F(MeshSetTest, AngleBoundStaysBelowTheMeasuredAngle) {
    int bounded = 0, measured = 0, tabledOut = 0;
    const Vec3 pivot{0, 0, 0};
    forSeededToolPoints([&](const ToolDescription& t, const Frame& f, int n, int k) {
        // Half of the points at a seeded distance and offset from the swing plane, so that many lie
        // near the edges of the tabulated distance and offset bins.
        const double d = t.stage4Top * 1.1 * rngUniform(), s = d * (2 * rngUniform() - 1);
        const double lat = std::sqrt(d * d - s * s), phi = 2 * M_PI * rngUniform();
        const double u = lat * std::cos(phi), v = lat * std::sin(phi);
        const Vec3 p =
            k % 2 ? randomPoint(t.stage4Top * 1.1)
                  : Vec3{u * f.dir.x + v * f.ref.x + s * f.axis.x, u * f.dir.y + v * f.ref.y + s * f.axis.y,
                         u * f.dir.z + v * f.ref.z + s * f.axis.z};
        double angle, bound, own;
        const int r = toolSegPointAngle(&pivot, &f.dir, &f.ref, &f.axis, &p, 0, &angle);
        const double floor =
            (r == kToolSegReach ? angle : 0.0) + (k % 4 ? 1.0 : 1e-5) * (2 * rngUniform() - 1);
        const int q = toolSegPointAngleFrom(&pivot, &f.dir, &f.ref, &f.axis, &p, 0, floor, &bound);
        // The table calls out of reach only what the test finds out of reach.
        double tabledBound;
        const int told =
            toolSegTakeoffTest(toolSegTakeoff(), &pivot, &f.dir, &f.ref, &f.axis, &p, floor, &tabledBound);
        tabledOut += told == kTakeoffOut;
        EXPECT_TRUE(told != kTakeoffOut || r != kToolSegReach) << n << " " << k;
        if (r != kToolSegReach) {
            // Out of reach: no angle, so any bound holds; one is given only when not below the floor.
            EXPECT_TRUE(q == r || (q == kToolSegAbove && bound >= floor)) << n << " " << k;
        } else if (q == kToolSegAbove) {
            bounded++;
            EXPECT_TRUE(bound >= floor && bound <= angle) << n << " " << k;
        } else {
            measured++;
            ASSERT_EQ(q, kToolSegReach);
            EXPECT_EQ(bound, angle);
        }
        // Untabled, the bound is within 1e-5 of the angle: given for any floor below that, measured above.
        const int w = r == kToolSegReach
                          ? toolSegPointAngleUntabled(&pivot, &f.dir, &f.ref, &f.axis, &p, 0, floor, &own)
                          : r;
        EXPECT_TRUE(w == kToolSegAbove
                        ? own >= floor && own <= angle && own > angle - 1e-5
                        : w == r && (r != kToolSegReach || (own == angle && floor > angle - 1e-5)))
            << n << " " << k;
    });
    EXPECT_GT(bounded, 1000);
    EXPECT_GT(measured, 1000);
    EXPECT_GT(tabledOut, 1000);
    const double scales[] = {1.0, 1e-9, 1e-300, 0.0};
    for (int k = 0; k < 100000; k++) {
        const double y = (2 * rngUniform() - 1) * scales[k % 4],
                     x = (2 * rngUniform() - 1) * scales[k / 4 % 3];
        for (const double sy : {y, -y})
            for (const double sx : {x, -x})
                if (sx != 0.0 || sy != 0.0) {
                    EXPECT_NEAR(toolSegAtan2Near(sy, sx), std::atan2(sy, sx), 1e-7);
                }
    }
}

// The swing query measures each vertex once and reuses its angle for every edge that ends there: its
// answer is still the one edge-by-edge tests give, one edge at a time against the running angle; the
// first query after the reset gives the point-by-point answer.
TEST_F(MeshSetTest, SharedVerticesGiveTheEdgeByEdgeAnswer) {
    // The first query after the reset: an edge shorter than the sampling width (about 0.22), only its ends
    // count; then one longer, whose middle sample is the first met; one exactly the width (half 0 in
    // the table) takes its middle sample too. Inside the shaft the middle's angle lies below zero: with the
    // limit right at it, it no longer counts.
    for (const auto& [row, x] : {std::pair{0.05, 6.0}, {0.15, 6.0}, {0.15, 4.9}, {0.05, 4.9}, {0.0, 6.0}}) {
        const ToolDescription t = stackedTool();
        toolSegProfileInit(&t, 0, 0.005);
        const double half = row > 0 ? row : toolSegSampleWidth() / 2;
        Lines lines;
        lines.add({{x, half, 30}, {x, -half, 30}});
        MeshSet* set = meshSetFromList(lines.array, 0, 0.0, 1e-3);
        ASSERT_NE(set, nullptr);
        const Vec3 pivot{0, 0, 0};
        const Frame f{{0, 0, 1}, {1, 0, 0}, {0, -1, 0}};
        double swing = 0;
        ASSERT_EQ(meshSetCollide(&pivot, &f.dir, &f.ref, &f.axis, set, 1, &swing, 1.5), 1);
        EXPECT_LT(swing, 1.5);
        Vec3 hit{};
        EXPECT_TRUE(meshSetHitPoint(&hit) >= 0 && std::fabs(hit.y) == (half < 0.1 ? half : 0.0)) << hit.y;
        EXPECT_EQ(swing, pointByPoint(set, 1, pivot, f, 1.5));
        double at = 0;
        ASSERT_EQ(meshSetCollide(&pivot, &f.dir, &f.ref, &f.axis, set, 1, &at, -swing), 1);
        EXPECT_TRUE(x > 5 || (at > swing && at == pointByPoint(set, 1, pivot, f, -swing)))
            << swing << " " << at;
        meshSetFree(set);
    }
    int hits = 0;
    for (int n = 0; n < 100; n++) {
        const ToolDescription t = randomTool();
        toolSegProfileInit(&t, 2 * rngUniform(), 0.02);
        Lines lines;
        const double half = 30 + 60 * rngUniform();
        for (int k = 0; k < 12; k++) {
            // Lines through a few shared points, so that many edges meet at one vertex.
            std::vector<Vec3> pts{randomPoint(half)};
            for (int j = 0; j < 25; j++) pts.push_back(j % 5 == 4 ? Vec3{0, 0, 0} : randomPoint(half));
            lines.add(pts);
        }
        MeshSet* set = meshSetFromList(lines.array, 1, 0.5, 1e-3);
        ASSERT_TRUE(set && set->meshes[0]);
        const Vec3 pivot = randomPoint(half / 2);
        const Frame f = randomFrame();
        double swing = 0;
        ASSERT_EQ(meshSetCollide(&pivot, &f.dir, &f.ref, &f.axis, set, 1, &swing, 1.5), 1);
        double angle = 1.5;
        const CollMesh* m = set->meshes[0];
        for (int32_t e = 0; e < m->edgeCount; e++)
            ASSERT_GE(collMeshEdgeTest(m, e, &pivot, &f.dir, &f.ref, &f.axis, &angle, 1.5), 0);
        EXPECT_EQ(swing, angle) << n;
        hits += angle < 1.5;
        meshSetFree(set);
    }
    EXPECT_GT(hits, 20);
}

// One long edge through the tool among a hundred far edges, its ends far out of reach and on one side of
// the swing plane, so that neither box corners nor edge ends are within reach: through the shaft, and
// beside the head just within its radius from the swing plane.
TEST_F(MeshSetTest, EdgeCrossingTheToolBetweenFarEnds) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    const Vec3 pivot{0, 0, 0}, dir{0, 0, 1}, ref{1, 0, 0}, axis{0, -1, 0}, toward{1, 0, 0};
    // (y at either end, z): the last one crosses the swing plane, its ends far off the slab either way.
    for (const Vec3 yz : {Vec3{2, 2, 30}, Vec3{-14.9, -14.9, 95}, Vec3{100, -100, 30}}) {
        Lines lines;
        for (int k = 0; k < 150; k++) lines.add({{-200.0 + k, 150.0 + k, 0}, {-199.0 + k, 151.0 + k, 0}});
        lines.add({{-200, yz.x, yz.z}, {200, yz.y, yz.z}});
        MeshSet* set = meshSetFromList(lines.array, 0, 0.0, 1e-3);
        ASSERT_TRUE(set && leaves(set->meshes[0]->tree) > 1);
        const CollMesh* m = set->meshes[0];
        for (int32_t e = 0; e < m->edgeCount; e++) {  // a far edge: out of reach, ends and middle alike
            double far = 1.5;
            const int r = collMeshEdgeTest(m, e, &pivot, &dir, &ref, &axis, &far, 1.5);
            EXPECT_TRUE(r == 0 || m->vertices[m->edges[e].a].point.z != 0) << e;
        }
        double angle = 0, best = 1.5, depth = -1;
        ASSERT_EQ(meshSetCollide(&pivot, &dir, &ref, &axis, set, 1, &angle, 1.5), 1);
        EXPECT_EQ(meshSetHitIndex(), 0);
        for (int i = 0; i <= 400000; i++) {  // a dense walk along the edge with the point test itself
            const Vec3 p{-200 + 0.001 * i, yz.x + (yz.y - yz.x) * i / 400000, yz.z};
            toolSegPointTest(&pivot, &dir, &ref, &axis, &p, &best, 1.5, 1);
        }
        EXPECT_LT(best, 0.0);
        EXPECT_NEAR(angle, best, 5e-3);  // within what the sampling width resolves
        ASSERT_EQ(meshSetCollideAll(&pivot, &dir, &toward, set, 1, &depth), 1);
        EXPECT_GT(depth, 0.0);
        meshSetFree(set);
    }
}

// An edge in reach that would take more than 1e7 samples fails the query: with the tree and its given
// samples (the edge first, in the left leaf), with the bounded search, and without a tree. So does one
// of no length (kept at tolerance 0) at the pivot before a profile gives the sampling width.
TEST_F(MeshSetTest, EdgesThatCannotBeSampledFailTheQuery) {
    const Vec3 pivot{0, 0, 0}, dir{0, 0, 1}, ref{1, 0, 0}, axis{0, -1, 0}, at[2] = {};
    for (int k = 0; k < 5; k++) {
        const ToolDescription t = stackedTool();
        toolSegProfileInit(&t, 0, 0.005);  // a width of about 0.22
        double in2, out2, radius;
        toolSegReach(&in2, &out2, &radius);
        // The fourth line passes beyond the reach: it is never sampled, so nothing fails. The last lies
        // on the slab's boundary (the radius and its hair of slack off the swing plane): still sampled.
        const double z = k == 3 ? 1.5 * std::sqrt(out2) : 30,
                     y = k == 4 ? -(radius * (1 + 1e-12) + 1e-12) : 2;
        Lines lines;
        lines.add({{-2e6, y, z}, {2e6, y, z}});
        for (int e = 0; e < 150; e++) lines.add({{150.0 + e, 150.0 + e, 0}, {151.0 + e, 151.0 + e, 0}});
        MeshSet* set = meshSetFromList(lines.array, 0, 0.0, 1e-3);
        ASSERT_TRUE(set && leaves(set->meshes[0]->tree) == 2);
        if (k == 0) set->meshes[0]->samples = static_cast<Vec3*>(std::calloc(1, sizeof(Vec3)));
        if (k == 2)
            for (CollMesh* m : set->meshes)
                if (m) collMeshTreeFree(std::exchange(m->tree, nullptr));
        double angle = 0;
        EXPECT_EQ(meshSetCollide(&pivot, &dir, &ref, &axis, set, 1, &angle, 1.5), k == 3 ? 1 : -1) << k;
        meshSetFree(set);
    }
    toolSegResetState();
    MeshSet* bare = meshSetCreate(1, 2);
    ASSERT_TRUE(bare && collMeshAddEdges(bare->meshes[0], at, 1) == 1 && bare->meshes[0]->edgeCount == 1);
    double angle = 0;
    EXPECT_EQ(meshSetCollide(&pivot, &dir, &ref, &axis, bare, 1, &angle, 1.5), -1);
    meshSetFree(bare);
    // One ending 1 short of the pivot, on a line through it, is out of reach: nothing to sample.
    const Vec3 shy[2] = {{0, 0, 0}, {1, 0, 0}}, beyond{2, 0, 0};
    MeshSet* apart = meshSetCreate(1, 2);
    ASSERT_TRUE(apart && collMeshAddEdges(apart->meshes[0], shy, 1) == 1);
    EXPECT_EQ(meshSetCollide(&beyond, &dir, &ref, &axis, apart, 1, &angle, 1.5), 1);
    meshSetFree(apart);
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
        Vec3 hit{7, 7, 7};  // a miss clears the last hit's point to the origin
        EXPECT_TRUE(c[1] >= 0 || (angle == 1.5 && meshSetHitPoint(&hit) == -1 && vecLen3D(&hit) == 0));
    }
    // Of two copies within reach, the one with the smaller angle names the hit.
    double first, second, both;
    meshSetCollide(&pivot, &dir, &ref, &axis, set, 1, &first, 1.5);
    meshSetCollide(&pivot, &dir, &ref, &axis, set, 7, &second, 1.5);
    meshSetCollide(&pivot, &dir, &ref, &axis, set, 3, &both, 1.5);
    EXPECT_TRUE(first < second && meshSetHitIndex() == 0 && both == first) << first << " " << second;
    Vec3 out{};
    EXPECT_EQ(meshSetCheckPoints(&pivot, &dir, nullptr, &out), 0);  // no set: nothing inside
    EXPECT_EQ(collMeshRotateCopy(nullptr, 0.5), nullptr);
    EXPECT_EQ(meshSetCheckPoints(&pivot, &dir, set, &out), -1);  // edges need the cone test
    EXPECT_EQ(meshSetCheckPoints(&aside, &dir, set, &out), 1);   // a vertex inside the tool
    EXPECT_EQ(out.x, 20.0);
    toolSegSetLineConeTest(crossesAxisPlane);
    EXPECT_EQ(meshSetCheckPoints(&pivot, &dir, set, &out), 1);
    EXPECT_EQ(out.x, 0.0);
    meshSetFree(set);
    // Without the second copy its slots stay empty and are passed over (a line and its turned copies
    // that keep to x > 0: the cone test above meets none of them).
    Lines right;
    right.add({{5, 0, 10}, {20, 0, 10}});
    MeshSet* single = meshSetFromList(right.array, 0, 0.5, 1e-3);
    ASSERT_NE(single, nullptr);
    const Vec3 far{500, 500, 0};
    EXPECT_EQ(meshSetCheckPoints(&far, &dir, single, &out), 0);
    EXPECT_EQ(meshSetCheckPoints(&aside, &dir, single, &out), 1);
    // The swing queries pass them over too: the base copy alone gives what selector 1 gives.
    double base = 0;
    ASSERT_EQ(meshSetCollide(&pivot, &dir, &ref, &axis, single, 1, &base, 1.5), 1);
    ASSERT_LT(base, 1.5);
    for (const int32_t c : {2, 3, 5, 7, 8}) {
        double angle = 0;
        ASSERT_EQ(meshSetCollide(&pivot, &dir, &ref, &axis, single, c, &angle, 1.5), 1);
        EXPECT_TRUE(c != 3 || angle == base);
        EXPECT_TRUE(c != 7 || (angle == 1.5 && meshSetHitIndex() == -1));
    }
    // A record past the vertex count is no vertex, though it lies inside the tool.
    single->meshes[0]->vertexCount = 1, single->meshes[0]->edgeCount = 0;
    EXPECT_EQ(meshSetCheckPoints(&aside, &dir, single, &out), 0);
    meshSetFree(single);
}

// Edges with samples of their own keep them through the tree build, and the query tests those samples
// instead of sampling the edge itself: the answer over the ends and the given samples alone.
TEST_F(MeshSetTest, GivenSamplesAreKeptAndTestedInsteadOfTheEdge) {
    int hits = 0;
    for (int n = 0; n < 12; n++) {
        const ToolDescription t = randomTool();
        toolSegProfileInit(&t, 2 * rngUniform(), 0.02);
        Lines lines;
        const double half = 30 + 30 * rngUniform();
        randomWalks(&lines, half, 6);
        MeshSet* set = meshSetCreate(kMeshSetSlots, 0);
        ASSERT_NE(set, nullptr);
        CollMesh* m = set->meshes[0] = collMeshFromPolylines(lines.array, 1e-3);
        ASSERT_TRUE(m && m->edgeCount > 100);
        // One or two samples an edge at odd fractions, far sparser than the sampling width.
        std::vector<Vec3> samples;
        for (int32_t e = 0; e < m->edgeCount; e++) {
            const Vec3 a = m->vertices[m->edges[e].a].point, b = m->vertices[m->edges[e].b].point;
            m->edges[e].firstSample = static_cast<int32_t>(samples.size());
            m->edges[e].sampleCount = 1 + e % 2;
            for (const double u : {0.37, 0.81})
                if (u < 0.5 || e % 2)
                    samples.push_back({a.x + u * (b.x - a.x), a.y + u * (b.y - a.y), a.z + u * (b.z - a.z)});
        }
        m->samples = static_cast<Vec3*>(std::malloc(sizeof(Vec3) * samples.size()));
        ASSERT_NE(m->samples, nullptr);
        std::copy(samples.begin(), samples.end(), m->samples);
        m->sampleCount = static_cast<int32_t>(samples.size());
        auto byEnds = [](const CollEdge& x, const CollEdge& y) {
            return std::tie(x.a, x.b, x.firstSample) < std::tie(y.a, y.b, y.firstSample);
        };
        std::vector<CollEdge> before(m->edges, m->edges + m->edgeCount);
        ASSERT_EQ(collMeshTreeBuild(set), 1);
        ASSERT_TRUE(m->tree && leaves(m->tree) > 1);
        std::vector<CollEdge> after(m->edges, m->edges + m->edgeCount);
        std::sort(before.begin(), before.end(), byEnds), std::sort(after.begin(), after.end(), byEnds);
        ASSERT_EQ(std::memcmp(before.data(), after.data(), sizeof(CollEdge) * before.size()), 0) << n;
        for (int q = 0; q < 10; q++) {
            const Vec3 pivot = randomPoint(half / 2);
            const Frame f = randomFrame();
            double swing = 0, want = 1.5;
            ASSERT_EQ(meshSetCollide(&pivot, &f.dir, &f.ref, &f.axis, set, 1, &swing, 1.5), 1);
            for (const CollEdge& e : before) {
                for (const int32_t v : {e.a, e.b})
                    toolPointTest(&pivot, &f.dir, &f.ref, &f.axis, &m->vertices[v].point, &want, 1.5);
                for (int32_t k = 0; k < e.sampleCount; k++)
                    toolPointTest(&pivot, &f.dir, &f.ref, &f.axis, &samples[e.firstSample + k], &want, 1.5);
            }
            EXPECT_EQ(swing, want) << n << " " << q;
            Vec3 hit{1e9, 0, 0};
            EXPECT_EQ(meshSetHitPoint(&hit), want < 1.5 ? 0 : -1);
            double alone = 1.5;  // the hit point is one whose own angle is the answer, else the origin
            toolPointTest(&pivot, &f.dir, &f.ref, &f.axis, &hit, &alone, 1.5);
            EXPECT_TRUE(want < 1.5 ? alone == want : hit.x == 0 && hit.y == 0 && hit.z == 0) << n << " " << q;
            hits += want < 1.5;
        }
        meshSetFree(set);
    }
    EXPECT_GT(hits, 20);
}

// Capacities: none at all is still a mesh (and so is its turned copy, empty too); below none, none.
// The copy's samples, as many as the capacity, are the originals turned about z.
TEST_F(MeshSetTest, EmptyMeshesAreMeshes) {
    const struct {
        int32_t n;
        bool made;
    } cases[] = {{-1, false}, {0, true}, {1, true}, {5, true}};
    for (const auto& c : cases) {
        CollMesh* m = collMeshCreate(c.n);
        EXPECT_EQ(m != nullptr, c.made) << c.n;
        if (!m) continue;
        EXPECT_EQ(m->vertexCount, 0);
        EXPECT_EQ(m->edgeCount, 0);
        m->samples = static_cast<Vec3*>(std::calloc(std::max(c.n, 1), sizeof(Vec3)));
        for (int32_t i = 0; i < c.n; i++) m->samples[i] = {3.0 + i, 4.0 - i, 0.1 * i};
        m->sampleCount = c.n;
        CollMesh* turned = collMeshRotateCopy(m, 0.5);
        ASSERT_NE(turned, nullptr) << c.n;
        EXPECT_EQ(turned->vertexCount, 0);
        EXPECT_EQ(turned->edgeCount, 0);
        ASSERT_EQ(turned->sampleCount, c.n);
        for (int32_t i = 0; i < c.n; i++) {
            const Vec3 p = m->samples[i], q = turned->samples[i];
            EXPECT_NEAR(q.x, p.x * std::cos(0.5) - p.y * std::sin(0.5), 1e-12);
            EXPECT_NEAR(q.y, p.x * std::sin(0.5) + p.y * std::cos(0.5), 1e-12);
            EXPECT_EQ(q.z, p.z);
        }
        collMeshFree(turned);
        collMeshFree(m);
    }
    // A set has as many slots as asked, within 0 .. kMeshSetSlots; meshes only where a capacity is given.
    for (const auto& [n, cap, want] :
         {std::tuple{0, 2, 0}, {-3, 2, 0}, {kMeshSetSlots + 2, 1, kMeshSetSlots}, {2, 0, 2}}) {
        MeshSet* set = meshSetCreate(n, cap);
        ASSERT_NE(set, nullptr);
        for (int i = 0; i < kMeshSetSlots; i++)
            EXPECT_TRUE(set->count == want && (set->meshes[i] != nullptr) == (cap > 0 && i < want)) << n;
        meshSetFree(set);
    }
    // Nothing to build from: no set, and a null second name is never read.
    EXPECT_EQ(meshSetFromFile("/nonexistent/a.stl", nullptr, 0.5, 1e-3), nullptr);
    EXPECT_EQ(meshSetFromSurfaces("/nonexistent/a.kvx", nullptr, 0.5, 1e-3, 1.0), nullptr);
    char tiny[2] = {'x', 'x'};  // room for the terminator alone: the empty text, never a cut path
    EXPECT_EQ(meshSetTmpPath("t", tiny, 1), 0);
    EXPECT_EQ(tiny[0], '\0');
    // A list array made by hand over the first of two lists, without room to spare past it: that list's
    // edges alone, in room for as many vertices and edges as it has points.
    Lines one;
    one.add({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
    one.add({{5, 0, 0}, {6, 0, 0}});
    Plist* only[2] = {one.array->lists[0], one.array->lists[1]};
    PlistArray exact{1, 1, only, nullptr, nullptr, nullptr, nullptr};
    CollMesh* m = collMeshFromPolylines(&exact, 1e-3);
    EXPECT_TRUE(m && m->vertexCount == 3 && m->edgeCount == 2 && m->vertexCapacity == 3 &&
                m->edgeCapacity == 3);
    collMeshFree(m);
    // Counts summing past the int32 range are refused before a point is read (these lists have none).
    Plist big{};
    big.count = INT32_MAX;
    Plist* huge[3] = {&big, &big, only[0]};
    PlistArray beyond{3, 3, huge, nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(collMeshFromPolylines(&beyond, 1e-3), nullptr);
}

// Far from the origin a box's offset from the swing plane rounds: this edge's box computes to exactly
// the slab about the plane while its end a, 4.3e-11 inside the tool's largest radius, is reached.
TEST_F(MeshSetTest, BoxRoundedOntoTheSlabStillHoldsItsReachedEnd) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    const Vec3 a{999957.40179126256, 999917.73858779389, 999984.12404684396},
        b{999958.34329740936, 999916.79708164709, 999985.06555299077}, pivot{1e6 + 0.3, 1e6 - 0.7, 1e6 + 0.1},
        axis{0.30058671670519588, -0.50097786117533427, 0.81158413510404148},
        dir{-0.85749292571254421, -0.51449575542752646, 0},
        ref{0.41755659268334949, -0.69592765447224925, -0.58423556177917224};
    Lines lines;
    lines.add({a, b});
    MeshSet* set = meshSetFromList(lines.array, 0, 0.5, 1e-3);
    ASSERT_NE(set, nullptr);
    double want = 1.5, got = 0;
    ASSERT_EQ(toolPointTest(&pivot, &dir, &ref, &axis, &a, &want, 1.5), kToolSegNewMin);
    ASSERT_EQ(meshSetCollide(&pivot, &dir, &ref, &axis, set, 1, &got, 1.5), 1);
    EXPECT_EQ(got, want);
    EXPECT_EQ(set->meshes[0]->leafHullState[0], 1);  // the one leaf, let in by its box: its hull taken
    meshSetFree(set);
}
