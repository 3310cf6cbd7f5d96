#include "geometry/seg3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

void expectVec(const Vec3& a, const Vec3& b, double tol = 1e-9) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

Vec3 lerp(const Vec3& a, const Vec3& b, double f) {
    return Vec3{a.x + f * (b.x - a.x), a.y + f * (b.y - a.y), a.z + f * (b.z - a.z)};
}

Plist* pathOf(const std::vector<Vec3>& pts, const std::vector<int>& kinds = {}) {
    Plist* l = plistCreate(static_cast<int32_t>(pts.size()), 0);
    for (size_t i = 0; i < pts.size(); ++i)
        plistAppend(l, double(i), &pts[i], static_cast<uint16_t>((kinds.empty() ? 0 : kinds[i]) << 8),
                    nullptr, 0);
    return l;
}

}  // namespace

TEST(Seg3D, PointSegmentDistance) {
    const Vec3 a{0, 0, 0}, b{4, 0, 0};
    const struct {
        Vec3 q;
        double dist;
        Vec3 near;
    } cases[] = {
        {{6, 0, 0}, 2, {4, 0, 0}}, {{7, 4, 0}, 5, {4, 0, 0}}, {{-3, 4, 0}, 5, {0, 0, 0}},
        {{1, 3, 4}, 5, {1, 0, 0}}, {{2, 0, 0}, 0, {2, 0, 0}}, {{4, 0, 1}, 1, {4, 0, 0}},
    };
    for (const auto& c : cases) {
        Vec3 near{9, 9, 9};
        EXPECT_NEAR(distPointSeg3D(&a, &b, &c.q, &near), c.dist, 1e-12);
        expectVec(near, c.near);
    }
    // A degenerate segment answers with its nearer end.
    const Vec3 d{1, 1, 1}, q{1, 1, 3};
    Vec3 near;
    EXPECT_DOUBLE_EQ(distPointSeg3D(&d, &d, &q, &near), 2.0);
    expectVec(near, d);
}

TEST(Seg3D, PointSegmentPlanDistance) {
    const Vec3 a{0, 0, 0}, b{2, 0, 4};
    const struct {
        Vec3 q;
        double dist;
        Vec3 near;
    } cases[] = {
        {{1, 0, 100}, 0, {1, 0, 2}},
        {{1, 3, -5}, 3, {1, 0, 2}},
        {{5, 4, 0}, 5, {2, 0, 4}},
    };
    for (const auto& c : cases) {
        Vec3 near;
        EXPECT_NEAR(distPointSeg3DXY(&a, &b, &c.q, &near), c.dist, 1e-12);
        expectVec(near, c.near);
    }
    // Vertical segment: no plan length, the nearer end in space decides.
    const Vec3 v0{0, 0, 0}, v1{0, 0, 5}, q{3, 4, 6};
    Vec3 near;
    EXPECT_NEAR(distPointSeg3DXY(&v0, &v1, &q, &near), 5.0, 1e-12);
    expectVec(near, v1);
}

TEST(Seg3D, NearestOnPolylinePicksTheFirstBestSegment) {
    const Vec3 pts[] = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}};
    const Vec3 q{1, 1, 0};  // 1 from every segment: the first wins
    Vec3 near{9, 9, 9};
    int32_t index = -1;
    EXPECT_DOUBLE_EQ(nearestOnPolyline3D(pts, 4, &q, &near, &index), 1.0);
    EXPECT_EQ(index, 1);
    expectVec(near, Vec3{1, 0, 0});
    const Vec3 r{3, 1.5, 0};
    EXPECT_DOUBLE_EQ(nearestOnPolyline3D(pts, 4, &r, &near, &index), 1.0);
    EXPECT_EQ(index, 2);
    near = Vec3{9, 9, 9};
    index = -1;
    EXPECT_EQ(nearestOnPolyline3D(pts, 1, &q, &near, &index), 0.0);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(near.x, 9);
}

