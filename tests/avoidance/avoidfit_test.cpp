#include "avoidance/avoidfit.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "allocfail.h"
#include "avoidance/avoidhead.h"
#include "avoidance/avoidtilt.h"
#include "collision/collassembly.h"
#include "kernel/base/rng.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// n points along x, parameters step apart, axes tilted by b[i] towards azimuth c.
Plist* fitList(int n, double step, const std::vector<double>& b, double c) {
    Plist* l = plistCreate(n, 1);
    for (int i = 0; l && i < n; ++i) {
        const Vec3 p = {static_cast<double>(i), 0.0, 0.0};
        const Vec3 v = {std::sin(b[i]) * std::cos(c), std::sin(b[i]) * std::sin(c), std::cos(b[i])};
        plistAppend(l, step * i, &p, 0, &v, 0);
    }
    return l;
}

}  // namespace

// Seeded B bands around a wavy profile, parameters rising or falling: the fitted B stays in every
// band and the list's axes carry it (tilt acos z, azimuth unchanged), for two points too. Unusable
// ranges fail: one point, equal parameters, the first two points at one place.
TEST(AvoidFit, BandFitStaysInsideEveryInterval) {
    rngResetState();
    for (int trial = 0; trial < 27; ++trial) {
        const int n = trial < 22 ? 5 + rngBelow(30) : trial < 24 || trial == 25 ? 2 : (trial == 24 ? 1 : 3);
        const double step = trial == 25 ? 0.0 : (trial % 2 ? -0.7 : 0.7), c = 2.0 * rngUniform() - 1.0;
        std::vector<double> b(n), lo(n), hi(n);
        for (int i = 0; i < n; ++i) {
            b[i] = 0.5 + 0.2 * std::sin(0.3 * i + trial) + 0.05 * rngUniform();
            lo[i] = b[i] - 0.05 - 0.1 * rngUniform();
            hi[i] = b[i] + 0.05 + 0.1 * rngUniform();
        }
        Plist* l = fitList(n, step, b, c);
        ASSERT_NE(l, nullptr);
        if (trial == 26) l->points[1] = l->points[0];
        AvoidTable* t = avoidTableCreate(l, 0.4, 1.2);
        ASSERT_NE(t, nullptr);
        for (int i = 0; i < n; ++i)
            t->entries[i].b = b[i], t->entries[i].bMin = lo[i], t->entries[i].bMax = hi[i];
        // Equal but not zero, unlike the unused entries past the count.
        if (trial == 25) t->entries[0].parameter = t->entries[1].parameter = 0.7;
        EXPECT_TRUE(trial < 25 || avoidFitBandC(t, l) == -1) << trial;  // nor a C band
        EXPECT_EQ(avoidFitBandB(t, l), trial < 24 ? 1 : -1) << trial;
        for (int i = 0; i < n; ++i) {
            EXPECT_GE(t->entries[i].b, lo[i] - 1e-9) << trial << " " << i;
            EXPECT_LE(t->entries[i].b, hi[i] + 1e-9) << trial << " " << i;
            EXPECT_NEAR(std::acos(l->vectors[i].z), t->entries[i].b, 1e-9);
            EXPECT_NEAR(std::atan2(l->vectors[i].y, l->vectors[i].x), c, 1e-9);
        }
        avoidTableFree(t);
        plistFree(l);
    }
}

TEST(AvoidFit, ListInsertInterpolatesTheAxis) {
    Plist* l = fitList(2, 1.0, {0.0, 0.6}, 0.0);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(avoidListInsert(l, 0.5), 1);
    ASSERT_EQ(l->count, 3);
    EXPECT_NEAR(std::acos(l->vectors[1].z), 0.3, 1e-9);
    EXPECT_EQ(avoidListInsert(l, 0.5) + avoidListInsert(l, 2.0), 1);  // already there; outside
    EXPECT_EQ(l->count, 3);
    plistFree(l);
}

