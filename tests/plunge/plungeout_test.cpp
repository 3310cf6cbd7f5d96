#include "plunge/plungeout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "avoidance/linkout.h"
#include "channeltest.h"
#include "collision/collassembly.h"
#include "collision/collreport.h"
#include "collision/meshutil.h"
#include "kernel/cycle/cycle.h"
#include "plunge/idx5.h"
#include "kernel/base/msg.h"
#include "kernel/ncout/ncchan.h"
#include "kernel/ncout/ncout.h"
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
    int output(CheckModel* part, CheckModel* stock = nullptr, CutListSet* set = nullptr,
               const HubShroud* hub = nullptr) {
        return plungePointsOutput(cycleNcCtx(), part, set ? set : rows, start, sides, levels, stock, 0, hub);
    }
    // The bottom and the departure of each plunge block that has one.
    std::vector<std::pair<Vec3, Vec3>> departures() const {
        std::vector<std::pair<Vec3, Vec3>> out;
        for (size_t i = 1; i + 1 < trace.moves.size(); ++i) {
            const nctrace::Move &b = trace.moves[i - 1], &m = trace.moves[i];
            const bool first = i < 2 || trace.moves[i - 2].block != b.block;
            if (b.block >= 0 && first && m.block == b.block && trace.moves[i + 1].block == b.block)
                out.push_back({b.p, m.p});
        }
        return out;
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
    CycleParams* p = cycleParams();
    p->linkFeed = 700, p->openFeed = 600, p->retractFeedrate = 800;
    CutListSet* full = cutListSetCreate(rows->count);  // filled to capacity: no row past it is read
    for (int32_t i = 0; i < rows->count; ++i)
        cutListSetAdd(full, rows->lists[i], rows->keys[i], rows->values[i]);
    ASSERT_EQ(full->count, full->capacity);
    cutListSetFree(rows), rows = full;
    static int polls = 0;
    // The host is asked before every row: before the first row's records change at all.
    static CutRecord seen, *first;
    first = &rows->lists[0]->records[0];
    const CutRecord before = *first;
    const double active = ncCurrentFeed();
    setAbortHook([] { return polls++ ? 0 : (seen = *first, 0); });
    ASSERT_EQ(output(&blades.m), 1);
    setAbortHook(nullptr);
    EXPECT_EQ(std::memcmp(&seen, &before, offsetof(CutRecord, mark) + sizeof before.mark), 0);  // no padding
    EXPECT_EQ(ncSetFeedFromKernel(), -1);  // every feed set for a move was taken back
    EXPECT_EQ(ncCurrentFeed(), active);
    const int n = std::stoi(trace.message(kMsgDrillpoints));
    EXPECT_EQ(n, stations());
    for (int32_t i = 0; i < rows->count; ++i)  // each flagged as emitted
        for (int32_t k = 0; k < rows->lists[i]->count; ++k) EXPECT_EQ(rows->lists[i]->records[k].active, 1);
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
    EXPECT_EQ(
        plungePointsOutput(cycleNcCtx(), &blades.m, nullptr, nullptr, nullptr, levels, nullptr, 0, nullptr),
        1);
    EXPECT_EQ(trace.message(kMsgDrillpoints), "0");
    EXPECT_TRUE(trace.moves.empty());
    // Beside a splitter, rows of halves: each still plunges once; going up, the whole row that leads
    // them (key 0) goes out with none. A row left without stations emits nothing, and the rows after
    // it still go out.
    for (int32_t i = 0; i < rows->count; ++i) rows->keys[i] = i ? 1 + i % 2 : 0;
    const int lead = rows->lists[0]->count, emptied = rows->lists[1]->count;
    rows->lists[1]->count = 0;
    for (const int16_t entry : {0, 1}) {
        trace = nctrace::Trace{};
        cycleParams()->entryPos = entry;
        EXPECT_EQ(
            plungePointsOutput(cycleNcCtx(), &blades.m, rows, start, sides, levels, nullptr, 1, nullptr), 1);
        EXPECT_EQ(trace.blocks, (entry ? n - lead : n) - emptied);
    }
    rows->lists[1]->count = emptied;
    // Both counts are error-class notes: below the highest class they stay with the cycle.
    trace = nctrace::Trace{};
    setMessageLevel(nullptr, 8);
    EXPECT_EQ(
        plungePointsOutput(cycleNcCtx(), &blades.m, nullptr, nullptr, nullptr, levels, nullptr, 0, nullptr),
        1);
    EXPECT_TRUE(trace.messages.empty()) << testing::PrintToString(trace.messages);
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
    setMessageLevel(nullptr, 0);  // a trace-class note: told at every level
    trace = nctrace::Trace{};
    ASSERT_EQ(output(&blades.m), 1);
    EXPECT_NE(std::find(trace.messages.begin(), trace.messages.end(), "6232,0"), trace.messages.end());
    EXPECT_GT(plungeOutNoMacroCount(), first);
    tool->model = own;              // the borrowed mesh is not the run's to free
    cycleParams()->bladeCount = 1;  // the run ends at once, after its per-run resets
    EXPECT_EQ(runPlungeCycle(nullptr), -1);
    EXPECT_EQ(plungeOutNoMacroCount(), 0);
}

