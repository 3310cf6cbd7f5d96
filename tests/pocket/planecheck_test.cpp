#include "pocket/planecheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "kernel/base/rng.h"
#include "offset_util.h"
#include "pocket/elemdist.h"
#include "pocket/elemgap.h"
#include "pocket/elemprim.h"
#include "ringtest_util.h"

namespace {

using offsettest::circle;
using offsettest::kPi;

void insert(const char* list, std::vector<ContourElement> c, double bottom = 0) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(c.size());
    h.bottom = bottom;
    h.allowance = 1;
    ASSERT_EQ(clistInsert(list, c.data(), &h, -1), 1);
}

TEST(PlaneCheck, WallAllowanceAndOpenSides) {
    PocketErrors errors;
    // A ball of diameter 12, a radius mill's corner of 4 and a flat end: the corner radius in output
    // units at scale 2; a scale not set (zero or below) counts as 1.
    const struct {
        int32_t toolType;
        double scale, rc;
    } tools[] = {{1, 2, 3}, {3, 2, 2}, {0, 2, 0}, {1, 0, 6}, {3, -1, 4}};
    for (const auto& t : tools) {
        clistCreate("MAIN");
        insert("MAIN", box(0, 0, 100, 100), 6);
        insert("MAIN", box(10, 10, 20, 20), -3);  // below the plane bottom: unchanged
        insert("MAIN", box(30, 30, 40, 40), 2);   // at the plane bottom: changed as well
        kvCCPParams.surface = 10;
        kvCCPParams.depth = 8;
        kvCCPParams.toolDiameter = 12;
        kvCCPParams.cornerRadius = 4;
        kvCCPParams.toolType = t.toolType;
        pocketKernel().geometryScale = t.scale;
        kvCCPParams.wallAngle = 1e-5;
        EXPECT_EQ(wallAngleAllowance("MAIN"), 0);
        kvCCPParams.wallAngle = 10;
        EXPECT_EQ(wallAngleAllowance("MAIN"), 1);
        const double a = 10 * kPi / 180, rc = t.rc, sc = t.scale > 0 ? t.scale : 1;
        const double off = sc * (std::tan(a) * (4 - (1 - std::sin(a)) * rc) - (1 - std::cos(a)) * rc);
        ContourHeader h{};
        clistGetHeader("MAIN", &h, 0);
        EXPECT_NEAR(h.allowance, 1 + off, 1e-12) << t.toolType;
        EXPECT_NEAR(pocketAllowanceGet(0), 1 + off, 1e-12);
        clistGetHeader("MAIN", &h, 1);
        EXPECT_EQ(h.allowance, 1);
        const double atBottom = sc * (std::tan(a) * (0 - (1 - std::sin(a)) * rc) - (1 - std::cos(a)) * rc);
        clistGetHeader("MAIN", &h, 2);
        EXPECT_NEAR(h.allowance, 1 + atBottom, 1e-12) << t.toolType;
        EXPECT_NEAR(pocketAllowanceGet(2), 1 + atBottom, 1e-12);
    }

    ContourHeader h{};
    // Islands whose bottom edge runs at a height above the outer boundary's, and one reaching outside.
    const double heights[] = {0.07, 0.0701, 5};
    clistCreate("MAIN");
    insert("MAIN", box(0, 0, 100, 100));
    for (double y : heights) insert("MAIN", box(20, y, 30, y + 10));
    insert("MAIN", box(96, 40, 106, 50));
    EXPECT_EQ(markOpenSides("MAIN"), 1);
    const int32_t expected[4][4] = {{-1, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {-1, -1, -1, 0}};
    for (int i = 0; i < 4; ++i) {
        std::vector<ContourElement> c(4);
        clistGet("MAIN", c.data(), &h, i + 1);
        for (int j = 0; j < 4; ++j) EXPECT_EQ(c[j].sourceTag, expected[i][j]) << i << " " << j;
    }
}

TEST(PlaneCheck, CircleCentreAndValidity) {
    PocketErrors errors;
    // Only the first two (one arc all round) are one circle: each other differs from the first in one
    // property of one element.
    const std::vector<ContourElement> cases[] = {
        {arcElem(3, 4, 5, 0, kPi, 1), arcElem(3, 4, 5, kPi, 2 * kPi, 1)},
        {arcElem(3, 4, 5, 0, 2 * kPi, 1)},
        {arcElem(3, 4, 5, 0, kPi, 1), arcElem(3, 4, 6, kPi, 2 * kPi, 1)},
        {arcElem(3, 4, 5, 0, kPi, 1), arcElem(3, 4, 5, kPi, 2 * kPi, -1)},
        {arcElem(3, 4, 5, 0, kPi, 1), arcElem(3, 4.1, 5, kPi, 2 * kPi, 1)},
        {arcElem(3, 4, 5, 0, kPi, 1), arcElem(3.1, 4, 5, kPi, 2 * kPi, 1)},
        {arcElem(3, 4, 5, 0, kPi, 1), lineElem(-2, 4, 8, 4)},
        box(0, 0, 1, 1)};
    for (const std::vector<ContourElement>& c : cases) {
        clistCreate("MAIN");
        insert("MAIN", c);
        Vec2 centre{0, 0};
        EXPECT_EQ(mainCircleCentre("MAIN", &centre), &c - cases < 2) << &c - cases;
        EXPECT_EQ(centre.x, &c - cases < 2 ? 3 : 0);
        EXPECT_EQ(centre.y, &c - cases < 2 ? 4 : 0);
    }
    clistCreate("MAIN");
    insert("MAIN", cases[0]);
    EXPECT_EQ(mainCircleCentre("MAIN", nullptr), 1);
    insert("MAIN", cases[0]);  // two circles are no circular pocket
    EXPECT_EQ(mainCircleCentre("MAIN", nullptr), 0);
    struct Valid {
        double gap, arcShift;
        int expected;
    } valid[] = {{0.01, 0, 1}, {0.0101, 0, 0}, {0, 0.005, 1}, {0, 0.0102, 0}, {0, 0.00005, 1}};
    for (const Valid& v : valid) {
        std::vector<ContourElement> c = {lineElem(0, 0, 10, 0), arcElem(10, 5, 5, -kPi / 2, kPi / 2, 1),
                                         lineElem(10 + v.gap, 10 + v.arcShift, 0, 10), lineElem(0, 10, 0, 0)};
        c[1].g[kAey] += v.arcShift;
        const ContourElement arc = c[1];
        EXPECT_EQ(contourValidate(c.data(), 4), v.expected) << v.gap << " " << v.arcShift;
        const double* g = c[1].g;
        if (v.arcShift < 1e-4) {  // ends as far from the centre as the tolerance allows: left alone
            EXPECT_EQ(std::memcmp(&arc, &c[1], sizeof arc), 0) << v.arcShift;
            continue;
        }
        EXPECT_NEAR(v.expected ? std::hypot(g[kAex] - g[kAcx], g[kAey] - g[kAcy]) -
                                     std::hypot(g[kAsx] - g[kAcx], g[kAsy] - g[kAcy])
                               : 0,
                    0, 1e-9);
    }
    std::vector<ContourElement> open = box(0, 0, 1, 1);
    EXPECT_EQ(contourValidate(open.data(), 3), 0);
    open[1].g[kLx1] += 0.02;  // a gap after the first element
    EXPECT_EQ(contourValidate(open.data(), 4), 0);
}

// Refusal against the distances from the centre to the walls that stand at the plane bottom, each
// with its own allowance, in closed form: a square pocket of one depth (its bottom is the plane's)
// with a square island; a contour below the plane is no wall there.
TEST(PlaneCheck, HelixClearanceAgainstSquareDistance) {
    PocketErrors errors;
    clistCreate("INPUT");
    pocketKernel().geometryScale = 2;
    kvCCPParams.toolDiameter = 8 * 2;
    const struct {
        double x0, y0, x1, y1, top, bottom, allowance;  // output units
    } walls[] = {{0, 0, 100, 100, 0, -1, 1}, {50, 50, 70, 70, 0, -1, 0.5}, {-50, -50, 150, 30, -1, -3, 0}};
    for (const auto& w : walls) {
        ContourHeader h{};
        h.top = w.top;
        h.bottom = w.bottom;
        h.allowance = 2 * w.allowance;
        ASSERT_TRUE(putContour("INPUT", box(2 * w.x0, 2 * w.y0, 2 * w.x1, 2 * w.y1), h));
    }
    // Distance from the point to the square's edges.
    auto edge = [](Vec2 c, double x0, double y0, double x1, double y1) {
        const bool inside = c.x > x0 && c.x < x1 && c.y > y0 && c.y < y1;
        return inside ? std::min({c.x - x0, c.y - y0, x1 - c.x, y1 - c.y})
                      : std::hypot(std::max({0.0, x0 - c.x, c.x - x1}), std::max({0.0, y0 - c.y, c.y - y1}));
    };
    rngResetState();
    for (int run = 0; run < 400; ++run) {
        const Vec2 c{-20 + 140 * rngUniform(), -20 + 140 * rngUniform()};
        const double helix = 3 * rngUniform(), reach = 4 + helix - 1e-4 / 2;
        const bool refused = edge(c, 0, 0, 100, 100) < reach + 1 || edge(c, 50, 50, 70, 70) < reach + 0.5;
        PocketErrors::texts().clear();
        EXPECT_EQ(helixClearCheck(&c, helix, -1), refused ? 0 : 1) << c.x << " " << c.y;
        EXPECT_EQ(PocketErrors::texts(),
                  refused ? std::vector<std::string>{"101 1522"} : std::vector<std::string>{});
    }
    EXPECT_EQ(helixClearCheck(nullptr, 1, -1), 0);  // no centre, no room
}

// Points past the end of a large arc are off it, and their distance is the end point's.
TEST(PlaneCheck, LargeArcEndsByLength) {
    struct Case {
        double r, beyond;  // length past the end along the circle
        int on;
    } cases[] = {{5000, 0.05, 0}, {5000, 5e-5, 1}, {1000, 0.01, 0}, {2, 0.01, 0}, {0.5, 4e-5, 1}};
    for (const Case& c : cases) {
        const ContourElement arc = arcElem(0, 0, c.r, 0, 1 / c.r, 1);
        const double a = (1 + c.beyond) / c.r;
        const Vec2 p{c.r * std::cos(a), c.r * std::sin(a)},
            out{(c.r + 1) * std::cos(a), (c.r + 1) * std::sin(a)};
        EXPECT_EQ(pointOnArc(&p, &arc), c.on) << c.r << " " << c.beyond;
        Vec2 near;
        const double toEnd = std::hypot(out.x - arc.g[kAex], out.y - arc.g[kAey]);
        EXPECT_NEAR(elemDistance(&out, &arc, &near), c.on ? 1 : toEnd, c.on ? 1e-4 : 1e-9);
    }
}

// Empty wall lists (the pocket's and the clamps') for a tool of diameter 6 at scale 1.
void wallListsForTool6() {
    clistCreate("INPUT");
    clistCreate("CLAMPS");
    pocketKernel().geometryScale = 1;
    kvCCPParams.toolDiameter = 6;
}

}  // namespace

