// The pre-decoded form of function bodies: how a unit is made and run.
#include "evaluator/fast_body.hpp"

#include <cstring>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/process.hpp"
#include "runtime/words.hpp"

namespace zuv::interpreter::fast {

using namespace interpreter::detail;
using rt_support::typeset_has_q;

namespace {

// The branching natives decoded inline, by slot.
constexpr uint32_t NATIVE_IF = natives::slot::if_star;
constexpr uint32_t NATIVE_UNLESS = natives::slot::unless_star;
constexpr uint32_t NATIVE_EITHER = natives::slot::either_star;

constexpr int32_t MAX_CELLS = 256;   // larger bodies are walked
constexpr int32_t MAX_NESTING = 16;  // nested expressions and blocks
// A body pushes at most two call frames per level of nesting (a paren's or
// a branch's frame and its block's, a call's or an operator's frame and its
// argument's) and one for itself before the next body entry looks for room
// again: it pushes them without a look of its own at the end of the stack.
// A call made ready in place looks for room one frame (its own) earlier.
static_assert(2 * (MAX_NESTING + 2) + 1 + 1 < SHORT_CUT_FRAMES);

enum Kind : uint8_t { K_CONST, K_LOCAL, K_GLOBAL, K_SET, K_PAREN, K_CALL, K_FUNCTION, K_IF, K_UNLESS, K_EITHER };

// The shapes of simple expressions computed by code of their own: a local
// alone, or a local and one operator with an integer constant (most leaves,
// conditions and steps of a recursion). Any other value than an integer
// there, or an overflow, takes the general steps.
// S_ADD_K adds a constant (a subtraction adds its negation); S_RANGE
// compares: the local is true when it lies in a range of integers, or
// outside it (every comparison with a constant is one of the two).
enum Shape : uint8_t { S_OTHER, S_FIELD, S_LOCAL, S_ADD_K, S_RANGE };

struct Expr;
struct Block;
struct Unit;

__extension__ typedef unsigned __int128 Bits128;

// A typeset as one bit per type id, tested without reading its bytes.
static_assert(TYPE_TOTAL <= 128);
struct TypeMask {
    uint64_t low = 0, high = 0;  // types 0-63, 64-127
    void set(const Cell& typeset) {
        low = high = 0;
        for (uint32_t t = 0; t < TYPE_TOTAL; t++)
            if (typeset_has_q(&typeset, t)) (t < 64 ? low : high) |= uint64_t(1) << (t & 63);
    }
    bool has(uint32_t type) const {
        if (type < 64) [[likely]]
            return ((low >> type) & 1) != 0;
        return type < 128 && ((high >> (type - 64)) & 1) != 0;
    }
};

// An operator after a value: computed in place (fast) when its right
// operand is plain, else called with its decoded right operand.
struct Oper {
    Cell op;          // the op! value its word had
    Cell word;
    uint8_t fast;
    bool plain;
    int32_t right;    // the right operand's expression
    bool eager;       // its word is among the unit's guards
    int32_t checks, checks_end;  // the cells read after its call
    int32_t at;       // the operator word's position
    Node cache;
    int32_t left_entry, right_entry;
    Cell left_types, right_types;
    Cell fn{};                 // the native or action it wraps
    TypeMask left_mask, right_mask;  // the types, as bits by type id
    const Expr* rx = nullptr;  // the right operand's expression, linked when the unit is made
    uint32_t frame = 0;        // the header word of its call frame
    bool right_const = false;  // that expression is a constant alone: rcell
    Cell rcell{};
    // The block of a paren of one call with simple arguments, when that is
    // the right operand (see infix_call).
    const Block* right_paren = nullptr;
};

struct Arg {
    int32_t expr;
    int32_t entry;
    Cell typeset;
    bool admitted = false;  // a constant or literal block whose type the argument admits
    bool placed = false;    // every value an operand or an operator in place can give is admitted
    Cell after{};           // after a literal block: the bound word there (it may become an operator)
    const Expr* x = nullptr;  // the expression, linked when the unit is made
    bool unchecked = false;   // admitted or placed: a simple expression's value needs no check
};

struct Expr {
    Kind kind;
    bool prefix = false;
    bool simple = false;      // an operand and operators computed in place, nothing after it
    Shape shape = S_OTHER;    // a simple expression's shape
    // S_ADD_K: the constant added (low); S_RANGE: the range [low, low +
    // span], taken modulo 2^32, and whether the truth is outside it.
    bool outside = false;
    uint32_t low = 0, span = 0;
    bool eager = false;       // its callee's word is among the unit's guards
    bool word_after = false;  // a bound word follows: it may have become an operator
    int32_t block = 0;        // the block it lies in
    int32_t start = 0;        // its first cell
    int32_t next = 0;         // the position after it
    Cell cell{};              // the constant, the word read, or the callee's word
    Cell callee{};
    Node cache = 0;
    int32_t rest = 0;         // the cache entry after the fixed arguments
    bool more = false;        // refinements or locals follow them
    int32_t first_arg = 0, args = 0;
    int32_t first_op = 0, ops = 0;
    int32_t branch[2] = {-1, -1};  // inlined blocks: a paren's, if's or unless', either's two
    int32_t value = -1;       // a set-word's value: the expression after it
    int32_t checks = 0, checks_end = 0;  // the cells read after its call, in Unit::ranges
    // The same by address, linked when the unit is made (its vectors never
    // change after): what running it reads, without index arithmetic.
    bool lone_call = false;  // a call, no operator or word after it
    bool quick = false;      // if, unless, either: a simple condition, no word after its blocks
    // A function's body block, when the function runs it untraced (not
    // compiled, no trace flag). A function's more block never changes: the
    // callee guard covers it.
    bool direct = false;
    Cell body{};
    uint32_t frame = 0;      // the header word of its call frame
    // The same with the body flag for a direct call whose arguments are
    // all simple (they run no code: no return can be meant for an outer
    // body while they are made).
    uint32_t body_frame = 0;
    const Oper* op_at = nullptr;
    const Arg* arg_at = nullptr;
    const Block* branch_at[2] = {nullptr, nullptr};
    Cell branch_code[2] = {};  // their cells, side by side (if, unless and either)
    const Expr* value_at = nullptr;
    bool simple_args = false;  // a function whose arguments are all simple expressions
    // A direct call with simple arguments and no refinements or locals
    // after them: one call_in_place may make.
    bool in_place_site = false;
    // K_GLOBAL, and K_SET of a word that is not a local: its word's
    // context keeps its values off the stack (fixed), and the slot the word
    // was last found to read (K_GLOBAL) or to store into without a change
    // handler, the word marked as changed (K_SET), at epoch slot_at. Within
    // that epoch only decoded code and loops' own steps ran, which move no
    // values series and leave a change handler as it was.
    bool fixed = false;
    mutable Cell* slot = nullptr;
    mutable uint64_t slot_at = 0;
    // The unit a direct call last entered its callee's body by, found whole
    // with its guards holding at link_epoch: valid while the epoch stays the
    // same (dropping a unit moves it on).
    mutable Unit* linked = nullptr;
    mutable uint64_t link_epoch = 0;
    // A function's context cell (its series' head), as found at
    // context_epoch: no series moves within an epoch.
    mutable Cell* context_cell = nullptr;
    mutable uint64_t context_epoch = 0;
    Cell* context() const {
        if (context_epoch != epoch) [[unlikely]] {
            context_cell = _context::cell_of(callee.w1);
            context_epoch = epoch;
        }
        return context_cell;
    }
};

struct Block {
    Cell code;
    Cell at_head;  // code at its head: the position at the start of a run
    int32_t head;
    int32_t end;
    int32_t snap;  // where its cells start in Unit::cells
    int32_t parent = -1;  // the block it is inlined in, and the position of its cell there
    int32_t at = 0;
    std::vector<int32_t> exprs;
    std::vector<const Expr*> list;  // exprs by address, linked when the unit is made
    bool lone = false;  // one call, no operator or word after it
    // A lone block's call: a function's with simple arguments, if, unless
    // or either with a simple condition, any other (run by run_lone's
    // functions of their own, so that each saves only what its own path
    // keeps).
    enum LoneKind : uint8_t { LONE_NONE, LONE_CALL, LONE_BRANCH, LONE_OTHER };
    LoneKind lone_kind = LONE_NONE;
    bool single = false;  // one expression
    // One call of a function with simple arguments: its cells are not read
    // again once the call has begun, and a paren of it needs no hold while
    // that call runs (see run_lone).
    bool unheld = false;
    // One expression computed in place, the block's whole length: while it
    // runs no error can come and no other code run, so nothing sees the
    // block's frame or position (see run_held).
    bool leaf = false;
};

// Cells still to be read after a call: [from, to) of a block, compared
// with the copy from snap on.
struct Range {
    Node node;
    int32_t from;
    int32_t to;
    int32_t snap;
};

struct Unit {
    // What every entry reads first, together.
    uint32_t cycles = 0;      // the collector's cycle count when it was made
    uint32_t renumbered = 0;  // the collector's count of node renumberings when it was made
    Node context = 0;
    uint32_t head = 0;        // the body's head index (blocks[0].code.w1)
    bool declined = false;  // the walker runs the body
    bool orphan = false;    // dropped while it ran: deleted when the last run ends
    int32_t busy = 0;       // runs of it under way
    int32_t misses = 0;     // bodies found changed since it was made
    uint64_t verified = 0;  // the epoch when every cell was last found unchanged
    uint64_t guarded = 0;   // the epoch when every guard was last found to hold
    // The header words of the frames of a block run and of a paren.
    uint32_t eval_frame = 0, paren_frame = 0;
    std::vector<Cell> cells;
    std::vector<Block> blocks;
    std::vector<Expr> exprs;
    std::vector<Arg> args;
    std::vector<Oper> ops;
    std::vector<Range> ranges;
    int32_t all_end = 0;  // ranges [0, all_end): every cell, checked at entry
    // The body's one expression when it is if, unless or either with a
    // simple condition, literal blocks and its callee among the guards (the
    // shape of most recursive functions): see Runner::call_in_place.
    const Expr* quick_body = nullptr;
    // The callees and operators named by words of contexts that are not
    // function contexts, and such words after expressions, with what they
    // must give.
    struct Guard {
        Cell word;
        Cell value;    // its value, or none: any value but an operator
    };
    std::vector<Guard> guards;
    int32_t rebuilds = 0;
    int32_t waits = 0;     // runs walked since it was declined for a missing cache
    bool retry = false;     // declined for a callee never called yet: made again later
};

Unit* const SEEN = reinterpret_cast<Unit*>(uintptr_t(1));
// The units by body node. Never destroyed, so that its units stay
// reachable until the process has ended.
std::unordered_map<Node, Unit*>& units = *new std::unordered_map<Node, Unit*>;

// The units of the bodies run last, by the low bits of their node: found
// without hashing. Node 0 names no series.
constexpr uint32_t RECENT_SLOTS = 256;
struct Recent {
    Node node;
    Unit* unit;
};
Recent recent[RECENT_SLOTS];

inline void forget_recent(Node node) {
    Recent& r = recent[node % RECENT_SLOTS];
    if (r.node == node) r = Recent{0, nullptr};
}
void (*next_release_hook)(Node) = nullptr;

// Units dropped while they ran, deleted when their last run ends (kept
// here too, so that a process ending in the middle of a run still holds
// them).
std::vector<Unit*>& orphans = *new std::vector<Unit*>;

void drop(Unit* unit) {
    if (!unit || unit == SEEN) return;
    bump();  // calls linked to units end their links
    for (Recent& r : recent)
        if (r.unit == unit) r = Recent{0, nullptr};
    if (unit->busy) {
        unit->orphan = true;
        orphans.push_back(unit);
    } else {
        delete unit;
    }
}

void bury(Unit* unit) {
    for (Unit*& u : orphans)
        if (u == unit) {
            u = orphans.back();
            orphans.pop_back();
            break;
        }
    delete unit;
}

void release(Node node) {
    if (next_release_hook) next_release_hook(node);
    if (units.empty()) return;
    forget_recent(node);
    auto it = units.find(node);
    if (it == units.end()) return;
    drop(it->second);
    units.erase(it);
}

const Cell* bound_value(const Cell& word) {
    if (type_of(&word) != TYPE_WORD || word.w1 == 0) return nullptr;
    return _context::value_slot(word.w1, int32_t(word.w3));
}

class Builder {
public:
    Builder(Unit& u, const Cell* locals) : u_(u), locals_(locals) {}

