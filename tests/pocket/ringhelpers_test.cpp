#include "pocket/ringhelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "kernel/base/rng.h"
#include "offset_util.h"
#include "pocket/chaincross.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/pocketstate.h"
#include "ringtest_util.h"

namespace {

struct Rect {
    double x0, y0, x1, y1;
};

std::vector<ContourElement> rect(const Rect& r, bool cw = false) {
    return box(r.x0, r.y0, r.x1, r.y1, !cw);
}

ContourHeader header(size_t n, uint8_t ccw, uint8_t leftSide) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(n);
    h.ccw = ccw;
    h.leftSide = leftSide;
    return h;
}

// Areas of the spliced contours against the closed-form areas of rectangle
// intersection (two outer boundaries), union (two islands) and difference.
TEST(RingHelpers, SpliceAreasOfRectangles) {
    PocketErrors errors;
    rngResetState();
    std::vector<ContourElement> out(4000);
    int32_t starts[64], counts[64], spliced = 0;
    auto area = [](const Rect& r) { return (r.x1 - r.x0) * (r.y1 - r.y0); };
    for (int run = 0; run < 300; ++run) {
        Rect r[2];
        for (Rect& q : r) {
            q.x0 = 100 * rngUniform(), q.y0 = 100 * rngUniform();
            q.x1 = q.x0 + 5 + 60 * rngUniform(), q.y1 = q.y0 + 5 + 60 * rngUniform();
        }
        const int kind = run % 3;  // 0 both outer, 1 both islands, 2 outer and island
        const std::vector<ContourElement> a = rect(r[0], kind == 1), b = rect(r[1], kind >= 1);
        const ContourHeader ha = header(4, kind != 1, 1), hb = header(4, kind == 0, 1);
        PocketIsect rec[64];
        const int32_t n = intersectContours(a.data(), 4, b.data(), 4, rec, 64);
        for (int32_t i = 0; i < n; ++i) rec[i].state = kSpliceOpen;
        std::vector<PocketIsect> exact(rec, rec + n);  // no room past the count
        const int32_t w = contourSplice(a.data(), &ha, b.data(), &hb, exact.data(), n, out.data(), 4000,
                                        starts, counts, 64);
        ASSERT_EQ(w > 0, n > 0) << run;  // disjoint contours: no records, nothing written
        ASSERT_EQ(contourSplice(a.data(), &ha, b.data(), &hb, rec, -n, out.data(), 4000, starts, counts, 64),
                  0);  // nor for a negative count
        spliced += n > 0;
        double total = 0;
        for (int32_t k = 0; k < w; ++k)
            total += std::fabs(
                offsettest::signedArea({out.begin() + starts[k], out.begin() + starts[k] + counts[k]}));
        const double ow = std::min(r[0].x1, r[1].x1) - std::max(r[0].x0, r[1].x0);
        const double oh = std::min(r[0].y1, r[1].y1) - std::max(r[0].y0, r[1].y0);
        const double o = ow > 0 && oh > 0 ? ow * oh : 0;
        const double expected = kind == 0 ? o : kind == 1 ? area(r[0]) + area(r[1]) - o : area(r[0]) - o;
        EXPECT_NEAR(n > 0 ? total : expected, expected, 1e-6) << run << " kind " << kind;
    }
    EXPECT_GT(spliced, 60);
}

