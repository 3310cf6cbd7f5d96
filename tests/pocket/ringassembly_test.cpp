#include "pocket/ringassembly.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "pocket/contouroffset.h"
#include "pocket/offset_util.h"
#include "pocket/pocket_util.h"

namespace {

using namespace offsettest;

// The ring with its arcs sampled finely holds p.
bool inside(const ContourElement* c, int32_t n, const Vec2& p) {
    return insidePolygon(samples({c, c + n}, kPi / 16), p);
}

// Two square bulbs joined by a neck of width 1 along y = 4.5 .. 5.5.
std::vector<ContourElement> dumbbell(double small) {
    const double y0 = 5 - small / 2, y1 = 5 + small / 2;
    return polygon({{0, 0},
                    {10, 0},
                    {10, 4.5},
                    {14, 4.5},
                    {14, y0},
                    {14 + small, y0},
                    {14 + small, y1},
                    {14, y1},
                    {14, 5.5},
                    {10, 5.5},
                    {10, 10},
                    {0, 10}});
}

TEST(RingAssembly, NeckSplitsOrDropsLoops) {
    PocketErrors errors;
    std::vector<ContourElement> out(kClistMaxElements);
    int32_t start[8], count[8], end = 0;
    struct Case {
        double small, d;
        int rings;
        int ringOfBig, ringOfSmall;  // which ring holds each bulb's centre, -1 none
    };
    const Case cases[] = {
        // The neck closes: both bulbs keep a ring of their own.
        {8, 1.5, 2, 0, 1},
        // The small bulb is narrower than twice the distance: only the big one is left.
        {2.5, 1.5, 1, 0, -1},
        // Half the neck's width or less keeps one ring through the neck.
        {8, 0.4, 1, 0, 0},
    };
    for (const Case& c : cases) {
        const std::vector<ContourElement> in = dumbbell(c.small);
        const int32_t n =
            offsetContour(in.data(), static_cast<int32_t>(in.size()), 1, c.d, out.data(), &end, start, count);
        ASSERT_EQ(n, c.rings) << c.small << " " << c.d;
        const Vec2 big{5, 5}, small{14 + c.small / 2, 5};
        int32_t holdsBig = -1, holdsSmall = -1;
        for (int32_t i = 0; i < n; ++i) {
            if (inside(out.data() + start[i], count[i], big)) holdsBig = holdsBig < 0 ? i : 99;
            if (inside(out.data() + start[i], count[i], small)) holdsSmall = holdsSmall < 0 ? i : 99;
        }
        EXPECT_EQ(holdsBig >= 0, c.ringOfBig >= 0);
        EXPECT_EQ(holdsSmall >= 0, c.ringOfSmall >= 0);
        EXPECT_NE(holdsBig, 99);
        EXPECT_NE(holdsSmall, 99);
        EXPECT_EQ(holdsSmall >= 0 && holdsBig == holdsSmall,
                  c.ringOfSmall >= 0 && c.ringOfBig == c.ringOfSmall);
        EXPECT_EQ(pocketOffsetState().problem, 0);
    }
    // A slot narrower than twice the distance is dropped; the input's grid is capped at 128 cells across,
    // the last ending on the right edge, which reaches the top row.
    const std::vector<ContourElement> slot =
        polygon({{0, 0}, {10, 0}, {10, -1}, {10.15, -1}, {10.15, 0}, {20, 0}, {20, 10}, {0, 10}});
    ASSERT_EQ(offsetContour(slot.data(), 8, 1, 0.1, out.data(), &end, start, count), 1);
    EXPECT_TRUE(inside(out.data(), count[0], {19.85, 9.85}));
    EXPECT_FALSE(inside(out.data(), count[0], {10.075, -0.5}));
}

TEST(RingAssembly, RingChecks) {
    PocketErrors errors;
    const std::vector<ContourElement> sq = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    EXPECT_EQ(ringsAlreadyClosed(sq.data(), 4), 1);
    EXPECT_EQ(ringHasDuplicate(sq.data(), 4), 0);
    EXPECT_EQ(ringHasZeroElement(sq.data(), 4), 0);
    std::vector<ContourElement> dup = sq;
    dup.push_back(sq[1]);
    EXPECT_EQ(ringHasDuplicate(dup.data(), 5), 1);
    dup.insert(dup.begin() + 3, sq[2]);  // a copy next to its element is not a duplicate
    EXPECT_EQ(ringHasDuplicate(dup.data() + 1, 4), 0);
    std::vector<ContourElement> leftmost = polygon({{-5, 0}, {10, 0}, {10, 10}, {0, 10}});
    leftmost.push_back(leftmost[0]);  // the copy of the element starting farthest left
    EXPECT_EQ(ringHasDuplicate(leftmost.data(), 5), 1);
    // Starts 1e-4 or more apart in x are different elements, whatever else they share.
    for (const auto& [dx, same] : {std::pair{1.0, 0}, {1e-4, 0}, {5e-5, 1}}) {
        const ContourElement fan[3] = {lineElem(0, 0, 5, 5), lineElem(5, 5, 9, 9), lineElem(dx, 0, 5, 5)};
        EXPECT_EQ(ringHasDuplicate(fan, 3), same) << dx;
    }
    std::vector<ContourElement> zero = sq;
    zero.push_back(lineElem(10, 0, 10, 0));
    EXPECT_EQ(ringHasZeroElement(zero.data(), 5), 1);
    // What lies past the count is not read: here an element ending where the first does.
    std::vector<ContourElement> beyond = sq;
    beyond.push_back(sq[0]);
    EXPECT_EQ(ringHasZeroElement(beyond.data(), 4), 0);
    // Ends within 1e-5 in x and in y count as one place.
    for (const auto& [dx, dy, same] : {std::tuple{5e-6, 5e-6, 1}, {2e-5, 0.0, 0}, {0.0, 2e-5, 0}}) {
        std::vector<ContourElement> near = sq;
        near.push_back(lineElem(10, 10, 10 + dx, dy));
        EXPECT_EQ(ringHasZeroElement(near.data(), 5), same) << dx << " " << dy;
    }

    // An end exactly 0.9 x d from the input (here 9 from a circle of radius 11, at (12, 16)) still keeps
    // the distance; one a little nearer does not.
    {
        const std::vector<ContourElement> input = offsettest::circle(0, 0, 11, 2, 1);
        const ContourElement out[2] = {lineElem(12, 16, 20, 16), lineElem(20, 16, 12, 16)},
                             in[2] = {lineElem(11.99, 16, 20, 16), lineElem(20, 16, 11.99, 16)};
        EXPECT_EQ(ringKeepsDistance(out, 2, input.data(), 2, 10), 1);
        EXPECT_EQ(ringKeepsDistance(in, 2, input.data(), 2, 10), 0);
        // So does one exactly 9 from either end of an arc, beyond its sweep.
        ContourElement quarter = arcElem(0, 0, 10, kPi / 2, kPi, 1);
        quarter.g[kAsx] = 0, quarter.g[kAsy] = 10, quarter.g[kAex] = -10, quarter.g[kAey] = 0;
        for (const Vec2 p : {Vec2{9, 10}, Vec2{-10, -9}}) {
            const ContourElement two[2] = {lineElem(p.x, p.y, p.x, p.y - 1),
                                           lineElem(p.x, p.y - 1, p.x, p.y)};
            EXPECT_EQ(ringKeepsDistance(two, 2, &quarter, 1, 10), 1) << p.x;
        }
        // An index made for another input of as many elements is neither used nor filled.
        const ContourElement far[2] = {lineElem(90, 0, 99, 0), lineElem(99, 0, 90, 0)},
                             farCopy[2] = {far[0], far[1]};
        RingInputIndex* other = ringInputIndexCreate(far, 2);
        EXPECT_EQ(ringKeepsDistance(in, 2, input.data(), 2, 10, other), 0);
        EXPECT_EQ(ringKeepsDistance(in, 2, farCopy, 2, 10, other), 1);
        ringInputIndexFree(other);
    }

    // An arc of most of a turn on a short chord: its ends keep far off, its middle dips to 1 from the
    // input, which the offset check must see.
    {
        const std::vector<ContourElement> input = polygon({{-2, -2}, {2, -2}, {2, 2}, {-2, 2}});
        const double a0 = 100 * kPi / 180, a1 = 440 * kPi / 180;
        const ContourElement bow = arcElem(0, 8, 5, a0, a1, 1);
        const Vec2 s = offsettest::startPoint(bow), e = offsettest::endPoint(bow);
        const ContourElement ring[2] = {bow, lineElem(e.x, e.y, s.x, s.y)};
        EXPECT_EQ(ringKeepsOffset(ring, 2, input.data(), 4, 4), 0);
        EXPECT_EQ(ringKeepsOffset(ring, 2, input.data(), 4, 0.9), 1);
    }

    // Full arcs count only in rings of five or more elements, in mode 1 only as the first element.
    std::vector<ContourElement> five = sq;
    five.push_back(arcElem(0, 0, 1, 0, 1.9 * kPi, 1));
    for (int first = 0; first < 3; ++first, std::rotate(five.begin(), five.end() - 1, five.end()))
        EXPECT_EQ(ringHasFullArc(5, five.data(), 0) * 100 + ringHasFullArc(5, five.data(), 1) * 10 +
                      ringHasFullArc(4, five.data(), 0),
                  first == 1 ? 110 : 100);

    // A ring of one element has no ends after its first to test.
    EXPECT_EQ(ringKeepsDistance(sq.data(), 1, sq.data(), 4, 1.5), 1);
    // The input as its own ring fails both checks down to a distance of 0.00011; below it both pass.
    for (const auto& [d, keeps] : {std::pair{0.0005, 0}, {0.00012, 0}, {0.0001, 1}}) {
        EXPECT_EQ(ringKeepsDistance(sq.data(), 4, sq.data(), 4, d), keeps) << d;
        EXPECT_EQ(ringKeepsOffset(sq.data(), 4, sq.data(), 4, d), keeps) << d;
    }

    // Crossings within the tolerance of an invalid one become invalid (one exactly the tolerance off does
    // not); valid neighbours of a valid one stay as they are.
    pocketKernel().tolerance = 1e-4;
    PocketIsect rec[5] = {{0, 0, 0, 1, 1, kIsectInvalid},
                          {5e-5, -5e-5, 0, 2, 2, kIsectValid},
                          {1, 0, 0, 3, 3, kIsectValid},
                          {1 + 5e-5, 0, 0, 4, 4, kIsectValid},
                          {-1e-4, 0, 0, 5, 5, kIsectValid}};
    isectMarkNearInvalid(rec, 5);
    const int32_t states[5] = {kIsectInvalid, kIsectInvalid, kIsectValid, kIsectValid, kIsectValid};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(rec[i].state, states[i]) << i;
    // Records past the count are neither marked nor read, whichever lies near an invalid one.
    PocketIsect past[2][3] = {
        {{0, 0, 0, 1, 1, kIsectInvalid}, {5, 5, 0, 2, 2, kIsectValid}, {0, 0, 0, 3, 3, kIsectValid}},
        {{0, 0, 0, 1, 1, kIsectValid}, {5, 5, 0, 2, 2, kIsectValid}, {5, 5, 0, 3, 3, kIsectInvalid}}};
    for (auto& r : past) {
        const int32_t last = r[2].state;
        isectMarkNearInvalid(r, 2);
        EXPECT_EQ(r[1].state, kIsectValid);
        EXPECT_EQ(r[2].state, last);
    }

    // Bulging arcs: radius 5000 or more on a chord of at most 1 whose middle lies farther than twice the
    // distance from the source (here 5 from the x axis); lines never count.
    {
        const ContourElement source[1] = {lineElem(-10, 0, 10, 0)};
        const double cy = 5 - std::sqrt(5000.0 * 5000.0 - 0.25);
        const auto bow = [&](double r, double chord) {
            ContourElement e = arcElem(0.5, cy, r, 0, 1, 1);
            e.g[kAsx] = 0.5 + chord / 2;
            e.g[kAsy] = 5;
            e.g[kAex] = 0.5 - chord / 2;
            e.g[kAey] = 5;
            return e;
        };
        const struct {
            ContourElement e;
            double d;
            int bulges;
        } bows[] = {{bow(5000, 1), 2.49, 1},
                    {bow(5000, 1), 2.51, 0},
                    {bow(4999.99, 1), 2.49, 0},
                    {bow(5000, 1.001), 2.49, 0},
                    {lineElem(1, 5, 0, 5), 2.49, 0}};
        for (const auto& b : bows) {
            const ContourElement ring[2] = {lineElem(0, 5, 1, 5), b.e};
            EXPECT_EQ(offsetArcBulges(ring, 2, source, 1, b.d), b.bulges) << b.e.g[kAr] << " " << b.d;
        }
        // A middle exactly twice the distance off (5000 up, the source at 4995) does not bulge yet.
        const ContourElement top = arcElem(0, 0, 5000, kPi / 2 - 1e-4, kPi / 2 + 1e-4, 1),
                             below = lineElem(-10, 4995, 10, 4995);
        EXPECT_EQ(std::pair(offsetArcBulges(&top, 1, &below, 1, 2.5), offsetArcBulges(&top, 1, &below, 1, 2.4999)),
                  std::pair(0, 1));
    }

    // One ring of several around the input is enough.
    std::vector<ContourElement> rings = polygon({{50, 50}, {60, 50}, {60, 60}, {50, 60}});
    const std::vector<ContourElement> around = polygon({{-5, -5}, {15, -5}, {15, 15}, {-5, 15}});
    rings.insert(rings.end(), around.begin(), around.end());
    const int32_t start[2] = {0, 4}, count[2] = {4, 4};
    EXPECT_EQ(ringsContainInput(rings.data(), start, count, 1, sq.data(), 4), 0);
    EXPECT_EQ(ringsContainInput(rings.data(), start, count, 2, sq.data(), 4), 1);
}

// The classification radius: the distance less a tolerance (0.04 while a retry shrinks the distance,
// the offset's classification tolerance otherwise) scaled by the distance's band, never below the
// distance when the tolerance reaches it.
TEST(RingAssembly, ClassifyRadiusByDistanceBand) {
    PocketErrors errors;
    PocketOffsetState& st = pocketOffsetState();
    const PocketOffsetState saved = st;
    const struct {
        int32_t growMode;
        double classifyTol, d, want;
    } cases[] = {
        {0, 0.005, 0.5, 0.5 - 0.004}, {0, 0.005, 0.7, 0.7 - 0.008}, {0, 0.005, 1, 1 - 0.02},
        {0, 0.005, 4.8, 4.8 - 0.04},  {0, 0.005, 50, 50 - 0.04},    {0, 0.005, 60, 60 - 0.08},
        {0, 0.005, 0.003, 0.003},     {0, 0.005, 0.004, 0.004},     {1, 0.005, 10, 10 - 0.005},
        {1, 0.005, 2, 2 - 0.0025},    {1, 0.01, 0.3, 0.3 - 0.001},  {1, 0.01, 100, 100 - 0.02},
        {1, 0.005, 0.0004, 0.0004},   {1, 0.005, 0.9, 0.9 - 0.001},
    };
    for (const auto& c : cases) {
        st.growMode = c.growMode;
        st.classifyTol = c.classifyTol;
        EXPECT_NEAR(isectClassifyRadius(c.d), c.want, 1e-12) << c.growMode << " " << c.d;
    }
    // A record nearer the input than that radius less the kernel tolerance (10 - 0.01 - 0.05) is invalid,
    // and so is one within the tolerance of it in x and y. A record past the count (right on the input)
    // belongs to the caller and is left as it was.
    st.growMode = 1, pocketKernel().tolerance = 0.05;
    const std::vector<ContourElement> sq = polygon({{0, 0}, {100, 0}, {100, 100}, {0, 100}});
    PocketIsect rec[5] = {{50, 9.93, 0, 1, 1, 0},
                          {20, 9.95, 0, 1, 1, 0},
                          {50.03, 9.96, 0, 1, 1, 0},
                          {50.09, 9.96, 0, 1, 1, 0},
                          {50, 0, 0, 1, 1, 7}};
    isectClassify(rec, 4, nullptr, 0, sq.data(), 4, 10, 1);
    EXPECT_EQ(rec[0].state * 1000 + rec[1].state * 100 + rec[2].state * 10 + rec[3].state, 2121);
    EXPECT_EQ(rec[4].state, 7);
    st = saved;
}

// The distance checks against the closed-form distance of every input element, on seeded
// wavy contours with circle islands of arcs (a few long elements or many runs, short and long
// reach).
TEST(RingAssembly, DistanceChecksAgreeWithClosedFormDistances) {
    PocketErrors errors;
    std::mt19937 rng(5011);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int decided = 0;
    for (int shape = 0; shape < 60; ++shape) {
        const int n = shape % 4 == 0 ? 3 + shape / 4 : 10 + 7 * shape;
        std::vector<Vec2> p;
        for (int i = 0; i < n; ++i) {
            const double a = 2 * kPi * i / n, r = 100 + 20 * std::sin(5 * a + shape) * u(rng);
            p.push_back({r * std::cos(a), 0.6 * r * std::sin(a)});
        }
        std::vector<ContourElement> in = polygon(p);
        for (const ContourElement& e : circle(20 * u(rng), 10 * u(rng), 5 + 10 * u(rng), 1 + shape % 4, -1))
            in.push_back(e);
        // A ring of random points near the contour: some come close to it, some do not.
        std::vector<Vec2> q;
        for (int i = 0; i < 40; ++i) {
            const double a = 2 * kPi * (i + u(rng)) / 40, r = 60 + 80 * u(rng);
            q.push_back({r * std::cos(a), 0.6 * r * std::sin(a)});
        }
        const std::vector<ContourElement> ring = polygon(q);
        const double d = 0.5 + 30 * u(rng) * u(rng);
        auto nearest = [&](const Vec2& x) { return distanceTo(x, in); };
        // Single points near the contour, each the one end a ring of two lines puts to the test.
        for (int k = 0; k < 30; ++k) {
            const double a = 2 * kPi * u(rng), r = 100 + 40 * (u(rng) - 0.5);
            const Vec2 q0{r * std::cos(a), 0.6 * r * std::sin(a)}, q1{q0.x + 1e-3, q0.y};
            const ContourElement two[2] = {lineElem(q0.x, q0.y, q1.x, q1.y),
                                           lineElem(q1.x, q1.y, q0.x, q0.y)};
            const double dq = nearest(q0);
            if (std::fabs(dq - 0.9 * d) < 1e-7) continue;
            EXPECT_EQ(ringKeepsDistance(two, 2, in.data(), static_cast<int32_t>(in.size()), d),
                      dq >= 0.9 * d ? 1 : 0)
                << shape << " " << k;
            decided += dq < 0.9 * d;
        }
        // ringKeepsDistance: the ends after the first against 0.9 x d.
        double closest = 1e300;
        for (size_t i = 1; i < ring.size(); ++i) closest = std::min(closest, nearest(endPoint(ring[i])));
        if (std::fabs(closest - 0.9 * d) > 1e-9 * 200) {
            EXPECT_EQ(ringKeepsDistance(ring.data(), 40, in.data(), static_cast<int32_t>(in.size()), d),
                      closest >= 0.9 * d ? 1 : 0)
                << shape;
            ++decided;
        }
        // ringKeepsOffset: every end, and the middle of a chord longer than d, against the
        // classification radius.
        const double r = isectClassifyRadius(d) - pocketKernel().tolerance;
        closest = 1e300;
        for (const ContourElement& e : ring) {
            closest = std::min(closest, nearest(endPoint(e)));
            const Vec2 s = startPoint(e), t = endPoint(e);
            if (std::hypot(t.x - s.x, t.y - s.y) > d)
                closest = std::min(closest, nearest(pointAlong(e, 0.5)));
        }
        if (std::fabs(closest - r) > 1e-9 * 200) {
            EXPECT_EQ(ringKeepsOffset(ring.data(), 40, in.data(), static_cast<int32_t>(in.size()), d),
                      closest >= r ? 1 : 0)
                << shape;
            ++decided;
        }
    }
    EXPECT_GT(decided, 400);
    // An arc bulging out of its neighbours' boxes, second in its run of elements, still counts.
    const std::vector<ContourElement> bulge = {lineElem(0, 0, 10, 0), arcElem(10, 5, 5, -kPi / 2, kPi / 2, 1),
                                               lineElem(10, 10, 0, 10), lineElem(0, 10, 0, 0)};
    // Exactly 0.9 of the distance (4.5 of 5) from the bottom line is not nearer: that point keeps it.
    const struct {
        double x, y, d;
        int keeps;
    } probes[] = {{15.5, 5, 1, 0}, {15.95, 5, 1, 1}, {5, -4.5, 5, 1}};
    for (const auto& [x, y, d, keeps] : probes) {
        const ContourElement two[2] = {lineElem(x, y, x + 1e-3, y), lineElem(x + 1e-3, y, x, y)};
        EXPECT_EQ(ringKeepsDistance(two, 2, bulge.data(), 4, d), keeps) << x;
    }
}

TEST(RingAssembly, ClosingOpenChains) {
    PocketErrors errors;
    struct Case {
        double gap;
        int snap;
        int32_t count;
    };
    const Case cases[] = {{0.03, 1, 3}, {0.03, 0, 4}, {0.2, 1, 4}, {0.005, 0, 3}};
    // Away from the origin, so that a gap measured with a sign turned is far off.
    for (const Case& c : cases) {
        std::vector<ContourElement> chain = {lineElem(5, 3, 15, 3), lineElem(15, 3, 15, 13),
                                             lineElem(15, 13, 5, 3 + c.gap)};
        chain.resize(4);
        const int32_t n = chainCloseEnd(chain.data(), 3, c.snap);
        EXPECT_EQ(n, c.count) << c.gap << " " << c.snap;
        chain.resize(n);
        EXPECT_EQ(ringsAlreadyClosed(chain.data(), n), c.gap > 0.01 ? 1 : 0);
    }
    // A lone arc short of a whole turn is closed by a line from its end to its start, of the arc's tag.
    std::vector<ContourElement> arc = {arcElem(0, 0, 5, 0.04, 2 * kPi, 1), {}, {}};
    arc[0].sourceTag = 3;
    ASSERT_EQ(chainCloseEnd(arc.data(), 1, 1), 2);
    EXPECT_EQ(arc[1].type, kElemLine);
    EXPECT_EQ(arc[1].sourceTag, 3);
    EXPECT_NEAR(arc[1].g[kLx1], 5, 1e-12);
    EXPECT_NEAR(arc[1].g[kLx2], 5 * std::cos(0.04), 1e-12);
    EXPECT_NEAR(arc[1].g[kLy2], 5 * std::sin(0.04), 1e-12);
    for (int k = kLy2 + 1; k < 8; ++k) EXPECT_EQ(arc[1].g[k], 0) << k;  // no arc slots left in the line
    EXPECT_EQ(chainCloseEnd(arc.data(), 0, 1), 0);
    // One small break is joined at its middle, only for a scaled geometry.
    std::vector<ContourElement> broken = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    broken[2].g[kLx1] = 10.01;
    EXPECT_EQ(chainJoinSingleGap(broken.data(), 4), 0);
    pocketKernel().geometryScale = 25;
    EXPECT_EQ(chainJoinSingleGap(broken.data(), 4), 1);
    EXPECT_NEAR(broken[1].g[kLx2], 10.005, 1e-12);
    EXPECT_EQ(ringsAlreadyClosed(broken.data(), 4), 1);
    // A break between the last element and the first is joined too; two breaks or a wide one are not.
    std::vector<ContourElement> atStart = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    atStart[0].g[kLy1] = 0.01;
    EXPECT_EQ(chainJoinSingleGap(atStart.data(), 4), 1);
    EXPECT_NEAR(atStart[3].g[kLy2], 0.005, 1e-12);
    EXPECT_EQ(ringsAlreadyClosed(atStart.data(), 4), 1);
    std::vector<ContourElement> two = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}}), wide = two;
    two[0].g[kLy1] = 0.01, two[2].g[kLx1] = 10.01;
    wide[0].g[kLy1] = 0.9;  // more than 0.02 x the scale of 25
    EXPECT_EQ(chainJoinSingleGap(two.data(), 4) + chainJoinSingleGap(wide.data(), 4), 0);
    std::vector<ContourElement> edge = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    edge[0].g[kLy1] = 0.5;  // exactly 0.02 x the scale: still joined
    EXPECT_EQ(chainJoinSingleGap(edge.data(), 4), 1);
    for (const int k : {kLx1, kLy1}) {  // ends exactly the joint tolerance 1e-4 apart meet: no break
        std::vector<ContourElement> hair = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
        hair[0].g[k] = 1e-4;
        EXPECT_EQ(chainJoinSingleGap(hair.data(), 4), 0) << k;
    }
    // The arcs on either side of the break take their ends' mean distance from the centre as radius.
    std::vector<ContourElement> disc;
    for (int q = 0; q < 4; ++q) disc.push_back(arcElem(0, 0, 5, q * kPi / 2, (q + 1) * kPi / 2, 1));
    disc[1].g[kAsx] = 0.04;
    ASSERT_EQ(chainJoinSingleGap(disc.data(), 4), 1);
    for (const ContourElement& e : disc) {
        const Vec2 s = startPoint(e), t = endPoint(e), c{e.g[kAcx], e.g[kAcy]};
        EXPECT_NEAR(std::hypot(s.x - c.x, s.y - c.y) + std::hypot(t.x - c.x, t.y - c.y), 2 * e.g[kAr], 1e-12);
    }
}

