// Output hooks: value printers and raw listeners.
#include "runtime/output_hooks.hpp"

#include <cstdio>

#include "runtime/console_writer.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime.hpp"

namespace zuv::output_hooks {

namespace {

constexpr int32_t LIST_STEP = 5;

// A list of function addresses on the tracked heap, growing by 5 entries.
template <class Fn>
struct HookList {
    Fn* entries = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;

    void reset() {
        runtime::free_memory(entries);
        entries = static_cast<Fn*>(runtime::allocate_memory(sizeof(Fn) * LIST_STEP));
        count = 0;
        capacity = LIST_STEP;
    }
    void add(Fn fn) {
        if (count == capacity) {
            auto* larger = static_cast<Fn*>(runtime::allocate_memory(sizeof(Fn) * size_t(capacity + LIST_STEP)));
            for (int32_t i = 0; i < count; i++) larger[i] = entries[i];
            runtime::free_memory(entries);
            entries = larger;
            capacity += LIST_STEP;
        }
        entries[count++] = fn;
    }
    void remove(Fn fn) {
        for (int32_t i = 0; i < count; i++) {
            if (entries[i] != fn) continue;
            for (int32_t j = i + 1; j < count; j++) entries[j - 1] = entries[j];
            count--;
            return;
        }
    }
};

HookList<ValuePrinter> printers;
HookList<RawListener> listeners;

}  // namespace

void init() {
    printers.reset();
    listeners.reset();
    printers.add(default_printer);
}

void add(ValuePrinter printer, RawListener listener) {
    if (printer) printers.add(printer);
    if (listener) listeners.add(listener);
}

void remove(ValuePrinter printer, RawListener listener) {
    if (printer) printers.remove(printer);
    if (listener) listeners.remove(listener);
}

void print_value(const Cell* string_value, bool new_line) {
    // Printers get a copy, so one that allocates cannot leave the others
    // holding an address inside a buffer that moved.
    Cell value = *string_value;
    // Indexes, not a saved end: a printer may add or remove hooks.
    for (int32_t i = 0; i < printers.count; i++) printers.entries[i](&value, new_line);
}

void notify_raw(const char* text, size_t length, int flag) {
    for (int32_t i = 0; i < listeners.count; i++) listeners.entries[i](text, length, flag);
}

void default_printer(const Cell* string_value, bool new_line) {
    gui::suspend_screen();
    SeriesBuffer* s = string_value->w2 ? memory::buffer_of(string_value->w2) : nullptr;
    uint32_t unit = s ? memory::unit_of(s) : 1;
    if (unit == 1 || unit == 2 || unit == 4) {
        const uint8_t* head = nullptr;
        size_t length = 0;
        if (s) {
            // The index comes from a value: one at or past the tail prints nothing.
            int64_t start = int64_t(s->head) + int64_t(string_value->w1) * unit;
            if (start < s->tail) {
                head = s->data() + start;
                length = size_t(s->tail - start);
            }
        }
        console_writer::write(head, length, int(unit), new_line);
    } else {
        char line[64];
        std::snprintf(line, sizeof line, "Error: unknown string encoding: %u", unit);
        runtime::print_line(line);
    }
    std::fflush(stdout);
    gui::resume_screen();
}

}  // namespace zuv::output_hooks
