// The pocket zoo: seeded jobs run whole through the host entry and judged by
// the GEOS oracle. Status 0 must be a complete (where asked), sound path;
// anything else must be status 1 with a numbered message and nothing unsound
// written. KV_ZOO_SEEDS sets the number of seeds (300 by default), or a
// range "first-last".
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "zooshapes.h"

namespace {

[[maybe_unused]] void seedRange(uint32_t* first, uint32_t* last) {
    *first = 0;
    *last = 299;
    const char* env = std::getenv("KV_ZOO_SEEDS");
    if (!env || !*env) return;
    const std::string s = env;
    const size_t dash = s.find('-');
    if (dash == std::string::npos) {
        *last = static_cast<uint32_t>(std::max(1L, std::strtol(env, nullptr, 10))) - 1;
        return;
    }
    *first = static_cast<uint32_t>(std::strtoul(s.substr(0, dash).c_str(), nullptr, 10));
    *last = static_cast<uint32_t>(std::strtoul(s.substr(dash + 1).c_str(), nullptr, 10));
}

}  // namespace

// The judge catches what it must: a run that is sound against its own pocket gouges 2 um into a pocket
// whose walls stand 2 um nearer, is incomplete without its last passes, and has an arc off its circle
// once its end moves out by 1e-5.
TEST(PocketZoo, JudgeCatchesGougesGapsAndBadArcs) {
#ifdef KV_HAVE_GEOS
    TempFolder folder;
    const JobContour outer{zoo::roundedRect({60, 40}, 90, 56, 12).segs, false, 0, -6};
    const JobContour island{zoo::circle({45, 40}, 8, 0.4).segs, true, 0, -6};
    const PocketJob job = jobOf({outer, island}, {{"toolDiameter", "8"}, {"completePocket", "true"}});
    const JobRun run = runJob(job, folder.path());
    const Verdict sound = judge(job, run);
    ASSERT_TRUE(sound.honest(true)) << sound.text();
    EXPECT_EQ(sound.status, 0);

    PocketJob nearer = job;
    nearer.set("planeAllowance", "0.202");
    const Verdict gouge = judge(nearer, run);
    EXPECT_FALSE(gouge.sound());
    EXPECT_NEAR(gouge.gougeDepth, 0.002, 1e-5);

    JobRun cut = run;
    size_t moves = 0;
    for (const pocketnctest::Rec& r : cut.records) moves += r.type == 3111 || r.type == 3121;
    size_t kept = 0;
    cut.records.erase(std::remove_if(cut.records.begin(), cut.records.end(),
                                     [&](const pocketnctest::Rec& r) {
                                         return (r.type == 3111 || r.type == 3121) && ++kept > moves * 3 / 4;
                                     }),
                      cut.records.end());
    EXPECT_FALSE(judge(job, cut).complete);

    // The last quarter of the first of two planes left out: the plane below cuts it all away in the end,
    // but the plane is incomplete when the next one's entry comes down over it.
    PocketJob twoPlanes = job;
    twoPlanes.set("infeedDepth", "3");
    JobRun upper = runJob(twoPlanes, folder.path());
    ASSERT_TRUE(judge(twoPlanes, upper).honest(true)) << judge(twoPlanes, upper).text();
    double z = 1e9, firstZ = 1e9;
    size_t inFirst = 0, seen = 0;
    for (const pocketnctest::Rec& r : upper.records) {
        if (r.channel == 31 && (r.type == 3102 || r.type == 3112 || r.type == 3113)) z = r.z;
        if (r.channel == 31 && (r.type == 3111 || r.type == 3121) && firstZ > 1e8) firstZ = z;
        inFirst += r.channel == 31 && (r.type == 3111 || r.type == 3121) && z == firstZ;
    }
    z = 1e9;
    upper.records.erase(std::remove_if(upper.records.begin(), upper.records.end(),
                                       [&](const pocketnctest::Rec& r) {
                                           if (r.channel != 31) return false;
                                           if (r.type == 3102 || r.type == 3112 || r.type == 3113) z = r.z;
                                           return (r.type == 3111 || r.type == 3121) && z == firstZ &&
                                                  ++seen > inFirst * 3 / 4;
                                       }),
                        upper.records.end());
    const Verdict partial = judge(twoPlanes, upper);
    EXPECT_FALSE(partial.complete);
    EXPECT_NEAR(partial.uncutAt, firstZ, 1e-9);

    JobRun bent = run;
    for (pocketnctest::Rec& r : bent.records)
        if (r.type == 3121) {
            const double d = std::hypot(r.x - r.cx, r.y - r.cy);
            r.x += (r.x - r.cx) / d * 1e-5;
            r.y += (r.y - r.cy) / d * 1e-5;
            break;
        }
    EXPECT_EQ(judge(job, bent).badArcs, 1);
#else
    GTEST_SKIP() << "GEOS is not available";
#endif
}

TEST(PocketZoo, SeededJobsAreSoundOrFailHonestly) {
#ifdef KV_HAVE_GEOS
    uint32_t first, last;
    seedRange(&first, &last);
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    int jobs = 0, failed = 0;
    std::map<std::string, int> statusOne;  // honest failures by their first message
    const bool verbose = std::getenv("KV_ZOO_VERBOSE") != nullptr;
    for (uint32_t seed = first; seed <= last; ++seed) {
        const PocketJob job = zoo::zooJob(seed);
        const auto t0 = std::chrono::steady_clock::now();
        const JobRun run = runJob(job, folder.path());
        const auto t1 = std::chrono::steady_clock::now();
        const Verdict v = judge(job, run);
        const auto t2 = std::chrono::steady_clock::now();
        if (verbose)
            printf("  run %.0f ms, judge %.0f ms\n",
                   std::chrono::duration<double, std::milli>(t1 - t0).count(),
                   std::chrono::duration<double, std::milli>(t2 - t1).count());
        ++jobs;
        const bool ok = v.honest(job.key("completePocket") == "true");
        if (ok && v.status == 1)
            for (const pocketnctest::Rec& r : run.records)
                if (r.channel == 0 && r.type == 101) {
                    ++statusOne[r.value];  // the job's first message
                    break;
                }
        if (verbose || !ok)
            printf("seed %u %s: %s -> %s\n", seed, ok ? "ok" : "FAIL", job.describe.c_str(),
                   v.text().c_str());
        if (!ok && ++failed <= 40)
            ADD_FAILURE() << "seed " << seed << ": " << job.describe << " -> " << v.text();
    }
    printf("pocket zoo: %d jobs, %d failed\n", jobs, failed);
    for (const auto& [message, count] : statusOne)
        printf("  %d jobs ended with status 1, first %s\n", count, message.c_str());
    EXPECT_EQ(failed, 0);
#else
    GTEST_SKIP() << "GEOS is not available";
#endif
}
