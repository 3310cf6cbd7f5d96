// The bundled example's plunge run driven through the exports as a host drives it, cancelled from
// inside the host's k-th callback (or from another thread), with the records it delivered.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "kernel/cycle/cycle.h"
#include "kernel/exports/exports.h"
#include "plunge/cycparams.h"
#include "kernel/cycle/testrecord.h"

namespace cancelrun {

struct Record {
    int32_t channel, type;
    std::string message;  // "number,value" of a message on channel 0
    std::string block;    // the name of a block on channel 12
};

// Records that are part of the tool path: moves and their companions, plunge blocks, polylines and
// points. The close records (the end of the output on channel 12, the cycle end) and messages are not.
inline bool pathRecord(const Record& r) {
    if (r.channel == 31 || r.channel == 32 || r.channel == 41 || r.channel == 42) return true;
    return r.channel == 12 && r.type >= 5001 && r.type <= 5003;
}

inline bool plungeStart(const Record& r) {
    return r.channel == 12 && r.type == 5001 && r.block == "plunge";
}

struct HostRun {
    int32_t started = 0, status = -1;
    std::vector<Record> records;  // each record once, in arrival order
    long requested = -1;          // index of the record at whose delivery the host cancelled
};

// Called with every record; true asks the run to stop there (once).
using CancelWhen = std::function<bool(const Record&)>;

inline CancelWhen atRecord(long number) {
    return [number, n = 0L](const Record&) mutable { return ++n == number; };
}

struct Host {
    HostRun* run;
    CancelWhen when;
};

inline int deliver(KvCycle* cycle, int32_t channel, const void* record, void* user, bool second) {
    if (second && channel == 0) return 1;  // channel 0 reaches both pairs: each record is kept once
    auto* host = static_cast<Host*>(user);
    const char* bytes = static_cast<const char*>(record);
    Record r{channel, 0, "", ""};
    std::memcpy(&r.type, bytes + KVNC_TYPE, 4);
    auto text = [&](size_t at) { return std::string(bytes + at, strnlen(bytes + at, 256)); };
    if (channel == 0 && r.type == 101) r.message = text(KVNC_TEXT_VALUE);
    if (channel == 12 && r.type == 5001) r.block = text(KVNC_BLOCK_TEXT1);
    host->run->records.push_back(r);
    if (host->when && host->when(r) && host->run->requested < 0) {
        host->run->requested = static_cast<long>(host->run->records.size()) - 1;
        kvCSsetSignal(cycle, KV_SIGNAL_CANCEL);
    }
    return 1;
}
inline int pair1(KvCycle* c, int32_t ch, const void* r, void* u) {
    return deliver(c, ch, r, u, false);
}
inline int pair2(KvCycle* c, int32_t ch, const void* r, void* u) {
    return deliver(c, ch, r, u, true);
}

// The example's files in the folder; extra lines are appended to its job. Messages up to level 9 reach
// the host, so that the cancel's message 821 shows where the run saw it.
inline void writeExample(const std::string& folder, const std::string& extra = "") {
    const std::filesystem::path from = std::filesystem::path(KV_SOURCE_DIR) / "examples" / "plunge";
    for (const char* f : {"hub.kvx", "shroud.kvx", "blade.kvx", "split.kvx", "job.cfg"})
        std::filesystem::copy_file(from / f, std::filesystem::path(folder) / f,
                                   std::filesystem::copy_options::overwrite_existing);
    std::ofstream(std::filesystem::path(folder) / "job.cfg", std::ios::app)
        << "*REPORT report.txt\n*REPORT_CLASS 9\n"
        << extra;
}

// The job run in its folder; the host writes 0 into the signal word before the run, as hosts do.
inline HostRun runJob(const std::string& folder, const CancelWhen& when = {}) {
    HostRun run;
    Host host{&run, when};
    resetCoreToBinFolder(exportsResetCore);
    cycleParamsResetState();
    const std::filesystem::path back = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    char arg[] = "-Sjob.cfg";
    char* argv[] = {arg, nullptr};
    HostCallbacks cb = {pair1, &host, pair2, &host, nullptr, nullptr};
    kvCSsetSignal(kvCSgetCycle(), 0);
    run.started = kvCSexecCycle(kvCSgetCycle(), 1, argv, &cb);
    run.status = kvCSgetSignal(kvCSgetCycle());
    kvCSsetSignal(kvCSgetCycle(), 0);
    std::filesystem::current_path(back);
    return run;
}

// Where the run saw the cancel: the index of its message 821, or -1.
inline long seenAt(const HostRun& run) {
    for (size_t i = 0; i < run.records.size(); ++i)
        if (run.records[i].message.rfind("821,", 0) == 0) return static_cast<long>(i);
    return -1;
}

inline long countIn(const HostRun& run, long from, long to, bool (*what)(const Record&)) {
    long n = 0;
    for (long i = std::max(0L, from); i < to && i < static_cast<long>(run.records.size()); ++i)
        n += what(run.records[i]);
    return n;
}

// A run cancelled at the record `requested`: status 100, the cancel seen (message 821), at most the
// plunge whose approach was on its way begun after the request (the output asks before each plunge's
// link and approach), no path record after the cancel was seen and the close records last.
inline void expectCancelled(const HostRun& run) {
    ASSERT_EQ(run.started, 1);
    ASSERT_GE(run.requested, 0);
    EXPECT_EQ(run.status, KV_STATUS_CANCELLED);
    const long seen = seenAt(run);
    ASSERT_GE(seen, run.requested);
    const long n = static_cast<long>(run.records.size());
    EXPECT_LE(countIn(run, run.requested + 1, seen, plungeStart), 1) << "plunges begun after the request";
    EXPECT_EQ(countIn(run, seen, n, pathRecord), 0) << "path records after the cancel was seen";
    ASSERT_FALSE(run.records.empty());
    EXPECT_EQ(run.records.back().channel, 0);
    EXPECT_EQ(run.records.back().type, 104);
}

}  // namespace cancelrun
