#include "pocket/linkmove.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/rng.h"
#include "pocket/pocket_util.h"

namespace {

constexpr double kPi = 3.141592653589793;

// Point and unit tangent of an element at its start (0) or end (1), from its own geometry.
void endOf(const ContourElement& e, int end, Vec2* p, Vec2* t) {
    if (e.type == kElemLine) {
        *p = end ? Vec2{e.g[kLx2], e.g[kLy2]} : Vec2{e.g[kLx1], e.g[kLy1]};
        const double l = std::hypot(e.g[kLx2] - e.g[kLx1], e.g[kLy2] - e.g[kLy1]);
        *t = {(e.g[kLx2] - e.g[kLx1]) / l, (e.g[kLy2] - e.g[kLy1]) / l};
        return;
    }
    *p = end ? Vec2{e.g[kAex], e.g[kAey]} : Vec2{e.g[kAsx], e.g[kAsy]};
    const double r = std::hypot(p->x - e.g[kAcx], p->y - e.g[kAcy]);
    *t = {-e.direction * (p->y - e.g[kAcy]) / r, e.direction * (p->x - e.g[kAcx]) / r};
}

// Samples along an element (arcs by their sweep in their direction).
std::vector<Vec2> samples(const ContourElement& e) {
    std::vector<Vec2> out;
    for (int i = 0; i <= 64; ++i) {
        const double f = i / 64.0;
        if (e.type == kElemLine) {
            out.push_back({e.g[kLx1] + f * (e.g[kLx2] - e.g[kLx1]), e.g[kLy1] + f * (e.g[kLy2] - e.g[kLy1])});
            continue;
        }
        const double a0 = std::atan2(e.g[kAsy] - e.g[kAcy], e.g[kAsx] - e.g[kAcx]);
        double sweep = std::atan2(e.g[kAey] - e.g[kAcy], e.g[kAex] - e.g[kAcx]) - a0;
        while (e.direction * sweep < 0) sweep += e.direction * 2 * kPi;
        const double a = a0 + f * sweep;
        out.push_back({e.g[kAcx] + e.g[kAr] * std::cos(a), e.g[kAcy] + e.g[kAr] * std::sin(a)});
    }
    return out;
}

Vec2 unit(double a) {
    return {std::cos(a), std::sin(a)};
}

TEST(LinkMove, QuadraticRootsTable) {
    struct Case {
        double a, b, c;
        int n;
        double r0, r1;
    } cases[] = {{1, -3, 2, 2, 1, 2},    {1, -2, 1, 1, 1, 1},        {1, 0, 1, 0, 0, 0},
                 {5e-6, 2, -4, 1, 2, 0}, {5e-6, 5e-6, 1, 0, 0, 0},   {1, 0, 2e-6, 1, 0, 0},
                 {-2, 0, 8, 2, -2, 2},   {1, -2, 1 - 1e-12, 1, 1, 1}};
    for (const Case& c : cases) {
        double r[2] = {0, 0};
        ASSERT_EQ(quadraticRoots(c.a, c.b, c.c, r), c.n) << c.a << " " << c.b << " " << c.c;
        if (c.n >= 1) {
            EXPECT_NEAR(r[0], c.r0, 1e-5);
        }
        if (c.n == 2) {
            EXPECT_NEAR(r[1], c.r1, 1e-9);
        }
    }
}

TEST(LinkMove, TangentFromPointClosedForm) {
    const Vec2 p{10, 0}, normal{0, 1};
    const Vec2 onCircle{0, -5};
    for (int32_t dir : {1, -1}) {
        const ContourElement c = circleThroughPoint(&onCircle, &normal, 5, dir);
        EXPECT_EQ(c.g[kAcx], 0);
        EXPECT_EQ(c.g[kAcy], 0);
        Vec2 d;
        ASSERT_EQ(tangentFromPoint(&p, &c, &d), 1);
        // Tangent points at +-60 degrees; the counter-clockwise circle runs on from the upper one.
        const Vec2 t{2.5, dir * 5 * std::sin(kPi / 3)};
        const double l = std::hypot(t.x - 10, t.y);
        EXPECT_NEAR(d.x, (t.x - 10) / l, 1e-12);
        EXPECT_NEAR(d.y, t.y / l, 1e-12);
        const Vec2 inside{3, 1}, centre{0, 0};
        EXPECT_EQ(tangentFromPoint(&inside, &c, &d), -1);
        EXPECT_EQ(tangentFromPoint(&centre, &c, &d), -1);
    }
    // Tangents on a square ring: along an edge, and at a corner from the neighbour.
    const std::vector<ContourElement> sq = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    struct Case {
        int32_t element;
        Vec2 point;
        int entering;
        Vec2 tangent;
    } cases[] = {{1, {5, 0}, 1, {1, 0}}, {1, {0, 0}, 1, {0, -1}}, {1, {10, 0}, 0, {0, 1}},
                 {4, {0, 0}, 0, {1, 0}}, {2, {10, 0}, 0, {0, 1}}, {2, {10, 0}, 1, {1, 0}}};
    for (const Case& c : cases) {
        Vec2 t;
        ASSERT_EQ(pathTangentAt(sq.data(), 4, c.element, &c.point, c.entering, &t), 1);
        EXPECT_NEAR(t.x, c.tangent.x, 1e-12);
        EXPECT_NEAR(t.y, c.tangent.y, 1e-12);
    }
    const ContourElement arc = arcElem(0, 0, 2, 0, kPi, -1);
    const Vec2 top{0, 2};
    Vec2 t;
    ASSERT_EQ(pathTangentAt(&arc, 1, 1, &top, 1, &t), 1);
    EXPECT_NEAR(t.x, 1, 1e-12);
    EXPECT_EQ(pathTangentAt(&arc, 1, 2, &top, 1, &t), 0);
}

// Every move is tangent to t1 at p1 and to t2 at p2, smooth at its joints and no wider than asked.
TEST(LinkMove, ArcsAreTangentAndJoined) {
    rngResetState();
    int counts[4] = {0, 0, 0, 0};
    for (int run = 0; run < 2000; ++run) {
        const Vec2 p1{20 * rngUniform(), 20 * rngUniform()}, p2{20 * rngUniform(), 20 * rngUniform()};
        const Vec2 t1 = unit(2 * kPi * rngUniform()), t2 = unit(2 * kPi * rngUniform());
        const double r = 0.02 + 8 * rngUniform();
        ContourElement out[3];
        const int32_t n = linkBuildArcs(&p1, &t1, &p2, &t2, r, out);
        ASSERT_GE(n, 1);
        ASSERT_LE(n, 3);
        ++counts[n];
        Vec2 p, t, q, u;
        endOf(out[0], 0, &p, &t);
        EXPECT_NEAR(std::hypot(p.x - p1.x, p.y - p1.y), 0, 1e-9);
        endOf(out[n - 1], 1, &p, &u);
        EXPECT_NEAR(std::hypot(p.x - p2.x, p.y - p2.y), 0, 1e-9);
        if (n == 1) continue;
        EXPECT_NEAR(t.x * t1.x + t.y * t1.y, 1, 1e-7) << run;
        EXPECT_NEAR(u.x * t2.x + u.y * t2.y, 1, 1e-7) << run;
        for (int i = 0; i + 1 < n; ++i) {
            endOf(out[i], 1, &p, &t);
            endOf(out[i + 1], 0, &q, &u);
            EXPECT_NEAR(std::hypot(p.x - q.x, p.y - q.y), 0, 1e-7) << run;
            EXPECT_NEAR(t.x * u.x + t.y * u.y, 1, 1e-6) << run;
        }
        for (int i = 0; i < n; ++i) {
            if (out[i].type == kElemArc) {
                EXPECT_LE(out[i].g[kAr], r + 1e-9);
            }
        }
    }
    EXPECT_GT(counts[2], 0);
    EXPECT_GT(counts[3], 0);
}

int32_t gTrochoidCalls = 0;
int32_t trochoidStub(const Vec2* p1, const Vec2*, const Vec2* p2, const Vec2*, double, int32_t steps,
                     ContourElement* out) {
    ++gTrochoidCalls;
    out[0] = lineElem(p1->x, p1->y, p2->x, p2->y, -5);
    return steps == 3 ? 1 : 0;
}

std::vector<ContourElement> square(double x0, double y0, double x1, double y1) {
    return polygon({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}});
}

