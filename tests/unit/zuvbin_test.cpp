// The serialized value format: byte-exact records, round trips through both
// layouts (plain and compressed), shared and cyclic structures, the boot
// mode, and the decoder's refusal of malformed input.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lexer/serialize/zuvbin.hpp"
#include "runtime/compressor.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/collector.hpp"
#include "runtime/process.hpp"
#include "runtime/root.hpp"
#include "tests/unit/source_eval.hpp"

namespace zuv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode_value(const Cell& v, bool compact) {
    Cell out{};
    compact ? zuvbin::encode_cp(&v, &out) : zuvbin::encode(&v, &out);
    return binary::bytes_of(&out);
}

Bytes encode_source(const std::string& text, bool compact) {
    test::Evaluated r = test::eval_source(text);
    EXPECT_EQ(r.error, "") << text;
    return encode_value(r.value, compact);
}

// The records area of a compact encoding without symbols.
Bytes compact_payload(const Bytes& b) {
    EXPECT_EQ(b[7], zuvbin::FLAG_COMPACT);
    return Bytes(b.begin() + 10, b.end());  // magic, version, flags, count 1, a one-byte size
}

// Decodes into a new block; answers the error "category/id" or "".
std::string decode_into(const Bytes& b, Cell* block, bool codec = true) {
    block::make_at(cell::begin(block), 4);
    return test::raised([&] { zuvbin::decode(b.data(), b.size(), block, codec); });
}

int32_t error_position() {
    const PendingError& e = runtime::pending_error();
    return e.arg_count > 0 && type_of(&e.args[0]) == TYPE_INTEGER ? int32_t(e.args[0].w2) : -1;
}

Bytes with_header(uint8_t flags, const Bytes& payload) {
    Bytes b = {'Z', 'U', 'V', 'B', 'I', 'N', 2, flags, 1, uint8_t(payload.size())};
    for (uint8_t c : payload) b.push_back(c);
    return b;
}

