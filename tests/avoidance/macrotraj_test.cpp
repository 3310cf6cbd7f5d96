#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "avoidance/macro.h"
#include "geometry/msg_capture.h"
#include "kernel/base/rng.h"
#include "near.h"

namespace {

constexpr double kPi = 3.14159265358979323846, kDeg = kPi / 180;

double xy(const Vec3& a, const Vec3& b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

Plist* makeGuide(const std::vector<Vec3>& pts, const std::vector<uint8_t>& kinds = {}, bool vectors = false) {
    Plist* l = plistCreate(static_cast<int32_t>(pts.size()) + 4, vectors);
    double s = 0;
    const Vec3 up{0, 0, 1};
    for (size_t i = 0; l && i < pts.size(); ++i) {
        s += i ? xy(pts[i - 1], pts[i]) + 1e-3 : 0;
        plistAppend(l, s, &pts[i], static_cast<uint16_t>((i < kinds.size() ? kinds[i] : 0) << 8), &up, 0);
    }
    return l;
}

// Distance in the plan from p to the polyline.
double offPolyline(const Vec3& p, const Plist* l) {
    double best = 1e300;
    for (int32_t i = 1; i < l->count; ++i) {
        const Vec3 &a = l->points[i - 1], &b = l->points[i];
        const double dx = b.x - a.x, dy = b.y - a.y, ll = dx * dx + dy * dy;
        const double t = ll > 0 ? std::fmin(1, std::fmax(0, ((p.x - a.x) * dx + (p.y - a.y) * dy) / ll)) : 0;
        best = std::fmin(best, std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy));
    }
    return best;
}

// Every step of a ramp climbs by tan(ramp) times its length in the plan, on the guide.
void expectRamp(const MacroPath* m, const Plist* g, double ramp, double height) {
    EXPECT_NEAR(std::hypot(m->direction.x, m->direction.y, m->direction.z), 1.0, 1e-12);  // +z without axes
    EXPECT_NEAR(m->points[m->count - 1].z - m->points[0].z, height, 1e-6);
    EXPECT_EQ(m->capacity, m->count + 10);  // every ramp is made with ten spare places
    for (int32_t i = 1; i < m->count; ++i) {
        const Vec3 &a = m->points[i - 1], &b = m->points[i];
        EXPECT_NEAR(b.z - a.z, std::tan(ramp) * xy(a, b), 1e-6) << i;
        EXPECT_LT(offPolyline(b, g), 1e-9) << i;
    }
}

TEST(MacroTraj, HelixRisesByItsChordSlope) {
    macroResetState();
    const Vec3 p0{1, 2, 3};
    EXPECT_EQ(macroGenType6(&p0, 5, 10 * kDeg, 0, 1, 5), nullptr);
    MacroPath* h = macroGenType6(&p0, 5, 10 * kDeg, 45 * kDeg, 1, 5);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->count, 9);
    EXPECT_EQ(h->axes, nullptr);                     // a helix keeps the tool's axis: it has none of its own
    const double rise = 2 * 5 * std::sin(5 * kDeg);  // tan 45 = 1
    EXPECT_NEAR(rise, 0.8716, 1e-4);
    for (int32_t i = 1; i < 8; ++i) {
        EXPECT_NEAR(h->points[i].z, std::fmin(3 + (i - 1) * rise, 8), 1e-12) << i;
        EXPECT_NEAR(xy(h->points[i], p0), 5.0, 1e-12) << i;
    }
    EXPECT_VEC_NEAR(h->points[8], (Vec3{1, 2, 8}), 1e-12);
    EXPECT_GT(h->points[2].y, 2.0);    // turning sense 1 turns counter-clockwise
    for (int32_t i = 1; i < 8; ++i) {  // from +x about p0 by one step per point
        const double a = (i - 1) * 10 * kDeg;
        EXPECT_NEAR(h->points[i].x, 1 + 5 * std::cos(a), 1e-12) << i;
        EXPECT_NEAR(h->points[i].y, 2 + 5 * std::sin(a), 1e-12) << i;
    }
    // The helix as an arc: from its last point on the circle back to its first, about p0.
    EXPECT_EQ(h->macroType, 6);
    EXPECT_EQ(h->arcFlag, 2);
    EXPECT_EQ(h->arcSide, -1);
    EXPECT_EQ(h->arcRadius, 5.0);
    EXPECT_EQ(h->rampAngle, 45 * kDeg);
    EXPECT_VEC_NEAR(h->arcStart, h->points[7], 0.0);
    EXPECT_VEC_NEAR(h->arcEnd, (Vec3{6, 2, 3}), 0.0);
    EXPECT_VEC_NEAR(h->arcCentre, p0, 0.0);
    macroPathFree(h);
    h = macroGenType6(&p0, 5, 10 * kDeg, 45 * kDeg, -1, 5);
    ASSERT_NE(h, nullptr);
    EXPECT_LT(h->points[2].y, 2.0);
    EXPECT_EQ(h->arcSide, 1);
    macroPathFree(h);
    // Too flat for the slots: refused through the message sink, nothing printed.
    MessageCapture cap(9);
    testing::internal::CaptureStdout();
    EXPECT_EQ(macroGenType6(&p0, 5, 10 * kDeg, 1e-4, 1, 5), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(cap.countOf("9999,Zu viele Punkte"), 1);
    // 10000 places hold the start, the foot on the circle, the steps and the return to the centre:
    // 9997 steps fit exactly, one more is refused with the same message.
    for (const int32_t steps : {9997, 9998}) {
        h = macroGenType6(&p0, 5, 10 * kDeg, 45 * kDeg, 1, (steps - 0.5) * rise);
        EXPECT_EQ(h ? h->count : 0, steps == 9997 ? 10000 : 0) << steps;
        EXPECT_EQ(cap.countOf("9999,Zu viele Punkte"), steps == 9997 ? 1 : 2) << steps;
        macroPathFree(h);
    }
}

TEST(MacroTraj, RampAlongThePathKeepsItsSlope) {
    macroResetState();
    rngSeed(40);
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<Vec3> pts;
        Vec3 p{0, 0, rngUniform()};
        for (int i = 0, n = 2 + rngBelow(6); i < n; ++i) {
            pts.push_back(p);
            p = {p.x + 0.5 + 3 * rngUniform(), p.y + 2 * rngUniform() - 1, p.z - 0.2 * rngUniform()};
        }
        Plist* g = makeGuide(pts);
        ASSERT_NE(g, nullptr);
        const double ramp = (10 + rngBelow(60)) * kDeg, height = 1 + 8 * rngUniform();
        macroSetRampPieceLength(trial % 2 ? 0.0 : 0.3 + rngUniform());
        MacroPath* m = macroGenRamp(g, 0, ramp, height, 0);
        ASSERT_NE(m, nullptr) << trial;
        EXPECT_LT(xy(m->points[0], pts[0]), 1e-9);  // both variants end (or start) on the start point
        expectRamp(m, g, ramp, height);
        macroPathFree(m);
        plistFree(g);
    }
    macroResetState();
}