TEST(Seg3D, SegmentSegmentDistance) {
    const struct {
        Vec3 a0, a1, b0, b1;
        int inner;
        double dist;
        Vec3 nearA, nearB;
    } cases[] = {
        // Skew, perpendicular, crossing in plan: the vertical gap.
        {{0, 0, 0}, {2, 0, 0}, {1, -1, 3}, {1, 1, 3}, 1, 3, {1, 0, 0}, {1, 0, 3}},
        // Parallel: end points decide; b0 to segment a comes first and a1 to b ties with it.
        {{0, 0, 0}, {4, 0, 0}, {5, 2, 0}, {7, 2, 0}, 0, std::sqrt(5.0), {4, 0, 0}, {5, 2, 0}},
        // Common perpendicular outside b: end b1 to segment a.
        {{0, 0, 0}, {4, 0, 0}, {2, 5, 1}, {2, 3, 1}, 0, std::sqrt(10.0), {2, 0, 0}, {2, 3, 1}},
        // Crossing segments.
        {{0, 0, 0}, {2, 2, 0}, {0, 2, 0}, {2, 0, 0}, 1, 0, {1, 1, 0}, {1, 1, 0}},
    };
    for (const auto& c : cases) {
        Vec3 pa, pb;
        EXPECT_EQ(segSegNearest3D(&c.a0, &c.a1, &c.b0, &c.b1, &pa, &pb), c.inner);
        EXPECT_NEAR(segSegDist3D(&c.a0, &c.a1, &c.b0, &c.b1, &pa, &pb), c.dist, 1e-9);
        expectVec(pa, c.nearA);
        expectVec(pb, c.nearB);
    }
    const Vec3 p{1, 1, 1};
    Vec3 pa, pb;
    EXPECT_EQ(segSegNearest3D(&p, &p, &p, &p, &pa, &pb), 0);
}

TEST(Seg3D, SegmentDistanceIsTheMinimumOverBothSegments) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-5.0, 5.0);
    auto rnd = [&] { return Vec3{u(rng), u(rng), u(rng)}; };
    for (int round = 0; round < 200; ++round) {
        const Vec3 a0 = rnd(), a1 = rnd(), b0 = rnd(), b1 = rnd();
        Vec3 pa, pb;
        const double d = segSegDist3D(&a0, &a1, &b0, &b1, &pa, &pb);
        // The nearest points lie on their segments and are d apart.
        Vec3 tmp;
        // (The distance formula cancels for points on the segment: 1e-7 is its noise.)
        EXPECT_LT(distPointSeg3D(&a0, &a1, &pa, &tmp), 1e-6);
        EXPECT_LT(distPointSeg3D(&b0, &b1, &pb, &tmp), 1e-6);
        EXPECT_NEAR(dist3D(&pa, &pb), d, 1e-9);
        // No pair of sampled points is closer.
        double sampled = 1e300;
        for (int i = 0; i <= 100; ++i) {
            const Vec3 p = lerp(a0, a1, i / 100.0);
            sampled = std::fmin(sampled, distPointSeg3D(&b0, &b1, &p, &tmp));
        }
        EXPECT_LE(d, sampled + 1e-9);
        EXPECT_GE(d, sampled - 0.2);
    }
}

TEST(Seg3D, ThinRemovesSpikesJudgedOnTheOriginalPath) {
    Plist* l = pathOf({{0, 0, 0}, {1, 0, 0}, {0.5, 0, 0}, {2, 0, 0}});
    EXPECT_EQ(polyline3DThin(l), 2);
    EXPECT_EQ(l->points[0].x, 0);
    EXPECT_EQ(l->points[1].x, 2);
    EXPECT_EQ(l->parameters[1], 3);
    plistFree(l);
    // Next to a link the spike stays; a right angle is no spike.
    Plist* k = pathOf({{0, 0, 0}, {1, 0, 0}, {0, 0, 0.1}, {0, 1, 0}, {0, 2, 0}}, {0, 0, 2, 0, 0});
    EXPECT_EQ(polyline3DThin(k), 5);
    plistFree(k);
    Plist* z = pathOf({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 0}});
    EXPECT_EQ(polyline3DThin(z), 4);
    plistFree(z);
}

TEST(Seg3D, ThinAllRepeatsUntilNothingChanges) {
    // Removing the spike at (10,0) makes a new one at (5,1), which only a second pass sees.
    Plist* l = pathOf({{0, 0, 0}, {10, 0, 0}, {5, 1, 0}, {4, 2, 0}, {4, 10, 0}});
    EXPECT_EQ(polyline3DThin(l), 4);
    EXPECT_EQ(polyline3DThinAll(l), 3);
    EXPECT_EQ(l->points[1].x, 4);
    EXPECT_EQ(polyline3DThin(l), 3);
    plistFree(l);
    EXPECT_EQ(polyline3DThinAll(nullptr), 0);
}
