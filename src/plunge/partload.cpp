// Loading of the part's hub, shroud and blade curves for a run.
#include "plunge/partload.h"

#include "geometry/profile.h"
#include "kernel/base/msg.h"
#include "plunge/bladecurves.h"

HubShroud* loadHubShroud(double tol) {
    const CycleParams* p = cycleParams();
    // A run without a hub or shroud (an empty or unreadable job) must still say why it ends.
    if (p->hubKvx[0] == '\0') {
        msgLong(9, kMsgNoHub, "* No hub selected", 0);
        return nullptr;
    }
    if (p->shroudKvx[0] == '\0') {
        msgLong(9, kMsgNoShroud, "* No shroud selected", 0);
        return nullptr;
    }
    ProfileCurve* hub = idx5CreateHubShroudCurve(p->hubKvx, tol);
    if (hub == nullptr) {
        msgLong(9, kMsgNoHub, "* No hub selected", 0);
        return nullptr;
    }
    ProfileCurve* shroud = idx5CreateHubShroudCurve(p->shroudKvx, tol);
    if (shroud == nullptr) {
        profileFreeList(hub);
        msgLong(9, kMsgNoShroud, "* No shroud selected", 0);
        return nullptr;
    }
    HubShroud* pair = makeHubShroudPair(hub, shroud);
    profileFreeList(hub);
    profileFreeList(shroud);
    return pair;
}

namespace {

ContourPair* pairFromProfileFile(const char* name) {
    ProfileCurve* curves = profileReadFile(name, nullptr, nullptr, 1.0, 0, 0);
    ContourPair* pair = nullptr;
    // The file's second curve runs along the hub side: it is the pair's reference.
    if (curves != nullptr && curves->next != nullptr) pair = buildBladeContourPair(curves->next, curves);
    profileFreeList(curves);
    return pair;
}

}  // namespace

ContourPair* loadBladeContours(const Profile2D* hub, double tol) {
    const CycleParams* p = cycleParams();
    ContourPair* pair = nullptr;
    if (p->bladePrf[0] != '\0') {
        pair = pairFromProfileFile(p->bladePrf);
    } else {
        ProfileCurve* hubSide = nullptr;
        ProfileCurve* tipSide = nullptr;
        if (idx5CreateBladeCurves(p->bladeKvx, hub, tol, &hubSide, &tipSide) != 1) {
            profileFreeList(hubSide);
            profileFreeList(tipSide);
            msgLong(9, kMsgNoBladeContour, "* No blade contour selected", 0);
            return nullptr;
        }
        pair = buildBladeContourPair(hubSide, tipSide);
        profileFreeList(hubSide);
        profileFreeList(tipSide);
    }
    if (pair != nullptr) trimContourPairFolds(pair);
    return pair;
}

Plist3DNode* idx5BladeContourList(const Profile2D* hub, double tol, int32_t which) {
    const CycleParams* p = cycleParams();
    Plist3DNode* chain = newPlist3DNode(1000);
    if (chain == nullptr) return nullptr;
    Plist3D* second = newPlist3D(1000);
    if (second == nullptr || appendPlist3DNode(chain, second) != 1) {
        freePlist3D(second);
        freePlist3DChain(chain);
        return nullptr;
    }
    freePlist3D(second);
    if (idx5BladeEdgeContours(which == 1 ? p->splitKvx : p->bladeKvx, hub, tol, chain) != 1) {
        freePlist3DChain(chain);
        msgLong(9, kMsgNoBladeContour, "* No blade contour selected", 0);
        return nullptr;
    }
    return chain;
}

int tmpFilePath(const char* name, char* out) {
    if (out == nullptr) return -1;
    if (tmpDirPath(name, out, kCycleTextMax + 1) == 1) return 1;
    // A cut name would be another file: refuse it.
    msgText(9, kMsgTmpNameTooLong, "* temporary file name too long: %s", name != nullptr ? name : "");
    return -1;
}

int checkModelPathInTmp(char* out) {
    return tmpFilePath("check.3df", out);
}

void collPartNames(CollSetup* out) {
    if (out == nullptr) return;
    const CycleParams* p = cycleParams();
    *out = CollSetup{};
    out->contourFile = p->toolContour[0] ? p->toolContour : nullptr;
    out->checkHead = p->checkHead;
    // Every part of the assembly is tested against the written check model.
    const char* model = p->pofcheckModel[0] ? p->pofcheckModel : nullptr;
    out->headFile = out->holderFile = out->extensionFile = out->cuttingFile = model;
    out->headClearance = p->headClearance;
    out->holderClearance = p->holderClearance;
    out->extensionClearance = p->extensionClearance;
    out->cuttingClearance = p->shankClearance;
}
