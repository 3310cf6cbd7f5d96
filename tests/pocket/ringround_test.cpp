// Corner rounding: fillet radii in closed form, fillets and openings against
// the area a rounded square must have, the rejected opening of a narrow spike.
#include "pocket/ringround.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "geometry/rng.h"
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
    for (double r : {0.005, 0.5, 2.0, 4.0})
        for (bool ccw : {true, false}) {
            Round round;
            const std::vector<ContourElement> in = box(0, 0, 20, 20, ccw);
            const std::vector<ContourElement> out = run(contourRoundCorners, in, r, 0);
            if (r < 0.01) {
                ASSERT_EQ(out.size(), in.size());
                for (size_t i = 0; i < in.size(); ++i)
                    for (int k = 0; k < 4; ++k) EXPECT_EQ(out[i].g[k], in[i].g[k]);
                continue;
            }
            EXPECT_EQ(arcsOf(out, r), 4) << r << ccw;
            const double expected = 400 - 4 * r * r * (1 - offsettest::kPi / 4);
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

// A spike of width 1 and length 10 vanishes in an opening by 1, which moves its
// tip far more than 3 r: the fillets are used instead and the tip stays.
TEST(RingRound, OpeningThatLosesTheSpikeFallsBackToFillets) {
    Round round;
    const std::vector<ContourElement> spike =
        polygon({{0, 0}, {20, 0}, {20, 20}, {11, 20}, {11, 30}, {10, 30}, {10, 20}, {0, 20}});
    std::vector<ContourElement> out(kClistMaxElements);
    ASSERT_EQ(contourOpenByOffset(spike.data(), 8, 1, out.data(), 0) > 0, true);
    const std::vector<ContourElement> rounded = run(contourRoundCorners, spike, 1, 0);
    ASSERT_GT(rounded.size(), spike.size());
    EXPECT_LT(offsettest::distanceTo({10.5, 30}, rounded), 0.01);
    for (const ContourElement& e : spike)
        EXPECT_LT(offsettest::distanceTo(offsettest::startPoint(e), rounded), 1.0);
}

// The opening arcs put into an unchanged square: four arcs of the distance,
// the area of the opened square; the snap distance only ever goes down.
TEST(RingRound, OpeningArcsInsertedAndSnapLowered) {
    Round round;
    EXPECT_DOUBLE_EQ(contourRoundSnapDistance(), 0.1);
    for (double d : {2.0, 0.1}) {
        const std::vector<ContourElement> out = run(contourInsertOpeningArcs, box(0, 0, 20, 20), d, 0);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(arcsOf(out, d), 4) << d;
        EXPECT_NEAR(offsettest::signedArea(out), 400 - 4 * d * d * (1 - offsettest::kPi / 4), 1e-3) << d;
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
    // A square whose bottom side runs in pieces of a thousandth.
    const int n = kClistMaxElements + 1;
    std::vector<Vec2> p;
    for (int i = 0; i < n - 2; ++i) p.push_back({0.001 * i, 0});
    p.push_back({0.001 * (n - 2), 50});
    p.push_back({0, 50});
    const std::vector<ContourElement> big = polygon(p);
    std::vector<ContourElement> out(n);
    EXPECT_EQ(contourOpenByOffset(big.data(), n, 1, out.data(), 0), kRoundOpenNoMemory);
    EXPECT_EQ(contourInsertOpeningArcs(big.data(), n, 1, out.data(), 0), -1);
    EXPECT_EQ(contourFilletCorners(big.data(), n, 1, out.data()), -1);
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
