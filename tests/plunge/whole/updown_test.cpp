#include "kernel/base/runreset.h"
#include "plunge/updown.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "../../geometry/msg_capture.h"
#include "../channeltest.h"
#include "collision/meshset.h"
#include "collision/toolenv.h"
#include "collision/toolseg.h"
#include "geometry/plist.h"
#include "kernel/base/rng.h"
#include "plunge/angleprof.h"
#include "plunge/bladecurves.h"
#include "plunge/contourpair.h"
#include "plunge/cutlist.h"
#include "plunge/cycparams.h"
#include "plunge/edgeaxis.h"
#include "plunge/plist3d.h"
#include "plunge/plungerows.h"
#include "plunge/profile2d.h"
#include "../sidetest.h"
#include "surfaces/deboor.h"
#include "surfaces/kvxsurf.h"
#include "surfaces/meshfiles/meshtest.h"
#include "kernel/exports/exports.h"

namespace {

constexpr double kHalfGap = 15.0 * M_PI / 180.0;  // test blades at -15 and +15 degrees
constexpr double kPitch = 2 * M_PI / 8;           // the example's eight blades

struct Stage {
    double h0, h1, r;
};

// Ball cutter, shank and holder as stacked cylinders, and the same as a tool description.
struct Assembly {
    std::vector<Stage> stages;
    ToolDescription tool{};
    Assembly(double ball, double cutterTop, double shankR, double shankTop, double holderR, double holderTop)
        : stages{{0, cutterTop, ball}, {cutterTop, shankTop, shankR}, {shankTop, holderTop, holderR}} {
        tool.toolType = kBallMill;
        tool.radius = tool.cornerRadius = ball;
        tool.cutterTop = tool.tipTop = tool.chamferTop = cutterTop;
        tool.shaftDiameter = 2 * ball;
        tool.stage2Top = tool.stage1Top = shankTop;
        tool.stage2Diameter = tool.stage1Diameter = 2 * shankR;
        tool.stage3Top = tool.stage4Top = holderTop;
        tool.stage3Diameter = tool.stage4Diameter = 2 * holderR;
    }
    // Deepest point of any sample inside the assembly at p along a: the shortest way out sideways, or
    // down through a stage's floor where the stage below is narrower.
    double depth(const std::vector<Vec3>& samples, const Vec3& p, const Vec3& a) const {
        double worst = -1e9;
        for (const Vec3& s : samples) {
            Vec3 q{s.x - p.x, s.y - p.y, s.z - p.z};
            double h = vecDot3D(&q, &a), rho = std::sqrt(std::fmax(vecDot3D(&q, &q) - h * h, 0.0)), below = 0;
            for (const Stage& st : stages) {
                if (h >= st.h0 && h <= st.h1)
                    worst = std::fmax(worst, rho > below ? std::fmin(st.r - rho, h - st.h0) : st.r - rho);
                below = st.r;
            }
        }
        return worst;
    }
};

using Surface = std::function<bool(int k, double u, double v, Vec3* p)>;

// Iso polylines of nu x nv over every surface, merged into a wire mesh.
CollMesh* wires(const Surface& f, int surfaces, int nu, int nv) {
    PlistArray* lines = plistArrayCreate(64);
    for (int k = 0; k < surfaces; ++k)
        for (int dir = 0; dir < 2; ++dir)
            for (int i = 0, n = dir ? nv : nu, m = dir ? nu : nv; i <= n; ++i) {
                Plist* l = plistCreate(m + 1, 0);
                for (int j = 0; j <= m; ++j) {
                    Vec3 p;
                    double a = double(i) / n, b = double(j) / m;
                    if (dir ? f(k, b, a, &p) : f(k, a, b, &p)) plistAppend(l, j, &p, 0, nullptr, 0);
                }
                plistArrayAdd(lines, l);
                plistFree(l);
            }
    CollMesh* mesh = collMeshFromPolylines(lines, 0.01);
    plistArrayFree(lines);
    return mesh;
}

// Surface samples of n x m per surface, in the copies turned by the given multiples of angle.
std::vector<Vec3> samples(const Surface& f, int surfaces, int n, int m, std::vector<int> copies,
                          double angle) {
    std::vector<Vec3> out;
    for (int k = 0; k < surfaces; ++k)
        for (int i = 0; i <= n; ++i)
            for (int j = 0; j <= m; ++j) {
                Vec3 p;
                if (!f(k, double(i) / n, double(j) / m, &p)) continue;
                for (int c : copies)
                    out.push_back({std::cos(c * angle) * p.x - std::sin(c * angle) * p.y,
                                   std::sin(c * angle) * p.x + std::cos(c * angle) * p.y, p.z});
            }
    return out;
}

// The test blade: a radial plate at -15 degrees, r in [15, 71], z in [-5, 45].
bool plate(int, double u, double v, Vec3* p) {
    *p = {(15 + 56 * u) * std::cos(-kHalfGap), (15 + 56 * u) * std::sin(-kHalfGap), -5 + 50 * v};
    return true;
}

// Plunge points along the channel's middle at height z, links at the ends (all links without cuts).
Plist* middleList(double z, bool withCut) {
    Plist* l = plistCreate(20, 1);
    for (int k = 0; k <= 14; ++k) {
        Vec3 p{22 + 2.5 * k, 0, z}, up{0, 0, 1};
        plistAppend(l, p.x, &p, (k == 0 || k == 14 || !withCut) ? 0x200 : 0, &up, 0);
    }
    return l;
}

PlistArray* fourOf(Plist* l) {
    PlistArray* four = plistArrayCreate(4);
    for (int k = 0; k < 4; ++k) plistArrayAdd(four, l);
    plistFree(l);
    return four;
}

struct PlateChannel : ::testing::Test {
    void SetUp() override {
        cycleParamsResetState();
        runResetAll();
        cycleResetState();
        cycleParams()->collCheck5ax = 1;
        set = meshSetCreate(kMeshSetSlots, 0);
        set->meshes[0] = wires(plate, 1, 28, 25);
        set = meshSetFinish(set, 2 * kHalfGap);
        level = flatChannel(40.0, 5.0);  // upright meridional direction
        profile = angleProfCreate();
    }
    void TearDown() override {
        meshSetFree(set);
        freeHubShroud(level);
        angleProfFree(profile);
        cycleResetState();
        cycleParamsResetState();
    }
    const Assembly a{3, 25, 5, 50, 15, 80};
    MeshSet* set = nullptr;
    HubShroud* level = nullptr;
    AngleProfile* profile = nullptr;
};

}  // namespace

