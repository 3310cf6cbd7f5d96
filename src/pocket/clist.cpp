#include "pocket/clist.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "kernel/base/runreset.h"
#include "pocket/pocketerr.h"

namespace {

struct ContourList {
    int32_t count;
    ContourHeader* slots;  // grown on demand up to kClistMaxContours, slots past count zero
    int32_t capacity;
    uint64_t generation;  // changed by every change of the list, never given twice
};

uint64_t gGenerations = 0;

void changed(ContourList* list) {
    list->generation = ++gGenerations;
}

constexpr int32_t kFirstSlots = 64;

// Room for one more contour: false when the list is full or the memory cannot be had.
bool roomForOne(ContourList* list) {
    if (list->count < list->capacity) return true;
    if (list->capacity >= kClistMaxContours) return false;
    const int32_t more = std::min<int32_t>(kClistMaxContours, 2 * list->capacity);
    auto* grown = static_cast<ContourHeader*>(realloc(list->slots, more * sizeof(ContourHeader)));
    if (!grown) return false;
    memset(&grown[list->capacity], 0, (more - list->capacity) * sizeof(ContourHeader));
    list->slots = grown;
    list->capacity = more;
    return true;
}

const char* const kNames[kClistCount] = {"MAIN",     "GKT",      "SPAN",   "INSEL",  "REST",
                                         "INPUT",    "ORIG",     "TEMP",   "CLAMPS", "CUT_GKT",
                                         "CUT_SPAN", "CUT_BACK", "POCKET", "SEC"};

ContourList gLists[kClistCount];
ContourElement gScratch[kClistScratchBuffers][kClistMaxElements];

ContourList* listOf(const char* name) {
    int i = clistIndex(name);
    return i < 0 ? nullptr : &gLists[i];
}

// A negative index names the last contour; -1 when there is none or the index lies beyond.
int32_t resolve(const ContourList* list, int32_t index) {
    if (index < 0) index = list->count - 1;
    return index < list->count ? index : -1;
}

void releaseAll(ContourList* list) {
    for (int32_t i = 0; i < list->count; ++i) {
        free(list->slots[i].elements);
        list->slots[i].elements = nullptr;
    }
    list->count = 0;
}

// A copy the list owns; a contour without elements owns nothing.
bool copyElements(const ContourElement* elements, uint32_t count, ContourElement** out) {
    *out = nullptr;
    if (count == 0) return true;
    if (count > static_cast<uint32_t>(kClistMaxElements)) {
        // Every reader copies a contour into a buffer of the cap's size.
        pocketError(kPocketErrElementCap);
        return false;
    }
    if (!elements) return false;
    *out = static_cast<ContourElement*>(malloc(count * sizeof(ContourElement)));
    if (!*out) return false;
    memcpy(*out, elements, count * sizeof(ContourElement));
    return true;
}

}  // namespace

int clistIndex(const char* name) {
    if (!name) return -1;
    // Lists are named on every access (the room checks twice a cut): the first letter leaves one or two
    // names to compare in full.
    for (int i = 0; i < kClistCount; ++i) {
        if (name[0] == kNames[i][0] && strcmp(name, kNames[i]) == 0) return i;
    }
    return -1;
}

const char* clistName(int index) {
    return index >= 0 && index < kClistCount ? kNames[index] : nullptr;
}

int clistCreate(const char* name) {
    ContourList* list = listOf(name);
    if (!list) return 0;
    if (!list->slots) {
        list->slots = static_cast<ContourHeader*>(calloc(kFirstSlots, sizeof(ContourHeader)));
        if (!list->slots) return 0;
        list->capacity = kFirstSlots;
    }
    releaseAll(list);
    changed(list);
    return 1;
}

int clistFree(const char* name) {
    ContourList* list = listOf(name);
    if (!list) return 0;
    if (list->slots) releaseAll(list);
    free(list->slots);
    list->slots = nullptr;
    list->count = 0;
    list->capacity = 0;
    changed(list);
    return 1;
}

