// The plunge-roughing cycle's input step of a configuration run (slot 11).
#include "kernel/idx5.h"
#include "kernel/toolcontour.h"
#include "plunge/cycparams.h"

int idx5Prepare(CycleRecord* record) {
    if (!record) return 0;
    // The run's words apply to the defaults, not to what an earlier run of the process applied.
    cycleParamsResetState();
    applyKeyValueList(record->cfgVars);
    // A tool reference shifts the output to the reference point; the tip is no longer the reference.
    if (readToolReference(record) == 1) cycleParamsApplied()->toolTip = 1;
    return 1;
}
