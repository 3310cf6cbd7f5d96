// Nesting of input contours: roles and orientation by containment and height,
// the group order of the list, undecided pairs, full circles, the far-first sort.
#include "pocket/nesting.h"

#include <functional>
#include <optional>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "kernel/base/rng.h"
#include "offset_util.h"
#include "pocket/contourorient.h"
#include "pocket/pocket_util.h"
#include "pocket/ringemit.h"
#include "ringtest_util.h"
#include "vecnear.h"

namespace {

using offsettest::signedArea;

void put(const std::vector<ContourElement>& c, double top = 0, double bottom = -5, int16_t group = 0) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(c.size());
    h.top = top;
    h.bottom = bottom;
    h.group = group;
    ASSERT_EQ(clistInsert("INPUT", c.data(), &h, -1), 1);
}

struct Got {
    ContourHeader h;
    std::vector<ContourElement> e;
};

Got get(int32_t i) {
    Got g{};
    EXPECT_GE(clistGetHeader("INPUT", &g.h, i), 0);
    g.e.resize(g.h.elementCount);
    EXPECT_GE(clistGet("INPUT", g.e.data(), &g.h, i), 0);
    return g;
}

int sign(double a) {
    return a > 0 ? 1 : -1;
}

}  // namespace

// The inner contour's top against the outer one's bottom: an island of the
// same group, or a deeper pocket of its own whose top is the outer floor.
TEST(Nesting, HeightDecidesIslandOrDeeperPocket) {
    struct Case {
        double innerTop;
        int32_t groups;
        bool island;
    } cases[] = {{0.0, 1, true}, {-5 + 2e-5, 1, true}, {-5 + 0.5e-5, 2, false}, {-6, 2, false}};
    for (const Case& c : cases) {
        PocketErrors errs;
        put(box(20, 20, 30, 30), c.innerTop, -8);  // listed first: the order is the nesting's
        put(box(0, 0, 50, 50), 0, -5);
        EXPECT_EQ(clistNestContours("INPUT", 1, 0, nullptr), c.groups) << c.innerTop;
        Got outer = get(0), inner = get(1);
        EXPECT_NEAR(signedArea(outer.e), 2500, 1e-9);
        EXPECT_EQ(std::pair(inner.h.parent, outer.h.parent), std::pair(int16_t{0}, int16_t{-1}));
        if (c.island) {
            EXPECT_NEAR(signedArea(inner.e), -100, 1e-9);
            EXPECT_EQ(inner.h.tag, 1);
            EXPECT_DOUBLE_EQ(inner.h.bottom, -5);
            EXPECT_NE(inner.h.ccw, inner.h.leftSide);
        } else {
            EXPECT_NEAR(signedArea(inner.e), 100, 1e-9);
            EXPECT_EQ(inner.h.tag, 2);
            EXPECT_DOUBLE_EQ(inner.h.top, -5);
            EXPECT_EQ(inner.h.ccw, inner.h.leftSide);
        }
    }
}

// Contours that stay between the near and far tolerances of each other, never
// touching, cannot be decided; the outside-in direct mode decides them by the mark.
TEST(Nesting, UndecidedPairFailsOutsideTheDirectMode) {
    PocketErrors errs;
    put(box(0, 0, 10, 10));
    put(box(1, 1, 9, 9));
    EXPECT_EQ(clistNestContours("INPUT", 1, 0, nullptr), -1);
    EXPECT_EQ(clistCount("INPUT"), 2);
    NestMatrix* m = containmentMatrix("INPUT");
    EXPECT_EQ(m, nullptr);
    nestMatrixFree(m);
    // 1 apart is clear at the direct mode's limit 0.2: one group; the sense 0 wanted is counter-clockwise.
    pocketKernel().outsideInDirect = 1;
    EXPECT_EQ(clistNestContours("INPUT", 0, 0, nullptr), 1);
    EXPECT_GT(signedArea(get(0).e), 0);
}

