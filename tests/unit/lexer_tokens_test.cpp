// The token scanners and loaders, through the scan entry: text in, values out.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "fixture.hpp"
#include "lexer/lexer.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "value_helpers.hpp"

namespace zuv {
namespace {

class LexerTokens : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensure_runtime();
    }

    static const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

    // Loads text into a block; answers "category/id" of the error raised, or "".
    std::string load(const std::string& text, Cell* result, int32_t* consumed = nullptr) {
        none::make_at(result);
        return test::raised([&] {
            lexer::scan(result, bytes(text), int32_t(text.size()), false, true, true, false, consumed, nullptr,
                        nullptr, nullptr);
        });
    }

    // The one value text loads as (the test fails unless it is exactly one).
    Cell one(const std::string& text) {
        Cell block;
        std::string error = load(text, &block);
        EXPECT_EQ(error, "") << text;
        if (!error.empty() || type_of(&block) != TYPE_BLOCK) return Cell{};
        EXPECT_EQ(block::zs_length_q(&block), 1) << text;
        return *block::zs_head(&block);
    }

    // The error text raises, with the datatype an `invalid` error names (0 for other ids).
    std::string error_of(const std::string& text, int32_t* invalid_type = nullptr) {
        Cell block;
        std::string error = load(text, &block);
        if (invalid_type) {
            const PendingError& e = runtime::pending_error();
            *invalid_type = error == "syntax/invalid" && e.arg_count >= 2 ? int32_t(e.args[1].w1) : 0;
        }
        return error;
    }

    static std::string spelling(const Cell* word) {
        int32_t id = int32_t(word->w2);
        return std::string(reinterpret_cast<const char*>(symbol::name_of(id)), size_t(symbol::name_length(id)));
    }

    // The code points of a string value from its head.
    static std::u32string chars(Cell* str) {
        std::u32string out;
        for (int32_t i = int32_t(str->w1), n = string::total_length(str); i < n; i++)
            out += char32_t(string::char_at(str, i));
        return out;
    }
    static uint32_t unit_of(const Cell* str) { return memory::unit_of(string::buffer(str)); }
};

// ---- blocks, lines and words ----------------------------------------------------

TEST_F(LexerTokens, AppendLineLoadsWordBlockAndInteger) {
    Cell block;
    int32_t consumed = -1;
    ASSERT_EQ(load("append [1 2] 3", &block, &consumed), "");
    EXPECT_EQ(consumed, 14);
    ASSERT_EQ(type_of(&block), TYPE_BLOCK);
    ASSERT_EQ(block::zs_length_q(&block), 3);
    const Cell* v = block::zs_head(&block);
    EXPECT_EQ(type_of(&v[0]), TYPE_WORD);
    EXPECT_EQ(spelling(&v[0]), "append");
    ASSERT_EQ(type_of(&v[1]), TYPE_BLOCK);
    EXPECT_EQ(type_of(&v[2]), TYPE_INTEGER);
    EXPECT_EQ(cell::as_int(v[2].w2), 3);
    Cell inner = v[1];
    ASSERT_EQ(block::zs_length_q(&inner), 2);
    const Cell* items = block::zs_head(&inner);
    EXPECT_EQ(cell::as_int(items[0].w2), 1);
    EXPECT_EQ(cell::as_int(items[1].w2), 2);
}

TEST_F(LexerTokens, EmptyInputIsAnEmptyBlock) {
    Cell block;
    int32_t consumed = -1;
    ASSERT_EQ(load("", &block, &consumed), "");
    EXPECT_EQ(type_of(&block), TYPE_BLOCK);
    EXPECT_EQ(block::zs_length_q(&block), 0);
    EXPECT_EQ(consumed, 0);
}

