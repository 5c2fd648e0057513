// block!: form and mold, with the line breaks and indentation of mold.
//
// Each value's text grows the output string, which may collect and move
// every buffer: the loops hold the block as (node, index) and give each
// value's slot a copy of its cell, never an address inside the block.
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"

namespace zuv::block {

using namespace detail;

namespace {

// TODO: the action dispatch's form and mold call-through helpers replace
// these once they exist (a type without the slot raises expect-arg there).
int32_t form_value(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    auto form = get_slot<Act::form>(type_of(value));
    if (!form) fire(ErrorCategory::internal, "not-done");
    return form(value, buffer, arg, part);
}

int32_t mold_value(Cell* value, Cell* buffer, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    auto mold = get_slot<Act::mold>(type_of(value));
    if (!mold) fire(ErrorCategory::internal, "not-done");
    return mold(value, buffer, false, all, flat, arg, part, indent);
}

// True when the output is not empty and ends in a tab, line feed or carriage return.
bool ends_in_break_q(const Cell* buffer) {
    int32_t n = string::total_length(buffer);
    if (n == 0) return false;
    uint32_t last = string::char_at(buffer, n - 1);
    return last == '\t' || last == '\n' || last == '\r';
}

int32_t append_indent(Cell* buffer, int32_t level, int32_t part) {
    for (int32_t i = 0; i < level; i++) string::concatenate_literal(buffer, "    ");
    return part - 4 * level;
}

}  // namespace

// Without /part the entries hand over a limit of 2147483647, which no text
// reaches, so the remaining part alone tells when to stop.
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    if (cycles::mold_cycle_marker(value, buffer, part, false)) return part;
    Node node = value->w2;
    int32_t h = clamped_head(value);
    CycleEntry entry(node);
    Cell item;
    for (int32_t i = h; part >= 1 && read_cell(node, i, &item); i++) {
        if (i > h && !ends_in_break_q(buffer)) {
            string::concatenate_literal(buffer, " ");
            part--;
        }
        part = form_value(&item, buffer, arg, part);
    }
    return part;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    return mold_enclosed("[", "]", value, buffer, only, all, flat, arg, part, indent);
}

int32_t mold_enclosed(const char* open, const char* close, Cell* value, Cell* buffer, bool only, bool all, bool flat,
                      Cell* arg, int32_t part, int32_t indent) {
    if (cycles::mold_cycle_marker(value, buffer, part, true)) return part;
    Cell cells = *value;  // value may lie in a buffer that the opening moves
    if (!only) {
        string::concatenate_literal(buffer, open);
        part--;
    }
    part = mold_each(&cells, buffer, only, all, flat, arg, part, indent);
    if (!only) {
        string::concatenate_literal(buffer, close);
        part--;
    }
    return part;
}

int32_t mold_each(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
                  int32_t indent) {
    Node node = value->w2;
    int32_t h = clamped_head(value);
    int32_t level = indent;
    bool broken = false;
    {
        CycleEntry entry(node);
        Cell item;
        for (int32_t i = h; read_cell(node, i, &item); i++) {
            if (part <= 0) return part;
            bool first = i == h;
            if (!flat && cell::new_line_q(&item)) {
                if (!only && first) {
                    broken = true;
                    level++;
                }
                if (!(only && first)) {
                    string::concatenate_literal(buffer, "\n");
                    part--;
                }
                part = append_indent(buffer, level, part);
            } else if (!first) {
                string::concatenate_literal(buffer, " ");
                part--;
            }
            part = mold_value(&item, buffer, all, flat, arg, part, level);
        }
    }
    if (broken) {
        level--;
        string::concatenate_literal(buffer, "\n");
        part = append_indent(buffer, level, part - 1);
    }
    return part;
}

}  // namespace zuv::block
