#include "runtime/datatypes/word.hpp"

#include "evaluator/stack.hpp"

#include <string>

#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/fire.hpp"
#include "runtime/init.hpp"
#include "runtime/root.hpp"
#include "runtime/words.hpp"

namespace zuv::word {

ScanHooks scan_hooks{nullptr, nullptr};

namespace {

// Under the boot flag, a word made from a name is also kept in the root block.
Cell boot_copy(Cell w) {
    if (runtime::boot_flag) copy_to_root(&w);
    return w;
}

Cell from_c_string_as(const char* name, uint32_t type) {
    Cell w = find_or_add_global(symbol::make(name), true, true);
    cell::set_type(&w, type);
    return boot_copy(w);
}

Cell* append_from_c_string_as(const char* name, const Cell* block, uint32_t type) {
    return cell::set_type(append_from_c_string(name, block), type);
}

// out := the one value that a string's text loads as; it must be a word.
// False when it is not: invalid-chars is raised as a status.
bool load_word(const Cell* str, Cell* out) {
    // Scanning belongs to the lexer: without it, text cannot become a word.
    if (!scan_hooks.scan_one_value) fire_not_done();
    Cell text = *str;
    scan_hooks.scan_one_value(&text, out);
    if (stack::pending()) return false;  // a syntax error, raised as a status
    if (any_word_q(type_of(out))) return true;
    raise(ErrorCategory::script, "invalid-chars");
    return false;
}

bool plain_word_q(int32_t type) {
    return type == TYPE_WORD || type == TYPE_SET_WORD || type == TYPE_GET_WORD || type == TYPE_LIT_WORD;
}

// Names compared as text under op: -1, 0 or 1.
int32_t compare_names(int32_t s1, int32_t s2, int32_t op) {
    Cell a, b;
    symbol::name_string_at(s1, &a);
    symbol::name_string_at(s2, &b);
    return string::compare_text(&a, &b, op, false);
}

}  // namespace

// ---- making words in the global context ----

Cell find_or_add_global(int32_t symbol, bool by_canonical, bool variant_copy) {
    Node g = _context::global;
    int32_t index;
    if (_context::add_symbol(g, symbol, by_canonical, &index) >= 0) {
        Cell w = *_context::get_word_cell(g, index);
        // Found through another spelling: the caller's spelling, same slot.
        if (variant_copy && int32_t(w.w2) != symbol) w.w2 = uint32_t(symbol);
        return w;
    }
    if (symbol::alias_of(symbol) > 0) {
        // A case variant shares the value slot of the earliest spelling present.
        int32_t shared = _context::find_word(g, symbol, true);
        _context::get_word_cell(g, index)->w3 = uint32_t(shared);
    }
    cell::alloc_tail_cell(_context::cell_of(g)->w2);  // values and words stay in step
    return *_context::get_word_cell(g, index);
}

Cell make_global(int32_t symbol) { return boot_copy(find_or_add_global(symbol, false, true)); }

Cell from_c_string(const char* name) { return from_c_string_as(name, TYPE_WORD); }

Cell* make_at(int32_t symbol, Cell* cell) {
    Cell probe{TYPE_WORD, 0, uint32_t(symbol), uint32_t(-1)};
    int32_t index = _context::add_word(_context::global, &probe);
    cell->header = (cell->header & ~TYPE_MASK) | TYPE_UNSET;
    cell->w1 = _context::global;
    cell->w2 = uint32_t(symbol);
    cell->w3 = uint32_t(index);
    return cell::set_type(cell, TYPE_WORD);
}

Cell* append_new(int32_t symbol, const Cell* block) {
    Cell w;
    cell::begin(&w);
    make_at(symbol, &w);
    Cell* c = cell::append_new_cell(block);
    *c = w;
    return c;
}

Cell* append_from_c_string(const char* name, const Cell* block) {
    Cell target = *block;  // interning may move the series the block value lies in
    return append_new(symbol::make(name), &target);
}

Cell* copy_to_root(const Cell* cell) {
    Cell v = *cell;
    Cell* c = cell::alloc_tail_cell(runtime::root.w2);
    *c = v;
    return c;
}

// ---- values through words ----

Cell* value_cell_in(const Cell* word, Node ctx) {
    int32_t index = int32_t(word->w3);
    if (index == -1) {
        if (int32_t(word->w2) == sym::self && word->w1 != 0) return _context::own_value(word->w1);
        fire(ErrorCategory::script, "no-value", word);
    }
    Cell* slot = ctx ? _context::value_slot(ctx, index) : nullptr;
    if (!slot) fire(ErrorCategory::script, "not-in-context", word);
    return slot;
}

Cell* value_cell(const Cell* word) { return value_cell_in(word, word->w1); }

Cell* get(const Cell* word, Cell* out) {
    const Cell* v = value_cell(word);
    if (type_of(v) == TYPE_UNSET) fire(ErrorCategory::script, "no-value", word);
    return copy_cell(v, out);
}

Cell* get_any(const Cell* word, Cell* out) { return copy_cell(value_cell(word), out); }

int32_t set(Cell* word, const Cell* value) {
    if (word->w1 == 0) fire(ErrorCategory::script, "not-defined", word);
    return _context::set_in(word, value, word->w1, true);
}

int32_t set_integer(Cell* word, int32_t value) {
    Node ctx = word->w1;
    int32_t index = int32_t(word->w3);
    if (index == -1 && ctx) index = _context::find_word(ctx, int32_t(word->w2), false);
    Cell* slot = ctx ? _context::value_slot(ctx, index) : nullptr;
    if (!slot) fire(ErrorCategory::script, "not-defined", word);
    integer::make_at(cell::begin(slot), value);
    return value;
}

Cell* get_in(Node ctx, int32_t index) { return _context::value_slot(ctx, index); }

Cell* symbol_cell(const Cell* word) { return symbol::get_cell(int32_t(word->w2)); }

Cell* name_string(const Cell* word, Cell* out) { return symbol::name_string_at(int32_t(word->w2), out); }

Cell* index_of(const Cell* word, Cell* out) {
    int32_t index = int32_t(word->w3);
    if (index == -1) return none::make_at(out);
    return integer::make_at(cell::begin(out), index + 1);
}

// index? of a word: its position in its context, counted from 1.
void index_q() { index_of(stack::arguments, stack::arguments); }

int32_t load_name(const Cell* word) {
    if (!scan_hooks.load_name) fire_not_done();
    int32_t s = int32_t(word->w2);
    std::string name(reinterpret_cast<const char*>(symbol::name_of(s)), size_t(symbol::name_length(s)));
    return scan_hooks.load_name(reinterpret_cast<const uint8_t*>(name.data()), int32_t(name.size()));
}

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    Cell s = *spec;
    switch (type_of(&s)) {
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD:
        *proto = s;  // binding kept
        break;
    case TYPE_ISSUE: case TYPE_REFINEMENT:
        if (!plain_word_q(load_name(&s))) return raise_bad_to_arg(type, &s);
        _context::bind_word(_context::global, &s);
        *proto = s;
        break;
    case TYPE_STRING:
        if (!load_word(&s, proto)) return nullptr;
        break;
    case TYPE_CHAR: {
        Cell text;
        string::zs_make_at(&text, 1);
        string::append_char(&text, s.w2);
        if (!load_word(&text, proto)) return nullptr;
        break;
    }
    case TYPE_DATATYPE: {
        int32_t named = datatype::get_value(&s);
        if (!datatype::known_q(named)) return raise_bad_to_arg(type, &s);
        Cell w = datatype::type_names[named].word;
        if (type_of(&w) != TYPE_WORD) w = from_c_string(datatype::type_names[named].name);
        *proto = w;
        break;
    }
    case TYPE_LOGIC:
        make_at(s.w1 ? sym::true_ : sym::false_, cell::begin(proto));
        break;
    default: return raise_bad_to_arg(type, &s);
    }
    return cell::set_type(proto, uint32_t(type));
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    Cell name;
    symbol::name_string_at(int32_t(value->w2), &name);
    return string::form(&name, buffer, arg, part);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint32_t t1 = type_of(value1), t2 = type_of(value2);
    if (!any_word_q(t2) || (t2 == TYPE_ISSUE && t1 != TYPE_ISSUE)) return COMPARE_INCOMPARABLE;
    int32_t s1 = int32_t(value1->w2), s2 = int32_t(value2->w2);
    bool canonical_equal = symbol::resolve(s1) == symbol::resolve(s2);
    bool word_and_lit = (t1 == TYPE_WORD && t2 == TYPE_LIT_WORD) || (t1 == TYPE_LIT_WORD && t2 == TYPE_WORD);
    bool match;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_FIND: match = canonical_equal; break;
    case COMP_STRICT_EQUAL: match = t1 == t2 && s1 == s2; break;
    case COMP_SAME: match = s1 == s2 && value1->w1 == value2->w1 && t1 == t2; break;
    case COMP_STRICT_EQUAL_WORD: match = (word_and_lit || t1 == t2) && s1 == s2; break;
    case COMP_EQUAL_WORD: match = (word_and_lit || t1 == t2) && canonical_equal; break;
    default: return compare_names(s1, s2, op);
    }
    return match ? 0 : 1;
}

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &word::make>,
    NONE,                                                        // random
    NONE,                                                        // reflect
    slot<Act::to, &word::make>,
    slot<Act::form, &word::form>,
    slot<Act::mold, &word::mold>,
    NONE, NONE,                                                  // eval-path, (never filled)
    slot<Act::compare, &word::compare>,
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 21-30
    NONE, NONE, NONE,                                            // 31-33
    slot<Act::index_q, &word::index_q>,
    NONE, NONE, NONE, NONE, NONE, NONE,                          // 35-40
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 41-50
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 51-60
    NONE, NONE,                                                  // 61-62
};
ZUV_CHECK_ROW(row);

