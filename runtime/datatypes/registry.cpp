// Datatype registry: the type-name table, the action table and the
// registration of one datatype's row.
#include "runtime/datatypes/registry.hpp"

#include <cstring>

#include "runtime/datatypes/word.hpp"
#include "runtime/runtime.hpp"

namespace zuv::datatype {

TypeName type_names[TYPE_TOTAL];
AnyFn action_table[TYPE_TOTAL][ACTION_ROW_SIZE];
int32_t highest_type = 0;

namespace {

// Set once init_type_words has run: the global context exists, so a later
// registration (event!) makes its name's word at once.
bool words_ready = false;

// A function entry holds the address of a constant of its slot's pointer
// type; every function pointer has the same representation, so its bits are
// read back as the table's generic pointer.
AnyFn function_of(const SlotEntry& e) {
    AnyFn fn;
    std::memcpy(&fn, e.fn_holder, sizeof fn);
    return fn;
}

void set_name(int32_t type, const char* name) {
    TypeName& entry = type_names[type];
    entry.name = name;
    entry.length = int32_t(std::strlen(name)) - 1;  // without the final "!"
    if (words_ready) entry.word = word::from_c_string(name);
}

}  // namespace

void register_type(int32_t type, int32_t parent, const char* name, const SlotEntry (&row)[62]) {
    // Ids are constants of the registrations, never data; a bad one is a build fault.
    if (type <= 0 || type >= TYPE_TOTAL || parent < 0 || parent >= TYPE_TOTAL || !name || !*name)
        runtime::quit_with_runtime_error(98, uintptr_t(__builtin_return_address(0)));

    if (type > highest_type) highest_type = type;
    set_name(type, name);

    AnyFn* target = action_table[type];
    const AnyFn* inherited = action_table[parent];
    for (int i = 0; i < ACTION_SLOT_COUNT; i++) {
        switch (row[i].kind) {
            case SlotEntry::function: target[i] = function_of(row[i]); break;
            // Inheriting without a parent means unsupported: an "inherit"
            // marker stored as a function would be called.
            case SlotEntry::inherit: target[i] = parent ? inherited[i] : nullptr; break;
            case SlotEntry::none: target[i] = nullptr; break;
        }
    }
}

void init_type_words() {
    words_ready = true;
    for (int32_t t = 1; t <= TYPE_EVENT; t++) set_name(t, TYPE_NAMES[t]);
}

}  // namespace zuv::datatype
