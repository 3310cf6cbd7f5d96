#include "collision/KVPLIB/wcolldetect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>
#include <vector>

#include "kernel/base/rng.h"

#ifdef KV_HAVE_FCL
#include <fcl/fcl.h>
#endif

namespace {

FTriList* meshOf(const std::vector<std::vector<float>>& tris) {
    FTriList* m = ftriListCreate(static_cast<int32_t>(tris.size()) + 1);
    for (const auto& t : tris) {
        FTriangle f;
        for (int k = 0; k < 9; ++k) f.v[k] = t[k];
        ftriListAdd(m, &f);
    }
    return m;
}

// Segment-triangle crossing (Moeller-Trumbore); for triangles in general position two triangles meet
// exactly when an edge of one crosses the other.
bool segCrossesTri(const double* a, const double* b, const double* t) {
    double e1[3], e2[3], d[3], s[3], h[3], q[3];
    for (int k = 0; k < 3; ++k)
        e1[k] = t[3 + k] - t[k], e2[k] = t[6 + k] - t[k], d[k] = b[k] - a[k], s[k] = a[k] - t[k];
    auto cross = [](const double* u, const double* v, double* o) {
        o[0] = u[1] * v[2] - u[2] * v[1], o[1] = u[2] * v[0] - u[0] * v[2], o[2] = u[0] * v[1] - u[1] * v[0];
    };
    auto dot = [](const double* u, const double* v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; };
    cross(d, e2, h);
    const double det = dot(e1, h);
    if (std::fabs(det) < 1e-14) return false;
    const double u = dot(s, h) / det;
    cross(s, e1, q);
    const double v = dot(d, q) / det, w = dot(e2, q) / det;
    return u >= 0 && v >= 0 && u + v <= 1 && w >= 0 && w <= 1;
}

bool trisMeet(const double* p, const double* q) {
    for (int i = 0; i < 3; ++i) {
        if (segCrossesTri(p + 3 * i, p + 3 * ((i + 1) % 3), q)) return true;
        if (segCrossesTri(q + 3 * i, q + 3 * ((i + 1) % 3), p)) return true;
    }
    return false;
}

std::vector<std::vector<float>> randomTris(int n, double spread) {
    std::vector<std::vector<float>> tris;
    for (int i = 0; i < n; ++i) {
        const double c[3] = {spread * (rngUniform() - 0.5), spread * (rngUniform() - 0.5),
                             spread * (rngUniform() - 0.5)};
        std::vector<float> t(9);
        for (int k = 0; k < 9; ++k) t[k] = static_cast<float>(c[k % 3] + 3 * (rngUniform() - 0.5));
        tris.push_back(t);
    }
    return tris;
}

Mat4 randomRot() {
    Mat4 a, b, m;
    mat4Rotation(0, 6.3 * rngUniform(), &a);
    mat4Rotation(1, 3.2 * rngUniform(), &b);
    mat4Mult(&a, &b, &m);
    return m;
}

void placed(const float* v, const Mat4& r, const float* pos, double* out) {
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c)
            out[3 * i + c] = v[3 * i] * r.m[0][c] + v[3 * i + 1] * r.m[1][c] + v[3 * i + 2] * r.m[2][c] +
                             r.m[3][c] + pos[c];
}

// Every node under the root bounds the turned corners (position not added) of the triangles below it,
// wider only by the float widening: relative 2.4e-7 and a float's rounding.
void expectTightBoxes(const CollModel* m, int run) {
    std::vector<const CollNode*> nodes{m->root};
    for (size_t i = 0; i < nodes.size(); ++i)
        for (const CollNode* c : {nodes[i]->child0, nodes[i]->child1})
            if (c) nodes.push_back(c);
    for (const CollNode* node : nodes) {
        double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300}, t[9];
        std::vector<const CollNode*> below{node};
        while (!below.empty()) {
            const CollNode* n = below.back();
            below.pop_back();
            for (const CollNode* c : {n->child0, n->child1})
                if (c) below.push_back(c);
            if (n->child0 || n->child1) continue;
            const float zero[3] = {0, 0, 0};
            placed(m->mesh->data[n->tri].v, m->rot, zero, t);
            for (int k = 0; k < 9; ++k)
                lo[k % 3] = std::min(lo[k % 3], t[k]), hi[k % 3] = std::max(hi[k % 3], t[k]);
        }
        const float* b = node->box;
        for (int k = 0; k < 3; ++k) {
            EXPECT_TRUE(b[k] <= lo[k] && b[k] >= lo[k] - std::fabs(lo[k]) * 4e-7 - 1e-30) << run << " " << k;
            EXPECT_TRUE(b[k + 3] >= hi[k] && b[k + 3] <= hi[k] + std::fabs(hi[k]) * 4e-7 + 1e-30)
                << run << " " << k;
        }
    }
}

}  // namespace

