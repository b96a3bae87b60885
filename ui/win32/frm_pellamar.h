// The program's one window in plain Win32: the source field, "...",
// "Convert", three labels and a picture, laid out from the shared control
// table and scaled for the monitor's DPI. The batch run reaches it through
// WindowOperations; dialogs, message boxes and the shell are reached
// through DesktopCalls.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <string_view>

#include "core/batch_run.h"
#include "core/file_system.h"
#include "ui/common/form_layout.h"
#include "ui/win32/desktop_calls.h"

namespace pellamar::win32 {

// Window styles: a fixed tool window with a caption and a close box only.
inline constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
inline constexpr DWORD kWindowExStyle = WS_EX_TOOLWINDOW;

class frmPellamar : public WindowOperations {
 public:
  frmPellamar(DesktopCalls& desktop, FileSystem& fs);
  ~frmPellamar() override;
  frmPellamar(const frmPellamar&) = delete;
  frmPellamar& operator=(const frmPellamar&) = delete;

  // Creates the window and its controls in their initial state, hidden.
  // False when Windows refuses to create it.
  bool Create(HINSTANCE instance);
  // Shows the window with the focus on "Convert".
  void Show(int show_command);
  // Gives `message` the dialog keys: Tab and Shift+Tab between "Convert",
  // "..." and the source field, Space on a button, Enter on the button
  // that has the focus and for "Convert" elsewhere.
  // True when the message was handled and must not be dispatched.
  bool TranslateDialogKeys(MSG* message);

  HWND hwnd() const { return hwnd_; }
  // The control of that name ("txtSource", "btnStart", ...), or nullptr.
  HWND Control(std::string_view name) const;
  // The tooltip window that shows the home page over Label2.
  HWND ToolTip() const { return tooltip_; }

  // The window's methods.
  std::string SaveDialog(HWND Form1, std::string& Filter, const std::string& Title,
                         const std::string& InitDir, const std::string& DefaultFilename);
  std::string OpenDialog(HWND Form1, std::string& Filter, const std::string& Title,
                         const std::string& InitDir);
  // Picks a card with the open dialog and puts its path, or "" on cancel,
  // into the source field.
  void btnSource_Click() override;
  // Runs "Convert" once.
  void btnStart_Click();
  bool FileHasData(const std::string& path);
  // Asks the shell to open the home page.
  void Label2_Click();

  // What the batch run asks of the window.
  std::string SourceText() override;
  void SetLabel3Caption(const std::string& caption) override;
  void RepaintNow() override;
  std::string Caption() override;
  void ShowMessageBox(const std::string& text, int style, const std::string& title) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommand(int id, int code);
  void ShowDefaultButton();
  // Runs one click handler to its end; see the definition.
  void RunHandler(void (frmPellamar::*handler)());
  LRESULT OnCtlColorStatic(HDC dc, HWND control);
  void OnDrawItem(const DRAWITEMSTRUCT& item);
  void OnActivate(bool active);
  void OnDropFiles(HDROP drop);
  void OnDpiChanged(UINT dpi, const RECT& suggested);

  void CreateControls();
  HWND AddControl(const ui::ControlSpec& layout, const wchar_t* window_class, DWORD style,
                  DWORD ex_style, int id);
  void OrderForTabbing();
  void AddToolTip();
  void PresentToScreenReaders();
  // Fonts, pictures, control rectangles and the frame for `dpi`.
  void ApplyDpi(UINT dpi);
  void ApplyFonts(UINT dpi);
  void ApplyPictures(UINT dpi);
  // Gives the window a client area of `width` x `height` pixels.
  void SizeClientArea(int width, int height, UINT dpi);
  void FreeResources();

  DesktopCalls& desktop_;
  FileSystem& fs_;
  HINSTANCE instance_ = nullptr;
  HWND hwnd_ = nullptr;
  HWND txtSource = nullptr;
  HWND btnSource = nullptr;
  HWND btnStart = nullptr;
  HWND Label1 = nullptr;
  HWND Label3 = nullptr;
  HWND Label2 = nullptr;
  HWND Image1 = nullptr;
  HWND tooltip_ = nullptr;
  HWND focus_ = nullptr;  // the control that had the focus when the window was deactivated
  HFONT dialog_font_ = nullptr;
  HFONT credit_font_ = nullptr;
  HIMAGELIST convert_picture_ = nullptr;
  HIMAGELIST image1_picture_ = nullptr;
  std::wstring home_page_;
  UINT dpi_ = 0;
  bool handler_running_ = false;
};

}  // namespace pellamar::win32
