#include "collision/tprof.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY  // nomemory_test.cpp defines the hooks
#include "allocfail.h"
#include "collision/collunit.h"
#include "contour/offsetcontour.h"
#include "geometry/frames.h"
#include "meshutil.h"
#include "surfaces/meshfiles/meshtest.h"

namespace {

PartProfile* chain(const std::vector<PartSeg>& segs, uint16_t flag = kTprofContour) {
    PartProfile* p = tprof_create(2);
    for (const PartSeg& s : segs)
        if (p) tprof_add_seg(p, &s, flag);
    return p;
}

}  // namespace

// Revolving: step counts by the chord rule, every vertex on its circle, every chord within the tolerance;
// a profile flat within 1e-5 (a disc 5e-6 thick) gives nothing, an extent of exactly 1e-5 is revolved.
TEST(Tprof, RevolveStepsAndChords) {
    const struct {
        double r, dz, tol;
        int steps;
    } cases[] = {{10, 10, 0.05, 32},  {10, 10, 0.5, 10},    {1, 10, 2, 2},
                 {50, 10, 0.01, 158}, {5, 0.5e-5, 0.05, 0}, {5, 1e-5, 0.05, 23}};
    for (const auto& c : cases) {
        PartProfile* p = chain({{c.dz >= 1e-5 ? c.r : 0, 0, c.r, c.dz}});
        FTriList* mesh = coll_model_from_tprof(p, c.tol);
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(mesh->count, 2 * c.steps) << c.r << " " << c.tol;
        double xMin = c.r;  // the chords go round: some vertex within the tolerance of (-r, 0)
        for (int32_t i = 0; i < mesh->count; i++) {
            const float* v = mesh->data[i].v;
            for (int k = 0; k < 3; k++) EXPECT_NEAR(std::hypot(v[3 * k], v[3 * k + 1]), c.r, 1e-4);
            for (int k = 0; k < 3; k++) xMin = std::min(xMin, double(v[3 * k]));
            EXPECT_LE(c.r - std::hypot((v[0] + v[6]) / 2.0, (v[1] + v[7]) / 2.0), c.tol + 1e-4);
        }
        EXPECT_LE(xMin, c.steps ? c.tol - c.r + 1e-4 : c.r) << c.r << " " << c.tol;
        ftriListFree(mesh);
        tprof_free(p);
    }
    // Three segments filling every slot of the profile: each revolved as a whole one is, into a list
    // sized for exactly those triangles.
    PartProfile* full = chain({{10, 0, 10, 10}, {10, 10, 10, 20}, {10, 20, 10, 30}});
    ASSERT_TRUE(full && full->count == full->capacity);
    EXPECT_NEAR(tprof_max_angle(full), M_PI / 4, 1e-15);  // the end (10, 10)
    FTriList* mesh = coll_model_from_tprof(full, 0.05);
    EXPECT_TRUE(mesh && mesh->count == 3 * 2 * 32 && mesh->capacity == mesh->count);
    ftriListFree(mesh);
    tprof_free(full);
}

