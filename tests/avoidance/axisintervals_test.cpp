#include "avoidance/axisintervals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/rng.h"
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
    EXPECT_NEAR(angleWrapNear(1e9, 0.0), std::remainder(1e9, 2 * kPi), 1e-6);
}

TEST(AxisIntervals, GapsNarrowerThanTwoHundredthsClose) {
    struct Case {
        double gap;
        int count;  // intervals left of three
    } cases[] = {{0.01, 2}, {0.019, 2}, {0.03, 3}, {0.5, 3}};
    for (const Case& c : cases) {
        double s[] = {-kPi, 0.2, 0.4 + c.gap}, e[] = {0.0, 0.4, kPi};
        AngleIntervals list{3, 3, s, e};
        closeAngleGaps(&list);
        EXPECT_EQ(list.count, c.count) << c.gap;
        EXPECT_EQ(e[0], 0.0);
    }
}

TEST(AxisIntervals, NoModelOrVerticalAxis) {
    axisIntervalsResetState();
    const Vec3 P = {1, 2, 3}, A = {0.6, 0.0, 0.8}, Z = {0, 0, 1};
    double lo = 0, hi = 0;
    EXPECT_EQ(axisIntervalsOverMesh(&P, &A, -0.4, 0.7, &lo, &hi), kAxisFree);
    EXPECT_DOUBLE_EQ(lo, -0.4);
    EXPECT_DOUBLE_EQ(hi, 0.7);
    EXPECT_EQ(axisIntervalsOverMesh(&P, &Z, -0.4, 0.7, &lo, &hi), kAxisVertical);
    EXPECT_EQ(axisIntervalsOverMesh(&P, &A, 0.7, -0.4, &lo, &hi), kAxisBadArgs);
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
