#include "pocket/contouroffset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "pocket/contourclean.h"
#include "pocket/offset_util.h"
#include "pocket/pocket_util.h"
#include "ringtest_util.h"

namespace {

using namespace offsettest;

struct Rings {
    int32_t result = 0;
    std::vector<std::vector<ContourElement>> rings;
};

Rings offsetOf(const std::vector<ContourElement>& in, int side, double d) {
    static std::vector<ContourElement> out(kClistMaxElements);
    static std::vector<int32_t> start(kOffsetMaxRings), count(kOffsetMaxRings);
    Rings r;
    int32_t end = 0;
    r.result = offsetContour(in.data(), static_cast<int32_t>(in.size()), side, d, out.data(), &end,
                             start.data(), count.data());
    for (int32_t i = 0; i < r.result; ++i)
        r.rings.emplace_back(out.begin() + start[i], out.begin() + start[i] + count[i]);
    return r;
}

class OffsetTest : public ::testing::Test {
  protected:
    void SetUp() override { contourOffsetResetState(); }
    void TearDown() override { contourOffsetResetState(); }
    PocketErrors errors;
};

// Closed forms: the square offset outward gets 4 quarter arcs of radius d and
// inward is trimmed without arcs; circles of 1, 2 or 4 arcs stay concentric
// circles outward and inward by less than their radius; what collapses gives no
// ring and no message.
TEST_F(OffsetTest, SimpleShapesByClosedForm) {
    const double d = 2.5;
    const std::vector<ContourElement> sq = box(0, 0, 10, 10);
    // Corner arcs of 0.003, which cleaning would turn into chords, are offset as arcs.
    const double q = 0.003;
    const std::vector<ContourElement> tiny = {
        lineElem(q, 0, 10 - q, 0),   arcElem(10 - q, q, q, -kPi / 2, 0, 1),
        lineElem(10, q, 10, 10 - q), arcElem(10 - q, 10 - q, q, 0, kPi / 2, 1),
        lineElem(10 - q, 10, q, 10), arcElem(q, 10 - q, q, kPi / 2, kPi, 1),
        lineElem(0, 10 - q, 0, q),   arcElem(q, q, q, kPi, 1.5 * kPi, 1)};
    struct Case {
        std::vector<ContourElement> in;
        int side;  // +1 left of a counter-clockwise contour: inside
        double d;
        int rings, lines, arcs;  // lines -1: not counted
        double radius, area;
    };
    std::vector<Case> cases = {
        {sq, -1, d, 1, 4, 4, d, 100 + 4 * 10 * d + kPi * d * d},
        {sq, 1, -d, 1, 4, 4, d, 100 + 4 * 10 * d + kPi * d * d},
        {sq, 1, d, 1, 4, 0, 0, (10 - 2 * d) * (10 - 2 * d)},
        {sq, -1, -d, 1, 4, 0, 0, (10 - 2 * d) * (10 - 2 * d)},
        {sq, 1, 5.2, 0, 0, 0, 0, 0},
        {tiny, -1, 1, 1, 4, 4, 1 + q, 144 - (4 - kPi) * (1 + q) * (1 + q)},
        {circle(0, 0, 5, 1, 1), 1, 6, 0, 0, 0, 0, 0},
        {circle(0, 0, 5, 2, 1), 1, 6, 0, 0, 0, 0, 0},
        {circle(0, 0, 5, 4, -1), -1, 5.5, 0, 0, 0, 0, 0},
    };
    // Below the flat radius the corner arcs are cleaned into chords: the ring is still there.
    for (double e : {0.0005, 0.001, 0.003, 0.004, 0.0049})
        cases.push_back({sq, -1, e, 1, 8, 0, 0, 100 + 40 * e + 2 * e * e});
    for (int n : {1, 2, 4})
        for (double e : {-3.0, 3.0})
            cases.push_back({circle(0, 0, 5, n, 1), 1, e, 1, -1, 0, 5 - e, kPi * (5 - e) * (5 - e)});
    // A whole circle with a point element at its start is offset as the circle alone.
    std::vector<ContourElement> dotted = circle(0, 0, 5, 1, 1);
    dotted.push_back(lineElem(5, 0, 5, 0));
    cases.push_back({dotted, 1, 3, 1, -1, 0, 2, kPi * 4});
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.in.size() << " " << c.side << " " << c.d);
        const Rings r = offsetOf(c.in, c.side, c.d);
        ASSERT_EQ(r.result, c.rings);
        EXPECT_TRUE(PocketErrors::texts().empty());
        if (c.rings == 0) continue;
        int lines = 0, arcs = 0;
        for (const ContourElement& e : r.rings[0]) {
            lines += e.type == kElemLine;
            if (e.type != kElemArc) continue;
            ++arcs;
            EXPECT_NEAR(e.g[kAr], c.radius, 1e-9);
            if (c.lines < 0) continue;
            EXPECT_NEAR(sweepOf(e), kPi / 2, 1e-9);
            EXPECT_EQ(e.direction, 1);
        }
        if (c.lines >= 0) {
            EXPECT_EQ(lines, c.lines);
            EXPECT_EQ(arcs, c.arcs);
        }
        EXPECT_NEAR(signedArea(r.rings[0]), c.area, 1e-6);
    }
}

