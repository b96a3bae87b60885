// The child-window identifiers of frmPellamar's controls, which programs
// that drive the window from outside use too.
#pragma once

namespace pellamar::win32 {

inline constexpr int kIdTxtSource = 1001;
inline constexpr int kIdBtnSource = 1002;
inline constexpr int kIdBtnStart = 1003;
inline constexpr int kIdLabel1 = 1004;
inline constexpr int kIdLabel3 = 1005;
inline constexpr int kIdLabel2 = 1006;
inline constexpr int kIdImage1 = 1007;

// The window class of frmPellamar.
inline constexpr wchar_t kWindowClassName[] = L"frmPellamar";

}  // namespace pellamar::win32
