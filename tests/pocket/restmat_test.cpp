// Rest material: positions along contours in closed form, corner classes, the
// rest run's messages and its care of INPUT, the tool and the ring output, and
// the rest areas of seeded pockets against GEOS: with what the reference tool
// reaches they cover the pocket, and they stay out of that reach.
#include "pocket/restmat.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "offset_util.h"
#include "pocket/contouroffset.h"
#include "pocket/pocketrun.h"
#include "pocketnc_util.h"
#include "strategy_util.h"
#include "vecnear.h"

namespace {

using offsettest::kPi;

const std::vector<ContourElement> kRectangle = polygon(box(0, 0, 60, 40));

// The reference tool's centre rings: the pocket offset inwards by its radius, into the list.
void referenceRings(const std::vector<ContourElement>& pocket, double radius, const char* list) {
    std::vector<ContourElement> out(kClistMaxElements);
    std::vector<int32_t> start(kOffsetMaxRings), count(kOffsetMaxRings);
    int32_t end = 0;
    const int32_t n = offsetContour(pocket.data(), static_cast<int32_t>(pocket.size()), 1, radius, out.data(),
                                    &end, start.data(), count.data());
    ASSERT_GT(n, 0);
    for (int32_t r = 0; r < n; ++r)
        insert(list, std::vector<ContourElement>(out.begin() + start[r], out.begin() + start[r] + count[r]));
}

// A plane of the rest run: the pocket in INPUT and MAIN, the reference rings in TEMP (or SPAN).
struct RestRun : NcPlane {
    std::vector<ContourElement> pocket;
    RestRun(const std::vector<ContourElement>& p, double referenceRadius, const char* rings = "TEMP")
        : pocket(p) {
        restMatResetState();
        for (const char* l : {"MAIN", "INPUT", "SPAN", "REST", "TEMP"}) EXPECT_EQ(clistCreate(l), 1);
        insert("INPUT", pocket);
        insert("MAIN", pocket);
        if (referenceRadius > 0) referenceRings(pocket, referenceRadius, rings);
    }
    ~RestRun() { restMatResetState(); }
    bool inputKept() const {
        const std::vector<ContourElement> now = get("INPUT", 0);
        return clistCount("INPUT") == 1 && now.size() == pocket.size() &&
               std::equal(now.begin(), now.end(), pocket.begin(),
                          [](const ContourElement& a, const ContourElement& b) {
                              return a.g[0] == b.g[0] && a.g[1] == b.g[1];
                          });
    }
};

}  // namespace