// The probe farthest inside: among the chain's element middles nearer B than A, the one that is farthest
// from A beyond its distance from B decides by lying inside A (none: 1); against plain distances to every
// element, on seeded wavy contours of many short lines (runs of boxes) about a unit apart.
TEST(RingHelpers, ProbeFarthestInsideAgainstPlainDistances) {
    PocketErrors errors;
    rngResetState();
    const auto wavy = [](double cx, double cy, double r) {
        std::vector<Vec2> p;
        const int n = 20 + static_cast<int>(rngBelow(80));
        for (int i = 0; i < n; ++i) {
            const double a = 2 * offsettest::kPi * i / n, rr = r * (1 + 0.2 * (rngUniform() - 0.5));
            p.push_back({cx + rr * std::cos(a), cy + rr * std::sin(a)});
        }
        return polygon(p);
    };
    int inside = 0;
    for (int t = 0; t < 100; ++t) {
        const std::vector<ContourElement> a = wavy(0, 0, 3),
                                          b = wavy(2 * rngUniform() - 1, 2 * rngUniform() - 1, 2.5);
        std::vector<ContourElement> chain;
        for (int k = 0; k < 3 + static_cast<int>(rngBelow(10)); ++k)
            chain.push_back(lineElem(8 * rngUniform() - 4, 8 * rngUniform() - 4, 8 * rngUniform() - 4,
                                     8 * rngUniform() - 4));
        double best = -1;
        Vec2 probe{0, 0};
        for (const ContourElement& e : chain) {
            const Vec2 mid = offsettest::pointAlong(e, 0.5);
            const double da = contourDistance(&mid, a.data(), static_cast<int32_t>(a.size())),
                         db = contourDistance(&mid, b.data(), static_cast<int32_t>(b.size()));
            if (da >= db && da - db > best) best = da - db, probe = mid;
        }
        const int want = best < 0 || pointInContour(a.data(), static_cast<int32_t>(a.size()), &probe) != 0;
        inside += best >= 0 && want;
        EXPECT_EQ(
            probeFarthestInside(chain.data(), static_cast<int32_t>(chain.size()), a.data(),
                                static_cast<int32_t>(a.size()), b.data(), static_cast<int32_t>(b.size())),
            want)
            << t;
    }
    EXPECT_GT(inside, 15);
    // An arc with its ends far inside its circle (contourValidate passes ends that sit alike) reaches past
    // its ends' box: nearer the probe (0.5) than B (1.5), its run's box beyond another run's.
    ContourElement arc = arcElem(10, 0, 0.1, 145 * offsettest::kPi / 180, 170 * offsettest::kPi / 180, 1);
    arc.g[kAr] = 9.5;
    const Vec2 corner[] = {
        {arc.g[kAex], arc.g[kAey]}, {3.603, 3.42}, {12, 3.42}, {12, arc.g[kAsy]}, {arc.g[kAsx], arc.g[kAsy]}};
    std::vector<ContourElement> a;  // runs of 16: the sides near the probe, then the far ones and the arc
    for (int i = 0; i < 31; ++i) {
        const int side = std::min(i / 8, 3), n = side < 3 ? 8 : 7, k = i - 8 * side;
        const Vec2 &s = corner[side], &t = corner[side + 1];
        a.push_back(lineElem(s.x + (t.x - s.x) * k / n, s.y + (t.y - s.y) * k / n,
                             s.x + (t.x - s.x) * (k + 1) / n, s.y + (t.y - s.y) * (k + 1) / n));
    }
    a.push_back(arc);
    std::vector<ContourElement> b = box(-0.4, 4.92, 1.6, 6.42), chain = {lineElem(0.5, 3.42, 0.706, 3.42)};
    // All of it moved off the x axis, where the sign of the arc centre's y would not show.
    for (std::vector<ContourElement>* v : {&a, &b, &chain})
        for (ContourElement& e : *v)
            for (int k = 1; k < (e.type == kElemArc ? 6 : 4); k += 2) e.g[k] += 2;
    EXPECT_EQ(probeFarthestInside(chain.data(), 1, a.data(), 32, b.data(), 4), 1);
    // An arc whose end sits 0.1 inside its circle: a point 0.05 beyond the circle at the end's angle is
    // nearest the arc, though right of every end point of its run. A's next run passes 0.0502 off, B
    // 0.0501 off: A is the nearer, so there is no probe (1, while the point lies outside A).
    const double deg = offsettest::kPi / 180;
    const Vec2 p{10.05 * std::cos(10 * deg), 10.05 * std::sin(10 * deg)};
    ContourElement bend = arcElem(0, 0, 10, 80 * deg, 10 * deg, -1);
    bend.g[kAex] *= 0.99, bend.g[kAey] *= 0.99;
    const double sx = bend.g[kAsx], ex = bend.g[kAex], ey = bend.g[kAey], side = p.x + 0.0502;
    std::vector<ContourElement> c;  // 15 sides far left, the arc, the sides round the probe
    const auto along = [&c](Vec2 s, Vec2 t, int n) {
        for (int k = 0; k < n; ++k)
            c.push_back(lineElem(s.x + (t.x - s.x) * k / n, s.y + (t.y - s.y) * k / n,
                                 s.x + (t.x - s.x) * (k + 1) / n, s.y + (t.y - s.y) * (k + 1) / n));
    };
    along({-12, -3}, {-12, 12}, 7), along({-12, 12}, {sx, 12}, 7), along({sx, 12}, {sx, bend.g[kAsy]}, 1);
    c.push_back(bend);
    const Vec2 round[] = {{ex, ey}, {ex, -1}, {side, -1}, {side, 2.7}, {12, 2.7}, {12, -3}, {-12, -3}};
    for (int i = 0; i < 6; ++i) along(round[i], round[i + 1], 1);
    const std::vector<ContourElement> nearB = box(p.x - 0.02, p.y + 0.0501, p.x + 0.02, p.y + 0.5),
                                      probe = {lineElem(p.x - 0.01, p.y, p.x + 0.01, p.y)};
    EXPECT_EQ(probeFarthestInside(probe.data(), 1, c.data(), 22, nearB.data(), 4), 1);
    EXPECT_EQ(pointInContour(c.data(), 22, &p), 0);
}

