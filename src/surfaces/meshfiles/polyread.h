// Readers of Polyhedron objects in exchange files: reader A yields facets, reader B triangles,
// one node per Polyhedron (newest first), in file coordinates.
#pragma once

#include "surfaces/meshfiles/polynode.h"

enum : int {
    kPolyReadOk = 0,
    kPolyReadNoTable = 1,  // the handler table could not be created
    kPolyReadFailed = 2,   // no readable file, or a record refused (bad number, missing point, ...)
};

// Called with the face's vertex count and coordinates; 0 drops the face.
using PolyFaceFilter = int (*)(int n, const double* x, const double* y, const double* z);

// The node list is handed back in every case and belongs to the caller (polyNodeFreeList).
int readPolyhedronA(const char* fileName, PolyNode** nodes);
int readPolyhedronB(const char* fileName, PolyNode** nodes);

void setPolyFaceFilterA(PolyFaceFilter filter);
void clearPolyFaceFilterA();
PolyFaceFilter polyGetFaceFilter();  // reader B's filter; none is ever installed
void polyReadResetState();           // no filters
