// Sorting: the default sort (presortedness detection, then a quicksort that
// draws its pivots from a growing sorted sample) and the stable natural
// merge sort with the powersort merge policy.
#include "runtime/sort.hpp"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/fire.hpp"

namespace zuv::sorting {

namespace {

// Everything a sort hands down: the records and the caller's comparison.
struct Sorter {
    uint8_t* base;
    int32_t width;
    void* arg1;
    void* arg2;
    CompareFn compare;

    uint8_t* at(int64_t i) const { return base + i * width; }
    // The sign of the comparison (-1, 0 or 1), so that it can be multiplied by a direction.
    int32_t cmp(int64_t i, int64_t j) const {
        int32_t r = compare(at(i), at(j), arg1, arg2);
        return (r > 0) - (r < 0);
    }
    void swap(int64_t i, int64_t j) const {
        if (i != j) swap_records(at(i), at(j), width);
    }
    // Exchanges the records [a, a + n) and [b, b + n); the ranges do not overlap.
    void swap_ranges(int64_t a, int64_t b, int64_t n) const {
        for (int64_t k = 0; k < n; k++) swap_records(at(a + k), at(b + k), width);
    }
    void reverse(int64_t first, int64_t end) const {
        for (int64_t i = first, j = end - 1; i < j; i++, j--) swap_records(at(i), at(j), width);
    }
    // [first, middle) and [middle, end) change places, each keeping its order.
    void rotate(int64_t first, int64_t middle, int64_t end) const {
        if (first == middle || middle == end) return;
        reverse(first, middle);
        reverse(middle, end);
        reverse(first, end);
    }
    // The ordered block [first + gap, first + gap + n) moves down to first,
    // keeping its order; the gap's records (in any order) go after it.
    void bring_down(int64_t first, int64_t gap, int64_t n) const {
        if (gap == 0 || n == 0) return;
        if (n <= gap) swap_ranges(first, first + gap, n);
        else rotate(first, first + gap, first + gap + n);
    }
    // The ordered block [first, first + n) moves up over the gap of the
    // following records, keeping its order; the gap's records go before it.
    void send_up(int64_t first, int64_t n, int64_t gap) const {
        if (gap == 0 || n == 0) return;
        if (n <= gap) swap_ranges(first, first + gap, n);
        else rotate(first, first + n, first + n + gap);
    }
    // Each record moves left by swaps while its left neighbour sorts after it.
    void insertion_sort(int64_t first, int64_t from, int64_t end) const {
        for (int64_t i = from; i < end; i++)
            for (int64_t j = i; j > first && cmp(j - 1, j) > 0; j--) swap(j - 1, j);
    }
};

// ---- the default sort ----

constexpr int32_t SMALL_RANGE = 8;        // below this, insertion sort
constexpr int32_t FIRST_REGION = 63;      // records of the first sample region of a large range
constexpr int32_t LARGE_RANGE = 512;      // ranges from this size start with a small region
constexpr int32_t SAMPLE_STRIDE = 97;     // presortedness samples every 97th pair
constexpr int32_t PROBE_STEP = 10;        // the gathering probe's stride
constexpr int32_t MIN_STRETCH = 4;        // shorter ordered stretches are not gathered

// Puts records a, b and c in order with at most three compares.
void order_three(const Sorter& s, int64_t a, int64_t b, int64_t c) {
    if (s.cmp(a, b) > 0) s.swap(a, b);
    if (s.cmp(b, c) > 0) {
        s.swap(b, c);
        if (s.cmp(a, b) > 0) s.swap(a, b);
    }
}

// Sorts [first, first + n). A hint h > 2 says the first h records are
// sorted, h < -2 that the last -h are; such a sample gives the pivots.
// Recursion goes into the smaller side and the loop goes on with the larger,
// so the depth stays near log2 n whatever the pivots.
void partition(const Sorter& s, int64_t first, int64_t n, int64_t h) {
    while (n >= SMALL_RANGE) {
        if (h >= n || -h >= n) return;  // the sample is the whole range
        int64_t region, pivot = 0, upper_sample = 0;
        if (h >= -2 && h <= 2) {
            // No usable sample: the median of three of the region.
            region = n >= LARGE_RANGE ? FIRST_REGION : n;
            s.swap(first + region / 2, first + 1);
            order_three(s, first, first + 1, first + region - 1);
            pivot = 1;
            upper_sample = 1;
        } else {
            if (h < -2) {
                int64_t m = -h;
                region = m > n / 256 ? n : 16 * m - 1;
                if (region < n) {
                    s.swap_ranges(first, first + n - m, m);  // the whole sample to the front
                    h = m;
                } else {
                    // The lower half of the sample comes to the front, the
                    // upper half stays at the end.
                    int64_t lower = (m + 1) / 2;
                    s.bring_down(first, n - m, lower);
                    pivot = lower - 1;
                    upper_sample = m / 2;
                }
            }
            if (h > 2) {
                region = h > n / 256 ? n : 16 * h - 1;
                if (region < n) {
                    // Spread the region's unsorted part over the whole range.
                    int64_t stride = n / region;
                    for (int64_t t = h; t < region; t++) s.swap(first + t, first + t * stride);
                }
                pivot = (h - 1) / 2;
                upper_sample = h - 1 - pivot;
                s.send_up(first + pivot + 1, upper_sample, region - h);
            }
        }

        // Three-way partition of [pivot + 1, region - upper_sample): records
        // equal to the pivot gather in a zone right after it.
        int64_t p = first + pivot;
        int64_t zone_end = p + 1;
        int64_t i = p + 1;
        int64_t j = first + region - upper_sample;
        while (i < j) {
            int32_t c = s.cmp(i, p);
            if (c > 0) {
                // Exchange with the next record from the right that is not above.
                int32_t d = 1;
                while (--j > i && (d = s.cmp(j, p)) > 0) {}
                if (j <= i) break;
                s.swap(i, j);
                c = d;
            }
            if (c == 0) s.swap(i, zone_end++);
            i++;
        }
        // The pivot and its equals [p, zone_end) go between the lower records
        // [zone_end, i) and the upper ones [i, ...).
        int64_t equal = zone_end - p;
        int64_t below = i - zone_end;
        if (below >= equal) s.swap_ranges(p, i - equal, equal);
        else s.swap_ranges(p, zone_end, below);
        int64_t lower_n = p - first + below;  // lower sample, then the lower records
        int64_t upper_first = i;
        int64_t upper_n = first + region - i;  // upper records, then the upper sample
        int64_t lower_hint = pivot, upper_hint = -upper_sample;

        if (region == n) {
            if (lower_n < upper_n) {
                partition(s, first, lower_n, lower_hint);
                first = upper_first;
                n = upper_n;
                h = upper_hint;
            } else {
                partition(s, upper_first, upper_n, upper_hint);
                n = lower_n;
                h = lower_hint;
            }
        } else {
            partition(s, first, lower_n, lower_hint);
            partition(s, upper_first, upper_n, upper_hint);
            h = region;  // the sorted region is the next round's sample
        }
    }
    s.insertion_sort(first, first + 1, first + n);
}

// Gathers ordered stretches found after the front [0, front_last] onto it
// (direction dir: +1 ascending, -1 descending); answers the new front_last.
int64_t gather(const Sorter& s, int64_t n, int64_t front_last, int32_t dir) {
    auto in_order = [&](int64_t a, int64_t b) { return dir * s.cmp(a, b) <= 0; };
    int64_t probe = front_last;
    for (;;) {
        probe += PROBE_STEP;
        if (probe >= n) return front_last;
        while (probe < n && in_order(probe - 1, probe)) probe++;
        int64_t back = probe - 1;
        while (back > front_last && in_order(back - 1, back)) back--;
        // The ordered stretch is [back, probe).
        if (back <= front_last) {
            front_last = probe - 1;  // it continues the front
            continue;
        }
        int64_t length = probe - back;
        if (length < MIN_STRETCH) continue;
        // A one-record front is replaced by the stretch. A longer one is
        // walked back from its end against the stretch's start until a pair
        // is in order: the front gives up its last k records and the
        // stretch's first k stay where they are, the rest joining the front.
        int64_t give_up = 1;
        int64_t keep = 0;
        if (front_last > 0) {
            int64_t limit = std::min<int64_t>(length / 2, front_last / 4);
            int64_t k = 0;
            while (k < limit && !in_order(front_last - k, back + k)) k++;
            if (k == limit) continue;  // no joining point close enough: left alone
            give_up = keep = k;
        }
        int64_t to = front_last - give_up + 1;
        for (int64_t from = back + keep; from < probe; from++, to++) s.swap(to, from);
        front_last = to - 1;
    }
}

// ---- the stable sort ----

struct Run {
    int64_t start;
    int32_t power;
};

// The powersort power of the boundary between the runs [a, b) and [b, c) of n records.
int32_t boundary_power(int64_t a, int64_t b, int64_t c, int64_t n) {
    int64_t s1 = a + b, s2 = b + c;
    int32_t power = 1;
    for (;;) {
        bool low1 = s1 < n, low2 = s2 < n;
        if (low1 != low2) return power;
        if (!low1) {
            s1 -= n;
            s2 -= n;
        }
        s1 *= 2;
        s2 *= 2;
        power++;
    }
}

// Merges the sorted runs [a, b) and [b, c) through buffer (room for the shorter).
void merge_runs(const Sorter& s, int64_t a, int64_t b, int64_t c, uint8_t* buffer) {
    const int32_t w = s.width;
    if (c - b < b - a) {
        // The right run is shorter: it goes to the buffer and the runs merge from the back.
        std::memcpy(buffer, s.at(b), size_t(c - b) * w);
        int64_t left = b - 1, right = c - b - 1, out = c - 1;
        while (right >= 0) {
            if (left >= a && s.compare(s.at(left), buffer + right * w, s.arg1, s.arg2) > 0) {
                std::memcpy(s.at(out--), s.at(left--), w);
            } else {
                std::memcpy(s.at(out--), buffer + right * w, w);
                right--;
            }
        }
    } else {
        std::memcpy(buffer, s.at(a), size_t(b - a) * w);
        int64_t left = 0, left_end = b - a, right = b, out = a;
        while (left < left_end) {
            if (right < c && s.compare(buffer + left * w, s.at(right), s.arg1, s.arg2) > 0) {
                std::memcpy(s.at(out++), s.at(right++), w);
            } else {
                std::memcpy(s.at(out++), buffer + left * w, w);
                left++;
            }
        }
    }
}

constexpr int64_t MIN_RUN = 24;

}  // namespace

void swap_records(uint8_t* a, uint8_t* b, int32_t width) {
    if ((width & 3) == 0) {
        for (int32_t i = 0; i < width; i += 4) {
            uint32_t x, y;
            std::memcpy(&x, a + i, 4);
            std::memcpy(&y, b + i, 4);
            std::memcpy(a + i, &y, 4);
            std::memcpy(b + i, &x, 4);
        }
    } else {
        for (int32_t i = 0; i < width; i++) {
            uint8_t x = a[i];
            a[i] = b[i];
            b[i] = x;
        }
    }
}

uint8_t* count_run(uint8_t* start, uint8_t* end, int32_t width, void* arg1, void* arg2, CompareFn compare) {
    uint8_t* next = start + width;
    if (next >= end) return end;
    if (compare(start, next, arg1, arg2) <= 0) {
        while (next + width < end && compare(next, next + width, arg1, arg2) <= 0) next += width;
        return next + width;
    }
    while (next + width < end && compare(next, next + width, arg1, arg2) > 0) next += width;
    uint8_t* run_end = next + width;
    for (uint8_t *i = start, *j = next; i < j; i += width, j -= width) swap_records(i, j, width);
    return run_end;
}

void partition_sort(uint8_t* base, int32_t hint, int32_t n, int32_t width, void* arg1, void* arg2,
                    CompareFn compare) {
    partition(Sorter{base, width, arg1, arg2, compare}, 0, n, hint);
}

void quick_sort(uint8_t* base, int32_t n, int32_t width, void* arg1, void* arg2, CompareFn compare) {
    if (n < 2) return;
    Sorter s{base, width, arg1, arg2, compare};
    // The ordered prefix: equal records, then records going one way.
    int64_t i = 0;
    int32_t c = 0;
    while (i + 1 < n && (c = s.cmp(i, i + 1)) == 0) i++;
    if (i + 1 >= n) return;  // all equal
    int32_t dir = c < 0 ? 1 : -1;
    i++;  // that pair goes the direction
    while (i + 1 < n && dir * s.cmp(i, i + 1) <= 0) i++;
    int64_t front_last = i;
    int64_t score = (front_last + 1) * dir;
    for (int64_t j = front_last + SAMPLE_STRIDE; j + 1 < n; j += SAMPLE_STRIDE) {
        int32_t d = s.cmp(j, j + 1);
        score += d < 0 ? 1 : d > 0 ? -1 : 0;
    }
    if (std::llabs(score) > n / 512) {
        // Nearly sorted: gather ordered stretches onto the front.
        int32_t nearly = score > 0 ? 1 : -1;
        if (nearly != dir) {
            front_last = 0;
            dir = nearly;
        }
        front_last = gather(s, n, front_last, dir);
    }
    if (dir < 0) s.reverse(0, front_last + 1);
    if (front_last + 1 < n) partition(s, 0, n, front_last + 1);
}

void merge_sort(uint8_t* base, int32_t n, int32_t width, void* arg1, void* arg2, CompareFn compare) {
    if (n < 2) return;
    int64_t buffer_bytes = int64_t(width) * (n / 2);
    if (buffer_bytes > INT32_MAX) fire(ErrorCategory::script, "too-long");
    std::unique_ptr<uint8_t, void (*)(void*)> buffer(static_cast<uint8_t*>(std::malloc(size_t(buffer_bytes) + 1)),
                                                     std::free);
    if (!buffer) fire(ErrorCategory::internal, "no-memory");

    Sorter s{base, width, arg1, arg2, compare};
    // floor(log2 n) + 1 entries bound the stack; 64 cover every n.
    Run stack[64] = {};
    int32_t top = 0;  // stack[0] is the sentinel of power 0
    auto run_end = [&](int64_t from) {
        int64_t end = (count_run(s.at(from), s.at(n), width, arg1, arg2, compare) - base) / width;
        if (end - from < MIN_RUN && end < n) {
            int64_t extended = std::min<int64_t>(from + MIN_RUN, n);
            s.insertion_sort(from, end, extended);
            end = extended;
        }
        return end;
    };

    int64_t previous = 0;
    int64_t b = run_end(0);
    while (b < n) {
        int64_t c = run_end(b);
        int32_t power = boundary_power(previous, b, c, n);
        // Powers on the stack rise strictly, so it never fills; the bound only guards it.
        while (stack[top].power > power || top == 63) {
            int64_t start = stack[top--].start;
            merge_runs(s, start, previous, b, buffer.get());
            previous = start;
        }
        stack[++top] = Run{previous, power};
        previous = b;
        b = c;
    }
    while (top > 0) {
        int64_t start = stack[top--].start;
        merge_runs(s, start, previous, n, buffer.get());
        previous = start;
    }
}

}  // namespace zuv::sorting
