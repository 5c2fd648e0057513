// object!: the cell helpers, make, copy, construct and the registration.
//
// Work in progress lives on the data stack (which never moves and which the
// collector marks): an object being built is a pushed cell, so its context
// and every buffer reachable from it survive the allocations of copying and
// the evaluation of a spec block. Loops over a context's values hold the
// context node and an index, never a Cell* across an allocation.
#include "runtime/datatypes/object.hpp"

#include <algorithm>
#include <string_view>

#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/ownership.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::object {

namespace {

int32_t class_counter = FIRST_RUNTIME_CLASS_ID;

const Cell NONE_VALUE{TYPE_NONE, 0, 0, 0};

// The helpers of every loop over a context's values, in line: a call each
// would cost more than the look-up it makes.
[[gnu::always_inline]] inline Node values_node(Node ctx) { return _context::cell_of(ctx)->w2; }

[[gnu::always_inline]] inline int32_t values_length(Node ctx) {
    Node values = values_node(ctx);
    return values ? memory::length_of(memory::buffer_of(values)) : 0;
}

[[gnu::always_inline]] inline Cell* value_at(Node ctx, int32_t index) { return memory::internal_cells(memory::buffer_of(values_node(ctx))) + index; }

// The series values that make copies deeply (from a prototype or a spec object).
bool made_copy_q(uint32_t type) {
    switch (type) {
    case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_VECTOR: case TYPE_BINARY: case TYPE_IMAGE:
        return true;
    default: return false;
    }
}

// The values that a deep clone without types copies; hash!, vector!,
// binary!, image! and map! values stay shared there.
bool cloned_copy_q(uint32_t type) {
    switch (type) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
    case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        return true;
    default: return false;
    }
}

// Replaces value index of ctx by its deep copy (through the copy action of
// its type; a type without one stays shared). With bind_to the copy is
// bound to that context.
void deep_copy_value(Node ctx, int32_t index, Node bind_to) {
    Cell* original = stack::push(value_at(ctx, index));
    auto copy = get_slot<Act::copy>(type_of(original));
    if (copy) {
        Cell* copied = stack::push_raw();
        cell::begin(copied);
        copy(original, copied, nullptr, true, nullptr);
        // The copy keeps the flag bits (the new-line marker) of the cell it replaces.
        Cell* slot = value_at(ctx, index);
        copied->header = (copied->header & TYPE_MASK) | (slot->header & ~TYPE_MASK);
        // Code and lookup tables bind to the new object.
        if (bind_to && series::any_block_q(type_of(copied))) _context::bind_block(copied, bind_to, true);
        *value_at(ctx, index) = *copied;
    }
    stack::top = original;
}

// The node of a function's argument cache, or 0 while none is built.
Node cache_of(const Cell* fn) {
    const Cell* cache = function::more_cell(fn, native::MORE_ARG_CACHE);
    return cache && type_of(cache) == TYPE_BLOCK ? cache->w2 : 0;
}

