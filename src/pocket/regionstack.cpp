#include "pocket/regionstack.h"

#include <cstdlib>

#include "kernel/base/runreset.h"
#include "pocket/regiontree.h"

namespace {

WalkEntry* gEntries = nullptr;
int32_t gCapacity = 0;
int32_t gTop = -1;

}  // namespace

int regionStackPush(const WalkEntry* entry) {
    if (!entry) return -1;
    if (gTop + 1 >= gCapacity) {
        const int32_t grown = gCapacity > 0 ? gCapacity * 2 : 1000;
        WalkEntry* e = static_cast<WalkEntry*>(realloc(gEntries, sizeof(WalkEntry) * grown));
        if (!e) return -1;
        gEntries = e;
        gCapacity = grown;
    }
    gEntries[++gTop] = *entry;
    regionSetDone(entry->node, kRegionStacked);
    return 1;
}

int regionStackPop(WalkEntry* entry) {
    if (gTop < 0) return 0;
    if (entry) *entry = gEntries[gTop];
    --gTop;
    return 1;
}

int regionStackPeek(WalkEntry* entry) {
    if (gTop < 0) return 0;
    if (entry) *entry = gEntries[gTop];
    return 1;
}

int32_t regionStackDepth() {
    return gTop + 1;
}

void regionStackClear() {
    gTop = -1;
}

void regionStackResetState() {
    free(gEntries);
    gEntries = nullptr;
    gCapacity = 0;
    gTop = -1;
}
static const RunReset gRunReset(kRunResetCycles, "regionStack", regionStackResetState);
