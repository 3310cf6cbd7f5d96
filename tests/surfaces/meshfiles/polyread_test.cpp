#include "surfaces/meshfiles/polyread.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "heapbytes.h"
#include "kernel/base/msg.h"
#include "surfaces/meshfiles/meshtest.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"

namespace {

struct Nodes {
    PolyNode* list = nullptr;
    ~Nodes() { polyNodeFreeList(list); }
};

struct PolyReadTest : ::testing::Test {
    TempDir dir;
    void SetUp() override { polyReadResetState(); }
    void TearDown() override { polyReadResetState(); }
    std::string write(const std::string& records) {
        writeTextFile(dir.file("p.kvx"), kvxText(records));
        return dir.file("p.kvx");
    }
};

void expectPoints(const Vec3* got, const std::vector<double>& want) {
    for (size_t k = 0; k < want.size(); ++k) EXPECT_DOUBLE_EQ((&got[0].x)[k], want[k]) << k;
}

}  // namespace

TEST_F(PolyReadTest, QuadGivesOneFacetOrTwoTriangles) {
    const std::string name = write(
        "o Polyhedron[mesh1](nFace[1])\n{\no Pset[1]()\n{\no P[1](x[0] y[0] z[0])\no P[2](x[1])\no "
        "P[3](y[1])\n"
        "o P[4](x[0] z[2.5])\n}\no Face(vx[1/1] vx[ 1 / 2 ] vx[/3] vx[1/4])\n"
        "o Face(vx[1/4] vx[1/1] vx[1/3])\n}\n");  // the second face's third vertex, the first's third
    Nodes a, b;
    ASSERT_EQ(readPolyhedronA(name.c_str(), &a.list), 0);
    ASSERT_EQ(readPolyhedronB(name.c_str(), &b.list), 0);
    ASSERT_NE(a.list, nullptr);
    ASSERT_NE(b.list, nullptr);
    EXPECT_STREQ(a.list->name, "mesh1");
    EXPECT_EQ(a.list->faceCount, 1);  // as announced
    ASSERT_EQ(a.list->used, 2);
    EXPECT_EQ(a.list->facets[0].flag, 0);
    const Facet98 f = a.list->facets[0];
    const Vec3 fp[4] = {f.p[0], f.p[1], f.p[2], f.p[3]};
    expectPoints(fp, {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 2.5});
    ASSERT_EQ(b.list->used, 3);  // vertices 0, 1, 2 and 2, 3, 0, then the triangle
    expectPoints(b.list->triangles[0].p, {0, 0, 0, 1, 0, 0, 1, 1, 0});
    expectPoints(b.list->triangles[1].p, {1, 1, 0, 0, 1, 2.5, 0, 0, 0});
    expectPoints(b.list->triangles[2].p, {0, 1, 2.5, 0, 0, 0, 1, 1, 0});
    // A face filter answering 0 drops the face: here the quad, the triangle kept.
    setPolyFaceFilterA([](int n, const double*, const double*, const double*) { return n == 3 ? 1 : 0; });
    Nodes c;
    ASSERT_EQ(readPolyhedronA(name.c_str(), &c.list), 0);
    ASSERT_NE(c.list, nullptr);
    ASSERT_EQ(c.list->used, 1);
    const Facet98 kept = c.list->facets[0];
    const Vec3 kp[3] = {kept.p[0], kept.p[1], kept.p[2]};
    expectPoints(kp, {0, 1, 2.5, 0, 0, 0, 1, 1, 0});
}

