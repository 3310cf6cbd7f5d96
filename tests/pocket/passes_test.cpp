// Axis-parallel passes: the pseudo angle and the hull against their defining
// properties, widths of known shapes, the pass count at the tool radius, pieces
// cut at islands, and the zig-zag order written to the region tree.
#include "pocket/passes.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>

#include "kernel/base/rng.h"
#include "offset_util.h"
#include "strategy_util.h"

namespace {

using offsettest::kPi;

struct Tree : PocketErrors {
    Tree() {
        regionTreeResetState();
        EXPECT_EQ(regionTreeInit(1), 1);
        EXPECT_EQ(clistCreate("MAIN"), 1);
    }
    ~Tree() { regionTreeResetState(); }
};

std::vector<Vec2> rotated(const std::vector<Vec2>& p, double a) {
    std::vector<Vec2> out;
    for (const Vec2& q : p)
        out.push_back(
            {7 + q.x * std::cos(a) - q.y * std::sin(a), -3 + q.x * std::sin(a) + q.y * std::cos(a)});
    return out;
}

std::vector<std::vector<ContourElement>> allNodes() {
    std::vector<std::vector<ContourElement>> out;
    for (int32_t i = 0; i < regionNodeCount(); ++i) out.push_back(nodeRing(i));
    return out;
}

PassPiece piece(double x0, double x1, double y, int32_t line) {
    PassPiece p{};
    p.sx = x0, p.ex = x1, p.sy = p.ey = y, p.line = line;
    p.contourStart = p.contourEnd = -1;
    return p;
}

}  // namespace

TEST(Passes, PseudoAngleOrdersDirectionsLikeTheTrueAngle) {
    const Vec2 o{3, -2};
    for (int k = 0; k < 8; ++k) {
        const Vec2 a{o.x + 2 * std::round(std::cos(k * kPi / 4)),
                     o.y + 2 * std::round(std::sin(k * kPi / 4))};
        EXPECT_NEAR(pseudoAngle(&a, &o), 45.0 * k, 1e-9) << k;
    }
    EXPECT_EQ(pseudoAngle(&o, &o), 0);  // no direction
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-10, 10);
    auto angle = [&](const Vec2& p) {
        return std::fmod(std::atan2(p.y - o.y, p.x - o.x) + 2 * kPi, 2 * kPi);
    };
    for (int i = 0; i < 500; ++i) {
        const Vec2 a{u(rng), u(rng)}, b{u(rng), u(rng)};
        if (std::fabs(angle(a) - angle(b)) > 1e-3) {
            EXPECT_EQ(angle(a) < angle(b), pseudoAngle(&a, &o) < pseudoAngle(&b, &o));
        }
    }
}

// A convex counter-clockwise polygon of input points holding every input point is the hull.
TEST(Passes, HullIsConvexHoldsEveryPointAndStartsLowest) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-50, 50);
    for (int round = 0; round < 40; ++round) {
        std::vector<Vec2> p(3 + round * 3);
        for (Vec2& q : p) q = {u(rng), u(rng)};
        p.push_back(p[0]);  // a repeated point
        std::vector<Vec2> h(p.size() + 1);
        const int32_t n = convexHull(p.data(), static_cast<int32_t>(p.size()), h.data());
        ASSERT_GE(n, 3);
        for (int32_t i = 0; i < n; ++i) {
            const Vec2 &a = h[i], &b = h[(i + 1) % n], &c = h[(i + 2) % n];
            EXPECT_GT((b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x), 0) << round;
            EXPECT_TRUE(
                std::any_of(p.begin(), p.end(), [&](const Vec2& q) { return q.x == a.x && q.y == a.y; }));
            for (const Vec2& q : p) {
                EXPECT_GE((b.x - a.x) * (q.y - a.y) - (b.y - a.y) * (q.x - a.x), -1e-9);
                EXPECT_GE(q.y, h[0].y - 1e-5);
            }
        }
    }
    // A point off an edge by rounding alone (1e-15, nearer than the edge's end) is no corner of a square,
    // nor is a point on an edge given before the edge's end.
    std::vector<Vec2> h(6);
    for (const auto& square : {std::vector<Vec2>{{0, 0}, {2, 0}, {1, -1e-15}, {2, 2}, {0, 2}},
                               std::vector<Vec2>{{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}}})
        EXPECT_EQ(convexHull(square.data(), 5, h.data()), 4);
    // Points 1e-12 apart are two corners, nearer ones one.
    for (const double gap : {1e-12, 0.9e-12}) {
        const std::vector<Vec2> close = {{-1, 0}, {0, 0}, {0, gap}, {-0.5, 1}};
        EXPECT_EQ(convexHull(close.data(), 4, h.data()), gap < 1e-12 ? 3 : 4) << gap;
    }
}

