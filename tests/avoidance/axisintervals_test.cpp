#include "avoidance/axisintervals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernel/base/rng.h"
#include "toolsolid.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kStep = 1e-3;

// Whether the tool tilted by t collides with any triangle; separating directions skip most work.
bool blocked(const Tool& tool, Vec3 P, Vec3 A, Vec3 W, Vec3 U, double t,
             const std::vector<Triangle3D>& tris) {
    const Vec3 a = O::add(O::mul(std::cos(t), A), O::mul(std::sin(t), W));
    const Vec3 n = O::add(O::mul(-std::sin(t), A), O::mul(std::cos(t), W));
    for (const Triangle3D& tri : tris) {
        for (size_t i = 0; i + 1 < tool.z.size(); ++i) {
            const double rm = std::max(tool.r[i], tool.r[i + 1]);
            double mn[3] = {1e300, 1e300, 1e300}, mx[3] = {-1e300, -1e300, -1e300};
            for (const Vec3& p : tri.p) {
                const double c[3] = {O::dot(O::sub(p, P), a), O::dot(O::sub(p, P), U),
                                     O::dot(O::sub(p, P), n)};
                for (int k = 0; k < 3; ++k) mn[k] = std::min(mn[k], c[k]), mx[k] = std::max(mx[k], c[k]);
            }
            if (mx[0] < tool.z[i] || mn[0] > tool.z[i + 1] || mn[1] > rm || mx[1] < -rm || mn[2] > rm ||
                mx[2] < -rm)
                continue;
            if (frustumHits(tool, static_cast<int>(i), P, a, tri)) return true;
        }
    }
    return false;
}

// The free range by sweeping [lo, hi]: the first free run at least 0.02 wide, or the only one.
// ambiguous is set when a run width lies too near 0.02 to decide within the sampling.
int sweepFreeRange(const Tool& tool, Vec3 P, Vec3 A, Vec3 U, Vec3 W, double lo, double hi,
                   const std::vector<Triangle3D>& tris, double* fLo, double* fHi, bool* ambiguous) {
    std::vector<std::pair<double, double>> gaps;
    double runStart = 0.0;
    bool inRun = false;
    *ambiguous = false;
    const int n = static_cast<int>((hi - lo) / kStep) + 1;  // the last sample lies at or past hi
    for (int k = 0; k <= n; ++k) {
        const double t = lo + (k + 0.5) * kStep;
        const bool freeHere = t < hi && !blocked(tool, P, A, W, U, t, tris);
        if (freeHere && !inRun) runStart = k == 0 ? lo : t - 0.5 * kStep, inRun = true;
        if (!freeHere && inRun) {
            const double runEnd = t >= hi ? hi : t - 0.5 * kStep;
            gaps.push_back({runStart, runEnd});
            inRun = false;
            if (std::fabs(runEnd - runStart - 0.02) < 3 * kStep) *ambiguous = true;
            if (runEnd - runStart >= 0.02) break;
        }
    }
    if (gaps.empty()) return kAxisNoRange;
    const auto wide =
        std::find_if(gaps.begin(), gaps.end(), [](auto g) { return g.second - g.first >= 0.02; });
    if (wide == gaps.end() && gaps.size() > 1) return kAxisNoRange;
    const auto& g = wide == gaps.end() ? gaps[0] : *wide;
    *fLo = g.first, *fHi = g.second;
    return kAxisFree;
}

}  // namespace

TEST(AxisIntervals, AngleIntervalAppendsWrapAtPi) {
    struct Case {
        double s, e;
        std::vector<double> want;  // start, end pairs
    } cases[] = {
        {3.0, 3.5, {3.0, kPi, -kPi, 3.5 - 2 * kPi}},
        {3.0 + 2 * kPi, 3.2 + 2 * kPi, {3.0, kPi, -kPi, 3.2 - 2 * kPi}},
        {-3.0, -2.0 - 2 * kPi, {-3.0, -2.0}},
    };
    for (const Case& c : cases) {
        double s[4], e[4];
        AngleIntervals list{0, 4, s, e};
        ASSERT_EQ(appendAngleInterval(&list, c.s, c.e), 1);
        ASSERT_EQ(2 * list.count, static_cast<int>(c.want.size())) << c.s;
        for (int k = 0; k < list.count; ++k) {
            EXPECT_NEAR(s[k], c.want[2 * k], 1e-12);
            EXPECT_NEAR(e[k], c.want[2 * k + 1], 1e-12);
        }
    }
    EXPECT_TRUE(std::isnan(angleWrapNear(NAN, 0.0)));  // returns, does not loop
    EXPECT_TRUE(std::isinf(angleWrapNear(INFINITY, 0.0)));
    EXPECT_EQ(angleWrapNear(1.0, INFINITY), 1.0);
    EXPECT_NEAR(angleWrapNear(1e9, 0.0), std::remainder(1e9, 2 * kPi), 1e-6);
    EXPECT_EQ(angleWrapNear(kPi, 0.0), kPi);  // both ends of the window stay
    EXPECT_EQ(angleWrapNear(-kPi, 0.0), -kPi);
    rngResetState();
    for (int k = 0; k < 200; ++k) {  // within pi of the reference, by whole turns
        const double ref = O::uni(-50, 50), a = ref + O::uni(-30, 30) * (k % 2 ? 1 : 0.2);
        const double w = angleWrapNear(a, ref), turns = (a - w) / (2 * kPi);
        EXPECT_LE(std::fabs(w - ref), kPi + 1e-12) << a << " " << ref;
        EXPECT_NEAR(turns, std::round(turns), 1e-9) << a << " " << ref;
    }
}

