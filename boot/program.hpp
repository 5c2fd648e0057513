// The program's ways of running code after start-up:
//
//   zuv [--catch] FILE  runs the script FILE from its `Zuv [...]` header on,
//                       in the script's folder; a script that cannot run (no
//                       header, unreadable, not a program) or that raises an
//                       error is reported and ends with status 1; --catch
//                       starts the prompt loop afterwards, without banner
//   zuv                 the console: its prompt loop reads lines from the
//                       terminal or from redirected input (no prompt then)
//                       and ends at the end of the input with status 0
//
// Also the evaluation helpers the language-test runner shares with them.
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

// Runs the program after start-up with its arguments; answers the exit status.
int run(int argc, char** argv);

// Evaluates the script file at path. Answers the exit status.
int run_script(const char* path);
// Starts the console's prompt loop (which ends the process itself); answers
// 1 when an error escaped it. after_script: no banner.
int launch_console(bool after_script);

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

// Text of a value: mold (all: mold/all) or form, as UTF-8.
std::string mold_text(const Cell* value, bool all = false);
std::string form_text(const Cell* value);
// "category/id" of an error! value.
std::string error_name(const Cell* error);

// Prints a result as the console does: "== " and the mold (a float! formed);
// an error! as its report followed by an empty line; nothing for unset.
void print_result(const Cell* value);

// Replaces every invalid UTF-8 sequence of the text (and U+FFFE) by U+FFFD.
std::string valid_utf8(const char* text, size_t length);

}  // namespace zuv::program
