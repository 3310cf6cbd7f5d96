#include "pocket/scratch.h"

#include "kernel/base/runreset.h"


#include <sys/mman.h>

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
static const RunReset gRunReset(kRunResetCycles, "scratch", scratchResetState);

void* scratchZeroedAlloc(size_t bytes) {
    if (bytes == 0) return nullptr;
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void scratchZeroedFree(void* memory, size_t bytes) {
    if (memory) munmap(memory, bytes);
}
