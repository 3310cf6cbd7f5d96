// One run, one state over longer sequences: a seed draws whole jobs of both cycles (plunge
// configuration and parameter-file runs, pocket parameter-file and configuration runs), each setting or
// leaving out what a run's set-up touches, and the order they run in. Each job of the sequence, run in
// turn in this process, writes record for record and in its POF text what it writes alone in a fresh
// process.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "geometry/rng.h"
#include "kernel/runstate.h"

using namespace runstate;

namespace {

int below(Rng* rng, int n) {
    return rngStep(rng) % n;
}

bool coin(Rng* rng) {
    return below(rng, 2) == 1;
}

std::string number(double x) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", x);
    return text;
}

// Plunge configuration runs: the impeller's job with a seeded choice of what the set-up reads.
JobFile plungeCfg(Rng* rng, const std::string& impellerJob, const std::string& name) {
    std::string t = impellerJob + "*PRECISION " + (coin(rng) ? "0.5\n" : "0.3\n");
    if (coin(rng)) t += "*TOOL_TIP 1\n";
    if (coin(rng))
        t += "*TOOL_REFERENCE T" + name + "\n*TREF_T" + name + " " + number(0.1 * (1 + below(rng, 8))) + "\n";
    if (coin(rng)) t += "*STOCK_3DF stock.kvx\n";
    if (coin(rng)) t += "*REPORT report.txt\n*REPORT_CLASS 9\n";
    if (coin(rng)) t += "*SBS 1\n";
    if (coin(rng)) t += "*FORCE_G1 1\n";
    if (coin(rng)) t += "*FRED_ANGLE " + number(5 + below(rng, 40)) + "\n";
    return {{name + ".cfg", Cycle::Plunge, name + ".pof"}, name + ".cfg", t + "*APT " + name + ".pof\n"};
}

// Plunge parameter-file runs: they apply no keywords, so alone they stop at the blade count, after the
// header and the settings of the 3D cycle's parameters.
JobFile plungePcf(Rng* rng, const std::string& name) {
    std::string t = "polySource := \"stock.kvx\"\ntoolDiameter := 3\n";
    t += std::string("ncFormat := ") + (coin(rng) ? "dsplineFormat\n" : "polyFormat\n");
    t += "clearancePlane := " + number(50 + below(rng, 30)) + "\nretractPlane := 45\n";
    if (coin(rng)) t += "ScaleXYZ := 2,2,2\n";
    if (coin(rng)) t += "polyCs_o := 0,0,1\npolyCs_x := 1,0,0\npolyCs_y := 0,1,0\npolyCs_z := 0,0,1\n";
    if (coin(rng)) t += "frameCs_o := 1,2,3\n";
    if (coin(rng)) t += "frame := 1,2,3,4,5,6\nframeOn := true\nframeOff := true\n";
    if (coin(rng)) t += "precision := " + number(2 + below(rng, 5)) + "\n";
    if (coin(rng)) t += "lastComment := 2\ncomment_1 := \"one\"\ncomment_2 := \"two\"\n";
    if (coin(rng)) t += "ppJobID := 7\n";
    return {{name, Cycle::Plunge, name + ".pof"}, name + ".pcf", t + "pofFilename := \"" + name + ".pof\"\n"};
}

// Pocket parameter-file runs on the example pocket, with and without its optional keys.
JobFile pocketPcf(Rng* rng, const std::string& name) {
    static const char* const kStrategies[] = {"contourParallel", "outsideIn", "outsideInDirect",
                                              "stockOutin"};
    std::string t =
        "geoSource := \"pocket.kvx\"\nNCOutp := true\ntoolDiameter := " + number(6 + below(rng, 5)) + "\n";
    if (coin(rng)) t += std::string("strategy := ") + kStrategies[below(rng, 4)] + "\n";
    if (coin(rng)) t += "infeedFactor := 0.4\n";
    if (coin(rng)) t += "planeAllowance := 0.3\n";
    if (coin(rng)) t += "depth := 8\ninfeedDepth := 4\n";
    if (coin(rng)) t += "clearancePlane := 60\nretractPlane := 20\n";
    if (coin(rng)) t += "plungeType := helical\nhelixRadius := 3\n";
    if (coin(rng)) t += "approachType := perpendicular\napproachLength := 2\n";
    if (coin(rng)) t += "stockTolerance := 0.3\n";
    if (coin(rng)) t += "precision := 3\n";
    if (coin(rng)) t += "lastComment := 1\ncomment_1 := \"pocket\"\n";
    return {{name, Cycle::Pocket, name + ".pof"}, name + ".pcf", t + "pofFilename := \"" + name + ".pof\"\n"};
}

