// error!: making errors from codes, blocks and strings, the catalog lookups,
// the report text, and the helpers the throw uses to fill `where` and `stack`.
//
// Every function that builds an error keeps it on the data stack while it
// allocates, and copies argument cells before the first allocation (they may
// lie in buffers that a collection moves).
#include "runtime/datatypes/error.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "evaluator/actions.hpp"
#include "evaluator/backtrace.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/console_writer.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error_catalog.hpp"
#include "runtime/fire.hpp"
#include "runtime/settings.hpp"
#include "runtime/output_hooks.hpp"
#include "runtime/root.hpp"
#include "runtime/runtime.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::error {

namespace {

const char* const FIELD_NAMES[FIELD_COUNT] = {"code", "type", "id",   "arg1",  "arg2",
                                              "arg3", "near", "where", "stack", "files"};

Cell* prototype_cell = nullptr;  // a root block cell

Cell* value_in(Node ctx, int32_t index) { return _context::value_slot(ctx, index); }

// The index of the symbol among the words of ctx (canonical ids), or -1.
int32_t find_symbol(Node ctx, int32_t symbol) { return _context::find_word(ctx, symbol, true); }

const Cell* catalog() { return error_catalog::errors(); }

// The category object named by the word (its symbol), or null.
const Cell* category_object(int32_t symbol, int32_t* position) {
    const Cell* errors = catalog();
    if (type_of(errors) != TYPE_OBJECT) return nullptr;
    int32_t index = find_symbol(errors->w1, symbol);
    if (position) *position = index;
    if (index < 0) return nullptr;
    const Cell* c = value_in(errors->w1, index);
    return c && type_of(c) == TYPE_OBJECT ? c : nullptr;
}

[[noreturn]] void fire_spec_field(const char* field) {
    Cell w = word::from_c_string(field);
    fire(ErrorCategory::script, "invalid-spec-field", &w);
}

// Sets code, type and id of the error from a category word and an id word;
// raises invalid-spec-field naming the field that is wrong.
void set_type_and_id(Node ctx, const Cell* type_word, const Cell* id_word) {
    int32_t position;
    if (!type_word || type_of(type_word) != TYPE_WORD) fire_spec_field("type");
    const Cell* category = category_object(int32_t(type_word->w2), &position);
    if (!category) fire_spec_field("type");
    if (!id_word || type_of(id_word) != TYPE_WORD) fire_spec_field("id");
    int32_t id_index = find_symbol(category->w1, int32_t(id_word->w2));
    if (id_index < 2) fire_spec_field("id");  // code and type are no ids
    Cell t = *type_word, i = *id_word;
    *value_in(ctx, FIELD_TYPE) = t;
    *value_in(ctx, FIELD_ID) = i;
    integer::make_at(cell::begin(value_in(ctx, FIELD_CODE)), 100 * position + id_index - 2);
}

// The words of an error's catalog entry from its code.
void set_from_code(Node ctx, const Cell* spec) {
    int32_t code = integer::get_value(spec);
    const Cell* errors = catalog();
    int32_t position = code / 100;
    if (code < 0 || type_of(errors) != TYPE_OBJECT || position >= _context::word_count(errors->w1))
        fire(ErrorCategory::script, "out-of-range", spec);
    const Cell* category = value_in(errors->w1, position);
    int32_t id_index = code % 100 + 2;
    if (!category || type_of(category) != TYPE_OBJECT || id_index >= _context::word_count(category->w1))
        fire(ErrorCategory::script, "out-of-range", spec);
    Cell t = *object::get_word(errors->w1, position);
    Cell i = *object::get_word(category->w1, id_index);
    integer::make_at(cell::begin(value_in(ctx, FIELD_CODE)), code);
    *value_in(ctx, FIELD_TYPE) = t;
    *value_in(ctx, FIELD_ID) = i;
}

void set_near(Node ctx) {
    if (interpreter::current_position && type_of(interpreter::current_position) != TYPE_UNSET)
        *value_in(ctx, FIELD_NEAR) = *interpreter::current_position;
}

// The error made from a spec block, into the error cell (a data stack cell).
void make_from_block(Cell* error, Cell* spec) {
    Node ctx = error->w1;
    const Cell* first = block::zs_length_q(spec) > 0 ? block::zs_head(spec) : nullptr;
    uint32_t type = first ? type_of(first) : uint32_t(TYPE_NONE);
    if (type == TYPE_WORD) {
        Cell type_word = *first;
        int32_t position;
        if (!category_object(int32_t(type_word.w2), &position)) fire_spec_field("type");
        if (block::zs_length_q(spec) < 2) fire_spec_field("id");
        Cell id_word = block::zs_head(spec)[1];
        if (type_of(&id_word) != TYPE_WORD) fire(ErrorCategory::script, "invalid-arg", &id_word);
        set_type_and_id(ctx, &type_word, &id_word);
    } else if (type == TYPE_SET_WORD) {
        _context::bind_block(spec, ctx, true);
        interpreter::eval_block(spec, false);
        stack::raise_pending();
        stack::pop(1);
        Cell type_word = *value_in(ctx, FIELD_TYPE);
        Cell id_word = *value_in(ctx, FIELD_ID);
        if (type_of(&type_word) != TYPE_WORD || !category_object(int32_t(type_word.w2), nullptr))
            fire_spec_field("type");
        set_type_and_id(ctx, &type_word, &id_word);
    } else {
        fire(ErrorCategory::internal, "invalid-error");
    }
}

// ---- the report ----

int32_t text_length(const Cell* buffer) { return string::total_length(buffer); }

// Appends at most limit characters of the text from its head.
void append_limited(Cell* buffer, const Cell* text, int32_t limit) {
    int32_t n = std::min(string::total_length(text), limit);
    string::concatenate(buffer, text, n, 0, false, string::CONCAT_APPEND);
}

// A field value written into the report: formed or molded flat, cut at limit characters.
void write_value(Cell* buffer, const Cell* value, bool formed, int32_t limit, bool only) {
    Cell* v = stack::push(value);
    Cell* text = string::zs_make_at(stack::push_raw(), std::min(limit, 64));
    Cell* arg = integer::make_at(cell::begin(stack::push_raw()), limit);
    if (formed) actions::call_form(v, text, arg, limit);
    else actions::call_mold(v, text, only, false, true, arg, limit, 0);
    append_limited(buffer, text, limit);
    stack::top = v;
}

// Makes the error internal invalid-error, keeping the bad word in arg1.
void make_invalid(Node ctx, const Cell* bad) {
    Cell b = *bad;
    *value_in(ctx, FIELD_ARG1) = b;
    const Cell* errors = catalog();
    int32_t internal = int32_t(ErrorCategory::internal);
    Cell t = *object::get_word(errors->w1, internal);
    const Cell* category = value_in(errors->w1, internal);
    int32_t id = find_symbol(category->w1, int32_t(words::invalid_error.w2));
    Cell i = *object::get_word(category->w1, id);
    *value_in(ctx, FIELD_TYPE) = t;
    *value_in(ctx, FIELD_ID) = i;
}

void write_message(Cell* buffer, Node ctx) {
    int32_t position = -1;
    const Cell* type_word = value_in(ctx, FIELD_TYPE);
    const Cell* category = word::any_word_q(type_of(type_word)) ? category_object(int32_t(type_word->w2), &position)
                                                                : nullptr;
    if (!category) {
        make_invalid(ctx, type_word);
        category = category_object(int32_t(value_in(ctx, FIELD_TYPE)->w2), &position);
    }
    const Cell* id_word = value_in(ctx, FIELD_ID);
    int32_t id_index = word::any_word_q(type_of(id_word)) ? find_symbol(category->w1, int32_t(id_word->w2)) : -1;
    if (id_index < 2) {
        make_invalid(ctx, id_word);
        category = category_object(int32_t(value_in(ctx, FIELD_TYPE)->w2), &position);
        id_index = find_symbol(category->w1, int32_t(value_in(ctx, FIELD_ID)->w2));
    }
    Cell* cat = stack::push(category);
    Cell* templ = stack::push(value_in(cat->w1, id_index));
    if (type_of(templ) == TYPE_WORD) {
        int32_t field = find_symbol(ctx, int32_t(templ->w2));
        *templ = field >= 0 ? *value_in(ctx, field) : Cell{TYPE_NONE, 0, 0, 0};
    }
    write_value(buffer, value_in(cat->w1, 1), true, 0x7FFFFFFF, false);  // the title
    string::concatenate_literal(buffer, ": ");

    bool formed = position == int32_t(ErrorCategory::syntax);
    if (type_of(templ) == TYPE_STRING) {
        string::concatenate(buffer, templ, -1, 0, false, string::CONCAT_APPEND);
    } else if (type_of(templ) == TYPE_BLOCK) {
        Cell* item = stack::push_raw();
        for (int32_t i = 0; i < block::zs_length_q(templ); i++) {
            *item = block::zs_head(templ)[i];
            if (i > 0) string::concatenate_literal(buffer, " ");
            uint32_t t = type_of(item);
            if (t == TYPE_STRING) {
                string::concatenate(buffer, item, -1, 0, false, string::CONCAT_APPEND);
            } else if (t == TYPE_WORD || t == TYPE_GET_WORD) {
                int32_t field = find_symbol(ctx, int32_t(item->w2));
                if (field >= 0) write_value(buffer, value_in(ctx, field), formed, ARG_LIMIT, false);
            }
        }
    } else {
        make_invalid(ctx, value_in(ctx, FIELD_TYPE));
    }
    stack::top = cat;
}

}  // namespace

