// Names of a run's temporary files: the process number keeps two runs sharing a folder apart.
#pragma once

#include <cstddef>

constexpr size_t kTempNameSize = 256;  // bytes of a name, terminator included

// "<dir>/<process id><ext>" into kTempNameSize bytes; without a folder the current one. A name
// that does not fit is left empty.
void tempFileName(char* out, const char* dir, const char* ext);
