#include "avoidance/avoidhead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "avoidance/avoidfit.h"
#include "avoidance/avoidsearch.h"
#include "avoidance/avoidtilt.h"
#include "collision/collassembly.h"
#include "collision/meshutil.h"
#include "geometry/msg_capture.h"
#include "near.h"
#include "toolsolid.h"
#include "workfolder.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
const Tool kHead{{40.0, 80.0}, {20.0, 20.0}};  // the head as drawn, inside its clearance

void writeFile(const char* name, const std::string& text) {
    FILE* f = std::fopen(name, "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
}

// A wall y = yw over x in [x0, x1], z in [-50, 150], as two triangles.
std::vector<Triangle3D> wall(double yw, double x0, double x1) {
    return {Triangle3D{{{x0, yw, -50}, {x1, yw, -50}, {x1, yw, 150}}},
            Triangle3D{{{x0, yw, -50}, {x1, yw, 150}, {x0, yw, 150}}}};
}

// The head (radius 20 from 40 to 80 above the tip) checked against obstacle triangles.
struct HeadScene {
    testmesh::Model part{{testmesh::slopeTri(-1000, 0)}, kBallMill, 2.0};
    ToolDescription tool{};
    CollSetup setup{};
    HeadScene() {
        collAssemblyResetState();
        headAvoidResetState();
        avoidTiltResetState();
        tool.toolType = 1, tool.radius = 2, tool.cornerRadius = 2, tool.cutterTop = 40, tool.tipTop = 10;
        tool.shaftDiameter = 6;
    }
    ~HeadScene() { collAssemblyResetState(); }
    int build(const std::vector<Triangle3D>& tris) {
        writeFile("parts.kvx",
                  "kVX-Exchange-File\nkVX-Version: 1.0\nthird line\nfourth line\n"
                  "o Contour[Head]()\n{\no L(x[0/20] y[0/0] z[0/0])\no L(x[/20] y[/40] z[/0])\n}\n");
        writeFile("wall.stl", testmesh::stlText(tris));
        setup = CollSetup{"parts.kvx", 1, "wall.stl", "", "", "", 0.5, 0.5, 0.5, 0.002};
        return coll_setup_assembly(&part.m, &tool, 0, &setup);
    }
};

// n points along x, axes tilted by b towards +y.
Plist* pathAlongX(int n, double b, double step = 2.0) {
    Plist* l = plistCreate(n, 1);
    for (int i = 0; l && i < n; ++i) {
        const Vec3 p = {step * i, 0, 0}, a = {0, std::sin(b), std::cos(b)};
        plistAppend(l, step * i, &p, 0, &a, 0);
    }
    return l;
}

// A table as the driver prepares it, states from the assembly check.
AvoidTable* preparedTable(Plist* l, const HeadAvoidParams& hp) {
    AvoidTable* t = avoidTableCreate(l, hp.leadAngle, hp.maxTilt);
    for (int32_t i = 0; t && i < t->count; ++i) {
        AvoidEntry& e = t->entries[i];
        vecTiltAngle(&l->vectors[i], &e.b);
        e.cLow = e.c - hp.cMinus, e.cHigh = e.c + hp.cPlus;
        e.state = coll_check_full(&l->points[i], &l->vectors[i], nullptr) == 1 ? 0 : 1;
    }
    if (t) avoidLimitPassA(t, hp.maxTilt);
    return t;
}

HeadAvoidParams params(uint16_t mode, int16_t selection) {
    HeadAvoidParams hp;
    headAvoidParamsFromCycle(&hp, mode, selection, 0.1, 1.0, 2.0, 15.0, 15.0);
    return hp;
}

}  // namespace

// Seeded walls beside a path, every axis and selection mode: every axis handed back is free of the head
// as drawn; a path without collisions comes back unchanged.
TEST(AvoidHead, ReturnedAxesAreFreeOfTheHead) {
    rngResetState();
    const uint16_t modes[][2] = {{1, 0}, {1, 2}, {3, 0}, {3, 2}, {2, 0}, {2, 2}, {4, 0}, {4, 2}};
    int colliding = 0;
    for (int scene = 0; scene < 8; ++scene) {
        HeadScene s;
        const int n = 8 + rngBelow(20);
        const double yw = O::uni(30, 45), x0 = O::uni(-10, 2.0 * n), x1 = x0 + O::uni(5, 40),
                     b0 = O::uni(0.4, 0.9);
        const std::vector<Triangle3D> tris = wall(yw, x0, x1);
        ASSERT_EQ(s.build(tris), 1);
        Plist* l = pathAlongX(n, scene == 0 ? 0.05 : b0);
        ASSERT_NE(l, nullptr);
        const std::vector<Vec3> before(l->vectors, l->vectors + n);
        for (int i = 0; i < n; ++i) colliding += toolHits(kHead, l->points[i], l->vectors[i], tris);
        const HeadAvoidParams hp = params(modes[scene][0], modes[scene][1]);
        const int r = avoidToolHeadCollision(l, &hp);
        EXPECT_TRUE(r == 1 || (hp.axisMode == 2 && r < 0))
            << scene;  // C alone may fail: bands turn both ways
        for (int32_t i = 0; i < l->count; ++i) {
            EXPECT_FALSE(toolHits(kHead, l->points[i], l->vectors[i], tris)) << scene << " " << i;
            EXPECT_EQ(l->flags[i] >> 8, 0) << scene << " " << i;  // no point became a link
            if (hp.axisMode % 2) {
                EXPECT_NEAR(std::atan2(l->vectors[i].y, l->vectors[i].x), kPi / 2, 1e-9);  // C kept
            }
        }
        int32_t kept = 0;  // the path's own points, in order, between any the turns added
        for (int32_t i = 0; i < l->count; ++i) kept += kept < n && l->points[i].x == 2.0 * kept;
        EXPECT_EQ(kept, r == 1 ? n : kept) << scene;
        for (int i = 0; scene == 0 && i < n; ++i) {
            EXPECT_TRUE(l->vectors[i].y == before[i].y && l->vectors[i].z == before[i].z);
        }
        plistFree(l);
    }
    EXPECT_GT(colliding, 100);  // before
}

// Selective B and C sample each colliding run at its middle entry and every tenth out from it, both ends
// included (B also the range's last entry): with nothing in the way B marks exactly those found, and C
// gives exactly those the cycle's band, the others keeping the narrow one they had.
TEST(AvoidHead, SelectivePassSamplesFromTheMiddleOut) {
    collAssemblyResetState();
    const struct {
        std::vector<std::array<int32_t, 2>> runs;  // colliding entries of 50, first to last
        std::vector<int32_t> sampled;
    } cases[] = {
        {{{3, 46}}, {4, 14, 24, 34, 44}}, {{{0, 0}, {10, 30}}, {0, 10, 20, 30}}, {{{0, 24}}, {2, 12, 22}}};
    for (const auto& c : cases)
        for (const uint16_t mode : {1, 2}) {
            Plist* l = pathAlongX(50, 0.6);
            ASSERT_NE(l, nullptr);
            const HeadAvoidParams hp = params(mode, 2);
            AvoidTable* t = preparedTable(l, hp);
            ASSERT_NE(t, nullptr);
            for (int32_t i = 0; i < 50; ++i)
                t->entries[i].cLow = kPi / 2 - 0.01, t->entries[i].cHigh = kPi / 2 + 0.01;
            for (const auto& r : c.runs)
                for (int32_t i = r[0]; i <= r[1]; ++i) t->entries[i].state = 1;
            EXPECT_GE(mode == 1 ? headAvoidSelectiveB(t, l, &hp) : headAvoidSelectiveC(t, l, &hp), 0);
            ASSERT_EQ(t->count, 50);
            for (int32_t i = 0; i < 50; ++i) {
                const bool sampled = std::count(c.sampled.begin(), c.sampled.end(), i) > 0;
                const AvoidEntry& e = t->entries[i];
                if (mode == 1)
                    EXPECT_EQ(e.flag, sampled || i == 49 ? 1 : 0) << c.sampled[0] << " " << i;
                else
                    EXPECT_NEAR(e.cHigh - e.cLow, sampled ? hp.cPlus + hp.cMinus : 0.02, 1e-12)
                        << c.sampled[0] << " " << i;
            }
            avoidTableFree(t);
            plistFree(l);
        }
}

// The warning and the activation messages go out once per process (C modes included), 7154 every time.
TEST(AvoidHead, MessagesOnceOrEveryTime) {
    collAssemblyResetState();  // nothing built: every axis is free
    Plist* l = pathAlongX(3, 0.3);
    ASSERT_NE(l, nullptr);
    for (int32_t level : {9, 8}) {  // messages of level 9: a host at level 8 sees none
        headAvoidResetState();
        MessageCapture capture(level);
        const struct {
            uint16_t mode;
            int16_t selection;
            int result;
            bool reset;  // a new process
        } calls[] = {{1, 0, 1, false},  {2, 2, 1, false}, {1, 5, -2, false}, {1, 2, 1, false},
                     {4, 5, -2, false}, {4, 2, 1, true},  {2, 0, 1, false},  {2, 0, 1, true}};
        for (const auto& c : calls) {
            if (c.reset) headAvoidResetState();
            const HeadAvoidParams hp = params(c.mode, c.selection);
            AvoidTable* t = preparedTable(l, hp);
            ASSERT_NE(t, nullptr);
            const int r = selectAvoidanceMode(t, l, &hp);
            EXPECT_EQ(r >= 0 ? 1 : r, c.result);
            avoidTableFree(t);
        }
        const std::vector<std::string> want = {"6011,0", "7150,0", "7154,0", "7154,0",
                                               "6011,0", "7153,0", "6011,0", "7152,0"};
        EXPECT_EQ(capture.messages(), level == 9 ? want : std::vector<std::string>{});
    }
    plistFree(l);
}

