// Trochoidal links: the half loop's bulge and flatness, a link of n loops
// through its division points, the width halving against INPUT walls.
#include "pocket/trochoid.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "kernel/base/rng.h"
#include "offset_util.h"
#include "pocket/pocket_util.h"
#include "vecnear.h"

namespace {

struct Extent {
    double ahead = -1e300, behind = 1e300, left = -1e300, right = 1e300;
};

// Extent of a chain measured along d and to its left, from the origin point o.
Extent extentOf(const std::vector<ContourElement>& c, int32_t n, Vec2 o, Vec2 d) {
    Extent e;
    for (int32_t i = 0; i < n; ++i) {
        for (int k : {0, 2}) {
            const double x = c[static_cast<size_t>(i)].g[k] - o.x,
                         y = c[static_cast<size_t>(i)].g[k + 1] - o.y;
            const double along = x * d.x + y * d.y, side = -x * d.y + y * d.x;
            e.ahead = std::max(e.ahead, along);
            e.behind = std::min(e.behind, along);
            e.left = std::max(e.left, side);
            e.right = std::min(e.right, side);
        }
    }
    return e;
}

// A chain of lines from a to b, each starting where the one before ends.
void expectJoined(const std::vector<ContourElement>& c, int32_t n, Vec2 a, Vec2 b) {
    ASSERT_GT(n, 0);
    EXPECT_XY(EXPECT_NEAR, offsettest::startPoint(c[0]), a.x, a.y, 1e-9);
    for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
        const Vec2 next = i + 1 < static_cast<size_t>(n) ? offsettest::startPoint(c[i + 1]) : b;
        EXPECT_XY(EXPECT_NEAR, offsettest::endPoint(c[i]), next.x, next.y, 1e-9);
        EXPECT_EQ(c[i].type, kElemLine);
    }
}

}  // namespace

