// The library's version as compiled into it.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies the file-version text (cut to size - 1) and the four parts of the
// fixed file version (major, minor, patch, build). Returns 1, or 0 when the
// build carries no version (the outputs are then emptied).
int versionInfo(char* text, size_t size, uint16_t parts[4]);