// Below the smallest offset the ring is the cleaned input; from a ring of 46 lines only jogs up to 0.1
// go, not one 0.5 deep.
TEST_F(OffsetTest, TinyDistanceGivesTheCleanedInput) {
    std::vector<ContourElement> box10 = box(0, 0, 10, 10);
    box10.insert(box10.begin() + 1, lineElem(10, 0, 10, 0));  // a point element that cleaning removes
    box10[0] = lineElem(0, 0, 10, 0);
    std::vector<Vec2> p;
    for (int i = 0; i < 44; ++i)
        p.push_back({50 * std::cos(2 * kPi * i / 44), 50 * std::sin(2 * kPi * i / 44)});
    const Vec2 m{0.5 * (p[0].x + p[1].x), 0.5 * (p[0].y + p[1].y)}, u{-m.x / 50, -m.y / 50};
    p.insert(p.begin() + 1, {m, {m.x + 0.5 * u.x, m.y + 0.5 * u.y}});
    for (const std::vector<ContourElement>& in : {box10, polygon(p)})
        for (double d : {0.0, 0.0004, -0.0004}) {
            std::vector<ContourElement> cleaned = in;
            cleaned.resize(contourClean(cleaned.data(), static_cast<int32_t>(cleaned.size())));
            const Rings r = offsetOf(in, 1, d);
            ASSERT_EQ(r.result, 1);
            ASSERT_EQ(r.rings[0].size(), cleaned.size());
            for (size_t i = 0; i < cleaned.size(); ++i) {
                for (int k = 0; k < 4; ++k) EXPECT_EQ(r.rings[0][i].g[k], cleaned[i].g[k]);
            }
        }
}

TEST_F(OffsetTest, OverTheElementCapFailsWithMessage1500) {
    std::vector<Vec2> p;
    const int n = kClistMaxElements + 1;
    for (int i = 0; i < n; ++i)
        p.push_back({100 * std::cos(2 * kPi * i / n), 100 * std::sin(2 * kPi * i / n)});
    const Rings r = offsetOf(polygon(p), 1, 1.0);
    EXPECT_EQ(r.result, -1);
    ASSERT_EQ(PocketErrors::texts().size(), 1u);
    EXPECT_NE(PocketErrors::texts()[0].find("1500"), std::string::npos) << PocketErrors::texts()[0];
}

