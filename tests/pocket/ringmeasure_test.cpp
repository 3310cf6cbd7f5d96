// The shortcuts of the ring distances and their primitives against the plain computations they replace:
// the connection search with a ring's boxes, the arc span test's rough angle, the bounded contour
// distance, the circle fit's pruned spread and the shared input index of the ring checks.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "kernel/base/rng.h"
#include "plainfit_util.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/linearcfit.h"
#include "pocket/ringassembly.h"
#include "pocket/ringemit.h"
#include "pocket_util.h"

namespace {

// A wavy ring of lines and arcs about the origin.
std::vector<ContourElement> wavyRing(int n, double r) {
    std::vector<ContourElement> ring;
    for (int i = 0; i < n; ++i) {
        const double a0 = 2 * M_PI * i / n, a1 = 2 * M_PI * (i + 1) / n;
        if (rngBelow(3) == 0) {
            ring.push_back(arcElem(0, 0, r, a0, a1, 1));
            continue;
        }
        const double r0 = r * (1 + 0.1 * std::sin(5 * a0)), r1 = r * (1 + 0.1 * std::sin(5 * a1));
        ring.push_back(lineElem(r0 * std::cos(a0), r0 * std::sin(a0), r1 * std::cos(a1), r1 * std::sin(a1)));
    }
    return ring;
}

}  // namespace

// With the ring's boxes the search measures only the elements near the element, and keeps the distance,
// the point on the element and the position on the ring of the sequential scan (elements concentric
// with the ring's arcs every other time, so that distances nearly tie).
TEST(RingMeasure, SearchWithBoxesKeepsTheSequentialChoice) {
    rngResetState();
    PocketErrors state;
    for (int t = 0; t < 300; ++t) {
        const double r = 2 + 60 * rngUniform();
        const std::vector<ContourElement> ring = wavyRing(3 + static_cast<int>(rngBelow(80)), r);
        const int32_t n = static_cast<int32_t>(ring.size());
        RingMeasure measure;
        ringMeasureBuild(ring.data(), n, &measure);
        const double a = 2 * M_PI * rngUniform(), rr = r * 1.6 * rngUniform();
        const ContourElement e =
            t % 2 ? arcElem(0, 0, r * (0.5 + 0.45 * rngUniform()), a, a + 3 * rngUniform(), 1)
                  : lineElem(rr * std::cos(a), rr * std::sin(a), rr * std::cos(a + 1),
                             rr * std::sin(a + 1) + 5 * rngUniform());
        Vec2 onE, wantE;
        RingPosition onR, wantR;
        const double d = elemRingDistance(&e, ring.data(), n, &onE, &onR, &measure);
        ASSERT_EQ(d, elemRingDistance(&e, ring.data(), n, &wantE, &wantR)) << t;
        EXPECT_TRUE(onR.element == wantR.element && onR.x == wantR.x && onR.y == wantR.y) << t;
        EXPECT_TRUE(onE.x == wantE.x && onE.y == wantE.y) << t;
    }
}

// The arc span test decides as the atan2 formula does, also for points a hair off its thresholds.
TEST(RingMeasure, ArcSpanTestAgreesWithTheAngleFormula) {
    rngResetState();
    for (int t = 0; t < 20000; ++t) {
        const double r = std::pow(10.0, -2 + 5 * rngUniform()), a0 = 2 * M_PI * rngUniform() - M_PI;
        const ContourElement arc = arcElem(1, -2, r, a0, a0 + 6 * rngUniform(), rngBelow(2) ? 1 : -1);
        const ArcSpan span = arcSpanOf(&arc);
        // Directions about the span's ends and thresholds, shifted by up to a few rough-angle errors.
        const double at[3] = {span.a0 - span.tol, span.a1 + span.tol, -span.tol};
        const double q =
            rngBelow(4) == 0 ? 2 * M_PI * rngUniform() : at[rngBelow(3)] + 1e-5 * (rngUniform() - 0.5);
        const Vec2 p{1 + r * std::cos(q), -2 + r * std::sin(q)};
        double ap = std::atan2(p.y + 2, p.x - 1);
        if (ap < -span.tol) ap += 2 * M_PI;
        if (ap < span.a0 - span.tol) ap += 2 * M_PI;
        const int want = span.valid && ap >= span.a0 - span.tol && ap <= span.a1 + span.tol;
        ASSERT_EQ(pointInArcSpan(&p, &arc, span), want) << t;
    }
}