// ---- the prototype ----

void init() {
    Cell* proto = object::make_at(stack::push_raw(), FIELD_COUNT);
    for (const char* name : FIELD_NAMES) {
        Cell w{TYPE_WORD, 0, uint32_t(symbol::make(name)), uint32_t(-1)};
        Cell none{TYPE_NONE, 0, 0, 0};
        _context::put_value(proto->w1, &w, &none);
    }
    object::refresh_self(proto);
    prototype_cell = block::append_cell(&runtime::root, proto);
    stack::pop(1);
}

const Cell* prototype() { return prototype_cell; }

void set_prototype(const Cell* object) { *prototype_cell = *object; }

// ---- helpers ----

Cell* field(const Cell* error, int32_t index) { return value_in(error->w1, index); }

Cell* create(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell args[3];
    const Cell* given[3] = {arg1, arg2, arg3};
    for (int i = 0; i < 3; i++) args[i] = given[i] ? *given[i] : Cell{TYPE_NONE, 0, 0, 0};
    Cell words[2] = {*category, *id};

    Cell* error = stack::push_raw();
    datatype::make_at(error, TYPE_ERROR);
    Cell* spec = block::make_at(stack::push_raw(), 2);
    block::append_cell(spec, &words[0]);
    block::append_cell(spec, &words[1]);
    make(error, spec, TYPE_ERROR);
    for (int i = 0; i < 3; i++) *field(error, FIELD_ARG1 + i) = args[i];
    stack::top = error + 1;
    return error;
}