TEST(AxisIntervals, SortedPairsMergeWhereTheyOverlap) {
    struct Case {
        std::vector<double> in, want;  // start, end pairs
    } cases[] = {
        {{0.5, 0.7, 0.1, 0.3}, {0.1, 0.3, 0.5, 0.7}},
        {{0.3, 0.7, 0.1, 0.5}, {0.1, 0.7}},
        {{0.1, 0.9, 0.3, 0.5}, {0.1, 0.9}},
        {{0.1, 0.3, 0.3 + 5e-11, 0.4}, {0.1, 0.4}},
        {{0.1, 0.3, 0.3 + 1e-10, 0.4}, {0.1, 0.4}},  // a gap of the tolerance itself still closes
        {{0.1, 0.3, 0.3 + 1e-9, 0.4}, {0.1, 0.3, 0.3 + 1e-9, 0.4}},
        {{0.6, 0.8, 0.0, 0.2, 0.1, 0.65, -1, -0.5}, {-1, -0.5, 0.0, 0.8}},
        {{0.2, 0.25}, {0.2, 0.25}},
    };
    for (const Case& c : cases) {
        std::vector<double> s, e;
        for (size_t i = 0; i < c.in.size(); i += 2) s.push_back(c.in[i]), e.push_back(c.in[i + 1]);
        AngleIntervals list{static_cast<int32_t>(s.size()), static_cast<int32_t>(s.size()), s.data(),
                            e.data()};
        sortAnglePairs(&list);
        ASSERT_EQ(2 * list.count, static_cast<int>(c.want.size())) << c.in[0];
        for (int k = 0; k < list.count; ++k) {
            EXPECT_EQ(s[k], c.want[2 * k]) << c.in[0] << " " << k;
            EXPECT_EQ(e[k], c.want[2 * k + 1]) << c.in[0] << " " << k;
        }
    }
}

TEST(AxisIntervals, GapsNarrowerThanTwoHundredthsClose) {
    struct Case {
        double g0, g1;             // [-pi, 0], [g0, 0.4], [0.4 + g1, pi]
        std::vector<double> want;  // start, end pairs
    } cases[] = {
        {0.2, 0.01, {-kPi, 0, 0.2, kPi}},
        {0.2, 0.019, {-kPi, 0, 0.2, kPi}},
        {0.2, 0.03, {-kPi, 0, 0.2, 0.4, 0.43, kPi}},
        {0.01, 0.5, {-kPi, 0.4, 0.9, kPi}},
        {0.01, 0.01, {-kPi, kPi}},
    };
    for (const Case& c : cases) {
        double s[] = {-kPi, c.g0, 0.4 + c.g1}, e[] = {0.0, 0.4, kPi};
        AngleIntervals list{3, 3, s, e};
        closeAngleGaps(&list);
        ASSERT_EQ(2 * list.count, static_cast<int>(c.want.size())) << c.g0 << " " << c.g1;
        for (int k = 0; k < list.count; ++k) {
            EXPECT_DOUBLE_EQ(s[k], c.want[2 * k]) << k;
            EXPECT_DOUBLE_EQ(e[k], c.want[2 * k + 1]) << k;
        }
    }
    double s[] = {-kPi, 0.01}, e[] = {0.0, kPi};  // two intervals keep even a narrow gap
    AngleIntervals two{2, 2, s, e};
    closeAngleGaps(&two);
    EXPECT_TRUE(two.count == 2 && e[0] == 0.0 && s[1] == 0.01);
}

TEST(AxisIntervals, NoModelOrVerticalAxis) {
    axisIntervalsResetState();
    const Vec3 P = {1, 2, 3}, A = {0.6, 0.0, 0.8}, Z = {0, 0, 1};
    double lo = 0, hi = 0;
    EXPECT_EQ(axisIntervalsOverMesh(&P, &A, -0.4, 0.7, &lo, &hi), kAxisFree);
    EXPECT_DOUBLE_EQ(lo, -0.4);
    EXPECT_DOUBLE_EQ(hi, 0.7);
    EXPECT_EQ(axisIntervalsOverMesh(&P, &Z, -0.4, 0.7, &lo, &hi), kAxisVertical);
    const Vec3 steep = {0.99e-5, 0, 1}, off = {1.01e-5, 0, 1};  // vertical within 1e-5
    EXPECT_EQ(axisIntervalsOverMesh(&P, &steep, -0.4, 0.7, &lo, &hi), kAxisVertical);
    EXPECT_EQ(axisIntervalsOverMesh(&P, &off, -0.4, 0.7, &lo, &hi), kAxisFree);
    EXPECT_EQ(axisIntervalsOverMesh(&P, &A, 0.3, 0.3, &lo, &hi), kAxisFree);  // one tilt is a range
    EXPECT_TRUE(lo == 0.3 && hi == 0.3);
    for (int k = 0; k < 11; ++k) {  // each argument in turn missing, not finite, zero or out of order
        const Vec3 nanP = {1, NAN, 3}, infA = {0.6, 0, INFINITY}, none = {0, 0, 0};
        const Vec3 *p = k == 0 ? nullptr : k == 1 ? &nanP : &P, *a = k == 2 ? nullptr : k == 3 ? &infA : &A;
        const double l = k == 5 ? NAN : k == 6 ? 0.8 : -0.4, h = k == 7 ? INFINITY : k == 10 ? NAN : 0.7;
        double* out = k == 8 ? nullptr : &lo;
        EXPECT_EQ(axisIntervalsOverMesh(p, k == 4 ? &none : a, l, h, out, k == 9 ? nullptr : &hi),
                  kAxisBadArgs)
            << k;
        EXPECT_TRUE(lo == 0.3 && hi == 0.3) << k;
    }
    // A model without triangles is a model; it blocks nothing. Only its slots 0 to 2 exist.
    TriList* tl = triListCreate(1);
    ASSERT_NE(tl, nullptr);
    const double z[] = {0, 10}, r[] = {2, 2};
    AxisObstacleModel* m = axisModelCreate(tl, 2, z, r);
    triListFree(tl);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->root, nullptr);  // no box to bound nothing
    EXPECT_EQ(axisIntervalsSetModel(-1, m), kAxisBadArgs);
    EXPECT_EQ(axisIntervalsSetModel(kAxisModelSlots, m), kAxisBadArgs);
    ASSERT_EQ(axisIntervalsSetModel(kAxisModelSlots - 1, m), 1);
    EXPECT_EQ(axisIntervalsOverMesh(&P, &A, -0.4, 0.7, &lo, &hi), kAxisFree);
    EXPECT_DOUBLE_EQ(lo, -0.4);
    EXPECT_DOUBLE_EQ(hi, 0.7);
    axisIntervalsResetState();
    axisModelFree(m);
    // Without triangles a list needs no array; with them it does.
    TriList bare{};
    m = axisModelCreate(&bare, 2, z, r);
    EXPECT_NE(m, nullptr);
    axisModelFree(m);
    bare.count = bare.capacity = 1;
    EXPECT_EQ(axisModelCreate(&bare, 2, z, r), nullptr);
    double s[1] = {0}, e[1] = {0};
    AngleIntervals full{1, 1, s, e};  // a full list takes nothing more
    EXPECT_EQ(appendAngleInterval(&full, 0.1, 0.2), 0);
    EXPECT_EQ(full.count, 1);
}

