// The provisional script and line modes of the program, and the evaluation
// helpers they share with the language-test runner.
#include "boot/program.hpp"

#include "boot/boot_texts.hpp"
#include "boot/private_words.hpp"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "evaluator/actions.hpp"
#include "evaluator/backtrace.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/error_catalog.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/event.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/fire.hpp"
#include "runtime/init.hpp"
#include "runtime/output_hooks.hpp"
#include "runtime/process.hpp"
#include "runtime/runtime.hpp"
#include "runtime/throw.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace zuv::program {

namespace {

// Collections that may run between two evacuating collections at a safe point.
constexpr uint32_t EVACUATION_INTERVAL = 16;

void print_text(const std::string& text) {
    Cell* s = string::load(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), 0);
    output_hooks::print_value(s, true);
    stack::pop(1);
}

// A safe point: no C++ frame up the stack holds a node in a plain local, so
// node frames may be evacuated (renumbering nodes) once enough collections
// have run since the last time.
void safe_point() {
    static uint32_t last = 0;
    if (!collector::enabled || collector::series_cycles - last < EVACUATION_INTERVAL) return;
    collector::collect(true);
    last = collector::series_cycles;
}

// The text of a string! value as UTF-8.
std::string utf8_of(Cell* str) {
    int32_t length = -1;
    const uint8_t* p = unicode::to_utf8(str, &length);
    return std::string(reinterpret_cast<const char*>(p), size_t(length));
}

// ---- scripts ----