TEST_F(PlateChannel, SwitchOffLeansByTheCappedLeadMessagesWithoutCutsAndCancel) {
    cycleParams()->collCheck5ax = 0;
    // Plunging up (*ENTRY_POS 1) leans by the second table, every other entry by the first.
    struct Case {
        double lead, lead2, limit, expected;  // degrees
        int16_t entry;
    } cases[] = {{10, 4, 120, 10, 0},
                 {35, 4, 20, 20 - 0.017453 * 180 / M_PI, 0},
                 {-8, 4, 120, -8, 0},
                 {10, 4, 120, 4, 1},
                 {10, -6, 120, 10, 2}};
    for (const Case& c : cases) {
        profile->table1.angle = c.lead * M_PI / 180;
        profile->table2.angle = c.lead2 * M_PI / 180;
        cycleParams()->entryPos = c.entry;
        cycleParams()->tiltMax = c.limit;
        Plist* l = middleList(8, true);
        ASSERT_EQ(segmentTiltSearch(l, 0, profile, level, &a.tool, set, nullptr), 1);
        for (int32_t i = 1; i + 1 < l->count; ++i) {  // along the path (+x), not sideways
            EXPECT_NEAR(l->vectors[i].x, std::sin(c.expected * M_PI / 180), 1e-6) << c.lead;
            EXPECT_NEAR(l->vectors[i].y, 0.0, 1e-9);
        }
        plistFree(l);
    }
    cycleParams()->entryPos = 0;
    profile->table2.angle = 0;
    // A path that turns back has no direction at its turn: the axis keeps its meridional direction
    // there, and leans along the path on either side of it.
    Plist* back = plistCreate(8, 1);
    for (int k = 0; k <= 6; ++k) {
        Vec3 p{29.5 - 2.5 * std::abs(k - 3), 0, 8}, up{0, 0, 1};
        plistAppend(back, 2.5 * k, &p, k == 0 || k == 6 ? 0x200 : 0, &up, 0);
    }
    cycleParams()->tiltMax = 120;
    profile->table1.angle = 10 * M_PI / 180;
    ASSERT_EQ(segmentTiltSearch(back, 0, profile, level, &a.tool, set, nullptr), 1);
    EXPECT_NEAR(back->vectors[3].z, 1.0, 1e-9);
    EXPECT_NEAR(back->vectors[2].x, std::sin(10 * M_PI / 180), 1e-6);
    EXPECT_NEAR(back->vectors[4].x, -std::sin(10 * M_PI / 180), 1e-6);
    plistFree(back);
    // A four-axis machine's axes lie flat, along the path where the lead turns them.
    cycleParams()->use4x = 1;
    cycleParams()->tiltMax = 120;
    profile->table1.angle = 10 * M_PI / 180;
    Plist* flat = middleList(8, true);
    flat->flags[0] = 0;  // cut from its first point on: the lead runs from there
    ASSERT_EQ(segmentTiltSearch(flat, 0, profile, level, &a.tool, set, nullptr), 1);
    for (int32_t i = 1; i + 1 < flat->count; ++i) {
        EXPECT_NEAR(flat->vectors[i].x, 1.0, 1e-9) << i;
        EXPECT_NEAR(flat->vectors[i].z, 0.0, 1e-9) << i;
    }
    plistFree(flat);
    cycleParams()->use4x = 0;
    for (int run = 0; run < 4; ++run) {  // each direction's notes, which the host hears from level 9 on
        const int entry = run % 2;
        MessageCapture capture(run < 2 ? 9 : 8);
        cycleParams()->entryPos = static_cast<int16_t>(entry);
        PlistArray* four = fourOf(middleList(8, true));
        EXPECT_EQ(segmentsUpDown(four, profile, level, &a.tool, set, nullptr), 1);
        const std::string n = entry ? "6221," : "6220,";
        const std::vector<std::string> notes{n + "1,1", n + "1,1", n + "2,1", n + "2,1"};
        EXPECT_EQ(capture.messages(), run < 2 ? notes : std::vector<std::string>{}) << run;
        plistArrayFree(four);
    }
    Plist* none = middleList(8, false);
    EXPECT_EQ(segmentTiltSearch(none, 0, profile, level, &a.tool, set, nullptr), 1);
    cycleParams()->collCheck5ax = 1;
    EXPECT_LT(segmentTiltSearch(none, 0, profile, level, &a.tool, set, nullptr), 0);
    plistFree(none);
    setAbortHook([] { return 1; });  // a host cancel
    PlistArray* four = fourOf(middleList(8, true));
    EXPECT_EQ(segmentsUpDown(four, profile, level, &a.tool, set, nullptr), kUpDownUserBreak);
    setAbortHook(nullptr);
    plistArrayFree(four);
}

