#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/unset.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

Cell datatype_of(int32_t t) { Cell c; datatype::make_at(&c, t); return c; }
Cell logic_of(bool v) { Cell c; logic::make_at(&c, v); return c; }
Cell none_value() { Cell c; none::make_at(&c); return c; }
Cell unset_value() { Cell c; unset::make_at(&c); return c; }
Cell integer_of(int32_t v) { Cell c{}; integer::make_at(&c, v); return c; }
Cell float_of(double d) { Cell c{}; float_::make_at(&c, d); return c; }

// Forms or molds a value through its type's slots; checks the part limit too.
std::string text(Cell v, bool mold, bool all = false) {
    test::ensure_runtime();
    Cell out;
    string::zs_make_at(&out, 16);
    const int32_t part = 100;
    int32_t left = mold ? get_slot<Act::mold>(type_of(&v))(&v, &out, false, all, false, nullptr, part, 0)
                        : get_slot<Act::form>(type_of(&v))(&v, &out, nullptr, part);
    std::string s = test::text_of(&out);
    EXPECT_EQ(part - left, int32_t(s.size())) << s;
    return s;
}

int32_t compare(Cell a, Cell b, int32_t op) { return get_slot<Act::compare>(type_of(&a))(&a, &b, op); }

}  // namespace

TEST(SimpleTypes, FormAndMold) {
    struct { Cell value; bool mold, all; const char* expected; } cases[] = {
        {datatype_of(TYPE_INTEGER), false, false, "integer"},
        {datatype_of(TYPE_INTEGER), true, false, "integer!"},
        {datatype_of(TYPE_INTEGER), true, true, "#(integer!)"},
        {datatype_of(TYPE_DATATYPE), false, false, "datatype"},
        {datatype_of(TYPE_NONE), true, true, "#(none!)"},
        {logic_of(true), true, true, "#(true)"},
        {logic_of(false), true, true, "#(false)"},
        {logic_of(true), true, false, "true"},
        {logic_of(false), false, false, "false"},
        {unset_value(), false, false, ""},
        {unset_value(), true, false, "unset"},
        {unset_value(), true, true, "#(unset)"},
        {none_value(), false, false, "none"},
        {none_value(), true, false, "none"},
        {none_value(), true, true, "#(none)"},
    };
    for (auto& c : cases) EXPECT_EQ(text(c.value, c.mold, c.all), c.expected);
}

TEST(SimpleTypes, Compare) {
    test::ensure_runtime();
    // Equality answers 0 for a match; -2 (incomparable) counts as not equal.
    EXPECT_EQ(compare(none_value(), none_value(), COMP_EQUAL), 0);
    EXPECT_EQ(compare(none_value(), logic_of(false), COMP_EQUAL), COMPARE_INCOMPARABLE);
    EXPECT_EQ(compare(unset_value(), none_value(), COMP_EQUAL), COMPARE_INCOMPARABLE);
    EXPECT_EQ(compare(unset_value(), unset_value(), COMP_STRICT_EQUAL), 0);
    EXPECT_EQ(compare(unset_value(), unset_value(), COMP_LESSER), COMPARE_INCOMPARABLE);

    // Logic values match by payload, sort false first, and have no order for lesser? and kin.
    EXPECT_EQ(compare(logic_of(true), logic_of(true), COMP_EQUAL), 0);
    EXPECT_NE(compare(logic_of(true), logic_of(false), COMP_EQUAL), 0);
    EXPECT_LT(compare(logic_of(false), logic_of(true), COMP_SORT), 0);
    EXPECT_EQ(compare(logic_of(true), logic_of(false), COMP_LESSER), COMPARE_INCOMPARABLE);
    EXPECT_EQ(compare(logic_of(true), integer_of(1), COMP_EQUAL), COMPARE_INCOMPARABLE);

    EXPECT_EQ(compare(datatype_of(TYPE_BLOCK), datatype_of(TYPE_BLOCK), COMP_EQUAL), 0);
    EXPECT_EQ(compare(datatype_of(TYPE_BLOCK), datatype_of(TYPE_PAREN), COMP_EQUAL), 1);
    EXPECT_EQ(compare(datatype_of(TYPE_BLOCK), integer_of(TYPE_BLOCK), COMP_FIND), 1);
    EXPECT_EQ(compare(datatype_of(TYPE_BLOCK), datatype_of(TYPE_PAREN), COMP_LESSER), COMPARE_INCOMPARABLE);
}

