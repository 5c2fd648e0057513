// The line editor's keys, history and edit loop.
#include "console/terminal/line_editor.hpp"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "boot/program.hpp"
#include "console/terminal/line_display.hpp"
#include "console/terminal/tty.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/process.hpp"
#include "runtime/throw.hpp"
#include "runtime/unicode.hpp"

namespace zuv::terminal {

namespace {

constexpr int32_t KEY_ENDED = -1;             // the terminal's input ended or failed
constexpr int32_t KEY_INTERRUPTED = INT32_MIN;  // SIGINT during the edit

// What a completion leaves for the next edit: the line with its cursor.
Text saved_line;
int32_t saved_cursor = 0;

// Set when the terminal's input has ended: the next edit ends the program.
bool input_ended = false;

Text decode(const std::string& utf8) {
    Text text;
    const auto* p = reinterpret_cast<const uint8_t*>(utf8.data());
    const uint8_t* end = p + utf8.size();
    while (p < end) {
        int32_t cp;
        p = unicode::decode_utf8_bounded(p, end, &cp);
        text.push_back(cp < 0 ? 0xFFFD : uint32_t(cp));
    }
    return text;
}

std::string encode(const Text& text) {
    std::string out;
    for (uint32_t c : text) {
        uint8_t bytes[4];
        int32_t n = unicode::encode_utf8_char(c > 0x10FFFF ? 0xFFFD : c, bytes);
        out.append(reinterpret_cast<const char*>(bytes), size_t(n));
    }
    return out;
}

// The history block of an edit: entries are read again from the block at
// each step (nothing points into it between keys).
struct History {
    Cell* block = nullptr;
    int32_t index = -1;  // the entry shown, -1 before the newest
    int32_t count = 0;

    explicit History(Cell* b) : block(b && type_of(b) == TYPE_BLOCK ? b : nullptr) {
        count = block ? std::max(block::zs_length_q(block), 0) : 0;
    }
    // The text of an entry (formed when it is not a string), "" when the block lost it.
    std::string entry(int32_t i) const {
        if (!block || i < 0 || i >= block::zs_length_q(block)) return {};
        return program::form_text(block::zs_abs_at(block, int32_t(block->w1) + i));
    }
};

// terminal/fetch-history: the line becomes the entry, the cursor at its end.
void fetch_history(Edit& e, const History& h, int32_t i) {
    e.line = decode(h.entry(i));
    e.cursor = int32_t(e.line.size());
}

void empty_line(Edit& e) {
    e.line.clear();
    e.cursor = 0;
}

// Whether the line can be changed at its end by writing the change alone: an
// escape sequence before it could take in what is typed.
bool plain_q(const Edit& e) { return std::find(e.line.begin(), e.line.end(), 0x1Bu) == e.line.end(); }

// terminal/read-key: the next key code. A change of the window size is
// redrawn on the way; the function keys and Shift+Tab give 0.
int32_t read_key(Edit& e) {
    for (;;) {
        if (tty::take_resize()) resize(e);
        if (runtime::take_interrupt()) return KEY_INTERRUPTED;
        tty::Input in = tty::read_input();
        if (in.kind == tty::InputKind::end) return KEY_ENDED;
        if (in.kind == tty::InputKind::key) return key_code(in);
    }
}

// The whole text of a string (or file) entry of the completion's answer,
// from its first character whatever its position.
Text entry_text(const Cell* block, int32_t i, int32_t* position) {
    Cell entry = *block::zs_abs_at(block, int32_t(block->w1) + i);
    if (!string::any_string_q(type_of(&entry))) return decode(program::form_text(&entry));
    if (position) *position = int32_t(entry.w1);
    entry.w1 = 0;
    return decode(program::form_text(&entry));
}

// terminal/complete-line: the language's complete-input, given the line
// positioned at the cursor, answers the completed line (its position the
// new cursor) and, when several words fit, the candidates after it. One:
// the line becomes the completed one. Several: they are shown as the line,
// and the completed line waits for the next edit. Answers the number of
// values; 0 (nothing to complete) lets the Tab go in as a character, and so
// does an error raised while completing. A hidden line is not completed:
// the candidates would show what was typed.
int32_t complete_line(Edit& e) {
    if (e.hidden) return 0;
    std::string text = encode(e.line);
    Cell* args = string::load(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), 0);
    args->w1 = uint32_t(e.cursor);
    logic::make_at(stack::push_raw(), true);
    Cell* result = none::make_at(stack::push_raw());
    Cell given[2] = {args[0], args[1]};
    int32_t n = 0;
    if (program::try_call("zuv-complete-input", given, 2, result) && type_of(result) == TYPE_BLOCK)
        n = std::max(block::zs_length_q(result), 0);
    if (n == 1) {
        int32_t position = 0;
        e.line = entry_text(result, 0, &position);
        e.cursor = std::clamp(position, 0, int32_t(e.line.size()));
    } else if (n > 1) {
        saved_cursor = 0;
        saved_line = entry_text(result, 0, &saved_cursor);
        e.line.clear();
        for (int32_t i = 1; i < n; i++) {
            Text candidate = entry_text(result, i, nullptr);
            e.line.insert(e.line.end(), candidate.begin(), candidate.end());
            e.line.push_back(' ');
        }
        e.cursor = int32_t(e.line.size());
    }
    stack::pop(3);
    if (n > 0) refresh(e);
    return n;
}

void insert_char(Edit& e, uint32_t c) {
    if (size_t(e.cursor) == e.line.size() && plain_q(e)) {
        e.line.push_back(c);
        e.cursor++;
        show_appended(e);
        return;
    }
    e.line.insert(e.line.begin() + e.cursor, c);
    e.cursor++;
    refresh(e);
}

// Leaves raw mode however the edit ends.
struct RawMode {
    bool on = tty::enter_raw_mode();
    ~RawMode() { tty::leave_raw_mode(); }
};

}  // namespace