    // A callee had no argument cache yet (it was never called): the body
    // is worth decoding again later.
    bool missing_cache = false;

    // The block as an inlined block of the unit, or -1.
    int32_t block(const Cell& code, int32_t depth, int32_t parent = -1, int32_t at = 0) {
        if (depth > MAX_NESTING) return -1;
        SeriesBuffer* s = memory::buffer_of(code.w2);
        int32_t head = std::max(int32_t(code.w1), 0);
        int32_t end = memory::used_bytes(s) >> 4;
        if (end - head > MAX_CELLS || int32_t(u_.cells.size()) > 4 * MAX_CELLS) return -1;
        Cell at_head = code;
        at_head.w1 = uint32_t(head);
        Block b{code, at_head, head, std::max(head, end), int32_t(u_.cells.size()), parent, at, {}, {}};
        const Cell* cells = memory::cells_head(s);
        for (int32_t i = head; i < end; i++) u_.cells.push_back(cells[i]);
        int32_t index = int32_t(u_.blocks.size());
        u_.blocks.push_back(b);
        std::vector<int32_t> exprs;
        for (int32_t p = head; p < end;) {
            int32_t e = expression(index, p, false, depth + 1);
            if (e < 0) return -1;
            exprs.push_back(e);
            p = u_.exprs[size_t(e)].next;
        }
        u_.blocks[size_t(index)].exprs = std::move(exprs);
        return index;
    }

    // For every call, the cells read after it returns: the rest of its
    // block, the blocks inlined there, and so on out to the body.
    // The guards checked all at once. Words of function contexts (this
    // function's or another's) have other values in each call: they are
    // checked where they are read, and so are their guards' users.
    void guards() {
        auto add = [&](const Cell& word, const Cell* value) {
            if (type_of(&word) != TYPE_WORD || word.w1 == 0 || _context::on_stack_q(_context::cell_of(word.w1))) return;
            Cell none_value;
            none::make_at(&none_value);
            u_.guards.push_back({word, value ? *value : none_value});
        };
        auto eager = [&](const Cell& word) { return !_context::on_stack_q(_context::cell_of(word.w1)); };
        for (Expr& e : u_.exprs) {
            if (e.kind >= K_CALL) e.eager = eager(e.cell);
            for (int32_t k = 0; k < e.ops; k++) u_.ops[size_t(e.first_op + k)].eager = eager(u_.ops[size_t(e.first_op + k)].word);
        }
        for (const Expr& e : u_.exprs) {
            if (e.kind >= K_CALL) add(e.cell, &e.callee);
            if (e.word_after) add(u_.cells[size_t(u_.blocks[size_t(e.block)].snap + e.next - u_.blocks[size_t(e.block)].head)], nullptr);
            for (int32_t k = 0; k < e.ops; k++) add(u_.ops[size_t(e.first_op + k)].word, &u_.ops[size_t(e.first_op + k)].op);
            for (int32_t k = 0; k < e.args; k++) add(u_.args[size_t(e.first_arg + k)].after, nullptr);
        }
    }

    void ranges() {
        int32_t first;
        rest(0, u_.blocks[0].head, &first, &u_.all_end, true);
        for (Expr& e : u_.exprs) {
            // After a call, the block is read again from its operators on.
            int32_t read_from = e.ops > 0 ? u_.ops[size_t(e.first_op)].at : e.next;
            if (e.kind >= K_CALL) rest(e.block, read_from, &e.checks, &e.checks_end);
            for (int32_t k = 0; k < e.ops; k++) {
                Oper& o = u_.ops[size_t(e.first_op + k)];
                if (!o.plain) rest(e.block, u_.exprs[size_t(o.right)].next, &o.checks, &o.checks_end);
            }
        }
    }

private:
    Unit& u_;
    const Cell* locals_;

    void rest(int32_t b, int32_t p, int32_t* first, int32_t* last, bool entry = false) {
        *first = int32_t(u_.ranges.size());
        for (; b >= 0; p = u_.blocks[size_t(b)].at + 1, b = u_.blocks[size_t(b)].parent) {
            const Block& block = u_.blocks[size_t(b)];
            if (p < block.end || entry) u_.ranges.push_back({block.code.w2, p, block.end, block.snap + p - block.head});
            for (const Expr& e : u_.exprs)
                if (e.block == b && e.start >= p)
                    for (int32_t branch : e.branch)
                        if (branch >= 0) whole(branch, entry);
        }
        *last = int32_t(u_.ranges.size());
    }

    void whole(int32_t b, bool entry) {
        const Block& block = u_.blocks[size_t(b)];
        if (block.head < block.end || entry) u_.ranges.push_back({block.code.w2, block.head, block.end, block.snap});
        for (const Expr& e : u_.exprs)
            if (e.block == b)
                for (int32_t branch : e.branch)
                    if (branch >= 0) whole(branch, entry);
    }

    const Cell& cell_at(int32_t b, int32_t p) const {
        const Block& block = u_.blocks[size_t(b)];
        return u_.cells[size_t(block.snap + p - block.head)];
    }
    int32_t end_of(int32_t b) const { return u_.blocks[size_t(b)].end; }

    int32_t expression(int32_t b, int32_t p, bool prefix, int32_t depth) {
        if (depth > MAX_NESTING || p >= end_of(b)) return -1;
        Expr e;
        e.block = b;
        e.start = p;
        e.prefix = prefix;
        Cell c = cell_at(b, p);
        int32_t i = p + 1;
        std::vector<Arg> args;
        if (constant_q(type_of(&c))) {
            e.kind = K_CONST;
            e.cell = c;
        } else if (type_of(&c) == TYPE_SET_WORD && !prefix && c.w1 != 0 &&
                   _context::value_slot(c.w1, int32_t(c.w3)) &&
                   (c.w1 == u_.context ||
                    _context::kind_of(_context::cell_of(c.w1)) == _context::KIND_OBJECT)) {
            // A set-word of a local or of an object's field: its value is
            // the whole expression after it, operators included.
            e.kind = K_SET;
            e.cell = c;
            e.fixed = !_context::on_stack_q(_context::cell_of(c.w1));
            e.value = expression(b, i, false, depth + 1);
            if (e.value < 0) return -1;
            e.next = u_.exprs[size_t(e.value)].next;
            e.first_op = int32_t(u_.ops.size());
            e.first_arg = int32_t(u_.args.size());
            u_.exprs.push_back(e);
            return int32_t(u_.exprs.size()) - 1;
        } else if (type_of(&c) == TYPE_PAREN) {
            e.kind = K_PAREN;
            e.branch[0] = block(c, depth + 1, b, p);
            if (e.branch[0] < 0) return -1;
        } else if (const Cell* value = bound_value(c)) {
            e.cell = c;
            uint32_t t = type_of(value);
            if (value == locals_ + int32_t(c.w3) && c.w1 == u_.context) {
                if (!placed_q(t)) return -1;
                e.kind = K_LOCAL;
            } else if (placed_q(t)) {
                e.kind = K_GLOBAL;
                e.fixed = !_context::on_stack_q(_context::cell_of(c.w1));
            } else if (t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION) {
                e.callee = *value;
                bool function = t == TYPE_FUNCTION;
                e.cache = function ? function_cache(e.callee) : builtin_cache(e.callee);
                std::vector<int32_t> entries;
                if (!e.cache) missing_cache = true;
                if (!e.cache || !plain_arguments(e.cache, &entries, &e.rest)) return -1;
                e.kind = function ? K_FUNCTION : K_CALL;
                if (function) {
                    const Cell* found = function::more_cell(value, function::MORE_BODY);
                    const Cell* code = function::more_cell(value, function::MORE_CODE);
                    e.direct = found && type_of(found) == TYPE_BLOCK &&
                               !(code && type_of(code) == TYPE_INTEGER && integer::get_value(code) != 0) &&
                               !(value->header & (function::FLAG_TRACE | function::FLAG_NO_TRACE));
                    if (e.direct) e.body = *found;
                }
                Cell entry;
                for (int32_t k = e.rest; read_cell(e.cache, k, &entry); k++)
                    e.more |= type_of(&entry) == TYPE_REFINEMENT || type_of(&entry) == TYPE_INTEGER ||
                              (type_of(&entry) == TYPE_TYPESET && arg_kind_of(entry) != ARG_RETURN);
                if (t == TYPE_NATIVE && (value->w1 == NATIVE_IF || value->w1 == NATIVE_UNLESS ||
                                         value->w1 == NATIVE_EITHER)) {
                    int32_t blocks = value->w1 == NATIVE_EITHER ? 2 : 1;
                    int32_t cond = expression(b, i, false, depth + 1);
                    if (cond < 0) return -1;
                    i = u_.exprs[size_t(cond)].next;
                    for (int32_t k = 0; k < blocks; k++, i++) {
                        if (i >= end_of(b) || type_of(&cell_at(b, i)) != TYPE_BLOCK) return -1;
                        e.branch[k] = block(cell_at(b, i), depth + 1, b, i);
                        if (e.branch[k] < 0) return -1;
                    }
                    if (entries.size() != size_t(1 + blocks)) return -1;
                    e.kind = value->w1 == NATIVE_IF ? K_IF : value->w1 == NATIVE_UNLESS ? K_UNLESS : K_EITHER;
                    for (int32_t k = 0; k <= blocks; k++) {
                        Arg a{k == 0 ? cond : -1, entries[size_t(k)], Cell{}};
                        read_cell(e.cache, entries[size_t(k)], &a.typeset);
                        a.admitted = k > 0 && typeset_has_q(&a.typeset, TYPE_BLOCK);
                        a.placed = k == 0 && admits_placed(a.typeset);
                        int32_t block_at = u_.exprs[size_t(cond)].next + k - 1;
                        if (k > 0 && block_at + 1 < end_of(b) && type_of(&cell_at(b, block_at + 1)) == TYPE_WORD &&
                            cell_at(b, block_at + 1).w1 != 0)
                            a.after = cell_at(b, block_at + 1);
                        args.push_back(a);
                    }
                } else {
                    for (size_t k = 0; k < entries.size(); k++) {
                        int32_t a = expression(b, i, false, depth + 1);
                        if (a < 0) return -1;
                        // Only the last argument may run user code: the walker
                        // reads the arguments after it from the block as it is then.
                        if (k + 1 < entries.size() && may_call(a)) return -1;
                        Arg arg{a, entries[k], Cell{}};
                        read_cell(e.cache, entries[k], &arg.typeset);
                        const Expr& x = u_.exprs[size_t(a)];
                        arg.admitted = x.kind == K_CONST && x.ops == 0 && typeset_has_q(&arg.typeset, type_of(&x.cell));
                        arg.placed = admits_placed(arg.typeset);
                        args.push_back(arg);
                        i = u_.exprs[size_t(a)].next;
                    }
                }
            } else {
                return -1;
            }
        } else {
            return -1;
        }
        std::vector<Oper> ops;
        while (!prefix && i + 1 < end_of(b)) {
            const Cell* value = bound_value(cell_at(b, i));
            if (!value || type_of(value) != TYPE_OP) break;
            Cell fn = op::unwrap(value);
            Oper o{};
            o.op = *value;
            o.word = cell_at(b, i);
            o.at = i;
            o.fast = uint8_t(fast_op_of(fn));
            o.right = expression(b, i + 1, true, depth + 1);
            if (o.right < 0) return -1;
            Kind rk = u_.exprs[size_t(o.right)].kind;
            o.plain = o.fast != FAST_NONE && (rk == K_CONST || rk == K_LOCAL || rk == K_GLOBAL);
            o.cache = builtin_cache(fn);
            std::vector<int32_t> entries;
            if (!o.plain) {
                if (!o.cache) missing_cache = true;
                if (!o.cache || !plain_arguments(o.cache, &entries, nullptr) || entries.size() != 2) return -1;
                o.left_entry = entries[0];
                o.right_entry = entries[1];
                read_cell(o.cache, o.left_entry, &o.left_types);
                read_cell(o.cache, o.right_entry, &o.right_types);
            }
            ops.push_back(o);
            i = u_.exprs[size_t(o.right)].next;
        }
        e.next = i;
        e.word_after = !prefix && i < end_of(b) && type_of(&cell_at(b, i)) == TYPE_WORD && cell_at(b, i).w1 != 0;
        e.simple = (e.kind == K_CONST || e.kind == K_LOCAL || e.kind == K_GLOBAL) && !e.word_after;
        for (const Oper& o : ops) e.simple &= o.plain;
        e.first_op = int32_t(u_.ops.size());
        e.ops = int32_t(ops.size());
        u_.ops.insert(u_.ops.end(), ops.begin(), ops.end());
        e.first_arg = int32_t(u_.args.size());
        e.args = int32_t(args.size());
        u_.args.insert(u_.args.end(), args.begin(), args.end());
        u_.exprs.push_back(e);
        return int32_t(u_.exprs.size()) - 1;
    }