// 12 points, 3 of them still colliding after the first selective B pass (3 > 12 / 6; all 12 after the
// C pass): the pass gives up with -3 and the temporary global pass, announced by 7155 every time, frees
// the range.
TEST(AvoidHead, SelectiveGivesWayToTheGlobalPass) {
    HeadScene s;
    std::vector<Triangle3D> tris = wall(40, -10, 150), near = wall(24, -5, 12);
    tris.insert(tris.end(), near.begin(), near.end());
    ASSERT_EQ(s.build(tris), 1);
    for (const uint16_t mode : {1, 2}) {
        const HeadAvoidParams hp = params(mode, 2);
        Plist* l = pathAlongX(12, 0.6, 10.0);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = preparedTable(l, hp);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(mode == 1 ? headAvoidSelectiveB(t, l, &hp) : headAvoidSelectiveC(t, l, &hp),
                  kHeadAvoidNoConverge);
        int32_t points = 0;
        headAvoidCountHits(t, &points);
        EXPECT_EQ(points, mode == 1 ? 3 : 12);  // more than 12 / 6 either way
        avoidTableFree(t);
        plistFree(l);
        for (const int32_t level : {9, 8}) {
            if (mode != 1) break;  // the global C pass is slow: B only  // a host at level 8 hears none of it
            MessageCapture capture(level);
            l = pathAlongX(12, 0.6, 10.0);
            ASSERT_NE(l, nullptr);
            t = preparedTable(l, hp);
            ASSERT_NE(t, nullptr);
            EXPECT_GE(selectAvoidanceMode(t, l, &hp), 0);
            for (int32_t i = 0; i < l->count; ++i)
                EXPECT_FALSE(toolHits(kHead, l->points[i], l->vectors[i], tris)) << i;
            avoidTableFree(t);
            plistFree(l);
            EXPECT_EQ(capture.countOf("7155,0"), level == 9 ? 1 : 0);
            EXPECT_EQ(capture.countOf("7151,0") + capture.countOf("6011,0"), level == 9 ? 2 : 0);
        }
    }
}

// A roof that the head meets at every B from point 10 on (or from the first): the range is restored and
// the path ends before its first collision, with the code of that hit; a B-only mode gets no retry.
TEST(AvoidHead, UnsolvableRangeCutsThePath) {
    const HeadAvoidParams hp = params(1, 0);
    for (const double x0 : {40.0, -100.0}) {
        HeadScene s;
        const std::vector<Triangle3D> tris = {Triangle3D{{{x0, -200, 55}, {300, -200, 55}, {300, 200, 55}}},
                                              Triangle3D{{{x0, -200, 55}, {300, 200, 55}, {x0, 200, 55}}}};
        ASSERT_EQ(s.build(tris), 1);
        Plist* l = pathAlongX(x0 > 0 ? 20 : 2, 0.3);
        ASSERT_NE(l, nullptr);
        if (x0 > 0) l->flags[15] = 2 << 8;  // a link: the points after it are a range of their own, cut too
        const Vec3 axis0 = l->vectors[0];
        EXPECT_EQ(avoidToolHeadCollision(l, &hp), kCollHead);
        EXPECT_EQ(l->count, x0 > 0 ? 10 : 0);
        for (int32_t i = 0; i < l->count; ++i) {
            EXPECT_FALSE(toolHits(kHead, l->points[i], l->vectors[i], tris)) << i;
            EXPECT_EQ(l->vectors[i].y, axis0.y);
        }
        plistFree(l);
    }
    // Upright axes have no B or C to turn: the path ends at its first colliding point, the first or the
    // last too.
    for (const double x0 : {-100.0, 41.0, 57.0}) {
        HeadScene r;
        const std::vector<Triangle3D> roof = {Triangle3D{{{x0, -200, 55}, {300, -200, 55}, {300, 200, 55}}},
                                              Triangle3D{{{x0, -200, 55}, {300, 200, 55}, {x0, 200, 55}}}};
        ASSERT_EQ(r.build(roof), 1);
        Plist* l = pathAlongX(20, 0.0);
        ASSERT_NE(l, nullptr);
        int32_t first = 0;
        while (first < 20 && !toolHits(kHead, l->points[first], l->vectors[first], roof)) ++first;
        ASSERT_LT(first, 20);
        EXPECT_EQ(avoidToolHeadCollision(l, &hp), kCollHead) << x0;
        EXPECT_EQ(l->count, first) << x0;
        plistFree(l);
    }
}

// The turn of C away from the obstacle finds a free (C, B) pair and hands both back, turning no
// further than the width on its side (a width below one C step leaves that side unsearched); the C
// widths of the cycle are degrees.
TEST(AvoidHead, FindCAndBHandsBackAFreePair) {
    HeadScene s;
    const std::vector<Triangle3D> tris = wall(40, -100, 100);
    ASSERT_EQ(s.build(tris), 1);
    const HeadAvoidParams hp = params(3, 0);
    EXPECT_NEAR(hp.cPlus, 0.2618, 1e-4);
    const double widths[][2] = {{kPi / 2, kPi / 2}, {1.2, 0.05}, {0.05, 1.2}};  // above, below
    for (const auto& w : widths) {
        AvoidEntry e{};
        e.b = 0.6, e.c = kPi / 2, e.bMin = 0.4, e.bMax = 0.8;
        const Vec3 p = {0, 0, 0};
        double c = NAN, b = NAN;
        ASSERT_EQ(avoidFindCAndB(&e, &p, w[0], w[1], &c, &b), 1) << w[0];
        EXPECT_GE(b, e.bMin);
        EXPECT_LE(b, e.bMax);
        EXPECT_LE(c - e.c, w[0] + 0.0436) << w[0];
        EXPECT_LE(e.c - c, w[1] + 0.0436) << w[0];
        // Whole C steps of 0.087 out to the first free one, and the half step 0.0436 past it when free.
        const double turned = std::fabs(c - e.c), past = turned - 0.0436;
        EXPECT_TRUE(std::fabs(past - 0.087 * std::round(past / 0.087)) < 1e-9 ||
                    std::fabs(turned - 0.087 * std::round(turned / 0.087)) < 1e-9)
            << w[0] << " " << turned;
        const Vec3 a = {std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)};
        EXPECT_FALSE(toolHits(kHead, p, a, tris)) << w[0];
    }
    // Just inside the wall's C range the first whole step down is free, and the half step past it.
    double edge = 0.0, blocked = kPi / 2;
    const auto freeAt = [](double c, double b) {
        const Vec3 a = {std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)}, o = {0, 0, 0};
        return coll_check_full(&o, &a, nullptr) == 1;
    };
    while (blocked - edge > 1e-3)
        (freeAt(0.5 * (edge + blocked), 0.6) ? edge : blocked) = 0.5 * (edge + blocked);
    {
        AvoidEntry e{};
        e.b = 0.6, e.c = blocked + 0.01, e.bMin = 0.4, e.bMax = 0.8;
        const Vec3 p = {0, 0, 0};
        double c = NAN, b = NAN;
        ASSERT_EQ(avoidFindCAndB(&e, &p, 0.05, 0.5, &c, &b), 1);
        EXPECT_NEAR(e.c - c, 0.087 + 0.0436, 1e-9);
        EXPECT_TRUE(freeAt(c, b));
    }
    // An axis already free is handed back as it is.
    AvoidEntry e{};
    e.b = 0.6, e.c = -kPi / 2, e.bMin = 0.4, e.bMax = 0.8;
    const Vec3 p = {0, 0, 0};
    double c = NAN, b = NAN;
    EXPECT_EQ(avoidFindCAndB(&e, &p, 0.5, 0.5, &c, &b), 1);
    EXPECT_EQ(c, e.c);
    EXPECT_EQ(b, e.b);
    e.c = kPi / 2;  // facing the wall with widths below one C step: nothing to search
    EXPECT_EQ(avoidFindCAndB(&e, &p, 0.05, 0.05, &c, &b), -1);
}

