#include "pocket/ringhelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/rng.h"
#include "pocket/chaincross.h"
#include "pocket/pocket_util.h"

namespace {

struct Rect {
    double x0, y0, x1, y1;
};

// Counter-clockwise, or clockwise when cw is set.
std::vector<ContourElement> rect(const Rect& r, bool cw = false) {
    std::vector<Vec2> p = {{r.x0, r.y0}, {r.x1, r.y0}, {r.x1, r.y1}, {r.x0, r.y1}};
    if (cw) std::reverse(p.begin(), p.end());
    return polygon(p);
}

double area(const Rect& r) {
    return (r.x1 - r.x0) * (r.y1 - r.y0);
}

double overlap(const Rect& a, const Rect& b) {
    const double w = std::min(a.x1, b.x1) - std::max(a.x0, b.x0),
                 h = std::min(a.y1, b.y1) - std::max(a.y0, b.y0);
    return w > 0 && h > 0 ? w * h : 0;
}

double shoelace(const ContourElement* c, int32_t n) {
    double s = 0;
    for (int32_t i = 0; i < n; ++i) s += c[i].g[kLx1] * c[i].g[kLy2] - c[i].g[kLx2] * c[i].g[kLy1];
    return std::fabs(0.5 * s);
}

ContourHeader header(size_t n, uint8_t ccw, uint8_t leftSide) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(n);
    h.ccw = ccw;
    h.leftSide = leftSide;
    return h;
}

Rect randomRect() {
    const double x = 100 * rngUniform(), y = 100 * rngUniform();
    return {x, y, x + 5 + 60 * rngUniform(), y + 5 + 60 * rngUniform()};
}

// Areas of the spliced contours against the closed-form areas of rectangle
// intersection (two outer boundaries), union (two islands) and difference.
TEST(RingHelpers, SpliceAreasOfRectangles) {
    PocketErrors errors;
    rngResetState();
    std::vector<ContourElement> out(4000);
    int32_t starts[64], counts[64];
    int spliced = 0;
    for (int run = 0; run < 300; ++run) {
        const Rect ra = randomRect(), rb = randomRect();
        const int kind = run % 3;  // 0 both outer, 1 both islands, 2 outer and island
        const std::vector<ContourElement> a = rect(ra, kind == 1), b = rect(rb, kind >= 1);
        const ContourHeader ha = header(4, kind == 1 ? 0 : 1, 1), hb = header(4, kind >= 1 ? 0 : 1, 1);
        PocketIsect rec[64];
        const int32_t n = intersectContours(a.data(), 4, b.data(), 4, rec, 64);
        ASSERT_GE(n, 0);
        for (int32_t i = 0; i < n; ++i) rec[i].state = kSpliceOpen;
        const int32_t w =
            contourSplice(a.data(), &ha, b.data(), &hb, rec, n, out.data(), 4000, starts, counts, 64);
        if (n == 0) {
            EXPECT_EQ(w, 0);
            continue;
        }
        ++spliced;
        ASSERT_GT(w, 0) << run;
        double total = 0;
        for (int32_t k = 0; k < w; ++k) total += shoelace(out.data() + starts[k], counts[k]);
        const double o = overlap(ra, rb);
        const double expected = kind == 0 ? o : kind == 1 ? area(ra) + area(rb) - o : area(ra) - o;
        EXPECT_NEAR(total, expected, 1e-6) << run << " kind " << kind;
    }
    EXPECT_GT(spliced, 60);
}