int clistDelete(const char* name, int32_t index) {
    ContourList* list = listOf(name);
    if (!list) return 0;
    int32_t i = resolve(list, index);
    if (i < 0) return 0;
    free(list->slots[i].elements);
    memmove(&list->slots[i], &list->slots[i + 1], (list->count - i - 1) * sizeof(ContourHeader));
    --list->count;
    memset(&list->slots[list->count], 0, sizeof(ContourHeader));
    changed(list);
    return 1;
}

int32_t clistGet(const char* name, ContourElement* elements, ContourHeader* header, int32_t index) {
    ContourList* list = listOf(name);
    if (!list || !header) return -1;
    int32_t i = resolve(list, index);
    if (i < 0) return -1;
    *header = list->slots[i];
    if (elements && header->elementCount > 0) {
        memcpy(elements, list->slots[i].elements, header->elementCount * sizeof(ContourElement));
    }
    return i;
}

int32_t clistGetHeader(const char* name, ContourHeader* header, int32_t index) {
    ContourList* list = listOf(name);
    if (!list || !header) return -1;
    int32_t i = resolve(list, index);
    if (i < 0) return -1;
    *header = list->slots[i];
    return i;
}

int32_t clistSetHeader(const char* name, const ContourHeader* header, int32_t index) {
    ContourList* list = listOf(name);
    if (!list || !header) return -1;
    int32_t i = resolve(list, index);
    if (i < 0) return -1;
    list->slots[i] = *header;
    changed(list);
    return i;
}

int32_t clistSetTag(const char* name, int16_t tag, int32_t index) {
    ContourList* list = listOf(name);
    if (!list) return -1;
    int32_t i = resolve(list, index);
    if (i < 0) return -1;
    list->slots[i].tag = tag;
    changed(list);
    return i;
}

int32_t clistMaxTag(const char* name) {
    ContourList* list = listOf(name);
    if (!list) return -1;
    int32_t best = 0;
    for (int32_t i = 0; i < list->count; ++i) {
        if (list->slots[i].tag > best) best = list->slots[i].tag;
    }
    return best;
}

uint64_t clistGeneration(const char* name) {
    ContourList* list = listOf(name);
    return list ? list->generation : 0;
}

int32_t clistCount(const char* name) {
    ContourList* list = listOf(name);
    return list ? list->count : 0;
}

int clistInsert(const char* name, const ContourElement* elements, const ContourHeader* header,
                int32_t index) {
    ContourList* list = listOf(name);
    if (!list || !header) return 0;
    if (!list->slots && !clistCreate(name)) return 0;
    if (index < 0) index = list->count;
    if (index > list->count || list->count >= kClistMaxContours || !roomForOne(list)) return 0;
    ContourElement* copy = nullptr;
    if (!copyElements(elements, header->elementCount, &copy)) return 0;
    memmove(&list->slots[index + 1], &list->slots[index], (list->count - index) * sizeof(ContourHeader));
    list->slots[index] = *header;
    list->slots[index].elements = copy;
    ++list->count;
    changed(list);
    return 1;
}

int clistReplace(const char* name, const ContourElement* elements, const ContourHeader* header,
                 int32_t index) {
    ContourList* list = listOf(name);
    if (!list || !header || index < 0 || index >= list->count) return 0;
    ContourElement* copy = nullptr;
    if (!copyElements(elements, header->elementCount, &copy)) return 0;
    free(list->slots[index].elements);
    list->slots[index] = *header;
    list->slots[index].elements = copy;
    changed(list);
    return 1;
}

int clistClear(const char* name) {
    while (clistDelete(name, -1)) {
    }
    return 1;
}

ContourElement* clistScratch(int which) {
    return which >= 0 && which < kClistScratchBuffers ? gScratch[which] : nullptr;
}

void clistResetState() {
    for (int i = 0; i < kClistCount; ++i) clistFree(kNames[i]);
}
static const RunReset gRunReset(kRunResetCycles, "clist", clistResetState);

bool clistLoad(const char* list, int32_t index, std::vector<ContourElement>& out) {
    ContourHeader h{};
    if (clistGetHeader(list, &h, index) < 0) return false;
    out.assign(std::max<uint32_t>(h.elementCount, 1), ContourElement{});
    if (clistGet(list, out.data(), &h, index) < 0) return false;
    out.resize(h.elementCount);
    return true;
}
