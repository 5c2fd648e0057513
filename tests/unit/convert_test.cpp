// The string-to-scalar converters and the float syntax.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "lexer/convert.hpp"

namespace zuv {
namespace {

// The text as characters of the given unit (1, 2 or 4 bytes), as a string
// buffer would hold it.
std::vector<uint8_t> units(const std::u32string& text, int unit) {
    std::vector<uint8_t> out;
    for (char32_t c : text)
        for (int i = 0; i < unit; i++) out.push_back(uint8_t(uint32_t(c) >> (8 * i)));
    return out;
}

std::u32string wide(const std::string& ascii) { return std::u32string(ascii.begin(), ascii.end()); }

TEST(Convert, StringToIntegerInEveryUnit) {
    struct Case { const char* text; int32_t value; int32_t error; };
    const Case cases[] = {
        {"123", 123, 0},
        {"+5", 5, 0},
        {"-0", 0, 0},
        {"1'000'000", 1000000, 0},
        {"1''0", 10, 0},  // unlike the lexer, apostrophes are skipped wherever they stand
        {"2147483647", INT32_MAX, 0},
        {"-2147483648", INT32_MIN, 0},
        {"2147483648", 0, -2},
        {"-2147483649", 0, -2},
        {"-21474836480", 0, -2},  // digits after the minimum still count
        {"99999999999999999999", 0, -2},
        {"12a", 12, -1},
        {"-12 ", -12, -1},
        {"", 0, -1},
        {"-", 0, -1},
        {"'", 0, -1},
    };
    for (int unit : {1, 2, 4}) {
        for (const Case& c : cases) {
            std::vector<uint8_t> text = units(wide(c.text), unit);
            int32_t error = 0;
            int32_t value = lexer::string_to_integer(text.data(), int32_t(text.size() / unit), unit, &error);
            EXPECT_EQ(error, c.error) << c.text << " unit " << unit;
            EXPECT_EQ(value, c.value) << c.text << " unit " << unit;
        }
    }
}

TEST(Convert, FloatSyntax) {
    const char* accepted[] = {"1", "-1", "+1.5", "1.", ".5", "-.5", "1e5", "1E+5", "1.5e-10", "1'000.000'5",
                              "1.e3", "0"};
    const char* refused[] = {"", "+", ".", "e5", "1e", "1e+", "1''0", "1'", "'1", "1.'5", "1'.5", "1.2.3",
                             "1e5.0", "--1", "1 ", "0x10", "1,5", "1e1'0"};
    for (const char* t : accepted)
        EXPECT_TRUE(lexer::float_syntax_q(reinterpret_cast<const uint8_t*>(t), int32_t(std::strlen(t)))) << t;
    for (const char* t : refused)
        EXPECT_FALSE(lexer::float_syntax_q(reinterpret_cast<const uint8_t*>(t), int32_t(std::strlen(t)))) << t;
}

TEST(Convert, StringToFloatIsCorrectlyRounded) {
    struct Case { std::string text; double value; };
    const Case cases[] = {
        {"1.5", 1.5},
        {"1,5", 1.5},  // a comma is the decimal point
        {"-2.5E-3", -2.5e-3},
        {".5", 0.5},
        {"1.", 1.0},
        {"1'000.25", 1000.25},
        {"0.1", 0.1},
        {"0.30000000000000004", 0.1 + 0.2},
        {"2.2250738585072011e-308", 2.2250738585072011e-308},
        {"9007199254740993", 9007199254740992.0},  // a tie rounds to even
        {"1e400", HUGE_VAL},
        {"1e-400", 0.0},
        {"0." + std::string(309, '0') + "1", 1e-310},  // 312 characters, the longest accepted
    };
    for (int unit : {1, 2, 4}) {
        for (const Case& c : cases) {
            std::vector<uint8_t> text = units(wide(c.text), unit);
            int32_t error = 0;
            double d = lexer::string_to_float(text.data(), int32_t(text.size() / unit), unit, &error);
            EXPECT_EQ(error, 0) << c.text;
            EXPECT_EQ(d, c.value) << c.text << " unit " << unit;
        }
    }
}

TEST(Convert, StringToFloatFailures) {
    const std::u32string refused[] = {U"", U"abc", U"1e", U"1.2.3", U"1''0", wide(std::string(313, '1')),
                                      // a wide character is never read as the byte it ends in
                                      U"1\u0131", U"\u0661"};
    for (const std::u32string& t : refused) {
        std::vector<uint8_t> text = units(t, 4);
        int32_t error = 0;
        double d = lexer::string_to_float(text.data(), int32_t(t.size()), 4, &error);
        EXPECT_EQ(error, -1);
        EXPECT_TRUE(std::isnan(d));
    }
}

TEST(Convert, StringToTuple) {
    struct Case { const char* text; int32_t size; uint32_t w1, w2, w3; };
    const Case good[] = {
        {"1.2.3", 3, 0x030201, 0, 0},
        {"255.0.128.7", 4, 0x078000FF, 0, 0},
        {"1.2", 3, 0x0201, 0, 0},  // padded to three bytes
        {"1.2.3.4.5.6.7.8.9.10.11.12", 12, 0x04030201, 0x08070605, 0x0C0B0A09},
    };
    for (const Case& c : good) {
        std::vector<uint8_t> text = units(wide(c.text), 2);
        int32_t error = 0;
        Cell t{};
        lexer::string_to_tuple(text.data(), int32_t(text.size() / 2), 2, &error, &t);
        EXPECT_EQ(error, 0) << c.text;
        EXPECT_EQ(type_of(&t), TYPE_TUPLE) << c.text;
        EXPECT_EQ(int32_t((t.header & lexer::TUPLE_SIZE_MASK) >> lexer::TUPLE_SIZE_SHIFT), c.size) << c.text;
        EXPECT_EQ(t.w1, c.w1) << c.text;
        EXPECT_EQ(t.w2, c.w2) << c.text;
        EXPECT_EQ(t.w3, c.w3) << c.text;
    }
    const char* bad[] = {"", "256.1.1", "1..2", "1.2.", ".1.2", "-1.2.3", "a.b.c", "1.2.3.4.5.6.7.8.9.10.11.12.13",
                         "99999999999999999999.1.1"};
    for (const char* text : bad) {
        int32_t error = 0;
        Cell t{};
        lexer::string_to_tuple(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), 1, &error, &t);
        EXPECT_EQ(error, -1) << text;
        EXPECT_EQ(type_of(&t), 0) << text;
    }
}

}  // namespace
}  // namespace zuv
