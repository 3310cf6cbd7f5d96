// One run, one state: jobs of the plunge and pocket cycles run in turn in this process write exactly
// what each writes alone in a fresh process, and the tool tip and tool reference that a configuration
// step sets move the five-axis points back along the tool axis.
#include "kernel/exports/runstate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "plunge/nctrace.h"

using namespace runstate;

namespace {

// A small impeller and a coarse job keep the plunge runs short under the sanitizers.
ImpellerOptions smallImpeller() {
    ImpellerOptions o;
    o.blades = 6;
    o.hubStartR = 10, o.hubStartZ = 20, o.hubEndR = 30, o.hubEndZ = 3;
    o.shroudOffset = 8;
    o.splitters = 0;
    o.toolRadius = 1.5;
    return o;
}

std::vector<JobFile> sequence(const std::string& impellerJob) {
    // Every plunge job cuts under the same stock slab, so that their moves compare.
    const std::string base = impellerJob + "*PRECISION 0.5\n*STOCK_3DF stock.kvx\n";
    auto plunge = [](const std::string& name, const std::string& text) {
        return JobFile{
            {name + ".cfg", Cycle::Plunge, name + ".pof"}, name + ".cfg", text + "*APT " + name + ".pof\n"};
    };
    auto pocket = [](const std::string& name, const std::string& text) {
        return JobFile{
            {name, Cycle::Pocket, name + ".pof"},
            name + ".pcf",
            "geoSource := \"pocket.kvx\"\nNCOutp := true\npofFilename := \"" + name + ".pof\"\n" + text};
    };
    // A parameter-file run of the plunge cycle applies no keywords: alone it stops at the blade count.
    const JobFile para = {{"para", Cycle::Plunge, "para.pof"},
                          "para.pcf",
                          "polySource := \"stock.kvx\"\ntoolDiameter := 3\nncFormat := dsplineFormat\n"
                          "clearancePlane := 70\nretractPlane := 50\nScaleXYZ := 2,2,2\npolyCs_o := 0,0,1\n"
                          "polyCs_x := 1,0,0\npolyCs_y := 0,1,0\npolyCs_z := 0,0,1\nprecision := 3\n"
                          "pofFilename := \"para.pof\"\n"};
    return {
        plunge("tip", base + "*TOOL_TIP 1\n*REPORT report.txt\n*REPORT_CLASS 9\n"),
        pocket("full",
               "toolDiameter := 10\ninfeedFactor := 0.4\nplaneAllowance := 0.5\ndepth := 8\n"
               "infeedDepth := 4\nclearancePlane := 80\nretractPlane := 20\nstrategy := contourParallel\n"
               "plungeType := helical\nhelixRadius := 4\nstockTolerance := 0.3\nprecision := 3\n"),
        para,
        plunge("plain", base),
        pocket("bare", "toolDiameter := 8\n"),
        plunge("ref", base + "*TOOL_REFERENCE T1\n*TREF_T1 0.5\n"),
    };
}

class RunState : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { runs = runInTurnAndAlone(root(), smallImpeller(), sequence); }
    static void TearDownTestSuite() {
        runs = Runs{};
        std::filesystem::remove_all(root());
    }
    static std::filesystem::path root() { return std::filesystem::current_path() / "runstate"; }
    static const Outcome& alone(const std::string& name) {
        for (size_t i = 0; i < runs.jobs.size(); ++i)
            if (runs.jobs[i].job.name == name) return runs.alone[i];
        static const Outcome none;
        ADD_FAILURE() << "no job " << name;
        return none;
    }
    static inline Runs runs;
};

// The moves of a run as the host sees them (its first callback pair hears channel 31).
nctrace::Trace trace(const Outcome& o) {
    nctrace::Trace t;
    for (size_t at = 0; at + kRecordEntry <= o.records.size(); at += kRecordEntry) {
        const unsigned char* r = reinterpret_cast<const unsigned char*>(o.records.data() + at);
        if (r[0] == 1) t.add(r[1] | r[2] << 8, r + 3);
    }
    return t;
}

}  // namespace

TEST_F(RunState, EachJobWritesWhatItWritesAlone) {
    ASSERT_EQ(runs.inTurn.size(), runs.jobs.size());
    ASSERT_EQ(runs.alone.size(), runs.jobs.size());
    for (size_t i = 0; i < runs.jobs.size(); ++i) {
        const std::string& name = runs.jobs[i].job.name;
        SCOPED_TRACE(name);
        EXPECT_EQ(runs.alone[i].started, 1);
        // Alone, each job does what it is meant to: the parameter-file run stops at the blade count.
        EXPECT_EQ(runs.alone[i].status, name == "para" ? 1 : 0);
        EXPECT_FALSE(runs.alone[i].pof.empty());
        EXPECT_TRUE(sameAsAlone(runs.inTurn[i], runs.alone[i]));
    }
}

// Between the runs with the tool tip (of the tool radius) or a tool reference of 0.5 and the run
// without either, each alone, every five-axis point but the run's first position lies that far back
// along its axis.
TEST_F(RunState, ToolTipAndReferenceMoveThePointsBackAlongTheAxis) {
    const double radius = smallImpeller().toolRadius;
    const nctrace::Trace centre = trace(alone("plain.cfg"));
    ASSERT_GT(centre.moves.size(), 100u);
    const struct {
        const char* job;
        double length;
    } cases[] = {{"tip.cfg", radius}, {"ref.cfg", radius - 0.5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.job);
        const nctrace::Trace shifted = trace(alone(c.job));
        ASSERT_EQ(shifted.moves.size(), centre.moves.size());
        double worst = 0;
        for (size_t i = 1; i < centre.moves.size(); ++i) {
            const nctrace::Move &a = centre.moves[i], &b = shifted.moves[i];
            EXPECT_EQ(a.axis.x, b.axis.x);
            EXPECT_EQ(a.axis.y, b.axis.y);
            EXPECT_EQ(a.axis.z, b.axis.z);
            const Vec3 back = {a.p.x - c.length * a.axis.x, a.p.y - c.length * a.axis.y,
                               a.p.z - c.length * a.axis.z};
            worst = std::fmax(worst, std::hypot(back.x - b.p.x, back.y - b.p.y, back.z - b.p.z));
        }
        EXPECT_LT(worst, 1e-9);
    }
}
