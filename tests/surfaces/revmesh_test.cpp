// Revolved meshes: the angular step, the band of one segment and the sweep of a whole profile.
#include "surfaces/revmesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/rng.h"

TEST(RevMesh, AngularStepByRadiusAndTolerance) {
    struct Case {
        double radius, tol, alpha;
        int32_t steps;
    };
    // 2 acos(0.999) for R 10 and t 0.01; on the axis a chord spans half a turn.
    const Case cases[] = {
        {10, 0.01, 0.089450, 71}, {0, 0.01, 2 * M_PI, 2}, {1, 1, M_PI, 3}, {1, 5, 2 * M_PI, 2}};
    for (const Case& c : cases) {
        double alpha = 0;
        int32_t n = 0;
        ASSERT_EQ(revMeshAngleStep(c.radius, c.tol, &alpha, &n), 1) << c.radius;
        EXPECT_NEAR(alpha, c.alpha, 5e-7) << c.radius;
        EXPECT_EQ(n, c.steps) << c.radius;
    }
    for (const double tol : {0.0, -0.01, double(NAN), 1e-30})
        EXPECT_EQ(revMeshAngleStep(10, tol, nullptr, nullptr), -1);
    EXPECT_EQ(revMeshAngleStep(-1, 0.01, nullptr, nullptr), -1);
}

TEST(RevMesh, SegmentAddsTwoTrianglesPerStep) {
    TriList* list = triListCreate(2);
    ASSERT_NE(list, nullptr);
    const Vec2 a{12, 5}, b{10, 0}, axis{0, 3};
    ASSERT_EQ(revMeshSegment(&a, &b, list, 0.01), 1);
    EXPECT_EQ(list->count, 142);
    ASSERT_EQ(revMeshSegment(&axis, &b, list, 0.01), 1);
    EXPECT_EQ(list->count, 146);
    EXPECT_EQ(revMeshSegment(&a, &b, list, 0.0), -1);
    triListFree(list);
}

// Every vertex is a profile point turned about z; chords at the band's smaller radius stay within the
// tolerance and the bands close the turn; triangles come highest first.
TEST(RevMesh, SweepLiesOnTheSurfaceOfRevolution) {
    rngResetState();
    for (int run = 0; run < 12; ++run) {
        const int32_t count = 1 + rngBelow(6);
        const double tol = 0.005 + 0.2 * rngUniform();
        std::vector<Vec2> pts;
        for (int32_t i = 0; i < count; ++i)
            pts.push_back({run == 0 && i == 0 ? 0.0 : 30 * rngUniform(), 40 - 7.0 * i});
        TriList* list = revMeshSweep(pts.data(), count, tol);
        ASSERT_NE(list, nullptr);
        int32_t expected = 0;
        for (int32_t i = 1; i < count; ++i) {
            const double r = std::fmin(pts[i - 1].x, pts[i].x);
            // Smallest whole number of steps of the chord angle that exceeds a full turn.
            const double alpha = r > tol / 2 ? 2 * std::acos(1 - tol / r) : 2 * M_PI;
            expected += 2 * (static_cast<int32_t>(std::floor(2 * M_PI / alpha + 1e-12)) + 1);
        }
        EXPECT_EQ(list->count, expected) << run;
        for (int32_t k = 0; k < list->count; ++k) {
            const Triangle3D& t = list->data[k];
            if (k > 0) {
                auto top = [](const Triangle3D& x) {
                    return std::fmax(x.p[0].z, std::fmax(x.p[1].z, x.p[2].z));
                };
                EXPECT_LE(top(t), top(list->data[k - 1]));
            }
            for (const Vec3& p : t.p) {
                bool onProfile = false;
                for (const Vec2& q : pts)
                    onProfile |= std::fabs(std::hypot(p.x, p.y) - q.x) < 1e-9 && p.z == q.y;
                EXPECT_TRUE(onProfile) << run;
            }
            // (P, Q, P'): P and P' are one profile point a step apart.
            const Vec3 m{(t.p[0].x + t.p[2].x) / 2, (t.p[0].y + t.p[2].y) / 2, 0};
            const double r = std::hypot(t.p[0].x, t.p[0].y), rq = std::hypot(t.p[1].x, t.p[1].y);
            if (r <= rq && r > tol) {
                EXPECT_LE(r - std::hypot(m.x, m.y), tol + 1e-9);
            }
        }
        triListFree(list);
    }
}
