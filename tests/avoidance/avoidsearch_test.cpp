#include "avoidance/avoidsearch.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "allocfail.h"
#include "avoidance/avoidhead.h"
#include "avoidance/axisintervals.h"
#include "collision/collassembly.h"
#include "kernel/base/rng.h"
#include "kernel/base/runreset.h"
#include "toolsolid.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

TEST(AvoidSearch, ChainsMarkEntriesThatMissANeighbour) {
    struct Case {
        std::vector<std::pair<double, double>> iv;
        int result;
        std::vector<int32_t> flags;
    } cases[] = {
        {{{0.1, 0.5}, {0.4, 0.9}, {0.8, 1.0}}, 1, {0, 0, 0}},
        {{{0.1, 0.3}, {0.4, 0.9}, {0.5, 1.0}},
         0,
         {-1, -1, 0}},  // the last is checked only by its predecessor
        {{{0.1, 0.5}, {0.4, 0.9}, {0.95, 1.0}}, 0, {0, -1, 0}},
        {{{0.5, 0.6}, {0.1, 0.2}, {0.1, 0.2}}, 0, {-1, -1, 0}},  // missing the one before, from below
        {{{0.1, 0.5}, {0.5, 0.9}}, 1, {0, 0}},                   // touching intervals meet
    };
    for (const Case& c : cases) {
        std::vector<AvoidEntry> e(c.iv.size() + 1, AvoidEntry{});  // spare room past the last entry
        e.back().flag = -2;
        for (size_t i = 0; i < c.iv.size(); ++i) {
            e[i].bMin = c.iv[i].first, e[i].bMax = c.iv[i].second;
            // The same intervals as C bands a whole turn apart: unwrapped, the chain is the same.
            e[i].cLow = c.iv[i].first + 2 * kPi * (i % 2), e[i].cHigh = c.iv[i].second + 2 * kPi * (i % 2);
        }
        std::vector<AvoidEntry> e2 = e;
        const int32_t n = static_cast<int32_t>(c.iv.size());
        AvoidTable t{n + 1, n, 0.0, 1.0, 0, e.data()}, t2{n + 1, n, 0.0, 1.0, 0, e2.data()};
        EXPECT_EQ(avoidCheckIntervalChain(&t), c.result);
        EXPECT_EQ(avoidCheckCBandChain(&t2), c.result);
        for (int32_t i = 0; i <= n; ++i)
            EXPECT_EQ(e[i].flag * 10 + e2[i].flag, (i < n ? c.flags[i] : -2) * 11) << i;
    }
}

// Short of memory for their scratch, both chains answer -1 and leave every flag as it was.
TEST(AvoidSearch, ChainsWithoutMemoryAnswerMinusOne) {
    for (auto chain : {avoidCheckIntervalChain, avoidCheckCBandChain}) {
        for (long n = 1; n <= 2; ++n) {
            std::vector<AvoidEntry> e(3, AvoidEntry{});
            e[0].bMax = e[0].cHigh = 0.1, e[1].bMin = e[1].cLow = 0.5;  // disjoint: flags would change
            e[1].bMax = e[1].cHigh = e[2].bMax = e[2].cHigh = 1.0;
            AvoidTable t{3, 3, 0.0, 1.0, 0, e.data()};
            allocfail::arm(n);
            const int r = chain(&t);
            const bool fired = allocfail::fired();
            allocfail::disarm();
            ASSERT_TRUE(fired) << n;
            EXPECT_EQ(r, -1) << n;
            for (const AvoidEntry& x : e) EXPECT_EQ(x.flag, 0) << n;
        }
    }
}

// Seeded bands and angles: membership modulo 2 pi against a scan over whole turns.
TEST(AvoidSearch, CInBandModuloFullTurns) {
    rngResetState();
    for (int k = 0; k < 500; ++k) {
        AvoidEntry e{};
        e.cLow = -10.0 + 20.0 * rngUniform();
        e.cHigh = e.cLow + (k % 5 == 0 ? 7.0 : 3.0) * rngUniform();
        const double c = -20.0 + 40.0 * rngUniform();
        bool want = e.cHigh - e.cLow >= 2 * kPi;
        for (int turn = -10; turn <= 10; ++turn)
            want =
                want || std::fabs(c + 2 * kPi * turn - 0.5 * (e.cLow + e.cHigh)) <= 0.5 * (e.cHigh - e.cLow);
        EXPECT_EQ(avoidCInBand(&e, c), want ? 1 : 0) << e.cLow << " " << e.cHigh << " " << c;
    }
    // Low, high, C and whether it is in.
    const double edges[][4] = {{0.5, 1, 0.5, 1},
                               {0.5, 1, 1, 1},
                               {0.5, 1, 0.49, 0},
                               {0.5, 1, 1.01, 0},  // at the ends, just past
                               {0, 2 * kPi, 1, 1},
                               {1, 1 + 0x1p-17, 1 + 9e-6, 1},
                               {1, 1 + 0x1p-15, 1 + 1.5e-5, 1},  // width limits
                               {0, 1e-5, -5e-6, 0},
                               {1, 1, 1 + 2 * kPi + 5e-6, 1},
                               {1, 1, 1 + 2e-5, 0},  // no width: its low end
                               {1, 10, 123, 1},
                               {1, 10, NAN, 0},
                               {1, 10, INFINITY, 0},
                               {1, INFINITY, 1, 0}};  // a full turn: every C
    for (const auto& c : edges) {
        AvoidEntry e{};
        e.cLow = c[0], e.cHigh = c[1];
        EXPECT_EQ(avoidCInBand(&e, c[2]), c[3]) << c[0] << " " << c[1] << " " << c[2];
    }
}

