// The Windows calls with which a replace checks its target and puts the
// finished file in its place, behind an interface so that a test can record
// them and make them fail as the system may. Windows builds only. Paths are
// the long (\\?\) forms the file system passes; a result is 0 for success,
// else the Windows error code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/file_system.h"

namespace pellamar {

class ReplaceCalls {
 public:
  virtual ~ReplaceCalls() = default;
  // ReplaceFileW(replaced, replacement, no backup, flags).
  virtual std::uint32_t Replace(const std::wstring& replaced, const std::wstring& replacement,
                                std::uint32_t flags) = 0;
  // MoveFileExW(from, to, flags).
  virtual std::uint32_t Move(const std::wstring& from, const std::wstring& to,
                             std::uint32_t flags) = 0;
  // Opens the existing file at `path` to write its data, and closes it.
  virtual std::uint32_t OpenToWrite(const std::wstring& path) = 0;
  // Sleep(milliseconds).
  virtual void Wait(std::uint32_t milliseconds) = 0;
  // Whether ReplaceFile keeps the replaced file's security descriptor,
  // attributes and creation time. Wine's keeps none of them, and leaves a
  // file of its own behind when the replaced one is in use.
  virtual bool ReplaceKeepsTheTarget() = 0;
};

// The calls as the system makes them.
ReplaceCalls& SystemReplaceCalls();

// Whether the program runs under Wine, whose calls differ from Windows' in
// places: its ReplaceFile keeps nothing of the target, its save dialog asks
// nothing before it names a new file.
bool RunningUnderWine();

// The Windows file system, its replaces made through `calls`, which must
// outlive it.
std::unique_ptr<FileSystem> NewFileSystemWithCalls(ReplaceCalls& calls);

}  // namespace pellamar
