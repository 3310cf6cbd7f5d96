// Crossings of element chains: the self-crossings of one chain and the crossings between two,
// each recorded as an IsectRecord.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

struct IsectRecord {
    double x, y;   // crossing point
    double t;      // parameter along element i (along y when element i is vertical)
    int32_t i;     // 1-based element of the first chain (self search: the lower number)
    int32_t j;     // 1-based element of the second chain (self search: the higher number)
    int32_t mark;  // pair searches: 1; self search: 0, classified by the caller
};

// Capacity comes first, unlike the other lists of the library.
struct IsectList {
    int32_t capacity;
    int32_t count;
    IsectRecord* data;
};

enum : int32_t {
    kSelfIsectMax = 4000,  // a chain with more self-crossings is refused
};

// Null on a failed allocation; a negative capacity counts as 0.
IsectList* isectListCreate(int32_t capacity);
// Appends a copy, growing to max(1, 2 * capacity) when full: 1, or -1 for a null list or a failed
// growth (the list is then unchanged).
int isectListAdd(IsectList* list, const IsectRecord* record);
void isectListFree(IsectList* list);

// Orders by i, then by t ascending; 0 only for equal i and t. A sort callback (RecCompare).
int isectRecordCompare(const void* a, const void* b);

// Self-crossings of the chain into table (room for capacity records). Returns the count, 0 for an
// empty chain, -1 beyond kSelfIsectMax records, beyond capacity or on a failed allocation. mode -1
// makes touches at breaks of the chain (element end != next start) no crossings.
int contour_self_isect2D(const Seg2D* chain, int32_t n, IsectRecord* table, int32_t capacity, int mode);
// Crossings between chains a and b into table (room for capacity records). Returns the count; 0
// for an empty chain or two equal chains; -1 when table is full or an allocation fails.
int contour_pair_isect2D(const Seg2D* a, int32_t nA, const Seg2D* b, int32_t nB, IsectRecord* table,
                         int32_t capacity);
// The same search appending to list (count first set to 0): the list's count, or -1.
int contour_pair_isect2D_b(const Seg2D* a, int32_t nA, const Seg2D* b, int32_t nB, IsectList* list);
