// The hub as a solid closed by its end faces: signed distances against closed forms.
#include "plunge/hubsolid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "channeltest.h"
#include "kernel/base/rng.h"
#include "memshort.h"

namespace {

struct PairGuard {
    HubShroud* p;
    ~PairGuard() { freeHubShroud(p); }
};

// A hub that rises as the cylinder r = 15 to its inlet face at z = 40 and leaves radially at z = 5 up
// to its rim at r = 60 (the corner at (15, 5)), the shroud above it.
HubShroud* cornerHub(bool reversed) {
    Profile2D* hub = profileOf({{15, 40}, {15, 5}, {60, 5}});
    Profile2D* shroud = profileOf({{33, 40}, {33, 23}, {60, 23}});
    if (reversed) reverseProfile2D(hub), reverseProfile2D(shroud);
    auto* pair = static_cast<HubShroud*>(std::calloc(1, sizeof(HubShroud)));
    pair->hub = hub;
    pair->shroud = shroud;
    return pair;
}

// The closed form: the solid is r <= 15 below z = 40 and r <= 60 below z = 5; its boundary the inlet
// face, the wall, the floor and the rim.
double closedForm(double r, double z) {
    const bool inside = (r <= 15 && z < 40) || (r <= 60 && z < 5);
    auto seg = [&](double r0, double z0, double r1, double z1) {
        const double dr = r1 - r0, dz = z1 - z0;
        const double f = std::clamp(((r - r0) * dr + (z - z0) * dz) / (dr * dr + dz * dz), 0.0, 1.0);
        return std::hypot(r - r0 - f * dr, z - z0 - f * dz);
    };
    const double d =
        std::min({seg(0, 40, 15, 40), seg(15, 40, 15, 5), seg(15, 5, 60, 5), seg(60, 5, 60, -1e4)});
    return inside ? -d : d;
}

// The plain answers over the solid's own outline: the hub's sides and its faces measured in runs of
// kHubSolidRun, the run with the nearest box first, then each run in turn whose box lies nearer than
// the nearest side so far (exact), or every side (the geometry); the crossings over every side.
double plainDistance(const HubSolid* solid, const Vec2& q, bool inRuns) {
    const int32_t surface = solid->count - 3, sides = solid->count - 1;
    auto side2 = [&](int32_t i) {
        const Vec2 &a = solid->ring[i], &b = solid->ring[i + 1];
        const double ex = b.x - a.x, ez = b.y - a.y, l2 = ex * ex + ez * ez;
        const double f = l2 > 0 ? std::clamp(((q.x - a.x) * ex + (q.y - a.y) * ez) / l2, 0.0, 1.0) : 0.0;
        const double dx = q.x - a.x - f * ex, dz = q.y - a.y - f * ez;
        return dx * dx + dz * dz;
    };
    auto run2 = [&](int32_t k) {
        double d2 = HUGE_VAL;
        for (int32_t i = k * kHubSolidRun; i < std::min((k + 1) * kHubSolidRun, surface); ++i)
            d2 = std::min(d2, side2(i));
        return d2;
    };
    auto box2 = [&](int32_t k) {
        double r0 = HUGE_VAL, r1 = -HUGE_VAL, z0 = HUGE_VAL, z1 = -HUGE_VAL;
        for (int32_t i = k * kHubSolidRun; i <= std::min((k + 1) * kHubSolidRun, sides); ++i) {
            r0 = std::min(r0, solid->ring[i].x), r1 = std::max(r1, solid->ring[i].x);
            z0 = std::min(z0, solid->ring[i].y), z1 = std::max(z1, solid->ring[i].y);
        }
        const double dr = std::max({r0 - q.x, 0.0, q.x - r1}), dz = std::max({z0 - q.y, 0.0, q.y - z1});
        return dr * dr + dz * dz;
    };
    const int32_t runs = (sides + kHubSolidRun - 1) / kHubSolidRun;
    double d2 = HUGE_VAL;
    if (inRuns) {
        int32_t first = 0;
        for (int32_t k = 1; k < runs; ++k)
            if (box2(k) < box2(first)) first = k;
        d2 = run2(first);
        for (int32_t k = 0; k < runs; ++k)
            if (k != first && box2(k) < d2) d2 = std::min(d2, run2(k));
    } else {
        for (int32_t i = 0; i < surface; ++i) d2 = std::min(d2, side2(i));
    }
    bool inside = false;
    for (int32_t i = 0; i < sides; ++i) {
        const Vec2 &a = solid->ring[i], &b = solid->ring[i + 1];
        if ((a.y > q.y) != (b.y > q.y) && q.x < a.x + (q.y - a.y) / (b.y - a.y) * (b.x - a.x))
            inside = !inside;
    }
    return inside ? -std::sqrt(d2) : std::sqrt(d2);
}

}  // namespace

