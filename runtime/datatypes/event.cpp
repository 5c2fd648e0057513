// event!: make from a spec block, the fields by path and pick, comparison,
// text forms, the event type table and the registration of the row.
#include "runtime/datatypes/event.hpp"

#include <algorithm>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/char.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::event {

namespace {

// The event types in id order (id = position + 1). The text-mode GUI
// backend takes this table over when it comes.
constexpr const char* TYPE_NAMES[TYPE_COUNT] = {
    "down",     "up",        "mid-down", "mid-up",    "alt-down",  "alt-up",   "aux-down", "aux-up",
    "click",    "dbl-click", "wheel",    "over",      "key",       "key-down", "key-up",   "ime",
    "focus",    "unfocus",   "enter",    "zoom",      "pan",       "rotate",   "two-tap",  "press-tap",
    "select",   "change",    "menu",     "close",     "move",      "resize",   "moving",   "resizing",
    "time",     "drawing",   "scroll",   "minimize",  "maximize",  "restore"};

struct Flag {
    const char* name;
    uint32_t bit;
};
// In the order the flags field lists them; command is only ever set.
constexpr Flag FLAGS[] = {{"away", 0x4000000},    {"down", 0x2000000},     {"mid-down", 0x1000000},
                          {"alt-down", 0x800000}, {"aux-down", 0x400000},  {"control", 0x10000000},
                          {"shift", 0x20000000},  {"alt", 0x40000000},     {"command", 0x80000000}};
constexpr int32_t LISTED_FLAGS = 8;

enum Field : int32_t {
    TYPE = 1, FACE, WINDOW, OFFSET, KEY, PICKED, FLAGS_FIELD, AWAY_Q, DOWN_Q, MID_DOWN_Q, ALT_DOWN_Q,
    AUX_DOWN_Q, CTRL_Q, SHIFT_Q, ORIENTATION
};
// The mask each flag field (8-14) tests.
constexpr uint32_t FIELD_MASKS[] = {0x4000000, 0x2000000, 0x1000000, 0x800000, 0x400000, 0x10000000, 0x20000000};

// Canonical symbol ids of the tables' names, made at registration.
int32_t type_symbols[TYPE_COUNT];
int32_t flag_symbols[sizeof FLAGS / sizeof FLAGS[0]];

int32_t canonical(const Cell* word) { return symbol::resolve(int32_t(word->w2)); }

int32_t field_of_symbol(int32_t s) {
    static const int32_t* const names[FIELD_COUNT] = {
        &sym::type,       &sym::face,       &sym::window,     &sym::offset,     &sym::key,
        &sym::picked,     &sym::flags,      &sym::away_q,     &sym::down_q,     &sym::mid_down_q,
        &sym::alt_down_q, &sym::aux_down_q, &sym::ctrl_q,     &sym::shift_q,    &sym::orientation};
    for (int32_t i = 0; i < FIELD_COUNT; i++)
        if (symbol::resolve(*names[i]) == s) return i + 1;
    return -1;
}

Cell none_cell() { return Cell{TYPE_NONE, 0, 0, 0}; }

// Cell k (0-3) of a made event's block: face, window, offset, picked.
bool block_cell(const Cell* event, int32_t k, Cell* out) {
    if (!(event->header & MADE) || event->w2 == 0) return false;
    SeriesBuffer* s = memory::buffer_of(event->w2);
    if (k >= memory::used_bytes(s) / int32_t(sizeof(Cell))) return false;
    *out = memory::cells_head(s)[k];
    return true;
}

// The type id a word names; an unknown word raises script not-event-type.
int32_t checked_type_id(const Cell* word) {
    int32_t id = type_id(word);
    if (id == 0) {
        Cell name = *word;
        fire(ErrorCategory::script, "not-event-type", cell::set_type(&name, TYPE_WORD));
    }
    return id;
}

// ---- actions ----

Cell* make(Cell* proto, Cell* spec, int32_t) {
    uint32_t id = 0, flags = 0;
    Cell parts[4] = {none_cell(), none_cell(), Cell{TYPE_PAIR, 0, 0, 0}, Cell{TYPE_INTEGER, 0, 0, 0}};
    bool has_parts = false;
    if (type_of(spec) == TYPE_BLOCK) {
        SeriesBuffer* s = memory::buffer_of(spec->w2);
        int32_t total = memory::used_bytes(s) / int32_t(sizeof(Cell));
        int32_t head = std::clamp(int32_t(spec->w1), 0, total);
        std::vector<Cell> items(memory::cells_head(s) + head, memory::cells_head(s) + total);
        for (size_t i = 0; i + 1 < items.size(); i++) {
            if (type_of(&items[i]) != TYPE_SET_WORD) continue;
            int32_t field = field_of_symbol(canonical(&items[i]));
            Cell value = items[++i];
            if (type_of(&value) == TYPE_WORD || type_of(&value) == TYPE_GET_WORD) {
                Cell name = value;
                word::get(&name, &value);
            }
            const uint32_t t = type_of(&value);
            switch (field) {
            case TYPE:
                if (t == TYPE_WORD || t == TYPE_LIT_WORD) id = uint32_t(checked_type_id(&value));
                break;
            case KEY:
                if (t == TYPE_CHAR) flags |= value.w2 & 0xFFFF;
                break;
            case FLAGS_FIELD:
                if (t == TYPE_BLOCK) {
                    SeriesBuffer* b = memory::buffer_of(value.w2);
                    int32_t n = memory::used_bytes(b) / int32_t(sizeof(Cell));
                    for (int32_t k = std::max(int32_t(value.w1), 0); k < n; k++) {
                        const Cell* w = memory::cells_head(b) + k;
                        if (type_of(w) == TYPE_WORD) flags |= flag_mask(w);
                    }
                }
                break;
            case FACE: case WINDOW:
                if (t == TYPE_OBJECT) {
                    parts[field == FACE ? 0 : 1] = value;
                    has_parts = true;
                }
                break;
            case OFFSET:
                if (t == TYPE_PAIR || t == TYPE_POINT2D) {
                    parts[2] = value;
                    has_parts = true;
                }
                break;
            case PICKED:
                if (t == TYPE_INTEGER) {
                    parts[3] = value;
                    has_parts = true;
                }
                break;
            default: break;
            }
        }
    }
    // The parts' values are held by the spec block or by words: the block
    // allocation below cannot lose them.
    Node node = 0;
    if (has_parts) {
        Cell* block = block::push_only_star(4);
        for (const Cell& part : parts) block::append_cell(block, &part);
        node = block->w2;
        stack::pop(1);
    }
    cell::begin(proto);
    proto->header |= MADE;
    proto->w1 = id;
    proto->w2 = node;
    proto->w3 = flags;
    return cell::set_type(proto, TYPE_EVENT);
}

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) {
    string::concatenate_literal(buffer, "event");
    return part - 5;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                bool) {
    if (value == nullptr) {
        int32_t field = field_index(element, nullptr);
        if (field < 0) fire(ErrorCategory::script, "invalid-path", path ? path : element, element);
        return get_field(parent, field);
    }
    if (field_index(element, nullptr) != TYPE || type_of(value) != TYPE_WORD)
        fire(ErrorCategory::script, "bad-path-set", path ? path : element, element);
    parent->w1 = uint32_t(checked_type_id(value));
    return value;
}

