#include "pocket/linearcfit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernel/base/rng.h"
#include "plainfit_util.h"

namespace {

// The arc pass as the fitter's contract words it, with plain scans throughout: a window of four points
// grown while its circle is accepted, the circle of each window found afresh by the pattern search over
// the spread of the hypot distances, and the shape test walked over all of the window's chords.
struct PlainArcPass {
    std::vector<TaggedPoint>& p;
    double tol;
    int lastFailure = kFitOk;

    // The failure code of the shape test, or -1 for a turn of more than 30 degrees.
    int shape(int s, int e, double r) const {
        double total = 0, shortest = 1e300, lo = 1e300, hi = 0, sagitta = 0, px = 0, py = 0;
        bool prev = false;
        for (int i = s; i < e; ++i) {
            const double dx = p[i + 1].x - p[i].x, dy = p[i + 1].y - p[i].y, len = std::hypot(dx, dy);
            total += len;
            shortest = std::min(shortest, len);
            const double half = len / (2 * r);
            sagitta = std::max(sagitta, half >= 1 ? 1.0 : 1 - std::sqrt(1 - half * half));
            if (len <= 0) continue;
            const double ux = dx / len, uy = dy / len;
            if (prev && ux * px + uy * py < 0.866) return -1;
            if (prev)
                lo = std::min(lo, std::fabs(px * uy - py * ux)),
                hi = std::max(hi, std::fabs(px * uy - py * ux));
            px = ux, py = uy, prev = true;
        }
        if (lo > hi) lo = hi = 0;
        const double need =
            std::sin(std::max(0.0, 0.2 * (total / r) / (e - s) - std::atan2(2 * tol, shortest)));
        if (!(lo > need && hi > need)) return kFitUneven;
        if (hi > 0.1) return kFitTooDense;
        if (sagitta * r > tol) return kFitSagitta;
        return total > 3.2 * r ? kFitTooLong : kFitOk;
    }
    bool fit(int s, int e, double* cx, double* cy) {
        if (p[e].x == p[s].x && p[e].y == p[s].y) return false;
        const std::vector<TaggedPoint> window(p.begin() + s, p.begin() + e + 1);
        Vec2 c;
        double r;
        const double best = plainFit(window, &c);
        plainSpread(window, c.x, c.y, &r);
        *cx = c.x, *cy = c.y;
        if (!(best < tol && r >= 0.1 && r <= 9999.9)) return false;
        const int code = shape(s, e, r);
        if (code != kFitOk) lastFailure = std::max(code, 0);
        return code == kFitOk;
    }
    void write(int s, int e, double cx, double cy) {
        const int m = s + std::max((e - s) / 4, 2);
        const bool cw = (p[s].x - cx) * (p[m].y - cy) - (p[s].y - cy) * (p[m].x - cx) < 0;
        p[s].startMark = kTagJoint;
        p[s].kind = cw ? kTagArcCw : kTagArcCcw;
        for (int i = s + 1; i < e; ++i) p[i].kind = kTagDropped;
        p[s + 1].x = cx, p[s + 1].y = cy;
        p[e].endMark = kTagJoint;
    }
    bool unmarked(int i) const {
        return p[i].kind == kTagKept && p[i].startMark == kTagNone && p[i].endMark == kTagNone;
    }
    // The line pass: each run of more than two unmarked points merged greedily, the chord pushed on while it
    // stays shorter than the longest line, every point between within the tolerance of it and no segment
    // of 1e-7 or more turning from it by a sine above 0.1.
    void lines(double longest) {
        const int count = static_cast<int>(p.size());
        for (int first = 0; first < count;) {
            int last = first;
            while (unmarked(first) && last + 1 < count && unmarked(last + 1)) ++last;
            for (int i = first; last - first > 1 && i < last;) {
                int j = i + 1;
                for (int k = j + 1; k <= last; ++k) {
                    const double cx = p[k].x - p[i].x, cy = p[k].y - p[i].y, chord = std::hypot(cx, cy);
                    bool fits = chord < longest && chord > 0;
                    for (int q = i + 1; q < k && fits; ++q)
                        fits = std::fabs((p[q].x - p[i].x) * cy - (p[q].y - p[i].y) * cx) / chord < tol;
                    for (int q = i; q < k && fits; ++q) {
                        const double sx = p[q + 1].x - p[q].x, sy = p[q + 1].y - p[q].y,
                                     len = std::hypot(sx, sy);
                        fits = len < 1e-7 || std::fabs(sx * cy - sy * cx) / (len * chord) <= 0.1;
                    }
                    if (!fits) break;
                    j = k;
                }
                for (int q = i + 1; q < j; ++q) p[q].kind = kTagDropped;
                i = j;
            }
            first = last + 1;
        }
    }
    void run() {
        const int count = static_cast<int>(p.size());
        int s = 0, e = 3;
        bool kept = false;
        double kx = 0, ky = 0;
        while (e < count) {
            double cx, cy;
            if (fit(s, e, &cx, &cy)) {
                kept = true, kx = cx, ky = cy;
                if (e == count - 1) {
                    write(s, e, kx, ky);
                    break;
                }
                ++e;
            } else if (kept) {
                write(s, e - 1, kx, ky);
                kept = false, s = e - 1, e += 2;
            } else {
                ++s, ++e;
            }
        }
    }
};

// A seeded chain of points: arcs of several radii and straight stretches, optionally with noise across
// the chain, repeated points and far-off coordinates.
std::vector<TaggedPoint> seededChain(int n) {
    const double noise = rngBelow(3) == 0 ? 0.0 : 1e-9 * std::pow(10.0, rngBelow(7));
    const double shift = rngBelow(4) == 0 ? 2e4 : 0.0;
    std::vector<TaggedPoint> p;
    double x = shift, y = -shift, heading = 2 * M_PI * rngUniform();
    while (static_cast<int>(p.size()) < n) {
        const int run = 20 + rngBelow(n);
        // Long steps on tight arcs leave sagittas beyond the tolerance.
        const double step = 0.005 + (rngBelow(3) == 0 ? 3.0 : 0.5) * rngUniform();
        // A turn per point of 0 draws a line; otherwise an arc of radius step / turn.
        const double turn = rngBelow(4) == 0 ? 0.0
                                             : (rngUniform() - 0.5) * (rngBelow(2)   ? 0.02
                                                                       : rngBelow(2) ? 0.2
                                                                                     : 1.2);
        for (int k = 0; k < run && static_cast<int>(p.size()) < n; ++k) {
            const double off = noise * (rngUniform() - 0.5);
            p.push_back(
                {x - off * std::sin(heading), y + off * std::cos(heading), 0, kTagKept, kTagNone, kTagNone});
            if (rngBelow(50) == 0) p.push_back(p.back());  // a repeated point: a chord of length 0
            x += step * std::cos(heading);
            y += step * std::sin(heading);
            heading += turn;
        }
    }
    p.resize(n);
    return p;
}

// The vertices of a regular polygon, as an inward offset leaves them: all on one circle.
std::vector<TaggedPoint> polygon(int n, double r, double turns) {
    std::vector<TaggedPoint> p(n, TaggedPoint{0, 0, 0, kTagKept, kTagNone, kTagNone});
    for (int i = 0; i < n; ++i) {
        const double a = turns * 2 * M_PI * i / (n - 1);
        p[i].x = 150 + r * std::cos(a);
        p[i].y = 100 + r * std::sin(a);
    }
    return p;
}

}  // namespace