TEST(RingHelpers, NearRecordsCollapseAndTurnSides) {
    struct Case {
        double dx;
        int32_t collapsed;
    } cases[] = {{0.0005, 1}, {0.001, 1}, {0.0011, 0}, {0.3, 0}};
    for (const Case& c : cases) {
        PocketIsect rec[3] = {{1, 1, 0, 1, 1, 1}, {1 + c.dx, 1, 0, 1, 2, 1}, {5, 5, 0, 2, 2, 1}};
        isectCollapseNear(rec, 3);
        EXPECT_EQ(rec[0].state, 1);
        EXPECT_EQ(rec[1].state, c.collapsed ? 2 : 1) << c.dx;
        EXPECT_EQ(rec[2].state, 1);
    }
    const ContourElement a[] = {lineElem(0, 0, 10, 0)};
    const ContourElement up[] = {lineElem(5, -5, 5, 5)}, down[] = {lineElem(5, 5, 5, -5)};
    const ContourElement arcUp[] = {arcElem(0, 0, 5, -1, 1, 1)};
    const PocketIsect r{5, 0, 0.5, 1, 1, 1};
    struct Turn {
        const ContourElement* b;
        int mode, side;
    } turns[] = {{up, 1, 1}, {up, 2, 2}, {down, 1, 2}, {down, 2, 1}, {arcUp, 1, 1}};
    for (const Turn& t : turns) EXPECT_EQ(isectTurnSide(a, t.b, &r, t.mode), t.side);
    const ContourElement point[] = {lineElem(5, 0, 5, 0)};
    EXPECT_EQ(isectTurnSide(a, point, &r, 1), 0);
}

TEST(RingHelpers, ProbesAndTags) {
    const std::vector<ContourElement> a = rect({0, 0, 10, 10}), b = rect({6, 2, 20, 8});
    struct Probe {
        ContourElement e;
        int outside;
    } probes[] = {
        {lineElem(8, 2, 8, 8), 0},        // inside both
        {lineElem(12, 7.5, 13, 7.5), 1},  // outside A, which is farther
        {lineElem(3, 9, 4, 9), 1},        // outside B, which is farther
        {lineElem(-5, 5, -4, 5), 1},      // outside both
    };
    for (const Probe& p : probes) EXPECT_EQ(probeOutsideFarther(&p.e, a.data(), 4, b.data(), 4), p.outside);
    const std::vector<ContourElement> inB = {lineElem(15, 3, 15, 7)}, inA = {lineElem(2, 5, 3, 5)};
    EXPECT_EQ(probeFarthestInside(inB.data(), 1, a.data(), 4, b.data(), 4), 0);
    EXPECT_EQ(probeFarthestInside(inA.data(), 1, a.data(), 4, b.data(), 4), 1);  // none qualifies

    std::vector<ContourElement> c = rect({0, 0, 1, 1});
    c[1].sourceTag = -1;
    c[2].sourceTag = -4;
    chainSetSourceTag(c.data(), 4, 9);
    EXPECT_EQ(c[0].sourceTag, 9);
    EXPECT_EQ(c[1].sourceTag, -1);
    EXPECT_EQ(c[2].sourceTag, -4);
    EXPECT_EQ(c[3].sourceTag, 9);
}

