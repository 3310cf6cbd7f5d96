#include "contour/offsetboundary.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "KVWOG5/wogerr.h"
#include "chain_util.h"
#include "contour/offsetcontour.h"
#include "workfolder.h"

using ctest::chain;

namespace {

struct Result {
    int rc;
    std::vector<Seg2D> out;
};

Result offset(const std::vector<Seg2D>& in, double d, int side) {
    Result r;
    r.out.resize(4 * in.size() + 10);
    r.rc = offsetBoundary(in.data(), static_cast<int32_t>(in.size()), d, r.out.data(), side,
                          static_cast<int32_t>(r.out.size()));
    r.out.resize(r.rc > 0 ? static_cast<size_t>(r.rc) : 0);
    return r;
}

std::string readFile(const char* name) {
    std::ifstream f(name);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void expectSame(const std::vector<Seg2D>& a, const Seg2D* b, int n) {
    ASSERT_EQ(static_cast<int>(a.size()), n);
    for (int k = 0; k < n; k++) {
        EXPECT_DOUBLE_EQ(a[k].x1, b[k].x1);
        EXPECT_DOUBLE_EQ(a[k].y1, b[k].y1);
        EXPECT_DOUBLE_EQ(a[k].x2, b[k].x2);
        EXPECT_DOUBLE_EQ(a[k].y2, b[k].y2);
    }
}

class OffsetBoundary : public ::testing::Test {
  protected:
    void SetUp() override {
        offsetBoundaryResetState();
        offsetContourResetState();
        std::remove("problem.bnd");
    }
};

// Counter-clockwise L: one reflex corner at (10, 10).
const std::vector<Vec2> kL{{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}, {0, 0}};

}  // namespace

TEST_F(OffsetBoundary, OneElementFails) {
    auto in = chain({{0, 0}, {10, 0}});
    EXPECT_EQ(offset(in, 1, 1).rc, -1);
    EXPECT_EQ(offsetBoundary(nullptr, 0, 1, nullptr, 1, 0), -1);
}

TEST_F(OffsetBoundary, PathFollowsOrientationAndSide) {
    auto in = chain(kL);
    // Side +1 on a counter-clockwise boundary: the polygon offset, one point at the reflex corner.
    auto r = offset(in, 2, 1);
    std::vector<Seg2D> poly(40);
    int np = offsetPolygonLoops(static_cast<int32_t>(in.size()), in.data(), 2, poly.data(), 1, 40);
    ASSERT_EQ(np, 6);
    expectSame(r.out, poly.data(), np);
    // The element-chain offset would chamfer that corner instead.
    std::vector<Seg2D> ch(2 * in.size() + 1);
    EXPECT_EQ(offsetContour2D(in.data(), static_cast<int32_t>(in.size()), 2, ch.data(), 1, 0), 7);
    // Side -1: the element-chain offset.
    r = offset(in, 2, -1);
    int nc = offsetContour2D(in.data(), static_cast<int32_t>(in.size()), 2, ch.data(), -1, 0);
    ASSERT_GT(nc, 0);
    expectSame(r.out, ch.data(), nc);
}

TEST_F(OffsetBoundary, SmallDistanceNeverGetsTheSecondTry) {
    // A 10 x 10 square with 40 short steps on its bottom edge: the polygon offset drops them, so the
    // result has far fewer elements than the input and a distance above 0.01 is redone less 0.01.
    std::vector<Vec2> p{{0, 0}};
    for (int k = 1; k <= 40; k++) p.push_back(Vec2{2 + 0.006 * k, 0});
    for (Vec2 v : std::vector<Vec2>{{10, 0}, {10, 10}, {0, 10}, {0, 0}}) p.push_back(v);
    auto in = chain(p);
    struct Case {
        double d, bottom;
    };
    for (const Case& c : {Case{0.005, 0.005}, Case{0.01, 0.01}, Case{0.02, 0.01}, Case{1.0, 0.99}}) {
        auto r = offset(in, c.d, 1);
        ASSERT_GT(r.rc, 0) << c.d;
        ASSERT_GT(in.size(), 3.5 * r.rc) << c.d;  // the second try's condition holds throughout
        double bottom = 1e9;
        for (const Seg2D& e : r.out) bottom = std::min(bottom, std::min(e.y1, e.y2));
        EXPECT_NEAR(bottom, c.bottom, 1e-12) << c.d;
    }
}

TEST_F(OffsetBoundary, ResultThatDoesNotFitLeavesOutUntouched) {
    auto in = chain({{0, 0}, {100, 0}, {100, 100}, {0, 100}, {0, 0}});
    std::vector<Seg2D> out(3, Seg2D{7, 7, 7, 7});
    EXPECT_EQ(offsetBoundary(in.data(), 4, 5, out.data(), -1, 3), -1);  // 8 elements needed
    for (const Seg2D& e : out) EXPECT_EQ(e.x1, 7);
    std::vector<Seg2D> room(8);
    EXPECT_EQ(offsetBoundary(in.data(), 4, 5, room.data(), -1, 8), 8);
}

TEST_F(OffsetBoundary, WriteBndFileFormat) {
    auto in = chain({{0, 0}, {1.5, 0}, {1.5, 2.25}});
    ASSERT_EQ(writeBndFile("bnd_format.bnd", in.data(), 2, 2.5, -1), 1);
    EXPECT_EQ(
        readFile("bnd_format.bnd"),
        "**BND -1 2.500000\nX0.000000 Y0.000000 Z0\nX1.500000 Y0.000000 Z0\nX1.500000 Y2.250000 Z0\n**END\n");
    ASSERT_EQ(writeBndFile("bnd_empty.bnd", in.data(), 0, 1, 1), 1);
    EXPECT_EQ(readFile("bnd_empty.bnd"), "**BND 1 1.000000\n**END\n");
    EXPECT_EQ(writeBndFile("no_such_dir/x.bnd", in.data(), 2, 1, 1), 0);
    std::remove("bnd_format.bnd");
    std::remove("bnd_empty.bnd");
}

TEST_F(OffsetBoundary, TwentyNinthCallDumpsOnlyInDebugMode) {
    auto in = chain({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}});
    auto one = chain({{0, 0}, {1, 0}});
    // Every call counts, failing ones too.
    for (int k = 1; k <= 30; k++) offset(k % 2 ? one : in, 2.5, 1);
    EXPECT_EQ(std::fopen("problem.bnd", "r"), nullptr);

    std::ofstream("wogdebug_on.info") << "DEBUG 1\n";
    setenv("KV_WOGDEBUG_INFO", "wogdebug_on.info", 1);
    wogResetState();
    offsetBoundaryResetState();
    for (int k = 1; k <= 28; k++) offset(in, 1, 1);
    EXPECT_EQ(std::fopen("problem.bnd", "r"), nullptr);
    offset(in, 2.5, -1);
    const std::string dump = readFile("problem.bnd");
    EXPECT_EQ(dump.substr(0, dump.find('\n') + 1), "**BND -1 2.500000\n");
    EXPECT_NE(dump.find("X10.000000 Y10.000000 Z0\n"), std::string::npos);
    unsetenv("KV_WOGDEBUG_INFO");
    wogResetState();
    std::remove("problem.bnd");
    std::remove("wogdebug_on.info");
}