// Blade meshes whose queries cannot sample an edge (no sampling width) end the search at the first
// point measured, with 6225 naming the side list (1-based) and the point, not as a fit that failed.
TEST_F(PlateChannel, FailedQueryIsReportedWhereItFailed) {
    set->meshes[0]->tolerance = 0.0;
    MessageCapture capture(9);
    PlistArray* four = fourOf(middleList(8, true));
    EXPECT_EQ(segmentsUpDown(four, profile, level, &a.tool, set, nullptr), kUpDownQueryFailed);
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{"6220,1,1", "6225,1,1"}));
    setMessageLevel(nullptr, 8);  // error-class notes: below 9 the host hears none
    capturedMessages().clear();
    EXPECT_EQ(segmentsUpDown(four, profile, level, &a.tool, set, nullptr), kUpDownQueryFailed);
    EXPECT_TRUE(capture.messages().empty());
    plistArrayFree(four);
}

// A path around the part's axis (as an edge pass rounds a blade's tip) leaves the meridian plane: the
// lead turns the axis sideways, which the lead's cap does not foresee. The leaning axis still keeps the
// inclination limit from the part's axis: the lead is taken only as far as the limit allows, and where
// the meridional direction itself leans past the limit (a steep hub), that direction raised onto the
// limit's cone is the axis. Search switch off: the axes are the leaning ones.
TEST_F(PlateChannel, LeaningAxesKeepTheInclinationLimitOffTheMeridian) {
    cycleParams()->collCheck5ax = 0;
    const struct {
        double slope;        // the hub's angle from the horizontal: the meridional direction's from z
        double lead, limit;  // degrees
        double expected;     // the axis' angle from z
    } cases[] = {{90, -10, 45, 45},
                 {40, -35, 45, 45},
                 {40, -10, 45, std::acos(std::cos(40 * M_PI / 180) * std::cos(10 * M_PI / 180)) * 180 / M_PI},
                 {0, -30, 45, 30},
                 {0, -30, 120, 30}};
    for (const auto& c : cases) {
        const double w = c.slope * M_PI / 180;
        // The hub's line through (30, 20) and the shroud's 20 above it along the hub's normal.
        const Vec3 h0{30 - 20 * std::cos(w), 0, 20 + 20 * std::sin(w)},
            h1{30 + 20 * std::cos(w), 0, 20 - 20 * std::sin(w)};
        const Vec3 n{20 * std::sin(w), 0, 20 * std::cos(w)};
        const Vec3 s0{h0.x + n.x, 0, h0.z + n.z}, s1{h1.x + n.x, 0, h1.z + n.z};
        ProfileCurve *hub = profileLine(&h0, &h1), *shroud = profileLine(&s0, &s1);
        HubShroud* sloped = makeHubShroudPair(hub, shroud);
        profileFreeList(hub);
        profileFreeList(shroud);
        profile->table1.angle = c.lead * M_PI / 180;
        cycleParams()->tiltMax = c.limit;
        // Around the axis at the hub's middle, 3 above it along its normal, cut from its first point
        // on at parameters that do not start at 0.
        Plist* l = plistCreate(40, 1);
        const double r = 30 + 3 * std::sin(w), z = 20 + 3 * std::cos(w);
        for (int k = 0; k <= 20; ++k) {
            const double phi = -0.2 + 0.02 * k;
            const Vec3 p{r * std::cos(phi), r * std::sin(phi), z}, up{0, 0, 1};
            plistAppend(l, 5 + r * 0.02 * k, &p, k == 20 ? 0x200 : 0, &up, 0);
        }
        ASSERT_EQ(segmentTiltSearch(l, 0, profile, sloped, &a.tool, set, nullptr), 1);
        // On the cone exactly where the limit holds the lean; elsewhere the lead's own lean (turned
        // toward the path's spline, itself within a fraction of a degree of the circle).
        for (int32_t i = 1; i + 1 < l->count; ++i) {
            const double angle = std::acos(l->vectors[i].z) * 180 / M_PI;
            EXPECT_LE(angle, c.limit + 1e-9) << c.slope << " " << c.lead << " " << i;
            EXPECT_NEAR(angle, c.expected, c.expected == c.limit ? 1e-6 : 0.2)
                << c.slope << " " << c.lead << " " << i;
            // A lead leans within the plane of the meridional direction and the circle's tangent here.
            const double phi = -0.2 + 0.02 * i;
            const Vec3& v = l->vectors[i];
            if (c.slope <= c.limit) {
                EXPECT_NEAR(std::sin(w) * v.z - std::cos(w) * (v.x * std::cos(phi) + v.y * std::sin(phi)),
                            0.0, 0.005)
                    << c.slope << " " << c.lead << " " << i;
            }
        }
        plistFree(l);
        freeHubShroud(sloped);
    }
}

