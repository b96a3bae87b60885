#include "core/shown_name.h"

#include "core/text.h"

namespace pellamar {
namespace {

// The length of the valid UTF-8 sequence that starts `text` (not empty), and
// the character it encodes; 0 when it is not valid.
std::size_t DecodeUtf8(std::string_view text, char32_t* character) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  if (lead < 0x80) {
    length = 1;
  } else if (lead >= 0xC2 && lead < 0xE0) {
    length = 2;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    length = 3;
  } else if (lead >= 0xF0 && lead < 0xF5) {
    length = 4;
  }
  if (length == 0 || length > text.size()) return 0;
  char32_t value = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *character = value;
  return length;
}

// Control characters, and the characters that reorder the text around them.
bool IsHostile(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

bool NeedsQuotes(std::string_view name) {
  if (!name.empty() && name.front() == '"') return true;
  while (!name.empty()) {
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(name, &c);
    if (length == 0 || IsHostile(c)) return true;
    name.remove_prefix(length);
  }
  return false;
}

// `name` in double quotes, with every quote, backslash, hostile character
// and byte of invalid UTF-8 escaped.
std::string Quoted(std::string_view name) {
  std::string out = "\"";
  while (!name.empty()) {
    char32_t c = 0;
    std::size_t length = DecodeUtf8(name, &c);
    if (length == 0) {
      out += "\\x" + Hex(static_cast<unsigned char>(name[0]), 2);
      length = 1;
    } else if (c == '\n' || c == '\t' || c == '\r') {
      out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r";
    } else if (IsHostile(c)) {
      out += c < 0x80 ? "\\x" + Hex(c, 2) : "\\u" + Hex(c, 4);
    } else {
      if (c == '"' || c == '\\') out += '\\';
      out.append(name.substr(0, length));
    }
    name.remove_prefix(length);
  }
  return out + '"';
}

}  // namespace

std::string ShownName(std::string_view name) {
  return NeedsQuotes(name) ? Quoted(name) : std::string(name);
}

}  // namespace pellamar