TEST(CollTree, NodesPairNeighboursInMeshOrder) {
    const std::vector<float> t{0, 0, 0, 1, 0, 0, 0, 1, 0};
    FTriList* one = meshOf({t});
    FTriList* three = meshOf({t, t, t});
    CollModel* a = collmodel_create(one);
    CollModel* b = collmodel_create(three);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->nodeCount, 2);
    EXPECT_EQ(a->root, &a->nodes[0]);
    EXPECT_TRUE(b->nodeCount == 6 && b->boxesCurrent == 1);  // its boxes fitted as built
    const CollNode* n = b->nodes;
    EXPECT_TRUE(n[3].child1 == &n[0] && n[3].child0 == &n[1]);
    EXPECT_TRUE(n[4].child1 == &n[2] && n[4].child0 == nullptr);
    EXPECT_TRUE(b->root == &n[5] && n[5].child1 == &n[3] && n[5].child0 == &n[4]);
    EXPECT_EQ(collmodel_create(nullptr), nullptr);
    // A missing model is passed over by every call.
    collmodel_set_pos(nullptr, 1, 2, 3);
    collmodel_set_rot(nullptr, nullptr);
    collmodel_update(nullptr);
    EXPECT_EQ(collmodel_collide(nullptr, a, 0, nullptr), 0);
    collmodel_free(a);
    collmodel_free(b);
    collmodel_free(nullptr);
    ftriListFree(one);
    ftriListFree(three);
}

// The descent splits both trees at once: with every pair touching, a's first two leaves meet b's first
// leaf, then its second, before a's next two leaves come.
TEST(CollTree, ContactsComeInStepsOfBothTrees) {
    std::vector<std::vector<float>> flats, walls;
    for (float z : {0.0f, 0.1f, 0.2f, 0.3f}) flats.push_back({-1, -1, z, 1, -1, z, 0, 1, z});
    for (float x : {0.0f, 0.1f}) walls.push_back({x, -0.5f, -1, x, 0.5f, -1, x, 0, 2});
    FTriList *ma = meshOf(flats), *mb = meshOf(walls);
    CollModel *a = collmodel_create(ma), *b = collmodel_create(mb);
    List8* hits = list8Create(8);
    ASSERT_TRUE(a && b && hits);
    EXPECT_EQ(collmodel_collide(a, b, 1, hits), 1);
    std::vector<std::pair<int, int>> got;
    for (int k = 0; k < hits->count; ++k) got.push_back({hits->data[k].a, hits->data[k].b});
    EXPECT_EQ(got, (std::vector<std::pair<int, int>>{
                       {0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 0}, {3, 0}, {2, 1}, {3, 1}}));
    listFree(hits);
    collmodel_free(a), collmodel_free(b);
    ftriListFree(ma), ftriListFree(mb);
}

TEST(CollTree, TriangleContactTable) {
    const struct {
        double p[9], q[9];
        int contact;
    } cases[] = {
        {{0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 0, -1, 0, 1, 0, -1, 1}, 1},         // one shared vertex
        {{0, 0, 0, 1, 0, 0, 0, 1, 0}, {1, 1, 0, 2, 1, 0, 1, 2, 0}, 0},           // coplanar, apart in plane
        {{0, 0, 0, 2, 0, 0, 0, 2, 0}, {0.5, 0.5, -1, 0.5, 0.5, 1, 3, 3, 0}, 1},  // piercing
        {{0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 1e-3, 1, 0, 1e-3, 0, 1, 1e-3}, 0},  // parallel above
        {{0, 0, 0, 1, 0, 0, 0, 1, 0}, {0.2, 0.2, 0, 0.2, 0.2, 0, 0.2, 0.2, 0}, 0},  // a point
        // Corners exactly 1e-5 apart are two: a sliver that a segment pierces.
        {{0, 0, 0, 0, 1e-5, 0, 2, 0, 0}, {0.5, 1e-6, -1, 0.5, 1e-6, -1, 0.5, 1e-6, 1}, 1},
        // Two pairs within 1e-5 though the outer two are not: a point too.
        {{0, 0, 0, 1, 0, 0, 0, 1, 0}, {0.2, 0.2, -1e-6, 0.2 + 8e-6, 0.2, 0, 0.2 + 1.6e-5, 0.2, 1e-6}, 0},
        {{0, 0, 0, 1, 0, 0, 1, 0, 0}, {0.5, 0, -1, 0.5, 0, -1, 0.5, 0, 1}, 0},  // two segments
        {{0, 0, 0, 1, 0, 0, 0, 0, 0}, {0.5, 0, -1, 0.5, 0, 1, 0.5, 0, -1}, 0},  // last corner repeats first
        {{0, 0, 0, 4, 0, 0, 0, 4, 0}, {1, 1, 0, 2, 1, 0, 1, 2, 0}, 1},          // coplanar, inside
        // Coplanar, parted only across the edge on y = 0 (first, second, third edge in turn); raised
        // 0.2 the apex crosses it.
        {{0, 0, 0, 1, 0, 0, 0, 1, 0}, {0.5, -0.1, 0, -10, -10, 0, 10, -30, 0}, 0},
        {{0, 1, 0, 0, 0, 0, 1, 0, 0}, {0.5, -0.1, 0, -10, -10, 0, 10, -30, 0}, 0},
        {{1, 0, 0, 0, 1, 0, 0, 0, 0}, {0.5, -0.1, 0, -10, -10, 0, 10, -30, 0}, 0},
        {{0, 0, 0, 1, 0, 0, 0, 1, 0}, {0.5, 0.1, 0, -10, -9.8, 0, 10, -29.8, 0}, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tri_tri_intersect(c.p, c.q), c.contact);
        EXPECT_EQ(tri_tri_intersect(c.q, c.p), c.contact);
    }
}

