// Tracked heap, runtime errors that end the process, typed printing and small helpers.
#include "runtime/runtime.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "runtime/console_writer.hpp"
#include "runtime/output_hooks.hpp"

namespace zuv::runtime {

// ---------------------------------------------------------------------------
// Tracked heap
//
// Every area is preceded by a 16-byte header. With 64-bit pointers only one
// link fits, so the list is singly linked from first to last; freeing and
// reallocating find the block (and its predecessor) by a walk from the first,
// which also keeps areas that were never handed out untouched.

namespace {

struct BlockHeader {
    BlockHeader* next;
    uint32_t size;   // requested size in bytes
    uint32_t spare;
};
static_assert(sizeof(BlockHeader) == 16, "the tracked heap header is 16 bytes");

struct HeapList {
    BlockHeader* first = nullptr;
    BlockHeader* last = nullptr;
} heap;

constexpr size_t MAX_TRACKED_SIZE = UINT32_MAX - sizeof(BlockHeader);

void* area_of(BlockHeader* b) { return b + 1; }

// Finds the block of area; *previous gets its predecessor (null for the first).
BlockHeader* find_block(void* area, BlockHeader** previous) {
    BlockHeader* prev = nullptr;
    for (BlockHeader* b = heap.first; b; prev = b, b = b->next) {
        if (area_of(b) == area) {
            *previous = prev;
            return b;
        }
    }
    return nullptr;
}

void* allocate_at(size_t size, uintptr_t caller) {
    if (size > MAX_TRACKED_SIZE) quit_with_runtime_error(94, caller);
    auto* b = static_cast<BlockHeader*>(std::malloc(size + sizeof(BlockHeader)));
    if (!b) quit_with_runtime_error(94, caller);
    b->next = nullptr;
    b->size = uint32_t(size);
    b->spare = 0;
    if (heap.last) heap.last->next = b;
    else heap.first = b;
    heap.last = b;
    return area_of(b);
}

}  // namespace

uintptr_t get_return_address() {
    return reinterpret_cast<uintptr_t>(__builtin_extract_return_addr(__builtin_return_address(0)));
}

void* allocate_memory(size_t size) {
    return allocate_at(size, reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

void* allocate_zeroed(size_t size) {
    void* area = allocate_at(size, reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
    std::memset(area, 0, size);
    return area;
}

void free_memory(void* area) {
    if (!area) return;
    BlockHeader* prev;
    BlockHeader* b = find_block(area, &prev);
    if (!b) return;
    if (prev) prev->next = b->next;
    else heap.first = b->next;
    if (heap.last == b) heap.last = prev;
    std::free(b);
}

void* reallocate_memory(void* area, size_t size) {
    auto caller = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
    if (!area) return allocate_at(size, caller);
    if (size == 0) {
        free_memory(area);
        return nullptr;
    }
    BlockHeader* prev;
    BlockHeader* b = find_block(area, &prev);
    // Reallocating an area the heap never handed out would corrupt the
    // platform heap: that is a fault of the caller, ended as a failed assertion.
    if (!b) quit_with_runtime_error(98, caller);
    if (size > MAX_TRACKED_SIZE) quit_with_runtime_error(94, caller);
    auto* moved = static_cast<BlockHeader*>(std::realloc(b, size + sizeof(BlockHeader)));
    if (!moved) quit_with_runtime_error(94, caller);  // the old block stays valid and linked
    moved->size = uint32_t(size);
    if (prev) prev->next = moved;
    else heap.first = moved;
    if (heap.last == b) heap.last = moved;
    return area_of(moved);
}

void free_all_memory() {
    BlockHeader* b = heap.first;
    heap.first = heap.last = nullptr;
    while (b) {
        BlockHeader* next = b->next;
        std::free(b);
        b = next;
    }
}

size_t tracked_heap_bytes() {
    size_t sum = 0;
    for (BlockHeader* b = heap.first; b; b = b->next) sum += b->size + sizeof(BlockHeader);
    return sum;
}

void dump_heap() {
    char line[64];
    print_line("-- Heap-allocations --");
    print_line("Asked   Real");
    for (BlockHeader* b = heap.first; b; b = b->next) {
        std::snprintf(line, sizeof line, "%u\t%zu", b->size, b->size + sizeof(BlockHeader));
        print_line(line);
    }
    std::snprintf(line, sizeof line, "-- Sum: %zu --", tracked_heap_bytes());
    print_line(line);
}

// ---------------------------------------------------------------------------
// Runtime errors

namespace {

struct ErrorText {
    int code;
    const char* message;
};

constexpr ErrorText ERROR_TEXTS[] = {
    {1, "access violation"},
    {2, "invalid alignment"},
    {3, "breakpoint"},
    {4, "single step"},
    {5, "bounds exceeded"},
    {6, "float denormal operan"},
    {7, "float divide by zero"},
    {8, "float inexact result"},
    {9, "float invalid operation"},
    {10, "float overflow"},
    {11, "float stack check"},
    {12, "float underflow"},
    {13, "integer divide by zero"},
    {14, "integer overflow"},
    {15, "privileged instruction"},
    {16, "invalid virtual address"},
    {17, "illegal instruction"},
    {18, "non-continuable exception"},
    {19, "stack error or overflow"},
    {20, "invalid disposition"},
    {21, "guard page"},
    {22, "invalid handle"},
    {23, "illegal operand"},
    {24, "illegal addressing mode"},
    {25, "illegal trap"},
    {26, "coprocessor error"},
    {27, "non-existent physical address"},
    {28, "object specific hardware error"},
    {29, "hardware memory error consumed AR"},
    {30, "hardware memory error consumed AO"},
    {31, "privileged register"},
    {32, "segmentation fault"},
    {33, "FPU error"},
    {34, "Bus error"},
    {94, "out of memory"},
    {95, "no CATCH for THROW"},
    {98, "assertion failed"},
    {99, "unknown error"},
    {100, "no value matched in CASE"},
    {101, "no value matched in SWITCH"},
};

// Appends text at out[*n], keeping room for the final NUL.
void append(char* out, size_t room, size_t* n, const char* text) {
    while (*text && *n + 1 < room) out[(*n)++] = *text++;
}

}  // namespace

const char* runtime_error_message(int code) {
    for (const ErrorText& e : ERROR_TEXTS)
        if (e.code == code) return e.message;
    return "unknown error code!";
}

size_t format_runtime_error(int code, uintptr_t address, char* out, size_t room) {
    if (room == 0) return 0;
    size_t n = 0;
    char digits[16];
    int d = 0;
    // The code in decimal, its magnitude taken unsigned so INT_MIN is safe.
    uint32_t magnitude = code < 0 ? 0u - uint32_t(code) : uint32_t(code);
    do {
        digits[d++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (code < 0) digits[d++] = '-';
    char decimal[16];
    for (int i = 0; i < d; i++) decimal[i] = digits[d - 1 - i];
    decimal[d] = 0;

    char hex[9];
    auto low = uint32_t(address);
    for (int i = 7; i >= 0; i--) {
        hex[i] = "0123456789ABCDEF"[low & 15];
        low >>= 4;
    }
    hex[8] = 0;

    append(out, room, &n, "\n*** Runtime Error ");
    append(out, room, &n, decimal);
    append(out, room, &n, ": ");
    append(out, room, &n, runtime_error_message(code));
    append(out, room, &n, "\n*** at: ");
    append(out, room, &n, hex);
    append(out, room, &n, "h\n");
    out[n] = 0;
    return n;
}

void quit_with_runtime_error(int code, uintptr_t address) {
    if (code != 0) {
        char report[160];
        format_runtime_error(code, address, report, sizeof report);
        print(report);
    }
    console_writer::flush();
    free_all_memory();
    std::exit(code);
}

// ---------------------------------------------------------------------------
// Typed printing

namespace {

bool blank_char(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Only strings and bytes have a last character; anything else counts as non-blank.
bool ends_with_blank(const PrintItem& item) {
    if (item.tag == PrintItem::byte) return blank_char(char(item.c));
    if (item.tag == PrintItem::c_string && item.s && item.s[0]) return blank_char(item.s[std::strlen(item.s) - 1]);
    return false;
}

void print_item(const PrintItem& item) {
    switch (item.tag) {
        case PrintItem::logic: console_writer::print_c_string(item.b ? "true" : "false"); break;
        case PrintItem::integer: console_writer::print_integer(item.i); break;
        case PrintItem::byte: print_char(char(item.c)); break;
        case PrintItem::float32: console_writer::print_float32(item.f); break;
        case PrintItem::float64: console_writer::print_float64(item.d); break;
        case PrintItem::c_string: console_writer::print_c_string(item.s ? item.s : ""); break;
        default: console_writer::print_hex(reinterpret_cast<uintptr_t>(item.p)); break;
    }
}

PrintItem text_item(const char* text) {
    PrintItem item;
    item.tag = PrintItem::c_string;
    item.s = text;
    return item;
}

}  // namespace

void print_typed(size_t count, const PrintItem* items, bool spaced) {
    gui::suspend_screen();
    for (size_t i = 0; i < count; i++) {
        print_item(items[i]);
        if (spaced && i + 1 < count && !ends_with_blank(items[i])) console_writer::print_c_string(" ");
    }
    std::fflush(stdout);
    gui::resume_screen();
}

void print(const char* text) {
    PrintItem item = text_item(text);
    print_typed(1, &item, false);
}

void print_line(const char* text) {
    PrintItem items[2] = {text_item(text), text_item("\n")};
    print_typed(2, items, false);
}

char print_char(char c) {
    console_writer::print_latin1(&c, 1);
    return c;
}

const char* print_bounded(const char* text, size_t n) {
    console_writer::write_bytes(text, strnlen(text, n));
    console_writer::flush();
    return text;
}

void print_char_literal(uint8_t c) {
    char text[12] = "#\"";
    size_t n = 2;
    switch (c) {
        case 0: text[n++] = '^'; text[n++] = '@'; break;
        case 9: text[n++] = '^'; text[n++] = '-'; break;
        case 10: text[n++] = '^'; text[n++] = '/'; break;
        case 27: text[n++] = '^'; text[n++] = '['; break;
        default:
            if (c < 32) {
                text[n++] = '^';
                text[n++] = char('A' + c - 1);
            } else if (c <= 127) {
                text[n++] = char(c);
            } else {
                n += size_t(std::snprintf(text + n, sizeof text - n, "^(%02X)", c));
            }
    }
    text[n++] = '"';
    text[n] = 0;
    print(text);
}

// ---------------------------------------------------------------------------
// Small helpers

bool c_string_equal_q(const char* a, const char* b) {
    if (!a || !b) return a == b;
    return std::strcmp(a, b) == 0;
}

double normalize_angle(double degrees, int mode) {
    double x = std::fmod(degrees, 360.0);
    if (x > 180.0 || x < -180.0) x += x < 0 ? 360.0 : -360.0;
    if (x > 90.0 || x < -90.0) {
        if (mode == 0) x += x < 0 ? 180.0 : -180.0;
        else if (mode == 2) x = (x < 0 ? -180.0 : 180.0) - x;
    }
    return x * std::numbers::pi / 180.0;
}

}  // namespace zuv::runtime
