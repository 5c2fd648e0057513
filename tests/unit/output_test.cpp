#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "capture.hpp"
#include "fixture.hpp"
#include "runtime/console_writer.hpp"
#include "runtime/memory.hpp"
#include "runtime/output_hooks.hpp"

using namespace zuv;

namespace {

class OutputHooks : public testing::Test {
protected:
    void SetUp() override { test::ensure_runtime(); }

    // A string! value over a hand-made series of count units, at index.
    static Cell string_of(const void* units, size_t count, int32_t unit, uint32_t index = 0) {
        Node n = memory::alloc_codepoints(int64_t(count), unit);
        SeriesBuffer* b = memory::buffer_of(n);
        std::memcpy(memory::head_of(b), units, count * size_t(unit));
        b->tail = b->head + int32_t(count * size_t(unit));
        return Cell{TYPE_STRING, index, n, 0};
    }

    static std::string printed(const Cell& value, bool new_line) {
        test::StdoutCapture out;
        output_hooks::print_value(&value, new_line);
        return out.finish();
    }
};

}  // namespace

TEST_F(OutputHooks, StringFromItsIndexToTheTail) {
    EXPECT_EQ(printed(string_of("abc", 3, 1, 1), true), "bc\n");
    EXPECT_EQ(printed(string_of("abc", 3, 1, 3), false), "");
    EXPECT_EQ(printed(string_of("abc", 3, 1, 7), true), "\n");  // an index past the tail prints nothing
    EXPECT_EQ(printed(string_of("", 0, 1), true), "\n");
}

TEST_F(OutputHooks, EveryStorageWidthBecomesUtf8) {
    const uint16_t ucs2[] = {0xE9, 0x20AC, 'x'};
    const uint32_t ucs4[] = {0x1F600};
    const uint8_t latin1[] = {0xE9, '!'};
    EXPECT_EQ(printed(string_of(ucs2, 3, 2), false), "\xC3\xA9\xE2\x82\xACx");
    EXPECT_EQ(printed(string_of(ucs4, 1, 4), true), "\xF0\x9F\x98\x80\n");
    EXPECT_EQ(printed(string_of(latin1, 2, 1), false), "\xC3\xA9!");
}

TEST_F(OutputHooks, EscapeSequencesPassThroughByteExact) {
    const char sequence[] = "\x1B[31mred\x1B[0m";
    EXPECT_EQ(printed(string_of(sequence, sizeof sequence - 1, 1), false), sequence);
}

TEST_F(OutputHooks, LongTextCrossesTheBufferWhole) {
    // 2000 two-byte characters: the buffer is written many times, with a
    // character never split between two writes.
    std::vector<uint8_t> text(2000, 0xE9);
    std::string expected;
    for (size_t i = 0; i < text.size(); i++) expected += "\xC3\xA9";
    EXPECT_EQ(printed(string_of(text.data(), text.size(), 1), true), expected + "\n");
}

TEST_F(OutputHooks, UnknownStorageWidthIsReported) {
    Cell cells{TYPE_STRING, 0, memory::alloc_cells(2), 0};
    EXPECT_EQ(printed(cells, true), "Error: unknown string encoding: 16\n");
}

TEST_F(OutputHooks, AddedPrinterRunsAfterTheDefaultAndCanBeRemoved) {
    static std::vector<uint32_t> seen;
    seen.clear();
    auto counter = [](const Cell* value, bool) { seen.push_back(value->w1); };
    auto never_added = [](const Cell*, bool) {};
    output_hooks::add(counter, nullptr);
    output_hooks::remove(never_added, nullptr);  // changes nothing
    EXPECT_EQ(printed(string_of("ab", 2, 1, 1), false), "b");
    output_hooks::remove(counter, nullptr);
    EXPECT_EQ(printed(string_of("cd", 2, 1, 0), false), "cd");
    EXPECT_EQ(seen, std::vector<uint32_t>{1});
}

TEST_F(OutputHooks, ManyPrintersGrowTheList) {
    static int calls;
    calls = 0;
    auto counter = [](const Cell*, bool) { calls++; };
    for (int i = 0; i < 12; i++) output_hooks::add(counter, nullptr);
    printed(string_of("x", 1, 1), false);
    EXPECT_EQ(calls, 12);
    for (int i = 0; i < 12; i++) output_hooks::remove(counter, nullptr);
    printed(string_of("x", 1, 1), false);
    EXPECT_EQ(calls, 12);
}

TEST_F(OutputHooks, RawListenersReceiveNumberTexts) {
    static std::vector<std::string> heard;
    heard.clear();
    auto listener = [](const char* text, size_t length, int flag) {
        heard.emplace_back(text, length);
        EXPECT_EQ(flag, 0);
    };
    output_hooks::add(nullptr, listener);
    test::StdoutCapture out;
    console_writer::print_integer(-42);
    console_writer::print_float64(0.5);
    console_writer::print_float32(0.1f);
    console_writer::print_hex(0xABC);
    console_writer::print_hex_byte(0x7);
    console_writer::print_c_string("text");
    EXPECT_EQ(out.finish(), "-420.50.100000ABC07text");
    output_hooks::remove(nullptr, listener);
    console_writer::print_integer(1);  // not heard any more
    EXPECT_EQ(heard, (std::vector<std::string>{"-42", "0.5", "0.1", "00000ABC", "07", "text"}));
}

TEST(ConsoleWriter, UnknownUnitIsRuntimeError101) {
    EXPECT_EXIT((test::stdout_to_stderr(), console_writer::write("abc", 3, 3, false)), testing::ExitedWithCode(101),
                "Runtime Error 101: no value matched in SWITCH");
}
