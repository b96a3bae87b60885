// File-type lists for the file dialogs, written as one string:
// "description|pattern|description|pattern", a final "|" optional.
#pragma once

#include <string>
#include <vector>

namespace pellamar::ui {

// The list as the common dialogs take it: a final "|" appended when missing,
// then every "|" replaced by NUL, so each part is NUL-terminated and the
// list ends in two NULs (counting the string's own terminator). The length
// stays that of the text with its final "|".
std::string ConvertFilterString(std::string filter);

struct FileTypeFilter {
  std::string description;
  std::string pattern;  // may hold several, separated by ";"
};

// The entries of a filter string, in order. A description without a
// pattern gets an empty pattern.
std::vector<FileTypeFilter> SplitFilterString(const std::string& filter);

}  // namespace pellamar::ui
