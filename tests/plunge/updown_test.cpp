#include "plunge/updown.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "../geometry/msg_capture.h"
#include "channeltest.h"
#include "collision/meshset.h"
#include "collision/toolenv.h"
#include "collision/toolseg.h"
#include "geometry/plist.h"
#include "kernel/cycle.h"
#include "plunge/angleprof.h"
#include "plunge/bladecurves.h"
#include "plunge/contourpair.h"
#include "plunge/cycparams.h"
#include "plunge/edgeaxis.h"
#include "plunge/hubshroud.h"
#include "plunge/plist3d.h"
#include "plunge/profile2d.h"
#include "surfaces/deboor.h"
#include "surfaces/kvxsurf.h"

namespace {

constexpr double kHalfGap = 15.0 * M_PI / 180.0;  // the blades stand at -15 and +15 degrees

// Stacked frustums of the assembly (from height, to height, radius) as the tool below is described.
struct Frustum {
    double h0, h1, r;
};
const Frustum kAssembly[] = {{0, 25, 3}, {25, 35, 5}, {35, 50, 5}, {50, 60, 15}, {60, 80, 20}};

ToolDescription assemblyTool() {
    ToolDescription t{};
    t.radius = 3;
    t.cornerRadius = 3;
    t.cutterTop = 25;
    t.tipTop = 25;
    t.shaftDiameter = 6;
    t.chamferTop = 25;
    t.stage2Top = 35;
    t.stage2Diameter = 10;
    t.stage1Top = 50;
    t.stage1Diameter = 10;
    t.stage3Top = 60;
    t.stage3Diameter = 30;
    t.stage4Top = 80;
    t.stage4Diameter = 40;
    return t;
}

// A radial plate at polar angle phi, r in [15, 71], z in [-5, 45], on a 2 mm grid.
std::vector<Vec3> plateGrid(double phi, int* nr, int* nz) {
    *nr = 29;
    *nz = 26;
    std::vector<Vec3> g;
    for (int j = 0; j < *nz; ++j)
        for (int i = 0; i < *nr; ++i) {
            double r = 15 + 2.0 * i;
            g.push_back({r * std::cos(phi), r * std::sin(phi), -5 + 2.0 * j});
        }
    return g;
}

MeshSet* channelMeshSet() {
    int nr, nz;
    std::vector<Vec3> g = plateGrid(-kHalfGap, &nr, &nz);
    PlistArray* lines = plistArrayCreate(nr + nz);
    for (int j = 0; j < nz; ++j) {
        Plist* l = plistCreate(nr, 0);
        for (int i = 0; i < nr; ++i) plistAppend(l, i, &g[j * nr + i], 0, nullptr, 0);
        plistArrayAdd(lines, l);
        plistFree(l);
    }
    for (int i = 0; i < nr; ++i) {
        Plist* l = plistCreate(nz, 0);
        for (int j = 0; j < nz; ++j) plistAppend(l, j, &g[j * nr + i], 0, nullptr, 0);
        plistArrayAdd(lines, l);
        plistFree(l);
    }
    MeshSet* set = meshSetFromList(lines, 0, 2 * kHalfGap, 0.01);
    plistArrayFree(lines);
    return set;
}

Profile2D* straightProfile(double z) {
    Profile2D* p = newProfile2D(2);
    p->count = 2;
    p->points[0] = {10, z};
    p->points[1] = {80, z};
    p->param[0] = 0;
    p->param[1] = 70;
    return p;
}

HubShroud* verticalLevel() {
    HubShroud* h = static_cast<HubShroud*>(calloc(1, sizeof(HubShroud)));
    h->hub = straightProfile(0);
    h->shroud = straightProfile(40);
    h->extra = static_cast<double*>(calloc(2, sizeof(double)));
    return h;
}

// Plunge points along the channel's middle at height z, a link point at each end.
Plist* middleList(double z, int withCut) {
    Plist* l = plistCreate(20, 1);
    for (int k = 0; k <= 14; ++k) {
        double r = 22 + 2.5 * k;
        Vec3 p{r, 0, z}, up{0, 0, 1};
        uint16_t flag = (k == 0 || k == 14 || !withCut) ? 0x200 : 0;
        plistAppend(l, r, &p, flag, &up, 0);
    }
    return l;
}

// Deepest penetration of the assembly at pivot p along unit axis a into both plates, sampled on
// their triangles (0.4 mm apart), brute force.
double deepestPenetration(const Vec3& p, const Vec3& a) {
    double worst = -1e9;
    for (double phi : {-kHalfGap, kHalfGap}) {
        for (double r = 15; r <= 71; r += 0.4)
            for (double z = -5; z <= 45; z += 0.4) {
                Vec3 q{r * std::cos(phi) - p.x, r * std::sin(phi) - p.y, z - p.z};
                double h = q.x * a.x + q.y * a.y + q.z * a.z;
                double rho2 = q.x * q.x + q.y * q.y + q.z * q.z - h * h;
                double rho = std::sqrt(std::fmax(rho2, 0.0));
                if (h < 0) worst = std::fmax(worst, 3.0 - std::sqrt(rho2 + h * h));
                for (const Frustum& f : kAssembly)
                    if (h >= f.h0 && h <= f.h1) worst = std::fmax(worst, f.r - rho);
            }
    }
    return worst;
}

struct SearchFixture : ::testing::Test {
    void SetUp() override {
        cycleParamsResetState();
        toolSegResetState();
        meshSetResetState();
        cycleResetState();
        CycleParams* p = cycleParams();
        p->collCheck5ax = 1;
        p->tiltMax = 120;
        p->precision = 0.01;
        p->closeBlade = 1;
        p->leadAngle = 0;
        set = channelMeshSet();
        level = verticalLevel();
        profile = angleProfCreate();
        tool = assemblyTool();
    }
    void TearDown() override {
        meshSetFree(set);
        freeHubShroud(level);
        angleProfFree(profile);
        cycleResetState();
        cycleParamsResetState();
    }
    MeshSet* set = nullptr;
    HubShroud* level = nullptr;
    AngleProfile* profile = nullptr;
    ToolDescription tool{};
};

int alwaysCancel() {
    return 1;
}

}  // namespace

