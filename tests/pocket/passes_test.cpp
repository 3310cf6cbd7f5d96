// Axis-parallel passes: the pseudo angle and the hull against their defining
// properties, the width direction of known shapes, the pass count at the tool
// radius, pieces cut at islands, and the zig-zag order written to the region tree.
#include "pocket/passes.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "offset_util.h"
#include "pocket/regiontree.h"
#include "pocket_util.h"

namespace {

struct Tree : PocketErrors {
    Tree() {
        regionTreeResetState();
        EXPECT_EQ(regionTreeInit(1), 1);
        EXPECT_EQ(clistCreate("MAIN"), 1);
    }
    ~Tree() { regionTreeResetState(); }
};

void addMain(const std::vector<ContourElement>& c, const char* list = "MAIN", int16_t tag = 0) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(c.size());
    h.leftSide = 1;
    h.tag = tag;
    ASSERT_EQ(clistInsert(list, c.data(), &h, -1), 1);
}

std::vector<Vec2> rotated(const std::vector<Vec2>& p, double a, Vec2 shift) {
    std::vector<Vec2> out;
    for (const Vec2& q : p)
        out.push_back({shift.x + q.x * std::cos(a) - q.y * std::sin(a),
                       shift.y + q.x * std::sin(a) + q.y * std::cos(a)});
    return out;
}

std::vector<Vec2> box(double x0, double y0, double x1, double y1) {
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

// The attached nodes' elements in node order.
std::vector<std::vector<ContourElement>> nodes() {
    std::vector<std::vector<ContourElement>> out;
    for (int32_t i = 0; i < regionNodeCount(); ++i) {
        const RegionNode* n = regionNode(i);
        if (!n) continue;
        std::vector<ContourElement> e(n->elementCount);
        if (n->elementCount) {
            EXPECT_EQ(regionLoadElements(e.data(), static_cast<int32_t>(e.size()), n->elements), 1);
        }
        out.push_back(e);
    }
    return out;
}

}  // namespace

TEST(Passes, PseudoAngleOrdersDirectionsLikeTheTrueAngle) {
    const Vec2 o{3, -2};
    struct Case {
        Vec2 d;
        double expected;
    };
    for (const Case& c : std::vector<Case>{{{1, 0}, 0},
                                           {{1, 1}, 45},
                                           {{0, 1}, 90},
                                           {{-1, 1}, 135},
                                           {{-1, 0}, 180},
                                           {{-1, -1}, 225},
                                           {{0, -1}, 270},
                                           {{1, -1}, 315}}) {
        const Vec2 a{o.x + 2 * c.d.x, o.y + 2 * c.d.y};
        EXPECT_NEAR(pseudoAngle(&a, &o), c.expected, 1e-9) << c.d.x << "," << c.d.y;
    }
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-10, 10);
    for (int i = 0; i < 500; ++i) {
        const Vec2 a{u(rng), u(rng)}, b{u(rng), u(rng)};
        auto trueAngle = [&](const Vec2& p) {
            double t = std::atan2(p.y - o.y, p.x - o.x);
            return t < 0 ? t + 2 * offsettest::kPi : t;
        };
        if (std::fabs(trueAngle(a) - trueAngle(b)) < 1e-3) continue;
        EXPECT_EQ(trueAngle(a) < trueAngle(b), pseudoAngle(&a, &o) < pseudoAngle(&b, &o));
    }
}

// A convex, counter-clockwise polygon of input points that holds every input point is the hull.
TEST(Passes, HullIsConvexHoldsEveryPointAndStartsLowest) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-50, 50);
    for (int round = 0; round < 40; ++round) {
        std::vector<Vec2> p(3 + round * 3);
        for (Vec2& q : p) q = {u(rng), u(rng)};
        if (round % 4 == 0) p.push_back(p[0]);  // a repeated point
        std::vector<Vec2> h(p.size() + 1);
        const int32_t n = convexHull(p.data(), static_cast<int32_t>(p.size()), h.data());
        ASSERT_GE(n, 3);
        for (const Vec2& q : p) EXPECT_GE(q.y, h[0].y - 1e-5);
        for (int32_t i = 0; i < n; ++i) {
            const Vec2 &a = h[i], &b = h[(i + 1) % n], &c = h[(i + 2) % n];
            EXPECT_GT((b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x), 0) << "round " << round;
            for (const Vec2& q : p) EXPECT_GE((b.x - a.x) * (q.y - a.y) - (b.y - a.y) * (q.x - a.x), -1e-9);
            bool isInput = false;
            for (const Vec2& q : p) isInput = isInput || (q.x == a.x && q.y == a.y);
            EXPECT_TRUE(isInput);
        }
    }
}