    // The typeset admits every value a simple expression gives: a placed
    // value (what an operand is) or the result of an operator in place.
    static bool admits_placed(const Cell& typeset) {
        for (uint32_t t = 1; t < TYPE_TOTAL; t++)
            if (placed_q(t) && !typeset_has_q(&typeset, t)) return false;
        return typeset_has_q(&typeset, TYPE_LOGIC) && typeset_has_q(&typeset, TYPE_INTEGER) &&
               typeset_has_q(&typeset, TYPE_FLOAT);
    }

    bool may_call(int32_t index) const {
        const Expr& e = u_.exprs[size_t(index)];
        if (e.kind >= K_SET) return true;  // a set-word may run a change handler
        for (int32_t k = 0; k < e.ops; k++)
            if (!u_.ops[size_t(e.first_op + k)].plain) return true;
        return false;
    }
};

// The addresses of what each part names: its vectors are complete.
// The shape of a local and an integer constant k by the operator op.
void shape_of_constant(Expr& e, FastOp op, int32_t k) {
    constexpr uint32_t MIN = uint32_t(INT32_MIN), MAX = uint32_t(INT32_MAX);
    uint32_t b = uint32_t(k);
    auto range = [&](uint32_t low, uint32_t span, bool outside) {
        e.shape = S_RANGE;
        e.low = low;
        e.span = span;
        e.outside = outside;
    };
    switch (op) {
        case FAST_ADD: e.shape = S_ADD_K; e.low = b; break;
        case FAST_SUB:  // a - INT32_MIN has no negation to add
            if (k != INT32_MIN) e.shape = S_ADD_K, e.low = 0u - b;
            break;
        case FAST_EQ: range(b, 0, false); break;
        case FAST_NE: range(b, 0, true); break;
        case FAST_GE: range(b, MAX - b, false); break;  // [k, max]
        case FAST_LT: range(b, MAX - b, true); break;
        case FAST_LE: range(MIN, b - MIN, false); break;  // [min, k]
        case FAST_GT: range(MIN, b - MIN, true); break;
        default: break;
    }
}

void link(Unit* u) {
    u->eval_frame = stack::frame_header(&words::tag_body, stack::FRAME_EVAL | stack::FRAME_INTERPRETED);
    u->paren_frame = stack::frame_header(&words::tag_body, stack::FRAME_NATIVE | stack::FRAME_INTERPRETED);
    for (Block& b : u->blocks)
        for (int32_t x : b.exprs) b.list.push_back(&u->exprs[size_t(x)]);
    for (Oper& o : u->ops) {
        o.rx = &u->exprs[size_t(o.right)];
        o.right_const = o.rx->kind == K_CONST && o.rx->ops == 0;
        o.rcell = o.rx->cell;
        o.frame = stack::frame_header(&o.word, stack::FRAME_NATIVE | stack::FRAME_INTERPRETED);
        o.fn = op::unwrap(&o.op);
        o.left_mask.set(o.left_types);
        o.right_mask.set(o.right_types);
    }
    for (Arg& a : u->args) {
        a.x = a.expr >= 0 ? &u->exprs[size_t(a.expr)] : nullptr;
        a.unchecked = a.admitted || a.placed;
    }
    for (Block& b : u->blocks) {
        b.single = b.list.size() == 1;
        b.lone = b.single && b.list[0]->kind >= K_CALL && b.list[0]->ops == 0 && !b.list[0]->word_after;
    }
    for (Expr& e : u->exprs) {
        e.op_at = u->ops.data() + e.first_op;
        e.lone_call = e.kind >= K_CALL && e.ops == 0 && !e.word_after;
        if (e.kind >= K_CALL)
            e.frame = stack::frame_header(&e.cell, (e.kind == K_FUNCTION ? stack::FRAME_FUNC : stack::FRAME_NATIVE) |
                                                       stack::FRAME_INTERPRETED);
        e.arg_at = u->args.data() + e.first_arg;
        for (int32_t k = 0; k < 2; k++) {
            e.branch_at[k] = e.branch[k] >= 0 ? &u->blocks[size_t(e.branch[k])] : nullptr;
            if (e.branch_at[k]) e.branch_code[k] = e.branch_at[k]->code;
        }
        if (e.value >= 0) e.value_at = &u->exprs[size_t(e.value)];
        if (e.kind == K_SET) e.frame = stack::frame_header(&e.cell, stack::FRAME_NATIVE | stack::FRAME_INTERPRETED);
        if (e.kind == K_FUNCTION) {
            e.simple_args = true;
            for (int32_t k = 0; k < e.args; k++) e.simple_args &= e.arg_at[k].x && e.arg_at[k].x->simple;
            e.body_frame = e.frame | (e.direct && e.simple_args ? stack::FRAME_BODY : 0);
            e.in_place_site = e.direct && e.simple_args && !e.more && e.args <= 8;
        }
        if (e.simple && e.kind == K_LOCAL && e.ops == 0) e.shape = S_LOCAL;
        if (e.simple && e.kind == K_GLOBAL && e.ops == 1 && e.fixed) e.shape = S_FIELD;
        if (e.simple && e.kind == K_LOCAL && e.ops == 1 && e.op_at->right_const &&
            type_of(&e.op_at->rcell) == TYPE_INTEGER) {
            shape_of_constant(e, FastOp(e.op_at->fast), int32_t(e.op_at->rcell.w2));
        }
        if (e.kind >= K_IF) {
            e.quick = e.arg_at[0].x->simple;
            for (int32_t k = 1; k < e.args; k++)
                e.quick &= e.arg_at[k].admitted && type_of(&e.arg_at[k].after) != TYPE_WORD;
        }
    }
    for (Block& b : u->blocks) {
        b.unheld = b.lone && b.list[0]->simple_args;
        b.lone_kind = !b.lone                 ? Block::LONE_NONE
                      : b.list[0]->simple_args ? Block::LONE_CALL
                      : b.list[0]->quick       ? Block::LONE_BRANCH
                                               : Block::LONE_OTHER;
        b.leaf = b.single && !b.lone && b.list[0]->simple && b.list[0]->next == b.end;
    }
    const Block& body = u->blocks[0];
    if (body.lone && body.list[0]->kind >= K_IF && body.list[0]->quick && body.list[0]->eager &&
        body.list[0]->next == body.end)
        u->quick_body = body.list[0];
    for (Oper& o : u->ops)
        if (o.rx->kind == K_PAREN && o.rx->branch_at[0]->unheld && !o.rx->branch_at[0]->leaf)
            o.right_paren = o.rx->branch_at[0];
}

void build(Unit* unit, const Cell& body, Node context, const Cell* locals) {
    unit->cycles = collector::series_cycles;
    unit->renumbered = collector::nodes_cycles;
    unit->context = context;
    unit->head = body.w1;
    Builder builder(*unit, locals);
    if (builder.block(body, 0) != 0) {
        unit->declined = true;
        unit->retry = builder.missing_cache;
        return;
    }
    builder.ranges();
    builder.guards();
    link(unit);
}

// What stack::push_known_frame_in_room does, with the stacks' words read
// before anything is written and the frame's first two words stored as one.
[[gnu::always_inline]] inline void push_frame_in_room(uint32_t header, Node word_context) {
    stack::Frame* f = stack::frames_top;
    Cell* args = stack::arguments;
    Cell* top = stack::top;
    stack::fill_frame(f, stack::bottom, header, args, word_context);
    stack::frames_top = f + 1;
    stack::arguments = top;
}

// stack::push of the callable's copy, then the call's frame above it as
// push_known_frame_in_room pushes it: the stacks' words are all read before
// anything is written (any store may alias them, and they would be read
// again after it).
[[gnu::always_inline]] inline Cell* push_call(const Cell& callee, uint32_t header, Node word_context) {
    Cell* kept = stack::top;
    Cell* first = kept + 1;
    Cell* limit = stack::end;
    Cell* bottom = stack::bottom;
    Cell* args = stack::arguments;
    stack::Frame* f = stack::frames_top;
    copy_cell(&callee, kept);
    stack::top = first;
    if (first >= limit) [[unlikely]]
        stack::overflow_data();
    stack::fill_frame(f, bottom, header, args, word_context);
    stack::frames_top = f + 1;
    stack::arguments = first;
    return kept;
}

// Two frames with no function context, as two push_known_frame_in_room
// calls push them: nothing is pushed on the data stack between them, so the
// second one's call starts where the first one's does. The stacks' words
// are read once, before anything is written.
[[gnu::always_inline]] inline void push_pair(uint32_t first, uint32_t second, Node word_context) {
    Cell* bottom = stack::bottom;
    Cell* args = stack::arguments;
    Cell* top = stack::top;
    stack::Frame* f = stack::frames_top;
    stack::fill_frame(f, bottom, first, args, word_context);
    stack::fill_frame(f + 1, bottom, second, top, word_context);
    stack::frames_top = f + 2;
    stack::arguments = top;
}

// Who pushes the frame a block runs under: the block's run itself
// (OWN_FRAME), the same together with a frame under it (PAIR_OF_FRAMES), or
// its caller, which pushed them before the run (PUSHED).
enum Framing { OWN_FRAME, PAIR_OF_FRAMES, PUSHED };

class Busy {
public:
    // A null unit: counted by someone else.
    explicit Busy(Unit* unit) : unit_(unit) {
        if (unit) unit->busy++;
    }
    ~Busy() {
        if (unit_ && --unit_->busy == 0 && unit_->orphan) bury(unit_);
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    Unit* unit_;
};

// Runs the body block of the function from its unit (its call frame
// current, the argument cells from stack::arguments); false, having done
// nothing, when the walker must run it. from_decoded: the caller is decoded
// code and nothing else ran since it last looked at its cells.
bool run_unit(const Cell* function, const Cell& code, bool from_decoded, const Expr* caller = nullptr,
              Link* link = nullptr);

inline void place(const Cell* value, bool sub) {
    if (sub) stack::push(value);
    else stack::set_last(value);
}

// unwind_last (sub) or unwind_last_return for the top frame, pushed while
// outer was the current call's first cell: on a return with nothing
// pending that frame is still the top one, and its saved index names outer.
[[gnu::always_inline]] inline void unwind_to(Cell* outer, bool sub) {
    Cell* result = stack::arguments;
    --stack::frames_top;
    stack::top = result + 1;
    stack::arguments = outer;
    if (!sub) copy_cell(result, outer);
}

// end_call the same way: the result, in the cell above the callable's
// copy, takes that copy's place. lone: the call is its block's one
// expression, whose first cell (outer) is the copy's.
template <bool lone = false>
[[gnu::always_inline]] inline void end_call_to(Cell* outer, Cell* copy, bool sub) {
    Cell* result = copy + 1;
    --stack::frames_top;
    stack::top = result;
    stack::arguments = outer;
    if (!sub && !lone) copy_cell(result, outer);
    copy_cell(result, copy);
}

// What exec_body does around a body block run untraced: the argument
// cells as the function context's values, the call frame the target of
// return and exit, which end here. flagged: the frame was pushed as the
// target already, and is popped right after (the flag needs no clearing).
// True when an exit is pending after it.
// What CallState does for a decoded call of the function e names, which
// found the tracing flag off: the context's cell found by e.
class DecodedCallState {
public:
    DecodedCallState(const Expr& e, uint32_t values) : e_(e) {
        Cell* c = e.context();
        values_ = c->w2;
        c->w2 = values;
    }
    ~DecodedCallState() {
        e_.context()->w2 = values_;
        tracing_q = false;
    }
    DecodedCallState(const DecodedCallState&) = delete;
    DecodedCallState& operator=(const DecodedCallState&) = delete;

private:
    const Expr& e_;
    uint32_t values_;
};

// context: the function's context node, or the decoded call naming it.
template <bool flagged = false, class Context, class Run>
[[gnu::always_inline]] inline bool in_body_frame(const Context& context, Run run) {
    std::conditional_t<std::is_same_v<Context, Expr>, DecodedCallState, CallState> state(
        context, stack::values_word_of(stack::arguments));
    stack::Frame* frame = stack::frames_top - 1;
    if (!flagged) frame->header |= stack::FRAME_BODY;
    try {
        run();
    } catch (const Throw& t) {
        // return and exit from C++ code that could not pass them on: the
        // stacks are already unrolled to this call, and the body's own block
        // run put the position back.
        if (t.code != THROW_RETURN && t.code != THROW_EXIT) throw;
    }
    if (uint32_t pending = stack::pending()) {
        // Anything but this call's own return or exit is for a receiver
        // further out, to which the stacks already belong.
        if ((pending != THROW_RETURN && pending != THROW_EXIT) || stack::frames_top - 1 != frame) return true;
        stack::clear_pending();
        stack::keep();
    }
    if (!flagged) frame->header &= ~stack::FRAME_BODY;
    return false;
}

// What Runner::call_in_place did: nothing, the arguments computed where the
// call pushes them (above stack::top, the callable's copy's cell), or the
// whole call, its value at stack::top.
// IN_PLACE_READY: and the condition of the body's branch, in the cell where
// the branch pushes it.
enum InPlace : uint8_t { IN_PLACE_NONE, IN_PLACE_ARGS, IN_PLACE_READY, IN_PLACE_DONE };

class Runner {
public:
    Runner(Unit& u, Cell* locals) : u_(u), locals_(locals), seen_(epoch - 1), guarded_(u.guarded) {}
    // A runner for a unit whose cells and guards were found whole at the
    // current epoch.
    struct Verified {};
    Runner(Unit& u, Cell* locals, Verified) : u_(u), locals_(locals), seen_(epoch), guarded_(epoch) {}

