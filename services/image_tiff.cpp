// TIFF through libtiff, on memory buffers.
//
// Read: the first directory. Plain 8-bit RGB and grey images (with an
// optional alpha sample) in strips, stored top row first, are read a
// scanline at a time, so that unassociated alpha comes back exactly. Every
// other kind (palette, 16-bit, CMYK, YCbCr, tiles, other orientations) goes
// through libtiff's RGBA reader, turned upright; that reader premultiplies,
// so its colours are divided by alpha again.
//
// Written: 8-bit RGBA with unassociated alpha, LZW with the horizontal
// predictor. libtiff's messages are kept off standard error.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "services/image_codecs.hpp"

namespace zuv::image_codecs {

namespace {

// The bytes libtiff reads, or the growing buffer it writes.
struct Memory {
    const uint8_t* data;
    size_t size;
    uint64_t at;
    std::vector<uint8_t>* out;  // null when reading
};

// Writes past this offset are refused rather than grown into.
constexpr uint64_t LARGEST_FILE = uint64_t(1) << 36;

uint64_t size_of(const Memory* m) { return m->out ? m->out->size() : m->size; }

tmsize_t read_proc(thandle_t handle, void* into, tmsize_t count) {
    auto* m = static_cast<Memory*>(handle);
    if (m->out || count <= 0 || m->at >= m->size) return 0;
    const size_t n = size_t(std::min<uint64_t>(uint64_t(count), m->size - m->at));
    std::memcpy(into, m->data + m->at, n);
    m->at += n;
    return tmsize_t(n);
}

tmsize_t write_proc(thandle_t handle, void* from, tmsize_t count) {
    auto* m = static_cast<Memory*>(handle);
    if (!m->out || count < 0 || m->at + uint64_t(count) > LARGEST_FILE) return -1;
    if (m->at + uint64_t(count) > m->out->size()) m->out->resize(size_t(m->at + uint64_t(count)));
    std::memcpy(m->out->data() + m->at, from, size_t(count));
    m->at += uint64_t(count);
    return count;
}

toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
    auto* m = static_cast<Memory*>(handle);
    const int64_t base = whence == SEEK_CUR ? int64_t(m->at) : whence == SEEK_END ? int64_t(size_of(m)) : 0;
    int64_t to;
    if (__builtin_add_overflow(base, int64_t(offset), &to) || to < 0 || uint64_t(to) > LARGEST_FILE)
        return toff_t(-1);
    m->at = uint64_t(to);
    return toff_t(to);
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t handle) { return size_of(static_cast<Memory*>(handle)); }
int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}
int quiet(::TIFF*, void*, const char*, const char*, va_list) { return 1; }

// A libtiff file on memory, closed on every path.
struct TiffFile {
    ::TIFF* tif = nullptr;
    TiffFile(Memory* m, const char* mode) {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options) return;
        TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
        // No single allocation beyond what the largest allowed image needs.
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(std::min<int64_t>(max_pixels, INT32_MAX) * 8));
        tif = TIFFClientOpenExt("memory", mode, m, read_proc, write_proc, seek_proc, close_proc, size_proc, map_proc,
                                unmap_proc, options);
        TIFFOpenOptionsFree(options);
    }
    ~TiffFile() {
        if (tif) TIFFClose(tif);
    }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;
};

uint32_t unpremultiply(uint32_t c, uint32_t a) { return a == 0 ? 0 : std::min<uint32_t>(255, (c * 255 + a / 2) / a); }

// What the alpha sample means: -1 none, else an EXTRASAMPLE_ value.
int alpha_kind(::TIFF* tif, int32_t colour_samples, uint16_t samples) {
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    if (samples <= colour_samples || !TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) || count < 1)
        return -1;
    return kinds[0] == EXTRASAMPLE_UNSPECIFIED ? -1 : kinds[0];
}

// Plain 8-bit strips, a scanline at a time.
bool read_scanlines(::TIFF* tif, int32_t colour_samples, uint16_t samples, Pixels* out) {
    const int alpha_sample = alpha_kind(tif, colour_samples, samples);
    std::vector<uint8_t> line(size_t(std::max<tmsize_t>(TIFFScanlineSize(tif), 0)));
    if (line.size() < size_t(out->width) * samples) return false;
    for (int32_t y = 0; y < out->height; y++) {
        if (TIFFReadScanline(tif, line.data(), uint32_t(y), 0) < 0) return false;
        uint32_t* to = out->data.get() + int64_t(y) * out->width;
        for (int32_t x = 0; x < out->width; x++) {
            const uint8_t* s = &line[size_t(x) * samples];
            uint32_t r = s[0], g = s[0], b = s[0], a = 255;
            if (colour_samples == 3) g = s[1], b = s[2];
            if (alpha_sample >= 0) a = s[colour_samples];
            if (alpha_sample == EXTRASAMPLE_ASSOCALPHA)
                r = unpremultiply(r, a), g = unpremultiply(g, a), b = unpremultiply(b, a);
            to[x] = pixel(r, g, b, a);
        }
    }
    return true;
}

