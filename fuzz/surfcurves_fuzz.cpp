// Surface files read for the collision wires and the hub/shroud meridian: the
// trim loops on their surfaces refined to a tolerance, the iso lines of a single
// surface (written to and read back from an iso-line file), and the meridian
// curve from one surface's iso strips or from the trim edges of several. The
// first byte chooses the tolerance; the rest is the exchange file.
//
// The iso lines of a single surface come about 20 apart, a bisection each: their time grows with the
// surface's extent, up to the limit of 100000 lines that the generator refuses beyond. Like the 2D
// offset's harness, this one keeps to the range where a run is a matter of milliseconds: the lines of a
// single surface are only asked for when its control points span at most 40000 (2000 lines), its
// offset is as small and its weights lie within a factor of 1000 of each other around 1.
//
// The meridian of a single surface samples both of its iso strips at the tolerance, three surface points
// per sample, up to a million samples a strip (a surface 444444 long at 0.5 took 11 s here): it is only
// asked for when the strips' lengths, measured as the sampler measures them, come to at most 20000
// tolerances together.
#include <algorithm>
#include <cmath>

#include "collision/meshset.h"
#include "collision/surfcurves.h"
#include "fuzzhelp.h"
#include "geometry/frames.h"
#include "geometry/profile.h"
#include "kernel/base/runreset.h"
#include "plunge/cycparams.h"
#include "plunge/hubshroud.h"
#include "plunge/isostrip.h"
#include "surfaces/KVWISO/surfiso.h"
#include "surfaces/kvxsurf.h"

namespace {

struct Bounds {
    bool isoLines = true;
    bool meridian = true;
};

Bounds workBounded(const uint8_t* data, size_t size, double tol) {
    SurfList* list = newSurfList(3);
    fuzzCheck(list != nullptr, "no list");
    readSurfObjectsBuffer(data, size, list);
    Bounds b;
    if (list->count < 2) {
        for (int32_t k = 0; k < list->count && b.isoLines; k++) {
            const TrimSurface& t = list->entries[k];
            const BsplSurface& s = t.surface;
            double lo = 0.0, hi = 0.0;
            for (int32_t i = 0; i < s.uNum * s.vNum; i++) {
                const Vec3& p = s.rows[0][i];
                lo = std::min({lo, p.x, p.y, p.z});
                hi = std::max({hi, p.x, p.y, p.z});
                const bool weightOk = !s.weights || (s.weights[0][i] >= 1e-3 && s.weights[0][i] <= 1e3);
                if (!weightOk) b.isoLines = false;
            }
            if (!(hi - lo <= 40000.0) || !(std::fabs(t.offset) <= 40000.0)) b.isoLines = false;
        }
    }
    if (list->count == 1) {
        const TrimSurface* t = &list->entries[0];
        b.meridian = (isoLineLength(t, 0) + isoLineLength(t, 1)) / tol <= 20000.0;
    }
    freeSurfList(list);
    return b;
}

void resetAll() {
    runResetAll();
    isoResetState();
    cycleParamsResetState();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    resetAll();
    FuzzBytes in{data, size};
    const double tol = 0.05 * (1 + in.u8() % 64);
    std::string file = fuzzWriteFile("surfaces.kvx", in.data, in.size);
    meshSetSetFolders(fuzzPrivateFolder().c_str(), "");

    const Bounds bounds = workBounded(in.data, in.size, tol);
    PlistArray* curves = bounds.isoLines ? meshFromSurfaceFile(file.c_str(), tol) : nullptr;
    if (curves) {
        fuzzCheck(curves->count >= 0 && curves->count <= curves->capacity, "more curves than room");
        for (int32_t k = 0; k < curves->count; k++) {
            const Plist* c = curves->lists[k];
            fuzzCheck(c && c->count >= 0 && c->count <= c->capacity, "a curve beyond its capacity");
            for (int32_t i = 1; i < c->count; i++)
                fuzzCheck(!(c->parameters[i] < c->parameters[i - 1]), "a curve's length runs backwards");
        }
        plistArrayFree(curves);
    }

    if (ProfileCurve* meridian = bounds.meridian ? idx5CreateHubShroudCurve(file.c_str(), tol) : nullptr) {
        fuzzCheck(meridian->count > 0 && meridian->points && meridian->lengths, "an empty meridian");
        profileFreeList(meridian);
    }
    resetAll();
    return 0;
}
