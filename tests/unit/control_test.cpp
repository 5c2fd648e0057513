// The conditional and loop natives from C++: exits that arrive as the
// low-level throw, entries called with the check flag, and the loop support
// routines. Their language behaviour is in tests/lang/control.cases.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "evaluator/interpreter.hpp"
#include "evaluator/loop_support.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "tests/unit/builder.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

class Control : public ::testing::Test {
protected:
    void SetUp() override {
        ensure_evaluator();
        // The words the library will define.
        Cell v;
        set_global("true", *logic::make_at(&v, true));
        set_global("false", *logic::make_at(&v, false));
        set_global("none", *none::make_at(&v));
        // The action specs name datatypes that are not registered yet; their
        // words are set as the boot image will set them.
        const struct {
            const char* name;
            uint32_t type;
        } later[] = {{"binary!", TYPE_BINARY}, {"bitset!", TYPE_BITSET}, {"date!", TYPE_DATE},
                     {"hash!", TYPE_HASH},     {"map!", TYPE_MAP},       {"money!", TYPE_MONEY},
                     {"pair!", TYPE_PAIR},     {"port!", TYPE_PORT},     {"tuple!", TYPE_TUPLE},
                     {"vector!", TYPE_VECTOR}, {"issue!", TYPE_ISSUE},   {"url!", TYPE_URL},
                     {"file!", TYPE_FILE},     {"function!", TYPE_FUNCTION}};
        for (const auto& t : later) {
            Cell now = global_value(t.name);
            if (type_of(&now) == TYPE_UNSET) set_global(t.name, *datatype::make_at(&v, int32_t(t.type)));
        }
    }

    static Cell load(const char* source) {
        Cell code;
        lexer::scan(cell::begin(&code), reinterpret_cast<const uint8_t*>(source), int32_t(std::strlen(source)), false,
                    true, true, false, nullptr, nullptr, nullptr, nullptr);
        return code;
    }
    // The molded value of the source, or "!category/id" for an error.
    static std::string eval(const char* source) { return run(load(source)); }

    struct Case {
        const char* source;
        const char* expected;
    };
    static void check(std::initializer_list<Case> cases) {
        for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.expected) << c.source;
    }
};

// A native that runs a block and cannot hand a pending code on: it raises it
// as the low-level throw, as C++ code between an exit and its loop does.
void relay_entry(bool, const int32_t*) {
    interpreter::eval_block(stack::arguments, true);
    stack::raise_pending();
}

TEST_F(Control, BreakAndContinueAlsoArriveAsTheLowLevelThrow) {
    constexpr int32_t RELAY_SLOT = 118;
    static const bool made = [] {
        natives::install_test_entry(RELAY_SLOT, relay_entry);
        runtime::boot_flag = true;  // a boot definition of the test's own
        Cell proto, spec = block_of({block_of({word_of("body"), block_of({word_of("block!")})}), integer_value(RELAY_SLOT)});
        datatype::make_at(&proto, TYPE_NATIVE);
        Cell relay = *get_slot<Act::make>(TYPE_NATIVE)(&proto, &spec, TYPE_NATIVE);
        stack::pop(1);
        runtime::boot_flag = false;
        set_global("relay", relay);
        return true;
    }();
    (void)made;
    check({
        {"relay [add 1 2]", "3"},
        {"loop 5 [relay [break/return 3]]", "3"},
        {"s: copy [] repeat i 4 [relay [if even? i [continue]] append s i] s", "[1 3]"},
        {"x: 0 forever [x: add x 1 relay [if equal? x 4 [break]]] x", "4"},
        // The loop's caller goes on normally afterwards.
        {"n: 0 loop 3 [loop 3 [n: add n 1 relay [break]]] n", "3"},
        // Other codes pass through the loop on their way.
        {"f: func [] [loop 3 [relay [return 4]] 0] f", "4"},
        {"relay [break]", "!throw/break"},
    });
}

