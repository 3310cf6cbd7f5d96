// The 98-byte facet record of facet files and facet arrays.
#pragma once

#include <cstdint>
#include <cstdio>

#include "geometry/vec.h"

// Packed to its file size: the mesh code and the frame pair address the points at byte 2 + 24 k.
// A triangle repeats point 2 as point 3. Bit 0x0008 of the flag marks the first facet of a group.
struct __attribute__((packed)) Facet98 {
    uint16_t flag;
    Vec3 p[4];
};
static_assert(sizeof(Facet98) == 98, "Facet98 is 98 bytes on disk and in memory");

enum : int {
    kFacet98Bytes = 98,
    kFacetGroupStart = 0x0008,
};

// Little-endian image of a facet, field by field.
void facet98Encode(const Facet98* facet, uint8_t out[kFacet98Bytes]);
void facet98Decode(const uint8_t in[kFacet98Bytes], Facet98* facet);

// Stream access, field by field: 0, or -2 on a short read or write (or a missing argument).
int facet98Read(FILE* fp, Facet98* facet);
int facet98Write(FILE* fp, const Facet98* facet);
