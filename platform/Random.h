// The process-wide random generator: thread-safe, seeded once at start;
// tests seed it for repeatable runs.
#pragma once

#include <cstdint>

// Uniform integer in [0, range); 0 when range <= 0.
int32_t Random(int32_t range);
// Uniform value in [0, 1).
double RandomFloat();
void RandSeed(uint64_t seed);
// Seeds from the system's entropy source.
void Randomize();
