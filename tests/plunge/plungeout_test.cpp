#include "plunge/plungeout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "avoidance/linkout.h"
#include "collision/meshutil.h"
#include "geometry/profile.h"
#include "kernel/cyc3d.h"
#include "kernel/idx5.h"
#include "kernel/msg.h"
#include "nctrace.h"
#include "plunge/cutlist.h"
#include "plunge/levelcurves.h"
#include "plunge/plungerows.h"
#include "plunge/plungerun.h"
#include "plunge/profile2d.h"
#include "sidetest.h"

namespace {

constexpr double kR = 2.5;       // ball radius
constexpr double kSide = 0.3;    // polar angle of the side paths
constexpr double kBlade = 0.62;  // polar angle of the blade plates, clear of the ball on the side paths
constexpr double kTop = 10.0;    // height of the start profile

// A vertical plate through the z axis at polar angle phi.
void plate(std::vector<Triangle3D>& t, double phi, double r0 = 5, double r1 = 40, double z0 = -5,
           double z1 = 25) {
    const double c = std::cos(phi), s = std::sin(phi);
    const Vec3 a{r0 * c, r0 * s, z0}, b{r1 * c, r1 * s, z0}, d{r1 * c, r1 * s, z1}, e{r0 * c, r0 * s, z1};
    t.push_back({{a, b, d}});
    t.push_back({{a, d, e}});
}

Profile2D* flatProfile(double z) {
    Profile2D* p = newProfile2D(2);
    p->points[0] = {5, z};
    p->points[1] = {200, z + 0.001};
    p->count = 2;
    recomputeProfile2DParams(p);
    return p;
}

// One level whose floor lies well below the plunges (it clips nothing of a ball tool).
LevelCurves* deepLevel() {
    const Vec3 h0{5, 0, -20}, h1{60, 0, -20}, s0{5, 0, kTop}, s1{60, 0, kTop};
    ProfileCurve* hub = profileLine(&h0, &h1);
    ProfileCurve* shroud = profileLine(&s0, &s1);
    HubShroud* pair = makeHubShroudPair(hub, shroud);
    profileFreeList(hub);
    profileFreeList(shroud);
    LevelCurves* set = newLevelCurves(1);
    addLevelCurve(set, pair, -1.0);
    freeHubShroud(pair);
    return set;
}

class PlungeOut : public ::testing::Test {
  protected:
    void SetUp() override { begin({}); }
    void TearDown() override {
        linkClearPointCallbacks();
        ncFreeChannels(&writer);
        cutListSetFree(rows);
        plistArrayFree(sides);
        freeProfile2D(start);
        freeLevelCurves(levels);
        cycleParamsResetState();
        plungeRunResetState();
        msgResetState();
        ncOutResetState();
    }
    void begin(const std::vector<std::pair<const char*, const char*>>& pairs) {
        cycleParamsResetState();
        plungeRunResetState();
        msgResetState();
        ncOutResetState();
        trace = nctrace::Trace{};
        nctrace::attach(&writer, &trace);
        setMessageLevel(nullptr, 9);
        KvList* list = nullptr;
        for (const auto& [k, v] : pairs) list = kvListAppend(list, k, v, kKvFile);
        list = kvListAppend(list, "*FRRADIUS", "2.5", kKvFile);
        list = kvListAppend(list, "*SICHEBENE", "40", kKvFile);
        list = kvListAppend(list, "*MACRO_EABST", "1", kKvFile);
        ASSERT_EQ(applyKeyValueList(list), 1);
        kvListFree(list);
        ASSERT_EQ(loadCycleConfig(nullptr), kCycleConfigOk);
        linkSetPointCallbacks(ncPointOut, ncListBegin, ncListEnd);
        linkSetAxisCallback(idx5SetPivotCallback);
        idx5ResetState();
        cycleParams()->tCutwidth = 2.0;
    }
    // Rows of the radial channel between the side paths, tops on the start profile.
    void buildRows() {
        sides = arrayOf({ray(-kSide, 21), none(), none(), ray(kSide, 21)});
        start = flatProfile(kTop);
        levels = deepLevel();
        rows = buildPlungeRows(sides, sides, start, 1.5);
        ASSERT_TRUE(rows);
        ASSERT_GT(rows->count, 3);
    }
    int output(CheckModel* part, CheckModel* stock = nullptr) {
        return plungePointsOutput(cycleNcCtx(), part, rows, start, sides, levels, stock, 0);
    }
    CycleRecord writer;
    nctrace::Trace trace;
    CutListSet* rows = nullptr;
    PlistArray* sides = nullptr;
    Profile2D* start = nullptr;
    LevelCurves* levels = nullptr;
};

// Distance from p to the plate at polar angle phi (a half plane bounded by the axis).
double plateDistance(const Vec3& p, double phi) {
    const double c = std::cos(phi), s = std::sin(phi);
    const double along = p.x * c + p.y * s, across = -p.x * s + p.y * c;
    return along >= 0 ? std::fabs(across) : std::hypot(along, across);
}

}  // namespace