TEST(RingHelpers, MainListsAndIndexRows) {
    PocketErrors errors;
    clistCreate("MAIN");
    clistCreate("INPUT");
    EXPECT_EQ(mainBoundingCircle(), -1);
    const std::vector<ContourElement> outer = rect({0, 0, 40, 30}), island = rect({10, 10, 20, 20}, true);
    ContourHeader ho = header(4, 1, 1), hi = header(4, 0, 1);
    hi.allowance = 1;
    ASSERT_EQ(clistInsert("MAIN", outer.data(), &ho, -1), 1);
    ASSERT_EQ(clistInsert("MAIN", island.data(), &hi, -1), 1);
    ASSERT_EQ(clistInsert("INPUT", outer.data(), &ho, -1), 1);
    ASSERT_EQ(clistInsert("INPUT", island.data(), &hi, -1), 1);
    pocketKernel().toolRadius = 2;
    pocketAllowanceSet(0, 0.5);
    ASSERT_EQ(mainBoundingCircle(), 1);
    Vec2 c;
    double r;
    mainBoundingCircleGet(&c, &r);
    EXPECT_TRUE(c.x == 20 && c.y == 15);
    EXPECT_NEAR(r, 25 + 8 + 0.5 + 0.1, 1e-12);

    struct RingCase {
        Rect r;
        int outsideMain, crossesInput, insideIsland;
    } rings[] = {{{5, 5, 8, 8}, 0, 0, 0},
                 {{12, 12, 18, 18}, 0, 0, 1},
                 {{35, 5, 45, 8}, 0, 1, 0},
                 {{50, 50, 60, 60}, 1, 0, 0},
                 {{-5, -5, 45, 35}, 1, 0, 0}};
    for (const RingCase& rc : rings) {
        const std::vector<ContourElement> ring = rect(rc.r);
        EXPECT_EQ(ringOutsideMain(ring.data(), 4), rc.outsideMain) << rc.r.x0;
        EXPECT_EQ(ringCrossesInput(ring.data(), 4), rc.crossesInput) << rc.r.x0;
        EXPECT_EQ(ringInsideOtherInput(ring.data(), 4), rc.insideIsland) << rc.r.x0;
    }
    // The island's circle reaches the start at allowance + distance - 0.01.
    struct StartCase {
        Vec2 start;
        double distance;
        int clear;
    } starts[] = {{{5, 15}, 4.5, 0}, {{5, 15}, 5.5, 0}, {{5, 15}, 2, 1}, {{30, 15}, 3, 1}};
    for (const StartCase& s : starts) {
        const std::vector<ContourElement> chain = {lineElem(s.start.x, s.start.y, s.start.x + 1, s.start.y)};
        EXPECT_EQ(ringStartClear(chain.data(), 1, s.distance), s.clear) << s.distance;
    }
    pocketKernel().openPocket = 1;
    const std::vector<ContourElement> far = {lineElem(100, 100, 101, 100)};
    EXPECT_EQ(ringStartClear(far.data(), 1, 1), 0);
    EXPECT_EQ(listNeedsOffset("MAIN", 0), 1);
    pocketKernel().openPocket = 0;
    struct Offset {
        double d;
        int needs;
    } offsets[] = {{0, 1}, {-1, 1}, {-1.00005, 1}};
    for (const Offset& o : offsets) EXPECT_EQ(listNeedsOffset("MAIN", o.d), o.needs);
    clistCreate("SPAN");
    ContourHeader hs = header(4, 1, 1);
    ASSERT_EQ(clistInsert("SPAN", outer.data(), &hs, -1), 1);
    EXPECT_EQ(listNeedsOffset("SPAN", 0.00005), 0);
    EXPECT_EQ(listNeedsOffset("SPAN", 0.0002), 1);
    clistGetHeader("SPAN", &hs, 0);
    hs.stock = 1;
    clistSetHeader("SPAN", &hs, 0);
    EXPECT_EQ(listNeedsOffset("SPAN", 0), 1);

    for (int32_t row : {0, 1, 5}) pocketRingRowAppend(row, 40 + row);
    pocketRingRowAppend(5, 77);
    ringIndexRowCopy(5, 7);
    EXPECT_EQ(pocketRingRow(7)[0], 2u);
    EXPECT_EQ(pocketRingRow(7)[2], 77u);
    EXPECT_EQ(listResetTags("MAIN"), 2);
    ContourHeader h;
    clistGetHeader("MAIN", &h, 1);
    EXPECT_EQ(h.row, 1);
    EXPECT_EQ(pocketRingRow(0)[0], 0u);
    EXPECT_EQ(pocketRingRow(1)[0], 0u);
    EXPECT_EQ(pocketRingRow(5)[0], 2u);
    listStrictRings(1);
    EXPECT_EQ(pocketOffsetState().strictRings, 1);
    ringHelpersResetState();
}

