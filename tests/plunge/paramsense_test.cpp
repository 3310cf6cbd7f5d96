#include "plunge/paramsense.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "plunge/cycparams.h"

// Each kind's range as its header states it, probed at both edges, one ulp either side and at the
// non-finite values; the unions of the start height and the blade count by their own rows.
TEST(ParamSense, RangesHoldToTheLastUlpAtEveryEdge) {
    constexpr double L = kSenseLengthMax, inf = std::numeric_limits<double>::infinity();
    const struct {
        ParamSense sense;
        double lo, hi;
        bool loIn, hiIn;
    } ranges[] = {
        {kSenseFinite, -inf, inf, false, false},
        {kSenseLength, -L, L, true, true},
        {kSenseSize, 0, L, true, true},
        {kSenseStep, 0, L, false, true},
        {kSenseAngle, -360, 360, true, true},
        {kSenseTurn, 0, 180, true, true},
        {kSenseLean, -90, 90, true, true},
        {kSenseTaper, 0, 90, true, false},
        {kSenseTiltLimit, 0, 180, false, true},
        {kSenseFraction, 0, 1, true, true},
        {kSenseFeed, 0, kSenseFeedMax, true, true},
    };
    for (const auto& r : ranges) {
        std::vector<double> probes{r.lo, r.hi, NAN, inf, -inf, 0.5 * (r.lo + r.hi)};
        for (double edge : {r.lo, r.hi})
            for (double toward : {-inf, inf}) probes.push_back(std::nextafter(edge, toward));
        for (double x : probes) {
            const bool in = std::isfinite(x) && (x > r.lo || (x == r.lo && r.loIn)) &&
                            (x < r.hi || (x == r.hi && r.hiIn));
            EXPECT_EQ(paramSenseHolds(r.sense, x), in ? 1 : 0) << int(r.sense) << " " << x;
        }
    }
    const struct {
        ParamSense sense;
        double x;
        int holds;
    } unions[] = {
        {kSenseStart, -99999.99999, 1},
        {kSenseStart, -100000, 1},
        {kSenseStart, -1e300, 1},
        {kSenseStart, L, 1},
        {kSenseStart, -L, 1},
        {kSenseStart, -L * (1 + 1e-15), 1},
        {kSenseStart, L * (1 + 1e-15), 0},
        {kSenseStart, -inf, 0},
        {kSenseBladeCount, 0, 1},
        {kSenseBladeCount, 9.9e-6, 1},
        {kSenseBladeCount, -9.9e-6, 1},
        {kSenseBladeCount, 1e-5, 0},
        {kSenseBladeCount, -1e-5, 0},
        {kSenseBladeCount, 1, 0},
        {kSenseBladeCount, 1.99, 0},
        {kSenseBladeCount, 2, 1},
        {kSenseBladeCount, 1e4, 1},
        {kSenseBladeCount, 10000.01, 0},
        {kSenseBladeCount, NAN, 0},
    };
    for (const auto& u : unions)
        EXPECT_EQ(paramSenseHolds(u.sense, u.x), u.holds) << int(u.sense) << " " << u.x;
    CycleParams p{};
    EXPECT_EQ(paramSenseCheck(nullptr, &p), -1);
    EXPECT_EQ(paramSenseCheck(&p, nullptr), -1);
    cycleParamsResetState();  // the defaults make sense as they stand
    EXPECT_EQ(paramSenseCheck(cycleParams(), cycleParamsApplied()), 1);
}