    // Every cell the unit was made from is there, and the blocks are as
    // long as they were.
    bool entry_same() {
        if (!still(0, u_.all_end, true)) return false;
        u_.verified = epoch;
        return true;
    }
    // Every guard holds: until other code runs, none is looked at again.
    [[gnu::noinline]] void check_guards() {
        for (const Unit::Guard& g : u_.guards) {
            const Cell* slot = _context::value_slot(g.word.w1, int32_t(g.word.w3));
            if (!slot) return;
            if (type_of(&g.value) == TYPE_NONE ? type_of(slot) == TYPE_OP
                                               : std::memcmp(slot, &g.value, sizeof(Cell)) != 0)
                return;
        }
        u_.guarded = epoch;
        guarded_ = epoch;
    }

    // The unit was found whole and nothing but decoded code ran since.
    void take_verified() { seen_ = epoch; }

    // The cells still to be read after a call are the ones decoded.
    [[gnu::always_inline]] inline bool still(int32_t first, int32_t last, bool exact = false) {
        if (walking_) return false;
        if (seen_ == epoch) return true;  // nothing but decoded code ran since the last look
        return compare(first, last, exact);
    }

    [[gnu::noinline]] bool compare(int32_t first, int32_t last, bool exact) {
        if (u_.cycles != collector::series_cycles || u_.renumbered != collector::nodes_cycles) {
            // A collection ran: the nodes named by the unit may be others'.
            walking_ = true;
            return false;
        }
        const Range* r = u_.ranges.data();
        for (int32_t i = first; i < last; i++) {
            SeriesBuffer* s = memory::buffer_of(r[i].node);
            int32_t used = memory::used_bytes(s) >> 4;
            // An empty range (of an empty block: no copy to compare) is
            // looked at for its length only.
            if (used < r[i].to || (exact && used != r[i].to) ||
                (r[i].to > r[i].from && std::memcmp(memory::cells_head(s) + r[i].from, u_.cells.data() + r[i].snap,
                                                    size_t(r[i].to - r[i].from) * sizeof(Cell)) != 0)) {
                walking_ = true;
                return false;
            }
        }
        seen_ = epoch;
        return true;
    }

    // The body block run under its own frame, as eval_block runs it. Its
    // callers found no trace on and no interrupt, and the runner is new:
    // its start is not looked at again.
    // Without restore the position is left as the body's end gives it: the
    // caller is a block of this one call, whose end puts it back (see
    // run_lone).
    // fresh: the runner's guards and cells were found to hold at this epoch
    // (see callee_q), and room_for_short_cut found room on every stack
    // right before.
    // ready: the body's branch condition is computed already (see
    // call_in_place).
    template <bool restore = true, bool fresh = false, bool ready = false>
    [[gnu::always_inline]] static inline void run_top(Runner& runner, const Unit& unit, const Cell& code) {
        Bits128 saved;
        if (restore) std::memcpy(&saved, current_position, sizeof saved);
        Cell* outer = stack::arguments;
        push_frame_in_room(unit.eval_frame, words::tag_body.w1);  // mark_eval's frame
        runner.run_block<false, fresh, ready>(unit.blocks[0], code);
        if (restore) std::memcpy(current_position, &saved, sizeof saved);
        if (stack::pending()) return;
        unwind_to(outer, false);
    }

    // Runs the body from the unit a decoded call linked, when nothing since
    // its last entry at this epoch can have changed what run_unit would find:
    // the unit still there and its cells and guards found whole (the link
    // made at this epoch), no collection since it was made, room on every
    // stack.
    // A body calling itself needs no count of its own: whoever runs this
    // runner counts the unit as busy until the call returns.
    template <bool restore = true, bool ready = false>
    [[gnu::always_inline]] inline bool run_linked(const Expr& e) {
        Unit* unit = e.linked;
        // Ready: call_in_place found all this true just before the call's
        // frame was pushed (the room it found has a frame to spare). A
        // collection moves the epoch on: a link of this epoch names a unit
        // made since the last one.
        if (!ready && (e.link_epoch != epoch || runtime::interrupt_pending || !room_for_short_cut())) [[unlikely]]
            return false;
#if defined(__OPTIMIZE__)
        if (unit == &u_) [[likely]] {
            Runner runner(*unit, stack::arguments, Verified{});
            run_top<restore, true, ready>(runner, *unit, e.body);
            return true;
        }
        Busy busy(unit);
#else
        // One copy of the run where every inlined copy has stack room of
        // its own (see leaf).
        Busy busy(unit == &u_ ? nullptr : unit);
#endif
        Runner runner(*unit, stack::arguments, Verified{});
        run_top<restore, true, ready>(runner, *unit, e.body);
        return true;
    }

    // The expressions of block b as eval_block(code, true) evaluates them
    // under a frame of header under (a paren's), its own frame pushed right
    // above it: both are left on top when no exit is pending, the result in
    // the cell they start at, for the caller to pop. True when an exit is
    // pending after them. A leaf block is the caller's to compute.
    [[gnu::always_inline]] inline bool block_under(const Block& b, uint32_t under) {
        if (b.unheld) return run_held<true, true, false, PAIR_OF_FRAMES>(b, under);
        Hold hold(b.code);
        return run_held<true, true, false, PAIR_OF_FRAMES>(b, under);
    }

    // The same for a block the data stack keeps alive while it runs. A
    // block of one expression that is not a call (the shape of most
    // leaves of a recursion) runs here, without a call of its own.
    // check: the walker may have to take the block (see start_single).
    // restore: as for run_top.
    // Without pop the block's frame is left on top when no exit is pending,
    // its result in the cell its frame starts at (stack::arguments), for
    // the caller to pop with its own frame.
    // frames: who pushes the block's frame (see Framing); with a frame
    // pushed under it, the caller computes a leaf.
    template <bool check = true, bool restore = true, bool pop = true, Framing frames = OWN_FRAME>
    [[gnu::always_inline]] inline bool run_held(const Block& b, uint32_t under = 0) {
        if (frames == OWN_FRAME && b.leaf && !(check && (walking_ | tracing_q)) && leaf<pop>(b)) [[likely]]
            return false;
        // Kept whole, as one 16-byte value, across the run.
        Bits128 saved;
        if (restore) std::memcpy(&saved, current_position, sizeof saved);
        Cell* outer = stack::arguments;
        if (frames == PAIR_OF_FRAMES) push_pair(under, u_.eval_frame, words::tag_body.w1);
        else if (frames == OWN_FRAME)
            push_frame_in_room(u_.eval_frame, words::tag_body.w1);  // mark_eval's frame
        // A paren's or branch's one call first: the most common block here.
        // Its guards found holding at this epoch are not looked at again
        // (no code runs before its call).
        if (b.lone_kind == Block::LONE_CALL) {
            if (guarded_ == epoch) run_lone<Block::LONE_CALL, check, true>(b, b.code);
            else run_lone<Block::LONE_CALL, check>(b, b.code);
        } else if (b.single && !b.lone) single_here<check>(b, b.code);
        else run_block<check>(b, b.code);
        if (restore) std::memcpy(current_position, &saved, sizeof saved);
        if (stack::pending()) return true;
        if (pop) unwind_to(outer, false);
        return false;
    }

