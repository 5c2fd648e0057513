// The decoder: ZUVBIN bytes (either layout, compressed or not) into values
// appended to a block, in codec mode or in boot mode.
//
// Every value is appended to its block before the records inside it are
// read, so a reference path met among them may name the value itself. A
// block being filled is held by its node, and a cell of it by its index:
// appending may move the buffer, and the collector is held off meanwhile so
// nodes keep their ids.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "lexer/serialize/zuvbin.hpp"
#include "runtime/collector.hpp"
#include "runtime/compressor.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/hash_type.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error_catalog.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/root.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"
#include "runtime/datatypes/symbol.hpp"

namespace zuv::zuvbin {

namespace {

constexpr int32_t MAX_DEPTH = 2000;      // nesting of records; deeper input is refused
constexpr int32_t MAX_PATH = 0x10000;    // indexes in one reference path
constexpr uint32_t STD_REFERENCE = 1u << 19;
constexpr uint32_t STD_GLOBAL = 1u << 25;
constexpr uint32_t STD_NEW_LINE = 1u << 31;

// Storage classes: a reference may only retype a value within its class.
int32_t storage_class(uint32_t type) {
    switch (type) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
        return TYPE_BLOCK;
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        return TYPE_STRING;
    default: return int32_t(type);
    }
}

bool series_record_q(uint32_t type) {
    switch (type) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_HASH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_BINARY: case TYPE_VECTOR: case TYPE_BITSET: case TYPE_MAP: case TYPE_IMAGE:
        return true;
    default: return false;
    }
}

bool any_word_type_q(uint32_t type) {
    return type == TYPE_WORD || type == TYPE_SET_WORD || type == TYPE_LIT_WORD || type == TYPE_GET_WORD ||
           type == TYPE_REFINEMENT;
}

Cell block_cell(Node node) { return Cell{TYPE_BLOCK, 0, node, 0}; }

int32_t length_of(Node node) { return memory::length_of(memory::buffer_of(node)); }
const Cell* cell_at(Node node, int32_t i) { return memory::cells_head(memory::buffer_of(node)) + i; }
Cell* cell_for_write(Node node, int32_t i) { return memory::cells_for_write(memory::buffer_of(node)) + i; }

// Appends a copy of v to the block's series; answers its index.
int32_t append(Node into, const Cell& v) {
    Cell b = block_cell(into);
    Cell copy = v;
    block::append_cell(&b, &copy);
    return length_of(into) - 1;
}

class Decoder {
public:
    Decoder(const uint8_t* base, bool boot, Node target) : base_(base), boot_(boot), target_(target) {}

    void run(const uint8_t* start, const uint8_t* end, bool compact, bool symbols);

private:
    const uint8_t* base_;  // positions in errors count from here
    bool boot_;
    Node target_;
    bool compact_ = true;
    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
    const uint8_t* offsets_ = nullptr;
    const uint8_t* strings_ = nullptr;
    int32_t symbol_count_ = 0;
    int32_t strings_size_ = 0;
    std::vector<int32_t> symbol_ids_;
    int32_t root_base_ = 0;
    int32_t depth_ = 0;

    [[noreturn]] void invalid(const uint8_t* at) {
        Cell position;
        integer_at(&position, int32_t(at - base_) + 1);
        fire(ErrorCategory::script, "zb-invalid-record", &position);
    }
    [[noreturn]] void invalid() { invalid(p_); }
    static void integer_at(Cell* c, int32_t v) {
        cell::begin(c)->w2 = uint32_t(v);
        cell::set_type(c, TYPE_INTEGER);
    }

