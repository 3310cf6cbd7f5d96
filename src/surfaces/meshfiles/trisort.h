// Order of triangle lists by height: the triangle with the highest vertex first.
#pragma once

#include "KVWOG5/lists.h"

double triMaxZ(const Triangle3D* tri);
// -1 when a's highest z is larger, 1 when smaller, 0 when equal (exactly; no tolerance).
int triCompareTopZ(const Triangle3D* a, const Triangle3D* b);
// In place with one triangle of scratch, O(n log n); equal keys keep no particular order.
void sortMeshTriangles(TriList* list);