// A child of word! with its own mold: make, to, form, compare and index? inherited.
template <auto Mold>
constexpr auto child_row = [] {
    struct Row { SlotEntry entries[62]; } r{};
    for (auto& e : r.entries) e = NONE;
    r.entries[int(Act::make) - 1] = INHERIT;
    r.entries[int(Act::to) - 1] = INHERIT;
    r.entries[int(Act::form) - 1] = INHERIT;
    r.entries[int(Act::mold) - 1] = slot<Act::mold, Mold>;
    r.entries[int(Act::compare) - 1] = INHERIT;
    r.entries[int(Act::index_q) - 1] = INHERIT;
    return r;
}();

}  // namespace

void register_type() { datatype::register_type(TYPE_WORD, TYPE_SYMBOL, "word!", row); }

}  // namespace zuv::word

// ---- the other members of the family ----

namespace zuv {

namespace {

// Writes a one-character prefix, then the name with one less to go.
int32_t mold_prefixed(uint32_t prefix, Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    Cell v = *value;
    string::append_char(buffer, prefix);
    return word::form(&v, buffer, arg, part - 1);
}

}  // namespace

namespace lit_word {
Cell from_c_string(const char* name) { return word::from_c_string_as(name, TYPE_LIT_WORD); }
Cell* append_from_c_string(const char* name, const Cell* block) {
    return word::append_from_c_string_as(name, block, TYPE_LIT_WORD);
}
int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return mold_prefixed('\'', value, buffer, arg, part);
}
void register_type() {
    static constexpr auto row = word::child_row<&lit_word::mold>;
    ZUV_CHECK_ROW(row.entries);
    datatype::register_type(TYPE_LIT_WORD, TYPE_WORD, "lit-word!", row.entries);
}
}  // namespace lit_word

