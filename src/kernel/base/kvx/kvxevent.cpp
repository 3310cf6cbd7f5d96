// The handler table and the parse loop over the exchange-file reader's records.
#include "kernel/base/kvx/kvxevent.h"

#include <cstdlib>
#include <cstring>

#include "kernel/base/cfgfile.h"
#include "kernel/base/mem.h"

namespace {

// Grows a handler array to index + 1 slots, new slots taking the default.
bool growSlots(KvxHandler** slots, int32_t* count, int32_t index) {
    if (index < *count) return true;
    auto* grown =
        static_cast<KvxHandler*>(memRealloc(*slots, sizeof(KvxHandler) * (static_cast<size_t>(index) + 1)));
    if (grown == nullptr) return false;
    for (int32_t i = *count; i <= index; ++i) grown[i] = kvxDefaultAccept;
    *slots = grown;
    *count = index + 1;
    return true;
}

int registerName(NameTrie* names, KvxHandler** slots, int32_t* count, const char* name, KvxHandler handler) {
    if (names == nullptr || name == nullptr || name[0] == '\0') return 0;
    const int32_t index = nameTrieInsert(names, name);
    if (index <= 0 || !growSlots(slots, count, index)) return 0;
    (*slots)[index] = handler != nullptr ? handler : kvxDefaultAccept;
    return 1;
}

KvxHandler handlerOf(const NameTrie* names, KvxHandler* slots, int32_t count, const char* name) {
    const int32_t index = name != nullptr ? nameTrieFind(names, name) : 0;
    return slots[index > 0 && index < count ? index : 0];
}

}  // namespace

int kvxDefaultValue(KvxRecord* record, KvxObjData* data, void*) {
    if (record != nullptr) kvxObjSetAttr(data, record->name, record->id);
    return 1;
}

int kvxDefaultOpen(KvxRecord*, KvxObjData* data, void*) {
    return kvxObjPushLevel(data) == 1 ? 1 : 0;
}

int kvxDefaultClose(KvxRecord*, KvxObjData* data, void*) {
    // A surplus "}" has no level to close; it is passed over.
    kvxObjPopLevel(data);
    return 1;
}

int kvxDefaultAccept(KvxRecord*, KvxObjData*, void*) {
    return 1;
}

KvxHandlerTable* kvxHandlerTableCreate(void* user, KvxHandler onValue, KvxHandler onOpen,
                                       KvxHandler onClose) {
    auto* table = static_cast<KvxHandlerTable*>(memCalloc(sizeof(KvxHandlerTable)));
    if (table == nullptr) return nullptr;
    table->user = user;
    table->onValue = onValue != nullptr ? onValue : kvxDefaultValue;
    table->onOpen = onOpen != nullptr ? onOpen : kvxDefaultOpen;
    table->onClose = onClose != nullptr ? onClose : kvxDefaultClose;
    table->data = kvxObjCreate();
    table->objectNames = nameTrieCreate();
    table->methodNames = nameTrieCreate();
    if (table->data == nullptr || table->objectNames == nullptr || table->methodNames == nullptr ||
        !growSlots(&table->objectHandlers, &table->objectSlots, 0) ||
        !growSlots(&table->methodHandlers, &table->methodSlots, 0)) {
        kvxHandlerTableFree(table);
        return nullptr;
    }
    return table;
}

int kvxOnObject(KvxHandlerTable* table, const char* name, KvxHandler handler) {
    if (table == nullptr) return 0;
    return registerName(table->objectNames, &table->objectHandlers, &table->objectSlots, name, handler);
}

int kvxOnMethod(KvxHandlerTable* table, const char* name, KvxHandler handler) {
    if (table == nullptr) return 0;
    return registerName(table->methodNames, &table->methodHandlers, &table->methodSlots, name, handler);
}

int kvxParseWithHandlers(const char* fileName, KvxHandlerTable* table, KvxStartHook start) {
    if (table == nullptr || fileName == nullptr) return 0;
    KvxHeader header{};
    FILE* file = kvxOpen(fileName, &header);
    if (file == nullptr) return 0;
    int result = start != nullptr ? start(&header, table->user) : 1;
    KvxRecord record{};
    record.bodyStart = record.bodyEnd = -1;
    while (result == 1 && kvxReadRecord(file, &record) == 1) {
        switch (record.type) {
            case 'm': {
                const bool inFile =
                    record.params == nullptr && record.file != nullptr && record.bodyStart >= 0;
                if (inFile && fseeko(file, record.bodyStart, SEEK_SET) != 0) {
                    result = 0;
                    break;
                }
                kvxAssignMethodId(table->data, &record);
                KvxHandler h =
                    handlerOf(table->methodNames, table->methodHandlers, table->methodSlots, record.name);
                result = h(&record, table->data, table->user);
                if (inFile && fseeko(file, record.bodyEnd, SEEK_SET) != 0 && result == 1) result = 0;
                break;
            }
            case 'o': {
                kvxAssignObjectId(table->data, &record);
                KvxHandler h =
                    handlerOf(table->objectNames, table->objectHandlers, table->objectSlots, record.name);
                result = h(&record, table->data, table->user);
                break;
            }
            case 'v':
                result = table->onValue(&record, table->data, table->user);
                break;
            case '{':
                result = table->onOpen(&record, table->data, table->user);
                break;
            case '}':
                result = table->onClose(&record, table->data, table->user);
                break;
            default:
                break;
        }
    }
    kvxRecordReset(&record);
    cfgFileClose(file);
    kvxHeaderFree(&header);
    return result;
}

void kvxHandlerTableFree(KvxHandlerTable* table) {
    if (table == nullptr) return;
    kvxObjFree(table->data);
    nameTrieFree(table->objectNames);
    nameTrieFree(table->methodNames);
    std::free(table->objectHandlers);
    std::free(table->methodHandlers);
    std::free(table);
}
