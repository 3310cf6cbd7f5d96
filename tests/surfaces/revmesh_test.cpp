// Revolved meshes: the angular step, the band of one segment and the sweep of a whole profile.
#include "surfaces/revmesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernel/base/rng.h"

TEST(RevMesh, AngularStepByRadiusAndTolerance) {
    // 2 acos(0.999) for R 10 and t 0.01; on the axis a chord spans half a turn; a whole quotient adds one.
    const struct {
        double radius, tol, alpha;
        int32_t steps;
    } cases[] = {{10, 0.01, 0.089450, 71}, {0, 0.01, 2 * M_PI, 2}, {1, 1, M_PI, 3}, {1, 5, 2 * M_PI, 2}};
    for (const auto& c : cases) {
        double alpha = 0;
        int32_t n = 0;
        ASSERT_EQ(revMeshAngleStep(c.radius, c.tol, &alpha, &n), 1) << c.radius;
        EXPECT_NEAR(alpha, c.alpha, 5e-7) << c.radius;
        EXPECT_EQ(n, c.steps) << c.radius;
    }
    for (const double tol : {0.0, -0.01, double(NAN), 1e-30, 1e-11})  // 1e-11: 2.2 million steps
        EXPECT_EQ(revMeshAngleStep(10, tol, nullptr, nullptr), -1);
    EXPECT_EQ(revMeshAngleStep(0, 0.0, nullptr, nullptr), -1);  // on the axis too, where others give 2
}

// Every vertex is a profile point turned about z, chords at a band's smaller radius stay within the
// tolerance, the bands close the turn; one point gives no triangle.
TEST(RevMesh, SweepLiesOnTheSurfaceOfRevolution) {
    rngResetState();
    for (int run = 0; run < 12; ++run) {
        const int32_t count = 1 + rngBelow(6);
        const double tol = 0.005 + 0.2 * rngUniform();
        std::vector<Vec2> pts;
        for (int32_t i = 0; i < count; ++i)
            pts.push_back({i == 0 && run < 3 ? 0.0 : 30 * rngUniform(), 40 - 7.0 * i});
        TriList* list = revMeshSweep(pts.data(), count, tol);
        ASSERT_NE(list, nullptr);
        int64_t want = 0;
        for (int32_t i = 1; i < count; ++i) {
            const double a = 2 * std::acos(std::max(-1.0, 1 - tol / std::min(pts[i - 1].x, pts[i].x)));
            want += 2 * (1 + static_cast<int64_t>(2 * M_PI / a));  // the fewest steps of a past a full turn
        }
        EXPECT_EQ(list->count, want) << run;
        for (int32_t k = 0; k < list->count; ++k) {
            const Triangle3D& t = list->data[k];
            for (const Vec3& p : t.p) {
                bool onProfile = false;
                for (const Vec2& q : pts)
                    onProfile |= std::fabs(std::hypot(p.x, p.y) - q.x) < 1e-9 && p.z == q.y;
                EXPECT_TRUE(onProfile) << run;
            }
            // (P, Q, P'): P and P' are one profile point a step apart.
            const double r = std::hypot(t.p[0].x, t.p[0].y);
            const double mid = std::hypot(t.p[0].x + t.p[2].x, t.p[0].y + t.p[2].y) / 2;
            if (r <= std::hypot(t.p[1].x, t.p[1].y) && r > tol) {
                EXPECT_LE(r - mid, tol + 1e-9);
            }
        }
        triListFree(list);
    }
    // Missing inputs, a band whose step is refused and a taker that stops are errors; no point, no triangle.
    const Vec2 pts[] = {{5, 1}, {6, 0}}, *a = &pts[0], *b = &pts[1];
    TriList* list = revMeshSweep(nullptr, 0, 0.1);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 0);
    EXPECT_EQ(revMeshSegment(a, b, nullptr, 0.1), -1);
    EXPECT_EQ(revMeshSegment(nullptr, b, list, 0.1), -1);
    EXPECT_EQ(revMeshSegment(a, nullptr, list, 0.1), -1);
    EXPECT_EQ(revMeshSegment(a, b, list, 0.0), -1);
    EXPECT_EQ(revMeshSegmentEach(a, b, 0.1, [](const Triangle3D&) { return false; }), -1);
    triListFree(list);
    EXPECT_EQ(revMeshSweep(nullptr, 2, 0.1), nullptr);
    EXPECT_EQ(revMeshSweep(pts, 2, 0.0), nullptr);
}
