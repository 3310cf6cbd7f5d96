#include "plunge/tiltgeom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "../geometry/msg_capture.h"
#include "collision/meshset.h"
#include "geometry/frames.h"
#include "geometry/plist.h"
#include "kernel/base/rng.h"
#include "plunge/angleprof.h"
#include "plunge/cycparams.h"
#include "plunge/tiltseq.h"

namespace {

Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
double len(const Vec3& a) {
    return std::sqrt(dot(a, a));
}
Vec3 unitVec(const Vec3& a) {
    const double l = len(a);
    return {a.x / l, a.y / l, a.z / l};
}
Vec3 randomVec() {
    return {2 * rngUniform() - 1, 2 * rngUniform() - 1, 2 * rngUniform() - 1};
}

}  // namespace

// A tilt step that would reach the limit (less a degree) stops there; a smaller one is taken whole.
TEST(TiltGeom, StepCappedByTheLimitLessADegree) {
    const struct {
        double tilt, step, limit, expected;
    } cases[] = {
        {0.3, 0.5, 1.0, 0.5},
        {0.3, 0.7, 1.0, 1.0 - 0.3 - kTiltLimitMargin},
        {0.3, 0.69, 1.0, 1.0 - 0.3 - kTiltLimitMargin},
        {0.3, 0.66, 1.0, 0.66},
        {0.0, 2.0, 1.5, 1.5 - kTiltLimitMargin},
        {1.2, -0.5, 1.0, -0.5},
        {1.2, 0.0, 1.0, 1.0 - 1.2 - kTiltLimitMargin},
    };
    for (const auto& c : cases) {
        const Vec3 axis{std::sin(c.tilt), 0, std::cos(c.tilt)};
        EXPECT_NEAR(limitTiltStep(c.step, &axis, c.limit), c.expected, 1e-12) << c.tilt << " " << c.step;
    }
}

// The perpendicular is the tangent's horizontal normal turned by -*AVOID_ANGLE about the radial: unit,
// square to the radial, at the avoid angle from the horizontal normal; the result is unit(vector x it).
// The turn of a vector about unit(other x perpendicular) keeps its length and turns it by the angle.
TEST(TiltGeom, AxesTurnAboutTheTangentsPerpendicular) {
    cycleParamsResetState();
    rngResetState();
    for (int trial = 0; trial < 40; ++trial) {
        const double avoid = trial % 3 == 0 ? 0.0 : 80 * rngUniform() - 40;
        cycleParams()->avoidAngle = avoid;  // degrees
        const Vec3 tangent = randomVec(), vector = randomVec();
        const double L = std::hypot(tangent.x, tangent.y);
        const Vec3 radial{tangent.x / L, tangent.y / L, 0}, normal{-tangent.y / L, tangent.x / L, 0};
        Vec3 perp, result;
        ASSERT_EQ(tangentRotateAxis(&tangent, &vector, &perp, &result), 1);
        EXPECT_NEAR(len(perp), 1, 1e-12);
        EXPECT_NEAR(dot(perp, radial), 0, 1e-12);
        EXPECT_NEAR(dot(perp, normal), std::cos(avoid * (M_PI / 180)), 1e-12) << avoid;
        EXPECT_NEAR(std::fabs(perp.z), std::fabs(std::sin(avoid * (M_PI / 180))), 1e-12) << avoid;
        const Vec3 expected = unitVec(cross(vector, perp));
        EXPECT_NEAR(result.x, expected.x, 1e-12);
        EXPECT_NEAR(result.y, expected.y, 1e-12);
        EXPECT_NEAR(result.z, expected.z, 1e-12);
        // Turned about the result's own axis (other = vector): square to it, so turned by the angle.
        const Vec3 w = cross(perp, result);  // square to the turning axis unit(vector x perp) = result
        Vec3 turned = w;
        const double angle = 2 * rngUniform() - 1;
        ASSERT_EQ(tangentRotateAxisBy(&tangent, &turned, &vector, angle), 1);
        EXPECT_NEAR(len(turned), len(w), 1e-12);
        EXPECT_NEAR(dot(turned, result), 0, 1e-12);
        EXPECT_NEAR(std::acos(std::clamp(dot(turned, w) / dot(w, w), -1.0, 1.0)), std::fabs(angle), 1e-9);
    }
    // A tangent along the axis (plan length below 1e-5) or a vector along the perpendicular has no axis.
    cycleParams()->avoidAngle = 0;
    const Vec3 up{4e-6, 0, 1}, leaning{2e-5, 0, 1}, side{0, 1, 0}, down{0, 0, 1};
    Vec3 perp{1, 0, 0}, result, v = down;  // what the perpendicular held before is none
    EXPECT_EQ(tangentRotateAxis(&up, &down, &perp, &result), -1);
    EXPECT_EQ(tangentRotateAxisBy(&up, &v, &down, 0.5), -1);
    EXPECT_EQ(tangentRotateAxis(&leaning, &down, &perp, &result), 1);
    EXPECT_EQ(tangentRotateAxis(&leaning, &side, &perp, &result), -1);
    EXPECT_EQ(tangentRotateAxisBy(&leaning, &v, &side, 0.5), -1);
    EXPECT_EQ(v.z, 1.0);
    cycleParamsResetState();
}

