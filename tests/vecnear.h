// One check of the x and y (and z) members of a point against expected values, with any gtest
// comparison: EXPECT_XY(EXPECT_NEAR, p, 1, 2, 1e-12), EXPECT_XYZ(EXPECT_EQ, q, 0, 0, 5).
#pragma once

#include <gtest/gtest.h>

#define EXPECT_XY(CHECK, p, ex, ey, ...)            \
    do {                                            \
        const auto& p_ = (p);                       \
        CHECK(p_.x, ex __VA_OPT__(, ) __VA_ARGS__); \
        CHECK(p_.y, ey __VA_OPT__(, ) __VA_ARGS__); \
    } while (0)

#define EXPECT_XYZ(CHECK, p, ex, ey, ez, ...)       \
    do {                                            \
        const auto& p_ = (p);                       \
        CHECK(p_.x, ex __VA_OPT__(, ) __VA_ARGS__); \
        CHECK(p_.y, ey __VA_OPT__(, ) __VA_ARGS__); \
        CHECK(p_.z, ez __VA_OPT__(, ) __VA_ARGS__); \
    } while (0)
