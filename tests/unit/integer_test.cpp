#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/float_text.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/throw.hpp"
#include "tests/unit/entry_call.hpp"
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
        // each count of digits at its edges, odd and even
        {9, "9"}, {10, "10"}, {99, "99"}, {100, "100"}, {-10, "-10"}, {12345, "12345"},
        {999999999, "999999999"}, {1000000000, "1000000000"}, {-1000000000, "-1000000000"},
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

namespace {

// The result cell with its type: "integer 8", "float 7.5".
std::string shown(const Cell* c) {
    switch (type_of(c)) {
        case TYPE_INTEGER: return "integer " + std::to_string(integer::get_value(c));
        case TYPE_FLOAT: return "float " + mold_of(float_::get(c));
        default: return "type " + std::to_string(type_of(c));
    }
}

}  // namespace

TEST(Integer, IntPowerThrowsOnlyWhenTheResultOverflows) {
    constexpr int64_t OVERFLOW = INT64_MIN;
    struct { int32_t base, exponent; int64_t expected; } cases[] = {
        {2, 10, 1024}, {2, 0, 1}, {0, 0, 1}, {0, 5, 0}, {2, 30, 1073741824}, {2, 31, OVERFLOW},
        {-2, 31, INT_MIN}, {-2, 32, OVERFLOW}, {3, 19, 1162261467}, {3, 20, OVERFLOW},
        {46340, 2, 2147395600}, {46341, 2, OVERFLOW}, {-1, INT_MAX, -1}, {1, INT_MAX, 1},
        {65536, 1, 65536},  // the square it would not need is never taken
        {INT_MIN, 1, INT_MIN}, {INT_MIN, 2, OVERFLOW},
    };
    for (auto& c : cases) {
        int32_t r = 0;
        uint32_t code = runtime::catch_scope(THROW_INT_OVERFLOW, [&] { r = integer::int_power(c.base, c.exponent); });
        runtime::thrown_code = 0;
        if (c.expected == OVERFLOW) EXPECT_EQ(code, THROW_INT_OVERFLOW) << c.base << " ** " << c.exponent;
        else EXPECT_EQ(code == 0 ? int64_t(r) : OVERFLOW, c.expected) << c.base << " ** " << c.exponent;
    }
}

TEST(Integer, PowerStaysIntegerWhileItFits) {
    test::ensure_runtime();
    auto defined = test::define_action("power", 15, {"number", "exponent"});
    struct { Cell base, exponent; const char* expected; } cases[] = {
        {integer_of(2), integer_of(10), "integer 1024"},
        {integer_of(2), integer_of(31), "float 2147483648.0"},
        {integer_of(-2), integer_of(31), "integer -2147483648"},
        {integer_of(2), integer_of(-1), "float 0.5"},
        {integer_of(4), test::float_of(0.5), "float 2.0"},
        {integer_of(10), test::string_of("2"), "script/expect-arg"},
    };
    for (auto& c : cases) {
        test::Call call("power", {c.base, c.exponent});
        std::string got = call.run([] { integer::power(); });
        EXPECT_EQ(runtime::thrown_code, 0u);  // an overflow was received, not left in flight
        if (got.empty()) got = shown(call.result());
        EXPECT_EQ(got, c.expected) << shown(&c.base);
    }
    // A refused exponent leaves the number as it was and names the argument.
    test::Call call("power", {integer_of(10), test::string_of("2")});
    Cell* number = call.arg(0);  // the data stack never moves
    call.run([] { integer::power(); });
    EXPECT_EQ(shown(number), "integer 10");
    EXPECT_EQ(test::error_arg(1).w1, uint32_t(TYPE_STRING));
    EXPECT_EQ(test::error_arg(2).w2, test::word_of("exponent").w2);
}

TEST(Integer, Round) {
    enum Flag { NONE_ = 0, EVEN = 1, DOWN = 2, HALF_DOWN = 4, FLOOR = 8, CEILING = 16, HALF_CEILING = 32 };
    Cell no_scale{TYPE_NONE, 0, 0, 0};
    struct { int32_t v; Cell scale; int flags; const char* expected; } cases[] = {
        {7, no_scale, NONE_, "integer 7"},
        {7, integer_of(2), NONE_, "integer 8"},
        {25, integer_of(10), NONE_, "integer 30"},
        {-25, integer_of(10), NONE_, "integer -30"},
        {25, integer_of(10), HALF_DOWN, "integer 20"},
        {25, integer_of(10), EVEN, "integer 20"},
        {35, integer_of(10), EVEN, "integer 40"},
        {-25, integer_of(10), HALF_CEILING, "integer -20"},
        {25, integer_of(10), HALF_CEILING, "integer 30"},
        {-27, integer_of(10), DOWN, "integer -20"},
        {-25, integer_of(10), FLOOR, "integer -30"},
        {25, integer_of(10), FLOOR, "integer 20"},
        {-25, integer_of(10), CEILING, "integer -20"},
        {21, integer_of(10), CEILING, "integer 30"},
        {24, integer_of(-10), NONE_, "integer 20"},
        {26, integer_of(10), HALF_DOWN, "integer 30"},  // the half rules touch only exact halves
        {7, integer_of(0), NONE_, "integer 7"},
        {INT_MIN, no_scale, NONE_, "integer -2147483648"},
        {INT_MIN, integer_of(10), DOWN, "integer -2147483648"},  // the minimum stays as it is
        {INT_MIN, integer_of(10), NONE_, "integer -2147483648"},
        {INT_MAX, integer_of(10), NONE_, "math/overflow"},
        {INT_MAX, integer_of(10), FLOOR, "integer 2147483640"},
        {-2147483647, integer_of(2), NONE_, "integer -2147483648"},
        {5, integer_of(INT_MIN), NONE_, "integer 0"},
        {7, test::float_of(2.5), NONE_, "float 7.5"},
        {7, test::float_of(0.5), NONE_, "float 7.0"},
        {7, Cell{TYPE_MONEY, 0, 0, 0}, NONE_, "script/not-related"},
    };
    for (auto& c : cases) {
        bool to = type_of(&c.scale) != TYPE_NONE;
        test::Call call("round", {integer_of(c.v), c.scale});
        Cell* scale = to ? call.arg(1) : call.arg(-1);
        Cell* result = nullptr;
        std::string got = call.run([&] {
            result = integer::round(call.arg(0), scale, c.flags & EVEN, c.flags & DOWN, c.flags & HALF_DOWN,
                                    c.flags & FLOOR, c.flags & CEILING, c.flags & HALF_CEILING);
        });
        if (got.empty()) got = shown(result);
        EXPECT_EQ(got, c.expected) << c.v << " flags " << c.flags;
    }
}

