// string! actions: make, to, form, mold with its escapes, compare, path
// access, and the registration of the row.
#include <algorithm>
#include <cstring>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/unicode.hpp"

namespace zuv::string {

namespace {

// A part-limit cell is given when it lies above the call's first argument on
// the data stack (an absent one is null or the cell just below).
inline bool limit_given(const Cell* arg) {
    return series::given(arg, stack::arguments) && type_of(arg) == TYPE_INTEGER;
}

inline Cell* finish(Cell* c, Node node, int32_t type) {
    cell::begin(c)->w2 = node;
    return cell::set_type(c, uint32_t(type));
}

// Forms a value through its datatype's form slot into a string! buffer.
void form_value(Cell* buffer, Cell* value) {
    auto form_fn = get_slot<Act::form>(type_of(value));
    if (form_fn == nullptr) fire_not_done();
    form_fn(value, buffer, nullptr, INT32_MAX);
}

void append_text(Cell* buffer, const char* text) { append_c_string(buffer, text); }
void append_one(Cell* buffer, uint32_t cp) { append_char(buffer, cp); }

// "^" escapes of the code points 0-94 (0 where a character is not escaped).
constexpr auto escape_table = [] {
    struct Table { char entry[95]; } t{};
    const char low[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";
    for (int i = 0; i < 32; i++) t.entry[i] = low[i];
    t.entry[34] = '"';
    t.entry[94] = '^';
    return t;
}();
static_assert(escape_table.entry[10] == '/' && escape_table.entry[9] == '-' && escape_table.entry[31] == '_');

}  // namespace

// --- form and mold helpers --------------------------------------------------

void append_escaped_char(Cell* buffer, uint32_t cp, bool all) {
    // A lone surrogate is written as its escape, the only text of it that loads back.
    bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    if (cp == 30 || (cp >= 128 && cp <= 159) || (all && cp > 127) || surrogate) {
        char text[16] = "^(";
        std::strcat(text, int_to_hex(int32_t(cp), true));
        std::strcat(text, ")");
        append_text(buffer, text);
    } else if (cp < 95 && escape_table.entry[cp] != 0) {
        append_one(buffer, '^');
        append_one(buffer, uint8_t(escape_table.entry[cp]));
    } else if (cp == 127) {
        append_text(buffer, "^~");
    } else {
        append_one(buffer, cp);
    }
}

QuotesAndLines count_quotes_and_lines(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    QuotesAndLines n{0, 0};
    for (; start < end; start += unit) {
        uint32_t c = get_char(start, unit);
        if (c == '"') n.quotes++;
        else if (c == '\n') n.lines++;
    }
    return n;
}

bool brace_closed_q(const uint8_t* p, const uint8_t* end, uint32_t unit) {
    int32_t level = 0;
    for (; p < end; p += unit) {
        uint32_t c = get_char(p, unit);
        if (c == '{') {
            level++;
        } else if (c == '}') {
            if (level == 1) return true;
            level--;
        }
    }
    return false;
}

Cell* load_utf8_binary(const Cell* binary, Cell* target) {
    SeriesBuffer* b = memory::buffer_of(binary->w2);
    int32_t head = std::clamp(int32_t(binary->w1), 0, memory::used_bytes(b));
    int32_t length = memory::used_bytes(b) - head;
    int32_t left = 0;
    Node node = unicode::utf8_series_to_string(binary->w2, head, length, 0, &left, false);
    if (left > 0) {
        // The undecodable bytes at the end, in a binary! of their own.
        Node rest = memory::alloc_bytes(left);
        SeriesBuffer* r = memory::buffer_of(rest);
        b = memory::buffer_of(binary->w2);
        std::memcpy(memory::head_of(r), memory::head_of(b) + head + length - left, size_t(left));
        r->tail = r->head + left;
        Cell arg;
        finish(&arg, rest, TYPE_BINARY);
        fire(ErrorCategory::access, "invalid-utf8", &arg);
    }
    return finish(target, node, TYPE_STRING);
}

// --- action slots -----------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
        int32_t n;
        if (type_of(spec) == TYPE_FLOAT) {
            if (integer::float_out_of_range_q(spec)) fire(ErrorCategory::script, "out-of-range", spec);
            n = int32_t(cell::get_float(spec));
        } else {
            n = integer::get_value(spec);
        }
        if (n < 0) fire(ErrorCategory::script, "out-of-range", spec);
        return finish(proto, memory::alloc_codepoints(n, 1), type);
    }
    default:
        break;
    }
    if (type == TYPE_BINARY) {
        if (type_of(spec) == TYPE_MONEY) {
            fire_with_datatype("bad-make-arg", TYPE_BINARY, spec);
        }
        auto to_binary = get_slot<Act::to>(TYPE_BINARY);
        if (to_binary == nullptr) fire_not_done();  // binary! is not registered yet
        return to_binary(proto, spec, type);
    }
    return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    // The result is built in proto, the call's result slot, so that the
    // collector sees the new series while it is filled.
    switch (type_of(spec)) {
    case TYPE_NONE: {
        fire_bad_to_arg(TYPE_STRING, spec);
    }
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
        const Cell block = *spec;
        zs_make_at(proto, 16);
        int32_t head = std::max(int32_t(block.w1), 0);
        for (int32_t i = head;; i++) {
            SeriesBuffer* b = memory::buffer_of(block.w2);  // forming may move it
            if (i >= memory::used_bytes(b) / int32_t(sizeof(Cell))) break;
            Cell element = memory::cells_head(b)[i];
            form_value(proto, &element);
        }
        break;
    }
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: {
        Cell source = *spec;
        int32_t n = get_length(&source);
        finish(proto, cell::copy_part(source.w2, int32_t(source.w1), n), TYPE_STRING);
        break;
    }
    case TYPE_REFINEMENT: {
        Cell value = *spec;
        zs_make_at(proto, 16);
        if (type == TYPE_STRING) {
            form_value(proto, &value);
        } else {
            auto mold_fn = get_slot<Act::mold>(TYPE_REFINEMENT);
            if (mold_fn == nullptr) fire_not_done();
            mold_fn(&value, proto, false, false, false, nullptr, INT32_MAX, 0);
        }
        break;
    }
    case TYPE_BINARY:
        load_utf8_binary(spec, proto);
        break;
    default: {
        Cell value = *spec;
        zs_make_at(proto, 16);
        form_value(proto, &value);
        break;
    }
    }
    return cell::set_type(proto, uint32_t(type));
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    int32_t limit = limit_given(arg) ? integer::get_value(arg) : -1;
    concatenate(buffer, value, limit, 0, true, CONCAT_APPEND);
    return part - rs_length_q(value);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell* arg, int32_t part, int32_t) {
    const int32_t length = get_length(value);  // pulls a head past the tail back
    const int32_t head = int32_t(value->w1);
    int32_t n = length;
    if (limit_given(arg) && integer::get_value(arg) != 0) n = std::clamp(part, 0, length);

    // Positions are re-derived after every append: the output may grow into
    // a collection that moves the value's buffer.
    auto at = [&](int32_t i) {
        SeriesBuffer* s = string::buffer(value);
        return memory::head_of(s) + (int64_t(i) << unit_shift(memory::unit_of(s)));
    };
    const uint32_t unit = memory::unit_of(string::buffer(value));
    const QuotesAndLines counts = count_quotes_and_lines(at(head), at(head + n), unit);
    const bool braces = counts.lines >= 3 || counts.quotes >= 1 || length >= 50;

    append_one(buffer, braces ? '{' : '"');
    bool balanced = true;
    int32_t open = 0;
    for (int32_t i = head; i < head + n; i++) {
        uint32_t c = char_at(value, i);
        if (!braces) {
            append_escaped_char(buffer, c, all);
        } else if (c == '{') {
            if (balanced && !brace_closed_q(at(i), at(head + n), unit)) balanced = false;
            if (balanced) {
                open++;
                append_one(buffer, '{');
            } else {
                append_text(buffer, "^{");
            }
        } else if (c == '}') {
            if (open < 1) {
                append_text(buffer, "^}");
            } else {
                open--;
                append_one(buffer, '}');
            }
        } else if (c == '"') {
            append_one(buffer, '"');
        } else if (c == '^') {
            append_text(buffer, "^^");
        } else {
            append_escaped_char(buffer, c, all);
        }
    }
    append_one(buffer, braces ? '}' : '"');
    return part - n - 2;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool case_q, bool,
                bool, bool) {
    switch (type_of(element)) {
    case TYPE_INTEGER: {
        int32_t index = integer::get_value(element);
        if (value == nullptr || type_of(value) == TYPE_NONE) {
            auto pick = get_slot<Act::pick>(TYPE_SERIES);
            if (pick == nullptr) fire_not_done();
            return pick(parent, index, nullptr);
        }
        auto poke = get_slot<Act::poke>(TYPE_SERIES);
        if (poke == nullptr) fire_not_done();
        return poke(parent, index, value, nullptr);
    }
    case TYPE_WORD:
        fire(ErrorCategory::script, "invalid-path", path, element);
    default:
        break;
    }
    // Any other key selects the character after its first match; setting
    // pokes that character.
    if (value == nullptr || type_of(value) == TYPE_NONE)
        return select(parent, element, nullptr, false, case_q, false, false, nullptr, nullptr, false, false);
    Cell* saved_top = stack::top;
    Cell* found = find(parent, element, nullptr, false, case_q, false, false, nullptr, nullptr, false, false, true,
                       false);
    if (type_of(found) == TYPE_NONE) fire(ErrorCategory::script, "bad-path-set", path ? path : element, found);
    if (!actions::call_poke(found, 1, value, element)) return nullptr;  // raised: the stacks are its try's
    stack::top = saved_top;
    return value;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value1) != type_of(value2)) {
        if (!any_string_q(type_of(value2)) || (op != COMP_EQUAL && op != COMP_NOT_EQUAL)) return COMPARE_INCOMPARABLE;
    }
    return compare_text(value1, value2, op, false);
}

