// How a replace on Windows makes its new file and puts it in its target's
// place: written beside it, given what the old file had (its permissions,
// attributes and creation time), then renamed where nothing stands any more
// (the old file went to the Recycle Bin) or over a link, tried again for a
// moment while another program holds the file up.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "core/file_system.h"
#include "core/win32_replace_calls.h"

namespace pellamar::windows {

// What a replaced file hands on to its successor.
struct OldTarget {
  bool exists = false;
  DWORD attributes = 0;
  FILETIME created{};
  std::vector<BYTE> security;  // its owner, group and DACL; empty for none
};

// Where the replace of one target stands.
struct Replacement {
  std::wstring target;  // the long form
  std::string shown;    // as the run named it
  bool over_link = false;
  OldTarget old;
  std::wstring temp_path;
};

// Creates the new hidden file `replacement.temp_path` and returns the
// replace that will put it at `replacement.target`; nullptr, with
// GetLastError saying why, when it cannot be made.
std::unique_ptr<PendingFile> CreatePendingFile(ReplaceCalls& calls, Replacement replacement);

}  // namespace pellamar::windows
