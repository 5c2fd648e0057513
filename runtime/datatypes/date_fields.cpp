// date!: its fields (paths, pick) and its text form.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/fire.hpp"
#include "runtime/settings.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::date {

namespace {

enum FieldIndex : int32_t {
    DATE = 1, YEAR, MONTH, DAY, ZONE, TIME, HOUR, MINUTE, SECOND, WEEKDAY, YEARDAY, TIMEZONE, WEEK, ISOWEEK
};

// The local time of day: the stored UTC time plus the zone's offset.
double local_time(uint32_t d, double t) { return t + zone_seconds(zone_of(d)); }

// Days since Sunday of 1 January of the year, and that day's number.
int32_t jan1_since_sunday(int32_t jan1) { return int32_t(((int64_t(jan1) + 3) % 7 + 7) % 7); }

int32_t week_of(uint32_t d) {
    int32_t s = jan1_since_sunday(days_of(year_of(d), 1, 1));
    int32_t yd = year_day(d);
    return 7 - s < yd ? (yd + s - 1) / 7 + 1 : 1;
}

int32_t iso_week_of(uint32_t d) {
    int32_t year = year_of(d);
    int64_t n = to_days(d);
    int64_t monday = iso_week1_monday(year);
    if (n < monday) {
        // The last week of the previous year: 53 or 52 by the weekday of 1 January.
        int32_t jan1_weekday = weekday_of(days_of(year, 1, 1));
        if (jan1_weekday == 5) return 53;
        if (jan1_weekday == 6) return leap_year_q(year - 1) ? 53 : 52;
        return 52;
    }
    if (n < iso_week1_monday(year + 1)) return int32_t((n - monday) / 7 + 1);
    return 1;
}

int32_t integer_value(const Cell* value) {
    if (type_of(value) != TYPE_INTEGER) fire(ErrorCategory::script, "invalid-arg", value);
    return integer::get_value(value);
}

// The zone byte a value names: an integer! of hours, or a time! of hours
// and minutes; minutes must be a whole quarter hour.
uint32_t zone_of_value(const Cell* value) {
    int32_t minutes;
    if (type_of(value) == TYPE_INTEGER) {
        minutes = integer::get_value(value) % 16 * 60;
    } else if (type_of(value) == TYPE_TIME) {
        double t = std::fmod(time::get(value), 16 * time::SECONDS_PER_HOUR);
        if (!std::isfinite(t)) fire(ErrorCategory::script, "invalid-arg", value);
        minutes = int32_t(std::trunc(t / time::SECONDS_PER_MINUTE));
    } else {
        fire(ErrorCategory::script, "invalid-arg", value);
    }
    int32_t zone = zone_from_minutes(minutes);
    if (zone < 0) fire(ErrorCategory::script, "invalid-arg", value);
    return uint32_t(zone);
}

}  // namespace

int64_t iso_week1_monday(int32_t year) {
    int32_t jan1 = days_of(year, 1, 1);
    int32_t w = weekday_of(jan1) - 1;  // 0 = Monday
    return int64_t(jan1) - w + (w >= 4 ? 7 : 0);
}

// ---- fields ----

int32_t field_index(const Cell* word) {
    static const struct {
        const int32_t* symbol;
        int32_t index;
    } names[] = {
        {&sym::date, DATE},         {&sym::year, YEAR},       {&sym::month, MONTH},     {&sym::day, DAY},
        {&sym::zone, ZONE},         {&sym::time, TIME},       {&sym::hour, HOUR},       {&sym::minute, MINUTE},
        {&sym::second, SECOND},     {&sym::weekday, WEEKDAY}, {&sym::yearday, YEARDAY}, {&sym::julian, YEARDAY},
        {&sym::timezone, TIMEZONE}, {&sym::week, WEEK},       {&sym::isoweek, ISOWEEK},
    };
    int32_t s = symbol::resolve(int32_t(word->w2));
    for (const auto& name : names)
        if (s == symbol::resolve(*name.symbol)) return name.index;
    return -1;
}

