// The plunge-roughing cycle's input step of a configuration run (slot 11).
#include <cstdio>

#include "kernel/cycle/cyc3d.h"
#include "plunge/idx5.h"
#include "kernel/base/msg.h"
#include "kernel/ncout/toolcontour.h"
#include "plunge/cycparams.h"
#include "plunge/plungerun.h"

int idx5Prepare(CycleRecord* record) {
    if (!record) return 0;
    // The kernel reads a job file it cannot open as an empty one: the run would go on with the
    // defaults and end for a reason that is not the real one.
    FILE* job = record->cfgMode == 1 && record->paramFile ? std::fopen(record->paramFile, "rb") : nullptr;
    if (job) std::fclose(job);
    if (record->cfgMode == 1 && record->paramFile && !job) {
        msgClearReason();
        msgText(9, kMsgNoCfgFile, "* Error: Could not find CFG file %s", record->paramFile);
        msgSendDroppedReason();
        cyc3dSetStatus(record, -1);
        return 0;
    }
    // The run's words apply to the defaults, not to what an earlier run of the process applied.
    cycleParamsResetState();
    applyKeyValueList(record->cfgVars);
    // A tool reference shifts the output to the reference point; the tip is no longer the reference.
    if (readToolReference(record) == 1) cycleParamsApplied()->toolTip = 1;
    return 1;
}
