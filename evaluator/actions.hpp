// Action dispatch: from an action number to the function that serves it.
//
// The 62 polymorphic actions are served per datatype by the slot functions of
// the action table (registry.hpp). An `action!` value holds the 1-based index
// of its action in the entry table below; its entry function reads the call's
// arguments from the data stack, turns the refinements into the slot
// function's arguments, finds the slot of the first argument's datatype and
// calls it, leaving the result in the call's result cell (`stack::arguments`).
//
// Calling an entry. The caller pushes a native frame, the fixed arguments
// from `arguments` in spec order and then the arguments of the used
// refinements, and calls the entry with one int32_t per refinement of the
// spec, in spec order: -1 when the refinement is absent; otherwise, for a
// refinement with arguments, the cell offset of its first argument from
// `arguments`, and for one without, any other value. Every stack entry has
// only int32_t parameters and returns nothing, so an entry record (function,
// refinement count) is enough to call it: see invoke().
//
// Two entries differ: `eval-path` (7) takes one word, the set flag, and
// `compare` (9) is not a stack entry at all (it takes two cells and an
// operator code and answers a truth value). Entry 8 is empty.
//
// The lookups raise script expect-arg (caller word, datatype, first argument
// word) when a datatype has no function for an action; none of them returns
// a null function.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "evaluator/stack.hpp"
#include "runtime/cell.hpp"
#include "runtime/datatypes/registry.hpp"

namespace zuv::actions {

// ---- the entry table ----

constexpr int32_t MAX_REFINEMENTS = 11;  // find has the most

struct EntryRecord {
    AnyFn fn;             // null for action number 8
    int8_t refinements;   // int32_t parameters of a stack entry; -1 for compare
    // A stack entry called with no refinement used (every word -1): the
    // everyday call, made without decoding the refinement count.
    void (*plain)() = nullptr;
};

// Entry k - 1 serves action number k. Filled by init(); read-only afterwards.
extern EntryRecord entry_table[ACTION_SLOT_COUNT];

// The record of a stack entry: its parameter count, checked to be all int32_t.
template <class F> struct EntryShape;
template <class... P> struct EntryShape<void (*)(P...)> {
    static constexpr bool valid = (std::is_same_v<P, int32_t> && ...) && sizeof...(P) <= MAX_REFINEMENTS;
    static constexpr int8_t count = int8_t(sizeof...(P));
};
template <auto F, class> struct PlainCall;
template <auto F, class... P> struct PlainCall<F, void (*)(P...)> {
    static void call() { F(P(-1)...); }
};
template <auto F>
inline EntryRecord entry() {
    static_assert(EntryShape<decltype(F)>::valid, "a stack entry takes only int32_t refinement words");
    return {reinterpret_cast<AnyFn>(F), EntryShape<decltype(F)>::count, &PlainCall<F, decltype(F)>::call};
}

// Copies count records into the table from entry 0, in action-number order.
void register_entries(const EntryRecord* list, int32_t count);
// Fills the entry table (once, after every datatype is registered).
void init();

// True when index (1-based) names an entry that a call can run from the
// data stack: 1..62 but 8 (empty) and 9 (compare, not a stack entry).
inline bool stack_entry_q(int32_t index) {
    return index >= 1 && index <= ACTION_SLOT_COUNT && entry_table[index - 1].fn &&
           entry_table[index - 1].refinements >= 0;
}

namespace detail {
template <size_t> using word_t = int32_t;
template <size_t... I>
inline void invoke_n(AnyFn fn, const int32_t* r, std::index_sequence<I...>) {
    using Fn = void (*)(word_t<I>...);
    reinterpret_cast<Fn>(fn)(r[I]...);
}
template <size_t... N>
inline void invoke_any(AnyFn fn, int32_t count, const int32_t* r, std::index_sequence<N...>) {
    ((count == int32_t(N) ? invoke_n(fn, r, std::make_index_sequence<N>{}) : void()), ...);
}
}  // namespace detail

// Runs the stack entry of action index (1-based; stack_entry_q must hold)
// with its refinement words; the result is in the call's result cell.
inline void invoke(int32_t index, const int32_t* refinements) {
    const EntryRecord& e = entry_table[index - 1];
    detail::invoke_any(e.fn, e.refinements, refinements, std::make_index_sequence<MAX_REFINEMENTS + 1>{});
}

// ---- lookups ----

// The slot function of action k for type t (value v: a port! is redirected
// to its actor's table for k >= 25); raises when there is none.
AnyFn get_action(uint32_t type, const Cell* value, int32_t k);
template <Act A>
inline slot_fn<A> get_action(uint32_t type, const Cell* value) {
    // The common case inline: a type's own slot, no port to redirect.
    if (type < TYPE_TOTAL && !(value && type_of(value) == TYPE_PORT))
        if (AnyFn fn = datatype::action_table[type][int32_t(A) - 1]) return reinterpret_cast<slot_fn<A>>(fn);
    return reinterpret_cast<slot_fn<A>>(get_action(type, value, int32_t(A)));
}
template <Act A>
inline slot_fn<A> get_action_of(const Cell* value) {
    return get_action<A>(type_of(value), value);
}
// The eval-path slot of the parent's type (no port redirection). Without it:
// script bad-path-type2 (element, datatype) when path is null, else script
// bad-path-type (path, datatype, the path cut after the element at index),
// raised as a status (null answered, see raised).
slot_fn<Act::eval_path> get_path_action(const Cell* parent, const Cell* path, const Cell* element, int32_t index);
// The slot of the current call's first argument.
AnyFn get_action_of_first(int32_t k);
template <Act A>
inline slot_fn<A> get_action_of_first() {
    return get_action_of<A>(stack::arguments);
}

// Port actor tables: a port! whose actor field holds a handle! is served, for
// actions 25..62, by the table the handle's word 2 names (1-based index
// returned by register_port_actor_table). Entry k - 25 serves action k; a null
// entry is access no-port-action.
constexpr int32_t PORT_ACTOR_ACTIONS = 38;
int32_t register_port_actor_table(const AnyFn* table);

// The second argument of the current call as a pick/poke index: integer! its
// value, char! its code point, logic! 1 for true and 2 for false, else 0.
int32_t index_argument();

// ---- call-through helpers ----
// Each looks the slot up on its first argument and calls it; datatype code
// calls them for nested values (mold of a block's cells, form in print ...).

template <Act A, class... Rest>
inline auto call(Cell* first, Rest... rest) {
    return get_action_of<A>(first)(first, rest...);
}

inline Cell* call_make(Cell* proto, Cell* spec, int32_t type) { return call<Act::make>(proto, spec, type); }
inline Cell* call_random(Cell* v, bool seed, bool secure, bool only) { return call<Act::random>(v, seed, secure, only); }
inline Cell* call_reflect(Cell* v, int32_t field) { return call<Act::reflect>(v, field); }
inline Cell* call_to(Cell* proto, Cell* spec, int32_t type) { return call<Act::to>(proto, spec, type); }
inline int32_t call_form(Cell* v, Cell* buffer, Cell* arg, int32_t part) { return call<Act::form>(v, buffer, arg, part); }
inline int32_t call_mold(Cell* v, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
                         int32_t indent) {
    return call<Act::mold>(v, buffer, only, all, flat, arg, part, indent);
}
// The eval-path slot of the parent's type through get_path_action. Null
// when it raised its error as a status (see raised): no slot for the
// parent's type, a set that pokes out of range.
const Cell* call_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item,
                     int32_t index, bool case_q, bool get_q, bool tail_q, bool evalp_q);
