// Calls: the call frame, argument fetching by the argument cache, path and
// apply refinements, and running natives and actions through their entries.
#include <algorithm>
#include <cstring>

#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/routines.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/words.hpp"

namespace zuv::interpreter {

using namespace detail;

namespace {

inline bool builtin_q(uint32_t type) { return type == TYPE_NATIVE || type == TYPE_ACTION; }
inline uint32_t arg_kind(const Cell* typeset) { return (typeset->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT; }

// Cell i of a callable's more block (by its node), or null past its tail.
inline Cell* more_cell(const Cell& callable, int32_t i) {
    if (!callable.w3) return nullptr;
    SeriesBuffer* more = memory::buffer_of(callable.w3);
    return i < memory::length_of(more) ? memory::internal_cells(more) + i : nullptr;
}

// ---- typesets of a spec ----

Cell make_typeset() {
    Cell ts;
    cell::begin(&ts);
    return *cell::set_type(&ts, TYPE_TYPESET);
}

// Every datatype; with_unset false: all but unset!.
Cell every_type(bool with_unset) {
    Cell ts = make_typeset();
    for (uint32_t t = 1; t < TYPE_TOTAL; t++)
        if (with_unset || t != TYPE_UNSET) typeset_add(&ts, t);
    return ts;
}

// The value a type block's word names. A word the lexer left unbound is
// looked up in the global context.
Cell type_word_value(const Cell* word) {
    if (word->w1) return *word::value_cell(word);
    Cell v;
    unset::make_at(&v);
    int32_t index = _context::find_word(_context::global, int32_t(word->w2), true);
    if (const Cell* slot = index >= 0 ? _context::value_slot(_context::global, index) : nullptr) v = *slot;
    return v;
}

// The union of the datatypes, typesets and words naming them in a type block.
Cell typeset_of_block(const Cell& types) {
    Cell ts = make_typeset();
    Cell item;
    for (int32_t i = std::max(int32_t(types.w1), 0); read_cell(types.w2, i, &item); i++) {
        Cell v = item;
        if (type_of(&item) == TYPE_WORD) {
            v = type_word_value(&item);
            if (type_of(&v) == TYPE_UNSET) {
                // any-type! admits everything even before start-up names it.
                if (symbol::any_type_q(&item)) return every_type(true);
                fire(ErrorCategory::script, "no-value", &item);
            }
        }
        switch (type_of(&v)) {
            case TYPE_DATATYPE: typeset_add(&ts, v.w1 & TYPE_MASK); break;
            case TYPE_TYPESET: typeset_union(&ts, &v); break;
            case TYPE_WORD: typeset_add(&ts, TYPE_OBJECT); break;  // a word naming a word
            default: fire(ErrorCategory::script, "invalid-type-spec", &item);
        }
    }
    return ts;
}

// The typeset of the argument at spec index i: its type block when the next
// value is a non-empty block, else every type but unset!.
Cell typeset_after(Node spec, int32_t i) {
    Cell next;
    if (read_cell(spec, i + 1, &next) && type_of(&next) == TYPE_BLOCK &&
        std::max(int32_t(next.w1), 0) < tail_of(next.w2))
        return typeset_of_block(next);
    return every_type(false);
}

// ---- the call being fetched ----

struct Call {
    Cell fn;       // the callable (an op's function)
    Cell name;     // the word naming the call, or <anon>
    Cell code;     // the block the arguments come from
    Node cache;    // the argument cache
    int32_t end;   // the caller's end of the code
    int32_t apply; // apply mode
    bool infix;
    bool builtin;  // native! or action!
    int32_t limit() const { return limit_of(code.w2, end); }
};

// A call without apply mode, its fields given.
inline Call make_call(const Cell& fn, const Cell& name, const Cell& code, Node cache, int32_t end, bool infix,
                      bool builtin) {
    Call c;
    c.fn = fn;
    c.name = name;
    c.code = code;
    c.cache = cache;
    c.end = end;
    c.apply = APPLY_NONE;
    c.infix = infix;
    c.builtin = builtin;
    return c;
}

// The spec's argument word for cache entry index: the entry's position among
// the words and refinements of the spec (the cache copies them in order).
Cell arg_word(const Call& c, int32_t cache_index) {
    int32_t n = 0;
    Cell e;
    for (int32_t i = 0; i < cache_index && read_cell(c.cache, i, &e); i++)
        if (type_of(&e) == TYPE_REFINEMENT || (type_of(&e) == TYPE_TYPESET && arg_kind(&e) != ARG_RETURN)) n++;
    for (int32_t i = 0; read_cell(c.fn.w2, i, &e); i++) {
        switch (type_of(&e)) {
            case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_REFINEMENT:
                if (n-- == 0) return e;
                break;
            default: break;
        }
    }
    none::make_at(&e);
    return e;
}

// The argument errors of a call are raised as pending: the stacks unrolled
// to their try, the code handed up on the evaluator's return path, as its
// exits travel (no C++ unwind). The caller returns at once.
[[gnu::noinline, gnu::cold]] void raise_no_arg(const Call& c, int32_t cache_index) {
    Cell word = arg_word(c, cache_index);
    raise(ErrorCategory::script, "no-arg", &c.name, &word);
}

[[gnu::noinline, gnu::cold]] void raise_expect_arg(const Call& c, uint32_t type, int32_t cache_index) {
    Cell datatype;
    datatype::make_at(&datatype, int32_t(type));
    Cell word = arg_word(c, cache_index);
    raise(ErrorCategory::script, "expect-arg", &c.name, &datatype, &word);
}

// False, expect-arg raised as pending, when the value's type is not one the
// typeset admits.
inline bool check(const Call& c, const Cell* value, const Cell& typeset, int32_t cache_index) {
    if (rt_support::typeset_has_q(&typeset, type_of(value))) [[likely]]
        return true;
    raise_expect_arg(c, type_of(value), cache_index);
    return false;
}

// Pushes one argument from the code at position by its kind; returns the
// position after it.
int32_t fetch_argument(const Call& c, int32_t position, uint32_t kind) {
    Cell v;
    read_cell(c.code.w2, position, &v);
    if (kind != ARG_NORMAL && tracing_q) [[unlikely]]
        fire_event(EV_FETCH, &c.code, position, nullptr, &v);
    switch (kind) {
        case ARG_GET:
            stack::push(&v);
            if (tracing_q) [[unlikely]]
                fire_event(EV_PUSH, &c.code, position, nullptr, &v);
            return position + 1;
        case ARG_LIT:
            switch (type_of(&v)) {
                case TYPE_PAREN:
                    stack::mark_eval_native(&words::tag_anon);
                    eval_block(&v, true);
                    if (stack::pending()) return position + 1;
                    stack::unwind_last();
                    return position + 1;
                case TYPE_GET_WORD: {
                    Cell value = *word::value_cell(&v);
                    stack::push(&value);
                    if (tracing_q) [[unlikely]]
                        fire_event(EV_PUSH, &c.code, position, nullptr, &value);
                    return position + 1;
                }
                case TYPE_GET_PATH: return eval_path(&v, position + 1, c.end, &c.code, false, true, true);
                default:
                    stack::push(&v);
                    if (tracing_q) [[unlikely]]
                        fire_event(EV_PUSH, &c.code, position, nullptr, &v);
                    return position + 1;
            }
        default: {
            // The right operand of an operator takes no operator after it;
            // apply/safer takes exactly one value.
            int32_t end = (c.apply & APPLY_SAFER) ? position + 1 : c.end;
            return eval_expression(&c.code, position, end, c.infix, true, false);
        }
    }
}

// One argument fetched and checked against its typeset. At the end of the
// code: none under apply, unset for an optional lit-word argument, else
// no-arg. read: the entry will read it (a fixed argument, or one of a used
// refinement).
int32_t fetch_checked(const Call& c, int32_t position, const Cell& typeset, int32_t cache_index, bool read = true) {
    if (position >= c.limit()) {
        Cell filler;
        if (c.apply != APPLY_NONE) none::make_at(&filler);
        else if (arg_kind(&typeset) == ARG_LIT && rt_support::typeset_has_q(&typeset, TYPE_UNSET)) unset::make_at(&filler);
        else return raise_no_arg(c, cache_index), position;
        // A native or action reads its arguments by their declared types: it
        // never receives a filler its spec does not admit.
        if (c.builtin && read && !rt_support::typeset_has_q(&typeset, type_of(&filler)))
            return raise_no_arg(c, cache_index), position;
        stack::push(&filler);
        return position;
    }
    position = fetch_argument(c, position, arg_kind(&typeset));
    if (stack::pending()) return position;
    check(c, stack::top - 1, typeset, cache_index);
    return position;  // with expect-arg pending when the check failed
}

// The machine words of a native or action call, and which refinements
// have been named. Every word starts at -1 (absent); a named refinement sets
// its own.
struct Refinements {
    int32_t words[natives::MAX_REFINEMENTS];
    uint64_t named = 0;
    Refinements() { std::memset(words, 0xFF, sizeof words); }
};
static_assert(actions::MAX_REFINEMENTS <= natives::MAX_REFINEMENTS);

// A refinement named by a path element or an apply block: its arguments are
// fetched after the fixed ones (natives and actions) or into the cells after
// its logic cell (functions and routines). used false: named but off (a
// get-word element whose value is false).
int32_t use_refinement(const Call& c, const Cell& name, bool used, int32_t position, Refinements& r,
                       const Cell* dup_arg) {
    int32_t wanted = symbol::resolve(int32_t(name.w2));
    Cell entry;
    int32_t found = -1, offset = 0, ordinal = 0;
    for (int32_t i = 0; read_cell(c.cache, i, &entry); i++) {
        uint32_t t = type_of(&entry);
        if (t == TYPE_REFINEMENT) {
            ordinal++;
            if (symbol::resolve(int32_t(entry.w2)) == wanted) {
                found = i;
                break;
            }
        }
        if (t == TYPE_REFINEMENT || (t == TYPE_TYPESET && arg_kind(&entry) != ARG_RETURN)) offset++;
    }
    if (found < 0) fire(ErrorCategory::script, "no-refine", &c.name, &name);
    uint64_t bit = ordinal <= 64 ? uint64_t(1) << (ordinal - 1) : 0;
    if (r.named & bit) fire(ErrorCategory::script, "dup-refine", dup_arg);
    r.named |= bit;

    int32_t first = int32_t(stack::top - stack::arguments);
    Cell* flag = stack::arguments + offset;  // functions: the refinement's logic cell
    if (!c.builtin) {
        if (!bit && type_of(flag) == TYPE_LOGIC && flag->w1) fire(ErrorCategory::script, "dup-refine", dup_arg);
        logic::make_at(flag, used);
    }
    int32_t n = 0;
    Cell a;
    for (int32_t i = found + 1; read_cell(c.cache, i, &a) && type_of(&a) == TYPE_TYPESET; i++) {
        if (arg_kind(&a) == ARG_RETURN) continue;
        position = fetch_checked(c, position, a, i, used);
        if (stack::pending()) return position;
        if (!c.builtin) {
            copy_cell(stack::top - 1, flag + 1 + n);
            stack::pop(1);
        }
        n++;
    }
    if (c.builtin) {
        if (used) r.words[entry.w3 - 1] = first;
        else stack::top = stack::arguments + first;  // named but off: its arguments are dropped
    }
    return position;
}

// Refinements named by the path's elements after its head.
int32_t path_refinements(const Call& c, const Cell* path, int32_t position, Refinements& r) {
    Cell p = *path;
    Cell e;
    int32_t count = 0;
    for (int32_t i = std::max(int32_t(p.w1), 0) + 1; read_cell(p.w2, i, &e); i++, count++) {
        bool used = true;
        if (type_of(&e) == TYPE_GET_WORD) {
            used = !logic::false_q(word::value_cell(&e));
        } else if (type_of(&e) != TYPE_WORD) {
            if (count > 0) break;
            fire(ErrorCategory::script, "bad-refine", &e);
        }
        position = use_refinement(c, e, used, position, r, &p);
        if (stack::pending()) return position;
    }
    return position;
}

// apply without /all: the rest of the block, refinement! values each
// followed by a value whose truth says whether it is used.
int32_t named_refinements(const Call& c, int32_t position, Refinements& r) {
    Cell e;
    for (int32_t count = 0; position < c.limit() && read_cell(c.code.w2, position, &e); count++) {
        if (type_of(&e) != TYPE_REFINEMENT) {
            if (count > 0) break;
            fire(ErrorCategory::script, "bad-refine", &e);
        }
        position++;
        bool used = false;
        if (position < c.limit()) {
            position = fetch_argument(c, position, ARG_NORMAL);
            if (stack::pending()) return position;
            used = !logic::false_q(stack::top - 1);
            stack::pop(1);
        }
        position = use_refinement(c, e, used, position, r, &e);
        if (stack::pending()) return position;
    }
    return position;
}

// Runs the native's or action's entry with the refinement words.
void run_entry(const Cell& fn, const Refinements& r) {
    int32_t index = int32_t(fn.w1);
    stack::call_entry([&] {
        if (type_of(&fn) == TYPE_NATIVE) {
            natives::Entry entry = natives::entry_at(index);
            if (!entry) fire(ErrorCategory::internal, "not-done");
            entry(false, r.words);
        } else {
            if (!actions::stack_entry_q(index)) fire(ErrorCategory::internal, "not-done");
            const actions::EntryRecord& e = actions::entry_table[index - 1];
            if (r.named == 0) e.plain();  // the everyday call: no refinement named
            else actions::invoke(index, r.words);
        }
    });
}

int32_t run_call(const Cell& fn, int32_t position, int32_t end, const Cell* code, bool sub, const Cell* path,
                 const Cell& name, const Cell* object, int32_t apply_mode, bool infix) {
    Cell* copy = infix ? nullptr : stack::push(&fn);  // stays below the frame while the call runs
    switch (type_of(&fn)) {
        case TYPE_NATIVE: case TYPE_ACTION:
            stack::mark_eval_native(&name);
            position = fetch_arguments(&fn, position, end, code, path, &name, apply_mode, infix);
            break;
        case TYPE_ROUTINE:
            stack::mark_eval_native(&name);
            position = fetch_arguments(&fn, position, end, code, path, &name, apply_mode, infix);
            if (!stack::pending()) run_routine(fn);
            break;
        case TYPE_FUNCTION: {
            Node context = function_context(fn, name, object);
            stack::mark_eval_func(&name);
            position = fetch_arguments(&fn, position, end, code, path, &name, apply_mode, infix);
            if (!stack::pending()) exec_function(&fn, context, &name, 0);
            break;
        }
        default: fire(ErrorCategory::internal, "not-done");
    }
    if (stack::pending()) return position;
    if (copy) end_call(copy, sub);
    else if (sub) stack::unwind_last();
    else stack::unwind_last_return();
    return position;
}

// The cell that names a call in trace events: the name word under apply,
// else the cell before the arguments (the word, path or callable itself).
Cell call_position_cell(const Cell* code, int32_t position, const Cell* name, int32_t apply_mode,
                        const Cell* callable) {
    Cell c;
    if (name && apply_mode != APPLY_NONE) return *name;
    if (code && read_cell(code->w2, position - 1, &c)) return c;
    return *callable;
}

// `open`: before the arguments are fetched. An operator's left operand is
// the cell at the stack top: the event's cells go above it.
void trace_open(const Cell* callable, int32_t position, const Cell* code, const Cell* name, bool infix) {
    const Cell* opener = name && type_of(name) == TYPE_WORD ? name : callable;
    if (infix) stack::top++;
    fire_event(EV_OPEN, code, position, nullptr, opener);
    if (infix) stack::top--;
}

// The argument cache of a native or action already built, or 0.
inline Node built_cache(const Cell& fn) {
    const Cell* cached = more_cell(fn, native::MORE_ARG_CACHE);
    return cached && type_of(cached) == TYPE_BLOCK ? cached->w2 : 0;
}

// The everyday call of a native or action: named by a word or given as a
// value (no path, no apply, not an operator), its argument cache built. It
// does what run_call and fetch_arguments do for such a call, in one frame of
// C++: its fixed arguments are fetched and checked; no refinement can be
// named, so every refinement word stays -1.
int32_t run_builtin(const Cell& fn, Node cache, int32_t position, int32_t end, const Cell* code, bool sub,
                    const Cell& name) {
    int32_t start = position;
    Cell* copy = stack::push(&fn);  // stays below the frame while the call runs
    stack::mark_eval_native(&name);
    Call c = make_call(fn, name, *code, cache, end, false, true);

    Refinements r;  // every entry's refinement words are -1 from the start
    Cell entry;
    for (int32_t i = 0; read_cell(cache, i, &entry); i++) {
        uint32_t t = type_of(&entry);
        if (t == TYPE_TYPESET) {
            uint32_t kind = arg_kind(&entry);
            if (kind == ARG_RETURN) continue;
            if (kind == ARG_NORMAL && position < c.limit()) {
                position = eval_expression(&c.code, position, end, false, true, false);
                if (stack::pending()) return position;
                if (!check(c, stack::top - 1, entry, i)) return position;
            } else {
                position = fetch_checked(c, position, entry, i);
                if (stack::pending()) return position;
            }
        } else if (t == TYPE_REFINEMENT) {
            break;  // the fixed arguments are all fetched
        }
    }

    if (tracing_q) [[unlikely]] {
        Cell caller = call_position_cell(code, start, &name, APPLY_NONE, &c.fn);
        fire_event(EV_CALL, code, position, &caller, &c.fn);
    }
    run_entry(c.fn, r);
    if (stack::pending()) return position;
    end_call(copy, sub);
    return position;
}

}  // namespace

namespace detail {

Node function_context(const Cell& fn, const Cell& name, const Cell* object) {
    if (object && type_of(object) == TYPE_OBJECT && object->w1 != _context::global) return object->w1;
    if (const Cell* owner = more_cell(fn, 4); owner && type_of(owner) == TYPE_INTEGER) return owner->w2;
    return name.w1;
}

void raise_expect_arg(const Cell& fn, const Cell& name, Node cache, int32_t entry, uint32_t type) {
    Cell no_code;
    none::make_at(&no_code);
    zuv::interpreter::raise_expect_arg(make_call(fn, name, no_code, cache, 0, false, builtin_q(type_of(&fn))), type,
                                      entry);
}

int32_t fetch_entry_argument(const Cell& fn, const Cell& name, const Cell* code, int32_t end, Node cache,
                             int32_t entry, int32_t position) {
    Call c = make_call(fn, name, *code, cache, end, false, builtin_q(type_of(&fn)));
    Cell typeset;
    read_cell(cache, entry, &typeset);
    return fetch_checked(c, position, typeset, entry);
}

void run_plain_entry(const Cell& fn) {
    static const Refinements none_named;  // every refinement word -1
    run_entry(fn, none_named);
}

}  // namespace detail

// ---- calls ----

int32_t eval_code(const Cell* callable, int32_t position, int32_t end, const Cell* code, bool sub, const Cell* path,
                  const Cell* name, const Cell* object, int32_t apply_mode, bool infix) {
    Cell fn = *callable;
    if (tracing_q) [[unlikely]]
        trace_open(callable, position, code, name, infix);
    int32_t start = position;
    const Cell& call_name = name && type_of(name) == TYPE_WORD ? *name : words::tag_anon;
    Cell named = call_name;
    if (!infix) {
        Node cache;
        if (!path && apply_mode == APPLY_NONE && builtin_q(type_of(&fn)) && (cache = built_cache(fn)))
            position = run_builtin(fn, cache, position, end, code, sub, named);
        else
            position = run_call(fn, position, end, code, sub, path, named, object, apply_mode, false);
    } else {
        // No copy of an operator's function is pushed (its left operand is the
        // frame's first cell): the function is held while its arguments run.
        Hold hold(fn);
        position = run_call(fn, position, end, code, sub, path, named, object, apply_mode, true);
    }
    if (tracing_q && !stack::pending()) [[unlikely]] {
        Cell caller = call_position_cell(code, start, name, apply_mode, &fn);
        fire_event(EV_RETURN, code, position, &caller, sub ? stack::top - 1 : stack::arguments);
    }
    return position;
}

int32_t fetch_arguments(const Cell* callable, int32_t position, int32_t end, const Cell* code, const Cell* path,
                        const Cell* name, int32_t apply_mode, bool infix) {
    return fetch_arguments_from(callable, 0, position, end, code, path, name, apply_mode, infix);
}

int32_t fetch_arguments_from(const Cell* callable, int32_t from, int32_t position, int32_t end, const Cell* code,
                             const Cell* path, const Cell* name, int32_t apply_mode, bool infix) {
    int32_t start = position;
    Call c;
    c.fn = *callable;
    c.name = name && type_of(name) == TYPE_WORD ? *name : words::tag_anon;
    c.code = *code;
    c.end = end;
    c.apply = apply_mode;
    c.infix = infix;
    c.builtin = builtin_q(type_of(&c.fn));
    if (infix && from == 0) stack::push_kept();  // the left operand is already the frame's first cell
    const Cell* cached = more_cell(c.fn, native::MORE_ARG_CACHE);
    c.cache = cached && type_of(cached) == TYPE_BLOCK ? cached->w2 : build_arg_cache(&c.fn);

    // The state of the walk over the cache, as it stands before its first
    // refinement (compiled code fetched the fixed arguments before from).
    Refinements r;
    bool fetching = true;
    bool read = true;  // the arguments fetched are read by the entry (not those of an unused refinement)
    bool left_in_place = infix && from == 0;
    int32_t local_count = 0;
    int32_t refinement_ordinal = 0;
    Cell entry;
    for (int32_t i = from; read_cell(c.cache, i, &entry); i++) {
        switch (type_of(&entry)) {
            case TYPE_TYPESET:
                if (arg_kind(&entry) == ARG_RETURN) break;
                if (left_in_place) {
                    left_in_place = false;
                    if (!check(c, stack::arguments, entry, i)) return position;
                } else if (fetching) {
                    position = fetch_checked(c, position, entry, i, read);
                    if (stack::pending()) return position;
                } else {
                    // An argument of an unused refinement.
                    if (!c.builtin) none::push();
                    if ((apply_mode & 3) == APPLY_ALL && position < c.limit()) {
                        position = fetch_argument(c, position, ARG_NORMAL);
                        if (stack::pending()) return position;
                        stack::pop(1);
                    }
                }
                break;
            case TYPE_REFINEMENT:
                refinement_ordinal++;  // at most MAX_REFINEMENTS in a native's or action's cache
                if (c.builtin) r.words[refinement_ordinal - 1] = -1;
                if (apply_mode != APPLY_NONE && !path) {
                    bool ended = position >= c.limit();
                    if (ended || (apply_mode & 3) == APPLY_NAMED) {
                        if (!c.builtin) logic::push(false);
                        fetching = ended;
                        read = false;
                    } else {
                        position = fetch_argument(c, position, ARG_NORMAL);
                        if (stack::pending()) return position;
                        Cell* flag = stack::top - 1;
                        if (type_of(flag) != TYPE_LOGIC) return raise_expect_arg(c, type_of(flag), i), position;
                        fetching = read = flag->w1 != 0;
                        if (c.builtin) {
                            stack::pop(1);
                            if (fetching) r.words[refinement_ordinal - 1] = int32_t(stack::top - stack::arguments);
                            r.named |= uint64_t(1) << (refinement_ordinal - 1);
                        }
                    }
                } else {
                    if (!c.builtin) logic::push(false);
                    fetching = false;
                }
                break;
            case TYPE_INTEGER:
                if (local_count == 0) local_count = integer::get_value(&entry);
                break;
            default: break;
        }
    }

    if (path) position = path_refinements(c, path, position, r);
    else if ((apply_mode & 3) == APPLY_NAMED) position = named_refinements(c, position, r);
    if (stack::pending()) return position;

    if (tracing_q) [[unlikely]] {
        // An operator is reported by its own value, found through its word.
        Cell called = infix && type_of(&c.name) == TYPE_WORD ? *word::value_cell(&c.name) : c.fn;
        Cell caller = path ? *path : call_position_cell(code, start, name, apply_mode, &c.fn);
        fire_event(EV_CALL, code, apply_mode != APPLY_NONE ? -1 : position, &caller, &called);
    }

    if (c.builtin) {
        run_entry(c.fn, r);
    } else if (local_count > 0) {
        // /local and its words: a false refinement cell and one none per word.
        logic::push(false);
        for (int32_t i = 1; i < local_count; i++) none::push();
    }
    return position;
}

// ---- the argument cache ----

uint32_t build_arg_cache(const Cell* callable) {
    Cell fn = *callable;
    bool builtin = builtin_q(type_of(&fn));
    Node spec = fn.w2;
    int32_t local_symbol = symbol::resolve(int32_t(refinements::local.w2));
    int32_t return_symbol = symbol::resolve(sym::return_);

    Cell* cache = block::push_only_star(tail_of(spec) + 2);  // reachable from the stack while it is built
    int32_t refinement_count = 0, local_count = 0;
    bool in_locals = false;
    Cell item;
    for (int32_t i = 0; read_cell(spec, i, &item); i++) {
        uint32_t t = type_of(&item);
        if (in_locals) {
            // /local counts itself and the plain words after it, up to a set-word.
            if (t == TYPE_WORD) local_count++;
            if (t != TYPE_SET_WORD && t != TYPE_REFINEMENT) continue;
            in_locals = false;
        }
        switch (t) {
            case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: {
                uint32_t kind = t == TYPE_WORD ? ARG_NORMAL : t == TYPE_GET_WORD ? ARG_GET : ARG_LIT;
                Cell ts = typeset_after(spec, i);
                ts.header |= kind << ARG_KIND_SHIFT;
                block::append_cell(cache, &ts);
                break;
            }
            case TYPE_SET_WORD: {
                if (symbol::resolve(int32_t(item.w2)) != return_symbol)
                    fire(ErrorCategory::script, "bad-func-def", &item);
                Cell ts = typeset_after(spec, i);
                ts.header |= ARG_RETURN << ARG_KIND_SHIFT;
                block::append_cell(cache, &ts);
                break;
            }
            case TYPE_REFINEMENT: {
                if (symbol::resolve(int32_t(item.w2)) == local_symbol) {
                    in_locals = true;
                    local_count++;
                    break;
                }
                Cell copy = item;
                if (builtin) {
                    if (++refinement_count > natives::MAX_REFINEMENTS) {
                        Cell spec_block = item;
                        cell::begin(&spec_block)->w2 = spec;
                        fire(ErrorCategory::script, "bad-func-def", cell::set_type(&spec_block, TYPE_BLOCK));
                    }
                    copy.w3 = uint32_t(refinement_count);
                }
                block::append_cell(cache, &copy);
                break;
            }
            default: break;  // type blocks, documentation strings
        }
    }
    if (local_count > 0) integer::make_in(cache, local_count);
    if (builtin && refinement_count > 0) integer::make_in(cache, refinement_count);

    Node node = cache->w2;
    if (Cell* slot = more_cell(fn, native::MORE_ARG_CACHE)) copy_cell(cache, slot);
    stack::pop(1);
    return node;
}

// ---- functions and routines ----

namespace {

// The trace classes (callbacks) whose calls stay traced while a trace runs.
// No setting names any yet: a callback runs untraced.
constexpr int32_t TRACE_CLASS_MASK = 0;

// Compiled code of a function (a routine-registry index): it pushes its own
// body frame and leaves its result in the call's first cell.
void exec_compiled(const Cell& fn, int32_t index, Node context) {
    routines::Fn code = routines::at(index);
    if (!code) fire(ErrorCategory::internal, "routines");
    {
        CallState state(fn.w1);
        routines::Value owner;
        owner.i = int32_t(context);
        try {
            code(&owner, context && context != _context::global ? 1 : 0);
        } catch (const Throw& t) {
            if (t.code != THROW_RETURN && t.code != THROW_EXIT) throw;
        }
    }
    uint32_t pending = stack::pending();
    if (pending == THROW_RETURN || pending == THROW_EXIT) {
        // The body frame that received it is current with the result.
        stack::unwind_last_return();
        stack::clear_pending();
    }
}

// The routine's fixed arguments: its spec's argument words up to the first
// refinement or set-word.
int32_t routine_arguments(Node spec) {
    int32_t n = 0;
    Cell c;
    for (int32_t i = 0; read_cell(spec, i, &c); i++) {
        uint32_t t = type_of(&c);
        if (t == TYPE_REFINEMENT || t == TYPE_SET_WORD) break;
        if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD) n++;
    }
    return n;
}

// The argument cell of a routine not taking addresses, checked against the
// first word of its type block, as a machine value.
routines::Value routine_argument(Node spec, int32_t argument, Cell* cell) {
    Cell c, types, type_word;
    int32_t i = 0, seen = -1;
    for (; read_cell(spec, i, &c); i++) {
        uint32_t t = type_of(&c);
        if ((t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD) && ++seen == argument) break;
    }
    if (!read_cell(spec, i + 1, &types) || type_of(&types) != TYPE_BLOCK)
        fire(ErrorCategory::script, "invalid-type-spec", &c);
    if (!read_cell(types.w2, std::max(int32_t(types.w1), 0), &type_word) || type_of(&type_word) != TYPE_WORD)
        fire(ErrorCategory::script, "invalid-type-spec", &types);
    uint32_t type = type_of(cell);
    if (!symbol::any_type_q(&type_word)) {
        Cell allowed = type_word_value(&type_word);
        bool ok;
        switch (type_of(&allowed)) {
            case TYPE_DATATYPE: ok = (allowed.w1 & TYPE_MASK) == type; break;
            case TYPE_TYPESET: ok = rt_support::typeset_has_q(&allowed, type); break;
            default: fire(ErrorCategory::script, "invalid-type-spec", &type_word);
        }
        if (!ok) rt_support::fire_expect_arg(type, argument);
    }
    routines::Value v;
    switch (type) {
        case TYPE_INTEGER: v.i = integer::get_value(cell); break;
        case TYPE_LOGIC: v.i = cell->w1 != 0; break;
        case TYPE_FLOAT: v.f = cell::get_float(cell); break;
        default: v.cell = cell; break;
    }
    return v;
}

}  // namespace

void exec_function(const Cell* function, uint32_t context, const Cell* name, int32_t trace_class) {
    Cell fn = *function;
    // A code for a receiver further out travels on as pending only to an
    // interpreter frame; C++ callers (change handlers, callbacks) cannot
    // pass it on, so it leaves them as the low-level throw.
    const stack::Frame* frame = stack::get_top_frame();
    bool interpreted = frame && (frame->header & stack::FRAME_INTERPRETED);
    bool restore_tracing = false;
    if (tracing_q && trace_class != 0 && !(trace_class & TRACE_CLASS_MASK)) {
        tracing_q = false;  // a callback: untraced unless its class is asked for
        restore_tracing = true;
    }
    struct TracingBack {
        bool on;
        ~TracingBack() {
            if (on) tracing_q = true;
        }
    } tracing_back{restore_tracing};

    const Cell* code = function::more_cell(&fn, function::MORE_CODE);
    if (code && type_of(code) == TYPE_INTEGER && integer::get_value(code) != 0) {
        exec_compiled(fn, integer::get_value(code), context);
    } else {
        bool announce = tracing_q && trace_class != 0;
        if (announce) fire_call(name, &fn);
        const Cell* found = function::more_cell(&fn, function::MORE_BODY);
        Cell body;
        if (found) body = *found;
        else none::make_at(&body);
        exec_body(&fn, &body, name);
        if (announce && !stack::pending()) fire_return(name, &fn);
    }
    if (!interpreted) stack::raise_pending();
}

void exec_body(const Cell* function, const Cell* body_value, const Cell* name) {
    Cell fn = *function;
    Cell body = *body_value;
    CallState state(fn.w1);
    stack::Frame* frame = stack::frames_top - 1;
    frame->header |= stack::FRAME_BODY;  // the target of return and exit
    if (fn.header & function::FLAG_TRACE) {
        if (trace_run_q) tracing_q = true;
    } else if (fn.header & function::FLAG_NO_TRACE) {
        tracing_q = false;
    }

    if (tracing_q) {
        try {
            fire_prolog(&fn, &body, name);
        } catch (const Throw&) {
            frame->header &= ~stack::FRAME_BODY;
            throw;
        }
    }
    Cell position = *current_position;
    if (type_of(&body) == TYPE_BLOCK) {
        try {
            eval_block(&body, true);
        } catch (const Throw& t) {
            // return and exit from C++ code that could not pass them on: the
            // stacks are already unrolled to this call.
            if (t.code != THROW_RETURN && t.code != THROW_EXIT) throw;
            *current_position = position;
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
    if (tracing_q) fire_epilog(&fn, &body, name);
    frame->header &= ~stack::FRAME_BODY;
}

void exec_routine(const Cell* routine_value) {
    Cell r = *routine_value;
    const Cell* code = function::more_cell(&r, function::MORE_CODE);
    routines::Fn fn = code && type_of(code) == TYPE_INTEGER ? routines::at(integer::get_value(code)) : nullptr;
    if (!fn) fire(ErrorCategory::internal, "routines");
    const Cell* typed = function::more_cell(&r, function::MORE_OWNER);
    int32_t result_type = typed && type_of(typed) == TYPE_INTEGER ? integer::get_value(typed) : routine::RESULT_NONE;

    int32_t count = std::min(routine_arguments(r.w2), routine::MAX_ARITY);
    routines::Value args[routine::MAX_ARITY];
    Cell* first = stack::arguments;

    if (r.header & routine::FLAG_BY_ADDRESS) {
        Cell* saved_top = stack::top;
        stack::mark_native(&words::tag_body);
        for (int32_t i = 0; i < count; i++) args[i].cell = first + i;
        routines::Value answer;
        guard_allocations([&] { answer = fn(args, count); });
        Cell result;
        if (answer.cell) result = *answer.cell;
        else unset::make_at(&result);
        stack::unwind();
        stack::top = saved_top;
        *first = result;
        return;
    }

    for (int32_t i = count - 1; i >= 0; i--) args[i] = routine_argument(r.w2, i, first + i);
    routines::Value answer;
    guard_allocations([&] { answer = fn(args, count); });
    switch (result_type) {
        case TYPE_LOGIC: logic::make_at(first, answer.i != 0); break;
        case TYPE_INTEGER: integer::make_at(first, answer.i); break;
        case TYPE_FLOAT: float_::make_at(first, answer.f); break;
        default: unset::make_at(first); break;  // no typed result: unset, not whatever the slot held
    }
}

}  // namespace zuv::interpreter
