#include "pocket/savedblock.h"

#include <cstdlib>
#include <cstring>

namespace {

SavedBlock* gBlocks = nullptr;

}  // namespace

SavedBlock* savedBlockPush(const void* block, size_t size) {
    SavedBlock* e = static_cast<SavedBlock*>(calloc(1, sizeof(SavedBlock)));
    if (!e) return nullptr;
    e->data = malloc(size > 0 ? size : 1);
    if (!e->data) {
        free(e);
        return nullptr;
    }
    if (block && size > 0) memcpy(e->data, block, size);
    e->size = size;
    e->next = gBlocks;
    gBlocks = e;
    return e;
}

void savedBlocksFree() {
    while (gBlocks) {
        SavedBlock* next = gBlocks->next;
        free(gBlocks->data);
        free(gBlocks);
        gBlocks = next;
    }
}

int savedBlockCopy(const SavedBlock* entry, void* out, size_t size) {
    if (!entry) return -1;
    // Never read past what the entry holds.
    if (out && size > 0) memcpy(out, entry->data, size < entry->size ? size : entry->size);
    return 0;
}

int copyToHandle(SavedBlock* entry, const void* block, size_t size) {
    if (!entry || (!block && size > 0)) return 0;
    if (size > entry->size) {
        void* grown = realloc(entry->data, size);
        if (!grown) return 0;
        entry->data = grown;
    }
    if (size > 0) memcpy(entry->data, block, size);
    entry->size = size;
    return 1;
}