// Nothing in the way: a departure keeps its full length m along the lateral vector and leaves 0.1 above
// the shifted bottom; the retract rises from the top along the record's axis by its lift length, or by
// s where that is below 0.1; straight back up the plunge for a flagged record or a departure of none.
TEST_F(PlungeOut, UnhinderedMacroRetractsByTheLiftLengthOrTheDeparture) {
    const struct {
        double m, value;
        int mark;
        Vec3 top2;
    } rows[] = {{1.5, 0.05, 0, {20, 0, 11.5}},
                {1.5, 0.1, 0, {20, 0, 10.1}},
                {1.5, 0.7, 0, {20, 0, 10.7}},
                {1.5, 0.7, 1, {20, 0, 10}},
                {0.0, 0.7, 0, {20, 0, 10}}};
    for (const auto& r : rows) {
        begin({});
        CutRecordList* row = idx5CutListCreate(1);
        const Vec3 top{20, 0, 10}, bottom{20, 0, 2};
        idx5CutListAdd(row, &top, &bottom, 0);
        CutRecord& c = row->records[0];
        c.value = r.value, c.mark = r.mark, c.vector2 = {0, 1, 0}, c.axis = {0, 0, 1};
        ASSERT_EQ(shortenMacro(row, nullptr, r.m, nullptr), 1);
        EXPECT_NEAR(dist3D(&c.top2, &r.top2), 0, 1e-12) << r.m << " " << r.value << " " << r.mark;
        if (!r.mark) {
            const Vec3 departure{20, r.m, 2.1};
            EXPECT_NEAR(dist3D(&c.bottom2, &departure), 0, 1e-12) << r.m << " " << r.value;
        }
        idx5CutListFree(row);
    }
}

// Closed forms on planes: a flat tool coming down vertically stops on a plane. Bottoms are lifted
// onto the hub plane, tops under a cover onto the cover, return points onto the stock top; a cutter
// wider than *T_CUTWIDTH meets the stock, which sends 6508 unless *CENTER_CUT skips the test.
TEST_F(PlungeOut, PlanesGiveClippedPlungesReturnPointsAndTheStockTest) {
    // A host at class 8 hears no 6508.
    for (const auto& [centerCut, level] : {std::pair{"0", 9}, {"1", 9}, {"0", 8}}) {
        begin({{"*CENTER_CUT", centerCut}});
        setMessageLevel(nullptr, level);
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
        EXPECT_EQ(stock.m.tool->radius, kR);  // the test's own tool is given back
        // Without a stock each plunge enters where it starts.
        ASSERT_EQ(setReturnPoints(row, nullptr), 1);
        for (int32_t i = 0; i < 2; ++i) EXPECT_EQ(dist3D(&row->records[i].top3, &row->records[i].top), 0.0);
        for (int32_t i = 0; i < 2; ++i) row->records[i].bottom.z = 5;  // above the stock: nothing to meet
        setReturnPoints(row, &stock.m);
        EXPECT_EQ(toolMeetsStock(&stock.m, row), 1);
        idx5CutListFree(row);
        testmesh::Model blades(plates({kBlade}), kBallMill, kR);
        ASSERT_EQ(output(&blades.m, &stock.m), 1);
        EXPECT_EQ(trace.count(6508), centerCut[0] == '0' && level == 9 ? 1 : 0);
    }
    // The stock test's flat tool is the cutter narrowed by *T_CUTWIDTH (2.5 - 0.5): a stock whose edge
    // lies 2.2 from the plunge axes is clear of it, one 1.8 away is not.
    for (const double edge : {2.2, 1.8}) {
        begin({});
        cycleParams()->tCutwidth = 0.5;
        const double x = 20 + edge;
        testmesh::Model stock(
            {{{{x, -60, 4}, {60, -60, 4}, {60, 60, 4}}}, {{{x, -60, 4}, {60, 60, 4}, {x, 60, 4}}}}, kEndMill,
            kR);
        CutRecordList* row = idx5CutListCreate(2);
        for (int32_t i = 0; i < 2; ++i) {
            const Vec3 top{20, 3.0 * i, 12}, bottom{20, 3.0 * i, 1};
            idx5CutListAdd(row, &top, &bottom, 0);
            row->records[i].top3 = {20, 3.0 * i, 4};
        }
        EXPECT_EQ(toolMeetsStock(&stock.m, row), edge < 2 ? 0 : 1) << edge;
        idx5CutListFree(row);
    }
    // A flat end mill plunging onto a level raised by 1 above the rows' bottoms stops on it.
    begin({{"*FRTYP", "2"}});
    freeLevelCurves(levels);
    HubShroud* pair = flatChannel(kTop, 5);
    for (int32_t i = 0; i < pair->hub->count; ++i) pair->hub->points[i].y += 1;
    recomputeProfile2DParams(pair->hub);
    levels = newLevelCurves(1);
    addLevelCurve(levels, pair, -1.0);
    freeHubShroud(pair);
    // Under a start raised by 2 its tops rise onto the start.
    for (int32_t i = 0; i < start->count; ++i) start->points[i].y += 2;
    testmesh::Model blades(plates({-kBlade, kBlade}), kBallMill, kR);
    ASSERT_EQ(output(&blades.m), 1);
    const std::vector<nctrace::Move> bottoms = trace.bottoms();
    ASSERT_EQ(static_cast<int>(bottoms.size()), stations());
    for (const nctrace::Move& b : bottoms) EXPECT_NEAR(b.p.z, 1.0, 1e-6);
    for (int32_t i = 0; i < rows->count; ++i)
        for (int32_t k = 0; k < rows->lists[i]->count; ++k)
            EXPECT_NEAR(rows->lists[i]->records[k].top.z, kTop + 2, 1e-6) << i << " " << k;
}

