#include "plunge/plungeout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "avoidance/linkout.h"
#include "channeltest.h"
#include "collision/collassembly.h"
#include "collision/collreport.h"
#include "collision/meshutil.h"
#include "kernel/cycle.h"
#include "kernel/idx5.h"
#include "kernel/msg.h"
#include "kernel/ncchan.h"
#include "nctrace.h"
#include "paramtest.h"
#include "platform/testenv.h"
#include "plunge/cutlist.h"
#include "plunge/levelcurves.h"
#include "plunge/plungerows.h"
#include "plunge/plungerun.h"
#include "plunge/profile2d.h"
#include "sidetest.h"
#include "surfaces/meshfiles/meshtest.h"

namespace {

constexpr double kR = 2.5, kSide = 0.3, kTop = 10.0;  // ball radius, side paths' polar angle, start height
constexpr double kBlade = 0.62;  // polar angle of the blade plates, clear of the ball on the side paths
using Tris = std::vector<Triangle3D>;

// Vertical plates through the z axis at the polar angles.
Tris plates(std::vector<double> angles) {
    Tris t;
    for (double phi : angles) {
        const double c = std::cos(phi), s = std::sin(phi);
        const Vec3 a{5 * c, 5 * s, -5}, b{40 * c, 40 * s, -5}, d{40 * c, 40 * s, 25}, e{5 * c, 5 * s, 25};
        t.push_back({{a, b, d}});
        t.push_back({{a, d, e}});
    }
    return t;
}

Tris plane(double z) {
    return {{{{-60, -60, z}, {60, -60, z}, {60, 60, z}}}, {{{-60, -60, z}, {60, 60, z}, {-60, 60, z}}}};
}

// Distance from p to the plate at polar angle phi (a half plane bounded by the axis).
double plateDistance(const Vec3& p, double phi) {
    const double along = p.x * std::cos(phi) + p.y * std::sin(phi),
                 across = -p.x * std::sin(phi) + p.y * std::cos(phi);
    return along >= 0 ? std::fabs(across) : std::hypot(along, across);
}

nctrace::Trace* gTrace = nullptr;
template <int Channel>
int onRecord(CycleRecord*, NcRecord* r) {
    gTrace->add(Channel, r);
    return 1;
}

// A radial channel: side paths at -+kSide from r 10 to 30 at z 0, one level from the hub at z 0 to the
// start profile at kTop, the rows between the sides.
class PlungeOut : public ::testing::Test {
  protected:
    void SetUp() override { begin({}); }
    void TearDown() override {
        drop();
        linkClearPointCallbacks();
        ncFreeChannels(&writer);
        reset();
    }
    static void reset() {
        cycleParamsResetState();
        plungeRunResetState();
        msgResetState();
        ncOutResetState();
    }
    void begin(const Pairs& pairs) {
        drop();
        reset();
        trace = nctrace::Trace{};
        gTrace = &trace;
        writer.parent = &cycleRootRecord;
        writer.frameVersion = kFrameVersion;
        ncFreeChannels(&writer);
        ASSERT_EQ(ncRegisterHandler(&writer, 0, onRecord<0>, acceptRecord, 1), 1);
        ASSERT_EQ(ncRegisterHandler(&writer, 12, onRecord<12>, acceptRecord, 1), 1);
        ASSERT_EQ(ncRegisterHandler(&writer, 31, onRecord<31>, acceptRecord, 1), 1);
        ncSetWriter(&writer);
        setMessageLevel(nullptr, 9);
        Pairs all = pairs;
        all.insert(all.end(), {{"*FRRADIUS", "2.5"}, {"*SICHEBENE", "40"}, {"*MACRO_EABST", "1"}});
        ASSERT_EQ(applyPairs(all), 1);
        ASSERT_EQ(loadCycleConfig(nullptr), kCycleConfigOk);
        linkSetPointCallbacks(ncPointOut, ncListBegin, ncListEnd);
        linkSetAxisCallback(idx5SetPivotCallback);
        idx5ResetState();
        cycleParams()->tCutwidth = 2.0;
        sides = arrayOf({ray(-kSide, 21), none(), none(), ray(kSide, 21)});
        HubShroud* pair = flatChannel(kTop, 5);
        start = copyProfile2D(pair->shroud);
        levels = newLevelCurves(1);
        addLevelCurve(levels, pair, -1.0);
        freeHubShroud(pair);
        rows = buildPlungeRows(sides, sides, start, 1.5);
        ASSERT_TRUE(rows && rows->count > 3);
    }
    void drop() {
        cutListSetFree(rows);
        plistArrayFree(sides);
        freeProfile2D(start);
        freeLevelCurves(levels);
        rows = nullptr, sides = nullptr, start = nullptr, levels = nullptr;
    }
    int output(CheckModel* part, CheckModel* stock = nullptr, CutListSet* set = nullptr) {
        return plungePointsOutput(cycleNcCtx(), part, set ? set : rows, start, sides, levels, stock, 0);
    }
    int stations() const {
        int n = 0;
        for (int32_t i = 0; i < rows->count; ++i) n += rows->lists[i]->count;
        return n;
    }
    CycleRecord writer;
    nctrace::Trace trace;
    CutListSet* rows = nullptr;
    PlistArray* sides = nullptr;
    Profile2D* start = nullptr;
    LevelCurves* levels = nullptr;
};

}  // namespace

