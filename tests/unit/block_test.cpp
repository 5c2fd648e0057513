#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <string>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/memory.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

struct Block : ::testing::Test {
    void SetUp() override {
        test::ensure_runtime();
        cycles::reset();
    }
    void TearDown() override { EXPECT_EQ(cycles::depth(), 0) << "a walk left an entry on the cycle stack"; }
};

Cell integer_of(int32_t v) {
    Cell c{};
    return *integer::make_at(&c, v);
}

Cell string_of(const char* text) {
    Cell s{};
    string::zs_make_at(&s, 16);
    string::concatenate_literal(&s, text);
    return s;
}

Cell block_of(std::initializer_list<Cell> values) {
    Cell b{};
    block::make_at(&b, int32_t(values.size()));
    for (const Cell& v : values) block::append_cell(&b, &v);
    return b;
}

Cell ints(std::initializer_list<int32_t> values) {
    Cell b{};
    block::make_at(&b, int32_t(values.size()));
    for (int32_t v : values) integer::make_in(&b, v);
    return b;
}

// Marks cell i of the block as starting a new line.
Cell with_new_line(Cell b, int32_t i) {
    block::write_at(&b, i)->header |= FLAG_NEW_LINE;
    return b;
}

std::string molded(Cell v, bool only = false, bool flat = false, int32_t part = INT32_MAX) {
    Cell out{};
    string::zs_make_at(&out, 16);
    block::mold(&v, &out, only, false, flat, nullptr, part, 0);
    return test::text_of(&out);
}

std::string formed(Cell v) {
    Cell out{};
    string::zs_make_at(&out, 16);
    block::form(&v, &out, nullptr, INT32_MAX);
    return test::text_of(&out);
}

// The number of cells the block's buffer has room for.
int32_t room(const Cell& b) { return memory::buffer_of(b.w2)->size / 16; }

}  // namespace

TEST_F(Block, MoldLineBreaksAndIndentation) {
    Cell nested = with_new_line(ints({3}), 0);
    struct { Cell value; bool only; bool flat; const char* text; } cases[] = {
        {ints({1, 2}), false, false, "[1 2]"},
        {ints({}), false, false, "[]"},
        {with_new_line(ints({1, 2}), 0), false, false, "[\n    1 2\n]"},
        {with_new_line(ints({1, 2}), 0), true, false, "1 2"},  // mold/only: no leading line feed
        {with_new_line(ints({1, 2}), 0), false, true, "[1 2]"},  // mold/flat
        {with_new_line(ints({1, 2}), 1), false, false, "[1\n2]"},  // a later marker: current level
        {block_of({integer_of(1), nested}), false, false, "[1 [\n    3\n]]"},
        {with_new_line(block_of({nested, integer_of(4)}), 0), false, false, "[\n    [\n        3\n    ] 4\n]"},
        {block_of({string_of("a b"), integer_of(5)}), false, false, "[\"a b\" 5]"},
    };
    for (auto& c : cases) EXPECT_EQ(molded(c.value, c.only, c.flat), c.text);
}

TEST_F(Block, MoldStopsAtThePartLimit) {
    // Each value's text still completes; nothing starts once the limit is spent.
    Cell b = ints({1, 2, 3, 4});
    EXPECT_EQ(molded(b, false, false, 4), "[1 2]");
}

TEST_F(Block, SelfContainingBlocksMoldAndFormWithAMarker) {
    Cell b = ints({1});
    block::append_cell(&b, &b);
    EXPECT_EQ(molded(b), "[1 [...]]");
    EXPECT_EQ(formed(b), "1 ...");
    // The same block twice side by side is not a cycle.
    Cell inner = ints({2});
    EXPECT_EQ(molded(block_of({inner, inner})), "[[2] [2]]");
}

TEST_F(Block, FormSeparatesWithSingleSpaces) {
    EXPECT_EQ(formed(block_of({integer_of(1), string_of("a"), ints({2, 3})})), "1 a 2 3");
    // No blank after text that ends in a line feed.
    EXPECT_EQ(formed(block_of({string_of("a\n"), integer_of(1), string_of("b\t"), integer_of(2)})), "a\n1 b\t2");
    EXPECT_EQ(formed(ints({})), "");
}

