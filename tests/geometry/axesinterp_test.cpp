#include "geometry/axesinterp.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const double kPi = std::acos(-1.0);

// Four points one apart along x, vectors v0 at the start and v1 at the end, (0,0,1) between.
Plist* axisList(const Vec3& v0, const Vec3& v1) {
    Plist* l = plistCreate(4, 1);
    const Vec3 up{0, 0, 1};
    for (int i = 0; i < 4; ++i) {
        const Vec3 p{double(i), 0, 0};
        plistAppend(l, i, &p, 0, i == 0 ? &v0 : i == 3 ? &v1 : &up, 0);
    }
    return l;
}

}  // namespace

TEST(AxesInterp, RangeTurnsByChordFraction) {
    axesInterpResetState();
    const Vec3 vx{1, 0, 0}, vy{0, 1, 0};
    for (const double total : {3.0, -3.0, 0.0}) {  // zero: by index fraction, the same here
        Plist* l = axisList(vx, vy);
        EXPECT_EQ(axesInterpRange(l, 0, 3, total), 1);
        for (int j = 1; j <= 2; ++j) {
            const double a = j * kPi / 6;
            EXPECT_NEAR(l->vectors[j].x, std::cos(a), 1e-12) << total;
            EXPECT_NEAR(l->vectors[j].y, std::sin(a), 1e-12) << total;
            EXPECT_NEAR(l->vectors[j].z, 0, 1e-12);
        }
        plistFree(l);
    }
    // A total shorter than the chord caps the turn at the end vector.
    Plist* l = axisList(vx, vy);
    EXPECT_EQ(axesInterpRange(l, 0, 3, 1.5), 1);
    EXPECT_NEAR(l->vectors[2].y, 1, 1e-12);
    EXPECT_EQ(axesInterpRange(l, 0, 1, 1.0), 1);
    EXPECT_EQ(axesInterpRange(l, 0, 4, 1.0), -1);
    EXPECT_EQ(axesInterpRange(l, 2, 1, 1.0), -1);
    plistFree(l);
    Plist* noVec = plistCreate(2, 0);
    EXPECT_EQ(axesInterpRange(noVec, 0, 1, 1.0), -1);
    plistFree(noVec);
}

TEST(AxesInterp, SmallTurnsOnOneConeStayOnIt) {
    axesInterpResetState();
    // Two axes tilted 30 degrees, 0.3 rad apart in azimuth: polar steps keep the tilt, a plain turn
    // cuts across the cone.
    const double tilt = kPi / 6, az = 0.3;
    const Vec3 v0{std::sin(tilt), 0, std::cos(tilt)};
    const Vec3 v1{std::sin(tilt) * std::cos(az), std::sin(tilt) * std::sin(az), std::cos(tilt)};
    for (const int polar : {1, 0}) {
        axesInterpSetPolar(polar);
        Plist* l = axisList(v0, v1);
        EXPECT_EQ(axesInterpRange(l, 0, 3, 3.0), 1);
        if (polar) {
            EXPECT_NEAR(l->vectors[1].z, std::cos(tilt), 1e-12);
            EXPECT_NEAR(std::atan2(l->vectors[1].y, l->vectors[1].x), az / 3, 1e-12);
        } else {
            EXPECT_GT(l->vectors[1].z, std::cos(tilt) + 1e-6);
        }
        plistFree(l);
    }
    axesInterpResetState();
}

TEST(AxesInterp, RangePolarAlwaysStepsInPolarAngles) {
    const double tilt = kPi / 4;
    const Vec3 v0{std::sin(tilt), 0, std::cos(tilt)}, v1{0, std::sin(tilt), std::cos(tilt)};
    for (const double total : {3.0, -3.0}) {  // a backward list turns the same way
        Plist* l = axisList(v0, v1);
        EXPECT_EQ(axesInterpRangePolar(l, 0, 3, total), 1);
        for (int j = 1; j <= 2; ++j) {
            EXPECT_NEAR(l->vectors[j].z, std::cos(tilt), 1e-12);
            EXPECT_NEAR(std::atan2(l->vectors[j].y, l->vectors[j].x), j * kPi / 6, 1e-12) << total;
        }
        plistFree(l);
    }
    Plist* l = axisList(v0, v1);
    EXPECT_EQ(axesInterpRangePolar(l, 0, 3, 5e-6), 0);
    EXPECT_EQ(l->vectors[1].z, 1);
    // A vertical end has no azimuth: the plain turn stands in.
    const Vec3 up{0, 0, 1}, side{1, 0, 0};
    Plist* v = axisList(up, side);
    EXPECT_EQ(axesInterpRangePolar(v, 0, 3, 3.0), 1);
    EXPECT_NEAR(v->vectors[1].x, std::sin(kPi / 6), 1e-12);
    EXPECT_NEAR(v->vectors[1].z, std::cos(kPi / 6), 1e-12);
    plistFree(v);
    plistFree(l);
}
