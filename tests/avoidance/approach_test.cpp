#include "avoidance/approach.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "avoidance/avoidgrid.h"
#include "avoidance/avoidtilt.h"
#include "avoidance/near.h"
#include "collision/meshutil.h"
#include "kernel/base/rng.h"
#include "toolsolid.h"

namespace {

Vec3 unitOf(Vec3 v) {
    const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return Vec3{v.x / n, v.y / n, v.z / n};
}
Vec3 axpy(double f, const Vec3& x, const Vec3& y) {  // f x + y
    return O::add(O::mul(f, x), y);
}

}  // namespace

TEST(Approach, ProjectionsAgainstClosedForms) {
    const Vec3 o{1, 2, 3}, z{0, 0, 1}, n = unitOf(Vec3{1, 2, 2}), onAxis{0, 0, 7}, p{3, 4, 5};
    Vec3 d = z, out{}, foot{};
    EXPECT_EQ(projectDirOnPlane(&o, &z, &d), -1);
    EXPECT_VEC_NEAR(d, z, 0.0);
    d = Vec3{0, 0, 3};
    ASSERT_EQ(projectDirOnPlane(&o, &n, &d), 1);
    EXPECT_VEC_NEAR(d, unitOf(Vec3{-2, -4, 5}), 1e-12);
    EXPECT_EQ(projectPointOnAxis(&z, 4.0, &onAxis, &out, &foot), 1);
    EXPECT_VEC_NEAR(out, (Vec3{-4, 0, 7}), 1e-12);
    const Vec3 x{1, 0, 0}, onX{5, 0, 0};  // about an x axis -y is taken
    EXPECT_EQ(projectPointOnAxis(&x, 4.0, &onX, &out, &foot), 1);
    EXPECT_VEC_NEAR(out, (Vec3{5, -4, 0}), 1e-12);
    EXPECT_EQ(projectPointOnAxis(&z, 10.0, &p, &out, &foot), 0);
    EXPECT_VEC_NEAR(out, (Vec3{6, 8, 5}), 1e-12);
    EXPECT_NEAR(pointDistDiff3D(&p, &out, &foot), 5.0, 1e-12);
}

TEST(Approach, LoopRunsOnItsCircle) {
    rngResetState();
    for (int k = 0; k < 40; k++) {
        const Vec3 p0{O::uni(-9, 9), O::uni(-9, 9), 0}, p1{O::uni(-9, 9), O::uni(-9, 9), 1};
        const Vec3 a0 = unitOf(Vec3{O::uni(-.5, .5), O::uni(-.5, .5), 1}),
                   a1 = unitOf(Vec3{O::uni(-.5, .5), 0, 1});
        // Lifts on both sides of the 1e-5 threshold; steps so coarse that a quarter mark falls on 0.
        const double lifts[] = {0.0, 3.0, 1e-5, 0.99e-5};
        const double R = O::uni(1, 5), lift = lifts[k % 4],
                     step = k % 5 == 4 ? O::uni(1.6, 3.1) : O::uni(0.1, 0.5);
        // Every third loop is bent towards a following point: its plane takes the mean of both moves.
        const Vec3 p2{O::uni(-9, 9), O::uni(-9, 9), 2};
        const bool bent = k % 3 == 0;
        Plist* L = approachSearchPoints(&p0, &p1, bent ? &p2 : nullptr, &a0, &a1, R, lift, step);
        ASSERT_NE(L, nullptr);
        const Vec3 d01 = unitOf(axpy(-1, p0, p1)),
                   d = bent ? unitOf(axpy(1, d01, unitOf(axpy(-1, p1, p2)))) : d01;
        const Vec3 m = unitOf(axpy(1, a0, a1)), c = unitOf(axpy(-O::dot(m, d), d, m));
        const Vec3 centre = axpy(R, c, p1);
        EXPECT_VEC_NEAR(L->points[L->count - 1], p1, 1e-12);
        EXPECT_VEC_NEAR(L->points[0], p1, 1e-12);
        // n + 1 points once around; the first quarter keeps a0, the rest take a1; with a lift the
        // points from the first quarter mark to the third are raised along the mean axis, and a point
        // halfway up is added before the first mark and after the third.
        const int32_t n = 1 + static_cast<int32_t>(std::trunc(2 * 3.14159265358979323846 / step));
        const int32_t q1 = n / 4, q3 = 3 * n / 4;
        struct Want {
            double k, up;
            Vec3 axis;
        };
        std::vector<Want> want;
        const bool lifted = lift >= 1e-5;
        for (int32_t j = 0; j <= n; j++) {
            if (lifted && j == q1 && j > 0) want.push_back({j - 0.5, lift / 2, a0});
            want.push_back({double(j), lifted && j >= q1 && j <= q3 ? lift : 0.0, j < q1 ? a0 : a1});
            if (lifted && j == q3) want.push_back({j + 0.5, lift / 2, a1});
        }
        ASSERT_EQ(L->count, static_cast<int32_t>(want.size())) << k;
        for (int32_t i = 1; i + 1 < L->count; i++) {
            const double th = 2 * 3.14159265358979323846 * want[i].k / n;
            const Vec3 on = axpy(R * std::sin(th), d, axpy(-R * std::cos(th), c, centre));
            EXPECT_VEC_NEAR(L->points[i], axpy(want[i].up, m, on), 1e-9);
            EXPECT_VEC_NEAR(L->vectors[i], want[i].axis, 0);
            EXPECT_GT(L->parameters[i], L->parameters[i - 1]);
        }
        // Parameters are the chord lengths summed from 0.
        double t = 0;
        for (int32_t i = 0; i < L->count; i++) {
            if (i > 0)
                t += std::sqrt(O::dot(axpy(-1, L->points[i - 1], L->points[i]),
                                      axpy(-1, L->points[i - 1], L->points[i])));
            EXPECT_NEAR(L->parameters[i], t, 1e-9);
        }
        plistFree(L);
    }
}

