// The interpreter: evaluates blocks of values directly.
//
// A block is a sequence of expressions; each starts at one value and may
// consume the values after it (a function's arguments, a set-word's value,
// an operator's right operand). Every value passes through the data stack.
//
// Code positions are (block, index): the block's node and an absolute cell
// index, re-read at every step, never a Cell* into the block. An evaluation
// takes the block's tail on entry as its end, and each step is bounded by the
// smaller of that end and the block's current tail, so code that changes the
// block it runs (`append b ...` or `clear b` inside `do b`) never evaluates
// what was added and never reads past what remains.
//
// Result placement. In result mode (sub off) a value becomes the current
// frame's result slot (`stack::arguments`); callers in result mode have an
// empty frame (`stack::top == stack::arguments`), so the value lies where
// the frame's first cell is. In push mode (sub on) it is pushed as a new cell.
// Either way an infix operator after it finds it as its first argument.
//
// Non-local exits. `break`, `continue`, `return`, `exit` and `throw` leave
// their code pending (stack::pending(), evaluator/stack.hpp) after unrolling
// the stacks to the frame that receives them. Every evaluation function
// checks the pending code after each sub-evaluation and, when one is set,
// returns at once without touching the stacks; its return value is then
// meaningless. Errors travel as the low-level throw (C++ exception).
//
// Liveness. The block being evaluated (and a path being walked) is held in
// an interpreter-owned root block for as long as it runs, so code that drops
// the last reference to the running block cannot let the collector free it.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::interpreter {

// A copy of the block being evaluated, its head at the expression being
// evaluated; errors read it for their `near` field. A root block cell.
extern Cell* current_position;
// The trace callback while a traced evaluation runs (none after one, unset
// before the first).
extern Cell* trace_callback;

// Apply modes of a call (only `apply` sets them).
constexpr int32_t APPLY_NONE = 0;
constexpr int32_t APPLY_ALL = 1;     // the block gives every argument and refinement in spec order
constexpr int32_t APPLY_NAMED = 2;   // fixed arguments, then refinement! values with their truth
constexpr int32_t APPLY_SAFER = 4;   // added: each argument is exactly one value

// Argument kinds in header bits 20-21 of an argument cache's typeset! entry.
constexpr uint32_t ARG_KIND_SHIFT = 20;
constexpr uint32_t ARG_KIND_MASK = 3u << ARG_KIND_SHIFT;
constexpr uint32_t ARG_NORMAL = 0;    // word!: the next expression is evaluated
constexpr uint32_t ARG_GET = 1;       // get-word!: the next value, unevaluated
constexpr uint32_t ARG_LIT = 2;       // lit-word!: the next value, parens and get-words evaluated
constexpr uint32_t ARG_RETURN = 3;    // return: never fetched

// Reserves the trace callback and current-position cells in the root block
// and the block that holds running code; reads ZUV_PLAIN_WALKER.
void init();

// Evaluates every expression of the block (from its head) under an eval
// frame named <body>; the last value is the result: with chain it is copied
// into the caller's result slot, else it stays as the one cell pushed at
// the stack top on entry. An empty block gives unset. The block value is
// copied at entry, so it may lie anywhere.
void eval_block(const Cell* block, bool chain);
// The same in the current frame (a control native's, whose arguments are
// read already): no frame of its own, the last value in the frame's first
// cell, the stack top just after it. For blocks whose frame no one could
// see: the branches of if, unless, either and switch, and the bodies and
// conditions of loops (in the loop's frame).
void eval_block_here(const Cell* block);

// Evaluates one expression of code (a block value whose series stays
// reachable) at index position, then the infix operators after it unless
// prefix; end is the caller's end (the tail when it started). passive: a
// function value met is the value itself instead of being called. Returns
// the index after the expression.
int32_t eval_expression(const Cell* code, int32_t position, int32_t end, bool prefix, bool sub, bool passive);

// The infix operators of code from position next on, applied to the value
// just made at first_cell (pushed in push mode, else also the result slot),
// as eval_expression applies them after its first value. Returns the index
// after the last one.
int32_t eval_infix(const Cell* code, int32_t next, int32_t end, bool sub, Cell* first_cell);

// One expression of the block at position (absolute index) under a native
// frame named <body> with the interpreted flag; its value is pushed (sub) or
// copied into the caller's result slot. Returns the index after it. For
// natives that walk code expression by expression (any, all, case, reduce).
int32_t eval_one(const Cell* block, int32_t position, int32_t end, bool sub);

// do/next: the expression at the block's head into the caller's result slot;
// answers the absolute index after it. An empty block gives unset and its
// own head index.
int32_t eval_next(const Cell* block);

// Evaluates a path (set: the last element receives the caller's first cell,
// the value just evaluated; get: a function head is an error instead of a
// call). position is the index after the path in code, where a function
// head's arguments start; returns the index after them.
int32_t eval_path(const Cell* path, int32_t position, int32_t end, const Cell* code, bool set, bool get, bool sub);

// Runs one call of a native!, action!, function! or routine! whose arguments
// start at position in code. path: the path it was reached through (its
// elements after the head name refinements), or null. name: the word naming
// the call (null or a non-word: <anon>). object: an object! giving a
// function its context, or null. infix: the left operand is already the
// first cell at the stack top and no copy of the callable is pushed.
// Returns the index after the arguments.
int32_t eval_code(const Cell* callable, int32_t position, int32_t end, const Cell* code, bool sub,
                  const Cell* path, const Cell* name, const Cell* object, int32_t apply_mode, bool infix);

// Fetches every argument and refinement of the call onto the data stack
// (the frame is pushed; name names the callee in errors); for natives and
// actions it also runs the entry.
// Returns the index after the arguments.
int32_t fetch_arguments(const Cell* callable, int32_t position, int32_t end, const Cell* code, const Cell* path,
                        const Cell* name, int32_t apply_mode, bool infix);
// The same from argument cache entry `from` on, the cells of the entries
// before it (fixed arguments only) already pushed: where compiled code that
// fetched the first arguments hands the rest of a call to the walker.
int32_t fetch_arguments_from(const Cell* callable, int32_t from, int32_t position, int32_t end, const Cell* code,
                             const Cell* path, const Cell* name, int32_t apply_mode, bool infix);

// The callable's argument cache (built from its spec on the first call and
// kept in cell 1 of its more block): its node.
uint32_t build_arg_cache(const Cell* callable);

// Running functions and routines. Each runs the call whose frame is on top
// and whose arguments, refinements and locals start at `arguments`; the
// result is left in the call's first cell.
//
// exec_function: the compiled code of the function (more-block cell 2), or
// its body through exec_body. context: the owner object's context, handed
// to compiled code. trace_class: 0 for calls by the interpreter, else the
// kind of callback (a callback runs untraced). A code for a receiver further
// out is left pending for an interpreter frame, and raised as the low-level
// throw to any other caller.
void exec_function(const Cell* function, uint32_t context, const Cell* name, int32_t trace_class);
// Evaluates the body with the function's words reading the call's cells and
// the call's frame receiving `return` and `exit`; the words' previous cells
// are given back however the body ends.
void exec_body(const Cell* function, const Cell* body, const Cell* name);
// Hands the routine's fixed arguments to its C++ function in the routine
// registry (converted by their types, or as cell addresses) and stores its
// answer by the routine's result type.
void exec_routine(const Cell* routine);

}  // namespace zuv::interpreter