// Widths of shapes known in closed form; the passes run along the long side.
TEST(Passes, WidthDirectionIsTheNarrowestOfTheHull) {
    struct Case {
        std::vector<Vec2> shape;
        double width;
    };
    std::vector<Vec2> hexagon;
    for (int k = 0; k < 6; ++k)
        hexagon.push_back({10 * std::cos(k * offsettest::kPi / 3), 10 * std::sin(k * offsettest::kPi / 3)});
    const std::vector<Case> cases = {{box(0, 0, 100, 20), 20},
                                     {box(0, 0, 20, 100), 20},
                                     {hexagon, 10 * std::sqrt(3.0)},
                                     {{{0, 0}, {40, 0}, {0, 30}}, 24}};
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> angle(0, 2 * offsettest::kPi);
    for (const Case& c : cases) {
        for (int r = 0; r < 5; ++r) {
            const double a = r == 0 ? 0 : angle(rng);
            const std::vector<ContourElement> poly = polygon(rotated(c.shape, a, {7, -3}));
            Vec2 base[2];
            double w = 0;
            ASSERT_EQ(hullWidthDirection(poly.data(), static_cast<int32_t>(poly.size()), base, &w), 1);
            EXPECT_NEAR(w, c.width, 1e-9);
            // Every corner lies left of the base line, within the width.
            const double len = std::hypot(base[1].x - base[0].x, base[1].y - base[0].y);
            for (const ContourElement& e : poly) {
                const double d = ((base[1].x - base[0].x) * (e.g[kLy1] - base[0].y) -
                                  (base[1].y - base[0].y) * (e.g[kLx1] - base[0].x)) /
                                 len;
                EXPECT_GE(d, -1e-9);
                EXPECT_LE(d, c.width + 1e-9);
            }
        }
    }
    const std::vector<ContourElement> narrow = polygon(rotated(box(0, 0, 100, 20), 0.3, {0, 0}));
    Vec2 base[2];
    double w = 0;
    ASSERT_EQ(hullWidthDirection(narrow.data(), 4, base, &w), 1);
    EXPECT_NEAR(std::atan2(base[1].y - base[0].y, base[1].x - base[0].x), 0.3, 1e-9);
    EXPECT_NEAR(std::hypot(base[1].x - base[0].x, base[1].y - base[0].y), 102, 1e-9);
}

TEST(Passes, PassCountAtTheToolRadius) {
    struct Case {
        double width, radius, step;
        int32_t passes;
    };
    for (const Case& c :
         std::vector<Case>{{4.9, 5, 4, 0}, {5, 5, 4, 1}, {8.9, 5, 4, 1}, {9, 5, 4, 2}, {100, 5, 4, 24}}) {
        const std::vector<ContourElement> poly = polygon(box(0, 0, 200, c.width));
        Vec2 base[2];
        double w = 0;
        ASSERT_EQ(hullWidthDirection(poly.data(), 4, base, &w), 1);
        PassTable* t = passesCreate(base, w, c.radius, c.step);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->count, c.passes) << c.width;
        for (int32_t k = 0; k < t->count; ++k) {
            EXPECT_EQ(t->pieces[k].line, k + 1);
            EXPECT_NEAR(t->pieces[k].sy, (k + 1) * c.step, 1e-9);
        }
        passTableFree(t);
    }
}

