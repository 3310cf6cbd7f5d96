#include "plunge/plist3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "geometry/profile.h"
#include "memshort.h"

// The segment of a parameter is the first i >= 1 whose parameter exceeds it less 1e-5 (the last one
// when none does), for any list: repeated and slightly falling parameters, and a not-a-number that
// every later parameter follows. The tangent names that segment's direction.
TEST(Plist3D, TangentsFollowTheFirstSegmentReached) {
    std::mt19937 rng(31);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 400; ++round) {
        const int32_t n = 2 + static_cast<int32_t>(rng() % 40);
        Plist3D* l = newPlist3D(n);
        ASSERT_NE(l, nullptr);
        l->count = n;
        double s = 0.0;
        for (int32_t i = 0; i < n; ++i) {
            l->points[i] = {10 * unit(rng), 10 * unit(rng), 10 * unit(rng)};
            const double kind = unit(rng);
            if (i > 0) s += kind < 0.15 ? 0.0 : kind < 0.25 ? -5e-6 * unit(rng) : unit(rng);
            if (round % 7 == 3 && i == n / 2) s = NAN;
            l->param[i] = s;
        }
        for (int q = 0; q < 30; ++q) {
            const double top = std::isnan(l->param[n - 1]) ? 1.0 : l->param[n - 1];
            double at = unit(rng) * top;
            if (q % 3 == 0) at = l->param[rng() % n] + (static_cast<int>(rng() % 5) - 2) * 5e-6;
            if (!(at >= l->param[0]) || !(at <= top)) continue;
            int32_t seg = 1;
            while (seg < n - 1 && !(l->param[seg] > at - 1e-5)) ++seg;
            const Vec3 &a = l->points[seg - 1], &b = l->points[seg];
            const Vec3 d{b.x - a.x, b.y - a.y, b.z - a.z};
            const double len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            Vec3 t{0, 0, 0};
            const int rc = tangentPlist3D(l, at, &t);
            ASSERT_EQ(rc, len < 1e-5 ? -1 : 1) << round << " " << q;
            if (rc == 1) {
                EXPECT_NEAR(t.x, d.x / len, 1e-12);
                EXPECT_NEAR(t.y, d.y / len, 1e-12);
                EXPECT_NEAR(t.z, d.z / len, 1e-12);
            }
        }
        freePlist3D(l);
    }
}

namespace {

// (0,0,0) -> (3,4,0) -> (3,4,12): parameters 0, 5, 17 by arc length.
Plist3D* bent() {
    const Vec3 p[] = {{0, 0, 0}, {3, 4, 0}, {3, 4, 12}};
    return plist3DFromPoints(p, 3);
}

void expectPoint(const Vec3& a, const Vec3& b, double tol) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

}  // namespace

