// What the Windows file system's files share: handles closed on every path
// out of a scope, failures in the system's own words, and which file a
// handle or a path is.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "core/file_system.h"
#include "core/status.h"

namespace pellamar::windows {

// ReadFile and WriteFile move at most this many bytes per call.
inline constexpr std::size_t kMaxChunk = 1u << 30;

// Closes a handle on every path out of a scope.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Gives up the handle without closing it.
  void Release() { handle_ = INVALID_HANDLE_VALUE; }
  // Closes now and says whether the close itself succeeded.
  bool Close() {
    if (!valid()) return true;
    const bool closed = CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

// The system's own wording for `error`, in lower case, without its final
// full stop and line break.
std::string ErrorText(DWORD error);

// A failure of `what` on `path` for the Windows error `error`; a missing
// file or folder is Kind::kNotFound.
Status ErrorStatus(Status::Kind kind, const std::string& what, const std::string& path,
                   DWORD error);
Status ErrorStatus(const std::string& what, const std::string& path, DWORD error);

// A path that UTF-16 cannot name, and a target that may not be written.
Status BadName(const std::string& path);
Status ReadOnly(const std::string& path);

// Which file an open handle reads or writes, whatever name led to it.
std::optional<FileIdentity> IdentityOf(HANDLE file);

// The identity of what stands at `path`: following links, or of a link
// itself when `flags` holds FILE_FLAG_OPEN_REPARSE_POINT.
std::optional<FileIdentity> IdentityAt(const std::wstring& path, DWORD flags = 0);

// The folder of `path`, up to and with its last backslash.
std::wstring FolderOf(const std::wstring& path);

}  // namespace pellamar::windows