TEST(MacroTraj, RampCases) {
    macroResetState();
    Plist* g = makeGuide({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {0, 0, 10}, true);
    ASSERT_NE(g, nullptr);
    g->vectors[0] = {0, 0.6, 0.8};
    MacroPath* m = nullptr;
    for (const int along : {0, 1}) {  // straight down, or along the start's axis
        m = macroGenRamp(g, 0, kPi / 2, 4, along);
        ASSERT_TRUE(m && m->count == 2);
        EXPECT_EQ(m->capacity, 12);  // ten spare places, as every ramp
        EXPECT_EQ(m->macroType, along ? 28 : 8);
        EXPECT_VEC_NEAR(m->points[1], (along ? Vec3{0, 2.4, 3.2} : Vec3{0, 0, 4}), 1e-12);
        macroPathFree(m);
    }
    EXPECT_EQ(macroGenRamp(g, 1, 45 * kDeg, 4, 0), nullptr);  // the run ends before the kind-10 point
    Plist* linked = makeGuide({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {0, 2, 0});  // a link right after the start
    Plist* stub = makeGuide({{0, 0, 0}, {0.5e-5, 0, 0}});  // a way shorter than the tolerance
    ASSERT_TRUE(linked && stub);
    Plist* later = makeGuide({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, {0, 0, 2, 0});
    ASSERT_NE(later, nullptr);
    for (double stretch : {0.0, 1.5}) {  // a link one step on: back and forth short of it
        macroSetRampPieceLength(stretch);
        m = macroGenRamp(later, 0, 45 * kDeg, 4, 0);
        ASSERT_NE(m, nullptr);
        for (int32_t i = 0; i < m->count; ++i) EXPECT_LE(m->points[i].x, 1.0) << i;
        macroPathFree(m);
    }
    plistFree(later);
    for (double stretch : {0.0, 0.5}) {
        macroSetRampPieceLength(stretch);
        EXPECT_EQ(macroGenRamp(linked, 0, 45 * kDeg, 4, 0), nullptr) << stretch;
        EXPECT_EQ(macroGenRamp(stub, 0, 45 * kDeg, 1e-4, 0), nullptr) << stretch;
    }
    macroSetRampPieceLength(0.0);
    plistFree(linked), plistFree(stub);
    // A ramp longer than twice its way turns at both ends, stepping from one guide point to the next; one
    // turning after 1.5 turns at the first guide point past that length, (1, 1), and never reaches (2, 1).
    Plist* ell = makeGuide({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 0}});
    ASSERT_NE(ell, nullptr);
    for (double stretch : {0.0, 1.5}) {
        macroSetRampPieceLength(stretch);
        m = macroGenRamp(ell, 0, 45 * kDeg, stretch > 0 ? 8 : 16, 0);  // 8 long either way, there and back
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->count, stretch > 0 ? 9 : 17) << stretch;
        expectRamp(m, ell, 45 * kDeg, stretch > 0 ? 8 : 16);
        // Out along the guide's first `run` points and to and fro between their ends, then back the same way.
        const int32_t run = stretch > 0 ? 3 : 4;
        for (int32_t i = 0; i < m->count; ++i) {
            const int32_t k = std::min(i, m->count - 1 - i) % (2 * run - 2);
            EXPECT_LT(xy(m->points[i], ell->points[k < run ? k : 2 * run - 2 - k]), 1e-12) << i;
        }
        macroPathFree(m);
    }
    macroSetRampPieceLength(0.0);
    plistFree(ell);
    EXPECT_EQ(macroGenRamp(g, -1, 45 * kDeg, 4, 0), nullptr);
    EXPECT_EQ(macroGenRamp(g, g->count, 45 * kDeg, 4, 0), nullptr);
    Plist* full = plistCreate(2, 0);  // no room past its last point to read a kind from
    ASSERT_NE(full, nullptr);
    for (const Vec3& q : {Vec3{0, 0, 0}, Vec3{1, 0, 0}}) plistAppend(full, q.x, &q, 0, nullptr, 0);
    EXPECT_EQ(macroGenRamp(full, 2, 45 * kDeg, 4, 0), nullptr);
    EXPECT_EQ(macroGenRamp(full, 0, 45 * kDeg, 4, 1), nullptr);  // along the axes needs axes
    plistFree(full);
    // Heights count from 1e-5 on, for the ramps and the helix alike.
    const Vec3 o{0, 0, 0};
    for (double h : {1e-5, 0.99e-5}) {
        MacroPath* r = macroGenRamp(g, 0, 10 * kDeg, h, 0);
        MacroPath* helix = macroGenType6(&o, 2, 10 * kDeg, 45 * kDeg, 1, h);
        EXPECT_EQ(r != nullptr, h == 1e-5);
        ASSERT_EQ(helix != nullptr, h == 1e-5);
        EXPECT_EQ(helix ? helix->count : 3, 3);  // out to the circle and back: no step is needed
        macroPathFree(r), macroPathFree(helix);
    }
    for (double stretch : {0.0, 0.5}) {  // a half turn has no slope, nor has one past it by a slope of 5e-6
        macroSetRampPieceLength(stretch);
        for (double a : {kPi, kPi + 5e-6}) EXPECT_EQ(macroGenRamp(g, 0, a, 1e-4, 0), nullptr) << stretch;
    }
    macroSetRampPieceLength(0.0);
    m = macroGenRamp(g, 0, 45 * kDeg, 4, 0);  // L = 2 on a run 1 long: back and forth
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->macroType, 8);
    expectRamp(m, g, 45 * kDeg, 4);
    for (int32_t i = 0; i < m->count; ++i) EXPECT_LE(m->points[i].x, 1.0 + 1e-12);
    ASSERT_EQ(m->count, 5);  // 4 long: twice there and back, turning at either end of the run
    for (int32_t i = 1; i < m->count; ++i) EXPECT_NEAR(xy(m->points[i - 1], m->points[i]), 1.0, 1e-12) << i;
    macroPathFree(m);
    for (const int32_t n : {3, 2}) {  // an open guide, without axes: the ramp of type 8 from its start
        g->count = n;                 // two points are a guide too
        m = macroGenType13(g, 45 * kDeg, 4);
        ASSERT_NE(m, nullptr) << n;
        EXPECT_EQ(m->macroType, 8);
        expectRamp(m, g, 45 * kDeg, 4);
        macroPathFree(m);
    }
    plistFree(g);
    const Vec3 tilt{0.6 * std::sin(0.3), 0.8 * std::sin(0.3), std::cos(0.3)};
    // L = 1: out to the first point past it (or short of it by less than 1e-5) and back without a cut;
    // each point lifted along its axis by height - length walked, at least 0, the start (reached last,
    // 2 L less 0.5e-5 walked) not at all.
    for (const double x : {1 - 0.5e-5, 2 - 0.5e-5, 2.0}) {
        g = makeGuide({{0, 0, 0}, {x, 0, 0}, {4, 0, 0}}, {}, true);  // along the tool axes, tilted to +x+y
        ASSERT_NE(g, nullptr);
        for (int32_t i = 0; i < g->count; ++i) g->vectors[i] = tilt;
        m = macroGenRamp(g, 0, 45 * kDeg, 2, 1);
        ASSERT_TRUE(m && m->axes);
        EXPECT_EQ(m->macroType, 28);
        const double h = std::fmax(0.0, 2 - x);
        const std::vector<Vec3> want = {
            {0, 0, 0}, {x + h * tilt.x, h * tilt.y, h * tilt.z}, {2 * tilt.x, 2 * tilt.y, 2 * tilt.z}};
        ASSERT_EQ(m->count, 3);
        for (int32_t i = 0; i < 3; ++i) EXPECT_VEC_NEAR(m->points[i], want[i], 1e-12);
        for (int32_t i = 0; i < 3; ++i) EXPECT_VEC_NEAR(m->axes[i], tilt, 0);
        macroPathFree(m);
        // In pieces: each point lifted along its axis by the length walked, L = 2; the ramp ends on a guide
        // point reached within 1e-5 of L, else on the guide cut at L.
        macroSetRampPieceLength(10.0);
        m = macroGenRamp(g, 0, 45 * kDeg, 2, 1);
        const bool onPoint = x >= 2 - 1e-5;
        ASSERT_TRUE(m && m->count == (onPoint ? 2 : 3));
        for (int32_t i = 0; i < m->count; ++i) {
            const double s = m->points[i].z / tilt.z;
            EXPECT_VEC_NEAR(m->points[i], (Vec3{s + s * tilt.x, s * tilt.y, s * tilt.z}), 1e-12);
        }
        EXPECT_NEAR(m->points[m->count - 1].z, (onPoint ? x : 2) * tilt.z, 1e-12);
        macroPathFree(m);
        macroSetRampPieceLength(0.0);
        if (x < 2) plistFree(g);
    }
    m = macroGenRamp(g, 0, kPi / 2, 4, 1);  // straight down the axis, which both points keep
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->count, 2);
    EXPECT_VEC_NEAR(m->points[1], (Vec3{4 * tilt.x, 4 * tilt.y, 4 * tilt.z}), 1e-12);
    EXPECT_VEC_NEAR(m->axes[0], tilt, 0);
    EXPECT_VEC_NEAR(m->axes[1], tilt, 0);
    macroPathFree(m);
    plistFree(g);
}