// Widths known in closed form, at random rotations; the base line of a long
// narrow rectangle runs along its long side with the hull on its left.
TEST(Passes, WidthDirectionIsTheNarrowestOfTheHull) {
    std::vector<Vec2> hexagon;
    for (int k = 0; k < 6; ++k) hexagon.push_back({10 * std::cos(k * kPi / 3), 10 * std::sin(k * kPi / 3)});
    const std::vector<std::pair<std::vector<Vec2>, double>> cases = {{box(0, 0, 100, 20), 20},
                                                                     {box(0, 0, 20, 100), 20},
                                                                     {hexagon, 10 * std::sqrt(3.0)},
                                                                     {{{0, 0}, {40, 0}, {0, 30}}, 24}};
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> angle(0, 2 * kPi);
    for (const auto& [shape, width] : cases) {
        for (int r = 0; r < 5; ++r) {
            const double a = angle(rng);
            const std::vector<ContourElement> poly = polygon(rotated(shape, a));
            Vec2 base[2];
            double w = 0;
            ASSERT_EQ(hullWidthDirection(poly.data(), static_cast<int32_t>(poly.size()), base, &w), 1);
            EXPECT_NEAR(w, width, 1e-9);
            const double dx = base[1].x - base[0].x, dy = base[1].y - base[0].y, len = std::hypot(dx, dy);
            for (const ContourElement& e : poly) {
                const double d = (dx * (e.g[kLy1] - base[0].y) - dy * (e.g[kLx1] - base[0].x)) / len;
                EXPECT_GE(d, -1e-9);
                EXPECT_LE(d, width + 1e-9);
            }
            if (width == 20 && shape[2].x == 100) {
                EXPECT_NEAR(std::remainder(std::atan2(dy, dx) - a, kPi), 0, 1e-9);
                EXPECT_NEAR(len, 102, 1e-9);
            }
        }
    }
    // A chord closed by an arc of radius 100 too short to be divided (within 0.01 of its chord, sweep
    // 0.05) or divided in a few steps (sweep 0.2): the hull reaches the arc's middle, the width is its
    // height over the chord.
    Vec2 base[2];
    double w = 0;
    for (const double sweep : {0.05, 0.2}) {
        const ContourElement arc = arcElem(0, 0, 100, kPi / 2 - sweep / 2, kPi / 2 + sweep / 2, 1);
        const std::vector<ContourElement> d = {arc,
                                               lineElem(arc.g[kAex], arc.g[kAey], arc.g[kAsx], arc.g[kAsy])};
        ASSERT_EQ(hullWidthDirection(d.data(), 2, base, &w), 1) << sweep;
        EXPECT_NEAR(w, 100 * (1 - std::cos(sweep / 2)), 1e-9) << sweep;
    }
    // A half circle whose stored end lies 0.01 inside its radius: the hull takes the end as stored.
    std::vector<ContourElement> half = {arcElem(0, 0, 10, 0, kPi, 1), lineElem(-9.99, 0, 10, 0)};
    half[0].g[kAex] = -9.99, half[0].g[kAey] = 0;
    ASSERT_EQ(hullWidthDirection(half.data(), 2, base, &w), 1);
    EXPECT_NEAR(w, 10, 1e-9);
    EXPECT_NEAR(std::min(base[0].x, base[1].x), -10.99, 1e-9);
    EXPECT_NEAR(std::max(base[0].x, base[1].x), 11, 1e-9);
}