// Evaluation: outside [first, last + 1e-5] nothing; within 1e-5 of a point that point; else linear on
// the segment, whose start index comes back (its end index when the factor is 1 within 1e-5).
TEST(Plist3D, EvaluationTable) {
    Plist3D* l = bent();
    ASSERT_NE(l, nullptr);
    ASSERT_EQ(l->count, 3);
    EXPECT_EQ(l->param[1] * 100 + l->param[2], 517.0);  // 5 and 17
    const struct {
        double s;
        int32_t index;
        Vec3 p;
    } cases[] = {
        {-1e-6, -1, {}},
        {0.0, 0, {0, 0, 0}},
        {5e-6, 0, {0, 0, 0}},
        {2.5, 0, {1.5, 2, 0}},
        {5.0 - 2e-5, 1, {3 - 1.2e-5, 4 - 1.6e-5, 0}},
        {5.0 - 1e-4, 0, {3 - 6e-5, 4 - 8e-5, 0}},
        {5.0, 1, {3, 4, 0}},
        {11.0, 1, {3, 4, 6}},
        {17.0, 2, {3, 4, 12}},
        {17.0 + 6e-6, 2, {3, 4, 12 + 6e-6}},
        {17.0 + 2e-5, -1, {}},
    };
    for (const auto& c : cases) {
        Vec3 out{-9, -9, -9};
        EXPECT_EQ(evalPlist3D(l, c.s, &out), c.index) << c.s;
        if (c.index >= 0) expectPoint(out, c.p, 1e-9);
    }
    Vec3 t{};
    EXPECT_EQ(tangentPlist3D(l, 2.5, &t), 1);
    expectPoint(t, {0.6, 0.8, 0}, 1e-15);
    EXPECT_EQ(tangentPlist3D(l, 11.0, &t), 1);
    expectPoint(t, {0, 0, 1}, 1e-15);
    EXPECT_EQ(tangentPlist3D(l, 17.5, &t) * 10 + tangentPlist3D(l, -0.5, &t), -11);
    Plist3D* one = newPlist3D(0);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->capacity, 1);
    EXPECT_EQ(evalPlist3D(one, 0.0, &t), -1);  // empty
    ASSERT_EQ(appendPlist3D(one, &l->points[1]), 0);
    EXPECT_EQ(one->param[0], 0.0);
    EXPECT_EQ(evalPlist3D(one, 0.0, &t), 0);
    expectPoint(t, l->points[1], 0.0);
    EXPECT_EQ(tangentPlist3D(one, 0.0, &t), -1);  // one point has no segment
    // A segment of no length between parameters 12 and 20 has no direction.
    ASSERT_EQ(appendPlist3D(one, &l->points[2]), 1);
    ASSERT_GE(insertPlist3D(one, 20.0, &l->points[2]), 0);
    ASSERT_EQ(one->count, 3);
    EXPECT_EQ(tangentPlist3D(one, 6.0, &t), 1);
    EXPECT_EQ(tangentPlist3D(one, 15.0, &t), -1);
    one->points[1] = {0, 0, 0};
    for (const double len : {5e-6, 1e-5}) {  // exactly 1e-5 long has a direction, shorter none
        one->points[2] = {0, 0, len};
        EXPECT_EQ(tangentPlist3D(one, 15.0, &t), len < 1e-5 ? -1 : 1) << len;
    }
    freePlist3D(one);
    freePlist3D(l);
}