// Seeded chains of arcs, lines, noise, repeated points and far-off coordinates, and the exact circles of
// regular polygons, long enough for windows of hundreds of points: the fitter marks the same points and
// writes the same centres as the plain arc and line passes, and leaves the same failure code of its last
// refused shape.
TEST(LinearArcFit, LongWindowsFitAsThePlainArcPass) {
    rngResetState();
    std::vector<std::vector<TaggedPoint>> chains;
    for (int t = 0; t < 10; ++t) chains.push_back(seededChain(128 + rngBelow(300)));
    chains.push_back(polygon(400, 96, 1.0));
    chains.push_back(polygon(160, 4000, 0.02));
    chains.push_back(polygon(300, 0.5, 0.9));
    int arcs = 0;
    for (size_t t = 0; t < chains.size(); ++t) {
        const double tol = t % 3 == 0 ? 0.001 : 0.01;
        std::vector<TaggedPoint> want = chains[t], got = chains[t];
        PlainArcPass plain{want, tol};
        plain.run();
        const auto n = static_cast<int32_t>(want.size());
        plain.lines(9999.9);
        fitSetLastFailure(kFitOk);
        const int found = fitLinesArcs(got.data(), n, tol, 0.1, 9999.9, 9999.9);
        EXPECT_EQ(fitLastFailure(), plain.lastFailure) << t;
        size_t same = 0;
        bool changed = false;  // 1 back when an arc or a merge changed a point
        for (int32_t i = 0; i < n; ++i) {
            const TaggedPoint &a = got[i], &b = want[i];
            same += a.x == b.x && a.y == b.y && a.kind == b.kind && a.startMark == b.startMark &&
                    a.endMark == b.endMark;
            arcs += b.startMark == kTagJoint;
            changed = changed || b.kind != chains[t][i].kind;
        }
        EXPECT_EQ(same, want.size()) << t;
        EXPECT_EQ(found, changed ? 1 : 0) << t;
    }
    EXPECT_GT(arcs, 40);
}

