// Whole pocket runs on the pockets users met trouble with, judged by the GEOS
// oracle: no helix through a wall, every arc's ends on its circle,
// axis-parallel passes that reach the whole pocket, complete pockets without
// bands left between rings, outside-in direct without cutting rings twice, and
// a deeper pocket cut to its own allowance.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pocket/whole/pocketoracle_util.h"
#include "pocket/zoo/zooshapes.h"

#ifdef KV_HAVE_GEOS

namespace {

JobContour pocketOf(std::vector<JobSeg> segs, bool island = false) {
    JobContour c{std::move(segs), island, 0, -6};
    return c;
}

// A star of the given points and radii about (60, 50) with a box island and a round one inside.
std::vector<JobContour> starWithIslands(int points, double outer, double inner) {
    std::vector<Vec2> star;
    for (int i = 0; i < 2 * points; ++i) {
        const double a = M_PI * i / points, r = i % 2 ? inner : outer;
        star.push_back({60 + r * std::cos(a), 50 + r * std::sin(a)});
    }
    return {pocketOf(polyline(star)), pocketOf(polyline(zoo::box({48, 40}, {56, 48})), true),
            pocketOf(zoo::circle({70, 58}, 4, 0.5).segs, true)};
}

const char* const kStrategies[] = {"contourParallel", "outsideIn",  "outsideInDirect",
                                   "axisParallel",    "stockOutin", "openPocket"};

}  // namespace

// An 80 x 11 slot, tool 10, allowance 0.2, helix radius 4: the helix has no room anywhere, so
// every strategy plunges straight and says so (1522, status 1) instead of cutting 3.8 into a wall.
TEST(PocketSound, HelixWithoutRoomPlungesStraight) {
    TempFolder folder;
    for (const char* strategy : kStrategies) {
        const PocketJob job =
            jobOf({pocketOf(polyline(zoo::box({0, 0}, {80, 11})))},
                  {{"strategy", strategy}, {"plungeType", "helical"}, {"helixRadius", "4"}});
        const JobRun run = runJob(job, folder.path());
        const Verdict v = judge(job, run);
        EXPECT_TRUE(v.sound()) << strategy << ": " << v.text();
        EXPECT_TRUE(v.path) << strategy;
        EXPECT_EQ(run.status, 1) << strategy;
        EXPECT_TRUE(sentMessage(run, "1522")) << strategy;
    }
}

// Outside-in on a circular pocket (it starts at the centre) and outside-in direct on an L with a
// round island: both ends of every arc lie on its circle, and no move gouges.
TEST(PocketSound, ArcsEndOnTheirCircles) {
    TempFolder folder;
    const struct {
        std::vector<JobContour> contours;
        const char* strategy;
    } cases[] = {
        {{pocketOf(zoo::circle({50, 50}, 40, 0.3).segs)}, "outsideIn"},
        {{pocketOf(polyline({{0, 0}, {90, 0}, {90, 30}, {30, 30}, {30, 70}, {0, 70}})),
          pocketOf(zoo::circle({16, 16}, 6, 1.0).segs, true)},
         "outsideInDirect"},
    };
    for (const auto& c : cases)
        for (const char* orientation : {"clockwise", "counterClockwise"}) {
            const PocketJob job = jobOf(c.contours, {{"strategy", c.strategy}, {"orientation", orientation}});
            const Verdict v = judge(job, runJob(job, folder.path()));
            EXPECT_EQ(v.badArcs, 0) << c.strategy << " " << orientation << ": " << v.text();
            EXPECT_TRUE(v.honest(true)) << c.strategy << " " << orientation << ": " << v.text();
        }
}

// Axis-parallel passes reach the whole pocket: a star with two islands (passes fragmented, arms not
// reached before), a box island 0.3 from a wall (no wall or island ring before), a slot 0.3 wider than
// the tool needs at stepover 0.75 (no path before).
TEST(PocketSound, AxisParallelReachesTheWholePocket) {
    TempFolder folder;
    const struct {
        std::vector<JobContour> contours;
        const char* step;
        const char* what;
    } cases[] = {
        {starWithIslands(5, 45, 20), "0.5", "star"},
        {{pocketOf(polyline(zoo::box({0, 0}, {100, 60}))),
          pocketOf(polyline(zoo::box({0.3, 20}, {20.3, 40})), true)},
         "0.5",
         "island 0.3 from a wall"},
        {{pocketOf(polyline(zoo::box({0, 0}, {80, 10.7})))}, "0.75", "slot"},
    };
    for (const auto& c : cases) {
        const PocketJob job = jobOf(
            c.contours, {{"strategy", "axisParallel"}, {"infeedFactor", c.step}, {"completePocket", "true"}});
        const Verdict v = judge(job, runJob(job, folder.path()));
        EXPECT_EQ(v.status, 0) << c.what;
        EXPECT_TRUE(v.honest(true)) << c.what << ": " << v.text();
    }
}

