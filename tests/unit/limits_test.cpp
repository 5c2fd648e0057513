// Running out of room in C++: an allocation that fails inside a native, and
// C++ code nested deeper than the collector's table of guarded locals. Both
// become language errors that a try frame receives, and the runtime goes on.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "evaluator/natives.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/datatypes/registry.hpp"
#include "tests/unit/builder.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

// A native whose C++ work asks for more memory than there is.
void balloon_entry(bool, const int32_t*) { throw std::bad_alloc(); }

// A native made from its spec as the boot definitions make one.
Cell make_test_native(int32_t slot, natives::Entry entry) {
    natives::install_test_entry(slot, entry);
    runtime::boot_flag = true;
    Cell proto, spec = block_of({block_of({}), integer_value(slot)});
    datatype::make_at(&proto, TYPE_NATIVE);
    Cell native = *get_slot<Act::make>(TYPE_NATIVE)(&proto, &spec, TYPE_NATIVE);
    stack::pop(1);
    runtime::boot_flag = false;
    return native;
}

// Guards locals one per level, further than the table holds.
void nest_roots(int32_t* levels) {
    Cell local{};
    collector::Root keep(local);
    if (++*levels < 2 * collector::LOCAL_ROOTS_MAX) nest_roots(levels);
}

}  // namespace

TEST(Limits, AFailedAllocationInANativeIsNoMemory) {
    ensure_evaluator();
    set_global("balloon", make_test_native(119, balloon_entry));
    set_global("one", integer_value(1));
    Cell code = block_of({word_of("balloon")});
    EXPECT_EQ(run(code), "!internal/no-memory");
    // A block run again takes the compiled way to the native: the same error.
    for (int i = 0; i < 3; i++) EXPECT_EQ(run(code), "!internal/no-memory") << i;
    EXPECT_EQ(run(block_of({word_of("one")})), "1");
}

TEST(Limits, CodeNestedPastTheGuardedLocalsTableIsAStackOverflow) {
    ensure_evaluator();
    int32_t before = collector::local_root_count;
    int32_t levels = 0;
    EXPECT_EQ(guarded([&] { nest_roots(&levels); }), "internal/stack-overflow");
    EXPECT_EQ(levels, collector::LOCAL_ROOTS_MAX - collector::LOCAL_ROOTS_RESERVE - before);
    EXPECT_EQ(collector::local_root_count, before);
    // The reserve is closed again: the next overflow is caught the same way.
    levels = 0;
    EXPECT_EQ(guarded([&] { nest_roots(&levels); }), "internal/stack-overflow");
    EXPECT_EQ(collector::local_root_count, before);
}
