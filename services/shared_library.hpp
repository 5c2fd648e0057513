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

// The library's function table, loaded at the first call: fill(handle,
// table) takes its functions (and may start the library), answering false
// when one is missing. Null, then and at every later call, when the library
// is not installed or fill failed.
template <typename Table, typename Fill>
const Table* load_once(const char* soname, Fill fill) {
    static const Table* loaded = [&]() -> const Table* {
        static Table table;
        void* library = open(soname);
        return library && fill(library, table) ? &table : nullptr;
    }();
    return loaded;
}

}  // namespace zuv::shared_library
