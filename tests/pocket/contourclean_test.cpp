#include "pocket/contourclean.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernel/base/rng.h"
#include "offset_util.h"
#include "pocket/elemaccess.h"
#include "pocket/elemprim.h"
#include "vecnear.h"

using offsettest::kPi;

namespace {

// A closed chain of n short lines around a regular polygon of radius 50.
std::vector<ContourElement> ring(int n) {
    std::vector<Vec2> p;
    for (int i = 0; i < n; ++i) p.push_back({50 * std::cos(2 * kPi * i / n), 50 * std::sin(2 * kPi * i / n)});
    return polygon(p);
}

}  // namespace

// The zig-zag's middle line goes exactly when it is no longer than the limit, also within
// rounding of it, where its squared length alone cannot tell; cleaning removes one of 0.005
// and its neighbours meet at its middle.
TEST(ContourClean, ZigzagGoesUpToTheLimitAndItsNeighboursMeetAtItsMiddle) {
    PocketErrors state;
    for (double h : {0.005, 0.0099, 0.01 - 1e-15, 0.01, 0.01 + 1e-15, 0.0101, 0.02}) {
        const std::vector<ContourElement> zig = {lineElem(0, 0, 5, 0),    lineElem(5, 0, 5, h),
                                                 lineElem(5, h, 10, h),   lineElem(10, h, 10, 10),
                                                 lineElem(10, 10, 0, 10), lineElem(0, 10, 0, 0)};
        std::vector<ContourElement> c = zig;
        const double length = std::hypot(c[1].g[kLx2] - c[1].g[kLx1], c[1].g[kLy2] - c[1].g[kLy1]);
        EXPECT_EQ(chainRemoveZigzags(c.data(), 6, 0.01), length <= 0.01 ? 5 : 6) << h;
        c = zig;
        const int32_t n = contourClean(c.data(), 6);
        EXPECT_EQ(contourIsClosed(c.data(), n), 1);
        if (h != 0.005) continue;
        ASSERT_EQ(n, 5);
        EXPECT_XY(EXPECT_NEAR, offsettest::endPoint(c[0]), 5, h / 2, 1e-12);
        EXPECT_XY(EXPECT_NEAR, offsettest::startPoint(c[1]), 5, h / 2, 1e-12);
    }
    // Between two small arcs (chords under 1, away from the origin) a jog goes the same way; their ends
    // moving by half the jog do not turn them over.
    std::vector<ContourElement> arcs = {arcElem(-3, -0.5, 0.5, kPi, kPi / 2, -1), lineElem(-3, 0, -3, 0.005),
                                        arcElem(-3, -0.495, 0.5, kPi / 2, 0, -1)};
    arcs[0].g[kAex] = -3;
    arcs[0].g[kAey] = 0;
    arcs[2].g[kAsx] = -3;
    arcs[2].g[kAsy] = 0.005;
    ASSERT_EQ(chainRemoveZigzags(arcs.data(), 3, 0.01), 2);
    EXPECT_XY(EXPECT_NEAR, offsettest::endPoint(arcs[0]), -3, 0.0025, 1e-12);
    EXPECT_XY(EXPECT_NEAR, offsettest::startPoint(arcs[1]), -3, 0.0025, 1e-12);
    // After a left-turning arc from s to (0, 0), a jog up to (0, 1) goes unless moving the arc's end to
    // the jog's middle J = (0, 0.5) turns the arc over: s strictly inside the circle on (0, 0)-J as
    // diameter (the chord then swings more than a right angle), or s within 1e-6 of J (no chord left).
    const struct {
        Vec2 s;
        int32_t count;
    } flips[] = {{{0.1, 0.25}, 3},     {{-0.5, 0.5}, 2},     {{0.25, 0.5}, 2}, {{-0.25, 0.25}, 2},
                 {{0, 0.5 + 5e-7}, 3}, {{0, 0.5 + 2e-6}, 2}, {{0, 0.5}, 3}};
    for (const auto& f : flips) {
        // A quarter turn: the centre stands half the chord to the left of the chord's middle.
        const double cx = f.s.x / 2 + f.s.y / 2, cy = f.s.y / 2 - f.s.x / 2;
        ContourElement arc =
            arcElem(cx, cy, std::hypot(cx, cy), std::atan2(f.s.y - cy, f.s.x - cx), std::atan2(-cy, -cx), 1);
        arc.g[kAsx] = f.s.x, arc.g[kAsy] = f.s.y, arc.g[kAex] = 0, arc.g[kAey] = 0;
        std::vector<ContourElement> c = {arc, lineElem(0, 0, 0, 1), lineElem(0, 1, 5, 1)};
        ASSERT_EQ(chainRemoveZigzags(c.data(), 3, 1.5), f.count) << f.s.x << ' ' << f.s.y;
        if (f.count == 2) EXPECT_XY(EXPECT_EQ, offsettest::endPoint(c[0]), 0, 0.5);
    }
    // Neighbour lines meet where they cross when that lies within the limit of the jog's middle
    // (10.002, 0.002), else at the middle.
    for (double dy : {-9.996, -4.998}) {
        std::vector<ContourElement> c = {lineElem(0, 0, 10, 0), lineElem(10, 0, 10.004, 0.004),
                                         lineElem(10.004, 0.004, 20, 0.004 + dy)};
        ASSERT_EQ(chainRemoveZigzags(c.data(), 3, 0.01), 2);
        const double x = 10.004 - 0.004 * 9.996 / dy, d = std::hypot(x - 10.002, 0.002);
        EXPECT_XY(EXPECT_NEAR, offsettest::endPoint(c[0]), d <= 0.01 ? x : 10.002, d <= 0.01 ? 0 : 0.002,
                  1e-12);
        EXPECT_XY(EXPECT_NEAR, offsettest::startPoint(c[1]), d <= 0.01 ? x : 10.002, d <= 0.01 ? 0 : 0.002,
                  1e-12);
    }
    // A crossing exactly the limit from the jog's middle (legs 12 and 5, 13 / 1024 apart) is taken.
    std::vector<ContourElement> tie = {lineElem(-10, 0, 0, 0), lineElem(0, 0, 0, 10.0 / 1024),
                                       lineElem(0, 10.0 / 1024, 0.75, -630.0 / 1024)};
    ASSERT_EQ(chainRemoveZigzags(tie.data(), 3, 13.0 / 1024), 2);
    EXPECT_XY(EXPECT_NEAR, offsettest::endPoint(tie[0]), 12.0 / 1024, 0, 1e-15);
    // A jog that is a short arc (a quarter of radius 0.0025) goes as a line would; its neighbours meet
    // where they cross. Against a limit of 1 a quarter of radius 0.68 stays: its length is above it, its
    // chord not.
    for (const auto& [r, limit] : {std::pair{0.0025, 0.01}, std::pair{0.68, 1.0}}) {
        std::vector<ContourElement> jog = {lineElem(0, 0, 5, 0), arcElem(5 + r, 0, r, kPi, kPi / 2, -1),
                                           lineElem(5 + r, r, 10, 2 * r - 5)};
        ASSERT_EQ(chainRemoveZigzags(jog.data(), 3, limit), r < 0.1 ? 2 : 3);
        EXPECT_XY(EXPECT_NEAR, offsettest::endPoint(jog[0]), r < 0.1 ? 5 + 2 * r : 5, 0, 1e-9);
    }
    // A spike beside an arc, after it or before it: the arc keeps its end at (0, 0), the line meets it there.
    const std::vector<ContourElement> after = {arcElem(0, 1, 1, -kPi, -kPi / 2, 1), lineElem(0, 0, -0.005, 0),
                                               lineElem(-0.005, 0, 5, 0)},
                                      before = {lineElem(5, 0, -0.005, 0), lineElem(-0.005, 0, 0, 0),
                                                arcElem(0, 1, 1, -kPi / 2, -kPi, -1)};
    for (std::vector<ContourElement> spike : {after, before}) {
        ASSERT_EQ(chainRemoveSpikes(spike.data(), 3, 0.01), 2);
        EXPECT_XY(EXPECT_NEAR, offsettest::endPoint(spike[0]), 0, 0, 1e-12);
        EXPECT_XY(EXPECT_NEAR, offsettest::startPoint(spike[1]), 0, 0, 1e-12);
    }
}