// P and M a width w apart: the half loop bulges ahead of them by w/2 (the
// Bezier half circle), stays between them sideways and is about pi w / 2 long.
TEST(Trochoid, HalfLoopBulgesHalfTheWidthAhead) {
    rngResetState();
    std::vector<ContourElement> out(2000);
    for (int i = 0; i < 50; ++i) {
        const double w = 0.5 + 10 * rngUniform(), a = 6.28 * rngUniform();
        const Vec2 d{std::cos(a), std::sin(a)}, back{-d.x, -d.y};
        const Vec2 p{10 * rngUniform(), 10 * rngUniform()}, m{p.x - w * d.y, p.y + w * d.x};
        const double eps = 0.002 * w;
        int32_t n = trochoidHalfLoop(&p, &m, &d, &back, eps, out.data(), 2000);
        expectJoined(out, n, p, m);
        Extent e = extentOf(out, n, p, d);
        EXPECT_NEAR(e.ahead, w / 2, eps + 1e-9);
        EXPECT_GE(e.behind, -1e-9);
        EXPECT_LE(e.left, w + 1e-9);
        EXPECT_GE(e.right, -1e-9);
        double len = 0;
        for (int32_t k = 0; k < n; ++k)
            len += std::hypot(out[k].g[2] - out[k].g[0], out[k].g[3] - out[k].g[1]);
        EXPECT_NEAR(len, M_PI * w / 2, 0.02 * w);
    }
    // Directions shorter than 1e-5 build nothing.
    const Vec2 p{0, 0}, m{0, 1}, tiny{1e-6, 0}, d{1, 0};
    EXPECT_EQ(trochoidHalfLoop(&p, &m, &tiny, &d, 0.01, out.data(), 2000), -1);
    // Nor does a missing point, direction or output, each left out in turn.
    for (int k = 0; k < 5; ++k) {
        const Vec2* v[4] = {&p, &m, &d, &d};
        if (k < 4) v[k] = nullptr;
        ContourElement* o = k < 4 ? out.data() : nullptr;
        EXPECT_EQ(trochoidHalfLoop(v[0], v[1], v[2], v[3], 0.01, o, 2000), -1) << k;
        EXPECT_EQ(trochoidLoop(v[2] && v[3] ? v[2] : nullptr, v[0], v[1], 1, 0.01, o, 2000), -1) << k;
    }
    // Short of memory at any allocation, a half loop builds nothing (-1) or the whole of it.
    const Vec2 turned{-1, 0};
    const int32_t whole = trochoidHalfLoop(&p, &m, &d, &turned, 0.01, out.data(), 2000);
    ASSERT_GT(whole, 1);
    int failed = 0;
    for (long k = 1;; ++k) {
        allocfail::arm(k);
        const int32_t got = trochoidHalfLoop(&p, &m, &d, &turned, 0.01, out.data(), 2000);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        if (!fired) break;
        EXPECT_TRUE(got == -1 || got == whole) << k << " " << got;
        failed += got == -1;
    }
    EXPECT_GT(failed, 0);
    // No arriving direction or no argument at all, no cubic. A U-turn far too wide for eps is halved
    // kTrochoidMaxDepth times everywhere and no further: from P0 to P3 through the middle, which lies h
    // ahead.
    const Vec3 p0{0, 0, 0}, p3{0, 1e4, 0}, ux{1, 0, 0}, back3{-1, 0, 0};
    EXPECT_EQ(bezierUTurn(&p0, &p3, &ux, &p0, 2), nullptr);
    for (int k = 0; k < 4; ++k) {
        const Vec3* v[4] = {&p0, &p3, &ux, &back3};
        v[k] = nullptr;
        EXPECT_EQ(bezierUTurn(v[0], v[1], v[2], v[3], 2), nullptr) << k;
    }
    const Vec3 edge{1e-5, 0, 0}, edgeBack{-1e-5, 0, 0};
    PolyCurve* edges[] = {bezierUTurn(&p0, &p3, &edge, &back3, 2), bezierUTurn(&p0, &p3, &ux, &edgeBack, 2)};
    EXPECT_TRUE(edges[0] && edges[1]);  // directions of exactly 1e-5 are long enough
    for (PolyCurve* c : edges) polyCurveFree(c);
    PolyCurve* wide = bezierUTurn(&p0, &p3, &ux, &back3, 5e3);
    ASSERT_NE(wide, nullptr);
    Vec3* pts = nullptr;
    int32_t count = 0;
    ASSERT_EQ(curve3DPointList(wide, 1e-6, &pts, &count), 1025);  // 1 + 2^10 for its one segment
    EXPECT_XYZ(EXPECT_NEAR, pts[0], 0, 0, 0, 1e-9);
    EXPECT_XYZ(EXPECT_NEAR, pts[512], 5e3, 5e3, 0, 1e-9);
    EXPECT_XYZ(EXPECT_NEAR, pts[1024], 0, 1e4, 0, 1e-9);
    free(pts);
    polyCurveFree(wide);
    // In seeded frames of space, arriving against or along the leaving direction (given at any length):
    // the middle point, the farthest ahead, lies h ahead of the chord's middle, in the plane of the chord
    // and the direction.
    for (int i = 0; i < 20; ++i) {
        const double t = 6.28 * rngUniform(), f = 3.14 * rngUniform(), g = 6.28 * rngUniform();
        const Vec3 e1{std::sin(f) * std::cos(t), std::sin(f) * std::sin(t), std::cos(f)};
        const Vec3 n{-std::sin(t), std::cos(t), 0},
            m{e1.y * n.z - e1.z * n.y, e1.z * n.x - e1.x * n.z, e1.x * n.y - e1.y * n.x};
        const Vec3 e2{std::cos(g) * n.x + std::sin(g) * m.x, std::cos(g) * n.y + std::sin(g) * m.y,
                      std::cos(g) * n.z + std::sin(g) * m.z};
        const double h = 0.5 + 3 * rngUniform(), lu = 0.1 + rngUniform(), la = (i % 2 ? 1 : -1) * lu * 3;
        const Vec3 q0{rngUniform(), rngUniform(), rngUniform()},
            q3{q0.x + 2 * h * e2.x, q0.y + 2 * h * e2.y, q0.z + 2 * h * e2.z};
        const Vec3 u{lu * e1.x, lu * e1.y, lu * e1.z}, a{la * e1.x, la * e1.y, la * e1.z};
        PolyCurve* c = bezierUTurn(&q0, &q3, &u, &a, h);
        ASSERT_NE(c, nullptr);
        Vec3 mid{};
        polyEvalHorner3D(&c->segs[0], 0.5, &mid);
        const Vec3 r{mid.x - 0.5 * (q0.x + q3.x), mid.y - 0.5 * (q0.y + q3.y), mid.z - 0.5 * (q0.z + q3.z)};
        EXPECT_XYZ(EXPECT_NEAR, r, h * e1.x, h * e1.y, h * e1.z, 1e-9);
        polyCurveFree(c);
    }
}

