// The in-memory image backend: bitmaps, image records and their collection.
#include "runtime/datatypes/image_backend.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "runtime/collector.hpp"
#include "runtime/externals.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"

namespace zuv::image_backend {

namespace {

constexpr uint32_t KIND_TAG = 0x696D6167;  // "imag"
// Pixel bytes that may be allocated before a collection is asked for; after
// each collection the budget becomes twice what survived (at least this).
constexpr int64_t COLLECT_BUDGET = int64_t(64) << 20;

int32_t image_kind = 0;
int64_t live = 0;
int64_t budget = COLLECT_BUDGET;

// Every bitmap, linked from here: the pixels stay reachable for leak
// checkers until the collector releases them.
Bitmap* bitmaps = nullptr;

int32_t record_index(Node record) {
    SeriesBuffer* s = memory::buffer_of(record);
    if (memory::used_bytes(s) < int32_t(sizeof(int32_t))) return -1;
    int32_t index;
    std::memcpy(&index, memory::head_of(s), sizeof index);
    return index;
}

// Bitmaps hold memory the collector does not see: when they have grown past
// the budget, a collection frees the unreachable ones first.
void make_room(int64_t bytes) {
    if (live + bytes <= budget) return;
    collector::collect_if_enabled();
    budget = std::max(COLLECT_BUDGET, 2 * (live + bytes));
}

}  // namespace

void init() {
    image_kind = externals::register_kind(KIND_TAG, &release_image);
    collector::mark_image = &mark_image;
}

int32_t kind() { return image_kind; }

Cell* new_image(Cell* c, int32_t width, int32_t height, uint32_t fill) {
    width = std::clamp(width, 0, MAX_SIDE);
    height = std::clamp(height, 0, MAX_SIDE);
    cell::begin(c);
    if (width == 0 || height == 0) {
        c->w3 = uint32_t(width) | uint32_t(height) << 16;
        return cell::set_type(c, TYPE_IMAGE);
    }
    // The pixel index is a 32-bit signed value everywhere in the language.
    int64_t count = int64_t(width) * height;
    if (count > INT32_MAX) fire(ErrorCategory::internal, "no-memory");
    int64_t bytes = count * 4;
    make_room(bytes);

    // The record first (it may collect); from here on nothing allocates in
    // the series memory until the cell is complete.
    Node record = memory::alloc_bytes(sizeof(int32_t));
    auto* b = static_cast<Bitmap*>(std::malloc(sizeof(Bitmap)));
    auto* pixels = static_cast<uint32_t*>(std::malloc(size_t(bytes)));
    if (!b || !pixels) {
        std::free(b);
        std::free(pixels);
        fire(ErrorCategory::internal, "no-memory");
    }
    std::fill(pixels, pixels + count, fill);
    *b = Bitmap{width, height, pixels, true, nullptr, bitmaps};
    if (bitmaps) bitmaps->previous = b;
    bitmaps = b;
    live += bytes;

    int32_t index = externals::store(b, image_kind);
    SeriesBuffer* s = memory::buffer_of(record);
    std::memcpy(memory::head_of(s), &index, sizeof index);
    s->tail = s->head + int32_t(sizeof index);

    c->w2 = record;
    c->w3 = uint32_t(width) | uint32_t(height) << 16;
    return cell::set_type(c, TYPE_IMAGE);
}

Bitmap* bitmap_of(const Cell* image) {
    if (type_of(image) != TYPE_IMAGE || image->w2 == 0) return nullptr;
    const externals::Entry* e = externals::entry_at(record_index(image->w2));
    if (!e || e->flags == externals::ENTRY_FREE || int32_t(e->flags & externals::ENTRY_KIND_MASK) != image_kind)
        return nullptr;
    return static_cast<Bitmap*>(e->object);
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
