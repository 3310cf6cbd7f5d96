#include "collision/tprof.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "geometry/frames.h"
#include "geometry/rng.h"
#include "kernel/ncout.h"
#include "surfaces/kvxcontour.h"
#include "surfaces/meshfiles/meshtest.h"

namespace {

PartProfile* chain(const std::vector<PartSeg>& segs, uint16_t flag = kTprofContour) {
    PartProfile* p = tprof_create(2);
    for (const PartSeg& s : segs)
        if (p) tprof_add_seg(p, &s, flag);
    return p;
}

double radius(const float* v) {
    return std::hypot(static_cast<double>(v[0]), static_cast<double>(v[1]));
}

}  // namespace

TEST(Tprof, AppendSkipsPointSegmentsAndTracksBounds) {
    PartProfile* p = tprof_create(0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->capacity, 3);
    EXPECT_EQ(p->minR, DBL_MAX);
    EXPECT_EQ(p->maxZ, -DBL_MAX);
    const PartSeg tiny{1, 1, 1 + 0.9e-5, 1 - 0.9e-5};
    EXPECT_EQ(tprof_add_seg(p, &tiny, 1), 1);
    EXPECT_EQ(p->count, 0);
    for (int i = 0; i < 7; i++) {
        const PartSeg s{1.0 + i, 2.0 * i, 2.0 + i, 2.0 * i + 2};
        ASSERT_EQ(tprof_add_seg(p, &s, 1), 1);
    }
    EXPECT_EQ(p->count, 7);
    EXPECT_GE(p->capacity, 7);
    EXPECT_EQ(p->minR, 1.0);
    EXPECT_EQ(p->maxR, 8.0);
    EXPECT_EQ(p->maxZ, 14.0);
    EXPECT_NEAR(tprof_max_angle(p), std::acos(2 / std::hypot(2.0, 2.0)), 1e-15);  // (2, 2) is the widest
    tprof_free(p);
}

// Revolving: step counts against the chord rule, every vertex on its circle, every rim chord within the
// tolerance of its circle.
TEST(Tprof, RevolveStepsAndChords) {
    const struct {
        double rmax, tol;
        int steps;
    } cases[] = {{10, 0.05, 32}, {10, 0.5, 10}, {1, 2, 2}, {50, 0.01, 158}};
    for (const auto& c : cases) {
        PartProfile* p = chain({{c.rmax, 0, c.rmax, 10}});
        ASSERT_NE(p, nullptr);
        FTriList* mesh = coll_model_from_tprof(p, c.tol);
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(mesh->count, 2 * c.steps) << c.rmax << " " << c.tol;
        for (int32_t i = 0; i < mesh->count; i++) {
            const float* v = mesh->data[i].v;
            for (int k = 0; k < 3; k++) EXPECT_NEAR(radius(v + 3 * k), c.rmax, 1e-4);
            const double mx = (v[0] + v[6]) / 2.0, my = (v[1] + v[7]) / 2.0;  // P0 - P0' chord
            EXPECT_LE(c.rmax - std::hypot(mx, my), c.tol + 1e-4);
        }
        ftriListFree(mesh);
        tprof_free(p);
    }
}

TEST(Tprof, FlatProfilesRevolveToNothing) {
    const struct {
        double dz;
        bool empty;
    } cases[] = {{0.0, true}, {0.5e-5, true}, {1e-5, false}};
    for (const auto& c : cases) {
        PartProfile* p = chain({{0, 0, 5, c.dz}});
        FTriList* mesh = coll_model_from_tprof(p, 0.05);
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(mesh->count == 0, c.empty) << c.dz;
        ftriListFree(mesh);
        tprof_free(p);
    }
    PartProfile* none = tprof_create(3);
    FTriList* mesh = coll_model_from_tprof(none, 0.05);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->count, 0);
    ftriListFree(mesh);
    tprof_free(none);
}

// A zigzag chain whose offset needs about twice its count of elements, more than count + 15.
TEST(Tprof, OffsetKeepsEveryElementOfALongChain) {
    std::vector<PartSeg> segs;
    for (int i = 0; i < 40; i++)
        segs.push_back({5.0 + 2 * (i % 2), 1.0 * i, 5.0 + 2 * ((i + 1) % 2), 1.0 * i + 1});
    PartProfile* p = chain(segs);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(tprof_offset(p, 0.5), 1);
    EXPECT_GT(p->count, 40 + 15);
    EXPECT_GE(p->capacity, p->count);
    for (int32_t i = 0; i < p->count; i++) EXPECT_GT(p->segs[i].r0, 5.0);  // outward, away from the axis
    tprof_free(p);

    PartProfile* cyl = chain({{4, 0, 4, 10}}, kTprofShank);
    ASSERT_EQ(tprof_offset(cyl, -1.0), 1);
    ASSERT_EQ(cyl->count, 1);
    EXPECT_NEAR(cyl->segs[0].r0, 3.0, 1e-9);
    EXPECT_EQ(cyl->flags[0], kTprofShank);
    EXPECT_NEAR(cyl->minR, 3.0, 1e-9);
    tprof_free(cyl);
    PartProfile* empty = tprof_create(3);
    EXPECT_EQ(tprof_offset(empty, 1.0), 0);
    tprof_free(empty);
}

