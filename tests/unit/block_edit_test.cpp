#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/memory.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

struct BlockEdit : ::testing::Test {
    Cell* saved_top = nullptr;
    Cell* saved_arguments = nullptr;
    void SetUp() override {
        test::ensure_runtime();
        cycles::reset();
        saved_top = stack::top;
        saved_arguments = stack::arguments;
    }
    void TearDown() override {
        stack::top = saved_top;
        stack::arguments = saved_arguments;
        EXPECT_EQ(cycles::depth(), 0);
    }
};

// ---- values from a little text: words, integers, "strings", none, a few
// datatypes (name!), and nested [blocks] ----

Cell parse_block(const char*& p);

Cell parse_one(const char*& p) {
    Cell c{};
    if (*p == '[') {
        p++;
        return parse_block(p);
    }
    if (*p == '"') {
        const char* end = std::strchr(p + 1, '"');
        std::string text(p + 1, end);
        p = end + 1;
        string::zs_make_at(&c, 16);
        string::concatenate_literal(&c, text.c_str());
        return c;
    }
    const char* start = p;
    while (*p && *p != ' ' && *p != ']') p++;
    std::string token(start, p);
    if (token == "none") return *none::make_at(&c);
    if (token == "string!") return *datatype::make_at(&c, TYPE_STRING);
    if (token == "integer!") return *datatype::make_at(&c, TYPE_INTEGER);
    if (token == "block!") return *datatype::make_at(&c, TYPE_BLOCK);
    if (isdigit(uint8_t(token[0])) || (token[0] == '-' && token.size() > 1))
        return *integer::make_at(&c, std::stoi(token));
    return word::from_c_string(token.c_str());
}

Cell parse_block(const char*& p) {
    Cell b{};
    block::make_at(&b, 4);
    for (;;) {
        while (*p == ' ') p++;
        if (!*p) return b;
        if (*p == ']') {
            p++;
            return b;
        }
        Cell v = parse_one(p);
        block::append_cell(&b, &v);
    }
}

// A new block from its text without brackets: B("a 1 [b]").
Cell B(const char* text) { return parse_block(text); }
// The one value a text holds: V("b"), V("[2 3]").
Cell V(const char* text) {
    Cell b = B(text);
    return *block::zs_abs_at(&b, 0);
}

std::string molded(Cell v) {
    Cell out{};
    string::zs_make_at(&out, 16);
    block::mold(&v, &out, false, false, false, nullptr, INT32_MAX, 0);
    return test::text_of(&out);
}
// The whole block, from its first cell.
std::string whole(Cell v) {
    v.w1 = 0;
    return molded(v);
}
// Any value molded through its own slot.
std::string mold_any(Cell v) {
    Cell b = B("");
    block::append_cell(&b, &v);
    std::string m = molded(b);
    return m.substr(1, m.size() - 2);
}

Cell int_cell(int32_t v) {
    Cell c{};
    return *integer::make_at(&c, v);
}

// A call's cells as the action entries lay them out: the first argument
// (the result slot), then the other arguments and the refinements' cells
// above it. Absent refinements are null.
struct Call {
    Cell cells[6] = {};
    Cell* at(int i) { return &cells[i]; }
    Cell* set(int i, const Cell& v) {
        cells[i] = v;
        return &cells[i];
    }
};

}  // namespace

// ---- append and insert ----

TEST_F(BlockEdit, AppendAndInsertSpreadBlocksUnlessOnly) {
    struct Case {
        const char* series; int32_t head; const char* value; bool spread;
        int32_t part; bool only; int32_t dup; bool append;
        const char* result; int32_t index;
    } cases[] = {
        {"1", 0, "2 3", true, -1, false, 1, true, "[1 2 3]", 0},
        {"1 2", 1, "9", false, -1, false, 1, true, "[1 2 9]", 0},  // append answers the head
        {"1", 0, "2 3", true, -1, true, 1, true, "[1 [2 3]]", 0},
        {"1", 0, "0", false, -1, false, 3, true, "[1 0 0 0]", 0},
        {"1", 0, "a b", true, -1, false, 2, true, "[1 a b a b]", 0},
        {"1", 0, "2 3 4", true, 2, false, 1, true, "[1 2 3]", 0},
        {"1", 0, "2 3", true, 0, false, 1, true, "[1]", 0},      // /part 0 changes nothing
        {"1", 0, "2 3", true, 9, false, 1, true, "[1 2 3]", 0},
        {"1", 0, "", true, -1, false, 1, true, "[1]", 0},        // an empty block adds nothing
        {"1 2", 0, "0", false, -1, false, 1, false, "[0 1 2]", 1},
        {"1 2", 1, "a b", true, -1, false, 1, false, "[1 a b 2]", 3},
        {"", 0, "0", false, -1, false, 3, false, "[0 0 0]", 3},
        {"1 2", 7, "9", false, -1, false, 1, false, "[1 2 9]", 3},  // past the tail: at the tail
        {"1 2", 0, "9", false, 0, false, 1, false, "[1 2]", 0},     // /part 0, one value: nothing
        {"1 2", 1, "a b", true, 1, false, 2, false, "[1 a a 2]", 3},
    };
    for (const Case& c : cases) {
        Call call;
        Cell* series = call.set(0, B(c.series));
        series->w1 = uint32_t(c.head);
        Cell* value = call.set(1, c.spread ? B(c.value) : V(c.value));
        block::insert(series, value, c.part, c.only, c.dup, c.append);
        EXPECT_EQ(whole(*series), c.result) << c.series << " + " << c.value;
        EXPECT_EQ(int32_t(series->w1), c.index) << c.series << " + " << c.value;
    }
}