TEST(Passes, PassCountAtTheToolRadius) {
    struct Case {
        double width;
        int32_t passes;  // radius 5, step 4
    };
    for (const Case& c : std::vector<Case>{{4.9, 0}, {5, 1}, {8.9, 1}, {9, 2}, {17 - 2e-9, 4}, {100, 24}}) {
        const std::vector<ContourElement> poly = polygon(box(0, 0, 200, c.width));
        Vec2 base[2];
        double w = 0;
        ASSERT_EQ(hullWidthDirection(poly.data(), 4, base, &w), 1);
        PassTable* t = passesCreate(base, w, 5, 4);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->count, c.passes) << c.width;
        for (int32_t k = 0; k < t->count; ++k) {
            EXPECT_NEAR(t->pieces[k].sy, (k + 1) * 4.0, 1e-9);
            EXPECT_EQ(std::pair(t->pieces[k].contourStart, t->pieces[k].contourEnd), std::pair(-1, -1));
            // Both ends are free: the hit is the end itself on no contour element (elemB counts from 1).
            for (const auto& [hit, x, y] :
                 {std::tuple(t->pieces[k].hitStart, t->pieces[k].sx, t->pieces[k].sy),
                  std::tuple(t->pieces[k].hitEnd, t->pieces[k].ex, t->pieces[k].ey)})
                EXPECT_EQ(std::tuple(hit.x, hit.y, hit.elemB), std::tuple(x, y, 0));
        }
        passTableFree(t);
    }
}

// An island splits the passes it crosses into two pieces that end on the
// contours, inside the boundary and outside the island; the table grows by half.
TEST(Passes, IslandSplitsThePassesItCrosses) {
    PocketErrors guard;
    const std::vector<ContourElement> outer = polygon(box(0, 0, 100, 40));
    const std::vector<ContourElement> island = offsettest::circle(50, 20, 7.5, 4, -1);
    Vec2 base[2];
    double w = 0;
    ASSERT_EQ(hullWidthDirection(outer.data(), 4, base, &w), 1);
    PassTable* t = passesCreate(base, w, 2, 3);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->capacity, 1000);
    // A piece ending exactly on a wall leaves no zero-length piece there.
    const PassPiece wallToWall = piece(-5, 100, 10, 99);
    ASSERT_EQ(passTableAppend(t, &wallToWall), 1);
    ASSERT_EQ(passesCut(t, outer.data(), 4, 0, 0), 1);
    ASSERT_EQ(passesCut(t, island.data(), 4, 1, 1), 1);
    for (int32_t i = 0; i < t->count; ++i) {
        const PassPiece& p = t->pieces[i];
        const auto onLine = std::count_if(t->pieces, t->pieces + t->count,
                                          [&](const PassPiece& q) { return q.line == p.line; });
        EXPECT_EQ(onLine, std::fabs(p.sy - 20) < 7.5 ? 2 : 1) << p.sy;
        EXPECT_GT(std::hypot(0.5 * (p.sx + p.ex) - 50, p.sy - 20), 7.5);
        for (const auto& [pt, c] :
             {std::pair{Vec2{p.sx, p.sy}, p.contourStart}, std::pair{Vec2{p.ex, p.ey}, p.contourEnd}}) {
            ASSERT_TRUE(c == 0 || c == 1);
            EXPECT_NEAR(offsettest::distanceTo(pt, c == 0 ? outer : island), 0, 1e-6);
        }
    }
    for (int32_t i = 0; i < 1000; ++i) ASSERT_EQ(passTableInsert(t, 0, &t->pieces[t->count - 1]), 1);
    EXPECT_EQ(t->capacity, 1500);
    passTableFree(t);
}

