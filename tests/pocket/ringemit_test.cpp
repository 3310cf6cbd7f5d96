// Ring emission: order of positions, ring segments, links and ring distances.
#include "pocket/ringemit.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "kernel/base/rng.h"
#include "offset_util.h"
#include "pocket/elemdist.h"
#include "pocket/regiontree.h"
#include "pocketnc_util.h"
#include "ringtest_util.h"

namespace {

// A square ring of side 10 from the origin, counter-clockwise; a position at
// perimeter length u (0 <= u < 40).
const std::vector<ContourElement>& square() {
    static const std::vector<ContourElement> s = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    return s;
}

RingPosition at(double u) {
    int32_t el = static_cast<int32_t>(u / 10);
    double t = u - 10 * el;
    const double c[4][4] = {{0, 0, 1, 0}, {10, 0, 0, 1}, {10, 10, -1, 0}, {0, 10, 0, -1}};
    return {el + 1, c[el][0] + t * c[el][2], c[el][1] + t * c[el][3]};
}

std::vector<Vec2> lineEnds() {
    std::vector<Vec2> out;
    for (const Rec& r : log())
        if (r.type == 3111) out.push_back({r.x, r.y});
    return out;
}

}  // namespace

// Walking forward from c, a is met before b when its unrolled length is smaller.
TEST(RingEmit, OrderAgainstUnrolledLength) {
    rngResetState();
    const auto& sq = square();
    int checked = 0;
    for (int i = 0; i < 400; ++i) {
        double ua = (0.3 + (39.7 - (0.3)) * rngUniform()), ub = (0.3 + (39.7 - (0.3)) * rngUniform()),
               uc = (0.3 + (39.7 - (0.3)) * rngUniform());
        auto ends = [](double u) { return std::fabs(u - 10 * std::round(u / 10)) < 0.3; };
        if (ends(ua) || ends(ub) || ends(uc) || std::fabs(ua - ub) < 0.1 || std::fabs(ua - uc) < 0.1 ||
            std::fabs(ub - uc) < 0.1)
            continue;
        RingPosition a = at(ua), b = at(ub), c = at(uc);
        double la = std::fmod(ua - uc + 40, 40), lb = std::fmod(ub - uc + 40, 40);
        EXPECT_EQ(ringOrder(2, &a, &b, sq.data(), 4, &c), la < lb ? 1 : -1) << ua << " " << ub << " " << uc;
        ++checked;
    }
    EXPECT_GT(checked, 200);
    RingPosition a = at(5), c = at(5), b = at(15);
    EXPECT_EQ(ringOrder(2, &a, &a, sq.data(), 4, &c), 0);
    // A position on c is met last in mode 2 (after the whole ring), first in the other.
    for (const int mode : {1, 2})
        EXPECT_EQ(ringOrder(mode, &a, &b, sq.data(), 4, &c) * 10 + ringOrder(mode, &b, &a, sq.data(), 4, &c),
                  mode == 2 ? -9 : 9);
    // Positions given on the end of their element stand at the start of the next, the last
    // element's end at the first element's start.
    const struct {
        RingPosition a, b;
        double c;
        int order;
    } ends[] = {{{1, 10, 0}, {2, 10, 0}, 5, 0},
                {{1, 10, 0}, at(15), 2, 1},
                {{4, 0, 0}, at(5), 35, 1},
                {at(5), {4, 0, 0}, 35, -1},
                {{2, 10, 10}, at(25), 22, -1},
                {{4, 0, 0}, {1, 0, 0}, 12, 0},
                // points closer than 1e-4 are one
                {{1, 10 - 5e-5, 0}, {2, 10, 0}, 5, 0},
                {{1, 10 - 2e-4, 0}, {2, 10, 0}, 5, 1},
                {at(5), {1, 5 + 5e-5, 0}, 2, 0},
                {at(5), {1, 5 + 2e-4, 0}, 2, 1}};
    // A closed ring wraps so also in stock outside-in.
    for (const int32_t stockOutin : {1, 0})
        for (const auto& e : ends) {
            pocketKernel().stockOutin = stockOutin;
            const RingPosition from = at(e.c);
            EXPECT_EQ(ringOrder(2, &e.a, &e.b, sq.data(), 4, &from), e.order) << e.a.element << " " << e.c;
        }
    // On an arc of radius 100, points 5e-5 rad (5e-3) apart are one place along it: each is met first.
    const std::vector<ContourElement> round = offsettest::circle(0, 0, 100, 4, 1);
    const RingPosition p{1, 100 * std::cos(1.0), 100 * std::sin(1.0)}, from{3, -100, 0},
        q{1, 100 * std::cos(1 + 5e-5), 100 * std::sin(1 + 5e-5)};
    EXPECT_EQ(ringOrder(2, &p, &q, round.data(), 4, &from) + ringOrder(2, &q, &p, round.data(), 4, &from), 2);
}

