#include "pocket/chaincross.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "kernel/base/rng.h"
#include "offset_util.h"
#include "ringtest_util.h"

namespace {

using offsettest::kPi;

// Proper crossings of two segments, by orientation signs.
bool segmentsCross(const ContourElement& a, const ContourElement& b) {
    auto o = [](double ax, double ay, double bx, double by, double cx, double cy) {
        return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
    };
    const double* p = a.g;
    const double* q = b.g;
    return o(p[0], p[1], p[2], p[3], q[0], q[1]) * o(p[0], p[1], p[2], p[3], q[2], q[3]) < 0 &&
           o(q[0], q[1], q[2], q[3], p[0], p[1]) * o(q[0], q[1], q[2], q[3], p[2], p[3]) < 0;
}

std::vector<ContourElement> randomPolygon(int n, double cx, double cy) {
    std::vector<Vec2> p;
    for (int i = 0; i < n; ++i) p.push_back({cx + 100 * rngUniform(), cy + 100 * rngUniform()});
    return polygon(p);
}

// A small polygon of 3 to 5 corners about a point near the circle of radius r about the origin.
std::vector<ContourElement> polygonNearCircle(double r) {
    const double a = 2 * kPi * rngUniform(), at = r * (0.7 + 0.6 * rngUniform()),
                 size = 2 + 10 * rngUniform();
    std::vector<Vec2> p;
    for (int k = 0; k < 3 + rngBelow(3); ++k)
        p.push_back(
            {at * std::cos(a) + size * (rngUniform() - 0.5), at * std::sin(a) + size * (rngUniform() - 0.5)});
    return polygon(p);
}

TEST(ChainCross, TwoContoursTable) {
    PocketErrors errors;
    PocketIsect rec[16];
    struct Case {
        std::vector<ContourElement> a, b;
        int32_t count;
        int32_t elemA0, elemB0;  // first record's element numbers
    };
    const Case cases[] = {
        // Corner overlap: A's right edge meets B's bottom edge, A's top edge meets B's left edge.
        {box(0, 0, 10, 10), box(5, 5, 15, 15), 2, 2, 1},
        // A shared whole edge gives nothing there.
        {box(0, 0, 10, 10), box(10, 0, 20, 10), 0, 0, 0},
        // Sharing part of an edge and crossing elsewhere: only the crossing counts.
        {box(0, 0, 10, 10), box(10, 2, 20, 8), 0, 0, 0},
        {box(0, 0, 10, 10), box(4, -5, 6, 20), 4, 1, 4},
        {box(0, 0, 10, 10), box(20, 20, 30, 30), 0, 0, 0},
    };
    for (const Case& c : cases) {
        const int32_t n = intersectContours(c.a.data(), 4, c.b.data(), 4, rec, 16);
        ASSERT_EQ(n, c.count);
        if (n > 0) {
            EXPECT_EQ(rec[0].elemA, c.elemA0);
            EXPECT_EQ(rec[0].elemB, c.elemB0);
        }
        for (int32_t i = 1; i < n; ++i) EXPECT_LE(rec[i - 1].elemA, rec[i].elemA);
    }
    // Two rings on one circle, split at other places, and a box across the circle's side: arcs that
    // overlap along the circle give nothing, the box's crossings still count.
    {
        const std::vector<ContourElement> a = offsettest::circle(0, 0, 10, 2, 1);
        std::vector<ContourElement> b;
        for (int k = 0; k < 3; ++k)
            b.push_back(arcElem(0, 0, 10, 0.5 + 2 * kPi * k / 3, 0.5 + 2 * kPi * (k + 1) / 3, 1));
        EXPECT_EQ(intersectContours(a.data(), 2, b.data(), 3, rec, 16), 0);
        const std::vector<ContourElement> across = box(5, -2, 15, 2);
        ASSERT_EQ(intersectContours(a.data(), 2, across.data(), 4, rec, 16), 2);
        // A record on an arc holds the angle of its point about the centre, from 0 to 2 pi.
        for (int i = 0; i < 2; ++i)
            EXPECT_NEAR(rec[i].param, std::fmod(std::atan2(rec[i].y, rec[i].x) + 2 * kPi, 2 * kPi), 1e-12);
        // A circle reaching 5e-5 past a box's edge crosses it twice.
        const std::vector<ContourElement> bulge = offsettest::circle(10.99995, 5, 1, 5, 1);
        EXPECT_EQ(intersectContours(box(0, 0, 10, 10).data(), 4, bulge.data(), 5, rec, 16), 2);
    }
    // An open chain meets a box's edge once, at its last end or at its joint (counted once).
    const std::vector<ContourElement> open = {lineElem(-10, 5, -5, 5), lineElem(-5, 5, 0, 5)};
    for (double x0 : {0.0, -5.0}) {
        ASSERT_EQ(intersectContours(open.data(), 2, box(x0, 0, 10, 10).data(), 4, rec, 16), 1) << x0;
        EXPECT_EQ(rec[0].x, x0);
        EXPECT_EQ(intersectContours(box(x0, 0, 10, 10).data(), 4, open.data(), 2, rec, 16), 1) << x0;
    }
    // A chain up through another's joint, leaving 1.5e-4 off the other's way out, crosses it; 0.5e-4 off
    // (within the angle tolerance 1e-4) it only touches.
    for (const auto& [slope, crossings] : {std::pair{1.5e-4, 1}, {0.5e-4, 0}}) {
        const std::vector<ContourElement> a = {lineElem(-10, 0, 0, 0), lineElem(0, 0, 10, 0)},
                                          b = {lineElem(0, -10, 0, 0), lineElem(0, 0, 10, 10 * slope)};
        EXPECT_EQ(intersectContours(a.data(), 2, b.data(), 2, rec, 16), crossings) << slope;
        // Likewise leaving back along the other's way in, on an arc (a line that near would overlap it)
        // curving up away from it.
        ContourElement arc = arcElem(std::sin(slope), std::cos(slope), 1, -kPi / 2 - slope, -kPi, -1);
        arc.g[kAsx] = arc.g[kAsy] = 0;
        const std::vector<ContourElement> back = {lineElem(0, -10, 0, 0), arc};
        EXPECT_EQ(intersectContours(a.data(), 2, back.data(), 2, rec, 16), crossings) << slope;
    }
    // A chain down through a line at its fourth joint, then back onto the line further on: one
    // crossing, the later overlap notwithstanding.
    const std::vector<ContourElement> zig =
        polygon({{2, 9}, {2, 7}, {2, 5}, {2, 3}, {2, 0}, {4, -3}, {6, 0}, {9, 0}});
    ASSERT_EQ(intersectContours(zig.data(), 7, std::vector{lineElem(0, 0, 20, 0)}.data(), 1, rec, 16), 1);
    EXPECT_EQ(rec[0].x, 2);
    // A full table is refused.
    EXPECT_EQ(intersectContours(box(0, 0, 10, 10).data(), 4, box(4, -5, 6, 20).data(), 4, rec, 3), -1);
    // At the joint of a circle's two arcs: a box edge tangent there only touches, one across it crosses
    // (and the box's top edge crosses the circle once more), wherever the circle stands.
    for (const Vec2 c : {Vec2{0, 0}, Vec2{30, 50}, Vec2{-40, -70}}) {
        const std::vector<ContourElement> a = offsettest::circle(c.x, c.y, 10, 2, 1);
        EXPECT_EQ(
            intersectContours(a.data(), 2, box(c.x + 10, c.y - 5, c.x + 20, c.y + 5).data(), 4, rec, 16), 0)
            << c.x;
        EXPECT_EQ(intersectContours(a.data(), 2, box(c.x + 5, c.y, c.x + 15, c.y + 5).data(), 4, rec, 16), 2)
            << c.x;
    }
    // An element of unknown type meets nothing, whichever chain holds it, the shorter or the longer: here
    // an arc across the box with its type word spoilt.
    {
        const std::vector<ContourElement> a = box(0, 0, 10, 10);
        std::vector<ContourElement> b = box(40, 40, 50, 50);
        b.push_back(arcElem(5, 5, 7, 0, kPi, 1));
        ASSERT_EQ(intersectContours(a.data(), 4, b.data(), 5, rec, 16), 4);
        // An arc of the longer chain whose circle reaches 5e-5 past the box's left edge (less than the
        // rough test's tolerance) crosses it twice, sqrt(r^2 - (r - 5e-5)^2) above and below its centre.
        for (const double r : {0.01, 100.0}) {
            std::vector<ContourElement> c = box(40, 40, 50, 50);
            c.push_back(arcElem(5e-5 - r, 5, r, -kPi / 2, kPi / 2, 1));
            ASSERT_EQ(intersectContours(a.data(), 4, c.data(), 5, rec, 16), 2) << r;
            for (const PocketIsect& q : {rec[0], rec[1]})
                EXPECT_NEAR(std::fabs(q.y - 5), std::sqrt(r * r - (r - 5e-5) * (r - 5e-5)), 1e-7) << r;
        }
        b.back().type = 9;
        EXPECT_EQ(intersectContours(a.data(), 4, b.data(), 5, rec, 16), 0);
        EXPECT_EQ(intersectContours(b.data(), 5, a.data(), 4, rec, 16), 0);
        EXPECT_EQ(intersectContours(&b.back(), 1, a.data(), 4, rec, 16), 0);
        std::vector<ContourElement> own = polygon({{0, 0}, {10, 0}, {0, 10}, {10, 10}});  // crossing once
        own.push_back(b.back());
        own.push_back(lineElem(0, 0, 10, 10, 0));
        own.back().type = 9;
        EXPECT_EQ(contourReduce(own.data(), 6, rec, 0), 1);
        // An open chain whose last leg folds back over the one before and runs down through the apex
        // of a peak at the origin: one crossing there, the fold aside.
        const std::vector<ContourElement> fold =
            polygon({{-4, -3}, {-3, -1}, {-2, -2}, {-1, -1}, {0, 0}, {1, -1}, {0, 0.5}, {0, 2}, {0, -1}});
        ASSERT_EQ(contourReduce(fold.data(), 8, rec, 0), 1);
        EXPECT_EQ(std::pair(rec[0].x, rec[0].y), std::pair(0.0, 0.0));
    }
}

// A line across a half disc whose ends stay below the line: only the bulge of the arc meets it, in
// each of four turns, given first as the shorter chain and then as the longer.
TEST(ChainCross, LineAcrossTheBulgeOfAHalfDisc) {
    PocketErrors errors;
    PocketIsect rec[8];
    for (int turn = 0; turn < 4; ++turn) {
        const double a = turn * kPi / 2, ux = std::cos(a), uy = std::sin(a);  // the bulge's direction
        std::vector<ContourElement> half = {arcElem(0, 0, 1, a - kPi / 2, a + kPi / 2, 1),
                                            lineElem(-uy, ux, uy, -ux)};
        for (const double c : {0.3, 0.9, -0.5, 1.5}) {
            // the line at c along the bulge, 4 long across it
            const std::vector<ContourElement> cut = {
                lineElem(c * ux - 2 * uy, c * uy + 2 * ux, c * ux + 2 * uy, c * uy - 2 * ux),
                lineElem(c * ux + 2 * uy, c * uy - 2 * ux, c * ux + 3 * uy, c * uy - 3 * ux),
                lineElem(c * ux + 3 * uy, c * uy - 3 * ux, c * ux + 4 * uy, c * uy - 4 * ux)};
            const int32_t expected = c > 0 && c < 1 ? 2 : 0;
            for (const int32_t cutCount : {1, 3}) {
                const int32_t n = intersectContours(cut.data(), cutCount, half.data(), 2, rec, 8);
                ASSERT_EQ(n, expected) << turn << " " << c << " " << cutCount;
                for (int32_t i = 0; i < n; ++i) EXPECT_NEAR(std::hypot(rec[i].x, rec[i].y), 1, 1e-9);
            }
        }
    }
}

TEST(ChainCross, RandomPolygonsMatchBruteForce) {
    PocketErrors errors;
    rngResetState();
    std::vector<PocketIsect> rec(kIsectTableSize);
    for (int round = 0; round < 30; ++round) {
        const std::vector<ContourElement> a = randomPolygon(3 + rngBelow(12), 0, 0);
        const std::vector<ContourElement> b = randomPolygon(3 + rngBelow(12), 30, 20);
        // Every record: the crossing pairs of the brute force, a point on both elements, the fraction
        // along its element of a, state 1, in order along a.
        auto check = [&](const std::vector<ContourElement>& other, int32_t n, bool self) {
            std::multiset<std::pair<int32_t, int32_t>> want, got;
            for (size_t i = 0; i < a.size(); ++i)
                for (size_t j = self ? i + 1 : 0; j < other.size(); ++j)
                    if (segmentsCross(a[i], other[j])) want.insert({i + 1, j + 1});
            ASSERT_EQ(n, static_cast<int32_t>(want.size())) << round;
            for (int32_t i = 0; i < n; ++i) {
                const PocketIsect& r = rec[static_cast<size_t>(i)];
                got.insert(self ? std::make_pair(std::min(r.elemA, r.elemB), std::max(r.elemA, r.elemB))
                                : std::make_pair(r.elemA, r.elemB));
                const Vec2 p{r.x, r.y};
                const ContourElement& e = a[static_cast<size_t>(r.elemA - 1)];
                EXPECT_TRUE(pointOnElem(&p, &e));
                EXPECT_TRUE(pointOnElem(&p, &other[static_cast<size_t>(r.elemB - 1)]));
                const double dx = e.g[2] - e.g[0], dy = e.g[3] - e.g[1];
                EXPECT_NEAR(r.param, ((r.x - e.g[0]) * dx + (r.y - e.g[1]) * dy) / (dx * dx + dy * dy), 1e-9);
                EXPECT_EQ(r.state, 1);
                if (i > 0) {
                    const PocketIsect& q = rec[static_cast<size_t>(i - 1)];
                    EXPECT_TRUE(q.elemA < r.elemA || (q.elemA == r.elemA && q.param <= r.param)) << round;
                }
            }
            EXPECT_EQ(got, want) << round;
        };
        check(b,
              intersectContours(a.data(), static_cast<int32_t>(a.size()), b.data(),
                                static_cast<int32_t>(b.size()), rec.data(), kIsectTableSize),
              false);
        check(a, contourReduce(a.data(), static_cast<int32_t>(a.size()), rec.data(), 0), true);
    }
}

// Box pairs against the plain double loop with the same grown-box test.
std::vector<uint64_t> allPairs(const std::vector<Vec2>& loA, const std::vector<Vec2>& hiA,
                               const std::vector<Vec2>& loB, const std::vector<Vec2>& hiB) {
    const double tol = 1e-4;
    std::vector<uint64_t> out;
    for (size_t i = 0; i < loA.size(); ++i) {
        for (size_t j = 0; j < loB.size(); ++j) {
            if (loA[i].x <= hiB[j].x + tol && loB[j].x <= hiA[i].x + tol && loA[i].y <= hiB[j].y + tol &&
                loB[j].y <= hiA[i].y + tol)
                out.push_back(static_cast<uint64_t>(i) << 32 | j);
        }
    }
    return out;
}

TEST(ChainCross, BoxPairsMatchTheDoubleLoop) {
    rngResetState();
    const double nan = std::nan("");
    // Coordinates on a coarse grid, some a tolerance apart, so boxes tie, touch and nest.
    auto coord = [] {
        const double grid = 0.5 * rngBelow(8);
        const int32_t shift = rngBelow(4);
        return grid + (shift == 0 ? 1e-4 : shift == 1 ? -1e-4 : 0.0);
    };
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<Vec2> lo[2], hi[2];
        for (int s = 0; s < 2; ++s) {
            const int32_t n = rngBelow(25);
            for (int32_t k = 0; k < n; ++k) {
                Vec2 p{coord(), coord()}, q{coord(), coord()};
                if (rngBelow(4) == 0) q = p;  // a point
                lo[s].push_back({std::min(p.x, q.x), std::min(p.y, q.y)});
                hi[s].push_back({std::max(p.x, q.x), std::max(p.y, q.y)});
                if (rngBelow(20) == 0) (rngBelow(2) ? lo[s].back().y : hi[s].back().x) = nan;
                if (rngBelow(30) == 0) hi[s].back().x = INFINITY;
            }
        }
        std::vector<uint64_t> pairs{7};  // stale content is replaced
        isectBoxPairs(lo[0].data(), hi[0].data(), static_cast<int32_t>(lo[0].size()), lo[1].data(),
                      hi[1].data(), static_cast<int32_t>(lo[1].size()), &pairs);
        EXPECT_EQ(pairs, allPairs(lo[0], hi[0], lo[1], hi[1])) << "trial " << trial;
    }
}