bool console_q() {
    // A terminal that knows no escape sequences (an editor's shell buffer)
    // delivers lines itself.
    const char* term = std::getenv("TERM");
    return tty::interactive_q() && !(term && std::strcmp(term, "dumb") == 0);
}

int32_t key_code(const tty::Input& key) {
    return key.code <= tty::KEY_F1 || (key.flags & tty::KEY_SHIFT) ? 0 : key.code;
}

void add_history(Cell* history, const std::string& line) {
    if (line.empty() || !history || type_of(history) != TYPE_BLOCK) return;
    History h(history);
    if (h.count > 0 && h.entry(0) == line) return;
    Cell* copy = string::load(reinterpret_cast<const uint8_t*>(line.data()), int32_t(line.size()), 0);
    Cell* target = block::push(history);
    block::insert_cell(target, copy, false, false);
}

std::optional<std::string> edit(const Cell* prompt, bool hidden, Cell* history) {
    if (input_ended) runtime::throw_code(THROW_QUIT);
    Edit e;
    e.prompt = decode(program::form_text(prompt));
    e.hidden = hidden;
    History h(history);
    RawMode raw;
    if (!raw.on) return std::nullopt;

    int32_t row, column;
    if (tty::query_cursor(&row, &column)) e.origin = std::max(column - 1, 0);
    update_size(e);
    if (e.origin >= e.columns) e.origin = 0;
    if (!saved_line.empty()) {
        e.line = saved_line;
        e.cursor = std::min(saved_cursor, int32_t(e.line.size()));
    }
    refresh(e);

    for (;;) {
        e.full_redraw = true;
        int32_t code = read_key(e);
        if (code == 9) {
            int32_t n = complete_line(e);
            if (n > 1) break;
            if (n == 1) continue;
        }
        int32_t length = int32_t(e.line.size());
        switch (code) {
        case 13:
        case 10: {
            finish(e);
            std::string text = encode(e.line);
            if (!hidden) add_history(h.block, text);
            saved_line.clear();
            return text;
        }
        case 8:
        case 127:
            if (e.cursor > 0) {
                e.line.erase(e.line.begin() + --e.cursor);
                if (e.cursor == length - 1 && plain_q(e)) e.full_redraw = false;
                refresh(e);
                if (!e.full_redraw) clear_to_end(e);
            }
            break;
        case tty::KEY_LEFT:
        case 2:
            if (e.cursor > 0) {
                e.cursor--;
                e.full_redraw = false;
                refresh(e);
            }
            break;
        case tty::KEY_RIGHT:
        case 6:
            if (e.cursor < length) {
                e.cursor++;
                e.full_redraw = false;
                refresh(e);
            }
            break;
        case tty::KEY_UP:
        case 16:
            if (h.index >= h.count - 1) {
                empty_line(e);
            } else {
                fetch_history(e, h, ++h.index);
            }
            refresh(e);
            break;
        case tty::KEY_DOWN:
        case 14:
            if (h.index < 0) {
                empty_line(e);
            } else {
                fetch_history(e, h, h.index--);
            }
            refresh(e);
            break;
        case tty::KEY_HOME:
        case 1:
            e.cursor = 0;
            e.full_redraw = false;
            refresh(e);
            break;
        case tty::KEY_END:
        case 5:
            e.cursor = length;
            e.full_redraw = false;
            refresh(e);
            break;
        case tty::KEY_DELETE:
            if (e.cursor < length) {
                e.line.erase(e.line.begin() + e.cursor);
                refresh(e);
            }
            break;
        case 11:
            if (e.cursor < length) {
                e.line.resize(size_t(e.cursor));
                refresh(e);
            }
            break;
        case 4:
            if (length == 0) {
                finish(e);
                return std::string("q");
            }
            if (e.cursor < length) {
                e.line.erase(e.line.begin() + e.cursor);
                refresh(e);
            }
            break;
        case 3:
            finish(e);
            // A script run without the prompt loop ends as an interrupt ends it.
            if (runtime::interrupt_mode == runtime::INTERRUPT_EXIT) {
                tty::leave_raw_mode();
                ::raise(SIGINT);
            }
            return std::string("q");
        case KEY_ENDED:
            input_ended = true;
            finish(e);
            return std::string("q");
        case KEY_INTERRUPTED:
            finish(e);
            return std::string();
        case 27:
            saved_line.clear();
            finish(e);
            return encode(e.line) + "\x1b";
        default:
            if (code > 31 || code == 9) insert_char(e, uint32_t(code));
            break;
        }
    }
    // A completion with several candidates shows them as the line and ends
    // the edit with an empty line (below them); the next edit starts from
    // the saved line.
    finish(e);
    return std::string();
}

}  // namespace zuv::terminal
