// Parameter files (key ":=" value) read into a list that already holds pairs;
// whatever was read must survive being written and read back.
#include <cstring>

#include "fuzzhelp.h"
#include "kernel/base/kvx/kvlist.h"

namespace {

bool sameList(const KvList* a, const KvList* b) {
    for (; a && b; a = a->next, b = b->next)
        if (strcmp(a->key, b->key) != 0 || strcmp(a->value, b->value) != 0) return false;
    return !a && !b;
}

// The caller's own pairs, which a read may replace but never lose.
KvList* callerList() {
    KvList* list = kvListSet(nullptr, "toolDiameter", "10", kKvBuiltIn);
    return kvListSet(list, "keep", "caller", kKvBuiltIn);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string file = fuzzWriteFile("input.par", data, size);
    KvList* list = kvListLoad(callerList(), file.c_str(), kKvFile);
    fuzzCheck(list != nullptr, "the caller's pairs are gone");
    char* kept = kvListGet(list, "keep", nullptr);
    fuzzCheck(kept != nullptr, "a pair the file does not name is gone");
    free(kept);
    for (const KvList* n = list; n; n = n->next)
        fuzzCheck(*n->key && *n->value, "an empty key or value was stored");

    std::string copy = fuzzPrivateFolder() + "/copy.par";
    int written = kvListWrite(copy.c_str(), list);
    fuzzCheck(written > 0, "a list read from a file cannot be written");
    // Loading puts each new key in front, so the read-back list comes reversed;
    // the keys are unique, so setting them again in that order restores the order.
    KvList* again = kvListLoad(nullptr, copy.c_str(), kKvFile);
    KvList* inOrder = nullptr;
    for (const KvList* n = again; n; n = n->next) inOrder = kvListSet(inOrder, n->key, n->value, n->type);
    fuzzCheck(sameList(inOrder, list), "the written file reads back differently");
    kvListFree(inOrder);
    kvListFree(again);
    kvListFree(list);
    return 0;
}
