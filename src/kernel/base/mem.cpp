#include "kernel/base/mem.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

void* memCalloc(size_t size) {
    // A zero-byte request still gets a unique block so that callers can tell it from failure.
    return calloc(1, size ? size : 1);
}

void* memCalloc(size_t count, size_t size) {
    if (count && size > SIZE_MAX / count) return nullptr;
    return memCalloc(count * size);
}

void* memRealloc(void* block, size_t size) {
    return realloc(block, size ? size : 1);
}

char* strDup(const char* text) {
    if (!text) return nullptr;
    size_t n = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(n));
    if (copy) memcpy(copy, text, n);
    return copy;
}
