#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/hash.hpp"
#include "runtime/words.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

class Contexts : public ::testing::Test {
protected:
    void SetUp() override { test::ensure_runtime(); }
};

Cell unbound(uint32_t type, const char* name) {
    Cell w;
    return *word::make_bound(&w, type, 0, symbol::make(name), -1);
}

// A block value (in a C++ local) holding the given cells.
Cell block_of(const std::vector<Cell>& cells) {
    Cell b;
    block::make_at(&b, int32_t(cells.size()));
    for (const Cell& c : cells) block::append_cell(&b, &c);
    return b;
}

Cell* at(const Cell& block, int32_t i) { return memory::cells_for_write(memory::buffer_of(block.w2)) + i; }

Cell integer_cell(int32_t v) {
    Cell c;
    return *integer::make_at(cell::begin(&c), v);
}

}  // namespace

TEST_F(Contexts, CreateMakesTheCellAndRoomForAtLeastOneWord) {
    Node ctx = _context::create(0, false, true, 0, _context::KIND_OBJECT);
    const Cell* c = _context::cell_of(ctx);
    EXPECT_EQ(type_of(c), TYPE_CONTEXT);
    EXPECT_EQ(_context::kind_of(c), _context::KIND_OBJECT);
    EXPECT_TRUE(c->header & CONTEXT_SELF);
    EXPECT_FALSE(_context::on_stack_q(c));
    EXPECT_EQ(type_of(_context::own_value(ctx)), TYPE_UNSET);
    EXPECT_EQ(_context::word_count(ctx), 0);
    EXPECT_GE(memory::buffer_of(c->w2)->size, int32_t(sizeof(Cell)));
    EXPECT_GE(memory::buffer_of(_context::get_words_node(ctx))->size, int32_t(sizeof(Cell)));
}

TEST_F(Contexts, FunctionSpecGivesWordsInOrderWithoutValues) {
    Cell spec = block_of({unbound(TYPE_WORD, "a"), unbound(TYPE_REFINEMENT, "b"), Cell{TYPE_STRING, 0, 0, 0},
                          unbound(TYPE_GET_WORD, "c"), unbound(TYPE_SET_WORD, "d"), unbound(TYPE_WORD, "A")});
    at(spec, 2)->header = TYPE_NONE;  // a non-word entry is skipped
    Node ctx = _context::make_from_spec(&spec, true, false, _context::KIND_FUNCTION);
    const Cell* c = _context::cell_of(ctx);
    EXPECT_TRUE(_context::on_stack_q(c));
    EXPECT_EQ(c->w2, 0u);  // no call runs
    EXPECT_EQ(_context::word_count(ctx), 3);
    const char* names[] = {"a", "b", "c"};
    for (int32_t i = 0; i < 3; i++) {
        EXPECT_EQ(_context::find_word(ctx, symbol::make(names[i]), false), i);
        const Cell* entry = _context::get_word_cell(ctx, i);
        EXPECT_EQ(entry->w1, ctx);
        EXPECT_EQ(int32_t(entry->w3), i);
    }
    EXPECT_EQ(_context::find_word(ctx, symbol::make("d"), true), -1);
    // Setting a word of an idle on-stack context has nowhere to go.
    Cell a = *_context::get_word_cell(ctx, 0);
    Cell one = integer_cell(1);
    EXPECT_EQ(test::raised([&] { _context::set_in(&a, &one, ctx, true); }), "script/not-defined");
}

TEST_F(Contexts, CanonicalFlagDecidesWhetherAnotherSpellingIsTheSameWord) {
    Node ctx = _context::create(4, false, false, 0, _context::KIND_OBJECT);
    int32_t index;
    EXPECT_EQ(_context::add_symbol(ctx, symbol::make("ctx-key"), true, &index), -1);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(_context::add_symbol(ctx, symbol::make("CTX-KEY"), true, &index), 0);
    EXPECT_EQ(_context::word_count(ctx), 1);
    EXPECT_EQ(_context::add_symbol(ctx, symbol::make("CTX-KEY"), false, &index), -1);
    EXPECT_EQ(index, 1);
}

TEST_F(Contexts, SettingAMissingWordInAnObjectAppendsItsSlot) {
    Node ctx = _context::create(1, false, true, 0, _context::KIND_OBJECT);
    Cell x = unbound(TYPE_WORD, "ctx-x");
    Cell y = unbound(TYPE_SET_WORD, "ctx-y");
    Cell ten = integer_cell(10), twenty = integer_cell(20);
    EXPECT_EQ(_context::set_in(&x, &ten, ctx, true), 0);
    EXPECT_EQ(_context::set_in(&y, &twenty, ctx, true), 1);
    EXPECT_EQ(int32_t(y.w3), 1);
    EXPECT_EQ(memory::length_of(memory::buffer_of(_context::cell_of(ctx)->w2)), 2);
    EXPECT_EQ(integer::get_value(_context::value_slot(ctx, 1)), 20);
    EXPECT_TRUE(_context::get_word_cell(ctx, 1)->header & _context::WORD_CHANGED);
    // Another spelling of a present word reaches the same slot.
    Cell upper = unbound(TYPE_WORD, "CTX-X");
    EXPECT_EQ(_context::set_in(&upper, &twenty, ctx, true), 0);
    EXPECT_EQ(_context::word_count(ctx), 2);
    EXPECT_EQ(integer::get_value(_context::value_slot(ctx, 0)), 20);
}

