#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "evaluator/natives.hpp"
#include "runtime/datatypes/percent.hpp"
#include "runtime/datatypes/time.hpp"
#include "tests/unit/source_eval.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

struct Case {
    const char* source;
    const char* expected;  // molded result, or "!category/id"
};

void check_cases(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(run_source(c.source), c.expected) << c.source;
}

// Percent and time values by name, until the lexer loads their literals.
struct NativesCompare : ::testing::Test {
    NativesCompare() {
        ensure_evaluator();
        Cell v;
        set_global("half-pct", *percent::make_at(&v, 0.5));
        set_global("zero-pct", *percent::make_at(&v, 0.0));
        set_global("minus1-pct", *percent::make_at(&v, -0.01));
        set_global("hour", *time::make_at(&v, 3600.0));
        set_global("two-hours", *time::make_at(&v, 7200.0));
        set_global("minus-hour", *time::make_at(&v, -3600.0));
        set_global("midnight", *time::make_at(&v, 0.0));
    }
};

// Calls a native's entry directly, as a C++ caller would, under a native
// frame named by word: answers "category/id" of the error raised, or "" with
// the result in *result.
std::string call_entry(natives::Entry entry, const char* word, bool check, std::initializer_list<Cell> args,
                       Cell* result) {
    return guarded([&] {
        Cell name = word_of(word);
        stack::mark_native(&name);
        for (const Cell& a : args) stack::push(&a);
        entry(check, nullptr);
        *result = *stack::arguments;
    });
}

float float32_of(uint32_t word) {
    float f;
    std::memcpy(&f, &word, sizeof f);
    return f;
}
uint32_t word_of_float32(float f) {
    uint32_t w;
    std::memcpy(&w, &f, sizeof w);
    return w;
}

TEST_F(NativesCompare, SameIsIdentityNotEquality) {
    Evaluated r = eval_source("[1 2]");
    ASSERT_EQ(r.error, "");
    Cell second = r.value;
    second.w1 = 1;
    set_global("whole", r.value);
    set_global("second", second);
    set_global("second-again", second);
    check_cases({
        {"same? \"a\" \"a\"", "false"},
        {"s: \"a\" same? s s", "true"},
        {"b: [1 2] same? b b", "true"},
        {"same? [1 2] [1 2]", "false"},
        {"same? second whole", "false"},
        {"same? second second-again", "true"},
        {"same? 1 1", "true"},
        {"same? 1 1.0", "false"},
        {"same? 1.0 1.0", "true"},
        {"same? 0.0 -0.0", "false"},  // bitwise
        {"same? half-pct 0.5", "false"},
        {"same? hour hour", "true"},
        {"same? hour 3600.0", "false"},
        {"same? #\"a\" #\"a\"", "true"},
        {"same? #\"a\" #\"A\"", "false"},
        {"same? true true", "true"},
        {"same? true false", "false"},
        {"same? none none", "true"},
        {"same? () ()", "true"},
        {"same? none ()", "false"},
        {"same? integer! integer!", "true"},
        {"same? integer! float!", "false"},
        {"same? :same? :same?", "true"},
        {"same? :same? :not", "false"},
        {"same? 'a 'a", "true"},
        {"same? 'a 'b", "false"},
    });
}

TEST_F(NativesCompare, ComparisonNativesUseTheirOperatorCodes) {
    check_cases({
        {"equal? 1 1.0", "true"},
        {"equal? \"abc\" \"ABC\"", "true"},
        {"not-equal? 1 2", "true"},
        {"not-equal? 1 1", "false"},
        {"strict-equal? 1 1.0", "false"},
        {"strict-equal? \"abc\" \"ABC\"", "false"},
        {"lesser? 1 2", "true"},
        {"lesser? 2 2", "false"},
        {"greater? 1 2", "false"},
        {"greater? \"b\" \"a\"", "true"},
        {"lesser-or-equal? 2 2", "true"},
        {"lesser-or-equal? 3 2", "false"},
        {"greater-or-equal? 1 2", "false"},
        {"greater-or-equal? 2 2.0", "true"},
        {"equal? true 1", "false"},
        {"lesser? true false", "!script/invalid-compare"},
        {"greater? 1 \"a\"", "!script/invalid-compare"},
    });
}

TEST_F(NativesCompare, NotIsFalseOnlyForNoneAndFalse) {
    check_cases({
        {"not ()", "false"},  // unset is true
        {"not none", "true"},
        {"not false", "true"},
        {"not true", "false"},
        {"not 0", "false"},
        {"not \"\"", "false"},
    });
}