// A plate through the x axis and the axis at tilt bo towards +y blocks the B (or C) angles near bo
// only (the head's side meets it there). Each search against the free angles sampled every 0.01: a
// found angle is free, a bisected bound lies within the bisection's end of the sampled edge, an
// interval pass keeps the point's B and is free throughout, a search over blocked angles only finds
// nothing. C is undefined on a vertical axis.
TEST(AvoidHead, AngleSearchesAgainstSampledFreeAngles) {
    const Vec3 p = {0, 0, 0};
    const double c = kPi / 2;
    const auto freeAt = [&](double cc, double b) {
        Vec3 a;
        dirFromAngles(&a, cc, b);
        return coll_check_full(&p, &a, nullptr) == 1;
    };
    // The last free sample from x towards y, every 0.01.
    const auto edge = [&](double x, double y, bool alongB, double other) {
        const double step = y > x ? 0.01 : -0.01;
        double t = x;
        while ((t + step - y) * step <= 0 && (alongB ? freeAt(other, t + step) : freeAt(t + step, other)))
            t += step;
        return t;
    };
    for (const double bo : {0.65, 0.7, 0.75}) {
        HeadScene s;
        const Vec3 lo = {0, 30 * std::sin(bo), 30 * std::cos(bo)}, hi = {0, 3 * lo.y, 3 * lo.z};
        ASSERT_EQ(s.build({Triangle3D{{{-100, lo.y, lo.z}, {100, lo.y, lo.z}, {100, hi.y, hi.z}}},
                           Triangle3D{{{-100, lo.y, lo.z}, {100, hi.y, hi.z}, {-100, hi.y, hi.z}}}}),
                  1);
        ASSERT_TRUE(freeAt(c, 0.0) && freeAt(c, 1.4) && !freeAt(c, bo)) << bo;
        const double bLow = edge(0.0, bo, true, c), bHigh = edge(1.4, bo, true, c);  // free up to, from
        double out = NAN;
        // Free angles only in the first or last part of the span: the halving search still finds them.
        for (const auto& span : {std::array<double, 2>{bLow - 0.05, bo}, {bo, bHigh + 0.05}}) {
            ASSERT_EQ(avoidFindFreeB(&p, span[0], span[1], c, &out), 1) << bo;
            EXPECT_TRUE(out >= span[0] && out <= span[1] && freeAt(c, out)) << bo;
        }
        EXPECT_EQ(avoidFindFreeB(&p, bLow + 0.03, bHigh - 0.03, c, &out), -1) << bo;
        // The span scan samples from its start in steps of 0.05 and names the first blocked sample.
        double hit = NAN;
        int k = 0;
        while (freeAt(c, k * 0.05)) ++k;
        const double first = k * 0.05;
        EXPECT_EQ(avoidSpanFreeB(&p, 0.0, bLow - 0.05, c, &hit), 1) << bo;
        // It stops a step short of its end, give or take 1e-5.
        for (const double under : {5e-5, 0.5e-5})
            EXPECT_EQ(avoidSpanFreeB(&p, 0.0, first + 0.05 - under, c, &hit), under > 1e-5) << bo;
        ASSERT_EQ(avoidSpanFreeB(&p, 0.0, 1.4, c, &hit), 0) << bo;
        EXPECT_EQ(hit, first) << bo;
        ASSERT_EQ(avoidSpanFreeB(&p, bo, 1.4, c, &hit), 0) << bo;
        EXPECT_EQ(hit, bo);
        ASSERT_EQ(avoidBisectB(&p, 0.0, bo, c, &out), 1);
        EXPECT_NEAR(out, bLow, 0.016) << bo;
        ASSERT_EQ(avoidBisectB(&p, 1.4, bo, c, &out), 1);
        EXPECT_NEAR(out, bHigh, 0.016) << bo;
        // Both ends free, the middle blocked: the interval shrinks to the side of the point's own B; on
        // the first blocked sample itself, to the side above.
        for (const double b : {0.05, 1.35, first}) {
            AvoidEntry e{};
            e.b = b, e.c = c, e.bMin = 0.0, e.bMax = 1.4;
            ASSERT_TRUE(avoidIntervalPass(&e, &p, c)) << bo << " " << b;
            EXPECT_TRUE((e.bMin <= b && b <= e.bMax) || b == first) << bo << " " << b;
            EXPECT_NEAR(b < first ? e.bMax : e.bMin, b < first ? bLow : bHigh, 0.016) << bo << " " << b;
            for (double t = e.bMin; t <= e.bMax; t += 0.01) EXPECT_TRUE(freeAt(c, t)) << bo << " " << t;
        }
        // One end free, the other on the plate: the free end is kept, the other closes at the plate.
        for (const auto& r : {std::array<double, 3>{0.05, 0.0, bo}, {1.35, bo, 1.4}}) {
            AvoidEntry e{};
            e.b = r[0], e.c = c, e.bMin = r[1], e.bMax = r[2];
            ASSERT_TRUE(avoidIntervalPass(&e, &p, c)) << bo << " " << r[0];
            EXPECT_EQ(r[0] < bo ? e.bMin : e.bMax, r[0] < bo ? 0.0 : 1.4) << bo;
            EXPECT_NEAR(r[0] < bo ? e.bMax : e.bMin, r[0] < bo ? bLow : bHigh, 0.016) << bo;
        }
        // The plate also blocks C near +y at tilt bo; the C bisection meets the sampled edge.
        const double cHigh = edge(c + 2.2, c, false, bo);
        ASSERT_TRUE(cHigh > c + 0.5 && cHigh < c + 2.0) << bo;
        ASSERT_EQ(avoidBisectC(&p, c + 2.2, c, bo, &out), 1);
        EXPECT_NEAR(out, cHigh, 0.016) << bo;
        ASSERT_EQ(avoidFindFreeC(&p, c - 0.2, c + 2.0, bo, &out), 1);
        EXPECT_TRUE(out >= cHigh - 0.01 && out <= c + 2.0 && freeAt(out, bo)) << bo;
        EXPECT_EQ(avoidFindFreeC(&p, c - 0.2, cHigh - 0.03, bo, &out), -1) << bo;
        AvoidEntry v{};
        v.b = 0.0, v.c = c;
        EXPECT_EQ(avoidBisectC(&p, c + 1.2, c, 0.0, &out) * 10 + avoidFindFreeC(&p, 0.0, 1.0, 0.0, &out), -1);
        // From a sine of B of 1e-5 on, C names an axis (the upright one is free here).
        EXPECT_EQ(avoidFindFreeC(&p, 0.0, 1.0, std::asin(1e-5), &out), 1);
        EXPECT_EQ(avoidFindFreeC(&p, 0.0, 1.0, 5e-6, &out), -1);  // below it every C names the upright axis
        EXPECT_EQ(avoidCInterval(&v, &p, 0.5, 0.5) * 10 + v.flag, -1);
        EXPECT_EQ(avoidWidenC(&v, &p, 0.5, 0.5), 0);
    }
}

// The C band about a free axis: the widths below and above C are taken whole where the head stays
// free there (the two differ, so either side's width shows), else cut back to a free C with the wall
// just past it.
TEST(AvoidHead, CBandTakesEachWidthOnItsOwnSide) {
    HeadScene s;
    const std::vector<Triangle3D> tris = wall(40, -100, 100);
    ASSERT_EQ(s.build(tris), 1);
    const Vec3 p = {0, 0, 0};
    const auto axis = [](double c, double b) {
        return Vec3{std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)};
    };
    struct Case {
        double c, above, below;
        bool wallAbove;  // the head meets the wall at C + above
    } cases[] = {{-kPi / 2, 0.3, 1.2, false}, {-kPi / 2, 1.1, 0.2, false}, {0.0, 2.0, 0.2, true}};
    for (const Case& c : cases)
        for (auto band : {avoidWidenC, avoidCInterval}) {
            AvoidEntry e{};
            e.b = 0.6, e.c = c.c;
            ASSERT_EQ(band(&e, &p, c.above, c.below), 1) << c.c;
            EXPECT_NEAR(e.cLow, c.c - c.below, 1e-12) << c.c;
            ASSERT_EQ(toolHits(kHead, p, axis(c.c + c.above, e.b), tris), c.wallAbove) << c.c;
            if (!c.wallAbove) {
                EXPECT_NEAR(e.cHigh, c.c + c.above, 1e-12) << c.c;
                continue;
            }
            EXPECT_GT(e.cHigh, c.c) << c.c;
            EXPECT_LT(e.cHigh, c.c + c.above) << c.c;
            EXPECT_FALSE(toolHits(kHead, p, axis(e.cHigh, e.b), tris)) << c.c;
            EXPECT_TRUE(toolHits(kHead, p, axis(e.cHigh + 0.1, e.b), tris)) << c.c;
        }
}

// Where the wall lies inside the asked band, the band ends at the wall on the side of C: found from a
// free end, from both free ends across a blocked middle, or from a free C between two blocked ends
// (the band then runs the long way round). With no free C in it there is no band.
TEST(AvoidHead, CBandEndsAtTheWallOnTheSideOfC) {
    HeadScene s;
    const std::vector<Triangle3D> tris = wall(40, -100, 100);
    ASSERT_EQ(s.build(tris), 1);
    const Vec3 p = {0, 0, 0};
    const double b = 0.6;
    const auto hits = [&](double c) {
        return toolHits(kHead, p, {std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)}, tris);
    };
    // The wall blocks C within w of +y at this tilt.
    double lo = 0.0, hi = kPi / 2;
    while (hi - lo > 1e-4) (hits(kPi / 2 + 0.5 * (lo + hi)) ? lo : hi) = 0.5 * (lo + hi);
    const double w = hi;
    ASSERT_TRUE(w > 0.3 && w < 1.4) << w;
    // Bands end within the head's clearance of the drawn wall; a free end is taken as asked.
    struct Case {
        double c, above, below, cLow, cHigh, tolLow, tolHigh;
    } cases[] = {
        {0.0, kPi, 0.2, -0.2, kPi / 2 - w, 1e-12, 0.04},
        {kPi, 0.2, kPi / 2 - w / 2, kPi / 2 + w, kPi + 0.2, 0.04, 1e-12},
        {-kPi / 2, kPi - w / 2, kPi - w / 2, -3 * kPi / 2 + w, kPi / 2 - w, 0.04, 0.04},
    };
    for (const Case& c : cases)
        for (auto band : {avoidWidenC, avoidCInterval}) {
            AvoidEntry e{};
            e.b = b, e.c = c.c;
            ASSERT_EQ(band(&e, &p, c.above, c.below), 1) << c.c << " " << c.below;
            EXPECT_NEAR(e.cLow, c.cLow, c.tolLow) << c.c << " " << c.below;
            EXPECT_NEAR(e.cHigh, c.cHigh, c.tolHigh) << c.c << " " << c.below;
            EXPECT_FALSE(hits(e.cLow) || hits(e.cHigh)) << c.c << " " << c.below;
        }
    // The per-point C search of a range gives every entry that band.
    Plist* l = pathAlongX(2, b, 1e-3);
    ASSERT_NE(l, nullptr);
    AvoidTable* t = avoidTableCreate(l, 0.1, 1.0);
    ASSERT_NE(t, nullptr);
    for (int32_t i = 0; i < 2; ++i) t->entries[i].b = b, t->entries[i].c = 0.0, t->entries[i].flag = 0;
    EXPECT_EQ(avoidComputeC(t, l, kPi, 0.2, 0), 1);
    for (int32_t i = 0; i < 2; ++i) {
        const AvoidEntry& f = t->entries[i];
        EXPECT_EQ(f.flag, 1);
        EXPECT_NEAR(f.cLow, -0.2, 1e-12);
        EXPECT_NEAR(f.cHigh, kPi / 2 - w, 0.04);
    }
    avoidTableFree(t);
    plistFree(l);
    AvoidEntry e{};
    e.b = b, e.c = kPi, e.flag = -1;  // both ends free, the wall nearer the low one; a band found clears
    ASSERT_EQ(avoidCInterval(&e, &p, 0.2, kPi) * 10 + e.flag, 10);  // an earlier failure mark
    EXPECT_NEAR(e.cLow, kPi / 2 + w, 0.04);
    EXPECT_NEAR(e.cHigh, kPi + 0.2, 1e-12);
    e.c = kPi / 2;
    EXPECT_EQ(avoidCInterval(&e, &p, 0.1, 0.1), 0);
    EXPECT_EQ(e.flag, -1);
    // The wall turned about z to start 0.02 below C = 0: the first sample of the scan, one step of 0.087
    // up from the low end, is C itself and blocked; the band then ends at the wall above C.
    const double turn = w - kPi / 2 - 0.02;
    std::vector<Triangle3D> turned = tris;
    for (Triangle3D& t3 : turned)
        for (Vec3& v : t3.p)
            v = {v.x * std::cos(turn) - v.y * std::sin(turn), v.x * std::sin(turn) + v.y * std::cos(turn),
                 v.z};
    ASSERT_EQ(s.build(turned), 1);
    e = AvoidEntry{};
    e.b = b, e.c = 0.0;
    ASSERT_EQ(avoidCInterval(&e, &p, 2 * w + 0.2, 0.087), 1);
    EXPECT_NEAR(e.cLow, 2 * w - 0.02, 0.04);
    EXPECT_NEAR(e.cHigh, 2 * w + 0.2, 1e-12);
}