// With *USE_ORIG an axis leaning further than the limit from frame C's z axis is turned back onto the
// limit's cone in its own plane; within the limit (1e-5 to spare) or without *USE_ORIG it stays.
TEST(TiltGeom, FrameCConeHoldsTheAxisAtTheLimit) {
    cycleParamsResetState();
    const struct {
        int useOrig;
        double lean, limit;
        int turned;
    } cases[] = {{1, 0.8, 0.5, 1}, {1, 0.5 + 2e-5, 0.5, 1}, {1, 0.5 + 5e-6, 0.5, 0},
                 {1, 0.3, 0.5, 0}, {0, 0.8, 0.5, 0},        {1, 2.5, 1.0, 1}};
    for (const auto& c : cases)
        for (const double azimuth : {0.0, 2.0}) {
            cycleParams()->useOrig = int16_t(c.useOrig);
            Vec3 a{std::sin(c.lean) * std::cos(azimuth), std::sin(c.lean) * std::sin(azimuth),
                   std::cos(c.lean)};
            vecFrameCToFrameA(&a);
            Vec3 axis = a;
            EXPECT_EQ(frameCRotateAxis(&axis, c.limit), c.turned) << c.lean;
            vecFrameAToFrameC(&axis);
            const double lean = c.turned ? c.limit : c.lean;
            EXPECT_NEAR(axis.z, std::cos(lean), 1e-9) << c.lean;
            EXPECT_NEAR(axis.x, std::sin(lean) * std::cos(azimuth), 1e-9) << c.lean;
            EXPECT_NEAR(axis.y, std::sin(lean) * std::sin(azimuth), 1e-9) << c.lean;
        }
    cycleParamsResetState();
}

