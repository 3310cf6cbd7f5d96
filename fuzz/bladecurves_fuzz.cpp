// Blade selections read against the example channel: the hub- and tip-side
// mean lines of the blade and the tip edges of its sides. The channel is read
// once; the first byte chooses the tolerance, the rest is the exchange file.
#include "fuzzhelp.h"
#include "geometry/frames.h"
#include "geometry/profile.h"
#include "plunge/bladecurves.h"
#include "plunge/cycparams.h"
#include "plunge/hubshroud.h"
#include "plunge/plist3d.h"
#include "surfaces/kvxsurf.h"

namespace {

void resetAll() {
    kvxSurfResetState();
    framePairResetState();
    cycleParamsResetState();
    hubShroudResetState();
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