// Arcs whose centre or radius disagrees with their ends: a radius within 0.001 of the mean end
// distance takes it, a centre that moves at least 0.001 is replaced, one that would move more than
// 0.9 radius turns the arc into a line between its ends.
TEST(ContourClean, ArcRepairOfCentreAndRadius) {
    auto arc = [](double sx, double sy, double ex, double ey, double cx, double cy, double r) {
        ContourElement e{};
        e.type = kElemArc;
        e.direction = 1;
        const double g[7] = {cx, cy, sx, sy, ex, ey, r};
        std::copy(g, g + 7, e.g);
        return e;
    };
    const double mean = 0.5 * (std::hypot(0.51, 2) + std::hypot(0.49, 2)), off = 9.9999975e-4;
    const struct {
        ContourElement in;
        int type;
        double cx, cy, r;  // expected for an arc
    } cases[] = {
        {arc(5, 0, 0, 5, 0.01, 0.01, 5), kElemArc, 0, 0, 5},  // centre back on the bisector at radius 5
        {arc(3.001, -4, 3.001, 4, -0.001, 0, 5), kElemArc, 0.001, 0, 5},  // moved 0.002 across x = 0
        {arc(5, 0, 0, 5, 3e-4, 3e-4, 5), kElemArc, 3e-4, 3e-4, std::hypot(5 - 3e-4, 3e-4)},  // radius only
        {arc(0, 0, 1.9, 0, 0.95, -2, 1), kElemLine, 0, 0, 0},         // far off: a line
        {arc(0, 0, 1e-4, 0, -4e-5, 1e-5, 9e-5), kElemLine, 0, 0, 0},  // a tiny arc far off its ends
        {arc(1, 1, 1, 1, 3, 1, 2), kElemArc, 3, 1, 2},                // no chord: left alone
        // Away from the origin: the radius of the ends' mean, and a chord of 1 whose centre goes back onto
        // the bisector at that radius.
        {arc(105, 100, 100, 105, 100.0003, 100.0003, 5), kElemArc, 100.0003, 100.0003,
         std::hypot(5 - 3e-4, 3e-4)},
        {arc(10, 10, 11, 10, 10.51, 12, std::hypot(0.5, 2)), kElemArc, 10.5,
         10 + std::sqrt(mean * mean - 0.25), mean},
        // A centre 0.00099999975 off the bisector (a move 2e-11 longer, still below 0.001) stays.
        {arc(-1, 0, 1, 0, off, 2, std::sqrt(5.0)), kElemArc, off, 2,
         0.5 * (std::hypot(1 + off, 2) + std::hypot(1 - off, 2))},
    };
    for (const auto& c : cases) {
        ContourElement e = c.in;
        EXPECT_EQ(arcFixRadius(&e), 0);
        ASSERT_EQ(e.type, c.type) << c.in.g[kAcx];
        if (c.type == kElemLine) {
            EXPECT_XY(EXPECT_EQ, (Vec2{e.g[kLx1], e.g[kLy1]}), c.in.g[kAsx], c.in.g[kAsy]);
            EXPECT_XY(EXPECT_EQ, (Vec2{e.g[kLx2], e.g[kLy2]}), c.in.g[kAex], c.in.g[kAey]);
            continue;
        }
        EXPECT_NEAR(e.g[kAcx], c.cx, 1e-9);
        EXPECT_NEAR(e.g[kAcy], c.cy, 1e-9);
        EXPECT_NEAR(e.g[kAr], c.r, 1e-9);
    }
}