// *BLADE_STEPS -1 gives no edge paths; 2 gives every later row an edge path at each end, along which
// two more plunges go out, each in a block of its own, straight after their row's (no link over the
// blades), and straight back up: only the rows' plunges leave by a departure.
TEST_F(PlungeOut, BladeStepsAddPlungesAlongTheEdgePaths) {
    int rises[2] = {};
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
        EXPECT_EQ(static_cast<int>(departures().size()), std::stoi(trace.message(kMsgDrillpoints))) << steps;
        for (const nctrace::Move& m : trace.moves) rises[steps[0] == '2'] += m.p.z > 30;
    }
    EXPECT_EQ(rises[0], rises[1]);
    // Going up beside a splitter the whole rows that lead are dropped, with their edge paths.
    for (int32_t i = 0; i < rows->count; ++i) rows->keys[i] = i < 2 ? 0 : 1 + i % 2;
    ASSERT_EQ(prepareRow(rows, 1, sides, kR, 1.0), 1);
    ASSERT_TRUE(rows->lists[1]->records[0].list1);
    cycleParams()->entryPos = 1;
    testmesh::Model blades(plates({-kBlade, kBlade}), kBallMill, kR);
    ASSERT_EQ(plungePointsOutput(cycleNcCtx(), &blades.m, rows, start, sides, levels, nullptr, 1, nullptr),
              1);
    EXPECT_EQ(rows->lists[0]->count + rows->lists[1]->count, 0);
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

// A roof just below the clearance plane (40) leaves the first plunge's jump link no free lift: the
// output stops there with 6103 instead of sending the tool straight through the roof to the approach;
// a floor well below the channel lets it pass.
TEST_F(PlungeOut, RefusedLinkEndsTheOutputBeforeTheApproach) {
    for (const double z : {39.0, -50.0}) {
        begin({});
        testmesh::Model roof({testmesh::slopeTri(z, 0.0, 400.0)}, kBallMill, kR);
        const int rc = output(&roof.m);
        const bool refused = z > 0;
        EXPECT_EQ(rc, refused ? kPlungeLinkRefused : 1) << z;
        EXPECT_EQ(trace.sent(6103), refused) << z;
        EXPECT_EQ(trace.blocks == 0, refused) << z;
        EXPECT_TRUE(!refused || trace.moves.empty()) << z;
    }
}

// The hub as a solid: a nose of radius 7 up to z = 8, a step down to its floor half a micrometre less
// than the ball's radius under the bottoms (within the micrometre the departures allow a ball that
// touches it), out to r = 60. The departures leave the bottoms up and toward the axis; where the floor's
// level ends (r 20) none lifts them. Those that would take the ball into the nose are shortened, and no
// departure's way comes nearer the solid than the ball's radius (closed form, less what points a
// quarter apart may miss); a departure whose way keeps clear is that of a run without the hub.
TEST_F(PlungeOut, DeparturesKeepTheBallOffTheHubsEndFaces) {
    const double kFloor = -kR + 5e-4;
    auto run = [&](bool withHub) {
        begin({});
        freeLevelCurves(levels);
        HubShroud* level = flatChannel(kTop, 20);
        levels = newLevelCurves(1);
        addLevelCurve(levels, level, -1.0);
        freeHubShroud(level);
        auto* hub = static_cast<HubShroud*>(std::calloc(1, sizeof(HubShroud)));
        hub->hub = profileOf({{7, 8}, {7, kFloor}, {60, kFloor}});
        hub->shroud = profileOf({{20, kTop}, {60, kTop}});
        testmesh::Model blades(plates({-kBlade, kBlade}), kBallMill, kR);
        EXPECT_EQ(output(&blades.m, nullptr, nullptr, withHub ? hub : nullptr), 1);
        freeHubShroud(hub);
        return departures();
    };
    auto solid = [&](const Vec3& p) {
        const double r = std::hypot(p.x, p.y), z = p.z;
        auto seg = [&](double r0, double z0, double r1, double z1) {
            const double dr = r1 - r0, dz = z1 - z0;
            const double f = std::clamp(((r - r0) * dr + (z - z0) * dz) / (dr * dr + dz * dz), 0.0, 1.0);
            return std::hypot(r - r0 - f * dr, z - z0 - f * dz);
        };
        return std::min({seg(0, 8, 7, 8), seg(7, 8, 7, kFloor), seg(7, kFloor, 60, kFloor)});
    };
    auto way = [&](const Vec3& b, const Vec3& d) {
        double c = INFINITY;
        for (double f = 0; f <= 1; f += 0.05)
            c = std::min(c, solid({b.x + f * (d.x - b.x), b.y + f * (d.y - b.y), b.z + f * (d.z - b.z)}));
        return c;
    };
    const auto plain = run(false), kept = run(true);
    ASSERT_FALSE(kept.empty());
    int shortened = 0, clear = 0;
    for (const auto& [bottom, departure] : kept) {
        EXPECT_GE(way(bottom, departure), kR - 5e-3);
        for (const auto& [b, d] : plain)
            if (dist3D(&b, &bottom) < 1e-9) {
                if (way(b, d) >= kR - 1e-3) {
                    EXPECT_LT(dist3D(&d, &departure), 1e-9);
                    ++clear;
                }
                shortened += dist3D(&d, &departure) > 1e-3;
            }
    }
    int plainNear = 0;
    for (const auto& [b, d] : plain) plainNear += way(b, d) < kR - 1e-3;
    EXPECT_GT(plainNear, 0);  // without the hub the nose is cut
    EXPECT_GT(clear, 0);
    EXPECT_GT(shortened, 0);
}

