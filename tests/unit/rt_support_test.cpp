#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "evaluator/rt_support.hpp"
#include "tests/unit/entry_call.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

struct RtSupport : ::testing::Test {
    void SetUp() override { ensure_runtime(); }
};

TEST_F(RtSupport, FloatToIntegerTruncatesWhatFitsAndRefusesTheRest) {
    struct Case { double d; int32_t want; };
    for (Case k : {Case{2147483647.9, 2147483647}, Case{-1.9, -1}, Case{-2147483648.9, INT32_MIN}, Case{0.5, 0}}) {
        Cell f = float_of(k.d);
        EXPECT_EQ(rt_support::float_to_integer(&f), k.want) << k.d;
    }
    for (double d : {2147483648.0, -2147483649.0, 1e20, std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity()}) {
        Cell f = float_of(d);
        EXPECT_EQ(raised([&] { rt_support::float_to_integer(&f); }), "script/out-of-range") << d;
    }
    Cell i = integer_of(-7);
    EXPECT_EQ(rt_support::float_to_integer(&i), -7);
}

TEST_F(RtSupport, AppendIndentAndReplicatePattern) {
    Cell s = string_of("x");
    EXPECT_EQ(rt_support::append_indent(&s, 0, 80), 80);
    EXPECT_EQ(text(s), "x");
    EXPECT_EQ(rt_support::append_indent(&s, 2, 80), 72);
    EXPECT_EQ(text(s), "x        ");

    char bytes[16] = "abZZZZZZZZZZZZZ";
    uint8_t* start = reinterpret_cast<uint8_t*>(bytes);
    EXPECT_EQ(rt_support::replicate_pattern(start, 2, 0), start);
    EXPECT_EQ(bytes[2], 'Z');
    EXPECT_EQ(rt_support::replicate_pattern(start, 2, 7), start + 14);
    EXPECT_EQ(std::string(bytes, 15), "abababababababZ");
    std::memcpy(bytes, "xyz", 3);
    rt_support::replicate_pattern(start, 3, 3);
    EXPECT_EQ(std::string(bytes, 9), "xyzxyzxyz");
}

TEST_F(RtSupport, TypeCheckNamesTheFunctionTheTypeAndTheArgument) {
    auto defined = define_action("ts-fn", 11, {"first", "second"});
    Cell floats_only{TYPE_TYPESET, 0, 0, 0};
    reinterpret_cast<uint8_t*>(&floats_only.w1)[TYPE_FLOAT >> 3] |= uint8_t(128 >> (TYPE_FLOAT & 7));
    Call c("ts-fn", {float_of(1.5), integer_of(2)});
    EXPECT_EQ(rt_support::check_argument_type(0, &floats_only, c.arg(0)), c.arg(0));
    EXPECT_EQ(c.run([&] { rt_support::check_frame_argument_type(1, &floats_only, 1); }), "script/expect-arg");
    EXPECT_EQ(error_arg(0).w2, word_of("ts-fn").w2);
    EXPECT_EQ(error_arg(1).w1, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(error_arg(2).w2, word_of("second").w2);

    Call d("ts-fn", {integer_of(2)});
    rt_support::check_frame_argument_type(-1, &floats_only, 1);  // an absent refinement's argument
    Cell unused_refinement{TYPE_LOGIC, 0, 0, 0};
    EXPECT_EQ(rt_support::check_refinement_argument_type(&unused_refinement, &floats_only, 1, d.arg(0)), d.arg(0));
    Cell unset{TYPE_UNSET, 0, 0, 0};
    EXPECT_EQ(d.run([&] { rt_support::check_argument_set(0, &unset); }), "script/expect-arg");
    EXPECT_EQ(error_arg(1).w1, uint32_t(TYPE_UNSET));
}

TEST_F(RtSupport, SettingAWordToUnsetRaisesAndLeavesItAlone) {
    Cell w = word_of("rt-target");
    Cell five = integer_of(5);
    _context::set_global_value(int32_t(w.w2), &five);
    w = word_of("rt-target");

    Call c("set", {integer_of(0)});
    Cell unset{TYPE_UNSET, 0, 0, 0};
    stack::push(&unset);
    EXPECT_EQ(c.run([&] { rt_support::set_word(&w); }), "script/need-value");
    EXPECT_EQ(integer::get_value(rt_support::get_word_value(&w)), 5);

    Call d("set", {integer_of(0)});
    Cell seven = integer_of(7);
    stack::push(&seven);
    Cell* kept = rt_support::set_word_keep(&w);
    EXPECT_EQ(integer::get_value(kept), 7);
    EXPECT_EQ(stack::top, d.arg(2)) << "set-word-keep leaves the value on the stack";
    EXPECT_EQ(rt_support::set_word(&w), d.arg(0));
    EXPECT_EQ(stack::top, d.arg(0)) << "set-word drops the call's cells";
    EXPECT_EQ(integer::get_value(rt_support::get_word_value(&w)), 7);

    Cell none_yet = word_of("rt-never-set");
    EXPECT_EQ(raised([&] { rt_support::get_word_value(&none_yet); }), "script/no-value");
}

// A short description of a value for the tables below.
std::string describe(const Cell& v) {
    switch (type_of(&v)) {
        case TYPE_NONE: return "none";
        case TYPE_INTEGER: return std::to_string(integer::get_value(&v));
        case TYPE_STRING: return text(v);
        case TYPE_BLOCK: {
            Cell b = v;
            return "[" + std::to_string(integer::get_value(block::zs_head(&b))) + "]";
        }
        default: return "?";
    }
}

TEST_F(RtSupport, SelectBranch) {
    Cell cases = block_of({integer_of(1), ints({100}), integer_of(2), string_of("skip"), ints({200}), integer_of(3)});
    struct Case { Cell key; bool push, branch; const char* want; };
    for (const Case& k : {Case{integer_of(2), false, true, "[200]"}, Case{integer_of(3), false, true, "none"},
                          Case{integer_of(2), true, false, "skip"}, Case{integer_of(3), true, false, "3"},
                          Case{integer_of(9), true, false, "none"}, Case{ints({100}), true, false, "none"},
                          Case{string_of("skip"), false, false, "none"}}) {  // stepping 2 never meets it
        SCOPED_TRACE(k.want);
        Call c("switch", {k.key, cases});
        rt_support::select_branch(k.push, k.branch);
        if (k.push) {
            ASSERT_EQ(stack::top, c.arg(3)) << "one value pushed";
            EXPECT_EQ(describe(*c.arg(2)), k.want);
        } else {
            EXPECT_EQ(describe(*c.result()), k.want);
        }
    }
}

TEST_F(RtSupport, FormArgumentCutsToThePositiveLimit) {
    Call c("form", {ints({1, 2, 3})});
    Cell* out = rt_support::form_argument(c.arg(-1), 3);
    EXPECT_EQ(text(*out), "1 2");
    Call d("form", {ints({1, 2, 3})});
    EXPECT_EQ(text(*rt_support::form_argument(d.arg(-1), 2147483647)), "1 2 3");
}

}  // namespace