// Arc centres recomputed from the ends and radius on the side the stale centre lies (the chord's
// middle when the centre lies within the tolerance of the chord); chords up to the tolerance and radii
// shorter than half the chord stay. The tolerance of 0.25 makes every distance below exact.
TEST(RingAssembly, ArcCentresRepairedFromTheirEnds) {
    PocketErrors errors;
    pocketKernel().tolerance = 0.25;
    const auto arc = [](double ex, double cx, double cy, double r) {
        ContourElement e = lineElem(0, 0, 0, 0);
        e.type = kElemArc;
        e.g[kAex] = ex;
        e.g[kAcx] = cx;
        e.g[kAcy] = cy;
        e.g[kAr] = r;
        return e;
    };
    const struct {
        double ex, cx, cy, r;  // an arc from (0, 0) to (ex, 0)
        Vec2 want;
    } cases[] = {
        {8, 4.3, 3.2, 5, {4, 3}}, {8, 3.1, -2.5, 5, {4, -3}}, {8, 2, 0.2, 5, {4, 0}},
        {8, 2, 0.25, 5, {4, 3}},  {8, 2, -0.3, 5, {4, -3}},   {8, 4, 1, 4, {4, 0}},
        {8, 5, 1, 3.9, {5, 1}},   {0.25, 7, 7, 1, {7, 7}},    {0.5, 0.25, 2, 1.25, {0.25, 1.224744871391589}},
    };
    for (const int at : {0, 1}) {
        for (const auto& c : cases) {
            // Read as an arc, the line would have its centre on its chord.
            ContourElement ring[2] = {lineElem(0.5, 0.5, 2, 2), lineElem(0.5, 0.5, 2, 2)};
            ring[at] = arc(c.ex, c.cx, c.cy, c.r);
            arcCentreRepair(ring, 2);
            EXPECT_NEAR(ring[at].g[kAcx], c.want.x, 1e-12) << at << " " << c.cx << " " << c.cy;
            EXPECT_NEAR(ring[at].g[kAcy], c.want.y, 1e-12) << at << " " << c.cx << " " << c.cy;
            EXPECT_EQ(ring[1 - at].g[kLx1], 0.5);
        }
    }
}

