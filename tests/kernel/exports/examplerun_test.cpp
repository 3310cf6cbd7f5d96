// The bundled example's plunge run as a host drives it, under the sanitizers: the host's cancel at three
// points (the whole sweep over the run is the zoo's), and where the run's mesh conversions write.
#include <gtest/gtest.h>

#include <filesystem>

#include "kernel/exports/cancelrun.h"
#include "platform/testenv.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// Cancelled before the run computes anything, in the channel's side paths and in the output of the
// plunges: each run ends cancelled and leaves nothing allocated behind.
TEST(ExampleRun, CancelledAtTheStartInTheSidePathsAndInTheOutput) {
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

// A job whose temporary folder is not the working folder: the blade conversions ("tmp.3df") are
// written there, and nothing of the kind lands in the working folder (the run is cancelled once the
// side paths go out, after the blades are loaded).
TEST(ExampleRun, MeshConversionsWriteInTheTemporaryFolder) {
    TempFolder tmp("tmpdir");
    ASSERT_FALSE(tmp.path().empty());
    cancelrun::writeExample(tmp.path(), "*PRECISION 0.2\n*TMP_DIR scratch\n");
    std::filesystem::create_directory(tmp.path() + "/scratch");
    const cancelrun::HostRun run =
        cancelrun::runJob(tmp.path(), [](const cancelrun::Record& r) { return r.channel == 41; });
    ASSERT_EQ(run.status, KV_STATUS_CANCELLED);
    EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/tmp.3df"));
    EXPECT_TRUE(std::filesystem::exists(tmp.path() + "/scratch/tmp.3df"));
}
