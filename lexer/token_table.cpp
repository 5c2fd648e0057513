// The scanner and loader of every token class, in class order.
#include "lexer/token_text.hpp"

namespace zuv::lexer {

namespace {

struct TokenPair {
    int32_t token_class;
    TokenFn scanner;
    TokenFn loader;
};

constexpr TokenPair token_pairs[TOKEN_CLASSES] = {
    {TK_END, scan_end, nullptr},
    {TK_ERROR, scan_invalid, nullptr},
    {TK_BLOCK_OPEN, scan_block_open, nullptr},
    {TK_BLOCK_CLOSE, scan_block_close, nullptr},
    {TK_PAREN_OPEN, scan_paren_open, nullptr},
    {TK_PAREN_CLOSE, scan_paren_close, nullptr},
    {TK_BRACE_OPEN, scan_brace_open, nullptr},
    {TK_BRACE_CLOSE, scan_brace_close, nullptr},
    {TK_MAP_OPEN, scan_map_open, nullptr},
    {TK_PATH, scan_path, nullptr},
    {TK_CONSTRUCT, scan_construct, nullptr},
    {TK_COMMENT, scan_comment, nullptr},
    {TK_COMMA, scan_comma, nullptr},
    {TK_STRING, scan_string, load_string},
    {TK_WORD, scan_word, load_word},
    {TK_ISSUE, scan_issue, load_issue},
    {TK_INTEGER, nullptr, load_integer},
    {TK_REFINEMENT, nullptr, load_refinement},
    {TK_CHAR, nullptr, load_char},
    {TK_FILE, nullptr, load_file},
    {TK_BINARY, nullptr, load_binary},
    {TK_PERCENT, nullptr, load_percent},
    {TK_FLOAT, nullptr, load_float},
    {TK_FLOAT_SPECIAL, nullptr, load_float_special},
    {TK_TUPLE, nullptr, load_tuple},
    {TK_DATE, nullptr, load_date},
    {TK_PAIR, nullptr, load_pair},
    {TK_POINT, nullptr, load_point},
    {TK_TIME, nullptr, load_time},
    {TK_MONEY, nullptr, load_money},
    {TK_TAG, nullptr, load_tag},
    {TK_URL, nullptr, load_url},
    {TK_EMAIL, nullptr, load_email},
    {TK_HEX, nullptr, load_hex},
    {TK_RAW_STRING, nullptr, load_raw_string},
    {TK_REF, nullptr, load_ref},
};

consteval bool in_class_order() {
    for (int32_t i = 0; i < TOKEN_CLASSES; i++)
        if (token_pairs[i].token_class != i + 1) return false;
    return true;
}
static_assert(in_class_order(), "one (scanner, loader) pair per token class, in class order");

}  // namespace

void register_tables() {
    scanners[0] = loaders[0] = nullptr;
    for (const TokenPair& p : token_pairs) {
        scanners[p.token_class] = p.scanner;
        loaders[p.token_class] = p.loader;
    }
}

}  // namespace zuv::lexer