// A tool profile is refused unless it has two rings or more at rising heights from 0 or above, radii of
// 0 or more with the last the widest, and bands that move away from the tool point as they rise.
TEST(AxisIntervals, ProfilesThatTheModelRefuses) {
    TriList* tl = triListCreate(1);
    ASSERT_NE(tl, nullptr);
    const Triangle3D t{{{5, -3, 5}, {6, 3, 6}, {7, 0, 7}}};
    triListAdd(tl, &t);
    const double inf = INFINITY;
    struct Case {
        std::vector<double> z, r;
        bool valid;
    } cases[] = {
        {{0, 10}, {2, 2}, true},
        {{0}, {2}, false},
        {{0, 10, 10}, {1, 2, 2}, false},  // heights must rise
        {{0, 10, 5}, {1, 2, 2}, false},
        {{-1, 10}, {2, 10}, false},  // below the tool point, though its band moves away

        {{0, 10}, {-1, 2}, false},
        {{0, 10, 20}, {1, 5, 4}, false},  // a ring wider than the last
        {{0, 10, 20}, {1, 4, 4}, true},
        {{0, inf}, {2, 2}, false},
        {{1, 2}, {4, 1}, false},            // the band from (1, 4) to (2, 1) comes closer to the tool point
        {{1, 2, 100}, {5, 0.5, 6}, false},  // the first band comes closer, however far the next ring
        {{2, 3, 10}, {3, 1, 5}, false},     // d/du (u^2 + r^2) = 4 + 2 * 3 * -2 < 0 at the first ring
        {{0, 1, 10}, {1, 2, 8}, true},      // widening bands always move away
        {{1, 2}, {4, 4}, true},
        {{0, 2}, {0, 4}, true},
        {{5, 10}, {-1, 2}, false},  // the first ring alone is wrong: its bands would pass
        {{5, 10}, {3, 2}, false},
        {{5, 10}, {NAN, 2}, false},
    };
    for (const Case& c : cases) {
        AxisObstacleModel* m = axisModelCreate(tl, static_cast<int32_t>(c.z.size()), c.z.data(), c.r.data());
        EXPECT_EQ(m != nullptr, c.valid) << c.z.size() << " " << c.z.back() << " " << c.r.front();
        axisModelFree(m);
    }
    triListFree(tl);
}

TEST(AxisIntervals, EventsSortByAngleThenFlag) {
    double a[] = {0.5, -1.0, 0.5, 0.2, 0.5, -1.0};
    int32_t f[] = {1, 1, 0, 0, 1, 0};
    sortAngleEvents(6, a, f);
    const double wantA[] = {-1.0, -1.0, 0.2, 0.5, 0.5, 0.5};
    const int32_t wantF[] = {0, 1, 0, 0, 1, 1};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(a[k], wantA[k]) << k;
        EXPECT_EQ(f[k], wantF[k]) << k;
    }
}

// A triangle without area blocks no tilt: its edges belong to the triangles beside it.
TEST(AxisIntervals, TriangleWithoutAreaBlocksNothing) {
    TriList* tl = triListCreate(2);
    ASSERT_NE(tl, nullptr);
    // Corners on a line exactly, though 2.8 - 0.7 rounds: the normal must come from edges off one corner.
    const Triangle3D flat{{{5, 0, 5}, {5.5, 0.7, 5.375}, {7, 2.8, 6.5}}},
        real{{{5, -3, 5}, {6, 3, 6}, {7, 0, 7}}};
    triListAdd(tl, &flat);
    triListAdd(tl, &real);
    const double z[] = {0, 10}, r[] = {2, 2};
    AxisObstacleModel* m = axisModelCreate(tl, 2, z, r);
    triListFree(tl);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(O::dot(m->triangleInfo[0].normal, m->triangleInfo[0].normal), 0.0);
    const AxisFrame f{{0, 0, 0}, {0.6, 0, 0.8}, {0, 1, 0}, {0.8, 0, -0.6}};
    double s[8], e[8];
    AngleIntervals out{5, 8, s, e};
    EXPECT_EQ(axisIntervalsTriangle(0, &f, m, kPi, &out), 1);
    EXPECT_EQ(out.count, 0);
    EXPECT_EQ(axisIntervalsTriangle(1, &f, m, kPi, &out), 1);  // the real one crosses the swing
    EXPECT_GT(out.count, 0);
    // A swing plane tilted about x, within reach of the box only about its (ymax, zmin) edge.
    const AxisFrame tilted{{0, 0, 1.625}, {1, 0, 0}, {0, 0.6, -0.8}, {0, -0.8, -0.6}};
    const AxisFrame above{{0, 0, 10.375}, {1, 0, 0}, {0, 0.6, 0.8}, {0, 0.8, -0.6}};  // (ymax, zmax) only
    for (const AxisFrame* g : {&f, &tilted, &above}) {  // the descent keeps what the real triangle blocks
        double ts[8], te[8];
        AngleIntervals own{0, 8, ts, te};
        ASSERT_EQ(axisIntervalsTriangle(1, g, m, 1.0, &own) * 10 + own.count, 11);
        s[0] = -kPi, e[0] = -1, s[1] = 1, e[1] = kPi;  // the descent reaches the root, a leaf, and answers 1
        AngleIntervals list{2, 8, s, e};
        EXPECT_EQ(
            axisIntervalsBoxTree(g, m, m->root, &list) * 10 + axisIntervalsBoxTree(g, m, nullptr, &list), 11);
        ASSERT_EQ(list.count, 3);
        EXPECT_TRUE(s[1] == ts[0] && e[1] == te[0]);
    }
    s[0] = -kPi, e[0] = -1, s[1] = 1, e[1] = kPi;  // a full list keeps what it holds, and no more
    AngleIntervals full{2, 2, s, e};
    EXPECT_EQ(axisIntervalsBoxTree(&f, m, m->root, &full) * 10 + full.count, 12);
    const AxisFrame far{{0, -100, 0}, f.A, f.U, f.W};  // 100 beside the swing plane: the root is cut off
    AngleIntervals none{0, 8, s, e};
    EXPECT_EQ(axisIntervalsBoxTree(&far, m, m->root, &none) * 10 + none.count, 10);
    axisModelFree(m);
}

