#include "surfaces/meshfiles/polyread.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "surfaces/meshfiles/chrtab.h"
#include "surfaces/meshfiles/meshtest.h"

namespace {

const char* kQuad =
    "o Polyhedron[mesh1](nFace[1])\n{\no Pset[1]()\n{\n"
    "o P[1](x[0] y[0] z[0])\no P[2](x[1])\no P[3](y[1])\no P[4](x[0] z[2.5])\n}\n"
    "o Face(vx[1/1] vx[ 1 / 2 ] vx[/3] vx[1/4])\n}\n";

struct Nodes {
    PolyNode* list = nullptr;
    ~Nodes() { polyNodeFreeList(list); }
    int count() const {
        int n = 0;
        for (const PolyNode* p = list; p != nullptr; p = p->next) ++n;
        return n;
    }
};

struct PolyReadTest : ::testing::Test {
    TempDir dir;
    void SetUp() override { polyReadResetState(); }
    void TearDown() override { polyReadResetState(); }
    std::string write(const std::string& records) {
        const std::string name = dir.file("p.kvx");
        writeText(name, kvxText(records));
        return name;
    }
};

bool samePoint(const Vec3& a, double x, double y, double z) {
    return a.x == x && a.y == y && a.z == z;
}

int dropHigh(int n, const double*, const double*, const double* z) {
    for (int i = 0; i < n; ++i)
        if (z[i] > 1.0) return 0;
    return 1;
}

}  // namespace

TEST_F(PolyReadTest, QuadGivesOneFacetOrTwoTriangles) {
    const std::string name = write(kQuad);
    Nodes a, b;
    ASSERT_EQ(readPolyhedronA(name.c_str(), &a.list), 0);
    ASSERT_EQ(readPolyhedronB(name.c_str(), &b.list), 0);
    ASSERT_NE(a.list, nullptr);
    ASSERT_NE(b.list, nullptr);
    EXPECT_STREQ(a.list->name, "mesh1");
    ASSERT_EQ(a.list->used, 1);
    const Facet98 f = a.list->facets[0];
    EXPECT_EQ(f.flag, 0);
    EXPECT_TRUE(samePoint(f.p[0], 0, 0, 0));
    EXPECT_TRUE(samePoint(f.p[1], 1, 0, 0));
    EXPECT_TRUE(samePoint(f.p[2], 1, 1, 0));
    EXPECT_TRUE(samePoint(f.p[3], 0, 1, 2.5));
    ASSERT_EQ(b.list->used, 2);
    const Triangle3D* t = b.list->triangles;
    EXPECT_TRUE(samePoint(t[0].p[0], 0, 0, 0) && samePoint(t[0].p[1], 1, 0, 0) &&
                samePoint(t[0].p[2], 1, 1, 0));
    EXPECT_TRUE(samePoint(t[1].p[0], 1, 1, 0) && samePoint(t[1].p[1], 0, 1, 2.5) &&
                samePoint(t[1].p[2], 0, 0, 0));
    EXPECT_EQ(b.list->capacity, 2);  // trimmed when the scope closed
}

