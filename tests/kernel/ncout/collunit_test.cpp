// The collision layer below follows the NC output's unit factor through every set, refusal and reset.
#include "collision/collunit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kernel/ncout/ncout.h"

TEST(CollUnit, FollowsTheNcOutputsFactor) {
    ncOutResetState();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    // Rows: the factor asked for, the answer, the factor both sides hold afterwards.
    const struct {
        double factor;
        int rc;
        double holds;
    } rows[] = {{25, 1, 25},     {0, -1, 25},       {-25, -1, 25},  {kInf, -1, 25}, {std::nan(""), -1, 25},
                {1e-9, 1, 1e-9}, {-kInf, -1, 1e-9}, {25.4, 1, 25.4}};
    for (const auto& r : rows) {
        EXPECT_EQ(ncSetUnitFactor(r.factor), r.rc) << r.factor;
        EXPECT_EQ(ncUnitFactor(), r.holds) << r.factor;
        EXPECT_EQ(collUnitFactor(), r.holds) << r.factor;
    }
    // The output's progress reset keeps the run's unit; the full reset takes both back to 1.
    ncRestartOutput();
    EXPECT_EQ(collUnitFactor(), 25.4);
    ncOutResetState();
    EXPECT_EQ(ncUnitFactor(), 1.0);
    EXPECT_EQ(collUnitFactor(), 1.0);
    // Set on its own the collision side refuses what the output refuses.
    EXPECT_EQ(collSetUnitFactor(-1), -1);
    EXPECT_EQ(collUnitFactor(), 1.0);
}
