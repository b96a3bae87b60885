// frmPellamar in this process, on a real (virtual) display: its frame, its
// controls as the user sees them, the keyboard, and the flows of "...",
// "Convert" and the credit label, with dialogs, message boxes and the shell
// answered by a fake.
#include "ui/win32/frm_pellamar.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <oleacc.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/card_conversion.h"
#include "core/wide_text.h"
#include "tests/support/temp_folder.h"
#include "tests/win32_ui/fake_desktop_calls.h"
#include "tests/win32_ui/request_record_layout.h"
#include "ui/common/filter_string.h"
#include "ui/win32/dpi.h"
#include "ui/win32/file_dialogs.h"

namespace pellamar::win32 {
namespace {

using namespace std::string_literals;
using testing::FakeDesktopCalls;
using testing::TempFolder;

const std::wstring kDescription = Widen(kDescriptionText);

std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

LOGFONTW FontOf(HWND control) {
  LOGFONTW font{};
  const auto handle = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  GetObjectW(handle, sizeof(font), &font);
  return font;
}

// A drop of `paths` as the shell hands it over: a DROPFILES block followed
// by the paths, each NUL-terminated, and a final NUL. The receiver frees it.
HDROP DropOf(const std::vector<std::wstring>& paths) {
  std::wstring list;
  for (const std::wstring& path : paths) list += path + L'\0';
  list += L'\0';
  const std::size_t bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
  const HGLOBAL memory = GlobalAlloc(GHND, bytes);
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), list.data(),
              list.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

class FrmPellamarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs_ = NewPlatformFileSystem();
    window_ = std::make_unique<frmPellamar>(desktop_, *fs_);
    ASSERT_TRUE(window_->Create(GetModuleHandleW(nullptr)));
    window_->Show(SW_SHOWNORMAL);
    SetForegroundWindow(window_->hwnd());
    Pump();
    dpi_ = DpiOfWindow(window_->hwnd());
  }

  void TearDown() override {
    window_.reset();
    Pump();
  }

