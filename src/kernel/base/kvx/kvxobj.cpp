#include "kernel/base/kvx/kvxobj.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kernel/base/mem.h"
#include "kernel/base/msg.h"

namespace {

KvxAttr* findAttr(const KvxObjData* obj, const char* name) {
    for (KvxAttr* a = obj->attrs; a; a = a->next) {
        if (strcmp(a->name, name) == 0) return a;
    }
    return nullptr;
}

KvxAttr* newAttr(const char* name, const char* value, uint32_t level) {
    auto* a = static_cast<KvxAttr*>(memCalloc(sizeof(KvxAttr)));
    if (!a) return nullptr;
    a->name = strDup(name);
    a->value = strDup(value);
    if (!a->name || !a->value) {
        free(a->name);
        free(a->value);
        free(a);
        return nullptr;
    }
    a->level = level;
    return a;
}

void freeAttrs(KvxAttr* a) {
    while (a) {
        KvxAttr* next = a->next;
        free(a->name);
        free(a->value);
        free(a);
        a = next;
    }
}

uint32_t counterValue(const char* text) {
    return static_cast<uint32_t>(strtoul(text, nullptr, 10));
}

void setCounterAttr(KvxObjData* obj, const char* name, uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%u", value);
    kvxObjSetAttr(obj, name, text);
}

void readCounterBack(KvxObjData* obj, const char* name, uint32_t* counter) {
    if (const KvxAttr* a = findAttr(obj, name)) *counter = counterValue(a->value);
}

int assignId(uint32_t* counter, KvxRecord* record) {
    int assigned = 0;
    if (!record->id) {
        char text[16];
        snprintf(text, sizeof text, "%u", *counter);
        record->id = strDup(text);
        assigned = record->id ? 1 : 0;
        if (!assigned) msgFault("memory");  // the record would go on without its number
    }
    ++*counter;
    return assigned;
}

// Copies at most 23 characters into a name slot.
void putName(char* slot, const char* text, size_t length) {
    size_t n = length < kKvxNameSize - 1 ? length : kKvxNameSize - 1;
    memcpy(slot, text, n);
    slot[n] = '\0';
}

}  // namespace

KvxObjData* kvxObjCreate() {
    auto* obj = static_cast<KvxObjData*>(memCalloc(sizeof(KvxObjData)));
    if (!obj) return nullptr;
    obj->level = 1;
    obj->objectCounter = obj->methodCounter = 1;
    if (!(obj->attrs = newAttr(kKvxObjectCounter, "1", 1)) ||
        !(obj->attrs->next = newAttr(kKvxMethodCounter, "1", 1))) {
        kvxObjFree(obj);
        return nullptr;
    }
    return obj;
}

void kvxObjClear(KvxObjData* obj) {
    if (!obj) return;
    freeAttrs(obj->attrs);
    obj->attrs = nullptr;
    while (KvxLevel* l = obj->levelStack) {
        obj->levelStack = l->below;
        freeAttrs(l->saved);
        free(l);
    }
    obj->level = 1;
    obj->objectCounter = obj->methodCounter = 1;
}

void kvxObjFree(KvxObjData* obj) {
    kvxObjClear(obj);
    free(obj);
}

int kvxObjSetAttr(KvxObjData* obj, const char* name, const char* value) {
    if (!obj || !name || !*name || !value || !*value) return 0;
    if (strcmp(name, kKvxObjectCounter) == 0) obj->objectCounter = counterValue(value);
    if (strcmp(name, kKvxMethodCounter) == 0) obj->methodCounter = counterValue(value);
    uint32_t level = obj->level;
    // Memory short leaves an attribute as it was or without it, which a reader takes for the file's
    // word: a fault, so that the run fails.
    if (KvxAttr* a = findAttr(obj, name)) {
        char* copy = strDup(value);
        if (!copy) {
            msgFault("memory");
            return 0;
        }
        if (a->level < obj->level && obj->level >= 2 && obj->levelStack) {
            // Saved newest first: restoring in list order leaves the oldest,
            // the value from outside the scope, as the last one written.
            KvxAttr* save = newAttr(a->name, a->value, a->level);
            if (!save) {
                free(copy);
                msgFault("memory");
                return 0;
            }
            save->next = obj->levelStack->saved;
            obj->levelStack->saved = save;
        }
        free(a->value);
        a->value = copy;
        return 1;
    }
    KvxAttr* a = newAttr(name, value, level);
    if (!a) {
        msgFault("memory");
        return 0;
    }
    a->next = obj->attrs;
    obj->attrs = a;
    return 0;
}

