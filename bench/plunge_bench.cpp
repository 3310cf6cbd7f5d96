// The tilt search of one side list of the example impeller's channel (main blade to splitter), against
// iso-line wire models of the blade and splitter surfaces at two densities; and the whole run of the
// example impeller as a host starts it, timed phase by phase from the messages the host receives.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "collision/meshset.h"
#include "collision/toolenv.h"
#include "collision/toolseg.h"
#include "geometry/plist.h"
#include "geometry/profile.h"
#include "kernel/cycle/cycle.h"
#include "kernel/ncout/ncrecord.h"
#include "plunge/angleprof.h"
#include "plunge/bladecurves.h"
#include "plunge/cycparams.h"
#include "plunge/hubshroud.h"
#include "plunge/profile2d.h"
#include "plunge/updown.h"
#include "surfaces/deboor.h"
#include "surfaces/kvxsurf.h"

namespace {

constexpr double kPitch = 2 * M_PI / 8;

std::string example(const char* name) {
    return std::string(KV_SOURCE_DIR) + "/examples/plunge/" + name;
}

ToolDescription benchTool() {
    ToolDescription t{};
    t.toolType = kBallMill;
    t.radius = t.cornerRadius = 2.5;
    t.cutterTop = t.tipTop = t.chamferTop = 21;
    t.shaftDiameter = 5;
    t.stage2Top = t.stage1Top = 45;
    t.stage2Diameter = t.stage1Diameter = 6;
    t.stage3Top = t.stage4Top = 90;
    t.stage3Diameter = t.stage4Diameter = 16;
    return t;
}

CollMesh* isoWires(const char* name, int nu, int nv) {
    SurfList* list = newSurfList(4);
    if (readSurfObjects(example(name).c_str(), list) != 1) {
        freeSurfList(list);
        return nullptr;
    }
    PlistArray* lines = plistArrayCreate(64);
    for (int32_t k = 0; k < list->count; ++k)
        for (int dir = 0; dir < 2; ++dir) {
            int across = dir == 0 ? nu : nv, along = dir == 0 ? nv : nu;
            for (int i = 0; i <= across; ++i) {
                Plist* l = plistCreate(along + 1, 0);
                for (int j = 0; j <= along; ++j) {
                    double a = static_cast<double>(i) / across, b = static_cast<double>(j) / along;
                    Vec3 p;
                    if (evalNurbsSurfPoint(&list->entries[k].surface, dir == 0 ? a : b, dir == 0 ? b : a,
                                           &p) == 1)
                        plistAppend(l, j, &p, 0, nullptr, 0);
                }
                plistArrayAdd(lines, l);
                plistFree(l);
            }
        }
    CollMesh* mesh = collMeshFromPolylines(lines, 0.01);
    plistArrayFree(lines);
    freeSurfList(list);
    return mesh;
}

MeshSet* wireSet(int scale) {
    MeshSet* set = meshSetCreate(kMeshSetSlots, 0);
    set->meshes[0] = isoWires("blade.kvx", 10 * scale, 3 * scale);
    set->meshes[1] = isoWires("split.kvx", 6 * scale, 3 * scale);
    if (!set->meshes[0] || !set->meshes[1]) {
        meshSetFree(set);
        return nullptr;
    }
    return meshSetFinish(set, kPitch);
}

Plist* sideList(const HubShroud* level) {
    ProfileCurve* mean[2] = {};
    idx5CreateBladeCurves(example("blade.kvx").c_str(), level->hub, 0.5, &mean[0], &mean[1]);
    Profile2D* raised = profile2DOffset(level->hub, 3.0);
    Plist* l = plistCreate(64, 1);
    double arc = 0;
    for (int k = 0; mean[0] && raised && k <= 48; ++k) {
        const ProfileCurve* c = mean[0];
        int32_t i = static_cast<int32_t>((0.08 + 0.84 * k / 48.0) * (c->count - 1));
        Vec3 b{c->points[i].x, c->points[i].y, c->z[i]};
        double t = 0;
        closestPointProfile2D(raised, &b, &t, nullptr);
        Vec2 rz;
        evalProfile2D(raised, t, &rz);
        double phi = std::atan2(b.y, b.x) + kPitch / 4;
        Vec3 p{rz.x * std::cos(phi), rz.x * std::sin(phi), rz.y}, up{0, 0, 1};
        if (l->count > 0) arc += dist3D(&l->points[l->count - 1], &p);
        plistAppend(l, arc, &p, (k == 0 || k == 48) ? 0x200 : 0, &up, 0);
    }
    freeProfile2D(raised);
    profileFreeList(mean[0]);
    profileFreeList(mean[1]);
    return l;
}

void runSearch(benchmark::State& state, int scale) {
    cycleParamsResetState();
    toolSegResetState();
    CycleParams* p = cycleParams();
    p->collCheck5ax = 1;
    p->tiltMax = 45;
    ProfileCurve* hub = idx5CreateHubShroudCurve(example("hub.kvx").c_str(), 0.5);
    ProfileCurve* shroud = idx5CreateHubShroudCurve(example("shroud.kvx").c_str(), 0.5);
    HubShroud* level = makeHubShroudPair(hub, shroud);
    profileFreeList(hub);
    profileFreeList(shroud);
    MeshSet* set = wireSet(scale);
    AngleProfile* profile = angleProfCreate();
    Plist* list = level ? sideList(level) : nullptr;
    const ToolDescription tool = benchTool();
    if (!set || !list || list->count < 3) {
        state.SkipWithError("example impeller not available");
    } else {
        Plist* work = plistCreate(list->capacity, 1);
        for (auto _ : state) {
            plistCopyPoints(work, list);
            benchmark::DoNotOptimize(segmentTiltSearch(work, 0, profile, level, &tool, set, nullptr));
        }
        state.counters["points"] = list->count;
        plistFree(work);
    }
    plistFree(list);
    angleProfFree(profile);
    meshSetFree(set);
    freeHubShroud(level);
}

// 10 scale x 3 scale iso lines per blade surface.
void BM_TiltSearch(benchmark::State& state) {
    runSearch(state, static_cast<int>(state.range(0)));
}

using Clock = std::chrono::steady_clock;

// Time stamps of the messages that close each phase of a run: loading and channel tracing end with
// 6202, the rolling passes, rounding and spacing with the first 6220 of the tilt search, the tilt
// search and the rows with 6206; the output follows. The plunges come with 6509.
struct RunClock {
    Clock::time_point region, tilt, output;
    int plunges = -1;
};

int stampMessages(KvCycle*, int32_t channel, const void* record, void* user) {
    int32_t type;
    std::memcpy(&type, static_cast<const char*>(record) + KVNC_TYPE, 4);
    if (channel != 0 || type != 101) return 1;
    char value[KVNC_TEXT_SIZE + 1] = {};
    std::memcpy(value, static_cast<const char*>(record) + KVNC_TEXT_VALUE, KVNC_TEXT_SIZE);
    auto* c = static_cast<RunClock*>(user);
    const int number = std::atoi(value);
    if (number == 6202 && c->region == Clock::time_point{}) c->region = Clock::now();
    if (number == 6220 && c->tilt == Clock::time_point{}) c->tilt = Clock::now();
    if (number == 6206) c->output = Clock::now();
    if (number == 6509) c->plunges = std::atoi(std::strchr(value, ',') + 1);
    return 1;
}

// The example impeller's configuration run in a folder of its own (the run writes its temporary
// files and its output there).
void BM_PlungeRun(benchmark::State& state) {
    namespace fs = std::filesystem;
    const fs::path back = fs::current_path();
    const fs::path work = fs::temp_directory_path() / ("plunge_bench_" + std::to_string(getpid()));
    fs::create_directories(work);
    for (const char* f : {"hub.kvx", "shroud.kvx", "blade.kvx", "split.kvx", "job.cfg"})
        fs::copy_file(example(f), work / f, fs::copy_options::overwrite_existing);
    // Messages up to level 9 reach the host: the phases are read from them.
    std::FILE* job = std::fopen((work / "job.cfg").c_str(), "ab");
    if (job) {
        std::fputs("*REPORT report.txt\n*REPORT_CLASS 9\n", job);
        std::fclose(job);
    }
    fs::current_path(work);
    char arg[] = "-Sjob.cfg";
    char* argv[] = {arg, nullptr};
    double loading = 0, passes = 0, tilt = 0, output = 0, total = 0;
    int status = -1, plunges = -1, runs = 0;
    for (auto _ : state) {
        RunClock c;
        HostCallbacks cb = {stampMessages, &c, nullptr, nullptr, nullptr, nullptr};
        const Clock::time_point start = Clock::now();
        kvCSexecCycle(kvCSgetCycle(), 1, argv, &cb);
        const Clock::time_point end = Clock::now();
        status = kvCSgetSignal(kvCSgetCycle());
        plunges = c.plunges;
        auto secs = [](Clock::time_point a, Clock::time_point b) {
            return a == Clock::time_point{} || b == Clock::time_point{}
                       ? 0.0
                       : std::chrono::duration<double>(b - a).count();
        };
        loading += secs(start, c.region);
        passes += secs(c.region, c.tilt);
        tilt += secs(c.tilt, c.output);  // the tilt search, then the rows
        output += secs(c.output, end);
        total += secs(start, end);
        ++runs;
    }
    fs::current_path(back);
    fs::remove_all(work);
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    state.counters["status"] = status;
    state.counters["plunges"] = plunges;
    state.counters["load_trace_s"] = loading / runs;
    state.counters["passes_s"] = passes / runs;
    state.counters["tilt_rows_s"] = tilt / runs;
    state.counters["output_s"] = output / runs;
    state.counters["total_s"] = total / runs;
    state.counters["maxrss_MB"] = use.ru_maxrss / 1024.0;
}

}  // namespace

BENCHMARK(BM_PlungeRun)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_TiltSearch)->Arg(5)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
