#include "collision/meshquery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "collision/meshindex.h"
#include "kernel/base/abort.h"
#include "meshutil.h"

namespace {

const Vec3 kDown{0, 0, -1};
Vec3 gHookPoint{};
void hook(const Vec3* p) {
    gHookPoint = *p;
}

// Filled to its capacity: a step one past the last point meets the sanitizer.
Plist* line(int n, double z) {
    Plist* l = plistCreate(n, 1);
    for (int i = 0; i < n; ++i) {
        const Vec3 p{double(i), 0, z}, v{0, 0, 1};
        plistAppend(l, double(i), &p, 0, &v, 0);
    }
    return l;
}

}  // namespace

TEST(MeshQuery, PathLiftsOnPlanesAndSlopes) {
    const double deg = M_PI / 180;
    struct Case {
        uint16_t type;
        double R, r, slopeDeg, want;
    } cases[] = {
        {1, 5, 0, 0, 3.0},
        {1, 5, 0, 30, 5 / std::cos(30 * deg) - 2},
        {3, 5, 1, 30, 4 * std::tan(30 * deg) + 1 / std::cos(30 * deg) - 2},
        {2, 5, 0, 30, 5 * std::tan(30 * deg) - 2},
    };
    for (const Case& c : cases) {
        testmesh::Model t({testmesh::slopeTri(0, std::tan(c.slopeDeg * deg))}, c.type, c.R, c.r);
        const Vec3 p{0, 0, 2};
        const int32_t cells[3] = {-1, 1, 0};  // the two out of range are passed over
        for (int listed = 0; listed < 2; ++listed) {
            double lift = -1;
            Vec3 contact{};
            EXPECT_EQ(
                chkModelPath(&t.m, listed ? cells : nullptr, 3 * listed, &p, &kDown, 10, &lift, &contact), 1);
            EXPECT_NEAR(lift, c.want, 1e-9) << c.type << " " << c.slopeDeg;
            EXPECT_TRUE(c.slopeDeg != 0 || vecLen3D(&contact) < 1e-12);  // on the plane: at the origin
        }
    }
}

// A vertical wall (no face contact along the motion) whose horizontal top edge at z = 0 passes beside
// the tool's axis: the edge touches when it lies within the tool's reach less 1e-7 and not beyond,
// lifting the reference to the tool's front at that distance.
TEST(MeshQuery, EdgeBesideTheAxisTouchesWithinTheReachLessAHair) {
    const struct {
        uint16_t type;
        double r;
    } tools[] = {{kBallMill, 0}, {kEndMill, 0}, {kRadiusMill, 0.25}};
    for (const auto& tl : tools) {
        for (const double in : {5e-7, 0.5e-7, 1e-3}) {
            const double x0 = 1.0 - in;
            testmesh::Model t({{{{x0, -5, 0}, {x0, 5, 0}, {x0, 0, -5}}}}, tl.type, 1.0, tl.r);
            const Vec3 p{0, 0, -10};
            double lift = 0;
            Vec3 c;
            const int got = chkModelPath(&t.m, nullptr, 0, &p, &kDown, 20, &lift, &c);
            EXPECT_EQ(got, in > 1e-7 ? 1 : 0) << tl.type << " " << in;
            if (got != 1) continue;
            EXPECT_NEAR(lift, 10 + testmesh::front(tl.type, 1.0, tl.r, x0), 1e-9) << tl.type << " " << in;
        }
    }
}

// A facet is its two triangles (Q0, Q1, Q2) and (Q0, Q2, Q3): a ball dropped on either half of a square
// facet at z = 0 rests on it, beside it on neither.
TEST(MeshQuery, FacetsAreTheirTwoTriangles) {
    testmesh::Model t({}, kBallMill, 1.0, 0, true);
    Facet98 f{};
    f.p[0] = {0, 0, 0}, f.p[1] = {10, 0, 0}, f.p[2] = {10, 10, 0}, f.p[3] = {0, 10, 0};
    Vec3 lo{0, 0, 0}, hi{10, 10, 0};
    t.m.facets = &f, t.m.facetCount = 1, t.m.boxMin = &lo, t.m.boxMax = &hi;
    for (const Vec3 p : {Vec3{8, 2, -1}, Vec3{2, 8, -1}, Vec3{12, 5, -1}}) {
        double lift = 0;
        Vec3 c{7, 7, 7};  // a miss leaves it
        const bool on = p.x < 10;
        const Vec3 want = on ? Vec3{p.x, p.y, 0} : c;
        EXPECT_EQ(chkModelPath(&t.m, nullptr, 0, &p, &kDown, 5, &lift, &c), on ? 1 : 0) << p.x;
        EXPECT_NEAR(lift, on ? 2.0 : 0.0, 1e-12) << p.x;
        EXPECT_LT(dist3D(&c, &want), 1e-9) << p.x;
    }
}

TEST(MeshQuery, LiftThresholdAndEmptyModels) {
    testmesh::Model t({testmesh::slopeTri(0, 0)}, kBallMill, 1.0);
    double lift;
    Vec3 c;
    const Vec3 at{0, 0, 1 - 1e-5}, below{0, 0, 1 - 0.99e-5};
    EXPECT_EQ(chkModelPath(&t.m, nullptr, 0, &at, &kDown, 2, &lift, &c), 1);
    EXPECT_EQ(meshDropToolAbove(&t.m, &at, &kDown, 2, 0), 1);  // the least lift that counts is above 0
    EXPECT_EQ(chkModelPath(&t.m, nullptr, 0, &below, &kDown, 2, &lift, &c), 0);
    EXPECT_EQ(lift, 0.0);
    EXPECT_EQ(meshDropToolAlt(&t.m, nullptr, 0, &at, &kDown, 2, &lift, &c), 1);  // the same with parts
    EXPECT_EQ(meshDropToolAlt(&t.m, nullptr, 0, &below, &kDown, 2, &lift, &c), 0);
    testmesh::Model deep({testmesh::slopeTri(-1000, 0)}, kBallMill, 1.0);  // the plate as a part alone
    CheckModelPart part{kMeshTriangles, nullptr, 0, t.m.triangles, t.m.boxMax, t.m.boxMin, {},
                        *t.m.tool,      nullptr, 0, nullptr};
    deep.m.parts = &part;
    EXPECT_EQ(meshDropToolAlt(&deep.m, nullptr, 0, &at, &kDown, 2, &lift, &c), 1);
    EXPECT_EQ(meshDropToolAlt(&deep.m, nullptr, 0, &below, &kDown, 2, &lift, &c), 0);
    deep.m.parts = nullptr;
    // A flat end's lift onto a level plane is exact: one of just 1e-5 counts, with or without an index.
    testmesh::Model flat({testmesh::slopeTri(0, 0)}, kEndMill, 1.0);
    for (const bool indexed : {false, true}) {
        flat.m.index = indexed ? meshIndexBuild(1, flat.m.boxMin, flat.m.boxMax) : nullptr;
        const Vec3 q{0, 0, -1e-5};  // 2e-5 - 1e-5 is exact
        EXPECT_EQ(chkModelPath(&flat.m, nullptr, 0, &q, &kDown, 2e-5, &lift, &c), 1) << indexed;
        EXPECT_EQ(lift, 1e-5);
        meshIndexFree(flat.m.index);
    }
    flat.m.index = nullptr;
    // Rising into the plate from below, where no early stop by box tops applies: the same bound.
    const Vec3 up{0, 0, 1}, atUp{0, 0, -1 + 1e-5}, belowUp{0, 0, -1 + 0.99e-5};
    for (const bool parts : {false, true}) {
        auto drop = parts ? meshDropToolAlt : meshDropTool;
        EXPECT_EQ(drop(&t.m, nullptr, 0, &atUp, &up, 2, &lift, &c), 1) << parts;
        EXPECT_EQ(drop(&t.m, nullptr, 0, &belowUp, &up, 2, &lift, &c), 0) << parts;
    }
    const Vec3 high{0, 0, 50};
    EXPECT_EQ(chkModelPath(&t.m, nullptr, 0, &high, &kDown, 2, &lift, &c), 0);
    Vec3* boxes = t.m.boxMin;  // one of the two box arrays alone: no boxes, nothing to scan
    t.m.boxMin = nullptr;
    EXPECT_EQ(chkModelPath(&t.m, nullptr, 0, &at, &kDown, 2, &lift, &c), 0);
    t.m.boxMin = boxes;
    t.m.boxMin[0].x += 1000, t.m.boxMax[0].x += 1000;  // the sweep reads a model's own corners: moved aside
    EXPECT_EQ(chkModelPath(&t.m, nullptr, 0, &at, &kDown, 2, &lift, &c), 0);
    testmesh::Model empty({}, kBallMill, 1.0);
    empty.m.triangles = nullptr;
    lift = 7;
    EXPECT_EQ(chkModelPath(&empty.m, nullptr, 0, &at, &kDown, 2, &lift, &c), 0);
    EXPECT_EQ(lift, 0.0);
    t.m.tool->toolType = 10;
    EXPECT_EQ(chkModelPath(&t.m, nullptr, 0, &at, &kDown, 2, &lift, &c), 0);
}

