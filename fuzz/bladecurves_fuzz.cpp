// Blade selections read against the example channel: the hub- and tip-side
// mean lines of the blade and the tip edges of its sides. The channel is read
// once; the first byte chooses the tolerance, the rest is the exchange file.
//
// A side is sampled along its iso lines at the tolerance, up to a million samples: the time grows with
// the surface's size over the tolerance. Like the 2D offset's harness, this one keeps to the range where
// a run takes milliseconds: the readers are always run, the blade curves only when every control
// polygon (rows and columns) is at most 20000 tolerances long, the weights lie within a factor of 1000
// around 1 and the offset is at most 1000. Selections of three or more surfaces are left out too: the
// sides are then chosen by area, estimated per surface at a fixed 0.01 (seconds per surface here).
#include <algorithm>
#include <cmath>

#include "fuzzhelp.h"
#include "geometry/frames.h"
#include "geometry/profile.h"
#include "kernel/base/runreset.h"
#include "plunge/bladecurves.h"
#include "plunge/cycparams.h"
#include "plunge/hubshroud.h"
#include "plunge/plist3d.h"
#include "surfaces/kvxsurf.h"
#include "surfaces/surflist.h"

namespace {

void resetAll() {
    runResetAll();
    cycleParamsResetState();
}

const HubShroud* channel() {
    static HubShroud* pair = [] {
        resetAll();
        ProfileCurve* hub = idx5CreateHubShroudCurve(KV_SOURCE_DIR "/examples/plunge/hub.kvx", 0.5);
        ProfileCurve* shroud = idx5CreateHubShroudCurve(KV_SOURCE_DIR "/examples/plunge/shroud.kvx", 0.5);
        HubShroud* made = hub && shroud ? makeHubShroudPair(hub, shroud) : nullptr;
        profileFreeList(hub);
        profileFreeList(shroud);
        return made;
    }();
    fuzzCheck(pair != nullptr, "the example channel cannot be read");
    return pair;
}

double polygonLength(const BsplSurface& s, bool alongU) {
    double longest = 0.0;
    const int32_t lines = alongU ? s.vNum : s.uNum, points = alongU ? s.uNum : s.vNum;
    for (int32_t l = 0; l < lines; l++) {
        double length = 0.0;
        for (int32_t k = 1; k < points; k++) {
            const Vec3& a = alongU ? s.rows[k - 1][l] : s.rows[l][k - 1];
            const Vec3& b = alongU ? s.rows[k][l] : s.rows[l][k];
            length += std::hypot(b.x - a.x, b.y - a.y, b.z - a.z);
        }
        longest = std::max(longest, length);
    }
    return longest;
}

bool samplesBounded(const uint8_t* data, size_t size, double tol) {
    SurfList* list = newSurfList(3);
    fuzzCheck(list != nullptr, "no list");
    readSurfObjectsBuffer(data, size, list);
    bool bounded = list->count <= 2;
    for (int32_t k = 0; k < list->count && bounded; k++) {
        const TrimSurface& t = list->entries[k];
        const BsplSurface& s = t.surface;
        for (int32_t i = 0; s.weights && i < s.uNum * s.vNum; i++)
            if (!(s.weights[0][i] >= 1e-3 && s.weights[0][i] <= 1e3)) bounded = false;
        const double longest = std::max(polygonLength(s, true), polygonLength(s, false));
        if (!(longest <= 20000 * tol) || !(std::fabs(t.offset) <= 1000)) bounded = false;
    }
    freeSurfList(list);
    return bounded;
}

void checkCurve(const ProfileCurve* c) {
    fuzzCheck(c != nullptr && c->count > 0 && c->points && c->lengths, "a mean line without points");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Profile2D* hub = channel()->hub;
    resetAll();
    FuzzBytes in{data, size};
    const double tol = 0.1 * (1 + in.u8() % 16);
    std::string file = fuzzWriteFile("blade.kvx", in.data, in.size);

    if (!samplesBounded(in.data, in.size, tol)) {
        resetAll();
        return 0;
    }
    ProfileCurve* mean[2] = {nullptr, nullptr};
    if (idx5CreateBladeCurves(file.c_str(), hub, tol, &mean[0], &mean[1]) == 1) {
        checkCurve(mean[0]);
        checkCurve(mean[1]);
    }
    profileFreeList(mean[0]);
    profileFreeList(mean[1]);

    Plist3DNode* chain = newPlist3DNode(10);
    fuzzCheck(chain != nullptr, "no chain");
    chain->next = newPlist3DNode(10);
    fuzzCheck(chain->next != nullptr, "no chain");
    if (idx5BladeEdgeContours(file.c_str(), hub, tol, chain) == 1)
        for (const Plist3DNode* n = chain; n; n = n->next)
            fuzzCheck(n->list && n->list->count >= 0 && n->list->count <= n->list->capacity,
                      "an edge beyond its capacity");
    freePlist3DChain(chain);
    resetAll();
    return 0;
}
