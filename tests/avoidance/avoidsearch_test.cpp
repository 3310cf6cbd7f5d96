#include "avoidance/avoidsearch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "avoidance/avoidhead.h"
#include "geometry/rng.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

AvoidTable makeTable(std::vector<AvoidEntry>& e) {
    return AvoidTable{static_cast<int32_t>(e.size()), static_cast<int32_t>(e.size()), 0.0, 1.0, 0, e.data()};
}

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
        {{{0.1, 0.5}, {0.5, 0.9}}, 1, {0, 0}},  // touching intervals meet
    };
    for (const Case& c : cases) {
        std::vector<AvoidEntry> e(c.iv.size());
        for (size_t i = 0; i < e.size(); ++i) {
            e[i] = AvoidEntry{};
            e[i].bMin = c.iv[i].first, e[i].bMax = c.iv[i].second;
            // The same intervals as C bands, shifted by whole turns: the unwrapped chain is the same.
            e[i].cLow = c.iv[i].first + 2 * kPi * (i % 2), e[i].cHigh = c.iv[i].second + 2 * kPi * (i % 2);
        }
        std::vector<AvoidEntry> e2 = e;
        AvoidTable t = makeTable(e), t2 = makeTable(e2);
        EXPECT_EQ(avoidCheckIntervalChain(&t), c.result);
        EXPECT_EQ(avoidCheckCBandChain(&t2), c.result);
        for (size_t i = 0; i < e.size(); ++i) {
            EXPECT_EQ(e[i].flag, c.flags[i]) << i;
            EXPECT_EQ(e2[i].flag, c.flags[i]) << i;
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
            want = want || (c + 2 * kPi * turn >= e.cLow && c + 2 * kPi * turn <= e.cHigh);
        EXPECT_EQ(avoidCInBand(&e, c), want ? 1 : 0) << e.cLow << " " << e.cHigh << " " << c;
    }
    AvoidEntry z{};
    z.cLow = z.cHigh = 1.0;
    EXPECT_EQ(avoidCInBand(&z, 1.0 + 2 * kPi + 5e-6), 1);
    EXPECT_EQ(avoidCInBand(&z, 1.0 + 2e-5), 0);
}

TEST(AvoidHead, RangesAndCollisionRuns) {
    // Kinds along a path: ranges are the runs of kinds other than 2 and 10.
    const uint8_t kinds[] = {2, 0, 0, 10, 1, 2, 2, 0};
    Plist* l = plistCreate(8, 1);
    ASSERT_NE(l, nullptr);
    for (int i = 0; i < 8; ++i) {
        const Vec3 p = {static_cast<double>(i), 0, 0};
        plistAppend(l, i, &p, static_cast<uint16_t>(kinds[i] << 8), nullptr, 0);
    }
    const int want[][3] = {{0, 1, 2}, {3, 4, 4}, {5, 7, 7}};  // from, start, end
    for (const auto& w : want) {
        int32_t s = 0, e = 0;
        EXPECT_EQ(headAvoidNextRange(w[0], l, &s, &e), 1);
        EXPECT_EQ(s, w[1]);
        EXPECT_EQ(e, w[2]);
    }
    int32_t s = 0, e = 0;
    EXPECT_EQ(headAvoidNextRange(8, l, &s, &e), 0);
    EXPECT_EQ(s, -1);
    plistFree(l);

    std::vector<AvoidEntry> en(9);
    const uint32_t states[] = {1, 1, 0, 0, 1, 0, 1, 1, 1};
    for (int i = 0; i < 9; ++i) en[i] = AvoidEntry{}, en[i].state = states[i];
    AvoidTable t = makeTable(en);
    int32_t points = 0;
    EXPECT_EQ(headAvoidCountHits(&t, &points), 3);
    EXPECT_EQ(points, 6);
    EXPECT_EQ(headAvoidNextHitRun(&t, 1, &s, &e), 1);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(e, 1);
    EXPECT_EQ(headAvoidNextHitRun(&t, 2, &s, &e), 1);
    EXPECT_EQ(s, 4);
    EXPECT_EQ(e, 4);
    EXPECT_EQ(headAvoidNextHitRun(&t, 5, &s, &e), 1);
    EXPECT_EQ(e, 8);
    headAvoidClearStates(&t);
    EXPECT_EQ(headAvoidCountHits(&t, &points), 0);
    EXPECT_EQ(headAvoidNextHitRun(&t, 0, &s, &e), 0);
}
