#include "evaluator/random.hpp"

#include <climits>

#include "runtime/hash.hpp"
#include "runtime/runtime.hpp"
#include "services/checksum.hpp"

namespace zuv::random {

namespace {

constexpr int32_t WORDS = 624;
constexpr int32_t MIDDLE = 397;
constexpr uint32_t MATRIX = 0x9908B0DF;
constexpr uint32_t UPPER_MASK = 0x80000000;
constexpr uint32_t LOWER_MASK = 0x7FFFFFFF;
constexpr uint32_t SEED_MULTIPLIER = 1812433253;
// Any fixed non-zero value: hashes never leave a run.
constexpr uint32_t HASH_SEED = 0x5A17C0DE;

// The state lives for the whole process: it is made before the memory
// manager and never released, so it is a plain static array.
uint32_t state[WORDS];
int32_t next_word = WORDS;  // index of the next word to temper

// Every right shift of the generator keeps the sign: an arithmetic shift of
// the word read as signed (C++20 defines it so).
inline uint32_t shift_right(uint32_t y, int n) { return uint32_t(int32_t(y) >> n); }

inline uint32_t twist(uint32_t upper_word, uint32_t lower_word, uint32_t far_word) {
    uint32_t y = (upper_word & UPPER_MASK) | (lower_word & LOWER_MASK);
    return far_word ^ shift_right(y, 1) ^ ((y & 1) ? MATRIX : 0);
}

void regenerate() {
    for (int32_t k = 0; k < WORDS - 1; k++) state[k] = twist(state[k], state[k + 1], state[(k + MIDDLE) % WORDS]);
    state[WORDS - 1] = twist(state[WORDS - 1], state[0], state[MIDDLE - 1]);
    next_word = 0;
}

}  // namespace

void init() {
    seed(START_SEED);
    hash::seed = HASH_SEED;
}

void seed(uint32_t s) {
    state[0] = s;
    for (int32_t i = 1; i < WORDS; i++) {
        uint32_t previous = state[i - 1];
        state[i] = SEED_MULTIPLIER * (previous ^ shift_right(previous, 30)) + uint32_t(i);
    }
    next_word = 0;
}

int32_t next_int() {
    if (next_word >= WORDS) regenerate();
    uint32_t y = state[next_word++];
    y ^= shift_right(y, 11);
    y ^= (y << 7) & 0x9D2C5680;
    y ^= (y << 15) & 0xEFC60000;
    y ^= shift_right(y, 18);  // y's sign bit meets its own copy: always cleared
    return int32_t(y);
}

int32_t secure_int() {
    uint8_t bytes[4];
    // No secure source: never hand out a predictable number as a secure one.
    if (!checksum::random_bytes(bytes, sizeof bytes)) runtime::quit_with_runtime_error(99, runtime::get_return_address());
    uint32_t word = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
    return int32_t(word & LOWER_MASK);
}

int32_t uniform_int(bool secure, int32_t n) {
    auto draw = [secure] { return secure ? secure_int() : next_int(); };
    if (n == 0) return 0;
    if (n == INT_MIN) return -1 - draw();
    bool negative = n < 0;
    if (negative) n = -n;
    // Draws at or above the last whole multiple of n are thrown back, so
    // that every residue is equally likely.
    int32_t limit = (INT_MAX / n) * n;
    int32_t r;
    do r = draw();
    while (r >= limit);
    int32_t value = r % n + 1;
    return negative ? -value : value;
}

}  // namespace zuv::random
