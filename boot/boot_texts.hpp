// The boot sources: the language sources that boot/manifest.txt lists in
// start-up order (the built-in definitions, the library, the console), built
// into the program as bytes (tools/embed_texts.cmake), and their evaluation.
//
// Start-up reaches them only as boot records: one block of code per manifest
// entry, in a root cell, made by load(). That function is the one place that
// knows where the code comes from: the boot image linked into the program
// (zuv_bootgen writes it from these sources at build time), decoded into the
// root block; or, in a program without an image (the build tool itself, the
// test programs) or with the environment variable ZUV_BOOT_DIR naming a
// source tree, the sources lexed: the embedded texts, or the files read from
// disk (so that editing a library source needs no rebuild).
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::boot_texts {

struct Text {
    const char* name;      // the path from the source root, e.g. "boot/natives.zuv"
    const uint8_t* bytes;  // UTF-8, followed by a NUL
    int32_t size;          // bytes, without the NUL
};

// Every text, in manifest order, then an entry with a null name.
extern const Text table[];
extern const int32_t count;

// The text of a boot source by its path or its file name, or null.
const Text* find(const char* name);

// The boot image, when one is linked into the program (weak: null otherwise).
extern const uint8_t image_bytes[] __attribute__((weak));
extern const size_t image_size __attribute__((weak));

// Lexes the boot records: a block holding, for each manifest entry in
// order, the block of its code after its `Zuv [...]` header (its words bound
// to the global context), from the embedded texts or, with ZUV_BOOT_DIR, from
// disk. *out must be a cell the collector marks.
void lex_records(Cell* out);

// The runtime initialisation's step that brings the boot code into the root
// block: the records, in a root cell, until start-up has run them all.
void load();

// Evaluates the records of the manifest entries from index first up to (not
// including) index end.
void run_records(int32_t first, int32_t end);
// Forgets the records once start-up has run them all.
void release_records();

// The manifest index of the entry whose path ends with name, or -1.
int32_t index_of(const char* name);

// Binds the words of the built-in functions: the actions (actions.zuv) and
// the natives (natives.zuv). The datatype words are set to their datatypes
// first, and `make` to the make action, which those texts use.
void define_builtins();
// The logic words and the infix operators (base.zuv); runs once the
// typeset words that the natives' specs name exist.
void define_base();
// The library and the console: every record after base.zuv, in order. Runs
// with the collector on; the boot-only helper `boot-routine` exists only
// while they run.
void define_library();

}  // namespace zuv::boot_texts