TEST_F(BlockEdit, InsertionsReadTheirSourceAfterTheBufferGrows) {
    // append b first b, with the cell given in place: each append grows the buffer.
    Cell b = B("7");
    for (int i = 0; i < 5; i++) block::insert(&b, block::write_at(&b, 0), -1, false, 1, true);
    EXPECT_EQ(whole(b), "[7 7 7 7 7 7]");

    // A block appended or inserted into itself, also across its own position.
    struct { const char* series; int32_t at; int32_t from; bool append; int32_t dup; const char* result; } cases[] = {
        {"1 2 3", 0, 0, true, 1, "[1 2 3 1 2 3]"},
        {"1 2 3", 1, 0, false, 1, "[1 1 2 3 2 3]"},
        {"1 2 3", 0, 1, false, 1, "[2 3 1 2 3]"},
        {"1 2 3", 2, 1, false, 1, "[1 2 2 3 3]"},
        {"1 2 3", 1, 0, false, 2, "[1 1 2 3 1 2 3 2 3]"},
        {"1 2 3", 0, 1, true, 2, "[1 2 3 2 3 2 3]"},
    };
    for (auto& c : cases) {
        Call call;
        Cell* series = call.set(0, B(c.series));
        series->w1 = uint32_t(c.at);
        Cell* value = call.set(1, *series);
        value->w1 = uint32_t(c.from);
        block::insert(series, value, -1, false, c.dup, c.append);
        EXPECT_EQ(whole(*series), c.result);
    }
}

TEST_F(BlockEdit, InsertionSizeOverflowIsNoMemory) {
    Call call;
    Cell* series = call.set(0, B("1"));
    Cell* value = call.set(1, B("1 2 3 4"));
    EXPECT_EQ(test::raised([&] { block::insert(series, value, -1, false, INT32_MAX / 16, true); }),
              "internal/no-memory");
    EXPECT_EQ(whole(*series), "[1]");
}

// ---- change ----

TEST_F(BlockEdit, ChangeReplacesWithPartAndDup) {
    struct {
        const char* series; int32_t head; const char* value; bool spread; int32_t part; bool only; int32_t dup;
        const char* result; int32_t index;
    } cases[] = {
        {"1 2 3", 0, "a b", true, -1, false, 1, "[a b 3]", 2},
        {"1 2 3", 0, "9", false, -1, false, 1, "[9 2 3]", 1},
        {"1 2 3", 0, "9", false, 2, false, 1, "[9 3]", 1},
        {"1 2 3", 1, "a b c d", true, 1, false, 1, "[1 a b c d 3]", 5},
        {"1 2 3", 0, "a b", true, -1, true, 1, "[[a b] 2 3]", 1},
        {"1 2 3", 0, "0", false, -1, false, 2, "[0 0 3]", 2},
        {"1 2 3", 2, "a b", true, -1, false, 1, "[1 2 a b]", 4},  // past the tail it appends
        {"1", 5, "2", false, -1, false, 1, "[1 2]", 2},
        {"1 2 3", 0, "9", false, 0, false, 1, "[9 1 2 3]", 1},    // /part 0 inserts
        {"1 2 3", 0, "", true, 2, false, 1, "[3]", 0},           // an empty block removes the part
        {"1 2 3", 0, "a", true, 9, false, 1, "[a]", 1},
    };
    for (auto& c : cases) {
        Call call;
        Cell* series = call.set(0, B(c.series));
        series->w1 = uint32_t(c.head);
        Cell* value = call.set(1, c.spread ? B(c.value) : V(c.value));
        block::change(series, value, c.part, c.only, c.dup);
        EXPECT_EQ(whole(*series), c.result) << c.series << " <- " << c.value;
        EXPECT_EQ(int32_t(series->w1), c.index) << c.series << " <- " << c.value;
    }
    // A block changed with its own cells.
    Call call;
    Cell* series = call.set(0, B("1 2 3"));
    Cell* value = call.set(1, *series);
    value->w1 = 1;
    block::change(series, value, 1, false, 1);
    EXPECT_EQ(whole(*series), "[2 3 2 3]");
}

// ---- find and select ----

