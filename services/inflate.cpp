// The inflater and its zlib and gzip unwrappers.
//
// Input that no valid stream holds fails with result 2 instead of being
// decoded somehow: a code set with more codes than its lengths allow, a bit
// pattern that is no code of an incomplete set, a length repeat with nothing
// before it or past the lengths it fills, the length symbols 286-287 and the
// distance codes 30-31, a stored block whose NLEN is not the complement of
// LEN, and a stream that ends before its last block does. Every symbol
// consumes at least one bit, so decoding always ends.
#include <array>
#include <cstring>

#include "services/checksum.hpp"
#include "services/deflate.hpp"
#include "services/deflate_codes.hpp"

namespace zuv::deflate {

namespace {

constexpr int DONE = 0, NO_ROOM = 1, BAD = 2, STORED_SHORT = 3, BAD_TYPE = 4, BAD_DISTANCE = 5;

using namespace codes;

// The order in which a dynamic block gives the code-length code's lengths.
constexpr uint8_t length_order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr std::array<uint8_t, 256> byte_reversal = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; i++) {
        int r = 0;
        for (int b = 0; b < 8; b++) r |= ((i >> b) & 1) << (7 - b);
        t[size_t(i)] = uint8_t(r);
    }
    return t;
}();

struct BitReader {
    const uint8_t* in;
    int64_t length;
    int64_t position = 0;
    uint32_t buffer = 0;
    int count = 0;
    bool overrun = false;  // more bits were consumed than the input holds

    // Keeps at least 16 bits buffered while input remains (at most 23).
    void refill() {
        while (count < 16 && position < length) {
            buffer |= uint32_t(in[position++]) << count;
            count += 8;
        }
    }
    // The next n bits (n <= 16), least significant first; zeros past the end.
    uint32_t take(int n) {
        uint32_t v = buffer & ((1u << n) - 1);
        if (n > count) {
            overrun = true;
            count = n;
        }
        buffer >>= n;
        count -= n;
        refill();
        return v;
    }
};

// A canonical code table: an entry per symbol, the code left-aligned in the
// top bits OR symbol << 4 OR length, in increasing order of (length, symbol),
// so of the left-aligned codes; the symbols without a code come first as 0.
// Codes of up to FAST_BITS bits are also found directly: fast[the next
// FAST_BITS bits as they arrive] is symbol << 4 OR length, or 0 for a longer
// code (or none), which the search of the entries then finds.
constexpr int FAST_BITS = 9;

struct Table {
    uint32_t entries[288];
    int n;
    uint16_t fast[1 << FAST_BITS];
};

// Builds the table of n code lengths; false when the lengths give more codes
// than there is room for (no prefix code has them).
bool build(Table& t, const uint8_t* lengths, int n) {
    int count[16] = {};
    for (int i = 0; i < n; i++) count[lengths[i]]++;
    int room = 1;
    for (int len = 1; len < 16; len++) {
        room = room * 2 - count[len];
        if (room < 0) return false;
    }
    uint32_t next_code[16];
    int next_position[16];
    uint32_t code = 0;
    int position = count[0];
    for (int len = 1; len < 16; len++) {
        code = (code + (len > 1 ? uint32_t(count[len - 1]) : 0)) << 1;
        next_code[len] = code;
        next_position[len] = position;
        position += count[len];
    }
    // next_code[1] is 0 and each length starts where the shorter codes end.
    for (int i = 0; i < count[0]; i++) t.entries[i] = 0;
    for (uint16_t& f : t.fast) f = 0;
    for (int s = 0; s < n; s++) {
        int len = lengths[s];
        if (len == 0) continue;
        uint32_t c = next_code[len]++;
        t.entries[next_position[len]++] = (c << (32 - len)) | uint32_t(s) << 4 | uint32_t(len);
        if (len > FAST_BITS) continue;
        // The code arrives most significant bit first: reversed, it is the low bits of the buffer.
        uint32_t wire = 0;
        for (int b = 0; b < len; b++) wire |= ((c >> b) & 1) << (len - 1 - b);
        for (uint32_t rest = 0; rest < (1u << (FAST_BITS - len)); rest++)
            t.fast[wire | rest << len] = uint16_t(s << 4 | len);
    }
    t.n = n;
    return true;
}

