// object!: fields read and written from outside: paths, reflect, select,
// put, modify and compare.
//
// A path element that names a field is bound to the object in place on its
// first use (context node and index written into the element), so evaluating
// the same path again does no symbol search.
#include <algorithm>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
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

const Cell UNSET_VALUE{TYPE_UNSET, 0, 0, 0};
const Cell NONE_VALUE{TYPE_NONE, 0, 0, 0};

bool same_symbol_q(int32_t a, int32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

bool path_element_q(uint32_t type) {
    return type == TYPE_WORD || type == TYPE_SET_WORD || type == TYPE_LIT_WORD || type == TYPE_GET_WORD;
}

// result := a new block of copies of the cells [0, n) that keep(i) accepts,
// each passed through shape(i, cell) first.
template <class Keep, class Shape>
Cell* collect(Cell* result, int32_t n, Keep keep, Shape shape) {
    Cell* block = block::make_at(stack::push_raw(), std::max(n, 1));
    for (int32_t i = 0; i < n; i++) {
        if (!keep(i)) continue;
        Cell item = shape(i);
        block::append_cell(block, &item);
    }
    *result = *block;
    stack::top = block;
    return result;
}

Cell* reflect_body(Cell* result, Node ctx) {
    int32_t n = _context::word_count(ctx);
    Cell* block = block::make_at(stack::push_raw(), std::max(n, 1));
    for (int32_t i = 0; i < n; i++) {
        Cell word = *_context::get_word_cell(ctx, i);
        word.header = TYPE_SET_WORD | FLAG_NEW_LINE;
        block::append_cell(block, &word);
        const Cell* slot = _context::value_slot(ctx, i);
        Cell value = slot ? *slot : UNSET_VALUE;
        if (type_of(&value) == TYPE_WORD) cell::set_type(&value, TYPE_LIT_WORD);
        else if (type_of(&value) == TYPE_PATH) cell::set_type(&value, TYPE_LIT_PATH);
        block::append_cell(block, &value);
    }
    *result = *block;
    stack::top = block;
    return result;
}

void clear_changed(Node ctx) {
    for (int32_t i = 0, n = _context::word_count(ctx); i < n; i++)
        _context::get_word_cell(ctx, i)->header &= ~_context::WORD_CHANGED;
}

bool number_q(uint32_t type) { return type == TYPE_INTEGER || type == TYPE_FLOAT || type == TYPE_PERCENT; }

}  // namespace

// ---- reflect ----

Cell* reflect(Cell* value, int32_t field) {
    Node ctx = value->w1;
    int32_t n = _context::word_count(ctx);
    auto word_at = [ctx](int32_t i) { return *_context::get_word_cell(ctx, i); };
    if (same_symbol_q(field, int32_t(words::changed.w2))) {
        return collect(value, n,
                       [ctx](int32_t i) { return (_context::get_word_cell(ctx, i)->header & _context::WORD_CHANGED) != 0; },
                       word_at);
    }
    if (same_symbol_q(field, sym::class_)) return integer::make_at(value, int32_t(value->w2));
    if (same_symbol_q(field, sym::words)) {
        return collect(value, n, [](int32_t) { return true; }, [&](int32_t i) {
            Cell w = word_at(i);
            w.header &= ~_context::WORD_CHANGED;
            return w;
        });
    }
    if (same_symbol_q(field, sym::values)) {
        return collect(value, n, [](int32_t) { return true; }, [ctx](int32_t i) {
            const Cell* slot = _context::value_slot(ctx, i);
            return slot ? *slot : UNSET_VALUE;
        });
    }
    if (same_symbol_q(field, sym::body)) return reflect_body(value, ctx);
    if (same_symbol_q(field, sym::owner))
        return logic::make_at(value, (_context::cell_of(ctx)->header & CONTEXT_OWNER) != 0);
    if (same_symbol_q(field, sym::events_q)) return logic::make_at(value, value->w3 != 0);
    fire(ErrorCategory::internal, "not-done");
}