// The table against a vector model under seeded inserts (some at indices outside it, refused), then its
// copy, its lines reversed (line := highest - line + lowest) and a piece's ends swapped.
TEST(Passes, TableFollowsAVectorModel) {
    rngResetState();
    PassTable* t = passTableCreate(3);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(std::vector<int32_t>({t->capacity, t->count, t->lowestLine, t->highestLine}),
              std::vector<int32_t>({1000, 0, 10000, -10000}));
    std::vector<int32_t> model;
    for (int step = 0; step < 1200; ++step) {
        const int32_t at = rngBelow(static_cast<int32_t>(model.size()) + 3) - 1, line = rngBelow(500) - 100;
        const bool fits = at >= 0 && at <= static_cast<int32_t>(model.size());
        const PassPiece p = piece(line, step, 0, line);
        ASSERT_EQ(step % 2 ? passTableAppend(t, &p) : passTableInsert(t, at, &p), step % 2 || fits ? 1 : 0);
        if (step % 2) {
            model.push_back(line);
        } else if (fits) {
            model.insert(model.begin() + at, line);
        }
    }
    ASSERT_EQ(t->count, static_cast<int32_t>(model.size()));
    EXPECT_GE(t->capacity, t->count);
    const int32_t lo = *std::min_element(model.begin(), model.end()),
                  hi = *std::max_element(model.begin(), model.end());
    EXPECT_EQ(std::pair(t->lowestLine, t->highestLine), std::pair(lo, hi));
    PassTable* c = passTableCopy(t);
    ASSERT_NE(c, nullptr);
    passTableReverseLines(c);
    EXPECT_EQ(std::pair(c->lowestLine, c->highestLine), std::pair(lo, hi));
    for (int32_t i = 0; i < t->count; ++i) {
        EXPECT_EQ(t->pieces[i].line, model[i]);
        EXPECT_EQ(t->pieces[i].sx, model[i]);
        EXPECT_EQ(c->pieces[i].line, hi - model[i] + lo);
        EXPECT_EQ(c->pieces[i].ex, t->pieces[i].ex);
    }
    PassPiece p = piece(1, 2, 3, 4);
    p.ey = 5, p.contourStart = 6, p.hitStart.x = 7, p.hitEnd.y = 8;
    passPieceSwapEnds(&p);
    EXPECT_EQ(std::vector<double>({p.sx, p.sy, p.ex, p.ey, 1.0 * p.contourStart, 1.0 * p.contourEnd,
                                   p.hitEnd.x, p.hitStart.y}),
              std::vector<double>({2, 5, 1, 3, -1, 6, 7, 8}));
    // Nothing to work on: refused or left alone.
    EXPECT_EQ(passTableAppend(nullptr, &p), 0);
    EXPECT_EQ(passTableInsert(t, 0, nullptr), 0);
    EXPECT_EQ(passTableCopy(nullptr), nullptr);
    passTableReverseLines(nullptr);
    passPieceSwapEnds(nullptr);
    passTableFree(nullptr);
    passTableFree(c);
    passTableFree(t);
}

// A rectangle is one connected zig-zag of alternating passes joined along the boundary.
TEST(Passes, RectangleIsOneConnectedZigZag) {
    Tree tree;
    insert("MAIN", polygon(box(0, 0, 60, 31)));
    ASSERT_EQ(pocketBuildMainTransitions(2, 3), 1);
    const auto n = allNodes();
    int pieces = 0;
    double lastDir = 0;
    for (size_t i = 0; i < n.size(); ++i) {
        ASSERT_FALSE(n[i].empty());
        EXPECT_EQ(std::pair(regionNode(i)->level, regionNode(i)->parentHead), std::pair(0, 0)) << i;
        if (i) {
            const Vec2 end = offsettest::endPoint(n[i - 1].back()), start = offsettest::startPoint(n[i][0]);
            EXPECT_NEAR(std::hypot(end.x - start.x, end.y - start.y), 0, 1e-6) << i;
        }
        const double dir = n[i][0].g[kLx2] - n[i][0].g[kLx1];
        if (n[i].size() == 1 && std::fabs(dir) > 30) {
            EXPECT_TRUE(pieces == 0 || dir * lastDir < 0);
            lastDir = dir;
            ++pieces;
        }
    }
    EXPECT_EQ(pieces, 10);  // floor((31 - 3 - 2) / 3) + 2
}

// A boundary without extent or without any element has no width to lay passes across; no step, no passes.
TEST(Passes, BoundaryWithoutWidthIsRefused) {
    Tree tree;
    EXPECT_EQ(pocketBuildMainTransitions(2, 3), -1);
    insert("MAIN", {lineElem(5, 5, 5, 5)});
    EXPECT_EQ(pocketBuildMainTransitions(2, 3), -1);
    EXPECT_EQ(regionNodeCount(), 0);
    // A boundary with width but a step that lays no pass.
    ASSERT_EQ(clistCreate("MAIN"), 1);
    insert("MAIN", polygon(box(0, 0, 60, 31)));
    for (const double step : {0.0, -3.0}) EXPECT_EQ(pocketBuildMainTransitions(2, step), -1) << step;
    EXPECT_EQ(regionNodeCount(), 0);
    // With no region tree to take it, a pass that cannot be written is a failure, not a success.
    regionTreeResetState();
    PassTable* t = passTableCreate(1);
    const PassPiece p = piece(0, 10, 0, 1);
    ASSERT_EQ(passTableAppend(t, &p), 1);
    EXPECT_EQ(passesOrderAndLink(t, 20), -1);
    passTableFree(t);
}

