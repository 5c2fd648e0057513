// The error catalog: every language error is named by a category and an id.
//
// The catalog is language data: it lives in `system/catalog/errors` once
// start-up has built `system`, and its source text is boot/catalog.zuv. The
// table below is the C++ copy of the same entries, in the same order, for
// the raisers written in C++ (`fire(ErrorCategory::script, "no-value", ...)`)
// and for the catalog object that the runtime builds for itself until
// `system` exists. A unit test checks that the two agree entry by entry.
//
// An error's code is 100 x the category's position + the id's position within
// its category (from 0). In the category objects the words `code` and `type`
// come first, so an id's word index is its position + 2.
//
// A message template is a string, a block of strings and field words (the
// get-words :arg1 :arg2 :arg3 name the error's arguments), or the word arg1
// (written 'arg1: a user error's message is its first argument). The table
// keeps each template as its source text, exactly as catalog.zuv writes it.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv {

// X(C++ name, spelling, code, title)
#define ZUV_ERROR_CATEGORIES(X)                                 \
    X(throw_, "throw", 0, "Throw Error")                        \
    X(note, "note", 100, "note")                                \
    X(syntax, "syntax", 200, "Syntax Error")                    \
    X(script, "script", 300, "Script Error")                    \
    X(math, "math", 400, "Math Error")                          \
    X(access, "access", 500, "Access Error")                    \
    X(reserved1, "reserved1", 600, "Reserved1 Error")           \
    X(reserved2, "reserved2", 700, "Reserved2 Error")           \
    X(user, "user", 800, "User Error")                          \
    X(internal, "internal", 900, "Internal Error")

enum class ErrorCategory : uint8_t {
#define ZUV_CATEGORY_ENUM(name, spelling, code, title) name,
    ZUV_ERROR_CATEGORIES(ZUV_CATEGORY_ENUM)
#undef ZUV_CATEGORY_ENUM
};

