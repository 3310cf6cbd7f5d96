// The tool axis at the blade edge, checked against the blades' surface samples by brute force: a radial
// plate at -15 degrees and its copy at +15, a ball tool with shank and holder at a point in front of
// their inner ends.
#include "kernel/base/runreset.h"
#include "plunge/edgeaxis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "channeltest.h"
#include "collision/meshset.h"
#include "collision/toolenv.h"
#include "collision/toolseg.h"
#include "geometry/plist.h"
#include "plunge/contourpair.h"
#include "plunge/cycparams.h"
#include "plunge/plist3d.h"

namespace {

constexpr double kHalf = 15.0 * M_PI / 180.0;

Vec3 onPlate(double phi, double u, double v) {
    const double r = 15 + 56 * u;
    return {r * std::cos(phi), r * std::sin(phi), -5 + 50 * v};
}

// Ball 3 up to 25, shank 5 up to 50, holder 15 up to 80, as stacked cylinders.
struct Stage {
    double h0, h1, r;
};
const Stage kStages[] = {{0, 25, 3}, {25, 50, 5}, {50, 80, 15}};

ToolDescription toolOf() {
    ToolDescription t{};
    t.toolType = kBallMill;
    t.radius = t.cornerRadius = 3;
    t.cutterTop = t.tipTop = t.chamferTop = 25;
    t.shaftDiameter = 6;
    t.stage2Top = t.stage1Top = 50;
    t.stage2Diameter = t.stage1Diameter = 10;
    t.stage3Top = t.stage4Top = 80;
    t.stage3Diameter = t.stage4Diameter = 30;
    return t;
}

// The deepest sample inside the stacked cylinders at p along the unit axis a.
double depth(const std::vector<Vec3>& samples, const Vec3& p, const Vec3& a) {
    double worst = -1e9;
    for (const Vec3& s : samples) {
        const Vec3 q{s.x - p.x, s.y - p.y, s.z - p.z};
        const double h = vecDot3D(&q, &a), rho = std::sqrt(std::fmax(vecDot3D(&q, &q) - h * h, 0.0));
        double below = 0;
        for (const Stage& st : kStages) {
            if (h >= st.h0 && h <= st.h1)
                worst = std::fmax(worst, rho > below ? std::fmin(st.r - rho, h - st.h0) : st.r - rho);
            below = st.r;
        }
    }
    return worst;
}

struct EdgeAxis : ::testing::Test {
    void SetUp() override {
        cycleParamsResetState();
        runResetAll();
        set = meshSetCreate(kMeshSetSlots, 0);
        PlistArray* lines = plistArrayCreate(64);
        for (int dir = 0; dir < 2; ++dir)
            for (int i = 0, n = dir ? 25 : 28, m = dir ? 28 : 25; i <= n; ++i) {
                Plist* l = plistCreate(m + 1, 0);
                for (int j = 0; j <= m; ++j) {
                    const double a = double(i) / n, b = double(j) / m;
                    const Vec3 p = dir ? onPlate(-kHalf, b, a) : onPlate(-kHalf, a, b);
                    plistAppend(l, j, &p, 0, nullptr, 0);
                }
                plistArrayAdd(lines, l);
                plistFree(l);
            }
        set->meshes[0] = collMeshFromPolylines(lines, 0.01);
        plistArrayFree(lines);
        set = meshSetFinish(set, 2 * kHalf);
        level = flatChannel(40.0, 5.0);
        for (const double phi : {-kHalf, kHalf})
            for (int i = 0; i <= 140; ++i)
                for (int j = 0; j <= 125; ++j) samples.push_back(onPlate(phi, i / 140.0, j / 125.0));
        pair = {newPlist3D(2), newPlist3D(2)};
        for (const double u : {0.0, 1.0}) {
            const Vec3 lo = onPlate(-kHalf, u, 0), hi = onPlate(-kHalf, u, 1);
            appendPlist3D(pair.first, &lo);
            appendPlist3D(pair.second, &hi);
        }
    }
    void TearDown() override {
        freePlist3D(pair.first);
        freePlist3D(pair.second);
        meshSetFree(set);
        freeHubShroud(level);
        runResetAll();
        cycleParamsResetState();
    }
    const ToolDescription tool = toolOf();
    MeshSet* set = nullptr;
    HubShroud* level = nullptr;
    ContourPair pair{};
    std::vector<Vec3> samples;
};

}  // namespace

