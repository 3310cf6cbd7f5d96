#include "plunge/chantrace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../collision/meshutil.h"
#include "../geometry/msg_capture.h"
#include "channeltest.h"
#include "collision/ringcontact.h"
#include "geometry/plist.h"
#include "plunge/contourpair.h"
#include "plunge/plist3d.h"

namespace {

constexpr double kPlate = 15.0 * M_PI / 180.0;  // blade B at +15 degrees, blade A at -15
constexpr double kBall = 3.0;
constexpr double kFront = 3.5;  // face A runs this far in front of blade A

Vec3 onPlate(double phi, double r, double z, double front) {
    return {r * std::cos(phi) - front * std::sin(phi), r * std::sin(phi) + front * std::cos(phi), z};
}

// Both blades as triangles of a 2 mm grid over r in [20, 20 + length], z in [-5, 45].
std::vector<Triangle3D> plates(double length) {
    std::vector<Triangle3D> t;
    for (double phi : {-kPlate, kPlate})
        for (double r = 20; r < 20 + length - 1e-9; r += 2)
            for (double z = -5; z < 45 - 1e-9; z += 2) {
                Vec3 a = onPlate(phi, r, z, 0), b = onPlate(phi, r + 2, z, 0),
                     c = onPlate(phi, r + 2, z + 2, 0), d = onPlate(phi, r, z + 2, 0);
                t.push_back({{a, b, c}});
                t.push_back({{a, c, d}});
            }
    return t;
}

// A face: its hub-side and tip-side lines from radius 22 over length L.
ContourPair face(double phi, double L, double front) {
    ContourPair p{newPlist3D(2), newPlist3D(2)};
    for (double r : {22.0, 22.0 + L}) {
        Vec3 lo = onPlate(phi, r, -5, front), hi = onPlate(phi, r, 45, front);
        appendPlist3D(p.first, &lo);
        appendPlist3D(p.second, &hi);
    }
    return p;
}

struct Trace {
    ContourPair a, b;
    HubShroud* level;
    testmesh::Model model;
    Plist* out = plistCreate(4000, 1);
    Trace(double L, double levelZ, double bladeLength)
        : a(face(-kPlate, L, kFront)),
          b(face(kPlate, L, 0)),
          level(flatChannel(40.0 - levelZ, 5.0)),
          model(plates(bladeLength), kBallMill, kBall) {
        ringContactResetState();
        for (Profile2D* p : {level->hub, level->shroud})
            for (int32_t i = 0; i < p->count; ++i) p->points[i].y += levelZ;
        model.m.stepLength = 1.0;
        model.m.tolerance = 0.008;
    }
    ~Trace() {
        for (Plist3D* l : {a.first, a.second, b.first, b.second}) freePlist3D(l);
        freeHubShroud(level);
        plistFree(out);
    }
    int run() { return traceChannelCurve(&model.m, &a, &b, level, 1, out, nullptr); }
};

}  // namespace

TEST(ChannelTrace, ContactsStandTheBallRadiusInFrontOfTheFarBladeAndNoReachGivesMovedEndPoints) {
    struct Case {
        double L, levelZ;
        int32_t count;
    } cases[] = {{30.0, 10.0, 31}, {2.5, 10.0, 4}, {2.5, 60.0, 4}};  // stations 0, 1, 2 and 2.5
    for (const Case& c : cases) {
        Trace t(c.L, c.levelZ, 50.0);
        ASSERT_EQ(t.run(), 1);
        ASSERT_EQ(t.out->count, c.count);
        for (int32_t i = 0; i < t.out->count; ++i) {
            const Vec3 p = t.out->points[i];
            const double s = std::fmin(i, c.L), R = std::hypot(p.x, p.y), phi = std::atan2(p.y, p.x);
            EXPECT_NEAR(t.out->parameters[i], s, 1e-12);
            EXPECT_NEAR(p.z, c.levelZ, 1e-9);
            if (c.levelZ < 45) {
                // On the circle through face A's point, where blade B's plane lies the ball radius away.
                EXPECT_EQ(t.out->flags[i], kChanContact);
                EXPECT_NEAR(phi, kPlate - std::asin(kBall / R), 1e-6) << i;
            } else {  // blade B's face point turned back onto face A's radius
                EXPECT_EQ(t.out->flags[i] >> 8, 2);
                Vec3 a = onPlate(-kPlate, 22 + s, c.levelZ, kFront);
                EXPECT_NEAR(R, std::hypot(a.x, a.y), 1e-9);
                EXPECT_NEAR(phi, kPlate, 1e-9);
            }
        }
    }
}

TEST(ChannelTrace, KindChangeIsRefinedToTheToleranceAndCancelStopsWith821) {
    // The blades end at r = 36 while the faces run on to 52: the change to no contact is refined.
    Trace t(30.0, 10.0, 16.0);
    ASSERT_EQ(t.run(), 1);
    int32_t changes = 0;
    for (int32_t i = 1; i < t.out->count; ++i) {
        EXPECT_GT(t.out->parameters[i], t.out->parameters[i - 1]);
        if ((t.out->flags[i] >> 8) == (t.out->flags[i - 1] >> 8)) continue;
        ++changes;
        EXPECT_LT(t.out->parameters[i] - t.out->parameters[i - 1], 0.008 + 1e-5 + 1e-9);
    }
    EXPECT_EQ(changes, 1);
    MessageCapture capture(9);
    setAbortHook([] { return 1; });
    EXPECT_EQ(t.run(), -2);
    setAbortHook(nullptr);
    EXPECT_EQ(capture.countOf("821,0"), 1);
}
