// The final message as a window shows it: no line so long that the box
// would not fit the screen.
#pragma once

#include <cstddef>
#include <string>

namespace pellamar::ui {

// The most characters a line of a message box shows.
inline constexpr std::size_t kMessageLineChars = 80;

// `text` (UTF-8) with every line longer than kMessageLineChars characters
// shortened in the middle (its start and its end, both halves of a path or a
// name, with "..." between), but a line of words that the box wraps into two
// such lines at most. Shorter lines, the first "N Files Processed" among
// them, are kept as they are.
std::string FitMessageText(const std::string& text);

}  // namespace pellamar::ui
