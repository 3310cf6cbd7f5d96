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

#include "../bladeclear.h"
#include "hostrun.h"
#include "platform/testenv.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

const char* const kFiles[] = {"hub.kvx", "shroud.kvx", "blade.kvx", "split.kvx", "job.cfg"};

// The bundled example's files in a fresh folder, its job run there; with cancel, the host cancels at the
// first tilt search message (which reaches the host only at the highest report class); a coarse
// conversion gets there sooner.
hostrun::Run runExample(const TempFolder& tmp, bool cancel, bool* cancelled = nullptr) {
    const std::filesystem::path from = std::filesystem::path(KV_SOURCE_DIR) / "examples" / "plunge";
    for (const char* f : kFiles)
        std::filesystem::copy_file(from / f, std::filesystem::path(tmp.path()) / f,
                                   std::filesystem::copy_options::overwrite_existing);
    if (!cancel) return hostrun::runJob(tmp.path(), "job.cfg");
    std::ofstream(std::filesystem::path(tmp.path()) / "job.cfg", std::ios::app)
        << "*REPORT report.txt\n*REPORT_CLASS 9\n*PRECISION 0.2\n";
    return hostrun::runJob(tmp.path(), "job.cfg",
                           [cancelled](KvCycle* c, int32_t channel, const nctrace::Trace& t) {
                               if (!*cancelled && channel == 0 && !t.messages.empty() &&
                                   t.messages.back().rfind("6220,", 0) == 0)
                                   *cancelled = true, kvCSsetSignal(c, KV_SIGNAL_CANCEL);
                           });
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
    bool cancelled = false;
    const hostrun::Run run = runExample(tmp, true, &cancelled);
    ASSERT_EQ(run.started, 1);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(run.status, KV_STATUS_CANCELLED);
    EXPECT_TRUE(run.trace.sent(821)) << testing::PrintToString(run.trace.messages);
    EXPECT_FALSE(run.trace.sent(6509));
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
    const hostrun::Run run = runExample(tmp, false);
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
