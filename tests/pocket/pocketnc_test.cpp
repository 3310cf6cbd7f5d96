// NC output of one plane: entry sequence, header, short arcs and gap rules.
#include "pocket/pocketnc.h"

#include <random>
#include <tuple>

#include "kernel/base/kvx/kvlist.h"
#include "pocket/planecheck.h"
#include "pocket/pocketstate.h"
#include "pocketnc_util.h"
#include "ringtest_util.h"

namespace {

// The ramp entry the ramp tests share: 10 degrees down, at 0.1 resolution, 2 deep.
void rampEntry(CcpParams& p) {
    p.plungeType = 3;
    p.helixPlungeAngle = 10 * M_PI / 180;
    p.helixAngleResolution = 0.1;
    p.infeedDepth = 2;
}

}  // namespace

// The first pass on channel 31 in order; on channel 10 the header once however
// often it is asked for, and the feed words around the plunge.
TEST(PocketNc, FirstPassRecordsInOrderFeedWordsAndHeaderOnce) {
    NcPlane plane;
    pocketNcHeader();
    pocketNcHeader();
    std::vector<ContourElement> path = polygon({{0, 0}, {20, 0}, {20, 20}, {0, 20}});
    path.push_back(arcElem(10, 0, 10, M_PI, 2 * M_PI, 1));
    for (const ContourElement& e : path) EXPECT_EQ(pocketEmitElement(&e), 1);
    pocketContourEnd();
    std::vector<int> expected = {3101, 3102, 3102, 3112, 3131, 3131, 3131, 3001,
                                 3111, 3111, 3111, 3111, 3121, 3002, 3102};
    EXPECT_EQ(types(31), expected);
    std::vector<Rec> c31 = records(31);
    ASSERT_EQ(c31.size(), expected.size());
    EXPECT_DOUBLE_EQ(c31[1].z, 50);
    EXPECT_DOUBLE_EQ(c31[2].z, 2);
    EXPECT_DOUBLE_EQ(c31[3].z, -5);
    EXPECT_EQ(c31[4].name + "=" + c31[4].value, "start=drill");
    EXPECT_EQ(c31[5].name + "=" + c31[5].value, "surface=0");
    EXPECT_EQ(c31[6].name + "=" + c31[6].value, "depth=5");
    EXPECT_DOUBLE_EQ(c31[12].cx, 10);
    EXPECT_DOUBLE_EQ(c31[14].z, 50);

    int header = 0, plunge = -1;
    for (size_t i = 0; i < log().size(); ++i) {
        header += log()[i].name == "cycleFct" && log()[i].value == "pocketMilling";
        if (log()[i].type == 3112) plunge = static_cast<int>(i);
    }
    EXPECT_EQ(header, 1);
    EXPECT_GE(indexOf("aliasDef", "FX,FX,800,1"), 0);
    for (const char* word : {"CPLANE", "CDIST", "RPLANE"}) {
        bool found = false;
        for (const Rec& r : log()) found |= r.name == word;
        EXPECT_TRUE(found) << word;
    }
    ASSERT_GE(plunge, 0);
    int useZ = indexOf("aliasUse", "FZ"), trZ = indexOf("tr", "FZ");
    EXPECT_TRUE(useZ >= 0 && useZ < plunge && trZ > useZ && trZ < plunge);
    EXPECT_GT(indexOf("aliasUse", "FX", plunge), plunge);
    EXPECT_GT(indexOf("tr", "FX", plunge), plunge);
}

// The header names the record's tool and spindle words under their short names, each its own value.
TEST(PocketNc, HeaderTakesToolAndSpindleWordsFromTheRecord) {
    NcPlane plane;
    CycleRecord* r = pocketRecord();
    KvList* saved = r->vars;
    r->vars = nullptr;
    const char* const words[][3] = {{"toolName", "T", "drill12"},
                                    {"planeFeedrate", "FX", "810"},
                                    {"zFeedrate", "FZ", "190"},
                                    {"spindleSpeed", "S", "4000"},
                                    {"spindleRotation", "SR", "cw"}};
    for (const auto& w : words) r->vars = kvListSet(r->vars, w[0], w[2], 0);
    pocketNcHeader();
    for (const auto& w : words) EXPECT_GE(indexOf(w[1], w[2]), 0) << w[0];
    kvListFree(r->vars);
    r->vars = saved;
}

// A counter-clockwise arc about (0,0) of radius 1 whose chord is given; its
// centre arrives 1e-3 off along the chord so that a re-centring shows. Chords
// below 0.01 are dropped, those below 0.05 re-centred with the arc's radius, and
// every arc written has both ends on its circle.
TEST(PocketNc, ShortArcChords) {
    struct Case {
        double chord;
        int written;
    } cases[] = {{0.009, 0}, {0.01, 1}, {0.03, 1}, {0.05, 1}};
    for (const Case& c : cases) {
        NcPlane plane;
        pocketNcHeader();
        double h = c.chord / 2, y = std::sqrt(1 - h * h);
        ContourElement a = arcElem(0, 0, 1, 0, 0, 1);
        a.g[kAsx] = h;
        a.g[kAsy] = y;
        a.g[kAex] = -h;
        a.g[kAey] = y;
        a.g[kAcx] += 1e-3;
        ContourElement lead = lineElem(2, 2, a.g[kAsx], a.g[kAsy]);
        pocketEmitElement(&lead);
        EXPECT_EQ(pocketEmitElement(&a), c.written) << c.chord;
        int arcs = 0;
        for (const Rec& r : log()) {
            if (r.type != 3121) continue;
            ++arcs;
            EXPECT_NEAR(r.cx, 0.0, 1e-9) << c.chord;
            EXPECT_NEAR(r.cy, 0.0, c.chord < 0.05 ? 1e-9 : 1e-6) << c.chord;
            EXPECT_NEAR(std::hypot(h - r.cx, y - r.cy), std::hypot(r.x - r.cx, r.y - r.cy), 1e-12) << c.chord;
        }
        EXPECT_EQ(arcs, c.written) << c.chord;
    }
}