namespace {

// The context of a new error as object::clone copies the prototype's when
// no value of the prototype is a function (none is, unless a program put one
// there): the word table and the values copied, the self slot the copy's
// object! value. 0 when a value is a function, which clone binds anew.
Node copy_prototype() {
    Cell proto = *prototype_cell;
    Node source = proto.w1;
    SeriesBuffer* from = memory::buffer_of(_context::cell_of(source)->w2);
    int32_t n = memory::length_of(from);
    for (int32_t i = 0; i < n; i++)
        if (type_of(memory::internal_cells(from) + i) == TYPE_FUNCTION) return 0;
    int32_t words = _context::word_count(source);
    Node ctx = _context::create(words, false, true, source, _context::KIND_OBJECT);
    n = std::min(n, words);
    if (n > 0) std::memcpy(value_in(ctx, 0), value_in(source, 0), size_t(n) * sizeof(Cell));
    Cell* self = cell::begin(_context::own_value(ctx));
    self->w1 = ctx;
    self->w2 = proto.w2;
    self->w3 = proto.w3;
    cell::set_type(self, TYPE_OBJECT);
    return ctx;
}

}  // namespace

Cell* create_with_code(const Cell* category, const Cell* id, int32_t code, const Cell* arg1, const Cell* arg2,
                       const Cell* arg3) {
    Cell args[3];
    const Cell* given[3] = {arg1, arg2, arg3};
    for (int i = 0; i < 3; i++) args[i] = given[i] ? *given[i] : Cell{TYPE_NONE, 0, 0, 0};
    Cell words[2] = {*category, *id};

    // make's steps for a spec block of the two words, the code given. An
    // error runs no change handlers (its event word is cleared below), so
    // its fields are not scanned for them.
    Node ctx = copy_prototype();
    Cell* error = stack::push_raw();
    if (ctx) {
        cell::begin(error)->w1 = ctx;
        cell::set_type(error, TYPE_ERROR);
    } else {
        object::clone(prototype_cell, error, false, nullptr, false);
        cell::set_type(error, TYPE_ERROR);
        ctx = error->w1;
    }
    error->w2 = uint32_t(CLASS_ID);
    error->w3 = 0;
    // The values lie in one series, the prototype's ten fields first: the
    // fields are written from its first cell, found once.
    Cell* values = value_in(ctx, FIELD_CODE);
    values[FIELD_TYPE] = words[0];
    values[FIELD_ID] = words[1];
    integer::make_at(cell::begin(values + FIELD_CODE), code);
    for (int i = 0; i < 3; i++) values[FIELD_ARG1 + i] = args[i];
    set_near(ctx);
    stack::top = error + 1;
    return error;
}

