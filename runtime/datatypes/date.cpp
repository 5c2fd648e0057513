// date!: the calendar, construction, comparison, arithmetic and random dates.
#include "runtime/datatypes/date.hpp"

#include <cmath>

#include "evaluator/random.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/fire.hpp"
#include "runtime/words.hpp"

namespace zuv::date {

const char* const MONTH_NAMES[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

namespace {

// Division and remainder rounding toward minus infinity, so that years and
// weekdays before day 0 follow the same calendar as those after it.
inline int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
inline int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// Day number of 1 March of the year y (March-based years put the leap day last).
inline int64_t march_first(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

[[noreturn]] void fire_overflow() { fire(ErrorCategory::math, "overflow"); }

}  // namespace

// ---- the calendar ----

int32_t zone_seconds(uint32_t zone) {
    int32_t s = int32_t((zone >> 2) & 0xF) * 3600 + int32_t(zone & 3) * 900;
    return (zone & ZONE_WEST) ? -s : s;
}

int32_t zone_from_minutes(int32_t minutes) {
    int32_t magnitude = minutes < 0 ? -minutes : minutes;
    if (magnitude % 15 != 0 || magnitude > 15 * 60 + 45) return -1;
    uint32_t zone = uint32_t(magnitude / 60) << 2 | uint32_t(magnitude % 60 / 15);
    if (minutes < 0) zone |= ZONE_WEST;
    return int32_t(zone);
}

bool leap_year_q(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t month_length(int32_t year, int32_t month) {
    static constexpr int32_t lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap_year_q(year) ? 29 : lengths[month - 1];
}

int32_t days_of(int32_t year, int32_t month, int32_t day) {
    int64_t m = (month + 9) % 12;
    int64_t y = int64_t(year) - m / 10;
    int64_t n = march_first(y) + (m * 306 + 5) / 10 + (int64_t(day) - 1);
    if (n < INT32_MIN || n > INT32_MAX) fire_overflow();
    return int32_t(n);
}

uint32_t from_days(int64_t n, uint32_t zone, bool time_flag) {
    // The year estimate is exact within one; the loops settle it.
    double estimate = std::trunc((10000.0 * double(n) + 14780.0) / 3652425.0);
    if (!(estimate > MIN_YEAR - 2 && estimate < MAX_YEAR + 2)) fire_overflow();
    auto y = int64_t(estimate);
    while (n < march_first(y)) y--;
    while (n >= march_first(y + 1)) y++;
    int64_t d = n - march_first(y);
    int64_t mi = (100 * d + 52) / 3060;
    int64_t year = y + (mi + 2) / 12;
    if (year < MIN_YEAR || year > MAX_YEAR) fire_overflow();
    auto month = int32_t((mi + 2) % 12 + 1);
    auto day = int32_t(d - (mi * 306 + 5) / 10 + 1);
    return pack(int32_t(year), month, day, zone, time_flag);
}

int32_t weekday_of(int64_t n) { return int32_t(floor_mod(n + 2, 7)) + 1; }

int32_t year_day(uint32_t d) { return to_days(d) - days_of(year_of(d), 1, 1) + 1; }

int64_t normalize(int64_t n, double* t, uint32_t zone) {
    double zh = zone_seconds(zone) / time::SECONDS_PER_HOUR;
    double k = std::trunc(std::trunc(*t / time::SECONDS_PER_HOUR + zh) / 24.0);
    // Beyond a few million days no year fits: refuse before converting.
    if (!(std::fabs(k) < 1e8)) fire_overflow();
    *t -= k * SECONDS_PER_DAY;
    n += int64_t(k);
    if (zh * time::SECONDS_PER_HOUR + *t < 0) {
        *t += SECONDS_PER_DAY;
        n -= 1;
    }
    return n;
}

// ---- cells ----

Cell* make_at(Cell* c, uint32_t packed, double seconds) {
    c->header = (c->header & ~TYPE_MASK) | TYPE_UNSET;
    c->w1 = packed;
    cell::put_float(c, seconds);
    return cell::set_type(c, TYPE_DATE);
}

Cell* push(uint32_t packed, double seconds) { return make_at(cell::begin(stack::push_raw()), packed, seconds); }

Cell* make_at_parts(Cell* c, int32_t year, int32_t month, int32_t day, double seconds, int32_t zone_minutes,
                    bool has_time) {
    int32_t zone = has_time ? zone_from_minutes(zone_minutes) : 0;
    if (zone < 0) zone = 0;  // callers check the zone; never store a broken byte
    double t = has_time ? seconds - zone_seconds(uint32_t(zone)) : 0.0;
    return make_at(c, pack(year, month, day, uint32_t(zone), has_time), t);
}

Cell* make_at_epoch(Cell* c, double seconds) {
    double whole_days = std::trunc(seconds / SECONDS_PER_DAY);
    if (!(std::fabs(whole_days) < 1e8)) fire_overflow();
    double t = std::fmod(seconds, SECONDS_PER_DAY);
    int64_t n = normalize(days_of(1970, 1, 1) + int64_t(whole_days), &t, 0);
    return make_at(c, from_days(n, 0, true), t);
}

double to_epoch(const Cell* c) {
    // floor, not truncation: the stored time may be negative.
    double days = double(to_days(packed(c)) - days_of(1970, 1, 1));
    return days * SECONDS_PER_DAY + std::floor(get_time(c) + 0.5);
}

Cell* difference(Cell* a, const Cell* b) {
    double days = double(to_days(packed(a))) - double(to_days(packed(b)));
    return time::make_at(a, days * SECONDS_PER_DAY + (get_time(a) - get_time(b)));
}

// ---- make and to ----

namespace {

// Reading a block [day month year hour minute second zone-hours zone-minutes]
// and its shorter forms: each value moves a state machine by its class
// (integer!, time!, float!) and fills one field.
enum Field : int8_t {
    F_FIRST = 0, F_MONTH = 1, F_THIRD = 2, F_HOUR = 3, F_MINUTE = 4, F_SECOND = 5, F_ZONE_HOURS = 6,
    F_ZONE_MINUTES = 7, F_SECOND_FLOAT = 8, F_TIME = 10, F_ZONE_TIME = 12, FIELD_SLOTS = 13
};
struct Step {
    int8_t next;  // -1: the value is not allowed here
    int8_t field;
};
constexpr Step DEAD{-1, -1};
// Rows by state; columns integer!, time!, float!.
constexpr Step STATES[14][3] = {
    {{1, F_FIRST}, DEAD, DEAD},
    {{2, F_MONTH}, DEAD, DEAD},
    {{3, F_THIRD}, DEAD, DEAD},
    {{8, F_HOUR}, {4, F_TIME}, DEAD},
    {{6, F_ZONE_HOURS}, {5, F_ZONE_TIME}, DEAD},
    {DEAD, DEAD, DEAD},
    {{7, F_ZONE_MINUTES}, DEAD, DEAD},
    {DEAD, DEAD, DEAD},
    {{9, F_MINUTE}, DEAD, DEAD},
    {{10, F_SECOND}, DEAD, {10, F_SECOND_FLOAT}},
    {{12, F_ZONE_HOURS}, {11, F_ZONE_TIME}, DEAD},
    {DEAD, DEAD, DEAD},
    {{13, F_ZONE_MINUTES}, DEAD, DEAD},
    {DEAD, DEAD, DEAD},
};

Cell* from_block(Cell* proto, Cell* spec, bool validate) {
    int32_t count = block::zs_length_q(spec);
    if (count < 3 || count > 8) fire_bad_to_arg(TYPE_DATE, spec);
    double fields[FIELD_SLOTS] = {};
    int32_t state = 0;
    for (int32_t i = 0; i < count; i++) {
        const Cell* item = block::zs_head(spec) + i;
        int column;
        double v;
        switch (type_of(item)) {
        case TYPE_INTEGER: column = 0; v = integer::get_value(item); break;
        case TYPE_TIME: column = 1; v = time::get(item); break;
        case TYPE_FLOAT: column = 2; v = float_::get(item); break;
        default: fire_bad_to_arg(TYPE_DATE, spec);
        }
        Step step = STATES[state][column];
        if (step.next < 0) fire_bad_to_arg(TYPE_DATE, spec);
        fields[step.field] = v;
        state = step.next;
    }
    // Every field but the times came from an integer!: exact in a double.
    auto day = int32_t(fields[F_FIRST]), month = int32_t(fields[F_MONTH]), year = int32_t(fields[F_THIRD]);
    if (day >= 100 && day > year) std::swap(day, year);

    // The zone: from the two integers, or from a time!.
    int32_t zone_minutes;
    if (state == 5 || state == 11) {
        double z = fields[F_ZONE_TIME];
        if (!(std::fabs(z) < 16 * time::SECONDS_PER_HOUR)) fire_bad_to_arg(TYPE_DATE, spec);
        auto whole = int32_t(std::trunc(z / time::SECONDS_PER_MINUTE));
        zone_minutes = whole;
    } else {
        int32_t hours = int32_t(fields[F_ZONE_HOURS]), minutes = int32_t(fields[F_ZONE_MINUTES]);
        if (hours < -15 || hours > 15 || minutes < 0 || minutes > 59) fire_bad_to_arg(TYPE_DATE, spec);
        zone_minutes = hours * 60 + (hours < 0 ? -minutes : minutes);
    }
    int32_t zone = zone_from_minutes(zone_minutes);
    if (zone < 0) fire_bad_to_arg(TYPE_DATE, spec);  // only whole quarter hours are zones

    double t;
    double given_hours, given_minutes;
    if (state >= 8) {
        given_hours = fields[F_HOUR];
        given_minutes = fields[F_MINUTE];
        double seconds = fields[F_SECOND_FLOAT] != 0 ? fields[F_SECOND_FLOAT] : fields[F_SECOND];
        t = given_hours * time::SECONDS_PER_HOUR + given_minutes * time::SECONDS_PER_MINUTE + seconds;
    } else {
        t = fields[F_TIME];
        given_hours = std::trunc(t / time::SECONDS_PER_HOUR);
        given_minutes = std::floor(std::fmod(std::fabs(t), time::SECONDS_PER_HOUR) / time::SECONDS_PER_MINUTE);
    }
    if (!std::isfinite(t)) fire_bad_to_arg(TYPE_DATE, spec);
    bool has_time = count > 3;

    // The month first (months outside 1-12 move the year), then the day
    // through the day number, so that days roll over.
    int64_t y = int64_t(year) + (month - 1) / 12 - (month <= 0 ? 1 : 0);
    int32_t m = month % 12;
    if (m <= 0) m += 12;
    if (y < MIN_YEAR || y > MAX_YEAR) fire_bad_to_arg(TYPE_DATE, spec);
    int64_t n = int64_t(days_of(int32_t(y), m, 1)) - 1 + day;
    double local = t;
    n = normalize(n, &local, 0);
    uint32_t d = from_days(n, 0, has_time);

    if (validate) {
        bool same = year_of(d) == year && month_of(d) == month && day_of(d) == day;
        bool clock = true;
        if (has_time) {
            clock = given_hours >= 0 && given_hours <= 23 && given_minutes >= 0 &&
                    std::floor(std::fmod(local, time::SECONDS_PER_HOUR) / time::SECONDS_PER_MINUTE) ==
                        given_minutes &&
                    local == t;
        }
        if (!same || !clock) fire_bad_to_arg(TYPE_DATE, spec);
    }
    // The zone goes in, and the local time becomes UTC.
    local -= zone_seconds(uint32_t(zone));
    n = normalize(to_days(d), &local, uint32_t(zone));
    return make_at(proto, from_days(n, uint32_t(zone), has_time), has_time ? local : 0.0);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, int32_t) {
    switch (type_of(spec)) {
    case TYPE_DATE: return spec;
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: return from_block(proto, spec, true);
    default: return raise_bad_to_arg(TYPE_DATE, spec);
    }
}

Cell* to(Cell* proto, Cell* spec, int32_t) {
    switch (type_of(spec)) {
    case TYPE_DATE: return spec;
    case TYPE_INTEGER: return make_at_epoch(proto, double(integer::get_value(spec)));
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: return from_block(proto, spec, false);
    default: return raise_bad_to_arg(TYPE_DATE, spec);
    }
}

// ---- compare ----

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_DATE) return COMPARE_INCOMPARABLE;
    // Year, month and day; zone and time flag play no part.
    uint32_t a = packed(value1), b = packed(value2);
    int32_t parts = 0;
    for (auto [x, y] : {std::pair{year_of(a), year_of(b)}, std::pair{month_of(a), month_of(b)},
                        std::pair{day_of(a), day_of(b)}})
        if (parts == 0) parts = (x > y) - (x < y);
    double ta = get_time(value1), tb = get_time(value2);
    if (op == COMP_SAME) return parts == 0 && float_::bits_of(ta) == float_::bits_of(tb) ? 0 : 1;
    bool times_equal = float_::almost_equal_q(ta, tb);
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_FIND: case COMP_EQUAL_WORD:
    case COMP_STRICT_EQUAL_WORD:
        return parts == 0 && times_equal ? 0 : 1;
    default: break;
    }
    if (parts != 0) return parts;
    if (times_equal) return 0;
    return ta < tb ? -1 : 1;
}

// ---- arithmetic ----

void do_math(int32_t op) {
    Cell* a = stack::arguments;
    const Cell* b = a + 1;
    uint32_t d = packed(a);
    uint32_t zone = zone_of(d);
    bool time_flag = time_q(d);
    double t = get_time(a);
    int64_t n = to_days(d);
    int32_t sign = op == OP_ADD ? 1 : -1;
    switch (type_of(b)) {
    case TYPE_INTEGER: n += sign * int64_t(integer::get_value(b)); break;
    case TYPE_TIME:
        t += sign * time::get(b);
        time_flag = true;
        break;
    case TYPE_DATE: {
        if (op == OP_ADD) {
            fire_not_related(&words::add, TYPE_DATE);
        }
        // Whole days from b to a, the time difference carried in a's zone.
        double dt = t - get_time(b);
        int64_t days = normalize(n - to_days(packed(b)), &dt, zone);
        integer::make_at(cell::begin(a), int32_t(days));  // within the 15-bit years: fits
        return;
    }
    default: fire_with_datatype("invalid-type", type_of(b));
    }
    if (!std::isfinite(t)) fire_overflow();
    n = normalize(n, &t, zone);
    make_at(a, from_days(n, zone, time_flag), t);
}

void add() { do_math(OP_ADD); }
void subtract() { do_math(OP_SUB); }

// ---- random ----

Cell* random(Cell* value, bool seed, bool secure, bool) {
    uint32_t d = packed(value);
    double t = get_time(value);
    if (seed) {
        double whole = std::trunc(t);
        uint32_t seconds = std::fabs(whole) < 2147483648.0 ? uint32_t(int32_t(whole)) : 0;
        zuv::random::seed(d + seconds);
        return unset::make_at(value);
    }
    int64_t n = zuv::random::uniform_int(secure, to_days(d)) - 1;
    uint32_t zone = zone_of(d);
    if (!time_q(d)) return make_at(value, from_days(n, zone, false), 0.0);

    // A random zone and a random time of day, in whole multiples of 24 s.
    double x;
    if (secure) {
        zone = uint32_t(zuv::random::secure_int()) & ZONE_MASK;
        double a = zuv::random::secure_int(), b = zuv::random::secure_int();
        x = (a / 2147483647.0 + b) / (2147483648.0 / 3600.0);
    } else {
        zone = uint32_t(zuv::random::next_int()) & ZONE_MASK;
        x = zuv::random::next_int() / 2147483647.0 * 3600.0;
    }
    t = std::floor(x) * 24.0 - zone_seconds(zone);
    n = normalize(n, &t, zone);
    return make_at(value, from_days(n, zone, true), t);
}

// ---- registration ----

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &date::make>,
    slot<Act::random, &date::random>,
    NONE,                                     // reflect
    slot<Act::to, &date::to>,
    slot<Act::form, &date::form>,
    slot<Act::mold, &date::mold>,
    slot<Act::eval_path, &date::eval_path>,
    NONE,                                     // (empty)
    slot<Act::compare, &date::compare>,
    NONE,                                     // absolute
    slot<Act::add, &date::add>,
    NONE, NONE, NONE, NONE, NONE, NONE,       // 12-17
    slot<Act::subtract, &date::subtract>,
    NONE, NONE,                                            // 19-20
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 21-29
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 30-38
    slot<Act::pick, &date::pick>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 40-50
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 51-61
    NONE,                                                              // 62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_DATE, 0, "date!", row); }

}  // namespace zuv::date
