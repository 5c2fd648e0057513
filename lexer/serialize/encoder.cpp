// The two encoders: one walk over the value, writing compact or standard
// records into a C++ byte vector. Nothing is allocated in the language's
// memory until the walk is over, so the walk may read series buffers freely;
// the result binary! is made at the end.
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "lexer/serialize/zuvbin.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"

namespace zuv::zuvbin {

int32_t codec_mode = 1;
ImageAccess image_access;

namespace {

constexpr uint8_t PREFIX_NEW_LINE = 0xC0;
constexpr uint8_t PREFIX_REFERENCE = 0xC1;
constexpr uint8_t TAG_ALTERNATE = 0x40;

// Standard header bits.
constexpr uint32_t STD_REFERENCE = 1u << 19;
constexpr uint32_t STD_MONEY_NEGATIVE = 1u << 22;
constexpr uint32_t STD_COMPLEMENT = 1u << 23;
constexpr uint32_t STD_EVENTS = 1u << 24;
constexpr uint32_t STD_GLOBAL = 1u << 25;
constexpr uint32_t STD_NEW_LINE = 1u << 31;
constexpr uint32_t STD_REFERENCE_TYPE = 255;

constexpr uint32_t MONEY_NEGATIVE = 0x4000;

[[noreturn]] void no_codec(const Cell* value) { fire(ErrorCategory::access, "no-codec", value); }

// The cells of a series from its first element (valid while nothing allocates).
struct CellSpan {
    const Cell* first;
    int32_t count;
};
CellSpan cells_of(Node node) {
    SeriesBuffer* s = memory::buffer_of(node);
    return {memory::cells_head(s), memory::length_of(s)};
}

class Encoder {
public:
    explicit Encoder(bool compact) : compact_(compact) {}

    void value(const Cell* v);
    std::vector<uint8_t> finish();

private:
    bool compact_;
    std::vector<uint8_t> out_;
    std::vector<int32_t> symbols_;
    std::vector<uint32_t> offsets_;
    std::vector<uint8_t> strings_;
    int32_t counter_ = 0;
    std::vector<int32_t> path_stack_;
    std::unordered_map<Node, std::vector<int32_t>> paths_;

    // ---- primitives ----
    void byte(uint32_t b) { out_.push_back(uint8_t(b)); }
    void varint(uint32_t v) {
        while (v >= 0x80) {
            byte((v & 0x7F) | 0x80);
            v >>= 7;
        }
        byte(v);
    }
    void zigzag(int32_t v) { varint((uint32_t(v) << 1) ^ uint32_t(v >> 31)); }
    void raw4(uint32_t v) {
        for (int i = 0; i < 4; i++) byte(v >> (8 * i));
    }
    void raw8(double d) {
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        raw4(uint32_t(bits));
        raw4(uint32_t(bits >> 32));
    }
    void bytes(const uint8_t* p, size_t n) { out_.insert(out_.end(), p, p + n); }
    void padded_bytes(const uint8_t* p, size_t n) {
        bytes(p, n);
        while (out_.size() % 4) byte(0);
    }
    // A count, index or length: a varint (compact) or a word (standard).
    void number(uint32_t v) { compact_ ? varint(v) : raw4(v); }
    void tag(uint32_t type, bool alternate) {
        if (type >= 0x3F) {
            byte(0x3F | (alternate ? TAG_ALTERNATE : 0));
            varint(type);
        } else {
            byte(type | (alternate ? TAG_ALTERNATE : 0));
        }
    }

    int32_t symbol_index(int32_t id);

    // ---- references ----
    const std::vector<int32_t>* seen(Node node) const {
        auto it = paths_.find(node);
        return it == paths_.end() ? nullptr : &it->second;
    }
    void path(const std::vector<int32_t>& p) {
        if (!compact_) raw4(STD_REFERENCE_TYPE);
        number(uint32_t(p.size()));
        for (int32_t i : p) number(uint32_t(i));
    }
    // Enters a node written for the first time: its path is the enclosing
    // positions, and positions inside it count from 0.
    void enter(Node node) {
        path_stack_.push_back(counter_);
        paths_[node] = path_stack_;
        counter_ = 0;
    }
    void leave() {
        counter_ = path_stack_.back();
        path_stack_.pop_back();
    }