// Short of memory at any one allocation the head pass gives what it gives with memory, or ends the path
// before its first collision with the code of that hit, the axes kept untouched.
TEST(AvoidHead, ShortOfMemoryTheResultIsWholeOrCut) {
    HeadScene s;
    const std::vector<Triangle3D> tris = wall(40, -10, 150);
    ASSERT_EQ(s.build(tris), 1);
    const HeadAvoidParams hp = params(1, 0);
    Plist* ref = pathAlongX(2, 0.6, 10.0);
    ASSERT_NE(ref, nullptr);
    const Vec3 axis0 = ref->vectors[0];
    allocfail::arm(0);
    ASSERT_EQ(avoidToolHeadCollision(ref, &hp), 1);
    const long calls = allocfail::count();
    // The lists first, then a spread.
    for (const long k : {1L, 2L, 3L, 4L, 5L, 6L, 7L, 8L, calls / 2, calls}) {
        SCOPED_TRACE(k);
        Plist* l = pathAlongX(2, 0.6, 10.0);
        ASSERT_NE(l, nullptr);
        allocfail::arm(k);
        const int r = avoidToolHeadCollision(l, &hp);
        allocfail::disarm();
        const bool whole = r == 1 && l->count == 2;
        EXPECT_TRUE(whole ||
                    (r == kCollHead && l->count < 2 && toolHits(kHead, l->points[l->count], axis0, tris)));
        for (int32_t i = 0; i < l->count; ++i)
            EXPECT_VEC_NEAR(l->vectors[i], whole ? ref->vectors[i] : axis0, 0);
        plistFree(l);
    }
    plistFree(ref);
    // C turned 0.7 either way at alternate points: the C fit inserts points and the path is rebuilt. Short
    // of memory at any of the last allocations, where that happens, it comes back whole or as it was.
    const auto zigzag = [] {
        Plist* l = plistCreate(3, 1);
        for (int i = 0; l && i < 3; ++i) {
            const double c = kPi / 2 + (i % 2 ? 0.7 : -0.7);
            const Vec3 p = {5.0 * i, 0, 0},
                       a = {std::sin(0.6) * std::cos(c), std::sin(0.6) * std::sin(c), std::cos(0.6)};
            plistAppend(l, 5.0 * i, &p, 0, &a, 0);
        }
        return l;
    };
    const HeadAvoidParams hp4 = params(4, 2);
    ref = zigzag();
    allocfail::arm(0);
    ASSERT_EQ(avoidToolHeadCollision(ref, &hp4), 1);
    ASSERT_GT(ref->count, 3);
    for (long n = allocfail::count(), k = n - 1; k <= n; ++k) {
        Plist* l = zigzag();
        allocfail::arm(k);
        const int r = avoidToolHeadCollision(l, &hp4);
        allocfail::disarm();
        ASSERT_NE(l->vectors, nullptr) << k;
        const bool whole = r == 1 && l->count == ref->count;
        EXPECT_TRUE(whole || (r < 0 && l->count == 3)) << k << " " << r;
        for (int32_t i = 0; whole && i < l->count; ++i) EXPECT_VEC_NEAR(l->vectors[i], ref->vectors[i], 0);
        plistFree(l);
    }
    plistFree(ref);
}

// A path without axes or settings is refused; an empty one has nothing to do.
TEST(AvoidHead, MissingArgumentsAreRefused) {
    Plist* l = pathAlongX(3, 0.3);
    ASSERT_NE(l, nullptr);
    int32_t s = 0, e = 0;
    EXPECT_EQ(headAvoidNextRange(0, nullptr, &s, &e), 0);
    EXPECT_EQ(headAvoidNextRange(-1, l, &s, &e), 0);
    EXPECT_EQ(s * 100 + e, -101);
    const HeadAvoidParams hp = params(1, 0);
    EXPECT_EQ(avoidToolHeadCollision(nullptr, &hp), -1);
    EXPECT_EQ(avoidToolHeadCollision(l, nullptr), -1);
    Plist* bare = plistCreate(2, 0);
    ASSERT_NE(bare, nullptr);
    const Vec3 p{0, 0, 0};
    plistAppend(bare, 0, &p, 0, nullptr, 0);
    EXPECT_EQ(avoidToolHeadCollision(bare, &hp), -1);  // no axes
    bare->count = 0;
    EXPECT_EQ(avoidToolHeadCollision(bare, &hp), 1);  // nothing to do
    EXPECT_EQ(selectAvoidanceMode(nullptr, nullptr, &hp), 1);
    const HeadAvoidParams unknown = params(1, 1);
    bare->count = 1;  // a selection not implemented fails, for a range of one point too
    EXPECT_EQ(selectAvoidanceMode(nullptr, bare, &unknown), kHeadAvoidNoSolution);
    plistFree(bare);
    plistFree(l);
}

// A C profile turning faster than 0.0651 per unit of parameter between two free axes is tested once
// more at the midpoint of the two points with the mean axis: -2 when that axis meets the wall.
TEST(AvoidHead, FastCTurnIsCheckedAtTheMidpoint) {
    HeadScene s;
    const std::vector<Triangle3D> tris = wall(40, -20, 20);
    ASSERT_EQ(s.build(tris), 1);
    const struct {
        Vec3 p0, p1;
        double gap;  // the parameters' distance
        int result;
        double c0 = -0.3, c1 = 2.8;  // their mean, 1.25, leans the head into the wall
    } cases[] = {
        {{0, 0, 0}, {0.5, 0, 0}, 40, -2},
        {{0, 0, 40}, {0.5, 0, 41}, 40, -2},   // raised, still beside the wall
        {{0, -30, 0}, {0.5, -30, 0}, 40, 1},  // the midpoint decides
        {{0, -5, 0}, {0.5, -5, 0}, 40, -2},
        {{0, 0, 0}, {0.5, 0, 0}, 60, 1},
        {{0, 0, 0}, {0.5, 0, 0}, -40, -2},  // a slow turn is not tested
        {{-80, 0, 0}, {80, 0, 0}, 40, -2},
        {{0, -60, 0}, {0, 60, 0}, 40, -2},  // ends far from the wall
        {{0, 0, -200}, {0, 0, 200}, 40, -2},
        {{-80, 0, 0}, {-79.5, 0, 0}, 40, 1},
        {{0, 0, -200}, {0, 0, -199.5}, 40, 1},
        {{0, 0, 0}, {0.5, 0, 0}, 10, -2, 2.4, 0.8},  // the mean of both Cs, not of one, leans in
    };
    const double b = 0.6;
    for (const auto& c : cases) {
        const double c0 = c.c0, c1 = c.c1;
        Plist* l = plistCreate(2, 1);
        ASSERT_NE(l, nullptr);
        Vec3 a0, a1;
        dirFromAngles(&a0, c0, b), dirFromAngles(&a1, c1, b);
        plistAppend(l, 0, &c.p0, 0, &a0, 0);
        plistAppend(l, c.gap, &c.p1, 0, &a1, 0);
        AvoidTable* t = avoidTableCreate(l, b, 1.0);
        ASSERT_NE(t, nullptr);
        for (int i = 0; i < 2; ++i) {
            AvoidEntry& e = t->entries[i];
            e.b = b, e.cLow = e.c - 0.01, e.cHigh = e.c + 0.01;
        }
        EXPECT_EQ(avoidFitBandC(t, l), c.result) << c.p0.x << " " << c.p0.y << " " << c.p0.z << " " << c.gap;
        // Whatever the answer, the fitted C stays in its band and the axes carry it.
        for (int i = 0; i < 2; ++i) {
            const AvoidEntry& e = t->entries[i];
            EXPECT_NEAR(e.c, i ? c1 : c0, 0.01 + 1e-9);
            EXPECT_NEAR(std::atan2(l->vectors[i].y, l->vectors[i].x), e.c, 1e-9);
        }
        avoidTableFree(t);
        plistFree(l);
    }
}

