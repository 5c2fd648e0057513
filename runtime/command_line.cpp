#include "runtime/command_line.hpp"

#include <cstdint>

namespace zuv::command_line {

namespace {

bool blank_q(char c) { return c == ' ' || c == '\t'; }

// The argument between start and end, one quote dropped from each end.
std::string argument(std::string_view text, size_t start, size_t end) {
    if (start < end && text[start] == '"') start++;
    if (end > start && text[end - 1] == '"') end--;
    return std::string(text.substr(start, end - start));
}

// An argument comes back whole written bare when it has no quote at either
// end, each of its blanks follows an odd count of its quotes and, unless it
// is the last, its quotes pair up (so the blank after it splits again).
bool bare_q(const std::string& a, bool last) {
    if (a.empty() || a.front() == '"' || a.back() == '"') return false;
    int32_t quotes = 0;
    for (char c : a) {
        if (c == '"') quotes++;
        else if (blank_q(c) && quotes % 2 == 0) return false;
    }
    return last || quotes % 2 == 0;
}

}  // namespace

std::vector<std::string> split(std::string_view text, size_t* rest) {
    std::vector<std::string> arguments;
    if (rest) *rest = text.size();
    bool quoted = false;
    size_t start = 0, p = 0;
    while (p < text.size()) {
        if (text[p] == '"') {
            quoted = !quoted;
            p++;
        } else if (!quoted && blank_q(text[p])) {
            if (start < p) arguments.push_back(argument(text, start, p));
            while (p < text.size() && blank_q(text[p])) p++;
            if (rest && arguments.size() == 1 && *rest == text.size()) *rest = p;
            start = p;
        } else {
            p++;
        }
    }
    if (start < p) arguments.push_back(argument(text, start, p));
    return arguments;
}

std::string join(const std::vector<std::string>& arguments) {
    std::string text;
    for (size_t i = 0; i < arguments.size(); i++) {
        const std::string& a = arguments[i];
        if (i > 0) text += ' ';
        text += bare_q(a, i + 1 == arguments.size()) ? a : '"' + a + '"';
    }
    return text;
}

}  // namespace zuv::command_line