TEST(RingHelpers, NearRecordsCollapse) {
    for (double dx : {0.0005, 0.001, 0.0011}) {
        // The third record lies past the count: never read nor marked.
        PocketIsect rec[3] = {{1, 1, 0, 1, 1, 1}, {1 + dx, 1, 0, 1, 2, 1}, {1, 1, 0, 1, 3, 1}};
        isectCollapseNear(rec, 2);
        EXPECT_EQ(rec[0].state * 100 + rec[1].state * 10 + rec[2].state, dx <= 0.001 ? 121 : 111) << dx;
    }
}

TEST(RingHelpers, RingsAgainstMainAndInput) {
    PocketErrors errors;
    clistCreate("MAIN");
    clistCreate("INPUT");
    const std::vector<ContourElement> outer = rect({0, 0, 40, 30}), island = rect({10, 10, 20, 20}, true);
    ContourHeader ho = header(4, 1, 1), hi = header(4, 0, 1);
    hi.allowance = 1;
    for (const char* list : {"MAIN", "INPUT"}) {
        ASSERT_EQ(clistInsert(list, outer.data(), &ho, -1), 1);
        ASSERT_EQ(clistInsert(list, island.data(), &hi, -1), 1);
    }
    struct RingCase {
        Rect r;
        int outsideMain, crossesInput, insideIsland;
    } rings[] = {{{5, 5, 8, 8}, 0, 0, 0},
                 {{12, 12, 18, 18}, 0, 0, 1},
                 {{35, 5, 45, 8}, 0, 1, 0},
                 {{-5, -5, 45, 35}, 1, 0, 0}};
    for (const RingCase& rc : rings) {
        const std::vector<ContourElement> ring = rect(rc.r);
        EXPECT_EQ(ringOutsideMain(ring.data(), 4), rc.outsideMain) << rc.r.x0;
        EXPECT_EQ(ringCrossesInput(ring.data(), 4), rc.crossesInput) << rc.r.x0;
        EXPECT_EQ(ringInsideOtherInput(ring.data(), 4), rc.insideIsland) << rc.r.x0;
    }
    // MAIN's first contour alone decides, also when it is the only one; an empty MAIN leaves every ring out.
    clistCreate("MAIN");
    for (int k = 0; k < 2; ++k) {
        for (const RingCase& rc : rings) {
            const std::vector<ContourElement> ring = rect(rc.r);
            EXPECT_EQ(ringOutsideMain(ring.data(), 4), k ? rc.outsideMain : 1) << rc.r.x0;
        }
        ASSERT_EQ(clistInsert("MAIN", k ? island.data() : outer.data(), k ? &hi : &ho, -1), 1);
    }
    // A whole circle of one arc in INPUT is crossed like any other contour.
    const std::vector<ContourElement> round = offsettest::circle(30, 15, 2, 1, 1);
    const ContourHeader hr = header(1, 1, 1);
    ASSERT_EQ(clistInsert("INPUT", round.data(), &hr, -1), 1);
    for (const Rect& r : {Rect{29, 14, 35, 16}, Rect{33, 14, 35, 16}}) {
        const std::vector<ContourElement> ring = rect(r);
        EXPECT_EQ(ringCrossesInput(ring.data(), 4), r.x0 < 30 ? 1 : 0) << r.x0;
    }
    // A ring whose arc (radius 100) dips 5e-5 below the outer contour's top, less than the box test's
    // margin, crosses it twice, 0.1 either side of its lowest point.
    const double q = offsettest::kPi / 2;
    std::vector<ContourElement> dip = {arcElem(15, 130 - 5e-5, 100, -q - 0.1, -q + 0.1, 1)};
    dip.push_back(lineElem(dip[0].g[kAex], dip[0].g[kAey], dip[0].g[kAsx], dip[0].g[kAsy]));
    EXPECT_EQ(ringCrossesInput(dip.data(), 2), 1);
    // The island's circle of allowance (1) + distance - 0.01 about the start, 5 from the island: clear up
    // to a distance of 4.01.
    for (double d : {4.5, 4.015, 4.005, 4.0}) {
        const ContourElement chain[] = {lineElem(5, 15, 6, 15)};
        EXPECT_EQ(ringStartClear(chain, 1, d), d < 4.01) << d;
    }
    ringHelpersResetState();
}