// Seeded points around the hub: the signed distance matches the closed form, whichever way the profiles
// run; past the inlet face and the outlet rim the faces count.
TEST(HubSolid, SignedDistanceMatchesTheClosedForm) {
    for (bool reversed : {false, true}) {
        PairGuard pair{cornerHub(reversed)};
        HubSolid* solid = hubSolidCreate(pair.p);
        ASSERT_NE(solid, nullptr);
        Rng rng{reversed ? 7u : 3u};
        for (int k = 0; k < 2000; ++k) {
            const double r = 70.0 * rngStep(&rng) / kRngMax, z = -5 + 55.0 * rngStep(&rng) / kRngMax;
            const double phi = 6.283 * rngStep(&rng) / kRngMax;
            const Vec3 p{r * std::cos(phi), r * std::sin(phi), z};
            EXPECT_NEAR(hubSolidDistance(solid, &p), closedForm(r, z), 1e-9) << r << " " << z;
        }
        // The cases the faces decide: over the inlet face, at its edge, beside the rim.
        const struct {
            double r, z, d;
        } faces[] = {{10, 41, 1}, {15.6, 40.8, 1}, {14, 39.5, -0.5}, {61, 3, 1}, {59.5, 3, -0.5}};
        for (const auto& f : faces) {
            const Vec3 p{f.r, 0, f.z};
            EXPECT_NEAR(hubSolidDistance(solid, &p), f.d, 1e-9) << f.r << " " << f.z;
        }
        hubSolidFree(solid);
    }
    // A conical outlet falling (3, -1) outward: the rim's face runs from (60, -10) into the solid along
    // the outlet's inward normal, so beyond the rim along the outlet, or beside the face, lies 1 off it.
    PairGuard cone{static_cast<HubShroud*>(std::calloc(1, sizeof(HubShroud)))};
    cone.p->hub = profileOf({{15, 40}, {15, 5}, {60, -10}});
    cone.p->shroud = profileOf({{33, 40}, {33, 23}, {70, 15}});
    HubSolid* solid = hubSolidCreate(cone.p);
    ASSERT_NE(solid, nullptr);
    const double c = 3 / std::sqrt(10.0), s = 1 / std::sqrt(10.0);  // along the outlet (c, -s)
    const struct {
        double along, in, d;  // from the rim along the outlet and along the inward normal (-s, -c)
    } rim[] = {{1, 0, 1}, {1, 0.5, 1}, {1, 3, 1}, {-0.5, 0.2, -0.2}, {-2, 1, -1}, {2, -1, std::sqrt(5.0)}};
    for (const auto& f : rim) {
        const Vec3 p{60 + f.along * c - f.in * s, 0, -10 - f.along * s - f.in * c};
        EXPECT_NEAR(hubSolidDistance(solid, &p), f.d, 1e-9) << f.along << " " << f.in;
    }
    hubSolidFree(solid);
    // The channel under the hub: the solid lies left of the way down, its rim's face rises 1e4 from (60, 5).
    freeProfile2D(cone.p->hub), freeProfile2D(cone.p->shroud);
    cone.p->hub = profileOf({{15, 40}, {15, 5}, {60, 5}});
    cone.p->shroud = profileOf({{33, -10}, {60, -10}});
    solid = hubSolidCreate(cone.p);
    ASSERT_NE(solid, nullptr);
    const Vec3 past{61, 0, 2e4}, under{30, 0, 0};
    EXPECT_NEAR(hubSolidDistance(solid, &past), std::hypot(1.0, 2e4 - 1e4 - 5), 1e-9);
    EXPECT_NEAR(hubSolidDistance(solid, &under), 5.0, 1e-9);
    hubSolidFree(solid);
    // No solid without a hub of two points and a shroud, or with a shroud through the hub's middle.
    const struct {
        std::vector<Vec2> hub, shroud;
    } none[] = {{{{15, 40}}, {{33, 40}, {60, 23}}},
                {{{15, 40}, {15, 5}}, {}},
                {{{15, 40}, {15, 0}}, {{15, 20}, {40, 20}}},
                {{{15, 40}, {15, 0}}, {{15, 20}}},
                {{{15, 40}, {15, 40}}, {{33, 45}}}};  // a hub of no length runs no way
    for (const auto& r : none) {
        PairGuard pair{static_cast<HubShroud*>(std::calloc(1, sizeof(HubShroud)))};
        pair.p->hub = profileOf(r.hub);
        pair.p->shroud = r.shroud.empty() ? nullptr : profileOf(r.shroud);
        EXPECT_EQ(hubSolidCreate(pair.p), nullptr) << r.hub.size() << " " << r.shroud.size();
    }
    EXPECT_EQ(hubSolidCreate(nullptr), nullptr);
    hubSolidFree(nullptr);
}

