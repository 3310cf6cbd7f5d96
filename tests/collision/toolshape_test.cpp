#include "collision/toolshape.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "collision/chkmodel.h"
#include "collision/toolassembly.h"
#include "collision/toolseg.h"
#include "collision/tprof.h"
#include "kernel/base/runreset.h"
#include "surfaces/meshfiles/meshtest.h"

namespace {

void resetAll() {
    runResetAll();
}
struct ToolShapeTest : ::testing::Test {
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }
};

// The ten (height, radius) points of a tool as the tests read its description.
void outline(const ToolDescription& t, double z[10], double r[10]) {
    const double a = t.taperAngle * M_PI / 180, c = t.toolType == 3 ? t.cornerRadius : t.radius;
    z[0] = -c * std::sin(a), r[0] = t.radius - c + c * std::cos(a);
    z[1] = t.tipTop, r[1] = r[0] + (z[1] - z[0]) * std::tan(a);
    const double zs[8] = {t.chamferTop, t.cutterTop, t.cutterTop, t.stage2Top,
                          t.stage1Top,  t.stage1Top, t.stage3Top, t.stage4Top};
    const double ds[8] = {t.shaftDiameter,  t.shaftDiameter,  t.stage2Diameter, t.stage1Diameter,
                          t.stage1Diameter, t.stage3Diameter, t.stage4Diameter, t.stage4Diameter};
    for (int i = 0; i < 8; i++) z[i + 2] = zs[i], r[i + 2] = ds[i] / 2;
}

double distToOutline(const double* zs, const double* rs, double z, double r) {
    double best = 1e300;
    for (int i = 0; i + 1 < 10; i++) {
        const double dz = zs[i + 1] - zs[i], dr = rs[i + 1] - rs[i], len2 = dz * dz + dr * dr;
        const double t = len2 > 0 ? std::clamp(((z - zs[i]) * dz + (r - rs[i]) * dr) / len2, 0.0, 1.0) : 0.0;
        best = std::min(best, std::hypot(z - zs[i] - t * dz, r - rs[i] - t * dr));
    }
    return best;
}

// The swing test of the profile (assembly 0) or of the active assembly (1) about the origin.
int query(int assembly, const Vec3& p, const Frame& f, double* angle) {
    const Vec3 o{0, 0, 0};
    return assembly
               ? toolAssemblyAngleQuery(toolAssemblyActive(), &o, &f.dir, &f.ref, &f.axis, &p, angle, 0, 10.0)
               : toolSegPointTest(&o, &f.dir, &f.ref, &f.axis, &p, angle, 10.0, 0);
}

}  // namespace

// A point level with the swing plane at distance d, beside a straight part of radius r: the swing
// angle is atan2(b, a) - asin(r / d), for the profile and the assembly alike.
TEST_F(ToolShapeTest, SwingAngleBesideTheShaft) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    ASSERT_NE(toolAssemblyCreate(&t, "", 0, 0.01, 0), nullptr);
    const Frame f{{0, 0, 1}, {1, 0, 0}, {0, -1, 0}};
    // 12: beside the tip; 95: beside the top stage, of radius 15
    const double cases[][3] = {{30, 0.3, 5}, {45, -0.2, 5}, {25, 1.0, 5},
                               {40, 0.0, 5}, {12, 0.3, 5},  {95, 0.4, 15}};
    for (int assembly : {0, 1}) {
        for (const auto& c : cases) {
            const double a = c[0] * std::cos(c[1]), b = c[0] * std::sin(c[1]);
            double angle = 1.5;
            ASSERT_EQ(query(assembly, Vec3{b, 0, a}, f, &angle), 2) << c[0];
            EXPECT_NEAR(angle, std::atan2(b, a) - std::asin(c[2] / c[0]), 1e-12) << c[0];
            EXPECT_EQ(query(assembly, Vec3{b, 0, a}, f, &angle), 1);  // the same angle is no new smallest
        }
        // Farther from the swing plane than the radius met at the point's distance: out of reach (6 beside
        // the shaft; 7 where the step at 50 is met at radius 6); so is a point without a distance.
        double angle = 1.5;
        EXPECT_EQ(query(assembly, Vec3{1, 6, 30}, f, &angle), 0);
        EXPECT_EQ(query(assembly, Vec3{NAN, 0, 30}, f, &angle), 0);
        EXPECT_EQ(query(assembly, Vec3{0, -7, std::sqrt(2487.0)}, f, &angle), 0);
        EXPECT_EQ(angle, 1.5);
        // Exactly as far off the plane as the shaft's radius: still reached, on the shaft's edge.
        ASSERT_EQ(query(assembly, Vec3{1, 5, 30}, f, &angle), 2);
        EXPECT_NEAR(angle, std::atan2(1.0, 30.0), 1e-12);
    }
    // Exactly as far as the tip's rim (3-4-5): the first segment is met at its start, asin(1) off; by
    // the assembly, and by the profile once the assembly is freed.
    for (const int freed : {0, 1}) {
        if (freed) toolAssemblyFree();
        double rim = 1.5;
        ASSERT_EQ(query(1 - freed, Vec3{3, 0, 4}, f, &rim), 2) << freed;
        EXPECT_NEAR(rim, std::atan2(3.0, 4.0) - M_PI / 2, 1e-12) << freed;
    }
}

