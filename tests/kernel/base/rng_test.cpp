#include "kernel/base/rng.h"

#include <gtest/gtest.h>

#include <vector>

// The sequence is the classic 15-bit LCG: x' = 214013 x + 2531011 mod 2^32, value (x' >> 16) & 0x7FFF.
TEST(Rng, FollowsTheClassicSequenceAndRepeatsAfterReset) {
    rngResetState();
    uint32_t x = 1u;
    std::vector<int32_t> first;
    for (int i = 0; i < 1000; ++i) {
        x = x * 214013u + 2531011u;
        int32_t v = rngNext();
        ASSERT_EQ(v, static_cast<int32_t>((x >> 16) & 0x7FFF));
        first.push_back(v);
    }
    EXPECT_EQ(first[0], 41);  // the well-known first value of seed 1
    rngResetState();
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(rngNext(), first[i]);
}

TEST(Rng, BelowAndUniformStayInRangeForAnyBound) {
    rngSeed(12345);
    const int32_t bounds[] = {1, 2, 7, 32768, 1000000, 2147483647};
    for (int32_t n : bounds) {
        for (int i = 0; i < 2000; ++i) {
            int32_t v = rngBelow(n);
            ASSERT_GE(v, 0);
            ASSERT_LT(v, n);
        }
    }
    EXPECT_EQ(rngBelow(0), 0);
    EXPECT_EQ(rngBelow(-5), 0);
    double lo = 1, hi = 0;
    for (int i = 0; i < 20000; ++i) {
        double u = rngUniform();
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
        lo = std::min(lo, u);
        hi = std::max(hi, u);
    }
    EXPECT_LT(lo, 0.01);
    EXPECT_GT(hi, 0.99);
}
