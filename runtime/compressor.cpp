#include "runtime/compressor.hpp"

#include <cstring>

namespace zuv::compressor {

namespace {

uint32_t read32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// The bit reader of one block; input is bounded by end.
struct BitReader {
    const uint8_t* pos;
    const uint8_t* end;
    uint64_t buffer = 0;
    int32_t count = 0;

    // n bits (n <= 24), least significant first; false when the input ran out.
    bool get(int32_t n, uint32_t* out) {
        while (count < n) {
            if (pos >= end) return false;
            buffer |= uint64_t(*pos++) << count;
            count += 8;
        }
        *out = uint32_t(buffer & ((uint64_t(1) << n) - 1));
        buffer >>= n;
        count -= n;
        return true;
    }
};

bool read_length(BitReader& r, uint32_t* length) {
    static const struct { int32_t bits; uint32_t base; } codes[5] = {{2, 0}, {2, 4}, {2, 8}, {3, 12}, {5, 20}};
    uint32_t flag, v;
    for (const auto& code : codes) {
        if (!r.get(1, &flag)) return false;
        if (flag) {
            if (!r.get(code.bits, &v)) return false;
            *length = code.base + v;
            return true;
        }
    }
    if (!r.get(9, &v)) return false;
    *length = 52 + v;
    return true;
}

bool read_distance(BitReader& r, uint32_t* distance) {
    uint32_t w, v;
    if (!r.get(4, &w)) return false;
    int32_t nb = 2 + int32_t(w);
    if (nb == 2) return r.get(3, distance);
    if (!r.get(nb, &v)) return false;
    *distance = (1u << nb) + v;
    return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> decompress(const uint8_t* data, size_t length) {
    if (length < 8) return std::nullopt;
    uint32_t compressed = read32(data), total = read32(data + 4);
    if (compressed > length - 8 || total > MAX_OUTPUT) return std::nullopt;
    const uint8_t* pos = data + 8;
    const uint8_t* end = pos + compressed;
    size_t capacity = size_t(total) + 8;
    std::vector<uint8_t> out;
    out.reserve(capacity);
    while (pos < end) {
        if (end - pos < 4) return std::nullopt;
        uint32_t block_length = read32(pos);
        pos += 4;
        if (block_length < 1 || block_length > uint32_t(MAX_BLOCK)) return std::nullopt;
        if (out.size() + block_length > capacity) return std::nullopt;
        size_t block_start = out.size(), block_end = block_start + block_length;
        BitReader r{pos, end};
        while (out.size() < block_end) {
            uint32_t flag, v;
            if (!r.get(1, &flag)) return std::nullopt;
            if (!flag) {
                if (!r.get(8, &v)) return std::nullopt;
                out.push_back(uint8_t(v));
                continue;
            }
            uint32_t len, distance;
            if (!read_length(r, &len) || !read_distance(r, &distance)) return std::nullopt;
            len += 3;
            size_t current = out.size();
            if (size_t(distance) + 1 > current - block_start) return std::nullopt;
            if (current + len > block_end) return std::nullopt;
            size_t from = current - distance - 1;
            for (uint32_t i = 0; i < len; i++) out.push_back(out[from + i]);
        }
        pos = r.pos;
    }
    return out;
}

namespace {

struct BitWriter {
    std::vector<uint8_t>& out;
    uint64_t buffer = 0;
    int32_t count = 0;

    void put(uint32_t value, int32_t n) {
        buffer |= uint64_t(value) << count;
        count += n;
        while (count >= 8) {
            out.push_back(uint8_t(buffer));
            buffer >>= 8;
            count -= 8;
        }
    }
    void flush() {
        if (count > 0) out.push_back(uint8_t(buffer));
        buffer = 0;
        count = 0;
    }
};

void write32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) out[at + size_t(i)] = uint8_t(v >> (8 * i));
}

void put_match(BitWriter& w, uint32_t length, uint32_t distance) {
    uint32_t m = length - 3;
    w.put(1, 1);
    if (m < 4) { w.put(1, 1); w.put(m, 2); }
    else if (m < 8) { w.put(0b10, 2); w.put(m - 4, 2); }
    else if (m < 12) { w.put(0b100, 3); w.put(m - 8, 2); }
    else if (m < 20) { w.put(0b1000, 4); w.put(m - 12, 3); }
    else if (m < 52) { w.put(0b10000, 5); w.put(m - 20, 5); }
    else { w.put(0, 5); w.put(m - 52, 9); }
    if (distance < 8) {
        w.put(0, 4);
        w.put(distance, 3);
    } else {
        int32_t nb = 31 - __builtin_clz(distance);
        w.put(uint32_t(nb - 2), 4);
        w.put(distance - (1u << nb), nb);
    }
}

}  // namespace

std::vector<uint8_t> compress(const uint8_t* data, size_t length) {
    constexpr uint32_t MAX_DISTANCE = (1u << 18) - 1;
    constexpr uint32_t MAX_MATCH = 566;
    constexpr int32_t HASH_BITS = 15;
    constexpr int32_t CHAIN_LIMIT = 64;
    std::vector<uint8_t> out(8, 0);
    // The chain heads (128 KB) and links are kept from call to call and set
    // afresh for every block: compressing many small inputs then maps and
    // clears no new table each time.
    static thread_local std::vector<int32_t> head(size_t(1) << HASH_BITS), prev;
    for (size_t block = 0; block < length; block += MAX_BLOCK) {
        size_t n = length - block < size_t(MAX_BLOCK) ? length - block : size_t(MAX_BLOCK);
        const uint8_t* src = data + block;
        size_t length_at = out.size();
        out.resize(out.size() + 4);
        write32(out, length_at, uint32_t(n));
        std::fill(head.begin(), head.end(), -1);
        prev.assign(n, -1);
        auto hash_at = [&](size_t i) {
            return (uint32_t(src[i]) << 10 ^ uint32_t(src[i + 1]) << 5 ^ src[i + 2]) & ((1u << HASH_BITS) - 1);
        };
        auto insert = [&](size_t i) {
            if (i + 3 > n) return;
            uint32_t h = hash_at(i);
            prev[i] = head[h];
            head[h] = int32_t(i);
        };
        BitWriter w{out};
        size_t i = 0;
        while (i < n) {
            uint32_t best = 0, best_from = 0;
            if (i + 3 <= n) {
                int32_t candidate = head[hash_at(i)];
                for (int32_t tries = 0; candidate >= 0 && tries < CHAIN_LIMIT; tries++) {
                    size_t c = size_t(candidate);
                    if (i - c > MAX_DISTANCE + 1) break;
                    uint32_t len = 0;
                    while (len < MAX_MATCH && i + len < n && src[c + len] == src[i + len]) len++;
                    if (len > best) {
                        best = len;
                        best_from = uint32_t(c);
                    }
                    candidate = prev[c];
                }
            }
            if (best >= 3) {
                put_match(w, best, uint32_t(i) - best_from - 1);
                for (uint32_t k = 0; k < best; k++) insert(i + k);
                i += best;
            } else {
                w.put(0, 1);
                w.put(src[i], 8);
                insert(i);
                i++;
            }
        }
        w.flush();
    }
    write32(out, 0, uint32_t(out.size() - 8));
    write32(out, 4, uint32_t(length));
    return out;
}

}  // namespace zuv::compressor
