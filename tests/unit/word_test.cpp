#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/init.hpp"
#include "runtime/root.hpp"
#include "runtime/words.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

class Words : public ::testing::Test {
protected:
    void SetUp() override { test::ensure_runtime(); }
};

Cell integer_cell(int32_t v) {
    Cell c;
    return *integer::make_at(cell::begin(&c), v);
}

Cell global_word(const char* name, uint32_t type = TYPE_WORD) {
    Cell w = word::from_c_string(name);
    return *cell::set_type(&w, type);
}

std::string molded(Cell w) {
    Cell buffer;
    string::zs_make_at(&buffer, 16);
    get_slot<Act::mold>(type_of(&w))(&w, &buffer, false, false, false, nullptr, 100, 0);
    return test::text_of(&buffer);
}

int32_t root_length() { return memory::length_of(memory::buffer_of(runtime::root.w2)); }

}  // namespace

TEST_F(Words, CaseVariantsShareOneGlobalSlot) {
    Cell lower = word::from_c_string("wt-print");
    Cell upper = word::from_c_string("WT-Print");
    EXPECT_EQ(upper.w2, uint32_t(symbol::make("WT-Print")));  // keeps its own spelling
    EXPECT_EQ(upper.w1, _context::global);
    EXPECT_EQ(upper.w3, lower.w3);
    Cell five = integer_cell(5);
    word::set(&upper, &five);
    Cell out;
    EXPECT_EQ(integer::get_value(word::get(&lower, &out)), 5);

    // The variant made first by exact lookup gets an entry of its own, still on the same slot.
    int32_t variant = symbol::make("WT-PRINT");
    Cell exact = word::make_global(variant);
    EXPECT_EQ(exact.w2, uint32_t(variant));
    EXPECT_EQ(exact.w3, lower.w3);
    EXPECT_EQ(word::make_global(variant).w2, uint32_t(variant));
    EXPECT_EQ(integer::get_value(word::value_cell(&exact)), 5);
    // Values and words of the global context stay in step.
    EXPECT_EQ(memory::length_of(memory::buffer_of(_context::cell_of(_context::global)->w2)),
              _context::word_count(_context::global));
}

TEST_F(Words, MoldAsWritten) {
    EXPECT_EQ(molded(global_word("a", TYPE_GET_WORD)), ":a");
    EXPECT_EQ(molded(global_word("a", TYPE_LIT_WORD)), "'a");
    EXPECT_EQ(molded(global_word("a", TYPE_REFINEMENT)), "/a");
    EXPECT_EQ(molded(global_word("a", TYPE_SET_WORD)), "a:");
    EXPECT_EQ(molded(global_word("Wt-Mixed")), "Wt-Mixed");
}

TEST_F(Words, MoldReportsWhatIsLeftOfThePart) {
    Cell w = global_word("abc", TYPE_SET_WORD);
    Cell buffer;
    string::zs_make_at(&buffer, 16);
    EXPECT_EQ(set_word::mold(&w, &buffer, false, false, false, nullptr, 10, 0), 6);
    Cell r = global_word("abc", TYPE_REFINEMENT);
    EXPECT_EQ(refinement::mold(&r, &buffer, false, false, false, nullptr, 10, 0), 6);
}

TEST_F(Words, EqualIgnoresCaseStrictDoesNot) {
    Cell lower = global_word("abc"), upper = global_word("ABC");
    Cell get = global_word("abc", TYPE_GET_WORD);
    Cell lit = global_word("abc", TYPE_LIT_WORD);
    struct Case {
        Cell* a;
        Cell* b;
        int32_t op;
        int32_t expected;
    } cases[] = {
        {&lower, &upper, COMP_EQUAL, 0},
        {&lower, &upper, COMP_STRICT_EQUAL, 1},
        {&lower, &get, COMP_EQUAL, 0},
        {&lower, &get, COMP_STRICT_EQUAL, 1},
        {&lower, &lit, COMP_STRICT_EQUAL_WORD, 0},
        {&get, &lit, COMP_STRICT_EQUAL_WORD, 1},
        {&upper, &lit, COMP_EQUAL_WORD, 0},
        {&lower, &lower, COMP_SAME, 0},
        {&lower, &upper, COMP_SAME, 1},
        {&upper, &lower, COMP_LESSER, 0},      // ordering folds case
        {&upper, &lower, COMP_CASE_SORT, -1},  // except for the case-sensitive sort
    };
    for (const Case& c : cases)
        EXPECT_EQ(word::compare(c.a, c.b, c.op), c.expected) << "op " << c.op;
    Cell number = integer_cell(1);
    EXPECT_EQ(word::compare(&lower, &number, COMP_EQUAL), COMPARE_INCOMPARABLE);
    Cell issue{TYPE_ISSUE, 0, lower.w2, uint32_t(-1)};
    EXPECT_EQ(word::compare(&lower, &issue, COMP_EQUAL), COMPARE_INCOMPARABLE);
    EXPECT_EQ(word::compare(&issue, &lower, COMP_EQUAL), 0);
}

