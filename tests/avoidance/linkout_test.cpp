#include "avoidance/linkout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/frames.h"
#include "kernel/base/rng.h"
#include "near.h"

namespace {

struct Sent {
    Vec3 v;
    int32_t code;
};
std::vector<Sent> gPoints, gAxes, gSections;
int gResult = 0;

int onPoint(const Vec3* p, int32_t cls) {
    gPoints.push_back({*p, cls});
    return gResult;
}
int onAxis(const Vec3* a, int32_t flag) {
    gAxes.push_back({*a, flag});
    return gResult;
}
int onSection(int32_t code, double a, double b) {
    gSections.push_back({{a, b, double(code)}, code});
    return 1;
}

class LinkOut : public ::testing::Test {
  protected:
    void SetUp() override {
        linkOutResetState();
        framesResetState();
        gPoints.clear(), gAxes.clear(), gSections.clear();
        gResult = 0;
        linkSetPointCallbacks(onPoint, nullptr, nullptr);
        linkSetAxisCallback(onAxis);
    }
    void TearDown() override { linkOutResetState(), framesResetState(); }
    void emit(Vec3 p, Vec3 axis, int32_t cls) {
        linkSetToolAxis(&axis);
        EXPECT_EQ(linkEmitPosition(&p, cls), 0);
    }
};

TEST_F(LinkOut, DuplicatePointsAreFilteredButAxesAlwaysGoOut) {
    // Within 1e-5 in every coordinate of the point and of the axis is the same.
    const Vec3 z{0, 0, 1}, x{1, 0, 0}, p{0, 0, 0};
    struct Case {
        Vec3 q, axis2;
        int32_t cls1, cls2;
        size_t points;
    } cases[] = {
        {p, z, 0, 0, 1},
        {{0, 0, 5e-6}, z, 1, 1, 1},
        {p, z, -1, -1, 2},
        {p, z, -1, 0, 2},
        {p, z, 0, -1, 2},
        {p, x, 0, 0, 2},
        {{0, 0, 0.001}, z, 0, 0, 2},
        {{1e-5, 0, -1e-5}, z, 0, 1, 1},
        {{0, 1.5e-5, 0}, z, 0, 0, 2},
        {p, {1e-5, 0, 1}, 0, 0, 1},
        {p, {0, -1.5e-5, 1}, 0, 0, 2},
    };
    for (const Case& c : cases) {
        SetUp();
        emit(p, z, c.cls1);
        emit(c.q, c.axis2, c.cls2);
        EXPECT_EQ(gPoints.size(), c.points) << c.cls1 << c.cls2 << c.q.z;
        ASSERT_EQ(gAxes.size(), 2u);
        EXPECT_EQ(gAxes[1].code, 1);
    }
}

TEST_F(LinkOut, PreviousPointMovesOnlyOnARealStep) {
    struct Case {
        Vec3 second, third, previous;
    } cases[] = {{{0, 0, 0}, {0.0005, 0, 0}, {5, 0, 0}},
                 {{0, 0, 0}, {0, 0.001, 0}, {0, 0, 0}},  // a step of exactly 0.001 on any one axis is real
                 {{0, 0, 0}, {0.001, 0, 0}, {0, 0, 0}},
                 {{0, 0, 0}, {0, 0, -0.001}, {0, 0, 0}},
                 {{0, 0, 0}, {0, 0, -0.0009}, {5, 0, 0}},
                 {{1, 2, 3}, {1.0005, 1.9995, 3.0005}, {5, 0, 0}}};  // steps count by difference
    for (const Case& c : cases) {
        SetUp();
        const Vec3 a{5, 0, 0};
        linkEmitPosition(&a, 0);
        Vec3 last, prev;
        linkPreviousPoint(&prev);
        EXPECT_VEC_NEAR(prev, a, 0);  // the first position is both last and previous
        linkEmitPosition(&c.second, 0);
        linkEmitPosition(&c.third, 0);
        linkLastPoint(&last), linkPreviousPoint(&prev);
        EXPECT_VEC_NEAR(last, c.third, 0);
        EXPECT_VEC_NEAR(prev, c.previous, 0);
    }
}

TEST_F(LinkOut, FrameBMovesPointsButNotAxes) {
    const Vec3 o{0, 0, 0}, ob{10, 0, 0}, ex{1, 0, 0}, ey{0, 1, 0}, ez{0, 0, 1};
    frameSetA(&o, &ex, &ey, &ez);
    frameSetB(&ob, &ex, &ey, &ez);
    ASSERT_EQ(framesInit(), 1);
    rngSeed(35);
    for (int i = 0; i < 50; ++i) {
        const Vec3 p{rngUniform() * 200 - 100, rngUniform() * 200 - 100, rngUniform() * 200 - 100};
        const Vec3 a{rngUniform() - 0.5, rngUniform() - 0.5, rngUniform()};
        gPoints.clear(), gAxes.clear();
        emit(p, a, 1);
        ASSERT_EQ(gPoints.size(), 1u);
        EXPECT_VEC_NEAR(gPoints[0].v, (Vec3{p.x - 10, p.y, p.z}), 1e-9);
        EXPECT_VEC_NEAR(gAxes[0].v, a, 1e-12);
    }
}

TEST_F(LinkOut, FailuresAndANewRun) {
    const Vec3 p{3, 4, 5}, x{1, 0, 0};
    gResult = -1;
    EXPECT_EQ(linkEmitPosition(&p, 0), kLinkOutputFailed);
    EXPECT_EQ(linkCallAxis(&p), kLinkOutputFailed);
    gResult = 0;
    linkSetNextToolAxis(&x);
    emit(p, x, 0);
    // Registering starts a new run: nothing emitted, axes back to +z, the filter open again.
    linkSetPointCallbacks(onPoint, nullptr, nullptr);
    Vec3 next;
    linkNextToolAxis(&next);
    EXPECT_EQ(linkEmitted() + next.x, 0.0);
    gPoints.clear();
    emit(p, x, 0);
    EXPECT_EQ(gPoints.size() * 10 + linkEmitted(), 11u);
    linkClearPointCallbacks();
    EXPECT_EQ(linkCallPoint(&x, 0) + linkCallListEnd(), 0);
    EXPECT_EQ(linkCallAxis(&x), 0);  // an axis that went out
    EXPECT_EQ(linkCallPoint(nullptr, 0) + linkCallAxis(nullptr) + linkEmitPosition(nullptr, 0), 0);
    linkSetAxisCallback(nullptr);
    EXPECT_EQ(linkAxisCallbackPresent(), 1);  // set by any registration, never cleared
    // Section ends pass only for codes sharing a bit with the mask, as (code, 0, 0).
    linkSetSectionCallbacks(33, onSection, onSection);
    for (int32_t c : {64, 128, 32, 1, 2, 96}) linkCallSectionEnd(c);
    ASSERT_EQ(gSections.size(), 3u);
    const double want[] = {32, 1, 96};
    for (size_t i = 0; i < 3; ++i) EXPECT_VEC_NEAR(gSections[i].v, (Vec3{0, 0, want[i]}), 0);
}

TEST(LinkKeptIndex, SkipsLinksAndRemovedPointsAndTakesAxes) {
    const uint8_t kinds[] = {2, 0, 3, 10, 2, 3, 1, 2};
    Plist* l = plistCreate(16, 1);
    ASSERT_NE(l, nullptr);
    for (int i = 0; i < 8; ++i) {
        const Vec3 p{double(i), 0, 0}, v{0, double(i), 1};
        plistAppend(l, i, &p, static_cast<uint16_t>(kinds[i] << 8), &v, 0);
    }
    auto kept = [&](int32_t k) { return k >= 0 && k < 8 && kinds[k] != 2 && kinds[k] != 3; };
    for (int32_t i = -1; i <= 8; ++i) {  // brute force
        int32_t next = i + 1, prev = std::min(i, 8) - 1;
        while (next < 8 && !kept(next)) ++next;
        while (prev >= 0 && !kept(prev)) --prev;
        EXPECT_EQ(plistNextKeptIndex(i, l), next < 8 ? next : -1) << i;
        EXPECT_EQ(plistPrevKeptIndex(i, l), prev < 0 ? -1 : prev) << i;
    }
    // The first axis of a list goes to the pivot once an axis callback is present.
    linkOutResetState();
    Vec3 a{}, pivot;
    EXPECT_EQ(linkTakeFirstAxis(l, 3, &a), 0);
    static Vec3 taken;
    taken = Vec3{0, 0, 1};
    linkSetAxisCallback([](const Vec3* axis, int32_t) {
        if (axis) taken = *axis;
        return 0;
    });
    const auto take = [&](int32_t i) { return linkTakeFirstAxis(l, i, &a); };
    EXPECT_EQ(take(7) * 1000 + take(0) * 100 + take(8) * 10 + take(-1), 1100);  // indices 0 to 7 only
    EXPECT_EQ(linkTakeFirstAxis(l, 3, nullptr), 0);
    EXPECT_EQ(linkTakeFirstAxis(l, 3, &a), 1);
    linkSetToolAxis(&a), linkEmitPosition(&a, 0), pivot = taken;
    EXPECT_VEC_NEAR(pivot, (Vec3{0, 3, 1}), 0);
    linkOutResetState(), plistFree(l);
}

}  // namespace