TEST(AvoidHead, RangesAndCollisionRuns) {
    const uint8_t kinds[] = {2, 0, 0, 10, 1, 2, 2, 0, 10};  // ranges: runs of kinds other than 2 and 10
    Plist* l = plistCreate(9, 1);
    ASSERT_NE(l, nullptr);
    for (int i = 0; i < 9; ++i) {
        const Vec3 p = {static_cast<double>(i), 0, 0};
        plistAppend(l, i, &p, static_cast<uint16_t>(kinds[i] << 8), nullptr, 0);
    }
    const int want[][4] = {{0, 1, 1, 2},
                           {3, 1, 4, 4},
                           {5, 1, 7, 7},
                           {8, 0, -1, -1},
                           {9, 0, -1, -1}};  // from, result, start, end
    for (const auto& w : want) {
        int32_t s = 0, e = 0;
        EXPECT_EQ(headAvoidNextRange(w[0], l, &s, &e), w[1]);
        EXPECT_EQ(s * 100 + e, w[2] * 100 + w[3]) << w[0];
    }
    plistFree(l);
    // Without an assembly nothing collides. A range of tilted axes is checked and left, and a one-point
    // range after it becomes a link; a range of vertical axes has no table: the path is checked whole
    // and the treatment ends there, the one-point range untouched.
    collAssemblyResetState();
    HeadAvoidParams hp;
    headAvoidParamsFromCycle(&hp, 1, 0, 0.1, 1.0, 2.0, 15.0, 15.0);
    for (const double tilt : {0.3, 0.0}) {
        Plist* v = plistCreate(4, 1);
        ASSERT_NE(v, nullptr);
        for (int i = 0; i < 4; ++i) {
            const Vec3 p = {double(i), 0, 0}, a = {std::sin(tilt), 0, std::cos(tilt)};
            plistAppend(v, i, &p, static_cast<uint16_t>((i == 2 ? 2 : 0) << 8), &a, 0);
        }
        EXPECT_EQ(avoidToolHeadCollision(v, &hp), 1);
        ASSERT_EQ(v->count, 4);
        EXPECT_EQ(v->flags[3] >> 8, tilt > 0 ? 2 : 0) << tilt;
        EXPECT_EQ(v->flags[1] >> 8, 0) << tilt;  // the range's own end stays as it was
        plistFree(v);
    }
    std::vector<AvoidEntry> en(10, AvoidEntry{});
    for (int i : {0, 1, 4, 6, 7, 8, 9}) en[i].state = 1;  // 9: spare room past the table's last entry
    AvoidTable t{10, 9, 0.0, 1.0, 0, en.data()};
    int32_t points = 0, s = 0, e = 0;
    EXPECT_EQ(headAvoidCountHits(&t, &points) * 10 + points, 36);
    for (const auto& r : {std::array<int, 3>{1, 1, 1}, {2, 4, 4}, {5, 6, 8}}) {  // from, start, end
        EXPECT_EQ(headAvoidNextHitRun(&t, r[0], &s, &e), 1);
        EXPECT_EQ(s * 100 + e, r[1] * 100 + r[2]) << r[0];
    }
    headAvoidClearStates(&t);
    EXPECT_EQ(headAvoidCountHits(&t, &points) + headAvoidNextHitRun(&t, 0, &s, &e), 0);
    EXPECT_EQ(s * 100 + e, -101);  // none: both -1
}