// On the next line only a far piece: a nearer piece left on this line starts a new zig-zag first. The next
// line's piece is taken while it is no more than 1/1.2 times as far as what is left on this one (at 10 and
// 12 exactly, it is). What is left counts wherever it stands in the table, first too.
TEST(Passes, FarPieceStartsANewZigZag) {
    const struct {
        std::vector<PassPiece> pieces;
        std::vector<double> firstX;
    } cases[] = {
        {{piece(0, 10, 0, 1), piece(30, 40, 0, 1), piece(100, 110, 3, 2)}, {0, 30, 110}},
        {{piece(0, 10, 0, 1), piece(22, 32, 0, 1), piece(0, 10, 10, 2)}, {0, 10, 22}},
        {{piece(30, 40, 3, 2), piece(0, 10, 0, 1), piece(0, 10, 3, 2), piece(100, 110, 6, 3)},
         {0, 10, 30, 110}},
    };
    for (const auto& c : cases) {
        Tree tree;
        PassTable* t = passTableCreate(4);
        ASSERT_NE(t, nullptr);
        for (const PassPiece& p : c.pieces) ASSERT_EQ(passTableAppend(t, &p), 1);
        ASSERT_EQ(passesOrderAndLink(t, 20), 1);
        const auto n = allNodes();
        std::vector<double> firstX;
        for (const auto& node : n) firstX.push_back(node[0].g[kLx1]);
        EXPECT_EQ(firstX, c.firstX);
        passTableFree(t);
    }
}

// Passes from the open left side of the boundary (min(y, 10 - y) of it behind a hit) to a free end at
// x = 60 or to the open right side: the cut starts at the end of the first or last line with the least
// open side behind it, also when both lines run from open side to open side. A single pass hitting a wall
// instead is kept as it is given.
TEST(Passes, FirstPassStartsWhereLessOpenSideLiesBehind) {
    const struct {
        std::vector<std::pair<double, double>> lines;  // y, far end x
        bool leftWall, reversed;
        Vec2 start;
    } cases[] = {{{{0.5, 60}}, false, false, {60, 0.5}},       {{{0.5, 60}}, false, true, {60, 0.5}},
                 {{{0.5, 60}}, true, false, {0, 0.5}},         {{{0.5, 60}}, true, true, {60, 0.5}},
                 {{{1, 100}, {5, 60}}, false, false, {60, 5}}, {{{5, 100}, {1, 60}}, false, false, {60, 1}},
                 {{{1, 60}, {5, 100}}, false, false, {60, 1}}, {{{5, 60}, {1, 100}}, false, false, {60, 5}},
                 {{{1, 100}, {5, 100}}, false, false, {0, 1}}};
    for (const auto& c : cases) {
        Tree tree;
        insert("MAIN", tagged(polygon(box(0, 0, 100, 10)), {0, -1, 0, c.leftWall ? 0 : -1}));
        PassTable* t = passTableCreate(2);
        ASSERT_NE(t, nullptr);
        for (size_t i = 0; i < c.lines.size(); ++i) {
            const auto [y, x] = c.lines[i];
            PassPiece p = piece(0, x, y, static_cast<int32_t>(i + 1));
            p.contourStart = 0, p.hitStart = PocketIsect{0, y, 0, 1, 4, 0};
            if (x == 100) p.contourEnd = 0, p.hitEnd = PocketIsect{100, y, 0, 1, 2, 0};
            if (c.reversed) passPieceSwapEnds(&p);
            ASSERT_EQ(passTableAppend(t, &p), 1);
        }
        ASSERT_EQ(passesOrderAndLink(t, 20), 1);
        passTableFree(t);
        const auto n = allNodes();
        ASSERT_EQ(n.size() == 1, c.lines.size() == 1);
        const Vec2 at = offsettest::startPoint(n[0][0]);
        EXPECT_EQ(std::pair(at.x, at.y), std::pair(c.start.x, c.start.y)) << c.lines[0].first << c.leftWall;
    }
}