// The solid of a hub through the points, with a shroud above it.
HubSolid* solidOf(const std::vector<Vec2>& hub) {
    PairGuard pair{static_cast<HubShroud*>(std::calloc(1, sizeof(HubShroud)))};
    pair.p->hub = profileOf(hub);
    pair.p->shroud = profileOf({{33, 45}, {75, 25}});
    return hubSolidCreate(pair.p);
}

// hubSolidDistance at q turned about the axis: the plain scan's answer exactly, every side's up to
// rounding.
void expectPlain(const HubSolid* solid, Vec2 q, double phi, int32_t label, int k) {
    const Vec3 p{q.x * std::cos(phi), q.x * std::sin(phi), q.y};
    const Vec2 meridian{std::sqrt(p.x * p.x + p.y * p.y), p.z};
    const double d = hubSolidDistance(solid, &p);
    EXPECT_EQ(d, plainDistance(solid, meridian, true)) << label << " " << k;
    EXPECT_NEAR(d, plainDistance(solid, meridian, false), 1e-12 * (1 + std::fabs(d))) << label << " " << k;
}

// For hubs of 2 to 40 points the runs cover the sides, the last one holding one at least, and the
// leaves are the least power of two not below the runs.
TEST(HubSolid, RunsCoverTheSides) {
    for (int32_t count = 2; count <= 40; ++count) {
        std::vector<Vec2> hub;
        for (int32_t i = 0; i < count; ++i) hub.push_back({15.0 + i, 40.0 - i});
        HubSolid* solid = solidOf(hub);
        ASSERT_NE(solid, nullptr) << count;
        const int32_t sides = solid->count - 1;
        EXPECT_TRUE(solid->runs * kHubSolidRun >= sides && (solid->runs - 1) * kHubSolidRun < sides) << count;
        EXPECT_TRUE(solid->leaves >= solid->runs && 2 * solid->runs > solid->leaves) << count;
        EXPECT_EQ(solid->leaves & (solid->leaves - 1), 0) << count;
        hubSolidFree(solid);
    }
}

// Short of memory at any allocation: no solid, or the very solid made with all of it.
TEST(HubSolid, EveryFailedAllocationGivesNoSolidOrTheSame) {
    PairGuard pair{cornerHub(false)};
    failEachAllocation("hub solid", [&]() -> AllocMade {
        HubSolid* s = hubSolidCreate(pair.p);
        if (!s) return std::nullopt;
        std::vector<double> v(s->boxes + 4 * s->leaves, s->boxes + 4 * (s->leaves + s->runs));
        for (int32_t i = 0; i < s->count; ++i) v.push_back(s->ring[i].x), v.push_back(s->ring[i].y);
        hubSolidFree(s);
        return v;
    });
}

// Seeded wavy hubs of a few to thousands of points: the walk down the runs' boxes gives the plain scan's
// answer exactly, at points near the profile, on its vertices, by the vertices that end runs and far
// from it.
TEST(HubSolid, DistanceIsThePlainScans) {
    Rng rng{2024u};
    auto unit = [&] { return double(rngStep(&rng)) / kRngMax; };
    for (int32_t count : {2, 3, 15, 17, 32, 33, 200, 1000, 5000}) {  // 15: a last run of closing sides only
        std::vector<Vec2> hub(count);
        const double wave = 0.5 + 3 * unit(), turns = 1 + 20 * unit();
        for (int32_t i = 0; i < count; ++i) {
            const double t = count > 1 ? double(i) / (count - 1) : 0.0;
            hub[i] = {15 + 45 * t + wave * std::sin(turns * 6.283 * t),
                      40 - 35 * t + wave * std::cos(turns * 3.1 * t)};
        }
        HubSolid* solid = solidOf(hub);
        ASSERT_NE(solid, nullptr) << count;
        // The plain scan costs the outline's length per query: long outlines take fewer queries.
        const int queries = count >= 1000 ? 400 : 4000;
        for (int k = 0; k < queries; ++k) {
            Vec2 q;
            if (k % 4 == 0) {
                const Vec2& h = hub[rngStep(&rng) % count];
                q = {h.x + 6 * (unit() - 0.5), h.y + 6 * (unit() - 0.5)};
            } else if (k % 4 == 1) {
                q = solid->ring[rngStep(&rng) % solid->count];
            } else if (k % 4 == 2) {
                const Vec2& h = solid->ring[kHubSolidRun * (rngStep(&rng) % solid->runs)];
                q = {h.x + 4 * (unit() - 0.5), h.y + 4 * (unit() - 0.5)};
            } else {
                q = {80 * unit(), -20 + 80 * unit()};
            }
            expectPlain(solid, q, 6.283 * unit(), count, k);
        }
        hubSolidFree(solid);
    }
}