// A ball of radius 1 coming down onto the plane z = zPlane stops with its centre lifted by zPlane + 1;
// a contact counts from the model's tolerance up, and collides from 1e-5 above the reference up.
TEST(MeshQuery, SegmentContactAboveReferenceCollides) {
    meshResetState();
    struct Case {
        double zPlane, tolerance;
        int want;
    } cases[] = {{0.0, 0.008, 1},  {1e-5, 0.008, -2}, {-0.5, 0.008, 1},     {0.5, 0.008, -2},
                 {-1.5, 0.008, 1}, {0.5, 1.5, -2},    {0.5, 1.5 + 1e-12, 1}};
    for (const Case& c : cases) {
        for (const double base : {0.0, 10.0}) {           // the reference level is P's, wherever P stands
            if (base != 0 && c.zPlane == 1e-5) continue;  // 10 + 1e-5 rounds across the bound
            testmesh::Model t({testmesh::slopeTri(base + c.zPlane, 0)}, kBallMill, 1.0);
            t.m.tolerance = c.tolerance;
            const Vec3 p{0, 0, base}, axis{0, 0, 1};
            EXPECT_EQ(chkModelSegment(&t.m, &p, &axis, 2, nullptr, 0), c.want) << c.zPlane << " " << base;
        }
    }
    Vec3 last;
    ASSERT_EQ(meshLastContact(kMeshTriangles, &last), 1);
    EXPECT_NEAR(last.z, 10.5, 1e-12);
    EXPECT_EQ(meshLastContact(kMeshFacets, &last), 0);
    // Along a slanted axis from a point off the origin the ball's centre rises to 1.875 up the axis.
    testmesh::Model s({testmesh::slopeTri(10.5, 0)}, kBallMill, 1.0);
    const Vec3 off{0, -10, 10}, slant{0, 0.6, 0.8};
    EXPECT_EQ(chkModelSegment(&s.m, &off, &slant, 2, nullptr, 0), -2);
    ASSERT_EQ(meshLastContact(kMeshTriangles, &last), 1);
    EXPECT_TRUE(std::fabs(last.y + 8.875) < 1e-9 && std::fabs(last.z - 10.5) < 1e-9) << last.y;
    // Each form keeps its own last contact, until the reset.
    testmesh::Model f({testmesh::slopeTri(0.5, 0)}, kBallMill, 1.0, 0, true);
    const Vec3 p{0, 0, 0}, axis{0, 0, 1};
    EXPECT_EQ(chkModelSegment(&f.m, &p, &axis, 2, nullptr, 0), -2);
    ASSERT_EQ(meshLastContact(kMeshFacets, &last), 1);
    EXPECT_NEAR(last.z, 0.5, 1e-12);
    meshResetState();
    EXPECT_EQ(meshLastContact(kMeshTriangles, &last), 0);
    EXPECT_EQ(meshLastContact(kMeshFacets, &last), 0);
}

// With a grid the elements are those of the cell under the point half the length up the tilted axis
// (times the sine of the angle); a plane that only the far cell lists is missed from every other one.
TEST(MeshQuery, SegmentWithAGridTakesTheCellUpTheAxis) {
    testmesh::Model t({testmesh::slopeTri(0.5, 0)}, kBallMill, 1.0);
    Grid2D* grid = testmesh::farCellGrid();
    ASSERT_NE(grid, nullptr);
    const Vec3 axis{0.6, 0.48, 0.64}, p{-1, -1, 0};
    struct Case {
        double angle;
        int want;
    } cases[] = {{M_PI / 2, -2},
                 {std::asin(0.45), -2},
                 {std::asin(0.4), 1},
                 {0, 1}};  // (2, 1.4), (.35, .08), (.2, -.04)
    for (const Case& c : cases)
        EXPECT_EQ(chkModelSegment(&t.m, &p, &axis, 10, grid, c.angle), c.want) << c.angle;
    grid2DFree(grid);
}

// Points along x at z = 0 and a small post with its top at 0.5, its nearest corner at (x, y): a point
// over the post collides unless its kind is skipped (2 always, 3 in the facet form); the tool tested is
// 0.01 thinner than the model's (0.4), so a post 0.395 off the path is clear.
TEST(MeshQuery, ContactPointsCutTheListAtTheFirstCollision) {
    struct Case {
        bool facetForm;
        double x, y;
        uint8_t kind;
        int want;
        int32_t count;
    } cases[] = {
        {false, 7, 0, 0, -2, 7},           {true, 7, 0, 0, -2, 7},
        {false, 0, 0, 0, -2, 0},           {false, 7, 0, kPointMarked, -2, 7},
        {true, 7, 0, kPointMarked, 1, 20}, {false, 7, 0, kPointLink, 1, 20},
        {true, 7, 0, kPointLink, 1, 20},   {false, 7, 0.395, 0, 1, 20},
        {false, 7, 0.385, 0, -2, 7},
    };
    for (const Case& c : cases) {
        const Triangle3D post{
            {{c.x, c.y, 0.5}, {c.x + 0.05, c.y + 0.05, 0.5}, {c.x - 0.05, c.y + 0.05, 0.5}}};
        testmesh::Model t({post}, kBallMill, 0.4, 0, c.facetForm);
        Plist* l = line(20, 0);
        ASSERT_NE(l, nullptr);
        if (c.y == 0.385) {  // without vectors the tool comes down +z
            std::free(l->vectors);
            l->vectors = nullptr;
        }
        l->flags[int(c.x)] = uint16_t(c.kind << 8);
        gHookPoint = {};
        meshSetReferenceHook(hook);
        EXPECT_EQ(chkModelContactPoints(&t.m, l, 5, nullptr, 0), c.want)
            << c.facetForm << " " << c.x << " " << c.y;
        EXPECT_EQ(l->count, c.count);
        EXPECT_NEAR(gHookPoint.z, c.want == -2 ? 0.5 : 0.0, 1e-12);
        meshResetState();
        EXPECT_EQ(t.m.tool->radius, 0.4);
        plistFree(l);
    }
}

