// The DEFLATE coder and its framings at the C++ level: exact output of the
// compressor, the capacity answers of both sides, the block kinds and the
// malformed streams of the inflater (built bit by bit here), and the zlib and
// gzip headers and trailers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "services/checksum.hpp"
#include "services/deflate.hpp"

using namespace zuv;
using Bytes = std::vector<uint8_t>;

namespace {

using Coder = int (*)(uint8_t*, int64_t*, const uint8_t*, int64_t);
using Decoder = int (*)(uint8_t*, int64_t*, const uint8_t*, int64_t, int64_t);

Bytes text(const char* s) { return Bytes(s, s + std::strlen(s)); }

// Runs a coder with room for capacity bytes; the output is cut to the size
// it reports when that fits.
int run(Coder coder, const Bytes& in, int64_t capacity, Bytes& out, int64_t* size) {
    out.assign(size_t(capacity), 0xEE);
    *size = capacity;
    int r = coder(out.data(), size, in.data(), int64_t(in.size()));
    if (*size <= capacity) out.resize(size_t(*size));
    return r;
}

// Tries the room compress offers first, then the size asked for.
Bytes encode(Coder coder, const Bytes& in) {
    Bytes out;
    int64_t size;
    if (run(coder, in, int64_t(in.size()) + 32, out, &size) == 1) {
        EXPECT_EQ(run(coder, in, size, out, &size), 0);
    }
    return out;
}

struct Decoded {
    int result;
    int64_t size;
    Bytes bytes;
};

// Measures, then decodes into exactly that room.
Decoded decode(Decoder decoder, const Bytes& in) {
    int64_t size = 0;
    int r = decoder(nullptr, &size, in.data(), int64_t(in.size()), INT64_MAX);
    if (r != 0 && r != 1) return {r, size, {}};
    Bytes out(static_cast<size_t>(size));
    r = decoder(out.data(), &size, in.data(), int64_t(in.size()), INT64_MAX);
    return {r, size, out};
}

Bytes random_bytes(size_t n, uint32_t seed, int alphabet = 256) {
    std::mt19937 gen(seed);
    Bytes out(n);
    for (uint8_t& b : out) b = uint8_t(gen() % uint32_t(alphabet));
    return out;
}

// Writes a stream by hand: fields least-significant bit first, Huffman codes
// most-significant bit first, as RFC 1951 packs them.
struct Bits {
    Bytes bytes;
    int used = 0;  // bits used in the last byte

    void field(uint32_t value, int n) {
        for (int i = 0; i < n; i++) bit((value >> i) & 1);
    }
    void code(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; i--) bit((value >> i) & 1);
    }
    void bit(uint32_t b) {
        if (used == 0) bytes.push_back(0);
        bytes.back() |= uint8_t(b << used);
        used = (used + 1) % 8;
    }
    // A fixed-code literal or length symbol.
    void fixed(int symbol) {
        if (symbol < 144) code(uint32_t(0x30 + symbol), 8);
        else if (symbol < 256) code(uint32_t(0x190 + symbol - 144), 9);
        else if (symbol < 280) code(uint32_t(symbol - 256), 7);
        else code(uint32_t(0xC0 + symbol - 280), 8);
    }
};

// ---- the compressor ----

