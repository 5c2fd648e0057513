// The natives table: filled once at start-up, read-only afterwards.
#include "evaluator/natives.hpp"

#include "runtime/datatypes/block.hpp"
#include "runtime/root.hpp"

namespace zuv::natives {

Entry table[TABLE_SLOTS + 1] = {};
int32_t next_free = 1;
Cell* print_scratch = nullptr;

namespace {

// The entries in slot order, from the fixed list.
constexpr Entry ENTRIES[] = {
#define ZUV_NATIVE_ENTRY(slot, name, word) &name,
    ZUV_NATIVES(ZUV_NATIVE_ENTRY)
#undef ZUV_NATIVE_ENTRY
};
static_assert(sizeof ENTRIES / sizeof ENTRIES[0] == NATIVE_COUNT, "107 natives");

// The slot numbers of the list run from 1 without a gap.
constexpr bool slots_in_order() {
    int32_t expected = 1;
#define ZUV_NATIVE_SLOT(slot, name, word) if (slot != expected++) return false;
    ZUV_NATIVES(ZUV_NATIVE_SLOT)
#undef ZUV_NATIVE_SLOT
    return true;
}
static_assert(slots_in_order(), "the natives are listed in slot order");

}  // namespace

void register_entries(const Entry* list, int32_t count) {
    for (int32_t i = 0; i < count && next_free <= TABLE_SLOTS; i++) table[next_free++] = list[i];
}

void init() {
    print_scratch = block::make_in(&runtime::root, 32);
    register_entries(ENTRIES, NATIVE_COUNT);
}

bool install_test_entry(int32_t slot, Entry entry) {
    if (slot < NATIVE_COUNT + 1 || slot > TABLE_SLOTS || table[slot]) return false;
    table[slot] = entry;
    return true;
}

}  // namespace zuv::natives
