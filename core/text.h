// Small rules about text that the rest of the program shares: ASCII case,
// hexadecimal and grouped decimal digits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pellamar {

// `text` with the ASCII capitals A to Z made small; every other byte kept.
std::string AsciiLower(std::string text);

// Whether `a` and `b` are equal once both are AsciiLower'd.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// The `digits` last hexadecimal digits of `value`, in capitals
// (Hex(27, 2) is "1B").
std::string Hex(std::uint64_t value, int digits);

// `value` in decimal digits grouped by threes with commas: "131,072".
std::string GroupedDigits(std::uint64_t value);

}  // namespace pellamar