// A row's stations across the channel with axes leaning toward the blade at -15 degrees, as a blend of
// the side points' axes can: each station is measured and, where its tool reaches a blade, tilted back
// clear (brute force over both blades' samples); a station clear by a margin keeps its axis, and every
// top moves onto the start profile along its station's axis. A shank wider than the channel leaves a
// station no free axis.
TEST_F(PlateChannel, RowStationsAreTiltedClearOfTheBlades) {
    const std::vector<Vec3> plates = samples(plate, 1, 140, 125, {0, 2}, kHalfGap);
    Profile2D* start = profileOf({{5, 40}, {200, 40.001}});  // as the rows' tests lay theirs
    CutListSet* rows = cutListSetCreate(2);
    CutRecordList* row = idx5CutListCreate(16);
    std::vector<Vec3> before;
    for (int k = 0; k <= 8; ++k) {
        const double phi = (-9 + 2.25 * k) * M_PI / 180, lean = 0.3;
        const Vec3 b{30 * std::cos(phi), 30 * std::sin(phi), 8};
        const Vec3 axis{std::sin(lean) * std::sin(phi), -std::sin(lean) * std::cos(phi), std::cos(lean)};
        const double h = (40 - 8) / axis.z;
        const Vec3 top{b.x + h * axis.x, b.y + h * axis.y, 40};
        idx5CutListAdd(row, &top, &b, 0);
        before.push_back(axis);
    }
    cutListSetAdd(rows, row, 0, 1.0);
    idx5CutListFree(row);
    int reaching = 0;
    for (int32_t k = 0; k < rows->lists[0]->count; ++k) {
        const CutRecord& r = rows->lists[0]->records[k];
        reaching += a.depth(plates, r.bottom, r.axis) > 0;
    }
    ASSERT_GT(reaching, 0);
    EXPECT_EQ(tiltStationsBegin(&a.tool, nullptr), kUpDownNoAxis);
    EXPECT_EQ(tiltStationsBegin(&a.tool, set), 1);
    cycleParams()->collCheck5ax = 0;  // without the search nothing is measured
    EXPECT_EQ(plungeRowsClearAxes(rows, nullptr, start, &a.tool, set), 0);
    cycleParams()->collCheck5ax = 1;
    setAbortHook([] { return 1; });  // cancelled before the first row: -2, no axis turned
    EXPECT_EQ(plungeRowsClearAxes(rows, nullptr, start, &a.tool, set), -2);
    setAbortHook(nullptr);
    EXPECT_NEAR(vecDot3D(&rows->lists[0]->records[0].axis, &before[0]), 1.0, 1e-15);
    const int turned = plungeRowsClearAxes(rows, nullptr, start, &a.tool, set);
    EXPECT_GE(turned, reaching);
    int changed = 0;  // the count says how many stations took a new axis
    for (int32_t k = 0; k < rows->lists[0]->count; ++k) {
        const CutRecord& r = rows->lists[0]->records[k];
        changed += vecDot3D(&r.axis, &before[k]) < 1.0 - 1e-12;
        EXPECT_LT(a.depth(plates, r.bottom, r.axis), 0.15) << k;
        EXPECT_NEAR(r.top.z, 40, 1e-3) << k;
        const Vec3 up{r.top.x - r.bottom.x, r.top.y - r.bottom.y, r.top.z - r.bottom.z};
        Vec3 unit;
        vecNormalize3D(&up, &unit);
        EXPECT_NEAR(vecDot3D(&unit, &r.axis), 1.0, 1e-9) << k;
        if (a.depth(plates, r.bottom, before[k]) < -0.5) {
            EXPECT_NEAR(vecDot3D(&r.axis, &before[k]), 1.0, 1e-12) << k;
        }
    }
    EXPECT_EQ(turned, changed);
    const Assembly fat{3, 25, 12, 50, 15, 80};
    EXPECT_EQ(plungeRowsClearAxes(rows, nullptr, start, &fat.tool, set), -1);
    cutListSetFree(rows);
    freeProfile2D(start);
}

