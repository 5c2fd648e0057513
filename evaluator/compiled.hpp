// The compiled tier: blocks the evaluator runs again and again are decoded
// once into trees of expressions and run from those, in place of the
// walker's loop. evaluator/README.md describes the tiers and how they stay
// consistent; in short:
//
// - The walker (interpreter.cpp, interpreter_calls.cpp) is the reference.
//   A compiled expression pushes the frames and cells the walker pushes,
//   raises the errors it raises at the same frame, and hands any node whose
//   meaning changed (a guard that fails) to the walker at that node's
//   source position; compiled code goes on only when the walker stops where
//   the compiled form expected, else the walker takes the rest of the block.
// - A block's compiled form is dropped when its cells change (the one door
//   of memory::changing), and compiled code runs only where run_q() says it
//   may.
#pragma once

#include <cstdint>

#include "evaluator/trace.hpp"
#include "runtime/cell.hpp"

namespace zuv::interpreter::compiled {

// When blocks are compiled: never (ZUV_PLAIN_WALKER set, every short cut
// off: the reference), on their second run (the default: code run once is
// not worth it), or from their first run (ZUV_COMPILE_ALL set, so that the
// tests run every expression compiled).
enum class Mode : uint8_t { walker, second_run, always };
extern Mode mode;

// Reads the switches and hooks the memory manager's drop of compiled code.
void init();

// The one place that says whether compiled code may run: the tier is on and
// no trace is on (tracing runs through the walker, which reports its steps).
// Interrupts are polled by compiled code where the walker polls them (block
// entries and expressions), and the stacks' limits are looked at by every
// push, as the walker's are.
inline bool run_q() { return mode != Mode::walker && !tracing_q; }

// eval_block's loop over the expressions of code (a block value kept alive
// by the caller; its eval frame pushed, the position set) from head to end,
// the last value left in the frame's result slot: from the block's compiled
// form. False, having done nothing, when the walker runs it.
bool run_block(const Cell* code, int32_t head, int32_t end);

// eval_one's evaluation of the expression of code at position (its frame
// pushed), in result mode: from the block's compiled form. False, having
// done nothing, when the walker evaluates it; else *next is the position
// after the expression.
bool run_one(const Cell* code, int32_t position, int32_t end, int32_t* next);

// The value of the expression of code at position when it is quiet (nothing
// in it can fail, collect or run code, so its frame, hold and position are
// for no one to see): read in line from the block's compiled form, a
// set-word's store made. False, nothing done, where it must run as any
// other (no form, a guard failed, no room for the frames it skips); else
// *next is the position after it. Compiled code must be allowed to run.
bool quiet_value_at(const Cell& code, int32_t position, int32_t end, Cell* value, int32_t* next);

struct Form;

// The number of expressions of code (a block value) from its head to end,
// as its compiled form counts them, when that form is made already and
// covers the whole run; else -1. Finds only: makes no form, marks no first
// run. Reduce sizes its result by it (one value per expression).
int32_t known_expression_count(const Cell& code, int32_t end);

// quiet_value_at for a caller that reads a block's expressions one after
// another (reduce): the form is found once and held while the reader lives
// (a change of the block meanwhile drops it, and the reader then reads
// nothing). Compiled code must be allowed to run while it lives.
class QuietReader {
public:
    QuietReader(const Cell& code, int32_t end);
    ~QuietReader();
    QuietReader(const QuietReader&) = delete;
    QuietReader& operator=(const QuietReader&) = delete;
    bool value_at(int32_t position, Cell* value, int32_t* next) const;

private:
    Form* form_ = nullptr;
};

// A literal block that a loop runs again and again in its frame (its body,
// its condition), as eval_block_here runs it: its form is found once and
// kept, held against being freed, for as long as it stands (not dropped by
// a change of the block, which also kills it for a new tail), so that a
// step does not look it up, hold the block or set up a block evaluation
// anew. The block cell lies in the loop native's arguments, which keep it
// alive and unchanged while the loop runs. The room a quiet form's run
// needs is looked for once per loop: each step starts from the same frame,
// the same cells and the same depth of the machine's stack.
class Repeated;

// What a loop's step does around its body, for Repeated::steps (forever's:
// nothing).
struct Steps {
    Repeated* condition = nullptr;  // while's, read before each body: the loop ends when it is false
    bool until = false;             // the loop ends when the body's value is true
    int32_t* made = nullptr;        // loop's and repeat's steps begun, up to count
    int32_t count = 0;
    Cell* word = nullptr;           // repeat's word, set to each step's number (kept in counter),
    Cell* counter = nullptr;        // or foreach's, set to each element of series
    Cell* series = nullptr;         // foreach's block, its head moved on by each step: the loop ends at its tail
};

// Where Repeated::steps left the loop.
enum class Stepped {
    general,  // nothing of the next step done: the native makes it its own way
    ended,    // the loop is over, its frame's first cell as its last step left it
    body,     // the step begun (its condition read true, its count set): run() runs its body
};

class Repeated {
public:
    explicit Repeated(const Cell* block) : block_(block) {}
    ~Repeated() { release(); }
    Repeated(const Repeated&) = delete;
    Repeated& operator=(const Repeated&) = delete;

    // One run of the block in the current frame. walked: for a native's
    // entry, run by eval_block_here whenever compiled code may not run;
    // else for a native run in place by compiled code, which runs the
    // block's form whenever it has one.
    void run(bool walked);
    // A loop's step, lean: the block's expressions read in line where its
    // form is kept and quiet and a run from this frame found the room they
    // need (nothing in them can fail, exit or run code): true when all were
    // read, the last value in the frame's first cell. False where run()
    // must run the step: nothing done, or the expressions before the one
    // whose guard failed read, run() going on from that one.
    bool read(bool walked);
    // Whether read() may read the block: its form kept is quiet (a test in
    // line, so that the steps of a body that is not cost no call).
    bool quiet() const { return quiet_; }
    // A loop's steps read in line one after another, the body's (and the
    // condition's) form and room checked once for them all, not per step:
    // nothing in a quiet step can change them. Each step looks only for a
    // pending interrupt. Stops where a step cannot be read whole.
    Stepped steps(const Steps& s, bool walked);
    // A loop's condition: the block's one expression read in line into the
    // frame's first cell, as run() leaves it, where its form is kept and
    // quiet, was run from here before and its guards hold: 1 when the value
    // is true, 0 when it is none or false; -1, nothing done, where run()
    // must run it.
    int32_t truth(bool walked);

private:
    void release();
    void slow_run(bool walked);
    // The form kept, quiet, with the room found from this frame.
    const Form* ready(bool walked) const;

    const Cell* block_;
    Form* form_ = nullptr;
    const void* roomy_frames_ = nullptr;  // the frame top and first cell of the step that found room
    const Cell* roomy_cells_ = nullptr;
    bool quiet_ = false;  // the form kept is quiet
    size_t resume_ = 0;  // the expression run() goes on from, after a read() stopped there
};

}  // namespace zuv::interpreter::compiled
