#include "pocket/regiontree.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "kernel/base/runreset.h"
#include "pocket/contourorient.h"
#include "pocket/elemdist.h"
#include "pocket/pocketstate.h"

namespace {

constexpr double kNoStart = 100000.0;

RegionNode* gNodes = nullptr;
int32_t gCount = 0;
uint32_t* gPool = nullptr;
int32_t gCursor = 0;
RegionBestStart gBest{kNoStart, -1, 0, {0, 0}, 0};

bool isNode(int32_t n) {
    return gNodes && n >= 0 && n < gCount;
}

// The entries of a link list in order.
std::vector<int32_t> listOf(int32_t head, int32_t count) {
    std::vector<int32_t> out;
    if (count == 1) out.push_back(head);
    for (int32_t i = 0, cell = head; count > 1 && i < count; ++i) {
        out.push_back(static_cast<int32_t>(gPool[cell]));
        cell = static_cast<int32_t>(gPool[cell + 1]);
    }
    return out;
}

int32_t cellTake(int32_t value) {
    if (gCursor > kRegionPoolWords - 2) return -1;
    const int32_t c = gCursor;
    gPool[c] = static_cast<uint32_t>(value);
    gPool[c + 1] = 0;
    gCursor += 2;
    return c;
}

// Appends to a link list; false when the pool is full (the list stays as it was).
bool listAppend(int32_t* head, int32_t* count, int32_t value) {
    if (*count == 0) {
        *head = value;
        *count = 1;
        return true;
    }
    const int32_t need = *count == 1 ? 2 : 1;
    if (gCursor + 2 * need > kRegionPoolWords) return false;
    if (*count == 1) *head = cellTake(*head);
    int32_t last = *head;
    for (int32_t i = 1; i < *count; ++i) last = static_cast<int32_t>(gPool[last + 1]);
    gPool[last + 1] = static_cast<uint32_t>(cellTake(value));
    ++*count;
    return true;
}

int32_t nth(int32_t head, int32_t count, int32_t i) {
    if (i < 1 || i > count) return -1;
    if (count == 1) return head;
    int32_t cell = head;
    for (int32_t k = 1; k < i; ++k) cell = static_cast<int32_t>(gPool[cell + 1]);
    return static_cast<int32_t>(gPool[cell]);
}

int32_t rootOf(int32_t node, int depth) {
    const RegionNode& n = gNodes[node];
    if (n.parentCount == 0) return node;
    int32_t best = -1;
    // A walk longer than the tree means a cycle of links.
    if (depth > gCount) return node;
    for (int32_t p : listOf(n.parentHead, n.parentCount)) {
        if (!isNode(p)) continue;
        const int32_t r = rootOf(p, depth + 1);
        if (r >= 0 && (best < 0 || r < best)) best = r;
        if (best == 0) break;
    }
    return best;
}

}  // namespace

int regionTreeInit(int32_t mode) {
    if (mode != 1) return 1;
    regionTreeFree();
    gNodes = static_cast<RegionNode*>(calloc(kRegionMaxNodes, sizeof(RegionNode)));
    gPool = static_cast<uint32_t*>(calloc(kRegionPoolWords, sizeof(uint32_t)));
    if (!gNodes || !gPool) {
        regionTreeFree();
        return 0;
    }
    gBest = {kNoStart, -1, 0, {0, 0}, 0};
    return 1;
}

int regionTreeFree() {
    free(gNodes);
    free(gPool);
    gNodes = nullptr;
    gPool = nullptr;
    gCount = 0;
    gCursor = 0;
    savedBlocksFree();
    return 1;
}

int32_t regionNodeCount() {
    return gCount;
}

const RegionNode* regionNode(int32_t node) {
    return isNode(node) ? &gNodes[node] : nullptr;
}

const RegionBestStart* regionBestStart() {
    return &gBest;
}

int32_t regionAttachContour(const ContourElement* elements, const ContourHeader* header, int32_t parentHead,
                            int32_t level) {
    if (!gNodes || !header || gCount >= kRegionMaxNodes) return -1;
    const int32_t n = static_cast<int32_t>(header->elementCount);
    if (n > 0 && !elements) return -1;
    SavedBlock* handle = savedBlockPush(elements, sizeof(ContourElement) * n);
    if (!handle) return -1;
    RegionNode& node = gNodes[gCount];
    node = {};
    node.elementCount = header->elementCount;
    node.elements = handle;
    node.level = level;
    node.parentHead = parentHead;
    node.openSide =
        pocketKernel().openMode != 0 ? static_cast<uint8_t>(contourHasNegativeTag(elements, n)) : 0;
    const int o = contourOrientation(elements, n);
    node.kind = (o == 1 && header->leftSide != 0) || (o == -1 && header->leftSide == 0) ? 1 : 2;
    const int32_t index = gCount++;
    const PocketKernel& k = pocketKernel();
    if (k.startGiven && n > 0) {
        const Vec2 start{k.startX, k.startY};
        Vec2 nearest{0.0, 0.0};
        int32_t e = 0;
        const double d = contourNearestToPoint(elements, n, &start, &nearest, &e);
        if (d < gBest.distance) gBest = {d, index, e + 1, nearest, 1};
    }
    return index;
}

