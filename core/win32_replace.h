// How a replace on Windows puts the finished file in its target's place:
// ReplaceFileW where a file stands, so that it keeps its permissions, or a
// rename, tried again for a moment while another program holds either file.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "core/file_system.h"
#include "core/win32_replace_calls.h"

namespace pellamar::windows {

// What stands at a target before it is replaced.
struct OldTarget {
  bool exists = false;
  DWORD attributes = 0;
  FILETIME created{};
  // A link is replaced itself, never written through.
  bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

OldTarget OldTargetAt(const std::wstring& path);

// Where the replace of one target stands.
struct Replacement {
  std::wstring target;  // the long form
  std::string shown;    // as the run named it
  OldTarget old;
  std::wstring temp_path;
};

// Creates the new hidden file `replacement.temp_path` and returns the
// replace that will put it at `replacement.target`; nullptr, with
// GetLastError saying why, when it cannot be made.
std::unique_ptr<PendingFile> CreatePendingFile(ReplaceCalls& calls, Replacement replacement);

}  // namespace pellamar::windows
