// Little-endian field access of the 98-byte facet record.
#include "surfaces/meshfiles/facet.h"

#include <cstring>

namespace {

void putU16LE(uint8_t* at, uint16_t v) {
    at[0] = static_cast<uint8_t>(v & 0xff);
    at[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t getU16LE(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

void putF64LE(uint8_t* at, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(bits >> (8 * i));
}

double getF64LE(const uint8_t* at) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(at[i]) << (8 * i);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

}  // namespace

void facet98Encode(const Facet98* facet, uint8_t out[kFacet98Bytes]) {
    putU16LE(out, facet->flag);
    for (int k = 0; k < 4; ++k) {
        const Vec3 p = facet->p[k];
        uint8_t* at = out + 2 + 24 * k;
        putF64LE(at, p.x);
        putF64LE(at + 8, p.y);
        putF64LE(at + 16, p.z);
    }
}

void facet98Decode(const uint8_t in[kFacet98Bytes], Facet98* facet) {
    facet->flag = getU16LE(in);
    for (int k = 0; k < 4; ++k) {
        const uint8_t* at = in + 2 + 24 * k;
        facet->p[k] = Vec3{getF64LE(at), getF64LE(at + 8), getF64LE(at + 16)};
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
