// string!: sort.
//
// The sorts of sort.hpp order fixed-width records through raw addresses,
// which must stay valid for the whole sort. A text buffer may move at any
// allocation, and a function! comparator runs user code (which may allocate,
// collect, or even change the text). So the characters are copied into C++
// memory, sorted there as records of `skip` characters, and written back at
// the end with no allocation between.
#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/char.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/string_internal.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/fire.hpp"
#include "runtime/sort.hpp"
#include "runtime/words.hpp"

namespace zuv::string {

using namespace detail;

namespace {


struct SortContext {
    uint32_t unit;
    uint32_t kind;         // vector!: the element kind; text: 0
    int32_t record;        // characters per record
    uint32_t flags;
    bool fold;             // compare without regard to case
    const Cell* function;  // a function! comparator, or null
};

// Folding differs by width: one-byte text only maps A-Z to a-z; wider text
// folds to upper case through the case tables.
inline uint32_t folded(uint32_t c, uint32_t unit) {
    if (unit == 1) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return case_folding::to_upper(c);
}

int32_t compare_chars(const uint8_t* a, const uint8_t* b, const SortContext& c) {
    if (c.flags & series::SORT_REVERSE) std::swap(a, b);
    int32_t from = 0, count = 1;
    if (c.flags & series::SORT_ALL) count = int32_t(c.flags >> series::SORT_FIELD_SHIFT);
    else from = int32_t(c.flags >> series::SORT_FIELD_SHIFT);
    for (int32_t k = from; k < from + count; k++) {
        if (c.kind) {
            // vector! elements by value: integers signed, floats as doubles.
            Cell x, y;
            vector::element_value(a + size_t(k) * c.unit, int32_t(c.unit), c.kind, &x);
            vector::element_value(b + size_t(k) * c.unit, int32_t(c.unit), c.kind, &y);
            bool real = c.kind == TYPE_FLOAT || c.kind == TYPE_PERCENT;
            double dx = real ? cell::get_float(&x) : double(int32_t(x.w2));
            double dy = real ? cell::get_float(&y) : double(int32_t(y.w2));
            // NaN sorts after every number and equal to itself, keeping the order total.
            bool nx = dx != dx, ny = dy != dy;
            if (nx || ny) {
                if (nx != ny) return nx ? 1 : -1;
                continue;
            }
            if (dx != dy) return dx < dy ? -1 : 1;
            continue;
        }
        uint32_t ca = get_char(a + size_t(k) * c.unit, c.unit);
        uint32_t cb = get_char(b + size_t(k) * c.unit, c.unit);
        if (c.fold) {
            ca = folded(ca, c.unit);
            cb = folded(cb, c.unit);
        }
        // Code points stay below 2^31: the difference cannot overflow.
        if (ca != cb) return int32_t(ca) - int32_t(cb);
    }
    return 0;
}

// A record as the comparator function sees it: a char!, or with /all a
// string! of the record's characters.
void record_value(const uint8_t* r, const SortContext& c, Cell* out) {
    if (c.kind) {
        // An element's value, or with /all a vector of the record.
        if (!(c.flags & series::SORT_ALL)) {
            vector::element_value(r, int32_t(c.unit), c.kind, out);
            return;
        }
        vector::make_at(cell::begin(out), c.record, c.kind, int32_t(c.unit));
    } else if (!(c.flags & series::SORT_ALL)) {
        char_::make_at(cell::begin(out), get_char(r, c.unit));
        return;
    } else {
        make_at_unit(cell::begin(out), c.record, int32_t(c.unit));
    }
    SeriesBuffer* s = buffer(out);
    std::memcpy(memory::head_of(s), r, size_t(c.record) * c.unit);
    s->tail = s->head + c.record * int32_t(c.unit);
}

int32_t compare_with_function(const uint8_t* a, const uint8_t* b, const SortContext& c) {
    Cell* saved_top = stack::top;
    Cell* first = stack::push_raw();
    Cell* second = stack::push_raw();
    Cell* result = cell::begin(stack::push_raw());
    record_value(a, c, first);
    record_value(b, c, second);
    // The function sees (second, first), or (first, second) when reversed.
    if (c.flags & series::SORT_REVERSE) block::detail::call_comparator(c.function, first, second, result);
    else block::detail::call_comparator(c.function, second, first, result);
    // The string is sorted in place: an exit from the comparator stops the
    // sort where it stands.
    stack::raise_pending();
    int32_t order = series::comparator_order(result);
    stack::top = saved_top;
    return order;
}

int32_t compare_records(const uint8_t* a, const uint8_t* b, void* context, void*) {
    const SortContext& c = *static_cast<const SortContext*>(context);
    return c.function ? compare_with_function(a, b, c) : compare_chars(a, b, c);
}

}  // namespace

Cell* sort(Cell* series, bool case_q, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
           bool stable) {
    // Lengths and addresses through series! so that vector! widths work too.
    const uint32_t kind = type_of(series) == TYPE_VECTOR ? series->w3 : 0;
    auto total = [&] { return series::total_length(series); };
    auto address = [&](int64_t i) {
        SeriesBuffer* b = buffer(series);
        return memory::head_of(b) + i * memory::unit_of(b);
    };
    int32_t head = std::clamp(int32_t(series->w1), 0, total());
    int64_t n = int64_t(total()) - head;
    if (series::given(part, series)) {
        int64_t count = series::part_count(series, part, head);
        if (count == series::PART_RAISED) return nullptr;
        if (count < n) n = count;
        if (n < 0) {
            // A negative count sorts the characters before the head; one
            // reaching before the first character sorts nothing.
            if (head + n < 0) {
                series->w1 = 0;
                return series;
            }
            head = int32_t(head + n);
            series->w1 = uint32_t(head);
            n = -n;
        }
    }

    const series::SortOptions options = series::sort_options(series, n, skip, comparator, all, reverse);
    const int64_t s = options.record_size;
    const uint32_t flags = options.flags;
    const Cell* function = options.function;
    if (n < 1) return series;

    bool owned = notify(series, words::sort, nullptr, head, int32_t(n));
    if (owned) {
        // The owner's handler may have shortened the text.
        head = std::min(head, total());
        n = std::min<int64_t>(n, total() - head) / s * s;
        if (n < 1) return series;
    }

    const uint32_t unit = unit_of(series);
    std::vector<uint8_t> records(size_t(n) * unit);
    std::memcpy(records.data(), address(head), records.size());
    SortContext c{unit, kind, int32_t(s), flags, !case_q && !kind, function};
    int32_t count = int32_t(n / s);
    int32_t width = int32_t(s * unit);
    // A stable sort is asked for: it is given whether or not case matters.
    if (stable) sorting::merge_sort(records.data(), count, width, &c, nullptr, compare_records);
    else sorting::quick_sort(records.data(), count, width, &c, nullptr, compare_records);

    // User code may have shortened or widened the text meanwhile: only the
    // characters it still has are written, in its current unit.
    int64_t room = std::min<int64_t>(n, int64_t(total()) - head);
    uint32_t now = unit_of(series);
    uint8_t* to = address(head);
    if (now == unit) {
        if (room > 0) std::memcpy(to, records.data(), size_t(room) * unit);
    } else {
        for (int64_t i = 0; i < room; i++) put_char(to + i * now, now, get_char(records.data() + i * unit, unit));
    }

    if (owned) notify(series, words::sorted, nullptr, head, int32_t(n));
    return series;
}

}  // namespace zuv::string
