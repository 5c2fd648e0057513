#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/percent.hpp"
#include "tests/unit/source_eval.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

// Percent values by name, until the lexer loads their literals.
struct NativesMath : ::testing::Test {
    NativesMath() {
        ensure_evaluator();
        Cell v;
        set_global("half-pct", *percent::make_at(&v, 0.5));
        set_global("quarter-pct", *percent::make_at(&v, 0.25));
    }
};

// The float! the text evaluates to (NaN after a failure, which the test reports).
double float_result(const std::string& source) {
    Evaluated r = eval_source(source);
    EXPECT_EQ(r.error, "") << source;
    EXPECT_EQ(type_of(&r.value), TYPE_FLOAT) << source;
    return r.error.empty() ? float_::get(&r.value) : std::nan("");
}

TEST_F(NativesMath, Shift) {
    struct Case {
        const char* source;
        const char* expected;
    };
    const Case cases[] = {
        {"shift 1 31", "0"},
        {"shift -8 1", "-4"},
        {"shift -8 31", "-1"},
        {"shift -8 40", "-1"},
        {"shift 8 40", "0"},
        {"shift 5 -3", "5"},  // a negative count is 0
        {"shift/left 1 31", "-2147483648"},
        {"shift/left 1 32", "0"},
        {"shift/left -1 100", "0"},
        {"shift/logical -1 28", "15"},
        {"shift/logical -1 32", "0"},
        {"shift/logical 256 4", "16"},
        {"shift/left/logical 1 4", "16"},  // /left wins
        {"shift 1 \"a\"", "!script/expect-arg"},
    };
    for (const Case& c : cases) EXPECT_EQ(run_source(c.source), c.expected) << c.source;
}

TEST_F(NativesMath, SineAndCosineSnapToExactZero) {
    for (const char* source : {"sine 180", "cosine 90", "sine 0", "sine -180", "cosine -90", "cosine 270",
                               "sine/radians 3.141592653589793", "cosine/radians 1.5707963267948966"}) {
        double r = float_result(source);
        EXPECT_EQ(float_::bits_of(r), float_::bits_of(0.0)) << source << " gives " << r;
    }
}

TEST_F(NativesMath, DegreesAreNormalisedPerFunction) {
    const double h = std::sqrt(0.5);
    struct Case {
        const char* source;
        double expected;
    };
    const Case cases[] = {
        {"sine 30", 0.5},      {"sine 150", 0.5},      {"sine 135", h},       {"sine 225", -h},
        {"sine 390", 0.5},     {"sine -30", -0.5},     {"cosine 60", 0.5},    {"cosine 120", -0.5},
        {"cosine 135", -h},    {"cosine -60", 0.5},    {"tangent 45", 1.0},   {"tangent 135", -1.0},
        {"tangent 225", 1.0},  {"tangent -45", -1.0},  {"sine 30.0", 0.5},    {"sine/radians 0.5", std::sin(0.5)},
    };
    for (const Case& c : cases) EXPECT_NEAR(float_result(c.source), c.expected, 1e-15) << c.source;
}

TEST_F(NativesMath, TangentOfARightAngleIsInfinite) {
    EXPECT_EQ(float_result("tangent/radians 1.5707963267948966"), HUGE_VAL);
    EXPECT_EQ(float_result("tangent/radians -1.5707963267948966"), -HUGE_VAL);
    EXPECT_EQ(float_result("tangent 90"), HUGE_VAL);
    EXPECT_EQ(float_result("tangent -90"), -HUGE_VAL);
    EXPECT_TRUE(std::isfinite(float_result("tangent/radians 1.5707963267948963")));
}

TEST_F(NativesMath, ArcFunctions) {
    const double pi = 3.141592653589793;
    EXPECT_EQ(float_result("arcsine 1"), 90.0);
    EXPECT_EQ(float_result("arcsine/radians 1"), pi / 2);
    EXPECT_EQ(float_result("arccosine 1"), 0.0);
    EXPECT_NEAR(float_result("arccosine -1"), 180.0, 1e-12);
    EXPECT_NEAR(float_result("arctangent 1"), 45.0, 1e-12);
    EXPECT_EQ(float_result("arctangent/radians 1.0"), pi / 4);
    EXPECT_NEAR(float_result("arctangent2 1 1"), 45.0, 1e-12);
    EXPECT_NEAR(float_result("arctangent2 1.0 -1"), 135.0, 1e-12);
    EXPECT_EQ(float_result("arctangent2/radians 1 0"), pi / 2);
    EXPECT_TRUE(std::isnan(float_result("arcsine 2")));
}

TEST_F(NativesMath, LogarithmsExpAndSquareRoot) {
    EXPECT_EQ(float_result("log-2 8"), 3.0);
    EXPECT_EQ(float_result("log-2 half-pct"), -1.0);
    EXPECT_EQ(float_result("log-10 1000"), 3.0);
    EXPECT_EQ(float_result("log-e 1"), 0.0);
    EXPECT_EQ(float_result("log-e 0"), -HUGE_VAL);
    EXPECT_TRUE(std::isnan(float_result("log-e -1")));
    EXPECT_EQ(float_result("exp 0"), 1.0);
    EXPECT_NEAR(float_result("exp 1"), 2.718281828459045, 1e-15);
    EXPECT_EQ(float_result("square-root 16"), 4.0);
    EXPECT_EQ(float_result("square-root quarter-pct"), 0.5);
    EXPECT_TRUE(std::isnan(float_result("square-root -1")));
    EXPECT_EQ(run_source("square-root \"4\""), "!script/expect-arg");
}

}  // namespace
