// The program after start-up: the console's launch reads the command line
// (options, a script and its arguments), runs the script named there and
// ends, or starts the prompt loop, which reads lines from the terminal or
// from redirected input and ends the process itself.
//
// Also the evaluation helpers the language-test runner shares with it.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.hpp"
#include "runtime/gc_root.hpp"

namespace zuv::program {

// Start-up's last steps: the boot flag is cleared, the collector enabled and
// the bottom call frame pushed; then the library and the console are defined
// from the boot records.
void finish_start_up();

// A whole process that runs the language: platform start, then on the
// interpreter's big-stack thread and under the top-level catch, the runtime
// brought up, start-up finished and body run with the arguments. Answers
// body's status. The program and the language-test runner start through it.
int start(int argc, char** argv, int (*body)(int argc, char** argv));

// Runs the console after start-up; answers the exit status: the one the
// console's launch answers after a script, 1 when an error escaped it.
int run();

// While it lives, the position of the expression being evaluated is the
// string of the text being read, so that an error raised outside any
// evaluation (loading it, printing its result) is near that text; the
// position is put back as it was when the scope ends.
class ReadingNear {
public:
    ReadingNear(const uint8_t* text, int32_t length);
    ~ReadingNear();
    ReadingNear(const ReadingNear&) = delete;
    ReadingNear& operator=(const ReadingNear&) = delete;

private:
    // The position saved and the text, both rooted: evaluations nested in
    // the scope save and put back the position when the text is only there.
    Cell cells_[2];
    collector::Root root_;
};

// Loads UTF-8 text as a block of values into *out and evaluates it under a
// try frame. true: *out is the value of the last expression (unset for no
// code); false: *out is the error! raised, by loading or by evaluating.
// out must be a cell the collector marks and that never moves: a data stack
// cell below the current top, or a registered root. Throws other than errors
// (quit) pass on.
bool try_do(const uint8_t* text, int32_t length, Cell* out);

// Calls the system's own function of that name with count arguments under a
// try frame. true: *out is its result; false: *out is the error! it raised.
// out as for try_do; throws other than errors pass on.
bool try_call(const char* name, const Cell* args, int32_t count, Cell* out);

// Text of a value: mold (all: mold/all) or form, as UTF-8.
std::string mold_text(const Cell* value, bool all = false);
std::string form_text(const Cell* value);
// "category/id" of an error! value.
std::string error_name(const Cell* error);

// Prints a result as the console does: "== " and the mold (a float! formed);
// an error! as its report followed by an empty line; nothing for unset.
void print_result(const Cell* value);

}  // namespace zuv::program
