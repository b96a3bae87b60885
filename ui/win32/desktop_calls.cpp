#include "ui/win32/desktop_calls.h"

#include <shellapi.h>

#include <string>

#include "core/win32_replace_calls.h"
#include "ui/win32/system_library.h"

namespace pellamar::win32 {
namespace {

// Windows' save dialog asks itself before it takes the name of a file that
// does not exist (OFN_CREATEPROMPT); Wine's returns the name without asking.
bool DialogAsksBeforeCreating() { return !RunningUnderWine(); }

// Asks, over `owner`, whether to create `file`, which does not exist.
bool ConfirmCreate(HWND owner, const wchar_t* title, const wchar_t* file) {
  const std::wstring question = std::wstring(file) + L" does not exist.\nDo you want to create it?";
  return MessageBoxW(owner, question.c_str(), title, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) ==
         IDYES;
}

bool Exists(const wchar_t* file) { return GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES; }

class SystemCalls : public DesktopCalls {
 public:
  bool RunOpenDialog(OPENFILENAMEW* request) override {
    static const auto get_open_file_name =
        SystemFunction<decltype(&GetOpenFileNameW)>(L"comdlg32.dll", "GetOpenFileNameW");
    return get_open_file_name != nullptr && get_open_file_name(request) != FALSE;
  }

  // Where the dialog does not ask before creating, it is asked here once it
  // has closed, over its owner; on No it comes back with the name given, as
  // if it had stayed open.
  bool RunSaveDialog(OPENFILENAMEW* request) override {
    static const auto get_save_file_name =
        SystemFunction<decltype(&GetSaveFileNameW)>(L"comdlg32.dll", "GetSaveFileNameW");
    if (get_save_file_name == nullptr) return false;
    while (get_save_file_name(request) != FALSE) {
      const wchar_t* chosen = request->lpstrFile;
      if (DialogAsksBeforeCreating() || (request->Flags & OFN_CREATEPROMPT) == 0 ||
          Exists(chosen)) {
        return true;
      }
      if (ConfirmCreate(request->hwndOwner, request->lpstrTitle, chosen)) return true;
    }
    return false;
  }

  void ShowMessage(HWND owner, const wchar_t* text, const wchar_t* title, UINT style) override {
    MessageBoxW(owner, text, title, style);
  }

  void ShellOpen(HWND owner, const wchar_t* operation, const wchar_t* file,
                 const wchar_t* parameters, const wchar_t* directory, int show) override {
    static const auto shell_execute =
        SystemFunction<decltype(&ShellExecuteW)>(L"shell32.dll", "ShellExecuteW");
    if (shell_execute == nullptr) return;
    shell_execute(owner, operation, file, parameters, directory, show);
  }
};

}  // namespace

DesktopCalls& SystemDesktopCalls() {
  static SystemCalls calls;
  return calls;
}

}  // namespace pellamar::win32