TEST_F(Words, GettingAnUnsetWordRaisesNoValue) {
    Cell w = global_word("wt-never-set");
    Cell out;
    EXPECT_EQ(test::raised([&] { word::get(&w, &out); }), "script/no-value");
    EXPECT_EQ(test::raised([&] { word::get_any(&w, &out); }), "");
    EXPECT_EQ(type_of(&out), TYPE_UNSET);
    // A word of unknown index other than self has no value either.
    Cell loose{TYPE_WORD, _context::global, uint32_t(symbol::make("wt-loose")), uint32_t(-1)};
    EXPECT_EQ(test::raised([&] { word::value_cell(&loose); }), "script/no-value");
    // A word of an idle function context is not in a context with values.
    Node fn = _context::create(1, true, false, 0, _context::KIND_FUNCTION);
    Cell arg{TYPE_WORD, fn, uint32_t(symbol::make("wt-arg")), 0};
    EXPECT_EQ(test::raised([&] { word::value_cell(&arg); }), "script/not-in-context");
}

TEST_F(Words, SelfWordReachesTheContextsOwnValue) {
    Node ctx = _context::create(1, false, true, 0, _context::KIND_OBJECT);
    *_context::own_value(ctx) = Cell{TYPE_OBJECT, ctx, 0, 0};
    Cell self{TYPE_WORD, ctx, uint32_t(sym::self), uint32_t(-1)};
    EXPECT_EQ(word::value_cell(&self), _context::own_value(ctx));
    Cell index;
    EXPECT_EQ(type_of(word::index_of(&self, &index)), TYPE_NONE);
    Cell a = global_word("wt-indexed");
    EXPECT_EQ(integer::get_value(word::index_of(&a, &index)), int32_t(a.w3) + 1);
}

TEST_F(Words, SetIntegerAndContextSlots) {
    Node ctx = _context::create(2, false, false, 0, _context::KIND_OBJECT);
    Cell n{TYPE_WORD, ctx, uint32_t(symbol::make("wt-n")), uint32_t(-1)};
    _context::add_word(ctx, &n);
    EXPECT_EQ(word::set_integer(&n, 42), 42);
    Cell out;
    EXPECT_EQ(integer::get_value(_context::copy_value(ctx, 0, &out)), 42);
    Cell seven = integer_cell(7), old;
    _context::swap_value(ctx, 0, &seven, &old);
    EXPECT_EQ(integer::get_value(&old), 42);
    EXPECT_EQ(integer::get_value(word::get_in(ctx, 0)), 7);
    // An idle function context has no values to read.
    Node fn = _context::create(1, true, false, 0, _context::KIND_FUNCTION);
    int32_t index;
    _context::add_symbol(fn, symbol::make("wt-fn-arg"), true, &index);
    EXPECT_EQ(test::raised([&] { _context::copy_value(fn, 0, &out); }), "script/not-defined");
    EXPECT_EQ(runtime::pending_error().arg_count, 1);
}

TEST_F(Words, BootFlagKeepsWordsInTheRootBlock) {
    // Set as start-up leaves it until its end (a test run earlier in the
    // same process may have cleared it).
    const bool was = runtime::boot_flag;
    runtime::boot_flag = true;
    int32_t before = root_length();
    Cell w = word::from_c_string("wt-boot");
    EXPECT_EQ(root_length(), before + 1);
    const Cell* kept = memory::cells_head(memory::buffer_of(runtime::root.w2)) + before;
    EXPECT_EQ(std::memcmp(kept, &w, sizeof w), 0);
    Cell lit = lit_word::from_c_string("wt-boot");
    EXPECT_EQ(type_of(kept + 1), TYPE_LIT_WORD);
    EXPECT_EQ(lit.w2, w.w2);
    Cell r = refinement::make_from_name("wt-boot");
    EXPECT_EQ(r.w1, 0u);
    EXPECT_EQ(type_of(kept + 2), TYPE_REFINEMENT);
    runtime::boot_flag = was;
}

TEST_F(Words, MakeFromDatatypeLogicAndWords) {
    Cell result, spec;
    datatype::make_at(&spec, TYPE_INTEGER);
    word::make(&result, &spec, TYPE_WORD);
    EXPECT_EQ(type_of(&result), TYPE_WORD);
    EXPECT_EQ(molded(result), "integer!");
    logic::make_at(&spec, true);
    word::make(&result, &spec, TYPE_WORD);
    EXPECT_EQ(int32_t(result.w2), sym::true_);
    EXPECT_EQ(result.w1, _context::global);
    spec = global_word("wt-retyped", TYPE_GET_WORD);
    word::make(&result, &spec, TYPE_SET_WORD);
    EXPECT_EQ(type_of(&result), TYPE_SET_WORD);
    EXPECT_EQ(result.w3, spec.w3);
    Cell number = integer_cell(3);
    EXPECT_EQ(test::raised([&] { word::make(&result, &number, TYPE_WORD); }), "script/bad-to-arg");
}

TEST_F(Words, WellKnownWordsAreTheGlobalWords) {
    Cell appended = word::from_c_string("append");
    EXPECT_EQ(words::append.w2, appended.w2);
    EXPECT_EQ(words::append.w1, appended.w1);
    EXPECT_EQ(words::append.w3, appended.w3);
    EXPECT_EQ(words::append.w1, _context::global);
    // Made once: interning again gives the same ids.
    EXPECT_EQ(symbol::make("any-type!"), sym::any_type_t);
    EXPECT_EQ(int32_t(words::end.w2), sym::end);
    EXPECT_EQ(int32_t(words::bar.w2), symbol::make("|"));
    EXPECT_EQ(type_of(&refinements::part), TYPE_REFINEMENT);
    EXPECT_EQ(refinements::part.w1, 0u);
    EXPECT_EQ(type_of(&well_known::ooo), TYPE_ISSUE);
    EXPECT_EQ(int32_t(well_known::ooo.w3), -1);
}
