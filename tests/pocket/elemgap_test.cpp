// The bound that lets the room checks pass over far walls: never above the
// gap it stands for, nor above the distance of the move's start, on seeded
// lines and arcs laid near each other (parallel, crossing, touching, arcs
// with their ends a little off their circles, small and whole-turn arcs),
// and deciding most pairs that lie well apart.
#include "pocket/elemgap.h"

#include <gtest/gtest.h>

#include <cmath>

#include "kernel/base/rng.h"
#include "pocket/elemdist.h"
#include "pocket/pocket_util.h"

namespace {

constexpr double kPi = 3.141592653589793;

struct Draw {
    Rng rng;
    double uniform() { return (rngStep(&rng) * 32768.0 + rngStep(&rng)) / 1073741824.0; }
    double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    bool chance(double p) { return uniform() < p; }
};

// A line or arc about the point, of about the size.
ContourElement element(Draw& d, Vec2 at, double size) {
    if (d.chance(0.5)) {
        const double a = d.range(0, 2 * kPi), l = d.chance(0.1) ? 1e-5 : d.range(0.01, size);
        return lineElem(at.x, at.y, at.x + l * std::cos(a), at.y + l * std::sin(a));
    }
    const double r = d.chance(0.1) ? d.range(0.0005, 0.01) : d.range(0.1, size);
    const double a0 = d.range(0, 2 * kPi), sweep = d.chance(0.1) ? 2 * kPi : d.range(1e-3, 2 * kPi);
    const int dir = d.chance(0.5) ? 1 : -1;
    ContourElement e = arcElem(at.x, at.y, r, a0, a0 + dir * sweep, dir);
    if (d.chance(0.3)) {  // the ends a little off the circle, as the kernel's arcs may be
        e.g[kAsx] += d.range(-2e-3, 2e-3);
        e.g[kAey] += d.range(-1e-4, 1e-4);
    }
    return e;
}

// The second element: near the first, a parallel copy moved sideways, or through it.
ContourElement partner(Draw& d, const ContourElement& m) {
    const Vec2 s{m.g[kLx1], m.g[kLy1]};
    const double away = d.chance(0.3) ? d.range(0, 0.05) : d.range(0, 12), a = d.range(0, 2 * kPi);
    if (m.type == kElemLine && d.chance(0.3)) {
        ContourElement e = m;
        for (int k = 0; k < 4; k += 2) e.g[k] += away * std::cos(a), e.g[k + 1] += away * std::sin(a);
        return e;
    }
    return element(d, {s.x + away * std::cos(a), s.y + away * std::sin(a)}, d.range(0.05, 30));
}

}  // namespace

TEST(ElemGap, BoundNeverAboveTheMeasure) {
    PocketErrors errors;
    Draw d{{20261208}};
    int far = 0, passed = 0;
    for (int run = 0; run < 40000; ++run) {
        const Vec2 at{d.range(-300, 300), d.range(-300, 300)};
        const ContourElement m = element(d, at, d.range(0.05, 40)), e = partner(d, m);
        ElemGapShape sm, se;
        elemGapShapeOf(&m, &sm);
        elemGapShapeOf(&e, &se);
        const double gap = elemGap(&m, &e);
        Vec2 start{m.g[kLx1], m.g[kLy1]}, near;
        if (m.type == kElemArc) start = {m.g[kAsx], m.g[kAsy]};
        const double point = elemDistance(&start, &e, &near);
        // Reaches just below and just above the gap, and well below it.
        const double reaches[] = {gap - d.range(0, 1e-6), gap + d.range(0, 1e-6), gap * d.uniform()};
        for (const double reach : reaches) {
            if (!elemGapBeyond(&sm, &se, reach)) continue;
            EXPECT_GE(gap, reach) << run;
            EXPECT_GE(point, reach) << run;
        }
        if (gap > 0.7 && gap * 0.9 > 0.7) {
            ++far;
            const int beyond = elemGapBeyond(&sm, &se, gap * 0.9);
            EXPECT_TRUE(beyond == 0 || beyond == 1) << run;
            passed += beyond;
        }
    }
    EXPECT_GT(far, 10000);
    EXPECT_GT(passed, far * 0.8);
}

