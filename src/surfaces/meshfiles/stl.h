// STL files, ASCII and binary, read into lists of double triangles. There is no writer.
#pragma once

#include "KVWOG5/lists.h"

enum : int {
    kStlHeaderBytes = 84,  // 80 bytes of text and a u32 count, both ignored
    kStlRecordBytes = 50,  // normal, three vertices (f32), u16 attribute
    kStlLineMax = 128,     // ASCII lines are read in pieces of at most this many characters
};

// A new list owned by the caller, or null (empty name, missing file, format error, no memory).
TriList* stl_read(const char* name);
// 0 ASCII ("solid" first and both "facet" and "normal" within the first 1024 bytes), 1 binary,
// -1 when the file cannot be opened.
int stl_is_binary(const char* name);
// Record count from the file size; byte order from the first normal: swapped when it is
// implausible as read, or a unit vector only when swapped.
TriList* stl_read_binary(const char* name);
// Blank lines are passed over; a vertex line with fewer than three numbers fails the file; a
// file that ends inside a facet keeps the facets read before.
TriList* stl_read_ascii(const char* name);