  // Handles what is queued, as the program's message loop does.
  void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;
      if (window_ && window_->TranslateDialogKeys(&message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  // A key pressed and released on the control that has the focus.
  void PressKey(UINT key) {
    for (UINT message : {WM_KEYDOWN, WM_KEYUP}) {
      // Repeat count 1; a release also has the previous-state and transition bits.
      const auto flags = static_cast<LPARAM>(message == WM_KEYDOWN ? 0x00000001u : 0xC0000001u);
      MSG msg{GetFocus(), message, key, flags, 0, {}};
      if (!window_->TranslateDialogKeys(&msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    Pump();
  }

  HWND Control(const char* name) {
    const HWND control = window_->Control(name);
    EXPECT_NE(control, nullptr) << "no control named " << name;
    return control;
  }

  void Click(const char* name) {
    SendMessageW(Control(name), BM_CLICK, 0, 0);
    Pump();
  }

  void ClickLabel(const char* name) {
    SendMessageW(Control(name), WM_LBUTTONDOWN, MK_LBUTTON, 0);
    SendMessageW(Control(name), WM_LBUTTONUP, 0, 0);
    Pump();
  }

  // The control's rectangle in the window's client area.
  RECT PlaceOf(HWND control) {
    RECT place;
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, window_->hwnd(), reinterpret_cast<POINT*>(&place), 2);
    return place;
  }

  int Pixels(int twips) const { return ScaleForDpi(twips / 15, dpi_); }

  FakeDesktopCalls desktop_;
  std::unique_ptr<FileSystem> fs_;
  std::unique_ptr<frmPellamar> window_;
  UINT dpi_ = kBaseDpi;
  TempFolder folder_;
};

TEST_F(FrmPellamarTest, IsAFixedToolWindowWithCaptionAndCloseBoxOnly) {
  const HWND window = window_->hwnd();
  EXPECT_EQ(TextOf(window), L"Pellamar [Batch Conversion]");
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  EXPECT_EQ(style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
  EXPECT_NE(style & WS_SYSMENU, 0u);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0u);
  EXPECT_NE(ex_style & WS_EX_TOOLWINDOW, 0u);

  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, ScaleForDpi(285, dpi_));
  EXPECT_EQ(client.bottom, ScaleForDpi(114, dpi_));
}

TEST_F(FrmPellamarTest, ControlsStandWhereTheTableSaysWithTheirCaptions) {
  for (const ui::ControlSpec& layout : ui::kControls) {
    SCOPED_TRACE(std::string(layout.name));
    const HWND control = Control(std::string(layout.name).c_str());
    const RECT place = PlaceOf(control);
    EXPECT_EQ(place.left, Pixels(layout.left));
    EXPECT_EQ(place.top, Pixels(layout.top));
    EXPECT_EQ(place.right - place.left, Pixels(layout.width));
    EXPECT_EQ(place.bottom - place.top, Pixels(layout.height));
    EXPECT_EQ(TextOf(control), Widen(layout.caption));
    EXPECT_TRUE(IsWindowVisible(control));
  }
  // At 96 DPI, the table's twips are these pixels.
  if (dpi_ == kBaseDpi) {
    const RECT start = PlaceOf(Control("btnStart"));
    EXPECT_EQ(start.left, 180);
    EXPECT_EQ(start.top, 51);
    EXPECT_EQ(start.right, 269);
    EXPECT_EQ(start.bottom, 113);
  }
}

TEST_F(FrmPellamarTest, CaptionsFitTheirControls) {
  const HDC dc = GetDC(window_->hwnd());
  for (const char* name : {"btnSource", "btnStart", "Label1", "Label3", "Label2"}) {
    SCOPED_TRACE(name);
    const HWND control = Control(name);
    const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    const HGDIOBJ old = SelectObject(dc, font);
    RECT box;
    GetClientRect(control, &box);
    RECT needed = box;
    const std::wstring text = TextOf(control);
    DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    EXPECT_LE(needed.right - needed.left, box.right - box.left);
    EXPECT_LE(needed.bottom - needed.top, box.bottom - box.top);
  }
  ReleaseDC(window_->hwnd(), dc);
}

TEST_F(FrmPellamarTest, StartsEmptyWithTheDescriptionAndTheFocusOnConvert) {
  EXPECT_EQ(TextOf(Control("txtSource")), L"");
  EXPECT_EQ(TextOf(Control("Label3")), kDescription);
  EXPECT_EQ(GetFocus(), Control("btnStart"));
  const auto style = GetWindowLongPtrW(Control("btnStart"), GWL_STYLE);
  EXPECT_EQ(style & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  EXPECT_TRUE(desktop_.requests.empty());
  EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(FrmPellamarTest, TabGoesConvertDotsSourceAndBackLabelsNever) {
  const HWND window = window_->hwnd();
  const std::vector<HWND> order{Control("btnStart"), Control("btnSource"), Control("txtSource")};
  for (std::size_t i = 0; i < order.size(); ++i) {
    const HWND next = order[(i + 1) % order.size()];
    EXPECT_EQ(GetNextDlgTabItem(window, order[i], FALSE), next);
    EXPECT_EQ(GetNextDlgTabItem(window, next, TRUE), order[i]);
  }
  for (std::size_t i = 1; i <= order.size(); ++i) {
    PressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), order[i % order.size()]);
  }
}

// The accessible object a screen reader gets for the client area of `window`.
IAccessible* AccessibleOf(HWND window) {
  IAccessible* object = nullptr;
  if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                        reinterpret_cast<void**>(&object)))) {
    return nullptr;
  }
  return object;
}

struct SeenAccessible {
  std::wstring name;
  LONG role = 0;
  LONG state = 0;
  std::wstring default_action;
};

SeenAccessible Look(IAccessible* object) {
  SeenAccessible seen;
  VARIANT self;
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR text = nullptr;
  if (object->get_accName(self, &text) == S_OK && text != nullptr) seen.name = text;
  SysFreeString(text);
  text = nullptr;
  if (object->get_accDefaultAction(self, &text) == S_OK && text != nullptr) {
    seen.default_action = text;
  }
  SysFreeString(text);
  VARIANT value;
  if (object->get_accRole(self, &value) == S_OK && value.vt == VT_I4) seen.role = value.lVal;
  if (object->get_accState(self, &value) == S_OK && value.vt == VT_I4) seen.state = value.lVal;
  return seen;
}