    // A leaf block (see Block) run without its frame: its value where the
    // block's result slot would be, then in the caller's, as the frame's
    // pop leaves it (with pop; without it, as the caller's pop of both
    // frames takes it). False, having done nothing, when it cannot be
    // computed in place: the block runs as any other.
    template <bool pop>
    [[gnu::always_inline]] inline bool leaf(const Block& b, bool sub = false) {
        Cell* out = stack::top;
        if (!in_place(b, out)) return false;
        if (pop) {
            // sub: the value stays where it is, one cell above the caller's.
            stack::top = out + 1;
            if (!sub) copy_cell(out, stack::arguments);
        } else {
            push_frame_in_room(u_.eval_frame, words::tag_body.w1);
        }
        return true;
    }

    // The value of a leaf block into out; false when it is not computed in
    // place. Unoptimized builds give every inlined copy of it stack room of
    // its own in each caller's frame, which deep recursion pays for: there
    // it is a call.
#if defined(__OPTIMIZE__)
    [[gnu::always_inline]] inline
#else
    [[gnu::noinline]]
#endif
    bool in_place(const Block& b, Cell* out) {
        return simple(*b.list[0], out);
    }

    template <bool check = true, bool fresh = false, bool ready = false>
    [[gnu::always_inline]] inline void run_block(const Block& b, const Cell& code) {
        // A body's one if, unless or either first (run_held takes a block
        // of one function call before it comes here).
        if (b.lone_kind == Block::LONE_BRANCH) run_lone<Block::LONE_BRANCH, check, fresh, ready>(b, code);
        else if (b.lone_kind == Block::LONE_CALL) run_lone<Block::LONE_CALL, check, fresh>(b, code);
        else if (b.lone) run_lone<Block::LONE_OTHER, check, fresh>(b, code);
        else if (b.single) run_single<check>(b, code);
        else run_any(b, code);
    }

    // A block of one expression of another kind, as run_any runs it.
    template <bool check>
    [[gnu::noinline]] void run_single(const Block& b, const Cell& code) { single_here<check>(b, code); }

    template <bool check>
    [[gnu::always_inline]] inline void single_here(const Block& b, const Cell& code) {
        if (!start_single<check>(b, code)) return;
        const Expr& e = *b.list[0];
        int32_t position;
        // The block's result slot is the stack top, where a simple
        // expression leaves its value.
        if (e.simple && simple(e, stack::top)) position = e.next;
        else position = eval(e, false);
        end_single(b, code, position);
    }

    // The start of a block of one expression: its position set, or false
    // when the walker took the whole block. Without check the caller knows
    // that the runner is not walking and that no trace came since it last
    // looked (no other code ran since). An interrupt is left to the next
    // body entry or loop: a block of one expression runs no loop of its own.
    // (code is b.code: run_unit runs no body from a cell other than the
    // one its unit was made from.)
    template <bool check>
    [[gnu::always_inline]] inline bool start_single(const Block& b, const Cell& code) {
        *current_position = b.at_head;
        if (check && (walking_ | tracing_q)) [[unlikely]] {
            walk_rest(code, b.end, b.head);
            return false;
        }
        return true;
    }

    // The end of it: anything after the expression (the block grew while
    // it ran) is the walker's.
    [[gnu::always_inline]] inline void end_single(const Block& b, const Cell& code, int32_t position) {
        if (stack::pending()) return;
        if (position < b.end && (seen_ == epoch || position < limit_of(code.w2, b.end))) [[unlikely]]
            lone_rest(code, b.end, position);
    }

    // A block of one call with nothing after it, the shape of most branches
    // and parens, as run_any runs it: kind says which (a function whose
    // arguments are all simple, an if, unless or either whose condition is
    // simple, or any other call); ready: as for run_top.
    // A function called here may leave the position as its body's end gave
    // it: nothing looks at it before this block's caller puts its own back,
    // but the walker, which finds it set again first.
    template <Block::LoneKind kind, bool check, bool fresh = false, bool ready = false>
    [[gnu::noinline]] void run_lone(const Block& b, const Cell& code) {
        if (!start_single<check>(b, code)) return;
        const Expr& e = *b.list[0];
        if (!callee_q<fresh>(e)) [[unlikely]]
            return lone_held(b, code);
        Cell* first_cell = stack::top;
        int32_t position;
        if constexpr (kind == Block::LONE_CALL) {
            position = call_function_here<true, fresh>(e, false);
            if (position == e.next) [[likely]]  // and not walking (else WALKING)
                return;
        } else if constexpr (kind == Block::LONE_BRANCH) {
            position = call_branch_here<true, fresh, ready>(e, false);
            if (position == e.next && !walking_) [[likely]]
                return;
        } else {
            position = call_general(e, false);
            if (stack::pending()) return;
            if (position == e.next && !walking_) [[likely]]
                return;
        }
        lone_end(b, code, first_cell, position);
    }

    // The end of a lone block's call that did not end where it should.
    [[gnu::noinline, gnu::cold]] void lone_end(const Block& b, const Cell& code, Cell* first_cell, int32_t position) {
        if (position == PENDING) return;
        if (position == AGAIN) [[unlikely]]  // the arguments were not simple: nothing was done
            return lone_held(b, code);
        const Expr& e = *b.list[0];
        if (position == WALKING) position = e.next;
        set_position(code, b.head);
        if (position != e.next || walking_) position = after(e, false, first_cell, position);
        end_single(b, code, position);
    }

    // The same by the general steps, the block held: once code other than
    // simple arguments has run, a paren of the call's block may be all that
    // keeps it (see block_under).
    [[gnu::noinline, gnu::cold]] void lone_held(const Block& b, const Cell& code) {
        Hold hold(code);
        const Expr& e = *b.list[0];
        int32_t position;
        if (!callee_q(e)) {
            position = walk(e, false);
        } else {
            Cell* first_cell = stack::top;
            position = call_general(e, false);
            if (stack::pending()) return;
            if (position != e.next || walking_) position = after(e, false, first_cell, position);
        }
        end_single(b, code, position);
    }

    // What the calls made by run_lone answer instead of a position: an exit
    // is pending, or the call is to be made again by the general steps.
    // WALKING: the call ended where it should, but the runner walks now.
    static constexpr int32_t PENDING = -2, AGAIN = -1, WALKING = -3;

    [[gnu::noinline, gnu::cold]] static void set_position(const Cell& code, int32_t position) {
        *current_position = code;
        current_position->w1 = uint32_t(position);
    }

    [[gnu::noinline, gnu::cold]] void lone_rest(const Cell& code, int32_t end, int32_t position) {
        stack::reset();  // only the last expression's value survives
        walk_rest(code, end, position);
    }

    [[gnu::noinline]] void run_any(const Block& b, const Cell& code) {
        size_t n = b.list.size();
        if (n == 0) {
            unset::make_at(stack::arguments);
            return;
        }
        *current_position = code;
        int32_t position = b.head;
        for (size_t k = 0;;) {
            const Expr* e = b.list[k];
            if (e->start != position || (walking_ | runtime::interrupt_pending | tracing_q)) [[unlikely]] {
                // The walker goes on from where the decoded code left the block.
                walk_rest(code, b.end, position);
                return;
            }
            current_position->w1 = uint32_t(position);
            // Only the last value survives: the block's result slot is the
            // stack top, where a simple expression leaves its value.
            if (e->simple && stack::top == stack::arguments && simple(*e, stack::top)) {
                position = e->next;
            } else if (e->lone_call) {
                // What eval does for a call with nothing after it.
                if (!callee_q(*e)) {
                    position = walk(*e, false);
                } else {
                    Cell* first_cell = stack::top;
                    position = call(*e, false);
                    if (!stack::pending() && (position != e->next || walking_))
                        position = after(*e, false, first_cell, position);
                }
            } else {
                position = eval(*e, false);
            }
            if (stack::pending()) return;
            // Cells found unchanged at this epoch include the block's own
            // up to its end: its tail is not looked at again.
            if (position >= b.end || (seen_ != epoch && position >= limit_of(code.w2, b.end))) break;
            stack::reset();  // only the last expression's value survives
            if (++k == n) [[unlikely]] {
                walk_rest(code, b.end, position);
                return;
            }
        }
    }

private:
    Unit& u_;
    Cell* locals_;
    bool walking_ = false;
    // What call_in_place made for the call a paren holds, before the paren's
    // frames were pushed (see paren): the call's steps go on from there.
    InPlace made_ = IN_PLACE_NONE;
    uint64_t seen_;  // the epoch at the last look at the cells
    // The unit's guarded epoch as this run last knew it: when a guard was
    // last seen to hold, all of them held at that epoch.
    uint64_t guarded_;

    // The rest of the block from position, by the walker.
    [[gnu::noinline, gnu::cold]] void walk_rest(const Cell& code, int32_t end, int32_t position) {
        Node node = code.w2;
        if (position >= limit_of(node, end)) return;
        bump();
        for (;;) {
            current_position->w1 = uint32_t(position);
            position = eval_expression(&code, position, end, false, false, false);
            if (stack::pending()) return;
            if (position >= limit_of(node, end)) break;
            stack::reset();
        }
    }

    [[gnu::noinline, gnu::cold]] int32_t walk(const Expr& e, bool sub) {
        const Cell& code = u_.blocks[size_t(e.block)].code;
        bump();
        return eval_expression(&code, e.start, u_.blocks[size_t(e.block)].end, e.prefix, sub, false);
    }

    // The value of a plain operand, or false when the walker must evaluate it.
    inline bool operand(const Expr& e, Cell* out) {
        switch (e.kind) {
            case K_CONST: *out = e.cell; return true;
            case K_LOCAL: *out = locals_[e.cell.w3]; break;
            case K_GLOBAL: {
                const Cell* slot = e.slot_at == epoch ? e.slot : global_slot(e);
                if (!slot) return false;
                *out = *slot;
                break;
            }
            default: return false;
        }
        return placed_q(type_of(out));
    }

    // The slot of a K_GLOBAL word, kept for the rest of the epoch when its
    // context is not on the stack.
    [[gnu::noinline]] Cell* global_slot(const Expr& e) {
        Cell* slot = _context::value_slot(e.cell.w1, int32_t(e.cell.w3));
        if (slot && e.fixed) {
            e.slot = slot;
            e.slot_at = epoch;
        }
        return slot;
    }