// A plate at z = 0 under a ball of radius 1; points at 0.5 are lifted by 0.5, points at 3 are out of
// reach. The facet form marks lifted points kind 5 while it runs and 0 at the end, with markRest every
// other point 3, and with skipLast leaves the last point; the triangle form does neither and answers
// whether any point touched. A lift beyond a limit leaves its point where it is, kind 2.
TEST(MeshQuery, ListFormsMarkKindsAndSkipAsTheirSwitchesSay) {
    struct Case {
        bool facetForm;
        int32_t markLifted, markRest, skipLast;
        int want;
        double wantZ[5];
        uint8_t kinds[5];
        int32_t limitLift = -1;
        double maxLift = 0;
    } cases[] = {
        {true, -1, 1, -1, 1, {1, 1, 3, 3, 1}, {0, 0, 3, 3, 0}},
        {true, 0, 1, -1, 1, {1, 1, 3, 3, 1}, {3, 3, 3, 3, 3}},
        {true, -1, 1, 1, 1, {1, 1, 3, 3, 0.5}, {0, 0, 3, 3, 3}},
        {true, -1, 0, -1, 1, {1, 1, 3, 3, 1}, {0, 0, 0, 0, 0}},
        {false, -1, 1, 1, 1, {1, 1, 3, 3, 1}, {0, 0, 0, 0, 0}},
        {false, -1, 1, 1, 1, {0.5, 0.5, 3, 3, 0.5}, {2, 2, 0, 0, 2}, 1, 0.4999},
        {false, -1, 1, 1, 1, {1, 1, 3, 3, 1}, {0, 0, 0, 0, 0}, 1, 0.5},
    };
    for (const Case& c : cases) {
        for (const bool allHigh : {false, true}) {
            testmesh::Model t({testmesh::slopeTri(0, 0)}, kBallMill, 1.0, 0, c.facetForm);
            Plist* l = line(5, 0.5);
            ASSERT_NE(l, nullptr);
            for (int i = 0; i < 5; ++i) l->points[i].z = allHigh ? 3 : i < 2 || i == 4 ? 0.5 : 3;
            CheckParams prm;
            initChkParams(&prm);
            prm.noRefine = 1;
            prm.markLifted = c.markLifted;
            prm.markRest = c.markRest;
            prm.skipLast = c.skipLast;
            prm.limitLift = c.limitLift, prm.maxLift = c.maxLift;
            EXPECT_EQ(chkModelList(&t.m, l, 1, nullptr, 0, &prm), allHigh && !c.facetForm ? 0 : c.want);
            ASSERT_EQ(l->count, 5);
            for (int i = 0; i < 5 && !allHigh; ++i) {
                EXPECT_NEAR(l->points[i].z, c.wantZ[i], 1e-12) << c.facetForm << " " << i;
                EXPECT_EQ(l->flags[i] >> 8, c.kinds[i])
                    << c.facetForm << " " << c.markLifted << c.markRest << i;
            }
            plistFree(l);
        }
    }
}

