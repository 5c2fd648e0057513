// The terminal on standard input and output: the one place that changes its
// mode, asks its size and reads its bytes. The line editor works on it, and
// so will the text-mode GUI backend.
//
// Raw mode clears ICANON, ECHO, ISIG (Ctrl+C arrives as the byte 3), IEXTEN,
// IXON and ICRNL (Enter arrives as 13), and INLCR, IGNCR and ISTRIP (bytes
// arrive as sent); it keeps output processing (LF is written as CR LF). The mode found on entering is put back when raw mode is
// left (TCSADRAIN: typed-ahead input stays for the next read), at exit, and
// by the handlers of the signals that end the process.
//
// Input is read a byte at a time, never more than a decoded item needs, so
// that bytes typed ahead stay in the terminal for whoever reads next; the
// few bytes read while waiting for a cursor report are kept here and come
// first.
#pragma once

#include <cstdint>
#include <string>

#include "console/terminal/keys.hpp"

namespace zuv::tty {

// How long the bytes after an ESC (or inside a UTF-8 character) may take to
// arrive before the ESC counts as the Escape key.
constexpr int32_t SEQUENCE_WAIT_MS = 50;
// How long a cursor position report may take.
constexpr int32_t CURSOR_REPORT_WAIT_MS = 150;

// True when both standard input and standard output are terminals.
bool interactive_q();

// Enters raw mode on standard input; false when it is not a terminal or
// refuses. Entering again while in raw mode does nothing.
bool enter_raw_mode();
// Puts back the mode found on entering; nothing when not in raw mode.
void leave_raw_mode();

struct Size {
    int32_t columns = 0;
    int32_t rows = 0;
};
// The window size (TIOCGWINSZ); 0x0 when it cannot be read.
Size window_size();
// True once after each change of the window size (SIGWINCH).
bool take_resize();

// The next input item. timeout_ms bounds the wait for its first byte (-1:
// no bound); the rest of a sequence gets SEQUENCE_WAIT_MS per byte. Answers
// timeout, end (end of input or a failed read) or signal (a signal
// interrupted the wait: see take_resize and the runtime's interrupt flag)
// besides the decoded kinds; never incomplete.
Input read_input(int32_t timeout_ms = -1);

// Asks the terminal where its cursor is (ESC [ 6 n) and waits for the
// report; what else arrives meanwhile is kept for read_input. False when no
// report came in time; after that the terminal is not asked again until a
// report shows up after all.
bool query_cursor(int32_t* row, int32_t* column);

// Writes the bytes to standard output, all of them (the runtime's pending
// output first).
void write(const std::string& bytes);

}  // namespace zuv::tty
