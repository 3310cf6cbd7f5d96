#include "pocket/feedhelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernel/base/rng.h"
#include "pocket/pocket_util.h"

namespace {

constexpr double kPi = 3.141592653589793;

// Sweep of an arc from its own points, in its sense, in (0, 2 pi].
double sweep(const ContourElement& e) {
    const double a0 = std::atan2(e.g[kAsy] - e.g[kAcy], e.g[kAsx] - e.g[kAcx]);
    const double a1 = std::atan2(e.g[kAey] - e.g[kAcy], e.g[kAex] - e.g[kAcx]);
    double w = e.direction > 0 ? a1 - a0 : a0 - a1;
    while (w <= 1e-12) w += 2 * kPi;
    return w;
}

// A lead of every type ends on the element's start, arrives along its start tangent, and lies on
// the asked side: a line across (1) or along (2) of the length, a quarter (3) or half (4) circle
// of that radius.
TEST(FeedHelpers, LeadElementsArriveTangentOnTheirSide) {
    const ContourElement targets[] = {lineElem(2, 1, 5, 5), arcElem(0, 0, 3, 0.4, 2.0, 1),
                                      arcElem(1, -1, 2, 2.5, 0.5, -1)};
    for (const ContourElement& el : targets) {
        const bool arc = el.type == kElemArc;
        const Vec2 p = arc ? Vec2{el.g[kAsx], el.g[kAsy]} : Vec2{el.g[kLx1], el.g[kLy1]};
        Vec2 t;
        if (arc) {
            const double r = el.g[kAr];
            t = {-el.direction * (p.y - el.g[kAcy]) / r, el.direction * (p.x - el.g[kAcx]) / r};
        } else {
            const double l = std::hypot(el.g[kLx2] - p.x, el.g[kLy2] - p.y);
            t = {(el.g[kLx2] - p.x) / l, (el.g[kLy2] - p.y) / l};
        }
        for (const int32_t side : {1, -1}) {
            const double L = 1.5;
            for (const int32_t type : {0, 5, -1}) {
                ContourElement out{};
                EXPECT_EQ(leadElement(&el, side, type, L, &out), 0);
            }
            for (int32_t type = 1; type <= 4; ++type) {
                ContourElement out{};
                ASSERT_EQ(leadElement(&el, side, type, L, &out), 1);
                Vec2 s, e, u;  // start, end, arriving direction
                if (type <= 2) {
                    ASSERT_EQ(out.type, kElemLine);
                    s = {out.g[kLx1], out.g[kLy1]};
                    e = {out.g[kLx2], out.g[kLy2]};
                    EXPECT_NEAR(std::hypot(e.x - s.x, e.y - s.y), L, 1e-12);
                    u = {(e.x - s.x) / L, (e.y - s.y) / L};
                } else {
                    ASSERT_EQ(out.type, kElemArc);
                    s = {out.g[kAsx], out.g[kAsy]};
                    e = {out.g[kAex], out.g[kAey]};
                    EXPECT_EQ(out.g[kAr], L);
                    EXPECT_NEAR(std::hypot(s.x - out.g[kAcx], s.y - out.g[kAcy]), L, 1e-12);
                    EXPECT_NEAR(std::hypot(e.x - out.g[kAcx], e.y - out.g[kAcy]), L, 1e-12);
                    EXPECT_NEAR(sweep(out), type == 3 ? kPi / 2 : kPi, 1e-9) << type << side;
                    u = {-out.direction * (e.y - out.g[kAcy]) / L, out.direction * (e.x - out.g[kAcx]) / L};
                }
                EXPECT_EQ(out.sourceTag, 1);
                EXPECT_NEAR(std::hypot(e.x - p.x, e.y - p.y), 0, 1e-12);
                // Type 1 comes in square to the path, the others along it.
                const double along = u.x * t.x + u.y * t.y;
                EXPECT_NEAR(along, type == 1 ? 0 : 1, 1e-9) << type << " " << side;
                // The start lies to the asked side of the path's tangent line (type 2 on it).
                const double offside = side * ((s.x - p.x) * -t.y + (s.y - p.y) * t.x);
                EXPECT_NEAR(offside, type == 2 ? 0 : type == 4 ? 2 * L : L, 1e-9) << type << " " << side;
            }
        }
    }
    ContourElement none{}, out{};
    EXPECT_EQ(leadElement(&none, 1, 1, 1, &out), -1);
    const ContourElement dot = lineElem(1, 1, 1, 1);
    EXPECT_EQ(leadElement(&dot, 1, 2, 1, &out), -1);
}

// Trimming keeps the polyline's first length: against a walk along the untouched polyline.
TEST(FeedHelpers, PolylineTrimKeepsThePrefixOfTheLength) {
    rngResetState();
    for (int run = 0; run < 200; ++run) {
        const int32_t n = 2 + static_cast<int32_t>(rngBelow(6));
        std::vector<Vec2> p(n);
        for (Vec2& q : p) q = {10 * rngUniform(), 10 * rngUniform()};
        if (run % 5 == 0) p[1] = p[0];  // a zero-length first segment
        std::vector<double> cum{0};
        for (int32_t i = 1; i < n; ++i)
            cum.push_back(cum.back() + std::hypot(p[i].x - p[i - 1].x, p[i].y - p[i - 1].y));
        EXPECT_NEAR(polylineLength(p.data(), n), cum.back(), 1e-9);
        // Lengths inside, at a vertex exactly, beyond the end and zero.
        const int32_t v = 1 + static_cast<int32_t>(rngBelow(n - 1));
        for (const double len : {cum.back() * rngUniform(), cum[v], cum.back() * 1.5, 0.0}) {
            std::vector<Vec2> q = p;
            const int32_t m = polylineTrim(q.data(), n, len);
            // The first vertex at or beyond the length ends the trimmed polyline.
            int32_t want = n;
            for (int32_t i = 1; i < n; ++i)
                if (cum[i] >= len) {
                    want = i + 1;
                    break;
                }
            ASSERT_EQ(m, want) << run << " " << len;
            for (int32_t i = 0; i + 1 < m; ++i) EXPECT_TRUE(q[i].x == p[i].x && q[i].y == p[i].y);
            EXPECT_NEAR(polylineLength(q.data(), m), std::min(len, cum.back()), 1e-9) << run;
            // The new end lies on the segment it cut.
            const Vec2 a = p[m - 2], b = p[m - 1], e = q[m - 1];
            EXPECT_NEAR(std::hypot(e.x - a.x, e.y - a.y) + std::hypot(b.x - e.x, b.y - e.y),
                        std::hypot(b.x - a.x, b.y - a.y), 1e-9);
        }
    }
    Vec2 one[1] = {{1, 2}};
    EXPECT_EQ(polylineTrim(one, 1, 0.5), 1);
    EXPECT_EQ(polylineLength(nullptr, 5), 0);
}

// Arcs become chords no longer than the angle step whose sag stays within 1e-4, as few as those two
// limits allow; lines their ends; the capacity cuts the same sequence short.
TEST(FeedHelpers, ElementsToPointsChordsWithinStepAndSag) {
    rngResetState();
    for (int run = 0; run < 60; ++run) {
        std::vector<ContourElement> chain;
        Vec2 at{0, 0};
        for (int k = 0; k < 3; ++k) {
            if (rngBelow(2)) {
                const Vec2 to{at.x + 4 * rngUniform() - 2, at.y + 4 * rngUniform() - 2};
                chain.push_back(lineElem(at.x, at.y, to.x, to.y));
                at = to;
            } else {
                const double r = run % 4 == 0 ? 5e-5 : 0.01 + 3 * rngUniform(), a0 = 2 * kPi * rngUniform();
                const double w = 0.1 + 6 * rngUniform();
                const int32_t dir = rngBelow(2) ? 1 : -1;
                const Vec2 c{at.x - r * std::cos(a0), at.y - r * std::sin(a0)};
                chain.push_back(arcElem(c.x, c.y, r, a0, a0 + dir * w, dir));
                chain.back().g[kAsx] = at.x;
                chain.back().g[kAsy] = at.y;
                at = {chain.back().g[kAex], chain.back().g[kAey]};
            }
        }
        const double step = run % 7 == 0 ? 0 : 0.02 + 0.6 * rngUniform();
        const int32_t n = static_cast<int32_t>(chain.size());
        std::vector<Vec2> pts(20000);
        const int32_t m = elementsToPoints(pts.data(), 20000, chain.data(), n, run % 2 ? step : -step);
        ASSERT_GT(m, n);
        ASSERT_LT(m, 20000);
        int32_t i = 0;
        EXPECT_TRUE(pts[0].x == chain[0].g[kLx1] || pts[0].x == chain[0].g[kAsx]);
        for (const ContourElement& e : chain) {
            const Vec2 end = e.type == kElemArc ? Vec2{e.g[kAex], e.g[kAey]} : Vec2{e.g[kLx2], e.g[kLy2]};
            int32_t j = i + 1;
            while (j < m && !(pts[j].x == end.x && pts[j].y == end.y)) ++j;
            ASSERT_LT(j, m) << run;
            if (e.type != kElemArc || e.g[kAr] < 1e-4 || step == 0) {
                EXPECT_EQ(j, i + 1) << run;
            } else {
                const double r = e.g[kAr];
                double most = 0;
                for (int32_t k = i; k < j; ++k) {
                    const Vec2 mid{0.5 * (pts[k].x + pts[k + 1].x), 0.5 * (pts[k].y + pts[k + 1].y)};
                    EXPECT_NEAR(std::hypot(pts[k + 1].x - e.g[kAcx], pts[k + 1].y - e.g[kAcy]), r, 1e-9);
                    const double chord = std::hypot(pts[k + 1].x - pts[k].x, pts[k + 1].y - pts[k].y);
                    const double angle = 2 * std::asin(std::min(1.0, chord / (2 * r)));
                    most = std::max(most, angle);
                    EXPECT_LE(r - std::hypot(mid.x - e.g[kAcx], mid.y - e.g[kAcy]), 1e-4 * (1 + 1e-9)) << run;
                    EXPECT_LE(angle, step * (1 + 1e-9)) << run;
                }
                // One chord fewer would break a limit: the widest chord sits on one of them.
                const double sagAngle = 2 * std::acos(1 - 1e-4 / r);
                if (j - i > 1) {
                    EXPECT_NEAR(most, std::min(step, sagAngle), 1e-9) << run;
                }
                EXPECT_LE(j - i, static_cast<int32_t>(std::ceil(sweep(e) / std::min(step, sagAngle))) + 1);
            }
            i = j;
        }
        EXPECT_EQ(i, m - 1);
        // Any smaller capacity: the same points, as many as fit.
        const int32_t cap = 1 + static_cast<int32_t>(rngBelow(m));
        std::vector<Vec2> cut(cap);
        ASSERT_EQ(elementsToPoints(cut.data(), cap, chain.data(), n, run % 2 ? step : -step), cap);
        for (int32_t k = 0; k < cap; ++k) EXPECT_TRUE(cut[k].x == pts[k].x && cut[k].y == pts[k].y) << k;
    }
}

}  // namespace