// A path in the air over a plate far below, with a 7 degree corner at x = 10 (cos 0.9925, between the
// triangle form's short-segment limit 0.985 and 0.996), its axes turning with the parameter t in the
// plane of z and the azimuth 0.7 (polar angle 0.01 t). The facet form passes over pairs of which neither
// point was lifted unless extraTest or markLifted is off; then it halves the gaps next to the corner
// until a gap falls below the gap limit + 1e-5 (2^-7 for the tolerance 0.008) or the pair comes closer
// than the tolerance: with fineGap, points 10 apart reach 2^-11. splitLong halves segments longer than
// the step. An inserted point lies on the path where its parameter puts it, with the axis of its
// parameter, unless pullNewPoints pulls it down to its lower neighbour. A corner of kind 2 is passed
// over with extraTest off, refined with it on. The triangle form refines nothing without a contact.
TEST(MeshQuery, ListRefinementInTheAirFollowsTheSwitches) {
    meshResetState();
    const double turn = 7 * M_PI / 180, az = 0.7;
    struct Case {
        bool facetForm;
        int32_t markLifted, extraTest, fineGap, splitLong, pull;
        uint8_t cornerKind;
        double spacing;
        int32_t wantCount;  // 0: refined around the corner
        double wantGap;     // smallest parameter gap
    } cases[] = {
        {true, -1, -1, -1, -1, -1, 0, 1, 21, 1},
        {true, -1, 0, -1, -1, -1, 0, 1, 0, 1.0 / 128},
        {true, 0, -1, -1, -1, -1, 0, 1, 0, 1.0 / 128},
        {true, 0, -1, 1, -1, -1, 0, 10, 0, 1.0 / 2048},
        {false, -1, 0, -1, -1, -1, 0, 1, 21, 1},
        {true, 0, -1, -1, 1, -1, 0, 1.5, 0, 1.0 / 128},
        {true, 0, -1, -1, 1, -1, 0, 0.6, 0, 1.0 / 128},       // nothing longer than the step
        {true, 0, -1, -1, 1, -1, 0, 1 + 5e-6, 0, 1.0 / 128},  // nor longer by 1e-5
        {true, 0, -1, -1, -1, 1, 0, 1, 0, 0},
        {true, 0, -1, -1, 1, 1, 0, 1.5, 0, 0},  // the first segment split: its new point pulled to point 0
        {true, -1, 0, -1, -1, -1, kPointLink, 1, 21, 1},
        {true, 0, -1, -1, -1, -1, kPointLink, 1, 0, 1.0 / 128},
        {true, 0, -1, -1, -1, -1, 0, 0.008, 23, 0.5},  // the corner's pairs, the tolerance apart, halved once
    };
    for (const Case& c : cases) {
        testmesh::Model t({testmesh::slopeTri(-100, 0)}, kBallMill, 1.0, 0, c.facetForm);
        Plist* l = line(21, 0);
        ASSERT_NE(l, nullptr);
        auto onPath = [&](double par) {
            const double s = c.spacing * (par - 10);
            // Off the x axis by 2: the turn test reads differences only.
            return par <= 10 ? Vec3{s, 2, 0} : Vec3{s * std::cos(turn), 2, s * std::sin(turn)};
        };
        for (int i = 0; i < 21; ++i) {
            l->points[i] = onPath(i);
            l->flags[i] = uint16_t(i == 10 ? c.cornerKind << 8 : 0);
            l->vectors[i] = {std::sin(0.01 * i) * std::cos(az), std::sin(0.01 * i) * std::sin(az),
                             std::cos(0.01 * i)};
        }
        CheckParams prm;
        initChkParams(&prm);
        prm.markLifted = c.markLifted;
        prm.extraTest = c.extraTest;
        prm.fineGap = c.fineGap;
        prm.splitLong = c.splitLong;
        prm.pullNewPoints = c.pull;
        EXPECT_EQ(chkModelList(&t.m, l, 1, nullptr, 0, &prm), c.facetForm ? 1 : 0);
        EXPECT_TRUE(!c.wantCount || l->count == c.wantCount) << l->count;
        double gap[2] = {1e9, 1e9};  // before and after the corner: refined alike on both sides
        int moved = 0, rising = 0;
        for (int32_t i = 0; i < l->count; ++i) {
            const double par = l->parameters[i];
            if (i) gap[par > 10] = std::min(gap[par > 10], par - l->parameters[i - 1]);
            const Vec3& v = l->vectors[i];
            EXPECT_NEAR(std::atan2(std::hypot(v.x, v.y), v.z), 0.01 * par, 1e-12) << i;
            EXPECT_NEAR(std::atan2(v.y, v.x), par > 0 ? az : 0.0, 1e-9) << i;
            const Vec3 want = onPath(par);
            moved += dist3D(&want, &l->points[i]) > 1e-9;
            rising += par > 10 && dist3D(&want, &l->points[i]) > 1e-9;
        }
        // Pulled down to the lower neighbour: on the rising side too, where the neighbours differ in z, and
        // to the first point (below along the tilted axes) from the point after it.
        const Vec3 second = onPath(l->parameters[1]);
        const bool firstPulled = c.splitLong != 1 || dist3D(&second, &l->points[1]) > 1e-9;
        EXPECT_TRUE(c.pull == 1 ? rising > 0 && firstPulled : moved == 0) << moved;
        EXPECT_TRUE(c.pull == 1 || (gap[0] == c.wantGap && gap[1] == c.wantGap))
            << c.markLifted << c.extraTest << c.fineGap << c.splitLong;
        double longest = 0;
        for (int32_t i = 1; c.pull != 1 && i < l->count; ++i) {
            const double len = dist3D(&l->points[i - 1], &l->points[i]);
            longest = std::max(longest, len);
            EXPECT_LE(len, c.splitLong == 1 ? 1 + 1e-5 : c.spacing + 1e-12) << i;
            if (i + 1 == l->count) continue;
            const Vec3 u{l->points[i].x - l->points[i - 1].x, 0, l->points[i].z - l->points[i - 1].z};
            const Vec3 w{l->points[i + 1].x - l->points[i].x, 0, l->points[i + 1].z - l->points[i].z};
            const double cs = vecDot3D(&u, &w) / (vecLen3D(&u) * vecLen3D(&w));
            const double near =
                std::min(l->parameters[i] - l->parameters[i - 1], l->parameters[i + 1] - l->parameters[i]);
            EXPECT_TRUE(c.wantCount || cs > 0.996 || near < (c.fineGap == 1 ? 0.1 : 1) * t.m.tolerance + 1e-5)
                << i;
        }
        // Segments away from the corner keep their length unless longer than the step.
        const double keep = c.splitLong == 1 && c.spacing > 1 + 1e-5 ? c.spacing / 2 : c.spacing;
        EXPECT_TRUE(c.pull == 1 || std::fabs(longest - keep) < 1e-9) << longest;
        plistFree(l);
    }
    // A short last leg (5e-5, too close in parameter to split) has the pairs before it halved to 2^-7.
    testmesh::Model t({testmesh::slopeTri(-100, 0)}, kBallMill, 1.0, 0, true);
    Plist* l = line(3, 0);
    ASSERT_NE(l, nullptr);
    l->points[2] = {1, 5e-5, 0}, l->parameters[2] = 1 + 1e-6;
    CheckParams prm;
    initChkParams(&prm);
    prm.extraTest = 0;
    EXPECT_EQ(chkModelList(&t.m, l, 1, nullptr, 0, &prm), 1);
    EXPECT_EQ(l->count, 10);
    plistFree(l);
    // On a straight path a point of a kind the change test reports has the pairs on both sides of it
    // halved to 2^-7 with extraTest; without it, or of the ordinary kind, nothing is inserted.
    const struct {
        int32_t extraTest, kind;
        bool halved;
    } kinds[] = {{1, kPointKind4, true}, {1, kPointKind12, true}, {0, kPointKind4, false}, {1, 0, false}};
    for (const auto& k : kinds) {
        Plist* s = line(5, 0);
        ASSERT_NE(s, nullptr);
        s->flags[2] = uint16_t(k.kind << 8);
        initChkParams(&prm);
        prm.markLifted = 0, prm.extraTest = k.extraTest;
        EXPECT_EQ(chkModelList(&t.m, s, 1, nullptr, 0, &prm), 1);
        std::vector<double> want{0, 1, 2, 3, 4};
        for (int e = 1; k.halved && e <= 7; ++e)
            want.push_back(2 - std::ldexp(1, -e)), want.push_back(2 + std::ldexp(1, -e));
        std::sort(want.begin(), want.end());
        ASSERT_EQ(s->count, int32_t(want.size())) << k.kind << " " << k.extraTest;
        for (int32_t i = 0; i < s->count; ++i)
            EXPECT_TRUE(s->parameters[i] == want[i] && s->points[i].x == want[i]) << i;
        plistFree(s);
    }
}

// A ball 5 in radius whose centre sits 2 above a plate rises along the point's vector until it is 5
// above: by 3 / cos(tilt) along a tilted vector, by 3 straight up when the list has no vectors or the
// lift is fixed to +z.
TEST(MeshQuery, ListLiftFollowsThePointVector) {
    const double tilt = 25 * M_PI / 180, az = 0.6;
    const Vec3 u{std::sin(tilt) * std::cos(az), std::sin(tilt) * std::sin(az), std::cos(tilt)};
    struct Case {
        bool vectors;
        int32_t fixedDir;
        bool alongU;
    } cases[] = {{true, 0, true}, {true, 1, false}, {false, 0, false}, {false, 1, false}};
    for (const Case& c : cases) {
        testmesh::Model t({testmesh::slopeTri(0, 0)}, kBallMill, 5.0);
        Plist* l = plistCreate(3, c.vectors ? 1 : 0);
        ASSERT_NE(l, nullptr);
        for (int i = 0; i < 3; ++i) {
            const Vec3 p{double(i), 0, 2};
            plistAppend(l, double(i), &p, 0, c.vectors ? &u : nullptr, 0);
        }
        l->flags[1] = uint16_t(kPointLink << 8);  // a link point is passed over
        CheckParams prm;
        initChkParams(&prm);
        prm.fixedDir = c.fixedDir;
        prm.noRefine = 1;
        EXPECT_EQ(chkModelList(&t.m, l, 10, nullptr, 0, &prm), 1);
        ASSERT_EQ(l->count, 3);
        const double h = c.alongU ? 3 / u.z : 3;
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(l->points[i].x, i + (c.alongU && i != 1 ? h * u.x : 0), 1e-9) << c.vectors << i;
            EXPECT_NEAR(l->points[i].y, c.alongU && i != 1 ? h * u.y : 0, 1e-9) << c.vectors << i;
            EXPECT_NEAR(l->points[i].z, i == 1 ? 2 : 5, 1e-9) << c.vectors << c.fixedDir << i;
        }
        plistFree(l);
    }
    testmesh::Model t({testmesh::slopeTri(0, 0)}, kBallMill, 5.0);
    Plist* l = line(3, 2);
    ASSERT_NE(l, nullptr);
    setAbortHook([] { return 1; });  // aborted: the list stays as it was
    EXPECT_EQ(chkModelList(&t.m, l, 10, nullptr, 0, nullptr), kMeshCollision);
    setAbortHook(nullptr);
    EXPECT_TRUE(l->count == 3 && l->points[0].z == 2);
    plistFree(l);
}

