#include "pocket/linkmove.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "kernel/base/rng.h"
#include "offset_util.h"

namespace {

using offsettest::kPi;

// Point and unit tangent of an element at its start (0) or end (1), from its own geometry.
void endOf(const ContourElement& e, int end, Vec2* p, Vec2* t) {
    const double* g = e.g;
    if (e.type == kElemLine) {
        *p = end ? Vec2{g[kLx2], g[kLy2]} : Vec2{g[kLx1], g[kLy1]};
        const double l = std::hypot(g[kLx2] - g[kLx1], g[kLy2] - g[kLy1]);
        *t = {(g[kLx2] - g[kLx1]) / l, (g[kLy2] - g[kLy1]) / l};
        return;
    }
    *p = end ? Vec2{g[kAex], g[kAey]} : Vec2{g[kAsx], g[kAsy]};
    const double r = std::hypot(p->x - g[kAcx], p->y - g[kAcy]);
    *t = {-e.direction * (p->y - g[kAcy]) / r, e.direction * (p->x - g[kAcx]) / r};
}

Vec2 along(const ContourElement& e, double f) {
    return offsettest::pointAlong(e, f);
}

void setInput() {
    clistCreate("INPUT");
    for (const std::vector<Vec2>& p : {std::vector<Vec2>{{0, 0}, {100, 0}, {100, 100}, {0, 100}},
                                       std::vector<Vec2>{{40, 40}, {60, 40}, {60, 60}, {40, 60}}})
        ASSERT_TRUE(putContour("INPUT", polygon(p)));
    pocketKernel().toolRadius = 2;
}

int32_t gTrochoidCalls = 0;
int32_t trochoidStub(const Vec2* p1, const Vec2*, const Vec2* p2, const Vec2*, double, int32_t steps,
                     ContourElement* out) {
    ++gTrochoidCalls;
    out[0] = lineElem(p1->x, p1->y, p2->x, p2->y, -5);
    return steps == 3 ? 1 : 0;
}

TEST(LinkMove, WidthStraightLineAndTrochoid) {
    PocketErrors errors;
    setInput();
    ContourElement out[3];
    const Vec2 a{10, 10}, b{20, 16}, behind{9.995, 10}, east{1, 0}, west{-1, 0};
    const int32_t n = linkMoveBuild(&a, &east, &b, &west, 3, out);
    for (int i = 0; i < n; ++i) EXPECT_TRUE(out[i].type == kElemLine || out[i].g[kAr] == 3);  // full width
    // Opposite tangents just behind the start: every width bulges back, down to the straight line.
    ASSERT_EQ(linkMoveBuild(&a, &east, &behind, &west, 2, out), 1);
    EXPECT_EQ(out[0].type, kElemLine);
    linkSetTrochoidSearch(trochoidStub);
    for (int32_t steps : {0, 2, 3}) {
        pocketKernel().trochoidSteps = steps;
        EXPECT_EQ(linkMoveBuild(&a, &east, &b, &west, 3, out) == 1 && out[0].sourceTag == -5, steps == 3);
    }
    EXPECT_EQ(gTrochoidCalls, 2);
    // Below the least width of 0.01 the move is straight without asking the search.
    for (const double w : {0.0099, 0.01})
        EXPECT_EQ(linkMoveBuild(&a, &east, &b, &west, w, out) == 1 && out[0].sourceTag == -5, w >= 0.01) << w;
    linkMoveResetState();
}

// Moves between points of a square pocket with an island, as far as the tool clears: tangent
// at both ends, smooth, inside the region, arcs keeping the tool off the walls.
TEST(LinkMove, MovesAreSmoothAndStayInTheRegion) {
    PocketErrors errors;
    setInput();
    auto wallDistance = [](const Vec2& q) {
        const double dx = std::max({0.0, 40 - q.x, q.x - 60}), dy = std::max({0.0, 40 - q.y, q.y - 60});
        const bool island = dx == 0 && dy == 0;
        return std::min({q.x, q.y, 100 - q.x, 100 - q.y, island ? -1 : std::hypot(dx, dy)});
    };
    rngResetState();
    int arcs = 0;
    for (int run = 0; run < 300; ++run) {
        Vec2 t1, t2, p, t;
        const Vec2 p1{100 * rngUniform(), 100 * rngUniform()}, p2{100 * rngUniform(), 100 * rngUniform()};
        const double a1 = 2 * kPi * rngUniform(), a2 = 2 * kPi * rngUniform();
        t1 = {std::cos(a1), std::sin(a1)};
        t2 = {std::cos(a2), std::sin(a2)};
        if (wallDistance(p1) < 2 || wallDistance(p2) < 2) continue;
        bool straight = true;  // the walk joins points a straight line can join
        for (int i = 0; i <= 100; ++i)
            straight = straight && wallDistance(along(lineElem(p1.x, p1.y, p2.x, p2.y), i / 100.0)) > 0;
        if (!straight) continue;
        ContourElement out[3];
        const int32_t n = linkMoveBuild(&p1, &t1, &p2, &t2, 0.5 + 12 * rngUniform(), out);
        ASSERT_GE(n, 1);
        endOf(out[0], 0, &p, &t);
        EXPECT_NEAR(std::hypot(p.x - p1.x, p.y - p1.y), 0, 1e-9);
        // Arcs with chords below 0.01 are written as lines: no tangent test there.
        auto kink = [&](int i) {
            return n == 1 || (i >= 0 && i < n && out[i].type == kElemLine &&
                              std::hypot(along(out[i], 1).x - along(out[i], 0).x,
                                         along(out[i], 1).y - along(out[i], 0).y) < 0.01);
        };
        EXPECT_NEAR(kink(0) ? 1 : t.x * t1.x + t.y * t1.y, 1, 1e-6) << run;
        for (int i = 0; i < n; ++i) {
            Vec2 q, u;
            endOf(out[i], 1, &p, &t);
            if (i + 1 < n)
                endOf(out[i + 1], 0, &q, &u);
            else
                q = p2, u = n > 1 ? t2 : t;
            EXPECT_NEAR(std::hypot(p.x - q.x, p.y - q.y), 0, 1e-6) << run;
            EXPECT_NEAR(kink(i) || kink(i + 1) ? 1 : t.x * u.x + t.y * u.y, 1, 1e-6) << run;
            arcs += out[i].type == kElemArc;
            for (int k = 0; k <= 32; ++k) {
                const double d = wallDistance(along(out[i], k / 32.0));
                EXPECT_GT(d, out[i].type == kElemArc ? 2 - 0.0101 : 0) << run;
            }
        }
    }
    EXPECT_GT(arcs, 100);
}

// The closing circle turns towards the start point: its centre lies on the side of the end
// tangent that the start lies on. Arcs shorter than the link width's floor are written as lines.
TEST(LinkMove, EndCircleOnTheSideOfTheStartAndNoTinyArcs) {
    PocketErrors errors;
    Rng rng{64};
    auto u = [&] { return rngStep(&rng) / double(kRngMax); };
    int checked = 0;
    for (int run = 0; run < 200; ++run) {
        const double a1 = 2 * kPi * u(), a2 = 2 * kPi * u();
        const Vec2 p1{0, 0}, p2{20 * u() - 10, 20 * u() - 10}, t1{std::cos(a1), std::sin(a1)},
            t2{std::cos(a2), std::sin(a2)};
        const double side = t2.x * (p1.y - p2.y) - t2.y * (p1.x - p2.x);
        if (std::fabs(side) < 0.5) continue;
        ContourElement out[3];
        const double radius = 0.5 + 2 * u();
        const int32_t n = linkBuildArcs(&p1, &t1, &p2, &t2, radius, out);
        EXPECT_GT(n, 0) << run;  // ends apart always have a link
        // Arcs of at most the radius with both ends on their circle, each element continuing the last.
        for (int32_t i = 0; i < n; ++i) {
            Vec2 s0, s1, e0, e1;
            endOf(out[i], 0, &s0, &s1);
            endOf(out[i], 1, &e0, &e1);
            if (out[i].type == kElemArc) {
                const ContourElement& a = out[i];
                EXPECT_LE(a.g[kAr], radius + 1e-9) << run;
                EXPECT_NEAR(std::hypot(s0.x - a.g[kAcx], s0.y - a.g[kAcy]), a.g[kAr], 1e-6) << run;
                EXPECT_NEAR(std::hypot(e0.x - a.g[kAcx], e0.y - a.g[kAcy]), a.g[kAr], 1e-6) << run;
            }
            if (i + 1 < n) {
                Vec2 q, t;
                endOf(out[i + 1], 0, &q, &t);
                EXPECT_NEAR(std::hypot(q.x - e0.x, q.y - e0.y), 0, 1e-6) << run;
                EXPECT_NEAR(t.x * e1.x + t.y * e1.y, 1, 1e-6) << run;
            }
        }
        if (n < 2 || out[n - 1].type != kElemArc) continue;
        const ContourElement& e = out[n - 1];
        const double centre = t2.x * (e.g[kAcy] - p2.y) - t2.y * (e.g[kAcx] - p2.x);
        EXPECT_GT(centre * side, 0) << run;
        ++checked;
    }
    EXPECT_GT(checked, 100);
    {
        // A quarter turn onto the line that runs straight into the end: no arc at the end, whose ends
        // would meet and read as a whole circle.
        const Vec2 p1{0, 0}, north{0, 1}, p2{10, 2}, east{1, 0};
        ContourElement out[3];
        ASSERT_EQ(linkBuildArcs(&p1, &north, &p2, &east, 2, out), 2);
        Vec2 q, t;
        EXPECT_EQ(out[0].type, kElemArc);
        endOf(out[0], 1, &q, &t);
        EXPECT_NEAR(std::hypot(q.x - 2, q.y - 2), 0, 1e-9);
        EXPECT_EQ(out[1].type, kElemLine);
        endOf(out[1], 1, &q, &t);
        EXPECT_NEAR(std::hypot(q.x - 10, q.y - 2), 0, 1e-9);
        // The least radius, 0.01, still turns (a quarter arc of chord 0.014); below it the move is straight.
        const Vec2 low{10, 0.01};
        for (const double radius : {0.01, 0.0099}) {
            ASSERT_EQ(linkBuildArcs(&p1, &north, &low, &east, radius, out), radius >= 0.01 ? 2 : 1) << radius;
            EXPECT_EQ(out[0].type, radius >= 0.01 ? kElemArc : kElemLine) << radius;
        }
        // Ends 1.5e-9 apart leave no room for a circle: no move.
        const Vec2 close{1.5e-9, 0};
        EXPECT_EQ(linkBuildArcs(&p1, &north, &close, &east, 2, out), -1);
        EXPECT_EQ(linkBuildArcs(&p1, &east, &close, &east, 2, out), -1);
    }
    setInput();
    // A start tangent aimed almost at the end: the first arc turns through a few microradians.
    const Vec2 p1{10, 10}, p2{30, 10.002}, east{1, 0};
    ContourElement out[3];
    const int32_t n = linkMoveBuild(&p1, &east, &p2, &east, 2, out);
    ASSERT_GE(n, 1);
    for (int32_t i = 0; i < n; ++i) {
        Vec2 s, t, e;
        endOf(out[i], 0, &s, &t);
        endOf(out[i], 1, &e, &t);
        if (out[i].type == kElemArc) {
            EXPECT_GE(std::hypot(e.x - s.x, e.y - s.y), 0.01) << i;
        }
    }
}

// An arc gouges when the tool about it, less a hundredth, reaches a wall: the arc's circle grown by
// the tool radius and the contour's allowance is what meets the input.
TEST(LinkMove, ArcGougeByTheGrownCircle) {
    PocketErrors errors;
    clistCreate("INPUT");
    ASSERT_TRUE(putContour("INPUT", polygon({{0, 0}, {100, 0}, {100, 100}, {0, 100}})));
    pocketKernel().toolRadius = 2;
    for (const auto& [allowance, r, hit] :
         {std::tuple{0.0, 47.995, 0}, {0.0, 48.015, 1}, {0.5, 47.495, 0}, {0.5, 47.515, 1}}) {
        pocketAllowanceSet(0, allowance);
        const ContourElement arc = arcElem(50, 50, r, 0, 0.1, 1);
        const Vec2 p1 = along(arc, 0), p2 = along(arc, 1);
        EXPECT_EQ(linkArcHitsInput(&arc, &p1, &p2), hit) << allowance << " " << r;
    }
    const ContourElement clear = arcElem(50, 50, 5, -0.1, 0.1, 1);  // far from the walls, middle (55, 50)
    for (const auto& [from, hit] : {std::pair{Vec2{60, 50}, 1}, {Vec2{55, 40}, 0}}) {  // behind p1, abeam
        const Vec2 to{from.x + 10, from.y};
        EXPECT_EQ(linkArcHitsInput(&clear, &from, &to), hit) << from.x;
    }
    // Without its work buffer either gouge test gives -1.
    const ContourElement cut = lineElem(10, 50, 90, 50);
    const Vec2 from{45, 50}, to{65, 50};
    for (int arc = 0; arc < 2; ++arc) {
        allocfail::arm(1);
        EXPECT_EQ(arc ? linkArcHitsInput(&clear, &from, &to) : linkLineHitsInput(&cut), -1) << arc;
        EXPECT_TRUE(allocfail::fired());
        allocfail::disarm();
    }
    pocketAllowanceSet(0, 0);
}

// Roots of a (x - u)(x - v) come back sorted; a double root once; a negative discriminant none; a
// vanishing leading term leaves the linear root.
TEST(LinkMove, QuadraticRootsOfKnownFactors) {
    rngResetState();
    double roots[2];
    for (int run = 0; run < 200; ++run) {
        const double u = 20 * rngUniform() - 10, v = 20 * rngUniform() - 10,
                     a = (rngBelow(2) ? 1 : -1) * (0.1 + 5 * rngUniform());
        if (std::fabs(u - v) < 1e-3) continue;
        ASSERT_EQ(quadraticRoots(a, -a * (u + v), a * u * v, roots), 2) << run;
        EXPECT_NEAR(roots[0], std::min(u, v), 1e-9 * (1 + std::fabs(u) + std::fabs(v))) << run;
        EXPECT_NEAR(roots[1], std::max(u, v), 1e-9 * (1 + std::fabs(u) + std::fabs(v))) << run;
        // Shifted clear of the axis: no real root.
        const double lift = 0.25 * a * (u - v) * (u - v) + (a > 0 ? 0.01 : -0.01);
        EXPECT_EQ(quadraticRoots(a, -a * (u + v), a * u * v + lift, roots), 0) << run;
        // Eighths and quarters keep the double root's coefficients exact.
        const double w = (static_cast<double>(rngBelow(160)) - 80) / 8,
                     q = (1 + static_cast<double>(rngBelow(20))) / 4;
        ASSERT_EQ(quadraticRoots(q, -2 * q * w, q * w * w, roots), 1) << run;
        EXPECT_EQ(roots[0], w) << run;
        ASSERT_EQ(quadraticRoots(0, a, -a * u, roots), 1) << run;
        EXPECT_NEAR(roots[0], u, 1e-12 * (1 + std::fabs(u))) << run;
    }
    // A discriminant just below zero (-8e-6, within the root tolerance) is a double root.
    ASSERT_EQ(quadraticRoots(1, 2, 1 + 2e-6, roots), 1);
    EXPECT_NEAR(roots[0], -1, 1e-9);
    EXPECT_EQ(quadraticRoots(0, 0, 1, roots), 0);
    EXPECT_EQ(quadraticRoots(1e-6, 1e-6, 1, roots), 0);
}

// The line from a point outside a circle leaves it tangent: the centre lies one radius from the line,
// the tangent point sees the point at a right angle, and the circle runs on along the line.
TEST(LinkMove, TangentFromPointTouchesTheCircleRunningOn) {
    rngResetState();
    for (int run = 0; run < 200; ++run) {
        const double r = 0.5 + 3 * rngUniform(), a = 2 * kPi * rngUniform(),
                     dist = r * (0.5 + 2 * rngUniform());
        const int32_t dir = rngBelow(2) ? 1 : -1;
        const Vec2 c{5 * rngUniform(), 5 * rngUniform()}, n{std::cos(a), std::sin(a)};
        const Vec2 p{c.x + dist * n.x, c.y + dist * n.y};
        const Vec2 on{c.x - r * n.x, c.y - r * n.y}, normal{n.x, n.y};
        const ContourElement circle = circleThroughPoint(&on, &normal, r, dir);
        EXPECT_NEAR(std::hypot(circle.g[kAcx] - c.x, circle.g[kAcy] - c.y), 0, 1e-12);
        Vec2 d;
        const int got = tangentFromPoint(&p, &circle, &d);
        ASSERT_EQ(got, dist > r ? 1 : -1) << run;
        if (got < 0) continue;
        EXPECT_NEAR(std::hypot(d.x, d.y), 1, 1e-12);
        const double len = std::sqrt(dist * dist - r * r);
        const Vec2 t{p.x + len * d.x, p.y + len * d.y};
        EXPECT_NEAR(std::hypot(t.x - c.x, t.y - c.y), r, 1e-9) << run;
        EXPECT_NEAR(std::fabs((c.x - p.x) * d.y - (c.y - p.y) * d.x), r, 1e-9) << run;
        // The circle's own direction at t, (-dy, dx) of the radius for counter-clockwise.
        const double run_on = dir * (-(t.y - c.y) * d.x + (t.x - c.x) * d.y);
        EXPECT_NEAR(run_on, r, 1e-9) << run;
    }
}

}  // namespace