TEST_F(LexerTokens, NewLineFlagMarksValuesAfterALineBreak) {
    Cell block;
    ASSERT_EQ(load("a 1\n\"s\" {x\ny} [\n] \n{z}", &block), "");
    ASSERT_EQ(block::zs_length_q(&block), 6);
    const Cell* v = block::zs_head(&block);
    const bool expected[] = {false, false, true, false, false, true};
    for (int i = 0; i < 6; i++) EXPECT_EQ(cell::new_line_q(&v[i]), expected[i]) << "value " << i;
}

TEST_F(LexerTokens, WordsAndTheirSigils) {
    struct Case { const char* text; int32_t type; const char* name; };
    const Case cases[] = {
        {"abc", TYPE_WORD, "abc"},      {"a:", TYPE_SET_WORD, "a"},     {"'a", TYPE_LIT_WORD, "a"},
        {":a", TYPE_GET_WORD, "a"},     {"/ref", TYPE_REFINEMENT, "ref"}, {"/", TYPE_WORD, "/"},
        {"//", TYPE_WORD, "//"},        {"'/", TYPE_LIT_WORD, "/"},     {":/", TYPE_GET_WORD, "/"},
        {"/:", TYPE_SET_WORD, "/"},     {"<", TYPE_WORD, "<"},          {"<=", TYPE_WORD, "<="},
        {"+", TYPE_WORD, "+"},          {"%", TYPE_WORD, "%"},          {"caf\xC3\xA9", TYPE_WORD, "caf\xC3\xA9"},
    };
    for (const Case& c : cases) {
        Cell w = one(c.text);
        EXPECT_EQ(type_of(&w), c.type) << c.text;
        EXPECT_EQ(spelling(&w), c.name) << c.text;
    }
}

TEST_F(LexerTokens, SpecialSpacesAroundWords) {
    // U+00A0 before a word is a blank; one inside a word ends it.
    Cell w = one("\xC2\xA0" "abc");
    EXPECT_EQ(type_of(&w), TYPE_WORD);
    EXPECT_EQ(spelling(&w), "abc");

    Cell block;
    ASSERT_EQ(load("ab\xE3\x80\x80" "cd", &block), "");  // U+3000 between
    ASSERT_EQ(block::zs_length_q(&block), 2);
    EXPECT_EQ(spelling(&block::zs_head(&block)[0]), "ab");
    EXPECT_EQ(spelling(&block::zs_head(&block)[1]), "cd");
}

TEST_F(LexerTokens, BadWordsAreSyntaxErrors) {
    struct Case { const char* text; int32_t type; };
    const Case cases[] = {
        {"a\x80", TYPE_WORD},          // a stray continuation byte
        {"ab\xE2\x82", TYPE_WORD},     // a sequence cut short
        {"\xED\xA0\x80x", TYPE_WORD},  // an encoded surrogate
        {"'a:", TYPE_LIT_WORD},
        {":a:", TYPE_GET_WORD},
        {"=:", TYPE_WORD},  // a ":" after a word outside a path
        {"/a\x80", TYPE_REFINEMENT},
    };
    for (const Case& c : cases) {
        int32_t type = 0;
        EXPECT_EQ(error_of(c.text, &type), "syntax/invalid") << c.text;
        EXPECT_EQ(type, c.type) << c.text;
    }
}

TEST_F(LexerTokens, PathsOpenWithTheirFirstWord) {
    struct Case { const char* text; int32_t type; };
    const Case cases[] = {{"a/b", TYPE_PATH}, {"'a/b", TYPE_LIT_PATH}, {":a/b", TYPE_GET_PATH}, {"a/b:", TYPE_SET_PATH}};
    for (const Case& c : cases) {
        Cell path = one(c.text);
        ASSERT_EQ(type_of(&path), c.type) << c.text;
        ASSERT_EQ(block::zs_length_q(&path), 2) << c.text;
        const Cell* e = block::zs_head(&path);
        EXPECT_EQ(type_of(&e[0]), TYPE_WORD) << c.text;  // the sigil belongs to the path
        EXPECT_EQ(spelling(&e[0]), "a");
        EXPECT_EQ(spelling(&e[1]), "b");
    }
}