int32_t compare(Cell*, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_EVENT) return COMPARE_INCOMPARABLE;
    if (op >= COMP_LESSER && op <= COMP_GREATER_EQUAL) return COMPARE_INCOMPARABLE;
    return 0;
}

const Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (boxed && word::any_word_q(type_of(boxed))) index = field_index(boxed, value);
    if (index < 1 || index > FIELD_COUNT) {
        if (boxed) fire(ErrorCategory::script, "out-of-range", boxed);
        Cell n;
        integer::make_at(cell::begin(&n), index);
        fire(ErrorCategory::script, "out-of-range", &n);
    }
    copy_cell(get_field(value, index), value);
    stack::pop(1);
    return value;
}

constexpr SlotEntry row[] = {
    slot<Act::make, &make>,
    NONE, NONE, NONE,                                            // random reflect to
    slot<Act::form, &form>,
    slot<Act::mold, &mold>,
    slot<Act::eval_path, &eval_path>,
    NONE,                                                        // (empty)
    slot<Act::compare, &compare>,
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 21-30
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,              // 31-38
    slot<Act::pick, &pick>,
    NONE,                                                        // 40
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 41-50
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 51-60
    NONE, NONE,                                                  // 61-62
};
ZUV_CHECK_ROW(row);

}  // namespace

