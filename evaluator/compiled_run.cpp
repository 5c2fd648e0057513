// The loop that runs a compiled block.
#include <array>
#include <cstring>

#include "evaluator/append_short_cut.hpp"
#include "evaluator/compiled.hpp"
#include "evaluator/compiled_internal.hpp"
#include "evaluator/fast_body.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/words.hpp"
#include "runtime/process.hpp"

namespace zuv::interpreter::compiled {

using namespace detail;
using namespace interpreter::detail;
using rt_support::typeset_has_q;

namespace {

// The refinement words of a native called with none named.
const std::array<int32_t, natives::MAX_REFINEMENTS> no_refinements = [] {
    std::array<int32_t, natives::MAX_REFINEMENTS> words{};
    words.fill(-1);
    return words;
}();

// The value an operand gives, as the walker would place it; false when the
// walker must evaluate it (a word naming a function, an operator or nothing).
[[gnu::always_inline]] inline bool operand(const Cell& c, Cell* out) {
    const Cell* slot;
    if (type_of(&c) == TYPE_WORD) {
        slot = _context::value_slot(c.w1, int32_t(c.w3));
    } else if (type_of(&c) == TYPE_PATH) {
        slot = object_field(c);  // what the walk of the path finds, when it finds a field
    } else {
        *out = c;
        return true;
    }
    if (!slot || !placed_q(type_of(slot))) return false;
    *out = *slot;
    return true;
}

// The operand at position p of a unit's cells (copy and slots by absolute
// position), as operand() gives it; a word's slot is kept in slots.
// Trusted: the read was made so since nothing but code that stores only
// values placed as they are ran, and allocated nothing: the slot kept is
// the word's and holds such a value.
template <bool Trusted>
[[gnu::always_inline]] inline bool operand_at(const Cell* copy, Cell** slots, int32_t p, Cell* out) {
    const Cell& c = copy[p];
    if (type_of(&c) != TYPE_WORD) return operand(c, out);
    if constexpr (Trusted) {
        *out = *slots[p];
        return true;
    }
    Cell* slot = _context::value_slot(c.w1, int32_t(c.w3));
    if (!slot || !placed_q(type_of(slot))) return false;
    slots[p] = slot;
    *out = *slot;
    return true;
}

// The slot a set-word stores into without a change handler, or null.
inline Cell* plain_store(const Cell& set_word) {
    Cell* slot = _context::value_slot(set_word.w1, int32_t(set_word.w3));
    if (!slot) return nullptr;
    const Cell* context = _context::cell_of(set_word.w1);
    if (_context::kind_of(context) == _context::KIND_OBJECT) {
        const Cell* owner = context + 1;
        if (_context::on_change && type_of(owner) == TYPE_OBJECT && owner->w3 != 0) return nullptr;
    }
    return slot;
}

// A store into the slot over a callable, an operator or unset, or of one:
// decoded bodies may rely on what the word gave (a callee, no operator), so
// the epoch moves on and they look again.
[[gnu::always_inline]] inline void mind_store(const Cell* slot, const Cell& v) {
    if (!placed_q(type_of(slot)) || !placed_q(type_of(&v))) fast::bump();
}

// store_plain of a plain value over a plain value; false, nothing done,
// for any other store, which the walker's store then makes (with the
// epoch moved on: decoded bodies may rely on what the word gave).
[[gnu::always_inline]] inline bool store_minded(const Cell& set_word, const Cell& v) {
    return placed_q(type_of(&v)) && store_plain(set_word, v, true);
}

// Stores v through a set-word plain_store found a slot for, as set_in does
// without a change handler: an object's word is marked as changed.
inline void store(const Cell& set_word, const Cell& v) {
    Cell* slot = plain_store(set_word);
    mind_store(slot, v);
    *slot = v;
    if (_context::kind_of(_context::cell_of(set_word.w1)) == _context::KIND_OBJECT)
        _context::get_word_cell(set_word.w1, int32_t(set_word.w3))->header |= _context::WORD_CHANGED;
}

// The value and operators of a simple expression computed, its set-words
// or set-path stored, the value placed in the result slot: the whole of it
// when no operator's word follows it (more is false). Its cells are the
// compiled ones (copy and resolved by absolute position). Answers the
// position after it, or -1 with nothing done when the walker must
// evaluate it.
//
// Trusted: the expression ran so since nothing but such code did, which
// changes no block and stores only values placed as they are over values
// placed as they are: its operators are still the ones compiled.
template <bool Trusted = false>
[[gnu::always_inline]] inline int32_t run_simple(const Expr& e, int32_t position, const Cell* copy, const Cell* resolved,
                          Cell** slots, const Operator* o, bool more) {
    int32_t p = position + e.sets;
    Cell v;
    if (!operand_at<Trusted>(copy, slots, p, &v)) return -1;
    for (int32_t k = 0; k < e.operators; k++, p += 2) {
        Cell right;
        if constexpr (!Trusted) {
            const Cell& word = copy[p + 1];
            const Cell* slot = _context::value_slot(word.w1, int32_t(word.w3));
            if (!slot || std::memcmp(slot, &o[k].op, sizeof(Cell)) != 0) return -1;
        }
        if (!operand_at<Trusted>(copy, slots, p + 2, &right) || !fast_op(FastOp(o[k].fast), &v, &right)) return -1;
    }
    if (e.set_path) {
        // The field stored as the walk of the set-path stores it, when no
        // change handler of the object can run.
        if (more) return -1;
        Cell path = copy[position];
        cell::set_type(&path, TYPE_PATH);
        Cell field;
        Cell* slot = object_field(path, nullptr, &field);
        if (!slot) return -1;
        // As set_in stores it: through the change handler of the object
        // the context stands for, when it has one.
        const Cell* owner = _context::own_value(field.w1);
        if (_context::on_change && type_of(owner) == TYPE_OBJECT && owner->w3 != 0) return -1;
        if (!placed_q(type_of(slot))) return -1;  // a callable or an operator is the walker's to replace
        *slot = v;
        _context::get_word_cell(field.w1, int32_t(field.w3))->header |= _context::WORD_CHANGED;
        stack::set_last(&v);
        return e.next;
    }
    if (e.sets == 1) {
        if (more) return -1;
        if (Cell* slot = slots[position]; Trusted && slot) *slot = v;
        else if (!store_plain(resolved[position], v, true, &slots[position])) return -1;
    } else if (e.sets) {
        if (more) return -1;
        for (int32_t i = 0; i < e.sets; i++) {
            const Cell* slot = plain_store(resolved[position + i]);
            if (!slot || !placed_q(type_of(slot))) return -1;
        }
        for (int32_t i = e.sets - 1; i >= 0; i--) store(resolved[position + i], v);
    }
    stack::set_last(&v);
    return e.next;
}

// An operator's word stands at position in the block (node) before end.
[[gnu::always_inline]] inline bool operator_in(Node node, int32_t end, int32_t position) {
    SeriesBuffer* s = memory::buffer_of(node);
    if (position >= std::min(end, memory::used_bytes(s) >> 4)) return false;
    const Cell& c = memory::cells_head(s)[position];
    if (type_of(&c) != TYPE_WORD || c.w1 == 0) return false;
    const Cell* slot = _context::value_slot(c.w1, int32_t(c.w3));
    return slot && type_of(slot) == TYPE_OP;
}

// Values computed where nothing can fail or run code, so that no frame of
// them could ever be seen: a plain operand or a two-argument arithmetic call
// on plain numbers, then operators computed in place, their right operands
// such values too. The cells read are the compiled ones (the caller
// compared them); the block (node, end) is read only past them, for an
// operator that may follow.
class Pure {
public:
    Pure(Unit& unit, Node node, int32_t end)
        : u_(unit), copy_(unit.cells.data() - unit.head), slots_(unit.slots.data() - unit.head),
          exprs_(unit.exprs.data()), operators_(unit.operators.data()), node_(node), end_(end) {}