TEST_F(PolyReadTest, StreamsTable) {
    const struct {
        std::string records;
        std::vector<double> tri;  // reader B's only triangle, or empty for none
    } cases[] = {
        {"v scale(1000)\no Polyhedron[s]()\n{\nm P[1](+1500-25+0 +1000+0+0 *+1000*)\nm V(1/1/\t/2/ /3)\n}\n",
         {1.5, -0.025, 0, 1, 0, 0, 0, 1, 0}},
        {"o Polyhedron[i]()\n{\nv increment(TRUE)\nm P[2](+10+0+0+1+1+1+0+0+1)\nm V(2/1/2/2/2/3)\n}\n",
         {10, 0, 0, 11, 1, 1, 11, 1, 2}},
        {"o Polyhedron[b]()\n{\nv chrTab(01)\nm P[1](+101+0+0 +0+1+0 +0+0+1)\nm V(1/1/1/10/1/11)\n}\n",
         {5, 0, 0, 0, 1, 0, 0, 0, 1}},
        {"o Polyhedron[h]()\n{\nv base(16)\nm P[1](+0+0+0 +1+0+0 +2+0+0 +3+0+0 +4+0+0 +5+0+0 +6+0+0 +7+0+0 "
         "+8+0+0 "
         "+9+0+0)\nm V(1/1/1/A/1/2)\n}\n",
         {0, 0, 0, 9, 0, 0, 1, 0, 0}},  // vertex numbers are coded too
        {"o Polyhedron[k]()\n{\nm P[1](+0+0+0 +1+0+0 +2+0+0 +3+0+0 +4+0+0 +5+0+0 +6+0+0 +7+0+0 +8+0+0 "
         "+9+0+0)\nv base(8)\nm V(1/1/1/10/1/2)\n}\n",
         {0, 0, 0, 7, 0, 0, 1, 0, 0}},  // a base set between two streams holds for the second
        {"o Polyhedron[f]()\n{\no Pset[1]()\n{\no P[1](x[0] y[0] z[0])\no P[2](x[1])\no P[3](y[1])\n}\n"
         "o Face(col[3] vx[1/1] vx[/2] vx[/3])\n}\n",
         {0, 0, 0, 1, 0, 0, 1, 1, 0}},  // parameters other than vertices are passed over
        {"o Polyhedron[s]()\n{\no Pset[1]()\n{\no P[1](x[0] y[0] z[0])\n{\n}\no P[2](x[1])\no P[3](y[1])\n}\n"
         "o Face(vx[1/1] vx[1/2] vx[1/3])\n}\n",
         {0, 0, 0, 1, 0, 0, 1, 1, 0}},  // a scope closed within the set leaves the set open
        {"o Polyhedron[d]()\n{\nm P[1](+0+0+0+1+0+0)\nm V(1/1/1/2/1/1)\no Face(vx[1/1] vx[1/1] vx[1/2])\n}\n",
         {}},
        {"o Polyhedron[o]()\n{\no P[1](x[7])\nm P[1](+1+0+0+0+1+0+0+0+1)\nm V(1/1/1/2/1/3)\n}\n",
         {1, 0, 0, 0, 1, 0, 0, 0, 1}},  // a point outside any set is passed over
        {"o Polyhedron[e]()\n{\n{\nv increment(true)\n}\nm P[1](+1+0+0+1+0+0+1+1+0)\nm V(1/1/1/2/1/3)\n}\n",
         {1, 0, 0, 1, 0, 0, 1, 1, 0}},  // the attribute ended with its scope
    };
    for (const auto& c : cases) {
        Nodes b;
        ASSERT_EQ(readPolyhedronB(write(c.records).c_str(), &b.list), 0) << c.records;
        ASSERT_NE(b.list, nullptr);
        ASSERT_EQ(b.list->used, c.tri.empty() ? 0 : 1) << c.records;
        if (!c.tri.empty()) expectPoints(b.list->triangles[0].p, c.tri);
    }
}

