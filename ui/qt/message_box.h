// The main window's message box: modal to the window, with an OK button.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>
#include <vector>

namespace pellamar::ui {

// Shows `text` under `title` with `icon` and an OK button, modal to `owner`,
// and returns when the user dismisses it.
void ShowMessage(QWidget& owner, const QString& text, QMessageBox::Icon icon, const QString& title);

// A message box as ShowMessage was asked for it.
struct MessageRecord {
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title;
};

// Test seam. Answers queued here are given instead of showing a box.
class MessageBoxSeam {
 public:
  // The next box is recorded and answered with OK without being shown;
  // `while_up` runs where the box would wait for the user.
  static void AnswerNext(std::function<void()> while_up = {});
  // The boxes answered from the queue, oldest first.
  static const std::vector<MessageRecord>& Answered();
  // Forgets queued answers and recorded boxes.
  static void Reset();
};

}  // namespace pellamar::ui
