#include "pocket/scratch.h"

namespace scratchdetail {

namespace {
std::vector<void (*)()>& releases() {
    static std::vector<void (*)()> r;
    return r;
}
}  // namespace

void registerRelease(void (*release)()) {
    releases().push_back(release);
}

}  // namespace scratchdetail

void scratchResetState() {
    for (void (*release)() : scratchdetail::releases()) release();
}