TEST_F(SearchFixture, EveryTiltedAxisClearsBothBladesByBruteForce) {
    ASSERT_NE(set, nullptr);
    for (double z : {4.0, 12.0, 30.0}) {
        for (int32_t side : {0, 2, 3}) {
            Plist* l = middleList(z, 1);
            ASSERT_EQ(segmentTiltSearch(l, side, profile, level, &tool, set, nullptr), 1) << z << " " << side;
            double tiltSum = 0;
            for (int32_t i = 1; i + 1 < l->count; ++i) {
                const Vec3 a = l->vectors[i];
                EXPECT_NEAR(vecLen3D(&a), 1.0, 1e-9);
                tiltSum += std::fabs(std::asin(a.y));
                EXPECT_LT(deepestPenetration(l->points[i], a), 0.15) << "z " << z << " point " << i;
            }
            // The tilt hugs the lower window edge: the axes lean, they do not all stay upright.
            if (z < 20) {
                EXPECT_GT(tiltSum, 0.01) << z;
            }
            plistFree(l);
        }
    }
}

TEST_F(SearchFixture, SwitchOffGivesLeadOnlyAndListWithoutCutsFailsOnlyWhenSearching) {
    cycleParams()->collCheck5ax = 0;
    cycleParams()->leadAngle = 10;
    Plist* l = middleList(8, 1);
    ASSERT_EQ(segmentTiltSearch(l, 0, profile, level, &tool, set, nullptr), 1);
    ASSERT_EQ(angleProfInit(profile, nullptr), -1);
    plistFree(l);
    // With the general lead angle of 10 degrees and no station, the axis leans 10 degrees along the
    // path (here +x) and not sideways.
    PlistArray* four = plistArrayCreate(4);
    Plist* m = middleList(8, 1);
    for (int k = 0; k < 4; ++k) plistArrayAdd(four, m);
    plistFree(m);
    ASSERT_EQ(angleProfInit(profile, four), 1);
    profile->table1.count = 0;
    ASSERT_EQ(segmentTiltSearch(four->lists[0], 0, profile, level, &tool, set, nullptr), 1);
    for (int32_t i = 1; i + 1 < four->lists[0]->count; ++i) {
        const Vec3 a = four->lists[0]->vectors[i];
        EXPECT_NEAR(a.x, std::sin(10 * M_PI / 180), 1e-6);
        EXPECT_NEAR(a.y, 0.0, 1e-9);
    }
    Plist* none = middleList(8, 0);
    EXPECT_EQ(segmentTiltSearch(none, 0, profile, level, &tool, set, nullptr), 1);
    cycleParams()->collCheck5ax = 1;
    EXPECT_LT(segmentTiltSearch(none, 0, profile, level, &tool, set, nullptr), 0);
    plistFree(none);
    plistArrayFree(four);
}

