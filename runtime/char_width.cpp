// Character display width over the generated range tables.
#include "runtime/char_width.hpp"

namespace zuv::unicode {

bool in_ranges_q(uint32_t cp, const uint32_t* table, int32_t count) {
    if (count < 2 || cp < table[0] || cp > table[count - 1]) return false;
    // The ranges are sorted and disjoint: a binary search over the pairs.
    int32_t low = 0, high = count / 2 - 1;
    while (low <= high) {
        int32_t mid = (low + high) / 2;
        if (cp < table[2 * mid]) high = mid - 1;
        else if (cp > table[2 * mid + 1]) low = mid + 1;
        else return true;
    }
    return false;
}

int32_t get_char_width(uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return 1;
    if (in_ranges_q(cp, width_data::zero, width_data::zero_count)) return 0;
    if (in_ranges_q(cp, width_data::wide, width_data::wide_count)) return 2;
    return 1;
}

int32_t get_char_width_cjk(uint32_t cp) {
    if (in_ranges_q(cp, width_data::ambiguous, width_data::ambiguous_count)) return 2;
    return get_char_width(cp);
}

}  // namespace zuv::unicode
