// Import of the Polyhedron meshes of an exchange file as one triangle mesh or one facet mesh in
// the cycle's frame, items sorted by height for the drop-cutter searches, with per-item boxes.
#pragma once

#include <cmath>
#include <cstdint>

#include "KVWOG5/lists.h"
#include "surfaces/meshfiles/facetlist.h"

enum : int {
    kPolyMeshNameSize = 128,
};

struct PolyTriMesh {
    TriList* triangles;
    Vec3* lower;  // per triangle, the per-axis minimum of its vertices
    Vec3* upper;  // per triangle, the per-axis maximum
    char name[kPolyMeshNameSize];
    int32_t tag;
    PolyTriMesh* next;
};

struct PolyFacetMesh {
    FacetList* facets;
    Vec3* lower;  // per facet, over its four points
    Vec3* upper;
    Vec2* box45Upper;  // with the shared switch: per facet (max u, max v), u = (x - y) k, v = (x + y) k
    Vec2* box45Lower;  // (min u, min v); k = 0.70710678 exactly
    char name[kPolyMeshNameSize];
    int32_t tag;
    PolyFacetMesh* next;
};

// All Polyhedra of the file joined in file-node order; null when the file yields no node, a
// reader fails or memory runs out. The record and its arrays belong to the caller.
PolyTriMesh* meshFromPolyFileB(const char* fileName, const char* name, int32_t tag);
// With the shared switch the facets are oriented and the 45-degree boxes built.
PolyFacetMesh* meshFromPolyFileA(const char* fileName, const char* name, int32_t tag, int shared);
void freeMeshPatchList(PolyTriMesh* list);   // a chain; accepts null
void freeMeshNodeList(PolyFacetMesh* list);  // a chain; accepts null

// Factors of x, y and z applied to every imported point (default 1.0 each).
void setAxisScale(double sx, double sy, double sz);
void scalePointAxes(Vec3* p);
void polyImportResetState();  // factors back to 1.0

// The poly frame places imported Polyhedron meshes: axes times translation; imports pass through
// its inverse before the axis scale. A frame that cannot be inverted (the unset all-zero axes among
// them) leaves imports untouched; returns mat4Invert's result.
int setPolyFrame(const Vec3* origin, const Vec3* x, const Vec3* y, const Vec3* z);
void polyFramePoint(Vec3* point);  // in place through the inverse poly frame
// No poly frame: a run that sets none imports unmoved, whatever an earlier run set. The factors'
// reset leaves the frame alone.
void polyFrameReset();

// Turns the vertices cyclically (orientation kept) so that the highest comes first; on equal
// heights the earlier vertex wins.
void sortTriangleByZ(Triangle3D* tri);
// Higher highest point first; heights within 1e-5 are equal.
int triCompareMaxZ(const Triangle3D* a, const Triangle3D* b);
int facetCompareMaxZ(const Facet98* a, const Facet98* b);
void facetHeapSort(Facet98* facets, int32_t n);
// Exchanges points 1 and 3 when the facet turns clockwise in plan: the xy cross product of the
// first edge pair whose magnitude reaches 1e-5 decides.
void facetFixOrientation(Facet98* facet);
// The box grown to hold p, as std::fmin and std::fmax grow it (a coordinate that is not a number
// leaves the other). Inline with the ordered cases written out: the library calls cost more than the
// comparisons, and a box is grown for every corner of every triangle loaded.
inline double boxMinOf(double lower, double p) {
    if (p < lower) return p;
    if (lower <= p) return lower;
    return std::fmin(p, lower);
}
inline double boxMaxOf(double upper, double p) {
    if (p > upper) return p;
    if (upper >= p) return upper;
    return std::fmax(p, upper);
}
inline void boxExtendByPoint(Vec3* lower, Vec3* upper, const Vec3* p) {
    lower->x = boxMinOf(lower->x, p->x);
    lower->y = boxMinOf(lower->y, p->y);
    lower->z = boxMinOf(lower->z, p->z);
    upper->x = boxMaxOf(upper->x, p->x);
    upper->y = boxMaxOf(upper->y, p->y);
    upper->z = boxMaxOf(upper->z, p->z);
}
