// Growable interval stack.
#include "geometry/ivstack.h"

#include <cstdlib>

#include "kernel/base/msg.h"

int ivStackCreate(IvStack* stack, int32_t capacity) {
    if (stack == nullptr) return -2;
    stack->capacity = 0;
    stack->items = nullptr;
    stack->top = -1;
    if (capacity < 1) return 0;
    if (capacity > INT16_MAX) capacity = INT16_MAX;
    stack->items = static_cast<IvInterval*>(std::malloc(static_cast<size_t>(capacity) * sizeof(IvInterval)));
    if (stack->items == nullptr) return -2;
    stack->capacity = static_cast<int16_t>(capacity);
    return 1;
}

int ivStackPush(IvStack* stack, int32_t start, int32_t count) {
    if (stack == nullptr) return -1;
    if (stack->top + 1 >= stack->capacity) {
        int32_t cap = stack->capacity < 4 ? 8 : 2 * static_cast<int32_t>(stack->capacity);
        if (cap > INT16_MAX) cap = INT16_MAX;
        IvInterval* grown = nullptr;
        if (cap > stack->top + 1)
            grown = static_cast<IvInterval*>(
                std::realloc(stack->items, static_cast<size_t>(cap) * sizeof(IvInterval)));
        if (grown == nullptr) {
            msgPrintfDouble(1, "* error: Iv stack overflow", 0.0);
            return -1;
        }
        stack->items = grown;
        stack->capacity = static_cast<int16_t>(cap);
    }
    ++stack->top;
    stack->items[stack->top] = IvInterval{start, count};
    return 0;
}

int ivStackPop(IvStack* stack, int32_t* start, int32_t* count) {
    if (stack == nullptr || stack->top < 0 || stack->items == nullptr) {
        msgPrintfDouble(1, "* error: Iv stack underflow", 0.0);
        return -1;
    }
    *start = stack->items[stack->top].start;
    *count = stack->items[stack->top].count;
    --stack->top;
    return 0;
}

int ivStackEmpty(const IvStack* stack) {
    return stack == nullptr || stack->top < 0 ? 1 : 0;
}

void ivStackFree(IvStack* stack) {
    if (stack == nullptr) return;
    std::free(stack->items);
    stack->items = nullptr;
    stack->capacity = 0;
    stack->top = -1;
}