// Seeded tools, frames and points: a new smallest angle turns the point back onto the tool's outline, on
// the side of the reference direction.
TEST_F(ToolShapeTest, SwingAngleLandsOnTheOutline) {
    int hits[2] = {0, 0};
    for (int n = 0; n < 300; n++) {
        const ToolDescription t = randomTool();
        double z[10], r[10];
        outline(t, z, r);
        toolSegProfileInit(&t, 0, 0.005);
        ASSERT_NE(toolAssemblyCreate(&t, nullptr, 0, 0.01, 0), nullptr);
        const Frame f = randomFrame();
        const double rad = std::hypot(z[9], r[9]) * rngUniform(), s = (rngUniform() - 0.5) * 2 * r[9];
        const double alpha = (rngUniform() - 0.5) * 3, ab = std::sqrt(std::max(rad * rad - s * s, 0.0));
        const double a = ab * std::cos(alpha), b = ab * std::sin(alpha);
        const Vec3 p{a * f.dir.x + b * f.ref.x + s * f.axis.x, a * f.dir.y + b * f.ref.y + s * f.axis.y,
                     a * f.dir.z + b * f.ref.z + s * f.axis.z};
        int code[2];
        for (int k = 0; k < 2; k++) {
            double phi = 10.0;
            if ((code[k] = query(k, p, f, &phi)) != 2) continue;
            hits[k]++;
            const double a2 = a * std::cos(phi) + b * std::sin(phi),
                         b2 = -a * std::sin(phi) + b * std::cos(phi);
            EXPECT_GE(b2, -1e-9);
            EXPECT_LT(distToOutline(z, r, a2, std::hypot(b2, s)), 1e-7) << n << " " << k;
        }
        EXPECT_EQ(code[0], code[1]) << n;  // the profile's test and the assembly's agree, misses too
    }
    EXPECT_GT(hits[0], 100);
    EXPECT_EQ(hits[0], hits[1]);
}

// Swing test (kind 0: mode, near-tip check) and inside test (kind 1: collision flag) of the stacked tool
// with its tip at o (off the origin on every axis), axis +z, reference +x; points given from o.
TEST_F(ToolShapeTest, PointTestsTable) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    const Vec3 o{3, -7, 11}, dir{0, 0, 1}, ref{1, 0, 0}, axis{0, -1, 0};
    const double cases[][7] = {
        {0, -1, std::sqrt(2549.0), 0, 0, 0, 2},  // on the step at height 50: the circle-radius window holds
        {0, -11, 0, 0, 0, 0, 0},                 // beside the tip beyond the swing-axis offset
        {0, 0, 102, 0, 0, 0, 0},                 // beyond the top
        {4.98, 0, 0.5, 1, 1, 0, -2},             // within 0.1 R of the tip with the near-tip check
        {4.98, 0, 0.5, 1, 0, 0, 2},
        {4.99, 0, 10, 0, 0, 1, 1},
        {4.996, 0, 10, 0, 0, 1, 0},  // flank less the step
        {4.85, 0, 0.1, 0, 0, 1, 1},
        {4.95, 0, 0.1, 0, 0, 1, 0},  // 0.1 near the bottom
        {0, 0, -0.1, 0, 0, 1, 0},
        {9, 0, 70, 0, 0, 1, 0},  // holder stages only with the flag
        {9, 0, 70, 1, 0, 1, 1},
        {10.01, 0, 70, 1, 0, 1, 0},
        {14, 0, 95, 1, 0, 1, 1},  // the top stage
        {15.01, 0, 95, 1, 0, 1, 0},
        {5.0, 0, 10, 1, 0, 1, 0},  // on the cutter's flank: the holder stages' step does not reach below
    };
    for (const auto& c : cases) {
        const Vec3 p{o.x + c[0], o.y + c[1], o.z + c[2]};
        double angle = 1.5;
        toolSegProfileSetMode(static_cast<int32_t>(c[3]));
        meshSetCollFlag(static_cast<int32_t>(c[3]));
        const int got =
            c[5] ? toolSegPointInside(&p, &o, &dir)
                 : toolSegPointTest(&o, &dir, &ref, &axis, &p, &angle, 1.5, static_cast<int>(c[4]));
        EXPECT_EQ(got, c[6]) << c[0] << " " << c[2];
    }
    // A tapered tip under a steep chamfer: inside is measured against the taper's own line.
    ToolDescription tapered = stackedTool();
    tapered.taperAngle = 10, tapered.chamferTop = 25, tapered.shaftDiameter = 30;
    toolSegProfileInit(&tapered, 0, 0.005);
    toolSegProfileSetMode(0);
    meshSetCollFlag(0);
    double z[10], r[10];
    outline(tapered, z, r);
    for (double h : {2.0, 10.0, 19.0}) {
        const double flank = r[0] + (h - z[0]) * (r[1] - r[0]) / (z[1] - z[0]);
        const Vec3 in{o.x + flank - 0.006, o.y, o.z + h}, out{o.x + flank - 0.004, o.y, o.z + h};
        EXPECT_EQ(toolSegPointInside(&in, &o, &dir), 1) << h;
        EXPECT_EQ(toolSegPointInside(&out, &o, &dir), 0) << h;
    }
}