// Every station plunges once, in a block of its own, inside the channel, with unit axes, and no
// position of the ball and its shank comes nearer a blade than the radius. No rows: "6509,0".
TEST_F(PlungeOut, EveryPlungeIsOneBlockInTheChannelClearOfTheBlades) {
    testmesh::Model blades(plates({-kBlade, kBlade}), kBallMill, kR);
    ASSERT_EQ(output(&blades.m), 1);
    const int n = std::stoi(trace.message(kMsgDrillpoints));
    EXPECT_EQ(n, stations());
    EXPECT_EQ(trace.blocks, n);
    EXPECT_EQ(trace.message(kMsgNoMacroPoints), "0");
    const std::vector<nctrace::Move> bottom = trace.bottoms();
    ASSERT_EQ(static_cast<int>(bottom.size()), n);
    for (const nctrace::Move& b : bottom) {
        EXPECT_LE(std::fabs(std::atan2(b.p.y, b.p.x)), kSide + 1e-6);
        const double r = std::hypot(b.p.x, b.p.y);
        EXPECT_TRUE(r >= 10 - 0.02 && r <= 30 + 1e-6) << r;  // the rows' arcs are chords
        EXPECT_NEAR(b.p.z, 0.0, 1e-6);
    }
    for (const nctrace::Move& m : trace.moves) {
        EXPECT_NEAR(vecLen3D(&m.axis), 1.0, 1e-6);
        for (double k = 0; k <= 10; k += 2.5) {
            const Vec3 q{m.p.x + k * m.axis.x, m.p.y + k * m.axis.y, m.p.z + k * m.axis.z};
            EXPECT_GE(std::min(plateDistance(q, kBlade), plateDistance(q, -kBlade)), kR - 0.01);
        }
    }
    trace = nctrace::Trace{};
    EXPECT_EQ(plungePointsOutput(cycleNcCtx(), &blades.m, nullptr, nullptr, nullptr, levels, nullptr, 0), 1);
    EXPECT_EQ(trace.message(kMsgDrillpoints), "0");
    EXPECT_TRUE(trace.moves.empty());
}