// X(category, id spelling, template source), in catalog order.
#define ZUV_ERROR_IDS(X)                                                                            \
    X(throw_, "break", R"t("no loop to break")t")                                                     \
    X(throw_, "return", R"t("return or exit not in function")t")                                      \
    X(throw_, "throw", R"t(["no catch for throw:" :arg1])t")                                          \
    X(throw_, "continue", R"t("no loop to continue")t")                                               \
    X(throw_, "while-cond", R"t("BREAK/CONTINUE cannot be used in WHILE condition block")t")          \
    X(note, "no-load", R"t(["cannot load:" :arg1])t")                                                 \
    X(syntax, "invalid", R"t([:arg1 "invalid" :arg2 "at" :arg3])t")                                   \
    X(syntax, "missing", R"t([:arg1 "missing" :arg2 "at" :arg3])t")                                   \
    X(syntax, "no-header", R"t(["script is missing a Zuv header:" :arg1])t")                          \
    X(syntax, "no-rs-header", R"t(["script is missing a Zuv/System header:" :arg1])t")                \
    X(syntax, "bad-header", R"t(["script header is not valid:" :arg1])t")                             \
    X(syntax, "malconstruct", R"t([:arg1 "invalid construction spec at" :arg2])t")                    \
    X(syntax, "bad-char", R"t([:arg1 "invalid character at" :arg2])t")                                \
    X(script, "no-value", R"t([:arg1 "has no value"])t")                                              \
    X(script, "need-value", R"t([:arg1 "needs a value"])t")                                           \
    X(script, "not-defined", R"t([:arg1 "word is not bound to a context"])t")                         \
    X(script, "not-in-context", R"t(["context for" :arg1 "is not available"])t")                      \
    X(script, "no-arg", R"t([:arg1 "is missing its" :arg2 "argument"])t")                             \
    X(script, "expect-arg", R"t([:arg1 "does not allow" :arg2 "for its" :arg3 "argument"])t")         \
    X(script, "expect-val", R"t(["expected" :arg1 "not" :arg2])t")                                    \
    X(script, "expect-type", R"t([:arg1 :arg2 "field must be of type" :arg3])t")                      \
    X(script, "cannot-use", R"t(["cannot use" :arg1 "on" :arg2 "value"])t")                           \
    X(script, "invalid-arg", R"t(["invalid argument:" :arg1])t")                                      \
    X(script, "invalid-type", R"t([:arg1 "type is not allowed here"])t")                              \
    X(script, "invalid-type-spec", R"t(["invalid type specifier:" :arg1])t")                          \
    X(script, "invalid-key-type", R"t(["invalid key type:" :arg1])t")                                 \
    X(script, "invalid-op", R"t(["invalid operator:" :arg1])t")                                       \
    X(script, "no-op-arg", R"t([:arg1 "operator is missing an argument"])t")                          \
    X(script, "bad-op-spec", R"t("making an op! requires a function with only 2 arguments")t")        \
    X(script, "invalid-data", R"t(["data not in correct format:" :arg1])t")                           \
    X(script, "invalid-part", R"t(["invalid /part count:" :arg1])t")                                  \
    X(script, "not-same-type", R"t("values must be of the same type")t")                              \
    X(script, "not-same-class", R"t(["cannot coerce" :arg1 "to" :arg2])t")                            \
    X(script, "not-related", R"t(["incompatible argument for" :arg1 "of" :arg2])t")                   \
    X(script, "bad-func-def", R"t(["invalid function definition:" :arg1])t")                          \
    X(script, "bad-func-arg", R"t(["function argument" :arg1 "is not valid"])t")                      \
    X(script, "bad-func-extern", R"t(["invalid /extern value" :arg1])t")                              \
    X(script, "no-refine", R"t([:arg1 "has no refinement called" :arg2])t")                           \
    X(script, "bad-refines", R"t("incompatible or invalid refinements")t")                            \
    X(script, "bad-refine", R"t(["incompatible refinement:" :arg1])t")                                \
    X(script, "dup-refine", R"t(["duplicate refinement usage in:" :arg1])t")                          \
    X(script, "word-first", R"t(["path must start with a word:" :arg1])t")                            \
    X(script, "empty-path", R"t("cannot evaluate an empty path value")t")                             \
    X(script, "unset-path", R"t([:arg2 "is unset in path" :arg1])t")                                  \
    X(script, "invalid-path", R"t(["cannot access" :arg2 "in path" :arg1])t")                         \
    X(script, "invalid-path-set", R"t(["unsupported type in" :arg1 "set-path"])t")                    \
    X(script, "invalid-path-get", R"t(["unsupported type in" :arg1 "get-path"])t")                    \
    X(script, "bad-path-type", R"t(["path" :arg1 "is not valid for" :arg2 "type"])t")                 \
    X(script, "bad-path-type2", R"t(["path element" :arg1 "does not apply to" :arg2 "type"])t")       \
    X(script, "bad-path-set", R"t(["cannot set" :arg2 "in path" :arg1])t")                            \
    X(script, "bad-field-set", R"t(["cannot set" :arg1 "field to" :arg2 "datatype"])t")               \
    X(script, "dup-vars", R"t(["duplicate variable specified:" :arg1])t")                             \
    X(script, "past-end", R"t("out of range or past end")t")                                          \
    X(script, "missing-arg", R"t("missing a required argument or refinement")t")                      \
    X(script, "out-of-range", R"t(["value out of range:" :arg1])t")                                   \
    X(script, "invalid-chars", R"t("contains invalid characters")t")                                  \
    X(script, "invalid-compare", R"t(["cannot compare" :arg1 "with" :arg2])t")                        \
    X(script, "wrong-type", R"t(["datatype assertion failed for:" :arg1])t")                          \
    X(script, "invalid-refine-arg", R"t(["invalid" :arg1 "argument:" :arg2])t")                       \
    X(script, "type-limit", R"t([:arg1 "overflow/underflow"])t")                                      \
    X(script, "size-limit", R"t(["maximum limit reached:" :arg1])t")                                  \
    X(script, "no-return", R"t("block did not return a value")t")                                     \
    X(script, "throw-usage", R"t("invalid use of a thrown error value")t")                            \
    X(script, "locked-word", R"t(["protected word - cannot modify:" :arg1])t")                        \
    X(script, "protected", R"t("protected value or series - cannot modify")t")                        \
    X(script, "bad-bad", R"t([:arg1 "error:" :arg2])t")                                               \
    X(script, "bad-make-arg", R"t(["cannot MAKE" :arg1 "from:" :arg2])t")                             \
    X(script, "bad-to-arg", R"t(["cannot MAKE/TO" :arg1 "from:" :arg2])t")                            \
    X(script, "invalid-months", R"t("invalid system/locale/month list")t")                            \
    X(script, "invalid-spec-field", R"t(["invalid" :arg1 "field in spec block"])t")                   \
    X(script, "missing-spec-field", R"t([:arg1 "not found in spec block"])t")                         \
    X(script, "move-bad", R"t(["cannot MOVE from" :arg1 "to" :arg2])t")                               \
    X(script, "too-long", R"t("Content too long")t")                                                  \
    X(script, "invalid-char", R"t(["invalid character in:" :arg1])t")                                 \
    X(script, "bad-loop-series", R"t(["Loop series changed to invalid value:" :arg1])t")              \
    X(script, "wrong-denom", R"t([:arg1 "not same denomination as" :arg2])t")                         \
    X(script, "bad-denom", R"t(["cannot use denomination:" :arg1])t")                                 \
    X(script, "invalid-obj-evt", R"t(["invalid object event handler:" :arg1])t")                      \
    X(script, "parse-rule", R"t(["PARSE - invalid rule or usage of rule:" :arg1])t")                  \
    X(script, "parse-end", R"t(["PARSE - unexpected end of rule after:" :arg1])t")                    \
    X(script, "parse-invalid-ref", R"t(["PARSE - get-word refers to a different series!" :arg1])t")   \
    X(script, "parse-block", R"t(["PARSE - input must be of any-block! type:" :arg1])t")              \
    X(script, "parse-unsupported", R"t("PARSE - matching by datatype not supported for any-string! input")t") \
    X(script, "parse-infinite", R"t(["PARSE - infinite recursion at rule:" :arg1])t")                 \
    X(script, "parse-stack", R"t("PARSE - stack limit reached")t")                                    \
    X(script, "parse-keep", R"t("PARSE - KEEP is used without a wrapping COLLECT")t")                 \
    X(script, "parse-into-bad", R"t("PARSE - COLLECT INTO/AFTER invalid series! argument")t")         \
    X(script, "parse-into-type", R"t("PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype")t") \
    X(script, "draw-invalid", R"t(["DRAW - invalid draw dialect input at:" :arg1])t")                 \
    X(script, "draw-infinite", R"t("DRAW - infinite recursion detected")t")                           \
    X(script, "invalid-data-facet", R"t(["VIEW - invalid DATA facet content:" :arg1])t")              \
    X(script, "face-type", R"t(["VIEW - invalid face type:" :arg1])t")                                \
    X(script, "not-window", R"t("VIEW - expected a window root face")t")                              \
    X(script, "bad-window", R"t("VIEW - a window face cannot be nested in another window")t")         \
    X(script, "not-linked", R"t("VIEW - face not linked to a window")t")                              \
    X(script, "not-event-type", R"t(["VIEW - not a valid event type:" :arg1])t")                      \
    X(script, "invalid-facet-type", R"t(["VIEW - invalid facet value:" :arg1])t")                     \
    X(script, "vid-invalid-syntax", R"t(["VID - invalid syntax at:" :arg1])t")                        \
    X(script, "rtd-invalid-syntax", R"t(["RTD - invalid syntax at:" :arg1])t")                        \
    X(script, "rtd-no-match", R"t(["RTD - opening/closing tag not matching for:" :arg1])t")           \
    X(script, "react-bad-func", R"t("REACT - /LINK option requires a function! as argument")t")       \
    X(script, "react-not-enough", R"t("REACT - reactive functions must accept at least 2 arguments")t") \
    X(script, "react-no-match", R"t("REACT - objects block length must match reaction function arg count")t") \
    X(script, "react-bad-obj", R"t("REACT - target can only contain object values")t")                \
    X(script, "react-gctx", R"t(["REACT - cannot be used in the global context:" :arg1])t")           \
    X(script, "lib-invalid-arg", R"t(["library function called with an invalid argument:" :arg1])t")  \
    X(script, "zb-invalid-record", R"t(["ZUVBIN - invalid record at index" :arg1])t")                 \
    X(math, "zero-divide", R"t("attempt to divide by zero")t")                                        \
    X(math, "overflow", R"t("math or number overflow")t")                                             \
    X(math, "positive", R"t("positive number required")t")                                            \
    X(access, "cannot-open", R"t(["cannot open:" :arg1])t")                                           \
    X(access, "cannot-close", R"t(["cannot close:" :arg1])t")                                         \
    X(access, "invalid-utf8", R"t(["invalid UTF-8 encoding:" :arg1])t")                               \
    X(access, "not-open", R"t(["port is not open:" :arg1])t")                                         \
    X(access, "no-connect", R"t(["cannot connect:" :arg1 "reason:" :arg2])t")                         \
    X(access, "no-scheme", R"t(["missing port scheme:" :arg1])t")                                     \
    X(access, "unknown-scheme", R"t(["scheme is unknown:" :arg1])t")                                  \
    X(access, "invalid-spec", R"t(["invalid spec or options:" :arg1])t")                              \
    X(access, "invalid-port", R"t("invalid port object (invalid field values)")t")                    \
    X(access, "invalid-actor", R"t("invalid port actor (must be handle or object)")t")                \
    X(access, "no-port-action", R"t("port action not supported")t")                                   \
    X(access, "no-create", R"t(["cannot create:" :arg1])t")                                           \
    X(access, "no-codec", R"t(["cannot decode or encode (no codec):" :arg1])t")                       \
    X(access, "bad-media", R"t("bad media data (corrupt image, sound, video)")t")                     \
    X(access, "invalid-cmd", R"t(["invalid port command:" :arg1])t")                                  \
    X(user, "message", R"t('arg1)t")                                                                   \
    X(internal, "bad-path", R"t(["bad path:" :arg1])t")                                               \
    X(internal, "not-here", R"t([:arg1 "not supported on your system"])t")                            \
    X(internal, "no-memory", R"t("not enough memory")t")                                              \
    X(internal, "wrong-mem", R"t("failed to release memory")t")                                       \
    X(internal, "stack-overflow", R"t("stack overflow")t")                                            \
    X(internal, "limit-hit", R"t(["internal limit reached:" :arg1])t")                                \
    X(internal, "too-deep", R"t("block or paren series is too deep to display")t")                    \
    X(internal, "no-cycle", R"t("circular reference not allowed")t")                                  \
    X(internal, "feature-na", R"t("feature not available")t")                                         \
    X(internal, "not-done", R"t("reserved for future use (or not yet implemented)")t")                \
    X(internal, "invalid-error", R"t(["invalid error object field value:" :arg1])t")                  \
    X(internal, "routines", R"t("routines require compilation, from OS shell: `zuv -r <script.zuv>`")t") \
    X(internal, "zuv-system", R"t("contains Zuv/System code which requires compilation")t")           \
    X(internal, "deprecated", R"t([:arg1 "is DEPRECATED, please use" :arg2 "instead"])t")

