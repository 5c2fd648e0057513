#include "runtime/words.hpp"

#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/init.hpp"

namespace zuv::sym {
#define ZUV_DEFINE_SYMBOL(name, text) int32_t name = 0;
ZUV_WELL_KNOWN_SYMBOLS(ZUV_DEFINE_SYMBOL)
#undef ZUV_DEFINE_SYMBOL
}  // namespace zuv::sym

namespace zuv::words {
#define ZUV_DEFINE_WORD_ID(name) Cell name{};
#define ZUV_DEFINE_WORD_NAME(name, text) Cell name{};
ZUV_WELL_KNOWN_WORDS(ZUV_DEFINE_WORD_ID, ZUV_DEFINE_WORD_NAME)
#undef ZUV_DEFINE_WORD_ID
#undef ZUV_DEFINE_WORD_NAME
}  // namespace zuv::words

namespace zuv::refinements {
#define ZUV_DEFINE_REFINEMENT(name, text) Cell name{};
ZUV_WELL_KNOWN_REFINEMENTS(ZUV_DEFINE_REFINEMENT)
#undef ZUV_DEFINE_REFINEMENT
}  // namespace zuv::refinements

namespace zuv::well_known {

Cell ooo{};

namespace {

struct SymbolRow {
    int32_t* global;
    const char* spelling;
};
constexpr SymbolRow symbol_rows[] = {
#define ZUV_SYMBOL_ROW(name, text) {&sym::name, text},
    ZUV_WELL_KNOWN_SYMBOLS(ZUV_SYMBOL_ROW)
#undef ZUV_SYMBOL_ROW
};

// A word global is made for a symbol id (when symbol is given) or from its spelling.
struct WordRow {
    Cell* global;
    const int32_t* symbol;
    const char* spelling;
};
constexpr WordRow word_rows[] = {
#define ZUV_WORD_ROW_ID(name) {&words::name, &sym::name, nullptr},
#define ZUV_WORD_ROW_NAME(name, text) {&words::name, nullptr, text},
    ZUV_WELL_KNOWN_WORDS(ZUV_WORD_ROW_ID, ZUV_WORD_ROW_NAME)
#undef ZUV_WORD_ROW_ID
#undef ZUV_WORD_ROW_NAME
};

struct RefinementRow {
    Cell* global;
    const char* spelling;
};
constexpr RefinementRow refinement_rows[] = {
#define ZUV_REFINEMENT_ROW(name, text) {&refinements::name, text},
    ZUV_WELL_KNOWN_REFINEMENTS(ZUV_REFINEMENT_ROW)
#undef ZUV_REFINEMENT_ROW
};

}  // namespace

void init_words() {
    for (const SymbolRow& row : symbol_rows) *row.global = symbol::make(row.spelling);
    for (const WordRow& row : word_rows)
        *row.global = row.symbol ? word::make_global(*row.symbol) : word::from_c_string(row.spelling);
}

void init_refinements() {
    for (const RefinementRow& row : refinement_rows) *row.global = refinement::make_from_name(row.spelling);
}

void init_issue() {
    // An issue! is a word of the global context with no value slot (index -1).
    word::make_bound(&ooo, TYPE_ISSUE, _context::global, symbol::make("ooo"), -1);
    if (runtime::boot_flag) word::copy_to_root(&ooo);
}

}  // namespace zuv::well_known
