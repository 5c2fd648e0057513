// Sorting: two general sorts over an array of n fixed-width records.
//
// The records are raw bytes of any width; the caller supplies the compare
// function and two opaque arguments that both sorts pass to it unchanged.
// The compare function answers a negative number when the first record sorts
// before the second, 0 when they are equal, a positive number when after.
//
//   quick_sort  the default sort: in place, not stable, no memory beyond its
//               recursion (at most about log2 n levels deep). It first looks
//               for an ordered front (a sorted or reverse-sorted prefix,
//               gathered further when the input is nearly sorted) and lets
//               the partitioning draw its pivots from it.
//   merge_sort  the stable sort: a natural merge sort with the powersort
//               merge policy and a buffer of n / 2 records.
//
// The base address must stay valid for the whole sort: a compare function
// that can allocate in the collected heap or run user code must sort records
// that do not live in a series buffer (see block_sort.cpp, which sorts
// record numbers). Errors raised by the compare function pass through and
// may leave the records partly ordered.
#pragma once

#include <cstdint>

namespace zuv::sorting {

using CompareFn = int32_t (*)(const uint8_t* first, const uint8_t* second, void* arg1, void* arg2);

// Exchanges two records: 32-bit word by word when the width is a multiple of
// 4, else byte by byte.
void swap_records(uint8_t* a, uint8_t* b, int32_t width);

void quick_sort(uint8_t* base, int32_t n, int32_t width, void* arg1, void* arg2, CompareFn compare);

// Raises script too-long when width x (n / 2) does not fit in 32 bits and
// internal no-memory when the buffer cannot be had, both before any record moves.
void merge_sort(uint8_t* base, int32_t n, int32_t width, void* arg1, void* arg2, CompareFn compare);

// The end of the natural run starting at start: records in order (each pair
// comparing <= 0), or strictly descending (each pair > 0), which is then
// reversed in place.
uint8_t* count_run(uint8_t* start, uint8_t* end, int32_t width, void* arg1, void* arg2, CompareFn compare);

// The partitioning step of the default sort over n records from base. A hint
// h > 2 says the first h records are sorted, h < -2 that the last -h are.
void partition_sort(uint8_t* base, int32_t hint, int32_t n, int32_t width, void* arg1, void* arg2,
                    CompareFn compare);

}  // namespace zuv::sorting
