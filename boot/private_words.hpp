// The system's own code keeps the words it was defined with.
//
// The library and the console are written in the language, and their code
// reads the words it calls (`append`, `none`, `print`, `either`, the datatype
// words of their specs ...) through their bindings at run time. A user may
// bind any global word to anything: `append: 1` at the prompt must change
// what the user's code sees, never what the prompt loop runs.
//
// So once start-up has defined the library and the console, seal() copies
// the start-up values of the global words that their code reads into one
// private context, and rebinds those reads to it. What is rebound: every
// word! and get-word! bound to the global context in the bodies of the
// functions reachable from the global context (through objects too), and in
// the type blocks of every function's spec (argument types are read when a
// function is first called). What stays global:
//   - set-words, lit-words and refinements: the library's writes to global
//     words, and the words it names as data, go where they always went;
//   - words that some of that code sets with a set-word (its global
//     variables), and words without a value at the end of start-up;
//   - objects stay shared: the private copy of `system` is the same object,
//     so `system/console/prompt: ...` and the other hooks keep working.
// Code loaded later (the user's, or a library function's `load`) binds to
// the global context as before.
#pragma once

#include <initializer_list>

#include "runtime/cell.hpp"

namespace zuv::private_words {

// Takes the snapshot and rebinds the system's code to it (once, at the end
// of start-up, before any user code runs). called_by_name: the global words
// that the C++ side evaluates by name (through rebind), copied as well.
void seal(std::initializer_list<const char*> called_by_name);

// Rebinds a block of the system's own code made after start-up (the C++
// side's calls into the console) deeply the same way. Before seal() it does
// nothing.
void rebind(Cell* block);

// The value of the global word named as the system's own code reads it: its
// private copy once sealed (the names given to seal() have one), else its
// global value; null when the word has none. For the library functions that
// natives call. The address is valid until the next allocation.
const Cell* system_value(const char* name);

}  // namespace zuv::private_words
