#include "geometry/torus.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Slope of the torus' lower surface along the line at distance d, by central differences.
double numericSlope(double s, double r, double R, double d) {
    const double h = 1e-7;
    return (torusLowHeight(s + h, r, R, d) - torusLowHeight(s - h, r, R, d)) / (2 * h);
}

}  // namespace

TEST(Torus, LowHeight) {
    EXPECT_DOUBLE_EQ(torusLowHeight(3.0, 1.0, 3.0, 0.0), -1.0);  // over the centre circle
    EXPECT_DOUBLE_EQ(torusLowHeight(0.0, 1.0, 3.0, 3.0), -1.0);
    EXPECT_EQ(torusLowHeight(5.0, 1.0, 3.0, 0.0), 0.0);  // outside the tube
    EXPECT_NEAR(torusLowHeight(3.6, 1.0, 3.0, 0.0), -0.8, 1e-12);
}

TEST(Torus, TangentParamMatchesSlope) {
    const struct {
        double r, R, d, slope;
    } cases[] = {{1.0, 3.0, 0.0, 0.5}, {1.0, 3.0, 1.5, 1.0}, {2.0, 1.0, 2.0, 0.3}, {0.5, 4.0, 3.9, 2.0}};
    for (const auto& c : cases) {
        double s = -1;
        ASSERT_EQ(torusTangentParam(&s, c.r, c.R, c.d, c.slope), 0) << c.r << " " << c.d;
        EXPECT_NEAR(numericSlope(s, c.r, c.R, c.d), c.slope, 0.02) << c.r << " " << c.d;
    }
}

TEST(Torus, TangentParamWithoutSolution) {
    double s = 42.0;
    EXPECT_EQ(torusTangentParam(&s, 1.0, 3.0, 0.0, -0.5), -1);  // the outer flank only rises
    EXPECT_EQ(torusTangentParam(&s, 1.0, 3.0, 4.5, 0.5), -1);   // the line misses the torus
    EXPECT_EQ(torusTangentParam(&s, 0.0, 3.0, 1.0, 0.5), -1);   // no tube
    EXPECT_EQ(s, 42.0);
}