TEST_F(BlockEdit, FindInEveryMode) {
    struct Case {
        const char* series; int32_t head; const char* key; bool sequence;
        int32_t part; int32_t skip; bool only, case_q, last, reverse, tail, match;
        int32_t found;  // index of the result, -1 for none
    } cases[] = {
        {"a b c", 0, "b", false, 0, 0, false, false, false, false, false, false, 1},
        {"a b c", 0, "b", false, 0, 0, false, false, false, false, true, false, 2},
        {"a b c", 0, "d", false, 0, 0, false, false, false, false, false, false, -1},
        {"a b c", 3, "c", false, 0, 0, false, false, false, false, false, false, -1},  // from the tail
        {"A b", 0, "a", false, 0, 0, false, false, false, false, false, false, 0},     // words ignore case
        {"A a", 0, "a", false, 0, 0, false, true, false, false, false, false, 1},      // unless /case
        // sequences and /only
        {"1 [2 3] 4", 0, "2 3", true, 0, 0, false, false, false, false, false, false, -1},
        {"1 [2 3] 4", 0, "2 3", true, 0, 0, true, false, false, false, false, false, 1},
        {"1 2 3 4", 0, "2 3", true, 0, 0, false, false, false, false, false, false, 1},
        {"1 2 3 4", 0, "2 3", true, 0, 0, false, false, false, false, true, false, 3},
        {"1 2 3", 0, "3 4", true, 0, 0, false, false, false, false, false, false, -1},  // must fit
        {"1 [] 2", 0, "", true, 0, 0, false, false, false, false, false, false, 1},     // empty key: one value
        // datatypes
        {"1 \"s\" 2", 0, "string!", false, 0, 0, false, false, false, false, false, false, 1},
        {"1 \"s\" string!", 0, "string!", false, 0, 0, true, false, false, false, false, false, 2},
        {"1 \"s\" 2", 0, "integer!", false, 0, 0, false, false, false, false, true, false, 1},
        // /skip
        {"a 1 b 2", 0, "b", false, 0, 2, false, false, false, false, false, false, 2},
        {"a b b 2", 0, "b", false, 0, 2, false, false, false, false, false, false, 2},
        {"a b c b", 0, "b", false, 0, 2, false, false, false, false, true, false, -1},
        {"x a 1 b 2", 1, "b", false, 0, 2, false, false, false, false, true, false, 5},
        // /part: an inclusive limit
        {"a b c", 0, "c", false, 2, 0, false, false, false, false, false, false, -1},
        {"a b c", 0, "c", false, 3, 0, false, false, false, false, false, false, 2},
        {"a b c", 0, "a", false, -1, 0, false, false, false, false, false, false, -1},
        {"1 2 3 4", 0, "2 3", true, 2, 0, false, false, false, false, false, false, -1},
        // /last: back from the tail to the first cell, also before the head
        {"a b a b", 0, "a", false, 0, 0, false, false, true, false, false, false, 2},
        {"a b a b", 3, "a", false, 0, 0, false, false, true, false, false, false, 2},
        {"a b a c", 3, "b", false, 0, 0, false, false, true, false, true, false, 2},
        {"1 2 1 2 3", 0, "1 2", true, 0, 0, false, false, true, false, false, false, 2},
        // /reverse: from the cell before the head
        {"a b a b", 3, "a", false, 0, 0, false, false, false, true, false, false, 2},
        {"a b a b", 2, "a", false, 0, 0, false, false, false, true, false, false, 0},
        {"a b a b", 0, "a", false, 0, 0, false, false, false, true, false, false, -1},
        {"a b c", 3, "c", false, 0, 0, false, false, false, true, false, false, 2},
        {"1 2 1 2", 3, "1 2", true, 0, 0, false, false, false, true, false, false, 0},
        // /match: only at the head
        {"a b c", 0, "a", false, 0, 0, false, false, false, false, false, true, 0},
        {"a b c", 0, "b", false, 0, 0, false, false, false, false, false, true, -1},
        {"a b c", 0, "a b", true, 0, 0, false, false, false, false, true, true, 2},
    };
    for (const Case& c : cases) {
        Call call;
        Cell* series = call.set(0, B(c.series));
        series->w1 = uint32_t(c.head);
        Cell* key = call.set(1, c.sequence ? B(c.key) : V(c.key));
        Cell* part = c.part ? call.set(2, int_cell(c.part)) : nullptr;
        Cell* skip = c.skip ? call.set(3, int_cell(c.skip)) : nullptr;
        Cell* found = block::find(series, key, part, c.only, c.case_q, false, false, nullptr, skip, c.last, c.reverse,
                                  c.tail, c.match);
        std::string what = std::string("find [") + c.series + "] " + c.key;
        if (c.found < 0) {
            EXPECT_EQ(type_of(found), TYPE_NONE) << what;
        } else {
            ASSERT_EQ(type_of(found), TYPE_BLOCK) << what;
            EXPECT_EQ(found->w2, series->w2) << what;
            EXPECT_EQ(int32_t(found->w1), c.found) << what;
        }
    }
}