// --- registration -----------------------------------------------------------

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &string::make>,
    INHERIT,                                          // random
    INHERIT,                                          // reflect
    slot<Act::to, &string::to>,
    slot<Act::form, &string::form>,
    slot<Act::mold, &string::mold>,
    slot<Act::eval_path, &string::eval_path>,
    NONE,                                             // (empty)
    slot<Act::compare, &string::compare>,
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20 math
    NONE, NONE, NONE, NONE,                                      // 21-24 logic
    slot<Act::append, &string::append>,
    INHERIT, INHERIT,                                 // at, back
    slot<Act::change, &string::change>,
    INHERIT, INHERIT,                                 // clear, copy
    slot<Act::find, &string::find>,
    INHERIT, INHERIT, INHERIT,                        // head, head?, index?
    slot<Act::insert, &string::insert>,
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,      // length?, move, next, pick, poke
    NONE,                                             // put
    INHERIT, INHERIT,                                 // remove, reverse
    slot<Act::select, &string::select>,
    slot<Act::sort, &string::sort>,
    INHERIT,                                          // skip
    slot<Act::swap, &string::swap>,
    INHERIT, INHERIT,                                 // tail, tail?
    slot<Act::take, &string::take>,
    slot<Act::trim, &string::trim>,
    NONE, NONE, NONE,                                 // create, close, delete
    INHERIT,                                          // modify
    NONE, NONE, NONE, NONE, NONE, NONE, NONE,         // open ... write
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() {
    allocate_scratch();
    datatype::register_type(TYPE_STRING, TYPE_SERIES, "string!", row);
}

}  // namespace zuv::string