// A turn of the axis between two neighbours larger than the step is filled with points whose C and B
// run linearly in the parameter between the neighbours', none turning by more than the step (no
// assembly: every axis is free).
TEST(AvoidFit, FastTurnsAreFilledWithInterpolatedAxes) {
    collAssemblyResetState();
    const std::vector<double> b = {0.2, 0.2, 0.25, 0.9, 0.85, 0.85};
    Plist* l = fitList(6, 1.0, b, 0.5);
    ASSERT_NE(l, nullptr);
    AvoidTable* t = avoidTableCreate(l, 0.3, 1.2);
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < 6; ++i) t->entries[i].b = b[i], t->entries[i].cLow = 0.2, t->entries[i].cHigh = 0.8;
    ASSERT_EQ(avoidSearchAngles(t, l, 0.1), 1);
    const auto c = [&](int32_t i) { return std::atan2(l->vectors[i].y, l->vectors[i].x); };
    ASSERT_EQ(l->count, 6 + 6);  // 0.65 turned in 7 steps
    for (int32_t i = 1; i < l->count; ++i) {
        const Vec3 &u = l->vectors[i - 1], &v = l->vectors[i];
        EXPECT_LE(std::acos(std::min(1.0, u.x * v.x + u.y * v.y + u.z * v.z)), 0.1 + 1e-9) << i;
        EXPECT_NEAR(l->points[i].x, l->parameters[i], 1e-9) << i;
    }
    for (int32_t i = 3; i <= 8; ++i) {
        const double f = (l->parameters[i] - 2.0), cf = (1 - f) * c(2) + f * c(9);
        EXPECT_NEAR(f * 7, i - 2, 1e-9);
        EXPECT_NEAR(std::acos(l->vectors[i].z), (1 - f) * 0.25 + f * 0.9, 1e-9) << i;
        EXPECT_NEAR(c(i), cf, 1e-9) << i;
    }
    avoidTableFree(t);
    plistFree(l);
    // Across a link (either neighbour marked) the axis may turn at once: nothing is filled.
    for (int32_t link : {1, 2, 3}) {
        l = fitList(6, 1.0, b, 0.5);
        ASSERT_NE(l, nullptr);
        l->flags[link] = kPointLink << 8;
        t = avoidTableCreate(l, 0.3, 1.2);
        ASSERT_NE(t, nullptr);
        for (int i = 0; i < 6; ++i)
            t->entries[i].b = b[i], t->entries[i].cLow = 0.2, t->entries[i].cHigh = 0.8;
        ASSERT_EQ(avoidSearchAngles(t, l, 0.1), 1);
        EXPECT_EQ(l->count, link == 1 ? 6 + 6 : 6) << link;
        avoidTableFree(t);
        plistFree(l);
    }
    // Neighbours 1.5e-5 apart have no room for a point between them: the turn is left as it is.
    l = fitList(2, 1.5e-5, {0.2, 0.9}, 0.5);
    ASSERT_NE(l, nullptr);
    t = avoidTableCreate(l, 0.1, 1.2);
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < 2; ++i)
        t->entries[i].b = i ? 0.9 : 0.2, t->entries[i].cLow = 0.2, t->entries[i].cHigh = 0.8;
    EXPECT_EQ(avoidSearchAngles(t, l, 0.1), 1);
    EXPECT_EQ(l->count, 2);
    avoidTableFree(t);
    plistFree(l);
    // With no check to ask, the first filled point fails the search, yet the table keeps one entry per
    // point for a retry.
    const AvoidCollisionOps none{};
    avoidSetCollisionOps(&none);
    l = fitList(6, 1.0, b, 0.5);
    t = avoidTableCreate(l, 0.3, 1.2);
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < 6; ++i) t->entries[i].b = b[i], t->entries[i].cLow = 0.2, t->entries[i].cHigh = 0.8;
    EXPECT_EQ(avoidSearchAngles(t, l, 0.1), -1);
    EXPECT_EQ(l->count, 7);
    EXPECT_EQ(t->count, l->count);
    avoidSetCollisionOps(nullptr);
    avoidTableFree(t);
    plistFree(l);
}

// C bands of exactly a full turn are fitted; a wider one is refused before fitting.
TEST(AvoidFit, CBandOfAFullTurnAtMost) {
    collAssemblyResetState();  // no assembly: every axis is free
    for (const auto& [wide, extra] : {std::pair{0, 0.01}, {2, 0.0}, {2, 0.01}, {3, 0.01}}) {
        Plist* l = fitList(4, 1.0, {0.3, 0.3, 0.3, 0.3}, 0.5);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = avoidTableCreate(l, 0.3, 1.0);
        ASSERT_NE(t, nullptr);
        for (int i = 0; i < 4; ++i)
            t->entries[i].b = 0.3, t->entries[i].cLow = -2.0, t->entries[i].cHigh = 2.0;
        t->entries[wide].cLow = 0.5 - kPi, t->entries[wide].cHigh = 0.5 + kPi + extra;
        EXPECT_EQ(avoidFitBandC(t, l), extra > 0.0 ? -1 : 1) << wide;
        for (int i = 0; i < 4; ++i) {  // refused: untouched; fitted: inside every band
            const AvoidEntry& e = t->entries[i];
            EXPECT_TRUE(extra > 0.0 ? std::fabs(e.c - 0.5) < 1e-12
                                    : e.c >= e.cLow - 1e-9 && e.c <= e.cHigh + 1e-9)
                << i;
        }
        avoidTableFree(t);
        plistFree(l);
    }
}