    // ---- primitive readers ----
    size_t left() const { return size_t(end_ - p_); }
    uint32_t byte() {
        if (p_ >= end_) invalid();
        return *p_++;
    }
    uint32_t varint() {
        const uint8_t* start = p_;
        uint32_t v = 0;
        for (int i = 0; i < 5; i++) {
            uint32_t b = byte();
            if (i == 4 && b >= 0x10) invalid(start);
            v |= (b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        invalid(start);
    }
    int32_t zigzag() {
        uint32_t v = varint();
        return int32_t((v >> 1) ^ (0u - (v & 1)));
    }
    uint32_t raw4() {
        if (left() < 4) invalid();
        uint32_t v = uint32_t(p_[0]) | uint32_t(p_[1]) << 8 | uint32_t(p_[2]) << 16 | uint32_t(p_[3]) << 24;
        p_ += 4;
        return v;
    }
    double raw8() {
        uint64_t low = raw4(), high = raw4();
        uint64_t bits = high << 32 | low;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    double high_low() {  // the standard layout's double: high word first
        uint64_t high = raw4(), low = raw4();
        uint64_t bits = high << 32 | low;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    // A count, length or index of the layout: never negative.
    int32_t count() {
        const uint8_t* at = p_;
        uint32_t v = compact_ ? varint() : raw4();
        if (int32_t(v) < 0) invalid(at);
        return int32_t(v);
    }
    // A count of items each taking at least unit bytes of what is left.
    int32_t count_of(size_t unit) {
        const uint8_t* at = p_;
        int32_t n = count();
        if (uint64_t(n) * unit > left()) invalid(at);
        return n;
    }
    void need(uint64_t bytes) {
        if (bytes > left()) invalid();
    }
    void skip_padding() {
        while ((p_ - records_start_) % 4) byte();
    }
    const uint8_t* records_start_ = nullptr;

    int32_t symbol();
    int32_t intern(uint32_t i, const uint8_t* at);
    void read_header(bool symbols);

    // ---- records ----
    void record(Node into);
    void typed(Node into, uint32_t type, bool alternate, bool reference, bool new_line, uint32_t header,
               const uint8_t* at);
    Cell resolve_path();
    Cell reference_record(const uint8_t* at);
    uint32_t compact_tag(bool& new_line, bool& reference, bool* set);
    void series(Node into, uint32_t type, bool alternate, bool reference, uint32_t header, Cell& made,
                const uint8_t* record_at);
    Node context_body(bool& values_present, bool object);
    void context_values(Node ctx, int32_t n);
    void object_record(Node into, bool alternate, bool reference, uint32_t header, bool append_it, Cell& made);
    void function_record(Node into, bool reference, bool append_it, Cell& made);
    void function_block(Node fn_ctx, bool body);
    void word_record(Node into, uint32_t type, bool alternate, bool reference, uint32_t header, Cell& made);
    void bound_word(Node ctx, uint32_t type, int32_t sym, int32_t index, const uint8_t* at, Cell& made);
    void bind_pending(Node ctx);
    struct PendingWord {
        bool active = false;
        Node block = 0;
        int32_t position = 0;
        uint32_t type = 0;
        int32_t symbol = 0;
        int32_t index = -1;
        const uint8_t* at = nullptr;
    } pending_;
    Node carrier_context(const Cell& c, const uint8_t* at);
    void context_reference(Node into, uint32_t type, bool append_it, Cell& made);
    void builtin_record(Node into, uint32_t type, Cell& made, const uint8_t* at);
    void error_record(Node into, Cell& made, const uint8_t* at);
    void money_record(bool negative, Cell& made, const uint8_t* at);
    void image_record(Node into, bool alternate, bool reference, Cell& made, const uint8_t* at);
    void descend(Cell& current, int32_t index, const uint8_t* at);
};

int32_t Decoder::symbol() {
    const uint8_t* at = p_;
    uint32_t i = compact_ ? varint() : raw4();
    if (i >= uint32_t(symbol_count_)) invalid(at);
    return intern(i, at);
}

int32_t Decoder::intern(uint32_t i, const uint8_t* at) {
    if (symbol_ids_[i] >= 0) return symbol_ids_[i];
    const uint8_t* o = offsets_ + 4 * size_t(i);
    uint32_t offset = uint32_t(o[0]) | uint32_t(o[1]) << 8 | uint32_t(o[2]) << 16 | uint32_t(o[3]) << 24;
    if (offset >= uint32_t(strings_size_)) invalid(at);
    const uint8_t* name = strings_ + offset;
    size_t length = std::strlen(reinterpret_cast<const char*>(name));  // the area ends with a NUL
    if (length == 0) invalid(at);
    for (const uint8_t* c = name; c < name + length;) {
        int32_t cp;
        c = unicode::decode_utf8_bounded(c, name + length, &cp);
        if (cp < 0) invalid(at);  // names are valid UTF-8
    }
    symbol_ids_[i] = symbol::make_from_utf8(name, int32_t(length));
    return symbol_ids_[i];
}

// Checks the header areas of either layout and positions at the records.
void Decoder::read_header(bool symbols) {
    auto pair = [&](int32_t& first, int32_t& second) {
        const uint8_t* start = p_;
        uint32_t a = compact_ ? varint() : raw4();
        uint32_t b = compact_ ? varint() : raw4();
        if (p_ - start > 20 || int32_t(a) < 0 || int32_t(b) < 0) invalid(start);
        first = int32_t(a);
        second = int32_t(b);
    };
    int32_t records, payload;
    pair(records, payload);
    if (symbols) {
        pair(symbol_count_, strings_size_);
        if (uint64_t(symbol_count_) * 4 > left()) invalid();
        offsets_ = p_;
        p_ += 4 * size_t(symbol_count_);
        if (uint64_t(strings_size_) > left()) invalid();
        strings_ = p_;
        if (strings_size_ > 0 && strings_[strings_size_ - 1] != 0) invalid(p_ + strings_size_ - 1);
        if (symbol_count_ > 0 && strings_size_ == 0) invalid();
        p_ += strings_size_;
    }
    if (uint64_t(payload) > left()) invalid();
    if (!compact_ && payload % 4) invalid();
    end_ = p_ + payload;
    records_start_ = p_;
    symbol_ids_.assign(size_t(symbol_count_), -1);
    // The boot image interns its whole table first, in table order, so that
    // symbol ids do not depend on the order the records name them.
    if (boot_)
        for (int32_t i = 0; i < symbol_count_; i++) intern(uint32_t(i), p_);
}

void Decoder::run(const uint8_t* start, const uint8_t* end, bool compact, bool symbols) {
    compact_ = compact;
    p_ = start;
    end_ = end;
    if (boot_) root_base_ = length_of(target_);
    read_header(symbols);
    while (p_ < end_) record(target_);
}

// ---- references ----

// One level down from a value by an index counted from its storage's first element.
void Decoder::descend(Cell& current, int32_t index, const uint8_t* at) {
    uint32_t type = type_of(&current);
    if (type == TYPE_OP && op::wrapped_type(&current) == TYPE_FUNCTION) type = TYPE_FUNCTION;
    switch (type) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_HASH: case TYPE_MAP: case TYPE_NATIVE: case TYPE_ACTION:
        if (index >= length_of(current.w2)) invalid(at);
        current = *cell_at(current.w2, index);
        return;
    case TYPE_OBJECT: case TYPE_ERROR: case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
    case TYPE_REFINEMENT: {
        Node ctx = current.w1;
        if (!ctx || ctx == _context::global) invalid(at);
        Cell header = *_context::cell_of(ctx);
        if (_context::on_stack_q(&header)) {
            current = *_context::own_value(ctx);
            if (type_of(&current) != TYPE_FUNCTION) invalid(at);
            return descend(current, index, at);
        }
        if (type == TYPE_ERROR) index += error::FIELD_ARG1;
        if (!header.w2 || index >= length_of(header.w2)) invalid(at);
        current = *cell_at(header.w2, index);
        return;
    }
    case TYPE_FUNCTION: case TYPE_OP: {
        if (index == 0) {
            current = block_cell(current.w2);
        } else if (index == 1 && type == TYPE_FUNCTION) {
            const Cell* body = function::more_cell(&current, function::MORE_BODY);
            if (!body || type_of(body) != TYPE_BLOCK) invalid(at);
            current = *body;
        } else {
            invalid(at);
        }
        return;
    }
    default: invalid(at);
    }
}

Cell Decoder::resolve_path() {
    const uint8_t* start = p_;
    int32_t n = count();
    if (n < 1 || n > MAX_PATH || size_t(n) > left()) invalid(start);
    Cell current = block_cell(target_);
    for (int32_t i = 0; i < n; i++) {
        const uint8_t* index_at = p_;
        int32_t index = count();
        descend(current, index, index_at);
    }
    return current;
}

// The standard layout's reference record: header 255, count, indexes.
Cell Decoder::reference_record(const uint8_t* at) {
    if (compact_) return resolve_path();
    if ((raw4() & 0xFF) != 255) invalid(at);
    return resolve_path();
}

// ---- records ----

// The prefix bytes of a compact record (new line, reference and, where set
// is given, set), then its tag byte, which is answered.
uint32_t Decoder::compact_tag(bool& new_line, bool& reference, bool* set) {
    for (;;) {
        uint32_t t = byte();
        if (t == 0xC0) new_line = true;
        else if (t == 0xC1) reference = true;
        else if (t == 0xC4 && set) *set = true;
        else return t;
    }
}

void Decoder::record(Node into) {
    if (++depth_ > MAX_DEPTH) invalid();
    const uint8_t* at = p_;
    bool new_line = false, reference = false, set = false;
    uint32_t type, header = 0;
    bool alternate = false;
    if (compact_) {
        uint32_t t = compact_tag(new_line, reference, &set);
        if (set && !boot_) invalid(at);
        if (t >= 0x80) {
            if (reference || set) invalid(p_ - 1);
            Cell v;
            if (t <= 0xBF) {
                integer_at(&v, int32_t(t & 0x3F));
            } else if (t == 0xC2 || t == 0xC3) {
                cell::begin(&v)->w1 = t == 0xC2;
                cell::set_type(&v, TYPE_LOGIC);
            } else if (t == 0xFF) {
                v = resolve_path();
            } else {
                invalid(p_ - 1);
            }
            if (new_line) v.header |= FLAG_NEW_LINE;
            append(into, v);
            depth_--;
            return;
        }
        alternate = (t & 0x40) != 0;
        type = t & 0x3F;
        if (type == 0x3F) type = varint();
    } else {
        header = raw4();
        while ((header & 0xFF) == 0) {  // fillers
            if (p_ >= end_) invalid(at);
            at = p_;
            header = raw4();
        }
        type = header & 0xFF;
        new_line = (header & STD_NEW_LINE) != 0;
        if (type == 255) {
            p_ -= 4;
            Cell v = reference_record(at);
            append(into, v);
            depth_--;
            return;
        }
        // Bit 19 marks a reference only where the type has one (an op keeps
        // the wrapped type in bits 16-23).
        reference = (header & STD_REFERENCE) != 0 &&
                    (series_record_q(type) || any_word_type_q(type) || type == TYPE_OBJECT || type == TYPE_FUNCTION);
        if (any_word_type_q(type)) {
            if (boot_) set = (header & STD_GLOBAL) != 0;
            else reference = reference && !(header & STD_GLOBAL);
        }
    }
    if (type == TYPE_ROUTINE || type == TYPE_TRIPLE || type == TYPE_HANDLE || type == TYPE_PORT || type == TYPE_EVENT) {
        Cell datatype;
        datatype::make_at(&datatype, int32_t(type));
        fire(ErrorCategory::access, "no-codec", &datatype);  // no serialized form
    }
    if (type == 0 || type >= TYPE_TOTAL || !datatype::known_q(int32_t(type))) invalid(at);
    if (set) {
        if (!any_word_type_q(type)) invalid(at);
        int32_t mark = length_of(into);
        Cell word{};
        word_record(into, type, alternate, reference, header, word);
        record(into);
        Cell value = *cell_at(into, length_of(into) - 1);
        Cell w = word;
        if (!w.w1) invalid(at);
        word::set(&w, &value);
        Cell b = block_cell(into);
        block::truncate_at(&b, mark);
        depth_--;
        return;
    }
    typed(into, type, alternate, reference, new_line, header, at);
    depth_--;
}

void Decoder::typed(Node into, uint32_t type, bool alternate, bool reference, bool new_line, uint32_t header,
                    const uint8_t* at) {
    Cell made{};
    int32_t index = -1;
    if (reference && !series_record_q(type) && !any_word_type_q(type) && type != TYPE_OBJECT &&
        type != TYPE_FUNCTION)
        invalid(at);
    switch (type) {
    case TYPE_UNSET: case TYPE_NONE:
        made.header = type;
        break;
    case TYPE_LOGIC:
        if (compact_) invalid(at);
        made.w1 = raw4() != 0;
        made.header = type;
        break;
    case TYPE_DATATYPE: {
        const uint8_t* v_at = p_;
        int32_t id = int32_t(compact_ ? varint() : raw4());
        if (!datatype::known_q(id)) invalid(v_at);
        datatype::make_at(&made, id);
        break;
    }
    case TYPE_CHAR: {
        const uint8_t* v_at = p_;
        uint32_t cp = compact_ ? varint() : raw4();
        if (cp > 0x10FFFF) invalid(v_at);
        made = Cell{TYPE_CHAR, 0, cp, 0};
        break;
    }
    case TYPE_INTEGER:
        integer_at(&made, compact_ ? zigzag() : int32_t(raw4()));
        break;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: {
        double d;
        if (!compact_) d = high_low();
        else if (!alternate) d = raw8();
        else {
            int32_t i = zigzag();
            d = type == TYPE_PERCENT ? i / 100.0 : double(i);
        }
        made.header = type;
        cell::put_float(&made, d);
        break;
    }
    case TYPE_PAIR:
        made.header = type;
        made.w2 = compact_ ? uint32_t(zigzag()) : raw4();
        made.w3 = compact_ ? uint32_t(zigzag()) : raw4();
        break;
    case TYPE_POINT2D: case TYPE_POINT3D:
        made.header = type;
        made.w1 = raw4();
        made.w2 = raw4();
        if (type == TYPE_POINT3D) made.w3 = raw4();
        break;
    case TYPE_DATE: {
        const uint8_t* v_at = p_;
        uint32_t packed = raw4();
        bool timed = (packed & date::TIME_FLAG) != 0;
        double seconds = 0.0;
        if (compact_) {
            if (timed != alternate) invalid(v_at);
            if (timed) seconds = raw8();
        } else {
            seconds = high_low();
            if (!timed) seconds = 0.0;
        }
        int32_t month = date::month_of(packed), day = int32_t((packed >> 7) & 0x1F);
        if (month < 1 || month > 12 || day < 1 || !std::isfinite(seconds)) invalid(v_at);
        made.header = type;
        made.w1 = packed;
        cell::put_float(&made, seconds);
        break;
    }
    case TYPE_TYPESET: {
        uint8_t b[12] = {};
        int32_t n = 12;
        if (compact_) {
            const uint8_t* v_at = p_;
            n = int32_t(byte());
            if (n > 12) invalid(v_at);
        }
        need(uint64_t(n));
        std::memcpy(b, p_, size_t(n));
        p_ += n;
        made.header = type;
        std::memcpy(&made.w1, b, sizeof b);
        break;
    }
    case TYPE_TUPLE: {
        int32_t n = 3;
        uint8_t b[12] = {};
        if (compact_) {
            if (alternate) {
                const uint8_t* v_at = p_;
                n = int32_t(byte());
                if (n < 1 || n > 12) invalid(v_at);
            }
            need(uint64_t(n));
            std::memcpy(b, p_, size_t(n));
            p_ += n;
        } else {
            n = int32_t((header >> 8) & 0xFF);
            if (n < 1 || n > 12) invalid(at);
            need(12);
            std::memcpy(b, p_, 12);
            p_ += 12;
        }
        tuple::make_at(cell::begin(&made), b, n);
        break;
    }
    case TYPE_MONEY: money_record(compact_ ? alternate : (header & (1u << 22)) != 0, made, at); break;
    case TYPE_ISSUE: {
        int32_t sym = symbol();
        made = Cell{TYPE_ISSUE, _context::global, uint32_t(sym), uint32_t(-1)};
        break;
    }
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        word_record(into, type, alternate, reference, header, made);
        index = length_of(into) - 1;
        break;
    case TYPE_CONTEXT: {
        p_ -= compact_ ? 1 : 4;  // the body starts with its own tag (a one-byte tag below 63)
        bool present;
        Node ctx = context_body(present, true);
        made = Cell{TYPE_OBJECT, ctx, uint32_t(-1), 0};
        *_context::own_value(ctx) = made;
        index = append(into, made);
        if (present) context_values(ctx, _context::word_count(ctx));
        break;
    }
    case TYPE_OBJECT:
        object_record(into, alternate, reference, header, true, made);
        index = length_of(into) - 1;
        break;
    case TYPE_FUNCTION:
        function_record(into, reference, true, made);
        index = length_of(into) - 1;
        break;
    case TYPE_NATIVE: case TYPE_ACTION:
        builtin_record(into, type, made, at);
        break;
    case TYPE_OP: {
        int32_t mark = length_of(into);
        record(into);
        if (length_of(into) != mark + 1) invalid(at);
        Cell wrapped = *cell_at(into, mark);
        uint32_t wt = type_of(&wrapped);
        if (wt != TYPE_NATIVE && wt != TYPE_ACTION && wt != TYPE_FUNCTION) invalid(at);
        if (!compact_ && ((header >> OP_TYPE_SHIFT) & 0xFF) != wt) invalid(at);
        made = wrapped;
        made.header = (wrapped.header & FLAG_NEW_LINE) | TYPE_OP | wt << OP_TYPE_SHIFT;
        if (wt == TYPE_FUNCTION) {
            Cell* more3 = function::more_cell(&wrapped, function::MORE_OP);
            if (more3) *more3 = wrapped;
        }
        *cell_for_write(into, mark) = made;
        index = mark;
        break;
    }
    case TYPE_ERROR: error_record(into, made, at); index = length_of(into) - 1; break;
    case TYPE_IMAGE: image_record(into, alternate, reference, made, at); index = length_of(into) - 1; break;
    default:
        if (series_record_q(type)) {
            series(into, type, alternate, reference, header, made, at);
            index = length_of(into) - 1;
            break;
        }
        invalid(at);
    }
    if (index < 0) {
        if (new_line) made.header |= FLAG_NEW_LINE;
        append(into, made);
    } else if (new_line) {
        cell_for_write(into, index)->header |= FLAG_NEW_LINE;
    }
}

void Decoder::money_record(bool negative, Cell& made, const uint8_t* at) {
    need(12);
    uint8_t b[12];
    std::memcpy(b, p_, sizeof b);
    p_ += 12;
    for (int32_t i = 1; i < 12; i++)
        if ((b[i] >> 4) > 9 || (b[i] & 0xF) > 9) invalid(at);
    made.header = TYPE_MONEY | (negative ? 0x4000u : 0);
    std::memcpy(&made.w1, b, sizeof b);
}

void Decoder::image_record(Node into, bool alternate, bool reference, Cell& made, const uint8_t* at) {
    if (!image_access.make) invalid(at);
    int32_t head = compact_ ? (alternate ? count() : 0) : count();
    if (reference) {
        Cell target = reference_record(at);
        if (type_of(&target) != TYPE_IMAGE) invalid(at);
        made = target;
        made.header = TYPE_IMAGE;
        made.w1 = uint32_t(head);
        append(into, made);
        return;
    }
    const uint8_t* size_at = p_;
    uint32_t width, height;
    if (compact_) {
        width = varint();
        height = varint();
    } else {
        uint32_t size = raw4();
        width = size & 0xFFFF;
        height = size >> 16;
    }
    if (width > 0xFFFF || height > 0xFFFF) invalid(size_at);
    need(uint64_t(width) * height * 4);
    image_access.make(&made, int32_t(width), int32_t(height), p_);
    p_ += uint64_t(width) * height * 4;
    made.w1 = uint32_t(head);
    append(into, made);
}

void Decoder::series(Node into, uint32_t type, bool alternate, bool reference, uint32_t header, Cell& made,
                     const uint8_t* record_at) {
    const uint8_t* at = p_;
    int32_t head = 0;
    bool has_head = type != TYPE_MAP && type != TYPE_BITSET;
    if (has_head) {
        if (compact_) {
            if (alternate) head = count();
        } else {
            head = count();
        }
    }
    if (reference) {
        Cell target = reference_record(at);
        // A spec block written with its function is reached through the function.
        uint32_t target_type = type_of(&target);
        if (storage_class(type) == TYPE_BLOCK && (target_type == TYPE_NATIVE || target_type == TYPE_ACTION ||
                                                  target_type == TYPE_FUNCTION || target_type == TYPE_OP))
            target = block_cell(target.w2);
        if (storage_class(type_of(&target)) != storage_class(type)) invalid(record_at);
        made = target;
        made.header = (target.header & ~(TYPE_MASK | FLAG_NEW_LINE)) | type;
        if (has_head) made.w1 = uint32_t(head);
        append(into, made);
        return;
    }
    Cell v{};
    switch (type) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_BINARY: {
        uint32_t width_code, length;
        const uint8_t* v_at = p_;
        if (type == TYPE_BINARY) {
            width_code = 0;
            length = uint32_t(count());
            if (!compact_ && ((header >> 8) & 0xFF) > 1) invalid(v_at);
        } else if (compact_) {
            uint32_t w = varint();
            width_code = w & 3;
            length = w >> 2;
        } else {
            uint32_t width = (header >> 8) & 0xFF;
            width_code = width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3;
            length = uint32_t(count());
        }
        if (width_code == 3) invalid(v_at);
        uint32_t unit = 1u << width_code;
        uint64_t bytes = uint64_t(length) * unit;
        if (bytes > left()) invalid(v_at);
        if (unit == 4)
            for (uint64_t i = 0; i < bytes; i += 4) {
                uint32_t cp;
                std::memcpy(&cp, p_ + i, 4);
                if (cp > 0x10FFFF) invalid(p_ + i);
            }
        Node node = memory::alloc_codepoints(int64_t(length), int32_t(unit));
        SeriesBuffer* s = memory::buffer_of(node);
        std::memcpy(memory::head_of(s), p_, size_t(bytes));
        s->tail = s->head + int32_t(bytes);
        p_ += bytes;
        if (!compact_) skip_padding();
        v = Cell{type, uint32_t(head), node, 0};
        break;
    }
    case TYPE_VECTOR: {
        const uint8_t* v_at = p_;
        uint32_t kind, width;
        int32_t n;
        if (compact_) {
            uint32_t t = byte();
            width = 1u << (t & 3);
            kind = t >> 2;
            n = count();
        } else {
            width = (header >> 8) & 0xFF;
            n = count();
            kind = raw4();
        }
        bool ok = ((kind == TYPE_INTEGER || kind == TYPE_CHAR) && (width == 1 || width == 2 || width == 4)) ||
                  ((kind == TYPE_FLOAT || kind == TYPE_PERCENT) && (width == 4 || width == 8));
        if (!ok) invalid(v_at);
        uint64_t bytes = uint64_t(uint32_t(n)) * width;
        if (bytes > left()) invalid(v_at);
        vector::make_at(cell::begin(&v), n, kind, int32_t(width));
        SeriesBuffer* s = memory::buffer_of(v.w2);
        std::memcpy(memory::head_of(s), p_, size_t(bytes));
        s->tail = s->head + int32_t(bytes);
        p_ += bytes;
        if (!compact_) skip_padding();
        v.w1 = uint32_t(head);
        break;
    }
    case TYPE_BITSET: {
        bool complemented = compact_ ? alternate : (header & (1u << 23)) != 0;
        int32_t n = count_of(1);
        bitset::make_at(cell::begin(&v), n, 0, complemented);
        SeriesBuffer* s = memory::buffer_of(v.w2);
        std::memcpy(memory::head_of(s), p_, size_t(n));
        p_ += n;
        if (!compact_) skip_padding();
        break;
    }
    default: {  // the block family, hash! and map!
        int32_t n = count_of(compact_ ? 1 : 4);
        if (type == TYPE_MAP && n % 2) invalid(at);
        Node node = memory::alloc_cells(n < 1 ? 1 : n);
        Cell b = block_cell(node);
        b.header = type == TYPE_BLOCK || type == TYPE_HASH || type == TYPE_MAP ? uint32_t(TYPE_BLOCK) : type;
        b.w1 = uint32_t(head);
        int32_t index = append(into, b);
        for (int32_t i = 0; i < n; i++) record(node);
        if (type == TYPE_HASH || type == TYPE_MAP) {
            Cell whole = block_cell(node);
            Cell finished{};
            if (type == TYPE_MAP) {
                for (int32_t i = 0; i < n; i += 2)
                    if (!map::valid_key_type_q(type_of(cell_at(node, i)))) invalid(at);
                map::make_at(&finished, &whole, n / 2);
            } else {
                finished = whole;
                hash::make_over(&finished);
                finished.w1 = uint32_t(head);
            }
            *cell_for_write(into, index) = finished;
        } else if (type != TYPE_BLOCK) {
            cell_for_write(into, index)->header = type;
        }
        made = *cell_at(into, index);
        return;
    }
    }
    made = v;
    append(into, made);
}

// Flags, words and (when present) values of a context; without values
// stored the context keeps its n unset! values. The context of an object
// keeps its values in a series of its own: one marked as living on the
// stack (a function's) would have no values to read.
Node Decoder::context_body(bool& values_present, bool object) {
    const uint8_t* at = p_;
    uint32_t kind, flags;
    bool on_stack, self;
    if (compact_) {
        uint32_t t = byte();
        if ((t & 0x3F) != TYPE_CONTEXT || (t & 0x80)) invalid(at);
        const uint8_t* f_at = p_;
        flags = byte();
        kind = flags & 3;
        on_stack = flags & 4;
        self = flags & 8;
        values_present = flags & 16;
        if (kind > 2 || flags > 31 || (on_stack && (values_present || object))) invalid(f_at);
    } else {
        uint32_t h = raw4();
        if ((h & 0xFF) != TYPE_CONTEXT) invalid(at);
        kind = (h >> 26) & 3;
        self = h & (1u << 28);
        on_stack = h & (1u << 29);
        values_present = h & (1u << 30);
        if (kind > 2 || (on_stack && (values_present || object))) invalid(at);
    }
    if (kind == 0) invalid(at);  // the global context is never stored
    int32_t n = count_of(compact_ ? 1 : 4);
    Node ctx = _context::create(n, on_stack, self, 0, int32_t(kind));
    for (int32_t i = 0; i < n; i++) {
        const uint8_t* s_at = p_;
        int32_t sym = symbol();
        int32_t index;
        if (_context::add_symbol(ctx, sym, false, &index) >= 0) invalid(s_at);  // a word twice
    }
    if (!on_stack) {
        Node values = _context::cell_of(ctx)->w2;
        SeriesBuffer* s = memory::buffer_of(values);
        int32_t have = memory::length_of(s);
        for (int32_t i = have; i < n; i++) {
            Cell unset{TYPE_UNSET, 0, 0, 0};
            append(values, unset);
        }
    }
    return ctx;
}

// Reads the n values straight into the context's values series, so that a
// reference met among them can reach the values already read.
void Decoder::context_values(Node ctx, int32_t n) {
    Node values = _context::cell_of(ctx)->w2;
    Cell b = block_cell(values);
    block::truncate_at(&b, 0);
    for (int32_t i = 0; i < n; i++) {
        record(values);
        if (length_of(values) != i + 1) invalid();
    }
}

void Decoder::object_record(Node into, bool alternate, bool reference, uint32_t header, bool append_it, Cell& made) {
    const uint8_t* at = p_;
    if (reference) return context_reference(into, TYPE_OBJECT, append_it, made);
    int32_t class_id = compact_ ? zigzag() : int32_t(raw4());
    bool events = compact_ ? alternate : (header & (1u << 24)) != 0;
    int32_t entries[2] = {0, 0};
    if (events)
        for (int32_t& e : entries) e = compact_ ? zigzag() : int32_t(raw4());
    bool present;
    Node ctx = context_body(present, true);
    if (_context::kind_of(_context::cell_of(ctx)) != _context::KIND_OBJECT) invalid(at);
    Node info = events ? object::make_event_info(entries[0] >> 16, entries[0] & 0xFFFF, entries[1] >> 16,
                                                 entries[1] & 0xFFFF, 0, 0)
                       : 0;
    made = Cell{TYPE_OBJECT, ctx, uint32_t(boot_ ? class_id : -1), info};
    *_context::own_value(ctx) = made;
    int32_t index = append_it ? append(into, made) : -1;
    bind_pending(ctx);
    if (present) context_values(ctx, _context::word_count(ctx));
    // Outside the boot image the change handlers' entries are not taken on
    // trust: they index the context and size the handler's call.
    if (!boot_ && events) {
        made.w3 = object::scan_events(ctx);
        *_context::own_value(ctx) = made;
        if (index >= 0) cell_for_write(into, index)->w3 = made.w3;
    }
}

// The context a reference names for words and objects: that of an object,
// function, op or word.
Node Decoder::carrier_context(const Cell& c, const uint8_t* at) {
    switch (type_of(&c)) {
    case TYPE_OBJECT: case TYPE_ERROR: case TYPE_FUNCTION:
        return c.w1;
    case TYPE_OP:
        if (op::wrapped_type(&c) != TYPE_FUNCTION) invalid(at);
        return c.w1;
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        if (!c.w1 || c.w1 == _context::global) invalid(at);
        return c.w1;
    default: invalid(at);
    }
}

// A reference to an object or function decoded earlier: made := the value its
// context holds, which must be of the type.
void Decoder::context_reference(Node into, uint32_t type, bool append_it, Cell& made) {
    const uint8_t* at = p_;
    Cell target = reference_record(at);
    Node ctx = carrier_context(target, at);
    made = *_context::own_value(ctx);
    if (type_of(&made) != type) invalid(at);
    made.header &= ~FLAG_NEW_LINE;
    if (append_it) append(into, made);
}

void Decoder::function_record(Node into, bool reference, bool append_it, Cell& made) {
    const uint8_t* at = p_;
    if (reference) return context_reference(into, TYPE_FUNCTION, append_it, made);
    int32_t spec_length = count_of(compact_ ? 1 : 4);
    int32_t body_length = count_of(compact_ ? 1 : 4);
    bool present;
    Node ctx = context_body(present, false);
    Cell ctx_cell = *_context::cell_of(ctx);
    if (_context::kind_of(&ctx_cell) != _context::KIND_FUNCTION || !_context::on_stack_q(&ctx_cell)) invalid(at);
    Node spec = memory::alloc_cells(spec_length < 1 ? 1 : spec_length);
    Node body = memory::alloc_cells(body_length < 1 ? 1 : body_length);
    Node more = memory::alloc_cells(function::MORE_CELLS);
    append(more, block_cell(body));
    for (int32_t i = 1; i < function::MORE_CELLS; i++) append(more, Cell{TYPE_UNSET, 0, 0, 0});
    made = Cell{TYPE_FUNCTION, ctx, spec, more};
    *_context::own_value(ctx) = made;
    if (append_it) append(into, made);
    bind_pending(ctx);
    function_block(ctx, false);
    function_block(ctx, true);
    // The context must be the one its spec makes: the interpreter lays the
    // arguments out by the spec and reaches them through the context.
    Cell fn = *_context::own_value(ctx);
    Cell spec_cell = block_cell(fn.w2);
    function::validate_spec(&spec_cell);
    bool fits = true;
    {
        Node expected = _context::make_from_spec(&spec_cell, true, false, _context::KIND_FUNCTION);
        int32_t n = _context::word_count(ctx);
        fits = _context::word_count(expected) == n;
        for (int32_t i = 0; fits && i < n; i++)
            fits = _context::get_word_cell(expected, i)->w2 == _context::get_word_cell(ctx, i)->w2;
    }
    if (!fits) invalid(at);
    made = fn;
}

// The spec (body false) or body block record of a function, read into the
// block the function already holds (or, given by reference, put in its place).
void Decoder::function_block(Node fn_ctx, bool body) {
    const uint8_t* at = p_;
    bool reference = false, new_line = false;
    int32_t head = 0;
    if (compact_) {
        uint32_t t = compact_tag(new_line, reference, nullptr);
        if ((t & 0x3F) != TYPE_BLOCK || (t & 0x80)) invalid(at);
        if (t & 0x40) head = count();
    } else {
        uint32_t h = raw4();
        if ((h & 0xFF) != TYPE_BLOCK) invalid(at);
        reference = (h & STD_REFERENCE) != 0;
        head = count();
    }
    (void)new_line;  // the spec and body are stored from their first element
    (void)head;
    Cell fn = *_context::own_value(fn_ctx);
    if (reference) {
        Cell target = reference_record(at);
        if (storage_class(type_of(&target)) != TYPE_BLOCK) invalid(at);
        if (body) {
            Cell b = block_cell(target.w2);
            memory::internal_cells(memory::buffer_of(fn.w3))[function::MORE_BODY] = b;
        } else {
            fn.w2 = target.w2;
            *_context::own_value(fn_ctx) = fn;
        }
        return;
    }
    Node node = body ? cell_at(fn.w3, function::MORE_BODY)->w2 : fn.w2;
    int32_t n = count_of(compact_ ? 1 : 4);
    for (int32_t i = 0; i < n; i++) record(node);
}

void Decoder::word_record(Node into, uint32_t type, bool alternate, bool reference, uint32_t header, Cell& made) {
    const uint8_t* at = p_;
    int32_t sym = symbol();
    Node ctx = 0;
    int32_t index = -1;
    bool global;
    if (compact_) {
        global = !alternate;
    } else {
        index = int32_t(raw4());
        global = boot_ ? false : (header & STD_GLOBAL) != 0;
    }
    if (boot_) {
        int32_t root_index;
        if (compact_) {
            root_index = global ? -1 : int32_t(varint());
            if (!global) index = zigzag();
        } else {
            // Standard boot words: symbol, root index (-1 global), index.
            root_index = index;
            index = int32_t(raw4());
        }
        if (root_index >= 0) {
            int32_t i = root_base_ + root_index;
            if (root_index < 0 || i >= length_of(target_)) invalid(at);
            Cell owner = *cell_at(target_, i);
            ctx = carrier_context(owner, at);
        }
    } else if (!global) {
        if (compact_) index = zigzag();
        Cell carrier;
        if (reference) {
            Cell target = reference_record(at);
            ctx = carrier_context(target, at);
        } else {
            Cell placeholder{type, 0, uint32_t(sym), uint32_t(-1)};
            int32_t position = append(into, placeholder);
            pending_ = PendingWord{true, into, position, type, sym, index, at};
            const uint8_t* t_at = p_;
            uint32_t owner_type;
            bool owner_alternate = false;
            uint32_t owner_header = 0;
            if (compact_) {
                uint32_t t = byte();
                if (t & 0x80) invalid(t_at);
                owner_type = t & 0x3F;
                owner_alternate = (t & 0x40) != 0;
            } else {
                owner_header = raw4();
                owner_type = owner_header & 0xFF;
            }
            if (owner_type == TYPE_OBJECT) object_record(into, owner_alternate, false, owner_header, false, carrier);
            else if (owner_type == TYPE_FUNCTION) function_record(into, false, false, carrier);
            else invalid(t_at);
            if (pending_.active) invalid(t_at);
            made = *cell_at(into, position);
            return;
        }
    }
    if (!ctx) {
        Cell w = word::find_or_add_global(sym, false, false);
        made = w;
        made.w2 = uint32_t(sym);
        made.header = type;
        append(into, made);
        return;
    }
    bound_word(ctx, type, sym, index, at, made);
    append(into, made);
}

// made := the word bound to ctx at index (-1: looked up by name, or, when
// absent, the context's own value as for `self`).
void Decoder::bound_word(Node ctx, uint32_t type, int32_t sym, int32_t index, const uint8_t* at, Cell& made) {
    int32_t n = _context::word_count(ctx);
    if (index < -1 || index >= n) invalid(at);
    if (index == -1) {
        int32_t found = _context::find_word(ctx, sym, false);
        if (found >= 0) index = found;
    }
    word::make_bound(&made, type, ctx, sym, index);
}

// A word whose owner follows inline is in its block before the owner's
// contents are read (a reference among them may pass through the word); it
// is bound as soon as the owner's context exists.
void Decoder::bind_pending(Node ctx) {
    if (!pending_.active) return;
    PendingWord w = pending_;
    pending_.active = false;
    Cell made;
    bound_word(ctx, w.type, w.symbol, w.index, w.at, made);
    *cell_for_write(w.block, w.position) = made;
}

void Decoder::builtin_record(Node into, uint32_t type, Cell& made, const uint8_t* at) {
    int32_t k = count();
    bool in_range = type == TYPE_NATIVE ? k >= 1 && k < natives::next_free : k >= 1 && k <= 62;
    if (!in_range) invalid(at);
    // The spec is read into a scratch block, then checked against the slot.
    Node scratch = memory::alloc_cells(1);
    int32_t index = append(into, Cell{TYPE_BLOCK, 0, scratch, 0});
    record(scratch);
    Cell spec = *cell_at(scratch, 0);
    if (type_of(&spec) != TYPE_BLOCK) invalid(at);
    spec.w1 = 0;
    if (!native::builtin_parts_q(type, k, &spec)) invalid(at);
    Node ctx = _context::make_from_spec(&spec, true, false, _context::KIND_FUNCTION);
    Node more = memory::alloc_cells(native::MORE_CELLS);
    Cell ctx_cell = *_context::cell_of(ctx);
    append(more, ctx_cell);
    Cell none_value{TYPE_NONE, 0, 0, 0};
    append(more, none_value);
    made = Cell{type, uint32_t(k), spec.w2, more};
    Cell b = block_cell(into);
    block::truncate_at(&b, index);  // the caller appends the finished value
}

void Decoder::error_record(Node into, Cell& made, const uint8_t* at) {
    const uint8_t* c_at = p_;
    int32_t code = count();
    int32_t position = code / 100, id = code % 100;
    if (position >= error_catalog::CATEGORY_COUNT || id >= error_catalog::categories[position].count)
        invalid(c_at);
    Cell proto, spec;
    datatype::make_at(&proto, TYPE_ERROR);
    integer_at(&spec, code);
    Cell* saved_top = stack::top;
    made = *error::make(&proto, &spec, TYPE_ERROR);
    stack::top = saved_top;
    made.header &= ~FLAG_NEW_LINE;
    append(into, made);
    // Fields after code, type and id are read into place; `files` is kept.
    Node values = _context::cell_of(made.w1)->w2;
    if (length_of(values) < error::FIELD_COUNT) invalid(at);
    Cell files = *cell_at(values, error::FIELD_FILES);
    Cell b = block_cell(values);
    block::truncate_at(&b, error::FIELD_ARG1);
    for (int32_t i = error::FIELD_ARG1; i < error::FIELD_FILES; i++) {
        record(values);
        if (length_of(values) != i + 1) invalid(at);
    }
    append(values, files);
}

// Holds the collector off for one decode.
struct CollectorOff {
    bool saved = collector::enabled;
    CollectorOff() { collector::enabled = false; }
    ~CollectorOff() { collector::enabled = saved; }
};

enum class Outcome { done, bad_magic, corrupt };

Outcome decode_bytes(const uint8_t* data, size_t length, Node target, bool boot) {
    static const uint8_t MAGIC[6] = {'Z', 'U', 'V', 'B', 'I', 'N'};
    if (length < 8 || std::memcmp(data, MAGIC, 6) != 0) return Outcome::bad_magic;
    uint8_t flags = data[7];
    // The standard layout's record count and payload size must be there.
    auto too_short = [&](size_t rest) { return !(flags & FLAG_COMPACT) && rest < 8; };
    CollectorOff off;
    Decoder decoder(data, boot, target);
    if (flags & FLAG_COMPRESSED) {
        std::optional<std::vector<uint8_t>> inflated = compressor::decompress(data + 8, length - 8);
        if (!inflated) return Outcome::corrupt;
        // Positions in the inflated bytes are counted as if they followed the flags byte.
        std::vector<uint8_t> bytes = std::move(*inflated);
        if (too_short(bytes.size())) return Outcome::bad_magic;
        Decoder inner(bytes.data() - 8, boot, target);
        inner.run(bytes.data(), bytes.data() + bytes.size(), flags & FLAG_COMPACT, flags & FLAG_SYMBOLS);
        return Outcome::done;
    }
    if (too_short(length - 8)) return Outcome::bad_magic;
    decoder.run(data + 8, data + length, flags & FLAG_COMPACT, flags & FLAG_SYMBOLS);
    return Outcome::done;
}

}  // namespace

void decode(const uint8_t* data, size_t length, const Cell* target, bool codec, const Cell* arg) {
    codec_mode = codec ? 1 : 0;
    Cell held = *target;
    Outcome outcome = decode_bytes(data, length, held.w2, !codec);
    if (outcome != Outcome::done) {
        Cell none_value{TYPE_NONE, 0, 0, 0};
        fire(ErrorCategory::script, "invalid-data", arg ? arg : &none_value);
    }
}

int32_t boot_load(const uint8_t* image, size_t length) {
    codec_mode = 0;
    int32_t first = memory::length_of(memory::buffer_of(runtime::root.w2));
    Outcome outcome = decode_bytes(image, length, runtime::root.w2, true);
    if (outcome == Outcome::bad_magic) {
        std::fputs("Error: Not a Zuvbin file!\n", stderr);
        std::exit(1);
    }
    if (outcome == Outcome::corrupt) {
        std::fputs("Error: Zuvbin compressed data corrupted!\n", stderr);
        std::exit(1);
    }
    return first;
}

}  // namespace zuv::zuvbin
