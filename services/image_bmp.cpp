// BMP, read and written here.
//
// Read: the core (12-byte) header and the info headers of 40 bytes and
// more; 1-, 4- and 8-bit palette images, 16- and 32-bit images with or
// without bit fields (masks in the header or after a 40-byte one), 24-bit
// images; rows from the bottom (positive height) or from the top (negative
// height). RLE compression is not read. A 32-bit image without bit fields
// keeps its fourth byte as alpha unless every pixel's is 0 (writers that
// mean "unused" leave it 0), in which case it is opaque.
//
// Written: a version 4 header with bit fields, 32 bits a pixel in the
// order B, G, R, A, rows from the bottom.
#include <algorithm>
#include <bit>

#include "services/image_codecs.hpp"

namespace zuv::image_codecs {

namespace {

constexpr size_t FILE_HEADER = 14;
constexpr size_t V4_HEADER = 108;
constexpr uint32_t BI_RGB = 0, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6;

uint32_t u16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t u32(const uint8_t* p) { return u16(p) | u16(p + 2) << 16; }

void put16(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back(uint8_t(v));
    out->push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>* out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// One channel of a bit-field pixel, scaled to 0-255.
struct Field {
    uint32_t mask = 0;
    int32_t shift = 0;
    uint64_t top = 0;  // the largest value of the field

    explicit Field(uint32_t m = 0) : mask(m) {
        if (!m) return;
        shift = std::countr_zero(m);
        top = m >> shift;
    }
    uint32_t get(uint32_t v, uint32_t absent) const {
        if (!mask) return absent;
        return uint32_t(((v & mask) >> shift) * 255 / top);
    }
};

struct Layout {
    int64_t width = 0, height = 0;
    bool top_down = false;
    uint32_t bits = 0, compression = BI_RGB;
    uint32_t masks[4] = {0, 0, 0, 0};  // R, G, B, A
    bool masks_given = false;
    size_t palette_at = 0, palette_entry = 4;
    int64_t colours = 0;
    size_t pixels_at = 0;
};

// Reads the headers; false for anything this reader does not take.
bool read_layout(const uint8_t* d, size_t n, Layout* l) {
    if (n < FILE_HEADER + 12 || d[0] != 'B' || d[1] != 'M') return false;
    l->pixels_at = u32(d + 10);
    const uint8_t* h = d + FILE_HEADER;
    const size_t header = u32(h);
    if (header == 12) {
        l->width = u16(h + 4);
        l->height = u16(h + 6);
        l->bits = u16(h + 10);
        l->palette_entry = 3;
    } else {
        if (header < 40 || header > n - FILE_HEADER) return false;
        l->width = int32_t(u32(h + 4));
        l->height = int32_t(u32(h + 8));
        l->bits = u16(h + 14);
        l->compression = u32(h + 16);
        l->colours = u32(h + 32);
        // The 64-byte OS/2 header numbers its compressions differently.
        if (header == 64 && l->compression != BI_RGB) return false;
        if (l->compression == BI_BITFIELDS || l->compression == BI_ALPHABITFIELDS) {
            const size_t count = l->compression == BI_ALPHABITFIELDS ? 4 : 3;
            const uint8_t* at = h + 40;
            if (header == 40) {
                // The masks follow the header, before the palette.
                if (FILE_HEADER + 40 + count * 4 > n) return false;
                l->palette_at = count * 4;
            } else if (header < 40 + count * 4) {
                return false;
            }
            for (size_t i = 0; i < count; i++) l->masks[i] = u32(at + 4 * i);
            // From the 56-byte header on, the alpha mask stands beside the others.
            if (header >= 56 && count == 3) l->masks[3] = u32(at + 12);
            l->masks_given = true;
        }
    }
    l->palette_at += FILE_HEADER + header;
    if (l->height < 0) {
        l->top_down = true;
        l->height = -l->height;
    }
    if (l->width < 1 || l->height < 1 || l->width > MAX_SIDE || l->height > MAX_SIDE) return false;
    const int64_t colours = l->colours;
    l->colours = 0;  // a palette is read only for the palette images
    switch (l->bits) {
    case 1: case 4: case 8:
        l->colours = colours;
        if (l->compression != BI_RGB) return false;
        if (l->colours <= 0 || l->colours > (int64_t(1) << l->bits)) l->colours = int64_t(1) << l->bits;
        // A palette cut short by the pixel data keeps the entries before it.
        if (l->palette_at > l->pixels_at || l->pixels_at > n) return false;
        l->colours = std::min<int64_t>(l->colours, int64_t((l->pixels_at - l->palette_at) / l->palette_entry));
        return true;
    case 16: case 32:
        if (l->compression == BI_RGB) {
            if (l->bits == 16) {
                l->masks[0] = 0x7C00, l->masks[1] = 0x03E0, l->masks[2] = 0x001F;
            } else {
                l->masks[0] = 0xFF0000, l->masks[1] = 0xFF00, l->masks[2] = 0xFF, l->masks[3] = 0xFF000000;
            }
            return true;
        }
        return l->masks_given;
    case 24: return l->compression == BI_RGB;
    default: return false;
    }
}

}  // namespace

bool decode_bmp(const uint8_t* d, size_t n, Pixels* out) {
    Layout l;
    if (!read_layout(d, n, &l)) return false;
    const int64_t stride = (l.width * l.bits + 31) / 32 * 4;
    if (l.pixels_at > n || int64_t(n - l.pixels_at) < stride * l.height) return false;
    if (!allocate(out, l.width, l.height)) return false;

    // Indexes past the palette's entries are black.
    uint32_t palette[256];
    for (int64_t i = 0; i < 256; i++) palette[i] = 0xFF000000;
    for (int64_t i = 0; i < l.colours; i++) {
        const uint8_t* e = d + l.palette_at + size_t(i) * l.palette_entry;
        palette[i] = pixel(e[2], e[1], e[0], 255);
    }
    const Field r(l.masks[0]), g(l.masks[1]), b(l.masks[2]), a(l.masks[3]);
    uint32_t* p = out->data.get();
    bool any_alpha = false;
    for (int64_t y = 0; y < l.height; y++) {
        const uint8_t* row = d + l.pixels_at + size_t((l.top_down ? y : l.height - 1 - y) * stride);
        uint32_t* to = p + y * l.width;
        for (int64_t x = 0; x < l.width; x++) {
            uint32_t v;
            switch (l.bits) {
            case 1: to[x] = palette[(row[x >> 3] >> (7 - (x & 7))) & 1]; continue;
            case 4: to[x] = palette[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF]; continue;
            case 8: to[x] = palette[row[x]]; continue;
            case 24: to[x] = pixel(row[x * 3 + 2], row[x * 3 + 1], row[x * 3], 255); continue;
            case 16: v = u16(row + x * 2); break;
            default: v = u32(row + x * 4);
            }
            to[x] = pixel(r.get(v, 0), g.get(v, 0), b.get(v, 0), a.get(v, 255));
            any_alpha = any_alpha || (v & l.masks[3]);
        }
    }
    if (l.bits == 32 && l.compression == BI_RGB && !any_alpha) {
        const int64_t count = l.width * l.height;
        for (int64_t i = 0; i < count; i++) p[i] |= 0xFF000000;
    }
    return true;
}

bool encode_bmp(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out) {
    const int64_t data = int64_t(width) * height * 4;
    const int64_t total = int64_t(FILE_HEADER + V4_HEADER) + data;
    if (total > int64_t(UINT32_MAX)) return false;
    out->clear();
    out->reserve(size_t(total));
    out->push_back('B');
    out->push_back('M');
    put32(out, uint32_t(total));
    put32(out, 0);
    put32(out, uint32_t(FILE_HEADER + V4_HEADER));
    put32(out, uint32_t(V4_HEADER));
    put32(out, uint32_t(width));
    put32(out, uint32_t(height));
    put16(out, 1);   // planes
    put16(out, 32);  // bits a pixel
    put32(out, BI_BITFIELDS);
    put32(out, uint32_t(data));
    put32(out, 2835);  // 72 dots an inch, in dots a metre
    put32(out, 2835);
    put32(out, 0);  // colours used
    put32(out, 0);  // colours important
    put32(out, 0x00FF0000);
    put32(out, 0x0000FF00);
    put32(out, 0x000000FF);
    put32(out, 0xFF000000);
    put32(out, 0x73524742);                     // the colour space "sRGB"
    out->insert(out->end(), 36 + 12, uint8_t(0));  // end points and gamma, unused with sRGB
    for (int64_t y = height - 1; y >= 0; y--) {
        for (int64_t x = 0; x < width; x++) put32(out, pixels[y * width + x]);
    }
    return true;
}

}  // namespace zuv::image_codecs
