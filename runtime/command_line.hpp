// The one rule that splits a command text into arguments, and its inverse.
//
// An argument ends at a run of blanks (space or tab) outside double quotes;
// a quote toggles whether blanks split and stays in the argument, except
// that one quote is dropped from each end of it. There is no escape. So
// `a "b c" d` gives a, b c and d; `x""y` gives x""y; `""` and a lone `"`
// give the empty argument.
//
// The start-up's command line (extract-boot-args) and the command of `call`
// are both split here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zuv::command_line {

// The arguments of text. rest (when given) receives the offset where the
// text after the first argument and the blanks that follow it begins (the
// text's length when there is no second argument).
std::vector<std::string> split(std::string_view text, size_t* rest = nullptr);

// The arguments as one text that split gives back: an argument is written
// bare when split keeps it whole, else inside a pair of quotes. Quotes
// inside an argument that both pair up badly and surround its blanks have no
// spelling split gives back.
std::string join(const std::vector<std::string>& arguments);

}  // namespace zuv::command_line