// The next symbol, or -1 when the buffered bits start no code of the table.
int decode(BitReader& r, const Table& t) {
    if (uint16_t f = t.fast[r.buffer & ((1u << FAST_BITS) - 1)]) {
        r.take(f & 15);
        return f >> 4;
    }
    uint32_t bits = r.buffer & 0xFFFF;
    uint32_t w = uint32_t(byte_reversal[bits & 0xFF]) << 24 | uint32_t(byte_reversal[bits >> 8]) << 16 | 0xFFFF;
    // The last entry not greater than w: a binary search whose steps choose
    // without branching (the halves keep the answer in [base, base + n)).
    const uint32_t* base = t.entries;
    int n = t.n;
    while (n > 1) {
        int half = n / 2;
        base = base[half] <= w ? base + half : base;
        n -= half;
    }
    if (base[0] > w) return -1;
    uint32_t e = base[0];
    int len = int(e & 15);
    if (len == 0 || ((e ^ w) >> (32 - len)) != 0) return -1;
    r.take(len);
    return int((e >> 4) & 0x1FF);
}

const Table& fixed_literal_table() {
    static const Table t = [] {
        uint8_t lengths[288];
        for (int s = 0; s < 288; s++) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        Table table;
        build(table, lengths, 288);
        return table;
    }();
    return t;
}

const Table& fixed_distance_table() {
    static const Table t = [] {
        uint8_t lengths[32];
        for (uint8_t& l : lengths) l = 5;
        Table table;
        build(table, lengths, 32);
        return table;
    }();
    return t;
}

struct Output {
    uint8_t* out;
    int64_t capacity;
    int64_t produced = 0;

    void put(uint8_t byte) {
        if (produced < capacity) out[produced] = byte;
        produced++;
    }
};

// Reads a dynamic block's code lengths and builds its two tables.
int read_dynamic_tables(BitReader& r, Table& literals, Table& distances) {
    int hlit = int(r.take(5)) + 257, hdist = int(r.take(5)) + 1, hclen = int(r.take(4)) + 4;
    uint8_t code_lengths[19] = {};
    for (int i = 0; i < hclen; i++) code_lengths[length_order[i]] = uint8_t(r.take(3));
    Table length_code;
    if (r.overrun || !build(length_code, code_lengths, 19)) return BAD;
    uint8_t lengths[320];
    int total = hlit + hdist;
    for (int i = 0; i < total;) {
        int symbol = decode(r, length_code);
        if (symbol < 0 || r.overrun) return BAD;
        if (symbol < 16) {
            lengths[i++] = uint8_t(symbol);
            continue;
        }
        uint8_t value = 0;
        int repeat;
        if (symbol == 16) {
            if (i == 0) return BAD;
            value = lengths[i - 1];
            repeat = 3 + int(r.take(2));
        } else if (symbol == 17) {
            repeat = 3 + int(r.take(3));
        } else {
            repeat = 11 + int(r.take(7));
        }
        if (r.overrun || i + repeat > total) return BAD;
        while (repeat-- > 0) lengths[i++] = value;
    }
    if (!build(literals, lengths, hlit) || !build(distances, lengths + hlit, hdist)) return BAD;
    return DONE;
}

// Decodes one Huffman-coded block up to its end-of-block symbol.
int inflate_codes(BitReader& r, Output& o, const Table& literals, const Table& distances, int64_t limit) {
    for (;;) {
        int symbol = decode(r, literals);
        if (symbol < 0 || r.overrun) return BAD;
        if (symbol < 256) {
            o.put(uint8_t(symbol));
        } else if (symbol == 256) {
            return DONE;
        } else {
            int lc = symbol - 257;
            if (lc >= 29) return BAD;
            int length = length_base[lc] + int(r.take(length_extra[lc]));
            int dc = decode(r, distances);
            if (dc < 0 || dc >= 30 || r.overrun) return BAD;
            int64_t distance = distance_base[dc] + int64_t(r.take(distance_extra[dc]));
            if (r.overrun) return BAD;
            if (distance > o.produced) return BAD_DISTANCE;
            if (o.produced + length <= o.capacity) {
                // Byte by byte: an overlapping copy repeats the pattern.
                uint8_t* to = o.out + o.produced;
                const uint8_t* from = to - distance;
                for (int i = 0; i < length; i++) to[i] = from[i];
                o.produced += length;
            } else if (o.produced >= o.capacity) {
                o.produced += length;  // past the area: only counted
            } else {
                // The source of a stored byte lies before it, so was stored too.
                for (int i = 0; i < length; i++) o.put(o.produced - distance < o.capacity ? o.out[o.produced - distance] : 0);
            }
        }
        if (o.produced > limit) return NO_ROOM;
    }
}

