// What stands at a path on Windows, found without following a link and
// without opening any data: a device or a pipe that a link leads to is never
// opened, and a placeholder of a cloud file or a deduplicated one (a
// reparse point that is no link) is never fetched just to be looked at.
// Windows builds only.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "core/file_system.h"
#include "core/win32_support.h"

namespace pellamar::windows {

// What a reparse point tag and the attributes make of an entry: a link
// names another path (a symbolic link, a junction); any other reparse
// point (a cloud placeholder, a deduplicated file) is the file itself.
TargetLook::Kind KindOf(DWORD attributes, DWORD reparse_tag);

// One entry, opened to read its attributes only.
struct Entry {
  Handle handle;
  DWORD attributes = 0;
  TargetLook::Kind kind = TargetLook::Kind::kOther;
  std::optional<FileIdentity> identity;  // of the entry itself
  std::uint32_t links = 0;               // how many names the file has
};

// Opens the entry at `path` (a long form) itself, a link not followed;
// nullopt, with GetLastError saying why, when there is none or it cannot
// be opened.
std::optional<Entry> OpenEntry(const std::wstring& path);

// The long form of the path that a symbolic link names by `substitute` (as
// the link keeps it: "\??\C:\x", or relative to the link's folder `folder`
// when `relative`); empty when it leads anywhere but to a path on a drive,
// a volume or a share: to a device or a pipe, say.
std::wstring LinkDestination(std::wstring_view substitute, bool relative,
                             const std::wstring& folder);

// The entry that the path leads to once every link on the way is followed
// by the path it keeps, each one opened without following it; `*through_link`
// says whether there was one. nullopt, with `*status` saying why, when there
// is none, or when a link leads off the file systems (Kind::kNotAFile) or
// goes round.
std::optional<Entry> FinalEntry(const std::wstring& path, const std::string& shown,
                                bool* through_link, Status* status);

}  // namespace pellamar::windows
