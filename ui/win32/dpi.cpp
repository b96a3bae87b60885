#include "ui/win32/dpi.h"

#include "ui/win32/system_library.h"

namespace pellamar::win32 {
namespace {

UINT ScreenDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

}  // namespace

UINT DpiOfWindow(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto get_dpi_for_window =
      SystemFunction<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
  if (get_dpi_for_window == nullptr) return ScreenDpi();
  const UINT dpi = get_dpi_for_window(window);
  return dpi != 0 ? dpi : ScreenDpi();
}

SIZE FrameSizeFor(int client_width, int client_height, DWORD style, DWORD ex_style, UINT dpi) {
  using AdjustFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjust_for_dpi =
      SystemFunction<AdjustFunction>(L"user32.dll", "AdjustWindowRectExForDpi");
  RECT frame{0, 0, client_width, client_height};
  if (adjust_for_dpi != nullptr) {
    adjust_for_dpi(&frame, style, FALSE, ex_style, dpi);
  } else {
    AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  }
  return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

}  // namespace pellamar::win32
