// Variable lists: name ":=" value pairs with the origin of each pair. A list is
// handed around as its first node (null for an empty list); the setters return
// the new head. Every text a getter returns is a new allocation the caller frees.
// Memory short in a getter or a setter is a fault (msgFault) that fails the run:
// its result alone cannot tell it from a variable that is not there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/base/cfgfile.h"

// Origin types of the kernel's variables.
enum : uint16_t {
    kKvBuiltIn = 2,    // a built-in default set at the start of a run
    kKvDefaults = 13,  // the cycle's defaults file "%s.def"
    kKvFile = 21,      // a parameter file or a configuration (word-pair) file
    kKvDerived = 31,   // a value derived by the program from others
};

struct KvList {
    char* key;    // owned, never empty
    char* value;  // owned
    uint16_t type;
    KvList* next;
};

KvList* kvListSet(KvList* list, const char* key, const char* value, uint16_t type);
KvList* kvListAddPair(KvList* list, KvPair* pair, uint16_t type);
KvList* kvListAppend(KvList* list, const char* key, const char* value, uint16_t type);
// A new node behind last (alone when last is null), for a caller that keeps the tail of a long
// list: the node, or null when the key is empty or memory is short (the list is then unchanged).
KvList* kvListAppendAfter(KvList* last, const char* key, const char* value, uint16_t type);
char* kvListGet(const KvList* list, const char* key, uint16_t* type);
char* kvListGetLast(const KvList* list, const char* key, uint16_t* type);
int kvListGetBuf(const KvList* list, const char* key, char* buffer,
                 size_t maxLength);  // buffer: maxLength + 1
void kvListFree(KvList* list);

// Parameter files (key ":=" value): load adds every pair with the given origin
// type; write returns the number of pairs written, -1 without a list, -2 when
// the file cannot be written (an existing file then stays as it was), also when
// a pair holds what a parameter file cannot carry: the byte 26, a line end in a
// key, or a key with a double quote that also holds a blank or a colon or
// begins with a double quote or ";". A written name that is a link keeps the
// link and replaces the file it names, with that file's permissions.
KvList* kvListLoad(KvList* list, const char* fileName, uint16_t type);
int kvListWrite(const char* fileName, const KvList* list);
