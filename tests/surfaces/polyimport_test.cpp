#include "kernel/base/runreset.h"
#include "surfaces/polyimport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "geometry/frames.h"
#include "surfaces/meshfiles/meshtest.h"
#include "surfaces/meshfiles/polyread.h"

namespace {

struct PolyImportTest : ::testing::Test {
    TempDir dir;
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        runResetAll();
    }
};

// A Polyhedron of n triangles with seeded vertices, as plain P objects and Face objects.
std::string polyhedron(const std::string& name, int n, Rng* rng, std::vector<Triangle3D>* out) {
    std::string text = "o Polyhedron[" + name + "](nFace[" + std::to_string(n) + "])\n{\no Pset[1]()\n{\n";
    for (int t = 0; t < n; ++t) {
        Triangle3D tri;
        for (int k = 0; k < 3; ++k) {
            tri.p[k] = Vec3{seededIn(rng, -10, 10), seededIn(rng, -10, 10), std::round(seededIn(rng, 0, 8))};
            char buf[200];
            std::snprintf(buf, sizeof buf, "o P[%d](x[%.17g] y[%.17g] z[%.17g])\n", 3 * t + k + 1, tri.p[k].x,
                          tri.p[k].y, tri.p[k].z);
            text += buf;
        }
        out->push_back(tri);
    }
    text += "}\n";
    for (int t = 0; t < n; ++t)
        text += "o Face(vx[1/" + std::to_string(3 * t + 1) + "] vx[1/" + std::to_string(3 * t + 2) +
                "] vx[1/" + std::to_string(3 * t + 3) + "])\n";
    return text + "}\n";
}

bool sameTri(const Triangle3D& a, const Triangle3D& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

TEST_F(PolyImportTest, TwoPolyhedraJoinSortedWithBoxes) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        Rng rng{seed};
        std::vector<Triangle3D> tris;
        const std::string text = polyhedron("a", 3, &rng, &tris) + polyhedron("b", 5, &rng, &tris);
        const std::string name = dir.file("two.kvx");
        writeTextFile(name, kvxText(text));
        PolyTriMesh* mesh = meshFromPolyFileB(name.c_str(), "POLY", 1);
        ASSERT_NE(mesh, nullptr);
        ASSERT_NE(mesh->triangles, nullptr);
        EXPECT_STREQ(mesh->name, "POLY");
        EXPECT_EQ(mesh->tag, 1);
        EXPECT_EQ(mesh->next, nullptr);
        const TriList* list = mesh->triangles;
        ASSERT_EQ(list->count, 8);
        std::vector<bool> used(tris.size(), false);
        for (int i = 0; i < list->count; ++i) {
            const Triangle3D& t = list->data[i];
            EXPECT_GE(t.p[0].z, std::max(t.p[1].z, t.p[2].z));
            if (i > 0) {
                EXPECT_GE(list->data[i - 1].p[0].z, t.p[0].z - 1e-5);
            }
            // Every input triangle appears once, turned top first.
            bool found = false;
            for (size_t k = 0; k < tris.size() && !found; ++k)
                if (!used[k] && sameTri(topFirst(tris[k]), t)) used[k] = found = true;
            EXPECT_TRUE(found) << i;
            for (int a = 0; a < 3; ++a) {
                const double lo = std::min({(&t.p[0].x)[a], (&t.p[1].x)[a], (&t.p[2].x)[a]});
                const double hi = std::max({(&t.p[0].x)[a], (&t.p[1].x)[a], (&t.p[2].x)[a]});
                EXPECT_EQ((&mesh->lower[i].x)[a], lo);
                EXPECT_EQ((&mesh->upper[i].x)[a], hi);
            }
        }
        if (seed == 1) {
            // With frame A ready (its origin 5 up), imports are taken into it: every height 5 lower.
            const Vec3 fo{0, 0, 5}, fx{1, 0, 0}, fy{0, 1, 0}, fz{0, 0, 1};
            frameSetA(&fo, &fx, &fy, &fz);
            ASSERT_EQ(framesInit(), 1);
            PolyTriMesh* inA = meshFromPolyFileB(name.c_str(), "POLY", 1);
            framesResetState();
            ASSERT_NE(inA, nullptr);
            ASSERT_EQ(inA->triangles->count, 8);
            std::vector<double> zs, zsA;
            for (int i = 0; i < 8; ++i)
                for (int k = 0; k < 3; ++k)
                    zs.push_back(list->data[i].p[k].z - 5), zsA.push_back(inA->triangles->data[i].p[k].z);
            std::sort(zs.begin(), zs.end()), std::sort(zsA.begin(), zsA.end());
            for (size_t k = 0; k < zs.size(); ++k) EXPECT_NEAR(zsA[k], zs[k], 1e-12) << k;
            freeMeshPatchList(inA);
        }
        // Axis scale (2, 1, 3): the same order, every x doubled and every z tripled.
        setAxisScale(2, 1, 3);
        PolyTriMesh* scaled = meshFromPolyFileB(name.c_str(), "POLY", 1);
        ASSERT_NE(scaled, nullptr);
        ASSERT_EQ(scaled->triangles->count, 8);
        for (int i = 0; i < 8; ++i)
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(scaled->triangles->data[i].p[k].x, 2 * list->data[i].p[k].x);
                EXPECT_EQ(scaled->triangles->data[i].p[k].y, list->data[i].p[k].y);
                EXPECT_EQ(scaled->triangles->data[i].p[k].z, 3 * list->data[i].p[k].z);
            }
        // A poly frame turned a quarter about z and shifted by (10, 0, 0): imports come through its
        // inverse first, then the scale: (x, y) -> (2 (y - 0), -(x - 10)) for the row-vector frame.
        const Vec3 o{10, 0, 0}, ax{0, 1, 0}, ay{-1, 0, 0}, az{0, 0, 1};
        ASSERT_EQ(setPolyFrame(&o, &ax, &ay, &az), 0);
        PolyTriMesh* framed = meshFromPolyFileB(name.c_str(), "POLY", 1);
        ASSERT_NE(framed, nullptr);
        double lo = 1e9, hi = -1e9, loIn = 1e9, hiIn = -1e9;
        for (int i = 0; i < 8; ++i)
            for (int k = 0; k < 3; ++k) {
                lo = std::min(lo, framed->triangles->data[i].p[k].y);
                hi = std::max(hi, framed->triangles->data[i].p[k].y);
                loIn = std::min(loIn, list->data[i].p[k].x);
                hiIn = std::max(hiIn, list->data[i].p[k].x);
            }
        // y' = -(x - 10): the x range [a, b] becomes [10 - b, 10 - a], whatever the order.
        EXPECT_NEAR(lo, 10 - hiIn, 1e-12);
        EXPECT_NEAR(hi, 10 - loIn, 1e-12);
        const Vec3 zero{0, 0, 0};
        EXPECT_EQ(setPolyFrame(&zero, &zero, &zero, &zero), -1);  // unset: imports untouched again
        polyImportResetState();
        freeMeshPatchList(framed);
        freeMeshPatchList(scaled);
        freeMeshPatchList(mesh);
    }
    EXPECT_EQ(meshFromPolyFileB(dir.file("absent.kvx").c_str(), "POLY", 1), nullptr);
    freeMeshPatchList(nullptr), freeMeshNodeList(nullptr);  // no chain: nothing to free, no fault
}