// Loops that cannot be drawn are refused: a missing point or axis, a step that is not positive, an
// infinite radius, no direction of motion, a bend straight back, opposite axes, a mean axis along the
// motion. A fine step is capped so the loop still fits a list.
TEST(Approach, DegenerateLoopsAreRefused) {
    const Vec3 p0{0, 0, 0}, p1{1, 0, 0}, p2{1, 1, 0}, back{0, 0, 0}, z{0, 0, 1}, mz{0, 0, -1}, x{1, 0, 0},
        tol{1e-5, 0, 0}, under{0.99e-5, 0, 0};  // a motion of 1e-5 has a direction, a shorter one none
    struct Case {
        const Vec3 *p0, *p1, *p2, *a0, *a1;
        double R, step;
        bool made;
    } cases[] = {
        {&p0, &p1, &p2, &z, &z, 2, 0.3, true},           {nullptr, &p1, nullptr, &z, &z, 2, 0.3, false},
        {&p0, nullptr, nullptr, &z, &z, 2, 0.3, false},  {&p0, &p1, nullptr, nullptr, &z, 2, 0.3, false},
        {&p0, &p1, nullptr, &z, nullptr, 2, 0.3, false}, {&p0, &p1, nullptr, &z, &z, 2, 0.0, false},
        {&p0, &p1, nullptr, &z, &z, 2, -0.3, false},     {&p0, &p1, nullptr, &z, &z, INFINITY, 0.3, false},
        {&p0, &p1, nullptr, &z, &z, NAN, 0.3, false},    {&p0, &p0, nullptr, &z, &z, 2, 0.3, false},
        {&p0, &p1, &p1, &z, &z, 2, 0.3, false},          {&p0, &p1, &back, &z, &z, 2, 0.3, false},
        {&p0, &p1, nullptr, &z, &mz, 2, 0.3, false},     {&p0, &p1, nullptr, &x, &x, 2, 0.3, false},
        {&p0, &tol, nullptr, &z, &z, 2, 0.3, true},      {&p0, &under, nullptr, &z, &z, 2, 0.3, false},
    };
    for (const Case& c : cases) {
        Plist* L = approachSearchPoints(c.p0, c.p1, c.p2, c.a0, c.a1, c.R, 0.0, c.step);
        EXPECT_EQ(L != nullptr, c.made) << (&c - cases);
        plistFree(L);
    }
    Plist* L = approachSearchPoints(&p0, &p1, nullptr, &z, &z, 2, 0.0, 1e-4);
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(L->count, kPlistMaxPoints - 6);  // n = 1 + (40000 - 8) steps, n + 1 points
    plistFree(L);
}

