// Whole runs of the driver through the C entry points, on the example generator's impeller in a
// temporary folder: the steps of a run that decide what the tool sees and why a run fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "../bladeclear.h"
#include "collision/toolassembly.h"
#include "hostrun.h"
#include "impeller.h"
#include "platform/testenv.h"

namespace {

using hostrun::runJob;

// The generator's impeller with five blades, whose wide channel leaves the tool room to turn at both
// leading edges.
class PlungeRunWhole : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        tmp = new TempFolder("runwhole");
        opt.outDir = tmp->path(), opt.blades = 5;
        std::string why;
        ASSERT_EQ(impWriteAll(opt, &why), 1) << why;
    }
    static void TearDownTestSuite() { delete std::exchange(tmp, nullptr); }
    // The generated job with the lines added, run in the part's folder.
    static hostrun::Run run(const std::string& name, const std::string& lines,
                            const hostrun::Hook& hook = {}) {
        std::filesystem::copy_file(*tmp / kImpJobFile, *tmp / name,
                                   std::filesystem::copy_options::overwrite_existing);
        std::ofstream(*tmp / name, std::ios::app) << lines;
        return runJob(tmp->path(), name, hook);
    }
    static inline TempFolder* tmp = nullptr;
    static inline ImpellerOptions opt;
};

// The host stops the run at the first tilt search message: what came before it is all that is needed.
const hostrun::Hook kStopAtTiltSearch = [](KvCycle* c, int32_t channel, const nctrace::Trace& t) {
    if (channel == 0 && !t.messages.empty() && t.messages.back().rfind("6220,", 0) == 0)
        kvCSsetSignal(c, KV_SIGNAL_CANCEL);
};

}  // namespace

// The lead at the main blade's leading edge is corrected to the blade-edge angle where the edge leaves
// less room than the lead: the down angle only (the up table keeps its unset lead), only where the
// correction is asked for and no rolling pass of its own takes the leading edge (*EDGEROLLING_LEAD 0),
// and to the same angle of the part whatever the lead.
TEST_F(PlungeRunWhole, LeadAtTheLeadingEdgeIsCorrected) {
    const std::pair<const char*, bool> rows[] = {{"*LEAD_ANGLE 0\n", true},
                                                 {"*LEAD_ANGLE 5\n*SBS 1\n", true},
                                                 {"*LEAD_ANGLE 0\n*LEAD_CORRECT 0\n", false},
                                                 {"*LEAD_ANGLE 0\n*HUBFIN_STRATEGY 0\n", false},
                                                 {"*LEAD_ANGLE 0\n*EDGEROLLING_LEAD 0\n", false},
                                                 {"*LEAD_ANGLE -30\n", false}};
    std::string edge;
    for (const auto& [lines, corrected] : rows) {
        const hostrun::Run r =
            run("lead.cfg", std::string("*REPORT report.txt\n*REPORT_CLASS 9\n*PRECISION 0.2\n") + lines,
                kStopAtTiltSearch);
        EXPECT_EQ(r.status, KV_STATUS_CANCELLED) << lines;
        EXPECT_EQ(r.trace.message(6202), "1,1") << lines;  // the channel's one region
        EXPECT_EQ(r.trace.sent(6502), corrected) << lines;
        EXPECT_FALSE(r.trace.sent(6501)) << lines;
        // A run that switches the host's block statements on switches them off at its end, cancelled or
        // not; any other run leaves them alone.
        std::vector<std::string> sbs;
        for (const std::string& v : r.trace.ch10)
            if (v.rfind("proc=SBS_", 0) == 0) sbs.push_back(v);
        const std::vector<std::string> on{"proc=SBS_activate", "proc=SBS_deactivate"};
        EXPECT_EQ(sbs, std::string(lines).find("*SBS 1") == std::string::npos ? decltype(on){} : on) << lines;
        if (!corrected) continue;
        const double value = std::atof(r.trace.message(6502).c_str());
        EXPECT_TRUE(value < 0 && value > -30) << lines;
        EXPECT_TRUE(edge.empty() || edge == r.trace.message(6502)) << lines;
        edge = r.trace.message(6502);
    }
    // The host cancels as the second plunge block opens: the run ends cancelled with 821 and its last
    // move is in that block, with no retract after it and no block after it. A tool length to reduce
    // needs the check model: without a file named for it, it is written to the temporary folder before
    // the first plunge goes out.
    std::filesystem::remove(*tmp / "check.3df");
    bool model = false;
    const hostrun::Run r =
        run("out.cfg", "*REPORT report.txt\n*REPORT_CLASS 9\n*PRECISION 0.2\n*TOOL_LENGTH_REDUCE 1\n",
            [&](KvCycle* c, int32_t, const nctrace::Trace& t) {
                if (t.blocks == 1 && !model) model = std::filesystem::exists("check.3df");
                if (t.blocks == 2) kvCSsetSignal(c, KV_SIGNAL_CANCEL);
            });
    EXPECT_TRUE(model);
    EXPECT_EQ(r.status, KV_STATUS_CANCELLED);
    EXPECT_EQ(r.trace.messages.back(), "821,0");
    EXPECT_EQ(r.trace.message(6206), "0");  // the output began
    EXPECT_EQ(r.trace.blocks, 2);
    ASSERT_FALSE(r.trace.moves.empty());
    EXPECT_EQ(r.trace.moves.back().block, 1);
}

