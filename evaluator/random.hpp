// The random generator behind the `random` action of every datatype.
//
// One process-wide 32-bit Mersenne Twister (624 words of state). Its right
// shifts are arithmetic shifts of signed 32-bit words, not logical ones, so
// its sequences differ from the usual published ones once a word has its sign
// bit set; the last tempering step then always clears the sign bit, and every
// output lies in 0..2147483647 (uniform_int relies on that). Seeding with s
// makes s itself word 0, so the first output after a seed is that word
// tempered (seed 0 gives 0 first); the state is regenerated every 624 outputs.
//
// The secure variant draws 31 bits from the system's cryptographic source
// instead. Single-threaded: the state is global and unlocked.
//
// Inside a datatype's namespace the name `random` is that type's slot
// function: call these as zuv::random::...
#pragma once

#include <cstdint>

namespace zuv::random {

constexpr uint32_t START_SEED = 19650218;

// Seeds the state with START_SEED and fixes the hash tables' seed word.
void init();
// Restarts the sequence from s (the /seed refinement of the actions).
void seed(uint32_t s);
// The next output, 0..2147483647.
int32_t next_int();
// 31 bits from the system's cryptographic source, 0..2147483647.
int32_t secure_int();
// A uniformly drawn integer: 1..n for n > 0, n..-1 for n < 0, 0 for n = 0;
// from the secure source when secure.
int32_t uniform_int(bool secure, int32_t n);

}  // namespace zuv::random