// Gaps against the limits 2 r sf + tol (new entry beyond) and 1.5 r sf + tol
// (bridged by a feed line below), r 5 and sf 0.4. The tool is a ball measured at its centre: every
// retract goes 5 above the plane.
TEST(PocketNc, GapRules) {
    struct Case {
        double gap;
        int entries, bridges;
    } cases[] = {{0.00005, 1, 0}, {1.0, 1, 1}, {2.9, 1, 1}, {3.5, 1, 0}, {4.0001, 1, 0}, {4.01, 2, 0}};
    for (const Case& c : cases) {
        NcPlane plane;
        kvCCPParams.completePocket = 0;  // only the height keeps the second entry from lifting again
        kvCCPParams.toolType = 1;
        kvCCPParams.toolDiameter = 10;
        kvCCP.vars = kvListSet(kvCCP.vars, "toolReference", "center", 21);
        pocketNcHeader();
        // the third element follows the second without a gap: no entry of its own
        ContourElement a = lineElem(0, 0, 10, 0), b = lineElem(10 + c.gap, 0, 20, 0),
                       d = lineElem(20, 0, 20, 5);
        pocketEmitElement(&a);
        pocketEmitElement(&b);
        pocketEmitElement(&d);
        int entries = 0, lines = 0, closed = 0, retracts = 0;
        for (const Rec& r : log()) {
            entries += r.name == "start";
            lines += r.type == 3111;
            closed += r.type == 3002;
            retracts += r.type == 3102 && r.z == 55;
            EXPECT_FALSE(r.type == 3102 && r.z > 10 && r.z != 55) << c.gap << " " << r.z;  // no other lift
        }
        EXPECT_EQ(entries, c.entries) << c.gap;
        EXPECT_EQ(lines, 3 + c.bridges) << c.gap;
        // a second entry closes the open pass and leaves to the retract plane first
        EXPECT_EQ(closed, c.entries - 1) << c.gap;
        EXPECT_EQ(retracts, c.entries) << c.gap;
    }
    kvCCP.vars = kvListSet(kvCCP.vars, "toolReference", "tip", 21);
}

