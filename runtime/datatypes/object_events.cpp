// object!: change notification (`on-change*`, `on-deep-change*`) and the
// `set` native's assignment into objects.
//
// An object value caches where its handler fields are (its event info block,
// see object.hpp), so that an assignment to an object without handlers costs
// one test of word 3, and one with handlers one index check. The cache is
// refreshed at each call: a handler field given a new function is noticed by
// its spec node.
//
// Handlers are user code: the collector may run and any buffer may move while
// one runs. Values handed to a handler are copied onto the data stack first,
// and loops re-derive every pointer after a call.
#include <algorithm>

#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/ownership.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::object {

namespace {

constexpr int32_t ON_CHANGE = 0;
constexpr int32_t ON_DEEP_CHANGE = 1;

Cell* entry_cell(Node info, int32_t which) { return memory::internal_cells(memory::buffer_of(info)) + which; }

// The locals count of a function's spec: /local itself and every word! after it.
int32_t count_locals(const Cell* function) {
    SeriesBuffer* spec = memory::buffer_of(function->w2);
    const Cell* c = memory::cells_head(spec);
    int32_t n = memory::length_of(spec), count = 0;
    bool in_locals = false;
    for (int32_t i = 0; i < n; i++) {
        uint32_t type = type_of(c + i);
        if (type == TYPE_REFINEMENT) {
            if (in_locals) break;
            in_locals = symbol::resolve(int32_t(c[i].w2)) == symbol::resolve(int32_t(words::local.w2));
            if (in_locals) count = 1;
        } else if (in_locals && type == TYPE_WORD) {
            count++;
        }
    }
    return count;
}

bool handler_type_q(uint32_t type) { return type == TYPE_FUNCTION || type == TYPE_ROUTINE; }

bool handler_symbol_q(int32_t symbol) {
    int32_t s = symbol::resolve(symbol);
    return s == symbol::resolve(int32_t(words::on_change_star.w2)) ||
           s == symbol::resolve(int32_t(words::on_deep_change_star.w2));
}

// The handler of an entry, its locals count brought up to date: the entry is
// rewritten when the field now holds a function with another spec.
int32_t refresh_locals(Node info, int32_t which, const Cell* handler) {
    Cell* e = entry_cell(info, which);
    if (e->w3 != handler->w2) {
        int32_t locals = count_locals(handler);
        e = entry_cell(info, which);
        e->w2 = uint32_t(locals);
        e->w3 = handler->w2;
    }
    return int32_t(e->w2);
}

void push_locals(int32_t count) {
    if (count < 1) return;
    logic::make_at(stack::push_raw(), false);
    for (int32_t i = 1; i < count; i++) none::make_at(stack::push_raw());
}

// Runs the handler of the object whose arguments and locals follow the
// frame just pushed for it, then unwinds the frame; its result is dropped.
void run(const Cell* handler, const Cell* name, Node object_ctx) {
    Cell fn = *handler, w = *name;
    interpreter::exec_function(&fn, object_ctx, &w, 0);
    stack::unwind_func();
}

}  // namespace

// ---- the event info block ----

Node make_event_info(int32_t on_change_index, int32_t on_change_locals, int32_t deep_index, int32_t deep_locals,
                     Node on_change_spec, Node deep_spec) {
    Node info = memory::alloc_cells(2);
    SeriesBuffer* b = memory::buffer_of(info);
    Cell* c = memory::internal_cells(b);
    c[0] = Cell{TYPE_PAIR, uint32_t(on_change_index), uint32_t(on_change_locals), on_change_spec};
    c[1] = Cell{TYPE_PAIR, uint32_t(deep_index), uint32_t(deep_locals), deep_spec};
    b->tail = b->head + 2 * int32_t(sizeof(Cell));
    return info;
}

EventEntry event_entry(Node info, int32_t which) {
    const Cell* e = entry_cell(info, which);
    return {int32_t(e->w1), int32_t(e->w2)};
}