// Three elements through one point: two records share a place on the first of them, and
// every record still comes once, in the order along the chain; so too when a last element of
// NaN coordinates (which meets nothing) leaves the chain open and unsorted by its boxes.
TEST(ChainCross, ThreeStrandsThroughOnePoint) {
    PocketErrors errors;
    std::vector<ContourElement> a = polygon({{-12, 0}, {10, 0}, {10, 10}, {-10, -10}, {-10, 10}, {10, -10}});
    int32_t self = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (size_t j = i + 1; j < a.size(); ++j) self += segmentsCross(a[i], a[j]);
    std::vector<PocketIsect> rec(kIsectTableSize);
    for (int nan = 0; nan < 2; ++nan) {
        if (nan) a.push_back(lineElem(std::nan(""), 0, std::nan(""), 1));
        ASSERT_EQ(contourReduce(a.data(), static_cast<int32_t>(a.size()), rec.data(), 0), self);
        int32_t atOrigin = 0;
        for (int32_t i = 0; i < self; ++i) {
            atOrigin += std::hypot(rec[i].x, rec[i].y) < 1e-12;
            EXPECT_TRUE(i == 0 || rec[i - 1].elemA < rec[i].elemA ||
                        (rec[i - 1].elemA == rec[i].elemA && rec[i - 1].param <= rec[i].param));
        }
        EXPECT_EQ(atOrigin, 3);
    }
}