// A thin ring at r 20, 1.25 above the bottoms, in the part model: departures (8 long, toward the axis)
// from bottoms that clear it would pass through it on the way although both their ends clear it. They
// are shortened: every point of every such departure keeps the ball off the ring (closed form), and
// departures that never come near it are those of a run without it.
TEST_F(PlungeOut, DeparturesDoNotPassThroughThePartOnTheirWay) {
    auto run = [&](double ringRadius) {
        begin({{"*MACRO_EABST", "8"}});
        Tris ring;
        for (double phi = -0.5; phi < 0.5; phi += 0.02) {
            auto at = [](double r, double a) { return Vec3{r * std::cos(a), r * std::sin(a), 1.25}; };
            const double lo = ringRadius - 0.1, hi = ringRadius + 0.1;
            ring.push_back({{at(lo, phi), at(hi, phi), at(hi, phi + 0.02)}});
            ring.push_back({{at(lo, phi), at(hi, phi + 0.02), at(lo, phi + 0.02)}});
        }
        testmesh::Model part(ring, kBallMill, kR);
        EXPECT_EQ(output(&part.m), 1);
        return departures();
    };
    auto clearance = [](const Vec3& p) {
        return std::hypot(std::max(std::fabs(std::hypot(p.x, p.y) - 20) - 0.1, 0.0), p.z - 1.25);
    };
    const auto plain = run(200), kept = run(20);  // the first ring lies beyond every plunge
    // A departure is shortened a tenth of its full length at a time.
    const double tenth = cycleNcCtx()->macro.leaveValue / 10;
    int told = 0;
    for (const std::string& m : trace.messages)
        if (m.rfind("6232,", 0) == 0) {
            const double tenths = std::stod(m.substr(5)) / tenth;
            EXPECT_NEAR(tenths, std::round(tenths), 1e-5) << m;
            ++told;
        }
    EXPECT_GT(told, 0);
    int checked = 0, crossing = 0, shortened = 0;
    for (const auto& [bottom, departure] : kept) {
        if (clearance(bottom) < kR + 0.1) continue;  // the bottom itself is no departure's concern
        ++checked;
        for (int k = 0; k <= 100; ++k) {
            const double f = k / 100.0;
            const Vec3 q{bottom.x + f * (departure.x - bottom.x), bottom.y + f * (departure.y - bottom.y),
                         bottom.z + f * (departure.z - bottom.z)};
            EXPECT_GE(clearance(q), kR - 0.005) << f;
        }
        for (const auto& [b, d] : plain)
            if (dist3D(&b, &bottom) < 1e-9) {
                bool through = false;  // the plain departure's own way passes the ring
                for (int k = 0; k <= 100; ++k) {
                    const double f = k / 100.0;
                    const Vec3 q{b.x + f * (d.x - b.x), b.y + f * (d.y - b.y), b.z + f * (d.z - b.z)};
                    through = through || clearance(q) < kR - 0.005;
                }
                crossing += through;
                shortened += through && dist3D(&d, &departure) > 1e-3;
                if (!through && clearance(d) > kR + 0.2) {
                    EXPECT_LT(dist3D(&d, &departure), 1e-9);
                }
            }
    }
    EXPECT_GT(checked, 10);
    EXPECT_GT(crossing, 0);
    EXPECT_EQ(shortened, crossing);
}

