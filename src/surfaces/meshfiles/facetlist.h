// Growable-header array of 98-byte facets, the storage of the mesh readers.
#pragma once

#include <cstdint>

#include "surfaces/meshfiles/facet.h"

// Same header shape as TriList: count, capacity, running box, data.
struct FacetList {
    int32_t count;
    int32_t capacity;                           // at least 2
    double xmin, ymin, zmin, xmax, ymax, zmax;  // +1e10 / -1e10 when empty
    Facet98* data;                              // capacity facets, not initialised
};

// Capacity max(n, 2); none when memory is short (nothing is left allocated).
FacetList* facetListCreate(int32_t n);
void facetListFree(FacetList* list);  // null-safe