TEST(ChainCross, CircleAndSegmentAgainstAChain) {
    PocketErrors errors;
    const std::vector<ContourElement> sq = box(0, 0, 10, 10);
    struct Case {
        double cx, cy, r;
        int enters;
    };
    const Case circles[] = {
        {5, -3, 3, 0},     // touches the bottom edge from outside
        {5, -3, 3.5, 1},   // cuts it
        {-2, -2, 2.8, 0},  // short of the corner (2.83)
        {-2, -2, 2.9, 1},  // reaches round the corner
        {5, 5, 4.9, 0},    // inside, clear of every edge
        {5, 5, 5.1, 1},
    };
    for (const Case& c : circles) {
        const ContourElement arc = arcElem(c.cx, c.cy, c.r, 0, kPi, 1);
        EXPECT_EQ(elemContourClassify(&arc, sq.data(), 4), c.enters) << c.cx << " " << c.r;
    }
    struct Seg {
        double x1, y1, x2, y2;
        int crosses;
    };
    // Ending on the chain, going through, overlapping an edge (past its ends or within it), inside.
    const Seg segs[] = {
        {5, -5, 5, 0, 0}, {5, -5, 5, 1, 1}, {-5, 0, 15, 0, 1}, {2, 0, 8, 0, 1}, {2, 2, 8, 8, 0}};
    for (const Seg& s : segs) {
        const double line[4] = {s.x1, s.y1, s.x2, s.y2};
        EXPECT_EQ(segmentCrossesChain(line, sq.data(), 4), s.crosses) << s.x2 << " " << s.y2;
    }
    // Against a circle of two arcs: touching it (a meeting), ending on it, through it once and twice, clear.
    const std::vector<ContourElement> disc = offsettest::circle(5, 5, 3, 2, 1);
    for (const Seg& s : {Seg{0, 8, 10, 8, 1}, Seg{5, 10, 5, 8, 0}, Seg{5, 10, 5, 5, 1},
                         Seg{0, 5.5, 10, 5.5, 1}, Seg{0, 9, 10, 9, 0}}) {
        const double line[4] = {s.x1, s.y1, s.x2, s.y2};
        EXPECT_EQ(segmentCrossesChain(line, disc.data(), 2), s.crosses) << s.x1 << " " << s.y1 << " " << s.y2;
    }
}