inline uint32_t little_endian(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint32_t big_endian(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

}  // namespace

int inflate(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length, int64_t limit) {
    BitReader r{in, length};
    r.refill();
    Output o{out, out ? *size : 0};
    int result = DONE;
    for (;;) {
        bool last = r.take(1) != 0;
        int type = int(r.take(2));
        if (r.overrun) {
            result = BAD;
            break;
        }
        if (type == 0) {
            r.take(r.count % 8);  // to the byte boundary
            uint32_t len = r.take(16), nlen = r.take(16);
            if (r.overrun || (len ^ 0xFFFF) != nlen) {
                result = BAD;
                break;
            }
            // The whole bytes still buffered go back to the input.
            r.position -= r.count / 8;
            r.buffer = 0;
            r.count = 0;
            if (r.length - r.position < int64_t(len)) {
                result = STORED_SHORT;
                break;
            }
            if (len > 0 && o.produced + len <= o.capacity) std::memcpy(o.out + o.produced, in + r.position, len);
            o.produced += len;
            r.position += len;
            r.refill();
            if (o.produced > limit) {
                result = NO_ROOM;
                break;
            }
        } else if (type == 3) {
            result = BAD_TYPE;
            break;
        } else {
            Table dynamic_literals, dynamic_distances;
            const Table* literals = &fixed_literal_table();
            const Table* distances = &fixed_distance_table();
            if (type == 2) {
                result = read_dynamic_tables(r, dynamic_literals, dynamic_distances);
                if (result != DONE) break;
                literals = &dynamic_literals;
                distances = &dynamic_distances;
            }
            result = inflate_codes(r, o, *literals, *distances, limit);
            if (result != DONE) break;
        }
        if (last) break;
    }
    *size = o.produced;
    if (result == DONE && o.produced > o.capacity) result = NO_ROOM;
    return result;
}

int zlib_inflate(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length, int64_t limit) {
    if (length < 6) return BAD;
    uint32_t cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) return BAD;
    int result = inflate(out, size, in + 2, length - 6, limit);
    if (result != DONE) return result;
    if (checksum::adler32(out, size_t(*size)) != big_endian(in + length - 4)) return BAD;
    return DONE;
}

int gunzip(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length, int64_t limit) {
    constexpr uint8_t FHCRC = 0x02, FEXTRA = 0x04, FNAME = 0x08, FCOMMENT = 0x10;
    if (length < 18 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || in[3] >= 32) return BAD;
    uint8_t flags = in[3];
    // The header ends before the 8-byte trailer.
    const int64_t end = length - 8;
    int64_t p = 10;
    if (flags & FEXTRA) {
        if (end - p < 2) return BAD;
        int64_t extra = in[p] | in[p + 1] << 8;
        p += 2;
        if (end - p < extra) return BAD;
        p += extra;
    }
    for (uint8_t text : {FNAME, FCOMMENT}) {
        if (!(flags & text)) continue;
        while (p < end && in[p] != 0) p++;
        if (p >= end) return BAD;
        p++;  // the NUL
    }
    if (flags & FHCRC) {
        if (end - p < 2) return BAD;
        if ((checksum::crc32(in, size_t(p)) & 0xFFFF) != uint32_t(in[p] | in[p + 1] << 8)) return BAD;
        p += 2;
    }
    const uint32_t stated_crc = little_endian(in + end), stated_size = little_endian(in + end + 4);
    int result = inflate(out, size, in + p, end - p, limit);
    if (result != DONE && result != NO_ROOM) return result;
    // Stopped at the limit, the count is not the full size.
    if (result == NO_ROOM && *size > limit) return NO_ROOM;
    // The trailer states the size modulo 2^32; it checks the decoding but never sets its size.
    if (uint32_t(*size) != stated_size) return BAD;
    if (result == NO_ROOM) return NO_ROOM;
    if (checksum::crc32(out, size_t(*size)) != stated_crc) return BAD;
    return DONE;
}

}  // namespace zuv::deflate