// A whole row reaching a splitter's inner list (anywhere along it, its first segment too) measures each
// station against the splitter on the side the list lies: stations between the blade and a splitter
// midway, leaning into the splitter, come out clear of both by brute force.
TEST_F(PlateChannel, RowStationsBesideASplitterKeepClearOfIt) {
    const auto splitter = [](int, double u, double v, Vec3* p) {
        *p = {40 + 31 * u, 0, -5 + 50 * v};
        return true;
    };
    MeshSet* both = meshSetCreate(kMeshSetSlots, 0);
    both->meshes[0] = wires(plate, 1, 28, 25);
    both->meshes[1] = wires(splitter, 1, 28, 25);
    both = meshSetFinish(both, 2 * kHalfGap);
    ASSERT_NE(both, nullptr);
    std::vector<Vec3> walls = samples(splitter, 1, 120, 100, {0}, 0);
    for (const Vec3& q : samples(plate, 1, 140, 125, {0, 2}, kHalfGap)) walls.push_back(q);
    Profile2D* start = profileOf({{5, 40}, {200, 40.001}});
    PlistArray* sides = arrayOf({ray(-kHalfGap), ray(0), ray(0), ray(kHalfGap)});
    for (const double t : {0.5, 5.5}) {
        CutListSet* rows = cutListSetCreate(2);
        CutRecordList* row = idx5CutListCreate(4);
        for (const double phi : {-7.5 * M_PI / 180, 7.5 * M_PI / 180}) {
            const double lean = phi < 0 ? 0.3 : -0.3;  // toward the splitter
            const Vec3 b{60 * std::cos(phi), 60 * std::sin(phi), 8};
            const Vec3 axis{-std::sin(lean) * std::sin(phi), std::sin(lean) * std::cos(phi), std::cos(lean)};
            const double h = (40 - 8) / axis.z;
            const Vec3 top{b.x + h * axis.x, b.y + h * axis.y, 40};
            idx5CutListAdd(row, &top, &b, 0);
            ASSERT_GT(a.depth(walls, b, axis), 0);
        }
        cutListSetAdd(rows, row, 0, t);
        idx5CutListFree(row);
        ASSERT_EQ(tiltStationsBegin(&a.tool, both), 1);
        EXPECT_EQ(plungeRowsClearAxes(rows, sides, start, &a.tool, both), 2) << t;
        for (int32_t k = 0; k < rows->lists[0]->count; ++k) {
            const CutRecord& r = rows->lists[0]->records[k];
            EXPECT_LT(a.depth(walls, r.bottom, r.axis), 0.15) << t << " " << k;
        }
        cutListSetFree(rows);
    }
    // The third side list lies between the splitter and the next blade: the splitter is its lower wall.
    cycleParams()->tiltMax = 120;
    Plist* l = plistCreate(20, 1);
    const double phi = 7.5 * M_PI / 180;
    for (int k = 0; k <= 14; ++k) {
        Vec3 p{(22 + 2.5 * k) * std::cos(phi), (22 + 2.5 * k) * std::sin(phi), 8}, up{0, 0, 1};
        plistAppend(l, 2.5 * k, &p, k == 0 || k == 14 ? 0x200 : 0, &up, 0);
    }
    ASSERT_EQ(segmentTiltSearch(l, 2, profile, level, &a.tool, both, nullptr), 1);
    for (int32_t i = 1; i + 1 < l->count; ++i)
        EXPECT_LT(a.depth(walls, l->points[i], l->vectors[i]), 0.15) << i;
    plistFree(l);
    plistArrayFree(sides);
    freeProfile2D(start);
    meshSetFree(both);
}

