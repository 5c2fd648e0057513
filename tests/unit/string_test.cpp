// string!: storage, widening, hexadecimal digits, comparison, form and mold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

// A part-limit argument as an action call passes it: an integer! on the data
// stack above the call's first argument.
class StackLimit {
public:
    explicit StackLimit(int32_t n) : saved_arguments_(stack::arguments), saved_top_(stack::top) {
        Cell c;
        integer::make_at(cell::begin(&c), n);
        below_ = stack::push(&c);  // an integer! that is not above the arguments
        stack::arguments = stack::push(&c);
        cell_ = stack::push(&c);
    }
    ~StackLimit() {
        stack::arguments = saved_arguments_;
        stack::top = saved_top_;
    }
    Cell* cell() const { return cell_; }
    Cell* below() const { return below_; }

private:
    Cell* below_;
    Cell* saved_arguments_;
    Cell* saved_top_;
    Cell* cell_;
};

class String : public ::testing::Test {
protected:
    void SetUp() override { test::ensure_runtime(); }

    // A string! holding UTF-8 text.
    static Cell make(const std::string& utf8) {
        Cell s;
        string::load_at(reinterpret_cast<const uint8_t*>(utf8.data()), int32_t(utf8.size()), &s, 0);
        return s;
    }
    // Its characters from the head, as UTF-8.
    static std::string utf8(Cell s) {
        int32_t length = -1;
        const uint8_t* p = unicode::to_utf8(&s, &length);
        return std::string(reinterpret_cast<const char*>(p), size_t(length));
    }
    static uint32_t unit(const Cell& s) { return memory::unit_of(string::buffer(&s)); }
    static Cell integer(int32_t v) {
        Cell c;
        integer::make_at(cell::begin(&c), v);
        return c;
    }
    static std::string mold(const std::string& text, bool all = false) {
        Cell value = make(text);
        Cell out;
        string::zs_make_at(&out, 16);
        int32_t left = string::mold(&value, &out, false, all, false, nullptr, 1000, 0);
        EXPECT_EQ(left, 1000 - string::rs_length_q(&value) - 2);
        return utf8(out);
    }
};

TEST_F(String, WideningDiffersBetweenAppendAndOverwrite) {
    struct Case {
        const char* op;
        uint32_t cp;
        uint32_t unit;
    } cases[] = {
        {"append", 'a', 1}, {"append", 127, 1}, {"append", 233, 2}, {"append", 8364, 2}, {"append", 65536, 4},
        {"overwrite", 233, 1}, {"overwrite", 255, 1}, {"overwrite", 256, 2}, {"overwrite", 8364, 2},
        {"overwrite", 65536, 4}, {"insert", 233, 1}, {"poke", 233, 1}, {"poke", 65536, 4},
    };
    for (const Case& c : cases) {
        Cell s = make(std::string(c.op) == "append" ? "" : "xyz");
        SeriesBuffer* b = string::buffer(&s);
        std::string op = c.op;
        if (op == "append") b = string::append_char(b, c.cp);
        else if (op == "overwrite") b = string::overwrite_char(b, 1, c.cp);
        else if (op == "insert") b = string::insert_char(b, 1, c.cp);
        else b = string::poke_char(b, memory::head_of(b) + 1, c.cp);
        EXPECT_EQ(memory::unit_of(b), c.unit) << c.op << " " << c.cp;
        EXPECT_EQ(b, string::buffer(&s));
        EXPECT_EQ(string::char_at(&s, op == "append" ? 0 : 1), c.cp) << c.op << " " << c.cp;
        if (op != "append") {
            EXPECT_EQ(string::char_at(&s, 0), uint32_t('x'));
        }
    }
}

TEST_F(String, WritingGrowsAndWidensKeepingTheText) {
    Cell s = make("ab");
    SeriesBuffer* b = string::buffer(&s);
    for (int i = 0; i < 100; i++) b = string::append_char(b, 'c');
    b = string::insert_char(b, 0, 0x1F600);
    b = string::overwrite_char(b, 103, 'z');  // at the tail: extends it
    EXPECT_EQ(string::total_length(&s), 104);
    EXPECT_EQ(utf8(s), "\xF0\x9F\x98\x80" "ab" + std::string(100, 'c') + "z");
    string::remove_part(&s, 1, 102);
    EXPECT_EQ(utf8(s), "\xF0\x9F\x98\x80z");
    string::remove_char(&s, 0);
    EXPECT_EQ(utf8(s), "z");
    string::reset(&s);
    EXPECT_EQ(string::total_length(&s), 0);
    EXPECT_EQ(unit(s), 1u);
}

