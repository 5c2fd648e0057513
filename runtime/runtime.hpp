// Low-level runtime: the runtime record, the tracked heap, runtime errors
// that end the process, and typed printing for diagnostics.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::runtime {

// The runtime record: one per process, made before anything else runs.
struct Record {
    int32_t argc = 0;
    char** argv = nullptr;        // UTF-8 arguments, program path first, null-terminated
    const uint8_t* boot_image = nullptr;
    size_t boot_image_size = 0;
    uintptr_t stack_limit = 0;    // lowest usable address of the interpreter's stack
};
extern Record record;

// Tracked heap: every area carries a 16-byte header and sits on one list, so
// that everything can be released in one sweep. A refusal of the platform heap
// ends the process with runtime error 94.
void* allocate_memory(size_t size);
void* allocate_zeroed(size_t size);
void free_memory(void* area);                   // an area not on the list is left alone
void* reallocate_memory(void* area, size_t size);  // null allocates; size 0 frees, returns null
void free_all_memory();
void dump_heap();
size_t tracked_heap_bytes();                    // sum of size + 16 over the list

// Ends the process: code 0 silently, else the runtime error report. Never returns.
[[noreturn]] void quit_with_runtime_error(int code, uintptr_t address);
const char* runtime_error_message(int code);
// Writes the report of a runtime error ("\n*** Runtime Error 94: out of
// memory\n*** at: 0040ABCDh\n", the address's low 32 bits) into out without
// any allocation or locking, so that a signal handler may use it; returns
// its length (at most room - 1; the text is NUL-terminated).
size_t format_runtime_error(int code, uintptr_t address, char* out, size_t room);
// The address just after the call to this function in its caller: the
// position given with the runtime errors a routine raises itself.
[[gnu::noinline]] uintptr_t get_return_address();

// Typed printing.
struct PrintItem {
    enum Tag : int32_t { logic = 1, integer = 2, byte = 3, float32 = 4, float64 = 5, c_string = 6, pointer = 7 } tag;
    union {
        bool b;
        int32_t i;
        uint8_t c;
        float f;
        double d;
        const char* s;
        const void* p;
    };
};
void print_typed(size_t count, const PrintItem* items, bool spaced);
void print(const char* text);
void print_line(const char* text);
char print_char(char c);
const char* print_bounded(const char* text, size_t n);
void print_char_literal(uint8_t c);

// Small helpers.
bool c_string_equal_q(const char* a, const char* b);
constexpr int64_t round_up(int64_t n, int64_t m) { return (n + m - 1) & ~(m - 1); }
constexpr int64_t round_past(int64_t n, int64_t m) { return (n + m) & ~(m - 1); }
double normalize_angle(double degrees, int mode);

}  // namespace zuv::runtime
