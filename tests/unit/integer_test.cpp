#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/float_text.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

Cell integer_of(int32_t v) { Cell c{}; integer::make_at(&c, v); return c; }

std::string mold_of(double d) {
    char buf[float_text::FORM_SIZE];
    float_text::form_float(d, 0, true, buf);
    return buf;
}

// The molded result of a op b through the kernel: "3", "3.5", or "math/overflow".
std::string math(int32_t a, int32_t b, int32_t op) {
    Cell result = integer_of(a);
    std::string error = test::raised([&] { integer::do_math(a, b, op, &result); });
    if (!error.empty()) return error;
    if (type_of(&result) == TYPE_FLOAT) return mold_of(float_::get(&result));
    EXPECT_EQ(type_of(&result), TYPE_INTEGER);
    return std::to_string(integer::get_value(&result));
}

}  // namespace

TEST(Integer, Arithmetic) {
    struct { int32_t a, b; MathOp op; const char* expected; } cases[] = {
        {2147483647, 1, OP_ADD, "2147483648.0"},
        {INT_MIN, 1, OP_SUB, "-2147483649.0"},
        {INT_MIN, INT_MIN, OP_ADD, "-4294967296.0"},
        {65536, 65536, OP_MUL, "4294967296.0"},
        {-46341, 46341, OP_MUL, "-2147488281.0"},
        {46340, -46340, OP_MUL, "-2147395600"},
        {7, 2, OP_DIV, "3.5"},
        {6, 2, OP_DIV, "3"},
        {-7, 2, OP_DIV, "-3.5"},
        {-7, 2, OP_REM, "-1"},
        {7, -2, OP_REM, "1"},
        {INT_MIN, -1, OP_DIV, "math/overflow"},
        {INT_MIN, -1, OP_REM, "math/overflow"},
        {INT_MIN, 1, OP_DIV, "-2147483648"},
        {5, 0, OP_DIV, "math/zero-divide"},
        {5, 0, OP_REM, "math/zero-divide"},
        {0, 0, OP_DIV, "math/zero-divide"},
        {12, 10, OP_AND, "8"},
        {12, 10, OP_OR, "14"},
        {12, 10, OP_XOR, "6"},
        {-1, INT_MAX, OP_XOR, "-2147483648"},
    };
    for (auto& c : cases) EXPECT_EQ(math(c.a, c.b, c.op), c.expected) << c.a << " op " << c.op << " " << c.b;

    // Without a result cell divide answers the truncated quotient.
    EXPECT_EQ(integer::do_math(7, 2, OP_DIV, nullptr), 3);
    EXPECT_EQ(integer::do_math(-7, 2, OP_DIV, nullptr), -3);
}

TEST(Integer, CharArithmeticKeepsItsType) {
    Cell c{};
    integer::make_at(&c, 'a');
    cell::set_type(&c, TYPE_CHAR);
    Cell one = integer_of(1);
    integer::do_math_cells(&c, &one, OP_ADD);
    EXPECT_EQ(type_of(&c), TYPE_CHAR);
    EXPECT_EQ(integer::get_value(&c), 'b');

    Cell none{};
    cell::set_type(&none, TYPE_NONE);
    EXPECT_EQ(test::raised([&] { integer::do_math_cells(&c, &none, OP_ADD); }), "script/invalid-type");
    const PendingError& e = runtime::pending_error();
    ASSERT_EQ(e.arg_count, 1);
    EXPECT_EQ(type_of(&e.args[0]), TYPE_DATATYPE);
    EXPECT_EQ(e.args[0].w1, uint32_t(TYPE_NONE));
}

TEST(Integer, Text) {
    struct { int32_t v; const char* text; } cases[] = {
        {0, "0"}, {7, "7"}, {-5, "-5"}, {2147483647, "2147483647"}, {INT_MIN, "-2147483648"},
    };
    for (auto& c : cases) {
        char buf[integer::TEXT_SIZE];
        EXPECT_EQ(integer::to_text(c.v, buf), int(std::strlen(c.text)));
        EXPECT_STREQ(buf, c.text);

        test::ensure_runtime();
        Cell out, v = integer_of(c.v);
        string::zs_make_at(&out, 4);
        EXPECT_EQ(integer::mold(&v, &out, false, true, false, nullptr, 100, 0), 100 - int32_t(std::strlen(c.text)));
        EXPECT_EQ(test::text_of(&out), c.text);
    }
}