// The first row's sideways vectors run from the direction of the side path at its first record to the
// direction of the other side path at its last, turned by equal angles in between (radial paths at
// -+kSide: horizontal directions at those polar angles).
TEST_F(PlungeOut, FirstRowTurnsItsSidewaysVectorsEvenlyBetweenTheSides) {
    ASSERT_EQ(prepareRow(rows, 0, sides, kR, 1.0), 1);
    const CutRecordList* row = rows->lists[0];
    const int32_t n = row->count;
    ASSERT_GE(n, 3);
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

// With one side path missing, the first row's sideways vectors all follow the other one. A row of the
// splitter's first half (key 1) runs between paths 0 and 1, one of its second half (key 2) between 2 and
// 3: without its own inner path each follows its outer one alone, whatever the other half's inner path;
// without its outer path, its inner one alone (the radial path at polar angle 0).
TEST_F(PlungeOut, FirstRowFollowsTheOnlySidePathThereIs) {
    const struct {
        int missing, key, inner;
        double along;  // polar angle of the path followed
    } cases[] = {{0, 0, 0, kSide},   {3, 0, 0, -kSide}, {-1, 1, 0, -kSide}, {-1, 2, 0, kSide},
                 {-1, 1, 2, -kSide}, {-1, 2, 1, kSide}, {0, 1, 1, 0},       {3, 2, 2, 0}};
    for (const auto [missing, key, inner, along] : cases) {
        PlistArray* one = arrayOf({missing == 0 ? none() : ray(-kSide, 21), inner == 1 ? ray(0, 21) : none(),
                                   inner == 2 ? ray(0, 21) : none(), missing == 3 ? none() : ray(kSide, 21)});
        rows->keys[0] = key;
        ASSERT_EQ(prepareRow(rows, 0, one, kR, 1.0), 1);
        rows->keys[0] = 0;
        const CutRecordList* row = rows->lists[0];
        ASSERT_GE(row->count, 2);
        for (int32_t i = 0; i < row->count; ++i) {
            const Vec3& v = row->records[i].vector2;
            EXPECT_NEAR(std::fabs(v.x * std::cos(along) + v.y * std::sin(along)), 1.0, 1e-9)
                << missing << " " << i;
            EXPECT_NEAR(vecDot3D(&v, &row->records[0].vector2), 1.0, 1e-12) << missing << " " << i;
        }
        plistArrayFree(one);
    }
    // A row far along a side path's long first segment follows that segment, not the path's bent end.
    PlistArray* bent =
        arrayOf({polarPath({{0, 10, -kSide, 0, 0}, {20, 30, -kSide, 0, 0}, {21, 30, 0.5, 0, 0}}), none(),
                 none(), none()});
    const double kept = std::exchange(rows->values[0], 15.0);
    ASSERT_EQ(prepareRow(rows, 0, bent, kR, 1.0), 1);
    rows->values[0] = kept;
    for (int32_t i = 0; i < rows->lists[0]->count; ++i) {
        const Vec3& v = rows->lists[0]->records[i].vector2;
        EXPECT_NEAR(std::fabs(v.x * std::cos(kSide) - v.y * std::sin(kSide)), 1.0, 1e-9) << i;
    }
    plistArrayFree(bent);
    // Only the first count slots of an array are side paths: a path in a slot past it is not read.
    PlistArray* past = arrayOf({ray(-kSide, 21), ray(kSide, 21)});
    past->count = 0;
    ASSERT_EQ(prepareRow(rows, 0, past, kR, 1.0), 1);
    past->count = 2;
    for (int32_t i = 0; i < rows->lists[0]->count; ++i)
        EXPECT_EQ(vecLen3D(&rows->lists[0]->records[i].vector2), 0.0) << i;
    plistArrayFree(past);
}

// Rows after the first: each end's neighbour plunge lies along the radial side path, so the two turned
// directions coincide and the lift is 2 R sin 0 plus 0.2, at both ends. The departure leans off the way
// to the nearest plunge of the row before (d away) by acos(d / 2R) and, the rows' parameters differing,
// by acos(r2 / R) more for the half diameter r2 (1 here).
TEST_F(PlungeOut, LaterRowsLiftBothEndsByTheClearanceAlone) {
    for (int32_t index = 1; index < rows->count; ++index) {
        ASSERT_EQ(prepareRow(rows, index, sides, kR, 1.0), 1);
        const CutRecordList *row = rows->lists[index], *before = rows->lists[index - 1];
        ASSERT_GE(row->count, 2);
        for (const CutRecord* r : {&row->records[0], &row->records[row->count - 1]}) {
            EXPECT_EQ(r->mark, 0) << index;
            EXPECT_NEAR(r->value, 0.2, 1e-6) << index;  // acos near 1 keeps about 1e-8
            const CutRecord* q = &before->records[0];
            for (int32_t k = 1; k < before->count; ++k)
                if (dist3D(&before->records[k].bottom, &r->bottom) < dist3D(&q->bottom, &r->bottom))
                    q = &before->records[k];
            const double d = dist3D(&q->bottom, &r->bottom);
            const Vec3 toward{q->bottom.x - r->bottom.x, q->bottom.y - r->bottom.y,
                              q->bottom.z - r->bottom.z};
            EXPECT_NEAR(std::acos(vecDot3D(&r->vector2, &toward) / d),
                        std::acos(d / 2 / kR) + std::acos(1 / kR), 1e-9)
                << index;
            // The departure turns within the plane of the side path and the plunge, and rises off the hub.
            const Vec3& v = r->vector2;
            EXPECT_NEAR(v.y * std::cos(polar(r->bottom)) - v.x * std::sin(polar(r->bottom)), 0.0, 1e-9)
                << index;
            EXPECT_GT(v.z, 0.1) << index;
        }
    }
    // A neighbour row of a single plunge still frames the end within reach of it; a record past its
    // count (here one on the end itself, which would frame nothing) is not one of its plunges.
    const int32_t held = rows->lists[0]->count;
    rows->lists[0]->count = 1;
    const CutRecord stale = std::exchange(rows->lists[0]->records[1], rows->lists[1]->records[0]);
    ASSERT_EQ(prepareRow(rows, 1, sides, kR, 1.0), 1);
    EXPECT_EQ(rows->lists[1]->records[0].mark, 0);
    EXPECT_NEAR(rows->lists[1]->records[0].value, 0.2, 1e-6);
    rows->lists[0]->records[1] = stale;
    rows->lists[0]->count = held;
    // An end moved out of reach of the neighbour row turns no way: every record takes the other end's.
    for (const int32_t index : {1, 2}) {
        CutRecordList* row = rows->lists[index];
        const int32_t end = index == 1 ? 0 : row->count - 1, next = index == 1 ? 1 : row->count - 2;
        Vec3& b0 = row->records[end].bottom;
        const Vec3 b1 = row->records[next].bottom;
        b0 = {b0.x + 20 * (b0.x - b1.x), b0.y + 20 * (b0.y - b1.y), b0.z + 20 * (b0.z - b1.z)};
        ASSERT_EQ(prepareRow(rows, index, sides, kR, 1.0), 1);
        EXPECT_EQ(row->records[end].mark, 1);
        const Vec3& kept = row->records[row->count - 1 - end].vector2;
        for (int32_t i = 0; i < row->count; ++i)
            EXPECT_NEAR(vecDot3D(&row->records[i].vector2, &kept), 1.0, 1e-12) << index << " " << i;
    }
}

// Refused arguments answer their documented codes and touch nothing.
TEST_F(PlungeOut, MissingArgumentsAnswerTheirCodes) {
    CycleNcCtx* nc = cycleNcCtx();
    CycleToolCtx* tool = cycleToolCtx();
    const Vec3 lateral{0, 1, 0};
    const Plist* edge = sides->lists[0];
    int32_t flag = 1;
    for (const int steps : {0, 2, -2}) {
        cycleParams()->bladeSteps = static_cast<int16_t>(steps);
        EXPECT_EQ(bladeStepPlunges(nullptr, nc, tool, nullptr, nullptr, start, &lateral), -1);
        EXPECT_EQ(bladeStepPlunges(sides->lists[1], nc, tool, nullptr, nullptr, start, &lateral), -1);
        EXPECT_EQ(bladeStepPlunges(edge, nullptr, tool, nullptr, nullptr, start, &lateral), -1);
        EXPECT_EQ(bladeStepPlunges(edge, nc, tool, nullptr, nullptr, start, nullptr), -1);
    }
    for (const int32_t index : {-1, rows->count}) EXPECT_EQ(prepareRow(rows, index, sides, kR, 1.0), -1);
    EXPECT_EQ(prepareRow(nullptr, 0, sides, kR, 1.0), -1);
    const int32_t kept = rows->lists[1]->count;  // a row without stations has nothing to prepare
    rows->lists[1]->count = 0;
    EXPECT_EQ(prepareRow(rows, 1, sides, kR, 1.0), 1);
    rows->lists[1]->count = kept;
    EXPECT_EQ(emitPlungeRow(nullptr, rows, 0, 1, nc, tool, nullptr, nullptr, start, &flag), 0);
    EXPECT_EQ(emitPlungeRow(rows->lists[0], rows, 0, 1, nullptr, tool, nullptr, nullptr, start, &flag), 0);
    EXPECT_EQ(emitPlungeRow(rows->lists[0], rows, 0, 1, nc, tool, nullptr, nullptr, start, nullptr), 0);
    EXPECT_EQ(plungePointsOutput(nullptr, nullptr, rows, start, sides, levels, nullptr, 0, nullptr), -1);
    EXPECT_EQ(clipPlunges(nullptr, nullptr, nullptr) + setReturnPoints(nullptr, nullptr) +
                  shortenMacro(nullptr, nullptr, 1, tool),
              3);
    EXPECT_EQ(toolMeetsStock(nullptr, rows->lists[0]), 1);
    EXPECT_TRUE(trace.moves.empty());
    EXPECT_EQ(rows->lists[0]->records[0].active, 0);
    // Without a part model the run's own tool sizes the rows, and nothing checks the links. A departure
    // of exactly 1e-5 is still one: the ball, centred on the hub at the bottom, rises off the level by
    // its radius and 0.1 more.
    cycleParams()->bladeSteps = 0;
    nc->macro.leaveValue = 1e-5;
    // A row filled to its capacity: nothing reads past its last record.
    CutRecordList* full = rows->lists[0];
    full->records = static_cast<CutRecord*>(std::realloc(full->records, full->count * sizeof(CutRecord)));
    ASSERT_NE(full->records, nullptr);
    full->capacity = full->count;
    EXPECT_EQ(output(nullptr), 1);
    EXPECT_EQ(trace.blocks, stations());
    const auto steps = departures();
    EXPECT_EQ(static_cast<int>(steps.size()), stations());
    for (const auto& [bottom, departure] : steps) EXPECT_NEAR(dist3D(&bottom, &departure), kR + 0.1, 1e-4);
}

// With departures a row of three or more plunges starts at its second station, then its first, then on
// in order; a row of two, or any row without departures, goes out in order. The link to the row (by the
// run's settings) comes no lower than the approach above the first top.
TEST_F(PlungeOut, RowsWithDeparturesStartAtTheirSecondStation) {
    for (const int n : {2, 3, 5})
        for (const int macros : {0, 1}) {
            CutRecordList* row = idx5CutListCreate(n);
            for (Vec3 top{20, 0, kTop}, bottom{20, 0, 0}; top.y < 2 * n; top.y = bottom.y += 2)
                idx5CutListAdd(row, &top, &bottom, 0);  // plunges 2 apart along y
            trace = nctrace::Trace{};
            int32_t flag = 1;
            EXPECT_EQ(emitPlungeRow(row, nullptr, 0, macros, cycleNcCtx(), cycleToolCtx(), nullptr, nullptr,
                                    start, &flag),
                      n);
            std::vector<double> want, got;
            for (int i = 0; i < n; ++i) want.push_back(2.0 * (macros && n >= 3 && i < 2 ? 1 - i : i));
            for (const nctrace::Move& m : trace.bottoms()) got.push_back(m.p.y);
            EXPECT_EQ(got, want) << n << " " << macros;
            EXPECT_GE(trace.moves.at(0).p.z, kTop + cycleNcCtx()->clearanceDistance);
            idx5CutListFree(row);
        }
}

// A row's neighbour is the nearest earlier row of its own key; going down, a row of key 0 serves any
// key. Without one, both ends are left marked for a straight retract.
TEST_F(PlungeOut, RowsFindTheirNeighbourByKey) {
    const struct {
        int32_t first, second, entryPos;
        bool neighbour;
    } cases[] = {{1, 2, 0, false}, {0, 2, 0, true}, {0, 2, 1, false}, {2, 2, 1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.first << " " << c.second << " " << c.entryPos);
        cycleParams()->entryPos = c.entryPos;
        rows->keys[0] = c.first;
        rows->keys[1] = c.second;
        CutRecordList* row = rows->lists[1];
        for (int32_t k = 0; k < row->count; ++k) row->records[k].mark = 0;
        ASSERT_EQ(prepareRow(rows, 1, sides, kR, 1.0), 1);
        ASSERT_GE(row->count, 2);
        EXPECT_EQ(row->records[0].mark, c.neighbour ? 0 : 1);
        EXPECT_EQ(row->records[row->count - 1].mark, c.neighbour ? 0 : 1);
    }
    // A tool radius of the tolerance itself still frames an end whose neighbour lies 1.5e-5 across the
    // channel (within its diameter); one just below it frames nothing.
    cycleParams()->entryPos = 0;
    rows->keys[0] = rows->keys[1] = 0;
    CutRecordList *before = rows->lists[0], *row = rows->lists[1];
    const int32_t held = before->count;
    const CutRecord kept = before->records[0];
    const Vec3 b = row->records[0].bottom, across{-std::sin(polar(b)), std::cos(polar(b)), 0};
    before->count = 1;
    before->records[0].bottom = {b.x + 1.5e-5 * across.x, b.y + 1.5e-5 * across.y, b.z};
    for (const auto& [radius, mark] : {std::pair{1e-5, 0}, {0.999e-5, 1}}) {
        row->records[0].mark = 0;
        ASSERT_EQ(prepareRow(rows, 1, sides, radius, 1.0), 1);
        EXPECT_EQ(row->records[0].mark, mark) << radius;
    }
    before->records[0] = kept;
    before->count = held;
}

// The links take the cycle's settings: the link type and the climb mode never below 0, the smooth
// mode 2 only with *CONNECTSMOOTH, the jump flag from the context, path mode 1, the link-macro switch
// on and the approach polygon of radius 1 and lift 30.
TEST_F(PlungeOut, LinkContextTakesTheCycleSettings) {
    const struct {
        int16_t linkType, smooth, forceG1, climb;
        int32_t zlift;
    } cases[] = {{3, 1, 7, 2, 0}, {-1, 0, 0, -3, 1}};
    const CycleParams saved = *cycleParams();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.linkType);
        CycleParams* p = cycleParams();
        p->zustEilgang = c.linkType, p->connectSmooth = c.smooth, p->forceG1 = c.forceG1,
        p->aufstieg = c.climb;
        p->forceG1Ipol = 0.25, p->totalToolLength = 120, p->stepMin = 0.01, p->stepMax = 2;
        CycleNcCtx nc = *cycleNcCtx();
        nc.clearanceDistance = 4, nc.clearancePlane = 50, nc.checkZlift = c.zlift, nc.retractFeed = 900;
        nc.cosStepWin = 0.9;
        LinkContext l;
        linkContextFromCycle(&nc, &l);
        EXPECT_EQ(l.linkType, std::max<int16_t>(c.linkType, 0));
        EXPECT_EQ(l.climbMode, std::max<int16_t>(c.climb, 0));
        EXPECT_EQ(l.smoothMode, c.smooth ? 2 : 1);
        EXPECT_EQ(l.forceG1, c.forceG1 ? 1 : 0);
        EXPECT_EQ(l.jumpFlag, c.zlift);
        EXPECT_EQ(l.pathMode, 1);
        EXPECT_EQ(l.linkMacroSwitch, 1);
        EXPECT_EQ(l.polygonRadius, 1.0);
        EXPECT_EQ(l.polygonLift, 30.0);
        EXPECT_EQ(l.safetyDistance, 4.0);
        EXPECT_EQ(l.clearancePlane, 50.0);
        EXPECT_EQ(l.retractFeed, 900.0);
        EXPECT_EQ(l.forceG1Step, 0.25);
        EXPECT_EQ(l.totalToolLength, 120.0);
        EXPECT_EQ(l.stepMin, 0.01);
        EXPECT_EQ(l.stepMax, 2.0);
        EXPECT_EQ(l.stepAngleCos, 0.9);
    }
    *cycleParams() = saved;
}