// Moves collected around a region write nothing until replayed, then go out backwards: the newest
// pass first, each element reversed, one entry per pass.
TEST(PocketNc, CollectedPassesReplayBackwards) {
    NcPlane plane;
    pocketNcHeader();
    ASSERT_EQ(outsideInCollectStart(), 1);
    const ContourElement passes[2][2] = {{lineElem(0, 0, 10, 0), lineElem(10, 0, 10, 10)},
                                         {lineElem(30, 0, 40, 0), lineElem(40, 0, 40, 10)}};
    for (const auto& pass : passes) {
        kvCCPParams.firstMovePending = 1;
        for (const ContourElement& e : pass) EXPECT_EQ(pocketEmitElement(&e), 1);
        pocketContourEnd();
    }
    EXPECT_TRUE(records(31).empty());
    ASSERT_EQ(outsideInEmit(), 1);
    EXPECT_EQ(pocketKernel().outsideIn + pocketOutputState().collectMode, 0);  // replayed, nothing collects
    std::vector<Rec> lines;
    int entries = 0;
    for (const Rec& r : records(31)) {
        entries += r.name == "start";
        if (r.type == 3111) lines.push_back(r);
    }
    EXPECT_EQ(entries, 2);
    ASSERT_EQ(lines.size(), 4u);
    const double ends[4][2] = {{40, 0}, {30, 0}, {10, 0}, {0, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(lines[i].x, ends[i][0]) << i;
        EXPECT_DOUBLE_EQ(lines[i].y, ends[i][1]) << i;
    }
}

// Ramp plunge along a 30-long line, 5 deep, 10 degrees: the zig-zag descends
// monotonically from a tenth of the infeed depth and the clearance above the surface to the bottom over
// that drop / tan(angle) of travel and ends at the start; a zero angle refuses the ramp but the elements
// still go out. At 0.04 the way down runs more than once there and back along both elements.
TEST(PocketNc, RampEntry) {
    // An angle, angle step or drop below 1e-5 has nothing to ramp along.
    struct Case {
        double angle, step, depth;
        int ramped;
    } cases[] = {{0.17, 0.1, 5, 1},  {0.0, 0.1, 5, 0},     {9e-6, 0.1, 5, 0}, {0.17, 9e-6, 5, 0},
                 {0.17, 5e-5, 5, 1}, {0.17, 0.1, 9e-6, 0}, {0.04, 0.1, 5, 1}};
    for (const Case& c : cases) {
        NcPlane plane;
        CcpParams& p = kvCCPParams;
        p.plungeType = 3;
        p.helixPlungeAngle = c.angle, p.helixAngleResolution = c.step, p.depth = c.depth;
        p.infeedDepth = 2;  // the first ramp starts above the surface and descends that much more
        if (c.depth < 1) p.infeedDepth = pocketKernel().rampClearance = 0;
        pocketNcHeader();
        Vec2 start{0, 0};
        rampTransition(&start);
        ContourElement a = lineElem(0, 0, 30, 0), b = lineElem(30, 0, 30, 30);
        EXPECT_EQ(pocketEmitElement(&a), 1);
        EXPECT_EQ(pocketEmitElement(&b), 1);
        // Both elements held are entered: by the ramp, or refused and plunged straight; then none is left.
        EXPECT_EQ(pocketRampEntry(), c.ramped ? 1 : -1);
        pocketContourEnd();
        EXPECT_EQ(pocketRampEntry(), 0);
        std::vector<Rec> zig;
        int lines = 0;
        for (const Rec& r : log()) {
            if (r.type == 3113) zig.push_back(r);
            lines += r.type == 3111;
        }
        EXPECT_EQ(lines, 2);
        EXPECT_EQ(zig.empty(), !c.ramped) << c.angle << " " << c.step << " " << c.depth;
        if (!c.ramped) continue;
        ASSERT_GE(zig.size(), 3u);
        double top = 0.1 * p.infeedDepth + pocketKernel().rampClearance, travel = 0;
        EXPECT_DOUBLE_EQ(zig[0].z, top);
        for (size_t i = 1; i < zig.size(); ++i) {
            travel += std::hypot(zig[i].x - zig[i - 1].x, zig[i].y - zig[i - 1].y);
            // every point as deep as the way travelled so far takes it, not below the bottom
            EXPECT_NEAR(zig[i].z, std::fmax(top - travel * std::tan(c.angle), -5), 1e-9) << i;
        }
        EXPECT_NEAR(travel, (5 + top) / std::tan(c.angle), 1e-6);
        EXPECT_NEAR(zig.back().z, -5, 1e-9);
        EXPECT_NEAR(zig.back().x, 0, 1e-9);
    }
    // Refused while holding only an arc too short to cut: no entry was made, one is still pending.
    NcPlane plane;
    kvCCPParams.plungeType = 3;
    kvCCPParams.helixPlungeAngle = 0;
    pocketNcHeader();
    Vec2 start{1, 0};
    rampTransition(&start);
    ContourElement tiny = arcElem(0, 0, 1, 0, 0.001, 1);
    EXPECT_EQ(pocketEmitElement(&tiny), 1);
    EXPECT_EQ(pocketRampEntry(), -1);
    EXPECT_EQ(pocketPlungePending(), 1);
}

// Ramp entries after a pass ended by the clearance lift, 0.05 (no retract), 0.5 and 3 (retract, not
// wide) and 6 (wide) from its end: moved by any offset in the plane, the records are the same, moved by
// that offset; the retract plane is reached at the first entry and at the three beyond 0.1.
TEST(PocketNc, RampEntriesFollowTheGeometryMoved) {
    std::vector<Rec> at[2];
    const Vec2 shift[2] = {{0, 0}, {7, 10}};
    for (int k = 0; k < 2; ++k) {
        NcPlane plane;
        CcpParams& p = kvCCPParams;
        rampEntry(p);
        p.retractEachPlane = 0;
        pocketKernel().planesLeft = 1;
        pocketKernel().geometryScale = k;  // an unset scale (0) is 1
        pocketNcHeader();
        const double x = shift[k].x, y = shift[k].y;
        Vec2 from{x, y};
        for (const double gap : {0.0, 0.05, 0.5, 3.0, 6.0}) {
            const Vec2 start{from.x, from.y + gap}, end{start.x + (gap == 3 ? -20 : 20), start.y};
            rampTransition(&start);
            ContourElement e = lineElem(start.x, start.y, end.x, end.y);
            EXPECT_EQ(pocketEmitElement(&e), 1);
            pocketContourEnd();
            from = end;
        }
        at[k] = log();
    }
    ASSERT_EQ(at[0].size(), at[1].size());
    int retracts = 0;
    for (size_t i = 0; i < at[0].size(); ++i) {
        Rec moved = at[0][i];
        if (moved.type >= 3100 && moved.type != 3131 && moved.type != 3102) {
            moved.x += shift[1].x;
            moved.y += shift[1].y;
        }
        if (moved.type == 3121) {
            moved.cx += shift[1].x;
            moved.cy += shift[1].y;
        }
        retracts += moved.type == 3102 && moved.z == 50;
        EXPECT_NEAR(at[1][i].x, moved.x, 1e-9) << i;
        EXPECT_NEAR(at[1][i].y, moved.y, 1e-9) << i;
        EXPECT_NEAR(at[1][i].z, moved.z, 1e-9) << i;
        EXPECT_EQ(at[1][i].type, moved.type) << i;
        EXPECT_EQ(at[1][i].value, moved.value) << i;
    }
    EXPECT_EQ(retracts, 4);
}

// After a pass end that leaves the tool down (planes left, no retract) a ramp entry within 0.1 of it rises
// by the clearance once more only when it starts a step (2 r sf: 0.08 for a tool radius of 0.1) or more
// away; the lifts are counted from the first pass's end to the ramp's first point.
TEST(PocketNc, NearRampEntryRisesOnlyAStepAway) {
    for (const auto& [gap, lifts] : {std::pair{0.05, 1}, {0.07, 1}, {0.09, 2}}) {
        NcPlane plane;
        CcpParams& p = kvCCPParams;
        rampEntry(p);
        p.retractEachPlane = p.plungeAtLastPosition = 0;
        pocketKernel().toolRadius = 0.1;
        pocketKernel().planesLeft = 1;
        pocketNcHeader();
        Vec2 at{0, 0};
        rampTransition(&at);
        ContourElement a = lineElem(0, 0, 20, 0), b = lineElem(20, gap, 0, gap);
        EXPECT_EQ(pocketEmitElement(&a), 1);
        pocketContourEnd();
        at = {20, gap};
        rampTransition(&at);
        EXPECT_EQ(pocketEmitElement(&b), 1);
        pocketContourEnd();
        size_t i = 0;
        while (i < log().size() && log()[i].type != 3002) ++i;
        int up = 0;
        for (; i < log().size() && log()[i].type != 3113; ++i) up += log()[i].type == 3102;
        EXPECT_EQ(up, lifts) << gap;
    }
}

// A ramp runs at the reduced feed as a share of the plane feed when the reduced feed is above the
// tolerance (1e-4 here) and the plane feed above 0, however small.
TEST(PocketNc, RampTakesTheReducedFeedAsAShareOfThePlaneFeed) {
    const struct {
        double reduced, plane;
        const char* tr;  // null: no reduced feed
    } cases[] = {{400, 800, "FX*0.5"}, {1.5e-4, 1e-4, "FX*1.5"}, {1e-4, 800, nullptr}, {400, 0, nullptr}};
    for (const auto& c : cases) {
        NcPlane plane;
        CcpParams& p = kvCCPParams;
        rampEntry(p);
        p.reducedFeedrate = c.reduced, p.planeFeedrate = c.plane;
        pocketNcHeader();
        const Vec2 start{0, 0};
        rampTransition(&start);
        const ContourElement e = lineElem(0, 0, 30, 0);
        EXPECT_EQ(pocketEmitElement(&e), 1);
        pocketContourEnd();
        const int use = indexOf("aliasUse", "reducedFeedrate");
        EXPECT_EQ(use >= 0, c.tr != nullptr) << c.reduced;
        EXPECT_EQ(c.tr ? indexOf("tr", c.tr, use) : use, c.tr ? use + 1 : -1);
    }
}

// With the tool measured at its centre (a ball mill of diameter 10: 5 above its tip) every height of a
// ramp entry, the zig-zag down and the lifts, is that much higher; nothing else changes.
TEST(PocketNc, RampHeightsFollowTheToolReference) {
    std::vector<Rec> at[2];
    for (int k = 0; k < 2; ++k) {
        NcPlane plane;
        CcpParams& p = kvCCPParams;
        rampEntry(p);
        p.retractEachPlane = 1;
        p.toolType = 1;
        p.toolDiameter = 10;
        kvCCP.vars = kvListSet(kvCCP.vars, "toolReference", k ? "center" : "tip", 21);
        pocketNcHeader();
        Vec2 start{0, 0};
        rampTransition(&start);
        ContourElement e = lineElem(0, 0, 30, 0);
        EXPECT_EQ(pocketEmitElement(&e), 1);
        pocketContourEnd();
        at[k] = log();
    }
    kvCCP.vars = kvListSet(kvCCP.vars, "toolReference", "tip", 21);
    ASSERT_EQ(at[0].size(), at[1].size());
    int raised = 0;
    for (size_t i = 0; i < at[0].size(); ++i) {
        const Rec& r = at[0][i];
        const bool height = r.type == 3102 || r.type == 3112 || r.type == 3113;
        raised += height;
        EXPECT_EQ(at[1][i].type, r.type) << i;
        EXPECT_EQ(at[1][i].value, r.value) << i;
        EXPECT_NEAR(at[1][i].z, r.z + (height ? 5 : 0), 1e-9) << i << " " << r.type;
    }
    EXPECT_GT(raised, 5);
}

// A ramp transition while the tool cuts: a point nearer than 2 r sf + tol (r 5, sf 0.4) is reached by a
// feed line and the cut goes on without an entry; one farther off starts a new ramp entry; one within the
// tolerance (1e-4) is where the tool stands already. The same whether the first ramp still holds the
// first line or has entered it already.
TEST(PocketNc, RampTransitionWithinAPass) {
    const struct {
        double gap;
        bool ramped;
        int feeds;
    } cases[] = {{3.9, false, 1}, {2.5, false, 1}, {4.01, true, 0}, {1e-4, false, 0}, {1.5e-4, false, 1}};
    for (const auto& [gap, ramped, feeds] : cases)
        for (const bool entered : {false, true}) {
            NcPlane plane;
            CcpParams& p = kvCCPParams;
            rampEntry(p);
            p.retractEachPlane = 0;
            pocketNcHeader();
            Vec2 start{0, 0};
            rampTransition(&start);
            ContourElement a = lineElem(0, 0, 30, 0), b = lineElem(30, gap, 0, gap);
            EXPECT_EQ(pocketEmitElement(&a), 1);
            if (entered) rampFlush();
            Vec2 next{30, gap};
            rampTransition(&next);
            EXPECT_EQ(pocketEmitElement(&b), 1);
            pocketContourEnd();
            EXPECT_EQ(pocketPlungePending() + 10 * pocketOutputState().retractDone,
                      11);  // the tool stands retracted
            int entries = 0, zig = 0, feedToNext = 0;
            for (const Rec& r : log()) {
                entries += r.name == "start";
                zig += r.type == 3113 && r.x == 30 && r.y == gap;
                feedToNext += r.type == 3111 && r.x == 30 && r.y == gap;
            }
            EXPECT_EQ(entries, ramped ? 2 : 1) << gap << " " << entered;
            EXPECT_EQ(zig > 0, ramped) << gap << " " << entered;
            EXPECT_EQ(feedToNext, feeds) << gap << " " << entered;
        }
}

// The rapid approach stops the clearance (2) above the entry top: on the level's top (the plane's 0, within
// the tolerance 1e-4) the highest INPUT top (5); below it the plane's top for a complete pocket, else the
// higher of the two tops.
TEST(PocketNc, ApproachStopsAboveTheEntryTop) {
    for (const auto& [levelTop, complete, z] : {std::tuple{0.0, 1, 7.0},
                                                {1e-4, 1, 7.0},
                                                {2e-4, 1, 2.0},
                                                {2e-4, 0, 2.0002},
                                                {3.0, 0, 5.0},
                                                {-3.0, 0, 2.0}}) {
        NcPlane plane;
        ContourHeader h{};
        h.top = 5;
        ASSERT_TRUE(putContour("INPUT", box(0, 0, 100, 60), h));
        kvCCPParams.completePocket = complete;
        pocketNcHeader();
        pocketOutputState().levelTop = levelTop;
        ContourElement e = lineElem(20, 20, 40, 20);
        pocketEmitElement(&e);
        const std::vector<Rec> moves = records(31);
        ASSERT_GT(moves.size(), 2u);
        EXPECT_EQ(moves[1].z * 100 + moves[2].z, 50 * 100 + z) << levelTop << " " << complete;
        clistFree("INPUT");
    }
}

// A pass ended by the clearance lift only (more planes follow, no retract each plane) leaves the tool
// the clearance (2) above the bottom (-5), below the retract plane: before it moves on to a start far
// off it goes up to the retract plane. After a straight plunge as after a ramp; a tool referenced at its
// centre (ball of radius 5) does all of it 5 higher.
TEST(PocketNc, ToolLeftDownGoesUpBeforeAFarEntry) {
    for (const bool ramp : {false, true}) {
        std::vector<Rec> at[2];
        for (int k = 0; k < 2; ++k) {
            NcPlane plane;
            CcpParams& p = kvCCPParams;
            p.retractEachPlane = 0;
            p.plungeAtLastPosition = 0;
            p.completePocket = 0;
            p.toolType = 1;
            p.toolDiameter = 10;
            if (ramp) rampEntry(p);
            kvCCP.vars = kvListSet(kvCCP.vars, "toolReference", k ? "center" : "tip", 21);
            pocketKernel().planesLeft = 1;
            pocketNcHeader();
            const Vec2 start{0, 0};
            rampTransition(&start);
            ContourElement a = lineElem(0, 0, 10, 0), b = lineElem(40, 20, 50, 20);
            EXPECT_EQ(pocketEmitElement(&a), 1);
            pocketContourEnd();
            // The first entry: up to the retract plane, down to the clearance above the top (a ramp
            // starts a tenth of the infeed depth of 2 higher).
            std::vector<double> entry;
            for (size_t i = 0; i < log().size() && log()[i].type / 10 != 311; ++i)
                if (log()[i].type == 3102) entry.push_back(log()[i].z);
            EXPECT_EQ(entry, (std::vector<double>{50.0 + 5 * k, (ramp ? 2.2 : 2) + 5 * k})) << ramp << k;
            const size_t end = log().size();
            EXPECT_EQ(log()[end - 1].type, 3102);
            EXPECT_NEAR(log()[end - 1].z, -3 + 5 * k, 1e-9) << ramp << k;
            EXPECT_EQ(pocketEmitElement(&b), 1);
            std::vector<double> lifts;
            size_t i = end;
            for (; i < log().size() && !(log()[i].type / 10 == 310 && log()[i].x == 40 && log()[i].y == 20);
                 ++i)
                if (log()[i].type == 3102) lifts.push_back(log()[i].z);
            ASSERT_LT(i, log().size());
            EXPECT_EQ(lifts, std::vector<double>{50.0 + 5 * k}) << ramp;
            at[k] = log();
        }
        ASSERT_EQ(at[0].size(), at[1].size());
        for (size_t i = 0; i < at[0].size(); ++i) {
            const int t = at[0][i].type;
            const bool height = t == 3102 || t == 3112 || t == 3113;
            EXPECT_NEAR(at[1][i].z, at[0][i].z + (height ? 5 : 0), 1e-9) << ramp << " " << i << " " << t;
        }
    }
    kvCCP.vars = kvListSet(kvCCP.vars, "toolReference", "tip", 21);
}

// Block numbering runs only with a retract on every plane, no wall angle and all input contours at one
// top and bottom (within the tolerance 1e-4): then each pass opens its numbered block (5001) from the
// first number 0 on and its end closes it (5002), and the values written at the end (5003) run from 1 to
// the count of blocks less one.
TEST(PocketNc, BlockNumbersAroundEachPass) {
    const struct {
        int32_t retractEachPlane;
        double wallAngle, top, bottom;  // of the second input contour; the first is at 0 and 0
        int on;
    } cases[] = {{1, 0, 0, 0, 1},        {0, 0, 0, 0, 0},    {1, 0.1, 0, 0, 0},
                 {1, 0, 1e-4, -1e-4, 1}, {1, 0, 2e-4, 0, 0}, {1, 0, 0, -2e-4, 0}};
    for (const auto& c : cases) {
        NcPlane plane;
        ContourHeader h{};
        ASSERT_TRUE(putContour("INPUT", box(0, 0, 100, 60), h));
        h.top = c.top, h.bottom = c.bottom;
        ASSERT_TRUE(putContour("INPUT", box(10, 10, 20, 20), h));
        EXPECT_EQ(ncRegisterHandler(&kvCCP, 12, capture<12>, capture<12>, 1), 1);
        CcpParams& p = kvCCPParams;
        p.retractEachPlane = c.retractEachPlane;
        p.wallAngle = c.wallAngle;
        EXPECT_EQ(blockNumberingInit() * 10 + pocketOutputState().blockCounter, c.on ? 10 : -1);
        pocketNcHeader();
        for (const double y : {0.0, 20.0, 40.0}) {
            ContourElement e = lineElem(0, y, 10, y);
            EXPECT_EQ(pocketEmitElement(&e), 1);
            // The first pass ends at the far entry of the second, or (odd rows) by the contour's end.
            if (y > 0 || (&c - cases) % 2) pocketContourEnd();
        }
        pocketOutputState().collectMode = 1;  // while a path is collected its values wait
        blockValuesEmit();
        pocketOutputState().collectMode = 0, blockValuesEmit();
        const std::vector<int> want =
            c.on ? std::vector<int>{5001, 5002, 5001, 5002, 5001, 5002, 5003, 5003} : std::vector<int>{};
        EXPECT_EQ(types(12), want) << c.retractEachPlane << " " << c.wallAngle << " " << c.top << " "
                                   << c.bottom;
        clistFree("INPUT");
    }
}

// The last guard: a cut that would take the tool into a wall is not written, and the failed step is
// reported once a plane however often it happens there; a cut clear of the walls goes out. Every pass
// leaves by 2 at its end; only a stock-only plane also leaves the cut before a refused one.
TEST(PocketNc, GougingCutsAreRefusedAndReportedOncePerPlane) {
    NcPlane plane;
    ASSERT_EQ(clistCreate("INPUT"), 1);
    ASSERT_EQ(clistCreate("CLAMPS"), 1);
    planeCheckResetState();
    pocketKernel().geometryScale = 1;
    kvCCPParams.toolDiameter = 10;
    kvCCPParams.leavingType = 1;
    kvCCPParams.leavingLength = 2;
    ContourHeader h{};
    h.bottom = -5;
    ASSERT_TRUE(putContour("INPUT", box(0, 0, 100, 60), h));
    for (int plane = 0; plane < 2; ++plane) {
        kvCCPParams.stock = plane ? 0 : kCcpStockOnly;
        pocketNcHeader();
        for (const double y : {2.0, 30.0, 3.0, 40.0}) {
            ContourElement e = lineElem(20, y, 80, y);
            pocketEmitElement(&e);
        }
        pocketContourEnd();
    }
    std::vector<double> ends;
    for (const Rec& r : log())
        if (r.type == 3111 && r.x == 80) ends.push_back(r.y);
    EXPECT_EQ(ends, (std::vector<double>{30, 32, 40, 42, 30, 40, 42}));
    EXPECT_EQ(PocketErrors::texts(), (std::vector<std::string>{"101 1103", "101 1103"}));
    // A gap of 2 along the wall, 5.5 off it, is bridged by a feed line: the tool keeps clear along it.
    log().clear();
    pocketNcHeader();
    for (const double x : {20.0, 52.0}) {
        ContourElement e = lineElem(x, 5.5, x + 30, 5.5);
        pocketEmitElement(&e);
    }
    EXPECT_EQ(std::count_if(log().begin(), log().end(), [](const Rec& r) { return r.name == "start"; }), 1);
    EXPECT_EQ(std::count_if(log().begin(), log().end(), [](const Rec& r) { return r.type == 3111; }), 3);
    clistFree("INPUT");
    clistFree("CLAMPS");
    planeCheckResetState();
}

// A helical entry: the approach stops a tenth of the infeed depth higher than a straight one, then the
// helix about the element's start runs from a tenth of the infeed depth plus the ramp clearance above
// the surface down to the bottom, top first, instead of the straight plunge.
TEST(PocketNc, HelicalEntryAboutTheStart) {
    struct Case {
        int32_t plungeType;
        double infeedDepth;
    } cases[] = {{2, 3.0}, {1, 3.0}, {1, 1.5}};
    for (const Case& c : cases) {
        NcPlane plane;
        CcpParams& p = kvCCPParams;
        p.plungeType = c.plungeType;
        p.infeedDepth = c.infeedDepth;
        p.helixRadius = 1.5;
        p.helixPlungeAngle = 5 * M_PI / 180;
        p.helixAngleResolution = 0.2;
        pocketNcHeader();
        const ContourElement e = lineElem(4, 3, 14, 3);
        EXPECT_EQ(pocketEmitElement(&e), 1);
        pocketContourEnd();
        const bool helix = c.plungeType == 1;
        std::vector<Rec> down, plunges;
        double approach = NAN;
        for (const Rec& r : records(31)) {
            if (r.type == 3102 && std::isnan(approach) && r.z < 50) approach = r.z;
            if (r.type == 3113) down.push_back(r);
            if (r.type == 3112) plunges.push_back(r);
        }
        EXPECT_DOUBLE_EQ(approach, 2 + (helix ? 0.1 * c.infeedDepth : 0.0)) << c.plungeType;
        EXPECT_EQ(plunges.size(), helix ? 0u : 1u) << c.plungeType;
        if (!helix) {
            EXPECT_TRUE(down.empty());
            continue;
        }
        ASSERT_GE(down.size(), 4u);
        const double top = 0.1 * c.infeedDepth + pocketKernel().rampClearance;
        EXPECT_NEAR(down.front().z, top, 1e-9);
        EXPECT_NEAR(down.back().z, -5, 1e-9);
        for (const Rec* r : {&down.front(), &down.back()}) {
            EXPECT_NEAR(r->x, 4, 1e-9);
            EXPECT_NEAR(r->y, 3, 1e-9);
        }
        for (size_t i = 1; i < down.size(); ++i) {
            EXPECT_LE(down[i].z, down[i - 1].z + 1e-12) << i;
            EXPECT_LE(std::hypot(down[i].x - 4, down[i].y - 3), 1.5 + 1e-9) << i;
        }
        EXPECT_NEAR(down[down.size() - 2].x, 5.5, 1e-9);  // the helix starts radius to +x at the bottom
        EXPECT_NEAR(down[down.size() - 2].y, 3, 1e-9);
    }
}

// A move limit of n lets n elements out and refuses the rest with error 301 once.
TEST(PocketNc, MoveLimitRefusesElementsPastIt) {
    for (const int32_t limit : {1, 3}) {
        NcPlane plane;
        pocketNcHeader();
        pocketOutputState().moveLimit = limit;
        int written = 0;
        for (int k = 0; k < 5; ++k) {
            const ContourElement e = lineElem(k, 0, k + 1, 0);
            written += pocketEmitElement(&e);
        }
        EXPECT_EQ(written, limit);
        int moves = 0;
        for (const Rec& r : records(31)) moves += r.type == 3111;
        EXPECT_EQ(moves, limit);
        EXPECT_EQ(pocketOutputState().moveLimit, -1);
        int errors = 0;
        for (const std::string& t : PocketErrors::texts()) errors += t == "101 301";
        EXPECT_EQ(errors, 1);
    }
    NcPlane plane;  // no limit
    pocketNcHeader();
    for (int k = 0; k < 5; ++k) {
        const ContourElement e = lineElem(k, 0, k + 1, 0);
        EXPECT_EQ(pocketEmitElement(&e), 1);
    }
    EXPECT_EQ(pocketOutputState().moveCount, 0);
}

// The header names the frame and switches it on once.
TEST(PocketNc, HeaderFrame) {
    NcPlane plane;
    // A reset state stands retracted, its header and first retract to come, unnumbered, below no top.
    const PocketOutputState& o = pocketOutputState();
    EXPECT_EQ(std::vector<double>({1.0 * o.retractDone, 1.0 * o.retractFirst, 1.0 * o.headerPending,
                                   1.0 * o.blockCounter, o.levelTop}),
              std::vector<double>({1, 1, 1, -1, -1e300}));
    std::snprintf(kvCCPParams.frame, sizeof kvCCPParams.frame, "%s", "F7");
    kvCCPParams.frameOn = 1;
    pocketNcHeader();
    EXPECT_GE(indexOf("frame", "F7"), 0);
    EXPECT_GE(indexOf("tr", "frameOn"), 0);
    EXPECT_EQ(kvCCPParams.frameOn, 0);
    kvCCPParams.frame[0] = 0;
}

// Leaving moves off the end of a line along x or along y: straight out to the chosen side (+1 left), or a
// quarter circle that starts along the line and ends the length out to that side.
TEST(PocketNc, LeavingMovesToEitherSide) {
    for (const Vec2 d : {Vec2{1, 0}, Vec2{0, 1}}) {
        const ContourElement e = lineElem(0, 0, 10 * d.x, 10 * d.y, 7);
        for (const int32_t side : {1, -1}) {
            const Vec2 out2{10 * d.x - 2.0 * side * d.y, 10 * d.y + 2.0 * side * d.x};  // the length out
            ContourElement out{};
            ASSERT_EQ(leaveMoveBuild(1, 2.0, &e, side, &out), 1);
            EXPECT_EQ(out.type, kElemLine);
            EXPECT_EQ(out.sourceTag, 7);
            const double line[4] = {10 * d.x, 10 * d.y, out2.x, out2.y};
            for (int i = 0; i < 4; ++i) EXPECT_NEAR(out.g[i], line[i], 1e-12) << i << " " << d.x;
            ASSERT_EQ(leaveMoveBuild(3, 2.0, &e, side, &out), 1);
            EXPECT_EQ(out.type, kElemArc);
            const double arc[7] = {out2.x, out2.y, 10 * d.x, 10 * d.y, out2.x + 2 * d.x, out2.y + 2 * d.y, 2};
            for (int i = 0; i < 7; ++i) EXPECT_NEAR(out.g[i], arc[i], 1e-12) << i << " " << d.x;
            EXPECT_EQ(out.direction, side);
            EXPECT_EQ(leaveMoveBuild(2, 2.0, &e, side, &out), 0);
        }
    }
}

// A ramp runs only along the cuts the guard lets through: with the first cut against a wall there is no
// ramp (the cut is refused and reported), with it clear of the walls the ramp runs along it.
TEST(PocketNc, RampNeverRunsAlongARefusedCut) {
    const struct {
        double y;
        bool ramped;
    } cases[] = {{2, false}, {30, true}, {5.5, true}, {4.5, false}};
    for (const auto& c : cases) {
        NcPlane plane;
        ASSERT_EQ(clistCreate("INPUT"), 1);
        ASSERT_EQ(clistCreate("CLAMPS"), 1);
        planeCheckResetState();
        pocketKernel().geometryScale = 1;
        CcpParams& p = kvCCPParams;
        p.toolDiameter = 10;
        rampEntry(p);
        ContourHeader h{};
        h.bottom = -5;
        ASSERT_TRUE(putContour("INPUT", box(0, 0, 100, 60), h));
        pocketNcHeader();
        Vec2 start{20, c.y};
        rampTransition(&start);
        ContourElement a = lineElem(20, c.y, 80, c.y), b = lineElem(80, c.y, 80, 50);
        pocketEmitElement(&a);
        pocketEmitElement(&b);
        pocketContourEnd();
        int zig = 0;
        for (const Rec& r : log()) zig += r.type == 3113;
        EXPECT_EQ(zig > 0, c.ramped) << c.y;
        EXPECT_EQ(PocketErrors::sent("101 1103"), !c.ramped) << c.y;
        EXPECT_EQ(pocketOutputState().cutRefused, c.ramped ? 0 : 1) << c.y;  // the plane's flag, set once
        clistFree("INPUT");
        clistFree("CLAMPS");
        planeCheckResetState();
    }
}

// Geometry scaled by s is written at 1/s: a pass of arcs and lines given s times its size at scale s
// writes the records of the pass at scale 1, centres and radii too.
TEST(PocketNc, ScaledPassIsWrittenUnscaled) {
    std::vector<Rec> at[3];
    const double scales[3] = {1, 2, 0.25};
    for (int k = 0; k < 3; ++k) {
        NcPlane plane;
        const double s = scales[k];
        pocketKernel().geometryScale = s;
        pocketNcHeader();
        const ContourElement pass[] = {
            lineElem(0, 0, 30 * s, 0), arcElem(30 * s, 8 * s, 8 * s, -M_PI / 2, 0, 1),
            lineElem(38 * s, 8 * s, 38 * s, 20 * s), arcElem(30 * s, 20 * s, 8 * s, 0, M_PI, 1)};
        for (ContourElement e : pass) EXPECT_EQ(pocketEmitElement(&e), 1);
        pocketContourEnd();
        at[k] = log();
    }
    for (int k = 1; k < 3; ++k) {
        ASSERT_EQ(at[k].size(), at[0].size());
        for (size_t i = 0; i < at[0].size(); ++i) {
            const Rec &a = at[0][i], &b = at[k][i];
            EXPECT_EQ(std::tie(b.type, b.value, b.clockwise), std::tie(a.type, a.value, a.clockwise))
                << k << i;
            for (const auto& [u, v] :
                 {std::pair{a.x, b.x}, {a.y, b.y}, {a.z, b.z}, {a.cx, b.cx}, {a.cy, b.cy}})
                EXPECT_NEAR(v, u, 1e-9) << k << " " << i;
        }
    }
}

// With planes left and no retract between them, a pass ends where the next plane plunges: at its last
// position when asked to (the start of the next plane, no lift), else lifted by the clearance distance.
// The pass leaves by 2 to the left of its last line (x = 60 upwards in the geometry scaled by 2).
TEST(PocketNc, NextPlanePlungesAtTheLastPosition) {
    for (const int32_t atLast : {1, 0}) {
        NcPlane plane;
        CcpParams& p = kvCCPParams;
        PocketKernel& k = pocketKernel();
        p.retractEachPlane = 0;
        p.plungeAtLastPosition = atLast;
        // Where on, switched on (CCX) as the pass opens and off (CC0X) at its end; never where off.
        p.cutterCompensation = atLast;
        p.leavingType = 1, p.leavingLength = 2, k.geometryScale = 2;
        k.planesLeft = 1;
        k.startGiven = 0;
        pocketNcHeader();
        ContourElement a = lineElem(0, 0, 30, 0), b = lineElem(30, 0, 30, 20), c = lineElem(60, 0, 60, 20);
        EXPECT_EQ(pocketEmitElement(&a) + pocketEmitElement(&b) + pocketEmitElement(&c), 3);
        const size_t before = records(31).size();
        pocketContourEnd();
        int lifts = 0;
        const std::vector<Rec> after = records(31);
        for (size_t i = before; i < after.size(); ++i) lifts += after[i].type == 3102;
        EXPECT_EQ(lifts, atLast ? 0 : 1);
        EXPECT_EQ(k.startGiven, atLast);
        const auto sent = [](const char* v) {
            return std::count_if(log().begin(), log().end(), [v](const Rec& r) { return r.value == v; });
        };
        EXPECT_EQ(sent("CC0X"), 2 * atLast);
        EXPECT_EQ(sent("CCX"), sent("CC0X"));
        EXPECT_EQ(after[before].x * 100 + after[before].y, 28 * 100 + 10);  // written unscaled
        EXPECT_TRUE(!atLast || (k.startX == 56 && k.startY == 20)) << k.startX << " " << k.startY;
        k.planesLeft = 0;
        k.startGiven = 0;
    }
}

// The pass that ends the last plane of the last level switches a given frame off when asked to, once:
// the frame is then dropped; any earlier pass leaves it.
TEST(PocketNc, LastPassSwitchesTheFrameOff) {
    const struct {
        int32_t levels, planes, frameOff;
        bool frame, off;
    } cases[] = {{0, 0, 1, true, true},
                 {1, 0, 1, true, false},
                 {0, 1, 1, true, false},
                 {0, 0, 0, true, false},
                 {0, 0, 1, false, false}};
    for (const auto& c : cases) {
        NcPlane plane;
        CcpParams& p = kvCCPParams;
        strcpy(p.frame, c.frame ? "0/0/0/1/0/0" : "");
        p.frameOff = c.frameOff;
        pocketKernel().levelsLeft = c.levels;
        pocketKernel().planesLeft = c.planes;
        pocketNcHeader();
        const ContourElement a = lineElem(0, 0, 10, 0);
        EXPECT_EQ(pocketEmitElement(&a), 1);
        pocketContourEnd();
        EXPECT_EQ(indexOf("tr", "frameOff") >= 0, c.off) << c.levels << c.planes << c.frameOff << c.frame;
        EXPECT_EQ(p.frame[0] != 0, c.frame && (c.levels || c.planes)) << c.levels << c.planes << c.frameOff;
    }
}

// Seeded arcs, short and long, either way round, their centres pushed a little off: the centre comes back
// to where it was, on the chord's bisector at the radius, on the side it was pushed from.
TEST(PocketNc, ArcRecentredOnItsOwnSideOfTheChord) {
    std::mt19937 rng(551);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int k = 0; k < 40; ++k) {
        const double cx = 50 * u(rng), cy = 50 * u(rng), r = 1 + 10 * u(rng), a0 = 2 * M_PI * u(rng);
        const double sweep = (k % 2 ? 0.3 + 2.5 * u(rng) : 3.4 + 2.5 * u(rng)) * (k % 4 < 2 ? 1 : -1);
        ContourElement arc = arcElem(cx, cy, r, a0, a0 + sweep, sweep > 0 ? 1 : -1);
        arc.g[kAcx] += 1e-3 * (u(rng) - 0.5);
        arc.g[kAcy] += 1e-3 * (u(rng) - 0.5);
        arcRecentre(&arc);
        EXPECT_NEAR(arc.g[kAcx], cx, 1e-9) << k;
        EXPECT_NEAR(arc.g[kAcy], cy, 1e-9) << k;
    }
    // A radius of half the chord or less, or a chord below 1e-6, leaves the centre where it was.
    for (const auto& [ex, r] : {std::pair{5.0, 2.5}, {5.0, 2.0}, {5e-7, 1.0}}) {
        ContourElement arc = arcElem(0, 0, r, 0, 1, 1);
        arc.g[kAsx] = arc.g[kAsy] = arc.g[kAey] = 0, arc.g[kAex] = ex, arc.g[kAcx] = ex / 2,
        arc.g[kAcy] = 0.3;
        arcRecentre(&arc);
        EXPECT_TRUE(arc.g[kAcx] == ex / 2 && arc.g[kAcy] == 0.3) << ex << " " << r;
    }
}
