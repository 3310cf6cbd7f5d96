#include "pocket/planecheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/rng.h"
#include "offset_util.h"
#include "pocket/elemdist.h"
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
    clistCreate("MAIN");
    insert("MAIN", box(0, 0, 100, 100), 6);
    insert("MAIN", box(10, 10, 20, 20), -3);  // below the plane bottom: unchanged
    kvCCPParams.surface = 10;
    kvCCPParams.depth = 8;
    kvCCPParams.toolDiameter = 12;
    kvCCPParams.toolType = 1;
    pocketKernel().geometryScale = 2;
    kvCCPParams.wallAngle = 1e-5;
    EXPECT_EQ(wallAngleAllowance("MAIN"), 0);
    kvCCPParams.wallAngle = 10;
    EXPECT_EQ(wallAngleAllowance("MAIN"), 1);
    const double a = 10 * kPi / 180, rc = 3;  // ball radius in output units
    const double off = 2 * (std::tan(a) * (4 - (1 - std::sin(a)) * rc) - (1 - std::cos(a)) * rc);
    ContourHeader h{};
    clistGetHeader("MAIN", &h, 0);
    EXPECT_NEAR(h.allowance, 1 + off, 1e-12);
    EXPECT_NEAR(pocketAllowanceGet(0), 1 + off, 1e-12);
    clistGetHeader("MAIN", &h, 1);
    EXPECT_EQ(h.allowance, 1);

    // Islands whose bottom edge runs at a height above the outer boundary's, and one reaching outside.
    const double heights[] = {0.07, 0.0701, 5};
    for (double y : heights) insert("MAIN", box(20, y, 30, y + 10));
    insert("MAIN", box(96, 40, 106, 50));
    EXPECT_EQ(markOpenSides("MAIN"), 1);
    const int32_t expected[4][4] = {{-1, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {-1, -1, -1, 0}};
    for (int i = 0; i < 4; ++i) {
        std::vector<ContourElement> c(4);
        clistGet("MAIN", c.data(), &h, i + 2);
        for (int j = 0; j < 4; ++j) EXPECT_EQ(c[j].sourceTag, expected[i][j]) << i << " " << j;
    }
}

TEST(PlaneCheck, CircleCentreAndValidity) {
    PocketErrors errors;
    const std::vector<ContourElement> cases[] = {
        {arcElem(3, 4, 5, 0, kPi, 1), arcElem(3, 4, 5, kPi, 2 * kPi, 1)},
        {arcElem(3, 4, 5, 0, kPi, 1), arcElem(3, 4, 6, kPi, 2 * kPi, 1)},
        box(0, 0, 1, 1)};
    for (const std::vector<ContourElement>& c : cases) {
        clistCreate("MAIN");
        insert("MAIN", c);
        Vec2 centre{0, 0};
        EXPECT_EQ(mainCircleCentre("MAIN", &centre), &c == &cases[0]);
        EXPECT_EQ(centre.x, &c == &cases[0] ? 3 : 0);
    }
    struct Valid {
        double gap, arcShift;
        int expected;
    } valid[] = {{0.01, 0, 1}, {0.0101, 0, 0}, {0, 0.005, 1}, {0, 0.0102, 0}};
    for (const Valid& v : valid) {
        std::vector<ContourElement> c = {lineElem(0, 0, 10, 0), arcElem(10, 5, 5, -kPi / 2, kPi / 2, 1),
                                         lineElem(10 + v.gap, 10 + v.arcShift, 0, 10), lineElem(0, 10, 0, 0)};
        c[1].g[kAey] += v.arcShift;
        EXPECT_EQ(contourValidate(c.data(), 4), v.expected) << v.gap << " " << v.arcShift;
        const double* g = c[1].g;
        EXPECT_NEAR(v.expected ? std::hypot(g[kAex] - g[kAcx], g[kAey] - g[kAcy]) -
                                     std::hypot(g[kAsx] - g[kAcx], g[kAsy] - g[kAcy])
                               : 0,
                    0, 1e-9);
    }
    std::vector<ContourElement> open = box(0, 0, 1, 1);
    EXPECT_EQ(contourValidate(open.data(), 3), 0);
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

}  // namespace

// The tool's room along lines and arcs against distances the test samples itself: walls of a box and an
// island of two half circles, then a second island added (the walls kept between calls must see it).
TEST(PlaneCheck, RoomAlongMovesAgainstSampledDistance) {
    PocketErrors errors;
    clistCreate("INPUT");
    clistCreate("CLAMPS");
    pocketKernel().geometryScale = 1;
    kvCCPParams.toolDiameter = 6;
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
