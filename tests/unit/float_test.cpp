#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/float_text.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/percent.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/memory.hpp"
#include "tests/unit/entry_call.hpp"

using namespace zuv;

namespace {

const double INF = std::numeric_limits<double>::infinity();
const double NaN = std::numeric_limits<double>::quiet_NaN();

std::string formatted(double d, int32_t kind) {
    char out[float_::FORMAT_SIZE];
    int n = float_::format(d, kind, out);
    EXPECT_EQ(n, int(std::strlen(out)));
    return out;
}

std::string molded(double d) {
    char out[float_text::FORM_SIZE];
    int n = float_text::form_float(d, 0, true, out);
    EXPECT_EQ(n, int(std::strlen(out)));
    return out;
}

// The mold of a float-based or integer result cell, with its type.
std::string shown(const Cell* c) {
    switch (type_of(c)) {
        case TYPE_INTEGER: return "integer " + std::to_string(integer::get_value(c));
        case TYPE_FLOAT: return "float " + molded(float_::get(c));
        case TYPE_PERCENT: return "percent " + formatted(percent::get(c) * 100.0, float_::FORMAT_PERCENT);
        default: return "type " + std::to_string(type_of(c));
    }
}

// Sets the pretty? option for a scope.
struct Pretty {
    explicit Pretty(int32_t on) : saved(float_::option_pretty) { float_::option_pretty = on; }
    ~Pretty() { float_::option_pretty = saved; }
    int32_t saved;
};

Cell percent_of(double fraction) {
    Cell c{};
    return *percent::make_at(&c, fraction);
}
Cell char_of(uint32_t cp) { return Cell{TYPE_CHAR, 0, cp, 0}; }
Cell pair_of(int32_t x, int32_t y) { return Cell{TYPE_PAIR, uint32_t(x), uint32_t(y), 0}; }
Cell none_of() { return Cell{TYPE_NONE, 0, 0, 0}; }

}  // namespace

TEST(Float, FormByKind) {
    Pretty on(1);
    struct { double d; int32_t kind; const char* text; } cases[] = {
        {0.1 + 0.2, float_::FORMAT_FLOAT, "0.3"},
        {0.7 + 0.1, float_::FORMAT_FLOAT, "0.8"},  // ...99 noise printed again with 14 digits
        {1.0, float_::FORMAT_FLOAT, "1.0"},
        {100.0, float_::FORMAT_FLOAT, "100.0"},
        {-2147483649.0, float_::FORMAT_FLOAT, "-2147483649.0"},
        {1e16, float_::FORMAT_FLOAT, "1.0e16"},
        {1e20, float_::FORMAT_FLOAT, "1.0e20"},
        {1.5e-7, float_::FORMAT_FLOAT, "1.5e-7"},
        {-1.7976931348623157e308, float_::FORMAT_FLOAT, "-1.797693134862316e308"},
        {1e-17, float_::FORMAT_FLOAT, "0.0"},   // near zero
        {-0.0, float_::FORMAT_FLOAT, "0.0"},
        {INF, float_::FORMAT_FLOAT, "1.#INF"},
        {-INF, float_::FORMAT_FLOAT, "-1.#INF"},
        {NaN, float_::FORMAT_FLOAT, "1.#NaN"},
        {-NaN, float_::FORMAT_FLOAT, "1.#NaN"},
        {12.5, float_::FORMAT_PERCENT, "12.5%"},
        {100.0, float_::FORMAT_PERCENT, "100%"},
        {100.0 / 3.0, float_::FORMAT_PERCENT, "33.33333333333%"},
        {1e-20, float_::FORMAT_PERCENT, "0%"},
        {NaN, float_::FORMAT_PERCENT, "1.#NaN"},
        {-INF, float_::FORMAT_PERCENT, "-1.#INF"},
        {double(0.1f), float_::FORMAT_VECTOR32, "0.1"},
        {double(1.25f), float_::FORMAT_VECTOR32_PERCENT, "1.25%"},
        {100.0, float_::FORMAT_POINT, "100"},
        {1e-20, float_::FORMAT_POINT, "0"},
        {1.5, float_::FORMAT_TIME, "1.5"},
        {59.9999999, float_::FORMAT_TIME, "60"},
        {1e-20, float_::FORMAT_TIME, "0.0"},
    };
    for (auto& c : cases) EXPECT_EQ(formatted(c.d, c.kind), c.text) << c.d << " kind " << c.kind;
}

