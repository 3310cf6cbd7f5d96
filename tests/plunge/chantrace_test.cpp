#include "plunge/chantrace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "../collision/meshutil.h"
#include "../geometry/msg_capture.h"
#include "collision/ringcontact.h"
#include "geometry/plist.h"
#include "kernel/cycle.h"
#include "plunge/contourpair.h"
#include "plunge/hubshroud.h"
#include "plunge/plist3d.h"
#include "plunge/profile2d.h"

namespace {

constexpr double kPlate = 15.0 * M_PI / 180.0;  // blade B stands at +15 degrees, blade A at -15
constexpr double kBall = 3.0;
constexpr double kLevelZ = 10.0;
constexpr double kFaceOffset = 3.5;  // face A runs this far in front of blade A

Vec3 onPlate(double phi, double r, double z, double offset) {
    return {r * std::cos(phi) - offset * std::sin(phi), r * std::sin(phi) + offset * std::cos(phi), z};
}

// Blade plate at phi as triangles of a 2 mm grid over r in [r0, r0 + 40], z in [-5, 45].
std::vector<Triangle3D> plate(double phi, double r0) {
    std::vector<Triangle3D> t;
    for (double r = r0; r < r0 + 40 - 1e-9; r += 2)
        for (double z = -5; z < 45 - 1e-9; z += 2) {
            Vec3 a = onPlate(phi, r, z, 0), b = onPlate(phi, r + 2, z, 0), c = onPlate(phi, r + 2, z + 2, 0),
                 d = onPlate(phi, r, z + 2, 0);
            t.push_back({{a, b, c}});
            t.push_back({{a, c, d}});
        }
    return t;
}

// A face: hub-side and tip-side lines of length L from radius r0, offset in front of the plate.
ContourPair* face(double phi, double r0, double L, double offset) {
    ContourPair* p = static_cast<ContourPair*>(calloc(1, sizeof(ContourPair)));
    p->first = newPlist3D(2);
    p->second = newPlist3D(2);
    for (double r : {r0, r0 + L}) {
        Vec3 lo = onPlate(phi, r, -5, offset), hi = onPlate(phi, r, 45, offset);
        appendPlist3D(p->first, &lo);
        appendPlist3D(p->second, &hi);
    }
    return p;
}

HubShroud* flatLevel(double z) {
    HubShroud* h = static_cast<HubShroud*>(calloc(1, sizeof(HubShroud)));
    for (Profile2D** p : {&h->hub, &h->shroud}) {
        *p = newProfile2D(2);
        (*p)->count = 2;
        (*p)->points[0] = {5, z};
        (*p)->points[1] = {90, z};
        (*p)->param[0] = 0;
        (*p)->param[1] = 85;
    }
    h->extra = static_cast<double*>(calloc(2, sizeof(double)));
    return h;
}

double nearestDistance(const std::vector<Triangle3D>& tris, const Vec3& p) {
    double best = 1e9;
    for (const Triangle3D& t : tris)
        for (int u = 0; u <= 20; ++u)
            for (int v = 0; u + v <= 20; ++v) {
                double a = u / 20.0, b = v / 20.0, c = 1 - a - b;
                Vec3 q{a * t.p[0].x + b * t.p[1].x + c * t.p[2].x, a * t.p[0].y + b * t.p[1].y + c * t.p[2].y,
                       a * t.p[0].z + b * t.p[1].z + c * t.p[2].z};
                best = std::fmin(best, dist3D(&q, &p));
            }
    return best;
}

struct Channel {
    std::vector<Triangle3D> tris;
    testmesh::Model* model;
    ContourPair* a;
    ContourPair* b;
    HubShroud* level;
    Channel(double L, double levelZ) {
        tris = plate(-kPlate, 20);
        std::vector<Triangle3D> bt = plate(kPlate, 20);
        tris.insert(tris.end(), bt.begin(), bt.end());
        model = new testmesh::Model(tris, kBallMill, kBall);
        model->m.stepLength = 1.0;
        model->m.tolerance = 0.008;
        a = face(-kPlate, 22, L, kFaceOffset);
        b = face(kPlate, 22, L, 0);
        level = flatLevel(levelZ);
    }
    ~Channel() {
        delete model;
        freeContourPair(a);
        freeContourPair(b);
        freeHubShroud(level);
    }
};

int cancelNow() {
    return 1;
}

}  // namespace

