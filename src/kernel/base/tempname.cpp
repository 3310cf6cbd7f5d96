#include "kernel/base/tempname.h"

#include <unistd.h>

#include <cstdio>

void tempFileName(char* out, const char* dir, const char* ext) {
    if (!out) return;
    long pid = static_cast<long>(getpid());
    // Without a folder the name stays in the current one rather than the root.
    int n = dir && *dir ? snprintf(out, kTempNameSize, "%s/%ld%s", dir, pid, ext ? ext : "")
                        : snprintf(out, kTempNameSize, "%ld%s", pid, ext ? ext : "");
    // A cut name would name some other file, which the clean-up would remove.
    if (n < 0 || static_cast<size_t>(n) >= kTempNameSize) out[0] = '\0';
}
