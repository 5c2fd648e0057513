// image!: pixels and channels, make and to, paths, the text form,
// comparison, navigation, change, copy and the registration of the row.
//
// Pixels live in the backend's bitmaps, outside the series memory: a pixel
// address stays valid while the image value is reachable, so loops over
// pixels may append to an output string (which may collect) as long as the
// image itself is held by a marked cell.
#include "lexer/serialize/zuvbin.hpp"
#include "runtime/datatypes/image.hpp"

#include <algorithm>
#include <cstring>

#include "evaluator/stack.hpp"
#include "lexer/convert.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/ownership.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"
#include "services/files.hpp"
#include "services/image_backend.hpp"
#include "services/os_info.hpp"

namespace zuv::image {

namespace {

using image_backend::Bitmap;

using image_codecs::alpha;
using image_codecs::blue;
using image_codecs::green;
using image_codecs::pixel;
using image_codecs::red;

// ---- tuple! cells ----

// The stored pixel a colour tuple gives: R, G, B, and A = 255 - its fourth
// byte when it has one, else opaque.
uint32_t tuple_pixel(const Cell* t) {
    uint32_t a = tuple::size_of(t) > 3 ? 255 - tuple::byte_at(t, 3) : 255;
    return pixel(tuple::byte_at(t, 0), tuple::byte_at(t, 1), tuple::byte_at(t, 2), a);
}

Cell* make_pixel_tuple(Cell* c, uint32_t p) {
    cell::begin(c);
    c->w1 = red(p) | green(p) << 8 | blue(p) << 16 | (255 - alpha(p)) << 24;
    c->header |= 4u << lexer::TUPLE_SIZE_SHIFT;
    return cell::set_type(c, TYPE_TUPLE);
}

// ---- helpers ----

int32_t clamped_head(const Cell* v) { return std::clamp(int32_t(v->w1), 0, pixel_count(v)); }

uint32_t* pixels_of(const Cell* v) {
    Bitmap* b = image_backend::bitmap_of(v);
    return b ? b->pixels : nullptr;
}

void mark_changed(const Cell* v) {
    if (Bitmap* b = image_backend::bitmap_of(v)) b->flags |= image_backend::PIXELS_WRITTEN;
}

// Tells an owned image's owner of a change; true when an owner was told.
// The owner's handler runs user code: re-read everything after it.
bool notify(const Cell* v, const Cell& action, const Cell* new_value, int32_t index, int32_t part) {
    if (v->w2 == 0 || !(memory::buffer_of(v->w2)->flags & SERIES_OWNED)) return false;
    return ownership::check(v, &action, new_value, index, part);
}

[[noreturn]] void fire_out_of_range(const Cell* at) { fire(ErrorCategory::script, "out-of-range", at); }

// The position a pick or poke names: the boxed index when it is a pair!,
// else the integer index.
Cell position_value(int32_t index, const Cell* boxed) {
    Cell at;
    if (boxed && type_of(boxed) == TYPE_PAIR) return *boxed;
    integer::make_at(cell::begin(&at), index);
    return at;
}

// The symbol of a word element, compared by canonical spelling.
bool named_q(const Cell* word, int32_t symbol) {
    return symbol::resolve(int32_t(word->w2)) == symbol::resolve(symbol);
}

}  // namespace

// ---- pixels and channels ----

int32_t position(const Cell* image, const Cell* at, int32_t mode, bool* out_of_range) {
    const int64_t w = width_of(image), h = height_of(image), total = w * h;
    bool out = false;
    int64_t n;
    if (type_of(at) == TYPE_PAIR) {
        const int64_t x = int32_t(at->w2), y = int32_t(at->w3);
        if (mode == 1) {
            out = x > w || x <= 0 || y > h || y <= 0;
            n = y > 0 ? x + w * (y - 1) : x + w * y;
        } else {
            out = x >= w || x < 0 || y >= h || y < 0;
            n = x + w * y;
        }
    } else if (type_of(at) == TYPE_INTEGER) {
        n = integer::get_value(at);
    } else {
        fire(ErrorCategory::script, "invalid-arg", at);
    }
    const int64_t head = int32_t(image->w1);
    // One-based: 1 is the head, -1 the pixel before it.
    const int64_t i = mode == 1 && n > 0 ? head + n - 1 : head + n;
    if (i < 0 || i >= total || n == 0) out = true;
    if (out_of_range) *out_of_range = out;
    return int32_t(std::clamp<int64_t>(i, 0, total));
}

Cell* pixel_tuple(const Cell* image, int32_t index, Cell* out) {
    const uint32_t* p = pixels_of(image);
    if (!p || index < 0 || index >= pixel_count(image)) return none::make_at(out);
    return make_pixel_tuple(out, p[index]);
}

std::vector<uint8_t> get_channels(const Cell* image, int32_t mode) {
    const uint32_t* p = pixels_of(image);
    const int32_t n = p ? pixel_count(image) : 0;
    std::vector<uint8_t> out;
    out.reserve(size_t(n) * (mode == ALPHA ? 1 : mode == RGB ? 3 : 4));
    for (int32_t i = 0; i < n; i++) {
        uint32_t q = p[i];
        switch (mode) {
        case ALPHA: out.push_back(uint8_t(255 - alpha(q))); break;
        case RGB:
            out.push_back(uint8_t(red(q)));
            out.push_back(uint8_t(green(q)));
            out.push_back(uint8_t(blue(q)));
            break;
        default:  // the stored bytes in memory order: B, G, R, A
            out.push_back(uint8_t(blue(q)));
            out.push_back(uint8_t(green(q)));
            out.push_back(uint8_t(red(q)));
            out.push_back(uint8_t(alpha(q)));
        }
    }
    return out;
}

void set_channels(const Cell* image, int32_t mode, const Cell* value) {
    const Cell v = *image;
    const int32_t n = pixel_count(&v);
    uint32_t* p = pixels_of(&v);
    switch (type_of(value)) {
    case TYPE_BINARY: {
        std::vector<uint8_t> bytes = binary::bytes_of(value);
        if (!p) break;
        const int64_t length = int64_t(bytes.size());
        if (mode == ARGB) {
            for (int64_t k = 0; k < std::min<int64_t>(length, int64_t(n) * 4); k++) {
                int32_t shift = int32_t(k & 3) * 8;
                uint32_t& q = p[k >> 2];
                q = (q & ~(0xFFu << shift)) | uint32_t(bytes[size_t(k)]) << shift;
            }
        } else if (mode == RGB) {
            for (int64_t i = 0; i < std::min<int64_t>(n, length / 3); i++)
                p[i] = pixel(bytes[size_t(3 * i)], bytes[size_t(3 * i + 1)], bytes[size_t(3 * i + 2)], alpha(p[i]));
        } else {
            for (int64_t i = 0; i < std::min<int64_t>(n, length); i++)
                p[i] = (p[i] & 0xFFFFFF) | uint32_t(255 - bytes[size_t(i)]) << 24;
        }
        break;
    }
    case TYPE_TUPLE: case TYPE_INTEGER: {
        // The bytes from the least significant: a tuple's first byte first.
        uint32_t b[4];
        for (int32_t k = 0; k < 4; k++)
            b[k] = type_of(value) == TYPE_TUPLE ? tuple::byte_at(value, k) : (value->w2 >> (8 * k)) & 0xFF;
        for (int32_t i = 0; p && i < n; i++) {
            switch (mode) {
            case ARGB: p[i] = pixel(b[0], b[1], b[2], 255 - b[3]); break;
            case RGB: p[i] = pixel(b[0], b[1], b[2], alpha(p[i])); break;
            default: p[i] = (p[i] & 0xFFFFFF) | (255 - b[0]) << 24;
            }
        }
        break;
    }
    default: fire(ErrorCategory::script, "invalid-arg", value);
    }
    mark_changed(&v);
    notify(&v, words::changed, value, 0, n);
}

namespace {

// ---- pick, poke and paths ----

const Cell* pick(Cell* series, int32_t index, Cell* boxed) {
    Cell at = position_value(index, boxed);
    bool out;
    int32_t i = position(series, &at, 1, &out);
    if (out) return none::make_at(series);
    return pixel_tuple(series, i, series);
}

// Writes a colour tuple at the position; raises out-of-range or invalid-arg.
// With tell the owner hears of the poke (change tells it itself).
void poke_at(Cell* series, const Cell* at, const Cell* data, bool tell = true) {
    bool out;
    int32_t i = position(series, at, 1, &out);
    if (out) fire_out_of_range(at);
    if (type_of(data) != TYPE_TUPLE) fire(ErrorCategory::script, "invalid-arg", data);
    bool owned = tell && notify(series, words::poke, data, i, 1);
    if (owned && ((i = position(series, at, 1, &out)), out)) fire_out_of_range(at);
    uint32_t* p = pixels_of(series);
    if (!p) fire_out_of_range(at);
    p[i] = tuple_pixel(data);
    mark_changed(series);
    if (owned) notify(series, words::poked, data, i, 1);
}

Cell* poke(Cell* series, int32_t index, Cell* data, Cell* boxed) {
    Cell at = position_value(index, boxed);
    poke_at(series, &at, data);
    return data;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                bool) {
    const uint32_t type = type_of(element);
    if (type == TYPE_INTEGER || type == TYPE_PAIR) {
        if (value) {
            poke_at(parent, element, value);
            return value;
        }
        bool out;
        int32_t i = position(parent, element, 1, &out);
        Cell* result = stack::push_raw();
        return out ? none::make_at(result) : pixel_tuple(parent, i, result);
    }
    if (type == TYPE_WORD) {
        int32_t mode = named_q(element, sym::argb) ? ARGB : named_q(element, sym::rgb) ? RGB
                       : named_q(element, sym::alpha) ? ALPHA : -1;
        if (mode >= 0) {
            if (value) {
                set_channels(parent, mode, value);
                return value;
            }
            std::vector<uint8_t> bytes = get_channels(parent, mode);
            return binary::load_at(stack::push_raw(), bytes);
        }
        if (!value && named_q(element, sym::size))
            return pair::make_at(stack::push_raw(), width_of(parent), height_of(parent));
    }
    fire(ErrorCategory::script, "invalid-path", path ? path : element, element);
}

// ---- make and to ----

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*);

// The cells of a block from its head, at most limit of them, copied out.
std::vector<Cell> cells_of(const Cell* block, int32_t limit) {
    SeriesBuffer* s = memory::buffer_of(block->w2);
    int32_t total = memory::used_bytes(s) / int32_t(sizeof(Cell));
    int32_t head = std::clamp(int32_t(block->w1), 0, total);
    const Cell* first = memory::cells_head(s) + head;
    return std::vector<Cell>(first, first + std::min(total - head, limit));
}

Cell* to(Cell* proto, Cell* spec, int32_t) {
    // An object! becomes an image only when it is a face the GUI backend can
    // render; there is no GUI backend yet, so no object is one.
    if (type_of(spec) != TYPE_IMAGE) fire_bad_to_arg(TYPE_IMAGE, spec);
    return copy(spec, proto, nullptr, false, nullptr);
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    Cell size;
    std::vector<uint8_t> rgb, alpha_bytes;
    Cell colour;
    bool coloured = false;
    if (type_of(spec) == TYPE_PAIR) {
        size = *spec;
    } else if (type_of(spec) == TYPE_BLOCK) {
        std::vector<Cell> items = cells_of(spec, 3);
        if (items.empty()) {
            if (type_of(proto) != TYPE_IMAGE) fire(ErrorCategory::script, "invalid-arg", spec);
            Cell* copied = cell::begin(stack::push_raw());
            copy(proto, copied, nullptr, false, nullptr);
            *proto = *copied;
            stack::pop(1);
            return proto;
        }
        os::expect_type(&items[0], TYPE_PAIR);
        size = items[0];
        if (items.size() > 1) {
            if (type_of(&items[1]) == TYPE_BINARY) rgb = binary::bytes_of(&items[1]);
            else if (type_of(&items[1]) == TYPE_TUPLE) colour = items[1], coloured = true;
            else fire(ErrorCategory::script, "invalid-arg", &items[1]);
        }
        if (items.size() > 2) {
            os::expect_type(&items[2], TYPE_BINARY);
            alpha_bytes = binary::bytes_of(&items[2]);
        }
    } else {
        return to(proto, spec, type);
    }
    // Negative sides count as 0; the size word holds at most 65535 a side.
    int32_t w = std::max(int32_t(size.w2), 0), h = std::max(int32_t(size.w3), 0);
    if (w > image_backend::MAX_SIDE || h > image_backend::MAX_SIDE) fire(ErrorCategory::script, "invalid-arg", &size);
    return image_backend::make_bitmap(proto, w, h, coloured ? &colour : nullptr, rgb, alpha_bytes);
}

// ---- text form ----

bool limit_given(const Cell* arg) { return series::given(arg, stack::arguments) && type_of(arg) == TYPE_INTEGER; }

// "make image! [WxH #{RRGGBB...}]" with an alpha part "#{..}" (255 - A a
// pixel) when a pixel from the head is not opaque. Lines of 10 pixels when
// the pixels take more than 30 bytes, indented `levels` deep.
int32_t write_text(const Cell* value, Cell* buffer, bool only, bool flat, bool limited, int32_t part,
                   int32_t levels) {
    const Cell v = *value;
    auto literal = [&](const char* text) {
        string::concatenate_literal(buffer, text);
        part -= int32_t(std::strlen(text));
    };
    auto new_line = [&](int32_t depth) {
        string::append_char(buffer, '\n');
        part--;
        for (int32_t i = 0; i < depth; i++) literal("    ");
    };
    auto hex = [&](uint32_t byte) {
        const char* digits = string::byte_to_hex(uint8_t(byte));
        string::append_char(buffer, uint8_t(digits[0]));
        string::append_char(buffer, uint8_t(digits[1]));
    };
    if (!only) literal("make image! [");
    char number[integer::TEXT_SIZE];
    integer::to_text(width_of(&v), number);
    literal(number);
    literal("x");
    integer::to_text(height_of(&v), number);
    literal(number);

    // The image (v) is held by the caller's marked cell, so its pixels stay
    // put while the output grows.
    const uint32_t* p = pixels_of(&v);
    if (!p) {
        literal(" #{}");
        if (!only) literal("]");
        return part;
    }
    literal(" #{");
    const int32_t head = clamped_head(&v), n = pixel_count(&v) - head;
    const bool lines = !flat && int64_t(n) * 4 > 30;
    if (lines) new_line(levels);
    bool transparent = false;
    for (int32_t i = 0; i < n; i++) {
        uint32_t q = p[head + i];
        transparent = transparent || alpha(q) < 255;
        hex(red(q));
        hex(green(q));
        hex(blue(q));
        part -= 6;
        if (!flat && (i + 1) % 10 == 0) new_line(levels);
        if (limited && part < 7) return part;
    }
    if (lines && n % 10 != 0) new_line(levels - 1);
    literal("}");
    if (transparent) {
        literal(" #{");
        new_line(levels);
        for (int32_t i = 0; i < n; i++) {
            hex(255 - alpha(p[head + i]));
            part -= 2;
            if (!flat && (i + 1) % 10 == 0) new_line(levels);
            if (limited && part < 1) return part;
        }
        new_line(levels - 1);
        literal("}");
    }
    if (!only) literal("]");
    return part;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return write_text(value, buffer, false, false, limit_given(arg), part, 0);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool, bool flat, Cell* arg, int32_t part, int32_t indent) {
    return write_text(value, buffer, only, flat, limit_given(arg), part, indent + 1);
}

// ---- comparison ----

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_IMAGE) return COMPARE_INCOMPARABLE;
    const bool same = value1->w2 == value2->w2 && value1->w1 == value2->w1;
    if (op == COMP_SAME) return same ? 0 : -1;
    if (op >= COMP_LESSER && op <= COMP_GREATER_EQUAL) return COMPARE_INCOMPARABLE;
    if (same && (op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL)) return 0;
    const int32_t n1 = pixel_count(value1), n2 = pixel_count(value2);
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    const uint32_t* a = pixels_of(value1);
    const uint32_t* b = pixels_of(value2);
    if (!a || !b) return 0;
    for (int32_t i = 0; i < n1; i++) {
        if (a[i] == b[i]) continue;
        // The stored bytes in memory order: B, G, R, A.
        for (int32_t shift = 0; shift < 32; shift += 8) {
            uint32_t x = (a[i] >> shift) & 0xFF, y = (b[i] >> shift) & 0xFF;
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return 0;
}

// ---- navigation ----

int32_t length_q(Cell* value) { return pixel_count(value); }

void at_slot() {
    Cell* v = stack::arguments;
    v->w1 = uint32_t(position(v, v + 1, 1, nullptr));
}

void skip_slot() {
    Cell* v = stack::arguments;
    v->w1 = uint32_t(position(v, v + 1, 0, nullptr));
}

void next_slot() {
    Cell* v = stack::arguments;
    if (int64_t(int32_t(v->w1)) + 1 <= pixel_count(v)) v->w1++;
}

void tail_slot() { stack::arguments->w1 = uint32_t(pixel_count(stack::arguments)); }

void tail_q_slot() {
    Cell* v = stack::arguments;
    logic::make_at(v, int32_t(v->w1) >= pixel_count(v));
}

// ---- change ----

Cell* change(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
    if (part >= 0 || dup >= 2) fire_not_done();
    if (type_of(value) == TYPE_TUPLE) {
        Cell at;
        integer::make_at(cell::begin(&at), 1);
        bool owned = notify(series, words::change, value, int32_t(series->w1), 1);
        poke_at(series, &at, value, false);
        series->w1++;
        if (owned) notify(series, words::changed, value, int32_t(series->w1) - 1, 1);
        return series;
    }
    if (type_of(value) != TYPE_IMAGE) {
        fire_with_datatype("invalid-type", type_of(value));
    }
    const int32_t w = width_of(series), h = height_of(series);
    int32_t head = int32_t(series->w1);
    if (head < 0 || head >= pixel_count(series)) return series;
    const int32_t sw = width_of(value), sh = height_of(value);
    int32_t x0 = head % w, y0 = head / w;
    int32_t rows = std::min(sh, h - y0), cols = std::min(sw, w - x0);
    if (!pixels_of(value) || rows <= 0 || cols <= 0) return series;
    bool owned = notify(series, words::change, value, head, rows * cols);
    if (owned) {
        head = int32_t(series->w1);
        if (head < 0 || head >= pixel_count(series)) return series;
        x0 = head % w;
        y0 = head / w;
        rows = std::min(sh, h - y0);
        cols = std::min(sw, w - x0);
    }
    // Pasting an image onto itself reads a copy of the source rows.
    const uint32_t* source = pixels_of(value);
    uint32_t* target = pixels_of(series);
    if (!source || !target) return series;
    std::vector<uint32_t> own;
    if (source == target) {
        own.assign(source, source + pixel_count(value));
        source = own.data();
    }
    for (int32_t r = 0; r < rows; r++)
        std::memcpy(target + int64_t(y0 + r) * w + x0, source + int64_t(r) * sw, size_t(cols) * 4);
    mark_changed(series);
    series->w1 = uint32_t((y0 + rows - 1) * w + std::min(x0 + sw, w));
    if (owned) notify(series, words::changed, value, head, rows * cols);
    return series;
}

// ---- copy ----

// result := a new image of the rectangle (x, y, width, height) of value's
// pixels, which lies inside them; an empty rectangle gives an image without
// pixels (0x0).
Cell* copy_rectangle(const Cell* value, Cell* result, int64_t x, int64_t y, int64_t width, int64_t height) {
    return image_backend::copy_image_part(value, result, int32_t(x), int32_t(y), int32_t(width), int32_t(height));
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
    const int64_t w = width_of(value), h = height_of(value);
    if (w == 0 || h == 0 || !pixels_of(value)) return image_backend::copy_image(value, result);
    const int64_t head = clamped_head(value), total = w * h;
    const int64_t x0 = head % w, y0 = head / w;
    if (!series::given(part, value)) return copy_rectangle(value, result, x0, y0, w - x0, h - y0);
    switch (type_of(part)) {
    case TYPE_INTEGER: fire_not_done();
    case TYPE_PAIR: {
        const int64_t dx = int32_t(part->w2), dy = int32_t(part->w3);
        if (dx >= 1 && dy >= 1 && head < total)
            return copy_rectangle(value, result, x0, y0, std::min(dx, w - x0), std::min(dy, h - y0));
        if (dx < 0 && dy < 0 && head > 0) {
            // Up and to the left: the columns before the head's column (a
            // head in column 0 counts as the whole width) and the rows up to
            // and including the head's row.
            int64_t right = x0 == 0 ? w : x0, bottom = y0 < h ? y0 + 1 : y0;
            int64_t width = -dx, height = -dy, left, top;
            if (width > right) {
                width = right;
                left = 0;
            } else {
                left = right - width;
            }
            if (height > bottom) {
                height = bottom;
                top = 0;
            } else {
                top = bottom - height;
            }
            return copy_rectangle(value, result, left, top, width, height);
        }
        return copy_rectangle(value, result, 0, 0, 0, 0);
    }
    case TYPE_IMAGE: {
        if (part->w2 != value->w2) series::fire_refine_arg(refinements::part, part);
        const int64_t other = clamped_head(part);
        const int64_t low = std::min(head, other), high = std::max(head, other);
        const int64_t x1 = low % w, y1 = low / w, x2 = high % w, y2 = high / w;
        return copy_rectangle(value, result, x1, y1, x2 - x1, y2 - y1);
    }
    default: series::fire_refine_arg(refinements::part, part);
    }
}

constexpr SlotEntry row[] = {
    slot<Act::make, &make>,
    NONE, NONE,                                                  // random reflect
    slot<Act::to, &to>,
    slot<Act::form, &form>,
    slot<Act::mold, &mold>,
    slot<Act::eval_path, &eval_path>,
    NONE,                                                        // (empty)
    slot<Act::compare, &compare>,
    NONE,                                                        // 10 absolute
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20
    NONE, NONE, NONE, NONE, NONE,                                // 21-25
    slot<Act::at, &at_slot>,
    INHERIT,                                                     // back
    slot<Act::change, &change>,
    NONE,                                                        // clear
    slot<Act::copy, &copy>,
    NONE,                                                        // find
    INHERIT, INHERIT, INHERIT,                                   // head head? index?
    NONE,                                                        // insert
    slot<Act::length_q, &length_q>,
    NONE,                                                        // move
    slot<Act::next, &next_slot>,
    slot<Act::pick, &pick>,
    slot<Act::poke, &poke>,
    NONE, NONE, NONE, NONE, NONE,                                // put remove reverse select sort
    slot<Act::skip, &skip_slot>,
    NONE,                                                        // swap
    slot<Act::tail, &tail_slot>,
    slot<Act::tail_q, &tail_q_slot>,
    NONE, NONE, NONE, NONE, NONE,                                // take trim create close delete
    INHERIT,                                                     // modify
    NONE, NONE, NONE, NONE, NONE, NONE, NONE,                    // open ... write
};
ZUV_CHECK_ROW(row);

}  // namespace

