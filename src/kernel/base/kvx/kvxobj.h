// What a reader of exchange files keeps beside the records: the object-data
// container (attributes set by "v" records, scoped by "{" and "}", and the
// running numbers of unnamed objects and methods) and the axis-names block
// that object parameters "o", "x", "y" and "z" fill.
#pragma once

#include <cstdint>

#include "kernel/base/kvx/kvxfile.h"

struct KvxAttr {
    char* name;      // owned
    char* value;     // owned
    uint32_t level;  // the scope level it was set at, as wide as the container's
    KvxAttr* next;
};

// The attributes a scope overwrote from outside, with their outer values.
struct KvxLevel {
    KvxAttr* saved;
    KvxLevel* below;
};

struct KvxObjData {
    KvxAttr* attrs;          // newest first
    uint32_t level;          // 1 at the outermost scope
    KvxLevel* levelStack;    // innermost first
    uint32_t objectCounter;  // the number of the next unnamed object
    uint32_t methodCounter;  // the number of the next unnamed method
};

// The counters are mirrored as these attributes so that they follow the scopes.
constexpr char kKvxObjectCounter[] = "objectCounter";
constexpr char kKvxMethodCounter[] = "methodCounter";

KvxObjData* kvxObjCreate();         // null when memory is short
void kvxObjClear(KvxObjData* obj);  // back to level 1, counters 1; accepts null
void kvxObjFree(KvxObjData* obj);   // accepts null

// 1 when an existing attribute was replaced, 0 when one was added or when the
// name or the value is missing or empty (nothing done).
int kvxObjSetAttr(KvxObjData* obj, const char* name, const char* value);
// A new copy of the value (the caller frees it), or null.
char* kvxObjGetAttr(const KvxObjData* obj, const char* name);
int kvxObjPushLevel(KvxObjData* obj);  // 1, or 0 when obj is null, memory is short or at the deepest level
int kvxObjPopLevel(KvxObjData* obj);   // 1, or 0 at level 1 or without a level entry

// For an "o" (respectively "m") record: an identifier from the counter when it
// has none (1), the counter advanced in every case of that type; 0 otherwise.
int kvxAssignObjectId(KvxObjData* obj, KvxRecord* record);
int kvxAssignMethodId(KvxObjData* obj, KvxRecord* record);

constexpr int kKvxNameSlots = 10;
constexpr int kKvxNameSize = 24;  // 23 characters and the terminator

// Slot 0 the object name; slots 1-3, 4-6, 7-9 the rows 1 to 3 of axis names
// in the order x, y, z.
struct KvxNames {
    char names[kKvxNameSlots][kKvxNameSize];
};

// Clears the block and presets the x, y and z slots of all three rows.
void kvxNamesSet(KvxNames* names, const char* xName, const char* yName, const char* zName);
// Fills the block from the record's one-letter parameters: "o" the object
// name, "x", "y", "z" up to three "/"-separated names for rows 1 to 3 (an
// empty part keeps its slot). Bits 1, 2, 4 for "x", "y", "z" present.
int kvxRecordToNames(KvxNames* names, const KvxRecord* record);
