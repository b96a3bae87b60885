// What the Windows file system's files share: handles closed on every path
// out of a scope, failures in the system's own words, which file a handle
// is, and how long a call that another program holds up is tried again.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/file_system.h"
#include "core/status.h"

namespace pellamar::windows {

// ReadFile and WriteFile move at most this many bytes per call.
inline constexpr std::size_t kMaxChunk = 1u << 30;

// The pauses before each new try of a call that another program holds up
// for a moment: a third of a second in all.
inline constexpr std::array<DWORD, 5> kRetryPauses = {10, 20, 40, 80, 160};

// Whether `error` is what a call on a file gives while another program
// holds it for a moment (an antivirus scanner, an indexer, a sync client),
// or while a file that was deleted is still open elsewhere and keeps its
// name until then.
bool IsBusy(DWORD error);

// Closes a handle on every path out of a scope.
class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  Handle(Handle&& other) noexcept : handle_(other.handle_) { other.Release(); }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.Release();
    }
    return *this;
  }
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

// The file numbered `id` (16 bytes; a 64-bit number fills the first 8) on
// the volume `volume`; nullopt for a number that names no file: all zeros,
// as some redirectors give, or all ones, as a file system gives whose
// numbers do not fit in 64 bits.
std::optional<FileIdentity> IdentityFrom(std::uint64_t volume,
                                         const std::array<std::uint8_t, 16>& id);

// Which file an open handle reads or writes, whatever name led to it: by
// the 128-bit number where the file system gives one (ReFS), else by the
// 64-bit index; nullopt when it gives neither.
std::optional<FileIdentity> IdentityOf(HANDLE file);

// The folder of `path`, up to and with its last backslash.
std::wstring FolderOf(const std::wstring& path);

// `path` in the form that the shell takes: without the \\?\ prefix, which
// it cannot parse.
std::wstring ShellPath(const std::wstring& path);

}  // namespace pellamar::windows
