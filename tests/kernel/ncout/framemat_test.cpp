#include "kernel/ncout/framemat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

void multiply(double* out, const double* a, const double* b) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += a[4 * r + k] * b[4 * k + c];
            out[4 * r + c] = s;
        }
    }
}

// A frame: rotation about a random axis, scaled, with a random origin.
void randomFrame(std::mt19937& rng, double* m) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    double ax = u(rng), ay = u(rng), az = u(rng) + 2.0;
    double len = std::sqrt(ax * ax + ay * ay + az * az);
    ax /= len, ay /= len, az /= len;
    double t = u(rng) * 3.0, c = std::cos(t), s = std::sin(t), k = 1 - c, sc = 0.5 + std::fabs(u(rng));
    double r[9] = {c + ax * ax * k,      ax * ay * k - az * s, ax * az * k + ay * s,
                   ay * ax * k + az * s, c + ay * ay * k,      ay * az * k - ax * s,
                   az * ax * k - ay * s, az * ay * k + ax * s, c + az * az * k};
    frameMatIdentity(m);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) m[4 * i + j] = sc * r[3 * i + j];
        m[4 * i + 3] = 100 * u(rng);
    }
}

}  // namespace

TEST(FrameMat, TransformMapsColumnsAsAxesAndOrigin) {
    // x axis (0, 1, 0), y axis (-1, 0, 0), z axis (0, 0, 1), origin (10, 20, 30).
    double m[16] = {0, -1, 0, 10, 1, 0, 0, 20, 0, 0, 1, 30, 0, 0, 0, 1};
    double p[4], out[4];
    setHomPoint(p, 1, 2, 3);
    EXPECT_EQ(p[3], 1.0);
    frameMatTransformPoint(out, m, p);
    EXPECT_DOUBLE_EQ(out[0], 8);
    EXPECT_DOUBLE_EQ(out[1], 21);
    EXPECT_DOUBLE_EQ(out[2], 33);
    EXPECT_DOUBLE_EQ(out[3], 1);
}

TEST(FrameMat, InverseUndoesRandomFrames) {
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 200; ++trial) {
        double m[16], inv[16], prod[16], id[16];
        randomFrame(rng, m);
        frameMatInverse(inv, m);
        multiply(prod, inv, m);
        frameMatIdentity(id);
        for (int i = 0; i < 16; ++i)
            ASSERT_NEAR(prod[i], id[i], 1e-9) << "trial " << trial << " element " << i;
        frameMatInverse(m, m);  // in place
        for (int i = 0; i < 16; ++i) ASSERT_DOUBLE_EQ(m[i], inv[i]);
    }
}

TEST(FrameMat, InverseOfSingularFrameIsIdentity) {
    double m[16] = {1, 2, 3, 5, 2, 4, 6, 7, 0, 0, 1, 9, 0, 0, 0, 1};  // rows 0 and 1 dependent
    double inv[16], id[16];
    frameMatInverse(inv, m);
    frameMatIdentity(id);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(inv[i], id[i]);
    double copy[16];
    frameMatCopy(copy, m);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(copy[i], m[i]);
}
