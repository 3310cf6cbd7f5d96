// Configuration files of the plunge cycle ("*KEYWORD value" lines) applied to
// the parameter record, then the record scaled and its folder texts used.
#include <cstring>

#include "fuzzhelp.h"
#include "plunge/cycparams.h"

namespace {

bool terminated(const char* text, size_t size) {
    return memchr(text, '\0', size) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cycleParamsResetState();
    std::string file = fuzzWriteFile("input.cfg", data, size);
    fuzzCheck(readCycleCfgFile(file.c_str()) == 1, "a readable file was refused");
    const CycleParams* applied = cycleParamsApplied();
    for (const char* text :
         {applied->approx, applied->boundary, applied->surface, applied->apt, applied->report})
        fuzzCheck(terminated(text, kCycleTextMax + 1), "a text field overran its size");
    scaleLengthParams(kCycleInchFactor);
    char path[64];
    tmpDirPath("tmp.prf", path, sizeof path);
    fuzzCheck(terminated(path, sizeof path), "a folder path overran its buffer");
    dllDirParam();
    cycleParamsResetState();
    return 0;
}