TEST(RestMat, PositionsAlongAContour) {
    const std::vector<ContourElement> sq = polygon(box(0, 0, 10, 10));  // perimeter 40
    // The point that far along the square's sides from its first corner.
    const auto aroundSquare = [&](double s) {
        s = std::fmod(s, 40.0);
        const ContourElement& e = sq[static_cast<size_t>(s / 10)];
        const double t = std::fmod(s, 10.0) / 10;
        return Vec2{e.g[kLx1] + t * (e.g[kLx2] - e.g[kLx1]), e.g[kLy1] + t * (e.g[kLy2] - e.g[kLy1])};
    };
    struct Case {
        ContourPos from, to;
        double length;
    };
    for (const Case& c : std::vector<Case>{{{0, 0, 2, 0}, {0, 0, 7, 0}, 5},
                                           {{0, 0, 7, 0}, {0, 0, 2, 0}, 35},
                                           {{1, 0, 10, 4}, {3, 0, 0, 5}, 21},
                                           {{3, 0, 0, 5}, {1, 0, 10, 4}, 19}}) {
        EXPECT_NEAR(contourLengthBetween(sq.data(), 4, &c.from, &c.to), c.length, 1e-9);
        std::vector<ContourElement> piece(5);
        const int32_t n = restContourPiece(piece.data(), sq.data(), 4, &c.from, &c.to);
        ASSERT_GT(n, 0);
        piece.resize(n);
        EXPECT_NEAR(offsettest::perimeter(piece), c.length, 1e-9);
        EXPECT_NEAR(offsettest::startPoint(piece[0]).x, c.from.x, 1e-9);
        EXPECT_NEAR(offsettest::endPoint(piece.back()).y, c.to.y, 1e-9);
        Vec2 mid{};
        ASSERT_EQ(restMidpoint(sq.data(), 4, &c.from, &c.to, &mid), 1);
        const Vec2 want =
            aroundSquare(10.0 * c.from.element + std::fabs(c.from.x - sq[c.from.element].g[kLx1]) +
                         std::fabs(c.from.y - sq[c.from.element].g[kLy1]) + 0.5 * c.length);
        EXPECT_XY(EXPECT_NEAR, mid, want.x, want.y, 1e-9);
    }
    // No way to go: the middle is the position itself.
    const ContourPos on{2, 0, 10, 3};
    Vec2 still{};
    EXPECT_EQ(restMidpoint(sq.data(), 4, &on, &on, &still), 1);
    EXPECT_XY(EXPECT_EQ, still, 10, 3);
    const ContourPos a{0, 0, 5, 0}, b{1, 0, 10, 5};  // an open chain has no way back
    EXPECT_NEAR(contourLengthBetween(sq.data(), 2, &a, &b), 10, 1e-9);
    EXPECT_EQ(contourLengthBetween(sq.data(), 2, &b, &a), -1);
    Vec2 mid{};
    EXPECT_EQ(restMidpoint(sq.data(), 2, &b, &a, &mid), 0);
    // Positions off the contour measure nothing.
    for (const ContourPos& off : {ContourPos{-1, 0, 0, 0}, ContourPos{4, 0, 0, 0}}) {
        EXPECT_EQ(contourLengthBetween(sq.data(), 4, &off, &a), -1);
        EXPECT_EQ(contourLengthBetween(sq.data(), 4, &a, &off), -1);
        std::vector<ContourElement> piece(5);
        EXPECT_EQ(restContourPiece(piece.data(), sq.data(), 4, &off, &a), 0);
        EXPECT_EQ(restContourPiece(piece.data(), sq.data(), 4, &a, &off), 0);
    }
    EXPECT_EQ(contourLengthBetween(nullptr, 4, &a, &b), -1);
    EXPECT_EQ(restMidpoint(sq.data(), 4, &a, &b, nullptr), 0);
    // The point at a fraction of the length: on the element it falls in (an element's end counts as its
    // own), clamped to the ends, past an element without length, a lone point when none has one; on a
    // half disc, round the arc.
    const std::vector<ContourElement> halfDisc = {arcElem(0, 0, 5, 0, kPi, 1), lineElem(-5, 0, 5, 0)};
    const double arcShare = 5 * kPi / (5 * kPi + 10);
    const std::vector<ContourElement> dotFirst = {lineElem(0, 0, 0, 0), lineElem(0, 0, 10, 0)};
    const std::vector<ContourElement> dot = {lineElem(1, 1, 1, 1)};
    const struct {
        const std::vector<ContourElement>* chain;
        double fraction;
        int32_t element;
        Vec2 at;
    } fractions[] = {{&sq, 0, 0, {0, 0}},
                     {&sq, 0.25, 0, {10, 0}},
                     {&sq, 0.3, 1, {10, 2}},
                     {&sq, 1, 3, {0, 0}},
                     {&sq, -0.5, 0, {0, 0}},
                     {&sq, 1.5, 3, {0, 0}},
                     {&sq, 0.875, 3, {0, 5}},
                     {&halfDisc, arcShare / 2, 0, {0, 5}},
                     {&halfDisc, arcShare / 3, 0, {5 * std::cos(kPi / 3), 5 * std::sin(kPi / 3)}},
                     {&halfDisc, (arcShare + 1) / 2, 1, {0, 0}},
                     {&dotFirst, 0, 1, {0, 0}},
                     {&dotFirst, 0.5, 1, {5, 0}},
                     {&dot, 0.5, 0, {1, 1}}};
    for (const auto& f : fractions) {
        Vec2 at{-99, -99};
        EXPECT_EQ(
            contourPointAtFraction(f.chain->data(), static_cast<int32_t>(f.chain->size()), f.fraction, &at),
            f.element)
            << f.fraction;
        EXPECT_XY(EXPECT_NEAR, at, f.at.x, f.at.y, 1e-9);
    }
    Vec2 at{};
    EXPECT_EQ(contourPointAtFraction(nullptr, 4, 0.5, &at), -1);
    EXPECT_EQ(contourPointAtFraction(sq.data(), 0, 0.5, &at), -1);
    EXPECT_EQ(contourPointAtFraction(sq.data(), 4, 0.5, nullptr), -1);
}