TEST(ChainCross, ContainmentAndSplicing) {
    PocketErrors errors;
    pocketKernel().toolRadius = 2;
    const std::vector<ContourElement> outer = box(0, 0, 10, 10), inner = box(2, 2, 4, 4),
                                      far = box(20, 0, 25, 5);
    EXPECT_NE(contourContainsChain(inner.data(), 4, outer.data(), 4), 0);
    EXPECT_EQ(contourContainsChain(far.data(), 4, outer.data(), 4), 0);
    EXPECT_EQ(contourContainsChain(outer.data(), 4, inner.data(), 4), 0);
    // Through the wall: the probe is the first middle from the middle element on that lies 0.2 or more
    // off the wall (here 1 inside it; the next lies outside).
    const std::vector<ContourElement> through = polygon({{30, 1}, {30, 9}, {9, 9}, {9, 1}});
    EXPECT_EQ(contourContainsChain(through.data(), 4, outer.data(), 4), 1);
    // A square of length 1.6 in a notch: its first middle lies 0.14 off, outside, which a tool of radius 1 or
    // more passes over (a tenth of the length), its third 0.26 inside; a smaller tool stops at the first.
    const std::vector<ContourElement>
        small = box(0, 0, 0.4, 0.4),
        notched = polygon(
            {{-10, -10}, {10, -10}, {10, 10}, {0.36, 10}, {0.36, 0.26}, {0.04, 0.26}, {0.04, 10}, {-10, 10}});
    // A speck 0.004 wide, 0.005 inside the wall: a tool of radius 1 or more judges it by a tenth of its
    // length (0.0016), a smaller one by a fifth of the probe distances; either way a middle is clear.
    const std::vector<ContourElement> speck = box(5, 0.005, 5.004, 0.009);
    for (const double radius : {2.0, 1.0, 0.5}) {
        pocketKernel().toolRadius = radius;
        EXPECT_EQ(contourContainsChain(speck.data(), 4, outer.data(), 4), 1) << radius;
        EXPECT_EQ(contourContainsChain(small.data(), 4, notched.data(), 8), radius >= 1) << radius;
    }
    // A contour following the wall at an inset is contained once the nearer probe clears it: 0.02 for a
    // tool of radius 1 or more, a fifth of 0.02 for a smaller one.
    for (const double radius : {2.0, 0.5})
        for (const double inset : {0.001, 0.0039, 0.0041, 0.019, 0.021, 0.1}) {
            pocketKernel().toolRadius = radius;
            const std::vector<ContourElement> a = box(inset, inset, 10 - inset, 10 - inset);
            EXPECT_EQ(contourContainsChain(a.data(), 4, outer.data(), 4),
                      inset >= (radius >= 1 ? 0.02 : 0.004))
                << radius << " " << inset;
        }
    pocketKernel().toolRadius = 2;
    for (int bad = 0; bad < 4; ++bad)
        EXPECT_EQ(contourContainsChain(bad == 0 ? nullptr : inner.data(), bad == 1 ? 0 : 4,
                                       bad == 2 ? nullptr : outer.data(), bad == 3 ? 0 : 4),
                  0);

    // A vertical cut through the square at x = 5 crosses elements 1 and 3; splicing from the
    // first crossing to the second copies the right half of the square's boundary.
    PocketIsect rec[2] = {{5, 0, 0.5, 1, 1, 1}, {5, 10, 0.5, 3, 1, 1}};
    ContourElement out[8];
    int32_t n = 0;
    int32_t next = -1;
    EXPECT_EQ(chainCopyBetween(outer.data(), 4, 1, rec, 2, 0, out, &n), 1);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(out[0].g[kLx1] + out[2].g[kLx2] + out[2].g[kLy2], 5 + 5 + 10);
    // From the second crossing on, the next one lies behind the chain's end: found by wrapping.
    EXPECT_EQ(isectNextState1(outer.data(), 4, 1, rec, 2, 1, &next), -1);
    EXPECT_EQ(next, 0);
    EXPECT_EQ(isectNextState1(outer.data(), 4, 1, rec, 2, 0, &next), 1);
    EXPECT_EQ(next, 1);
    // Wrapping on to a crossing at the corner (0, 0): the first element's piece is a point and stays out.
    const PocketIsect corner[2] = {{0, 0, 0, 1, 1, 1}, {5, 10, 0.5, 3, 1, 1}};
    EXPECT_EQ(chainCopyBetween(outer.data(), 4, 1, corner, 2, 1, out, &n), 0);
    EXPECT_TRUE(n == 2 && out[1].g[kLx2] == 0 && out[1].g[kLy2] == 0) << n;

    ContourElement a = lineElem(0, 0, 5, 0), b = lineElem(5.0005, 0, 9, 0), c = lineElem(5, 1, 5, 9);
    EXPECT_EQ(elemJoinCollinear(&a, &b), 1);
    EXPECT_EQ(a.g[kLx2], 5.0005);
    EXPECT_EQ(elemJoinCollinear(&a, &c), -1);

    // A gap after the first piece copied: bridged when the two run on in one line, refused at a turn.
    const std::vector<ContourElement> turn = {lineElem(0, 0, 10, 0), lineElem(10, 0.5, 10, 10),
                                              lineElem(10, 10, 0, 10), lineElem(0, 10, 0, 0)};
    EXPECT_EQ(chainCopyBetween(turn.data(), 4, 1, rec, 2, 0, out, &n), -1);
    const std::vector<ContourElement> run = {lineElem(0, 0, 7, 0), lineElem(7.002, 0, 10, 0),
                                             lineElem(10, 0, 10, 10), lineElem(10, 10, 0, 10),
                                             lineElem(0, 10, 0, 0)};
    const PocketIsect along[2] = {{5, 0, 0.7, 1, 1, 1}, {5, 10, 0.5, 4, 1, 1}};
    ASSERT_EQ(chainCopyBetween(run.data(), 5, 1, along, 2, 0, out, &n), 1);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(out[0].g[kLx1], 5);
    EXPECT_EQ(out[0].g[kLx2], 7.002);
}

}  // namespace

