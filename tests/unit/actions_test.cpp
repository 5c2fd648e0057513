#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "evaluator/actions.hpp"
#include "lexer/lexer.hpp"
#include "runtime/datatypes/series.hpp"
#include "tests/unit/entry_call.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

struct Actions : ::testing::Test {
    Actions() { ensure_runtime(); }
};

// ---- the entry table and the boot specs ----

// One `name: make action! [[spec] n]` of the boot definitions.
struct BootAction {
    std::string name;
    int number;
    int refinements;
};

std::string boot_text() {
    std::string here = __FILE__;
    std::ifstream file(here.substr(0, here.rfind("tests/unit/")) + "boot/actions.zuv");
    std::stringstream all;
    all << file.rdbuf();
    return all.str();
}

std::vector<BootAction> read_boot_actions() {
    std::string text = boot_text();
    std::vector<BootAction> out;
    const std::string marker = ": make action! [[";
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        size_t name_start = text.rfind('\n', at) + 1;
        BootAction a{text.substr(name_start, at - name_start), 0, 0};
        // The spec runs to the bracket that closes it; strings hold no brackets.
        size_t i = at + marker.size();
        bool in_string = false;
        for (int depth = 1; depth > 0; i++) {
            char c = text[i];
            if (c == '"') in_string = !in_string;
            if (in_string) continue;
            if (c == '[') depth++;
            if (c == ']') depth--;
            if (c == '/' && (text[i - 1] == ' ' || text[i - 1] == '\n')) a.refinements++;
        }
        a.number = std::stoi(text.substr(i));
        out.push_back(a);
    }
    return out;
}

TEST_F(Actions, EntryTableHasNoActionEightAndCompareIsNoStackEntry) {
    EXPECT_EQ(actions::entry_table[7].fn, nullptr);
    EXPECT_FALSE(actions::stack_entry_q(8));
    EXPECT_FALSE(actions::stack_entry_q(9));
    EXPECT_FALSE(actions::stack_entry_q(0));
    EXPECT_FALSE(actions::stack_entry_q(63));
    EXPECT_TRUE(actions::stack_entry_q(7));
    EXPECT_TRUE(actions::stack_entry_q(62));
}

TEST_F(Actions, BootSpecsNameEveryActionButSevenEightNineWithTheEntrysRefinements) {
    std::vector<BootAction> specs = read_boot_actions();
    ASSERT_EQ(specs.size(), 59u);
    int previous = 0;
    for (const BootAction& a : specs) {
        SCOPED_TRACE(a.name);
        EXPECT_GT(a.number, previous);  // in entry table order
        previous = a.number;
        EXPECT_TRUE(a.number != 7 && a.number != 8 && a.number != 9);
        ASSERT_TRUE(actions::stack_entry_q(a.number));
        EXPECT_EQ(a.refinements, actions::entry_table[a.number - 1].refinements);
    }
    EXPECT_EQ(specs.front().name, "make");
    EXPECT_EQ(specs[24 - 3].name, "append");
    EXPECT_EQ(specs.back().name, "write");

    // The text loads: a set-word, make, action! and the spec block per action.
    std::string text = boot_text();
    Cell loaded{};
    ASSERT_EQ(raised([&] {
        lexer::scan(&loaded, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), false, true, true,
                    false, nullptr, nullptr, nullptr, nullptr);
    }), "");
    ASSERT_EQ(block::zs_length_q(&loaded), 4 * 59);
    for (int32_t i = 0; i < 4 * 59; i += 4) {
        EXPECT_EQ(type_of(block::zs_abs_at(&loaded, i)), TYPE_SET_WORD);
        EXPECT_EQ(type_of(block::zs_abs_at(&loaded, i + 3)), TYPE_BLOCK);
    }
}

// ---- dispatch errors ----