TEST(RestMat, CornerClasses) {
    const ContourElement in = lineElem(0, 0, 1, 0);
    const double lean = std::asin(0.047);
    const ContourElement arc = arcElem(1 - 0.047, std::cos(lean), 1, lean - kPi / 2, 0, 1);
    const std::vector<std::pair<ContourElement, int>> cases = {
        {lineElem(1, 0, 1, 1), kCornerLeft},
        {lineElem(1, 0, 1, -1), kCornerRight},
        {lineElem(1, 0, 2, 0.047), kCornerSmooth},  // cross 0.0469 below 0.05
        {arc, kCornerLeft},                         // cross 0.047: after a line, 0.045 is the bound
        {lineElem(1, 0, 2, 0.06), kCornerLeft},     // cross 0.0599
        {lineElem(1, 0, 0, 0), kCornerReversal},
        {arcElem(1, -0.5, 0.5, kPi / 2, kPi, 1), kCornerRight},  // backwards, then bending right
        {arcElem(1, 1, 1, -kPi / 2, 0, 1), kCornerSmooth},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        int out = 99;
        ASSERT_EQ(cornerClassify(&in, &cases[i].first, &out), 1) << i;
        EXPECT_EQ(out, cases[i].second) << i;
    }
    // The backwards arc turned a quarter: its cut end needs both coordinates right.
    const ContourElement north = lineElem(0, 0, 0, 1), back = arcElem(0.5, 1, 0.5, kPi, 1.5 * kPi, 1);
    int out = 99;
    ASSERT_EQ(cornerClassify(&north, &back, &out), 1);
    EXPECT_EQ(out, kCornerRight);
    const ContourElement point = lineElem(1, 1, 1, 1);
    EXPECT_EQ(cornerClassify(&in, &point, &out), 0);
    // A line straight back is a reversal wherever it lies.
    for (const ContourElement& first : {lineElem(3, 4, 7, 4), lineElem(-2, 6, -2, 1), lineElem(5, 5, 2, 8)}) {
        const ContourElement back = lineElem(first.g[kLx2], first.g[kLy2], first.g[kLx1], first.g[kLy1]);
        ASSERT_EQ(cornerClassify(&first, &back, &out), 1);
        EXPECT_EQ(out, kCornerReversal) << first.g[kLx1];
    }
    // Without reference rings there is no corner to touch a boundary.
    restMatResetState();
    RestTouch touch{};
    int32_t used = 0;
    EXPECT_EQ(std::pair(restCornerCollect(&in, 1, 0, 1, &touch, &used), used), std::pair(0, 0));
}