Cell* get_field(const Cell* value, int32_t index) {
    uint32_t d = packed(value);
    double r = local_time(d, get_time(value));
    switch (index) {
    case DATE: return push(pack(year_of(d), month_of(d), day_of(d), 0, false), 0.0);
    case YEAR: return integer::push(year_of(d));
    case MONTH: return integer::push(month_of(d));
    case DAY: return integer::push(day_of(d));
    case ZONE:
    case TIMEZONE: return time_q(d) ? time::push(zone_seconds(zone_of(d))) : none::push();
    case TIME: return time_q(d) ? time::push(r) : none::push();
    case HOUR: return integer::push(time::get_hours(r));
    case MINUTE: return integer::push(time::get_minutes(r));
    case SECOND: return float_::push(std::fmod(r, time::SECONDS_PER_MINUTE));
    case WEEKDAY: return integer::push(weekday_of(to_days(d)));
    case YEARDAY: return integer::push(year_day(d));
    case WEEK: return integer::push(week_of(d));
    default: return integer::push(iso_week_of(d));
    }
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t, bool,
                bool, bool, bool) {
    int32_t field = -1;
    if (type_of(element) == TYPE_INTEGER) field = integer::get_value(element);
    else if (type_of(element) == TYPE_WORD) field = field_index(element);
    if (field < 1 || field > FIELD_COUNT) fire(ErrorCategory::script, "invalid-path", path ? path : element, element);

    if (value == nullptr) return get_field(parent, field);

    uint32_t d = packed(parent);
    uint32_t zone = zone_of(d);
    bool time_flag = time_q(d);
    double t = get_time(parent);
    int32_t year = year_of(d), month = month_of(d), day = day_of(d);
    int64_t n = to_days(d);
    switch (field) {
    case DATE: {
        if (type_of(value) != TYPE_DATE) fire(ErrorCategory::script, "invalid-arg", value);
        uint32_t v = packed(value);
        n = to_days(v);
        time_flag = time_q(v);
        break;
    }
    case YEAR: n = days_of(integer_value(value), month, day); break;
    case MONTH: {
        int64_t a = integer_value(value);
        int64_t y = year + (a - 1) / 12 - (a <= 0 ? 1 : 0);
        auto m = int32_t(a % 12);
        if (m <= 0) m += 12;
        if (y < MIN_YEAR || y > MAX_YEAR) fire(ErrorCategory::math, "overflow");
        n = days_of(int32_t(y), m, day);
        break;
    }
    case DAY: n = days_of(year, month, 0) + int64_t(integer_value(value)); break;
    case ZONE: {
        // The wall clock stays; the instant moves.
        uint32_t new_zone = zone_of_value(value);
        t = local_time(d, t) - zone_seconds(new_zone);
        zone = new_zone;
        time_flag = true;
        break;
    }
    case TIMEZONE:
        // The instant stays; the wall clock (and maybe the date) moves.
        zone = zone_of_value(value);
        time_flag = true;
        n = normalize(n, &t, zone);
        break;
    case TIME:
        if (type_of(value) == TYPE_NONE) {
            time_flag = false;
            t = 0.0;
        } else if (type_of(value) == TYPE_TIME) {
            time_flag = true;
            t = time::get(value) - zone_seconds(zone);
            if (!std::isfinite(t)) fire(ErrorCategory::script, "invalid-arg", value);
            n = normalize(n, &t, zone);
        } else {
            fire(ErrorCategory::script, "invalid-arg", value);
        }
        break;
    case HOUR: case MINUTE: case SECOND:
        // The clock fields of the local time; the result is local time again.
        t = time::set_field(local_time(d, t), field - HOUR + 1, value) - zone_seconds(zone);
        if (!std::isfinite(t)) fire(ErrorCategory::script, "invalid-arg", value);
        time_flag = true;
        n = normalize(n, &t, zone);
        break;
    case WEEKDAY: n += int64_t(integer_value(value)) - weekday_of(n); break;
    case YEARDAY: n = days_of(year, 1, 1) + int64_t(integer_value(value)) - 1; break;
    case WEEK: {
        int64_t v = integer_value(value);
        int32_t jan1 = days_of(year, 1, 1);
        n = v <= 1 ? jan1 : jan1 + 7 * v - jan1_since_sunday(jan1) - 7;
        break;
    }
    default: n = iso_week1_monday(year) + 7 * (int64_t(integer_value(value)) - 1); break;
    }
    uint32_t result = from_days(n, zone, time_flag);
    Cell old = *parent;
    make_at(parent, result, t);
    time::notify_holder(gparent, p_item, &old, parent);
    return value;
}

const Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (boxed != nullptr && type_of(boxed) == TYPE_WORD) {
        index = field_index(boxed);
        if (index < 0) fire(ErrorCategory::script, "cannot-use", boxed, value);
    }
    if (index < 1 || index > FIELD_COUNT) {
        if (boxed != nullptr) fire(ErrorCategory::script, "out-of-range", boxed);
        Cell n;
        integer::make_at(cell::begin(&n), index);
        fire(ErrorCategory::script, "out-of-range", &n);
    }
    return get_field(value, index);
}

// ---- text ----

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t part, int32_t) {
    // 5-Mar-2021, 5-Mar-2021/9:07:00+05:30; a negative year: 15/Mar/-0044.
    uint32_t d = packed(value);
    int32_t year = year_of(d);
    char sep = year < 0 ? '/' : '-';
    int32_t month = (month_of(d) + 11) % 12 + 1;
    // The month's name from the locale, read before anything is written.
    Cell name;
    bool localized = settings::get(settings::Field::months, &name);
    if (localized) {
        if (type_of(&name) != TYPE_BLOCK || block::zs_length_q(&name) < month) fire(ErrorCategory::script, "invalid-months");
        name = block::zs_head(&name)[month - 1];
        if (type_of(&name) != TYPE_STRING) fire(ErrorCategory::script, "invalid-months");
    }
    Cell* held = stack::push(&name);  // rooted while the text grows
    char text[48];
    int n = std::snprintf(text, sizeof text, "%d%c", day_of(d), sep);
    string::concatenate_literal(buffer, text);
    part -= n;
    if (localized) {
        int32_t before = string::total_length(buffer);
        string::concatenate(buffer, held, 3, 0, true, string::CONCAT_APPEND);
        part -= string::total_length(buffer) - before;
    } else {
        n = std::snprintf(text, sizeof text, "%.3s", MONTH_NAMES[month - 1]);
        string::concatenate_literal(buffer, text);
        part -= n;
    }
    stack::pop(1);
    n = std::snprintf(text, sizeof text, "%c%s%04d", sep, year < 0 ? "-" : "", std::abs(year));
    string::concatenate_literal(buffer, text);
    part -= n;
    if (!time_q(d)) return part;
    string::concatenate_literal(buffer, "/");
    part = time::form_value(local_time(d, get_time(value)), buffer, part - 1);
    uint32_t zone = zone_of(d);
    if (zone == 0) return part;
    n = std::snprintf(text, sizeof text, "%c%02u:%02u", (zone & ZONE_WEST) ? '-' : '+', (zone >> 2) & 0xF,
                      (zone & 3) * 15);
    string::concatenate_literal(buffer, text);
    return part - n;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return mold(value, buffer, false, false, false, arg, part, 0);
}

}  // namespace zuv::date