TEST_F(BlockEdit, FindWithTypesetsPositionsAndSameness) {
    Call call;
    Cell* series = call.set(0, B("a \"s\" 3 x"));
    // A typeset holding integer! (id 11: bit 0x10 of its second byte).
    Cell* key = call.at(1);
    cell::begin(key);
    reinterpret_cast<uint8_t*>(&key->w1)[TYPE_INTEGER >> 3] = uint8_t(0x80 >> (TYPE_INTEGER & 7));
    cell::set_type(key, TYPE_TYPESET);
    EXPECT_EQ(int32_t(block::find(series, key, nullptr, false, false, false, false, nullptr, nullptr, false, false,
                                  false, false)->w1), 2);

    // /part as a position in the same series: the limit is that cell.
    call.set(1, V("x"));
    Cell* part = call.set(2, *series);
    part->w1 = 2;
    EXPECT_EQ(type_of(block::find(series, call.at(1), part, false, false, false, false, nullptr, nullptr, false, false,
                                  false, false)), TYPE_NONE);
    part->w1 = 3;
    EXPECT_EQ(type_of(block::find(series, call.at(1), part, false, false, false, false, nullptr, nullptr, false, false,
                                  false, false)), TYPE_BLOCK);

    // /same: the very block, not an equal one.
    Cell inner = B("1");
    Cell other = B("1");
    Cell* holder = call.set(0, B(""));
    block::append_cell(holder, &other);
    block::append_cell(holder, &inner);
    call.set(1, inner);
    Cell* found = block::find(holder, call.at(1), nullptr, true, false, true, false, nullptr, nullptr, false, false,
                              false, false);
    EXPECT_EQ(int32_t(found->w1), 1);
    found = block::find(holder, call.at(1), nullptr, true, false, false, false, nullptr, nullptr, false, false, false,
                        false);
    EXPECT_EQ(int32_t(found->w1), 0);

    // Errors.
    call.set(0, B("a b"));
    call.set(1, V("a"));
    struct { Cell value; bool as_part; const char* error; } errors[] = {
        {int_cell(0), false, "script/out-of-range"},
        {V("x"), false, "script/invalid-refine-arg"},
        {B("a b"), true, "script/invalid-refine-arg"},  // another series
    };
    for (auto& e : errors) {
        Cell* arg = call.set(2, e.value);
        EXPECT_EQ(test::raised([&] {
                      block::find(call.at(0), call.at(1), e.as_part ? arg : nullptr, false, false, false, false,
                                  nullptr, e.as_part ? nullptr : arg, false, false, false, false);
                  }),
                  e.error);
    }
}

TEST_F(BlockEdit, SelectAnswersTheValueAfterTheMatch) {
    struct { const char* series; const char* key; bool sequence; int32_t skip; bool last; const char* result; } cases[] = {
        {"a 1 b 2", "b", false, 0, false, "2"},
        {"a 1 b", "b", false, 0, false, "none"},
        {"a 1 b 2", "c", false, 0, false, "none"},
        {"1 2 3 4", "2 3", true, 0, false, "4"},
        {"a b b 2", "b", false, 2, false, "2"},
        {"a 1 a 2", "a", false, 0, true, "2"},
        {"x string! \"s\" 5", "string!", false, 0, false, "5"},
    };
    for (auto& c : cases) {
        Call call;
        Cell* series = call.set(0, B(c.series));
        Cell* key = call.set(1, c.sequence ? B(c.key) : V(c.key));
        Cell* skip = c.skip ? call.set(3, int_cell(c.skip)) : nullptr;
        Cell* r = block::select(series, key, nullptr, false, false, false, false, nullptr, skip, c.last, false);
        EXPECT_EQ(mold_any(*r), c.result) << c.series << " / " << c.key;
    }
}

TEST_F(BlockEdit, PutReplacesTheValueAfterTheKeyOrAppendsBoth) {
    struct { const char* series; const char* key; const char* value; bool case_q; const char* result; } cases[] = {
        {"a 1", "b", "2", false, "[a 1 b 2]"},
        {"a 1", "a", "5", false, "[a 5]"},
        {"a", "a", "5", false, "[a 5]"},
        {"A 1", "a", "2", false, "[A 2]"},
        {"A 1", "a", "2", true, "[A 1 a 2]"},
    };
    for (auto& c : cases) {
        Call call;
        Cell* series = call.set(0, B(c.series));
        Cell* r = block::put(series, call.set(1, V(c.key)), call.set(2, V(c.value)), c.case_q);
        EXPECT_EQ(whole(*series), c.result);
        EXPECT_EQ(mold_any(*r), c.value);
    }
    // An equal value is left as it is (the cell keeps its own new-line marker).
    Call call;
    Cell* series = call.set(0, B("a 1"));
    block::write_at(series, 1)->header |= FLAG_NEW_LINE;
    block::put(series, call.set(1, V("a")), call.set(2, V("1")), false);
    EXPECT_TRUE(cell::new_line_q(block::zs_abs_at(series, 1)));
}

// ---- take, swap, trim ----