// The profile's radii are the tool's: each stage made the widest (radius 20) is the largest radius the
// reach reports (and the reach off the swing plane), the ball and shaft (5) the smallest; without a
// profile both are 0.
TEST_F(ToolShapeTest, ReachAndSmallestRadiusOfTheProfile) {
    double in2, out2, radius;
    toolSegProfileInit(nullptr, 0, 0.005);  // no tool, no profile
    toolSegReach(&in2, &out2, &radius);
    EXPECT_EQ(radius, 0.0);
    EXPECT_EQ(toolSegMinRadius(), 0.0);
    for (int stage = 0; stage < 4; ++stage) {
        ToolDescription t = stackedTool();
        double* d[4] = {&t.stage1Diameter, &t.stage2Diameter, &t.stage3Diameter, &t.stage4Diameter};
        *d[stage] = 40;
        toolSegProfileInit(&t, 0, 0.005);
        toolSegReach(&in2, &out2, &radius);
        EXPECT_EQ(radius, 20.0) << stage;
        EXPECT_EQ(toolSegMinRadius(), 5.0) << stage;
        EXPECT_NEAR(out2, 100 * 100 + (stage == 3 ? 20 * 20 : 15 * 15), 1e-9) << stage;
        EXPECT_EQ(in2, 25.0) << stage;  // the reach starts at the tip's rim, R from the pivot
        // Farther off the swing plane than the widest radius (past the bound's slack, 1e-7 relative)
        // nothing is reached: no angle taken off.
        EXPECT_EQ(toolSegHalfAngleBound(0, out2, 20 + 2.1e-6), -1.0) << stage;
        EXPECT_GE(toolSegHalfAngleBound(0, out2, 19.9), 0.0) << stage;
    }
    // A ball wider than every stage under a narrowing taper: its tip radius R cos a is the widest.
    ToolDescription t = stackedTool();
    t.radius = t.cornerRadius = 20, t.taperAngle = -10;
    toolSegProfileInit(&t, 0, 0.005);
    toolSegReach(&in2, &out2, &radius);
    EXPECT_NEAR(radius, 20 * std::cos(10 * M_PI / 180), 1e-12);
    // A tool given by its diameter (type 12) starts from half its shaft: the tapered tip's lowest
    // radius is that less R (1 - cos a).
    t = stackedTool();
    t.toolType = kToolDiameter12, t.shaftDiameter = 8, t.taperAngle = 10;
    toolSegProfileInit(&t, 0, 0.005);
    EXPECT_NEAR(toolSegMinRadius(), 4 - 5 * (1 - std::cos(10 * M_PI / 180)), 1e-12);
    // Its cone test sees that half shaft as the radius and the taper raised by the extra angle.
    toolSegProfileInit(&t, 2, 0.005);
    EXPECT_NEAR(toolSegMinRadius(), 4 - 5 * (1 - std::cos(12 * M_PI / 180)), 1e-12);
    toolSegSetLineConeTest([](const Vec3*, const Vec3*, const ToolDescription* tool, const Vec3*, const Vec3*,
                              Vec3*) { return tool->radius == 4 && tool->taperAngle == 12 ? 1 : 0; });
    const Vec3 o{0, 0, 0};
    EXPECT_EQ(toolSegEdgeHits(&o, &o, &o, &o), 1);
    toolSegSetLineConeTest(nullptr);
    // The flank leaves the corner circle (a ball's whole radius, whatever its corner field holds; a
    // radius mill's corner about R - r) at the radius R - r + r cos a.
    const struct {
        uint16_t type;
        double corner, taper, want;
    } cases[] = {{kBallMill, 5, 10, 5 * std::cos(10 * M_PI / 180)},
                 {kBallMill, 0, 10, 5 * std::cos(10 * M_PI / 180)},
                 {kBallMill, 2, 20, 5 * std::cos(20 * M_PI / 180)},
                 {kRadiusMill, 2, 10, 3 + 2 * std::cos(10 * M_PI / 180)},
                 {kRadiusMill, 1, 20, 4 + std::cos(20 * M_PI / 180)}};
    for (const auto& c : cases) {
        t = stackedTool();
        t.toolType = c.type, t.cornerRadius = c.corner, t.taperAngle = c.taper;
        toolSegProfileInit(&t, 0, 0.005);
        EXPECT_NEAR(toolSegMinRadius(), c.want, 1e-12) << c.type << " " << c.corner;
    }
    // A flat step from radius 1 to 3 at height h, queried at distances 2 to sqrt(5): pi bounds it where
    // the heights' slack (1e-9 (1 + h)) leaves nothing of h, its own take-off (about pi / 2) above.
    const double hZero = std::nextafter(1e-9 / (1 - 1e-9), 1.0);
    for (const double h : {hZero, 2e-9}) {
        t = ToolDescription{};
        t.toolType = kEndMill, t.radius = 1, t.shaftDiameter = 2, t.cutterTop = h;
        t.stage2Top = t.stage1Top = t.stage3Top = t.stage4Top = h;
        t.stage2Diameter = t.stage1Diameter = t.stage3Diameter = t.stage4Diameter = 6;
        toolSegProfileInit(&t, 0, 0.005);
        const double want = h == hZero ? M_PI : M_PI / 2;
        for (const double b : {toolSegHalfAngleBound(4, 5, 0), toolSegHalfAngleBound(4.5, 4.5, 0)}) {
            EXPECT_NEAR(b, want, 1e-5) << h;
            EXPECT_GE(b, std::atan2(3.0, h)) << h;  // never below the take-off of the step's rim
        }
    }
}

