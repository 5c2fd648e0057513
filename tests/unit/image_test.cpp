#include <gtest/gtest.h>

#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/externals.hpp"
#include "runtime/datatypes/event.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/datatypes/image_backend.hpp"
#include "runtime/datatypes/registry.hpp"
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