    // The right operand of an operator in place when it is read without a
    // look at its word: a constant, a local, or a word whose slot was found
    // at this epoch; else null. Its value need not be one placed as it is:
    // the operator computes in place on numbers only.
    [[gnu::always_inline]] inline const Cell* right_cell(const Oper& o) {
        if (o.right_const) return &o.rcell;
        const Expr& r = *o.rx;
        if (r.ops == 0) {
            if (r.kind == K_LOCAL) return &locals_[r.cell.w3];
            if (r.kind == K_GLOBAL && r.slot_at == epoch) return r.slot;
        }
        return nullptr;
    }

    // The operator's word still gives the operator decoded.
    template <bool fresh = false>
    [[gnu::always_inline]] inline bool op_q(const Oper& o) {
        if ((fresh || guarded_ == epoch) && o.eager) return true;
        const Cell* slot = _context::value_slot(o.word.w1, int32_t(o.word.w3));
        return slot && std::memcmp(slot, &o.op, sizeof(Cell)) == 0;
    }

    // The word's value is an operator (false for none).
    bool operator_q(const Cell& word) {
        if (type_of(&word) != TYPE_WORD) return false;
        if (guarded_ == epoch && !_context::on_stack_q(_context::cell_of(word.w1))) return false;
        const Cell* slot = _context::value_slot(word.w1, int32_t(word.w3));
        return slot && type_of(slot) == TYPE_OP;
    }

    // fresh: the caller knows that the guards held at this epoch, that the
    // runner is not walking and that no other code ran since.
    template <bool fresh = false>
    [[gnu::always_inline]] inline bool callee_q(const Expr& e) {
        if ((fresh || guarded_ == epoch) && e.eager) return true;
        const Cell* slot = _context::value_slot(e.cell.w1, int32_t(e.cell.w3));
        return slot && std::memcmp(slot, &e.callee, sizeof(Cell)) == 0 && u_.cycles == collector::series_cycles;
    }

    // The value of a simple expression, or false when eval must take it.
    // out is the stack top, written in place: a value made by parts and
    // then copied whole would be read back before its parts are stored.
    template <bool fresh = false>
    [[gnu::always_inline]] inline bool simple(const Expr& e, Cell* out) {
        if (e.shape == S_LOCAL) {
            // The type read from the local: out, just written, would be
            // read back before its parts are stored.
            const Cell& local = locals_[e.cell.w3];
            uint32_t type = type_of(&local);
            *out = local;
            return placed_q(type);
        }
        if (e.shape > S_LOCAL) {  // a local and an integer constant
            const Cell& local = locals_[e.cell.w3];
            if (type_of(&local) == TYPE_INTEGER && op_q<fresh>(*e.op_at)) {
                uint32_t a = local.w2;
                if (e.shape == S_RANGE) {
                    logic::make_at(out, (a - e.low <= e.span) != e.outside);
                    return true;
                }
                int32_t r;
                if (!__builtin_add_overflow(int32_t(a), int32_t(e.low), &r)) {
                    *out = local;
                    out->w2 = uint32_t(r);
                    return true;
                }
            }
        }
        if (e.shape == S_FIELD && e.slot_at == epoch) {
            // A field or global word and a local or constant, the shape of
            // most updates of an object's field.
            const Oper& o = *e.op_at;
            const Cell* right = right_cell(o);
            if (right && op_q(o)) {
                *out = *e.slot;
                if (fast_op(FastOp(o.fast), out, right)) return true;
            }
        }
        return simple_any(e, out);
    }

    [[gnu::noinline]] bool simple_any(const Expr& e, Cell* out) {
        if (!operand(e, out)) return false;
        for (int32_t k = 0; k < e.ops; k++) {
            const Oper& o = e.op_at[k];
            Cell right;
            if (!op_q(o) || !operand(*o.rx, &right) || !fast_op(FastOp(o.fast), out, &right))
                return false;
        }
        return true;
    }

    // The value of a paren, under the frame the walker pushes; true when an
    // exit is pending after it.
    // A leaf block computed in place needs neither frame: nothing can see
    // them while it runs.
    [[gnu::always_inline]] inline bool paren(const Expr& e, bool sub) {
        const Block& b = *e.branch_at[0];
        if (b.leaf && !(walking_ | tracing_q) && leaf<true>(b, sub)) [[likely]]
            return false;
        Cell* outer = stack::arguments;
        if (b.unheld && b.list[0]->in_place_site && callee_q(*b.list[0])) {
            // A paren of one call made in place (see call_in_place) shows no
            // more than the call: its frames are not pushed either.
            const Expr& call = *b.list[0];
            InPlace in_place = call_in_place<false>(call);
            if (in_place == IN_PLACE_DONE) {
                Cell* result = stack::top;
                stack::top = result + 1;
                if (!sub) copy_cell(result, outer);
                still(call.checks, call.checks_end);
                return false;
            }
            // The call in the paren's block takes what was made.
            made_ = in_place;
        }
        // mark_eval_native's frame, and the block's own above it.
        if (block_under(b, u_.paren_frame)) return true;
        // The block's frame starts where the paren's does (nothing is pushed
        // between them): both are popped at once, the result in place.
        Cell* result = stack::arguments;
        stack::frames_top -= 2;
        stack::top = result + 1;
        stack::arguments = outer;
        if (!sub) copy_cell(result, outer);
        return false;
    }

    // The expression as eval_expression(code, start, end, prefix, sub)
    // evaluates it; answers the position after it.
    int32_t eval(const Expr& e, bool sub) {
        Cell* first_cell = stack::top;
        int32_t p = e.start + 1;
        switch (e.kind) {
            case K_CONST: case K_LOCAL: case K_GLOBAL: {
                Cell v;
                if (!operand(e, &v)) return walk(e, sub);
                place(&v, sub);
                break;
            }
            case K_SET: return set_word(e, sub);
            case K_PAREN:
                if (paren(e, sub)) return p;
                break;
            case K_IF: case K_UNLESS: case K_EITHER: case K_CALL: case K_FUNCTION:
                if (!callee_q(e)) return walk(e, sub);
                p = call(e, sub);
                if (stack::pending()) return p;
                break;
        }
        for (int32_t k = 0; k < e.ops; k++) {
            const Oper& o = e.op_at[k];
            if (p != o.at || walking_) return after(e, sub, first_cell, p);
            if (!op_q(o)) return after(e, sub, first_cell, p);
            const Expr& r = *o.rx;
            if (o.plain) {
                Cell right;
                Cell* left = sub ? first_cell : stack::arguments;
                if (!operand(r, &right) || !fast_op(FastOp(o.fast), left, &right)) return after(e, sub, first_cell, p);
                if (!sub) copy_cell(left, first_cell);
                stack::top = first_cell + 1;  // where the entry's result would stand
                p = r.next;
            } else {
                p = infix_call(o, r, sub, first_cell);
                if (stack::pending()) return p;
                still(o.checks, o.checks_end);
            }
        }
        if (p != e.next || walking_) return after(e, sub, first_cell, p);
        if (e.word_after) {
            const Block& b = u_.blocks[size_t(e.block)];
            if (operator_q(u_.cells[size_t(b.snap + e.next - b.head)])) return after(e, sub, first_cell, p);
        }
        return p;
    }

    // A set-word as eval_set_word takes it: its value evaluated under a
    // frame named by it, stored in place where no change handler runs.
    // A store that may break a guard or a slot kept for the epoch (the word
    // named a callable or an operator, or gets a value not placed as it is)
    // moves the epoch on, so that every guard is looked at again before it
    // is trusted.
    int32_t set_word(const Expr& e, bool sub) {
        const Expr& x = *e.value_at;
        if (x.simple && !walking_) {
            // A value computed in place raises no error and runs no code:
            // stored where no change handler runs, it needs no frame.
            Cell* out = stack::top;
            if (simple(x, out)) {
                if (e.slot_at == epoch) {
                    *e.slot = *out;
                } else if (store_plain(e.cell, *out, true)) {
                    // Stored so once at this epoch, the word is stored so
                    // until it ends: the slot holds a value placed as it is
                    // (any other store moves the epoch on), the word is
                    // marked as changed, and no change handler came.
                    if (e.fixed) {
                        e.slot = _context::value_slot(e.cell.w1, int32_t(e.cell.w3));
                        e.slot_at = epoch;
                    }
                } else {
                    goto framed;
                }
                if (!sub) stack::set_last(out);
                else stack::push_kept();
                return x.next;
            }
        }
    framed:
        push_frame_in_room(e.frame, e.cell.w1);  // mark_eval_native's frame
        Cell* word = stack::push(&e.cell);
        int32_t p;
        if (x.simple && !walking_ && simple(x, stack::top)) {
            stack::push_kept();
            p = x.next;
        } else {
            p = eval(x, true);
            if (stack::pending()) return p;
        }
        Cell* value = word + 1;
        if (type_of(value) == TYPE_UNSET) fire(ErrorCategory::script, "need-value", word);
        const Cell* slot = _context::value_slot(e.cell.w1, int32_t(e.cell.w3));
        if (!slot || !placed_q(type_of(slot)) || !placed_q(type_of(value))) bump();
        if (!store_plain(e.cell, *value)) {
            bump();  // a change handler runs
            word::set(word, value);
        }
        stack::set_last(word + 1);
        if (sub) stack::unwind_last();
        else stack::unwind_last_return();
        return p;
    }

    // The operators of e from position on, by the walker.
    [[gnu::noinline, gnu::cold]] int32_t after(const Expr& e, bool sub, Cell* first_cell, int32_t position) {
        if (e.prefix) return position;
        const Block& b = u_.blocks[size_t(e.block)];
        bump();
        return eval_infix(&b.code, position, b.end, sub, first_cell);
    }

