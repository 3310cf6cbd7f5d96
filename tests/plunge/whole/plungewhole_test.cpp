// Whole runs of the plunge cycle through the C entry points, on an impeller made by the example
// generator in a temporary folder: the records the host receives, checked against the design of the
// generated part (closed-form meridians, blade surfaces sampled) by brute force.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../bladeclear.h"
#include "hostrun.h"
#include "impeller.h"
#include "platform/testenv.h"
#include "plunge/cycparams.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

constexpr double kPi = 3.14159265358979323846;

using HostRun = hostrun::Run;
using hostrun::runJob;

// Distance of (r, z) from a meridian, a cubic Bezier continued along its end tangents as the run
// continues its curves; *tAt its parameter there. A coarse scan, then a ternary search around its best.
double bezierDistance(const double p[4][2], double r, double z, double* tAt) {
    auto at = [&](double t) {
        const double s = 1 - t;
        double x = 0, y = 0;
        if (t < 0) {
            x = p[0][0] + 3 * t * (p[1][0] - p[0][0]), y = p[0][1] + 3 * t * (p[1][1] - p[0][1]);
        } else if (t > 1) {
            x = p[3][0] + 3 * (t - 1) * (p[3][0] - p[2][0]), y = p[3][1] + 3 * (t - 1) * (p[3][1] - p[2][1]);
        } else {
            const double b[4] = {s * s * s, 3 * s * s * t, 3 * s * t * t, t * t * t};
            for (int k = 0; k < 4; ++k) x += b[k] * p[k][0], y += b[k] * p[k][1];
        }
        return std::hypot(x - r, y - z);
    };
    constexpr double kStep = 1.0 / 400;
    double best = 1e300, tBest = 0;
    for (int i = -2000; i <= 2400; ++i)
        if (const double d = at(i * kStep); d < best) best = d, tBest = i * kStep;
    double lo = tBest - kStep, hi = tBest + kStep;
    for (int k = 0; k < 60; ++k) {
        const double m1 = lo + (hi - lo) / 3, m2 = hi - (hi - lo) / 3;
        (at(m1) < at(m2) ? hi : lo) = at(m1) < at(m2) ? m2 : m1;
    }
    *tAt = 0.5 * (lo + hi);
    return std::min(best, at(*tAt));
}

// The design's hub leaves the inlet axially and reaches the outlet radially; the shroud is its control
// polygon with every leg moved by the shroud offset into the channel, corners where the legs meet.
double meridianDistance(const ImpellerOptions& o, bool shroud, double r, double z, double* t) {
    const double zm = 0.5 * (o.hubStartZ + o.hubEndZ), rm = 0.5 * (o.hubStartR + o.hubEndR),
                 d = o.shroudOffset;
    const double hub[4][2] = {
        {o.hubStartR, o.hubStartZ}, {o.hubStartR, zm}, {rm, o.hubEndZ}, {o.hubEndR, o.hubEndZ}};
    const double a = rm - o.hubStartR, b = zm - o.hubEndZ, l = std::hypot(a, b);
    const double bx = o.hubStartR + d * b / l, by = zm + d * a / l, ex = a / l, ey = -b / l;
    const double t1 = (o.hubStartR + d - bx) / ex, t2 = (o.hubEndZ + d - by) / ey;
    const double top[4][2] = {{o.hubStartR + d, o.hubStartZ},
                              {bx + t1 * ex, by + t1 * ey},
                              {bx + t2 * ex, by + t2 * ey},
                              {o.hubEndR, o.hubEndZ + d}};
    return bezierDistance(shroud ? top : hub, r, z, t);
}