// Rings of a step about a square source: each rule drops its ring, survivors move up.
TEST(RingHelpers, FilterDropsAndCompacts) {
    PocketErrors errors;
    clistCreate("MAIN");
    const std::vector<ContourElement> source = rect({0, 0, 100, 100});
    const std::vector<std::vector<ContourElement>> rings = {
        rect({10, 10, 90, 90}),
        rect({-10, 20, 20, 40}),
        {lineElem(20, 20, 30, 20), lineElem(30, 20, 30, 30)},
        rect({-20, -20, 120, 120}),
        rect({150, 10, 160, 20}),
        rect({1, 1, 30, 30}),
        rect({40, 40, 60, 60})};
    std::vector<ContourElement> all;
    int32_t starts[7], counts[7];
    for (size_t i = 0; i < rings.size(); ++i) {
        starts[i] = static_cast<int32_t>(all.size());
        counts[i] = static_cast<int32_t>(rings[i].size());
        all.insert(all.end(), rings[i].begin(), rings[i].end());
    }
    const RingCheck narrow = [](const ContourElement* r, int32_t) {
        return r[0].g[kLx2] - r[0].g[kLx1] < 50 ? 1 : 0;
    };
    struct Case {
        int mode, flag;
        RingCheck check;
        Rect main;  // MAIN[0] for the bounding circle
        std::vector<int> kept;
    } cases[] = {{-1, 0, nullptr, {}, {0, 6}},
                 {1, 1, nullptr, {}, {0, 6}},
                 {1, 0, nullptr, {}, {0, 3, 4, 6}},
                 {-1, 0, narrow, {}, {6}},
                 {-1, 0, nullptr, {200, 200, 210, 210}, {}},
                 // only the last ring's start point (40, 40) lies within the circle
                 {-1, 0, nullptr, {30, 30, 40, 40}, {6}}};
    for (const Case& c : cases) {
        if (c.main.x1 > 0) {
            clistCreate("MAIN");
            ASSERT_TRUE(putContour("MAIN", rect(c.main), header(4, 1, 1)));
            ASSERT_EQ(mainBoundingCircle(), 1);
        }
        std::vector<ContourElement> buffer = all;
        int32_t s[7], n[7];
        std::copy(starts, starts + 7, s);
        std::copy(counts, counts + 7, n);
        const int32_t k = ringsFilter(source.data(), 4, buffer.data(), s, n, 7, 5, c.mode, c.flag, c.check);
        ASSERT_EQ(k, static_cast<int32_t>(c.kept.size()));
        for (int32_t i = 0; i < k; ++i) EXPECT_EQ(buffer[s[i]].g[kLx1], all[starts[c.kept[i]]].g[kLx1]);
    }
    EXPECT_EQ(PocketErrors::texts().back(), "101 1500");
    ringHelpersResetState();
    // A ring whose first element ends nearer the source's start than the distance less 0.006 is dropped,
    // and one coming anywhere nearer than the distance less 0.1.
    const struct {
        Vec2 b, c;
        int kept;
    } tris[] = {{{4.9, 0.6}, {20, 20}, 0},
                {{4.99, 0.6}, {20, 20}, 1},
                {{5.1, 0.6}, {20, 20}, 1},
                {{6, 0.6}, {3, 3}, 0},
                {{6, 0.6}, {3.5, 3.5}, 1}};
    for (const auto& [b, c, kept] : tris) {
        std::vector<ContourElement> tri = polygon({{20, 0.6}, b, c});
        int32_t s[1] = {0}, n[1] = {3};
        EXPECT_EQ(ringsFilter(source.data(), 4, tri.data(), s, n, 1, 5, 1, 0, nullptr), kept)
            << b.x << " " << c.x;
        // Without a buffer or a source nothing is kept.
        EXPECT_EQ(ringsFilter(source.data(), 4, nullptr, s, n, 1, 5, 1, 0, nullptr) +
                      ringsFilter(nullptr, 4, tri.data(), s, n, 1, 5, 1, 0, nullptr),
                  0);
    }
}

}  // namespace

