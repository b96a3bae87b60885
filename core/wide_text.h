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

// The UTF-16 path that names the file at the UTF-8 `path` ("/" or "\\"
// between folders) for the W entry points. A path whose full form reaches
// MAX_PATH becomes that full form behind "\\?\" (or "\\?\UNC\"), which
// has no such limit. Empty for invalid UTF-8.
std::wstring ExtendedPath(std::string_view path);

}  // namespace pellamar