// The impeller in a temporary folder, its job run twice, once more with a stock file that is not there,
// once with a tool holder so wide that no mesh of it can be built and once with a hub allowance (once
// for the suite: a run takes seconds).
class PlungeWhole : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        tmp = new TempFolder("whole");
        opt.outDir = tmp->path();
        std::string why;
        ASSERT_EQ(impWriteAll(opt, &why), 1) << why;
        std::ofstream(*tmp / kImpJobFile, std::ios::app)
            << "*REPORT report.txt\n*REPORT_CLASS 9\n*PRECISION 0.2\n";
        std::filesystem::copy_file(*tmp / kImpJobFile, *tmp / "nostock.cfg");
        std::ofstream(*tmp / "nostock.cfg", std::ios::app) << "*STOCK_3DF missing.3df\n";
        std::ofstream(*tmp / "holder.kvx")
            << "kVX-Exchange-File\nkVX-Version: 1.0\nthird line\nfourth line\no Contour[Holder]()\n{\n"
               "o L(x[0/100000000000000] y[0/0] z[0/0])\no L(x[/100000000000000] y[/20] z[/0])\n}\n";
        std::filesystem::copy_file(*tmp / kImpJobFile, *tmp / "wide.cfg");
        // The tilt search takes no assembly: it would refuse the holder before the check is built.
        std::ofstream(*tmp / "wide.cfg", std::ios::app)
            << "*TOOL_COLL_CHECK 1\n*TOOL_CONTOUR holder.kvx\n*USE_FREE_HOLDER 0\n";
        // A hub allowance lifts the side paths until the corner at the inlet's blade top turns past the
        // rounding angle, and the rounding bends toward the blade.
        std::filesystem::copy_file(*tmp / kImpJobFile, *tmp / "allowance.cfg");
        std::ofstream(*tmp / "allowance.cfg", std::ios::app) << "*AUFMASS_HUB 0.2\n";
        for (const char* job : {kImpJobFile, kImpJobFile, "nostock.cfg", "wide.cfg", "allowance.cfg"})
            runs.push_back(runJob(tmp->path(), job));
    }
    static void TearDownTestSuite() {
        runs.clear();
        delete tmp;
    }
    static inline TempFolder* tmp = nullptr;
    static inline ImpellerOptions opt;
    static inline std::vector<HostRun> runs;
};

}  // namespace

// Channels 0, 1, 10 and 12 as the host sees them; N plunges, blocks and bottoms; unit axes; bottoms on
// the one level's floor, the tool radius above the hub (within the run's precision, 0.2), all in one
// channel.
TEST_F(PlungeWhole, RecordsOfARunEndingWithStatusZero) {
    ASSERT_EQ(runs.size(), 5u);
    const nctrace::Trace& t = runs[0].trace;
    ASSERT_EQ(runs[0].started, 1);
    EXPECT_EQ(runs[0].status, KV_STATUS_OK) << testing::PrintToString(t.messages);
    ASSERT_GE(t.ch0.size(), 4u);
    EXPECT_EQ(std::vector<int>(t.ch0.begin(), t.ch0.begin() + 3), (std::vector<int>{103, 110, 112}));
    EXPECT_EQ(t.ch0.back(), 104);
    std::ifstream job(*tmp / kImpJobFile);
    int lines = 0;
    for (std::string line; std::getline(job, line);) lines += !line.empty() && line[0] == '*';
    EXPECT_EQ(t.cfgLines, lines);
    ASSERT_GE(t.ch10.size(), 3u);
    EXPECT_EQ(t.ch10[0], "cycleFct=kvCycle");
    EXPECT_EQ(t.ch10[1].rfind("arg=F:clearancePlane:=", 0), 0u);
    EXPECT_EQ(t.ch10[2].rfind("CPLANE=", 0), 0u);
    EXPECT_NE(t.message(6202), "");
    EXPECT_NE(t.message(6220), "");
    EXPECT_NE(t.message(6510), "");
    const int n = std::atoi(t.message(6509).c_str());
    EXPECT_GT(n, 10);
    EXPECT_EQ(t.blocks, n);
    ASSERT_FALSE(t.ch12.empty());
    EXPECT_EQ(t.ch12.back(), 5004);
    for (const nctrace::Move& m : t.moves) EXPECT_NEAR(vecLen3D(&m.axis), 1.0, 1e-5);
    const std::vector<nctrace::Move> bottoms = t.bottoms();
    EXPECT_EQ(static_cast<int>(bottoms.size()), n);
    const double pitch = 2 * kPi / opt.blades, wrap = opt.wrapDeg * kPi / 180;
    int channel = -1000;
    for (const nctrace::Move& b : bottoms) {
        double s = 0;
        const double above = meridianDistance(opt, false, std::hypot(b.p.x, b.p.y), b.p.z, &s);
        if (s >= 0 && s <= 1) {
            EXPECT_NEAR(above, opt.toolRadius, 0.2);
        }
        // Past the hub's end (the trailing extension) no blade bounds the sector.
        if (s > 1) continue;
        const int k = int(std::floor((std::atan2(b.p.y, b.p.x) - wrap * std::max(s, 0.0)) / pitch));
        EXPECT_EQ(k, channel == -1000 ? channel = k : channel);
    }
}

