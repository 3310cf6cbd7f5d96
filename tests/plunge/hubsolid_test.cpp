// The hub as a solid closed by its end faces: signed distances against closed forms.
#include "plunge/hubsolid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "channeltest.h"
#include "geometry/rng.h"

namespace {

struct PairGuard {
    HubShroud* p;
    ~PairGuard() { freeHubShroud(p); }
};

// A hub that rises as the cylinder r = 15 to its inlet face at z = 40 and leaves radially at z = 5 up
// to its rim at r = 60 (the corner at (15, 5)), the shroud above it.
HubShroud* cornerHub(bool reversed) {
    Profile2D* hub = profileOf({{15, 40}, {15, 5}, {60, 5}});
    Profile2D* shroud = profileOf({{33, 40}, {33, 23}, {60, 23}});
    if (reversed) reverseProfile2D(hub), reverseProfile2D(shroud);
    auto* pair = static_cast<HubShroud*>(std::calloc(1, sizeof(HubShroud)));
    pair->hub = hub;
    pair->shroud = shroud;
    return pair;
}

// The closed form: the solid is r <= 15 below z = 40 and r <= 60 below z = 5; its boundary the inlet
// face, the wall, the floor and the rim.
double closedForm(double r, double z) {
    const bool inside = (r <= 15 && z < 40) || (r <= 60 && z < 5);
    auto seg = [&](double r0, double z0, double r1, double z1) {
        const double dr = r1 - r0, dz = z1 - z0;
        const double f = std::clamp(((r - r0) * dr + (z - z0) * dz) / (dr * dr + dz * dz), 0.0, 1.0);
        return std::hypot(r - r0 - f * dr, z - z0 - f * dz);
    };
    const double d =
        std::min({seg(0, 40, 15, 40), seg(15, 40, 15, 5), seg(15, 5, 60, 5), seg(60, 5, 60, -1e4)});
    return inside ? -d : d;
}

}  // namespace

// Seeded points around the hub: the signed distance matches the closed form, whichever way the profiles
// run; past the inlet face and the outlet rim the faces count.
TEST(HubSolid, SignedDistanceMatchesTheClosedForm) {
    for (bool reversed : {false, true}) {
        PairGuard pair{cornerHub(reversed)};
        HubSolid* solid = hubSolidCreate(pair.p);
        ASSERT_NE(solid, nullptr);
        Rng rng{reversed ? 7u : 3u};
        for (int k = 0; k < 2000; ++k) {
            const double r = 70.0 * rngStep(&rng) / kRngMax, z = -5 + 55.0 * rngStep(&rng) / kRngMax;
            const double phi = 6.283 * rngStep(&rng) / kRngMax;
            const Vec3 p{r * std::cos(phi), r * std::sin(phi), z};
            EXPECT_NEAR(hubSolidDistance(solid, &p), closedForm(r, z), 1e-9) << r << " " << z;
        }
        // The cases the faces decide: over the inlet face, at its edge, beside the rim.
        const struct {
            double r, z, d;
        } faces[] = {{10, 41, 1}, {15.6, 40.8, 1}, {14, 39.5, -0.5}, {61, 3, 1}, {59.5, 3, -0.5}};
        for (const auto& f : faces) {
            const Vec3 p{f.r, 0, f.z};
            EXPECT_NEAR(hubSolidDistance(solid, &p), f.d, 1e-9) << f.r << " " << f.z;
        }
        hubSolidFree(solid);
    }
    EXPECT_EQ(hubSolidCreate(nullptr), nullptr);
    hubSolidFree(nullptr);
}