TEST_F(ToolShapeTest, AssemblyContours) {
    // Trimming leaves a missing or empty profile as it is.
    toolAssemblyTrimProfile(nullptr);
    toolAssemblyDestroy(nullptr);
    const ToolDescription stacked = stackedTool();
    EXPECT_EQ(toolAssemblyBuild(nullptr, nullptr, 0, 0.01, nullptr), nullptr);
    EXPECT_EQ(toolAssemblyCreate(nullptr, nullptr, 0, 0.01, 0), nullptr);
    EXPECT_EQ(toolAssemblyDefaultContour(nullptr, &stacked), 0);
    EXPECT_EQ(toolAssemblyContour(nullptr, &stacked, "parts.kvx", 0.01, nullptr), 0);
    const Vec3 o{0, 0, 0}, x{1, 0, 0}, y{0, 1, 0}, up{0, 0, 1};
    double best = 1;
    EXPECT_EQ(toolAssemblyAngleQuery(nullptr, &o, &x, &x, &x, &x, &best, 0, 1), 0);
    // A contour by hand: a foot at z 2 out from the axis to r 4, a wall r = 4 up to z 6, a brim out to 6;
    // near-tip height 3. Frame along z, swing plane x z. Reach ends, r 0 on the foot, the wall in and
    // across the plane, the brim; 4.5 off the plane low on the wall no swing meets it, near the tip or not.
    double hz[4] = {2, 2, 6, 6}, hr[4] = {0, 4, 4, 6}, hq[4] = {4, 20, 52, 72}, m[3] = {}, b[3] = {0, 4},
           one[3] = {1, 1}, b2[3] = {0, 16};
    ToolAssembly hand{};
    EXPECT_EQ(toolAssemblyContour(&hand, &stacked, nullptr, 0.01, nullptr), 0);  // no file named
    hand.count = 4, hand.z = hz, hand.r = hr, hand.q = hq, hand.m = m, hand.b = b, hand.onePlusM2 = one;
    hand.mb = hand.mb2 = m, hand.b2 = b2, hand.tolerance = 3;
    const struct {
        Vec3 p;
        int mode, nearTip;
        double best, limit;
        int want;
        double bestOut;
    } rows[] = {
        {{0, 0, 2}, 1, 1, 1, 1, -2, 1}, {{0, 0, 2}, 0, 1, 1, 1, 0, 1},   {{0, 0, 1.9}, 1, 1, 1, 1, 0, 1},
        {{6, 0, 6}, 0, 0, 1, 1, 0, 1},  {{1, 0, 2}, 1, 0, 1, 1, 2, 0},   {{4, 0, 2}, 0, 0, 1, 1, 2, 0},
        {{4, 0, 4}, 1, 1, 1, 1, 2, 0},  {{4, 0, 4}, 0, 0, 0, 1, 1, 0},   {{4, 0, 4}, 0, 0, 1, 0, 1, 1},
        {{0, 4, 4}, 0, 0, 1, 1, 2, 0},  {{0, 4.5, 4}, 0, 0, 1, 1, 0, 1}, {{4, 0, 6}, 0, 0, 1, 1, 2, 0},
        {{5, 0, 6}, 0, 0, 1, 1, 2, 0},  {{0, 4.5, 0}, 1, 1, 1, 1, 0, 1}};
    for (const auto& c : rows) {
        hand.queryMode = c.mode, best = c.best;
        EXPECT_EQ(toolAssemblyAngleQuery(&hand, &o, &up, &x, &y, &c.p, &best, c.nearTip, c.limit), c.want)
            << c.p.x << " " << c.p.y << " " << c.p.z;
        EXPECT_NEAR(best, c.bestOut, 1e-12);
    }
    PartProfile* none = tprof_create(2);
    ASSERT_NE(none, nullptr);
    toolAssemblyTrimProfile(none);
    EXPECT_EQ(none->count, 0);
    tprof_free(none);
    // Trimmed flat ends (a foot, a brim) take their flags along and leave the largest angle from the tip.
    PartProfile* brim = tprof_create(2);
    ASSERT_NE(brim, nullptr);
    const PartSeg foot{0, 0, 5, 0}, rise{5, 0, 5, 10}, flat{5, 10, 20, 10};
    tprof_add_seg(brim, &foot, 3), tprof_add_seg(brim, &rise, 1), tprof_add_seg(brim, &flat, 3);
    EXPECT_EQ(tprof_max_angle(brim), M_PI / 2);  // the foot's end level with the tip, its list full
    toolAssemblyTrimProfile(brim);
    EXPECT_TRUE(brim->count == 1 && brim->flags[0] == 1 && brim->segs[0].z1 == 10);
    EXPECT_NEAR(tprof_max_angle(brim), std::atan2(5.0, 10.0), 1e-15);
    // Ends that rise by exactly 1e-5 are not flat: kept.
    const PartSeg lowFoot{0, -1e-5, 5, 0}, lowBrim{5, 0, 6, 1e-5};
    brim->count = 0;
    tprof_add_seg(brim, &lowFoot, 3), tprof_add_seg(brim, &rise, 1), tprof_add_seg(brim, &lowBrim, 3);
    toolAssemblyTrimProfile(brim);
    EXPECT_EQ(brim->count, 3);
    tprof_free(brim);
    TempDir dir;
    const std::string path = dir.file("tool.kvx");
    // Extension: a horizontal foot, then a straight rise; the holder sits on the extension's top.
    writeTextFile(path,
                  kvxText("o Contour[Extension]()\n{\no L(x[0/8] y[0/0] z[0/0])\no L(x[/8] y[/20] z[/0])\n}\n"
                          "o Contour[Holder]()\n{\no L(x[12/12] y[0/10] z[0/0])\n}\n"));
    const ToolDescription t = stackedTool();
    double z[10], r[10];
    outline(t, z, r);
    const double allowances[4] = {0.0, 0.5, 0.25, 3.0};  // head, holder, extension, shaft
    // Cutter, shaft (its allowance limited by the chamfer flag to r1 - D/2 = 0), extension, holder, the
    // horizontal ends of both parts trimmed away.
    const double named[][2] = {{0, 5},     {20, 5},    {20, 5},    {50, 5},
                               {50, 8.25}, {70, 8.25}, {70, 12.5}, {80, 12.5}};
    for (const char* file : {static_cast<const char*>(nullptr), path.c_str()}) {
        ToolAssembly* a = toolAssemblyBuild(&t, file, 0, 0.01, allowances);
        ASSERT_NE(a, nullptr);
        ASSERT_EQ(a->count, file ? 8 : 10);
        for (int i = 0; i < a->count; i++) {
            EXPECT_DOUBLE_EQ(a->z[i], file ? named[i][0] : z[i]) << i;
            EXPECT_DOUBLE_EQ(a->r[i], file ? named[i][1] : r[i]) << i;
        }
        const Vec3 o{0, 0, 0}, d{0, 0, 1}, ref{1, 0, 0}, ax{0, -1, 0},
            outer{0, 0, std::sqrt(a->q[a->count - 1])};
        double best = 1.5;
        EXPECT_EQ(toolAssemblyAngleQuery(a, &o, &d, &ref, &ax, &outer, &best, 0, 1.5), 0);
        // On the shaft straight across the swing plane: the contour's own angle, a new smallest.
        const Vec3 side{0, -5, 30};
        EXPECT_EQ(toolAssemblyAngleQuery(a, &o, &d, &ref, &ax, &side, &best, 0, 1.5), 2);
        EXPECT_NEAR(best, 0, 1e-12);
        toolAssemblyDestroy(a);
        EXPECT_TRUE(a->count == 0 && !a->z && !a->q);
        std::free(a);
    }
    // Short of memory at each allocation of a contour read from the file in turn: no throw and nothing left
    // behind; 0 with no points, or the cutter and shank points at least (a part the file's reader could
    // not hold is left out), all of them where the memory was never missed.
    for (long n = 1, fired = 1; fired; n++) {
        ToolAssembly rec{};
        allocfail::arm(n);
        const int ok = toolAssemblyContour(&rec, &t, path.c_str(), 0.01, allowances);
        fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_TRUE(ok ? rec.count >= 4 && (fired || rec.count == 8) : fired && rec.count == 0) << n;
        toolAssemblyDestroy(&rec);
    }
    // Without the chamfer flag (a chamfer above the tip) the shaft takes its whole allowance; a head that
    // trimming leaves empty adds no point.
    const std::string withHead = dir.file("head.kvx");
    writeTextFile(withHead,
                  kvxText("o Contour[Extension]()\n{\no L(x[0/8] y[0/0] z[0/0])\no L(x[/8] y[/20] z[/0])\n}\n"
                          "o Contour[Holder]()\n{\no L(x[12/12] y[0/10] z[0/0])\n}\n"
                          "o Contour[Head]()\n{\no L(x[0/15] y[0/0] z[0/0])\n}\n"));
    ToolDescription wide = t;
    wide.chamferTop = 25;
    ToolAssembly* a = toolAssemblyBuild(&wide, withHead.c_str(), 3, 0.01, allowances);
    ASSERT_NE(a, nullptr);
    // The extra angle raises the copy's taper; the near-tip height is 0.1 R outside query mode 2.
    EXPECT_EQ(a->tool.taperAngle, 3.0);
    EXPECT_NEAR(a->angle, 3 * M_PI / 180, 1e-15);
    EXPECT_EQ(a->tolerance, 0.5);
    ASSERT_EQ(a->count, 8);
    EXPECT_TRUE(a->z[2] == 25 && a->r[2] == 8 && a->z[3] == 50 && a->r[3] == 8);
    EXPECT_TRUE(a->z[7] == 80 && a->r[7] == 12.5);
    toolAssemblyDestroy(a);
    std::free(a);
    // A quarter arc (radius 4, centre at r 8, 4 above the cutter) is cut into chords at half the
    // assembly's tolerance: every point on the circle, no chord's sagitta beyond tol / 2, the full ones at
    // it.
    const std::string arc = dir.file("arc.kvx");
    writeTextFile(arc, kvxText("o Contour[Extension]()\n{\no A(o[1] x[8/12/8] y[0/4/4] z[0/0/0])\n}\n"));
    for (double tol : {0.01, 0.2}) {
        a = toolAssemblyBuild(&t, arc.c_str(), 0, tol, nullptr);
        ASSERT_NE(a, nullptr);
        const int chords = static_cast<int>(std::ceil((M_PI / 2 - 1e-4) / (2 * std::acos(1 - tol / 8))));
        ASSERT_EQ(a->count, 4 + chords + 1) << tol;
        double most = 0;
        for (int i = 4; i < a->count; i++) {
            EXPECT_NEAR(std::hypot(a->r[i] - 8, a->z[i] - 54), 4, 1e-12) << i;
            if (i > 4)
                most = std::max(
                    most, 4 - std::hypot((a->r[i] + a->r[i - 1]) / 2 - 8, (a->z[i] + a->z[i - 1]) / 2 - 54));
        }
        EXPECT_NEAR(most, tol / 2, 1e-9) << tol;
        toolAssemblyDestroy(a);
        EXPECT_TRUE(a->count == 0 && !a->z && !a->r && !a->q && !a->m);
        std::free(a);
    }
}

