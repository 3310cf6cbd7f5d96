#include "kernel/ncout/ncrecord.h"

#include <cstring>

void ncRecClear(NcRecord* record) {
    memset(record->bytes, 0, sizeof record->bytes);
}

void ncRecPutU32(NcRecord* record, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) record->bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

void ncRecPutI32(NcRecord* record, size_t offset, int32_t value) {
    ncRecPutU32(record, offset, static_cast<uint32_t>(value));
}

void ncRecPutF64(NcRecord* record, size_t offset, double value) {
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) record->bytes[offset + i] = static_cast<unsigned char>(bits >> (8 * i));
}

void ncRecPutText(NcRecord* record, size_t offset, size_t size, const char* text) {
    size_t n = text ? strnlen(text, size - 1) : 0;
    if (n) memcpy(record->bytes + offset, text, n);
    memset(record->bytes + offset + n, 0, size - n);
}

uint32_t ncRecGetU32(const NcRecord* record, size_t offset) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(record->bytes[offset + i]) << (8 * i);
    return value;
}

int32_t ncRecGetI32(const NcRecord* record, size_t offset) {
    return static_cast<int32_t>(ncRecGetU32(record, offset));
}

double ncRecGetF64(const NcRecord* record, size_t offset) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(record->bytes[offset + i]) << (8 * i);
    double value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

const char* ncRecGetText(const NcRecord* record, size_t offset, size_t size, char* buffer) {
    size_t n = strnlen(reinterpret_cast<const char*>(record->bytes + offset), size - 1);
    memcpy(buffer, record->bytes + offset, n);
    buffer[n] = '\0';
    return buffer;
}