bool blank_q(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The offset of the script's header: "Zuv", optionally "/System", blanks,
// then "[" (case-sensitive); -1 when there is none.
int64_t find_header(const std::string& text) {
    for (size_t at = text.find("Zuv"); at != std::string::npos; at = text.find("Zuv", at + 1)) {
        size_t p = at + 3;
        if (text.compare(p, 7, "/System") == 0) p += 7;
        while (p < text.size() && blank_q(uint8_t(text[p]))) p++;
        if (p < text.size() && text[p] == '[') return int64_t(at);
    }
    return -1;
}

bool read_file(const char* path, std::string& out) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            out.append(chunk, size_t(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            ok = n == 0;
            break;
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace

// ---- start-up ----

void set_console_report_base();

void finish_start_up() {
    event::register_type();  // after every other datatype, its words made under the boot flag
    runtime::boot_flag = false;
    collector::enabled = true;
    // The bottom frame: unrolls stop at it, and an error that reaches it is
    // reported as uncaught.
    stack::mark_native(&words::tag_body);
    {
        // The same work in every process: the stress build does not stress it
        // (unless asked to), and every run pays the stress for its own work.
        collector::StressHold hold;
        // The library and the console, in the boot manifest's order.
        boot_texts::define_library();
        // From here on a user's global words never reach the system's own code.
        private_words::seal({"system", "cli-console-ctx", "halt"});
        set_console_report_base();
    }
    safe_point();
}

int start(int argc, char** argv, int (*body)(int argc, char** argv)) {
    runtime::init_process(argc, argv);
    int status = 0;
    runtime::run_on_big_stack([&] {
        runtime::run_top_level([&] {
            runtime::init();
            finish_start_up();
            status = body(argc, argv);
        });
    });
    return status;
}

// ---- evaluation ----

namespace {

// Runs body under a try frame; answers true when it ended normally, else
// false with the error! it raised in *error. The stacks are as they were
// afterwards. Throws other than errors pass on.
template <class Body>
bool guarded(Body&& body, Cell* error) {
    Cell* saved_top = stack::top;
    Cell* saved_arguments = stack::arguments;
    int32_t depth = stack::depth();
    stack::mark_try(&words::try_);
    uint32_t thrown = runtime::catch_scope(THROW_ERROR, body);
    if (thrown && thrown != THROW_ERROR) runtime::unwind_to_handler();
    if (thrown) {
        // The try frame is gone and the error lies on top of the data stack;
        // an error raised while another was being built comes as the bare record.
        Cell* top = stack::get_top_value();
        if (stack::top > saved_top && type_of(top) == TYPE_ERROR) {
            *error = *top;
            error::fill_stack(error);
        } else {
            const PendingError& e = runtime::pending_error();
            std::string text = std::string("*** ") + error_catalog::category(e.category).title + ": " + e.id;
            string::load_at(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), error, 0);
        }
    }
    stack::top = saved_top;
    stack::arguments = saved_arguments;
    stack::set_call_top(stack::frames_bottom + depth);
    stack::clear_pending();
    return thrown == 0;
}

}  // namespace

ReadingNear::ReadingNear(const uint8_t* text, int32_t length)
    : cells_{*interpreter::current_position, Cell{}}, root_(cells_, 2) {
    Cell* line = string::load(text, length, 0);
    cells_[1] = *line;
    *interpreter::current_position = *line;
    stack::pop(1);
}

ReadingNear::~ReadingNear() { *interpreter::current_position = cells_[0]; }

bool try_do(const uint8_t* text, int32_t length, Cell* out) {
    ReadingNear near(text, length);
    return guarded(
        [&] {
            Cell* code = none::make_at(stack::push_raw());
            lexer::scan(code, text, length, false, true, true, false, nullptr, nullptr, nullptr, nullptr);
            interpreter::eval_block(code, false);
            *out = *(stack::top - 1);
        },
        out);
}

std::string mold_text(const Cell* value, bool all) {
    Cell* v = stack::push(value);
    Cell* out = string::zs_make_at(stack::push_raw(), 64);
    actions::call_mold(v, out, false, all, false, nullptr, INT_MAX, 0);
    std::string text = utf8_of(out);
    stack::pop(2);
    return text;
}

std::string form_text(const Cell* value) {
    Cell* v = stack::push(value);
    Cell* out = string::zs_make_at(stack::push_raw(), 64);
    actions::call_form(v, out, nullptr, INT_MAX);
    std::string text = utf8_of(out);
    stack::pop(2);
    return text;
}

std::string error_name(const Cell* error) {
    if (type_of(error) != TYPE_ERROR) return "?";
    Cell* e = stack::push(error);
    Cell type = *error::field(e, error::FIELD_TYPE);
    Cell id = *error::field(e, error::FIELD_ID);
    std::string name = form_text(&type) + "/" + form_text(&id);
    stack::pop(1);
    return name;
}

void print_result(const Cell* value) {
    if (type_of(value) == TYPE_UNSET) return;
    Cell* shown = stack::push(value);
    Cell* error = none::make_at(stack::push_raw());
    bool printed = guarded(
        [&] {
            if (type_of(shown) == TYPE_ERROR)
                print_text(form_text(shown) + "\n");
            else
                print_text("== " + (type_of(shown) == TYPE_FLOAT ? form_text(shown) : mold_text(shown)));
        },
        error);
    // An error while the result (or a report) is printed is reported in its
    // place; when even that report fails, the error's bare record is printed.
    if (!printed &&
        !guarded([&] { print_text(type_of(error) == TYPE_ERROR ? form_text(error) + "\n" : utf8_of(error)); },
                 error)) {
        const PendingError& e = runtime::pending_error();
        std::string line = std::string("*** ") + error_catalog::category(e.category).title + ": " + e.id;
        runtime::print_line(line.c_str());
    }
    stack::pop(2);
}

std::string valid_utf8(const char* text, size_t length) {
    static const char replacement[] = "\xEF\xBF\xBD";
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* end = p + length;
    std::string out;
    out.reserve(length);
    while (p < end) {
        uint8_t c = *p;
        int need;
        uint8_t low = 0x80, high = 0xBF;  // range of the first continuation byte
        if (c < 0x80) {
            out += char(c);
            p++;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            out += replacement;
            p++;
            continue;
        }
        // The longest valid beginning of the sequence is replaced as one.
        const uint8_t* q = p + 1;
        int got = 0;
        while (got < need && q < end && *q >= (got == 0 ? low : 0x80) && *q <= (got == 0 ? high : 0xBF)) {
            q++;
            got++;
        }
        // U+FFFE is refused by the runtime's decoder as well.
        bool reversed_bom = need == 2 && got == 2 && c == 0xEF && p[1] == 0xBF && p[2] == 0xBE;
        if (got == need && !reversed_bom)
            out.append(reinterpret_cast<const char*>(p), size_t(q - p));
        else
            out += replacement;
        p = q;
    }
    return out;
}

// ---- the modes ----

namespace {

// Evaluates source text whose code is trusted to be the console's own
// (start-up's calls into the console); its value stays on the data stack.
void eval_text(const char* text, const Cell* argument = nullptr) {
    Cell* code = none::make_at(stack::push_raw());
    lexer::scan(code, reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), false, true, true, false,
                nullptr, nullptr, nullptr, nullptr);
    private_words::rebind(code);
    if (argument) block::append_cell(code, argument);
    interpreter::eval_block(code, false);
}

}  // namespace

// The console's own frames stay out of the call stacks that errors show.
void set_console_report_base() {
    Cell* saved_top = stack::top;
    eval_text("system/console");
    stack::set_report_base(stack::top - 1);
    stack::top = saved_top;
}

namespace {

// The interpreter's answer to Ctrl+C while a command runs at the prompt:
// the command halts as `halt` would halt it.
void halt_command() { eval_text("halt"); }

// Changes to the folder of the script's path, which system/options/path
// then names too.
void enter_folder(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash) {
        std::string folder(path, size_t(slash - path) + 1);
        if (::chdir(folder.c_str()) != 0) {
            Cell* name = string::load(reinterpret_cast<const uint8_t*>(folder.data()), int32_t(folder.size()), 0);
            fire(ErrorCategory::access, "cannot-open", name);
        }
    }
    std::string here(PATH_MAX, '\0');
    if (!::getcwd(here.data(), here.size())) return;
    here.resize(std::strlen(here.c_str()));
    if (here.empty() || here.back() != '/') here += '/';
    here = valid_utf8(here.data(), here.size());
    Cell* file = string::load(reinterpret_cast<const uint8_t*>(here.data()), int32_t(here.size()), 0);
    cell::set_type(file, TYPE_FILE);
    eval_text("system/options/path:", file);
}

// Loads and runs the script; a failure is reported. Answers true when it
// ended normally (or was halted).
bool script_ran(const char* path) {
    std::string text;
    if (!read_file(path, text)) {
        Cell* name = string::load(reinterpret_cast<const uint8_t*>(path), int32_t(std::strlen(path)), 0);
        fire(ErrorCategory::access, "cannot-open", name);
    }
    int64_t start = find_header(text);
    if (start < 0) {
        print_text("*** Error: Zuv header not found!");
        return false;
    }
    if (text.size() - size_t(start) > size_t(INT32_MAX)) fire(ErrorCategory::internal, "no-memory");
    Cell* code = none::make_at(stack::push_raw());
    lexer::scan(code, reinterpret_cast<const uint8_t*>(text.data()) + start, int32_t(text.size() - size_t(start)),
                false, true, true, false, nullptr, nullptr, nullptr, nullptr);
    // The header word and its block come first; Zuv/System marks code for
    // the compiler, which this program does not run.
    bool header = block::zs_length_q(code) >= 2 && type_of(block::zs_head(code)) == TYPE_WORD &&
                  type_of(block::zs_head(code) + 1) == TYPE_BLOCK;
    if (!header) {
        bool system = text.find("Zuv/System") != std::string::npos;
        print_text(std::string("*** Error: ") +
                   (system ? "contains Zuv/System code which requires compilation!" : "not a Zuv program!"));
        return false;
    }
    code->w1 += 2;
    enter_folder(path);
    // Run as the console runs a command: a halt ends only the script.
    eval_text("system/console/try-do", code);
    if (type_of(stack::top - 1) == TYPE_ERROR) {
        print_result(stack::top - 1);
        return false;
    }
    return true;
}

}  // namespace