TEST_F(Actions, MissingSlotNamesTheCallerTheDatatypeAndTheFirstArgument) {
    auto defined = define_action("append", 25, {"series", "value", "/part", "length", "/only", "/dup", "count"});
    Call c("append", {integer_of(1), integer_of(2)});
    EXPECT_EQ(c.run([] { actions::append_star(-1, -1, -1); }), "script/expect-arg");
    EXPECT_EQ(type_of(&error_arg(0)), TYPE_WORD);
    EXPECT_EQ(error_arg(0).w2, word_of("append").w2);
    EXPECT_EQ(type_of(&error_arg(1)), TYPE_DATATYPE);
    EXPECT_EQ(error_arg(1).w1, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(type_of(&error_arg(2)), TYPE_WORD);
    EXPECT_EQ(error_arg(2).w2, word_of("series").w2);
}

TEST_F(Actions, CopyTypesOtherThanDatatypeOrTypesetNamesTheKindArgument) {
    auto defined = define_action("copy", 30, {"value", "/part", "length", "/deep", "/types", "kind"});
    Call c("copy", {ints({1, 2}), integer_of(3)});
    EXPECT_EQ(c.run([] { actions::copy_star(-1, -1, 1); }), "script/expect-arg");
    EXPECT_EQ(error_arg(1).w1, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(error_arg(2).w2, word_of("kind").w2);
}

TEST_F(Actions, PathStepOnTypeWithoutEvalPath) {
    Cell parent = integer_of(5);
    Cell element = word_of("b");
    std::string r = raised([&] { actions::get_path_action(&parent, nullptr, &element, 0); });
    EXPECT_EQ(r, "script/bad-path-type2");
    EXPECT_EQ(error_arg(0).w2, element.w2);
    EXPECT_EQ(error_arg(1).w1, uint32_t(TYPE_INTEGER));

    // Inside a path the error shows the path and the path cut after the step.
    Cell path = words_of({"a", "b", "c"}, TYPE_PATH);
    r = raised([&] { actions::get_path_action(&parent, &path, &element, 1); });
    EXPECT_EQ(r, "script/bad-path-type");
    EXPECT_EQ(error_arg(0).w2, path.w2);
    EXPECT_EQ(error_arg(1).w1, uint32_t(TYPE_INTEGER));
    Cell cut = error_arg(2);
    EXPECT_EQ(type_of(&cut), TYPE_PATH);
    EXPECT_NE(cut.w2, path.w2);
    EXPECT_EQ(block::zs_length_q(&cut), 2);
    EXPECT_EQ(block::zs_abs_at(&cut, 1)->w2, element.w2);
    EXPECT_EQ(block::zs_length_q(&path), 3) << "the path itself is left whole";

    // The eval-path entry has no path to show.
    Call c("eval-path", {integer_of(5), word_of("b")});
    EXPECT_EQ(c.run([] { actions::eval_path_star(0); }), "script/bad-path-type2");
}

TEST_F(Actions, PortWithHandleActorIsServedByItsTableFromAppendOn) {
    Node ctx = _context::create(7, false, false, 0, _context::KIND_OBJECT);
    for (const char* field : {"spec", "scheme", "actor", "awake", "state", "data", "extra"}) {
        Cell w = word_of(field);
        _context::add_word(ctx, &w);
    }
    static AnyFn table[actions::PORT_ACTOR_ACTIONS] = {};  // every action missing
    Cell handle{TYPE_HANDLE, 0, uint32_t(actions::register_port_actor_table(table)), uint32_t(-1)};
    *_context::value_slot(ctx, 2) = handle;
    Cell port{TYPE_PORT, ctx, 0, 0};

    Call c("append", {port, integer_of(1)});
    EXPECT_EQ(c.run([] { actions::append_star(-1, -1, -1); }), "access/no-port-action");
    // Below append the port's own row serves (port! has no random).
    Call f("random", {port});
    EXPECT_EQ(f.run([] { actions::random_star(-1, -1, -1); }), "script/expect-arg");
}

// ---- append, insert and change: the refinements ----

struct InsertCall {
    int calls = 0;
    Cell series{}, value{};
    int32_t part = 0, dup = 0;
    bool only = false, append = false;
};
InsertCall seen;

Cell* record_insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    seen = {seen.calls + 1, *series, *value, part, dup, only, append};
    return series;
}
Cell* record_change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    return record_insert(series, value, part, only, dup, false);
}

