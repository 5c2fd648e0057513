// The math natives: shift, the trigonometric functions, the logarithms, exp
// and square-root. Each works in place: the result overwrites the first
// argument cell, which is the call's result slot. No domain checks are made:
// out-of-domain arguments give the NaN or infinity of the math library.
#include <cmath>

#include "evaluator/loop_support.hpp"
#include "evaluator/native_args.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"

namespace zuv::natives {

namespace {

constexpr double PI = 3.141592653589793;
constexpr double E = 2.718281828459045;
constexpr double LN_2 = 0.6931471805599453;
// Sines and cosines below the double machine epsilon are snapped to 0.0, so
// that sine 180 and cosine 90 are exactly zero.
constexpr double SNAP = 2.220446049250313e-16;

constexpr uint8_t INTEGER_TYPES[] = {TYPE_INTEGER};
constexpr uint8_t ANGLE_TYPES[] = {TYPE_FLOAT, TYPE_INTEGER};
constexpr uint8_t NUMBER_TYPES[] = {TYPE_FLOAT, TYPE_INTEGER, TYPE_PERCENT};

constexpr int32_t ABSENT = -1;

inline Cell* first() { return stack::arguments; }
inline double value_of(const Cell* c) { return float_::get(c); }

void snapped(Cell* c, double r) { float_::make_at(c, std::fabs(r) < SNAP ? 0.0 : r); }

// The one-argument float natives: the argument as a float!, replaced by fn of it.
template <class Fn>
void float_native(bool check, Fn fn) {
    if (check) check_argument(0, NUMBER_TYPES);
    Cell* c = arg_to_float();
    float_::make_at(c, fn(value_of(c)));
}

void arc_native(bool check, const int32_t* refinements, int32_t kind) {
    if (check) check_argument(0, ANGLE_TYPES);
    arc_trig(refinements[0], kind);
}

}  // namespace

// ---- shift ----

// Counts of 32 and more are branched out: a C++ shift by them is undefined.
void shift_star(bool check, const int32_t* refinements) {
    if (check) {
        check_argument(0, INTEGER_TYPES);
        check_argument(1, INTEGER_TYPES);
    }
    Cell* data = first();
    int32_t value = integer::get_value(data);
    int32_t bits = integer::get_value(data + 1);
    if (bits < 0) bits = 0;
    bool left = refinements[0] != ABSENT;
    bool logical = refinements[1] != ABSENT;
    int32_t r;
    if (left) r = bits < 32 ? int32_t(uint32_t(value) << bits) : 0;
    else if (logical) r = bits < 32 ? int32_t(uint32_t(value) >> bits) : 0;
    else r = bits < 32 ? value >> bits : (value < 0 ? -1 : 0);
    integer::make_at(data, r);
}

// ---- trigonometry ----

void sine_star(bool check, const int32_t* refinements) {
    if (check) check_argument(0, ANGLE_TYPES);
    Cell* c = trig_arg(refinements[0], TRIG_SINE);
    snapped(c, std::sin(value_of(c)));
}

void cosine_star(bool check, const int32_t* refinements) {
    if (check) check_argument(0, ANGLE_TYPES);
    Cell* c = trig_arg(refinements[0], TRIG_COSINE);
    snapped(c, std::cos(value_of(c)));
}

void tangent_star(bool check, const int32_t* refinements) {
    if (check) check_argument(0, ANGLE_TYPES);
    Cell* c = trig_arg(refinements[0], TRIG_TANGENT);
    double x = value_of(c);
    // The library's tangent of the double nearest pi/2 is large but finite.
    double r = x == PI / 2.0 ? HUGE_VAL : x == PI / -2.0 ? -HUGE_VAL : std::tan(x);
    float_::make_at(c, r);
}

void arcsine_star(bool check, const int32_t* refinements) { arc_native(check, refinements, ARC_SINE); }
void arccosine_star(bool check, const int32_t* refinements) { arc_native(check, refinements, ARC_COSINE); }
void arctangent_star(bool check, const int32_t* refinements) { arc_native(check, refinements, ARC_TANGENT); }

void arctangent2_star(bool check, const int32_t* refinements) {
    if (check) {
        check_argument(0, ANGLE_TYPES);
        check_argument(1, ANGLE_TYPES);
    }
    Cell* y = first();
    Cell* x = y + 1;
    float_::make_at(x, to_float(x));
    float_::make_at(y, to_float(y));
    double r = std::atan2(value_of(y), value_of(x));
    if (refinements[0] == ABSENT) r *= 180.0 / PI;
    float_::make_at(y, r);
}

// ---- logarithms, exp and square-root ----

void log_2_star(bool check, const int32_t*) {
    float_native(check, [](double x) { return std::log(x) / LN_2; });
}
void log_10_star(bool check, const int32_t*) {
    float_native(check, [](double x) { return std::log10(x); });
}
void log_e_star(bool check, const int32_t*) {
    float_native(check, [](double x) { return std::log(x); });
}
void exp_star(bool check, const int32_t*) {
    float_native(check, [](double x) { return std::pow(E, x); });
}
void square_root_star(bool check, const int32_t*) {
    float_native(check, [](double x) { return std::sqrt(x); });
}

}  // namespace zuv::natives