// A circle of many arcs against a small polygon placed across it, near it or away from it, in either
// order: the crossings are the circle's with each edge, counted in closed form, and lie on both elements
// (the arcs whose whole circle keeps clear of the polygon are passed over without their boxes); and a
// ring of lines against the same polygon.
TEST(ChainCross, ArcAndLineRingsAgainstSmallPolygonsMatchClosedFormAndAllPairs) {
    PocketErrors errors;
    rngResetState();
    std::vector<PocketIsect> rec(kIsectTableSize);
    int crossings = 0, lineCrossings = 0;
    for (int round = 0; round < 200; ++round) {
        const double r = 5 + 40 * rngUniform();
        const int n = 4 + rngBelow(60);
        std::vector<ContourElement> ring;
        for (int i = 0; i < n; ++i)
            ring.push_back(arcElem(0, 0, r, 2 * kPi * i / n, 2 * kPi * (i + 1) / n, 1));
        const std::vector<ContourElement> poly = polygonNearCircle(r);
        int32_t expected = 0;
        for (const ContourElement& e : poly) {
            // Roots of |s + t (q - s)|^2 = r^2 strictly inside the edge.
            const double sx = e.g[0], sy = e.g[1], dx = e.g[2] - sx, dy = e.g[3] - sy;
            const double qa = dx * dx + dy * dy, qb = 2 * (sx * dx + sy * dy), qc = sx * sx + sy * sy - r * r;
            const double disc = qb * qb - 4 * qa * qc;
            if (disc <= 0) continue;
            for (const double t : {(-qb - std::sqrt(disc)) / (2 * qa), (-qb + std::sqrt(disc)) / (2 * qa)})
                expected += t > 0 && t < 1;
        }
        crossings += expected;
        for (int order = 0; order < 2; ++order) {
            const std::vector<ContourElement>& a0 = order ? poly : ring;
            const std::vector<ContourElement>& b0 = order ? ring : poly;
            const int32_t k = intersectContours(a0.data(), static_cast<int32_t>(a0.size()), b0.data(),
                                                static_cast<int32_t>(b0.size()), rec.data(), kIsectTableSize);
            ASSERT_EQ(k, expected) << round << " " << order;
            for (int32_t i = 0; i < k; ++i) {
                const Vec2 q{rec[i].x, rec[i].y};
                EXPECT_TRUE(pointOnElem(&q, &a0[rec[i].elemA - 1]));
                EXPECT_TRUE(pointOnElem(&q, &b0[rec[i].elemB - 1]));
            }
        }
        // A ring of many lines in the arcs' place: the lines far from the polygon stay out of the sweep,
        // and the crossings are those of the plain all-pairs test.
        std::vector<Vec2> corners;
        for (int i = 0, m = 8 + rngBelow(200); i < m; ++i)
            corners.push_back({r * std::cos(2 * kPi * i / m), r * std::sin(2 * kPi * i / m)});
        const std::vector<ContourElement> lines = polygon(corners);
        int32_t pairs = 0;
        for (const ContourElement& e : lines)
            for (const ContourElement& f : poly) pairs += segmentsCross(e, f);
        lineCrossings += pairs;
        ASSERT_EQ(intersectContours(lines.data(), static_cast<int32_t>(lines.size()), poly.data(),
                                    static_cast<int32_t>(poly.size()), rec.data(), kIsectTableSize),
                  pairs)
            << round;
        ASSERT_EQ(intersectContours(poly.data(), static_cast<int32_t>(poly.size()), lines.data(),
                                    static_cast<int32_t>(lines.size()), rec.data(), kIsectTableSize),
                  pairs)
            << round;
    }
    EXPECT_GT(crossings, 100);
    EXPECT_GT(lineCrossings, 100);
}