// Each run's box is the bounds of its points (the sides' ends, the next run's first point too) and the
// leaves past the runs hold empty boxes, for a hub wholly below z = 0 as for any other.
TEST(HubSolid, RunBoxesBoundTheirPoints) {
    std::vector<Vec2> hub;
    for (int i = 0; i < 40; ++i) hub.push_back({15.0 + i, -5 - 0.5 * i - (i % 3)});
    HubSolid* solid = solidOf(hub);
    ASSERT_NE(solid, nullptr);
    ASSERT_LT(solid->runs, solid->leaves);  // some leaf holds no run
    const int32_t sides = solid->count - 1;
    for (int32_t k = 0; k < solid->leaves; ++k) {
        const double* b = solid->boxes + 4 * (solid->leaves + k);
        if (k >= solid->runs) {
            EXPECT_TRUE(b[0] > b[1] && b[2] > b[3]) << k;
            continue;
        }
        double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
        for (int32_t i = k * kHubSolidRun; i <= std::min((k + 1) * kHubSolidRun, sides); ++i) {
            const Vec2& q = solid->ring[i];
            lo[0] = std::min(lo[0], q.x), hi[0] = std::max(hi[0], q.x);
            lo[1] = std::min(lo[1], q.y), hi[1] = std::max(hi[1], q.y);
        }
        EXPECT_EQ(b[0], lo[0]) << k;
        EXPECT_EQ(b[1], hi[0]) << k;
        EXPECT_EQ(b[2], lo[1]) << k;
        EXPECT_EQ(b[3], hi[1]) << k;
    }
    hubSolidFree(solid);
}

// A vertex that ends the first run as the nearest corner of its box, the side before it falling from
// z = 9 to 1: measured at the end of that side its distance may lie a bit below the box's, which the
// scan keeps or not. The next run turns back (both boxes lie equally near: the scan starts with the
// first) or rises beyond the vertex (its box lies nearer, the face's run holds the points: the scan
// starts there and takes the first run before the next).
TEST(HubSolid, SharedCornerKeepsTheScansSum) {
    for (bool back : {true, false}) {
        std::vector<Vec2> hub;
        for (int i = 0; i < 15; ++i) hub.push_back({15 + 30.0 * i / 14, 40 - 31.0 * i / 14});
        hub.push_back({50, 1});  // the outline's 17th point: the end of the first run
        for (int i = 0; i < 16; ++i)
            hub.push_back(back ? Vec2{48 - 8.0 * i / 15, 9 - 6.0 * i / 15}
                               : Vec2{50.2 + 2.8 * i / 15, 3 + 6.0 * i / 15});
        for (int i = 1; !back && i <= 8; ++i) hub.push_back({53 + 5.0 * i / 8, 9 - 7.0 * i / 8});
        HubSolid* solid = solidOf(hub);
        ASSERT_NE(solid, nullptr);
        ASSERT_EQ(solid->ring[kHubSolidRun].x, 50);
        Rng rng{back ? 77u : 78u};
        for (int k = 0; k < 2000; ++k) {
            const Vec2 q{50 + 2.0 * rngStep(&rng) / kRngMax, 1 - 0.9 * rngStep(&rng) / kRngMax};
            expectPlain(solid, q, 0.0, back, k);
        }
        hubSolidFree(solid);
    }
}

// The first two runs pass out to r = 40 round the query, the nearest point the third run's corner (31, 1),
// its sum a bit below its box's at some points (sides from below z = 0): the scan reaches that half too.
TEST(HubSolid, CornerOfTheSecondHalfIsFound) {
    std::vector<Vec2> hub;
    for (int i = 0; i <= 10; ++i) hub.push_back({15 + 2.5 * i, 21});
    for (int j = 1; j <= 6; ++j) hub.push_back({40, 21 - 5.0 * j});
    for (int k = 1; k <= 15; ++k) hub.push_back({40 - 9.0 * k / 15, -9 - 8.0 * k / 15});
    for (int m = 0; m < 6; ++m) hub.push_back({30.3 + 0.7 * m / 6, -15.3 + 16.3 * m / 6});
    for (int m = 0; m <= 14; ++m) hub.push_back({31 - 0.37 * m, 1 - 1.3 * m});
    HubSolid* solid = solidOf(hub);
    ASSERT_TRUE(solid && solid->leaves == 4 && solid->ring[39].x == 31 && solid->ring[39].y == 1);
    Rng rng{4242u};
    for (int k = 0; k < 1000; ++k)
        expectPlain(solid, Vec2{31 + 1.0 * rngStep(&rng) / kRngMax, 1 + 1.0 * rngStep(&rng) / kRngMax}, 0.0,
                    4, k);
    hubSolidFree(solid);
}
