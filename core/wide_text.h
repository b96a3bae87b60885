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

// The UTF-8 `path` ("/" or "\\" between folders) made absolute, in the
// UTF-16 form that no MAX_PATH limits: "\\?\C:\..." for a drive,
// "\\?\UNC\server\share\..." for a share. A path already in that form is
// kept as it is. Empty for invalid UTF-8.
std::wstring ExtendedPath(std::string_view path);

}  // namespace pellamar
