// The boot records and their evaluation.
#include "boot/boot_texts.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "evaluator/interpreter.hpp"
#include "evaluator/routines.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "lexer/serialize/zuvbin.hpp"
#include "runtime/memory.hpp"
#include "runtime/root.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/runtime.hpp"

namespace zuv::boot_texts {

namespace {

// The root cell of the records, while start-up runs them.
Cell* records = nullptr;

bool ends_with(const char* text, const char* tail) {
    size_t n = std::strlen(text), m = std::strlen(tail);
    return m <= n && std::strcmp(text + n - m, tail) == 0 && (m == n || tail[0] == '/' || text[n - m - 1] == '/');
}

bool read_file(const std::string& path, std::string& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) out.append(chunk, size_t(n));
        else if (n < 0 && errno == EINTR) continue;
        else {
            ok = n == 0;
            break;
        }
    }
    ::close(fd);
    return ok;
}

// Appends the block of code of one source text to the records: the code
// after its `Zuv [...]` header when it has one.
void add_record(Cell* out, const uint8_t* bytes, int32_t size) {
    Cell* code = cell::begin(stack::push_raw());
    lexer::scan(code, bytes, size, false, true, true, false, nullptr, nullptr, nullptr, nullptr);
    stack::raise_pending();
    if (block::zs_length_q(code) >= 2 && type_of(block::zs_head(code)) == TYPE_WORD &&
        type_of(block::zs_head(code) + 1) == TYPE_BLOCK &&
        std::strcmp(reinterpret_cast<const char*>(symbol::to_utf8_copy(int32_t(block::zs_head(code)->w2))), "Zuv") == 0)
        code->w1 += 2;
    block::append_cell(out, code);
    stack::pop(1);
}

}  // namespace

const Text* find(const char* name) {
    for (const Text* t = table; t->name; t++)
        if (ends_with(t->name, name)) return t;
    return nullptr;
}

int32_t index_of(const char* name) {
    for (int32_t i = 0; i < count; i++)
        if (ends_with(table[i].name, name)) return i;
    return -1;
}

void lex_records(Cell* out) {
    block::make_at(out, count);
    // The development switch: the sources of a source tree on disk, by the
    // same manifest paths. A file that cannot be read is a fault of the set-up.
    const char* dir = std::getenv("ZUV_BOOT_DIR");
    for (int32_t i = 0; i < count; i++) {
        if (dir && *dir) {
            std::string text;
            if (!read_file(std::string(dir) + "/" + table[i].name, text) || text.size() > size_t(INT32_MAX))
                runtime::quit_with_runtime_error(98, 0);
            add_record(out, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
        } else {
            add_record(out, table[i].bytes, table[i].size);
        }
    }
}

void load() {
    const char* dir = std::getenv("ZUV_BOOT_DIR");
    if (&image_size != nullptr && image_size > 0 && !(dir && *dir)) {
        // The image holds one value: the block of the records.
        int32_t first = zuvbin::boot_load(image_bytes, image_size);
        records = memory::internal_cells(memory::buffer_of(runtime::root.w2)) + first;
        return;
    }
    records = none::make_at(cell::alloc_tail_cell(runtime::root.w2));
    lex_records(records);
}

void run_records(int32_t first, int32_t end) {
    if (!records || type_of(records) != TYPE_BLOCK) runtime::quit_with_runtime_error(98, 0);
    for (int32_t i = first; i < end && i < block::zs_length_q(records); i++) {
        Cell code = block::zs_head(records)[i];
        Cell* held = stack::push(&code);
        interpreter::eval_block(held, false);
        stack::raise_pending();
        stack::top = held;
    }
}

void release_records() {
    if (records) none::make_at(records);
}

namespace {

// A missing boot text is a fault of the build.
int32_t required(const char* name) {
    int32_t i = index_of(name);
    if (i < 0) runtime::quit_with_runtime_error(98, 0);
    return i;
}

// The first `make`: the make action with a spec of its two arguments, which
// actions.zuv replaces with the documented one.
void bind_first_make() {
    Cell type = word::from_c_string("type");
    Cell spec_word = word::from_c_string("spec");
    Cell* spec = block::push_only_star(2);
    block::append_cell(spec, &type);
    block::append_cell(spec, &spec_word);
    Cell* definition = block::push_only_star(2);
    block::append_cell(definition, spec);
    integer::make_in(definition, 1);
    Cell proto;
    datatype::make_at(&proto, TYPE_ACTION);
    Cell* made = action::make(&proto, definition, TYPE_ACTION);
    _context::set_global_value(symbol::make("make"), made);
    stack::pop(3);
}

// boot-routine name spec result: a routine! running the C++ routine
// registered under the word's spelling. result is a word: `logic`,
// `integer` or `none` for a routine answering a machine value, `cells` for
// one taking and answering cells.
routines::Value boot_routine(const routines::Value* args, int32_t) {
    const Cell* name = args[0].cell;
    const Cell* spec = args[1].cell;
    const Cell* kind = args[2].cell;
    std::string n = reinterpret_cast<const char*>(symbol::to_utf8_copy(int32_t(name->w2)));
    int32_t code = routines::find(n.c_str());
    if (code == 0 || type_of(spec) != TYPE_BLOCK) fire(ErrorCategory::internal, "routines");
    std::string k = reinterpret_cast<const char*>(symbol::to_utf8_copy(int32_t(kind->w2)));
    int32_t result = k == "logic" ? TYPE_LOGIC : k == "integer" ? TYPE_INTEGER : routine::RESULT_NONE;
    routines::Value answer;
    answer.cell = routine::push_new(spec, nullptr, code, result, k == "cells");
    return answer;
}

}  // namespace

void define_builtins() {
    // The datatype words, as the boot image will bring them.
    for (int32_t t = 1; t <= TYPE_EVENT; t++) {
        Cell d;
        _context::set_global_value(symbol::make(datatype::type_names[t].name), datatype::make_at(&d, t));
    }
    bind_first_make();
    run_records(required("boot/actions.zuv"), required("boot/actions.zuv") + 1);
    run_records(required("boot/natives.zuv"), required("boot/natives.zuv") + 1);
}

void define_base() { run_records(required("boot/base.zuv"), required("boot/base.zuv") + 1); }

void define_library() {
    // The helper is itself a routine: it binds the library's routines by
    // name and is gone once the library is defined.
    int32_t helper = routines::add("boot-routine", boot_routine);
    const char spec[] = "name [word!] spec [block!] result [word!]";
    Cell* spec_block = cell::begin(stack::push_raw());
    lexer::scan(spec_block, reinterpret_cast<const uint8_t*>(spec), int32_t(sizeof spec - 1), false, true, true,
                false, nullptr, nullptr, nullptr, nullptr);
    stack::raise_pending();
    Cell* fn = routine::push_new(spec_block, nullptr, helper, routine::RESULT_NONE, true);
    int32_t symbol = symbol::make("boot-routine");
    _context::set_global_value(symbol, fn);
    stack::top = spec_block;

    for (int32_t i = required("boot/base.zuv") + 1; i < count; i++) {
        object::library_source_begins(table[i].name);
        run_records(i, i + 1);
    }

    Cell nothing;
    _context::set_global_value(symbol, unset::make_at(&nothing));
    release_records();
}

}  // namespace zuv::boot_texts
