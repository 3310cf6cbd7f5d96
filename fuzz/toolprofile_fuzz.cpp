// Tool part profiles from contour objects of exchange files: the named contour
// made into a profile closed to the axis and revolved into a mesh. The first
// byte chooses the chord tolerance (0.01 to 2.56).
#include "KVWOG5/lists.h"
#include "collision/tprof.h"
#include "fuzzhelp.h"
#include "geometry/frames.h"
#include "kernel/base/runreset.h"
#include "surfaces/kvxcontour.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runResetAll();
    FuzzBytes in{data, size};
    double tolerance = (1 + in.u8()) / 100.0;
    std::string file = fuzzWriteFile("parts.kvx", in.data, in.size);
    for (const char* name : {"Holder", "Head"}) {
        PartProfile* profile = tprof_from_contour(file.c_str(), name, tolerance, 0.0, 0);
        if (!profile) continue;
        fuzzCheck(profile->count >= 0 && profile->count <= profile->capacity, "a count beyond the capacity");
        ftriListFree(coll_model_from_tprof(profile, tolerance));
        tprof_free(profile);
    }
    kvxContourResetState();
    return 0;
}
