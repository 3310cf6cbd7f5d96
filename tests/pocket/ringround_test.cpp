// Corner rounding: fillet radii in closed form, fillets and openings against
// the area a rounded square must have, the rejected opening of a narrow spike.
#include "pocket/ringround.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "kernel/base/rng.h"
#include "offset_util.h"
#include "ringtest_util.h"

namespace {

struct Round : RingState {
    Round() : RingState(5) {}
};

std::vector<ContourElement> run(int32_t (*f)(const ContourElement*, int32_t, double, ContourElement*, int),
                                const std::vector<ContourElement>& in, double r, int flip) {
    std::vector<ContourElement> out(kClistMaxElements);
    const int32_t n = f(in.data(), static_cast<int32_t>(in.size()), r, out.data(), flip);
    out.resize(n > 0 ? n : 0);
    return out;
}

int arcsOf(const std::vector<ContourElement>& c, double radius) {
    int n = 0;
    for (const ContourElement& e : c) n += e.type == kElemArc && std::fabs(e.g[kAr] - radius) < 1e-6;
    return n;
}

}  // namespace

// The fillet a corner needs by the angle between the tangents: none at 90
// degrees or for a corner turning the other way, the closed form otherwise,
// halved below 0.5 radians.
TEST(RingRound, FilletRadiusByCornerAngle) {
    const double R = 5, w = 4;
    struct Case {
        double degrees;
        int turn;  // -1 right, +1 left
        int expected;
    } cases[] = {{90, -1, 0}, {45, -1, 1}, {45, 1, 0}, {20, -1, 1}, {59, -1, 1}, {61, -1, 0}};
    for (const Case& c : cases) {
        const double a = c.degrees * offsettest::kPi / 180;
        // A line along +x, then back at the angle a to it, on the turn's side.
        ContourElement first = lineElem(-10, 0, 0, 0);
        ContourElement second = lineElem(0, 0, -10 * std::cos(a), c.turn * 10 * std::sin(a));
        double rho = -1;
        ASSERT_EQ(cornerFilletRadius(&first, &second, R, w, &rho), c.expected) << c.degrees;
        if (!c.expected) continue;
        const double f = std::sin(a / 2);
        double expected = (w - R + R * f) / (1 - f);
        if (a < 0.5) expected /= 2;
        EXPECT_NEAR(rho, expected, 1e-9) << c.degrees;
    }
}

// A square of side 20 rounded by r loses r^2 (1 - pi/4) at each corner, by
// fillets (clockwise ring) and by the opening (counter-clockwise ring); a radius
// below 0.01 leaves the ring as it is.
TEST(RingRound, RoundedSquareAreaMatchesClosedForm) {
    // Two rooms joined by a neck 0.2 wide, which an opening by 0.5 or more splits.
    const std::vector<Vec2> corners = {{0, 0},   {10, 0},  {10, 4.9}, {15, 4.9}, {15, 0},  {25, 0},
                                       {25, 10}, {15, 10}, {15, 5.1}, {10, 5.1}, {10, 10}, {0, 10}};
    const std::vector<ContourElement> rooms = polygon(corners);
    for (double r : {0.005, 0.01, 0.5, 2.0, 4.0})
        for (bool ccw : {true, false}) {
            Round round;
            // A split opening just before leaves nothing the square's opening or rounding reads.
            std::vector<ContourElement> scrap(kClistMaxElements);
            EXPECT_EQ(contourOpenByOffset(rooms.data(), 12, r, scrap.data(), 0) == kRoundOpenSeveral,
                      r >= 0.5);
            const std::vector<ContourElement> in = box(0, 0, 20, 20, ccw);
            const double expected = 400 - 4 * r * r * (1 - offsettest::kPi / 4);
            if (r >= 0.5) {
                EXPECT_NEAR(offsettest::signedArea(run(contourOpenByOffset, in, r, 0)),
                            ccw ? expected : -expected, 1e-3);
            }
            const std::vector<ContourElement> out = run(contourRoundCorners, in, r, 0);
            if (r < 0.01) {
                ASSERT_EQ(out.size(), in.size());
                for (size_t i = 0; i < in.size(); ++i)
                    for (int k = 0; k < 4; ++k) EXPECT_EQ(out[i].g[k], in[i].g[k]);
                continue;
            }
            EXPECT_EQ(arcsOf(out, r), 4) << r << ccw;
            EXPECT_NEAR(offsettest::signedArea(out), ccw ? expected : -expected, 1e-3) << r << ccw;
        }
}