// A zigzag whose offset needs about twice its count of elements, more than count + 15.
TEST(Tprof, OffsetKeepsEveryElementOfALongChain) {
    std::vector<PartSeg> segs;
    for (int i = 0; i < 40; i++)
        segs.push_back({5.0 + 2 * (i % 2), 1.0 * i, 5.0 + 2 * ((i + 1) % 2), 1.0 * i + 1});
    PartProfile* p = chain(segs);
    ASSERT_EQ(p->minZ, 0.0);
    EXPECT_EQ(p->maxR, 7.0);
    EXPECT_NEAR(tprof_max_angle(p), std::acos(1 / std::hypot(7.0, 1.0)), 1e-15);  // the end point (7, 1)
    const PartSeg tiny{1, 1, 1 + 0.9e-5, 1 - 0.9e-5};
    EXPECT_EQ(tprof_add_seg(p, &tiny, 1), 1);  // shorter than 1e-5 both ways: left out
    EXPECT_EQ(p->count, 40);
    ASSERT_EQ(tprof_offset(p, 0.5), 1);
    EXPECT_GT(p->count, 40 + 15);
    EXPECT_EQ(p->capacity, 2 * 40 + 1);  // room for the offset's bound of 2n + 1 elements
    for (int32_t i = 0; i < p->count; i++) EXPECT_GT(p->segs[i].r0, 5.0);  // outward, away from the axis
    EXPECT_GT(p->minR, 5.0);  // the bounds are the offset chain's own
    tprof_free(p);
    // A foot and a wall turning by 90 or 63 degrees keep a sharp corner outward: the two offset lines
    // meet at their intersection, no arc between them.
    const double k = 1 / std::sqrt(5.0);
    const struct {
        double r1;
        PartSeg foot, wall;
    } corners[] = {{5, {0, -1, 6, -1}, {6, -1, 6, 10}},
                   {10, {0, -1, 4.5 + 2.5 * k, -1}, {4.5 + 2.5 * k, -1, 10 + 2 * k, 10 - k}}};
    for (const auto& c : corners) {
        PartProfile* l = chain({{0, 0, 5, 0}, {5, 0, c.r1, 10}});
        ASSERT_EQ(tprof_offset(l, 1.0), 1);
        ASSERT_EQ(l->count, 2) << c.r1;
        for (int i = 0; i < 2; i++) {
            const PartSeg &got = l->segs[i], &want = i ? c.wall : c.foot;
            EXPECT_NEAR(got.r0, want.r0, 1e-9) << c.r1 << " " << i;
            EXPECT_NEAR(got.z0, want.z0, 1e-9) << c.r1 << " " << i;
            EXPECT_NEAR(got.r1, want.r1, 1e-9) << c.r1 << " " << i;
            EXPECT_NEAR(got.z1, want.z1, 1e-9) << c.r1 << " " << i;
        }
        tprof_free(l);
    }
    PartProfile* cyl = chain({{4, 0, 4, 10}}, kTprofShank);
    ASSERT_EQ(tprof_offset(cyl, -1.0), 1);
    EXPECT_NEAR(cyl->segs[0].r0, 3.0, 1e-9);
    EXPECT_TRUE(cyl->flags[0] == kTprofShank && cyl->capacity == 1 + 15);  // a short chain keeps n + 15
    tprof_free(cyl);
    // Its mitred corners are its own: the contour offset then cuts a right-angle corner again.
    Seg2D a{0, 0, 1, 0}, b{1, 0, 1, 1}, bridge;
    EXPECT_EQ(contour_corner_offset(&a, &b, 0.5, &bridge, 1), 1);
    // Short of memory at each allocation in turn: offset, or -1 with the chain as it was.
    for (long n = 1, fired = 1; fired; n++) {
        cyl = chain({{4, 0, 4, 10}});
        allocfail::arm(n);
        const int r = tprof_offset(cyl, 1.0);
        fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_TRUE(r == 1 ? cyl->segs[0].r0 == 5 : fired && r == -1 && cyl->segs[0].r0 == 4) << n;
        tprof_free(cyl);
    }
}

TEST(Tprof, ShankFromToolTable) {
    // Type, shaft diameter, taper, thick flag, corner radius -> segments. Under a 10 degree taper the
    // cutter's width at the tip's top is 2 (R - r + r cos a + tan a (tipTop + r sin a)): 13.68 for the
    // ball (r = R, whatever its corner radius says), 13.56 for r = 1, 13.53 for the flat end.
    const double cases[][6] = {
        {1, 12, 0, 0, 5, 2},    // chamfer and shank
        {1, 10, 0, 0, 5, 0},    // no wider than the cutter
        {2, 10, -10, 1, 5, 1},  // a narrowing taper under a shaft as wide as the cutter: thick flag, shank
                                // only
        {2, 10, -10, 0, 5, 0},  // the same without the flag
        {2, 12, 10, 0, 5, 0},   // the taper widens the cutter past the shank at the tip's top
        {1, 13.6, 10, 0, 0, 0},
        {3, 13.6, 10, 0, 1, 2},
        {2, 13.6, 10, 0, 3, 2},
    };
    for (const auto& c : cases) {
        ToolDescription t{};
        t.toolType = static_cast<uint16_t>(c[0]), t.radius = 5, t.cornerRadius = c[4], t.shaftDiameter = c[1];
        t.taperAngle = c[2], t.tipTop = 10, t.chamferTop = 2, t.cutterTop = 60,
        t.thickShaft = static_cast<int32_t>(c[3]);
        PartProfile* p = tprof_from_tool(&t, 3);
        EXPECT_EQ(p ? p->count : 0, c[5]) << c[0] << " " << c[1];
        // The chamfer runs from the cutter at the tip's top to the shaft, the shank on from there.
        const bool two = p && p->count == 2;
        EXPECT_TRUE(!p || (p->segs[0].r0 == (two ? 5.0 : c[1] / 2) && p->segs[0].z0 == (two ? 10.0 : 12.0) &&
                           p->segs[p->count - 1].r1 == c[1] / 2 && p->segs[p->count - 1].z0 == 12.0 &&
                           p->segs[p->count - 1].z1 == 60.0));
        tprof_free(p);
    }
}

