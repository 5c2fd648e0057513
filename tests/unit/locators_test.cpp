// Files and URLs where the language cases cannot reach: a file of more than
// 2 GiB, and the percent-encoding routines on bytes that are not UTF-8.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/datatypes/handle.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "tests/unit/builder.hpp"
#include "tests/unit/value_helpers.hpp"
#include "tests/unit/source_eval.hpp"

namespace zuv {
namespace {

TEST(SizeOf, FilesOfTwoGigabytesAndMoreAreMeasuredWhole) {
    char name[] = "/tmp/zuv-size-XXXXXX";
    int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    // A sparse file: no data is written.
    bool sized = ::ftruncate(fd, (int64_t(3) << 30) + 5) == 0;
    ::close(fd);
    if (sized) {
        std::string source = std::string("size? %") + name;
        EXPECT_EQ(test::run_source(source), "3221225477.0");
    }
    ::unlink(name);
    if (!sized) GTEST_SKIP() << "no sparse file here";
}

TEST(PercentEncoding, BytesThatAreNotUtf8StandForThemselves) {
    // A stray continuation byte and a lead byte cut short by the end.
    const uint8_t text[] = {'a', 0x80, '%', '4', '1', 0xC3};
    std::vector<uint32_t> chars;
    url::decode(text, text + sizeof text, chars);
    EXPECT_EQ(chars, (std::vector<uint32_t>{'a', 0x80, 'A', 0xC3}));
    // An escaped overlong sequence is no character: the escapes stay.
    chars.clear();
    const std::string overlong = "%C0%80";
    url::decode(reinterpret_cast<const uint8_t*>(overlong.data()),
                reinterpret_cast<const uint8_t*>(overlong.data()) + overlong.size(), chars);
    EXPECT_EQ(chars.size(), 6u);
    std::string out;
    const uint8_t bytes[] = {0x00, 0x7F, 0xFF, '~', '@'};
    url::encode(bytes, bytes + sizeof bytes, url::MODE_URL, out);
    EXPECT_EQ(out, "%00%7F%FF~@");
}

TEST(Handle, ClassNamesShowOnlyInMoldAllAndTakeNoPartInComparison) {
    test::ensure_evaluator();
    Cell window{}, font{};
    handle::make_at(&window, 0x1A2B, handle::WINDOW);
    handle::make_at(&font, 0x1A2B, handle::FONT);
    EXPECT_EQ(handle::compare(&window, &font, COMP_STRICT_EQUAL), 0);
    Cell out{};
    string::zs_make_at(&out, 16);
    handle::mold(&window, &out, false, true, false, nullptr, 100, 0);
    EXPECT_EQ(test::text_of(&out), "#[handle! 00001A2Bh window]");
    Cell negative{};
    handle::make_at(&negative, -2, handle::FD);
    EXPECT_EQ(handle::compare(&negative, &window, COMP_LESSER), -1) << "values compare as signed";
    string::zs_make_at(&out, 16);
    handle::form(&negative, &out, nullptr, 100);
    EXPECT_EQ(test::text_of(&out), "FFFFFFFEh");
}

}  // namespace
}  // namespace zuv