// Line ends written for a segment: every corner passed, then the to-point.
TEST(RingEmit, SegmentsAlongTheRing) {
    struct Case {
        double from, to;
        std::vector<Vec2> ends;
    } cases[] = {
        {2, 7, {{7, 0}}},
        {2, 15, {{10, 0}, {10, 5}}},
        {35, 5, {{0, 0}, {5, 0}}},
        {12, 12, {{10, 10}, {0, 10}, {0, 0}, {10, 0}, {10, 2}}},
        {7, 2, {{10, 0}, {10, 10}, {0, 10}, {0, 0}, {2, 0}}},
    };
    for (const Case& c : cases) {
        NcPlane plane;
        pocketNcHeader();
        WalkEntry e{1, at(c.from), at(c.to)};
        EXPECT_EQ(ringSegmentEmit(&e, square().data(), 4, 0), static_cast<int32_t>(c.ends.size())) << c.from;
        std::vector<Vec2> got = lineEnds();
        ASSERT_EQ(got.size(), c.ends.size()) << c.from;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i].x, c.ends[i].x, 1e-9) << c.from << " " << i;
            EXPECT_NEAR(got[i].y, c.ends[i].y, 1e-9) << c.from << " " << i;
        }
        if (c.from == c.to) {
            EXPECT_EQ(ringSegmentEmit(&e, square().data(), 4, 1), 0);
        }
    }
    // The whole ring from a point given on the end of the first element: once round from there.
    NcPlane plane;
    pocketNcHeader();
    const WalkEntry whole{1, {1, 10, 0}, {1, 10, 0}};
    EXPECT_EQ(ringSegmentEmit(&whole, square().data(), 4, 0), 4);
    const std::vector<Vec2> got = lineEnds(), round = {{10, 10}, {0, 10}, {0, 0}, {10, 0}};
    ASSERT_EQ(got.size(), round.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(std::hypot(got[i].x - round[i].x, got[i].y - round[i].y), 0, 1e-9);
}

// An element from a side without material (a negative source tag) is not cut under rapid stock movement
// in an open pocket or along the contour: the tool retracts instead and the next element plunges anew.
TEST(RingEmit, FilteredElementsRetractOnOpenSidesUnderRapidMovement) {
    struct Case {
        int rapid, openMode, openPocket, contour, tag, emitted;
    } cases[] = {{1, 1, 0, 0, -1, 0}, {1, 0, 1, 0, -1, 0}, {1, 0, 0, 1, -1, 0},
                 {1, 0, 0, 0, -1, 1}, {1, 1, 1, 1, 0, 1},  {0, 1, 1, 1, -1, 1}};
    for (const Case& c : cases) {
        NcPlane plane;
        pocketNcHeader();
        PocketKernel& k = pocketKernel();
        k.stockMovement = c.rapid;
        k.openMode = c.openMode;
        k.openPocket = c.openPocket;
        k.pocketContour = c.contour;
        ContourElement e = lineElem(0, 0, 10, 0);
        e.sourceTag = c.tag;
        EXPECT_EQ(emitFiltered(&e), c.emitted) << c.rapid << c.openMode << c.openPocket << c.contour << c.tag;
        EXPECT_EQ(pocketPlungePending(), 1 - c.emitted);
        EXPECT_EQ(lineEnds().size(), static_cast<size_t>(c.emitted));
        pocketKernelResetState();
    }
}