// Plunge count, blocks, bottoms in the channel, unit axes and a ball that never enters a blade.
TEST_F(PlungeOut, EveryPlungeIsOneBlockInTheChannelClearOfTheBlades) {
    buildRows();
    std::vector<Triangle3D> t;
    plate(t, -kBlade);
    plate(t, kBlade);
    testmesh::Model blades(t, kBallMill, kR);
    ASSERT_EQ(output(&blades.m), 1);
    const int n = std::stoi(nctrace::messageValue(trace, kMsgDrillpoints));
    int stations = 0;
    for (int32_t i = 0; i < rows->count; ++i) stations += rows->lists[i]->count;
    EXPECT_EQ(n, stations);  // every station plunges: no stock, nothing raised past its top
    EXPECT_EQ(trace.blocks, n);
    const std::vector<nctrace::Move> bottom = nctrace::bottoms(trace);
    ASSERT_EQ(static_cast<int>(bottom.size()), n);
    for (const nctrace::Move& b : bottom) {
        const double phi = std::atan2(b.p.y, b.p.x), r = std::hypot(b.p.x, b.p.y);
        EXPECT_TRUE(phi >= -kSide - 1e-6 && phi <= kSide + 1e-6) << phi;
        EXPECT_TRUE(r >= 10 - 0.02 && r <= 30 + 1e-6) << r;  // the rows' arcs are chords
        EXPECT_NEAR(b.p.z, 0.0, 1e-6);
    }
    for (const nctrace::Move& m : trace.moves) {
        EXPECT_NEAR(vecLen3D(&m.axis), 1.0, 1e-6);
        for (double k = 0; k <= 10; k += 2.5) {
            const Vec3 q{m.p.x + k * m.axis.x, m.p.y + k * m.axis.y, m.p.z + k * m.axis.z};
            EXPECT_GE(plateDistance(q, kBlade), kR - 0.01);
            EXPECT_GE(plateDistance(q, -kBlade), kR - 0.01);
        }
    }
    EXPECT_EQ(nctrace::messageValue(trace, kMsgNoMacroPoints), "0");
}

TEST_F(PlungeOut, NoRowsReportsZeroDrillpoints) {
    std::vector<Triangle3D> t;
    plate(t, kBlade);
    testmesh::Model blades(t, kBallMill, kR);
    levels = deepLevel();
    EXPECT_EQ(plungePointsOutput(cycleNcCtx(), &blades.m, nullptr, nullptr, nullptr, levels, nullptr, 0), 1);
    EXPECT_EQ(nctrace::messageValue(trace, kMsgDrillpoints), "0");
    EXPECT_TRUE(trace.moves.empty());
}