// ---- numbers ------------------------------------------------------------------

TEST_F(LexerTokens, DecimalIntegers) {
    struct Case { const char* text; int32_t value; };
    const Case cases[] = {
        {"0", 0}, {"7", 7}, {"-7", -7}, {"+42", 42}, {"1'000", 1000}, {"1'000'000", 1000000},
        {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"-2'147'483'648", INT32_MIN},
    };
    for (const Case& c : cases) {
        Cell v = one(c.text);
        EXPECT_EQ(type_of(&v), TYPE_INTEGER) << c.text;
        EXPECT_EQ(cell::as_int(v.w2), c.value) << c.text;
    }
}

TEST_F(LexerTokens, IntegersBeyond32BitsLoadAsFloats) {
    struct Case { const char* text; double value; };
    const Case cases[] = {
        {"2147483648", 2147483648.0}, {"-2147483649", -2147483649.0}, {"12345678901", 12345678901.0},
        {"00000000001", 1.0},  // more than ten digits
        {"9'999'999'999", 9999999999.0},
    };
    for (const Case& c : cases) {
        Cell v = one(c.text);
        EXPECT_EQ(type_of(&v), TYPE_FLOAT) << c.text;
        EXPECT_EQ(float_::get(&v), c.value) << c.text;
    }
}

TEST_F(LexerTokens, InvalidIntegers) {
    for (const char* text : {"1''000", "1'''0", "-5''5"}) {
        int32_t type = 0;
        EXPECT_EQ(error_of(text, &type), "syntax/invalid") << text;
        EXPECT_EQ(type, TYPE_INTEGER) << text;
    }
}

TEST_F(LexerTokens, FloatsAndSpecialFloats) {
    struct Case { const char* text; double value; };
    const Case cases[] = {
        {"1.5", 1.5}, {"-0.25", -0.25}, {"1e3", 1000.0}, {"1.5E-3", 1.5e-3}, {".5", 0.5}, {"1.", 1.0},
        {"1'000.5", 1000.5}, {"0.1", 0.1}, {"1.#INF", HUGE_VAL}, {"-1.#inf", -HUGE_VAL},
    };
    for (const Case& c : cases) {
        Cell v = one(c.text);
        EXPECT_EQ(type_of(&v), TYPE_FLOAT) << c.text;
        EXPECT_EQ(float_::get(&v), c.value) << c.text;
    }
    Cell nan = one("1.#NaN");
    EXPECT_EQ(type_of(&nan), TYPE_FLOAT);
    EXPECT_TRUE(std::isnan(float_::get(&nan)));

    for (const char* text : {"1e", "1E", "1.5e+", "1.5''5", "2.#INF", "1.#INFX"}) {
        int32_t type = 0;
        EXPECT_EQ(error_of(text, &type), "syntax/invalid") << text;
        EXPECT_EQ(type, TYPE_FLOAT) << text;
    }
}

TEST_F(LexerTokens, HexadecimalIntegers) {
    struct Case { const char* text; int32_t value; };
    const Case cases[] = {{"FFh", 255}, {"0Ah", 10}, {"12h", 18}, {"7FFFFFFFh", INT32_MAX}, {"FFFFFFFFh", -1}};
    for (const Case& c : cases) {
        Cell v = one(c.text);
        EXPECT_EQ(type_of(&v), TYPE_INTEGER) << c.text;
        EXPECT_EQ(cell::as_int(v.w2), c.value) << c.text;
    }
    struct Bad { const char* text; int32_t type; };
    const Bad bad[] = {{"Fh", TYPE_WORD}, {"1h", TYPE_INTEGER}, {"123456789h", TYPE_INTEGER}, {"-1Fh", TYPE_INTEGER}};
    for (const Bad& b : bad) {
        int32_t type = 0;
        EXPECT_EQ(error_of(b.text, &type), "syntax/invalid") << b.text;
        EXPECT_EQ(type, b.type) << b.text;
    }
}

