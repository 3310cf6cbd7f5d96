#include "surfaces/Implib/slwrz.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "KVWOG5/lists.h"
#include "KVWOG5/wogerr.h"

namespace {

struct Hits {
    PointList3D* list = pointList3DCreate(4);
    ~Hits() { pointList3DFree(list); }
};

// The hits of a segment on every profile edge in turn: the answer the whole-profile searches must give.
void edgeByEdge(const std::vector<Vec2>& prof, const double* seg, PointList3D* hits) {
    for (size_t i = 0; i + 1 < prof.size(); ++i) {
        const double edge[4] = {prof[i].x, prof[i].y, prof[i + 1].x, prof[i + 1].y};
        const int rc = std::fabs(edge[3] - edge[1]) < 1e-6   ? slwrzPlane(seg, edge, hits)
                       : std::fabs(edge[2] - edge[0]) < 1e-6 ? slwrzCylinder(seg, edge, hits)
                                                             : slwrzCone(seg, edge, hits);
        ASSERT_GE(rc, 0);
    }
}

}  // namespace

TEST(Slwrz, EdgeCasesCountHitsOnce) {
    struct Case {
        const char* what;
        std::vector<Vec2> profile;
        double seg[6];
        int hits;
        double r;  // radius of the first hit
    };
    const Case cases[] = {
        {"ring 10..20 crossed vertically", {{10, 5}, {20, 5}}, {15, 0, 0, 15, 0, 10}, 1, 15},
        {"ring missed inside", {{10, 5}, {20, 5}}, {5, 0, 0, 5, 0, 10}, 0, 0},
        {"ring crossed on its inner circle", {{20, 5}, {10, 5}}, {0, 10, 0, 0, 10, 10}, 1, 10},
        {"ring crossed on its outer circle", {{10, 5}, {20, 5}}, {0, -20, 10, 0, -20, 0}, 1, 20},
        {"cylinder tangent", {{10, 0}, {10, 20}}, {10, -5, 3, 10, 5, 3}, 1, 10},
        {"cylinder crossed twice", {{10, 0}, {10, 20}}, {-20, 0, 3, 20, 0, 3}, 2, 10},
        {"shared profile vertex", {{10, 0}, {10, 5}, {20, 5}}, {5, 0, 0, 15, 0, 10}, 1, 10},
        {"cone beside its z range", {{10, 0}, {20, 10}}, {-30, 0, 15, 30, 0, 15}, 0, 0},
        {"cone crossed at mid height", {{10, 0}, {20, 10}}, {0, 0, 5, 30, 0, 5}, 1, 15},
        {"cone ending on the axis", {{0, 10}, {10, 0}}, {0, 0, 5, 30, 0, 5}, 1, 5},
        {"cone, along its generators' slope", {{10, 0}, {20, 10}}, {0, 5, 2, 10, 5, 12}, 0, 0},
        {"along the axis on a cylinder", {{10, 0}, {10, 20}}, {10, 0, -5, 10, 0, 30}, 2, 10},
        {"along the axis on a cylinder widening 5e-7",
         {{10, 0}, {10 + 5e-7, 20}},
         {10, 0, -5, 10, 0, 30},
         2,
         10},
        {"in the ring's plane", {{10, 5}, {20, 5}}, {0, 0, 5, 30, 0, 5}, 2, 10},
        {"in the ring's plane, both ends on it", {{10, 5}, {20, 5}}, {15, 0, 5, 18, 0, 5}, 2, 15},
        {"in the ring's plane, out along y", {{10, 5}, {20, 5}}, {0, 15, 5, 0, 30, 5}, 2, 15},
        {"rising 1e-8 only: still level", {{10, 0}, {20, 0}}, {0, 0, 0, 30, 0, 1e-8}, 2, 10},
        {"ring rising 5e-7, met at t = 1", {{10, 5}, {20, 5 + 5e-7}}, {15, 0, 0, 15, 0, 5}, 1, 15},
    };
    for (const Case& c : cases) {
        Hits h;
        ASSERT_NE(h.list, nullptr);
        EXPECT_EQ(slwrz(c.profile.data(), static_cast<int32_t>(c.profile.size()), c.seg, h.list), c.hits)
            << c.what;
        if (c.hits > 0) {
            EXPECT_NEAR(std::hypot(h.list->data[0].x, h.list->data[0].y), c.r, 1e-9) << c.what;
        }
    }
    Hits h;
    // A ring met in its own plane is crossed (1); a level segment above it is not (0).
    const double ring[4] = {10, 5, 20, 5}, inPlane[6] = {0, 0, 5, 30, 0, 5}, above[6] = {0, 0, 6, 30, 0, 6};
    EXPECT_EQ(slwrzPlane(inPlane, ring, h.list), 1);
    EXPECT_EQ(slwrzPlane(above, ring, h.list), 0);
    // Rising, it is crossed only within the segment and between the ring's circles.
    const double below[6] = {15, 0, 0, 15, 0, 4}, inside[6] = {5, 0, 0, 5, 0, 10},
                 across[6] = {15, 0, 0, 15, 0, 10};
    EXPECT_EQ(slwrzPlane(across, ring, h.list), 1);
    EXPECT_EQ(slwrzPlane(below, ring, h.list), 0);
    EXPECT_EQ(slwrzPlane(inside, ring, h.list), 0);
    // A hit 5e-8 below the top of a wall, on a segment rising 1e-6 over its length: its block is searched.
    const Vec2 tall[2] = {{10, 0}, {10, 10}};
    std::vector<double> block(size_t(slwrzBlockSize(2)));
    slwrzBlocks(tall, 2, block.data());
    const double skim[6] = {0, 0, 10 - 5.5e-7, 20, 0, 10 + 4.5e-7};
    Hits wallHits;
    EXPECT_EQ(slwrzBlocked(tall, 2, block.data(), skim, wallHits.list), 1);
    // A ring 1e6 up atop a wall down to -1e7, met level at its height: the block's depth is no reason
    // to pass it over.
    const Vec2 deep[3] = {{10, 1e6}, {20, 1e6}, {20, -1e7}};
    std::vector<double> deepBlock(size_t(slwrzBlockSize(3)));
    slwrzBlocks(deep, 3, deepBlock.data());
    const double level[6] = {0, 0, 1e6, 30, 0, 1e6};
    Hits ringHits;
    EXPECT_EQ(slwrzBlocked(deep, 3, deepBlock.data(), level, ringHits.list), 2);
    EXPECT_EQ(h.list->count, 3);
    // Nothing to cut: the count of the hits already held.
    const Vec2 one{1, 1};
    const double seg[6] = {0, 0, 0, 1, 1, 1};
    EXPECT_EQ(slwrz(&one, 1, seg, h.list), 3);
    EXPECT_EQ(slwrz(nullptr, 4, seg, h.list), 3);
    h.list->count = 0;
    wogErrorReset();
    EXPECT_EQ(slwrz(&one, 2, seg, nullptr), -1);
    EXPECT_EQ(wogErrorState()->code, -1);
    EXPECT_STREQ(wogErrorState()->file, "slwrz");
    // Along a cylinder's axis a hit at its upper height that cannot be stored is -1, as documented.
    const double wall[4] = {1, 0, 1, 1}, up[6] = {1, 0, 0.5, 1, 0, 2};
    EXPECT_EQ(slwrzCylinder(up, wall, nullptr), -1);
}