// With *BLADE_STEPS, a later row's end records carry the stretch of their side path back to the previous
// row: on the radial path (polar angle -+kSide, radius 10 + parameter) from the previous row's parameter
// to the row's own, every side point between included, parameters the arc length from its start.
TEST_F(PlungeOut, EdgePathsRunAlongTheSidesFromTheRowBefore) {
    begin({{"*BLADE_STEPS", "2"}});
    int checked = 0;
    for (int32_t index = 1; index < rows->count; ++index) {
        ASSERT_EQ(prepareRow(rows, index, sides, kR, 1.0), 1);
        const CutRecordList* row = rows->lists[index];
        ASSERT_GE(row->count, 2);
        const double t0 = rows->values[index - 1], t1 = rows->values[index];
        for (const Plist* path : {row->records[0].list1, row->records[row->count - 1].list2}) {
            ASSERT_NE(path, nullptr) << index;
            const double side = polar(path->points[0]);
            EXPECT_NEAR(std::fabs(side), kSide, 1e-9);
            int between = 0;
            for (double r = std::ceil(10 + std::min(t0, t1) + 1e-5); r < 10 + std::max(t0, t1) - 1e-5; ++r)
                ++between;
            ASSERT_EQ(path->count, between + 2) << index;
            for (int32_t k = 0; k < path->count; ++k) {
                const double r = std::hypot(path->points[k].x, path->points[k].y);
                EXPECT_NEAR(polar(path->points[k]), side, 1e-9) << index << " " << k;
                EXPECT_NEAR(path->parameters[k], std::fabs(r - (10 + t0)), 1e-9) << index << " " << k;
                if (k == 0 || k == path->count - 1) {
                    EXPECT_NEAR(r, 10 + (k ? t1 : t0), 1e-9) << index;
                }
            }
            checked += path->count > 2;
        }
    }
    EXPECT_GT(checked, 0);
    // Side paths of their two ends alone still give the stretch: the two points at the rows' parameters.
    auto ends = [](double angle) { return polarPath({{0, 10, angle, 0, 0}, {20, 30, angle, 0, 0}}); };
    PlistArray* bare = arrayOf({ends(-kSide), none(), none(), ends(kSide)});
    ASSERT_EQ(prepareRow(rows, 1, bare, kR, 1.0), 1);
    const CutRecordList* row = rows->lists[1];
    for (const Plist* path : {row->records[0].list1, row->records[row->count - 1].list2}) {
        ASSERT_NE(path, nullptr);
        ASSERT_EQ(path->count, 2);
        EXPECT_NEAR(std::hypot(path->points[1].x, path->points[1].y), 10 + rows->values[1], 1e-9);
    }
    plistArrayFree(bare);
    // A row whose earlier rows all share its parameter has no stretch back to take.
    CutListSet* same = cutListSetCreate(2);
    for (int k = 0; k < 2; ++k) cutListSetAdd(same, rows->lists[1], 0, rows->values[1]);
    ASSERT_EQ(prepareRow(same, 1, sides, kR, 1.0), 1);
    EXPECT_EQ(same->lists[1]->records[0].list1, nullptr);
    EXPECT_EQ(same->lists[1]->records[same->lists[1]->count - 1].list2, nullptr);
    cutListSetFree(same);
}