TEST(Integer, MakeAndTo) {
    test::ensure_runtime();
    Cell wide = test::string_of("\x01");
    string::append_char(&wide, 0x101);  // widens the text to 2-byte units
    for (char c : std::string("-42")) string::append_char(&wide, uint32_t(c));
    wide.w1 = 2;  // from the head: "-42"
    Cell time{};
    Cell percent{};
    float_::make_at_type(&percent, 2.5, TYPE_PERCENT);
    Cell bytes{};
    binary::load_at(&bytes, reinterpret_cast<const uint8_t*>("\xFF\x00\x00\x01\x02\x03"), 6);
    bytes.w1 = 1;  // from the head: 00 00 01 02 03, of which the first 4 count
    struct { Act act; Cell spec; const char* expected; } cases[] = {
        {Act::to, integer_of(42), "integer 42"},
        {Act::make, test::logic_of(true), "integer 1"},
        {Act::make, test::logic_of(false), "integer 0"},
        {Act::to, test::logic_of(true), "script/bad-to-arg"},
        {Act::to, Cell{TYPE_CHAR, 0, 'a', 0}, "integer 97"},
        {Act::to, test::float_of(1.9), "integer 1"},
        {Act::to, test::float_of(-2.7), "integer -2"},
        {Act::to, test::float_of(2147483647.0), "integer 2147483647"},
        {Act::to, test::float_of(-2147483648.0), "integer -2147483648"},
        {Act::to, test::float_of(2147483647.5), "script/type-limit"},
        {Act::to, test::float_of(-2147483648.5), "script/type-limit"},
        {Act::to, test::float_of(NAN), "script/type-limit"},
        {Act::to, test::float_of(INFINITY), "script/type-limit"},
        {Act::to, percent, "integer 2"},
        {Act::to, *time::make_at(&time, 1.5), "integer 2"},
        {Act::to, *time::make_at(&time, 1.4), "integer 1"},
        {Act::to, *time::make_at(&time, 2147483647.0), "script/type-limit"},
        {Act::to, test::string_of("12"), "integer 12"},
        {Act::make, test::string_of("-2147483648"), "integer -2147483648"},
        {Act::to, test::string_of("1'000"), "integer 1000"},
        {Act::to, wide, "integer -42"},
        {Act::to, test::string_of("2147483648"), "script/bad-to-arg"},
        {Act::to, test::string_of("12x"), "script/bad-to-arg"},
        {Act::to, test::string_of(""), "script/bad-to-arg"},
        {Act::to, test::string_of("-"), "script/bad-to-arg"},
        {Act::to, Cell{TYPE_NONE, 0, 0, 0}, "script/bad-to-arg"},
        {Act::to, Cell{TYPE_MONEY, 0, 0, 0}, "integer 0"},
        {Act::to, bytes, "integer 258"},
    };
    for (auto& c : cases) {
        test::Call call(c.act == Act::make ? "make" : "to", {test::datatype_of(TYPE_INTEGER), c.spec});
        auto slot = c.act == Act::make ? get_slot<Act::make>(TYPE_INTEGER) : get_slot<Act::to>(TYPE_INTEGER);
        Cell* result = nullptr;
        std::string got = call.run([&] { result = slot(call.arg(0), call.arg(1), TYPE_INTEGER); });
        if (got.empty()) got = shown(result);
        EXPECT_EQ(got, c.expected) << shown(&c.spec);
    }
    // The errors name integer! and the spec.
    test::Call call("to", {test::datatype_of(TYPE_INTEGER), test::string_of("x")});
    call.run([&] { integer::to(call.arg(0), call.arg(1), TYPE_INTEGER); });
    EXPECT_EQ(test::error_arg(0).w1, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(test::text(test::error_arg(1)), "x");
    test::Call limit("to", {test::datatype_of(TYPE_INTEGER), test::float_of(1e10)});
    limit.run([&] { integer::to(limit.arg(0), limit.arg(1), TYPE_INTEGER); });
    EXPECT_EQ(test::error_arg(0).w1, uint32_t(TYPE_INTEGER));
}
