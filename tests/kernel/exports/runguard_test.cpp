// The four exports hammered from several threads at once, as a host with worker threads may call
// them: one run at a time, a refused call starts nothing, and every run that starts delivers exactly
// the records it delivers when it runs alone.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kernel/base/rng.h"
#include "kernel/cycle/cycle.h"
#include "plunge/cycparams.h"
#include "kernel/testfiles.h"
#include "kernel/cycle/testrecord.h"
#include "kernel/exports/exports.h"

namespace {

using Trace = std::vector<std::pair<int32_t, int32_t>>;  // channel and record type, in arrival order

// Whose run is delivering records: set at the record that opens a run's output (103) and cleared at
// the one that closes it (104, last on pair 2), so that it never spans the time between two runs.
std::atomic<int> gActive{0};
std::atomic<int> gOverlaps{0};

struct Sink {
    Trace trace;
    std::thread::id self;
    int foreign = 0;  // records delivered on another thread than the caller's
};

int keep(KvCycle*, int32_t channel, const void* record, void* user) {
    auto* sink = static_cast<Sink*>(user);
    int32_t type;
    std::memcpy(&type, static_cast<const char*>(record) + KVNC_TYPE, 4);
    if (std::this_thread::get_id() != sink->self) ++sink->foreign;
    if (channel == 0 && type == 103 && (sink->trace.empty() || sink->trace.back().second != 103) &&
        gActive.fetch_add(1) != 0)
        ++gOverlaps;
    if (gActive.load() != 1) ++gOverlaps;
    sink->trace.push_back({channel, type});
    return 1;
}

int keepLast(KvCycle* cycle, int32_t channel, const void* record, void* user) {
    const int r = keep(cycle, channel, record, user);
    int32_t type;
    std::memcpy(&type, static_cast<const char*>(record) + KVNC_TYPE, 4);
    if (channel == 0 && type == 104) gActive.fetch_sub(1);
    return r;
}

struct Job {
    const char* arg;
    Trace alone;  // the records of the job run by itself
};

struct Outcome {
    int started = 0, refused = 0, wrong = 0, foreign = 0;
};

int32_t runJob(const char* arg, Sink* sink) {
    std::string a = arg;
    char* argv[] = {a.data(), nullptr};
    HostCallbacks cb = {keep, sink, keepLast, sink, nullptr, nullptr};
    return kvCSexecCycle(kvCSgetCycle(), 1, argv, &cb);
}

class RunGuard : public ::testing::Test {
  protected:
    void SetUp() override {
        cycleResetState();
        resetCoreToBinFolder();
        cycleParamsResetState();
        writeTestFile("stress.cfg", "*BLADE_COUNT 8\n*HUB_KVX_OK 1\n*HUB_KVX no-such-hub.kvx\n");
    }
    void TearDown() override {
        cycleResetState();
        cycleParamsResetState();
    }
};

}  // namespace

// Eight threads run a parameter-file job, a configuration job that stops at its missing hub and a
// version run, in a seeded order, while a ninth writes and reads the signal words; the sanitizers
// watch. Each started run's records equal those of the same job run alone, a refused call gets
// none, and no two runs deliver at the same time.
TEST_F(RunGuard, ThreadsRunOneAtATimeAndRefusedCallsStartNothing) {
    Job jobs[] = {{"-Smissing", {}}, {"-Sstress.cfg", {}}, {"-V", {}}};
    for (Job& j : jobs) {
        Sink sink{{}, std::this_thread::get_id()};
        ASSERT_EQ(runJob(j.arg, &sink), 1) << j.arg;
        j.alone = sink.trace;
    }
    ASSERT_GT(jobs[0].alone.size(), 2u);
    ASSERT_GT(jobs[1].alone.size(), jobs[0].alone.size());
    ASSERT_TRUE(jobs[2].alone.empty());

    // Each round releases every thread at once, so that their calls meet in the guard.
    constexpr int kThreads = 8, kRounds = 100;
    std::vector<Outcome> outcomes(kThreads);
    std::atomic<bool> done{false};
    std::atomic<int> arrived{0};
    std::thread signaller([&] {
        KvCycle* cycle = kvCSgetCycle();
        while (!done.load()) {
            kvCSsetSignal(cycle, 0);
            const int32_t status = kvCSgetSignal(cycle);
            if (status != 0 && status != 1) ++gOverlaps;  // no job of this test is cancelled
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            Rng rng{static_cast<uint32_t>(1000 + t)};
            Outcome& out = outcomes[t];
            for (int round = 0; round < kRounds; ++round) {
                const Job& job = jobs[rngStep(&rng) % 3];
                Sink sink{{}, std::this_thread::get_id()};
                arrived.fetch_add(1);
                while (arrived.load() < (round + 1) * kThreads) std::this_thread::yield();
                const int32_t started = runJob(job.arg, &sink);
                out.foreign += sink.foreign;
                if (started == 1) {
                    ++out.started;
                    out.wrong += sink.trace != job.alone;
                } else {
                    ++out.refused;
                    out.wrong += !sink.trace.empty() || started != 0;
                }
            }
        });
    for (std::thread& t : threads) t.join();
    done = true;
    signaller.join();

    int started = 0;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(outcomes[t].wrong, 0) << "thread " << t;
        EXPECT_EQ(outcomes[t].foreign, 0) << "thread " << t;
        EXPECT_EQ(outcomes[t].started + outcomes[t].refused, kRounds);
        started += outcomes[t].started;
    }
    EXPECT_GT(started, 0);
    EXPECT_EQ(gOverlaps.load(), 0);
    EXPECT_EQ(gActive.load(), 0);
    EXPECT_EQ(hostCallbackDepth(), 0);
}