// A strip 3 wide has no inside left at 2: the opening is tried again at half the radius, which
// rounds its corners by 1.
TEST(RingRound, OpeningRetriedAtHalfTheRadius) {
    Round round;
    const std::vector<ContourElement> strip = box(0, 0, 20, 3);
    std::vector<ContourElement> out(kClistMaxElements);
    ASSERT_EQ(contourOpenByOffset(strip.data(), 4, 2, out.data(), 0), kRoundOpenNone);
    const std::vector<ContourElement> rounded = run(contourRoundCorners, strip, 2, 0);
    EXPECT_EQ(arcsOf(rounded, 1), 4);
    EXPECT_NEAR(offsettest::signedArea(rounded), 60 - 4 * (1 - offsettest::kPi / 4), 1e-3);
}

// A spike of width 1 and length 10 vanishes in an opening by 1, which moves its tip more than 3 r:
// the fillets are used instead and the tip stays; so too when the opening of a strip too narrow for r
// is retried at r / 2 and loses a spike then.
TEST(RingRound, OpeningThatLosesTheSpikeFallsBackToFillets) {
    Round round;
    const struct {
        std::vector<Vec2> ring;
        double r;
        Vec2 tip;
    } cases[] = {
        {{{0, 0}, {20, 0}, {20, 20}, {11, 20}, {11, 30}, {10, 30}, {10, 20}, {0, 20}}, 1, {10.5, 30}},
        {{{0, 0}, {20, 0}, {20, 3}, {11, 3}, {11, 13}, {10, 13}, {10, 3}, {0, 3}}, 2, {10.5, 13}},
        // Tips moved 3.5 r by the opening: still more than 3 r.
        {{{0, 0}, {20, 0}, {20, 20}, {11, 20}, {11, 23.5}, {10, 23.5}, {10, 20}, {0, 20}}, 1, {10.5, 23.5}},
        {{{0, 0}, {20, 0}, {20, 3}, {11, 3}, {11, 10}, {10, 10}, {10, 3}, {0, 3}}, 2, {10.5, 10}}};
    for (const auto& c : cases) {
        const std::vector<ContourElement> spike = polygon(c.ring);
        const std::vector<ContourElement> rounded = run(contourRoundCorners, spike, c.r, 0);
        ASSERT_GT(rounded.size(), spike.size());
        EXPECT_LT(offsettest::distanceTo(c.tip, rounded), 0.01) << c.r;
        for (const ContourElement& e : spike)
            EXPECT_LT(offsettest::distanceTo(offsettest::startPoint(e), rounded), c.r) << c.r;
    }
}