TEST_F(NativesCompare, SignTests) {
    check_cases({
        {"sign? -0.0", "0"},
        {"sign? square-root -1", "0"},  // NaN
        {"sign? -5", "-1"},
        {"sign? 7", "1"},
        {"sign? 0", "0"},
        {"sign? 2.5", "1"},
        {"sign? minus1-pct", "-1"},
        {"sign? minus-hour", "-1"},
        {"negative? -1", "true"},
        {"negative? 0", "false"},
        {"negative? -0.0", "false"},
        {"negative? square-root -1", "false"},
        {"positive? -0.0", "false"},
        {"positive? 0.1", "true"},
        {"positive? hour", "true"},
        {"positive? -2147483648", "false"},
    });
}

TEST_F(NativesCompare, SignTestsRefuseOtherTypesWithExpectArg) {
    EXPECT_EQ(run_source("negative? \"a\""), "!script/expect-arg");

    // The entry's own test, as reached by a caller that did not check.
    for (auto [entry, word] : {std::pair{&natives::negative_q_star, "negative?"},
                               std::pair{&natives::positive_q_star, "positive?"},
                               std::pair{&natives::sign_q_star, "sign?"}}) {
        Cell result{};
        EXPECT_EQ(call_entry(entry, word, false, {string_value("a")}, &result), "script/expect-arg") << word;
        const PendingError& e = runtime::pending_error();
        EXPECT_EQ(e.args[0].w2, word_of(word).w2) << word;
        EXPECT_EQ(type_of(&e.args[1]), TYPE_DATATYPE);
        EXPECT_EQ(e.args[1].w1, uint32_t(TYPE_STRING));
        EXPECT_EQ(e.args[2].w2, word_of("number").w2) << word;
    }
    // With the check flag the spec's types are checked first: same error.
    Cell result{};
    EXPECT_EQ(call_entry(&natives::negative_q_star, "negative?", true, {string_value("a")}, &result),
              "script/expect-arg");
    EXPECT_EQ(call_entry(&natives::complement_q_star, "complement?", false, {integer_value(1)}, &result),
              "script/expect-arg");
    EXPECT_EQ(runtime::pending_error().args[1].w1, uint32_t(TYPE_INTEGER));
}

TEST_F(NativesCompare, ZeroTest) {
    check_cases({
        {"zero? 0", "true"},
        {"zero? 1", "false"},
        {"zero? 0.0", "true"},
        {"zero? -0.0", "true"},
        {"zero? 1e-300", "false"},
        {"zero? zero-pct", "true"},
        {"zero? half-pct", "false"},
        {"zero? #\"^@\"", "true"},
        {"zero? #\"a\"", "false"},
        {"zero? midnight", "true"},
        {"zero? hour", "false"},
        {"zero? square-root -1", "false"},
    });

    // Types without a loader yet, built from their cell layouts; and a type
    // outside the spec, which the entry answers false without an error.
    struct Cells {
        Cell value;
        bool zero;
    };
    const uint32_t tuple3 = TYPE_TUPLE | (3u << 19);
    const Cells cells[] = {
        {{TYPE_PAIR, 0, 0, 0}, true},
        {{TYPE_PAIR, 0, 0, 1}, false},
        {{tuple3, 0, 0, 0}, true},
        {{tuple3, 0x05000000, 7, 0}, true},  // bytes past the size read as 0
        {{tuple3, 0x00000100, 0, 0}, false},
        {{TYPE_TUPLE | (5u << 19), 0, 0x01, 0}, false},
        {{TYPE_POINT2D, word_of_float32(-0.0f), 0, 0}, true},
        {{TYPE_POINT2D, 0, word_of_float32(0.5f), 0}, false},
        {{TYPE_POINT3D, 0, 0, 0}, true},
        {{TYPE_POINT3D, 0, 0, word_of_float32(1.0f)}, false},
        {string_value(""), false},
    };
    for (const Cells& c : cells) {
        Cell result{};
        ASSERT_EQ(call_entry(&natives::zero_q_star, "zero?", false, {c.value}, &result), "");
        EXPECT_EQ(type_of(&result), TYPE_LOGIC);
        EXPECT_EQ(result.w1, c.zero ? 1u : 0u) << int(type_of(&c.value)) << " " << float32_of(c.value.w1);
    }
}

TEST_F(NativesCompare, NaNTest) {
    check_cases({
        {"NaN? square-root -1", "true"},
        {"NaN? log-e -1", "true"},
        {"NaN? 1.0", "false"},
        {"NaN? 1", "false"},
        {"NaN? exp 1000", "false"},  // infinity is not a NaN
    });
}

TEST_F(NativesCompare, MaxKeepsTheFirstAndMinTheSecondOfEqualValues) {
    check_cases({
        {"max 1 1.0", "1"},
        {"min 1 1.0", "1.0"},
        {"max 1 2", "2"},
        {"min 3 2.5", "2.5"},
        {"max \"a\" \"b\"", "\"b\""},
        {"same? hour min hour two-hours", "true"},
        {"max 1 \"a\"", "!script/invalid-compare"},
    });
}

}  // namespace
