// Datatype registry and action table.
//
// Every datatype is one row of the action table: 62 slot functions, one per
// polymorphic action, looked up by (type id, slot). A datatype registers once
// at start-up with its id, its parent's id, its name and a row of 62 entries:
// a function, NONE (unsupported) or INHERIT (take the parent's entry as it
// stands at registration time).
//
// ACTION_SLOTS lists the slots in order with the signature of each slot
// function; Cell* arguments point at cells on the data stack (which never
// moves). A refinement that takes an argument arrives as the address of that
// argument, or as the cell just below the call's first argument when absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "runtime/cell.hpp"

namespace zuv {

// X(number, name, return type, parameter list)
#define ZUV_ACTION_SLOTS(X)                                                                        \
    X(1, make, Cell*, (Cell* proto, Cell* spec, int32_t type))                                     \
    X(2, random, Cell*, (Cell* value, bool seed, bool secure, bool only))                          \
    X(3, reflect, Cell*, (Cell* value, int32_t field))                                             \
    X(4, to, Cell*, (Cell* proto, Cell* spec, int32_t type))                                       \
    X(5, form, int32_t, (Cell* value, Cell* buffer, Cell* arg, int32_t part))                      \
    X(6, mold, int32_t, (Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg,     \
                         int32_t part, int32_t indent))                                            \
    X(7, eval_path, const Cell*, (Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, \
                            Cell* p_item, int32_t index, bool case_q, bool get_q, bool tail_q,     \
                            bool evalp_q))                                                         \
    X(8, unused8, void, ())                                                                        \
    X(9, compare, int32_t, (Cell* value1, Cell* value2, int32_t op))                               \
    X(10, absolute, void, ())                                                                      \
    X(11, add, void, ())                                                                           \
    X(12, divide, void, ())                                                                        \
    X(13, multiply, void, ())                                                                      \
    X(14, negate, Cell*, (Cell* value))                                                            \
    X(15, power, void, ())                                                                         \
    X(16, remainder, void, ())                                                                     \
    X(17, round, Cell*, (Cell* value, Cell* scale, bool even, bool down, bool half_down,          \
                         bool floor, bool ceiling, bool half_ceiling))                             \
    X(18, subtract, void, ())                                                                      \
    X(19, even_q, bool, (Cell* value))                                                             \
    X(20, odd_q, bool, (Cell* value))                                                              \
    X(21, and_t, void, ())                                                                         \
    X(22, complement, Cell*, (Cell* value))                                                        \
    X(23, or_t, void, ())                                                                          \
    X(24, xor_t, void, ())                                                                         \
    X(25, append, Cell*, (Cell* series, Cell* value, int32_t part, bool only, int32_t dup,        \
                          bool append))                                                            \
    X(26, at, void, ())                                                                            \
    X(27, back, void, ())                                                                          \
    X(28, change, Cell*, (Cell* series, Cell* value, int32_t part, bool only, int32_t dup))        \
    X(29, clear, Cell*, (Cell* series))                                                            \
    X(30, copy, Cell*, (Cell* value, Cell* destination, Cell* part, bool deep, Cell* types))       \
    X(31, find, Cell*, (Cell* series, Cell* value, Cell* part, bool only, bool case_q,            \
                        bool same, bool any, Cell* with, Cell* skip, bool last, bool reverse,      \
                        bool tail, bool match))                                                    \
    X(32, head, void, ())                                                                          \
    X(33, head_q, void, ())                                                                        \
    X(34, index_q, void, ())                                                                       \
    X(35, insert, Cell*, (Cell* series, Cell* value, int32_t part, bool only, int32_t dup,        \
                          bool append))                                                            \
    X(36, length_q, int32_t, (Cell* series))                                                       \
    X(37, move, Cell*, (Cell* origin, Cell* target, Cell* part))                                   \
    X(38, next, void, ())                                                                          \
    X(39, pick, const Cell*, (Cell* series, int32_t index, Cell* boxed))                           \
    X(40, poke, Cell*, (Cell* series, int32_t index, Cell* data, Cell* boxed))                     \
    X(41, put, Cell*, (Cell* series, Cell* key, Cell* value, bool case_q))                         \
    X(42, remove, Cell*, (Cell* series, Cell* part, Cell* key))                                    \
    X(43, reverse, Cell*, (Cell* series, Cell* part, Cell* skip))                                  \
    X(44, select, Cell*, (Cell* series, Cell* value, Cell* part, bool only, bool case_q,          \
                          bool same, bool any, Cell* with, Cell* skip, bool last, bool reverse))   \
    X(45, sort, Cell*, (Cell* series, bool case_q, Cell* skip, Cell* comparator, Cell* part,      \
                        bool all, bool reverse, bool stable))                                      \
    X(46, skip, void, ())                                                                          \
    X(47, swap, Cell*, (Cell* series1, Cell* series2))                                             \
    X(48, tail, void, ())                                                                          \
    X(49, tail_q, void, ())                                                                        \
    X(50, take, Cell*, (Cell* series, Cell* part, bool deep, bool last))                           \
    X(51, trim, Cell*, (Cell* series, bool head, bool tail, bool auto_, bool lines, bool all,     \
                        Cell* with))                                                               \
    X(52, create, Cell*, (Cell* value))                                                            \
    X(53, close, Cell*, (Cell* value))                                                             \
    X(54, delete_, Cell*, (Cell* value))                                                           \
    X(55, modify, Cell*, (Cell* target, Cell* field, Cell* value, bool case_q))                    \
    X(56, open, Cell*, (Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow))     \
    X(57, open_q, Cell*, (Cell* value))                                                            \
    X(58, query, Cell*, (Cell* value))                                                             \
    X(59, read, Cell*, (Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, \
                        Cell* as))                                                                 \
    X(60, rename, Cell*, (Cell* from, Cell* to))                                                   \
    X(61, update, Cell*, (Cell* value))                                                            \
    X(62, write, Cell*, (Cell* destination, Cell* data, bool binary, bool lines, bool info,       \
                         bool append, Cell* part, Cell* seek, Cell* allow, Cell* as))

// Action numbers (1-based, the slot order).
enum class Act : uint8_t {
#define ZUV_ACT_ENUM(n, name, ret, params) name = n,
    ZUV_ACTION_SLOTS(ZUV_ACT_ENUM)
#undef ZUV_ACT_ENUM
};

constexpr int ACTION_SLOT_COUNT = 0
#define ZUV_ACT_COUNT(n, name, ret, params) +1
    ZUV_ACTION_SLOTS(ZUV_ACT_COUNT)
#undef ZUV_ACT_COUNT
    ;
static_assert(ACTION_SLOT_COUNT == 62, "62 action slots");
constexpr int ACTION_ROW_SIZE = 256;

// One function-pointer type per slot: slot_fn<Act::form> is int32_t(*)(Cell*, Cell*, Cell*, int32_t).
template <Act A> struct SlotType;
#define ZUV_ACT_TYPE(n, name, ret, params) \
    template <> struct SlotType<Act::name> { using type = ret(*) params; };
ZUV_ACTION_SLOTS(ZUV_ACT_TYPE)
#undef ZUV_ACT_TYPE
template <Act A> using slot_fn = typename SlotType<A>::type;

using AnyFn = void (*)();

// One entry of a registration row. The function is held through a pointer to
// a constexpr copy of itself so that a row stays a constexpr array.
struct SlotEntry {
    enum Kind : uint8_t { none, inherit, function } kind;
    uint8_t slot;             // action number the entry was written for (0 for none/inherit)
    const void* fn_holder;    // points at a slot_fn<A> constant
};

template <auto F> inline constexpr auto slot_fn_holder = F;

// slot<Act::form, &integer::form> checks at compile time that the function has the slot's signature.
template <Act A, auto F>
inline constexpr SlotEntry slot = [] {
    static_assert(std::is_same_v<decltype(F), slot_fn<A>>, "slot function has the wrong signature");
    return SlotEntry{SlotEntry::function, uint8_t(A), &slot_fn_holder<F>};
}();
inline constexpr SlotEntry NONE{SlotEntry::none, 0, nullptr};
inline constexpr SlotEntry INHERIT{SlotEntry::inherit, 0, nullptr};

// True when a row has 62 entries, each function written for its own position.
template <size_t N>
consteval bool valid_row(const SlotEntry (&row)[N]) {
    if (N != 62) return false;
    for (size_t i = 0; i < N; i++)
        if (row[i].kind == SlotEntry::function && row[i].slot != i + 1) return false;
    return true;
}
#define ZUV_CHECK_ROW(row) static_assert(::zuv::valid_row(row), "registration row of " #row " is not 62 slots in order")

// The row of a child that takes every action from its parent but its own
// mold (the (empty) slot 8 stays NONE).
template <auto Mold>
constexpr auto mold_only_row = [] {
    struct Row { SlotEntry entries[62]; } r{};
    for (auto& e : r.entries) e = INHERIT;
    r.entries[int(Act::unused8) - 1] = NONE;
    r.entries[int(Act::mold) - 1] = slot<Act::mold, Mold>;
    return r;
}();

namespace datatype {

// Type-name table entry.
struct TypeName {
    const char* name = nullptr;  // with its final "!"
    int32_t length = 0;          // without the "!"
    Cell word{};                 // the name's word in the global context, once made
};

// The name of every datatype id, registered or not yet: its word exists
// from start-up, so specs and code can name the type.
inline constexpr const char* TYPE_NAMES[TYPE_EVENT + 1] = {
    nullptr, "datatype!", "unset!", "none!", "logic!", "block!", "paren!", "string!", "file!", "url!", "char!",
    "integer!", "float!", "symbol!", "context!", "word!", "set-word!", "lit-word!", "get-word!", "refinement!",
    "issue!", "native!", "action!", "op!", "function!", "path!", "lit-path!", "set-path!", "get-path!", "routine!",
    "bitset!", "triple!", "object!", "typeset!", "error!", "vector!", "hash!", "pair!", "percent!", "tuple!",
    "map!", "binary!", "series!", "time!", "tag!", "email!", "handle!", "date!", "port!", "money!", "ref!",
    "point2D!", "point3D!", "image!", "event!"};

extern TypeName type_names[TYPE_TOTAL];
extern AnyFn action_table[TYPE_TOTAL][ACTION_ROW_SIZE];
extern int32_t highest_type;

// Registers a datatype row; entries marked INHERIT take the parent's current entry.
void register_type(int32_t type, int32_t parent, const char* name, const SlotEntry (&row)[62]);
// Names every datatype id (registered or not) and makes its word.
void init_type_words();

}  // namespace datatype

// The slot function of an action for a type id, or null when unsupported.
template <Act A>
inline slot_fn<A> get_slot(uint32_t type) {
    return reinterpret_cast<slot_fn<A>>(datatype::action_table[type & TYPE_MASK][int(A) - 1]);
}

// Comparison operator codes handed to the compare slot.
enum CompareOp : int32_t {
    COMP_EQUAL = 0, COMP_NOT_EQUAL, COMP_STRICT_EQUAL, COMP_LESSER, COMP_LESSER_EQUAL,
    COMP_GREATER, COMP_GREATER_EQUAL, COMP_SORT, COMP_CASE_SORT, COMP_SAME,
    COMP_STRICT_EQUAL_WORD, COMP_EQUAL_WORD, COMP_FIND
};
constexpr int32_t COMPARE_INCOMPARABLE = -2;

// Arithmetic and bitwise operator codes shared by the scalar math routines.
enum MathOp : int32_t { OP_ADD = 0, OP_SUB, OP_MUL, OP_DIV, OP_REM, OP_OR, OP_AND, OP_XOR };

// The action slot of one operator for a datatype whose operators all run
// through one routine: math_action<&do_math, OP_ADD> is its add.
template <auto DoMath, MathOp Op>
void math_action() {
    DoMath(Op);
}

}  // namespace zuv