TEST(ContourClean, WhatStaysAndWhatGoes) {
    PocketErrors state;
    const struct {
        std::vector<ContourElement> chain;
        int32_t count;
        int32_t joined = -1;  // an element whose start must meet the end of the one before it
    } cases[] = {
        // A short step at position 0 is never removed as a zig-zag.
        {{lineElem(5, 0, 5, 0.005), lineElem(5, 0.005, 10, 0.005), lineElem(10, 0.005, 10, 10),
          lineElem(10, 10, 0, 10), lineElem(0, 10, 0, 0), lineElem(0, 0, 5, 0)},
         6},
        // A step between tags of both kinds joins a connecting move: kept.
        {{lineElem(0, 0, 5, 0), lineElem(5, 0, 5, 0.005, -3), lineElem(5, 0.005, 10, 0.005),
          lineElem(10, 0.005, 10, 10), lineElem(10, 10, 0, 10), lineElem(0, 10, 0, 0)},
         6},
        // A point-like element goes; the following line starts where it started.
        {{lineElem(0, 0, 10, 0), lineElem(10, 0, 10.0001, 0.0001), lineElem(10.0001, 0.0001, 10, 10),
          lineElem(10, 10, 0, 0)},
         3, 1},
        // One 0.0002 across in x or in y is no point: kept.
        {{lineElem(-10, 0, 0, 0), lineElem(0, 0, 2e-4, 1e-4), lineElem(2e-4, 1e-4, 0, 10),
          lineElem(0, 10, -10, 0)},
         4},
        {{lineElem(-10, 0, 0, 0), lineElem(0, 0, 1e-4, 2e-4), lineElem(1e-4, 2e-4, 0, 10),
          lineElem(0, 10, -10, 0)},
         4},
        // A short step back and forth.
        {{lineElem(0, 0, 10, 0), lineElem(10, 0, 10, 5.005), lineElem(10, 5.005, 10, 5),
          lineElem(10, 5, 10, 10), lineElem(10, 10, 0, 0)},
         4},
        // A full circle of one arc is a contour, not a point.
        {{arcElem(0, 0, 5, 0, 2 * kPi, 1)}, 1},
    };
    for (const auto& c : cases) {
        std::vector<ContourElement> chain = c.chain;
        EXPECT_EQ(contourClean(chain.data(), static_cast<int32_t>(chain.size())), c.count);
        const Vec2 end = c.joined > 0 ? offsettest::endPoint(chain[c.joined - 1]) : Vec2{};
        if (c.joined > 0) EXPECT_XY(EXPECT_EQ, offsettest::startPoint(chain[c.joined]), end.x, end.y);
    }
    std::vector<ContourElement> spike = {lineElem(0, 0, 10, 0), lineElem(10, 0, 10, 5.005),
                                         lineElem(10, 5.005, 10, 5), lineElem(10, 5, 10, 10),
                                         lineElem(10, 10, 0, 0)};
    ASSERT_EQ(chainRemoveSpikes(spike.data(), 5, 5.005 - 5), 4);  // a step back exactly the limit long
    EXPECT_NEAR(spike[1].g[kLy2], 5.0025, 1e-12);
    EXPECT_NEAR(spike[2].g[kLy1], 5.0025, 1e-12);
    // A short step back whose next element leaves it at 120 degrees, not straight back: no spike.
    std::vector<ContourElement> bent = {
        lineElem(0, 0, 10, 0), lineElem(10, 0, 10, 5.005), lineElem(10, 5.005, 10, 5),
        lineElem(10, 5, 10 + 5 * std::sqrt(3.0), 7.5), lineElem(10 + 5 * std::sqrt(3.0), 7.5, 0, 0)};
    EXPECT_EQ(chainRemoveSpikes(bent.data(), 5, 0.01), 5);
    // A spike whose back step and next element are open while the step out is material: no run of one kind.
    std::vector<ContourElement> mixed = {lineElem(0, 0, 10, 0, 0), lineElem(10, 0, 10, 5.005, 0),
                                         lineElem(10, 5.005, 10, 5, -1), lineElem(10, 5, 10, 10, -1),
                                         lineElem(10, 10, 0, 0, 0)};
    EXPECT_EQ(chainRemoveSpikes(mixed.data(), 5, 0.01), 5);
    // The same with the spike second: its neighbours meet at its middle as well.
    std::vector<ContourElement> second = {lineElem(10, 0, 10, 5.005), lineElem(10, 5.005, 10, 5),
                                          lineElem(10, 5, 10, 10), lineElem(10, 10, 0, 0),
                                          lineElem(0, 0, 10, 0)};
    ASSERT_EQ(chainRemoveSpikes(second.data(), 5, 0.01), 4);
    EXPECT_NEAR(second[0].g[kLy2], 5.0025, 1e-12);
    EXPECT_NEAR(second[1].g[kLy1], 5.0025, 1e-12);
}