    // An operator whose right operand is not plain, as the walker calls it;
    // answers the position after the right operand.
    [[gnu::always_inline]] inline int32_t infix_call(const Oper& o, const Expr& r, bool sub, Cell* first_cell) {
        // Only natives and actions are called so: values with no node, that
        // need no hold to stay alive.
        const Cell& fn = o.fn;
        Cell* outer = stack::arguments;
        stack::Frame* f = stack::frames_top;
        Cell* right = first_cell + 1;  // the value just made is the operator's first argument
        // A paren as the right operand (a prefix expression, nothing after
        // it) is all eval would run.
        const Block* b = o.right_paren;
        int32_t p;
        if (b && right < stack::end && o.left_mask.has(type_of(first_cell))) [[likely]] {
            // A paren of one call, after a left operand the operator takes:
            // nothing can see the operator's frame before the paren's and
            // its block's are pushed, and all three are written together.
            Cell* bottom = stack::bottom;
            Node body_context = words::tag_body.w1;
            stack::top = right;
            const Expr& call = *b->list[0];
            if (call.in_place_site && callee_q(call)) {
                // A call made in place needs no frames of the paren's (see
                // paren): its value is the second argument.
                InPlace in_place = call_in_place<false>(call);
                if (in_place == IN_PLACE_DONE) {
                    still(call.checks, call.checks_end);
                    stack::fill_frame(f, bottom, o.frame, outer, o.word.w1);  // mark_eval_native's
                    stack::frames_top = f + 1;
                    stack::arguments = first_cell;
                    stack::top = right + 1;
                    p = r.start + 1;
                    goto operands;
                }
                made_ = in_place;  // for the call in the paren's block
            }
            stack::fill_frame(f, bottom, o.frame, outer, o.word.w1);  // mark_eval_native's
            stack::fill_frame(f + 1, bottom, u_.paren_frame, first_cell, body_context);  // the paren's
            stack::fill_frame(f + 2, bottom, u_.eval_frame, right, body_context);  // its block's
            stack::frames_top = f + 3;
            stack::arguments = right;
            stack::top = right;
            p = r.start + 1;
            if (run_held<true, true, false, PUSHED>(*b)) return p;
            // The paren's frames popped: its value is the second argument.
            stack::frames_top = f + 1;
            stack::top = right + 1;
            stack::arguments = first_cell;
        } else {
            stack::top = first_cell;
            push_frame_in_room(o.frame, o.word.w1);  // mark_eval_native's frame
            stack::push_kept();
            if (!o.left_mask.has(type_of(first_cell)))
                check_builtin_argument(fn, o.word, o.cache, o.left_entry);
            if (r.kind == K_PAREN) {
                p = r.start + 1;
                if (paren(r, true)) return p;
            } else {
                p = eval(r, true);
                if (stack::pending()) return p;
            }
        }
    operands:
        if (!o.right_mask.has(type_of(stack::top - 1)))
            check_builtin_argument(fn, o.word, o.cache, o.right_entry);
        // The operator's call starts at first_cell: its frame is f.
        int32_t sum;
        if (o.fast == FAST_ADD && stack::top - first_cell == 2 && type_of(first_cell) == TYPE_INTEGER &&
            type_of(right) == TYPE_INTEGER &&
            !__builtin_add_overflow(int32_t(first_cell->w2), int32_t(right->w2), &sum)) {
            first_cell->w2 = uint32_t(sum);  // the sum of two integers, the most common case, done first
        } else if (o.fast == FAST_NONE || stack::top - first_cell != 2 || !fast_op(FastOp(o.fast), first_cell, right)) {
            bump();
            run_builtin_entry(fn);
            if (stack::pending()) return p;
        }
        // unwind_last (sub) or unwind_last_return of the operator's frame.
        stack::frames_top = f;
        stack::top = right;
        stack::arguments = outer;
        if (!sub) copy_cell(first_cell, outer);
        return p;
    }

    // A call with fixed arguments, as run_builtin or run_function makes it;
    // if, unless and either with their blocks where they were decoded run
    // the chosen block in place. Answers the position after the arguments.
    [[gnu::always_inline]] inline int32_t call(const Expr& e, bool sub) {
        if (e.simple_args) return call_function(e, sub);
        if (e.quick) return call_branch(e, sub);
        return call_general(e, sub);
    }

    // A function whose arguments are all simple expressions.
    [[gnu::noinline]] int32_t call_function(const Expr& e, bool sub) { return call_function_here<false>(e, sub); }

    // The same, inline where a block's one call is a function's.
    // lone: the call is a block's one expression (see run_lone), which
    // takes PENDING and AGAIN from it.
    template <bool lone, bool fresh = false>
    [[gnu::always_inline]] inline int32_t call_function_here(const Expr& e, bool sub) {
        int32_t p = e.start + 1;
        InPlace in_place = made_;
        made_ = IN_PLACE_NONE;
        if (in_place == IN_PLACE_NONE) in_place = call_in_place<fresh>(e);
        if (in_place == IN_PLACE_DONE) {
            // As the call's end leaves it: the value in the cell of the
            // callable's copy.
            Cell* kept = stack::top;
            Cell* outer = lone ? kept : stack::arguments;
            stack::top = kept + 1;
            stack::arguments = outer;
            if (!sub && !lone) copy_cell(kept, outer);
            if (e.args) p = e.arg_at[e.args - 1].x->next;
            if (!still(e.checks, e.checks_end) && lone) return WALKING;
            return lone ? e.next : p;
        }
        // begin_function_call's steps; the context is wanted only by
        // compiled functions, which exec_function runs.
        Cell* before = stack::arguments;
        // The copy of the callable, below the frame while the call runs, and
        // mark_eval_func's frame, the target of return and exit already.
        Cell* kept = push_call(e.callee, e.body_frame, e.cell.w1);
        // A block's one call starts at the block's first cell.
        Cell* outer = lone ? kept : before;
        if (in_place != IN_PLACE_NONE) {
            // Computed already, where they are pushed.
            stack::top = kept + 1 + e.args;
            if (e.args) p = e.arg_at[e.args - 1].x->next;
        } else for (const Arg *at = e.arg_at, *last = at + e.args; at != last; ++at) {
            const Arg& a = *at;
            if ((!fresh && walking_) || !simple<fresh>(*a.x, stack::top)) [[unlikely]] {
                if (lone) {
                    // Nothing was done that shows: the call is made again,
                    // its block held, by run_lone.
                    --stack::frames_top;
                    stack::arguments = outer;
                    stack::top = kept;
                    return AGAIN;
                }
                stack::frames_top[-1].header = e.frame;  // the arguments left may run code
                return call_from(e, sub, kept, int32_t(at - e.arg_at), p);
            }
            stack::push_kept();
            p = a.x->next;
            if (!a.unchecked && !typeset_has_q(&a.typeset, type_of(stack::top - 1)))
                check_builtin_argument(e.callee, e.cell, e.cache, a.entry);
        }
        if (e.more) push_function_rest(e.cache, e.rest);
        if (in_place == IN_PLACE_READY ? enter<true, lone, true>(e) : enter<true, lone>(e)) return lone ? PENDING : p;
        end_call_to<lone>(outer, kept, sub);
        if (!still(e.checks, e.checks_end) && lone) return WALKING;
        return lone ? e.next : p;  // a block's one call ends where its last argument does
    }


    // A call of a function whose body, linked at this epoch, is one branch
    // with a simple condition (Unit::quick_body), when the block chosen is
    // computed in place (the end of most recursions): the arguments, the
    // condition and that block's value are computed and nothing else is
    // done. No code runs and no error can come while such a call runs, so
    // nothing can see the frames it pushes and pops, the context's values
    // or the position; every stack has room for it, so no overflow comes.
    template <bool fresh>
    [[gnu::always_inline]] inline InPlace call_in_place(const Expr& e) {
        if (!e.in_place_site || e.link_epoch != epoch) return IN_PLACE_NONE;
        const Unit* unit = e.linked;
        const Expr* body = unit->quick_body;
        if (!body || (!fresh && walking_) || tracing_q ||
            runtime::interrupt_pending || !room_for_short_cut())
            return IN_PLACE_NONE;
        Cell* args = stack::top + 1;
        for (const Arg *a = e.arg_at, *last = a + e.args; a != last; ++a) {
            Cell* out = args + (a - e.arg_at);
            if (!simple<fresh>(*a->x, out) || (!a->unchecked && !typeset_has_q(&a->typeset, type_of(out))))
                return IN_PLACE_NONE;  // the general steps make it again, and raise the error
        }
        // The callee's words read its arguments. Its guards held at this
        // epoch (it was linked at it).
        Cell* mine = locals_;
        locals_ = args;
        // Above the branch's callable's copy, which the body's frame starts
        // at.
        Cell* condition = args + e.args + 1;
        InPlace done = IN_PLACE_ARGS;
        if (simple<true>(*body->arg_at[0].x, condition)) {
            done = IN_PLACE_READY;
            const Block* chosen = chosen_block(*body, condition);
            if (!chosen) {
                none::make_at(stack::top);
                done = IN_PLACE_DONE;
            } else if (chosen->leaf && simple<true>(*chosen->list[0], stack::top)) {
                done = IN_PLACE_DONE;
            }
        }
        locals_ = mine;
        return done;
    }

    // if, unless or either with a simple condition and no word after its
    // blocks: the blocks, which the native takes, pushed as they are.
    [[gnu::noinline]] int32_t call_branch(const Expr& e, bool sub) { return call_branch_here<false>(e, sub); }

    // The same, inline where a block's one call is a branch.
    // lone: as for call_function_here.
    // ready: the condition is in the cell where it is pushed already.
    template <bool lone, bool fresh = false, bool ready = false>
    [[gnu::always_inline]] inline int32_t call_branch_here(const Expr& e, bool sub) {
        Cell* before = stack::arguments;
        Cell* kept = stack::top;
        Cell* outer = lone ? kept : before;  // as in call_function_here
        Cell* first = kept + 1;
        const Arg& a = e.arg_at[0];
        int32_t p = a.x->next + e.args - 1;
        bool computed;
        // A body's one call made fresh starts where room_for_short_cut
        // found room for more than these cells.
        if ((fresh || !walking_) && a.unchecked && ((lone && fresh) || kept + 4 < stack::end)) [[likely]] {
            // Nothing sees the call's frame or the chosen block's while the
            // condition, and a leaf block, compute in place: both are
            // written together once a block that needs them was chosen.
            // Without them the value goes straight to the callable's cell,
            // which is all the call leaves below the top.
            computed = ready || simple<fresh>(*a.x, first);
            if (computed && type_of(first) == TYPE_LOGIC) [[likely]] {
                const Block* chosen = chosen_block(e, first);
                if (!chosen || (chosen->leaf && in_place(*chosen, kept))) {
                    // The current call's first cell is still outer: a
                    // block's one call starts at the top its frame left.
                    if (!chosen) none::make_at(kept);
                    stack::top = kept + 1;
                    if (!sub && !lone) copy_cell(kept, outer);
                    return lone ? e.next : p;
                }
                copy_cell(&e.callee, kept);
                // Both block cells copied as one: the second is above the
                // top when there is one block.
                std::memcpy(first + 1, e.branch_code, sizeof e.branch_code);
                Cell* result = first + e.args;  // the chosen block's first cell
                Cell* bottom = stack::bottom;
                stack::Frame* f = stack::frames_top;
                Node body_context = words::tag_body.w1;
                stack::fill_frame(f, bottom, e.frame, before, e.cell.w1);  // mark_eval_native's
                stack::fill_frame(f + 1, bottom, u_.eval_frame, first, body_context);  // mark_eval's
                stack::frames_top = f + 2;
                stack::arguments = result;
                stack::top = result;
                if (run_held<false, !lone, false, PUSHED>(*chosen)) return lone ? PENDING : p;
                stack::frames_top = f;
                stack::top = kept + 1;
                stack::arguments = outer;
                Bits128 value;
                std::memcpy(&value, result, sizeof value);
                if (!sub && !lone) std::memcpy(outer, &value, sizeof value);
                std::memcpy(kept, &value, sizeof value);
                return lone ? e.next : p;  // a block's one call ends after its blocks
            }
            copy_cell(&e.callee, kept);
            stack::top = first;
            push_frame_in_room(e.frame, e.cell.w1);  // mark_eval_native's frame
        } else {
            push_call(e.callee, e.frame, e.cell.w1);  // and mark_eval_native's frame
            computed = ready || ((fresh || !walking_) && simple<fresh>(*a.x, first));
        }
        if (!computed) [[unlikely]] {
            p = call_from(e, sub, kept, 0, e.start + 1);
            return lone && stack::pending() ? PENDING : p;
        }
        stack::push_kept();
        if (!a.unchecked && !typeset_has_q(&a.typeset, type_of(stack::top - 1)))
            check_builtin_argument(e.callee, e.cell, e.cache, a.entry);
        Cell* blocks = stack::top;
        if (blocks + 2 < stack::end) [[likely]] {
            std::memcpy(blocks, e.branch_code, sizeof e.branch_code);
            stack::top = blocks + e.args - 1;
        } else {
            stack::push(&e.branch_code[0]);
            if (e.args == 3) stack::push(&e.branch_code[1]);
        }
        if (branch<false, !lone, false>(e)) return lone ? PENDING : p;
        // The branch's frame and the call's popped at once: the result goes
        // from the branch's first cell to the callable's copy.
        Cell* result = stack::arguments;
        stack::frames_top -= 2;
        stack::top = kept + 1;
        stack::arguments = outer;
        if (!sub && !lone) copy_cell(result, outer);
        copy_cell(result, kept);
        return lone ? e.next : p;  // a block's one call ends after its blocks
    }

