#include "ui/win32/frm_pellamar.h"

// After windows.h, which it needs.
#include <oleacc.h>

#include <array>
#include <utility>

#include "core/wide_text.h"
#include "ui/common/message_text.h"
#include "ui/win32/accessibility.h"
#include "ui/win32/control_ids.h"
#include "ui/win32/dpi.h"
#include "ui/win32/file_dialogs.h"
#include "ui/win32/picture.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/system_library.h"

namespace pellamar::win32 {
namespace {

// The window's standard font: the dialog font, 8 points.
constexpr wchar_t kDialogFontFace[] = L"MS Shell Dlg 2";
constexpr int kDialogFontPoints = 8;
constexpr COLORREF kCreditColour =
    RGB((ui::kCreditColourRgb >> 16) & 0xFF, (ui::kCreditColourRgb >> 8) & 0xFF,
        ui::kCreditColourRgb & 0xFF);
constexpr wchar_t kShellDirectory[] = L"C:\\";
// Every control is drawn only where no sibling above it is.
constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;

int Scaled(int twips, UINT dpi) { return ScaleForDpi(ui::TwipsToPixels(twips), dpi); }

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (GetClassInfoExW(instance, kWindowClassName, &existing)) return true;
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.hIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(PELLAMAR_ICON), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
  window_class.hIconSm = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(PELLAMAR_ICON), IMAGE_ICON,
                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWindowClassName;
  return RegisterClassExW(&window_class) != 0;
}

// Keys and clicks that arrived while a run kept the thread were meant for
// the window; none of them may answer the message box about to appear.
void DropQueuedInput() {
  MSG queued;
  while (PeekMessageW(&queued, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
  while (PeekMessageW(&queued, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
}

// A program started as administrator gets no message from Explorer, which
// runs with less privilege, unless the window lets it through: the drop's
// WM_DROPFILES and the messages that carry its data, WM_COPYDATA and
// WM_COPYGLOBALDATA (0x0049, which no header names). Where Windows has no
// such filter per window (before Windows 7), nothing is done.
void LetDropsThrough(HWND window) {
  using FilterFunction = BOOL(WINAPI*)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
  static const auto change_filter =
      SystemFunction<FilterFunction>(L"user32.dll", "ChangeWindowMessageFilterEx");
  if (change_filter == nullptr) return;
  constexpr UINT kCopyGlobalData = 0x0049;
  for (const UINT message : {UINT{WM_DROPFILES}, UINT{WM_COPYDATA}, kCopyGlobalData}) {
    change_filter(window, message, MSGFLT_ALLOW, nullptr);
  }
}

HFONT NewFont(const wchar_t* face, int height, int weight, bool underline, BYTE charset) {
  return CreateFontW(height, 0, 0, 0, weight, FALSE, underline ? TRUE : FALSE, FALSE, charset,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face);
}

}  // namespace

frmPellamar::frmPellamar(DesktopCalls& desktop, FileSystem& fs)
    : desktop_(desktop), fs_(fs), home_page_(Widen(ui::HomePage())) {}

frmPellamar::~frmPellamar() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  FreeResources();
}

bool frmPellamar::Create(HINSTANCE instance) {
  instance_ = instance;
  // A run keeps the thread; Windows is not to swap the window for a "Not
  // Responding" ghost that hides the count meanwhile.
  DisableProcessWindowsGhosting();
  if (!RegisterWindowClass(instance, &frmPellamar::WindowProc)) return false;
  CreateWindowExW(kWindowExStyle, kWindowClassName, Widen(ui::kWindowCaption).c_str(), kWindowStyle,
                  CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, this);
  if (hwnd_ == nullptr) return false;
  CreateControls();
  OrderForTabbing();
  AddToolTip();
  PresentToScreenReaders();
  DragAcceptFiles(hwnd_, TRUE);
  LetDropsThrough(hwnd_);
  ApplyDpi(DpiOfWindow(hwnd_));
  return true;
}

void frmPellamar::Show(int show_command) {
  ShowWindow(hwnd_, show_command);
  UpdateWindow(hwnd_);
  SetFocus(btnStart);
}

bool frmPellamar::TranslateDialogKeys(MSG* message) {
  if (hwnd_ == nullptr || !IsDialogMessageW(hwnd_, message)) return false;
  ShowDefaultButton();  // the dialog manager may have moved the frame itself
  return true;
}

// Enter presses the push button that has the focus, and "Convert" from
// anywhere else (DM_GETDEFID): the default-button frame goes where Enter
// will act, as the dialog manager does in a dialog box.
void frmPellamar::ShowDefaultButton() {
  const HWND focus = GetFocus();
  if (focus != nullptr && !IsChild(hwnd_, focus)) return;
  const HWND acts = focus == btnSource ? btnSource : btnStart;
  for (HWND button : {btnSource, btnStart}) {
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(button, GWL_STYLE)) & BS_TYPEMASK;
    const DWORD wanted = button == acts ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    if (style != wanted) SendMessageW(button, BM_SETSTYLE, wanted, TRUE);
  }
}

HWND frmPellamar::Control(std::string_view name) const {
  const std::array<std::pair<const ui::ControlSpec*, HWND>, 7> controls{{
      {&ui::kTxtSource, txtSource},
      {&ui::kBtnSource, btnSource},
      {&ui::kBtnStart, btnStart},
      {&ui::kLabel1, Label1},
      {&ui::kLabel3, Label3},
      {&ui::kLabel2, Label2},
      {&ui::kImage1, Image1},
  }};
  for (const auto& [layout, control] : controls) {
    if (layout->name == name) return control;
  }
  return nullptr;
}

std::string frmPellamar::SaveDialog(HWND Form1, std::string& Filter, const std::string& Title,
                                    const std::string& InitDir,
                                    const std::string& DefaultFilename) {
  return win32::SaveDialog(desktop_, Form1, Filter, Title, InitDir, DefaultFilename);
}

std::string frmPellamar::OpenDialog(HWND Form1, std::string& Filter, const std::string& Title,
                                    const std::string& InitDir) {
  return win32::OpenDialog(desktop_, Form1, Filter, Title, InitDir);
}

void frmPellamar::btnSource_Click() {
  std::string filter = ui::kSourceFilter;
  const std::string path = OpenDialog(hwnd_, filter, ui::kPickCardTitle, ui::kPickCardInitialDir);
  SetWindowTextW(txtSource, Widen(path).c_str());
}

void frmPellamar::btnStart_Click() { pellamar::btnStart_Click(*this, fs_); }

bool frmPellamar::FileHasData(const std::string& path) { return pellamar::FileHasData(fs_, path); }

void frmPellamar::Label2_Click() {
  desktop_.ShellOpen(nullptr, nullptr, home_page_.c_str(), nullptr, kShellDirectory, SW_SHOWNORMAL);
}

std::string frmPellamar::SourceText() { return Narrow(WindowText(txtSource)); }

void frmPellamar::SetLabel3Caption(const std::string& caption) {
  SetWindowTextW(Label3, Widen(caption).c_str());
  AnnounceChange(Label3);
}

void frmPellamar::RepaintNow() {
  RedrawWindow(hwnd_, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

std::string frmPellamar::Caption() { return Narrow(WindowText(hwnd_)); }

void frmPellamar::ShowMessageBox(const std::string& text, int style, const std::string& title) {
  DropQueuedInput();
  desktop_.ShowMessage(hwnd_, Widen(ui::FitMessageText(text)).c_str(), Widen(title).c_str(),
                       static_cast<UINT>(style));
}

LRESULT CALLBACK frmPellamar::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<frmPellamar*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->hwnd_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<frmPellamar*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return DefWindowProcW(window, message, wparam, lparam);
  }
  return self->HandleMessage(message, wparam, lparam);
}

LRESULT frmPellamar::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case DM_GETDEFID:
      return MAKELRESULT(kIdBtnStart, DC_HASDEFID);
    case WM_CTLCOLORSTATIC:
      return OnCtlColorStatic(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_DRAWITEM:
      OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      return TRUE;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wparam) != WA_INACTIVE);
      return 0;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wparam));
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd_, message, wparam, lparam);
  }
}

