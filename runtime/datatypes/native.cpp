// native!, action! and op!: making, reflecting, forming, molding, comparing.
#include "runtime/datatypes/native.hpp"

#include "evaluator/actions.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/fire.hpp"
#include "runtime/init.hpp"
#include "runtime/memory.hpp"
#include "runtime/root.hpp"
#include "runtime/words.hpp"

namespace zuv {

namespace {

// Cell i of the series behind node (valid until the next allocation), or
// null past its tail.
const Cell* cell_in(Node node, int32_t i) {
    SeriesBuffer* s = memory::buffer_of(node);
    return i >= 0 && i < memory::length_of(s) ? memory::cells_head(s) + i : nullptr;
}

// True when slot k of the table the type refers to holds a callable entry.
// An empty native slot (108-120) and the action numbers without a stack
// entry (8, and 9 whose entry is the comparison) make no callable value.
bool callable_index_q(uint32_t type, int32_t k) {
    return type == TYPE_NATIVE ? natives::entry_at(k) != nullptr : actions::stack_entry_q(k);
}

// The spec each table slot was given by the boot definitions: 120 native
// slots, then 62 action numbers; none where no spec is known yet. A block in
// the root block, made on first use.
Cell* builtin_specs = nullptr;
constexpr int32_t BUILTIN_SPEC_CELLS = natives::TABLE_SLOTS + ACTION_SLOT_COUNT;

// An entry function reads its arguments by the shape of its own spec, so a
// spec that differs could hand it values of other types than it takes. The
// boot definitions (while runtime::boot_flag is set) and the first spec a
// slot is given are its own; afterwards a value for the slot can only be
// made with a spec equal to it.
bool spec_fits_q(uint32_t made_type, int32_t k, const Cell* fn_spec) {
    if (!builtin_specs) {
        builtin_specs = block::make_in(&runtime::root, BUILTIN_SPEC_CELLS);
        Cell none_value;
        none::make_at(&none_value);
        for (int32_t i = 0; i < BUILTIN_SPEC_CELLS; i++) block::append_cell(builtin_specs, &none_value);
    }
    int32_t i = made_type == TYPE_NATIVE ? k - 1 : natives::TABLE_SLOTS + k - 1;
    const Cell* known = block::zs_abs_at(builtin_specs, i);
    if (type_of(known) != TYPE_BLOCK || runtime::boot_flag) {
        Cell spec;
        cell::begin(&spec)->w2 = fn_spec->w2;  // from its head, as the value keeps it
        copy_cell(cell::set_type(&spec, TYPE_BLOCK), block::write_at(builtin_specs, i));
        return true;
    }
    Cell given = *fn_spec, own = *known;
    return actions::compare_values(&own, &given, COMP_EQUAL) == 0;
}

// make native! and make action!: spec is a block of exactly two values from
// its head, a function spec block and the table index. The result is pushed.
Cell* make_builtin(Cell* spec, int32_t type, uint32_t made_type) {
    Cell s = *spec;
    bool ok = type_of(&s) == TYPE_BLOCK && int32_t(s.w1) >= 0 && block::zs_length_q(&s) == 2;
    Cell fn_spec{}, index{};
    if (ok) {
        int32_t h = int32_t(s.w1);
        fn_spec = *block::zs_abs_at(&s, h);
        index = *block::zs_abs_at(&s, h + 1);
        ok = type_of(&fn_spec) == TYPE_BLOCK && type_of(&index) == TYPE_INTEGER &&
             callable_index_q(made_type, integer::get_value(&index));
    }
    if (!ok) {
        Cell datatype;
        datatype::make_at(&datatype, type);
        rt_support::fire_bad_make_arg(&datatype, &s);
    }

    // Everything made is reachable from the data stack before the next
    // allocation: the result cell (typed last), the spec, the more block.
    Cell* result = cell::begin(stack::push_raw());
    Cell* held_spec = stack::push(&fn_spec);
    if (fn_spec.w1 != 0) block::clone(&fn_spec, held_spec, false, false);  // the spec is kept from its head
    if (!spec_fits_q(made_type, integer::get_value(&index), held_spec)) {
        Cell datatype;
        datatype::make_at(&datatype, type);
        rt_support::fire_bad_make_arg(&datatype, &s);
    }
    Cell* more = block::push_only_star(native::MORE_CELLS);
    Node ctx = _context::make_from_spec(held_spec, true, false, _context::KIND_FUNCTION);
    Cell ctx_cell = *_context::cell_of(ctx);
    block::append_cell(more, &ctx_cell);
    Cell none_value;
    block::append_cell(more, none::make_at(&none_value));

    result->w1 = uint32_t(integer::get_value(&index));
    result->w2 = held_spec->w2;
    result->w3 = more->w2;
    cell::set_type(result, made_type);
    stack::pop(2);
    return result;
}

// A block! on the value's spec series from its first cell.
Cell spec_block_of(const Cell* value) {
    Cell b;
    cell::begin(&b)->w2 = value->w2;
    return *cell::set_type(&b, TYPE_BLOCK);
}

// "make native! [" spec "]" and the same for actions.
int32_t mold_builtin(const char* opening, Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg,
                     int32_t part, int32_t indent) {
    string::concatenate_literal(buffer, opening);
    Cell spec = spec_block_of(value);
    part = block::mold(&spec, buffer, only, all, flat, arg, part - 14, indent);
    string::concatenate_literal(buffer, "]");
    return part - 1;
}

constexpr SlotEntry native_row[] = {
    slot<Act::make, &native::make>,
    NONE,                                    // random
    slot<Act::reflect, &native::reflect>,
    NONE,                                    // to
    slot<Act::form, &native::form>,
    slot<Act::mold, &native::mold>,
    NONE, NONE,                              // eval-path, (never filled)
    slot<Act::compare, &native::compare>,
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 21-30
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 31-40
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 41-50
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 51-60
    NONE, NONE,                                                  // 61-62
};
ZUV_CHECK_ROW(native_row);

constexpr SlotEntry action_row[] = {
    slot<Act::make, &action::make>,
    NONE,                                    // random
    INHERIT,                                 // reflect
    NONE,                                    // to
    slot<Act::form, &action::form>,
    slot<Act::mold, &action::mold>,
    NONE, NONE,                              // eval-path, (never filled)
    slot<Act::compare, &native::compare>,
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 21-30
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 31-40
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 41-50
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 51-60
    NONE, NONE,                                                  // 61-62
};
ZUV_CHECK_ROW(action_row);

constexpr SlotEntry op_row[] = {
    slot<Act::make, &op::make>,
    NONE,                                    // random
    INHERIT,                                 // reflect
    NONE,                                    // to
    slot<Act::form, &op::form>,
    slot<Act::mold, &op::mold>,
    NONE, NONE,                              // eval-path, (never filled)
    slot<Act::compare, &native::compare>,
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 21-30
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 31-40
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 41-50
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 51-60
    NONE, NONE,                                                  // 61-62
};
ZUV_CHECK_ROW(op_row);

}  // namespace

// ---- native! ----

namespace native {

Cell* make(Cell*, Cell* spec, int32_t type) { return make_builtin(spec, type, TYPE_NATIVE); }

bool builtin_parts_q(uint32_t type, int32_t index, const Cell* spec) {
    return callable_index_q(type, index) && spec_fits_q(type, index, spec);
}

Cell* reflect(Cell* value, int32_t field) {
    int32_t f = symbol::resolve(field);
    if (f == symbol::resolve(sym::spec)) {
        Cell spec = spec_block_of(value);
        return copy_cell(&spec, value);
    }
    if (f == symbol::resolve(sym::body)) {
        uint32_t wrapped = type_of(value) == TYPE_OP ? op::wrapped_type(value) : type_of(value);
        if (wrapped == TYPE_FUNCTION || wrapped == TYPE_ROUTINE) {
            const Cell* body = cell_in(value->w3, 0);
            if (body) return copy_cell(body, value);
            return none::make_at(value);
        }
        // The 1-based index of the entry in the natives table or the action entry table.
        return integer::make_at(cell::begin(value), int32_t(value->w1));
    }
    fire(ErrorCategory::internal, "not-done");
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) {
    string::concatenate_literal(buffer, "?native?");
    return part - 8;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    return mold_builtin("make native! [", value, buffer, only, all, flat, arg, part, indent);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != type_of(value1)) return COMPARE_INCOMPARABLE;
    // Two ops are the same operator only when they wrap the same kind of value.
    if (type_of(value1) == TYPE_OP && op::wrapped_type(value1) != op::wrapped_type(value2)) {
        return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME ||
                       op == COMP_FIND
                   ? 1
                   : COMPARE_INCOMPARABLE;
    }
    switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT: case COMP_CASE_SORT:
        case COMP_SAME: case COMP_FIND: {
            int32_t a = int32_t(value1->w1), b = int32_t(value2->w1);
            return (a > b) - (a < b);
        }
        default: return COMPARE_INCOMPARABLE;
    }
}