    void scalar_or_other(const Cell* v, uint32_t nl);
    void float_like(const Cell* v, uint32_t type, uint32_t nl);
    void block_like(const Cell* v, uint32_t type, uint32_t nl);
    void map_value(const Cell* v, uint32_t nl);
    void text_like(const Cell* v, uint32_t type, uint32_t nl);
    void bitset_value(const Cell* v, uint32_t nl);
    void word_value(const Cell* v, uint32_t type, uint32_t nl);
    void object_value(const Cell* v, uint32_t nl);
    void object_body(const Cell* v, uint32_t nl);
    void function_value(const Cell* v, uint32_t nl);
    void function_body(const Cell* v, uint32_t nl);
    void context_record(Node ctx);
    void error_value(const Cell* v, uint32_t nl);
    void builtin_value(const Cell* v, uint32_t type, uint32_t nl);
    void money_value(const Cell* v, uint32_t nl);
    void image_value(const Cell* v, uint32_t nl);
    void block_contents(Node node);
};

int32_t Encoder::symbol_index(int32_t id) {
    for (size_t i = 0; i < symbols_.size(); i++)
        if (symbols_[i] == id) return int32_t(i);
    symbols_.push_back(id);
    offsets_.push_back(uint32_t(strings_.size()));
    const uint8_t* name = symbol::name_of(id);
    strings_.insert(strings_.end(), name, name + symbol::name_length(id));
    strings_.push_back(0);
    if (!compact_)
        while (strings_.size() % 8) strings_.push_back(0);
    return int32_t(symbols_.size() - 1);
}

void Encoder::value(const Cell* v) {
    uint32_t type = type_of(v);
    bool new_line = cell::new_line_q(v);
    if (compact_ && new_line) byte(PREFIX_NEW_LINE);
    uint32_t nl = !compact_ && new_line ? STD_NEW_LINE : 0;
    switch (type) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_HASH:
        block_like(v, type, nl);
        break;
    case TYPE_MAP: map_value(v, nl); break;
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
    case TYPE_BINARY: case TYPE_VECTOR:
        text_like(v, type, nl);
        break;
    case TYPE_BITSET: bitset_value(v, nl); break;
    case TYPE_IMAGE: image_value(v, nl); break;
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        word_value(v, type, nl);
        break;
    case TYPE_OBJECT: object_value(v, nl); break;
    case TYPE_FUNCTION: function_value(v, nl); break;
    case TYPE_ERROR: error_value(v, nl); break;
    case TYPE_NATIVE: case TYPE_ACTION: builtin_value(v, type, nl); break;
    case TYPE_OP: {
        uint32_t wrapped = op::wrapped_type(v);
        if (wrapped != TYPE_NATIVE && wrapped != TYPE_ACTION && wrapped != TYPE_FUNCTION) no_codec(v);
        if (compact_) tag(TYPE_OP, false);
        else raw4(TYPE_OP | wrapped << OP_TYPE_SHIFT | nl);
        Cell inner = op::unwrap(v);
        inner.header &= ~FLAG_NEW_LINE;
        value(&inner);
        return;  // the inner value counted its own position
    }
    default: scalar_or_other(v, nl); break;
    }
    counter_++;
}

void Encoder::scalar_or_other(const Cell* v, uint32_t nl) {
    uint32_t type = type_of(v);
    switch (type) {
    case TYPE_UNSET: case TYPE_NONE:
        compact_ ? tag(type, false) : raw4(type | nl);
        return;
    case TYPE_LOGIC:
        if (compact_) byte(v->w1 ? 0xC2 : 0xC3);
        else { raw4(type | nl); raw4(v->w1 ? 1 : 0); }
        return;
    case TYPE_DATATYPE: case TYPE_CHAR:
        if (compact_) { tag(type, false); varint(type == TYPE_DATATYPE ? v->w1 : v->w2); }
        else { raw4(type | nl); raw4(type == TYPE_DATATYPE ? v->w1 : v->w2); }
        return;
    case TYPE_INTEGER: {
        int32_t i = int32_t(v->w2);
        if (!compact_) { raw4(type | nl); raw4(uint32_t(i)); }
        else if (i >= 0 && i <= 63) byte(0x80 + uint32_t(i));
        else { tag(type, false); zigzag(i); }
        return;
    }
    case TYPE_FLOAT: case TYPE_TIME: case TYPE_PERCENT: float_like(v, type, nl); return;
    case TYPE_PAIR:
        if (compact_) { tag(type, false); zigzag(int32_t(v->w2)); zigzag(int32_t(v->w3)); }
        else { raw4(type | nl); raw4(v->w2); raw4(v->w3); }
        return;
    case TYPE_POINT2D: case TYPE_POINT3D:
        compact_ ? tag(type, false) : raw4(type | nl);
        raw4(v->w1);
        raw4(v->w2);
        if (type == TYPE_POINT3D) raw4(v->w3);
        return;
    case TYPE_DATE: {
        bool timed = (v->w1 & 0x10000) != 0;
        if (compact_) {
            tag(type, timed);
            raw4(v->w1);
            if (timed) raw8(cell::get_float(v));
        } else {
            raw4(type | nl);
            raw4(v->w1);
            double d = timed ? cell::get_float(v) : 0.0;
            uint64_t bits;
            std::memcpy(&bits, &d, sizeof bits);
            raw4(uint32_t(bits >> 32));
            raw4(uint32_t(bits));
        }
        return;
    }
    case TYPE_TYPESET: {
        uint8_t b[12];
        std::memcpy(b, &v->w1, sizeof b);
        if (compact_) {
            int32_t n = 12;
            while (n > 0 && b[n - 1] == 0) n--;
            tag(type, false);
            byte(uint32_t(n));
            bytes(b, size_t(n));
        } else {
            raw4(type | nl);
            bytes(b, sizeof b);
        }
        return;
    }
    case TYPE_TUPLE: {
        int32_t n = tuple::size_of(v);
        uint8_t b[12];
        for (int32_t i = 0; i < 12; i++) b[i] = uint8_t(tuple::byte_at(v, i));
        if (compact_) {
            tag(type, n != 3);
            if (n != 3) byte(uint32_t(n));
            bytes(b, size_t(n));
        } else {
            raw4(type | uint32_t(n) << 8 | nl);
            bytes(b, sizeof b);
        }
        return;
    }
    case TYPE_MONEY: money_value(v, nl); return;
    case TYPE_ISSUE:
        compact_ ? tag(type, false) : raw4(type | nl);
        number(uint32_t(symbol_index(int32_t(v->w2))));
        return;
    default:
        no_codec(v);
    }
}

// Floats that are whole numbers in the 32-bit range (percents: whole
// hundredths) take the short form; negative zero keeps its sign in the raw form.
void Encoder::float_like(const Cell* v, uint32_t type, uint32_t nl) {
    double d = cell::get_float(v);
    if (!compact_) {
        if (out_.size() % 8) raw4(0);
        raw4(type | nl);
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        raw4(uint32_t(bits >> 32));
        raw4(uint32_t(bits));
        return;
    }
    bool negative_zero = d == 0.0 && std::signbit(d);
    if (type == TYPE_PERCENT) {
        if (d >= -21474836.0 && d <= 21474836.0 && !negative_zero) {
            int32_t i = int32_t(d >= 0 ? d * 100.0 + 0.5 : d * 100.0 - 0.5);
            if (i / 100.0 == d) {
                tag(type, true);
                zigzag(i);
                return;
            }
        }
    } else if (d >= -2147483000.0 && d <= 2147483000.0 && d == std::trunc(d) && !negative_zero) {
        tag(type, true);
        zigzag(int32_t(d));
        return;
    }
    tag(type, false);
    raw8(d);
}

void Encoder::block_contents(Node node) {
    CellSpan span = cells_of(node);
    number(uint32_t(span.count));
    for (int32_t i = 0; i < span.count; i++) {
        span = cells_of(node);  // the walk allocates nothing, but stay exact
        Cell c = span.first[i];
        value(&c);
    }
}

void Encoder::block_like(const Cell* v, uint32_t type, uint32_t nl) {
    int32_t head = series::head_index(v);
    const auto* p = seen(v->w2);
    if (compact_) {
        if (p) byte(PREFIX_REFERENCE);
        tag(type, head != 0);
        if (head != 0) varint(uint32_t(head));
    } else {
        raw4(type | nl | (p ? STD_REFERENCE : 0));
        raw4(uint32_t(head));
    }
    if (p) return path(*p);
    enter(v->w2);
    block_contents(v->w2);
    leave();
}

void Encoder::map_value(const Cell* v, uint32_t nl) {
    const auto* p = seen(v->w2);
    if (compact_) {
        if (p) byte(PREFIX_REFERENCE);
        tag(TYPE_MAP, false);
    } else {
        raw4(TYPE_MAP | nl | (p ? STD_REFERENCE : 0));
    }
    if (p) return path(*p);
    enter(v->w2);
    // Removed entries (a value header of 0) are left out.
    std::vector<Cell> live;
    CellSpan span = cells_of(v->w2);
    for (int32_t i = 0; i + 1 < span.count; i += 2) {
        if (span.first[i + 1].header == 0) continue;
        live.push_back(span.first[i]);
        live.push_back(span.first[i + 1]);
    }
    number(uint32_t(live.size()));
    for (const Cell& c : live) value(&c);
    leave();
}

void Encoder::text_like(const Cell* v, uint32_t type, uint32_t nl) {
    int32_t head = series::head_index(v);
    const auto* p = seen(v->w2);
    SeriesBuffer* s = memory::buffer_of(v->w2);
    uint32_t width = memory::unit_of(s);
    if (compact_) {
        if (p) byte(PREFIX_REFERENCE);
        tag(type, head != 0);
        if (head != 0) varint(uint32_t(head));
    } else {
        raw4(type | width << 8 | nl | (p ? STD_REFERENCE : 0));
        raw4(uint32_t(head));
    }
    if (p) return path(*p);
    enter(v->w2);
    const uint8_t* data = memory::head_of(s);
    uint32_t used = uint32_t(memory::used_bytes(s));
    uint32_t count = used / width;
    uint32_t log2 = uint32_t(__builtin_ctz(width));
    if (type == TYPE_VECTOR) {
        uint32_t kind = v->w3;
        if (compact_) {
            byte(kind << 2 | log2);
            varint(count);
        } else {
            raw4(count);
            raw4(kind);
        }
    } else if (type == TYPE_BINARY) {
        number(count);
    } else if (compact_) {
        varint(count << 2 | log2);
    } else {
        raw4(count);
    }
    compact_ ? bytes(data, used) : padded_bytes(data, used);
    leave();
}

void Encoder::bitset_value(const Cell* v, uint32_t nl) {
    const auto* p = seen(v->w2);
    SeriesBuffer* s = memory::buffer_of(v->w2);
    bool complemented = bitset::complemented_q(s);
    if (compact_) {
        if (p) byte(PREFIX_REFERENCE);
        tag(TYPE_BITSET, complemented);
    } else {
        raw4(TYPE_BITSET | nl | (complemented ? STD_COMPLEMENT : 0) | (p ? STD_REFERENCE : 0));
    }
    if (p) return path(*p);
    enter(v->w2);
    uint32_t n = uint32_t(bitset::byte_count(s));
    number(n);
    compact_ ? bytes(memory::head_of(s), n) : padded_bytes(memory::head_of(s), n);
    leave();
}

// A word whose context is owned by an object or a function carries that
// owner with it (inline the first time, by reference afterwards); any other
// word is written as bound to the global context.
void Encoder::word_value(const Cell* v, uint32_t type, uint32_t nl) {
    Node ctx = v->w1;
    int32_t sym = symbol_index(int32_t(v->w2));
    uint32_t owner_type = ctx ? type_of(_context::own_value(ctx)) : uint32_t(TYPE_NONE);
    bool global = ctx == 0 || ctx == _context::global || owner_type == TYPE_NONE || owner_type == TYPE_UNSET ||
                  owner_type == TYPE_BLOCK;
    if (global) {
        if (compact_) {
            tag(type, false);
            varint(uint32_t(sym));
        } else {
            raw4(type | nl | STD_GLOBAL);
            raw4(uint32_t(sym));
            raw4(uint32_t(-1));
        }
        return;
    }
    if (owner_type != TYPE_OBJECT && owner_type != TYPE_FUNCTION && owner_type != TYPE_ERROR) no_codec(v);
    const auto* p = seen(ctx);
    if (compact_) {
        if (p) byte(PREFIX_REFERENCE);
        tag(type, true);
        varint(uint32_t(sym));
        zigzag(int32_t(v->w3));
    } else {
        raw4(type | nl | (p ? STD_REFERENCE : 0));
        raw4(uint32_t(sym));
        raw4(v->w3);
    }
    if (p) return path(*p);
    Cell owner = *_context::own_value(ctx);
    enter(ctx);
    if (owner_type == TYPE_FUNCTION) function_body(&owner, 0);
    else object_body(&owner, 0);
    leave();
}

void Encoder::object_value(const Cell* v, uint32_t nl) {
    const auto* p = seen(v->w1);
    if (p) {
        compact_ ? (byte(PREFIX_REFERENCE), tag(TYPE_OBJECT, false)) : raw4(TYPE_OBJECT | nl | STD_REFERENCE);
        return path(*p);
    }
    enter(v->w1);
    object_body(v, nl);
    leave();
}

// The object's tag, class id, event entries and context record.
void Encoder::object_body(const Cell* v, uint32_t nl) {
    bool events = v->w3 != 0;
    if (compact_) {
        tag(TYPE_OBJECT, events);
        zigzag(int32_t(v->w2));
        if (events) {
            zigzag(object::packed_entry(v->w3, 0));
            zigzag(object::packed_entry(v->w3, 1));
        }
    } else {
        raw4(TYPE_OBJECT | nl | (events ? STD_EVENTS : 0));
        raw4(v->w2);
        if (events) {
            raw4(uint32_t(object::packed_entry(v->w3, 0)));
            raw4(uint32_t(object::packed_entry(v->w3, 1)));
        }
    }
    context_record(v->w1);
}

void Encoder::context_record(Node ctx) {
    Cell header = *_context::cell_of(ctx);
    bool on_stack = _context::on_stack_q(&header);
    int32_t n = _context::word_count(ctx);
    std::vector<Cell> values;
    bool present = false;
    if (!on_stack && header.w2) {
        CellSpan span = cells_of(header.w2);
        for (int32_t i = 0; i < n && i < span.count; i++) {
            values.push_back(span.first[i]);
            present = present || type_of(&span.first[i]) != TYPE_UNSET;
        }
        while (int32_t(values.size()) < n) values.push_back(Cell{TYPE_UNSET, 0, 0, 0});
    }
    uint32_t kind = uint32_t(_context::kind_of(&header));
    bool self = (header.header & CONTEXT_SELF) != 0;
    if (compact_) {
        tag(TYPE_CONTEXT, false);
        byte(kind | (on_stack ? 4 : 0) | (self ? 8 : 0) | (present ? 16 : 0));
    } else {
        raw4(TYPE_CONTEXT | kind << 26 | (self ? 1u << 28 : 0) | (on_stack ? 1u << 29 : 0) | (present ? 1u << 30 : 0));
    }
    number(uint32_t(n));
    for (int32_t i = 0; i < n; i++) number(uint32_t(symbol_index(int32_t(_context::get_word_cell(ctx, i)->w2))));
    if (present)
        for (const Cell& c : values) value(&c);
}

void Encoder::function_value(const Cell* v, uint32_t nl) {
    const auto* p = seen(v->w1);
    if (p) {
        compact_ ? (byte(PREFIX_REFERENCE), tag(TYPE_FUNCTION, false)) : raw4(TYPE_FUNCTION | nl | STD_REFERENCE);
        return path(*p);
    }
    enter(v->w1);
    function_body(v, nl);
    leave();
}

// Tag, spec and body lengths, the context record, then spec (position 0)
// and body (position 1).
void Encoder::function_body(const Cell* v, uint32_t nl) {
    Cell spec{TYPE_BLOCK, 0, v->w2, 0};
    Cell body{};
    const Cell* more_body = function::more_cell(v, function::MORE_BODY);
    if (more_body && type_of(more_body) == TYPE_BLOCK) {
        body = *more_body;
        body.header = TYPE_BLOCK;
        body.w1 = 0;
    }
    compact_ ? tag(TYPE_FUNCTION, false) : raw4(TYPE_FUNCTION | nl);
    number(uint32_t(memory::length_of(memory::buffer_of(spec.w2))));
    number(body.w2 ? uint32_t(memory::length_of(memory::buffer_of(body.w2))) : 0);
    context_record(v->w1);
    value(&spec);
    if (body.w2) {
        value(&body);
    } else {  // a function without a body: an empty block
        compact_ ? (tag(TYPE_BLOCK, false), varint(0)) : (raw4(TYPE_BLOCK), raw4(0), raw4(0));
        counter_++;
    }
}

// Errors are always written whole; their fields after code, type and id
// get a path so that later references into them resolve.
void Encoder::error_value(const Cell* v, uint32_t nl) {
    Node ctx = v->w1;
    CellSpan span = cells_of(_context::cell_of(ctx)->w2);
    std::vector<Cell> fields(span.first, span.first + span.count);
    if (fields.size() < size_t(error::FIELD_FILES)) no_codec(v);
    compact_ ? tag(TYPE_ERROR, false) : raw4(TYPE_ERROR | nl);
    number(fields[error::FIELD_CODE].w2);
    enter(ctx);
    for (int32_t i = error::FIELD_ARG1; i < error::FIELD_FILES; i++) value(&fields[size_t(i)]);
    leave();
}

void Encoder::builtin_value(const Cell* v, uint32_t type, uint32_t nl) {
    compact_ ? tag(type, false) : raw4(type | nl);
    number(v->w1);
    Cell spec{TYPE_BLOCK, 0, v->w2, 0};
    value(&spec);
    counter_--;  // the spec is reached through the function's own position
}

void Encoder::money_value(const Cell* v, uint32_t nl) {
    uint8_t b[12];
    std::memcpy(b, &v->w1, sizeof b);
    bool negative = (v->header & MONEY_NEGATIVE) != 0;
    if (compact_) tag(TYPE_MONEY, negative);
    else raw4(TYPE_MONEY | nl | (negative ? STD_MONEY_NEGATIVE : 0));
    bytes(b, sizeof b);
}

// Head, then width, height and the pixels (4 bytes each) from the first pixel.
void Encoder::image_value(const Cell* v, uint32_t nl) {
    if (!image_access.pixels) no_codec(v);
    int32_t head = int32_t(v->w1);
    const auto* p = v->w2 ? seen(v->w2) : nullptr;
    if (compact_) {
        if (p) byte(PREFIX_REFERENCE);
        tag(TYPE_IMAGE, head != 0);
        if (head != 0) varint(uint32_t(head));
    } else {
        raw4(TYPE_IMAGE | nl | (p ? STD_REFERENCE : 0));
        raw4(uint32_t(head));
    }
    if (p) return path(*p);
    if (v->w2) enter(v->w2);
    uint32_t width = v->w3 & 0xFFFF, height = v->w3 >> 16;
    std::vector<uint8_t> pixels;
    image_access.pixels(v, &pixels);
    pixels.resize(size_t(uint64_t(width) * height * 4));
    if (compact_) {
        varint(width);
        varint(height);
    } else {
        raw4(v->w3);
    }
    bytes(pixels.data(), pixels.size());
    if (v->w2) leave();
}

std::vector<uint8_t> Encoder::finish() {
    std::vector<uint8_t> result = {'Z', 'U', 'V', 'B', 'I', 'N', 2};
    bool symbols = !symbols_.empty();
    std::vector<uint8_t> payload;
    std::swap(out_, payload);  // out_ now collects the header fields
    if (compact_) {
        result.push_back(FLAG_COMPACT | (symbols ? FLAG_SYMBOLS : 0));
        varint(1);
        varint(uint32_t(payload.size()));
        if (symbols) {
            varint(uint32_t(symbols_.size()));
            varint(uint32_t(strings_.size()));
        }
    } else {
        result.push_back(symbols ? FLAG_SYMBOLS : 0);
        raw4(1);
        raw4(uint32_t(payload.size()));
        if (symbols) {
            raw4(uint32_t(symbols_.size()));
            raw4(uint32_t(strings_.size()));
        }
    }
    if (symbols) {
        for (uint32_t o : offsets_) raw4(o);
        bytes(strings_.data(), strings_.size());
    }
    result.insert(result.end(), out_.begin(), out_.end());
    result.insert(result.end(), payload.begin(), payload.end());
    return result;
}

Cell* encode_with(const Cell* value, Cell* out, bool compact) {
    codec_mode = 1;
    Encoder encoder(compact);
    Cell v = *value;
    encoder.value(&v);
    std::vector<uint8_t> bytes = encoder.finish();
    return binary::load_at(out, bytes.data(), int32_t(bytes.size()));
}

}  // namespace

Cell* encode_cp(const Cell* value, Cell* out) { return encode_with(value, out, true); }
Cell* encode(const Cell* value, Cell* out) { return encode_with(value, out, false); }

}  // namespace zuv::zuvbin
