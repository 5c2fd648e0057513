// time!: making, text, fields through paths and pick, arithmetic, rounding,
// even? and odd?, and the comparison it takes from float!.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/time.hpp"
#include "tests/unit/entry_call.hpp"

using namespace zuv;

namespace {

Cell T(double seconds) {
    Cell c{};
    return *time::make_at(&c, seconds);
}
Cell F(double d) {
    Cell c{};
    return *float_::make_at(&c, d);
}
Cell I(int32_t v) { return test::integer_of(v); }

std::string form_time(double t, int32_t* left = nullptr) {
    Cell v = T(t);
    Cell out{};
    string::zs_make_at(&out, 16);
    int32_t rest = time::form(&v, &out, nullptr, 100);
    if (left) *left = rest;
    return test::text(out);
}

// A result as the tests compare it: a time! in its text form, a float! or
// integer! as a number, a logic! as true or false.
std::string show(const Cell& v) {
    char text[64];
    switch (type_of(&v)) {
    case TYPE_TIME: return "time " + form_time(time::get(&v));
    case TYPE_FLOAT: std::snprintf(text, sizeof text, "float %g", float_::get(&v)); return text;
    case TYPE_INTEGER: return "integer " + std::to_string(integer::get_value(&v));
    case TYPE_LOGIC: return v.w1 ? "true" : "false";
    default: return "type " + std::to_string(type_of(&v));
    }
}

template <class Entry>
std::string run(const char* name, const std::vector<Cell>& args, Entry entry) {
    test::Call call(name);
    for (const Cell& a : args) stack::push(&a);
    std::string error = call.run([&] { entry(); });
    return error.empty() ? show(*call.result()) : "!" + error;
}

std::string make_time(const Cell& spec) {
    return run("make", {test::datatype_of(TYPE_TIME), spec}, [] { actions::make_star(); });
}

class Time : public ::testing::Test {
protected:
    void SetUp() override { test::ensure_runtime(); }
};

TEST_F(Time, FormAndMold) {
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {3725.5, "1:02:05.5"}, {3600, "1:00:00"},      {0.0000001, "0:00:00"}, {-90.5, "-0:01:30.5"},
        {59.25, "0:00:59.25"}, {36000 * 10, "100:00:00"}, {5e12, "1388888888:53:20"},
    };
    for (const Case& c : cases) EXPECT_EQ(form_time(c.seconds), c.text) << c.seconds;
    // The part left counts the hours, the two colons, the minutes and the
    // seconds, not the sign.
    int32_t left = 0;
    form_time(-3725.5, &left);
    EXPECT_EQ(left, 100 - 9);
    Cell v = T(3725.5);
    Cell out{};
    string::zs_make_at(&out, 16);
    time::mold(&v, &out, false, true, false, nullptr, 100, 0);
    EXPECT_EQ(test::text(out), "1:02:05.5");
}

TEST_F(Time, Make) {
    EXPECT_EQ(make_time(test::ints({-1, 30})), "time -1:30:00");
    EXPECT_EQ(make_time(test::ints({})), "time 0:00:00");
    EXPECT_EQ(make_time(test::block_of({I(1), I(2), F(3.5)})), "time 1:02:03.5");
    EXPECT_EQ(make_time(I(90)), "time 0:01:30");
    EXPECT_EQ(make_time(F(7.25)), "time 0:00:07.25");
    EXPECT_EQ(make_time(T(61)), "time 0:01:01");
    EXPECT_EQ(make_time(test::ints({1, 2, 3, 4})), "!script/bad-to-arg");
    EXPECT_EQ(make_time(test::ints({1, -2})), "!script/bad-to-arg");
    EXPECT_EQ(make_time(test::block_of({F(1.5)})), "!script/bad-to-arg");
    EXPECT_EQ(make_time(test::logic_of(true)), "!script/bad-to-arg");
    EXPECT_EQ(make_time(test::string_of("12 apples")), "!script/bad-to-arg");
    EXPECT_EQ(run("to", {test::datatype_of(TYPE_TIME), I(5)}, [] { actions::to_star(); }), "time 0:00:05");
}