TEST_F(Contexts, ChangeHandlerSeesOldAndNewValue) {
    static int32_t seen_old, seen_new;
    Node ctx = _context::create(1, false, true, 0, _context::KIND_OBJECT);
    Cell w = unbound(TYPE_WORD, "ctx-watched");
    Cell one = integer_cell(1), two = integer_cell(2);
    _context::set_in(&w, &one, ctx, true);
    *_context::own_value(ctx) = Cell{TYPE_OBJECT, ctx, 0, 1};  // an object with change events
    _context::OnChange saved = _context::on_change;
    _context::on_change = [](const Cell*, const Cell*, const Cell* old_value, const Cell* new_value) {
        seen_old = integer::get_value(old_value);
        seen_new = integer::get_value(new_value);
    };
    Cell* top = stack::top;
    _context::set_in(&w, &two, ctx, true);
    EXPECT_EQ(stack::top, top);
    _context::on_change = saved;
    EXPECT_EQ(seen_old, 1);
    EXPECT_EQ(seen_new, 2);
    EXPECT_EQ(integer::get_value(_context::value_slot(ctx, 0)), 2);
}

TEST_F(Contexts, BindingASelfContainingBlockEnds) {
    Node ctx = _context::create(2, false, true, 0, _context::KIND_OBJECT);
    Cell a = unbound(TYPE_WORD, "ctx-a");
    _context::add_word(ctx, &a);
    Cell outer = block_of({a, a});
    Cell inner = block_of({a, outer});
    *at(outer, 1) = inner;  // outer holds inner, which holds outer
    _context::bind_block(&outer, ctx, true);
    EXPECT_EQ(at(outer, 0)->w1, ctx);
    EXPECT_EQ(at(inner, 0)->w1, ctx);
    EXPECT_EQ(int32_t(at(inner, 0)->w3), 0);
}

TEST_F(Contexts, SelfBindsToTheContextOnlyAsAWordSpelledExactly) {
    Node ctx = _context::create(2, false, true, 0, _context::KIND_OBJECT);
    Cell upper_self = unbound(TYPE_WORD, "SELF");
    _context::add_word(ctx, &upper_self);  // the context holds a word "SELF" at index 0
    Cell b = block_of({unbound(TYPE_WORD, "self"), unbound(TYPE_WORD, "Self"), unbound(TYPE_GET_WORD, "self")});
    _context::bind_block(&b, ctx, true);
    EXPECT_EQ(at(b, 0)->w1, ctx);
    EXPECT_EQ(int32_t(at(b, 0)->w3), -1);
    for (int32_t i = 1; i < 3; i++) {  // bound by lookup like any other word
        EXPECT_EQ(at(b, i)->w1, ctx);
        EXPECT_EQ(int32_t(at(b, i)->w3), 0);
    }
    // Without the self option the lowercase word is looked up too.
    Cell plain = block_of({unbound(TYPE_WORD, "self")});
    _context::bind_block(&plain, ctx, false);
    EXPECT_EQ(int32_t(at(plain, 0)->w3), 0);
}

TEST_F(Contexts, UnknownWordsStayAsTheyWere) {
    Node ctx = _context::create(1, false, false, 0, _context::KIND_OBJECT);
    Cell b = block_of({unbound(TYPE_WORD, "ctx-nowhere")});
    _context::bind_block(&b, ctx, false);
    EXPECT_EQ(at(b, 0)->w1, 0u);
    EXPECT_EQ(int32_t(at(b, 0)->w3), -1);
}

TEST_F(Contexts, SetWordsAreCollectedFromTheHead) {
    Node ctx = _context::create(1, false, true, 0, _context::KIND_OBJECT);
    Cell b = block_of({unbound(TYPE_SET_WORD, "ctx-p"), unbound(TYPE_WORD, "ctx-q"), unbound(TYPE_SET_WORD, "ctx-r"),
                       unbound(TYPE_SET_WORD, "CTX-P")});
    EXPECT_TRUE(_context::add_set_words(ctx, &b));
    EXPECT_EQ(_context::word_count(ctx), 2);
    EXPECT_EQ(memory::length_of(memory::buffer_of(_context::cell_of(ctx)->w2)), 2);
    EXPECT_FALSE(_context::add_set_words(ctx, &b));
    b.w1 = 99;  // a head past the tail is clamped
    EXPECT_FALSE(_context::add_set_words(ctx, &b));
    EXPECT_EQ(b.w1, 4u);
}