// Blades pressed against the side paths leave no room for a departure: the plunges beside them are
// flagged, sent with 6232 and go straight back up; the count of them is the run's and starts afresh.
TEST_F(PlungeOut, BlockedDeparturesRetractStraightAndAreCountedPerRun) {
    buildRows();
    std::vector<Triangle3D> t;
    plate(t, -kSide - 0.05);
    plate(t, kSide + 0.05);
    testmesh::Model blades(t, kBallMill, kR);
    // The part model of the departure test is the run's own.
    CycleToolCtx* tool = cycleToolCtx();
    const CheckModel own = tool->model;
    tool->model.triangles = blades.m.triangles;
    tool->model.boxMin = blades.m.boxMin;
    tool->model.boxMax = blades.m.boxMax;
    for (int k = 0; k < 6; ++k) tool->model.bounds[k] = blades.m.bounds[k];
    ASSERT_EQ(output(&blades.m), 1);
    const int first = std::stoi(nctrace::messageValue(trace, kMsgNoMacroPoints));
    EXPECT_GT(first, 0);
    EXPECT_NE(std::find(trace.messages.begin(), trace.messages.end(), "6232,0"), trace.messages.end());
    int flagged = 0;
    for (int32_t i = 0; i < rows->count; ++i)
        for (int32_t k = 0; k < rows->lists[i]->count; ++k) {
            const CutRecord& r = rows->lists[i]->records[k];
            if (!r.mark) continue;
            ++flagged;
            EXPECT_EQ(r.top2.z, r.top.z);  // straight back to the top
        }
    EXPECT_EQ(flagged, first);
    // A second output in the same run adds to the count; a new run starts it again.
    ASSERT_EQ(output(&blades.m), 1);
    EXPECT_EQ(nctrace::messageCount(trace, kMsgNoMacroPoints), 2);
    EXPECT_GT(plungeOutNoMacroCount(), first);
    tool->model = own;              // the borrowed mesh is not the run's to free
    cycleParams()->bladeCount = 1;  // the run ends at once, after its per-run resets
    EXPECT_EQ(runPlungeCycle(nullptr), -1);
    EXPECT_EQ(plungeOutNoMacroCount(), 0);
}

// Return points and the stock test against a slab of stock above the hub: a flat tool comes down
// vertically, so its return point is the slab top; a tool wider than *T_CUTWIDTH meets the stock
// unless *CENTER_CUT skips the test.
TEST_F(PlungeOut, StockSlabGivesReturnPointsAndTheStockMessage) {
    struct Case {
        const char* centerCut;
        int message;
    } cases[] = {{"0", 1}, {"1", 0}};
    for (const Case& c : cases) {
        begin({{"*CENTER_CUT", c.centerCut}});
        std::vector<Triangle3D> slab = {{{{-60, -60, 4}, {60, -60, 4}, {60, 60, 4}}},
                                        {{{-60, -60, 4}, {60, 60, 4}, {-60, 60, 4}}}};
        testmesh::Model stock(slab, kEndMill, kR);
        CutRecordList* row = idx5CutListCreate(4);
        for (double x : {12.0, 14.0, 16.0}) {
            const Vec3 top{x, 0, kTop}, bottom{x, 0, 0};
            idx5CutListAdd(row, &top, &bottom, 0);
        }
        ASSERT_EQ(setReturnPoints(row, &stock.m), 1);
        for (int32_t i = 0; i < row->count; ++i) EXPECT_NEAR(row->records[i].top3.z, 4.0, 1e-6);
        cycleParams()->tCutwidth = 0.5;
        EXPECT_EQ(toolMeetsStock(&stock.m, row), 0);
        EXPECT_EQ(stock.m.tool->radius, kR);  // the test's own tool is given back
        for (int32_t i = 0; i < row->count; ++i) row->records[i].bottom.z = 5;  // above the stock
        setReturnPoints(row, &stock.m);
        EXPECT_EQ(toolMeetsStock(&stock.m, row), 1);
        setReturnPoints(row, nullptr);
        EXPECT_EQ(row->records[0].top3.z, kTop);
        idx5CutListFree(row);

        cycleParams()->tCutwidth = 2.0;
        buildRows();
        std::vector<Triangle3D> t;
        plate(t, kBlade);
        testmesh::Model blades(t, kBallMill, kR);
        cycleParams()->tCutwidth = 0.5;
        ASSERT_EQ(output(&blades.m, &stock.m), 1);
        EXPECT_EQ(nctrace::messageCount(trace, kMsgToolMeetsStock), c.message) << c.centerCut;
        cutListSetFree(rows);
        plistArrayFree(sides);
        freeProfile2D(start);
        freeLevelCurves(levels);
        rows = nullptr, sides = nullptr, start = nullptr, levels = nullptr;
    }
}