// The opening arcs put into an unchanged ring at each convex corner, d^2 (1 - pi/4) of area lost at each;
// the snap distance only ever goes down. A dumbbell whose short neck closes in the opening keeps its
// neck: the arcs of one lobe are never spliced across vertices lying on the other lobe, while a lobe's own
// corners (0.41 d from its arcs, within the snap distance d / 2 when d is small) hold none back. A square
// whose first element is a chamfer shorter than d loses it to the arc of its corner, which spans the ring's
// start (its corner at (20, 0), rounded by 5 already, takes no arc that could splice over what follows the
// start).
TEST(RingRound, OpeningArcsInsertedAndSnapLowered) {
    Round round;
    EXPECT_DOUBLE_EQ(contourRoundSnapDistance(), 0.1);
    const auto dumbbell = [](double h) {  // lobes 10 x 10 joined by a neck 0.5 long and 2 h wide
        return polygon({{0, 0},
                        {10, 0},
                        {10, 5 - h},
                        {10.5, 5 - h},
                        {10.5, 0},
                        {20.5, 0},
                        {20.5, 10},
                        {10.5, 10},
                        {10.5, 5 + h},
                        {10, 5 + h},
                        {10, 10},
                        {0, 10}});
    };
    std::vector<ContourElement> chamfered =
        polygon({{0, 0.3}, {0.3, 0}, {15, 0}, {20, 5}, {20, 20}, {0, 20}});
    chamfered[2] = arcElem(15, 5, 5, -offsettest::kPi / 2, 0, 1);
    const struct {
        std::vector<ContourElement> ring;
        double d, area;
        int arcs;
    } cases[] = {{box(0, 0, 20, 20), 2, 400, 4},   {box(0, 0, 20, 20), 0.1, 400, 4},
                 {box(0, 0, 20, 20), 0.5, 400, 4}, {dumbbell(0.5), 2, 200.5, 8},
                 {dumbbell(0.05), 0.1, 200.05, 8}, {chamfered, 2, 400 - 25 * (1 - offsettest::kPi / 4), 3}};
    for (const auto& c : cases) {
        const std::vector<ContourElement> out = run(contourInsertOpeningArcs, c.ring, c.d, 0);
        EXPECT_EQ(arcsOf(out, c.d), c.arcs) << c.d;
        const double lost = c.arcs * c.d * c.d * (1 - offsettest::kPi / 4);
        EXPECT_NEAR(offsettest::signedArea(out), c.area - lost, 1e-3) << c.d;
    }
    EXPECT_DOUBLE_EQ(contourRoundSnapDistance(), 0.05);
}

// A fillet is wanted where a corner turning with the contour is so sharp that its fillet radius falls
// below r: in a thin clockwise triangle that is its first corner alone, met from the last element.
TEST(RingRound, SharpCornerNeedsAFilletAlsoAtTheStart) {
    Round round;
    const std::vector<ContourElement> cw = polygon({{0, 0}, {10, 2}, {10, -2}}),
                                      second = polygon({{10, -2}, {0, 0}, {10, 2}});
    // Tool radius 5, step width 6: the corner of about 22.6 degrees takes a fillet of about 1.23.
    for (const auto& c : {cw, second}) {
        EXPECT_EQ(cornerNeedsFillet(c.data(), 3, 5, 2, 6), 1);
        EXPECT_EQ(cornerNeedsFillet(c.data(), 3, 5, 1, 6), 0);
    }
    // The tip of a narrow notch into a counter-clockwise square turns against it: no fillet there.
    const std::vector<ContourElement> notch =
        polygon({{0, 0}, {4.5, 0}, {5, 6}, {5.5, 0}, {10, 0}, {10, 10}, {0, 10}});
    EXPECT_EQ(cornerNeedsFillet(notch.data(), 7, 5, 2, 6), 0);
    std::vector<ContourElement> out(16);
    EXPECT_EQ(contourFilletCorners(notch.data(), 7, 1, out.data()), 13);  // an arc in each of the other six
}

// A fillet at a sharp corner takes the radius its angle allows (the closed form above) where that is below
// r, and none where it falls below 0.01; the wider corners take r. Clockwise isosceles triangles, tool
// radius 5, step width 4.
TEST(RingRound, SharpCornerFilletTakesTheRadiusItsAngleAllows) {
    Round round;
    const double R = 5, w = 4, r = 2;
    for (const double degrees : {20.0, 25.0, 30.0, 45.0, 55.0}) {
        const double a = degrees * offsettest::kPi / 180, f = std::sin(a / 2), h = 20 * std::tan(a / 2);
        double rho = (w - R + R * f) / (1 - f);
        if (a < 0.5) rho /= 2;
        std::vector<double> want = {r, r}, got;
        if (rho >= 0.01) want.push_back(std::min(r, rho));
        const std::vector<ContourElement> tri = polygon({{0, 0}, {20, h}, {20, -h}});
        std::vector<ContourElement> out(8);
        const int32_t n = contourFilletCorners(tri.data(), 3, r, out.data());
        for (int32_t i = 0; i < n; ++i)
            if (out[i].type == kElemArc) got.push_back(out[i].g[kAr]);
        std::sort(want.begin(), want.end());
        std::sort(got.begin(), got.end());
        ASSERT_EQ(got.size(), want.size()) << degrees;
        for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-9) << degrees;
    }
}

