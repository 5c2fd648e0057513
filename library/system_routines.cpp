// The C++ routines of the library that reach the file system, the process's
// surroundings and the runtime's own state: the path routines, the bit
// shifts, colour and address tuples, quiet assignment, stack inspection for
// the debugger and tracer, the clipboard, standard output and the OS
// description.
// Start-up binds each by name (boot-routine); they take and answer cells.
#include "library/routines.hpp"

#include <algorithm>
#include <cstdio>
#include <string>

#include "evaluator/backtrace.hpp"
#include "evaluator/routines.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "lexer/lexer.hpp"
#include "library/answers.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/os.hpp"
#include "runtime/settings.hpp"
#include "runtime/unicode.hpp"
#include "services/clipboard.hpp"
#include "services/files.hpp"
#include "services/os_info.hpp"

namespace zuv::library {

// The day the program was built ("YYYY-MM-DD"), written by the build beside
// the boot image; programs linked without it (the image writer, the unit
// tests) have none.
extern const char build_date[] __attribute__((weak));

namespace {

using routines::Value;

Value answer_integer(int32_t n) { return answer(integer::make_at(cell::begin(stack::push_raw()), n)); }
Value unset_answer() { return answer(nullptr); }

int32_t int_arg(const Value* args, int i) { return integer::get_value(args[i].cell); }

[[noreturn]] void fire_with(const char* category_id, const Cell* value, ErrorCategory category) {
    Cell v = *value;
    fire(category, category_id, &v);
}

// ---- paths ----

// The process's current directory as a file! ending in "/".
Value get_current_dir(const Value*, int32_t) {
    std::string path = platform::get_current_dir();
    if (path.empty() || path.back() != '/') path += '/';
    Cell* file = string::load(reinterpret_cast<const uint8_t*>(path.data()), int32_t(path.size()), 0);
    return answer(cell::set_type(file, TYPE_FILE));
}

Value set_current_dir(const Value* args, int32_t) {
    const Cell* path = args[0].cell;
    std::string text = url::utf8_of(path);
    if (text.empty() || text.find('\0') != std::string::npos || !platform::set_current_dir(text.c_str()))
        fire_with("cannot-open", path, ErrorCategory::access);
    return unset_answer();
}

Value create_dir(const Value* args, int32_t) {
    if (!simple_io::make_dir(args[0].cell)) fire_with("no-create", args[0].cell, ErrorCategory::access);
    return unset_answer();
}

Value exists_q(const Value* args, int32_t) { return answer_logic(simple_io::file_exists_q(args[0].cell)); }

Value write_stdout(const Value* args, int32_t) {
    simple_io::write(nullptr, args[0].cell, nullptr, -1, false, false, false);
    return unset_answer();
}

// ---- bits, tuples and text ----

// Counts of 32 and more are branched out: a C++ shift by them is undefined.
Value shift_right(const Value* args, int32_t) {
    int32_t v = int_arg(args, 0), bits = std::max(int_arg(args, 1), 0);
    return answer_integer(bits < 32 ? v >> bits : (v < 0 ? -1 : 0));
}

Value shift_left(const Value* args, int32_t) {
    int32_t v = int_arg(args, 0), bits = std::max(int_arg(args, 1), 0);
    return answer_integer(bits < 32 ? int32_t(uint32_t(v) << bits) : 0);
}

Value shift_logical(const Value* args, int32_t) {
    int32_t v = int_arg(args, 0), bits = std::max(int_arg(args, 1), 0);
    return answer_integer(bits < 32 ? int32_t(uint32_t(v) >> bits) : 0);
}

// A tuple of count components, each taken modulo 256; the first negative
// component raises invalid-arg with it.
Value components_tuple(const Value* args, int32_t count) {
    int32_t values[4];
    for (int32_t i = 0; i < count; i++) {
        values[i] = int_arg(args, i);
        if (values[i] < 0) fire_with("invalid-arg", args[i].cell, ErrorCategory::script);
        values[i] &= 0xFF;
    }
    return answer(tuple::make_from_integers(cell::begin(stack::push_raw()), values, count));
}

Value as_color(const Value* args, int32_t) { return components_tuple(args, 3); }
Value as_ipv4(const Value* args, int32_t) { return components_tuple(args, 4); }

// UTF-8 characters from start's position to pos's position, both counted in
// start's buffer and kept inside its tail; a sequence is never read past it.
Value count_chars(const Value* args, int32_t) {
    const Cell start = *args[0].cell;
    const Cell pos = *args[1].cell;
    SeriesBuffer* buffer = memory::buffer_of(start.w2);
    const uint8_t* head = memory::head_of(buffer);
    int64_t tail = memory::used_bytes(buffer);
    int64_t from = std::clamp<int64_t>(int32_t(start.w1), 0, tail);
    int64_t to = std::clamp<int64_t>(int32_t(pos.w1), 0, tail);
    int32_t count = 0;
    while (from < to) {
        int32_t n = unicode::get_sequence_length(head[from]);
        from += n > 0 ? n : 1;
        count++;
    }
    return answer_integer(count);
}

// ---- quiet assignment ----

bool any_word_q(uint8_t t) { return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD; }

Value set_quiet(const Value* args, int32_t) {
    Cell* word = args[0].cell;
    if (!any_word_q(type_of(word))) rt_support::fire_expect_arg(type_of(word), 0);
    Cell value = *args[1].cell;
    if (word->w1 == 0) fire(ErrorCategory::script, "not-defined", word);
    _context::set_in(word, &value, Node(word->w1), false);
    return answer(stack::push(&value));
}

Value set_slot_quiet(const Value* args, int32_t) {
    const Cell* series = args[0].cell;
    uint8_t t = type_of(series);
    bool path = t == TYPE_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH || t == TYPE_LIT_PATH;
    if (t != TYPE_BLOCK && t != TYPE_PAREN && !path) rt_support::fire_expect_arg(t, 0);
    Cell s = *series;
    int32_t head = int32_t(s.w1);
    if (head >= 0 && block::zs_length_q(&s) > 0) copy_cell(args[1].cell, block::write_at(&s, head));
    return unset_answer();
}

// ---- the stacks ----

Value stack_size_q(const Value*, int32_t) { return answer_integer(int32_t(stack::top - stack::bottom)); }

Value pick_stack(const Value* args, int32_t) {
    int32_t idx = int_arg(args, 0);
    if (idx <= 0 || idx >= int32_t(stack::top - stack::bottom)) return answer(none::make_at(stack::push_raw()));
    Cell c = stack::bottom[idx];
    return answer(stack::push(&c));
}

// The data stack index of the arguments of the innermost function call
// running this routine (a frame's base is the saved_args of the frame pushed
// after it); outside any function, the index where this call's own begin.
Value frame_index_q(const Value*, int32_t) {
    int32_t index = int32_t(stack::arguments - stack::bottom);
    for (stack::Frame* f = stack::frames_top - 1; f >= stack::frames_bottom; f--) {
        if (f->kind() != stack::FRAME_FUNC) continue;
        return answer_integer(f + 1 < stack::frames_top ? int32_t(f[1].saved_args) : index);
    }
    if (stack::frames_top > stack::frames_bottom) index = int32_t(stack::frames_top[-1].saved_args);
    return answer_integer(index);
}

Value collect_calls(const Value* args, int32_t) {
    Cell list = *args[0].cell;
    stack::collect_calls(&list);
    return unset_answer();
}

// True while a traced evaluation runs, also while trace false has suspended
// its events (no other trace can start then); false inside its callback.
Value tracing_q(const Value*, int32_t) { return answer_logic(interpreter::tracing_q); }

// _switch-tracing on: trace true and trace false inside a traced evaluation.
Value switch_tracing(const Value* args, int32_t) {
    interpreter::suspend_trace(logic::false_q(args[0].cell));
    return unset_answer();
}

// ---- the clipboard ----

Value read_clipboard(const Value*, int32_t) { return answer(clipboard::read()); }

Value write_clipboard(const Value* args, int32_t) { return answer_logic(clipboard::write(args[0].cell)); }

Value get_os_info(const Value*, int32_t) { return answer(os::get_os_info()); }

// ---- the system object ----

// build-date: the day of the build as a date!, or none.
Value build_date_value(const Value*, int32_t) {
    int year, month, day;
    if (!build_date || std::sscanf(build_date, "%d-%d-%d", &year, &month, &day) != 3)
        return answer(none::make_at(stack::push_raw()));
    return answer(date::make_at_parts(cell::begin(stack::push_raw()), year, month, day, 0, 0, false));
}

// The lexer's event type argument for a class without datatype: the word at
// the class's place in system/lexer/exit-states.
void exit_states(Cell* out) { settings::get(settings::Field::exit_states, out); }

// The runtime keeps the finished system object for its reads of settings.
Value runtime_system(const Value* args, int32_t) {
    settings::set_system(args[0].cell);
    lexer::exit_states_hook = exit_states;
    return unset_answer();
}

// The words naming the lexer's token classes, in class order.
Value exit_states_block(const Value*, int32_t) {
    Cell* list = block::make_at(stack::push_raw(), lexer::TOKEN_CLASSES);
    for (int32_t i = 1; i <= lexer::TOKEN_CLASSES; i++) {
        Cell word = word::from_c_string(lexer::token_class_names[i]);
        block::append_cell(list, &word);
    }
    return answer(list);
}

// True when a frame on the call stack was pushed by the interpreter.
Value interpreted_q(const Value*, int32_t) { return answer_logic(stack::eval_q(nullptr, false)); }

// The float formatter's flags, which system/options/float mirrors.
Value set_float_flag(const Value* args, int32_t) {
    const Cell field = *args[0].cell;
    int32_t on = logic::false_q(args[1].cell) ? 0 : 1;
    if (!word::any_word_q(type_of(&field))) return unset_answer();
    int32_t named = symbol::resolve(int32_t(field.w2));
    if (named == symbol::resolve(symbol::make("pretty?"))) float_::option_pretty = on;
    else if (named == symbol::resolve(symbol::make("full?"))) float_::option_full = on;
    return unset_answer();
}

}  // namespace

void register_system_routines() {
    routines::add("get-current-dir", get_current_dir);
    routines::add("set-current-dir", set_current_dir);
    routines::add("create-dir", create_dir);
    routines::add("exists?", exists_q);
    routines::add("write-stdout", write_stdout);
    routines::add("shift-right", shift_right);
    routines::add("shift-left", shift_left);
    routines::add("shift-logical", shift_logical);
    routines::add("as-color", as_color);
    routines::add("as-ipv4", as_ipv4);
    routines::add("count-chars", count_chars);
    routines::add("set-quiet", set_quiet);
    routines::add("set-slot-quiet", set_slot_quiet);
    routines::add("stack-size?", stack_size_q);
    routines::add("pick-stack", pick_stack);
    routines::add("frame-index?", frame_index_q);
    routines::add("collect-calls", collect_calls);
    routines::add("tracing?", tracing_q);
    routines::add("_switch-tracing", switch_tracing);
    routines::add("read-clipboard", read_clipboard);
    routines::add("write-clipboard", write_clipboard);
    routines::add("__get-OS-info", get_os_info);
    routines::add("build-date", build_date_value);
    routines::add("runtime-system", runtime_system);
    routines::add("exit-states", exit_states_block);
    routines::add("interpreted?", interpreted_q);
    routines::add("set-float-flag", set_float_flag);
}

}  // namespace zuv::library
