#include "runtime/fire.hpp"

#include <initializer_list>

#include "runtime/throw.hpp"

namespace zuv {

namespace runtime {

PendingError& pending_error() {
    static PendingError record;
    return record;
}

const char* category_name(ErrorCategory c) {
    static const char* const names[] = {"throw", "note", "syntax", "script", "math",
                                        "access", "reserved1", "reserved2", "user", "internal"};
    return names[static_cast<int>(c)];
}

}  // namespace runtime

void fire(ErrorCategory category, const char* id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    PendingError& e = runtime::pending_error();
    e.category = category;
    e.id = id;
    e.arg_count = 0;
    for (const Cell* a : {arg1, arg2, arg3}) {
        if (!a) break;
        e.args[e.arg_count++] = *a;
    }
    runtime::throw_code(THROW_ERROR);
}

}  // namespace zuv
