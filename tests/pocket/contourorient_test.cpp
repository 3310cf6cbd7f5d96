#include "pocket/contourorient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "kernel/base/rng.h"
#include "offset_util.h"
#include "pocket_util.h"

using namespace offsettest;

namespace {

std::vector<ContourElement> reversed(std::vector<ContourElement> c) {
    contourReverse(c.data(), static_cast<int32_t>(c.size()));
    return c;
}

// A stadium: two straight sides and two half circles, counter-clockwise.
std::vector<ContourElement> stadium() {
    return {lineElem(0, 0, 10, 0), arcElem(10, 2, 2, -kPi / 2, kPi / 2, 1), lineElem(10, 4, 0, 4),
            arcElem(0, 2, 2, kPi / 2, 3 * kPi / 2, 1)};
}

}  // namespace

// Each shape and its reversal; reversing twice gives the contour back bit for bit.
TEST(ContourOrient, ClosedFormShapesInBothSenses) {
    PocketErrors state;
    pocketKernel().toolRadius = 1;
    const std::vector<ContourElement> square = polygon({{0, 0}, {4, 0}, {4, 4}, {0, 4}});
    const std::vector<ContourElement> dShape = {lineElem(0, -3, 0, 3),
                                                arcElem(0, 0, 3, kPi / 2, 3 * kPi / 2, 1)};
    const std::vector<ContourElement> spike =
        polygon({{0, 0}, {4, 0}, {4, 2}, {6, 2}, {4, 2}, {4, 4}, {0, 4}});
    std::vector<ContourElement> tagged = stadium();
    tagged[1].sourceTag = 7;
    const struct {
        const char* name;
        std::vector<ContourElement> c;
        int sense, area;
    } cases[] = {
        {"square", square, 1, 1},
        {"one arc", circle(3, 4, 5, 1, 1), 1, 0},
        {"two halves", circle(3, 4, 5, 2, 1), 1, 1},
        {"four quarters", circle(3, 4, 5, 4, 1), 1, 1},
        {"stadium", tagged, 1, 1},
        {"D", dShape, 1, 1},
        {"spike", spike, 1, 1},
        // Three quarters of a circle about its centre: the start points alone run the other way round.
        {"pac-man",
         {lineElem(0, 0, 2, 2), arcElem(0, 0, std::sqrt(8.0), kPi / 4, 7 * kPi / 4, 1),
          lineElem(2, -2, 0, 0)},
         1,
         -1},
        // The line spike's tip turns by nothing (no arc takes part), so the halves' turns decide where the
        // start points enclose no area.
        {"halves and a line spike",
         {arcElem(0, 0, 3, 0, kPi, 1), arcElem(0, 0, 3, kPi, 2 * kPi, 1), lineElem(3, 0, 8, 0),
          lineElem(8, 0, 3, 0)},
         1,
         0},
    };
    for (const auto& c : cases) {
        const int32_t n = static_cast<int32_t>(c.c.size());
        EXPECT_EQ(contourOrientation(c.c.data(), n), c.sense) << c.name;
        const std::vector<ContourElement> back = n == 1 ? circle(3, 4, 5, 1, -1) : reversed(c.c);
        EXPECT_EQ(contourOrientation(back.data(), n), -c.sense) << c.name;
        if (n > 2) {
            EXPECT_EQ(contourSignedArea(c.c.data(), n), c.area) << c.name;
            EXPECT_EQ(contourSignedArea(back.data(), n), -c.area) << c.name;
        }
        const std::vector<ContourElement> twice = reversed(reversed(c.c));
        EXPECT_EQ(std::memcmp(twice.data(), c.c.data(), c.c.size() * sizeof(ContourElement)), 0) << c.name;
    }
    const std::vector<ContourElement> r = reversed(tagged);
    EXPECT_EQ(r[2].sourceTag, 7);
    EXPECT_EQ(r[2].direction, -1);
}