// Over the shroud's span every top (the approach position less the clearance 2 along the axis) lies on
// the shroud offset by *MACRO_SABST (1), within the run's precision.
TEST_F(PlungeWhole, TopsOnTheOffsetShroud) {
    ASSERT_EQ(runs.size(), 5u);
    const std::vector<nctrace::Move>& all = runs[0].trace.moves;
    int tops = 0;
    for (size_t i = 1; i < all.size(); ++i) {
        if (!(all[i].block >= 0 && all[i - 1].block < 0)) continue;
        const nctrace::Move& m = all[i - 1];
        const Vec3 top{m.p.x - 2 * m.axis.x, m.p.y - 2 * m.axis.y, m.p.z - 2 * m.axis.z};
        double t = 0;
        const double d = meridianDistance(opt, true, std::hypot(top.x, top.y), top.z, &t);
        if (t < 0 || t > 1) continue;
        EXPECT_NEAR(d, 1.0, 0.2);
        ++tops;
    }
    EXPECT_GT(tops, runs[0].trace.blocks / 2);
}

// The bottoms machine the channel from inlet to outlet: along the hub's meridian they reach both ends
// and leave no stretch wider than a few row steps without a plunge.
TEST_F(PlungeWhole, BottomsCoverTheChannel) {
    ASSERT_EQ(runs.size(), 5u);
    std::vector<double> at;
    for (const nctrace::Move& b : runs[0].trace.bottoms()) {
        double s = 0;
        meridianDistance(opt, false, std::hypot(b.p.x, b.p.y), b.p.z, &s);
        at.push_back(s);
    }
    ASSERT_GT(at.size(), 10u);
    std::sort(at.begin(), at.end());
    EXPECT_LT(at.front(), 0.05);
    EXPECT_GT(at.back(), 0.95);
    double widest = 0;
    for (size_t i = 1; i < at.size(); ++i) widest = std::max(widest, at[i] - at[i - 1]);
    const double hubLength = std::hypot(opt.hubEndR - opt.hubStartR, opt.hubEndZ - opt.hubStartZ);
    EXPECT_LT(widest * hubLength, 4 * 0.5 * opt.toolRadius);  // *PLUNGE_STEP of the job
}

TEST_F(PlungeWhole, TwoRunsGiveTheSameRecords) {
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_TRUE(runs[0].trace.raw == runs[1].trace.raw);
    EXPECT_EQ(runs[0].status, runs[1].status);
}

// A stock file that cannot be loaded ends the run as a failure, with its name, before any plunge.
TEST_F(PlungeWhole, MissingStockFailsTheRun) {
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[2].status, KV_STATUS_FAILED);
    EXPECT_EQ(runs[2].trace.message(5200), "missing.3df");
    EXPECT_EQ(runs[2].trace.message(6509), "");
    EXPECT_EQ(runs[2].trace.blocks, 0);
}