// Points on an element: on a line between its ends, on an arc's circle within its sweep (both senses),
// within 1e-5.
TEST(ChainCross, PointsOnElements) {
    const ContourElement line = lineElem(1, 2, 7, 10);            // length 10
    const ContourElement ccw = arcElem(5, 3, 2, 0, M_PI / 2, 1);  // from (7, 3) to (5, 5)
    const ContourElement cw = arcElem(5, 3, 2, M_PI / 2, 0, -1);  // from (5, 5) to (7, 3)
    const struct {
        Vec2 p;
        int line, arc;
    } cases[] = {
        {{4, 6}, 1, 0},
        {{4 + 4e-6, 6 - 3e-6}, 1, 0},
        {{4 + 8e-5, 6 - 6e-5}, 0, 0},
        {{-2, -2}, 0, 0},  // on the line beyond its start
        {{7, 10}, 1, 0},
        {{5 + 2 * std::cos(0.7), 3 + 2 * std::sin(0.7)}, 0, 1},
        {{5 + 2 * std::cos(2.0), 3 + 2 * std::sin(2.0)}, 0, 0},  // on the circle, beyond the sweep
        {{5 + 2.00001 * std::cos(0.3), 3 + 2.00001 * std::sin(0.3)}, 0, 1},
        {{5 + 1.9 * std::cos(0.3), 3 + 1.9 * std::sin(0.3)}, 0, 0},
        {{-5 + 2 * std::cos(0.7), -3 + 2 * std::sin(0.7)}, 0, 0},  // the circle mirrored about the origin
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pointOnElem(&c.p, &line), c.line) << c.p.x << " " << c.p.y;
        EXPECT_EQ(pointOnElem(&c.p, &ccw), c.arc) << c.p.x << " " << c.p.y;
        EXPECT_EQ(pointOnElem(&c.p, &cw), c.arc) << c.p.x << " " << c.p.y;
    }
}

