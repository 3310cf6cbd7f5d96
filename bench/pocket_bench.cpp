// The whole pocket run through the host entry, its POF output written to a
// file, in ten infeed planes: a 1000-line outer contour along a wavy ellipse
// with five islands (two circles of two arcs and three polygons), and a round
// pocket of 30 000 lines, whose rings the arc refit turns into long arcs. The
// peak resident memory of the process is reported beside the time.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "pocket/ccp.h"
#include "kernel/ncout/core.h"
#include "kernel/cycle/cycle.h"
#include "platform/module.h"

namespace {

std::string polygonContour(int id, const std::vector<std::pair<double, double>>& p) {
    std::ostringstream s;
    s.precision(10);
    s << "o Contour[" << id << "]()\n{\n";
    for (size_t i = 0; i < p.size(); ++i) {
        const auto& a = p[i];
        const auto& b = p[(i + 1) % p.size()];
        s << " o L(x[" << a.first << "/" << b.first << "] y[" << a.second << "/" << b.second << "])\n";
    }
    s << "}\n";
    return s.str();
}

std::string circleContour(int id, double cx, double cy, double r) {
    std::ostringstream s;
    s.precision(10);
    s << "o Contour[" << id << "]()\n{\n o A(o[+] x[" << cx + r << "/" << cx - r << "/" << cx << "] y[" << cy
      << "/" << cy << "/" << cy << "])\n o A(o[+] x[/" << cx + r << "/" << cx << "] y[/" << cy << "/" << cy
      << "])\n}\n";
    return s.str();
}

const char* kHead = "kVX-Exchange-File\nkVX-Version: 1.0\npocket\ncontours\nv surface(0)\nv depth(10)\n";

std::string pocketFile() {
    std::vector<std::pair<double, double>> outer;
    for (int i = 0; i < 1000; ++i) {
        const double a = 2 * M_PI * i / 1000, r = 1 + 0.03 * std::sin(12 * a);
        outer.push_back({150 + 140 * r * std::cos(a), 100 + 90 * r * std::sin(a)});
    }
    std::string text = kHead;
    text += polygonContour(1, outer);
    text += circleContour(2, 70, 100, 12);
    text += circleContour(3, 230, 100, 12);
    text += polygonContour(4, {{130, 50}, {130, 70}, {170, 70}, {170, 50}});
    text += polygonContour(5, {{130, 130}, {130, 150}, {170, 150}, {170, 130}});
    text += polygonContour(6, {{140, 90}, {150, 110}, {160, 90}});
    return text;
}

std::string roundFile(int elements) {
    std::vector<std::pair<double, double>> outer;
    for (int i = 0; i < elements; ++i) {
        const double a = 2 * M_PI * i / elements;
        outer.push_back({150 + 100 * std::cos(a), 100 + 100 * std::sin(a)});
    }
    return kHead + polygonContour(1, outer);
}

const char* kJob =
    "geoSource := \"bench.kvx\"\ntoolDiameter := 8\ninfeedFactor := 0.5\nsurface := 0\ndepth := 10\n"
    "infeedDepth := 1\nclearancePlane := 50\nretractPlane := 20\nclearanceDistance := 2\n"
    "planeFeedrate := 800\nzFeedrate := 200\noriAutomatic := full\nNCOutp := true\n"
    "pofFilename := \"bench.pof\"\n";

double maxRssMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;
}

void runJob(benchmark::State& state, const std::string& pocket) {
    char folder[] = "/tmp/pocketbenchXXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    std::ofstream("bench.kvx") << pocket;
    std::ofstream("bench.pcf") << kJob;
    coreSetModuleFolder(moduleFileName().c_str());
    char arg[] = "-Sbench";
    char* argv[] = {arg, nullptr};
    HostCallbacks none{};
    int32_t status = 0;
    for (auto _ : state) {
        std::filesystem::remove("bench.pof");
        kvCSexecCycle(reinterpret_cast<KvCycle*>(&kvCCP), 1, argv, &none);
        status = kvCSgetSignal(reinterpret_cast<KvCycle*>(&kvCCP));
    }
    state.counters["status"] = status;
    state.counters["maxRSS_MB"] = maxRssMb();
    state.counters["pofBytes"] = static_cast<double>(std::filesystem::file_size("bench.pof"));
    std::filesystem::current_path(home);
    std::filesystem::remove_all(folder);
}

void BM_PocketRun(benchmark::State& state) {
    runJob(state, pocketFile());
}
BENCHMARK(BM_PocketRun)->Unit(benchmark::kMillisecond);

void BM_PocketRunRound(benchmark::State& state) {
    runJob(state, roundFile(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_PocketRunRound)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