TEST(SimpleTypes, MakeAndToLogic) {
    test::ensure_runtime();
    Cell text_spec{};
    cell::set_type(&text_spec, TYPE_STRING);  // only the type is read
    struct { bool make; Cell spec; bool expected; } cases[] = {
        {true, integer_of(0), false},  {false, integer_of(0), true},
        {true, integer_of(-3), true},  {true, float_of(0.0), false},
        {true, float_of(NAN), true},   {true, none_value(), false},
        {false, none_value(), false},  {true, text_spec, true},
        {false, logic_of(false), false}, {false, unset_value(), true},
    };
    for (auto& c : cases) {
        Cell result = datatype_of(TYPE_LOGIC);
        Cell* r = c.make ? get_slot<Act::make>(TYPE_LOGIC)(&result, &c.spec, TYPE_LOGIC)
                         : get_slot<Act::to>(TYPE_LOGIC)(&result, &c.spec, TYPE_LOGIC);
        EXPECT_EQ(type_of(r), TYPE_LOGIC);
        EXPECT_EQ(logic::get_value(r), c.expected ? 1u : 0u) << (c.make ? "make " : "to ") << int(type_of(&c.spec));
    }
    // make and to of unset! and none! give their own value whatever the spec.
    Cell spec = integer_of(5), result = datatype_of(TYPE_NONE);
    EXPECT_EQ(type_of(get_slot<Act::to>(TYPE_NONE)(&result, &spec, TYPE_NONE)), TYPE_NONE);
    EXPECT_EQ(type_of(get_slot<Act::make>(TYPE_UNSET)(&result, &spec, TYPE_UNSET)), TYPE_UNSET);
}

TEST(SimpleTypes, Truth) {
    Cell word{}, n = none_value(), u = unset_value(), f = logic_of(false), z = integer_of(0);
    EXPECT_FALSE(logic::cell_true_q(&n, true, &word));
    EXPECT_TRUE(logic::cell_true_q(&u, false, &word));
    EXPECT_TRUE(logic::cell_true_q(&z, true, &word));
    EXPECT_TRUE(logic::false_q(&f));
    EXPECT_FALSE(logic::false_q(&u));
    EXPECT_EQ(test::raised([&] { logic::cell_true_q(&u, true, &word); }), "script/no-value");
    EXPECT_EQ(test::raised([&] { logic::true_strict_q(&u); }), "script/no-return");
    EXPECT_EQ(test::raised([&] { EXPECT_FALSE(logic::true_strict_q(&f)); }), "");
}

TEST(SimpleTypes, LogicBitwiseActionsOnTheCallArguments) {
    test::ensure_runtime();
    struct { Act act; bool a; Cell b; const char* expected; } cases[] = {
        {Act::and_t, true, logic_of(false), "false"},
        {Act::and_t, true, logic_of(true), "true"},
        {Act::or_t, false, logic_of(true), "true"},
        {Act::xor_t, true, logic_of(true), "false"},
        {Act::and_t, true, integer_of(1), "script/expect-arg"},
    };
    for (auto& c : cases) {
        auto fn = reinterpret_cast<void (*)()>(datatype::action_table[TYPE_LOGIC][int(c.act) - 1]);
        ASSERT_NE(fn, nullptr);
        Cell* saved_args = stack::arguments;
        stack::arguments = stack::top;
        logic::push(c.a);
        stack::push(&c.b);
        std::string got = test::raised(fn);
        if (got.empty()) got = logic::get_value(stack::arguments) ? "true" : "false";
        stack::top = stack::arguments;
        stack::arguments = saved_args;
        EXPECT_EQ(got, c.expected) << int(c.act);
    }
    const PendingError& e = runtime::pending_error();
    ASSERT_GE(e.arg_count, 2);
    EXPECT_EQ(type_of(&e.args[1]), TYPE_DATATYPE);
    EXPECT_EQ(e.args[1].w1, uint32_t(TYPE_INTEGER));
}

TEST(SimpleTypes, LogicComplementAndNoneSeriesActions) {
    test::ensure_runtime();
    Cell t = logic_of(true);
    get_slot<Act::complement>(TYPE_LOGIC)(&t);
    EXPECT_EQ(logic::get_value(&t), 0u);

    Cell n = none_value(), key = integer_of(1);
    EXPECT_EQ(get_slot<Act::length_q>(TYPE_NONE)(&n), -1);
    Cell* found = get_slot<Act::find>(TYPE_NONE)(&n, &key, nullptr, false, false, false, false, nullptr,
                                                  nullptr, false, false, false, false);
    EXPECT_EQ(type_of(found), TYPE_NONE);
    EXPECT_EQ(type_of(get_slot<Act::take>(TYPE_NONE)(&n, nullptr, false, false)), TYPE_NONE);
    EXPECT_EQ(get_slot<Act::append>(TYPE_NONE), nullptr);
}