// With an assembly active the swing test measures its contour (the queries' bounds and tables are built
// on it): seeded assemblies from the description (also with the heights out of order, as a
// description without a shank has them) or from named part contours, against the assembly's own
// query; after the assembly is freed the profile answers again.
TEST_F(ToolShapeTest, SwingTestOfAnActiveAssemblyIsItsContourQuery) {
    TempDir dir;
    int hits = 0;
    for (int n = 0; n < 400; n++) {
        const ToolDescription profileTool = randomTool();
        toolSegProfileSetMode(rngBelow(2) ? 2 : 0);
        toolSegProfileInit(&profileTool, 2 * rngUniform(), 0.02);
        ToolDescription t = randomTool();
        if (n % 3 == 1) t.chamferTop = 0, t.stage2Top = t.cutterTop - 5;  // falling segments
        std::string contours;
        if (n % 3 == 2) {
            contours = dir.file("tool" + std::to_string(n) + ".kvx");
            const double e = 4 + 6 * rngUniform(), h = 6 + 20 * rngUniform(), w = e + 2 + 10 * rngUniform();
            char text[400];
            snprintf(
                text, sizeof text,
                "o Contour[Extension]()\n{\no L(x[%.4f/%.4f] y[0/%.4f] z[0/0])\n}\n"
                "o Contour[Holder]()\n{\no L(x[%.4f/%.4f] y[0/10] z[0/0])\no L(x[/%.4f] y[/30] z[/0])\n}\n",
                e, e, h, w, w, w + 5 * rngUniform());
            writeTextFile(contours, kvxText(text));
        }
        const Vec3 o{0, 0, 0};
        const Frame f = randomFrame();
        const auto pointNear = [&](double reach) {
            const double rad = reach * rngUniform(), s = (rngUniform() - 0.5) * 0.6 * reach;
            const double alpha = (rngUniform() - 0.5) * 3, ab = std::sqrt(std::max(rad * rad - s * s, 0.0));
            const double a = ab * std::cos(alpha), b = ab * std::sin(alpha);
            return Vec3{a * f.dir.x + b * f.ref.x + s * f.axis.x, a * f.dir.y + b * f.ref.y + s * f.axis.y,
                        a * f.dir.z + b * f.ref.z + s * f.axis.z};
        };
        const Vec3 before = pointNear(profileTool.stage4Top);
        double profileAngle = 1.5;
        const int profileCode =
            toolSegPointTest(&o, &f.dir, &f.ref, &f.axis, &before, &profileAngle, 1.05, 1);
        const ToolAssembly* a =
            toolAssemblyCreate(&t, contours.empty() ? nullptr : contours.c_str(), rngUniform(), 0.01, 0.02);
        ASSERT_NE(a, nullptr);
        for (int k = 0; k < 20; k++) {
            const Vec3 p = pointNear(1.1 * std::sqrt(a->q[a->count - 1]));
            double got = 1.5, want = 1.5;
            const int code = toolSegPointTest(&o, &f.dir, &f.ref, &f.axis, &p, &got, 1.05, 1);
            const int expect = toolAssemblyAngleQuery(a, &o, &f.dir, &f.ref, &f.axis, &p, &want, 1, 1.05);
            // Only a new smallest angle counts: within reach, out of it or near the tip all leave it.
            EXPECT_EQ(code == 2, expect == 2) << n << " " << k;
            EXPECT_NEAR(got, want, 1e-12) << n << " " << k;
            hits += expect == 2;
        }
        toolAssemblyFree();
        double again = 1.5;
        EXPECT_EQ(toolSegPointTest(&o, &f.dir, &f.ref, &f.axis, &before, &again, 1.05, 1), profileCode) << n;
        EXPECT_EQ(again, profileAngle) << n;
    }
    EXPECT_GT(hits, 1000);
}