TEST_F(PolyReadTest, MalformedInputsStopTheRead) {
    const std::string pre = "o Polyhedron[x]()\n{\nm P[1](+0+0+0+1+0+0+0+1+0)\n";
    const std::string cases[] = {
        "o Pset[1]()\n{\no P[1](x[0])\no P[2](x[1])\no P[3](y[1])\n}\no Face(vx[1/1] vx[1/2] vx[1/3])\n",
        pre + "o Face(vx[1/1] vx[1/2] vx[1/4])\n}\n",                  // missing point
        pre + "o Face(vx[1/1] vx[1/2] vx[1/3] vx[2/1] vx[2/2])\n}\n",  // five vertices
        pre + "}\no Face(vx[1/1] vx[1/2] vx[1/3])\n",                  // sets end with their Polyhedron
        pre + "o Face(vx[1/1] vx[1/2] vx[1])\n}\n",
        pre + "o Face(vx[1/1] vx[1/2] vx[1/x])\n}\n",
        pre + "o Face(vx[1/1] vx[1/2] vx[1/3x])\n}\n",
        pre + "o Face(vx[1/] vx[1/2] vx[1/3])\n}\n",  // a first empty part repeats no point
        pre + "o Face(vx[/1] vx[1/2] vx[1/3])\n}\n",  // nor any set
        pre + "m V(1//1/2/1/3)\n}\n",
        pre +
            "o Pset[2]()\n{\no P[1](x[1])\n}\no P[2](x[2])\no Face(vx[2/1] vx[2/2] vx[1/1])\n}\n",  // P after
                                                                                                    // its set
        pre + "o Pset[-1]()\n}\n",
        pre + "o Pset[30000000]()\n}\n",
        pre + "o Pset[30000001]()\n}\n",
        pre + "o Pset[99999999999]()\n}\n",
        pre + "o Pset[2]()\no P[-3](x[1])\n}\n",
        pre + "o Pset[2]()\no P[9999999](x[1])\n}\n",
        pre + "o Pset[2]()\no P[1](x[1..2])\n}\n",
        pre + "o Pset[2]()\no P[1](y[abc])\n}\n",  // no number at all
        pre + "o Pset[2]()\no P[abc](x[1])\n}\n",
        pre + "o Pset[2]()\no P[2x](x[1])\n}\n",
        pre + "v chrTab(01\\200)\nm P[2](+1+1+1)\n}\n",
        pre + "v chrTab(" + std::string(130, 'a') + ")\nm V(1/1/1/2/1/3)\n}\n",
        pre + "m P[2](+1,5+1+1)\n}\n",
        pre + "m V(1/1/1/2/1/,)\n}\n",
        pre + "m V(1/1/1/2/1/99999999999)\n}\n",
        pre + "m P[-4](+1+1+1)\n}\n",
        pre + "m P[1](+1+1+1 - +2)\n}\n",
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

TEST_F(PolyReadTest, SeededGridsPlainAndCodedAgree) {
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        Rng rng{seed};
        const int nx = 2 + rngStep(&rng) % 6, ny = 2 + rngStep(&rng) % 6;
        std::vector<int> z;
        std::string plain = "o Polyhedron[g]()\n{\no Pset[3]()\n{\n",
                    coded = "o Polyhedron[g]()\n{\nv scale(100)\nm P[3](";
        for (int k = 0; k < nx * ny; ++k) {
            z.push_back(rngStep(&rng) % 2000 - 1000);
            const int i = k % nx, j = k / nx;
            plain += "o P[" + std::to_string(k + 1) + "](x[" + std::to_string(i) + "] y[" +
                     std::to_string(j) + "] z[" + std::to_string(z.back() / 100.0) + "])\n";
            coded += "+" + std::to_string(i * 100) + "+" + std::to_string(j * 100) +
                     (z.back() < 0 ? "-" : "+") + std::to_string(std::abs(z.back())) + " ";
        }
        plain += "}\n";
        coded += ")\n";
        for (int q = 0; q < (nx - 1) * (ny - 1); ++q) {
            const int a = q / (nx - 1) * nx + q % (nx - 1) + 1;
            const std::string v[4] = {std::to_string(a), std::to_string(a + 1), std::to_string(a + 1 + nx),
                                      std::to_string(a + nx)};
            plain += "o Face(vx[3/" + v[0] + "] vx[/" + v[1] + "] vx[/" + v[2] + "] vx[/" + v[3] + "])\n";
            coded += "m V(3/" + v[0] + "/ /" + v[1] + "/ /" + v[2] + "/ /" + v[3] + ")\n";
        }
        for (const std::string& text : {plain + "}\n", coded + "}\n"}) {
            Nodes a;
            ASSERT_EQ(readPolyhedronA(write(text).c_str(), &a.list), 0) << text;
            ASSERT_EQ(a.list->used, (nx - 1) * (ny - 1));
            for (int q = 0; q < a.list->used; ++q) {
                const int first = q / (nx - 1) * nx + q % (nx - 1),
                          idx[4] = {first, first + 1, first + 1 + nx, first + nx};
                for (int k = 0; k < 4; ++k) {
                    const Vec3 p = a.list->facets[q].p[k];
                    EXPECT_EQ(p.x, idx[k] % nx);
                    EXPECT_EQ(p.y, idx[k] / nx);
                    EXPECT_NEAR(p.z, z[idx[k]] / 100.0, 1e-12);
                }
            }
        }
    }
}

// Without a place for the nodes the reader still reads, answers as with one, and frees what it made.
TEST_F(PolyReadTest, NodesNobodyTakesAreFreed) {
    const std::string good = write(
        "o Polyhedron[n]()\n{\nm P[1](+0+0+0+1+0+0+0+1+0)\nm V(1/1/1/2/1/3)\n}\n"
        "o Polyhedron[m]()\n{\no Pset[ 4 ]()\n{\no P[ 1 ](x[0])\no P[2](x[1])\no P[3](y[1])\n}\n"
        "o Face(vx[4/1] vx[4/2] vx[4/3])\n}\n");
    const auto round = [&good] {
        EXPECT_EQ(readPolyhedronA(good.c_str(), nullptr), 0);
        EXPECT_EQ(readPolyhedronB(good.c_str(), nullptr), 0);
    };
    round();  // first uses of the library's own buffers are not the reader's to give back
    const size_t before = heapBytesHeld();
    round();
    EXPECT_EQ(heapBytesHeld(), before);
    Nodes a;
    ASSERT_EQ(readPolyhedronA(good.c_str(), &a.list), 0);
    ASSERT_NE(a.list, nullptr);
    ASSERT_NE(a.list->next, nullptr);  // newest first
    EXPECT_STREQ(a.list->name, "m");
    EXPECT_EQ(a.list->used, 1);
    EXPECT_EQ(a.list->next->used, 1);
}

// Memory running short fails the read, or is counted as a fault where the file reader cannot tell it
// from the end of the file; a read that answers 0 with no fault holds every mesh, the empty one too.
TEST_F(PolyReadTest, ShortMemoryFailsTheReadOrLosesNothing) {
    const std::string name = write(
        "o Polyhedron[t]()\n{\nm P[1](+0+0+0+1+0+0+0+1+0)\nm V(1/1/1/2/1/3)\n}\no Polyhedron[e]()\n{\n}\n");
    for (const bool facets : {true, false}) {
        for (long k = 1; k == 1 || allocfail::fired(); ++k) {
            Nodes got;
            const uint32_t faults = msgFaultCount();
            allocfail::arm(k);
            const int rc =
                facets ? readPolyhedronA(name.c_str(), &got.list) : readPolyhedronB(name.c_str(), &got.list);
            allocfail::disarm();
            if (rc != 0 || msgFaultCount() != faults) continue;
            ASSERT_TRUE(got.list != nullptr && got.list->next != nullptr) << k;
            EXPECT_TRUE(std::string(got.list->name) == "e" && got.list->used == 0) << k;
            EXPECT_TRUE(std::string(got.list->next->name) == "t" && got.list->next->used == 1) << k;
        }
    }
}