// Short of memory at any one allocation the filter may keep less, but it leaves no such answer behind:
// asked again with memory to spare it keeps the ring that lies 5 inside the square all round.
TEST(RingHelpers, FilterShortOfMemoryLeavesNoAnswerBehind) {
    PocketErrors errors;
    const std::vector<ContourElement> source = box(0, 0, 20, 20), ring = box(5, 5, 15, 15);
    const auto filter = [&] {
        std::vector<ContourElement> buffer = ring;
        int32_t s[1] = {0}, n[1] = {4};
        return ringsFilter(source.data(), 4, buffer.data(), s, n, 1, 5, -1, 0, nullptr);
    };
    ringHelpersResetState();
    allocfail::arm(0);
    ASSERT_EQ(filter(), 1);
    const long used = allocfail::count();
    allocfail::disarm();
    for (long failAt = 1; failAt <= used; ++failAt) {
        ringHelpersResetState();
        allocfail::arm(failAt);
        try {
            filter();
        } catch (const std::bad_alloc&) {
        }
        allocfail::disarm();
        EXPECT_EQ(filter(), 1) << failAt << " of " << used;
    }
    ringHelpersResetState();
}

// A row copy takes the count and the indices it names, a row's worth at most, and leaves the source alone;
// a missing row or a copy onto itself changes nothing.
TEST(RingHelpers, RowCopyKeepsWithinARow) {
    PocketErrors errors;
    const uint32_t counts[] = {0, 3, kPocketRingColumns - 1, kPocketRingColumns, 50000000};
    for (const uint32_t count : counts) {
        uint32_t* from = pocketRingRow(4);
        uint32_t* to = pocketRingRow(5);
        ASSERT_TRUE(from && to);
        for (uint32_t i = 1; i < kPocketRingColumns; ++i) from[i] = 7 + i, to[i] = 1;
        from[0] = count;
        ringIndexRowCopy(4, 5);
        const uint32_t copied = std::min<uint32_t>(count, kPocketRingColumns - 1);
        EXPECT_EQ(to[0], count);
        EXPECT_EQ(to[copied], copied ? 7 + copied : count) << count;
        if (copied + 1 < kPocketRingColumns) {
            EXPECT_EQ(to[copied + 1], 1u) << count;
        }
        EXPECT_EQ(from[1], 8u);
    }
    uint32_t* row = pocketRingRow(4);
    row[1] = 99;
    ringIndexRowCopy(4, 4);
    ringIndexRowCopy(4, kPocketRingRows);
    EXPECT_EQ(pocketRingRow(4)[1], 99u);
    pocketKernelResetState();
}