// A point exactly as far from the pivot as the top corner (15, 100) of the stacked tool: the profile
// still reaches it with that corner (distance 72^2 + 71^2 = 100^2 + 15^2), the assembly's contour ends
// before its outermost sphere.
TEST_F(ToolShapeTest, TopCornerDistanceEndsTheReach) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    const Frame f{{0, 0, 1}, {1, 0, 0}, {0, -1, 0}};
    double angle = 1.5;
    ASSERT_EQ(query(0, Vec3{71, 0, 72}, f, &angle), 2);
    EXPECT_NEAR(angle, std::atan2(71.0, 72.0) - std::atan2(15.0, 100.0), 1e-12);
    // The active assembly takes the profile's place in the swing test too.
    ASSERT_NE(toolAssemblyCreate(&t, "", 0, 0.01, 0), nullptr);
    for (int assembly : {0, 1}) {
        angle = 1.5;
        EXPECT_EQ(query(assembly, Vec3{71, 0, 72}, f, &angle), 0);
        EXPECT_EQ(angle, 1.5);
        // Exactly as far as the shaft's top corner (5, 50): 26^2 + 43^2 = 50^2 + 5^2, that corner.
        ASSERT_EQ(query(assembly, Vec3{43, 0, 26}, f, &angle), 2);
        EXPECT_NEAR(angle, std::atan2(43.0, 26.0) - std::atan2(5.0, 50.0), 1e-12);
    }
}

