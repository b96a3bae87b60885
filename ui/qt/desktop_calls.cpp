#include "ui/qt/desktop_calls.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <memory>

namespace pellamar::ui {
namespace {

// Qt's file dialog has no prompt before creating a file; this one asks.
class SaveFileDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;

 protected:
  void accept() override {
    const QString file = selectedFiles().value(0);
    if (!file.isEmpty() && !QFileInfo::exists(file) && !ConfirmCreate(file)) return;
    QFileDialog::accept();  // asks in turn before replacing an existing file
  }

 private:
  bool ConfirmCreate(const QString& file) {
    const QString question = tr("%1 does not exist.\nDo you want to create it?");
    return QMessageBox::warning(this, windowTitle(), question.arg(QFileInfo(file).fileName()),
                                QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No) == QMessageBox::Yes;
  }
};

std::unique_ptr<QFileDialog> MakeDialog(const FileDialogRequest& request, bool qt_dialog) {
  std::unique_ptr<QFileDialog> dialog = request.save
                                            ? std::make_unique<SaveFileDialog>(request.owner)
                                            : std::make_unique<QFileDialog>(request.owner);
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

QUrl QtDesktopCalls::RunFileDialog(const FileDialogRequest& request) {
  const std::unique_ptr<QFileDialog> dialog = MakeDialog(request, qt_dialogs_);
  if (dialog->exec() != QDialog::Accepted) return {};
  return dialog->selectedUrls().value(0);
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