// An island in the middle splits the passes it crosses into two pieces that
// end on the contours, inside the boundary and outside the island.
TEST(Passes, IslandSplitsThePassesItCrosses) {
    PocketErrors guard;
    const std::vector<ContourElement> outer = polygon(box(0, 0, 100, 40));
    const std::vector<ContourElement> island = offsettest::circle(50, 20, 7.5, 4, -1);
    Vec2 base[2];
    double w = 0;
    ASSERT_EQ(hullWidthDirection(outer.data(), 4, base, &w), 1);
    PassTable* t = passesCreate(base, w, 2, 3);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(passesCut(t, outer.data(), 4, 0, 0), 1);
    ASSERT_EQ(passesCut(t, island.data(), 4, 1, 1), 1);
    std::map<int32_t, int> perLine;
    for (int32_t i = 0; i < t->count; ++i) {
        const PassPiece& p = t->pieces[i];
        ++perLine[p.line];
        const double y = p.sy;
        EXPECT_EQ(perLine[p.line] <= 2, true);
        const int expected = std::fabs(y - 20) < 7.5 ? 2 : 1;
        EXPECT_EQ(std::count_if(t->pieces, t->pieces + t->count,
                                [&](const PassPiece& q) { return q.line == p.line; }),
                  expected)
            << "y " << y;
        const Vec2 mid{0.5 * (p.sx + p.ex), 0.5 * (p.sy + p.ey)};
        EXPECT_GT(std::hypot(mid.x - 50, mid.y - 20), 7.5);
        for (const auto& [pt, c] :
             {std::pair{Vec2{p.sx, p.sy}, p.contourStart}, std::pair{Vec2{p.ex, p.ey}, p.contourEnd}}) {
            ASSERT_TRUE(c == 0 || c == 1);
            EXPECT_NEAR(offsettest::distanceTo(pt, c == 0 ? outer : island), 0, 1e-6);
        }
    }
    passTableFree(t);
}

// A plain rectangle: one zig-zag whose pieces alternate and are joined along the boundary.
TEST(Passes, RectangleIsOneConnectedZigZag) {
    Tree tree;
    addMain(polygon(box(0, 0, 60, 31)));
    ASSERT_EQ(pocketBuildMainTransitions(2, 3), 1);
    const auto n = nodes();
    ASSERT_GE(n.size(), 3u);
    int pieces = 0;
    double lastDir = 0;
    for (size_t i = 0; i < n.size(); ++i) {
        ASSERT_FALSE(n[i].empty());
        if (i) {
            const Vec2 end = offsettest::endPoint(n[i - 1].back()), start = offsettest::startPoint(n[i][0]);
            EXPECT_NEAR(std::hypot(end.x - start.x, end.y - start.y), 0, 1e-6) << i;
        }
        if (n[i].size() == 1 && std::fabs(n[i][0].g[kLy1] - n[i][0].g[kLy2]) < 1e-9 &&
            std::fabs(n[i][0].g[kLx1] - n[i][0].g[kLx2]) > 30) {
            const double dir = n[i][0].g[kLx2] - n[i][0].g[kLx1];
            EXPECT_LT(dir * lastDir, 0.0 + (pieces == 0 ? 1e300 : 0));
            lastDir = dir;
            ++pieces;
        }
    }
    EXPECT_EQ(pieces, 10);  // floor((31 - 3 - 2) / 3) + 2 passes across the 31-wide side
}

// Two pieces far apart on consecutive lines start a new zig-zag when a piece
// of the previous line is nearer.
TEST(Passes, FarPieceStartsANewZigZag) {
    Tree tree;
    PassTable* t = passTableCreate(3);
    ASSERT_NE(t, nullptr);
    auto piece = [](double x0, double x1, double y, int32_t line) {
        PassPiece p{};
        p.sx = x0, p.ex = x1, p.sy = p.ey = y, p.line = line;
        p.contourStart = p.contourEnd = -1;
        return p;
    };
    const PassPiece a = piece(0, 10, 0, 1), d = piece(30, 40, 0, 1), c = piece(100, 110, 3, 2);
    ASSERT_EQ(passTableAppend(t, &a), 1);
    ASSERT_EQ(passTableAppend(t, &d), 1);
    ASSERT_EQ(passTableAppend(t, &c), 1);
    ASSERT_EQ(passesOrderAndLink(t, 20), 1);
    const auto n = nodes();
    ASSERT_EQ(n.size(), 3u);
    const double firstX[3] = {0, 30, 110};  // A; then D and C, C reversed in the zig-zag
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(n[i][0].g[kLx1], firstX[i], 1e-9) << i;
    passTableFree(t);
}

