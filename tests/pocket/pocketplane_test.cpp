// One plane's dispatch and what the output adds around a strategy's path:
// CUT-list choice, circular-pocket start, pocket-contour sections, entry kinds,
// the move limit and the leaving moves.
#include "pocket/pocketplane.h"

#include "geometry/rng.h"
#include "pocket/movechain.h"
#include "pocketnc_util.h"

namespace {

void putContour(const char* list, const std::vector<ContourElement>& c) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(c.size());
    h.leftSide = 1;
    h.ccw = 1;
    ASSERT_EQ(clistInsert(list, c.data(), &h, -1), 1);
}

// The entry kinds written ("start" records), in order.
std::vector<std::string> entryKinds() {
    std::vector<std::string> k;
    for (const Rec& r : log())
        if (r.name == "start") k.push_back(r.value);
    return k;
}

struct CycleIdGuard {
    int32_t saved = kvCCP.cycleId;
    ~CycleIdGuard() { kvCCP.cycleId = saved; }
};

}  // namespace

// Step width against the tool diameter 10 at the edges of the three rules.
TEST(PocketPlane, CutListsChoice) {
    struct Case {
        double step, fillet;
        int complete, toolType, open, wanted;
    } cases[] = {
        {5.0, 0, 1, 0, 0, 0},       {5.01, 0, 1, 0, 0, 1},    {4.0, 0.01, 1, 0, 0, 1},
        {4.0, 0.00005, 1, 0, 0, 0}, {3.0, 0, 0, 1, 0, 0},     {3.01, 0, 0, 1, 0, 1},
        {2.0, 0.01, 1, 0, 1, 1},    {1.99, 0.01, 1, 0, 1, 0}, {6.0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        PocketErrors errors;
        CcpParams& p = kvCCPParams;
        p.toolDiameter = 10;
        p.infeedLength = c.step;
        p.filletRadius = c.fillet;
        p.completePocket = c.complete;
        p.considerToolType = c.toolType;
        pocketKernel().openMode = c.open;
        EXPECT_EQ(pocketPlaneWantsCutLists(), c.wanted) << c.step << " " << c.fillet << " " << c.open;
    }
}

TEST(PocketPlane, CircularPocketStartsAtItsCentre) {
    struct Case {
        int arcs, sameRadius, direct;
        bool centred;
    } cases[] = {{4, 1, 0, true}, {3, 1, 0, true}, {4, 0, 0, false}, {4, 1, 1, false}};
    for (const Case& c : cases) {
        NcPlane plane;
        ASSERT_EQ(clistCreate("MAIN"), 1);
        std::vector<ContourElement> ring;
        for (int i = 0; i < c.arcs; ++i) {
            double r = c.sameRadius || i == 0 ? 12 : 12.5;
            ring.push_back(arcElem(7, -3, r, 2 * M_PI * i / c.arcs, 2 * M_PI * (i + 1) / c.arcs, 1));
        }
        putContour("MAIN", ring);
        pocketKernel().outsideInDirect = c.direct;
        pocketPlane();
        PocketKernel& k = pocketKernel();
        EXPECT_EQ(k.startGiven, c.centred ? 1 : 0) << c.arcs << c.sameRadius << c.direct;
        if (c.centred) {
            EXPECT_DOUBLE_EQ(k.startX, 7);
            EXPECT_DOUBLE_EQ(k.startY, -3);
        }
    }
}

// MAIN's material runs (tags 0, 0, -1, 0 round a square) open and close the
// pocket-contour section as the written path enters and leaves them; a plane
// closes a section left open.
TEST(PocketPlane, PocketContourSections) {
    NcPlane plane;
    ASSERT_EQ(clistCreate("MAIN"), 1);
    std::vector<ContourElement> sq = polygon({{0, 0}, {20, 0}, {20, 20}, {0, 20}});
    sq[2].sourceTag = -1;
    putContour("MAIN", sq);
    pocketKernel().pocketContour = 1;
    PocketOutputState& out = pocketOutputState();
    out.sectionPieces = listMaterialRuns("MAIN");
    ASSERT_NE(out.sectionPieces, nullptr);
    pocketNcHeader();
    std::vector<ContourElement> path = sq;
    path.push_back(lineElem(0, 0, 5, 5));  // inside, on no piece
    for (const ContourElement& e : path) pocketEmitElement(&e);
    std::vector<std::string> marks;
    std::vector<int> movesBefore;
    int moves = 0;
    for (const Rec& r : log()) {
        moves += r.type == 3111;
        if (r.name == "pocket") {
            marks.push_back(r.value);
            movesBefore.push_back(moves);
        }
    }
    EXPECT_EQ(marks, (std::vector<std::string>{"start", "end", "start", "end"}));
    EXPECT_EQ(movesBefore, (std::vector<int>{0, 2, 3, 4}));
    out.pocketSection = 1;
    log().clear();
    EXPECT_EQ(pocketPlane(), -1);  // no contour-parallel driver in this build
    EXPECT_EQ(out.pocketSection, 0);
    EXPECT_GE(indexOf("pocket", "end"), 0);
    EXPECT_EQ(out.sectionPieces, nullptr);
}

// Each case writes two passes along the x axis (the second starts at the
// first's end) and names the entry kinds written.
TEST(PocketNc, EntryKinds) {
    struct Case {
        int32_t id, open, rif, stockOutin, tag, orientation;
        bool cutBefore;
        std::vector<std::string> kinds;
    } cases[] = {
        {0, 0, 0, 0, 0, 1, false, {"drill", "drill"}},
        {0, 1, 0, 0, 0, 1, false, {"left", "left"}},
        {0, 1, 0, 0, 0, -1, false, {"right", "right"}},
        {0, 0, 1, 0, 0, 1, false, {"plunge", "plunge"}},
        {1001, 0, 0, 0, 0, 1, false, {"drill", "plunge"}},
        {1002, 0, 0, 0, 0, 1, false, {"plunge", "plunge"}},
        {0, 0, 0, 1, -1, 1, false, {"plunge", "plunge"}},
        // The second pass starts where the first one ended: beside material already cut.
        {0, 0, 0, 1, 0, 1, false, {"drill", "right"}},
        {0, 0, 0, 1, 0, -1, false, {"drill", "left"}},
        // A move cut before the first pass ends where it starts.
        {0, 0, 0, 1, 0, -1, true, {"left", "left"}},
    };
    for (const Case& c : cases) {
        NcPlane plane;
        CycleIdGuard guard;
        kvCCP.cycleId = c.id;
        CcpParams& p = kvCCPParams;
        p.evaluateRif = c.rif;
        p.orientation = c.orientation;
        pocketKernel().openMode = c.open;
        pocketKernel().stockOutin = c.stockOutin;
        PocketOutputState& out = pocketOutputState();
        if (c.stockOutin) out.moveList = moveChainCreate(8);
        if (c.cutBefore) {
            ContourElement before = lineElem(-30, 0, 0, 0);
            ASSERT_NE(out.moveList, nullptr);
            moveChainAppend(out.moveList, &before, 0);
        }
        pocketNcHeader();
        ContourElement a = lineElem(0, 0, 30, 0, c.tag), b = lineElem(30, 0, 60, 0, c.tag);
        pocketEmitElement(&a);
        pocketContourEnd();
        pocketEmitElement(&b);
        pocketContourEnd();
        EXPECT_EQ(entryKinds(), c.kinds)
            << c.id << " " << c.open << c.rif << c.stockOutin << c.tag << c.orientation << c.cutBefore;
    }
}

TEST(PocketNc, MoveLimitStopsTheRun) {
    NcPlane plane;
    PocketOutputState& out = pocketOutputState();
    out.moveLimit = 3;
    pocketNcHeader();
    int written = 0;
    for (int i = 0; i < 5; ++i) {
        ContourElement e = lineElem(10 * i, 0, 10 * i + 10, 0);
        written += pocketEmitElement(&e);
    }
    EXPECT_EQ(written, 3);
    int lines = 0;
    for (const Rec& r : log()) lines += r.type == 3111;
    EXPECT_EQ(lines, 3);
    EXPECT_EQ(PocketErrors::texts(), (std::vector<std::string>{"101 301"}));
    EXPECT_EQ(out.moveLimit, -1);
}

// Closed forms of the two leaving moves off a line and off an arc, both sides.
TEST(LeaveMove, BuildClosedForm) {
    ContourElement line = lineElem(1, 2, 4, 6);  // tangent (0.6, 0.8)
    ContourElement arc = arcElem(0, 0, 5, 0, M_PI / 2, 1);
    struct Case {
        const ContourElement* e;
        int32_t side;
        Vec2 p, t, n;
    } cases[] = {
        {&line, 1, {4, 6}, {0.6, 0.8}, {-0.8, 0.6}},
        {&line, -1, {4, 6}, {0.6, 0.8}, {0.8, -0.6}},
        {&arc, 1, {0, 5}, {-1, 0}, {0, -1}},  // left of a counter-clockwise arc: towards its centre
        {&arc, -1, {0, 5}, {-1, 0}, {0, 1}},
    };
    const double len = 2.5;
    for (const Case& c : cases) {
        ContourElement out{};
        ASSERT_EQ(leaveMoveBuild(1, len, c.e, c.side, &out), 1);
        EXPECT_EQ(out.type, kElemLine);
        EXPECT_NEAR(out.g[kLx1], c.p.x, 1e-12);
        EXPECT_NEAR(out.g[kLx2], c.p.x + len * c.n.x, 1e-12);
        EXPECT_NEAR(out.g[kLy2], c.p.y + len * c.n.y, 1e-12);
        ASSERT_EQ(leaveMoveBuild(3, len, c.e, c.side, &out), 1);
        EXPECT_EQ(out.type, kElemArc);
        EXPECT_EQ(out.direction, c.side);
        EXPECT_NEAR(out.g[kAex], c.p.x + len * (c.n.x + c.t.x), 1e-12);
        EXPECT_NEAR(out.g[kAey], c.p.y + len * (c.n.y + c.t.y), 1e-12);
        // The quarter circle leaves tangentially: its start radius is normal to the path.
        double rx = out.g[kAsx] - out.g[kAcx], ry = out.g[kAsy] - out.g[kAcy];
        EXPECT_NEAR(rx * c.t.x + ry * c.t.y, 0.0, 1e-12);
        EXPECT_NEAR(std::hypot(rx, ry), len, 1e-12);
        EXPECT_EQ(leaveMoveBuild(2, len, c.e, c.side, &out), 0);
        EXPECT_EQ(leaveMoveBuild(0, len, c.e, c.side, &out), 0);
    }
}

// A pass along y = 5 in a 100 x 40 pocket, tool radius 5: the leaving move
// towards the far wall is halved until the tool at its end keeps 5 from every
// wall; the expected halving count comes from the rectangle in closed form.
TEST(LeaveMove, FitHalvesUntilClear) {
    PocketErrors errors;
    ASSERT_EQ(clistCreate("INPUT"), 1);
    putContour("INPUT", polygon({{0, 0}, {100, 0}, {100, 40}, {0, 40}}));
    PocketKernel& k = pocketKernel();
    k.toolRadius = 5;
    k.wantedOrientation = 1;
    const double clearance = 5 - 1e-4;
    auto clear = [&](Vec2 q) {
        return q.x >= clearance && q.y >= clearance && 100 - q.x >= clearance && 40 - q.y >= clearance &&
               std::hypot(q.x, q.y) >= clearance;
    };
    rngResetState();
    ContourElement pass = lineElem(20, 5, 60, 5);
    for (int trial = 0; trial < 200; ++trial) {
        const int32_t type = trial % 2 ? 3 : 1;
        const double len = 0.5 * std::exp(rngUniform() * std::log(40000.0));  // 0.5 .. 20000, spread by scale
        int expectedPasses = -1;
        Vec2 expectedEnd{};
        for (int h = 0; h < 10 && expectedPasses < 0; ++h) {
            Vec2 q;
            if (type == 1) {
                q = {60, 5 + len / std::pow(2.0, h)};
            } else {
                double a = (M_PI / 2) / std::pow(2.0, h);  // the quarter's sweep, halved
                q = {60 + len * std::sin(a), 5 + len - len * std::cos(a)};
            }
            if (clear(q)) {
                expectedPasses = h;
                expectedEnd = q;
            }
        }
        ContourElement out{};
        int got = leaveMoveFit(type, len, &pass, &out);
        ASSERT_EQ(got, expectedPasses >= 0 ? 1 : 0) << type << " " << len;
        if (got != 1) continue;
        Vec2 end = type == 1 ? Vec2{out.g[kLx2], out.g[kLy2]} : Vec2{out.g[kAex], out.g[kAey]};
        EXPECT_NEAR(end.x, expectedEnd.x, 1e-7) << type << " " << len;
        EXPECT_NEAR(end.y, expectedEnd.y, 1e-7) << type << " " << len;
    }
}

// The pass end writes the leaving move as a feed move before the path ends.
TEST(LeaveMove, PassEndWritesIt) {
    NcPlane plane;
    ASSERT_EQ(clistCreate("INPUT"), 1);
    putContour("INPUT", polygon({{-10, -10}, {100, -10}, {100, 40}, {-10, 40}}));
    pocketKernel().wantedOrientation = 1;
    kvCCPParams.leavingType = 1;
    kvCCPParams.leavingLength = 3;
    pocketNcHeader();
    ContourElement e = lineElem(0, 0, 30, 0);
    pocketEmitElement(&e);
    pocketContourEnd();
    std::vector<Rec> c31 = records(31);
    int pathEnd = -1;
    for (size_t i = 0; i < c31.size(); ++i)
        if (c31[i].type == 3002) pathEnd = static_cast<int>(i);
    ASSERT_GE(pathEnd, 2);
    EXPECT_EQ(c31[pathEnd - 1].type, 3111);
    EXPECT_DOUBLE_EQ(c31[pathEnd - 1].x, 30);
    EXPECT_DOUBLE_EQ(c31[pathEnd - 1].y, 3);
    EXPECT_EQ(entryKinds().size(), 1u);
}
