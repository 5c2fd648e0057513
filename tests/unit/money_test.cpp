// money!: the stored cell layout, the currency list, the decimals setting of
// the text forms and the digit-text constructor.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/string.hpp"
#include "tests/unit/entry_call.hpp"

using namespace zuv;

namespace {

class Money : public ::testing::Test {
protected:
    void SetUp() override { test::ensure_runtime(); }
    void TearDown() override { money::option_digits = 2; }
};

Cell from_text(const char* integer_digits, const char* fraction, bool negative = false, int32_t currency = 0) {
    Cell c{};
    bool ok = money::make_from_digits(&c, negative, currency, reinterpret_cast<const uint8_t*>(integer_digits),
                                      int32_t(std::strlen(integer_digits)),
                                      reinterpret_cast<const uint8_t*>(fraction), int32_t(std::strlen(fraction)));
    EXPECT_TRUE(ok) << integer_digits << "." << fraction;
    return c;
}

std::string form(const Cell& value, bool all = false, bool grouping = true) {
    Cell out{};
    string::zs_make_at(&out, 16);
    money::form_value(&value, &out, 100, all, grouping);
    return test::text(out);
}

TEST_F(Money, StoredLayout) {
    // The layout is what serialized values keep: currency in the low byte of
    // word 1, packed digits from its second byte on, the sign in header bit 14.
    Cell c = from_text("1", "5", true, 155);
    EXPECT_EQ(c.header, uint32_t(TYPE_MONEY) | money::SIGN_BIT);
    EXPECT_EQ(c.w1, 155u);
    EXPECT_EQ(c.w2, 0u);
    EXPECT_EQ(c.w3, 0x1500u);  // positions 17 (units) and 18 (tenths): digit byte 8

    Cell big = from_text("12345678901234567", "89012");
    EXPECT_EQ(big.w1, 0x56341200u);
    EXPECT_EQ(big.w2, 0x34129078u);
    EXPECT_EQ(big.w3, 0x12907856u);
    EXPECT_EQ(big.header, uint32_t(TYPE_MONEY));
    uint8_t bytes[money::DIGIT_BYTES];
    money::get_digit_bytes(&big, bytes);
    EXPECT_EQ(money::digit_count(bytes), 22);
    EXPECT_EQ(money::get_digit(bytes, 1), 1);
    EXPECT_EQ(money::get_digit(bytes, 22), 2);

    // A zero amount is never stored negative.
    EXPECT_EQ(from_text("0", "", true).header, uint32_t(TYPE_MONEY));
}

TEST_F(Money, CurrencyList) {
    // The list the system starts with: its order is part of the stored format.
    EXPECT_STREQ(money::currencies[0], "AED");
    EXPECT_STREQ(money::currencies[46], "EUR");
    EXPECT_STREQ(money::currencies[154], "USD");
    EXPECT_STREQ(money::currencies[169], "ZMW");
    std::set<std::string> distinct;
    for (const char* code : money::currencies) {
        ASSERT_EQ(std::strlen(code), 3u) << code;
        for (int i = 0; i < 3; i++) EXPECT_TRUE(code[i] >= 'A' && code[i] <= 'Z') << code;
        distinct.insert(code);
    }
    EXPECT_EQ(distinct.size(), size_t(money::CURRENCY_COUNT));
    EXPECT_EQ(money::currency_index(reinterpret_cast<const uint8_t*>("usd"), 3), 155);
    EXPECT_EQ(money::currency_index(reinterpret_cast<const uint8_t*>("XYZ"), 3), -1);
    EXPECT_EQ(money::currency_index(reinterpret_cast<const uint8_t*>("USDX"), 4), -1);
}

// The loader's table and the library's system/locale/currencies/list are one
// list: a stored money value names its currency by its place in it.
TEST_F(Money, CurrencyListAgreesWithTheLibrarysList) {
    std::string path = __FILE__;
    path = path.substr(0, path.rfind("/tests/unit/")) + "/library/system.zuv";
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    std::stringstream text;
    text << in.rdbuf();
    std::string source = text.str();
    size_t at = source.find("currencies: make object! [");
    ASSERT_NE(at, std::string::npos);
    at = source.find("list: [", at);
    ASSERT_NE(at, std::string::npos);
    size_t end = source.find(']', at);
    std::istringstream words(source.substr(at + 7, end - at - 7));
    std::vector<std::string> listed;
    for (std::string word; words >> word;) listed.push_back(word);
    ASSERT_EQ(listed.size(), size_t(money::CURRENCY_COUNT));
    for (int32_t i = 0; i < money::CURRENCY_COUNT; i++) EXPECT_EQ(listed[i], money::currencies[i]) << i;
}

TEST_F(Money, DecimalsSetting) {
    Cell v = from_text("1234567", "891", false, 155);
    struct Case {
        int32_t digits;
        const char* formed;
    } cases[] = {{2, "USD$1'234'567.89"}, {0, "USD$1'234'567"}, {-3, "USD$1'234'567"},
                 {1, "USD$1'234'567.8"},  {7, "USD$1'234'567.89100"}};
    for (const Case& c : cases) {
        money::option_digits = c.digits;
        EXPECT_EQ(form(v), c.formed) << c.digits;
    }
    money::option_digits = 0;
    EXPECT_EQ(form(v, true, false), "USD$1234567.89100");  // mold/all shows every decimal
    EXPECT_EQ(form(from_text("0", "5", true), true, false), "-$0.50000");
}

TEST_F(Money, DigitTextsTheConstructorRefuses) {
    struct Case {
        const char* integer_digits;
        const char* fraction;
        int32_t currency;
    } refused[] = {
        {"123456789012345678", "", 0},  // 18 integer digits
        {"1", "123456", 0},             // 6 decimals
        {"1a", "", 0},
        {"1", "", 171},
        {"1", "", -1},
    };
    for (const Case& c : refused) {
        Cell cell{};
        EXPECT_FALSE(money::make_from_digits(&cell, false, c.currency,
                                             reinterpret_cast<const uint8_t*>(c.integer_digits),
                                             int32_t(std::strlen(c.integer_digits)),
                                             reinterpret_cast<const uint8_t*>(c.fraction),
                                             int32_t(std::strlen(c.fraction))))
            << c.integer_digits << "." << c.fraction;
        EXPECT_EQ(cell.header, 0u);  // untouched
    }
    // Leading zeros and apostrophes do not count.
    EXPECT_EQ(form(from_text("000000000000000000001'000", "")), "$1'000.00");
}

}  // namespace