// The take-off table follows the tool: after a tool whose heights alone, or radii alone, differ from the
// last one's it is the table built for that tool from scratch.
TEST_F(ToolShapeTest, TakeoffTableFollowsTheTool) {
    const ToolDescription first = stackedTool();
    ToolDescription taller = first, wider = first;
    taller.stage2Top += 4, wider.stage2Diameter += 4;
    for (const ToolDescription* next : {&taller, &wider}) {
        std::vector<uint32_t> tables[2];
        for (int warm : {0, 1}) {
            toolSegResetState();
            if (warm) toolSegProfileInit(&first, 0, 0.005);
            toolSegProfileInit(next, 0, 0.005);
            const ToolSegTakeoff* t = toolSegTakeoff();
            ASSERT_NE(t, nullptr);
            tables[warm] = {t->base, t->bins};
            for (uint32_t i = 0; i < t->bins * ToolSegTakeoff::kSlots; i++)
                tables[warm].push_back(std::bit_cast<uint32_t>(t->bound[i]));  // NaN cells compare too
        }
        EXPECT_EQ(tables[0], tables[1]) << next->stage2Top;
    }
    // Its first bin is the one of the tip's squared distance 25, which starts a bin; its last, the one of
    // the top corner's (15, 100).
    toolSegProfileInit(&first, 0, 0.005);
    EXPECT_EQ(toolSegTakeoff()->base, std::bit_cast<uint32_t>(25.0f) >> ToolSegTakeoff::kShift);
    EXPECT_EQ(toolSegTakeoff()->base + toolSegTakeoff()->bins - 1,
              std::bit_cast<uint32_t>(10225.0f) >> ToolSegTakeoff::kShift);
    // A stage too wide for a float's inverse square leaves the bins it reaches without a bound (NaN): a
    // range over the plane from the tip into them has none either, as the bin walk of a copy finds.
    ToolDescription wide = first;
    wide.stage3Diameter = 4e25;
    toolSegProfileInit(&wide, 0, 0.005);
    const ToolSegTakeoff copy = *toolSegTakeoff();
    int bounded = 0, unbounded = 0;
    for (double d2 = 26; d2 < 1.1e4; d2 *= 1.2) {
        const double fast = toolSegTakeoffOver(toolSegTakeoff(), 26, d2, 0),
                     walk = toolSegTakeoffOver(&copy, 26, d2, 0);
        EXPECT_TRUE(std::isnan(fast) ? std::isnan(walk) : fast == walk) << d2;
        bounded += !std::isnan(walk), unbounded += std::isnan(walk);
    }
    EXPECT_TRUE(bounded > 10 && unbounded > 0);
    // At most 2048 bins, a ratio of 2^64 in squared distance: with the stages' 1e4 a ball of radius 1e-9
    // has no table, one of 1e-7 has.
    for (const double R : {1e-9, 1e-7}) {
        ToolDescription tiny = first;
        tiny.radius = tiny.cornerRadius = R;
        toolSegProfileInit(&tiny, 0, 0.005);
        EXPECT_EQ(toolSegTakeoff() != nullptr, R > 1e-8) << R;
    }
}