TEST_F(Contexts, RenewedContextHasTheSameWordsBoundToItself) {
    Node old_ctx = _context::create(2, false, true, 0, _context::KIND_OBJECT);
    Cell a = unbound(TYPE_WORD, "ctx-ra"), b = unbound(TYPE_WORD, "ctx-rb");
    Cell one = integer_cell(1);
    _context::put_value(old_ctx, &a, &one);
    _context::put_value(old_ctx, &b, &one);
    Cell holder{TYPE_OBJECT, old_ctx, 0, 0};
    Node fresh = _context::renew_for(&holder, _context::KIND_OBJECT);
    EXPECT_NE(fresh, old_ctx);
    EXPECT_EQ(holder.w1, fresh);
    EXPECT_EQ(_context::word_count(fresh), 2);
    EXPECT_EQ(_context::get_word_cell(fresh, 1)->w1, fresh);
    EXPECT_EQ(_context::get_word_cell(old_ctx, 1)->w1, old_ctx);
    EXPECT_TRUE(_context::cell_of(fresh)->header & CONTEXT_SELF);
    // Every word has a value slot, and the old context keeps its own.
    EXPECT_EQ(type_of(_context::value_slot(fresh, 1)), TYPE_UNSET);
    EXPECT_EQ(integer::get_value(_context::value_slot(old_ctx, 1)), 1);
}

TEST_F(Contexts, AddIfAbsentKeepsAnExistingValue) {
    Node ctx = _context::create(1, false, false, 0, _context::KIND_OBJECT);
    Cell k = unbound(TYPE_WORD, "ctx-k");
    Cell one = integer_cell(1), two = integer_cell(2);
    _context::add_if_absent(ctx, &k, &one);
    _context::add_if_absent(ctx, &k, &two);
    EXPECT_EQ(_context::word_count(ctx), 1);
    EXPECT_EQ(integer::get_value(_context::value_slot(ctx, 0)), 1);
}

TEST_F(Contexts, GlobalValuesByCanonicalId) {
    Cell seven = integer_cell(7);
    _context::set_global_value(symbol::make("ctx-global"), &seven);
    EXPECT_EQ(integer::get_value(_context::global_value_cell(symbol::make("CTX-GLOBAL"))), 7);
    // A context keeping its values on the stack looks in the global context.
    Node fn = _context::create(1, true, false, 0, _context::KIND_FUNCTION);
    EXPECT_EQ(integer::get_value(_context::find_value_cell(symbol::make("ctx-global"), fn)), 7);
}

// A copied word table shares its lookup index with its source until one of
// them adds a word: each then finds its own words only, whether the index
// has room for the word or grows, and a second copy is untouched by the first.
TEST_F(Contexts, CopiesOfAWordTableAddWordsApart) {
    Node proto = _context::create(64, false, true, 0, _context::KIND_OBJECT);  // room to add without growing
    collector::Root keep_proto(proto);
    auto name = [](const char* stem, int32_t i) { return symbol::make((std::string(stem) + std::to_string(i)).c_str()); };
    auto add = [&](Node ctx, const char* stem, int32_t i) {
        Cell w = unbound(TYPE_WORD, (std::string(stem) + std::to_string(i)).c_str());
        _context::add_word(ctx, &w);
    };
    for (int32_t i = 0; i < 12; i++) add(proto, "cw-p", i);  // more than a scanned context holds
    Node first = _context::create(12, false, true, proto, _context::KIND_OBJECT);
    collector::Root keep_first(first);
    Node second = _context::create(12, false, true, proto, _context::KIND_OBJECT);
    collector::Root keep_second(second);
    for (int32_t i = 0; i < 200; i++) add(first, "cw-f", i);  // in place at first, then the index grows
    add(proto, "cw-q", 0);
    for (int32_t i = 0; i < 12; i++) {
        EXPECT_EQ(_context::find_word(first, name("cw-p", i), false), i);
        EXPECT_EQ(_context::find_word(second, name("cw-p", i), false), i);
        EXPECT_EQ(_context::find_word(proto, name("cw-p", i), false), i);
    }
    for (int32_t i = 0; i < 200; i++) {
        EXPECT_EQ(_context::find_word(first, name("cw-f", i), false), 12 + i);
        EXPECT_EQ(_context::find_word(second, name("cw-f", i), false), -1);
        EXPECT_EQ(_context::find_word(proto, name("cw-f", i), false), -1);
    }
    EXPECT_EQ(_context::find_word(proto, name("cw-q", 0), false), 12);
    EXPECT_EQ(_context::find_word(first, name("cw-q", 0), false), -1);
    EXPECT_EQ(_context::find_word(second, name("cw-q", 0), false), -1);
    EXPECT_EQ(_context::word_count(second), 12);
    // Each index marks as taken the buckets of its own words alone, each
    // bucket naming one of its own entries.
    for (Node ctx : {proto, first, second}) {
        const hash::Table* t = hash::table_of(_context::cell_of(ctx)->w1);
        const uint32_t* flags = hash::flags_of(t);
        const int32_t* keys = hash::keys_of(t);
        int32_t live = 0;
        for (int32_t b = 0; b < t->buckets; b++) {
            if (hash::bucket_state(flags, uint32_t(b)) != hash::BUCKET_LIVE) continue;
            live++;
            EXPECT_LT(keys[b], _context::word_count(ctx));
        }
        EXPECT_EQ(live, _context::word_count(ctx));
    }
}
