// The line editor's display on a VT terminal.
#include "console/terminal/line_display.hpp"

#include "console/console_io.hpp"
#include "console/terminal/tty.hpp"
#include "runtime/char_width.hpp"
#include "runtime/unicode.hpp"

namespace zuv::terminal {

namespace {

constexpr uint32_t ESC = 0x1B;
constexpr int32_t DEFAULT_COLUMNS = 80;
constexpr int32_t TAB_WIDTH = 4;

void append_utf8(std::string& out, uint32_t cp) {
    uint8_t bytes[4];
    int32_t n = unicode::encode_utf8_char(cp, bytes);
    out.append(reinterpret_cast<const char*>(bytes), size_t(n));
}

// What a character is shown as, when it is not shown as itself: code points
// that no terminal should get raw become U+FFFD.
uint32_t shown_char(uint32_t c) {
    if ((c >= 0x80 && c <= 0x9F) || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0xFFFD;
    return c;
}

// The row the terminal's cursor is in when drawing has got to the pen.
int32_t row_of(const Pen& pen, int32_t columns) {
    return pen.at_edge && pen.pos > 0 ? pen.pos / columns - 1 : pen.pos / columns;
}

// One character of the given width at the pen; out null: measure only.
void glyph(Pen& pen, int32_t columns, uint32_t cp, int32_t width, std::string* out) {
    if (out) append_utf8(*out, cp);
    if (width <= 0) return;
    if (width > columns) width = columns;
    if (width == 2 && pen.pos % columns == columns - 1) pen.pos++;  // the terminal starts it on the next row
    pen.pos += width;
    pen.at_edge = pen.pos % columns == 0;
}

// terminal/skip-escape: the length of the SGR sequence (ESC [ digits and
// semicolons m) that begins at i, 0 when none does.
size_t skip_escape(const Text& text, size_t i) {
    size_t j = i + 1;
    if (j >= text.size() || text[j] != '[') return 0;
    for (j++; j < text.size() && ((text[j] >= '0' && text[j] <= '9') || text[j] == ';'); j++) {}
    return j < text.size() && text[j] == 'm' ? j + 1 - i : 0;
}

// terminal/emit-text: the characters of text at the pen (out null: measure
// only). at_cursor, when given, gets the pen where the character at index
// cursor begins (the pen at the end when the cursor is there).
void emit_text(const Text& text, bool hidden, bool prompt, int32_t columns, Pen& pen, std::string* out,
               size_t cursor = 0, Pen* at_cursor = nullptr) {
    bool placed = false;
    for (size_t i = 0; i < text.size(); i++) {
        if (at_cursor && !placed && i >= cursor) {
            *at_cursor = pen;
            placed = true;
        }
        uint32_t c = text[i];
        if (hidden) {
            glyph(pen, columns, '*', 1, out);
        } else if (c == '\t') {
            for (int32_t k = 0; k < TAB_WIDTH; k++) glyph(pen, columns, ' ', 1, out);
        } else if (size_t n = c == ESC ? skip_escape(text, i) : 0) {
            if (out)
                for (size_t k = 0; k < n; k++) *out += char(text[i + k]);
            i += n - 1;
        } else if (c == '\n' && prompt) {
            // From a full row the terminal is still at its edge: the break only leaves it.
            if (!pen.at_edge) pen.pos = (pen.pos / columns + 1) * columns;
            pen.at_edge = false;
            if (out) *out += "\r\n";
        } else if (c < 0x20 || c == 0x7F) {
            glyph(pen, columns, '^', 1, out);
            glyph(pen, columns, c ^ 0x40, 1, out);
        } else {
            c = shown_char(c);
            glyph(pen, columns, c, unicode::get_char_width(c), out);
        }
    }
    if (at_cursor && !placed) *at_cursor = pen;
}

struct Layout {
    Pen cursor;
    Pen end;
};

// Where the line's cursor and end fall; out, when given, gets the text.
Layout layout(const Edit& e, std::string* out) {
    Layout l;
    Pen pen{e.origin, false};
    emit_text(e.prompt, false, true, e.columns, pen, out);
    emit_text(e.line, e.hidden, false, e.columns, pen, out, size_t(e.cursor), &l.cursor);
    l.end = pen;
    return l;
}

// Moves the terminal's cursor to a row (from the origin's) and column.
// Downwards it goes by line feeds, which scroll where the row is not on the
// screen yet.
void move_to(Edit& e, std::string& out, int32_t row, int32_t column) {
    int32_t target = row * e.columns + column;
    if (!e.terminal.at_edge && e.terminal.pos == target) return;
    int32_t from = row_of(e.terminal, e.columns);
    if (row < from) out += "\x1b[" + std::to_string(from - row) + "A";
    for (int32_t r = from; r < row; r++) out += '\n';
    out += '\r';
    if (column > 0) out += "\x1b[" + std::to_string(column) + "C";
    e.terminal = Pen{target, false};
}

// terminal/place-cursor: the cursor at the pen; at a row's edge it stands at
// the start of the next row, and so it does before a wide character that
// the terminal moved there.
void place_cursor(Edit& e, std::string& out, const Pen& cursor) {
    int32_t row = cursor.pos / e.columns;
    int32_t column = cursor.pos % e.columns;
    if (!cursor.at_edge && column == e.columns - 1 && !e.hidden && size_t(e.cursor) < e.line.size() &&
        unicode::get_char_width(shown_char(e.line[size_t(e.cursor)])) == 2 && e.columns > 1) {
        row++;
        column = 0;
    }
    move_to(e, out, row, column);
}

// terminal/flush-output: one write.
void flush_output(const std::string& out) {
    if (!out.empty()) tty::write(out);
}

}  // namespace

int32_t update_size(Edit& e) {
    int32_t columns = 0, rows = 0;
    console_io::console_size(&columns, &rows);
    tty::Size size = tty::window_size();
    int32_t answer = -1;
    if (size.columns > 0) {
        columns = size.columns;
        if (size.rows > 0) rows = size.rows;
        answer = 0;
    }
    if (columns <= 0) columns = DEFAULT_COLUMNS;
    e.columns = columns;
    e.rows = rows;
    console_io::set_console_size(columns, rows);
    return answer;
}

void refresh(Edit& e) {
    std::string out;
    if (e.first_draw) {
        e.first_draw = false;
        e.terminal = Pen{e.origin, false};
    } else if (e.full_redraw) {
        move_to(e, out, e.origin / e.columns, e.origin % e.columns);
        out += "\x1b[0J";
    }
    Layout l = layout(e, e.full_redraw ? &out : nullptr);
    if (e.full_redraw) e.terminal = l.end;
    place_cursor(e, out, l.cursor);
    flush_output(out);
}

void show_appended(Edit& e) {
    std::string out;
    Text last(e.line.end() - 1, e.line.end());
    emit_text(last, e.hidden, false, e.columns, e.terminal, &out);
    place_cursor(e, out, layout(e, nullptr).cursor);
    flush_output(out);
}

void clear_to_end(Edit&) { flush_output("\x1b[0J"); }

void resize(Edit& e) {
    Pen at = e.terminal;
    update_size(e);
    e.terminal = Pen{at.at_edge ? at.pos - 1 : at.pos, false};
    e.full_redraw = true;
    refresh(e);
}

void finish(Edit& e) {
    std::string out;
    move_to(e, out, row_of(layout(e, nullptr).end, e.columns), 0);
    out += "\r\n";
    flush_output(out);
}

}  // namespace zuv::terminal
