#include "geometry/frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include "kernel/base/runreset.h"

namespace {

class Frames : public ::testing::Test {
  protected:
    void SetUp() override {
        runResetAll();
    }
    void TearDown() override {
        runResetAll();
    }
};

using FramePairs = Frames;

void expectVec(const Vec3& v, double x, double y, double z, double tol = 1e-12) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

// A random right-handed frame: axes from a random rotation, origin within +-100.
void randomFrame(std::mt19937& rng, Vec3* o, Vec3* x, Vec3* y, Vec3* z) {
    std::uniform_real_distribution<double> u(-100.0, 100.0), a(-3.0, 3.0);
    *o = Vec3{u(rng), u(rng), u(rng)};
    const double t1 = a(rng), t2 = a(rng);
    const double ca = std::cos(t1), sa = std::sin(t1), cb = std::cos(t2), sb = std::sin(t2);
    // Rotation about z by one angle, then about x by another.
    *x = Vec3{ca, sa * cb, sa * sb};
    *y = Vec3{-sa, ca * cb, ca * sb};
    cross3D(x, y, z);
}

const Vec3 kZero{0, 0, 0};
const Vec3 kX{1, 0, 0}, kY{0, 1, 0}, kZ{0, 0, 1};

}  // namespace

TEST_F(FramePairs, NoInstanceIsNeutral) {
    EXPECT_EQ(framePairGetMode(), 1);
    EXPECT_EQ(framePairGetFlag(4), 0);
    Vec3 p{1, 2, 3};
    EXPECT_EQ(framePairToM1(&p), 0);
    EXPECT_EQ(framePairToM2(&p), 0);
    EXPECT_EQ(framePairToInvM1(&p), 0);
    EXPECT_EQ(framePairToWorld(&p), 0);
    expectVec(p, 1, 2, 3, 0.0);
    EXPECT_EQ(framePairSetLocal(&kZero, &kX, &kY, &kZ), 1);
    framePairSetFlag(4, 1);  // ignored
    EXPECT_EQ(framePairGetFlag(4), 0);
    framePairFree();
}

TEST_F(FramePairs, NoPlanesGiveIdentityWithoutFlags) {
    ASSERT_EQ(framePairCreate(&kZero, &kZero, &kX, &kZero), 1);
    EXPECT_EQ(framePairGetMode(), 1);
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(framePairGetFlag(i), 0) << i;
    Vec3 p{1, 2, 3};
    EXPECT_EQ(framePairToM1(&p), 1);
    expectVec(p, 1, 2, 3);
}

TEST_F(FramePairs, OnePlaneMirrors) {
    const Vec3 at5{0, 0, 5};
    // The plane may come as the first or the second of the pair.
    for (int second = 0; second < 2; ++second) {
        if (second)
            ASSERT_EQ(framePairCreate(&kZero, &kZero, &at5, &kZ), 1);
        else
            ASSERT_EQ(framePairCreate(&at5, &kZ, &kZero, &kZero), 1);
        EXPECT_EQ(framePairGetMode(), -1);
        for (int i = 1; i <= 5; ++i) EXPECT_EQ(framePairGetFlag(i), 1) << i;
        Vec3 p{1, 2, 3};
        EXPECT_EQ(framePairToM1(&p), 1);
        expectVec(p, 1, 2, 7);
        EXPECT_EQ(framePairToInvM1(&p), 1);
        expectVec(p, 1, 2, 3);
        Vec3 d{0, 0, 1};
        EXPECT_EQ(framePairToM2(&d), 1);
        expectVec(d, 0, 0, -1);
    }
}

TEST_F(FramePairs, TwoPlanesCompose) {
    const Vec3 at5{0, 0, 5};
    const struct {
        Vec3 p1, n1, p2, n2, expected;
    } cases[] = {
        {kZero, kZ, at5, kZ, {1, 2, 13}},     // z = 0 first, then z = 5: translation by +10
        {at5, kZ, kZero, kZ, {1, 2, -7}},     // the other order: translation by -10
        {kZero, kX, kZero, kY, {-1, -2, 3}},  // crossing planes: half turn about their line
    };
    for (const auto& c : cases) {
        ASSERT_EQ(framePairCreate(&c.p1, &c.n1, &c.p2, &c.n2), 1);
        EXPECT_EQ(framePairGetMode(), 1);
        for (int i = 1; i <= 5; ++i) EXPECT_EQ(framePairGetFlag(i), 1) << i;
        Vec3 p{1, 2, 3};
        framePairToM1(&p);
        expectVec(p, c.expected.x, c.expected.y, c.expected.z);
    }
}