void setInput(double toolRadius) {
    clistCreate("INPUT");
    for (const std::vector<ContourElement>& c : {square(0, 0, 100, 100), square(40, 40, 60, 60)}) {
        ContourHeader h{};
        h.elementCount = 4;
        ASSERT_EQ(clistInsert("INPUT", c.data(), &h, -1), 1);
    }
    pocketKernel().toolRadius = toolRadius;
}

TEST(LinkMove, WidthHalvingAndTrochoidHook) {
    PocketErrors errors;
    setInput(2);
    ContourElement out[3];
    const Vec2 a{10, 10}, east{1, 0}, west{-1, 0};
    // Clear of every wall: full width kept.
    const Vec2 b{20, 16};
    const int32_t full = linkMoveBuild(&a, &east, &b, &west, 3, out);
    ASSERT_GE(full, 2);
    for (int i = 0; i < full; ++i) {
        if (out[i].type == kElemArc) {
            EXPECT_EQ(out[i].g[kAr], 3);
        }
    }
    // Behind the start with opposite tangents: every width bulges back, down to the straight line.
    const Vec2 behind{9.995, 10};
    ASSERT_EQ(linkMoveBuild(&a, &east, &behind, &west, 2, out), 1);
    EXPECT_EQ(out[0].type, kElemLine);
    EXPECT_EQ(linkMoveBuild(&a, &east, &b, &west, 0.009, out), 1);
    // Near a wall the width halves until the tool on each arc's circle keeps off the walls.
    const Vec2 c{10, 7}, d{14, 7.5};
    const int32_t n = linkMoveBuild(&c, &east, &d, &east, 8, out);
    ASSERT_GE(n, 2);
    for (int i = 0; i < n; ++i) {
        if (out[i].type != kElemArc) continue;
        const double x = out[i].g[kAcx], y = out[i].g[kAcy];
        EXPECT_LT(out[i].g[kAr], 8);
        EXPECT_GE(std::min({x, y, 100 - x, 100 - y}), out[i].g[kAr] + 2 - 0.0101);
    }

    linkSetTrochoidSearch(trochoidStub);
    gTrochoidCalls = 0;
    pocketKernel().trochoidSteps = 0;
    linkMoveBuild(&a, &east, &b, &west, 3, out);
    EXPECT_EQ(gTrochoidCalls, 0);
    pocketKernel().trochoidSteps = 3;
    EXPECT_EQ(linkMoveBuild(&a, &east, &b, &west, 3, out), 1);
    EXPECT_EQ(out[0].sourceTag, -5);
    pocketKernel().trochoidSteps = 2;
    EXPECT_GE(linkMoveBuild(&a, &east, &b, &west, 3, out), 2);
    EXPECT_EQ(gTrochoidCalls, 2);
    linkMoveResetState();
}