void set_where(const Cell* error, const Cell* value) {
    Cell v = *value;
    Cell* where = field(error, FIELD_WHERE);
    if (type_of(where) == TYPE_NONE) *where = v;
}

void set_stack_position(const Cell* error, int32_t position) {
    Cell* stack = field(error, FIELD_STACK);
    if (type_of(stack) != TYPE_BLOCK) integer::make_at(cell::begin(stack), position);
}

int32_t get_type(const Cell* error) {
    const Cell* t = field(error, FIELD_TYPE);
    return word::any_word_q(type_of(t)) ? int32_t(t->w2) : 0;
}

int32_t get_id(const Cell* error) {
    const Cell* i = field(error, FIELD_ID);
    return word::any_word_q(type_of(i)) ? int32_t(i->w2) : 0;
}

int32_t stack_trace_setting() {
    Cell setting;
    if (!settings::get(settings::Field::stack_trace, &setting)) return 1;
    return type_of(&setting) == TYPE_INTEGER ? integer::get_value(&setting) : 0;
}

void fill_stack(const Cell* value) {
    if (type_of(value) != TYPE_ERROR) return;
    Cell* error = stack::push(value);
    const Cell* position = field(error, FIELD_STACK);
    if (type_of(position) != TYPE_INTEGER) {
        stack::top = error;
        return;
    }
    int32_t at = integer::get_value(position);
    int32_t setting = stack_trace_setting();
    int32_t depth = setting > 0 ? setting : 1;
    Cell* calls = block::make_at(stack::push_raw(), 20);
    if (at >= 0 && at <= stack::MAX_FRAMES) stack::collect_call_words(depth, calls, stack::frame_at_position(at));
    *field(error, FIELD_STACK) = *calls;
    // The copy of the source files takes the slot of the calls: after a
    // stack overflow only a few cells are free. (The system object keeps the
    // files' block alive while it is copied.)
    Cell files;
    if (settings::get(settings::Field::source_files, &files) && type_of(&files) == TYPE_BLOCK &&
        block::zs_length_q(&files) > 0) {
        block::copy(&files, calls, nullptr, false, nullptr);
        *field(error, FIELD_FILES) = *calls;
    }
    stack::top = error;
}

// ---- make ----

Cell* make(Cell* proto, Cell* spec, int32_t) {
    Cell* sp = stack::push(spec);
    Cell* error = stack::push_raw();
    object::clone(prototype_cell, error, false, nullptr, true);
    cell::set_type(error, TYPE_ERROR);
    error->w2 = uint32_t(CLASS_ID);
    error->w3 = 0;
    Node ctx = error->w1;
    switch (type_of(sp)) {
    case TYPE_INTEGER:
        set_from_code(ctx, sp);
        set_near(ctx);
        break;
    case TYPE_BLOCK:
        make_from_block(error, sp);
        set_near(ctx);
        break;
    case TYPE_STRING: {
        const Cell* errors = catalog();
        int32_t user = int32_t(ErrorCategory::user);
        Cell t = *object::get_word(errors->w1, user);
        Cell i = *object::get_word(value_in(errors->w1, user)->w1, 2);
        *error = *create(&t, &i, sp, nullptr, nullptr);
        break;
    }
    default: fire_with_datatype("bad-make-arg", TYPE_ERROR, sp);
    }
    *proto = *error;
    stack::top = sp;
    return proto;
}