// Single branches first: the whole ring of each node (the first, node 0, too) whose one parent is a root,
// between the records ("full", "start") and ("full", "end"); then the rings of the roots. Each ring emitted
// is finished and not emitted again.
TEST(RingEmit, SingleBranchesThenRoots) {
    NcPlane plane;
    regionTreeResetState();
    ASSERT_EQ(regionTreeInit(1), 1);
    pocketNcHeader();
    const int32_t branch = attachBox(10, 10, 90, 90, 1), root = attachBox(0, 0, 100, 100, 0),
                  deeper = attachBox(20, 20, 80, 80, 2), shared = attachBox(30, 30, 40, 40, 2),
                  done = attachBox(200, 0, 300, 100, 0);
    const std::vector<ContourElement> disc = {arcElem(500, 50, 10, 0, 2 * M_PI, 1)};  // a ring of one element
    const ContourHeader discHeader = header(disc, true, 1);
    const int32_t lone = regionAttachContour(disc.data(), &discHeader, 0, 0);
    ASSERT_GT(regionAddLink(branch, root), 0);
    ASSERT_GT(regionAddLink(deeper, branch), 0);
    ASSERT_GT(regionAddLink(shared, root), 0);
    ASSERT_GT(regionAddLink(shared, branch), 0);
    regionSetDone(done, kRegionFinished);
    EXPECT_EQ(ringEmitSingleBranches(), 1);
    std::vector<std::string> seen;
    for (const Rec& r : log()) {
        if (r.name == "full") seen.push_back(r.value);
        if (r.type == 3111)
            seen.push_back(std::to_string(static_cast<int>(r.x)) + "," +
                           std::to_string(static_cast<int>(r.y)));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"start", "90,10", "90,90", "10,90", "10,10", "end"}));
    EXPECT_EQ(regionIsDone(branch), kRegionFinished);
    for (const int32_t node : {root, deeper, shared}) EXPECT_NE(regionIsDone(node), kRegionFinished) << node;
    EXPECT_EQ(ringEmitSingleBranches(), 0);
    EXPECT_EQ(ringEmitRoots(), 2);
    EXPECT_EQ(regionIsDone(root) + regionIsDone(lone), 2 * kRegionFinished);
    EXPECT_EQ(ringEmitRoots(), 0);
    regionTreeFree();
}