// The tree's contacts equal every pair found by testing all triangle pairs, for turned and moved meshes,
// refit or not; FCL's mesh-mesh answer agrees where it is found.
TEST(CollTree, ContactsEqualAllPairsSeeded) {
    rngResetState();
    int contacts = 0;
    for (int run = 0; run < 60; ++run) {
        FTriList* ma = meshOf(randomTris(25 + rngBelow(20), 16));
        FTriList* mb = meshOf(randomTris(1 + rngBelow(30), 10));
        CollModel* a = collmodel_create(ma);
        CollModel* b = collmodel_create(mb);
        ASSERT_TRUE(a && b);
        Mat4 ra = randomRot(), rb = randomRot();
        if (run % 4 == 3) {  // a mirror in x: the matrix differs from the identity in its first row only
            mat4Identity(&ra);
            ra.m[0][0] = -1;
        }
        if (run % 5 == 1) rb.m[3][0] = 0.5, rb.m[3][1] = -0.25, rb.m[3][2] = 0.75;  // the matrix's own shift
        const float pa[3] = {0, 1, 2},
                    pb[3] = {static_cast<float>(6 * rngUniform()), static_cast<float>(6 * rngUniform()), 1};
        collmodel_set_rot(a, &ra);
        collmodel_set_rot(b, &rb);
        if (run % 3) collmodel_update(a);  // otherwise the boxes are the identity's, widened by corners
        collmodel_update(b);
        if (run % 3) expectTightBoxes(a, run);
        expectTightBoxes(b, run);
        collmodel_set_pos(a, pa[0], pa[1], pa[2]);
        collmodel_set_pos(b, pb[0], pb[1], pb[2]);
        std::vector<std::vector<double>> pA(ma->count, std::vector<double>(9)),
            pB(mb->count, std::vector<double>(9));
        for (int i = 0; i < ma->count; ++i) placed(ma->data[i].v, ra, pa, pA[i].data());
        for (int j = 0; j < mb->count; ++j) placed(mb->data[j].v, rb, pb, pB[j].data());
        std::set<std::pair<int, int>> want, got;
        for (int i = 0; i < ma->count; ++i)
            for (int j = 0; j < mb->count; ++j)
                if (trisMeet(pA[i].data(), pB[j].data())) want.insert({i, j});
        List8* hits = list8Create(4);
        EXPECT_EQ(collmodel_collide(a, b, 1, hits), want.empty() ? 0 : 1);
        for (int k = 0; k < hits->count; ++k) got.insert({hits->data[k].a, hits->data[k].b});
        EXPECT_EQ(got, want) << run;
        for (const int32_t all : {0, 1})
            EXPECT_EQ(collmodel_collide(a, b, all, nullptr), want.empty() ? 0 : 1);
        contacts += !want.empty();
#ifdef KV_HAVE_FCL
        auto bvh = [](const std::vector<std::vector<double>>& tris) {  // placed already
            auto model = std::make_shared<fcl::BVHModel<fcl::OBBRSSd>>();
            model->beginModel();
            for (const auto& t : tris)
                model->addTriangle({t[0], t[1], t[2]}, {t[3], t[4], t[5]}, {t[6], t[7], t[8]});
            model->endModel();
            return model;
        };
        fcl::CollisionObjectd oa(bvh(pA)), ob(bvh(pB));
        fcl::CollisionRequestd request;
        fcl::CollisionResultd result;
        fcl::collide(&oa, &ob, request, result);
        EXPECT_EQ(result.isCollision(), !want.empty()) << run;
#endif
        listFree(hits);
        collmodel_free(a);
        collmodel_free(b);
        ftriListFree(ma);
        ftriListFree(mb);
    }
    EXPECT_GT(contacts, 15);
    EXPECT_LT(contacts, 55);
}