// A full circle of two arcs inside a box, its arcs' ends and middles 1 from the box's sides (neither near
// nor clear) but its 45-degree points 3.9 clear: tested as a polygon, kept as two arcs.
TEST(Nesting, FullCircleIsAnIslandAndKeepsItsArcs) {
    PocketErrors errs;
    put(box(9, 9, 31, 31));
    put({arcElem(20, 20, 10, 0, M_PI, 1), arcElem(20, 20, 10, M_PI, 2 * M_PI, 1)});
    EXPECT_EQ(clistNestContours("INPUT", 1, 0, nullptr), 1);
    Got c = get(1);
    ASSERT_EQ(c.e.size(), 2u);
    EXPECT_EQ(c.e[0].type, kElemArc);
    EXPECT_NEAR(signedArea(c.e), -M_PI * 100, 1e-9);
    EXPECT_EQ(c.h.parent, 0);
}

// Arcs become chords of the closed-form count, every vertex on the circle and
// every chord within the tolerance of it.
TEST(Nesting, CircleToPolygonChordsStayWithinTolerance) {
    rngResetState();
    std::vector<ContourElement> out(5000);
    for (int i = 0; i < 60; ++i) {
        const double r = 0.5 + 20 * rngUniform(), tol = 0.001 + 0.05 * rngUniform();
        const double a0 = 6 * rngUniform(), w = 0.1 + 6 * rngUniform();
        const int dir = rngBelow(2) ? 1 : -1;
        ContourElement a = arcElem(1, 2, r, a0, a0 + dir * w, dir);
        int32_t n = circleToPolygon(&a, 1, tol, out.data(), 5000);
        ASSERT_EQ(n, static_cast<int32_t>(std::floor(w / (2 * std::acos((r - tol) / r)))) + 1);
        for (int32_t k = 0; k < n; ++k) {
            const ContourElement& l = out[static_cast<size_t>(k)];
            EXPECT_NEAR(std::hypot(l.g[kLx1] - 1, l.g[kLy1] - 2), r, 1e-9);
            const double mid = std::hypot((l.g[kLx1] + l.g[kLx2]) / 2 - 1, (l.g[kLy1] + l.g[kLy2]) / 2 - 2);
            EXPECT_LE(r - mid, tol + 1e-12);
        }
        EXPECT_NEAR(out[static_cast<size_t>(n - 1)].g[kLx2], a.g[kAex], 1e-12);
        EXPECT_EQ(circleToPolygon(&a, 1, tol, out.data(), n) + circleToPolygon(&a, 1, tol, out.data(), n - 1),
                  n - 1);  // room for just the chords suffices, one less is refused (-1)
        // No tolerance, or one of the radius or more: the arc's chord alone, refused without room.
        for (const double none : {0.0, r}) {
            EXPECT_EQ(circleToPolygon(&a, 1, none, out.data(), 0), -1);
            ASSERT_EQ(circleToPolygon(&a, 1, none, out.data(), 1), 1);
            EXPECT_XY(EXPECT_EQ, (Vec2{out[0].g[kLx1], out[0].g[kLy1]}), a.g[kAsx], a.g[kAsy]);
            EXPECT_XY(EXPECT_EQ, (Vec2{out[0].g[kLx2], out[0].g[kLy2]}), a.g[kAex], a.g[kAey]);
        }
        const ContourElement twice[] = {a, a};  // so too for the chords of two arcs together
        EXPECT_EQ(circleToPolygon(twice, 2, tol, out.data(), 2 * n) +
                      circleToPolygon(twice, 2, tol, out.data(), 2 * n - 1),
                  2 * n - 1);
    }
}

