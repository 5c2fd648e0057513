// function! and routine!: spec checks, locals collection, making, reflecting,
// forming, molding, comparing.
//
// Everything made here is reachable from the data stack before the next
// allocation; series are read by (node, index), never through a Cell* kept
// across an allocation.
#include "runtime/datatypes/function.hpp"

#include <algorithm>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/fire.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/words.hpp"

namespace zuv {

namespace {

// ---- reading series by (node, index) ----

int32_t length_of(Node node) { return memory::length_of(memory::buffer_of(node)); }

// A copy of cell i of the series behind node, or false past its tail.
bool read_cell(Node node, int32_t i, Cell* out) {
    SeriesBuffer* s = memory::buffer_of(node);
    if (i < 0 || i >= memory::length_of(s)) return false;
    *out = memory::cells_head(s)[i];
    return true;
}

inline int32_t head_of(const Cell& series) { return std::max(int32_t(series.w1), 0); }

// A block! on the series behind node, from its first cell.
Cell block_on(Node node) {
    Cell b;
    cell::begin(&b)->w2 = node;
    return *cell::set_type(&b, TYPE_BLOCK);
}

inline int32_t canonical(const Cell& word) { return symbol::resolve(int32_t(word.w2)); }
inline bool canonical_q(const Cell& word, int32_t symbol) { return canonical(word) == symbol::resolve(symbol); }

inline bool argument_word_q(uint32_t t) { return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD; }
inline bool word_like_q(uint32_t t) { return argument_word_q(t) || t == TYPE_REFINEMENT; }

// One node on the cycle stack for the duration of a walk that must never
// meet it again: meeting it empties the stack and raises internal no-cycle.
class CycleGuard : public cycles::Entry {
public:
    explicit CycleGuard(Node node) : cycles::Entry(unvisited(node)) {}

private:
    static Node unvisited(Node node) {
        if (cycles::visited_q(node)) {
            cycles::reset();
            fire(ErrorCategory::internal, "no-cycle");
        }
        return node;
    }
};

// ---- spec checks ----

// The value a type block's word names: its own binding when that context has
// values now, else the global context's.
Cell type_word_value(const Cell& word) {
    if (word.w1 && word.w1 != _context::global && int32_t(word.w3) >= 0) {
        if (const Cell* slot = _context::value_slot(word.w1, int32_t(word.w3))) return *slot;
    }
    Cell v;
    unset::make_at(&v);
    int32_t index = _context::find_word(_context::global, int32_t(word.w2), true);
    if (const Cell* slot = index >= 0 ? _context::value_slot(_context::global, index) : nullptr) v = *slot;
    return v;
}

// Every entry of a type block names a datatype, a typeset or a word.
void check_type_block(const Cell& types) {
    Cell item;
    for (int32_t i = head_of(types); read_cell(types.w2, i, &item); i++) {
        Cell v = item;
        if (type_of(&item) == TYPE_WORD) {
            v = type_word_value(item);
            if (type_of(&v) == TYPE_UNSET) {
                if (symbol::any_type_q(&item)) continue;  // before start-up names it
                fire(ErrorCategory::script, "no-value", &item);
            }
        }
        switch (type_of(&v)) {
            case TYPE_DATATYPE: case TYPE_TYPESET: case TYPE_WORD: break;
            default: fire(ErrorCategory::script, "invalid-type-spec", &item);
        }
    }
}

// The word-like entry at index i of the spec must not share its canonical
// symbol with one before it (from first).
void check_duplicate(Node spec, int32_t first, int32_t i, const Cell& entry) {
    int32_t s = canonical(entry);
    Cell other;
    for (int32_t j = first; j < i && read_cell(spec, j, &other); j++)
        if (word_like_q(type_of(&other)) && canonical(other) == s) fire(ErrorCategory::script, "dup-vars", &entry);
}

// ---- locals collection ----

struct LocalsCollector {
    Cell* list;    // the collected words
    Cell* ignore;  // names never collected: the spec's, the external ones, those collected

    bool ignored_q(const Cell& word) const {
        int32_t s = canonical(word);
        Cell e;
        for (int32_t i = 0; read_cell(ignore->w2, i, &e); i++)
            if (type_of(&e) == TYPE_WORD && canonical(e) == s) return true;
        return false;
    }