// Seeded scenes: the free range after the lower limit equals a sweep of the tool in 1e-3 steps,
// by the box tree and item by item alike.
TEST(AxisIntervals, FreeRangeMatchesBruteForceSweep) {
    rngResetState();
    // A cutter with a neck under the holder, a pointed tip, a plain stepped shank.
    const Tool tools[3] = {{{0.0, 5.0, 20.0, 30.0, 50.0}, {3.0, 3.0, 1.5, 6.0, 8.0}},
                           {{0.0, 2.0, 10.0, 30.0, 50.0}, {0.0, 2.5, 2.5, 8.0, 8.0}},
                           {{0.0, 12.0, 18.0, 45.0}, {1.5, 1.5, 5.0, 5.0}}};
    int decided = 0, withObstacle = 0;
    for (int scene = 0; scene < 21; ++scene) {
        const Tool& tool = tools[scene % 3];
        const Vec3 P = {O::uni(-5, 5), O::uni(-5, 5), O::uni(-5, 5)};
        const double tilt = O::uni(0.3, 1.2), az = O::uni(-kPi, kPi);
        const Vec3 A = {std::sin(tilt) * std::cos(az), std::sin(tilt) * std::sin(az), std::cos(tilt)};
        const Vec3 U = {-std::sin(az), std::cos(az), 0.0}, W = O::cross(U, A);
        std::vector<Triangle3D> tris;
        TriList* tl = triListCreate(4);
        ASSERT_NE(tl, nullptr);
        while (static_cast<int>(tris.size()) < 6) {
            const double rho = O::uni(8, 40), th = O::uni(-kPi, kPi);
            const Vec3 c = O::add(O::add(P, O::mul(O::uni(-6, 6), U)),
                                  O::mul(rho, O::add(O::mul(std::cos(th), A), O::mul(std::sin(th), W))));
            Triangle3D t;
            bool ok = true;  // the tool's end disc always holds points on U close to the tool point
            for (Vec3& p : t.p) {
                p = O::add(c, Vec3{O::uni(-6, 6), O::uni(-6, 6), O::uni(-6, 6)});
                ok = ok && O::dot(O::sub(p, P), O::sub(p, P)) > 9.0;
            }
            if (!ok) continue;
            tris.push_back(t);
            triListAdd(tl, &t);
        }
        AxisObstacleModel* m =
            axisModelCreate(tl, static_cast<int32_t>(tool.z.size()), tool.z.data(), tool.r.data());
        triListFree(tl);
        ASSERT_NE(m, nullptr);
        const double lo = O::uni(-2.8, 0.0), hi = O::uni(0.1, 2.8);
        double want[2] = {0, 0}, got[2][2] = {{0, 0}, {0, 0}};
        bool ambiguous = false;
        const int wantCode = sweepFreeRange(tool, P, A, U, W, lo, hi, tris, &want[0], &want[1], &ambiguous);
        int code[2];
        for (int tree = 0; tree < 2; ++tree) {
            axisIntervalsResetState();
            axisIntervalsSetModel(2, m);
            axisIntervalsSetBoxTree(tree);
            code[tree] = axisIntervalsOverMesh(&P, &A, lo, hi, &got[tree][0], &got[tree][1]);
        }
        axisIntervalsResetState();
        axisModelFree(m);
        EXPECT_EQ(code[0], code[1]) << scene;
        EXPECT_NEAR(got[0][0], got[1][0], 1e-9) << scene;
        EXPECT_NEAR(got[0][1], got[1][1], 1e-9) << scene;
        if (ambiguous) continue;
        ++decided;
        withObstacle += wantCode != kAxisFree || want[0] > lo + kStep || want[1] < hi - kStep;
        EXPECT_EQ(code[0], wantCode) << scene;
        if (wantCode != kAxisFree || code[0] != kAxisFree) continue;
        EXPECT_NEAR(got[0][0], want[0], 1.5 * kStep) << scene;
        EXPECT_NEAR(got[0][1], want[1], 1.5 * kStep) << scene;
    }
    EXPECT_GE(decided, 18);
    EXPECT_GE(withObstacle, 9);
}

namespace {

struct Swing {
    AxisFrame f;
    Vec3 axis(double t) const { return O::add(O::mul(std::cos(t), f.A), O::mul(std::sin(t), f.W)); }
    Vec3 across(double t) const { return O::add(O::mul(-std::sin(t), f.A), O::mul(std::cos(t), f.W)); }
    // The point of the ring (height z, radius r) about axis(t) at angle phi from across(t) toward U.
    Vec3 on(double t, double z, double r, double phi) const {
        return O::add(O::add(f.P, O::mul(z, axis(t))),
                      O::mul(r, O::add(O::mul(std::cos(phi), across(t)), O::mul(std::sin(phi), f.U))));
    }
};

Swing seededSwing() {
    const double tilt = O::uni(0.2, 1.4), az = O::uni(-kPi, kPi);
    Swing s;
    s.f.P = {O::uni(-5, 5), O::uni(-5, 5), O::uni(-5, 5)};
    s.f.A = {std::sin(tilt) * std::cos(az), std::sin(tilt) * std::sin(az), std::cos(tilt)};
    s.f.U = {-std::sin(az), std::cos(az), 0.0};
    s.f.W = O::cross(s.f.U, s.f.A);
    return s;
}

}  // namespace

