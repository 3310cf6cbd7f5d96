#include "avoidance/machinecheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "avoidance/avoidgrid.h"
#include "avoidance/avoidtilt.h"
#include "geometry/frames.h"
#include "geometry/plist.h"
#include "kernel/base/rng.h"
#include "kernel/base/runreset.h"
#include "platform/module.h"

namespace {
double gHostMaxTilt = 10.0;  // the host's machine reaches axes this far from +z; negative: nothing
double gHostSaw[7];          // the last position the host was asked about: point, axis, tool length
double gHostErrorFrom = 9.0, gHostErrorTo = 9.0;  // tilts in [from, to] the host answers with an error
}  // namespace

extern "C" __attribute__((visibility("default"))) int kvMachinePositionValid(double x, double y, double z,
                                                                             double i, double j, double k,
                                                                             double length, double*) {
    const double saw[7] = {x, y, z, i, j, k, length};
    std::copy(saw, saw + 7, gHostSaw);
    const double tilt = std::acos(std::fmax(-1.0, std::fmin(1.0, k)));
    if (tilt >= gHostErrorFrom && tilt <= gHostErrorTo) return -7;
    return std::acos(std::fmax(-1.0, std::fmin(1.0, k))) <= gHostMaxTilt ? 1 : 0;
}

// The host is asked about the point moved by the offset and the unit axis; a module that exports no
// check, or an axis too short to have a direction, is not asked at all.
TEST(MachineCheck, HostSeesTheShiftedPointAndTheUnitAxis) {
    runResetAll();
    const Vec3 offset{10, -20, 30}, p{1, 2, 3}, axis{-1.5, 0.0, 2.0}, tiny{0, 4e-6, 0};
    machineSetPositionOffset(&offset);
    std::fill(gHostSaw, gHostSaw + 7, 0.0);
    ASSERT_EQ(checkMachinePosition(&p, &axis, 120.0), kMachineAccepted);
    EXPECT_EQ(checkMachinePosition(&p, nullptr, 120.0), kMachineNoHost);
    EXPECT_EQ(checkMachinePosition(nullptr, &axis, 120.0), kMachineNoHost);
    const double expect[7] = {11, -18, 33, -0.6, 0.0, 0.8, 120.0};
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(gHostSaw[k], expect[k], 1e-12) << k;
    gHostSaw[6] = 0.0;
    EXPECT_EQ(checkMachinePosition(&p, &tiny, 120.0), kMachineBadAxis);
    EXPECT_EQ(gHostSaw[6], 0.0);
    machineSetPositionOffset(nullptr);
    const Vec3 o{0, 0, 0}, edge{0, 1e-5, 0}, below{0, 0.99e-5, 0};  // an axis has a direction from 1e-5 on
    EXPECT_EQ(checkMachinePosition(&o, &edge, 50.0), kMachineAccepted);
    const double unitY[7] = {0, 0, 0, 0, 1, 0, 50};
    for (int k = 0; k < 7; ++k) EXPECT_EQ(gHostSaw[k], unitY[k]) << k;
    EXPECT_EQ(checkMachinePosition(&o, &below, 50.0), kMachineBadAxis);
    void* other = moduleLoad("libm.so.6");
    ASSERT_NE(other, nullptr);
    machineSetHostModule(other);
    EXPECT_EQ(checkMachinePosition(&p, &axis, 120.0), kMachineNoHost);
    EXPECT_EQ(moduleUnload(other), 1);
    machineCheckResetState();
}