TEST(Passes, TableHelpers) {
    PassTable* t = passTableCreate(2);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->capacity, 1000);
    EXPECT_EQ(t->lowestLine, 10000);
    EXPECT_EQ(t->highestLine, -10000);
    for (int32_t i = 0; i < 1500; ++i) {
        PassPiece p{};
        p.line = 3 + i % 5;
        p.sx = i;
        ASSERT_EQ(passTableInsert(t, i % 2 ? 0 : t->count, &p), 1);
    }
    EXPECT_EQ(t->count, 1500);
    EXPECT_EQ(t->capacity, 1500);
    EXPECT_EQ(t->pieces[0].sx, 1499);
    PassTable* copy = passTableCopy(t);
    ASSERT_NE(copy, nullptr);
    passTableReverseLines(copy);
    for (int32_t i = 0; i < t->count; ++i) EXPECT_EQ(copy->pieces[i].line, 7 - t->pieces[i].line + 3);
    PassPiece s{};
    s.sx = 1, s.ex = 2, s.contourStart = 4, s.contourEnd = 5, s.hitStart.x = 1, s.hitEnd.x = 2;
    passPieceSwapEnds(&s);
    EXPECT_EQ(s.sx, 2);
    EXPECT_EQ(s.contourStart, 5);
    EXPECT_EQ(s.hitStart.x, 2);
    passTableFree(copy);
    passTableFree(t);
}

// A pass that ends at an island stops at the island's full-width ring, goes once
// round it and once round the island's own ring, and both rings are used up.
TEST(Passes, ZigZagGoesRoundTheIslandRings) {
    Tree tree;
    ASSERT_EQ(clistCreate("GKT"), 1);
    ASSERT_EQ(clistCreate("INSEL"), 1);
    addMain(polygon(box(0, 0, 100, 40)));
    const std::vector<Vec2> island = {{40, 15}, {40, 25}, {60, 25}, {60, 15}};
    const std::vector<Vec2> full = {{38, 13}, {38, 27}, {62, 27}, {62, 13}};
    addMain(polygon(island), "MAIN", 1);
    addMain(polygon(full), "GKT", 1);
    addMain(polygon(island), "INSEL", 1);
    ASSERT_EQ(pocketBuildMainTransitions(2, 3), 1);
    EXPECT_EQ(clistCount("GKT"), 0);
    EXPECT_EQ(clistCount("INSEL"), 0);
    const auto n = nodes();
    auto onRing = [](const std::vector<ContourElement>& node, const std::vector<Vec2>& ring, size_t from) {
        const std::vector<ContourElement> r = polygon(ring);
        for (size_t i = from; i < node.size(); ++i)
            for (double t : {0.0, 0.5, 1.0})
                if (offsettest::distanceTo(offsettest::pointAlong(node[i], t), r) > 1e-9) return false;
        return true;
    };
    int rounds = 0;
    for (size_t i = 1; i + 1 < n.size(); ++i) {
        // The full ring may begin with a short joining line from the pass end.
        const size_t skip = n[i].size() == 6 ? 1 : 0;
        if (!onRing(n[i], full, skip) || offsettest::perimeter(n[i]) < 76 - 1e-9) continue;
        ++rounds;
        EXPECT_NEAR(offsettest::distanceTo(offsettest::endPoint(n[i - 1].back()), polygon(full)), 0, 1e-9);
        EXPECT_TRUE(onRing(n[i + 1], island, 1));
        EXPECT_NEAR(offsettest::perimeter(n[i + 1]), 60 + 2, 1e-9);  // the island and the 2 across to it
    }
    EXPECT_EQ(rounds, 1);
}
