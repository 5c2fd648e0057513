#include "evaluator/library_calls.hpp"

#include <climits>

#include "evaluator/in_place.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/symbol.hpp"

namespace zuv::interpreter::library_calls {

namespace {

Cell library_modulo{};  // the library's `modulo` (its more block names it)

// The sign negative? and positive? read (a float zero or NaN is 0).
int32_t sign_of(const Cell& v) {
    if (type_of(&v) == TYPE_INTEGER) {
        int32_t i = int32_t(v.w2);
        return i > 0 ? 1 : i < 0 ? -1 : 0;
    }
    double d = cell::get_float(&v);
    return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
}

// One step of the body in place: left op right into a copy of left.
bool step(in_place::Kind k, const Cell& left, const Cell& right, Cell* out) {
    *out = left;
    return in_place::compute(k, out, &right);
}

}  // namespace

void note_library() {
    collector::add_root(&library_modulo);
    Cell* v = _context::find_value_cell(symbol::make("modulo"), _context::global);
    if (v && type_of(v) == TYPE_FUNCTION) library_modulo = *v;
}

bool modulo_q(const Cell& fn) {
    return type_of(&fn) == TYPE_FUNCTION && library_modulo.w3 != 0 && fn.w3 == library_modulo.w3;
}

bool modulo(Cell* left, const Cell* right) {
    uint32_t ta = type_of(left), tb = type_of(right);
    if (!in_place::number_q(ta) || !in_place::number_q(tb)) return false;
    if (ta == TYPE_INTEGER && tb == TYPE_INTEGER) {
        // Where no sum or difference of the body leaves 32 bits, its steps
        // come to the nonnegative remainder (the mod's correction and the
        // negligible-value test only apply where a sum is inexact).
        int64_t a = int32_t(left->w2), b = int32_t(right->w2);
        if (b != 0 && a != INT32_MIN && b != INT32_MIN) {
            int64_t m = b < 0 ? -b : b, r = a % m;
            if (r < 0) r += m;
            if ((a < 0 ? -a : a) + m <= INT32_MAX && r + b <= INT32_MAX && r + b >= INT32_MIN &&
                a - r >= INT32_MIN) {
                left->w2 = uint32_t(int32_t(r));
                return true;
            }
        }
    }
    // The body's steps on cells, each as the entry computes it.
    const Cell a = *left, b = *right;
    Cell m, r, t, u;
    // mod a absolute b
    m = b;
    if (!in_place::compute(in_place::ABS, &m, &m)) return false;
    if (!step(in_place::REM, a, m, &r)) return false;
    if (sign_of(r) < 0 && !step(in_place::ADD, r, m, &r)) return false;
    Cell size = a;
    if (!in_place::compute(in_place::ABS, &size, &size)) return false;
    // either all [a + r == (a + b) positive? r + r - b] [r - b] [r]
    if (!step(in_place::ADD, size, r, &t) || !step(in_place::ADD, size, m, &u) ||
        !in_place::compute(in_place::STRICT_EQ, &t, &u))
        return false;
    if (!logic::false_q(&t)) {
        if (!step(in_place::ADD, r, r, &u) || !step(in_place::SUB, u, m, &u)) return false;
        if (sign_of(u) > 0 && !step(in_place::SUB, r, m, &r)) return false;
    }
    // either any [a - r = a r + b = b] [0] [r]
    if (!step(in_place::SUB, a, r, &t) || !in_place::compute(in_place::EQ, &t, &a)) return false;
    bool negligible = !logic::false_q(&t);
    if (!negligible) {
        if (!step(in_place::ADD, r, b, &t) || !in_place::compute(in_place::EQ, &t, &b)) return false;
        negligible = !logic::false_q(&t);
    }
    if (negligible) integer::make_at(left, 0);
    else *left = r;
    return true;
}

}  // namespace zuv::interpreter::library_calls