// Directions of vectors in [0, 2 pi) against atan2, on the axes, between them and of the zero vector.
TEST(ContourOrient, DirectionAngles) {
    PocketErrors state;
    pocketKernel().fineTolerance = 1e-12;
    const double d[][2] = {{0, 1}, {1, 0}, {0, -1}, {-1, 0}, {1, 1}, {-1, 1}, {-1, -1}, {2, -3}, {1e-9, -1}};
    for (const auto& v : d) {
        const double want = std::fmod(std::atan2(v[0], v[1]) + 2 * kPi, 2 * kPi);
        EXPECT_NEAR(vecAngle2D(v[0], v[1]), want, 1e-12) << v[0] << " " << v[1];
    }
    EXPECT_EQ(vecAngle2D(0, 0), 0);
    EXPECT_EQ(vecAngle2D(-1e-13, 1e-13), 0);  // below the fine tolerance: no direction
    // At the fine tolerance a part counts; below it on x the vector lies on the y axis.
    const double edge[][3] = {{1e-12, 0, kPi / 2},     {-1e-12, 0, 1.5 * kPi},      {1e-12, 1e-12, kPi / 4},
                              {1e-12, 9e-13, kPi / 2}, {-1e-12, -9e-13, 1.5 * kPi}, {0, -1e-12, kPi}};
    for (const auto& v : edge) EXPECT_NEAR(vecAngle2D(v[0], v[1]), v[2], 1e-12) << v[0] << " " << v[1];
    // Turns at (1, 0) coming from the origin, against atan2 of the two directions.
    const double to[][2] = {{2, 1}, {1, 1}, {1, -1}, {0, 1}, {0, -0.001}, {2, 0}, {0, 0}, {3, 0.5}, {-5, -1}};
    for (const auto& q : to) {
        const double a = std::atan2(q[1], q[0] - 1), straightOrBack = std::fabs(q[1]) < 1e-12;
        EXPECT_NEAR(turnAngle(0, 0, 1, 0, q[0], q[1]), straightOrBack ? 0 : a, 1e-12) << q[0] << " " << q[1];
    }
    // Points along arcs either way round, also across the angle 0, and a tenth of the way between two.
    const struct {
        ContourElement arc;
        double t, angle;
    } along[] = {{arcElem(1, 2, 3, 0, kPi / 2, 1), 0.5, kPi / 4},
                 {arcElem(1, 2, 3, 1.5 * kPi, 2.5 * kPi, 1), 0.25, 1.75 * kPi},
                 {arcElem(1, 2, 3, kPi / 2, -kPi / 2, -1), 0.75, -kPi / 4},
                 {arcElem(1, 2, 3, 0.25, -0.25, -1), 0.5, 0}};
    for (const auto& c : along) {
        Vec2 p;
        arcPointAt(&c.arc, c.t, &p);
        EXPECT_NEAR(p.x, 1 + 3 * std::cos(c.angle), 1e-12);
        EXPECT_NEAR(p.y, 2 + 3 * std::sin(c.angle), 1e-12);
    }
    const ContourElement arc = arcElem(0, 0, 2, 0, kPi, 1);
    const Vec2 p1{0, 2}, p2{-2, 0};
    Vec2 p;
    arcPointBetween(&arc, &p1, &p2, &p);
    EXPECT_NEAR(p.x, 2 * std::cos(0.55 * kPi), 1e-12);
    EXPECT_NEAR(p.y, 2 * std::sin(0.55 * kPi), 1e-12);
}

TEST(ContourOrient, UndecidedShapes) {
    PocketErrors state;
    pocketKernel().toolRadius = 5;
    const std::vector<ContourElement> collinear = polygon({{0, 0}, {2, 0}, {5, 0}});
    const std::vector<ContourElement> close = {lineElem(0, 0, 1, 0), lineElem(1, 0, 0, 0.001)};
    const std::vector<ContourElement> lone = {lineElem(0, 0, 1, 0)};
    EXPECT_EQ(contourOrientation(collinear.data(), 3), 0);
    EXPECT_EQ(contourIsFlatTriangle(collinear.data(), 3), 1);
    // A closing arc counts as straight while 50 times its length stays within its radius.
    for (const auto& [sweep, flat] : {std::pair{0.01, 1}, std::pair{0.03, 0}}) {
        const double r = 10 / std::sin(sweep / 2), h = std::sqrt(r * r - 100);
        const std::vector<ContourElement> bow = {
            lineElem(0, 0, 10, 0), lineElem(10, 0, 20, 0),
            arcElem(10, -h, r, std::atan2(h, 10), std::atan2(h, -10), 1)};
        EXPECT_EQ(contourIsFlatTriangle(bow.data(), 3), flat) << sweep;
    }
    EXPECT_EQ(contourOrientation(close.data(), 2), 0);
    EXPECT_EQ(contourOrientation(lone.data(), 1), 0);
    // No chain, or none of it: no sense, whatever the count says.
    for (const int32_t n : {0, 4, 9})
        EXPECT_EQ(contourOrientation(nullptr, n) + contourSignedArea(nullptr, n), 0);
    EXPECT_EQ(contourOrientation(collinear.data(), 0) + contourSignedArea(collinear.data(), 1), 0);
    // A bow-tie turns by nothing in all and encloses no signed area, either way round.
    const std::vector<ContourElement> bowTie = polygon({{0, 0}, {10, 10}, {10, 0}, {0, 10}});
    EXPECT_EQ(contourOrientation(bowTie.data(), 4), 0);
    EXPECT_EQ(contourOrientation(reversed(bowTie).data(), 4), 0);
}

