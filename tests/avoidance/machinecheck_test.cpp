#include "avoidance/machinecheck.h"

#include <gtest/gtest.h>

#include <cmath>

#include "geometry/rng.h"

namespace {
// The host's machine: reaches tool axes up to this tilt from +z; negative refuses every position.
double gHostMaxTilt = 10.0;
}  // namespace

extern "C" __attribute__((visibility("default"))) int kvMachinePositionValid(double, double, double, double,
                                                                             double, double k, double,
                                                                             double*) {
    return std::acos(std::fmax(-1.0, std::fmin(1.0, k))) <= gHostMaxTilt ? 1 : 0;
}

TEST(MachineCheck, HostLimitTiltsBackInTheSamePlane) {
    machineCheckResetState();
    rngResetState();
    struct Case {
        double limit, tilt;
        int result;
        double lo, hi;  // the tilt afterwards
    } cases[] = {
        {0.3, 0.5, 1, 0.299, 0.3},
        {10.0, 0.5, 1, 0.5, 0.5},
        {-1.0, 0.5, 0, 0.5, 0.5},
        {0.3, 0.2, 1, 0.2, 0.2},
    };
    for (const Case& c : cases) {
        gHostMaxTilt = c.limit;
        for (int k = 0; k < 20; k++) {
            const double azimuth = 6.283185307179586 * rngUniform();
            Vec3 axis{std::sin(c.tilt) * std::cos(azimuth), std::sin(c.tilt) * std::sin(azimuth),
                      std::cos(c.tilt)};
            const Vec3 p{rngUniform() * 100, rngUniform() * 100, rngUniform() * 10};
            ASSERT_EQ(checkMachinePositions(&p, &axis, 120.0), c.result) << c.limit;
            const double tilt = std::acos(axis.z);
            EXPECT_GE(tilt, c.lo - 1e-12);
            EXPECT_LE(tilt, c.hi + 1e-12);
            if (tilt > 1e-3) {
                EXPECT_NEAR(std::atan2(axis.y, axis.x), std::remainder(azimuth, 6.283185307179586), 1e-9);
            }
        }
    }
}

TEST(MachineCheck, NoHostOrNoAxisIsNotAnAnswer) {
    machineCheckResetState();
    gHostMaxTilt = 0.3;
    const Vec3 p{1, 2, 3}, zero{0, 0, 0};
    EXPECT_EQ(checkMachinePosition(&p, &zero, 50.0), kMachineBadAxis);
    machineSetHostModule(nullptr);
    Vec3 axis{std::sin(0.5), 0, std::cos(0.5)};
    const Vec3 before = axis;
    EXPECT_EQ(checkMachinePosition(&p, &axis, 50.0), kMachineNoHost);
    EXPECT_EQ(checkMachinePositions(&p, &axis, 50.0), kMachineNoHost);
    EXPECT_EQ(axis.x, before.x);
    EXPECT_EQ(axis.z, before.z);
    machineCheckResetState();
}