TEST(Float, FormWithoutPrettyKeepsNoiseAndTinyValues) {
    Pretty off(0);
    EXPECT_EQ(formatted(1e-17, float_::FORMAT_FLOAT), "1.0e-17");
    EXPECT_EQ(formatted(1e-300, float_::FORMAT_FLOAT), "1.0e-300");
    EXPECT_EQ(formatted(0.7 + 0.1, float_::FORMAT_FLOAT), "0.7999999999999999");
    EXPECT_EQ(formatted(-0.0, float_::FORMAT_FLOAT), "-0.0");
    EXPECT_EQ(formatted(1e-22 * 100.0, float_::FORMAT_PERCENT), "1e-20%");
}

TEST(Float, MoldIsTheShortestRoundTripText) {
    struct { double d; const char* text; } cases[] = {
        {0.1, "0.1"},
        {0.7 + 0.1, "0.7999999999999999"},
        {1.0, "1.0"},
        {-0.0, "-0.0"},
        {123.456, "123.456"},
        {1e16, "10000000000000000.0"},
        {1e17, "1.0e17"},
        {1e-7, "0.0000001"},
        {1e-8, "1.0e-8"},
        {9007199254740993.0, "9007199254740992.0"},
        {5e-324, "5.0e-324"},          // the smallest subnormal
        {2.2250738585072014e-308, "2.2250738585072014e-308"},
        {1.7976931348623157e308, "1.7976931348623157e308"},
        {std::ldexp(1.0, 63), "9.223372036854776e18"},
        {INF, "1.#INF"},
        {NaN, "1.#NaN"},
    };
    for (auto& c : cases) EXPECT_EQ(molded(c.d), c.text) << c.d;
}

TEST(Float, ShortestDigitsMatchAnOracleAndReadBack) {
    // Doubles from every exponent range (including subnormals and powers of
    // two), checked against the C++ library's shortest conversion.
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int i = 0; i < 20000; i++) {
        uint64_t bits = next();
        if (i % 4 == 0) bits &= ~0xFFFFFFFFFFFFFull;  // powers of two
        double d = float_::from_bits(bits & ~(uint64_t(1) << 63));
        if (!std::isfinite(d) || d == 0.0) continue;

        char digits[float_text::MAX_DIGITS + 1];
        int point;
        int n = float_text::to_digits(d, 0, digits, &point);

        char oracle[64];
        auto r = std::to_chars(oracle, oracle + sizeof oracle, d, std::chars_format::scientific);
        *r.ptr = '\0';
        std::string expected;
        for (const char* p = oracle; *p && *p != 'e'; p++)
            if (*p != '.') expected += *p;
        while (expected.size() > 1 && expected.back() == '0') expected.pop_back();
        int oracle_point = std::atoi(std::strchr(oracle, 'e') + 1) + 1;
        ASSERT_EQ(std::string(digits, size_t(n)), expected) << oracle;
        ASSERT_EQ(point, oracle_point) << oracle;

        std::string text = molded(d);
        ASSERT_EQ(std::strtod(text.c_str(), nullptr), d) << text;
    }
}

TEST(Float, FormFloatWithDigits) {
    char out[float_text::FORM_SIZE];
    struct { double d; int digits; bool point; const char* text; } cases[] = {
        {1.0 / 3.0, 6, false, "0.333333"},
        {2.5, 6, false, "2.5"},
        {1.0, 6, false, "1"},
        {-0.0, 6, false, "-0"},
        {59.9999999, 6, false, "60"},
        {1234567.0, 6, false, "1234570"},
        {0.1, 22, true, "0.1000000000000000055511"},
    };
    for (auto& c : cases) {
        float_text::form_float(c.d, c.digits, c.point, out);
        EXPECT_STREQ(out, c.text) << c.d;
    }
}

