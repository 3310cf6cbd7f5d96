#include "collision/toolshape.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "collision/toolassembly.h"
#include "collision/toolseg.h"
#include "collision/tprof.h"
#include "surfaces/meshfiles/meshtest.h"

namespace {

struct ToolShapeTest : ::testing::Test {
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        toolSegResetState();
        toolAssemblyResetState();
        rngResetState();
    }
};

// The outline of a tool as the tests read it: (height, radius) of the ten points.
void outline(const ToolDescription& t, double z[10], double r[10]) {
    const double a = t.taperAngle * 0.017453292519943295, c = t.toolType == 3 ? t.cornerRadius : t.radius;
    z[0] = -c * std::sin(a), r[0] = t.radius - c + c * std::cos(a);
    z[1] = t.tipTop, r[1] = r[0] + (z[1] - z[0]) * std::tan(a);
    const double zs[8] = {t.chamferTop, t.cutterTop, t.cutterTop, t.stage2Top,
                          t.stage1Top,  t.stage1Top, t.stage3Top, t.stage4Top};
    const double ds[8] = {t.shaftDiameter,  t.shaftDiameter,  t.stage2Diameter, t.stage1Diameter,
                          t.stage1Diameter, t.stage3Diameter, t.stage4Diameter, t.stage4Diameter};
    for (int i = 0; i < 8; i++) z[i + 2] = zs[i], r[i + 2] = ds[i] / 2;
}

using PointQuery = int (*)(const Vec3& p, const Frame& f, double* angle);

int segQuery(const Vec3& p, const Frame& f, double* angle) {
    const Vec3 o{0, 0, 0};
    return toolSegPointTest(&o, &f.dir, &f.ref, &f.axis, &p, angle, 10.0, 0);
}

int assemblyQuery(const Vec3& p, const Frame& f, double* angle) {
    const Vec3 o{0, 0, 0};
    return toolAssemblyAngleQuery(toolAssemblyActive(), &o, &f.dir, &f.ref, &f.axis, &p, angle, 0, 10.0);
}

}  // namespace

// A point level with the swing plane at distance d from the pivot, beside the straight shaft of
// radius rho: the swing angle is atan2(b, a) - asin(rho / d), for the profile and the assembly alike.
TEST_F(ToolShapeTest, SwingAngleBesideTheShaft) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    const Frame f{{0, 0, 1}, {1, 0, 0}, {0, -1, 0}};
    const struct { double d, alpha; } cases[] = {{30, 0.3}, {45, -0.2}, {25, 1.0}, {40, 0.0}};
    for (PointQuery query : {segQuery, assemblyQuery}) {
        if (query == assemblyQuery) {
            ASSERT_NE(toolAssemblyCreate(&t, "", 0, 0.01, 0), nullptr);
        }
        for (const auto& c : cases) {
            const double a = c.d * std::cos(c.alpha), b = c.d * std::sin(c.alpha);
            const Vec3 p{b, 0, a};  // a along the direction, b along the reference
            double angle = 1.5;
            ASSERT_EQ(query(p, f, &angle), 2) << c.d;
            EXPECT_NEAR(angle, std::atan2(b, a) - std::asin(5.0 / c.d), 1e-12) << c.d;
        }
    }
}

// Seeded tools, frames and points: a new smallest angle turns the point back onto the tool's outline,
// on the side of the reference direction.
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
        const double alpha = (rngUniform() - 0.5) * 3;
        const double ab = std::sqrt(std::max(rad * rad - s * s, 0.0));
        const double a = ab * std::cos(alpha), b = ab * std::sin(alpha);
        const Vec3 p{a * f.dir.x + b * f.ref.x + s * f.axis.x, a * f.dir.y + b * f.ref.y + s * f.axis.y,
                     a * f.dir.z + b * f.ref.z + s * f.axis.z};
        const PointQuery queries[2] = {segQuery, assemblyQuery};
        for (int k = 0; k < 2; k++) {
            double phi = 10.0;
            if (queries[k](p, f, &phi) != 2) continue;
            hits[k]++;
            const double a2 = a * std::cos(phi) + b * std::sin(phi),
                         b2 = -a * std::sin(phi) + b * std::cos(phi);
            EXPECT_GE(b2, -1e-9);
            EXPECT_LT(distToOutline(z, r, 10, a2, std::hypot(b2, s)), 1e-7) << n << " " << k;
        }
    }
    EXPECT_GT(hits[0], 100);
    EXPECT_EQ(hits[0], hits[1]);
}

