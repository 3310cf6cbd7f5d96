#include "pocket/elemaccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernel/base/rng.h"
#include "offset_util.h"
#include "vecnear.h"

using namespace offsettest;

namespace {

double deg(double d) {
    return d * kPi / 180;
}

}  // namespace

TEST(ElemAccess, MiddlesOfArcsAcrossZero) {
    PocketErrors state;
    const struct {
        ContourElement e;
        double x, y;
    } cases[] = {
        {arcElem(0, 0, 2, deg(350), deg(10), 1), 2, 0},
        {arcElem(0, 0, 2, deg(10), deg(350), -1), 2, 0},
        {arcElem(1, 1, 1, deg(0), deg(180), 1), 1, 2},
        {arcElem(1, 1, 1, deg(0), deg(180), -1), 1, 0},
        {lineElem(0, 0, 4, 2), 2, 1},
    };
    for (const auto& c : cases) {
        Vec2 m;
        ASSERT_EQ(elemPoint(&c.e, &m, kElemMiddle), 1);
        EXPECT_XY(EXPECT_NEAR, m, c.x, c.y, 1e-12);
    }
}

TEST(ElemAccess, CornerClasses) {
    PocketErrors state;
    const struct {
        ContourElement a, b;
        int type;
    } cases[] = {
        {lineElem(0, 0, 1, 0), lineElem(1, 0, 2, 0), kCornerSmooth},
        {lineElem(0, 0, 1, 0), lineElem(1, 0, 0.5, 0), kCornerReversal},
        {lineElem(0, 0, 1, 0), lineElem(1, 0, 1, 1), kCornerLeft},
        {lineElem(0, 0, 1, 0), lineElem(1, 0, 1, -1), kCornerRight},
        {lineElem(0, 0, 1, 0), lineElem(1, 0, 2, 0.004), kCornerSmooth},  // below 0.005
        // Leaving backwards along an arc: the arc's bend decides.
        {lineElem(-1, 1, 0, 1), arcElem(0, 0, 1, kPi / 2, kPi, 1), kCornerRight},
        {lineElem(-1, -1, 0, -1), arcElem(0, 0, 1, -kPi / 2, -kPi, -1), kCornerLeft},
        // ... by its start, though three quarters round it heads the other way.
        {lineElem(-1, 1, 0, 1), arcElem(0, 0, 1, kPi / 2, 2 * kPi, 1), kCornerRight},
        {lineElem(-1, -1, 0, -1), arcElem(0, 0, 1, -kPi / 2, -2 * kPi, -1), kCornerLeft},
    };
    for (const auto& c : cases) {
        int type = 99;
        ASSERT_EQ(elemCornerType(&c.a, &c.b, &type), 1);
        EXPECT_EQ(type, c.type) << c.b.g[2] << " " << c.b.g[3];
    }
    // A kink of 0.03 is smooth where the threshold is widened: a line into an arc while a retry shrinks
    // (9 x 0.005), an arc into a line of 100 or more (10 x 0.005).
    const double kink = 0.03, c = std::cos(kink), s = std::sin(kink);
    const struct {
        ContourElement a, b;
        int growMode, type;
    } widened[] = {
        {lineElem(-1, 0, 1, 0), arcElem(1 - 2 * s, 2 * c, 2, kink - kPi / 2, kink, 1), 0, kCornerSmooth},
        {lineElem(-1, 0, 1, 0), arcElem(1 - 2 * s, 2 * c, 2, kink - kPi / 2, kink, 1), 1, kCornerLeft},
        {lineElem(-1, 0, 1, 0), arcElem(1 + 2 * s, -2 * c, 2, kPi / 2 - kink, -kink, -1), 0, kCornerSmooth},
        {arcElem(0, 1, 1, -kPi / 2 - 0.5, -kPi / 2, 1), lineElem(0, 0, 100 * c, 100 * s), 1, kCornerSmooth},
        {arcElem(0, 1, 1, -kPi / 2 - 0.5, -kPi / 2, 1), lineElem(0, 0, 99 * c, 99 * s), 0, kCornerLeft},
        {arcElem(0, 1, 1, -kPi / 2 - 0.5, -kPi / 2, 1), lineElem(0, 0, 99 * c, -99 * s), 0, kCornerRight},
    };
    for (const auto& w : widened) {
        pocketOffsetState().cornerFactor = 1;
        pocketOffsetState().growMode = w.growMode;
        int type = 99;
        ASSERT_EQ(elemCornerType(&w.a, &w.b, &type), 1);
        EXPECT_EQ(type, w.type) << &w - widened;
    }
    pocketOffsetState().growMode = 0;
    {
        // Backwards onto an arc shrunk to its centre: no bend to read, the reversal stands.
        const ContourElement a = lineElem(0, 0, 1, 0), b = arcElem(1, 0, 0, 0, 1, 1);
        const Vec2 ta{1, 0}, tb{-1, 0};
        int type = 99;
        EXPECT_EQ(elemCornerTypeOf(&a, &ta, &b, &tb, &type), 1);
        EXPECT_EQ(type, kCornerReversal);
    }
    pocketOffsetState().cornerFactor = 10.0;  // the threshold grows with the factor
    int type = 0;
    const ContourElement a = lineElem(0, 0, 1, 0), b = lineElem(1, 0, 2, 0.02);
    ASSERT_EQ(elemCornerType(&a, &b, &type), 1);
    EXPECT_EQ(type, kCornerSmooth);
    pocketKernel().openPocket = 1;  // an open pocket keeps an exact reversal onto an arc
    ASSERT_EQ(elemCornerType(&cases[5].a, &cases[5].b, &type), 1);
    EXPECT_EQ(type, kCornerReversal);
    pocketKernel().openPocket = 0;
}