// block!'s editing slots replaced by recorders (the base brings the runtime up
// first, so that its registrations do not overwrite them).
struct Editing : Actions {
    void SetUp() override { seen = {}; }
    SlotSwap append_slot{TYPE_BLOCK, Act::append, reinterpret_cast<AnyFn>(&record_insert)};
    SlotSwap insert_slot{TYPE_BLOCK, Act::insert, reinterpret_cast<AnyFn>(&record_insert)};
    SlotSwap change_slot{TYPE_BLOCK, Act::change, reinterpret_cast<AnyFn>(&record_change)};
};

TEST_F(Editing, AppendWithPartOrDupOfZeroChangesNothing) {
    Cell series = ints({1, 2});
    struct Case { int32_t part_word, dup_word; Cell third; };
    for (Case k : {Case{2, -1, integer_of(0)}, Case{-1, 2, integer_of(0)}, Case{-1, 2, integer_of(-3)}}) {
        Call c("append", {series, ints({7, 8}), k.third});
        EXPECT_EQ(c.run([&] { actions::append_star(k.part_word, -1, k.dup_word); }), "");
        EXPECT_EQ(seen.calls, 0);
        EXPECT_EQ(c.result()->w2, series.w2) << "the series is the result";
        EXPECT_EQ(c.result()->w1, 0u);
    }
    // A /part at the value's own position counts 0 too.
    Cell value = ints({7, 8});
    Call c("append", {series, value, value});
    actions::append_star(2, -1, -1);
    EXPECT_EQ(seen.calls, 0);
}

TEST_F(Editing, AppendHandsTheSlotItsCountsAndFlags) {
    Cell series = ints({1});
    Cell value = ints({7, 8, 9});
    Cell end = value;
    end.w1 = 2;
    struct Case { int32_t part, only, dup; Cell part_arg, dup_arg; int32_t want_part, want_dup; };
    for (Case k : {Case{-1, -1, -1, {}, {}, -1, 1}, Case{2, 0, -1, integer_of(2), {}, 2, 1},
                   Case{2, -1, 3, end, integer_of(4), 2, 4}}) {
        Call c("append", {series, value, k.part_arg, k.dup_arg});
        actions::append_star(k.part, k.only, k.dup);
        ASSERT_EQ(seen.calls, 1);
        EXPECT_EQ(seen.part, k.want_part);
        EXPECT_EQ(seen.dup, k.want_dup);
        EXPECT_EQ(seen.only, k.only != -1);
        EXPECT_TRUE(seen.append);
        seen = {};
    }
}

TEST_F(Editing, InsertPartNegativeTakesTheElementsBeforeTheValue) {
    Cell series = ints({1});
    Cell value = ints({10, 11, 12, 13});
    value.w1 = 3;
    {
        Call c("insert", {series, value, integer_of(-2)});
        actions::insert_star(2, -1, -1);
        ASSERT_EQ(seen.calls, 1);
        EXPECT_EQ(seen.value.w1, 1u) << "the value now starts at the first element taken";
        EXPECT_EQ(seen.part, 2);
        EXPECT_FALSE(seen.append);
        EXPECT_EQ(c.arg(1)->w1, 1u);
    }
    {
        seen = {};
        Call c("insert", {series, value, integer_of(-10)});
        actions::insert_star(2, -1, -1);
        EXPECT_EQ(seen.value.w1, 0u);
        EXPECT_EQ(seen.part, 3) << "only as many as exist";
    }
    {
        seen = {};
        value.w1 = 0;
        Call c("insert", {series, value, integer_of(-1)});
        actions::insert_star(2, -1, -1);
        EXPECT_EQ(seen.calls, 0) << "nothing before the value's head";
    }
}

TEST_F(Editing, InsertClipsTheSeriesPositionToItsTail) {
    Cell series = ints({1, 2});
    series.w1 = 9;
    Call c("insert", {series, integer_of(5)});
    actions::insert_star(-1, -1, -1);
    EXPECT_EQ(seen.series.w1, 2u);
}