TEST_F(Time, FieldsThroughPathsAndPick) {
    test::Call call("path");
    const Cell start = T(-90.5);
    Cell* t = stack::push(&start);
    auto field = [&](Cell element) {
        Cell* e = stack::push(&element);
        return show(*time::eval_path(t, e, nullptr, nullptr, nullptr, nullptr, 0, false, false, false, false));
    };
    EXPECT_EQ(field(test::word_of("hour")), "integer 0");
    EXPECT_EQ(field(test::word_of("minute")), "integer 1");
    EXPECT_EQ(field(test::word_of("second")), "float -30.5");
    EXPECT_EQ(field(I(2)), "integer 1");
    EXPECT_EQ(call.run([&] { field(test::word_of("day")); }), "script/invalid-path");
    EXPECT_EQ(call.run([&] { field(I(4)); }), "script/invalid-path");

    EXPECT_EQ(run("pick", {T(3725), test::word_of("minute")}, [] { actions::pick_star(); }), "integer 2");
    EXPECT_EQ(run("pick", {T(3725), I(3)}, [] { actions::pick_star(); }), "float 5");
    EXPECT_EQ(run("pick", {T(3725), I(4)}, [] { actions::pick_star(); }), "!script/out-of-range");
    EXPECT_EQ(run("pick", {T(3725), test::word_of("day")}, [] { actions::pick_star(); }), "!script/cannot-use");
}

TEST_F(Time, SettingFields) {
    struct Case {
        const char* field;
        Cell value;
        const char* result;
    };
    const Case cases[] = {
        {"minute", I(30), "1:30:05"},
        {"hour", I(5), "5:02:05"},
        {"second", F(7.5), "1:02:07.5"},
        {"second", I(0), "1:02:00"},
    };
    for (const Case& c : cases) {
        test::Call call("path");
        const Cell start = T(3725), word = test::word_of(c.field);
        Cell* t = stack::push(&start);
        Cell* e = stack::push(&word);
        Cell* v = stack::push(&c.value);
        time::eval_path(t, e, v, nullptr, nullptr, nullptr, 0, false, false, false, false);
        EXPECT_EQ(form_time(time::get(t)), c.result) << c.field;
    }
    test::Call call("path");
    const Cell values[] = {T(3725), test::word_of("hour"), F(1.5)};
    Cell* t = stack::push(&values[0]);
    Cell* e = stack::push(&values[1]);
    Cell* v = stack::push(&values[2]);
    EXPECT_EQ(call.run([&] { time::eval_path(t, e, v, nullptr, nullptr, nullptr, 0, false, false, false, false); }),
              "script/invalid-arg");
    EXPECT_EQ(form_time(time::get(t)), "1:02:05");
}

TEST_F(Time, Arithmetic) {
    auto op = [](const char* name, Cell a, Cell b, void (*entry)()) { return run(name, {a, b}, entry); };
    EXPECT_EQ(op("add", T(60), I(30), actions::add_star), "time 0:01:30");
    EXPECT_EQ(op("add", T(60), F(0.5), actions::add_star), "time 0:01:00.5");
    EXPECT_EQ(op("subtract", T(60), T(90), actions::subtract_star), "time -0:00:30");
    EXPECT_EQ(op("multiply", T(90), I(2), actions::multiply_star), "time 0:03:00");
    EXPECT_EQ(op("divide", T(90), I(2), actions::divide_star), "time 0:00:45");
    EXPECT_EQ(op("divide", T(90), T(30), actions::divide_star), "float 3");
    EXPECT_EQ(op("multiply", T(90), T(2), actions::multiply_star), "!script/not-related");
    Cell date{TYPE_DATE, 0, 0, 0};
    EXPECT_EQ(op("subtract", T(90), date, actions::subtract_star), "!script/not-related");
}

TEST_F(Time, RoundEvenAndOdd) {
    auto round = [](Cell t) {
        return run("round", {t}, [] { actions::round_star(-1, -1, -1, -1, -1, -1, -1); });
    };
    EXPECT_EQ(round(T(3600.6)), "time 1:00:01");
    EXPECT_EQ(run("round", {T(100), I(60)}, [] { actions::round_star(1, -1, -1, -1, -1, -1, -1); }),
              "time 0:02:00");
    Cell money{TYPE_MONEY, 0, 0, 0};
    EXPECT_EQ(run("round", {T(100), money}, [] { actions::round_star(1, -1, -1, -1, -1, -1, -1); }),
              "!script/not-related");

    struct Case {
        double seconds;
        bool even;
    };
    const Case cases[] = {{2, true}, {1.9999995, true}, {61, false}, {-3, false}, {-4.0000001, true}};
    for (const Case& c : cases) {
        Cell t = T(c.seconds);
        EXPECT_EQ(time::even_q(&t), c.even) << c.seconds;
        EXPECT_EQ(time::odd_q(&t), !c.even) << c.seconds;
    }
}

TEST_F(Time, ComparesAsSeconds) {
    Cell a = T(60), b = T(61), i = I(60);
    EXPECT_LT(actions::compare_values(&a, &b, COMP_LESSER), 0);
    EXPECT_TRUE(actions::compare_star(&a, &i, COMP_EQUAL));
    EXPECT_FALSE(actions::compare_star(&a, &b, COMP_EQUAL));
}

}  // namespace