TEST(ElemAccess, WindingTestAgreesWithCrossingNumberOnRandomPolygons) {
    PocketErrors state;
    rngResetState();
    for (int k = 0; k < 200; ++k) {
        // A star-shaped polygon about the origin.
        const int n = 3 + rngBelow(12);
        std::vector<Vec2> poly;
        for (int i = 0; i < n; ++i) {
            const double a = 2 * kPi * (i + 0.8 * rngUniform()) / n, r = 1 + 4 * rngUniform();
            poly.push_back({r * std::cos(a), r * std::sin(a)});
        }
        const bool reversed = rngBelow(2);
        if (reversed) std::reverse(poly.begin(), poly.end());
        const std::vector<ContourElement> chain = polygon(poly);
        for (int i = 0; i < 20; ++i) {
            const Vec2 p{rngUniform() * 12 - 6, rngUniform() * 12 - 6};
            const int expected = insidePolygon(poly, p) ? (reversed ? -1 : 1) : 0;
            EXPECT_EQ(pointInContour(chain.data(), n, &p), expected) << k << " " << i;
        }
    }
    // An open chain about the origin counts as inside once it winds more than a radian round it.
    const Vec2 o{0, 0};
    for (const double w : {-1.5, -1.1, -0.9, 0.9, 1.1, 1.5}) {
        const std::vector<ContourElement> open = {
            lineElem(3, 0, 3 * std::cos(w / 2), 3 * std::sin(w / 2)),
            lineElem(3 * std::cos(w / 2), 3 * std::sin(w / 2), 3 * std::cos(w), 3 * std::sin(w))};
        EXPECT_EQ(pointInContour(open.data(), 2, &o), w > 1 ? 1 : w < -1 ? -1 : 0) << w;
    }
}

// Circular segments (an arc of either sense closed by its chord) against the crossing number of the
// densely sampled outline; points near the outline are left out.
TEST(ElemAccess, WindingTestAgreesWithSampledArcSegments) {
    PocketErrors state;
    rngResetState();
    for (int k = 0; k < 100; ++k) {
        const double r = 1 + 4 * rngUniform(), a0 = 2 * kPi * rngUniform();
        const double sweep = 0.3 + (2 * kPi - 0.6) * rngUniform();
        const int dir = rngBelow(2) ? 1 : -1;
        const ContourElement arc = arcElem(0, 0, r, a0, a0 + dir * sweep, dir);
        const Vec2 s{arc.g[kAsx], arc.g[kAsy]}, e{arc.g[kAex], arc.g[kAey]};
        const std::vector<ContourElement> chain = {arc, lineElem(e.x, e.y, s.x, s.y)};
        const std::vector<Vec2> outline = samples(chain, 0.01);
        for (int i = 0; i < 20; ++i) {
            const Vec2 p{(rngUniform() * 2.4 - 1.2) * r, (rngUniform() * 2.4 - 1.2) * r};
            const double toChord = std::fabs((e.x - s.x) * (p.y - s.y) - (e.y - s.y) * (p.x - s.x)) /
                                   std::hypot(e.x - s.x, e.y - s.y);
            if (std::fabs(std::hypot(p.x, p.y) - r) < 1e-3 * r || toChord < 1e-3 * r) continue;
            EXPECT_EQ(pointInContour(chain.data(), 2, &p), insidePolygon(outline, p) ? dir : 0)
                << k << " " << i;
        }
    }
}