// A tool contour file whose extension is wider than the shank: the tilt search keeps it off the blades.
// The search gives the axes of the plunges on the channel's side paths (the rows between take axes
// interpolated from them): every such plunge, its ball touching a blade, holds ball, shank and extension
// clear of every blade and splitter, measured on the design surfaces. With the blade's tip-edge contours
// (no *BLADE_PRF) the search starts each tilt where the tool swings onto a blade's tip and smooths it
// about a degree inside the room the blades leave: at half the side plunges or more the extension lies
// within 0.5 of a blade.
TEST_F(PlungeRunWhole, TiltSearchKeepsTheContoursExtensionOffTheBlades) {
    std::ofstream(*tmp / "tool.kvx") << "kVX-Exchange-File\nkVX-Version: 1.0\nthird line\nfourth line\n"
                                        "o Contour[Extension]()\n{\no L(x[0/3] y[0/0] z[0/0])\n"
                                        "o L(x[/3] y[/50] z[/0])\n}\n";
    // Tool length 12 from the tip: the shank ends 9.5 above the ball's centre, the extension (radius 3)
    // reaches 50 higher; the description's own holder stages are no wider than the shank. Without an
    // *EDGE_TOL the search's cutter is the ball less twice the precision, as the output begins.
    double cutter = 0;
    const hostrun::Run r = run("extension.cfg",
                               "*TOTAL_TOOL_LENGTH 12\n*DIAMETER1 5\n*DIAMETER2 5\n*TOOL_CONTOUR tool.kvx\n"
                               "*PRECISION 0.2\n",
                               [&](KvCycle*, int32_t, const nctrace::Trace& t) {
                                   if (t.blocks == 1 && !cutter)
                                       cutter = toolAssemblyActive() ? toolAssemblyActive()->tool.radius : -1;
                               });
    ASSERT_EQ(r.status, KV_STATUS_OK) << testing::PrintToString(r.trace.messages);
    EXPECT_NEAR(cutter, opt.toolRadius - 2 * 0.2, 1e-9);
    bladeclear::Wheel wheel;
    for (const char* f : {kImpBladeFile, kImpSplitFile}) ASSERT_TRUE(wheel.add(*tmp / f, opt.blades, 0.4));
    const double ball = opt.toolRadius, shankTop = 12 - ball, extensionTop = shankTop + 50;
    double deepest = -1e300;
    int sides = 0, leaning = 0;
    for (const nctrace::Move& m : r.trace.bottoms()) {
        if (wheel.deepest([&](const Vec3& q) { return ball - dist3D(&q, &m.p); }, -0.3) < -0.3) continue;
        ++sides;
        Vec3 a;
        ASSERT_EQ(vecNormalize3D(&m.axis, &a), 1);
        // How deep q lies in the tool and above the plane `from` over the ball's centre: the lesser of the
        // two depths, so it still changes no faster than q moves.
        const auto depth = [&](double from) {
            return [&, from](const Vec3& q) {
                const Vec3 w{q.x - m.p.x, q.y - m.p.y, q.z - m.p.z};
                const double h = vecDot3D(&w, &a);
                const double rho = std::sqrt(std::max(0.0, vecDot3D(&w, &w) - h * h));
                const double cutter = ball - std::hypot(rho, h - std::clamp(h, 0.0, shankTop));
                return std::min(h - from,
                                std::max(cutter, std::min({3.0 - rho, h - shankTop, extensionTop - h})));
            };
        };
        deepest = std::max(deepest, wheel.deepest(depth(-1e9), 0.2));
        leaning += wheel.deepest(depth(shankTop), -0.5) >= -0.5;
    }
    EXPECT_GT(sides, 100);
    EXPECT_LE(deepest, 0.2);  // the run's precision
    EXPECT_GE(2 * leaning, sides) << leaning << " of " << sides;
}

