// The image backend: image records, their collection, and the operations
// on their pixels.
#include "services/image_backend.hpp"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "runtime/collector.hpp"
#include "runtime/externals.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "services/files.hpp"
#include "services/image_geometry.hpp"

namespace zuv::image_backend {

namespace {

using image_codecs::Pixels;

constexpr uint32_t KIND_TAG = 0x696D6167;  // "imag"
constexpr uint32_t OPAQUE_WHITE = 0xFFFFFFFF;
// Pixel bytes that may be allocated before a collection is asked for; after
// each collection the budget becomes twice what survived (at least this).
constexpr int64_t COLLECT_BUDGET = int64_t(64) << 20;

int32_t image_kind = 0;
int64_t live = 0;
int64_t budget = COLLECT_BUDGET;

// Every record, linked from here: the pixels stay reachable for leak
// checkers until the collector releases them.
Bitmap* bitmaps = nullptr;

int32_t record_index(Node record) {
    SeriesBuffer* s = memory::buffer_of(record);
    if (memory::used_bytes(s) < int32_t(sizeof(int32_t))) return -1;
    int32_t index;
    std::memcpy(&index, memory::head_of(s), sizeof index);
    return index;
}

// Records hold memory the collector does not see: when they have grown past
// the budget, a collection frees the unreachable ones first.
void make_room(int64_t bytes) {
    if (live + bytes <= budget) return;
    collector::collect_if_enabled();
    budget = std::max(COLLECT_BUDGET, 2 * (live + bytes));
}

// Raises script invalid-arg with the size when a side is outside
// 0..MAX_SIDE: the cell's size word holds 16 bits a side.
void check_sides(int64_t width, int64_t height) {
    if (width >= 0 && height >= 0 && width <= MAX_SIDE && height <= MAX_SIDE) return;
    Cell size;
    pair::make_at(cell::begin(&size), int32_t(std::clamp<int64_t>(width, INT32_MIN, INT32_MAX)),
                  int32_t(std::clamp<int64_t>(height, INT32_MIN, INT32_MAX)));
    fire(ErrorCategory::script, "invalid-arg", &size);
}

// An uncleared buffer of width x height pixels (both at least 1); internal
// no-memory when it cannot be had. Collects first when records have grown.
Pixels new_pixels(int32_t width, int32_t height) {
    const int64_t count = int64_t(width) * height;
    // The pixel index is a 32-bit signed value everywhere in the language.
    if (count > INT32_MAX) fire_no_memory();
    make_room(count * 4);
    Pixels p;
    if (!image_codecs::allocate(&p, width, height)) fire_no_memory();
    return p;
}

// c := an image! (head 0) of a new record that takes over the pixels.
Cell* make_image_record(Cell* c, Pixels&& p, uint32_t flags) {
    cell::begin(c);
    const int64_t bytes = int64_t(p.width) * p.height * 4;
    make_room(bytes);
    // The record's series may collect; the pixels are outside the series
    // memory and stay where they are.
    Node record = memory::alloc_bytes(sizeof(int32_t));
    auto* b = static_cast<Bitmap*>(std::malloc(sizeof(Bitmap)));
    if (!b) fire_no_memory();
    *b = Bitmap{p.width, p.height, p.data.release(), flags, nullptr, bitmaps};
    if (bitmaps) bitmaps->previous = b;
    bitmaps = b;
    live += bytes;

    int32_t index = externals::store(b, image_kind);
    SeriesBuffer* s = memory::buffer_of(record);
    std::memcpy(memory::head_of(s), &index, sizeof index);
    s->tail = s->head + int32_t(sizeof index);

    c->w2 = record;
    c->w3 = uint32_t(b->width) | uint32_t(b->height) << 16;
    return cell::set_type(c, TYPE_IMAGE);
}

// c := an image of width x height without pixels (a side is 0).
Cell* empty_image(Cell* c, int32_t width, int32_t height) {
    cell::begin(c);
    c->w3 = uint32_t(width) | uint32_t(height) << 16;
    return cell::set_type(c, TYPE_IMAGE);
}

[[noreturn]] void fire_bad_media() { fire(ErrorCategory::access, "bad-media"); }

// The index when it names a pixel of the image's record, else script
// out-of-range with the index.
int32_t pixel_index(const Cell* image, int32_t index) {
    const Bitmap* b = bitmap_of(image);
    if (b && index >= 0 && int64_t(index) < int64_t(b->width) * b->height) return index;
    Cell at;
    fire(ErrorCategory::script, "out-of-range", integer::make_at(cell::begin(&at), index));
}

}  // namespace

void init() {
    image_kind = externals::register_kind(KIND_TAG, &release_image);
    collector::mark_image = &mark_image;
}

int32_t kind() { return image_kind; }

Cell* new_image(Cell* c, int32_t width, int32_t height, uint32_t fill) {
    check_sides(width, height);
    if (width == 0 || height == 0) return empty_image(c, width, height);
    cell::begin(c);
    Pixels p = new_pixels(width, height);
    std::fill(p.data.get(), p.data.get() + int64_t(width) * height, fill);
    return make_image_record(c, std::move(p), BITMAP_CURRENT | PIXELS_WRITTEN);
}

Bitmap* bitmap_of(const Cell* image) {
    if (type_of(image) != TYPE_IMAGE || image->w2 == 0) return nullptr;
    const externals::Entry* e = externals::entry_at(record_index(image->w2));
    if (!e || e->flags == externals::ENTRY_FREE || int32_t(e->flags & externals::ENTRY_KIND_MASK) != image_kind)
        return nullptr;
    return static_cast<Bitmap*>(e->object);
}

uint32_t* lock_pixels(const Cell* image, bool write) {
    Bitmap* b = bitmap_of(image);
    if (!b) fire_bad_media();
    if (write) b->flags |= PIXELS_WRITTEN;
    return b->pixels;
}

const uint32_t* image_source(Bitmap* record) {
    record->flags &= ~(PIXELS_WRITTEN | PREMULTIPLIED);
    return record->pixels;
}

Cell* make_bitmap(Cell* c, int32_t width, int32_t height, const Cell* colour, const std::vector<uint8_t>& rgb,
                  const std::vector<uint8_t>& alpha) {
    uint32_t fill = OPAQUE_WHITE;
    if (colour) {
        const uint32_t a = tuple::size_of(colour) > 3 ? 255 - tuple::byte_at(colour, 3) : 255;
        fill = image_codecs::pixel(tuple::byte_at(colour, 0), tuple::byte_at(colour, 1), tuple::byte_at(colour, 2), a);
    }
    new_image(c, width, height, fill);
    Bitmap* b = bitmap_of(c);
    if (!b || colour) return c;
    const int64_t n = int64_t(b->width) * b->height;
    uint32_t* p = b->pixels;
    for (int64_t i = 0; i < std::min<int64_t>(n, int64_t(rgb.size()) / 3); i++)
        p[i] = image_codecs::pixel(rgb[size_t(3 * i)], rgb[size_t(3 * i + 1)], rgb[size_t(3 * i + 2)], 255);
    for (int64_t i = 0; i < std::min<int64_t>(n, int64_t(alpha.size())); i++)
        p[i] = (p[i] & 0xFFFFFF) | uint32_t(255 - alpha[size_t(i)]) << 24;
    return c;
}

Cell* bitmap_from_memory(Cell* c, int32_t width, int32_t height, int64_t stride, const uint8_t* bgra) {
    new_image(c, width, height, 0);
    Bitmap* b = bitmap_of(c);
    if (!b) return c;
    if (stride == 0) stride = int64_t(width) * 4;
    for (int64_t y = 0; y < height; y++) {
        const uint8_t* row = bgra + y * stride;
        for (int64_t x = 0; x < width; x++)
            b->pixels[y * width + x] =
                image_codecs::pixel(row[x * 4 + 2], row[x * 4 + 1], row[x * 4], row[x * 4 + 3]);
    }
    return c;
}

bool load_bytes(Cell* c, const uint8_t* data, size_t size) {
    Pixels p;
    if (!image_codecs::decode(data, size, &p)) return false;
    make_image_record(c, std::move(p), BITMAP_CURRENT);
    return true;
}

bool load_file(Cell* c, const std::string& path) {
    std::string bytes;
    if (!simple_io::read_bytes(path, bytes)) return false;
    return load_bytes(c, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool encode(const Cell* image, int32_t format, std::vector<uint8_t>* out) {
    out->clear();
    if (format < 0 || format >= image_codecs::FORMATS) {
        runtime::print_line("Cannot find image encoder");
        return false;
    }
    if ((image->w3 & 0xFFFF) == 0 || (image->w3 >> 16) == 0) return true;
    Bitmap* b = bitmap_of(image);
    if (!b) fire_bad_media();
    if (!image_codecs::encode(format, image_source(b), b->width, b->height, out)) fire_bad_media();
    return true;
}

Cell* copy_image(const Cell* image, Cell* result) {
    const Bitmap* b = bitmap_of(image);
    if (!b) return empty_image(result, 0, 0);
    return copy_image_part(image, result, 0, 0, b->width, b->height);
}

Cell* copy_image_part(const Cell* image, Cell* result, int32_t x, int32_t y, int32_t width, int32_t height) {
    const Cell source = *image;
    const Bitmap* b = bitmap_of(&source);
    if (!b || x < 0 || y < 0 || x >= b->width || y >= b->height || width <= 0 || height <= 0)
        return empty_image(result, 0, 0);
    const int32_t w = std::min(width, b->width - x), h = std::min(height, b->height - y);
    new_image(result, w, h, 0);
    // The source record is held by the caller's marked cell: new_image
    // cannot have released it.
    b = bitmap_of(&source);
    copy_pixel_rect(b->pixels, b->width, b->height, x, y, w, h, bitmap_of(result)->pixels);
    return result;
}

Cell* scale_image(const Cell* image, Cell* result, int32_t width, int32_t height) {
    const Cell source = *image;
    check_sides(width, height);
    if (!bitmap_of(&source) || width == 0 || height == 0) return empty_image(result, width, height);
    new_image(result, width, height, 0);
    const Bitmap* b = bitmap_of(&source);
    scale_nearest(b->pixels, b->width, b->height, width, height, bitmap_of(result)->pixels);
    return result;
}

uint32_t get_pixel(const Cell* image, int32_t index) { return lock_pixels(image, false)[pixel_index(image, index)]; }

void set_pixel(const Cell* image, int32_t index, uint32_t value) {
    lock_pixels(image, true)[pixel_index(image, index)] = value;
}

void mark_image(Node* record) {
    if (*record) externals::mark(record_index(*record), nullptr);
}

void release_image(void* object) {
    auto* b = static_cast<Bitmap*>(object);
    if (!b) return;
    if (b->previous) b->previous->next = b->next;
    else bitmaps = b->next;
    if (b->next) b->next->previous = b->previous;
    live -= int64_t(b->width) * b->height * 4;
    std::free(b->pixels);
    std::free(b);
}

int64_t live_bytes() { return live; }

}  // namespace zuv::image_backend