// The kernels in closed form: at each angle a ring returns, the point lies on that ring's circle at the
// angle phi given; at each band angle the point lies on the band at the axial parameter given, where the
// band's radius is the rings' linear interpolation; at each ring-plane angle the ring's circle touches
// the triangle's plane at the point of the given barycentric coordinates.
TEST(AxisIntervals, KernelAnglesPutThePointOnTheRingBandOrPlane) {
    rngResetState();
    const std::vector<double> z = {0.0, 4.0, 20.0, 35.0}, r = {1.5, 3.0, 3.0, 7.0};
    TriList* tl = triListCreate(2);
    ASSERT_NE(tl, nullptr);
    const Triangle3D one{{{30, 0, 0}, {31, 0, 0}, {30, 1, 0}}};
    triListAdd(tl, &one);
    AxisObstacleModel* m = axisModelCreate(tl, 4, z.data(), r.data());
    triListFree(tl);
    ASSERT_NE(m, nullptr);
    int rings = 0, bands = 0, planes = 0;
    for (int k = 0; k < 300; ++k) {
        const Swing s = seededSwing();
        const Vec3 X = O::add(s.f.P, Vec3{O::uni(-25, 25), O::uni(-25, 25), O::uni(-25, 25)});
        const double sx = O::dot(O::sub(X, s.f.P), s.f.U);
        const int j = k % 4;
        double t[2], ph[2], u = 0, sOut = 0;
        // A point on the sphere that the ring's circle sweeps as the axis turns.
        const Vec3 d0 = O::sub(X, s.f.P);
        const Vec3 Y = O::add(s.f.P, O::mul(std::hypot(z[j], r[j]) / std::sqrt(O::dot(d0, d0)), d0));
        const double sy = O::dot(O::sub(Y, s.f.P), s.f.U);
        const int onRing = pointRingAngles(&s.f, &Y, z[j], r[j], &t[0], &t[1], &ph[0], &ph[1], &sOut);
        EXPECT_NEAR(sOut, sy, 1e-12);
        EXPECT_EQ(onRing, std::fabs(sy) <= r[j] ? 1 : 0);
        EXPECT_TRUE(!onRing || (t[0] >= -kPi && t[0] <= kPi && t[1] >= t[0] && t[1] < t[0] + 2 * kPi)) << k;
        for (int q = 0; onRing && q < 2; ++q, ++rings) {
            const Vec3 d = O::sub(Y, s.on(t[q], z[j], r[j], ph[q]));
            EXPECT_LT(std::sqrt(O::dot(d, d)), 1e-9) << k << " " << q;
        }
        const int i = k % 3;  // the band between rings i and i + 1
        EXPECT_EQ(bandAtPoint(&s.f, m, i, &s.f.P, &t[0], &t[1], &ph[0], &ph[1], &u, &sOut),
                  0);  // no band there
        const int onBand = bandAtPoint(&s.f, m, i, &X, &t[0], &t[1], &ph[0], &ph[1], &u, &sOut);
        EXPECT_NEAR(sOut, sx, 1e-12);
        EXPECT_TRUE(onBand != 1 || (t[0] >= -kPi && t[0] <= kPi && t[1] >= t[0] && t[1] < t[0] + 2 * kPi))
            << k;
        for (int q = 0; onBand == 1 && q < 2; ++q, ++bands) {
            const double ru = r[i] + (r[i + 1] - r[i]) * (u - z[i]) / (z[i + 1] - z[i]);
            const Vec3 d = O::sub(X, s.on(t[q], u, ru, ph[q]));
            EXPECT_LT(std::sqrt(O::dot(d, d)), 1e-8) << k << " " << q;
        }
        Vec3 tri[3];
        for (Vec3& v : tri) v = O::add(s.f.P, Vec3{O::uni(-20, 20), O::uni(-20, 20), O::uni(-20, 20)});
        Vec3 n = O::cross(O::sub(tri[1], tri[0]), O::sub(tri[2], tri[0]));
        n = O::mul(1 / std::sqrt(O::dot(n, n)), n);
        const double h = O::dot(n, O::sub(s.f.P, tri[0]));
        double tt[4], phi[4], a[4], b[4];
        int inside[4];
        const int pairs = ringPlaneAngles(&s.f, z[j], r[j], tri, &n, h, tt, inside, phi, a, b);
        for (int q = 0; q < 2 * pairs; ++q, ++planes) {
            const Vec3 at = s.on(tt[q], z[j], r[j], phi[q]);
            EXPECT_NEAR(O::dot(n, O::sub(at, tri[0])), 0.0, 1e-8) << k << " " << q;
            const Vec3 bary = O::add(
                tri[0], O::add(O::mul(a[q], O::sub(tri[1], tri[0])), O::mul(b[q], O::sub(tri[2], tri[0]))));
            const Vec3 d = O::sub(bary, at);
            EXPECT_LT(std::sqrt(O::dot(d, d)), 1e-7) << k << " " << q;
            // Touching, not crossing: the circle's centre lies as far from the plane as its rim reaches.
            const double na = O::dot(n, s.axis(tt[q]));
            EXPECT_NEAR(std::fabs(O::dot(n, O::sub(s.on(tt[q], z[j], 0, 0), tri[0]))),
                        r[j] * std::sqrt(std::max(0.0, 1 - na * na)), 1e-8);
            EXPECT_EQ(inside[q], a[q] >= 0 && b[q] >= 0 && a[q] + b[q] < 1);
        }
    }
    EXPECT_GT(rings, 200);
    EXPECT_GT(bands, 100);
    EXPECT_GT(planes, 200);
    axisModelFree(m);
}

