// typeset!: construction, set operations, text, comparison and the
// registration row.
#include "runtime/datatypes/typeset.hpp"

#include <string>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"

namespace zuv::typeset {

namespace {

// Registered ids with their bit set, ascending, until visit returns false.
template <class Visit>
void for_each_member(const Cell* ts, Visit&& visit) {
    for (int32_t t = 1; t <= datatype::highest_type && t < int32_t(BITS); t++)
        if (datatype::type_names[t].name && has_q(ts, uint32_t(t)) && !visit(t)) return;
}

// The cell at index i of a block value's series, copied (by value: a word
// lookup or an error may run between two reads).
bool read_element(const Cell* block, int32_t i, Cell* out) {
    SeriesBuffer* s = memory::buffer_of(block->w2);
    if (i >= memory::length_of(s)) return false;
    *out = memory::cells_head(s)[i];
    return true;
}

int32_t first_index(const Cell* block) { return int32_t(block->w1) < 0 ? 0 : int32_t(block->w1); }

}  // namespace

Cell* make_from_ids(Cell* c, const uint8_t* ids, int32_t count) {
    make_at(c);
    for (int32_t i = 0; i < count; i++) add(c, ids[i]);
    return c;
}

Cell* make_any_at(Cell* c) {
    make_at(c);
    c->w1 = c->w2 = c->w3 = ~0u;
    uint8_t bytes[12];
    std::memcpy(bytes, &c->w1, sizeof bytes);
    bytes[TYPE_UNSET >> 3] &= uint8_t(~(0x80u >> (TYPE_UNSET & 7)));
    std::memcpy(&c->w1, bytes, sizeof bytes);
    return c;
}

int32_t count(const Cell* ts) {
    int32_t n = 0;
    for_each_member(ts, [&](int32_t) { return ++n, true; });
    return n;
}

Cell* make_in(const Cell* block, uint32_t w1, uint32_t w2, uint32_t w3) {
    Cell* c = make_at(cell::append_new_cell(block));
    c->w1 = w1;
    c->w2 = w2;
    c->w3 = w3;
    return c;
}

Cell* make_in_any(const Cell* block) {
    Cell ts;
    make_any_at(cell::begin(&ts));
    return copy_cell(&ts, cell::append_new_cell(block));
}

Cell* make_in_from_block(const Cell* block, const Cell* spec) {
    Cell ts;
    make_at(cell::begin(&ts));
    Cell item;
    for (int32_t i = first_index(spec); read_element(spec, i, &item); i++) {
        Cell v = item;
        if (type_of(&item) == TYPE_WORD) word::get(&item, &v);
        switch (type_of(&v)) {
            case TYPE_DATATYPE: add(&ts, v.w1); break;
            case TYPE_TYPESET: merge(&ts, &v); break;
            case TYPE_WORD: add(&ts, TYPE_OBJECT); break;  // a word naming a word
            case TYPE_BLOCK: break;
            default: fire(ErrorCategory::script, "invalid-type-spec", &item);
        }
    }
    return copy_cell(&ts, cell::append_new_cell(block));
}

void add_type(Cell* ts, const Cell* value) {
    Cell v = *value;
    if (type_of(value) == TYPE_WORD) word::get(value, &v);
    switch (type_of(&v)) {
        case TYPE_TYPESET: merge(ts, &v); break;
        case TYPE_DATATYPE: add(ts, v.w1); break;
        default: fire(ErrorCategory::script, "invalid-arg", value);
    }
}

Cell* combine(int32_t op) {
    Cell* a = stack::arguments;
    const Cell* b = a + 1;
    if (op == block::SET_UNIQUE) return a;
    Cell other;
    if (type_of(b) == TYPE_TYPESET) other = *b;
    else if (type_of(b) == TYPE_DATATYPE) make_from_ids(cell::begin(&other), {uint8_t(b->w1)});
    else fire(ErrorCategory::script, "invalid-arg", b);

    uint32_t x[3] = {a->w1, a->w2, a->w3};
    const uint32_t y[3] = {other.w1, other.w2, other.w3};
    for (int i = 0; i < 3; i++) {
        switch (op) {
            case OP_OR: case block::SET_UNION: x[i] |= y[i]; break;
            case OP_AND: case block::SET_INTERSECT: x[i] &= y[i]; break;
            case OP_XOR: case block::SET_DIFFERENCE: x[i] ^= y[i]; break;
            case block::SET_EXCLUDE: x[i] &= ~y[i]; break;
            default: break;
        }
    }
    make_at(cell::begin(a));
    a->w1 = x[0];
    a->w2 = x[1];
    a->w3 = x[2];
    return a;
}

Cell* push(const Cell* ts) { return stack::push(ts); }

Cell* to_block(const Cell* ts, Cell* block) {
    Cell set = *ts;  // ts may lie in a series that the block's growth moves
    block::make_at(block, 4);
    for_each_member(&set, [&](int32_t t) {
        Cell word = datatype::type_names[t].word;
        if (type_of(&word) != TYPE_WORD) word = word::from_c_string(datatype::type_names[t].name);
        block::append_cell(block, &word);
        return true;
    });
    return block;
}

void init_words() {
    auto of = [](std::initializer_list<uint8_t> ids) {
        Cell c;
        return *make_from_ids(cell::begin(&c), ids);
    };
    auto with = [](Cell c, std::initializer_list<const Cell*> others) {
        for (const Cell* o : others) merge(&c, o);
        return c;
    };
    Cell number = of({TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT});
    Cell planar = of({TYPE_PAIR, TYPE_POINT2D});
    Cell any_point = of({TYPE_POINT2D, TYPE_POINT3D});
    Cell scalar = with(of({TYPE_MONEY, TYPE_CHAR, TYPE_PAIR, TYPE_TUPLE, TYPE_TIME, TYPE_DATE}), {&number, &any_point});
    Cell any_word = of({TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD});
    Cell all_word = with(of({TYPE_REFINEMENT, TYPE_ISSUE}), {&any_word});
    Cell any_list = of({TYPE_BLOCK, TYPE_PAREN, TYPE_HASH});
    Cell any_path = of({TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH});
    Cell any_block = with(any_path, {&any_list});
    Cell any_function = of({TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE});
    Cell any_object = of({TYPE_OBJECT, TYPE_ERROR, TYPE_PORT});
    Cell any_string = of({TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF});
    Cell series = with(of({TYPE_BINARY, TYPE_IMAGE, TYPE_VECTOR}), {&any_block, &any_string});
    Cell immediate = with(of({TYPE_NONE, TYPE_LOGIC, TYPE_DATATYPE, TYPE_TYPESET, TYPE_HANDLE, TYPE_DATE}),
                          {&scalar, &all_word});
    Cell any_type;
    make_at(cell::begin(&any_type));
    any_type.w1 = any_type.w2 = any_type.w3 = ~0u;

    const struct {
        const char* name;
        const Cell* value;
    } words[] = {
        {"number!", &number},       {"planar!", &planar},         {"any-point!", &any_point},
        {"scalar!", &scalar},       {"any-word!", &any_word},     {"all-word!", &all_word},
        {"any-list!", &any_list},   {"any-path!", &any_path},     {"any-block!", &any_block},
        {"any-function!", &any_function}, {"any-object!", &any_object}, {"any-string!", &any_string},
        {"series!", &series},       {"immediate!", &immediate},   {"any-type!", &any_type},
    };
    for (const auto& w : words) _context::set_global_value(symbol::make(w.name), w.value);
}

// ---- slot functions ----

Cell* make(Cell*, Cell* spec, int32_t) {
    if (type_of(spec) == TYPE_TYPESET) return spec;
    Cell* ts = make_at(cell::begin(stack::push_raw()));
    if (type_of(spec) != TYPE_BLOCK) {
        fire_bad_to_arg(TYPE_TYPESET, spec);
    }
    Cell item;
    for (int32_t i = first_index(spec); read_element(spec, i, &item); i++) add_type(ts, &item);
    return ts;
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool, Cell*, int32_t part, int32_t) {
    std::string text;
    if (!only) {
        text = "make typeset! [";
        part -= 15;
    }
    bool cut = false;
    for_each_member(value, [&](int32_t t) {
        if (part < 0) {
            cut = true;
            return false;
        }
        const datatype::TypeName& name = datatype::type_names[t];
        text += name.name;
        text += ' ';
        part -= name.length + 2;  // the name, its "!" and the space
        return true;
    });
    if (!cut) {
        bool trailing_space = !text.empty() && text.back() == ' ';
        if (only) {
            if (trailing_space) {
                text.pop_back();
                part++;
            }
        } else if (trailing_space) {
            text.back() = ']';
        } else {
            text += ']';
            part--;
        }
    }
    string::concatenate_literal(buffer, text.c_str());
    return part;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return mold(value, buffer, false, false, false, arg, part, 0);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_TYPESET) return COMPARE_INCOMPARABLE;
    switch (op) {
        case COMP_LESSER:
        case COMP_LESSER_EQUAL:
        case COMP_GREATER:
        case COMP_GREATER_EQUAL: return COMPARE_INCOMPARABLE;  // typesets have no order
        case COMP_SORT:
        case COMP_CASE_SORT: {
            int32_t a = count(value1), b = count(value2);
            return (a > b) - (a < b);
        }
        default:
            return value1->w1 == value2->w1 && value1->w2 == value2->w2 && value1->w3 == value2->w3 ? 0 : 1;
    }
}