// Failed runs (x) grow: the 9 entries before the first run, the gap to the next run when it starts less
// than 20 after the last one ended, and the tail when the last run ends less than 10 before the count
// (not after a run ending at 0).
TEST(AvoidHead, FailedRunsWidenBeforeBetweenAndAfter) {
    const std::pair<std::string, std::string> cases[] = {
        {"............xx................", "...xxxxxxxxxxx................"},
        {".....x..................x.....", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
        {"..........x...................x.........", ".xxxxxxxxxx...................x........."},
        {"x.........", "x........."},
        {"x.....x....................", "xxxxxxx...................."},  // a gap after a run at 0 closes
        {"..........", ".........."},
        {"..x.........", "xxx........."},
        {"...x........", "xxxxxxxxxxxx"},
        {"........x.....................", "xxxxxxxxx....................."},
        {".........x....................", "xxxxxxxxxx...................."},
        {"x.............................x", "x.............................x"},
        {"..........x...................x.x.......",
         ".xxxxxxxxxx...................xxxxxxxxxx"},  // a gap of 20 stays open
    };
    for (const auto& [in, want] : cases) {
        // Guards before the first entry and past the last, marked failed: neither is read nor touched.
        std::vector<AvoidEntry> e(in.size() + 2, AvoidEntry{});
        e.front().flag = e.back().flag = -1;
        for (size_t i = 0; i < in.size(); ++i) e[i + 1].flag = in[i] == 'x' ? -1 : 1;
        const int32_t n = static_cast<int32_t>(in.size());
        AvoidTable t{n + 1, n, 0.0, 1.0, 0, e.data() + 1};
        widenFailedRuns(&t);
        std::string got;
        for (int32_t i = 1; i <= n; ++i) got += e[i].flag == -1 ? 'x' : e[i].flag == 1 ? '.' : '?';
        EXPECT_EQ(got, want) << in;
        EXPECT_EQ(e.front().flag * 10 + e.back().flag, -11) << in;
    }
}

// In the analytic mode the B interval pass keeps the free gap over the obstacle meshes that holds the
// lower end: every B in it is free of a plate lying across the tilts near 0.8, and the tilt just past
// its upper end meets the plate. The sampling mode asks the (empty) assembly and keeps the whole range.
TEST(AvoidSearch, AnalyticIntervalPassKeepsTheFreeGapOverTheMesh) {
    collAssemblyResetState();
    const Tool tool{{0.0, 10.0, 30.0}, {2.0, 2.0, 8.0}};
    const Vec3 p{1, 2, 3}, at{p.x + 25 * std::sin(0.8), p.y, p.z + 25 * std::cos(0.8)};
    const std::vector<Triangle3D> plate = {
        Triangle3D{{{at.x - 1, at.y - 3, at.z}, {at.x + 1, at.y - 3, at.z}, {at.x, at.y + 3, at.z + 0.5}}}};
    TriList* tl = triListCreate(1);
    ASSERT_NE(tl, nullptr);
    triListAdd(tl, &plate[0]);
    AxisObstacleModel* m = axisModelCreate(tl, 3, tool.z.data(), tool.r.data());
    triListFree(tl);
    ASSERT_NE(m, nullptr);
    axisIntervalsResetState();
    axisIntervalsSetModel(0, m);
    const auto axis = [](double b) { return Vec3{std::sin(b), 0, std::cos(b)}; };
    for (const int analytic : {1, 0}) {
        analytic ? avoidSetAnalytic(1) : avoidSearchResetState();  // the reset leaves sampling on
        AvoidEntry e{};
        e.b = 0.4, e.bMin = 0.0, e.bMax = 1.2, e.c = 0.0;
        ASSERT_TRUE(avoidIntervalPass(&e, &p, 0.0)) << analytic;
        EXPECT_EQ(e.bMin, 0.0);
        if (!analytic) {
            EXPECT_EQ(e.bMax, 1.2);
            continue;
        }
        ASSERT_TRUE(e.bMax > 0.4 && e.bMax < 0.8) << e.bMax;
        for (double b = 0.0; b <= e.bMax; b += 0.01) EXPECT_FALSE(toolHits(tool, p, axis(b), plate)) << b;
        EXPECT_TRUE(toolHits(tool, p, axis(e.bMax + 0.005), plate)) << e.bMax;
    }
    // A wall across the swing line, nearer than the cutter's radius, blocks every B: no gap, and the
    // range closes on its lower end.
    const Triangle3D wall{
        {{p.x + 100, p.y + 1, p.z}, {p.x - 100, p.y + 1, p.z - 100}, {p.x - 100, p.y + 1, p.z + 100}}};
    tl = triListCreate(1);
    ASSERT_NE(tl, nullptr);
    triListAdd(tl, &wall);
    AxisObstacleModel* walled = axisModelCreate(tl, 3, tool.z.data(), tool.r.data());
    triListFree(tl);
    ASSERT_NE(walled, nullptr);
    axisIntervalsSetModel(0, walled);
    avoidSetAnalytic(1);
    AvoidEntry e{};
    e.b = 0.4, e.bMin = 0.0, e.bMax = 1.2;
    EXPECT_FALSE(avoidIntervalPass(&e, &p, 0.0));
    EXPECT_EQ(e.bMin, 0.0);
    EXPECT_EQ(e.bMax, 0.0);
    runResetAll();
    axisModelFree(walled);
    axisModelFree(m);
}