// A rounded rectangle 100 x 60 with corners of radius 15 at stepover 0.75: with completePocket nothing
// is left between the innermost rings (a closed band before), whichever strategy.
TEST(PocketSound, CompletePocketLeavesNoBand) {
    TempFolder folder;
    for (const char* strategy : {"contourParallel", "stockOutin", "openPocket"}) {
        const PocketJob job =
            jobOf({pocketOf(zoo::roundedRect({60, 40}, 100, 60, 15).segs)},
                  {{"strategy", strategy}, {"infeedFactor", "0.75"}, {"completePocket", "true"}});
        const Verdict v = judge(job, runJob(job, folder.path()));
        EXPECT_EQ(v.status, 0) << strategy;
        EXPECT_TRUE(v.honest(true)) << strategy << ": " << v.text();
    }
}

// Outside-in direct on a star with two islands: at most a twentieth of the feed runs again along
// moves already cut (about a quarter before: the steps inwards were sought behind the point where a
// ring was resumed, and reached over the part of it already cut).
TEST(PocketSound, OutsideInDirectCutsEachRingOnce) {
    TempFolder folder;
    const PocketJob job = jobOf(
        starWithIslands(6, 42, 24),
        {{"strategy", "outsideInDirect"}, {"orientation", "counterClockwise"}, {"completePocket", "true"}});
    const JobRun run = runJob(job, folder.path());
    const Verdict v = judge(job, run);
    EXPECT_TRUE(v.honest(true)) << v.text();
    const auto [feed, again] = retracedFeed(run);
    EXPECT_LT(again, 0.05 * feed) << again << " of " << feed;
}

// A box pocket with a deeper box in its floor: the deeper one's planes hold it first, and it keeps its
// own allowance there, not the first contour's (which left a band of 0.5 where 0 was asked, and cut
// 1.5 into a wall that asked to keep 1.5).
TEST(PocketSound, DeeperPocketKeepsItsOwnAllowance) {
    TempFolder folder;
    struct Case {
        double outer, inner;
        const char* strategy;
    };
    for (const Case& c : {Case{0.5, 0, "contourParallel"}, Case{0, 1.5, "axisParallel"},
                          Case{0.3, 0.1, "outsideIn"}}) {
        JobContour outer = pocketOf(polyline(zoo::box({20, 20}, {100, 80})));
        outer.allowance = c.outer;
        const JobContour inner{polyline(zoo::box({40, 35}, {80, 65})), false, -6, -9, c.inner};
        const PocketJob job = jobOf({outer, inner}, {{"toolDiameter", "8"},
                                                     {"depth", "9"},
                                                     {"infeedDepth", "3"},
                                                     {"strategy", c.strategy},
                                                     {"completePocket", "true"}});
        const Verdict v = judge(job, runJob(job, folder.path()));
        EXPECT_EQ(v.status, 0) << c.strategy;
        EXPECT_TRUE(v.honest(true)) << c.strategy << ": " << v.text();
    }
}

// Closed gabled pockets at a stepover above the tool radius, allowance 0.5, one with a box island: a
// closed stockOutin plane is cut contour-parallel, whose rings alone leave slivers on the middle line
// there (0.6 mm2 on the first); the complete pocket must clear them and everything along the island.
TEST(PocketSound, ClosedStockOutinWithAllowanceIsComplete) {
    TempFolder folder;
    const struct {
        double w, h, top, diameter;
        const char* step;
        bool island;
    } cases[] = {{115, 69.7, 73.1, 4.78, "0.54", false}, {105.8, 41.05, 51.03, 5.24, "0.55", true}};
    for (const auto& c : cases) {
        std::vector<JobContour> contours = {
            pocketOf(polyline({{0, 0}, {c.w, 0}, {c.w, c.h}, {c.w / 2, c.top}, {0, c.h}}))};
        if (c.island) contours.push_back(pocketOf(polyline(zoo::box({46.03, 13.64}, {59.79, 27.41})), true));
        const PocketJob job = jobOf(contours, {{"strategy", "stockOutin"},
                                               {"toolDiameter", std::to_string(c.diameter)},
                                               {"infeedFactor", c.step},
                                               {"planeAllowance", "0.5"},
                                               {"completePocket", "true"}});
        const Verdict v = judge(job, runJob(job, folder.path()));
        EXPECT_EQ(v.status, 0) << c.w;
        EXPECT_TRUE(v.honest(true)) << c.w << ": " << v.text();
    }
}

#endif