// A function! held in an object, made again for the object's context: the
// same spec, a copy of its own context and a deep copy of its body, bound to
// the object (self included) and then to the copied function context. With
// ctx_was, the context whose word table the object's copies (0 when none
// does), the body's words bound there keep their index.
// Function layout: word 1 its context, word 2 its spec's node, word 3 the
// node of its 5-cell more block (body, argument cache, entry, op copy, owner).
void rebind_function(Node ctx, int32_t index, Node ctx_was) {
    Cell* fn = stack::push(value_at(ctx, index));
    // A function with no spec series, or one that starts with none, cannot be
    // made again. An empty spec is a function without arguments (does, func []).
    SeriesBuffer* spec = fn->w2 ? memory::buffer_of(fn->w2) : nullptr;
    if (!spec || (memory::length_of(spec) > 0 && type_of(memory::cells_head(spec)) == TYPE_NONE))
        fire(ErrorCategory::script, "bad-func-def", fn);
    if (!fn->w1 || !fn->w3) {  // no context or no body to make again
        stack::top = fn;
        return;
    }

    // The argument cache says what the spec says, and the spec is shared:
    // the function made again shares the original's cache (the more block's
    // copy below keeps it), built for the original first when it has never
    // been called, so that the calls of every copy are compiled from their
    // first run and read one decoding. The spec was checked when the
    // function was made.
    if (!cache_of(fn)) interpreter::build_arg_cache(fn);

    Cell* fresh = stack::push(fn);
    Node fn_ctx_was = fn->w1;
    Node fn_ctx = _context::renew_for(fresh, _context::KIND_FUNCTION);
    Node more = memory::copy_series_buffer(fn->w3);
    fresh->w3 = more;
    Cell* body = stack::push(memory::cells_head(memory::buffer_of(fn->w3)));
    Cell* body_copy = cell::begin(stack::push_raw());
    _context::copy_rebound(body, body_copy, ctx, ctx_was, fn_ctx, fn_ctx_was);
    memory::internal_cells(memory::buffer_of(more))[0] = *body_copy;
    *_context::own_value(fn_ctx) = *fresh;
    *value_at(ctx, index) = *fresh;
    stack::top = fn;
}

void rebind_functions(Node ctx, Node ctx_was) {
    for (int32_t i = 0, n = values_length(ctx); i < n; i++)
        if (type_of(value_at(ctx, i)) == TYPE_FUNCTION) rebind_function(ctx, i, ctx_was);
}

// Clears every changed mark of the context's words.
void clear_changed_marks(Node ctx) {
    SeriesBuffer* words = _context::get_words_buffer(ctx);
    Cell* word = memory::internal_cells(words);
    for (int32_t i = 0, n = memory::length_of(words); i < n; i++) word[i].header &= ~_context::WORD_CHANGED;
}

// Copies the values of ctx whose types are in the typeset, or of the
// datatype (series, object!, error!, map! and bitset! values), through their
// copy action. A deep copy hands the typeset on, so nested copies copy only
// the same types.
void copy_values_of_types(Node ctx, bool deep, const Cell* types) {
    Cell wanted = *types;
    bool by_datatype = type_of(&wanted) == TYPE_DATATYPE;
    for (int32_t i = 0, n = values_length(ctx); i < n; i++) {
        uint32_t type = type_of(value_at(ctx, i));
        bool in = by_datatype ? type == wanted.w1 : rt_support::typeset_has_q(&wanted, type);
        if (!in) continue;
        bool copied_kind = type == TYPE_OBJECT || type == TYPE_ERROR || type == TYPE_MAP || type == TYPE_BITSET ||
                           (type >= TYPE_BLOCK && type <= TYPE_URL) || type == TYPE_HASH || type == TYPE_VECTOR ||
                           type == TYPE_BINARY || type == TYPE_TAG || type == TYPE_EMAIL || type == TYPE_REF ||
                           type == TYPE_IMAGE || (type >= TYPE_PATH && type <= TYPE_GET_PATH);
        if (!copied_kind) continue;
        auto copy = get_slot<Act::copy>(type);
        if (!copy) continue;
        // The call's cells as the action entries lay them out: the value,
        // the /types argument above it, then the destination.
        Cell* original = stack::push(value_at(ctx, i));
        Cell* types_arg = deep ? stack::push(&wanted) : nullptr;
        Cell* copied = cell::begin(stack::push_raw());
        copy(original, copied, nullptr, deep, types_arg);
        Cell* slot = value_at(ctx, i);
        copied->header = (copied->header & TYPE_MASK) | (slot->header & ~TYPE_MASK);
        *value_at(ctx, i) = *copied;
        stack::top = original;
    }
}

// The symbol of a word! value given to construct, when it names a logic or none value.
bool construct_literal(const Cell* value, Cell* out) {
    if (type_of(value) != TYPE_WORD) return false;
    int32_t s = symbol::resolve(int32_t(value->w2));
    if (s == sym::true_ || s == sym::yes || s == sym::on) {
        logic::make_at(out, true);
        return true;
    }
    if (s == sym::false_ || s == sym::no || s == sym::off) {
        logic::make_at(out, false);
        return true;
    }
    if (s == sym::none) {
        none::make_at(out);
        return true;
    }
    return false;
}

}  // namespace

