// On Windows, text crosses into the system as UTF-16; the program's own
// strings, paths included, are UTF-8. Windows builds only.
#pragma once

#include <string>
#include <string_view>

namespace pellamar {

// Empty for empty or invalid UTF-8. Embedded NULs are kept.
std::wstring Widen(std::string_view text);

// Unpaired surrogates become U+FFFD. Embedded NULs are kept.
std::string Narrow(std::wstring_view text);

}  // namespace pellamar
