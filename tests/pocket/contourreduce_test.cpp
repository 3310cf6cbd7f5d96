#include "kernel/base/runreset.h"
#include "pocket/contourreduce.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "kernel/base/rng.h"
#include "pocket/linearcfit.h"
#include "pocket/offset_util.h"
#include "pocket/pocket_util.h"
#include "pocket/ringhelpers.h"
#include "pocket/scratch.h"

namespace {

using namespace offsettest;

// Lines through the points in order (an open run).
std::vector<ContourElement> run(const std::vector<Vec2>& p, int32_t tag = 3) {
    std::vector<ContourElement> out;
    for (size_t i = 0; i + 1 < p.size(); ++i)
        out.push_back(lineElem(p[i].x, p[i].y, p[i + 1].x, p[i + 1].y, tag));
    return out;
}

std::vector<Vec2> arcPoints(double cx, double cy, double r, double a0, double a1, int n) {
    std::vector<Vec2> p;
    for (int i = 0; i <= n; ++i) {
        const double a = a0 + (a1 - a0) * i / n;
        p.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    }
    return p;
}

TEST(ContourReduce, LineRunsByLength) {
    PocketErrors errors;
    struct Case {
        int lines;
        int32_t out;
    };
    const Case cases[] = {{9, 9}, {10, 1}, {25, 1}};
    for (const Case& c : cases) {
        std::vector<Vec2> p;
        for (int i = 0; i <= c.lines; ++i) p.push_back({1.5 * i, 0.5 * i});
        std::vector<ContourElement> in = run(p);
        // An arc of the lines' tag ahead of them is copied and starts no run; a line of another tag is a
        // run of its own, copied.
        in.insert(in.begin(), arcElem(-0.5, 0, 0.5, kPi, 0, -1, 3));
        in.insert(in.begin(), lineElem(-2, 0, -1, 0, 4));
        std::vector<ContourElement> out(in.size());
        const int32_t n = reduceLineRuns(in.data(), c.lines + 2, 0.01, out.data());
        ASSERT_EQ(n, c.out + 2) << c.lines;
        EXPECT_EQ(out[n - 1].g[kLx2], p.back().x);
        EXPECT_EQ(std::memcmp(&out[1], &in[1], sizeof(ContourElement)), 0);
        EXPECT_EQ(out[0].g[kLx1] + out[0].sourceTag + out[2].sourceTag, -2 + 4 + 3);
    }
}

TEST(ContourReduce, ArcsFromPoints) {
    PocketErrors errors;
    struct Case {
        double r, sweep;
        int points;
        int arcs;  // -1: no arc at all
    };
    const Case cases[] = {
        {5, kPi, 40, 1},        // a half circle
        {5, 1.5 * kPi, 60, 2},  // longer than 3.2 r: split
        {0.05, kPi, 40, -1},    // below the smallest radius: lines only
    };
    for (const Case& c : cases) {
        const std::vector<Vec2> p = arcPoints(1, 2, c.r, 0.3, 0.3 + c.sweep, c.points);
        std::vector<ContourElement> in = run(p);
        in[0].sourceTag = 5;  // the run's tag is its first line's
        std::vector<ContourElement> out(in.size());
        fitSetLastFailure(kFitTooDense);
        const int32_t n = refitLineRun(static_cast<int32_t>(in.size()), in.data(), out.data(), 0.01);
        // Met again (from its record, also a single arc), the run gives the fit and code of one afresh.
        std::vector<ContourElement> again(in.size());
        fitSetLastFailure(kFitSagitta);
        ASSERT_EQ(refitLineRun(static_cast<int32_t>(in.size()), in.data(), again.data(), 0.01), n);
        EXPECT_EQ(std::memcmp(again.data(), out.data(), std::max(n, 0) * sizeof(ContourElement)), 0);
        const int code = fitLastFailure();
        contourReduceResetState();
        fitSetLastFailure(kFitSagitta);
        refitLineRun(static_cast<int32_t>(in.size()), in.data(), again.data(), 0.01);
        EXPECT_EQ(fitLastFailure(), code) << c.r;
        int arcs = 0;
        for (int32_t i = 0; i < n; ++i) {
            if (out[i].type != kElemArc) continue;
            ++arcs;
            EXPECT_NEAR(out[i].g[kAcx], 1, 0.01);
            EXPECT_NEAR(out[i].g[kAr], c.r, 0.01);
            EXPECT_EQ(std::pair(out[i].direction, out[i].sourceTag), std::pair(1, 5));
        }
        if (c.arcs < 0) {
            EXPECT_EQ(arcs, 0) << c.r;
        } else {
            EXPECT_EQ(arcs, c.arcs) << c.r;
            EXPECT_EQ(n, c.arcs) << c.r;
        }
    }
    // A zigzag that neither merges nor bends into an arc is no fit.
    const std::vector<ContourElement> zig = run({{0, 0}, {1, 1}, {2, 0}, {3, 1}, {4, 0}});
    std::vector<ContourElement> out(4);
    EXPECT_EQ(refitLineRun(4, zig.data(), out.data(), 0.01), -1);
    // Nor is an empty run: nothing is written, so no element may be claimed.
    EXPECT_EQ(refitLineRun(0, zig.data(), out.data(), 0.01), -1);
}

// A refit of a run and a reduction of a ring (its working buffers made anew) with each of their
// allocations failing in turn: they report failure (-1; 0 or no reduction, the ring as it was), give the
// whole fit, or (their scratch vectors) throw std::bad_alloc for the cycle runner to report.
TEST(ContourReduce, ShortOfMemoryFailsCleanly) {
    PocketErrors errors;
    std::vector<Vec2> p = arcPoints(0, 0, 50, 0, 2 * kPi, 65);
    p.pop_back();
    for (const bool ring : {false, true}) {
        const std::vector<ContourElement> in =
            ring ? polygon(p) : run(arcPoints(1, 2, 5, 0.3, 0.3 + kPi, 40));
        const int32_t count = static_cast<int32_t>(in.size()), failure = ring ? 0 : -1;
        const auto call = [&](std::vector<ContourElement>* out) {
            runResetAll();
            out->assign(in.begin(), in.end());
            return ring ? contourReduceOne(out->data(), count, 0.1, 0, count)
                        : refitLineRun(count, in.data(), out->data(), 0.01);
        };
        std::vector<ContourElement> want, out;
        const int32_t fit = call(&want);
        ASSERT_EQ(fit, ring ? 4 : 1);  // the circle in quarters, the half circle whole
        long n = 1, failed = 0;
        for (;; ++n) {
            int32_t got = failure - 1;
            allocfail::arm(n);
            try {
                got = call(&out);
            } catch (const std::bad_alloc&) {
            }
            const bool fired = allocfail::fired();
            allocfail::disarm();
            if (!fired) break;
            failed += got == failure;
            const bool same = got == fit &&
                              std::memcmp(out.data(), want.data(), fit * sizeof(ContourElement)) == 0,
                       kept =
                           (got == failure || (ring && got == count)) &&
                           (!ring || std::memcmp(out.data(), in.data(), count * sizeof(ContourElement)) == 0);
            EXPECT_TRUE(same || kept || got == failure - 1) << ring << " " << n << " " << got;
        }
        EXPECT_GT(failed, 0) << ring;
    }
    contourReduceResetState();
}

TEST(ContourReduce, SixtyFiveLinesAreReducedSixtyFourOnlyWhenForced) {
    PocketErrors errors;
    struct Case {
        int n, force;
        bool reduced;
    };
    const Case cases[] = {{64, 0, false}, {64, 1, true}, {65, 0, true}};
    for (const Case& c : cases) {
        std::vector<Vec2> p = arcPoints(0, 0, 50, 0, 2 * kPi, c.n);
        p.pop_back();
        std::vector<ContourElement> in = polygon(p);
        std::vector<ContourElement> work = in;
        work.resize(2 * in.size());
        const int32_t n = contourReduceOne(work.data(), c.n, 0.1, c.force, static_cast<int32_t>(work.size()));
        EXPECT_EQ(n < c.n, c.reduced) << c.n;
        ASSERT_GT(n, 0);
        work.resize(n);
        // The reduced contour stays within the tolerance of every original vertex.
        for (const Vec2& q : p) EXPECT_LT(distanceTo(q, work), 0.1) << c.n;
        // Without room for the reduced count the reduction fails and leaves the contour as it was.
        if (!c.reduced) continue;
        std::vector<ContourElement> tight = in;
        EXPECT_EQ(contourReduceOne(tight.data(), c.n, 0.1, c.force, n - 1), 0) << c.n;
        EXPECT_EQ(std::memcmp(tight.data(), in.data(), in.size() * sizeof(ContourElement)), 0);
        EXPECT_EQ(contourReduceOne(tight.data(), c.n, 0.1, c.force, n), n) << c.n;
        // The same call again gives the same contour.
        std::vector<ContourElement> again = in;
        again.resize(2 * in.size());
        ASSERT_EQ(contourReduceOne(again.data(), c.n, 0.1, c.force, static_cast<int32_t>(again.size())), n);
        EXPECT_EQ(std::memcmp(again.data(), work.data(), static_cast<size_t>(n) * sizeof(ContourElement)), 0);
    }
    // A figure of eight crosses itself once, and so does any reduction of it: the reduction fails.
    std::vector<Vec2> eight;
    for (int i = 0; i < 200; ++i)
        eight.push_back({50 * std::sin(kPi * (i + 0.5) / 100), 30 * std::sin(kPi * (i + 0.5) / 50)});
    std::vector<ContourElement> e8 = polygon(eight);
    EXPECT_EQ(contourReduceOne(e8.data(), 200, 0.1, 1, 200), 0);
    pocketKernel().suppressReduction = 1;
    std::vector<ContourElement> in = polygon(arcPoints(0, 0, 50, 0, 2 * kPi * 99 / 100, 99));
    EXPECT_EQ(contourReduceOne(in.data(), 100, 0.1, 1, 100), 100);
}

// Every contour of a list is reduced in place, the first as well as the last; a missing list is no
// list to reduce.
TEST(ContourReduce, ListReducesEveryContour) {
    PocketErrors errors;
    ASSERT_TRUE(clistCreate("TEMP"));
    std::vector<std::vector<Vec2>> rings;
    for (const double r : {50.0, 20.0}) {
        rings.push_back(arcPoints(0, 0, r, 0, 2 * kPi, 65));
        rings.back().pop_back();
        ASSERT_TRUE(putContour("TEMP", polygon(rings.back())));
    }
    EXPECT_EQ(contourReduceList("TEMP", 0.1, 0), 1);
    for (int32_t i = 0; i < 2; ++i) {
        std::vector<ContourElement> c(65);
        ContourHeader h;
        ASSERT_EQ(clistGet("TEMP", c.data(), &h, i), i);
        EXPECT_LT(h.elementCount, 65u) << i;
        c.resize(h.elementCount);
        for (const Vec2& q : rings[i]) EXPECT_LT(distanceTo(q, c), 0.1) << i;
    }
    EXPECT_EQ(contourReduceList("NOSUCHLIST", 0.1, 0), 0);
}

TEST(ContourReduce, RandomArcsRefitWithinTolerance) {
    PocketErrors errors;
    rngResetState();
    for (int round = 0; round < 20; ++round) {
        const double r = 2 + 40 * rngUniform(), a0 = 2 * kPi * rngUniform(), sweep = 0.5 + 2.5 * rngUniform();
        const int points = 12 + rngBelow(60);
        std::vector<Vec2> p = arcPoints(10, -5, r, a0, a0 + sweep, points);
        for (Vec2& q : p) {
            q.x += 0.002 * (rngUniform() - 0.5);
            q.y += 0.002 * (rngUniform() - 0.5);
        }
        const std::vector<ContourElement> in = run(p);
        std::vector<ContourElement> out(in.size());
        const int32_t n = reduceLineRuns(in.data(), static_cast<int32_t>(in.size()), 0.05, out.data());
        ASSERT_GT(n, 0);
        out.resize(n);
        for (const Vec2& q : p) EXPECT_LT(distanceTo(q, out), 0.05 + 1e-9) << round;
        EXPECT_NEAR(out.front().type == kElemArc ? out.front().g[kAsx] : out.front().g[kLx1], p.front().x,
                    1e-12);
    }
}

TEST(RingHelpers, QuarterArcsAreSplit) {
    PocketErrors errors;
    struct Case {
        double sweep;
        int32_t count;
    };
    const Case cases[] = {{kPi / 2, 2}, {kPi / 2 - 0.01, 1}, {kPi, 2}};
    for (const Case& c : cases) {
        ContourElement chain[4] = {arcElem(0, 0, 3, 0, c.sweep, 1)};
        const int32_t n = arcsSplitQuarter(chain, 1);
        ASSERT_EQ(n, c.count) << c.sweep;
        if (n == 2) {
            EXPECT_NEAR(std::atan2(chain[0].g[kAey], chain[0].g[kAex]), c.sweep / 2, 1e-12);
            EXPECT_EQ(chain[0].g[kAex], chain[1].g[kAsx]);
            EXPECT_EQ(chain[0].g[kAey], chain[1].g[kAsy]);
        }
    }
}

}  // namespace
