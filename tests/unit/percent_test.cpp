#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/percent.hpp"
#include "runtime/datatypes/registry.hpp"
#include "tests/unit/entry_call.hpp"

using namespace zuv;

TEST(Percent, FormAndMoldShowTheValueTimesHundred) {
    test::ensure_runtime();
    struct { double fraction; const char* text; } cases[] = {
        {0.125, "12.5%"},
        {1.0, "100%"},
        {0.001, "0.1%"},
        {-0.5, "-50%"},
        {1e-22, "0%"},                      // below 2^-52 once scaled, with pretty? on
        {1.0 / 3.0, "33.33333333333%"},     // 13 significant digits
        {1e18, "1e20%"},                    // never a ".0"
        {std::nan(""), "1.#NaN"},           // special values get no "%"
        {-HUGE_VAL, "-1.#INF"},
    };
    for (auto& c : cases) {
        Cell v{};
        percent::make_at(&v, c.fraction);
        Cell out = test::string_of("");
        int32_t n = int32_t(std::string(c.text).size());
        EXPECT_EQ(percent::form(&v, &out, nullptr, 50), 50 - n);
        EXPECT_EQ(test::text(out), c.text);
        out = test::string_of("");
        EXPECT_EQ(percent::mold(&v, &out, false, true, false, nullptr, 50, 0), 50 - n);
        EXPECT_EQ(test::text(out), c.text);
    }
}

TEST(Percent, CellsFromTheTwoHalvesOfTheDouble) {
    test::ensure_runtime();
    Cell block = test::ints({});
    uint64_t bits = float_::bits_of(0.25);
    Cell* p = percent::make_in(&block, uint32_t(bits), uint32_t(bits >> 32));
    EXPECT_EQ(type_of(p), TYPE_PERCENT);
    EXPECT_EQ(percent::get(p), 0.25);
    Cell* pushed = percent::push_dwords(uint32_t(bits), uint32_t(bits >> 32));
    EXPECT_EQ(type_of(pushed), TYPE_PERCENT);
    EXPECT_EQ(percent::get(pushed), 0.25);
    stack::pop(1);
}

TEST(Percent, TakesFloatSlotsButItsOwnText) {
    test::ensure_runtime();
    EXPECT_EQ(std::string(datatype::type_names[TYPE_PERCENT].name), "percent!");
    EXPECT_EQ(get_slot<Act::add>(TYPE_PERCENT), get_slot<Act::add>(TYPE_FLOAT));
    EXPECT_EQ(get_slot<Act::round>(TYPE_PERCENT), &float_::round);
    EXPECT_EQ(get_slot<Act::make>(TYPE_PERCENT), &float_::make);
    EXPECT_EQ(get_slot<Act::compare>(TYPE_PERCENT), &float_::compare);
    EXPECT_EQ(get_slot<Act::form>(TYPE_PERCENT), &percent::form);
    EXPECT_EQ(get_slot<Act::mold>(TYPE_PERCENT), &percent::mold);
    EXPECT_EQ(get_slot<Act::and_t>(TYPE_PERCENT), nullptr);
}
