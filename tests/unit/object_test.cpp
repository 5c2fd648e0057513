#include <gtest/gtest.h>

#include "runtime/gc_root.hpp"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/words.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/source_eval.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

// Words are made from symbols (not global words), so that no test grows the root block.
Cell w(const char* name, uint32_t type = TYPE_WORD) {
    return Cell{type, 0, uint32_t(symbol::make(name)), uint32_t(-1)};
}
Cell sw(const char* name) { return w(name, TYPE_SET_WORD); }
Cell num(int32_t n) { return Cell{TYPE_INTEGER, 0, uint32_t(n), 0}; }
Cell none_value() { return Cell{TYPE_NONE, 0, 0, 0}; }

class Object : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensure_runtime();
        stack::arguments = stack::top = stack::bottom;
        stack::frames_top = stack::frames_bottom;
        runtime::thrown_code = 0;
        collector::enabled = true;  // the GC-stress build collects and moves at every allocation
    }
    void TearDown() override {
        collector::enabled = false;
        EXPECT_EQ(cycles::depth(), 0) << "a walk left an entry on the cycle stack";
    }

    // A block of the cells, on the data stack.
    static Cell* block_of(std::initializer_list<Cell> cells) {
        Cell* b = block::make_at(stack::push_raw(), int32_t(cells.size()));
        for (const Cell& c : cells) block::append_cell(b, &c);
        return b;
    }
    static Cell str(const char* text) {
        return *string::load(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), 0);
    }
    // make object! spec, or make proto spec; the object is on the data stack.
    static Cell* make(Cell* spec, const Cell* proto = nullptr) {
        Cell* p = stack::push_raw();
        if (proto) *p = *proto;
        else datatype::make_at(p, TYPE_OBJECT);
        Cell* s = stack::push(spec);
        object::make(p, s, TYPE_OBJECT);
        stack::top = p + 1;
        return p;
    }
    static Cell* make_from(std::initializer_list<Cell> spec) { return make(block_of(spec)); }
    static Cell field(const Cell* object, const char* name) {
        Cell word = w(name);
        return *object::get_field(object, &word);
    }
    static std::string mold(Cell* v, bool only = false, bool all = false, bool flat = false) {
        Cell* value = stack::push(v);
        Cell* buffer = string::zs_make_at(stack::push_raw(), 64);
        actions::call_mold(value, buffer, only, all, flat, nullptr, 0x7FFFFFFF, 0);
        std::string text = test::text_of(buffer);
        stack::top = value;
        return text;
    }
    static std::string form(Cell* v) {
        Cell* value = stack::push(v);
        Cell* buffer = string::zs_make_at(stack::push_raw(), 64);
        actions::call_form(value, buffer, nullptr, 0x7FFFFFFF);
        std::string text = test::text_of(buffer);
        stack::top = value;
        return text;
    }
    // The molded value of evaluating source text.
    static std::string eval_mold(const char* source) {
        lexer::init();
        Cell* code = stack::push_raw();
        lexer::scan(code, reinterpret_cast<const uint8_t*>(source), int32_t(std::strlen(source)), false, true, true,
                    false, nullptr, nullptr, nullptr, nullptr);
        interpreter::eval_block(code, false);
        return mold(stack::top - 1);
    }
    // A function! stand-in for handler fields: only its spec is ever read
    // until a handler runs.
    static Cell fake_function(std::initializer_list<Cell> spec) {
        Cell* s = block_of(spec);
        return Cell{TYPE_FUNCTION, 0, s->w2, 0};
    }
};