    // The value of x at p into out, next: the position after it. False,
    // nothing done, when it must be evaluated. Trusted: x was computed so
    // since nothing but code that changes no block and no callable ran
    // (run_simple), so that its operators and callees are the compiled
    // ones and no operator follows.
    template <bool Trusted = false>
    bool value(const Expr& x, int32_t p, Cell* out, int32_t* next) {
        const Cell* copy = copy_;
        int32_t at = p + 1;
        if (x.kind <= K_WORD ? !operand_at<Trusted>(copy, slots_, p, out) : !call<Trusted>(x, p, out, &at))
            return false;
        const Operator* o = operators_ + x.first_operator;
        for (int32_t k = 0; k < x.operators; k++) {
            if constexpr (!Trusted) {
                const Cell& word = copy[at];
                const Cell* slot = _context::value_slot(word.w1, int32_t(word.w3));
                if (!slot || std::memcmp(slot, &o[k].op, sizeof(Cell)) != 0 || o[k].fast == FAST_NONE) return false;
            }
            Cell right;
            if (o[k].plain) {
                if (!operand_at<Trusted>(copy, slots_, at + 1, &right)) return false;
                at += 2;
            } else if (o[k].right < 0) {
                return false;
            } else {
                // A right operand is a prefix expression: no operators of its own.
                const Expr& y = exprs_[o[k].right];
                if (y.start != at + 1 || y.sets || y.next < 0) return false;
                if (y.kind <= K_WORD) {
                    if (!operand_at<Trusted>(copy, slots_, at + 1, &right)) return false;
                    at += 2;
                } else if (!call<Trusted>(y, at + 1, &right, &at)) {
                    return false;
                }
            }
            if (!fast_op(FastOp(o[k].fast), out, &right)) return false;
        }
        if constexpr (!Trusted) {
            if (at != x.next || (!x.prefix && operator_in(node_, end_, at))) return false;
        }
        *next = at;
        return true;
    }

    // A call at p of a native or action computed in place on two plain
    // numbers, into out; at: the position after its last argument.
    template <bool Trusted = false>
    [[gnu::always_inline]] bool call(const Expr& x, int32_t p, Cell* out, int32_t* at) {
        if (x.kind != K_CALL || x.fast == FAST_NONE || !x.plain_arguments) return false;
        if constexpr (!Trusted) {
            const Cell& word = copy_[p];
            const Cell* slot = _context::value_slot(word.w1, int32_t(word.w3));
            if (!slot || std::memcmp(slot, &x.callee, sizeof(Cell)) != 0 || u_.cycles != collector::series_cycles)
                return false;
        }
        const Argument* a = u_.arguments.data() + x.first_argument;
        Cell right;
        int32_t q = p + 1;
        for (int32_t k = 0; k < 2; k++) {
            Cell* v = k == 0 ? out : &right;
            if (a[k].operand) {
                if (!operand_at<Trusted>(copy_, slots_, q++, v)) return false;
            } else {
                const Expr& y = exprs_[a[k].expr];
                if (q != y.start || y.sets || y.next < 0 || !value<Trusted>(y, q, v, &q)) return false;
            }
        }
        if constexpr (!Trusted) {
            if (a[1].operand && operator_in(node_, end_, q)) return false;
        }
        if (!fast_op(FastOp(x.fast), out, &right)) return false;
        *at = q;
        return true;
    }

private:
    Unit& u_;
    const Cell* copy_;
    Cell** slots_;
    const Expr* exprs_;
    const Operator* operators_;
    Node node_;
    int32_t end_;
};

// The word of a call e (a compiled cell) still names its callee. Found so at
// one epoch, a word of a context not on the stack is not looked at again
// within it: a store over a callable moves the epoch on. A word of a
// function's context names the cells of whichever call runs, so it is
// looked at every time.
[[gnu::always_inline]] inline bool callee_found(const Unit& u, const Expr& e, const Cell& word) {
    if (e.callee_at == fast::epoch && u.cycles == collector::series_cycles) return true;
    const Cell* slot = _context::value_slot(word.w1, int32_t(word.w3));
    if (!slot || std::memcmp(slot, &e.callee, sizeof(Cell)) != 0 || u.cycles != collector::series_cycles)
        return false;
    if (!_context::on_stack_q(_context::cell_of(word.w1))) e.callee_at = fast::epoch;
    return true;
}

// The function a method call e (its compiled path) names is still its
// callee, as the walk of the path finds it: the object into object, the
// field's word (bound to the object) in e.method_field. Found so at one
// epoch, the path and the field stay as found within it; only the object's
// word needs a look, as it may have been given another object.
[[gnu::always_inline]] inline bool method_found(const Unit& u, const Expr& e, const Cell& path, Cell* object) {
    const Cell* owner;
    if (e.method_at == fast::epoch && u.cycles == collector::series_cycles &&
        (owner = e.method_slot ? e.method_slot : _context::value_slot(e.method_head.w1, int32_t(e.method_head.w3))) &&
        type_of(owner) == TYPE_OBJECT && owner->w1 == e.method_field.w1) {
        *object = *owner;
        return true;
    }
    Cell head;
    const Cell* slot = object_field(path, object, &e.method_field, &head);
    if (!slot || std::memcmp(slot, &e.callee, sizeof(Cell)) != 0 || u.cycles != collector::series_cycles) {
        e.method_at = 0;
        return false;
    }
    e.method_head = head;
    e.method_slot = _context::on_stack_q(_context::cell_of(head.w1))
                        ? nullptr
                        : _context::value_slot(head.w1, int32_t(head.w3));
    e.method_at = fast::epoch;
    return true;
}

// A function whose body block runs untraced (e.direct), its arguments
// computed: what run_function does, the body entered as decoded code
// enters it, through the call's link to the body's unit. No collection ran
// since the unit was made: the body block is the one compiled.
[[gnu::always_inline]] inline void enter(const Unit& u, const Expr& e, const Cell& name, const Cell* values,
                                         bool sub) {
    // The room checked before the expression covers its frames and cells.
    Cell* kept = stack::top;  // the copy of the callable, below the frame while the call runs
    copy_cell(&e.callee, kept);
    stack::top = kept + 1;
    stack::push_known_frame_in_room(stack::frame_header(&name, stack::FRAME_FUNC | stack::FRAME_INTERPRETED),
                                    name.w1);  // mark_eval_func's frame
    const Argument* a = u.arguments.data() + e.first_argument;
    for (int32_t k = 0; k < e.arguments; k++) {
        copy_cell(&values[k], stack::top++);
        if (!a[k].admits(type_of(&values[k])))
            check_builtin_argument(e.callee, name, e.cache, a[k].entry);
    }
    if (e.more) push_function_rest(e.cache, e.rest);
    fast::call_body(kept, &e.body, &e.link);
    if (stack::pending()) return;
    end_call(kept, sub);
}

// Nothing stands in the way of a compiled expression: no trace, no
// interrupt to poll, room below every limit (else the walker meets the
// limit where it would). Checked before each expression of the block: the
// calls nested in one expression stay within the room it leaves.
inline bool ready() { return !tracing_q && !runtime::interrupt_pending && room_for_short_cut(); }

// Runs compiled expressions of one unit.
class Runner {
public:
    Runner(Unit& unit, const Cell* code, int32_t end)
        : u_(unit), code_(code), node_(code->w2), end_(end), exprs_(unit.exprs.data()),
          operators_(unit.operators.data()), copy_(unit.cells.data() - unit.head),
          resolved_(unit.resolved.data() - unit.head) {}

