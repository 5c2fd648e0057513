#include <gtest/gtest.h>

#include "evaluator/stack.hpp"
#include "fixture.hpp"
#include "runtime/datatypes/char.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "value_helpers.hpp"

using namespace zuv;

namespace {

struct CharTest : ::testing::Test {
    void SetUp() override { test::ensure_runtime(); }

    // Runs a char! arithmetic action on (a, b) as the current call's arguments.
    std::string math(uint32_t a, const Cell& b, int32_t op, uint32_t* out) {
        stack::reset();
        char_::make_at(cell::begin(stack::push_raw()), a);
        stack::push(&b);
        std::string err = test::raised([&] { char_::do_math(op); });
        *out = stack::arguments->w2;
        EXPECT_EQ(type_of(stack::arguments), TYPE_CHAR);
        return err;
    }
};

Cell integer_cell(int32_t v) {
    Cell c{};
    return *integer::make_at(&c, v);
}

TEST_F(CharTest, ArithmeticStaysACharacter) {
    uint32_t r = 0;
    EXPECT_EQ(math('a', integer_cell(1), OP_ADD, &r), "");
    EXPECT_EQ(r, uint32_t('b'));
    EXPECT_EQ(math('a', integer_cell(2), OP_DIV, &r), "");  // truncated, never a float
    EXPECT_EQ(r, 48u);
    EXPECT_EQ(math(0, integer_cell(1), OP_SUB, &r), "math/overflow");
    EXPECT_EQ(math(0x10FFFF, integer_cell(1), OP_ADD, &r), "math/overflow");
    EXPECT_EQ(math('a', integer_cell(0), OP_REM, &r), "math/zero-divide");
}

TEST_F(CharTest, MakeChecksRangeAndText) {
    Cell result{}, spec = integer_cell(1114112);
    EXPECT_EQ(test::raised([&] { char_::make(&result, &spec, TYPE_CHAR); }), "script/out-of-range");
    spec = integer_cell(65);
    char_::make(&result, &spec, TYPE_CHAR);
    EXPECT_EQ(char_::get(&result), 65u);

    Cell* empty = string::zs_make_at(stack::push_raw(), 4);
    EXPECT_EQ(test::raised([&] { char_::make(&result, empty, TYPE_CHAR); }), "script/bad-to-arg");
    Cell* abc = string::zs_make_at(stack::push_raw(), 4);
    string::concatenate_literal(abc, "abc");
    char_::make(&result, abc, TYPE_CHAR);
    EXPECT_EQ(char_::get(&result), uint32_t('a'));
}

TEST_F(CharTest, EqualToItsCodePointButNotStrictly) {
    Cell a{}, n = integer_cell(97);
    char_::make_at(&a, 'a');
    EXPECT_EQ(char_::compare(&a, &n, COMP_EQUAL), 0);
    EXPECT_NE(char_::compare(&a, &n, COMP_STRICT_EQUAL), 0);
    Cell b{};
    char_::make_at(&b, 'b');
    EXPECT_LT(char_::compare(&a, &b, COMP_LESSER), 0);
}

TEST_F(CharTest, MoldAndForm) {
    Cell* out = string::zs_make_at(stack::push_raw(), 16);
    Cell c{};
    char_::make_at(&c, 'a');
    EXPECT_EQ(char_::mold(&c, out, false, false, false, nullptr, 100, 0), 96);
    EXPECT_EQ(test::text_of(out), "#\"a\"");
    string::reset(out);
    EXPECT_EQ(char_::form(&c, out, nullptr, 100), 99);
    EXPECT_EQ(test::text_of(out), "a");
}

TEST_F(CharTest, InheritsFromInteger) {
    EXPECT_NE(get_slot<Act::even_q>(TYPE_CHAR), nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(get_slot<Act::even_q>(TYPE_CHAR)),
              reinterpret_cast<void*>(get_slot<Act::even_q>(TYPE_INTEGER)));
}

}  // namespace