TEST(Approach, ReplaceRangeEitherDirection) {
    for (int desc : {0, 1}) {
        Plist *L = plistCreate(10, 1), *S = plistCreate(4, 1);
        ASSERT_TRUE(L && S);
        for (int k = 0; k < 10; k++) {
            const Vec3 p{double(k), 0, 0}, q{0, double(k), 0};
            plistAppend(L, desc ? 9 - k : k, &p, 0, nullptr, 0);
            if (k < 4) plistAppend(S, 10 * (k + 1), &q, 7, nullptr, 0);
        }
        ASSERT_EQ(plistReplaceRange(L, 3, 5, S), 1);
        ASSERT_EQ(L->count, 11);
        EXPECT_EQ(L->capacity, 11);  // made to fit at once, not grown on the way
        for (int k = 0; k < 4; k++) {
            EXPECT_NEAR(L->parameters[3 + k], desc ? 6 - 2 * k / 3.0 : 3 + 2 * k / 3.0, 1e-12);
            EXPECT_VEC_NEAR(L->points[3 + k], S->points[k], 0);
            EXPECT_EQ(L->flags[3 + k], 7);
        }
        EXPECT_EQ(L->parameters[7], desc ? 3 : 6);
        // A range outside the list, reversed, or nothing to put in: refused, the list as it was.
        EXPECT_EQ(plistReplaceRange(L, 5, 11, S), -1);
        EXPECT_EQ(plistReplaceRange(L, -1, 5, S), -1);
        EXPECT_EQ(plistReplaceRange(L, 5, 4, S), -1);
        EXPECT_EQ(plistReplaceRange(L, 3, 5, nullptr), -1);
        EXPECT_EQ(plistReplaceRange(nullptr, 3, 5, S), -1);
        EXPECT_EQ(L->count, 11);
        plistFree(L);
        plistFree(S);
    }
    // Inserted parameters spread in proportion, or evenly once their span is 1e-12 or less.
    const struct {
        std::vector<double> s, want;
    } spans[] = {{{0, 2e-13, 5e-13}, {2, 3, 4}},
                 {{0, 2e-13, 1e-12}, {2, 3, 4}},
                 {{0, 2e-12, 5e-12}, {2, 2.8, 4}},
                 {{7}, {3}}};
    for (const auto& c : spans) {
        Plist *L = plistCreate(8, 0), *S = plistCreate(4, 0);
        ASSERT_TRUE(L && S);
        const Vec3 p{0, 0, 0};
        for (int k = 0; k < 5; k++) plistAppend(L, k, &p, 0, nullptr, 0);
        for (const double t : c.s) plistAppend(S, t, &p, 0, nullptr, 0);
        ASSERT_EQ(plistReplaceRange(L, 2, 4, S), 1);
        for (size_t k = 0; k < c.want.size(); k++) EXPECT_NEAR(L->parameters[2 + k], c.want[k], 1e-12);
        plistFree(L);
        plistFree(S);
    }
    // A list may grow to the cap of 40000 points and no further.
    Plist *L = plistCreate(kPlistMaxPoints, 0), *S = plistCreate(5, 0);
    ASSERT_TRUE(L && S);
    for (int k = 0; k < kPlistMaxPoints - 1; k++) {
        const Vec3 p{double(k), 0, 0};
        plistAppend(L, k, &p, 0, nullptr, 0);
    }
    for (int k = 0; k < 4; k++) plistAppend(S, k, &L->points[0], 0, nullptr, 0);
    EXPECT_EQ(plistReplaceRange(L, 3, 5, S), 1);  // 3 points become 4
    EXPECT_EQ(L->count, kPlistMaxPoints);
    plistAppend(S, 4, &L->points[0], 0, nullptr, 0);
    EXPECT_EQ(plistReplaceRange(L, 3, 7, S), 1);   // 5 become 5
    EXPECT_EQ(plistReplaceRange(L, 3, 6, S), -1);  // 4 would become 5
    EXPECT_EQ(L->count, kPlistMaxPoints);
    plistFree(L);
    plistFree(S);
}

namespace {

// A fake obstacle check: every position above gTop collides.
double gTop = 0;
int32_t fullAbove(const Vec3* p, const Vec3*, int32_t*) {
    return p->z > gTop ? -3 : 1;
}

}  // namespace