    void add(Cell word) {
        if (ignored_q(word)) return;
        word.header = TYPE_WORD;  // a plain word, without the new-line marker
        block::append_cell(list, &word);
        block::append_cell(ignore, &word);
    }

    // A foreach or remove-each word block, or one word.
    void add_loop_words(const Cell& next, bool block_allowed) {
        uint32_t t = type_of(&next);
        if (t == TYPE_WORD || t == TYPE_SET_WORD) {
            add(next);
        } else if (block_allowed && t == TYPE_BLOCK) {
            Cell w;
            for (int32_t i = head_of(next); read_cell(next.w2, i, &w); i++)
                if (argument_word_q(type_of(&w))) add(w);
        }
    }

    void walk(Node node, int32_t head) {
        CycleGuard guard(node);
        Cell c, next;
        for (int32_t i = head; read_cell(node, i, &c); i++) {
            switch (type_of(&c)) {
                case TYPE_SET_WORD: add(c); break;
                case TYPE_WORD:
                    if (!read_cell(node, i + 1, &next)) break;
                    if (canonical_q(c, sym::foreach) || canonical_q(c, sym::remove_each)) add_loop_words(next, true);
                    else if (canonical_q(c, sym::repeat)) add_loop_words(next, false);
                    break;
                case TYPE_BLOCK: case TYPE_PAREN: walk(c.w2, head_of(c)); break;
                default: break;
            }
        }
    }
};

// ---- making ----

// Pushes a block of n unset! cells.
Cell* push_unset_block(int32_t n) {
    Cell* b = cell::begin(stack::push_raw());
    b->w2 = memory::alloc_unset_cells(n);
    SeriesBuffer* s = memory::buffer_of(b->w2);
    s->tail = s->head + n * int32_t(sizeof(Cell));
    return cell::set_type(b, TYPE_BLOCK);
}

// The routine's spec words up to its tail, checked against the header's room.
int32_t count_words(Node spec) {
    int32_t n = 0;
    Cell c;
    for (int32_t i = 0; read_cell(spec, i, &c); i++)
        if (type_of(&c) == TYPE_WORD) n++;
    return n;
}

// ---- registration rows ----

constexpr SlotEntry function_row[] = {
    slot<Act::make, &function::make>,
    NONE,                                    // random
    slot<Act::reflect, &function::reflect>,
    NONE,                                    // to
    slot<Act::form, &function::form>,
    slot<Act::mold, &function::mold>,
    NONE, NONE,                              // eval-path, (never filled)
    slot<Act::compare, &function::compare>,
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 21-30
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 31-40
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 41-50
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 51-60
    NONE, NONE,                                                  // 61-62
};
ZUV_CHECK_ROW(function_row);

constexpr SlotEntry routine_row[] = {
    NONE,                                    // make: routines are made by the runtime only
    NONE,                                    // random
    INHERIT,                                 // reflect
    NONE,                                    // to
    slot<Act::form, &routine::form>,
    slot<Act::mold, &routine::mold>,
    NONE, NONE,                              // eval-path, (never filled)
    slot<Act::compare, &routine::compare>,
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 21-30
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 31-40
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 41-50
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 51-60
    NONE, NONE,                                                  // 61-62
};
ZUV_CHECK_ROW(routine_row);

// Function values compare by their more block: equal only when they share it.
int32_t compare_more(Cell* value1, Cell* value2, int32_t op, uint32_t type) {
    if (type_of(value2) != type) return COMPARE_INCOMPARABLE;
    switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT: case COMP_CASE_SORT:
        case COMP_SAME: case COMP_FIND: {
            int32_t a = int32_t(value1->w3), b = int32_t(value2->w3);
            return (a > b) - (a < b);
        }
        default: return COMPARE_INCOMPARABLE;
    }
}

}  // namespace

// ---- function! ----