int run_script(const char* path) {
    Cell* result = none::make_at(stack::push_raw());
    bool ran = false;
    if (!guarded([&] { ran = script_ran(path); }, result)) print_result(result);
    stack::pop(1);
    // A script that failed ends the program with status 1 for a calling shell.
    return ran ? 0 : 1;
}

int launch_console(bool after_script) {
    runtime::on_interrupt = halt_command;
    runtime::interrupt_mode = runtime::INTERRUPT_HALT;
    Cell* result = none::make_at(stack::push_raw());
    bool ok = guarded([&] { eval_text(after_script ? "system/console/catch?: true cli-console-ctx/launch"
                                                   : "cli-console-ctx/launch"); },
                      result);
    if (!ok) print_result(result);
    stack::pop(1);
    return ok ? 0 : 1;
}

int run(int argc, char** argv) {
    // Options ("--" and after it nothing) come before the script's name.
    bool keep_prompt = false;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i++) {
        if (argv[i][2] == 0) {
            i++;
            break;
        }
        if (std::strcmp(argv[i], "--catch") == 0) keep_prompt = true;
    }
    if (i < argc) {
        int status = run_script(argv[i]);
        if (!keep_prompt) return status;
        return launch_console(true);
    }
    return launch_console(false);
}

}  // namespace zuv::program
