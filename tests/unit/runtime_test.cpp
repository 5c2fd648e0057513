#include <gtest/gtest.h>

#include <csignal>
#include <cmath>
#include <cstring>
#include <numbers>

#include "capture.hpp"
#include "runtime/process.hpp"
#include "runtime/runtime.hpp"
#include "runtime/throw.hpp"

using namespace zuv;
using test::stdout_to_stderr;

// ---------------------------------------------------------------------------
// Tracked heap

TEST(TrackedHeap, FreeingAnUnknownAreaChangesNothing) {
    void* a = runtime::allocate_memory(40);
    size_t before = runtime::tracked_heap_bytes();
    int local = 0;
    runtime::free_memory(&local);
    runtime::free_memory(static_cast<char*>(a) + 16);
    EXPECT_EQ(runtime::tracked_heap_bytes(), before);
    runtime::free_memory(a);
    EXPECT_EQ(runtime::tracked_heap_bytes(), before - 56);
}

TEST(TrackedHeap, ReallocateToZeroFreesAndNullAllocates) {
    size_t start = runtime::tracked_heap_bytes();
    void* a = runtime::reallocate_memory(nullptr, 24);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(runtime::tracked_heap_bytes(), start + 40);
    EXPECT_EQ(runtime::reallocate_memory(a, 0), nullptr);
    EXPECT_EQ(runtime::tracked_heap_bytes(), start);
}