TEST(ChannelTrace, ContactsTouchTheFarBladeWhereTheClosedFormSays) {
    ringContactResetState();
    Channel ch(30.0, kLevelZ);
    Plist* out = plistCreate(2000, 1);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(traceChannelCurve(&ch.model->m, ch.a, ch.b, ch.level, 1, out, nullptr), 1);
    ASSERT_EQ(out->count, 31);
    for (int32_t i = 0; i < out->count; ++i) {
        const Vec3 p = out->points[i];
        ASSERT_EQ(out->flags[i], kChanContact) << i;
        // On the circle through the face point, the ball centre stands kBall in front of blade B.
        double R = std::hypot(p.x, p.y);
        EXPECT_NEAR(std::atan2(p.y, p.x), kPlate - std::asin(kBall / R), 1e-6) << i;
        EXPECT_NEAR(p.z, kLevelZ, 1e-9);
        EXPECT_NEAR(nearestDistance(ch.tris, p), kBall, 0.01) << i;
        EXPECT_EQ(out->parameters[i], i);
    }
    plistFree(out);
}

TEST(ChannelTrace, StationsEndAtTheFaceLengthAndEmptyReachGivesEndPoints) {
    struct Case {
        double L, levelZ;
        std::vector<double> params;
        uint16_t flag;
    } cases[] = {{2.5, kLevelZ, {0, 1, 2, 2.5}, kChanContact}, {2.5, 60.0, {0, 1, 2, 2.5}, kChanNoContact}};
    for (const Case& c : cases) {
        ringContactResetState();
        Channel ch(c.L, c.levelZ);
        Plist* out = plistCreate(100, 1);
        ASSERT_EQ(traceChannelCurve(&ch.model->m, ch.a, ch.b, ch.level, 1, out, nullptr), 1);
        ASSERT_EQ(out->count, static_cast<int32_t>(c.params.size())) << c.levelZ;
        for (int32_t i = 0; i < out->count; ++i) {
            EXPECT_NEAR(out->parameters[i], c.params[i], 1e-12);
            EXPECT_EQ(out->flags[i] >> 8, c.flag >> 8);
            if (c.flag == kChanNoContact) {
                // The end point is blade B's face point moved onto the start radius.
                Vec3 a = onPlate(-kPlate, 22 + c.params[i], c.levelZ, kFaceOffset);
                EXPECT_NEAR(std::hypot(out->points[i].x, out->points[i].y), std::hypot(a.x, a.y), 1e-9);
                EXPECT_NEAR(std::atan2(out->points[i].y, out->points[i].x), kPlate, 1e-9);
            }
        }
        plistFree(out);
    }
}

TEST(ChannelTrace, ContactEdgeIsRefinedAndCancelStopsWith821) {
    // Blade B shorter than the faces: past its end the sweep reaches nothing, and the change of kind
    // is refined down to the tolerance.
    ringContactResetState();
    Channel ch(30.0, kLevelZ);
    std::vector<Triangle3D> shortB;
    for (const Triangle3D& t : ch.tris)
        if (std::hypot(t.p[0].x, t.p[0].y) < 36.5 || t.p[0].y < 0) shortB.push_back(t);
    testmesh::Model m(shortB, kBallMill, kBall);
    m.m.stepLength = 1.0;
    m.m.tolerance = 0.008;
    Plist* out = plistCreate(2000, 1);
    ASSERT_EQ(traceChannelCurve(&m.m, ch.a, ch.b, ch.level, 1, out, nullptr), 1);
    int32_t changes = 0;
    for (int32_t i = 1; i < out->count; ++i) {
        EXPECT_GT(out->parameters[i], out->parameters[i - 1]);
        if (out->flags[i] != out->flags[i - 1]) {
            ++changes;
            EXPECT_LT(out->parameters[i] - out->parameters[i - 1], 0.008 + 1e-5 + 1e-9);
        }
    }
    EXPECT_GE(changes, 1);
    {
        MessageCapture capture(9);
        setAbortHook(cancelNow);
        EXPECT_EQ(traceChannelCurve(&m.m, ch.a, ch.b, ch.level, 1, out, nullptr), -2);
        setAbortHook(nullptr);
        EXPECT_EQ(capture.countOf("821,0"), 1);
    }
    plistFree(out);
}