TEST_F(Control, EntriesCalledWithCheckTestTheirArgumentTypes) {
    // As a C++ caller calls them: a native frame named by the word, the
    // arguments, the check flag set. The error names the argument's word.
    auto call = [](const char* name, natives::Entry entry, std::initializer_list<Cell> args, int32_t refinement) {
        std::string error = guarded([&] {
            stack::mark_native(&static_cast<const Cell&>(word_of(name)));
            for (const Cell& a : args) stack::push(&a);
            int32_t refinements[1] = {refinement};
            entry(true, refinements);
        });
        if (error.empty()) return error;
        const PendingError& e = runtime::pending_error();
        return error + " " + mold(e.args[1]) + " " + mold(e.args[2]);
    };
    Cell body = block_of({});
    EXPECT_EQ(call("loop", natives::loop_star, {string_value("x"), body}, -1), "script/expect-arg string! count");
    EXPECT_EQ(call("loop", natives::loop_star, {integer_value(0), integer_value(1)}, -1),
              "script/expect-arg integer! body");
    EXPECT_EQ(call("foreach", natives::foreach_star, {integer_value(1), body, body}, -1),
              "script/expect-arg integer! 'word");
    EXPECT_EQ(call("switch", natives::switch_star, {integer_value(1), body, integer_value(2)}, 2),
              "script/expect-arg integer! case");
    EXPECT_EQ(call("switch", natives::switch_star, {integer_value(1), body, body}, 2), "");
}

// ---- the support routines ----

class LoopSupport : public Control {
protected:
    // max (flag set) or min of two values, as their natives call it.
    static std::string max_min(const Cell& a, const Cell& b, bool max) {
        Cell out{};
        std::string error = guarded([&] {
            stack::mark_native(&words::tag_anon);
            stack::push(&a);
            stack::push(&b);
            natives::max_min(max);
            out = *stack::arguments;
        });
        return error.empty() ? mold(out) : "!" + error;
    }
    static Cell number(double d) {
        Cell c;
        return *float_::make_at(cell::begin(&c), d);
    }
};

TEST_F(LoopSupport, MaxKeepsTheFirstOfEqualValuesAndMinTheSecond) {
    EXPECT_EQ(max_min(integer_value(1), number(1.0), true), "1");
    EXPECT_EQ(max_min(integer_value(1), number(1.0), false), "1.0");
    EXPECT_EQ(max_min(integer_value(1), integer_value(5), true), "5");
    EXPECT_EQ(max_min(integer_value(1), integer_value(5), false), "1");
    EXPECT_EQ(max_min(number(NAN), integer_value(5), true), "1.#NaN");
    EXPECT_EQ(max_min(integer_value(5), number(NAN), false), "1.#NaN");
    EXPECT_EQ(max_min(integer_value(5), string_value("a"), true), "!script/invalid-compare");
}

TEST_F(LoopSupport, NumbersConvertWithARangeCheck) {
    EXPECT_EQ(natives::to_int32(&static_cast<const Cell&>(number(-2.9))), -2);
    const Cell cases[] = {number(3e9), number(-2147483649.0), number(NAN), number(INFINITY)};
    for (const Cell& c : cases) EXPECT_EQ(guarded([&] { natives::to_int32(&c); }), "script/type-limit") << mold(c);
    Cell big = number(2147483647.9);
    EXPECT_EQ(natives::to_int32(&big), 2147483647);

    auto arc = [](double x, int32_t radians) {
        stack::mark_native(&words::tag_anon);
        Cell v = number(x);
        stack::push(&v);
        double r = cell::get_float(natives::arc_trig(radians, natives::ARC_SINE));
        stack::unwind();
        return r;
    };
    EXPECT_DOUBLE_EQ(arc(1, -1), 90.0);
    EXPECT_DOUBLE_EQ(arc(1, 1), std::acos(-1.0) / 2);
}

TEST_F(LoopSupport, SetWordsChecksEveryWordAndValueBeforeSettingAny) {
    // Through `set` with a block of words, the routine's caller.
    check({
        {"set [a b] [1 2] reduce [a b]", "[1 2]"},
        {"set [a b] [1] reduce [a b]", "[1 none]"},
        {"set [a b] 5 reduce [a b]", "[5 5]"},
        {"set [a b] \"xy\" reduce [a b]", "[\"xy\" \"xy\"]"},
        {"set/only [a b] [1 2] reduce [a b]", "[[1 2] [1 2]]"},
        {"a: 1 set/some [a b] reduce [none 3] reduce [a b]", "[1 3]"},
        {"a: 1 set [a b] reduce [3 ()]", "!script/need-value"},
        {"a", "1"},  // nothing was set
        {"set/any [a b] reduce [3 ()] a", "3"},
        {"a: 1 set [a 1] [2 3]", "!script/invalid-arg"},
        {"a", "1"},
    });
}

}  // namespace