void and_t() { combine(OP_AND); }
void or_t() { combine(OP_OR); }
void xor_t() { combine(OP_XOR); }

Cell* complement(Cell* value) {
    value->w1 = ~value->w1;
    value->w2 = ~value->w2;
    value->w3 = ~value->w3;
    return value;
}

Cell* find(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    if (type_of(value) != TYPE_DATATYPE) fire(ErrorCategory::script, "invalid-arg", value);
    return logic::make_at(series, has_q(series, value->w1));
}

// ---- registration ----

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &typeset::make>,
    NONE,                                  // random
    NONE,                                  // reflect
    slot<Act::to, &typeset::make>,
    slot<Act::form, &typeset::form>,
    slot<Act::mold, &typeset::mold>,
    NONE,                                  // eval-path
    NONE,                                  // (never filled)
    slot<Act::compare, &typeset::compare>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 10-20
    slot<Act::and_t, &typeset::and_t>,
    slot<Act::complement, &typeset::complement>,
    slot<Act::or_t, &typeset::or_t>,
    slot<Act::xor_t, &typeset::xor_t>,
    NONE, NONE, NONE, NONE, NONE, NONE,                          // 25-30
    slot<Act::find, &typeset::find>,
    NONE, NONE, NONE,                                            // 32-34
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 35-44
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 45-54
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,              // 55-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_TYPESET, 0, "typeset!", row); }

}  // namespace zuv::typeset
