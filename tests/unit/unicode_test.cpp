// Unicode codecs and case folding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/case_folding.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

class Unicode : public ::testing::Test {
protected:
    void SetUp() override { test::ensure_runtime(); }

    static Cell from_bytes(const std::vector<uint8_t>& bytes, int32_t* left = nullptr, bool crlf = false) {
        Cell s;
        cell::begin(&s)->w2 = unicode::utf8_to_string(bytes.data(), int32_t(bytes.size()), 0, left, crlf);
        cell::set_type(&s, TYPE_STRING);
        return s;
    }
    static std::vector<uint32_t> chars(const Cell& s) {
        std::vector<uint32_t> out;
        for (int32_t i = 0, n = string::total_length(&s); i < n; i++) out.push_back(string::char_at(&s, i));
        return out;
    }
    static uint32_t unit(const Cell& s) { return memory::unit_of(string::buffer(&s)); }
};

TEST_F(Unicode, Utf8DecodingPicksTheNarrowestUnit) {
    struct Case {
        std::vector<uint8_t> bytes;
        uint32_t unit;
        std::vector<uint32_t> chars;
    } cases[] = {
        {{0xC3, 0xA9}, 1, {0xE9}},
        {{'a', 0xE2, 0x82, 0xAC}, 2, {'a', 0x20AC}},
        {{0xF0, 0x9F, 0x98, 0x80, 'b'}, 4, {0x1F600, 'b'}},
        {{0xEF, 0xBB, 0xBF, 'x'}, 1, {'x'}},  // byte-order mark skipped
        {{0xEF, 0xBB, 0xBF}, 1, {}},
        {{0xC0, 0x80}, 1, {0}},  // overlong forms are accepted
    };
    for (const Case& c : cases) {
        int32_t left = -1;
        Cell s = from_bytes(c.bytes, &left);
        EXPECT_EQ(unit(s), c.unit);
        EXPECT_EQ(chars(s), c.chars);
        EXPECT_EQ(left, 0);
    }
}

TEST_F(Unicode, TruncatedSequenceStopsAndReportsTheBytesLeft) {
    int32_t left = 0;
    Cell s = from_bytes({'a', 'b', 0xE2, 0x82}, &left);
    EXPECT_EQ(chars(s), (std::vector<uint32_t>{'a', 'b'}));
    EXPECT_EQ(left, 2);
}

TEST_F(Unicode, InvalidUtf8RaisesWithTheBytesThatRemain) {
    struct Case {
        std::vector<uint8_t> bytes;
        size_t reported;
    } cases[] = {
        {{0x80}, 1},  // fewer than 4 bytes remain: only those are copied
        {{0x80, 'a', 'b', 'c', 'd', 'e'}, 4},
        {{'a', 0xC3, 0x41}, 2},
        {{0xED, 0xB0, 0x80}, 3},  // 0xDC00 is refused
        {{0xEF, 0xBF, 0xBE}, 3},  // 0xFFFE is refused
        {{0xF4, 0x90, 0x80, 0x80}, 4},
        {{0xF8, 0x80, 0x80, 0x80, 0x80}, 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(test::raised([&] { from_bytes(c.bytes); }), "access/invalid-utf8");
        const PendingError& e = runtime::pending_error();
        ASSERT_EQ(type_of(&e.args[0]), TYPE_BINARY);
        SeriesBuffer* b = memory::buffer_of(e.args[0].w2);
        ASSERT_EQ(size_t(memory::used_bytes(b)), c.reported);
        size_t at = c.bytes[0] == 'a' ? 1 : 0;
        EXPECT_EQ(0, memcmp(memory::head_of(b), c.bytes.data() + at, c.reported));
    }
}

TEST_F(Unicode, CrLfConversion) {
    Cell s = from_bytes({'a', '\r', '\n', 'b', '\r', 'c'}, nullptr, true);
    EXPECT_EQ(chars(s), (std::vector<uint32_t>{'a', '\n', 'b', '\n', 'c'}));
}

TEST_F(Unicode, DecodingAppendsToAGivenString) {
    Cell s = from_bytes({'a'});
    const uint8_t more[] = {0xE2, 0x82, 0xAC, 'z'};
    unicode::append_utf8(more, 4, &s, false);
    EXPECT_EQ(chars(s), (std::vector<uint32_t>{'a', 0x20AC, 'z'}));
    EXPECT_EQ(unit(s), 2u);
}

TEST_F(Unicode, ToUtf8WithLineEnds) {
    Cell s = from_bytes({'a', '\n', 'b'});
    int32_t length = -1;
    const uint8_t* out = unicode::to_utf8_with_eol(&s, &length, true);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{0x61, 0x0D, 0x0A, 0x62, 0x00}));

    Cell wide = from_bytes({0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80, 'x'});
    length = 2;  // a character limit
    out = unicode::to_utf8(&wide, &length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out)), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(length, 6);
}

