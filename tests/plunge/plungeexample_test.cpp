// The bundled example job run through the C entry points in a temporary folder: a host cancel inside
// the tilt search, and the whole run's tool positions against the design surfaces of every blade and
// splitter around the wheel (the stacked tool solid's deepest point on the exact surfaces).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bladeclear.h"
#include "kernel/testrecord.h"
#include "nctrace.h"
#include "platform/testenv.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

const char* const kFiles[] = {"hub.kvx", "shroud.kvx", "blade.kvx", "split.kvx", "job.cfg"};

struct ExampleRun {
    int started = 0, status = -1;
    bool cancelAt6220 = false, cancelled = false;
    nctrace::Trace trace;
};

int keepRecord(KvCycle* cycle, int32_t channel, const void* record, void* user) {
    auto* run = static_cast<ExampleRun*>(user);
    run->trace.add(channel, record);
    const std::vector<std::string>& m = run->trace.messages;
    if (run->cancelAt6220 && !run->cancelled && channel == 0 && !m.empty() &&
        m.back().rfind("6220,", 0) == 0) {
        run->cancelled = true;
        kvCSsetSignal(cycle, KV_SIGNAL_CANCEL);
    }
    return 1;
}
int keepOwn(KvCycle* cycle, int32_t channel, const void* record, void* user) {
    return channel == 0 ? 1 : keepRecord(cycle, channel, record, user);  // channel 0 reaches pair 1 too
}

// The bundled example's files in a fresh folder, its job run there.
ExampleRun runExample(const TempFolder& tmp, bool cancel) {
    const std::filesystem::path from = std::filesystem::path(KV_SOURCE_DIR) / "examples" / "plunge";
    for (const char* f : kFiles)
        std::filesystem::copy_file(from / f, std::filesystem::path(tmp.path()) / f,
                                   std::filesystem::copy_options::overwrite_existing);
    // The tilt search's messages reach the host only at the highest report class.
    if (cancel)
        std::ofstream(std::filesystem::path(tmp.path()) / "job.cfg", std::ios::app)
            << "*REPORT report.txt\n*REPORT_CLASS 9\n";
    ExampleRun run;
    run.cancelAt6220 = cancel;
    resetCoreToBinFolder();
    const std::filesystem::path back = std::filesystem::current_path();
    std::filesystem::current_path(tmp.path());
    std::string arg = "-Sjob.cfg";
    char* argv[] = {arg.data(), nullptr};
    HostCallbacks cb = {keepRecord, &run, keepOwn, &run, nullptr, nullptr};
    run.started = kvCSexecCycle(kvCSgetCycle(), 1, argv, &cb);
    run.status = kvCSgetSignal(kvCSgetCycle());
    kvCSsetSignal(kvCSgetCycle(), 0);  // the host's cancel request stays until the host clears it
    std::filesystem::current_path(back);
    return run;
}

bool sent(const nctrace::Trace& t, int number) {
    const std::string head = std::to_string(number) + ",";
    return std::any_of(t.messages.begin(), t.messages.end(),
                       [&](const std::string& m) { return m.rfind(head, 0) == 0; });
}

// The tool as the job and the cycle's defaults make it, heights along the axis from the ball centre:
// ball and shank of the cutter's radius up to the total length, then the two holder stages
// (*LENGTH2 30 at *DIAMETER2 15, *LENGTH1 50 at *DIAMETER1 30).
struct Stage {
    double bottom, top, radius;
};
constexpr double kRadius = 2.5, kShankTop = 67 - kRadius;
const Stage kStages[] = {
    {0, kShankTop, kRadius}, {kShankTop, kShankTop + 30, 7.5}, {kShankTop + 30, kShankTop + 80, 15}};

// How deep q lies in the tool at c with axis a: the deepest of the stages' own depths (the ball end
// rounds the first stage; every other stage a straight cylinder). Negative outside.
double toolDepth(const Vec3& c, const Vec3& a, const Vec3& q) {
    const Vec3 w{q.x - c.x, q.y - c.y, q.z - c.z};
    const double h = vecDot3D(&w, &a);
    const double rho = std::sqrt(std::max(0.0, vecDot3D(&w, &w) - h * h));
    const double hc = std::clamp(h, 0.0, kShankTop);
    double depth = kRadius - std::hypot(rho, h - hc);
    for (int i = 1; i < 3; ++i) {
        const Stage& s = kStages[i];
        depth = std::max(depth, std::min({s.radius - rho, h - s.bottom, s.top - h}));
    }
    return depth;
}

}  // namespace

// Cancelled by the host at the first tilt search message: the run stops with 821 and the cancelled
// status before any plunge is written, and leaves nothing allocated behind.
TEST(PlungeExample, CancelInTheTiltSearchEndsWith821AndStatus100) {
    TempFolder tmp("excancel");
    const ExampleRun run = runExample(tmp, true);
    ASSERT_EQ(run.started, 1);
    EXPECT_TRUE(run.cancelled);
    EXPECT_EQ(run.status, KV_STATUS_CANCELLED);
    EXPECT_TRUE(sent(run.trace, 821)) << testing::PrintToString(run.trace.messages);
    EXPECT_FALSE(sent(run.trace, 6509));
    EXPECT_EQ(run.trace.blocks, 0);
    ASSERT_FALSE(run.trace.ch0.empty());
    EXPECT_EQ(run.trace.ch0.back(), 104);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

// The whole run ends with status 0 and plunge blocks; the tool placed at every five-axis position reaches
// no blade or splitter surface deeper than the job's precision (0.01, the cycle's default).
TEST(PlungeExample, ToolAssemblyClearsEveryBladeAtEveryPosition) {
    TempFolder tmp("exwhole");
    const ExampleRun run = runExample(tmp, false);
    ASSERT_EQ(run.started, 1);
    ASSERT_EQ(run.status, KV_STATUS_OK) << testing::PrintToString(run.trace.messages);
    EXPECT_GT(run.trace.blocks, 0);
    ASSERT_FALSE(run.trace.moves.empty());
    bladeclear::Wheel wheel;
    for (const char* f : {"blade.kvx", "split.kvx"}) ASSERT_TRUE(wheel.add(tmp.path() + "/" + f, 8, 0.25));
    double deepest = -1e300;
    size_t worst = 0;
    for (size_t i = 0; i < run.trace.moves.size(); ++i) {
        const nctrace::Move& m = run.trace.moves[i];
        Vec3 a;
        ASSERT_EQ(vecNormalize3D(&m.axis, &a), 1) << i;
        const double d = wheel.deepest([&](const Vec3& q) { return toolDepth(m.p, a, q); }, 0.01);
        if (d > deepest) deepest = d, worst = i;
    }
    EXPECT_LE(deepest, 0.01) << "position " << worst << " of " << run.trace.moves.size();
}
