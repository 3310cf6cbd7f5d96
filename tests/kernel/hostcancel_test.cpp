// The host's cancel at three points of the bundled example's plunge run, under the sanitizers: before
// the run computes anything, in the channel's side paths and in the output of the plunges (the whole
// sweep over the run is the zoo's). Each run ends cancelled and leaves nothing allocated behind.
#include <gtest/gtest.h>

#include "kernel/cancelrun.h"
#include "platform/testenv.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

TEST(HostCancel, AtTheStartInTheSidePathsAndInTheOutput) {
    TempFolder tmp("cancel");
    ASSERT_FALSE(tmp.path().empty());
    cancelrun::writeExample(tmp.path(), "*PRECISION 0.2\n");  // a coarse conversion is quicker
    const struct {
        const char* where;
        cancelrun::CancelWhen when;
    } points[] = {
        {"first record", cancelrun::atRecord(1)},
        {"first side path", [](const cancelrun::Record& r) { return r.channel == 41; }},
        {"first plunge", cancelrun::plungeStart},
    };
    for (const auto& p : points) {
        SCOPED_TRACE(p.where);
        const cancelrun::HostRun run = cancelrun::runJob(tmp.path(), p.when);
        cancelrun::expectCancelled(run);
    }
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}
