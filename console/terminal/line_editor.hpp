// The line editor: reads one line from the terminal for `ask`, edited in
// place with Emacs-style keys, with the history walked by the arrows.
//
//   Enter, Ctrl+M, Ctrl+J   accept the line (it goes to the history)
//   Backspace, Ctrl+H       delete before the cursor
//   Delete                  delete under the cursor
//   Ctrl+D                  delete under the cursor; on an empty line: "q"
//   Ctrl+C                  the line becomes "q" (the console's quit); a
//                           script run without the prompt loop ends (130)
//   Left, Ctrl+B  Right, Ctrl+F  Home, Ctrl+A  End, Ctrl+E   move
//   Ctrl+K                  delete to the end
//   Up, Ctrl+P  Down, Ctrl+N     walk the history (newest first)
//   Escape                  ends the line with the character 27 (the
//                           console drops its pending input)
//   Tab                     completion; with no candidate, a tab
//
// The end of the terminal's input (or a failed read) ends the edit as Ctrl+D
// on an empty line does; a read after that ends the program.
#pragma once

#include <optional>
#include <string>

#include "console/terminal/keys.hpp"
#include "runtime/cell.hpp"

namespace zuv::terminal {

// True when the line editor serves standard input: both standard input and
// standard output are terminals, and TERM is not "dumb".
bool console_q();

// terminal/edit: shows the prompt (any value, formed) and edits one line;
// answers its text (UTF-8), or nothing when the terminal refused raw mode.
// hidden echoes a * for each character. history is the block! cell of the
// lines to walk (newest first) and to store the accepted line in, or null.
// An interrupt (SIGINT) drops the line: the answer is empty.
std::optional<std::string> edit(const Cell* prompt, bool hidden, Cell* history);

// The line editor's code of a decoded key: the function keys and Shift+Tab
// give 0 (ignored), any other key its code.
int32_t key_code(const tty::Input& key);

// terminal/add-history: stores a copy of an accepted line at the head of the
// history block, unless it is empty or equal to the newest entry (exact case).
void add_history(Cell* history, const std::string& line);

}  // namespace zuv::terminal