// Runs by hand: a straight run merges into one line (1), a corner stays, chords over the longest line
// merge nothing (0), a step back of half a micrometre stops a run where a repeated point does not; an
// arc's run ends at its end mark, and without one there is none; a line run ends at
// the next point that stays.
TEST(LinearArcFit, RunsMergedAndReadByHand) {
    const auto points = [](const std::vector<Vec2>& xy) {
        std::vector<TaggedPoint> p(xy.size(), TaggedPoint{0, 0, 0, kTagKept, kTagNone, kTagNone});
        for (size_t i = 0; i < xy.size(); ++i) p[i].x = xy[i].x, p[i].y = xy[i].y;
        return p;
    };
    const struct {
        std::vector<Vec2> xy;
        double longest;
        int merged;
        std::vector<int> dropped;
    } cases[] = {{{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}}, 100, 1, {1, 2, 3, 4}},
                 {{{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}}, 100, 1, {1, 3}},
                 {{{0, 0}, {1, 0}, {2, 0}, {3, 0}}, 1.5, 0, {}},
                 {{{0, 0}, {1, 0}, {1 - 5e-7, 0}, {2, 0}, {3, 0}}, 100, 1, {3}},
                 {{{0, 0}, {1, 0}, {1 - 5e-8, 0}, {2, 0}, {3, 0}}, 100, 1, {1, 2, 3}}};
    for (const auto& c : cases) {
        for (int whole = 0; whole < 2; ++whole) {
            std::vector<TaggedPoint> p = points(c.xy);
            const auto n = static_cast<int32_t>(p.size());
            EXPECT_EQ(whole ? taggedRunsCheck(p.data(), n, 0.01, c.longest)
                            : taggedRunFit(p.data(), 0, n - 1, 0.01, c.longest),
                      c.merged);
            std::vector<int> dropped;
            for (int32_t i = 0; i < n; ++i)
                if (p[i].kind == kTagDropped) dropped.push_back(i);
            EXPECT_EQ(dropped, c.dropped) << c.xy.size() << " " << whole;
        }
    }
    // The whole fit finds something in a straight run, nothing in a zigzag.
    for (const auto& [xy, found] :
         {std::pair{std::vector<Vec2>{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}, 1},
          std::pair{std::vector<Vec2>{{0, 0}, {1, 1}, {2, 0}, {3, 1}, {4, 0}}, 0}}) {
        std::vector<TaggedPoint> q = points(xy);
        EXPECT_EQ(fitLinesArcs(q.data(), 5, 0.001, 0.1, 1000, 1000), found) << xy[1].y;
    }
    std::vector<TaggedPoint> p = points({{0, 0}, {5, 5}, {1, 1}, {2, 0}, {3, 0}, {4, 0}});
    p[0].startMark = kTagJoint;
    p[0].kind = kTagArcCcw;
    p[2].kind = kTagDropped;
    int kind = 0;
    Vec2 end{}, centre{};
    EXPECT_EQ(nextTaggedRun(p.data(), 6, 0, &kind, &end, &centre), -1);
    p[3].endMark = kTagJoint;
    ASSERT_EQ(nextTaggedRun(p.data(), 6, 0, &kind, &end, &centre), 3);
    EXPECT_EQ(kind, kRunArcCcw);
    EXPECT_TRUE(end.x == 2 && end.y == 0 && centre.x == 5 && centre.y == 5);
    EXPECT_EQ(nextTaggedRun(p.data(), 6, 3, &kind, &end, &centre), 4);
    p[4].kind = kTagDropped;
    ASSERT_EQ(nextTaggedRun(p.data(), 6, 3, &kind, &end, &centre), 5);
    EXPECT_EQ(kind, kRunLine);
    EXPECT_EQ(end.x, 4);
    EXPECT_EQ(nextTaggedRun(p.data(), 6, 5, &kind, &end, &centre), -1);
    p[5].kind = kTagDropped;  // a line run that never meets a point that stays
    EXPECT_EQ(nextTaggedRun(p.data(), 6, 3, &kind, &end, &centre), -1);
}

