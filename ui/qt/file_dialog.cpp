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

// `pattern` as every dialog Qt may use applies it: GTK's chooser and the
// desktop portal match glob patterns case-sensitively, so each letter
// matches either case, as the run's listing does ("*.mcd" offers B.MCD);
// "*.*" is every file, one without a dot in its name too. A pattern that
// brackets characters itself is taken as it is.
QString AnyCasePattern(const QString& pattern) {
  if (pattern == "*.*") return "*";
  if (pattern.contains('[')) return pattern;
  QString any_case;
  for (const QChar c : pattern) {
    if (c.toLower() == c.toUpper()) {
      any_case += c;
    } else {
      any_case += QString('[') + c.toLower() + c.toUpper() + ']';
    }
  }
  return any_case;
}

QString QtNameFilter(const FileTypeFilter& entry) {
  QStringList patterns;
  const QString all = QString::fromStdString(entry.pattern);
  for (const QString& pattern : all.split(';', Qt::SkipEmptyParts)) {
    patterns << AnyCasePattern(pattern);
  }
  return QString::fromStdString(entry.description) + " (" + patterns.join(' ') + ")";
}

std::unique_ptr<QFileDialog> MakeDialog(const FileDialogRequest& request) {
  std::unique_ptr<QFileDialog> dialog = request.save
                                            ? std::make_unique<SaveFileDialog>(request.owner)
                                            : std::make_unique<QFileDialog>(request.owner);
  dialog->setOption(QFileDialog::DontUseNativeDialog, Seam().use_qt_dialog);
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