TEST(Tprof, ContourPartsFromAnExchangeFile) {
    TempDir dir;
    const std::string path = dir.file("parts.kvx");
    writeTextFile(path,
                  kvxText("o Contour[Holder]()\n{\n"
                          "o L(x[0/-6] y[0/0] z[0/0])\no L(x[/-6] y[/4] z[/0])\n"
                          "o L(x[/-6.000004] y[/4.000003] z[/0])\no L(x[/-6.000004] y[/9] z[/0])\n"
                          "o L(x[/-8] y[/8] z[/0])\n}\n"
                          "o Contour[Head]()\n{\no L(x[3/9] y[1/1] z[0/0])\no L(x[/9] y[/5] z[/0])\n}\n"));
    collSetUnitFactor(1);
    // On the axis at the start: no opening segment; mirrored radii, the collinear pair merged (and the
    // step of 5e-6 between them, shorter than 1e-5, with them), the dip in height flattened, closed back
    // to the axis.
    const PartSeg holder[] = {
        {0, 100, 6, 100}, {6, 100, 6.000004, 109}, {6.000004, 109, 8, 109}, {8, 109, 0, 109}};
    // In inches: the opening segment runs on into the first element.
    const PartSeg head[] = {{0, 0, 225, 0}, {225, 0, 225, 100}, {225, 100, 0, 100}};
    const struct {
        const char* name;
        double unit, base;
        const PartSeg* want;
        int count;
    } cases[] = {{"Holder", 1, 100, holder, 4}, {"Head", 25, 0, head, 3}, {"Extension", 1, 0, nullptr, 0}};
    for (const auto& c : cases) {
        collSetUnitFactor(c.unit);
        PartProfile* p = tprof_from_contour(path.c_str(), c.name, 0.01, c.base, 1);
        EXPECT_EQ(p ? p->count : 0, c.count) << c.name;
        for (int i = 0; p && i < std::min(p->count, c.count); i++) {
            const PartSeg& s = p->segs[i];
            EXPECT_TRUE(s.r0 == c.want[i].r0 && s.z0 == c.want[i].z0 && s.r1 == c.want[i].r1 &&
                        s.z1 == c.want[i].z1)
                << c.name << " " << i;
        }
        tprof_free(p);
    }
    // The parts are the tool's own: a mirror set for contour files changes none (and stays set).
    const Vec3 o{0, 0, 0}, y{0, 1, 0};
    ASSERT_EQ(framePairCreate(&o, &y, &o, &o), 1);
    framePairSetFlag(kFramePairContours, 1);
    collSetUnitFactor(1);
    PartProfile* mirrored = tprof_from_contour(path.c_str(), "Holder", 0.01, 100, 1);
    EXPECT_TRUE(mirrored && mirrored->count == 4 && mirrored->segs[1].z1 == 109 && mirrored->segs[2].r1 == 8);
    EXPECT_EQ(framePairGetFlag(kFramePairContours), 1);
    tprof_free(mirrored);
    framePairResetState();
    collSetUnitFactor(1);
    EXPECT_EQ(coll_file_readable(""), 0);
    EXPECT_EQ(coll_file_readable(path.c_str()), 1);
    EXPECT_EQ(tprof_from_contour(dir.file("none.kvx").c_str(), "Holder", 0.01, 0, 1), nullptr);
    // Missing arguments: the documented empty answers, nothing touched.
    EXPECT_EQ(tprof_from_contour(nullptr, "Holder", 0.01, 0, 1), nullptr);
    EXPECT_EQ(tprof_from_contour(path.c_str(), nullptr, 0.01, 0, 1), nullptr);
    const PartSeg seg{1, 0, 2, 1};
    PartProfile* empty = tprof_create(2);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(tprof_add_seg(nullptr, &seg, kTprofShank), -1);
    EXPECT_EQ(tprof_add_seg(empty, nullptr, kTprofShank), -1);
    EXPECT_TRUE(tprof_offset(nullptr, 1) == 0 && tprof_offset(empty, 1) == 0);
    tprof_shift(nullptr, 1);
    // A shift raises the segments in use and leaves the room past them alone.
    ASSERT_EQ(tprof_add_seg(empty, &seg, kTprofShank), 1);
    empty->segs[1] = seg;
    tprof_shift(empty, 2);
    EXPECT_TRUE(empty->segs[0].z0 == 2 && empty->segs[0].z1 == 3 && empty->segs[1].z1 == 1);
    EXPECT_TRUE(tprof_max_angle(nullptr) == 0.0 && !tprof_from_tool(nullptr, kTprofShank));
    for (const auto& [r, want] :
         {std::pair{1e-5, M_PI / 2}, {0.99e-5, 0.0}}) {  // an end 1e-5 off the tip counts
        PartProfile* p = chain({{5, 5, r, 0}});
        EXPECT_EQ(tprof_max_angle(p), want) << r;
        tprof_free(p);
    }
    EXPECT_EQ(coll_model_from_tprof(nullptr, 0.01), nullptr);
    tprof_free(nullptr);
    tprof_free(empty);
}