// ---- paths ----

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool get_q,
                bool tail_q, bool) {
    if (!path_element_q(type_of(element))) return raised(ErrorCategory::script, "invalid-path", path, element);
    Cell object = *parent;
    Node ctx = object.w1;
    int32_t index = int32_t(element->w3);
    if (element->w1 != ctx || index == -1) {
        index = _context::find_word(ctx, int32_t(element->w2), true);
        if (index >= 0) {
            element->w1 = ctx;
            element->w3 = uint32_t(index);
        }
    }
    if (index >= 0) {
        if (value) {
            // The change handler runs from set_in, with the old value kept on the stack.
            _context::set_in(element, value, ctx, true);
            return value;
        }
        Cell* slot = _context::value_slot(ctx, index);
        if (slot && type_of(slot) != TYPE_UNSET) return slot;
    }
    if (get_q && tail_q) return &UNSET_VALUE;
    Cell p = path ? *path : NONE_VALUE;
    Cell e = *element;
    return raised(ErrorCategory::script, tail_q ? "invalid-path" : "unset-path", &p, &e);
}

// ---- compare ----

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_OBJECT) return COMPARE_INCOMPARABLE;
    Node c1 = value1->w1, c2 = value2->w1;
    if (c1 == c2) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::visited_q(c1)) return cycles::visited_q(c2) ? 0 : -1;
    int32_t n1 = _context::word_count(c1), n2 = _context::word_count(c2);
    if (n1 != n2) return n1 > n2 ? 1 : -1;
    if (n1 == 0) return 0;

    int32_t depth = cycles::depth();
    cycles::push(c1);
    cycles::push(c2);
    Cell* a = stack::push_raw();
    Cell* b = stack::push_raw();
    int32_t result = 0;
    for (int32_t i = 0; i < n1 && result == 0; i++) {
        int32_t s1 = symbol::resolve(int32_t(_context::get_word_cell(c1, i)->w2));
        int32_t s2 = symbol::resolve(int32_t(_context::get_word_cell(c2, i)->w2));
        if (s1 != s2) {
            result = s1 < s2 ? -1 : 1;
            break;
        }
        const Cell* v1 = _context::value_slot(c1, i);
        const Cell* v2 = _context::value_slot(c2, i);
        *a = v1 ? *v1 : UNSET_VALUE;
        *b = v2 ? *v2 : UNSET_VALUE;
        uint32_t t1 = type_of(a), t2 = type_of(b);
        if (t1 == t2 || (word::any_word_q(t1) && word::any_word_q(t2) && t1 != TYPE_ISSUE && t2 != TYPE_ISSUE) ||
            (number_q(t1) && number_q(t2))) {
            result = actions::compare_values(a, b, op);
        } else {
            result = t1 < t2 ? -1 : 1;
        }
    }
    stack::top = a;
    cycles::drop(cycles::depth() - depth);
    return result;
}

// ---- select, put, modify ----

Cell* select(Cell* object, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) {
    if (!path_element_q(type_of(value))) fire_with_datatype("invalid-type", type_of(value));
    return copy_cell(get_field(object, value), object);
}

Cell* put(Cell* object, Cell* key, Cell* value, bool case_q) {
    if (type_of(key) != TYPE_WORD) fire_with_datatype("invalid-key-type", type_of(key));
    Cell* k = stack::push(key);
    Cell* v = stack::push(value);
    Cell none = NONE_VALUE;
    if (!eval_path(object, k, v, &none, nullptr, nullptr, -1, case_q, false, true, false)) return nullptr;
    copy_cell(v, object);
    stack::top = k;
    return object;
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    Node ctx = target->w1;
    if (word::any_word_q(type_of(field))) {
        int32_t s = int32_t(field->w2);
        if (same_symbol_q(s, int32_t(words::changed.w2))) {
            if (type_of(value) != TYPE_NONE) fire(ErrorCategory::script, "invalid-arg", value);
            clear_changed(ctx);
        } else if (same_symbol_q(s, sym::owner)) {
            ownership::set_owner_marked(target, target, nullptr);  // owns its own values
        } else if (same_symbol_q(s, sym::owned)) {
            ownership::modify_owned(target, value);
        }
    }
    return copy_cell(value, target);
}

}  // namespace zuv::object
