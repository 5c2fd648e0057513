// The boot texts: the language sources in boot/*.zuv, built into the
// program as bytes (tools/embed_texts.cmake), and their evaluation.
#pragma once

#include <cstdint>

namespace zuv::boot_texts {

struct Text {
    const char* name;      // the file name, e.g. "natives.zuv"
    const uint8_t* bytes;  // UTF-8, followed by a NUL
    int32_t size;          // bytes, without the NUL
};

// Every text, in file-name order, then an entry with a null name.
extern const Text table[];
extern const int32_t count;

// The text of a boot file, or null.
const Text* find(const char* name);

// Loads the text and evaluates it; words bind to the global context.
void run(const Text& text);

// Binds the words of the built-in functions: the actions (actions.zuv) and
// the natives (natives.zuv). The datatype words are set to their datatypes
// first, and `make` to the make action, which those texts use.
void define_builtins();
// The logic words and the infix operators (base.zuv); runs once the
// typeset words that the natives' specs name exist.
void define_base();

}  // namespace zuv::boot_texts