// ---- text ----

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    // Each field is copied to the data stack before it is used: forming a
    // value grows the buffer, which may collect and move the error's context.
    Cell* error = stack::push(value);
    Node ctx = error->w1;
    Cell* field_value = stack::push_raw();
    int32_t before = text_length(buffer);
    string::concatenate_literal(buffer, "*** ");
    write_message(buffer, ctx);

    string::concatenate_literal(buffer, "\n*** Where: ");
    *field_value = *value_in(ctx, FIELD_WHERE);
    if (type_of(field_value) == TYPE_WORD) write_value(buffer, field_value, true, 0x7FFFFFFF, false);
    else if (type_of(field_value) == TYPE_STRING)
        string::concatenate(buffer, field_value, -1, 0, false, string::CONCAT_APPEND);
    else string::concatenate_literal(buffer, "???");

    // A near given as text (the line being read when no code ran) shows as it was typed.
    string::concatenate_literal(buffer, "\n*** Near : ");
    *field_value = *value_in(ctx, FIELD_NEAR);
    if (type_of(field_value) == TYPE_STRING) append_limited(buffer, field_value, NEAR_LIMIT);
    else write_value(buffer, field_value, false, NEAR_LIMIT, true);

    int32_t setting = stack_trace_setting();
    *field_value = *value_in(ctx, FIELD_STACK);
    uint32_t trace_type = type_of(field_value);
    if (setting > 0 && (trace_type == TYPE_INTEGER || trace_type == TYPE_BLOCK)) {
        // A position (an error caught without its stack kept) names frames
        // that were unwound when it was caught: there is nothing to list.
        string::concatenate_literal(buffer, "\n*** Stack: ");
        if (trace_type == TYPE_BLOCK) write_value(buffer, field_value, true, 0x7FFFFFFF, false);
    }
    *field_value = *value_in(ctx, FIELD_FILES);
    if (type_of(field_value) == TYPE_BLOCK) {
        string::concatenate_literal(buffer, "\n*** Files: ");
        write_value(buffer, field_value, false, NEAR_LIMIT, true);
    }
    stack::top = error;
    return part - (text_length(buffer) - before);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    Cell* error = stack::push(value);
    if (!only) {
        string::concatenate_literal(buffer, "make error! [");
        part -= 13;
    }
    part = object::serialize(error, buffer, only, all, flat, arg, part, true, indent + 1, true);
    for (int32_t i = 0; i < indent; i++) string::concatenate_literal(buffer, "    ");
    if (indent > 0) part -= 4 * indent;
    if (!only) {
        string::concatenate_literal(buffer, "]");
        part--;
    }
    stack::top = error;
    return part;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t index,
                bool case_q, bool get_q, bool tail_q, bool evalp_q) {
    return object::eval_path(parent, element, value, path, gparent, p_item, index, case_q, get_q, tail_q, evalp_q);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_ERROR) return COMPARE_INCOMPARABLE;
    Cell* other = stack::push(value2);
    cell::set_type(other, TYPE_OBJECT);
    int32_t result = object::compare(value1, other, op);
    stack::top = other;
    return result;
}

// ---- the uncaught report ----

void report_uncaught(const Cell* error) {
    // An error value without a context (made by hand), or a second error
    // raised while the report is formed, is reported from the pending record.
    static bool reporting = false;
    if (reporting || type_of(error) != TYPE_ERROR || error->w1 == 0) {
        const PendingError& e = runtime::pending_error();
        std::string line = "*** ";
        line += error_catalog::category(e.category).title;
        line += ": ";
        line += e.id;
        runtime::print_line(line.c_str());
        console_writer::flush();
        std::exit(-2);
    }
    reporting = true;
    // Nothing on the data stack is needed any more, and an overflow may have
    // filled it: the report starts from its bottom.
    Cell value = *error;
    stack::top = stack::bottom;
    Cell* e = stack::push(&value);
    // The frames the error's position names were unwound just now, not yet overwritten.
    fill_stack(e);
    Cell* text = string::zs_make_at(stack::push_raw(), 256);
    form(e, text, nullptr, 0x7FFFFFFF);
    output_hooks::print_value(text, true);
    console_writer::flush();
    std::exit(-2);
}

// ---- registration ----

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &error::make>,            // 1
    INHERIT,                                  // 2 random (object! has none)
    INHERIT,                                  // 3 reflect
    INHERIT,                                  // 4 to (object! has none)
    slot<Act::form, &error::form>,            // 5
    slot<Act::mold, &error::mold>,            // 6
    slot<Act::eval_path, &error::eval_path>,  // 7
    NONE,                                     // 8
    slot<Act::compare, &error::compare>,      // 9
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 10-19
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 20-29
    INHERIT,                                  // 30 copy
    INHERIT,                                  // 31 find (object! has none)
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 32-40
    NONE, NONE, NONE,                         // 41 put, 42-43
    INHERIT,                                  // 44 select
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 45-54
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 55 modify, 56-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_ERROR, TYPE_OBJECT, "error!", row); }

}  // namespace zuv::error
