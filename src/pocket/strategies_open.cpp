// The openPocket strategy: a partly open plane gets a stock boundary beyond
// its open sides and goes to the stock-side strategy; a closed one goes to the
// contour-parallel pass on reversed contours.
#include <algorithm>
#include <vector>

#include "pocket/ccp.h"
#include "pocket/chainoffset.h"
#include "pocket/contouroffset.h"
#include "pocket/contourorient.h"
#include "pocket/elemaccess.h"
#include "pocket/elemprim.h"
#include "pocket/islands.h"
#include "pocket/pocketrun.h"
#include "pocket/pocketstate.h"
#include "pocket/strategies.h"

int openPocketPrepare(double d) {
    ContourHeader h{};
    if (clistGetHeader("MAIN", &h, 0) < 0 || h.elementCount == 0) return -1;
    std::vector<ContourElement> c(h.elementCount);
    if (clistGet("MAIN", c.data(), &h, 0) < 0) return -1;
    const int32_t n = static_cast<int32_t>(c.size());
    auto open = [&](int32_t i) { return c[(i % n + n) % n].sourceTag < 0; };
    int32_t first = 0;
    while (first < n && open(first)) ++first;
    if (first == n ||
        std::none_of(c.begin(), c.end(), [](const ContourElement& e) { return e.sourceTag < 0; }))
        return 0;
    const int outward = contourOrientation(c.data(), n) >= 0 ? -1 : 1;
    std::vector<ContourElement> out, raw(kClistMaxElements);
    PocketOffsetState& st = pocketOffsetState();
    for (int32_t k = 0; k < n;) {
        const int32_t i = (first + k) % n;
        if (!open(i)) {
            out.push_back(c[i]);
            ++k;
            continue;
        }
        std::vector<ContourElement> run;
        const ContourElement& before = c[(i - 1 + n) % n];
        while (k < n && open(first + k)) run.push_back(c[(first + k++) % n]);
        const ContourElement& after = c[(first + k) % n];
        // Beyond an open run that meets a wall in an inner (reflex) corner lies the
        // part behind that wall: such a run stays where it is.
        int in = kCornerSmooth, out2 = kCornerSmooth;
        elemCornerType(&before, &run.front(), &in);
        elemCornerType(&run.back(), &after, &out2);
        if (in * -outward < 0 || out2 * -outward < 0 || in == kCornerReversal || out2 == kCornerReversal) {
            out.insert(out.end(), run.begin(), run.end());
            continue;
        }
        int32_t count = 0;
        const int32_t keep = st.openChain;
        st.openChain = 1;
        const int r =
            offsetElementChain(d, run.data(), static_cast<int32_t>(run.size()), raw.data(), &count, outward);
        st.openChain = keep;
        if (r == kChainFailed || count < 1 || count + out.size() + 2 > static_cast<size_t>(kClistMaxElements))
            return -1;
        Vec2 a{}, b{}, e{}, f{};
        elemPoint(&run.front(), &a, kElemStart);
        elemPoint(&raw[0], &b, kElemStart);
        elemPoint(&raw[count - 1], &e, kElemEnd);
        elemPoint(&run.back(), &f, kElemEnd);
        // The joins extend the walls: the tool keeps off them as off the walls.
        out.push_back(elemLineOf(a, b, before.sourceTag));
        for (int32_t j = 0; j < count; ++j) {
            raw[j].sourceTag = -1;
            out.push_back(raw[j]);
        }
        out.push_back(elemLineOf(e, f, after.sourceTag));
    }
    h.elementCount = static_cast<uint32_t>(out.size());
    h.elements = nullptr;
    return clistReplace("MAIN", out.data(), &h, 0) == 1 ? 0 : -1;
}

int openPocket() {
    PocketKernel& k = pocketKernel();
    const int32_t keptOpen = k.openPocket, keptStock = k.stockOutin, keptDirect = k.outsideInDirect;
    k.startGiven = kvCCPParams.startExplicit = 0;
    if (mainHasOpenSide()) {
        // The open sides move out by r + overlap, so that the tool, kept r off the
        // walls, runs overlap beyond them; a boundary that cannot be moved stays.
        offsetSetCloseSnap(0);
        openPocketPrepare(k.toolRadius + k.overlap);
        return stockOutin();
    }
    k.openPocket = k.stockOutin = k.outsideInDirect = 0;
    clistReverseAll("MAIN");
    // The pass runs on the reversed contours with the opposite orientation; the
    // orientation comes back afterwards, so that the next plane, read afresh, is not reversed twice.
    const int32_t wanted = k.wantedOrientation;
    k.wantedOrientation = -wanted;
    const int result = pocketContourParallel();
    k.wantedOrientation = wanted;
    k.openPocket = keptOpen;
    k.stockOutin = keptStock;
    k.outsideInDirect = keptDirect;
    return result;
}