// Every reported hit lies on the segment and on the swept profile, and every sign change of
// (distance from the axis - profile radius at that height) along a fine sampling is reported.
TEST(Slwrz, SeededSegmentsAgainstSampling) {
    std::mt19937 rng(105);
    std::uniform_real_distribution<double> U(-40.0, 40.0), R(5.0, 30.0);
    for (int round = 0; round < 200; ++round) {
        std::vector<Vec2> prof;
        double z = 30;
        for (int i = 0; i < 4; ++i, z -= 5 + (rng() % 10)) prof.push_back({R(rng), z});
        const double seg[6] = {U(rng), U(rng), U(rng), U(rng), U(rng), U(rng)};
        Hits h;
        const int n = slwrz(prof.data(), 4, seg, h.list);
        ASSERT_GE(n, 0);
        auto radiusAt = [&](double zz, double* r) {
            for (int i = 0; i + 1 < 4; ++i) {
                const double za = prof[i].y, zb = prof[i + 1].y;
                if (zz <= za && zz >= zb) {
                    *r = prof[i].x + (prof[i + 1].x - prof[i].x) * (zz - za) / (zb - za);
                    return true;
                }
            }
            return false;
        };
        for (int k = 0; k < n; ++k) {
            const Vec3& p = h.list->data[k];
            double r = 0;
            ASSERT_TRUE(radiusAt(p.z, &r));
            EXPECT_NEAR(std::hypot(p.x, p.y), r, 1e-7);
        }
        int changes = 0;
        double prev = NAN;
        for (int s = 0; s <= 4000; ++s) {
            const double t = s / 4000.0;
            const double x = seg[0] + t * (seg[3] - seg[0]), y = seg[1] + t * (seg[4] - seg[1]),
                         zz = seg[2] + t * (seg[5] - seg[2]);
            double r = 0;
            const double f = radiusAt(zz, &r) ? std::hypot(x, y) - r : NAN;
            if (!std::isnan(f) && !std::isnan(prev) && (f > 0) != (prev > 0)) ++changes;
            prev = f;
        }
        EXPECT_GE(n, changes) << round;
    }
}

