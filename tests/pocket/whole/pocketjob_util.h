// A pocket job described by its exact contours (lines and arcs with heights)
// and its keys, written as an exchange file and a parameter file into a folder
// of its own and run in-process through the host entry; every record the run
// sends is kept with the status word.
#pragma once

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "pocket/ccp.h"
#include "kernel/ncout/core.h"
#include "kernel/cycle/cycle.h"
#include "kernel/base/kvx/kvxfile.h"
#include "platform/module.h"
#include "../pocketnc_util.h"
#include "kernel/exports/exports.h"

namespace pocketjob {

// One element: a line from a to b, or an arc from a to b about c (dir +1 counter-clockwise).
struct JobSeg {
    bool arc = false;
    Vec2 a{}, b{}, c{};
    int dir = 1;
};

// A closed contour: a pocket boundary (material outside) or an island (material inside),
// standing between its bottom and top height.
struct JobContour {
    std::vector<JobSeg> segs;
    bool island = false;
    double top = 0, bottom = -6;
    double allowance = -1;  // its own allowance; negative: the job's
};

struct PocketJob {
    std::vector<JobContour> contours;
    std::vector<std::pair<std::string, std::string>> keys;  // name := value, in order
    std::string describe;                                   // what the generator chose

    std::string key(const std::string& name, const std::string& fallback = "") const {
        for (const auto& k : keys)
            if (k.first == name) return k.second;
        return fallback;
    }
    void set(const std::string& name, const std::string& value) {
        for (auto& k : keys)
            if (k.first == name) {
                k.second = value;
                return;
            }
        keys.emplace_back(name, value);
    }
};

// A job of the contours with a tool of 10, stepover 0.5, allowance 0.2, one plane of 6 and a straight
// plunge, clockwise; the keys given replace or add to these.
inline PocketJob jobOf(std::vector<JobContour> contours,
                       const std::vector<std::pair<std::string, std::string>>& keys = {}) {
    PocketJob job;
    job.contours = std::move(contours);
    job.keys = {{"toolDiameter", "10"},
                {"infeedFactor", "0.5"},
                {"planeAllowance", "0.2"},
                {"surface", "0"},
                {"depth", "6"},
                {"infeedDepth", "6"},
                {"clearancePlane", "50"},
                {"retractPlane", "20"},
                {"clearanceDistance", "2"},
                {"planeFeedrate", "800"},
                {"zFeedrate", "200"},
                {"oriAutomatic", "full"},
                {"orientation", "clockwise"},
                {"plungeType", "straight"}};
    for (const auto& [key, value] : keys) job.set(key, value);
    return job;
}

inline JobSeg segLine(Vec2 a, Vec2 b) {
    return {false, a, b, {}, 1};
}

// The arc about c of radius r from angle a0 to a1 (radians) in the direction dir.
inline JobSeg segArc(Vec2 c, double r, double a0, double a1, int dir) {
    return {true,
            {c.x + r * std::cos(a0), c.y + r * std::sin(a0)},
            {c.x + r * std::cos(a1), c.y + r * std::sin(a1)},
            c,
            dir};
}

inline std::vector<JobSeg> polyline(const std::vector<Vec2>& p) {
    std::vector<JobSeg> s;
    for (size_t i = 0; i < p.size(); ++i) s.push_back(segLine(p[i], p[(i + 1) % p.size()]));
    return s;
}

// The same contour run the other way.
inline std::vector<JobSeg> reversed(const std::vector<JobSeg>& segs) {
    std::vector<JobSeg> r;
    for (auto it = segs.rbegin(); it != segs.rend(); ++it)
        r.push_back({it->arc, it->b, it->a, it->c, -it->dir});
    return r;
}

inline std::string num(double v) {
    char t[40];
    snprintf(t, sizeof t, "%.12g", v);
    return t;
}

inline std::string kvxOf(const std::vector<JobContour>& contours) {
    std::string t = std::string(kKvxBanner) + "\nkVX-Version: 1.0\npocket\ncontours\n";
    int id = 1;
    for (const JobContour& c : contours) {
        t += "o Contour[" + std::to_string(id++) + "]()\n{\n v surface(" + num(c.top) + ")\n v depth(" +
             num(c.top - c.bottom) + ")\n";
        if (c.allowance >= 0) t += " v planeAllowance(" + num(c.allowance) + ")\n";
        for (const JobSeg& s : c.segs) {
            const std::string xs = num(s.a.x) + "/" + num(s.b.x), ys = num(s.a.y) + "/" + num(s.b.y);
            if (s.arc)
                t += std::string(" o A(o[") + (s.dir < 0 ? "-" : "+") + "] x[" + xs + "/" + num(s.c.x) +
                     "] y[" + ys + "/" + num(s.c.y) + "])\n";
            else
                t += " o L(x[" + xs + "] y[" + ys + "])\n";
        }
        t += "}\n";
    }
    return t;
}

struct JobRun {
    int32_t status = -1;
    std::vector<pocketnctest::Rec> records;  // every channel, in order
};

// The run sent the numbered message on channel 0.
inline bool sentMessage(const JobRun& run, const std::string& number) {
    for (const pocketnctest::Rec& r : run.records)
        if (r.channel == 0 && r.type == 101 && r.value == number) return true;
    return false;
}

inline int keepRecord(KvCycle*, int32_t channel, const void* bytes, void* user) {
    static_cast<std::vector<pocketnctest::Rec>*>(user)->push_back(
        pocketnctest::decode(channel, static_cast<const NcRecord*>(bytes)));
    return 1;
}

// Runs the job in the folder (which it leaves as it found it, but for the job's files) from a fresh state.
inline JobRun runJob(const PocketJob& job, const std::string& folder) {
    PocketErrors::reset();
    cycleResetState();
    exportsResetCore();
    coreSetModuleFolder(moduleFileName().c_str());
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    pockettest::writeText("zoo.kvx", kvxOf(job.contours));
    std::string pcf = "geoSource := \"zoo.kvx\"\n";
    for (const auto& k : job.keys) pcf += k.first + " := " + k.second + "\n";
    pockettest::writeText("zoo.pcf", pcf);
    JobRun run;
    char arg[] = "-Szoo";
    char* argv[] = {arg, nullptr};
    HostCallbacks cb{keepRecord, &run.records, nullptr, nullptr, nullptr, nullptr};
    kvCSexecCycle(reinterpret_cast<KvCycle*>(&kvCCP), 1, argv, &cb);
    run.status = kvCSgetSignal(reinterpret_cast<KvCycle*>(&kvCCP));
    std::filesystem::current_path(home);
    PocketErrors::reset();
    return run;
}

}  // namespace pocketjob
using namespace pocketjob;