// The span direction is +z at the plate's ends; side 0 leans the tool toward the part axis (-x) in front
// of the inner ends, side 1 away from it behind the outer ends: each clears the blades, and an offset
// turns the axis that much further its way.
TEST_F(EdgeAxis, EitherSideLeansItsOwnWayAndClearsTheBlades) {
    const struct {
        Vec3 p;
        int32_t side;
    } rows[] = {{{11, 0, 8}, 0}, {{75, 0, 8}, 1}, {{11, 0, 30}, 0}, {{76, 0, 20}, 1}};
    for (const auto& r : rows) {
        Vec3 axis, turned;
        ASSERT_EQ(bladeEdgeToolAxis(&tool, &r.p, set, level, &pair, 0.0, 0.0, r.side, 0, &axis), 1) << r.p.x;
        EXPECT_NEAR(vecLen3D(&axis), 1.0, 1e-12);
        EXPECT_NEAR(axis.y, 0.0, 1e-9) << r.p.x;
        EXPECT_LT(depth(samples, r.p, axis), 0.15) << r.p.x;
        EXPECT_EQ(edgeAxisClear(&r.p, &axis, set, 1), 1) << r.p.x;
        ASSERT_EQ(bladeEdgeToolAxis(&tool, &r.p, set, level, &pair, 0.0, 0.1, r.side, 0, &turned), 1)
            << r.p.x;
        const double lean = r.side == 0 ? -1.0 : 1.0;  // the sign of x toward which the axis turns
        EXPECT_GE(lean * axis.x, -1e-9) << r.p.x;
        EXPECT_GT(lean * turned.x, lean * axis.x + 0.09) << r.p.x;
        EXPECT_NEAR(std::acos(turned.z) - std::acos(axis.z), 0.1, 1e-9) << r.p.x;
        // The span direction is +z and the side axis -x or +x: the axis is z turned by the passing angle.
        const Vec3 up{0, 0, 1}, toward{lean, 0, 0};
        double angle = -1;
        ASSERT_EQ(edgeAxisAngle(1, &r.p, &up, &toward, set, &angle), 1) << r.p.x;
        EXPECT_NEAR(angle, std::acos(axis.z), 1e-9) << r.p.x;
    }
    // Midway between the plates the shank meets a plate whichever way the axis swings: no angle passes.
    const Vec3 mid{40, 0, 8}, up{0, 0, 1}, out{1, 0, 0};
    double angle = -1;
    EXPECT_EQ(edgeAxisAngle(1, &mid, &up, &out, set, &angle), -1);
    Vec3 axis;
    EXPECT_EQ(bladeEdgeToolAxis(&tool, &mid, set, level, &pair, 0.0, 0.0, 0, 0, &axis), -1);
    // Far from the plates every axis passes, but v along w gives no plane to turn in.
    const Vec3 far{200, 0, 8};
    EXPECT_EQ(edgeAxisAngle(1, &far, &up, &out, set, &angle), 1);
    EXPECT_EQ(edgeAxisAngle(1, &far, &up, &up, set, &angle), -1);
}

// The splitter's mode asks only the splitter's slot, empty here: nothing bars the span direction (+z),
// which the offset alone turns toward the side axis.
TEST_F(EdgeAxis, SplitterModeWithoutASplitterKeepsTheSpanDirection) {
    for (const double offset : {0.0, 0.2}) {
        const Vec3 p{11, 0, 8};
        Vec3 axis{};
        ASSERT_EQ(bladeEdgeToolAxis(&tool, &p, set, level, &pair, 0.0, offset, 0, 1, &axis), 1) << offset;
        EXPECT_NEAR(axis.x, -std::sin(offset), 1e-9) << offset;
        EXPECT_NEAR(axis.y, 0.0, 1e-9) << offset;
        EXPECT_NEAR(axis.z, std::cos(offset), 1e-9) << offset;
    }
    // So also a quarter unit under the plate's top edge.
    const Vec3 top = onPlate(-kHalf, 0.1, 0.995);
    Vec3 axis{};
    ASSERT_EQ(bladeEdgeToolAxis(&tool, &top, set, level, &pair, 0.0, 0.0, 0, 1, &axis), 1);
    EXPECT_NEAR(axis.z, 1.0, 1e-9);
    // Upright contours, the second 10 out and 5 down: side 0 spans between the point's feet (+x), side 1
    // along the ruling (2, 0, -1); such spans turn by the offset toward +z (side 0) or -z, in y = 0.
    const Vec3 first[2] = {{20, 0, -5}, {20, 0, 45}}, second[2] = {{30, 0, -10}, {30, 0, 40}};
    ContourPair across{plist3DFromPoints(first, 2), plist3DFromPoints(second, 2)};
    for (const int32_t side : {0, 1}) {
        const Vec3 p{25, 0, 8};
        ASSERT_EQ(bladeEdgeToolAxis(&tool, &p, set, level, &across, 0.0, 0.2, side, 1, &axis), 1) << side;
        const double down = side == 0 ? -0.2 : std::atan(0.5) + 0.2;  // below the level
        EXPECT_NEAR(axis.x, std::cos(down), 1e-9) << side;
        EXPECT_NEAR(axis.y, 0.0, 1e-9) << side;
        EXPECT_NEAR(axis.z, -std::sin(down), 1e-9) << side;
    }
    freePlist3D(across.first), freePlist3D(across.second);
}
