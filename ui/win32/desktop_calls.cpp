#include "ui/win32/desktop_calls.h"

#include <shellapi.h>

namespace pellamar::win32 {
namespace {

// The entry point `name` of `library` as a `Function`, or nullptr.
template <typename Function>
Function BindByName(const wchar_t* library, const char* name) {
  const HMODULE module = LoadLibraryW(library);
  if (module == nullptr) return nullptr;
  // Through the generic function pointer type, which converts to any other.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class SystemCalls : public DesktopCalls {
 public:
  bool RunOpenDialog(OPENFILENAMEW* request) override {
    static const auto get_open_file_name =
        BindByName<decltype(&GetOpenFileNameW)>(L"comdlg32.dll", "GetOpenFileNameW");
    return get_open_file_name != nullptr && get_open_file_name(request) != FALSE;
  }

  bool RunSaveDialog(OPENFILENAMEW* request) override {
    static const auto get_save_file_name =
        BindByName<decltype(&GetSaveFileNameW)>(L"comdlg32.dll", "GetSaveFileNameW");
    return get_save_file_name != nullptr && get_save_file_name(request) != FALSE;
  }

  void ShowMessage(HWND owner, const wchar_t* text, const wchar_t* title, UINT style) override {
    MessageBoxW(owner, text, title, style);
  }

  void ShellOpen(HWND owner, const wchar_t* operation, const wchar_t* file,
                 const wchar_t* parameters, const wchar_t* directory, int show) override {
    static const auto shell_execute =
        BindByName<decltype(&ShellExecuteW)>(L"shell32.dll", "ShellExecuteW");
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
