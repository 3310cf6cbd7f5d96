// Jobs of the plunge and pocket cycles run through the host entry, in turn in this process or each
// alone in a fresh process, with what the host receives (every record of every callback pair) and the
// POF text each leaves. A fresh process is this test binary started again for the current test: its
// environment below runs the one job named in its environment variable, writes the outcome beside the
// job and skips the tests.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "impeller.h"
#include "pocket/ccp.h"
#include "kernel/ncout/core.h"
#include "kernel/cycle/cycle.h"
#include "ncdecode.h"
#include "platform/module.h"
#include "kernel/testfiles.h"

namespace runstate {

enum class Cycle { Plunge, Pocket };

struct Job {
    std::string name;  // of the job file, which the run is handed as "-S<name>"
    Cycle cycle;
    std::string pof;  // the POF file the job names
};

// A job with the file that holds it (a parameter file "<name>.pcf" or a configuration file).
struct JobFile {
    Job job;
    std::string file, text;
};

struct Outcome {
    int32_t started = -1, status = -1;
    std::string records;  // per record: callback pair, channel (two bytes), the record's bytes
    std::string pof;
};

constexpr const char* kFreshEnv = "KV_RUNSTATE_FRESH";  // folder, cycle, job, POF, one per line
constexpr size_t kRecordEntry = 3 + KVNC_RECORD_SIZE;

inline std::string readFile(const std::filesystem::path& name) { return readTestFile(name.string()); }
inline void writeFile(const std::filesystem::path& name, const std::string& text) {
    writeTestFile(name.string(), text);
}

struct Sink {
    Outcome* out;
    char pair;
};

inline int keep(KvCycle*, int32_t channel, const void* record, void* user) {
    auto* sink = static_cast<Sink*>(user);
    sink->out->records += sink->pair;
    sink->out->records += static_cast<char>(channel & 0xff);
    sink->out->records += static_cast<char>((channel >> 8) & 0xff);
    sink->out->records.append(static_cast<const char*>(record), KVNC_RECORD_SIZE);
    return 1;
}

// The job as the host runs it, in its folder; its POF file is taken and removed, so that a job run
// again starts a file of its own.
inline Outcome runHere(const std::filesystem::path& folder, const Job& job) {
    Outcome out;
    Sink sinks[3] = {{&out, 1}, {&out, 2}, {&out, 3}};
    HostCallbacks cb = {keep, &sinks[0], keep, &sinks[1], keep, &sinks[2]};
    // The host's installation, not run state: the core library beside this binary.
    coreSetModuleFolder(moduleFileName().c_str());
    KvCycle* cycle = job.cycle == Cycle::Plunge ? kvCSgetCycle() : reinterpret_cast<KvCycle*>(&kvCCP);
    const std::filesystem::path back = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    std::string arg = "-S" + job.name;
    char* argv[] = {arg.data(), nullptr};
    kvCSsetSignal(cycle, 0);  // as a host does before each run
    out.started = kvCSexecCycle(cycle, 1, argv, &cb);
    out.status = kvCSgetSignal(cycle);
    out.pof = readFile(job.pof);
    std::filesystem::remove(job.pof);
    std::filesystem::current_path(back);
    return out;
}

inline std::string resultFile(const std::filesystem::path& folder, const Job& job) {
    return (folder / (job.name + ".fresh")).string();
}

inline void saveOutcome(const std::string& file, const Outcome& o) {
    writeFile(file, std::to_string(o.started) + " " + std::to_string(o.status) + " " +
                        std::to_string(o.records.size()) + "\n" + o.records + o.pof);
}

inline bool loadOutcome(const std::string& file, Outcome* o) {
    const std::string text = readFile(file);
    std::istringstream head(text);
    size_t bytes = 0;
    if (!(head >> o->started >> o->status >> bytes)) return false;
    const size_t body = text.find('\n') + 1;
    if (body == 0 || body + bytes > text.size()) return false;
    o->records = text.substr(body, bytes);
    o->pof = text.substr(body + bytes);
    return true;
}

// The job alone in a fresh start of this binary, filtered to the running test suite (whose tests the
// fresh process skips once the job is done).
inline Outcome runFresh(const std::filesystem::path& folder, const Job& job) {
    Outcome out;
    const std::string result = resultFile(folder, job);
    std::filesystem::remove(result);
    const ::testing::TestSuite* suite = ::testing::UnitTest::GetInstance()->current_test_suite();
    const std::string filter = std::string("--gtest_filter=") + (suite ? suite->name() : "") + ".*";
    const std::string named = folder.string() + "\n" + (job.cycle == Cycle::Plunge ? "plunge" : "pocket") +
                             "\n" + job.name + "\n" + job.pof;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string log = result + ".log";
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) dup2(fd, 1), dup2(fd, 2);
        setenv(kFreshEnv, named.c_str(), 1);
        execl(self.c_str(), self.c_str(), filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        !loadOutcome(result, &out))
        ADD_FAILURE() << job.name << ": the fresh process failed\n" << readFile(log);
    return out;
}