namespace set_word {
Cell from_c_string(const char* name) { return word::from_c_string_as(name, TYPE_SET_WORD); }
Cell* append_from_c_string(const char* name, const Cell* block) {
    return word::append_from_c_string_as(name, block, TYPE_SET_WORD);
}
int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    Cell v = *value;
    int32_t left = word::form(&v, buffer, arg, part);
    string::append_char(buffer, ':');
    return left - 1;
}
void register_type() {
    static constexpr auto row = word::child_row<&set_word::mold>;
    ZUV_CHECK_ROW(row.entries);
    datatype::register_type(TYPE_SET_WORD, TYPE_WORD, "set-word!", row.entries);
}
}  // namespace set_word

namespace get_word {
Cell from_c_string(const char* name) { return word::from_c_string_as(name, TYPE_GET_WORD); }
Cell* append_from_c_string(const char* name, const Cell* block) {
    return word::append_from_c_string_as(name, block, TYPE_GET_WORD);
}
int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return mold_prefixed(':', value, buffer, arg, part);
}
void register_type() {
    static constexpr auto row = word::child_row<&get_word::mold>;
    ZUV_CHECK_ROW(row.entries);
    datatype::register_type(TYPE_GET_WORD, TYPE_WORD, "get-word!", row.entries);
}
}  // namespace get_word