// Links from the end of a first line, an island 40..60 in INPUT: 2 s + 1e-4
// is the longest cut, and beyond s / 2 a link through the island retracts.
TEST(RingEmit, StraightLinks) {
    struct Case {
        Vec2 from, to;
        double step;
        int cut;
    } cases[] = {{{10, 50}, {10.00005, 50}, 4, 1},     {{10, 50}, {18.0002, 50}, 4, 0},
                 {{10, 50}, {17.9999, 50}, 4, 1},      {{10, 50}, {10, 44}, 4, 1},
                 {{36, 50}, {64, 50}, 20, 0},          {{36, 50}, {37, 50}, 20, 1},
                 {{0, 50}, {2 * 4.0 + 1e-4, 50}, 4, 1}};
    for (const Case& c : cases) {
        NcPlane plane;
        clistCreate("INPUT");
        ASSERT_TRUE(putContour("INPUT", polygon({{40, 40}, {60, 40}, {60, 60}, {40, 60}})));
        pocketNcHeader();
        ContourElement first = lineElem(c.from.x - 6, c.from.y, c.from.x, c.from.y);
        pocketEmitElement(&first);
        EXPECT_EQ(linkStraight(&c.from, &c.to, c.step), c.cut) << c.to.x;
        EXPECT_EQ(pocketPlungePending(), 1 - c.cut) << c.to.x;
        // With a plunge already pending no link is cut and nothing is written.
        pocketSetPlungePending(1);
        const size_t written = log().size();
        EXPECT_EQ(linkStraight(&c.from, &c.to, c.step), 0) << c.to.x;
        EXPECT_EQ(log().size(), written);
    }
    // A smooth link keeps to the same reach of twice the step (plus 1e-4).
    for (const auto& [x, cut] : {std::pair{7.9999, 1}, {8.0002, 0}, {2 * 4.0 + 1e-4, 1}}) {
        NcPlane plane;
        pocketNcHeader();
        const ContourElement first = lineElem(-6, 50, 0, 50);
        pocketEmitElement(&first);
        const Vec2 from{0, 50}, to{x, 50}, t{1, 0};
        EXPECT_EQ(linkSmooth(&from, &t, &to, &t, 1, 4), cut) << x;
        EXPECT_EQ(pocketPlungePending() * 10 + lineEnds().size(), cut ? 2 : 11) << x;  // the link, or none
        pocketSetPlungePending(1);
        EXPECT_EQ(linkSmooth(&from, &t, &to, &t, 1, 4), 0);
    }
}

// Positions on an open chain of three lines: 0 the start, past either end the end; what lies within a
// radius of a list's contour (the radius included) is not clear of it; a segment is tested against a
// ring without its first and last tenth; the nearest points of two rings.
TEST(RingEmit, PositionsClearancesAndRingDistances) {
    const std::vector<ContourElement> chain = {lineElem(0, 0, 10, 0), lineElem(10, 0, 10, 10),
                                               lineElem(10, 10, 0, 10)};
    const struct {
        RingPosition pos;
        int32_t element;
        Vec2 point;
    } positions[] = {{{0, 7, 7}, 1, {0, 0}},
                     {{-1, 7, 7}, 3, {0, 10}},
                     {{4, 7, 7}, 3, {0, 10}},
                     {{3, 7, 7}, 3, {7, 7}},
                     {{1, 5, 0}, 1, {5, 0}}};
    for (const auto& c : positions) {
        int32_t element = -9;
        Vec2 point{-9, -9};
        ASSERT_EQ(positionPoint(&c.pos, chain.data(), 3, &element, &point), 1) << c.pos.element;
        EXPECT_EQ(element, c.element) << c.pos.element;
        EXPECT_EQ(point.x, c.point.x) << c.pos.element;
        EXPECT_EQ(point.y, c.point.y) << c.pos.element;
    }
    int32_t element;
    Vec2 point;
    EXPECT_EQ(positionPoint(&positions[0].pos, chain.data(), 0, &element, &point), 0);
    EXPECT_EQ(positionPoint(&positions[0].pos, nullptr, 3, &element, &point), 0);
    EXPECT_EQ(positionPoint(nullptr, chain.data(), 3, &element, &point), 0);

    PocketErrors errors;
    ASSERT_TRUE(clistCreate("TEMP"));
    const Vec2 above{5, 12}, within{5, 5};
    EXPECT_EQ(pointClearOfInput(&above, 2, "TEMP"), 1);  // an empty list
    ASSERT_TRUE(putContour("TEMP", square()));
    const struct {
        const Vec2* p;
        double radius;
        int clear;
    } clearances[] = {{&above, 2, 0}, {&above, 1.999, 1}, {&within, 5, 0}, {&within, 4.999, 1}};
    for (const auto& c : clearances)
        EXPECT_EQ(pointClearOfInput(c.p, c.radius, "TEMP"), c.clear) << c.p->y << " " << c.radius;

    const struct {
        Vec2 a, b;
        int clear;
    } segments[] = {{{-1, 5}, {4, 5}, 0},
                    {{-0.4, 5}, {4, 5}, 1},
                    {{6, 5}, {10.4, 5}, 1},
                    {{6, 5}, {11, 5}, 0},
                    {{2, 2}, {8, 8}, 1}};
    for (const auto& c : segments)
        EXPECT_EQ(segmentClearOfRing(&c.a, &c.b, square().data(), 4), c.clear) << c.a.x << " " << c.b.x;

    const std::vector<ContourElement> far = polygon({{13, 2}, {20, 2}, {20, 8}, {13, 8}});
    Vec2 onA, onB;
    EXPECT_NEAR(ringDistancePoints(square().data(), 4, far.data(), 4, &onA, &onB), 3, 1e-12);
    EXPECT_NEAR(onA.x, 10, 1e-12);
    EXPECT_NEAR(onB.x, 13, 1e-12);
    EXPECT_NEAR(onA.y, onB.y, 1e-12);
    EXPECT_NEAR(ringDistance(far.data(), 4, square().data(), 4), 3, 1e-12);
    EXPECT_EQ(ringDistancePoints(square().data(), 0, far.data(), 4, &onA, &onB), -1);  // no element: none
}