// Each allocation of a ramp turning after a set length failed in turn: no path, or the whole one, never a
// half-built one.
TEST(MacroTraj, RampTurningAfterASetLengthShortOfMemoryGivesNoPathOrTheWholeOne) {
    macroResetState();
    macroSetRampPieceLength(0.5);
    Plist* g = makeGuide({{0, 0, 0}, {1, 0, 0}, {2, 0.5, 0}, {3, 0, 0}}, {}, true);
    ASSERT_NE(g, nullptr);
    for (int32_t axes : {0, 1}) {
        MacroPath* ref = macroGenRamp(g, 0, 30 * kDeg, 2, axes);
        ASSERT_NE(ref, nullptr);
        for (long n = 1; n < 100; ++n) {
            allocfail::arm(n);
            MacroPath* m = macroGenRamp(g, 0, 30 * kDeg, 2, axes);
            const bool fired = allocfail::fired();
            allocfail::disarm();
            EXPECT_TRUE(m || fired) << n;
            if (m) {
                EXPECT_EQ(m->axes != nullptr, axes == 1);
                EXPECT_EQ(m->count, ref->count) << n;
                for (int32_t i = 0; i < std::min(m->count, ref->count); ++i)
                    EXPECT_VEC_NEAR(m->points[i], ref->points[i], 0);
            }
            macroPathFree(m);
            if (!fired) break;
        }
        macroPathFree(ref);
    }
    plistFree(g);
    macroResetState();
}

