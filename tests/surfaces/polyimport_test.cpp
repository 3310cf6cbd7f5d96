#include "surfaces/polyimport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
        polyImportResetState();
        polyReadResetState();
        framesResetState();
        framePairResetState();
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

// The triangle turned so that its highest vertex (the earliest of equal ones) comes first.
Triangle3D topFirst(Triangle3D t) {
    int top = 0;
    for (int k = 1; k < 3; ++k)
        if (t.p[k].z > t.p[top].z) top = k;
    Triangle3D r;
    for (int k = 0; k < 3; ++k) r.p[k] = t.p[(top + k) % 3];
    return r;
}

bool sameTri(const Triangle3D& a, const Triangle3D& b) {
    for (int k = 0; k < 3; ++k)
        if (a.p[k].x != b.p[k].x || a.p[k].y != b.p[k].y || a.p[k].z != b.p[k].z) return false;
    return true;
}

}  // namespace

TEST_F(PolyImportTest, TwoPolyhedraJoinSortedWithBoxes) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        Rng rng{seed};
        std::vector<Triangle3D> tris;
        const std::string text = polyhedron("a", 3, &rng, &tris) + polyhedron("b", 5, &rng, &tris);
        const std::string name = dir.file("two.kvx");
        writeText(name, kvxText(text));
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
        freeMeshPatchList(mesh);
    }
}

TEST_F(PolyImportTest, AxisScaleAndFrameA) {
    Rng rng{9};
    std::vector<Triangle3D> tris;
    const std::string name = dir.file("s.kvx");
    writeText(name, kvxText(polyhedron("s", 4, &rng, &tris)));
    const struct {
        double scale[3];
        Vec3 origin;
    } cases[] = {
        {{1, 1, 1}, {0, 0, 0}}, {{2, 1, 1}, {0, 0, 0}}, {{0.5, -1, 3}, {0, 0, 0}}, {{2, 1, 1}, {5, -2, 1}}};
    for (const auto& c : cases) {
        reset();
        setAxisScale(c.scale[0], c.scale[1], c.scale[2]);
        const Vec3 x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
        frameSetA(&c.origin, &x, &y, &z);
        ASSERT_EQ(framesInit(), 1);
        PolyFacetMesh* mesh = meshFromPolyFileA(name.c_str(), "POLY", 1, 0);
        ASSERT_NE(mesh, nullptr);
        ASSERT_EQ(mesh->facets->count, 4);
        EXPECT_EQ(mesh->box45Upper, nullptr);
        // Scaling first, then world to frame A (a shift by the origin here).
        for (int i = 0; i < 4; ++i) {
            const Facet98 f = mesh->facets->data[i];
            bool found = false;
            for (const Triangle3D& t : tris) {
                bool all = true;
                for (int k = 0; k < 3; ++k) {
                    const Vec3 p = f.p[k];
                    all = all && std::fabs(p.x - (t.p[k].x * c.scale[0] - c.origin.x)) < 1e-12 &&
                          std::fabs(p.y - (t.p[k].y * c.scale[1] - c.origin.y)) < 1e-12 &&
                          std::fabs(p.z - (t.p[k].z * c.scale[2] - c.origin.z)) < 1e-12;
                }
                found = found || all;
            }
            EXPECT_TRUE(found) << i;
        }
        freeMeshNodeList(mesh);
    }
}

TEST_F(PolyImportTest, SharedSwitchOrientsFacetsAndBuildsTurnedBoxes) {
    // A clockwise quad, a counter-clockwise one and a clockwise triangle.
    const std::string name = dir.file("q.kvx");
    writeText(
        name,
        kvxText("o Polyhedron[q]()\n{\nm P[1](+0+0+0 +0+1+0 +1+1+0 +1+0+0 +3+0+2 +4+0+2 +4+1+2 +3+1+2)\n"
                "m V(1/1/1/2/1/3/1/4)\nm V(1/5/1/6/1/7/1/8)\nm V(1/1/1/2/1/3)\n}\n"));
    PolyFacetMesh* mesh = meshFromPolyFileA(name.c_str(), "POLY", 1, 1);
    ASSERT_NE(mesh, nullptr);
    ASSERT_NE(mesh->box45Upper, nullptr);
    ASSERT_NE(mesh->box45Lower, nullptr);
    ASSERT_EQ(mesh->facets->count, 3);
    EXPECT_EQ(mesh->facets->data[0].p[0].z, 2.0);  // the highest facet first
    for (int i = 0; i < 3; ++i) {
        const Facet98 f = mesh->facets->data[i];
        double area = 0;  // shoelace over the four points
        double lo[2] = {1e9, 1e9}, hi[2] = {-1e9, -1e9};
        for (int k = 0; k < 4; ++k) {
            const Vec3 a = f.p[k], b = f.p[(k + 1) % 4];
            area += a.x * b.y - b.x * a.y;
            const double uv[2] = {(a.x - a.y) * 0.70710678, (a.x + a.y) * 0.70710678};
            for (int d = 0; d < 2; ++d) {
                lo[d] = std::min(lo[d], uv[d]);
                hi[d] = std::max(hi[d], uv[d]);
            }
        }
        EXPECT_GT(area, 0) << i;
        EXPECT_EQ(mesh->box45Lower[i].x, lo[0]);
        EXPECT_EQ(mesh->box45Lower[i].y, lo[1]);
        EXPECT_EQ(mesh->box45Upper[i].x, hi[0]);
        EXPECT_EQ(mesh->box45Upper[i].y, hi[1]);
    }
    freeMeshNodeList(mesh);
}

