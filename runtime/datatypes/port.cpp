// port! make, text forms, and the forwarding of every series and port action
// to the port's actor object.
#include "runtime/datatypes/port.hpp"

#include <algorithm>

#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/root.hpp"
#include "runtime/settings.hpp"

namespace zuv::port {

namespace {

// Root-block cells: the runtime's own standard port, URL-parts prototype
// and scheme list, for the time before the system object exists.
Cell* standard_cell = nullptr;
Cell* url_parts_cell = nullptr;
Cell* schemes_cell = nullptr;

constexpr const char* PORT_FIELDS[] = {"spec", "scheme", "actor", "awake", "state", "data", "extra"};
constexpr const char* URL_PART_FIELDS[] = {"scheme", "user-info", "host", "port", "path",
                                           "target", "query",     "fragment", "ref"};

// A new object in the root block with the fields, all none.
template <size_t N>
Cell* make_prototype(const char* const (&names)[N]) {
    Cell* proto = object::make_at(stack::push_raw(), int32_t(N));
    for (const char* name : names) {
        Cell w{TYPE_WORD, 0, uint32_t(symbol::make(name)), uint32_t(-1)};
        Cell none{TYPE_NONE, 0, 0, 0};
        _context::put_value(proto->w1, &w, &none);
    }
    object::refresh_self(proto);
    Cell* kept = block::append_cell(&runtime::root, proto);
    stack::pop(1);
    return kept;
}

Cell* field(const Cell* object, int32_t index) { return _context::value_slot(object->w1, index); }

// The cells handed to an actor function after the port. A cell that holds
// a series must lie on the data stack (the call's own arguments); flags,
// counts and none are kept here.
class Args {
public:
    explicit Args(const Cell* first) : first_(first) {}
    Args& cell(const Cell* c) {
        items_[count_++] = c;
        return *this;
    }
    Args& flag(bool on) { return cell(scalar(Cell{TYPE_LOGIC, uint32_t(on), 0, 0})); }
    Args& none() { return cell(scalar(Cell{TYPE_NONE, 0, 0, 0})); }
    // A refinement with one argument: its flag, then the argument or none.
    Args& refinement(const Cell* arg) {
        bool on = series::given(arg, first_);
        flag(on);
        return on ? cell(arg) : none();
    }
    Args& count(int32_t n) {  // a /part or /dup count; -1 when absent
        flag(n >= 0);
        return n >= 0 ? cell(scalar(Cell{TYPE_INTEGER, 0, uint32_t(n), 0})) : none();
    }
    int32_t size() const { return count_; }
    const Cell* operator[](int32_t i) const { return items_[i]; }

private:
    const Cell* scalar(Cell c) {
        scalars_[scalar_count_] = c;
        return &scalars_[scalar_count_++];
    }
    const Cell* first_;
    const Cell* items_[24] = {};
    Cell scalars_[24] = {};
    int32_t count_ = 0;
    int32_t scalar_count_ = 0;
};

// Calls the actor's function named by the action with the port and the
// cells; the function's result goes into out (a cell below the stack top).
void call_actor(const Cell* port, const char* action, const Args& args, Cell* out) {
    Cell* saved = stack::top;
    Cell* actor = stack::push_raw();
    *actor = get_actor(port);
    Cell name = word::from_c_string(action);
    Cell* fn = stack::push(object::get_field(actor, &name));
    if (type_of(fn) != TYPE_FUNCTION) fire(ErrorCategory::access, "no-port-action", &name);

    stack::mark_func(&name, fn->w1);
    stack::push(port);
    for (int32_t i = 0; i < args.size(); i++) stack::push(args[i]);
    // The cells fill the function's arguments and refinements; a function
    // that takes fewer or more gets its own count (none for the missing).
    int32_t locals = std::max(function::count_locals(fn->w2, 0, false), 0);
    int32_t params = std::max(_context::word_count(fn->w1) - locals, 0);
    int32_t pushed = int32_t(stack::top - stack::arguments);
    if (pushed > params) stack::top = stack::arguments + params;
    for (; pushed < params; pushed++) none::make_at(stack::push_raw());
    if (locals > 0) function::push_refinement_off(locals);

    interpreter::exec_function(fn, actor->w1, &name, 0);
    stack::unwind_func_last();
    *out = *(fn + 1);
    stack::top = saved;
}

// A forwarded action whose result is the actor's result, in the port's cell.
Cell* forward(Cell* port, const char* action, const Args& args) {
    call_actor(port, action, args, port);
    return port;
}

// ---- forwarded slots ----

Cell* append(Cell* s, Cell* value, int32_t part, bool only, int32_t dup, bool) {
    return forward(s, "append", Args(s).cell(value).count(part).flag(only).count(dup == 1 ? -1 : dup));
}
Cell* insert(Cell* s, Cell* value, int32_t part, bool only, int32_t dup, bool) {
    return forward(s, "insert", Args(s).cell(value).count(part).flag(only).count(dup == 1 ? -1 : dup));
}
Cell* change(Cell* s, Cell* value, int32_t part, bool only, int32_t dup) {
    return forward(s, "change", Args(s).cell(value).count(part).flag(only).count(dup == 1 ? -1 : dup));
}
Cell* clear(Cell* s) { return forward(s, "clear", Args(s)); }
Cell* copy(Cell* value, Cell* destination, Cell* part, bool deep, Cell* types) {
    call_actor(value, "copy", Args(value).refinement(part).flag(deep).refinement(types), destination);
    return destination;
}
Cell* find(Cell* s, Cell* value, Cell* part, bool only, bool case_q, bool same, bool any, Cell* with, Cell* skip,
           bool last, bool reverse, bool tail, bool match) {
    return forward(s, "find",
                   Args(s).cell(value).refinement(part).flag(only).flag(case_q).flag(same).flag(any).refinement(
                       with).refinement(skip).flag(last).flag(reverse).flag(tail).flag(match));
}
Cell* select(Cell* s, Cell* value, Cell* part, bool only, bool case_q, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse) {
    return forward(s, "select",
                   Args(s).cell(value).refinement(part).flag(only).flag(case_q).flag(same).flag(any).refinement(
                       with).refinement(skip).flag(last).flag(reverse));
}
int32_t length_q(Cell* s) {
    Cell* out = stack::push_raw();
    call_actor(s, "length?", Args(s), out);
    int32_t n = type_of(out) == TYPE_INTEGER ? integer::get_value(out) : -1;  // anything else: none
    stack::top = out;
    return n;
}
Cell* move(Cell* origin, Cell* target, Cell* part) {
    return forward(origin, "move", Args(origin).cell(target).refinement(part));
}
const Cell* pick(Cell* s, int32_t, Cell* boxed) { return forward(s, "pick", Args(s).cell(boxed)); }
Cell* poke(Cell* s, int32_t, Cell* data, Cell* boxed) {
    return forward(s, "poke", Args(s).cell(boxed).cell(data));
}
Cell* put(Cell* s, Cell* key, Cell* value, bool case_q) {
    return forward(s, "put", Args(s).cell(key).cell(value).flag(case_q));
}
Cell* remove(Cell* s, Cell* part, Cell*) { return forward(s, "remove", Args(s).refinement(part)); }
Cell* reverse(Cell* s, Cell* part, Cell*) { return forward(s, "reverse", Args(s).refinement(part)); }
Cell* sort(Cell* s, bool case_q, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse, bool stable) {
    return forward(s, "sort",
                   Args(s).flag(case_q).refinement(skip).refinement(comparator).refinement(part).flag(all).flag(
                       reverse).flag(stable));
}
Cell* swap(Cell* s1, Cell* s2) { return forward(s1, "swap", Args(s1).cell(s2)); }
Cell* take(Cell* s, Cell* part, bool deep, bool last) {
    return forward(s, "take", Args(s).refinement(part).flag(deep).flag(last));
}
Cell* trim(Cell* s, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    return forward(s, "trim", Args(s).flag(head).flag(tail).flag(auto_).flag(lines).flag(all).refinement(with));
}
Cell* create(Cell* v) { return forward(v, "create", Args(v)); }
Cell* close(Cell* v) { return forward(v, "close", Args(v)); }
Cell* delete_(Cell* v) { return forward(v, "delete", Args(v)); }
Cell* modify(Cell* target, Cell* field_name, Cell* value, bool case_q) {
    return forward(target, "modify", Args(target).cell(field_name).cell(value).flag(case_q));
}
Cell* open(Cell* p, bool new_, bool read, bool write, bool seek, Cell* allow) {
    return forward(p, "open", Args(p).flag(new_).flag(read).flag(write).flag(seek).refinement(allow));
}
Cell* query(Cell* v) { return forward(v, "query", Args(v)); }
Cell* rename(Cell* from, Cell* to) { return forward(from, "rename", Args(from).cell(to)); }
Cell* update(Cell* v) { return forward(v, "update", Args(v)); }

// The navigation actions read their cells from the call (the port, then
// the index or offset of at and skip).
template <const char* Name, bool WithArgument>
void navigate() {
    Cell* p = stack::arguments;
    Args args(p);
    if (WithArgument) args.cell(p + 1);
    call_actor(p, Name, args, p);
}
constexpr char AT[] = "at", BACK[] = "back", HEAD[] = "head", HEAD_Q[] = "head?", INDEX_Q[] = "index?",
               NEXT[] = "next", SKIP[] = "skip", TAIL[] = "tail", TAIL_Q[] = "tail?";

// read: open (seek as given), copy (with /part), close; the copy is the result.
Cell* read(Cell* p, Cell* part, Cell* seek, bool, bool, bool, Cell*) {
    Cell* result = none::make_at(stack::push_raw());
    Cell* ignored = stack::push_raw();
    bool seeking = series::given(seek, p);
    call_actor(p, "open", Args(p).flag(false).flag(false).flag(false).flag(seeking).flag(false).none(), ignored);
    call_actor(p, "copy", Args(p).refinement(part).flag(false).flag(false).none(), result);
    call_actor(p, "close", Args(p), ignored);
    *p = *result;
    stack::top = result;
    return p;
}

// write: open for writing, insert the data (with the /part count), copy, close.
Cell* write(Cell* p, Cell* data, bool, bool, bool, bool, Cell* part, Cell* seek, Cell*, Cell*) {
    bool has_part = series::given(part, p);
    int32_t length = has_part && type_of(part) == TYPE_INTEGER ? integer::get_value(part) : -1;
    Cell* result = none::make_at(stack::push_raw());
    Cell* ignored = stack::push_raw();
    bool seeking = series::given(seek, p);
    call_actor(p, "open", Args(p).flag(false).flag(false).flag(true).flag(seeking).flag(false).none(), ignored);
    call_actor(p, "insert", Args(p).cell(data).count(length).flag(false).count(-1), ignored);
    call_actor(p, "copy", Args(p).refinement(part).flag(false).flag(false).none(), result);
    call_actor(p, "close", Args(p), ignored);
    *p = *result;
    stack::top = result;
    return p;
}

}  // namespace

// ---- prototypes ----

void init() {
    standard_cell = make_prototype(PORT_FIELDS);
    url_parts_cell = make_prototype(URL_PART_FIELDS);
    schemes_cell = block::make_at(stack::push_raw(), 10);
    schemes_cell = block::append_cell(&runtime::root, schemes_cell);
    stack::pop(1);
}

namespace {

// The system's field when it holds a value of that type, else the runtime's own.
Cell system_or_own(settings::Field field, uint8_t type, const Cell* own) {
    Cell value;
    if (settings::get(field, &value) && type_of(&value) == type) return value;
    return *own;
}

}  // namespace

Cell standard_port() { return system_or_own(settings::Field::standard_port, TYPE_OBJECT, standard_cell); }
Cell url_parts() { return system_or_own(settings::Field::url_parts, TYPE_OBJECT, url_parts_cell); }
Cell schemes() { return system_or_own(settings::Field::schemes, TYPE_BLOCK, schemes_cell); }

Cell find_scheme(const Cell* word) {
    Cell list = schemes();
    int32_t name = symbol::resolve(int32_t(word->w2));
    int32_t head = std::max(int32_t(list.w1), 0);
    int32_t count = memory::length_of(memory::buffer_of(list.w2));
    const Cell* cells = memory::cells_head(memory::buffer_of(list.w2));
    // Names stand at the starts of the pairs.
    for (int32_t i = head; i + 1 < count; i += 2) {
        const Cell* c = &cells[i];
        if (word::any_word_q(type_of(c)) && symbol::resolve(int32_t(c->w2)) == name) return cells[i + 1];
    }
    return Cell{TYPE_NONE, 0, 0, 0};
}

Cell get_actor(const Cell* port) {
    const Cell* actor = field(port, FIELD_ACTOR);
    if (!actor || type_of(actor) != TYPE_OBJECT) fire(ErrorCategory::access, "invalid-port");
    return *actor;
}

// ---- make and text forms ----

Cell* make_from_spec(Cell* proto, const Cell* spec, const Cell* reported) {
    Cell* saved = stack::top;
    Cell* original = stack::push(reported);
    Cell* spec_object = stack::push(spec);
    if (type_of(spec_object) != TYPE_OBJECT) {
        // A block sets the fields of a copy of the URL parts and may add its own.
        *spec_object = url_parts();
        object::make(spec_object, stack::push(spec), TYPE_OBJECT);
    }
    const Cell* first = _context::word_count(spec_object->w1) > 0 ? field(spec_object, 0) : nullptr;
    if (!first || type_of(first) != TYPE_WORD) fire(ErrorCategory::access, "no-scheme", original);
    Cell* scheme_word = stack::push(first);

    Cell* port = cell::begin(stack::push_raw());
    Cell* standard = stack::push_raw();
    *standard = standard_port();
    object::clone(standard, port, false, nullptr, true);
    port->w2 = uint32_t(CLASS_ID);
    cell::set_type(port, TYPE_PORT);  // the self slot keeps the copy's object! value
    *field(port, FIELD_SPEC) = *spec_object;
    *field(port, FIELD_SCHEME) = *scheme_word;

    Cell scheme = find_scheme(scheme_word);
    if (type_of(&scheme) != TYPE_OBJECT) fire(ErrorCategory::access, "unknown-scheme", original);
    const Cell* actor = _context::word_count(scheme.w1) > 3 ? field(&scheme, 3) : nullptr;
    if (!actor || (type_of(actor) != TYPE_OBJECT && type_of(actor) != TYPE_HANDLE))
        fire(ErrorCategory::access, "invalid-actor", original);
    *field(port, FIELD_ACTOR) = *actor;

    *proto = *port;
    stack::top = saved;
    return proto;
}

Cell* make(Cell* proto, Cell* spec, int32_t) { return make_from_spec(proto, spec, spec); }

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    // A port among its own fields is written as a cycle marker, not again.
    if (cycles::mold_cycle_marker(value, buffer, part, true)) return part;
    Cell* p = stack::push(value);
    string::concatenate_literal(buffer, "make port! [");
    part = object::serialize(p, buffer, only, all, flat, arg, part - 12, true, indent + 1, true);
    if (indent > 0) {
        for (int32_t i = 0; i < indent; i++) string::concatenate_literal(buffer, "    ");
        part -= 4 * indent;
    }
    string::append_char(buffer, ']');
    stack::top = p;
    return part - 1;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return mold(value, buffer, false, false, false, arg, part, 0);
}