// Seeded boxes nested up to three deep with random orientation (a single one
// among them): every parent and role agrees with the containment of the boxes,
// islands run against the boundaries, the orientation flags say how each runs,
// the groups count from 1, and each group lists its boundaries before its islands.
TEST(Nesting, RandomNestsAgreeWithBoxContainment) {
    rngResetState();
    int singles = 0;
    for (int trial = 0; trial < 40; ++trial) {
        PocketErrors errs;
        struct Box {
            double x0, y0, x1, y1;
            int depth;
        };
        std::vector<Box> boxes;
        const int outers = 1 + rngBelow(3);
        for (int o = 0; o < outers; ++o) {
            const double x = 200.0 * o;
            boxes.push_back({x, 0, x + 150, 150, 0});
            const int islands = rngBelow(3);
            for (int k = 0; k < islands; ++k) {
                const double ix = x + 10 + 45 * k;
                boxes.push_back({ix, 10, ix + 40, 100, 1});
                if (rngBelow(2)) boxes.push_back({ix + 10, 20, ix + 30, 60, 2});
            }
        }
        // Shuffled order and orientations; every contour spans the same heights.
        for (size_t i = boxes.size(); i > 1; --i)
            std::swap(boxes[i - 1], boxes[static_cast<size_t>(rngBelow(static_cast<int32_t>(i)))]);
        for (const Box& b : boxes) put(box(b.x0, b.y0, b.x1, b.y1, rngBelow(2) != 1));
        // The matrix and the parents against box containment, the diagonal and bad indices included.
        {
            const int32_t n = static_cast<int32_t>(boxes.size());
            auto within = [](const Box& a, const Box& b) {
                return a.x0 > b.x0 && a.x1 < b.x1 && a.y0 > b.y0 && a.y1 < b.y1;
            };
            NestMatrix* m = containmentMatrix("INPUT");
            ASSERT_NE(m, nullptr);
            ASSERT_EQ(m->n, n);
            for (int32_t i = 0; i < n; ++i) {
                int32_t parent = -1;
                for (int32_t j = 0; j < n; ++j) {
                    const Box &a = boxes[static_cast<size_t>(i)], &b = boxes[static_cast<size_t>(j)];
                    EXPECT_EQ(m->cells[i * n + j], within(a, b) ? 1 : within(b, a) ? -1 : 0) << i << " " << j;
                    if (within(a, b) && b.depth == a.depth - 1) parent = j;
                }
                EXPECT_EQ(immediateParent(m, i), parent);
            }
            for (int32_t bad : {-1, n}) EXPECT_EQ(immediateParent(m, bad), -1);
            EXPECT_EQ(immediateParent(nullptr, 0), -1);
            nestMatrixFree(m);
        }
        const int wanted = rngBelow(2) ? 1 : -1;
        // Depth 2 sits inside an island and reaches as high: a pocket in the island's top.
        int32_t reversed = 7;
        ASSERT_EQ(clistNestContours("INPUT", wanted, 0, &reversed),
                  outers + static_cast<int>(std::count_if(boxes.begin(), boxes.end(),
                                                          [](const Box& b) { return b.depth == 2; })));
        EXPECT_EQ(reversed, 0);  // set in the outside-in direct mode only
        singles += boxes.size() == 1;
        int lastTag = 0;
        bool inIslands = false;
        for (int32_t i = 0; i < clistCount("INPUT"); ++i) {
            Got g = get(i);
            const double area = signedArea(g.e);
            const Box* mine = nullptr;
            for (const Box& b : boxes)
                if (std::fabs(std::fabs(area) - (b.x1 - b.x0) * (b.y1 - b.y0)) < 1e-6 &&
                    g.e[0].g[kLx1] >= b.x0 - 1e-9 && g.e[0].g[kLx1] <= b.x1 + 1e-9 &&
                    g.e[0].g[kLy1] >= b.y0 - 1e-9 && g.e[0].g[kLy1] <= b.y1 + 1e-9)
                    mine = &b;
            ASSERT_NE(mine, nullptr);
            const bool island = mine->depth == 1;
            EXPECT_EQ(sign(area), island ? -wanted : wanted);
            EXPECT_EQ(g.h.ccw == g.h.leftSide, !island);
            EXPECT_EQ(g.h.ccw, area > 0 ? 1 : 0);
            EXPECT_TRUE(g.h.tag >= 1 && (i > 0 || g.h.tag == 1)) << "groups count from 1";
            if (g.h.tag != lastTag) inIslands = false;
            EXPECT_FALSE(inIslands && !island) << "a boundary after an island of its group";
            inIslands = island;
            EXPECT_GE(g.h.tag, lastTag);
            lastTag = g.h.tag;
            EXPECT_EQ(g.h.parent < 0, mine->depth == 0);
            if (g.h.parent >= 0) {
                Got p = get(g.h.parent);
                EXPECT_NEAR(std::fabs(signedArea(p.e)), mine->depth == 1 ? 22500 : 3600, 1e-6);
            }
        }
    }
    EXPECT_GT(singles, 0);
}

