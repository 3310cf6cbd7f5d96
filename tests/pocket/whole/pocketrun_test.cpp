// The pocket run in-process through the host entry: the channel-0 frame of a
// job, required keys, the status word after pocket and nesting failures,
// repeatability and leaks on every exit.
#include "pocket/pocketrun.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "kernel/base/kvx/kvxfile.h"
#include "kernel/base/rng.h"
#include "kernel/cycle/cycle.h"
#include "kernel/ncout/core.h"
#include "kernel/ncout/ncrecord.h"
#include "../nogouge_util.h"
#include "platform/module.h"
#include "pocket/contourorient.h"
#include "pocket/pocket_util.h"
#include "kernel/exports/exports.h"
#include "kernel/cycle/testrecord.h"
#include "pocket/pocketerr.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace pocketruntest {

using Out = pocketnctest::Rec;

// Every record of a run; those of channel 31 also go to the NC tests' log for the no-gouge check.
inline int record(KvCycle*, int32_t channel, const void* bytes, void* user) {
    const Out o = pocketnctest::decode(channel, static_cast<const NcRecord*>(bytes));
    if (channel == 31) pocketnctest::log().push_back(o);
    static_cast<std::vector<Out>*>(user)->push_back(o);
    return 1;
}

// A contour of an exchange file: closed through its points (an open chain when not), with its heights.
struct KvxContour {
    std::vector<Vec2> p;
    std::string heights = "v depth(6)";
    bool closed = true;
};

inline std::string kvxText(const std::vector<KvxContour>& contours, const std::string& head = "") {
    std::string t = std::string(kKvxBanner) + "\nkVX-Version: 1.0\npocket\ncontours\n" + head;
    int id = 1;
    for (const KvxContour& c : contours) {
        t += "o Contour[" + std::to_string(id++) + "]()\n{\n " + c.heights + "\n";
        for (size_t i = 0; i + (c.closed ? 0 : 1) < c.p.size(); ++i) {
            const Vec2 &a = c.p[i], &b = c.p[(i + 1) % c.p.size()];
            t += " o L(x[" + std::to_string(a.x) + "/" + std::to_string(b.x) + "] y[" + std::to_string(a.y) +
                 "/" + std::to_string(b.y) + "])\n";
        }
        t += "}\n";
    }
    return t;
}

// Reversed: an island's way round.
inline std::vector<Vec2> reversed(std::vector<Vec2> p) {
    std::reverse(p.begin(), p.end());
    return p;
}

