#include "transitions/effectrandom.h"

#include <cstdlib>
#include <ctime>

void SeedEffectRandom(uint32_t seed) {
    std::srand(seed);
    srand48(static_cast<long>(seed));
}

void SeedEffectRandomFromTime() { SeedEffectRandom(static_cast<uint32_t>(std::time(nullptr))); }

int32_t EffectRand() { return std::rand(); }

double EffectDrand() { return drand48(); }
