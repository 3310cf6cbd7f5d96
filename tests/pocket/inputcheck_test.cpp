#include "pocket/inputcheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "kernel/base/rng.h"
#include "offset_util.h"
#include "pocket/scratch.h"

namespace {

using offsettest::kPi;

std::vector<ContourElement> reversed(std::vector<ContourElement> c) {
    std::reverse(c.begin(), c.end());
    for (ContourElement& e : c) {
        if (e.type == kElemLine) {
            std::swap(e.g[kLx1], e.g[kLx2]);
            std::swap(e.g[kLy1], e.g[kLy2]);
        } else {
            std::swap(e.g[kAsx], e.g[kAex]);
            std::swap(e.g[kAsy], e.g[kAey]);
            e.direction = -e.direction;
        }
    }
    return c;
}

// The area against the shoelace sum of densely sampled points: random closed chains of lines and
// arcs of either sense and either side of their chords, not necessarily simple, and reversed.
TEST(InputCheck, AreaMatchesSampledShoelace) {
    rngResetState();
    for (int run = 0; run < 100; ++run) {
        const int n = 3 + static_cast<int>(rngBelow(5));
        std::vector<Vec2> p(n);
        for (Vec2& q : p) q = {20 * rngUniform() - 10, 20 * rngUniform() - 10};
        std::vector<ContourElement> chain;
        for (int i = 0; i < n; ++i) {
            const Vec2 s = p[i], t = p[(i + 1) % n];
            if (rngBelow(2)) {
                chain.push_back(lineElem(s.x, s.y, t.x, t.y));
                continue;
            }
            const double half = 0.5 * std::hypot(t.x - s.x, t.y - s.y);
            const double r = half * (1 + 2 * rngUniform()), h = std::sqrt(r * r - half * half);
            const double side = rngBelow(2) ? 1 : -1;
            const Vec2 c{0.5 * (s.x + t.x) - side * h * (t.y - s.y) / (2 * half),
                         0.5 * (s.y + t.y) + side * h * (t.x - s.x) / (2 * half)};
            ContourElement a = arcElem(c.x, c.y, r, 0, 0, rngBelow(2) ? 1 : -1);
            a.g[kAsx] = s.x;
            a.g[kAsy] = s.y;
            a.g[kAex] = t.x;
            a.g[kAey] = t.y;
            chain.push_back(a);
        }
        // Chords of up to 0.02 rad miss at most r^2 w 0.02^2 / 12 of an arc's area.
        double slack = 1e-9;
        for (const ContourElement& e : chain)
            if (e.type == kElemArc) slack += e.g[kAr] * e.g[kAr] * offsettest::sweepOf(e) * 4e-5;
        const std::vector<Vec2> pts = offsettest::samples(chain, 0.01);
        double shoelace = 0;
        for (size_t i = 0; i + 1 < pts.size(); ++i)
            shoelace += pts[i].x * pts[i + 1].y - pts[i + 1].x * pts[i].y;
        shoelace *= 0.5;
        EXPECT_NEAR(contourArea(chain.data(), n), shoelace, slack) << run;
        const std::vector<ContourElement> back = reversed(chain);
        EXPECT_NEAR(contourArea(back.data(), n), -shoelace, slack) << run;
    }
    // A single arc back to its start is a whole circle of its sense.
    for (const int32_t dir : {1, -1}) {
        const ContourElement full = arcElem(1, 2, 3, 0.5, 0.5, dir);
        EXPECT_NEAR(contourArea(&full, 1), dir * kPi * 9, 1e-9);
    }
    // An arc of radius 1e4 across 0.5 turns too little to count: the square it closes keeps its area.
    const ContourElement flat = arcElem(0.25, 1e4, 1e4, -kPi / 2 - 2.5e-5, -kPi / 2 + 2.5e-5, 1);
    const double y0 = flat.g[kAsy];
    const std::vector<ContourElement> square = {flat, lineElem(flat.g[kAex], flat.g[kAey], 0.5, 0.5),
                                                lineElem(0.5, 0.5, 0, 0.5),
                                                lineElem(0, 0.5, flat.g[kAsx], y0)};
    EXPECT_NEAR(contourArea(square.data(), 4), 0.5 * (0.5 - y0), 1e-6);
    EXPECT_EQ(contourArea(nullptr, 3), 0);
}

// Closed contours that cross themselves or enclose less than tolerance x length are refused with
// 3011; open ones are left alone; the sense does not matter.
TEST(InputCheck, ContoursCrossingThemselvesOrFlatAreRefused) {
    const double tol = 0.01;
    auto rect = [](double w, double h) { return polygon({{0, 0}, {w, 0}, {w, h}, {0, h}}); };
    // A thin rectangle 10 x h encloses 10 h against 0.01 (20 + 2 h): the border lies near h = 0.02.
    std::vector<ContourElement> figure = polygon({{0, 0}, {10, 0}, {10, 10}, {4, -2}});
    std::vector<ContourElement> open = figure;
    open.pop_back();
    const struct {
        std::vector<ContourElement> c;
        int result;
    } cases[] = {
        {rect(10, 10), 1},
        {reversed(rect(10, 10)), 1},
        {rect(10, 0.021), 1},
        {reversed(rect(10, 0.021)), 1},
        {rect(10, 0.0195), 0},
        {reversed(rect(10, 0.0195)), 0},
        {figure, 0},
        {reversed(figure), 0},
        {open, 1},
        {offsettest::circle(0, 0, 2, 3, -1), 1},
    };
    for (const auto& c : cases) {
        PocketErrors errors;
        pocketKernel().tolerance = tol;
        ASSERT_TRUE(clistCreate("TEMP"));
        ASSERT_TRUE(putContour("TEMP", rect(50, 50)));  // a good contour first: every one is checked
        ASSERT_TRUE(putContour("TEMP", c.c));
        EXPECT_EQ(inputCheckContours("TEMP"), c.result) << &c - cases;
        EXPECT_EQ(pocketLastError(), c.result ? 0 : 3011) << &c - cases;
    }
    // Without memory for the crossing table either check refuses a good list, with 3020.
    for (int (*check)(const char*) : {inputCheckContours, inputCheckNesting}) {
        PocketErrors errors;
        ASSERT_TRUE(clistCreate("TEMP") && putContour("TEMP", rect(50, 50)));
        scratchResetState();  // the table's buffer is taken anew
        allocfail::arm(1);
        EXPECT_EQ(check("TEMP"), 0);
        allocfail::disarm();
        EXPECT_EQ(pocketLastError(), 3020);
    }
}

// The outermost contours must all run one way and none may cross another; a contour inside another (not
// merely inside its box) may run either way.
TEST(InputCheck, OutermostContoursRunOneWay) {
    const std::vector<ContourElement> pocket = polygon({{0, 0}, {100, 0}, {100, 60}, {0, 60}});
    const std::vector<ContourElement> ell =
        polygon({{0, 0}, {100, 0}, {100, 20}, {20, 20}, {20, 60}, {0, 60}});
    const std::vector<ContourElement> inner = polygon({{40, 30}, {60, 30}, {60, 50}, {40, 50}});
    const std::vector<ContourElement> apart = polygon({{200, 0}, {230, 0}, {230, 30}, {200, 30}});
    const struct {
        std::vector<std::vector<ContourElement>> list;
        int result;
    } cases[] = {
        {{pocket, apart}, 1},
        {{pocket, reversed(apart)}, 0},
        {{reversed(pocket), reversed(apart)}, 1},
        {{pocket, reversed(inner)}, 1},
        {{reversed(inner), pocket}, 1},
        {{pocket, inner}, 1},
        {{reversed(pocket), inner}, 1},
        // In the notch of the L: inside its box, outside the contour.
        {{ell, reversed(inner)}, 0},
        {{reversed(inner), ell}, 0},
        {{ell, inner}, 1},
        // Both one way round, but through each other's wall.
        {{pocket, polygon({{90, 20}, {120, 20}, {120, 40}, {90, 40}})}, 0},
        {{pocket, apart, polygon({{90, 20}, {120, 20}, {120, 40}, {90, 40}})}, 0},  // first and last
        // An open line from inside out through the wall: one crossing is a crossing too.
        {{pocket, {lineElem(50, 30, 170, 30)}}, 0},
    };
    for (const auto& c : cases) {
        PocketErrors errors;
        ASSERT_TRUE(clistCreate("TEMP"));
        for (const auto& k : c.list) ASSERT_TRUE(putContour("TEMP", k));
        EXPECT_EQ(inputCheckNesting("TEMP"), c.result) << &c - cases;
        EXPECT_EQ(pocketLastError(), c.result ? 0 : 3042) << &c - cases;
    }
}

}  // namespace
