// Drives a running Pellamar.exe as a user would: finds its window by the
// caption, types a folder path into the source field, presses "Convert",
// reads the message box that the run ends with and presses its OK, then
// closes the window. While the run or its modal message box may be busy,
// only posted messages reach the program, so the driver never waits on
// them; sent messages go to a window that is starting or idle.
//
// Usage: e2e_driver <source text>
// Prints the message box's text and the description label after the run,
// one per line, and exits 0; exits 1 when a step times out.
#include <windows.h>

#include <cstdio>
#include <string>

#include "ui/win32/control_ids.h"

namespace {

using pellamar::win32::kIdBtnStart;
using pellamar::win32::kIdLabel3;
using pellamar::win32::kIdTxtSource;

constexpr wchar_t kCaption[] = L"Pellamar [Batch Conversion]";
constexpr DWORD kStepTimeoutMs = 60000;
constexpr DWORD kPollMs = 50;

template <typename Found>
bool WaitFor(Found found) {
  for (DWORD waited = 0; waited < kStepTimeoutMs; waited += kPollMs) {
    if (found()) return true;
    Sleep(kPollMs);
  }
  return false;
}

// Text of a window of another process; WM_GETTEXT is carried across. The
// call waits for the program however busy it is, up to the step's timeout
// (SMTO_ABORTIFHUNG would give up at once on a program that is still
// starting and has not looked at its messages for a few seconds).
std::wstring TextOf(HWND window) {
  wchar_t text[4096] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                      kStepTimeoutMs, &ignored);
  return text;
}

bool SetTextOf(HWND window, const wchar_t* text) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                             kStepTimeoutMs, &ignored) != 0;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[32] = {};
  GetClassNameW(window, name, 32);
  return name;
}

struct BoxSearch {
  HWND owner;
  HWND box;
};

// The run's message box has the window's caption as its title, which tells
// it from the pick-card dialog, a window of the same class and owner.
BOOL CALLBACK FindMessageBox(HWND window, LPARAM search_address) {
  auto* search = reinterpret_cast<BoxSearch*>(search_address);
  if (ClassOf(window) != L"#32770") return TRUE;
  if (GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window)) return TRUE;
  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);  // a window's own title, read without a message
  if (std::wstring(title) != kCaption) return TRUE;
  search->box = window;
  return FALSE;
}

// The visible message box owned by `owner`, or nullptr.
HWND MessageBoxOf(HWND owner) {
  BoxSearch search{owner, nullptr};
  EnumWindows(&FindMessageBox, reinterpret_cast<LPARAM>(&search));
  return search.box;
}

BOOL CALLBACK FindText(HWND child, LPARAM text_address) {
  auto* text = reinterpret_cast<std::wstring*>(text_address);
  if (ClassOf(child) != L"Static") return TRUE;
  *text = TextOf(child);
  return text->empty();  // the icon is a static without text
}

// The message box's text: that of its one static control with text (its
// identifier differs between Windows versions).
std::wstring MessageTextOf(HWND box) {
  std::wstring text;
  EnumChildWindows(box, &FindText, reinterpret_cast<LPARAM>(&text));
  return text;
}

void PrintLine(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), n, nullptr, nullptr);
  std::printf("%s\n", utf8.c_str());
}

int Fail(const char* step) {
  std::fprintf(stderr, "e2e_driver: timed out %s\n", step);
  return 1;
}

// Ends the program of `window` after a failed step, so that no window of it
// stays behind, waiting for a user, in the Wine prefix.
int FailAndEnd(HWND window, const char* step) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, process_id);
  if (process != nullptr) {
    TerminateProcess(process, 1);
    CloseHandle(process);
  }
  return Fail(step);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: e2e_driver <source text>\n");
    return 2;
  }
  // The window is found by its caption as soon as it exists; its controls
  // follow a moment later.
  HWND window = nullptr;
  HWND source = nullptr;
  HWND start = nullptr;
  if (!WaitFor([&] {
        window = FindWindowW(nullptr, kCaption);
        source = GetDlgItem(window, kIdTxtSource);
        start = GetDlgItem(window, kIdBtnStart);
        return source != nullptr && start != nullptr;
      })) {
    return Fail("waiting for the window and its controls");
  }

  // The path is in the field, as a user would see it, before "Convert".
  const std::wstring path = argv[1];
  if (!WaitFor([&] { return SetTextOf(source, path.c_str()) && TextOf(source) == path; })) {
    return FailAndEnd(window, "putting the path into the source field");
  }
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(kIdBtnStart, BN_CLICKED),
               reinterpret_cast<LPARAM>(start));

  HWND box = nullptr;
  if (!WaitFor([&] { return (box = MessageBoxOf(window)) != nullptr; })) {
    return FailAndEnd(window, "waiting for the message box");
  }
  const std::wstring message = MessageTextOf(box);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  if (!WaitFor([&] { return !IsWindow(box); })) {
    return FailAndEnd(window, "waiting for the box to close");
  }
  // The run ends by putting the description back; then the window is idle.
  const HWND label3 = GetDlgItem(window, kIdLabel3);
  std::wstring description;
  WaitFor([&] { return (description = TextOf(label3)).rfind(L"This tool", 0) == 0; });

  PrintLine(message);
  PrintLine(description);
  PostMessageW(window, WM_CLOSE, 0, 0);
  return 0;
}