// Lengths along a line and a quarter circle up to a point on them, and what remains of each.
TEST(ContourClean, LengthsUpToAPoint) {
    const struct {
        ContourElement e;
        Vec2 at;
        double done, rest;
    } cases[] = {
        {lineElem(0, 0, 0, 8), {0, 3}, 3, 5},
        {arcElem(1, 1, 2, 0, kPi / 2, 1), {1 + std::sqrt(2.0), 1 + std::sqrt(2.0)}, kPi / 2, kPi / 2},
        {arcElem(1, 1, 2, 0, kPi / 2, 1), {1, 3}, kPi, 0}};
    for (const auto& c : cases) {
        double rest = -1;
        EXPECT_NEAR(elemLengthTo(&c.e, &c.at, &rest), c.done, 1e-9) << c.e.type << " " << c.at.x;
        EXPECT_NEAR(rest, c.rest, 1e-9);
    }
}

TEST(ContourClean, ShortReductionStartsAtFortyAndStraightensHugeArcs) {
    PocketErrors state;
    for (int n : {39, 40}) {
        std::vector<ContourElement> c = ring(n);
        c[5] = lineElem(c[5].g[0], c[5].g[1], c[5].g[0] + 1e-3, c[5].g[1] + 1e-3);  // a tiny zig-zag
        c[6].g[kLx1] = c[5].g[kLx2];
        c[6].g[kLy1] = c[5].g[kLy2];
        int32_t count = n;
        EXPECT_EQ(contourReduceShort(c.data(), &count, 0.01), n >= 40 ? 1 : 0);
        EXPECT_EQ(count, n >= 40 ? n - 1 : n);
    }
    const struct {
        double radius;
        int32_t type;
    } arcs[] = {{10000, kElemLine}, {9999.9, kElemArc}, {1e6, kElemLine}};
    for (const auto& a : arcs) {
        std::vector<ContourElement> c = ring(40);
        const double x1 = c[3].g[kLx1], y1 = c[3].g[kLy1], x2 = c[3].g[kLx2], y2 = c[3].g[kLy2];
        c[3].type = kElemArc;
        c[3].g[kAsx] = x1;
        c[3].g[kAsy] = y1;
        c[3].g[kAex] = x2;
        c[3].g[kAey] = y2;
        c[3].g[kAr] = a.radius;
        c[3].direction = 1;
        std::vector<ContourElement> d = c;
        EXPECT_EQ(arcsToLines(d.data(), 40), a.type == kElemLine ? 1 : 0) << a.radius;
        int32_t count = 40;
        contourReduceShort(c.data(), &count, 0.01);
        EXPECT_EQ(c[3].type, a.type) << a.radius;
        EXPECT_EQ(arcsToLines(c.data(), 40), 0);
    }
}

