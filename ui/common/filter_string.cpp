#include "ui/common/filter_string.h"

#include <algorithm>

namespace pellamar::ui {

std::string ConvertFilterString(std::string filter) {
  if (filter.empty() || filter.back() != '|') filter += '|';
  std::replace(filter.begin(), filter.end(), '|', '\0');
  return filter;
}

std::vector<FileTypeFilter> SplitFilterString(const std::string& filter) {
  const std::string converted = ConvertFilterString(filter);
  std::vector<std::string> parts;
  for (std::size_t start = 0; start < converted.size();) {
    const std::size_t end = converted.find('\0', start);
    parts.push_back(converted.substr(start, end - start));
    start = end + 1;
  }
  std::vector<FileTypeFilter> entries;
  for (std::size_t i = 0; i < parts.size(); i += 2) {
    if (parts.size() == 1 && parts[0].empty()) break;  // "" and "|": no entries
    entries.push_back({parts[i], i + 1 < parts.size() ? parts[i + 1] : std::string()});
  }
  return entries;
}

}  // namespace pellamar::ui
