// MurmurHash3, x86 32-bit variant: the byte hash of the hash tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::murmur {

// The final avalanche mix of MurmurHash3 (fmix32).
constexpr uint32_t fmix32(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

// Mixes one 4-byte block into the running hash.
constexpr uint32_t mix_block(uint32_t h, uint32_t k) {
    k *= 0xCC9E2D51u;
    k = (k << 15) | (k >> 17);
    k *= 0x1B873593u;
    h ^= k;
    h = (h << 13) | (h >> 19);
    return h * 5 + 0xE6546B64u;
}

// MurmurHash3_x86_32 of len bytes: little-endian 4-byte blocks, a 1-3 byte
// tail, the length mixed in, then the final mix.
uint32_t hash3_x86_32(const void* data, size_t len, uint32_t seed);

}  // namespace zuv::murmur