// The side B turns to against A at their crossing, by the tangents there (mode 1: left is 1), across
// the angle's wrap and for arcs by their direction; no side for a bad record or an arc's centre.
TEST(RingHelpers, TurnSideByTheTangents) {
    const ContourElement ccw = arcElem(0, 0, 5, -1, 1, 1), cw = arcElem(0, 0, 5, 1, -1, -1);
    const struct {
        ContourElement a, b;
        Vec2 at;
        int mode1;  // the side in mode 1; mode 0 gives the other one
    } cases[] = {
        {lineElem(0, 0, 10, 0), lineElem(5, -5, 5, 5), {5, 0}, 1},
        {lineElem(0, 0, 10, 0), lineElem(5, 5, 5, -5), {5, 0}, 2},
        {lineElem(10, 0, 0, 0), lineElem(5, 5, 5, -5), {5, 0}, 1},  // pi to -pi/2
        {lineElem(5, 5, 5, -5), lineElem(10, 0, 0, 0), {5, 0}, 2},  // -pi/2 to pi
        {lineElem(10, 0, 0, 0), lineElem(0, 0, 10, 0), {5, 0}, 1},  // a half turn either way: left
        {lineElem(0, 0, 10, 0), lineElem(10, 0, 0, 0), {5, 0}, 1},
        {lineElem(0, 0, 10, 0), ccw, {5, 0}, 1},
        {lineElem(0, 0, 10, 0), cw, {5, 0}, 2},
        // An arc about (0, -3) runs straight up at (5, -3), left of a line rising at 60 degrees.
        {lineElem(4, -3 - std::sqrt(3), 6, -3 + std::sqrt(3)), arcElem(0, -3, 5, -1, 1, 1), {5, -3}, 1},
    };
    for (const auto& c : cases) {
        const PocketIsect rec{c.at.x, c.at.y, 0, 1, 1, 1};
        EXPECT_EQ(isectTurnSide(&c.a, &c.b, &rec, 1), c.mode1) << c.a.g[kLx1] << " " << c.b.g[kLx1];
        EXPECT_EQ(isectTurnSide(&c.a, &c.b, &rec, 0), 3 - c.mode1);
    }
    const ContourElement a = lineElem(0, 0, 10, 0);
    const PocketIsect centre{0, 0, 0, 1, 1, 1}, noA{5, 0, 0, 0, 1, 1}, noB{5, 0, 0, 1, 0, 1};
    EXPECT_EQ(isectTurnSide(&a, &ccw, &centre, 1), 0);
    EXPECT_EQ(isectTurnSide(&a, &ccw, &noA, 1), 0);
    EXPECT_EQ(isectTurnSide(&a, &ccw, &noB, 1), 0);
    EXPECT_EQ(isectTurnSide(&a, &ccw, nullptr, 1), 0);
    EXPECT_EQ(isectTurnSide(nullptr, &ccw, &noB, 1), 0);
}