// The offset tool's flank: the new taper a' solves q cos a' - h sin a' = r - o for
// q = (r sin a + h) tan a + r cos a, h the tip length, o the offset capped at the corner r; the radius
// drops by o. Without a root, or with no flank at all, the tool stays as it was.
TEST_F(ToolShapeTest, OffsetTaperTable) {
    const struct {
        uint16_t type;
        double R, corner, taper, tip, offset;
        bool changes;
    } cases[] = {{1, 5, 0, 0, 20, 1, true},     {3, 6, 2, 5, 15, 0.5, true}, {3, 6, 2, 5, 15, 3, true},
                 {1, 4, 0, 10, 12, -0.3, true}, {1, 1, 0, 0, 5, -10, false}, {1, 0, 0, 0, 0, 0.5, false},
                 {12, 3, 0, 2, 8, 0.2, true},   {3, 5, 0, 0, 10, -0.5, true}};  // the last with one root
    for (const auto& c : cases) {
        ToolDescription t{};
        t.toolType = c.type, t.radius = c.R, t.cornerRadius = c.corner, t.taperAngle = c.taper;
        t.tipTop = c.tip, t.shaftDiameter = 8;
        const ToolDescription before = t;
        toolOffsetTaper(&t, c.offset);
        if (!c.changes) {
            EXPECT_TRUE(t.taperAngle == before.taperAngle && t.radius == before.radius)
                << c.R << " " << c.offset;
            continue;
        }
        const double r = c.type == 3 ? c.corner : c.R, a = c.taper * M_PI / 180, o = std::min(c.offset, r);
        const double q = (r * std::sin(a) + c.tip) * std::tan(a) + r * std::cos(a),
                     b = t.taperAngle * M_PI / 180;
        EXPECT_NEAR(q * std::cos(b) - c.tip * std::sin(b), r - o, 1e-9) << c.type << " " << c.offset;
        EXPECT_DOUBLE_EQ(t.radius, (c.type == 12 ? 4 : c.R) - o);
        EXPECT_EQ(t.cornerRadius, before.cornerRadius);
    }
    // The active assembly is made from the offset tool from an offset of 1e-5 on.
    const ToolDescription ball = stackedTool();
    for (double offset : {5e-6, -5e-6, 5e-5, -5e-5}) {
        const ToolAssembly* a = toolAssemblyCreate(&ball, "", 0, 0.01, offset);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->tool.radius, std::fabs(offset) < 1e-5 ? 5.0 : 5.0 - offset) << offset;
    }
}

// A contour segment rising at 45 degrees (from (20, 5) to (30, 15), r = z - 15): a point 25 from the
// pivot meets it where h^2 + (h - 15)^2 = 625, for the profile and the assembly alike.
TEST_F(ToolShapeTest, SwingAngleOnAFortyFiveDegreeFlank) {
    ToolDescription t = stackedTool();
    t.chamferTop = 30, t.shaftDiameter = 30, t.stage2Diameter = 30;
    const double h = (15 + std::sqrt(225.0 + 800.0)) / 2, r = h - 15;
    const Frame f{{0, 0, 1}, {1, 0, 0}, {0, -1, 0}};
    toolSegProfileInit(&t, 0, 0.005);
    for (int assembly : {0, 1}) {
        if (assembly) {
            ASSERT_NE(toolAssemblyCreate(&t, "", 0, 0.01, 0), nullptr);
        }
        for (double phi : {0.4, 0.9}) {
            double angle = 1.5;
            ASSERT_EQ(query(assembly, Vec3{25 * std::sin(phi), 0, 25 * std::cos(phi)}, f, &angle), 2) << phi;
            EXPECT_NEAR(angle, phi - std::atan2(r, h), 1e-12) << phi;
        }
    }
}

// The chamfer flag: 1 unless the tip ends more than 1e-5 below the chamfer or its tapered flank is, at
// the tip's top, more than 1e-5 narrower than the shaft. A ball's flank at height H has the radius
// R / cos a + H tan a.
TEST_F(ToolShapeTest, ChamferFlagAtItsTolerances) {
    const struct {
        double taper, tipBelow, shaftOver;
        int32_t want;
    } cases[] = {{0, 0, 0, 1},        {0, 5e-6, 0, 1}, {0, 2e-5, 0, 0},  {0, 0, 5e-6, 1},
                 {0, 0, 2e-5, 0},     {10, 0, -1, 1},  {10, 0, 5e-6, 1}, {10, 0, 2e-5, 0},
                 {10, 3e-6, 8e-6, 1}, {4, 0, 2e-5, 0}, {4, 0, -2e-5, 1}, {4, 1e-3, -1, 0}};
    for (const auto& c : cases) {
        ToolDescription t = toolshape::stackedTool();  // ball of radius 5, tip up to 20
        const double a = c.taper * M_PI / 180;
        t.taperAngle = c.taper;
        t.tipTop = t.chamferTop - c.tipBelow;
        t.shaftDiameter = 2 * (5 / std::cos(a) + t.tipTop * std::tan(a)) + c.shaftOver;
        ToolAssembly as{};
        as.tool = t;
        EXPECT_EQ(toolAssemblyChamferFlag(&as), c.want) << c.taper << " " << c.tipBelow << " " << c.shaftOver;
        EXPECT_EQ(as.chamferFlag, c.want);
    }
}

// A tip top within 1e-5 of zero means no tip: the taper then runs up to the cutter's top.
TEST_F(ToolShapeTest, TaperEndsAtTheTipOrWithoutOneAtTheCutterTop) {
    const struct {
        double tipTop, want;
    } cases[] = {{0, 50}, {5e-6, 50}, {-5e-6, 50}, {2e-5, 2e-5}, {-2e-5, -2e-5}, {20, 20}};
    for (const auto& c : cases) {
        ToolDescription t = toolshape::stackedTool();  // cutter top 50
        t.tipTop = c.tipTop;
        ToolAssembly* a = toolAssemblyBuild(&t, nullptr, 0, 0.01, nullptr);
        ASSERT_NE(a, nullptr) << c.tipTop;
        EXPECT_EQ(a->z1, c.want) << c.tipTop;
        toolAssemblyDestroy(a);
        std::free(a);
    }
}