TEST(Deflate, EmptyInput) {
    EXPECT_EQ(encode(deflate::compress, {}), (Bytes{0x03, 0x00}));
    EXPECT_EQ(encode(deflate::zlib_deflate, {}), (Bytes{0x78, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
    Bytes gz = encode(deflate::gzip, {});
    EXPECT_EQ(gz, (Bytes{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// Each step's start replaces the one slot equal bytes always choose, so the
// next match reaches back one step: 3 literals, then (258, 1), (258, 258) twice
// and (223, 258).
TEST(Deflate, ThousandEqualBytes) {
    Bits expected;
    expected.field(1, 1);
    expected.field(1, 2);
    for (int i = 0; i < 3; i++) expected.fixed('a');
    expected.fixed(285);  // length 258
    expected.code(0, 5);  // distance 1
    for (int i = 0; i < 2; i++) {
        expected.fixed(285);
        expected.code(16, 5);  // distances 257-384
        expected.field(1, 7);
    }
    expected.fixed(283);  // lengths 195-226
    expected.field(223 - 195, 5);
    expected.code(16, 5);
    expected.field(1, 7);
    expected.fixed(256);
    EXPECT_EQ(encode(deflate::compress, Bytes(1000, 'a')), expected.bytes);
}

TEST(Deflate, FirstThreeBytesAreLiterals) {
    Bits expected;
    expected.field(1, 1);
    expected.field(1, 2);
    for (char c : std::string("aaaa")) expected.fixed(c);
    expected.fixed(256);
    EXPECT_EQ(encode(deflate::compress, text("aaaa")), expected.bytes);
}

TEST(Deflate, CapacityAnswers) {
    Bytes in = random_bytes(300, 1, 4);
    Bytes out;
    int64_t size;
    EXPECT_EQ(run(deflate::zlib_deflate, in, 5, out, &size), 2);
    EXPECT_EQ(size, 306);
    EXPECT_EQ(run(deflate::gzip, in, 17, out, &size), 2);
    EXPECT_EQ(size, 318);
    for (Coder coder : {deflate::compress, deflate::zlib_deflate, deflate::gzip}) {
        Bytes full = encode(coder, in);
        int64_t needed = int64_t(full.size());
        // Short by one byte, and short of the whole trailer: the exact size, then identical bytes.
        for (int64_t capacity : {needed - 1, needed - 4}) {
            EXPECT_EQ(run(coder, in, capacity, out, &size), 1);
            EXPECT_EQ(size, needed);
        }
        EXPECT_EQ(run(coder, in, needed, out, &size), 0);
        EXPECT_EQ(out, full);
    }
}

// Input that already looks like gzip data is compressed like any other, so
// decompressing gives it back whole.
TEST(Deflate, GzipInputIsCompressedAgain) {
    Bytes inner = encode(deflate::gzip, text("payload payload payload"));
    Bytes outer = encode(deflate::gzip, inner);
    EXPECT_NE(outer, inner);
    Decoded d = decode(deflate::gunzip, outer);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.bytes, inner);
}

TEST(Deflate, RoundTrips) {
    std::vector<Bytes> inputs = {
        {},
        text("a"),
        random_bytes(1000, 2),
        random_bytes(100000, 3, 3),  // long matches
        random_bytes(70000, 4),      // no matches: every literal coded
    };
    // A repeat further back than the window cannot be a match.
    Bytes far = random_bytes(40000, 5);
    far.insert(far.end(), far.begin(), far.begin() + 1000);
    inputs.push_back(far);
    struct Pair {
        Coder coder;
        Decoder decoder;
    };
    for (Pair p : {Pair{deflate::compress, deflate::inflate}, Pair{deflate::zlib_deflate, deflate::zlib_inflate},
                   Pair{deflate::gzip, deflate::gunzip}})
        for (const Bytes& in : inputs) {
            Decoded d = decode(p.decoder, encode(p.coder, in));
            EXPECT_EQ(d.result, 0);
            EXPECT_EQ(d.bytes, in) << in.size();
        }
}

// ---- the inflater ----

Bytes stored_block(uint16_t len, uint16_t nlen, const Bytes& data) {
    Bytes s = {0x01, uint8_t(len), uint8_t(len >> 8), uint8_t(nlen), uint8_t(nlen >> 8)};
    s.insert(s.end(), data.begin(), data.end());
    return s;
}

TEST(Inflate, BlockKindsAndTheirFaults) {
    Bits type3;
    type3.field(7, 3);
    Bits far;  // a literal, then a match reaching 2 bytes back
    far.field(1, 1);
    far.field(1, 2);
    far.fixed('x');
    far.fixed(257);
    far.code(1, 5);
    Bytes five = text("hello");
    Bytes two_stored = {0x00, 0x02, 0x00, 0xFD, 0xFF, 'h', 'e'};  // not last, then a last one
    Bytes last = stored_block(3, 0xFFFC, text("llo"));
    two_stored.insert(two_stored.end(), last.begin(), last.end());
    struct Case {
        const char* name;
        Bytes in;
        int result;
        Bytes out;
    };
    const Case cases[] = {
        {"empty block", {0x03, 0x00}, 0, {}},
        {"stored", stored_block(5, 0xFFFA, five), 0, five},
        {"two stored blocks", two_stored, 0, five},
        {"stored, one byte short", stored_block(6, 0xFFF9, five), 3, {}},
        {"stored, NLEN not the complement", stored_block(5, 0xFFFB, five), 2, {}},
        {"stored, header cut", {0x01, 0x05, 0x00}, 2, {}},
        {"type 3", type3.bytes, 4, {}},
        {"distance before the start", far.bytes, 5, {}},
        {"nothing", {}, 2, {}},
    };
    for (const Case& c : cases) {
        Bytes out(16);
        int64_t size = 16;
        EXPECT_EQ(deflate::inflate(out.data(), &size, c.in.data(), int64_t(c.in.size())), c.result) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(Bytes(out.begin(), out.begin() + size), c.out) << c.name;
        }
    }
    // The size of a failed match is what came before it.
    int64_t size = 16;
    Bytes out(16);
    deflate::inflate(out.data(), &size, far.bytes.data(), int64_t(far.bytes.size()));
    EXPECT_EQ(size, 1);
}

TEST(Inflate, SmallCapacityGivesTheExactSizeAndTheFirstBytes) {
    Bytes in = random_bytes(5000, 6, 5);
    Bytes packed = encode(deflate::compress, in);
    Bytes out(100, 0xEE);
    int64_t size = 100;
    EXPECT_EQ(deflate::inflate(out.data(), &size, packed.data(), int64_t(packed.size())), 1);
    EXPECT_EQ(size, 5000);
    EXPECT_EQ(out, Bytes(in.begin(), in.begin() + 100));
    // With a limit, decoding stops soon after it.
    size = 0;
    EXPECT_EQ(deflate::inflate(nullptr, &size, packed.data(), int64_t(packed.size()), 1000), 1);
    EXPECT_GT(size, 1000);
    EXPECT_LT(size, 5000);
}

TEST(Inflate, TruncatedStreamsFail) {
    Bytes packed = encode(deflate::compress, random_bytes(3000, 7, 16));
    for (size_t cut : {size_t(1), size_t(2), packed.size() / 2, packed.size() - 1}) {
        int64_t size = 0;
        EXPECT_EQ(deflate::inflate(nullptr, &size, packed.data(), int64_t(cut)), 2) << cut;
    }
}

// Dynamic block headers: HLIT 257, HDIST 1, then the code-length code's
// lengths for the symbols 16, 17, 18, 0 (HCLEN 4).
Bits dynamic_header(int l16, int l17, int l18, int l0) {
    Bits b;
    b.field(1, 1);
    b.field(2, 2);
    b.field(0, 5);
    b.field(0, 5);
    b.field(0, 4);
    for (int l : {l16, l17, l18, l0}) b.field(uint32_t(l), 3);
    return b;
}

TEST(Inflate, MalformedStreamsFailWithTwo) {
    // Codes of lengths 1 each: 0 is "0", 16 is "1".
    Bits first_repeat = dynamic_header(1, 0, 0, 1);
    first_repeat.code(1, 1);
    first_repeat.field(0, 8);
    // Four codes of length 2: 0 "00", 16 "01", 17 "10", 18 "11". 276 zeros for 258 lengths.
    Bits past_end = dynamic_header(2, 2, 2, 2);
    for (int i = 0; i < 2; i++) {
        past_end.code(3, 2);
        past_end.field(127, 7);
    }
    Bits no_length_code = dynamic_header(0, 0, 0, 0);
    no_length_code.field(0, 16);
    // 138 + 120 zero lengths: no literal code at all.
    Bits no_literal_code = dynamic_header(2, 2, 2, 2);
    no_literal_code.code(3, 2);
    no_literal_code.field(127, 7);
    no_literal_code.code(3, 2);
    no_literal_code.field(109, 7);
    no_literal_code.field(0, 16);
    // Three codes of length 1.
    Bits oversubscribed = dynamic_header(1, 1, 0, 1);
    oversubscribed.field(0, 16);
    Bits symbol_286;
    symbol_286.field(1, 1);
    symbol_286.field(1, 2);
    symbol_286.fixed(286);
    symbol_286.field(0, 16);
    Bits distance_30;
    distance_30.field(1, 1);
    distance_30.field(1, 2);
    distance_30.fixed('a');
    distance_30.fixed(257);
    distance_30.code(30, 5);
    distance_30.field(0, 16);
    for (const Bits* b : {&first_repeat, &past_end, &no_length_code, &no_literal_code, &oversubscribed, &symbol_286,
                          &distance_30}) {
        int64_t size = 0;
        EXPECT_EQ(deflate::inflate(nullptr, &size, b->bytes.data(), int64_t(b->bytes.size())), 2)
            << (b - &first_repeat);
    }
}

// A distance code set of one code of length 1 is valid; the pattern it
// leaves unused is no code.
Bits single_distance_code_block(uint32_t distance_bit) {
    Bits b;
    b.field(1, 1);
    b.field(2, 2);
    b.field(1, 5);   // HLIT 258
    b.field(0, 5);   // HDIST 1
    b.field(14, 4);  // HCLEN 18, through the symbol 1
    // In the order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1: 18 "0", 1 "10", 2 "11".
    for (int l : {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2}) b.field(uint32_t(l), 3);
    // 'a' 1, 256 and 257 2 (so 'a' "0", 256 "10", 257 "11"), the distance code 0 1.
    b.code(0, 1);
    b.field(97 - 11, 7);
    b.code(2, 2);
    b.code(0, 1);
    b.field(127, 7);
    b.code(0, 1);
    b.field(9, 7);
    b.code(3, 2);
    b.code(3, 2);
    b.code(2, 2);
    // 'a', then length 3 at distance 1, then the end.
    b.code(0, 1);
    b.code(3, 2);
    b.code(distance_bit, 1);
    b.code(2, 2);
    return b;
}

TEST(Inflate, SingleDistanceCode) {
    Bits valid = single_distance_code_block(0), unused = single_distance_code_block(1);
    Bytes out(8);
    int64_t size = 8;
    EXPECT_EQ(deflate::inflate(out.data(), &size, valid.bytes.data(), int64_t(valid.bytes.size())), 0);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + size), text("aaaa"));
    size = 8;
    EXPECT_EQ(deflate::inflate(out.data(), &size, unused.bytes.data(), int64_t(unused.bytes.size())), 2);
}

// ---- zlib and gzip ----

TEST(Zlib, HeaderAndTrailer) {
    Bytes good = encode(deflate::zlib_deflate, text("zlib data zlib data"));
    EXPECT_EQ(decode(deflate::zlib_inflate, good).result, 0);
    Bytes bad_trailer = good;
    bad_trailer[good.size() - 1] ^= 1;
    Bytes dictionary = good;
    dictionary[1] = 0x20;  // 0x7820 is a multiple of 31: only the dictionary bit is wrong
    Bytes big_window = good;
    big_window[0] = 0x88;
    big_window[1] = 0x98 - 0x88 % 31;
    Bytes cut = Bytes(good.begin(), good.end() - 5);
    for (const Bytes* b : {&bad_trailer, &dictionary, &big_window, &cut})
        EXPECT_EQ(decode(deflate::zlib_inflate, *b).result, 2) << (b - &bad_trailer);
}

Bytes gzip_with(uint8_t flags, const Bytes& fields, const Bytes& payload) {
    Bytes packed = encode(deflate::gzip, payload);
    Bytes out(packed.begin(), packed.begin() + 10);
    out[3] = flags;
    out.insert(out.end(), fields.begin(), fields.end());
    if (flags & 0x02) {
        uint32_t crc = checksum::crc32(out.data(), out.size());
        out.push_back(uint8_t(crc));
        out.push_back(uint8_t(crc >> 8));
    }
    out.insert(out.end(), packed.begin() + 10, packed.end());
    return out;
}

TEST(Gzip, HeaderFields) {
    Bytes payload = text("gzip payload");
    Bytes fextra = {3, 0, 'a', 'b', 'c'};
    Bytes fname = text("name.txt");
    fname.push_back(0);
    Bytes all = fextra;
    all.insert(all.end(), fname.begin(), fname.end());
    all.insert(all.end(), fname.begin(), fname.end());  // the comment
    struct Case {
        const char* name;
        Bytes in;
        int result;
    };
    Bytes bad_hcrc = gzip_with(0x02 | 0x08, fname, payload);
    bad_hcrc[10 + fname.size()] ^= 1;
    Bytes open_name = gzip_with(0x08, text("no end"), payload);
    open_name.resize(10 + 6);
    open_name.resize(open_name.size() + 20, 'x');  // no NUL anywhere after the header
    Bytes long_extra = gzip_with(0x04, {0xFF, 0x00}, payload);
    Bytes reserved_flag = gzip_with(0x20, {}, payload);
    const Case cases[] = {
        {"FEXTRA", gzip_with(0x04, fextra, payload), 0},
        {"FNAME", gzip_with(0x08, fname, payload), 0},
        {"all fields and FHCRC", gzip_with(0x1E, all, payload), 0},
        {"bad FHCRC", bad_hcrc, 2},
        {"name without its NUL", open_name, 2},
        {"extra longer than the input", long_extra, 2},
        {"reserved flag", reserved_flag, 2},
    };
    for (const Case& c : cases) {
        Decoded d = decode(deflate::gunzip, c.in);
        EXPECT_EQ(d.result, c.result) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(d.bytes, payload) << c.name;
        }
    }
}

// The trailer's size never sets the output's size: a crafted one fails
// already in the measuring pass, before anything is allocated.
TEST(Gzip, TrailerChecks) {
    Bytes good = encode(deflate::gzip, text("some text to check"));
    Bytes big_size = good;
    big_size[big_size.size() - 1] = 0xFF;
    int64_t size = 0;
    EXPECT_EQ(deflate::gunzip(nullptr, &size, big_size.data(), int64_t(big_size.size())), 2);
    Bytes bad_crc = good;
    bad_crc[bad_crc.size() - 8] ^= 1;
    EXPECT_EQ(decode(deflate::gunzip, bad_crc).result, 2);
    EXPECT_EQ(decode(deflate::gunzip, Bytes(good.begin(), good.end() - 1)).result, 2);
    // Too little room: 1 and the decoded size, not the stated one.
    Bytes out(4);
    size = 4;
    EXPECT_EQ(deflate::gunzip(out.data(), &size, good.data(), int64_t(good.size())), 1);
    EXPECT_EQ(size, 18);
}

}  // namespace