inline std::vector<Vec2> boxPoints(double x0, double y0, double x1, double y1) {
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

// The example job copied into the working folder; runs go through kvCSexecCycle.
struct Job {
    Job() {
        PocketErrors::reset();
        cycleResetState();
        exportsResetCore();
        ccpParamsResetState();
        coreSetModuleFolder(moduleFileName().c_str());
        const std::string src = std::string(KV_SOURCE_DIR) + "/examples/pocket/";
        pcf = readText(src + "job.pcf");
        // The job's files and its POF output live in a folder of their own.
        home = std::filesystem::current_path();
        std::filesystem::current_path(folder.path());
        writeText("pocket.kvx", readText(src + "pocket.kvx"));
    }
    ~Job() {
        PocketErrors::reset();
        std::filesystem::current_path(home);
    }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
    // The text with the key's line replaced (dropped when the line is empty, added when the text lacks it).
    static std::string edit(const std::string& from, const std::string& key, const std::string& line) {
        std::string text;
        bool found = false;
        std::istringstream in(from);
        for (std::string l; std::getline(in, l);) {
            const bool mine = l.rfind(key + " ", 0) == 0;
            found |= mine;
            if (!mine) text += l + "\n";
            if (mine && !line.empty()) text += line + "\n";
        }
        return found || line.empty() ? text : text + line + "\n";
    }
    std::string with(const std::string& key, const std::string& line) const { return edit(pcf, key, line); }
    int32_t run(const std::string& text) {
        writeText("run.pcf", text);
        out.clear();
        char arg[] = "-Srun";
        char* argv[] = {arg, nullptr};
        HostCallbacks cb{record, &out, nullptr, nullptr, nullptr, nullptr};
        EXPECT_EQ(kvCSexecCycle(reinterpret_cast<KvCycle*>(&kvCCP), 1, argv, &cb), 1);
        return kvCSgetSignal(reinterpret_cast<KvCycle*>(&kvCCP));
    }
    std::vector<Out> channel(int c) const {
        std::vector<Out> r;
        for (const Out& o : out)
            if (o.channel == c) r.push_back(o);
        return r;
    }
    bool sent(int type, const std::string& value) const {
        for (const Out& o : channel(0))
            if (o.type == type && o.value == value) return true;
        return false;
    }
    TempFolder folder;
    std::filesystem::path home;
    std::string pcf;
    std::vector<Out> out;
};

inline void expectNoLeaks() {
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

}  // namespace pocketruntest
using namespace pocketruntest;

// Channel 0 opens with the title, lists the layers of the output switches and
// ends with the cycle end; a missing tool diameter fails the input with status 1.
TEST(PocketRun, JobFramesChannelZero) {
    Job job;
    const struct {
        std::string key, line, layers;
    } cases[] = {{"NCOutp", "NCOutp := true", "3,12,32"},
                 {"NCOutp", "NCOutp := false", "12"},
                 {"NCOutp", "", "12"},
                 {"drillPointsOutp", "drillPointsOutp := true", "3,12,30,32"},
                 {"originalOutp", "originalOutp := true", "3,12,32,33"}};
    for (const auto& c : cases) {
        job.run(job.with(c.key, c.line));
        const std::vector<Out> ch0 = job.channel(0);
        ASSERT_GE(ch0.size(), 3u);
        EXPECT_EQ(ch0.front().type, 103);
        EXPECT_EQ(ch0.front().value, kvCCP.title);
        EXPECT_TRUE(job.sent(110, c.layers)) << c.line;
        // the tool axis along z, once, on channel 11
        int axes = 0;
        for (const Out& o : job.channel(11))
            if (o.name == "toolAxis") {
                EXPECT_EQ(o.value, "0,0,1");
                ++axes;
            }
        EXPECT_EQ(axes, 1);
        EXPECT_EQ(ch0.back().type, 104);
        EXPECT_EQ(ch0.back().value, kvCCP.title);
    }
    EXPECT_EQ(job.run(job.with("toolDiameter", "")), 1);
    EXPECT_TRUE(job.sent(102, "1,(toolDiameter)"));
    EXPECT_EQ(job.channel(0).back().type, 104);
    EXPECT_TRUE(job.channel(31).empty());
}

// Each trace level from 1 on adds one trace channel (4, 5, 6); NC output adds 3 and 32.
TEST(PocketRun, ChannelsFollowTheTraceLevel) {
    const struct {
        uint16_t level;
        const char* ncOut;
        std::vector<uint16_t> extra;
    } cases[] = {{0, "false", {}}, {1, "false", {4}}, {2, "false", {4, 5}}, {3, "true", {3, 4, 5, 6, 32}}};
    for (const auto& c : cases) {
        PocketErrors errors;
        kvCCP.vars = kvListSet(kvCCP.vars, "NCOutp", c.ncOut, 21);
        kvCCP.traceLevel = c.level;
        ASSERT_EQ(ccpInitFromParams(&kvCCP), 1);
        std::vector<uint16_t> codes, want = {0, 1, 2, 10, 11, 12, 31};
        for (NcChannel* ch = kvCCP.channels; ch; ch = ch->next) codes.push_back(ch->code);
        want.insert(want.end(), c.extra.begin(), c.extra.end());
        std::sort(codes.begin(), codes.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(codes, want) << c.level;
    }
    kvCCP.traceLevel = 0, kvCCP.vars = kvListSet(kvCCP.vars, "NCOutp", "false", 21);
}

// The status word, not the host's signal word, carries a pocket failure (an
// open contour); a nesting failure with a stock contour still ends well, and
// fails without one. Nothing leaks on any of these exits.
TEST(PocketRun, FailuresReachTheStatusWord) {
    Job job;
    const std::string open = kvxText({{boxPoints(0, 0, 50, 40), "v depth(8)", false}});
    // Two squares that neither touch nor stand clear of each other cannot be nested.
    const std::string undecided =
        kvxText({{boxPoints(0, 0, 10, 10), "v depth(8)"}, {boxPoints(1, 1, 9, 9), "v depth(8)"}});
    // All contours at once, below the pocket's floor a plane of an island alone: nothing to cut there.
    const std::string deepIsland = kvxText(
        {{boxPoints(0, 0, 100, 60), "v depth(4)"}, {reversed(boxPoints(30, 20, 70, 40)), "v depth(12)"}});
    const struct {
        std::string contours, extra;
        int32_t status;
        std::string message;  // the only one
    } cases[] = {{open, "", 1, "1102"},
                 {undecided, "", 1, "1115"},
                 {undecided, "stock := true", 0, "1507"},
                 {deepIsland, "oriAutomatic := single", 1, "207"}};
    for (const auto& c : cases) {
        kvCCP.hostSignal = 0, writeText("bad.kvx", c.contours);
        std::string text = job.with("geoSource", "geoSource := \"bad.kvx\"");
        if (!c.extra.empty()) text += c.extra + "\n";
        EXPECT_EQ(job.run(text), c.status) << c.message;
        EXPECT_EQ(kvCCP.hostSignal, 0);
        std::vector<std::string> said;
        for (const Out& o : job.channel(0))
            if (o.type == 101) said.push_back(o.value.substr(0, o.value.find(',')));
        EXPECT_EQ(said, std::vector<std::string>{c.message});
        expectNoLeaks();
    }
    job.run(job.with("toolDiameter", ""));
    expectNoLeaks();
    ccpNoteFailure();  // reads back as 1 until the run's reset
    EXPECT_EQ(ccpRunFailed(), 1);
    pocketRunResetState();
    EXPECT_EQ(ccpRunFailed(), 0);
}

// An explicit start point: the first plane is entered there, and the path moves on from it.
TEST(PocketRun, ExplicitStartPointIsWhereThePathBegins) {
    Job job;
    std::string text = job.with("startExplicit", "startExplicit := true");
    text = Job::edit(text, "startX", "startX := 60");
    text = Job::edit(text, "startY", "startY := 40");
    EXPECT_EQ(job.run(text), 0);
    const std::vector<Out> c31 = job.channel(31);
    const auto first = std::find_if(c31.begin(), c31.end(), [](const Out& o) { return o.type == 3101; });
    ASSERT_NE(first, c31.end());
    EXPECT_NEAR(first->x, 60, 1e-6);
    EXPECT_NEAR(first->y, 40, 1e-6);
}

// A pocket narrower than the tool has no region in either plane: each says so (1507), nothing is cut,
// the run ends with status 1, and every plane ends at the retract plane, none at a clearance above it.
TEST(PocketRun, PocketNarrowerThanTheToolCutsNothing) {
    Job job;
    writeText("narrow.kvx", kvxText({{boxPoints(0, 0, 6, 6), "v depth(8)"}}));
    std::string text = job.with("geoSource", "geoSource := \"narrow.kvx\"");
    text = Job::edit(text, "retractEachPlane", "retractEachPlane := false");  // planes left would stay down
    EXPECT_EQ(job.run(text), 1);
    int noRegion = 0;
    for (const Out& o : job.channel(0)) noRegion += o.type == 101 && o.value.rfind("1507", 0) == 0;
    EXPECT_EQ(noRegion, 2);
    int retracts = 0;
    // Each plane's pass end retracts to the retract plane; the run leaves at the clearance plane.
    const std::vector<Out> c31 = job.channel(31);
    for (size_t i = 0; i < c31.size(); ++i) {
        EXPECT_TRUE(c31[i].type != 3111 && c31[i].type != 3121 && c31[i].type != 3112) << c31[i].type;
        if (c31[i].type == 3002 && i + 1 < c31.size()) {
            EXPECT_EQ(c31[i + 1].type, 3102);
            EXPECT_DOUBLE_EQ(c31[i + 1].z, 20);
            ++retracts;
        }
    }
    ASSERT_FALSE(c31.empty());
    EXPECT_DOUBLE_EQ(c31.back().z, 50);
    EXPECT_GE(retracts, 2);
}

// Two runs of the same job in one process write the same records, also when
// the set-up turns the orientation around and the planes move surface and depth,
// and also when a run of another strategy came between them; each run writes its header.
TEST(PocketRun, SecondRunRepeatsTheFirst) {
    Job job;
    // Parameters a job leaves out keep the last run's value: each names its strategy.
    const std::string texts[] = {job.with("strategy", "strategy := contourParallel"),
                                 job.with("strategy", "strategy := outsideInDirect"),
                                 job.with("strategy", "strategy := stockOutin")};
    std::vector<Out> firsts[3];
    CcpParams after[3];
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 3; ++i) {
            job.run(texts[i]);
            const auto header = std::count_if(job.out.begin(), job.out.end(), [](const Out& o) {
                return o.channel == 10 && o.value == "pocketMilling";
            });
            EXPECT_EQ(header, 1) << round << " " << i;
            if (round == 0) {
                firsts[i] = job.out;
                after[i] = kvCCPParams;
                continue;
            }
            EXPECT_TRUE(job.out == firsts[i]) << i;
            EXPECT_EQ(kvCCPParams.orientation, after[i].orientation) << i;
            EXPECT_EQ(kvCCPParams.surface, after[i].surface) << i;
        }
    expectNoLeaks();
}

namespace {

// The input and set-up phases of a job with extra keys, called directly.
struct Phases : PocketErrors {
    TempFolder tmp;
    std::string writeBox(const std::vector<KvxContour>& more = {}) {
        const std::string file = tmp.file("p.kvx");
        std::vector<KvxContour> contours = {{boxPoints(0, 0, 60, 40), "v depth(8)"}};
        contours.insert(contours.end(), more.begin(), more.end());
        writeText(file, kvxText(contours));
        return file;
    }
    int setUp(const std::vector<std::pair<const char*, const char*>>& keys,
              const std::vector<KvxContour>& more = {}) {
        const std::string file = writeBox(more);
        kvCCP.vars = kvListSet(kvCCP.vars, "geoSource", file.c_str(), 21);
        kvCCP.vars = kvListSet(kvCCP.vars, "toolDiameter", "10", 21);
        for (const auto& k : keys) kvCCP.vars = kvListSet(kvCCP.vars, k.first, k.second, 21);
        pocketSetRecord(&kvCCP);
        if (!ccpReadParameters(&kvCCP)) return 0;
        return ccpPrepareGeometry(&kvCCP);
    }
};

}  // namespace

// Edge cases of the two phases, each against the value it must leave.
TEST(PocketRun, InputAndSetUpSettle) {
    const CcpParams& p = kvCCPParams;
    const PocketKernel& k = pocketKernel();
    const struct {
        std::vector<std::pair<const char*, const char*>> keys;  // with a tool diameter of 10 unless given
        const double* got;
        double want;
    } cases[] = {
        {{{"infeedLength", "12"}}, &p.infeedLength, 9.9},
        {{}, &p.infeedLength, 5},
        {{{"clearancePlane", "30"}, {"retractPlane", "40"}}, &p.retractPlane, 30},
        {{{"clearancePlane", "30"}}, &p.retractPlane, 30},
        {{{"clearancePlane", "30"}, {"retractPlane", "20"}}, &p.retractPlane, 20},
        {{{"infeedDepth", "0"}}, &p.infeedDepth, 10000},
        {{{"infeedDepth", "0.0001"}}, &p.infeedDepth, 0.0001},  // the epsilon itself is a depth
        {{{"toolDiameter", "1"}}, &k.geometryScale, 25},
        // Inch or a radius below 1.001 alone scales the geometry.
        {{{"toolDiameter", "2"}}, &k.geometryScale, 25},
        {{{"toolDiameter", "2.002"}}, &k.geometryScale, 1},
        {{{"lengthOfUnit", "inch"}}, &k.geometryScale, 25},
        {{{"considerToolType", "true"}, {"toolType", "ballMill"}}, &k.effDiameterRatio, 0.01},
        // A radius mill cuts with the diameter less its two corners, never below 0.1; an end mill whole.
        {{{"considerToolType", "true"}, {"toolType", "radiusMill"}, {"cornerRadius", "2"}},
         &k.effDiameterRatio,
         0.6},
        {{{"considerToolType", "true"}, {"toolType", "radiusMill"}, {"cornerRadius", "2"}},
         &p.infeedLength,
         3},
        {{{"considerToolType", "true"}, {"toolType", "radiusMill"}, {"cornerRadius", "4.98"}},
         &k.effDiameterRatio,
         0.01},
        {{{"considerToolType", "true"}, {"toolType", "endMill"}, {"cornerRadius", "2"}},
         &k.effDiameterRatio,
         1},
        // A start point reaches the tool line: a start radius of 2.01 x ZM x R.
        {{{"considerToolType", "true"}, {"toolType", "endMill"}, {"startExplicit", "true"}},
         &k.startRadius,
         5.025},
        // The kernel's fine tolerance: its tolerance, the epsilon, times 1e-8.
        {{{"considerToolType", "true"}, {"toolType", "endMill"}, {"epsilon", "0.002"}},
         &k.fineTolerance,
         2e-11},
        {{{"helixPlungeAngle", "30"}}, &p.helixPlungeAngle, 30 * M_PI / 180},
        {{}, &p.helixAngleResolution, 10 * M_PI / 180},
        // The infeed and fillet radii are held to a quarter of the infeed length.
        {{{"infeedRadius", "3"}, {"infeedLength", "4"}}, &k.infeedRadiusLimit, 1.0},
        {{{"infeedRadius", "0.8"}, {"infeedLength", "4"}}, &k.infeedRadiusLimit, 0.8},
        {{{"filletRadius", "2"}, {"infeedLength", "6"}}, &k.filletRadiusLimit, 1.5},
    };
    for (const auto& c : cases) {
        Phases ph;
        ASSERT_EQ(ph.setUp(c.keys), 1) << c.want;
        EXPECT_NEAR(*c.got, c.want, 1e-12) << c.want;
    }
    // Without their keys, angles above a full turn are degrees; a full turn itself is radians.
    for (const double angle : {2 * M_PI, 6.3}) {
        Phases ph;
        kvCCPParams.helixPlungeAngle = kvCCPParams.helixAngleResolution = angle;
        ASSERT_EQ(ph.setUp({}), 1);
        const double want = angle > 2 * M_PI ? angle * M_PI / 180 : angle;
        EXPECT_TRUE(std::fabs(rifBlock()->macroTswin - want) + std::fabs(rifBlock()->macroIwin - want) <
                    1e-12);
    }
    {
        Phases ph;
        ASSERT_EQ(ph.setUp({{"strategy", "outsideInDirect"}}), 1);
        EXPECT_EQ(std::pair(p.orientation, k.outsideInDirect), std::pair(-1, 1));  // a flag is 0 or 1
    }
    // Rings read back from a contour file (G192) are the input: its nesting is not worked out again.
    {
        Phases ph;
        const std::string rif = ph.tmp.file("r.g");
        writeText(rif, "G192 R2\nG41 X0 Y0\nG03 X1 Y1 I1 J0\nG1 X0 Y-1\nG40\n");
        ASSERT_EQ(ph.setUp({{"evaluateRif", "true"}, {"rifSource", rif.c_str()}, {"oriAutomatic", "full"}}),
                  1);
        EXPECT_EQ(p.oriAutomatic, 0);
    }
    // A stock pocket retracts on every plane, whatever the keys say.
    for (const auto& [stock, retract] : {std::pair{"false", 0}, {"force", 1}, {"true", 1}}) {
        Phases ph;
        ASSERT_EQ(ph.setUp({{"retractEachPlane", "false"}, {"stock", stock}}), 1);
        EXPECT_EQ(p.retractEachPlane + 10 * p.retractEachPlaneRun, 11 * retract) << stock;
    }
    // A tool below 1.4 in diameter switches the output to inch.
    for (const auto& [diameter, inch] : {std::pair{"1.39", 1}, {"1.4", 0}, {"10", 0}}) {
        Phases ph;
        ASSERT_EQ(ph.setUp({{"toolDiameter", diameter}}), 1);
        EXPECT_EQ(p.inch, inch) << diameter;
    }
    // Only the key makes the start point explicit, in the parameters and in the rif block; fully nested, the
    // run then keeps to the level nearest the start (the outer pocket's 1, not also the floor pocket's 2).
    // The direct strategies run against the orientation; only the open pocket never plunges where it last
    // was.
    const struct {
        const char *value, *strategy;
        int flag, orientation;
    } starts[] = {
        {"", "contourParallel", 0, 1}, {"false", "openPocket", 0, -1}, {"true", "stockOutin", 1, -1}};
    for (const auto& [value, strategy, flag, orientation] : starts) {
        Phases ph;
        const std::vector<KvxContour> more = {{boxPoints(20, 10, 40, 30), "v depth(8)"},  //
                                              {boxPoints(24, 14, 36, 26), "v depth(12)"}};
        ASSERT_EQ(
            ph.setUp({{"startExplicit", value}, {"oriAutomatic", "full"}, {"strategy", strategy}}, more), 1);
        EXPECT_EQ(p.startExplicit + 10 * rifBlock()->zustellOk, 11 * flag) << value;
        EXPECT_EQ(10 * p.firstLevel + p.deepestLevel, 12 - flag) << value;
        EXPECT_EQ(p.orientation, orientation) << strategy;
        EXPECT_EQ(p.plungeAtLastPosition, std::string(strategy) != "openPocket") << strategy;
    }
    // By the first contour's sense, an island runs against it: its ccw and leftSide flags follow the
    // wanted orientation the other way round, and its elements turn the other way. Unoriented, a contour
    // drawn against the first on the right side is a further outer one, turned to the first's sense.
    const struct {
        const char *mode, *orientation;
        int wanted, island;
    } orients[] = {{"single", "counterClockwise", 1, -1}, {"single", "clockwise", -1, 1}, {"none", "", 1, 1}};
    for (const auto& [mode, orientation, wanted, island] : orients) {
        Phases ph;
        std::vector<Vec2> inner = boxPoints(20, 10, 40, 30);
        if (wanted == island) std::reverse(inner.begin(), inner.end());  // drawn against the first
        ASSERT_EQ(ph.setUp({{"oriAutomatic", mode}, {"orientation", orientation}}, {{inner, "v depth(8)"}}),
                  1);
        ASSERT_EQ(clistCount("INPUT"), 2);
        for (int32_t i = 0; i < 2; ++i) {
            ContourHeader h{};
            std::vector<ContourElement> e(8);
            ASSERT_EQ(clistGet("INPUT", e.data(), &h, i), i);
            e.resize(h.elementCount);
            const int sense = i == 0 ? wanted : island;
            EXPECT_EQ(h.ccw, sense > 0 ? 1 : 0) << orientation << i;
            EXPECT_EQ(h.leftSide, wanted > 0 ? 1 : 0) << orientation << i;
            double twiceArea = 0;  // the boxes come back as lines
            for (const ContourElement& l : e) twiceArea += l.g[kLx1] * l.g[kLy2] - l.g[kLx2] * l.g[kLy1];
            EXPECT_EQ(twiceArea > 0, sense > 0) << orientation << i;
        }
    }
    // Clamps run against the wanted orientation, whichever way they were drawn, with their flags set so
    // (one cut on its left runs with it); an open one stops the set-up.
    for (const int drawn : {1, -1, 0, 2}) {
        const bool closed = drawn != 0;
        Phases ph;
        const std::string clamps = ph.tmp.file("c.kvx");
        std::vector<Vec2> box = boxPoints(70, 0, 80, 10);
        if (drawn < 0) std::reverse(box.begin(), box.end());
        writeText(
            clamps,
            kvxText({{box, drawn > 1 ? "v depth(8)\n v sideOfCompensation(leftOfContour)" : "v depth(8)",
                      closed}}));
        EXPECT_EQ(ph.setUp({{"clamps", clamps.c_str()}}), closed ? 1 : 0);
        if (!closed) {
            EXPECT_TRUE(PocketErrors::sent("1102"));
            continue;
        }
        ASSERT_EQ(clistCount("CLAMPS"), 1);
        ContourHeader h{};
        std::vector<ContourElement> e(8);
        ASSERT_EQ(clistGet("CLAMPS", e.data(), &h, 0), 0);
        EXPECT_EQ(h.ccw, 0);
        EXPECT_EQ(h.leftSide, 1);
        EXPECT_EQ(contourOrientation(e.data(), static_cast<int32_t>(h.elementCount)), drawn > 1 ? 1 : -1)
            << drawn;
    }
    // An open pocket contour stops the set-up too.
    {
        Phases ph;
        EXPECT_EQ(ph.setUp({}, {{boxPoints(20, 10, 40, 30), "v depth(8)", false}}), 0);
        EXPECT_TRUE(PocketErrors::sent("1102"));
    }
    // A box in the floor of another is a deeper pocket: a nesting group of its own.
    Phases ph;
    ASSERT_EQ(ph.setUp({}, {{boxPoints(20, 10, 40, 30), "v surface(-8)\n v depth(4)"}}), 1);
    EXPECT_EQ(p.deepestLevel, 2);
    // Every slot refuses a missing record and leaves the lists as they are; the finish frees them.
    for (int (*slot)(CycleRecord*) : {ccpInitFromParams, ccpReadParameters, ccpPrepareTool,
                                      ccpPrepareGeometry, ccpRunPocket, ccpFinishLists, ccpCycleEnd})
        EXPECT_EQ(slot(nullptr), 0);
    EXPECT_EQ(clistCount("INPUT"), 2);
    EXPECT_EQ(ccpFinishLists(&kvCCP), 1);
    EXPECT_EQ(clistCount("INPUT"), 0);
}

namespace {

struct Shape {
    std::vector<Vec2> outer;
    std::vector<std::vector<Vec2>> islands;
};

std::string wkt(const Shape& s) {
    return wktPolygon(s.outer, s.islands);
}

std::string kvxOf(const Shape& s) {
    std::vector<KvxContour> c = {{s.outer}};
    for (const auto& i : s.islands) c.push_back({i});
    return kvxText(c, "v surface(0)\n");
}

// The example: 120 x 80 with corners of radius 10, a box island and a round one,
// every wall moved by room into the pocket.
Shape example(double room) {
    Shape e;
    const Vec2 corners[4] = {{110, 10}, {110, 70}, {10, 70}, {10, 10}};
    for (int c = 0; c < 4; ++c)
        for (int k = 0; k <= 32; ++k) {
            const double a = M_PI / 2 * (c - 1 + k / 32.0);
            e.outer.push_back(
                {corners[c].x + (10 - room) * std::cos(a), corners[c].y + (10 - room) * std::sin(a)});
        }
    e.islands.push_back(
        {{30 - room, 25 - room}, {30 - room, 55 + room}, {50 + room, 55 + room}, {50 + room, 25 - room}});
    e.islands.push_back({});
    for (int k = 0; k < 128; ++k)
        e.islands.back().push_back({85 + (10 + room) * std::cos(-2 * M_PI * k / 128),
                                    40 + (10 + room) * std::sin(-2 * M_PI * k / 128)});
    return e;
}

// A wavy outer polygon about (50, 40) and up to three square or octagonal islands well inside it.
Shape seededShape() {
    Shape s;
    const int n = 8 + rngBelow(24);
    const double rx = 40 + 15 * rngUniform(), ry = 28 + 10 * rngUniform(), wave = 0.1 * rngUniform();
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * i / n, r = 1 + wave * std::sin(3 * a + rngUniform());
        s.outer.push_back({50 + rx * r * std::cos(a), 40 + ry * r * std::sin(a)});
    }
    const int islands = rngBelow(4);
    for (int k = 0; k < islands; ++k) {
        const double cx = 50 + (k - 1) * rx * 0.5, cy = 40 + (rngUniform() - 0.5) * ry * 0.4;
        const double h = 3 + 3 * rngUniform();
        const int corners = rngBelow(2) ? 4 : 8;
        std::vector<Vec2> isl;
        for (int c = 0; c < corners; ++c) {
            const double a = -2 * M_PI * c / corners + 0.3;
            isl.push_back({cx + h * std::cos(a), cy + h * std::sin(a)});
        }
        s.islands.push_back(isl);
    }
    return s;
}

}  // namespace