TEST_F(Unicode, EncodeUtf8Char) {
    struct Case {
        uint32_t cp;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {0x41, {0x41}}, {0x7FF, {0xDF, 0xBF}}, {0x20AC, {0xE2, 0x82, 0xAC}}, {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}},
    };
    for (const Case& c : cases) {
        uint8_t out[4];
        int32_t n = unicode::encode_utf8_char(c.cp, out);
        EXPECT_EQ(std::vector<uint8_t>(out, out + n), c.bytes);
        EXPECT_EQ(unicode::count_utf8_bytes(c.cp), n);
    }
    uint8_t out[4] = {0, 0, 0, 0};
    EXPECT_EQ(unicode::encode_utf8_char_bounded(0x20AC, out, 2), 2);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(test::raised([&] { unicode::encode_utf8_char(0x110000, out); }), "script/invalid-char");
}

TEST_F(Unicode, BoundedEncodingCutsTheLastCharacter) {
    Cell s = from_bytes({'a', 0xE2, 0x82, 0xAC, 'b'});
    uint8_t out[8] = {};
    EXPECT_EQ(unicode::encode_utf8_bounded(&s, out, 3, 0, false), 3);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{'a', 0xE2, 0x82}));
    EXPECT_EQ(unicode::encode_utf8_into_buffer(&s, out, -1, true), 5);
    EXPECT_EQ(out[5], 0);
}

// The DFA decoder agrees with the strict one on every valid code point and
// refuses the classic malformed forms.
TEST_F(Unicode, FastDecoderAgreesWithStrictDecoder) {
    for (uint32_t cp = 0; cp <= 0x10FFFF; cp += (cp < 0x3000 ? 1 : 7)) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        uint8_t bytes[4];
        int32_t n = unicode::encode_utf8_char(cp, bytes);
        int32_t fast = -2;
        const uint8_t* end = unicode::fast_decode_utf8_char(bytes, &fast);
        ASSERT_EQ(uint32_t(fast), cp);
        ASSERT_EQ(end - bytes, n);
        EXPECT_EQ(unicode::get_sequence_length(bytes[0]), n == 1 ? 0 : n);
    }
    const std::vector<uint8_t> bad[] = {{0xC0, 0x80}, {0xED, 0xA0, 0x80}, {0xF4, 0x90, 0x80, 0x80}, {0x80}, {0xFF}};
    for (const auto& b : bad) {
        int32_t cp = 0;
        unicode::fast_decode_utf8_char(b.data(), &cp);
        EXPECT_EQ(cp, -1);
    }
    const uint8_t text[] = {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xC3};
    EXPECT_EQ(unicode::count_utf8_chars(text, text + 7), 4);
    EXPECT_EQ(unicode::skip_utf8_chars(text, text + 7, 2), text + 3);
    EXPECT_EQ(unicode::skip_utf8_chars(text, text + 7, 99), text + 7);
}

TEST_F(Unicode, Utf16Decoding) {
    struct Case {
        std::vector<uint8_t> units;
        bool cr;
        uint32_t unit;
        std::vector<uint32_t> chars;
    } cases[] = {
        {{0x3D, 0xD8, 0x00, 0xDE}, false, 4, {0x1F600}},
        {{'a', 0, 0xE9, 0}, false, 1, {'a', 0xE9}},
        {{'a', 0, 0xAC, 0x20}, false, 2, {'a', 0x20AC}},
        {{'a', 0, '\r', 0, '\n', 0}, true, 1, {'a', '\n'}},
        // Lone surrogates of either kind are kept as they are.
        {{0x3D, 0xD8, 'A', 0}, false, 4, {0xD83D, 'A'}},
        {{'A', 0, 0x3D, 0xD8}, false, 4, {'A', 0xD83D}},
        {{0x00, 0xDE, 'A', 0}, false, 4, {0xDE00, 'A'}},
    };
    for (const Case& c : cases) {
        Cell s;
        cell::begin(&s)->w2 = unicode::utf16le_to_string(c.units.data(), int32_t(c.units.size() / 2), 0, c.cr);
        cell::set_type(&s, TYPE_STRING);
        EXPECT_EQ(unit(s), c.unit);
        EXPECT_EQ(chars(s), c.chars);
    }
}