// ---- encoded images ----

Cell* load_binary(const Cell* data) {
    std::vector<uint8_t> bytes = binary::bytes_of(data);
    Cell* out = stack::push_raw();
    if (image_codecs::sniff(bytes.data(), bytes.size()) < 0) return none::make_at(out);
    if (!image_backend::load_bytes(out, bytes.data(), bytes.size())) fire(ErrorCategory::access, "bad-media");
    return out;
}

Cell* load_file(const Cell* file, Cell* out) {
    const Cell f = *file;
    if (!image_backend::load_file(out, url::utf8_of(&f))) fire(ErrorCategory::access, "cannot-open", &f);
    return out;
}

Cell* decode(const Cell* data) {
    switch (type_of(data)) {
    case TYPE_BINARY: return load_binary(data);
    case TYPE_FILE: return load_file(data, stack::push_raw());
    default: fire(ErrorCategory::script, "invalid-arg", data);
    }
}

Cell* encode(const Cell* image, const Cell* target, int32_t format) {
    std::vector<uint8_t> bytes;
    if (!image_backend::encode(image, format, &bytes)) return nullptr;
    if (bytes.size() > size_t(INT32_MAX)) fire_no_memory();
    Cell* out = binary::load_at(stack::push_raw(), bytes);
    if (type_of(target) != TYPE_FILE) return out;
    simple_io::write(target, out, nullptr, -1, true, false, false);
    *out = *target;
    return out;
}

namespace {

// The serialized format's side of images: the stored bytes of every pixel
// from the first, and a new image made from such bytes.
void serial_pixels(const Cell* image, std::vector<uint8_t>* out) { *out = get_channels(image, ARGB); }

void serial_make(Cell* out, int32_t width, int32_t height, const uint8_t* pixels) {
    image_backend::bitmap_from_memory(out, width, height, 0, pixels);
}

}  // namespace

void register_type() {
    image_backend::init();
    zuvbin::image_access = {serial_pixels, serial_make};
    datatype::register_type(TYPE_IMAGE, TYPE_SERIES, "image!", row);
}

}  // namespace zuv::image