TEST_F(PlateChannel, BladeEdgeAxisClearsBothBladesByBruteForce) {
    const std::vector<Vec3> plates = samples(plate, 1, 140, 125, {0, 2}, kHalfGap);
    ContourPair pair{newPlist3D(2), newPlist3D(2)};
    for (double u : {0.0, 1.0}) {
        Vec3 lo, hi;
        plate(0, u, 0, &lo);
        plate(0, u, 1, &hi);
        appendPlist3D(pair.first, &lo);
        appendPlist3D(pair.second, &hi);
    }
    const Vec3 p{11, 0, 8};  // in front of the blades' inner ends
    Vec3 axis;
    ASSERT_EQ(bladeEdgeToolAxis(&a.tool, &p, set, level, &pair, 0.0, 0.0, 0, 0, &axis), 1);
    EXPECT_LT(a.depth(plates, p, axis), 0.15);
    // The span direction is +z here and the side axis points at the part axis (-x): an offset turns the
    // axis that much further from the span direction toward that side.
    EXPECT_NEAR(axis.y, 0.0, 1e-9);
    EXPECT_LE(axis.x, 1e-9);
    Vec3 turned;
    ASSERT_EQ(bladeEdgeToolAxis(&a.tool, &p, set, level, &pair, 0.0, 0.1, 0, 0, &turned), 1);
    EXPECT_NEAR(turned.y, 0.0, 1e-9);
    EXPECT_LT(turned.x, -0.09);
    EXPECT_NEAR(std::acos(turned.z) - std::acos(axis.z), 0.1, 1e-9);
    // A pair without its first contour gives no axis.
    const ContourPair half{nullptr, pair.second};
    EXPECT_EQ(bladeEdgeToolAxis(&a.tool, &p, set, level, &half, 0.0, 0.0, 0, 0, &turned), -1);
    freePlist3D(pair.first);
    freePlist3D(pair.second);
}