// The tool's room along lines and arcs against distances the test samples itself: walls of a box and an
// island of two half circles, then a second island added (the walls kept between calls must see it).
TEST(PlaneCheck, RoomAlongMovesAgainstSampledDistance) {
    PocketErrors errors;
    wallListsForTool6();
    const double allowance = 0.5, reach = 3 + allowance - pocketKernel().tolerance;
    auto wall = [&](const std::vector<ContourElement>& c) {
        ContourHeader h{};
        h.top = 0;
        h.bottom = -5;
        h.allowance = allowance;
        ASSERT_TRUE(putContour("INPUT", c, h));
    };
    struct Circle {
        double x, y, r;
    };
    std::vector<Circle> islands{{40, 30, 8}};
    wall(box(0, 0, 100, 60));
    wall(circle(40, 30, 8, 2, -1));
    auto distance = [&](Vec2 p) {
        const bool inside = p.x > 0 && p.y > 0 && p.x < 100 && p.y < 60;
        double d = inside ? std::min({p.x, p.y, 100 - p.x, 60 - p.y})
                          : std::hypot(std::max({0.0, -p.x, p.x - 100}), std::max({0.0, -p.y, p.y - 60}));
        for (const Circle& c : islands) d = std::min(d, std::fabs(std::hypot(p.x - c.x, p.y - c.y) - c.r));
        return d;
    };
    rngResetState();
    int decided = 0;
    for (int run = 0; run < 600; ++run) {
        if (run == 300) {
            islands.push_back({75, 20, 5});
            wall(circle(75, 20, 5, 2, 1));
        }
        const Vec2 a{-5 + 110 * rngUniform(), -5 + 70 * rngUniform()};
        ContourElement move;
        std::vector<Vec2> samples;
        if (run % 2 == 0) {
            const Vec2 b{a.x + 30 * (rngUniform() - 0.5), a.y + 30 * (rngUniform() - 0.5)};
            move = lineElem(a.x, a.y, b.x, b.y);
            for (int i = 0; i <= 4000; ++i)
                samples.push_back({a.x + (b.x - a.x) * i / 4000.0, a.y + (b.y - a.y) * i / 4000.0});
        } else {
            const double r = 1 + 10 * rngUniform(), a0 = 2 * kPi * rngUniform(),
                         sweep = 2 * kPi * rngUniform();
            const int dir = rngUniform() < 0.5 ? 1 : -1;
            move = arcElem(a.x, a.y, r, a0, a0 + dir * sweep, dir);
            for (int i = 0; i <= 4000; ++i) {
                const double t = a0 + dir * sweep * i / 4000.0;
                samples.push_back({a.x + r * std::cos(t), a.y + r * std::sin(t)});
            }
        }
        double least = 1e9, gap = 0;
        for (size_t i = 0; i < samples.size(); ++i) {
            least = std::min(least, distance(samples[i]));
            if (i)
                gap = std::max(gap,
                               std::hypot(samples[i].x - samples[i - 1].x, samples[i].y - samples[i - 1].y));
        }
        // The sampled least distance is at most half a step above the true one.
        if (least > reach - 1e-6 && least - gap < reach + 1e-6) continue;
        ++decided;
        EXPECT_EQ(toolRoomOn(&move, 0, -5), least > reach ? 1 : 0) << run << " " << least;
    }
    EXPECT_GT(decided, 500);
}