// Every node's box is the box of its items' triangles; children split their parent's items; leaves
// hold every item once, also where many triangles share a centre (the first 24 are one stacked).
TEST(AxisIntervals, BoxTreeNodesBoundTheirTriangles) {
    rngResetState();
    TriList* tl = triListCreate(64);
    ASSERT_NE(tl, nullptr);
    Triangle3D t;
    for (int i = 0; i < 57; ++i) {
        const Vec3 c{O::uni(-50, 50), O::uni(-50, 50), O::uni(-50, 50)};
        for (Vec3& p : t.p)
            p = i > 0 && i < 24 ? p : O::add(c, Vec3{O::uni(-4, 4), O::uni(-4, 4), O::uni(-4, 4)});
        triListAdd(tl, &t);
    }
    const double z[] = {0, 10}, r[] = {2, 2};
    AxisObstacleModel* m = axisModelCreate(tl, 2, z, r);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->lastItem, 56);
    for (int k = 0; k < 57; ++k) {  // each triangle's centroid and unit normal
        const Vec3* p = tl->data[k].p;
        const AxisTriangleInfo& info = m->triangleInfo[k];
        const Vec3 off = O::sub(info.centre, O::mul(1.0 / 3, O::add(p[0], O::add(p[1], p[2]))));
        EXPECT_LT(O::dot(off, off), 1e-24) << k;
        EXPECT_NEAR(O::dot(info.normal, info.normal), 1.0, 1e-12);
        EXPECT_NEAR(O::dot(info.normal, O::sub(p[1], p[0])), 0.0, 1e-9);
        EXPECT_NEAR(O::dot(info.normal, O::sub(p[2], p[0])), 0.0, 1e-9);
    }
    std::vector<int> seen(57, 0);
    std::vector<const AxisBoxNode*> stack{m->root};
    while (!stack.empty()) {
        const AxisBoxNode* node = stack.back();
        stack.pop_back();
        ASSERT_NE(node, nullptr);
        double box[6] = {1e300, -1e300, 1e300, -1e300, 1e300, -1e300};
        for (int32_t k = node->first; k <= node->last; ++k)
            for (const Vec3& p : tl->data[m->items[k]].p)
                for (int c = 0; c < 3; ++c)
                    box[2 * c] = std::min(box[2 * c], (&p.x)[c]),
                            box[2 * c + 1] = std::max(box[2 * c + 1], (&p.x)[c]);
        for (int c = 0; c < 6; ++c) EXPECT_EQ((&node->xmin)[c], box[c]);
        if (node->child1) {
            ASSERT_NE(node->child2, nullptr);
            EXPECT_EQ(node->child1->first, node->first);
            EXPECT_EQ(node->child1->last + 1, node->child2->first);
            EXPECT_EQ(node->child2->last, node->last);
            stack.push_back(node->child1), stack.push_back(node->child2);
        } else {
            for (int32_t k = node->first; k <= node->last; ++k) ++seen[m->items[k]];
        }
    }
    for (int v : seen) EXPECT_EQ(v, 1);
    triListFree(tl);
    axisModelFree(m);
}