Bytes compressed(const Bytes& b) {
    Bytes packed = compressor::compress(b.data() + 8, b.size() - 8);
    Bytes out(b.begin(), b.begin() + 8);
    out[7] |= zuvbin::FLAG_COMPRESSED;
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

class Zuvbin : public ::testing::Test {
protected:
    void SetUp() override { test::ensure_evaluator(); }
};

TEST_F(Zuvbin, CompactEncodingsAreByteExact) {
    struct Case {
        const char* source;
        Bytes payload;
    } cases[] = {
        {"63", {0xBF}},
        {"64", {0x0B, 0x80, 0x01}},
        {"-1", {0x0B, 0x01}},
        {"to percent! 1.5", {0x40 | 38, 0xAC, 0x02}},             // A form, zigzag 150
        {"1.2.3", {39, 1, 2, 3}},                      // no size byte
        {"1.2.3.4", {0x40 | 39, 4, 1, 2, 3, 4}},
        {"b: [] append/only b b", {5, 1, 0xC1, 5, 1, 0}},  // the inner block is the path [0]
        {"true", {0xC2}},
        {"none", {3}},
        {"2.0", {0x40 | 12, 4}},
    };
    for (const Case& c : cases) EXPECT_EQ(compact_payload(encode_source(c.source, true)), c.payload) << c.source;

    Bytes negative_zero = compact_payload(encode_source("-0.0", true));
    ASSERT_EQ(negative_zero.size(), 9u);
    EXPECT_EQ(negative_zero[0], 12);  // raw form keeps the sign
    EXPECT_EQ(negative_zero[8], 0x80);

    // A string met twice is written once; the second is a reference.
    Bytes shared = compact_payload(encode_source("s: \"ab\" reduce [s s]", true));
    EXPECT_EQ(shared, (Bytes{5, 2, 7, 2 << 2, 'a', 'b', 0xC1, 7, 2, 0, 0}));

    // A global word never refers back, however often it appears.
    Bytes words = encode_source("[a a a]", true);
    EXPECT_EQ(words[7], zuvbin::FLAG_COMPACT | zuvbin::FLAG_SYMBOLS);
    EXPECT_EQ(Bytes(words.end() - 8, words.end()), (Bytes{5, 3, 15, 0, 15, 0, 15, 0}));
}

TEST_F(Zuvbin, DecodesTheFormatsExamples) {
    struct Case {
        Bytes payload;
        const char* molded;
    } cases[] = {
        {{0xC2}, "[true]"},
        {{0x80, 0xBF}, "[0 63]"},
        {{0x0B, 0x80, 0x01, 0x0B, 0x01}, "[64 -1]"},
        {{0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, "[-2147483648]"},  // a fifth byte of 0x0F is accepted
        {{7, 4 * 5 + 1, 'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0}, "[\"abcde\"]"},
        {{0x40 | 39, 12, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, "[1.2.3.4.5.6.7.8.9.10.11.12]"},
        {{0x40 | 5, 1, 3, 0x81, 0x82, 0x83}, "[[2 3]]"},
        {{0xC0, 0x81}, "[\n    1\n]"},
    };
    for (const Case& c : cases) {
        Cell block;
        ASSERT_EQ(decode_into(with_header(zuvbin::FLAG_COMPACT, c.payload), &block), "");
        EXPECT_EQ(test::mold(block), c.molded);
    }
}

TEST_F(Zuvbin, StandardFillerThenInteger) {
    Bytes b = {'Z', 'U', 'V', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0, 12, 0, 0, 0};
    Bytes records = {0, 0, 0, 0, 11, 0, 0, 0, 42, 0, 0, 0};
    b.insert(b.end(), records.begin(), records.end());
    Cell block;
    ASSERT_EQ(decode_into(b, &block), "");
    EXPECT_EQ(test::mold(block), "[42]");
}

// Every value comes back with the same text, through both layouts, plain
// and compressed.
TEST_F(Zuvbin, RoundTrips) {
    const char* sources[] = {
        "[1 63 64 -1 2147483647 -2147483648 #\"a\" #\"^(1F600)\" 1.5 -0.0 1e300 2.0]",
        "reduce [to percent! 0.5 to percent! 0.33333 to percent! 0.015 to percent! -0.0]",
        "reduce [to time! 5400 to time! -3600.5 1x-2 (1.5, 2) (1, 2, 3) 1-Jan-2000 1-Jan-2000/10:00+2:00 29-Feb-2024/0:00]",
        "[1.2.3 1.2.3.4.5.6.7.8.9.10.11.12 #iss integer! #(none) #(unset) true false]",
        "reduce [make typeset! [integer! string!] make typeset! [] #[a 1 \"b\" 2] make hash! [a 1 b 2]]",
        "reduce [%a/b.txt http://x.y <tag> a@b.c @ref #{DEADBEEF} #{} \"h\u00e9llo\" \"a\U0001F600b\" \"\"]",
        "reduce [next [1 2 3] at \"abc\" 3 skip #{0102} 1 make vector! [integer! 16 [1 -2 3]]]",
        "reduce [make vector! [float! 32 [1.5 2.5]] make vector! [char! 8 [#\"a\"]] make vector! [integer! 32 [-5 70000]]]",
        "reduce [make bitset! #{F00F} complement make bitset! #{01}]",
        "[(a b) a/b/c :a/b 'a/b a/b: a b: 'c :d /e]",
        "[[[[]]] [] ()]",
        "make object! [a: 1 b: \"x\" c: [d e]]",
        "make error! 301",
        "reduce [:append :if :add]",
        "[$1 -$2.5 USD$1234567.89012 -EUR$0.00001 $0 $99999999999999999.99999]",
        "i: make image! [2x2 #{0102030405060708090A0B0C} #{00FF8040}] reduce [i next i make image! 0x0]",
    };
    Cell* top = stack::top;
    for (const char* source : sources) {
        test::Evaluated r = test::eval_source(source);
        ASSERT_EQ(r.error, "") << source;
        std::string expected = test::mold(r.value);
        for (bool compact : {true, false})
            for (bool packed : {false, true}) {
                Bytes b = encode_value(r.value, compact);
                if (packed) b = compressed(b);
                Cell block;
                ASSERT_EQ(decode_into(b, &block), "") << source << (compact ? " compact" : " standard");
                ASSERT_EQ(block::zs_length_q(&block), 1);
                EXPECT_EQ(test::mold(*block::zs_abs_at(&block, 0)), expected)
                    << source << (compact ? " compact" : " standard") << (packed ? " compressed" : "");
                EXPECT_EQ(stack::top, top) << source;
            }
    }
}

// Decodes the encoding of the source's value into the global word `v`, for
// the checks that follow in the language.
void load_as_v(const std::string& source, bool compact) {
    Bytes b = encode_source(source, compact);
    Cell block;
    ASSERT_EQ(decode_into(b, &block), "") << source << (compact ? " compact" : " standard");
    test::set_global("zbv", *block::zs_abs_at(&block, 0));
}

TEST_F(Zuvbin, SharingAndCyclesSurvive) {
    struct Case {
        const char* source;
        const char* check;
    } cases[] = {
        {"b: [1] append/only b b b", "same? zbv pick zbv 2"},
        {"s: \"ab\" reduce [s next s]", "all [same? head pick zbv 2 pick zbv 1 \"b\" = pick zbv 2]"},
        {"o: make object! [x: 1] reduce [in o 'x in o 'x o]",
         "all [set pick zbv 1 5 5 = get pick zbv 2 5 = get in pick zbv 3 'x]"},
        {"o: make object! [x: 1 me: none] o/me: o o", "same? zbv get in zbv 'me"},
        {"f: func [a /local b] [b: a * 2 b + 1] reduce [:f :f]", "f: pick zbv 1 all [7 = f 3 same? :f pick zbv 2]"},
        {"o: make object! [n: 10 f: func [x] [x + n]] o", "f: get in zbv 'f 11 = f 1"},
        {"f: func [x y] [x * y] reduce [make op! :f]", "g: pick zbv 1 6 = (2 g 3)"},
        {"f: func [x y] [x * y] g: make op! :f reduce [:g reflect :g 'body reflect :g 'spec reflect :append 'spec]",
         "g: pick zbv 1 all [6 = (2 g 3) same? pick zbv 2 reflect :g 'body same? pick zbv 3 reflect :g 'spec]"},
        {"reduce [:append reflect :append 'spec]", "same? pick zbv 2 reflect pick zbv 1 'spec"},
        {"m: #[a 1 b 2] reduce [m m]", "same? pick zbv 1 pick zbv 2"},
        {"h: make hash! [x y] reduce [h h]", "all [same? pick zbv 1 pick zbv 2 'y = pick find pick zbv 1 'y 1]"},
    };
    for (const Case& c : cases)
        for (bool compact : {true, false}) {
            load_as_v(c.source, compact);
            EXPECT_EQ(test::run_source(c.check), "true") << c.source << (compact ? " compact" : " standard");
        }
}

TEST_F(Zuvbin, TypesWithoutCodecRaiseAndLeaveTheEncoderReady) {
    const char* sources[] = {
        "make triple! [1 2 3]",
    };
    for (const char* source : sources) {
        test::Evaluated r = test::eval_source(source);
        if (!r.error.empty()) continue;  // a datatype that cannot be made from the language here
        for (bool compact : {true, false}) {
            Cell out{};
            std::string error = test::raised([&] { compact ? zuvbin::encode_cp(&r.value, &out) : zuvbin::encode(&r.value, &out); });
            EXPECT_EQ(error, "access/no-codec") << source;
            EXPECT_EQ(compact_payload(encode_source("[1]", true)), (Bytes{5, 1, 0x81}));
        }
    }
    // The cell types themselves, made directly, and an operator over a routine.
    for (uint32_t header : {uint32_t(TYPE_ROUTINE), uint32_t(TYPE_HANDLE), uint32_t(TYPE_PORT), uint32_t(TYPE_EVENT),
                            uint32_t(TYPE_TRIPLE), TYPE_OP | uint32_t(TYPE_ROUTINE) << OP_TYPE_SHIFT}) {
        Cell v{header, 0, 0, 0};
        for (bool compact : {true, false}) {
            Cell out{};
            std::string error = test::raised([&] { compact ? zuvbin::encode_cp(&v, &out) : zuvbin::encode(&v, &out); });
            EXPECT_EQ(error, "access/no-codec") << header;
            EXPECT_EQ(compact_payload(encode_source("[1]", true)), (Bytes{5, 1, 0x81}));
        }
    }
}

TEST_F(Zuvbin, MalformedInputIsRefusedWithItsPosition) {
    struct Case {
        Bytes payload;
        int32_t position;  // 1-based in the whole buffer; the records start at 11
    } cases[] = {
        {{0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x10}, 12},   // a fifth varint byte of 0x10
        {{0xC4, 5, 0}, 11},                          // a set prefix before a block
        {{0xC4, 15, 0}, 11},                         // a set prefix outside boot mode
        {{0xC1, 0x81}, 12},                          // a prefix before a small integer
        {{0xF0}, 11},                                // an invalid tag
        {{0x00}, 11},                                // type id 0
        {{7, 3}, 12},                                // a string width code of 3
        {{33, 13}, 12},                              // a typeset of 13 bytes
        {{0x40 | 39, 13}, 12},                       // a tuple of 13 bytes
        {{47, 0x81, 0x10, 0x01, 0x00}, 12},          // date: time flag set, A clear
        {{5, 5, 0x81}, 12},                          // a count past the end
        {{0xFF, 0}, 12},                             // a path of length 0
        {{0xFF, 0x81, 0x80, 0x04}, 12},              // a path of length 65537
        {{0xFF, 1, 3}, 13},                          // an index out of range
        {{5, 1, 0xC1, 7, 1, 0}, 13},                   // a block's node taken as a string
        {{21, 108, 5, 0}, 11},                       // native slot 108 is empty
        {{22, 63, 5, 0}, 11},                        // action 63 does not exist
        {{1, 99}, 12},                               // an unregistered datatype id
        {{35, (TYPE_INTEGER << 2) | 3, 0}, 12},      // an integer vector of 8-byte elements
        {{23, 0x81}, 11},                            // an op over an integer
        {{24, 0, 0, 14, 3, 0, 5, 0, 5, 0}, 15},      // a function context of kind 3
        {{32, 0, 14, 0x0E, 0}, 14},                  // an object whose context lives on the stack
        {{14, 0x0E, 0}, 12},                         // a bare context record the same
    };
    for (const Case& c : cases) {
        Cell block;
        EXPECT_EQ(decode_into(with_header(zuvbin::FLAG_COMPACT, c.payload), &block), "script/zb-invalid-record")
            << int(c.payload[0]);
        EXPECT_EQ(error_position(), c.position) << int(c.payload[0]) << " " << int(c.payload.size());
    }
}

TEST_F(Zuvbin, BadHeadersAndMagic) {
    Cell block;
    // Types without a serialized form, in either layout.
    for (uint8_t type : {TYPE_ROUTINE, TYPE_TRIPLE, TYPE_HANDLE, TYPE_PORT, TYPE_EVENT}) {
        EXPECT_EQ(decode_into(with_header(zuvbin::FLAG_COMPACT, {type}), &block), "access/no-codec") << int(type);
        Bytes standard = {'Z', 'U', 'V', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0, 4, 0, 0, 0, type, 0, 0, 0};
        EXPECT_EQ(decode_into(standard, &block), "access/no-codec") << int(type);
    }
    // A standard header without its record count and payload size.
    EXPECT_EQ(decode_into(Bytes{'Z', 'U', 'V', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0}, &block), "script/invalid-data");
    EXPECT_EQ(decode_into(Bytes{'Z', 'U', 'V', 'X', 'X', 'X', 2, 1, 1, 0}, &block), "script/invalid-data");
    // A payload size beyond the buffer.
    EXPECT_EQ(decode_into(Bytes{'Z', 'U', 'V', 'B', 'I', 'N', 2, 1, 1, 9, 0x81}, &block), "script/zb-invalid-record");
    // A strings area whose last byte is not NUL.
    EXPECT_EQ(decode_into(Bytes{'Z', 'U', 'V', 'B', 'I', 'N', 2, 5, 1, 2, 1, 1, 0, 0, 0, 0, 'a', 15, 0}, &block),
              "script/zb-invalid-record");
    // A symbol offset outside the strings area.
    EXPECT_EQ(decode_into(Bytes{'Z', 'U', 'V', 'B', 'I', 'N', 2, 5, 1, 2, 1, 2, 5, 0, 0, 0, 'a', 0, 15, 0}, &block),
              "script/zb-invalid-record");
    // The standard header takes the same checks.
    EXPECT_EQ(decode_into(Bytes{'Z', 'U', 'V', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0, 8, 0, 0, 0}, &block),
              "script/zb-invalid-record");
    // Corrupt compressed data.
    EXPECT_EQ(decode_into(Bytes{'Z', 'U', 'V', 'B', 'I', 'N', 2, 3, 1, 0, 0, 0, 1, 0, 0, 0}, &block),
              "script/invalid-data");
    // Values decoded before a fault stay in the target block.
    EXPECT_EQ(decode_into(with_header(zuvbin::FLAG_COMPACT, {0x81, 0x82, 0xF0}), &block), "script/zb-invalid-record");
    EXPECT_EQ(test::mold(block), "[1 2]");
}

TEST_F(Zuvbin, ObjectClassIdIsDroppedInCodecMode) {
    load_as_v("make object! [a: 1]", true);
    Cell v = test::global_value("zbv");
    EXPECT_EQ(int32_t(v.w2), -1);
}

// A boot image: several root records under one symbol table, set records,
// and words bound to earlier root contexts by root index.
TEST_F(Zuvbin, BootModeLoadsRootsAndSetRecords) {
    const char names[] = "boot-x\0boot-y\0";
    Bytes b = {'Z', 'U', 'V', 'B', 'I', 'N', 1, zuvbin::FLAG_COMPACT | zuvbin::FLAG_SYMBOLS};
    Bytes records = {
        14, 10, 2, 0, 1,             // root 0: an object context {boot-x boot-y} with the self flag
        0x40 | 15, 1, 0, 0x01,       // root 1: boot-y bound to root 0's context, index -1: looked up
        0xC4, 15, 0, 0x80 | 42,      // set: the global boot-x is set to 42; neither stays
        0x40 | 15, 0, 0, 0,          // root 2: boot-x bound to root 0 at index 0
    };
    b.push_back(3);
    b.push_back(uint8_t(records.size()));
    b.push_back(2);
    b.push_back(sizeof names - 1);
    Bytes offsets = {0, 0, 0, 0, 7, 0, 0, 0};
    b.insert(b.end(), offsets.begin(), offsets.end());
    b.insert(b.end(), names, names + sizeof names - 1);
    b.insert(b.end(), records.begin(), records.end());

    int32_t before = block::zs_length_q(&runtime::root);
    int32_t first = zuvbin::boot_load(b.data(), b.size());
    EXPECT_EQ(first, before);
    ASSERT_EQ(block::zs_length_q(&runtime::root), before + 3);
    Cell object = *block::zs_abs_at(&runtime::root, before);
    Cell y = *block::zs_abs_at(&runtime::root, before + 1);
    Cell x = *block::zs_abs_at(&runtime::root, before + 2);
    EXPECT_EQ(type_of(&object), TYPE_OBJECT);
    EXPECT_EQ(y.w1, object.w1);
    EXPECT_EQ(int32_t(y.w3), 1);
    EXPECT_EQ(x.w1, object.w1);
    EXPECT_EQ(int32_t(x.w3), 0);
    EXPECT_EQ(test::run_source("boot-x"), "42");
    // Symbols are interned in table order, whatever order the records use.
    EXPECT_LT(int32_t(symbol::make("boot-x")), int32_t(symbol::make("boot-y")));
}

// The same in the standard layout: a set record is a word with bit 25, and a
// word names its context by root index (-1: the global context).
TEST_F(Zuvbin, BootModeInTheStandardLayout) {
    auto word = [](Bytes& b, uint32_t v) {
        for (int i = 0; i < 4; i++) b.push_back(uint8_t(v >> (8 * i)));
    };
    Bytes records;
    for (uint32_t w : {uint32_t(TYPE_CONTEXT) | 2u << 26 | 1u << 28, 2u, 0u, 1u,  // root 0: object context {std-a std-b}
                       uint32_t(TYPE_WORD), 1u, 0u, uint32_t(-1),                    // root 1: std-b in root 0, looked up
                       uint32_t(TYPE_WORD) | 1u << 25, 0u, uint32_t(-1), uint32_t(-1),  // set: the global std-a ...
                       uint32_t(TYPE_INTEGER), 7u,                                   // ... to 7
                       uint32_t(TYPE_WORD), 0u, 0u, 0u})                             // root 2: std-a in root 0 at 0
        word(records, w);
    Bytes b = {'Z', 'U', 'V', 'B', 'I', 'N', 1, zuvbin::FLAG_SYMBOLS};
    for (uint32_t w : {3u, uint32_t(records.size()), 2u, 16u, 0u, 8u}) word(b, w);
    const char names[] = "std-a\0\0\0std-b\0\0\0";
    b.insert(b.end(), names, names + 16);
    b.insert(b.end(), records.begin(), records.end());

    int32_t first = zuvbin::boot_load(b.data(), b.size());
    ASSERT_EQ(block::zs_length_q(&runtime::root), first + 3);
    Cell object = *block::zs_abs_at(&runtime::root, first);
    Cell b_word = *block::zs_abs_at(&runtime::root, first + 1);
    Cell a_word = *block::zs_abs_at(&runtime::root, first + 2);
    EXPECT_EQ(b_word.w1, object.w1);
    EXPECT_EQ(int32_t(b_word.w3), 1);
    EXPECT_EQ(a_word.w1, object.w1);
    EXPECT_EQ(int32_t(a_word.w3), 0);
    EXPECT_EQ(test::run_source("std-a"), "7");
}

TEST_F(Zuvbin, BootLoadOfABadImageEndsTheProcessWithAFailure) {
    Bytes bad = {'N', 'O', 'T', 'Z', 'U', 'V', 1, 1, 0, 0};
    EXPECT_EXIT(zuvbin::boot_load(bad.data(), bad.size()), ::testing::ExitedWithCode(1), "Not a Zuvbin file");
    Bytes corrupt = {'Z', 'U', 'V', 'B', 'I', 'N', 1, 3, 9, 9, 9, 9};
    EXPECT_EXIT(zuvbin::boot_load(corrupt.data(), corrupt.size()), ::testing::ExitedWithCode(1), "corrupted");
}

TEST(Compressor, RoundTrips) {
    std::vector<Bytes> inputs = {{}, {'a'}, Bytes(100000, 'z')};
    Bytes text;
    for (int i = 0; i < 3000; i++) {
        std::string line = "line " + std::to_string(i % 97) + " of some repeated text\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    inputs.push_back(text);
    Bytes noise(1 << 20 | 5);  // more than one block
    uint32_t seed = 1;
    for (uint8_t& c : noise) c = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
    inputs.push_back(noise);
    for (const Bytes& in : inputs) {
        Bytes packed = compressor::compress(in.data(), in.size());
        auto out = compressor::decompress(packed.data(), packed.size());
        ASSERT_TRUE(out.has_value()) << in.size();
        EXPECT_EQ(*out, in);
    }
    EXPECT_LT(compressor::compress(text.data(), text.size()).size(), text.size() / 4);
}

TEST(Compressor, CorruptDataIsRefused) {
    auto header = [](uint32_t c, uint32_t u) {
        return Bytes{uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0, uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), 0};
    };
    auto with = [&](uint32_t u, Bytes blocks) {
        Bytes b = header(uint32_t(blocks.size()), u);
        b.insert(b.end(), blocks.begin(), blocks.end());
        return b;
    };
    std::vector<Bytes> cases = {
        with(4, {0, 0, 0, 0, 0}),                        // a block length of 0
        with(4, {1, 0, 0x10, 0, 0}),                     // a block length above 1 MiB
        with(4, {100, 0, 0, 0, 0}),                      // output past U + 8
        with(4, {4, 0, 0, 0, 0xC2, 0x00, 0x00}),         // a match before the block's start
        with(4, {4, 0, 0, 0, 0x82, 0x83, 0x00, 0x00}),   // a match past the block's end
        with(4, {4, 0, 0, 0, 0x82}),                     // the input ends in a block
        with(4, {4, 0, 0}),                              // the input ends in a length word
        header(100, 4),                                  // C beyond the input
        Bytes{1, 2, 3},                                  // shorter than the header
    };
    for (size_t i = 0; i < cases.size(); i++)
        EXPECT_FALSE(compressor::decompress(cases[i].data(), cases[i].size()).has_value()) << i;

    Bytes good = compressor::compress(reinterpret_cast<const uint8_t*>("abcabcabcabc"), 12);
    for (size_t n = 0; n < good.size(); n++) EXPECT_FALSE(compressor::decompress(good.data(), n).has_value()) << n;
}

}  // namespace
}  // namespace zuv

namespace zuv {
namespace {

// Every value that the language case tables produce comes back from both
// layouts with the same text (a value without a serialized form is left out).
TEST_F(Zuvbin, LanguageCaseValuesRoundTrip) {
    namespace fs = std::filesystem;
    fs::path dir = fs::path(__FILE__).parent_path().parent_path() / "lang";
    std::vector<fs::path> tables;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".cases") tables.push_back(entry.path());
    std::sort(tables.begin(), tables.end());
    ASSERT_FALSE(tables.empty());
    int checked = 0;
    // Some cases recurse deeply: they run on the interpreter's big stack, under its depth guard.
    runtime::run_on_big_stack([&] {
    for (const fs::path& table : tables) {
        std::ifstream in(table);
        std::string line;
        for (int n = 1; std::getline(in, line); n++) {
            size_t arrow = line.find(" ==> ");
            if (line.empty() || line[0] == ';' || line.find(" !!> ") != std::string::npos) continue;
            test::Evaluated r = test::eval_source(line.substr(0, arrow));
            collector::enabled = false;  // a case may switch it on: the value is held by this C++ local
            if (arrow == std::string::npos || !r.error.empty()) continue;
            std::string expected = test::mold(r.value);
            for (bool compact : {true, false}) {
                Cell out{};
                std::string error =
                    test::raised([&] { compact ? zuvbin::encode_cp(&r.value, &out) : zuvbin::encode(&r.value, &out); });
                if (error == "access/no-codec") continue;
                ASSERT_EQ(error, "") << table.filename() << ":" << n;
                Bytes b = binary::bytes_of(&out);
                Cell block;
                ASSERT_EQ(decode_into(b, &block), "") << table.filename() << ":" << n;
                EXPECT_EQ(test::mold(*block::zs_abs_at(&block, 0)), expected)
                    << table.filename() << ":" << n << (compact ? " compact" : " standard");
                checked++;
            }
        }
    }
    });
    EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace zuv
