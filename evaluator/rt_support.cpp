#include "evaluator/rt_support.hpp"

#include <algorithm>

#include "evaluator/actions.hpp"
#include "evaluator/backtrace.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/symbols.hpp"

namespace zuv::rt_support {

namespace {

bool callable_q(uint32_t type) {
    switch (type) {
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_OP: case TYPE_FUNCTION: case TYPE_ROUTINE: return true;
        default: return false;
    }
}

bool argument_word_q(uint32_t type) {
    switch (type) {
        case TYPE_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT: return true;
        default: return false;
    }
}

// The argument word at index of the spec of the function that the word
// names; none when it names no function or the spec has fewer. Nothing here
// raises: it runs while an error is being built.
Cell* argument_word_of(const Cell& name, int32_t index, Cell* out) {
    none::make_at(out);
    Node ctx = name.w1;
    if (!ctx || index < 0) return out;
    int32_t slot_index = int32_t(name.w3);
    if (slot_index < 0) slot_index = _context::find_word(ctx, int32_t(name.w2), false);
    const Cell* value = _context::value_slot(ctx, slot_index);
    if (!value || !callable_q(type_of(value)) || value->w2 == 0) return out;

    SeriesBuffer* spec = memory::buffer_of(value->w2);  // word 2 of every callable: its spec
    for (const Cell* c = memory::cells_head(spec); c < memory::cells_tail(spec); c++) {
        if (!argument_word_q(type_of(c))) continue;
        if (index-- == 0) return copy_cell(c, out);
    }
    return out;
}

}  // namespace

// ---- argument errors ----

Cell* get_caller_arg(int32_t index, Cell* out) {
    Cell name = stack::caller_word();
    return argument_word_of(name, index, out);
}

void fire_expect_arg(uint32_t type, int32_t arg_index) {
    Cell name = stack::caller_word();
    Cell datatype;
    datatype::make_at(&datatype, int32_t(type));
    Cell argument;
    argument_word_of(name, arg_index, &argument);
    fire(ErrorCategory::script, "expect-arg", &name, &datatype, &argument);
}

void fire_bad_make_arg(const Cell* value, const Cell* second) {
    fire(ErrorCategory::script, "bad-make-arg", value, second);
}

// ---- argument checks ----

Cell* check_argument_type(int32_t arg_number, const Cell* typeset, Cell* value) {
    if (!typeset_has_q(typeset, type_of(value))) fire_expect_arg(type_of(value), arg_number);
    return value;
}

void check_frame_argument_type(int32_t position, const Cell* typeset, int32_t arg_number) {
    if (position < 0) return;
    check_argument_type(arg_number, typeset, stack::arguments + position);
}

Cell* check_refinement_argument_type(const Cell* refinement, const Cell* typeset, int32_t arg_number, Cell* value) {
    if (refinement->w1 == 0) return value;
    return check_argument_type(arg_number, typeset, value);
}

Cell* check_argument_set(int32_t arg_number, Cell* value) {
    if (type_of(value) == TYPE_UNSET) fire_expect_arg(TYPE_UNSET, arg_number);
    return value;
}

// ---- words and fields ----

Cell* set_word_keep(Cell* word) {
    Cell* value = stack::get_top_value();
    if (type_of(value) == TYPE_UNSET) fire(ErrorCategory::script, "need-value", word);
    word::set(word, value);  // the value lies on the data stack, which never moves
    return value;
}

Cell* set_word(Cell* word) {
    set_word_keep(word);
    return stack::reset();
}

void set_object_field(Node ctx, int32_t index) {
    Cell value = *stack::get_top_value();
    if (_context::kind_of(_context::cell_of(ctx)) == _context::KIND_OBJECT && index >= 0 &&
        index < _context::word_count(ctx))
        _context::get_word_cell(ctx, index)->header |= _context::WORD_CHANGED;
    if (Cell* slot = _context::value_slot(ctx, index)) copy_cell(&value, slot);
    stack::reset();
}

Cell* get_word_value(const Cell* word) {
    Cell* value = word::value_cell(word);
    if (type_of(value) == TYPE_UNSET) fire(ErrorCategory::script, "no-value", word);
    return value;
}

// ---- helpers of natives and datatypes ----

void select_branch(bool push, bool branch) {
    Cell key = stack::arguments[0];
    Cell block = stack::arguments[1];
    Cell answer;
    none::make_at(&answer);
    if (type_of(&key) != TYPE_BLOCK) {
        auto cell_at = [&](int32_t i, Cell* out) {
            SeriesBuffer* s = memory::buffer_of(block.w2);
            if (i >= memory::length_of(s)) return false;
            *out = memory::cells_head(s)[i];
            return true;
        };
        uint32_t key_type = type_of(&key);
        int32_t step = push ? 1 : 2;
        int32_t i = std::max(int32_t(block.w1), 0);
        int32_t found = -1;
        if (key_type == TYPE_WORD || key_type == TYPE_LIT_WORD || key_type == TYPE_INTEGER) {
            // Words (by canonical spelling, the key's found once; the same
            // spelling needs no look-up) and integers, the usual keys, are
            // compared here as their compare slots compare them, which
            // allocates nothing: the cells are read in place.
            bool word_key = key_type != TYPE_INTEGER;
            int32_t key_canonical = word_key ? symbol::resolve(int32_t(key.w2)) : 0;
            SeriesBuffer* s = memory::buffer_of(block.w2);
            const Cell* cells = memory::cells_head(s);
            for (int32_t n = memory::length_of(s); i < n; i += step) {
                const Cell& item = cells[i];
                if (type_of(&item) != key_type) continue;
                bool same = word_key ? item.w2 == key.w2 || symbol::resolve(int32_t(item.w2)) == key_canonical
                                     : integer::get_value(&item) == integer::get_value(&key);
                if (same) {
                    found = i;
                    break;
                }
            }
        } else {
            // Equality as the compare slot of the key's datatype gives it. Each
            // comparison may allocate: the cells are read by index each time.
            Cell item;
            for (; cell_at(i, &item); i += step) {
                if (type_of(&item) == key_type && actions::compare_star(&key, &item, COMP_EQUAL)) {
                    found = i;
                    break;
                }
            }
        }
        if (found >= 0) {
            if (branch) {
                Cell next;
                for (int32_t j = found + 1; cell_at(j, &next); j++)
                    if (type_of(&next) == TYPE_BLOCK) {
                        answer = next;
                        break;
                    }
            } else if (!cell_at(found + 1, &answer)) {
                cell_at(found, &answer);  // the match is the last cell
            }
        }
    }
    if (push) stack::push(&answer);
    else stack::set_last(&answer);
}

void scan_one_value(const Cell* str, Cell* out) {
    if (!word::scan_hooks.scan_one_value) fire(ErrorCategory::internal, "not-done");  // no lexer yet
    word::scan_hooks.scan_one_value(str, out);
    stack::raise_pending();  // a syntax error: its callers cannot hand on a status
}

void scan_argument_value(const Cell* str) { scan_one_value(str, stack::arguments); }

Cell* form_argument(Cell* argument, int32_t limit) {
    Cell* out = string::zs_make_at(cell::begin(stack::push_raw()), 16);
    actions::call_form(stack::arguments, out, argument, limit);
    if (limit > 0) string::truncate_to(string::buffer(out), limit);
    return out;
}

int32_t float_to_integer(const Cell* value) {
    if (type_of(value) != TYPE_FLOAT) return int32_t(value->w2);
    double d = cell::get_float(value);
    // Truncation toward zero must land in 32 bits: (-2147483649, 2147483648);
    // a NaN fails both comparisons.
    if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ErrorCategory::script, "out-of-range", value);
    return int32_t(d);
}

int32_t append_indent(Cell* str, int32_t levels, int32_t width) {
    Cell text = *str;  // str may lie in a buffer that growing the text moves
    for (int32_t i = 0; i < levels; i++) string::concatenate_literal(&text, "    ");
    return width - 4 * std::max(levels, 0);
}

uint8_t* replicate_pattern(uint8_t* address, int32_t size, int32_t count) {
    if (size <= 0 || count <= 0) return address;
    int64_t total = int64_t(size) * count;
    int64_t filled = size;  // the pattern itself
    while (filled < total) {
        int64_t n = std::min(filled, total - filled);
        std::memcpy(address + filled, address, size_t(n));
        filled += n;
    }
    return address + total;
}

}  // namespace zuv::rt_support