// ---- text ---------------------------------------------------------------------

TEST_F(LexerTokens, StringsChooseTheirCharacterWidth) {
    struct Case { const char* text; std::u32string chars; uint32_t unit; };
    const Case cases[] = {
        {"\"abc\"", U"abc", 1},
        {"\"\"", U"", 1},
        {"\"\xC3\xA9\"", U"\u00E9", 2},                // é: a 2-byte sequence
        {"\"\xE2\x82\xAC!\"", U"\u20AC!", 2},          // €
        {"\"\xF0\x9F\x98\x80\"", U"\U0001F600", 4},    // a 4-byte sequence
        {"\"^(e9)\"", U"\u00E9", 1},                   // two hex digits fit a byte
        {"\"^(00e9)\"", U"\u00E9", 2},                 // four ask for two bytes
        {"\"^(1F600)\"", U"\U0001F600", 4},
    };
    for (const Case& c : cases) {
        Cell s = one(c.text);
        ASSERT_EQ(type_of(&s), TYPE_STRING) << c.text;
        EXPECT_EQ(chars(&s), c.chars) << c.text;
        EXPECT_EQ(unit_of(&s), c.unit) << c.text;
    }
}

TEST_F(LexerTokens, StringEscapes) {
    struct Case { const char* text; std::u32string chars; };
    const Case cases[] = {
        {"\"a^/b\"", U"a\nb"},
        {"\"^-\"", U"\t"},
        {"\"^\"\"", U"\""},
        {"\"^^\"", U"^"},
        {"\"^~\"", U"\x7F"},
        {"\"^@\"", std::u32string(1, U'\0')},
        {"\"^A^z\"", U"\x01\x1A"},
        {"\"^[\"", U"\x1B"},
        {"\"^(tab)^(LINE)^(null)^(del)\"", std::u32string(U"\t\n") + U'\0' + U"\x7F"},
        {"\"^(41)^(3b1)\"", U"A\u03B1"},
        {"\"^!\"", U"!"},
        {"\"^\xC3\xA9\"", U"\u00E9"},
    };
    for (const Case& c : cases) {
        Cell s = one(c.text);
        ASSERT_EQ(type_of(&s), TYPE_STRING) << c.text;
        EXPECT_EQ(chars(&s), c.chars) << c.text;
    }
    for (const char* text : {"\"^(foo)\"", "\"^(110000)\"", "\"^(1234567)\"", "\"^(41\"", "\"a\x80\"",
                             "\"\xC3\"", "\"\xE0\x80\x80\""}) {
        int32_t type = 0;
        EXPECT_EQ(error_of(text, &type), "syntax/invalid") << text;
        EXPECT_EQ(type, TYPE_STRING) << text;
    }
}

TEST_F(LexerTokens, BracedStrings) {
    struct Case { const char* text; std::u32string chars; };
    const Case cases[] = {
        {"{abc}", U"abc"}, {"{a{b}c}", U"a{b}c"}, {"{a^}b}", U"a}b"}, {"{x\ny}", U"x\ny"},
        {"{\xC3\xA9}", U"\u00E9"}, {"{}", U""},
    };
    for (const Case& c : cases) {
        Cell s = one(c.text);
        ASSERT_EQ(type_of(&s), TYPE_STRING) << c.text;
        EXPECT_EQ(chars(&s), c.chars) << c.text;
    }
    for (const char* text : {"{abc", "{a{b}", "{a\x80}"}) {
        int32_t type = 0;
        EXPECT_EQ(error_of(text, &type), "syntax/invalid") << text;
        EXPECT_EQ(type, TYPE_STRING) << text;
    }
}