TEST_F(BlockEdit, TakeFromTheHeadOrTailWithPartAndDeep) {
    struct { const char* series; int32_t head; int32_t part; bool last; const char* taken; const char* left; } cases[] = {
        {"1 2 3", 0, 0, false, "1", "[2 3]"},
        {"1 2 3", 0, 0, true, "3", "[1 2]"},
        {"1 2 3", 0, 2, false, "[1 2]", "[3]"},
        {"1 2 3", 0, 2, true, "[2 3]", "[1]"},
        {"1 2 3", 1, 5, false, "[2 3]", "[1]"},
        {"1", 1, 0, false, "none", "[1]"},
    };
    for (auto& c : cases) {
        Call call;
        Cell original = B(c.series);
        Cell* series = call.set(0, original);
        series->w1 = uint32_t(c.head);
        Cell* part = c.part ? call.set(1, int_cell(c.part)) : nullptr;
        block::take(series, part, false, c.last);
        EXPECT_EQ(mold_any(*series), c.taken) << c.series;
        EXPECT_EQ(whole(original), c.left) << c.series;
    }
    // /deep: the taken blocks are copies, nested ones too.
    Call call;
    Cell original = B("[1 [2]] 3");
    Cell inner = *block::zs_abs_at(&original, 0);
    Cell* series = call.set(0, original);
    block::take(series, call.set(1, int_cell(1)), true, false);
    EXPECT_EQ(molded(*series), "[[1 [2]]]");
    Cell taken_inner = *block::zs_abs_at(series, 0);
    EXPECT_NE(taken_inner.w2, inner.w2);
    EXPECT_NE(block::zs_abs_at(&taken_inner, 1)->w2, block::zs_abs_at(&inner, 1)->w2);
}

TEST_F(BlockEdit, SwapExchangesTheHeadCells) {
    Call call;
    Cell a = B("1 2"), b = B("3 4");
    Cell* first = call.set(0, a);
    Cell* second = call.set(1, b);
    second->w1 = 1;
    block::swap(first, second);
    EXPECT_EQ(whole(a), "[4 2]");
    EXPECT_EQ(whole(b), "[3 1]");
    second->w1 = 2;  // at its tail: nothing happens
    block::swap(first, second);
    EXPECT_EQ(whole(a), "[4 2]");
    call.set(1, int_cell(1));
    EXPECT_EQ(test::raised([&] { block::swap(first, call.at(1)); }), "script/invalid-arg");
}

TEST_F(BlockEdit, TrimDropsNoneCellsFromTheHead) {
    struct { const char* series; int32_t head; const char* result; } cases[] = {
        {"1 none 2 none", 0, "[1 2]"},
        {"none none 1 none", 1, "[none 1]"},
        {"none", 0, "[]"},
        {"1 2", 0, "[1 2]"},
    };
    for (auto& c : cases) {
        Call call;
        Cell* series = call.set(0, B(c.series));
        series->w1 = uint32_t(c.head);
        block::trim(series, false, false, false, false, false, nullptr);
        EXPECT_EQ(whole(*series), c.result);
        EXPECT_EQ(int32_t(series->w1), c.head);
    }
}

// ---- sort ----

TEST_F(BlockEdit, SortWithItsRefinements) {
    struct Case {
        const char* series; int32_t head; int32_t skip; int32_t compare; int32_t part;
        bool case_q, all, reverse, stable; const char* result; int32_t index;
    } cases[] = {
        {"c a b", 0, 0, 0, 0, false, false, false, false, "[a b c]", 0},
        {"c a b", 0, 0, 0, 0, false, false, true, false, "[c b a]", 0},
        {"3 1 2", 1, 0, 0, 0, false, false, false, false, "[3 1 2]", 1},
        {"b 2 a 1", 0, 2, 0, 0, false, false, false, false, "[a 1 b 2]", 0},
        {"a 2 b 1", 0, 2, 2, 0, false, false, false, false, "[b 1 a 2]", 0},
        {"a 2 a 1 b 0", 0, 2, 0, 0, false, true, false, false, "[a 1 a 2 b 0]", 0},
        {"a 2 a 1 b 0", 0, 2, 0, 0, false, true, true, false, "[b 0 a 2 a 1]", 0},
        {"3 2 1 0", 0, 0, 0, 2, false, false, false, false, "[2 3 1 0]", 0},
        {"3 2 1 0", 2, 0, 0, -2, false, false, false, false, "[2 3 1 0]", 0},  // before the head
        {"3 2 1 0", 4, 0, 0, -3, false, false, false, false, "[3 0 1 2]", 1},
        {"3 2 1 0", 1, 0, 0, -2, false, false, false, false, "[3 2 1 0]", 1},  // not enough before: nothing
        {"3 2 1 0", 0, 0, 0, 9, false, false, false, false, "[0 1 2 3]", 0},
        {"2 \"a\" 1", 0, 0, 0, 0, false, false, false, false, "[\"a\" 1 2]", 0},   // by type id across types
        {"\"b\" \"A\" \"B\" \"a\"", 0, 0, 0, 0, false, false, false, true, "[\"A\" \"a\" \"b\" \"B\"]", 0},
        {"\"b\" \"A\" \"B\" \"a\"", 0, 0, 0, 0, true, false, false, true, "[\"A\" \"B\" \"a\" \"b\"]", 0},
        {"b 1 a 2 b 0 a 3", 0, 2, 0, 0, false, false, false, true, "[a 2 a 3 b 1 b 0]", 0},
        {"b 1 a 2 b 0 a 3", 0, 2, 0, 0, false, false, true, true, "[b 1 b 0 a 2 a 3]", 0},
    };
    for (const Case& c : cases) {
        Call call;
        Cell* series = call.set(0, B(c.series));
        series->w1 = uint32_t(c.head);
        Cell* skip = c.skip ? call.set(1, int_cell(c.skip)) : nullptr;
        Cell* compare = c.compare ? call.set(2, int_cell(c.compare)) : nullptr;
        Cell* part = c.part ? call.set(3, int_cell(c.part)) : nullptr;
        block::sort(series, c.case_q, skip, compare, part, c.all, c.reverse, c.stable);
        EXPECT_EQ(whole(*series), c.result) << c.series;
        EXPECT_EQ(int32_t(series->w1), c.index) << c.series;
    }
    // /part as a position in the same series.
    Call call;
    Cell* series = call.set(0, B("4 3 2 1"));
    Cell* part = call.set(3, *series);
    part->w1 = 3;
    block::sort(series, false, nullptr, nullptr, part, false, false, false);
    EXPECT_EQ(whole(*series), "[2 3 4 1]");
}

