// Contour objects of exchange files read into profiles. The first byte chooses
// the chord tolerance of the arcs (0.01 to 2.56).
#include "fuzzhelp.h"
#include "geometry/profile.h"
#include "surfaces/kvxcontour.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvxContourResetState();
    FuzzBytes in{data, size};
    double tolerance = (1 + in.u8()) / 100.0;
    std::string file = fuzzWriteFile("contour.kvx", in.data, in.size);
    ProfileCurve* list = readKvxContour(file.c_str(), tolerance);
    for (const ProfileCurve* p = list; p; p = p->next)
        // A contour without elements gives an empty profile.
        fuzzCheck(p->count >= 0 && (p->count == 0 || p->points), "points counted but none held");
    profileFreeList(list);
    kvxContourResetState();
    return 0;
}