TEST(RestMat, RestRunMessagesAndTolerances) {
    struct Case {
        double tool, reference, tolerance;
        int result;
        const char* message;
        bool round;
    };
    for (const Case& c : std::vector<Case>{{5, 5.03, 0.04, 0, "1517", false},  // not larger by the tolerance
                                           {5, 5.04, 0.04, 1, "1513", false},  // larger by it exactly
                                           {5, 4, 0.04, 0, "1517", false},
                                           {0.3, 0.8, 0.0016, 1, "1513", false},
                                           {5, 25, 0.08, 1, "1513", false},
                                           {3, 8, 0.04, 1, "1515", true}}) {  // no sharp ring corner
        RestRun run(c.round ? offsettest::circle(0, 0, 100, 4, 1) : polygon(box(0, 0, 200, 200)),
                    c.reference);
        pocketKernel().toolRadius = c.tool;
        restSetAreaLimit(1);
        EXPECT_EQ(pocketRestMaterial("TEMP", c.reference), c.result) << c.reference;
        EXPECT_NEAR(restTolerance(), c.tolerance, 1e-12) << c.reference;
        EXPECT_EQ(restModeActive(), 1);
        EXPECT_TRUE(PocketErrors::sent(std::string("101 ") + c.message)) << c.reference;
        EXPECT_TRUE(run.inputKept()) << c.reference;
        if (c.result == 0) {
            EXPECT_TRUE(records(31).empty());
        }
    }
}

// INPUT is the job's again after an area was machined, also when a plane fails. The area starts a tenth of
// the arc's height past its centre (6.3 off both walls); below f = 0.5 its circle shrinks by (1 - 2 f) r.
// The area is cut the wanted way round, clockwise too (against the pocket's own turn).
TEST(RestMat, InputIsKeptOnEveryExit) {
    for (int fail = 0; fail < 3; ++fail) {
        RestRun run(kRectangle, 6);
        PocketKernel& k = pocketKernel();
        k.toolRadius = 2;
        k.stepFactor = fail == 2 ? 0.6 : 0.4;
        k.wantedOrientation = fail == 0 ? -1 : 1;
        k.planeTop = 0, k.planeDepth = 4, kvCCPParams.infeedDepth = 2;  // two planes to cut
        if (fail == 1) kvCCPParams.infeedDepth = -1;  // no infeed planes: the area cannot be machined
        const int result = pocketRestMaterial("TEMP", 6);
        EXPECT_TRUE(fail == 1 || result == 1) << fail;
        EXPECT_TRUE(run.inputKept()) << fail;
        EXPECT_EQ(k.startGiven, 1);
        EXPECT_NEAR(std::min(k.startX, 60 - k.startX), 6.3, 1e-9);
        EXPECT_NEAR(std::min(k.startY, 40 - k.startY), 6.3, 1e-9);
        EXPECT_NEAR(restCircle()->radius, fail == 2 ? 6 : 6 - 0.2 * 2, 1e-9);
    }
}

// The islands of an area are the input contours starting inside it, turned against the wanted orientation.
TEST(RestMat, InnerIslandsOfAnArea) {
    PocketErrors guard;
    for (const char* l : {"ORIG", "INPUT"}) ASSERT_EQ(clistCreate(l), 1);
    const std::vector<ContourElement> area = polygon(box(0, 0, 10, 10));
    insert("ORIG", polygon(box(-5, -5, 20, 20)));               // around the area
    insert("ORIG", polygon(box(2, 2, 4, 4)));                   // inside, counter-clockwise
    insert("ORIG", polygon({{6, 6}, {6, 8}, {8, 8}, {8, 6}}));  // inside, clockwise
    insert("ORIG", polygon(box(12, 2, 14, 4)));                 // outside
    insert("ORIG", polygon({{0, 5}, {3, 5}, {3, 7}, {0, 7}}));  // starting on the boundary
    insert("ORIG", {});                                         // no start at all
    EXPECT_EQ(restAddInnerIslands(area.data(), 4, 1), 2);
    ASSERT_EQ(clistCount("INPUT"), 2);
    for (int32_t i = 0; i < 2; ++i) {
        ContourHeader h{};
        EXPECT_LT(offsettest::signedArea(get("INPUT", i, &h)), 0) << i;
        EXPECT_EQ(h.tag + 10 * h.ccw, 1) << i;  // its flag says clockwise, as it now runs
    }
    // About the origin only (2, 2) starts inside; the contour without elements has no start there.
    EXPECT_EQ(restAddInnerIslands(polygon(box(-5, -5, 5, 5)).data(), 4, 1), 1);
}