// The running length of 3-4-5 and 12 more reaches a limit up to 17, not past it; a single point or none has
// no length.
TEST(Trochoid, PolylineLengthReachesItsLimit) {
    const Vec3 p[] = {{0, 0, 0}, {3, 4, 0}, {3, 4, 12}};
    for (const auto& [points, count, limit, reached, sum] : {std::tuple{p, 3, 17.0, 1, 17.0},
                                                             {p, 3, std::nextafter(17.0, 18.0), 0, 17.0},
                                                             {p, 2, 4.9, 1, 5.0},
                                                             {p, 1, 0.0, 0, 0.0},
                                                             {nullptr, 3, 0.0, 0, 0.0}}) {
        double total = -1;
        EXPECT_EQ(polylineLengthReaches(points, count, limit, &total), reached) << count << " " << limit;
        EXPECT_EQ(total, sum) << count;
    }
}

// n loops (1 when asked for 0) from A to B: joined, through every division
// point, swinging out w to the left and never to the right.
TEST(Trochoid, LinkPassesEveryDivisionPoint) {
    std::vector<ContourElement> out(kTrochoidMaxElements);
    const Vec2 a{0, 0}, b{30, 40}, d{0.6, 0.8};
    for (int32_t steps : {0, 1, 3, 7}) {
        const int32_t n = trochoidLinkBuild(&a, &b, &d, 2, steps, 0.01, out.data(), kTrochoidMaxElements);
        expectJoined(out, n, a, b);
        const int32_t loops = std::max(steps, 1);
        for (int32_t i = 1; i <= loops; ++i) {
            const Vec2 q{a.x + (b.x - a.x) * i / loops, a.y + (b.y - a.y) * i / loops};
            bool seen = false;
            for (int32_t k = 0; k < n; ++k) seen |= std::hypot(out[k].g[2] - q.x, out[k].g[3] - q.y) < 1e-9;
            EXPECT_TRUE(seen) << steps << " " << i;
        }
        Extent e = extentOf(out, n, a, d);
        EXPECT_NEAR(e.left, 2, 1e-9);
        EXPECT_GE(e.right, -1e-9);
    }
    // No room for the elements: refused, nothing past the buffer.
    EXPECT_EQ(trochoidLinkBuild(&a, &b, &d, 2, 7, 0.01, out.data(), 10), -1);
    // A loop is its two half loops, out to M and back onto the line: it fits in exactly their counts
    // and no fewer, whichever half runs out of room.
    const Vec2 back{-d.x, -d.y}, m{a.x - 2 * d.y, a.y + 2 * d.x}, q{3, 4};
    const int32_t h1 = trochoidHalfLoop(&a, &m, &d, &back, 0.01, out.data(), kTrochoidMaxElements);
    const int32_t h2 = trochoidHalfLoop(&m, &q, &back, &d, 0.01, out.data(), kTrochoidMaxElements);
    ASSERT_GT(h1, 1);
    ASSERT_GT(h2, 1);
    EXPECT_EQ(trochoidHalfLoop(&a, &m, &d, &back, 0.01, out.data(), h1 - 1), -1);
    const struct {
        int32_t capacity, expected;
    } room[] = {{h1 + h2, h1 + h2}, {h1 + h2 - 1, -1}, {h1, -1}, {h1 - 1, -1}};
    for (const auto& r : room) {
        EXPECT_EQ(trochoidLoop(&d, &a, &q, 2, 0.01, out.data(), r.capacity), r.expected) << r.capacity;
        EXPECT_EQ(trochoidLinkBuild(&a, &q, &d, 2, 1, 0.01, out.data(), r.capacity), r.expected);
    }
    expectJoined(out, h1 + h2, a, q);
    // Two loops one element short of room: the second loop is refused, nothing written past the buffer.
    const int32_t two = trochoidLinkBuild(&a, &q, &d, 2, 2, 0.01, out.data(), kTrochoidMaxElements);
    std::vector<ContourElement> tight(static_cast<size_t>(two - 1));
    EXPECT_EQ(trochoidLinkBuild(&a, &q, &d, 2, 2, 0.01, tight.data(), two - 1), -1);
}