// Seeded lines against an island of INPUT, each asked twice (the second time in turn backwards, when
// the answers are kept): clear exactly when the line meets the island's sides in at most one point.
TEST(RingEmit, LinesClearOfInputAgainstTheirCrossings) {
    NcPlane plane;
    clistCreate("INPUT");
    const std::vector<Vec2> island = {{40, 40}, {60, 40}, {60, 60}, {40, 60}};
    ASSERT_TRUE(putContour("INPUT", polygon(island)));
    const auto side = [](Vec2 a, Vec2 b, Vec2 p) {
        return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    };
    rngResetState();
    std::vector<ContourElement> lines;
    std::vector<int> want;
    for (int k = 0; k < 300; ++k) {
        const Vec2 a{100 * rngUniform(), 100 * rngUniform()}, b{100 * rngUniform(), 100 * rngUniform()};
        int crossings = 0;
        bool nearCorner = false;  // a line through a corner meets two sides there
        for (const Vec2& c : island) {
            const double t = std::clamp(((c.x - a.x) * (b.x - a.x) + (c.y - a.y) * (b.y - a.y)) /
                                            ((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y)),
                                        0.0, 1.0);
            nearCorner =
                nearCorner || std::hypot(a.x + t * (b.x - a.x) - c.x, a.y + t * (b.y - a.y) - c.y) < 0.01;
        }
        if (nearCorner) continue;
        for (size_t i = 0; i < island.size(); ++i) {
            const Vec2 c = island[i], d = island[(i + 1) % island.size()];
            crossings += side(a, b, c) * side(a, b, d) < 0 && side(c, d, a) * side(c, d, b) < 0;
        }
        lines.push_back(lineElem(a.x, a.y, b.x, b.y));
        want.push_back(crossings > 1 ? 0 : 1);
    }
    for (int pass = 0; pass < 2; ++pass)
        for (size_t j = 0; j < lines.size(); ++j) {
            const size_t k = pass ? lines.size() - 1 - j : j;
            EXPECT_EQ(lineClearOfInput(&lines[k]), want[k]) << pass << " " << k;
        }
    EXPECT_GT(std::count(want.begin(), want.end(), 0), 30);
}

