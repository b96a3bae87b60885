// Desktop calls for tests: dialogs and message boxes answer from a queue,
// as if a user did, and are shown for real when nothing is queued; the
// browser is never started, its addresses are recorded.
#pragma once

#include <QList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "ui/qt/desktop_calls.h"

namespace pellamar::testing {

// A message box as the window asked for it.
struct SeenMessage {
  QWidget* owner = nullptr;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title;
};

class FakeDesktopCalls : public ui::DesktopCalls {
 public:
  // The next dialog returns `path` (or the file `file` names) without being
  // shown, or is cancelled.
  void ConfirmNextDialog(const QString& path) { answers_.push_back(QUrl::fromLocalFile(path)); }
  void ConfirmNextDialog(const QUrl& file) { answers_.push_back(file); }
  void CancelNextDialog() { answers_.push_back(std::nullopt); }
  // The next message box is answered with OK without being shown;
  // `while_up` runs where the box would wait for the user.
  void AnswerNextMessage(std::function<void()> while_up = {}) {
    message_answers_.push_back(std::move(while_up));
  }

  QUrl RunFileDialog(const ui::FileDialogRequest& request) override {
    requests.push_back(request);
    if (answers_.empty()) return real_.RunFileDialog(request);
    const std::optional<QUrl> answer = answers_.front();
    answers_.pop_front();
    return answer.value_or(QUrl());
  }

  void ShowMessage(QWidget& owner, const QString& text, QMessageBox::Icon icon,
                   const QString& title) override {
    messages.push_back({&owner, text, icon, title});
    if (message_answers_.empty()) return real_.ShowMessage(owner, text, icon, title);
    const std::function<void()> while_up = message_answers_.front();
    message_answers_.pop_front();
    if (while_up) while_up();
  }

  void OpenUrl(const QUrl& url) override { launches.append(url); }

  std::vector<ui::FileDialogRequest> requests;  // every dialog, oldest first
  std::vector<SeenMessage> messages;            // every message box
  QList<QUrl> launches;

 private:
  ui::QtDesktopCalls real_;
  std::deque<std::optional<QUrl>> answers_;
  std::deque<std::function<void()>> message_answers_;
};

}  // namespace pellamar::testing
