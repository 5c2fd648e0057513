// tuple! from hexadecimal text (the issue conversion) and the triple! text.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "tests/unit/entry_call.hpp"

namespace zuv {
namespace {

// The text as characters of the given unit, as a string buffer holds them.
std::vector<uint8_t> units(const std::u32string& text, int unit) {
    std::vector<uint8_t> out;
    for (char32_t c : text)
        for (int i = 0; i < unit; i++) out.push_back(uint8_t(uint32_t(c) >> (8 * i)));
    return out;
}

std::string formed(Cell value) {
    Cell out = test::string_of("");
    get_slot<Act::form>(type_of(&value))(&value, &out, nullptr, 100);
    return test::text(out);
}

TEST(Tuple, FromHexadecimalText) {
    test::ensure_runtime();
    struct Case { std::u32string text; const char* tuple; };
    const Case good[] = {
        {U"F80", "255.136.0"},            // three digits: each one doubled
        {U"FF8000", "255.128.0"},
        {U"ff800080", "255.128.0.128"},   // eight digits: four bytes
        {U"000", "0.0.0"},
    };
    for (const Case& c : good) {
        for (int unit : {1, 2, 4}) {
            std::vector<uint8_t> text = units(c.text, unit);
            Cell t{};
            ASSERT_TRUE(tuple::from_hex(text.data(), int32_t(c.text.size()), unit, &t));
            EXPECT_EQ(formed(t), c.tuple);
        }
    }
    // Other lengths, non-hexadecimal characters, and a wide character whose
    // low byte is a digit are refused, the cell left as it was.
    const std::u32string bad[] = {U"", U"F8", U"FF80", U"FF800", U"FF8000800", U"G80", U"F 8", U"\u0146" U"80",
                                  U"\x1F" U"80"};
    for (const std::u32string& text : bad) {
        std::vector<uint8_t> bytes = units(text, 2);
        Cell t{};
        EXPECT_FALSE(tuple::from_hex(bytes.data(), int32_t(text.size()), 2, &t));
        EXPECT_EQ(type_of(&t), 0);
    }
}

TEST(Tuple, ToTupleOfAnIssueReadsItsSpelling) {
    // An issue! holds its spelling as a symbol, as words do.
    test::ensure_runtime();
    auto to_tuple = [](const char* spelling, Cell* out) {
        Cell issue{TYPE_ISSUE, 0, uint32_t(symbol::make(spelling)), 0};
        test::Call call("to", {test::datatype_of(TYPE_TUPLE), issue});
        auto to = get_slot<Act::to>(TYPE_TUPLE);
        return call.run([&] { *out = *to(call.arg(0), call.arg(1), TYPE_TUPLE); });
    };
    Cell t{};
    EXPECT_EQ(to_tuple("F80", &t), "");
    EXPECT_EQ(formed(t), "255.136.0");
    EXPECT_EQ(to_tuple("FF800080", &t), "");
    EXPECT_EQ(formed(t), "255.128.0.128");
    EXPECT_EQ(to_tuple("F8", &t), "script/invalid-data");
    EXPECT_EQ(to_tuple("xyz", &t), "script/invalid-data");
}

TEST(Triple, OnlyItsTextForm) {
    test::ensure_runtime();
    EXPECT_EQ(formed(Cell{TYPE_TRIPLE, 1, uint32_t(-2), 3}), "make triple! [1 -2 3]");
    EXPECT_EQ(formed(Cell{TYPE_TRIPLE, uint32_t(INT_MIN), 0, uint32_t(INT_MIN)}),
              "make triple! [-2147483648 0 -2147483648]");
    Cell value{TYPE_TRIPLE, 1, 2, 3};
    Cell out = test::string_of("");
    int32_t n = int32_t(std::string("make triple! [1 2 3]").size());
    EXPECT_EQ(get_slot<Act::mold>(TYPE_TRIPLE)(&value, &out, false, false, false, nullptr, 50, 0), 50 - n);
    EXPECT_EQ(test::text(out), "make triple! [1 2 3]");
    for (Act a : {Act::make, Act::to, Act::compare, Act::add, Act::pick, Act::reverse})
        EXPECT_EQ(datatype::action_table[TYPE_TRIPLE][int(a) - 1], nullptr);
}

}  // namespace
}  // namespace zuv