TEST_F(String, HeadPastTheTailReadsAsLengthZero) {
    Cell s = make("abcdef");
    Cell later = s;
    later.w1 = 5;
    string::remove_part(&s, 2, 3);  // the series shrinks to 3 characters
    EXPECT_EQ(string::rs_length_q(&later), 0);
    EXPECT_TRUE(string::at_tail_q(&later));
    EXPECT_EQ(later.w1, 5u);
    EXPECT_EQ(string::get_length(&later), 0);
    EXPECT_EQ(later.w1, 3u);
    later.w1 = 9;
    string::zs_head(&later);
    EXPECT_EQ(later.w1, 3u);
}

TEST_F(String, IntToHex) {
    struct Case {
        int32_t value;
        bool trim;
        const char* text;
    } cases[] = {
        {30, false, "0000001E"}, {30, true, "1E"}, {0, true, "00"}, {-2, false, "FFFFFFFE"}, {0x123, true, "123"},
    };
    for (const Case& c : cases) EXPECT_STREQ(string::int_to_hex(c.value, c.trim), c.text);
    EXPECT_EQ(std::string(string::byte_to_hex(0xA7), 2), "A7");
}

TEST_F(String, CompareText) {
    struct Case {
        const char* a;
        const char* b;
        int32_t op;
        int32_t result;
    } cases[] = {
        {"abc", "ABC", COMP_EQUAL, 0}, {"abc", "ABC", COMP_STRICT_EQUAL, 1}, {"ab", "abc", COMP_LESSER, -1},
        {"abc", "ab", COMP_LESSER, 1}, {"", "", COMP_EQUAL, 0}, {"", "", COMP_LESSER, 0}, {"b", "a", COMP_SORT, 1},
        {"a", "B", COMP_SORT, -1}, {"a", "B", COMP_CASE_SORT, 1}, {"é", "É", COMP_EQUAL, 0}, {"", "a", COMP_LESSER, -1},
    };
    for (const Case& c : cases) {
        Cell a = make(c.a), b = make(c.b);
        EXPECT_EQ(string::compare_text(&a, &b, c.op, false), c.result) << c.a << " " << c.b << " " << c.op;
    }
    Cell a = make("abcd"), prefix = make("AB"), other = make("abx");
    EXPECT_EQ(string::compare_text(&a, &prefix, COMP_EQUAL, true), 0);
    EXPECT_EQ(string::compare_text(&a, &prefix, COMP_STRICT_EQUAL, true), 1);
    EXPECT_NE(string::compare_text(&a, &other, COMP_EQUAL, true), 0);
    EXPECT_EQ(string::compare_text(&a, &a, COMP_SAME, false), 0);
    Cell copy = make("abcd");
    EXPECT_EQ(string::compare_text(&a, &copy, COMP_SAME, false), -1);
}