TEST(Float, FormAndMoldSlotsAppendAndCountTheBudget) {
    test::ensure_runtime();
    Cell v = test::float_of(0.7 + 0.1);
    Cell out = test::string_of("");
    EXPECT_EQ(float_::form(&v, &out, nullptr, 100), 97);
    EXPECT_EQ(test::text(out), "0.8");
    out = test::string_of("");
    EXPECT_EQ(float_::mold(&v, &out, false, false, false, nullptr, 100, 0), 82);
    EXPECT_EQ(test::text(out), "0.7999999999999999");
}

TEST(Float, EqualityIsTolerantStrictnessExactSameByBits) {
    double one_up = std::nextafter(1.0, 2.0);
    EXPECT_TRUE(float_::almost_equal_q(1.0, one_up));
    EXPECT_TRUE(float_::almost_equal_q(0.0, -0.0));
    EXPECT_FALSE(float_::almost_equal_q(NaN, NaN));
    EXPECT_FALSE(float_::almost_equal_q(INF, -INF));
    // Far from zero the tolerance is ten units in the last place.
    double big = 1e10, ten = big, eleven = big;
    for (int i = 0; i < 10; i++) ten = std::nextafter(ten, INF);
    for (int i = 0; i < 11; i++) eleven = std::nextafter(eleven, INF);
    EXPECT_TRUE(float_::almost_equal_q(big, ten));
    EXPECT_FALSE(float_::almost_equal_q(big, eleven));
    // Across zero: below 2^-52 apart counts as equal whatever the ulps.
    EXPECT_TRUE(float_::almost_equal_q(-1e-17, 1e-17));

    Cell a = test::float_of(1.0), b = test::float_of(one_up);
    EXPECT_EQ(float_::compare(&a, &b, COMP_EQUAL), 0);
    EXPECT_EQ(float_::compare(&a, &b, COMP_NOT_EQUAL), 0);  // "equal" answer; the entry negates
    EXPECT_EQ(float_::compare(&a, &b, COMP_STRICT_EQUAL), 1);
    EXPECT_EQ(float_::compare(&a, &b, COMP_LESSER), -1);
    Cell zero = test::float_of(0.0), minus_zero = test::float_of(-0.0);
    EXPECT_EQ(float_::compare(&zero, &minus_zero, COMP_EQUAL), 0);
    EXPECT_EQ(float_::compare(&zero, &minus_zero, COMP_STRICT_EQUAL), 0);
    EXPECT_EQ(float_::compare(&zero, &minus_zero, COMP_SAME), 1);

    Cell p = percent_of(1.0), i = test::integer_of(1), none = none_of();
    EXPECT_EQ(float_::compare(&a, &p, COMP_EQUAL), 0);
    EXPECT_EQ(float_::compare(&a, &p, COMP_STRICT_EQUAL), 1);  // another datatype
    EXPECT_EQ(float_::compare(&a, &i, COMP_EQUAL), 0);
    EXPECT_EQ(float_::compare(&a, &i, COMP_FIND), 1);
    EXPECT_EQ(float_::compare(&a, &none, COMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST(Float, NaNMakesEveryOrderingFalse) {
    Cell n = test::float_of(NaN), one = test::float_of(1.0);
    EXPECT_EQ(float_::compare(&n, &one, COMP_EQUAL), 1);
    EXPECT_EQ(float_::compare(&n, &n, COMP_STRICT_EQUAL), 1);
    // lesser? and lesser-or-equal? test for < 0 and <= 0, greater? and
    // greater-or-equal? for > 0 and >= 0: each answer makes its test false.
    EXPECT_GT(float_::compare(&n, &one, COMP_LESSER), 0);
    EXPECT_GT(float_::compare(&n, &one, COMP_LESSER_EQUAL), 0);
    EXPECT_LT(float_::compare(&one, &n, COMP_GREATER), 0);
    EXPECT_LT(float_::compare(&one, &n, COMP_GREATER_EQUAL), 0);
}

TEST(Float, SinglePrecisionEquality) {
    float big = std::numeric_limits<float>::max();
    EXPECT_TRUE(float_::almost_equal32_q(big, std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(float_::almost_equal32_q(big, -std::numeric_limits<float>::infinity()));
    EXPECT_FALSE(float_::almost_equal32_q(std::nanf(""), std::nanf("")));
    EXPECT_TRUE(float_::almost_equal32_q(0.0f, -0.0f));
    float ten = 1.0f, eleven = 1.0f;
    for (int i = 0; i < 10; i++) ten = std::nextafter(ten, 2.0f);
    for (int i = 0; i < 11; i++) eleven = std::nextafter(eleven, 2.0f);
    EXPECT_TRUE(float_::almost_equal32_q(1.0f, ten));
    EXPECT_FALSE(float_::almost_equal32_q(1.0f, eleven));
    EXPECT_TRUE(float_::almost_equal32_q(-1e-45f, 1e-45f));  // across zero
}

TEST(Float, BinaryMathAndResultTypes) {
    struct { const char* word; Cell a, b; int32_t op; const char* expected; } cases[] = {
        {"divide", test::float_of(1.0), test::float_of(0.0), OP_DIV, "float 1.#INF"},
        {"divide", test::float_of(-1.0), test::float_of(0.0), OP_DIV, "float -1.#INF"},
        {"divide", test::float_of(0.0), test::float_of(0.0), OP_DIV, "float 1.#NaN"},
        {"remainder", test::float_of(5.5), test::float_of(0.0), OP_REM, "float 1.#NaN"},
        {"remainder", test::float_of(5.5), test::float_of(INF), OP_REM, "float 5.5"},
        {"remainder", test::float_of(INF), test::float_of(INF), OP_REM, "float 1.#NaN"},
        {"remainder", test::float_of(-7.5), test::float_of(2.0), OP_REM, "float -1.5"},
        {"add", test::float_of(1.5), char_of('a'), OP_ADD, "float 98.5"},
        {"add", percent_of(0.1), test::integer_of(1), OP_ADD, "percent 110%"},
        {"multiply", percent_of(0.1), percent_of(0.1), OP_MUL, "percent 1%"},
        {"add", test::float_of(1.0), percent_of(0.1), OP_ADD, "float 1.1"},
        {"add", test::integer_of(1), percent_of(0.1), OP_ADD, "float 1.1"},
        {"add", percent_of(0.1), char_of('a'), OP_ADD, "script/invalid-type"},
        {"add", test::float_of(1.0), none_of(), OP_ADD, "script/invalid-type"},
        {"subtract", test::float_of(2.0), pair_of(1, 1), OP_SUB, "script/not-related"},
        {"divide", test::float_of(2.0), pair_of(1, 1), OP_DIV, "script/not-related"},
        {"or", test::float_of(1.5), test::float_of(2.0), OP_OR, "script/cannot-use"},
    };
    for (auto& c : cases) {
        test::Call call(c.word, {c.a, c.b});
        std::string got = call.run([&] { float_::do_math(c.op); });
        if (got.empty()) got = shown(call.result());
        EXPECT_EQ(got, c.expected) << c.word;
    }
    // The arguments of not-related and cannot-use.
    test::Call call("subtract", {test::float_of(2.0), pair_of(1, 1)});
    call.run([] { float_::do_math(OP_SUB); });
    EXPECT_EQ(test::error_arg(0).w2, test::word_of("subtract").w2);
    EXPECT_EQ(test::error_arg(1).w1, uint32_t(TYPE_PAIR));
}

TEST(Float, IntegerArithmeticHandsFloatOperandsOver) {
    struct { const char* word; Act act; Cell a, b; const char* expected; } cases[] = {
        {"add", Act::add, test::integer_of(1), test::float_of(0.5), "float 1.5"},
        {"add", Act::add, test::integer_of(2147483647), test::float_of(1.0), "float 2147483648.0"},
        {"divide", Act::divide, test::integer_of(1), test::float_of(0.0), "float 1.#INF"},
        {"or", Act::or_t, test::integer_of(1), test::float_of(2.0), "script/cannot-use"},
    };
    for (auto& c : cases) {
        test::Call call(c.word, {c.a, c.b});
        auto fn = reinterpret_cast<void (*)()>(datatype::action_table[TYPE_INTEGER][int(c.act) - 1]);
        std::string got = call.run(fn);
        if (got.empty()) got = shown(call.result());
        EXPECT_EQ(got, c.expected) << c.word;
    }
    Cell one = test::integer_of(1), half = test::float_of(1.5);
    EXPECT_EQ(integer::compare(&one, &half, COMP_LESSER), -1);
    Cell same = test::float_of(1.0);
    EXPECT_EQ(integer::compare(&one, &same, COMP_EQUAL), 0);
}

TEST(Float, UnaryActions) {
    {
        test::Call call("absolute", {test::float_of(-0.0)});
        float_::absolute();
        EXPECT_EQ(float_::bits_of(float_::get(call.result())), 0u);
    }
    Cell z = test::float_of(-0.0), p = test::float_of(0.0);
    EXPECT_EQ(float_::bits_of(float_::get(float_::negate(&z))), 0u);  // both zeros negate to +0.0
    EXPECT_EQ(float_::bits_of(float_::get(float_::negate(&p))), 0u);
    {
        test::Call call("power", {test::float_of(2.0), test::integer_of(10)});
        float_::power();
        EXPECT_EQ(shown(call.result()), "float 1024.0");
    }
    {
        test::Call call("power", {percent_of(0.5), test::float_of(2.0)});
        float_::power();
        EXPECT_EQ(shown(call.result()), "percent 25%");  // the base keeps its type
    }
    {
        test::Call call("power", {test::float_of(2.0), test::string_of("x")});
        EXPECT_EQ(call.run([] { float_::power(); }), "script/expect-arg");
    }
    struct { double d; bool even; } parity[] = {
        {2.9, true}, {-3.5, false}, {1e20, true}, {NaN, true}, {-2147483649.0, true}, {3.0, false},
    };
    for (auto& c : parity) {
        Cell v = test::float_of(c.d);
        EXPECT_EQ(float_::even_q(&v), c.even) << c.d;
        EXPECT_EQ(float_::odd_q(&v), !c.even) << c.d;
    }
    Cell odd_percent = percent_of(1.5);
    EXPECT_TRUE(get_slot<Act::odd_q>(TYPE_PERCENT)(&odd_percent));
    EXPECT_FALSE(get_slot<Act::even_q>(TYPE_PERCENT)(&odd_percent));
}

TEST(Float, Round) {
    enum Flag { NONE_ = 0, EVEN = 1, DOWN = 2, HALF_DOWN = 4, FLOOR = 8, CEILING = 16, HALF_CEILING = 32 };
    Cell no_scale = none_of();
    struct { Cell v; Cell scale; int flags; const char* expected; } cases[] = {
        {test::float_of(2.5), no_scale, NONE_, "float 3.0"},
        {test::float_of(-2.5), no_scale, NONE_, "float -3.0"},
        {test::float_of(2.5), no_scale, EVEN, "float 2.0"},
        {test::float_of(3.5), no_scale, EVEN, "float 4.0"},
        {test::float_of(2.5), no_scale, HALF_DOWN, "float 2.0"},
        {test::float_of(-2.5), no_scale, HALF_CEILING, "float -2.0"},
        {test::float_of(-2.7), no_scale, DOWN, "float -2.0"},
        {test::float_of(-2.2), no_scale, FLOOR, "float -3.0"},
        {test::float_of(2.2), no_scale, CEILING, "float 3.0"},
        {test::float_of(2.4), no_scale, NONE_, "float 2.0"},
        {test::float_of(1.26), test::float_of(0.1), NONE_, "float 1.3"},
        {test::float_of(7.3), test::integer_of(2), NONE_, "integer 8"},
        {test::float_of(1e300), no_scale, NONE_, "float 1.0e300"},
        {test::float_of(1e10), test::integer_of(2), NONE_, "math/overflow"},  // no integer holds it
        {test::float_of(1.7e308), test::float_of(1e308), NONE_, "math/overflow"},  // would be infinite
        {test::float_of(0.0), test::integer_of(0), NONE_, "float 0.0"},  // no multiple of zero: unchanged
        {percent_of(0.12345), no_scale, NONE_, "percent 12%"},
        {percent_of(0.12345), percent_of(0.001), NONE_, "percent 12.3%"},
        {percent_of(0.12345), test::float_of(0.1), NONE_, "float 0.123"},
        {test::float_of(1.5), Cell{TYPE_MONEY, 0, 0, 0}, NONE_, "script/not-related"},
    };
    for (auto& c : cases) {
        bool to = type_of(&c.scale) != TYPE_NONE;
        test::Call call("round", {c.v, c.scale});
        Cell* scale = to ? call.arg(1) : call.arg(-1);
        Cell* result = nullptr;
        std::string got = call.run([&] {
            result = float_::round(call.arg(0), scale, c.flags & EVEN, c.flags & DOWN, c.flags & HALF_DOWN,
                                   c.flags & FLOOR, c.flags & CEILING, c.flags & HALF_CEILING);
        });
        if (got.empty()) got = shown(result);
        EXPECT_EQ(got, c.expected) << molded(float_::get(&c.v)) << " flags " << c.flags;
    }
}

TEST(Float, MakeAndTo) {
    // A binary value over a fresh byte series.
    auto binary_of = [](std::initializer_list<uint8_t> bytes) {
        Node n = memory::alloc_bytes(int64_t(bytes.size()));
        SeriesBuffer* s = memory::buffer_of(n);
        std::memcpy(memory::head_of(s), bytes.begin(), bytes.size());
        s->tail = s->head + int32_t(bytes.size());
        return Cell{TYPE_BINARY, 0, n, 0};
    };
    test::ensure_runtime();
    struct { int32_t type; Cell spec; const char* expected; } cases[] = {
        {TYPE_FLOAT, test::integer_of(-3), "float -3.0"},
        {TYPE_FLOAT, char_of('a'), "float 97.0"},
        {TYPE_FLOAT, percent_of(0.5), "float 0.5"},
        {TYPE_PERCENT, test::float_of(0.5), "percent 50%"},
        {TYPE_PERCENT, test::integer_of(1), "percent 100%"},
        {TYPE_FLOAT, test::block_of({test::float_of(1.5), test::integer_of(2)}), "float 150.0"},
        {TYPE_FLOAT, test::block_of({test::integer_of(15), test::float_of(-1.9)}), "float 1.5"},
        {TYPE_FLOAT, test::ints({1, 2, 3}), "script/bad-to-arg"},
        {TYPE_FLOAT, test::block_of({test::integer_of(1), none_of()}), "script/bad-to-arg"},
        {TYPE_FLOAT, binary_of({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), "float 1.0"},
        {TYPE_FLOAT, binary_of({0x01}), "float 5.0e-324"},
        {TYPE_FLOAT, binary_of({0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xFF}), "float 1.0"},  // 8 bytes at most
        {TYPE_FLOAT, test::string_of("1.5e3"), "float 1500.0"},
        {TYPE_FLOAT, test::string_of("-2,5"), "float -2.5"},
        {TYPE_FLOAT, test::string_of(""), "script/bad-to-arg"},
        {TYPE_FLOAT, test::string_of("1.5x"), "script/bad-to-arg"},
        {TYPE_PERCENT, test::string_of("5"), "percent 500%"},
        {TYPE_PERCENT, test::string_of("0.25"), "percent 25%"},
        {TYPE_PERCENT, test::string_of("abc"), "script/bad-to-arg"},
        {TYPE_FLOAT, none_of(), "script/bad-to-arg"},
    };
    for (auto& c : cases) {
        test::Call call("to", {test::datatype_of(uint32_t(c.type)), c.spec});
        Cell* result = nullptr;
        std::string got = call.run([&] { result = float_::make(call.arg(0), call.arg(1), c.type); });
        if (got.empty()) got = shown(result);
        EXPECT_EQ(got, c.expected) << c.type;
    }
    // bad-to-arg names the target datatype and the offending value.
    test::Call call("to", {test::datatype_of(TYPE_FLOAT), test::block_of({test::integer_of(1), none_of()})});
    call.run([&] { float_::make(call.arg(0), call.arg(1), TYPE_FLOAT); });
    EXPECT_EQ(test::error_arg(0).w1, uint32_t(TYPE_FLOAT));
    EXPECT_EQ(type_of(&test::error_arg(1)), TYPE_NONE);
}