TEST_F(SearchFixture, LeadPastTheLimitIsCutOneDegreeInside) {
    cycleParams()->collCheck5ax = 0;
    cycleParams()->tiltMax = 20;
    profile->table1.angle = 35 * M_PI / 180;
    Plist* l = middleList(8, 1);
    ASSERT_EQ(segmentTiltSearch(l, 0, profile, level, &tool, set, nullptr), 1);
    for (int32_t i = 1; i + 1 < l->count; ++i)
        EXPECT_NEAR(std::acos(l->vectors[i].z), 20 * M_PI / 180 - 0.017453, 1e-9);
    plistFree(l);
}

TEST_F(SearchFixture, SegmentMessagesNameSegmentAndDirection) {
    struct Case {
        int entry;
        std::vector<std::string> expected;
    } cases[] = {{0, {"6220,1,1", "6220,1,1", "6220,2,1", "6220,2,1"}},
                 {1, {"6221,1,1", "6221,1,1", "6221,2,1", "6221,2,1"}}};
    for (const Case& c : cases) {
        MessageCapture capture(9);
        cycleParams()->entryPos = static_cast<int16_t>(c.entry);
        cycleParams()->collCheck5ax = 0;
        PlistArray* four = plistArrayCreate(4);
        Plist* m = middleList(8, 1);
        for (int k = 0; k < 4; ++k) plistArrayAdd(four, m);
        plistFree(m);
        EXPECT_EQ(segmentsUpDown(four, profile, level, &tool, set, nullptr), 1);
        EXPECT_EQ(capture.messages(), c.expected);
        plistArrayFree(four);
    }
}

TEST_F(SearchFixture, HostCancelEndsTheSearchAsUserBreakWithStatus100) {
    setAbortHook(alwaysCancel);
    PlistArray* four = plistArrayCreate(4);
    Plist* m = middleList(8, 1);
    for (int k = 0; k < 4; ++k) plistArrayAdd(four, m);
    plistFree(m);
    int rc = segmentsUpDown(four, profile, level, &tool, set, nullptr);
    EXPECT_EQ(rc, kUpDownUserBreak);
    setAbortHook(nullptr);
    plistArrayFree(four);
}