// Growth, insertion order, assignment, copies, reversal and the null answers.
TEST(Plist3D, BuildingAndCopying) {
    Plist3D* l = newPlist3D(1);
    ASSERT_NE(l, nullptr);
    const Vec3 p[] = {{0, 0, 0}, {3, 4, 0}, {3, 4, 12}, {0, 0, 12}};
    const int32_t capacities[] = {1, 2, 3, 4};  // a full list grows by half, and by one slot at least
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(appendPlist3D(l, &p[i]), i);
        EXPECT_EQ(l->capacity, capacities[i]) << i;
    }
    EXPECT_EQ(l->param[3], 22.0);
    // Before every point whose parameter is not below s - 1e-5.
    const Vec3 q{9, 9, 9};
    EXPECT_EQ(insertPlist3D(l, 5.0 + 5e-6, &q), 1);
    EXPECT_EQ(l->capacity, 6);
    EXPECT_EQ(insertPlist3D(l, 22.5, &q), 5);
    EXPECT_EQ(insertPlist3D(l, -3.0, &q), 0);
    ASSERT_EQ(l->count, 7);
    const double params[] = {-3.0, 0.0, 5.0 + 5e-6, 5.0, 17.0, 22.0, 22.5};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(l->param[i], params[i]) << i;
    expectPoint(l->points[2], q, 0.0);
    expectPoint(l->points[3], p[1], 0.0);

    // Assignment takes the source's own parameters; a copy keeps the capacity too.
    Plist3D* t = newPlist3D(2);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(appendPlist3D(t, &q), 0);
    ASSERT_EQ(assignPlist3D(t, l), 1);
    ASSERT_EQ(t->count, 7);
    Plist3D* c = copyPlist3D(l);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->capacity, l->capacity);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(t->param[i], params[i]);
        EXPECT_EQ(c->param[i], params[i]);
        expectPoint(t->points[i], l->points[i], 0.0);
        expectPoint(c->points[i], l->points[i], 0.0);
    }
    freePlist3D(t);
    freePlist3D(c);
    freePlist3D(l);

    l = bent();
    ASSERT_NE(l, nullptr);
    l->param[2] = 99;  // reparametrising puts the arc lengths back
    ASSERT_EQ(reparamPlist3D(l), 1);
    EXPECT_EQ(l->param[2], 17.0);
    ASSERT_EQ(reversePlist3D(l), 1);
    expectPoint(l->points[0], {3, 4, 12}, 0.0);
    expectPoint(l->points[2], {0, 0, 0}, 0.0);
    EXPECT_EQ(l->param[0], 0.0);
    EXPECT_EQ(l->param[1], 12.0);
    EXPECT_EQ(l->param[2], 17.0);
    freePlist3D(l);

    Plist3D* empty = plist3DFromPoints(p, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->count, 0);
    EXPECT_EQ(reparamPlist3D(empty), 1);
    freePlist3D(empty);
    EXPECT_EQ(plist3DFromPoints(nullptr, 2), nullptr);
    EXPECT_EQ(plist3DFromPoints(p, -1), nullptr);
    EXPECT_EQ(copyPlist3D(nullptr), nullptr);
    EXPECT_EQ(reparamPlist3D(nullptr), -1);
    EXPECT_EQ(reversePlist3D(nullptr), -1);
    EXPECT_EQ(insertPlist3D(nullptr, 0, &q), -1);
    EXPECT_EQ(appendPlist3D(nullptr, &q), -1);
    EXPECT_EQ(assignPlist3D(nullptr, nullptr), -1);
    EXPECT_EQ(projectOnPlist3D(nullptr, &q, nullptr, nullptr), -1.0);
    EXPECT_EQ(extendPlist3DEnds(nullptr, 1, 3), -1);
    EXPECT_EQ(trimPlist3DStart(nullptr, 0), -1);
    EXPECT_EQ(trimPlist3DAtFold(nullptr, 1), 0);
    EXPECT_EQ(appendPlist3DNode(nullptr, nullptr), -1);
    // A full list that cannot grow: -1, the points kept.
    Plist3D* full = plist3DFromPoints(p, 1);
    ASSERT_NE(full, nullptr);
    allocfail::arm(1);
    EXPECT_EQ(insertPlist3D(full, 5.0, &q), -1);
    allocfail::disarm();
    EXPECT_EQ(full->count, 1);
    freePlist3D(full);
    freePlist3D(nullptr);
    freePlist3DChain(nullptr);
}

// A profile curve's points with their heights, repeated points (within 1e-5 in 3D) left out.
TEST(Plist3D, FromAProfileCurve) {
    Vec2 xy[] = {{0, 0}, {3, 4}, {3, 4}, {3 + 4e-6, 4}, {3, 4}};
    double z[] = {0, 0, 12, 12, 12};
    ProfileCurve c{};
    c.points = xy;
    c.count = 5;
    for (bool withZ : {true, false}) {
        c.z = withZ ? z : nullptr;
        Plist3D* l = plist3DFromProfileCurve(&c);
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(l->capacity, 10);
        ASSERT_EQ(l->count, withZ ? 3 : 2);
        EXPECT_EQ(l->param[l->count - 1], withZ ? 17.0 : 5.0);
        EXPECT_EQ(l->points[l->count - 1].z, withZ ? 12.0 : 0.0);
        freePlist3D(l);
    }
    EXPECT_EQ(plist3DFromProfileCurve(nullptr), nullptr);
    // No points yet is an empty list; missing points or a negative count is no list.
    for (const auto& [points, count, built] :
         {std::tuple{xy, 0, true}, std::tuple{xy, -1, false}, std::tuple{(Vec2*)nullptr, 0, false}}) {
        c.points = points;
        c.count = count;
        Plist3D* l = plist3DFromProfileCurve(&c);
        EXPECT_EQ(l != nullptr, built) << count;
        if (l) {
            EXPECT_EQ(l->count, 0);
        }
        freePlist3D(l);
    }
}