// An empty input leaves the buffers alone; a reset leaves the level loop's switches off, as at load.
TEST_F(OffsetTest, EmptyInputLeavesTheBuffersAloneAndResetSwitchesOff) {
    ContourElement out[1] = {lineElem(1, 2, 3, 4)};
    int32_t end = -5, start[1] = {-6};
    EXPECT_EQ(offsetContour(out, 0, 1, 1.0, out, &end, start, nullptr), 0);
    EXPECT_EQ(out[0].g[kLx2] + end + start[0], 3 - 5 - 6);
    offsetSetCloseSnap(1);
    offsetSetThinTest(1);
    EXPECT_EQ(offsetCloseSnap(), 1);
    contourOffsetResetState();
    EXPECT_EQ(offsetCloseSnap(), 0);
    // The thin test is off again, so a thin input keeps every ring: a keyhole frame 1 wide round a 2 x 2
    // island, grown by 0.8, keeps the island's hole (shrunk to 0.4 x 0.4) beside the rounded outer ring.
    const std::vector<Vec2> frame = {{1.95, 1}, {1, 1}, {1, 3}, {3, 3}, {3, 1}, {2.05, 1},
                                     {2.05, 0}, {4, 0}, {4, 4}, {0, 4}, {0, 0}, {1.95, 0}};
    const std::vector<ContourElement> keyhole = polygon(frame);
    const Rings r = offsetOf(keyhole, -1, 0.8);
    ASSERT_EQ(r.result, 2);
    std::vector<double> areas = {signedArea(r.rings[0]), signedArea(r.rings[1])};
    std::sort(areas.begin(), areas.end());
    EXPECT_NEAR(areas[0], -0.16, 1e-3);
    EXPECT_NEAR(areas[1], 5.6 * 5.6 - 4 * 0.64 * (1 - kPi / 4), 1e-3);
    // With it on, the hole turns the thin frame inside out and goes, the outer ring stays; also for a
    // caller without ring counts.
    offsetSetThinTest(1);
    const Rings thin = offsetOf(keyhole, -1, 0.8);
    ASSERT_EQ(thin.result, 1);
    EXPECT_NEAR(signedArea(thin.rings[0]), areas[1], 1e-3);
    std::vector<ContourElement> ring(kClistMaxElements);
    std::vector<int32_t> starts(kOffsetMaxRings);
    EXPECT_EQ(offsetContour(keyhole.data(), 12, -1, 0.8, ring.data(), &end, starts.data(), nullptr), 1);
}

// An offset asked again gives the same rings, ring table and end as the first time, for one ring or
// several, and so does one worked out anew into a buffer with other elements before it (the end of the
// last ring's first element, so that reading before the buffer would drop that ring as traced twice), and
// so does one with the thin test on, the input being thick; every call starts classifying at 0.005.
TEST_F(OffsetTest, RepeatedOffsetGivesTheSameAnswer) {
    const std::vector<ContourElement> lobes = polygon(
        {{0, 0},   {20, 0},  {20, 9},  {30, 9},  {30, 0},  {50, 0},  {50, 9},  {60, 9},  {60, 0},  {80, 0},
         {80, 20}, {60, 20}, {60, 11}, {50, 11}, {50, 20}, {30, 20}, {30, 11}, {20, 11}, {20, 20}, {0, 20}});
    // A square whose middle opens by a slot 1 wide: offset outward by 1, the slot closes round a hole.
    const std::vector<Vec2> slot = {{0, 0},   {30, 0},  {30, 30}, {15.5, 30}, {15.5, 20}, {20, 20},
                                    {20, 10}, {10, 10}, {10, 20}, {14.5, 20}, {14.5, 30}, {0, 30}};
    const struct {
        std::vector<ContourElement> in;
        double d;
        int32_t rings;
    } cases[] = {{lobes, 2.5, 3}, {lobes, -1, 1}, {box(0, 0, 10, 10), 1, 1}, {polygon(slot), -1, 2}};
    std::vector<ContourElement> big(kClistMaxElements + 1024);
    for (const auto& c : cases) {
        std::vector<ContourElement> out[4];
        std::vector<int32_t> start[4], count[4];
        int32_t end[4], result[4];
        for (int k = 0; k < 4; ++k) {
            ContourElement* o = big.data() + 1024;
            offsetSetThinTest(k == 3);
            if (k != 2) {
                out[k].assign(kClistMaxElements, ContourElement{});
                o = out[k].data();
            } else {
                contourOffsetResetState();
                std::fill(big.begin(), big.begin() + 1024, out[0][start[0][c.rings - 1]]);
            }
            start[k].assign(kOffsetMaxRings, -1);
            count[k].assign(kOffsetMaxRings, -1);
            end[k] = -1;
            result[k] = offsetContour(c.in.data(), static_cast<int32_t>(c.in.size()), 1, c.d, o, &end[k],
                                      start[k].data(), count[k].data());
            EXPECT_EQ(pocketOffsetState().classifyTol, 0.005);
            if (k == 2) out[k].assign(o, o + std::max(end[k], 0));
            ASSERT_EQ(result[k], c.rings) << c.d << " " << k;
        }
        EXPECT_EQ(end[0], start[0][c.rings - 1] + count[0][c.rings - 1]);
        for (int k = 1; k < 4; ++k) {
            EXPECT_EQ(end[k], end[0]) << k;
            EXPECT_EQ(start[k], start[0]) << k;
            EXPECT_EQ(count[k], count[0]) << k;
            EXPECT_EQ(std::memcmp(out[k].data(), out[0].data(), end[0] * sizeof(ContourElement)), 0) << k;
        }
    }
}

