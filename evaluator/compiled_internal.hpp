// What the compiler of blocks and the code that runs them share: the form of
// a block, its expressions, the decoded callables and the table that keeps
// forms by node.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "evaluator/compiled.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/in_place.hpp"
#include "evaluator/natives.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

// The small steps of compiled code are inlined into their callers in
// optimized builds. Unoptimized builds (the sanitizer and collector-stress
// ones) keep them calls of their own: inlined there, their locals would
// swell the frames of the runners that recurse with the code they run.
#ifdef __OPTIMIZE__
#define ZUV_IN_LINE [[gnu::always_inline]] inline
#define ZUV_LAMBDA_IN_LINE __attribute__((always_inline))
#else
#define ZUV_IN_LINE inline
#define ZUV_LAMBDA_IN_LINE
#endif

namespace zuv::interpreter::compiled {

// ---- callables as calls need them ----

// A typeset as one bit per type id.
struct TypeMask {
    uint64_t low = 0, high = 0;  // types 0-63, 64-127
    bool has(uint32_t type) const {
        if (type < 64) [[likely]]
            return ((low >> type) & 1) != 0;
        return type < 128 && ((high >> (type - 64)) & 1) != 0;
    }
};

// A fixed argument: its kind (interpreter.hpp's ARG_NORMAL, ARG_GET or
// ARG_LIT), its entry in the argument cache and the types it admits.
struct ArgSpec {
    uint32_t kind;
    int32_t entry;
    TypeMask types;
};

// The cells a call takes from the code: its fixed arguments and their kinds
// (two bits each). Calls of two callables of one shape read the same cells.
struct Shape {
    uint8_t count = 0;
    uint64_t kinds = 0;
    bool operator==(const Shape& other) const { return count == other.count && kinds == other.kinds; }
};
constexpr int32_t MAX_ARGUMENTS = 32;  // fixed arguments of a compiled call, at most
constexpr Shape OPERATOR_SHAPE{2, 0};  // two arguments evaluated as expressions

// What a call of a native, action, function or routine needs, decoded once
// from its argument cache and kept by the cache's node (a cache never
// changes; its node is marked SERIES_CODE so that the decoding goes when the
// node is freed).
struct Callee {
    uint32_t type = 0;           // native!, action!, function! or routine!
    Node cache = 0;
    std::vector<ArgSpec> args;   // the fixed arguments (before the first refinement), in order
    int32_t rest = 0;            // the cache entry after them
    // function!: the cells after the fixed arguments when no refinement is
    // used (false for each refinement, none for each of its arguments, then
    // the /local cell and one none per local).
    std::vector<Cell> rest_cells;
    int32_t local_cells = 0;          // function!: the last of rest_cells, the /local cell and its words
    std::vector<ArgSpec> refined_args;  // the arguments of the refinements, in cache order
    // function!: the more block of the function last called with it (0
    // once that block changed or went), whether that runs from its body (no
    // compiled code), and its body. Functions made again for objects share
    // the cache, each with a body of its own (keep_body).
    mutable Node more = 0;
    mutable bool interpreted = false;
    mutable Cell body{};
    // function!: whether that body's form reads its calls in line
    // (quiet_call), decided while forms_made stood at quiet_at, and the form.
    // quiet_redo: its last expression too stores only into the function's
    // own cells, so that a caller may make the call again after reading it.
    mutable uint64_t quiet_at = ~uint64_t(0);
    mutable const struct Form* quiet_form = nullptr;
    mutable bool quiet_redo = false;
    // function!: that body's form as last found, while forms_made stands at
    // body_at (a form in the table, not waiting for a callee).
    mutable uint64_t body_at = ~uint64_t(0);
    mutable struct Form* body_form = nullptr;
    natives::Entry native = nullptr;  // native!: its entry
    void (*action)() = nullptr;       // action!: its entry called with no refinement used
    in_place::Kind fast = in_place::NONE;  // what it computes in place on plain values
    in_place::Computer compute = nullptr;  // and its code
    int32_t type_test = -1;  // routine!: the datatype it tests exactly, or -1 (routines::type_test_of)
    int32_t typeset_test = 0;  // routine!: its index when it tests a typeset (routines::typeset_test_of), or 0
    Shape shape;
    // Calls in progress that read this decoding: forgotten meanwhile (its
    // cache node went, or a collection renumbered the nodes), it is freed
    // when the last of them ends.
    mutable int32_t pins = 0;
    mutable bool retired = false;
};

// A function's body when the interpreter runs it (the function has no
// compiled code), or null, read from its more block.
inline const Cell* interpreted_body(const Cell& fn) {
    if (!fn.w3) return nullptr;
    SeriesBuffer* more = memory::buffer_of(fn.w3);  // a block of cells
    if (memory::used_bytes(more) <= int32_t(sizeof(Cell)) * function::MORE_CODE) return nullptr;
    const Cell* cells = memory::internal_cells(more);
    const Cell* code = cells + function::MORE_CODE;
    if (type_of(code) == TYPE_INTEGER && code->w2 != 0) return nullptr;
    return cells + function::MORE_BODY;
}

// The body of the function fn, a function! of decoding c, when it runs
// from it (else null): kept in c for the next calls of fn when c keeps no
// other function's.
const Cell* keep_body(const Cell& fn, const Callee* c);

// True when the native's or action's entry can be called by compiled code
// with refinement words.
inline bool builtin_entry_q(const Cell& fn, const Callee* c) {
    if (c->type == TYPE_NATIVE) return c->native != nullptr;
    return c->type == TYPE_ACTION && actions::stack_entry_q(int32_t(fn.w1));
}

// Holds a decoding for the length of a call made with it.
void free_callee(const Callee* c);  // out of line: the call path keeps only the count
class Pin {
public:
    explicit Pin(const Callee* c) : c_(c) { ++c->pins; }
    ~Pin() {
        if (--c_->pins == 0 && c_->retired) [[unlikely]]
            free_callee(c_);
    }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

private:
    const Callee* c_;
};

// The callable's decoding, or null when its argument cache is not built yet
// (the walker builds it at the call, where an error in its spec is raised).
const Callee* callee_of(const Cell& fn);
// True when the callable's argument cache is built.
bool cache_built_q(const Cell& fn);
// The decoding made from the cache node goes (its node changed or went), or
// every decoding; a decoding that kept the body of the function whose more
// block is the node forgets it.
void forget_callee(Node cache);
void forget_callees();
// Counts the times decodings were forgotten: a site's callee is good while
// the count stands.
extern uint32_t callees_forgotten;

// A call's callable as last met: valid while no collection has run (one may
// have freed it and given its nodes to another) and no decoding was forgotten.
struct Site {
    Cell fn{};
    const Callee* callee = nullptr;
    uint32_t cycles = ~0u;
    uint32_t forgotten = ~0u;
};

// ---- forms ----

// The kinds of the first value of an expression.
enum Kind : uint8_t {
    K_CONST,      // a value placed as it is (lit-words and lit-paths made words and paths)
    K_WORD,       // a bound word read: its value must be one placed as it is
    K_GET_WORD,   // a bound get-word read: any value
    K_SET_WORD,   // a set-word: args[0] its value
    K_PAREN,      // a paren: its own form
    K_CALL,       // a call through a word: args its fixed arguments
    K_PATH,       // a path of fields and picks read: items its elements after the head
    K_SET_PATH,   // a set-path of an object's field: args[0] its value
    K_PATH_CALL,  // a call through a path, made by the walker: value_end where its arguments end
    // A callable at a path's head or a method (o/f, o/p/f), with refinements
    // named by words: args the fixed then the refinements' arguments
    K_REFINED_CALL,
    K_WALK,       // evaluated by the walker
    // Control natives called through their words with literal blocks, run
    // in place (compiled_control.cpp); the call as a K_CALL when the word
    // names another callable by then.
    K_IF, K_UNLESS, K_EITHER, K_WHILE, K_UNTIL, K_LOOP, K_REPEAT, K_FOREVER, K_FOREACH, K_ANY, K_ALL,
    K_CATCH, K_TRY, K_SWITCH,
};

// Where a compiled word's value lies, kept for a word of a context whose
// values are off the stack (a global, an object's field): valid while no
// buffer marked for kept slots has moved (memory::relocations; the values
// buffer is marked as the slot is kept). plain: a store there is a plain
// write (no object, whose change handler may run). local: the word was
// bound to a function's context when compiled, so its reads look at the
// running call's cells first (they are never kept here).
struct WordSlot {
    Cell* slot = nullptr;
    uint64_t at = ~uint64_t(0);
    bool plain = false;
    bool local = false;
};

// A path's word element as last met (field_slot): the object context it
// found its field in, that context's cell, the field's value slot and its
// word entry there, all good while no buffer has moved since
// Expr::fields_at (a collection moves them too); and the shape of the
// context it last found the field in (kept across moves): objects of one
// shape hold the field at the index the element keeps.
struct Field {
    Node ctx = 0;
    uint32_t shape = 0;
    Cell* context = nullptr;
    Cell* value = nullptr;
    Cell* word = nullptr;
};

struct Expr;
struct Run;

// Runs an expression: its value pushed (sub) or put in the result slot, as
// the walker's eval_expression does; answers the position after it.
using Runner = int32_t (*)(const Run& r, const Expr& e, bool sub);

// An operator after a value, its word bound: computed in place when both
// operands are plain and its function is the one compiled, else called.
struct Op {
    Cell word{};
    Cell op{};                     // the op! value of the word when compiled
    Cell fn{};                     // the function it wraps
    in_place::Kind fast = in_place::NONE;
    in_place::Computer compute = nullptr;  // fast's code
    const Expr* right = nullptr;   // its right operand (an expression without operators)
    int32_t at = 0;                // the position of its word
    mutable Site site;             // the wrapped function's decoding
    mutable WordSlot slot;         // the word's
};

// One expression: a value at start, by kind, then operators. value_end is
// the position after the value, next the position after the expression.
struct Expr {
    Runner run = nullptr;      // chosen by its kind once it is made (compiled_run.cpp)
    Kind kind = K_WALK;
    bool prefix = false;       // the right operand of an operator: no operator after it
    bool check_after = false;  // a bound word follows it (after): that word may name an operator by now
    // A constant, a word read, a paren of one such or a call computed in
    // place of two such, with operators in place on such: read without
    // frames, as nothing in it can fail or run code while its guards hold
    // (pure_value). frames: those the walker pushes for it at most, which it
    // skips only with room for them.
    bool pure = false;
    // A pure expression, or a set-word or set-path whose value is one: a block's
    // expression that its loop reads in line (no one can see its position,
    // its frames or a poll for interrupts between two such).
    bool quiet = false;
    // Pure, a word or a constant first and every operator's right operand
    // one too (no paren, path or call in it): read without any call. paren:
    // a paren of one such expression.
    bool flat = false;
    bool flat_paren = false;
    // K_CALL: every argument a word's value, a pure expression or a constant
    // (args_in_line_q), which a call reads without running code
    bool in_line_args = false;
    int32_t frames = 0;
    int32_t start = 0;
    int32_t value_end = 0;
    int32_t next = 0;
    Cell cell{};               // the constant, the word or set-word, the paren, the path
    Cell after{};
    int32_t inner_end = 0;     // K_PAREN with its expressions in args: the paren's tail
    std::vector<Op> ops;
    std::vector<const Expr*> args;  // a call's fixed arguments, a set-word's value, a control native's
    // K_ANY and K_ALL whose block holds only pure expressions: those (and
    // the call is pure)
    std::vector<const Expr*> inner;
    bool inner_pure = false;
    // paths: their elements (after the head, a field's word keeps the index
    // it last found its field at); controls: their literal blocks
    mutable std::vector<Cell> items;
    // paths: what each word element last met (by index, as items), written
    // while memory::relocations stood at fields_at
    mutable std::vector<Field> fields;
    mutable uint64_t fields_at = ~uint64_t(0);
    // a path or set-path whose elements after its head are all words (o/x,
    // o/p/x): read or stored in line where each element's field is kept
    bool field_path = false;
    mutable Site site;         // K_CALL and the controls: the callable of the word
    // K_REFINED_CALL: the refinements named, each by its logic cell (a
    // function's, from the call's first cell) or its refinement word (a
    // native's or action's, 0-based), and where its arguments begin among
    // args; for each argument after the fixed ones its spec and the cell it
    // goes to (a function's).
    std::vector<int32_t> flags;
    std::vector<int32_t> flag_args;
    std::vector<Cell> flag_words;  // for each, the get-word that says whether it is used (else none)
    std::vector<std::pair<ArgSpec, int32_t>> refined;
    std::vector<Cell> layout;  // with refinements: the argument cache they were placed by
    Shape shape;               // K_CALL and the controls: the shape of the call compiled
    // K_CALL of a native or action that computes in place: what it computes
    // and the callable compiled (a pure call holds while its word holds it).
    in_place::Kind fast = in_place::NONE;
    in_place::Computer compute = nullptr;  // fast's code
    Cell operand{};        // one operand: what compute reads as its right (the type of a type test)
    TypeMask arg_types;    // one operand: the types its argument admits
    Cell callable{};
    mutable WordSlot slot;       // the word's (words, set-words, calls, a path's head)
    mutable WordSlot after_slot;  // that of the word after it
};

// The compiled form of a block from one head index: its expressions in order
// and by position, made from the cells as they stood (their copy is kept, to
// check in debug builds that no change went by unseen). A form that a run
// still uses when its cells change is marked dead and freed when the last
// run ends; the runs see the mark and leave the rest to the walker.
struct Form {
    Node node = 0;
    int32_t head = 0;
    int32_t tail = 0;
    std::vector<Cell> cells;               // [head, tail) as compiled
    std::vector<std::unique_ptr<Expr>> exprs;
    std::vector<const Expr*> top;          // the block's expressions, in order
    std::vector<const Expr*> at;           // by position - head: the top expression starting there
    std::vector<Node> depends;             // other series it was made from (paths)
    // The first position the walker runs (an expression the builder could
    // not decode), or -1 when the expressions cover the block.
    int32_t walk_from = -1;
    // Each such position, with why the builder stopped there (for the
    // report of builds that make one); gap: the builder's last reason.
    std::vector<std::pair<int32_t, const char*>> gaps;
    const char* gap = nullptr;
    // Every expression quiet (Expr::quiet), none left to the walker: a run
    // that reads them all in line needs neither the block's position nor
    // its hold, as nothing in it can fail, collect or run code.
    bool quiet = false;
    int32_t quiet_frames = 0;  // the frames the walker pushes for any of them, at most
    int32_t busy = 0;
    bool dead = false;
    // A call left to the walker for want of its callee's argument cache
    // (built by the walker at the call): the form is made again once the
    // cache is there. waiting_for: that callee, valid while no collection
    // has run since waiting_at.
    bool waiting = false;
    Cell waiting_for{};
    uint32_t waiting_at = 0;
    int32_t rebuilds = 0;
    // The copies of the block's bound words that its expressions hold (a
    // word read, called or set, a lit-word's constant, an operator's word,
    // the word looked at after an expression), by position: made when bind
    // first gives one of them a new binding (rebound), for a form decoded
    // from its block alone. uses_from[k] is where the uses of position
    // head + k begin in uses.
    struct Use {
        int32_t at;
        Cell* cell;
        WordSlot* slot;
    };
    std::vector<Use> uses;
    std::vector<int32_t> uses_from;
};

// Builds that report the compiled form's gaps (a development aid, off in
// the others): the walker took the block of code from position on (what:
// null for the rest of the block) or ran one expression there (what says
// which); counted, and listed at exit when ZUV_FORM_GAPS is set.
#ifdef ZUV_FORM_GAPS
void note_walked(const Cell* code, int32_t position, const char* what = nullptr);
#define ZUV_NOTE_WALKED(code, position, what) note_walked(code, position, what)
#else
#define ZUV_NOTE_WALKED(code, position, what) ((void)0)
#endif

// Makes the form of the block from head (its node's cells as they stand).
std::unique_ptr<Form> build(Node node, int32_t head);

// Counts the forms put in the table and taken out of it: a form found for a
// node stays that node's, alive and unchanged, while the count stands.
extern uint64_t forms_made;

// ---- the table (compiled_forms.cpp) ----

// A node seen once, with no form yet (compiled on its second run).
inline Form* const SEEN = reinterpret_cast<Form*>(uintptr_t(1));
// Forms by node id: one page per node frame, made when first needed.
extern Form** pages[memory::NodeSlots::CAPACITY];

// The form of the block for a run from head to end, made when the policy
// says so; null when the walker runs it.
Form* form_for(Node node, int32_t head, int32_t end);

#ifndef __OPTIMIZE__
// Debug builds check at every run that the form's cells are the block's:
// a change that went by memory::changing unseen is a fault of its writer.
void verify(const Form* f);
#else
inline void verify(const Form*) {}
#endif

// The table's entry for node (null, SEEN or a form), looked up only: no
// page is made.
[[gnu::always_inline]] inline Form* form_at(Node node) {
    Form** page = pages[node >> NODE_SLOT_BITS];
    return page ? page[node & NODE_SLOT_MASK] : nullptr;
}

// The form for a run: the table's when it fits, else as form_for makes it.
[[gnu::always_inline]] inline Form* find_form(Node node, int32_t head, int32_t end) {
    Form* f = form_at(node);
    if (f > SEEN && f->head == head && f->tail == end && !f->waiting) [[likely]] {
        verify(f);
        return f;
    }
    return form_for(node, head, end);
}

// A run holds the form: killed meanwhile, it is freed when the last hold
// ends. Every holder (a run, a loop's kept form, reduce's reader) takes and
// lets go through these two; null holds nothing.
void free_form(Form* f);  // out of line: a run keeps only the count
inline void hold_form(Form* f) {
    if (f) ++f->busy;
}
inline void let_go_form(Form* f) {
    if (f && --f->busy == 0 && f->dead) [[unlikely]]
        free_form(f);
}
class Busy {
public:
    explicit Busy(Form* f) : f_(f) { hold_form(f); }
    ~Busy() { let_go_form(f_); }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    Form* f_;
};
// The runner of an expression made (by its kind, operators and the look
// after it).
Runner runner_of(const Expr& e);
// True when every argument of the call e is read by a runner that runs no
// code (a word's value, a pure expression, a constant).
bool args_in_line_q(const Expr& e);

// eval_block(block, chain) for a literal block of compiled code or a
// running function's body: from the block's form when it has one, else by
// the walker, without the general entry (no trace can be on).
void run_block_value(const Cell& block, bool chain);
// eval_block_here(block) for such a block.
void run_branch_value(const Cell& block);
// The same as eval_one(code, position, end, false) for such a block.
int32_t run_one_value(const Cell& code, int32_t position, int32_t end);
// A control native called by compiled code with its arguments in place (its
// frame current): run by its template with the in-place policy.
void run_control(Kind kind);
// if, unless or either (kind) called by compiled code with its condition
// alone in place (its frame current): the branch it chooses among blocks
// (the call's literal blocks, in order) runs in its frame, or none is the
// result.
void run_branch_of(Kind kind, const Cell* blocks);

// A call of the function fn from C++ code (a callback such as sort's
// comparator), its frame pushed and named by name, with count arguments
// given: its cells pushed and its body run as compiled calls run it, the
// result in the frame's first cell, a code left pending. False, nothing
// done, where the general call must make it: compiled code may not run, fn
// is not a function run from its body, its argument cache is not built yet,
// or it takes another count of fixed arguments.
bool call_function(const Cell& fn, const Cell& name, const Cell* args, int32_t count);

// The forms by node (one page per node frame, made when first needed).
Form*& entry_of(Node node);
// Marks a form made from the node's series as held by the table.
void note_dependency(Form* form, Node node);

}  // namespace zuv::interpreter::compiled
