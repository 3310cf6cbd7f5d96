#include "KVWOG5/geocalc.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(Geocalc, Distances3D) {
    const Vec3 a{1, 2, 3}, b{4, 6, 3};
    EXPECT_EQ(wogDist3D(&a, &b), 5);
    EXPECT_EQ(wogDist3D(&a, &a), 0);

    const struct {
        Vec3 p;
        double seg[6];
        double expected;
    } cases[] = {
        {{0, 1, 0}, {0, 0, 0, 2, 0, 0}, 1},
        {{5, 1, 0}, {0, 0, 0, 2, 0, 0}, 1},  // the line, not the segment
        {{1, 1, 1}, {0, 0, 0, 1, 0, 0}, std::sqrt(2.0)},
        {{0, 0, 5}, {0, 0, 0, 1, 1, 0}, 5},
        {{3, 0, 0}, {0, 0, 0, 0, 0.0005, 0}, 3},  // too short for a line: nearer end
        {{3, 1, 0}, {0, 0, 0, 0.0005, 0, 0}, std::hypot(2.9995, 1.0)},
        {{3, 1, 0}, {0, 0, 0, 0.002, 0, 0}, 1},  // just long enough
    };
    for (const auto& c : cases) EXPECT_NEAR(distPointLine3D(&c.p, c.seg), c.expected, 1e-12) << c.p.x;
}

}  // namespace