// ---- helpers ----

int32_t new_class_id() { return ++class_counter; }

namespace {

bool numbering_library = false;
int32_t library_counter = FIRST_LIBRARY_CLASS_ID - 1;

bool fixed_class_q(int32_t id) {
    for (const FixedClass& f : FIXED_LIBRARY_CLASSES)
        if (f.id == id && !f.source) return true;
    return false;
}

// The class id of an object about to be made from a block: the library's
// next number while start-up defines it, else 0 (a run-time id is taken).
int32_t literal_class_id() {
    if (!numbering_library) return 0;
    do ++library_counter;
    while (fixed_class_q(library_counter));
    return library_counter;
}

}  // namespace

void number_library_classes(bool on) { numbering_library = on; }

void library_source_begins(const char* source) {
    for (const FixedClass& f : FIXED_LIBRARY_CLASSES)
        if (f.source && std::string_view(source).ends_with(f.source))
            library_counter = std::max(library_counter, f.id - 1);
}

void set_class(Cell* object, int32_t class_id) {
    object->w2 = uint32_t(class_id);
    Cell* own = _context::own_value(object->w1);
    if (type_of(own) == TYPE_OBJECT && own->w1 == object->w1) own->w2 = uint32_t(class_id);
}

void refresh_self(const Cell* object) { *_context::own_value(object->w1) = *object; }

Cell* push(Node ctx, int32_t class_id) {
    Node values = values_node(ctx);
    int32_t words = _context::word_count(ctx);
    if (values && memory::length_of(memory::buffer_of(values)) == 0 && words > 0) {
        SeriesBuffer* b = memory::buffer_of(values);
        int64_t needed = int64_t(b->head) + int64_t(words) * 16;
        if (needed > b->size) b = memory::expand_series(values, needed);
        Cell* first = memory::internal_cells(b);
        for (int32_t i = 0; i < words; i++) cell::begin(first + i);
        b->tail = b->head + words * 16;
    }
    return push_full(ctx, 0, class_id);
}

Cell* push_full(Node ctx, Node event_info, int32_t class_id) {
    Cell* c = cell::begin(stack::push_raw());
    c->w1 = ctx;
    c->w2 = uint32_t(class_id);
    c->w3 = event_info;
    cell::set_type(c, TYPE_OBJECT);
    refresh_self(c);
    return c;
}

void init_events(Node ctx, int32_t on_change_index, int32_t on_change_locals, int32_t deep_index,
                 int32_t deep_locals) {
    Node info = make_event_info(on_change_index, on_change_locals, deep_index, deep_locals, 0, 0);
    Cell* object = stack::get_top_value();
    object->w3 = info;
    if (on_deep_change_q(object)) {
        ownership::set_owner(object, object, nullptr);  // owns its own values
        _context::cell_of(ctx)->header |= CONTEXT_OWNER;
    }
    refresh_self(object);
}

Cell* make_at(Cell* cell, int32_t size) {
    Node ctx = _context::create(size, false, true, 0, _context::KIND_OBJECT);
    cell::begin(cell)->w1 = ctx;
    cell::set_type(cell, TYPE_OBJECT);
    refresh_self(cell);
    return cell;
}

Cell* get_word(Node ctx, int32_t i) { return _context::get_word_cell(ctx, i); }

Cell* get_values(const Cell* object) { return memory::internal_cells(memory::buffer_of(values_node(object->w1))); }

Cell* first_word(const Cell* object) { return get_word(object->w1, 0); }

int32_t words_count(const Cell* object) { return _context::word_count(object->w1); }

int32_t find_word_index(const Cell* object, const Cell* word) {
    return _context::find_word(object->w1, int32_t(word->w2), true);
}

