// Layout values are written for 96 dots per inch and scaled for the DPI of
// the monitor the window is on. The per-monitor entry points are looked up
// at run time, so the program still starts on systems older than them.
#pragma once

#include <windows.h>

namespace pellamar::win32 {

inline constexpr UINT kBaseDpi = USER_DEFAULT_SCREEN_DPI;

// `pixels` at 96 DPI, scaled to `dpi`.
inline int ScaleForDpi(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }

// The DPI that `window` is laid out for (the screen's when the system has
// no per-window DPI).
UINT DpiOfWindow(HWND window);

// The size of a window with this frame whose client area is
// `client_width` x `client_height` pixels at `dpi`.
SIZE FrameSizeFor(int client_width, int client_height, DWORD style, DWORD ex_style, UINT dpi);

}  // namespace pellamar::win32
