#include "contour/profile_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "../geometry/msg_capture.h"
#include "../geometry/profile_fixtures.h"
#include "workfolder.h"

namespace {

// A square boundary [x0, x1] x [y0, y1], counter-clockwise.
struct Square {
    std::vector<Seg2D> segs;
    FitBoundary b;
    Square(double x0, double y0, double x1, double y1) {
        segs = {{x0, y0, x1, y0}, {x1, y0, x1, y1}, {x1, y1, x0, y1}, {x0, y1, x0, y0}};
        b = {x0, y0, x1, y1, 4, segs.data()};
    }
};

}  // namespace

TEST_F(Profiles, FitOfTheBoundaryItself) {
    Square sq(0, 0, 4, 2);
    const struct {
        std::vector<Vec2> pts;
        double fitEnd;
        uint16_t swapFit;
    } cases[] = {
        {{{0, 0}, {4, 0}, {4, 2}, {0, 2}, {0, 0}}, 2, 0},  // same sense, closing point repeated
        {{{0, 0}, {4, 0}, {4, 2}, {0, 2}}, 2, 0},
        {{{0, 0}, {0, 2}, {4, 2}, {4, 0}, {0, 0}}, -2, 1},  // reverse sense
        {{{0, 0}, {0, 2}, {4, 2}, {4, 0}}, -2, 1},          // reverse sense, closing point left out
    };
    for (const auto& c : cases) {
        ProfilePtr p = ownedProfile(c.pts);
        p->swapFit = 7;
        double s = -1, e = -1;
        EXPECT_EQ(profileFitBoundary(p.get(), &sq.b, 0.01, &s, &e), 0);
        EXPECT_EQ(s, 0.0);
        EXPECT_EQ(e, c.fitEnd);
        EXPECT_EQ(p->swapFit, c.swapFit);
    }
    ProfilePtr p = ownedProfile({{0, 0}, {1, 0}});
    double s = -1, e = -1;
    EXPECT_EQ(profileFitBoundary(p.get(), &sq.b, 5e-6, &s, &e), 0);
    EXPECT_EQ(s, 0.0);
    EXPECT_EQ(e, 0.0);
}

TEST_F(Profiles, FitFindsTheOffsetRange) {
    // A line along x; its offsets y = e meet the square [-5, 5] x [10, 20] for e in [10, 20].
    Square sq(-5, 10, 5, 20);
    for (double tol : {0.01, -0.01}) {
        ProfilePtr p = ownedProfile({{-20, 0}, {20, 0}});
        double s = 0, e = 0;
        ASSERT_EQ(profileFitBoundary(p.get(), &sq.b, tol, &s, &e), 0);
        EXPECT_GE(s, 10.0 - 1e-9);
        EXPECT_LE(s, 10.0 + 0.01);
        EXPECT_LE(e, 20.0 + 1e-9);
        EXPECT_GE(e, 20.0 - 0.01);
        p->swapFit = 1;
        ASSERT_EQ(profileFitBoundary(p.get(), &sq.b, tol, &s, &e), 0);
        EXPECT_GT(s, e);
    }
    // Below the line: negative offsets.
    Square low(-5, -20, 5, -10);
    ProfilePtr p = ownedProfile({{-20, 0}, {20, 0}});
    double s = 0, e = 0;
    ASSERT_EQ(profileFitBoundary(p.get(), &low.b, 0.001, &s, &e), 0);
    EXPECT_NEAR(s, -20.0, 0.002);
    EXPECT_NEAR(e, -10.0, 0.002);
    // Out of reach of every start offset.
    Square far(95, -5, 105, 5);
    EXPECT_EQ(profileFitBoundary(p.get(), &far.b, 0.01, &s, &e), -1);
}

TEST_F(Profiles, FailedFitSendsMessage601AndDropsTheProfile) {
    MessageCapture capture(9);
    Square far(95, -5, 105, 5);
    Square near(-5, 10, 5, 20);
    writeFile("prf_fit.prf", "X-20 Y0\nX20 Y0\n");
    EXPECT_EQ(profileReadFile("prf_fit.prf", &far.b, profileFitBoundary, 0.01, 0, 0), nullptr);
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0], "601,0");
    ProfilePtr ok(profileReadFile("prf_fit.prf", &near.b, profileFitBoundary, 0.01, 0, 0));
    ASSERT_TRUE(ok);
    EXPECT_NEAR(ok->fitStart, 10.0, 0.011);
    EXPECT_NEAR(ok->fitEnd, 20.0, 0.011);
    // In a file of blocks the failing block ends the list.
    writeFile("prf_fit.prf",
              "**PRF 1\nX-20 Y0\nX20 Y0\n**END\n**PRF 2\nX200 Y0\nX240 Y0\n**END\n**PRF 3\nX-20 Y0\nX20 "
              "Y0\n**END\n");
    ProfilePtr firstOnly(profileReadFile("prf_fit.prf", &near.b, profileFitBoundary, 0.01, 0, 0));
    ASSERT_TRUE(firstOnly);
    EXPECT_EQ(firstOnly->next, nullptr);
    EXPECT_EQ(capture.countOf("601,0"), 2);
    EXPECT_EQ(capture.messages().size(), 2u);
    std::remove("prf_fit.prf");
}

TEST_F(Profiles, FailedFitMessageHasLevelNine) {
    // Level 9 exactly: a message level of 8 drops it, and the profile is discarded all the same.
    MessageCapture capture(8);
    Square far(95, -5, 105, 5);
    writeFile("prf_fit9.prf", "X-20 Y0\nX20 Y0\n");
    EXPECT_EQ(profileReadFile("prf_fit9.prf", &far.b, profileFitBoundary, 0.01, 0, 0), nullptr);
    EXPECT_EQ(capture.countOf("601,0"), 0);
    std::remove("prf_fit9.prf");
}

TEST_F(Profiles, FitPastManyBoundaryCrossings) {
    // A zigzag through a thin strip crosses its edges about 200 times per trial offset: far more
    // than a crossing table of fixed size would hold.
    std::vector<Vec2> zig;
    for (int i = -50; i <= 50; ++i) zig.push_back({double(i), i % 2 ? 1.0 : -1.0});
    ProfilePtr p = ownedProfile(zig);
    Square strip(-60, -0.5, 60, 0.5);
    double s = 0, e = 0;
    ASSERT_EQ(profileFitBoundary(p.get(), &strip.b, 0.01, &s, &e), 0);
    EXPECT_LT(s, 0.0);
    EXPECT_GT(e, 0.0);
    // Upwards the offset's first end point, at y = -1 + e / sqrt(5), is the last to leave the strip.
    EXPECT_NEAR(e, 1.5 * std::sqrt(5.0), 0.01);
    // Downwards every shifted segment lies below the strip beyond that same distance.
    EXPECT_GE(s, -1.5 * std::sqrt(5.0) - 0.01);
}