// The reference tool's rings reach REST; the tool radius and the ring output are
// the run's own afterwards, also when an island's rings fail (element cap). Orientation 0 wants the
// counter-clockwise pocket, as 1 does: the rings lie inside it.
TEST(RestMat, ReferenceToolRingsAndTheRunRestored) {
    for (int round = 0; round < 3; ++round) {
        const bool fail = round == 1;
        RestRun run(kRectangle, 0);
        PocketKernel& k = pocketKernel();
        k.toolRadius = 2;
        k.wantedOrientation = round == 2 ? 0 : 1;
        RifBlock& b = *rifBlock();
        std::snprintf(b.rifName, sizeof b.rifName, "%s", "job.rif");
        b.genRif = b.evalRif = 0;
        if (fail) {
            std::vector<Vec2> saw;
            const int teeth = kClistMaxElements / 2 - 2;
            for (int t = 0; t < teeth; ++t) {
                saw.push_back({50 - 40.0 * (t + 0.5) / teeth, 21});
                saw.push_back({50 - 40.0 * (t + 1.0) / teeth, 20});
            }
            saw.push_back({10, 10});
            saw.push_back({50, 10});
            insert("MAIN", polygon(saw));
        }
        EXPECT_EQ(ccpRestByReferenceTool(6), fail ? -1 : 1);
        EXPECT_EQ(k.toolRadius, 2);
        EXPECT_EQ(b.genRif, 0);
        EXPECT_EQ(b.evalRif, 1);
        EXPECT_STREQ(b.rifName, "job.rif");
        if (fail) continue;
        ASSERT_GT(clistCount("REST"), 0);
        for (int32_t i = 0; i < clistCount("REST"); ++i)
            for (const ContourElement& e : get("REST", i)) {
                const Vec2 p = offsettest::startPoint(e);
                EXPECT_GE(offsettest::distanceTo(p, kRectangle), 6 - 1e-6);
                EXPECT_TRUE(p.x > 0 && p.x < 60 && p.y > 0 && p.y < 40) << round;
            }
    }
}

#ifdef KV_HAVE_GEOS
namespace {

GEOSGeometry* unite(GEOSContextHandle_t h, GEOSGeometry* a, GEOSGeometry* b) {
    GEOSGeometry* u = a ? GEOSUnion_r(h, a, b) : GEOSGeom_clone_r(h, b);
    if (a) GEOSGeom_destroy_r(h, a);
    GEOSGeom_destroy_r(h, b);
    return u;
}

}  // namespace

// Seeded convex pockets and L shapes: one area per convex corner; the areas and
// the reference tool's reach cover the pocket, and no area reaches into that reach.
TEST(RestMat, RestAreasAndReachCoverThePocket) {
    std::mt19937 rng(4157);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    offsettest::Geos g;
    const GEOSContextHandle_t h = g.h;
    auto polygonOf = [&g](const std::vector<ContourElement>& c) { return g.polygon(c, {}, 0.01); };
    for (int round = 0; round < 15; ++round) {
        std::vector<Vec2> pts;
        if (round % 3 == 2) {
            const double w = 40 + 30 * u(rng), t = 20 + 10 * u(rng);
            pts = {{0, 0}, {w, 0}, {w, t}, {t, t}, {t, w}, {0, w}};
        } else {
            const int n = 3 + round % 5;
            const double phase = u(rng);
            for (int k = 0; k < n; ++k) {
                const double a = 2 * kPi * (k + phase + 0.3 * u(rng)) / n;
                pts.push_back({50 * std::cos(a), 50 * std::sin(a)});
            }
        }
        const double radius = 2 + 4 * u(rng);
        RestRun run(polygon(pts), radius, "SPAN");
        ASSERT_EQ(restAreasLevel(radius), 1);
        EXPECT_EQ(clistCount("REST"), static_cast<int32_t>(round % 3 == 2 ? pts.size() - 1 : pts.size()));
        GEOSGeometry* reach = nullptr;
        for (int32_t i = 0; i < clistCount("SPAN"); ++i) {
            GEOSGeometry* ring = polygonOf(get("SPAN", i));
            reach = unite(h, reach, GEOSBuffer_r(h, ring, radius, 128));
            GEOSGeom_destroy_r(h, ring);
        }
        ASSERT_NE(reach, nullptr);
        GEOSGeometry* covered = GEOSGeom_clone_r(h, reach);
        double overlap = 0;
        for (int32_t i = 0; i < clistCount("REST"); ++i) {
            GEOSGeometry* a = polygonOf(get("REST", i));
            ASSERT_EQ(GEOSisValid_r(h, a), 1) << round;
            overlap += g.area(GEOSIntersection_r(h, a, reach));
            covered = unite(h, covered, a);
        }
        GEOSGeometry* p = polygonOf(run.pocket);
        EXPECT_LT(g.area(GEOSDifference_r(h, p, covered)), 0.002) << round;
        EXPECT_LT(overlap, 0.01) << round;
        for (GEOSGeometry* x : {p, covered, reach}) GEOSGeom_destroy_r(h, x);
    }
}
#endif

