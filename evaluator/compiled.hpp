// Compiled blocks: a pre-decoded form of a block, run in place of the
// walker's loop over its expressions.
//
// The walker (interpreter.cpp) stays the reference: a compiled expression
// gives exactly what the walker would give, pushes the frames and stack
// cells the walker pushes, and whatever the compiled form cannot prove it
// handles the same way is evaluated by the walker, at that expression. A
// block gets its compiled form on its second evaluation (code run once is
// not worth it), made from the block's cells as they stand:
//
// - Each position of the block where an expression can start holds a
//   pre-decoded expression: set-words (or a set-path of an object field),
//   then a constant, a bound word, an object field path, a paren, or a call
//   of a native, action, function or method with fixed arguments (each
//   argument compiled in turn), then operators: computed in place on plain
//   operands, or called with their compiled right operand. Positions where
//   nothing compiles run the walker's eval_expression.
// - A unit keeps a copy of the cells it was made from. A compiled
//   expression runs only while its cells are still those (compared when
//   first read, and again after any code that may change the block ran): a
//   block changed by the code it runs, rebound, or renumbered by the
//   collector is seen at the next expression, which the walker evaluates; a
//   unit that keeps failing so is made again, and then given up.
// - Every value it relies on is checked when it runs: an operand word must
//   not name a function, an operator or nothing; an operator or a callee
//   must still be the very value compiled (and no collection may have run
//   since, which could have given its nodes to another); the cell after an
//   expression must not be an operator's word; a direct store is taken only
//   where no change handler can run. A miss before anything of the
//   expression is done hands the whole expression to the walker; a miss
//   after a call hands the walker the rest of the operators.
// - Compiled code is decoded code as function bodies know it (fast_body.hpp):
//   it moves the epoch on before every call out of it other than into a
//   function body, when a run returns to the walker, when a loop body starts
//   and ends, and on a store a decoded body may rely on (over or of a
//   callable, an operator or unset). It calls function bodies as decoded
//   bodies do, and a callee or a method's path found at one epoch is not
//   looked up again within it.
// - What can neither fail nor run code has no frame anyone could see, so it
//   is computed without one: plain operands, operators and two-argument
//   arithmetic calls on plain numbers (the arguments of a call are read so
//   before the call starts), and an if or unless whose branch is not taken.
//   Anything else in reach of an error or of user code gets the walker's
//   frames.
// - The compiled form is kept only for blocks where it gains over the
//   walker's own short cuts: those making calls, reaching object fields
//   and methods through paths, or made only of simple expressions (a block
//   of those is compared whole once per evaluation, as nothing in it can
//   change it). Other blocks are walked, and their series flag says so.
// - A loop keeps its literal blocks' units for the whole loop (LoopBody) and
//   runs them after the eval frame the walker pushes, without the general
//   entry of a block evaluation. A body made of calls of functions or
//   methods whose bodies run directly and of simple expressions runs by a
//   short round: its cells compared once per epoch, the slots of its words
//   kept for the epoch, each callee's body entered through the call's link
//   to the body's unit; once other code ran, the general loop takes the rest.
// - A lean block may also hold calls of if, unless and either whose
//   condition is computed in place and whose branches are literal blocks
//   that are lean themselves (units made with the block's own), and end in
//   a bare break or continue. A branch chosen runs in place: the frames the
//   walker pushes for the call and the block's evaluation are pushed only
//   when its run stops part way (an error may show them) and the general
//   loop goes on from there; a break or continue whose loop's frame lies
//   right below the block's makes that frame current itself.
// - Lean code changes no block and no callable (a set-word over a callable
//   or an operator is the walker's), allocates nothing and runs no other
//   code. A loop whose rounds ran lean and quiet (LoopBody::quiet) with
//   nothing but its own steps between them runs the next round trusted:
//   without comparing cells, callees or operators again, reading and
//   storing words through the slots the last compared run found, by a
//   flat program of steps. A branch block runs so when it ran whole since
//   the last compared run of any lean block.
//
// Units live in a table by node id and are dropped when the collector frees
// their node (or renumbers nodes). A unit in use by a running evaluation is
// never changed or freed under it.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::interpreter::compiled {

// Hooks the release of nodes, so that a freed block's unit goes with it.
void init();

// The expressions of code (the block value being evaluated, held by the
// caller, whose eval frame is current) from head, each bounded by end as in
// eval_block; the last value is left in the frame's result slot. Answers
// false, having done nothing, when the block has no compiled form (the
// caller then walks it).
bool run(const Cell* code, int32_t head, int32_t end);

namespace detail {
struct Unit;
}

// A block that a loop evaluates round after round (held by the loop: it
// stays alive while the loop runs). Once the block has a compiled form, the
// loop keeps it at hand, neither made again nor freed while the loop runs,
// and each evaluation runs it after the eval frame the walker pushes,
// without the general entry of eval_block. eval() does what
// eval_block(block, true) does.
class LoopBody {
public:
    explicit LoopBody(const Cell* block);
    ~LoopBody();
    LoopBody(const LoopBody&) = delete;
    LoopBody& operator=(const LoopBody&) = delete;

    void eval();
    // Said by the loop before an evaluation: since the block's last one
    // nothing ran but the loop's own steps (which run no code and store no
    // callable or operator) and evaluations that were quiet. A block whose
    // last evaluation was quiet itself then runs without a look at its
    // cells or the values it relies on.
    void trust(bool on) { trusted_ = on; }
    // The last evaluation ran the block's lean form to its end (or to a
    // break or continue there): it ran no code but its own, which changes
    // no block and stores no callable or operator.
    bool quiet() const { return quiet_; }

private:
    void take();
    void release();
    bool call_round();

    Cell code_;
    Node node_;
    int32_t head_;
    detail::Unit* unit_ = nullptr;
    uint32_t renumbered_ = 0;
    int32_t misses_ = 0;  // looks for a unit that found none
    uint64_t round_at_ = 0;  // the epoch when the block was last found to hold its unit's cells
    bool quiet_ = false;
    bool trusted_ = false;
};

}  // namespace zuv::interpreter::compiled