inline Cell* call_negate(Cell* v) { return call<Act::negate>(v); }
inline Cell* call_round(Cell* v, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                        bool half_ceiling) {
    return call<Act::round>(v, scale, even, down, half_down, floor, ceiling, half_ceiling);
}
inline bool call_even_q(Cell* v) { return call<Act::even_q>(v); }
inline bool call_odd_q(Cell* v) { return call<Act::odd_q>(v); }
inline Cell* call_complement(Cell* v) { return call<Act::complement>(v); }
inline Cell* call_append(Cell* s, Cell* v, int32_t part, bool only, int32_t dup, bool append) {
    return call<Act::append>(s, v, part, only, dup, append);
}
inline Cell* call_change(Cell* s, Cell* v, int32_t part, bool only, int32_t dup) {
    return call<Act::change>(s, v, part, only, dup);
}
inline Cell* call_clear(Cell* s) { return call<Act::clear>(s); }
inline Cell* call_copy(Cell* v, Cell* destination, Cell* part, bool deep, Cell* types) {
    return call<Act::copy>(v, destination, part, deep, types);
}
inline Cell* call_find(Cell* s, Cell* v, Cell* part, bool only, bool case_q, bool same, bool any, Cell* with,
                       Cell* skip, bool last, bool reverse, bool tail, bool match) {
    return call<Act::find>(s, v, part, only, case_q, same, any, with, skip, last, reverse, tail, match);
}
inline Cell* call_insert(Cell* s, Cell* v, int32_t part, bool only, int32_t dup, bool append) {
    return call<Act::insert>(s, v, part, only, dup, append);
}
inline int32_t call_length_q(Cell* s) { return call<Act::length_q>(s); }
inline Cell* call_move(Cell* origin, Cell* target, Cell* part) { return call<Act::move>(origin, target, part); }
inline const Cell* call_pick(Cell* s, int32_t index, Cell* boxed) { return call<Act::pick>(s, index, boxed); }
inline Cell* call_poke(Cell* s, int32_t index, Cell* data, Cell* boxed) { return call<Act::poke>(s, index, data, boxed); }
inline Cell* call_put(Cell* s, Cell* key, Cell* v, bool case_q) { return call<Act::put>(s, key, v, case_q); }
inline Cell* call_remove(Cell* s, Cell* part, Cell* key) { return call<Act::remove>(s, part, key); }
inline Cell* call_reverse(Cell* s, Cell* part, Cell* skip) { return call<Act::reverse>(s, part, skip); }
inline Cell* call_select(Cell* s, Cell* v, Cell* part, bool only, bool case_q, bool same, bool any, Cell* with,
                         Cell* skip, bool last, bool reverse) {
    return call<Act::select>(s, v, part, only, case_q, same, any, with, skip, last, reverse);
}
inline Cell* call_sort(Cell* s, bool case_q, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
                       bool stable) {
    return call<Act::sort>(s, case_q, skip, comparator, part, all, reverse, stable);
}
inline Cell* call_swap(Cell* s1, Cell* s2) { return call<Act::swap>(s1, s2); }
inline Cell* call_take(Cell* s, Cell* part, bool deep, bool last) { return call<Act::take>(s, part, deep, last); }
inline Cell* call_trim(Cell* s, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    return call<Act::trim>(s, head, tail, auto_, lines, all, with);
}
inline Cell* call_create(Cell* v) { return call<Act::create>(v); }
inline Cell* call_close(Cell* v) { return call<Act::close>(v); }
inline Cell* call_delete(Cell* v) { return call<Act::delete_>(v); }
inline Cell* call_modify(Cell* target, Cell* field, Cell* v, bool case_q) {
    return call<Act::modify>(target, field, v, case_q);
}
inline Cell* call_open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return call<Act::open>(port, new_, read, write, seek, allow);
}
inline Cell* call_open_q(Cell* v) { return call<Act::open_q>(v); }
inline Cell* call_query(Cell* v) { return call<Act::query>(v); }
inline Cell* call_read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    return call<Act::read>(source, part, seek, binary, lines, info, as);
}
inline Cell* call_rename(Cell* from, Cell* to) { return call<Act::rename>(from, to); }
inline Cell* call_update(Cell* v) { return call<Act::update>(v); }
inline Cell* call_write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
                        Cell* seek, Cell* allow, Cell* as) {
    return call<Act::write>(destination, data, binary, lines, info, append, part, seek, allow, as);
}

