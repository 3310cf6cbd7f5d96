// One plane's dispatch and what the output adds around a strategy's path:
// CUT-list choice, entry kinds, leaving moves.
#include "pocket/pocketplane.h"

#include <algorithm>

#include "kernel/base/rng.h"
#include "nogouge_util.h"
#include "pocket/movechain.h"
#include "pocketnc_util.h"

// Step widths against the tool diameter 10, and fillet radii against the tolerance (the epsilon, 1e-4 when
// it is not above 0), at the edges of the three rules.
TEST(PocketPlane, CutListsChoice) {
    struct Case {
        double step, fillet;
        int complete, toolType, open, wanted;
        double epsilon;
    } cases[] = {
        {5.0, 0, 1, 0, 0, 0, 1e-4},    {5.01, 0, 1, 0, 0, 1, 1e-4},      {4.0, 0.01, 1, 0, 0, 1, 1e-4},
        {3.0, 0, 0, 1, 0, 0, 1e-4},    {3.01, 0, 0, 1, 0, 1, 1e-4},      {2.0, 0.01, 1, 0, 1, 1, 1e-4},
        {6.0, 0, 0, 0, 0, 0, 1e-4},    {1.99, 0.01, 1, 0, 1, 0, 1e-4},   {4.0, 0.00005, 1, 0, 0, 0, 1e-4},
        {4.0, 1e-4, 1, 0, 0, 0, 1e-4}, {4.0, 0.00005, 1, 0, 0, 1, 1e-5}, {4.0, 0.00005, 1, 0, 0, 0, 0}};
    for (const Case& c : cases) {
        PocketErrors errors;
        CcpParams& p = kvCCPParams;
        p.toolDiameter = 10;
        p.infeedLength = c.step;
        p.filletRadius = c.fillet;
        p.completePocket = c.complete;
        p.considerToolType = c.toolType;
        pocketKernel().openMode = c.open;
        p.epsilon = c.epsilon;
        EXPECT_EQ(pocketPlaneWantsCutLists(), c.wanted) << c.step << " " << c.fillet << " " << c.epsilon;
    }
}

// A plane starts growing its offset retries, and an open plane whose open sides are not the stock's
// boundary drops the approach from outside. The flush closes an open section of the pocket-contour mode
// (here the open planes), and only in that mode.
TEST(PocketPlane, PrepareSetsRetryModeAndApproach) {
    const struct {
        int32_t open, stock, approach;
    } cases[] = {{0, 0, 1}, {1, 0, 0}, {1, 1, 0}, {1, kCcpStockForce, 1}, {1, kCcpStockOnly, 1}};
    for (const auto& c : cases) {
        NcPlane plane;
        pocketKernel().pocketContour = c.open;
        pocketOffsetState().growMode = 0;
        pocketKernel().openMode = c.open;
        kvCCPParams.stock = c.stock;
        kvCCPParams.approachType = 1;
        kvCCPParams.toolDiameter = 10;
        pocketPlanePrepare();
        EXPECT_EQ(pocketOffsetState().growMode, 1);
        EXPECT_EQ(kvCCPParams.approachType, c.approach) << c.open << " " << c.stock;
        pocketSectionMark(1);
        pocketPlaneFinish();
        EXPECT_EQ(indexOf("pocket", "end") >= 0, c.open == 1);
    }
}

