// Desktop calls for tests: dialogs answer from a queue, message boxes and
// shell launches are recorded instead of shown or started.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/win32/desktop_calls.h"

namespace pellamar::testing {

// A dialog request as the dialog saw it when it was called.
struct SeenRequest {
  bool save = false;
  OPENFILENAMEW record{};
  std::wstring filter;  // up to and including the list's closing double NUL
  std::wstring title;
  std::wstring initial_dir;
  std::wstring file;  // the whole file buffer, nMaxFile characters
};

struct SeenMessage {
  HWND owner = nullptr;
  std::wstring text;
  std::wstring title;
  UINT style = 0;
};

struct SeenLaunch {
  HWND owner = nullptr;
  std::optional<std::wstring> operation, file, parameters, directory;
  int show = 0;
};

class FakeDesktopCalls : public win32::DesktopCalls {
 public:
  // The next dialog confirms `path` (written NUL-terminated into the file
  // buffer); without a queued answer a dialog is cancelled.
  void ConfirmNextDialog(const std::wstring& path) { answers_.push_back(path); }
  void CancelNextDialog() { answers_.push_back(std::nullopt); }
  // Runs while the next message boxes are up, as if the user looked at the
  // window before pressing OK.
  void WhileMessageShows(std::function<void()> look) { look_ = std::move(look); }
  // Runs while the next dialogs are up, before they answer.
  void WhileDialogShows(std::function<void()> act) { dialog_act_ = std::move(act); }

  bool RunOpenDialog(OPENFILENAMEW* request) override { return Answer(*request, false); }
  bool RunSaveDialog(OPENFILENAMEW* request) override { return Answer(*request, true); }

  void ShowMessage(HWND owner, const wchar_t* text, const wchar_t* title, UINT style) override {
    messages.push_back({owner, text, title, style});
    if (look_) look_();
  }

  void ShellOpen(HWND owner, const wchar_t* operation, const wchar_t* file,
                 const wchar_t* parameters, const wchar_t* directory, int show) override {
    launches.push_back(
        {owner, Text(operation), Text(file), Text(parameters), Text(directory), show});
  }

  std::vector<SeenRequest> requests;
  std::vector<SeenMessage> messages;
  std::vector<SeenLaunch> launches;

 private:
  static std::optional<std::wstring> Text(const wchar_t* text) {
    if (text == nullptr) return std::nullopt;
    return std::wstring(text);
  }

  static std::wstring FilterList(const wchar_t* filter) {
    if (filter == nullptr) return {};
    const wchar_t* end = filter;
    while (end[0] != L'\0' || end[1] != L'\0') ++end;
    return std::wstring(filter, end + 2);
  }

  bool Answer(OPENFILENAMEW& request, bool save) {
    requests.push_back({save, request, FilterList(request.lpstrFilter),
                        request.lpstrTitle ? request.lpstrTitle : L"",
                        request.lpstrInitialDir ? request.lpstrInitialDir : L"",
                        std::wstring(request.lpstrFile, request.nMaxFile)});
    if (dialog_act_) dialog_act_();
    if (answers_.empty() || !answers_.front()) {
      if (!answers_.empty()) answers_.pop_front();
      return false;
    }
    const std::wstring path = *answers_.front();
    answers_.pop_front();
    if (path.size() >= request.nMaxFile) return false;  // does not fit: the dialog fails
    std::memcpy(request.lpstrFile, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return true;
  }

  std::deque<std::optional<std::wstring>> answers_;
  std::function<void()> look_;
  std::function<void()> dialog_act_;
};

}  // namespace pellamar::testing