// Every failing run sends its reason at the default message level (no *REPORT), as the last message:
// a splitter named but missing (selected or not, its wire meshes are built for the tilt search), a
// polymesh that cannot be loaded (the approximation mesh when *APPROX_OK is set, the extra mesh alone
// when only it is named, the reason still naming the unset *APPROX), a keyword value without sense, a
// job file that is not there, an empty one.
TEST_F(PlungeRunWhole, FailuresCarryTheirReasonToTheHost) {
    // Job, lines added to the generated job (null: the job is empty, or not there at all), reason.
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"nosplit.cfg", "*SPLIT_KVX nosuch.kvx\n*SPLIT_KVX_OK 0\n", "6505,nosuch.kvx"},
        {"nosplit1.cfg", "*SPLIT_KVX nosuch.kvx\n", "6505,nosuch.kvx"},
        {"nosplit2.cfg", "*SPLIT_KVX x\n", "6505,x"},  // a name of one letter is a name
        {"approx.cfg", "*APPROX_OK 1\n*APPROX nosuch.3df\n*PRECISION 0.2\n", "5200,nosuch.3df"},
        {"extra.cfg", "*EXTRA_3DF x.3df\n*PRECISION 0.2\n", "5200,"},
        {"nan.cfg", "*SICHDIST nan\n", "6305,*SICHDIST,nan"},
        {"inf.cfg", "*MACRO_EABST inf\n", "6305,*MACRO_EABST,inf"},
        {"tilt.cfg", "*TILT_MAX 720\n", "6305,*TILT_MAX,720"},
        {"nocontour.cfg", "*TOOL_CONTOUR nosuch.kvx\n", "6290,nosuch.kvx"},
        // The blade's exchange copy cannot be written where a folder takes its name.
        {"meshkvx.cfg", "*MESH_KVX 1\n*PRECISION 0.2\n", "6504,blade.kvx"},
        // An extension wider than the channel just above the ball: no tilt keeps it off the blades.
        {"notilt.cfg", "*TOTAL_TOOL_LENGTH 12\n*TOOL_CONTOUR wide.kvx\n*PRECISION 0.2\n", "6007,0"},
        {"absent.cfg", nullptr, "6200,absent.cfg"},
        {"empty.cfg", nullptr, "6207,0"}};
    std::ofstream(*tmp / "empty.cfg").flush();
    std::filesystem::create_directory(*tmp / "bld.kvx");
    std::ofstream(*tmp / "wide.kvx") << "kVX-Exchange-File\nkVX-Version: 1.0\nthird line\nfourth line\n"
                                        "o Contour[Extension]()\n{\no L(x[0/40] y[0/0] z[0/0])\n"
                                        "o L(x[/40] y[/50] z[/0])\n}\n";
    for (const auto& [job, lines, reason] : rows) {
        const hostrun::Run r = lines ? run(job, lines) : runJob(tmp->path(), job);
        EXPECT_EQ(r.status, KV_STATUS_FAILED) << job;
        ASSERT_FALSE(r.trace.messages.empty()) << job;
        EXPECT_EQ(r.trace.messages.back(), reason) << testing::PrintToString(r.trace.messages);
        EXPECT_EQ(r.trace.blocks, 0) << job;
    }
}
