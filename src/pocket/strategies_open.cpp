// The openPocket strategy: a stock boundary around a partly open plane and its
// walls as separate runs, then the stock-side strategy in open-pocket mode.
#include <algorithm>
#include <vector>

#include "kernel/ccp.h"
#include "pocket/contouroffset.h"
#include "pocket/contourorient.h"
#include "pocket/islands.h"
#include "pocket/pocketrun.h"
#include "pocket/pocketstate.h"
#include "pocket/strategies.h"

namespace {

int32_t gOpenPocketMode = 0;

bool loadList(const char* list, int32_t index, std::vector<ContourElement>& out, ContourHeader* header) {
    if (clistGetHeader(list, header, index) < 0) return false;
    out.assign(std::max<uint32_t>(header->elementCount, 1), ContourElement{});
    if (clistGet(list, out.data(), header, index) < 0) return false;
    out.resize(header->elementCount);
    header->elements = nullptr;
    return true;
}

}  // namespace

int32_t openRunCopy(const ContourElement* elements, int32_t n, int32_t first, int32_t last,
                    ContourElement* out) {
    if (!elements || !out || n < 1 || first < 0 || last < 0 || first >= n || last >= n) return 0;
    int32_t count = 0;
    for (int32_t i = first;; i = (i + 1) % n) {
        out[count++] = elements[i];
        if (i == last || count >= n) break;
    }
    return count;
}

void openRunMark(ContourElement* elements, int32_t n, int32_t first, int32_t last) {
    if (!elements || n < 1 || first < 0 || last < 0 || first >= n || last >= n) return;
    for (int32_t i = first, k = 0; k < n; i = (i + 1) % n, ++k) {
        elements[i].sourceTag = -2;
        if (i == last) break;
    }
}

int clistAppendAll(const char* destination, const char* source) {
    std::vector<ContourElement> c;
    for (int32_t i = 0; i < clistCount(source); ++i) {
        ContourHeader h{};
        if (!loadList(source, i, c, &h) || clistInsert(destination, c.data(), &h, -1) != 1) return -1;
    }
    return 0;
}

// The new MAIN is built aside, not in TEMP: a run of the G-code rest keeps its
// level contours in TEMP across the planes this strategy machines.
int openPocketPrepare(double d) {
    std::vector<ContourElement> c;
    ContourHeader first{};
    if (!loadList("MAIN", 0, c, &first)) return -1;
    std::vector<ContourElement> out(kClistMaxElements);
    std::vector<int32_t> start(kOffsetMaxRings), count(kOffsetMaxRings);
    int32_t end = 0;
    const int32_t rings = offsetContour(c.data(), static_cast<int32_t>(c.size()), first.leftSide ? -1 : 1, d,
                                        out.data(), &end, start.data(), count.data());
    if (rings < 0) return -1;
    struct Entry {
        ContourHeader header;
        std::vector<ContourElement> elements;
    };
    std::vector<Entry> made;
    int16_t tag = 0;
    auto add = [&](const ContourElement* e, int32_t n, ContourHeader h, bool renumber) {
        h.elementCount = static_cast<uint32_t>(n);
        h.elements = nullptr;
        if (renumber) {
            h.tag = tag++;
            h.ccw = contourOrientation(e, n) > 0 ? 1 : 0;
        }
        made.push_back({h, std::vector<ContourElement>(e, e + n)});
    };
    for (int32_t r = 0; r < rings; ++r) add(out.data() + start[r], count[r], first, true);
    const int32_t mains = clistCount("MAIN");
    for (int32_t i = 0; i < mains; ++i) {
        ContourHeader h{};
        if (!loadList("MAIN", i, c, &h)) continue;
        const int32_t n = static_cast<int32_t>(c.size());
        if (std::none_of(c.begin(), c.end(), [](const ContourElement& e) { return e.sourceTag < 0; })) {
            add(c.data(), n, h, false);
            continue;
        }
        int32_t a = 0, b = 0;
        while (openRunFind(c.data(), n, &a, &b) == 1) {
            add(out.data(), openRunCopy(c.data(), n, a, b, out.data()), h, true);
            openRunMark(c.data(), n, a, b);
        }
    }
    clistClear("MAIN");
    int result = 0;
    for (const Entry& e : made)
        if (clistInsert("MAIN", e.elements.data(), &e.header, -1) != 1) result = -1;
    const int32_t now = clistCount("MAIN");
    for (int32_t i = 1; i < now; ++i) pocketAllowanceSet(i, pocketAllowanceGet(0));
    return result;
}

void openPocketSetMode(int32_t on) {
    gOpenPocketMode = on;
}

int32_t openPocketMode() {
    return gOpenPocketMode;
}

int openPocket() {
    PocketKernel& k = pocketKernel();
    const int32_t keptOpen = k.openPocket, keptStock = k.stockOutin, keptDirect = k.outsideInDirect;
    gOpenPocketMode = 1;
    k.startGiven = kvCCPParams.startExplicit = 0;
    if (mainHasOpenSide()) {
        // The stock boundary r + overlap outside the plane, offset back by r, runs
        // along the walls, and the wall runs' rings do not cut it away there: the
        // tool centre would follow the walls. The stock-side strategy on the plane
        // as it is enters from the open sides just the same and keeps off the walls.
        gOpenPocketMode = 0;
        offsetSetCloseSnap(0);
        return stockOutin();
    }
    gOpenPocketMode = 0;
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