TEST(RingHelpers, RotateToContourElement) {
    PocketErrors errors;
    struct Case {
        std::vector<int32_t> tags;
        int16_t group;
        int32_t first;  // index of the old element that comes first
    } cases[] = {{{-3, -3, 0, 0, 0}, 1, 2},
                 {{0, -3, -3, 0, 0}, 1, 3},
                 {{0, 0, 0, -3}, 1, 0},
                 {{-3, 0, 0, 0}, 0, 0},
                 {{0, 0, 0, 0}, 1, 0}};
    for (const Case& c : cases) {
        clistCreate("MAIN");
        std::vector<Vec2> pts;
        for (size_t i = 0; i < c.tags.size(); ++i)
            pts.push_back({std::cos(6.283185307179586 * i / c.tags.size()),
                           std::sin(6.283185307179586 * i / c.tags.size())});
        std::vector<ContourElement> chain = polygon(pts);
        for (size_t i = 0; i < chain.size(); ++i) chain[i].sourceTag = c.tags[i];
        ContourHeader h = header(chain.size(), 1, 1);
        h.group = c.group;
        ASSERT_EQ(clistInsert("MAIN", chain.data(), &h, -1), 1);
        EXPECT_EQ(mainRotateToContour(1), 1);
        std::vector<ContourElement> got(chain.size());
        clistGet("MAIN", got.data(), &h, 0);
        for (size_t i = 0; i < chain.size(); ++i)
            EXPECT_EQ(got[i].g[kLx1], chain[(i + c.first) % chain.size()].g[kLx1]);
    }
}

// Rings of a step about a square source: each rule drops its ring, survivors move up.
TEST(RingHelpers, FilterDropsAndCompacts) {
    PocketErrors errors;
    clistCreate("MAIN");
    const std::vector<ContourElement> source = rect({0, 0, 100, 100});
    std::vector<std::vector<ContourElement>> rings = {
        rect({10, 10, 90, 90}),                                // kept
        rect({-10, 20, 20, 40}),                               // crosses the source
        {lineElem(20, 20, 30, 20), lineElem(30, 20, 30, 30)},  // open
        rect({-20, -20, 120, 120}),                            // contains the source
        rect({150, 10, 160, 20}),                              // outside the source
        rect({1, 1, 30, 30}),                                  // on the source's start
        rect({40, 40, 60, 60}),                                // kept
    };
    std::vector<ContourElement> buffer;
    int32_t starts[8], counts[8];
    for (size_t i = 0; i < rings.size(); ++i) {
        starts[i] = static_cast<int32_t>(buffer.size());
        counts[i] = static_cast<int32_t>(rings[i].size());
        buffer.insert(buffer.end(), rings[i].begin(), rings[i].end());
    }
    const std::vector<ContourElement> all = buffer;
    struct Case {
        int mode, flag;
        std::vector<int> kept;
    } cases[] = {{-1, 0, {0, 6}}, {1, 1, {0, 6}}, {1, 0, {0, 3, 4, 6}}};
    for (const Case& c : cases) {
        buffer = all;
        int32_t s[8], n[8];
        std::copy(starts, starts + 7, s);
        std::copy(counts, counts + 7, n);
        const int32_t k = ringsFilter(source.data(), 4, buffer.data(), s, n, 7, 5, c.mode, c.flag, nullptr);
        ASSERT_EQ(k, static_cast<int32_t>(c.kept.size()));
        for (int32_t i = 0; i < k; ++i) {
            EXPECT_EQ(n[i], counts[c.kept[i]]);
            EXPECT_EQ(buffer[s[i]].g[kLx1], all[starts[c.kept[i]]].g[kLx1]);
        }
    }
    // The extra check and the MAIN bounding circle drop rings as well.
    buffer = all;
    int32_t s[8], n[8];
    std::copy(starts, starts + 7, s);
    std::copy(counts, counts + 7, n);
    const RingCheck small = [](const ContourElement* r, int32_t) {
        return r[0].g[kLx2] - r[0].g[kLx1] < 50 ? 1 : 0;
    };
    EXPECT_EQ(ringsFilter(source.data(), 4, buffer.data(), s, n, 7, 5, -1, 0, small), 1);
    const std::vector<ContourElement> tiny = rect({200, 200, 210, 210});
    ContourHeader h = header(4, 1, 1);
    ASSERT_EQ(clistInsert("MAIN", tiny.data(), &h, -1), 1);
    ASSERT_EQ(mainBoundingCircle(), 1);
    buffer = all;
    std::copy(starts, starts + 7, s);
    std::copy(counts, counts + 7, n);
    EXPECT_EQ(ringsFilter(source.data(), 4, buffer.data(), s, n, 7, 5, -1, 0, nullptr), 0);
    EXPECT_EQ(PocketErrors::texts().back(), "101 1500");
    ringHelpersResetState();
}

}  // namespace
