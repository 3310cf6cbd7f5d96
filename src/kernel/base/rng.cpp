#include "kernel/base/rng.h"

#include "kernel/base/runreset.h"


namespace {
Rng shared = {1u};
}

int32_t rngStep(Rng* rng) {
    rng->state = rng->state * 214013u + 2531011u;
    return static_cast<int32_t>((rng->state >> 16) & 0x7FFFu);
}

void rngSeed(uint32_t seed) {
    shared.state = seed;
}

int32_t rngNext() {
    return rngStep(&shared);
}

int32_t rngBelow(int32_t n) {
    if (n < 1) return 0;
    // Two draws give 30 bits, enough for any index a run can hold; 64-bit product avoids overflow.
    uint32_t v = (static_cast<uint32_t>(rngNext()) << 15) | static_cast<uint32_t>(rngNext());
    return static_cast<int32_t>((static_cast<uint64_t>(v) * static_cast<uint64_t>(n)) >> 30);
}

double rngUniform() {
    uint32_t v = (static_cast<uint32_t>(rngNext()) << 15) | static_cast<uint32_t>(rngNext());
    return static_cast<double>(v) / 1073741824.0;
}

void rngResetState() {
    shared.state = 1u;
}
static const RunReset gRunReset(kRunResetGeometry, "rng", rngResetState);