TEST(MachineCheck, HostLimitTiltsBackInTheSamePlane) {
    rngResetState();
    struct Case {
        int host;  // 0: no host module
        double limit;
        int result;
        double lo, hi;                // the tilt afterwards
        double errLo = 9, errHi = 9;  // the host fails there: its error ends the search, the axis kept
    } cases[] = {{1, 0.3, 1, 0.299, 0.3},
                 {1, 10.0, 1, 0.5, 0.5},
                 {1, -1.0, 0, 0.5, 0.5},
                 {0, 0.3, -1, 0.5, 0.5},
                 {1, 0.3, -7, 0.5, 0.5, 0.2, 0.26},
                 {1, 0.3, -7, 0.5, 0.5, 0.28, 0.29}};
    for (const Case& c : cases) {
        machineCheckResetState();
        if (!c.host) machineSetHostModule(nullptr);
        gHostMaxTilt = c.limit;
        gHostErrorFrom = c.errLo, gHostErrorTo = c.errHi;
        for (int k = 0; k < 10; k++) {
            const double az = 6.283185307179586 * rngUniform() - 3.141592653589793;
            Vec3 axis{std::sin(0.5) * std::cos(az), std::sin(0.5) * std::sin(az), std::cos(0.5)};
            const Vec3 p{rngUniform() * 100, rngUniform() * 100, rngUniform() * 10};
            EXPECT_EQ(checkMachinePositions(&p, &axis, 120.0), c.result) << c.limit;
            EXPECT_GE(std::acos(axis.z), c.lo - 1e-12);
            EXPECT_LE(std::acos(axis.z), c.hi + 1e-12);
            EXPECT_NEAR(std::atan2(axis.y, axis.x), az, 1e-9);
        }
    }
    gHostErrorFrom = gHostErrorTo = 9.0;
    const Vec3 p{1, 2, 3};
    EXPECT_EQ(checkMachinePositions(&p, nullptr, 120.0), kMachineNoHost);
    Vec3 downward{0, 0, -1};  // refused, and with no horizontal part no plane to tilt back in
    gHostMaxTilt = 0.3;
    machineCheckResetState();
    EXPECT_EQ(checkMachinePositions(&p, &downward, 120.0), kMachineRefused);
    EXPECT_EQ(downward.z, -1.0);
    Vec3 tiny{0, 4e-6, 0};  // too short to have a direction: nothing to tilt back, the axis as it was
    EXPECT_EQ(checkMachinePositions(&p, &tiny, 120.0), kMachineBadAxis);
    EXPECT_EQ(tiny.y, 4e-6);
    Vec3 tilted{std::sin(0.5), 0, std::cos(0.5)};  // refused; at 1e17 the upright axis tried next is lost
    const Vec3 high{1, 2, 1e17};
    EXPECT_EQ(checkMachinePositions(&high, &tilted, 120.0), kMachineBadAxis);
    gHostMaxTilt = 10.0;
    machineCheckResetState();
}

// On a path the host's reach applies to every axis the avoidance lets pass.
TEST(MachineCheck, PassedPathAxesComeBackWithinTheHostsReach) {
    runResetAll();
    AvoidSwitches s{};
    s.machineCheck = 1;
    avoidSetSwitches(&s);
    gHostMaxTilt = 0.3;
    std::vector<double> row(3, -100.0);  // below every tool: each point passes
    double* rows[3] = {row.data(), row.data(), row.data()};
    const HeightGrid grid{3, 3, -1, -1, 1.0, rows, nullptr};
    ToolDescription tool{};
    tool.radius = 2, tool.cutterTop = 20, tool.stage4Top = 60, tool.stage4Diameter = 20;
    Plist* L = plistCreate(3, 1);
    ASSERT_NE(L, nullptr);
    for (int i = 0; i < 3; ++i) {
        const Vec3 p{double(i), 0, 0}, a{std::sin(0.2 + 0.2 * i), 0, std::cos(0.2 + 0.2 * i)};
        plistAppend(L, i, &p, 0, &a, 0);
    }
    EXPECT_EQ(avoidCollisionPath(L, &grid, &tool, 1), 1);
    ASSERT_EQ(L->count, 3);
    EXPECT_NEAR(std::acos(L->vectors[0].z), 0.2, 1e-12);  // within reach: as it was
    for (int i = 1; i < 3; ++i) {
        EXPECT_LE(std::acos(L->vectors[i].z), 0.3 + 1e-12) << i;
        EXPECT_GT(std::acos(L->vectors[i].z), 0.299) << i;
    }
    // In vertical mode the host is asked about the vertical axis, whatever the path holds.
    s.verticalMode = 1;
    avoidSetSwitches(&s);
    gHostMaxTilt = 10.0;  // the first axis asked about passes and is the last one the host saw
    std::fill(gHostSaw, gHostSaw + 7, 0.0);
    EXPECT_EQ(avoidCollisionPath(L, &grid, &tool, 1), 1);
    EXPECT_TRUE(gHostSaw[3] == 0.0 && gHostSaw[4] == 0.0 && gHostSaw[5] == 1.0);
    plistFree(L);
    gHostMaxTilt = 10.0;
    runResetAll();
}
