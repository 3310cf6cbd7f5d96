#include "avoidance/linkout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/frames.h"
#include "geometry/rng.h"
#include "kernel/idx5.h"

namespace {

struct Sent {
    Vec3 v;
    int32_t cls;
};
std::vector<Sent> gPoints, gAxes;
std::vector<Sent> gSections;
int gPointResult = 0, gAxisResult = 0;

int onPoint(const Vec3* p, int32_t cls) {
    gPoints.push_back({*p, cls});
    return gPointResult;
}
int onAxis(const Vec3* a, int32_t flag) {
    gAxes.push_back({*a, flag});
    return gAxisResult;
}
int onSection(int32_t code, double a, double b) {
    gSections.push_back({{a, b, 0}, code});
    return 1;
}
int onListEnd() {
    return 7;
}

class LinkOut : public ::testing::Test {
  protected:
    void SetUp() override {
        linkOutResetState();
        framesResetState();
        gPoints.clear();
        gAxes.clear();
        gSections.clear();
        gPointResult = gAxisResult = 0;
        linkSetPointCallbacks(onPoint, nullptr, onListEnd);
        linkSetAxisCallback(onAxis);
    }
    void TearDown() override {
        linkOutResetState();
        framesResetState();
    }
};

struct Emit {
    Vec3 p, axis;
    int32_t cls;
};

TEST_F(LinkOut, DuplicatePointsAreFilteredButAxesAlwaysGoOut) {
    const Vec3 z{0, 0, 1}, x{1, 0, 0};
    struct Case {
        std::vector<Emit> emits;
        size_t points, axes;
    } cases[] = {
        {{{{1, 2, 3}, z, 0}, {{1, 2, 3}, z, 0}}, 1, 2},
        {{{{1, 2, 3}, z, 1}, {{1, 2, 3 + 5e-6}, z, 1}}, 1, 2},  // within the filter's tolerance
        {{{{1, 2, 3}, z, -1}, {{1, 2, 3}, z, -1}}, 2, 2},
        {{{{1, 2, 3}, z, -1}, {{1, 2, 3}, z, 0}}, 2, 2},  // the last passed class was negative
        {{{{1, 2, 3}, z, 0}, {{1, 2, 3}, x, 0}}, 2, 2},   // a new axis at the same point
        {{{{1, 2, 3}, z, 0}, {{1, 2, 3.001}, z, 0}}, 2, 2},
    };
    for (size_t n = 0; n < std::size(cases); ++n) {
        SetUp();
        for (const Emit& e : cases[n].emits) {
            linkSetToolAxis(&e.axis);
            EXPECT_EQ(linkEmitPosition(&e.p, e.cls), 0) << n;
        }
        EXPECT_EQ(gPoints.size(), cases[n].points) << n;
        EXPECT_EQ(gAxes.size(), cases[n].axes) << n;
        for (const Sent& a : gAxes) EXPECT_EQ(a.cls, 1) << n;
    }
}

TEST_F(LinkOut, PreviousPointMovesOnlyOnARealStep) {
    struct Case {
        std::vector<Vec3> emits;
        Vec3 last, previous;
    } cases[] = {
        {{{4, 5, 6}}, {4, 5, 6}, {4, 5, 6}},  // the first position is both
        {{{5, 0, 0}, {0, 0, 0}, {0.0005, 0, 0}}, {0.0005, 0, 0}, {5, 0, 0}},
        {{{5, 0, 0}, {0, 0, 0}, {0, 0.001, 0}}, {0, 0.001, 0}, {0, 0, 0}},
        {{{5, 0, 0}, {0, 0, 0}, {0, 0, -0.0009}}, {0, 0, -0.0009}, {5, 0, 0}},
    };
    for (size_t n = 0; n < std::size(cases); ++n) {
        SetUp();
        EXPECT_EQ(linkEmitted(), 0);
        for (const Vec3& p : cases[n].emits) linkEmitPosition(&p, 0);
        Vec3 last, prev;
        linkLastPoint(&last);
        linkPreviousPoint(&prev);
        EXPECT_EQ(linkEmitted(), 1);
        EXPECT_DOUBLE_EQ(last.x, cases[n].last.x) << n;
        EXPECT_DOUBLE_EQ(last.y, cases[n].last.y) << n;
        EXPECT_DOUBLE_EQ(last.z, cases[n].last.z) << n;
        EXPECT_DOUBLE_EQ(prev.x, cases[n].previous.x) << n;
        EXPECT_DOUBLE_EQ(prev.y, cases[n].previous.y) << n;
        EXPECT_DOUBLE_EQ(prev.z, cases[n].previous.z) << n;
    }
}

TEST_F(LinkOut, SectionEndsPassOnlyCodesInTheMask) {
    linkSetSectionCallbacks(33, onSection, onSection);
    const int32_t codes[] = {64, 128, 32, 1, 2, 96};
    for (int32_t c : codes) linkCallSectionEnd(c);
    ASSERT_EQ(gSections.size(), 3u);
    const int32_t want[] = {32, 1, 96};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(gSections[i].cls, want[i]);
        EXPECT_EQ(gSections[i].v.x, 0.0);
        EXPECT_EQ(gSections[i].v.y, 0.0);
    }
    EXPECT_EQ(linkCallListEnd(), 7);
    linkClearPointCallbacks();
    EXPECT_EQ(linkCallListEnd(), 0);
}