TEST_F(FramePairs, MirrorOfRandomPlaneIsAnInvolution) {
    std::mt19937 rng(2103);
    std::uniform_real_distribution<double> u(-20.0, 20.0);
    for (int i = 0; i < 100; ++i) {
        const Vec3 point{u(rng), u(rng), u(rng)};
        Vec3 n{u(rng), u(rng), u(rng)};
        vecNormalize3D(&n, &n);
        ASSERT_EQ(framePairCreate(&point, &n, &kZero, &kZero), 1);
        const Vec3 p{u(rng), u(rng), u(rng)};
        Vec3 q = p;
        framePairToM1(&q);
        // The plane bisects p and its image, and the image mirrors back onto p.
        const Vec3 mid{0.5 * (p.x + q.x) - point.x, 0.5 * (p.y + q.y) - point.y, 0.5 * (p.z + q.z) - point.z};
        EXPECT_NEAR(vecDot3D(&mid, &n), 0.0, 1e-9);
        framePairToM1(&q);
        EXPECT_NEAR(dist3D(&p, &q), 0.0, 1e-9);
    }
}

TEST_F(FramePairs, FlagsAreZeroOrOne) {
    const Vec3 at5{0, 0, 5};
    ASSERT_EQ(framePairCreate(&at5, &kZ, &kZero, &kZero), 1);
    framePairSetFlag(4, 0);
    framePairSetFlag(2, 7);
    framePairSetFlag(0, 1);
    framePairSetFlag(6, 1);
    const int expected[] = {0, 1, 1, 1, 0, 1, 0};
    for (int i = 0; i <= 6; ++i) EXPECT_EQ(framePairGetFlag(i), expected[i]) << i;
}

TEST_F(FramePairs, CreateReplacesAndFreeForgets) {
    const Vec3 at5{0, 0, 5};
    ASSERT_EQ(framePairCreate(&at5, &kZ, &kZero, &kZero), 1);
    // Replacing releases the first instance (the leak checker watches this).
    ASSERT_EQ(framePairCreate(&kZero, &kZero, &kZero, &kZero), 1);
    EXPECT_EQ(framePairGetMode(), 1);
    EXPECT_EQ(framePairGetFlag(1), 0);
    framePairFree();
    framePairFree();
    EXPECT_EQ(framePairGetMode(), 1);
}

TEST_F(FramePairs, FacetPointsAreMapped) {
    const Vec3 at5{0, 0, 5};
    ASSERT_EQ(framePairCreate(&at5, &kZ, &kZero, &kZero), 1);
    // The packed 98-byte record: flag, then four points at byte 2 + 24 k.
    unsigned char facet[98];
    const uint16_t flag = 0x0008;
    std::memcpy(facet, &flag, 2);
    for (int k = 0; k < 4; ++k) {
        const double xyz[3] = {double(k), 1.0, double(k)};
        std::memcpy(facet + 2 + 24 * k, xyz, sizeof xyz);
    }
    EXPECT_EQ(framePairFacetToM1(reinterpret_cast<Facet98*>(facet)), 1);
    uint16_t flagAfter = 0;
    std::memcpy(&flagAfter, facet, 2);
    EXPECT_EQ(flagAfter, flag);
    for (int k = 0; k < 4; ++k) {
        double xyz[3];
        std::memcpy(xyz, facet + 2 + 24 * k, sizeof xyz);
        EXPECT_EQ(xyz[0], double(k));
        EXPECT_NEAR(xyz[2], 10.0 - k, 1e-12);
    }
    framePairFree();
    EXPECT_EQ(framePairFacetToM1(reinterpret_cast<Facet98*>(facet)), 0);
}

TEST_F(FramePairs, LocalFrameThenMirrorThenFrameB) {
    const Vec3 at5{0, 0, 5};
    ASSERT_EQ(framePairCreate(&at5, &kZ, &kZero, &kZero), 1);
    const Vec3 shift{1, 0, 0};
    EXPECT_EQ(framePairSetLocal(&shift, &kX, &kY, &kZ), 1);
    const Vec3 bOrigin{0, 10, 0};
    frameSetB(&bOrigin, &kX, &kY, &kZ);
    ASSERT_EQ(framesInit(), 1);
    Vec3 p{1, 2, 3};
    EXPECT_EQ(framePairToWorld(&p), 1);
    expectVec(p, 2, -8, 7);
    EXPECT_EQ(framePairSetLocal(&shift, &kX, &kX, &kZ), -1);  // singular
}

TEST_F(Frames, DefaultsAreIdentityAndNotReady) {
    EXPECT_EQ(framesReady(), 0);
    Vec3 p{1, 2, 3};
    pointWorldToFrameA(&p);
    pointFrameAToFrameB(&p);
    vecWorldToFrameA(&p);
    expectVec(p, 1, 2, 3, 0.0);
    EXPECT_EQ(framesEqualAB(), 1);
    EXPECT_EQ(framesInit(), 1);
    EXPECT_EQ(framesReady(), 1);
}

