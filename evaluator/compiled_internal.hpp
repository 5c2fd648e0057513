// What the compiler of blocks and the loop that runs them share: the unit of
// a block and the table that keeps units by node id.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "evaluator/fast_body.hpp"
#include "evaluator/natives.hpp"
#include "runtime/cell.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/memory.hpp"

namespace zuv::interpreter::compiled::detail {

// Operators of one compiled expression, at most this many.
constexpr int32_t MAX_OPERATORS = 8;
// Blocks longer than this are walked: a unit copies the cells it is made from.
constexpr int32_t MAX_CELLS = 2048;
// A unit made again this many times (its block keeps changing) gives way to
// the walker for good.
constexpr int32_t MAX_REBUILDS = 8;
// Calls with at most this many arguments, each compiled, may compute them
// all before the call starts.
constexpr int32_t MAX_PLAIN_ARGUMENTS = 4;
// Calls nest at most this deep in one compiled expression: few enough that
// their frames and cells stay within the room checked before it.
constexpr int32_t MAX_NESTING = 6;
// Branch blocks run in place nest at most this deep.
constexpr int32_t MAX_BRANCH_DEPTH = 4;

enum Kind : uint8_t {
    K_CONST,  // a value placed as it is
    K_WORD,   // a bound word naming a plain value, or a path naming an object's field
    K_CALL,   // a bound word naming a native or action: its fixed arguments follow
    K_FUNCTION,  // a bound word naming a function without refinements used: the same
    K_PAREN,  // a paren, evaluated as a block of its own
    K_METHOD,  // a path of two words naming a function in an object: called as K_FUNCTION
};

// A step of a lean unit's chain as its trusted runs take it (Unit::program):
// each expression's operands pushed and its operators applied in place in
// the order it reads them, then its value stored or placed; what is of
// another shape is run by its expression.
enum StepKind : uint8_t {
    P_START,    // an expression starts at p
    P_CONST,    // push the cell at p as it is
    P_WORD,     // push the value in the slot kept for the word at p
    P_OPERAND,  // push the operand at p, read as any operand (an object's field)
    P_OP,       // fast applied to the two values pushed last
    P_WORD_OP,  // P_WORD p, P_CONST q and P_OP in one
    P_SET,      // the value stored through the set-word at p, and placed
    P_PLACE,    // the value placed
    P_SIMPLE,   // the simple expression p (an index in Unit::exprs), run whole
    P_BRANCH,   // the branch expression p, its condition pushed when fast is 1
    P_EXIT,     // the break or continue p
    P_END,
};
struct Step {
    StepKind kind;
    uint8_t fast;
    int32_t p;
    int32_t q = 0;
};
// Values the steps of one expression keep pushed at once, at most.
constexpr int32_t MAX_STEP_DEPTH = 8;

// The natives whose literal branch blocks a lean block runs in place.
enum Branch : uint8_t { B_NONE, B_IF, B_UNLESS, B_EITHER };

// One expression starting at position `start`: `sets` set-words (or one
// set-path naming an object's field), then its first value at `start + sets`
// by kind, then `operators` pairs of an
// operator word and a plain right operand (a constant or a word), computed
// in place. Every cell it reads is compared with the unit's copy when it is
// read, and it reads the copy's cell only when they are equal.
struct Expr {
    int32_t start = 0;
    bool prefix = false;  // an operator's right operand: no operator after it
    bool calls = false;   // its value or an operator's is a call
    bool simple = false;  // a plain value and operators computed in place, its end known
    int32_t operators_at = -1;  // the position of its first operator
    int32_t next = -1;  // the position after it, -1 when a part of it is walked
    Kind kind = K_CONST;
    uint8_t sets = 0;
    bool set_path = false;  // its one set-word is a set-path of an object's field
    uint8_t fast = 0;  // K_CALL of two arguments: the operator its callee computes in place, or FAST_NONE
    bool plain_arguments = false;  // K_CALL, K_FUNCTION, K_METHOD: few arguments, each compiled
    bool word_after = false;  // a bound word follows it in the block: it may name an operator by now
    uint8_t operators = 0;
    uint8_t arguments = 0;             // K_CALL
    int32_t first_operator = 0;        // its first entry in Unit::operators
    int32_t first_argument = 0;        // K_CALL: its first entry in Unit::arguments
    Cell callee;                       // K_CALL: the native or action the word named
    Node cache = 0;                    // K_CALL: its argument cache
    int32_t rest = 0;                  // K_FUNCTION: the cache entry after its fixed arguments
    natives::Entry entry = nullptr;    // K_CALL: a native's entry, run directly (no short cut of its own)
    // K_FUNCTION, K_METHOD: the function's body block, when it runs it
    // untraced (direct: no compiled code, no trace flag), and whether
    // refinements or locals follow its fixed arguments (more).
    bool direct = false;
    bool more = false;
    Cell body;
    mutable fast::Link link;  // direct: to the unit the body last ran from
    // A call of a loop's round (Unit::round): the slots found at epoch
    // slots_at of the arguments that are words and of the set-word when it
    // stores in place (a word of no object, holding a value placed as it
    // is); null for words of a context on the stack and where none is kept.
    // Within the epoch only decoded code and loops' own steps ran: they move
    // no values.
    mutable uint64_t slots_at = 0;
    mutable Cell* arg_slots[4] = {};
    mutable Cell* store_slot = nullptr;
    // K_METHOD: the path's words as last found to name the callee, and the
    // epoch then. Within that epoch the path and the field stay as found
    // (a store over a callable moves the epoch on); the object's word may
    // still have been given another value.
    mutable uint64_t method_at = 0;
    mutable Cell method_head;
    mutable Cell method_field;
    mutable const Cell* method_slot = nullptr;  // the head word's slot, when its context is not on the stack
    // K_CALL, K_FUNCTION: the epoch when its word, of a context not on the
    // stack, was last found to name the callee. A store over a callable
    // moves the epoch on; a word of a function's context names the cells
    // of whichever call runs, so it is looked at every time.
    mutable uint64_t callee_at = 0;
    // A call of if, unless or either at the top of the block, its condition
    // compiled and its branches literal blocks made only of simple
    // expressions: the branch chosen is run in place, its units in
    // Unit::branches from first_branch on (one, or either's two).
    Branch branch = B_NONE;
    int32_t first_branch = 0;
    bool exit = false;  // K_CALL: a bare break or continue (no arguments, nothing after it)
};

// An operator after a value: its op! as compiled, computed in place (fast)
// when its right operand is plain, else called as the walker calls it with
// the right operand's compiled expression (right, -1: walked).
struct Operator {
    Cell op;
    uint8_t fast;
    bool plain;
    int32_t right;
    Node cache;  // the wrapped native's or action's argument cache
    int32_t left_entry;   // the cache entries of its two arguments
    int32_t right_entry;
    Cell left_types;      // and what they admit
    Cell right_types;
};

// An argument of a call: the entry of its argument cache, and its compiled
// expression (an index in Unit::exprs), -1 when the walker evaluates it.
struct Argument {
    int32_t entry;
    int32_t expr;
    Cell typeset;  // the entry itself: the types the argument admits
    bool operand = false;  // its expression is one plain operand (one cell)
    uint64_t types = 0;    // the same as bits by type id
    bool admits(uint32_t type) const { return type < 64 && ((types >> type) & 1) != 0; }
};

struct Unit {
    int32_t head = 0;               // the block's head index it was made for
    uint32_t cycles = 0;            // the collector's cycle count when it was made
    std::vector<Cell> cells;        // the block's cells [head, tail) when it was made
    std::vector<Cell> resolved;     // the same, set-words not yet given their index given it
    // By position - head: the slot a word there was last found to read (or
    // a set-word to store into, when no object's), written by every lean
    // run that looks words up; trusted runs take the slots from here.
    std::vector<Cell*> slots;
    std::vector<Step> program;  // a lean unit's chain as its trusted runs take it
    std::vector<int32_t> at;        // by position - head: the expression starting there, or -1
    std::vector<Expr> exprs;
    std::vector<Argument> arguments;
    std::vector<Operator> operators;
    int32_t busy = 0;               // evaluations running it
    int32_t misses = 0;             // cells found changed since it was made
    int32_t rebuilds = 0;
    int32_t waits = 0;              // runs walked since it was last made
    bool walker_only = false;       // walked: nothing gained by it, or its block keeps changing
    bool retry = false;             // walked until made again: a callable in it had never been called
    bool orphan = false;            // its node was freed while it ran: deleted when the last run ends
    // Every expression of the block, from its head to its tail, is simple,
    // a branch run in place (its blocks lean themselves) or, last, a bare
    // break or continue: chain lists them in order. Such a block runs no
    // code of its own that could change it, so one compare of all its cells
    // at entry stands for the whole run.
    bool lean = false;
    std::vector<int32_t> chain;
    // The block, from its head to its tail, is made of simple expressions
    // and of calls of functions or methods whose bodies it runs directly
    // (K_FUNCTION or K_METHOD, direct), their arguments compiled, no
    // operator or bound word after them and at most one set-word before
    // them, one call at least: a loop runs it by a short round. Its
    // expressions in order; else empty.
    std::vector<int32_t> round;
    // The units of the branch blocks (Expr::first_branch), made with this
    // one from their blocks as they stood; each is compared with its block
    // when run.
    std::vector<std::unique_ptr<Unit>> branches;
    uint64_t stretch = 0;  // a branch's: the count of compared runs at which it last ran whole
};

// The unit of a block by its node, or null. The entry of a node seen once,
// without a unit yet, holds SEEN.
Unit* const SEEN = reinterpret_cast<Unit*>(uintptr_t(1));
// Units by node id: one lazily made page per node frame, like the node
// slots themselves.
extern Unit** pages[memory::NodeSlots::CAPACITY];
Unit*& new_page_entry(Node node);
inline Unit*& entry_of(Node node) {
    Unit** page = pages[node >> NODE_SLOT_BITS];
    return page ? page[node & NODE_SLOT_MASK] : new_page_entry(node);
}

// Drops every unit: nodes renumbered by the collector leave theirs under
// ids that no longer name them.
void drop_all();

// The field a path of two words names: the head word's value is an object
// and the second word is bound to its context (the walk binds it so at its
// first use). Its slot, or null for any other path; with object, field_word
// and head_word, also the object, the field's word (bound to the object)
// and the word naming the object.
[[gnu::always_inline]] inline Cell* object_field(const Cell& path, Cell* object = nullptr, Cell* field_word = nullptr,
                                              Cell* head_word = nullptr) {
    SeriesBuffer* s = memory::buffer_of(path.w2);
    int32_t head = std::max(int32_t(path.w1), 0);
    if ((memory::used_bytes(s) >> 4) - head != 2) return nullptr;
    const Cell* c = memory::cells_head(s) + head;
    const Cell& first = c[0];
    const Cell& field = c[1];
    if (type_of(&first) != TYPE_WORD || first.w1 == 0 || type_of(&field) != TYPE_WORD || field.w1 == 0 ||
        int32_t(field.w3) < 0)
        return nullptr;
    const Cell* owner = _context::value_slot(first.w1, int32_t(first.w3));
    if (!owner || type_of(owner) != TYPE_OBJECT || owner->w1 != field.w1) return nullptr;
    if (object) *object = *owner;
    if (field_word) *field_word = field;
    if (head_word) *head_word = first;
    return _context::value_slot(field.w1, int32_t(field.w3));
}

// Fills direct, more and body of a call of a function (its callee, cache
// and rest found).
void link_function(Expr& e);

// Makes (or makes again) the unit from the block's cells as they stand;
// depth: the branch blocks it lies in.
void build(Unit* unit, Node node, int32_t head, int32_t depth = 0);

}  // namespace zuv::interpreter::compiled::detail