// A wall stands at a height from its bottom (less the tolerance) up to its top (less 1e-5): right at each
// end it stands, one step of a double past it it does not; for a point and for a line.
TEST(PlaneCheck, WallsStandBetweenTheirBottomAndTop) {
    PocketErrors errors;
    wallListsForTool6();
    const double h = -2, t = pocketKernel().tolerance, up = h + 1e-5, down = h + t;
    const struct {
        double top, bottom;
        int room;
    } cases[] = {{up, -5, 0},  {std::nextafter(up, -1e9), -5, 1},
                 {0, down, 0}, {0, std::nextafter(down, 1e9), 1},
                 {0, -5, 0},   {-2.5, -5, 1},
                 {0, -1.5, 1}};
    for (const auto& c : cases) {
        clistCreate("INPUT");
        ContourHeader hd{};
        hd.top = c.top;
        hd.bottom = c.bottom;
        ASSERT_TRUE(putContour("INPUT", box(0, 0, 10, 10), hd));
        const Vec2 a{2, 5}, b{2, 6};
        EXPECT_EQ(toolRoomAt(&a, 0, h), c.room) << c.top << " " << c.bottom;
        EXPECT_EQ(toolRoomAlong(&a, &b, 0, h), c.room) << c.top << " " << c.bottom;
        // Lower down the wall standing right at its bottom no longer stands: the answer is not the one kept.
        if (c.bottom == down) {
            EXPECT_EQ(toolRoomAt(&a, 0, h - 1), 1);
        }
    }
    // A flat wall (a line and back): 2 off it there is no room for the radius 3, 4 off there is.
    clistCreate("INPUT");
    ContourHeader flat{};
    flat.bottom = -5;
    ASSERT_TRUE(putContour("INPUT", {lineElem(0, 5, 10, 5), lineElem(10, 5, 0, 5)}, flat));
    for (const Vec2 p : {Vec2{2, 7}, Vec2{2, 9}}) EXPECT_EQ(toolRoomAt(&p, 0, h), p.y > 8) << p.y;
}