    // The expression at position (its compiled form exprs[index]) as
    // eval_expression(code, position, end, e.prefix, sub, false) evaluates it.
    int32_t eval(int32_t index, int32_t position, bool sub) {
        const Expr& e = exprs_[index];
        if (position != e.start || !same(position, e.next >= 0 ? e.next : e.start + e.sets + 1)) [[unlikely]] {
            forget();
            return walk(position, end_, e.prefix, sub, false);
        }
        if (e.sets == 0) return value(e, position, sub);
        return set_words(e, 0, position, sub);
    }

    const Expr& expr(int32_t index) const { return exprs_[index]; }

    // A simple expression at the top of the block into the result slot:
    // its value and operators computed at once, its set-words stored
    // directly where no change handler can run. Answers the position after
    // it, or -1 when the walker must evaluate it, nothing of it done.
    int32_t simple(const Expr& e, int32_t position) {
        if (!same(position, e.next)) return -1;
        bool more = operator_at(e.next);  // an operator after it makes it longer
        Cell** slots = u_.slots.data() - u_.head;
        if (!more || e.sets) return run_simple(e, position, copy_, resolved_, slots, operators_ + e.first_operator, more);
        if (run_simple(e, position, copy_, resolved_, slots, operators_ + e.first_operator, false) < 0) return -1;
        forget();
        return eval_infix(code_, e.next, end_, false, stack::top);
    }

    // The walker evaluates the expression at position.
    int32_t walk(int32_t position, int32_t end, bool prefix, bool sub, bool passive) {
        forget();
        return eval_expression(code_, position, end, prefix, sub, passive);
    }

private:
    Unit& u_;
    const Cell* code_;
    Node node_;
    int32_t end_;

    // The unit's tables (which never change while it runs); the copies of
    // cells by absolute position.
    const Expr* exprs_;
    const Operator* operators_;
    const Cell* copy_;
    const Cell* resolved_;
    int32_t valid_from_ = 0;  // cells found the compiled ones, and unchanged since
    int32_t valid_to_ = 0;
    uint64_t valid_at_ = 0;   // the epoch when they were found so

    const Cell* copy() const { return copy_; }

    // The cells [from, to) are the ones compiled, all before the end. A
    // range found so stays so while the epoch stays: only decoded code,
    // which changes no series, ran since (forget() before every other call).
    bool same(int32_t from, int32_t to) {
        if (valid_at_ == fast::epoch && from >= valid_from_ && to <= valid_to_) return true;
        SeriesBuffer* s = memory::buffer_of(node_);
        if (to > std::min(end_, memory::used_bytes(s) >> 4)) return false;
        if (std::memcmp(memory::cells_head(s) + from, copy_ + from, size_t(to - from) * sizeof(Cell)) == 0) {
            valid_from_ = from;
            valid_to_ = to;
            valid_at_ = fast::epoch;
            return true;
        }
        u_.misses++;
        return false;
    }

    // The first value and the operators of e (its set-words done), placed
    // as eval_expression places them; its operand cell is checked already.
    int32_t value(const Expr& e, int32_t position, bool sub) {
        Cell* first_cell = stack::top;
        int32_t p = e.start + e.sets;
        int32_t next;
        Cell v;
        if (e.sets == 0 && e.kind == K_CALL && e.fast != FAST_NONE && pure(e, p, &v, &next)) {
            if (sub) stack::push(&v);
            else stack::set_last(&v);
            return next;
        }
        if (e.kind == K_CALL || e.kind == K_FUNCTION || e.kind == K_METHOD) {
            next = call(e, p, sub);
            if (stack::pending()) return next;
        } else if (e.kind == K_PAREN) {
            // A paren as a block of its own, as eval_paren evaluates it.
            Cell paren = copy()[p];
            stack::mark_eval_native(&words::tag_body);
            forget();
            eval_block(&paren, true);
            next = p + 1;
            if (stack::pending()) return next;
            if (sub) stack::unwind_last();
            else stack::unwind_last_return();
        } else {
            if (!operand(copy()[p], &v)) return walk(position, end_, e.prefix, sub, false);
            if (sub) stack::push(&v);
            else stack::set_last(&v);
            next = p + 1;
        }
        // Operators while their cells are the compiled ones, from where they
        // were compiled (a walked argument may have ended elsewhere).
        int32_t expected = e.operators_at;
        for (int32_t k = 0; k < e.operators && next == expected && same(next, next + 1); k++) {
            const Operator& o = operators_[e.first_operator + k];
            const Cell& word = copy()[next];
            const Cell* slot = _context::value_slot(word.w1, int32_t(word.w3));
            if (!slot || std::memcmp(slot, &o.op, sizeof(Cell)) != 0) break;
            if (o.plain) {
                Cell right;
                Cell* left = sub ? first_cell : stack::arguments;
                if (!same(next + 1, next + 2) || !operand(copy()[next + 1], &right) ||
                    !fast_op(FastOp(o.fast), left, &right))
                    break;
                if (!sub) copy_cell(left, first_cell);
                stack::top = first_cell + 1;  // where the entry's result would stand
                next += 2;
                expected = next;
            } else {
                next = infix_call(o, word, next, sub, first_cell);
                if (stack::pending()) return next;
                expected = o.right >= 0 ? exprs_[o.right].next : -1;
            }
        }
        if (e.prefix || !operator_at(next)) return next;
        forget();
        return eval_infix(code_, next, end_, sub, first_cell);
    }

    // Code other than decoded code is about to run: it may change the
    // block, a function's body or a word a decoded body relies on.
    void forget() { fast::bump(); }

    // An operator's word stands at position, before the end: eval_infix has
    // work to do.
    [[gnu::always_inline]] bool operator_at(int32_t position) { return operator_in(node_, end_, position); }

