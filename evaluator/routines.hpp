// The routine registry: the C++ functions that routine! values (and the
// compiled code of function! values) run, by index.
//
// A routine! keeps the 1-based index of its entry, never an address, so that
// values stay 16 bytes and a value loaded from outside can name no code that
// is not here: every index read from a value is bounds-checked by at().
// Entries are registered by name at start-up and never removed.
//
// Calling convention. A routine receives its fixed arguments as machine
// values: an integer! as its 32-bit value, a logic! as 0 or 1, a float! as
// its double, anything else as the address of its cell on the data stack.
// A routine marked by-address receives every argument as its cell's address
// and answers the address of its result cell (null: unset). Otherwise its
// answer is read by the routine's declared result type.
//
// Compiled function code (more-block cell 2 of a function!) is called with
// one argument, the owner object's context node in .i, or with none for a
// function of the global context; it follows the data stack contract of
// compiled functions (its own body frame, its result in the caller's slot).
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::routines {

union Value {
    int32_t i;
    double f;
    Cell* cell;
};

using Fn = Value (*)(const Value* args, int32_t count);

constexpr int32_t MAX_ROUTINES = 1024;

// Registers fn under name and answers its index (from 1). A name registered
// again gets its old index with the new function.
int32_t add(const char* name, Fn fn);
// The index of the name's entry, or 0.
int32_t find(const char* name);
// The entry at index, or null when no entry has that index.
Fn at(int32_t index);
// Number of entries.
int32_t count();
// Marks the entry at index as the exact test of a datatype (true for a
// value of that type only, any value admitted), which compiled code may
// compute in place; the type an entry tests, or -1.
void set_type_test(int32_t index, uint8_t type);
int32_t type_test_of(int32_t index);
// The test of a typeset that an entry makes (true for a value whose type
// the typeset a global word holds admits): 1 or 0, or -1 when it cannot
// answer without allocating (the word's symbol not looked up yet). It reads
// the word at each test and can neither fail nor run code, so compiled code
// may compute the entry in place by it; the entry's test, or null.
using TypesetTest = int32_t (*)(uint32_t type);
void set_typeset_test(int32_t index, TypesetTest test);
TypesetTest typeset_test_of(int32_t index);

}  // namespace zuv::routines