// Blades against the side paths leave no room for a departure: those plunges are flagged, reported
// with 6232 and 0, go straight back to their tops and are counted in 6510, a count of the whole run
// that the next run starts again.
TEST_F(PlungeOut, BlockedDeparturesRetractStraightAndAreCountedPerRun) {
    testmesh::Model blades(plates({-kSide - 0.05, kSide + 0.05}), kBallMill, kR);
    CycleToolCtx* tool = cycleToolCtx();  // the departure test reads the run's own part model
    const CheckModel own = tool->model;
    tool->model.triangles = blades.m.triangles;
    tool->model.boxMin = blades.m.boxMin, tool->model.boxMax = blades.m.boxMax;
    std::copy(blades.m.bounds, blades.m.bounds + 6, tool->model.bounds);
    ASSERT_EQ(output(&blades.m), 1);
    const int first = std::stoi(trace.message(kMsgNoMacroPoints));
    EXPECT_NE(std::find(trace.messages.begin(), trace.messages.end(), "6232,0"), trace.messages.end());
    int flagged = 0;
    for (int32_t i = 0; i < rows->count; ++i)
        for (int32_t k = 0; k < rows->lists[i]->count; ++k) {
            const CutRecord& r = rows->lists[i]->records[k];
            flagged += r.mark;
            EXPECT_TRUE(!r.mark || r.top2.z == r.top.z);
        }
    EXPECT_GT(first, 0);
    EXPECT_EQ(flagged, first);
    ASSERT_EQ(output(&blades.m), 1);
    EXPECT_GT(plungeOutNoMacroCount(), first);
    tool->model = own;              // the borrowed mesh is not the run's to free
    cycleParams()->bladeCount = 1;  // the run ends at once, after its per-run resets
    EXPECT_EQ(runPlungeCycle(nullptr), -1);
    EXPECT_EQ(plungeOutNoMacroCount(), 0);
}

// Closed forms on planes: a flat tool coming down vertically stops on a plane. Bottoms are lifted
// onto the hub plane, tops under a cover onto the cover, return points onto the stock top; a cutter
// wider than *T_CUTWIDTH meets the stock, which sends 6508 unless *CENTER_CUT skips the test.
TEST_F(PlungeOut, PlanesGiveClippedPlungesReturnPointsAndTheStockTest) {
    for (const char* centerCut : {"0", "1"}) {
        begin({{"*CENTER_CUT", centerCut}});
        testmesh::Model hub(plane(1), kEndMill, kR), cover(plane(12), kEndMill, kR),
            stock(plane(4), kEndMill, kR);
        CutRecordList* row = idx5CutListCreate(2);
        const Vec3 t0{20, 0, kTop}, b0{20, 0, -1}, t1{20, 3, 9}, b1{20, 3, 0.5};
        idx5CutListAdd(row, &t0, &b0, 0);
        idx5CutListAdd(row, &t1, &b1, 0);
        ASSERT_EQ(clipPlunges(row, &hub.m, &cover.m), 1);
        ASSERT_EQ(setReturnPoints(row, &stock.m), 1);
        for (int32_t i = 0; i < 2; ++i) {
            EXPECT_NEAR(row->records[i].bottom.z, 1.0, 1e-6);
            EXPECT_NEAR(row->records[i].top.z, 12.0, 1e-6);
            EXPECT_NEAR(row->records[i].top3.z, 4.0, 1e-6);
        }
        cycleParams()->tCutwidth = 0.5;
        EXPECT_EQ(toolMeetsStock(&stock.m, row), 0);
        EXPECT_EQ(stock.m.tool->radius, kR);                           // the test's own tool is given back
        for (int32_t i = 0; i < 2; ++i) row->records[i].bottom.z = 5;  // above the stock: nothing to meet
        setReturnPoints(row, &stock.m);
        EXPECT_EQ(toolMeetsStock(&stock.m, row), 1);
        idx5CutListFree(row);
        testmesh::Model blades(plates({kBlade}), kBallMill, kR);
        ASSERT_EQ(output(&blades.m, &stock.m), 1);
        EXPECT_EQ(trace.count(6508), centerCut[0] == '0' ? 1 : 0);
    }
}