namespace function {

uint32_t validate_spec(const Cell* spec_value) {
    Cell spec = *spec_value;
    Node node = spec.w2;
    auto bad = [&spec]() { fire(ErrorCategory::script, "bad-func-def", &spec); };
    uint32_t flags = 0;
    int32_t i = head_of(spec);
    Cell c, next;

    // An attribute block of words may come first.
    if (read_cell(node, i, &c) && type_of(&c) == TYPE_BLOCK) {
        Cell w;
        for (int32_t k = head_of(c); read_cell(c.w2, k, &w); k++) {
            if (type_of(&w) != TYPE_WORD) bad();
            if (canonical_q(w, sym::trace)) flags |= FLAG_TRACE;
            else if (canonical_q(w, sym::no_trace)) flags |= FLAG_NO_TRACE;
        }
        i++;
    }

    int32_t first = i;
    int32_t local_symbol = canonical(refinements::local);
    bool in_locals = false, seen_return = false;
    while (read_cell(node, i, &c)) {
        uint32_t t = type_of(&c);
        switch (t) {
            case TYPE_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
                if (in_locals ? t != TYPE_WORD : seen_return) bad();
                check_duplicate(node, first, i, c);
                i++;
                if (read_cell(node, i, &next) && type_of(&next) == TYPE_BLOCK) {
                    if (in_locals) bad();
                    check_type_block(next);
                    i++;
                }
                if (read_cell(node, i, &next) && type_of(&next) == TYPE_STRING) i++;
                break;
            case TYPE_STRING: i++; break;
            case TYPE_REFINEMENT: {
                bool local = canonical(c) == local_symbol;
                if (in_locals || (seen_return && !local)) bad();
                check_duplicate(node, first, i, c);
                in_locals = local;
                i++;
                if (read_cell(node, i, &next)) {
                    uint32_t n = type_of(&next);
                    if (!argument_word_q(n) && n != TYPE_REFINEMENT && n != TYPE_SET_WORD && n != TYPE_STRING) bad();
                }
                break;
            }
            case TYPE_SET_WORD:
                if (!canonical_q(c, sym::return_) || seen_return || in_locals) bad();
                seen_return = true;
                i++;
                if (!read_cell(node, i, &next) || type_of(&next) != TYPE_BLOCK) bad();
                check_type_block(next);
                i++;
                if (read_cell(node, i, &next) && type_of(&next) != TYPE_REFINEMENT && type_of(&next) != TYPE_STRING)
                    bad();
                break;
            default: bad();
        }
    }
    return flags;
}

Cell* collect_locals(Cell* spec, const Cell* body) {
    Cell* list = block::push_only_star(8);
    Cell* ignore = cell::begin(stack::push_raw());
    block::clone(spec, ignore, false, false);
    LocalsCollector collector{list, ignore};
    Node node = spec->w2;
    int32_t extern_symbol = canonical(refinements::extern_);
    int32_t local_symbol = canonical(refinements::local);

    // Words after /extern stay global; the words of a /local after them are
    // locals already. /extern and what follows it leave the spec.
    bool has_extern = false;
    Cell c;
    for (int32_t i = head_of(*spec); read_cell(node, i, &c); i++) {
        if (type_of(&c) != TYPE_REFINEMENT || canonical(c) != extern_symbol) continue;
        has_extern = true;
        int32_t j = i + 1;
        while (read_cell(node, j, &c) && type_of(&c) == TYPE_WORD) j++;
        if (read_cell(node, j, &c) && type_of(&c) == TYPE_REFINEMENT && canonical(c) == local_symbol) {
            for (j++; read_cell(node, j, &c) && type_of(&c) == TYPE_WORD; j++) {
                c.header = TYPE_WORD;
                block::append_cell(list, &c);
            }
        }
        block::truncate_at(spec, i);
        break;
    }

    // A name of any kind in the spec is a word to ignore.
    for (int32_t i = 0; i < length_of(ignore->w2); i++) {
        Cell* e = memory::cells_for_write(memory::buffer_of(ignore->w2)) + i;
        switch (type_of(e)) {
            case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
                cell::set_type(e, TYPE_WORD);
                break;
            case TYPE_WORD: case TYPE_BLOCK: case TYPE_STRING: break;
            default:
                if (has_extern) {
                    Cell bad = *e;
                    fire(ErrorCategory::script, "bad-func-extern", &bad);
                }
                break;
        }
    }

    Cell b = *body;
    if (type_of(&b) == TYPE_BLOCK) collector.walk(b.w2, head_of(b));

    if (length_of(list->w2) > 0) {
        if (count_locals(node, head_of(*spec), true) < 0) block::append_cell(spec, &refinements::local);
        Cell local_word = words::local;
        block::remove_value(list, &local_word, true);
        block::append_block(spec, list);
    }
    stack::pop(1);  // the ignore block
    return list;
}

int32_t count_locals(Node spec, int32_t start, bool require) {
    int32_t local_symbol = canonical(refinements::local);
    int32_t count = 0;
    bool found = false;
    Cell c;
    for (int32_t i = std::max(start, 0); read_cell(spec, i, &c); i++) {
        uint32_t t = type_of(&c);
        if (!found) {
            if (t == TYPE_REFINEMENT && canonical(c) == local_symbol) {
                found = true;
                count = 1;
            }
        } else if (t == TYPE_WORD) {
            count++;
        }
    }
    return !found && require ? -1 : count;
}

void push_refinement_off(int32_t n) {
    logic::make_at(stack::push_raw(), false);
    for (int32_t i = 1; i < n; i++) none::make_at(stack::push_raw());
}

Node push_new(const Cell* spec, const Cell* body, Node context, int32_t code, Node owner, uint32_t flags) {
    Cell* result = cell::begin(stack::push_raw());
    Cell* held_spec = stack::push(spec);
    if (held_spec->w1 != 0) block::clone(spec, held_spec, false, false);  // the spec is kept from its head
    Cell* held_body = stack::push_raw();
    if (body && type_of(body) == TYPE_BLOCK) block::clone(body, held_body, true, true);
    else none::make_at(held_body);

    Cell* more = push_unset_block(MORE_CELLS);
    Node ctx = context ? context : _context::make_from_spec(held_spec, true, false, _context::KIND_FUNCTION);
    collector::Root keep(ctx);
    if (!context && type_of(held_body) == TYPE_BLOCK) _context::bind_block(held_body, ctx, false);

    Cell* cells = memory::internal_cells(memory::buffer_of(more->w2));
    cells[MORE_BODY] = *held_body;
    if (code) integer::make_at(cell::begin(&cells[MORE_CODE]), code);
    if (owner) integer::make_at(cell::begin(&cells[MORE_OWNER]), int32_t(owner));

    result->w1 = ctx;
    result->w2 = held_spec->w2;
    result->w3 = more->w2;
    cell::set_type(result, TYPE_FUNCTION);
    result->header |= flags & (FLAG_NO_TRACE | FLAG_TRACE);
    // A function context holds its function; a given context of another
    // kind keeps its own value.
    if (_context::kind_of(_context::cell_of(ctx)) == _context::KIND_FUNCTION) *_context::own_value(ctx) = *result;
    stack::top = result + 1;
    return ctx;
}

Cell* make(Cell*, Cell* spec, int32_t) {
    Cell s = *spec;
    Cell fn_spec{}, body{};
    bool ok = type_of(&s) == TYPE_BLOCK && block::zs_length_q(&s) >= 2 &&
              read_cell(s.w2, head_of(s), &fn_spec) && type_of(&fn_spec) == TYPE_BLOCK;
    if (!ok) fire(ErrorCategory::script, "bad-func-def", &s);
    uint32_t flags = validate_spec(&fn_spec);
    if (!read_cell(s.w2, head_of(s) + 1, &body) || type_of(&body) != TYPE_BLOCK)
        fire(ErrorCategory::script, "bad-func-def", &s);
    push_new(&fn_spec, &body, 0, 0, 0, flags);
    return stack::top - 1;
}

Cell* reflect(Cell* value, int32_t field) {
    Cell fn = *value;
    int32_t f = symbol::resolve(field);
    if (f == symbol::resolve(sym::spec)) {
        Cell spec = block_on(fn.w2);
        return copy_cell(&spec, value);
    }
    if (f == symbol::resolve(sym::body)) {
        const Cell* body = more_cell(&fn, MORE_BODY);
        if (body) return copy_cell(body, value);
        return none::make_at(value);
    }
    if (f == symbol::resolve(sym::words)) {
        Node ctx = fn.w1;
        Cell table = block_on(_context::get_words_node(ctx));
        Cell* copy = cell::begin(stack::push_raw());
        block::clone(&table, copy, false, false);
        Cell* w = memory::cells_for_write(memory::buffer_of(copy->w2));
        for (int32_t i = 0, n = length_of(copy->w2); i < n; i++) {
            w[i].header = TYPE_WORD;
            w[i].w1 = ctx;
            w[i].w3 = uint32_t(i);
        }
        copy_cell(copy, value);
        stack::pop(1);
        return value;
    }
    fire(ErrorCategory::internal, "not-done");
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) {
    string::concatenate_literal(buffer, "?function?");
    return part - 10;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    Cell fn = *value;  // the value may lie in a buffer that the text's growth moves
    string::concatenate_literal(buffer, "func ");
    Cell spec = block_on(fn.w2);
    part = block::mold(&spec, buffer, false, all, flat, arg, part - 5, indent);
    const Cell* found = more_cell(&fn, MORE_BODY);
    if (!found || type_of(found) != TYPE_BLOCK) {
        string::concatenate_literal(buffer, " none");
        return part - 5;
    }
    Cell body = *found;
    return block::mold(&body, buffer, false, all, flat, arg, part, indent);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) { return compare_more(value1, value2, op, TYPE_FUNCTION); }

void register_type() { datatype::register_type(TYPE_FUNCTION, TYPE_CONTEXT, "function!", function_row); }

}  // namespace function

