// Little-endian field access of the 98-byte facet record.
#include "surfaces/meshfiles/facet.h"

#include <cstring>

#include "surfaces/meshfiles/lebytes.h"

void facet98Encode(const Facet98* facet, uint8_t out[kFacet98Bytes]) {
    lePutU16(out, facet->flag);
    for (int k = 0; k < 4; ++k) {
        const Vec3 p = facet->p[k];
        uint8_t* at = out + 2 + 24 * k;
        lePutF64(at, p.x);
        lePutF64(at + 8, p.y);
        lePutF64(at + 16, p.z);
    }
}

void facet98Decode(const uint8_t in[kFacet98Bytes], Facet98* facet) {
    facet->flag = leGetU16(in);
    for (int k = 0; k < 4; ++k) {
        const uint8_t* at = in + 2 + 24 * k;
        facet->p[k] = Vec3{leGetF64(at), leGetF64(at + 8), leGetF64(at + 16)};
    }
}

int facet98Read(FILE* fp, Facet98* facet) {
    if (fp == nullptr || facet == nullptr) return -2;
    uint8_t buf[kFacet98Bytes];
    // Flag, then each point: a record cut short anywhere is a failed read and leaves facet unchanged.
    if (std::fread(buf, 1, 2, fp) != 2) return -2;
    for (int k = 0; k < 4; ++k) {
        if (std::fread(buf + 2 + 24 * k, 1, 24, fp) != 24) return -2;
    }
    facet98Decode(buf, facet);
    return 0;
}

int facet98Write(FILE* fp, const Facet98* facet) {
    if (fp == nullptr || facet == nullptr) return -2;
    uint8_t buf[kFacet98Bytes];
    facet98Encode(facet, buf);
    return std::fwrite(buf, 1, sizeof buf, fp) == sizeof buf ? 0 : -2;
}
