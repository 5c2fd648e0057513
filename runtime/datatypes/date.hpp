// date!: a calendar date with an optional time of day and time zone.
//
//   word 0  header, type byte 47
//   word 1  packed date: bits 17-31 year (signed), bit 16 time flag,
//           bits 12-15 month (1-12), bits 7-11 day (1-31), bits 0-6 zone
//   words 2-3  the time as a double of seconds, in UTC, measured from the
//           midnight of the packed (local) date; 0.0 without the time flag
//
// Zone byte: bit 6 set = west of UTC, bits 2-5 whole hours, bits 0-1
// quarter hours; 0 is UTC. Offsets run from -15:45 to +15:45.
//
// The packed date is the date in the value's own zone; the stored time may
// therefore be negative or pass 86400 by up to the zone offset, while the
// local time of day (stored time plus offset) stays in [0, 86400).
//
// Every calendar change goes through a day number: a signed count of days
// whose day 0 is 1 March of year 0, proleptic Gregorian (a Wednesday).
// Days out of their month's range roll into the next or previous months.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::date {

constexpr uint32_t TIME_FLAG = 0x10000;
constexpr uint32_t ZONE_MASK = 0x7F;
constexpr uint32_t ZONE_WEST = 0x40;
constexpr int32_t MIN_YEAR = -16384;  // the 15 bits of the packed year
constexpr int32_t MAX_YEAR = 16383;
constexpr double SECONDS_PER_DAY = 86400.0;

// English month names, shared by the text form and the lexer's date reader.
extern const char* const MONTH_NAMES[12];

// ---- the packed date ----

inline int32_t year_of(uint32_t d) { return int32_t(d) >> 17; }
inline int32_t month_of(uint32_t d) { return int32_t((d >> 12) & 0xF); }
inline int32_t day_of(uint32_t d) { return int32_t((d >> 7) & 0x1F); }
inline uint32_t zone_of(uint32_t d) { return d & ZONE_MASK; }
inline bool time_q(uint32_t d) { return (d & TIME_FLAG) != 0; }
// Raw packing, no checks (year wrapped to 15 bits).
inline uint32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool time_flag) {
    return uint32_t(year) << 17 | (time_flag ? TIME_FLAG : 0u) | (uint32_t(month) & 0xF) << 12 |
           (uint32_t(day) & 0x1F) << 7 | (zone & ZONE_MASK);
}

// The zone offset of a zone byte in seconds.
int32_t zone_seconds(uint32_t zone);
// The zone byte of an offset in minutes, or -1 when the minutes are not a
// whole quarter hour or the offset lies beyond 15:45.
int32_t zone_from_minutes(int32_t minutes);

bool leap_year_q(int32_t year);
int32_t month_length(int32_t year, int32_t month);

// Day number of a year, month and day (day may lie outside its month).
int32_t days_of(int32_t year, int32_t month, int32_t day);
inline int32_t to_days(uint32_t d) { return days_of(year_of(d), month_of(d), day_of(d)); }
// The packed date of a day number, with the zone and time flag given; math
// overflow when its year does not fit the packed year.
uint32_t from_days(int64_t n, uint32_t zone, bool time_flag);
// 1 (Monday) to 7 (Sunday).
int32_t weekday_of(int64_t n);
// The 1-based day of the year of a packed date.
int32_t year_day(uint32_t d);
// Day number of the Monday that starts ISO week 1 of the year (the week
// that holds the year's first Thursday).
int64_t iso_week1_monday(int32_t year);

// Moves whole days between the day number and the UTC time t so that the
// local time (t plus the zone's offset) lies in [0, 86400); returns the
// new day number. math overflow for a time too large to carry.
int64_t normalize(int64_t n, double* t, uint32_t zone);

// ---- cells ----

inline uint32_t packed(const Cell* c) { return c->w1; }
inline double get_time(const Cell* c) { return cell::get_float(c); }
// Fills the cell as a date! (flag bits kept) and returns it.
Cell* make_at(Cell* c, uint32_t packed, double seconds);
Cell* push(uint32_t packed, double seconds);
// A date from its parts as the lexer reads them: with has_time the time is
// the local time of day, converted to UTC by the zone (zone_minutes a
// multiple of 15, checked by the caller) without moving the day.
Cell* make_at_parts(Cell* c, int32_t year, int32_t month, int32_t day, double seconds, int32_t zone_minutes,
                    bool has_time);
// The date, with time and zone 0, of a count of seconds since 1970-01-01
// 00:00 UTC.
Cell* make_at_epoch(Cell* c, double seconds);
// Seconds since 1970-01-01 00:00 UTC, the time rounded half up to a whole second.
double to_epoch(const Cell* c);
// The time! of a minus b (days and seconds), in a's cell.
Cell* difference(Cell* a, const Cell* b);

// ---- fields (date_fields.cpp) ----

// 1 date, 2 year, 3 month, 4 day, 5 zone, 6 time, 7 hour, 8 minute,
// 9 second, 10 weekday, 11 yearday, 12 timezone, 13 week, 14 isoweek.
constexpr int32_t FIELD_COUNT = 14;
// The field of a word (julian is yearday), else -1.
int32_t field_index(const Cell* word);
// Pushes the field's value and returns it.
Cell* get_field(const Cell* value, int32_t index);

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t index,
                bool case_q, bool get_q, bool tail_q, bool evalp_q);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
// Date arithmetic on the current call's two arguments, the date first: an
// integer! counts days, a time! seconds; date - date gives the integer!
// count of days. The result replaces the first argument.
void do_math(int32_t op);
void add();
void subtract();
const Cell* pick(Cell* value, int32_t index, Cell* boxed);

void register_type();

}  // namespace zuv::date
