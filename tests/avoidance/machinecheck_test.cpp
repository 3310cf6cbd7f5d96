#include "avoidance/machinecheck.h"

#include <gtest/gtest.h>

#include <cmath>

#include "geometry/rng.h"

namespace {
double gHostMaxTilt = 10.0;  // the host's machine reaches axes this far from +z; negative: nothing
}  // namespace

extern "C" __attribute__((visibility("default"))) int kvMachinePositionValid(double, double, double, double,
                                                                             double, double k, double,
                                                                             double*) {
    return std::acos(std::fmax(-1.0, std::fmin(1.0, k))) <= gHostMaxTilt ? 1 : 0;
}

TEST(MachineCheck, HostLimitTiltsBackInTheSamePlane) {
    rngResetState();
    struct Case {
        int host;  // 0: no host module
        double limit;
        int result;
        double lo, hi;  // the tilt afterwards
    } cases[] = {
        {1, 0.3, 1, 0.299, 0.3}, {1, 10.0, 1, 0.5, 0.5}, {1, -1.0, 0, 0.5, 0.5}, {0, 0.3, -1, 0.5, 0.5}};
    for (const Case& c : cases) {
        machineCheckResetState();
        if (!c.host) machineSetHostModule(nullptr);
        gHostMaxTilt = c.limit;
        for (int k = 0; k < 10; k++) {
            const double az = 6.283185307179586 * rngUniform() - 3.141592653589793;
            Vec3 axis{std::sin(0.5) * std::cos(az), std::sin(0.5) * std::sin(az), std::cos(0.5)};
            const Vec3 p{rngUniform() * 100, rngUniform() * 100, rngUniform() * 10};
            ASSERT_EQ(checkMachinePositions(&p, &axis, 120.0), c.result) << c.limit;
            EXPECT_GE(std::acos(axis.z), c.lo - 1e-12);
            EXPECT_LE(std::acos(axis.z), c.hi + 1e-12);
            EXPECT_NEAR(std::atan2(axis.y, axis.x), az, 1e-9);
        }
    }
    machineCheckResetState();
}
