// One run, one state over longer sequences: a seed draws whole jobs of both cycles (plunge
// configuration and parameter-file runs, pocket parameter-file and configuration runs), each setting or
// leaving out what a run's set-up touches, and the order they run in. Each job of the sequence, run in
// turn in this process, writes record for record and in its POF text what it writes alone in a fresh
// process.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "kernel/base/rng.h"
#include "kernel/exports/runstate.h"

using namespace runstate;

namespace {

int below(Rng* rng, int n) {
    return rngStep(rng) % n;
}

// A kind of job: its cycle, whether its file is a configuration file, the lines every job of the kind
// holds, and lines of which a seed takes each with even odds (two choices of one setting stand in
// one entry, split at '|').
struct Kind {
    Cycle cycle;
    bool cfg;
    const char* always;
    std::vector<const char*> options;
};

// Plunge configuration runs (the impeller's job before them); plunge parameter-file runs, which apply no
// keywords and so alone stop at the blade count after the header; pocket runs of both kinds.
const Kind kKinds[] = {
    {Cycle::Plunge,
     true,
     "",
     {"*PRECISION 0.5\n|*PRECISION 0.3\n", "*TOOL_TIP 1\n", "*TOOL_REFERENCE T1\n*TREF_T1 0.3\n",
      "*STOCK_3DF stock.kvx\n", "*REPORT report.txt\n*REPORT_CLASS 9\n", "*SBS 1\n", "*FORCE_G1 1\n",
      "*FRED_ANGLE 20\n|*FRED_ANGLE 40\n"}},
    {Cycle::Plunge,
     false,
     "polySource := \"stock.kvx\"\ntoolDiameter := 3\nretractPlane := 45\n",
     {"ncFormat := dsplineFormat\n|ncFormat := polyFormat\n", "clearancePlane := 70\n|clearancePlane := 55\n",
      "ScaleXYZ := 2,2,2\n", "polyCs_o := 0,0,1\npolyCs_x := 1,0,0\npolyCs_y := 0,1,0\npolyCs_z := 0,0,1\n",
      "frameCs_o := 1,2,3\n", "frame := 1,2,3,4,5,6\nframeOn := true\nframeOff := true\n",
      "precision := 2\n|precision := 5\n", "lastComment := 2\ncomment_1 := one\ncomment_2 := two\n",
      "ppJobID := 7\n"}},
    {Cycle::Pocket,
     false,
     "geoSource := \"pocket.kvx\"\nNCOutp := true\n",
     {"toolDiameter := 10\n|toolDiameter := 7\n", "strategy := outsideIn\n|strategy := outsideInDirect\n",
      "strategy := stockOutin\n", "infeedFactor := 0.4\n", "planeAllowance := 0.3\n",
      "depth := 8\ninfeedDepth := 4\n", "clearancePlane := 60\nretractPlane := 20\n",
      "plungeType := helical\nhelixRadius := 3\n", "approachType := perpendicular\napproachLength := 2\n",
      "stockTolerance := 0.3\n", "precision := 3\n", "lastComment := 1\ncomment_1 := pocket\n"}},
    {Cycle::Pocket,
     true,
     "*KVX pocket.kvx\n*TMP_DIR .\n*SICHEBENE 50\n*SICHDIST 2\n*TIEF 8\n*VERTZUSTEL 4\n*HORIZUSTEL 0.4\n"
     "*XVORSCHUB 800\n*ZVORSCHUB 200\n",
     {"*FRRADIUS 4\n|*FRRADIUS 3\n", "*UMLAUF 1\n", "*MACRO_TMODE 2\n*MACRO_TRAD 3\n*MACRO_TSWIN 10\n",
      "*AUFMASS 0.2\n", "*MIRROR_POS 60 0 0\n*MIRROR_ORI 1 0 0\n"}},
};

JobFile job(Rng* rng, const Kind& kind, const std::string& head, const std::string& name) {
    std::string text = head + kind.always;
    for (const std::string option : kind.options) {
        const size_t bar = option.find('|');
        if (bar != std::string::npos)
            text += below(rng, 2) ? option.substr(0, bar) : option.substr(bar + 1);
        else if (below(rng, 2))
            text += option;
    }
    const std::string file = name + (kind.cfg ? ".cfg" : ".pcf");
    text += kind.cfg ? "*APT " + name + ".pof\n" : "pofFilename := \"" + name + ".pof\"\n";
    return {{kind.cfg ? file : name, kind.cycle, name + ".pof"}, file, text};
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
        jobs.push_back(job(&rng, kKinds[kinds[i]], kinds[i] == 0 ? impellerJob : "", name));
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