// A point marked for removal is no part of the way: each ramp variant runs along the guide without it,
// the same as on a guide that never held it.
TEST(MacroTraj, RampsStepOverMarkedPoints) {
    macroResetState();
    const std::vector<Vec3> kept = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}};
    std::vector<Vec3> withMarked = kept;
    withMarked.insert(withMarked.begin() + 2, Vec3{1.5, 3, 0});
    Plist* g = makeGuide(withMarked, {0, 0, kPointMarked, 0, 0, 0}, true);
    Plist* plain = makeGuide(kept, {}, true);
    ASSERT_TRUE(g && plain);
    for (double stretch : {0.0, 2.5})
        for (int32_t axes : {0, 1}) {
            macroSetRampPieceLength(stretch);
            MacroPath* m = macroGenRamp(g, 0, 45 * kDeg, 3, axes);
            MacroPath* want = macroGenRamp(plain, 0, 45 * kDeg, 3, axes);
            ASSERT_TRUE(m && want) << stretch << " " << axes;
            EXPECT_EQ(m->macroType, axes ? 28 : 8);
            EXPECT_EQ(m->axes != nullptr, axes == 1);
            if (!axes) expectRamp(m, plain, 45 * kDeg, 3);
            ASSERT_EQ(m->count, want->count) << stretch << " " << axes;
            for (int32_t i = 0; i < m->count; ++i) {
                EXPECT_VEC_NEAR(m->points[i], want->points[i], 1e-12);
                EXPECT_LT(offPolyline(m->points[i], plain), 1e-12) << i;
            }
            macroPathFree(m), macroPathFree(want);
        }
    plistFree(g), plistFree(plain);
    macroResetState();
}

