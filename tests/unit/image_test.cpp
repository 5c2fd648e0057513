#include <gtest/gtest.h>

#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/externals.hpp"
#include "runtime/datatypes/event.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "services/image_backend.hpp"
#include "tests/unit/capture.hpp"
#include "tests/unit/source_eval.hpp"

using namespace zuv;

namespace {

struct ImageBackend : ::testing::Test {
    void SetUp() override {
        test::ensure_evaluator();
        collector::enabled = true;
    }
    void TearDown() override { collector::enabled = false; }
};

}  // namespace

TEST_F(ImageBackend, ABitmapLivesWhileAValueNamesItsRecord) {
    // Bitmaps earlier tests left unheld go first: a collection during this
    // test (at every allocation in the stress build) would free them too.
    collector::collect();
    int64_t before = image_backend::live_bytes();
    Cell* held = image_backend::new_image(stack::push_raw(), 4, 2, 0xFF010203);
    {
        Cell loose{};
        image_backend::new_image(&loose, 8, 8, 0xFFFFFFFF);
    }
    EXPECT_EQ(image_backend::live_bytes(), before + (4 * 2 + 8 * 8) * 4);
    collector::collect();
    EXPECT_EQ(image_backend::live_bytes(), before + 4 * 2 * 4);
    image_backend::Bitmap* b = image_backend::bitmap_of(held);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width, 4);
    EXPECT_EQ(b->pixels[7], 0xFF010203u);
    Cell copy = *held;
    stack::pop(1);
    collector::collect();
    EXPECT_EQ(image_backend::live_bytes(), before);
    (void)copy;  // a C++ copy does not keep the bitmap
}

TEST_F(ImageBackend, UnheldBitmapsAreCollectedBeforeTheyPileUp) {
    // 100 images of 4 MB each: without collections they would hold 400 MB.
    test::Evaluated r = test::eval_source("loop 100 [make image! 1000x1000] 1");
    ASSERT_EQ(r.error, "");
    EXPECT_LT(image_backend::live_bytes(), int64_t(200) << 20);
}

TEST_F(ImageBackend, ZeroSidedImagesHaveNoRecord) {
    Cell c{};
    image_backend::new_image(&c, 0, 5, 0);
    EXPECT_EQ(type_of(&c), TYPE_IMAGE);
    EXPECT_EQ(c.w2, 0u);
    EXPECT_EQ(image::width_of(&c), 0);
    EXPECT_EQ(image::height_of(&c), 5);
    EXPECT_EQ(image_backend::bitmap_of(&c), nullptr);
    EXPECT_TRUE(image::get_channels(&c, image::ARGB).empty());
}

TEST(Image, RegistrationRowAndTheLateEvent) {
    test::ensure_runtime();
    EXPECT_STREQ(datatype::type_names[TYPE_IMAGE].name, "image!");
    EXPECT_NE(get_slot<Act::make>(TYPE_IMAGE), nullptr);
    EXPECT_EQ(get_slot<Act::head>(TYPE_IMAGE), get_slot<Act::head>(TYPE_SERIES));
    EXPECT_EQ(get_slot<Act::take>(TYPE_IMAGE), nullptr);
    EXPECT_EQ(get_slot<Act::insert>(TYPE_IMAGE), nullptr);
    // event! waits for the end of start-up.
    EXPECT_EQ(get_slot<Act::make>(TYPE_EVENT), nullptr);
    EXPECT_EQ(datatype::highest_type, TYPE_IMAGE);
    event::register_type();
    EXPECT_NE(get_slot<Act::make>(TYPE_EVENT), nullptr);
    EXPECT_EQ(get_slot<Act::to>(TYPE_EVENT), nullptr);
    EXPECT_EQ(datatype::highest_type, TYPE_EVENT);
}

namespace {

// The stored pixels of an image value.
std::vector<uint32_t> pixels(const Cell* image) {
    image_backend::Bitmap* b = image_backend::bitmap_of(image);
    if (!b) return {};
    return std::vector<uint32_t>(b->pixels, b->pixels + int64_t(b->width) * b->height);
}

Cell* tuple_cell(Cell* c, std::vector<int32_t> bytes) {
    return tuple::make_from_integers(cell::begin(c), bytes.data(), int32_t(bytes.size()));
}

}  // namespace

TEST_F(ImageBackend, MakeBitmapFillsFromAColourOrFromBytes) {
    Cell colour;
    Cell* i = stack::push_raw();
    image_backend::make_bitmap(i, 2, 1, tuple_cell(&colour, {255, 0, 0}), {}, {});
    EXPECT_EQ(pixels(i), (std::vector<uint32_t>{0xFFFF0000, 0xFFFF0000}));
    // The fourth component is the transparency: 255 is fully clear.
    image_backend::make_bitmap(i, 2, 1, tuple_cell(&colour, {255, 0, 0, 255}), {}, {});
    EXPECT_EQ(pixels(i), (std::vector<uint32_t>{0x00FF0000, 0x00FF0000}));
    // 7 RGB bytes: two pixels, white after them; alpha bytes give 255 - byte.
    image_backend::make_bitmap(i, 3, 1, nullptr, {1, 2, 3, 4, 5, 6, 7}, {0, 255});
    EXPECT_EQ(pixels(i), (std::vector<uint32_t>{0xFF010203, 0x00040506, 0xFFFFFFFF}));
    EXPECT_EQ(image_backend::bitmap_of(i)->flags, image_backend::BITMAP_CURRENT | image_backend::PIXELS_WRITTEN);
    EXPECT_EQ(test::raised([&] { image_backend::make_bitmap(i, 65536, 1, nullptr, {}, {}); }), "script/invalid-arg");
    stack::pop(1);
}