namespace {

// The cutting moves' end points of channel 31, one list per plane (a new surface starts a plane).
std::vector<std::vector<Vec2>> cutsPerPlane() {
    std::vector<std::vector<Vec2>> planes;
    std::string surface;
    for (const Rec& r : records(31)) {
        if (r.name == "surface" && r.value != surface) {
            surface = r.value;
            planes.emplace_back();
        }
        if ((r.type == 3111 || r.type == 3121) && !planes.empty()) planes.back().push_back({r.x, r.y});
    }
    return planes;
}

}  // namespace

// The example job as it is, by every input mode of the contour-parallel driver,
// by every strategy and by rest machining of a larger reference tool (the whole
// input, and level by level with rest evaluation on): each writes passes and
// keeps the tool inside the pocket less half the allowance (the allowance of
// 0.2, less the rings' reduction tolerance of 0.01 R); one unit less room is
// caught. Each ends with status 0, but where its entries lie on rings nearer
// the walls than the helix of radius 4 allows (split paths, axis-parallel
// passes, outside-in): there the tool plunges straight and the run reports the
// helix without room (1522, status 1). The example's two planes have the same
// walls: a strategy that clears its own flags or fits its step while machining
// the first plane still machines the second the same way.
TEST(PocketRun, TheExampleInEveryMode) {
    Job job;
    const struct {
        std::vector<std::string> lines;
        int32_t status;
    } cases[] = {{{}, 0},
                 {{"oriAutomatic := single"}, 0},
                 {{"oriAutomatic := none"}, 0},
                 {{"splitPath := true"}, 1},
                 {{"splitPath := true", "infeedFactor := 0.9"}, 1},
                 {{"splitPath := true", "infeedFactor := 0.9", "stock := true"}, 1},
                 // The rest areas beside the islands leave no room for a helix: the tool plunges straight.
                 {{"plungeType := straight", "referenceDiameter := 30"}, 0},
                 {{"plungeType := straight", "referenceDiameter := 30", "evaluateRif := true"}, 0},
                 {{"strategy := axisParallel"}, 1},
                 {{"strategy := stockOutin"}, 0},
                 {{"strategy := openPocket"}, 0},
                 {{"strategy := outsideIn"}, 1},
                 {{"strategy := outsideInDirect"}, 1}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        // Every run starts from the defaults: the input modes build on each other by naming the
        // earlier keys again, the rest modes and strategies each start from the example's own.
        // A frame switched off at the end: only the last plane of the last level does it, once.
        std::string text = job.with("frame", "frame := 1,2,3,4,5,6") + "frameOff := true\n", name;
        for (const std::string& line : cases[i].lines) {
            text = Job::edit(text, line.substr(0, line.find(' ')), line);
            name += line + "; ";
        }
        pocketnctest::log().clear();
        EXPECT_EQ(job.run(text), cases[i].status) << name;
        EXPECT_EQ(job.sent(101, "1522"), cases[i].status == 1) << name;
        EXPECT_EQ(
            std::count_if(job.out.begin(), job.out.end(), [](const Out& o) { return o.value == "frameOff"; }),
            1)
            << name;
        const auto p = passes();
        EXPECT_FALSE(p.empty()) << name;
        // Numbered blocks: every pass opens one (5001) that a pass end closes (5002) before the next opens.
        std::vector<int> blocks;
        for (const Out& o : job.channel(12))
            if (o.type == 5001 || o.type == 5002) blocks.push_back(o.type);
        ASSERT_GE(blocks.size(), 2u) << name;
        EXPECT_EQ(blocks[0], 5001) << name;
        EXPECT_EQ(blocks.back(), 5002) << name;
        for (size_t k = 1; k < blocks.size(); ++k)
            EXPECT_FALSE(blocks[k] == 5001 && blocks[k - 1] == 5001) << name << k;
        const auto planes = cutsPerPlane();
        ASSERT_EQ(planes.size(), 2u) << name;
        for (size_t k = 0; k < planes[0].size(); ++k) {
            ASSERT_EQ(planes[0].size(), planes[1].size()) << name;
            EXPECT_LT(std::hypot(planes[0][k].x - planes[1][k].x, planes[0][k].y - planes[1][k].y), 1e-9)
                << name << k;
        }
#ifdef KV_HAVE_GEOS
        EXPECT_LT(sweptOutside(p, 5, wkt(example(0.1))), 1e-3) << name;
        if (i == 0) {
            EXPECT_GT(sweptOutside(p, 5, wkt(example(1))), 1);
        }
#endif
    }
}