TEST_F(BlockEdit, SortRefusesBadRefinementsBeforeChangingAnything) {
    struct { const char* series; Cell skip; Cell compare; Cell part; bool all; const char* error; } cases[] = {
        {"1 2", {}, {}, {}, true, "script/bad-refines"},
        {"1 2 3", int_cell(2), {}, {}, false, "script/invalid-refine-arg"},
        {"1 2", int_cell(0), {}, {}, false, "script/invalid-refine-arg"},
        {"1 2", int_cell(3), {}, {}, false, "script/invalid-refine-arg"},
        {"1 2", V("x"), {}, {}, false, "script/invalid-refine-arg"},
        {"2 1", {}, int_cell(1), {}, false, "script/bad-refines"},
        {"2 1", int_cell(2), int_cell(1), {}, true, "script/bad-refines"},
        {"2 1", int_cell(2), int_cell(3), {}, false, "script/out-of-range"},
        {"2 1", int_cell(2), int_cell(0), {}, false, "script/out-of-range"},
        {"2 1", {}, V("x"), {}, false, "script/invalid-refine-arg"},
        {"2 1", {}, {}, B("1"), false, "script/invalid-refine-arg"},
    };
    for (auto& c : cases) {
        Call call;
        Cell* series = call.set(0, B(c.series));
        Cell* skip = type_of(&c.skip) ? call.set(1, c.skip) : nullptr;
        Cell* compare = type_of(&c.compare) ? call.set(2, c.compare) : nullptr;
        Cell* part = type_of(&c.part) ? call.set(3, c.part) : nullptr;
        EXPECT_EQ(test::raised([&] { block::sort(series, false, skip, compare, part, c.all, false, false); }), c.error)
            << c.series;
        EXPECT_EQ(whole(*series), std::string("[") + c.series + "]");
    }
}

namespace {

// Stands in for calling func [a b] [a < b] on integers (or on the second
// cells of two record blocks), with hooks into the block being sorted.
int comparator_calls = 0;
Cell* sorted_block = nullptr;
void (*during_call)() = nullptr;

int32_t int_of(const Cell* v) {
    if (type_of(v) == TYPE_BLOCK) return integer::get_value(block::zs_abs_at(v, int32_t(v->w1) + 1));
    return integer::get_value(v);
}

void lesser_than(const Cell*, Cell* first, Cell* second, Cell* result) {
    comparator_calls++;
    if (during_call) during_call();
    logic::make_at(result, int_of(first) < int_of(second));
}

struct ComparatorHook {
    block::detail::ComparatorCall saved = block::detail::call_comparator;
    ComparatorHook() {
        block::detail::call_comparator = lesser_than;
        comparator_calls = 0;
        during_call = nullptr;
    }
    ~ComparatorHook() { block::detail::call_comparator = saved; }
};

}  // namespace

TEST_F(BlockEdit, SortWithAFunctionComparator) {
    Call call;
    Cell* series = call.set(0, B("3 1 2"));
    Cell* function = call.at(2);
    cell::set_type(cell::begin(function), TYPE_FUNCTION);
    ComparatorHook hook;
    struct { const char* series; int32_t skip; bool all, reverse, stable; const char* result; } cases[] = {
        {"3 1 2", 0, false, false, false, "[1 2 3]"},
        {"3 1 2", 0, false, true, false, "[3 2 1]"},
        {"3 1 2", 0, false, false, true, "[1 2 3]"},
        {"a 3 b 1 c 2", 2, true, false, false, "[b 1 c 2 a 3]"},
    };
    for (auto& c : cases) {
        series = call.set(0, B(c.series));
        Cell* skip = c.skip ? call.set(1, int_cell(c.skip)) : nullptr;
        block::sort(series, false, skip, function, nullptr, c.all, c.reverse, c.stable);
        EXPECT_EQ(whole(*series), c.result);
    }

    // The comparator runs user code: it may grow, shrink and collect while
    // the sort reads a private copy, and the block is written back as far
    // as it still reaches.
    Cell kept = B("5 4 3 2 1");
    collector::Root root(kept);
    sorted_block = &kept;
    comparator_calls = 0;
    during_call = [] {
        if (comparator_calls == 1) {
            Cell filler = int_cell(0);
            for (int i = 0; i < 40; i++) block::append_cell(sorted_block, &filler);  // grows: the buffer moves
            collector::collect();
        }
    };
    series = call.set(0, kept);
    block::sort(series, false, nullptr, function, nullptr, false, false, false);
    EXPECT_EQ(block::zs_length_q(&kept), 45);
    for (int32_t i = 0; i < 5; i++) EXPECT_EQ(integer::get_value(block::zs_abs_at(&kept, i)), i + 1);

    comparator_calls = 0;
    during_call = [] {
        if (comparator_calls == 2) block::truncate_at(sorted_block, 2);
    };
    kept = B("5 4 3 2 1");
    series = call.set(0, kept);
    block::sort(series, false, nullptr, function, nullptr, false, false, true);
    EXPECT_EQ(whole(kept), "[1 2]");
}