TEST_F(Unicode, Utf16Encoding) {
    Cell s = from_bytes({'a', '\n', 0xF0, 0x9F, 0x98, 0x80});
    int32_t length = -1;
    const uint16_t* out = unicode::to_utf16_part(&s, &length, true);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(std::vector<uint16_t>(out, out + 6), (std::vector<uint16_t>{'a', '\r', '\n', 0xD83D, 0xDE00, 0}));

    string::append_char(&s, 0x110000);
    length = -1;
    EXPECT_EQ(unicode::to_utf16_part(&s, &length, false), nullptr);
}

TEST_F(Unicode, WideningKeepsTheCharacters) {
    Cell s = from_bytes({'a', 0xC3, 0xA9, 'z'});
    SeriesBuffer* b = unicode::widen_latin1_to_ucs2(string::buffer(&s));
    EXPECT_EQ(memory::unit_of(b), 2u);
    unicode::widen_ucs2_to_ucs4(string::buffer(&s));
    EXPECT_EQ(unit(s), 4u);
    EXPECT_EQ(chars(s), (std::vector<uint32_t>{'a', 0xE9, 'z'}));
}

TEST_F(Unicode, Windows1251) {
    const uint8_t bytes[] = {'a', 0xC0, 0xFF, '\r', '\n'};
    Cell s;
    cell::begin(&s)->w2 = unicode::decode_windows_1251(bytes, 5, 0, true);
    cell::set_type(&s, TYPE_STRING);
    EXPECT_EQ(chars(s), (std::vector<uint32_t>{'a', 0x410, 0x44F, '\n'}));
}

// --- case folding ---

TEST_F(Unicode, CaseMappingOfCodePoints) {
    struct Case {
        uint32_t cp;
        uint32_t upper;
        uint32_t lower;
    } cases[] = {
        {'a', 'A', 'a'}, {'A', 'A', 'a'}, {'5', '5', '5'}, {0xFF, 0x178, 0xFF}, {0xDF, 0x53, 0xDF},
        {0x149, 0x2BC, 0x149}, {0x130, 0x130, 0x69}, {0x2603, 0x2603, 0x2603}, {0x1E922, 0x1E900, 0x1E922},
        {0x10400, 0x10400, 0x10428}, {0x1F600, 0x1F600, 0x1F600},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(case_folding::change_char_case(c.cp, 1), c.upper) << c.cp;
        EXPECT_EQ(case_folding::change_char_case(c.cp, 0), c.lower) << c.cp;
    }
    EXPECT_EQ(case_folding::swap_char_case('a'), uint32_t('A'));
    EXPECT_EQ(case_folding::swap_char_case('A'), uint32_t('a'));
    // The inline mappings agree with the tables (ASCII is mapped in place).
    for (uint32_t cp = 0; cp < 0x300; cp++) {
        EXPECT_EQ(case_folding::to_upper(cp), case_folding::change_char_case(cp, 1)) << cp;
        EXPECT_EQ(case_folding::to_lower(cp), case_folding::change_char_case(cp, 0)) << cp;
    }
}

TEST_F(Unicode, ChangeCaseOfValues) {
    Cell s = from_bytes({'a', 0xC3, 0xBF, 'b'});  // a ÿ b, unit 1
    case_folding::change_case(&s, nullptr, 1);
    EXPECT_EQ(chars(s), (std::vector<uint32_t>{'A', 0x178, 'B'}));
    EXPECT_EQ(unit(s), 2u);

    Cell t = from_bytes({'A', 'B', 'C'});
    Cell part;
    integer::make_at(cell::begin(&part), 2);
    t.w1 = 1;
    case_folding::change_case(&t, &part, 0);
    t.w1 = 0;
    EXPECT_EQ(chars(t), (std::vector<uint32_t>{'A', 'b', 'c'}));

    Cell position = t;  // a position in the same series limits the count
    position.w1 = 1;
    case_folding::change_case(&t, &position, 0);
    EXPECT_EQ(chars(t), (std::vector<uint32_t>{'a', 'b', 'c'}));

    Cell other = from_bytes({'x'});
    EXPECT_EQ(test::raised([&] { case_folding::change_case(&t, &other, 1); }), "script/invalid-refine-arg");

    Cell c;
    cell::begin(&c)->w2 = 0xE9;
    cell::set_type(&c, TYPE_CHAR);
    case_folding::change_case(&c, nullptr, 1);
    EXPECT_EQ(c.w2, 0xC9u);
}

}  // namespace
