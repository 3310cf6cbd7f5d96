// The pocket state after its reset: corners are told from smooth joins at the kernel's own tolerance,
// whatever an offset retry left behind.
#include "pocket/pocketstate.h"

#include <gtest/gtest.h>

#include <cmath>

#include "pocket/elemaccess.h"
#include "pocket_util.h"

// A line along x followed by a line or an arc leaving at the angle: a turn whose sine is 0.005 or more is a
// corner after the reset, a smaller one a smooth join, for a line to an arc as for two lines.
TEST(PocketState, ResetTellsCornersAtTheKernelTolerance) {
    const struct {
        double turn;  // radians, counter-clockwise
        bool arc;
        int type;
    } cases[] = {{0.004, false, kCornerSmooth}, {0.0055, false, kCornerLeft}, {-0.0055, false, kCornerRight},
                 {0.004, true, kCornerSmooth},  {0.0055, true, kCornerLeft},  {-0.03, true, kCornerRight},
                 {0.03, false, kCornerLeft}};
    for (const auto& c : cases) {
        PocketOffsetState& off = pocketOffsetState();
        off.cornerFactor = 10;  // as an offset retry leaves it
        off.growMode = 0;
        pocketKernelResetState();
        const ContourElement a = lineElem(-10, 0, 0, 0);
        const Vec2 t{std::cos(c.turn), std::sin(c.turn)};
        // The arc leaves the origin along t, bending to the left about a centre 20 away.
        const ContourElement b = c.arc ? arcElem(-20 * t.y, 20 * t.x, 20, c.turn - M_PI / 2, c.turn, 1)
                                       : lineElem(0, 0, 10 * t.x, 10 * t.y);
        const Vec2 ta{1, 0};
        int type = -1;
        EXPECT_EQ(elemCornerTypeOf(&a, &ta, &b, &t, &type), 1);
        EXPECT_EQ(type, c.type) << c.turn << " " << c.arc;
    }
    pocketKernelResetState();
}