// Outside-in direct steps inwards by at most the step width (tool diameter x infeed factor) and in
// equal steps no narrower than needed: on a 100 x 60 box with a tool of 10 and factor 0.5 the tool's
// centre covers 90 x 50, so the feed runs about 90 x 50 / 5, not twice that. With an island (22..78 x
// 22..38) the steps from the wall up to the island's ring keep within the step width as well, seen on
// the long upright cuts left of the island.
TEST(PocketRun, OutsideInDirectStepsByTheStepWidth) {
    Job job;
    for (const bool island : {false, true}) {
        std::vector<KvxContour> contours = {{boxPoints(0, 0, 100, 60)}};
        if (island) contours.push_back({boxPoints(22, 22, 78, 38)});
        writeText("box.kvx", kvxText(contours));
        std::string text = job.with("geoSource", "geoSource := \"box.kvx\"");
        for (const char* line : {"strategy := outsideInDirect", "infeedFactor := 0.5", "infeedDepth := 10",
                                 "plungeType := straight"})
            text = Job::edit(text, std::string(line).substr(0, std::string(line).find(' ')), line);
        EXPECT_EQ(job.run(text), 0);
        double feed = 0;
        Vec2 at{0, 0};
        std::set<double> upright;
        for (const Out& o : job.channel(31)) {
            if (o.type != 3101 && o.type != 3111 && o.type != 3121) continue;
            if (o.type != 3101) feed += std::hypot(o.x - at.x, o.y - at.y);
            if (o.type == 3111 && o.x == at.x && std::fabs(o.y - at.y) >= 10 && o.x < 22) upright.insert(o.x);
            at = {o.x, o.y};
        }
        ASSERT_GE(upright.size(), 3u) << island;
        for (auto x = std::next(upright.begin()); x != upright.end(); ++x)
            EXPECT_LE(*x - *std::prev(x), 5 + 1e-9) << island << " " << *x;
        if (island) continue;
        // About the area over the step; the links between the rings and the last run along the middle add
        // some.
        const double plain = 90.0 * 50 / 5;
        EXPECT_GT(feed, 0.8 * plain);
        EXPECT_LT(feed, 1.4 * plain);
    }
}

