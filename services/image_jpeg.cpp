// JPEG through libjpeg-turbo's TurboJPEG interface.
//
// Decoding stops at the first warning as well as at an error: a truncated
// or corrupt file gives no image rather than a half-grey one. Progressive
// files with an unreasonable number of scans are refused. CMYK and YCCK
// files are read as CMYK and turned into RGB here (the library does not);
// such files store their inks inverted (as Adobe's writers do), so a
// channel is C x K / 255. Encoding is baseline at quality 90 with 4:2:0
// chroma, and drops alpha.
#include <turbojpeg.h>

#include "services/image_codecs.hpp"

namespace zuv::image_codecs {

namespace {

constexpr int QUALITY = 90;

// A TurboJPEG instance, destroyed on every path.
struct Handle {
    tjhandle h;
    explicit Handle(bool compress) : h(compress ? tjInitCompress() : tjInitDecompress()) {}
    ~Handle() {
        if (h) tjDestroy(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

constexpr int DECODE_FLAGS = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;

}  // namespace

bool decode_jpeg(const uint8_t* data, size_t size, Pixels* out) {
    Handle tj(false);
    if (!tj.h || size > 0xFFFFFFFFu) return false;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj.h, data, (unsigned long)size, &width, &height, &subsampling, &colourspace) != 0)
        return false;
    if (!allocate(out, width, height)) return false;
    uint32_t* p = out->data.get();
    auto* bytes = reinterpret_cast<unsigned char*>(p);
    const bool cmyk = colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
    const int format = cmyk ? TJPF_CMYK : BGRA_IN_MEMORY ? TJPF_BGRA : TJPF_ARGB;
    if (tjDecompress2(tj.h, data, (unsigned long)size, bytes, width, 0, height, format, DECODE_FLAGS) != 0) {
        out->data.reset();
        return false;
    }
    if (cmyk) {
        const int64_t count = int64_t(width) * height;
        for (int64_t i = 0; i < count; i++) {
            const unsigned char* ink = bytes + i * 4;
            const uint32_t k = ink[3];
            p[i] = pixel(ink[0] * k / 255, ink[1] * k / 255, ink[2] * k / 255, 255);
        }
    }
    return true;
}

bool encode_jpeg(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out) {
    Handle tj(true);
    if (!tj.h) return false;
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int format = BGRA_IN_MEMORY ? TJPF_BGRA : TJPF_ARGB;
    if (tjCompress2(tj.h, reinterpret_cast<const unsigned char*>(pixels), width, 0, height, format, &jpeg, &size,
                    TJSAMP_420, QUALITY, TJFLAG_ACCURATEDCT) != 0) {
        tjFree(jpeg);
        return false;
    }
    out->assign(jpeg, jpeg + size);
    tjFree(jpeg);
    return true;
}

}  // namespace zuv::image_codecs