// The element-to-ring distance of elements that do not cross the ring, against dense sampling.
TEST(RingEmit, DistanceAgainstSampling) {
    rngResetState();
    const auto& sq = square();
    // The measuring boxes are the sides' boxes grown by the margin.
    RingMeasure measure;
    ringMeasureBuild(sq.data(), 4, &measure);
    const double m = measure.margin;
    EXPECT_EQ(measure.boxes, (std::vector<double>{-m, -m, 10 + m, m, 10 - m, -m, 10 + m, 10 + m,  //
                                                  -m, 10 - m, 10 + m, 10 + m, -m, -m, m, 10 + m}));
    // An element of neither kind has no box, and a ring holding one none that can be used.
    std::vector<ContourElement> odd = sq;
    odd[2].type = 0;
    RingMeasure none;
    ringMeasureBuild(odd.data(), 4, &none);
    EXPECT_FALSE(none.usable);
    for (int i = 0; i < 100; ++i) {
        Vec2 a{(-10 + (20 - (-10)) * rngUniform()), (-10 + (20 - (-10)) * rngUniform())},
            b{(-10 + (20 - (-10)) * rngUniform()), (-10 + (20 - (-10)) * rngUniform())};
        ContourElement e = lineElem(a.x, a.y, b.x, b.y);
        // Closed-form distances to the ring from dense samples along the element.
        double brute = 1e30;
        for (int k = 0; k <= 2000; ++k)
            brute = std::fmin(brute, offsettest::distanceTo(offsettest::pointAlong(e, k / 2000.0), sq));
        if (brute < 0.05) continue;  // crossing rings are never asked for
        Vec2 onE;
        RingPosition onR;
        double d = elemRingDistance(&e, sq.data(), 4, &onE, &onR, i % 2 ? &measure : nullptr);
        EXPECT_NEAR(d, brute, 0.049 + 0.01) << i;
        EXPECT_NEAR(std::hypot(onE.x - onR.x, onE.y - onR.y), d, 1e-9) << i;
    }
}

// With the ramp plunge, a ring after a link that is not cut is entered by a
// new ramp at its own start (no straight plunge), each in a pass of its own.
TEST(RingEmit, RetractBetweenRingsRampsAgain) {
    NcPlane plane;
    kvCCPParams.plungeType = 3;
    kvCCPParams.helixPlungeAngle = 10 * M_PI / 180;
    kvCCPParams.helixAngleResolution = 0.1;
    pocketNcHeader();
    std::vector<ContourElement> far = polygon({{100, 0}, {110, 0}, {110, 10}, {100, 10}});
    WalkEntry whole{0, {0, 0, 0}, {0, 0, 0}};
    EXPECT_EQ(ringSegmentEmit(&whole, square().data(), 4, 0), 4);
    Vec2 a{0, 0}, b{100, 0};
    EXPECT_EQ(linkStraight(&a, &b, 5), 0);
    EXPECT_EQ(ringSegmentEmit(&whole, far.data(), 4, 0), 4);
    pocketContourEnd();
    std::vector<double> rampStartX;
    std::vector<int> t = types(31);
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i] == 3113 && t[i - 1] != 3113) rampStartX.push_back(records(31)[i].x);
    EXPECT_EQ(rampStartX, (std::vector<double>{0, 100}));
    EXPECT_EQ(std::count(t.begin(), t.end(), 3112), 0);
    EXPECT_EQ(std::count(t.begin(), t.end(), 3001), 2);
    EXPECT_EQ(std::count(t.begin(), t.end(), 3002), 2);
    EXPECT_EQ(lineEnds().size(), 8u);
}