TEST_F(OffsetTest, ThinContourTest) {
    struct Case {
        std::vector<Vec2> p;
        double tol;
        int thin;
    };
    // A strip is thin up to 1.5 x the tolerance across.
    const Case cases[] = {
        {{{0, 0}, {20, 0}, {20, 0.5}, {0, 0.5}}, 1.0, 1},
        {{{0, 0}, {20, 0}, {20, 5}, {0, 5}}, 1.0, 0},
        {{{0, 0}, {20, 0}, {20, 1.4}, {0, 1.4}}, 1.0, 1},
        {{{0, 0}, {20, 0}, {20, 1.6}, {0, 1.6}}, 1.0, 0},
        // A needle out and back, split elsewhere, alone or with a square head.
        {{{10, 10}, {4, 4}, {0, 0}, {0.01, 0.01}}, 0.05, 1},
        {{{10, 10}, {4, 4}, {0, 0}, {-0.06, 0}, {-0.06, -0.06}, {0, -0.06}, {0, 0}, {0.01, 0.01}}, 0.05, 1},
        {{{10, 10}, {4, 4}, {0, 0}, {-0.4, 0}, {-0.4, -0.4}, {0, -0.4}, {0, 0}, {0.01, 0.01}}, 0.05, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(contourIsThin(polygon(c.p).data(), static_cast<int32_t>(c.p.size()), c.tol), c.thin)
            << c.p[2].y << " " << c.p.size();
    const std::vector<ContourElement> one = circle(0, 0, 5, 1, 1);
    EXPECT_EQ(contourIsThin(one.data(), 1, 100), 0);
}

#ifdef KV_HAVE_GEOS

// An arc from p to q whose middle lies the sagitta s to the left of the chord.
ContourElement bulge(const Vec2& p, const Vec2& q, double s, int32_t tag) {
    const double cx = q.x - p.x, cy = q.y - p.y, c = std::hypot(cx, cy),
                 r = (0.25 * c * c + s * s) / (2 * std::fabs(s));
    const double k = (s - (s > 0 ? r : -r)) / c;  // centre = chord middle + k x (left normal x c)
    const Vec2 centre{0.5 * (p.x + q.x) - k * cy, 0.5 * (p.y + q.y) + k * cx};
    ContourElement e = arcElem(centre.x, centre.y, r, std::atan2(p.y - centre.y, p.x - centre.x),
                               std::atan2(q.y - centre.y, q.x - centre.x), s > 0 ? -1 : 1, tag);
    e.g[kAsx] = p.x, e.g[kAsy] = p.y, e.g[kAex] = q.x, e.g[kAey] = q.y;
    return e;
}

// A star-shaped contour about c with some edges bulging in or out, counter-clockwise or clockwise.
std::vector<ContourElement> randomContour(std::mt19937& rng, const Vec2& c, double R, int n, bool ccw,
                                          int32_t tag) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<Vec2> p;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * kPi * (i + 0.3 * u(rng)) / n, rad = R * (0.6 + 0.4 * u(rng));
        p.push_back({c.x + rad * std::cos(a), c.y + rad * std::sin(a)});
    }
    if (!ccw) std::reverse(p.begin(), p.end());
    std::vector<ContourElement> out;
    for (int i = 0; i < n; ++i) {
        const Vec2 &a = p[i], &b = p[(i + 1) % n];
        const double sagitta =
            (0.05 + 0.1 * u(rng)) * (u(rng) < 0.5 ? -1 : 1) * std::hypot(b.x - a.x, b.y - a.y);
        if (u(rng) < 0.35)
            out.push_back(bulge(a, b, sagitta, tag));
        else
            out.push_back(lineElem(a.x, a.y, b.x, b.y, tag));
    }
    return out;
}

// Arcs in steps of at most this many radians: finer samples of a concave arc make GEOS 3.11
// lose or add pieces of a buffer.
constexpr double kArcStep = 0.03;

