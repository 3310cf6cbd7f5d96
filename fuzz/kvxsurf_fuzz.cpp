// Surface objects of exchange files, read from a buffer; what was read must be
// written again and read back as as many surfaces.
#include <cstdio>

#include "fuzzhelp.h"
#include "geometry/frames.h"
#include "kernel/base/runreset.h"
#include "surfaces/kvxsurf.h"
#include "surfaces/surflist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runResetAll();
    SurfList* list = newSurfList(3);
    fuzzCheck(list != nullptr, "no list");
    readSurfObjectsBuffer(data, size, list);
    fuzzCheck(list->count >= 0 && list->count <= list->capacity, "a count beyond the capacity");

    std::string copy = fuzzPrivateFolder() + "/copy.kvx";
    FILE* f = fopen(copy.c_str(), "w");
    if (!f) fuzzFail("cannot write the copy");
    int written = 0;
    for (int32_t i = 0; i < list->count; ++i)
        if (kvxWriteTrimSurface(f, &list->entries[i], i + 1) == 0) ++written;
    fclose(f);
    SurfList* again = newSurfList(3);
    fuzzCheck(again != nullptr, "no list");
    f = fopen(copy.c_str(), "r");
    if (!f) fuzzFail("cannot read the copy");
    readSurfObjectsStream(f, again);
    fclose(f);
    fuzzCheck(again->count == written, "written surfaces do not read back");
    freeSurfList(again);
    freeSurfList(list);
    return 0;
}
