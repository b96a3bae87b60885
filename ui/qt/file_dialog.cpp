#include "ui/qt/file_dialog.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <deque>
#include <memory>

#include "ui/common/filter_string.h"

namespace pellamar::ui {
namespace {

// The longest proposed file name a save dialog takes, in characters.
constexpr int kMaxProposedName = 254;

struct SeamState {
  std::deque<QString> next_file_names;
  FileDialogRequest last_answered;
  bool use_qt_dialog = false;
};

SeamState& Seam() {
  static SeamState state;
  return state;
}

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

QString QtNameFilter(const FileTypeFilter& entry) {
  QString description = QString::fromStdString(entry.description);
  const QString pattern = QString::fromStdString(entry.pattern);
  const QString own_ending = "(" + pattern + ")";
  if (description.endsWith(own_ending)) {
    description.chop(own_ending.size());
  } else {
    description += ' ';
  }
  return description + "(" + QString(pattern).replace(';', ' ') + ")";
}

std::unique_ptr<QFileDialog> MakeDialog(const FileDialogRequest& request) {
  std::unique_ptr<QFileDialog> dialog = request.save
                                            ? std::make_unique<SaveFileDialog>(request.owner)
                                            : std::make_unique<QFileDialog>(request.owner);
  dialog->setOption(QFileDialog::DontUseNativeDialog, Seam().use_qt_dialog);
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

// The full path the user confirmed, or "" on cancel.
QString Run(const FileDialogRequest& request) {
  SeamState& seam = Seam();
  if (!seam.next_file_names.empty()) {
    seam.last_answered = request;
    const QString answer = seam.next_file_names.front();
    seam.next_file_names.pop_front();
    return answer;
  }
  const std::unique_ptr<QFileDialog> dialog = MakeDialog(request);
  if (dialog->exec() != QDialog::Accepted) return {};
  return dialog->selectedFiles().value(0);
}

// Reads the caller's arguments into a request and converts `filter` in place.
FileDialogRequest RequestFor(QWidget& owner, std::string& filter, const std::string& title,
                             const std::string& init_dir) {
  FileDialogRequest request;
  request.owner = &owner;
  request.title = QString::fromStdString(title);
  request.folder = LocalFolderFor(init_dir);
  request.name_filters = QtNameFilters(filter);
  filter = ConvertFilterString(filter);
  return request;
}

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

QStringList QtNameFilters(const std::string& filter) {
  QStringList filters;
  for (const FileTypeFilter& entry : SplitFilterString(filter)) filters << QtNameFilter(entry);
  return filters;
}

QString LocalFolderFor(const std::string& init_dir) {
  static const QRegularExpression drive_path(R"(^[A-Za-z]:(.*)$)");
  const QString folder = QString::fromStdString(init_dir);
  const QRegularExpressionMatch match = drive_path.match(folder);
  if (!match.hasMatch()) return folder;
  const QString below_drive = match.captured(1).replace('\\', '/');
  return QDir::cleanPath(QDir::homePath() + '/' + below_drive);
}

std::string OpenDialog(QWidget& Form1, std::string& Filter, const std::string& Title,
                       const std::string& InitDir) {
  return LocalPath(Run(RequestFor(Form1, Filter, Title, InitDir)));
}

std::string SaveDialog(QWidget& Form1, std::string& Filter, const std::string& Title,
                       const std::string& InitDir, const std::string& DefaultFilename) {
  FileDialogRequest request = RequestFor(Form1, Filter, Title, InitDir);
  request.save = true;
  request.file_name = QString::fromStdString(DefaultFilename).left(kMaxProposedName);
  return LocalPath(Run(request));
}

void FileDialogSeam::SetNextFileName(const QString& path) {
  Seam().next_file_names.push_back(path);
}

FileDialogRequest FileDialogSeam::LastAnsweredRequest() { return Seam().last_answered; }

void FileDialogSeam::UseQtDialog(bool on) { Seam().use_qt_dialog = on; }

void FileDialogSeam::Reset() { Seam() = SeamState(); }

}  // namespace pellamar::ui
