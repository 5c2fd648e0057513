// Arithmetic, comparison and logic on plain values, computed where they
// stand instead of through a call.
//
// The operators of loops and recursions (`+ - * /`, `remainder`, the
// comparisons, `and or xor`) and their prefix natives and actions take two
// integers, two floats or one of each most of the time. For those operands
// compute() gives exactly what the entry gives: the same result type (an
// integer sum beyond 32 bits becomes a float, an inexact integer quotient a
// float), the same float comparison (equality within the datatype's
// tolerance, NaN ordered as the compare slot orders it), the same header
// bits kept on the left cell. Any other case (another type, percent! and
// time! included, a division by zero, the overflow of INT_MIN / -1) answers
// false with nothing done: the entry runs as usual and raises its error.
//
// The library's `modulo` (and `//`) is computed here too (library_calls.hpp).
//
// `pick` of a block or paren by an integer is read in place too: it can
// neither fail nor run code there (an index out of range gives none); so
// are `square-root` of an integer or a float, `absolute`, `max` and `min`
// of integers or floats, `not` of any value, the
// exact type tests (`integer?`, `error?` ...), the typeset tests
// (`series?`, `number?` ..., by the typeset their word holds at the time)
// and the series' navigation
// and length (`next`, `back`, `head`, `tail`, `head?`, `tail?`, `index?`,
// `length?`) of a value whose type takes them from series! (a port! or an
// image! has its own: the entry is called).
#pragma once

#include <cmath>
#include <cstdint>

#include "evaluator/library_calls.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/routines.hpp"
#include "runtime/cell.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"