TEST_F(PolyReadTest, StreamsTable) {
    const struct {
        std::string records;
        std::vector<std::vector<double>> tris;  // reader B's triangles, nine numbers each
    } cases[] = {
        {"v scale(1000)\no Polyhedron[s]()\n{\nm P[1](+1500-25+0 +1000+0+0 *+1000*)\nm V(1/1/ /2/ /3)\n}\n",
         {{1.5, -0.025, 0, 1, 0, 0, 0, 1, 0}}},
        {"o Polyhedron[i]()\n{\nv increment(TRUE)\nm P[2](+10+0+0+1+1+1+0+0+1)\nm V(2/1/2/2/2/3)\n}\n",
         {{10, 0, 0, 11, 1, 1, 11, 1, 2}}},
        {"o Polyhedron[b]()\n{\nv chrTab(01)\nm P[1](+101+0+0 +0+1+0 +0+0+1)\nm V(1/1/1/10/1/11)\n}\n",
         {{5, 0, 0, 0, 1, 0, 0, 0, 1}}},
        // Vertex numbers are coded too: base 16 "A" is point 10.
        {"o Polyhedron[h]()\n{\nv base(16)\nm P[1](+0+0+0 +1+0+0 +2+0+0 +3+0+0 +4+0+0 +5+0+0 +6+0+0 +7+0+0 "
         "+8+0+0 +9+0+0 "
         "+A+0+1)\nm V(1/1/1/A/1/2)\n}\n",
         {{0, 0, 0, 9, 0, 0, 1, 0, 0}}},
        // A point named twice is kept once; two vertices left: no face.
        {"o Polyhedron[d]()\n{\nm P[1](+0+0+0+1+0+0)\nm V(1/1/1/2/1/1)\no Pset[1]()\n{\no P[3](x[4])\n}\n"
         "o Face(vx[1/1] vx[1/1] vx[1/2])\n}\n",
         {}},
        // The increment attribute ends with its scope.
        {"o Polyhedron[e]()\n{\n{\nv increment(true)\n}\nm P[1](+1+0+0+1+0+0+1+1+0)\nm V(1/1/1/2/1/3)\n}\n",
         {{1, 0, 0, 1, 0, 0, 1, 1, 0}}},
    };
    for (const auto& c : cases) {
        const std::string name = write(c.records);
        Nodes b;
        ASSERT_EQ(readPolyhedronB(name.c_str(), &b.list), 0) << c.records;
        ASSERT_EQ(b.count(), 1);
        ASSERT_EQ(b.list->used, static_cast<int32_t>(c.tris.size())) << c.records;
        for (size_t i = 0; i < c.tris.size(); ++i)
            for (int k = 0; k < 9; ++k)
                EXPECT_DOUBLE_EQ((&b.list->triangles[i].p[0].x)[k], c.tris[i][k]) << c.records;
    }
}

TEST_F(PolyReadTest, MalformedInputsStopTheRead) {
    const std::string longTable(130, 'a');
    const char* pre = "o Polyhedron[x]()\n{\nm P[1](+0+0+0+1+0+0+0+1+0)\n";
    const std::string cases[] = {
        "o Pset[1]()\n{\no P[1](x[0])\no P[2](x[1])\no P[3](y[1])\n}\no Face(vx[1/1] vx[1/2] vx[1/3])\n",
        std::string(pre) + "o Face(vx[1/1] vx[1/2] vx[1/4])\n}\n",                  // missing point
        std::string(pre) + "o Face(vx[1/1] vx[1/2] vx[1/3] vx[2/1] vx[2/2])\n}\n",  // five vertices
        std::string(pre) + "o Face(vx[1/1] vx[1/2] vx[1])\n}\n",
        std::string(pre) + "o Face(vx[1/1] vx[1/2] vx[1/x])\n}\n",
        std::string(pre) + "o Pset[-1]()\n}\n",
        std::string(pre) + "o Pset[30000000]()\n}\n",
        std::string(pre) + "o Pset[30000001]()\n}\n",
        std::string(pre) + "o Pset[99999999999]()\n}\n",
        std::string(pre) + "o Pset[2]()\no P[-3](x[1])\n}\n",
        std::string(pre) + "o Pset[2]()\no P[9999999](x[1])\n}\n",
        std::string(pre) + "o Pset[2]()\no P[1](x[1..2])\n}\n",
        std::string(pre) + "v chrTab(01\\200)\nm P[2](+1+1+1)\n}\n",
        std::string(pre) + "v chrTab(" + longTable + ")\nm V(1/1/1/2/1/3)\n}\n",
        std::string(pre) + "m P[2](+1,5+1+1)\n}\n",
        std::string(pre) + "m V(1/1/1/2/1/,)\n}\n",
        std::string(pre) + "m V(1/1/1/2/1/99999999999)\n}\n",
        std::string(pre) + "m P[-4](+1+1+1)\n}\n",
        std::string(pre) + "m P[1](+1+1+1 - +2)\n}\n",
    };
    for (const std::string& records : cases) {
        const std::string name = write(records);
        Nodes a, b;
        EXPECT_EQ(readPolyhedronA(name.c_str(), &a.list), 2) << records;
        EXPECT_EQ(readPolyhedronB(name.c_str(), &b.list), 2) << records;
    }
    Nodes none;
    EXPECT_EQ(readPolyhedronA(dir.file("absent.kvx").c_str(), &none.list), 2);
    EXPECT_EQ(none.list, nullptr);
}