int32_t regionAddLink(int32_t a, int32_t b) {
    if (b < 0 || a == b || !isNode(a) || !isNode(b) || regionIsChild(a, b)) return 0;
    RegionNode& na = gNodes[a];
    RegionNode& nb = gNodes[b];
    // Both appends must fit, or neither list changes.
    const int32_t cells = (na.parentCount == 0   ? 0
                           : na.parentCount == 1 ? 2
                                                 : 1) +
                          (nb.childCount == 0   ? 0
                           : nb.childCount == 1 ? 2
                                                : 1);
    if (gCursor + 2 * cells > kRegionPoolWords) return -1;
    listAppend(&na.parentHead, &na.parentCount, b);
    listAppend(&nb.childHead, &nb.childCount, a);
    return na.parentCount;
}

int32_t regionChild(int32_t node, int32_t i) {
    if (!isNode(node)) return -1;
    return nth(gNodes[node].childHead, gNodes[node].childCount, i);
}

int32_t regionParent(int32_t node, int32_t i) {
    if (!isNode(node)) return -1;
    return nth(gNodes[node].parentHead, gNodes[node].parentCount, i);
}

int regionIsChild(int32_t node, int32_t other) {
    if (!isNode(node)) return 0;
    for (int32_t c : listOf(gNodes[node].childHead, gNodes[node].childCount))
        if (c == other) return 1;
    return 0;
}

int regionIsParent(int32_t node, int32_t other) {
    if (!isNode(node)) return 0;
    // Walked in place: the ring links ask this for every element of a new ring.
    const RegionNode& n = gNodes[node];
    if (n.parentCount == 1) return n.parentHead == other;
    for (int32_t i = 0, cell = n.parentHead; n.parentCount > 1 && i < n.parentCount; ++i) {
        if (static_cast<int32_t>(gPool[cell]) == other) return 1;
        cell = static_cast<int32_t>(gPool[cell + 1]);
    }
    return 0;
}

int32_t regionRemoveParent(int32_t node, int32_t parent) {
    if (!isNode(node)) return 0;
    RegionNode& n = gNodes[node];
    if (n.parentCount <= 1) {
        n.parentCount = 0;
        return 0;
    }
    std::vector<int32_t> list = listOf(n.parentHead, n.parentCount);
    std::vector<int32_t> rest = list;
    auto it = std::find(rest.begin(), rest.end(), parent);
    if (it == rest.end()) return n.parentCount;
    rest.erase(it);
    if (n.parentCount == 2) {
        n.parentHead = rest[0];
        n.parentCount = 1;
        return 1;
    }
    int32_t cell = n.parentHead;
    for (int32_t p : rest) {
        gPool[cell] = static_cast<uint32_t>(p);
        cell = static_cast<int32_t>(gPool[cell + 1]);
    }
    n.parentCount -= 1;
    return n.parentCount;
}

void regionSetDone(int32_t node, uint8_t state) {
    if (isNode(node) && gNodes[node].done != kRegionFinished) gNodes[node].done = state;
}

uint8_t regionIsDone(int32_t node) {
    return isNode(node) ? gNodes[node].done : 0;
}

int32_t regionFirstKind1Parent(int32_t node) {
    if (!isNode(node)) return -1;
    for (int32_t p : listOf(gNodes[node].parentHead, gNodes[node].parentCount))
        if (isNode(p) && gNodes[p].kind == 1) return p;
    return -1;
}

int32_t regionRootOf(int32_t node) {
    if (!isNode(node) || gNodes[node].parentCount == 0) return -1;
    return rootOf(node, 0);
}

int32_t regionPickDeepest() {
    const bool open = pocketKernel().openMode != 0;
    int32_t best = -1;
    for (int32_t i = 0; i < gCount; ++i) {
        const RegionNode& n = gNodes[i];
        if (n.done != 0) continue;
        if (best >= 0 && open && gNodes[best].openSide && !n.openSide) continue;
        if (best < 0 ? n.level > -1 : n.level > gNodes[best].level) best = i;
    }
    return best;
}

int32_t regionPickShallowest() {
    int32_t best = -1;
    for (int32_t i = 0; i < gCount; ++i) {
        if (gNodes[i].done != 0) continue;
        if (best < 0 || gNodes[i].level < gNodes[best].level) best = i;
    }
    return best;
}

int regionLoadElements(ContourElement* buffer, int32_t count, SavedBlock* handle) {
    if (!handle || !buffer || count < 0) return 0;
    return savedBlockCopy(handle, buffer, sizeof(ContourElement) * count) == 0 ? 1 : 0;
}

int regionSaveElements(const ContourElement* buffer, int32_t count, SavedBlock* handle) {
    if (!handle || !buffer || count < 0) return 0;
    return copyToHandle(handle, buffer, sizeof(ContourElement) * count);
}

int regionSetElementCount(int32_t node, uint32_t count) {
    if (!isNode(node)) return 0;
    gNodes[node].elementCount = count;
    return 1;
}

double contourNearestToPoint(const ContourElement* elements, int32_t n, const Vec2* point, Vec2* nearest,
                             int32_t* index) {
    if (!elements || !point || n < 1) return 0.0;
    double best = 0;
    for (int32_t i = 0; i < n; ++i) {
        Vec2 p;
        const double d = elemDistance(point, &elements[i], &p);
        if (i == 0 || d < best) {
            best = d;
            if (nearest) *nearest = p;
            if (index) *index = i;
        }
    }
    return best;
}

int contourHasNegativeTag(const ContourElement* elements, int32_t n) {
    for (int32_t i = 0; elements && i < n; ++i)
        if (elements[i].sourceTag < 0) return 1;
    return 0;
}

void regionTreeResetState() {
    regionTreeFree();
    gBest = {kNoStart, -1, 0, {0, 0}, 0};
}
static const RunReset gRunReset(kRunResetCycles, "regionTree", regionTreeResetState);