// A closed square at z 2 from the origin, counter-clockwise, n points per side.
std::vector<Vec3> square(double side, int n) {
    std::vector<Vec3> pts;
    for (int k = 0; k <= 4 * n; ++k) {
        const double t = side * (k % n) / n, e = side;
        const Vec3 at[4] = {{t, 0, 2}, {e, t, 2}, {e - t, e, 2}, {0, e - t, 2}};
        pts.push_back(k == 4 * n ? at[0] : at[k / n]);
    }
    return pts;
}

// The shifting contour ramp short of memory: no path and the guide as it was, or the path and the guide
// started where the ramp lands.
TEST(MacroTraj, ShiftedContourRampShortOfMemoryLeavesTheGuideAlone) {
    macroResetState();
    macroSetContourRampShift(1);
    for (long n = 1; n < 100; ++n) {
        Plist* g = makeGuide(square(4, 1), {}, true);
        ASSERT_NE(g, nullptr);
        allocfail::arm(n);
        MacroPath* m = macroGenType13(g, 45 * kDeg, 5);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_EQ(g->count, m ? 6 : 5) << n;
        EXPECT_VEC_NEAR(g->points[0], (m ? Vec3{4, 1, 2} : Vec3{0, 0, 2}), 1e-9);
        macroPathFree(m);
        plistFree(g);
        if (!fired) break;
    }
    macroResetState();
}