namespace {

constexpr double kPitch = 2 * M_PI / 8;  // the example's eight blades

// The example's tool assembly: ball cutter, shank and holder (from height, to height, radius).
const Frustum kExampleAssembly[] = {{0, 21, 2.5}, {21, 45, 3}, {45, 90, 8}};

ToolDescription exampleTool() {
    ToolDescription t{};
    t.toolType = kBallMill;
    t.radius = 2.5;
    t.cornerRadius = 2.5;
    t.cutterTop = 21;
    t.tipTop = 21;
    t.shaftDiameter = 5;
    t.chamferTop = 21;
    t.stage2Top = 45;
    t.stage2Diameter = 6;
    t.stage1Top = 45;
    t.stage1Diameter = 6;
    t.stage3Top = 90;
    t.stage3Diameter = 16;
    t.stage4Top = 90;
    t.stage4Diameter = 16;
    return t;
}

// Points of the blade and splitter surfaces of the whole wheel near the channel, sampled densely.
std::vector<Vec3> exampleBladeSamples() {
    std::vector<Vec3> out;
    for (const char* name : {"blade.kvx", "split.kvx"}) {
        SurfList* list = newSurfList(4);
        EXPECT_EQ(readSurfObjects(example(name).c_str(), list), 1);
        for (int32_t k = 0; k < list->count; ++k)
            for (int i = 0; i <= 200; ++i)
                for (int j = 0; j <= 50; ++j) {
                    Vec3 p;
                    if (evalNurbsSurfPoint(&list->entries[k].surface, i / 200.0, j / 50.0, &p) != 1) continue;
                    for (int copy = -1; copy <= 2; ++copy) {
                        double c = std::cos(copy * kPitch), s = std::sin(copy * kPitch);
                        out.push_back({c * p.x - s * p.y, s * p.x + c * p.y, p.z});
                    }
                }
        freeSurfList(list);
    }
    return out;
}

double examplePenetration(const std::vector<Vec3>& samples, const Vec3& p, const Vec3& a) {
    double worst = -1e9;
    for (const Vec3& s : samples) {
        Vec3 q{s.x - p.x, s.y - p.y, s.z - p.z};
        double h = q.x * a.x + q.y * a.y + q.z * a.z;
        double d2 = q.x * q.x + q.y * q.y + q.z * q.z;
        double rho = std::sqrt(std::fmax(d2 - h * h, 0.0));
        // Depth = the shortest way out of the stacked solid: sideways, or down through the floor of
        // a stage where the stage below is narrower.
        double below = 0.0;
        for (const Frustum& f : kExampleAssembly) {
            if (h >= f.h0 && h <= f.h1) {
                double depth = f.r - rho;
                if (rho > below) depth = std::fmin(depth, h - f.h0);
                worst = std::fmax(worst, depth);
            }
            below = f.r;
        }
    }
    return worst;
}

// A wire model of one blade file: iso polylines of every surface, nu along u and nv along v.
CollMesh* exampleBladeWires(const char* name, int nu, int nv) {
    SurfList* list = newSurfList(4);
    EXPECT_EQ(readSurfObjects(example(name).c_str(), list), 1);
    PlistArray* lines = plistArrayCreate(64);
    for (int32_t k = 0; k < list->count; ++k)
        for (int dir = 0; dir < 2; ++dir) {
            int across = dir == 0 ? nu : nv, along = dir == 0 ? nv : nu;
            for (int i = 0; i <= across; ++i) {
                Plist* l = plistCreate(along + 1, 0);
                for (int j = 0; j <= along; ++j) {
                    double a = static_cast<double>(i) / across, b = static_cast<double>(j) / along;
                    Vec3 p;
                    if (evalNurbsSurfPoint(&list->entries[k].surface, dir == 0 ? a : b, dir == 0 ? b : a,
                                           &p) == 1)
                        plistAppend(l, j, &p, 0, nullptr, 0);
                }
                plistArrayAdd(lines, l);
                plistFree(l);
            }
        }
    CollMesh* mesh = collMeshFromPolylines(lines, 0.01);
    plistArrayFree(lines);
    freeSurfList(list);
    return mesh;
}

MeshSet* exampleMeshSet() {
    MeshSet* set = meshSetCreate(kMeshSetSlots, 0);
    if (!set) return nullptr;
    set->meshes[0] = exampleBladeWires("blade.kvx", 100, 30);
    set->meshes[1] = exampleBladeWires("split.kvx", 60, 30);
    if (!set->meshes[0] || !set->meshes[1]) {
        meshSetFree(set);
        return nullptr;
    }
    return meshSetFinish(set, kPitch);
}

// Plunge points a quarter pitch ahead of the main blade's hub-side mean line, raised off the hub.
Plist* exampleSideList(const HubShroud* level, double lift) {
    ProfileCurve* mean[2] = {};
    EXPECT_EQ(idx5CreateBladeCurves(example("blade.kvx").c_str(), level->hub, 0.5, &mean[0], &mean[1]), 1);
    Profile2D* raised = profile2DOffset(level->hub, lift);
    Plist* l = plistCreate(40, 1);
    const ProfileCurve* c = mean[0];
    double arc = 0;
    for (int k = 0; c && raised && k <= 24; ++k) {
        int32_t i = static_cast<int32_t>((0.08 + 0.84 * k / 24.0) * (c->count - 1));
        Vec3 b{c->points[i].x, c->points[i].y, c->z[i]};
        double t = 0;
        closestPointProfile2D(raised, &b, &t, nullptr);
        Vec2 rz;
        evalProfile2D(raised, t, &rz);
        double phi = std::atan2(b.y, b.x) + kPitch / 4;
        Vec3 p{rz.x * std::cos(phi), rz.x * std::sin(phi), rz.y}, up{0, 0, 1};
        if (l->count > 0) arc += dist3D(&l->points[l->count - 1], &p);
        plistAppend(l, arc, &p, (k == 0 || k == 24) ? 0x200 : 0, &up, 0);
    }
    freeProfile2D(raised);
    profileFreeList(mean[0]);
    profileFreeList(mean[1]);
    return l;
}

}  // namespace