TEST(TrackedHeap, ReallocateKeepsContentAndListOrder) {
    EXPECT_EXIT(
        {
            runtime::free_all_memory();
            auto* first = static_cast<char*>(runtime::allocate_zeroed(8));
            auto* middle = static_cast<char*>(runtime::allocate_memory(4));
            runtime::allocate_memory(2);
            std::memcpy(middle, "abc", 4);
            middle = static_cast<char*>(runtime::reallocate_memory(middle, 100000));
            if (std::strcmp(middle, "abc") != 0 || first[7] != 0) std::exit(1);
            runtime::free_memory(first);
            stdout_to_stderr();
            runtime::dump_heap();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "^-- Heap-allocations --\nAsked   Real\n100000\t100016\n2\t18\n-- Sum: 100034 --\n$");
}

TEST(TrackedHeap, DumpLinesAreExact) {
    EXPECT_EXIT(
        {
            runtime::free_all_memory();
            runtime::allocate_memory(10);
            runtime::allocate_memory(100);
            stdout_to_stderr();
            runtime::dump_heap();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "^-- Heap-allocations --\nAsked   Real\n10\t26\n100\t116\n-- Sum: 142 --\n$");
}

// ---------------------------------------------------------------------------
// Runtime errors

TEST(RuntimeError, ReportTextAndStatus) {
    EXPECT_EXIT((stdout_to_stderr(), runtime::quit_with_runtime_error(94, uintptr_t(0x12345678ABCDEF01))),
                testing::ExitedWithCode(94), "^\n\\*\\*\\* Runtime Error 94: out of memory\n\\*\\*\\* at: ABCDEF01h\n$");
    EXPECT_EXIT((stdout_to_stderr(), runtime::quit_with_runtime_error(0, 0x1234)), testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT((stdout_to_stderr(), runtime::quit_with_runtime_error(1234, 0)), testing::ExitedWithCode(1234 & 0xFF),
                "^\n\\*\\*\\* Runtime Error 1234: unknown error code!\n\\*\\*\\* at: 00000000h\n$");
}

TEST(RuntimeError, Messages) {
    EXPECT_STREQ(runtime::runtime_error_message(19), "stack error or overflow");
    EXPECT_STREQ(runtime::runtime_error_message(101), "no value matched in SWITCH");
    EXPECT_STREQ(runtime::runtime_error_message(35), "unknown error code!");
    EXPECT_STREQ(runtime::runtime_error_message(-1), "unknown error code!");
}

TEST(RuntimeError, FormatFitsRoom) {
    char small[12];
    size_t n = runtime::format_runtime_error(-2147483647 - 1, 0, small, sizeof small);
    EXPECT_EQ(n, sizeof small - 1);
    EXPECT_EQ(std::string(small), "\n*** Runtim");
}

// ---------------------------------------------------------------------------
// Low-level throws and the top-level catch

TEST(Throw, CatchScopeReceivesUpToItsLevel) {
    uint32_t got = runtime::catch_scope(THROW_THROW, [] { runtime::throw_code(THROW_THROW); });
    EXPECT_EQ(got, THROW_THROW);
    EXPECT_EQ(runtime::thrown_code, THROW_THROW);
    runtime::thrown_code = 0;

    uint32_t passed = 0;
    try {
        runtime::catch_scope(THROW_THROW, [] { runtime::throw_code(THROW_EXIT); });
    } catch (const Throw& t) {
        passed = t.code;
    }
    EXPECT_EQ(passed, THROW_EXIT);
    runtime::thrown_code = 0;  // handled: no code stays pending for the tests that follow
    EXPECT_EQ(runtime::catch_scope(THROW_THROW, [] {}), 0u);
}

TEST(Throw, TopLevelCatch) {
    EXPECT_EXIT((stdout_to_stderr(), runtime::run_top_level([] { runtime::throw_code(THROW_BREAK); })),
                testing::ExitedWithCode(95), "^\n\\*\\*\\* Runtime Error 95: no CATCH for THROW\n\\*\\*\\* at: [0-9A-F]{8}h\n$");
    EXPECT_EXIT((stdout_to_stderr(), runtime::run_top_level([] { runtime::throw_code(THROW_QUIT); })),
                testing::ExitedWithCode(0), "^$");
}

TEST(Throw, EscapingTheBigStackThreadEndsAtTheTopLevel) {
    EXPECT_EXIT((stdout_to_stderr(), runtime::run_on_big_stack([] { runtime::throw_code(THROW_ERROR); }, size_t(16) << 20)),
                testing::ExitedWithCode(95), "no CATCH for THROW");
}

// ---------------------------------------------------------------------------
// Faults

namespace {
// Writes through a null pointer; the sanitizer's own null check is left out
// so that the write reaches the processor.
[[gnu::noinline, gnu::no_sanitize_undefined]] void write_through_null() {
    volatile int* volatile p = nullptr;
    *p = 1;
}
}  // namespace

TEST(Fault, NullWriteIsAccessViolation) {
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            runtime::install_fault_handlers();
            write_through_null();
        },
        testing::ExitedWithCode(1), "^\n\\*\\*\\* Runtime Error 1: access violation\n\\*\\*\\* at: [0-9A-F]{8}h\n$");
}

// A closed terminal ends quietly with 0; a killed program never reports
// success; Ctrl+C outside the prompt loop ends the program as a shell expects.
TEST(Fault, TerminationSignalsEndWithTheirStatus) {
    const struct {
        int signal;
        int status;
    } cases[] = {{SIGHUP, 0}, {SIGTERM, 143}, {SIGINT, 130}};
    for (const auto& c : cases)
        EXPECT_EXIT((stdout_to_stderr(), runtime::install_fault_handlers(), std::raise(c.signal)),
                    testing::ExitedWithCode(c.status), "^$")
            << c.signal;
}

namespace {
// Recurses until the stack runs out; the store after the call keeps it from
// becoming a loop.
[[gnu::noinline]] int recurse(int depth) {
    volatile char frame[512];
    frame[0] = char(depth);
    if (depth < 0) return 0;
    int r = recurse(depth + 1);
    frame[1] = char(r);
    return frame[1];
}
}  // namespace

TEST(Fault, OverflowOfTheBigStackIsStackError) {
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            runtime::install_fault_handlers();
            runtime::run_on_big_stack([] { recurse(0); }, size_t(16) << 20);
        },
        testing::ExitedWithCode(19), "Runtime Error 19: stack error or overflow\n");
}

TEST(Fault, BigStackThreadRecordsItsLimit) {
    static uintptr_t inside = 0;
    static uintptr_t local_address = 0;
    uintptr_t outside = runtime::record.stack_limit;
    runtime::run_on_big_stack([] {
        int local = 0;
        inside = runtime::record.stack_limit;
        local_address = reinterpret_cast<uintptr_t>(&local);
    });
    EXPECT_NE(inside, 0u);
    EXPECT_GT(local_address, inside);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_GE(local_address - inside, size_t(50) << 20);  // the sanitized depth guard's 56 MB
#else
    EXPECT_GE(local_address - inside, size_t(400) << 20);  // most of the 512 MB lies below
#endif
    EXPECT_EQ(runtime::record.stack_limit, outside);
}

