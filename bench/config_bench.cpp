// Configuration files of many lines: the word-pair reader alone, and a whole configuration run as a
// host starts it (the words read, reported on channel 1 and applied to the cycle's keywords; the run
// then stops at once, as the job names no part). Three kinds of line: one keyword again and again,
// keywords the cycle does not know, comment lines. Both should grow linearly with the line count.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "kernel/base/kvx/kvlist.h"
#include "kernel/base/kvx/wordpair.h"
#include "kernel/cycle/cycle.h"

namespace {

enum Kind { kRepeated, kUnknown, kComment };

std::string writeConfig(Kind kind, int lines) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("config_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string name =
        (dir / ("job" + std::to_string(kind) + "_" + std::to_string(lines) + ".cfg")).string();
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return "";
    // A blade count and a hub file that is not there: the run ends after the configuration step.
    std::fputs("*BLADE_COUNT 8\n*HUB_KVX_OK 1\n*HUB_KVX no-such-hub.kvx\n", f);
    for (int i = 0; i < lines; ++i) {
        if (kind == kRepeated)
            std::fputs("*SICHEBENE 60\n", f);
        else if (kind == kUnknown)
            std::fprintf(f, "*NO_SUCH_WORD_%d %d\n", i, i);
        else
            std::fputs("# a comment line of the job\n", f);
    }
    std::fclose(f);
    return name;
}

void setLabels(benchmark::State& state) {
    static const char* const kNames[] = {"repeated keyword", "unknown keywords", "comments"};
    state.SetLabel(kNames[state.range(0)]);
    state.counters["lines"] = static_cast<double>(state.range(1));
}

void BM_ReadWordPairs(benchmark::State& state) {
    const std::string name = writeConfig(static_cast<Kind>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        KvList* list = readWordPairs(nullptr, name.c_str(), kKvFile);
        benchmark::DoNotOptimize(list);
        kvListFree(list);
    }
    setLabels(state);
    std::filesystem::remove(name);
}

int quiet(KvCycle*, int32_t, const void*, void*) {
    return 1;
}

void BM_ConfigRun(benchmark::State& state) {
    const std::string name = writeConfig(static_cast<Kind>(state.range(0)), static_cast<int>(state.range(1)));
    std::string arg = "-S" + name;
    char* argv[] = {arg.data(), nullptr};
    HostCallbacks cb = {quiet, nullptr, quiet, nullptr, nullptr, nullptr};
    for (auto _ : state) benchmark::DoNotOptimize(kvCSexecCycle(kvCSgetCycle(), 1, argv, &cb));
    setLabels(state);
    std::filesystem::remove(name);
}

void lineCounts(benchmark::internal::Benchmark* b) {
    for (int kind : {kRepeated, kUnknown, kComment})
        for (int lines : {10000, 100000}) b->Args({kind, lines});
}

}  // namespace

BENCHMARK(BM_ReadWordPairs)->Apply(lineCounts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConfigRun)->Apply(lineCounts)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