TEST(MacroTraj, ContourRampsWindDownOntoTheContour) {
    macroResetState();
    // The last row takes the least ramp angle, 1e-5.
    const double cases[][3] = {{4, 10, 5}, {10, 30, 2}, {1, 5, 3}, {4, 1e-5 / kDeg, 1e-4}};
    for (const auto& c : cases) {
        Plist* g = makeGuide(square(c[0], 3), {}, true);
        ASSERT_NE(g, nullptr);
        g->vectors[0] = {0.6, 0, 0.8};  // the macro's direction: the start's axis
        MacroPath* m = macroGenType13(g, c[1] * kDeg, c[2]);
        ASSERT_NE(m, nullptr);
        EXPECT_VEC_NEAR(m->direction, (Vec3{0.6, 0, 0.8}), 0);
        EXPECT_VEC_NEAR(m->points[0], (Vec3{0, 0, 2}), 1e-9);
        // Its top lies S - n C back from the contour's end (S = height / tan, n whole turns of length C).
        const double S = c[2] / std::tan(c[1] * kDeg), C = 4 * c[0], from = C - (S - std::trunc(S / C) * C),
                     e = c[0], t = std::fmod(from, e);
        const Vec3 top[4] = {{t, 0, 2 + c[2]}, {e, t, 2 + c[2]}, {e - t, e, 2 + c[2]}, {0, e - t, 2 + c[2]}};
        EXPECT_VEC_NEAR(m->points[m->count - 1], top[static_cast<int>(from / e)], 1e-9);
        expectRamp(m, g, c[1] * kDeg, c[2]);
        macroPathFree(m);
        plistFree(g);
    }
    Plist* g = makeGuide({{1, 1, 0}, {1 + 0.2e-5, 1, 0}, {1, 1, 0}});  // no length (under 1e-5) to wind along
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(macroGenType13(g, 10 * kDeg, 5), nullptr);
    plistFree(g);
    // A top 0.1 along the first side and a whole turn: every corner kept once, a repeated one too.
    for (const bool repeat : {false, true}) {
        std::vector<Vec3> pts = square(4, 1);
        if (repeat) pts.insert(pts.begin() + 2, pts[2]);
        g = makeGuide(pts);
        ASSERT_NE(g, nullptr);
        MacroPath* nearStart = macroGenType13(g, 45 * kDeg, 31.9);
        ASSERT_NE(nearStart, nullptr);
        expectRamp(nearStart, g, 45 * kDeg, 31.9);
        EXPECT_EQ(nearStart->count, 9);
        EXPECT_VEC_NEAR(nearStart->points[nearStart->count - 1], (Vec3{0.1, 0, 33.9}), 1e-9);
        macroPathFree(nearStart);
        plistFree(g);
    }
    // A ramp falling at a negative angle climbs nowhere, its height negative too, closed or open.
    for (const bool closed : {true, false}) {
        g = makeGuide(closed ? square(4, 1) : std::vector<Vec3>{{0, 0, 0}, {4, 0, 0}, {4, 4, 0}});
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(macroGenType13(g, -45 * kDeg, -5), nullptr) << closed;
        plistFree(g);
    }
    g = makeGuide(square(4, 1));  // a ramp shorter than the tolerance in the plan: nothing to wind
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(macroGenType13(g, 60 * kDeg, 1e-5), nullptr);
    plistFree(g);
    // The shifting variant lands 1 along the second side (S = 5) and starts the guide there, whether
    // the sides hold inner points or not; the landing takes the axis interpolated along its side, from
    // the corner's level axis towards the next point's +z.
    macroSetContourRampShift(1);
    for (int perSide : {1, 2}) {
        g = makeGuide(square(4, perSide), {}, true);
        ASSERT_NE(g, nullptr);
        g->vectors[perSide] = {0.6, 0.8, 0};
        MacroPath* m = macroGenType13(g, 45 * kDeg, 5);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(g->count, 4 * perSide + 2);
        EXPECT_VEC_NEAR(g->points[0], (Vec3{4, 1, 2}), 1e-9);
        EXPECT_EQ(g->flags[0] + g->bytes[0], 0);  // the landing is a plain point, flag and byte
        const double f = perSide / 4.0, l = std::hypot(1 - f, f);
        EXPECT_VEC_NEAR(g->vectors[0], (Vec3{0.6 * (1 - f) / l, 0.8 * (1 - f) / l, f / l}), 1e-9);
        EXPECT_VEC_NEAR(g->points[1], (Vec3{4, perSide == 1 ? 4.0 : 2.0, 2}), 1e-9);
        EXPECT_VEC_NEAR(g->points[g->count - 1], g->points[0], 1e-9);
        expectRamp(m, g, 45 * kDeg, 5);
        EXPECT_VEC_NEAR(m->points[0], g->points[0], 1e-9);
        EXPECT_EQ(m->axes, nullptr);  // the tool keeps its axes along a contour ramp
        macroPathFree(m);
        plistFree(g);
    }
    // Landing at the end of a side exactly 1e-5 long: a side that short has no length to interpolate
    // along, so the landing takes the axis of the side's start.
    g = makeGuide({{0, 0, 0}, {1e-5, 0, 0}, {1e-5, 10, 0}, {0, 10, 0}, {0, 0, 0}}, {}, true);
    ASSERT_NE(g, nullptr);
    g->vectors[1] = {0, std::sqrt(0.5), std::sqrt(0.5)};
    MacroPath* edge = macroGenType13(g, 45 * kDeg, 1.5e-5);
    ASSERT_NE(edge, nullptr);
    EXPECT_VEC_NEAR(g->points[0], (Vec3{1e-5, 0, 0}), 0);
    EXPECT_VEC_NEAR(g->vectors[0], (Vec3{0, 0, 1}), 1e-12);
    macroPathFree(edge);
    plistFree(g);
    g = makeGuide(square(4, 1), {}, true);
    ASSERT_NE(g, nullptr);
    g->points[0].z = g->points[4].z = 1.0;  // the start lowest: the ramp lands at its height
    g->vectors[0] = {0.6, 0, 0.8};          // and the macro's direction is the start's axis
    MacroPath* low = macroGenType13(g, 45 * kDeg, 5);
    ASSERT_NE(low, nullptr);
    EXPECT_VEC_NEAR(low->direction, (Vec3{0.6, 0, 0.8}), 0);
    EXPECT_EQ(low->points[0].z, 1.0);
    EXPECT_NEAR(low->points[low->count - 1].z, 6.0, 1e-9);
    macroPathFree(low);
    plistFree(g);
    g = makeGuide(square(4, 1));  // a ramp too steep to leave its start lands nowhere
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(macroGenType13(g, 89.999 * kDeg, 1e-4), nullptr);
    EXPECT_EQ(g->count, 5);
    plistFree(g);
    // A contour under 1e-5 long is none to shift along either, though twice round would reach the top.
    g = makeGuide({{1, 1, 0}, {1 + 0.2e-5, 1, 0}, {1, 1, 0}});
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(macroGenType13(g, 45 * kDeg, 1.7e-5), nullptr);
    EXPECT_EQ(g->count, 3);
    plistFree(g);
    macroResetState();
}

TEST(MacroTraj, ArcsFollowAClosedGuide) {
    macroResetState();
    macroSetLinkMode(1);
    Plist* g = makeGuide(square(10, 4));
    ASSERT_NE(g, nullptr);
    MacroParams p{};
    p.arcStepAngle = 10 * kDeg;
    p.leaveDistance = 2.0;
    const Vec3 p0{0, 0, 2}, p1{-1, 0, 2}, up{0, 0, 1};
    for (uint16_t type : {10, 27}) {
        p.leaveType = type;
        MacroPath* m = macroBuild(kMacroLeave, &p0, &p1, &p, 1, g, 0, &up);
        ASSERT_NE(m, nullptr);
        ASSERT_GE(m->count, 3);
        for (int32_t i = 1; i < m->count; ++i) {
            EXPECT_LT(offPolyline(m->points[i], g), 1e-9);
            EXPECT_GT(m->points[i].z, m->points[i - 1].z);  // the heights of the arc stay
        }
        macroPathFree(m);
    }
    plistFree(g);
    MacroPath* m = macroBuild(kMacroLeave, &p0, &p1, &p, 1, nullptr, 0, &up);  // the stored guide serves
    ASSERT_NE(m, nullptr);
    EXPECT_NEAR(m->points[1].x, 0.0, 1e-9);  // forward from the contour's end, which it closes on
    EXPECT_GT(m->points[1].y, 0.0);
    macroPathFree(m);
    macroResetState();
}