// Nearest point, parameter by the share of its segment, and the distance.
TEST(Plist3D, ProjectionOntoTheList) {
    Plist3D* l = bent();
    ASSERT_NE(l, nullptr);
    const struct {
        Vec3 p;
        double s, d;
        Vec3 foot;
    } cases[] = {
        {{13, 4, 6}, 11.0, 10.0, {3, 4, 6}},
        {{1.5 - 8, 2 + 6, 0}, 2.5, 10.0, {1.5, 2, 0}},
        {{-3, -4, 0}, 0.0, 5.0, {0, 0, 0}},
        {{3, 4, 20}, 17.0, 8.0, {3, 4, 12}},
    };
    for (const auto& c : cases) {
        double s = -1;
        Vec3 foot{};
        EXPECT_NEAR(projectOnPlist3D(l, &c.p, &s, &foot), c.d, 1e-12);
        EXPECT_NEAR(s, c.s, 1e-12);
        expectPoint(foot, c.foot, 1e-12);
    }
    double s = -1;
    l->count = 2;  // one segment: still the nearest point on it
    EXPECT_NEAR(projectOnPlist3D(l, &cases[1].p, &s, nullptr), 10.0, 1e-12);
    EXPECT_NEAR(s, 2.5, 1e-12);
    l->count = 1;
    const Vec3 far{3, 0, 0};
    EXPECT_NEAR(projectOnPlist3D(l, &far, &s, nullptr), 3.0, 1e-15);
    EXPECT_EQ(s, 0.0);
    freePlist3D(l);
}