// Seeded contours have the sense they were built in, either way round: stars with
// some edges bulged out into arcs, and finely sampled wavy outlines turning in
// steps of 1e-4 to 0.3 radians (some just at the tolerance below which a turn
// counts as none) with arcs of a tenth of a degree among them.
TEST(ContourOrient, SeededContoursHaveTheSenseTheyWereBuiltIn) {
    PocketErrors state;
    pocketKernel().toolRadius = 1;
    rngResetState();
    for (int k = 0; k < 340; ++k) {
        const bool star = k < 300;
        const int n = star ? 3 + rngBelow(10) : 100 + 50 * (k - 300);
        std::vector<Vec2> p;
        for (int i = 0; i < n; ++i) {
            const double a = star ? 2 * kPi * (i + 0.6 * rngUniform()) / n : 2 * kPi * i / n;
            const double r =
                star ? 2 + 6 * rngUniform() : 50 + (k % 4) * std::sin(7 * a) + 1e-3 * rngUniform();
            p.push_back({r * std::cos(a), (star ? 1 : 0.7) * r * std::sin(a)});
        }
        std::vector<ContourElement> c = polygon(p);
        if (star) {
            for (auto& e : c) {
                if (rngBelow(3)) continue;
                // Centre left of the edge, inside the star: the arc bulges outward.
                const double dx = e.g[2] - e.g[0], dy = e.g[3] - e.g[1], off = 0.2 + rngUniform();
                const double cx = 0.5 * (e.g[0] + e.g[2]) - dy * off, cy = 0.5 * (e.g[1] + e.g[3]) + dx * off;
                e = arcElem(cx, cy, std::hypot(e.g[0] - cx, e.g[1] - cy),
                            std::atan2(e.g[1] - cy, e.g[0] - cx), std::atan2(e.g[3] - cy, e.g[2] - cx), 1);
            }
        } else {
            // Every fifth corner rounded by a tiny arc tangent to both sides.
            for (size_t i = 0; i + 1 < c.size(); i += 5) {
                const double a0 = std::atan2(c[i].g[3] - c[i].g[1], c[i].g[2] - c[i].g[0]) - kPi / 2;
                c.insert(c.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                         arcElem(c[i].g[2], c[i].g[3], 1e-3, a0, a0 + 0.002, 1));
            }
        }
        const int32_t m = static_cast<int32_t>(c.size());
        EXPECT_EQ(contourOrientation(c.data(), m), 1) << k;
        contourReverse(c.data(), m);
        EXPECT_EQ(contourOrientation(c.data(), m), -1) << k;
    }
}

// The signed area's sense, none for a contour that encloses nothing; the turn at a cusp between a line
// and an arc (or two arcs) follows the arc's sense.
TEST(ContourOrient, SignedAreaAndCuspTurns) {
    std::vector<ContourElement> square = polygon({{0, 0}, {0.4, 0}, {0.4, 0.4}, {0, 0.4}});  // of area below 1
    EXPECT_EQ(contourSignedArea(square.data(), 4), 1);
    contourReverse(square.data(), 4);
    EXPECT_EQ(contourSignedArea(square.data(), 4), -1);
    const std::vector<ContourElement> thereAndBack = polygon({{0, 0}, {5, 1}});
    EXPECT_EQ(contourSignedArea(thereAndBack.data(), 2), 0);
    const ContourElement line = lineElem(0, 0, 1, 0);
    const ContourElement ccw = arcElem(1, 1, 1, -M_PI / 2, 0, 1), cw = arcElem(1, -1, 1, M_PI / 2, 0, -1);
    // opposite senses: +pi when the clockwise arc is not the wider one; two clockwise arcs: +pi whatever
    // their radii
    const ContourElement wideCcw = arcElem(1, 2, 2, -M_PI / 2, 0, 1),
                         wideCw = arcElem(1, -2, 2, M_PI / 2, 0, -1);
    const struct {
        const ContourElement *a, *b;
        double turn;
    } cases[] = {{&line, &ccw, -M_PI},  {&line, &cw, M_PI},     {&ccw, &line, -M_PI},   {&cw, &line, M_PI},
                 {&ccw, &ccw, -M_PI},   {&cw, &cw, M_PI},       {&line, &line, M_PI},   {&wideCcw, &cw, M_PI},
                 {&cw, &wideCcw, M_PI}, {&ccw, &wideCw, -M_PI}, {&wideCw, &ccw, -M_PI}, {&ccw, &cw, M_PI},
                 {&wideCw, &cw, M_PI}};
    for (const auto& c : cases) EXPECT_EQ(elemCuspTurn(c.a, c.b), c.turn);
}