// With axes turning about y in step with the parameter (0.01 t), an inserted point's axis (the two
// neighbours' axes halved) turns with it as well.
TEST(MeshQuery, RefinementInsertsOnlyAroundACorner) {
    // Two planes meeting at x = 10, the second rising at 10 degrees; the path rides on both.
    const double k = std::tan(10 * M_PI / 180);
    meshSetNoRefine(1);  // the call's own switch (0 from initChkParams) overrides the form's
    // Variant 3: tolerance 0 and parameters 5e-5 apart, halved while the gap is 1e-5 or more.
    for (int variant : {0, 1, 2, 3}) {
        const bool bent = variant > 0, turning = variant == 2;
        const double unit = variant == 3 ? 5e-5 : 1;
        const double h = bent ? 20 * k : 0;
        testmesh::Model t({{{{-5, -20, 0}, {10, -20, 0}, {10, 20, 0}}},
                           {{{-5, -20, 0}, {10, 20, 0}, {-5, 20, 0}}},
                           {{{10, -20, 0}, {30, -20, h}, {30, 20, h}}},
                           {{{10, -20, 0}, {30, 20, h}, {10, 20, 0}}}},
                          kBallMill, 1.0);
        Plist* l = line(21, -0.5);
        ASSERT_NE(l, nullptr);
        for (int i = 0; turning && i < 21; ++i) l->vectors[i] = {std::sin(0.01 * i), 0, std::cos(0.01 * i)};
        for (int i = 0; i < 21; ++i) l->parameters[i] = i * unit;
        if (variant == 3) t.m.tolerance = 0.0;
        CheckParams prm;
        initChkParams(&prm);
        EXPECT_EQ(chkModelList(&t.m, l, 10, nullptr, 0, &prm), 1);
        for (int32_t i = 0; turning && i < l->count; ++i)
            EXPECT_NEAR(std::atan2(l->vectors[i].x, l->vectors[i].z), 0.01 * l->parameters[i], 1e-12) << i;
        EXPECT_TRUE(bent ? l->count > 21 : l->count == 21) << l->count;
        for (int32_t i = 1; i < l->count; ++i)
            EXPECT_GT(l->parameters[i], l->parameters[i - 1]) << variant << " " << i;
        for (int32_t i = 1; bent && i + 1 < l->count; ++i) {
            const Vec3 u{l->points[i].x - l->points[i - 1].x, 0, l->points[i].z - l->points[i - 1].z};
            const Vec3 w{l->points[i + 1].x - l->points[i].x, 0, l->points[i + 1].z - l->points[i].z};
            const double cs = vecDot3D(&u, &w) / (vecLen3D(&u) * vecLen3D(&w));
            const double gap =
                std::min(l->parameters[i] - l->parameters[i - 1], l->parameters[i + 1] - l->parameters[i]);
            const double flatter = vecLen3D(&u) >= t.m.stepLength - 1e-5 ? 0.996 : 0.985;
            EXPECT_TRUE(cs > flatter || gap < 2 * (t.m.tolerance + 1e-5)) << i << " " << cs << " " << gap;
            const double par = l->parameters[i] / unit;  // an inserted point lies near the corner
            EXPECT_TRUE(std::fabs(par - std::round(par)) < 1e-9 || std::fabs(par - 10) <= 2.0) << i;
        }
        plistFree(l);
    }
    meshSetNoRefine(0);
}

// A turn whose cosine is exactly the limit (0.996 after a full step, 0.985 after a shorter one, the step
// before the turn or after it) is refined, one just flatter is not: lifted alike onto a level plate, the
// points keep their plan turn.
TEST(MeshQuery, TurnsRightAtTheCosineLimitAreRefined) {
    const struct {
        double before, after, cosine;
        bool refined;
    } cases[] = {{1, 1, 0.996, true},       {1, 1, 0.9961, false}, {0.5, 0.5, 0.985, true},
                 {0.5, 0.5, 0.9851, false}, {0.5, 1, 0.99, true},  {1, 0.5, 0.99, true}};
    for (const auto& c : cases) {
        testmesh::Model t({testmesh::slopeTri(0, 0)}, kBallMill, 1.0);
        Plist* l = line(3, -0.5);
        ASSERT_NE(l, nullptr);
        const double y = std::sqrt(1 - c.cosine * c.cosine);
        l->points[0] = {-c.before, 0, -0.5}, l->points[1] = {0, 0, -0.5};
        l->points[2] = {c.after * c.cosine, c.after * y, -0.5};
        CheckParams prm;
        initChkParams(&prm);
        EXPECT_EQ(chkModelList(&t.m, l, 10, nullptr, 0, &prm), 1);
        EXPECT_EQ(l->count > 3, c.refined) << c.before << c.after << " " << c.cosine << " " << l->count;
        plistFree(l);
    }
    // Straight up from a contact, then a turn that stays steep: refined below a cosine of 0.99999 only.
    for (const double cosine : {0.99999, 0.99998}) {
        testmesh::Model t({testmesh::slopeTri(-100, 0)}, kBallMill, 1.0);
        Plist* l = line(4, 0);
        ASSERT_NE(l, nullptr);
        l->points[0] = {0, 0, -100.5}, l->points[1] = {0, 0, -1};
        l->points[2] = {0, 0, 0}, l->points[3] = {std::sqrt(1 - cosine * cosine), 0, cosine};
        EXPECT_EQ(chkModelList(&t.m, l, 10, nullptr, 0, nullptr), 1);
        EXPECT_EQ(l->count > 4, cosine < 0.99999) << l->count;
        plistFree(l);
    }
}

// At tolerance 0 a turning pair only 1.5e-5 apart in parameter has no midpoint the list can hold
// apart from its ends: it stays whole, the list in order, instead of filling up. Only the long pair is
// halved towards the turn, at most until its gap falls below 2.2e-5 (17 halvings of 1).
TEST(MeshQuery, PairsTooCloseToSplitStayWhole) {
    testmesh::Model t({testmesh::slopeTri(0, 0)}, kBallMill, 1.0);
    t.m.tolerance = 0.0;
    Plist* l = line(3, -0.5);
    ASSERT_NE(l, nullptr);
    l->points[2] = {1, 1, -0.5};
    l->parameters[1] = 1.5e-5;
    EXPECT_EQ(chkModelList(&t.m, l, 10, nullptr, 0, nullptr), 1);
    EXPECT_LE(l->count, 3 + 17);
    EXPECT_DOUBLE_EQ(l->parameters[1], 1.5e-5);
    for (int32_t i = 1; i < l->count; ++i) EXPECT_GT(l->parameters[i], l->parameters[i - 1]) << i;
    plistFree(l);
}

// An index over fewer elements than the mesh holds (the mesh grew since) is passed over: a drop onto the
// element it does not know still lifts the tool.
TEST(MeshQuery, AnIndexOfAnotherCountIsNotUsed) {
    testmesh::Model t({{{{0, 0, 0}, {10, 0, 0}, {0, 10, 0}}}, {{{100, 0, 0}, {110, 0, 0}, {100, 10, 0}}}},
                      kBallMill, 2.0);
    t.m.index = meshIndexBuild(1, t.m.boxMin, t.m.boxMax);
    ASSERT_NE(t.m.index, nullptr);
    const Vec3 d{0, 0, -1};
    for (const double x : {2.0, 102.0}) {
        const Vec3 p{x, 2, -1};
        double lift = 0;
        Vec3 c;
        EXPECT_EQ(meshDropTool(&t.m, nullptr, 0, &p, &d, 50, &lift, &c), 1) << x;
        EXPECT_NEAR(lift, 3, 1e-9) << x;  // the ball's centre 2 above the plane z = 0, from 1 below it
        EXPECT_EQ(meshDropToolAbove(&t.m, &p, &d, 50, 1), 1) << x;
    }
    meshIndexFree(t.m.index);
    t.m.index = nullptr;
}