// ---- routine! ----

namespace routine {

void set_arity(Cell* routine) {
    int32_t n = count_words(routine->w2);
    if (n > MAX_ARITY) {
        Cell spec = block_on(routine->w2);
        fire(ErrorCategory::script, "bad-func-def", &spec);
    }
    routine->header = (routine->header & ~ARITY_MASK) | (uint32_t(n) << ARITY_SHIFT);
}

Cell* push_new(const Cell* spec, const Cell* body, int32_t code, int32_t result_type, bool by_address) {
    Cell* result = cell::begin(stack::push_raw());
    Cell* held_spec = stack::push(spec);
    if (held_spec->w1 != 0) block::clone(spec, held_spec, false, false);
    Cell* more = push_unset_block(function::MORE_CELLS);
    Node ctx = _context::make_from_spec(held_spec, true, false, _context::KIND_FUNCTION);

    Cell* cells = memory::internal_cells(memory::buffer_of(more->w2));
    if (body) cells[function::MORE_BODY] = *body;
    else none::make_at(&cells[function::MORE_BODY]);
    integer::make_at(cell::begin(&cells[function::MORE_CODE]), code);
    integer::make_at(cell::begin(&cells[function::MORE_OWNER]), result_type);

    result->w1 = ctx;
    result->w2 = held_spec->w2;
    result->w3 = more->w2;
    stack::top = result + 1;
    set_arity(result);
    cell::set_type(result, TYPE_ROUTINE);
    if (by_address) result->header |= FLAG_BY_ADDRESS;
    return result;
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) {
    string::concatenate_literal(buffer, "?routine?");
    return part - 9;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    Cell fn = *value;
    string::concatenate_literal(buffer, "routine ");
    Cell spec = block_on(fn.w2);
    part = block::mold(&spec, buffer, only, all, flat, arg, part - 8, indent);
    const Cell* found = function::more_cell(&fn, function::MORE_BODY);
    Cell body;
    if (found) body = *found;
    else none::make_at(&body);
    if (type_of(&body) == TYPE_BLOCK) return block::mold(&body, buffer, false, all, flat, arg, part, indent);
    string::concatenate_literal(buffer, " ");
    Cell* held = stack::push(&body);  // molding may allocate
    part = actions::call_mold(held, buffer, false, all, flat, arg, part - 1, indent);
    stack::pop(1);
    return part;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) { return compare_more(value1, value2, op, TYPE_ROUTINE); }

void register_type() { datatype::register_type(TYPE_ROUTINE, TYPE_FUNCTION, "routine!", routine_row); }

}  // namespace routine

}  // namespace zuv