// The loop over a plate, tried with a ball a little thinner than the model's: rejected when the ball
// placed over a checked point (all but the two at either end) rests more than three tolerances above
// it. Then the obstacle check: the loop is refused when it is cut or when no check can be made.
TEST(Approach, MacroSearchRejectsLoopsThatDigOrCollide) {
    const Vec3 p0{-5, 0, 0}, p1{0, 0, 0}, z{0, 0, 1};
    AvoidContext ctx{};
    ctx.arcStepAngle = 0.3, ctx.collCheck = 1;
    Plist* bare = approachSearchPoints(&p0, &p1, nullptr, &z, &z, 3.0, 0.0, 0.3);
    ASSERT_NE(bare, nullptr);
    const double z1 = bare->points[1].z, z2 = bare->points[2].z, dig = 3 * 0.008;
    ASSERT_NEAR(bare->points[bare->count - 2].z, z1, 1e-12);  // the loop is symmetric
    ASSERT_NEAR(bare->points[bare->count - 3].z, z2, 1e-12);
    ASSERT_GT(z2 - z1, 0.3);
    // Ball of radius 2 (1.976 placed) resting over the plate z0 at z0 + 1.976.
    const struct {
        double rest;  // where the thinner ball rests
        int16_t collCheck;
        bool made;
    } cases[] = {
        {-20, 1, true},
        {0.5 * (z1 + z2) + dig, 1, true},  // above the unchecked end points only
        {z2 + 0.5 * dig, 1, true},         // above a checked point, by less than three tolerances
        {z2 + dig + 0.05, 1, false},
        {z2 + dig + 0.05, 0, true},
    };
    for (const auto& c : cases) {
        testmesh::Model plate({testmesh::slopeTri(c.rest - 2.0 + dig, 0.0)}, kBallMill, 2.0);
        ctx.collCheck = c.collCheck;
        Plist* L = approachMacroSearch(&p0, &p1, nullptr, &z, &z, 3.0, 0.0, &plate.m, &ctx);
        ASSERT_EQ(L != nullptr, c.made) << c.rest;
        if (L) {
            ASSERT_EQ(L->count, bare->count);
            for (int32_t i = 0; i < L->count; i++) EXPECT_VEC_NEAR(L->points[i], bare->points[i], 0);
        }
        plistFree(L);
    }
    ctx.collCheck = 1;
    for (const double step :
         {0.3, 1.8, 2.5}) {  // from 5 points on a loop is checked: without a model, refused
        ctx.arcStepAngle = step;
        Plist* L = approachMacroSearch(&p0, &p1, nullptr, &z, &z, 3.0, 0.0, nullptr, &ctx);
        EXPECT_EQ(L ? L->count : 0, step > 2 ? 4 : 0) << step;
        plistFree(L);
    }
    EXPECT_EQ(approachMacroSearch(&p0, &p1, nullptr, &z, &z, 3.0, 0.0, nullptr, nullptr), nullptr);
    ctx.arcStepAngle = 0;
    EXPECT_EQ(approachMacroSearch(&p0, &p1, nullptr, &z, &z, 3.0, 0.0, nullptr, &ctx), nullptr);

    avoidTiltResetState();
    avoidSetModelFlag(1);
    HeightGrid grid{};
    ToolDescription tool{};
    ctx = AvoidContext{};
    ctx.obstacle = &grid, ctx.tool = &tool, ctx.arcStepAngle = 0.3;
    for (const bool haveCheck : {true, false}) {
        const AvoidCollisionOps ops{nullptr, nullptr, haveCheck ? fullAbove : nullptr, nullptr, nullptr,
                                    nullptr, nullptr};
        avoidSetCollisionOps(&ops);
        for (const double top : {6.5, 5.5}) {  // the loop reaches 6
            gTop = top;
            Plist* L = approachMacroSearch(&p0, &p1, nullptr, &z, &z, 3.0, 0.0, nullptr, &ctx);
            EXPECT_EQ(L != nullptr, haveCheck && top > 6) << top;
            EXPECT_TRUE(!L || L->count == bare->count);
            plistFree(L);
        }
    }
    avoidTiltResetState();
    plistFree(bare);
}