// A slope whose box stands high is searched first and lifts the ball 5e-8 less than a plate under its
// axis: the plate's bound, exact there, must stay above the slope's lift for the plate to be reached.
TEST(MeshQuery, AnAxisElementJustAboveTheFirstLiftIsStillReached) {
    const double h0 = 1 - 5e-8 - std::sqrt(2.0);  // the plane z = h0 + x carries the centre at 1 - 5e-8
    testmesh::Model t(
        {{{{-1, -1, 0}, {2, -1, 0}, {-1, 2, 0}}}, {{{-2, -2, h0 - 2}, {3, -2, h0 + 3}, {-2, 3, h0 - 2}}}},
        kBallMill, 1.0);
    t.m.index = meshIndexBuild(2, t.m.boxMin, t.m.boxMax);
    ASSERT_NE(t.m.index, nullptr);
    const Vec3 p{0, 0, -5};
    double lift = 0;
    Vec3 c;
    EXPECT_EQ(meshDropTool(&t.m, nullptr, 0, &p, &kDown, 50, &lift, &c), 1);
    EXPECT_NEAR(lift, 6, 1e-9);  // the centre at 1 on the plate, from 5 below it
    meshIndexFree(t.m.index);
    t.m.index = nullptr;
}

// Whether the largest lift lies above a height, asked of seeded triangle soups (unindexed, indexed,
// indexed turned, and with a second mesh as a part in the chain) for each tool shape: the answer of the
// full sweep, at heights around the lift it finds.
TEST(MeshQuery, DropAboveAnswersWhetherTheLargestLiftExceeds) {
    std::mt19937 gen(4242);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    auto soup = [&](int n) {
        std::vector<Triangle3D> t;
        for (int i = 0; i < n; ++i) {
            const Vec3 c{20 * u(gen), 20 * u(gen), 10 * u(gen)};
            const double s = i % 13 == 0 ? 8.0 : 1.5;
            t.push_back({{c,
                          {c.x + s * u(gen), c.y + s * u(gen), c.z + s * u(gen)},
                          {c.x + s * u(gen), c.y + s * u(gen), c.z + s * u(gen)}}});
        }
        return t;
    };
    const struct {
        uint16_t type;
        double R, r;
    } tools[] = {{kBallMill, 2.5, 0}, {kEndMill, 3, 0}, {kRadiusMill, 4, 1}};
    int above = 0, notAbove = 0;
    for (int kind = 0; kind < 12; ++kind) {
        const auto& tool = tools[kind % 3];
        testmesh::Model t(soup(700), tool.type, tool.R, tool.r);
        testmesh::Model other(soup(300), tool.type, tool.R, tool.r);
        const int32_t n = t.m.triangles->count;
        const int how = kind / 3;  // none, index, turned index, a part
        if (how == 1) t.m.index = meshIndexBuild(n, t.m.boxMin, t.m.boxMax);
        if (how == 2)
            t.m.index = meshIndexBuildTurned(n, t.m.boxMin, t.m.boxMax, t.m.triangles->data[0].p, 7);
        ASSERT_TRUE(how == 0 || how == 3 || t.m.index != nullptr);
        CheckModelPart part{};
        part.kind = kMeshTriangles;
        part.triangles = other.m.triangles;
        part.boxMin = other.m.boxMin, part.boxMax = other.m.boxMax;
        part.tool = *other.m.tool;
        if (how == 3) t.m.parts = &part;
        for (int q = 0; q < 200; ++q) {
            const Vec3 p{22 * u(gen), 22 * u(gen), 12 * u(gen)};
            Vec3 d{u(gen), u(gen), u(gen)};
            if (q % 2 == 0) d = {0, 0, q % 4 == 0 ? -1.0 : 1.0};
            vecNormalize3D(&d, &d);
            const double length = 1 + 20 * (u(gen) + 1);
            double lift = 0;
            Vec3 c;
            // The model's path query takes the parts in when there are parts.
            const int found = chkModelPath(&t.m, nullptr, 0, &p, &d, length, &lift, &c);
            for (const double h :
                 {-1.0, 0.0, 1e-5, 0.5 * lift, lift - 1e-9, lift, lift + 1e-9, 2 * lift + 1}) {
                const int want = found && lift > h ? 1 : 0;
                EXPECT_EQ(meshDropToolAbove(&t.m, &p, &d, length, h), want) << kind << " " << q << " " << h;
                (want ? above : notAbove)++;
            }
        }
        t.m.parts = nullptr;
        meshIndexFree(t.m.index);
        t.m.index = nullptr;
    }
    EXPECT_GT(above, 2000);  // the sweeps do reach the soups
    EXPECT_GT(notAbove, 2000);
}

// A lift exactly at the height asked does not answer it: the search goes on to the plate's larger one,
// which a steep face's looser bound (its box reaching above the plate) put behind it; with or without
// an index.
TEST(MeshQuery, DropAboveGoesOnPastALiftAtTheHeight) {
    const Triangle3D steep{{{-1, -1, 0}, {1, -1, 0}, {0, 1.9, 5}}},
        plate{{{-1, -1, 4}, {1, -1, 4}, {0, 1, 4}}};
    const Vec3 p{0, 0, -5}, d{0, 0, -1};
    testmesh::Model alone({steep}, kBallMill, 2.0), both({steep, plate}, kBallMill, 2.0);
    double face = 0, most = 0;
    Vec3 c;
    ASSERT_EQ(chkModelPath(&alone.m, nullptr, 0, &p, &d, 20, &face, &c), 1);
    ASSERT_EQ(chkModelPath(&both.m, nullptr, 0, &p, &d, 20, &most, &c), 1);
    EXPECT_NEAR(most - face, 0.29, 0.01);  // the ball's centre at 6 on the plate, 5.71 on the face
    for (int indexed = 0; indexed < 2; ++indexed) {
        both.m.index = indexed ? meshIndexBuild(2, both.m.boxMin, both.m.boxMax) : nullptr;
        EXPECT_EQ(meshDropToolAbove(&both.m, &p, &d, 20, face), 1) << indexed;
        EXPECT_EQ(meshDropToolAbove(&both.m, &p, &d, 20, most), 0) << indexed;
        meshIndexFree(both.m.index);
        both.m.index = nullptr;
    }
}