namespace {

// A wall beside the path and a roof over part of it that only a steep axis clears: the points within the
// head's reach of the roof (2 and 3 of 7, 25 apart along x) lean towards the wall, the rest along x.
std::vector<Triangle3D> roofAndWall() {
    std::vector<Triangle3D> tris = wall(40, -100, 250);
    tris.push_back(Triangle3D{{{57.5, -60, 70}, {62.5, -60, 70}, {62.5, 30, 70}}});
    tris.push_back(Triangle3D{{{57.5, -60, 70}, {62.5, 30, 70}, {57.5, 30, 70}}});
    return tris;
}
bool leansToWall(int i) {
    return i == 2 || i == 3;
}
Plist* roofPath() {
    Plist* l = plistCreate(7, 1);
    for (int i = 0; l && i < 7; ++i) {
        const double c = leansToWall(i) ? kPi / 2 : 0.0;
        const Vec3 p = {25.0 * i, 0, 0},
                   a = {std::sin(0.6) * std::cos(c), std::sin(0.6) * std::sin(c), std::cos(0.6)};
        plistAppend(l, 25.0 * i, &p, 0, &a, 0);
    }
    return l;
}

}  // namespace

// Under a roof that only a steep axis clears, points leaning towards a wall have no free B at their C;
// leaning along the path they have. The global B pass of mode 3 turns C over the failed run and hands
// back free axes.
TEST(AvoidHead, GlobalBFallsBackOnCWhereBAloneFails) {
    HeadScene s;
    const std::vector<Triangle3D> tris = roofAndWall();
    ASSERT_EQ(s.build(tris), 1);
    const auto axis = [](double c, double b) {
        return Vec3{std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)};
    };
    Plist* l = roofPath();
    ASSERT_NE(l, nullptr);
    const int n = l->count;
    for (int i : {1, 2, 3, 4}) {  // the scene as drawn: no B free towards the wall, some along the path
        bool towards = false, along = false;
        for (double b = 0; b <= 1.0; b += 0.1) {
            towards = towards || !toolHits(kHead, l->points[i], axis(kPi / 2, b), tris);
            along = along || !toolHits(kHead, l->points[i], axis(0, b), tris);
        }
        ASSERT_TRUE(along && towards != leansToWall(i)) << i;
    }
    const HeadAvoidParams hp = params(3, 0);
    AvoidTable* t = preparedTable(l, hp);
    ASSERT_NE(t, nullptr);
    EXPECT_GE(headAvoidGlobalB(&hp, l, t), 0);
    for (int i = 0; i < n; ++i) {
        EXPECT_FALSE(toolHits(kHead, l->points[i], l->vectors[i], tris)) << i;
        EXPECT_EQ(t->entries[i].state, 0u) << i;
        EXPECT_LT(std::fabs(std::atan2(l->vectors[i].y, l->vectors[i].x)), kPi / 4)
            << i;  // away from the wall
    }
    avoidTableFree(t);
    plistFree(l);
}

// After the C fallback of mode 3 a B step of 0.345 or more between neighbours is tested once more at
// the midpoint of the two points with the mean axis. Entry 1's interval stays upright, so the B pass
// fails there and the fallback (C unchanged) frees it; entry 2 starts 0.5 higher. A post beside the
// midpoint, out of the head's reach at every point, decides: -2 and entry 2 failed when the mean axis
// meets it. A step of 0.3 is not tested, wherever the post stands.
TEST(AvoidHead, GlobalBChecksALargeBStepAtTheMidpoint) {
    for (const auto& [postY, lift] : {std::pair{25.0, 0.5}, {-25.0, 0.5}, {25.0, 0.3}}) {
        HeadScene s;
        const std::vector<Triangle3D> post = wall(postY, 82, 98);
        ASSERT_EQ(s.build(post), 1);
        Plist* l = pathAlongX(4, 0.5, 60);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = avoidTableCreate(l, 0.1, 1.0);
        ASSERT_NE(t, nullptr);
        const double band[4][2] = {{0.0, 0.55}, {0.0, 0.0}, {lift, 0.55}, {lift, 0.55}};
        for (int i = 0; i < 4; ++i) {
            AvoidEntry& e = t->entries[i];
            e.c = kPi / 2, e.bMin = e.b = band[i][0], e.bMax = band[i][1], e.state = 0;
            for (const double b : band[i])
                ASSERT_FALSE(toolHits(kHead, l->points[i], {0, std::sin(b), std::cos(b)}, post)) << i;
        }
        const HeadAvoidParams hp = params(3, 0);
        const int r = headAvoidGlobalB(&hp, l, t);
        const double bm = 0.5 * (t->entries[1].b + t->entries[2].b);
        const bool blocked = toolHits(kHead, {90, 0, 0}, {0, std::sin(bm), std::cos(bm)}, post);
        EXPECT_EQ(blocked, postY > 0);
        EXPECT_EQ(r == kHeadAvoidNoSolution, blocked && lift > 0.4) << r;
        EXPECT_EQ(t->entries[2].flag, blocked && lift > 0.4 ? -1 : 1);
        EXPECT_NEAR(t->entries[2].b - t->entries[1].b, lift, 0.05);
        avoidTableFree(t);
        plistFree(l);
    }
}

// The selective B pass of mode 1 in the same scene: the sample it takes in the colliding run has no free
// B and is marked failed; without a C retry there is no solution.
TEST(AvoidHead, SelectiveBMarksTheSampleWithoutAFreeB) {
    HeadScene s;
    ASSERT_EQ(s.build(roofAndWall()), 1);
    Plist* l = roofPath();
    ASSERT_NE(l, nullptr);
    const HeadAvoidParams hp = params(1, 2);
    AvoidTable* t = preparedTable(l, hp);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(headAvoidSelectiveB(t, l, &hp), kHeadAvoidNoSolution);
    int failed = 0;
    for (int32_t i = 0; i < t->count; ++i) {
        const int32_t f = t->entries[i].flag;
        EXPECT_TRUE(f == 0 || f == 1 || (f == -1 && leansToWall(i))) << i << " " << f;
        failed += f == -1;
    }
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(t->entries[t->count - 1].flag, 1);  // the last point is searched first, and is free
    avoidTableFree(t);
    // Ending at a point without a free B the pass fails at once, though mode 3 could turn C.
    l->count = 4;
    const HeadAvoidParams hp3 = params(3, 2);
    t = preparedTable(l, hp3);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(headAvoidSelectiveB(t, l, &hp3), kHeadAvoidNoSolution);
    for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(t->entries[i].flag, i == 3 ? -1 : 0) << i;
    avoidTableFree(t);
    plistFree(l);
}

// The C widths of the cycle are a band about each point's C, each width on its own side: with room only
// below C (mirrored: above it), the selective C pass turns the axes of both ranges that way, free of the
// wall, within the band, on its own.
TEST(AvoidHead, SelectiveCKeepsToTheCyclesWidths) {
    for (const double side : {1.0, -1.0}) {  // mirrored: the wall at -40, the room above C
        HeadScene s;
        const std::vector<Triangle3D> tris = wall(40 * side, -100, 100);
        ASSERT_EQ(s.build(tris), 1);
        const double c0 = 0.75 * side, b = 0.6;
        Plist* l = plistCreate(12, 1);
        ASSERT_NE(l, nullptr);
        for (int i = 0; i < 12; ++i) {
            const Vec3 p = {2.0 * i, 0, 0},
                       a = {std::sin(b) * std::cos(c0), std::sin(b) * std::sin(c0), std::cos(b)};
            plistAppend(l, 2.0 * i, &p, 0, &a, 0);
            ASSERT_TRUE(toolHits(kHead, p, a, tris));
        }
        HeadAvoidParams hp;
        headAvoidParamsFromCycle(&hp, 2, 2, 0.1, 1.0, 2.0, side > 0 ? 5.0 : 25.0, side > 0 ? 25.0 : 5.0);
        l->flags[6] = kPointLink << 8;  // two ranges, each treated whole
        MessageCapture capture(9);
        EXPECT_EQ(avoidToolHeadCollision(l, &hp), 1);
        ASSERT_EQ(l->count, 12);
        for (int32_t i = 0; i < l->count; ++i) {
            if (i == 6) continue;
            EXPECT_FALSE(toolHits(kHead, l->points[i], l->vectors[i], tris)) << i;
            const double c = side * std::atan2(l->vectors[i].y, l->vectors[i].x);
            EXPECT_GE(c, std::fabs(c0) - 25.0 * kPi / 180 - 1e-9) << i;
            EXPECT_LT(c, std::fabs(c0)) << i;
        }
        EXPECT_EQ(capture.countOf("7155,0"), 0);  // the band holds a free C everywhere: no global retry
        plistFree(l);
    }
}