void register_type() { datatype::register_type(TYPE_NATIVE, 0, "native!", native_row); }

}  // namespace native

// ---- action! ----

namespace action {

Cell* make(Cell*, Cell* spec, int32_t type) { return make_builtin(spec, type, TYPE_ACTION); }

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) {
    string::concatenate_literal(buffer, "?action?");
    return part - 8;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    return mold_builtin("make action! [", value, buffer, only, all, flat, arg, part, indent);
}

void register_type() { datatype::register_type(TYPE_ACTION, TYPE_NATIVE, "action!", action_row); }

}  // namespace action

// ---- op! ----

namespace op {

bool two_arguments_q(uint32_t spec_node) {
    int32_t local = symbol::resolve(int32_t(refinements::local.w2));
    int32_t extern_ = symbol::resolve(int32_t(refinements::extern_.w2));
    int32_t count = 0;
    bool plain_word_seen = false;
    SeriesBuffer* s = memory::buffer_of(spec_node);
    const Cell* c = memory::cells_head(s);
    const Cell* end = memory::cells_tail(s);
    for (; c < end; ++c) {
        switch (type_of(c)) {
            case TYPE_WORD:
                count++;
                plain_word_seen = true;
                break;
            case TYPE_LIT_WORD: case TYPE_GET_WORD:
                if (!plain_word_seen) return false;
                count++;
                break;
            case TYPE_REFINEMENT: {
                int32_t r = symbol::resolve(int32_t(c->w2));
                if (r == local || r == extern_) return count == 2;
                return false;
            }
            case TYPE_SET_WORD: return count == 2;
            default: break;
        }
    }
    return count == 2;
}

Cell* make(Cell* proto, Cell* spec, int32_t) {
    Cell s = *spec;
    uint32_t wrapped = type_of(&s);
    switch (wrapped) {
        case TYPE_ACTION: case TYPE_NATIVE: case TYPE_FUNCTION: case TYPE_ROUTINE: break;
        default: fire_with_datatype("invalid-type", wrapped);
    }
    if (!two_arguments_q(s.w2)) fire(ErrorCategory::script, "bad-op-spec");
    if (wrapped == TYPE_FUNCTION || wrapped == TYPE_ROUTINE) {
        SeriesBuffer* more = memory::buffer_of(s.w3);
        if (memory::length_of(more) > 3) memory::internal_cells(more)[3] = s;
    }
    Cell made = s;
    // The wrapped value's own header bits (a routine's arity, a function's
    // trace flags) stay, for the call through the op.
    made.header = (s.header & ~(TYPE_MASK | (0xFFu << OP_TYPE_SHIFT) | FLAG_NEW_LINE)) | TYPE_OP |
                  (wrapped << OP_TYPE_SHIFT);
    return copy_cell(&made, proto);
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) {
    string::concatenate_literal(buffer, "?op?");
    return part - 4;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    bool function = wrapped_type(value) == TYPE_FUNCTION;
    Cell wrapped = *value;  // the value may lie in a buffer that the text's growth moves
    string::concatenate_literal(buffer, "make op! ");
    string::concatenate_literal(buffer, function ? "func " : "[");
    part -= 9 + (function ? 5 : 1);
    Cell spec = spec_block_of(&wrapped);
    part = block::mold(&spec, buffer, only, all, flat, arg, part, indent);
    if (function) {
        const Cell* found = cell_in(wrapped.w3, 0);
        if (found && type_of(found) == TYPE_BLOCK) {
            Cell body = *found;
            part = block::mold(&body, buffer, false, all, flat, arg, part, indent);
        }
        return part;
    }
    string::concatenate_literal(buffer, "]");
    return part - 1;
}

void register_type() { datatype::register_type(TYPE_OP, TYPE_NATIVE, "op!", op_row); }

}  // namespace op


}  // namespace zuv
