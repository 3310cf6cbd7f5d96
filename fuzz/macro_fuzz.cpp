// Macro files: LINE, ARC and ROT statements in a frame laid through two points.
// The first byte chooses an approach or a leave macro.
#include "avoidance/macro.h"
#include "fuzzhelp.h"
#include "kernel/base/msg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    macroResetState();
    FuzzBytes in{data, size};
    int32_t kind = in.u8() & 1 ? kMacroLeave : kMacroApproach;
    std::string file = fuzzWriteFile("input.mac", in.data, in.size);
    const Vec3 p0{10.0, 5.0, 2.0}, p1{0.0, 5.0, 2.0};
    MacroParams params{};
    params.arcStepAngle = 0.1;
    params.approachDistance = params.leaveDistance = 5.0;
    MacroPath* path = macroFileRead(kind, &p0, &p1, &params, file.c_str());
    if (path) {
        fuzzCheck(path->count >= 1 && path->count <= path->capacity, "a count beyond the capacity");
        int32_t lines = 0;
        for (const MacroLine* l = path->lines; l; l = l->next) {
            fuzzCheck(l->text && l->pointCount >= 0 && l->pointCount <= path->count,
                      "a line beyond the path");
            ++lines;
        }
    }
    macroPathFree(path);
    macroResetState();
    return 0;
}
