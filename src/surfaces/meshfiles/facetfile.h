// 3df facet files: the two header layouts, one open file per layout, the count and box
// rewrite at close, whole-file reading by version, and the writer of a mesh.
#pragma once

#include <cstdint>

#include "KVWOG5/lists.h"
#include "surfaces/meshfiles/facet.h"
#include "surfaces/meshfiles/facetlist.h"

enum : int {
    kFacetHeader1Bytes = 256,   // layout 1 (versions 1.x)
    kFacetHeader2Bytes = 1300,  // layout 2 (versions 2.x), only read
    kFacetHeaderCountAt = 252,  // u32 facet count in both layouts
    kFacetHeaderMatrixAt = 124,
    kFacetHeaderCentreAt = 100,
};

// Open modes of a layout-1 file.
enum : int {
    kFacetRead = 1,    // "rb"
    kFacetCreate = 2,  // created empty, then "r+b"; count and box rewritten at close
    kFacetUpdate = 3,  // "r+b"; accepted by open and close only
    kFacetAppend = 4,  // "r+b" at the end; count (and box when written) rewritten at close
};

// Results of the file routines; readers of whole files add kFacetNotFacetFile.
enum : int {
    kFacetOk = 0,
    kFacetWrongMode = -1,  // also a wrong handle at close
    kFacetIoError = -2,
    kFacetWrongHandle = -3,  // also: the layout's slot is busy at open
    kFacetNotFacetFile = -4,
};

// Mesh kinds the writer takes.
enum : int {
    kFacetMeshTriangles = 3,       // a TriList of 72-byte triangles
    kFacetMeshFacets = 4,          // an array of facets
    kFacetMeshWorldTriangles = 5,  // a TriList whose points are world points already
};

// Layout 1. Open returns the handle 1.
int facetFileOpen(const char* name, int mode);
int facetFileWriteHeader(int handle, const uint8_t header[kFacetHeader1Bytes]);
int facetFileReadHeader(int handle, uint8_t header[kFacetHeader1Bytes]);
int facetFileReadFacet(int handle, Facet98* facet);
int facetFileWriteFacet(int handle, const Facet98* facet);
// Modes 1 and 3: 0. Modes 2 and 4: the facet count, or -2 when the header cannot be rewritten
// or the data cannot be flushed. The slot is free afterwards unless the handle was wrong.
int facetFileClose(int handle);

// Layout 2.
int facetFileReadVersion(const char* name, double* version);  // 1, -1 cannot open, -2 short
int facetFile2Open(const char* name, int mode);
int facetFile2ReadHeader(int handle, uint8_t header[kFacetHeader2Bytes]);
int facetFile2ReadFacet(int handle, Facet98* facet);
// The header's facet count; -1 for a wrong handle, or when the header cannot be read again
// (the file is closed and the slot freed all the same).
int facetFile2Close(int handle);

// Reads a whole 3df file of either layout into a new list (points as stored, box over all
// points): the facet count, or -2 (no readable version), -3 (the layout's slot is busy),
// -4 (not a facet file of version 1.x or 2.x, no facets, more facets announced than the file
// holds, a short read), -1 out of memory.
int facetFileLoad(const char* name, FacetList** out);
// facetFileLoad without the whole list: start is told the facet count, then block gets the facets in
// file order, a block at a time (decoded, points as stored). A false answer from either stops the
// read with -1; otherwise facetFileLoad's result. A failure after the first block leaves the file's
// facets only partly visited.
using FacetCountFn = bool (*)(void* context, int32_t count);
using FacetBlockFn = bool (*)(void* context, const Facet98* facets, int32_t n);
int facetFileVisit(const char* name, void* context, FacetCountFn start, FacetBlockFn block);

// Writes triangles (kind 3) or facets (kind 4, flags written as 0) as a layout-1 file of
// version 1.0, points taken from frame A to world (through the frame pair first when its mesh
// option is set); kind 5 writes triangles with their points as given. The facet count, or the negative code
// of the failing step: -1 when the file cannot be created (or the mesh is missing), -3 while another layout-1
// file is open, -2 on a write.
int polymeshWrite3df(int kind, const TriList* triangles, const Facet98* facets, int32_t facetCount,
                     const char* name);

void facetFileResetState();  // closes whatever is open in either slot
