// The open and save dialogs: one request record per call, filled from the
// caller's arguments, and the path the user confirmed, or "".
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commdlg.h>

#include <cstddef>
#include <string>
#include <vector>

#include "ui/win32/desktop_calls.h"

namespace pellamar::win32 {

// The record in its "version 400" form (OPENFILENAME_SIZE_VERSION_400W):
// the members up to lpTemplateName, 76 bytes in the 32-bit program (136 in
// a 64-bit build of the same code).
inline constexpr DWORD kRequestRecordSize =
    offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(OPENFILENAMEW::lpTemplateName);
static_assert(sizeof(void*) != 4 || kRequestRecordSize == 76);
// The file and file-title buffers: room for the longest path Windows has.
inline constexpr DWORD kFileBufferChars = 32768;
// What the dialog finds in either buffer: this many spaces, then NULs.
inline constexpr std::size_t kStartingSpaces = 254;
inline constexpr DWORD kOpenFlags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
inline constexpr DWORD kSaveFlags = OFN_CREATEPROMPT | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;

// One dialog call's record with the texts and buffers it points into. It
// cannot be copied or moved, so the pointers stay valid while it lives.
class DialogRequest {
 public:
  // `converted_filter` is a filter string after ConvertFilterString: its
  // parts end in NULs. `default_filename` is written over the start of the
  // file buffer's spaces, at most kStartingSpaces characters of it.
  DialogRequest(HWND owner, HINSTANCE instance, const std::string& converted_filter,
                const std::string& title, const std::string& initial_dir,
                const std::string& default_filename, DWORD flags);
  DialogRequest(const DialogRequest&) = delete;
  DialogRequest& operator=(const DialogRequest&) = delete;

  OPENFILENAMEW* record() { return &record_; }
  const OPENFILENAMEW& record() const { return record_; }

  // What the dialog's answer means: "" when `confirmed` is false, otherwise
  // the file buffer's text before its first NUL (all of it when it holds
  // none) without leading and trailing spaces.
  std::string Result(bool confirmed) const;

 private:
  std::wstring filter_;
  std::wstring title_;
  std::wstring initial_dir_;
  std::vector<wchar_t> file_;
  std::vector<wchar_t> file_title_;
  OPENFILENAMEW record_{};
};

// The records OpenDialog and SaveDialog pass, built without showing
// anything. `Filter` is taken as given, already converted.
DialogRequest BuildOpenRequest(HWND Form1, const std::string& Filter, const std::string& Title,
                               const std::string& InitDir);
DialogRequest BuildSaveRequest(HWND Form1, const std::string& Filter, const std::string& Title,
                               const std::string& InitDir, const std::string& DefaultFilename);

// Shows the open dialog (existing files only) owned by `Form1` and returns
// the confirmed path, or "" on cancel or failure. `Filter` is a filter
// string ("description|pattern|..."); it is converted in place, so the
// caller's string holds the converted list afterwards.
std::string OpenDialog(DesktopCalls& desktop, HWND Form1, std::string& Filter,
                       const std::string& Title, const std::string& InitDir);

// The same for the save dialog, which proposes `DefaultFilename` and asks
// before creating a new file or replacing an existing one.
std::string SaveDialog(DesktopCalls& desktop, HWND Form1, std::string& Filter,
                       const std::string& Title, const std::string& InitDir,
                       const std::string& DefaultFilename);

}  // namespace pellamar::win32
