// A run's parameter reading: the parameter file (or, by the first byte, the
// configuration file) read into the record's variables and word pairs, and the
// frames and derived variables taken from their values.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "fuzzhelp.h"
#include "kernel/cycle/cycle.h"
#include "kernel/cycle/cycstart.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes in{data, size};
    bool configuration = in.u8() & 1;
    std::string file = fuzzWriteFile(configuration ? "run.CFG" : "run.pcf", in.data, in.size);
    CycleRecord record{};
    record.paramFile = strdup(file.c_str());
    if (!record.paramFile) fuzzFail("no memory");
    fuzzCheck((configuration ? rootReadCfg(&record) : rootReadParameters(&record)) == 1,
              "the reading failed");
    for (double cell : record.frame) fuzzCheck(std::isfinite(cell), "a frame cell is not finite");
    for (double cell : record.toolFrame) fuzzCheck(std::isfinite(cell), "a tool frame cell is not finite");
    kvListFree(record.vars);
    kvListFree(record.cfgVars);
    free(record.paramFile);
    return 0;
}