// A row under one already emitted at its parameter: without *CENTER_CUT its plunges stop where the
// neighbour's bottoms (5 higher) lie; with it they go down to their own bottoms.
TEST_F(PlungeOut, PlungesUnderAnEmittedNeighbourStopAtItsBottoms) {
    // A host at class 8 hears no 6508.
    for (const auto& [centerCut, level] : {std::pair{"0", 9}, {"1", 9}, {"0", 8}}) {
        begin({{"*CENTER_CUT", centerCut}});
        setMessageLevel(nullptr, level);
        const CutRecordList* src = rows->lists[1];
        CutRecordList *above = idx5CutListCreate(src->count), *below = idx5CutListCreate(src->count);
        double lowest = INFINITY;
        for (int32_t k = 0; k < src->count; ++k) {
            const CutRecord& r = src->records[k];
            const Vec3 raised{r.bottom.x, r.bottom.y, r.bottom.z + 5};
            idx5CutListAdd(above, &r.top, &raised, r.kind);
            idx5CutListAdd(below, &r.top, &r.bottom, r.kind);
            lowest = std::min(lowest, r.bottom.z);
        }
        CutListSet* set = cutListSetCreate(2);
        cutListSetAdd(set, above, 0, rows->values[1]);
        cutListSetAdd(set, below, 0, rows->values[1]);
        idx5CutListFree(above);
        idx5CutListFree(below);
        testmesh::Model blades(plates({-kBlade, kBlade}), kBallMill, kR);
        ASSERT_EQ(output(&blades.m, nullptr, set), 1);
        double deepest = INFINITY;
        for (const nctrace::Move& m : trace.moves) deepest = std::min(deepest, m.p.z);
        if (centerCut[0] == '0') {
            EXPECT_GT(deepest, lowest + 5 - 0.5);
        } else {
            EXPECT_LT(deepest, lowest + 0.5);
        }
        cutListSetFree(set);
    }
}

