#include "avoidance/approach.h"

#include <gtest/gtest.h>

#include <cmath>

#include "avoidance/avoidgrid.h"
#include "avoidance/avoidtilt.h"
#include "avoidance/near.h"
#include "geometry/rng.h"

namespace {

double uni(double lo, double hi) {
    return lo + (hi - lo) * rngUniform();
}
Vec3 rnd(double r) {
    return Vec3{uni(-r, r), uni(-r, r), uni(-r, r)};
}
Vec3 unitOf(Vec3 v) {
    const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return Vec3{v.x / n, v.y / n, v.z / n};
}
double dotOf(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
int blockAll(const Vec3*, const Vec3*) {
    return -2;
}

}  // namespace

TEST(Approach, ProjectionsAgainstClosedForms) {
    rngResetState();
    const Vec3 o{1, 2, 3}, n{0, 0, 1};
    Vec3 d = n;
    EXPECT_EQ(projectDirOnPlane(&o, &n, &d), -1);
    EXPECT_VEC_NEAR(d, n, 0.0);
    Vec3 out{}, foot{};
    const Vec3 z{0, 0, 1}, onAxis{0, 0, 7};
    EXPECT_EQ(projectPointOnAxis(&z, 4.0, &onAxis, &out, &foot), 1);
    EXPECT_VEC_NEAR(out, (Vec3{-4, 0, 7}), 1e-12);
    for (int k = 0; k < 50; k++) {
        const Vec3 nn = unitOf(rnd(1)), dd = rnd(1);
        d = dd;
        ASSERT_EQ(projectDirOnPlane(&o, &nn, &d), 1);
        const Vec3 expect = unitOf(
            Vec3{dd.x - dotOf(dd, nn) * nn.x, dd.y - dotOf(dd, nn) * nn.y, dd.z - dotOf(dd, nn) * nn.z});
        EXPECT_VEC_NEAR(d, expect, 1e-9);
        const Vec3 p = rnd(10);
        const double r = uni(0.5, 5);
        EXPECT_EQ(projectPointOnAxis(&z, r, &p, &out, &foot), 0);
        EXPECT_VEC_NEAR(out, (Vec3{p.x * r / std::hypot(p.x, p.y), p.y * r / std::hypot(p.x, p.y), p.z}),
                        1e-9);
        EXPECT_NEAR(pointDistDiff3D(&p, &out, &foot), r - std::hypot(p.x, p.y), 1e-9);
    }
}

TEST(Approach, LoopRunsOnItsCircle) {
    rngResetState();
    for (int k = 0; k < 40; k++) {
        const Vec3 p0 = rnd(10), p1 = rnd(10), a0 = unitOf(Vec3{uni(-.5, .5), uni(-.5, .5), 1}),
                   a1 = unitOf(Vec3{uni(-.5, .5), uni(-.5, .5), 1});
        const double R = uni(1, 5), lift = k % 2 ? 3.0 : 0.0, step = uni(0.1, 0.5);
        Plist* L = approachSearchPoints(&p0, &p1, nullptr, &a0, &a1, R, lift, step);
        ASSERT_NE(L, nullptr);
        const int32_t n = 1 + static_cast<int32_t>(6.283185307179586 / step);
        EXPECT_EQ(L->count, n + 1 + (lift > 0 ? 2 : 0));
        const Vec3 d = unitOf(Vec3{p1.x - p0.x, p1.y - p0.y, p1.z - p0.z}),
                   m = unitOf(Vec3{a0.x + a1.x, a0.y + a1.y, a0.z + a1.z});
        const Vec3 c =
            unitOf(Vec3{m.x - dotOf(m, d) * d.x, m.y - dotOf(m, d) * d.y, m.z - dotOf(m, d) * d.z});
        const Vec3 centre{p1.x + R * c.x, p1.y + R * c.y, p1.z + R * c.z};
        EXPECT_VEC_NEAR(L->points[0], p1, 1e-12);
        EXPECT_VEC_NEAR(L->points[L->count - 1], p1, 1e-12);
        const Vec3 normal{d.y * c.z - d.z * c.y, d.z * c.x - d.x * c.z, d.x * c.y - d.y * c.x};
        for (int32_t i = 0; i < L->count; i++) {
            bool onCircle = false;  // once the lift (whole, half or none) along the mean axis is undone
            for (double up : {0.0, lift, lift / 2}) {
                const Vec3 w{L->points[i].x - up * m.x - centre.x, L->points[i].y - up * m.y - centre.y,
                             L->points[i].z - up * m.z - centre.z};
                onCircle |=
                    std::fabs(std::sqrt(dotOf(w, w)) - R) < 1e-9 && std::fabs(dotOf(w, normal)) < 1e-9;
            }
            EXPECT_TRUE(onCircle) << i;
        }
        EXPECT_VEC_NEAR(L->vectors[0], a0, 0);
        EXPECT_VEC_NEAR(L->vectors[L->count - 1], a1, 0);
        plistFree(L);
    }
}

TEST(Approach, TravelAroundThePartAxis) {
    rngResetState();
    Plist* L = plistCreate(100, 1);
    ASSERT_NE(L, nullptr);
    const Vec3 z{0, 0, 1}, A{10, 0, 0}, B{0, -20, 5}, aA{1, 0, 0}, aB{-1, 0, 0};
    ASSERT_EQ(approachAlongSurface(L, &z, &A, &B, &aA, &aB, 0.1), 0);
    EXPECT_EQ(L->count, static_cast<int32_t>(1.5707963267948966 / 0.1) + 1);
    for (int32_t i = 0; i < L->count; i++) {
        const double f = double(i) / (L->count - 1);
        EXPECT_NEAR(std::hypot(L->points[i].x, L->points[i].y), 10 + 10 * f, 1e-9);
        EXPECT_NEAR(std::atan2(L->points[i].y, L->points[i].x), -1.5707963267948966 * f, 1e-9);
        EXPECT_NEAR(dotOf(L->vectors[i], L->vectors[i]), 1.0, 1e-9);
    }
    const int32_t mid = (L->count - 1) / 2;
    const Vec3 r = unitOf(Vec3{L->points[mid].x, L->points[mid].y, 0});
    EXPECT_VEC_NEAR(L->vectors[mid], r, 1e-12);  // opposite end axes pass outward
    plistFree(L);
}

TEST(Approach, ReplaceRangeEitherDirection) {
    for (int desc : {0, 1}) {
        Plist* L = plistCreate(10, 1);
        Plist* S = plistCreate(4, 1);
        ASSERT_TRUE(L && S);
        for (int k = 0; k < 10; k++) {
            const Vec3 p{double(k), 0, 0};
            plistAppend(L, desc ? 9 - k : k, &p, 0, nullptr, 0);
        }
        for (int k = 0; k < 4; k++) {
            const Vec3 p{0, double(k), 0}, v{1, 0, 0};
            plistAppend(S, 10 * (k + 1), &p, 7, &v, 0);
        }
        ASSERT_EQ(plistReplaceRange(L, 3, 5, S), 1);
        ASSERT_EQ(L->count, 11);
        const double t3 = desc ? 6 : 3, t5 = desc ? 4 : 5;
        for (int k = 0; k < 4; k++) {
            EXPECT_NEAR(L->parameters[3 + k], t3 + (t5 - t3) * k / 3.0, 1e-12);
            EXPECT_VEC_NEAR(L->points[3 + k], S->points[k], 0);
            EXPECT_EQ(L->flags[3 + k], 7);
        }
        EXPECT_EQ(L->points[7].x, 6.0);
        EXPECT_EQ(plistReplaceRange(L, 5, 11, S), -1);
        plistFree(L);
        plistFree(S);
    }
}

TEST(Approach, LoopRejectedWhenItCannotBeCleared) {
    avoidTiltResetState();
    HeightGrid grid{};
    ToolDescription tool{};
    AvoidContext ctx{&grid, &tool, 0.5, 0, 0, 0, 0.3};
    const Vec3 p0{0, 0, 0}, p1{5, 0, 0}, a{0, 0, 1};
    avoidSetModelFlag(1);
    const AvoidCollisionOps blocked{blockAll, nullptr, blockAll, nullptr, nullptr, nullptr};
    avoidSetCollisionOps(&blocked);
    EXPECT_EQ(approachMacroSearch(&p0, &p1, nullptr, &a, &a, 3, 0, nullptr, &ctx), nullptr);
    ctx.obstacle = nullptr;
    Plist* L = approachMacroSearch(&p0, &p1, nullptr, &a, &a, 3, 0, nullptr, &ctx);
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(L->count, 22);
    plistFree(L);
    ctx.collCheck = 1;  // a placement check without a model to place in
    EXPECT_EQ(approachMacroSearch(&p0, &p1, nullptr, &a, &a, 3, 0, nullptr, &ctx), nullptr);
    avoidTiltResetState();
}
