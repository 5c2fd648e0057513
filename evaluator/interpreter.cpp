// Expression evaluation: blocks, one expression by the datatype of its first
// value, infix operators, and paths.
#include "evaluator/interpreter.hpp"

#include <cstdlib>

#include "evaluator/actions.hpp"
#include "evaluator/compiled.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/process.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/root.hpp"
#include "runtime/words.hpp"

namespace zuv::interpreter {

Cell* current_position = nullptr;
Cell* trace_callback = nullptr;

namespace detail {
Locals locals;
}

namespace detail {

SeriesBuffer* held = nullptr;

void held_overflow() { fire(ErrorCategory::internal, "stack-overflow"); }
void stack_overflow() { fire(ErrorCategory::internal, "stack-overflow"); }

}  // namespace detail

using namespace detail;

namespace {

// Every nested evaluation holds at most two values (its block, or a path and
// the block of a paren in it) per call frame it pushes.
constexpr int32_t HELD_CELLS = 2 * stack::MAX_FRAMES + 64;

// The value becomes the result: pushed in push mode, else the result slot.
inline void place(const Cell* value, bool sub) {
    if (sub) stack::push(value);
    else stack::set_last(value);
}

inline bool callable_q(uint32_t type) {
    return type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_FUNCTION || type == TYPE_ROUTINE;
}

// The value of a word that lies in the code: its slot read at once.
inline Cell word_value(const Cell* word) {
    if (word->w1 != 0)
        if (const Cell* slot = _context::value_slot(word->w1, int32_t(word->w3))) [[likely]]
            return *slot;
    return *word::value_cell(word);  // self, an unbound word, or an error
}

// A paren as a block of its own, evaluated under its eval frame; its value
// pushed (sub) or copied into the caller's result slot.
inline void eval_paren(const Cell* paren, bool sub) { eval_block(paren, !sub); }

// The word's symbol is system or system-global (the low-level dialect).
bool system_issue_q(const Cell* issue) {
    int32_t s = symbol::resolve(int32_t(issue->w2));
    return s == symbol::resolve(sym::system) || s == symbol::resolve(sym::system_global);
}

// A set-word: its value is the next expression (infix allowed), evaluated
// under a native frame named by the set-word whose first cell is the word.
int32_t eval_set_word(const Cell* set_word, const Cell* code, int32_t next, int32_t end, bool sub) {
    stack::mark_eval_native(set_word);
    Cell* word = stack::push(set_word);
    if (tracing_q) [[unlikely]]
        fire_event(EV_PUSH, code, next - 1, nullptr, set_word);
    if (next >= limit_of(code->w2, end)) return raise(ErrorCategory::script, "need-value", set_word), next;
    next = eval_expression(code, next, end, false, true, false);
    if (stack::pending()) return next;
    Cell* value = word + 1;
    if (tracing_q) [[unlikely]]
        fire_event(EV_SET, code, next, set_word, value);
    if (type_of(value) == TYPE_UNSET) return raise(ErrorCategory::script, "need-value", set_word), next;
    word::set(word, value);
    stack::set_last(word + 1);  // the data stack never moves: the cells are still there
    if (sub) stack::unwind_last();
    else stack::unwind_last_return();
    return next;
}

// A set-path: the value is the next expression, stored by the path
// evaluated in set mode, under a native frame named set-path.
int32_t eval_set_path(const Cell* set_path, const Cell* code, int32_t next, int32_t end, bool sub) {
    if (tracing_q) [[unlikely]]
        fire_event(EV_PUSH, code, next - 1, nullptr, set_path);
    if (next >= limit_of(code->w2, end)) return raise(ErrorCategory::script, "need-value", set_path), next;
    stack::mark_eval_native(&words::set_path);
    next = eval_expression(code, next, end, false, true, false);
    if (stack::pending()) return next;
    if (tracing_q) [[unlikely]]
        fire_event(EV_SET, code, next, set_path, stack::top - 1);
    eval_path(set_path, next, end, code, true, false, true);
    if (stack::pending()) return next;
    if (sub) stack::unwind_last();
    else stack::unwind_last_return();
    return next;
}

// A function reached through a path is called: the path's elements after
// it are its refinements, a function found in an object runs with that
// object as its object argument, and the frame is named by the element (as
// the selection bound it).
int32_t call_from_path(const Cell& fn, const Cell& owner, const Cell& path, int32_t index, const Cell& element,
                       int32_t position, int32_t end, const Cell* code, bool sub, Cell* base) {
    // Copies first: the arguments may lie in the walk's stack cells, which
    // the call reuses.
    Cell callable = fn;
    Cell object = owner;
    Cell word = element;
    Cell rest = path;  // the path seen from the function: its refinements follow
    rest.w1 = uint32_t(index);
    stack::top = base;
    Hold hold_object(object);  // its context stays alive while the method runs
    const Cell* name = type_of(&word) == TYPE_WORD ? &word : nullptr;
    position = eval_code(&callable, position, end, code, sub, &rest, name,
                         type_of(&object) == TYPE_OBJECT ? &object : nullptr, APPLY_NONE, false);
    if (tracing_q && !stack::pending()) [[unlikely]]
        fire_event(EV_EXIT, &path, tail_of(path.w2), nullptr, sub ? stack::top - 1 : stack::arguments);
    return position;
}

}  // namespace

void init() {
    Node root = runtime::root.w2;
    trace_callback = unset::make_at(cell::alloc_tail_cell(root));
    current_position = unset::make_at(cell::alloc_tail_cell(root));
    const Cell* held_block = block::make_fixed_in(&runtime::root, HELD_CELLS);
    held = memory::buffer_of(held_block->w2);
    compiled::init();
}

namespace {

// eval_block's steps, in a frame of its own (pushed here, its result copied
// into the caller's slot with chain, else pushed) or in the current one
// (own_frame false: the result in its first cell, the stack top after it).
[[gnu::always_inline]] inline void eval_block_steps(const Cell* block, bool own_frame, bool chain) {
    if (runtime::interrupt_pending) [[unlikely]] {
        runtime::poll_interrupt();  // also for loops over empty blocks
        if (stack::pending()) return;
    }
    Cell code = *block;
    Hold hold(code);
    Node node = code.w2;
    int32_t head = std::max(int32_t(code.w1), 0);
    int32_t end = tail_of(node);
    SavedPosition saved_position;
    if (own_frame) stack::mark_eval(&words::tag_body);
    else stack::reset();
    if (tracing_q) [[unlikely]]
        fire_event(EV_ENTER, &code, head, nullptr, nullptr);

    if (head >= end) {
        unset::make_at(stack::arguments);
    } else {
        *current_position = code;
        if (compiled::run_q() && compiled::run_block(&code, head, end)) {
            if (stack::pending()) return;
        } else {
            int32_t position = head;
            for (;;) {
                current_position->w1 = uint32_t(position);
                position = eval_expression(&code, position, end, false, false, false);
                if (stack::pending()) return;
                if (position >= limit_of(node, end)) break;
                stack::reset();  // only the last expression's value survives
            }
        }
    }
    if (tracing_q) [[unlikely]]
        fire_event(EV_EXIT, &code, limit_of(node, end), nullptr, stack::arguments);
    if (!own_frame) stack::keep();
    else if (chain) stack::unwind_last_return();
    else stack::unwind_last();
}

}  // namespace

void eval_block(const Cell* block, bool chain) { eval_block_steps(block, true, chain); }

void eval_block_here(const Cell* block) { eval_block_steps(block, false, false); }

namespace {

// The infix operators after a value: eval_expression's own loop, which
// eval_infix gives to compiled code.
[[gnu::always_inline]] inline int32_t infix_loop(const Cell* code, int32_t next, int32_t end, bool sub,
                                                 Cell* first_cell) {
    // Infix operators: a word bound to a context with values, whose value is an op!.
    for (Cell w; next < end && read_cell(code->w2, next, &w) && type_of(&w) == TYPE_WORD && w.w1 != 0;) {
        const Cell* slot = _context::value_slot(w.w1, int32_t(w.w3));
        if (!slot || type_of(slot) != TYPE_OP) break;
        // The slot may move while the fetch event's callback runs.
        Cell function = op::unwrap(slot);
        if (tracing_q) [[unlikely]]
            fire_event(EV_FETCH, code, next, nullptr, &w);
        stack::top = first_cell;  // the value just made is the operator's first argument
        next = eval_code(&function, next + 1, end, code, sub, nullptr, &w, nullptr, APPLY_NONE, true);
        if (stack::pending()) return next;
    }
    if (!sub && tracing_q) [[unlikely]]
        fire_event(EV_EXPR, code, next, nullptr, stack::arguments);
    return next;
}

}  // namespace

int32_t eval_expression(const Cell* code, int32_t position, int32_t end, bool prefix, bool sub, bool passive) {
    check_depth();
    if (runtime::interrupt_pending) [[unlikely]] {
        runtime::poll_interrupt();  // Ctrl+C at the prompt halts the command here
        if (stack::pending()) return position;
    }
    Cell* first_cell = stack::top;  // where the value lands; an operator's first argument
    Cell value;
    if (!read_cell(code->w2, position, &value) || position >= end) {
        // The code ended under the caller (a shrinking block): nothing to evaluate.
        Cell nothing;
        place(unset::make_at(&nothing), sub);
        return position;
    }
    int32_t next = position + 1;
    if (tracing_q) [[unlikely]]
        fire_event(EV_FETCH, code, position, nullptr, &value);

    switch (type_of(&value)) {
        case TYPE_PAREN:
            eval_paren(&value, sub);
            if (stack::pending()) return next;
            break;
        case TYPE_WORD: {
            Cell v = word_value(&value);
            switch (type_of(&v)) {
                case TYPE_UNSET: return raise(ErrorCategory::script, "no-value", &value), next;
                case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE:
                    next = eval_code(&v, next, end, code, sub, nullptr, &value, nullptr, APPLY_NONE, false);
                    if (stack::pending()) return next;
                    break;
                case TYPE_OP: return raise(ErrorCategory::script, "no-op-arg", &value), next;
                default:
                    place(&v, sub);  // a lit-word! value too, unchanged
                    if (tracing_q) [[unlikely]]
                        fire_event(EV_PUSH, code, position, nullptr, &v);
                    break;
            }
            break;
        }
        case TYPE_SET_WORD:
            next = eval_set_word(&value, code, next, end, sub);
            if (stack::pending()) return next;
            break;
        case TYPE_LIT_WORD:
            cell::set_type(&value, TYPE_WORD);
            place(&value, sub);
            break;
        case TYPE_GET_WORD: {
            Cell v = word_value(&value);
            place(&v, sub);
            break;
        }
        case TYPE_ISSUE: {
            Cell after;
            if (system_issue_q(&value) && next < end && read_cell(code->w2, next, &after) &&
                type_of(&after) == TYPE_BLOCK)
                fire(ErrorCategory::internal, "zuv-system");
            place(&value, sub);
            break;
        }
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE:
            if (passive) {
                place(&value, sub);
            } else {
                next = eval_code(&value, next, end, code, sub, nullptr, nullptr, nullptr, APPLY_NONE, false);
                if (stack::pending()) return next;
            }
            break;
        case TYPE_OP: fire(ErrorCategory::internal, "not-done");
        case TYPE_PATH:
            next = eval_path(&value, next, end, code, false, false, sub);
            if (stack::pending()) return next;
            break;
        case TYPE_LIT_PATH:
            cell::set_type(&value, TYPE_PATH);
            value.w3 = 0;
            place(&value, sub);
            break;
        case TYPE_SET_PATH:
            next = eval_set_path(&value, code, next, end, sub);
            if (stack::pending()) return next;
            break;
        case TYPE_GET_PATH:
            next = eval_path(&value, next, end, code, false, true, sub);
            if (stack::pending()) return next;
            break;
        default:
            place(&value, sub);
            if (tracing_q) [[unlikely]]
                fire_event(EV_PUSH, code, position, nullptr, &value);
            break;
    }

    if (prefix) return next;
    return infix_loop(code, next, end, sub, first_cell);
}

int32_t eval_infix(const Cell* code, int32_t next, int32_t end, bool sub, Cell* first_cell) {
    return infix_loop(code, next, end, sub, first_cell);
}

int32_t eval_one(const Cell* block, int32_t position, int32_t end, bool sub) {
    Cell code = *block;
    Hold hold(code);
    stack::mark_eval_native(&words::tag_body);
    int32_t next;
    if (compiled::run_q() && compiled::run_one(&code, position, end, &next)) position = next;
    else position = eval_expression(&code, position, end, false, false, false);
    if (stack::pending()) return position;
    if (sub) stack::unwind_last();
    else stack::unwind_last_return();
    return position;
}

int32_t eval_next(const Cell* block) {
    Cell code = *block;
    int32_t head = std::max(int32_t(code.w1), 0);
    int32_t end = tail_of(code.w2);
    if (head >= end) {
        Cell nothing;
        stack::set_last(unset::make_at(&nothing));
        return int32_t(code.w1);
    }
    return eval_one(&code, head, end, false);
}

namespace {

// Values whose path fields live in the cell itself (a date's year, a pair's
// x): setting one changes a copy, which must be stored back.
bool field_value_q(uint32_t type) {
    switch (type) {
        case TYPE_TIME: case TYPE_DATE: case TYPE_PAIR: case TYPE_TUPLE: case TYPE_POINT2D: case TYPE_POINT3D:
        case TYPE_MONEY: case TYPE_EVENT: return true;
        default: return false;
    }
}

// A path's word element that the selection bound to an object's field is
// bound so in the path itself, so that the next walk finds the field without
// a lookup: only while the cell is still the word that was read. A path
// that compiled code was made from is left as it is: the binding is only a
// short cut, and rewriting the cell would throw that code away (compiled
// code finds the field by name and keeps its index itself).
void bind_element(Node path, int32_t i, const Cell& item, const Cell& bound) {
    if (type_of(&bound) != TYPE_WORD || bound.w2 != item.w2 || (bound.w1 == item.w1 && bound.w3 == item.w3)) return;
    SeriesBuffer* s = memory::buffer_of(path);
    if (s->flags & SERIES_CODE) return;
    if (i >= (memory::used_bytes(s) >> 4)) return;
    if (std::memcmp(memory::cells_head(s) + i, &item, sizeof(Cell)) != 0) return;
    Cell* cell = memory::cells_for_write(s) + i;
    cell->w1 = bound.w1;
    cell->w3 = bound.w3;
}

}  // namespace

int32_t eval_path(const Cell* path_value, int32_t position, int32_t end, const Cell* code, bool set, bool get,
                  bool sub) {
    Cell path = *path_value;
    Hold hold(path);
    Node node = path.w2;
    int32_t head = std::max(int32_t(path.w1), 0);

    Cell first;
    if (!read_cell(node, head, &first)) return raise(ErrorCategory::script, "empty-path", &path), position;
    if (tracing_q) [[unlikely]] {
        fire_event(EV_ENTER, &path, head, nullptr, nullptr);
        fire_event(EV_FETCH, &path, head, nullptr, &first);
    }
    if (type_of(&first) != TYPE_WORD) return raise(ErrorCategory::script, "word-first", &path), position;
    Cell value = word_value(&first);
    uint32_t type = type_of(&value);
    if (callable_q(type)) {
        if (set) return raise(ErrorCategory::script, "invalid-path-set", &path), position;
        if (get) return raise(ErrorCategory::script, "invalid-path-get", &path), position;
        position = eval_code(&value, position, end, code, sub, &path, &first, nullptr, APPLY_NONE, false);
        if (tracing_q && !stack::pending()) [[unlikely]]
            fire_event(EV_EXIT, &path, tail_of(node), nullptr, sub ? stack::top - 1 : stack::arguments);
        return position;
    }
    if (type == TYPE_UNSET) return raise(ErrorCategory::script, "unset-path", &path, &first), position;

    // The walk keeps its cells on the data stack, where the collector sees
    // them and where they do not move: the current value, its parent, the
    // element being applied and the one before it.
    Cell* base = stack::top;
    Cell none_value;
    none::make_at(&none_value);
    Cell* current = stack::push(&value);
    Cell* parent = stack::push(&none_value);
    Cell* element = stack::push(&none_value);
    Cell* previous = stack::push(&none_value);
    Cell* trail = stack::top;
    Cell item;
    for (int32_t i = head + 1; read_cell(node, i, &item); i++) {
        if (tracing_q) [[unlikely]]
            fire_event(EV_FETCH, &path, i, nullptr, &item);
        switch (type_of(&item)) {
            case TYPE_PAREN:
                eval_block(&item, false);
                if (stack::pending()) return position;
                *element = *(stack::top - 1);
                stack::pop(1);
                break;
            case TYPE_GET_WORD: *element = word_value(&item); break;
            default: *element = item; break;
        }
        if (tracing_q) [[unlikely]]
            fire_event(EV_PUSH, &path, i, nullptr, element);
        if (type_of(element) == TYPE_UNSET) return raise(ErrorCategory::script, "invalid-path", &path, &item), position;
        bool last = i + 1 >= tail_of(node);
        Cell* store = set && last ? stack::arguments : nullptr;
        bool has_parent = i > head + 1;
        if (store && field_value_q(type_of(current))) {
            // The field set changes the walk's copy of the value: the copy
            // goes back to its holder, and on up while the holder is such a
            // value too (d/time/hour:), until a series or object stores it
            // (its setter tells of the change) or the head word takes it.
            actions::call_eval_path(current, element, store, &path, nullptr, nullptr, i, false, get, last, false);
            if (stack::pending()) return position;
            Cell* changed = current;
            for (Cell* holder = stack::top - 2;; holder -= 2) {
                if (holder < trail) {
                    word::set(&first, changed);
                    break;
                }
                actions::call_eval_path(holder, holder + 1, changed, &path, nullptr, nullptr, -1, false, false, true,
                                        false);
                if (stack::pending()) return position;
                if (!field_value_q(type_of(holder))) break;
                changed = holder;
            }
            break;
        }
        if (set) {
            // The set walk keeps each holder and the element applied to it.
            stack::push(current);
            stack::push(element);
        }
        Cell* mark = stack::top;
        bool field = type_of(current) == TYPE_OBJECT && type_of(&item) == TYPE_WORD;
        const Cell* selected = actions::call_eval_path(current, element, store, &path, has_parent ? parent : nullptr,
                                                 has_parent ? previous : nullptr, i, false, get, last, has_parent);
        if (!selected) return position;  // an error raised as a status: the stacks are its try's
        Cell next_value = *selected;  // an address inside a series: copied at once
        stack::top = mark;            // drop what the selection pushed (a field's value)
        if (field) bind_element(node, i, item, *element);
        if (!set && !get && callable_q(type_of(&next_value)))
            return call_from_path(next_value, *current, path, i, *element, position, end, code, sub, base);
        *parent = *current;
        *previous = *element;
        *current = next_value;
    }
    Cell result = *current;
    stack::top = base;
    if (!set) place(&result, sub);
    if (tracing_q) [[unlikely]]
        fire_event(EV_PUSH, &path, -1, nullptr, &result);
    return position;
}

}  // namespace zuv::interpreter