TEST_F(ToolShapeTest, ReachWindowsAndNearTip) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    const Frame f{{0, 0, 1}, {1, 0, 0}, {0, -1, 0}};
    const struct {
        Vec3 p;
        int mode, nearTip, want;
    } cases[] = {
        {{0, -1, std::sqrt(2550.0 - 1)}, 0, 0, 2},  // on the step at height 50: the radius window holds
        {{0, -11, 0}, 0, 0, 0},                     // beside the tip beyond the swing-axis offset
        {{0, 0, 102}, 0, 0, 0},                     // beyond the top
        {{0, 0, 4.9}, 0, 0, 0},                     // inside the ball: nearer than its surface
        {{4.98, 0, 0.5}, 1, 1, -2},                 // within 0.1 R of the tip with the near-tip check
        {{4.98, 0, 0.5}, 1, 0, 2},
        {{4.98, 0, 0.5}, 0, 1, 2},
    };
    for (const auto& c : cases) {
        toolSegProfileSetMode(c.mode);
        const Vec3 o{0, 0, 0};
        double angle = 1.5;
        EXPECT_EQ(toolSegPointTest(&o, &f.dir, &f.ref, &f.axis, &c.p, &angle, 1.5, c.nearTip), c.want)
            << c.p.x << " " << c.p.y << " " << c.p.z;
    }
}

TEST_F(ToolShapeTest, InsideTable) {
    const ToolDescription t = stackedTool();
    toolSegProfileInit(&t, 0, 0.005);
    const Vec3 tip{0, 0, 0}, axis{0, 0, 1};
    const struct {
        Vec3 p;
        int flag, want;
    } cases[] = {
        {{0, 0, 10}, 0, 1},     {{4.99, 0, 10}, 0, 1},  {{4.996, 0, 10}, 0, 0},
        {{4.85, 0, 0.1}, 0, 1}, {{4.95, 0, 0.1}, 0, 0}, {{0, 0, -0.1}, 0, 0},
        {{9, 0, 70}, 0, 0},     {{9, 0, 70}, 1, 1},     {{10.01, 0, 70}, 1, 0},
    };
    for (const auto& c : cases) {
        meshSetCollFlag(c.flag);
        EXPECT_EQ(toolSegPointInside(&c.p, &tip, &axis), c.want) << c.p.x << " " << c.p.z;
    }
    const Vec3 a{-20, 0, 10}, b{20, 0, 10};
    EXPECT_EQ(toolSegEdgeHits(&a, &b, &tip, &axis), -1);  // no cone test installed
    ToolDescription wide = stackedTool();
    wide.toolType = 12, wide.shaftDiameter = 8;
    toolSegProfileInit(&wide, 0, 0.005);
    EXPECT_DOUBLE_EQ(toolSegSampleWidth(), std::sqrt((8 - 0.005) * 0.005));
}

TEST_F(ToolShapeTest, DefaultContourAndQueries) {
    const ToolDescription t = stackedTool();
    ToolAssembly* a = toolAssemblyBuild(&t, nullptr, 0, 0.01, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->count, 10);
    double z[10], r[10];
    outline(t, z, r);
    for (int i = 0; i < 10; i++) {
        EXPECT_DOUBLE_EQ(a->z[i], z[i]) << i;
        EXPECT_DOUBLE_EQ(a->r[i], r[i]) << i;
    }
    EXPECT_EQ(a->z0, 0.0);
    EXPECT_EQ(a->r0, 5.0);
    const Vec3 o{0, 0, 0}, d{0, 0, 1}, ref{1, 0, 0}, ax{0, -1, 0};
    const Vec3 outer{0, 0, std::sqrt(a->q[9])};
    double best = 1.5;
    EXPECT_EQ(toolAssemblyAngleQuery(a, &o, &d, &ref, &ax, &outer, &best, 0, 1.5), 0);
    toolAssemblyDestroy(a);
    std::free(a);
}

TEST_F(ToolShapeTest, ContourFromNamedParts) {
    TempDir dir;
    const std::string path = dir.file("tool.kvx");
    // Extension: a horizontal foot, then a straight rise; the holder sits on the extension's top.
    writeTextFile(path,
                  kvxText("o Contour[Extension]()\n{\no L(x[0/8] y[0/0] z[0/0])\no L(x[/8] y[/20] z[/0])\n}\n"
                          "o Contour[Holder]()\n{\no L(x[12/12] y[0/10] z[0/0])\n}\n"));
    const ToolDescription t = stackedTool();
    const double allowances[4] = {0.0, 0.5, 0.25, 3.0};  // head, holder, extension, shaft
    ToolAssembly* a = toolAssemblyBuild(&t, path.c_str(), 0, 0.01, allowances);
    ASSERT_NE(a, nullptr);
    // Cutter, shaft (allowance limited by the chamfer flag to r1 - D/2 = 0), extension, holder.
    // The horizontal feet and closing segments of both parts are trimmed away.
    const double want[][2] = {{0, 5},     {20, 5},    {20, 5},    {50, 5},
                              {50, 8.25}, {70, 8.25}, {70, 12.5}, {80, 12.5}};
    ASSERT_EQ(a->count, 8);
    for (int i = 0; i < 8; i++) {
        EXPECT_DOUBLE_EQ(a->z[i], want[i][0]) << i;
        EXPECT_DOUBLE_EQ(a->r[i], want[i][1]) << i;
    }
    EXPECT_EQ(a->chamferFlag, 1);
    toolAssemblyDestroy(a);
    std::free(a);
}