// A chain of two loops through one crossing at the origin: a loop is a ring when the point halfway along
// it (by the lengths of its lines and arc) keeps the distance 3 from the input, here two short segments
// 2.5 from where a wrong length would put that point. The second loop comes within 2.5 of the third.
TEST(RingAssembly, LoopJudgedAtItsMiddleByLength) {
    PocketErrors errors;
    const double q = kPi / 2;
    std::vector<ContourElement> chain = {lineElem(0, 0, 0, 10),     arcElem(0, 0, 10, q, 0, -1),
                                         lineElem(10, 0, 10, -20),  lineElem(10, -20, 0, -20),
                                         lineElem(0, -20, 0, 0),    lineElem(0, 0, -10, 0),
                                         lineElem(-10, 0, -10, 10), lineElem(-10, 10, 0, 0)};
    chain[1].g[kAex] = 10;  // the arc's ends exactly on the lines
    chain[1].g[kAey] = 0;
    chain[1].g[kAsx] = 0;
    // The loop's middle lies at (10, -12.15) on the third element, 37.85 along it; measured with a
    // quarter arc three times as long it would be on the arc near (9.93, 1.18), with the bottom line
    // four times as long at (8.11, -20).
    const ContourElement input[3] = {lineElem(12, 1, 12.5, 1), lineElem(8, -22.5, 8.2, -22.5),
                                     lineElem(-12.5, 7, -12.5, 7.2)};
    // All of it turned and moved off the origin, where a centre's sign or an axis would not show.
    const double c = std::cos(0.5), s = std::sin(0.5);
    const auto move = [&](ContourElement& e) {
        for (int k = 0; k < (e.type == kElemArc ? 6 : 4); k += 2) {
            const double x = e.g[k], y = e.g[k + 1];
            e.g[k] = c * x - s * y + 3, e.g[k + 1] = s * x + c * y + 7;
        }
    };
    for (ContourElement& e : chain) move(e);
    // Without the third input segment the second loop keeps the distance too: a ring of its own once the
    // first has closed at the crossing, never run on into from it; alone when the crossing's place on the
    // first element (its A side) is spent already.
    const struct {
        bool near;
        int32_t inputs, state, skip;
        std::vector<int32_t> rings;
    } runs[] = {{false, 3, kIsectValid, 0, {5}},
                {true, 3, kIsectValid, 0, {}},
                {false, 2, kIsectValid, 0, {5, 3}},
                {false, 2, kIsectUsedA, 5, {3}}};
    for (const auto& r : runs) {
        PocketIsect rec[1] = {{3, 7, 0, 1, 6, r.state}};
        std::vector<ContourElement> out(16);
        // Moved 2.94 from the middle (3.6 from where a sweep 0.19 too wide puts it), the first input segment
        // makes the first loop fail too.
        ContourElement in[3] = {input[0], input[1], input[2]};
        if (r.near) in[0] = lineElem(12, -14.3, 12.5, -14.3);
        for (ContourElement& e : in) move(e);
        size_t first = static_cast<size_t>(r.skip);
        for (const int32_t n : r.rings) {
            ASSERT_EQ(offsetBuildFromHits(rec, 1, chain.data(), 8, out.data(), 16, in, r.inputs, 3, 0), n)
                << r.near << r.inputs;
            const ContourElement* want = chain.data() + first;
            for (int i = 0; i < n; ++i) {
                EXPECT_NEAR(offsettest::startPoint(out[i]).x, offsettest::startPoint(want[i]).x, 1e-9) << i;
                EXPECT_NEAR(offsettest::startPoint(out[i]).y, offsettest::startPoint(want[i]).y, 1e-9) << i;
            }
            first += static_cast<size_t>(n);
        }
        EXPECT_EQ(offsetBuildFromHits(rec, 1, chain.data(), 8, out.data(), 16, in, r.inputs, 3, 0), 0);
        EXPECT_EQ(pocketOffsetState().problem, 0);
    }
}