TEST(Tprof, ShankFromToolTable) {
    const struct {
        uint16_t type;
        double R, D, taper;
        int thick, segs;
    } cases[] = {
        {1, 5, 12, 0, 0, 2},  // chamfer and shank
        {1, 5, 10, 0, 0, 0},  // no wider than the cutter
        {2, 5, 10, -10, 1,
         1},  // a narrowing taper under a shaft as wide as the cutter: thick flag, shank only
        {2, 5, 10, -10, 0, 0},  // the same without the flag
        {2, 5, 12, 10, 0, 0},   // the taper widens the cutter past the shank at the tip's top
    };
    for (const auto& c : cases) {
        ToolDescription t{};
        t.toolType = c.type, t.radius = c.R, t.cornerRadius = c.R, t.shaftDiameter = c.D,
        t.taperAngle = c.taper;
        t.tipTop = 10, t.chamferTop = 2, t.cutterTop = 60, t.thickShaft = c.thick;
        PartProfile* p = tprof_from_tool(&t, 3);
        EXPECT_EQ(p ? p->count : 0, c.segs) << c.D;
        if (p && c.segs == 2) {
            EXPECT_EQ(p->segs[0].z1, 12.0);
            EXPECT_EQ(p->segs[1].z1, 60.0);
            EXPECT_EQ(p->flags[1], kTprofShank);
        }
        tprof_free(p);
    }
}

TEST(Tprof, ContourPartsFromAnExchangeFile) {
    TempDir dir;
    const std::string path = dir.file("parts.kvx");
    writeTextFile(path,
                  kvxText("o Contour[Holder]()\n{\n"
                          "o L(x[0/-6] y[0/0] z[0/0])\no L(x[/-6] y[/4] z[/0])\no L(x[/-6] y[/9] z[/0])\n"
                          "o L(x[/-8] y[/8] z[/0])\n}\n"
                          "o Contour[Head]()\n{\no L(x[3/9] y[1/1] z[0/0])\no L(x[/9] y[/5] z[/0])\n}\n"));
    ncOutResetState();
    PartProfile* holder = tprof_from_contour(path.c_str(), "Holder", 0.01, 100, 1);
    ASSERT_NE(holder, nullptr);
    // On the axis at the start: no opening segment; the mirrored radius rises, the collinear pair merges,
    // the dip in height is flattened and the chain closes back to the axis.
    const PartSeg want[] = {{0, 100, 6, 100}, {6, 100, 6, 109}, {6, 109, 8, 109}, {8, 109, 0, 109}};
    ASSERT_EQ(holder->count, 4);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(holder->segs[i].r0, want[i].r0) << i;
        EXPECT_EQ(holder->segs[i].z0, want[i].z0) << i;
        EXPECT_EQ(holder->segs[i].r1, want[i].r1) << i;
        EXPECT_EQ(holder->segs[i].z1, want[i].z1) << i;
    }
    ncSetUnitFactor(25.0);
    PartProfile* head = tprof_from_contour(path.c_str(), "Head", 0.01, 0, 1);
    ASSERT_NE(head, nullptr);
    ASSERT_EQ(head->count, 3);  // the opening segment runs on into the first element: one line
    EXPECT_EQ(head->segs[0].r0, 0.0);
    EXPECT_EQ(head->segs[0].r1, 225.0);
    EXPECT_EQ(head->segs[1].z1, 100.0);
    EXPECT_EQ(head->segs[2].r1, 0.0);
    EXPECT_EQ(tprof_from_contour(path.c_str(), "Extension", 0.01, 0, 1), nullptr);
    ncOutResetState();
    tprof_free(holder);
    tprof_free(head);
}

TEST(Tprof, MissingFiles) {
    EXPECT_EQ(coll_file_readable(""), 0);
    EXPECT_EQ(coll_file_readable(nullptr), 0);
    EXPECT_EQ(coll_file_readable("/nonexistent/x.3df"), 0);
    EXPECT_EQ(tprof_from_contour("/nonexistent/x.kvx", "Holder", 0.01, 0, 1), nullptr);
}