    // An operator whose right operand is not plain: what eval_infix and
    // run_call do for it, the right operand by its compiled expression.
    int32_t infix_call(const Operator& o, const Cell& word, int32_t next, bool sub, Cell* first_cell) {
        Cell fn = op::unwrap(&o.op);
        Cell name = word;
        stack::top = first_cell;  // the value just made is the operator's first argument
        Hold hold(fn);
        stack::mark_eval_native(&name);
        stack::push_kept();
        if (!typeset_has_q(&o.left_types, type_of(stack::top - 1))) check_builtin_argument(fn, name, o.cache, o.left_entry);
        int32_t position = next + 1;
        if (position >= limit_of(node_, end_)) fire_builtin_no_arg(fn, name, o.cache, o.right_entry);
        if (o.right >= 0) position = eval(o.right, position, true);
        else position = walk(position, end_, true, true, false);
        if (stack::pending()) return position;
        if (!typeset_has_q(&o.right_types, type_of(stack::top - 1)))
            check_builtin_argument(fn, name, o.cache, o.right_entry);
        forget();
        // Two plain numbers: the entry's result computed in place, as the
        // walker computes it for a plain right operand.
        if (o.fast == FAST_NONE || !fast_op(FastOp(o.fast), stack::arguments, stack::arguments + 1)) {
            run_builtin_entry(fn);
            if (stack::pending()) return position;
        }
        if (sub) stack::unwind_last();
        else stack::unwind_last_return();
        return position;
    }

    // A call of a native, action or function with fixed arguments: what
    // run_builtin or run_function does, its arguments evaluated by their
    // compiled expressions.
    int32_t call(const Expr& e, int32_t p, bool sub) {
        if (e.kind == K_METHOD) return method(e, p, sub);
        const Cell& word = copy()[p];
        if (!callee_found(u_, e, word)) return walk(e.start + e.sets, end_, e.prefix, sub, false);
        if (type_of(&e.callee) == TYPE_ACTION && e.callee.w1 == uint32_t(Act::append)) {
            // The walker's own short cut for append, when its arguments are plain.
            int32_t after = append_short_cut(e.callee, code_, p + 1, end_, sub, word);
            if (after >= 0) {
                forget();
                return after;
            }
        }
        return call_with(e, p, word, nullptr, sub);
    }

    // A function found in an object through a path of two words: what the
    // walk of the path and call_from_path do, the object's context the
    // function's.
    int32_t method(const Expr& e, int32_t p, bool sub) {
        Cell object;
        if (!method_found(u_, e, copy()[p], &object)) return walk(e.start + e.sets, end_, e.prefix, sub, false);
        // The call's frame, named by the field's word (bound to the object),
        // keeps the object's context alive while the method runs; nothing
        // before it can collect, and the path is not read again.
        Cell name = e.method_field;
        return call_with(e, p, name, &object, sub);
    }

    int32_t call_with(const Expr& e, int32_t p, const Cell& word, const Cell* object, bool sub) {
        // Arguments computed without frames are read before the call
        // starts: that has no effect, and one that must be evaluated (or an
        // operator after the last) sends the whole call the general way.
        Cell values[MAX_PLAIN_ARGUMENTS];
        int32_t after = p + 1;
        bool plain = e.plain_arguments && e.next >= 0 && same(after, e.next);
        const Argument* a = u_.arguments.data() + e.first_argument;
        // A plain operand: a word after it that names an operator now is no
        // operand, nor the callee it was, so only the cell after the last
        // argument needs a look.
        for (int32_t k = 0; k < e.arguments && plain; k++)
            plain = a[k].operand ? operand(copy_[after++], &values[k]) : pure(exprs_[a[k].expr], after, &values[k], &after);
        if (plain && e.arguments && a[e.arguments - 1].operand) plain = !operator_at(after);
        if (e.kind != K_CALL) {
            if (plain && e.direct && !tracing_q && u_.cycles == collector::series_cycles) {
                enter(u_, e, word, values, sub);
                return after;
            }
        } else if (plain && e.fast != FAST_NONE && fast_op(FastOp(e.fast), &values[0], &values[1])) {
            // Two plain numbers: the entry's result computed in place,
            // where the call's copy of the callable would stand.
            Cell* result = stack::push(&values[0]);
            if (!sub) stack::set_last(result);
            return after;
        } else if (plain && (e.entry == natives::if_star || e.entry == natives::unless_star) &&
            logic::false_q(&values[0]) == (e.entry == natives::if_star) &&
            typeset_has_q(&a[0].typeset, type_of(&values[0])) && typeset_has_q(&a[1].typeset, type_of(&values[1]))) {
            // A branch not taken: none, as the entry gives it, with nothing
            // run that could fail or see its frame.
            Cell nothing;
            Cell* result = stack::push(none::make_at(&nothing));
            if (!sub) stack::set_last(result);
            return after;
        }
        Cell fn = e.callee;
        Cell name = word;
        Node context = 0;  // wanted only by compiled functions, which are not direct
        Cell* kept;  // the copy of the callable, below the frame while the call runs
        if (e.kind != K_CALL) {
            if (e.direct) {
                kept = stack::push(&fn);
                stack::mark_eval_func(&name);
            } else {
                kept = begin_function_call(fn, name, &context, object);
            }
        } else {
            kept = stack::push(&fn);
            stack::mark_eval_native(&name);
        }
        int32_t position = p + 1;
        if (plain) {
            for (int32_t k = 0; k < e.arguments; k++) {
                stack::push(&values[k]);
                if (!typeset_has_q(&a[k].typeset, type_of(&values[k])))
                    check_builtin_argument(fn, name, e.cache, a[k].entry);
            }
            position = after;
        }
        for (int32_t k = plain ? e.arguments : 0; k < e.arguments; k++) {
            if (position >= limit_of(node_, end_)) fire_builtin_no_arg(fn, name, e.cache, a[k].entry);
            Cell v;
            if (a[k].operand && position == exprs_[a[k].expr].start && same(position, position + 1) &&
                operand(copy_[position], &v) && !operator_at(position + 1)) {
                stack::push(&v);  // as eval pushes it
                position++;
            } else if (a[k].expr >= 0) {
                position = eval(a[k].expr, position, true);
            } else {
                position = walk(position, end_, false, true, false);
            }
            if (stack::pending()) return position;
            if (!typeset_has_q(&a[k].typeset, type_of(stack::top - 1)))
                check_builtin_argument(fn, name, e.cache, a[k].entry);
        }
        if (e.kind != K_CALL) {
            if (e.more) push_function_rest(e.cache, e.rest);
            // Called as decoded code calls it: the body, when decoded and
            // found unchanged at this epoch, is not looked at again. The
            // body block is the one compiled while no collection ran since
            // (one may have renumbered its node).
            if (e.direct && !tracing_q && u_.cycles == collector::series_cycles) {
                fast::call_body(&fn, &e.body, &e.link);
            } else {
                fast::Entering entering;
                exec_function(&fn, context, &name, 0);
            }
        } else if (e.entry) {
            if (!fast::quiet_q(fn)) forget();
            guard_allocations([&] { e.entry(false, no_refinements.data()); });
        } else {
            forget();
            run_builtin_entry(fn);
        }
        if (stack::pending()) return position;
        end_call(kept, sub);
        return position;
    }