int32_t packed_entry(Node info, int32_t which) {
    EventEntry e = event_entry(info, which);
    return int32_t(uint32_t(e.index) << 16 | (uint32_t(e.locals) & 0xFFFF));
}

Node scan_events(Node ctx) {
    // Contexts of one shape hold the same words: the last shape found
    // without either handler's word needs no look-up (objects made from one
    // prototype, one after another).
    static uint32_t shape_without_events = 0;
    uint32_t shape = _context::shape_of(_context::cell_of(ctx));
    if (shape && shape == shape_without_events) return 0;
    int32_t index[2] = {_context::find_word(ctx, int32_t(words::on_change_star.w2), true),
                        _context::find_word(ctx, int32_t(words::on_deep_change_star.w2), true)};
    if (index[0] < 0 && index[1] < 0) {
        shape_without_events = shape;
        return 0;
    }
    int32_t locals[2] = {0, 0};
    Node specs[2] = {0, 0};
    for (int32_t which : {ON_CHANGE, ON_DEEP_CHANGE}) {
        if (index[which] < 0) continue;
        const Cell* handler = _context::value_slot(ctx, index[which]);
        if (!handler || !handler_type_q(type_of(handler))) {
            Cell word = *_context::get_word_cell(ctx, index[which]);
            Cell type;
            datatype::make_at(&type, handler ? type_of(handler) : int32_t(TYPE_UNSET));
            fire(ErrorCategory::script, "bad-field-set", &word, &type);
        }
        locals[which] = count_locals(handler);
        specs[which] = handler->w2;
    }
    return make_event_info(index[0], locals[0], index[1], locals[1], specs[0], specs[1]);
}

bool on_deep_change_q(const Cell* object) {
    return object->w3 != 0 && event_entry(object->w3, ON_DEEP_CHANGE).index != -1;
}

void setup_events(Cell* object, Node ctx) {
    object->w3 = scan_events(ctx);
    // An object with on-deep-change* owns its own values.
    if (on_deep_change_q(object)) ownership::set_owner_marked(object, object, nullptr);
    refresh_self(object);
}

// ---- firing ----

void fire_on_change(const Cell* object, const Cell* word, const Cell* old_value, const Cell* new_value) {
    Cell owner = *object;
    if (owner.w3 == 0) return;
    EventEntry e = event_entry(owner.w3, ON_CHANGE);
    if (e.index == -1) return;
    Node ctx = owner.w1;
    const Cell* slot = _context::value_slot(ctx, e.index);
    if (!slot || type_of(slot) != TYPE_FUNCTION) {
        Cell bad = slot ? *slot : Cell{TYPE_UNSET, 0, 0, 0};
        fire(ErrorCategory::script, "invalid-obj-evt", &bad);
    }
    Cell handler = *slot;
    int32_t locals = refresh_locals(owner.w3, ON_CHANGE, &handler);

    Cell w = *word, old_copy = *old_value, new_copy = *new_value;
    if (w.w1 != ctx) {
        int32_t index = _context::find_word(ctx, int32_t(w.w2), true);
        w.w1 = ctx;
        w.w3 = uint32_t(index);
    }
    Cell* saved_top = stack::push(&handler);  // keeps the handler alive should it replace itself
    stack::mark_func(&words::on_change_star, handler.w1);
    stack::push(&w);
    stack::push(&old_copy);
    stack::push(&new_copy);
    push_locals(locals);
    run(&handler, &words::on_change_star, ctx);
    stack::top = saved_top;
}

void fire_on_change_stacked(const Cell* object, const Cell* word) {
    Cell* old_value = stack::top - 1;
    fire_on_change(object, word, old_value, old_value - 1);
}

void fire_on_change_via_word(const Cell* object_word, const Cell* word) {
    Cell object = *word::value_cell(object_word);
    Cell* old_value = stack::top - 1;
    fire_on_change(&object, word, old_value, old_value - 1);
}