TEST_F(PolyReadTest, FaceFilterOfReaderA) {
    const std::string name = write(
        "o Polyhedron[f]()\n{\nm P[1](+0+0+0+1+0+0+0+1+0+0+0+5)\nm V(1/1/1/2/1/3)\nm V(1/1/1/2/1/4)\n}\n"
        "o Polyhedron[g]()\n{\nm P[1](+0+0+0+1+0+0+0+1+0)\nm V(1/1/1/2/1/3)\n}\n");
    EXPECT_EQ(polyGetFaceFilter(), nullptr);
    setPolyFaceFilterA(dropHigh);
    Nodes a;
    ASSERT_EQ(readPolyhedronA(name.c_str(), &a.list), 0);
    ASSERT_EQ(a.count(), 2);
    EXPECT_STREQ(a.list->name, "g");  // newest first
    EXPECT_EQ(a.list->used, 1);
    EXPECT_EQ(a.list->next->used, 1);
    clearPolyFaceFilterA();
    Nodes all;
    ASSERT_EQ(readPolyhedronA(name.c_str(), &all.list), 0);
    EXPECT_EQ(all.list->next->used, 2);
    // Each Polyhedron has its own point sets: "g" never sees point 4 of "f".
    EXPECT_EQ(all.list->facets[0].p[2].y, 1.0);
}

TEST_F(PolyReadTest, SeededGridsPlainAndCodedAgree) {
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        Rng rng{seed};
        const int nx = 2 + rngStep(&rng) % 6, ny = 2 + rngStep(&rng) % 6;
        const int scale = 100;
        std::vector<Vec3> pts;
        std::string plain = "o Polyhedron[grid]()\n{\no Pset[3]()\n{\n",
                    coded = "o Polyhedron[grid]()\n{\nv scale(100)\nm P[3](";
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                const int z = rngStep(&rng) % 2000 - 1000;
                pts.push_back(Vec3{double(i), double(j), z / double(scale)});
                plain += "o P[" + std::to_string(pts.size()) + "](x[" + std::to_string(i) + "] y[" +
                         std::to_string(j) + "] z[" + std::to_string(z / double(scale)) + "])\n";
                coded += "+" + std::to_string(i * scale) + "+" + std::to_string(j * scale) +
                         (z < 0 ? "-" : "+") + std::to_string(std::abs(z)) + " ";
            }
        plain += "}\n";
        coded += ")\n";
        for (int j = 0; j + 1 < ny; ++j)
            for (int i = 0; i + 1 < nx; ++i) {
                const int a = j * nx + i + 1;
                const std::string v[4] = {std::to_string(a), std::to_string(a + 1),
                                          std::to_string(a + 1 + nx), std::to_string(a + nx)};
                plain += "o Face(vx[3/" + v[0] + "] vx[/" + v[1] + "] vx[/" + v[2] + "] vx[/" + v[3] + "])\n";
                coded += "m V(3/" + v[0] + "/ /" + v[1] + "/ /" + v[2] + "/ /" + v[3] + ")\n";
            }
        plain += "}\n";
        coded += "}\n";
        for (const std::string& text : {plain, coded}) {
            const std::string name = write(text);
            Nodes a;
            ASSERT_EQ(readPolyhedronA(name.c_str(), &a.list), 0) << text;
            ASSERT_EQ(a.list->used, (nx - 1) * (ny - 1));
            for (int q = 0; q < a.list->used; ++q) {
                const int i = q % (nx - 1), j = q / (nx - 1);
                const int idx[4] = {j * nx + i, j * nx + i + 1, (j + 1) * nx + i + 1, (j + 1) * nx + i};
                for (int k = 0; k < 4; ++k) {
                    const Vec3 p = a.list->facets[q].p[k];
                    EXPECT_EQ(p.x, pts[idx[k]].x);
                    EXPECT_EQ(p.y, pts[idx[k]].y);
                    EXPECT_NEAR(p.z, pts[idx[k]].z, 1e-12);
                }
            }
        }
    }
}