// *BLADE_STEPS -1 gives no edge paths; 2 gives every later row an edge path at each end, along which
// two more plunges go out, each in a block of its own.
TEST_F(PlungeOut, BladeStepsAddPlungesAlongTheEdgePaths) {
    for (const char* steps : {"-1", "2"}) {
        begin({{"*BLADE_STEPS", steps}});
        testmesh::Model blades(plates({-kBlade, kBlade}), kBallMill, kR);
        ASSERT_EQ(output(&blades.m), 1);
        int paths = 0;
        for (int32_t i = 0; i < rows->count; ++i)
            for (int32_t k = 0; k < rows->lists[i]->count; ++k)
                paths += !!rows->lists[i]->records[k].list1 + !!rows->lists[i]->records[k].list2;
        EXPECT_EQ(paths, steps[0] == '-' ? 0 : 2 * (rows->count - 1));
        EXPECT_EQ(trace.blocks, std::stoi(trace.message(kMsgDrillpoints)) + 2 * paths) << steps;
    }
}

// The positions go to the collision report with the assembly check: a holder that reaches the blades
// is reported once (5511) and in the summary (5541); a slim one is not.
TEST_F(PlungeOut, AnOversizedHolderReachesTheCollisionReport) {
    TempFolder tmp("holder");
    const std::string contour = tmp / "parts.kvx", wall = tmp / "plates.stl";
    writeTextFile(wall, testmesh::stlText(plates({-kBlade, kBlade})));
    for (const char* radius : {"1", "30"}) {
        begin({{"*TOOL_COLL_CHECK", "1"}, {"*TOTAL_TOOL_LENGTH", "15"}});
        writeTextFile(contour, kvxText(std::string("o Contour[Holder]()\n{\no L(x[0/") + radius +
                                       "] y[0/0] z[0/0])\n" + "o L(x[/" + radius + "] y[/20] z[/0])\n}\n"));
        testmesh::Model blades(plates({-kBlade, kBlade}), kBallMill, kR);
        CollSetup setup{contour.c_str(), 0, nullptr, wall.c_str(), nullptr, nullptr, 0.5, 0.5, 0.5, 0.01};
        ASSERT_EQ(coll_setup_assembly(&blades.m, &cycleNcCtx()->tool, 0, &setup), 1);
        ASSERT_EQ(output(&blades.m), 1);
        collrep_print(cycleParams()->holdcheckMode);
        EXPECT_EQ(trace.count(5511), radius[0] == '1' ? 0 : 1) << radius;
        EXPECT_EQ(trace.count(5541), radius[0] == '1' ? 0 : 1) << radius;
        for (int other : {5510, 5512, 5513, 5540, 5542, 5543}) EXPECT_EQ(trace.count(other), 0);
        coll_free_models();
    }
}

// The first row's sideways vectors run from the direction of the side path at its first record to the
// direction of the other side path at its last, turned by equal angles in between (radial paths at
// -+kSide: horizontal directions at those polar angles).
TEST_F(PlungeOut, FirstRowTurnsItsSidewaysVectorsEvenlyBetweenTheSides) {
    ASSERT_EQ(prepareRow(rows, 0, sides, kR, 1.0), 1);
    const CutRecordList* row = rows->lists[0];
    const int32_t n = row->count;
    ASSERT_GE(n, 3);
    auto polar = [](const Vec3& p) { return std::atan2(p.y, p.x); };
    const double first = polar(row->records[0].bottom) < 0 ? -kSide : kSide;
    const Vec3 a = row->records[0].vector2, b = row->records[n - 1].vector2;
    EXPECT_NEAR(std::fabs(a.x * std::cos(first) + a.y * std::sin(first)), 1.0, 1e-9);
    EXPECT_NEAR(std::fabs(b.x * std::cos(-first) + b.y * std::sin(-first)), 1.0, 1e-9);
    EXPECT_GT(vecDot3D(&a, &b), 0.0);  // both the same way along the paths
    const double total = std::acos(std::clamp(vecDot3D(&a, &b), -1.0, 1.0));
    for (int32_t i = 0; i < n; ++i) {
        const Vec3& v = row->records[i].vector2;
        EXPECT_NEAR(vecLen3D(&v), 1.0, 1e-12);
        EXPECT_NEAR(v.z, 0.0, 1e-12);
        EXPECT_NEAR(std::acos(std::clamp(vecDot3D(&a, &v), -1.0, 1.0)), total * i / (n - 1), 1e-9) << i;
    }
}
