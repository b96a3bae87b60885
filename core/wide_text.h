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
// "\\?\UNC\server\share\..." for a share. Every name in it stays exactly
// as given, so that it names that very file: one that ends in dots or
// spaces ("a.mcd.") or that Windows would take for a device ("CON.mcd").
// Only "." and ".." are resolved, and only a path that is not absolute
// ("cards\", "\cards\", "C:cards\") gets the current folder or drive in
// front. A final separator is kept. A path already in the long form is kept
// as it is. Empty for invalid UTF-8.
std::wstring ExtendedPath(std::string_view path);

// The long form of the path `relative` (with "\" between names) taken from
// the folder `folder`, itself in the long form, or from the root of its
// drive or share where `relative` starts with "\": "." and ".." resolved as
// ExtendedPath resolves them, every other name as it is. Empty where
// `folder` is on no drive or share.
std::wstring LongPathFrom(const std::wstring& folder, std::wstring_view relative);

}  // namespace pellamar
