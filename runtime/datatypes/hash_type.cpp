// hash!: making the table, copying, molding, and sort and trim, which
// rearrange the cells in place and then bring the table back in step.
#include "runtime/datatypes/hash_type.hpp"

#include <algorithm>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash.hpp"
#include "runtime/memory.hpp"

namespace zuv::hash {

namespace {

int32_t total_of(const Cell* value) { return memory::length_of(memory::buffer_of(value->w2)); }

}  // namespace

Cell* make_over(Cell* value) {
    Cell source = *value;
    source.header = TYPE_BLOCK;
    source.w1 = 0;  // every cell of the series is a key, whatever the head
    source.w3 = 0;
    Node table = make_table(std::max(total_of(&source), 1), &source, KIND_HASH, 0);
    value->w3 = table;
    cell::set_type(value, TYPE_HASH);
    return value;
}

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    Cell* made = cell::begin(stack::push_raw());
    Cell* saved_top = made;
    switch (type_of(spec)) {
    case TYPE_INTEGER: case TYPE_FLOAT: {
        if (type_of(spec) == TYPE_FLOAT && integer::float_out_of_range_q(spec))
            fire(ErrorCategory::script, "out-of-range", spec);
        int64_t n = type_of(spec) == TYPE_INTEGER ? integer::get_value(spec) : int64_t(float_::get(spec));
        block::make_at(made, int32_t(std::clamp<int64_t>(n, 1, 1 << 28)));
        break;
    }
    case TYPE_BLOCK:
        if (type == -1) {
            *made = *spec;  // from to: the new block itself
        } else {
            block::clone(spec, made, false, false);
        }
        break;
    case TYPE_HASH:
        copy(spec, made, nullptr, false, nullptr);
        *proto = *made;
        stack::top = saved_top;
        return proto;
    default:
        return to(proto, spec, type);
    }
    made->w3 = 0;
    make_over(made);
    *proto = *made;
    stack::top = saved_top;
    return proto;
}

Cell* to(Cell* proto, Cell* spec, int32_t) {
    if (type_of(spec) == TYPE_HASH) return make(proto, spec, TYPE_HASH);
    Cell* made = cell::begin(stack::push_raw());
    Cell source = *spec;
    block::to(made, &source, TYPE_BLOCK);
    make(proto, made, -1);
    stack::top = made;
    return proto;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    if (!only) {
        string::concatenate_literal(buffer, "make hash! ");
        part -= 11;
    }
    return block::mold(value, buffer, only, all, flat, arg, part, indent);
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    Cell source = *value;
    bool whole = int32_t(source.w1) == 0 && !series::given(part, value) && !deep && !series::given(types, value);
    if (!block::copy(value, result, part, deep, types)) return nullptr;  // raised as a status
    if (whole) {
        Node table = copy_table(source.w3, result->w2);
        result->w3 = table;
        cell::set_type(result, TYPE_HASH);
        return result;
    }
    result->w3 = 0;
    return make_over(result);
}

Cell* sort(Cell* series, bool case_q, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
           bool stable) {
    block::sort(series, case_q, skip, comparator, part, all, reverse, stable);
    if (stack::pending()) return series;  // an exit from the comparator: nothing was sorted
    int32_t head = std::clamp(int32_t(series->w1), 0, total_of(series));
    cells_changed(series->w3, head, total_of(series) - head);
    return series;
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    block::trim(series, head, tail, auto_, lines, all, with);
    rebuild_all(series->w3);  // the kept cells moved down and the tail shrank
    return series;
}

// ---- registration ----

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &hash::make>,      // 1
    NONE,                              // 2 random
    INHERIT,                           // 3 reflect
    slot<Act::to, &hash::to>,          // 4
    INHERIT,                           // 5 form
    slot<Act::mold, &hash::mold>,      // 6
    INHERIT,                           // 7 eval-path
    NONE,                              // 8
    INHERIT,                           // 9 compare
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 10-19
    NONE, NONE, NONE, NONE, NONE,      // 20-24
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,  // 25 append, 26 at, 27 back, 28 change, 29 clear
    slot<Act::copy, &hash::copy>,      // 30
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,  // 31-37
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,  // 38-44
    slot<Act::sort, &hash::sort>,      // 45
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,  // 46 skip, 47 swap, 48 tail, 49 tail?, 50 take
    slot<Act::trim, &hash::trim>,      // 51
    NONE, NONE, NONE,                  // 52-54
    INHERIT,                           // 55 modify
    NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 56-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_HASH, TYPE_BLOCK, "hash!", row); }

}  // namespace zuv::hash
