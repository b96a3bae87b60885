// How the program shows a file name that came from the disk, so that no
// name can forge a line of a report or steer a terminal.
#pragma once

#include <string>
#include <string_view>

namespace pellamar {

// `name` (a file name or a path) as every report shows it: unchanged when
// it holds no control character, no invalid UTF-8 and no character that
// reorders the text around it (the overrides U+202A to U+202E and the
// isolates U+2066 to U+2069), and does not start with a double quote;
// otherwise quoted, with C escapes (\n, \t, \r, \", \\, \xHH for a byte,
// \uHHHH for a character).
std::string ShownName(std::string_view name);

}  // namespace pellamar