void fire_on_deep_change(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                         const Cell* new_value, int32_t index, int32_t part) {
    Cell o = *owner;
    if (o.w3 == 0) fire(ErrorCategory::script, "invalid-obj-evt", &o);
    EventEntry e = event_entry(o.w3, ON_DEEP_CHANGE);
    if (e.index == -1) return;
    const Cell* slot = _context::value_slot(o.w1, e.index);
    if (!slot || type_of(slot) != TYPE_FUNCTION) return;
    Cell handler = *slot;
    int32_t locals = refresh_locals(o.w3, ON_DEEP_CHANGE, &handler);

    Cell args[5] = {o, *word, *target, *action, new_value ? *new_value : Cell{TYPE_NONE, 0, 0, 0}};
    Cell* saved_top = stack::push(&handler);
    stack::mark_func(&words::on_deep_change_star, handler.w1);
    for (const Cell& a : args) stack::push(&a);
    Cell n{TYPE_INTEGER, 0, uint32_t(index), 0};
    stack::push(&n);
    n.w2 = uint32_t(part);
    stack::push(&n);
    push_locals(locals);
    run(&handler, &words::on_deep_change_star, o.w1);
    stack::top = saved_top;
}

// ---- set ----

void set_many(const Cell* target, const Cell* source, bool any, bool only, bool some) {
    Cell* object = stack::push(target);
    Cell* src = stack::push(source);
    Node ctx = object->w1;
    int32_t words = _context::word_count(ctx);
    uint32_t src_type = type_of(src);
    bool from_block = !only && src_type == TYPE_BLOCK;
    bool from_object = !only && src_type == TYPE_OBJECT;
    int32_t head = from_block ? std::max(int32_t(src->w1), 0) : 0;
    auto block_length = [&] { return std::max(memory::length_of(memory::buffer_of(src->w2)) - head, 0); };

    // Before anything is assigned: an unset value needs /any (or /only, /some).
    if ((from_block || from_object) && !some && !any) {
        int32_t n = std::min(words, from_block ? block_length() : _context::word_count(src->w1));
        for (int32_t i = 0; i < n; i++) {
            const Cell* v = from_block ? memory::cells_head(memory::buffer_of(src->w2)) + head + i
                                       : _context::value_slot(src->w1, i);
            if (v && type_of(v) == TYPE_UNSET) {
                Cell w = *_context::get_word_cell(ctx, i);
                fire(ErrorCategory::script, "need-value", &w);
            }
        }
    }

    Cell* value = stack::push_raw();
    Cell* old_value = stack::push_raw();
    for (int32_t i = 0; i < words; i++) {
        Cell word = *_context::get_word_cell(ctx, i);
        if (from_block) {
            *value = i < block_length() ? memory::cells_head(memory::buffer_of(src->w2))[head + i]
                                        : Cell{TYPE_NONE, 0, 0, 0};
        } else if (from_object) {
            int32_t at = _context::find_word(src->w1, int32_t(word.w2), true);
            if (at < 0) continue;  // a field the source lacks is left as it is
            const Cell* v = _context::value_slot(src->w1, at);
            *value = v ? *v : Cell{TYPE_NONE, 0, 0, 0};
        } else {
            *value = *src;
        }
        if (some && (from_block || from_object) && type_of(value) == TYPE_NONE) continue;

        _context::get_word_cell(ctx, i)->header |= _context::WORD_CHANGED;
        if (object->w3 == 0) {
            *_context::value_slot(ctx, i) = *value;
            continue;
        }
        if (handler_symbol_q(int32_t(word.w2))) continue;  // handlers are never replaced by set
        *old_value = *_context::value_slot(ctx, i);
        *_context::value_slot(ctx, i) = *value;
        fire_on_change(object, &word, old_value, value);
    }
    stack::top = object;
}

}  // namespace zuv::object
