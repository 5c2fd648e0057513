// object!: form and mold, and the field serialiser that error! and port!
// share.
//
//   mold  make object! [
//             a: 1
//             b: "x"
//         ]
//   flat  make object! [a: 1 b: "x"]
//   form  a: 1
//         b: "x"
//
// The handler fields (`on-change*`, `on-deep-change*`) are left out unless
// /all is set. Each value's text grows the buffer, which may collect: the
// loop holds the context node and an index, and molds a copy of each value
// kept on the data stack.
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::object {

namespace {

bool hidden_q(Node ctx, int32_t i) {
    int32_t s = symbol::resolve(int32_t(_context::get_word_cell(ctx, i)->w2));
    return s == symbol::resolve(int32_t(words::on_change_star.w2)) ||
           s == symbol::resolve(int32_t(words::on_deep_change_star.w2));
}

int32_t append_spaces(Cell* buffer, int32_t count, int32_t part) {
    for (int32_t i = 0; i < count; i++) string::concatenate_literal(buffer, "    ");
    return part - 4 * count;
}

}  // namespace

int32_t serialize(const Cell* object, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
                  bool indent, int32_t level, bool mold) {
    Node ctx = object->w1;
    int32_t words = _context::word_count(ctx);
    if (words == 0) return part;
    const char* separator = "\n";
    if (flat) {
        separator = " ";
        indent = false;
    } else {
        if (mold && !only) {
            string::concatenate_literal(buffer, "\n");
            part--;
        }
        if (only) indent = false;
    }

    // The last field written, so that no separator trails it.
    int32_t last = words - 1;
    while (!all && last >= 0 && hidden_q(ctx, last)) last--;

    block::detail::CycleEntry entry(ctx);
    Cell* item = stack::push_raw();
    for (int32_t i = 0; i <= last; i++) {
        if (part < 1) break;
        if (!all && hidden_q(ctx, i)) continue;
        if (indent) part = append_spaces(buffer, level, part);
        *item = *_context::get_word_cell(ctx, i);
        cell::set_type(item, TYPE_WORD);
        part = word::mold(item, buffer, false, false, false, arg, part, 0);
        string::concatenate_literal(buffer, ": ");
        part -= 2;

        // A context decoded from damaged data may hold fewer values than
        // words: a missing value is molded as unset.
        Cell* value = _context::value_slot(ctx, i);
        if (!value) *item = Cell{TYPE_UNSET, 0, 0, 0};
        else if (type_of(value) == 0) cell::set_type(value, TYPE_UNSET), *item = *value;
        else *item = *value;
        if (type_of(item) == TYPE_WORD) {
            string::concatenate_literal(buffer, "'");
            part--;
        }
        part = actions::call_mold(item, buffer, false, all, flat, arg, part, level);
        if (indent || i != last) {
            string::concatenate_literal(buffer, separator);
            part--;
        }
    }
    stack::top = item;
    return part;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    if (cycles::mold_cycle_marker(value, buffer, part, false)) return part;
    Cell* object = stack::push(value);
    part = serialize(object, buffer, false, false, false, arg, part, false, 0, false);
    stack::top = object;
    return part;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    if (cycles::mold_cycle_marker(value, buffer, part, true)) return part;
    Cell* object = stack::push(value);
    if (!only) {
        string::concatenate_literal(buffer, "make object! [");
        part -= 14;
    }
    part = serialize(object, buffer, only, all, flat, arg, part, true, indent + 1, true);
    if (!flat && indent >= 1) part = append_spaces(buffer, indent, part);
    if (!only) {
        string::concatenate_literal(buffer, "]");
        part--;
    }
    stack::top = object;
    return part;
}

}  // namespace zuv::object
