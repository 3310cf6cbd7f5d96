// Iso-line files read back into curves. The first byte chooses reversing and
// the order of the curves.
#include "fuzzhelp.h"
#include "surfaces/KVWISO/surfiso.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    isoResetState();
    FuzzBytes in{data, size};
    uint8_t flags = in.u8();
    std::string file = fuzzWriteFile("input.iso", in.data, in.size);
    int blocks = isoFileCountBnd(file.c_str());
    fuzzCheck(blocks >= 0, "a readable file was refused");
    IsoCurve* list = readIsoCurveGroups(file.c_str(), flags & 1, (flags >> 1) & 1);
    int curves = 0;
    for (const IsoCurve* c = list; c; c = c->next) {
        ++curves;
        fuzzCheck(c->count >= 0 && c->count <= c->capacity, "a count beyond the capacity");
        fuzzCheck(c->count == 0 || (c->points && c->normals && c->uv), "points counted but none held");
    }
    fuzzCheck(curves <= blocks, "more curves than blocks");
    freeIsoCurves(list);
    return 0;
}