// A plane takes only the contours as deep as it: of two pockets side by side, 6 and 12 deep (clockwise, as
// the contours' own sense is kept without nesting), each is cut down to its own bottom and no lower, by
// nesting levels as with all contours at once.
TEST(PocketRun, EachPocketIsCutToItsOwnDepth) {
    Job job;
    writeText("two.kvx", kvxText({{{{0, 40}, {30, 40}, {30, 0}, {0, 0}}, "v depth(6)"},
                                  {{{50, 40}, {80, 40}, {80, 0}, {50, 0}}, "v depth(12)"}}));
    for (const char* mode : {"oriAutomatic := none", "oriAutomatic := full"}) {
        std::string text = job.with("geoSource", "geoSource := \"two.kvx\"");
        for (const char* line : {mode, "infeedDepth := 5", "plungeType := straight"})
            text = Job::edit(text, std::string(line).substr(0, std::string(line).find(' ')), line);
        job.run(text);
        double z = 0, low[2] = {0, 0};
        for (const Out& o : job.channel(31)) {
            if (o.type == 3102 || o.type == 3112 || o.type == 3113) z = o.z;
            if (o.type == 3111 || o.type == 3121) low[o.x > 40] = std::fmin(low[o.x > 40], z);
        }
        EXPECT_EQ(low[0], -6) << mode;
        EXPECT_EQ(low[1], -12) << mode;
    }
    // An infeed deeper than the pocket (from 4 down 6) cuts it in one plane, at its bottom.
    writeText("two.kvx", kvxText({{boxPoints(0, 0, 30, 40), "v surface(4)\n v depth(6)"}}));
    job.run(Job::edit(job.with("geoSource", "geoSource := \"two.kvx\""), "infeedDepth", "infeedDepth := 10"));
    std::set<double> planes;
    for (const Out& o : job.channel(31))
        if (o.type == 3131 && o.name == "surface") planes.insert(std::stod(o.value));
    EXPECT_EQ(planes, std::set<double>{4});
}

// With planes left below and no retract between planes the tool stays down from one plane to the next:
// of three planes only the first entry and the last pass's end go up to the retract plane, by levels as
// with all contours at once.
TEST(PocketRun, ToolStaysDownWhilePlanesAreLeft) {
    Job job;
    writeText("box.kvx", kvxText({{boxPoints(0, 0, 40, 30), "v depth(6)"}}));
    for (const char* mode : {"oriAutomatic := none", "oriAutomatic := full"}) {
        std::string text = job.with("geoSource", "geoSource := \"box.kvx\"");
        for (const char* line :
             {mode, "infeedDepth := 2", "plungeType := straight", "retractEachPlane := false"})
            text = Job::edit(text, std::string(line).substr(0, std::string(line).find(' ')), line);
        EXPECT_EQ(job.run(text), 0) << mode;
        std::set<double> planes;
        int up = 0;
        for (const Out& o : job.channel(31)) {
            up += o.type == 3102 && o.z == 20;
            if (o.type == 3131 && o.name == "surface") planes.insert(std::stod(o.value));
        }
        EXPECT_EQ(planes, (std::set<double>{0, -2, -4})) << mode;
        EXPECT_EQ(up, 2) << mode;
    }
}

// The rest of a tool of 50 in a box, level by level and pocket-wise: its four corners, and nothing else.
TEST(PocketRun, ReferenceRestByPocketsCutsTheCorners) {
    Job job;
    writeText("box.kvx", kvxText({{boxPoints(0, 0, 100, 60), "v depth(4)"}}));
    std::string text = job.with("geoSource", "geoSource := \"box.kvx\"");
    for (const char* line : {"toolDiameter := 4", "plungeType := straight", "referenceDiameter := 50",
                             "evaluateRif := true", "stepStrategy := pocket"})
        text = Job::edit(text, std::string(line).substr(0, std::string(line).find(' ')), line);
    EXPECT_EQ(job.run(text), 0);
    std::set<int> corners;
    for (const Out& o : job.channel(31)) {
        if (o.type != 3111 && o.type != 3121) continue;
        EXPECT_TRUE(std::fmin(o.x, 100 - o.x) < 25 && std::fmin(o.y, 60 - o.y) < 25) << o.x << " " << o.y;
        corners.insert(2 * (o.x > 50) + (o.y > 30));
    }
    EXPECT_EQ(corners.size(), 4u);
}

// A neck the tool cannot pass parts the plane into two regions: with no start point given, both are cut,
// the path split or not, each out to its tool-centre box (the walls less the tool radius and allowance).
TEST(PocketRun, BothSidesOfANeckAreCut) {
    Job job;
    const std::vector<Vec2> neck = {{0, 0},   {30, 0},  {30, 13}, {50, 13}, {50, 0},  {80, 0},  //
                                    {80, 30}, {50, 30}, {50, 17}, {30, 17}, {30, 30}, {0, 30}};
    writeText("neck.kvx", kvxText({{neck, "v depth(4)"}}));
    // A split path reports each region after the first (1522), which ends the run with status 1.
    for (const auto& [split, status] : {std::pair{"splitPath := false", 0}, {"splitPath := true", 1}}) {
        EXPECT_EQ(job.run(Job::edit(job.with("geoSource", "geoSource := \"neck.kvx\""), "splitPath", split)),
                  status);
        int cuts[2] = {0, 0};
        double lo[2][2] = {{1e9, 1e9}, {1e9, 1e9}}, hi[2][2] = {{-1e9, -1e9}, {-1e9, -1e9}};
        for (const Out& o : job.channel(31)) {
            if (o.type != 3111 && o.type != 3121) continue;
            const int side = o.x > 40;
            ++cuts[side];
            lo[side][0] = std::fmin(lo[side][0], o.x), lo[side][1] = std::fmin(lo[side][1], o.y);
            hi[side][0] = std::fmax(hi[side][0], o.x), hi[side][1] = std::fmax(hi[side][1], o.y);
        }
        EXPECT_TRUE(cuts[0] > 3 && cuts[1] > 3) << cuts[0] << " " << cuts[1] << split;
        for (int side = 0; side < 2; ++side) {
            // Into the neck as far as its corners leave room: 30 - sqrt(5.2^2 - 2^2) on the left.
            const double reach = std::sqrt(5.2 * 5.2 - 4), x0 = side ? 50 + reach : 5.2,
                         x1 = side ? 74.8 : 30 - reach;
            EXPECT_NEAR(lo[side][0], x0, 1e-6) << side << split;
            EXPECT_NEAR(hi[side][0], x1, 1e-6) << side << split;
            EXPECT_NEAR(lo[side][1], 5.2, 1e-6) << side << split;
            EXPECT_NEAR(hi[side][1], 24.8, 1e-6) << side << split;
        }
#ifdef KV_HAVE_GEOS
        // The walls less the allowance.
        const std::vector<Vec2> room = {{0.2, 0.2},   {29.8, 0.2},  {29.8, 13.2}, {50.2, 13.2},
                                        {50.2, 0.2},  {79.8, 0.2},  {79.8, 29.8}, {50.2, 29.8},
                                        {50.2, 16.8}, {29.8, 16.8}, {29.8, 29.8}, {0.2, 29.8}};
        // Uncut: no more than the neck (narrower than the tool) and the corners' cusps.
        EXPECT_LT(leftUncut(passes(), 5, wktPolygon(room)), 20.4 * 3.6 + cornerCusps(room, 5)) << split;
#endif
    }
}

