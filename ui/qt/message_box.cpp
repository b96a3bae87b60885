#include "ui/qt/message_box.h"

#include <deque>

namespace pellamar::ui {
namespace {

struct SeamState {
  std::deque<std::function<void()>> answers;
  std::vector<MessageRecord> answered;
};

SeamState& Seam() {
  static SeamState state;
  return state;
}

// Answers from the seam's queue; false when nothing is queued.
bool AnswerFromSeam(const MessageRecord& record) {
  SeamState& seam = Seam();
  if (seam.answers.empty()) return false;
  const std::function<void()> while_up = seam.answers.front();
  seam.answers.pop_front();
  seam.answered.push_back(record);
  if (while_up) while_up();
  return true;
}

}  // namespace

void ShowMessage(QWidget& owner, const QString& text, QMessageBox::Icon icon,
                 const QString& title) {
  if (AnswerFromSeam({text, icon, title})) return;
  QMessageBox box(icon, title, text, QMessageBox::Ok, &owner);
  box.setWindowModality(Qt::WindowModal);
  box.exec();
}

void MessageBoxSeam::AnswerNext(std::function<void()> while_up) {
  Seam().answers.push_back(std::move(while_up));
}

const std::vector<MessageRecord>& MessageBoxSeam::Answered() { return Seam().answered; }

void MessageBoxSeam::Reset() { Seam() = SeamState(); }

}  // namespace pellamar::ui