// Opening a square from empty working buffers with each of its first allocations failing in turn (the
// buffers, the offsets then answered as recorded): -1, or a std::bad_alloc for the cycle runner, or the
// whole answer; never a write through a missing buffer.
TEST(RingRound, OpeningShortOfMemoryFailsCleanly) {
    Round round;
    using Fn = int32_t (*)(const ContourElement*, int32_t, double, ContourElement*, int);
    const std::vector<ContourElement> square = box(0, 0, 20, 20);
    for (const Fn f : {Fn{contourInsertOpeningArcs}, Fn{contourRoundCorners}}) {
        const size_t want = run(f, square, 2, 0).size();
        long n = 1, failed = 0;
        for (; n <= 6; ++n) {
            ringRoundResetState();
            std::vector<ContourElement> out(64);
            allocfail::arm(n);
            int32_t got = -1;
            try {
                got = f(square.data(), 4, 2, out.data(), 0);
            } catch (const std::bad_alloc&) {
            }
            const bool fired = allocfail::fired();
            allocfail::disarm();
            if (!fired) break;
            failed += got == -1;
            EXPECT_TRUE(got == -1 || got == static_cast<int32_t>(want)) << n << " " << got;
        }
        EXPECT_GT(failed, 0);
    }
}

// An input over the element cap fails every offset hard: the opening reports it as -1 (no memory for the
// opening by offset), and no opening arcs are put in; nor are fillets.
TEST(RingRound, OpeningOfAnInputOverTheCapFails) {
    Round round;
    // A square whose bottom side runs in steps of a thousandth.
    const int n = kClistMaxElements + 1;
    std::vector<Vec2> p;
    for (int i = 0; i < n - 2; ++i) p.push_back({0.001 * i, 0});
    p.push_back({0.001 * (n - 2), 50});
    p.push_back({0, 50});
    const std::vector<ContourElement> big = polygon(p);
    std::vector<ContourElement> out(n + 8);
    EXPECT_EQ(contourOpenByOffset(big.data(), n, 1, out.data(), 0), kRoundOpenNoMemory);
    EXPECT_EQ(contourInsertOpeningArcs(big.data(), n, 1, out.data(), 0), -1);
    EXPECT_EQ(contourFilletCorners(big.data(), n, 1, out.data()), -1);
    // One step fewer is within the cap, but its corners' fillets are not.
    p.erase(p.begin() + 1);
    EXPECT_EQ(contourFilletCorners(polygon(p).data(), n - 1, 1, out.data()), -1);
    // A circle of two arcs padded with points to exactly the cap is within it and has no corner to round:
    // it comes back whole.
    std::vector<ContourElement> ring(kClistMaxElements, lineElem(10, 0, 10, 0));
    ring[0] = arcElem(0, 0, 10, 0, offsettest::kPi, 1);
    ring[1] = arcElem(0, 0, 10, offsettest::kPi, 2 * offsettest::kPi, 1);
    EXPECT_EQ(contourFilletCorners(ring.data(), kClistMaxElements, 1, out.data()), kClistMaxElements);
}

// Seeded fillets between random line pairs: the arc touches both trimmed
// lines tangentially at its radius, and the lines meet its ends.
TEST(RingRound, SeededFilletsAreTangent) {
    rngSeed(46);
    auto uniform = [](double lo, double hi) { return lo + (hi - lo) * rngUniform(); };
    for (int t = 0; t < 200; ++t) {
        const double turn = uniform(0.3, 2.8), len = uniform(2, 20), rho = uniform(0.05, 1.5);
        const int side = t % 2 ? 1 : -1;
        ContourElement a = lineElem(-len, 0, 0, 0);
        ContourElement b = lineElem(0, 0, len * std::cos(side * turn), len * std::sin(side * turn));
        ContourElement arc{};
        const int res = elementFillet(&a, &b, &arc, rho, side);
        ASSERT_GE(res, 0) << t;
        const double used = arc.g[kAr];
        EXPECT_LE(used, rho + 1e-12);
        const Vec2 c{arc.g[kAcx], arc.g[kAcy]};
        EXPECT_NEAR(offsettest::distanceTo(c, a), used, 1e-6);
        EXPECT_NEAR(offsettest::distanceTo(c, b), used, 1e-6);
        const Vec2 ae = offsettest::endPoint(a), bs = offsettest::startPoint(b);
        EXPECT_NEAR(ae.x, arc.g[kAsx], 1e-9);
        EXPECT_NEAR(bs.y, arc.g[kAey], 1e-9);
        EXPECT_EQ(arc.direction, side);
    }
}