TEST(ExampleImpeller, TiltedAssemblyClearsEveryBladeByBruteForce) {
    cycleParamsResetState();
    runResetAll();
    cycleParams()->collCheck5ax = 1;
    cycleParams()->tiltMax = 45;
    SurfList* blades[2] = {newSurfList(4), newSurfList(4)};
    ASSERT_EQ(readSurfObjects(example("blade.kvx").c_str(), blades[0]), 1);
    ASSERT_EQ(readSurfObjects(example("split.kvx").c_str(), blades[1]), 1);
    std::vector<Vec3> all;
    for (int b = 0; b < 2; ++b) {
        Surface f = [&, b](int k, double u, double v, Vec3* p) {
            return evalNurbsSurfPoint(&blades[b]->entries[k].surface, u, v, p) == 1;
        };
        std::vector<Vec3> s = samples(f, blades[b]->count, 200, 50, {-1, 0, 1, 2}, kPitch);
        all.insert(all.end(), s.begin(), s.end());
    }
    // The library's wire model, the ball radius as curve reach; triangles coarser than the cycle's
    // precision keep the test short, the brute-force check below still holds to the precision.
    TempDir dir;
    meshSetSetFolders(dir.path.c_str(), KV_BIN_DIR);
    MeshSet* set =
        meshSetFromSurfaces(example("blade.kvx").c_str(), example("split.kvx").c_str(), kPitch, 0.2, 2.5);
    ASSERT_NE(set, nullptr);
    HubShroud* level = exampleChannel();
    ASSERT_NE(level, nullptr);
    ProfileCurve* mean[2] = {};
    ASSERT_EQ(idx5CreateBladeCurves(example("blade.kvx").c_str(), level->hub, 0.5, &mean[0], &mean[1]), 1);
    AngleProfile* profile = angleProfCreate();
    const Assembly a{2.5, 21, 3, 45, 8, 90};
    for (double lift : {3.0, 8.0}) {
        // Plunge points a quarter pitch ahead of the blade's hub-side mean line, raised off the hub.
        Profile2D* raised = profile2DOffset(level->hub, lift);
        Plist* l = plistCreate(40, 1);
        for (int k = 0; k <= 24; ++k) {
            int32_t i = static_cast<int32_t>((0.08 + 0.035 * k) * (mean[0]->count - 1));
            Vec3 b{mean[0]->points[i].x, mean[0]->points[i].y, mean[0]->z[i]}, up{0, 0, 1};
            double t = 0, phi = std::atan2(b.y, b.x) + kPitch / 4;
            Vec2 rz;
            closestPointProfile2D(raised, &b, &t, nullptr);
            evalProfile2D(raised, t, &rz);
            Vec3 p{rz.x * std::cos(phi), rz.x * std::sin(phi), rz.y};
            plistAppend(l, k ? l->parameters[k - 1] + dist3D(&l->points[k - 1], &p) : 0, &p,
                        (k == 0 || k == 24) ? 0x200 : 0, &up, 0);
        }
        ASSERT_EQ(segmentTiltSearch(l, 0, profile, level, &a.tool, set, nullptr), 1) << lift;
        for (int32_t i = 1; i + 1 < l->count; ++i)
            EXPECT_LT(a.depth(all, l->points[i], l->vectors[i]), cycleParams()->precision)
                << lift << " " << i;
        plistFree(l);
        freeProfile2D(raised);
    }
    for (ProfileCurve* c : mean) profileFreeList(c);
    for (SurfList* b : blades) freeSurfList(b);
    angleProfFree(profile);
    meshSetFree(set);
    freeHubShroud(level);
    meshSetResetState();
    cycleParamsResetState();
}