// A radius far beyond the chord tolerance would need more triangles than any memory holds: refused
// at once, while a large but feasible radius is still revolved.
TEST(Tprof, RevolveRefusesMeshesBeyondTheLimit) {
    // A flat profile is counted as revolved but gives nothing: an eighth of the limit passes.
    const struct {
        double r, tol, dz;
        bool built;
    } cases[] = {{1e13, 0.01, 10, false}, {1e9, 1e-6, 10, false}, {1e4, 0.01, 10, true},
                 {1e13, 1e12, 10, true},  {1e4, 5e-8, 0, true},   {1e4, 5e-10, 0, false}};
    for (const auto& c : cases) {
        PartProfile* p = chain({{c.dz > 0 ? c.r : 0, 0, c.r, c.dz}});
        FTriList* mesh = coll_model_from_tprof(p, c.tol);
        EXPECT_EQ(mesh != nullptr, c.built) << c.r << " " << c.tol;
        if (mesh) {
            EXPECT_LE(mesh->count, c.dz > 0 ? kTprofMaxTriangles : 0);
        }
        ftriListFree(mesh);
        tprof_free(p);
    }
}

// An obstacle file comes back in bucket-grid order, rows (y) before columns (x): small triangles on a
// lattice 40 apart (some five cells of the grid), at seeded heights and in a shuffled file order, leave
// sorted by their lattice row, then column, each with its own corners; d never changes the list.
TEST(Tprof, ObstacleComesInBucketGridOrder) {
    TempDir dir;
    std::mt19937 gen(4242);
    std::vector<int> cells(25);
    for (int k = 0; k < 25; k++) cells[k] = k;
    std::shuffle(cells.begin(), cells.end(), gen);
    std::vector<Triangle3D> tris;
    std::vector<float> heights(25);
    for (int k : cells) {
        const double x = 40.0 * (k % 5), y = 40.0 * (k / 5), z = std::uniform_real_distribution<>(-9, 9)(gen);
        heights[k] = static_cast<float>(z);
        tris.push_back({{{x, y, z}, {x + 2, y, z}, {x, y + 2, z}}});
    }
    const std::string path = dir.file("lattice.stl");
    writeTextFile(path, testmesh::stlText(tris));
    for (double d : {0.0, 1.0}) {
        FTriList* out = coll_obstacle_from_file(path.c_str(), d, 2.0);
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(out->count, 25);
        for (int k = 0; k < 25; k++) {
            const float* v = out->data[k].v;
            const float x = std::min({v[0], v[3], v[6]}), y = std::min({v[1], v[4], v[7]});
            EXPECT_TRUE(x == 40.0f * (k % 5) && y == 40.0f * (k / 5)) << k << " " << x << " " << y;
            EXPECT_TRUE(v[2] == heights[k] && v[5] == heights[k] && v[8] == heights[k]) << k;
            EXPECT_EQ(std::max({v[0], v[3], v[6]}) - x + std::max({v[1], v[4], v[7]}) - y, 4.0f) << k;
        }
        ftriListFree(out);
    }
    // A hundred and one copies of one triangle fill every cell past its first room: each comes once.
    writeTextFile(path, testmesh::stlText(std::vector<Triangle3D>(101, tris[0])));
    FTriList* out = coll_obstacle_from_file(path.c_str(), 0, 2.0);
    EXPECT_TRUE(out && out->count == 101 && out->data[100].v[2] == heights[cells[0]]);
    ftriListFree(out);
}