TEST_F(PolyImportTest, SharedSwitchOrientsFacetsAndBuildsTurnedBoxes) {
    // A clockwise quad, a counter-clockwise one and a clockwise triangle whose first point alone
    // reaches the lowest x of the mesh.
    writeTextFile(
        dir.file("q.kvx"),
        kvxText(
            "o Polyhedron[q]()\n{\nm P[1](+0+0+0 +0+1+0 +1+1+0 +1+0+0 +3+0+2 +4+0+2 +4+1+2 +3+1+2 +5+0+1)\n"
            "m V(1/1/1/2/1/3/1/4)\nm V(1/5/1/6/1/7/1/8)\nm V(1/9/1/2/1/3)\n}\n"));
    setAxisScale(-1, -2, 1);  // a box away from zero on both sides: x in [-5, 0], y in [-2, 0], z in [0, 2]
    PolyFacetMesh* mesh = meshFromPolyFileA(dir.file("q.kvx").c_str(), "POLY", 1, 1);
    ASSERT_NE(mesh, nullptr);
    ASSERT_NE(mesh->box45Upper, nullptr);
    ASSERT_EQ(mesh->facets->count, 3);
    EXPECT_EQ(mesh->facets->capacity, 3);  // room for the facets read and no more: meshes run to millions
    EXPECT_EQ(mesh->facets->data[0].p[0].z, 2.0);  // the highest facet first
    for (int i = 0; i < 3; ++i) {
        const Facet98 f = mesh->facets->data[i];
        double area = 0, lo[2] = {1e9, 1e9}, hi[2] = {-1e9, -1e9};  // shoelace; turned box
        Vec3 box[2] = {f.p[0], f.p[0]};
        for (int k = 0; k < 4; ++k) {
            const Vec3 a = f.p[k], b = f.p[(k + 1) % 4];
            area += a.x * b.y - b.x * a.y;
            const double uv[2] = {(a.x - a.y) * 0.70710678, (a.x + a.y) * 0.70710678};
            for (int d = 0; d < 2; ++d) lo[d] = std::min(lo[d], uv[d]), hi[d] = std::max(hi[d], uv[d]);
            box[0] = {std::min(box[0].x, a.x), std::min(box[0].y, a.y), std::min(box[0].z, a.z)};
            box[1] = {std::max(box[1].x, a.x), std::max(box[1].y, a.y), std::max(box[1].z, a.z)};
        }
        EXPECT_GT(area, 0) << i;
        EXPECT_TRUE(mesh->box45Lower[i].x == lo[0] && mesh->box45Lower[i].y == lo[1]);
        EXPECT_TRUE(mesh->box45Upper[i].x == hi[0] && mesh->box45Upper[i].y == hi[1]);
        EXPECT_EQ(std::memcmp(&mesh->lower[i], &box[0], sizeof(Vec3)), 0) << i;
        EXPECT_EQ(std::memcmp(&mesh->upper[i], &box[1], sizeof(Vec3)), 0) << i;
    }
    const FacetList* l = mesh->facets;
    EXPECT_TRUE(l->xmin == -5 && l->ymin == -2 && l->zmin == 0 && l->xmax == 0 && l->ymax == 0 &&
                l->zmax == 2);
    // Without the switch: no turned boxes.
    PolyFacetMesh* plain = meshFromPolyFileA(dir.file("q.kvx").c_str(), "POLY", 1, 0);
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(plain->box45Upper == nullptr && plain->box45Lower == nullptr && plain->facets->count == 3);
    freeMeshNodeList(plain);
    freeMeshNodeList(mesh);
}