// The crossings of a long profile equal those of its edges solved one by one in profile order (bit
// for bit, duplicates dropped alike): plane rings, cylinders, cones ending on the axis or beyond it,
// and segments lying on a cone, through the axis, along it and level with a ring or a profile point.
// Also with the blocks, which must never pass over a hit: segments that graze a block's widest or
// narrowest circle, run along an edge's line or a cylinder, lie in a ring's plane, or reach far.
TEST(Slwrz, LongProfilesGiveTheEdgeByEdgeHits) {
    std::mt19937 rng(34);
    std::uniform_real_distribution<double> U(-1.0, 1.0);
    for (int round = 0; round < 600; ++round) {
        std::vector<Vec2> prof;
        double r = 20 + 10 * U(rng), z = 60;
        // Gentle slopes keep the blocks' rounding margins small, so that grazing decides.
        const bool gentle = round % 7 < 3;
        for (int i = 0; i < 200; ++i) {
            const int kind = static_cast<int>(rng() % 6);  // 0 ring, 1 cylinder, else cone
            r = kind == 1 ? r : kind == 5 && !gentle ? -r * 0.1 : std::fabs(r + (gentle ? 0.3 : 8) * U(rng));
            z = kind == 0 ? z : z - 0.7 * (1 + (gentle ? 0.5 : 1) * U(rng));
            prof.push_back({r, z});
        }
        const int first = 32 * static_cast<int>(rng() % 7);  // at a block's smallest or largest radius
        int e = first;
        for (int i = first; i < std::min(first + 32, 199); ++i)
            if ((std::fabs(prof[size_t(i)].x) > std::fabs(prof[size_t(e)].x)) == (round % 2 == 1)) e = i;
        if (round % 4 == 3) e = static_cast<int>(rng() % 199);
        if (round % 6 == 4) prof[size_t(e) + 1].x = prof[size_t(e)].x;  // a cylinder there
        const Vec2 a = prof[size_t(e)], b = prof[size_t(e) + 1];
        const double phi = 3.2 * U(rng), c = std::cos(phi), s = std::sin(phi), f = 3 * U(rng);
        const double rm = std::fabs(a.x) * (1 + (rng() % 3 == 0 ? 0.0 : 1e-9 * U(rng))), d = 1e-5 * U(rng);
        double seg[6] = {30 * U(rng), 30 * U(rng), 60 * U(rng), 30 * U(rng), 30 * U(rng), 60 * U(rng)};
        if (round % 6 == 1) {  // on the line of one edge, beyond its ends
            const double g[6] = {a.x * c, a.x * s, a.y, b.x * c, b.x * s, b.y};
            for (int k = 0; k < 3; ++k)
                seg[k] = g[k] - f * (g[k + 3] - g[k]), seg[k + 3] = g[k + 3] + f * (g[k + 3] - g[k]);
        } else if (round % 6 == 2) {  // level with a profile point, or along the axis
            seg[2] = seg[5] = a.y;
            if (round % 12 == 2) seg[0] = seg[1] = seg[3] = seg[4] = 0;
            if (round % 12 == 8) seg[0] = 0, seg[4] = seg[1];  // a zero middle coefficient
        } else if (round % 6 == 3) {                           // tangent to the circle of a profile point
            const double g[6] = {rm * c - 40 * s, rm * s + 40 * c, a.y,
                                 rm * c + 40 * s, rm * s - 40 * c, a.y};
            std::copy(g, g + 6, seg);
        } else if (round % 6 == 4) {  // along the axis on the cylinder, drifting a hair off it
            const double g[6] = {a.x * c, a.x * s, 80 * U(rng), (a.x + d) * c, (a.x + d) * s, 80 * U(rng)};
            std::copy(g, g + 6, seg);
        } else if (round % 6 == 5) {  // a long reach from beside the profile, as the rows' tops
            const double g[6] = {rm * c, rm * s, a.y - 5 * U(rng), 300 * U(rng), 300 * U(rng), a.y + 1000};
            std::copy(g, g + 6, seg);
        }
        Hits got, want, blocked;
        ASSERT_TRUE(got.list != nullptr && want.list != nullptr && blocked.list != nullptr);
        const int n = slwrz(prof.data(), static_cast<int32_t>(prof.size()), seg, got.list);
        edgeByEdge(prof, seg, want.list);
        ASSERT_EQ(n, want.list->count) << round;
        EXPECT_EQ(std::memcmp(got.list->data, want.list->data, sizeof(Vec3) * size_t(n)), 0) << round;
        std::vector<double> blocks(size_t(slwrzBlockSize(200)));
        slwrzBlocks(prof.data(), 200, blocks.data());
        ASSERT_EQ(slwrzBlocked(prof.data(), 200, blocks.data(), seg, blocked.list), n) << round;
        EXPECT_EQ(std::memcmp(blocked.list->data, want.list->data, sizeof(Vec3) * size_t(n)), 0) << round;
    }
}