TEST_F(Editing, PartErrors) {
    Cell series = ints({1});
    {
        Call c("append", {series, integer_of(5), integer_of(1)});
        EXPECT_EQ(c.run([] { actions::append_star(2, -1, -1); }), "script/invalid-part");
        EXPECT_EQ(integer::get_value(&error_arg(0)), 1);
    }
    {
        Call c("append", {series, ints({1, 2}), ints({1, 2})});  // a position in another series
        EXPECT_EQ(c.run([] { actions::append_star(2, -1, -1); }), "script/invalid-refine-arg");
        EXPECT_EQ(error_arg(0).w2, word_of("part").w2);
    }
    {
        Call c("change", {series, integer_of(5), string_of("x")});
        EXPECT_EQ(c.run([] { actions::change_star(2, -1, -1); }), "script/invalid-refine-arg");
    }
    EXPECT_EQ(seen.calls, 0);
}

TEST_F(Editing, ChangePartNegativeMovesTheSeriesBackAndDupZeroKeepsIt) {
    Cell series = ints({1, 2, 3, 4});
    series.w1 = 3;
    {
        Call c("change", {series, integer_of(9), integer_of(-2)});
        actions::change_star(2, -1, -1);
        ASSERT_EQ(seen.calls, 1);
        EXPECT_EQ(seen.series.w1, 1u);
        EXPECT_EQ(seen.part, 2);
        EXPECT_EQ(seen.dup, 1);
    }
    {
        seen = {};
        Call c("change", {series, integer_of(9), integer_of(-2), integer_of(0)});
        actions::change_star(2, -1, 3);
        EXPECT_EQ(seen.calls, 0);
        EXPECT_EQ(c.result()->w1, 3u) << "the series is returned unchanged";
    }
}

// The same refinements through block!'s own slots.
std::string molded(const Cell& v) {
    Call c("mold", {v});
    actions::mold_star(-1, -1, -1, -1);
    return text(*c.result());
}

TEST_F(Actions, BlockInsertAndAppendWithPartAndDup) {
    if (!get_slot<Act::insert>(TYPE_BLOCK)) GTEST_SKIP() << "block! insert not built yet";
    Cell value = ints({10, 11, 12, 13});
    value.w1 = 3;
    Cell series = ints({1, 2});
    {
        Call c("insert", {series, value, integer_of(-2)});
        actions::insert_star(2, -1, -1);
        EXPECT_EQ(c.result()->w1, 2u) << "insert returns the series after the new cells";
    }
    EXPECT_EQ(molded(series), "[11 12 1 2]");
    // /part 0 and /dup 0 add nothing.
    Cell target = ints({1});
    {
        Call c("append", {target, ints({5, 6}), integer_of(0)});
        actions::append_star(2, -1, -1);
    }
    {
        Call c("append", {target, ints({5, 6}), integer_of(0)});
        actions::append_star(-1, -1, 2);
    }
    EXPECT_EQ(molded(target), "[1]");
    Call c("append", {target, ints({5, 6}), integer_of(1), integer_of(2)});
    actions::append_star(2, -1, 3);
    EXPECT_EQ(molded(target), "[1 5 5]");
}

// ---- form, mold, length?, pick, poke, eval-path ----

TEST_F(Actions, FormAndMoldWithPart) {
    struct Case { bool mold; int32_t limit; const char* want; };
    for (Case k : {Case{false, 0, ""}, Case{false, -4, ""}, Case{false, 3, "1 2"}, Case{false, 100, "1 2 3 4"},
                   Case{true, 4, "[1 2"}, Case{true, 0, ""}}) {
        SCOPED_TRACE(k.want);
        Call c(k.mold ? "mold" : "form", {ints({1, 2, 3, 4}), integer_of(k.limit)});
        if (k.mold) actions::mold_star(-1, -1, -1, 1);
        else actions::form_star(1);
        EXPECT_EQ(type_of(c.result()), TYPE_STRING);
        EXPECT_EQ(text(*c.result()), k.want);
    }
    Call c("mold", {ints({1, 2})});
    actions::mold_star(0, -1, -1, -1);  // /only
    EXPECT_EQ(text(*c.result()), "1 2");
}