const Cell* get_field(const Cell* object, const Cell* word) {
    int32_t index = find_word_index(object, word);
    if (index < 0) return &NONE_VALUE;
    const Cell* slot = _context::value_slot(object->w1, index);
    return slot ? slot : &NONE_VALUE;
}

bool word_of_class_q(const Cell* word, int32_t class_id) {
    const Cell* v = word::value_cell(word);
    return type_of(v) == TYPE_OBJECT && int32_t(v->w2) == class_id;
}

bool slot_of_class_q(Node ctx, int32_t index, int32_t class_id) {
    const Cell* v = _context::value_slot(ctx, index);
    return v && type_of(v) == TYPE_OBJECT && int32_t(v->w2) == class_id;
}

// ---- clone ----

void clone(const Cell* source, Cell* destination, bool deep, const Cell* types, bool rescan) {
    Cell* src = stack::push(source);
    Node source_ctx = src->w1;
    int32_t words = _context::word_count(source_ctx);
    Node ctx = _context::create(words, false, true, source_ctx, _context::KIND_OBJECT);

    Cell* result = cell::begin(stack::push_raw());
    result->w1 = ctx;
    result->w2 = src->w2;
    result->w3 = rescan ? 0 : src->w3;
    cell::set_type(result, TYPE_OBJECT);
    refresh_self(result);

    // One block copy of every value cell, then the fix-ups.
    int32_t n = std::min(values_length(source_ctx), words);
    std::memcpy(value_at(ctx, 0), value_at(source_ctx, 0), size_t(n) * sizeof(Cell));

    bool typed = types && type_of(types) != TYPE_NONE && type_of(types) != TYPE_UNSET;
    if (deep && !typed) {
        for (int32_t i = 0; i < n; i++) {
            uint32_t type = type_of(value_at(ctx, i));
            if (cloned_copy_q(type)) deep_copy_value(ctx, i, 0);
            else if (type == TYPE_FUNCTION) rebind_function(ctx, i, source_ctx);
        }
    } else {
        rebind_functions(ctx, source_ctx);
        if (typed) {
            // The source stays on the cycle stack while its values are
            // copied, and leaves it however the copy ends.
            struct Entered {
                int32_t depth = cycles::depth();
                ~Entered() {
                    if (cycles::depth() > depth) cycles::drop(cycles::depth() - depth);
                }
            } entered;
            if (deep) {
                cycles::refuse_cycle(source_ctx);
                cycles::push(source_ctx);
            }
            copy_values_of_types(ctx, deep, types);
        }
    }
    if (rescan) setup_events(result, ctx);
    *destination = *result;
    stack::top = src;
}

// ---- make ----

Cell* make(Cell* proto, Cell* spec, int32_t) {
    Cell* source = stack::push(proto);
    Cell* sp = stack::push(spec);
    bool from_object = type_of(source) == TYPE_OBJECT;
    uint32_t spec_type = type_of(sp);
    if (spec_type != TYPE_BLOCK && spec_type != TYPE_OBJECT) fire(ErrorCategory::syntax, "malconstruct", sp);

    Cell* result = cell::begin(stack::push_raw());
    // From a prototype, the series values are copied once, below (bound to
    // the new object, or after a spec object's values are in): the clone
    // itself copies only the functions.
    if (from_object) clone(source, result, false, nullptr, false);
    else make_at(result, 4);
    Node ctx = result->w1;
    int32_t words_before = _context::word_count(ctx);
    int32_t literal_class = !from_object && spec_type == TYPE_BLOCK ? literal_class_id() : 0;

    if (spec_type == TYPE_OBJECT) {
        Node spec_ctx = sp->w1;
        for (int32_t i = 0, n = _context::word_count(spec_ctx); i < n; i++) {
            Cell word = *_context::get_word_cell(spec_ctx, i);
            Cell* value = stack::push(_context::value_slot(spec_ctx, i));
            _context::put_value(ctx, &word, value);
            stack::top = value;
        }
        for (int32_t i = 0, n = values_length(ctx); i < n; i++) {
            uint32_t type = type_of(value_at(ctx, i));
            if (made_copy_q(type)) deep_copy_value(ctx, i, 0);
            else if (type == TYPE_FUNCTION) rebind_function(ctx, i, 0);
        }
    } else {
        if (_context::add_set_words(ctx, sp)) _context::share_shape(ctx);
        _context::bind_block(sp, ctx, true);
        if (from_object) {
            Node proto_ctx = source->w1;
            for (int32_t i = 0, n = std::min(values_length(proto_ctx), values_length(ctx)); i < n; i++) {
                if (!made_copy_q(type_of(value_at(proto_ctx, i)))) continue;
                *value_at(ctx, i) = *value_at(proto_ctx, i);
                deep_copy_value(ctx, i, ctx);
            }
        }
        interpreter::eval_block(sp, false);
        stack::raise_pending();  // an error or exit there leaves the making as the low-level throw
        stack::top = result + 1;  // the block's value is not kept
        clear_changed_marks(ctx);
        int32_t n = values_length(ctx);
        Cell* values = n > 0 ? value_at(ctx, 0) : nullptr;
        for (int32_t i = 0; i < n; i++) cell::clear_new_line_flag(values + i);
    }

    bool added = _context::word_count(ctx) > words_before;
    result->w2 = uint32_t(literal_class ? literal_class : added || !from_object ? new_class_id() : int32_t(source->w2));
    setup_events(result, ctx);
    *proto = *result;
    stack::top = source;
    return proto;
}