// Farthest from contour 1 first, contour 1 last, contour 0 in place; two
// contours stay as they are.
TEST(Nesting, SortByKeyPutsFarContoursFirst) {
    {
        PocketErrors errs;
        put(box(0, 0, 100, 100));
        put(box(10, 10, 20, 20));
        EXPECT_EQ(clistSortByKey("INPUT"), 0);
        EXPECT_NEAR(std::fabs(signedArea(get(1).e)), 100, 1e-9);
    }
    rngResetState();
    for (int trial = 0; trial < 10; ++trial) {
        PocketErrors errs;
        put(box(0, 0, 1000, 1000));
        std::vector<double> xs;
        for (int i = 0; i < 8; ++i) {
            const double x = 10 + 100 * i + 20 * rngUniform();
            xs.push_back(x);
        }
        for (size_t i = xs.size(); i > 1; --i)
            std::swap(xs[i - 1], xs[static_cast<size_t>(rngBelow(static_cast<int32_t>(i)))]);
        for (double x : xs) put(box(x, 10, x + 5, 15));
        const double x1 = xs[0];
        ASSERT_EQ(clistSortByKey("INPUT"), 1);
        EXPECT_NEAR(std::fabs(signedArea(get(0).e)), 1e6, 1e-6);
        double last = 1e300;
        for (int32_t i = 1; i < clistCount("INPUT"); ++i) {
            const double x = get(i).e[0].g[kLx1];
            const double gap = std::max(0.0, std::fabs(x - x1) - 5);  // closed-form box gap
            EXPECT_LE(gap, last + 1e-9);
            last = gap;
        }
        EXPECT_DOUBLE_EQ(get(clistCount("INPUT") - 1).e[0].g[kLx1], x1);
    }
}

// Nesting, the sort and the matrix with each allocation in turn failing: -1 (null for the matrix) or the
// result of a run with memory to spare.
TEST(Nesting, ShortOfMemoryFailsCleanly) {
    std::optional<PocketErrors> errs;
    const auto list = [&] {
        errs.reset();
        errs.emplace();
        put(box(0, 0, 50, 50));
        put(box(10, 10, 20, 20));
        put(box(30, 30, 40, 40));
    };
    const std::function<int32_t()> steps[] = {
        [] { return clistNestContours("INPUT", 1, 0, nullptr); },
        [] { return clistSortByKey("INPUT"); },
        [] {
            NestMatrix* m = containmentMatrix("INPUT");
            const int32_t n = m ? m->n : -1;
            nestMatrixFree(m);
            return n;
        },
    };
    for (size_t k = 0; k < std::size(steps); ++k) {
        list();
        const int32_t want = steps[k]();
        long failed = 0;
        for (long n = 1;; ++n) {
            list();
            allocfail::arm(n);
            const int32_t got = steps[k]();
            const bool fired = allocfail::fired();
            allocfail::disarm();
            if (!fired) break;
            failed += got == -1;
            EXPECT_TRUE(got == -1 || got == want) << k << " " << n << " " << got;
        }
        EXPECT_GT(failed, 0) << k;
    }
}