TEST_F(LinkOut, FrameBMovesPointsButNotAxes) {
    const Vec3 o{0, 0, 0}, ob{10, 0, 0}, ex{1, 0, 0}, ey{0, 1, 0}, ez{0, 0, 1};
    frameSetA(&o, &ex, &ey, &ez);
    frameSetB(&ob, &ex, &ey, &ez);
    ASSERT_EQ(framesInit(), 1);
    rngSeed(35);
    for (int i = 0; i < 50; ++i) {
        const Vec3 p{rngUniform() * 200 - 100, rngUniform() * 200 - 100, rngUniform() * 200 - 100};
        Vec3 a{rngUniform() - 0.5, rngUniform() - 0.5, rngUniform() + 0.1};
        const double l = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
        a = {a.x / l, a.y / l, a.z / l};
        linkSetToolAxis(&a);
        gPoints.clear();
        gAxes.clear();
        linkEmitPosition(&p, 1);
        ASSERT_EQ(gPoints.size(), 1u);
        ASSERT_EQ(gAxes.size(), 1u);
        EXPECT_NEAR(gPoints[0].v.x, p.x - 10, 1e-9);
        EXPECT_NEAR(gPoints[0].v.y, p.y, 1e-9);
        EXPECT_NEAR(gPoints[0].v.z, p.z, 1e-9);
        EXPECT_NEAR(gAxes[0].v.x, a.x, 1e-12);
        EXPECT_NEAR(gAxes[0].v.y, a.y, 1e-12);
        EXPECT_NEAR(gAxes[0].v.z, a.z, 1e-12);
        Vec3 last;
        linkLastPoint(&last);  // the stream itself stays in frame A
        EXPECT_EQ(last.x, p.x);
    }
    // Frame B turned a quarter about z: the axis turns with it.
    const Vec3 nz{0, 0, -1};
    frameSetB(&o, &ey, &ex, &nz);
    ASSERT_EQ(framesInit(), 1);
    linkSetToolAxis(&ex);
    gAxes.clear();
    const Vec3 q{1, 2, 3};
    linkEmitPosition(&q, 0);
    ASSERT_EQ(gAxes.size(), 1u);
    EXPECT_NEAR(gAxes[0].v.y, 1.0, 1e-12);
    EXPECT_NEAR(gAxes[0].v.x, 0.0, 1e-12);
}

TEST_F(LinkOut, FailingCallbacksGiveOutputFailure) {
    const Vec3 p{1, 1, 1};
    gPointResult = -1;
    EXPECT_EQ(linkEmitPosition(&p, 0), kLinkOutputFailed);
    gPointResult = 0;
    gAxisResult = -5;
    EXPECT_EQ(linkCallAxis(&p), kLinkOutputFailed);
    const Vec3 q{2, 2, 2};
    EXPECT_EQ(linkEmitPosition(&q, 0), 0);  // the axis failure is not the point's result
    linkClearPointCallbacks();
    EXPECT_EQ(linkCallPoint(&p, 0), 0);
}

TEST_F(LinkOut, RegistrationStartsANewStream) {
    const Vec3 p{3, 4, 5}, a{1, 0, 0};
    linkSetToolAxis(&a);
    linkSetNextToolAxis(&a);
    linkEmitPosition(&p, 0);
    linkSetPointCallbacks(onPoint, nullptr, nullptr);
    EXPECT_EQ(linkEmitted(), 0);
    Vec3 axis, next, last;
    linkToolAxis(&axis);
    linkNextToolAxis(&next);
    linkLastPoint(&last);
    EXPECT_EQ(axis.z, 1.0);
    EXPECT_EQ(next.z, 1.0);
    EXPECT_EQ(last.x, 0.0);
    gPoints.clear();
    linkSetToolAxis(&a);
    linkEmitPosition(&p, 0);  // the same position as the last run's end still goes out
    EXPECT_EQ(gPoints.size(), 1u);
    EXPECT_EQ(linkAxisCallbackPresent(), 1);
}

TEST(LinkKeptIndex, SkipsLinksAndRemovedPointsAndTakesAxes) {
    const uint8_t kinds[] = {2, 0, 3, 10, 2, 3, 1, 2};
    Plist* l = plistCreate(16, 1);
    ASSERT_NE(l, nullptr);
    for (int i = 0; i < 8; ++i) {
        const Vec3 p{double(i), 0, 0}, v{0, double(i), 1};
        plistAppend(l, i, &p, static_cast<uint16_t>(kinds[i] << 8), &v, 0);
    }
    // Brute force over every start index, including the ends.
    for (int32_t i = -1; i <= 8; ++i) {
        int32_t next = -1, prev = -1;
        for (int32_t k = i + 1; k < 8 && next < 0; ++k)
            if (k >= 0 && kinds[k] != 2 && kinds[k] != 3) next = k;
        for (int32_t k = std::min(i, 8) - 1; k >= 0 && prev < 0; --k)
            if (kinds[k] != 2 && kinds[k] != 3) prev = k;
        EXPECT_EQ(plistNextKeptIndex(i, l), next) << i;
        EXPECT_EQ(plistPrevKeptIndex(i, l), prev) << i;
    }
    linkOutResetState();
    Vec3 a{};
    EXPECT_EQ(linkTakeFirstAxis(l, 3, &a), 0);  // no axis callback yet
    linkSetAxisCallback(idx5SetPivotCallback);
    EXPECT_EQ(linkTakeFirstAxis(l, 3, &a), 1);
    EXPECT_EQ(a.y, 3.0);
    EXPECT_EQ(linkTakeFirstAxis(l, 8, &a), 0);
    linkSetToolAxis(&a);
    const Vec3 p{0, 0, 0};
    linkEmitPosition(&p, 0);
    Vec3 pivot;
    idx5GetPivot(&pivot);
    EXPECT_EQ(pivot.y, 3.0);
    idx5PivotResetState();
    linkOutResetState();
    plistFree(l);
}

}  // namespace
