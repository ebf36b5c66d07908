// The random numbers of the transition effects: rand() for the stripe
// thickness, drand48() for the random effect choice. One place seeds both,
// with the time at start-up, so that tests can make a run repeatable.
#pragma once

#include <cstdint>

// Seeds both generators; SeedEffectRandomFromTime uses the time in seconds.
void SeedEffectRandom(uint32_t seed);
void SeedEffectRandomFromTime();
// rand(): 0..RAND_MAX.
int32_t EffectRand();
// drand48(): uniform in [0, 1).
double EffectDrand();
