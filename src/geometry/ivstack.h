// Stack of index intervals {start, count} of the interval-splitting fits. It grows by doubling up
// to the 16-bit capacity limit, so a deep split never loses an interval.
#pragma once

#include <cstdint>

struct IvInterval {
    int32_t start;
    int32_t count;
};

struct IvStack {
    int16_t capacity;
    IvInterval* items;  // malloc'd
    int16_t top;        // -1 when empty
};

// 1, 0 for capacity < 1 (an empty stack without storage that still grows on push), -2 for memory.
int ivStackCreate(IvStack* stack, int32_t capacity);
// 0, or -1 with the message "* error: Iv stack overflow" when it cannot grow.
int ivStackPush(IvStack* stack, int32_t start, int32_t count);
// 0, or -1 with the message "* error: Iv stack underflow" when empty.
int ivStackPop(IvStack* stack, int32_t* start, int32_t* count);
int ivStackEmpty(const IvStack* stack);
void ivStackFree(IvStack* stack);  // releases the storage, not the record; null-safe