// The plane's start: a given one is kept only inside the pocket (inside the outer boundary, outside its
// islands, or in a pocket within an island) or anywhere on an open plane; a circular pocket without one
// starts at its centre unless it is cut outside-in directly. The plane keeps the tool's step, takes its top
// from MAIN's first contour and collects its moves only outside-in, a move list for outside-in and stock
// outside-in alike.
TEST(PocketPlane, PrepareKeepsAStartOnlyWithRoom) {
    const struct {
        Vec2 start;
        int32_t given, open, kept;
    } starts[] = {{{20, 20}, 1, 0, 1},  {{36, 50}, 1, 0, 0}, {{50, 50}, 1, 0, 1},
                  {{150, 50}, 1, 0, 0}, {{50, 50}, 1, 1, 1}, {{20, 20}, 0, 0, 0}};
    for (const auto& c : starts) {
        PocketErrors errors;
        ASSERT_TRUE(clistCreate("MAIN"));
        ContourHeader h{};
        h.top = 12;
        ASSERT_TRUE(putContour("MAIN", polygon({{0, 0}, {100, 0}, {100, 100}, {0, 100}}), h));
        ASSERT_TRUE(putContour("MAIN", polygon({{30, 30}, {30, 70}, {70, 70}, {70, 30}}), h));
        ASSERT_TRUE(putContour("MAIN", polygon({{44, 44}, {56, 44}, {56, 56}, {44, 56}}), h));
        PocketKernel& k = pocketKernel();
        k.startX = c.start.x;
        k.startY = c.start.y;
        k.startGiven = c.given;
        k.openMode = c.open;
        k.stepFactor = 0.37;
        kvCCPParams.toolDiameter = 10;
        pocketPlanePrepare();
        EXPECT_EQ(k.startGiven, c.kept) << c.start.x << " " << c.open;
        EXPECT_EQ(k.stepFactor, 0.37);
        EXPECT_EQ(pocketOutputState().levelTop, 12);
        pocketPlaneFinish();
    }
    const struct { int32_t direct, given, centred; } circles[] = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}};
    for (const auto& c : circles) {
        PocketErrors errors;
        ASSERT_TRUE(clistCreate("MAIN"));
        ASSERT_TRUE(
            putContour("MAIN", {arcElem(7, 8, 30, 0, M_PI, 1), arcElem(7, 8, 30, M_PI, 2 * M_PI, 1)}));
        PocketKernel& k = pocketKernel();
        k.outsideInDirect = c.direct;
        k.startGiven = c.given;
        k.startX = k.startY = 9;
        kvCCPParams.toolDiameter = 10;
        pocketPlanePrepare();
        EXPECT_EQ(k.startX, c.centred ? 7 : 9) << c.direct << c.given;
        EXPECT_EQ(k.startY, c.centred ? 8 : 9);
        EXPECT_EQ(k.startGiven, c.centred || c.given);
        pocketPlaneFinish();
    }
    const struct { int32_t outsideIn, stockOutin; } collect[] = {{0, 0}, {1, 0}, {0, 1}};
    for (const auto& c : collect) {
        PocketErrors errors;
        ASSERT_TRUE(clistCreate("MAIN"));
        pocketKernel().outsideIn = c.outsideIn;
        pocketKernel().stockOutin = c.stockOutin;
        pocketPlanePrepare();
        EXPECT_EQ(pocketOutputState().moveList != nullptr, c.outsideIn || c.stockOutin);
        EXPECT_EQ(pocketOutputState().collectMode, c.outsideIn);
        EXPECT_EQ(pocketOutputState().levelTop, -1e300);
        pocketPlaneFinish();
        EXPECT_EQ(pocketOutputState().moveList, nullptr);
        EXPECT_EQ(pocketOutputState().collectMode, 0);
    }
    PocketErrors errors;
    kvCCPParams.toolDiameter = 0;  // no tool: no step ratio to judge
    kvCCPParams.infeedLength = 4;
    kvCCPParams.completePocket = 1;
    EXPECT_EQ(pocketPlaneWantsCutLists(), 0);
}

// Two passes along the x axis (the second starts at the first's end), with
// the entry kind each one is written with.
TEST(PocketNc, EntryKinds) {
    struct Case {
        int32_t id, open, rif, stockOutin, tag, orientation;
        int before;  // where the first pass starts: 1 the end of a cut move, 2 0.05 off an open INPUT side
        const char *first, *second;
    } cases[] = {{0, 0, 0, 0, 0, 1, 0, "drill", "drill"},     {0, 1, 0, 0, 0, 1, 0, "left", "left"},
                 {0, 1, 0, 0, 0, -1, 0, "right", "right"},    {0, 0, 1, 0, 0, 1, 0, "plunge", "plunge"},
                 {1001, 0, 0, 0, 0, 1, 0, "drill", "plunge"}, {1002, 0, 0, 0, 0, 1, 0, "plunge", "plunge"},
                 {0, 0, 0, 1, -1, 1, 0, "plunge", "plunge"},  {0, 0, 0, 1, 0, 1, 0, "drill", "right"},
                 {0, 0, 0, 1, 0, -1, 0, "drill", "left"},     {0, 0, 0, 1, 0, -1, 1, "left", "left"},
                 {0, 0, 0, 1, 0, 1, 2, "right", "right"}};
    const int32_t savedId = kvCCP.cycleId;
    for (const Case& c : cases) {
        NcPlane plane;
        kvCCP.cycleId = c.id;
        kvCCPParams.evaluateRif = c.rif;
        kvCCPParams.orientation = c.orientation;
        pocketKernel().openMode = c.open;
        pocketKernel().stockOutin = c.stockOutin;
        if (c.stockOutin) pocketOutputState().moveList = moveChainCreate(8);
        ContourElement before = lineElem(-30, 0, 0, 0), side = lineElem(-0.05, -10, -0.05, 10, -1);
        if (c.before == 1) moveChainAppend(pocketOutputState().moveList, &before, 0);
        ASSERT_TRUE(c.before != 2 || (clistCreate("INPUT") && putContour("INPUT", {side})));
        pocketNcHeader();
        for (double x : {0.0, 30.0}) {
            ContourElement e = lineElem(x, 0, x + 30, 0, c.tag);
            pocketEmitElement(&e);
            pocketContourEnd();
        }
        std::vector<std::string> kinds;
        for (const Rec& r : log())
            if (r.name == "start") kinds.push_back(r.value);
        EXPECT_EQ(kinds, (std::vector<std::string>{c.first, c.second}))
            << c.id << c.open << c.rif << c.tag << c.before;
    }
    kvCCP.cycleId = savedId;
}