// Anything else through libtiff's RGBA reader, into the pixel buffer itself.
bool read_rgba(::TIFF* tif, Pixels* out) {
    uint32_t* p = out->data.get();
    if (!TIFFReadRGBAImageOriented(tif, uint32_t(out->width), uint32_t(out->height), p, ORIENTATION_TOPLEFT, 1))
        return false;
    const int64_t count = int64_t(out->width) * out->height;
    for (int64_t i = 0; i < count; i++) {
        const uint32_t v = p[i], a = TIFFGetA(v);
        p[i] = pixel(unpremultiply(TIFFGetR(v), a), unpremultiply(TIFFGetG(v), a), unpremultiply(TIFFGetB(v), a), a);
    }
    return true;
}

// True when the first directory, and every value it keeps outside its
// entries, lies inside the data. libtiff reads a cut-off directory with
// warnings and goes on without the values it lost (a palette image whose
// colour map is cut comes out grey): such a file counts as truncated.
bool directory_inside(const uint8_t* d, size_t n) {
    if (n < 8) return false;
    const bool little = d[0] == 'I';
    auto get = [&](uint64_t at, int bytes) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; i++) v |= uint64_t(d[at + uint64_t(little ? i : bytes - 1 - i)]) << (8 * i);
        return v;
    };
    const bool big = get(2, 2) == 43;  // BigTIFF: 8-byte counts and offsets
    if (big && n < 16) return false;
    const uint64_t directory = big ? get(8, 8) : get(4, 4);
    const uint64_t count_size = big ? 8 : 2, entry_size = big ? 20 : 12, inline_size = big ? 8 : 4;
    if (directory > n || count_size > n - directory) return false;
    const uint64_t entries = get(directory, int(count_size));
    if (entries > (n - directory - count_size) / entry_size) return false;
    for (uint64_t i = 0; i < entries; i++) {
        const uint64_t e = directory + count_size + i * entry_size;
        // The size of a value of each field type; 0 for types libtiff does not read.
        static const uint64_t type_sizes[19] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
        const uint64_t type = get(e + 2, 2), count = get(e + 4, big ? 8 : 4);
        const uint64_t size = type < 19 ? type_sizes[type] : 0;
        if (size == 0 || count <= inline_size / size) continue;
        if (count > n / size) return false;
        const uint64_t offset = get(e + 4 + (big ? 8 : 4), big ? 8 : 4);
        if (offset > n || count * size > n - offset) return false;
    }
    return true;
}

}  // namespace

bool decode_tiff(const uint8_t* data, size_t size, Pixels* out) {
    if (!directory_inside(data, size)) return false;
    Memory m{data, size, 0, nullptr};
    TiffFile file(&m, "rm");
    ::TIFF* tif = file.tif;
    uint32_t width = 0, height = 0;
    if (!tif || !TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height))
        return false;
    uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, orientation = ORIENTATION_TOPLEFT, photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    const bool known = TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    const int32_t colour_samples = !known                                   ? 0
                                   : photometric == PHOTOMETRIC_RGB        ? 3
                                   : photometric == PHOTOMETRIC_MINISBLACK ? 1
                                                                           : 0;
    if (!allocate(out, width, height)) return false;
    const bool plain = colour_samples && bits == 8 && planar == PLANARCONFIG_CONTIG &&
                       orientation == ORIENTATION_TOPLEFT && !TIFFIsTiled(tif) &&
                       (samples == colour_samples || samples == colour_samples + 1);
    if (plain ? read_scanlines(tif, colour_samples, samples, out) : read_rgba(tif, out)) return true;
    out->data.reset();
    return false;
}

bool encode_tiff(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out) {
    out->clear();
    Memory m{nullptr, 0, 0, out};
    bool ok;
    {
        TiffFile file(&m, "w");
        ::TIFF* tif = file.tif;
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        ok = tif && TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width)) &&
             TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height)) &&
             TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4) &&
             TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
             TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
             TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra) &&
             TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
             TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
             TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
             TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
        std::vector<uint8_t> line(size_t(width) * 4);
        for (int32_t y = 0; ok && y < height; y++) {
            const uint32_t* from = pixels + int64_t(y) * width;
            for (int32_t x = 0; x < width; x++) {
                uint8_t* s = &line[size_t(x) * 4];
                s[0] = uint8_t(red(from[x])), s[1] = uint8_t(green(from[x])), s[2] = uint8_t(blue(from[x]));
                s[3] = uint8_t(alpha(from[x]));
            }
            ok = TIFFWriteScanline(tif, line.data(), uint32_t(y), 0) >= 0;
        }
        ok = ok && TIFFFlush(tif);
    }
    if (!ok) out->clear();
    return ok;
}

}  // namespace zuv::image_codecs
