// Nesting of the input contours: which closed contour lies in which, whether a
// nested contour is an island of its container or a deeper pocket of its own
// (decided by the heights), one orientation per role, and the list reordered
// group by group, boundaries before their islands.
#pragma once

#include <cstdint>

#include "pocket/clist.h"

// Containment of n contours: cells[i * n + j] is 1 when contour i lies inside
// contour j, -1 when j lies inside i, 0 undecided or neither.
struct NestMatrix {
    int32_t n;
    int32_t* cells;
};

// The number of groups made (0 for an empty list), or -1 when memory runs out
// or a pair of contours stays undecided. Wanted orientation +1 or -1; keep
// orientation non-zero leaves islands unreversed. In the outside-in direct mode
// *reversed receives 1 when a reversal changed the sign of a contour's group.
int32_t clistNestContours(const char* name, int32_t wanted, int32_t keepOrientation, int32_t* reversed);

// Null without memory or when a pair stays undecided (not in the outside-in direct mode).
NestMatrix* containmentMatrix(const char* name);
void nestMatrixFree(NestMatrix* matrix);  // null-safe
// The contour that holds i and lies in one contour fewer than i; -1 when i lies in none.
int32_t immediateParent(const NestMatrix* matrix, int32_t i);
// The parent of contour i with its top, bottom, tag and orientation (+1 when
// its ccw byte is 1, else -1); -1 and nothing written when it has none.
int32_t parentHeaderValues(const NestMatrix* matrix, const char* name, int32_t i, double* top, double* bottom,
                           int32_t* tag, int32_t* orientation);
void headerSetOrientationBytes(ContourHeader* header, int32_t wanted, int32_t orientation);
// The index of the contour whose parent field holds the value; -1 for none or a negative value.
int32_t clistIndexOfOriginal(int32_t value, const char* name);
int clistHasNegativeSign(const char* name);  // 1 when some contour's group is negative

// Every arc of the chain replaced by lines within the chord tolerance, written
// to out: the new count, or -1 when more than capacity elements are needed.
int32_t circleToPolygon(const ContourElement* elements, int32_t count, double tolerance, ContourElement* out,
                        int32_t capacity);

// Contours 1.. ordered farthest from contour 1 first (contour 0 stays): 0 for
// fewer than 3 contours, 1 done, -1 without memory.
int clistSortByKey(const char* name);
