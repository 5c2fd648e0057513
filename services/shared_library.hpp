// Libraries loaded at their first use instead of linked. A linked library is
// mapped, relocated and initialised, with every library it needs in turn, at
// each start of the program, though most programs never call it.
#pragma once

#include <dlfcn.h>

namespace zuv::shared_library {

// Opens the library by its versioned file name; null when it is not installed.
inline void* open(const char* soname) { return dlopen(soname, RTLD_NOW | RTLD_LOCAL); }

// Sets fn to the library's function of that name; false when it has none.
template <typename F>
bool take(void* library, F& fn, const char* name) {
    fn = reinterpret_cast<F>(dlsym(library, name));
    return fn != nullptr;
}

}  // namespace zuv::shared_library