TEST(Fault, SignalMapping) {
    struct Case {
        int signal, si_code, error;
    };
    const Case cases[] = {
        {SIGSEGV, SEGV_MAPERR, 1}, {SIGSEGV, SEGV_ACCERR, 1}, {SIGBUS, BUS_ADRALN, 2},
        {SIGBUS, BUS_ADRERR, 27},  {SIGFPE, FPE_INTDIV, 13},  {SIGFPE, FPE_INTOVF, 14},
        {SIGFPE, FPE_FLTDIV, 7},   {SIGFPE, FPE_FLTOVF, 10},  {SIGFPE, FPE_FLTUND, 12},
        {SIGFPE, FPE_FLTRES, 8},   {SIGFPE, FPE_FLTINV, 9},   {SIGILL, ILL_PRVOPC, 15},
        {SIGILL, ILL_ILLOPC, 17},  {SIGILL, ILL_ILLOPN, 23},  {SIGTRAP, TRAP_BRKPT, 3},
        {SIGABRT, 0, 99},
    };
    for (const Case& c : cases)
        EXPECT_EQ(runtime::fault_error_code(c.signal, c.si_code, 0x1000), c.error) << c.signal << "/" << c.si_code;

    runtime::commit_stack();
    uintptr_t below = runtime::record.stack_limit - 64;
    EXPECT_EQ(runtime::fault_error_code(SIGSEGV, SEGV_ACCERR, below), 19);
}

// ---------------------------------------------------------------------------
// Typed printing

namespace {
runtime::PrintItem item(const char* s) {
    runtime::PrintItem i;
    i.tag = runtime::PrintItem::c_string;
    i.s = s;
    return i;
}
}  // namespace

TEST(TypedPrint, SpacedFormSkipsBlankAfterBlankEndings) {
    runtime::PrintItem items[8];
    items[0] = item("x\n");
    items[1] = item("y");
    items[2].tag = runtime::PrintItem::integer;
    items[2].i = -42;
    items[3].tag = runtime::PrintItem::byte;
    items[3].c = '\t';
    items[4].tag = runtime::PrintItem::float64;
    items[4].d = 0.1;
    items[5].tag = runtime::PrintItem::float32;
    items[5].f = 1.1f;
    items[6].tag = runtime::PrintItem::logic;
    items[6].b = true;
    items[7].tag = runtime::PrintItem::pointer;
    items[7].p = reinterpret_cast<const void*>(0xBEEF);
    test::StdoutCapture out;
    runtime::print_typed(8, items, true);
    EXPECT_EQ(out.finish(), "x\ny -42 \t0.1 1.1 true 0000BEEF");
}

TEST(TypedPrint, CharLiteralsAndBoundedText) {
    test::StdoutCapture out;
    for (int c : {0, 9, 10, 27, 1, 200, int('a')}) runtime::print_char_literal(uint8_t(c));
    runtime::print_bounded("hello", 3);
    runtime::print_bounded("hi", 30);
    runtime::print_char(char(0xC8));
    runtime::print_line("!");
    EXPECT_EQ(out.finish(), "#\"^@\"#\"^-\"#\"^/\"#\"^[\"#\"^A\"#\"^(C8)\"#\"a\"helhi\xC3\x88!\n");
}

TEST(RuntimeHelpers, NormalizeAngle) {
    constexpr double pi = std::numbers::pi;
    struct Case {
        double degrees;
        int mode;
        double radians;
    };
    const Case cases[] = {
        {270.0, 0, -pi / 2}, {270.0, 1, -pi / 2}, {270.0, 2, -pi / 2},
        {135.0, 0, -45.0 * pi / 180}, {135.0, 2, 45.0 * pi / 180}, {135.0, 1, 135.0 * pi / 180},
        {-200.0, 1, 160.0 * pi / 180}, {720.0, 0, 0.0},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(runtime::normalize_angle(c.degrees, c.mode), c.radians) << c.degrees << " mode " << c.mode;
}

TEST(RuntimeHelpers, RoundingAndStringEquality) {
    EXPECT_EQ(runtime::round_up(17, 16), 32);
    EXPECT_EQ(runtime::round_up(16, 16), 16);
    EXPECT_EQ(runtime::round_past(16, 16), 32);
    EXPECT_TRUE(runtime::c_string_equal_q("abc", "abc"));
    EXPECT_FALSE(runtime::c_string_equal_q("abc", "abcd"));
    EXPECT_FALSE(runtime::c_string_equal_q("abc", nullptr));
}