// ---- set operations ----

namespace {

// Runs a set operation as the natives call it: the two series as the
// current call's first cells, the /skip argument above them. Answers the
// result, which replaced the first argument.
Cell set_op_result(int32_t op, const char* a, const char* b, int32_t skip, bool case_q, int32_t head) {
    stack::arguments = stack::top;
    Cell first = B(a), second = B(b);
    first.w1 = uint32_t(head);
    stack::push(&first);
    stack::push(&second);
    Cell skip_cell = int_cell(skip);
    Cell* skip_arg = skip ? stack::push(&skip_cell) : nullptr;
    block::do_set_op(case_q, skip_arg, op);
    EXPECT_EQ(int32_t(stack::arguments->w1), 0);
    return *stack::arguments;
}

std::string set_op(int32_t op, const char* a, const char* b, int32_t skip = 0, bool case_q = false,
                   int32_t head = 0) {
    return molded(set_op_result(op, a, b, skip, case_q, head));
}

}  // namespace

TEST_F(BlockEdit, SetOperationsKeepEachFirstValueOnce) {
    using namespace block;
    struct { int32_t op; const char* a; const char* b; int32_t skip; bool case_q; const char* result; } cases[] = {
        {SET_UNIQUE, "a b a", "", 0, false, "[a b]"},
        {SET_UNION, "a b", "b c", 0, false, "[a b c]"},
        {SET_INTERSECT, "a b c", "b c d", 0, false, "[b c]"},
        {SET_EXCLUDE, "a b c", "b", 0, false, "[a c]"},
        {SET_DIFFERENCE, "a b", "b c", 0, false, "[a c]"},
        {SET_UNIQUE, "a 1 b 2 a 3", "", 2, false, "[a 1 b 2]"},
        {SET_UNION, "a 1", "a 2 b 3", 2, false, "[a 1 b 3]"},
        {SET_INTERSECT, "a 1 b 2", "b 9", 2, false, "[b 2]"},
        {SET_INTERSECT, "a 1 b 2", "9 b", 2, false, "[]"},  // only first values of records count
        {SET_EXCLUDE, "a 1 b 2", "b 9", 2, false, "[a 1]"},
        {SET_DIFFERENCE, "a 1 b 2", "b 9 c 3", 2, false, "[a 1 c 3]"},
        {SET_UNIQUE, "\"a\" \"A\"", "", 0, false, "[\"a\"]"},
        {SET_UNIQUE, "\"a\" \"A\"", "", 0, true, "[\"a\" \"A\"]"},
        {SET_UNIQUE, "a A", "", 0, false, "[a]"},
        {SET_UNIQUE, "[1] [1] [2] 1", "", 0, false, "[[1] [2] 1]"},
        {SET_INTERSECT, "[1] 2 [3]", "[3] 2", 0, false, "[2 [3]]"},
        {SET_UNIQUE, "1 2 1", "", 0, false, "[1 2]"},
    };
    for (auto& c : cases)
        EXPECT_EQ(set_op(c.op, c.a, c.b, c.skip, c.case_q), c.result) << c.op << " " << c.a << " / " << c.b;
    // From the head only.
    EXPECT_EQ(set_op(SET_UNIQUE, "a a b", "", 0, false, 1), "[a b]");
    // Many values: each is looked up in the index once.
    std::string many;
    for (int i = 0; i < 20000; i++) many += std::to_string(i % 5000) + " ";
    Cell unique = set_op_result(SET_UNIQUE, many.c_str(), "", 0, false, 0);
    ASSERT_EQ(block::zs_length_q(&unique), 5000);
    EXPECT_EQ(integer::get_value(block::zs_abs_at(&unique, 4999)), 4999);
    EXPECT_EQ(test::raised([&] { set_op(SET_UNIQUE, "a", "", -1); }), "script/invalid-refine-arg");
}

// ---- copy/types ----

