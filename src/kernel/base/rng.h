// The library's seeded pseudo-random generator: every random choice of a run (thinning, random
// pivots, randomised steps) draws from it, so that two runs with the same input repeat exactly.
// Values follow the classic 15-bit linear congruential sequence that random choices were tuned on.
#pragma once

#include <cstdint>

constexpr int32_t kRngMax = 32767;  // largest value rngNext returns

struct Rng {
    uint32_t state;
};

// One step of an explicit generator: a value in [0, kRngMax].
int32_t rngStep(Rng* rng);

// The shared run generator.
void rngSeed(uint32_t seed);
int32_t rngNext();                 // [0, kRngMax]
int32_t rngBelow(int32_t n);       // [0, n) for n >= 1, 0 otherwise; no overflow for any n
double rngUniform();               // [0, 1)
void rngResetState();              // seed 1, as at load; call at the start of every run
