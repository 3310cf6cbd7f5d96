// NcRecord: the 784-byte typed output record of every cycle. Its fields are
// written and read one by one, little-endian, at the offsets of the host
// header (KVNC_*), so the bytes a host or a raw dump sees are the record.
#pragma once

#include <kvcycles.h>

#include <cstddef>
#include <cstdint>

struct NcRecord {
    alignas(8) unsigned char bytes[KVNC_RECORD_SIZE];
};
static_assert(sizeof(NcRecord) == 784);

void ncRecClear(NcRecord* record);  // all bytes 0
void ncRecPutI32(NcRecord* record, size_t offset, int32_t value);
void ncRecPutU32(NcRecord* record, size_t offset, uint32_t value);
void ncRecPutF64(NcRecord* record, size_t offset, double value);
// Copies at most size - 1 characters and zero-fills the rest of the field.
void ncRecPutText(NcRecord* record, size_t offset, size_t size, const char* text);
int32_t ncRecGetI32(const NcRecord* record, size_t offset);
uint32_t ncRecGetU32(const NcRecord* record, size_t offset);
double ncRecGetF64(const NcRecord* record, size_t offset);
// The text of a field; always terminated within it (the last byte counts as the end).
const char* ncRecGetText(const NcRecord* record, size_t offset, size_t size, char* buffer);