// Offsets of single elements in closed form: a line moved along its left (+1) or right normal, an arc's
// radius shrunk or grown by the distance as the side faces its centre; a radius under 1e-4 fails.
TEST(RingRound, ElementOffsetsInClosedForm) {
    Round round;
    const struct {
        ContourElement e;
        double d;
        int side, result;
        Vec2 s, t;  // the offset's ends
        double r;   // its radius (arcs)
    } cases[] = {
        {lineElem(0, 0, 10, 0), 2, 1, 1, {0, 2}, {10, 2}, 0},
        {lineElem(0, 0, 10, 0), 2, -1, 1, {0, -2}, {10, -2}, 0},
        {lineElem(0, 0, 0, 4), 1, 1, 1, {-1, 0}, {-1, 4}, 0},
        {arcElem(0, 0, 5, 0, offsettest::kPi / 2, 1), 2, 1, 1, {3, 0}, {0, 3}, 3},
        {arcElem(0, 0, 5, 0, offsettest::kPi / 2, 1), 2, -1, 1, {7, 0}, {0, 7}, 7},
        {arcElem(0, 0, 5, 0, offsettest::kPi / 2, -1), 2, 1, 1, {7, 0}, {0, 7}, 7},
        {arcElem(0, 0, 2, 0, offsettest::kPi / 2, 1), 1.9998, 1, 1, {2e-4, 0}, {0, 2e-4}, 2e-4},
        {arcElem(0, 0, 2, 0, offsettest::kPi / 2, 1), 1.99995, 1, -1, {}, {}, 0},
        {arcElem(0, 0, 2, 0, offsettest::kPi / 2, 1), 2, 1, -1, {}, {}, 0},
    };
    for (const auto& c : cases) {
        ContourElement out{};
        ASSERT_EQ(elementOffset(&c.e, &out, c.d, c.side), c.result) << c.d << " " << c.side;
        if (c.result < 0) continue;
        const Vec2 s = offsettest::startPoint(out), t = offsettest::endPoint(out);
        EXPECT_NEAR(s.x, c.s.x, 1e-9);
        EXPECT_NEAR(s.y, c.s.y, 1e-9);
        EXPECT_NEAR(t.x, c.t.x, 1e-9);
        EXPECT_NEAR(t.y, c.t.y, 1e-9);
        EXPECT_NEAR(out.g[kAr], c.r, 1e-9);
    }
    // Of two crossings the one nearer the first element's end; none for elements apart.
    const ContourElement arc = arcElem(0, 0, 5, -0.5, offsettest::kPi + 0.5, 1);
    const struct {
        ContourElement line;
        int result;
        double x;
    } crossings[] = {
        {lineElem(-10, 0, 10, 0), 1, 5}, {lineElem(10, 0, -10, 0), 1, -5}, {lineElem(-10, 9, 10, 9), 0, 0}};
    for (const auto& c : crossings) {
        Vec2 p{99, 99};
        ASSERT_EQ(elementIntersect(&c.line, &arc, &p), c.result) << c.line.g[kLx1];
        EXPECT_NEAR(p.x, c.result ? c.x : 99, 1e-9);
    }
    // The corners of a square lie sqrt 2 from the square one inside it.
    const std::vector<ContourElement> outer = box(0, 0, 10, 10), inner = box(1, 1, 9, 9);
    EXPECT_EQ(contourStaysNear(outer.data(), 4, inner.data(), 4, 1.5), 4);
    EXPECT_EQ(contourStaysNear(outer.data(), 4, inner.data(), 4, 1.4), -1);
    std::vector<ContourElement> farFirst = outer;
    farFirst[0].g[kLx1] = -5;  // only the first start lies far off
    EXPECT_EQ(contourStaysNear(farFirst.data(), 4, inner.data(), 4, 1.5), -1);
}