// Without the assembly's part models the check would pass every position unseen: the run fails before
// any plunge, and leaves nothing allocated behind.
TEST_F(PlungeWhole, AssemblyModelThatCannotBeBuiltFailsTheRun) {
    ASSERT_EQ(runs.size(), 5u);
    EXPECT_EQ(runs[3].status, KV_STATUS_FAILED);
    EXPECT_NE(std::find(runs[3].trace.messages.begin(), runs[3].trace.messages.end(), "6290,"),
              runs[3].trace.messages.end());
    EXPECT_EQ(runs[3].trace.message(6509), "");
    EXPECT_EQ(runs[3].trace.blocks, 0);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

// The ball and its cutting length placed at every position of a plunge block meet no blade: also the
// departure, which moves the tool sideways from the bottom toward the next plunge. With and without a
// hub allowance.
TEST_F(PlungeWhole, ToolNeverEntersABlade) {
    ASSERT_EQ(runs.size(), 5u);
    bladeclear::Wheel wheel;
    for (const char* f : {kImpBladeFile, kImpSplitFile}) ASSERT_TRUE(wheel.add(*tmp / f, opt.blades, 0.4));
    for (const size_t run : {0u, 4u}) {
        EXPECT_EQ(runs[run].status, KV_STATUS_OK) << run;
        EXPECT_GT(runs[run].trace.blocks, 10) << run;
        double deepest = -1e300;
        for (const nctrace::Move& m : runs[run].trace.moves) {
            if (m.block < 0) continue;
            const auto depth = [&](const Vec3& q) {
                const Vec3 w{q.x - m.p.x, q.y - m.p.y, q.z - m.p.z};
                const double h = std::clamp(vecDot3D(&w, &m.axis), 0.0, 13.0);
                const Vec3 f{m.p.x + h * m.axis.x, m.p.y + h * m.axis.y, m.p.z + h * m.axis.z};
                return opt.toolRadius - dist3D(&q, &f);
            };
            deepest = std::max(deepest, wheel.deepest(depth, 0.2));
        }
        EXPECT_LE(deepest, 0.2) << run;  // the run's precision
    }
}

// The check model file that the assembly check reads back cannot be written (a folder, a folder that is
// not there): the run fails with its name before any plunge instead of checking against no model.
TEST_F(PlungeWhole, CheckModelThatCannotBeWrittenFailsTheRun) {
    std::filesystem::create_directory(*tmp / "folder.3df");
    const struct {
        const char* job;
        const char* model;
        int collCheck;
    } cases[] = {{"folder.cfg", "folder.3df", 0}, {"nodir.cfg", "nodir/check.3df", 1}};
    for (const auto& c : cases) {
        std::filesystem::copy_file(*tmp / kImpJobFile, *tmp / c.job);
        std::ofstream(*tmp / c.job, std::ios::app)
            << "*POFCHECK_MODEL " << c.model << "\n*TOOL_COLL_CHECK " << c.collCheck << "\n";
        const HostRun run = runJob(tmp->path(), c.job);
        EXPECT_EQ(run.status, KV_STATUS_FAILED) << c.job;
        EXPECT_EQ(run.trace.message(6290), c.model) << c.job;
        EXPECT_EQ(run.trace.message(6509), "") << c.job;
        EXPECT_EQ(run.trace.blocks, 0) << c.job;
    }
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

// The channel's four walls (a blade's, the splitter's two faces, the next blade's) go out as a polyline
// each before the plunges, every one a stretch of many points.
TEST_F(PlungeWhole, EveryWallOfTheChannelGoesOutAsAPolyline) {
    ASSERT_EQ(runs.size(), 5u);
    for (const size_t run : {0u, 4u}) {
        std::vector<int> points;
        bool plunged = false;
        for (const std::string& r : runs[run].trace.raw) {
            int32_t type;
            std::memcpy(&type, r.data() + r.find(':') + 1 + KVNC_TYPE, 4);
            plunged = plunged || (r.rfind("12:", 0) == 0 && type == 5001);
            if (r.rfind("41:", 0) != 0) continue;
            EXPECT_FALSE(plunged) << run;
            if (type == 3103) points.push_back(0);
            if (type == 3113 && !points.empty()) ++points.back();
        }
        ASSERT_EQ(points.size(), 4u) << run;
        for (const int n : points) EXPECT_GT(n, 10) << run;
    }
}
