// zuv_lang: runs language case tables (tests/lang/*.cases).
//
// A case table is a text file of cases, one per line:
//
//   source  ==>  expected        the mold of the value of the last expression
//   source  !!>  category/id     the error the source raises (loading included)
//   source                       evaluated for its effect; must not raise
//
// The first " ==> " or " !!> " of a line separates the source from what is
// expected; both sides are trimmed. Lines starting with ";" and blank lines
// are skipped. The cases of a file run in order in one interpreter, as lines
// typed at a console would: words set by one case are seen by the next.
// The collector is enabled, so the tables exercise it; after every case a
// collection runs (it may evacuate node frames). Every error raised is also
// formed into its report.
//
// Usage: zuv_lang [-v] FILE...   (-v prints each case before running it)
// The exit status is 0 when every case passed.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "boot/program.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/none.hpp"

namespace {

using namespace zuv;

struct Case {
    int line;
    std::string source;
    enum Kind { VALUE, ERROR, EFFECT } kind;
    std::string expected;
};

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::vector<Case> read_cases(const char* path, bool* ok) {
    std::vector<Case> cases;
    std::ifstream in(path, std::ios::binary);
    *ok = bool(in);
    std::string text;
    for (int line = 1; std::getline(in, text); line++) {
        std::string t = trim(text);
        if (t.empty() || t[0] == ';') continue;
        size_t value = t.find(" ==> "), error = t.find(" !!> ");
        size_t at = std::min(value, error);
        if (at == std::string::npos) {
            cases.push_back({line, t, Case::EFFECT, ""});
            continue;
        }
        cases.push_back({line, trim(t.substr(0, at)), at == value ? Case::VALUE : Case::ERROR, trim(t.substr(at + 5))});
    }
    return cases;
}

// Runs one case; answers "" when it passed, else what it gave instead.
std::string run_case(const Case& c) {
    Cell* result = none::make_at(stack::push_raw());
    bool ok = program::try_do(reinterpret_cast<const uint8_t*>(c.source.data()), int32_t(c.source.size()), result);
    std::string got = ok ? program::mold_text(result) : "error " + program::error_name(result);
    // Every error is formed as its report would be, so that the collector
    // runs through the report's code for every error the tables raise.
    std::string report = ok ? "" : program::form_text(result);
    std::string failure;
    switch (c.kind) {
    case Case::VALUE:
        if (!ok || got != c.expected) failure = got;
        break;
    case Case::ERROR:
        if (ok || program::error_name(result) != c.expected) failure = ok ? "value " + got : got;
        break;
    case Case::EFFECT:
        if (!ok) failure = got;
        break;
    }
    if (!ok && !failure.empty()) failure += "\n    " + report;
    stack::pop(1);
    return failure;
}

int run_file(const char* path, bool verbose) {
    bool readable;
    std::vector<Case> cases = read_cases(path, &readable);
    if (!readable) {
        std::printf("%s: cannot be read\n", path);
        return 1;
    }
    int passed = 0, failed = 0;
    for (const Case& c : cases) {
        if (verbose) {
            std::printf("%s:%d: %s\n", path, c.line, c.source.c_str());
            std::fflush(stdout);
        }
        std::string failure = run_case(c);
        collector::collect();
        if (failure.empty()) {
            passed++;
            continue;
        }
        failed++;
        static const char* const marks[] = {"==>", "!!>", "(no error)"};
        std::printf("%s:%d: FAILED\n  source:   %s\n  expected: %s %s\n  got:      %s\n", path, c.line,
                    c.source.c_str(), marks[c.kind], c.expected.c_str(), failure.c_str());
        std::fflush(stdout);
    }
    std::printf("%s: %d passed, %d failed\n", path, passed, failed);
    std::fflush(stdout);
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    return program::start(argc, argv, [](int argc, char** argv) {
        bool verbose = false;
        int status = 0;
        for (int i = 1; i < argc; i++) {
            if (std::strcmp(argv[i], "-v") == 0)
                verbose = true;
            else
                status |= run_file(argv[i], verbose);
        }
        return status;
    });
}
