// PROVISIONAL float! support: see float_shim.hpp.
#include "runtime/datatypes/float_shim.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/datatypes/registry.hpp"

namespace zuv::float_shim {

int to_text(double d, char (&out)[TEXT_SIZE]) {
    if (std::isnan(d)) return std::snprintf(out, TEXT_SIZE, "1.#NaN");
    if (std::isinf(d)) return std::snprintf(out, TEXT_SIZE, d > 0 ? "1.#INF" : "-1.#INF");
    int n = std::snprintf(out, TEXT_SIZE, "%.16g", d);
    if (!std::strpbrk(out, ".e")) n += std::snprintf(out + n, TEXT_SIZE - n, ".0");
    return n;
}

int32_t compare(double a, double b, int32_t op) {
    if (std::isnan(a) || std::isnan(b)) {
        switch (op) {
            case COMP_LESSER: case COMP_LESSER_EQUAL: case COMP_GREATER: case COMP_GREATER_EQUAL:
            case COMP_SORT: case COMP_CASE_SORT:
                return COMPARE_INCOMPARABLE;
            default: return 1;
        }
    }
    return (a > b) - (a < b);
}

}  // namespace zuv::float_shim