TEST_F(Object, FirstRunTimeClassId) {
    // A fresh process: nothing has taken a run-time class id before this make.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            test::ensure_runtime();
            Cell* o = make_from({sw("a"), num(1)});
            std::exit(int32_t(o->w2) == 1000001 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Object, ClassIdsFollowMakeCopyAndConstruct) {
    Cell* proto = make_from({sw("a"), num(1), sw("b"), num(2)});
    int32_t id = int32_t(proto->w2);
    EXPECT_GT(id, object::FIRST_RUNTIME_CLASS_ID);
    EXPECT_EQ(int32_t(make_from({sw("a"), num(1)})->w2), id + 1) << "make from the datatype: always a new id";

    EXPECT_EQ(int32_t(make(block_of({sw("b"), num(5)}), proto)->w2), id) << "no new word: the prototype's id";
    Cell* extended = make(block_of({sw("c"), num(5)}), proto);
    EXPECT_NE(int32_t(extended->w2), id);
    EXPECT_GT(int32_t(extended->w2), id + 1);

    Cell* copied = cell::begin(stack::push_raw());
    object::copy(proto, copied, nullptr, false, nullptr);
    EXPECT_EQ(int32_t(copied->w2), id);
    EXPECT_NE(copied->w1, proto->w1);

    Cell* constructed = cell::begin(stack::push_raw());
    object::construct(block_of({sw("z"), num(1)}), proto, false, constructed);
    EXPECT_EQ(int32_t(constructed->w2), id) << "construct never changes the class id";
    EXPECT_EQ(object::words_count(constructed), 3);
}

TEST_F(Object, MakeFromAPrototypeCopiesItsBlocksDeeply) {
    // hash! and binary! fields (copied by make, shared by copy/deep) wait for those datatypes.
    Cell* proto = make_from({sw("list"), *block_of({num(1)})});
    Cell* made = make(block_of({}), proto);
    Cell list = field(made, "list");
    block::append_cell(&list, &list);
    EXPECT_EQ(block::zs_length_q(&list), 2);
    Cell original = field(proto, "list");
    EXPECT_EQ(block::zs_length_q(&original), 1);
    EXPECT_NE(original.w2, list.w2);
}

TEST_F(Object, MakeEvaluatesTheSpecAndBindsSelf) {
    Cell* o = make_from({sw("a"), num(1), sw("me"), w("self")});
    EXPECT_EQ(field(o, "a").w2, 1u);
    Cell me = field(o, "me");
    EXPECT_EQ(type_of(&me), TYPE_OBJECT);
    EXPECT_EQ(me.w1, o->w1);
    EXPECT_EQ(mold(o), "make object! [\n    a: 1\n    me: make object! [...]\n]");
    Cell reflected = *o;
    EXPECT_EQ(type_of(object::reflect(&reflected, symbol::make("changed"))), TYPE_BLOCK);
    EXPECT_EQ(block::zs_length_q(&reflected), 0) << "make clears the changed marks";
}

TEST_F(Object, MakeRefusesOtherSpecs) {
    Cell* proto = datatype::make_at(stack::push_raw(), TYPE_OBJECT);
    Cell spec = num(3);
    EXPECT_EQ(test::raised([&] { object::make(proto, &spec, TYPE_OBJECT); }), "syntax/malconstruct");
}

TEST_F(Object, ConstructTakesValuesUnevaluated) {
    Cell spec_cells[] = {sw("a"), sw("b"), w("on"), sw("c"), w("none"), sw("d")};
    Cell* spec = block_of({spec_cells[0], spec_cells[1], spec_cells[2], spec_cells[3], spec_cells[4], spec_cells[5]});
    Cell* o = object::construct(spec, nullptr, false, cell::begin(stack::push_raw()));
    for (const char* name : {"a", "b"}) {
        Cell v = field(o, name);
        EXPECT_EQ(type_of(&v), TYPE_LOGIC) << name;
        EXPECT_EQ(v.w1, 1u) << name;
    }
    EXPECT_EQ(field(o, "c").header & TYPE_MASK, TYPE_NONE);
    EXPECT_EQ(field(o, "d").header & TYPE_MASK, TYPE_NONE);

    Cell* only = object::construct(spec, nullptr, true, cell::begin(stack::push_raw()));
    Cell a = field(only, "a");
    EXPECT_EQ(type_of(&a), TYPE_WORD);
    EXPECT_EQ(symbol::resolve(int32_t(a.w2)), symbol::resolve(symbol::make("on")));
}

TEST_F(Object, MoldAndFormLayouts) {
    Cell* o = make_from({sw("a"), num(1), sw("b"), str("x")});
    EXPECT_EQ(mold(o), "make object! [\n    a: 1\n    b: \"x\"\n]");
    EXPECT_EQ(mold(o, false, false, true), "make object! [a: 1 b: \"x\"]");
    EXPECT_EQ(mold(o, true), "a: 1\nb: \"x\"");
    EXPECT_EQ(form(o), "a: 1\nb: \"x\"");

    Cell* nested = make_from({sw("inner"), *o, sw("n"), num(2)});
    EXPECT_EQ(mold(nested), "make object! [\n    inner: make object! [\n        a: 1\n        b: \"x\"\n    ]\n    n: 2\n]");
    EXPECT_EQ(mold(make_from({})), "make object! []");
}

TEST_F(Object, MoldMarksWordsAndHidesHandlers) {
    // construct does not scan handlers, so the field may hold anything.
    Cell* o = object::construct(block_of({sw("k"), w("foo"), sw("on-change*"), num(0)}), nullptr, true,
                                cell::begin(stack::push_raw()));
    EXPECT_EQ(mold(o), "make object! [\n    k: 'foo\n]");
    EXPECT_EQ(mold(o, false, false, true), "make object! [k: 'foo]");
    EXPECT_EQ(mold(o, false, true, true), "make object! [k: 'foo on-change*: 0]");
}

TEST_F(Object, ASelfContainingObjectMoldsTheCycleMarker) {
    Cell* o = make_from({sw("x"), none_value()});
    Cell key = w("x");
    object::put(stack::push(o), &key, o, false);
    EXPECT_EQ(mold(o), "make object! [\n    x: make object! [...]\n]");
    EXPECT_EQ(form(o), "x: make object! [...]");
    cycles::push(o->w1);
    EXPECT_EQ(form(o), "...");  // formed while it is being walked
    cycles::pop();
}

TEST_F(Object, ReflectBodyTurnsWordsAndPathsIntoLitForms) {
    Cell path = *block_of({w("a"), w("b")});
    cell::set_type(&path, TYPE_PATH);
    Cell* o = object::construct(block_of({sw("k"), w("foo"), sw("p"), path, sw("n"), num(3)}), nullptr, true,
                                cell::begin(stack::push_raw()));
    Cell body = *o;
    object::reflect(&body, sym::body);
    ASSERT_EQ(block::zs_length_q(&body), 6);
    const Cell* c = block::zs_head(&body);
    EXPECT_EQ(type_of(&c[0]), TYPE_SET_WORD);
    EXPECT_TRUE(cell::new_line_q(&c[0]));
    EXPECT_EQ(c[0].w1, o->w1);
    EXPECT_EQ(type_of(&c[1]), TYPE_LIT_WORD);
    EXPECT_EQ(type_of(&c[3]), TYPE_LIT_PATH);
    EXPECT_EQ(type_of(&c[5]), TYPE_INTEGER);

    Cell other = *o;
    EXPECT_EQ(type_of(object::reflect(&other, sym::class_)), TYPE_INTEGER);
    other = *o;
    EXPECT_EQ(test::raised([&] { object::reflect(&other, symbol::make("spec")); }), "internal/not-done");
}

TEST_F(Object, PathsPutSelectAndTheChangedMarks) {
    Cell* o = make_from({sw("a"), num(1), sw("b"), num(2)});
    Cell* path = stack::push(o);  // stands for the path in error arguments
    Cell element = w("b");
    Cell seven = num(7);
    object::eval_path(o, &element, &seven, path, nullptr, nullptr, 1, false, false, true, false);
    EXPECT_EQ(element.w1, o->w1) << "the element is bound in place";
    EXPECT_EQ(element.w3, 1u);
    EXPECT_EQ(field(o, "b").w2, 7u);

    Cell changed = *o;
    object::reflect(&changed, symbol::make("changed"));
    ASSERT_EQ(block::zs_length_q(&changed), 1);
    EXPECT_EQ(symbol::resolve(int32_t(block::zs_head(&changed)->w2)), symbol::resolve(symbol::make("b")));
    Cell none = none_value();
    Cell field_word = w("changed");
    object::modify(stack::push(o), &field_word, &none, false);
    changed = *o;
    object::reflect(&changed, symbol::make("changed"));
    EXPECT_EQ(block::zs_length_q(&changed), 0);

    Cell missing = w("zz");
    Cell self = w("self");
    EXPECT_EQ(test::raised([&] { object::put(stack::push(o), &missing, &seven, false); }), "script/invalid-path");
    EXPECT_EQ(test::raised([&] { object::eval_path(o, &self, nullptr, path, nullptr, nullptr, 1, false, false,
                                                   false, false); }),
              "script/unset-path");
    EXPECT_EQ(object::words_count(o), 2) << "put never adds a field";
    EXPECT_EQ(type_of(object::select(stack::push(o), &missing, nullptr, false, false, false, false, nullptr,
                                     nullptr, false, false)),
              TYPE_NONE);
    EXPECT_EQ(test::raised([&] { object::select(stack::push(o), &seven, nullptr, false, false, false, false, nullptr,
                                                nullptr, false, false); }),
              "script/invalid-type");
    Cell text = str("a");
    EXPECT_EQ(test::raised([&] { object::put(stack::push(o), &text, &seven, false); }), "script/invalid-key-type");
}

TEST_F(Object, SetAssignsByPositionOrByWord) {
    Cell* o = make_from({sw("a"), num(1), sw("b"), num(2)});
    object::set_many(o, block_of({num(9)}), false, false, false);
    EXPECT_EQ(field(o, "a").w2, 9u);
    EXPECT_EQ(field(o, "b").header & TYPE_MASK, TYPE_NONE);

    Cell* p = make_from({sw("a"), num(1), sw("b"), num(2)});
    object::set_many(p, block_of({num(9)}), false, false, true);
    EXPECT_EQ(field(p, "a").w2, 9u);
    EXPECT_EQ(field(p, "b").w2, 2u) << "/some keeps the field";

    Cell* source = make_from({sw("b"), num(5), sw("zz"), num(6)});
    object::set_many(p, source, false, false, false);
    EXPECT_EQ(field(p, "a").w2, 9u) << "a field the source lacks is left alone";
    EXPECT_EQ(field(p, "b").w2, 5u);

    Cell* whole = block_of({num(1)});
    object::set_many(p, whole, false, true, false);
    EXPECT_EQ(field(p, "a").w2, whole->w2) << "/only: every field gets the block itself";

    Cell unset{TYPE_UNSET, 0, 0, 0};
    EXPECT_EQ(test::raised([&] { object::set_many(p, block_of({num(1), unset}), false, false, false); }),
              "script/need-value");
    object::set_many(p, block_of({num(1), unset}), true, false, false);
    EXPECT_EQ(field(p, "b").header & TYPE_MASK, TYPE_UNSET);
}

TEST_F(Object, SetNeverOverwritesHandlerFields) {
    Cell handler = fake_function({w("owner"), w("word")});
    Cell* o = object::construct(block_of({sw("a"), num(1), sw("on-deep-change*"), none_value()}), nullptr, false,
                                cell::begin(stack::push_raw()));
    Cell key = w("on-deep-change*");
    *_context::value_slot(o->w1, object::find_word_index(o, &key)) = handler;
    object::setup_events(o, o->w1);
    ASSERT_NE(o->w3, 0u);
    EXPECT_TRUE(object::on_deep_change_q(o));

    object::set_many(o, block_of({num(5), num(6)}), false, false, false);
    EXPECT_EQ(field(o, "a").w2, 5u);
    EXPECT_EQ(type_of(object::get_field(o, &key)), TYPE_FUNCTION);
    Cell changed = *o;
    object::reflect(&changed, symbol::make("changed"));
    EXPECT_EQ(block::zs_length_q(&changed), 2) << "the handler field passed over is marked too";
    Cell owner = *o;
    EXPECT_EQ(object::reflect(&owner, sym::owner)->w1, 1u);
}

TEST_F(Object, HandlerFieldsMustHoldFunctions) {
    EXPECT_EQ(test::raised([&] { make_from({sw("on-change*"), num(1)}); }), "script/bad-field-set");

    // An object whose on-change* field no longer holds a function.
    Cell handler = fake_function({w("word"), w("old"), w("new")});
    Cell* o = object::construct(block_of({sw("a"), num(1), sw("on-change*"), none_value()}), nullptr, false,
                                cell::begin(stack::push_raw()));
    Cell key = w("on-change*");
    *_context::value_slot(o->w1, object::find_word_index(o, &key)) = handler;
    object::setup_events(o, o->w1);
    *_context::value_slot(o->w1, object::find_word_index(o, &key)) = num(0);
    Cell a = w("a"), two = num(2);
    EXPECT_EQ(test::raised([&] { object::put(stack::push(o), &a, &two, false); }), "script/invalid-obj-evt");
    EXPECT_EQ(field(o, "a").w2, 2u) << "the assignment happened before the handler call";
}

TEST_F(Object, EventEntriesKeepLargeFieldIndexes) {
    // A handler beyond field 32,767 keeps its index (a 16-bit half would wrap).
    collector::enabled = false;  // 40,000 words: no need to collect at each one here
    Cell* o = object::make_at(stack::push_raw(), 40001);
    char name[16];
    for (int i = 0; i < 40000; i++) {
        std::snprintf(name, sizeof name, "f%d", i);
        Cell word = w(name);
        _context::add_word(o->w1, &word);
    }
    Cell key = w("on-deep-change*");
    int32_t index = _context::add_word(o->w1, &key);
    *_context::value_slot(o->w1, index) = fake_function({w("a"), refinements::local, w("x"), w("y")});
    object::setup_events(o, o->w1);
    object::EventEntry e = object::event_entry(o->w3, 1);
    EXPECT_EQ(e.index, 40000);
    EXPECT_EQ(e.locals, 3);
    EXPECT_EQ(object::event_entry(o->w3, 0).index, -1);
}

// Start-up builds its objects from bare contexts with push and init_events.
TEST_F(Object, PushSizesTheValuesAndInitEventsCachesTheHandlers) {
    Node ctx = _context::create(3, false, true, 0, _context::KIND_OBJECT);
    collector::Root keep(ctx);
    for (const char* name : {"a", "on-change*", "b"}) {
        Cell word = w(name);
        int32_t index;
        _context::add_symbol(ctx, int32_t(word.w2), true, &index);
    }
    Cell* o = object::push(ctx, 122);
    EXPECT_EQ(object::words_count(o), 3);
    EXPECT_EQ(type_of(object::get_values(o) + 2), TYPE_UNSET) << "one value per word";
    EXPECT_EQ(_context::own_value(ctx)->w2, 122u) << "the self slot holds the object";
    object::init_events(ctx, 1, 2, -1, 0);
    EXPECT_EQ(object::event_entry(o->w3, 0).index, 1);
    EXPECT_EQ(object::packed_entry(o->w3, 0), (1 << 16) | 2);
    EXPECT_EQ(_context::own_value(ctx)->w3, o->w3);
    EXPECT_FALSE(object::on_deep_change_q(o));

    Cell plain = *make_from({sw("x"), num(1)});
    Cell word = w("x"), block = *block_of({});
    EXPECT_EQ(test::raised([&] { object::fire_on_deep_change(&plain, &word, &block, &word, nullptr, 0, 1); }),
              "script/invalid-obj-evt");
}

TEST_F(Object, CompareFieldByField) {
    Cell* a = make_from({sw("x"), num(1), sw("y"), num(2)});
    Cell* b = make_from({sw("x"), num(1), sw("y"), num(2)});
    Cell* c = make_from({sw("x"), num(1), sw("y"), num(3)});
    Cell* more = make_from({sw("x"), num(1), sw("y"), num(2), sw("z"), num(0)});
    EXPECT_EQ(object::compare(a, b, COMP_EQUAL), 0);
    EXPECT_EQ(object::compare(a, b, COMP_SAME), -1);
    EXPECT_EQ(object::compare(a, a, COMP_SAME), 0);
    EXPECT_LT(object::compare(a, c, COMP_LESSER), 0);
    EXPECT_EQ(object::compare(more, a, COMP_EQUAL), 1);
    EXPECT_EQ(object::compare(a, more, COMP_EQUAL), -1);
    Cell n = num(1);
    EXPECT_EQ(object::compare(a, &n, COMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST_F(Object, CopyRefusesPartAndCopiesDeeply) {
    Cell* o = make_from({sw("list"), *block_of({num(1)})});
    Cell* copied = cell::begin(stack::push_raw());
    object::copy(o, copied, nullptr, true, nullptr);
    Cell a = field(o, "list"), b = field(copied, "list");
    EXPECT_NE(a.w2, b.w2);
    object::copy(o, copied, nullptr, false, nullptr);
    EXPECT_EQ(field(copied, "list").w2, a.w2) << "a shallow copy shares the block";

    // A refinement argument is given when it lies above the call's first argument.
    Cell* first = stack::push(o);
    Cell* part = stack::push_raw();
    *part = num(1);
    EXPECT_EQ(test::raised([&] { object::copy(first, copied, part, false, nullptr); }), "script/invalid-refine-arg");
}

// Handlers are function! values.
TEST_F(Object, OnChangeFiresEvenWhenTheValueIsUnchanged) {
    EXPECT_EQ(eval_mold("o: make object! [a: 1 log: copy [] "
                        "on-change*: func [word old new] [append log reduce [word old new]]] "
                        "o/a: 1 o/a: 2 o/log"),
              "[a 1 1 a 1 2]");
}

TEST_F(Object, AReplacedHandlerIsTheOneCalled) {
    // The new handler is made outside the object: it reaches the log through
    // a global word, and it runs already for its own assignment (the value is
    // stored before the handler is called), which it leaves out of the log.
    EXPECT_EQ(eval_mold("o: make object! [a: 1 log: copy [] on-change*: func [w o n] [append log 'first]] "
                        "o/a: 2 log: o/log "
                        "o/on-change*: func [w o n /local x y] [if equal? w 'a [x: n y: 'second append log reduce [y x]]] "
                        "o/a: 5 o/log"),
              "[first second 5]");
}

}  // namespace
