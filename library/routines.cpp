// The C++ routines of the language library: the type tests, quit-return and
// the start-up helpers that hand the library the runtime's own objects.
// Start-up binds each by name (boot-routine); they take and answer cells.
#include "library/routines.hpp"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <unistd.h>

#include "evaluator/routines.hpp"
#include "evaluator/stack.hpp"
#include "library/answers.hpp"
#include "runtime/command_line.hpp"
#include "runtime/console_writer.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/typeset.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error_catalog.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime.hpp"
#include "runtime/unicode.hpp"

namespace zuv::library {

namespace {

using routines::Value;

// The exact type tests: true only for the datatype itself, no parent.
template <uint8_t T>
Value is_type(const Value* args, int32_t) {
    return answer_logic(type_of(args[0].cell) == T);
}

// An exact type test registered under its name, marked as one.
template <uint8_t T>
void add_type_test(const char* name) {
    routines::set_type_test(routines::add(name, is_type<T>), T);
}

// The typeset tests read the typeset the global word holds at each call, so
// they follow a later change of the word. The name's symbol is found once
// per start of the runtime (a runtime started again numbers symbols
// afresh), the word's index kept as a hint that the lookup checks.
template <const char* NAME>
struct NamedTypeset {
    static inline int32_t symbol = 0;
    static inline uint32_t found_at = 0;  // memory::starts when symbol was found
    static inline int32_t hint = -1;