// The points two elements share, against closed forms: crossings, and a tangent contact as its one point.
// Fractions along lines and arcs by hand: beyond the ends, round the angle 0, a full circle, and a point
// a little before an arc's start counted before it; a trimmed arc keeps its radius.
TEST(ChainCross, FractionsAlongElementsAndTrims) {
    const struct {
        ContourElement e;
        Vec2 p;
        double fraction;
    } cases[] = {
        {lineElem(4, 2, 14, 2), {6.5, 3}, 0.25},
        {lineElem(4, -2, 4, 8), {4, 10}, 1.2},
        {lineElem(3, 3, 3, 3), {5, 5}, 0},
        {arcElem(0, 0, 1, 0, kPi / 2, 1), {std::cos(kPi / 4), std::sin(kPi / 4)}, 0.5},
        {arcElem(0, 0, 1, 0, kPi / 2, 1), {std::cos(-0.1), std::sin(-0.1)}, -0.1 / (kPi / 2)},
        {arcElem(0, 0, 1, 0, kPi / 2, 1), {-1, 0}, 2},
        {arcElem(0, 0, 1, 0, kPi / 2, 1), {-1, -1}, 2.5},  // the middle of the gap still past the end
        {arcElem(0, 0, 1, 0, -kPi / 2, -1), {std::cos(kPi / 8), -std::sin(kPi / 8)}, 0.25},
        {arcElem(0, 0, 1, 1.5 * kPi, 2.5 * kPi, 1), {1, 0}, 0.5},
        {arcElem(0, 0, 1, 0, 2 * kPi, 1), {-1, 0}, 0.5},
        {arcElem(0, 0, 1e6, 0, 5e-9, 1), {1e6, 2.5e-3}, 0.5},  // a sweep of 5e-9 is no full circle
    };
    for (const auto& c : cases)
        EXPECT_NEAR(elemFraction(&c.e, &c.p), c.fraction, 1e-12) << c.e.type << " " << c.p.x << " " << c.p.y;
    ContourElement arc = arcElem(0, 0, 2, 0, kPi, 1), line = lineElem(0, 0, 10, 0);
    const Vec2 p{0, 2}, q{-2.5, 0}, a{2, 0}, b{7, 0};  // q off the circle: the arc keeps its radius
    elemTrim(&arc, &p, &q);
    elemTrim(&line, &a, &b);
    EXPECT_TRUE(arc.g[kAsx] == 0 && arc.g[kAsy] == 2 && arc.g[kAex] == -2.5 && arc.g[kAey] == 0 &&
                arc.g[kAr] == 2);
    EXPECT_TRUE(line.g[kLx1] == 2 && line.g[kLx2] == 7 && line.g[kLy1] == 0 && line.g[kLy2] == 0);
}

