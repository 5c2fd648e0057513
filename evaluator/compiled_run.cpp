// Running compiled blocks: each expression by its kind, with the walker's
// frames and cells, its guards looked at as they run.
//
// Every function here that runs an expression answers the position after
// it, as the walker's eval_expression does. A guard that fails hands the
// expression (or the argument, or the operator) to the walker from its
// source position; its caller goes on in compiled code only when the walker
// stopped where the form expected and the form still stands (not dead),
// else the walker takes the rest of what the caller was doing: the rest of
// a call's arguments, the rest of the operators, the rest of the block.
//
// What no one can see is not done: a pure expression (constants, words and
// parens of them, with operators computed in place) is read without the
// frames and cells the walker would push for it, as nothing in it can fail
// or run code while its guards hold; when one fails, the expression runs as
// any other, from its start.
#include <bit>
#include <cstring>

#include "evaluator/compiled_internal.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/natives_control_internal.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/process.hpp"
#include "runtime/words.hpp"

namespace zuv::interpreter::compiled {

// What the expressions of a run read: its form, its block value (kept alive
// by the caller) and the end the walker bounds its steps by.
struct Run {
    Form* form;
    const Cell* code;
    int32_t end;
};

using namespace interpreter::detail;

namespace {

// ---- values ----

ZUV_IN_LINE bool callable_q(uint32_t type) {
    return type == TYPE_NATIVE || type == TYPE_ACTION || type == TYPE_FUNCTION || type == TYPE_ROUTINE;
}

// A value the walker places as it is when a word gives it.
ZUV_IN_LINE bool placed_q(uint32_t type) {
    switch (type) {
        case TYPE_UNSET: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE: case TYPE_OP:
            return false;
        default: return true;
    }
}

// The same value: type and payload (the header's flags aside), compared as
// two 64-bit words.
ZUV_IN_LINE bool same_q(const Cell& a, const Cell& b) {
    static_assert(std::endian::native == std::endian::little && TYPE_MASK == 0xFF);
    uint64_t a0, b0, a1, b1;
    std::memcpy(&a0, &a.header, 8);
    std::memcpy(&b0, &b.header, 8);
    std::memcpy(&a1, &a.w2, 8);
    std::memcpy(&b1, &b.w2, 8);
    return (((a0 ^ b0) & 0xFFFFFFFF000000FFull) | (a1 ^ b1)) == 0;
}

ZUV_IN_LINE void place(const Cell* value, bool sub) {
    if (sub) stack::push(value);
    else stack::set_last(value);
}

// ---- word slots ----

// The slot of a word as value_slot finds it, kept in the cache when its
// context's values lie off the stack; a self word's, the context's own
// value, is kept too (never a plain store: no set-word is bound so).
[[gnu::noinline]] Cell* find_slot(const Cell& w, const WordSlot& cache) {
    auto& kept = const_cast<WordSlot&>(cache);
    if (int32_t(w.w3) < 0) {
        if (int32_t(w.w2) != sym::self) return nullptr;
        memory::keep_slots(w.w1);
        kept.slot = _context::own_value(w.w1);
        kept.at = memory::relocations;
        kept.plain = false;
        return kept.slot;
    }
    const Cell* c = _context::cell_of(w.w1);
    Cell* slot = _context::value_slot(w.w1, int32_t(w.w3));
    if (slot && !_context::on_stack_q(c)) {
        memory::keep_slots(c->w2);
        kept.slot = slot;
        kept.at = memory::relocations;
        kept.plain = _context::kind_of(c) != _context::KIND_OBJECT;
    }
    return slot;
}

// The slot a compiled word (bound) reads, or null: kept, a word of the
// running function (its call's cells), or looked up.
ZUV_IN_LINE bool local_q(const Cell& w) { return w.w1 == locals.context && uint32_t(w.w3) < locals.count; }
ZUV_IN_LINE Cell* slot_of(const Cell& w, const WordSlot& cache) {
    if (cache.local) {
        if (local_q(w)) [[likely]]
            return locals.base + w.w3;
    } else if (cache.at == memory::relocations) [[likely]] {
        return cache.slot;
    } else if (local_q(w)) {
        return locals.base + w.w3;
    }
    return find_slot(w, cache);
}

// The store of v in an object's field slot as word::set makes it (the word
// marked changed), when the object has no change handler to run; false,
// nothing done, else.
[[gnu::noinline]] bool store_field(const Cell& w, Cell* slot, const Cell& v) {
    if (int32_t(w.w3) < 0) return false;  // a context's own value: word::set says what happens
    Node ctx = w.w1;
    const Cell* object = _context::own_value(ctx);
    if (_context::on_change && type_of(object) == TYPE_OBJECT && object->w3 != 0) return false;
    _context::get_word_cell(ctx, int32_t(w.w3))->header |= _context::WORD_CHANGED;
    *slot = v;
    return true;
}

// Stores v through the set-word as word::set does, when that runs no code (a
// word of the running function, of a context off the stack, of an object
// without a change handler); false, nothing done, else.
ZUV_IN_LINE bool store_plain(const Cell& w, const WordSlot& cache, const Cell& v) {
    if (cache.local && local_q(w)) [[likely]] {
        locals.base[w.w3] = v;
        return true;
    }
    if (cache.at == memory::relocations) [[likely]] {
        if (!cache.plain) return store_field(w, cache.slot, v);
        *cache.slot = v;
        return true;
    }
    if (local_q(w)) {
        locals.base[w.w3] = v;
        return true;
    }
    if (!find_slot(w, cache) || cache.at != memory::relocations) return false;
    if (!cache.plain) return store_field(w, cache.slot, v);
    *cache.slot = v;
    return true;
}

// ---- the walker ----

// The walker evaluates the expression, from its first cell.
[[gnu::noinline]] int32_t walk(const Run& r, const Expr& e, bool sub) {
    ZUV_NOTE_WALKED(r.code, e.start, e.kind == K_WALK ? "an expression left to the walker" : "a word's guard");
    return eval_expression(r.code, e.start, r.end, e.prefix, sub, false);
}

// The walker takes the rest of the block from position (after a reset of
// the frame, as between two expressions).
void walk_rest(const Cell* code, int32_t end, int32_t position) {
    ZUV_NOTE_WALKED(code, position, nullptr);
    for (;;) {
        current_position->w1 = uint32_t(position);
        position = eval_expression(code, position, end, false, false, false);
        if (stack::pending()) return;
        if (position >= limit_of(code->w2, end)) return;
        stack::reset();
    }
}

inline int32_t run_expr(const Run& r, const Expr& e, bool sub) { return e.run(r, e, sub); }

// ---- callees ----

// The callee of a call's word as last met, or as it is now when another
// callable of the same shape took its place; null when the walker must make
// the call.
inline const Callee* site_callee(Site& site, const Shape& shape, const Cell& fn) {
    if (same_q(fn, site.fn) && site.cycles == collector::series_cycles && site.forgotten == callees_forgotten)
        [[likely]]
        return site.callee;
    const Callee* c = callee_of(fn);
    if (!c || !(c->shape == shape)) return nullptr;
    site.fn = fn;
    site.callee = c;
    site.cycles = collector::series_cycles;
    site.forgotten = callees_forgotten;
    return c;
}

// Pushes the cells [from, to) of a function's decoding (its refinements'
// and locals' cells): one copy where they fit, else one push at a time, so
// that an overflow comes at the push where the walker meets it.
ZUV_IN_LINE void push_rest(const Callee* c, size_t from, size_t to) {
    int32_t n = int32_t(to - from);
    if (n <= 0) return;
    if (stack::room_q(0, n)) [[likely]] {
        std::memcpy(static_cast<void*>(stack::top), c->rest_cells.data() + from, size_t(n) * sizeof(Cell));
        stack::top += n;
        return;
    }
    for (size_t k = from; k < to; k++) stack::push(&c->rest_cells[k]);
}

// Every refinement word of a call that names none.
struct NoRefinements {
    int32_t words[natives::MAX_REFINEMENTS];
    NoRefinements() {
        for (int32_t& w : words) w = -1;
    }
};
const NoRefinements no_refinements;
const int32_t* const NO_REFINEMENTS = no_refinements.words;

// ---- object fields ----

// What the word elements of a path kept is forgotten when a buffer has
// moved (a collection may also have freed a kept context and given its node
// to another); the shapes stay, and the indices in the elements.
[[gnu::noinline]] void forget_fields(const Expr& e) {
    e.fields.resize(e.items.size());
    for (Field& f : e.fields) f = Field{.shape = f.shape};
    e.fields_at = memory::relocations;
}

// The value slot of field i in the object context ctx where the element
// kept it: the context last met, or one of the shape last met (copies of
// one prototype, objects of the same words in the same order), at the
// index kept; else null. The keep must be current (fields_at).
ZUV_IN_LINE Cell* kept_field(const Expr& e, Node ctx, size_t i) {
    const Field& f = e.fields[i];
    if (f.ctx == ctx) [[likely]]
        return f.value;
    const Cell* c = _context::cell_of(ctx);
    if (c->w3 != f.shape || f.shape == 0 || c->w2 == 0) return nullptr;
    SeriesBuffer* values = memory::buffer_of(c->w2);
    int32_t index = int32_t(e.items[i].w3);
    return index < memory::length_of(values) ? memory::internal_cells(values) + index : nullptr;
}

// The value slot of field i in the object ctx, or null, found by its word
// (at the index kept first) and kept for the next run, unless the element
// keeps another object already: then ctx lends its shape to the element
// (objects made alike, not from one prototype, meet it in turn).
[[gnu::noinline]] Cell* find_field(const Expr& e, Node ctx, size_t i) {
    if (e.fields_at != memory::relocations) forget_fields(e);
    if (Cell* slot = kept_field(e, ctx, i)) return slot;
    Field& f = e.fields[i];
    Cell& item = e.items[i];
    const Cell* c = _context::cell_of(ctx);
    int32_t index = int32_t(item.w3);
    SeriesBuffer* words = memory::buffer_of(hash::table_of(c->w1)->block);
    if (index < 0 || index >= memory::length_of(words) || memory::internal_cells(words)[index].w2 != item.w2) {
        index = _context::find_word_hinted(ctx, item, index);
        if (index < 0) return nullptr;
        item.w3 = uint32_t(index);
    }
    Cell* slot = _context::value_slot(ctx, index);
    if (!slot || _context::on_stack_q(c)) return slot;
    f.shape = _context::shape_of(c);
    if (f.ctx == 0) {
        // The values' and the words' buffers are marked so that their growth
        // (the object gaining a word) moves the relocation count.
        memory::keep_slots(c->w2);
        memory::keep_slots(_context::get_words_node(ctx));
        f.ctx = ctx;
        f.context = _context::cell_of(ctx);
        f.value = slot;
        f.word = _context::get_word_cell(ctx, index);
    }
    return slot;
}

// The value slot of the path's word element i in the object ctx, or null.
ZUV_IN_LINE Cell* field_slot(const Expr& e, Node ctx, size_t i) {
    if (e.fields_at == memory::relocations) [[likely]] {
        if (Cell* slot = kept_field(e, ctx, i)) return slot;
    }
    return find_field(e, ctx, i);
}

// The slot of the last field of a path of fields (field_path) where every
// element's keep finds it, its object's context in ctx; else null.
ZUV_IN_LINE Cell* kept_path_slot(const Expr& e, Node* ctx) {
    const Cell* s = slot_of(e.items[0], e.slot);
    if (!s || e.fields_at != memory::relocations) return nullptr;
    Cell* slot;
    size_t i = 1, n = e.fields.size();  // two or more, as the elements
    do {
        if (type_of(s) != TYPE_OBJECT) return nullptr;
        *ctx = s->w1;
        s = slot = kept_field(e, *ctx, i);
        if (!slot) return nullptr;
    } while (++i < n);
    return slot;
}

// The value of a path of fields read where its fields are kept, as a word
// is read: false where path_value must walk it.
ZUV_IN_LINE bool kept_path_value(const Expr& e, Cell* out) {
    Node ctx;
    const Cell* s = kept_path_slot(e, &ctx);
    if (!s || !placed_q(type_of(s))) return false;
    *out = *s;
    return true;
}

// Stores value in the object field a set-path of words names (o/x:, or
// o/p/x: through objects held in fields), when that is a plain write (no
// change handler runs): the field's word marked changed, as word::set marks
// it; false where the walker's path walk must store it. Where each
// element's field is kept, the store is made in line.
bool store_found_field(const Expr& e, const Cell& value);
ZUV_IN_LINE bool store_field(const Expr& e, const Cell& value) {
    Node ctx = 0;
    Cell* slot = e.field_path ? kept_path_slot(e, &ctx) : nullptr;
    if (!slot) [[unlikely]]
        return store_found_field(e, value);
    const Field& f = e.fields.back();
    bool kept = f.ctx == ctx;
    const Cell* owner = kept ? f.context + 1 : _context::own_value(ctx);
    if (_context::on_change && type_of(owner) == TYPE_OBJECT && owner->w3 != 0) return false;
    Cell* word = kept ? f.word : _context::get_word_cell(ctx, int32_t(e.items.back().w3));
    word->header |= _context::WORD_CHANGED;
    *slot = value;
    return true;
}

// ---- pure expressions ----

// The word after an expression took no part in it when compiled; now
// naming an operator, it takes the expression's value.
ZUV_IN_LINE bool operator_after_q(const Expr& e) {
    const Cell* s = slot_of(e.after, e.after_slot);
    return s && type_of(s) == TYPE_OP;
}

// The same, for an expression compiled with a bound word after it: a set
// value read in place is the value alone only while that word is no
// operator; one now takes the value as its left operand, before the store.
ZUV_IN_LINE bool operator_now_after_q(const Expr& e) { return e.check_after && operator_after_q(e); }

bool pure_nested(const Expr& e, Cell* out);
bool path_value(const Expr& e, Cell* out);
ZUV_IN_LINE bool path_prefix_value(const Expr& e, size_t n, Cell* out);

// A constant or a word, where it stands (a word's slot, read, not copied);
// null when it is not plain. A pure constant is never unset (the form
// leaves an unset cell to the general run).
ZUV_IN_LINE const Cell* leaf_of(const Expr& e) {
    if (e.kind == K_CONST) return &e.cell;
    const Cell* s = slot_of(e.cell, e.slot);
    return s && placed_q(type_of(s)) ? s : nullptr;
}

// The value of a flat expression into out: a word or constant with
// operators on words and constants. Its operands are leaves, so it has a loop
// of its own rather than apply_operators (which reads parens through it: the
// inlined helpers must not call one another in a cycle).
ZUV_IN_LINE bool flat_value(const Expr& e, Cell* out) {
    const Cell* first = leaf_of(e);
    if (!first) return false;
    *out = *first;
    for (const Op& op : e.ops) {
        const Cell* w = slot_of(op.word, op.slot);
        if (!w || !same_q(*w, op.op)) return false;
        const Cell* right = leaf_of(*op.right);
        if (!right || !op.compute(out, right)) return false;
    }
    return true;
}

// An operator's right operand (a pure expression with no operator after
// it), where it stands: a constant's cell, a word's slot (read, not
// copied), else the value put in scratch; null when it is not plain.
ZUV_IN_LINE const Cell* operand_of(const Expr& e, Cell* scratch) {
    if (e.kind == K_CONST || e.kind == K_WORD) return leaf_of(e);
    if (e.flat_paren) return flat_value(*e.args[0], scratch) ? scratch : nullptr;
    return pure_nested(e, scratch) ? scratch : nullptr;
}

// Room for the frames the walker would push for the pure expression e, with
// `under` frames of its caller's below them: a pure read is made only where
// they fit, so that the stack overflows at the same depth in both tiers.
ZUV_IN_LINE bool room_for_pure(const Expr& e, int32_t under) {
    return stack::room_q(under + e.frames, 2 + 2 * e.frames) && stack_room_q();
}

// Room for the frames a library function's body would push, where its call
// is computed in place instead (none needed for a native or action).
ZUV_IN_LINE bool room_for_body(in_place::Kind k, int32_t under) {
    int32_t frames = in_place::body_frames(k);
    return frames == 0 || stack::room_q(under + frames, 2 + 2 * frames);
}

// The operators of a pure expression applied in place to its value in out,
// each while its word holds the op compiled and both operands are plain.
ZUV_IN_LINE bool apply_operators(const Expr& e, Cell* out) {
    for (const Op& op : e.ops) {
        const Cell* w = slot_of(op.word, op.slot);
        if (!w || !same_q(*w, op.op)) return false;
        Cell scratch;
        const Cell* right = operand_of(*op.right, &scratch);
        if (!right || !op.compute(out, right)) return false;
    }
    return true;
}

// The value of a pure expression into out: false when a guard fails or an
// operand is not plain, and the expression must run as any other. A word
// or a constant first is read here, in the caller; anything else by
// pure_nested. A value computed is never unset, nor is a word's read here.
ZUV_IN_LINE bool pure_value(const Expr& e, Cell* out) {
    if (e.kind == K_WORD) {
        const Cell* s = slot_of(e.cell, e.slot);
        if (!s || !placed_q(type_of(s))) return false;
        *out = *s;
        return apply_operators(e, out);
    }
    if (e.kind == K_CONST) {
        *out = e.cell;
        return apply_operators(e, out);
    }
    if (e.flat_paren) return flat_value(*e.args[0], out) && apply_operators(e, out);
    if (e.field_path && kept_path_value(e, out)) return apply_operators(e, out);
    return pure_nested(e, out);
}

// The value of an any or all whose expressions are pure, as the native
// gives it: the first value that is not false or none, or none (any); none
// at the first that is, or the last value (all). False when a guard fails.
[[gnu::noinline]] bool conditions_value(const Expr& e, Cell* out) {
    const Cell* s = slot_of(e.cell, e.slot);
    // A word after the block that became an operator takes the block as its
    // left operand: the call is made as any other.
    if (!s || !same_q(*s, e.callable) || (e.ops.empty() && operator_now_after_q(e))) return false;
    bool any = e.kind == K_ANY;
    for (const Expr* x : e.inner) {
        if (!pure_value(*x, out) || operator_now_after_q(*x)) return false;
        if (logic::false_q(out) == any) continue;
        if (!any) none::make_at(out);
        return true;
    }
    if (any || e.inner.empty()) none::make_at(out);
    return true;
}

// pure_value for a call, a path or a paren first.
[[gnu::noinline]] bool pure_nested(const Expr& e, Cell* out) {
    switch (e.kind) {
        case K_CALL: {
            // Its word still holds the callable compiled, no word after an
            // argument has become an operator that would take it, and both
            // arguments are plain.
            const Cell* s = slot_of(e.cell, e.slot);
            if (!s || !same_q(*s, e.callable)) return false;
            const Expr& a = *e.args[0];
            if (!pure_value(a, out) || operator_now_after_q(a)) return false;
            if (e.args.size() == 1) {
                if (!e.arg_types.has(type_of(out)) || !e.compute(out, &e.operand)) return false;
                break;
            }
            const Expr& b = *e.args[1];
            Cell right;
            if (!pure_value(b, &right) || operator_now_after_q(b) || !e.compute(out, &right)) return false;
            break;
        }
        case K_PATH:
            if (!path_prefix_value(e, e.items.size(), out)) return false;
            break;
        case K_ANY: case K_ALL:  // of pure expressions
            if (!conditions_value(e, out)) return false;
            break;
        case K_PAREN:  // of one pure expression
            if (!pure_value(*e.args[0], out)) return false;
            break;
        default: return pure_value(e, out);
    }
    return apply_operators(e, out) && type_of(out) != TYPE_UNSET;
}

int32_t run_pure(const Run& r, const Expr& e, bool sub);
int32_t run_paren_alone(const Run& r, const Expr& e, bool sub);
int32_t run_word(const Run& r, const Expr& e, bool sub);
int32_t run_const(const Run&, const Expr& e, bool sub);
int32_t run_call_alone(const Run& r, const Expr& e, bool sub);

// ---- function bodies ----

ZUV_IN_LINE bool quiet_value(const Expr& e, Cell* v, int32_t under = 0, bool roomy = false);

// The value x returns, where x is `return value` with a pure value and its
// word still names return: read into v, with room for the frames the walker
// pushes for it above `under` frames of its callers. False where the call
// must be made as any other.
ZUV_IN_LINE bool returned_value(const Expr& x, Cell* v, int32_t under) {
    if (x.kind != K_CALL || x.args.size() != 1 || !x.ops.empty()) return false;
    const Cell* s = slot_of(x.cell, x.slot);
    if (!s || type_of(s) != TYPE_NATIVE || s->w1 != natives::slot::return_star) return false;
    const Expr& a = *x.args[0];
    return a.pure && stack::room_q(under + 1 + a.frames, 8 + 2 * a.frames) && stack_room_q() && pure_value(a, v) &&
           !operator_now_after_q(a);
}

int32_t run_branch_quiet(const Run& r, const Expr& e, bool sub);

// The condition of a body's last if, unless or either read in line and the
// branch it chose (null: none), where the branch could not be read in line:
// the call is made with them (run_chosen_last).
struct Chosen {
    bool made = false;
    Cell condition;
    const Cell* branch;
    Form* form;
};
ZUV_IN_LINE size_t read_body_in_line(const Form* f, Cell* v, Chosen* chosen);
ZUV_IN_LINE void run_chosen_last(Form* f, const Cell* code, int32_t end, const Chosen& chosen);

// A function body's last expression that read_body_in_line may read.
ZUV_IN_LINE bool ends_in_line_q(const Expr& x) {
    return (x.kind == K_CALL && x.args.size() == 1 && x.args[0]->pure) || x.run == run_branch_quiet;
}

ZUV_IN_LINE void run_held_form(Form* f, const Cell* code, int32_t end, size_t from);
// The form's expressions run under a hold of the form, in the caller: a
// block's run makes no call of its own for it.
ZUV_IN_LINE void run_form(Form* f, const Cell* code, int32_t end, size_t from = 0) {
    Busy busy(f);
    run_held_form(f, code, end, from);
}

// The value of a quiet expression into v (a set-word's or set-path's stored), where its
// guards hold, the stack has room for the frames it skips and the word after
// it is no operator now; false, nothing done, where it must run as any other.
// under: frames its caller would push below it.
// roomy: the room was found for it already.
ZUV_IN_LINE bool quiet_value(const Expr& e, Cell* v, int32_t under, bool roomy) {
    if (e.pure) return (roomy || room_for_pure(e, under)) && pure_value(e, v) && !operator_now_after_q(e);
    const Expr& x = *e.args[0];
    if (!(roomy || room_for_pure(x, under + 1)) || !pure_value(x, v) || operator_now_after_q(x)) return false;
    return e.kind == K_SET_WORD ? store_plain(e.cell, e.slot, *v) : store_field(e, *v);
}

// The expressions of a quiet form read in line into the result slot (the
// frame's cells emptied first): answers the index of the first that must
// run as any other (a guard failed, or no room for the frames it skips), or
// the count of expressions when all were read.
// The room for the frames of them all is looked for once (roomy: found
// already, by a run from the same place).
ZUV_IN_LINE size_t run_quiet(const Form* f, bool roomy = false) {
    stack::reset();
    if (!roomy && (!stack::room_q(f->quiet_frames, 2 + 2 * f->quiet_frames) || !stack_room_q())) [[unlikely]]
        return 0;
    // Only the last value read lands in the result slot: no one sees the
    // others (nor, should a guard fail, any but the one before it).
    size_t i = 0, n = f->top.size();
    Cell v;
    for (; i < n; i++) {
        if (!quiet_value(*f->top[i], &v, 0, true)) [[unlikely]]
            break;
    }
    if (i > 0) stack::set_last(&v);
    return i;
}

// Polls a pending interrupt (Ctrl+C, a signal): true when what the poll ran
// left a code pending, and the caller must stop.
ZUV_IN_LINE bool interrupted() {
    if (!runtime::interrupt_pending) [[likely]] return false;
    runtime::poll_interrupt();
    return stack::pending() != 0;
}

// eval_block_here's steps for such a block (a branch, in the current
// frame). A quiet form's expressions are read in line into its result slot:
// nothing in them can fail or run code, so the block's position and hold are
// never seen. One whose guard fails runs on from that expression as any
// other, the values read before it left where the walker leaves them.
// known: the block's form, when the caller found it already.
ZUV_IN_LINE void run_branch_steps(const Cell& block, Form* known = nullptr) {
    if (interrupted()) [[unlikely]] return;
    Node node = block.w2;
    int32_t head = std::max(int32_t(block.w1), 0);
    // A form found for the block is the table's, its tail the block's.
    int32_t end = known ? known->tail : tail_of(node);
    Form* f = known ? known : head < end ? find_form(node, head, end) : nullptr;
    size_t from = 0;
    if (f && f->quiet) {
        from = run_quiet(f);
        if (from == f->top.size()) {
            stack::keep();
            return;
        }
    }
    Cell code = block;
    // Held as eval_block holds it: the code holding the literal may change
    // while the literal runs.
    Hold hold(code);
    SavedPosition saved_position;
    if (from == 0) stack::reset();
    if (head >= end) {
        unset::make_at(stack::arguments);
    } else {
        *current_position = code;
        if (f && !f->top.empty()) run_form(f, &code, end, from);
        else walk_rest(&code, end, head);
        if (stack::pending()) return;
    }
    stack::keep();
}

// eval_block's steps for such a block in a frame of its own. A quiet form's
// expressions (a function's body such as [x * x] or [y: x * 2 y + 1]) are
// read in line with no frame pushed, the last value then pushed as the
// block's unwinding leaves it (and with chain also copied into the result
// slot).
// body: the block is the body of the function call whose frame is current.
// Its quiet expressions are read in line up to the first that is not one;
// where that is the last and returns a pure value (`return x + 1`) or is an
// if, unless or either read in line, the call's result is made with the
// body's frame skipped (read_body_in_line).
// owner: the decoding that keeps the body, which keeps its form too.
ZUV_IN_LINE void run_block_steps(const Cell& block, bool chain, bool body = false, const Callee* owner = nullptr) {
    if (interrupted()) [[unlikely]] return;
    Node node = block.w2;
    int32_t head = std::max(int32_t(block.w1), 0);
    int32_t end;
    Form* f;
    if (owner && owner->body_at == forms_made) {
        f = owner->body_form;  // still the table's, and the block unchanged
        verify(f);
        end = f->tail;
    } else {
        end = tail_of(node);
        f = head < end ? find_form(node, head, end) : nullptr;
        if (owner && f && !f->waiting) {
            owner->body_form = f;
            owner->body_at = forms_made;
        }
    }
    size_t from = 0;
    Cell value;
    Chosen chosen;
    if (f && f->quiet) {
        if (stack::room_q(1 + f->quiet_frames, 2 + 2 * f->quiet_frames) && stack_room_q()) {
            size_t n = f->top.size();
            while (from < n && quiet_value(*f->top[from], &value, 1, true)) from++;
            if (from == n) {
                copy_cell(&value, stack::top);
                stack::push_kept();
                if (chain) copy_cell(&value, stack::arguments);
                return;
            }
        }
    } else if (body && f && f->walk_from < 0 && !f->top.empty() && ends_in_line_q(*f->top.back())) {
        from = read_body_in_line(f, &value, &chosen);
        if (from == f->top.size()) return;
    }
    Cell code = block;
    // Held as eval_block holds it: the code holding the literal may change
    // while the literal runs, and a function's body may be redefined.
    Hold hold(code);
    SavedPosition saved_position;
    stack::mark_eval(&words::tag_body);
    if (from > 0) stack::set_last(&value);  // the value of the last expression read
    if (head >= end) {
        unset::make_at(stack::arguments);
    } else {
        *current_position = code;
        if (chosen.made) run_chosen_last(f, &code, end, chosen);
        else if (f && !f->top.empty()) run_form(f, &code, end, from);
        else walk_rest(&code, end, head);
        if (stack::pending()) return;
    }
    if (chain) stack::unwind_last_return();
    else stack::unwind_last();
}

// exec_function for a call of a function made by compiled code (its frame
// current, its cells in place): exec_body's steps for a body run untraced,
// the body run in place. A function with compiled code of its own, or one
// with the trace attribute while a trace runs, takes exec_function.
void run_function(const Cell& fn, const Callee* c, const Cell& name) {
    // The decoding keeps the body of the function last called with it.
    const Cell* kept = fn.w3 == c->more ? (c->interpreted ? &c->body : nullptr) : keep_body(fn, c);
    if (!kept || ((fn.header & function::FLAG_TRACE) && trace_run_q)) [[unlikely]] {
        exec_function(&fn, function_context(fn, name, nullptr), &name, 0);
        return;
    }
    Cell body = *kept;
    CallState state(fn.w1);
    stack::Frame* frame = stack::frames_top - 1;
    frame->header |= stack::FRAME_BODY;  // the target of return and exit
    if (type_of(&body) == TYPE_BLOCK) {
        try {
            run_block_steps(body, true, true, kept == &c->body ? c : nullptr);
        } catch (const Throw& t) {
            // return and exit from C++ code that could not pass them on: the
            // stacks are already unrolled to this call (and the body's run
            // put the position back as it left).
            if (t.code != THROW_RETURN && t.code != THROW_EXIT) throw;
        }
    } else {
        unset::make_at(stack::arguments);
    }
    uint32_t code = stack::pending();
    if (code != 0) {
        // Anything but this call's own return or exit is for a receiver
        // further out, to which the stacks already belong.
        if ((code != THROW_RETURN && code != THROW_EXIT) || stack::frames_top - 1 != frame) return;
        stack::clear_pending();
        stack::keep();  // the result cell, received at this call's base, stays live
    }
    frame->header &= ~stack::FRAME_BODY;
}

// ---- calls ----

// A routine that tests a datatype or a typeset, its argument in place (its
// frame current): the result computed as the routine gives it; false when
// the routine must run.
[[gnu::noinline]] bool routine_test(const Callee* c) {
    Cell operand{};
    if (c->type_test >= 0) {
        operand.w1 = uint32_t(c->type_test);
        return in_place::compute(in_place::TYPE_TEST, stack::arguments, &operand);
    }
    if (c->typeset_test == 0) return false;
    operand.w1 = uint32_t(c->typeset_test);
    return in_place::compute(in_place::TYPESET_TEST, stack::arguments, &operand);
}

// Runs the entry or body of a call of fn whose arguments are in place (its
// frame current), as the walker runs it.
[[gnu::always_inline]] inline void run_callee(const Cell& fn, const Callee* c, const Cell& name) {
    switch (c->type) {
        case TYPE_NATIVE:
            if (c->native) stack::call_caught(c->native, false, NO_REFINEMENTS);
            else run_plain_entry(fn);
            break;
        case TYPE_ACTION:
            if (c->action) stack::call_caught(c->action);
            else run_plain_entry(fn);
            break;
        case TYPE_FUNCTION:
            push_rest(c, 0, c->rest_cells.size());
            run_function(fn, c, name);
            break;
        default:
            if (!routine_test(c)) run_routine(fn);
            break;
    }
}

// The slot of the control native a kind runs in place.
uint32_t control_slot(Kind kind) {
    switch (kind) {
        case K_IF: return natives::slot::if_star;
        case K_UNLESS: return natives::slot::unless_star;
        case K_EITHER: return natives::slot::either_star;
        case K_WHILE: return natives::slot::while_star;
        case K_UNTIL: return natives::slot::until_star;
        case K_LOOP: return natives::slot::loop_star;
        case K_REPEAT: return natives::slot::repeat_star;
        case K_FOREVER: return natives::slot::forever_star;
        case K_FOREACH: return natives::slot::foreach_star;
        case K_ANY: return natives::slot::any_star;
        case K_ALL: return natives::slot::all_star;
        case K_CATCH: return natives::slot::catch_star;
        case K_TRY: return natives::slot::try_star;
        case K_SWITCH: return natives::slot::switch_star;
        default: return 0;
    }
}

// The index among its literal blocks of the branch if, unless or either
// (kind) chooses for condition, by the natives' own rule; -1 for none.
ZUV_IN_LINE int32_t branch_index(Kind kind, const Cell* condition) {
    using namespace natives::control;
    return kind == K_EITHER ? either_branch(condition) : if_branch(kind == K_IF, condition);
}

// if, unless or either whose blocks stand alone: no word after the last
// (the others are followed by a block) that may have become an operator
// taking it.
inline bool branch_kind_q(const Expr& e) {
    return (e.kind == K_IF || e.kind == K_UNLESS || e.kind == K_EITHER) && !e.args.back()->check_after;
}

bool quiet_read(const Expr& e, const Cell& fn, const Callee* c, Cell* out, int32_t under, int32_t above,
                bool again);
ZUV_IN_LINE bool quiet_callee_q(const Cell& fn, const Callee* c);

// The value of e into out where it is a call through a word, with nothing
// after it that may be an operator, of a function whose calls read in line
// with arguments that do (quiet_read); under and above: the frames and cells
// the caller skipped below it. The caller may still make the call (its
// value is not one it can use in line): the body stores only into its own
// cells. False, nothing seen, where it must run.
ZUV_IN_LINE bool quiet_call_value(const Expr& e, Cell* out, int32_t under, int32_t above) {
    if (e.run != run_call_alone || !e.in_line_args) return false;
    // The callee last met here reads no call in line: the call is made (and
    // meets the callable of the word, should it be another by now).
    const Callee* last = e.site.callee;
    if (last && e.site.forgotten == callees_forgotten && !last->quiet_form && last->quiet_at == forms_made)
        return false;
    const Cell* s = slot_of(e.cell, e.slot);
    if (!s || type_of(s) != TYPE_FUNCTION) return false;
    Cell fn = *s;
    const Callee* c = site_callee(e.site, e.shape, fn);
    return c && quiet_callee_q(fn, c) && quiet_read(e, fn, c, out, under, above, true);
}

// A call's argument pushed as its runner would push it, read here where it
// is a word's value, a pure expression or a constant (the most common
// arguments, which can neither fail nor run code): false, nothing pushed,
// where it must run.
ZUV_IN_LINE bool pushed_in_line(const Expr& a) {
    Cell v;
    const Cell* s;
    if (a.run == run_word && (s = slot_of(a.cell, a.slot)) && placed_q(type_of(s))) stack::push(s);
    else if (a.run == run_pure && room_for_pure(a, 0) && pure_value(a, &v) && !operator_now_after_q(a)) stack::push(&v);
    else if (a.run == run_const) stack::push(&a.cell);
    else return false;
    return true;
}

// An argument read into the cell `to` where it is a word's value, a pure
// expression or a constant (read as pushed_in_line reads it), with `under`
// frames below it; false where it must run.
ZUV_IN_LINE bool argument_in_line(const Expr& a, Cell* to, int32_t under) {
    const Cell* s;
    if (a.run == run_word && (s = slot_of(a.cell, a.slot)) && placed_q(type_of(s))) *to = *s;
    else if (a.run == run_pure && room_for_pure(a, under) && pure_value(a, to) && !operator_now_after_q(a)) {}
    else if (a.run == run_const) *to = a.cell;
    else return false;
    return true;
}

// The form of a function's body (c's) when its calls may be read in line
// (quiet_read), else null: every expression quiet, and those before the last
// storing only into the function's own cells, so that a call read part way
// (a guard failed) may be made again from its start with nothing done twice.
// Decided again only when a form was made or went since.
[[gnu::noinline]] const Form* find_quiet_body(const Cell& fn, const Callee* c) {
    c->quiet_at = forms_made;
    c->quiet_form = nullptr;
    const Cell& body = c->body;
    if (type_of(&body) != TYPE_BLOCK) return nullptr;
    Node node = body.w2;
    Form* f = form_at(node);
    if (f <= SEEN || !f->quiet || f->head != std::max(int32_t(body.w1), 0) || f->tail != tail_of(node) ||
        f->waiting || f->top.empty())
        return nullptr;
    auto own_q = [&fn](const Expr& x) { return x.pure || (x.kind == K_SET_WORD && x.cell.w1 == fn.w1); };
    for (size_t i = 0; i + 1 < f->top.size(); i++)
        if (!own_q(*f->top[i])) return nullptr;
    c->quiet_form = f;
    c->quiet_redo = own_q(*f->top.back());
    return f;
}

// The value of a call of the function fn (decoding c) through e into out,
// read in line where nothing in it can fail, collect or run code: its
// arguments are words' values, pure expressions or constants of the types
// its spec admits, and its body reads in line (find_quiet_body). The call's
// cells (its arguments, then its refinements' and locals' cells) are
// written where the walker puts them, above the top, and the body reads
// them as the running function's; the callable's copy, the call's frame,
// the body's frame and the call state are left out, with room for them all
// above the frames and cells that the caller skipped below the call (under,
// above: the walker's would stand there). again: the caller may make the
// call after all, so that the body must store nothing but into its own
// cells. False, nothing seen, where the call must be made.
[[gnu::noinline]] bool quiet_read(const Expr& e, const Cell& fn, const Callee* c, Cell* out, int32_t under,
                                  int32_t above, bool again) {
    const Form* f = c->quiet_at == forms_made ? c->quiet_form : find_quiet_body(fn, c);
    if (!f || (again && !c->quiet_redo) || runtime::interrupt_pending || ((fn.header & function::FLAG_TRACE) && trace_run_q)) return false;
    verify(f);
    size_t n = e.args.size(), rest = c->rest_cells.size();
    // The frames: the call's and its body's, then the expressions'.
    if (!stack::room_q(under + 2 + f->quiet_frames, above + int32_t(1 + n + rest) + 2 + 2 * f->quiet_frames) ||
        !stack_room_q())
        return false;
    Cell* base = stack::top + above + 1;
    for (size_t i = 0; i < n; i++) {
        if (!argument_in_line(*e.args[i], base + i, under + 1) || !c->args[i].types.has(type_of(base + i)))
            return false;
    }
    if (rest) std::memcpy(static_cast<void*>(base + n), c->rest_cells.data(), rest * sizeof(Cell));
    Node context = fn.w1;
    Cell* context_cell = _context::cell_of(context);
    uint32_t values = context_cell->w2;
    Locals saved = locals;
    context_cell->w2 = stack::values_word_of(base);
    locals = {context, base, uint32_t(n + rest)};
    size_t i = 0, count = f->top.size();
    while (i < count && quiet_value(*f->top[i], out, under + 2, true)) i++;
    locals = saved;
    context_cell->w2 = values;
    return i == count;
}

// Whether a call of fn (decoding c) may be read in line (quiet_read): a
// function run from its body, that body found to read in line or not looked
// at since the forms last changed.
ZUV_IN_LINE bool quiet_callee_q(const Cell& fn, const Callee* c) {
    return (c->quiet_form || c->quiet_at != forms_made) && c->type == TYPE_FUNCTION && fn.w3 == c->more &&
           c->interpreted;
}

// A call through the word of e: the callable copied, its frame, its fixed
// arguments compiled, then the entry, the body, a control run in place or
// the operation computed in place.
[[gnu::always_inline]] inline int32_t run_call(const Run& r, const Expr& e, bool sub) {
    const Cell* s = slot_of(e.cell, e.slot);
    if (!s || !callable_q(type_of(s))) [[unlikely]]
        return walk(r, e, sub);
    Cell fn = *s;
    const Callee* c = site_callee(e.site, e.shape, fn);
    if (!c) [[unlikely]]
        return walk(r, e, sub);
    if (e.in_line_args && quiet_callee_q(fn, c)) [[unlikely]] {
        Cell v;
        if (quiet_read(e, fn, c, &v, 0, 0, false)) {
            // Where the call's unwinding leaves the value and the top.
            Cell* first = stack::top;
            copy_cell(&v, first);
            stack::top = first + 1;
            if (!sub) stack::set_last(&v);
            return e.args.empty() ? e.start + 1 : e.args.back()->next;
        }
    }
    Pin pin(c);  // the arguments may run code that collects

    Cell* copy = stack::push(&fn);  // stays below the frame while the call runs
    if (c->type == TYPE_FUNCTION) stack::mark_eval_func(&e.cell);
    else stack::mark_eval_native(&e.cell);
    int32_t position = e.start + 1;
    size_t n = e.args.size();
    bool control = e.kind != K_CALL && type_of(&fn) == TYPE_NATIVE && fn.w1 == control_slot(e.kind);
    // if, unless and either choose their branch among the literal blocks of
    // the form: the branch runs after a reset of the frame, which drops the
    // blocks' cells unread, so they are not pushed (with room for them, as
    // an overflow must come where the walker meets it).
    bool chosen = control && branch_kind_q(e) && stack::room_q(0, int32_t(n));
    if (chosen) n = 1;
    for (size_t i = 0; i < n; i++) {
        const Expr& a = *e.args[i];
        if (pushed_in_line(a)) {
            // Nothing ran: the argument ends where the form expects and the
            // form stands, so only its type is checked.
            position = a.next;
            uint32_t t = type_of(stack::top - 1);
            if (!c->args[i].types.has(t)) [[unlikely]]
                return raise_expect_arg(fn, e.cell, c->cache, c->args[i].entry, t), position;
            continue;
        }
        position = run_expr(r, a, true);
        if (stack::pending()) return position;
        uint32_t t = type_of(stack::top - 1);
        if (!c->args[i].types.has(t)) [[unlikely]]
            return raise_expect_arg(fn, e.cell, c->cache, c->args[i].entry, t), position;
        if (position != a.next || r.form->dead) [[unlikely]] {
            // The walker fetches the rest (and runs a native's entry).
            position = fetch_arguments_from(&fn, c->args[i].entry + 1, position, r.end, r.code, nullptr, &e.cell,
                                            APPLY_NONE, false);
            if (stack::pending()) return position;
            if (c->type == TYPE_FUNCTION) run_function(fn, c, e.cell);
            else if (c->type == TYPE_ROUTINE) run_routine(fn);
            if (stack::pending()) return position;
            end_call(copy, sub);
            return position;
        }
    }
    if (chosen) {
        position = e.args.back()->next;
        stack::call_entry([&e] { run_branch_of(e.kind, e.items.data()); });
    } else if (control) {
        stack::call_entry([&e] { run_control(e.kind); });
    } else if (c->fast != in_place::NONE && room_for_body(c->fast, 0) &&
               in_place::compute(c->fast, stack::arguments, stack::arguments + 1)) {
        // computed in place
    } else if (const char* id = c->fast != in_place::NONE
                                    ? in_place::error_of(c->fast, stack::arguments, stack::arguments + 1)
                                    : nullptr) {
        raise(ErrorCategory::math, id);  // what the entry raises, without its throw
    } else {
        run_callee(fn, c, e.cell);
    }
    if (stack::pending()) return position;
    end_call(copy, sub);
    return position;
}

// The value slot of the path's get-word element i (b/:i), or null when it is
// not bound: a word of the running function reads the call's cells, any
// other keeps the slot it found (in the element's Field), as a field element
// keeps its own.
[[gnu::noinline]] const Cell* find_pick_word_slot(const Expr& e, size_t i) {
    const Cell& item = e.items[i];
    if (!item.w1 || int32_t(item.w3) < 0) return nullptr;
    Cell* slot = _context::value_slot(item.w1, int32_t(item.w3));
    const Cell* c = _context::cell_of(item.w1);
    if (slot && !_context::on_stack_q(c)) {
        memory::keep_slots(c->w2);
        if (e.fields_at != memory::relocations) forget_fields(e);
        e.fields[i].value = slot;
    }
    return slot;
}
ZUV_IN_LINE const Cell* pick_word_slot(const Expr& e, size_t i) {
    const Cell& item = e.items[i];
    if (local_q(item)) return locals.base + item.w3;
    if (e.fields_at == memory::relocations) [[likely]] {
        if (const Cell* slot = e.fields[i].value) return slot;
    }
    return find_pick_word_slot(e, i);
}

// The position in the block that a path's pick element names (an integer,
// or a get-word holding one), counted from the block's buffer head: -1 when
// it lies outside the block (a read gives none), PICK_REFUSED when the
// element is no such pick.
constexpr int32_t PICK_REFUSED = -2;
ZUV_IN_LINE int32_t pick_of(const Expr& e, size_t i, const Cell& block, const SeriesBuffer* b) {
    const Cell* by = &e.items[i];
    if (type_of(by) == TYPE_GET_WORD) {
        by = pick_word_slot(e, i);
        if (!by) return PICK_REFUSED;
    }
    if (type_of(by) != TYPE_INTEGER) return PICK_REFUSED;
    int32_t index = int32_t(by->w2);
    int64_t p = index == 0 ? -1 : int64_t(int32_t(block.w1)) + index + (index > 0 ? -1 : 0);
    return p < 0 || p >= (memory::used_bytes(b) >> 4) ? -1 : int32_t(p);
}

// The decoding for a call of fn through the path of e: the one compiled
// while fn reads it (the same function, or another with the same argument
// cache, as the methods of objects made from one prototype share theirs),
// else fn's own when it takes the cells compiled (its fixed arguments of the
// same shape, its refinements where the compiled ones are); null when the
// walker must make the call.
[[gnu::noinline]] const Callee* other_path_callee(const Expr& e, const Cell& fn) {
    const Callee* c = callee_of(fn);
    if (!c || c->type != type_of(&e.callable) || !(c->shape == e.shape)) return nullptr;
    if (c->type != TYPE_FUNCTION && !builtin_entry_q(fn, c)) return nullptr;
    if (!e.flags.empty()) {
        // The refinements' cells were placed by the compiled cache's layout:
        // the same entries, a refinement's binding aside (functions made
        // apart from one spec have theirs each).
        Cell entry;
        int32_t n = 0;
        for (; detail::read_cell(c->cache, n, &entry); n++) {
            if (size_t(n) >= e.layout.size()) return nullptr;
            Cell was = e.layout[size_t(n)];
            if (type_of(&entry) == TYPE_REFINEMENT) was.w1 = entry.w1;
            if (std::memcmp(&entry, &was, sizeof(Cell)) != 0) return nullptr;
        }
        if (size_t(n) != e.layout.size()) return nullptr;
    }
    // A method with compiled code of its own is the walker's call (it runs
    // in the object's context).
    if (c->type == TYPE_FUNCTION && e.items.size() >= 2 && !interpreted_body(fn)) return nullptr;
    e.site.fn = fn;
    e.site.callee = c;
    e.site.cycles = collector::series_cycles;
    e.site.forgotten = callees_forgotten;
    return c;
}
inline const Callee* path_callee(const Expr& e, const Cell& fn) {
    Site& site = e.site;
    if (site.cycles == collector::series_cycles && site.forgotten == callees_forgotten) [[likely]] {
        if (same_q(fn, site.fn)) return site.callee;
        const Cell* cache = fn.w3 ? function::more_cell(&fn, function::MORE_ARG_CACHE) : nullptr;
        if (cache && type_of(cache) == TYPE_BLOCK && cache->w2 == site.callee->cache) {
            site.fn = fn;
            return site.callee;
        }
    }
    return other_path_callee(e, fn);
}

// The entry of a native or action called with refinement words.
void run_builtin_entry(const Cell& fn, const Callee* c, const int32_t* words) {
    stack::call_entry([&] {
        if (c->type == TYPE_NATIVE) c->native(false, words);
        else actions::invoke(int32_t(fn.w1), words);
    });
}

// A function, native or action called through its word or as a method
// (o/f), with refinements: its frame named by the word (the method's
// field), its fixed arguments, then, for a function, the cells of its
// refinements (each used one's logic cell true, its arguments in the cells
// after it), its locals and its body, and for a native or action the
// arguments of the refinements used, in the path's order, and its entry, as
// the walker's path call makes them; a method's object held while it runs.
// Should an argument end elsewhere than compiled, the walker fetches the
// rest, each by its kind, into the same cells. Another value of the word or
// the field, and the walker makes the whole call.
template <bool FUNCTION>
int32_t refined_call_of(const Run& r, const Expr& e, bool sub, const Cell& fn, const Callee* c, const Cell& name) {
    Pin pin(c);  // the arguments may run code that collects
    Cell* copy = stack::push(&fn);  // stays below the frame while the call runs
    if (FUNCTION) stack::mark_eval_func(&name);
    else stack::mark_eval_native(&name);
    int32_t position = e.start + 1;
    bool compiled = true;  // the arguments end where the form expects them
    size_t fixed = c->args.size();
    size_t locals_from = c->rest_cells.size() - size_t(c->local_cells);
    int32_t words[natives::MAX_REFINEMENTS];  // a builtin's refinement words
    size_t named = 0;
    int32_t dropped = -1;  // a builtin's: the first cell of the arguments of a refinement named off
    if (!FUNCTION) std::memcpy(words, NO_REFINEMENTS, sizeof words);
    for (size_t i = 0, n = e.args.size(); i <= n; i++) {
        // The cells of a function's refinements, all off, then each named
        // one set where its arguments begin.
        if (FUNCTION && i == fixed)
            push_rest(c, 0, locals_from);
        for (; named < e.flags.size() && size_t(e.flag_args[named]) == i; named++) {
            const Cell& by = e.flag_words[named];
            bool on = type_of(&by) != TYPE_GET_WORD || !logic::false_q(word::value_cell(&by));
            if (FUNCTION) {
                logic::make_at(stack::arguments + e.flags[named], on);
                continue;
            }
            if (dropped >= 0) stack::top = stack::arguments + dropped;
            int32_t first = int32_t(stack::top - stack::arguments);
            dropped = -1;
            if (on) words[e.flags[named]] = first;
            else dropped = first;
        }
        if (i == n) {
            if (dropped >= 0) stack::top = stack::arguments + dropped;
            break;
        }
        const ArgSpec& spec = i < fixed ? c->args[i] : e.refined[i - fixed].first;
        const Expr& a = *e.args[i];
        if (compiled) {
            if (pushed_in_line(a)) {
                position = a.next;
            } else {
                position = run_expr(r, a, true);
                if (stack::pending()) return position;
            }
            uint32_t t = type_of(stack::top - 1);
            if (!spec.types.has(t)) [[unlikely]]
                return raise_expect_arg(fn, name, c->cache, spec.entry, t), position;
            compiled = position == a.next && !r.form->dead;
        } else {
            position = fetch_entry_argument(fn, name, r.code, r.end, c->cache, spec.entry, position);
            if (stack::pending()) return position;
        }
        if (FUNCTION && i >= fixed) {
            copy_cell(stack::top - 1, stack::arguments + e.refined[i - fixed].second);
            stack::pop(1);
        }
    }
    if (FUNCTION) {
        push_rest(c, locals_from, c->rest_cells.size());
        run_function(fn, c, name);
    } else {
        run_builtin_entry(fn, c, words);
    }
    if (stack::pending()) return position;
    end_call(copy, sub);
    return position;
}

[[gnu::noinline]] int32_t run_refined_call(const Run& r, const Expr& e, bool sub) {
    const Cell* s = slot_of(e.items[0], e.slot);
    Cell owner{};
    none::make_at(&owner);
    // A method: the field of that name in the object the head word (and
    // the fields after it) hold now, whichever object that is.
    for (size_t i = 1, n = e.items.size(); i < n && s; i++) {
        if (type_of(s) != TYPE_OBJECT) {
            s = nullptr;
            break;
        }
        owner = *s;
        s = field_slot(e, owner.w1, i);
    }
    const Callee* c = s && callable_q(type_of(s)) ? path_callee(e, *s) : nullptr;
    if (!c) [[unlikely]] {
        ZUV_NOTE_WALKED(r.code, e.start, "a refined call's guard");
        return eval_expression(r.code, e.start, r.end, true, sub, false);
    }
    Cell fn = *s;
    Hold hold_owner(owner);  // the method's object stays alive while it runs
    if (c->type == TYPE_FUNCTION) return refined_call_of<true>(r, e, sub, fn, c, e.items.back());
    return refined_call_of<false>(r, e, sub, fn, c, e.items.back());
}

// ---- words, parens and paths ----

// A set-word, as eval_set_word: its frame named by the set-word holding the
// word and the value, the value stored, the frame's first cell the result.
// A pure value is stored without the frame when the store is a plain write.
[[gnu::noinline]] int32_t run_set_word(const Run& r, const Expr& e, bool sub) {
    const Expr& value_expr = *e.args[0];
    if (value_expr.pure) {
        Cell v;
        if (room_for_pure(value_expr, 1) && pure_value(value_expr, &v) && !operator_now_after_q(value_expr) &&
            store_plain(e.cell, e.slot, v)) {
            Cell* first = stack::top;
            place(&v, sub);
            stack::top = first + 1;  // where the walker leaves it
            return value_expr.next;
        }
    } else if (value_expr.in_line_args) {
        // A call that reads in line, read without the set-word's frame too.
        Cell v;
        if (quiet_call_value(value_expr, &v, 1, 1) && store_plain(e.cell, e.slot, v)) {
            Cell* first = stack::top;
            place(&v, sub);
            stack::top = first + 1;
            return value_expr.next;
        }
    }
    stack::mark_eval_native(&e.cell);
    Cell* word = stack::push(&e.cell);
    int32_t next = run_expr(r, value_expr, true);
    if (stack::pending()) return next;
    Cell* value = word + 1;
    if (type_of(value) == TYPE_UNSET) {
        raise(ErrorCategory::script, "need-value", &e.cell);
        return next;
    }
    if (!store_plain(e.cell, e.slot, *value)) word::set(word, value);
    stack::set_last(word + 1);
    if (sub) stack::unwind_last();
    else stack::unwind_last_return();
    return next;
}

// The expressions of a paren decoded in the form, as eval_block runs them
// under the paren's frame: its value then pushed (sub) or copied into the
// caller's result slot.
ZUV_IN_LINE void run_paren_exprs(const Run& outer, const Expr& e, bool sub) {
    check_depth();
    if (interrupted()) [[unlikely]] return;
    Cell code = e.cell;
    Hold hold(code);
    SavedPosition saved_position;
    stack::mark_eval(&words::tag_body);
    *current_position = code;
    Run r{outer.form, &code, e.inner_end};
    int32_t position = std::max(int32_t(code.w1), 0);
    for (const Expr* x : e.args) {
        current_position->w1 = uint32_t(position);
        position = run_expr(r, *x, false);
        if (stack::pending()) return;
        if (position >= (r.form->dead ? limit_of(code.w2, r.end) : r.end)) break;
        stack::reset();
        if (position != x->next || r.form->dead) [[unlikely]] {
            walk_rest(&code, r.end, position);
            if (stack::pending()) return;
            break;
        }
    }
    if (sub) stack::unwind_last();
    else stack::unwind_last_return();
}

ZUV_IN_LINE int32_t run_paren(const Run& r, const Expr& e, bool sub) {
    if (e.args.empty()) run_block_value(e.cell, !sub);
    else run_paren_exprs(r, e, sub);
    return e.value_end;
}

// A paren with nothing after it that may be an operator: its expressions
// run here, without the general runner's steps for operators.
ZUV_IN_LINE int32_t paren_alone(const Run& r, const Expr& e, bool sub) {
    Cell* first = stack::top;
    int32_t next = run_paren(r, e, sub);
    if (stack::pending()) return next;
    if (r.form->dead && !e.prefix) [[unlikely]]
        return eval_infix(r.code, next, r.end, sub, first);
    return next;
}

int32_t run_paren_alone(const Run& r, const Expr& e, bool sub) { return paren_alone(r, e, sub); }

// ---- operators ----

// The operator after the value in first_cell (the stack's top cell): in
// place when both operands are plain and its op is the one compiled, else
// called as the walker calls it. Answers the position after its right
// operand.
[[gnu::noinline]] int32_t run_op(const Run& r, const Op& op, bool sub, Cell* first_cell) {
    const Cell* s = slot_of(op.word, op.slot);
    if (!s || !same_q(*s, op.op)) [[unlikely]]
        return eval_infix(r.code, op.at, r.end, sub, first_cell);  // the walker, from the operator on
    const Cell& fn = op.fn;
    if (op.fast != in_place::NONE && op.right->pure && room_for_pure(*op.right, 1) && room_for_body(op.fast, 1)) {
        // The right operand is read without a frame: reading it can neither
        // fail nor run code. When the operands are not plain the call is made.
        Cell scratch;
        const Cell* right = operand_of(*op.right, &scratch);
        if (right && op.compute(first_cell, right)) {
            stack::top = first_cell + 1;  // where the entry's result would stand
            return op.right->next;
        }
    }
    if (op.fast != in_place::NONE && room_for_body(op.fast, 1)) {
        // A call on the right that reads in line, alone or in a paren, read
        // without the operator's frame (and the paren's) too.
        const Expr& x = *op.right;
        bool paren = x.kind == K_PAREN && x.args.size() == 1 && x.args[0]->in_line_args;
        Cell right;
        if ((paren || x.in_line_args) && quiet_call_value(paren ? *x.args[0] : x, &right, paren ? 2 : 1, 0) &&
            op.compute(first_cell, &right)) {
            stack::top = first_cell + 1;
            return x.next;
        }
    }
    const Callee* c = site_callee(op.site, OPERATOR_SHAPE, fn);
    if (!c) [[unlikely]]
        return eval_infix(r.code, op.at, r.end, sub, first_cell);
    Pin pin(c);  // the right operand may run code that collects

    // The call, as eval_code and run_call make it for an operator.
    stack::top = first_cell;
    Hold hold(fn);
    if (c->type == TYPE_FUNCTION) stack::mark_eval_func(&op.word);
    else stack::mark_eval_native(&op.word);
    stack::push_kept();  // the left operand is already the frame's first cell
    uint32_t t = type_of(stack::arguments);
    if (!c->args[0].types.has(t)) [[unlikely]]
        return raise_expect_arg(fn, op.word, c->cache, c->args[0].entry, t), op.at + 1;
    // A paren on the right (`a + (f b)`) runs here, one C++ layer fewer.
    int32_t position =
        op.right->run == run_paren_alone ? paren_alone(r, *op.right, true) : run_expr(r, *op.right, true);
    if (stack::pending()) return position;
    t = type_of(stack::top - 1);
    if (!c->args[1].types.has(t)) [[unlikely]]
        return raise_expect_arg(fn, op.word, c->cache, c->args[1].entry, t), position;
    if (position != op.right->next || r.form->dead) [[unlikely]] {
        position = fetch_arguments_from(&fn, c->args[1].entry + 1, position, r.end, r.code, nullptr, &op.word,
                                        APPLY_NONE, true);
        if (stack::pending()) return position;
        if (c->type == TYPE_FUNCTION) run_function(fn, c, op.word);
        else if (c->type == TYPE_ROUTINE) run_routine(fn);
    } else if (op.fast != in_place::NONE && room_for_body(op.fast, 0) &&
               in_place::compute(op.fast, stack::arguments, stack::arguments + 1)) {
        // computed in place
    } else if (const char* id = op.fast != in_place::NONE
                                    ? in_place::error_of(op.fast, stack::arguments, stack::arguments + 1)
                                    : nullptr) {
        raise(ErrorCategory::math, id);  // what the entry raises, without its throw
        return position;
    } else {
        run_callee(fn, c, op.word);
    }
    if (stack::pending()) return position;
    if (sub) stack::unwind_last();
    else stack::unwind_last_return();
    return position;
}

// The value of a path's first n elements where the walk is sure to find
// it: each field of the object its word is bound to, each pick of a block
// by an integer or a get-word holding one. False where the walker's path
// walk must run from its head (the value not there, or one it would call or
// refuse).
ZUV_IN_LINE bool path_prefix_value(const Expr& e, size_t n, Cell* out) {
    const Cell* s = slot_of(e.items[0], e.slot);
    if (!s || !placed_q(type_of(s))) return false;
    Cell current = *s;
    for (size_t i = 1; i < n; i++) {
        Cell& item = e.items[i];
        if (type_of(&item) == TYPE_WORD) {
            if (type_of(&current) != TYPE_OBJECT) return false;
            const Cell* field = field_slot(e, current.w1, i);
            if (!field || !placed_q(type_of(field))) return false;
            current = *field;
        } else {
            if (type_of(&current) != TYPE_BLOCK) return false;
            const SeriesBuffer* b = memory::buffer_of(current.w2);
            int32_t p = pick_of(e, i, current, b);
            if (p == PICK_REFUSED) return false;
            if (p < 0) {
                none::make_at(&current);
            } else {
                current = memory::cells_head(b)[p];
                if (callable_q(type_of(&current))) return false;
            }
        }
    }
    *out = current;
    return true;
}

// A path's value where the walk is sure to find it.
bool path_value(const Expr& e, Cell* out) {
    return (e.field_path && kept_path_value(e, out)) || path_prefix_value(e, e.items.size(), out);
}

// A path read for its value: path_value, else the walker's path walk.
[[gnu::noinline]] int32_t run_path(const Run& r, const Expr& e, bool sub) {
    Cell value;
    if (path_value(e, &value)) {
        place(&value, sub);
        return e.value_end;
    }
    ZUV_NOTE_WALKED(r.code, e.start, "a path walked");
    return eval_path(&e.cell, e.value_end, r.end, r.code, false, false, sub);
}

bool store_pick(const Expr& e, const Cell& value);

// store_field's walk, where a field is not kept.
[[gnu::noinline]] bool store_found_field(const Expr& e, const Cell& value) {
    size_t n = e.items.size();
    if (type_of(&e.items[n - 1]) != TYPE_WORD) return store_pick(e, value);
    const Cell* s = slot_of(e.items[0], e.slot);
    Cell* slot = nullptr;
    Node ctx = 0;
    for (size_t i = 1; i < n; i++) {
        if (!s || type_of(s) != TYPE_OBJECT || type_of(&e.items[i]) != TYPE_WORD) [[unlikely]]
            return false;
        ctx = s->w1;
        s = slot = field_slot(e, ctx, i);
    }
    if (!slot) [[unlikely]]
        return false;
    const Cell* owner = _context::own_value(ctx);
    if (_context::on_change && type_of(owner) == TYPE_OBJECT && owner->w3 != 0) return false;
    _context::get_word_cell(ctx, int32_t(e.items[n - 1].w3))->header |= _context::WORD_CHANGED;
    *slot = value;
    return true;
}

// Stores value at the position of a block that a set-path's last element
// picks (b/1:, o/items/:i:), when the walker's store would be a plain write
// of that cell: a block! that is not tracked for reactivity, holds no
// compiled code and has the position; false where the walker must store it
// (and raise its error).
[[gnu::noinline]] bool store_pick(const Expr& e, const Cell& value) {
    size_t n = e.items.size();
    Cell block;
    if (n < 2 || !path_prefix_value(e, n - 1, &block) || type_of(&block) != TYPE_BLOCK) return false;
    SeriesBuffer* b = memory::buffer_of(block.w2);
    int32_t p = pick_of(e, n - 1, block, b);
    if (p < 0 || (b->flags & (SERIES_OWNED | SERIES_CODE))) return false;
    memory::cells_for_write(b)[p] = value;
    return true;
}

// A set-path, as eval_set_path: the value under a frame named set-path, then
// stored in an object's field directly when that runs no change handler,
// else by the walker's path walk in set mode. A pure value stored so needs
// no frame: the stack is left as the frame's unwinding leaves it.
[[gnu::noinline]] int32_t run_set_path(const Run& r, const Expr& e, bool sub) {
    const Expr& value_expr = *e.args[0];
    if (value_expr.pure) {
        Cell v;
        if (room_for_pure(value_expr, 1) && pure_value(value_expr, &v) && !operator_now_after_q(value_expr) &&
            store_field(e, v)) {
            if (!sub) stack::set_last(&v);
            stack::push(&v);
            return value_expr.next;
        }
    }
    stack::mark_eval_native(&words::set_path);
    int32_t next = run_expr(r, value_expr, true);
    if (stack::pending()) return next;
    if (!store_field(e, *stack::arguments)) {
        ZUV_NOTE_WALKED(r.code, e.start, "a set-path walked");
        eval_path(&e.cell, next, r.end, r.code, true, false, true);
        if (stack::pending()) return next;
    }
    if (sub) stack::unwind_last();
    else stack::unwind_last_return();
    return next;
}

// ---- expressions ----

ZUV_IN_LINE int32_t run_value(const Run& r, const Expr& e, bool sub) {
    switch (e.kind) {
        case K_CONST:
            place(&e.cell, sub);
            return e.value_end;
        case K_WORD: {
            const Cell* s = slot_of(e.cell, e.slot);
            if (!s || !placed_q(type_of(s))) [[unlikely]]
                return walk(r, e, sub);
            place(s, sub);
            return e.value_end;
        }
        case K_GET_WORD: {
            const Cell* s = slot_of(e.cell, e.slot);
            if (!s) return walk(r, e, sub);
            place(s, sub);
            return e.value_end;
        }
        case K_SET_WORD: return run_set_word(r, e, sub);
        case K_PAREN: return run_paren(r, e, sub);
        case K_PATH: return run_path(r, e, sub);
        case K_SET_PATH: return run_set_path(r, e, sub);
        case K_WALK: return walk(r, e, sub);
        case K_PATH_CALL:  // the call alone: the operators after it are the form's
            ZUV_NOTE_WALKED(r.code, e.start, "a path call");
            return eval_expression(r.code, e.start, r.end, true, sub, false);
        case K_REFINED_CALL: return run_refined_call(r, e, sub);
        default: return run_call(r, e, sub);
    }
}

// An expression whose runner is none of the short ones: its value by kind,
// then its operators; then the look at the word after it.
int32_t run_general(const Run& r, const Expr& e, bool sub) {
    Cell* first = stack::top;  // where the value lands; an operator's first argument
    int32_t next = run_value(r, e, sub);
    if (stack::pending()) return next;
    if (next != e.value_end || r.form->dead) [[unlikely]]
        return e.prefix ? next : eval_infix(r.code, next, r.end, sub, first);
    for (const Op& op : e.ops) {
        next = run_op(r, op, sub, first);
        if (stack::pending()) return next;
        if (next != op.right->next || r.form->dead) [[unlikely]]
            return eval_infix(r.code, next, r.end, sub, first);
    }
    if (e.check_after && operator_after_q(e)) [[unlikely]]
        return eval_infix(r.code, e.next, r.end, sub, first);
    return e.next;
}

// A pure expression: read without frames when there is room for those the
// walker would push, else (or when a guard fails) as any other.
int32_t run_pure(const Run& r, const Expr& e, bool sub) {
    Cell* first = stack::top;
    Cell v;
    if (!room_for_pure(e, 0) || !pure_value(e, &v)) [[unlikely]]
        return run_general(r, e, sub);
    place(&v, sub);
    // Where the walker's last frame leaves the top: after the value.
    if (!sub && (!e.ops.empty() || e.kind == K_PAREN || e.kind == K_CALL)) stack::top = first + 1;
    if (e.check_after && operator_after_q(e)) [[unlikely]]
        return eval_infix(r.code, e.next, r.end, sub, first);
    return e.next;
}

// A call through a word with nothing after it that may be an operator.
int32_t run_call_alone(const Run& r, const Expr& e, bool sub) {
    Cell* first = stack::top;
    int32_t next = run_call(r, e, sub);
    if (stack::pending()) return next;
    if ((next != e.value_end || r.form->dead) && !e.prefix) [[unlikely]]
        return eval_infix(r.code, next, r.end, sub, first);
    return next;
}

// if, unless or either (e, its word naming the native, nothing after it
// that may be an operator) whose pure condition was read as condition and
// whose branch (null: none) is chosen: the call made as run_call makes it,
// its frame and condition pushed, the blocks left out (with room for them),
// without reading the condition again. Another type than the native takes,
// or no room, and the call is made as any other. form: the branch's form
// when the caller found it (nothing collects until the branch runs).
ZUV_IN_LINE int32_t run_chosen_call(const Run& r, const Expr& e, bool sub, const Cell& condition,
                                    const Cell* branch, Form* form) {
    const Cell& fn = e.callable;
    const Callee* c = site_callee(e.site, e.shape, fn);
    if (!c || !c->args[0].types.has(type_of(&condition)) || e.args.back()->check_after ||
        !stack::room_q(1, int32_t(e.args.size()) + 1)) [[unlikely]]
        return run_call_alone(r, e, sub);
    Cell* copy = stack::push(&fn);  // stays below the frame while the call runs
    stack::mark_eval_native(&e.cell);
    stack::push(&condition);
    // The branch runs here, with no catch of its own: compiled code passes
    // its exits on as pending, and an error thrown below (a native's own
    // catch aside) finds the stacks unrolled to its receiver, which accepts
    // it as the throw it is.
    if (branch) {
        Cell block = *branch;  // the form's copy may go while the branch runs
        run_branch_steps(block, form);
    } else {
        none::make_at(stack::arguments);
    }
    if (stack::pending()) return e.value_end;
    end_call(copy, sub);
    return e.value_end;
}

// A constant alone, and a word alone (nothing after it can be an
// operator): placed without more ado.
int32_t run_const(const Run&, const Expr& e, bool sub) {
    place(&e.cell, sub);
    return e.next;
}

int32_t run_word(const Run& r, const Expr& e, bool sub) {
    const Cell* s = slot_of(e.cell, e.slot);
    if (!s || !placed_q(type_of(s))) [[unlikely]]
        return walk(r, e, sub);
    place(s, sub);
    return e.next;
}

// The run of the form is at position, where an expression stopped other
// than the form expected (the walker ran it, or a callee of another arity):
// from the form's expression that starts there, else the walker runs the
// block until it stops where one starts. Answers that expression's index,
// or the count of them when the walker ran to the end, left a code pending
// or the form went.
[[gnu::noinline]] size_t walk_to_form(Form* f, const Cell* code, int32_t end, int32_t position) {
    size_t n = f->top.size();
    for (bool walked = false;; walked = true) {
        if (f->dead) {
            walk_rest(code, end, position);
            return n;
        }
        if (position < f->tail && f->at[size_t(position - f->head)]) {
            auto found = std::lower_bound(f->top.begin(), f->top.end(), position,
                                          [](const Expr* e, int32_t at) { return e->start < at; });
            return size_t(found - f->top.begin());
        }
        if (!walked) ZUV_NOTE_WALKED(code, position, nullptr);
        current_position->w1 = uint32_t(position);
        position = eval_expression(code, position, end, false, false, false);
        if (stack::pending() || position >= limit_of(code->w2, end)) return n;
        stack::reset();
    }
}

void run_on(Form* f, const Cell* code, int32_t end, int32_t position);

// The form's expressions, as eval_block's loop runs a block's (its eval
// frame pushed, current_position on the block), the form held by the caller.
// A quiet expression is read in line: its value lands in the result slot as
// the walker's would, with nothing else to see. Where an expression stops
// other than the form expected, the run goes on from the form's expression
// the walker comes to (run_on).
// from: the index of the top expression to start at.
ZUV_IN_LINE void run_held_form(Form* f, const Cell* code, int32_t end, size_t from) {
    check_depth();
    Run r{f, code, end};
    int32_t position = from == 0 ? f->head : f->top[from]->start;
    for (size_t i = from, n = f->top.size(); i < n; i++) {
        const Expr* e = f->top[i];
        if (e->quiet) {
            Cell v;
            if (quiet_value(*e, &v)) [[likely]] {
                stack::set_last(&v);
                position = e->next;
                if (position >= f->tail) return;
                continue;
            }
        }
        current_position->w1 = uint32_t(position);
        if (runtime::interrupt_pending) [[unlikely]] {
            runtime::poll_interrupt();  // Ctrl+C at the prompt halts the command here
            if (stack::pending()) return;
        }
        position = run_expr(r, *e, false);
        if (stack::pending()) return;
        if (position >= (f->dead ? limit_of(code->w2, end) : f->tail)) return;
        stack::reset();  // only the last expression's value survives
        if (position != e->next || f->dead) [[unlikely]] {
            run_on(f, code, end, position);
            return;
        }
    }
}

// run_held_form's run from position, after an expression that stopped
// elsewhere than the form expected: the form's expression the walker comes
// to (walk_to_form) and those after it, and so on for each that stops so.
[[gnu::noinline]] void run_on(Form* f, const Cell* code, int32_t end, int32_t position) {
    Run r{f, code, end};
    size_t n = f->top.size();
    for (size_t i = walk_to_form(f, code, end, position); i < n;) {
        const Expr* e = f->top[i++];
        current_position->w1 = uint32_t(e->start);
        if (runtime::interrupt_pending) [[unlikely]] {
            runtime::poll_interrupt();
            if (stack::pending()) return;
        }
        position = run_expr(r, *e, false);
        if (stack::pending()) return;
        if (position >= (f->dead ? limit_of(code->w2, end) : f->tail)) return;
        stack::reset();
        if (position != e->next || f->dead) i = walk_to_form(f, code, end, position);
    }
}

// The literal block that if, unless or either (e) chooses for the condition
// c, by the natives' own rule; null when if or unless chooses none.
ZUV_IN_LINE const Cell* chosen_branch(const Expr& e, const Cell& c) {
    int32_t k = branch_index(e.kind, &c);
    return k < 0 ? nullptr : &e.items[size_t(k)];
}

// A branch's one expression `return value` with a pure value, made in line
// where the word still names return: the stacks unrolled to the running
// body as return unrolls them, the frames of the branch's native and of
// return skipped (with room for them, above `under` frames of the callers),
// as nothing in them can fail or run code. False, nothing done, where the
// call must be made as any other (the error of a return with no body to
// receive it among them).
ZUV_IN_LINE bool return_in_line(const Expr& x, int32_t under) {
    Cell v;
    return returned_value(x, &v, under) && stack::return_in_place(v);
}

// What reading if, unless or either in line came to.
enum class BranchRead { NONE, CHOSEN, READ, RETURNED };

// if, unless or either (e) with a pure condition, read in line with the
// frames of `under` callers skipped below its own: where the word still
// names the native, the condition is read and the branch chosen (CHOSEN,
// the condition and the branch, null for none, given back); where the
// branch chosen is a block of one quiet expression (or none is chosen) its
// value is read into v (READ), as nothing in the native's frame and the
// branch's can fail or run code; where that expression returns a pure
// value, the call returns (RETURNED, the code pending). NONE: a guard
// failed, nothing read.
ZUV_IN_LINE BranchRead read_branch(const Expr& e, int32_t under, Cell* v, Cell* condition, const Cell** branch,
                                   Form** form) {
    const Cell* s = slot_of(e.cell, e.slot);
    const Expr& c = *e.args[0];
    if (!s || !same_q(*s, e.callable) || !room_for_pure(c, under + 1) || !pure_value(c, condition) ||
        operator_now_after_q(c) || operator_now_after_q(e))
        return BranchRead::NONE;
    *branch = chosen_branch(e, *condition);
    if (!*branch) {
        none::make_at(v);
        return BranchRead::READ;
    }
    Node node = (*branch)->w2;
    int32_t head = std::max(int32_t((*branch)->w1), 0);
    int32_t end = tail_of(node);
    Form* f = head < end ? find_form(node, head, end) : nullptr;
    *form = f;
    if (!f || f->top.size() != 1 || f->walk_from >= 0) return BranchRead::CHOSEN;
    if (f->quiet) return quiet_value(*f->top[0], v, under + 1) ? BranchRead::READ : BranchRead::CHOSEN;
    return return_in_line(*f->top[0], under + 1) ? BranchRead::RETURNED : BranchRead::CHOSEN;
}

// if, unless and either with a pure condition: read in line as a whole
// where it can be (read_branch). Else the call is made with the condition
// read (run_chosen_call), or, with a word after it, as any other (reading
// the condition again changes nothing).
int32_t run_branch_quiet(const Run& r, const Expr& e, bool sub) {
    Cell v, condition;
    const Cell* branch = nullptr;
    Form* form = nullptr;
    switch (read_branch(e, 0, &v, &condition, &branch, &form)) {
        case BranchRead::READ:
            if (!sub) stack::set_last(&v);
            stack::push(&v);  // where the call's frame leaves the top
            return e.next;
        case BranchRead::RETURNED: return e.next;  // the code is pending
        case BranchRead::CHOSEN:
            if (!e.check_after) return run_chosen_call(r, e, sub, condition, branch, form);
            break;
        case BranchRead::NONE: break;
    }
    return e.check_after ? run_general(r, e, sub) : run_call_alone(r, e, sub);
}

// A function's body (its call's frame current) whose last expression
// returns a pure value (`return x + 1`) or is an if, unless or either read
// in line (read_branch), the ones before it quiet: those read in line, then
// the last, with no frame of the body's: its value becomes the call's
// result as the body's run or return leaves it, or it returns. Answers the
// count of expressions when the body is done, else the index of the first
// to run as any other (the value of the one before it in v).
ZUV_IN_LINE size_t read_body_in_line(const Form* f, Cell* v, Chosen* chosen) {
    size_t from = 0, n = f->top.size();
    const Expr& last = *f->top[n - 1];
    if (n > 1) {
        for (size_t i = 0; i + 1 < n; i++)
            if (!f->top[i]->quiet) return 0;
        if (!stack::room_q(1 + f->quiet_frames, 2 + 2 * f->quiet_frames) || !stack_room_q()) return 0;
        while (from + 1 < n && quiet_value(*f->top[from], v, 1, true)) from++;
        if (from + 1 != n) return from;
    }
    Cell value;
    if (last.kind == K_CALL) {
        if (!returned_value(last, &value, 1)) return from;
        copy_cell(&value, stack::arguments);
        stack::keep();
        return n;
    }
    switch (read_branch(last, 1, &value, &chosen->condition, &chosen->branch, &chosen->form)) {
        case BranchRead::READ:
            copy_cell(&value, stack::top);
            stack::push_kept();
            copy_cell(&value, stack::arguments);
            return n;
        case BranchRead::RETURNED: return n;  // the code is pending, for this call
        case BranchRead::CHOSEN: chosen->made = !last.check_after; return from;
        case BranchRead::NONE: return from;
    }
    return from;
}

// The body's last expression, whose condition read_body_in_line read and
// whose branch it chose, run as run_held_form runs it (the body's frame
// current): the call made with them, without reading the condition again.
ZUV_IN_LINE void run_chosen_last(Form* f, const Cell* code, int32_t end, const Chosen& chosen) {
    Busy busy(f);
    check_depth();
    const Expr& e = *f->top.back();
    int32_t position = e.start;
    current_position->w1 = uint32_t(position);
    Form* form = chosen.form;
    if (runtime::interrupt_pending) [[unlikely]] {
        runtime::poll_interrupt();
        if (stack::pending()) return;
        form = nullptr;  // what the poll ran may have changed the branch
    }
    Run r{f, code, end};
    position = run_chosen_call(r, e, false, chosen.condition, chosen.branch, form);
    if (stack::pending()) return;
    if (position >= (f->dead ? limit_of(code->w2, end) : f->tail)) return;
    stack::reset();
    walk_rest(code, end, position);
}

}  // namespace

bool args_in_line_q(const Expr& e) {
    for (const Expr* a : e.args)
        if (a->run != run_word && a->run != run_pure && a->run != run_const) return false;
    return true;
}

Runner runner_of(const Expr& e) {
    if ((e.kind == K_IF || e.kind == K_UNLESS || e.kind == K_EITHER) && e.ops.empty() && e.args[0]->pure)
        return run_branch_quiet;
    if (e.ops.empty() && !e.check_after) {
        if (e.kind == K_CONST) return run_const;
        if (e.kind == K_WORD) return run_word;
        if ((e.kind == K_CALL || e.kind >= K_IF) && !e.pure) return run_call_alone;
        if (e.kind == K_PAREN && !e.pure) return run_paren_alone;
    }
    if (e.pure) return run_pure;
    return run_general;
}

// ---- entries ----

namespace {

// A function whose callback cells (what C++ callers push after the values
// given: false for each refinement, none for each word after the first
// refinement, in the spec's order) are its compiled call's: count fixed
// arguments, then at most its locals, run from its body.
bool plain_callback_q(const Callee* c, const Cell& fn, int32_t count) {
    if (!interpreted_body(fn) || c->args.size() != size_t(count) || !c->refined_args.empty() ||
        c->rest_cells.size() != size_t(c->local_cells))
        return false;
    SeriesBuffer* spec = memory::buffer_of(fn.w2);
    const Cell* cell = memory::cells_head(spec);
    int32_t cells = 0;
    for (int32_t i = 0, n = memory::length_of(spec); i < n; i++, cell++) {
        switch (type_of(cell)) {
            case TYPE_REFINEMENT: case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: cells++; break;
            default: break;
        }
    }
    return cells == count + c->local_cells;
}

}  // namespace

bool call_function(const Cell& fn, const Cell& name, const Cell* args, int32_t count) {
    if (!run_q() || type_of(&fn) != TYPE_FUNCTION || ((fn.header & function::FLAG_TRACE) && trace_run_q))
        return false;
    // The callable last called so (or none when it must take the general
    // call), kept as a call site keeps it: a sort calls one comparator many
    // times.
    static Site site;
    const Callee* c = site.callee;
    if (!same_q(fn, site.fn) || site.cycles != collector::series_cycles || site.forgotten != callees_forgotten) {
        if (!cache_built_q(fn)) build_arg_cache(&fn);  // its spec was checked when it was made
        c = callee_of(fn);
        if (c && !plain_callback_q(c, fn, count)) c = nullptr;
        site.fn = fn;
        site.callee = c;
        site.cycles = collector::series_cycles;
        site.forgotten = callees_forgotten;
    }
    if (!c || c->args.size() != size_t(count)) return false;
    Pin pin(c);
    if (!stack::room_q(0, count + int32_t(c->rest_cells.size()))) return false;  // the general call overflows
    for (int32_t i = 0; i < count; i++) stack::push(&args[i]);
    push_rest(c, 0, c->rest_cells.size());
    run_function(fn, c, name);
    return true;
}

bool run_block(const Cell* code, int32_t head, int32_t end) {
    Form* f = find_form(code->w2, head, end);
    if (!f || f->top.empty()) return false;  // nothing compiled: the walker runs it all
    run_form(f, code, end);
    return true;
}

void run_block_value(const Cell& block, bool chain) { run_block_steps(block, chain); }

void run_branch_value(const Cell& block) { run_branch_steps(block); }

void run_branch_of(Kind kind, const Cell* blocks) {
    int32_t k = branch_index(kind, stack::arguments);
    if (k < 0) none::make_at(stack::arguments);
    else run_branch_steps(blocks[k]);
}

// ---- blocks run again and again ----

void Repeated::release() {
    let_go_form(form_);
    form_ = nullptr;
    quiet_ = false;
    resume_ = 0;
}

void Repeated::run(bool walked) {
    if (walked && !run_q()) [[unlikely]] {
        interpreter::eval_block_here(block_);
        return;
    }
    // The form kept stands while it is not dead: any change of the block's
    // cells or tail kills it, and the block cell itself is the native's.
    Form* f = form_;
    if (!f || f->dead || f->node != block_->w2) [[unlikely]] {
        slow_run(walked);
        return;
    }
    // run_block_steps for a block that has a form, with no hold of its own.
    if (interrupted()) [[unlikely]] return;
    verify(f);
    size_t from = resume_;
    resume_ = 0;
    if (from == 0 && f->quiet) {
        bool roomy = roomy_frames_ == stack::frames_top && roomy_cells_ == stack::arguments;
        from = run_quiet(f, roomy);
        if (from == f->top.size()) [[likely]] {
            roomy_frames_ = stack::frames_top;
            roomy_cells_ = stack::arguments;
            stack::keep();
            return;
        }
    }
    Cell code = *block_;
    SavedPosition saved_position;
    if (from == 0) stack::reset();
    *current_position = code;
    run_held_form(f, &code, f->tail, from);
    if (stack::pending()) return;
    stack::keep();
}

ZUV_IN_LINE const Form* Repeated::ready(bool walked) const {
    const Form* f = form_;
    if (!f || f->dead || !f->quiet || resume_ || (walked && !run_q()) || roomy_frames_ != stack::frames_top ||
        roomy_cells_ != stack::arguments) [[unlikely]]
        return nullptr;
    return f;
}

bool Repeated::read(bool walked) {
    const Form* f = ready(walked);
    if (!f || runtime::interrupt_pending) [[unlikely]]
        return false;
    verify(f);
    // The room was found by ready(); the place to go on from is kept should
    // a guard fail.
    size_t i = run_quiet(f, true);
    if (i == f->top.size()) [[likely]] {
        stack::keep();
        return true;
    }
    resume_ = i;
    return false;
}

Stepped Repeated::steps(const Steps& s, bool walked) {
    const Form* f = ready(walked);
    if (!f) return Stepped::general;
    const Form* c = nullptr;
    if (s.condition) {
        c = s.condition->ready(walked);
        if (!c || c->top.size() != 1) return Stepped::general;
    }
    // A step sets the loop's word only where that is a plain write: a store
    // that runs code (an object's change handler) could change the blocks.
    Cell* word_slot = nullptr;
    if (s.word) {
        word_slot = natives::control::plain_word_slot(s.word);
        if (!word_slot) return Stepped::general;
    }
    if (s.series && (type_of(s.series) != TYPE_BLOCK || int32_t(s.series->w1) < 0)) return Stepped::general;
    verify(f);
    size_t n = f->top.size();
    Cell v, last{};
    bool any = false;  // a step was read whole: its value is the frame's
    bool ended = false;
    for (;;) {
        if (runtime::interrupt_pending) [[unlikely]]
            break;
        if (c) {
            if (!quiet_value(*c->top[0], &v, 0, true)) [[unlikely]]
                break;
            if (logic::false_q(&v)) return Stepped::ended;  // while's result is unset
        }
        if (s.made) {
            if (*s.made >= s.count) {
                ended = true;
                break;
            }
            ++*s.made;
            if (word_slot) {
                integer::make_at(s.counter, *s.made);
                *word_slot = *s.counter;
            }
        } else if (s.series) {
            // The body's stores are plain writes: the block and the word's
            // slot stay where they are.
            const SeriesBuffer* b = memory::buffer_of(s.series->w2);
            int32_t at = int32_t(s.series->w1);
            if (at >= memory::length_of(b)) {
                ended = true;
                break;
            }
            *word_slot = memory::cells_head(b)[at];
            s.series->w1++;
        }
        size_t i = 0;
        for (; i < n; i++) {
            if (!quiet_value(*f->top[i], &v, 0, true)) [[unlikely]]
                break;
        }
        if (i < n) [[unlikely]] {
            // run_quiet's leaving, run() going on from expression i.
            if (i > 0) {
                stack::reset();
                stack::set_last(&v);
                resume_ = i;
            }
            return Stepped::body;
        }
        last = v;
        any = true;
        if (s.until && natives::control::strict_true_q(&v)) {
            ended = true;
            break;
        }
    }
    if (any) stack::set_last_only(&last);
    return ended ? Stepped::ended : Stepped::general;
}

int32_t Repeated::truth(bool walked) {
    // The room was found by a run from this frame (each step starts from
    // the same one); nothing in the expression can fail or run code.
    const Form* f = ready(walked);
    if (!f || f->top.size() != 1 || runtime::interrupt_pending) [[unlikely]]
        return -1;
    Cell v;
    if (!quiet_value(*f->top[0], &v, 0, true)) [[unlikely]]
        return -1;
    stack::set_last_only(&v);
    return logic::false_q(&v) ? 0 : 1;  // a pure value is never unset
}

// The block run by the general path (its form dropped, made again, or not
// made yet), then its form, when it has one now, kept for the next runs.
[[gnu::noinline]] void Repeated::slow_run(bool walked) {
    release();
    if (walked) interpreter::eval_block_here(block_);
    else run_branch_value(*block_);
    Node node = block_->w2;
    Form* f = form_at(node);
    if (f > SEEN && f->head == std::max(int32_t(block_->w1), 0) && f->tail == tail_of(node) && !f->waiting &&
        !f->dead && !f->top.empty()) {
        hold_form(f);
        form_ = f;
        quiet_ = f->quiet;
    }
}

bool run_one(const Cell* code, int32_t position, int32_t end, int32_t* next) {
    int32_t head = std::max(int32_t(code->w1), 0);
    Form* f = find_form(code->w2, head, end);
    if (!f || position < f->head || position >= f->tail) return false;
    const Expr* e = f->at[size_t(position - f->head)];
    if (!e) return false;
    check_depth();
    Busy busy(f);
    Run r{f, code, end};
    if (runtime::interrupt_pending) [[unlikely]] {
        runtime::poll_interrupt();
        if (stack::pending()) {
            *next = position;
            return true;
        }
    }
    *next = run_expr(r, *e, false);
    return true;
}

namespace {

bool quiet_value_in(const Form* f, int32_t position, Cell* value, int32_t* next) {
    if (!f || f->dead || position < f->head || position >= f->tail) return false;
    const Expr* e = f->at[size_t(position - f->head)];
    if (!e || !e->quiet || !quiet_value(*e, value, 1)) return false;
    *next = e->next;
    return true;
}

}  // namespace

bool quiet_value_at(const Cell& code, int32_t position, int32_t end, Cell* value, int32_t* next) {
    return quiet_value_in(find_form(code.w2, std::max(int32_t(code.w1), 0), end), position, value, next);
}

int32_t known_expression_count(const Cell& code, int32_t end) {
    Form* f = form_at(code.w2);
    if (f <= SEEN || f->dead || f->waiting || f->walk_from >= 0) return -1;
    if (f->head != std::max(int32_t(code.w1), 0) || f->tail != end) return -1;
    return int32_t(f->top.size());
}

QuietReader::QuietReader(const Cell& code, int32_t end)
    : form_(find_form(code.w2, std::max(int32_t(code.w1), 0), end)) {
    hold_form(form_);
}

QuietReader::~QuietReader() { let_go_form(form_); }

bool QuietReader::value_at(int32_t position, Cell* value, int32_t* next) const {
    return quiet_value_in(form_, position, value, next);
}

int32_t run_one_value(const Cell& code, int32_t position, int32_t end) {
    // A quiet expression is read in line: its frame, its hold and its
    // position are for no one to see.
    Cell v;
    int32_t next;
    if (quiet_value_at(code, position, end, &v, &next)) {
        stack::set_last(&v);
        stack::push(&v);  // where the frame's unwinding leaves the top
        return next;
    }
    Hold hold(code);
    stack::mark_eval_native(&words::tag_body);
    if (!run_one(&code, position, end, &next)) next = eval_expression(&code, position, end, false, false, false);
    if (stack::pending()) return next;
    stack::unwind_last_return();
    return next;
}

}  // namespace zuv::interpreter::compiled
