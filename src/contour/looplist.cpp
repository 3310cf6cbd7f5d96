#include "contour/looplist.h"

#include <cstdlib>
#include <cstring>

LoopList* looplist_create() {
    return static_cast<LoopList*>(std::calloc(1, sizeof(LoopList)));
}

void looplist_clear(LoopList* list) {
    if (!list) return;
    LoopNode* node = list->first;
    while (node) {
        LoopNode* next = node->next;
        std::free(node->points);
        std::free(node);
        node = next;
    }
    list->first = nullptr;
}

void looplist_free(LoopList* list) {
    looplist_clear(list);
    std::free(list);
}

int looplist_add(LoopList* list, const Vec2* points, int32_t count) {
    if (!list || !points || count < 1) return 0;
    LoopNode* node = static_cast<LoopNode*>(std::malloc(sizeof(LoopNode)));
    if (!node) return -1;
    node->points = static_cast<Vec2*>(std::malloc(sizeof(Vec2) * static_cast<size_t>(count)));
    if (!node->points) {
        std::free(node);
        return -1;
    }
    std::memcpy(node->points, points, sizeof(Vec2) * static_cast<size_t>(count));
    node->count = count;
    node->next = list->first;
    list->first = node;
    if (list->onAdd) list->onAdd(node->points, count);
    return 1;
}

int looplist_pop(LoopList* list, Vec2* buffer, int32_t capacity, int32_t* count) {
    if (!list) return 0;
    LoopNode* node = list->first;
    if (!node) return -1;
    if (count) *count = node->count;
    if (!buffer || capacity < node->count) return -2;
    std::memcpy(buffer, node->points, sizeof(Vec2) * static_cast<size_t>(node->count));
    list->first = node->next;
    if (list->onRemove) list->onRemove(buffer, node->count);
    std::free(node->points);
    std::free(node);
    return 1;
}

int looplist_copy(LoopList* dst, const LoopList* src) {
    if (!dst || !src) return 0;
    if (dst == src) return 1;
    looplist_clear(dst);
    for (const LoopNode* node = src->first; node; node = node->next)
        if (looplist_add(dst, node->points, node->count) < 0) return -1;
    return 1;
}