// The room checks pass over the walls far from a move (a grid of the walls, cells far from every wall, a
// bound per wall); whatever they pass over, the answer is that of measuring the move against every wall
// that stands at the height. Seeded lines, arcs and points along a wavy wall of 600 lines, an island of
// arcs, a box island standing lower, open sides, a stock boundary and a clamp, the moves laid about the
// reach from a wall and anywhere; an island added half way.
TEST(PlaneCheck, RoomChecksAnswerAsEveryWallMeasured) {
    PocketErrors errors;
    wallListsForTool6();
    auto add = [](const char* list, std::vector<ContourElement> c, double top, double allowance, bool stock) {
        ContourHeader h{};
        h.top = top;
        h.bottom = -5;
        h.allowance = allowance;
        h.stock = stock;
        ASSERT_TRUE(putContour(list, c, h));
    };
    std::vector<Vec2> wavy;
    for (int i = 0; i < 600; ++i) {
        const double a = 2 * kPi * i / 600, r = 40 * (1 + 0.05 * std::sin(9 * a));
        wavy.push_back({50 + r * std::cos(a), 40 + 0.8 * r * std::sin(a)});
    }
    std::vector<ContourElement> outer = polygon(wavy);
    for (int i = 100; i < 120; ++i) outer[i].sourceTag = -1;  // an open side
    add("INPUT", outer, 0, 0.3, false);
    add("INPUT", circle(35, 40, 6, 4, -1), 0, 0.5, false);
    add("INPUT", box(60, 30, 70, 45), -3, 0.2, false);  // stands only below -3
    add("CLAMPS", box(20, 20, 30, 25), 0, 0, false);
    add("CLAMPS", box(0, 0, 100, 80), 0, 0, true);  // stock: no wall
    // Every wall of both lists measured; the move's start alone when it has no length.
    auto plain = [](const ContourElement& move, double reach, double height) {
        const double r = 0.5 * kvCCPParams.toolDiameter + reach - pocketKernel().tolerance;
        const bool point = move.type == kElemLine && elemIsPoint(&move);
        const Vec2 at{move.g[kLx1], move.g[kLy1]};
        for (const char* list : {"INPUT", "CLAMPS"})
            for (int32_t i = 0; i < clistCount(list); ++i) {
                ContourHeader h{};
                clistGetHeader(list, &h, i);
                if (h.stock || h.bottom > height + pocketKernel().tolerance || h.top < height + 1e-5)
                    continue;
                for (uint32_t j = 0; j < h.elementCount; ++j) {
                    const ContourElement& w = h.elements[j];
                    Vec2 near;
                    if (w.sourceTag >= 0 &&
                        (point ? elemDistance(&at, &w, &near) : elemGap(&move, &w)) < r + h.allowance)
                        return 0;
                }
            }
        return 1;
    };
    Rng rng{20261208};
    auto uniform = [&rng] { return (rngStep(&rng) * 32768.0 + rngStep(&rng)) / 1073741824.0; };
    int refused = 0, passed = 0;
    struct Asked {
        ContourElement move;
        double reach, height;
        int expected;
    };
    std::vector<Asked> asked;
    for (int run = 0; run < 2000; ++run) {
        if (run == 1000) add("INPUT", circle(70, 55, 4, 2, -1), 0, 0, false);
        const double reach = run % 3 == 0 ? -1e-3 : run % 3 == 1 ? 0 : 2, height = run % 2 ? -1 : -4;
        // About the reach from a point of some wall's start, or anywhere.
        Vec2 at{-5 + 110 * uniform(), -5 + 90 * uniform()};
        if (uniform() < 0.7) {
            ContourHeader h{};
            clistGetHeader("INPUT", &h, static_cast<int32_t>(uniform() * clistCount("INPUT")));
            const ContourElement& w = h.elements[static_cast<size_t>(uniform() * h.elementCount)];
            const double a = 2 * kPi * uniform(), d = 3 + reach + 0.3 + 0.04 * (uniform() - 0.5);
            const Vec2 s = w.type == kElemArc ? Vec2{w.g[kAsx], w.g[kAsy]} : Vec2{w.g[kLx1], w.g[kLy1]};
            at = {s.x + d * std::cos(a), s.y + d * std::sin(a)};
        }
        ContourElement move;
        const double kind = uniform();
        if (kind < 0.1) {
            move = lineElem(at.x, at.y, at.x, at.y);
        } else if (kind < 0.55) {
            const double a = 2 * kPi * uniform(), l = 20 * uniform();
            move = lineElem(at.x, at.y, at.x + l * std::cos(a), at.y + l * std::sin(a));
        } else {
            const double r = 0.5 + 30 * uniform(), a0 = 2 * kPi * uniform(), sweep = 2 * kPi * uniform();
            const int dir = uniform() < 0.5 ? 1 : -1;
            move = arcElem(at.x - r * std::cos(a0), at.y - r * std::sin(a0), r, a0, a0 + dir * sweep, dir);
        }
        const int expected = plain(move, reach, height);
        (expected ? passed : refused)++;
        ASSERT_EQ(toolRoomOn(&move, reach, height), expected) << run;
        asked.push_back({move, reach, height, expected});
    }
    EXPECT_GT(refused, 300);
    EXPECT_GT(passed, 300);
    // Every move asked again, most of them kept from before (the first half now meets the added island).
    for (size_t k = 0; k < asked.size(); ++k) {
        Asked& a = asked[k];
        if (k < 1000) a.expected = plain(a.move, a.reach, a.height);
        ASSERT_EQ(toolRoomOn(&a.move, a.reach, a.height), a.expected) << k;
    }
    // And in short runs from random places: the kept answers followed in order, then found anew.
    for (int r = 0; r < 300; ++r)
        for (size_t k = static_cast<size_t>(uniform() * asked.size()), j = 0; j < 20 && k < asked.size();
             ++j, ++k)
            ASSERT_EQ(toolRoomOn(&asked[k].move, asked[k].reach, asked[k].height), asked[k].expected)
                << r << " " << k;
}