namespace error_catalog {

struct CategoryInfo {
    const char* name;   // the category's word
    int32_t code;       // 100 x its position
    const char* title;  // the report's title, its `type` field
    int32_t first;      // index of its first id in ids[]
    int32_t count;      // number of its ids
};

struct IdInfo {
    ErrorCategory category;
    const char* name;           // the id's word
    const char* template_text;  // the message template's source text
};

constexpr int32_t CATEGORY_COUNT = 0
#define ZUV_CATEGORY_COUNT(name, spelling, code, title) +1
    ZUV_ERROR_CATEGORIES(ZUV_CATEGORY_COUNT)
#undef ZUV_CATEGORY_COUNT
    ;
constexpr int32_t ID_COUNT = 0
#define ZUV_ID_COUNT(category, id, text) +1
    ZUV_ERROR_IDS(ZUV_ID_COUNT)
#undef ZUV_ID_COUNT
    ;
static_assert(CATEGORY_COUNT == 10 && ID_COUNT == 140, "ten categories, 140 ids");

inline constexpr IdInfo ids[ID_COUNT] = {
#define ZUV_ID_ROW(category, id, text) {ErrorCategory::category, id, text},
    ZUV_ERROR_IDS(ZUV_ID_ROW)
#undef ZUV_ID_ROW
};

extern const CategoryInfo categories[CATEGORY_COUNT];

inline const CategoryInfo& category(ErrorCategory c) { return categories[int32_t(c)]; }
// The id's position within its category (from 0), or -1 when the category has no such id.
int32_t id_position(ErrorCategory c, const char* id);
// The id at a position of its category (position must be valid).
inline const IdInfo& id_at(ErrorCategory c, int32_t position) { return ids[category(c).first + position]; }
// 100 x category position + id position.
inline int32_t code_of(ErrorCategory c, int32_t position) { return category(c).code + position; }

// ---- the catalog object ----
//
// The object of `system/catalog/errors`: one object per category, each with
// `code`, `type` and its ids holding their templates. The runtime builds it
// from the table at start-up (init) and keeps it in a root cell; start-up may
// put the one of `system` in its place (set_errors).

// Builds the catalog object (after the symbol table, the well-known words and the stacks).
void init();
// True once there is a catalog object.
bool ready_q();
// The catalog object (an object! cell in the root block), or the none cell before init.
const Cell* errors();
void set_errors(const Cell* catalog);

}  // namespace error_catalog
}  // namespace zuv
