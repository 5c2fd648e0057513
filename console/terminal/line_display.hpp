// The line editor's display: the prompt and the line drawn from the origin
// (where the cursor stood when the edit began), wrapped at the terminal's
// width, and the cursor put at the editing position.
//
// The terminal wraps the text itself; the display follows it column by
// column to know where each character lands. A position is a column count
// from the start of the origin's row: row = pos / columns. Characters take
// the columns of the runtime's display-width table (width 0 takes none); a
// wide character that would start in a row's last column starts the next
// row, as terminals do; a tab is four spaces; an SGR sequence (ESC [ digits
// m) is written through and takes no column; other control characters are
// shown as ^X, and a hidden line as one * per character. A line break in the
// prompt starts a new row.
//
// Only relative moves are written (CR, LF, ESC [ n A, ESC [ n C), so the
// scrolling of the screen does not matter; a full redraw goes back to the
// origin, blanks the rest of the screen (ESC [ 0 J) and writes the prompt
// and the line in one write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zuv::terminal {

using Text = std::vector<uint32_t>;

// Where drawing has got to. at_edge: the last character filled its row to
// the edge, so the terminal's cursor still stands in that row's last column
// until the next character wraps it.
struct Pen {
    int32_t pos = 0;
    bool at_edge = false;
};

// The state of one edit.
struct Edit {
    Text prompt;
    Text line;
    int32_t cursor = 0;  // index in line
    bool hidden = false;
    int32_t columns = 80;
    int32_t rows = 0;
    int32_t origin = 0;  // position where the prompt starts
    Pen terminal;        // where the terminal's cursor is
    bool full_redraw = true;
    bool first_draw = true;
};

// Reads the window size into the edit and into system/console/size (a width
// of 0 counts as 80); 0, or -1 when the terminal did not tell it.
int32_t update_size(Edit& e);

// Full redraw: the prompt and the line from the origin, then the cursor.
// Otherwise only the cursor is placed. The first draw starts where the
// terminal's cursor stands.
void refresh(Edit& e);

// The character just appended at the end of the line is written on its own,
// then the cursor placed.
void show_appended(Edit& e);

// Blanks the screen from the cursor on (after the line lost its tail).
void clear_to_end(Edit& e);

// Takes a change of the window size: the terminal has re-wrapped the rows,
// keeping its cursor at its place in the text. Redraws in full.
void resize(Edit& e);

// Ends the display of the edit: the cursor goes below the line's last row.
void finish(Edit& e);

}  // namespace zuv::terminal