TEST_F(LexerTokens, RawStrings) {
    struct Case { const char* text; std::u32string chars; };
    const Case cases[] = {
        {"%{a}b}%", U"a}b"}, {"%{^/}%", U"^/"}, {"%%{x}y}%%", U"x}y"}, {"%%{a}% b}%%", U"a}% b"},
        {"%{\xC3\xA9}%", U"\u00E9"},
    };
    for (const Case& c : cases) {
        Cell s = one(c.text);
        ASSERT_EQ(type_of(&s), TYPE_STRING) << c.text;
        EXPECT_EQ(chars(&s), c.chars) << c.text;
    }
    for (const char* text : {"%{a}%%", "%%{a}%"}) EXPECT_EQ(error_of(text), "syntax/invalid") << text;
}

TEST_F(LexerTokens, CharLiterals) {
    struct Case { const char* text; uint32_t cp; };
    const Case cases[] = {
        {"#\"a\"", 'a'},          {"#\"^/\"", 10},        {"#\"^-\"", 9},          {"#\"^\"\"", '"'},
        {"#\"^(tab)\"", 9},       {"#\"^(esc)\"", 27},    {"#\"^(41)\"", 'A'},     {"#\"^(1F600)\"", 0x1F600},
        {"#\"^(10FFFF)\"", 0x10FFFF}, {"#\"\xC3\xA9\"", 0xE9}, {"#\"^@\"", 0},      {"#\"^M\"", 13},
        {"#\"^^\"", '^'},
    };
    for (const Case& c : cases) {
        Cell v = one(c.text);
        EXPECT_EQ(type_of(&v), TYPE_CHAR) << c.text;
        EXPECT_EQ(v.w2, c.cp) << c.text;
    }
    for (const char* text : {"#\"\"", "#\"ab\"", "#\"^(110000)\"", "#\"^(zz)\"", "#\"\x80\""}) {
        int32_t type = 0;
        EXPECT_EQ(error_of(text, &type), "syntax/invalid") << text;
        EXPECT_EQ(type, TYPE_CHAR) << text;
    }
}

// ---- structure ----------------------------------------------------------------

TEST_F(LexerTokens, Constructions) {
    Cell t = one("#(true)");
    EXPECT_EQ(type_of(&t), TYPE_LOGIC);
    EXPECT_EQ(t.w1, 1u);
    Cell f = one("#(FALSE)");
    EXPECT_EQ(type_of(&f), TYPE_LOGIC);
    EXPECT_EQ(f.w1, 0u);
    Cell n = one("#(none)");
    EXPECT_EQ(type_of(&n), TYPE_NONE);
    Cell u = one("#(unset)");
    EXPECT_EQ(type_of(&u), TYPE_UNSET);
    Cell d = one("#(integer!)");
    EXPECT_EQ(type_of(&d), TYPE_DATATYPE);
    EXPECT_EQ(d.w1, uint32_t(TYPE_INTEGER));
    for (const char* text : {"#(foo)", "#( true)", "#(integer)"})
        EXPECT_EQ(error_of(text), "syntax/malconstruct") << text;
}

TEST_F(LexerTokens, CommentsLoadNothing) {
    Cell block;
    ASSERT_EQ(load("1 ; two 2\n3", &block), "");
    ASSERT_EQ(block::zs_length_q(&block), 2);
    EXPECT_EQ(cell::as_int(block::zs_head(&block)[1].w2), 3);
    EXPECT_TRUE(cell::new_line_q(&block::zs_head(&block)[1]));
}

TEST_F(LexerTokens, CommaOutsideAPointLiteralFails) {
    for (const char* text : {"1, 2", "[1 , 2]"}) {
        int32_t type = 0;
        EXPECT_EQ(error_of(text, &type), "syntax/invalid") << text;
        EXPECT_EQ(type, TYPE_POINT2D) << text;
    }
}

}  // namespace
}  // namespace zuv
