#include "runtime/murmur.hpp"

#include <cstring>

namespace zuv::murmur {

uint32_t hash3_x86_32(const void* data, size_t len, uint32_t seed) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    const size_t blocks = len / 4;
    uint32_t h = seed;
    for (size_t i = 0; i < blocks; i++) {
        uint32_t k;
        std::memcpy(&k, bytes + i * 4, 4);  // the hosts we build for are little-endian
        h = mix_block(h, k);
    }
    const uint8_t* tail = bytes + blocks * 4;
    uint32_t k = 0;
    switch (len & 3) {
        case 3: k ^= uint32_t(tail[2]) << 16; [[fallthrough]];
        case 2: k ^= uint32_t(tail[1]) << 8; [[fallthrough]];
        case 1:
            k ^= tail[0];
            k *= 0xCC9E2D51u;
            k = (k << 15) | (k >> 17);
            k *= 0x1B873593u;
            h ^= k;
    }
    h ^= uint32_t(len);
    return fmix32(h);
}

}  // namespace zuv::murmur