// An area starts only at a free touch on the far side of its corner; one whose boundary cannot be read
// is given up: the start stays used, the touches it took are free again, and the call still asks to be
// called again (1) until no start is left (0).
TEST(RestMat, AreaStartsAtAFreeFarSideTouch) {
    PocketErrors errors;
    restMatResetState();
    const struct {
        std::vector<std::pair<int32_t, int32_t>> touches;  // state, side
        int first;
        std::vector<int32_t> states;  // after the first call
        int more;                     // calls that still find a start
    } cases[] = {
        {{{0, 1}, {2, -1}, {0, -1}}, 1, {0, 0, 1}, 1},
        {{{1, -1}, {0, 1}, {2, 1}}, 0, {1, 0, 2}, 0},
        {{{0, -1}, {0, -1}, {0, -1}}, 1, {1, 0, 0}, 2},
    };
    for (const auto& c : cases) {
        std::vector<RestTouch> t;
        for (const auto& [state, side] : c.touches) t.push_back(RestTouch{state, side, 7, 0, 1, 1, {}});
        const int32_t n = static_cast<int32_t>(t.size());
        EXPECT_EQ(restAreasCompute(5, t.data(), n), c.first);
        std::vector<int32_t> states;
        for (const RestTouch& r : t) states.push_back(r.state);
        EXPECT_EQ(states, c.states);
        int calls = 0;
        while (calls < 5 && restAreasCompute(5, t.data(), n) == 1) ++calls;
        const auto freeStarts = std::count_if(
            t.begin(), t.end(), [](const RestTouch& r) { return r.state == 0 && r.side == -1; });
        EXPECT_EQ(calls, c.more);
        EXPECT_EQ(freeStarts, 0);
    }
    // On the rectangle's boundary: a corner at (5, 5) touching both walls closes an area with the touch
    // met first along the wall, whose states all turn 1; a partner at another corner with no touch to go
    // on from is freed again (kind 1); with one there (the first in the table) the area goes on round the
    // far corner and back to a touch of the first one (kind 2). A far touch is never taken.
    for (const int kind : {0, 1, 2}) {
        RestRun run(kRectangle, 0);
        const RestTouch start{0, -1, 0, 0, 5, 5, {3, 0, 0, 5}}, far{0, 1, 0, 0, 55, 5, {0, 0, 55, 0}};
        std::vector<RestTouch> t = {start, far};
        if (kind == 0) t.push_back({0, 1, 0, 0, 5, 5, {0, 0, 5, 0}});
        if (kind == 2)
            t = {{0, 1, 0, 0, 55, 5, {1, 0, 60, 5}}, start, far, {0, -1, 0, 0, 5, 5, {3, 0, 0, 35}}};
        // One touch more past the count, taken (2): never read nor set.
        t.push_back({2, -1, 0, 0, 5, 5, {3, 0, 0, 5}});
        EXPECT_EQ(restAreasCompute(5, t.data(), static_cast<int32_t>(t.size()) - 1), 1);
        std::vector<int32_t> states;
        for (const RestTouch& r : t) states.push_back(r.state);
        const std::vector<int32_t> want[] = {{1, 0, 1, 2}, {1, 0, 2}, {1, 1, 1, 1, 2}};
        EXPECT_EQ(states, want[kind]);
        ASSERT_EQ(clistCount("REST"), kind != 1);
        if (kind != 0) continue;
        ContourHeader h{};
        const std::vector<ContourElement> area = get("REST", 0, &h);
        ASSERT_GE(area.size(), 2u);
        EXPECT_EQ(std::vector<int>({h.tag, h.ccw, h.leftSide}),
                  std::vector<int>({1, offsettest::signedArea(area) > 0, 1}));
        EXPECT_EQ(area[0].type, kElemArc);
        for (const ContourElement& e : area) EXPECT_EQ(e.sourceTag, e.type == kElemArc);  // corner arcs 1
        EXPECT_XY(EXPECT_NEAR, offsettest::startPoint(area[0]), 5, 0, 1e-9);
        EXPECT_XY(EXPECT_NEAR, offsettest::endPoint(area.back()), 5, 0, 1e-9);
        EXPECT_NEAR(offsettest::perimeter(area) - offsettest::sweepOf(area[0]) * 5, 10, 1e-9);
    }
    std::vector<RestTouch> none(1);
    EXPECT_EQ(restAreasCompute(5, nullptr, 1), -1);
    EXPECT_EQ(restAreasCompute(5, none.data(), 0), 0);
}