// One triangle's intervals against the tool swung through every angle: at seeded tilts away from the
// interval ends, a tilt lies inside an interval exactly when the swung tool meets the triangle. The
// triangles lie where the swing passes, some across the tool point's end disc and some by the top disc;
// one (scene 23) lies across the swing line and meets the tool at every tilt.
TEST(AxisIntervals, TriangleIntervalsAreTheBlockedTilts) {
    rngSeed(61);
    const Tool tools[3] = {{{0.0, 5.0, 20.0, 30.0}, {3.0, 3.0, 1.5, 6.0}},
                           {{0.0, 2.0, 12.0}, {0.0, 2.5, 4.0}},
                           {{0.5, 8.0, 14.0}, {2.0, 2.0, 4.5}}};
    int blockedSeen = 0, freeSeen = 0, nearPoint = 0;
    for (int scene = 0; scene < 24; ++scene) {
        const Tool& tool = tools[scene % 3];
        const Swing s = seededSwing();
        const double top = tool.z.back(), rMax = tool.r.back();
        std::vector<Triangle3D> tris;
        TriList* tl = triListCreate(4);
        ASSERT_NE(tl, nullptr);
        for (int k = 0; k < 4; ++k) {
            // Around the tool point, up its length, or by its top ring, on either side across the swing.
            const double rho = k == 0 ? O::uni(0.3, 2.5) : k == 3 ? O::uni(top - 1, top + 1) : O::uni(1, top);
            const double th = O::uni(-kPi, kPi), across = O::uni(-rMax, rMax);
            const Vec3 c =
                O::add(O::add(s.f.P, O::mul(across, s.f.U)),
                       O::mul(rho, O::add(O::mul(std::cos(th), s.f.A), O::mul(std::sin(th), s.f.W))));
            const double size = k == 0 ? 1.0 : 3.0;
            Triangle3D t;
            for (Vec3& p : t.p)
                p = O::add(c, Vec3{O::uni(-size, size), O::uni(-size, size), O::uni(-size, size)});
            tris.push_back(t);
            triListAdd(tl, &t);
        }
        AxisObstacleModel* m =
            axisModelCreate(tl, static_cast<int32_t>(tool.z.size()), tool.z.data(), tool.r.data());
        triListFree(tl);
        ASSERT_NE(m, nullptr);
        for (int k = 0; k < 4; ++k) {
            double st[kAxisTriangleIntervals], en[kAxisTriangleIntervals];
            AngleIntervals out{0, kAxisTriangleIntervals, st, en};
            ASSERT_EQ(axisIntervalsTriangle(k, &s.f, m, kPi, &out), 1);
            const std::vector<Triangle3D> one = {tris[k]};
            const Vec3 e = O::cross(O::sub(tris[k].p[1], tris[k].p[0]), O::sub(tris[k].p[2], tris[k].p[0]));
            const Vec3 n = O::mul(1.0 / std::sqrt(O::dot(e, e)), e);
            // Tilts anywhere, and as many again inside the intervals found.
            double width = 0;
            for (int j = 0; j < out.count; ++j) width += en[j] - st[j];
            for (int q = 0; q < 16; ++q) {
                double t = O::uni(-kPi, kPi);
                if (q % 2 && width > 0) {
                    double w = O::uni(0, width);
                    for (int j = 0; j < out.count; ++j) {
                        if (w <= en[j] - st[j]) {
                            t = st[j] + w;
                            break;
                        }
                        w -= en[j] - st[j];
                    }
                }
                bool inside = false, edge = false;
                for (int j = 0; j < out.count; ++j) {
                    inside = inside || (t >= st[j] && t <= en[j]);
                    edge = edge || std::fabs(t - st[j]) < 4e-3 || std::fabs(t - en[j]) < 4e-3;
                }
                if (edge) continue;
                bool hit = false;  // the tool meets the triangle where one of its bands does
                for (int32_t b = 0; b + 1 < int32_t(tool.z.size()); ++b) {
                    const Tool band{{tool.z[b], tool.z[b + 1]}, {tool.r[b], tool.r[b + 1]}};
                    const bool bandHit = blocked(band, s.f.P, s.f.A, s.f.W, s.f.U, t, one);
                    EXPECT_EQ(bandHitsTriangle(&s.f, m, b, tris[k].p, &n, t), bandHit)
                        << scene << " " << k << " " << b;
                    hit = hit || bandHit;
                }
                EXPECT_EQ(inside, hit) << scene << " " << k << " " << t;
                (hit ? blockedSeen : freeSeen)++;
                nearPoint += hit && k == 0;
            }
        }
        axisModelFree(m);
    }
    EXPECT_GT(blockedSeen, 150);
    EXPECT_GT(freeSeen, 200);
    EXPECT_GT(nearPoint, 12);
    // A contact through a half turn whose events, sorted, open with an edge leaving a ring: that end too
    // must be carried round a turn, or the contact stops short of the half turn on either side.
    const Tool tool{{0.0, 5.0, 20.0, 30.0, 50.0}, {3.0, 3.0, 1.5, 6.0, 8.0}};
    const Vec3 A{-0.87412593908007763, -0.18509782790044954, 0.44904636367964057};
    const Vec3 U{-A.y / std::hypot(A.x, A.y), A.x / std::hypot(A.x, A.y), 0};
    const Triangle3D tri{{{0.021781426313155272, 4.8265512723216268, -10.069822607272471},
                          {-0.97056496476865473, -0.20565546790869549, -3.4729307421382316},
                          {4.8079435568478042, 8.5543123732992861, 1.8544808051649682}}};
    TriList* tl = triListCreate(1);
    ASSERT_NE(tl, nullptr);
    triListAdd(tl, &tri);
    AxisObstacleModel* m = axisModelCreate(tl, 5, tool.z.data(), tool.r.data());
    triListFree(tl);
    ASSERT_NE(m, nullptr);
    const AxisFrame f{{0.59523377567529678, 1.9628756679594517, -0.33718064427375793}, A, U, O::cross(U, A)};
    double st[kAxisTriangleIntervals], en[kAxisTriangleIntervals];
    AngleIntervals out{0, kAxisTriangleIntervals, st, en};
    ASSERT_EQ(axisIntervalsTriangle(0, &f, m, kPi, &out), 1);
    for (int q = -30; q <= 30; q += 5) {
        bool inside = false;
        for (int j = 0; j < out.count; ++j) inside = inside || (q / 10.0 >= st[j] && q / 10.0 <= en[j]);
        EXPECT_EQ(inside, blocked(tool, f.P, A, f.W, U, q / 10.0, {tri})) << q;
    }
    axisModelFree(m);
}