// With stock on (or several stocks), a plane whose first contour is a stock boundary is cut as an open
// pocket: its entries come in from the side (left or right by the orientation), not drilled; without the
// mark, drilled.
TEST(PocketRun, StockBoundaryOpensThePlane) {
    Job job;
    for (const int marked : {1, 0, 3, 2}) {
        writeText(
            "stock.kvx",
            kvxText({{boxPoints(0, 0, 100, 60), marked % 2 ? "v stock(true)\n v depth(6)" : "v depth(6)"}}));
        std::string text = job.with("geoSource", "geoSource := \"stock.kvx\"");
        for (const char* line :
             {marked < 2 ? "stock := true" : "stock := multi", "infeedDepth := 10", "plungeType := straight"})
            text = Job::edit(text, std::string(line).substr(0, std::string(line).find(' ')), line);
        job.run(text);
        std::vector<std::string> kinds;
        for (const Out& o : job.channel(31))
            if (o.type == 3131 && o.name == "start") kinds.push_back(o.value);
        ASSERT_FALSE(kinds.empty()) << marked;
        for (const std::string& kind : kinds)
            EXPECT_EQ(kind == "left" || kind == "right", marked % 2) << kind;
    }
}

// Six seeded pockets with islands, climb and conventional: the tool stays in the pocket and clears it.
TEST(PocketRun, NoGougeOnSeededPockets) {
#ifdef KV_HAVE_GEOS
    Job job;
    // Drawn up front: a run resets the shared generator.
    rngResetState();
    std::vector<Shape> shapes;
    for (int i = 0; i < 6; ++i) shapes.push_back(seededShape());
    for (int i = 0; i < 6; ++i) {
        const Shape& s = shapes[i];
        writeText("seeded.kvx", kvxOf(s));
        for (const char* ori : {"orientation := clockwise", "orientation := counterClockwise"}) {
            pocketnctest::log().clear();
            // One plane each: the walls are the same at every depth.
            const std::string text =
                Job::edit(Job::edit(job.with("geoSource", "geoSource := \"seeded.kvx\""), "orientation", ori),
                          "infeedDepth", "infeedDepth := 10");
            EXPECT_EQ(job.run(text), 0) << i << ori;
            const auto p = passes();
            EXPECT_FALSE(p.empty()) << i;
            EXPECT_LT(sweptOutside(p, 5, wkt(s)), 1e-3) << i << " " << ori;
            // All cut but the corners' cusps, the tool's reach (radius and allowance) taken from the walls
            // as drawn; the swept polygons fall a little short.
            EXPECT_LT(leftUncut(p, 5.2, wkt(s)), cornerCusps(s.outer, 5.2) + 0.3) << i << " " << ori;
        }
    }
#endif
}

// The configuration input: the reference tool named by the keyword block is taken
// (771, tool tip on) when its entry exists and refused (770) when it does not, an empty name left alone;
// the parameter file goes to the block's temporary folder and the parameters are read.
TEST(PocketRun, ConfigurationInputTakesTheReferenceTool) {
    const struct {
        const char *name, *entry;  // *TREF_<name>, or none
        const char* message;
        int16_t toolTip;
    } cases[] = {{"T7", "12.5", "771,T7", 1}, {"T7", nullptr, "770,T7", 0}, {"", "12.5", "771,", 0}};
    for (const auto& c : cases) {
        Phases ph;
        const std::string file = ph.writeBox();
        for (const auto& [key, value] :
             std::vector<std::pair<const char*, std::string>>{{"*TMP_DIR", ph.tmp.path()},
                                                              {"*KVX", file},
                                                              {"*FRRADIUS", "5"},
                                                              {"*HORIZUSTEL", "0.5"},
                                                              {"*TOOL_REFERENCE", c.name}})
            kvCCP.cfgVars = kvListSet(kvCCP.cfgVars, key, value.c_str(), 21);
        if (c.entry)
            kvCCP.cfgVars = kvListSet(kvCCP.cfgVars, ("*TREF_" + std::string(c.name)).c_str(), c.entry, 21);
        pocketSetRecord(&kvCCP);
        EXPECT_EQ(ccpPrepareTool(&kvCCP), 1) << c.message;
        EXPECT_EQ(rifBlock()->toolTip, c.toolTip) << c.message;
        EXPECT_EQ(c.toolTip ? ccpToolReferenceValue() : 12.5, 12.5);
        EXPECT_EQ(PocketErrors::sent(c.message), *c.name != 0) << c.message;
        // The parameters come back through the written file.
        EXPECT_NE(readText(ph.tmp.file("tmp.pcf")).find(c.toolTip ? ":=  tip" : ":=  center"),
                  std::string::npos);
        EXPECT_EQ(kvCCPParams.toolDiameter, 10) << c.message;
        kvListFree(kvCCP.cfgVars);
        kvCCP.cfgVars = nullptr;
    }
    // A new run holds no reference tool of an earlier one (12.5 above) until its block names one.
    PocketErrors errors;
    ASSERT_EQ(ccpInitFromParams(&kvCCP), 1);
    EXPECT_EQ(ccpToolReferenceValue(), 0);
}

// A tall island standing in a deeper pocket reaches up through the upper
// level: the upper level's planes go round it, not through it. (The rings'
// starts lie too near the walls for the example's helix: the job plunges.)
TEST(PocketRun, TallIslandOfADeeperPocketIsKeptInTheUpperLevel) {
#ifdef KV_HAVE_GEOS
    Job job;
    writeText("tall.kvx", kvxText({{boxPoints(0, 0, 100, 60), "v surface(0)\n v depth(8)"},
                                   {boxPoints(20, 10, 80, 50), "v surface(-8)\n v depth(4)"},
                                   {boxPoints(40, 20, 60, 40), "v surface(0)\n v depth(12)"}}));
    pocketnctest::log().clear();
    EXPECT_EQ(job.run(Job::edit(job.with("geoSource", "geoSource := \"tall.kvx\""), "plungeType",
                                "plungeType := straight")),
              0);
    Shape upper{boxPoints(0, 0, 100, 60), {{{40, 20}, {40, 40}, {60, 40}, {60, 20}}}};
    EXPECT_LT(sweptOutside(passes(), 5, wkt(upper)), 1e-3);
#endif
}

namespace {

// The host of a cancelled run: every record kept, and the signal word written when the record
// numbered `at` arrives (counting from 0).
struct CancellingHost {
    size_t at;
    int32_t signal;
    std::vector<Out> out;
    static int listen(KvCycle* cycle, int32_t channel, const void* bytes, void* user) {
        auto* host = static_cast<CancellingHost*>(user);
        if (host->out.size() == host->at) kvCSsetSignal(cycle, host->signal);
        host->out.push_back(pocketnctest::decode(channel, static_cast<const NcRecord*>(bytes)));
        return 1;
    }
};

}  // namespace