TEST_F(Actions, LengthOfNoneIsNone) {
    Call n("length?", {Cell{TYPE_NONE, 0, 0, 0}});
    actions::length_q_star();
    EXPECT_EQ(type_of(n.result()), TYPE_NONE);

    Cell b = ints({1, 2, 3});
    b.w1 = 1;
    Call c("length?", {b});
    actions::length_q_star();
    EXPECT_EQ(type_of(c.result()), TYPE_INTEGER);
    EXPECT_EQ(integer::get_value(c.result()), 2);
}

TEST_F(Actions, PickTakesLogicAndCharIndexesAndPokeAnswersTheNewValue) {
    Cell b = ints({10, 20, 30});
    for (auto [index, want] : {std::pair{logic_of(true), 10}, std::pair{logic_of(false), 20},
                               std::pair{integer_of(3), 30}}) {
        Call c("pick", {b, index});
        actions::pick_star();
        EXPECT_EQ(integer::get_value(c.result()), want);
    }
    Call c("poke", {b, integer_of(2), integer_of(99)});
    actions::poke_star();
    EXPECT_EQ(integer::get_value(c.result()), 99) << "the new value, not the series";
    EXPECT_EQ(integer::get_value(block::zs_abs_at(&b, 1)), 99);
}

TEST_F(Actions, SetPathOnBlockWithoutTheKeyRaisesBadPathSet) {
    Cell b = block_of({word_of("a"), integer_of(1)});
    Call c("eval-path", {b, word_of("x"), integer_of(1)});
    EXPECT_EQ(c.run([] { actions::eval_path_star(1); }), "script/bad-path-set");
    EXPECT_EQ(block::zs_length_q(&b), 2) << "nothing was added";

    Call r("eval-path", {b, word_of("a")});
    actions::eval_path_star(0);
    EXPECT_EQ(integer::get_value(r.result()), 1);
}

TEST_F(Actions, MakeWithDatatypeUsesTheNamedTypesRow) {
    Call c("make", {datatype_of(TYPE_BLOCK), integer_of(4)});
    actions::make_star();
    EXPECT_EQ(type_of(c.result()), TYPE_BLOCK);
    EXPECT_EQ(block::zs_length_q(c.result()), 0);
}

// ---- comparison ----

TEST_F(Actions, ComparisonEntry) {
    Cell one = integer_of(1), two = integer_of(2), b = ints({1});
    EXPECT_TRUE(actions::compare_star(&one, &two, COMP_LESSER));
    EXPECT_FALSE(actions::compare_star(&one, &two, COMP_GREATER_EQUAL));
    EXPECT_TRUE(actions::compare_star(&one, &two, COMP_NOT_EQUAL));
    // Values that do not compare are unequal, and have no order.
    EXPECT_FALSE(actions::compare_star(&one, &b, COMP_EQUAL));
    EXPECT_TRUE(actions::compare_star(&one, &b, COMP_NOT_EQUAL));
    EXPECT_EQ(raised([&] { actions::compare_star(&one, &b, COMP_LESSER); }), "script/invalid-compare");

    Cell t = logic_of(true), f = logic_of(false);
    EXPECT_EQ(actions::compare_values(&t, &f, COMP_EQUAL), 1);
    EXPECT_EQ(actions::compare_values(&f, &t, COMP_EQUAL), -1);
    EXPECT_EQ(actions::compare_values(&one, &b, COMP_EQUAL), COMPARE_INCOMPARABLE);

    Call c("lesser?", {one, two});
    EXPECT_TRUE(actions::compare_to_result(COMP_LESSER));
    EXPECT_EQ(type_of(c.result()), TYPE_LOGIC);
    EXPECT_EQ(c.result()->w1, 1u);
}

TEST_F(Actions, InvokeCallsAnEntryWithItsRefinementWords) {
    Call c("form", {ints({1, 2, 3}), integer_of(1)});
    int32_t refinements[actions::MAX_REFINEMENTS] = {1};
    actions::invoke(int32_t(Act::form), refinements);
    EXPECT_EQ(text(*c.result()), "1");
}

}  // namespace