TEST(Integer, Compare) {
    Cell one = integer_of(1), two = integer_of(2), chr{}, flt{}, none{};
    integer::make_at(&chr, 1);
    cell::set_type(&chr, TYPE_CHAR);
    float_::make_at(&flt, 1.5);
    cell::set_type(&none, TYPE_NONE);

    EXPECT_EQ(integer::compare(&one, &two, COMP_LESSER), -1);
    EXPECT_EQ(integer::compare(&two, &one, COMP_SORT), 1);
    EXPECT_EQ(integer::compare(&one, &chr, COMP_EQUAL), 0);
    EXPECT_EQ(integer::compare(&one, &chr, COMP_STRICT_EQUAL), 1);  // a char is not an integer
    EXPECT_EQ(integer::compare(&one, &chr, COMP_FIND), 1);
    EXPECT_EQ(integer::compare(&one, &flt, COMP_LESSER), -1);
    EXPECT_EQ(integer::compare(&two, &flt, COMP_LESSER), 1);
    EXPECT_EQ(integer::compare(&one, &none, COMP_EQUAL), COMPARE_INCOMPARABLE);
    Cell min = integer_of(INT_MIN), max = integer_of(INT_MAX);
    EXPECT_EQ(integer::compare(&min, &max, COMP_LESSER), -1);  // no subtraction overflow
}

TEST(Integer, UnaryActions) {
    Cell v = integer_of(5);
    EXPECT_EQ(integer::get_value(integer::negate(&v)), -5);
    EXPECT_EQ(integer::get_value(integer::complement(&v)), 4);
    EXPECT_EQ(integer::get_value(integer::complement(&v)), -5);
    integer::make_at(&v, 6);
    EXPECT_TRUE(integer::even_q(&v));
    EXPECT_FALSE(integer::odd_q(&v));
    v = integer_of(-3);
    EXPECT_TRUE(integer::odd_q(&v));

    Cell min = integer_of(INT_MIN);
    EXPECT_EQ(test::raised([&] { integer::negate(&min); }), "math/overflow");
    EXPECT_EQ(integer::get_value(&min), INT_MIN);  // left unchanged
}

TEST(Integer, StackActionsWorkOnTheCallArguments) {
    test::ensure_runtime();
    Cell none{};
    cell::set_type(&none, TYPE_NONE);
    struct { Act act; Cell a, b; const char* expected; } cases[] = {
        {Act::add, integer_of(2147483647), integer_of(1), "2147483648.0"},
        {Act::subtract, integer_of(3), integer_of(5), "-2"},
        {Act::multiply, integer_of(-4), integer_of(5), "-20"},
        {Act::divide, integer_of(7), integer_of(2), "3.5"},
        {Act::remainder, integer_of(-7), integer_of(2), "-1"},
        {Act::and_t, integer_of(6), integer_of(3), "2"},
        {Act::or_t, integer_of(6), integer_of(3), "7"},
        {Act::xor_t, integer_of(6), integer_of(3), "5"},
        {Act::absolute, integer_of(-5), none, "5"},
        {Act::absolute, integer_of(INT_MIN), none, "math/overflow"},
        {Act::divide, integer_of(5), integer_of(0), "math/zero-divide"},
        {Act::add, integer_of(5), none, "script/invalid-type"},
    };
    for (auto& c : cases) {
        auto fn = reinterpret_cast<void (*)()>(datatype::action_table[TYPE_INTEGER][int(c.act) - 1]);
        ASSERT_NE(fn, nullptr);
        Cell* saved_args = stack::arguments;
        stack::arguments = stack::top;
        stack::push(&c.a);
        stack::push(&c.b);
        std::string got = test::raised(fn);
        if (got.empty()) {
            Cell* r = stack::arguments;
            got = type_of(r) == TYPE_FLOAT ? mold_of(float_::get(r)) : std::to_string(integer::get_value(r));
        }
        stack::top = stack::arguments;
        stack::arguments = saved_args;
        EXPECT_EQ(got, c.expected) << int(c.act);
    }
}

TEST(Integer, MakeAtKeepsFlagsAndFloatRange) {
    Cell c{};
    c.header = FLAG_NEW_LINE | TYPE_NONE;
    integer::make_at(&c, 9);
    EXPECT_EQ(c.header, FLAG_NEW_LINE | TYPE_INTEGER);

    struct { double d; bool out; } cases[] = {
        {2147483647.0, false}, {-2147483648.0, false}, {2147483647.5, true},
        {-2147483649.0, true}, {NAN, true}, {-2.7, false},
    };
    for (auto& x : cases) {
        Cell f{};
        float_::make_at(&f, x.d);
        EXPECT_EQ(integer::float_out_of_range_q(&f), x.out) << x.d;
    }
}
