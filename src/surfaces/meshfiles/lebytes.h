// Little-endian field access of the binary mesh files, one field at a time.
#pragma once

#include <cstdint>
#include <cstring>

inline void lePutU16(uint8_t* at, uint16_t v) {
    at[0] = static_cast<uint8_t>(v & 0xff);
    at[1] = static_cast<uint8_t>(v >> 8);
}

inline uint16_t leGetU16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

inline void lePutU32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t leGetU32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

inline void lePutF32(uint8_t* at, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    lePutU32(at, bits);
}

inline float leGetF32(const uint8_t* at) {
    const uint32_t bits = leGetU32(at);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

inline void lePutF64(uint8_t* at, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(bits >> (8 * i));
}

inline double leGetF64(const uint8_t* at) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(at[i]) << (8 * i);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}