// The per-point C search asks for the band at the cycle's widths, then at twice them, then a quarter turn
// either way: the first that holds a free C gives the band. Without a tilt no C is free.
TEST(AvoidHead, CSearchWidensTwiceThenAQuarterTurn) {
    HeadScene s;
    const std::vector<Triangle3D> tris = wall(40, -100, 100);
    ASSERT_EQ(s.build(tris), 1);
    const Vec3 p = {0, 0, 0};
    const double b = 0.3;  // a small tilt: the wall blocks a narrow C range, quickly searched
    const auto hits = [&](double c) {
        return toolHits(kHead, p, {std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)}, tris);
    };
    double lo = 0.0, hi = kPi / 2;  // the wall blocks C within w of +y
    while (hi - lo > 1e-4) (hits(kPi / 2 + 0.5 * (lo + hi)) ? lo : hi) = 0.5 * (lo + hi);
    const double w = hi;
    ASSERT_TRUE(w > 0.3 && w < 1.4) << w;  // a quarter turn clears it
    const struct {
        double c, b, width;
        int result;
        double high;  // the band's high end (with the wall inside, the band lies above it)
    } cases[] = {
        {-kPi / 2, b, 0.4, 1, -kPi / 2 + 0.4},        // free at the widths
        {kPi / 2, b, 0.7 * w, 1, kPi / 2 + 1.4 * w},  // blocked at them, free at twice
        {kPi / 2, b, 0.1 * w, 1, kPi},                // blocked at twice, free a quarter turn away
        {kPi / 2, 0.0, 0.4, 0, NAN},                  // upright: no C names a tilt
    };
    for (const auto& c : cases) {
        Plist* l = pathAlongX(1, c.b);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = avoidTableCreate(l, 0.1, 1.0);
        if (!t) {  // an upright axis makes no table: one by hand
            l->vectors[0] = {1e-3, 0, 1};
            t = avoidTableCreate(l, 0.1, 1.0);
        }
        ASSERT_NE(t, nullptr);
        AvoidEntry& e = t->entries[0];
        e.b = c.b, e.c = c.c;
        EXPECT_EQ(avoidComputeC(t, l, c.width, c.width, 0), c.result) << c.width;
        EXPECT_EQ(e.flag, c.result ? 1 : -1) << c.width;
        if (c.result) {
            EXPECT_NEAR(e.cHigh, c.high, 1e-12) << c.width;
            EXPECT_FALSE(hits(e.cLow) || hits(e.cHigh)) << c.width;
        }
        avoidTableFree(t);
        plistFree(l);
    }
}

// A roof at 70 over one point of a path: upright, C names no axis there and the head meets the roof;
// leaning 0.9 it clears it. The points beyond the roof are free. The B fallback of the C pass raises B
// there to the first whole step of 0.05 with a free C in its band and answers 2; without the fallback
// the answer is 0. With the roofed point first, the next points' B rise less and less, the last's not
// at all; with it in the middle the run reaches both ends (a failure near an end takes the rest along),
// and fails where the raised B meets a wall at an end. The head's top (80 cos B + 20 sin B) clears the
// roof from a lean of 0.81 either way: under a B max of 0.3 the run goes down instead.
TEST(AvoidHead, CPassFallsBackOnBWhereNoCIsFree) {
    const auto axis = [](double c, double b) {
        return Vec3{std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)};
    };
    const struct {
        std::vector<double> xs;
        int32_t roofed;
        bool wall;                 // across x = -228: the first point's head meets it leaning 1.0, not 0.7
        double tilt = 0, low = 0;  // the roofed point's B (a hair's lean still names a side), every B min
        double side = 1;           // -1: every C band and start mirrored below 0
        double high = 1.0;         // every B max
    } layouts[] = {{{0, 130, 150, 175}, 0, false},
                   {{-300, 0, 200}, 1, false},
                   {{-300, 0, 200}, 1, true},
                   {{-300, 0, 200}, 1, false, 5e-6, -1.5, -1},
                   {{-300, 0, 200}, 1, false, 0, -1.5, 1, 0.3}};
    for (const auto& lay : layouts) {
        HeadScene s;
        std::vector<Triangle3D> roof = {Triangle3D{{{-200, -200, 70}, {100, -200, 70}, {100, 200, 70}}},
                                        Triangle3D{{{-200, -200, 70}, {100, 200, 70}, {-200, 200, 70}}}};
        for (Triangle3D t : lay.wall ? wall(0, -200, 200) : std::vector<Triangle3D>{}) {
            for (Vec3& p : t.p) p = {-228, p.x, p.z};
            roof.push_back(t);
        }
        ASSERT_EQ(s.build(roof), 1);
        for (const int fallback : {1, 0}) {
            const int32_t n = static_cast<int32_t>(lay.xs.size()), u = lay.roofed;
            Plist* l = plistCreate(n, 1);
            ASSERT_NE(l, nullptr);
            for (int32_t i = 0; i < n; ++i) {
                const Vec3 p{lay.xs[i], 0, 0}, a = axis(0.0, i == u ? lay.tilt : 0.7);
                plistAppend(l, lay.xs[i], &p, 0, &a, 0);
            }
            const HeadAvoidParams hp = params(4, 0);
            AvoidTable* t = preparedTable(l, hp);
            ASSERT_NE(t, nullptr);
            for (int32_t i = 0; i < n; ++i) {
                AvoidEntry& e = t->entries[i];
                // C starts outside its band [0, 0.02] (mirrored: [-0.02, 0]) but at the roofed point: the
                // fallback starts from the middle.
                e.b = i == u ? lay.tilt : 0.7, e.bMin = lay.low, e.bMax = lay.high,
                e.c = i == u ? 0.0 : 0.05 * lay.side, e.cLow = std::fmin(0.0, 0.02 * lay.side),
                e.cHigh = std::fmax(0.0, 0.02 * lay.side);
            }
            t->entries[n].flag = -1;  // spare room past the last entry: never read as a failed run
            ASSERT_TRUE(toolHits(kHead, l->points[u], axis(0, lay.tilt), roof));
            EXPECT_EQ(avoidComputeC(t, l, 0.01, 0.01, fallback), fallback && !lay.wall ? 2 : 0) << u;
            if (!fallback || lay.wall) {
                avoidTableFree(t);
                plistFree(l);
                continue;
            }
            const double bu = t->entries[u].b;
            const double steps = (bu - lay.tilt) / 0.05;
            // Up first: the lean's side (or no side, upright) meets the roof.
            EXPECT_GT(lay.high < 0.81 ? -steps : steps, 0.5) << bu;
            EXPECT_TRUE(bu <= lay.high && std::fabs(steps - std::round(steps)) < 1e-9) << bu;
            const Vec3 below = axis(0.0, bu - std::copysign(0.05, steps));  // the first free step only
            EXPECT_NE(coll_check_full(&l->points[u], &below, nullptr), 1) << bu;
            for (int32_t i = 0; i < n; ++i) {
                const AvoidEntry& e = t->entries[i];
                EXPECT_EQ(e.flag, 0) << i;
                if (i > u) {  // not reached by the C pass before the roofed point failed
                    EXPECT_NEAR(e.cLow, std::fmin(0.0, 0.02 * lay.side), 1e-12) << i;
                    EXPECT_NEAR(e.cHigh, std::fmax(0.0, 0.02 * lay.side), 1e-12) << i;
                }
                if (u == 0) {
                    EXPECT_TRUE(i == n - 1 ? e.b == 0.7 : e.b > t->entries[i + 1].b) << i;
                } else if (i != u) {
                    EXPECT_NEAR(e.b, std::fmin(lay.high, 0.7 + bu - lay.tilt), 1e-12) << i;
                }
                EXPECT_FALSE(toolHits(kHead, l->points[i], axis(e.cLow, e.b), roof)) << i;
                EXPECT_FALSE(toolHits(kHead, l->points[i], axis(e.cHigh, e.b), roof)) << i;
            }
            avoidTableFree(t);
            plistFree(l);
        }
    }
}

// Point 0 of 11 (200 apart, the others leaning 0.2 to +x) upright under a roof at 70, raised by the C
// pass's B fallback; the raise, falling over the ten after, brings point 3 into a ledge it clears leaning
// less or more, so it grows. No ramp point rises more than the one before (or the run); all are free.
TEST(AvoidHead, CFallbackRampRisesNoMoreThanItsRun) {
    const auto axis = [](double c, double b) {
        return Vec3{std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)};
    };
    std::vector<Triangle3D> obst;  // the roof over point 0, the ledge beside point 3
    for (const auto& [x0, x1, z] : {std::array<double, 3>{-60, 110, 70}, {650, 710, 57}})
        obst.insert(obst.end(), {Triangle3D{{{x0, -200, z}, {x1, -200, z}, {x1, 200, z}}},
                                 Triangle3D{{{x0, -200, z}, {x1, 200, z}, {x0, 200, z}}}});
    HeadScene s;
    ASSERT_EQ(s.build(obst), 1);
    const int32_t n = 11;
    Plist* l = plistCreate(n, 1);
    for (int32_t i = 0; l && i < n; ++i) {
        const Vec3 p{200.0 * i, 0, 0}, a = axis(0.0, i == 0 ? 0.0 : 0.2);
        plistAppend(l, p.x, &p, 0, &a, 0);
    }
    AvoidTable* t = preparedTable(l, params(4, 0));
    ASSERT_NE(t, nullptr);
    for (int32_t i = 0; i < n; ++i)
        t->entries[i].b = i == 0 ? 0.0 : 0.2, t->entries[i].bMin = -1.5, t->entries[i].bMax = 1.5,
        t->entries[i].c = 0.0, t->entries[i].cLow = -0.02, t->entries[i].cHigh = 0.02;
    t->entries[n].flag = -1;  // spare room past the last entry: never read as a failed run
    ASSERT_FALSE(toolHits(kHead, l->points[3], axis(0.0, 0.2), obst));
    ASSERT_EQ(avoidComputeC(t, l, 0.01, 0.01, 1), 2);
    for (int32_t i = 0; i < n; ++i) {
        const AvoidEntry& e = t->entries[i];
        const double before = i > 1 ? t->entries[i - 1].b : t->entries[0].b + 0.2;  // the run's from 0
        EXPECT_TRUE(i == 0 || e.b <= before + 1e-12) << i;
        EXPECT_FALSE(toolHits(kHead, l->points[i], axis(e.c, e.b), obst)) << i;
    }
    avoidTableFree(t);
    plistFree(l);
}