TEST_F(Block, CompareOrdersByCellsThenLength) {
    Cell a12 = ints({1, 2}), a13 = ints({1, 3}), a123 = ints({1, 2, 3}), empty = ints({}), one = ints({1});
    Cell number = ints({1}), text = block_of({string_of("1")});
    struct { Cell* x; Cell* y; int32_t op; bool expected; } cases[] = {
        {&a12, &a13, COMP_LESSER, true},
        {&a13, &a12, COMP_LESSER, false},
        {&empty, &one, COMP_LESSER, true},
        {&a12, &a123, COMP_EQUAL, false},
        {&a12, &a123, COMP_LESSER, true},  // equal cells: the shorter first
        {&a12, &a12, COMP_SAME, true},
        {&number, &text, COMP_LESSER, false},  // by type id: string! (7) before integer! (11)
        {&text, &number, COMP_LESSER, true},
    };
    for (auto& c : cases) {
        int32_t r = block::compare(c.x, c.y, c.op);
        bool truth = c.op == COMP_LESSER ? r < 0 : r == 0;
        EXPECT_EQ(truth, c.expected) << "op " << c.op;
    }
    Cell copy = ints({1, 2});
    EXPECT_EQ(block::compare(&a12, &copy, COMP_EQUAL), 0);
    EXPECT_NE(block::compare(&a12, &copy, COMP_SAME), 0);
    Cell paren = a12;
    cell::set_type(&paren, TYPE_PAREN);
    EXPECT_EQ(block::compare(&a12, &paren, COMP_EQUAL), COMPARE_INCOMPARABLE);
    // A block that contains itself compares without looping.
    Cell self1 = ints({1}), self2 = ints({1});
    block::append_cell(&self1, &self1);
    block::append_cell(&self2, &self2);
    // Each pair of inner occurrences counts as equal once both are being walked.
    EXPECT_EQ(block::compare(&self1, &self2, COMP_EQUAL), 0);
}

TEST_F(Block, MakeAndTo) {
    Cell result{};
    Cell zero = integer_of(0);
    block::make(&result, &zero, TYPE_BLOCK);
    EXPECT_EQ(type_of(&result), TYPE_BLOCK);
    EXPECT_EQ(block::zs_length_q(&result), 0);
    EXPECT_EQ(room(result), 1);  // make block! 0 has room for one cell

    Cell size = {};
    float_::make_at(&size, 2.7);
    block::make(&result, &size, TYPE_PAREN);
    EXPECT_EQ(type_of(&result), TYPE_PAREN);
    EXPECT_EQ(room(result), 2);
    float_::make_at(&size, 3e9);
    EXPECT_EQ(test::raised([&] { block::make(&result, &size, TYPE_BLOCK); }), "script/out-of-range");
    Cell text = string_of("x");
    EXPECT_EQ(test::raised([&] { block::make(&result, &text, TYPE_BLOCK); }), "script/bad-make-arg");

    Cell source = ints({1, 2});
    source.w1 = 1;
    block::make(&result, &source, TYPE_BLOCK);
    EXPECT_EQ(molded(result), "[2]");
    EXPECT_NE(result.w2, source.w2);

    Cell five = integer_of(5);
    block::to(&result, &five, TYPE_BLOCK);
    EXPECT_EQ(molded(result), "[5]");
}

TEST_F(Block, AppendAndInsertSurviveGrowth) {
    // append b first b: the source cell lies in the buffer that grows.
    Cell b = ints({7});
    ASSERT_EQ(room(b), 1);
    block::append_cell(&b, block::zs_abs_at(&b, 0));
    block::append_cell(&b, block::zs_abs_at(&b, 1));
    EXPECT_EQ(molded(b), "[7 7 7]");
    block::append_block(&b, &b);
    EXPECT_EQ(molded(b), "[7 7 7 7 7 7]");

    Cell c = ints({1, 2});
    c.w1 = 1;
    Cell nine = integer_of(9);
    block::insert_cell(&c, &nine, true, false);
    EXPECT_EQ(int32_t(c.w1), 2);
    block::insert_cell(&c, &nine, false, true);
    c.w1 = 0;
    EXPECT_EQ(molded(c), "[9 1 9 2]");
    Cell d = ints({3, 4});
    c.w1 = 1;
    block::insert_block(&c, &d);
    EXPECT_EQ(int32_t(c.w1), 3);
    c.w1 = 0;
    EXPECT_EQ(molded(c), "[9 3 4 1 9 2]");
}

TEST_F(Block, SelectAndRemoveValue) {
    Cell b = block_of({integer_of(1), string_of("a"), integer_of(2), string_of("b")});
    Cell key = string_of("a");
    EXPECT_EQ(integer::get_value(block::select_value(&b, &key)), 2);
    Cell last = string_of("b");
    EXPECT_EQ(type_of(block::select_value(&b, &last)), TYPE_NONE);
    Cell one = integer_of(1);
    EXPECT_TRUE(block::remove_value(&b, &one, false));
    EXPECT_FALSE(block::remove_value(&b, &one, false));
    EXPECT_EQ(molded(b), "[\"a\" 2 \"b\"]");
}

// eval-path as a path step calls it: read without a value, set with one.
const Cell* step(Cell* parent, Cell* element, Cell* value = nullptr, bool case_q = false) {
    return block::eval_path(parent, element, value, nullptr, nullptr, nullptr, 0, case_q, false, false, false);
}