// The fitted radius is the mean of the nearest and farthest point seen from the fitted centre: brute
// force over the points, at a plain scale and at one whose squared distances overflow.
TEST(LinearArcFit, RadiusIsTheMeanOfTheExtremesSeenFromTheCentre) {
    Rng rng{4471};
    auto uniform = [&] { return (rngStep(&rng) * 32768.0 + rngStep(&rng)) / 1073741824.0; };
    for (int run = 0; run < 40; ++run) {
        const double scale = run % 2 ? 1e160 : 1, cx = (uniform() - 0.5) * 20, cy = 5 + uniform() * 10,
                     r = 2 + 20 * uniform(), a0 = 6 * uniform();
        std::vector<TaggedPoint> p(12);
        for (size_t i = 0; i < p.size(); ++i) {
            const double a = a0 + 0.15 * static_cast<double>(i), rr = r * (1 + 0.01 * (uniform() - 0.5));
            p[i] = {scale * (cx + rr * std::cos(a)), scale * (cy + rr * std::sin(a)), 0, kTagKept, 0, 0};
        }
        Vec2 c{};
        double radius = 0;
        fitCircle(p.data(), 0, 11, 1e300, 1e-6, 1e300, &c, &radius);
        double lo = HUGE_VAL, hi = 0;
        for (const TaggedPoint& q : p) {
            lo = std::min(lo, std::hypot(q.x - c.x, q.y - c.y));
            hi = std::max(hi, std::hypot(q.x - c.x, q.y - c.y));
        }
        EXPECT_NEAR(radius, 0.5 * (lo + hi), 1e-12 * hi) << run;
    }
    // Twelve points on a circle of radius 15 fit it only within [least, largest] radius; a largest below
    // the least stands for twice the least.
    const struct {
        double least, largest;
        bool kept;
    } bounds[] = {{10, 20, true}, {10, 5, true}, {7, 5, false}, {10, 14, false}, {16, 40, false}};
    std::vector<TaggedPoint> q(12);
    for (size_t i = 0; i < q.size(); ++i)
        q[i] = {15 * std::cos(0.05 * i), 15 * std::sin(0.05 * i), 0, kTagKept, 0, 0};
    for (const auto& b : bounds) {
        Vec2 c{};
        double radius = 0;
        const double spread = fitCircle(q.data(), 0, 11, 0.01, b.least, b.largest, &c, &radius);
        EXPECT_TRUE(b.kept ? spread < 0.01 : spread == 8.8e8) << b.least << " " << b.largest << " " << spread;
    }
}