namespace {

// The nearest-candidate rule measured over every ring element, nothing skipped; at most cap candidates kept,
// wanted set to how many the rule would keep without the cap.
double fullScan(const ContourElement* e, const std::vector<ContourElement>& ring, Vec2* onE,
                RingPosition* onR, size_t cap = SIZE_MAX, size_t* wanted = nullptr) {
    struct Cand {
        double d;
        Vec2 a, b;
        int32_t el;
    };
    std::vector<Cand> kept;
    double last = 0;
    size_t keep = 0;
    for (size_t i = 0; i < ring.size(); ++i) {
        Cand c{};
        c.d = elemElemDistance(e, &ring[i], &c.a, &c.b);
        c.el = static_cast<int32_t>(i) + 1;
        if (kept.empty() || c.d < last + 0.049) {
            last = c.d;
            ++keep;
            if (kept.size() < cap) kept.push_back(c);
        }
    }
    if (wanted) *wanted = keep;
    double best = kept[0].d;
    for (const Cand& c : kept) best = std::fmin(best, c.d);
    const Cand* choice = nullptr;
    for (const Cand& c : kept)
        if (c.d <= best + 0.049 && (!choice || arcOrder(e, &choice->a, &c.a) < 0)) choice = &c;
    *onE = choice->a;
    *onR = {choice->el, choice->b.x, choice->b.y};
    return choice->d;
}

// An element about (cx, cy) at radius r from angle a0 to a1: an arc, or a chord off the circle.
ContourElement ringPart(double cx, double cy, double r, double a0, double a1, bool arc) {
    if (arc) return arcElem(cx, cy, r, a0, a1, rngBelow(2) ? 1 : -1);
    const double r0 = r * (1 + 0.1 * std::sin(5 * a0)), r1 = r * (1 + 0.1 * std::sin(5 * a1));
    return lineElem(cx + r0 * std::cos(a0), cy + r0 * std::sin(a0), cx + r1 * std::cos(a1),
                    cy + r1 * std::sin(a1));
}

}  // namespace

// Ring elements whose box lies beyond reach are not measured: the distance, the point on the element
// and the position on the ring stay those of measuring every element (wavy rings of lines and arcs of
// every size against seeded lines and arcs inside, across and outside them).
TEST(RingEmit, SkippingFarElementsKeepsTheNearestCandidate) {
    rngResetState();
    PocketErrors state;
    for (int t = 0; t < 300; ++t) {
        const int n = 3 + static_cast<int>(rngBelow(60));
        const double r = 2 + 60 * rngUniform();
        std::vector<ContourElement> ring;
        for (int i = 0; i < n; ++i)
            ring.push_back(ringPart(0, 0, r, 2 * M_PI * i / n, 2 * M_PI * (i + 1) / n + 0.3 * rngUniform(),
                                    rngBelow(3) == 0));
        const double a = 2 * M_PI * rngUniform(), rr = r * 1.6 * rngUniform();
        // Every other element is concentric with the ring's arcs, so that many distances nearly tie.
        const ContourElement e =
            t % 2 ? arcElem(0, 0, r * (0.5 + 0.45 * rngUniform()), a, a + 3 * rngUniform(), 1)
                  : ringPart(rr * std::cos(a), rr * std::sin(a), 0.5 + 10 * rngUniform(), a,
                             a + 2 * rngUniform(), rngBelow(2));
        Vec2 onE, wantE;
        RingPosition onR, wantR;
        const double d = elemRingDistance(&e, ring.data(), n, &onE, &onR);
        const double want = fullScan(&e, ring, &wantE, &wantR);
        ASSERT_EQ(d, want) << t;
        EXPECT_EQ(onR.element, wantR.element) << t;
        EXPECT_TRUE(onE.x == wantE.x && onE.y == wantE.y && onR.x == wantR.x && onR.y == wantR.y) << t;
    }
    // A line 1 below the element's end and an arc 1.048 above its start, within the tie of the line:
    // the box of either, a little short of the tie, must not rule the arc out. Also turned (x, y swapped).
    // Then a line 1 off and, after it, one exactly on its tie (1 + 0.049), which the rule passes over:
    // the search with boxes too, either way along the element.
    for (const int turned : {0, 1, 2, 3}) {
        ContourElement e = lineElem(0, 0, 10, 0),
                       ring[2] = {lineElem(10, -1, 8, -1), arcElem(1, 6.048, 5, -2.1, -1.0, 1)};
        if (turned > 1) {
            const double x = turned == 2 ? 9 : -1;
            ring[0] = lineElem(x, 1, x + 2, 1), ring[1] = lineElem(8 - x, 1 + 0.049, 10 - x, 1 + 0.049);
        }
        for (ContourElement* x : {&e, &ring[0], &ring[1]}) {
            for (int k = 0; turned == 1 && k < 6; k += 2) std::swap(x->g[k], x->g[k + 1]);
            if (turned == 1 && x->type == kElemArc) x->direction = -x->direction;
        }
        RingMeasure measure;
        ringMeasureBuild(ring, 2, &measure);
        Vec2 onE, wantE;
        RingPosition onR, wantR;
        const double want = fullScan(&e, {ring[0], ring[1]}, &wantE, &wantR);
        for (const RingMeasure* m : {static_cast<const RingMeasure*>(nullptr), &std::as_const(measure)}) {
            EXPECT_EQ(elemRingDistance(&e, ring, 2, &onE, &onR, m), want) << turned;
            EXPECT_EQ(onR.element, wantR.element) << turned;
        }
    }
    // An arc whose end lies 2 inside its circle (its radius comes from the start): a line tangent 1 off the
    // circle near that end is nearest the circle, not the end, so the arc's box must reach the circle there
    // (a line 1.5 off first).
    const double g = 250 * M_PI / 180, c = std::cos(g), s = std::sin(g);
    ContourElement e = lineElem(6 * c + s, 6 * s - c, 6 * c - s, 6 * s + c),
                   ring[2] = {lineElem(7.5 * c + s, 7.5 * s - c, 7.5 * c - s, 7.5 * s + c),
                              arcElem(0, 0, 5, 190 * M_PI / 180, 255 * M_PI / 180, 1)};
    ring[1].g[kAex] *= 0.6, ring[1].g[kAey] *= 0.6;
    RingMeasure measure;
    ringMeasureBuild(ring, 2, &measure);
    for (const RingMeasure* m : {static_cast<const RingMeasure*>(nullptr), &std::as_const(measure)}) {
        Vec2 onE;
        RingPosition onR;
        EXPECT_NEAR(elemRingDistance(&e, ring, 2, &onE, &onR, m), 1, 1e-9);
        EXPECT_EQ(onR.element, 2);
    }
}