// List helpers: tags of material edges replaced, open sides kept; a list needs an offset when an
// allowance and the distance do not cancel within 1e-4, a contour is stock or the pocket open; MAIN's
// bounding circle holds half its box's diagonal, 4 R, the first allowance and 0.1; rows renumbered and
// their ring rows emptied; rings rotated to start where a material run follows inserted elements.
TEST(RingHelpers, ListHelpers) {
    PocketErrors errors;
    ContourElement tagged[4] = {lineElem(0, 0, 1, 0, -1), lineElem(1, 0, 1, 1, 0), lineElem(1, 1, 0, 1, 5),
                                lineElem(0, 1, 0, 0, -2)};
    chainSetSourceTag(tagged, 4, 9);
    const int32_t tags[4] = {-1, 9, 9, -2};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(tagged[i].sourceTag, tags[i]) << i;

    const struct {
        double allowance, distance;
        int stock, open, needs;
    } offsets[] = {{0.5, -0.5, 0, 0, 0},    {0.5, -0.49995, 0, 0, 0}, {0.5, -0.4998, 0, 0, 1},
                   {0.5, -0.5002, 0, 0, 1}, {0.5, -0.5, 1, 0, 1},     {0.5, -0.5, 0, 1, 1}};
    for (const auto& o : offsets) {
        ASSERT_TRUE(clistCreate("TEMP"));
        ContourHeader h = header(4, 1, 1);
        h.allowance = o.allowance;
        h.stock = static_cast<uint16_t>(o.stock);
        ASSERT_TRUE(putContour("TEMP", rect({0, 0, 10, 10}), h));
        pocketKernel().openPocket = o.open;
        EXPECT_EQ(listNeedsOffset("TEMP", o.distance), o.needs) << o.distance << " " << o.stock << o.open;
    }
    pocketKernel().openPocket = 0;

    ASSERT_TRUE(clistCreate("MAIN"));
    EXPECT_EQ(mainBoundingCircle(), -1);
    ASSERT_TRUE(putContour("MAIN", rect({6, 8, 36, 48}), header(4, 1, 1)));
    pocketKernel().toolRadius = 2;
    ASSERT_EQ(pocketAllowanceSet(0, 0.5), 1);
    ASSERT_EQ(mainBoundingCircle(), 1);
    Vec2 centre;
    double radius;
    mainBoundingCircleGet(&centre, &radius);
    EXPECT_NEAR(radius, 25 + 8 + 0.5 + 0.1, 1e-12);
    EXPECT_NEAR(centre.x, 21, 1e-12);
    EXPECT_NEAR(centre.y, 28, 1e-12);

    ASSERT_TRUE(clistCreate("TEMP"));
    for (int i = 0; i < 3; ++i) {
        ContourHeader h = header(4, 1, 1);
        h.row = 77;
        ASSERT_TRUE(putContour("TEMP", rect({0, 0, 1, 1}), h));
        ASSERT_EQ(pocketRingRowAppend(i, 5), 1);
    }
    ASSERT_EQ(pocketRingRowAppend(3, 5), 1);
    EXPECT_EQ(listResetTags("TEMP"), 3);
    for (int32_t i = 0; i < 3; ++i) {
        ContourHeader h{};
        ASSERT_GE(clistGetHeader("TEMP", &h, i), 0);
        EXPECT_EQ(h.row, i);
        EXPECT_EQ(pocketRingRow(i)[0], 0u);
    }
    EXPECT_EQ(pocketRingRow(3)[0], 1u);

    // The tag pattern of each MAIN contour and the element it starts with afterwards.
    const struct {
        std::vector<int32_t> tags;
        int16_t group;
        int first;
    } rotations[] = {{{-1, -1, 0, 4}, 1, 2}, {{3, -1, -1, 4}, 1, 3}, {{3, 4, -1, -1}, 1, 0},
                     {{-1, -1, 3, 4}, 0, 0}, {{3, 4, 5, 6}, 1, 0},   {{-1, 3}, 1, 1}};
    for (const int mode : {0, 1}) {
        ASSERT_TRUE(clistCreate("MAIN"));
        for (const auto& r : rotations) {
            std::vector<ContourElement> c = rect({0, 0, 10, 10});
            c.resize(r.tags.size());
            for (size_t i = 0; i < c.size(); ++i) c[i].sourceTag = r.tags[i], c[i].g[kLx1] = i;
            ContourHeader h = header(c.size(), 1, 1);
            h.group = r.group;
            ASSERT_TRUE(putContour("MAIN", c, h));
        }
        EXPECT_EQ(mainRotateToContour(mode), 1);
        for (int32_t i = 0; i < clistCount("MAIN"); ++i) {
            ContourElement back[4];
            ContourHeader h{};
            ASSERT_EQ(clistGet("MAIN", back, &h, i), i);
            const int first = mode == 1 && i > 0 ? 0 : rotations[i].first;  // mode 1: MAIN's first alone
            for (uint32_t k = 0; k < h.elementCount; ++k)
                EXPECT_EQ(back[k].g[kLx1], (first + k) % h.elementCount) << mode << " " << i << " " << k;
        }
    }

    // Open pockets and direct outside-in start a ring only inside an INPUT contour.
    ASSERT_TRUE(clistCreate("MAIN"));
    ASSERT_TRUE(clistCreate("INPUT"));
    ASSERT_TRUE(putContour("INPUT", rect({0, 0, 10, 10}), header(4, 1, 1)));
    ASSERT_EQ(pocketAllowanceSet(0, 0), 1);
    for (const int open : {0, 1, 2})
        for (const double x : {5.0, 15.0}) {
            pocketKernel().openPocket = open == 1;
            pocketKernel().outsideInDirect = open == 2;
            const ContourElement chain[1] = {lineElem(x, 5, x + 1, 5)};
            EXPECT_EQ(ringStartClear(chain, 1, 0.005), open == 0 || x < 10 ? 1 : 0) << open << " " << x;
        }
    EXPECT_EQ(ringStartClear(nullptr, 1, 1), 0);
    ringHelpersResetState();
}
