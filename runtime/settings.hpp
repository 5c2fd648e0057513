// The runtime's reads of the system object.
//
// Some settings of the language are fields of `system` that scripts assign
// (system/options/money-digits, system/state/stack-trace, the locale's month
// names and currency list, ...). The runtime reads each where it uses it, at
// every use, so an assignment takes effect at once, a quiet one included.
//
// The library hands the object over once it has built it. Until then, and
// in programs that run without the library (the unit tests), every read
// answers false and the callers keep their built-in defaults. A script that
// rebinds the global word `system` changes nothing here: the runtime keeps
// the object it was given.
//
// Reads allocate nothing: a read is safe wherever raw pointers are held.
#pragma once

#include "runtime/cell.hpp"

namespace zuv::settings {

// The fields read, each a path of field names under `system`.
enum class Field {
    money_digits,     // options/money-digits
    stack_trace,      // state/stack-trace
    source_files,     // state/source-files
    months,           // locale/months
    currencies,       // locale/currencies/list
    exit_states,      // lexer/exit-states
    schemes,          // schemes
    standard_port,    // standard/port
    url_parts,        // standard/url-parts
};

// Keeps the system object (an object! cell) for the reads below; the names
// of the fields are interned here, once.
void set_system(const Cell* system);

// Copies the field's value into out; false when there is no system object
// yet or a step of the path is missing or not an object.
bool get(Field field, Cell* out);

}  // namespace zuv::settings
