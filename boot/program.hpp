// The program's provisional ways of running code, until the console exists:
//
//   zuv FILE   loads the script FILE from its `Zuv [...]` header on and
//              evaluates the code after the header; an error it raises is
//              reported and ends the process with status 254 (-2)
//   zuv        reads standard input line by line and evaluates each line,
//              printing "== " and the molded result (nothing for unset) or
//              the error report; at the end of the input the status is 0
//
// Also the evaluation helpers the language-test runner shares with them.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.hpp"
#include "runtime/gc_root.hpp"

namespace zuv::program {

// Start-up's last steps: every datatype word names its datatype, also for
// the datatypes not built yet (so that the specs mentioning them work), the
// boot flag is cleared, the collector enabled and the bottom call frame pushed.
void finish_start_up();

// Runs the program after start-up with its arguments; answers the exit status.
int run(int argc, char** argv);

// Evaluates the script file at path. Answers the exit status.
int run_script(const char* path);
// Evaluates each line of the file descriptor's input. Answers the exit status.
int run_lines(int fd);

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