// Seeded tables of pieces on a few lines (nearer and farther pieces on one line, lines left empty):
// however the zig-zags are formed, every piece is cut exactly once, in one direction or the other, whole:
// a full-width ring across them is not theirs when none ends on its island. Also from a table filled to
// its last slot (a thousand lines).
TEST(Passes, EveryPieceIsCutOnce) {
    rngResetState();
    for (int round = 0; round <= 40; ++round) {
        Tree tree;
        ASSERT_EQ(clistCreate("GKT"), 1);
        insert("GKT", polygon(box(-10, -5, 10, 20)), 7);
        std::vector<PassPiece> pieces;
        for (int32_t line = 1; round == 40 && line <= 1000; ++line) pieces.push_back(piece(0, 5, line, line));
        for (int32_t line = 1; round < 40 && line <= 4; ++line) {
            double x = -20 + 20 * rngUniform();
            for (int k = rngBelow(4); k > 0; --k) {
                const double w = 2 + 20 * rngUniform();
                pieces.push_back(piece(x, x + w, 3.0 * line, line));
                x += w + 1 + 40 * rngUniform();
            }
        }
        if (pieces.empty()) continue;
        PassTable* t = passTableCreate(static_cast<int32_t>(pieces.size()));
        ASSERT_NE(t, nullptr);
        for (const PassPiece& p : pieces) ASSERT_EQ(passTableAppend(t, &p), 1);
        ASSERT_EQ(passesOrderAndLink(t, 20), 1);
        EXPECT_EQ(t->capacity, round == 40 ? t->count : 1000);
        passTableFree(t);
        std::vector<int> cut(pieces.size(), 0);
        for (const auto& node : allNodes())
            for (const ContourElement& e : node)
                for (size_t i = 0; i < pieces.size(); ++i) {
                    const PassPiece& p = pieces[i];
                    const double a[4] = {e.g[kLx1], e.g[kLy1], e.g[kLx2], e.g[kLy2]};
                    const bool same = e.type == kElemLine && a[1] == p.sy && a[3] == p.sy &&
                                      ((a[0] == p.sx && a[2] == p.ex) || (a[0] == p.ex && a[2] == p.sx));
                    cut[i] += same;
                }
        for (size_t i = 0; i < pieces.size(); ++i) EXPECT_EQ(cut[i], 1) << round << " " << i;
    }
}

// A pass ending at an island stops at its full-width ring, goes once round it
// and once round the island's own ring, and both rings are used up.
TEST(Passes, ZigZagGoesRoundTheIslandRings) {
    Tree tree;
    ASSERT_EQ(clistCreate("GKT"), 1);
    ASSERT_EQ(clistCreate("INSEL"), 1);
    const std::vector<Vec2> island = {{40, 15}, {40, 25}, {60, 25}, {60, 15}};
    const std::vector<Vec2> full = {{38, 13}, {38, 27}, {62, 27}, {62, 13}};
    insert("MAIN", polygon(box(0, 0, 100, 40)));
    insert("MAIN", polygon(island), 1);
    insert("GKT", polygon(full), 1);
    insert("INSEL", polygon(island), 1);
    ASSERT_EQ(pocketBuildMainTransitions(2, 3), 1);
    EXPECT_EQ(clistCount("GKT") + clistCount("INSEL"), 0);
    auto onRing = [](const std::vector<ContourElement>& node, const std::vector<Vec2>& ring, size_t from) {
        for (size_t i = from; i < node.size(); ++i)
            for (double t : {0.0, 0.5, 1.0})
                if (offsettest::distanceTo(offsettest::pointAlong(node[i], t), polygon(ring)) > 1e-9)
                    return false;
        return node.size() >= 4;
    };
    const auto n = allNodes();
    int rounds = 0;
    for (size_t i = 1; i + 1 < n.size(); ++i) {
        // The full ring may begin with a short joining line from the pass end.
        if (!onRing(n[i], full, n[i].size() == 6 ? 1 : 0) || offsettest::perimeter(n[i]) < 76 - 1e-9)
            continue;
        ++rounds;
        EXPECT_NEAR(offsettest::distanceTo(offsettest::endPoint(n[i - 1].back()), polygon(full)), 0, 1e-9);
        EXPECT_TRUE(onRing(n[i + 1], island, 1));
        EXPECT_NEAR(offsettest::perimeter(n[i + 1]), 60 + 2, 1e-9);  // the island and the 2 across to it
    }
    EXPECT_EQ(rounds, 1);
}

// An open pocket's rings of its own wall (tag 0): where a pass reaches them, round the ring, then the wall.
TEST(Passes, ZigZagGoesRoundTheWallRings) {
    Tree tree;
    ASSERT_EQ(clistCreate("GKT") + clistCreate("INSEL"), 2);
    insert("MAIN", polygon(box(0, 0, 100, 40)));
    insert("GKT", polygon(box(2, 2, 98, 38)), 0);
    insert("INSEL", polygon(box(0, 0, 100, 40)), 0);
    ASSERT_EQ(pocketBuildMainTransitions(2, 3), 1);
    const auto n = allNodes();
    ASSERT_GE(n.size(), 3u);
    EXPECT_EQ(std::pair(offsettest::perimeter(n[1]), offsettest::perimeter(n[2])), std::pair(264.0, 282.0));
}
