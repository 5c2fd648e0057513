// GIF through giflib, read and written a line at a time in memory.
//
// Read: the first frame at its own size (not the logical screen), with its
// local palette or else the global one; the transparent index of the
// graphic control extension before it gives alpha 0; interlaced rows are
// put back in order. Indexes past the palette are black.
//
// Written: one frame the size of the image. An image of 256 colours or
// fewer (every pixel with A < 128 counted as one transparent colour, which
// keeps the colour of the first such pixel) gets an exact palette; a larger
// one is reduced by median cut to 256 colours, or 255 and a transparent one.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "services/image_codecs.hpp"

namespace zuv::image_codecs {

namespace {

constexpr uint32_t TRANSPARENT_BELOW = 128;

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at;
};

int read_bytes(GifFileType* gif, GifByteType* into, int count) {
    auto* r = static_cast<Reader*>(gif->UserData);
    size_t n = std::min(size_t(std::max(count, 0)), r->size - r->at);
    if (n > 0) std::memcpy(into, r->data + r->at, n);
    r->at += n;
    return int(n);
}

int write_bytes(GifFileType* gif, const GifByteType* from, int count) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), from, from + std::max(count, 0));
    return count;
}

// A giflib file being decoded, closed on every path.
struct GifFile {
    GifFileType* gif;
    ~GifFile() {
        int error;
        if (gif) DGifCloseFile(gif, &error);
    }
};

// The frame's rows in the order the file holds them: the four passes of an
// interlaced image, else top to bottom.
std::vector<int32_t> row_order(int32_t height, bool interlaced) {
    std::vector<int32_t> rows;
    rows.reserve(size_t(height));
    if (!interlaced) {
        for (int32_t y = 0; y < height; y++) rows.push_back(y);
        return rows;
    }
    const int32_t start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; pass++)
        for (int32_t y = start[pass]; y < height; y += step[pass]) rows.push_back(y);
    return rows;
}

bool read_frame(GifFileType* gif, int32_t transparent, Pixels* out) {
    if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
    const GifImageDesc& desc = gif->Image;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (!map || !allocate(out, desc.Width, desc.Height)) return false;
    uint32_t palette[256];
    for (int i = 0; i < 256; i++) {
        palette[i] = 0xFF000000;
        if (i < map->ColorCount) palette[i] = pixel(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue, 255);
    }
    if (transparent >= 0) palette[transparent] &= 0x00FFFFFF;
    std::vector<GifPixelType> line(size_t(out->width));
    for (int32_t y : row_order(out->height, desc.Interlace)) {
        if (DGifGetLine(gif, line.data(), out->width) == GIF_ERROR) return false;
        uint32_t* to = out->data.get() + int64_t(y) * out->width;
        for (int32_t x = 0; x < out->width; x++) to[x] = palette[line[size_t(x)]];
    }
    return true;
}

}  // namespace

bool decode_gif(const uint8_t* data, size_t size, Pixels* out) {
    Reader reader{data, size, 0};
    int error = 0;
    GifFile file{DGifOpen(&reader, read_bytes, &error)};
    if (!file.gif) return false;
    int32_t transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(file.gif, &type) == GIF_ERROR) return false;
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (read_frame(file.gif, transparent, out)) return true;
            out->data.reset();
            return false;
        }
        if (type != EXTENSION_RECORD_TYPE) return false;  // the end, with no frame
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(file.gif, &code, &block) == GIF_ERROR) return false;
        // A graphic control block: its length 4, flags (bit 0: transparency),
        // the delay in two bytes, then the transparent index.
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) transparent = (block[1] & 1) ? block[4] : -1;
        while (block)
            if (DGifGetExtensionNext(file.gif, &block) == GIF_ERROR) return false;
    }
}

bool encode_gif(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out) {
    const int64_t count = int64_t(width) * height;
    auto see_through = [](uint32_t p) { return alpha(p) < TRANSPARENT_BELOW; };

    // The palette: the colours in order of first use while there are at most
    // 256 (the transparent one among them), else a median cut of the opaque ones.
    std::vector<uint32_t> colours;
    std::vector<uint8_t> indexes(static_cast<size_t>(count));
    int32_t transparent = -1;
    std::unordered_map<uint32_t, uint8_t> seen;
    bool exact = true;
    for (int64_t i = 0; i < count && exact; i++) {
        const uint32_t p = pixels[i];
        if (see_through(p)) {
            if (transparent < 0 && colours.size() == 256) {
                exact = false;
                break;
            }
            if (transparent < 0) {
                transparent = int32_t(colours.size());
                colours.push_back(p & 0xFFFFFF);
            }
            indexes[size_t(i)] = uint8_t(transparent);
            continue;
        }
        auto [at, added] = seen.try_emplace(p & 0xFFFFFF, uint8_t(colours.size()));
        if (added) {
            if (colours.size() == 256) {
                exact = false;
                break;
            }
            colours.push_back(p & 0xFFFFFF);
        }
        indexes[size_t(i)] = at->second;
    }
    if (!exact) {
        bool any_transparent = false;
        for (int64_t i = 0; i < count && !any_transparent; i++) any_transparent = see_through(pixels[i]);
        Palette reduced = median_cut(pixels, count, any_transparent ? 255 : 256, TRANSPARENT_BELOW);
        colours = std::move(reduced.colours);
        indexes = std::move(reduced.indexes);
        transparent = -1;
        for (int64_t i = 0; i < count; i++) {
            if (!see_through(pixels[i])) continue;
            if (transparent < 0) {
                transparent = int32_t(colours.size());
                colours.push_back(pixels[i] & 0xFFFFFF);
            }
            indexes[size_t(i)] = uint8_t(transparent);
        }
    }

    // A palette has a power-of-two size, at least 2; the rest is black.
    int size = 2;
    while (size < int(colours.size())) size *= 2;
    std::vector<GifColorType> entries(size_t(size), GifColorType{0, 0, 0});
    for (size_t i = 0; i < colours.size(); i++)
        entries[i] = GifColorType{GifByteType(red(colours[i])), GifByteType(green(colours[i])),
                                  GifByteType(blue(colours[i]))};
    ColorMapObject* map = GifMakeMapObject(size, entries.data());
    if (!map) return false;

    out->clear();
    int error = 0;
    GifFileType* gif = EGifOpen(out, write_bytes, &error);
    bool ok = gif != nullptr;
    if (ok) {
        EGifSetGifVersion(gif, transparent >= 0);
        ok = EGifPutScreenDesc(gif, width, height, 8, 0, map) != GIF_ERROR;
    }
    if (ok && transparent >= 0) {
        const GifByteType control[4] = {1, 0, 0, GifByteType(transparent)};
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) != GIF_ERROR;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) != GIF_ERROR;
    for (int32_t y = 0; ok && y < height; y++)
        ok = EGifPutLine(gif, indexes.data() + int64_t(y) * width, width) != GIF_ERROR;
    GifFreeMapObject(map);
    // Closing writes the trailer, and frees the file even when it fails.
    if (gif && EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
    if (!ok) out->clear();
    return ok;
}

}  // namespace zuv::image_codecs