// A flat tool's bottoms are pulled out of a hub plane, its tops out of a cover above them.
TEST_F(PlungeOut, ClippingLiftsAFlatToolOntoTheHub) {
    std::vector<Triangle3D> hub = {{{{-60, -60, 1}, {60, -60, 1}, {60, 60, 1}}},
                                   {{{-60, -60, 1}, {60, 60, 1}, {-60, 60, 1}}}};
    std::vector<Triangle3D> cover = {{{{-60, -60, 12}, {60, -60, 12}, {60, 60, 12}}},
                                     {{{-60, -60, 12}, {60, 60, 12}, {-60, 60, 12}}}};
    testmesh::Model level(hub, kEndMill, kR), top(cover, kEndMill, kR);
    CutRecordList* row = idx5CutListCreate(2);
    const Vec3 t0{20, 0, kTop}, b0{20, 0, -1}, t1{20, 3, 9}, b1{20, 3, 0.5};
    idx5CutListAdd(row, &t0, &b0, 0);
    idx5CutListAdd(row, &t1, &b1, 0);
    ASSERT_EQ(clipPlunges(row, &level.m, &top.m), 1);
    EXPECT_NEAR(row->records[0].bottom.z, 1.0, 1e-6);
    EXPECT_NEAR(row->records[1].bottom.z, 1.0, 1e-6);
    // Both tops lie under the cover: a flat tool coming down onto it stops on its plane.
    EXPECT_NEAR(row->records[0].top.z, 12.0, 1e-6);
    EXPECT_NEAR(row->records[1].top.z, 12.0, 1e-6);
    idx5CutListFree(row);
}

// Row preparation: a row running against its own axis is turned; coinciding first bottoms refuse.
TEST_F(PlungeOut, PrepareRowOrientsAndRefusesCoincidentBottoms) {
    CutListSet* set = cutListSetCreate(2);
    CutRecordList* row = idx5CutListCreate(3);
    const Vec3 ta{10, 0, 5}, ba{10, 0, 0}, tb{10, 2, 3}, bb{10, 2, 4};  // b's axis points down: reversed
    idx5CutListAdd(row, &ta, &ba, 1);
    idx5CutListAdd(row, &tb, &bb, 1);
    cutListSetAdd(set, row, 0, 1.0);
    const Vec3 same{10, 0, 0};
    idx5CutListFree(row);
    row = idx5CutListCreate(2);
    idx5CutListAdd(row, &ta, &same, 0);
    idx5CutListAdd(row, &ta, &same, 0);
    cutListSetAdd(set, row, 0, 2.0);
    idx5CutListFree(row);
    PlistArray* edges = arrayOf({ray(-kSide, 21), none(), none(), ray(kSide, 21)});
    // First row: from (10,0) to (10,2) against an axis whose bottom-to-top is +z: 90 degrees, kept.
    EXPECT_EQ(prepareRow(set, 0, edges, kR, kR), 1);
    EXPECT_EQ(set->lists[0]->records[0].bottom.y, 0.0);
    set->lists[0]->records[0].top = {10, 5, -5};  // now the row runs along the axis's opposite
    EXPECT_EQ(prepareRow(set, 0, edges, kR, kR), 1);
    EXPECT_EQ(set->lists[0]->records[0].bottom.y, 2.0);
    EXPECT_EQ(prepareRow(set, 1, edges, kR, kR), -1);
    cutListSetFree(set);
    plistArrayFree(edges);
}

// *BLADE_STEPS -1 gives no edge paths; 2 gives every later row an edge path at each end, along which
// two more plunges go out, each in a block of its own.
TEST_F(PlungeOut, BladeStepsAddPlungesAlongTheEdgePaths) {
    for (const char* steps : {"-1", "2"}) {
        begin({{"*BLADE_STEPS", steps}});
        buildRows();
        std::vector<Triangle3D> t;
        plate(t, -kBlade);
        plate(t, kBlade);
        testmesh::Model blades(t, kBallMill, kR);
        ASSERT_EQ(output(&blades.m), 1);
        int paths = 0;
        for (int32_t i = 0; i < rows->count; ++i)
            for (int32_t k = 0; k < rows->lists[i]->count; ++k)
                paths += (rows->lists[i]->records[k].list1 != nullptr) +
                         (rows->lists[i]->records[k].list2 != nullptr);
        const int n = std::stoi(nctrace::messageValue(trace, kMsgDrillpoints));
        if (std::string(steps) == "-1") {
            EXPECT_EQ(paths, 0);
        } else {
            EXPECT_EQ(paths, 2 * (rows->count - 1));
        }
        EXPECT_EQ(trace.blocks, n + 2 * paths) << steps;
        cutListSetFree(rows);
        plistArrayFree(sides);
        freeProfile2D(start);
        freeLevelCurves(levels);
        rows = nullptr, sides = nullptr, start = nullptr, levels = nullptr;
    }
}