TEST(ElemAccess, IntersectionOrdersAreStrictWeakOrders) {
    rngResetState();
    std::vector<PocketIsect> records(500);
    for (auto& r : records) r = {0, 0, static_cast<double>(rngBelow(4)), rngBelow(5), 0, 1};
    const PocketIsect same = records[0];
    EXPECT_EQ(isectCompareAscending(&same, &records[0]), 0);
    EXPECT_EQ(isectCompareDescending(&same, &records[0]), 0);
    std::vector<PocketIsect> up = records;
    std::sort(up.begin(), up.end(),
              [](const PocketIsect& a, const PocketIsect& b) { return isectCompareAscending(&a, &b) < 0; });
    for (size_t i = 1; i < up.size(); ++i) {
        EXPECT_LE(isectCompareAscending(&up[i - 1], &up[i]), 0);
        EXPECT_GE(isectCompareDescending(&up[i - 1], &up[i]), 0);
    }
}

// Tangents and side normals of lines and arcs by hand; a raw vector shorter than 1e-7 gives none, one of
// exactly 1e-7 gives its direction.
TEST(ElemAccess, TangentsAndNormalsByHand) {
    const ContourElement ccw = arcElem(1, 1, 2, 0, offsettest::kPi / 2, 1),
                         cw = arcElem(1, 1, 2, 0, -offsettest::kPi / 2, -1);
    const struct {
        ContourElement e;
        int which, side;
        int ok;
        Vec2 tangent, normal;
    } cases[] = {{lineElem(0, 0, 0, 3), kElemStart, 1, 1, {0, 1}, {-1, 0}},
                 {lineElem(0, 0, 0, 3), kElemEnd, 2, 1, {0, 1}, {1, 0}},
                 {lineElem(0, 0, 1e-7, 0), kElemStart, 1, 1, {1, 0}, {0, 1}},
                 {lineElem(0, 0, 0.99e-7, 0), kElemStart, 1, 0, {0, 0}, {0, 0}},
                 {ccw, kElemStart, 1, 1, {0, 1}, {-1, 0}},
                 {ccw, kElemEnd, 1, 1, {-1, 0}, {0, -1}},
                 {ccw, kElemEnd, -1, 1, {-1, 0}, {0, 1}},
                 {cw, kElemEnd, 1, 1, {-1, 0}, {0, -1}},
                 {cw, kElemStart, 1, 1, {0, -1}, {1, 0}}};
    for (const auto& c : cases) {
        Vec2 t{7, 7}, n{7, 7};
        EXPECT_EQ(elemTangent(&c.e, &t, c.which), c.ok) << c.e.type << " " << c.which;
        EXPECT_EQ(elemOffsetNormal(&c.e, &n, c.which, c.side), c.ok) << c.e.type << " " << c.which;
        if (!c.ok) continue;
        EXPECT_XY(EXPECT_NEAR, t, c.tangent.x, c.tangent.y, 1e-12);
        EXPECT_XY(EXPECT_NEAR, n, c.normal.x, c.normal.y, 1e-12);
    }
    // An arc's normal runs to its centre: none from an end nearer than 1e-7 to it.
    for (const double r : {0.99e-7, 1e-7}) {
        const ContourElement a = arcElem(0, 0, r, 0, offsettest::kPi / 2, 1);
        Vec2 n;
        EXPECT_EQ(elemOffsetNormal(&a, &n, kElemStart, 1), r >= 1e-7 ? 1 : 0) << r;
    }
    // Moving an end: a line takes the point, an arc takes it with the radius to it.
    ContourElement line = lineElem(0, 0, 1, 0), arc = ccw;
    const Vec2 to{5, 6};
    EXPECT_EQ(elemSetPoint(&line, &to, kElemStart), 1);
    EXPECT_TRUE(line.g[kLx1] == 5 && line.g[kLy1] == 6 && line.g[kLx2] == 1);
    EXPECT_EQ(elemSetPoint(&arc, &to, kElemEnd), 1);
    EXPECT_TRUE(arc.g[kAex] == 5 && arc.g[kAey] == 6 && arc.g[kAr] == std::hypot(4.0, 5.0));
    Vec2 t;
    ContourElement odd = lineElem(0, 0, 1, 0);
    odd.type = 7;
    EXPECT_EQ(elemTangent(&odd, &t, kElemStart), 0);
    EXPECT_EQ(elemTangent(&cases[0].e, &t, 3), 0);
}