// ---- copy ----

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    if (series::given(part, value)) {
        Cell word = word::from_c_string("part");
        fire(ErrorCategory::script, "invalid-refine-arg", &word, part);
    }
    clone(value, result, deep, series::given(types, value) ? types : nullptr, true);
    return result;
}

// ---- construct ----

Cell* construct(const Cell* spec, const Cell* proto, bool only, Cell* result) {
    Cell* sp = stack::push(spec);
    Cell* made = cell::begin(stack::push_raw());
    if (proto && type_of(proto) == TYPE_OBJECT) {
        clone(proto, made, true, nullptr, true);
    } else {
        make_at(made, 4);
        int32_t literal_class = literal_class_id();
        made->w2 = uint32_t(literal_class ? literal_class : new_class_id());
    }
    Node ctx = made->w1;
    Node code = sp->w2;
    int32_t head = std::max(int32_t(sp->w1), 0);
    for (int32_t i = head;; i++) {
        SeriesBuffer* b = memory::buffer_of(code);
        int32_t end = memory::length_of(b);
        if (i >= end) break;
        Cell item = memory::cells_head(b)[i];
        if (type_of(&item) != TYPE_SET_WORD) continue;
        int32_t j = i + 1;
        while (j < end && type_of(memory::cells_head(b) + j) == TYPE_SET_WORD) j++;
        Cell value = j < end ? memory::cells_head(b)[j] : NONE_VALUE;
        if (!only) construct_literal(&value, &value);
        int32_t index = _context::add_word(ctx, &item);
        *_context::value_slot(ctx, index) = value;
    }
    refresh_self(made);
    *result = *made;
    stack::top = sp;
    return result;
}

// ---- registration ----

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &object::make>,            // 1
    NONE,                                      // 2 random
    slot<Act::reflect, &object::reflect>,      // 3
    NONE,                                      // 4 to
    slot<Act::form, &object::form>,            // 5
    slot<Act::mold, &object::mold>,            // 6
    slot<Act::eval_path, &object::eval_path>,  // 7
    NONE,                                      // 8
    slot<Act::compare, &object::compare>,      // 9
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 10-19
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 20-29
    slot<Act::copy, &object::copy>,            // 30
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 31-40
    slot<Act::put, &object::put>,              // 41
    NONE, NONE,                                // 42-43
    slot<Act::select, &object::select>,        // 44
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 45-54
    slot<Act::modify, &object::modify>,        // 55
    NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 56-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() {
    datatype::register_type(TYPE_OBJECT, 0, "object!", row);
    _context::on_change = &fire_on_change;
}

}  // namespace zuv::object
