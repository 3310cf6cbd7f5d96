// Offsets far smaller than the contour: the traced path then runs to hundreds of thousands of
// steps, and the result must still be the exact offset of the square.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "KVWOG5/kont2d.h"
#include "KVWOG5/offset2d.h"

namespace {

// Signed distance from the boundary of the square [0, a]^2, positive outside.
double squareDistance(double x, double y, double a) {
    const double h = a / 2, dx = std::fabs(x - h) - h, dy = std::fabs(y - h) - h;
    if (dx <= 0 && dy <= 0) return std::max(dx, dy);
    return std::hypot(std::max(dx, 0.0), std::max(dy, 0.0));
}

TEST(Offset2dScale, SmallDistancesOnALargeSquareGiveTheExactOffset) {
    const double a = 100;
    for (double d : {1.0, -1.0, 0.1, -0.1, 0.01, -0.01}) {
        const std::string what = "d=" + std::to_string(d);
        const Vec2 lo{0, 0}, hi{a, a};
        Kont2d* sq = kont2dCreateRect(&lo, &hi);
        ASSERT_NE(sq, nullptr);
        Kont2d* res = nullptr;
        ASSERT_EQ(offset2d(sq, d, &res), 1) << what;
        ASSERT_NE(res, nullptr);
        EXPECT_EQ(res->next, nullptr) << what;
        EXPECT_EQ(res->firstIsland, nullptr) << what;
        double area = 0, worst = 0;
        for (int32_t i = 0; i < res->count; i++) {
            const Seg2D& e = res->elements[i];
            area += e.x1 * e.y2 - e.x2 * e.y1;
            worst = std::max(worst, std::fabs(squareDistance(e.x1, e.y1, a) - d));
        }
        // Every vertex is a tool centre, at the distance up to rounding.
        EXPECT_LE(worst, 1e-6 * std::fabs(d)) << what;
        // Outward the corners are round, inward sharp; the chords of the round ones cut off little.
        const double exact = d > 0 ? a * a + 4 * a * d + std::numbers::pi * d * d : (a + 2 * d) * (a + 2 * d);
        EXPECT_NEAR(area / 2, exact, 1e-4 * a * std::fabs(d)) << what;
        kont2dFree(res);
        kont2dFree(sq);
    }
}

}  // namespace