TEST_F(String, CompareSlotAcrossTextTypes) {
    auto compare = get_slot<Act::compare>(TYPE_STRING);
    ASSERT_NE(compare, nullptr);
    Cell f = make("abc"), s = make("ABC");
    cell::set_type(&f, TYPE_FILE);
    EXPECT_EQ(compare(&f, &s, COMP_EQUAL), 0);
    EXPECT_EQ(compare(&f, &s, COMP_LESSER), COMPARE_INCOMPARABLE);
    Cell n = integer(1);
    EXPECT_EQ(compare(&s, &n, COMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST_F(String, Mold) {
    struct Case {
        std::string text;
        bool all;
        std::string molded;
    } cases[] = {
        {"abc", false, "\"abc\""},
        {"a\"b", false, "{a\"b}"},
        {std::string(49, 'x'), false, "\"" + std::string(49, 'x') + "\""},
        {std::string(50, 'x'), false, "{" + std::string(50, 'x') + "}"},
        {"a\nb\nc", false, "\"a^/b^/c\""},
        {"a\nb\nc\nd", false, "{a^/b^/c^/d}"},
        {"\"{", false, "{\"^{}"},
        {"\"}", false, "{\"^}}"},
        {"\"{x}", false, "{\"{x}}"},
        {"\"^", false, "{\"^^}"},
        {"a{b}c{", false, "\"a{b}c{\""},
        {"é", true, "\"^(E9)\""},
        {"é", false, "\"é\""},
        {"\x1E", false, "\"^(1E)\""},
        {"\xC2\x80", false, "\"^(80)\""},
        {"\t^\x7F\x01", false, "\"^-^^^~^A\""},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(c.text, c.all), c.molded) << c.text;
}

TEST_F(String, MoldWithALimitStopsAtThePart) {
    Cell value = make("abcdef");
    Cell out;
    string::zs_make_at(&out, 16);
    StackLimit limit(3);
    EXPECT_EQ(string::mold(&value, &out, false, false, false, limit.cell(), 3, 0), 3 - 3 - 2);
    EXPECT_EQ(utf8(out), "\"abc\"");
    // An absent limit: the cell just below the arguments, or null.
    EXPECT_EQ(string::mold(&value, &out, false, false, false, limit.below(), 3, 0), 3 - 6 - 2);
    EXPECT_EQ(string::mold(&value, &out, false, false, false, nullptr, 3, 0), 3 - 6 - 2);
}

TEST_F(String, FormAppendsAndWidensOnlyAsNeeded) {
    Cell out = make("x");
    Cell wide = make("€1");
    EXPECT_EQ(string::form(&wide, &out, nullptr, 10), 8);
    EXPECT_EQ(utf8(out), "x€1");
    EXPECT_EQ(unit(out), 2u);
    EXPECT_EQ(unit(wide), 2u);

    Cell narrow = make("ab");  // a narrow source keeps its unit
    string::form(&narrow, &out, nullptr, 10);
    EXPECT_EQ(unit(narrow), 1u);
    EXPECT_EQ(utf8(out), "x€1ab");
    StackLimit limit(1);
    string::form(&narrow, &out, limit.cell(), 10);
    EXPECT_EQ(utf8(out), "x€1aba");
}

TEST_F(String, Concatenate) {
    Cell s = make("abcd"), t = make("XY");
    string::concatenate(&s, &t, -1, 1, false, string::CONCAT_INSERT);
    EXPECT_EQ(utf8(s), "aXYbcd");
    string::concatenate(&s, &t, 1, 5, false, string::CONCAT_OVERWRITE);
    EXPECT_EQ(utf8(s), "aXYbcX");
    string::concatenate(&s, &t, -1, 5, false, string::CONCAT_OVERWRITE);  // runs past the tail
    EXPECT_EQ(utf8(s), "aXYbcXY");
    Cell self = make("ab");
    string::concatenate(&self, &self, -1, 1, false, string::CONCAT_INSERT);  // a series into itself
    EXPECT_EQ(utf8(self), "aabb");
    string::concatenate(&self, &self, -1, 0, false, string::CONCAT_APPEND);
    EXPECT_EQ(utf8(self), "aabbaabb");
    string::concatenate_literal(&self, "!");
    EXPECT_EQ(utf8(self), "aabbaabb!");
}

TEST_F(String, SwapBlocksAndMovePart) {
    char text[] = "abcdeXY";
    string::swap_blocks(reinterpret_cast<uint8_t*>(text), 5, 2);
    EXPECT_STREQ(text, "XYabcde");
    string::swap_blocks(reinterpret_cast<uint8_t*>(text), 2, 5);
    EXPECT_STREQ(text, "abcdeXY");

    Cell from = make("abc"), to = make("xy");
    to.w1 = 1;
    string::move_part(&from, &to, 2);
    to.w1 = 0;
    EXPECT_EQ(utf8(from), "c");
    EXPECT_EQ(utf8(to), "xaby");
}

TEST_F(String, SearchingHelpers) {
    Cell s = make("a<b>cé");
    EXPECT_EQ(string::index_of_char(&s, 'c'), 4);
    EXPECT_EQ(string::index_of_char(&s, 'z'), -1);
    EXPECT_TRUE(string::match_c_string_q(&s, "a<"));
    EXPECT_FALSE(string::match_c_string_q(&s, "a<b>cé!"));
    EXPECT_TRUE(string::find_code_in_records_q(&s, 'C', 2, false));
    EXPECT_FALSE(string::find_code_in_records_q(&s, 'C', 2, true));
    Cell tag = make("b");
    cell::set_type(&tag, TYPE_TAG);
    s.w1 = 1;
    EXPECT_TRUE(string::tag_at_head_q(&s, &tag));
    EXPECT_TRUE(string::match_value_q(&s, &tag, COMP_EQUAL));
    EXPECT_EQ(s.w1, 1u);
}

TEST_F(String, Make) {
    Cell proto = make("");
    Cell spec = integer(-1);
    EXPECT_EQ(test::raised([&] { string::make(&proto, &spec, TYPE_STRING); }), "script/out-of-range");
    spec = integer(0);
    string::make(&proto, &spec, TYPE_STRING);
    EXPECT_EQ(type_of(&proto), TYPE_STRING);
    EXPECT_EQ(string::rs_length_q(&proto), 0);
    spec = integer(10);
    string::make(&proto, &spec, TYPE_FILE);
    EXPECT_EQ(type_of(&proto), TYPE_FILE);
    EXPECT_GE(string::buffer(&proto)->size, 10);
}

TEST_F(String, To) {
    Cell proto = make("");
    Cell none;
    cell::set_type(cell::begin(&none), TYPE_NONE);
    EXPECT_EQ(test::raised([&] { string::to(&proto, &none, TYPE_STRING); }), "script/bad-to-arg");

    Cell source = make("abcdef");
    source.w1 = 2;
    string::to(&proto, &source, TYPE_STRING);
    EXPECT_EQ(utf8(proto), "cdef");
    EXPECT_NE(proto.w2, source.w2);

    // A binary! decoded as UTF-8; an incomplete end raises with those bytes.
    Cell bin;
    cell::begin(&bin)->w2 = memory::alloc_bytes(8);
    cell::set_type(&bin, TYPE_BINARY);
    SeriesBuffer* b = memory::buffer_of(bin.w2);
    const uint8_t bytes[] = {'h', 0xC3, 0xA9, 0xE2, 0x82};
    memcpy(memory::head_of(b), bytes, 5);
    b->tail = b->head + 5;
    EXPECT_EQ(test::raised([&] { string::to(&proto, &bin, TYPE_STRING); }), "access/invalid-utf8");
    EXPECT_EQ(memory::used_bytes(memory::buffer_of(runtime::pending_error().args[0].w2)), 2);
    b = memory::buffer_of(bin.w2);
    b->tail = b->head + 3;
    string::to(&proto, &bin, TYPE_STRING);
    EXPECT_EQ(utf8(proto), "hé");

    if (get_slot<Act::form>(TYPE_INTEGER) != nullptr) {
        Cell n = integer(-42);
        string::to(&proto, &n, TYPE_STRING);
        EXPECT_EQ(utf8(proto), "-42");
    }
}

TEST_F(String, ToFromABlockFormsEachElement) {
    Cell block;
    block::make_at(&block, 4);
    Cell word;
    cell::begin(&word)->w2 = uint32_t(symbol::make("a"));
    cell::set_type(&word, TYPE_WORD);
    block::append_cell(&block, &word);
    Cell b = make("b");
    block::append_cell(&block, &b);
    Cell one = integer(1);
    block::append_cell(&block, &one);
    Cell proto = make("");
    string::to(&proto, &block, TYPE_STRING);
    EXPECT_EQ(utf8(proto), "ab1");
}

TEST_F(String, EvalPath) {
    Cell s = make("abc");
    Cell parent = s;
    Cell two = integer(2);
    string::eval_path(&parent, &two, nullptr, nullptr, nullptr, nullptr, 0, false, false, false, false);
    EXPECT_EQ(type_of(&parent), TYPE_CHAR);
    EXPECT_EQ(parent.w2, uint32_t('b'));

    Cell z;
    cell::begin(&z)->w2 = 0x20AC;
    cell::set_type(&z, TYPE_CHAR);
    parent = s;
    string::eval_path(&parent, &two, &z, nullptr, nullptr, nullptr, 0, false, false, false, false);
    EXPECT_EQ(utf8(s), "a€c");

    Cell word;
    cell::begin(&word)->w2 = uint32_t(symbol::make("x"));
    cell::set_type(&word, TYPE_WORD);
    parent = s;
    EXPECT_EQ(test::raised([&] {
        string::eval_path(&parent, &word, nullptr, &s, nullptr, nullptr, 0, false, false, false, false);
    }), "script/invalid-path");
}

TEST_F(String, LoadRefusesAnUnknownEncodingWithoutEndingTheProcess) {
    Cell s;
    const uint8_t text[] = {'a', 'b'};
    EXPECT_EQ(test::raised([&] { string::load_at(text, 2, &s, 7); }), "script/invalid-arg");
    const uint8_t utf16[] = {'h', 0, 'i', 0};
    string::load_at(utf16, 4, &s, -1);
    EXPECT_EQ(utf8(s), "hi");
    Cell* top = stack::top;
    Cell* pushed = string::load(text, 2, 0);
    EXPECT_EQ(pushed, top);
    EXPECT_EQ(utf8(*pushed), "ab");
    stack::top = top;
}

TEST_F(String, EscapedCharacters) {
    Cell out;
    string::zs_make_at(&out, 4);
    string::append_escaped_char(&out, 0, false);
    string::append_escaped_char(&out, '"', false);
    string::append_escaped_char(&out, 0x100, true);
    string::append_escaped_char(&out, 0x100, false);
    EXPECT_EQ(utf8(out), "^@^\"^(100)\xC4\x80");
}

}  // namespace