// Points on a circle of radius 100, chords of 0.1 rad but for two of 0.01: their turn of 0.01 is below
// the sine of a fifth of the mean turn less atan(2 tol / shortest chord), 0.012, so the shape is uneven,
// wherever the window starts in the array; so is a window of one chord. Two chords of 0.013 turn by more
// than that bound, 0.01266 (though by less than with atan(tol / shortest)): even, refused by the sagitta.
TEST(LinearArcFit, UnevenChordsAreRefusedWhereverTheWindowStarts) {
    for (const int32_t s : {0, 10, 20}) {
        std::vector<TaggedPoint> p(s + 8, TaggedPoint{0, 0, 0, kTagKept, kTagNone, kTagNone});
        double a = 0;
        for (int32_t i = s; i <= s + 6; ++i) {
            p[i].x = 100 * std::cos(a), p[i].y = 100 * std::sin(a);
            a += i - s == 2 || i - s == 3 ? (s == 20 ? 0.013 : 0.01) : 0.1;
        }
        Vec2 c{};
        double r = 0;
        fitSetLastFailure(kFitOk);
        EXPECT_EQ(fitCircle(p.data(), s, s + 6, 0.001, 0.1, 1000, &c, &r), 7.7e7) << s;
        EXPECT_EQ(fitLastFailure(), s == 20 ? kFitSagitta : kFitUneven) << s;
        fitSetLastFailure(kFitOk);  // a single chord shows no turn at all
        EXPECT_EQ(fitCircle(p.data(), s, s + 1, 0.001, 0.1, 1000, &c, &r), 7.7e7) << s;
        EXPECT_EQ(fitLastFailure(), kFitUneven) << s;
        // A window that closes on itself has no chord to centre on: refused whatever the tolerance.
        p[s + 6] = p[s], c = Vec2{-1, -1};
        EXPECT_EQ(fitCircle(p.data(), s, s + 6, 1e300, 0, 1e300, &c, &r), 6.6e6) << s;
        EXPECT_EQ(c.x + c.y, -2) << s;
    }
    // A reset forgets the last refused shape and the count of refusals, as at load.
    linearcfitResetState();
    EXPECT_EQ(std::pair(fitLastFailure(), fitFailureWrites()), std::pair(int{kFitOk}, int64_t{0}));
}

// The next run of more than two unmarked points against a scan of random marks: its first index from
// the start asked for on (the run cut there) and its last.
TEST(LinearArcFit, RunFindMatchesAScan) {
    Rng rng{913};
    for (int run = 0; run < 300; ++run) {
        const int32_t n = static_cast<int32_t>(rngStep(&rng) % 12);
        std::vector<TaggedPoint> p(static_cast<size_t>(n) + 1,
                                   TaggedPoint{0, 0, 0, kTagKept, kTagNone, kTagNone});
        std::vector<bool> free(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) {
            const uint32_t r = rngStep(&rng) % 8;
            if (r == 0) p[i].kind = kTagDropped;
            if (r == 1) p[i].startMark = kTagJoint;
            if (r == 2) p[i].endMark = kTagJoint;
            free[static_cast<size_t>(i)] = r > 2;
        }
        const int32_t from = static_cast<int32_t>(rngStep(&rng) % 5) - 1;
        int32_t first = -1, last = -7;
        for (int32_t i = std::max(from, 0); i < n && first < 0;) {
            int32_t j = i;
            while (j < n && free[static_cast<size_t>(j)]) ++j;
            if (j - i > 2) first = i, last = j - 1;
            i = j + 1;
        }
        int32_t got = -7;
        EXPECT_EQ(taggedRunFind(p.data(), n, from, &got), first) << run;
        if (first >= 0) {
            EXPECT_EQ(got, last) << run;
        }
    }
    EXPECT_EQ(firstTaggedPoint(nullptr, 3), -1);
    TaggedPoint one{};
    EXPECT_EQ(firstTaggedPoint(&one, 0), -1);
    EXPECT_EQ(firstTaggedPoint(&one, 1), 0);
}