char* kvxObjGetAttr(const KvxObjData* obj, const char* name) {
    if (!obj || !name || !*name) return nullptr;
    const KvxAttr* a = findAttr(obj, name);
    if (!a || !a->value) return nullptr;
    char* copy = strDup(a->value);
    if (!copy) msgFault("memory");  // a missing attribute to the caller
    return copy;
}

int kvxObjPushLevel(KvxObjData* obj) {
    if (!obj || obj->level == UINT32_MAX) return 0;
    auto* entry = static_cast<KvxLevel*>(memCalloc(sizeof(KvxLevel)));
    if (!entry) return 0;
    setCounterAttr(obj, kKvxObjectCounter, obj->objectCounter);
    setCounterAttr(obj, kKvxMethodCounter, obj->methodCounter);
    entry->below = obj->levelStack;
    obj->levelStack = entry;
    ++obj->level;
    kvxObjSetAttr(obj, kKvxObjectCounter, "1");
    kvxObjSetAttr(obj, kKvxMethodCounter, "1");
    obj->objectCounter = obj->methodCounter = 1;
    return 1;
}

int kvxObjPopLevel(KvxObjData* obj) {
    if (!obj || obj->level <= 1 || !obj->levelStack) return 0;
    uint32_t inner = obj->level;
    uint32_t outer = inner - 1;
    KvxLevel* entry = obj->levelStack;
    KvxAttr* saved = entry->saved;
    // A restored value keeps the level it was set at: given the level of this
    // scope's outside instead, an attribute from further out would be taken
    // for one of that scope and deleted when it closes.
    while (saved) {
        KvxAttr* next = saved->next;
        if (KvxAttr* a = findAttr(obj, saved->name)) {
            free(a->value);
            a->value = saved->value;
            a->level = saved->level;
            free(saved->name);
            free(saved);
        } else {
            saved->next = obj->attrs;
            obj->attrs = saved;
        }
        saved = next;
    }
    obj->levelStack = entry->below;
    free(entry);
    for (KvxAttr** link = &obj->attrs; *link;) {
        KvxAttr* a = *link;
        if (a->level >= inner) {
            *link = a->next;
            a->next = nullptr;
            freeAttrs(a);
        } else {
            link = &a->next;
        }
    }
    obj->level = outer;
    readCounterBack(obj, kKvxObjectCounter, &obj->objectCounter);
    readCounterBack(obj, kKvxMethodCounter, &obj->methodCounter);
    return 1;
}

int kvxAssignObjectId(KvxObjData* obj, KvxRecord* record) {
    if (!obj || !record || record->type != 'o') return 0;
    return assignId(&obj->objectCounter, record);
}

int kvxAssignMethodId(KvxObjData* obj, KvxRecord* record) {
    if (!obj || !record || record->type != 'm') return 0;
    return assignId(&obj->methodCounter, record);
}

void kvxNamesSet(KvxNames* names, const char* xName, const char* yName, const char* zName) {
    if (!names) return;
    memset(names, 0, sizeof *names);
    const char* axes[3] = {xName, yName, zName};
    for (int axis = 0; axis < 3; ++axis) {
        if (!axes[axis] || !*axes[axis]) continue;
        for (int row = 0; row < 3; ++row)
            putName(names->names[1 + 3 * row + axis], axes[axis], strlen(axes[axis]));
    }
}

int kvxRecordToNames(KvxNames* names, const KvxRecord* record) {
    if (!names || !record) return 0;
    int present = 0;
    for (const KvxParam* p = record->params; p; p = p->next) {
        if (!p->key || strlen(p->key) != 1) continue;
        char key = p->key[0];
        if (key == 'o') {
            if (p->value) putName(names->names[0], p->value, strlen(p->value));
            continue;
        }
        if (key != 'x' && key != 'y' && key != 'z') continue;
        int axis = key - 'x';
        present |= 1 << axis;
        const char* part = p->value;
        for (int row = 0; part && row < 3; ++row) {
            const char* slash = strchr(part, '/');
            size_t length = slash ? static_cast<size_t>(slash - part) : strlen(part);
            if (length > 0) putName(names->names[1 + 3 * row + axis], part, length);
            part = slash ? slash + 1 : nullptr;
        }
    }
    return present;
}