TEST_F(Frames, ScaleAppliesToFrameAAndInitResetsIt) {
    const Vec3 origin{10, 0, 0};
    const Vec3 minusX{-1, 0, 0};
    frameSetA(&origin, &kY, &minusX, &kZ);  // turned a quarter about z
    ASSERT_EQ(framesInit(), 1);
    Vec3 p{10, 1, 0};
    pointWorldToFrameA(&p);
    expectVec(p, 1, 0, 0);

    framesScale(2.0);
    p = Vec3{10, 1, 3};
    pointWorldToFrameA(&p);
    expectVec(p, 2, 0, 6);
    pointFrameAToWorld(&p);
    expectVec(p, 10, 1, 3);

    framesScale(0.0);  // refused: would make frame-A coordinates meaningless
    p = Vec3{10, 1, 0};
    pointWorldToFrameA(&p);
    expectVec(p, 2, 0, 0);

    ASSERT_EQ(framesInit(), 1);  // back to scale 1.0
    p = Vec3{10, 1, 0};
    pointWorldToFrameA(&p);
    expectVec(p, 1, 0, 0);
}

TEST_F(Frames, SingularFrameLeavesNotReady) {
    frameSetA(&kZero, &kX, &kX, &kZ);
    EXPECT_EQ(framesInit(), -1);
    EXPECT_EQ(framesReady(), 0);
    framesResetState();
    frameSetC(&kZero, &kX, &kY, &kZero);
    EXPECT_EQ(framesInitC(), -1);
}

TEST_F(Frames, ComparisonsOfAAndB) {
    const Vec3 o{0, 0, 1};
    frameSetB(&o, &kX, &kY, &kZ);  // same axes, other origin
    EXPECT_EQ(framesEqualAB(), 0);
    EXPECT_EQ(framesZAxisDiffersAB(), 0);
    const Vec3 tz{0, 2e-5, 1};
    frameSetB(&kZero, &kX, &kY, &tz);
    EXPECT_EQ(framesZAxisDiffersAB(), 1);
}

TEST_F(Frames, ZAxisOfAInB) {
    ASSERT_EQ(framesInit(), 1);
    Vec3 out{0, 0, 0};
    EXPECT_EQ(zAxisFrameAInFrameB(&out), 1);
    expectVec(out, 0, 0, 1);
    // B turned a quarter about x: A's z axis is B's y axis, wherever B's origin lies.
    const Vec3 o{5, 5, 5}, by{0, 0, 1}, bz{0, -1, 0};
    frameSetB(&o, &kX, &by, &bz);
    ASSERT_EQ(framesInit(), 1);
    EXPECT_EQ(zAxisFrameAInFrameB(&out), 1);
    expectVec(out, 0, 1, 0);
}

TEST_F(Frames, ConversionsAreConsistentOnRandomFrames) {
    std::mt19937 rng(1103);
    std::uniform_real_distribution<double> u(-100.0, 100.0);
    for (int i = 0; i < 50; ++i) {
        Vec3 o, x, y, z;
        randomFrame(rng, &o, &x, &y, &z);
        frameSetA(&o, &x, &y, &z);
        randomFrame(rng, &o, &x, &y, &z);
        frameSetB(&o, &x, &y, &z);
        randomFrame(rng, &o, &x, &y, &z);
        frameSetC(&o, &x, &y, &z);
        ASSERT_EQ(framesInit(), 1);
        ASSERT_EQ(framesInitC(), 1);
        framesScale(2.5);

        const Vec3 p{u(rng), u(rng), u(rng)};
        // A -> B directly equals A -> world -> B; and B -> A undoes it.
        Vec3 direct = p, viaWorld = p;
        pointFrameAToFrameB(&direct);
        pointFrameAToWorld(&viaWorld);
        pointWorldToFrameB(&viaWorld);
        EXPECT_NEAR(dist3D(&direct, &viaWorld), 0.0, 1e-9);
        pointFrameBToFrameA(&direct);
        EXPECT_NEAR(dist3D(&direct, &p), 0.0, 1e-9);
        Vec3 w = p;
        pointWorldToFrameA(&w);
        pointFrameAToWorld(&w);
        EXPECT_NEAR(dist3D(&w, &p), 0.0, 1e-9);

        // Directions keep their length and round-trip between A and C.
        Vec3 d = p, back;
        vecFrameAToFrameC(&d);
        EXPECT_NEAR(vecLen3D(&d), vecLen3D(&p), 1e-9);
        back = d;
        vecFrameCToFrameA(&back);
        EXPECT_NEAR(dist3D(&back, &p), 0.0, 1e-9);
        d = p;
        vecFrameAToFrameB(&d);
        EXPECT_NEAR(vecLen3D(&d), vecLen3D(&p), 1e-9);
        d = p;
        vecWorldToFrameA(&d);
        EXPECT_NEAR(vecLen3D(&d), vecLen3D(&p), 1e-9);
    }
}