// Whether a chain comes within a limit, and the circle fit, against the plain computations.
TEST(RingMeasure, BoundedDistanceAndPrunedFitAgreeWithThePlainOnes) {
    rngResetState();
    for (int t = 0; t < 300; ++t) {
        const std::vector<ContourElement> ring = wavyRing(3 + static_cast<int>(rngBelow(40)), 10);
        const Vec2 p{30 * rngUniform() - 15, 30 * rngUniform() - 15};
        const double d = contourDistance(&p, ring.data(), static_cast<int32_t>(ring.size()));
        const double limit = t % 3 ? d : 20 * rngUniform();  // the limit exactly at the distance too
        EXPECT_EQ(contourDistanceBelow(&p, ring.data(), static_cast<int32_t>(ring.size()), limit), d < limit)
            << t;
    }
    // An empty chain is at distance -1, below a limit above that only; a chain of one element is measured.
    const Vec2 o{0, 0};
    const ContourElement one = lineElem(3, -1, 3, 1);
    for (int32_t n : {0, 1})
        for (double limit : {-1.5, -1.0, -0.5, 0.0, 2.9, 3.1})
            EXPECT_EQ(contourDistanceBelow(&o, &one, n, limit), contourDistance(&o, &one, n) < limit)
                << limit;
    for (int t = 0; t < 40; ++t) {
        const int n = 4 + static_cast<int>(rngBelow(30));
        const double r = 1 + 100 * rngUniform(), a = rngUniform(), noise = 1e-3 * rngUniform();
        std::vector<TaggedPoint> pts(n);
        for (int i = 0; i < n; ++i) {
            const double u = a + 1.5 * i / n, rr = r + noise * (rngUniform() - 0.5);
            pts[i].x = 3 + rr * std::cos(u);
            pts[i].y = -1 + rr * std::sin(u);
        }
        Vec2 c, want;
        double radius;
        const double best = plainFit(pts, &want);
        const double got = fitCircle(pts.data(), 0, n - 1, 1.0, 1e-6, 1e9, &c, &radius);
        EXPECT_TRUE(c.x == want.x && c.y == want.y) << t;
        if (got < 1.0) {
            EXPECT_EQ(got, best) << t;
        }
    }
}

// The ring checks answer the same with an index shared over calls and with one of their own.
TEST(RingMeasure, SharedInputIndexAnswersAsOwnIndexes) {
    rngResetState();
    PocketErrors state;
    pocketKernel().tolerance = 0.001;
    for (int t = 0; t < 100; ++t) {
        const std::vector<ContourElement> in = wavyRing(8 + static_cast<int>(rngBelow(60)), 20);
        const int32_t m = static_cast<int32_t>(in.size());
        RingInputIndex* index = ringInputIndexCreate(in.data(), m);
        ASSERT_NE(index, nullptr);
        for (int k = 0; k < 5; ++k) {
            const std::vector<ContourElement> ring =
                wavyRing(4 + static_cast<int>(rngBelow(30)), 20 * rngUniform());
            const int32_t n = static_cast<int32_t>(ring.size());
            const double d = 8 * rngUniform();
            EXPECT_EQ(ringKeepsDistance(ring.data(), n, in.data(), m, d, index),
                      ringKeepsDistance(ring.data(), n, in.data(), m, d))
                << t;
            EXPECT_EQ(ringKeepsOffset(ring.data(), n, in.data(), m, d, index),
                      ringKeepsOffset(ring.data(), n, in.data(), m, d))
                << t;
        }
        ringInputIndexFree(index);
    }
}
