// file!: a file or folder name in the language's notation.
//
// Cell: as string! (string.hpp), type byte 8; a child of url!, whose path
// access it shares (the result of `%dir/name` is a file!). "/" separates the
// parts and a leading "/" makes a name absolute; a trailing "/" names a
// folder. On Linux the local form of a name is the name as it stands.
//
// A name holding a NUL character cannot be handed to the system (the system
// would see a shorter, different name): every action refuses it with its
// own failure form before anything else happens.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.hpp"

namespace zuv::file {

// The local form of a file or string value from its head (UTF-8); with
// full, a relative name gets the current folder in front.
std::string to_local_path(const Cell* file, bool full);
// True when the text from the head holds a NUL character.
bool nul_in_name_q(const Cell* file);

// ---- action slots ----

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
Cell* delete_(Cell* value);
Cell* query(Cell* value);
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* rename(Cell* from, Cell* to);
Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as);

// Registers file! (after url!).
void register_type();

}  // namespace zuv::file