// Pocket configuration runs: the keyword block and the parameter file it writes.
JobFile pocketCfg(Rng* rng, const std::string& name) {
    std::string t = "*KVX pocket.kvx\n*TMP_DIR .\n*FRRADIUS " + number(3 + below(rng, 3)) +
                    "\n*SICHEBENE 50\n*SICHDIST 2\n*TIEF 8\n*VERTZUSTEL 4\n*HORIZUSTEL 0.4\n"
                    "*XVORSCHUB 800\n*ZVORSCHUB 200\n";
    if (coin(rng)) t += "*UMLAUF 1\n";
    if (coin(rng)) t += "*MACRO_TMODE 2\n*MACRO_TRAD 3\n*MACRO_TSWIN 10\n*MACRO_HWIN 10\n";
    if (coin(rng)) t += "*AUFMASS 0.2\n";
    if (coin(rng)) t += "*MIRROR_POS 60 0 0\n*MIRROR_ORI 1 0 0\n";
    return {{name + ".cfg", Cycle::Pocket, name + ".pof"}, name + ".cfg", t + "*APT " + name + ".pof\n"};
}

// Five plunge configuration runs, three plunge parameter-file runs, three pocket runs of each kind, in
// the seed's order.
std::vector<JobFile> sequence(uint32_t seed, const std::string& impellerJob) {
    Rng rng{seed};
    std::vector<int> kinds = {0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};
    for (size_t i = kinds.size() - 1; i > 0; --i)
        std::swap(kinds[i], kinds[below(&rng, static_cast<int>(i) + 1)]);
    std::vector<JobFile> jobs;
    for (size_t i = 0; i < kinds.size(); ++i) {
        std::string name = "j";
        name += std::to_string(i);
        switch (kinds[i]) {
            case 0:
                jobs.push_back(plungeCfg(&rng, impellerJob, name));
                break;
            case 1:
                jobs.push_back(plungePcf(&rng, name));
                break;
            case 2:
                jobs.push_back(pocketPcf(&rng, name));
                break;
            default:
                jobs.push_back(pocketCfg(&rng, name));
                break;
        }
    }
    return jobs;
}

ImpellerOptions impeller(uint32_t seed) {
    Rng rng{seed * 7919u};
    ImpellerOptions o;
    o.blades = 5 + below(&rng, 4);
    o.hubStartR = 10, o.hubStartZ = 20, o.hubEndR = 30, o.hubEndZ = 3;
    o.shroudOffset = 8;
    o.splitters = below(&rng, 2);
    o.wrapDeg = 15 + below(&rng, 20);
    o.toolRadius = 1.25;
    return o;
}

class RunStateZoo : public ::testing::TestWithParam<uint32_t> {};

}  // namespace

TEST_P(RunStateZoo, EachJobOfASeededSequenceWritesWhatItWritesAlone) {
    const uint32_t seed = GetParam();
    const std::filesystem::path root = std::filesystem::current_path() / ("zoo" + std::to_string(seed));
    const Runs runs = runInTurnAndAlone(root, impeller(seed),
                                        [seed](const std::string& job) { return sequence(seed, job); });
    int finished = 0;
    for (size_t i = 0; i < runs.jobs.size(); ++i) {
        SCOPED_TRACE(runs.jobs[i].job.name + "\n" + runs.jobs[i].text);
        EXPECT_EQ(runs.alone[i].started, 1);
        finished += runs.alone[i].status == 0;
        EXPECT_TRUE(sameAsAlone(runs.inTurn[i], runs.alone[i]));
    }
    // The jobs are meant to run: only the three parameter-file runs of the plunge cycle stop early.
    EXPECT_GE(finished, 9) << seed;
    std::filesystem::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RunStateZoo, ::testing::Values(1u, 2u, 3u, 4u));