// A pair that crosses within the kernel's tolerance is never passed over, whatever the reach; nor is a
// parallel line 0.03 off, within 0.002 of the size 11 above that tolerance's floor of 0.02.
TEST(ElemGap, NearCrossingsAreMeasured) {
    PocketErrors errors;
    const ContourElement line = lineElem(0, 0, 10, 0);
    const std::pair<ContourElement, double> cases[] = {
        {lineElem(5, -3, 5, 3), 0},
        {lineElem(10.00005, -1, 10.00005, 1), 0},
        {lineElem(0, 1e-5, 10, 1e-5), 0},
        {lineElem(0, 0.03, 10, 0.03), 0.03},
        {arcElem(5, 2, 2, 0, 2 * kPi, 1), 0},
        {arcElem(5, 3, 3.00001, -kPi, 0, 1), 0}};  // their gaps: 0 within 1e-4
    ElemGapShape sl, sc;
    elemGapShapeOf(&line, &sl);
    for (const auto& [c, gap] : cases) {
        EXPECT_NEAR(elemGap(&line, &c), gap, 1e-9);
        elemGapShapeOf(&c, &sc);
        EXPECT_EQ(elemGapBeyond(&sl, &sc, -1), 0);
        EXPECT_EQ(elemGapBeyond(&sc, &sl, 1e-9), 0);
    }
    // Arcs of about one circle (centres and radii within a thousandth) are left to the measures however far
    // apart their sweeps lie; a little further off that circle, they are decided.
    const struct {
        double d, dr;
        int beyond;
    } near[] = {{9e-4, 0, 0}, {1.1e-3, 0, 1}, {5e-4, 9e-4, 0}, {5e-4, 1.1e-3, 1}};
    for (const auto& c : near) {
        const ContourElement a = arcElem(0, 0, 5, 0, kPi / 2, 1),
                             b = arcElem(c.d, 0, 5 + c.dr, kPi, 1.5 * kPi, 1);
        ElemGapShape sa, sb;
        elemGapShapeOf(&a, &sa);
        elemGapShapeOf(&b, &sb);
        EXPECT_EQ(elemGapBeyond(&sa, &sb, 1), c.beyond) << c.d << " " << c.dr;
    }
    // An arc whose ends lie a hundredth outside its circle, seen from across its centre: the measure may
    // go by the circle's far side (d + r), nearer than the ends, and the bound stays below it either way.
    ContourElement off = arcElem(0, 0, 1.01, 0, 0.035, 1);
    off.g[kAr] = 1;
    const ContourElement across = lineElem(-5, 0, -6, 0);
    for (const bool swap : {false, true}) {
        const ContourElement &m = swap ? off : across, &e = swap ? across : off;
        ElemGapShape sm, se;
        elemGapShapeOf(&m, &sm);
        elemGapShapeOf(&e, &se);
        const double gap = elemGap(&m, &e);
        EXPECT_EQ(elemGapBeyond(&sm, &se, gap + 1e-3), 0) << gap << " " << swap;
        EXPECT_EQ(elemGapBeyond(&sm, &se, 0.9 * gap), 1) << gap << " " << swap;
    }
    // The sure distance is the most a pair of the size needs: a parallel line just inside it is measured,
    // one just outside passed over, below the floor's band and above it. The lines' rounding margin is
    // 1e-9 of their size (11): the offsets stay well within it.
    for (const double reach : {0.0, 0.05})
        for (const double off : {-2e-9, 2e-9}) {
            const double at = elemGapSure(reach, sl.size) + off;
            const ContourElement p = lineElem(0, at, 10, at);
            elemGapShapeOf(&p, &sc);
            EXPECT_EQ(elemGapBeyond(&sl, &sc, reach), off > 0 ? 1 : 0) << reach << " " << off;
        }
}