    // The value of the expression x at position p when computing it can
    // neither fail nor run code (Pure::value), its cells the compiled ones.
    bool pure(const Expr& x, int32_t p, Cell* out, int32_t* next) {
        if (p != x.start || x.sets || x.next < 0 || !same(p, x.next)) return false;
        return Pure(u_, node_, end_).value(x, p, out, next);
    }

    // Set-words before a call: each under a frame named by it, as
    // eval_set_word does, the value stored through word::set.
    int32_t set_words(const Expr& e, int32_t k, int32_t position, bool sub) {
        Cell set_word = copy()[position];
        stack::mark_eval_native(&set_word);
        Cell* word = stack::push(&set_word);
        int32_t next = position + 1;
        if (k + 1 < e.sets) next = set_words(e, k + 1, next, true);
        else next = value(e, next, true);
        if (stack::pending()) return next;
        Cell* value = word + 1;
        if (type_of(value) == TYPE_UNSET) fire(ErrorCategory::script, "need-value", &set_word);
        if (!store_minded(resolved_[position], *value)) {
            forget();
            word::set(word, value);
        }
        stack::set_last(word + 1);
        if (sub) stack::unwind_last();
        else stack::unwind_last_return();
        return next;
    }
};

// Keeps a unit alive and unchanged while a run uses it.
class Busy {
public:
    explicit Busy(Unit* unit) : unit_(unit) { unit->busy++; }
    ~Busy() {
        if (--unit_->busy == 0 && unit_->orphan) delete unit_;
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    Unit* unit_;
};

// The block's unit ready to run, or null when the walker should run it.
Unit* find_unit(Node node, int32_t head);

Unit* unit_for(Node node, int32_t head) {
    Unit* unit = find_unit(node, head);
    if (!unit) {
        Unit* entry = entry_of(node);
        // Walked for good: the block says so itself, sparing the look-up.
        if (entry && entry != SEEN && entry->walker_only && !entry->retry)
            memory::buffer_of(node)->flags |= SERIES_WALKED;
    }
    return unit;
}

// The collector's count of node renumberings that the table of units
// reflects: every unit was dropped when it moved on.
uint32_t renumbered = 0;

Unit* find_unit(Node node, int32_t head) {
    if (collector::nodes_cycles != renumbered) [[unlikely]] {
        renumbered = collector::nodes_cycles;
        drop_all();
    }
    Unit*& entry = entry_of(node);
    Unit* unit = entry;
    if (!unit) {
        entry = SEEN;  // made at the second evaluation
        return nullptr;
    }
    if (unit == SEEN) {
        unit = new Unit;
        entry = unit;
        if ((memory::used_bytes(memory::buffer_of(node)) >> 4) - head > MAX_CELLS) unit->walker_only = true;
        else build(unit, node, head);
        return unit->walker_only ? nullptr : unit;
    }
    if (unit->walker_only) {
        // Made again after 16, 32, 64 ... more runs, while callables in it
        // may still be called a first time.
        if (!unit->retry || unit->busy || ++unit->waits < (16 << unit->rebuilds)) return nullptr;
        unit->waits = 0;
        if (++unit->rebuilds > MAX_REBUILDS) {
            unit->retry = false;  // walked for good from now on
            return nullptr;
        }
        build(unit, node, head);
        return unit->walker_only ? nullptr : unit;
    }
    bool changed = unit->head != head || unit->misses > 0;
    if (changed || unit->cycles != collector::series_cycles) {
        if (unit->busy) return unit->head == head ? unit : nullptr;
        if ((changed && ++unit->rebuilds > MAX_REBUILDS) ||
            (memory::used_bytes(memory::buffer_of(node)) >> 4) - head > MAX_CELLS) {
            unit->walker_only = true;
            unit->retry = false;
            return nullptr;
        }
        build(unit, node, head);
    }
    return unit->walker_only ? nullptr : unit;
}

// Where a lean run stopped inside branches it ran in place, something of
// them done: for each branch expression, innermost first, what the frames
// the walker has for it need, and the position in the innermost branch
// block from which the general loop goes on.
struct Stop {
    struct Level {
        Unit* unit;      // the unit of the block the branch expression lies in
        const Expr* e;   // the branch expression
        Unit* branch;    // the unit of the block chosen
        Cell condition;  // its condition's value
        int32_t blocks;  // the position of its first block
        int32_t chosen;  // the block chosen, from 0
    };
    int32_t levels = 0;
    Level level[MAX_BRANCH_DEPTH];
    int32_t inner = 0;
    // The frame of the block's evaluation is pushed: else its cells would
    // be the top frame's, from its first one (the current call's result
    // slot), as they are once it is pushed.
    bool framed = true;
};

// The block (node, from head, its tail no farther than end) holds exactly
// the unit's cells.
[[gnu::always_inline]] inline bool same_whole(const Unit& unit, Node node, int32_t head, int32_t end) {
    SeriesBuffer* s = memory::buffer_of(node);
    int32_t n = int32_t(unit.cells.size());
    return (memory::used_bytes(s) >> 4) == head + n && end >= head + n &&
           std::memcmp(memory::cells_head(s) + head, unit.cells.data(), size_t(n) * sizeof(Cell)) == 0;
}

// The word (a compiled cell) still names the value compiled.
[[gnu::always_inline]] inline bool names_q(const Cell& word, const Cell& value) {
    const Cell* slot = _context::value_slot(word.w1, int32_t(word.w3));
    return slot && std::memcmp(slot, &value, sizeof(Cell)) == 0;
}

// Counts the lean runs whose block was compared whole: a branch block
// compared and run to its end within one count is unchanged (with its
// callees and operators) while only trusted rounds follow.
uint64_t stretch = 0;

int32_t run_chain(Unit& unit, Node node, Stop* stop);
int32_t run_program(Unit& unit, Node node, Stop* stop);

// The block of the branch the expression e (of the unit) chose, run as a
// lean block of its own, trusted when it ran whole in the current stretch
// and trusted is; answers as run_chain does for the branch expression at
// position, which is current.
[[gnu::always_inline]] inline int32_t run_branch(Unit& unit, const Expr& e, int32_t position, const Cell& condition,
                                                 int32_t chosen, bool trusted, Stop* stop) {
    const Cell* copy = unit.cells.data() - unit.head;
    int32_t blocks = e.next - (e.arguments - 1);
    Unit& branch = *unit.branches[size_t(e.first_branch + chosen)];
    Node branch_node = copy[blocks + chosen].w2;
    int32_t at;
    if (trusted && branch.stretch == stretch) {
        at = run_program(branch, branch_node, stop);
    } else {
        if (!same_whole(branch, branch_node, branch.head, INT32_MAX)) return position;
        at = run_chain(branch, branch_node, stop);
        if (at < 0) branch.stretch = stretch;
    }
    if (at < 0) return stack::pending() ? -1 : e.next;
    if (at == branch.head && stop->levels == 0) return position;  // nothing of it done
    stop->level[stop->levels++] = Stop::Level{&unit, &e, &branch, condition, blocks, chosen};
    if (stop->levels == 1) stop->inner = at;
    return position;
}

// The branch chosen by the condition of e: -1 for none.
[[gnu::always_inline]] inline int32_t chosen_by(const Expr& e, const Cell& condition) {
    if (e.branch == B_EITHER) return logic::false_q(&condition) ? 1 : 0;
    return logic::false_q(&condition) == (e.branch == B_IF) ? -1 : 0;
}

// break or continue for the loop right below the frame of the block's
// evaluation (the frames the walker would have pushed above it are
// dropped by the exit anyway), as throw_break leaves it: the loop frame
// current, unset in its first cell, which starts where the evaluation's
// frame was pushed. False, nothing done, when that frame is no loop's.
[[gnu::always_inline]] inline bool exit_to_loop(const Expr& e, const Stop& stop) {
    stack::Frame* eval = stack::frames_top - (stop.framed ? 1 : 0);
    if (eval - 1 < stack::frames_bottom || eval[-1].kind() != stack::FRAME_LOOP) return false;
    Cell* base = stop.framed ? stack::bottom + eval->saved_args : stack::arguments;
    stack::frames_top = eval;
    stack::arguments = stack::top = base;
    unset::make_at(base);
    runtime::thrown_code = e.entry == natives::continue_star ? THROW_CONTINUE : THROW_BREAK;
    return true;
}

// The chain of a lean unit whose block was found to hold its cells (from
// its head to its tail): simple expressions computed and stored, branches
// run in place, a break or continue at its end taken. Nothing of it runs
// code that could change a block or a callable, so the cells stay the
// compared ones. Answers -1 when it ran to its end (an exit then pending),
// else the position from which the general loop goes on: nothing of the
// expression there done, unless stop has levels (a branch run in place
// stopped inside).
int32_t run_chain(Unit& unit, Node node, Stop* stop) {
    const Cell* copy = unit.cells.data() - unit.head;
    const Cell* resolved = unit.resolved.data() - unit.head;
    Cell** slots = unit.slots.data() - unit.head;
    const Expr* exprs = unit.exprs.data();
    const Operator* operators = unit.operators.data();
    int32_t position = unit.head;
    for (int32_t index : unit.chain) {
        const Expr& e = exprs[index];
        if (runtime::interrupt_pending) return position;
        if (e.word_after) {
            // The word after it may name an operator by now.
            const Cell& w = copy[e.next];
            const Cell* slot = _context::value_slot(w.w1, int32_t(w.w3));
            if (slot && type_of(slot) == TYPE_OP) return position;
        }
        if (e.simple) {
            if (run_simple(e, position, copy, resolved, slots, operators + e.first_operator, false) < 0)
                return position;
            position = e.next;
            continue;
        }
        if (!names_q(copy[position], e.callee)) return position;
        if (e.exit) return exit_to_loop(e, *stop) ? -1 : position;
        // if, unless, either: the condition computed in place, the block
        // chosen run as a lean block of its own.
        const Argument* a = unit.arguments.data() + e.first_argument;
        Cell condition;
        int32_t blocks;
        if (a[0].operand) {
            if (!operand_at<false>(copy, slots, position + 1, &condition)) return position;
        } else {
            const Expr& x = exprs[a[0].expr];
            if (x.start != position + 1 ||
                !Pure(unit, node, unit.head + int32_t(unit.cells.size())).value(x, x.start, &condition, &blocks))
                return position;
        }
        if (!typeset_has_q(&a[0].typeset, type_of(&condition))) return position;
        int32_t chosen = chosen_by(e, condition);
        if (chosen < 0) {
            // Not taken: none, as the native gives it.
            Cell nothing;
            stack::set_last(none::make_at(&nothing));
            position = e.next;
            continue;
        }
        int32_t at = run_branch(unit, e, position, condition, chosen, false, stop);
        if (at != e.next) return at;
        position = at;
    }
    return -1;
}

// A trusted run of a lean unit's chain, by its program: the chain ran to
// its end since nothing but such chains ran (and the loops' own steps),
// and its cells, callees and operators were not looked at again; the
// slots kept for its words are theirs. Answers as run_chain.
int32_t run_program(Unit& unit, Node node, Stop* stop) {
    const Cell* copy = unit.cells.data() - unit.head;
    Cell** slots = unit.slots.data() - unit.head;
    Cell values[MAX_STEP_DEPTH];
    Cell* top = values;
    values[0] = Cell{};  // every value is pushed before it is read: this quiets the compiler
    int32_t at = unit.head;  // the expression being run
    for (const Step* step = unit.program.data();; step++) {
        switch (step->kind) {
            case P_START:
                at = step->p;
                top = values;
                if (runtime::interrupt_pending) return at;
                break;
            case P_CONST: *top++ = copy[step->p]; break;
            case P_WORD: *top++ = *slots[step->p]; break;
            case P_OPERAND:
                if (!operand(copy[step->p], top++)) return at;
                break;
            case P_OP:
                top--;
                if (!fast_op(FastOp(step->fast), top - 1, top)) return at;
                break;
            case P_WORD_OP:
                *top = *slots[step->p];
                if (!fast_op(FastOp(step->fast), top++, &copy[step->q])) return at;
                break;
            case P_SET:
                if (Cell* slot = slots[step->p]) {
                    *slot = values[0];
                } else if (!store_plain(unit.resolved[size_t(step->p - unit.head)], values[0], true,
                                        &slots[step->p])) {
                    return at;
                }
                stack::set_last(&values[0]);
                break;
            case P_PLACE: stack::set_last(&values[0]); break;
            case P_SIMPLE: {
                const Expr& e = unit.exprs[size_t(step->p)];
                if (run_simple<true>(e, at, copy, unit.resolved.data() - unit.head, slots,
                                     unit.operators.data() + e.first_operator, false) < 0)
                    return at;
                break;
            }
            case P_BRANCH: {
                const Expr& e = unit.exprs[size_t(step->p)];
                const Argument* a = unit.arguments.data() + e.first_argument;
                Cell condition = values[0];
                int32_t blocks;
                if (!step->fast && (a[0].operand ? !operand_at<true>(copy, slots, at + 1, &condition)
                                                 : !Pure(unit, node, unit.head + int32_t(unit.cells.size()))
                                                        .value<true>(unit.exprs[size_t(a[0].expr)], at + 1,
                                                                     &condition, &blocks)))
                    return at;
                if (!typeset_has_q(&a[0].typeset, type_of(&condition))) return at;
                int32_t chosen = chosen_by(e, condition);
                if (chosen < 0) {
                    Cell nothing;
                    stack::set_last(none::make_at(&nothing));
                    break;
                }
                int32_t next = run_branch(unit, e, at, condition, chosen, true, stop);
                if (next != e.next) return next;
                break;
            }
            case P_EXIT:
                return exit_to_loop(unit.exprs[size_t(step->p)], *stop) ? -1 : at;
            case P_END: return -1;
            default: __builtin_unreachable();
        }
    }
}

// A lean unit's block: its cells compared once, then its chain run.
// Answers as run_chain.
int32_t run_lean(Unit& unit, Node node, int32_t head, int32_t end, Stop* stop) {
    if (tracing_q || !room_for_short_cut() || !same_whole(unit, node, head, end)) return head;
    stretch++;
    return run_chain(unit, node, stop);
}

// The expressions of the unit's block from position on, as eval_block's
// loop evaluates them.
void run_from(Unit& unit, const Cell* code, int32_t position, int32_t end) {
    Node node = code->w2;
    Runner runner(unit, code, end);
    for (;;) {
        current_position->w1 = uint32_t(position);
        int32_t index = position - unit.head;
        int32_t expr = index >= 0 && index < int32_t(unit.at.size()) ? unit.at[size_t(index)] : -1;
        int32_t next = -1;
        if (expr >= 0 && ready()) {
            const Expr& e = runner.expr(expr);
            next = e.simple && e.start == position ? runner.simple(e, position) : runner.eval(expr, position, false);
        }
        position = next >= 0 ? next : runner.walk(position, end, false, false, false);
        if (stack::pending()) return;
        if (position >= limit_of(node, end)) break;
        stack::reset();  // only the last expression's value survives
    }
}

// What is left of the branches a lean run stopped in (stop's levels from
// level k in), as the walker runs it from there: the frames of the call
// of if, unless or either and of the evaluation of its block pushed as
// the walker has them. The position of the branch expression is the
// current one. Answers the position after the branch expression.
int32_t resume(const Stop& stop, int32_t k) {
    const Stop::Level& l = stop.level[k];
    const Expr& e = *l.e;
    const Cell* copy = l.unit->cells.data() - l.unit->head;
    // The native's call with its arguments as the compiled call pushes them.
    Cell fn = e.callee;
    Cell name = copy[e.start];
    Cell* kept = stack::push(&fn);
    stack::mark_eval_native(&name);
    stack::push(&l.condition);
    for (int32_t b = 0; b + 1 < e.arguments; b++) stack::push(&copy[l.blocks + b]);
    {
        // The native's evaluation of the block chosen.
        Cell code = copy[l.blocks + l.chosen];
        Hold hold(code);
        SavedPosition saved_position;
        stack::mark_eval(&words::tag_body);
        *current_position = code;
        Unit& branch = *l.branch;
        int32_t end = branch.head + int32_t(branch.cells.size());
        int32_t position = stop.inner;
        if (k > 0) {
            current_position->w1 = uint32_t(stop.level[k - 1].e->start);
            position = resume(stop, k - 1);
            if (!stack::pending() && position < limit_of(code.w2, end)) {
                stack::reset();  // only the last expression's value survives
                run_from(branch, &code, position, end);
            }
        } else {
            run_from(branch, &code, position, end);
        }
        if (stack::pending()) return e.next;
        stack::unwind_last_return();
    }
    end_call(kept, false);
    return e.next;
}

// The rest of the block from where a lean run stopped (position, stop), by
// the general loop; the block's eval frame and current position are there.
void finish(Unit& unit, const Cell* code, int32_t position, const Stop& stop, int32_t end) {
    if (stop.levels) {
        current_position->w1 = uint32_t(position);
        position = resume(stop, stop.levels - 1);
        if (stack::pending() || position >= limit_of(code->w2, end)) return;
        stack::reset();  // only the last expression's value survives
    }
    run_from(unit, code, position, end);
}

}  // namespace

bool run(const Cell* code, int32_t head, int32_t end) {
    Node node = code->w2;
    Unit* unit = unit_for(node, head);
    if (!unit) return false;
    int32_t position = head;
    Stop stop;
    if (unit->lean) {
        // Runs nothing that could change or free the unit.
        position = run_lean(*unit, node, head, end, &stop);
        if (position < 0) return true;
    }
    Busy busy(unit);
    fast::Leaving leaving;  // back to the walker
    finish(*unit, code, position, stop, end);
    return true;
}

// Between rounds the loop's own code runs: it moves the epoch on itself
// where it may change what decoded code relies on (its word stores), so
// the rounds need not. It does so when the loop starts and ends.
LoopBody::LoopBody(const Cell* block) : code_(*block), node_(block->w2), head_(std::max(int32_t(block->w1), 0)) {
    fast::bump();
}

LoopBody::~LoopBody() {
    fast::bump();
    release();
}

void LoopBody::release() {
    round_at_ = 0;
    if (!unit_) return;
    if (--unit_->busy == 0 && unit_->orphan) delete unit_;
    unit_ = nullptr;
}

// The unit eval_block left for the block, when it is one to run directly:
// compiled, made for this head, and current.
void LoopBody::take() {
    if (collector::nodes_cycles != renumbered || (memory::buffer_of(node_)->flags & SERIES_WALKED)) {
        misses_++;
        return;
    }
    Unit* unit = entry_of(node_);
    if (!unit || unit == SEEN || unit->walker_only || unit->orphan || unit->head != head_ || unit->misses ||
        unit->cycles != collector::series_cycles) {
        misses_++;
        return;
    }
    unit_ = unit;
    unit_->busy++;  // never made again nor freed under the loop
    renumbered_ = renumbered;
}

namespace {

// A call of a round (Unit::round), at the top of the block: what the
// general loop does for it, without its steps for expressions of any other
// shape. False, nothing done, when the general loop must evaluate it.
bool round_call(const Unit& u, const Expr& e, Node node) {
    const Cell* copy = u.cells.data() - u.head;
    int32_t p = e.start + e.sets;
    const Argument* a = u.arguments.data() + e.first_argument;
    if (e.slots_at != fast::epoch) {
        // The arguments up to the first that is no plain operand stand one
        // cell each from p + 1.
        bool one_cell = true;
        for (int32_t k = 0; k < e.arguments; k++) {
            one_cell &= a[k].operand;
            const Cell* c = one_cell ? &copy[p + 1 + k] : nullptr;
            e.arg_slots[k] = c && type_of(c) == TYPE_WORD && !_context::on_stack_q(_context::cell_of(c->w1))
                                 ? _context::value_slot(c->w1, int32_t(c->w3))
                                 : nullptr;
        }
        e.store_slot = nullptr;
        if (e.sets) {
            const Cell& c = u.resolved[size_t(e.start - u.head)];
            const Cell* context = _context::cell_of(c.w1);
            Cell* slot = _context::value_slot(c.w1, int32_t(c.w3));
            if (!_context::on_stack_q(context) && _context::kind_of(context) != _context::KIND_OBJECT && slot &&
                placed_q(type_of(slot)))
                e.store_slot = slot;
        }
        e.slots_at = fast::epoch;
    }
    Cell object;
    if (e.kind == K_METHOD ? !method_found(u, e, copy[p], &object) : !callee_found(u, e, copy[p])) return false;
    // The arguments, read before the call starts (as the general loop reads
    // plain ones): the cell after the last one is no operator's word.
    Cell values[MAX_PLAIN_ARGUMENTS];
    int32_t after = p + 1;
    for (int32_t k = 0; k < e.arguments; k++) {
        if (a[k].operand) {
            if (const Cell* slot = e.arg_slots[k]) {
                values[k] = *slot;
                if (!placed_q(type_of(&values[k]))) return false;
                after++;
            } else if (!operand(copy[after++], &values[k])) {
                return false;
            }
        } else {
            const Expr& y = u.exprs[size_t(a[k].expr)];
            if (y.start != after || y.sets || y.next < 0 ||
                !Pure(const_cast<Unit&>(u), node, tail_of(node)).value(y, after, &values[k], &after))
                return false;
        }
    }
    const Cell& name = e.kind == K_METHOD ? e.method_field : copy[p];
    if (e.sets == 0) {
        enter(u, e, name, values, false);
        return true;
    }
    // A set-word before the call: its frame, as eval_set_word pushes it.
    const Cell& set_word = copy[e.start];
    stack::push_known_frame_in_room(stack::frame_header(&set_word, stack::FRAME_NATIVE | stack::FRAME_INTERPRETED),
                                    set_word.w1);  // mark_eval_native's frame
    Cell* word = stack::top++;
    copy_cell(&set_word, word);
    enter(u, e, name, values, true);
    if (stack::pending()) return true;
    Cell* value = word + 1;
    if (type_of(value) == TYPE_UNSET) fire(ErrorCategory::script, "need-value", &set_word);
    if (e.store_slot && e.slots_at == fast::epoch && placed_q(type_of(value))) {
        *e.store_slot = *value;
    } else if (!store_minded(u.resolved[size_t(e.start - u.head)], *value)) {
        fast::bump();
        word::set(word, value);
    }
    stack::set_last(value);
    stack::unwind_last_return();
    return true;
}

// A simple expression of a round, as run_simple computes it.
[[gnu::noinline]] int32_t round_simple(Unit& u, const Expr& e, int32_t position) {
    return run_simple(e, position, u.cells.data() - u.head, u.resolved.data() - u.head,
                      u.slots.data() - u.head, u.operators.data() + e.first_operator, false);
}

}  // namespace

// A round of a block made of calls of functions or methods whose bodies
// run directly and of simple expressions (Unit::round): what eval() and the
// general loop do for it, with fewer steps. False, nothing done, when eval()
// must take the round. A unit made before the last collection (which may
// have renumbered nodes or freed its own) is not run: eval() looks at it
// again.
bool LoopBody::call_round() {
    Unit& u = *unit_;
    if (!lean_q || tracing_q || runtime::interrupt_pending || !room_for_short_cut() ||
        u.cycles != collector::series_cycles)
        return false;
    // Found whole at this epoch, the block stays so while only decoded code
    // runs: it changes no block.
    if (round_at_ != fast::epoch) {
        if (!same_whole(u, node_, head_, INT32_MAX)) return false;
        round_at_ = fast::epoch;
    }
    int32_t end = head_ + int32_t(u.cells.size());
    // eval_block's steps around the expressions, but the hold: the loop's
    // argument keeps the block alive. The room checked above covers the
    // frames and cells pushed here.
    stack::push_known_frame_in_room(stack::frame_header(&words::tag_body, stack::FRAME_EVAL | stack::FRAME_INTERPRETED),
                                    words::tag_body.w1);  // mark_eval's frame
    // The position, put back however the round ends, kept whole as one
    // 16-byte value.
    struct Position {
        __extension__ unsigned __int128 saved;
        Position() { std::memcpy(&saved, current_position, sizeof saved); }
        ~Position() { std::memcpy(current_position, &saved, sizeof saved); }
    } saved_position;
    *current_position = code_;
    int32_t position = head_;
    for (size_t k = 0;; k++) {
        const Expr& e = u.exprs[size_t(u.round[k])];
        current_position->w1 = uint32_t(position);
        if (k > 0 && !ready()) break;
        uint64_t at = fast::epoch;
        if (e.simple) {
            if (e.word_after && operator_in(node_, end, e.next)) break;
            if (round_simple(u, e, position) < 0) break;
        } else {
            if (!round_call(u, e, node_)) break;
            if (stack::pending()) return true;
        }
        position = e.next;
        if (position >= end) {
            stack::unwind_last_return();
            return true;
        }
        stack::reset();  // only the last expression's value survives
        if (fast::epoch != at) {
            // Other code ran: the general loop looks at what is left.
            if (position < limit_of(node_, end)) {
                run_from(u, &code_, position, end);
                if (stack::pending()) return true;
            }
            stack::unwind_last_return();
            return true;
        }
    }
    // The general loop from the expression at position, nothing of it done.
    run_from(u, &code_, position, end);
    if (stack::pending()) return true;
    stack::unwind_last_return();
    return true;
}

void LoopBody::eval() {
    bool trusted = trusted_;
    trusted_ = false;
    if (trusted && quiet_ && !runtime::interrupt_pending) [[likely]] {
        // Nothing could have changed the block, its unit or the room
        // checked before its last evaluation. The loop's frame is current
        // and empty: the block's lean form, which pushes nothing, leaves
        // its value where it would leave it under its own eval frame, which
        // is pushed only once something is left to the general loop.
        Stop stop;
        stop.framed = false;
        int32_t position = run_program(*unit_, node_, &stop);
        if (position < 0) {
            if (!stack::pending()) stack::top = stack::arguments + 1;
            return;
        }
        quiet_ = false;
        stack::mark_eval(&words::tag_body);
        Hold hold(code_);
        SavedPosition saved_position;
        *current_position = code_;
        finish(*unit_, &code_, position, stop, tail_of(node_));
        if (stack::pending()) return;
        stack::unwind_last_return();
        return;
    }
    quiet_ = false;
    if (unit_ && !unit_->round.empty() && call_round()) return;
    // A unit gone stale (its block changed, a collection ran, nodes were
    // renumbered) goes back to the table, where eval_block makes it again.
    if (unit_ && (unit_->misses || unit_->orphan || unit_->cycles != collector::series_cycles ||
                  collector::nodes_cycles != renumbered_))
        release();
    int32_t end = tail_of(node_);
    if (!unit_ || !lean_q || tracing_q || runtime::interrupt_pending || head_ >= end) {
        fast::bump();  // the walker may run it
        eval_block(&code_, true);
        if (!unit_ && misses_ < 8) take();  // also after a break or continue, which leaves the unit as it was
        return;
    }
    // eval_block's steps: the eval frame, the block held and the position
    // saved, here only once something is left to the general loop.
    stack::mark_eval(&words::tag_body);
    int32_t position = head_;
    Stop stop;
    if (unit_->lean) {
        position = run_lean(*unit_, node_, head_, end, &stop);
        quiet_ = position < 0;
    }
    if (position >= 0) {
        Hold hold(code_);
        SavedPosition saved_position;
        *current_position = code_;
        finish(*unit_, &code_, position, stop, end);
    }
    if (stack::pending()) return;
    stack::unwind_last_return();
}

}  // namespace zuv::interpreter::compiled
