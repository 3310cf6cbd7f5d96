#include "plunge/plist3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

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