TEST_F(BlockEdit, CopyTypesCopiesOnlyValuesOfThoseTypes) {
    Cell inner = B("1 [2]");
    Cell text = B("\"t\"");
    Call call;
    Cell* source = call.set(0, B(""));
    block::append_cell(source, &inner);
    block::append_cell(source, block::zs_abs_at(&text, 0));
    Cell* types = call.set(1, V("block!"));
    Cell result{};
    block::copy(source, &result, nullptr, false, types);
    EXPECT_EQ(molded(result), "[[1 [2]] \"t\"]");
    Cell copied_inner = *block::zs_abs_at(&result, 0);
    EXPECT_NE(copied_inner.w2, inner.w2);                                           // a block! is copied
    EXPECT_EQ(block::zs_abs_at(&copied_inner, 1)->w2, block::zs_abs_at(&inner, 1)->w2);  // shallowly
    EXPECT_EQ(block::zs_abs_at(&result, 1)->w2, block::zs_abs_at(&text, 0)->w2);    // a string! is not

    block::copy(source, &result, nullptr, true, types);  // /deep: nested blocks too
    copied_inner = *block::zs_abs_at(&result, 0);
    EXPECT_NE(block::zs_abs_at(&copied_inner, 1)->w2, block::zs_abs_at(&inner, 1)->w2);
    EXPECT_EQ(block::zs_abs_at(&result, 1)->w2, block::zs_abs_at(&text, 0)->w2);

    // A block holding itself is refused under /deep.
    block::append_cell(source, source);
    EXPECT_EQ(test::raised([&] { block::copy(source, &result, nullptr, true, types); }), "internal/no-cycle");
}

// ---- the collector ----

TEST_F(BlockEdit, EditsHoldNoPointerAcrossACollection) {
    // Everything lives on the data stack (a root) before the collector is
    // switched on; in the stress build every allocation then collects and
    // moves every buffer, poisoning the bytes it leaves. The results are
    // looked at once it is off again.
    auto push = [](Cell v) { return stack::push(&v); };
    Cell* sevens = push(B("7"));
    Cell* own = push(B("1 2 3"));
    Cell* scores = push(B("5 4 3 2 1"));
    Cell* pairs = push(B("a 1"));
    Cell* nested = push(B("[1 [2]] \"t\""));
    std::string many;
    for (int i = 0; i < 300; i++) many += std::to_string(i % 100) + " ";
    Cell* numbers = push(B(many.c_str()));
    Cell* function = cell::set_type(cell::begin(stack::push_raw()), TYPE_FUNCTION);
    Cell* types = push(V("block!"));
    Cell* key = push(V("b"));
    Cell* two = push(int_cell(2));
    Cell* selected = push(int_cell(0));
    Cell* copied = push(int_cell(0));
    Cell* unique = push(int_cell(0));

    ComparatorHook hook;
    sorted_block = scores;
    during_call = [] {
        Cell zero = int_cell(0);
        if (comparator_calls < 4) block::append_cell(sorted_block, &zero);
    };
    bool saved = collector::enabled;
    collector::enabled = true;
    uint32_t code = runtime::catch_scope(THROW_ERROR, [&] {
        // append b first b, the cell given in place in the buffer that grows.
        for (int i = 0; i < 5; i++) {
            stack::arguments = stack::top;
            Cell* s = stack::push(sevens);
            block::insert(s, block::write_at(s, 0), -1, false, 1, true);
        }
        stack::arguments = stack::top;
        Cell* s = stack::push(own);
        s->w1 = 1;
        Cell* v = stack::push(own);
        block::insert(s, v, -1, false, 2, false);  // [1 1 2 3 1 2 3 2 3]
        s->w1 = 0;
        v->w1 = 6;
        block::change(s, v, 1, false, 3);

        stack::arguments = stack::top;
        s = stack::push(scores);
        block::sort(s, false, nullptr, stack::push(function), nullptr, false, false, true);

        stack::arguments = stack::top;
        s = stack::push(pairs);
        block::put(s, stack::push(key), stack::push(two), false);
        copy_cell(block::select(s, stack::push(key), nullptr, false, false, false, false, nullptr, nullptr, false,
                                false),
                  selected);

        stack::arguments = stack::top;
        s = stack::push(nested);
        Cell* t = stack::push(types);
        Cell* result = cell::begin(stack::push_raw());
        copy_cell(block::copy(s, result, nullptr, true, t), copied);

        stack::arguments = stack::top;
        stack::push(numbers);
        stack::push(numbers);
        block::do_set_op(false, nullptr, block::SET_UNIQUE);
        copy_cell(stack::arguments, unique);
    });
    collector::enabled = saved;
    ASSERT_EQ(code, 0u) << test::raised([] { runtime::unwind_to_handler(); });

    EXPECT_EQ(whole(*sevens), "[7 7 7 7 7 7]");
    EXPECT_EQ(whole(*own), "[3 2 3 3 2 3 3 2 3 1 2 3 1 2 3 2 3]");
    EXPECT_EQ(whole(*scores), "[1 2 3 4 5 0 0 0]");
    EXPECT_EQ(whole(*pairs), "[a 1 b 2]");
    EXPECT_EQ(mold_any(*selected), "2");
    EXPECT_EQ(molded(*copied), "[[1 [2]] \"t\"]");
    EXPECT_NE(block::zs_abs_at(copied, 0)->w2, block::zs_abs_at(nested, 0)->w2);
    EXPECT_EQ(block::zs_length_q(unique), 100);
}
