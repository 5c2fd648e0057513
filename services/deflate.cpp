// The compressor and its zlib and gzip framings.
#include <array>

#include "runtime/datatypes/symbol.hpp"
#include "services/checksum.hpp"
#include "services/deflate.hpp"
#include "services/deflate_codes.hpp"

namespace zuv::deflate {

namespace method {
int32_t zlib = 0, deflate = 0, gzip = 0;
}

void init_words() {
    method::zlib = symbol::make("zlib");
    method::deflate = symbol::make("deflate");
    method::gzip = symbol::make("gzip");
}

namespace {

constexpr int BUCKETS = 1024;
constexpr int SLOTS = 4;
constexpr int64_t WINDOW = 32768;
constexpr int MIN_MATCH = 3;
constexpr int MAX_MATCH = 258;

// A fixed-code symbol ready to write: its code bits reversed (the wire takes
// a Huffman code most-significant bit first, the bit writer least first),
// its bit count, and extra bits following it.
struct Code {
    uint16_t bits;
    uint8_t count;
};

constexpr uint32_t reverse(uint32_t code, int n) {
    uint32_t r = 0;
    for (int i = 0; i < n; i++) r |= ((code >> i) & 1) << (n - 1 - i);
    return r;
}

// The fixed literal/length code of RFC 1951: 0-143 eight bits from 0x30,
// 144-255 nine bits from 0x190, 256-279 seven bits from 0, 280-287 eight bits from 0xC0.
constexpr std::array<Code, 288> fixed_literal_codes = [] {
    std::array<Code, 288> t{};
    for (int s = 0; s < 288; s++) {
        int n = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        uint32_t c = s < 144 ? 0x30 + s : s < 256 ? 0x190 + (s - 144) : s < 280 ? s - 256 : 0xC0 + (s - 280);
        t[size_t(s)] = {uint16_t(reverse(c, n)), uint8_t(n)};
    }
    return t;
}();

using namespace codes;

// The length code (0-28, to add to 257) of each match length 3..258.
constexpr std::array<uint8_t, MAX_MATCH + 1> length_codes = [] {
    std::array<uint8_t, MAX_MATCH + 1> t{};
    for (int code = 0; code < 29; code++) {
        int last = code + 1 < 29 ? length_base[code + 1] - 1 : MAX_MATCH;
        if (code == 27) last = 257;  // 258 has a code of its own
        for (int len = length_base[code]; len <= last; len++) t[size_t(len)] = uint8_t(code);
    }
    return t;
}();

// The distance code (0-29) of a distance 1..32768.
inline int distance_code(uint32_t distance) {
    uint32_t x = distance - 1;
    if (x < 4) return int(x);
    int k = 31 - __builtin_clz(x);  // x lies in [2^k, 2^(k+1)), k >= 2
    return 2 * k + int((x >> (k - 1)) & 1);
}

struct BitWriter {
    uint8_t* out;
    int64_t capacity;
    int64_t position = 0;
    uint32_t buffer = 0;
    int count = 0;

    // Holds at most 7 + 16 bits: values never pass 16 bits.
    void put(uint32_t value, int n) {
        buffer |= value << count;
        count += n;
        while (count >= 8) {
            if (position < capacity) out[position] = uint8_t(buffer);
            position++;
            buffer >>= 8;
            count -= 8;
        }
    }
    void flush() {
        if (count > 0) put(0, 8 - count);
    }
};

inline uint32_t three_bytes(const uint8_t* in, int64_t length, int64_t p) {
    // Bytes past the end count as zero.
    uint32_t b0 = p < length ? in[p] : 0, b1 = p + 1 < length ? in[p + 1] : 0, b2 = p + 2 < length ? in[p + 2] : 0;
    return b0 << 16 | b1 << 8 | b2;
}

inline int bucket_of(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return int(x & (BUCKETS - 1));
}

inline int slot_of(uint32_t y) { return int(((y >> 14) - y) & (SLOTS - 1)); }

inline void write_literal(BitWriter& w, int symbol) {
    const Code& c = fixed_literal_codes[size_t(symbol)];
    w.put(c.bits, c.count);
}

void write_match(BitWriter& w, int length, uint32_t distance) {
    int lc = length_codes[size_t(length)];
    write_literal(w, 257 + lc);
    if (length_extra[lc]) w.put(uint32_t(length - length_base[lc]), length_extra[lc]);
    int dc = distance_code(distance);
    w.put(reverse(uint32_t(dc), 5), 5);
    if (distance_extra[dc]) w.put(distance - distance_base[dc], distance_extra[dc]);
}

void put_big_endian(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

void put_little_endian(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

}  // namespace

int compress(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length) {
    // Each slot holds an earlier step's start position, or -1.
    int64_t table[BUCKETS][SLOTS];
    for (auto& bucket : table)
        for (int64_t& slot : bucket) slot = -1;
    BitWriter w{out, *size};
    w.put(1, 1);  // the last block
    w.put(1, 2);  // fixed Huffman codes
    int64_t p = 0;
    while (p < length) {
        int64_t start = p;
        int bucket = bucket_of(three_bytes(in, length, p));
        bool matched = false;
        if (p >= MIN_MATCH && length - p >= MIN_MATCH) {
            for (int s = 0; s < SLOTS && !matched; s++) {
                int64_t c = table[bucket][s];
                if (c < 0 || c >= p || p >= c + WINDOW) continue;
                if (in[c] != in[p] || in[c + 1] != in[p + 1] || in[c + 2] != in[p + 2]) continue;
                int n = MIN_MATCH;
                while (n < MAX_MATCH && p + n < length && in[c + n] == in[p + n]) n++;
                write_match(w, n, uint32_t(p - c));
                p += n;
                matched = true;
            }
        }
        if (!matched) {
            write_literal(w, in[p]);
            p++;
        }
        table[bucket][slot_of(three_bytes(in, length, p))] = start;
    }
    w.put(0, 7);  // end of block
    w.flush();
    *size = w.position;
    return w.position > w.capacity ? 1 : 0;
}

int zlib_deflate(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length) {
    int64_t capacity = *size;
    if (capacity < 6) {
        *size = length + 6;
        return 2;
    }
    out[0] = 0x78;  // deflate with a 32 KiB window
    out[1] = 0x01;  // the fastest level; 0x7801 is a multiple of 31
    int64_t n = capacity - 2;
    if (compress(out + 2, &n, in, length) != 0) {
        *size = n + 6;
        return 1;
    }
    *size = n + 6;
    if (*size > capacity) return 1;
    put_big_endian(out + 2 + n, checksum::adler32(in, size_t(length)));
    return 0;
}

int gzip(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length) {
    int64_t capacity = *size;
    if (capacity < 18) {
        *size = length + 18;
        return 2;
    }
    // Method 8, no flags, modification time 0, extra flags 4, system byte 4.
    static const uint8_t header[10] = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x04};
    for (int i = 0; i < 10; i++) out[i] = header[i];
    int64_t n = capacity - 10;
    if (compress(out + 10, &n, in, length) != 0) {
        *size = n + 18;
        return 1;
    }
    *size = n + 18;
    if (*size > capacity) return 1;
    put_little_endian(out + 10 + n, checksum::crc32(in, size_t(length)));
    put_little_endian(out + 14 + n, uint32_t(length));  // the size modulo 2^32
    return 0;
}

}  // namespace zuv::deflate