// A fine ring keeps nearly every element as a candidate: past the cap of 4000 the rest are left out, the
// answer is the rule's over the first 4000 kept, and the search reports the cap once (not once for every
// candidate left out); a ring within the cap reports nothing.
TEST(RingEmit, CandidatesPastTheCapAreReportedOnce) {
    rngResetState();
    PocketErrors state;
    int capped = 0;
    for (int t = 0; t < 12; ++t) {
        const int n = t == 0 ? 3000 : 4001 + static_cast<int>(rngBelow(5000));
        const double r = 20 + 40 * rngUniform();
        std::vector<ContourElement> ring;
        for (int i = 0; i < n; ++i)
            ring.push_back(ringPart(0, 0, r, 2 * M_PI * i / n, 2 * M_PI * (i + 1) / n, false));
        // From about the centre every element is within the tie of the last; from off it some are not.
        const double a = 2 * M_PI * rngUniform(), l = t % 2 ? 0.01 : 0.3 * r;
        const ContourElement e = lineElem(0, 0, l * std::cos(a), l * std::sin(a));
        PocketErrors::texts().clear();
        Vec2 onE, wantE;
        RingPosition onR, wantR;
        size_t wanted = 0;
        const double d = elemRingDistance(&e, ring.data(), n, &onE, &onR);
        const double want = fullScan(&e, ring, &wantE, &wantR, kRingMaxCandidates, &wanted);
        capped += wanted > kRingMaxCandidates;
        ASSERT_EQ(d, want) << t;
        EXPECT_EQ(onR.element, wantR.element) << t;
        EXPECT_TRUE(onE.x == wantE.x && onE.y == wantE.y && onR.x == wantR.x && onR.y == wantR.y) << t;
        EXPECT_EQ(PocketErrors::texts(), wanted > kRingMaxCandidates ? std::vector<std::string>{"101 1509"}
                                                                     : std::vector<std::string>{})
            << t;
    }
    EXPECT_GE(capped, 6);
}