namespace zuv::interpreter::in_place {

enum Kind : uint8_t {
    NONE, ADD, SUB, MUL, DIV, REM, AND, OR, XOR, EQ, NE, STRICT_EQ, LT, LE, GT, GE, PICK, SQRT, NOT, TYPE_TEST, EVEN, ODD,
    NEXT, BACK, HEAD, TAIL, HEAD_Q, TAIL_Q, INDEX_Q, LENGTH_Q, TYPESET_TEST, MIN, MAX, ABS, MODULO
};

// The series kinds, by their action.
inline bool series_kind_q(Kind k) { return k >= NEXT && k <= LENGTH_Q; }

// The kinds computed on one operand, the left (the right is not read, but
// for TYPE_TEST: a cell whose w1 is the datatype tested; for TYPESET_TEST,
// one whose w1 is the routine's index).
inline bool one_operand_q(Kind k) {
    return k == SQRT || k == NOT || k == TYPE_TEST || k == EVEN || k == ODD || series_kind_q(k) ||
           k == TYPESET_TEST || k == ABS;
}

// What a native or action computes in place, by its slot; NONE for any
// other callable.
inline Kind kind_of(const Cell& fn) {
    if (type_of(&fn) == TYPE_ACTION) {
        switch (Act(fn.w1)) {
            case Act::add: return ADD;
            case Act::subtract: return SUB;
            case Act::multiply: return MUL;
            case Act::divide: return DIV;
            case Act::remainder: return REM;
            case Act::and_t: return AND;
            case Act::or_t: return OR;
            case Act::xor_t: return XOR;
            case Act::pick: return PICK;
            case Act::even_q: return EVEN;
            case Act::odd_q: return ODD;
            case Act::next: return NEXT;
            case Act::back: return BACK;
            case Act::head: return HEAD;
            case Act::tail: return TAIL;
            case Act::head_q: return HEAD_Q;
            case Act::tail_q: return TAIL_Q;
            case Act::index_q: return INDEX_Q;
            case Act::length_q: return LENGTH_Q;
            case Act::absolute: return ABS;
            default: return NONE;
        }
    }
    if (type_of(&fn) == TYPE_NATIVE) {
        switch (fn.w1) {
            case natives::slot::equal_q_star: return EQ;
            case natives::slot::not_equal_q_star: return NE;
            case natives::slot::strict_equal_q_star: return STRICT_EQ;
            case natives::slot::lesser_q_star: return LT;
            case natives::slot::lesser_or_equal_q_star: return LE;
            case natives::slot::greater_q_star: return GT;
            case natives::slot::greater_or_equal_q_star: return GE;
            case natives::slot::square_root_star: return SQRT;
            case natives::slot::not_star: return NOT;
            case natives::slot::min_star: return MIN;
            case natives::slot::max_star: return MAX;
            default: return NONE;
        }
    }
    if (library_calls::modulo_q(fn)) return MODULO;
    return NONE;
}

// The call frames a kind's call takes beyond its own frame when it is not
// computed in place (a library function's body): 0 for a native or action.
inline int32_t body_frames(Kind k) { return k == MODULO ? library_calls::MODULO_FRAMES : 0; }

// A value an operation in place may take: an integer or a float (the
// logic operations take two logic values instead).
inline bool number_q(uint32_t type) { return type == TYPE_INTEGER || type == TYPE_FLOAT; }

namespace detail {

inline double as_double(const Cell* c) { return type_of(c) == TYPE_FLOAT ? cell::get_float(c) : double(int32_t(c->w2)); }

// The comparison codes of the compare slot, by kind.
inline int32_t comparison_of(Kind k) {
    switch (k) {
        case EQ: return COMP_EQUAL;
        case NE: return COMP_NOT_EQUAL;
        case STRICT_EQ: return COMP_STRICT_EQUAL;
        case LT: return COMP_LESSER;
        case LE: return COMP_LESSER_EQUAL;
        case GT: return COMP_GREATER;
        default: return COMP_GREATER_EQUAL;
    }
}

// compare_star's reading of the compare slot's answer.
inline bool truth_of(Kind k, int32_t r) {
    switch (k) {
        case EQ: case STRICT_EQ: return r == 0;
        case NE: return r != 0;
        case LT: return r < 0;
        case LE: return r <= 0;
        case GT: return r > 0;
        default: return r >= 0;
    }
}

// The action of a series kind.
inline Act action_of(Kind k) {
    switch (k) {
        case NEXT: return Act::next;
        case BACK: return Act::back;
        case HEAD: return Act::head;
        case TAIL: return Act::tail;
        case HEAD_Q: return Act::head_q;
        case TAIL_Q: return Act::tail_q;
        case INDEX_Q: return Act::index_q;
        default: return Act::length_q;
    }
}

// A series kind on the value in place, as the series! slot its type takes
// computes it (nothing there can fail or run code); false for a type with
// a slot of its own.
[[gnu::noinline]] inline bool compute_series(Kind k, Cell* v) {
    uint32_t t = type_of(v);
    int32_t slot = int32_t(action_of(k)) - 1;
    if (t >= TYPE_TOTAL || t == TYPE_SERIES || !datatype::action_table[t][slot] ||
        datatype::action_table[t][slot] != datatype::action_table[TYPE_SERIES][slot])
        return false;
    switch (k) {
        case NEXT: series::next(v); break;
        case BACK: series::back(v); break;
        case HEAD: series::head(v); break;
        case TAIL: series::tail(v); break;
        case HEAD_Q: series::head_q(v); break;
        case TAIL_Q: series::tail_q(v); break;
        case INDEX_Q: series::index_q(v); break;
        default: {
            int32_t n = series::length_q(v);
            if (n == -1) none::make_at(v);
            else integer::make_at(cell::begin(v), n);
            break;
        }
    }
    return true;
}

}  // namespace detail

[[gnu::always_inline]] inline bool compute(Kind k, Cell* left, const Cell* right) {
    if (series_kind_q(k)) return detail::compute_series(k, left);
    if (k == MODULO) return library_calls::modulo(left, right);
    if (k == NOT) {
        logic::make_at(left, logic::false_q(left));
        return true;
    }
    if (k == TYPE_TEST) {
        logic::make_at(left, type_of(left) == right->w1);
        return true;
    }
    if (k == TYPESET_TEST) {
        routines::TypesetTest test = routines::typeset_test_of(int32_t(right->w1));
        int32_t has = test ? test(type_of(left)) : -1;
        if (has < 0) return false;
        logic::make_at(left, has != 0);
        return true;
    }
    if (k == EVEN || k == ODD) {
        // An integer's lowest bit, as the integer slot reads it; other types
        // (characters, floats) are left to the entry.
        if (type_of(left) != TYPE_INTEGER) return false;
        logic::make_at(left, ((left->w2 & 1) == 0) == (k == EVEN));
        return true;
    }
    if (k == ABS) {
        // The integer slot's overflow (of INT_MIN) is left to the entry.
        uint32_t t = type_of(left);
        if (t == TYPE_INTEGER && int32_t(left->w2) != INT32_MIN) {
            int32_t v = int32_t(left->w2);
            left->w2 = uint32_t(v < 0 ? -v : v);
            return true;
        }
        if (t != TYPE_FLOAT) return false;
        cell::put_float(left, std::fabs(cell::get_float(left)));
        return true;
    }
    if (k == SQRT) {
        // The float natives' argument made a float (a percent! is left to the entry).
        uint32_t t = type_of(left);
        if (t != TYPE_FLOAT && t != TYPE_INTEGER) return false;
        float_::make_at(left, std::sqrt(detail::as_double(left)));
        return true;
    }
    uint32_t tl = type_of(left), tr = type_of(right);
    if (k == PICK) {
        // The element (a copy of its cell), as the series slot gives it: the
        // 1-based index from the head (back from it when negative), none
        // outside the block.
        if ((tl != TYPE_BLOCK && tl != TYPE_PAREN) || tr != TYPE_INTEGER) return false;
        int32_t index = int32_t(right->w2);
        const SeriesBuffer* b = memory::buffer_of(left->w2);
        int64_t p = index == 0 ? -1 : int64_t(int32_t(left->w1)) + index + (index > 0 ? -1 : 0);
        if (p < 0 || p >= memory::length_of(b)) none::make_at(left);
        else copy_cell(memory::cells_head(b) + p, left);
        return true;
    }
    if (tl == TYPE_INTEGER && tr == TYPE_INTEGER) {
        int32_t a = int32_t(left->w2), b = int32_t(right->w2), r;
        switch (k) {
            case ADD: if (__builtin_add_overflow(a, b, &r)) goto as_floats; break;
            case SUB: if (__builtin_sub_overflow(a, b, &r)) goto as_floats; break;
            case MUL: if (__builtin_mul_overflow(a, b, &r)) goto as_floats; break;
            case DIV:
                if (b == 0 || (a == INT32_MIN && b == -1)) return false;  // the entry raises
                if (a % b != 0) goto as_floats;
                r = a / b;
                break;
            case REM:
                if (b == 0 || (a == INT32_MIN && b == -1)) return false;
                r = a % b;
                break;
            case AND: r = a & b; break;
            case OR: r = a | b; break;
            case XOR: r = a ^ b; break;
            case EQ: case STRICT_EQ: logic::make_at(left, a == b); return true;
            case NE: logic::make_at(left, a != b); return true;
            case LT: logic::make_at(left, a < b); return true;
            case LE: logic::make_at(left, a <= b); return true;
            case GT: logic::make_at(left, a > b); return true;
            case GE: logic::make_at(left, a >= b); return true;
            // max and min: the second value replaces the first where it
            // wins; on equal values max keeps the first, min takes the second.
            case MIN: case MAX:
                if ((a < b) == (k == MAX)) *left = *right;
                return true;
            default: return false;
        }
        left->w2 = uint32_t(r);
        return true;
    }
    if (tl == TYPE_FLOAT && tr == TYPE_FLOAT) {
        // The float loops' own case, before the other types are looked at.
        double a = cell::get_float(left), b = cell::get_float(right);
        switch (k) {
            case ADD: float_::make_at(left, a + b); return true;
            case SUB: float_::make_at(left, a - b); return true;
            case MUL: float_::make_at(left, a * b); return true;
            case DIV: float_::make_at(left, a / b); return true;
            case LT: logic::make_at(left, a < b); return true;
            case LE: logic::make_at(left, a <= b); return true;
            case GT: logic::make_at(left, a > b); return true;
            case GE: logic::make_at(left, a >= b); return true;
            case MIN: case MAX:  // as for integers, and a NaN wins
                if (!std::isnan(a) && (std::isnan(b) || (a < b) == (k == MAX))) *left = *right;
                return true;
            default: goto as_floats;
        }
    }
    if (tl == TYPE_LOGIC && tr == TYPE_LOGIC) {
        switch (k) {
            case AND: left->w1 &= right->w1; return true;
            case OR: left->w1 |= right->w1; return true;
            case XOR: left->w1 ^= right->w1; return true;
            default: return false;
        }
    }
as_floats:
    if (!number_q(tl) || !number_q(tr)) return false;
    switch (k) {
        // The entry's arithmetic on doubles (IEEE results for a zero divisor).
        case ADD: float_::make_at(left, detail::as_double(left) + detail::as_double(right)); return true;
        case SUB: float_::make_at(left, detail::as_double(left) - detail::as_double(right)); return true;
        case MUL: float_::make_at(left, detail::as_double(left) * detail::as_double(right)); return true;
        case DIV: float_::make_at(left, detail::as_double(left) / detail::as_double(right)); return true;
        case REM:
            float_::make_at(left, float_::compute(detail::as_double(left), detail::as_double(right), OP_REM));
            return true;
        // Orderings: the entry's comparison comes out as the machine's, a NaN
        // on either side making each of them false.
        case LT: logic::make_at(left, detail::as_double(left) < detail::as_double(right)); return true;
        case LE: logic::make_at(left, detail::as_double(left) <= detail::as_double(right)); return true;
        case GT: logic::make_at(left, detail::as_double(left) > detail::as_double(right)); return true;
        case GE: logic::make_at(left, detail::as_double(left) >= detail::as_double(right)); return true;
        case EQ: case NE: case STRICT_EQ: {
            // The compare slot of the left operand's type, as compare_star runs it.
            int32_t op = detail::comparison_of(k);
            if (op == COMP_STRICT_EQUAL && tl != tr) {
                logic::make_at(left, false);
                return true;
            }
            logic::make_at(left, detail::truth_of(k, float_::compare_double(detail::as_double(left), right, op)));
            return true;
        }
        default: return false;
    }
}

// compute() for one kind, made once per kind: what compiled code keeps for
// an operation, so that its run does not choose the kind again.
using Computer = bool (*)(Cell* left, const Cell* right);

template <Kind K>
bool compute_kind(Cell* left, const Cell* right) {
    return compute(K, left, right);
}

inline Computer computer_of(Kind k) {
    static constexpr Computer BY_KIND[] = {
        nullptr,                  compute_kind<ADD>, compute_kind<SUB>, compute_kind<MUL>, compute_kind<DIV>,
        compute_kind<REM>,        compute_kind<AND>, compute_kind<OR>,  compute_kind<XOR>, compute_kind<EQ>,
        compute_kind<NE>,         compute_kind<STRICT_EQ>, compute_kind<LT>, compute_kind<LE>, compute_kind<GT>,
        compute_kind<GE>,         compute_kind<PICK>, compute_kind<SQRT>, compute_kind<NOT>,
        compute_kind<TYPE_TEST>,  compute_kind<EVEN>, compute_kind<ODD>, compute_kind<NEXT>, compute_kind<BACK>,
        compute_kind<HEAD>,       compute_kind<TAIL>, compute_kind<HEAD_Q>, compute_kind<TAIL_Q>,
        compute_kind<INDEX_Q>,    compute_kind<LENGTH_Q>, compute_kind<TYPESET_TEST>, compute_kind<MIN>,
        compute_kind<MAX>,        compute_kind<ABS>,  compute_kind<MODULO>,
    };
    static_assert(sizeof(BY_KIND) / sizeof(BY_KIND[0]) == MODULO + 1, "one computer per kind");
    return BY_KIND[k];
}

// The math error the entry raises for two integer operands that compute()
// refused (a division by zero, the overflow of INT_MIN / -1), or null when it
// raises none of its own there: so compiled code can raise it without the
// entry and its C++ throw.
inline const char* error_of(Kind k, const Cell* left, const Cell* right) {
    if ((k != DIV && k != REM) || type_of(left) != TYPE_INTEGER || type_of(right) != TYPE_INTEGER) return nullptr;
    if (right->w2 == 0) return "zero-divide";
    if (int32_t(left->w2) == INT32_MIN && int32_t(right->w2) == -1) return "overflow";
    return nullptr;
}

}  // namespace zuv::interpreter::in_place