TEST_F(OffsetTest, AgreesWithGeosBufferOnRandomContoursWithIslands) {
    Geos geos;
    std::mt19937 rng(4301);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int shape = 0; shape < 40; ++shape) {
        std::vector<std::vector<ContourElement>> contours;
        // Bulges may make a contour cross itself: such a draw is drawn again.
        auto simple = [&](const Vec2& c, double R, int n, bool ccw, int32_t tag) {
            for (;;) {
                std::vector<ContourElement> k = randomContour(rng, c, R, n, ccw, tag);
                // Fine samples, so that a bulge that cuts its neighbour close to their corner shows.
                GEOSGeometry* poly = GEOSGeom_createPolygon_r(geos.h, geos.line(k, 0.003), nullptr, 0);
                const bool valid = poly && GEOSisValid_r(geos.h, poly) == 1;
                GEOSGeom_destroy_r(geos.h, poly);
                if (valid) return k;
            }
        };
        contours.push_back(simple({0, 0}, 100, 8 + shape * 3, true, 0));
        const Vec2 islandAt[] = {{-40, 0}, {35, 10}, {0, 45}};
        for (int i = 0; i < 1 + shape % 3; ++i) {
            if (i == 1)
                contours.push_back(circle(islandAt[i].x, islandAt[i].y, 6 + 4 * u(rng), 2, -1));
            else
                contours.push_back(simple(islandAt[i], 12, 6, false, i + 1));
        }
        for (size_t c = 0; c < contours.size(); ++c) {
            const std::vector<ContourElement>& in = contours[c];
            const int orient = c == 0 ? 1 : -1;
            for (double sign : {1.0, -1.0}) {
                const double d = sign * (1 + 39 * u(rng) * u(rng)) * (c == 0 ? 1.0 : 0.3);
                SCOPED_TRACE(::testing::Message() << "shape " << shape << " contour " << c << " d " << d);
                const Rings r = offsetOf(in, orient, d);
                ASSERT_GE(r.result, 0);
                GEOSGeometry* poly = GEOSGeom_createPolygon_r(geos.h, geos.line(in, kArcStep), nullptr, 0);
                ASSERT_NE(poly, nullptr);
                GEOSGeometry* buf =
                    GEOSBufferWithStyle_r(geos.h, poly, -d, 64, GEOSBUF_CAP_ROUND, GEOSBUF_JOIN_ROUND, 5.0);
                ASSERT_NE(buf, nullptr);
                int expected = 0;
                for (int g = 0; g < GEOSGetNumGeometries_r(geos.h, buf); ++g) {
                    const GEOSGeometry* part = GEOSGetGeometryN_r(geos.h, buf, g);
                    if (!GEOSisEmpty_r(geos.h, part)) expected += 1 + GEOSGetNumInteriorRings_r(geos.h, part);
                }
                double geosArea = 0;
                GEOSArea_r(geos.h, buf, &geosArea);
                GEOSGeom_destroy_r(geos.h, buf);
                GEOSGeom_destroy_r(geos.h, poly);
                EXPECT_EQ(r.result, expected);
                double area = 0, length = 0;
                for (const std::vector<ContourElement>& ring : r.rings) {
                    area += orient * signedArea(ring);
                    length += perimeter(ring);
                    GEOSGeometry* lr = geos.line(ring, kArcStep);
                    EXPECT_EQ(GEOSisSimple_r(geos.h, lr), 1);
                    GEOSGeom_destroy_r(geos.h, lr);
                    for (size_t k = 0; k < ring.size(); ++k) {
                        EXPECT_LT(std::hypot(endPoint(ring[k]).x - startPoint(ring[(k + 1) % ring.size()]).x,
                                             endPoint(ring[k]).y - startPoint(ring[(k + 1) % ring.size()]).y),
                                  1e-4);
                        for (double t : {0.0, 0.3, 0.7})
                            EXPECT_NEAR(distanceTo(pointAlong(ring[k], t), in), std::fabs(d), 1e-3);
                    }
                }
                // GEOS simplifies its input within 1 % of the distance before offsetting, and its
                // input arcs are chords: both move the offset of an arc a little.
                double slack = 0;
                for (const ContourElement& e : in) {
                    if (e.type != kElemArc) continue;
                    const double r = e.g[kAr], sagitta = r * kArcStep * kArcStep / 8;
                    slack += (0.01 * std::fabs(d) + sagitta) * r * sweepOf(e) * (1 + std::fabs(d) / r);
                }
                EXPECT_NEAR(area, geosArea, std::max(length, 1.0) * 1e-3 + slack);
            }
        }
    }
}

#endif

}  // namespace