// Pairs of a known gap in closed form: passed over at nine tenths of it, never at it or above it;
// the measure itself agrees, whichever element comes first.
TEST(ElemGap, ClosedFormPairsAreDecided) {
    PocketErrors errors;
    const struct {
        ContourElement a, b;
        double gap;
    } cases[] = {
        {lineElem(0, 0, 10, 0), lineElem(0, 3, 10, 3), 3},
        {lineElem(0, 0, 10, 0), lineElem(13, 4, 20, 4), 5},
        {arcElem(0, 0, 5, 0, kPi, 1), arcElem(0, 0, 8, 0, kPi, 1), 3},
        {arcElem(0, 0, 5, 0, 2 * kPi, 1), arcElem(0, 0, 8, kPi, 0, -1), 3},
        {lineElem(-5, 10, 5, 10), arcElem(0, 0, 4, 0, kPi, 1), 6},
        {lineElem(-10, -10, -10, 10), arcElem(0, 0, 5, 0, kPi / 2, 1),
         10},  // the circle's near side is off the arc
        {arcElem(0, 0, 3, 0, 2 * kPi, 1), arcElem(20, 0, 3, 0, 2 * kPi, 1), 14},
        {arcElem(0, 0, 3, -kPi / 2, kPi / 2, 1), arcElem(10, 0, 3, kPi / 2, 1.5 * kPi, 1), 4},
        {arcElem(0, 0, 5, -kPi / 2, kPi / 2, 1), arcElem(1, 0, 2, kPi / 2, 1.5 * kPi, 1), 5 - std::sqrt(5.0)},
        {arcElem(0, 20, 3, -kPi / 4, kPi / 4, 1), lineElem(10, 10, 10, 30), 7},
    };
    // The size: the largest magnitude of the ends, and for an arc of its centre's coordinates plus the
    // radius.
    const auto sizeOf = [](const ContourElement& e) {
        const int arc = e.type == kElemArc;
        double s = arc ? std::max(std::fabs(e.g[kAcx]), std::fabs(e.g[kAcy])) + e.g[kAr] : 0;
        for (int k = arc ? kAsx : kLx1; k <= (arc ? kAey : kLy2); ++k) s = std::max(s, std::fabs(e.g[k]));
        return s;
    };
    for (const auto& c : cases) {
        for (int swap = 0; swap < 2; ++swap) {
            const ContourElement &m = swap ? c.b : c.a, &e = swap ? c.a : c.b;
            ElemGapShape sm, se;
            elemGapShapeOf(&m, &sm);
            elemGapShapeOf(&e, &se);
            EXPECT_NEAR(elemGap(&m, &e), c.gap, 1e-9) << c.gap;
            EXPECT_NEAR(sm.size, sizeOf(m), 1e-12) << c.gap;
            EXPECT_EQ(elemGapBeyond(&sm, &se, 0.9 * c.gap), 1) << c.gap << " " << swap;
            EXPECT_EQ(elemGapBeyond(&sm, &se, 1.1 * c.gap), 0) << c.gap << " " << swap;
            EXPECT_EQ(elemGapBeyond(&sm, &se, c.gap), 0) << c.gap;  // a measure rounding low is not passed
        }
    }
}

// An arc's box holds its points, with the measures' 2e-4 past the ends, and no more: it reaches the
// circle's extreme on a side only where the sweep passes that side. Checked against points sampled
// along seeded arcs of either sense.
TEST(ElemGap, ArcBoxReachesTheCircleOnlyWhereTheSweepPasses) {
    PocketErrors errors;
    Draw d{{20261210}};
    for (int run = 0; run < 150; ++run) {
        const double r = d.range(0.5, 10), a0 = d.range(0, 2 * kPi), sweep = d.range(0.01, 2 * kPi - 0.01);
        const int dir = d.chance(0.5) ? 1 : -1;
        const ContourElement arc = arcElem(d.range(-50, 50), d.range(-50, 50), r, a0, a0 + dir * sweep, dir);
        ElemGapShape s;
        elemGapShapeOf(&arc, &s);
        double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
        for (int k = 0; k <= 1500; ++k) {
            const double a = a0 + dir * sweep * k / 1500;
            const double p[2] = {arc.g[kAcx] + r * std::cos(a), arc.g[kAcy] + r * std::sin(a)};
            for (int i = 0; i < 2; ++i) lo[i] = std::min(lo[i], p[i]), hi[i] = std::max(hi[i], p[i]);
        }
        // The samples fall short of the true extent by at most r (1 - cos(pi / 1500)), below 2.2e-5.
        const double box[4] = {s.lo.x, s.lo.y, s.hi.x, s.hi.y}, want[4] = {lo[0], lo[1], hi[0], hi[1]};
        for (int i = 0; i < 4; ++i) {
            const double outward = i < 2 ? want[i] - box[i] : box[i] - want[i];
            EXPECT_GE(outward, -1e-9) << run << " " << i;
            EXPECT_LE(outward, 2e-4 + 2.2e-5) << run << " " << i;
        }
    }
}
