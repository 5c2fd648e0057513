// The path family: making, converting, forming and molding. The series
// actions are block!'s, inherited at registration.
//
// Forming and molding grow the output string, which may collect and move
// every buffer: the segments are read by (node, index), each handed to its
// slot as a copy.
#include "runtime/datatypes/path.hpp"

#include "evaluator/actions.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"

namespace zuv {

namespace {

using block::detail::clamped_head;
using block::detail::CycleEntry;
using block::detail::read_cell;

// The cell takes the type as its whole header (flags cleared) and is pushed.
Cell* push_as(Cell* value, uint32_t type) {
    value->header = type;
    return stack::push(value);
}

// The room asked by a number spec: a float or percent truncated toward zero
// (out-of-range beyond 32 bits); below 1 is taken as 1.
int32_t size_of(const Cell* spec) {
    int32_t n;
    if (type_of(spec) == TYPE_INTEGER) {
        n = int32_t(spec->w2);
    } else {
        double d = cell::get_float(spec);  // float! and percent! alike
        if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ErrorCategory::script, "out-of-range", spec);
        n = int32_t(d);
    }
    return n < 1 ? 1 : n;
}

// Writes each segment through write(segment, part) with "/" between them.
// A limit argument stops the walk as soon as the part runs out.
template <class Write>
int32_t walk_segments(const Cell* value, Cell* buffer, Cell* arg, int32_t part, bool marker_flag, Write&& write) {
    Cell path = *value;  // value may lie in a buffer that the output moves
    if (cycles::mold_cycle_marker(&path, buffer, part, marker_flag)) return part;
    bool limited = series::given(arg, stack::arguments);
    Node node = path.w2;
    CycleEntry entry(node);
    Cell segment;
    for (int32_t i = clamped_head(&path); read_cell(node, i, &segment); i++) {
        part = write(&segment, part);
        if (limited && part <= 0) return part;
        if (read_cell(node, i + 1, &segment)) {
            string::concatenate_literal(buffer, "/");
            part--;
        }
    }
    return part;
}

}  // namespace

namespace path {

Cell* push(Cell* value) { return push_as(value, TYPE_PATH); }

Cell* make_at(Cell* cell, int32_t n) {
    block::make_at(cell, n);
    return cell::set_type(cell, TYPE_PATH);
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
        case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_PERCENT:
            block::make_at(proto, size_of(spec));
            return cell::set_type(proto, uint32_t(type));
        case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
        case TYPE_PAREN: case TYPE_HASH: case TYPE_BLOCK:
            return block::make(proto, spec, type);
        default: {
            Cell target;
            datatype::make_at(&target, type);
            rt_support::fire_bad_make_arg(&target, spec);
        }
    }
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
        case TYPE_MAP: case TYPE_OBJECT: case TYPE_TYPESET: {
            // One segment holding the value itself.
            Cell value = *spec;
            block::make_at(proto, 1);
            block::append_cell(proto, &value);
            return cell::set_type(proto, uint32_t(type));
        }
        case TYPE_STRING: {
            // The text loads as values; text that is one path ("a/b") gives
            // that path's segments rather than a path holding a path.
            block::to(proto, spec, type);
            SeriesBuffer* b = memory::buffer_of(proto->w2);
            const Cell* only = memory::cells_head(b);
            if (memory::length_of(b) == 1 && type_of(only) >= TYPE_PATH && type_of(only) <= TYPE_GET_PATH) {
                Cell inner = *only;
                proto->w1 = inner.w1;
                proto->w2 = inner.w2;
            }
            return cell::set_type(proto, uint32_t(type));
        }
        default:
            block::to(proto, spec, type);
            return cell::set_type(proto, uint32_t(type));
    }
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return walk_segments(value, buffer, arg, part, false, [&](Cell* segment, int32_t left) {
        return actions::call_form(segment, buffer, arg, left);
    });
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t) {
    return walk_segments(value, buffer, arg, part, true, [&](Cell* segment, int32_t left) {
        return actions::call_mold(segment, buffer, only, all, flat, arg, left, 0);
    });
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    uint32_t type = type_of(value);
    if (!block::copy(value, result, part, deep, types)) return nullptr;  // raised as a status
    return cell::set_type(result, type);
}

namespace {

// Own: make, to, form, mold, copy. From block!: reflect, eval-path, compare
// and the series actions but random, sort and trim.
constexpr auto row = [] {
    struct Row { SlotEntry entries[62]; } r{};
    for (auto& e : r.entries) e = INHERIT;
    for (Act none : {Act::random, Act::unused8, Act::sort, Act::trim, Act::create, Act::close, Act::delete_,
                     Act::open, Act::open_q, Act::query, Act::read, Act::rename, Act::update, Act::write})
        r.entries[int(none) - 1] = NONE;
    for (int k = int(Act::absolute); k <= int(Act::xor_t); k++) r.entries[k - 1] = NONE;
    r.entries[int(Act::make) - 1] = slot<Act::make, &path::make>;
    r.entries[int(Act::to) - 1] = slot<Act::to, &path::to>;
    r.entries[int(Act::form) - 1] = slot<Act::form, &path::form>;
    r.entries[int(Act::mold) - 1] = slot<Act::mold, &path::mold>;
    r.entries[int(Act::copy) - 1] = slot<Act::copy, &path::copy>;
    return r;
}();
static_assert(valid_row(row.entries));

}  // namespace

void register_type() { datatype::register_type(TYPE_PATH, TYPE_BLOCK, "path!", row.entries); }

}  // namespace path

namespace {

// The prefix, then the path molded as path! molds it.
int32_t mold_prefixed(const char* prefix, Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg,
                      int32_t part, int32_t indent) {
    Cell path = *value;  // value may lie in a buffer that the prefix moves
    string::concatenate_literal(buffer, prefix);
    return path::mold(&path, buffer, only, all, flat, arg, part - 1, indent);
}

}  // namespace

namespace lit_path {
Cell* push(Cell* value) { return push_as(value, TYPE_LIT_PATH); }
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    return mold_prefixed("'", value, buffer, only, all, flat, arg, part, indent);
}
void register_type() {
    datatype::register_type(TYPE_LIT_PATH, TYPE_PATH, "lit-path!", mold_only_row<&lit_path::mold>.entries);
}
}  // namespace lit_path

namespace set_path {
Cell* push(Cell* value) { return push_as(value, TYPE_SET_PATH); }
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    part = path::mold(value, buffer, only, all, flat, arg, part, indent);
    string::concatenate_literal(buffer, ":");
    return part - 1;
}
void register_type() {
    datatype::register_type(TYPE_SET_PATH, TYPE_PATH, "set-path!", mold_only_row<&set_path::mold>.entries);
}
}  // namespace set_path

namespace get_path {
Cell* push(Cell* value) { return push_as(value, TYPE_GET_PATH); }
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    return mold_prefixed(":", value, buffer, only, all, flat, arg, part, indent);
}
void register_type() {
    datatype::register_type(TYPE_GET_PATH, TYPE_PATH, "get-path!", mold_only_row<&get_path::mold>.entries);
}
}  // namespace get_path

}  // namespace zuv