TEST(ContourClean, SweepsAndLengthsOfArcs) {
    PocketErrors state;
    const struct {
        double a0, a1;
        int dir;
        double sweep;
    } cases[] = {{0, kPi / 2, 1, kPi / 2}, {kPi / 2, 0, -1, -kPi / 2},  {0, kPi, 1, kPi},
                 {0, kPi, -1, -kPi},       {0, -kPi / 2, 1, 1.5 * kPi}, {1, 1.5, -1, -2 * kPi + 0.5}};
    for (const auto& c : cases) {
        const ContourElement arc = arcElem(2, -1, 3, c.a0, c.a1, c.dir);
        EXPECT_NEAR(arcSweepAngle(&arc), c.sweep, 1e-9) << c.a0 << " " << c.a1;
    }
    rngResetState();
    for (int i = 0; i < 500; ++i) {
        const double r = 0.1 + rngUniform() * 20, sweep = 0.05 + rngUniform() * 6.1, a0 = rngUniform() * 7;
        const int dir = rngBelow(2) ? 1 : -1;
        const ContourElement arc = arcElem(rngUniform(), rngUniform(), r, a0, a0 + dir * sweep, dir);
        EXPECT_NEAR(elemLength(&arc), r * sweep, 1e-7 * r) << i;
    }
    const ContourElement half = arcElem(0, 0, 2, 0, kPi, 1);
    const Vec2 top{0, 2};
    double rest = 0;
    EXPECT_NEAR(elemLengthTo(&half, &top, &rest), kPi, 1e-12);
    EXPECT_NEAR(rest, kPi, 1e-12);
    const ContourElement tiny = arcElem(0, 0, 1, 0, 0.005, 1);
    EXPECT_NEAR(elemLength(&tiny), 2 * std::sin(0.0025), 1e-15);  // the chord below 0.01
}