    [[gnu::noinline]] int32_t call_general(const Expr& e, bool sub) {
        Cell* kept = stack::push(&e.callee);
        push_frame_in_room(e.frame, e.cell.w1);  // mark_eval_func's or mark_eval_native's frame
        return call_from(e, sub, kept, 0, e.start + 1);
    }

    // The call from argument k on (at position p), its frame pushed above
    // kept, the copy of the callable.
    [[gnu::noinline]] int32_t call_from(const Expr& e, bool sub, Cell* kept, int32_t k, int32_t p) {
        // The unit's own cells: it stays while it runs.
        const Cell& fn = e.callee;
        const Cell& name = e.cell;
        const Block& b = u_.blocks[size_t(e.block)];
        bool decoded = true;  // every argument so far where it was decoded
        bool inline_branch = true;
        // Arguments computed in place and literal blocks, while they last.
        for (; k < e.args && !walking_; k++) {
            const Arg& a = e.arg_at[k];
            if (a.x) {
                const Expr& ae = *a.x;
                if (!ae.simple || !simple(ae, stack::top)) break;
                stack::push_kept();
                p = ae.next;
            } else {
                if (operator_q(a.after)) break;
                stack::push(&e.branch_at[k - 1]->code);  // a literal branch block
                p++;
            }
            if (!a.unchecked && !typeset_has_q(&a.typeset, type_of(stack::top - 1)))
                check_builtin_argument(fn, name, e.cache, a.entry);
        }
        for (; k < e.args; k++) {
            const Arg& a = e.arg_at[k];
            const Expr* ae = a.x;
            bool placed = false;  // a simple expression's value
            if (ae && decoded && p == ae->start && !walking_ && ae->simple && simple(*ae, stack::top)) {
                stack::push_kept();
                p = ae->next;
                placed = a.placed;
            } else if (ae && decoded && p == ae->start && !walking_) {
                p = eval(*ae, true);
            } else if (!ae && decoded && p == e.branch_at[k - 1]->at && !walking_ && !operator_q(a.after)) {
                stack::push(&e.branch_at[k - 1]->code);  // a literal branch block
                p++;
            } else {
                decoded = false;
                if (p >= limit_of(b.code.w2, b.end)) fire_builtin_no_arg(fn, name, e.cache, a.entry);
                bump();
                p = eval_expression(&b.code, p, b.end, false, true, false);
            }
            if (stack::pending()) return p;
            if (!(a.admitted && decoded) && !placed && !typeset_has_q(&a.typeset, type_of(stack::top - 1)))
                check_builtin_argument(fn, name, e.cache, a.entry);
        }
        if (e.kind == K_FUNCTION) {
            if (e.more) push_function_rest(e.cache, e.rest);
            enter(e);
        } else if (e.kind == K_CALL || !decoded || walking_) {
            inline_branch = false;
            if (!quiet_q(fn)) bump();
            run_builtin_entry(fn);
        } else {
            branch(e);
        }
        if (stack::pending()) return p;
        end_call(kept, sub);
        if (e.kind == K_CALL || e.kind == K_FUNCTION || !inline_branch) still(e.checks, e.checks_end);
        return p;
    }

    // What exec_function and exec_body do for a function whose body is a
    // block, untraced: the body run with the argument cells as its
    // context's values, its frame the target of return and exit.
    // flagged: its frame was pushed as body_frame (with the body flag
    // when the body runs here).
    // lone: as for call_function_here.
    // ready: as for run_top.
    template <bool flagged = false, bool lone = false, bool ready = false>
    // True when an exit is pending after it.
    [[gnu::always_inline]] inline bool enter(const Expr& e) {
        const Cell& fn = e.callee;
        // A block's one call begins at the block's start, which found no
        // trace on; its simple arguments turn none on.
        if ((!lone && tracing_q) || !e.direct) [[unlikely]] {
            if (flagged) stack::frames_top[-1].header &= ~stack::FRAME_BODY;  // exec_body sets it
            Entering entering_body;
            exec_function(&fn, call_context(fn, e.cell), &e.cell, 0);
            return stack::pending() != 0;
        }
        return in_body_frame<flagged>(e, [&]() __attribute__((always_inline)) {
            if (!run_linked<!lone, ready>(e) && !run_unit(&fn, e.body, true, &e)) {
                bump();  // the walker runs
                eval_block(&e.body, true);
            }
        });
    }

    // The block if, unless or either chooses by the condition c; null for
    // none.
    [[gnu::always_inline]] static inline const Block* chosen_block(const Expr& e, const Cell* c) {
        if (e.kind == K_EITHER) {
            bool truth = type_of(c) == TYPE_LOGIC ? c->w1 != 0 : logic::true_strict_q(c);
            return e.branch_at[truth ? 0 : 1];
        }
        return logic::false_q(c) == (e.kind == K_UNLESS) ? e.branch_at[0] : nullptr;
    }

    // The native's entry for if, unless or either: the chosen block run in
    // place. check: as for run_held (the condition may have run other code);
    // restore: as for run_top; pop: as for run_held (a frame is left on
    // top whichever block is chosen, or none).
    template <bool check = true, bool restore = true, bool pop = true>
    // True when an exit is pending after it.
    [[gnu::always_inline]] inline bool branch(const Expr& e) {
        const Block* chosen = chosen_block(e, stack::arguments);
        if (!chosen) {
            if (pop) {
                none::make_at(stack::arguments);
            } else {
                push_frame_in_room(u_.eval_frame, words::tag_body.w1);
                none::make_at(stack::arguments);
            }
            return false;
        }
        // An interrupt is looked for at every body entry, and here when the
        // condition may have run other code.
        if (check && runtime::interrupt_pending) [[unlikely]] {
            bump();
            runtime::poll_interrupt();
            if (stack::pending()) return true;
        }
        // The chosen block is one of the call's arguments, below the frame
        // it runs in.
        return run_held<check, restore, pop>(*chosen);
    }
};

}  // namespace

void init() {
    next_release_hook = memory::node_release_hook;
    memory::node_release_hook = release;
}

namespace {

// The unit of the body, made or made again when due; null when the walker
// runs it.
Unit* prepare(const Cell* function, const Cell& code, const Cell* locals) {
    static uint32_t renumbered = 0;
    if (collector::nodes_cycles != renumbered) [[unlikely]] {
        // Renumbered nodes leave the units under ids that no longer name them.
        renumbered = collector::nodes_cycles;
        for (auto& entry : units) drop(entry.second);
        units.clear();
        for (Recent& r : recent) r = Recent{0, nullptr};
    }
    Node node = code.w2;
    Unit*& entry = units[node];
    Unit* unit = entry;
    if (!unit) {
        entry = SEEN;  // made at the second run
        return nullptr;
    }
    bool again = unit != SEEN && unit->declined && unit->retry && !unit->busy && ++unit->waits >= (4 << unit->rebuilds);
    if (again) unit->misses = 1;
    if (unit == SEEN || again || (!unit->declined && (unit->cycles != collector::series_cycles || unit->misses > 0))) {
        // Made from the body as it stands, again after a collection (which
        // may have given the callees' nodes to others) or a change; a body
        // that keeps changing is walked for good.
        int32_t rebuilds = unit == SEEN ? 0 : unit->rebuilds + (unit->misses > 0);
        drop(unit);
        unit = new Unit;
        unit->rebuilds = rebuilds;
        entry = unit;
        if (rebuilds > 8) unit->declined = true;
        else build(unit, code, function->w1, locals);
    }
    recent[node % RECENT_SLOTS] = Recent{node, unit};
    return unit->declined ? nullptr : unit;
}

}  // namespace

uint64_t epoch = 1;
stack::Frame* entering = nullptr;

namespace {

// The epoch until which a call may enter the unit by its link: the current
// one when the unit's cells and guards were found to hold at it, else none.
inline uint64_t caller_link_epoch(const Unit* unit) { return unit->guarded == epoch ? epoch : 0; }

bool run_unit(const Cell* function, const Cell& code, bool from_decoded, const Expr* caller, Link* link) {
    if (!lean_q || tracing_q || runtime::interrupt_pending || !room_for_short_cut()) return false;
    Node node = code.w2;
    const Recent& cached = recent[node % RECENT_SLOTS];
    Unit* unit = cached.node == node ? cached.unit : nullptr;
    Cell* locals = stack::arguments;
    if (!unit || unit->declined || unit->cycles != collector::series_cycles || unit->misses > 0 ||
        collector::nodes_cycles != unit->renumbered)
        unit = prepare(function, code, locals);
    if (!unit) return false;
    // The body's cell as the unit's: its position cell is the one the
    // walker would set (see start_single).
    if (unit->head != code.w1 || unit->context != function->w1 ||
        std::memcmp(&code, &unit->blocks[0].code, sizeof(Cell)) != 0)
        return false;
    Busy busy(unit);
    Runner runner(*unit, locals);
    if (from_decoded && unit->verified == epoch) {
        runner.take_verified();
    } else if (!runner.entry_same()) {
        unit->misses++;
        return false;
    }
    if (unit->guarded != epoch) runner.check_guards();
    if (caller) {
        caller->linked = unit;
        caller->link_epoch = caller_link_epoch(unit);
    }
    if (link) *link = Link{unit, caller_link_epoch(unit)};
    if (from_decoded) {
        // The copy of the function below its frame keeps the body alive.
        Runner::run_top(runner, *unit, code);
    } else {
        Leaving leaving(true);
        Hold hold(code);
        Runner::run_top(runner, *unit, code);
    }
    return true;
}

// The body from the unit a link names, when nothing since its last entry
// at this epoch can have changed what run_unit would find (as a decoded
// call's own link is taken).
[[gnu::always_inline]] inline bool run_link(const Link& link, const Cell& code) {
    Unit* unit = static_cast<Unit*>(link.unit);
    if (link.epoch != epoch || unit->cycles != collector::series_cycles || runtime::interrupt_pending ||
        !room_for_short_cut()) [[unlikely]]
        return false;
    Busy busy(unit);
    Runner runner(*unit, stack::arguments, Runner::Verified{});
    Runner::run_top<true, true>(runner, *unit, code);
    return true;
}

}  // namespace

void call_body(const Cell* function, const Cell* body, Link* link) {
    // The copy of the function below the frame and the caller's body cell
    // stay as they are while the call runs.
    in_body_frame(function->w1, [&] {
        if (link && run_link(*link, *body)) return;
        if (!run_unit(function, *body, true, nullptr, link)) {
            bump();  // the walker runs
            eval_block(body, true);
        }
    });
}

bool run_body(const Cell* function, const Cell* body) {
    bool from_decoded = entering == stack::frames_top;
    entering = nullptr;
    return run_unit(function, *body, from_decoded);
}

}  // namespace zuv::interpreter::fast