// Travel of the tool's reference from S along d until it first touches the triangle, found without the
// sweep: t(X) = (X - S).d - h(rho) is convex over the triangle (h, the tool's front ahead of its
// reference at radial distance rho, is concave and falls with rho), so nested ternary searches find its
// least value; beyond the tool's radius a steep penalty keeps it convex. inf when the triangle lies
// wholly outside the tool's cylinder.
double firstTouch(uint16_t type, double R, double r, const Vec3& S, const Vec3& d, const Triangle3D& t) {
    const double a = type == kBallMill ? 0.0 : type == kEndMill ? R : R - r;
    const double tube = type == kBallMill ? R : type == kEndMill ? 0.0 : r;
    auto travel = [&](double al, double be, double* rho) {
        Vec3 x;
        for (int k = 0; k < 3; ++k) {
            const double c = (&t.p[0].x)[k] + al * ((&t.p[1].x)[k] - (&t.p[0].x)[k]) +
                             be * ((&t.p[2].x)[k] - (&t.p[0].x)[k]) - (&S.x)[k];
            (&x.x)[k] = c;
        }
        const double u = x.x * d.x + x.y * d.y + x.z * d.z;
        const Vec3 w{x.x - u * d.x, x.y - u * d.y, x.z - u * d.z};
        *rho = std::sqrt(w.x * w.x + w.y * w.y + w.z * w.z);
        const double q = std::min(std::max(*rho - a, 0.0), tube);
        return u - std::sqrt(std::max(0.0, tube * tube - q * q)) + 1e6 * std::max(0.0, *rho - R);
    };
    auto argmin = [](auto f, double lo, double hi) {  // golden-section search
        constexpr double g = 0.6180339887498949;
        double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo), f1 = f(x1), f2 = f(x2);
        for (int k = 0; k < 72; ++k) {  // fine enough for the rim, where h has an infinite slope
            if (f1 < f2) {
                hi = x2, x2 = x1, f2 = f1, x1 = hi - g * (hi - lo), f1 = f(x1);
            } else {
                lo = x1, x1 = x2, f1 = f2, x2 = lo + g * (hi - lo), f2 = f(x2);
            }
        }
        return 0.5 * (lo + hi);
    };
    // A triangle wholly farther from the path's line than the tool's radius is never touched.
    Vec3 mid{0, 0, 0};
    for (const Vec3& q : t.p) mid = {mid.x + q.x / 3, mid.y + q.y / 3, mid.z + q.z / 3};
    double spread = 0;
    for (const Vec3& q : t.p) spread = std::max(spread, dist3D(&q, &mid));
    const Vec3 m{mid.x - S.x, mid.y - S.y, mid.z - S.z};
    const double mu = m.x * d.x + m.y * d.y + m.z * d.z;
    const Vec3 off{m.x - mu * d.x, m.y - mu * d.y, m.z - mu * d.z};
    if (vecLen3D(&off) > R + spread) return std::numeric_limits<double>::infinity();
    double rho = 0;
    auto inner = [&](double al) {
        const double be = argmin([&](double b) { return travel(al, b, &rho); }, 0.0, 1.0 - al);
        return travel(al, be, &rho);
    };
    const double al = argmin(inner, 0.0, 1.0);
    const double be = argmin([&](double b) { return travel(al, b, &rho); }, 0.0, 1.0 - al);
    const double tMin = travel(al, be, &rho);
    return rho > R + 1e-9 ? std::numeric_limits<double>::infinity() : tMin;
}

// Seeded triangle soups around a point, each tool shape moving along a tilted direction: the lift is the
// path length less the least travel to a touch over every triangle (or over the listed ones, or over a
// model holding half of them and a part the rest), found as above; the contact lies on a triangle and on
// the tool's front there. With a tolerance of 0, a first contact exists exactly when some triangle is
// touched at all.
TEST(MeshQuery, SeededLiftsAlongTiltedDirectionsMatchBruteForce) {
    std::mt19937 gen(2024);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    int lifted = 0, missed = 0;
    for (int scene = 0; scene < 30; ++scene) {
        const uint16_t type = scene % 3 == 0 ? kBallMill : scene % 3 == 1 ? kEndMill : kRadiusMill;
        const double R = 1.0 + 0.8 * (u(gen) + 1), r = type == kRadiusMill ? 0.2 + 0.3 * (u(gen) + 1) : 0.0;
        std::vector<Triangle3D> tris;
        for (int i = 0; i < 40; ++i) {
            const Vec3 c{5 * u(gen), 5 * u(gen), 3 * u(gen)};
            Triangle3D t;
            for (Vec3& q : t.p) q = {c.x + 2 * u(gen), c.y + 2 * u(gen), c.z + 2 * u(gen)};
            tris.push_back(t);
        }
        testmesh::Model m(tris, type, R, r);
        const double tilt = 0.6 * (u(gen) + 1) * (scene % 4 == 0 ? 0.0 : 1.0), az = 3.2 * u(gen);
        const Vec3 d{std::sin(tilt) * std::cos(az), std::sin(tilt) * std::sin(az), -std::cos(tilt)};
        const Vec3 p{2 * u(gen), 2 * u(gen), -4.0};
        const double L = 30;
        const Vec3 S{p.x - L * d.x, p.y - L * d.y, p.z - L * d.z};
        std::vector<int32_t> half;
        for (int32_t i = 0; i < m.tris->count; i += 2) half.push_back(i);
        std::vector<double> touch;
        std::vector<Triangle3D> even, odd;
        bool touched = false;
        for (int32_t i = 0; i < m.tris->count; ++i) {
            touch.push_back(firstTouch(type, R, r, S, d, m.tris->data[i]));
            touched = touched || (touch[i] >= 0 && touch[i] <= L);
            (i % 2 ? odd : even).push_back(m.tris->data[i]);
        }
        // The same triangles split between a model and its part (each in its own order of tops).
        testmesh::Model own(even, type, R, r), rest(odd, type, R, r);
        CheckModelPart part{};
        part.kind = kMeshTriangles;
        part.triangles = rest.m.triangles;
        part.boxMin = rest.m.boxMin, part.boxMax = rest.m.boxMax;
        part.tool = *rest.m.tool;
        own.m.parts = &part;
        for (const int how : {0, 1, 2}) {  // every triangle, the listed half, model and part
            const bool all = how != 1;
            double want = -std::numeric_limits<double>::infinity();
            for (int32_t i = 0; i < m.tris->count; ++i)
                if ((all || i % 2 == 0) && touch[i] >= 0 && touch[i] <= L)
                    want = std::max(want, L - touch[i]);
            double lift = -1;
            Vec3 c{};
            const int got = how == 0   ? chkModelPath(&m.m, nullptr, 0, &p, &d, L, &lift, &c)
                            : how == 1 ? chkModelPath(&m.m, half.data(), static_cast<int32_t>(half.size()),
                                                      &p, &d, L, &lift, &c)
                                       : meshDropToolAlt(&own.m, nullptr, 0, &p, &d, L, &lift, &c);
            ASSERT_EQ(got, want >= 1e-5 ? 1 : 0) << scene << " " << how << " " << want;
            if (got != 1) continue;
            ++lifted;
            EXPECT_NEAR(lift, want, 1e-6) << scene << " " << how;
            // The contact is on the tool's front when the reference stands at P lifted back by the lift.
            const Vec3 q{p.x - lift * d.x, p.y - lift * d.y, p.z - lift * d.z};
            const Vec3 w{c.x - q.x, c.y - q.y, c.z - q.z};
            const double ahead = w.x * d.x + w.y * d.y + w.z * d.z;
            const Vec3 side{w.x - ahead * d.x, w.y - ahead * d.y, w.z - ahead * d.z};
            const double rho = vecLen3D(&side);
            EXPECT_LE(rho, R + 1e-6);
            EXPECT_NEAR(ahead, testmesh::front(type, R, r, std::min(rho, R)), 1e-5) << scene;
        }
        own.m.parts = nullptr;  // the part record is this scene's own
        m.m.tolerance = 0;
        Vec3 c{}, first{}, lone{};
        bool sure = true;  // no graze before the first touch
        EXPECT_EQ(meshContactAlongDir(&m.m, nullptr, 0, &p, &d, L, &first), touched ? 1 : 0) << scene;
        for (int32_t i = 0, seen = 0; i < m.tris->count; ++i) {
            if (std::fabs(touch[i] - L) < 1e-6) {  // a graze at the very end: either answer
                sure = sure && seen;
                continue;
            }
            const bool hit = touch[i] <= L;
            EXPECT_EQ(meshContactAlongDir(&m.m, &i, 1, &p, &d, L, &c), hit ? 1 : 0) << scene << " " << i;
            missed += !hit;
            if (hit && !seen++) lone = c;  // the whole mesh's answer is that of its first touched element
        }
        EXPECT_TRUE(!touched || !sure || (first.x == lone.x && first.y == lone.y && first.z == lone.z))
            << scene;
    }
    EXPECT_GT(lifted, 75);
    EXPECT_GT(missed, 300);
}

