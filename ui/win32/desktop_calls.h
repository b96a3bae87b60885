// What the window asks of Windows outside its own controls: the common file
// dialogs, the message box and the shell. The window reaches them only
// through this class, so tests answer them instead of a user.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commdlg.h>

namespace pellamar::win32 {

class DesktopCalls {
 public:
  virtual ~DesktopCalls() = default;

  // GetOpenFileNameW / GetSaveFileNameW on `request`: true when the user
  // confirmed a file, whose path is then in request->lpstrFile. Returns
  // only when the dialog has closed. With OFN_CREATEPROMPT the save dialog
  // asks before it takes a file that does not exist, and on No it stays (or
  // comes back) with the name given, whichever dialog the system has.
  virtual bool RunOpenDialog(OPENFILENAMEW* request) = 0;
  virtual bool RunSaveDialog(OPENFILENAMEW* request) = 0;

  // A message box owned by `owner`; returns when it is dismissed.
  virtual void ShowMessage(HWND owner, const wchar_t* text, const wchar_t* title, UINT style) = 0;

  // ShellExecuteW with these arguments; its result is not looked at.
  virtual void ShellOpen(HWND owner, const wchar_t* operation, const wchar_t* file,
                         const wchar_t* parameters, const wchar_t* directory, int show) = 0;
};

// The real calls. The dialogs and the shell launch are bound by name, from
// the system's comdlg32.dll and shell32.dll, when first called; a call whose
// entry point cannot be found does nothing (a dialog then counts as
// cancelled).
DesktopCalls& SystemDesktopCalls();

}  // namespace pellamar::win32