// ---- comparison ----

// The comparison entry (action 9): the truth of value1 op value2 for the
// codes 0-6 and 9-12; -2 from the slot is "not equal" for the equality codes
// and script invalid-compare for the orderings.
bool compare_star(Cell* value1, Cell* value2, int32_t op);
// The signed comparison integer: logic! by value, natives, actions and ops by
// entry, functions and routines by identity, every other type by its slot.
int32_t compare_values(Cell* value1, Cell* value2, int32_t op);
// compare_star on the current call's two arguments; the result cell becomes
// the logic! answer, which is also returned. Values that do not compare
// raise invalid-compare as a status (answering false).
bool compare_to_result(int32_t op);

// ---- the entry functions (one per action, named after it) ----

void make_star();
void random_star(int32_t seed, int32_t secure, int32_t only);
void reflect_star();
void to_star();
void form_star(int32_t part);
void mold_star(int32_t only, int32_t all, int32_t flat, int32_t part);
void eval_path_star(int32_t set);
void absolute_star();
void add_star();
void divide_star();
void multiply_star();
void negate_star();
void power_star();
void remainder_star();
void round_star(int32_t to, int32_t even, int32_t down, int32_t half_down, int32_t floor, int32_t ceiling,
                int32_t half_ceiling);
void subtract_star();
void even_q_star();
void odd_q_star();
void and_t_star();
void complement_star();
void or_t_star();
void xor_t_star();
void append_star(int32_t part, int32_t only, int32_t dup);
void at_star();
void back_star();
void change_star(int32_t part, int32_t only, int32_t dup);
void clear_star();
void copy_star(int32_t part, int32_t deep, int32_t types);
void find_star(int32_t part, int32_t only, int32_t case_q, int32_t same, int32_t any, int32_t with, int32_t skip,
               int32_t last, int32_t reverse, int32_t tail, int32_t match);
void head_star();
void head_q_star();
void index_q_star();
void insert_star(int32_t part, int32_t only, int32_t dup);
void length_q_star();
void move_star(int32_t part);
void next_star();
void pick_star();
void poke_star();
void put_star(int32_t case_q);
void remove_star(int32_t part, int32_t key);
void reverse_star(int32_t part, int32_t skip);
void select_star(int32_t part, int32_t only, int32_t case_q, int32_t same, int32_t any, int32_t with, int32_t skip,
                 int32_t last, int32_t reverse);
void sort_star(int32_t case_q, int32_t skip, int32_t compare, int32_t part, int32_t all, int32_t reverse,
               int32_t stable);
void skip_star();
void swap_star();
void tail_star();
void tail_q_star();
void take_star(int32_t part, int32_t deep, int32_t last);
void trim_star(int32_t head, int32_t tail, int32_t auto_, int32_t lines, int32_t all, int32_t with);
void create_star();
void close_star();
void delete_star();
void modify_star(int32_t case_q);
void open_star(int32_t new_, int32_t read, int32_t write, int32_t seek, int32_t allow);
void open_q_star();
void query_star();
void read_star(int32_t part, int32_t seek, int32_t binary, int32_t lines, int32_t info, int32_t as);
void rename_star();
void update_star();
void write_star(int32_t binary, int32_t lines, int32_t info, int32_t append, int32_t part, int32_t seek,
                int32_t allow, int32_t as);

}  // namespace zuv::actions
