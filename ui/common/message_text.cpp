#include "ui/common/message_text.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace pellamar::ui {
namespace {

constexpr char kCut[] = "...";
constexpr std::size_t kKeptEachSide = (kMessageLineChars - sizeof(kCut) + 1) / 2;

// Where each character of `line` starts; a byte that is not UTF-8 counts as
// a character of its own.
std::vector<std::size_t> CharacterStarts(std::string_view line) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    const bool continuation =
        (byte & 0xC0) == 0x80 && !starts.empty() && i > starts.back() && i - starts.back() < 4;
    if (!continuation) starts.push_back(i);
  }
  return starts;
}

// `line` cut in the middle to kMessageLineChars characters, when longer.
std::string CutLine(std::string_view line) {
  const std::vector<std::size_t> starts = CharacterStarts(line);
  if (starts.size() <= kMessageLineChars) return std::string(line);
  const std::size_t head_end = starts[kKeptEachSide];
  const std::size_t tail_start = starts[starts.size() - kKeptEachSide];
  return std::string(line.substr(0, head_end)) + kCut + std::string(line.substr(tail_start));
}

std::size_t Characters(std::string_view text) { return CharacterStarts(text).size(); }

// Whether `line` is words that the box wraps itself into two lines at most:
// no longer than two lines, and no word longer than one.
bool WrapsInTwo(std::string_view line) {
  if (Characters(line) > 2 * kMessageLineChars) return false;
  for (std::size_t start = 0; start < line.size();) {
    const std::size_t end = std::min(line.find(' ', start), line.size());
    if (Characters(line.substr(start, end - start)) > kMessageLineChars) return false;
    start = end + 1;
  }
  return true;
}

std::string FitLine(std::string_view line) {
  return WrapsInTwo(line) ? std::string(line) : CutLine(line);
}

}  // namespace

std::string FitMessageText(const std::string& text) {
  std::string fitted;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find('\n', start);
    fitted += FitLine(std::string_view(text).substr(start, end - start));
    if (end == std::string::npos) return fitted;
    fitted += '\n';
    start = end + 1;
  }
}

}  // namespace pellamar::ui