TEST_F(FrmPellamarTest, ScreenReadersMeetADialogANamedDotsALinkAndADecoration) {
  IAccessible* window = AccessibleOf(window_->hwnd());
  IAccessible* dots = AccessibleOf(Control("btnSource"));
  IAccessible* link = AccessibleOf(Control("Label2"));
  IAccessible* picture = AccessibleOf(Control("Image1"));
  ASSERT_TRUE(window && dots && link && picture);

  EXPECT_EQ(Look(window).role, ROLE_SYSTEM_DIALOG);
  EXPECT_EQ(Look(window).name, L"Pellamar [Batch Conversion]");
  EXPECT_EQ(Look(dots).name, L"Select a memory card");
  const SeenAccessible seen_link = Look(link);
  EXPECT_EQ(seen_link.role, ROLE_SYSTEM_LINK);
  EXPECT_EQ(seen_link.name, L"Created By Orrinwald");
  EXPECT_FALSE(seen_link.default_action.empty());
  EXPECT_NE(Look(picture).state & STATE_SYSTEM_INVISIBLE, 0);

  VARIANT self;
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  EXPECT_EQ(link->accDoDefaultAction(self), S_OK);
  Pump();
  EXPECT_EQ(desktop_.launches.size(), 1u);
  for (IAccessible* object : {window, dots, link, picture}) object->Release();
}

// The controls that announced a live-region change, in order.
std::vector<HWND> g_announced;

void CALLBACK RecordAnnouncement(HWINEVENTHOOK /*hook*/, DWORD /*event*/, HWND window,
                                 LONG /*object*/, LONG /*child*/, DWORD /*thread*/,
                                 DWORD /*time*/) {
  g_announced.push_back(window);
}