// Exact answer for the square pocket with its square island: every point of a
// move between two points of a ring stays in the region.
TEST(LinkMove, MovesStayInTheRegion) {
    PocketErrors errors;
    const double R = 2;
    setInput(R);
    auto inRegion = [](const Vec2& p) {
        return p.x > 0 && p.x < 100 && p.y > 0 && p.y < 100 &&
               !(p.x > 40 && p.x < 60 && p.y > 40 && p.y < 60);
    };
    // The ring at R about the island; points on it and the tangents of its direction.
    const double lo = 40 - R, hi = 60 + R;
    auto ringPoint = [&](double s, Vec2* t) {
        const double side = hi - lo, u = std::fmod(s, 4 * side);
        const int k = int(u / side);
        const double f = u - k * side;
        const Vec2 pts[4] = {{lo + f, lo}, {hi, lo + f}, {hi - f, hi}, {lo, hi - f}};
        const Vec2 tan[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
        *t = tan[k];
        return pts[k];
    };
    rngResetState();
    for (int run = 0; run < 300; ++run) {
        Vec2 t1, t2;
        const double s = 96 * rngUniform();
        const Vec2 p1 = ringPoint(s, &t1);
        const Vec2 p2 = ringPoint(s + 0.5 + 20 * rngUniform(), &t2);
        // The walk connects points a straight line can join without entering the island.
        bool straightOk = true;
        for (int i = 0; i <= 100; ++i)
            straightOk =
                straightOk && inRegion({p1.x + i / 100.0 * (p2.x - p1.x), p1.y + i / 100.0 * (p2.y - p1.y)});
        if (!straightOk) continue;
        ContourElement out[3];
        const int32_t n = linkMoveBuild(&p1, &t1, &p2, &t2, 0.5 + 12 * rngUniform(), out);
        ASSERT_GE(n, 1);
        for (int i = 0; i < n; ++i) {
            for (const Vec2& q : samples(out[i])) {
                EXPECT_TRUE(inRegion(q)) << run << " " << q.x << " " << q.y;
                if (out[i].type != kElemArc) continue;
                const double wall = std::min({q.x, q.y, 100 - q.x, 100 - q.y});
                const double dx = std::max({0.0, 40 - q.x, q.x - 60}),
                             dy = std::max({0.0, 40 - q.y, q.y - 60});
                EXPECT_GE(std::min(wall, std::hypot(dx, dy)), R - 0.0101) << run;
            }
        }
    }
}

}  // namespace
