// The image codecs on files made by other programs' encoders
// (tests/images/, made by make_fixtures.py there), round trips through our
// own encoders, and damaged input.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "services/image_codecs.hpp"

using namespace zuv;
using namespace zuv::image_codecs;

namespace {

std::vector<uint8_t> file_bytes(const std::string& name) {
    std::ifstream in(std::string(ZUV_TEST_IMAGES) + "/" + name, std::ios::binary);
    EXPECT_TRUE(bool(in)) << name;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// An image as a plain vector of 0xAARRGGBB values.
struct Image {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

// The source pictures: PAM files of depth 1 (grey), 3 (RGB) or 4 (RGBA).
Image read_pam(const std::string& name) {
    std::vector<uint8_t> bytes = file_bytes(name);
    std::string text(bytes.begin(), bytes.end());
    size_t end = text.find("ENDHDR\n");
    std::istringstream header(text.substr(0, end));
    Image image;
    int depth = 0;
    for (std::string key; header >> key;) {
        if (key == "WIDTH") header >> image.width;
        else if (key == "HEIGHT") header >> image.height;
        else if (key == "DEPTH") header >> depth;
    }
    const uint8_t* p = bytes.data() + end + 7;
    for (int32_t i = 0; i < image.width * image.height; i++, p += depth) {
        if (depth == 1) image.pixels.push_back(pixel(p[0], p[0], p[0], 255));
        else image.pixels.push_back(pixel(p[0], p[1], p[2], depth == 4 ? p[3] : 255));
    }
    return image;
}

Image image_of(const Pixels& p) {
    return Image{p.width, p.height, std::vector<uint32_t>(p.data.get(), p.data.get() + int64_t(p.width) * p.height)};
}

// Each pixel's channels differ by at most tolerance. A lossy codec blurs
// colours across the edges of the flat 16 x 16 blocks of its picture: with
// `inner`, only the pixels 4 or more away from those edges count.
::testing::AssertionResult close(const Image& got, const Image& want, uint32_t tolerance, bool inner = false) {
    if (got.width != want.width || got.height != want.height)
        return ::testing::AssertionFailure() << "size " << got.width << "x" << got.height;
    for (size_t i = 0; i < want.pixels.size(); i++) {
        const int32_t x = int32_t(i) % want.width % 16, y = int32_t(i) / want.width % 16;
        if (inner && (x < 4 || x > 11 || y < 4 || y > 11)) continue;
        for (int shift = 0; shift < 32; shift += 8) {
            int32_t a = int32_t((got.pixels[i] >> shift) & 0xFF), b = int32_t((want.pixels[i] >> shift) & 0xFF);
            if (uint32_t(std::abs(a - b)) > tolerance)
                return ::testing::AssertionFailure()
                       << "pixel " << i << ": " << std::hex << got.pixels[i] << " instead of " << want.pixels[i];
        }
    }
    return ::testing::AssertionSuccess();
}

// The picture with its white pixels made transparent (files with a
// transparent colour).
Image white_transparent(Image image) {
    for (uint32_t& p : image.pixels)
        if (p == 0xFFFFFFFF) p = 0x00FFFFFF;
    return image;
}

Image upside_down(Image image) {
    Image flipped = image;
    for (int32_t y = 0; y < image.height; y++)
        std::copy_n(&image.pixels[size_t((image.height - 1 - y) * image.width)], image.width,
                    &flipped.pixels[size_t(y * image.width)]);
    return flipped;
}

// The picture as a greyscale JPEG holds it: the luma of each pixel.
Image luma(Image image) {
    for (uint32_t& p : image.pixels) {
        uint32_t y = uint32_t(0.299 * red(p) + 0.587 * green(p) + 0.114 * blue(p) + 0.5);
        p = pixel(y, y, y, 255);
    }
    return image;
}

const char* const ALL_FIXTURES[] = {
    "interlaced.png", "rgb16.png",          "palette-trns.png", "grey.png",        "rgba.png",
    "pngtest.png",    "progressive.jpg",    "grey.jpg",         "cmyk.jpg",        "transparent.gif",
    "interlaced.gif", "rgb24.bmp",          "palette8.bmp",     "palette4.bmp",    "os2-8.bmp",
    "rgba32.bmp",     "rgb24-topdown.bmp",  "palette8-topdown.bmp", "rgba32-topdown.bmp", "rgb-lzw.tif",
    "grey.tif",       "rgba.tif",           "rgb16.tif",        "palette.tif",     "tiled.tif",
    "planar-be.tif",  "bottom-left.tif",    "jpeg.tif",
};

}  // namespace

TEST(ImageCodecs, FilesMadeByOtherEncodersDecodeToTheirPictures) {
    const Image rgb = read_pam("source-rgb.pam"), rgba = read_pam("source-rgba.pam"),
                grey = read_pam("source-grey.pam"), tall = read_pam("source-tall.pam"),
                blocks = read_pam("source-blocks.pam");
    struct Case {
        const char* file;
        Image want;
        uint32_t tolerance;
    } cases[] = {
        {"interlaced.png", tall, 0},
        {"rgb16.png", rgb, 0},
        {"palette-trns.png", white_transparent(rgb), 0},
        {"grey.png", grey, 0},
        {"rgba.png", rgba, 0},
        {"progressive.jpg", blocks, 4},
        {"grey.jpg", luma(blocks), 4},
        {"cmyk.jpg", blocks, 8},
        {"transparent.gif", white_transparent(rgb), 0},
        {"interlaced.gif", tall, 0},
        {"rgb24.bmp", rgb, 0},
        {"palette8.bmp", rgb, 0},
        {"palette4.bmp", rgb, 0},
        {"os2-8.bmp", rgb, 0},
        {"rgba32.bmp", rgba, 0},
        {"rgb24-topdown.bmp", rgb, 0},
        {"palette8-topdown.bmp", rgb, 0},
        {"rgba32-topdown.bmp", rgba, 0},
        {"rgb-lzw.tif", rgb, 0},
        {"grey.tif", grey, 0},
        {"rgba.tif", rgba, 0},
        {"rgb16.tif", rgb, 0},
        {"palette.tif", rgb, 0},
        {"tiled.tif", rgb, 0},
        {"planar-be.tif", rgb, 0},
        {"bottom-left.tif", upside_down(rgb), 0},
        {"jpeg.tif", blocks, 4},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = file_bytes(c.file);
        Pixels p;
        ASSERT_TRUE(decode(bytes.data(), bytes.size(), &p)) << c.file;
        EXPECT_TRUE(close(image_of(p), c.want, c.tolerance, c.want.width == 32)) << c.file;
    }
}

TEST(ImageCodecs, TheSampleImageOfLibpngsPackage) {
    std::vector<uint8_t> bytes = file_bytes("pngtest.png");
    Pixels p;
    ASSERT_TRUE(decode_png(bytes.data(), bytes.size(), &p));
    ASSERT_EQ(p.width, 91);
    ASSERT_EQ(p.height, 69);
    // The CRC-32 of its pixels as R, G, B, A bytes, as another decoder gives them.
    std::vector<uint8_t> rgba;
    for (int32_t i = 0; i < 91 * 69; i++) {
        uint32_t v = p.data[size_t(i)];
        rgba.insert(rgba.end(), {uint8_t(red(v)), uint8_t(green(v)), uint8_t(blue(v)), uint8_t(alpha(v))});
    }
    EXPECT_EQ(crc32(0, rgba.data(), uInt(rgba.size())), 0xFB296C7Fu);
}

TEST(ImageCodecs, EachEncoderRoundTrips) {
    const Image rgba = read_pam("source-rgba.pam"), blocks = read_pam("source-blocks.pam");
    // GIF keeps one transparent colour: every pixel fully opaque or fully clear.
    Image binary_alpha = rgba;
    for (uint32_t& p : binary_alpha.pixels) p = alpha(p) < 128 ? 0x00102030 : p | 0xFF000000;
    struct Case {
        int32_t format;
        const Image& picture;
        uint32_t tolerance;
    } cases[] = {{PNG, rgba, 0}, {BMP, rgba, 0}, {TIFF, rgba, 0}, {GIF, binary_alpha, 0}, {JPEG, blocks, 4}};
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(encode(c.format, c.picture.pixels.data(), c.picture.width, c.picture.height, &bytes));
        EXPECT_EQ(sniff(bytes.data(), bytes.size()), c.format);
        Pixels p;
        ASSERT_TRUE(decode(bytes.data(), bytes.size(), &p)) << c.format;
        EXPECT_TRUE(close(image_of(p), c.picture, c.tolerance, c.format == JPEG)) << c.format;
    }
    // An opaque PNG is written without alpha and reads back opaque.
    std::vector<uint8_t> png;
    ASSERT_TRUE(encode_png(blocks.pixels.data(), 32, 32, &png));
    EXPECT_EQ(png[25], 2) << "colour type RGB";
    Pixels p;
    ASSERT_TRUE(decode_png(png.data(), png.size(), &p));
    EXPECT_TRUE(close(image_of(p), blocks, 0));
    EXPECT_FALSE(encode(5, blocks.pixels.data(), 32, 32, &png));
    EXPECT_FALSE(encode(-1, blocks.pixels.data(), 32, 32, &png));
}

TEST(ImageCodecs, GifReducesManyColoursByMedianCutTheSameWayEachTime) {
    // 64 x 64 pixels of 4096 colours, and a transparent corner.
    Image many{64, 64, {}};
    for (int32_t y = 0; y < 64; y++)
        for (int32_t x = 0; x < 64; x++) many.pixels.push_back(pixel(x * 4, y * 4, (x ^ y) * 4, x + y < 4 ? 0 : 255));
    std::vector<uint8_t> first, second;
    ASSERT_TRUE(encode_gif(many.pixels.data(), 64, 64, &first));
    ASSERT_TRUE(encode_gif(many.pixels.data(), 64, 64, &second));
    EXPECT_EQ(first, second);
    Pixels p;
    ASSERT_TRUE(decode_gif(first.data(), first.size(), &p));
    Image got = image_of(p);
    std::vector<uint32_t> distinct = got.pixels;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    EXPECT_LE(distinct.size(), 256u);
    EXPECT_GT(distinct.size(), 200u) << "the palette is used";
    double error = 0;
    for (size_t i = 0; i < got.pixels.size(); i++) {
        EXPECT_EQ(alpha(got.pixels[i]), alpha(many.pixels[i]) < 128 ? 0u : 255u) << i;
        error += std::abs(int(red(got.pixels[i])) - int(red(many.pixels[i]))) +
                 std::abs(int(green(got.pixels[i])) - int(green(many.pixels[i]))) +
                 std::abs(int(blue(got.pixels[i])) - int(blue(many.pixels[i])));
    }
    EXPECT_LT(error / double(got.pixels.size() * 3), 12.0) << "mean error a channel";
}

TEST(ImageCodecs, TruncatedOrDamagedFilesGiveNoImage) {
    for (const char* name : ALL_FIXTURES) {
        const std::vector<uint8_t> whole = file_bytes(name);
        // Every prefix is safe to decode; half a file never decodes.
        for (size_t n = 0; n < whole.size(); n++) {
            std::vector<uint8_t> cut(whole.begin(), whole.begin() + ptrdiff_t(n));
            Pixels p;
            bool decoded = decode(cut.data(), cut.size(), &p);
            if (n <= whole.size() / 2) {
                EXPECT_FALSE(decoded) << name << " cut at " << n;
            }
        }
        // Damage anywhere is safe to decode.
        for (size_t i = 0; i < whole.size(); i += 3) {
            std::vector<uint8_t> damaged = whole;
            damaged[i] ^= 0xA5;
            Pixels p;
            decode(damaged.data(), damaged.size(), &p);
        }
    }
}

TEST(ImageCodecs, APngChunkLongerThanTheDataIsNotRead) {
    // A chunk after the header says it holds a gigabyte; the data ends.
    uint32_t one = 0xFF112233;
    std::vector<uint8_t> png;
    ASSERT_TRUE(encode_png(&one, 1, 1, &png));
    png.resize(33);
    png.insert(png.end(), {0x40, 0, 0, 0, 't', 'E', 'X', 't', 'a', 'b'});
    Pixels p;
    EXPECT_FALSE(decode_png(png.data(), png.size(), &p));
}

TEST(ImageCodecs, ASideAbove65535GivesNoImage) {
    std::vector<uint8_t> tiff = file_bytes("huge.tif");
    Pixels p;
    EXPECT_FALSE(decode(tiff.data(), tiff.size(), &p));

    // A PNG of 1 x 1 whose header says 65536 x 1, its CRC made right.
    uint32_t one = 0xFF112233;
    std::vector<uint8_t> png;
    ASSERT_TRUE(encode_png(&one, 1, 1, &png));
    png[16] = 0, png[17] = 1, png[18] = 0, png[19] = 0;
    uint32_t crc = crc32(0, &png[12], 17);
    png[29] = uint8_t(crc >> 24), png[30] = uint8_t(crc >> 16), png[31] = uint8_t(crc >> 8), png[32] = uint8_t(crc);
    EXPECT_FALSE(decode(png.data(), png.size(), &p));

    // An 8-bit BMP 65536 x 1 with all its pixel bytes.
    std::vector<uint8_t> bmp;
    ASSERT_TRUE(encode_bmp(&one, 1, 1, &bmp));
    bmp.resize(14 + 108);
    bmp[18] = 0, bmp[19] = 0, bmp[20] = 1, bmp[21] = 0;  // width
    bmp[28] = 8, bmp[30] = 0;                            // 8 bits, no bit fields
    bmp[10] = 14 + 108;
    bmp.resize(bmp.size() + 65536, 0);
    EXPECT_FALSE(decode(bmp.data(), bmp.size(), &p));
    bmp[20] = 0, bmp[19] = 0xFF, bmp[18] = 0xFF;  // 65535 wide: taken
    EXPECT_TRUE(decode(bmp.data(), bmp.size(), &p));
    EXPECT_EQ(p.width, 65535);
}

TEST(ImageCodecs, BmpBitFieldsAndUnusedFourthBytes) {
    // 2 x 1 of 16 bits in 5-6-5 fields, masks after a 40-byte header.
    const uint8_t fields565[] = {
        'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 66, 0, 0, 0,                    // file header
        40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 16, 0, 3, 0, 0, 0,      // size, 2 x 1, 16 bits, bit fields
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,        // (sizes and counts)
        0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0,                    // R, G, B masks
        0x00, 0xF8, 0x1F, 0x00,                                            // red, blue
    };
    Pixels p;
    ASSERT_TRUE(decode_bmp(fields565, sizeof fields565, &p));
    EXPECT_EQ(p.data[0], 0xFFFF0000u);
    EXPECT_EQ(p.data[1], 0xFF0000FFu);

    // A 32-bit image without bit fields whose fourth bytes are all 0 is opaque.
    uint32_t two[2] = {0x00112233, 0x00445566};
    std::vector<uint8_t> bmp;
    ASSERT_TRUE(encode_bmp(two, 2, 1, &bmp));
    std::vector<uint8_t> plain(bmp.begin(), bmp.begin() + 14 + 40);
    plain[10] = 54, plain[14] = 40, plain[30] = 0;  // a 40-byte header, no bit fields
    plain.insert(plain.end(), bmp.end() - 8, bmp.end());
    ASSERT_TRUE(decode_bmp(plain.data(), plain.size(), &p));
    EXPECT_EQ(p.data[0], 0xFF112233u);
    EXPECT_EQ(p.data[1], 0xFF445566u);
}
