// The Windows calls with which a replace checks its target, moves the old
// file to the Recycle Bin and puts the finished one in its place, and the
// machine's own id, behind an interface so that a test can record them and
// make them fail as the system may. Windows builds only. Paths are the long
// (\\?\) forms the file system passes; a result is 0 for success, else the
// Windows error code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/file_system.h"

namespace pellamar {

class ReplaceCalls {
 public:
  // What Recycle gives besides 0 and Windows' error codes: no Recycle Bin
  // could keep the file (Windows would have deleted it for good), and the
  // shell has no file operation that can be told to recycle only.
  static constexpr std::uint32_t kNoRecycleBin = 0x8027003A;  // COPYENGINE_E_RECYCLE_BIN_NOT_FOUND
  static constexpr std::uint32_t kNoFileOperation = 0x80004001;  // E_NOTIMPL

  virtual ~ReplaceCalls() = default;
  // MoveFileExW(from, to, flags).
  virtual std::uint32_t Move(const std::wstring& from, const std::wstring& to,
                             std::uint32_t flags) = 0;
  // Whether the file at `path` lets whoever runs the program have `access`
  // (AccessCheck against its security descriptor, nothing opened): 0 with
  // `*granted`, or the error of reading its security.
  virtual std::uint32_t CheckAccess(const std::wstring& path, std::uint32_t access,
                                    bool* granted) = 0;
  // Moves the file at `path` to the Recycle Bin through the shell's
  // IFileOperation, which refuses any delete that would not recycle.
  virtual std::uint32_t Recycle(const std::wstring& path) = 0;
  // SHFileOperationW(FO_DELETE, FOF_ALLOWUNDO | FOF_NO_UI) of the file at
  // `path`: what the shell offers where it has no IFileOperation. Where no
  // Recycle Bin can take the file, it deletes it for good, and Wine's says
  // nothing of it.
  virtual std::uint32_t ShellDelete(const std::wstring& path) = 0;
  // Sleep(milliseconds).
  virtual void Wait(std::uint32_t milliseconds) = 0;
  // The machine's own id, set when Windows was installed (MachineGuid), or
  // "" where it has none.
  virtual std::string MachineGuid() = 0;
};

// The calls as the system makes them.
ReplaceCalls& SystemReplaceCalls();

// Whether the program runs under Wine, whose calls differ from Windows' in
// places: its save dialog asks nothing before it names a new file.
bool RunningUnderWine();

// The Windows file system, its replaces made through `calls`, which must
// outlive it.
std::unique_ptr<FileSystem> NewFileSystemWithCalls(ReplaceCalls& calls);

}  // namespace pellamar