namespace refinement {
Cell make_from_name(const char* name) {
    Cell r;
    word::make_bound(&r, TYPE_REFINEMENT, 0, symbol::make(name), -1);
    word::copy_to_root(&r);
    return r;
}
Cell* append_from_c_string(const char* name, const Cell* block) {
    return word::append_from_c_string_as(name, block, TYPE_REFINEMENT);
}
int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return mold_prefixed('/', value, buffer, arg, part);
}
void register_type() {
    static constexpr auto row = [] {
        auto r = word::child_row<&refinement::mold>;
        r.entries[int(Act::index_q) - 1] = NONE;  // a refinement has no position
        return r;
    }();
    ZUV_CHECK_ROW(row.entries);
    datatype::register_type(TYPE_REFINEMENT, TYPE_WORD, "refinement!", row.entries);
}
}  // namespace refinement

// ---- context slots by index ----

namespace _context {

Cell* node_word_at(Node ctx, int32_t index) { return get_word_cell(ctx, index); }

Cell word_for_symbol(Node ctx, int32_t symbol) {
    int32_t index = find_word(ctx, symbol, false);
    if (index < 0) return word::make_global(symbol);
    Cell w = *get_word_cell(ctx, index);
    w.w1 = ctx;  // a function context may read the word table of the one it was copied from
    w.w2 = uint32_t(symbol);  // a global case variant shares its slot but keeps its spelling
    return w;
}

namespace {

// A context without values (or an index beyond its words) names the entry in its error.
[[noreturn]] void not_defined(Node ctx, int32_t index) {
    if (index < 0 || index >= word_count(ctx)) fire(ErrorCategory::script, "not-defined");
    Cell entry = *get_word_cell(ctx, index);
    fire(ErrorCategory::script, "not-defined", &entry);
}

}  // namespace

Cell* copy_value(Node ctx, int32_t index, Cell* out) {
    const Cell* slot = value_slot(ctx, index);
    if (!slot) not_defined(ctx, index);
    return copy_cell(slot, out);
}

void set_value(Node ctx, int32_t index, const Cell* value) {
    Cell* slot = value_slot(ctx, index);
    if (!slot) not_defined(ctx, index);
    if (kind_of(cell_of(ctx)) == KIND_OBJECT) get_word_cell(ctx, index)->header |= WORD_CHANGED;
    copy_cell(value, slot);
}

void swap_value(Node ctx, int32_t index, const Cell* value, Cell* old) {
    Cell v = *value;
    copy_value(ctx, index, old);
    set_value(ctx, index, &v);
}

}  // namespace _context

}  // namespace zuv
