// The console's connection to standard input and output on Linux.
//
// When standard input and output are a terminal, _read-input edits the line
// with the line editor (console/terminal/). Otherwise lines come from one
// buffered reader of standard input, shared by the prompt loop (_read-input),
// input-stdin and read-stdin. Lines are UTF-8: invalid bytes become U+FFFD,
// CR LF ends a line as LF does, and a last line without LF is still a line.
// A terminal on standard input alone (output redirected) is read line by
// line as it delivers them, after the prompt; a redirected input gets no
// prompt.
#include "console/console_io.hpp"
#include "console/fork_server.hpp"

#include <cerrno>
#include <csignal>
#include <optional>
#include <string>
#include <vector>
#include <termios.h>
#include <unistd.h>

#include "boot/program.hpp"
#include "console/terminal/line_editor.hpp"
#include "console/terminal/tty.hpp"
#include "evaluator/routines.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/console_writer.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/os.hpp"
#include "runtime/process.hpp"
#include "runtime/throw.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"
#include "services/process.hpp"

namespace zuv::console_io {

namespace {

using routines::Value;

// Bytes read from standard input and not yet handed out.
std::string pending;
bool at_end = false;

// The line and the history that _set-buffer-history gives the next _read-input.
Cell edit_line;
Cell edit_history;
bool rooted = false;

Value answer(Cell* cell) {
    Value v;
    v.cell = cell;
    return v;
}

void write_all(int fd, const char* p, size_t n) { platform::write_fully(fd, p, n, true); }

enum class Got { line, end, interrupted };

// One line of standard input without its LF, made valid UTF-8. A CR before
// the LF stays in the line: the text is handed over as it came.
Got read_line(std::string& line) {
    for (;;) {
        size_t nl = pending.find('\n');
        if (nl != std::string::npos || (at_end && !pending.empty())) {
            size_t cut = nl == std::string::npos ? pending.size() : nl;
            line = unicode::valid_utf8(pending.data(), cut);
            pending.erase(0, nl == std::string::npos ? cut : cut + 1);
            return Got::line;
        }
        if (at_end) return Got::end;
        char chunk[65536];
        ssize_t n = ::read(0, chunk, sizeof chunk);
        if (n > 0) {
            pending.append(chunk, size_t(n));
        } else if (n < 0 && errno == EINTR) {
            if (runtime::take_interrupt()) {
                pending.clear();
                return Got::interrupted;
            }
        } else if (fork_server::serve_at_end()) {
            pending.clear();  // a child of the fork server: its own input follows
        } else {
            at_end = true;
        }
    }
}

Cell* new_string(const std::string& text) {
    return string::load(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), 0);
}

// _set-buffer-history line hist: the string the next _read-input fills and
// the history block it adds the line to.
Value set_buffer_history(const Value* args, int32_t) {
    if (!rooted) {
        collector::add_root(&edit_line);
        collector::add_root(&edit_history);
        rooted = true;
    }
    edit_line = *args[0].cell;
    edit_history = *args[1].cell;
    return answer(nullptr);
}

// Terminal echo off for a hidden answer, restored when the read ends.
struct EchoOff {
    bool active = false;
    struct termios saved {};
    explicit EchoOff(bool hide) {
        if (!hide || ::tcgetattr(0, &saved) != 0) return;
        struct termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        active = ::tcsetattr(0, TCSANOW, &quiet) == 0;
    }
    ~EchoOff() {
        if (!active) return;
        ::tcsetattr(0, TCSANOW, &saved);
        write_all(1, "\n", 1);
    }
};

// One line of a terminal on standard input whose output goes elsewhere, as
// the terminal delivers it, after the prompt; a hidden answer is not echoed.
// Accepted lines go to the history.
Got read_terminal_line(const Cell* prompt, bool hidden, std::string& line) {
    std::string text = program::form_text(prompt);
    Got got;
    {
        // Echo goes off before the prompt shows: nothing typed after it is echoed.
        EchoOff echo(hidden);
        console_writer::flush();
        write_all(1, text.data(), text.size());
        got = read_line(line);
    }
    if (got != Got::line) write_all(1, "\n", 1);
    if (got == Got::line && !hidden) terminal::add_history(&edit_history, line);
    return got;
}

// _read-input prompt hidden?: reads one line into the string given to
// _set-buffer-history: on a terminal through the line editor, which keeps
// accepted lines in the history (a hidden answer is echoed as stars and not
// kept). When the input has ended, the prompt loop ends as quit ends it; a
// script's read answers an empty line.
Value read_input(const Value* args, int32_t) {
    const Cell* prompt = args[0].cell;
    bool hidden = type_of(args[1].cell) == TYPE_LOGIC && args[1].cell->w1 != 0;
    call::reap();  // children started by call without waiting that have ended since
    std::string line;
    // At the prompt an interrupt drops the line being typed; elsewhere it
    // ends the program, as it ends a script.
    std::sig_atomic_t mode = runtime::interrupt_mode;
    bool prompt_loop = mode == runtime::INTERRUPT_HALT;
    if (prompt_loop) runtime::interrupt_mode = runtime::INTERRUPT_READING;
    runtime::interrupt_pending = 0;
    Got got = Got::line;
    std::optional<std::string> edited;
    if (terminal::console_q()) edited = terminal::edit(prompt, hidden, &edit_history);
    if (edited) line = std::move(*edited);
    else if (::isatty(0)) got = read_terminal_line(prompt, hidden, line);
    else got = read_line(line);
    runtime::interrupt_mode = mode;
    runtime::interrupt_pending = 0;  // an interrupt during the read was for the line
    if (got == Got::end && prompt_loop) runtime::throw_code(THROW_QUIT);
    if (got != Got::line) line.clear();
    if (type_of(&edit_line) == TYPE_STRING) {
        Cell* text = new_string(line);
        Cell* target = stack::push(&edit_line);
        string::concatenate(target, text, -1, string::rs_length_q(target), false, string::CONCAT_APPEND);
    }
    return answer(nullptr);
}

// input-stdin: a new string holding one line of standard input ("" at its end).
Value input_stdin(const Value*, int32_t) {
    std::string line;
    read_line(line);
    return answer(new_string(line));
}

// read-stdin buffer buflen: appends up to buflen bytes of standard input to
// the binary, growing it first. Answers the count read (0 at the end).
Value read_stdin(const Value* args, int32_t) {
    Cell* buffer = args[0].cell;
    int32_t want = integer::get_value(args[1].cell);
    if (type_of(buffer) != TYPE_BINARY || want <= 0) return answer(integer::make_at(stack::push_raw(), 0));
    std::vector<uint8_t> bytes;
    size_t take = std::min(pending.size(), size_t(want));
    bytes.assign(pending.begin(), pending.begin() + long(take));
    pending.erase(0, take);
    if (bytes.empty() && !at_end) {
        std::vector<uint8_t> chunk(static_cast<size_t>(want));
        for (;;) {
            ssize_t n = ::read(0, chunk.data(), chunk.size());
            if (n > 0) bytes.assign(chunk.begin(), chunk.begin() + n);
            else if (n < 0 && errno == EINTR) continue;
            else at_end = true;
            break;
        }
    }
    if (!bytes.empty())
        binary::splice_bytes(buffer, int32_t(buffer->w1) + binary::zs_length_q(buffer), 0, bytes, 1);
    return answer(integer::make_at(stack::push_raw(), int32_t(bytes.size())));
}

// The field of an object value, by symbol, or null.
Cell* field_of(const Cell* object, int32_t symbol) {
    if (type_of(object) != TYPE_OBJECT) return nullptr;
    int32_t i = _context::find_word(object->w1, symbol, true);
    return i < 0 ? nullptr : _context::value_slot(object->w1, i);
}

// The slot of system/console/size, or null before the console object exists.
Cell* console_size_slot() {
    if (_context::find_word(_context::global, sym::system, true) < 0) return nullptr;
    Cell* console = field_of(_context::global_value_cell(sym::system), sym::console);
    if (!console) return nullptr;
    Cell copy = *console;
    return field_of(&copy, sym::size);
}

// system/console/init title: the window title (an OSC sequence, only on a
// terminal; it never fails) and the console size: the terminal's, else 80x50.
Value console_init(const Value* args, int32_t) {
    const Cell* title = args[0].cell;
    if (::isatty(1) && type_of(title) == TYPE_STRING) {
        std::string text = program::form_text(title);
        for (char& c : text)
            if (uint8_t(c) < 0x20 || c == 0x7F) c = ' ';  // nothing that ends the sequence early
        std::string osc = "\x1b]0;" + text + "\x07";
        console_writer::flush();
        write_all(1, osc.data(), osc.size());
    }
    tty::Size size;
    if (::isatty(0)) size = tty::window_size();
    if (size.columns == 0 || size.rows == 0) size = tty::Size{80, 50};
    set_console_size(size.columns, size.rows);
    return answer(nullptr);
}

// stdin-terminal?: whether standard input is a terminal.
Value stdin_terminal_q(const Value*, int32_t) {
    Value v;
    v.i = ::isatty(0) ? 1 : 0;
    return v;
}

// halt-on-interrupt: the prompt loop starts. From here on Ctrl+C halts the
// command running (or drops the line being typed) instead of ending the
// program as it ends a script, and the end of redirected input ends the
// program as quit does.
Value halt_on_interrupt(const Value*, int32_t) {
    runtime::interrupt_pending = 0;
    runtime::interrupt_mode = runtime::INTERRUPT_HALT;
    return answer(nullptr);
}

}  // namespace

bool console_size(int32_t* columns, int32_t* rows) {
    Cell* size = console_size_slot();
    if (!size || type_of(size) != TYPE_PAIR) return false;
    *columns = pair::x_of(size);
    *rows = pair::y_of(size);
    return true;
}

void set_console_size(int32_t columns, int32_t rows) {
    if (Cell* size = console_size_slot()) pair::make_at(size, columns, rows);
}

void register_routines() {
    routines::add("_set-buffer-history", set_buffer_history);
    routines::add("_read-input", read_input);
    routines::add("input-stdin", input_stdin);
    routines::add("read-stdin", read_stdin);
    routines::add("console-init", console_init);
    routines::add("stdin-terminal?", stdin_terminal_q);
    routines::add("halt-on-interrupt", halt_on_interrupt);
}

}  // namespace zuv::console_io
