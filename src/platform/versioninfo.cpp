#include "platform/versioninfo.h"

#include <cstdio>

namespace {

// Kept equal to the project version of the build (a test compares them).
constexpr char kFileVersion[] = "0.1.0";
constexpr uint16_t kFileVersionParts[4] = {0, 1, 0, 0};

}  // namespace

int versionInfo(char* text, size_t size, uint16_t parts[4]) {
    if (text && size) snprintf(text, size, "%s", kFileVersion);
    if (parts) {
        for (int i = 0; i < 4; ++i) parts[i] = kFileVersionParts[i];
    }
    return 1;
}