// Answers kept from earlier moves follow the walls: a list written anew with another allowance, a height
// at which the walls do not stand, another kernel tolerance each give the answer of their own.
TEST(PlaneCheck, KeptAnswersFollowTheWalls) {
    PocketErrors errors;
    wallListsForTool6();
    ContourHeader h{};
    h.bottom = -5;
    h.allowance = 0.5;
    const std::vector<ContourElement> walls = box(0, 0, 100, 60);
    ASSERT_TRUE(putContour("INPUT", walls, h));
    const ContourElement near = lineElem(10, 3.3, 90, 3.3), apart = lineElem(10, 3.6, 90, 3.6);
    EXPECT_EQ(toolRoomOn(&near, 0, -1), 0);
    for (int again = 0; again < 2; ++again) EXPECT_EQ(toolRoomOn(&apart, 0, -1), 1);  // then kept
    EXPECT_EQ(toolRoomOn(nullptr, 0, -1), 0);                                         // no move, no room
    h.allowance = 0.7;
    h.elementCount = static_cast<uint32_t>(walls.size());
    ASSERT_EQ(clistReplace("INPUT", walls.data(), &h, 0), 1);
    EXPECT_EQ(toolRoomOn(&apart, 0, -1), 0);
    ASSERT_EQ(clistReplace("INPUT", walls.data(), &h, 0), 1);
    EXPECT_EQ(toolRoomOn(&apart, 0, -1), 0);
    EXPECT_EQ(toolRoomOn(&apart, 0, -6), 1);
    EXPECT_EQ(toolRoomOn(&apart, 0, -1), 0);
    const double tolerance = pocketKernel().tolerance;
    pocketKernel().tolerance = 0.2;
    EXPECT_EQ(toolRoomOn(&apart, 0, -1), 1);
    EXPECT_EQ(toolRoomOn(&near, 0, -1), 0);
    // The same walls moved half a unit away, all else kept: the moves are measured against them anew.
    pocketKernel().tolerance = tolerance;
    const std::vector<ContourElement> moved = box(0, -0.5, 100, 59.5);
    ASSERT_EQ(clistReplace("INPUT", moved.data(), &h, 0), 1);
    EXPECT_EQ(toolRoomOn(&apart, 0, -1), 1);
    const ContourElement nearMoved = lineElem(10, 2.9, 90, 2.9);
    EXPECT_EQ(toolRoomOn(&nearMoved, 0, -1), 0);
    const std::vector<ContourElement> slit = {lineElem(50, 0, 50, 60)};  // one element, no width
    ASSERT_TRUE(putContour("CLAMPS", slit, h));
    EXPECT_EQ(toolRoomOn(&apart, 0, -1), 0);
}
