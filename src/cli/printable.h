// Names and messages as the command line prints them.
#pragma once

#include <string>
#include <string_view>

namespace tz::cli {

// `text` as it can be printed on one line without ambiguity: control characters, the backslash
// and bytes that are not UTF-8 become escapes (\n, \t, \r, \\, \xff), so that a name cannot
// break a "FILE: message" line apart or garble the terminal.
std::string printable(std::string_view text);

}  // namespace tz::cli
