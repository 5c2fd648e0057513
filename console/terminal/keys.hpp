// Terminal input decoding: the bytes a terminal sends (UTF-8 text, control
// characters, escape sequences) become keys, cursor position reports and
// mouse reports. One table for the line editor and the text-mode GUI.
//
// Special keys are negative codes; the variants real terminals send are all
// known (xterm, screen and tmux, the Linux console, rxvt):
//
//   key        code  sequences (after ESC)
//   up         -20   [A  OA        home  -25  [H  OH  [1~  [7~
//   down       -21   [B  OB        end   -24  [F  OF  [4~  [8~
//   right      -22   [C  OC        insert -26 [2~
//   left       -23   [D  OD        delete -27 [3~
//   page up    -28   [5~           page down -29  [6~
//   F1-F4      -31..-34  OP OQ OR OS, [11~..[14~, [[A..[[D (Linux console)
//   F5         -35   [15~  [[E
//   F6-F10     -36..-40  [17~ [18~ [19~ [20~ [21~
//   F11, F12   -41, -42  [23~ [24~
//   back-tab   9 with KEY_SHIFT  [Z
//
// A modifier parameter (ESC [ 1 ; 5 C, ESC [ 3 ; 2 ~) gives the plain key.
// Every other complete sequence (modified letters, focus reports, OSC and
// DCS strings, Alt with a character) is ignored whole. ESC [ row ; column R
// is a cursor position report, ESC [ < b ; x ; y M (or m) an SGR mouse report.
//
// Text is UTF-8: one sequence is one code point, and a byte that cannot
// start or continue a sequence is U+FFFD.
#pragma once

#include <cstdint>

namespace zuv::tty {

constexpr int32_t KEY_UP = -20;
constexpr int32_t KEY_DOWN = -21;
constexpr int32_t KEY_RIGHT = -22;
constexpr int32_t KEY_LEFT = -23;
constexpr int32_t KEY_END = -24;
constexpr int32_t KEY_HOME = -25;
constexpr int32_t KEY_INSERT = -26;
constexpr int32_t KEY_DELETE = -27;
constexpr int32_t KEY_PAGE_UP = -28;
constexpr int32_t KEY_PAGE_DOWN = -29;
constexpr int32_t KEY_F1 = -31;   // F1 to F12 are -31 to -42
constexpr int32_t KEY_F12 = -42;

constexpr int32_t KEY_SHIFT = 0x20000000;    // Input::flags: the key came with Shift
constexpr int32_t MOUSE_RELEASE = 1;         // Input::flags of a mouse report ending in m

enum class InputKind : uint8_t {
    key,         // code: a character (control characters as they are) or a key code
    ignored,     // a sequence that means nothing here
    cursor,      // a cursor position report: y row, x column (from 1)
    mouse,       // an SGR mouse report: code the button byte, x and y from 1
    incomplete,  // the bytes end inside a sequence (decode_input only)
    timeout,     // no input came in time (read_input only)
    end,         // the input has ended or failed (read_input only)
    signal,      // a signal interrupted the wait (read_input only)
};

struct Input {
    InputKind kind = InputKind::ignored;
    int32_t code = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t flags = 0;
    int32_t length = 0;  // bytes used
};

// Decodes the input item at the start of count bytes. When they end inside a
// sequence, the answer is incomplete, unless final is set: then nothing more
// will come, and a lone ESC is the Escape key (27), a cut sequence is ignored
// and a cut UTF-8 character is U+FFFD.
Input decode_input(const uint8_t* bytes, int32_t count, bool final);

}  // namespace zuv::tty