TEST_F(PolyImportTest, HeightsWithin1e5AreEqual) {
    const struct {
        double za, zb;
        int expect;
    } cmp[] = {{2, 1, -1},  {1, 2, 1},    {1, 1 + 0.9e-5, 0}, {1 + 2e-5, 1, -1},
               {-3, -3, 0}, {1e-5, 0, 0}, {-1e-5, 0, 0}};  // 1e-5 apart exactly: still equal
    // The highest point takes every place in turn.
    for (int i = 0; i < 7; ++i) {
        const auto& c = cmp[i];
        Triangle3D a{}, b{};
        for (int k = 0; k < 3; ++k) a.p[k].z = b.p[k].z = -100;
        a.p[i % 3].z = c.za;
        b.p[(i + 2) % 3].z = c.zb;
        EXPECT_EQ(triCompareMaxZ(&a, &b), c.expect) << c.za << " " << c.zb;
        Facet98 fa{}, fb{};
        for (int k = 0; k < 4; ++k) fa.p[k].z = fb.p[k].z = -100;
        fa.p[i % 4].z = c.za;
        fb.p[(i + 1) % 4].z = c.zb;
        EXPECT_EQ(facetCompareMaxZ(&fa, &fb), c.expect) << i;
    }
}

// Points 1 and 3 are exchanged when the facet turns clockwise in plan, as the first corner that turns
// clearly says; a facet that does not turn anywhere is left as it is.
TEST(PolyImport, FacetOrientationFollowsTheFirstClearTurn) {
    const struct {
        const char* what;
        double xy[8];
        bool swaps;
    } cases[] = {
        {"clockwise square", {0, 0, 0, 1, 1, 1, 1, 0}, true},
        {"counter-clockwise square", {0, 0, 1, 0, 1, 1, 0, 1}, false},
        {"first corner straight, clockwise", {0, 0, 1, 0, 2, 0, 1, -1}, true},
        {"first corner straight, counter-clockwise", {0, 0, 1, 0, 2, 0, 1, 1}, false},
        {"first corner clockwise by 5e-5 only: still clear", {0, 0, 1, 0, 2, -5e-5, 1, 1}, true},
        {"triangle with a repeated point, clockwise", {0, 0, 1, 0, 1, 0, 0, -1}, true},
        {"all on one line", {0, 0, 1, 0, 2, 0, 3, 0}, false},
        {"all in one point", {2, 3, 2, 3, 2, 3, 2, 3}, false},
    };
    for (const auto& c : cases)
        for (const double shift : {0.0, -5.0}) {  // the turn does not depend on where the facet lies
            Facet98 f{};
            for (int k = 0; k < 4; ++k)
                f.p[k] = {c.xy[2 * k] + shift, c.xy[2 * k + 1] - 0.5 * shift, 0.5 * k};
            const Facet98 before = f;
            facetFixOrientation(&f);
            const int at1 = c.swaps ? 3 : 1, at3 = c.swaps ? 1 : 3;
            EXPECT_TRUE(f.p[0].z == before.p[0].z && f.p[2].z == before.p[2].z) << c.what << shift;
            EXPECT_TRUE(f.p[1].z == before.p[at1].z && f.p[3].z == before.p[at3].z) << c.what << shift;
        }
}