// Fillets of a right-angled corner between short lines: halved until one fits, at most five times, and
// none below 0.01. In a square every corner gets one of radius r, tagged by the first material edge (tag 0
// is material).
TEST(RingRound, FilletsHalveAndTakeTheFirstEdgesTag) {
    Round round;
    const struct {
        double len, radius;
        int result;
        double used;
    } cases[] = {{1.5, 1, 1, 1},   {1.5, 2, 0, 1},       {0.05, 1, 0, 0.03125},
                 {0.05, 2, -1, 0}, {0.01, 0.015, -1, 0}, {0.02, 0.015, 1, 0.015}};
    for (const auto& c : cases) {
        ContourElement a = lineElem(-c.len, 0, 0, 0), b = lineElem(0, 0, 0, c.len), arc{};
        ASSERT_EQ(elementFillet(&a, &b, &arc, c.radius, 1), c.result) << c.len << " " << c.radius;
        if (c.result < 0) continue;
        EXPECT_NEAR(arc.g[kAr], c.used, 1e-12);
        EXPECT_NEAR(arc.g[kAcx], -c.used, 1e-9);
        EXPECT_NEAR(arc.g[kAcy], c.used, 1e-9);
        EXPECT_NEAR(offsettest::endPoint(a).x, -c.used, 1e-9);
        EXPECT_NEAR(offsettest::startPoint(b).y, c.used, 1e-9);
    }
    std::vector<ContourElement> sq = box(0, 0, 10, 10);
    const int32_t tags[4] = {-1, 0, 3, 3};
    for (int i = 0; i < 4; ++i) sq[i].sourceTag = tags[i];
    std::vector<ContourElement> out(16);
    ASSERT_EQ(contourFilletCorners(sq.data(), 4, 1, out.data()), 8);
    const Vec2 centres[4] = {{9, 1}, {9, 9}, {1, 9}, {1, 1}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(out[2 * i].sourceTag, tags[i]);
        ASSERT_EQ(out[2 * i + 1].type, kElemArc) << i;
        EXPECT_EQ(out[2 * i + 1].sourceTag, 0);
        EXPECT_NEAR(out[2 * i + 1].g[kAcx], centres[i].x, 1e-9) << i;
        EXPECT_NEAR(out[2 * i + 1].g[kAcy], centres[i].y, 1e-9) << i;
    }
    // Empty or absent input: nothing to round, or a failure where a count is owed; a whole circle has no
    // corner and is copied as it is.
    EXPECT_EQ(contourFilletCorners(nullptr, 4, 1, out.data()), 0);
    EXPECT_EQ(contourFilletCorners(sq.data(), 0, 1, out.data()), 0);
    const ContourElement whole = arcElem(3, 4, 2, 0, 2 * offsettest::kPi, 1);
    EXPECT_EQ(contourFilletCorners(&whole, 1, 1, out.data()), 1);
    EXPECT_TRUE(out[0].type == kElemArc && out[0].g[kAr] == 2 && out[0].g[kAcy] == 4);
    EXPECT_EQ(cornerNeedsFillet(nullptr, 4, 5, 1, 4), 0);
    using Fn = int32_t (*)(const ContourElement*, int32_t, double, ContourElement*, int);
    for (const Fn f : {Fn{contourRoundCorners}, Fn{contourInsertOpeningArcs}}) {
        EXPECT_EQ(f(nullptr, 4, 1, out.data(), 0), -1);
        EXPECT_EQ(f(sq.data(), 0, 1, out.data(), 0), -1);
        EXPECT_EQ(f(sq.data(), 4, 1, nullptr, 0), -1);
        // Below 0.01 the ring is copied as it is.
        EXPECT_EQ(f(sq.data(), 4, 0.009, out.data(), 0), 4);
        EXPECT_EQ(out[1].sourceTag, 0);
        EXPECT_EQ(out[3].g[kLy1], 10);
    }
}