// An area is machined plane by plane only when some contour has the wanted orientation: the pocket's own
// orientation goes through its planes; the other one sends 207 and writes nothing. A host's cancel ends
// the planes quietly before the first: done, not failed, with nothing written and no message.
TEST(RestMat, AreaPlanesNeedALeadingContour) {
    for (const auto& [wanted, cancel] : {std::pair{1, 0}, {-1, 0}, {1, 1}}) {
        RestRun run(kRectangle, 0);
        pocketRunResetState();
        setAbortHook(cancel ? +[] { return 1; } : nullptr);
        PocketKernel& k = pocketKernel();
        k.toolRadius = 2;
        k.planeTop = 0;
        k.planeDepth = 4;
        kvCCPParams.infeedDepth = 2;
        ASSERT_EQ(clistCreate("INPUT"), 1);
        insert("INPUT", kRectangle, 1);  // an area's boundary, as the rest run stores it
        const int own = offsettest::signedArea(kRectangle) > 0 ? 1 : -1;
        EXPECT_EQ(ccpMachinePlanes(own * wanted), wanted > 0 ? 1 : 0);
        setAbortHook(nullptr);
        EXPECT_EQ(PocketErrors::sent("101 207"), wanted < 0);
        EXPECT_EQ(records(31).empty(), wanted < 0 || cancel);
        EXPECT_EQ(ccpRunCancelled(), cancel);
        pocketRunResetState();
    }
}

// Pocket by pocket, one that opens with an arc starts beside its centre, pushed a tenth of the way from the
// chord's middle past it: a rounded corner of radius rc at (60 - rc, rc) puts it at (60 - 1.05 rc, 1.05 rc).
// One that opens with a line has no start of its own.
TEST(RestMat, PocketWiseStartsBesideTheFirstArcsCentre) {
    for (const double rc : {0.0, 5.0, 10.0, 16.0}) {
        RestRun run(kRectangle, 0);
        pocketRunResetState();
        PocketKernel& k = pocketKernel();
        k.toolRadius = 2;
        kvCCPParams.infeedDepth = 2;
        std::vector<ContourElement> c = kRectangle;
        if (rc > 0) {
            c = polygon({{60, rc}, {60, 40}, {0, 40}, {0, 0}, {60 - rc, 0}});
            c.back() = arcElem(60 - rc, rc, rc, -kPi / 2, 0, 1);
            std::rotate(c.begin(), c.end() - 1, c.end());
        }
        ContourHeader h{};
        h.top = 0, h.bottom = -4;
        ASSERT_EQ(clistCreate("POCKET"), 1);
        ASSERT_TRUE(putContour("POCKET", c, h));
        EXPECT_EQ(ccpPocketWise("POCKET"), 1) << rc;
        EXPECT_EQ(kvCCPParams.startExplicit, rc > 0) << rc;
        if (rc > 0) {
            EXPECT_NEAR(kvCCPParams.startX, 60 - 1.05 * rc, 1e-9) << rc;
            EXPECT_NEAR(kvCCPParams.startY, 1.05 * rc, 1e-9) << rc;
        }
        clistFree("POCKET");
        pocketRunResetState();
    }
}