int32_t field_index(const Cell* word, const Cell* event) {
    if (!word::any_word_q(type_of(word))) return -1;
    int32_t field = field_of_symbol(canonical(word));
    if (field < 0 && event && type_of(event) == TYPE_EVENT) {
        Cell e = *event;
        fire(ErrorCategory::script, "cannot-use", word, &e);
    }
    return field;
}

Cell* get_field(const Cell* event, int32_t index) {
    const Cell e = *event;
    Cell part;
    switch (index) {
    case TYPE: {
        // An event made without a type has none (ids start at 1).
        if (e.w1 < 1 || e.w1 > uint32_t(TYPE_COUNT)) return none::push();
        Cell* w = stack::push_raw();
        *w = word::from_c_string(TYPE_NAMES[e.w1 - 1]);
        return w;
    }
    case FACE: case WINDOW:
        if (block_cell(&e, index == FACE ? 0 : 1, &part)) return stack::push(&part);
        return none::push();
    case OFFSET:
        if (!block_cell(&e, 2, &part)) part = Cell{TYPE_PAIR, 0, 0, 0};
        return stack::push(&part);
    case KEY: {
        uint32_t cp = e.w3 & 0xFFFF;
        return cp ? char_::push(cp) : none::push();
    }
    case PICKED:
        if (!block_cell(&e, 3, &part)) part = Cell{TYPE_INTEGER, 0, 0, 0};
        return stack::push(&part);
    case FLAGS_FIELD: {
        Cell* block = block::push_only_star(LISTED_FLAGS);
        for (int32_t i = 0; i < LISTED_FLAGS; i++)
            if (e.w3 & FLAGS[i].bit) word::append_from_c_string(FLAGS[i].name, block);
        return block;
    }
    case ORIENTATION: return none::push();
    default:
        if (index >= AWAY_Q && index <= SHIFT_Q) return logic::push((e.w3 & FIELD_MASKS[index - AWAY_Q]) != 0);
        return none::push();
    }
}

uint32_t flag_mask(const Cell* word) {
    int32_t s = canonical(word);
    for (size_t i = 0; i < sizeof FLAGS / sizeof FLAGS[0]; i++)
        if (flag_symbols[i] == s) return FLAGS[i].bit;
    return 0;
}

int32_t type_id(const Cell* word) {
    if (!word::any_word_q(type_of(word))) return 0;
    int32_t s = canonical(word);
    for (int32_t i = 0; i < TYPE_COUNT; i++)
        if (type_symbols[i] == s) return i + 1;
    return 0;
}

Cell* push(const Cell* event) {
    Cell e = *event;
    return stack::push(&e);
}

void register_type() {
    for (int32_t i = 0; i < TYPE_COUNT; i++) type_symbols[i] = symbol::resolve(symbol::make(TYPE_NAMES[i]));
    for (size_t i = 0; i < sizeof FLAGS / sizeof FLAGS[0]; i++)
        flag_symbols[i] = symbol::resolve(symbol::make(FLAGS[i].name));
    datatype::register_type(TYPE_EVENT, 0, "event!", row);
}

}  // namespace zuv::event