TEST(ChainCross, ElementPairsMeetWhereTheirCurvesDo) {
    // Arcs from (1, 0) sweeping 5e-300 either way round: slivers at (1, 0), not whole circles.
    const auto sliver = [](int32_t dir) {
        ContourElement e = arcElem(0, 0, 1, 0, 0, dir);
        e.g[kAey] = dir * 5e-300;
        return e;
    };
    const struct {
        ContourElement a, b;
        std::vector<Vec2> at;
        int n = 0;  // -1 for an overlap
    } cases[] = {
        {lineElem(0, 0, 4, 4), lineElem(0, 4, 4, 0), {{2, 2}}},
        {lineElem(-5, 0.6, 5, 0.6), arcElem(0, 0, 1, 0, kPi, 1), {{-0.8, 0.6}, {0.8, 0.6}}},
        {lineElem(-5, 1, 5, 1), arcElem(0, 0, 1, 0, kPi, 1), {{0, 1}}},  // tangent
        {arcElem(0, 0, 1, -kPi / 2, kPi / 2, 1),
         arcElem(3, 0, 2, kPi / 2, 1.5 * kPi, 1),
         {{1, 0}}},  // outside
        {arcElem(0, 0, 3, -kPi / 2, kPi / 2, 1), arcElem(2, 0, 1, -kPi / 2, kPi / 2, 1), {{3, 0}}},  // inside
        {arcElem(0, 0, 1, -kPi / 2, kPi / 2, 1), arcElem(3.001, 0, 2, kPi / 2, 1.5 * kPi, 1), {}},
        {arcElem(0, 0, 5, 0, kPi, 1),
         arcElem(6, 0, 5, 0, kPi, 1),
         {{3, 4}}},  // the lower point off both arcs
        // One circle: arcs meeting at one end, at both ends, and sharing a piece (-1, no points).
        {arcElem(0, 0, 1, 0, kPi / 2, 1), arcElem(0, 0, 1, kPi / 2, kPi, 1), {{0, 1}}},
        {arcElem(0, 0, 1, 0, kPi, 1), arcElem(0, 0, 1, kPi, 2 * kPi, 1), {{1, 0}, {-1, 0}}},
        {arcElem(0, 0, 1, 0, kPi, 1), arcElem(0, 0, 1, kPi / 2, 1.5 * kPi, 1), {}, -1},
        // Centres the tolerance (1e-4) apart: two circles; half of it: one.
        {arcElem(0, 0, 1, -kPi / 2, kPi / 2, 1),
         arcElem(0, 1e-4, 1, -kPi / 2, kPi / 2, 1),
         {{1 - 1.25e-9, 5e-5}}},
        {arcElem(0, 0, 1, -kPi / 2, kPi / 2, 1), arcElem(0, 5e-5, 1, -kPi / 2, kPi / 2, 1), {}, -1},
        {arcElem(0, 0, 1, 0, kPi, 1), arcElem(1e-4, 0, 1, 0, kPi, 1), {{5e-5, 1 - 1.25e-9}}},
        {arcElem(0, 0, 1e-4, 0, kPi, 1), arcElem(0, 0, 2e-4, 0, kPi, 1), {}},  // radii the tolerance apart
        // Circles meeting at (3, 4), one arc ending 5e-7 short of it (within the 1e-6 end slack), or 2e-6.
        {arcElem(0, 0, 5, 0, kPi, 1), arcElem(6, 0, 5, 0, std::atan2(4, -3) - 1e-7, 1), {{3, 4}}},
        {arcElem(0, 0, 5, 0, std::atan2(4, 3) - 1e-7, 1), arcElem(6, 0, 5, 0, kPi, 1), {{3, 4}}},
        {arcElem(0, 0, 5, 0, kPi, 1), arcElem(6, 0, 5, 0, std::atan2(4, -3) - 4e-7, 1), {}},
        {lineElem(3, -10, 3, 10), arcElem(0, 0, 5, 0, std::atan2(4, 3) - 1e-6, 1), {}},  // a line, 5e-6 short
        {lineElem(-2, 0, 0, 0), sliver(1), {}},
        {lineElem(-2, 0, 0, 0), sliver(-1), {}},
    };
    for (const auto& c : cases) {
        Vec2 p[2];
        ASSERT_EQ(elemIntersect(&c.a, &c.b, p), c.n < 0 ? c.n : static_cast<int>(c.at.size()));
        for (size_t k = 0; k < c.at.size(); ++k) {
            EXPECT_NEAR(p[k].x, c.at[k].x, 1e-9);
            EXPECT_NEAR(p[k].y, c.at[k].y, 1e-9);
        }
    }
}

// Crossings of two chains with each allocation in turn failing: -1, or the records of a run with memory
// to spare.
TEST(ChainCross, ShortOfMemoryGivesMinusOne) {
    PocketErrors errors;
    const std::vector<ContourElement> a = polygon({{0, 0}, {10, 0}, {10, 10}, {4, -2}}),
                                      b = box(5, -5, 8, 20);
    std::vector<PocketIsect> want(kIsectTableSize), got(kIsectTableSize);
    const int32_t n = intersectContours(a.data(), 4, b.data(), 4, want.data(), kIsectTableSize);
    ASSERT_GT(n, 0);
    long failed = 0;
    for (long k = 1;; ++k) {
        allocfail::arm(k);
        const int32_t m = intersectContours(a.data(), 4, b.data(), 4, got.data(), kIsectTableSize);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        if (!fired) break;
        failed += m == -1;
        if (m == -1) continue;
        ASSERT_EQ(m, n) << k;
        for (int32_t i = 0; i < n; ++i) EXPECT_TRUE(got[i].x == want[i].x && got[i].elemB == want[i].elemB);
    }
    EXPECT_GT(failed, 0);
}