// Selective C of mode 4 over one roofed point (10 of 12, 200 apart, the others leaning 0.2 to +x): no C
// frees the upright point, so its B rises to clear the roof and its window, the ten before it and the one
// after, ramps: no point rises more than its neighbour nearer the roofed one, and the window's ends not
// at all. The points the angle search inserts are told apart by their parameters.
TEST(AvoidHead, SelectiveCFallbackRampsOverItsWindow) {
    const std::vector<Triangle3D> roof = {Triangle3D{{{1960, -200, 70}, {2040, -200, 70}, {2040, 200, 70}}},
                                          Triangle3D{{{1960, -200, 70}, {2040, 200, 70}, {1960, 200, 70}}}};
    HeadScene s;
    ASSERT_EQ(s.build(roof), 1);
    const int32_t n = 12, u = 10;
    Plist* l = plistCreate(n, 1);
    ASSERT_NE(l, nullptr);
    for (int32_t i = 0; i < n; ++i) {
        const double b = i == u ? 0.0 : 0.2;
        const Vec3 p{200.0 * i, 0, 0}, a{std::sin(b), 0, std::cos(b)};
        plistAppend(l, p.x, &p, 0, &a, 0);
    }
    HeadAvoidParams hp;  // C widths of a degree keep the amplitude search's C scans short
    headAvoidParamsFromCycle(&hp, 4, 2, 0.1, 1.0, 2.0, 1.0, 1.0);
    AvoidTable* t = preparedTable(l, hp);
    ASSERT_NE(t, nullptr);
    EXPECT_GE(headAvoidSelectiveC(t, l, &hp), 0);
    std::vector<double> rise(n, -1.0);
    for (int32_t k = 0; k < t->count; ++k) {
        const double q = t->entries[k].parameter / 200.0;
        if (q == std::round(q)) rise[int(q)] = t->entries[k].b - (q == u ? 0.0 : 0.2);
        EXPECT_FALSE(toolHits(kHead, l->points[k], l->vectors[k], roof)) << k;
    }
    EXPECT_TRUE(rise[0] == 0.0 && rise[n - 1] == 0.0 && rise[u] > 0.6) << rise[0] << " " << rise[u];
    for (int32_t i = 0; i < n; ++i)
        EXPECT_TRUE(i == u || rise[i] <= rise[i < u ? i + 1 : i - 1] + 1e-12) << i;
    // The ramp up is a smooth step, point-symmetric about its middle: half the rise half way.
    for (int32_t i = 1; i < u; ++i) EXPECT_NEAR(rise[i] + rise[u - i], rise[u], 1e-9) << i;
    avoidTableFree(t);
    plistFree(l);
}

// Under a ceiling the head meets at every turn, the selective C pass finds no free C at its samples: no
// solution, rather than passes that never converge.
TEST(AvoidHead, SelectiveCUnderACeilingFindsNoSolution) {
    HeadScene s;
    const Vec3 a{-200, -200, 50}, b{200, -200, 50}, c{200, 200, 50}, d{-200, 200, 50};
    ASSERT_EQ(s.build({Triangle3D{{a, b, c}}, Triangle3D{{a, c, d}}}), 1);
    Plist* l = pathAlongX(3, 0.6);
    ASSERT_NE(l, nullptr);
    HeadAvoidParams hp;
    headAvoidParamsFromCycle(&hp, 2, 2, 0.1, 1.0, 2.0, 2.0, 2.0);  // narrow widths: few checks
    AvoidTable* t = preparedTable(l, hp);
    ASSERT_NE(t, nullptr);
    for (int32_t i = 0; i < t->count; ++i) ASSERT_EQ(t->entries[i].state, 1u) << i;
    EXPECT_EQ(headAvoidSelectiveC(t, l, &hp), kHeadAvoidNoSolution);
    avoidTableFree(t);
    plistFree(l);
}

// Selective C over one colliding run of 25 points: the middle point, then every tenth out from it, 2 and
// 22, are searched, and only their bands are cut back to the wall. Where the cycle's widths hold no free
// C (12 degrees each side), the search widens them: twice from the middle down, one and a half times up,
// and gives up when most points still collide after the pass.
TEST(AvoidHead, SelectiveCSamplesFromTheMiddleOut) {
    HeadScene s;
    const std::vector<Triangle3D> tris = wall(40, -10, 100);
    ASSERT_EQ(s.build(tris), 1);
    const double c0 = 0.75, b = 0.6;
    const auto hits = [&](const Vec3& p, double c) {
        return toolHits(kHead, p, {std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)}, tris);
    };
    Plist* l = nullptr;
    AvoidTable* t = nullptr;
    for (const double below : {25.0, 12.0}) {
        avoidTableFree(t), plistFree(l);
        l = plistCreate(25, 1);
        ASSERT_NE(l, nullptr);
        for (int i = 0; i < 25; ++i) {
            const Vec3 p = {2.0 * i, 0, 0},
                       a = {std::sin(b) * std::cos(c0), std::sin(b) * std::sin(c0), std::cos(b)};
            plistAppend(l, 2.0 * i, &p, 0, &a, 0);
        }
        HeadAvoidParams hp;
        headAvoidParamsFromCycle(&hp, 2, 2, 0.1, 1.0, 2.0, below == 25.0 ? 5.0 : 12.0, below);
        t = preparedTable(l, hp);
        ASSERT_NE(t, nullptr);
        // At 12 degrees the unsearched points keep no free C: after one pass most still collide.
        const int r = headAvoidSelectiveC(t, l, &hp);
        EXPECT_TRUE(below == 25.0 ? r >= 0 : r == kHeadAvoidNoConverge) << r;
        for (int i = 0; i < 25; ++i) {
            const AvoidEntry& e = t->entries[i];
            const double widen = i % 10 != 2 || below == 25.0 ? 1.0 : i <= 12 ? 2.0 : 1.5;
            EXPECT_NEAR(e.cLow, c0 - widen * hp.cMinus, 1e-12) << i << " " << below;
            if (i % 10 != 2) {
                EXPECT_NEAR(e.cHigh, c0 + hp.cPlus, 1e-12) << i;
                continue;
            }
            EXPECT_LT(e.cHigh, c0) << i;
            EXPECT_FALSE(hits(l->points[i], e.cHigh)) << i;
            EXPECT_TRUE(hits(l->points[i], e.cHigh + 0.1)) << i;
        }
    }
    // The recheck marks exactly the points whose axes meet the wall, and answers whether none does.
    for (const int lean : {0, 1}) {
        for (int i = 0; i < 25; ++i) {
            const double c = lean && i % 3 == 0 ? kPi / 2 : -kPi / 2;
            l->vectors[i] = {std::sin(b) * std::cos(c), std::sin(b) * std::sin(c), std::cos(b)};
            t->entries[i].state = 0;
        }
        EXPECT_EQ(headAvoidRecheck(l, t), lean ? 0 : 1);
        for (int i = 0; i < 25; ++i)
            EXPECT_EQ(t->entries[i].state, toolHits(kHead, l->points[i], l->vectors[i], tris) ? 1u : 0u) << i;
    }
    for (int i = 0; i < 24; ++i) l->vectors[i] = {0, -std::sin(b), std::cos(b)};
    t->count = 24;  // a colliding point past the table's end (24 leans to the wall) is not its concern
    EXPECT_EQ(headAvoidRecheck(l, t), 1);
    avoidTableFree(t);
    plistFree(l);
}

// Neighbours whose B intervals do not overlap are joined before the fit, from the first pair on: the
// later interval shrinks to the middle of the one before it (with nothing in the way every B is free);
// overlapping neighbours are left as they are.
TEST(AvoidHead, SelectiveBJoinsDisjointNeighbours) {
    collAssemblyResetState();
    Plist* l = pathAlongX(5, 0.3);
    ASSERT_NE(l, nullptr);
    const HeadAvoidParams hp = params(1, 2);
    AvoidTable* t = preparedTable(l, hp);
    ASSERT_NE(t, nullptr);
    // The last two touch their predecessor exactly, from above and from below: they meet.
    const double bands[5][2] = {{0.2, 0.4}, {0.6, 0.8}, {0.25, 0.8}, {0.8, 0.9}, {0.5, 0.8}};
    for (int i = 0; i < 5; ++i) {
        AvoidEntry& e = t->entries[i];
        e.bMin = bands[i][0], e.bMax = bands[i][1], e.b = 0.5 * (e.bMin + e.bMax), e.state = 0;
    }
    EXPECT_GE(headAvoidSelectiveB(t, l, &hp), 0);
    const double want[5][2] = {{0.2, 0.4}, {0.3, 0.3}, {0.25, 0.8}, {0.8, 0.9}, {0.5, 0.8}};
    for (int i = 0; i < 5; ++i) {
        const AvoidEntry& e = t->entries[i];
        EXPECT_NEAR(e.bMin, want[i][0], 1e-12) << i;
        EXPECT_NEAR(e.bMax, want[i][1], 1e-12) << i;
        EXPECT_TRUE(e.b >= e.bMin - 1e-9 && e.b <= e.bMax + 1e-9) << i;
    }
    avoidTableFree(t);
    plistFree(l);
}