// The leading edge's stations take the smaller edge angle at the nearer of the two positions when it
// lies less than a right angle below the lead angle (down) or the up limit (up), and only stations that
// hold the general angle at the main blade's leading edge.
TEST(TiltGeom, LeadStationsTakeTheSmallerEdgeAngle) {
    const double lead = 10 * M_PI / 180, up = 0.2, e = 1e-9;
    const struct {
        double pos[2], ang[2];
        bool down, upper;
    } cases[] = {
        {{2.0, 1.5}, {0.1, 0.15}, true, true},
        {{1.5, 2.0}, {0.15, 0.1}, true, true},
        {{1.5, 2.0}, {0.19, 0.3}, false, true},
        {{1.5, 2.0}, {lead - e, 1}, true, true},
        {{4, 1}, {lead + e, 1}, false, true},
        {{4, 1}, {up + e, 1}, false, false},
        {{4, 1}, {lead - M_PI / 2 + e, 1}, true, false},
        {{4, 1}, {lead - M_PI / 2 - e, 1}, false, false},
        {{4, 1}, {up - M_PI / 2 + e, 1}, true, true},
        {{4, 1}, {up - M_PI / 2 - e, 1}, true, false},
    };
    cycleParamsResetState();
    cycleParams()->leadAngle = 10;
    for (const auto& c : cases)
        for (const int edge : {int(kAngleEdgeLeadMain), int(kAngleEdgeLeadMain) + 1}) {
            AngleProfile* prof = angleProfCreate();
            ASSERT_NE(prof, nullptr);
            for (AngleTable* t : {&prof->table1, &prof->table2}) {
                t->count = 1;
                t->stations[0] = {3.0, 0.0, edge, 1};
            }
            correctLeadStations(prof, c.pos, c.ang, up);
            correctUpDownAngles(prof, nullptr, nullptr, nullptr, nullptr, nullptr,
                                up);  // no lists: no change
            const bool main = edge == kAngleEdgeLeadMain;
            for (const auto& [t, hit] :
                 {std::pair{&prof->table1, c.down && main}, std::pair{&prof->table2, c.upper && main}}) {
                const AngleStation& s = t->stations[0];
                EXPECT_EQ(s.position, hit ? std::min(c.pos[0], c.pos[1]) : 3.0) << c.ang[0];
                EXPECT_EQ(s.angle, hit ? std::min(c.ang[0], c.ang[1]) : 0.0) << c.ang[0];
                EXPECT_EQ(s.general, hit ? 0 : 1) << c.ang[0];
            }
            angleProfFree(prof);
        }
    correctLeadStations(nullptr, cases[0].pos, cases[0].ang, up);
    cycleParamsResetState();
}

// The collision named is that of the narrowest window among the points that take part: a skipped one,
// however narrow and hit, names none. Checked against meshes that hold nothing, the freedom left is
// reported: the widest window of those points, in degrees.
TEST(TiltGeom, SplitterEdgeCheckPassesOverSkippedPoints) {
    MeshSet* empty = meshSetCreate(1, 0);
    ASSERT_NE(empty, nullptr);
    for (const int skip : {0, 1, 2}) {
        MessageCapture capture(9);
        TiltSeq* seq = newTiltSeq(2, nullptr);
        Plist* path = plistCreate(2, 0);
        ASSERT_TRUE(seq && path);
        for (int i = 0; i < 2; ++i) {
            seq->lower[i] = -0.1 - 0.4 * i;
            seq->upper[i] = 0.1 + 0.4 * i;
            seq->hitLower[i] = i == 0 ? 0 : -1;  // only the narrow one was hit
            seq->hitUpper[i] = -1;
            seq->skip[i] = i == 0 ? skip % 2 : 0;
            const Vec3 p{10.0 + i, 0, 0};
            plistAppend(path, i, &p, 0, nullptr, 0);
        }
        EXPECT_EQ(splitterEdgeCheck(seq, skip == 2 ? empty : nullptr, path), 1);
        double angle = 7;  // without a level there is no meridional direction to measure from
        EXPECT_EQ(edgeAngleAtPathStart(path, nullptr, nullptr, nullptr, nullptr, &angle) * angle, -7.0);
        EXPECT_EQ(capture.countOf("6211,0"), 1 - skip % 2) << skip;
        const auto& got = capture.messages();
        const auto freedom =
            std::find_if(got.begin(), got.end(), [](const auto& m) { return m.rfind("6224,", 0) == 0; });
        ASSERT_EQ(freedom != got.end(), skip == 2) << skip;
        if (skip == 2) {
            EXPECT_NEAR(std::stod(freedom->substr(5)), 180 / M_PI, 1e-5);  // the window of width 1
        }
        freeTiltSeq(seq);
        plistFree(path);
    }
    meshSetFree(empty);
}