TEST(ExampleImpeller, TiltedAssemblyClearsEveryBladeByBruteForce) {
    cycleParamsResetState();
    toolSegResetState();
    meshSetResetState();
    CycleParams* prm = cycleParams();
    prm->collCheck5ax = 1;
    prm->tiltMax = 45;
    prm->precision = 0.01;
    prm->closeBlade = 1;
    HubShroud* level = exampleChannel();
    ASSERT_NE(level, nullptr);
    MeshSet* set = exampleMeshSet();
    ASSERT_NE(set, nullptr);
    AngleProfile* profile = angleProfCreate();
    const ToolDescription tool = exampleTool();
    const std::vector<Vec3> samples = exampleBladeSamples();
    ASSERT_GT(samples.size(), 50000u);
    for (double lift : {3.0, 8.0}) {
        Plist* l = exampleSideList(level, lift);
        ASSERT_EQ(l->count, 25);
        ASSERT_EQ(segmentTiltSearch(l, 0, profile, level, &tool, set, nullptr), 1) << lift;
        for (int32_t i = 1; i + 1 < l->count; ++i)
            EXPECT_LT(examplePenetration(samples, l->points[i], l->vectors[i]), prm->precision)
                << lift << " " << i;
        plistFree(l);
    }
    angleProfFree(profile);
    meshSetFree(set);
    freeHubShroud(level);
    cycleParamsResetState();
}

TEST_F(SearchFixture, EdgeAxisBisectionMatchesAScanOfTheClearTest) {
    // From upright toward the part axis, in front of the blades' inner ends.
    const Vec3 up{0, 0, 1}, inward{-1, 0, 0};
    int checked = 0;
    for (double r : {9.0, 11.0, 13.0}) {
        const Vec3 p{r, 0, 8};
        toolSegProfileInit(&tool, 0.0, 0.005);
        double angle = -1;
        if (edgeAxisAngle(1, &p, &up, &inward, set, &angle) != 1) continue;
        ++checked;
        // The first passing angle on a fine scan of the same test lies within the bisection's step.
        double first = -1;
        for (double a = 0; a <= M_PI / 2; a += 0.0002) {
            Vec3 c;
            vecRotateTowardClamped3D(&c, &up, &inward, a);
            if (edgeAxisClear(&p, &c, set, 1) == 1) {
                first = a;
                break;
            }
        }
        ASSERT_GE(first, 0) << r;
        EXPECT_LE(first, angle + 1e-9) << r;
        EXPECT_LE(angle - first, 0.0012) << r;
        Vec3 c;
        vecRotateTowardClamped3D(&c, &up, &inward, angle);
        EXPECT_LT(deepestPenetration(p, c), 0.15) << r;
    }
    EXPECT_GT(checked, 0);
}

TEST_F(SearchFixture, BladeEdgeAxisClearsBothBladesByBruteForce) {
    // The base blade as its hub-side and tip-side lines; points in front of its inner end.
    ContourPair* pair = static_cast<ContourPair*>(calloc(1, sizeof(ContourPair)));
    pair->first = newPlist3D(2);
    pair->second = newPlist3D(2);
    for (double r : {15.0, 71.0}) {
        Vec3 lo{r * std::cos(-kHalfGap), r * std::sin(-kHalfGap), -5}, hi{lo.x, lo.y, 45};
        appendPlist3D(pair->first, &lo);
        appendPlist3D(pair->second, &hi);
    }
    int found = 0;
    for (double r : {9.0, 11.0, 13.0}) {
        const Vec3 p{r, 0, 8};
        Vec3 axis;
        if (bladeEdgeToolAxis(&tool, &p, set, level, pair, 0.0, 0.0, 0, 0, &axis) != 1) continue;
        ++found;
        EXPECT_NEAR(vecLen3D(&axis), 1.0, 1e-9);
        EXPECT_LT(deepestPenetration(p, axis), 0.15) << r;
    }
    EXPECT_GT(found, 0);
    freeContourPair(pair);
}