// Ends lengthened along the end segments (bit 0 the start, 2 or 3 the end), then reparametrised; steps
// of d / n; a start trimmed to the point at s keeping the parameter of the point it replaces; a fold
// sharper than the angle trims the list to start there.
TEST(Plist3D, ExtendAndTrim) {
    const struct {
        int mode;
        std::vector<Vec3> want;
    } cases[] = {
        {0, {{0, 0, 0}, {3, 4, 0}, {3, 4, 12}}},
        {1, {{-1.2, -1.6, 0}, {0, 0, 0}, {3, 4, 0}, {3, 4, 12}}},
        {2, {{0, 0, 0}, {3, 4, 0}, {3, 4, 12}, {3, 4, 14}}},
        {3, {{-1.2, -1.6, 0}, {0, 0, 0}, {3, 4, 0}, {3, 4, 12}, {3, 4, 14}}},
    };
    for (const auto& c : cases) {
        Plist3D* l = bent();
        ASSERT_NE(l, nullptr);
        ASSERT_EQ(extendPlist3DEnds(l, 2.0, c.mode), 1);
        ASSERT_EQ(l->count, static_cast<int32_t>(c.want.size())) << c.mode;
        double s = 0;
        for (int32_t i = 0; i < l->count; ++i) {
            expectPoint(l->points[i], c.want[i], 1e-12);
            if (i > 0)
                s += std::sqrt(std::pow(c.want[i].x - c.want[i - 1].x, 2) +
                               std::pow(c.want[i].y - c.want[i - 1].y, 2) +
                               std::pow(c.want[i].z - c.want[i - 1].z, 2));
            EXPECT_NEAR(l->param[i], s, 1e-12);
        }
        freePlist3D(l);
    }
    Plist3D* l = bent();
    ASSERT_NE(l, nullptr);
    ASSERT_EQ(extendPlist3DSteps(l, 3.0, 3, 2), 1);
    ASSERT_EQ(l->count, 6);
    for (int i = 3; i < 6; ++i) expectPoint(l->points[i], {3, 4, 12.0 + i - 2}, 1e-12);
    EXPECT_EQ(extendPlist3DSteps(l, 3.0, 0, 3), 1);
    EXPECT_EQ(l->count, 6);
    freePlist3D(l);
    const Vec3 twin[] = {{1, 1, 1}, {1, 1, 1}, {2, 1, 1}};
    l = plist3DFromPoints(twin, 3);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(extendPlist3DEnds(l, 1.0, 1), -1);  // no direction at the start
    EXPECT_EQ(extendPlist3DEnds(l, 1.0, 2), 1);
    expectPoint(l->points[3], {3, 1, 1}, 1e-15);
    ASSERT_EQ(reversePlist3D(l), 1);
    EXPECT_EQ(extendPlist3DEnds(l, 1.0, 2), -1);  // nor at the end, the twins now last
    l->count = 1;
    EXPECT_EQ(extendPlist3DEnds(l, 1.0, 3), -1);
    freePlist3D(l);
    const Vec3 close[] = {{1, 1, 1}, {1 + 2e-5, 1, 1}};  // a start segment of 2e-5 still points the way
    l = plist3DFromPoints(close, 2);
    EXPECT_EQ(extendPlist3DEnds(l, 1.0, 1), 1);
    expectPoint(l->points[0], {0, 1, 1}, 1e-9);
    freePlist3D(l);

    const struct {
        double s;
        int result;
        std::vector<Vec3> points;
        std::vector<double> params;
    } trims[] = {
        {2.5, 1, {{1.5, 2, 0}, {3, 4, 0}, {3, 4, 12}}, {0, 5, 17}},
        {11.0, 1, {{3, 4, 6}, {3, 4, 12}}, {5, 17}},
        {5.0, 1, {{3, 4, 0}, {3, 4, 12}}, {5, 17}},
        {17.0, 1, {{0, 0, 0}, {3, 4, 0}, {3, 4, 12}}, {0, 5, 17}},  // at the last point: unchanged
        {18.0, -1, {{0, 0, 0}, {3, 4, 0}, {3, 4, 12}}, {0, 5, 17}},
    };
    for (const auto& c : trims) {
        l = bent();
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(trimPlist3DStart(l, c.s), c.result) << c.s;
        ASSERT_EQ(l->count, static_cast<int32_t>(c.points.size())) << c.s;
        for (int32_t i = 0; i < l->count; ++i) {
            expectPoint(l->points[i], c.points[i], 1e-12);
            EXPECT_EQ(l->param[i], c.params[i]);
        }
        freePlist3D(l);
    }
    // Folds: the turn at (3,4,0) is 90 degrees, at (3,4,12) back down 180.
    const Vec3 fold[] = {{0, 0, 0}, {3, 4, 0}, {3, 4, 12}, {3, 4, 6}};
    const struct {
        double angle;
        int result;
        int32_t count;
    } folds[] = {{2.0, 1, 2}, {1.5, 1, 3}, {3.14159265358979323846, 0, 4}};
    for (const auto& f : folds) {
        l = plist3DFromPoints(fold, 4);
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(trimPlist3DAtFold(l, f.angle), f.result) << f.angle;
        EXPECT_EQ(l->count, f.count) << f.angle;
        freePlist3D(l);
    }
    // A straight climb turns nowhere, however small the angle allowed.
    const Vec3 climb[] = {{0, 0, 0}, {1, 0, 1}, {2, 0, 2}, {3, 0, 3}};
    l = plist3DFromPoints(climb, 4);
    EXPECT_EQ(trimPlist3DAtFold(l, 0.01), 0);
    EXPECT_EQ(l->count, 4);
    freePlist3D(l);
}

// A chain holds copies in the order appended.
TEST(Plist3D, ChainsOfCopies) {
    Plist3DNode* chain = newPlist3DNode(4);
    ASSERT_NE(chain, nullptr);
    ASSERT_NE(chain->list, nullptr);
    EXPECT_EQ(chain->list->capacity, 4);
    EXPECT_EQ(chain->list->count, 0);
    EXPECT_EQ(chain->next, nullptr);
    Plist3D* l = bent();
    ASSERT_NE(l, nullptr);
    for (int k = 0; k < 2; ++k) {
        ASSERT_EQ(appendPlist3DNode(chain, l), 1);
        l->param[0] = -1.0;
    }
    ASSERT_NE(chain->next, nullptr);
    ASSERT_NE(chain->next->next, nullptr);
    EXPECT_EQ(chain->next->next->next, nullptr);
    EXPECT_EQ(chain->next->list->param[0], 0.0);
    EXPECT_EQ(chain->next->next->list->param[0], -1.0);
    EXPECT_EQ(chain->next->list->count, 3);
    EXPECT_NE(chain->next->list->points, l->points);
    EXPECT_EQ(appendPlist3DNode(chain, nullptr), -1);
    freePlist3D(l);
    freePlist3DChain(chain);
}
