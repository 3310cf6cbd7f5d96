// The host's cancel over a whole plunge run of the bundled example, in the optimised build: thirty
// points spread evenly on a log scale from the first record to the last plunge, and a run whose
// far clearance plane keeps its links searching until a cancel from another thread stops them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "kernel/exports/cancelrun.h"
#include "platform/testenv.h"

using cancelrun::countIn;
using cancelrun::HostRun;
using cancelrun::pathRecord;
using cancelrun::plungeStart;
using cancelrun::Record;
using cancelrun::runJob;
using cancelrun::seenAt;
using cancelrun::writeExample;

TEST(HostCancel, ThirtyPointsOverAWholeRunEachEndCancelled) {
    TempFolder tmp("sweep");
    ASSERT_FALSE(tmp.path().empty());
    writeExample(tmp.path());
    const HostRun whole = runJob(tmp.path());
    ASSERT_EQ(whole.started, 1);
    ASSERT_EQ(whole.status, KV_STATUS_OK);
    ASSERT_EQ(seenAt(whole), -1);
    long firstPlunge = -1, lastPlunge = -1;
    for (size_t i = 0; i < whole.records.size(); ++i) {
        if (!plungeStart(whole.records[i])) continue;
        if (firstPlunge < 0) firstPlunge = static_cast<long>(i);
        lastPlunge = static_cast<long>(i);
    }
    ASSERT_GT(firstPlunge, 0);

    // Record numbers from 1 to the last plunge's start, each at least one beyond the one before.
    constexpr int kPoints = 30;
    std::vector<long> points;
    for (int i = 0; i < kPoints; ++i) {
        const long at = std::lround(std::pow(static_cast<double>(lastPlunge + 1), i / (kPoints - 1.0)));
        points.push_back(points.empty() ? at : std::max(at, points.back() + 1));
    }
    ASSERT_LE(points.back(), lastPlunge + 1);
    int inOutput = 0;
    for (long at : points) {
        SCOPED_TRACE("cancel at record " + std::to_string(at) + " of " +
                     std::to_string(whole.records.size()));
        const HostRun run = runJob(tmp.path(), cancelrun::atRecord(at));
        cancelrun::expectCancelled(run);
        inOutput += run.requested >= firstPlunge;
    }
    EXPECT_GE(inOutput, 3);  // the sweep reaches into the output of the plunges
}

// The host, waiting on another thread, cancels once the output begins (message 6206): the run ends
// cancelled with no path record after the cancel is seen.
TEST(HostCancel, CancelFromAnotherThreadStopsTheOutput) {
    TempFolder tmp("thread");
    ASSERT_FALSE(tmp.path().empty());
    writeExample(tmp.path(), "");
    std::atomic<bool> output{false};
    std::thread host([&] {
        while (!output.load()) std::this_thread::yield();
        kvCSsetSignal(kvCSgetCycle(), KV_SIGNAL_CANCEL);
    });
    const HostRun run = runJob(tmp.path(), [&](const Record& r) {
        if (r.message.rfind("6206,", 0) == 0) output = true;
        return false;
    });
    output = true;  // the waiting thread ends also when the run never got there
    host.join();
    kvCSsetSignal(kvCSgetCycle(), 0);  // the waiting thread may have cancelled after the run
    EXPECT_EQ(run.status, KV_STATUS_CANCELLED);
    const long seen = seenAt(run);
    ASSERT_GE(seen, 0);
    EXPECT_EQ(countIn(run, seen, static_cast<long>(run.records.size()), pathRecord), 0);
}