void frmPellamar::OnCommand(int id, int code) {
  if (code == BN_SETFOCUS || code == EN_SETFOCUS) ShowDefaultButton();
  if (id == kIdBtnSource && code == BN_CLICKED) RunHandler(&frmPellamar::btnSource_Click);
  if (id == kIdBtnStart && code == BN_CLICKED) RunHandler(&frmPellamar::btnStart_Click);
  if (id == kIdLabel2 && code == STN_CLICKED) RunHandler(&frmPellamar::Label2_Click);
}

// A handler keeps the thread until it ends, but the modal loops of its
// dialog and message box still deliver messages sent to the window. A click
// that arrives so is dropped, so that no handler, above all no second run,
// ever starts inside another.
void frmPellamar::RunHandler(void (frmPellamar::*handler)()) {
  if (handler_running_) return;
  handler_running_ = true;
  (this->*handler)();
  handler_running_ = false;
}

LRESULT frmPellamar::OnCtlColorStatic(HDC dc, HWND control) {
  if (control != Label2) {
    return DefWindowProcW(hwnd_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                          reinterpret_cast<LPARAM>(control));
  }
  SetTextColor(dc, kCreditColour);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

void frmPellamar::OnDrawItem(const DRAWITEMSTRUCT& item) {
  if (item.hwndItem != Image1) return;
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  if (image1_picture_ == nullptr) return;
  ImageList_Draw(image1_picture_, 0, item.hDC, item.rcItem.left, item.rcItem.top, ILD_NORMAL);
}

void frmPellamar::OnActivate(bool active) {
  if (!active) {
    const HWND focus = GetFocus();
    if (focus != nullptr && IsChild(hwnd_, focus)) focus_ = focus;
    return;
  }
  SetFocus(focus_ != nullptr ? focus_ : btnStart);
}

// A card or folder dragged from Explorer goes into the source field as if
// picked with "...": the first of several items, a folder with its
// separator at the end. Nothing converts until "Convert" is pressed, and
// nothing is taken while a handler runs. (The shell itself refuses what is
// not a file, with the no-drop cursor.) The folder is found by the long
// form of its path, so that one deeper than MAX_PATH characters, or one
// whose name ends in a dot, is a folder too.
void frmPellamar::OnDropFiles(HDROP drop) {
  const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
  std::wstring path(length + 1, L'\0');
  path.resize(DragQueryFileW(drop, 0, path.data(), length + 1));
  DragFinish(drop);
  if (handler_running_ || path.empty()) return;
  const DWORD attributes = GetFileAttributesW(ExtendedPath(Narrow(path)).c_str());
  const bool folder =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (folder && path.back() != L'\\') path += L'\\';
  SetWindowTextW(txtSource, path.c_str());
}

void frmPellamar::OnDpiChanged(UINT dpi, const RECT& suggested) {
  ApplyDpi(dpi);
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void frmPellamar::CreateControls() {
  txtSource = AddControl(ui::kTxtSource, WC_EDITW, WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL,
                         WS_EX_CLIENTEDGE, kIdTxtSource);
  SendMessageW(txtSource, EM_SETLIMITTEXT, 0, 0);  // as long as Windows allows
  // BS_NOTIFY: the buttons report when they take the focus.
  btnSource = AddControl(ui::kBtnSource, WC_BUTTONW, WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, 0,
                         kIdBtnSource);
  btnStart = AddControl(ui::kBtnStart, WC_BUTTONW, WS_TABSTOP | BS_DEFPUSHBUTTON | BS_NOTIFY, 0,
                        kIdBtnStart);
  Label1 = AddControl(ui::kLabel1, WC_STATICW, SS_LEFT | SS_NOPREFIX, 0, kIdLabel1);
  Label3 = AddControl(ui::kLabel3, WC_STATICW, SS_LEFT | SS_NOPREFIX, 0, kIdLabel3);
  Label2 = AddControl(ui::kLabel2, WC_STATICW, SS_LEFT | SS_NOPREFIX | SS_NOTIFY, 0, kIdLabel2);
  Image1 = AddControl(ui::kImage1, WC_STATICW, SS_OWNERDRAW, 0, kIdImage1);
}

HWND frmPellamar::AddControl(const ui::ControlSpec& layout, const wchar_t* window_class,
                             DWORD style, DWORD ex_style, int id) {
  return CreateWindowExW(ex_style, window_class, Widen(layout.caption).c_str(), kChildStyle | style,
                         0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         instance_, nullptr);
}

// Tab and Shift+Tab follow the order of the children, so the children are
// put in the order of the control table's tab indexes.
void frmPellamar::OrderForTabbing() {
  for (const ui::ControlSpec* layout : ui::InTabOrder()) {
    SetWindowPos(Control(layout->name), HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

// The window is a dialog named by its caption; "..." is named after the
// dialog it opens; the credit label is a link that its default action
// clicks; the picture only decorates; the count is read out as it changes.
void frmPellamar::PresentToScreenReaders() {
  PresentAccessible(hwnd_, {.role = ROLE_SYSTEM_DIALOG});
  PresentAccessible(btnSource, {.name = Widen(ui::kPickCardTitle)});
  PresentAccessible(
      Label2, {.role = ROLE_SYSTEM_LINK, .default_action = L"Jump", .action_command = STN_CLICKED});
  PresentAccessible(Image1, {.role = ROLE_SYSTEM_GRAPHIC, .added_state = STATE_SYSTEM_INVISIBLE});
  MakeLiveRegion(Label3);
}

void frmPellamar::AddToolTip() {
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                             WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance_, nullptr);
  if (tooltip_ == nullptr) return;
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd_;
  tool.uId = reinterpret_cast<UINT_PTR>(Label2);
  tool.lpszText = home_page_.data();
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void frmPellamar::ApplyDpi(UINT dpi) {
  dpi_ = dpi;
  ApplyFonts(dpi);
  ApplyPictures(dpi);
  for (const ui::ControlSpec& layout : ui::kControls) {
    MoveWindow(Control(layout.name), Scaled(layout.left, dpi), Scaled(layout.top, dpi),
               Scaled(layout.width, dpi), Scaled(layout.height, dpi), TRUE);
  }
  SizeClientArea(Scaled(ui::kClientWidthTwips, dpi), Scaled(ui::kClientHeightTwips, dpi), dpi);
}

// The frame is first the one the system's metrics give for `dpi`. Where the
// frame actually drawn differs from them (Wine, for one, draws every frame
// at the system's DPI), the client area that results says by how much, and
// the size is corrected.
void frmPellamar::SizeClientArea(int width, int height, UINT dpi) {
  constexpr UINT kSizeOnly = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
  SIZE frame = FrameSizeFor(width, height, kWindowStyle, kWindowExStyle, dpi);
  SetWindowPos(hwnd_, nullptr, 0, 0, frame.cx, frame.cy, kSizeOnly);
  RECT client;
  if (!GetClientRect(hwnd_, &client)) return;
  if (client.right == width && client.bottom == height) return;
  frame.cx += width - client.right;
  frame.cy += height - client.bottom;
  SetWindowPos(hwnd_, nullptr, 0, 0, frame.cx, frame.cy, kSizeOnly);
}

void frmPellamar::ApplyFonts(UINT dpi) {
  const HFONT dialog_font =
      NewFont(kDialogFontFace, -MulDiv(kDialogFontPoints, static_cast<int>(dpi), 72), FW_NORMAL,
              false, DEFAULT_CHARSET);
  // Hundredths of a point, so the credit font's 6.75 points stay exact.
  const int credit_points_100 = static_cast<int>(ui::kCreditFontPoints * 100);
  const HFONT credit_font = NewFont(Widen(ui::kCreditFontFace).c_str(),
                                    -MulDiv(credit_points_100, static_cast<int>(dpi), 7200),
                                    ui::kCreditFontWeight, true, ANSI_CHARSET);
  for (HWND control : {txtSource, btnSource, btnStart, Label1, Label3}) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(dialog_font), FALSE);
  }
  SendMessageW(Label2, WM_SETFONT, reinterpret_cast<WPARAM>(credit_font), FALSE);
  if (dialog_font_ != nullptr) DeleteObject(dialog_font_);
  if (credit_font_ != nullptr) DeleteObject(credit_font_);
  dialog_font_ = dialog_font;
  credit_font_ = credit_font;
}

void frmPellamar::ApplyPictures(UINT dpi) {
  const HIMAGELIST convert =
      LoadPicture(instance_, PELLAMAR_CONVERT_PICTURE, ScaleForDpi(ui::kConvertPictureWidth, dpi),
                  ScaleForDpi(ui::kConvertPictureHeight, dpi));
  const HIMAGELIST image1 =
      LoadPicture(instance_, PELLAMAR_IMAGE1_PICTURE, ScaleForDpi(ui::kImage1PictureWidth, dpi),
                  ScaleForDpi(ui::kImage1PictureHeight, dpi));
  BUTTON_IMAGELIST picture{};
  picture.himl = convert;
  picture.uAlign = BUTTON_IMAGELIST_ALIGN_TOP;
  SendMessageW(btnStart, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&picture));
  if (convert_picture_ != nullptr) ImageList_Destroy(convert_picture_);
  if (image1_picture_ != nullptr) ImageList_Destroy(image1_picture_);
  convert_picture_ = convert;
  image1_picture_ = image1;
  InvalidateRect(Image1, nullptr, TRUE);
}

void frmPellamar::FreeResources() {
  for (HFONT* font : {&dialog_font_, &credit_font_}) {
    if (*font != nullptr) DeleteObject(*font);
    *font = nullptr;
  }
  for (HIMAGELIST* picture : {&convert_picture_, &image1_picture_}) {
    if (*picture != nullptr) ImageList_Destroy(*picture);
    *picture = nullptr;
  }
}

}  // namespace pellamar::win32