// Two square loops through the origin, their middles (10, 10) and (-10, -10) inside the input: the first at
// the height of the input's corner (20, 10), where the boundary passes, a crossing counted once. Then inside
// an outer box 400.3 wide, left of an island whose left side lies on or a few ulps off k/128 of that width
// (the edges of a grid 128 cells across): the ray from (10, 10) crosses three sides wherever that falls.
// Last, a half-circle notch from (30, 10) to (40, 10): the ray runs through both its ends and counts once.
TEST(RingAssembly, PieceInsideAtTheHeightOfAnInputCorner) {
    PocketErrors errors;
    const std::vector<ContourElement> chain =
        polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}, {-10, 0}, {-10, -10}, {0, -10}});
    std::vector<std::vector<ContourElement>> inputs = {
        polygon({{-30, -30}, {30, -30}, {20, 10}, {30, 40}, {-30, 40}})};
    for (int k = 14; k <= 19; ++k) {
        double x = -30 + k * ((370.3 + 30) / 128);
        for (int ulp = 0; ulp < 3; ++ulp, x = std::nextafter(x, 0.0)) {
            inputs.push_back(polygon({{-30, -30}, {370.3, -30}, {370.3, 40}, {-30, 40}}));
            for (const ContourElement& e : polygon({{x, 0}, {x, 20}, {x + 5, 20}, {x + 5, 0}}))
                inputs.back().push_back(e);
        }
    }
    inputs.push_back(polygon({{-30, -30}, {30, -30}, {30, 10}, {40, 10}, {40, 40}, {-30, 40}}));
    inputs.back()[2] = arcElem(35, 10, 5, kPi, 0, -1);
    for (const auto& input : inputs) {
        const auto n = static_cast<int32_t>(input.size());
        PocketIsect rec[1] = {{0, 0, 0, 1, 5, kIsectValid}};
        std::vector<ContourElement> out(16);
        // The loops come back in turn, each read by its far corner.
        for (const double far : {10.0, -10.0}) {
            ASSERT_EQ(offsetBuildFromHits(rec, 1, chain.data(), 8, out.data(), 16, input.data(), n, 3, 1), 4);
            EXPECT_EQ(offsettest::startPoint(out[2]).x, far) << n << " " << input.back().g[kLx1];
        }
        EXPECT_EQ(offsetBuildFromHits(rec, 1, chain.data(), 8, out.data(), 16, input.data(), n, 3, 1), 0);
    }
}

}  // namespace