// A wall of INPUT at a distance to the left: the width halves from 4 until the
// loops stay short of it; a wall across the link itself never clears.
TEST(Trochoid, SearchHalvesTheWidthUntilClear) {
    std::vector<ContourElement> out(kTrochoidMaxElements);
    const Vec2 a{0, 0}, b{20, 0}, d{1, 0};
    struct Case {
        double wallY;
        double width;  // the expected width, -1 for none
        double from = 4;
    } cases[] = {{10, 4},
                 {3, 2},
                 {0.7, 0.5},
                 {0.3, 0.25},
                 {-1, -1},
                 // Halved down to 0.01 exactly: that width is no longer tried.
                 {0.025, 0.02, 4 * 0.01},
                 {0.015, -1, 4 * 0.01}};
    for (const Case& c : cases) {
        PocketErrors errs;
        std::vector<ContourElement> wall = polygon({{-5, c.wallY}, {25, c.wallY}, {25, 50}, {-5, 50}});
        if (c.wallY < 0) wall = polygon({{9, -5}, {11, -5}, {11, 5}, {9, 5}});
        ASSERT_TRUE(putContour("INPUT", wall));
        std::fill(out.begin(), out.end(), lineElem(-10, -10, 30, 60));  // stale elements cross the walls
        const int32_t n = trochoidLinkSearch(&a, &b, &d, c.from, 2, 0.01, out.data(), kTrochoidMaxElements);
        if (c.width < 0) {
            EXPECT_EQ(n, -1);
            continue;
        }
        expectJoined(out, n, a, b);
        EXPECT_NEAR(extentOf(out, n, a, d).left, c.width, 1e-9) << c.wallY;
    }
    // A, B, the direction or the output missing, each in turn: refused before anything is read.
    for (int k = 0; k < 4; ++k) {
        const Vec2* v[3] = {&a, &b, &d};
        if (k < 3) v[k] = nullptr;
        ContourElement* o = k < 3 ? out.data() : nullptr;
        EXPECT_EQ(trochoidLinkSearch(v[0], v[1], v[2], 4, 2, 0.01, o, kTrochoidMaxElements), -1) << k;
        EXPECT_EQ(trochoidLinkBuild(v[0], v[1], v[2], 4, 2, 0.01, o, kTrochoidMaxElements), -1) << k;
    }
    EXPECT_EQ(trochoidLinkSearch(&a, &b, &d, 4, 2, 0.01, out.data(), 1), -1);  // no room for a loop
}
