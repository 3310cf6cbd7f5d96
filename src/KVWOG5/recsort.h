// In-place sort of fixed-size records by a compare callback, optionally moving a companion array
// (typically an index array that then holds the permutation) along. Not stable.
#pragma once

#include <cstdint>

typedef int (*RecCompare)(const void* a, const void* b);

// compare(a, b) < 0 puts a before b. 1, or -1 for bad arguments or a failed scratch allocation (only
// records or companions over 64 bytes need one).
int sortRecords(void* base, int32_t n, int32_t recordSize, RecCompare compare);
int sortWithPermutation(void* base, int32_t n, int32_t recordSize, RecCompare compare, void* companion,
                        int32_t companionSize);
