// Decoding of NcRecords for kvhost, written from the record layout of the host
// header alone (never from the library's own code), so that a layout fault in
// the library shows in kvhost's output.
#pragma once

#include <cstdint>
#include <string>

// One line: "ch=<channel> type=<type>" followed by the fields of the type's
// layout. `record` points to KVNC_RECORD_SIZE bytes.
std::string ncDecodeRecord(int32_t channel, const unsigned char* record);