    static bool symbol_known_q() { return symbol > 0 && found_at == memory::starts; }
    // The test once the symbol is known.
    static bool has_q(uint32_t type) {
        Node global = _context::global;
        Cell word{};
        word.w2 = uint32_t(symbol);
        int32_t index = _context::find_word_hinted(global, word, hint);
        hint = index;
        if (index < 0) return false;
        const Cell* ts = _context::value_slot(global, index);
        return type_of(ts) == TYPE_TYPESET && typeset::has_q(ts, type);
    }
    // The routine: looks the symbol up (or makes it) when needed.
    static Value test(const Value* args, int32_t) {
        uint8_t type = type_of(args[0].cell);
        if (!symbol_known_q()) {
            symbol = symbol::make(NAME);
            found_at = memory::starts;
            hint = -1;
        }
        return answer_logic(has_q(type));
    }
    // The same test without allocating, for compiled code.
    static int32_t test_in_place(uint32_t type) {
        if (!symbol_known_q()) return -1;
        return has_q(type) ? 1 : 0;
    }
    static void add(const char* name) {
        routines::set_typeset_test(routines::add(name, test), test_in_place);
    }
};

// quit-return status: ends the process at once with the status.
Value quit_return(const Value* args, int32_t) {
    const Cell* status = args[0].cell;
    int code = type_of(status) == TYPE_INTEGER ? integer::get_value(status) : 0;
    console_writer::flush();
    runtime::free_all_memory();
    std::exit(code);
}

// The runtime's error catalog object, which `system/catalog/errors` holds.
Value catalog_errors(const Value*, int32_t) { return answer(stack::push(error_catalog::errors())); }

// The global context as an object (class id -1, no change handlers).
Value global_object(const Value*, int32_t) { return answer(object::push(_context::global, -1)); }

// The current directory as a file! ending in "/", or none.
Value current_dir(const Value*, int32_t) {
    std::string path;
    for (size_t room = 256; room <= (size_t(1) << 20); room *= 2) {
        path.resize(room);
        if (::getcwd(path.data(), room)) {
            path.resize(std::char_traits<char>::length(path.c_str()));
            if (path.empty() || path.back() != '/') path += '/';
            Cell* file = string::load(reinterpret_cast<const uint8_t*>(path.data()), int32_t(path.size()), 0);
            cell::set_type(file, TYPE_FILE);
            return answer(file);
        }
    }
    return answer(none::make_at(stack::push_raw()));
}

Cell* push_text(const char* text) {
    return string::load(reinterpret_cast<const uint8_t*>(text), int32_t(std::strlen(text)), 0);
}

// The whole command line as one text, the program's name first.
Value command_line(const Value*, int32_t) {
    std::vector<std::string> arguments(runtime::record.argv, runtime::record.argv + runtime::record.argc);
    std::string text = command_line::join(arguments);
    text = unicode::valid_utf8(text.data(), text.size());
    return answer(push_text(text.c_str()));
}

// split-command-line text: a block of the arguments of the text (strings)
// and the character offset where the text after the first of them begins.
Value split_command_line(const Value* args, int32_t) {
    std::string text = url::utf8_of(args[0].cell);
    size_t rest = 0;
    std::vector<std::string> arguments = command_line::split(text, &rest);
    int32_t chars = 0;
    for (size_t i = 0; i < rest; i++) chars += (uint8_t(text[i]) & 0xC0) != 0x80;
    Cell* list = block::make_at(cell::begin(stack::push_raw()), int32_t(arguments.size()));
    for (const std::string& a : arguments)
        string::load_in(reinterpret_cast<const uint8_t*>(a.data()), int32_t(a.size()), list, 0);
    Cell* result = block::make_at(cell::begin(stack::push_raw()), 2);
    block::append_cell(result, list);
    integer::make_in(result, chars);
    return answer(result);
}

// Closing the console needs nothing on this platform.
Value nothing(const Value*, int32_t) { return answer(nullptr); }

// _bind-words block words, the library's collect's helper: the words and
// lit-words of block (deeply) spelled as one of words take that word's
// binding, as collect binds its keep and collected; nothing else in block
// changes. Answers block.
Value bind_words(const Value* args, int32_t) {
    const Cell words = *args[1].cell;
    const SeriesBuffer* b = memory::buffer_of(words.w2);
    int32_t length = memory::length_of(b);
    std::vector<Cell> named;
    for (int32_t i = std::max(int32_t(words.w1), 0); i < length; i++) {
        const Cell& c = memory::cells_head(b)[i];
        if (word::any_word_q(type_of(&c)) && c.w1) named.push_back(c);
    }
    Cell* block = stack::push(args[0].cell);
    _context::bind_named(block, named.data(), int32_t(named.size()));
    return answer(block);
}

#define ZUV_TYPESET_NAME(id, text) constexpr char id[] = text;
ZUV_TYPESET_NAME(any_list, "any-list!")
ZUV_TYPESET_NAME(any_block, "any-block!")
ZUV_TYPESET_NAME(any_function, "any-function!")
ZUV_TYPESET_NAME(any_object, "any-object!")
ZUV_TYPESET_NAME(any_path, "any-path!")
ZUV_TYPESET_NAME(any_string, "any-string!")
ZUV_TYPESET_NAME(any_word, "any-word!")
ZUV_TYPESET_NAME(series, "series!")
ZUV_TYPESET_NAME(number, "number!")
ZUV_TYPESET_NAME(immediate, "immediate!")
ZUV_TYPESET_NAME(scalar, "scalar!")
ZUV_TYPESET_NAME(all_word, "all-word!")
ZUV_TYPESET_NAME(any_point, "any-point!")
ZUV_TYPESET_NAME(planar, "planar!")
#undef ZUV_TYPESET_NAME

}  // namespace

void register_routines() {
    // Exact type tests, in their order of definition.
    add_type_test<TYPE_BITSET>("bitset?");
    add_type_test<TYPE_BINARY>("binary?");
    add_type_test<TYPE_BLOCK>("block?");
    add_type_test<TYPE_CHAR>("char?");
    add_type_test<TYPE_EMAIL>("email?");
    add_type_test<TYPE_FILE>("file?");
    add_type_test<TYPE_FLOAT>("float?");
    add_type_test<TYPE_GET_PATH>("get-path?");
    add_type_test<TYPE_GET_WORD>("get-word?");
    add_type_test<TYPE_HASH>("hash?");
    add_type_test<TYPE_INTEGER>("integer?");
    add_type_test<TYPE_ISSUE>("issue?");
    add_type_test<TYPE_LIT_PATH>("lit-path?");
    add_type_test<TYPE_LIT_WORD>("lit-word?");
    add_type_test<TYPE_LOGIC>("logic?");
    add_type_test<TYPE_MAP>("map?");
    add_type_test<TYPE_NONE>("none?");
    add_type_test<TYPE_PAIR>("pair?");
    add_type_test<TYPE_PAREN>("paren?");
    add_type_test<TYPE_PATH>("path?");
    add_type_test<TYPE_PERCENT>("percent?");
    add_type_test<TYPE_REFINEMENT>("refinement?");
    add_type_test<TYPE_SET_PATH>("set-path?");
    add_type_test<TYPE_SET_WORD>("set-word?");
    add_type_test<TYPE_STRING>("string?");
    add_type_test<TYPE_TAG>("tag?");
    add_type_test<TYPE_TIME>("time?");
    add_type_test<TYPE_TYPESET>("typeset?");
    add_type_test<TYPE_TUPLE>("tuple?");
    add_type_test<TYPE_UNSET>("unset?");
    add_type_test<TYPE_URL>("url?");
    add_type_test<TYPE_WORD>("word?");
    add_type_test<TYPE_IMAGE>("image?");
    add_type_test<TYPE_DATE>("date?");
    add_type_test<TYPE_MONEY>("money?");
    add_type_test<TYPE_REF>("ref?");
    add_type_test<TYPE_POINT2D>("point2D?");
    add_type_test<TYPE_POINT3D>("point3D?");
    add_type_test<TYPE_HANDLE>("handle?");
    add_type_test<TYPE_ERROR>("error?");
    add_type_test<TYPE_ACTION>("action?");
    add_type_test<TYPE_NATIVE>("native?");
    add_type_test<TYPE_DATATYPE>("datatype?");
    add_type_test<TYPE_FUNCTION>("function?");
    add_type_test<TYPE_OBJECT>("object?");
    add_type_test<TYPE_OP>("op?");
    add_type_test<TYPE_ROUTINE>("routine?");
    add_type_test<TYPE_VECTOR>("vector?");
    // Typeset tests.
    NamedTypeset<any_list>::add("any-list?");
    NamedTypeset<any_block>::add("any-block?");
    NamedTypeset<any_function>::add("any-function?");
    NamedTypeset<any_object>::add("any-object?");
    NamedTypeset<any_path>::add("any-path?");
    NamedTypeset<any_string>::add("any-string?");
    NamedTypeset<any_word>::add("any-word?");
    NamedTypeset<series>::add("series?");
    NamedTypeset<number>::add("number?");
    NamedTypeset<immediate>::add("immediate?");
    NamedTypeset<scalar>::add("scalar?");
    NamedTypeset<all_word>::add("all-word?");
    NamedTypeset<any_point>::add("any-point?");
    NamedTypeset<planar>::add("planar?");

    routines::add("quit-return", quit_return);
    routines::add("catalog-errors", catalog_errors);
    routines::add("global-object", global_object);
    routines::add("current-dir", current_dir);
    routines::add("command-line", command_line);
    routines::add("split-command-line", split_command_line);
    routines::add("_terminate-console", nothing);
    routines::add("_bind-words", bind_words);
    register_system_routines();
    register_codec_routines();
    register_json_routines();
    register_image_routines();
}

}  // namespace zuv::library