// A row runs so that its first plunge's axis leans no more than a right angle from the way to the
// next bottom: one leaning back against it is turned round, an upright or forward one kept.
TEST_F(PlungeOut, RowsTurnRoundWhenTheirFirstAxisLeansBack) {
    for (const double lean : {-0.3, -0.01, 0.0, 0.3}) {
        CutListSet* set = cutListSetCreate(1);
        cutListSetAdd(set, rows->lists[0], 0, rows->values[0]);
        CutRecordList* row = set->lists[0];
        ASSERT_GE(row->count, 3);
        CutRecord& r0 = row->records[0];
        const Vec3 b0 = r0.bottom, bn = row->records[row->count - 1].bottom;
        Vec3 along;
        const Vec3 d{row->records[1].bottom.x - b0.x, row->records[1].bottom.y - b0.y, 0};
        vecNormalize3D(&d, &along);
        const double h = r0.top.z - b0.z;
        r0.top = {b0.x + lean * h * along.x, b0.y + lean * h * along.y, r0.top.z};
        ASSERT_EQ(prepareRow(set, 0, sides, kR, 1.0), 1);
        const Vec3& first = set->lists[0]->records[0].bottom;
        EXPECT_EQ(dist3D(&first, lean < 0 ? &bn : &b0), 0.0) << lean;
        cutListSetFree(set);
    }
}