TEST_F(PolyImportTest, NothingReadableGivesNull) {
    const std::string cases[] = {"", "o Pset[1]()\n",
                                 "o Polyhedron[x]()\n{\no Face(vx[1/1] vx[1/2] vx[1/3])\n}\n"};
    for (const std::string& text : cases) {
        writeText(dir.file("n.kvx"), kvxText(text));
        EXPECT_EQ(meshFromPolyFileB(dir.file("n.kvx").c_str(), "POLY", 1), nullptr) << text;
        EXPECT_EQ(meshFromPolyFileA(dir.file("n.kvx").c_str(), "POLY", 1, 1), nullptr) << text;
    }
    EXPECT_EQ(meshFromPolyFileB(dir.file("absent.kvx").c_str(), "POLY", 1), nullptr);
    // An empty Polyhedron still makes a mesh, without items.
    writeText(dir.file("e.kvx"), kvxText("o Polyhedron[e]()\n"));
    PolyTriMesh* mesh = meshFromPolyFileB(dir.file("e.kvx").c_str(), "POLY", 1);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->triangles->count, 0);
    freeMeshPatchList(mesh);
}

TEST_F(PolyImportTest, HeightOrderHelpersTable) {
    const struct {
        double za, zb;
        int expect;
    } cmp[] = {{2, 1, -1}, {1, 2, 1}, {1, 1 + 0.9e-5, 0}, {1 + 2e-5, 1, -1}, {-3, -3, 0}};
    for (const auto& c : cmp) {
        Triangle3D a{}, b{};
        a.p[1].z = c.za;
        b.p[2].z = c.zb;
        a.p[0].z = a.p[2].z = b.p[0].z = b.p[1].z = -100;
        EXPECT_EQ(triCompareMaxZ(&a, &b), c.expect) << c.za << " " << c.zb;
        Facet98 fa{}, fb{};
        for (int k = 0; k < 4; ++k) fa.p[k].z = fb.p[k].z = -100;
        fa.p[3].z = c.za;
        fb.p[1].z = c.zb;
        EXPECT_EQ(facetCompareMaxZ(&fa, &fb), c.expect);
    }
    const struct {
        double z[3];
        int first;  // index of the input vertex that must lead
    } turns[] = {{{1, 2, 3}, 2}, {{3, 2, 1}, 0}, {{1, 3, 3}, 1}, {{2, 1, 2}, 0}, {{0, 5, 1}, 1}};
    for (const auto& c : turns) {
        Triangle3D t;
        for (int k = 0; k < 3; ++k) t.p[k] = Vec3{double(k), 0, c.z[k]};
        sortTriangleByZ(&t);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(t.p[k].x, double((c.first + k) % 3));
    }
    Vec3 lo{1, 1, 1}, hi{1, 1, 1};
    const Vec3 p{-2, 5, 1};
    boxExtendByPoint(&lo, &hi, &p);
    EXPECT_TRUE(lo.x == -2 && lo.y == 1 && hi.y == 5 && hi.x == 1);
}

TEST_F(PolyImportTest, FacetHeapSortSeeded) {
    for (uint32_t seed = 1; seed <= 10; ++seed) {
        Rng rng{seed};
        const int n = rngStep(&rng) % 300;
        std::vector<Facet98> f(n);
        for (Facet98& x : f)
            for (int k = 0; k < 4; ++k) x.p[k] = Vec3{seededIn(&rng, 0, 1), 0, double(rngStep(&rng) % 20)};
        facetHeapSort(f.data(), n);
        for (int i = 1; i < n; ++i) {
            double a = -1e9, b = -1e9;
            for (int k = 0; k < 4; ++k) {
                a = std::max(a, f[i - 1].p[k].z);
                b = std::max(b, f[i].p[k].z);
            }
            EXPECT_GE(a, b);
        }
    }
}
