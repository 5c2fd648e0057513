// OS glue: virtual memory, the clock, the packed date, environment, current
// directory and waits, on their Linux facilities.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zuv::platform {

// Reserves and commits read-write memory; a refusal is the low-level throw
// THROW_FRAME_RESERVE.
void* virtual_alloc(size_t size, bool executable = false);
// Releases a reservation; a refusal is the low-level throw THROW_FRAME_RELEASE.
void virtual_free(void* address, size_t size);
// Asks the system to back [address, address + size) of a reservation with
// pages now, in one call, rather than at a fault for each page on its first
// write. A hint: a system that cannot do it leaves the faults as they were.
void prefault(void* address, size_t size);

void init();

// Writes all count bytes to fd, again after an interrupted write and, with
// wait_when_full, after waiting out a full non-blocking descriptor; false on
// any other failure. Safe in a signal handler: it only calls write(2) and
// poll(2).
bool write_fully(int fd, const void* data, size_t count, bool wait_when_full = false);

std::string get_current_dir();
bool set_current_dir(const char* path);
bool set_env(const char* name, const char* value);  // value null removes
bool get_env(const char* name, std::string& out);   // false when absent

// Sleeps seconds x 1000 milliseconds, at least 1 ms; huge or invalid waits are
// clamped. A halt request ends it early.
void wait(double seconds);
// Seconds since midnight UTC; with precise the fraction of the second is added.
double get_time(bool precise);

// Seconds since 1970-01-01 00:00 UTC (whole seconds unless precise) and the
// local zone's offset from UTC in minutes at that instant, from one reading
// of the clock.
double get_epoch(bool precise, int32_t* zone_minutes);

// Packed date: year << 17 | time flag << 16 | month << 12 | day << 7 | zone,
// zone bit 6 = west of UTC, bits 0-5 = quarter hours.
uint32_t get_date(bool utc);
uint32_t pack_date(int year, int month, int day, int zone_minutes, bool time_flag);

}  // namespace zuv::platform