// A global C pass whose neighbouring bands do not meet fails and tries again on every band narrowed by a
// twentieth of its width at each side, the first point's too; bands that meet are kept whole (nothing in
// the way: each band is the cycle's widths about its C).
// Bands wider than a turn (over 200 degrees each side) fail narrowed too; mode 4 then tries bands of a
// quarter turn either side of every C, and succeeds.
TEST(AvoidHead, GlobalCNarrowsEveryBandAfterAFailure) {
    collAssemblyResetState();
    for (const auto& [mode, c1, width] :
         {std::tuple{2, 2.0, 0.0}, {2, 0.1, 0.0}, {2, 0.1, 205.0}, {4, 0.1, 205.0}}) {
        Plist* l = plistCreate(3, 1);
        ASSERT_NE(l, nullptr);
        const double cs[] = {0.0, c1, c1 + 0.1};
        for (int i = 0; i < 3; ++i) {
            const Vec3 p = {2.0 * i, 0, 0},
                       a = {std::sin(0.5) * std::cos(cs[i]), std::sin(0.5) * std::sin(cs[i]), std::cos(0.5)};
            plistAppend(l, 2.0 * i, &p, 0, &a, 0);
        }
        HeadAvoidParams hp;
        headAvoidParamsFromCycle(&hp, mode, 0, 0.1, 1.0, 2.0, 5.0 + width, 10.0 + width);
        AvoidTable* t = preparedTable(l, hp);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(headAvoidGlobalC(&hp, l, t) >= 0, !width || mode == 4) << mode << " " << width;
        const double cut = c1 > 1.0 ? 0.05 * (hp.cPlus + hp.cMinus) : 0.0;
        for (const int i : {0, 2}) {  // the ends (the fill may add points between)
            if (width) break;
            const AvoidEntry& e = t->entries[i ? t->count - 1 : 0];
            EXPECT_NEAR(e.cLow, cs[i] - hp.cMinus + cut, 1e-9) << i << " " << c1;
            EXPECT_NEAR(e.cHigh, cs[i] + hp.cPlus - cut, 1e-9) << i << " " << c1;
        }
        avoidTableFree(t);
        plistFree(l);
    }
}

// The B pass keeps an entry whose B interval reaches 1e-5 above upright, not one that stays below.
TEST(AvoidHead, BPassNeedsBMaxOfAtLeast1e5) {
    collAssemblyResetState();  // nothing in the way
    for (const double top : {1e-5, 0.99e-5}) {
        Plist* l = pathAlongX(2, 0.3);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = avoidTableCreate(l, 0.3, 1.0);
        ASSERT_NE(t, nullptr);
        for (int i = 0; i < 2; ++i) t->entries[i].bMin = 0.0, t->entries[i].bMax = i ? top : 0.5;
        EXPECT_EQ(avoidComputeB(t, l, 0.1, 0.1, 0), top >= 1e-5 ? 1 : 0) << top;
        EXPECT_EQ(t->entries[1].flag, top >= 1e-5 ? 1 : -1) << top;
        avoidTableFree(t);
        plistFree(l);
    }
}

// The B pass's C fallback over a run leaning into a wall, after entries leaning along the path: C
// interpolated towards the anchor after the widened run. Towards C = pi it passes the wall's side where
// no B is free: no success. A run reaching the end has its last C turned free first (the C widths allow
// no step, the retry a quarter turn): success, every entry with its B interval.
TEST(AvoidHead, CFallbackSucceedsOnlyWithEveryEntryFound) {
    HeadScene s;
    const std::vector<Triangle3D> wallTris = wall(40, -100, 200);
    ASSERT_EQ(s.build(wallTris), 1);
    const struct {
        int n, from, to;  // entries [from, to) lean at c into the wall, the later ones at after
        double c, after;
        bool success;
    } cases[] = {
        {15, 4, 5, kPi / 2, kPi, false}, {23, 21, 23, 1.0, kPi, true}, {34, 21, 22, kPi / 2, -0.5, true}};
    for (const auto& c : cases) {
        Plist* l = pathAlongX(c.n, 0.8);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = avoidTableCreate(l, 0.65, 1.0);
        ASSERT_NE(t, nullptr);
        for (int i = 0; i < c.n; ++i) {
            AvoidEntry& e = t->entries[i];
            e.c = i < c.from ? 0.0 : i < c.to ? c.c : c.after, e.b = 0.62, e.bMin = 0.6, e.bMax = 0.65;
            e.state = i >= c.from && i < c.to;
        }
        t->entries[c.n].flag = -1;  // spare room past the last entry: never read as a failed run
        const int r = avoidComputeB(t, l, 0.05, 0.05, 1);
        EXPECT_EQ(r == 2, c.success) << c.n << " " << r;
        for (int i = 0; r == 2 && i < c.n; ++i) {  // C kept before the window, 10 before the widened run
            EXPECT_EQ(t->entries[i].flag, 1) << c.n << " " << i;
            EXPECT_TRUE(i >= c.from - 19 || t->entries[i].c == 0.0) << i;
        }
        // A window kept at both ends runs C straight from one end's C to the other's.
        const int w0 = c.from - 19, w1 = c.to + 9;
        for (int i = w0; r == 2 && w0 > 0 && w1 < c.n - 1 && i <= w1; ++i)
            EXPECT_NEAR(t->entries[i].c, c.after * (i - w0) / (w1 - w0), 1e-9) << i;
        avoidTableFree(t);
        plistFree(l);
    }
    // Five points leaning at C = pi / 2 at B 0.15, which clears the wall at every C; entry 2 at B 0.32
    // meets it at every C within the widths (0.5), at bMin (0.27) only near pi / 2. Where the straight
    // C fails, that entry must be turned, B and C together, before its band is widened: else no B in
    // its interval is free at the fitted C.
    const auto hits = [&](const Vec3& p, double c, double b) {
        Vec3 a;
        dirFromAngles(&a, c, b);
        return toolHits(kHead, p, a, wallTris);
    };
    Plist* l = pathAlongX(5, 0.15);
    ASSERT_NE(l, nullptr);
    AvoidTable* t = avoidTableCreate(l, 0.15, 1.0);
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < 5; ++i) {
        AvoidEntry& e = t->entries[i];
        e.c = kPi / 2, e.state = i == 2;
        e.b = e.bMax = i == 2 ? 0.32 : 0.2, e.bMin = i == 2 ? 0.27 : 0.1;
    }
    const Vec3 p2 = l->points[2];
    ASSERT_TRUE(hits(p2, kPi / 2 + 0.5, 0.32) && hits(p2, kPi / 2 - 0.5, 0.32) && hits(p2, kPi / 2, 0.27));
    ASSERT_FALSE(hits(p2, kPi / 2 + 0.48, 0.27) || hits(p2, kPi / 2 - 0.48, 0.27));
    EXPECT_EQ(avoidComputeB(t, l, 0.5, 0.5, 1), 2);
    for (int i = 0; i < 5; ++i) {
        const AvoidEntry& e = t->entries[i];
        EXPECT_EQ(e.flag, 1) << i;
        EXPECT_FALSE(hits(l->points[i], e.c, e.bMin) || hits(l->points[i], e.c, e.bMax)) << i;
    }
    avoidTableFree(t);
    plistFree(l);
    // Entry 2 fails only by a B max under 1e-5, which any C passes; entry 0's B meets the wall though its
    // interval is free. Its window starts inside the widened run, so it must come out turned free.
    l = pathAlongX(5, 0.15);
    ASSERT_NE(l, nullptr);
    t = avoidTableCreate(l, 0.15, 1.0);
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(hits(l->points[0], kPi / 2, 0.32));
    for (int i = 0; i < 5; ++i) {
        AvoidEntry& e = t->entries[i];
        e.c = kPi / 2, e.state = 0, e.b = i ? 0.0 : 0.32, e.bMin = i ? 0.0 : 0.1,
        e.bMax = i == 2 ? 0.5e-5 : 0.2;
    }
    EXPECT_EQ(avoidComputeB(t, l, 0.5, 0.5, 1), 2);
    EXPECT_FALSE(hits(l->points[0], t->entries[0].c, t->entries[0].b));
    avoidTableFree(t);
    plistFree(l);
}

// A wall at y = -19 blocks the upright head; tilting towards +y (C = pi / 2) soon frees it, towards
// C = asin(0.25) only past B = 0.1. The interval grown about the middle of the predecessor's steps down
// while B stays above 0 (the upright axis is never tried) and ends at the sampled edge where a step
// meets the wall. A second wall at y = 60 meets the head leaning towards +y from B = 0.57 on; towards
// the other C nothing blocks above, so B max stays put.
TEST(AvoidHead, GrownIntervalStepsDownToTheWallButNotToUpright) {
    const Vec3 p = {0, 0, 0};
    HeadScene s;
    std::vector<Triangle3D> walls = wall(-19, -100, 100), far = wall(60, -100, 100);
    walls.insert(walls.end(), far.begin(), far.end());
    ASSERT_EQ(s.build(walls), 1);
    for (const double c : {kPi / 2, std::asin(0.25)}) {
        const bool steep = c > 1;
        const auto freeAt = [&](double b) {
            Vec3 a;
            dirFromAngles(&a, c, b);
            return coll_check_full(&p, &a, nullptr) == 1;
        };
        double edge = 0.3, top = 0.05;  // the last free samples from 0.3 down every 0.002, 0.05 up every 0.01
        while (freeAt(edge - 0.002)) edge -= 0.002;
        while (steep && top < 1.2 && freeAt(top + 0.01)) top += 0.01;
        ASSERT_TRUE(!freeAt(0.0) && freeAt(0.05) == steep && !freeAt(0.1) != steep) << c;
        AvoidEntry prev{}, e{};
        prev.bMin = steep ? 0.0 : 0.25, prev.bMax = steep ? 0.1 : 0.35, e.c = c;
        ASSERT_EQ(avoidGrowIntervalB(&prev, &e, &p, 1.2), 1);
        if (steep) {
            EXPECT_EQ(e.bMin, 0.05);
            EXPECT_NEAR(e.bMax, top, 0.016);
            EXPECT_TRUE(top > 0.5 && top < 0.6) << top;
        } else {
            EXPECT_NEAR(e.bMin, edge, 0.007);
            EXPECT_EQ(e.bMax, 0.3);
        }
    }
}