// A built arc laid onto the closed square (0, 0) (10, 0) (10, 10) (0, 10) of length 40: a leave macro
// measures forward from the start, an approach backward, whole turns dropped; following keeps each
// point's height, wrapping lifts it along the macro's direction by its distance across the move.
TEST(MacroTraj, ArcsLandAtTheirLengthAlongTheGuide) {
    macroResetState();
    Plist* g = makeGuide({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}, {0, 0, 0}});
    ASSERT_NE(g, nullptr);
    struct Case {
        bool wrap;
        int32_t kind;
        std::vector<Vec3> built, want;  // from the attachment point (0, 0, 0) on
    } cases[] = {
        {false, kMacroLeave, {{0.5, 0, 3}, {0, 12, 4}, {45, 0, 5}}, {{0.5, 0, 3}, {10, 2, 4}, {5, 0, 5}}},
        {false, kMacroApproach, {{0.5, 0, 3}, {0, 12, 4}, {45, 0, 5}}, {{0, 0.5, 3}, {2, 10, 4}, {0, 5, 5}}},
        {true, kMacroLeave, {{-3, 0, 2}, {-6, 0, 4}}, {{3, 0, 2}, {6, 0, 4}}},
        {true, kMacroApproach, {{-3, 0, 2}, {-6, 0, 4}}, {{0, 3, 2}, {0, 6, 4}}},
        {true, kMacroLeave, {{-3, 2, 0}, {-6, 0, 4}}, {{3, 0, 0}, {6, 0, 4}}},  // lifted towards its end
        {true,
         kMacroLeave,
         {{-0.5, 0, 1}, {-83, 0, 4}},
         {{0.5, 0, 1}, {3, 0, 4}}},  // two whole turns dropped
    };
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0};  // the move leaves along -x
    // The same away from the origin: guide, points and macro moved by d.
    const Vec3 d{5, 7, 1};
    const auto at = [&](const Vec3& q) { return Vec3{q.x + d.x, q.y + d.y, q.z + d.z}; };
    Plist* moved = makeGuide({at({0, 0, 0}), at({10, 0, 0}), at({10, 10, 0}), at({0, 10, 0}), at({0, 0, 0})});
    ASSERT_NE(moved, nullptr);
    for (const Case& c : cases)
        for (const bool shift : {false, true}) {
            const auto put = [&](const Vec3& q) { return shift ? at(q) : q; };
            const Vec3 a0 = put(p0), a1 = put(p1);
            Plist* guide = shift ? moved : g;
            MacroPath* m = macroPathCreate(c.kind, 10, 8, 0);
            ASSERT_NE(m, nullptr);
            macroPathAppend(m, a0);
            for (const Vec3& q : c.built) macroPathAppend(m, put(q));
            ASSERT_EQ(
                c.wrap ? macroWrapOnGuide(m, c.kind, &a0, &a1, guide) : macroFollowGuide(m, c.kind, guide),
                1);
            SCOPED_TRACE(shift);
            for (size_t i = 0; i < c.want.size(); ++i)
                EXPECT_VEC_NEAR(m->points[i + 1], put(c.want[i]), 1e-9);
            macroPathFree(m);
        }
    plistFree(moved);
    // A move that leaves along a skew direction v: a point 3 along v and 2 along the arc's own
    // direction b (across v) lands 3 along the guide, lifted by 2. The move's length does not count.
    const double k3 = 1 / std::sqrt(3.0), k2 = 1 / std::sqrt(2.0);
    const Vec3 v{-k3, -k3, -k3}, b{k2, -k2, 0}, skew{2 * v.x, 2 * v.y, 2 * v.z};
    MacroPath* m = macroPathCreate(kMacroLeave, 10, 3, 0);  // full: nothing past its last point is read
    ASSERT_NE(m, nullptr);
    macroPathAppend(m, p0);
    macroPathAppend(m, {3 * v.x + 2 * b.x, 3 * v.y + 2 * b.y, 3 * v.z + 2 * b.z});
    macroPathAppend(m, {6 * v.x + 4 * b.x, 6 * v.y + 4 * b.y, 6 * v.z + 4 * b.z});
    m->direction = {0, 0.6, 0.8};  // lifted along the macro's own direction
    ASSERT_EQ(macroWrapOnGuide(m, kMacroLeave, &p0, &skew, g), 1);
    EXPECT_VEC_NEAR(m->points[1], (Vec3{3, 1.2, 1.6}), 1e-9);
    EXPECT_VEC_NEAR(m->points[2], (Vec3{6, 2.4, 3.2}), 1e-9);
    EXPECT_EQ(macroWrapOnGuide(m, kMacroLeave, &p0, &p0, g), 0);  // a move of no length has no direction
    macroPathFree(m);
    // Following measures from the attachment point but leaves it where it is, off the guide too.
    m = macroPathCreate(kMacroLeave, 10, 2, 0);
    ASSERT_NE(m, nullptr);
    for (const Vec3& q : {Vec3{1, 2, 3}, Vec3{1, 2.5, 4}}) macroPathAppend(m, q);
    ASSERT_EQ(macroFollowGuide(m, kMacroLeave, g), 1);
    EXPECT_VEC_NEAR(m->points[0], (Vec3{1, 2, 3}), 0);
    EXPECT_VEC_NEAR(m->points[1], (Vec3{0.5, 0, 4}), 1e-12);
    macroPathFree(m);
    EXPECT_EQ(macroStoreGuide(g), 1);
    plistFree(g);
    // A guide closed within 0.1 counts as closed: a point 0 along the move lands on its start, not its end.
    g = makeGuide({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}, {0, 0.05, 0}});
    m = macroPathCreate(kMacroLeave, 10, 4, 0);
    ASSERT_TRUE(g && m);
    macroPathAppend(m, p0);
    macroPathAppend(m, {0, 0, 3});
    m->direction = {0, 0.6, 0.8};  // two points are enough to wrap: the lift follows the direction
    ASSERT_EQ(macroWrapOnGuide(m, kMacroLeave, &p0, &p1, g), 1);
    EXPECT_VEC_NEAR(m->points[1], (Vec3{0, 1.8, 2.4}), 1e-12);
    macroPathFree(m);
    plistFree(g);
    // A length that ends among segments each under 1e-12 long finds none to lie on: the wrap fails.
    g = makeGuide({{0, 0, 0},
                   {10, 0, 0},
                   {10, 10, 0},
                   {0, 10, 0},
                   {0, 0, 0},
                   {4e-13, 0, 0},
                   {8e-13, 0, 0},
                   {1.2e-12, 0, 0},
                   {1.6e-12, 0, 0}});
    m = macroPathCreate(kMacroLeave, 10, 3, 0);
    ASSERT_TRUE(g && m);
    for (const Vec3& q : {p0, Vec3{-40 - 1.2e-12, 0, 0}, Vec3{0, 0, 3}}) macroPathAppend(m, q);
    EXPECT_EQ(macroWrapOnGuide(m, kMacroLeave, &p0, &p1, g), 0);
    macroPathFree(m);
    plistFree(g);
    // An open guide leaves the arc as built; for following, ends 1e-5 apart are open and one point is none.
    const std::vector<Vec3> open[] = {
        {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}}, {{0, 0, 0}, {1e-5, 0, 0}}, {{3, 3, 0}}};
    for (const auto& pts : open)
        for (bool wrap : {false, true}) {
            if (wrap && pts.size() < 3) continue;  // wrapping takes ends within 0.1 as closed
            g = makeGuide(pts);
            MacroPath* m = macroPathCreate(kMacroLeave, 10, 4, 0);
            ASSERT_TRUE(g && m);
            macroPathAppend(m, p0);
            macroPathAppend(m, {-3, 0, 2});
            EXPECT_EQ(
                wrap ? macroWrapOnGuide(m, kMacroLeave, &p0, &p1, g) : macroFollowGuide(m, kMacroLeave, g),
                1);
            EXPECT_VEC_NEAR(m->points[1], (Vec3{-3, 0, 2}), 0);
            macroPathFree(m);
            plistFree(g);
        }
    // A closed guide 1e-5 long is long enough, a shorter one not, nor two points 4e-6 apart, either way.
    for (const double half : {5e-6, 4e-6, 0.0})
        for (bool wrap : {false, true}) {
            g = half > 0 ? makeGuide({{0, 0, 0}, {half, 0, 0}, {0, 0, 0}})
                         : makeGuide({{1, 1, 0}, {1 + 4e-6, 1, 0}});
            m = macroPathCreate(kMacroLeave, 10, 4, 0);
            ASSERT_TRUE(g && m);
            macroPathAppend(m, p0);
            macroPathAppend(m, {-3, 0, 2});
            const int r =
                wrap ? macroWrapOnGuide(m, kMacroLeave, &p0, &p1, g) : macroFollowGuide(m, kMacroLeave, g);
            EXPECT_EQ(r, half > 4.5e-6 ? 1 : 0) << half;
            macroPathFree(m);
            plistFree(g);
        }
    macroResetState();
}

}  // namespace