TEST_F(Block, PathAccessByIndexWordAndValue) {
    Cell a = word::from_c_string("a"), big_a = word::from_c_string("A"), x = word::from_c_string("x");
    Cell b = block_of({a, integer_of(1), string_of("k"), integer_of(2)});
    Cell two = integer_of(2), zero = integer_of(0), nine = integer_of(9), key = string_of("k");
    EXPECT_EQ(integer::get_value(step(&b, &two)), 1);
    EXPECT_EQ(type_of(step(&b, &zero)), TYPE_NONE);
    EXPECT_EQ(integer::get_value(step(&b, &a)), 1);
    EXPECT_EQ(integer::get_value(step(&b, &big_a)), 1);  // words ignore case
    EXPECT_EQ(type_of(step(&b, &big_a, nullptr, true)), TYPE_NONE);
    EXPECT_EQ(integer::get_value(step(&b, &key)), 2);

    Cell five = integer_of(5);
    step(&b, &a, &five);
    step(&b, &key, &five);
    EXPECT_EQ(molded(b), "[a 5 \"k\" 5]");
    // b/x: 1 on a block without x appends nothing.
    Cell one = integer_of(1);
    EXPECT_EQ(test::raised([&] { step(&b, &x, &one); }), "script/bad-path-set");
    EXPECT_EQ(test::raised([&] { step(&b, &nine, &one); }), "script/out-of-range");
    EXPECT_EQ(molded(b), "[a 5 \"k\" 5]");
}

TEST_F(Block, DeepCloneCopiesNestedBlocksAndRefusesCycles) {
    Cell inner = with_new_line(ints({2}), 0);
    Cell paren = ints({3});
    cell::set_type(&paren, TYPE_PAREN);
    Cell outer = block_of({integer_of(1), inner, paren});
    block::write_at(&outer, 1)->header |= FLAG_NEW_LINE;

    Cell copy{};
    block::clone(&outer, &copy, true, false);
    EXPECT_EQ(block::zs_length_q(&copy), 3);
    Cell nested = *block::zs_abs_at(&copy, 1);
    EXPECT_NE(nested.w2, inner.w2);        // copied
    EXPECT_TRUE(cell::new_line_q(&nested));  // keeping the header it replaces
    EXPECT_EQ(molded(nested), "[\n    2\n]");
    EXPECT_EQ(block::zs_abs_at(&copy, 2)->w2, paren.w2);  // parens only with also_paths
    block::clone(&outer, &copy, true, true);
    EXPECT_NE(block::zs_abs_at(&copy, 2)->w2, paren.w2);

    Cell self = ints({1});
    block::append_cell(&self, &self);
    EXPECT_EQ(test::raised([&] { block::clone(&self, &copy, true, false); }), "internal/no-cycle");
    EXPECT_EQ(cycles::depth(), 0);
    block::clone(&self, &copy, false, false);  // a shallow copy never walks
    EXPECT_EQ(block::zs_length_q(&copy), 2);

    // Nesting beyond the guard's limit is too-deep, not a C stack overflow.
    Cell deep = ints({});
    Cell top = deep;
    for (int i = 0; i < 1100; i++) {
        Cell next = ints({});
        block::append_cell(&deep, &next);
        deep = next;
    }
    EXPECT_EQ(test::raised([&] { block::clone(&top, &copy, true, false); }), "internal/too-deep");
    EXPECT_EQ(cycles::depth(), 0);
}

TEST_F(Block, CopyDeepAndTake) {
    Cell inner = ints({2});
    Cell text = string_of("t");
    Cell b = block_of({inner, text});
    Cell cells[3] = {b};
    Cell result{};
    block::copy(&cells[0], &result, nullptr, true, nullptr);
    EXPECT_NE(block::zs_abs_at(&result, 0)->w2, inner.w2);
    EXPECT_NE(block::zs_abs_at(&result, 1)->w2, text.w2);
    EXPECT_EQ(molded(result), "[[2] \"t\"]");

    // take answers the cell itself; take/deep a copy of it.
    cells[0] = b;
    block::take(&cells[0], nullptr, true, false);
    EXPECT_EQ(type_of(&cells[0]), TYPE_BLOCK);
    EXPECT_NE(cells[0].w2, inner.w2);
    EXPECT_EQ(molded(b), "[\"t\"]");
}

TEST_F(Block, ListBuildingOnTheDataStack) {
    Cell* saved_arguments = stack::arguments;
    Cell* saved_top = stack::top;
    Cell* list = block::push_only_star(0);
    EXPECT_EQ(room(*list), 1);
    stack::arguments = stack::top;
    Cell one = integer_of(1), two = integer_of(2);
    stack::push(&one);
    block::append_result();  // [1]
    block::append_result();  // [1 1]
    stack::set_last(&two);
    block::insert_result();  // [2 1 1], head after the 2
    EXPECT_EQ(int32_t(list->w1), 1);
    list->w1 = 0;
    EXPECT_EQ(molded(*list), "[2 1 1]");

    stack::set_last(list);
    stack::push(&two);
    EXPECT_EQ(block::append_arg(), stack::arguments);
    EXPECT_EQ(molded(*list), "[2 1 1 2]");
    stack::arguments = saved_arguments;
    stack::top = saved_top;
}