// A host's cancel, at the first record or within a plane, ends the run between planes: the plane in hand
// is written whole, no further plane starts, and the run closes as every run does (message 821, the
// block values of the planes written, the move up to the clearance plane, the cycle end) with status
// 100. Nothing follows the cycle end, and the next run, with the signal word cleared, is whole again.
TEST(PocketRun, HostCancelStopsBetweenPlanes) {
    Job job;
    kvCCP.hostSignal = 0;
    ASSERT_EQ(job.run(job.pcf), 0);
    const std::vector<Out> full = job.out;
    // The run slot's first record (the pocket header) and the last record of each plane (its retract
    // after the block end).
    size_t runStart = 0;
    while (runStart < full.size() && full[runStart].channel != 10) ++runStart;
    std::vector<size_t> planeEnds;
    for (size_t i = 0; i + 1 < full.size(); ++i)
        if (full[i].type == 5002 && full[i + 1].type == 3102) planeEnds.push_back(i + 1);
    ASSERT_EQ(planeEnds.size(), 2u);  // the example's two planes
    const struct {
        size_t at;
        int32_t signal;
        size_t planes;  // planes written whole
        std::vector<int> close;
    } cases[] = {
        {0, 100, 0, {3102, 104}},
        {runStart - 1, 100, 0, {3102, 104}},
        {runStart, 100, 1, {5003, 3102, 104}},
        {planeEnds[0] - 10, 104, 1, {5003, 3102, 104}},
        {planeEnds[0] + 1, 100, 2, {5003, 3102, 104}},
    };
    // The run of a text with the host's cancel at record at: its records, the signal word then 100.
    const auto cancelled = [](const std::string& text, size_t at, int32_t signal) {
        kvCCP.hostSignal = 0;
        writeText("run.pcf", text);
        CancellingHost host{at, signal, {}};
        char arg[] = "-Srun";
        char* argv[] = {arg, nullptr};
        HostCallbacks cb{CancellingHost::listen, &host, nullptr, nullptr, nullptr, nullptr};
        EXPECT_EQ(kvCSexecCycle(reinterpret_cast<KvCycle*>(&kvCCP), 1, argv, &cb), 1);
        EXPECT_EQ(kvCSgetSignal(reinterpret_cast<KvCycle*>(&kvCCP)), 100) << at;
        return host.out;
    };
    for (const auto& c : cases) {
        const std::vector<Out> got = cancelled(job.pcf, c.at, c.signal);
        // The records are the whole run's up to the end of the last plane written, then message 821.
        const size_t cancel = c.planes == 0 ? runStart : planeEnds[c.planes - 1] + 1;
        ASSERT_LT(cancel, got.size()) << c.at;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + cancel, full.begin())) << c.at;
        EXPECT_EQ(got[cancel].type, 101) << c.at;
        EXPECT_EQ(got[cancel].value, "821") << c.at;
        std::vector<int> close;
        for (size_t i = cancel + 1; i < got.size(); ++i) close.push_back(got[i].type);
        EXPECT_EQ(close, c.close) << c.at;
        EXPECT_EQ(got.back().value, kvCCP.title);
    }
    // The other run modes (all contours at once, rest of the whole input, rest of a contour file's
    // rings) stop at their first plane as well.
    const std::vector<std::vector<std::string>> modes = {{"oriAutomatic := single"},
                                                         {"referenceDiameter := 30"},
                                                         {"referenceDiameter := 30", "evaluateRif := true"}};
    for (const auto& lines : modes) {
        ccpParamsResetState();
        std::string text = job.pcf, mode;
        for (const std::string& line : lines) {
            text = Job::edit(text, line.substr(0, line.find(' ')), line);
            mode += line + "; ";
        }
        std::vector<int> close;
        for (const Out& o : cancelled(text, 0, 100))
            if (o.channel == 31 || o.channel == 10 || o.channel == 12 || !close.empty() || o.value == "821")
                close.push_back(o.type);
        EXPECT_EQ(close, (std::vector<int>{101, 3102, 104})) << mode;
        if (mode.rfind("oriAutomatic", 0) != 0) continue;
        // All contours at once answer a cancel that came within their last plane too.
        ccpParamsResetState(), kvCCP.hostSignal = 0;
        ASSERT_EQ(job.run(text), 0);
        size_t last = 0;
        for (size_t i = 0; i < job.out.size(); ++i) last = job.out[i].type == 5002 ? i : last;
        const std::vector<Out> got = cancelled(text, last - 1, 100);
        EXPECT_TRUE(std::any_of(got.begin(), got.end(), [](const Out& o) { return o.value == "821"; }));
    }
    ccpParamsResetState(), kvCCP.hostSignal = 0;
    EXPECT_EQ(job.run(job.pcf), 0);
    EXPECT_TRUE(job.out == full);
    expectNoLeaks();
}

// Input that is no pocket to cut, each after a whole job of the example so that nothing of that one
// carries over: the numbered message (the pocket error's where one fits), status 1 and no path record
// (no pocket header, block or move) before the cycle end. Parameters are refused when they are no
// number, when the step width is not positive or when a length is negative; contours when one crosses
// itself or is flat, when they cross each other or an island lies outside the pocket, when there is
// none, or when the file breaks off.
TEST(PocketRun, BadInputIsRefusedBeforeAnyPath) {
    Job job;
    const std::string example = readText("pocket.kvx");
    const std::string box = kvxText({{boxPoints(0, 0, 100, 60)}});
    const struct {
        std::string contours;  // empty: the example's
        std::vector<std::string> lines;
        std::string message;
    } cases[] = {
        {kvxText({{{{0, 0}, {100, 60}, {100, 0}, {0, 60}}}}), {}, "1102"},  // a bow-tie
        {kvxText({{boxPoints(0, 0, 100, 60)}, {reversed(boxPoints(150, 10, 170, 30))}}), {}, "1115"},
        {kvxText({{boxPoints(0, 0, 100, 60)}, {reversed(boxPoints(80, 20, 130, 40))}}), {}, "1115"},
        {kvxText({{{{0, 0}, {50, 0}, {100, 0}, {50, 0}}}}), {}, "1102"},  // encloses nothing
        {kvxText({}), {}, "1106"},
        {kvxText({{boxPoints(0, 0, 1e-6, 1e-6)}}), {}, "1106"},              // cleaned away
        {example.substr(0, example.find("o L(x[30/50]") + 10), {}, "1102"},  // breaks off in a contour
        {box + "o Note()\n{\n v text(a", {}, "6,(bad.kvx)"},                 // ... after the contours
        {"", {"toolDiameter := -10"}, "1511"},
        {"", {"depth := nan"}, "2,(depth)"},
        {"", {"infeedFactor :=", "infeedLength := 0"}, "2,(infeedLength)"},
        {"", {"infeedFactor :=", "infeedLength := -1"}, "2,(infeedLength)"},
        {"", {"infeedDepth := -4"}, "2,(infeedDepth)"},
        {"", {"infeedFactor := 0"}, "2,(infeedFactor)"},
        {"", {"infeedFactor := nan"}, "2,(infeedFactor)"},
        {"", {"evaluateRif := true", "rifSource := \"gone.nc\""}, "1516"},  // no reference tool to rest
    };
    for (const auto& c : cases) {
        kvCCP.hostSignal = 0;
        ASSERT_EQ(job.run(job.pcf), 0);
        ASSERT_FALSE(job.channel(31).empty());
        writeText("bad.kvx", c.contours.empty() ? example : c.contours);
        std::string text = job.with("geoSource", "geoSource := \"bad.kvx\"");
        for (const std::string& line : c.lines) {
            const std::string key = line.substr(0, line.find(' '));
            text = Job::edit(text, key, line.back() == '=' ? "" : line);
        }
        EXPECT_EQ(job.run(text), 1) << c.message;
        int sent = 0;
        for (const Out& o : job.channel(0)) sent += (o.type == 101 || o.type == 102) && o.value == c.message;
        EXPECT_EQ(sent, 1) << c.message;
        for (const int ch : {10, 12, 31}) EXPECT_TRUE(job.channel(ch).empty()) << c.message << " " << ch;
        EXPECT_EQ(job.out.back().type, 104) << c.message;
    }
    expectNoLeaks();
}

