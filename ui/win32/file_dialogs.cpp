#include "ui/win32/file_dialogs.h"

#include <algorithm>

#include "core/wide_text.h"
#include "ui/common/filter_string.h"

namespace pellamar::win32 {
namespace {

// kStartingSpaces spaces and NULs to the end, with `text` written over the
// spaces, cut after as many characters (and never between the two halves
// of a surrogate pair).
std::vector<wchar_t> FileBuffer(const std::wstring& text) {
  std::vector<wchar_t> buffer(kFileBufferChars, L'\0');
  std::fill_n(buffer.begin(), kStartingSpaces, L' ');
  std::size_t length = std::min(text.size(), kStartingSpaces);
  if (length < text.size() && IS_HIGH_SURROGATE(text[length - 1])) --length;
  std::copy_n(text.begin(), length, buffer.begin());
  return buffer;
}

}  // namespace

DialogRequest::DialogRequest(HWND owner, HINSTANCE instance, const std::string& converted_filter,
                             const std::string& title, const std::string& initial_dir,
                             const std::string& default_filename, DWORD flags)
    : filter_(Widen(converted_filter)),
      title_(Widen(title)),
      initial_dir_(Widen(initial_dir)),
      file_(FileBuffer(Widen(default_filename))),
      file_title_(FileBuffer(L"")) {
  // Every byte starts at zero, the padding of a 64-bit build's record too.
  ZeroMemory(&record_, sizeof(record_));
  record_.lStructSize = kRequestRecordSize;
  record_.hwndOwner = owner;
  record_.hInstance = instance;
  record_.lpstrFilter = filter_.c_str();
  record_.lpstrFile = file_.data();
  record_.nMaxFile = kFileBufferChars;
  record_.lpstrFileTitle = file_title_.data();
  record_.nMaxFileTitle = kFileBufferChars;
  record_.lpstrInitialDir = initial_dir_.c_str();
  record_.lpstrTitle = title_.c_str();
  record_.Flags = flags;
}

std::string DialogRequest::Result(bool confirmed) const {
  if (!confirmed) return {};
  const std::wstring_view all(file_.data(), file_.size());
  std::wstring_view text = all.substr(0, all.find(L'\0'));
  const std::size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring_view::npos) return {};
  text = text.substr(first, text.find_last_not_of(L' ') - first + 1);
  return Narrow(text);
}

DialogRequest BuildOpenRequest(HWND Form1, const std::string& Filter, const std::string& Title,
                               const std::string& InitDir) {
  return DialogRequest(Form1, GetModuleHandleW(nullptr), Filter, Title, InitDir, "", kOpenFlags);
}

DialogRequest BuildSaveRequest(HWND Form1, const std::string& Filter, const std::string& Title,
                               const std::string& InitDir, const std::string& DefaultFilename) {
  return DialogRequest(Form1, GetModuleHandleW(nullptr), Filter, Title, InitDir, DefaultFilename,
                       kSaveFlags);
}

std::string OpenDialog(DesktopCalls& desktop, HWND Form1, std::string& Filter,
                       const std::string& Title, const std::string& InitDir) {
  Filter = ui::ConvertFilterString(std::move(Filter));
  DialogRequest request = BuildOpenRequest(Form1, Filter, Title, InitDir);
  return request.Result(desktop.RunOpenDialog(request.record()));
}

std::string SaveDialog(DesktopCalls& desktop, HWND Form1, std::string& Filter,
                       const std::string& Title, const std::string& InitDir,
                       const std::string& DefaultFilename) {
  Filter = ui::ConvertFilterString(std::move(Filter));
  DialogRequest request = BuildSaveRequest(Form1, Filter, Title, InitDir, DefaultFilename);
  return request.Result(desktop.RunSaveDialog(request.record()));
}

}  // namespace pellamar::win32
