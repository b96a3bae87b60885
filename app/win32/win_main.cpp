// The Windows program's entry: creates frmPellamar, shows it and serves its
// events until it is closed.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <objbase.h>

#include <memory>

#include "core/file_system.h"
#include "ui/win32/desktop_calls.h"
#include "ui/win32/frm_pellamar.h"
#include "ui/win32/system_library.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  pellamar::win32::LoadLibrariesFromSystemFolderOnly();
  // COM for the picture decoder and the shell; apartment-threaded, as the
  // shell asks of the thread that calls it.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  const std::unique_ptr<pellamar::FileSystem> fs = pellamar::NewPlatformFileSystem();
  int exit_code = 1;
  {
    pellamar::win32::frmPellamar window(pellamar::win32::SystemDesktopCalls(), *fs);
    if (window.Create(instance)) {
      window.Show(show_command);
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.TranslateDialogKeys(&message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      exit_code = static_cast<int>(message.wParam);
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return exit_code;
}