// While rest evaluation is on, the offset keeps a contour that comes into the rest circle by more than the
// tolerance or starts at least its radius from the centre, and drops one that starts in the band between;
// with evaluation off, or nothing to judge, everything is kept.
TEST(RestMat, OffsetKeepsContoursOutsideTheRestCircle) {
    PocketErrors errors;
    restMatResetState();
    pocketKernel().tolerance = 0.1;
    const ContourElement upperHalf = arcElem(0, 0, 5, 0, kPi, 1);
    ASSERT_EQ(restSetParams(&upperHalf), 1);
    const RestCircle& rc = *restCircle();
    EXPECT_EQ(std::vector<double>({rc.cx, rc.cy, rc.sx, rc.ex, rc.radius, 1.0 * rc.direction}),
              std::vector<double>({0, 0, 5, -5, 5, 1}));
    EXPECT_NEAR(rc.sy, 0, 1e-12);
    EXPECT_NEAR(rc.ey, 0, 1e-12);
    const struct {
        std::vector<Vec2> contour;  // starting nearest the centre
        int kept;
    } cases[] = {
        {{{10, 10}, {12, 10}, {12, 12}, {10, 12}}, 1},      // far away
        {{{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}, 1},          // inside
        {{{0, -4.85}, {0, -6}, {-1, -6}, {-1, -4.85}}, 1},  // into the circle past the tolerance
        {{{0, -4.95}, {0, -6}, {-1, -6}, {-1, -4.95}}, 0},  // within the tolerance, starting inside
        {{{0, -5}, {0, -6}, {-1, -6}, {-1, -5}}, 1},        // starting on the circle
        {{{-10, -10}, {10, -10}, {10, 10}, {-10, 10}}, 1},  // round it
    };
    RifBlock& b = *rifBlock();
    const int32_t evalRif = b.evalRif;
    for (const int32_t on : {1, 0}) {
        b.evalRif = on;
        for (const auto& c : cases) {
            const std::vector<ContourElement> e = polygon(c.contour);
            EXPECT_EQ(restElementOutside(e.data(), 4), on ? c.kept : 1) << c.contour[0].x << " " << on;
        }
        EXPECT_EQ(restElementOutside(nullptr, 4), 1);
        const std::vector<ContourElement> e = polygon(cases[3].contour);
        EXPECT_EQ(restElementOutside(e.data(), 0), 1);
        EXPECT_EQ(restElementOutside(e.data(), 1),
                  on ? 0 : 1);  // its first side alone starts in the band too
    }
    b.evalRif = evalRif;
    // A line gives its ends and no circle; nothing given changes nothing.
    const ContourElement line = lineElem(1, 2, 3, 4);
    ASSERT_EQ(restSetParams(&line), 1);
    EXPECT_EQ(std::vector<double>({rc.cx, rc.cy, rc.sx, rc.sy, rc.ex, rc.ey, rc.radius, 1.0 * rc.direction}),
              std::vector<double>({0, 0, 1, 2, 3, 4, 0, 0}));
    EXPECT_EQ(restSetParams(nullptr), 0);
    EXPECT_EQ(rc.ey, 4);
    restMatResetState();
}
