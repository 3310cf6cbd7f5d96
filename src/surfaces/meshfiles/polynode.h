// One mesh per Polyhedron object: facets (reader A) or triangles (reader B), chained newest first.
#pragma once

#include <cstdint>

#include "KVWOG5/lists.h"
#include "surfaces/meshfiles/facet.h"

struct PolyNode {
    char* name;             // copy of the object's identifier
    int32_t faceCount;      // faces announced by the object
    Facet98* facets;        // reader A's items, or null
    Triangle3D* triangles;  // reader B's items, or null
    int32_t capacity;
    int32_t used;
    PolyNode* next;
};

// Room for nFace items, at most 65536 at first: the count comes from the file.
PolyNode* polyNodeCreateFacets(const char* name, int32_t nFace);
PolyNode* polyNodeCreateTriangles(const char* name, int32_t nFace);
// One facet of 3 or 4 points (a triangle repeats point 2), flag 0; grows by 128. 1, or 0.
int polyNodeAddFacet(PolyNode* node, const Vec3* points, int n);
// The triangle 0, 1, 2 and for 4 points also 2, 3, 0; grows by 65536. 1, or 0.
int polyNodeAddTriangles(PolyNode* node, const Vec3* points, int n);
// Trims the triangle array to the used count; 1, or 0 when the node has none.
int polyNodeResizeTriangles(PolyNode* node);
void polyNodeFreeList(PolyNode* list);  // the whole chain; accepts null