// A pass along y = 5 in a 100 x 40 pocket, tool radius 5: the leaving move
// (perpendicular or quarter circle) is halved until the tool at its end keeps
// 5 from every wall and it crosses none (the top wall, the first element, too);
// the expected end comes from the rectangle in closed form.
TEST(LeaveMove, FitHalvesUntilClear) {
    PocketErrors errors;
    ASSERT_EQ(clistCreate("INPUT"), 1);
    ASSERT_TRUE(putContour("INPUT", polygon({{100, 40}, {0, 40}, {0, 0}, {100, 0}})));
    pocketKernel().toolRadius = 5;
    pocketKernel().wantedOrientation = 1;
    const double clear = 5 - 1e-4;
    rngResetState();
    ContourElement pass = lineElem(20, 5, 60, 5);
    for (int trial = 0; trial < 200; ++trial) {
        const int32_t type = trial % 2 ? 3 : 1;
        const double len = 0.5 * std::exp(rngUniform() * std::log(40000.0));
        int found = 0;
        Vec2 end{};
        for (int h = 0; h < 10 && !found; ++h) {
            double f = std::pow(0.5, h), a = M_PI / 2 * f;
            end =
                type == 1 ? Vec2{60, 5 + len * f} : Vec2{60 + len * std::sin(a), 5 + len - len * std::cos(a)};
            found = end.x >= clear && end.y >= clear && 100 - end.x >= clear && 40 - end.y >= clear;
        }
        ContourElement out{};
        ASSERT_EQ(leaveMoveFit(type, len, &pass, &out), found) << type << " " << len;
        if (!found) continue;
        EXPECT_NEAR(out.g[type == 1 ? kLx2 : kAex], end.x, 1e-7) << type << " " << len;
        EXPECT_NEAR(out.g[type == 1 ? kLy2 : kAey], end.y, 1e-7) << type << " " << len;
    }
}

// A plane dispatched to axisParallel, written directly and collected
// outside-in: the tool swept along the written passes stays in the pocket
// (GEOS), the plane keeps its step through the kernel reset, and the replay
// cuts the same moves backwards.
TEST(PocketPlane, DispatchedPlaneStaysInThePocket) {
    std::vector<size_t> moves;
    std::vector<Rec> firstEntry, lastCut;
    for (int outsideIn = 0; outsideIn < 2; ++outsideIn) {
        NcPlane plane;
        ASSERT_EQ(clistCreate("MAIN"), 1);
        ContourHeader h{};
        h.leftSide = 1;
        ASSERT_TRUE(putContour("MAIN", polygon({{0, 0}, {100, 0}, {100, 60}, {0, 60}}), h) &&
                    putContour("MAIN", polygon({{40, 20}, {40, 40}, {60, 40}, {60, 20}}), h));
        PocketKernel& k = pocketKernel();
        k.toolRadius = 4;
        k.wantedOrientation = 1;
        k.axisParallel = 1;
        k.outsideIn = outsideIn;
        EXPECT_EQ(pocketPlane(), 1);
        EXPECT_DOUBLE_EQ(k.stepFactor, 0.4);
        std::vector<int> t = types(31);
        moves.push_back(std::count(t.begin(), t.end(), 3111) + std::count(t.begin(), t.end(), 3121));
        Vec2 end{1e300, 0};  // of the last cut: a new entry is made only where the path breaks off
        for (const Rec& r : records(31)) {
            if (r.type == 3101 && firstEntry.size() == static_cast<size_t>(outsideIn))
                firstEntry.push_back(r);
            EXPECT_TRUE(r.type != 3101 || std::hypot(r.x - end.x, r.y - end.y) > 1e-4) << outsideIn;
            if (r.type == 3111 || r.type == 3121) {
                lastCut.resize(outsideIn + 1);
                lastCut[outsideIn] = r;
                end = {r.x, r.y};
            }
        }
        std::vector<std::vector<Vec2>> paths = passes();
        ASSERT_FALSE(paths.empty());
#ifdef KV_HAVE_GEOS
        const std::string pocket = "POLYGON((0 0,100 0,100 60,0 60,0 0),(40 20,40 40,60 40,60 20,40 20))";
        EXPECT_LT(sweptOutside(paths, 4, pocket), 1e-3) << outsideIn;
        EXPECT_GT(sweptOutside(paths, 5, pocket), 1.0) << outsideIn;  // a larger tool would not fit
#endif
    }
    EXPECT_EQ(moves[0], moves[1]);
    // The replay starts where the direct path ended.
    ASSERT_TRUE(firstEntry.size() == 2 && lastCut.size() == 2);
    EXPECT_TRUE(std::hypot(firstEntry[1].x - lastCut[0].x, firstEntry[1].y - lastCut[0].y) < 1e-9);
}