// ---- registration ----

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &port::make>,
    NONE,                                                        // random
    INHERIT,                                                     // reflect
    NONE,                                                        // to
    slot<Act::form, &port::form>,
    slot<Act::mold, &port::mold>,
    INHERIT,                                                     // eval-path
    NONE,                                                        // (empty)
    INHERIT,                                                     // compare
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20 math
    NONE, NONE, NONE, NONE,                                      // 21-24 logic
    slot<Act::append, &port::append>,
    slot<Act::at, &port::navigate<AT, true>>,
    slot<Act::back, &port::navigate<BACK, false>>,
    slot<Act::change, &port::change>,
    slot<Act::clear, &port::clear>,
    slot<Act::copy, &port::copy>,
    slot<Act::find, &port::find>,
    slot<Act::head, &port::navigate<HEAD, false>>,
    slot<Act::head_q, &port::navigate<HEAD_Q, false>>,
    slot<Act::index_q, &port::navigate<INDEX_Q, false>>,
    slot<Act::insert, &port::insert>,
    slot<Act::length_q, &port::length_q>,
    slot<Act::move, &port::move>,
    slot<Act::next, &port::navigate<NEXT, false>>,
    slot<Act::pick, &port::pick>,
    slot<Act::poke, &port::poke>,
    slot<Act::put, &port::put>,
    slot<Act::remove, &port::remove>,
    slot<Act::reverse, &port::reverse>,
    slot<Act::select, &port::select>,
    slot<Act::sort, &port::sort>,
    slot<Act::skip, &port::navigate<SKIP, true>>,
    slot<Act::swap, &port::swap>,
    slot<Act::tail, &port::navigate<TAIL, false>>,
    slot<Act::tail_q, &port::navigate<TAIL_Q, false>>,
    slot<Act::take, &port::take>,
    slot<Act::trim, &port::trim>,
    slot<Act::create, &port::create>,
    slot<Act::close, &port::close>,
    slot<Act::delete_, &port::delete_>,
    slot<Act::modify, &port::modify>,
    slot<Act::open, &port::open>,
    NONE,                                                        // open?
    slot<Act::query, &port::query>,
    slot<Act::read, &port::read>,
    slot<Act::rename, &port::rename>,
    slot<Act::update, &port::update>,
    slot<Act::write, &port::write>,
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_PORT, TYPE_OBJECT, "port!", row); }

}  // namespace zuv::port