// Triangles just above the lowest reach of the tilt limit are not skipped: one square to the axis behind
// the top ring's full distance, met only near a half turn, and one beside the cutter.
TEST(AxisIntervals, TrianglesJustAboveTheLowestReachAreNotSkipped) {
    const Tool tool{{0.0, 5.0, 20.0, 30.0}, {3.0, 3.0, 1.5, 6.0}};
    const AxisFrame f{{0, 0, 0}, {0.6, 0, 0.8}, {0, 1, 0}, {0.8, 0, -0.6}};
    // The tool against a model of one triangle.
    const auto modelOf = [&tool](const Triangle3D& tri) {
        TriList* one = triListCreate(1);
        if (one == nullptr || triListAdd(one, &tri) < 0) {
            triListFree(one);
            return static_cast<AxisObstacleModel*>(nullptr);
        }
        AxisObstacleModel* model = axisModelCreate(one, 4, tool.z.data(), tool.r.data());
        triListFree(one);
        return model;
    };
    double st[kAxisTriangleIntervals], en[kAxisTriangleIntervals];
    AngleIntervals out{0, kAxisTriangleIntervals, st, en};
    // Past the top ring's height 30 but within its full distance 30.59, the rim reaches it tilted near
    // pi - atan(6 / 30) either way.
    for (const double depth : {29.9, 30.3}) {
        const Vec3 c = O::mul(-depth, f.A);
        const Triangle3D t{{O::add(c, O::mul(4, f.U)), O::add(c, O::add(O::mul(-2, f.U), O::mul(3, f.W))),
                            O::add(c, O::add(O::mul(-2, f.U), O::mul(-3, f.W)))}};
        AxisObstacleModel* m = modelOf(t);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(axisIntervalsTriangle(0, &f, m, kPi, &out), 1);
        int blockedSeen = 0;
        for (double a : {kPi - 0.02, -kPi + 0.02, kPi - 0.2, -kPi + 0.2, kPi - 0.5, 0.0, 1.0, -1.5}) {
            bool inside = false;
            for (int j = 0; j < out.count; ++j) inside = inside || (a >= st[j] && a <= en[j]);
            const bool hit = blocked(tool, f.P, f.A, f.W, f.U, a, {t});
            EXPECT_EQ(inside, hit) << depth << " " << a;
            blockedSeen += hit;
        }
        EXPECT_GE(blockedSeen, 2) << depth;
        axisModelFree(m);
    }
    // Within a tilt of 1 the lowest reach is the cutter's rim at -3 sin 1: a triangle beside the tool
    // and above that height (square to W at 3.5 out, 0.5 to 1.8 up the axis) is met past a tilt of 0.33.
    const Triangle3D side{{O::add(O::mul(0.5, f.A), O::add(O::mul(3.5, f.W), O::mul(-1.5, f.U))),
                           O::add(O::mul(0.5, f.A), O::add(O::mul(3.5, f.W), O::mul(1.5, f.U))),
                           O::add(O::mul(1.8, f.A), O::mul(3.5, f.W))}};
    AxisObstacleModel* m = modelOf(side);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(axisIntervalsTriangle(0, &f, m, 1.0, &out), 1);
    for (double a : {0.6, 0.9, 0.0, -0.5, 0.2}) {
        bool inside = false;
        for (int j = 0; j < out.count; ++j) inside = inside || (a >= st[j] && a <= en[j]);
        EXPECT_EQ(inside, a > 0.5) << a;
        EXPECT_EQ(blocked(tool, f.P, f.A, f.W, f.U, a, {side}), a > 0.5) << a;
    }
    axisModelFree(m);
    // A spike 30.5 out along the axis swung to either side: its tip enters the top disc (radius 6 at 30)
    // where the tilt's cosine is 30 / 30.5 and leaves through the cone below it.
    const Vec3 foot = O::mul(33.5, f.A);
    const Triangle3D spike{
        {O::mul(30.5, f.A), O::add(foot, f.U), O::add(foot, O::sub(O::mul(0.5, f.W), f.U))}};
    m = modelOf(spike);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(axisIntervalsTriangle(0, &f, m, 1.0, &out), 1);
    ASSERT_EQ(out.count, 2);
    EXPECT_NEAR(-en[0], std::acos(30 / 30.5), 1e-9);
    EXPECT_NEAR(st[1], std::acos(30 / 30.5), 1e-9);
    for (const double a : {0.5 * (st[0] + en[0]), 0.5 * (st[1] + en[1]), 0.0, -0.3, 0.3})
        EXPECT_EQ(blocked(tool, f.P, f.A, f.W, f.U, a, {spike}), std::fabs(a) < 0.25 && a != 0.0) << a;
    axisModelFree(m);
}

// A plane whose normal is the swing's line U holds no touching tilt: every ring circle reaches R either
// side of its centre along U whatever the tilt, so it crosses the plane always (|h| < R) or never.
TEST(AxisIntervals, RingNeverTouchesAPlaneAcrossTheSwingLine) {
    rngSeed(62);
    for (int k = 0; k < 20; ++k) {
        Swing s = seededSwing();
        if (k % 4 < 2) {  // a swing line along y: the plane's normal is square to the swing exactly
            const double tilt = O::uni(0.2, 1.4);
            s.f.A = {std::sin(tilt), 0, std::cos(tilt)}, s.f.U = {0, 1, 0}, s.f.W = O::cross(s.f.U, s.f.A);
        }
        const double h = O::uni(-6, 6), Z = O::uni(0, 10), R = O::uni(0.5, 5);
        const Vec3 n = k % 2 ? s.f.U : O::mul(-1, s.f.U);
        const Vec3 foot = O::add(s.f.P, O::mul(-h, n));  // the plane's point nearest the tool point
        const Vec3 tri[3] = {O::add(foot, O::mul(3, s.f.A)), O::add(foot, O::mul(-2, s.f.W)),
                             O::add(foot, O::mul(4, s.f.W))};
        double t[4], phi[4], a[4], b[4];
        int inside[4];
        EXPECT_EQ(ringPlaneAngles(&s.f, Z, R, tri, &n, h, t, inside, phi, a, b), 0) << k;
    }
}

// A wall across the swing line, nearer the tool point than the widest ring, its edges far outside the
// tool: the rings cross it at every tilt, so it blocks the whole turn; beyond the widest ring, none.
TEST(AxisIntervals, WallAcrossTheSwingLineBlocksEveryTiltOrNone) {
    rngSeed(63);
    const std::vector<double> z = {0.0, 5.0, 12.0}, r = {2.0, 2.0, 4.0};
    for (int k = 0; k < 8; ++k) {
        const Swing s = seededSwing();
        const double off = (k % 2 ? 1.0 : 4.5) * (k % 4 < 2 ? 1 : -1);
        const Vec3 foot = O::add(s.f.P, O::mul(off, s.f.U)), a = O::mul(100, s.f.A), w = O::mul(100, s.f.W);
        Triangle3D t;
        t.p[0] = O::add(foot, a);
        t.p[1] = O::sub(O::sub(foot, a), w);
        t.p[2] = O::add(O::sub(foot, a), w);
        TriList* tl = triListCreate(1);
        ASSERT_NE(tl, nullptr);
        triListAdd(tl, &t);
        AxisObstacleModel* m = axisModelCreate(tl, 3, z.data(), r.data());
        triListFree(tl);
        ASSERT_NE(m, nullptr);
        double st[kAxisTriangleIntervals], en[kAxisTriangleIntervals];
        AngleIntervals out{0, kAxisTriangleIntervals, st, en};
        ASSERT_EQ(axisIntervalsTriangle(0, &s.f, m, kPi, &out), 1);
        const bool near = std::fabs(off) < 4;
        ASSERT_EQ(out.count, near ? 1 : 0) << k;
        if (near) {
            EXPECT_EQ(st[0], -kPi);
            EXPECT_EQ(en[0], kPi);
        }
        axisModelFree(m);
    }
}