class FreshRun : public ::testing::Environment {
  public:
    void SetUp() override {
        const char* named = std::getenv(kFreshEnv);
        if (!named) return;
        std::istringstream lines(named);
        std::string folder, cycle;
        Job job;
        std::getline(lines, folder), std::getline(lines, cycle), std::getline(lines, job.name),
            std::getline(lines, job.pof);
        job.cycle = cycle == "plunge" ? Cycle::Plunge : Cycle::Pocket;
        saveOutcome(resultFile(folder, job), runHere(folder, job));
        GTEST_SKIP() << "ran " << job.name << " alone";
    }
};

inline ::testing::Environment* const kFreshRunEnvironment = ::testing::AddGlobalTestEnvironment(new FreshRun);

// The inputs every job reads, in a folder: the impeller with its job file, a stock slab across the
// channel at height z as a Polyhedron, and the pocket of the examples. Returns the impeller's job text.
inline std::string writeInputs(const std::filesystem::path& folder, ImpellerOptions opt, double z) {
    std::filesystem::create_directories(folder);
    opt.outDir = folder.string();
    std::string why;
    EXPECT_EQ(impWriteAll(opt, &why), 1) << why;
    const double r = 2 * opt.hubEndR;
    std::string stock =
        "kVX-Exchange-File\nkVX-Version: 1.0\nstock\nslab\n"
        "o Polyhedron[stock](nFace[2])\n{\no Pset[1]()\n{\n";
    const double corner[4][2] = {{-r, -r}, {r, -r}, {r, r}, {-r, r}};
    for (int k = 0; k < 4; ++k)
        stock += "o P[" + std::to_string(k + 1) + "](x[" + std::to_string(corner[k][0]) + "] y[" +
                 std::to_string(corner[k][1]) + "] z[" + std::to_string(z) + "])\n";
    stock += "}\no Face(vx[1/1] vx[1/2] vx[1/3])\no Face(vx[1/1] vx[1/3] vx[1/4])\n}\n";
    writeFile(folder / "stock.kvx", stock);
    const std::string examples = std::string(KV_SOURCE_DIR) + "/examples/pocket/";
    writeFile(folder / "pocket.kvx", readFile(examples + "pocket.kvx"));
    return readFile(folder / kImpJobFile);
}

// Where two outcomes part: the first record that differs, decoded, or the first line of POF text.
inline std::string firstDifference(const Outcome& a, const Outcome& b) {
    std::ostringstream why;
    if (a.started != b.started || a.status != b.status)
        why << "started/status " << a.started << "/" << a.status << " against " << b.started << "/"
            << b.status << "\n";
    const size_t na = a.records.size() / kRecordEntry, nb = b.records.size() / kRecordEntry;
    for (size_t i = 0; i < std::min(na, nb); ++i) {
        const std::string ra = a.records.substr(i * kRecordEntry, kRecordEntry);
        const std::string rb = b.records.substr(i * kRecordEntry, kRecordEntry);
        if (ra == rb) continue;
        auto decode = [](const std::string& r) {
            const int channel = static_cast<unsigned char>(r[1]) | static_cast<unsigned char>(r[2]) << 8;
            return "pair " + std::to_string(r[0]) + " " +
                   ncDecodeRecord(channel, reinterpret_cast<const unsigned char*>(r.data() + 3));
        };
        why << "record " << i << " of " << na << "/" << nb << ":\n  " << decode(ra) << "\n  " << decode(rb)
            << "\n";
        break;
    }
    if (na != nb) why << "record counts " << na << " against " << nb << "\n";
    std::istringstream pa(a.pof), pb(b.pof);
    for (int line = 1;; ++line) {
        std::string la = "(end)", lb = "(end)";
        const bool more = static_cast<bool>(std::getline(pa, la)) | static_cast<bool>(std::getline(pb, lb));
        if (!more) break;
        if (la == lb) continue;
        why << "POF line " << line << ":\n  " << la << "\n  " << lb << "\n";
        break;
    }
    return why.str();
}

struct Runs {
    std::vector<JobFile> jobs;
    std::vector<Outcome> inTurn, alone;  // by job
};

// The jobs that makeJobs (impeller job text) gives, written with the inputs into two folders: run in
// turn in this process in one, then each alone in a fresh process in the other, in the same order, so
// that the files a job leaves behind are the same on both sides.
template <class MakeJobs>
Runs runInTurnAndAlone(const std::filesystem::path& root, const ImpellerOptions& opt, MakeJobs makeJobs) {
    Runs r;
    for (const char* side : {"seq", "fresh"}) {
        r.jobs = makeJobs(writeInputs(root / side, opt, 10.0));
        for (const JobFile& f : r.jobs) writeFile(root / side / f.file, f.text);
    }
    for (const JobFile& f : r.jobs) r.inTurn.push_back(runHere(root / "seq", f.job));
    for (const JobFile& f : r.jobs) r.alone.push_back(runFresh(root / "fresh", f.job));
    return r;
}

// The job's records, POF text and status in turn equal those alone, byte for byte.
inline ::testing::AssertionResult sameAsAlone(const Outcome& inTurn, const Outcome& alone) {
    if (inTurn.records == alone.records && inTurn.pof == alone.pof && inTurn.status == alone.status)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << firstDifference(inTurn, alone);
}

}  // namespace runstate