// Edge counts that fill their last block exactly, or leave it one edge: the table is exactly as long as
// asked for (a block too many would write past it) and the blocked search still gives every hit.
TEST(Slwrz, BlockTablesOfEveryLengthHoldTheirBlocks) {
    for (const int32_t n : {1, 2, 32, 33, 34, 65}) {
        std::vector<Vec2> prof;
        for (int32_t i = 0; i < n; ++i) prof.push_back({10.0 + i % 3, 50.0 - i});
        std::unique_ptr<double[]> blocks(new double[size_t(slwrzBlockSize(n))]);
        slwrzBlocks(prof.data(), n, blocks.get());
        const double zc = 50.25 - (n - 1) / 2.0;  // level, between two profile points
        const double seg[6] = {-40, 1.5, zc, 40, 1.5, zc};
        Hits want, blocked;
        edgeByEdge(prof, seg, want.list);
        EXPECT_EQ(want.list->count, n >= 2 ? 2 : 0) << n;
        EXPECT_EQ(slwrzBlocked(prof.data(), n, blocks.get(), seg, blocked.list), want.list->count) << n;
    }
    // A point that is not a number leaves its block open: the ring it spoils is still searched.
    const std::vector<Vec2> odd{{NAN, 5}, {3, 5}};
    std::vector<double> blocks(size_t(slwrzBlockSize(2)));
    slwrzBlocks(odd.data(), 2, blocks.data());
    const double up[6] = {1, 0, 0, 1, 0, 10};
    Hits want, blocked;
    edgeByEdge(odd, up, want.list);
    EXPECT_EQ(slwrzBlocked(odd.data(), 2, blocks.data(), up, blocked.list), want.list->count);
}