TEST_F(FrmPellamarTest, EveryCountIsAnnouncedToScreenReaders) {
  folder_.Write("a.mcd", testing::RealCard("m1.mcd"));
  folder_.Write("b.mcd", testing::RealCard("m1.mcd"));
  g_announced.clear();
  const HWINEVENTHOOK hook =
      SetWinEventHook(EVENT_OBJECT_LIVEREGIONCHANGED, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr,
                      &RecordAnnouncement, GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(hook, nullptr);
  SetWindowTextW(Control("txtSource"), Widen(folder_.Folder()).c_str());

  Click("btnStart");
  UnhookWinEvent(hook);

  ASSERT_EQ(desktop_.messages.size(), 1u);
  const HWND label = Control("Label3");
  EXPECT_GE(std::count(g_announced.begin(), g_announced.end(), label), 2);
}

TEST_F(FrmPellamarTest, ConvertWithAnEmptyFieldOnlyOpensThePickCardDialog) {
  PressKey(VK_SPACE);  // on "Convert", which has the focus
  ASSERT_EQ(desktop_.requests.size(), 1u);
  const testing::SeenRequest& seen = desktop_.requests[0];
  EXPECT_FALSE(seen.save);
  EXPECT_EQ(seen.record.hwndOwner, window_->hwnd());
  EXPECT_EQ(seen.record.lStructSize, testing::kLayout.size);
  EXPECT_EQ(seen.record.Flags, 0x1004u);
  EXPECT_EQ(seen.title, L"Select a memory card");
  EXPECT_EQ(seen.initial_dir, L"c:\\");
  EXPECT_EQ(seen.filter, L"Bleem Memory Cards (*.mcd)\0*.mcd\0All files (*.*)\0*.*\0\0"s);
  EXPECT_EQ(TextOf(Control("Label3")), kDescription);
  EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(FrmPellamarTest, EnterInTheSourceFieldPressesConvert) {
  SetFocus(Control("txtSource"));
  desktop_.ConfirmNextDialog(L"C:\\cards\\slot1.mcd");
  PressKey(VK_RETURN);
  EXPECT_EQ(desktop_.requests.size(), 1u);
  EXPECT_EQ(TextOf(Control("txtSource")), L"C:\\cards\\slot1.mcd");
  EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(FrmPellamarTest, EnterPressesTheFocusedButtonElseConvertWhereTheFrameShows) {
  folder_.Write("a.mcd", testing::RealCard("m1.mcd"));
  const std::wstring folder = Widen(folder_.Folder());
  const auto is_default = [this](const char* name) {
    return (GetWindowLongPtrW(Control(name), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
  };
  // "..." clicked with the mouse, cancelled, then Enter; then Tab to "...".
  for (const bool by_click : {true, false}) {
    SCOPED_TRACE(by_click ? "clicked" : "by Tab");
    SetWindowTextW(Control("txtSource"), folder.c_str());
    if (by_click) {
      SendMessageW(Control("btnSource"), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
      SendMessageW(Control("btnSource"), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    } else {
      SetFocus(Control("btnStart"));
      PressKey(VK_TAB);
    }
    Pump();
    ASSERT_EQ(GetFocus(), Control("btnSource"));
    EXPECT_TRUE(is_default("btnSource"));
    EXPECT_FALSE(is_default("btnStart"));
    const std::size_t dialogs = desktop_.requests.size();
    PressKey(VK_RETURN);
    EXPECT_EQ(desktop_.requests.size(), dialogs + 1);
    EXPECT_TRUE(desktop_.messages.empty());
  }
  EXPECT_FALSE(folder_.Exists("a.mem"));

  PressKey(VK_TAB);  // into the field
  EXPECT_TRUE(is_default("btnStart"));
  EXPECT_FALSE(is_default("btnSource"));
  SetWindowTextW(Control("txtSource"), folder.c_str());
  PressKey(VK_RETURN);
  ASSERT_EQ(desktop_.messages.size(), 1u);
  EXPECT_TRUE(folder_.Exists("a.mem"));
}

// The first window of the dialog class titled `title` to come up, or nullptr.
HWND WaitForDialog(const wchar_t* title) {
  for (int i = 0; i < 100; ++i) {
    const HWND dialog = FindWindowW(L"#32770", title);
    if (dialog != nullptr && IsWindowVisible(dialog)) return dialog;
    Sleep(50);
  }
  return nullptr;
}

// Answers `dialog` with the button `answer` and waits for it to close.
void Answer(HWND dialog, int answer) {
  PostMessageW(dialog, WM_COMMAND, answer, 0);
  for (int i = 0; i < 100 && IsWindow(dialog); ++i) Sleep(50);
}

std::wstring ItemText(HWND dialog, int item) {
  wchar_t text[512] = {};
  GetDlgItemTextW(dialog, item, text, 512);
  return text;
}

// The system's own save dialog, driven from a second thread as a user
// would: Save on a new name, No to the prompt, Save again, Yes.
constexpr wchar_t kTitle[] = L"Save a card";
constexpr int kMessageText = 0xFFFF;  // the message box's text

struct SeenSaveDialog {
  std::vector<std::wstring> prompts;
  std::wstring name_when_back;
};

DWORD WINAPI DriveSaveDialog(void* data) {
  auto* seen = static_cast<SeenSaveDialog*>(data);
  for (const int answer : {IDNO, IDYES}) {
    const HWND dialog = WaitForDialog(kTitle);
    if (dialog == nullptr) return 1;
    if (answer == IDYES) seen->name_when_back = ItemText(dialog, cmb13);
    Answer(dialog, IDOK);
    const HWND prompt = WaitForDialog(kTitle);
    if (prompt == nullptr) return 1;
    seen->prompts.push_back(ItemText(prompt, kMessageText));
    Answer(prompt, answer);
  }
  return 0;
}

TEST_F(FrmPellamarTest, SystemSaveDialogAsksBeforeCreatingAndComesBackOnNo) {
  SeenSaveDialog seen;
  std::string filter = ui::ConvertFilterString("Cards|*.mem");
  // (Wine's dialog overruns a buffer of its own when it joins a bare name
  // with its spaces to the starting folder, so the name comes with its folder.)
  DialogRequest request = BuildSaveRequest(window_->hwnd(), filter, Narrow(kTitle),
                                           folder_.Folder(), folder_.Folder() + "new.mem");
  const HANDLE driver = CreateThread(nullptr, 0, &DriveSaveDialog, &seen, 0, nullptr);

  const bool confirmed = SystemDesktopCalls().RunSaveDialog(request.record());
  WaitForSingleObject(driver, 10000);
  CloseHandle(driver);

  EXPECT_TRUE(confirmed);
  EXPECT_EQ(request.Result(confirmed), folder_.Folder() + "new.mem");
  ASSERT_EQ(seen.prompts.size(), 2u);
  for (const std::wstring& prompt : seen.prompts) {
    EXPECT_NE(prompt.find(L"new.mem"), std::wstring::npos) << Narrow(prompt);
  }
  EXPECT_NE(seen.name_when_back.find(L"new.mem"), std::wstring::npos);
  EXPECT_FALSE(folder_.Exists("new.mem"));  // asking is not creating
}

// The system's own open dialog, given a card's path in its name box as a
// user types it, and confirmed: the path comes back whole, as long as the
// dialog takes it (Wine's stops short of MAX_PATH characters).
constexpr wchar_t kPickTitle[] = L"Pick a card";

struct TypedPath {
  std::wstring path;
  bool answered = false;
};

DWORD WINAPI TypeIntoOpenDialog(void* data) {
  auto* typed = static_cast<TypedPath*>(data);
  const HWND dialog = WaitForDialog(kPickTitle);
  if (dialog == nullptr) return 1;
  typed->answered = SetDlgItemTextW(dialog, cmb13, typed->path.c_str()) != 0;
  Answer(dialog, IDOK);
  // A dialog that stays, or a complaint over it, is cancelled.
  for (int i = 0; i < 10; ++i) {
    const HWND left = FindWindowW(L"#32770", nullptr);
    if (left == nullptr || !IsWindowVisible(left)) break;
    Answer(left, IDCANCEL);
  }
  return 0;
}

TEST_F(FrmPellamarTest, SystemOpenDialogGivesBackTheWholePathOfADeepCard) {
  const std::wstring folder = Widen(folder_.Folder());
  for (const std::size_t length : {254u, 255u, 259u}) {
    const std::string sub(length - folder.size() - 6, 's');
    ASSERT_TRUE(CreateDirectoryW((LR"(\\?\)" + folder + Widen(sub)).c_str(), nullptr));
    folder_.Write(sub + "\\a.mcd", {1});
    TypedPath typed{folder + Widen(sub) + L"\\a.mcd", false};
    ASSERT_EQ(typed.path.size(), length);
    std::string filter = ui::ConvertFilterString(ui::kSourceFilter);
    DialogRequest request =
        BuildOpenRequest(window_->hwnd(), filter, Narrow(kPickTitle), folder_.Folder());
    const HANDLE driver = CreateThread(nullptr, 0, &TypeIntoOpenDialog, &typed, 0, nullptr);
    const bool confirmed = SystemDesktopCalls().RunOpenDialog(request.record());
    WaitForSingleObject(driver, 10000);
    CloseHandle(driver);
    EXPECT_TRUE(typed.answered) << length;
    EXPECT_EQ(request.Result(confirmed), Narrow(typed.path))
        << length << " " << CommDlgExtendedError();
  }
}

TEST_F(FrmPellamarTest, PickingACardFillsTheFieldAndConvertsNothing) {
  folder_.Write("slot1.mcd", testing::RealCard("m1.mcd"));
  const std::wstring path = Widen(folder_.Folder()) + L"slot \u00e9t\u00e9.mcd";
  desktop_.ConfirmNextDialog(path);
  Click("btnSource");
  EXPECT_EQ(TextOf(Control("txtSource")), path);
  EXPECT_EQ(window_->SourceText(), folder_.Folder() + "slot \xC3\xA9t\xC3\xA9.mcd");
  EXPECT_FALSE(folder_.Exists("slot1.mem"));
  EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(FrmPellamarTest, CancellingThePickCardDialogEmptiesTheField) {
  SetWindowTextW(Control("txtSource"), L"C:\\cards\\a.mcd");
  desktop_.CancelNextDialog();
  Click("btnSource");
  EXPECT_EQ(desktop_.requests.size(), 1u);
  EXPECT_EQ(TextOf(Control("txtSource")), L"");
}

TEST_F(FrmPellamarTest, ConvertConvertsTheFolderCountsAndReportsUnderTheCaption) {
  const Bytes a = testing::RealCard("m1.mcd");
  const Bytes b = testing::RealCard("MemoryCard2-1.mcd");
  const Bytes c = testing::RealCard("blank.mcd");
  folder_.Write("a.mcd", a);
  folder_.Write("b.MCD", b);
  folder_.Write("c.mcd", c);
  folder_.Write("x.bin", a);
  std::wstring label_while_shown;
  desktop_.WhileMessageShows([&] { label_while_shown = TextOf(Control("Label3")); });

  SetWindowTextW(Control("txtSource"), Widen(folder_ / "a.mcd").c_str());
  Click("btnStart");

  ASSERT_EQ(desktop_.messages.size(), 1u);
  const testing::SeenMessage& shown = desktop_.messages[0];
  EXPECT_EQ(shown.text, L"3 Files Processed");
  EXPECT_EQ(shown.title, L"Pellamar [Batch Conversion]");
  EXPECT_EQ(shown.style, static_cast<UINT>(MB_ICONINFORMATION));
  EXPECT_EQ(shown.owner, window_->hwnd());
  EXPECT_EQ(label_while_shown, L"3 Processed.");
  EXPECT_EQ(TextOf(Control("Label3")), kDescription);
  EXPECT_TRUE(desktop_.requests.empty());

  const TargetHeader header = BuildTargetHeader();
  const std::vector<std::pair<std::string, Bytes>> targets{
      {"a.mem", a}, {"b.mem", b}, {"c.mem", c}};
  for (const auto& [name, card] : targets) {
    SCOPED_TRACE(name);
    Bytes expected(header.begin(), header.end());
    expected.insert(expected.end(), card.begin(), card.end());
    EXPECT_EQ(folder_.Read(name), expected);
  }
  EXPECT_FALSE(folder_.Exists("x.bin.mem"));
  EXPECT_FALSE(folder_.Exists("x.mem"));
}

TEST_F(FrmPellamarTest, KeysTypedDuringARunDoNotAnswerItsMessageBox) {
  folder_.Write("a.mcd", testing::RealCard("m1.mcd"));
  bool key_waiting = true;
  desktop_.WhileMessageShows([&] {
    MSG queued;
    key_waiting = PeekMessageW(&queued, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE) != 0;
  });
  SetWindowTextW(Control("txtSource"), Widen(folder_.Folder()).c_str());
  // Enter typed while the run works waits in the queue behind it.
  PostMessageW(Control("btnStart"), WM_KEYDOWN, VK_RETURN, 0);
  SendMessageW(Control("btnStart"), BM_CLICK, 0, 0);

  ASSERT_EQ(desktop_.messages.size(), 1u);
  EXPECT_EQ(desktop_.messages[0].text, L"1 Files Processed");
  EXPECT_FALSE(key_waiting);
}

TEST_F(FrmPellamarTest, NoHandlerStartsWhileTheDialogOrTheMessageBoxIsUp) {
  folder_.Write("a.mcd", testing::RealCard("m1.mcd"));
  // Once while the dialog is up, once while the message box is.
  const auto click_everything = [this, clicked = false]() mutable {
    if (std::exchange(clicked, true)) return;
    SendMessageW(Control("btnStart"), BM_CLICK, 0, 0);
    SendMessageW(Control("btnSource"), BM_CLICK, 0, 0);
    ClickLabel("Label2");
  };
  desktop_.WhileDialogShows(click_everything);
  desktop_.WhileMessageShows(click_everything);
  SetWindowTextW(Control("txtSource"), Widen(folder_.Folder()).c_str());

  Click("btnSource");  // cancelled, which empties the field
  SetWindowTextW(Control("txtSource"), Widen(folder_.Folder()).c_str());
  Click("btnStart");

  EXPECT_EQ(desktop_.requests.size(), 1u);
  ASSERT_EQ(desktop_.messages.size(), 1u);
  EXPECT_EQ(desktop_.messages[0].text, L"1 Files Processed");
  EXPECT_TRUE(desktop_.launches.empty());
}

TEST_F(FrmPellamarTest, DropPutsTheFirstItemIntoTheFieldAFolderWithItsSeparator) {
  folder_.Write("a.mcd", testing::RealCard("m1.mcd"));
  folder_.Write("b.mcd", testing::RealCard("m1.mcd"));
  const std::wstring folder = Widen(folder_.Folder());  // ends in "\\"
  const std::wstring bare = folder.substr(0, folder.size() - 1);
  // Folders that only the long form of their paths names: one whose name
  // ends in a dot, and one deeper than MAX_PATH characters.
  const std::wstring dot = folder + L"dot.";
  const std::wstring deep = folder + std::wstring(150, L'd') + L"\\" + std::wstring(150, L'e');
  for (const std::wstring& made : {dot, folder + std::wstring(150, L'd'), deep}) {
    ASSERT_TRUE(CreateDirectoryW((LR"(\\?\)" + made).c_str(), nullptr));
  }
  EXPECT_NE(GetWindowLongPtrW(window_->hwnd(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
  const std::vector<std::pair<std::vector<std::wstring>, std::wstring>> drops{
      {{folder + L"a.mcd"}, folder + L"a.mcd"},
      {{bare}, folder},
      {{folder + L"b.mcd", folder + L"a.mcd"}, folder + L"b.mcd"},
      {{dot}, dot + L"\\"},
      {{deep}, deep + L"\\"},
  };
  for (const auto& [items, field] : drops) {
    SetWindowTextW(Control("txtSource"), L"C:\\old\\x.mcd");
    SendMessageW(window_->hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(DropOf(items)), 0);
    EXPECT_EQ(TextOf(Control("txtSource")), field);
  }
  EXPECT_FALSE(folder_.Exists("a.mem"));
  EXPECT_TRUE(desktop_.messages.empty());
  EXPECT_TRUE(desktop_.requests.empty());
}

// The room `text` takes in the message font, wrapped at word boundaries as
// a message box wraps it, against the work area of the screen.
bool FitsTheScreen(const std::wstring& text) {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  const HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  const HDC dc = CreateCompatibleDC(nullptr);
  const HGDIOBJ old = SelectObject(dc, font);
  RECT needed{0, 0, work.right - work.left, 0};
  DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(font);
  return needed.right <= work.right - work.left && needed.bottom <= work.bottom - work.top;
}

TEST_F(FrmPellamarTest, TheMessageFitsTheScreenWhateverTheFolderIsCalled) {
  std::wstring words;
  for (int i = 0; i < 1000; ++i) words += L"a few words ";
  for (const std::wstring& name : {std::wstring(3000, L'x'), words}) {
    desktop_.messages.clear();
    const std::wstring folder = Widen(folder_.Folder()) + L"missing\\" + name + L"\\";
    SetWindowTextW(Control("txtSource"), folder.c_str());
    Click("btnStart");
    ASSERT_EQ(desktop_.messages.size(), 1u);
    const std::wstring& text = desktop_.messages[0].text;
    EXPECT_EQ(text.substr(0, text.find(L'\n')), L"0 Files Processed");
    EXPECT_TRUE(FitsTheScreen(text)) << text.size() << " characters";
  }
}

TEST_F(FrmPellamarTest, CreditLabelOpensTheHomePageThroughTheShellAndChangesNothing) {
  SetWindowTextW(Control("txtSource"), L"C:\\cards\\");
  ClickLabel("Label2");
  ASSERT_EQ(desktop_.launches.size(), 1u);
  const testing::SeenLaunch& launch = desktop_.launches[0];
  EXPECT_EQ(launch.owner, nullptr);
  EXPECT_EQ(launch.operation, std::nullopt);
  EXPECT_EQ(launch.file, Widen(ui::HomePage()));
  EXPECT_EQ(launch.parameters, std::nullopt);
  EXPECT_EQ(launch.directory, L"C:\\");
  EXPECT_EQ(launch.show, SW_SHOWNORMAL);
  EXPECT_EQ(TextOf(Control("txtSource")), L"C:\\cards\\");
  EXPECT_EQ(TextOf(Control("Label3")), kDescription);
  EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(FrmPellamarTest, CreditLabelIsSmallUnderlinedBlueArialWithTheHomePageAsTip) {
  const HWND label = Control("Label2");
  const LOGFONTW font = FontOf(label);
  EXPECT_STREQ(font.lfFaceName, L"Arial");
  EXPECT_EQ(font.lfHeight, -MulDiv(675, static_cast<int>(dpi_), 7200));
  EXPECT_EQ(font.lfWeight, 400);
  EXPECT_TRUE(font.lfUnderline);
  EXPECT_FALSE(font.lfItalic);
  EXPECT_FALSE(font.lfStrikeOut);
  EXPECT_EQ(font.lfCharSet, ANSI_CHARSET);
  EXPECT_NE(GetWindowLongPtrW(label, GWL_STYLE) & SS_NOTIFY, 0);

  const HDC dc = CreateCompatibleDC(nullptr);
  SendMessageW(window_->hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(label));
  EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 255));
  SetTextColor(dc, RGB(1, 2, 3));
  SendMessageW(window_->hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(Control("Label1")));
  EXPECT_NE(GetTextColor(dc), RGB(0, 0, 255));
  DeleteDC(dc);

  wchar_t tip[256] = {};
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.hwnd = window_->hwnd();
  tool.uId = reinterpret_cast<UINT_PTR>(label);
  tool.lpszText = tip;
  SendMessageW(window_->ToolTip(), TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
  EXPECT_EQ(std::wstring(tip), Widen(ui::HomePage()));
}

// The colour at (x, y) after drawing `list`'s picture over `background`.
COLORREF DrawnPixel(HIMAGELIST list, COLORREF background, int x, int y) {
  int width = 0;
  int height = 0;
  ImageList_GetIconSize(list, &width, &height);
  const HDC screen = GetDC(nullptr);
  const HDC dc = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  const HGDIOBJ old = SelectObject(dc, bitmap);
  const HBRUSH brush = CreateSolidBrush(background);
  const RECT all{0, 0, width, height};
  FillRect(dc, &all, brush);
  ImageList_Draw(list, 0, dc, 0, 0, ILD_NORMAL);
  const COLORREF pixel = GetPixel(dc, x, y);
  SelectObject(dc, old);
  DeleteObject(brush);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return pixel;
}

// A pixel of the picture scaled to `dpi` that repeats the source pixel
// `source`: the one under the source pixel's centre. (Not MulDiv, which
// rounds that centre up to the next pixel.)
int Scaled(int source, UINT dpi) { return (2 * source + 1) * static_cast<int>(dpi) / 192; }

TEST_F(FrmPellamarTest, ConvertShowsItsPictureAboveTheCaptionWithTransparency) {
  BUTTON_IMAGELIST picture{};
  ASSERT_TRUE(
      SendMessageW(Control("btnStart"), BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&picture)));
  ASSERT_NE(picture.himl, nullptr);
  EXPECT_EQ(picture.uAlign, static_cast<UINT>(BUTTON_IMAGELIST_ALIGN_TOP));
  int width = 0;
  int height = 0;
  ImageList_GetIconSize(picture.himl, &width, &height);
  EXPECT_EQ(width, ScaleForDpi(43, dpi_));
  EXPECT_EQ(height, ScaleForDpi(44, dpi_));
  // The corner is the GIF's transparent colour; the monitor is cyan.
  const COLORREF magenta = RGB(255, 0, 255);
  EXPECT_EQ(DrawnPixel(picture.himl, magenta, 0, 0), magenta);
  EXPECT_EQ(DrawnPixel(picture.himl, magenta, Scaled(21, dpi_), Scaled(22, dpi_)),
            RGB(40, 200, 232))
      << "at " << dpi_ << " DPI";
}

TEST_F(FrmPellamarTest, Image1ShowsItsPictureOverTheWindowBackground) {
  const HWND image = Control("Image1");
  RedrawWindow(image, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  const HDC dc = GetDC(image);
  EXPECT_EQ(GetPixel(dc, 0, 0), GetSysColor(COLOR_BTNFACE));                      // transparent
  EXPECT_EQ(GetPixel(dc, Scaled(18, dpi_), Scaled(17, dpi_)), RGB(255, 216, 0));  // yellow edge
  ReleaseDC(image, dc);
}

TEST_F(FrmPellamarTest, MovingToAMonitorOfDoubleDpiScalesEverything) {
  const UINT dpi = 2 * dpi_;
  RECT suggested{10, 10, 10 + 700, 10 + 400};
  SendMessageW(window_->hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
               reinterpret_cast<LPARAM>(&suggested));
  dpi_ = dpi;
  RECT client;
  GetClientRect(window_->hwnd(), &client);
  EXPECT_EQ(client.right, ScaleForDpi(285, dpi));
  EXPECT_EQ(client.bottom, ScaleForDpi(114, dpi));
  const RECT source = PlaceOf(Control("txtSource"));
  EXPECT_EQ(source.left, Pixels(690));
  EXPECT_EQ(source.right - source.left, Pixels(3060));
  EXPECT_EQ(FontOf(Control("Label2")).lfHeight, -MulDiv(675, static_cast<int>(dpi), 7200));
  EXPECT_EQ(FontOf(Control("Label1")).lfHeight, -MulDiv(8, static_cast<int>(dpi), 72));
}

}  // namespace
}  // namespace pellamar::win32

int main(int argc, char** argv) {
  // As the program does: COM for the picture decoder, and the common controls.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}
