// Function bodies run from a pre-decoded form.
//
// A function's body block, from its second run on, may run from one
// pre-decoded unit: its expressions, and those of the parens and of the
// literal branch blocks of `either`, `if` and `unless` in it, decoded once.
// Locals are read from the call's argument cells; integer and float
// arithmetic and comparison are done in place; natives, actions and
// functions are called through the walker's own steps, under the frames the
// walker pushes, so that results, errors and exits are the walker's.
//
// The unit keeps a copy of every cell it was made from. The copy is
// compared with the blocks when the body is entered and, after a call, the
// cells still to be read: from a difference on, the rest of the running
// blocks is walked. A callee or operator must still be the value decoded
// (and no collection may have run since) or the walker evaluates that
// expression. A body holding anything else is walked whole.
//
// Decoded code itself changes no series, and no word but by set-words that
// move the epoch on when a guard may name the word: while only decoded
// code runs, what was found unchanged stays so. The epoch below counts the
// times other code may have run (a native, the walker, a return to a caller
// that is not decoded); cells and guards found as decoded at one epoch are
// not looked at again within it, nor are the slots found for words of
// contexts that keep their values off the stack (objects, the global
// context): only other code moves a values series or brings a change
// handler.
#pragma once

#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cell.hpp"

namespace zuv::interpreter::fast {

// Hooks the release of nodes, so that a freed body's unit goes with it.
void init();

// Moves on whenever code other than decoded bodies may run (the walker, a
// native, a change of the code) and at the end of every collection: a unit
// found unchanged at one epoch is unchanged, and no collection has run
// since, while the epoch stays the same.
extern uint64_t epoch;
inline void bump() { ++epoch; }

// Natives that only hand a pending exit to its receiver (break, continue,
// exit, return): they run no code and change no series and no word that
// decoded code relies on, so decoded code calls them without moving the
// epoch on. Their slots follow one another.
static_assert(natives::slot::continue_star == natives::slot::break_star + 1 &&
              natives::slot::exit_star == natives::slot::break_star + 2 &&
              natives::slot::return_star == natives::slot::break_star + 3);
inline bool quiet_q(const Cell& fn) {
    return type_of(&fn) == TYPE_NATIVE && fn.w1 - natives::slot::break_star <= 3u;
}

// The call frame top at which a decoded caller (a decoded body or a
// compiled block) enters a function body, null at any other time: the body
// then knows that only decoded code ran since its cells and guards were
// last found unchanged at this epoch, and that the caller keeps its body
// alive (the copy of the function below its frame) and keeps the epoch's
// promise once the call returns.
extern stack::Frame* entering;

// Set around a call made by decoded code (its frame pushed, the arguments
// in place) into a function whose body may run decoded.
class Entering {
public:
    Entering() { entering = stack::frames_top; }
    ~Entering() { entering = nullptr; }
    Entering(const Entering&) = delete;
    Entering& operator=(const Entering&) = delete;
};

// Leaving decoded code for a caller that is not: the epoch moves on, on a
// return as on a throw.
class Leaving {
public:
    explicit Leaving(bool on = true) : on_(on) {}
    ~Leaving() {
        if (on_) bump();
    }
    Leaving(const Leaving&) = delete;
    Leaving& operator=(const Leaving&) = delete;

private:
    bool on_;
};

// Evaluates the body block of the function (its call frame current, the
// argument cells from stack::arguments) as eval_block(body, true) does.
// Answers false, having done nothing, when the walker must run it.
bool run_body(const Cell* function, const Cell* body);

// A decoded caller's hold on the unit its callee's body last ran from: while
// the epoch is the one at which the unit was found whole with its guards
// holding (dropping a unit moves the epoch on), the body runs from it at once.
struct Link {
    void* unit = nullptr;
    uint64_t epoch = 0;
};

// What exec_function does for a function whose body block runs untraced
// (no compiled code, no trace flag, no trace on), called by decoded code:
// its copy below its call frame, the frame current, the argument cells in
// place. The body runs decoded when it can, else by the walker. link: the
// calling expression's own link to the body's unit (the same function is
// called there whenever the link is used), or null.
void call_body(const Cell* function, const Cell* body, Link* link = nullptr);

}  // namespace zuv::interpreter::fast
