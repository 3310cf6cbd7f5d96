// Event-driven reading of exchange files: handlers registered per object and per method name
// are called for each record; values and scope marks go to their own handlers.
#pragma once

#include <cstdint>

#include "kernel/base/kvx/kvxfile.h"
#include "kernel/base/kvx/kvxobj.h"
#include "kernel/base/kvx/nametrie.h"

// 1 goes on; any other result ends the parse and becomes its result.
using KvxHandler = int (*)(KvxRecord* record, KvxObjData* data, void* user);
// Called with the file header before the first record; a result other than 1 ends the parse.
using KvxStartHook = int (*)(const KvxHeader* header, void* user);

struct KvxHandlerTable {
    KvxObjData* data;
    KvxHandler onValue;  // default: the value becomes an attribute of the current level
    KvxHandler onOpen;   // default: opens a level of the container
    KvxHandler onClose;  // default: closes it
    NameTrie* objectNames;
    KvxHandler* objectHandlers;  // slot 0: records whose name has no handler
    int32_t objectSlots;
    NameTrie* methodNames;
    KvxHandler* methodHandlers;
    int32_t methodSlots;
    void* user;  // handed to every handler
};

// Null handlers take their defaults; null when memory is short (nothing left allocated).
KvxHandlerTable* kvxHandlerTableCreate(void* user, KvxHandler onValue, KvxHandler onOpen, KvxHandler onClose);
// Registers or replaces the handler of a name (null: the default); 1, or 0 for a missing table
// or name or when memory is short.
int kvxOnObject(KvxHandlerTable* table, const char* name, KvxHandler handler);
int kvxOnMethod(KvxHandlerTable* table, const char* name, KvxHandler handler);
// The last handler result (1 when every record was accepted), or 0 for a missing table or a file
// that cannot be opened. A method whose body stayed in the file is called with the file
// positioned at the body's start; reading resumes behind the body whatever the handler read.
int kvxParseWithHandlers(const char* fileName, KvxHandlerTable* table, KvxStartHook start);
void kvxHandlerTableFree(KvxHandlerTable* table);  // accepts null

// The default handlers, for handlers that do their own work and then the default.
int kvxDefaultValue(KvxRecord* record, KvxObjData* data, void* user);
int kvxDefaultOpen(KvxRecord* record, KvxObjData* data, void* user);
int kvxDefaultClose(KvxRecord* record, KvxObjData* data, void* user);
int kvxDefaultAccept(KvxRecord* record, KvxObjData* data, void* user);
