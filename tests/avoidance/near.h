// Vector comparison for the avoidance tests.
#pragma once

#include <gtest/gtest.h>

#include "geometry/vec.h"

#define EXPECT_VEC_NEAR(a, b, tol)     \
    do {                               \
        const Vec3 a_ = (a), b_ = (b); \
        EXPECT_NEAR(a_.x, b_.x, tol);  \
        EXPECT_NEAR(a_.y, b_.y, tol);  \
        EXPECT_NEAR(a_.z, b_.z, tol);  \
    } while (0)