TEST_F(ImageBackend, EncodingSizesFormatsAndMissingPixels) {
    Cell* empty = image_backend::new_image(stack::push_raw(), 0, 5, 0);
    for (int32_t format = 0; format < 5; format++) {
        std::vector<uint8_t> out{1};
        EXPECT_TRUE(image_backend::encode(empty, format, &out));
        EXPECT_TRUE(out.empty()) << format;
    }
    Cell* one = image_backend::new_image(stack::push_raw(), 1, 1, 0xFF000000);
    std::vector<uint8_t> out;
    test::StdoutCapture capture;
    EXPECT_FALSE(image_backend::encode(one, 5, &out));
    EXPECT_EQ(capture.finish(), "Cannot find image encoder\n");
    // A size without pixel data.
    Cell forged = *one;
    forged.w2 = 0;
    EXPECT_EQ(test::raised([&] { image_backend::encode(&forged, 1, &out); }), "access/bad-media");
    stack::pop(2);
}

TEST_F(ImageBackend, WritingAPixelThenEncodingShowsIt) {
    Cell* i = image_backend::new_image(stack::push_raw(), 2, 2, 0xFFFFFFFF);
    std::vector<uint8_t> out;
    ASSERT_TRUE(image_backend::encode(i, 1, &out));
    EXPECT_EQ(image_backend::bitmap_of(i)->flags & image_backend::PIXELS_WRITTEN, 0u) << "the source was taken";
    image_backend::set_pixel(i, 3, 0x80102030);
    EXPECT_NE(image_backend::bitmap_of(i)->flags & image_backend::PIXELS_WRITTEN, 0u);
    EXPECT_EQ(image_backend::get_pixel(i, 3), 0x80102030u);
    EXPECT_EQ(test::raised([&] { image_backend::get_pixel(i, 4); }), "script/out-of-range");
    ASSERT_TRUE(image_backend::encode(i, 1, &out));
    Cell* back = stack::push_raw();
    ASSERT_TRUE(image_backend::load_bytes(back, out.data(), out.size()));
    EXPECT_EQ(pixels(back), (std::vector<uint32_t>{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x80102030}));
    EXPECT_EQ(image_backend::bitmap_of(back)->flags, image_backend::BITMAP_CURRENT);
    stack::pop(2);
}

TEST_F(ImageBackend, ScalingAndClippedCopies) {
    Cell* i = image_backend::new_image(stack::push_raw(), 2, 2, 0);
    for (int32_t k = 0; k < 4; k++) image_backend::set_pixel(i, k, 0xFF000000 | uint32_t(k + 1));
    Cell* scaled = image_backend::scale_image(i, stack::push_raw(), 4, 4);
    EXPECT_EQ(scaled->w3, 4u | 4u << 16);
    EXPECT_EQ(pixels(scaled), (std::vector<uint32_t>{0xFF000001, 0xFF000001, 0xFF000002, 0xFF000002,  //
                                                     0xFF000001, 0xFF000001, 0xFF000002, 0xFF000002,  //
                                                     0xFF000003, 0xFF000003, 0xFF000004, 0xFF000004,  //
                                                     0xFF000003, 0xFF000003, 0xFF000004, 0xFF000004}));
    Cell* part = image_backend::copy_image_part(scaled, stack::push_raw(), 1, 1, 5, 2);
    EXPECT_EQ(part->w3, 3u | 2u << 16) << "cut at the right edge";
    EXPECT_EQ(pixels(part), (std::vector<uint32_t>{0xFF000001, 0xFF000002, 0xFF000002,  //
                                                   0xFF000003, 0xFF000004, 0xFF000004}));
    EXPECT_EQ(image_backend::copy_image_part(scaled, stack::push_raw(), 4, 0, 2, 2)->w3, 0u) << "outside";
    stack::pop(4);
}

TEST_F(ImageBackend, UndecodableBytesLeaveTheCellAlone) {
    Cell* c = integer::make_at(cell::begin(stack::push_raw()), 7);
    const uint8_t junk[] = {0x89, 'P', 'N', 'G', 0, 0};
    EXPECT_FALSE(image_backend::load_bytes(c, junk, sizeof junk));
    EXPECT_FALSE(image_backend::load_file(c, "/nonexistent/x.png"));
    EXPECT_EQ(type_of(c), TYPE_INTEGER);
    stack::pop(1);
}
