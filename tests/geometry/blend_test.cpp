#include "geometry/blend.h"

#include <gtest/gtest.h>

#include "kernel/base/rng.h"

TEST(Blend, HitsItsClosedFormValues) {
    EXPECT_NEAR(blendC3(0.25, 0, 1, 2.0, 3.0), 2.0706, 5e-5);
    EXPECT_NEAR(blendC3(5, 4, 6, -1.0, 3.0), 1.0, 1e-12);
    EXPECT_EQ(blendC3(-1, 0, 1, 2.0, 3.0), 2.0);
    EXPECT_EQ(blendC3(7, 0, 1, 2.0, 3.0), 3.0);
    rngResetState();
    for (int k = 0; k < 100; ++k) {  // b(s) + b(1 - s) = a0 + a1
        double s = rngUniform();
        EXPECT_NEAR(blendC3(s, 0, 1, 1, 5) + blendC3(1 - s, 0, 1, 1, 5), 6.0, 1e-12);
    }
}
