#include "ui/qt/desktop_calls.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <filesystem>
#include <memory>
#include <system_error>

#include "ui/qt/file_dialog.h"

namespace pellamar::ui {
namespace {

// Asks, over `owner`, whether to create `file`, which does not exist. (Qt's
// file dialogs, its own and the native ones, ask only before replacing.)
bool ConfirmCreate(QWidget* owner, const QString& title, const QUrl& file) {
  const QString question = QObject::tr("%1 does not exist.\nDo you want to create it?");
  return QMessageBox::warning(owner, title, question.arg(file.fileName()),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) == QMessageBox::Yes;
}

// True when the local file `url` names exists, named byte for byte.
bool Exists(const QUrl& url) {
  std::error_code error;
  return std::filesystem::exists(LocalPathOf(url).value_or(std::string()), error);
}

std::unique_ptr<QFileDialog> MakeDialog(const FileDialogRequest& request, bool qt_dialog) {
  auto dialog = std::make_unique<QFileDialog>(request.owner);
  dialog->setOption(QFileDialog::DontUseNativeDialog, qt_dialog);
  // Qt's own dialog shows each description as the caller wrote it.
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  dialog->setWindowTitle(request.title);
  dialog->setDirectory(request.folder);
  dialog->setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog->setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!request.name_filters.isEmpty()) {
    dialog->setNameFilters(request.name_filters);
    dialog->selectNameFilter(request.name_filters.first());
  }
  if (!request.file_name.isEmpty()) dialog->selectFile(request.file_name);
  return dialog;
}

}  // namespace

// A save dialog asks before it creates a file once it has closed: a native
// dialog cannot be kept open from here, and a prompt over it would open
// behind it. On No it comes back with the name the user gave, as if it had
// stayed open, whatever dialog it is.
QUrl QtDesktopCalls::RunFileDialog(const FileDialogRequest& request) {
  const std::unique_ptr<QFileDialog> dialog = MakeDialog(request, qt_dialogs_);
  while (dialog->exec() == QDialog::Accepted) {
    const QUrl chosen = dialog->selectedUrls().value(0);
    if (!request.save || chosen.isEmpty() || Exists(chosen)) return chosen;
    if (ConfirmCreate(request.owner, request.title, chosen)) return chosen;
    dialog->selectUrl(chosen);
  }
  return {};
}

void QtDesktopCalls::ShowMessage(QWidget& owner, const QString& text, QMessageBox::Icon icon,
                                 const QString& title) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, &owner);
  box.setWindowModality(Qt::WindowModal);
  box.exec();
}

void QtDesktopCalls::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

DesktopCalls& SystemDesktopCalls() {
  static QtDesktopCalls calls;
  return calls;
}

}  // namespace pellamar::ui