// A sweep that rises by less than 1e-5 per unit is no downward move: the early stop by box tops does not
// cut it short, and a wall whose top lies just below the end position's reach is met on the way. Of a
// model and a part that give the same lift, the model's contact stands.
TEST(MeshQuery, NearlyLevelSweepsAndTiesKeepTheFullAnswer) {
    const Triangle3D wall{{{-50, -5, -3}, {-50, 5, -3}, {-50, 0, -1.0002}}};
    testmesh::Model t({wall}, kBallMill, 1.0);
    Vec3 d{1, 0, 0.9e-5};
    vecNormalize3D(&d, &d);
    const Vec3 p{0, 0, 0}, s{-100 * d.x, 0, -100 * d.z};
    double lift = 0;
    Vec3 c;
    ASSERT_EQ(chkModelPath(&t.m, nullptr, 0, &p, &d, 100, &lift, &c), 1);
    EXPECT_NEAR(lift, 100 - firstTouch(kBallMill, 1.0, 0, s, d, wall), 1e-6);

    auto spike = [](double x) { return Triangle3D{{{x, 0, 0}, {3 * x, 1, -1}, {3 * x, -1, -1}}}; };
    testmesh::Model m({spike(0.6)}, kBallMill, 1.0), other({spike(-0.6)}, kBallMill, 1.0);
    CheckModelPart part{};
    part.kind = kMeshTriangles;
    part.triangles = other.m.triangles;
    part.boxMin = other.m.boxMin, part.boxMax = other.m.boxMax;
    part.tool = *other.m.tool;
    m.m.parts = &part;
    const Vec3 q{0, 0, -5};
    ASSERT_EQ(meshDropToolAlt(&m.m, nullptr, 0, &q, &kDown, 20, &lift, &c), 1);
    EXPECT_NEAR(lift, 5.8, 1e-12);
    EXPECT_EQ(c.x, 0.6);
    // Where only the part reaches, its own lift.
    const Vec3 left{-1.2, 0, -5};
    double alone = 0;
    EXPECT_EQ(meshDropTool(&other.m, nullptr, 0, &left, &kDown, 20, &alone, &c), 1);
    EXPECT_EQ(meshDropTool(&m.m, nullptr, 0, &left, &kDown, 20, &lift, &c), 0);
    EXPECT_EQ(meshDropToolAlt(&m.m, nullptr, 0, &left, &kDown, 20, &lift, &c), 1);
    EXPECT_EQ(lift, alone);
    m.m.parts = nullptr;  // the part record is this test's own
}

// A ball or a radius mill started 1e6 back along y or z meets a sliver at its rim (1e-3 ahead there)
// and one on its axis that lifts it 1e-4 less: the far start must not push the rim's bound below the
// axis sliver's lift.
TEST(MeshQuery, LongMotionKeepsTheRimContactOfTheTool) {
    for (const double r : {0.0, 0.25})
        for (const int axis : {1, 2})
            for (const double dir : {1.0, -1.0}) {
                const uint16_t type = r > 0 ? kRadiusMill : kBallMill;
                const double tube = r > 0 ? r : 1.0, rho = 1 - tube + std::sqrt(tube * tube - 1e-6);
                auto at = [axis](double x, double w, double along) {  // w: the third axis
                    return axis == 1 ? Vec3{x, along, w} : Vec3{x, w, along};
                };
                auto sliver = [&](double x, double along) {
                    return Triangle3D{
                        {at(x, 0, along), at(x + 0.01, 5e-3, along), at(x + 0.01, -5e-3, along)}};
                };
                const double axisAlong = testmesh::front(type, 1, r, 0) - (0.5 + 9e-4);
                testmesh::Model t({sliver(rho, -0.5 * dir), sliver(0, axisAlong * dir)}, type, 1.0, r);
                const Vec3 p{0, 0, 0}, d = at(0, 0, dir);
                t.m.index = meshIndexBuild(2, t.m.boxMin, t.m.boxMax);
                double lift = 0;
                Vec3 c;
                ASSERT_EQ(chkModelPath(&t.m, nullptr, 0, &p, &d, 1e6, &lift, &c), 1);
                EXPECT_NEAR(lift, 0.5 + testmesh::front(type, 1, r, rho), 1e-8) << r << axis << dir;
                EXPECT_NEAR(c.x, rho, 1e-9);
                meshIndexFree(t.m.index);
                t.m.index = nullptr;
            }
}

// A triangle-list path lifted over two planes that meet at x = 10 with a bend of 0.03 rad, far
// flatter than the turn limits: it is refined there only where it climbs (on both planes) steeper than
// the tool's limit
// (5 for a ball and a radius mill at least as wide as the step, 3 for a narrower radius mill, 1.5 for a
// flat end).
TEST(MeshQuery, SteepBendsAreRefinedPastTheToolsSlopeLimit) {
    const struct {
        uint16_t type;
        double R, r, slope;
        bool refined;
    } cases[] = {
        {kBallMill, 0.5, 0, 4.0, false},     {kBallMill, 0.5, 0, 5.5, true},
        {kBallMill, 2, 0, 4.0, false},       {kEndMill, 0.5, 0, 1.3, false},
        {kEndMill, 0.5, 0, 1.7, true},       {kEndMill, 2, 0, 1.7, true},
        {kRadiusMill, 0.8, 0.2, 2.6, false}, {kRadiusMill, 0.8, 0.2, 3.3, true},
        {kRadiusMill, 2, 0.5, 4.0, false},   {kRadiusMill, 2, 0.5, 5.5, true},
    };
    for (const auto& c : cases) {
        const double s2 = std::tan(std::atan(c.slope) + 0.03), top = 10 * c.slope;
        testmesh::Model t({{{{-5, -20, -5 * c.slope}, {10, -20, top}, {10, 20, top}}},
                           {{{-5, -20, -5 * c.slope}, {10, 20, top}, {-5, 20, -5 * c.slope}}},
                           {{{10, -20, top}, {30, -20, top + 20 * s2}, {30, 20, top + 20 * s2}}},
                           {{{10, -20, top}, {30, 20, top + 20 * s2}, {10, 20, top}}}},
                          c.type, c.R, c.r);
        Plist* l = line(21, 0);
        ASSERT_NE(l, nullptr);
        for (int i = 0; i < 21; ++i) l->points[i].z = (i <= 10 ? i * c.slope : top + (i - 10) * s2) - 0.5;
        CheckParams prm;
        initChkParams(&prm);
        EXPECT_EQ(chkModelList(&t.m, l, 10, nullptr, 0, &prm), 1);
        EXPECT_EQ(l->count > 21, c.refined) << c.type << " " << c.R << " " << c.slope << ": " << l->count;
        for (int32_t i = 0; i < l->count; ++i) {  // inserted points lie near the bend only
            const double par = l->parameters[i];
            EXPECT_TRUE(par == std::floor(par) || std::fabs(par - 10) <= 3.0) << i;
        }
        plistFree(l);
    }
}