// Pockets the input checks must leave alone: an island 0.02 from a wall, one well inside, a round one of
// two arcs beside it, a deeper pocket in the floor with an island of its own, a second pocket beside the
// first, a negative depth (its magnitude) and an infeed depth of 0 (one plane): each is cut, status 0.
TEST(PocketRun, InputChecksPassValidPockets) {
    Job job;
    const std::string round =
        "o Contour[9]()\n{\n v depth(6)\n o A(o[-] x[85/65/75] y[30/30/30])\n"
        " o A(o[-] x[/85/75] y[/30/30])\n}\n";
    const struct {
        std::string contours;
        std::string line;
    } cases[] = {
        {kvxText({{boxPoints(0, 0, 100, 60)}, {reversed(boxPoints(0.02, 20, 30, 40))}}), ""},
        {kvxText({{boxPoints(0, 0, 100, 60)}, {reversed(boxPoints(40, 20, 60, 40))}}) + round, ""},
        {kvxText({{boxPoints(0, 0, 100, 60), "v surface(0)\n v depth(8)"},
                  {boxPoints(20, 10, 80, 50), "v surface(-8)\n v depth(4)"},
                  {reversed(boxPoints(45, 25, 55, 35)), "v surface(-8)\n v depth(4)"}}),
         ""},
        {kvxText({{boxPoints(0, 0, 100, 60)}, {boxPoints(120, 0, 200, 60)}}), ""},
        {kvxText({{boxPoints(0, 0, 100, 60)}}), "depth := -8"},
        {kvxText({{boxPoints(0, 0, 100, 60)}}), "infeedDepth := 0"},
    };
    for (const auto& c : cases) {
        kvCCP.hostSignal = 0;
        writeText("good.kvx", c.contours);
        std::string text = job.with("geoSource", "geoSource := \"good.kvx\"");
        if (!c.line.empty()) text = Job::edit(text, c.line.substr(0, c.line.find(' ')), c.line);
        EXPECT_EQ(job.run(text), 0) << c.contours << c.line;
        EXPECT_FALSE(job.channel(31).empty()) << c.contours << c.line;
    }
    // The pocket in the floor cut level by level: its slabs after the upper pocket's, or before them when
    // the sequence is inverted; each level still top down.
    writeText("good.kvx", cases[2].contours);
    for (const auto& [invert, want] : {std::pair{"false", std::vector<double>{0, -4, -8}},
                                       std::pair{"true", std::vector<double>{-8, 0, -4}}}) {
        kvCCP.hostSignal = 0;
        const std::string text = Job::edit(job.with("geoSource", "geoSource := \"good.kvx\""),
                                           "invertSequence", std::string("invertSequence := ") + invert);
        EXPECT_EQ(job.run(text), 0) << invert;
        std::vector<double> surfaces;
        for (const Out& o : job.channel(31))
            if (o.type == 3131 && o.name == "surface" &&
                (surfaces.empty() || std::stod(o.value) != surfaces.back()))
                surfaces.push_back(std::stod(o.value));
        EXPECT_EQ(surfaces, want) << invert;
    }
}

namespace {

std::vector<std::pair<int32_t, uint32_t>>& blockEnds() {
    static std::vector<std::pair<int32_t, uint32_t>> ends;
    return ends;
}

int keepBlock(CycleRecord*, NcRecord* r) {
    blockEnds().push_back({ncRecGetI32(r, KVNC_TYPE), ncRecGetU32(r, KVNC_BLOCK_NUMBER)});
    return 1;
}

}  // namespace

// The cycle end closes the job's block when the job number is a positive 32-bit one, sends the cycle's
// end with its title, and turns the status word to failed only after a pocket error.
TEST(PocketRun, CycleEndClosesTheJobBlock) {
    const struct {
        const char* jobId;
        bool closed;
        int32_t error;
    } cases[] = {{"", false, 0},
                 {"0", false, 0},
                 {"1", true, 0},
                 {"-3", false, 0},
                 {"2147483647", true, 3029},
                 {"2147483648", false, 0},
                 {"42", true, 3123}};
    for (const auto& c : cases) {
        PocketErrors errors;
        blockEnds().clear();
        ASSERT_EQ(ncRegisterHandler(&kvCCP, 12, keepBlock, keepBlock, 1), 1);
        kvCCP.vars = kvListSet(kvCCP.vars, "ppJobID", c.jobId, 21);
        kvCCP.status = 0;
        if (c.error) pocketError(c.error);
        EXPECT_EQ(ccpCycleEnd(&kvCCP), 1);
        const std::vector<std::pair<int32_t, uint32_t>> want =
            c.closed ? std::vector<std::pair<int32_t, uint32_t>>{{5002, std::stoul(c.jobId)}}
                     : std::vector<std::pair<int32_t, uint32_t>>{};
        EXPECT_EQ(blockEnds(), want) << c.jobId;
        EXPECT_EQ(PocketErrors::texts().back(), std::string("104 ") + kvCCP.title) << c.jobId;
        EXPECT_EQ(kvCCP.status, c.error ? kStatusFailed : 0) << c.jobId;
    }
    kvCCP.vars = kvListSet(kvCCP.vars, "ppJobID", "", 21), kvCCP.status = 0;
}

// Outside-in without a start point enters the tool's outermost ring at the middle of its longest line: on a
// 100 x 60 box with a tool of 10 and an allowance of 0.2, at x 50 on the bottom or top run of its ring.
TEST(PocketRun, OutsideInEntersAtTheMiddleOfTheLongestRun) {
    Job job;
    writeText("box.kvx", kvxText({{boxPoints(0, 0, 100, 60)}}));
    std::string text = job.with("geoSource", "geoSource := \"box.kvx\"");
    for (const char* line : {"strategy := outsideIn", "infeedFactor := 0.5", "infeedDepth := 10",
                             "plungeType := straight", "planeAllowance := 0.2", "toolDiameter := 10"})
        text = Job::edit(text, std::string(line).substr(0, std::string(line).find(' ')), line);
    EXPECT_EQ(job.run(text), 0);
    const std::vector<Out> moves = job.channel(31);
    auto entry = std::find_if(moves.begin(), moves.end(), [](const Out& o) { return o.type == 3101; });
    ASSERT_NE(entry, moves.end());
    EXPECT_NEAR(entry->x, 50, 1e-6);
    EXPECT_NEAR(std::fabs(entry->y - 30), 30 - 5 - 0.2, 1e-6);  // the tool radius and the allowance in
}
// The kernel a run leaves: stock moves between contours only where a plane has several (rapid asked for);
// a stock contour of several stocks is moved to the front only when it is not there; nesting reverses
// group signs only outside-in direct, so contour-parallel runs never note it.
TEST(PocketRun, KernelKeepsStockMovesAndNesting) {
    Job job;
    const std::vector<Vec2> outer = boxPoints(0, 0, 100, 60), island = boxPoints(40, 20, 60, 40);
    const std::string stock = "v stock(true)\n v depth(6)";
    const struct {
        std::vector<KvxContour> contours;
        const char* stock;
        int32_t movement, moved;
    } cases[] = {{{{outer}}, "stock := false", 0, 0},
                 {{{outer}, {island}}, "stock := false", 1, 0},
                 {{{outer, stock}, {island}}, "stock := multi", 1, 0},
                 {{{island}, {outer, stock}}, "stock := multi", 1, 1}};
    for (const auto& c : cases) {
        writeText("p.kvx", kvxText(c.contours));
        std::string text = job.with("geoSource", "geoSource := \"p.kvx\"");
        for (const char* line :
             {"stockMovement := rapid", "infeedDepth := 10", "plungeType := straight", c.stock})
            text = Job::edit(text, std::string(line).substr(0, std::string(line).find(' ')), line);
        EXPECT_EQ(job.run(text), 0);
        EXPECT_EQ(pocketKernel().stockMovement, c.movement) << c.contours.size() << c.stock;
        EXPECT_EQ(pocketKernel().stockMoved, c.moved) << c.contours.size() << c.stock;
        EXPECT_EQ(pocketKernel().nestingReordered, 0);
        EXPECT_EQ(kvCCP.toolContourFlag, 0);  // only a configuration run draws the tool's contour
    }
}

// The last error of an earlier run is not this run's.
TEST(PocketError, ARunStartsWithoutTheLastRunsError) {
    PocketErrors errors;
    pocketError(3011);
    ASSERT_EQ(pocketLastError(), 3011);
    ncFreeChannels(&kvCCP);
    TempFolder tmp;
    const std::string params = tmp.file("run.pcf");
    std::ofstream(params, std::ios::binary) << "geoSource := none.kvx\ntoolDiameter := 10\n";
    ASSERT_TRUE(std::filesystem::exists(params));
    resetCoreToBinFolder(exportsResetCore);
    std::string arg = "-S" + params;
    char* argv[] = {arg.data(), nullptr};
    EXPECT_EQ(kvCSexecCycle(reinterpret_cast<KvCycle*>(&kvCCP), 1, argv, nullptr), 1);
    EXPECT_EQ(kvCSgetSignal(reinterpret_cast<KvCycle*>(&kvCCP)), KV_STATUS_FAILED);
    EXPECT_EQ(pocketLastError(), 0);
    EXPECT_EQ(pocketRecord(), &kvCCP);
}
