// A job run through the C entry points as the host runs it: in its folder, every record kept as the
// host receives it, a hook after each record for what the host does in between (a cancel).
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "kernel/exports/exports.h"
#include "kernel/cycle/testrecord.h"
#include "../nctrace.h"
#include "plunge/cycparams.h"

namespace hostrun {

struct Run {
    int started = 0, status = -1;
    nctrace::Trace trace;
};

using Hook = std::function<void(KvCycle*, int32_t channel, const nctrace::Trace&)>;

struct Sink {
    nctrace::Trace* trace;
    const Hook* hook;
};

inline int keep(KvCycle* cycle, int32_t channel, const void* record, void* user) {
    auto* sink = static_cast<Sink*>(user);
    sink->trace->add(channel, record);
    if (*sink->hook) (*sink->hook)(cycle, channel, *sink->trace);
    return 1;
}
inline int keepOwn(KvCycle* cycle, int32_t channel, const void* record, void* user) {
    return channel == 0 ? 1 : keep(cycle, channel, record, user);  // channel 0 reaches pair 1 too
}

inline Run runJob(const std::string& folder, const std::string& job, const Hook& hook = {}) {
    Run run;
    Sink sink{&run.trace, &hook};
    resetCoreToBinFolder(exportsResetCore);
    cycleParamsResetState();  // keywords of an earlier job stay applied otherwise
    const std::filesystem::path back = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    std::string arg = "-S" + job;
    char* argv[] = {arg.data(), nullptr};
    HostCallbacks cb = {keep, &sink, keepOwn, &sink, nullptr, nullptr};
    run.started = kvCSexecCycle(kvCSgetCycle(), 1, argv, &cb);
    run.status = kvCSgetSignal(kvCSgetCycle());
    kvCSsetSignal(kvCSgetCycle(), 0);  // the host's cancel request stays until the host clears it
    std::filesystem::current_path(back);
    return run;
}

}  // namespace hostrun
