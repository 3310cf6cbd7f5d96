// Allocation helpers used by the whole library: every record is plain memory
// that its family's free function releases with free().
#pragma once

#include <cstddef>

void* memCalloc(size_t size);                // zero-filled; null when memory is short
void* memCalloc(size_t count, size_t size);  // count * size, zero-filled; null on overflow too
void* memRealloc(void* block, size_t size);  // null block: a new one; null when memory is short
char* strDup(const char* text);              // a new copy; null for null
