// Surface files read for the collision wires and the hub/shroud meridian: the
// trim loops on their surfaces refined to a tolerance, the iso lines of a single
// surface (written to and read back from an iso-line file), and the meridian
// curve from one surface's iso strips or from the trim edges of several. The
// first byte chooses the tolerance; the rest is the exchange file.
#include <cmath>

#include "collision/meshset.h"
#include "collision/surfcurves.h"
#include "fuzzhelp.h"
#include "geometry/frames.h"
#include "geometry/profile.h"
#include "plunge/cycparams.h"
#include "plunge/hubshroud.h"
#include "surfaces/KVWISO/surfiso.h"
#include "surfaces/kvxsurf.h"

namespace {

void resetAll() {
    kvxSurfResetState();
    framePairResetState();
    isoResetState();
    meshSetResetState();
    cycleParamsResetState();
    hubShroudResetState();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    resetAll();
    FuzzBytes in{data, size};
    const double tol = 0.05 * (1 + in.u8() % 64);
    std::string file = fuzzWriteFile("surfaces.kvx", in.data, in.size);
    meshSetSetFolders(fuzzPrivateFolder().c_str(), "");

    if (PlistArray* curves = meshFromSurfaceFile(file.c_str(), tol)) {
        fuzzCheck(curves->count >= 0 && curves->count <= curves->capacity, "more curves than room");
        for (int32_t k = 0; k < curves->count; k++) {
            const Plist* c = curves->lists[k];
            fuzzCheck(c && c->count >= 0 && c->count <= c->capacity, "a curve beyond its capacity");
            for (int32_t i = 1; i < c->count; i++)
                fuzzCheck(!(c->parameters[i] < c->parameters[i - 1]), "a curve's length runs backwards");
        }
        plistArrayFree(curves);
    }

    if (ProfileCurve* meridian = idx5CreateHubShroudCurve(file.c_str(), tol)) {
        fuzzCheck(meridian->count > 0 && meridian->points && meridian->lengths, "an empty meridian");
        profileFreeList(meridian);
    }
    resetAll();
    return 0;
}