// Boxes of seeded chains of lines and arcs (an arc's box reaches its circle's extremes where it sweeps past
// them) against dense samples along the elements; an empty chain's box is the origin; an element of no
// known type has no length.
TEST(ContourClean, ChainBoxesMatchDenseSamples) {
    rngResetState();
    for (int i = 0; i < 200; ++i) {
        std::vector<ContourElement> c;
        for (int k = 0; k < 1 + rngBelow(4); ++k) {
            const double x = 40 * rngUniform() - 20, y = 40 * rngUniform() - 20, r = 0.1 + 10 * rngUniform();
            const double a0 = 7 * rngUniform(), sweep = 0.05 + 6.2 * rngUniform();
            const int dir = rngBelow(2) ? 1 : -1;
            c.push_back(rngBelow(2) ? lineElem(x, y, x + r * std::cos(a0), y + r * std::sin(a0))
                                    : arcElem(x, y, r, a0, a0 + dir * sweep, dir));
        }
        Vec2 lo{1e9, 1e9}, hi{-1e9, -1e9};
        for (const ContourElement& e : c)
            for (int k = 0; k <= 720; ++k) {
                const Vec2 p = offsettest::pointAlong(e, k / 720.0);
                lo = {std::min(lo.x, p.x), std::min(lo.y, p.y)};
                hi = {std::max(hi.x, p.x), std::max(hi.y, p.y)};
            }
        Vec2 min, max;
        chainBoundingBox(c.data(), static_cast<int32_t>(c.size()), &min, &max);
        for (const auto& [got, want] :
             {std::pair{min.x, lo.x}, {min.y, lo.y}, {-max.x, -hi.x}, {-max.y, -hi.y}}) {
            EXPECT_LE(got, want + 1e-9) << i;
            EXPECT_GE(got, want - 1e-3) << i;
        }
    }
    Vec2 min{5, 5}, max{5, 5};
    const ContourElement one = lineElem(3, 4, 6, 8);
    chainBoundingBox(&one, 0, &min, &max);
    EXPECT_XY(EXPECT_EQ, min, 0, 0);
    EXPECT_XY(EXPECT_EQ, max, 0, 0);
    ContourElement unknown = one;
    unknown.type = 9;
    EXPECT_EQ(elemLength(&unknown), 0);
}