// The initial axis runs from the hub's nearest point to the shroud's point of the same parameter, that
// one turned about the part axis by the level's extra angle (unless the levels step down from the
// shroud): on a flat channel, from (r, phi, 0) to (r, phi + extra, 40), across the angle's wrap too.
TEST(InitialAxis, RunsToTheShroudTurnedByTheExtraAngle) {
    cycleParamsResetState();
    HubShroud* level = flatChannel(40.0, 5.0);
    rngResetState();
    for (int trial = 0; trial < 24; ++trial) {
        const double extra = 0.6 * rngUniform() - 0.3, r = 10 + 40 * rngUniform(), z = 1 + 30 * rngUniform();
        const double phi = trial < 4 ? (trial % 2 ? -1 : 1) * (M_PI - 0.05) : 2 * M_PI * rngUniform() - M_PI;
        const int16_t strategy = trial % 3 == 2 ? 1 : 0;
        cycleParams()->stepStrategy = strategy;
        for (int32_t i = 0; i < level->hub->count; ++i) level->extra[i] = extra;
        const Vec3 p{r * std::cos(phi), r * std::sin(phi), z};
        Vec3 axis;
        ASSERT_EQ(segmentInitialAxis(level, &p, &axis), 1);
        const double turn = strategy == 1 ? 0.0 : extra;
        const Vec3 d{r * (std::cos(phi + turn) - std::cos(phi)), r * (std::sin(phi + turn) - std::sin(phi)),
                     40};
        const double len = std::sqrt(vecDot3D(&d, &d));
        EXPECT_NEAR(axis.x, d.x / len, 1e-9) << trial;
        EXPECT_NEAR(axis.y, d.y / len, 1e-9) << trial;
        EXPECT_NEAR(axis.z, d.z / len, 1e-9) << trial;
    }
    const Vec3 p{20, 0, 0};
    Vec3 axis{};
    EXPECT_EQ(segmentInitialAxis(nullptr, &p, &axis), -1);
    EXPECT_EQ(segmentInitialAxis(level, nullptr, &axis), -1);
    EXPECT_EQ(segmentInitialAxis(level, &p, nullptr), -1);
    freeHubShroud(level);
    // Hub and shroud closer than 1e-5 give no direction.
    cycleParams()->stepStrategy = 1;
    for (const double height : {0.0, 4e-6, 3e-5}) {
        level = flatChannel(height, 5.0);
        ASSERT_TRUE(level);
        axis = {};
        EXPECT_EQ(segmentInitialAxis(level, &p, &axis), height > 1e-5 ? 1 : -1) << height;
        EXPECT_EQ(axis.z, height > 1e-5 ? 1.0 : 0.0);
        freeHubShroud(level);
    }
    cycleParamsResetState();
}

// With a second set the tilt leans each list toward that set's wall on its own side (even lists the
// lower, -15 degrees here) until near it: the first point within 1 of the wall (upright it is 1.2 off),
// and every axis still clear of both blades by brute force.
TEST_F(PlateChannel, SecondSetLeansTowardItsWallAndStaysClear) {
    const std::vector<Vec3> plates = samples(plate, 1, 140, 125, {0, 2}, kHalfGap);
    cycleParams()->tiltMax = 120;
    for (int side : {0, 1, 2, 3}) {
        Plist* l = middleList(8, true);
        ASSERT_EQ(segmentTiltSearch(l, side, profile, level, &a.tool, set, set), 1);
        EXPECT_GT(a.depth(plates, l->points[1], l->vectors[1]), -1.0) << side;
        for (int32_t i = 1; i + 1 < l->count; ++i) {
            EXPECT_GT((side % 2 ? 1 : -1) * l->vectors[i].y, 0.01) << side << " " << i;
            EXPECT_LT(a.depth(plates, l->points[i], l->vectors[i]), 0.15) << side << " " << i;
        }
        plistFree(l);
    }
}

// A list cut from its first point, 5 degrees toward the lower wall, where the upright shank reaches
// that wall: the search tilts every cut point, the first too, clear of both blades by brute force.
TEST_F(PlateChannel, SearchTiltsTheFirstCutPointClearToo) {
    const std::vector<Vec3> plates = samples(plate, 1, 140, 125, {0, 2}, kHalfGap);
    Plist* l = middleList(8, true);
    l->flags[0] = 0;
    const double c = std::cos(-5 * M_PI / 180), s = std::sin(-5 * M_PI / 180);
    for (int32_t i = 0; i < l->count; ++i) l->points[i] = {c * l->points[i].x, s * l->points[i].x, 8};
    ASSERT_GT(a.depth(plates, l->points[0], l->vectors[0]), 0.5);
    ASSERT_EQ(segmentTiltSearch(l, 0, profile, level, &a.tool, set, nullptr), 1);
    for (int32_t i = 0; i + 1 < l->count; ++i)
        EXPECT_LT(a.depth(plates, l->points[i], l->vectors[i]), 0.15) << i;
    plistFree(l);
}
