// Output hooks: the one door through which the language's printing reaches
// the console.
//
// `print` and its relatives hand a string! value to print_value, which passes
// it to every registered value printer in registration order; the default
// printer writes it with the console writer in the encoding of its storage.
// Raw listeners receive the text the console writer emits for numbers and
// NUL-terminated strings. Both lists live on the tracked heap, start with room
// for 5 entries and grow by 5.
#pragma once

#include <cstddef>

#include "runtime/cell.hpp"

namespace zuv {

namespace output_hooks {

using ValuePrinter = void (*)(const Cell* string_value, bool new_line);
using RawListener = void (*)(const char* text, size_t length, int flag);

// Makes both lists and registers the default printer.
void init();
// Appends each of the two that is not null to its list.
void add(ValuePrinter printer, RawListener listener);
// Removes the first equal entry of each list; an absent entry changes nothing.
void remove(ValuePrinter printer, RawListener listener);

void print_value(const Cell* string_value, bool new_line);
void notify_raw(const char* text, size_t length, int flag);

// Writes the string from its index to its tail (1-, 2- or 4-byte storage).
void default_printer(const Cell* string_value, bool new_line);

}  // namespace output_hooks

namespace gui {
// The text-mode backend hides its screen around plain console output. While no
// backend exists both are no-ops; the backend takes them over.
inline void suspend_screen() {}
inline void resume_screen() {}
}  // namespace gui

}  // namespace zuv