// Neighbours must lie at least 1e-5 apart in parameter and in space: exactly 1e-5 is enough.
TEST(AvoidFit, NeighboursApartByTheToleranceAreFitted) {
    collAssemblyResetState();  // no assembly: every axis is free
    const struct {
        double p0, dp, dx;
        int result;
    } cases[] = {{0, 1e-5, 1.0, 1},     {0, 0.99e-5, 1.0, -1}, {0, 1.0, 1e-5, 1},
                 {0, 1.0, 0.99e-5, -1}, {0, -1e-5, 1.0, 1},    {-0.5, 1.0, 1.0, 1}};
    for (const auto& c : cases)
        for (auto fit : {avoidFitBandB, avoidFitBandC}) {
            Plist* l = plistCreate(2, 1);
            ASSERT_NE(l, nullptr);
            const Vec3 p0{0, 0, 0}, p1{c.dx, 0, 0}, a{std::sin(0.3), 0, std::cos(0.3)};
            plistAppend(l, c.p0, &p0, 0, &a, 0);
            plistAppend(l, c.p0 + c.dp, &p1, 0, &a, 0);
            AvoidTable* t = avoidTableCreate(l, 0.1, 1.0);
            ASSERT_NE(t, nullptr);
            for (int i = 0; i < 2; ++i) {
                AvoidEntry& e = t->entries[i];
                e.b = 0.3, e.bMin = 0.2, e.bMax = 0.4, e.cLow = e.c - 0.1, e.cHigh = e.c + 0.1;
            }
            EXPECT_EQ(fit(t, l), c.result) << c.dp << " " << c.dx;
            avoidTableFree(t);
            plistFree(l);
        }
}

// The argument record holds four times the points asked for, for those the fit adds.
TEST(AvoidFit, ArgumentRecordSizes) {
    for (int32_t n : {1, 7}) {
        FreeLineFillet2Args* r = fillet_rec_create(n);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->capacity, 4 * n);
        EXPECT_EQ(r->count, n);
        EXPECT_EQ(r->eps, 0.05);
        EXPECT_EQ(r->mode, 0);
        r->para[4 * n - 1] = r->lower[4 * n - 1] = r->upper[4 * n - 1] = r->out[4 * n - 1] = 1.0;
        r->flags[4 * n - 1] = 1;
        r->lower[0] = 2, r->upper[0] = 3, r->out[0] = 4, r->para[0] = 5;
        fillet_rec_scale(r, 0.5);
        EXPECT_EQ(r->lower[0] + r->upper[0] + r->out[0], 4.5);
        EXPECT_EQ(r->para[0], 5.0);  // parameters are not angles
        fillet_rec_free(r);
    }
    EXPECT_EQ(fillet_rec_create(0), nullptr);
    fillet_rec_free(nullptr);
}

// Fits refuse a missing or unusable range with -1.
TEST(AvoidFit, MissingArgumentsAreRefused) {
    Plist* l = fitList(3, 1.0, {0.2, 0.3, 0.4}, 0.5);
    ASSERT_NE(l, nullptr);
    AvoidTable* t = avoidTableCreate(l, 0.1, 1.0);
    ASSERT_NE(t, nullptr);
    for (auto fit : {avoidFitBandB, avoidFitBandC}) {
        EXPECT_EQ(fit(nullptr, l), -1);
        EXPECT_EQ(fit(t, nullptr), -1);
        t->count = 4;  // more entries than points
        EXPECT_EQ(fit(t, l), -1);
        t->count = 0;
        EXPECT_EQ(fit(t, l), -1);
        t->count = 3;
        Vec3* axes = l->vectors;  // a list without axes has nothing to write the fit into
        l->vectors = nullptr;
        EXPECT_EQ(fit(t, l), -1);
        l->vectors = axes;
    }
    avoidTableFree(t);
    plistFree(l);
}

// Short of memory at any allocation of a fit, the answer is -1; an answer of 1 means a real fit: every
// B inside its band though each started outside it.
TEST(AvoidFit, WithoutMemoryNoFitIsClaimed) {
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 1000);
        Plist* l = fitList(4, 1.0, {0.3, 0.3, 0.3, 0.3}, 0.5);
        ASSERT_NE(l, nullptr);
        AvoidTable* t = avoidTableCreate(l, 0.3, 1.0);
        ASSERT_NE(t, nullptr);
        for (int i = 0; i < 4; ++i) t->entries[i].b = 0.5, t->entries[i].bMin = 0.2, t->entries[i].bMax = 0.4;
        allocfail::arm(n);
        const int r = avoidFitBandB(t, l);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_TRUE(r == 1 || (fired && r == -1)) << n << " " << r;
        for (int i = 0; r == 1 && i < 4; ++i) EXPECT_LE(t->entries[i].b, 0.4 + 1e-9) << n;
        avoidTableFree(t);
        plistFree(l);
        if (!fired) break;
    }
}
