// The program after start-up (the console, which runs a script named on the
// command line), and the evaluation helpers it shares with the language-test
// runner.
#include "boot/program.hpp"

#include "boot/boot_texts.hpp"
#include "boot/private_words.hpp"

#include <climits>
#include <cstring>

#include "evaluator/actions.hpp"
#include "evaluator/backtrace.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/library_calls.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_eval.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/error_catalog.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/event.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/fire.hpp"
#include "runtime/init.hpp"
#include "runtime/output_hooks.hpp"
#include "runtime/process.hpp"
#include "runtime/runtime.hpp"
#include "runtime/symbols.hpp"
#include "runtime/throw.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace zuv::program {

namespace {

void print_text(const std::string& text) {
    Cell* s = string::load(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), 0);
    output_hooks::print_value(s, true);
    stack::pop(1);
}

// The library objects whose class numbers are fixed get them.
void fix_library_classes() {
    for (const object::FixedClass& fixed : object::FIXED_LIBRARY_CLASSES) {
        std::string path = fixed.path;
        size_t slash = path.find('/');
        Cell* value = _context::find_value_cell(symbol::make(path.substr(0, slash).c_str()), _context::global);
        if (value && type_of(value) == TYPE_OBJECT && slash != std::string::npos) {
            int32_t index = _context::find_word(value->w1, symbol::make(path.substr(slash + 1).c_str()), true);
            value = index < 0 ? nullptr : _context::value_slot(value->w1, index);
        }
        if (value && type_of(value) == TYPE_OBJECT) object::set_class(value, fixed.id);
    }
}

// The text of a string! value as UTF-8.
std::string utf8_of(Cell* str) {
    int32_t length = -1;
    const uint8_t* p = unicode::to_utf8(str, &length);
    return std::string(reinterpret_cast<const char*>(p), size_t(length));
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
        object::number_library_classes(true);
        boot_texts::define_library();
        object::number_library_classes(false);
        fix_library_classes();
        interpreter::library_calls::note_library();
        // From here on a user's global words never reach the system's own code.
        private_words::seal({"system", "cli-console-ctx", "halt", "do-file", "expand-directives",
                             "zuv-complete-input", "url-parser"});
        set_console_report_base();
    }
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
            stack::raise_pending();
            interpreter::eval_block(code, false);
            stack::raise_pending();  // an error, or an exit that nothing received
            *out = *(stack::top - 1);
        },
        out);
}

bool try_call(const char* name, const Cell* args, int32_t count, Cell* out) {
    return guarded([&] { *out = natives::call_system_function(name, args, count); }, out);
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

// ---- the console ----

namespace {

// Evaluates source text whose code is trusted to be the console's own
// (start-up's calls into the console); its value stays on the data stack.
void eval_text(const char* text) {
    Cell* code = none::make_at(stack::push_raw());
    lexer::scan(code, reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), false, true, true, false,
                nullptr, nullptr, nullptr, nullptr);
    stack::raise_pending();
    private_words::rebind(code);
    interpreter::eval_block(code, false);
    stack::raise_pending();
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
// the command halts as `halt` would halt it. Only a command runs inside the
// prompt loop's catch: a request that comes while the loop's own code runs
// (between commands, at the prompt) has nothing to halt and is dropped.
void halt_command() {
    Cell console{};
    console.w2 = uint32_t(sym::console);
    cell::set_type(&console, TYPE_WORD);
    if (natives::catch_named_q(console)) eval_text("halt");
}

}  // namespace

int run() {
    // Ctrl+C halts the command running at the prompt; before the prompt
    // loop starts, it ends the program.
    runtime::on_interrupt = halt_command;
    // The console reads the command line, runs the script it names and
    // answers the exit status, unless the prompt loop (which ends the process
    // itself) follows.
    Cell* result = none::make_at(stack::push_raw());
    bool ok = guarded([&] {
        eval_text("cli-console-ctx/launch");
        *result = *(stack::top - 1);
    }, result);
    if (!ok) print_result(result);
    int status = !ok ? 1 : type_of(result) == TYPE_INTEGER ? integer::get_value(result) : 0;
    stack::pop(1);
    return status;
}

}  // namespace zuv::program
